// Choosing the disc printer: the selection dialog's default choice and its rules for stored
// names, "FILE:" ports and printer positions; PrinterExists; the port and driver names of the
// chosen printer; the start-up wait for a responding printer.
#include <windows.h>

#include <string>
#include <vector>

#include "devices/discs.h"
#include "foundation/settings.h"
#include "printer/printer_select.h"
#include "printer/printer_state.h"
#include "resources/resource.h"
#include "support/dialog_hands.h"
#include "support/job_world.h"
#include "support/module_state.h"
#include "support/printer_world.h"
#include "win32/spooler.h"

namespace {

using sim_test::act;
using sim_test::answer_boxes;
using sim_test::SeenBox;
using sim_test::wait_closed;
using sim_test::wait_for_dialog;

const char* const kLaminatorBox = "Unable to communicate with the laminator";

TEST(PrinterSelectionDialog, DefaultChoiceStoredNamesFilePortAndPositionLetters) {
    sim_test::JobWorld w;
    sim::World& world = w.world;
    sim_test::install_printer(world, "Office LaserJet 4250", "USB001");
    sim_test::install_printer(world, "Pellan IV", "LPT1:");
    sim_test::install_printer(world, "Optical Disc Printer", "USB002");
    sim_test::install_printer(world, "Optical Disc Printer 2", "USB003");
    sim_test::install_printer(world, "Kestrel Label", "FILE:");
    std::vector<SeenBox> boxes;
    answer_boxes(world, boxes, kLaminatorBox, IDCANCEL);
    answer_boxes(world, boxes, "connected to FILE:", IDYES).times(1);
    answer_boxes(world, boxes, "connected to FILE:", IDNO).times(1);
    answer_boxes(world, boxes, "Errors enumerating", IDOK);

    std::vector<std::vector<std::string>> items;  // per showing: the list
    std::vector<std::string> chosen, after;        // per showing: the line selected at opening; the result
    world.spawn("operator", [&] {
        auto look = [&](HWND dlg) {
            items.push_back(world.ui().control(dlg, IDC_PRINTER_LIST)->items);
            chosen.push_back(world.ui().control(dlg, IDC_PRINTER_LIST)->text);
            EXPECT_FALSE(sim_test::checked(world, dlg, IDC_SELECT_USE_LAMINATOR)) << "no laminator answers";
        };
        HWND dlg = wait_for_dialog(world, IDD_SELECT_PRINTER);
        look(dlg);
        act(world, dlg, sim::DialogAction::click(IDC_SELECT_USE_LAMINATOR));  // the laminator is asked again
        act(world, dlg, sim::DialogAction::click(IDOK));
        for (const char* line : {"Optical Disc Printer 2 on USB003", "Kestrel Label on FILE:", "Kestrel Label on FILE:",
                                 "", ""}) {
            wait_closed(world, IDD_SELECT_PRINTER, dlg);
            dlg = wait_for_dialog(world, IDD_SELECT_PRINTER);
            look(dlg);
            if (*line) act(world, dlg, sim::DialogAction::select(IDC_PRINTER_LIST, line));
            // The close box chooses like OK.
            act(world, dlg, *line ? sim::DialogAction::click(IDOK) : sim::DialogAction::close());
        }
    });
    auto run = [&] {
        RunSelectPrinterDialog();
        after.push_back(std::string(g_szPrinterName) + " | stored " + sim_test::stored(KEY_PRINTER) +
                        (g_fPrinterSelected ? " | selected | " : " | none | ") + g_szPrinterPosition);
    };
    w.host([&] {
        w.start_module();
        for (int i = 0; i < 4; ++i) run();
        // The stored printer was renamed by its driver's installer.
        world.spooler().remove_printer("Pellan IV");
        sim_test::install_printer(world, "Pellan IV (Copy 1)", "LPT1:");
        WritePrivateProfileStringA(SETTINGS_SECTION, KEY_PRINTER, "Pellan IV", g_szSettingsPath);
        EXPECT_EQ(PrinterExists("Pellan IV"), 1) << "start-up's test: the name begins an installed one";
        run();
        world.spooler().fail_enum(ERROR_ACCESS_DENIED, 1);
        run();
        EXPECT_EQ(sim_test::stored(KEY_LAMINATE_DISC), "0");
        EXPECT_FALSE(g_fLaminator);
    });
    ASSERT_TRUE(w.ran());

    ASSERT_EQ(items.size(), 6u);
    EXPECT_EQ(items[0], std::vector<std::string>({"Office LaserJet 4250 on USB001", "Pellan IV on LPT1:",
                                                  "Optical Disc Printer on USB002", "Optical Disc Printer 2 on USB003",
                                                  "Kestrel Label on FILE:", "- Not using a disc printer -"}));
    EXPECT_EQ(items[5], std::vector<std::string>({"- Not using a disc printer -"})) << "the listing failed";
    EXPECT_EQ(chosen, std::vector<std::string>({"Pellan IV on LPT1:", "Pellan IV on LPT1:",
                                                "Optical Disc Printer 2 on USB003", "Kestrel Label on FILE:",
                                                "- Not using a disc printer -", "- Not using a disc printer -"}))
        << "no stored name: the first Pellan before any Optical Disc Printer; a stored name must equal a listed one";
    const std::string none = "- Not using a disc printer - | stored - Not using a disc printer - | none | S";
    EXPECT_EQ(after, std::vector<std::string>({"Pellan IV | stored Pellan IV | selected | S",
                                               "Optical Disc Printer 2 | stored Optical Disc Printer 2 | selected | I",
                                               "Kestrel Label | stored Kestrel Label | selected | I",  // Yes
                                               "Kestrel Label | stored Kestrel Label | selected | S",  // No
                                               none, none}));
    EXPECT_EQ(w.robot_commands(), sim_test::Commands({"_MOVE:S", "_MOVE:I", "_MOVE:S", "_MOVE:S", "_MOVE:S"}))
        << "nothing is sent after Yes";
    EXPECT_EQ(sim_test::count_boxes(boxes, kLaminatorBox), 2)
        << "the first opening and the click asked the laminator; once \"Laminate Disc\" was 0 no opening did";
    ASSERT_EQ(boxes.size(), 5u);
    EXPECT_NE(boxes[2].owner, nullptr) << "the FILE: question (scenario startup-file-printer-yes), owned by the dialog";
    EXPECT_EQ(boxes[4].text, "Errors enumerating the printers.\nMake sure you have a printer installed.");
    EXPECT_EQ(boxes[4].flags, static_cast<UINT>(MB_SETFOREGROUND));
}

TEST(PrinterFacts, ExistsByItsBeginningAmongTheFirst255AndPortAndDriverAreCutToTheirBuffers) {
    sim::World world(sim_test::config());
    sim_test::prepare_module(world);
    sim_test::install_printer(world, "Pellan IV (Copy 1)", "USB001");
    sim_test::install_printer(world, "Varrow 2000", "\\\\PRINTSERVER\\Varrow-Disc-Port", "Varrow 2000 Series Disc Label Driver v4");
    for (int i = 2; i < 255; ++i) sim_test::install_printer(world, "Filler " + std::to_string(i), "USB001");
    sim_test::install_printer(world, "Beyond The Index", "USB001");
    std::vector<SeenBox> boxes;
    answer_boxes(world, boxes, "", IDOK);
    sim_test::run_in(world, [&] {
        EXPECT_EQ(PrinterExists("Pellan IV"), 1);
        EXPECT_EQ(PrinterExists("pellan IV"), 0) << "case matters";
        EXPECT_EQ(PrinterExists("Pellan IV (Copy 2)"), 0);
        EXPECT_EQ(PrinterExists("Filler 254"), 1) << "the 255th entry";
        EXPECT_EQ(PrinterExists("Beyond The Index"), 0) << "the 256th is out of the 8-bit index's reach";
        EXPECT_EQ(PrinterExists(""), 0);
        EXPECT_EQ(PrinterExists(NULL), 0);

        sim_test::with_printer_name("Varrow 2000");
        EXPECT_EQ(GetPRINTER2Info(), 1);
        EXPECT_STREQ(g_szPrinterPort, "\\\\PRINTSERVER\\Varro");
        EXPECT_STREQ(g_szPrinterDriver, "Varrow 2000 Series Disc Label D");
        sim_test::with_printer_name("Uninstalled Printer");
        EXPECT_EQ(GetPRINTER2Info(), 0);
        EXPECT_STREQ(g_szPrinterPort, "\\\\PRINTSERVER\\Varro") << "kept from the last success";
    });
    ASSERT_EQ(boxes.size(), 1u) << "message 151 once";
    EXPECT_EQ(boxes[0].text, "Error getting the PRINTER_INFO_2 structure for the printer.");
    EXPECT_EQ(boxes[0].flags, static_cast<UINT>(MB_SETFOREGROUND));
    EXPECT_EQ(boxes[0].owner, nullptr);
    const std::vector<std::string> log = sim_test::log_texts(world);
    EXPECT_EQ(sim_test::count_lines(log, "ERROR: Couldn't open PRINTER: Uninstalled Printer"), 1);
    EXPECT_EQ(sim_test::count_lines(log, "GetPRINTER2Info() returning TRUE"), 1);
    EXPECT_EQ(sim_test::count_lines(log, "GetPRINTER2Info() returning FALSE"), 1);
}

TEST(FindPrinter, AsksAfterSixSecondsAgainAtOnceAfterRetryAndGivesUpOnCancel) {
    sim_test::JobWorld w;
    sim::World& world = w.world;
    auto printer = std::make_shared<sim::SimplePrinter>();
    printer->set_power(false);  // its tray reports "X"
    w.robot->connect_printer(printer);
    std::vector<SeenBox> boxes;
    const char* const text = "The printer is not responding.";
    answer_boxes(world, boxes, text, IDRETRY).times(1);
    answer_boxes(world, boxes, text, IDRETRY, [&] { printer->set_power(true); }).times(1);
    answer_boxes(world, boxes, text, IDCANCEL);
    sim::Micros start = 0, second_start = 0;
    BOOL found = FALSE;
    w.host([&] {
        w.start_module();
        start = sim_test::now();
        FindPrinter();
        found = g_fPrinterSelected;
        w.robot->power_off();  // a robot that stops answering altogether
        second_start = sim_test::now();
        FindPrinter();
    });
    ASSERT_TRUE(w.ran());
    EXPECT_TRUE(found);
    EXPECT_FALSE(g_fPrinterSelected) << "Cancel leaves the module without a printer";
    ASSERT_EQ(boxes.size(), 3u);
    EXPECT_GT(boxes[0].at - start, 6 * sim::kSecond);
    EXPECT_LT(boxes[0].at - start, 6 * sim::kSecond + 200 * sim::kMs);
    EXPECT_LT(boxes[1].at - boxes[0].at, 1500 * sim::kMs + 100 * sim::kMs) << "after Retry: again at the next reading";
    EXPECT_GT(boxes[2].at - second_start, 6 * sim::kSecond);
    EXPECT_LT(boxes[2].at - second_start, 9 * sim::kSecond) << "a silent robot also ends in the question";

    EXPECT_EQ(sim_test::transcript_texts(world, "cursor"), std::vector<std::string>({"cursor wait", "cursor arrow", "cursor wait", "cursor arrow"}))
        << "shown once per call, gone before the question";
    const std::vector<std::string> log = w.log();
    EXPECT_EQ(sim_test::count_lines(log, "FindPrinter..."), 2);
    EXPECT_EQ(sim_test::count_lines(log, "FindPrinter - printer found and selected"), 1);
    EXPECT_EQ(sim_test::count_lines(log, "FindPrinter - printer NOT selected"), 1);
}

// A robot still busy with a long reset says nothing about the printer: no question while it is
// busy, and the printer is found once it is idle. A robot that stays busy for over a minute ends
// in the question all the same.
TEST(FindPrinter, ABusyRobotDoesNotRunOutThePrintersSixSeconds) {
    sim::RobotConfig robot;
    robot.reset_time = 20 * sim::kSecond;
    sim_test::JobWorld w(1, robot);
    sim::World& world = w.world;
    w.robot->connect_printer(std::make_shared<sim::SimplePrinter>());
    std::vector<SeenBox> boxes;
    answer_boxes(world, boxes, "The printer is not responding.", IDCANCEL);
    sim::Micros start = 0, took = 0, second_start = 0;
    BOOL found = FALSE;
    w.host([&] {
        w.start_module();
        PortWrite("_RESET", FALSE);
        start = sim_test::now();
        FindPrinter();
        took = sim_test::now() - start;
        found = g_fPrinterSelected;
        for (int i = 0; i < 4; ++i) PortWrite("_RESET", FALSE);  // busy for 80 s
        second_start = sim_test::now();
        FindPrinter();
    });
    ASSERT_TRUE(w.ran());
    EXPECT_TRUE(found) << "the printer answered once the robot was idle";
    EXPECT_GT(took, 15 * sim::kSecond) << "the robot was busy all that time";
    ASSERT_EQ(boxes.size(), 1u) << "no question while the robot was busy for 20 s";
    EXPECT_GT(boxes[0].at - second_start, 60 * sim::kSecond);
    EXPECT_LT(boxes[0].at - second_start, 62 * sim::kSecond);
    EXPECT_FALSE(g_fPrinterSelected);
}

}  // namespace
