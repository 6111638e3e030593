// Print files: the extension rule, the printer families told apart by a printer file's header
// (and the printer each suits), and the host's check of a print file named by a folder.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "foundation/module_context.h"
#include "printer/print_file.h"
#include "printer/printer_state.h"
#include "rovane.h"
#include "support/module_world.h"
#include "support/module_state.h"

namespace {

using sim_test::run_in;

// A 32-byte printer file header: the given leading bytes, the rest zero.
std::string header(std::initializer_list<int> lead, size_t size = 32) {
    std::string h(size, '\0');
    size_t i = 0;
    for (int b : lead) {
        if (i < size) h[i] = static_cast<char>(b);
        ++i;
    }
    return h;
}
std::string pellan_iv() { return header({0x1B, 0x00, 0xFF, 0, 0, 0, 0, 0, 0x1B, 0x00, 0xFE}); }

TEST(PrintFile, ExtensionAndHeaderDecideTheTypeAndThePrinterItSuits) {
    sim::World world(sim_test::config());
    sim_test::prepare_module(world);
    world.files().mkdir("C:\\Jobs.v2\\");
    struct Case {
        const char* path;
        std::string bytes;  // written to the world's files unless `missing`
        int type;
        const char* suits;      // a printer the file suits
        const char* not_suits;  // one it does not ("" for none to try)
        bool missing = false;
    };
    const std::vector<Case> cases = {
        {"C:\\Jobs.v2\\a.prn", pellan_iv(), PRINT_FILE_PELLAN_IV, "Pellan IV 2", "Pellan PRO"},
        {"C:\\Jobs.v2\\b.prn", pellan_iv().substr(0, 31), PRINT_FILE_INVALID, "", "Pellan IV"},
        {"C:\\Jobs.v2\\c.prn", header({0x1B, 0x00, 0xFF, 0, 0, 0, 0, 0, 0x1B, 0x00, 0xFF}), PRINT_FILE_INVALID, "",
         "Pellan IV"},
        {"C:\\Jobs.v2\\d.prn", header({0x1B, 0x03, 0xFF, 0, 0, 0, 0, 0, 0x1B, 0x03, 0xFE}), PRINT_FILE_PELLAN_PRO,
         "Pellan PRO", "Pellan IV"},
        {"C:\\Jobs.v2\\e.prn", header({0x1B, 0x00, 0x02, 'K', 'S', '1', '0'}), PRINT_FILE_OPTICAL_DISC_PRINTER,
         "Optical Disc Printer 1", "Varrow"},
        {"C:\\Jobs.v2\\f.prn", header({0x1B, 0x07, 0x02, 'K', 'S', '1', '0'}), PRINT_FILE_OPTICAL_DISC_PRINTER,
         "Optical Disc Printer", "Varrow"},
        {"C:\\Jobs.v2\\g.prn", header({0x1B, 0x07, 0x02}), PRINT_FILE_VARROW_2, "Varrow", "Varrow 2"},
        {"C:\\Jobs.v2\\h.prn", header({0x1B, 0x05, 0x1E}), PRINT_FILE_VARROW, "Varrow 2", "Tessik 6"},
        {"C:\\Jobs.v2\\i.prn", header({0x1B, 0x05, 0x1F}), PRINT_FILE_INVALID, "", "Varrow"},
        {"C:\\Jobs.v2\\j.prn", header({0x1B, 0x06, 0x0E}), PRINT_FILE_VARROW, "Varrow", ""},
        {"C:\\Jobs.v2\\k.prn", header({0x1B, 0x08, 0x0E}), PRINT_FILE_TESSIK_6, "Tessik 6", "Tessik 6 Disc"},
        {"C:\\Jobs.v2\\l.prn", header({0x1B, 0x08, 0x0F}), PRINT_FILE_INVALID, "", "Tessik 6"},
        {"C:\\Jobs.v2\\m.prn", header({0x1C, 0x00, 0xFF, 0, 0, 0, 0, 0, 0x1B, 0x00, 0xFE}), PRINT_FILE_INVALID, "",
         "Pellan IV"},
        {"C:\\Jobs.v2\\n.prn", "", PRINT_FILE_INVALID, "", "Pellan IV", true},
        // A label design is never opened: empty, or missing, it suits every printer.
        {"C:\\Jobs.v2\\label.std", "", PRINT_FILE_LABEL, "Kestrel Office Laser 4200", ""},
        {"C:\\Jobs.v2\\gone.Std", "", PRINT_FILE_LABEL, "Pellan IV", "", true},
    };
    for (const Case& c : cases)
        if (!c.missing) world.files().write_file(c.path, c.bytes);
    world.files().write_file("C:\\Jobs.v2\\locked.prn", pellan_iv());

    std::vector<int> types, suits, not_suits;
    int locked = -1, unlocked = -1;
    std::vector<int> extensions;
    run_in(world, [&] {
        for (const Case& c : cases) {
            types.push_back(ClassifyPrintFile(c.path));
            suits.push_back(c.suits[0] ? IsPrintFileForPrinter(c.suits, c.path) : 1);
            not_suits.push_back(c.not_suits[0] ? IsPrintFileForPrinter(c.not_suits, c.path) : 0);
        }
        // Another program holds the file open without sharing.
        HANDLE h = CreateFileA("C:\\Jobs.v2\\locked.prn", GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        locked = ClassifyPrintFile("C:\\Jobs.v2\\locked.prn");
        CloseHandle(h);
        unlocked = ClassifyPrintFile("C:\\Jobs.v2\\locked.prn");

        const std::string blanks16(16, ' ');
        for (const std::string& path : {std::string("LABEL.prn"), std::string("label.PRN"), std::string("LABEL.PRN "),
                                        std::string(".PRN"), std::string("C:\\Jobs\\x.pRn"), "LABEL.PRN" + blanks16,
                                        std::string("LABEL.PR"), std::string("LABEL.PRX"), std::string("LABEL.PRNX"),
                                        std::string("LABEL.PRN x"), std::string("C:\\Jobs.prn\\LABEL"),
                                        std::string("LABEL"), std::string(""), "LABEL.PRN " + blanks16})
            extensions.push_back(HasExtension(path.c_str(), "PRN"));
    });
    for (size_t i = 0; i < cases.size(); ++i) {
        EXPECT_EQ(types[i], cases[i].type) << cases[i].path;
        EXPECT_EQ(suits[i], 1) << cases[i].path << " on " << cases[i].suits;
        EXPECT_EQ(not_suits[i], 0) << cases[i].path << " on " << cases[i].not_suits;
    }
    EXPECT_EQ(locked, PRINT_FILE_INVALID) << "a file held without sharing cannot be read";
    EXPECT_EQ(unlocked, PRINT_FILE_PELLAN_IV);
    // With its blanks an extension may be 19 characters long, not 20.
    EXPECT_EQ(extensions, std::vector<int>({1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0}));
}

// A folder named like a print file counts as a missing file: only record and print lets it
// through, without a message. (The host's check against the printer's own format, the other
// printers' formats, a label design and another extension, and a missing file: the scenario
// print-file-kinds.)
TEST(PrintFile, CheckValidPrintTakesAFolderForAMissingFile) {
    sim::World world(sim_test::config());
    sim_test::prepare_module(world);
    world.files().mkdir("C:\\Jobs\\folder.prn\\");
    std::vector<LONG> results;
    run_in(world, [&] {
        sim_test::with_printer_name("Pellan IV");
        for (LONG action : {ROVANE_RECORD_AND_PRINT, ROVANE_PRINT_IN_PRINTER})
            results.push_back(Rovane_CheckValidPrint(0, action, 0, "C:\\Jobs\\folder.prn", 0, 0));
    });
    EXPECT_EQ(results, std::vector<LONG>({1, 0}));
    EXPECT_TRUE(sim_test::boxes(world).empty());
}

}  // namespace
