// The options and services dialog as the operator works it: what OK and Cancel write and do to
// the port, Check Communications, the laminator box and its calibration move, and the other
// service requests with the unit selection dialog.
#include <windows.h>

#include <string>
#include <vector>

#include "devices/laminator.h"
#include "foundation/settings.h"
#include "printer/printer_state.h"
#include "resources/resource.h"
#include "rovane.h"
#include "support/dialog_hands.h"
#include "support/job_world.h"
#include "support/module_state.h"
#include "support/printer_world.h"
#include "win32/spooler.h"

namespace {

using sim::DialogAction;
using sim_test::act;
using sim_test::answer_boxes;
using sim_test::checked;
using sim_test::SeenBox;
using sim_test::wait_closed;
using sim_test::wait_for_dialog;

const char* const kLaminatorBox = "Unable to communicate with the laminator";

int count_commands(const sim::Robot& robot, const std::string& text) {
    int n = 0;
    for (const sim::ReceivedCommand& c : robot.received_commands()) n += c.text == text;
    return n;
}

TEST(OptionsDialog, OkWritesItsKeysKeepsTheSamePortCheckCommunicationsAndCancelWritesNothingAJobRefusesIt) {
    sim_test::JobWorld w;
    sim::World& world = w.world;
    for (const char* name : {"Pellan IV", "Optical Disc Printer"}) {
        sim::PrinterConfig c;
        c.name = name;
        world.spooler().add_printer(c);
    }
    std::vector<SeenBox> boxes;
    answer_boxes(world, boxes, kLaminatorBox, IDCANCEL);
    answer_boxes(world, boxes, "", IDOK);
    std::string before_cancel, after_cancel;
    w.host([&] {
        w.start_module();
        WritePrivateProfileStringA(SETTINGS_SECTION, KEY_PRINTER, "Pellan IV", g_szSettingsPath);
        WritePrivateProfileStringA(SETTINGS_SECTION, KEY_RECORD_PRINT, "-1", g_szSettingsPath);
        WritePrivateProfileStringA(SETTINGS_SECTION, KEY_DRIVE1_SERIAL, "SN-1", g_szSettingsPath);
        EXPECT_EQ(Rovane_Options(), 1u);
        EXPECT_EQ(sim_test::stored(KEY_COM), "COM1");
        EXPECT_EQ(sim_test::stored(KEY_RECORD_PRINT), "1") << "the hidden box showed -1 ticked and carried it";
        EXPECT_EQ(sim_test::stored(KEY_MINIMIZE_PRINTDLG), "0");
        EXPECT_EQ(sim_test::stored(KEY_PRINTER), "Optical Disc Printer");
        EXPECT_EQ(sim_test::stored(KEY_LAMINATE_DISC), "0");
        EXPECT_EQ(sim_test::stored(KEY_DRIVE1_SERIAL), "SN-1");
        EXPECT_EQ(g_szPrinterPosition[0], 'I');
        EXPECT_EQ(sim_test::transcript_texts(world, "serial", "open "), std::vector<std::string>({"open COM1"}))
            << "the same port: neither closed nor opened again";
        EXPECT_TRUE(sim_test::transcript_texts(world, "serial", "close ").empty());
        w.wait_until_robot_rests();  // the printer position move
        before_cancel = sim_test::read_file(world, g_szSettingsPath);
        Rovane_Options();  // Check Communications, then Cancel
        after_cancel = sim_test::read_file(world, g_szSettingsPath);
        EXPECT_STREQ(g_szPortName, "COM1") << "Cancel: the stored port's name again";
        EXPECT_EQ(g_hPort, INVALID_HANDLE_VALUE) << "COM1 was closed for COM2, which did not open";
        Rovane_Options();  // Re-Select Drives, then the close box
        EXPECT_EQ(sim_test::stored(KEY_DRIVE1_SERIAL), "");
        sim_test::while_a_job_is_counted();
        Rovane_Services(ROVANE_HOST_VELTODVD, ROVANE_SERVICE_OPTIONS);  // refused: scenario job-nested-begins
    });
    world.spawn("operator", [&] {
        HWND dlg = wait_for_dialog(world, IDD_OPTIONS);
        EXPECT_EQ(world.ui().control(dlg, IDC_CONTROL_PORT)->text, "COM1");
        EXPECT_EQ(world.ui().control(dlg, IDC_OPTIONS_PRINTER)->text, "Pellan IV on USB001");
        EXPECT_FALSE(world.ui().control(dlg, IDC_RECORD_PRINT)->visible);
        EXPECT_TRUE(checked(world, dlg, IDC_RECORD_PRINT) && checked(world, dlg, IDC_MINIMIZE_PRINT_DIALOG));
        act(world, dlg, DialogAction::click(IDC_MINIMIZE_PRINT_DIALOG));
        act(world, dlg, DialogAction::select(IDC_OPTIONS_PRINTER, "Optical Disc Printer on USB001"));
        act(world, dlg, DialogAction::click(IDOK));
        wait_closed(world, IDD_OPTIONS, dlg);

        dlg = wait_for_dialog(world, IDD_OPTIONS);
        act(world, dlg, DialogAction::click(IDC_CHECK_COMMUNICATIONS));
        w.robot->raise_error('F', "test");
        act(world, dlg, DialogAction::click(IDC_CHECK_COMMUNICATIONS));
        act(world, dlg, DialogAction::click(IDC_MINIMIZE_PRINT_DIALOG));
        act(world, dlg, DialogAction::select(IDC_CONTROL_PORT, "COM2"));  // nothing there
        act(world, dlg, DialogAction::click(IDC_CHECK_COMMUNICATIONS));
        sim_test::wait_for_boxes(boxes, 5);  // the port's error, then no answer within 1.5 s
        act(world, dlg, DialogAction::click(IDCANCEL));
        wait_closed(world, IDD_OPTIONS, dlg);

        dlg = wait_for_dialog(world, IDD_OPTIONS);
        act(world, dlg, DialogAction::click(IDC_RESELECT_DRIVES));
        act(world, dlg, DialogAction::close());
    });
    ASSERT_TRUE(w.ran());
    EXPECT_EQ(after_cancel, before_cancel) << "Cancel writes nothing";
    EXPECT_EQ(sim_test::transcript_texts(world, "window", "dialog 119 shown").size(), 3u) << "not while a job runs";
    EXPECT_EQ(w.robot_commands(), sim_test::Commands({"_MOVE:I"}));
    ASSERT_EQ(boxes.size(), 7u);
    EXPECT_EQ(boxes[0].text.rfind(kLaminatorBox, 0), 0u) << "asked at the first opening only: OK stored 0";
    EXPECT_NE(boxes[1].owner, nullptr) << "Check Communications' answer (scenario options-check-comms), owned by the dialog";
    EXPECT_EQ(boxes[2].text,
              "Communications OK.  Disc not picked.\nPress both Pause & Pick buttons together to clear the error.");
    EXPECT_EQ(boxes[3].text, "Error opening COM2. Port not found.");
    EXPECT_EQ(boxes[4].text, "No response.\nMake sure the robotics are powered on and the \nserial cable is connected.");
    EXPECT_EQ(boxes[6].owner, nullptr) << "the refusal while a job runs";
}

TEST(OptionsDialog, UseLaminatorNeedsAnAnsweringLaminatorAndFirmware113AndCalibrationNeedsTheBox) {
    sim::RobotConfig robot;
    robot.firmware = "1.12";
    sim_test::JobWorld w(1, robot);
    sim::World& world = w.world;
    std::shared_ptr<sim::Laminator> lam = sim::install_laminator(world);
    std::vector<SeenBox> boxes;
    answer_boxes(world, boxes, "", IDOK);
    BOOL laminator_after_ok = FALSE;
    w.host([&] {
        w.start_module();
        Rovane_Options();
        laminator_after_ok = g_fLaminator;
        Rovane_Options();
    });
    world.spawn("operator", [&] {
        HWND dlg = wait_for_dialog(world, IDD_OPTIONS);
        EXPECT_FALSE(checked(world, dlg, IDC_USE_LAMINATOR)) << "firmware 1.12";
        EXPECT_TRUE(boxes.empty()) << "opening warns of nothing";
        act(world, dlg, DialogAction::click(IDC_MOVE_TO_LAMINATOR));  // not ticked: nothing
        act(world, dlg, DialogAction::click(IDC_USE_LAMINATOR));
        EXPECT_FALSE(checked(world, dlg, IDC_USE_LAMINATOR));
        w.robot->config().firmware = "1.13";
        act(world, dlg, DialogAction::click(IDC_USE_LAMINATOR));
        EXPECT_TRUE(checked(world, dlg, IDC_USE_LAMINATOR)) << "the click reads the firmware again";
        act(world, dlg, DialogAction::click(IDC_MOVE_TO_LAMINATOR));
        act(world, dlg, DialogAction::click(IDC_ABOUT));
        act(world, dlg, DialogAction::click(IDOK));
        wait_closed(world, IDD_OPTIONS, dlg);

        dlg = wait_for_dialog(world, IDD_OPTIONS);
        EXPECT_TRUE(checked(world, dlg, IDC_USE_LAMINATOR));
        act(world, dlg, DialogAction::click(IDC_ABOUT));
        lam->go_silent();
        act(world, dlg, DialogAction::click(IDC_ABOUT));
        act(world, dlg, DialogAction::click(IDC_USE_LAMINATOR));  // unticked: nothing more
        w.robot->power_off();
        act(world, dlg, DialogAction::click(IDC_USE_LAMINATOR));
        sim_test::wait_for_boxes(boxes, 5);
        EXPECT_FALSE(checked(world, dlg, IDC_USE_LAMINATOR)) << "the robot did not answer";
        act(world, dlg, DialogAction::click(IDCANCEL));
    });
    ASSERT_TRUE(w.ran());
    EXPECT_TRUE(laminator_after_ok);
    EXPECT_TRUE(g_fLaminator) << "Cancel changes nothing";
    EXPECT_EQ(sim_test::stored(KEY_LAMINATE_DISC), "1");
    EXPECT_EQ(w.robot_commands(), sim_test::Commands({"_MOVE:E", "_MOVE:S"}));
    ASSERT_EQ(boxes.size(), 5u);
    // Boxes 0 to 2, the firmware warning and About without and with the laminator: the scenarios
    // options-laminator-firmware, options-about-reselect and startup-laminator-chosen.
    EXPECT_NE(boxes[3].text.find("\nLaminator Firmware: ?.?"), std::string::npos) << boxes[3].text;
    EXPECT_EQ(boxes[4].text.rfind("No response.", 0), 0u);
}

// ---------------------------------------------------------------------------------------------
// Services.

std::shared_ptr<sim::Robot> attach(sim::World& world, const char* port, const sim::RobotConfig& config) {
    auto robot = std::make_shared<sim::Robot>(config);
    world.serial().attach(port, robot);
    return robot;
}

// (The other request codes and their results: tests/scenarios/services-codes.)
TEST(Services, OneUnitTakenWithoutTheDialogTwoUnitsListedWithResetNoneFound) {
    sim::World world(sim_test::config());
    sim_test::prepare_module(world);
    world.files().mkdir("C:\\Fenwit\\");
    world.registry().set_string(HKEY_LOCAL_MACHINE, "Software\\Marlune\\Fenwit", "DataPath", "C:\\Fenwit\\");
    auto older = attach(world, "COM2", sim::RobotConfig::older_model());
    auto qix = attach(world, "COM3", sim::RobotConfig());
    std::shared_ptr<sim::Robot> first;
    std::vector<LONG> results;
    std::vector<std::string> com;
    world.spawn("host", [&] {
        results.push_back(Rovane_Services(ROVANE_HOST_VELTODVD, 500));
        com.push_back(sim_test::stored(KEY_COM));
        EXPECT_EQ(count_commands(*older, "_SV"), 2) << "the older model: two tries";
        EXPECT_EQ(g_hPort, INVALID_HANDLE_VALUE) << "the search leaves no port open";
        first = attach(world, "COM1", sim::RobotConfig());
        results.push_back(Rovane_Services(ROVANE_HOST_FENWIT, ROVANE_SERVICE_SELECT_UNIT));
        com.push_back(sim_test::stored(KEY_COM));
        EXPECT_STREQ(g_szSettingsPath, "C:\\Fenwit\\ROVANE_QIX.INI") << "the host kind's data folder";
        for (const char* port : {"COM1", "COM2", "COM3"}) world.serial().detach(port);
        results.push_back(Rovane_Services(ROVANE_HOST_FENWIT, ROVANE_SERVICE_SELECT_UNIT));
        com.push_back(sim_test::stored(KEY_COM));
    });
    world.spawn("operator", [&] {
        HWND dlg = wait_for_dialog(world, IDD_SELECT_UNIT);
        EXPECT_EQ(world.ui().control(dlg, IDC_UNIT_LIST)->items, std::vector<std::string>({"QIX on COM1", "QIX on COM3"}));
        act(world, dlg, DialogAction::click(IDOK));
        EXPECT_EQ(world.ui().find_dialog(IDD_SELECT_UNIT), dlg) << "OK without a choice keeps the dialog open";
        act(world, dlg, DialogAction::click(IDC_RESET_UNIT));  // no choice: nothing sent
        act(world, dlg, DialogAction::select(IDC_UNIT_LIST, "QIX on COM3"));
        act(world, dlg, DialogAction::click(IDC_RESET_UNIT));
        act(world, dlg, DialogAction::close());
    });
    const sim::RunResult r = world.run();
    ASSERT_TRUE(r.ok()) << r.report;
    EXPECT_EQ(results, std::vector<LONG>({1, 1, 0}));
    EXPECT_EQ(com, std::vector<std::string>({"COM3", "COM3", "COM3"})) << "none found: nothing stored";
    EXPECT_EQ(sim_test::transcript_texts(world, "window", "dialog 166 shown").size(), 1u) << "only for two units";
    EXPECT_EQ(count_commands(*qix, "_RESET"), 1) << "Reset Unit reached the chosen unit";
    EXPECT_EQ(count_commands(*first, "_RESET"), 0);
}

}  // namespace
