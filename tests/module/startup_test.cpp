// Start-up and shutdown as a host meets them through Rovane_Init and Rovane_End, on a whole
// simulated autoloader: what a successful start leaves in the module, the refusals the scenarios
// (tests/scenarios/startup-*.txt) do not show, the host kinds, and a shutdown that has to end a
// worker that does not stop.
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

using sim_test::count;
using sim_test::init;
using sim_test::InitResult;

using sim_test::logged;

// What start-up hands the host and the second end's refusal to send anything are shown by
// tests/scenarios/startup-stored-printer and tests/tool/host_checks.sh ("start"); here what only the
// module's own state and files show.
TEST(Startup, FourDriveUnitClosesEachTrayAndLogsItsStart) {
    sim::AutoloaderConfig c = sim_test::autoloader();
    c.disc_printer = "Pellan IV";
    c.settings = {{"Printer", "Pellan IV"}};
    sim::Autoloader m(c);
    InitResult r;
    sim_test::run_host(m, [&] {
        r = init(m);
        char text[ROVANE_END_TEXT_SIZE] = {};
        Rovane_End(text);
    });
    EXPECT_EQ(r.result, 4);
    for (int unit = 1; unit <= 4; ++unit) EXPECT_EQ(m.engine->calls(unit).kt_move_tray, 1u) << "each tray closed once";
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
    EXPECT_EQ(g_hPort, INVALID_HANDLE_VALUE);
    EXPECT_EQ(m.check_invariants(true), "");
}

// The recorder list's refusals a host meets (an empty list, a last line without a line feed, a NUL
// before a line feed, more lines than the table holds, DVD-R drives) are shown by
// tests/scenarios/startup-*.txt; here the log of a line without a line feed, and a line the
// module cannot read.
TEST(Startup, RecorderListWithoutALineFeedOrWithAnOverlongUnitNumber) {
    sim::Autoloader m(sim_test::autoloader());
    sim_test::answer_printer_choice(m);
    m.world.op().on_message_box("").answer(IDOK);
    m.world.op().on_dialog(IDD_CHOOSE_FOUR_DRIVES).click(IDC_DRIVES_CANCEL);
    int overflow_rows = 0;
    std::string overflow_name;
    sim_test::run_host(m, [&] {
        const std::string cut = "1,0,4,0,E,KESTREL DVD-RW KR-2040\r\n2,0,4,1,F,KESTREL DVD-RW KR-2040";
        EXPECT_EQ(init(m, "VeltoDVD", &cut).result, 0);
        const std::string overflow = "99999999999999999999,0,4,0,E,X\r\n2,0,4,1,F,Y, with a comma\r\n";
        init(m, "VeltoDVD", &overflow);
        overflow_rows = g_wRecorderRows;
        overflow_name = g_Recorders[0].szName;
    });
    EXPECT_TRUE(logged(m, "Unit 1, Couldn't find linefeed"));
    EXPECT_TRUE(logged(m, "Unit 1, Replacing Null with space"));
    EXPECT_EQ(overflow_rows, 1) << "a unit number beyond 32 bits makes its line unreadable, not another number";
    EXPECT_TRUE(logged(m, "ERROR: Unit 0, not a recorder line: \"99999999999999999999,0,4,0,E,X\r\""));
    EXPECT_EQ(overflow_name, "Y, with a comma") << "the name runs to the carriage return";
}

// A robot switched off: Retry opens the options dialog, the robot is switched on there, and
// start-up finds it. (The box's text, and Retry with the robot still off:
// tests/scenarios/startup-robot-off-retry; the older model and the port refusals: startup-older-model,
// startup-port-com2 and host_checks.sh.)
TEST(Startup, RobotSwitchedOnDuringTheRetrysOptionsDialogIsFound) {
    sim::Autoloader m(sim_test::autoloader());
    sim_test::answer_printer_choice(m);
    m.world.op().on_message_box("No response").answer(IDRETRY).times(1);
    m.world.op().on_dialog(119).then([&] { m.robot->power_on(); }).click(IDCANCEL);
    InitResult retried;
    sim_test::run_host(m, [&] {
        m.robot->power_off();
        retried = init(m);
    });
    EXPECT_EQ(retried.result, 4) << "Retry: the options dialog, then the robot answered";
}

