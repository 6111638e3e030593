// Print files: the input is a print file's content. Its header is classified directly and, as a
// file on the simulated volume, through ClassifyPrintFile and IsPrintFileForPrinter (which must
// agree with it and with the printer each type suits); the ink estimate read from the file must
// equal the one worked out from its bytes. The input is also taken as a path (up to its first
// NUL) for the extension checks.
#include <algorithm>
#include <string>

#include "fuzz_support.h"
#include "printer/ink_levels.h"
#include "printer/print_file.h"
#include "win32/files.h"

namespace {

const char kPrintFile[] = "C:\\Jobs\\LABEL.PRN";

bool begins(const char* name, const char* model) { return std::strncmp(name, model, std::strlen(model)) == 0; }

// Whether a printer of that name suits a file of that type.
int suits(const char* printer, int type) {
    switch (type) {
        case PRINT_FILE_PELLAN_IV: return begins(printer, "Pellan IV");
        case PRINT_FILE_PELLAN_PRO: return begins(printer, "Pellan PRO");
        case PRINT_FILE_OPTICAL_DISC_PRINTER: return begins(printer, "Optical Disc Printer");
        case PRINT_FILE_VARROW: return begins(printer, "Varrow");
        case PRINT_FILE_VARROW_2: return std::strcmp(printer, "Varrow") == 0;
        case PRINT_FILE_TESSIK_6: return std::strcmp(printer, "Tessik 6") == 0;
        case PRINT_FILE_LABEL: return 1;
        default: return 0;
    }
}

void check_header(const BYTE* b, int type) {
    switch (type) {
        case PRINT_FILE_INVALID: return;
        case PRINT_FILE_PELLAN_IV:
            FUZZ_CHECK(b[1] == 0x00 && b[2] == 0xFF && b[8] == 0x1B && b[9] == 0x00 && b[10] == 0xFE);
            break;
        case PRINT_FILE_PELLAN_PRO:
            FUZZ_CHECK(b[1] == 0x03 && b[2] == 0xFF && b[8] == 0x1B && b[9] == 0x03 && b[10] == 0xFE);
            break;
        case PRINT_FILE_OPTICAL_DISC_PRINTER: FUZZ_CHECK(b[2] == 0x02 && std::memcmp(b + 3, "KS10", 4) == 0); break;
        case PRINT_FILE_VARROW: FUZZ_CHECK((b[1] == 0x05 && b[2] == 0x1E) || (b[1] == 0x06 && b[2] == 0x0E)); break;
        case PRINT_FILE_VARROW_2: FUZZ_CHECK(b[1] == 0x07); break;
        case PRINT_FILE_TESSIK_6: FUZZ_CHECK(b[1] == 0x08 && b[2] == 0x0E); break;
        default: FUZZ_CHECK(!"ClassifyPrintHeader returned an unknown type");
    }
    FUZZ_CHECK(b[0] == 0x1B);
}

InkData ink_of(DWORD set, LONG first, LONG second) {
    InkData ink;
    std::memset(&ink, 0, sizeof ink);
    ink.dwCartridges = set;
    for (int i = 0; i < INK_COUNTERS; ++i) ink.alInk[i] = i < 3 ? first + i : (set == INK_SET_TWO_COLOUR ? 0 : second);
    return ink;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::world().files().mkdir("C:\\Jobs");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    sim::World& world = fuzz::world();
    BYTE* exact = static_cast<BYTE*>(std::malloc(size ? size : 1));
    std::memcpy(exact, data, size);
    const int type = ClassifyPrintHeader(exact, static_cast<DWORD>(size));
    FUZZ_CHECK(size >= PRINT_FILE_HEADER_SIZE || type == PRINT_FILE_INVALID);
    check_header(exact, type);

    // The same bytes as the print file the host names.
    FUZZ_CHECK(world.files().write_file(kPrintFile, std::string(reinterpret_cast<const char*>(data), size)));
    FUZZ_CHECK(ClassifyPrintFile(kPrintFile) == type);
    static const char* const kPrinters[] = {"Pellan IV",  "Pellan IV USB", "Pellan PRO", "Optical Disc Printer 2",
                                            "Varrow",     "Varrow 2",      "Tessik 6",   "Tessik 6 (copy)",
                                            "Office Jet", ""};
    for (const char* printer : kPrinters) FUZZ_CHECK(IsPrintFileForPrinter(printer, kPrintFile) == suits(printer, type));

    // The ink estimate from the file equals the one from its first 32 and last 24 bytes.
    const BYTE* trailer = size >= PRINT_INK_TRAILER_SIZE ? exact + size - PRINT_INK_TRAILER_SIZE : nullptr;
    static const DWORD kSets[] = {INK_SET_BLACK, INK_SET_COLOUR, INK_SET_COLOUR_BLACK, INK_SET_COLOUR_PHOTO,
                                  INK_SET_TWO_COLOUR};
    for (DWORD set : kSets) {
        const InkData ink = ink_of(set, 1000 + static_cast<LONG>(size), 2000);
        const int estimate = EstimateInkDiscs(exact, static_cast<DWORD>(size), trailer, &ink);
        FUZZ_CHECK(estimate == NO_INK_ESTIMATE || (estimate >= 0 && estimate <= MAX_INK_ESTIMATE));
        EstimateDiscsBeforeInkLow(kPrintFile, &ink);
        FUZZ_CHECK(g_iDiscsBeforeInkLow == estimate);
    }
    std::free(exact);

    // The input as a path: a label design is recognised by its name alone.
    const size_t path_length = std::min<size_t>(strnlen(reinterpret_cast<const char*>(data), size), 300);
    const std::string path(reinterpret_cast<const char*>(data), path_length);
    const int label = HasExtension(path.c_str(), "std");
    FUZZ_CHECK(label == 0 || label == 1);
    const int printer_file = HasExtension(path.c_str(), "PRN");
    FUZZ_CHECK(printer_file == 0 || printer_file == 1);
    FUZZ_CHECK(!(label && printer_file));
    if (label) {
        FUZZ_CHECK(ClassifyPrintFile(path.c_str()) == PRINT_FILE_LABEL);
        FUZZ_CHECK(IsPrintFileForPrinter("Office Jet", path.c_str()) == 1);
    }
    const int label_name = IsLabelFileName(path.c_str());
    FUZZ_CHECK(label_name == 0 || label_name == 1);
    if (label_name) FUZZ_CHECK(path.size() > 4 && path[path.size() - 4] == '.' && label);
    return 0;
}
