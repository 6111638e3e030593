// The manual movements dialog and the multiple-disc move test on a whole simulated autoloader:
// rounds of loads and unloads counted down disc by disc, the printer and the laminator on each
// disc's way out, Stop Test in the middle of a load, the dialog's buttons, and the refusal while
// a job is counted.
#include <windows.h>

#include <algorithm>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "foundation/job_state.h"
#include "printer/printer_state.h"
#include "resources/resource.h"
#include "robot/robo_status.h"
#include "support/dialog_hands.h"
#include "support/host_world.h"
#include "support/module_state.h"

namespace {

using sim::DialogAction;
using sim_test::act;
using sim_test::answer_boxes;
using sim_test::checked;
using sim_test::count;
using sim_test::init;
using sim_test::SeenBox;
using sim_test::wait_closed;
using sim_test::wait_for_dialog;

// Two recorders and no disc printer.
sim::AutoloaderConfig two_drive_machine() {
    sim::AutoloaderConfig c = sim_test::autoloader();
    c.drives = 2;
    return c;
}

// Start-up's questions: which recorder sits where (two-drive unit: A right, B left), and the printer.
void answer_start_up(sim::Autoloader& m) {
    m.world.op()
        .on_dialog(IDD_CHOOSE_TWO_DRIVES)
        .click(IDC_DRIVE_RIGHT_FIRST + 0)
        .click(IDC_DRIVE_LEFT_FIRST + 1)
        .click(IDC_DRIVES_OK);
    m.world.op().on_message_box("Unable to communicate with the laminator").answer(IDCANCEL);
    m.world.op().on_dialog(IDD_SELECT_PRINTER).select(IDC_PRINTER_LIST, "- Not using a disc printer -").click(IDOK);
}

// (That no disc is counted: tests/tool/movements_checks.sh, "stop".)
TEST(MoveTest, StopTestDuringALoadStopsWithinAPollResetsTheRobotAndKeepsTheMovementsDialog) {
    sim::Autoloader m(two_drive_machine());
    answer_start_up(m);
    std::vector<SeenBox> seen;
    answer_boxes(m.world, seen, "Before you click OK", IDOK);
    sim::Micros stopped_at = 0;
    bool test_closed_at_once = false, movements_open_after = false;
    m.world.spawn("operator", [&] {
        HWND dlg = wait_for_dialog(m.world, IDD_MOVEMENTS);
        act(m.world, dlg, DialogAction::spin(IDC_TEST_DISC_SPIN, 1));
        m.world.ui().input(dlg, DialogAction::click(IDC_START_TEST));  // returns at once: the test runs inside
        HWND test = wait_for_dialog(m.world, IDD_MOVE_TEST);
        // The arm on its way to the first recorder: the load phase is being played.
        while (count(sim_test::robot_commands(m), "_MOVE:A") == 0) Sleep(10);
        stopped_at = sim::kernel().now();
        m.world.ui().input(test, DialogAction::click(IDCANCEL));
        Sleep(50);
        test_closed_at_once = m.world.ui().find_dialog(IDD_MOVE_TEST) == nullptr;
        while (count(m.log_texts(), "Exiting MoveDiscsThread") == 0) Sleep(10);
        movements_open_after = m.world.ui().find_dialog(IDD_MOVEMENTS) == dlg;
        act(m.world, dlg, DialogAction::click(IDCANCEL));
    });
    sim_test::run_host(m, [&] {
        init(m);
        Rovane_Movements(0);
    });
    EXPECT_TRUE(test_closed_at_once);
    EXPECT_TRUE(movements_open_after);
    const std::vector<std::string> log = m.log_texts();
    const auto stopped = std::find(log.begin(), log.end(), "SendQueue STOPPED by user.");
    ASSERT_NE(stopped, log.end());
    EXPECT_NE(std::find(stopped, log.end(), "Exiting MoveDiscsThread"), log.end()) << "stopped before the thread exits";
    sim::Micros reset_at = 0;
    for (const sim::ReceivedCommand& c : m.robot->received_commands())
        if (c.text == "_RESET" && c.time > stopped_at && reset_at == 0) reset_at = c.time;
    ASSERT_NE(reset_at, 0u) << "the test resets the robot";
    EXPECT_LE(reset_at - stopped_at, 300 * sim::kMs + 10 * sim::kMs) << "one poll of the send thread, then the reset";
}

// Every button of the movements dialog, one world: what the dialog shows on opening, then each
// button and its effect; afterwards a counted job keeps the dialog from opening.
TEST(MovementsDialog, OpensWithTheDriveCountAndEveryButtonDoesItsPartAndAJobRefusesIt) {
    sim::Autoloader m(sim_test::autoloader());
    answer_start_up(m);
    std::vector<SeenBox> seen;
    answer_boxes(m.world, seen, "", IDOK);
    struct Row {
        int id;
        sim::Micros busy;  // how long the button keeps the dialog
        std::function<void()> check;
    };
    std::string opened_count;
    int low = 0, high = 0;
    std::vector<UDACCEL> accels;
    bool recorder_fixed = false;
    std::string after_spins;
    m.world.spawn("operator", [&] {
        HWND dlg = wait_for_dialog(m.world, IDD_MOVEMENTS);
        const std::optional<sim::ControlState> spin = m.world.ui().control(dlg, IDC_TEST_DISC_SPIN);
        opened_count = m.world.ui().control(dlg, IDC_TEST_DISC_COUNT)->text;
        low = spin->range_low, high = spin->range_high, accels = spin->accels;
        recorder_fixed = checked(m.world, dlg, IDC_TEST_RECORDER) && !m.world.ui().control(dlg, IDC_TEST_RECORDER)->enabled;
        act(m.world, dlg, DialogAction::spin(IDC_TEST_DISC_SPIN, 2));
        act(m.world, dlg, DialogAction::spin(IDC_TEST_DISC_SPIN, -5));
        after_spins = m.world.ui().control(dlg, IDC_TEST_DISC_COUNT)->text;

        ASSERT_FALSE(g_fPrinterSelected) << "no disc printer was chosen at start-up";
        const BOOL laminator_before = g_fLaminator;
        const std::vector<Row> rows = {
            {IDC_RESET_ROBOTICS, 2500 * sim::kMs,
             [&] {
                 EXPECT_EQ(sim_test::robot_commands(m).back(), "_RESET");
                 std::vector<sim::TranscriptEntry> cursor = m.world.kernel().transcript().of_kind("cursor");
                 ASSERT_EQ(cursor.size(), 2u);
                 EXPECT_EQ(cursor[0].text, "cursor wait");
                 EXPECT_EQ(cursor[1].time_us - cursor[0].time_us, 2500 * sim::kMs);
             }},
            {IDC_TEST_PRINTER, 0, [&] { EXPECT_TRUE(g_fPrinterSelected); }},
            {IDC_TEST_PRINTER, 0, [&] { EXPECT_FALSE(g_fPrinterSelected) << "unticking clears the module's choice"; }},
            {IDC_TEST_LAMINATOR, 0, [&] { EXPECT_EQ(g_fLaminator, laminator_before) << "the box decides nothing"; }},
            {IDCANCEL, 0,
             [&] {
                 EXPECT_EQ(m.world.ui().find_dialog(IDD_MOVEMENTS), nullptr);
                 EXPECT_EQ(g_bInputBinIndex, 0);
             }},
        };
        for (const Row& row : rows) {
            sim_test::with_input_bin(2);
            act(m.world, dlg, DialogAction::click(row.id));
            Sleep(static_cast<DWORD>(row.busy / sim::kMs));
            SCOPED_TRACE("button " + std::to_string(row.id));
            row.check();
        }
    });
    sim_test::run_host(m, [&] {
        init(m);
        EXPECT_EQ(Rovane_Movements(0), 1u);
        sim_test::while_a_job_is_counted();
        EXPECT_EQ(Rovane_Movements(0), 1u);
        sim_test::while_a_job_is_counted(false);
    });
    EXPECT_EQ(opened_count, "4");
    EXPECT_EQ(low, 4);
    EXPECT_EQ(high, 400);
    ASSERT_EQ(accels.size(), 3u);
    EXPECT_TRUE(accels[0].nSec == 0 && accels[0].nInc == 4 && accels[1].nSec == 2 && accels[1].nInc == 8 &&
                accels[2].nSec == 4 && accels[2].nInc == 20);
    EXPECT_TRUE(recorder_fixed);
    EXPECT_EQ(after_spins, "4") << "up by 4 twice, then down to the drive count and no further";
    // The refusal's caption and that no dialog opens: tests/tool/host_checks.sh ("job").
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.back().text, "Cannot do Manual Movements while jobs are running");
    EXPECT_EQ(seen.back().owner, nullptr);
}

}  // namespace
