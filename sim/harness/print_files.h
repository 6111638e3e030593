// Print files as a host hands them to the module: printer files (".PRN", rendered by a disc
// printer's driver, recognised by their first 32 bytes) in every format the module knows, label
// designs of the label application (".STD"), and broken files. The generator writes what the
// module reads — the header bytes, the per-disc ink use and low-ink levels, the "Tessik 6"
// trailer — and fills the rest with printer data of a fixed pattern.
//
// Printer file header (offsets from the start):
//     0      0x1B in every format
//     1, 2   format bytes: 00 FF "Pellan IV", 03 FF "Pellan PRO", 01 02 + "KS10" at 3..6
//            "Optical Disc Printer", 05 1E "Varrow", 07 00 the second "Varrow" format,
//            08 0E "Tessik 6"
//     8..10  1B 00 FE ("Pellan IV"), 1B 03 FE ("Pellan PRO")
//   "Pellan IV":  4 cartridge byte (0 black, 1 colour, 2 or 3 colour and black); 11-13, 14-16,
//                 17-19 use of inks 1, 2, 3 (black only: 11-13 the black use); 20-23 low level
//   "Pellan PRO": 11-13, 14-16, 17-19 colour use; 20-23 colour low level; 24-26 black use;
//                 27-30 black low level
//   "Tessik 6":   6-9 low level of the first cartridge, 10-13 of the second; the last 24 bytes
//                 1B 08 .. with the use of counters 1-3 at 4-6, 7-9, 10-12 and of 4, 5, 6 at
//                 13-15, 16-18, 19-21
// Use figures are 24-bit, levels 32-bit, most significant byte first.
#pragma once

#include <cstdint>
#include <string>

#include "devices/disc_printer.h"

namespace sim {

enum class PrintFileKind {
    PellanIv,            // type 0
    PellanPro,           // type 1
    OpticalDiscPrinter,  // type 2
    Varrow,              // type 3
    Varrow2,             // type 4
    Tessik6,             // type 5
    Label,               // a ".STD" label design (text)
    Short,               // 31 bytes of a "Pellan IV" header: too short to be a printer file
    Wrong,               // 4096 bytes whose header matches no format
};

struct PrintFileRecipe {
    PrintFileKind kind = PrintFileKind::PellanIv;
    size_t size = 4096;            // printer files: bytes in all (at least what the format needs)
    // "Pellan IV": the cartridge byte the file was made for.
    uint8_t cartridge = 1;
    // Per-disc use of counters 1-6 ("Pellan IV" black only: counter 4 is the black use).
    InkCounters use = {300000, 250000, 200000, 400000, 0, 0};
    // Low-ink levels: the first (colour) cartridge, the second cartridge or black ink.
    uint32_t low_level = 350000000;
    uint32_t low_level_2 = 450000000;
    std::string title = "Disc label";  // label designs: the design's title
};

// The file's bytes.
std::string make_print_file(const PrintFileRecipe& recipe);

// The kinds by the names the tools use: "pellan-iv", "pellan-pro", "optical-disc-printer",
// "varrow", "varrow-2", "tessik-6", "label", "short", "wrong". False for an unknown name.
bool print_file_kind(const std::string& name, PrintFileKind* kind);
const char* print_file_kind_name(PrintFileKind kind);
// The printer a kind is made for ("Pellan IV" for label designs and broken files), and the
// extension its files carry ("STD" for label designs, "PRN" else).
const char* print_file_printer(PrintFileKind kind);
const char* print_file_extension(PrintFileKind kind);

}  // namespace sim
