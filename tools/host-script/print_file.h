/*
 * Print files as a host hands them to the module: printer files (".PRN", rendered by a disc
 * printer's driver, recognised by their first 32 bytes) in every format the module knows, label
 * designs of the label application (".STD"), and broken files. The generator writes what the
 * module reads (the header bytes, the per-disc ink use and low-ink levels, the "Tessik 6"
 * trailer) and fills the rest with printer data of a fixed pattern.
 *
 * Plain C without Win32: the one generator of rovane-sim (sim/harness/print_files), of its
 * `host` command's and of the Windows host's `printfile` lines.
 *
 * Printer file header (offsets from the start):
 *     0      0x1B in every format
 *     1, 2   format bytes: 00 FF "Pellan IV", 03 FF "Pellan PRO", 01 02 + "KS10" at 3..6
 *            "Optical Disc Printer", 05 1E "Varrow", 07 00 the second "Varrow" format,
 *            08 0E "Tessik 6"
 *     8..10  1B 00 FE ("Pellan IV"), 1B 03 FE ("Pellan PRO")
 *   "Pellan IV":  4 cartridge byte (0 black, 1 colour, 2 or 3 colour and black); 11-13, 14-16,
 *                 17-19 use of inks 1, 2, 3 (black only: 11-13 the black use); 20-23 low level
 *   "Pellan PRO": 11-13, 14-16, 17-19 colour use; 20-23 colour low level; 24-26 black use;
 *                 27-30 black low level
 *   "Tessik 6":   6-9 low level of the first cartridge, 10-13 of the second; the last 24 bytes
 *                 1B 08 .. with the use of counters 1-3 at 4-6, 7-9, 10-12 and of 4, 5, 6 at
 *                 13-15, 16-18, 19-21
 * Use figures are 24-bit, levels 32-bit, most significant byte first.
 */
#ifndef ROVANE_PRINT_FILE_H
#define ROVANE_PRINT_FILE_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef enum PfKind {
    PF_PELLAN_IV,             /* type 0 */
    PF_PELLAN_PRO,            /* type 1 */
    PF_OPTICAL_DISC_PRINTER,  /* type 2 */
    PF_VARROW,                /* type 3 */
    PF_VARROW_2,              /* type 4 */
    PF_TESSIK_6,              /* type 5 */
    PF_LABEL,                 /* a ".STD" label design (text) */
    PF_SHORT,                 /* 31 bytes of a "Pellan IV" header: too short to be a printer file */
    PF_WRONG,                 /* 4096 bytes whose header matches no format */
    PF_KIND_COUNT
} PfKind;

#define PF_INK_COUNTERS 6

typedef struct PfRecipe {
    PfKind kind;
    size_t size;                       /* printer files: bytes in all (at least what the format needs) */
    uint8_t cartridge;                 /* "Pellan IV": the cartridge byte the file was made for */
    uint32_t use[PF_INK_COUNTERS];     /* per-disc use of counters 1-6 ("Pellan IV" black only: 4) */
    uint32_t low_level, low_level_2;   /* low-ink levels: the first cartridge, the second or black */
    const char* title;                 /* label designs: the design's title */
} PfRecipe;

/* The recipe the tools use for a kind: 4096 bytes, a colour cartridge, the world's default ink
 * use (300000, 250000, 200000, 400000, 0, 0), low levels 350000000 and 450000000, the title
 * "Disc label". */
PfRecipe pf_recipe(PfKind kind);

/* The file's bytes into out (room for out_size bytes); returns the file's length, which may be
 * more than out_size (out then holds its first out_size bytes; out may be NULL to learn it). */
size_t pf_make(const PfRecipe* recipe, unsigned char* out, size_t out_size);

/* The kinds by the names the tools use: "pellan-iv", "pellan-pro", "optical-disc-printer",
 * "varrow", "varrow-2", "tessik-6", "label", "short", "wrong". -1 for another name (cb bytes at
 * name, which need not end in a NUL). */
int pf_kind(const char* name, size_t cb);
const char* pf_kind_name(PfKind kind);
/* "pellan-iv, pellan-pro, ..., wrong": every name, for messages. */
const char* pf_kind_names(void);
/* The printer a kind is made for ("Pellan IV" for label designs and broken files), and the
 * extension its files carry ("STD" for label designs, "PRN" else). */
const char* pf_printer(PfKind kind);
const char* pf_extension(PfKind kind);

#ifdef __cplusplus
}
#endif

#endif
