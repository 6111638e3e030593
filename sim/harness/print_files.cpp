#include "harness/print_files.h"

#include "print_file.h"

// The one generator is the plain C one the host programs use too (tools/host-script/print_file).
namespace sim {

namespace {

static_assert(static_cast<int>(PrintFileKind::PellanIv) == PF_PELLAN_IV &&
                  static_cast<int>(PrintFileKind::PellanPro) == PF_PELLAN_PRO &&
                  static_cast<int>(PrintFileKind::OpticalDiscPrinter) == PF_OPTICAL_DISC_PRINTER &&
                  static_cast<int>(PrintFileKind::Varrow) == PF_VARROW &&
                  static_cast<int>(PrintFileKind::Varrow2) == PF_VARROW_2 &&
                  static_cast<int>(PrintFileKind::Tessik6) == PF_TESSIK_6 &&
                  static_cast<int>(PrintFileKind::Label) == PF_LABEL &&
                  static_cast<int>(PrintFileKind::Short) == PF_SHORT &&
                  static_cast<int>(PrintFileKind::Wrong) == PF_WRONG,
              "the kinds are the C generator's");
static_assert(kInkCounters == PF_INK_COUNTERS, "six ink counters");

PfKind c_kind(PrintFileKind kind) { return static_cast<PfKind>(static_cast<int>(kind)); }

}  // namespace

bool print_file_kind(const std::string& name, PrintFileKind* kind) {
    const int k = pf_kind(name.data(), name.size());
    if (k < 0) return false;
    *kind = static_cast<PrintFileKind>(k);
    return true;
}

const char* print_file_kind_name(PrintFileKind kind) { return pf_kind_name(c_kind(kind)); }

const char* print_file_printer(PrintFileKind kind) { return pf_printer(c_kind(kind)); }

const char* print_file_extension(PrintFileKind kind) { return pf_extension(c_kind(kind)); }

std::string make_print_file(const PrintFileRecipe& s) {
    PfRecipe r = pf_recipe(c_kind(s.kind));
    r.size = s.size;
    r.cartridge = s.cartridge;
    for (size_t i = 0; i < kInkCounters; ++i) r.use[i] = s.use[i];
    r.low_level = s.low_level;
    r.low_level_2 = s.low_level_2;
    r.title = s.title.c_str();
    std::string f(pf_make(&r, nullptr, 0), '\0');
    pf_make(&r, reinterpret_cast<unsigned char*>(&f[0]), f.size());
    return f;
}

}  // namespace sim
