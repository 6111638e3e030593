// Start-up and shutdown as a host meets them through Rovane_Init and Rovane_End, on a whole
// simulated autoloader: what a successful start hands the host, every refusal the user can meet
// on the way, the host kinds, and a shutdown that has to end a worker that does not stop.
#include <windows.h>

#include <string>
#include <vector>

#include "foundation/module_context.h"
#include "foundation/settings.h"
#include "resources/resource.h"
#include "robot/robo_status.h"
#include "robot/serial_port.h"
#include "sequencer/command_queue.h"
#include "sequencer/send_thread.h"
#include "setup/recorders.h"
#include "setup/tray_control.h"
#include "support/host_world.h"
#include "win32/files.h"
#include "win32/registry.h"

namespace {

using sim_test::box;
using sim_test::boxes;
using sim_test::count;
using sim_test::init;
using sim_test::InitResult;

const char* const kDvdR = "Pioneer DVD-RW DVR-112D";

using sim_test::logged;

TEST(Startup, FourDriveUnitStartsMapsByStoredSerialsAndShutsDownOnce) {
    sim::AutoloaderConfig c = sim_test::autoloader();
    c.disc_printer = "Pellan IV";
    c.settings = {{"Printer", "Pellan IV"}};
    sim::Autoloader m(c);
    InitResult r;
    DWORD end1 = 0, end2 = 0;
    char text[ROVANE_END_TEXT_SIZE] = {};
    size_t commands_before_second_end = 0;
    sim_test::run_host(m, [&] {
        r = init(m);
        end1 = Rovane_End(text);
        commands_before_second_end = m.robot->received_commands().size();
        end2 = Rovane_End(text);
    });
    EXPECT_EQ(r.result, 4);
    EXPECT_EQ(r.lines, std::vector<std::string>({"1,1,Duplicator RIGHT-TOP (E:),16", "2,1,Duplicator LEFT-TOP (F:),16",
                                                 "3,1,Duplicator RIGHT-BOTTOM (G:),16",
                                                 "4,1,Duplicator LEFT-BOTTOM (H:),16"}))
        << "a printer is selected: every line ends in 16";
    EXPECT_EQ(r.product, "DuplicatorQIX");
    EXPECT_EQ(r.error, 0);
    EXPECT_TRUE(boxes(m).empty()) << "nothing to ask: the printer was stored and answers, the label application is there";
    for (int unit = 1; unit <= 4; ++unit) EXPECT_EQ(m.engine->calls(unit).kt_move_tray, 1u) << "each tray closed once";
    ASSERT_TRUE(m.label_app);
    EXPECT_EQ(m.label_app->owner(), "Marlune");

    const std::vector<std::string> log = m.log_texts();
    ASSERT_GE(log.size(), 3u);
    EXPECT_EQ(log[0], "Rovane_b.ini path: C:\\ProgramData\\Marlune\\ROVANE_QIX.INI");
    EXPECT_EQ(log[1], "********************* RovaneInit ***************************************");
    EXPECT_EQ(log[2], "Rovane.dll Version 2.3.3 (for Fenwit)");
    EXPECT_TRUE(logged(m, "u=0 dwUnit=1 Duplicator RIGHT-TOP (E:)"));
    EXPECT_TRUE(logged(m, "return 4"));
    std::string raw;
    m.world.files().read_file(std::string(sim::kDataFolder) + "Rovane_QIX.dbg", &raw);
    EXPECT_NE(raw.find("  ZORVIK QIX VERSION:R 1.13 A\r\n\r\n"), std::string::npos)
        << "the version reply is logged as received, its CR LF included";

    EXPECT_EQ(end1, 1u);
    EXPECT_EQ(end2, 1u);
    EXPECT_STREQ(text, "Rovane Registry string");
    EXPECT_EQ(count(sim_test::robot_commands(m), "_RESET"), 1);
    EXPECT_EQ(m.robot->received_commands().size(), commands_before_second_end)
        << "the second end finds the port closed and sends nothing";
    EXPECT_EQ(g_hPort, INVALID_HANDLE_VALUE);
    EXPECT_EQ(m.check_invariants(true), "");
}

// The recorder list: empty, a last line without a line feed, lines behind an embedded NUL, more
// lines than the table holds, and drives the unit is not approved for.
TEST(Startup, RecorderListRefusalsAndLimits) {
    sim::AutoloaderConfig c = sim_test::autoloader();
    c.recorder_names = {kDvdR, kDvdR};
    sim::Autoloader m(c);
    sim_test::answer_printer_choice(m);
    m.world.op().on_message_box("").answer(IDOK);
    m.world.op().on_dialog(IDD_CHOOSE_FOUR_DRIVES).click(IDC_DRIVES_CANCEL);
    InitResult empty, no_line_feed, embedded, twenty, dvd_r;
    int embedded_rows = 0, twenty_rows = 0, overflow_rows = 0;
    std::string overflow_name;
    sim_test::run_host(m, [&] {
        const std::string nothing;
        empty = init(m, "VeltoDVD", &nothing);

        const std::string cut = "1,0,4,0,E,KESTREL DVD-RW KR-2040\r\n2,0,4,1,F,KESTREL DVD-RW KR-2040";
        no_line_feed = init(m, "VeltoDVD", &cut);

        // The host's text carries a third line behind an embedded NUL.
        std::string behind = "1,0,4,0,E,A\r\n2,0,4,1,F,B";
        behind += '\0';
        behind += "\r\n3,0,4,2,G,C\r\n";
        embedded = init(m, "VeltoDVD", &behind);
        embedded_rows = g_wRecorderRows;

        std::string lines;
        for (int i = 0; i < 20; ++i)
            lines += std::to_string(i + 1) + ",0,4," + std::to_string(i) + "," + static_cast<char>('E' + i) + ",X\r\n";
        twenty = init(m, "VeltoDVD", &lines);
        twenty_rows = g_wRecorderRows;

        const std::string overflow = "99999999999999999999,0,4,0,E,X\r\n2,0,4,1,F,Y, with a comma\r\n";
        init(m, "VeltoDVD", &overflow);
        overflow_rows = g_wRecorderRows;
        overflow_name = g_Recorders[0].szName;

        dvd_r = init(m);  // the world's own list: two of its drives are DVD-R drives
    });
    const std::vector<std::string> shown = boxes(m);
    EXPECT_EQ(empty.result, 0);
    EXPECT_EQ(count(shown, box("Optical Disc Duplicator", MB_ICONINFORMATION,
                               "No CD Recorders have been found. Please check the connections and try again.")),
              1);

    EXPECT_EQ(no_line_feed.result, 0);
    EXPECT_EQ(count(shown, box("Optical Disc Duplicator", MB_ICONEXCLAMATION | MB_SYSTEMMODAL,
                               "Invalid Drive String.  Reboot and try again")),
              1);
    EXPECT_TRUE(logged(m, "Unit 1, Couldn't find linefeed"));
    EXPECT_TRUE(logged(m, "Unit 1, Replacing Null with space"));
    EXPECT_TRUE(no_line_feed.lines.empty());

    EXPECT_EQ(embedded_rows, 3) << "the line behind the embedded NUL is read";
    EXPECT_EQ(twenty_rows, 17) << "the table holds 17 recorders; the rest are ignored";
    EXPECT_EQ(overflow_rows, 1) << "a unit number beyond 32 bits makes its line unreadable, not another number";
    EXPECT_TRUE(logged(m, "ERROR: Unit 0, not a recorder line: \"99999999999999999999,0,4,0,E,X\r\""));
    EXPECT_EQ(overflow_name, "Y, with a comma") << "the name runs to the carriage return";
    EXPECT_EQ(embedded.result, 0) << "three of the four stored drives: the four-drive dialog, cancelled";
    EXPECT_EQ(twenty.result, 4) << "the first four rows are the stored drives";

    EXPECT_EQ(dvd_r.result, 0);
    EXPECT_EQ(count(shown, box("ROVANE", MB_ICONEXCLAMATION | MB_SYSTEMMODAL,
                               "This Duplicator is approved for 0 DVD-R drives.\nYou selected 2 DVD-R drives.")),
              1);
    EXPECT_TRUE(dvd_r.product.empty()) << "a refused start hands nothing back";
}

// The robot: an older model, and a robot switched off (Retry opens the options dialog, then the
// robot answers). The other refusals are shown through rovane-sim host (tests/tool/host_checks.sh).
TEST(Startup, RobotRefusalsRetryThroughTheOptionsDialog) {
    sim::AutoloaderConfig c = sim_test::autoloader();
    c.robot.model = "N";
    sim::Autoloader m(c);
    sim_test::answer_printer_choice(m);
    m.world.op().on_message_box("No response").answer(IDCANCEL).times(1);
    m.world.op().on_message_box("No response").answer(IDRETRY).times(1);
    m.world.op().on_dialog(119).then([&] { m.robot->power_on(); }).click(IDCANCEL);
    InitResult older, retried;
    sim::Micros older_took = 0;
    sim_test::run_host(m, [&] {
        const sim::Micros t0 = sim::kernel().now();
        older = init(m);
        older_took = sim::kernel().now() - t0;

        m.robot->config().model = "R";
        m.robot->power_off();
        retried = init(m);
    });
    const std::string no_response = box("Optical Disc Duplicator", MB_RETRYCANCEL | MB_ICONINFORMATION,
                                        "No response.\nMake sure the robotics are powered on and the \nserial cable "
                                        "is connected.");
    EXPECT_EQ(older.result, 0) << "an older model answers but does not count";
    EXPECT_GE(older_took, 1500 * sim::kMs) << "its reply does not end the wait";
    EXPECT_EQ(retried.result, 4) << "Retry: the options dialog, then the robot answered";
    EXPECT_EQ(count(boxes(m), no_response), 2);
}

// The port: the robot is on COM2 while the settings name none. Cancel gives up; Retry lets the
// user choose COM2 in the options dialog, and start-up goes on there.
TEST(Startup, PortProblemRetryChoosesAnotherPort) {
    sim::AutoloaderConfig c = sim_test::autoloader();
    c.port = "COM2";
    sim::Autoloader m(c);
    sim_test::answer_printer_choice(m);
    m.world.op().on_message_box("Port not found").answer(IDOK);
    m.world.op().on_message_box("Problem opening serial port").answer(IDCANCEL).times(1);
    m.world.op().on_message_box("Problem opening serial port").answer(IDRETRY);
    m.world.op().on_dialog(119).select(IDC_CONTROL_PORT, "COM2").click(IDOK);
    InitResult cancelled, retried;
    sim_test::run_host(m, [&] {
        cancelled = init(m);
        retried = init(m);
    });
    EXPECT_EQ(cancelled.result, 0);
    EXPECT_EQ(retried.result, 4);
    EXPECT_EQ(count(boxes(m), box("Optical Disc Duplicator", MB_RETRYCANCEL | MB_ICONINFORMATION,
                                  "Problem opening serial port. Click Retry to select another port.")),
              2);
    EXPECT_EQ(m.setting("Com"), "COM2") << "the dialog's choice is kept for the next start";
    EXPECT_STREQ(g_szPortName, "COM2");
}

// Host kinds: the print-only host reads no recorders and gets 99; "Dorquel Quiet" is "Dorquel"
// (settings key word "Fenwit"), in another letter case it is the disc-recording host.
TEST(Startup, HostKindsChooseTheSettingsAndWhatIsRead) {
    sim::Autoloader m(sim_test::autoloader());
    m.world.files().mkdir("C:\\Fenwit\\");
    std::string settings;
    m.world.files().read_file(m.settings_path(), &settings);
    m.world.files().write_file("C:\\Fenwit\\ROVANE_QIX.INI", settings);
    m.world.registry().set_string(HKEY_LOCAL_MACHINE, "Software\\Marlune\\Fenwit", "DataPath", "C:\\Fenwit\\");
    sim_test::answer_printer_choice(m);
    InitResult quessa, dorquel, other_case;
    std::string fenwit_path, other_path;
    uint32_t trays_after_quessa = 0;
    sim_test::run_host(m, [&] {
        quessa = init(m, "Quessa");
        trays_after_quessa = m.engine->calls(1).kt_move_tray;
        dorquel = init(m, "Dorquel Quiet");
        fenwit_path = g_szSettingsPath;
        other_case = init(m, "dorquel quiet");
        other_path = g_szSettingsPath;
    });
    EXPECT_EQ(quessa.result, 99);
    EXPECT_TRUE(quessa.lines.empty());
    EXPECT_EQ(quessa.product, "DuplicatorQIX");
    EXPECT_EQ(trays_after_quessa, 0u) << "the print-only host has no recorders to close";
    EXPECT_EQ(dorquel.result, 4);
    EXPECT_EQ(fenwit_path, "C:\\Fenwit\\ROVANE_QIX.INI");
    EXPECT_EQ(other_case.result, 4);
    EXPECT_EQ(other_path, "C:\\ProgramData\\Marlune\\ROVANE_QIX.INI") << "another letter case is the VeltoDVD host";
}

// A send thread that does not stop: it waits in a message box nobody answers. Rovane_End waits
// its ten seconds, ends it, resets the robot and closes the port.
TEST(Shutdown, EndsAWorkerThatKeepsRunningAfterTenSeconds) {
    sim::Autoloader m(sim_test::autoloader());
    sim_test::answer_printer_choice(m);
    InitResult r;
    DWORD result = 0;
    sim::Micros end_took = 0;
    sim_test::run_host(m, [&] {
        r = init(m);
        // Two pick-ups in a row: the second finds the disc still held and asks the operator.
        Queue_Cmd("_MOVE:", NULL, 0);
        Queue_Cmd("PICKUP", NULL, 0);
        Queue_Cmd("PICKUP", NULL, 0);
        const size_t boxes_before = sim_test::boxes(m).size();
        StartSendThread();
        while (sim_test::boxes(m).size() == boxes_before) Sleep(100);
        char text[ROVANE_END_TEXT_SIZE] = {};
        const sim::Micros t0 = sim::kernel().now();
        result = Rovane_End(text);
        end_took = sim::kernel().now() - t0;
    });
    EXPECT_EQ(r.result, 4);
    EXPECT_EQ(result, 1u);
    EXPECT_GE(end_took, 10 * sim::kSecond);
    EXPECT_LT(end_took, 11 * sim::kSecond);
    EXPECT_EQ(g_fSendThreadDone, 1);
    EXPECT_TRUE(logged(m, "WARNING: Worker thread 0 did not finish; ending it"));
    EXPECT_EQ(count(sim_test::robot_commands(m), "_RESET"), 1);
    EXPECT_EQ(m.check_invariants(true), "") << "the thread was ended; the disc it held is still in the picker";
    EXPECT_EQ(m.robot->count_at("picker"), 1u);
}

// The send thread holds the module lock while it closes a recorder's tray after a drop, and a
// tray that keeps failing keeps it there for 50 tries and then behind the operator's box. Rovane_End
// still returns after its ten seconds: nothing it does after the wait takes the lock. The ended
// thread tries the tray no more.
TEST(Shutdown, ReturnsWhileTheSendThreadHoldsTheLockAcrossAFailingTrayClose) {
    sim::Autoloader m(sim_test::autoloader());
    sim_test::answer_printer_choice(m);
    InitResult r;
    DWORD result = 0;
    sim::Micros end_took = 0;
    uint32_t tray_calls_at_end = 0, tray_calls_later = 0;
    sim_test::run_host(m, [&] {
        r = init(m);
        const LONG unit = g_Recorders[0].dwUnit;
        Queue_Cmd("A", NULL, 0);
        Queue_Cmd("_MOVE:", NULL, 0);
        Queue_Cmd("PICKUP", NULL, 0);
        Queue_Cmd("_MOVE:", "A", 0);
        Queue_Cmd("DROPOFF", NULL, 0);
        Queue_Cmd("DONE:", NULL, '0');
        StartSendThread();
        // The tray opened for the drop; from now on it refuses to move.
        while (g_Recorders[0].bTrayState != TRAY_STATE_OPEN_EMPTY) Sleep(100);
        m.engine->fail_tray_calls(unit, -1);
        while (m.engine->calls(unit).dq_failed < 3) Sleep(100);
        char text[ROVANE_END_TEXT_SIZE] = {};
        const sim::Micros t0 = sim::kernel().now();
        result = Rovane_End(text);
        end_took = sim::kernel().now() - t0;
        tray_calls_at_end = m.engine->calls(unit).dq_close;
        Sleep(60 * 1000);
        tray_calls_later = m.engine->calls(unit).dq_close;
    });
    EXPECT_EQ(r.result, 4);
    EXPECT_EQ(result, 1u);
    EXPECT_LT(end_took, 12 * sim::kSecond) << "Rovane_End waited for the lock the ended thread holds";
    EXPECT_EQ(tray_calls_later, tray_calls_at_end) << "the ended send thread is still trying the tray";
    EXPECT_TRUE(logged(m, "WARNING: Worker thread 0 did not finish; ending it"));
    EXPECT_EQ(count(sim_test::robot_commands(m), "_RESET"), 1);
    EXPECT_EQ(m.check_invariants(true), "");
}

}  // namespace
