#include "harness/print_files.h"

#include <algorithm>
#include <cstring>

namespace sim {

namespace {

constexpr size_t kHeader = 32;
constexpr size_t kTrailer = 24;

struct KindName {
    PrintFileKind kind;
    const char* name;
    const char* printer;
};
constexpr KindName kKinds[] = {
    {PrintFileKind::PellanIv, "pellan-iv", "Pellan IV"},
    {PrintFileKind::PellanPro, "pellan-pro", "Pellan PRO"},
    {PrintFileKind::OpticalDiscPrinter, "optical-disc-printer", "Optical Disc Printer"},
    {PrintFileKind::Varrow, "varrow", "Varrow"},
    {PrintFileKind::Varrow2, "varrow-2", "Varrow"},
    {PrintFileKind::Tessik6, "tessik-6", "Tessik 6"},
    {PrintFileKind::Label, "label", "Pellan IV"},
    {PrintFileKind::Short, "short", "Pellan IV"},
    {PrintFileKind::Wrong, "wrong", "Pellan IV"},
};

void put24(std::string& f, size_t at, uint32_t v) {
    f[at] = static_cast<char>(v >> 16);
    f[at + 1] = static_cast<char>(v >> 8);
    f[at + 2] = static_cast<char>(v);
}

void put32(std::string& f, size_t at, uint32_t v) {
    f[at] = static_cast<char>(v >> 24);
    put24(f, at + 1, v);
}

void put_bytes(std::string& f, size_t at, std::initializer_list<uint8_t> bytes) {
    for (uint8_t b : bytes) f[at++] = static_cast<char>(b);
}

}  // namespace

bool print_file_kind(const std::string& name, PrintFileKind* kind) {
    for (const KindName& k : kKinds)
        if (name == k.name) {
            *kind = k.kind;
            return true;
        }
    return false;
}

const char* print_file_kind_name(PrintFileKind kind) {
    for (const KindName& k : kKinds)
        if (k.kind == kind) return k.name;
    return "?";
}

const char* print_file_printer(PrintFileKind kind) {
    for (const KindName& k : kKinds)
        if (k.kind == kind) return k.printer;
    return "Pellan IV";
}

const char* print_file_extension(PrintFileKind kind) { return kind == PrintFileKind::Label ? "STD" : "PRN"; }

std::string make_print_file(const PrintFileRecipe& s) {
    if (s.kind == PrintFileKind::Label)
        return "[Design]\r\nTitle=" + s.title + "\r\nLayout=Full disc\r\nText1=" + s.title + "\r\n";

    const size_t need = s.kind == PrintFileKind::Tessik6 ? kHeader + kTrailer : kHeader;
    std::string f(std::max(s.size, need), '\0');
    // Printer data of a fixed pattern (never an escape byte, so no header can appear by chance).
    for (size_t i = kHeader; i < f.size(); ++i) f[i] = static_cast<char>(0x20 + (i * 7) % 0x5F);
    f[0] = 0x1B;
    switch (s.kind) {
        case PrintFileKind::PellanIv:
        case PrintFileKind::Short:
            put_bytes(f, 1, {0x00, 0xFF});
            put_bytes(f, 8, {0x1B, 0x00, 0xFE});
            f[4] = static_cast<char>(s.cartridge);
            if (s.cartridge == 0) {
                put24(f, 11, s.use[3]);
            } else {
                put24(f, 11, s.use[0]);
                put24(f, 14, s.use[1]);
                put24(f, 17, s.use[2]);
            }
            put32(f, 20, s.low_level);
            if (s.kind == PrintFileKind::Short) f.resize(kHeader - 1);
            break;
        case PrintFileKind::PellanPro:
            put_bytes(f, 1, {0x03, 0xFF});
            put_bytes(f, 8, {0x1B, 0x03, 0xFE});
            put24(f, 11, s.use[0]);
            put24(f, 14, s.use[1]);
            put24(f, 17, s.use[2]);
            put32(f, 20, s.low_level);
            put24(f, 24, s.use[3]);
            put32(f, 27, s.low_level_2);
            break;
        case PrintFileKind::OpticalDiscPrinter:
            put_bytes(f, 1, {0x01, 0x02, 'K', 'S', '1', '0'});
            break;
        case PrintFileKind::Varrow:
            put_bytes(f, 1, {0x05, 0x1E});
            break;
        case PrintFileKind::Varrow2:
            put_bytes(f, 1, {0x07, 0x00});
            break;
        case PrintFileKind::Tessik6: {
            put_bytes(f, 1, {0x08, 0x0E});
            put32(f, 6, s.low_level);
            put32(f, 10, s.low_level_2);
            const size_t t = f.size() - kTrailer;
            std::memset(&f[t], 0, kTrailer);
            put_bytes(f, t, {0x1B, 0x08});
            for (size_t i = 0; i < kInkCounters; ++i) put24(f, t + 4 + 3 * i, s.use[i]);
            break;
        }
        case PrintFileKind::Wrong:
            // An escape, then format bytes no printer writes ("Pellan IV" without its second mark).
            put_bytes(f, 1, {0x00, 0xFF});
            put_bytes(f, 8, {0x1B, 0x00, 0x00});
            break;
        case PrintFileKind::Label:
            break;
    }
    return f;
}

}  // namespace sim