// Host kinds through start-up: "Dorquel Quiet" reads the settings of key word "Fenwit"; the
// print-only host closes no tray. (How each name maps: settings_test; the print-only start-up's
// result and lines: tests/scenarios/startup-print-only.)
TEST(Startup, HostKindsChooseTheSettingsAndWhatIsRead) {
    sim::Autoloader m(sim_test::autoloader());
    m.world.files().mkdir("C:\\Fenwit\\");
    std::string settings;
    m.world.files().read_file(m.settings_path(), &settings);
    m.world.files().write_file("C:\\Fenwit\\ROVANE_QIX.INI", settings);
    m.world.registry().set_string(HKEY_LOCAL_MACHINE, "Software\\Marlune\\Fenwit", "DataPath", "C:\\Fenwit\\");
    sim_test::answer_printer_choice(m);
    std::string fenwit_path;
    sim_test::run_host(m, [&] {
        EXPECT_EQ(init(m, "Quessa").result, 99);
        EXPECT_EQ(m.engine->calls(1).kt_move_tray, 0u) << "the print-only host has no recorders to close";
        EXPECT_EQ(init(m, "Dorquel Quiet").result, 4);
        fenwit_path = g_szSettingsPath;
    });
    EXPECT_EQ(fenwit_path, "C:\\Fenwit\\ROVANE_QIX.INI");
}

// On the host's thread: Rovane_End as a host calls it, and how long it took.
sim::Micros timed_end(DWORD& result) {
    char text[ROVANE_END_TEXT_SIZE] = {};
    const sim::Micros t0 = sim::kernel().now();
    result = Rovane_End(text);
    return sim::kernel().now() - t0;
}

// A send thread that does not stop: it waits in a message box nobody answers. Rovane_End waits
// its ten seconds, ends it, resets the robot and closes the port.
TEST(Shutdown, EndsAWorkerThatKeepsRunningAfterTenSeconds) {
    sim::Autoloader m(sim_test::autoloader());
    sim_test::answer_printer_choice(m);
    DWORD result = 0;
    sim::Micros end_took = 0;
    sim_test::run_host(m, [&] {
        ASSERT_EQ(init(m).result, 4);
        // Two pick-ups in a row: the second finds the disc still held and asks the operator.
        Queue_Cmd("_MOVE:", NULL, 0);
        Queue_Cmd("PICKUP", NULL, 0);
        Queue_Cmd("PICKUP", NULL, 0);
        const size_t boxes_before = sim_test::boxes(m).size();
        StartSendThread();
        while (sim_test::boxes(m).size() == boxes_before) Sleep(100);
        end_took = timed_end(result);
    });
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
    DWORD result = 0;
    sim::Micros end_took = 0;
    uint32_t tray_calls_at_end = 0, tray_calls_later = 0;
    sim_test::run_host(m, [&] {
        ASSERT_EQ(init(m).result, 4);
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
        end_took = timed_end(result);
        tray_calls_at_end = m.engine->calls(unit).dq_close;
        Sleep(60 * 1000);
        tray_calls_later = m.engine->calls(unit).dq_close;
    });
    EXPECT_EQ(result, 1u);
    EXPECT_LT(end_took, 12 * sim::kSecond) << "Rovane_End waited for the lock the ended thread holds";
    EXPECT_EQ(tray_calls_later, tray_calls_at_end) << "the ended send thread is still trying the tray";
    EXPECT_TRUE(logged(m, "WARNING: Worker thread 0 did not finish; ending it"));
    EXPECT_EQ(count(sim_test::robot_commands(m), "_RESET"), 1);
    EXPECT_EQ(m.check_invariants(true), "");
}

}  // namespace
