// Print files as a host hands them to the module: printer files (".PRN", rendered by a disc
// printer's driver, recognised by their first 32 bytes) in every format the module knows, label
// designs of the label application (".STD"), and broken files. The bytes are made by the plain C
// generator both host programs use (tools/host-script/print_file.h, which describes the header,
// the per-disc ink use, the low-ink levels and the "Tessik 6" trailer); this is its C++ face for
// the world, its tests and its tools.
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
