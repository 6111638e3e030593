// Robot error recovery, the status message dialog and the abort sequence against the virtual
// robot and four recorders: empty input bins, the recorder retry, messages that the operator
// answers at the machine, errors that abort, and what the abort leaves behind.
#include <windows.h>

#include <string>
#include <vector>

#include "foundation/debug_log.h"
#include "host/job_state.h"
#include "resources/resource.h"
#include "sequencer/command_queue.h"
#include "sequencer/error_recovery.h"
#include "sequencer/send_thread.h"
#include "setup/recorders.h"
#include "setup/tray_control.h"
#include "support/job_world.h"
#include "win32/ui.h"

namespace {

using sim::kMs;
using sim::kSecond;
using sim::Micros;
using sim_test::count_lines;
using sim_test::find_line;
using sim_test::JobWorld;
using Commands = std::vector<std::string>;

Micros now() { return sim::kernel().now(); }

std::string module_string(UINT id) {
    char text[512];
    LoadStringA(sim::world().module_instance(), id, text, sizeof text);
    return text;
}

std::string dialog_text(JobWorld& w, HWND dlg) {
    auto c = w.world.ui().control(dlg, IDC_MESSAGE_TEXT);
    return c ? c->text : std::string("<no control>");
}

sim::RobotConfig robot_with_empty_bins(const std::string& empty) {
    sim::RobotConfig rc;
    for (char bin : empty) rc.initial_discs[bin] = 0;
    return rc;
}

void queue_fetch_to(const char* destination) {
    Queue_Cmd("_MOVE:", NULL, 0);
    Queue_Cmd("PICKUP", NULL, 0);
    Queue_Cmd("_MOVE:", destination, 0);
    Queue_Cmd("DROPOFF", NULL, 0);
}

TEST(ErrorRecovery, EmptyInputBinMovesOnToTheNextBinWithoutAMessage) {
    JobWorld w(21, robot_with_empty_bins("4"));
    w.host([&] {
        w.start_module();
        queue_fetch_to("G");
        StartSendThread(NULL);
        sim_test::wait_for_send_thread();
    });
    sim::RunResult r = w.run();
    ASSERT_TRUE(r.ok()) << r.report;

    EXPECT_EQ(w.robot_commands(), Commands({"_MOVE:4", "_PICK", "_KILL", "_MOVE:2", "_PICK", "_MOVE:G", "_PICK"}));
    EXPECT_EQ(g_bInputBinIndex, 1);
    EXPECT_EQ(w.robot->count_at("2"), 24u);
    EXPECT_EQ(w.robot->count_at("G"), 1u);
    EXPECT_EQ(w.status_dialogs_shown(), 0);
    EXPECT_FALSE(sim_test::job_aborted());
    const auto log = w.log();
    EXPECT_EQ(count_lines(log, "INPUT EMPTY: Going to Next Input Bin"), 1);
    EXPECT_EQ(count_lines(log, "ERROR: INPUT_EMPTY"), 0);
    EXPECT_EQ(count_lines(log, "Disc PICKED UP successfully"), 1);
}

TEST(ErrorRecovery, LastBinEmptyInNoErrorModeAbortsWithoutAMessage) {
    JobWorld w(22, robot_with_empty_bins("4251"));
    w.host([&] {
        w.start_module();
        g_fNoErrorMode = 1;
        queue_fetch_to("A");
        StartSendThread(NULL);
        sim_test::wait_for_send_thread();
    });
    sim::RunResult r = w.run();
    ASSERT_TRUE(r.ok()) << r.report;

    EXPECT_TRUE(sim_test::job_aborted());
    EXPECT_EQ(g_bInputBinIndex, 3);
    EXPECT_EQ(w.robot_commands(), Commands({"_MOVE:4", "_PICK", "_KILL", "_MOVE:2", "_PICK", "_KILL", "_MOVE:5", "_PICK",
                                            "_KILL", "_MOVE:1", "_PICK", "_KILL", "_RESET"}));
    EXPECT_EQ(w.status_dialogs_shown(), 0);
    const auto log = w.log();
    EXPECT_EQ(count_lines(log, "INPUT EMPTY: Going to Next Input Bin"), 3);
    EXPECT_EQ(count_lines(log, "ERROR: INPUT_EMPTY"), 1);
    EXPECT_EQ(count_lines(log, "No warning when empty - abort job"), 1);
    EXPECT_EQ(count_lines(log, "->AbortJob()"), 1);
}

// At the last bin the operator is told; the discs put in and the Pick button pressed fail to be
// picked, so the next message replaces the first in the same dialog; the second Pick works, the
// dialog closes by itself and the job goes on.
TEST(ErrorRecovery, OperatorMessagesReplaceEachOtherInOneDialogThatClosesWhenTheRobotRecovers) {
    JobWorld w(23, robot_with_empty_bins("4251"));
    HWND first = nullptr, second = nullptr;
    std::string first_text, second_text;
    Micros closed_at = 0, recovered_at = 0;
    w.world.op()
        .on_dialog(IDD_ROBOT_MESSAGE)
        .containing("input bin is empty")
        .then([&] {
            first = w.world.ui().find_dialog(IDD_ROBOT_MESSAGE);
            first_text = dialog_text(w, first);
            w.robot->refill('1', 10);
            w.robot->fail_next_picks(1);
            w.robot->press_pick();
        })
        .times(1);
    w.world.op()
        .on_dialog(IDD_ROBOT_MESSAGE)
        .containing("not picked")
        .then([&] {
            second = w.world.ui().find_dialog(IDD_ROBOT_MESSAGE);
            second_text = dialog_text(w, second);
            w.robot->press_pick();
            sim_test::when([&] { return w.robot->picker().has_value(); }, [&] { recovered_at = now(); });
        })
        .times(1);
    w.host([&] {
        w.start_module();
        queue_fetch_to("G");
        StartSendThread(NULL);
        while (!w.world.ui().find_dialog(IDD_ROBOT_MESSAGE)) Sleep(100);
        while (w.world.ui().find_dialog(IDD_ROBOT_MESSAGE)) Sleep(50);
        closed_at = now();
        sim_test::wait_for_send_thread();
    });
    sim::RunResult r = w.run();
    ASSERT_TRUE(r.ok()) << r.report;

    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first, second) << "one dialog, its text replaced";
    EXPECT_EQ(first_text, module_string(IDS_INPUT_EMPTY));
    EXPECT_EQ(second_text, module_string(IDS_NOT_PICKED));
    EXPECT_EQ(w.status_dialogs_shown(), 1);
    EXPECT_GT(closed_at, recovered_at);
    EXPECT_LT(closed_at - recovered_at, 1500 * kMs) << "closed by itself on the next idle pass";
    EXPECT_EQ(g_hMessageDlg, nullptr);
    EXPECT_EQ(g_fCloserThreadDone, 1);
    EXPECT_FALSE(sim_test::job_aborted());
    EXPECT_EQ(w.robot->count_at("G"), 1u);
    EXPECT_EQ(w.robot_commands(), Commands({"_MOVE:4", "_PICK", "_KILL", "_MOVE:2", "_PICK", "_KILL", "_MOVE:5", "_PICK",
                                            "_KILL", "_MOVE:1", "_PICK", "_MOVE:G", "_PICK"}));
    const auto log = w.log();
    EXPECT_EQ(count_lines(log, "ERROR: INPUT_EMPTY"), 1) << "a persisting error is logged once";
    EXPECT_EQ(count_lines(log, "ERROR: NOT_PICKED"), 0) << "the dialog was open";
    EXPECT_EQ(count_lines(log, "Disc PICKED UP successfully"), 1);
}

// A disc that cannot be picked from a recorder right after a confirmed pick-up: the tray is
// closed, reopened 15 s later and the pick-up repeated, once; the second failure is shown.
TEST(ErrorRecovery, RecorderMispickIsRetriedOnceThenShown) {
    JobWorld w(24);
    int messages_answered = 0;
    w.world.op()
        .on_dialog(IDD_ROBOT_MESSAGE)
        .containing("not picked")
        .then([&] {
            ++messages_answered;
            w.robot->press_pick();
        });
    w.host([&] {
        w.start_module();
        // A load into A: its pick-up from the input bin is the confirmed pick-up.
        Queue_Cmd("A", NULL, 0);
        queue_fetch_to("A");
        Queue_Cmd("DONE:", NULL, '0');
        StartSendThread(NULL);
        sim_test::wait_for_send_thread();
        // The unload: the recorder fails to give the disc up twice.
        w.robot->fail_next_picks(2);
        Queue_Cmd("_MOVE:", "A", 0);
        Queue_Cmd("PICKUP", NULL, 0);
        Queue_Cmd("_MOVE:", "3", 0);
        Queue_Cmd("DROPOFF", NULL, 0);
        StartSendThread(NULL);
        sim_test::wait_for_send_thread();
    });
    sim::RunResult r = w.run();
    ASSERT_TRUE(r.ok()) << r.report;

    EXPECT_EQ(w.robot->count_at("3"), 1u);
    EXPECT_FALSE(w.drive[0]->disc_inside().has_value());
    EXPECT_EQ(messages_answered, 1);
    EXPECT_EQ(w.status_dialogs_shown(), 1);
    EXPECT_EQ(w.robot_commands(), Commands({"_MOVE:4", "_PICK", "_MOVE:A", "_PICK", "_MOVE:A", "_PICK", "_KILL",
                                            "_PICK", "_MOVE:3", "_PICK"}));
    // Trays: opened for the load, closed on the disc; reopened for the unload; closed and
    // reopened 15 s later by the retry; closed empty at the end.
    const std::vector<Micros> opens = w.tray_calls(1, true), closes = w.tray_calls(1, false);
    ASSERT_EQ(opens.size(), 3u);
    ASSERT_EQ(closes.size(), 3u);
    EXPECT_GT(closes[1], w.robot_command_time("_KILL"));
    EXPECT_GE(opens[2] - closes[1], 15 * kSecond);
    EXPECT_LE(opens[2] - closes[1], 15 * kSecond + 100 * kMs);
    EXPECT_GE(w.robot_command_time("_PICK", 3) - opens[2], 7500 * kMs) << "the repeated pick-up waits for the tray";
    EXPECT_EQ(g_Recorders[0].bTrayState, TRAY_STATE_CLOSED_EMPTY);

    const auto log = w.log();
    EXPECT_EQ(count_lines(log, "Mispick from Recorder -> Retrying"), 1);
    EXPECT_EQ(count_lines(log, "ERROR: NOT_PICKED"), 2);
    const auto second = w.second_log();
    ASSERT_EQ(second.size(), 1u);
    EXPECT_EQ(second[0], "Mispick from Recorder -> Retrying");
}

// An invalid command ("D") leaves the job waiting, without any message, until the operator clears
// the error at the robot; then the job goes on where it was.
TEST(ErrorRecovery, InvalidCommandWaitsWithoutMessageUntilClearedAtTheRobot) {
    JobWorld w(25);
    Micros cleared_at = 0;
    w.host([&] {
        w.start_module();
        Queue_Cmd("_MOVE:", "5", 0);
        Queue_Cmd("_MOVE:", "G", 0);
        // Line noise while the arm moves: the robot reports "D" once the move is over.
        sim_test::when([&] { return w.robot->busy(); },
                       [&] {
                           w.robot->on_byte('q');
                           cleared_at = now() + 20 * kSecond;
                           w.robot->at(cleared_at, [](sim::Robot& robot) { robot.press_pause_and_pick(); });
                       });
        StartSendThread(NULL);
        sim_test::wait_for_send_thread();
    });
    sim::RunResult r = w.run();
    ASSERT_TRUE(r.ok()) << r.report;

    EXPECT_EQ(w.robot_commands(), Commands({"_MOVE:5", "_MOVE:G"}));
    EXPECT_GT(w.robot_command_time("_MOVE:G"), cleared_at);
    EXPECT_LT(w.robot_command_time("_MOVE:G"), cleared_at + 1 * kSecond);
    EXPECT_EQ(w.status_dialogs_shown(), 0);
    EXPECT_FALSE(sim_test::job_aborted());
    const auto log = w.log();
    EXPECT_GE(count_lines(log, "ERROR: INVALID_CMD"), 20) << "logged on every pass while no message is open";
    EXPECT_EQ(count_lines(log, " MOVETO:5 Successful."), 1) << "verified once the error was cleared";
    EXPECT_EQ(count_lines(log, " MOVETO:G Successful."), 1);
}

// A system error aborts the job at once. With nothing in the picker the abort closes the trays,
// clears the error and resets the robot; the message stays until the operator presses
// "ABORT Job", which closes it.
TEST(ErrorRecovery, SystemErrorAbortsAndAnEmptyPickerIsOnlyReset) {
    JobWorld w(26);
    w.robot->system_error_on_next_commands(1);
    w.world.op().on_dialog(IDD_ROBOT_MESSAGE).containing("fatal").click(IDC_ABORT_JOB).after(3 * kSecond);
    w.host([&] {
        w.start_module();
        queue_fetch_to("A");
        StartSendThread(NULL);
        sim_test::wait_for_send_thread();
        while (w.world.ui().find_dialog(IDD_ROBOT_MESSAGE) || g_fCloserThreadDone != 1) Sleep(100);
        w.wait_until_robot_rests();
    });
    sim::RunResult r = w.run();
    ASSERT_TRUE(r.ok()) << r.report;

    EXPECT_TRUE(sim_test::job_aborted());
    EXPECT_EQ(w.robot_commands(), Commands({"_MOVE:4", "_KILL", "_RESET"}));
    EXPECT_EQ(w.robot->position(), '3');
    EXPECT_EQ(w.status_dialogs_shown(), 1);
    for (int unit = 1; unit <= 4; ++unit) {
        ASSERT_EQ(w.tray_calls(unit, false).size(), 1u) << unit;
        EXPECT_LT(w.tray_calls(unit, false)[0], w.robot_command_time("_KILL"));
    }
    const auto log = w.log();
    EXPECT_EQ(count_lines(log, "ERROR: SYS_ERROR - job aborting"), 1);
    EXPECT_EQ(count_lines(log, "Abort button pressed"), 1);
    EXPECT_LT(find_line(log, "ERROR: SYS_ERROR - job aborting"), find_line(log, "->AbortJob()"));
    EXPECT_EQ(g_hMessageDlg, nullptr);
}

// The arm fails to reach the recorder with a disc in the picker; the operator aborts from the
// message. The disc goes to the reject position "G" before the robot is reset.
TEST(ErrorRecovery, AbortWithADiscInThePickerRejectsItBeforeTheReset) {
    JobWorld w(27);
    w.world.op().on_dialog(IDD_ROBOT_MESSAGE).containing("movement error").click(IDC_ABORT_JOB);
    w.host([&] {
        w.start_module();
        sim_test::when([&] { return w.robot->picker().has_value(); }, [&] { w.robot->fail_next_moves(1); });
        queue_fetch_to("A");
        StartSendThread(NULL);
        sim_test::wait_for_send_thread();
        while (g_fCloserThreadDone != 1) Sleep(100);
        w.wait_until_robot_rests();
    });
    sim::RunResult r = w.run();
    ASSERT_TRUE(r.ok()) << r.report;

    EXPECT_TRUE(sim_test::job_aborted());
    EXPECT_EQ(w.robot_commands(), Commands({"_MOVE:4", "_PICK", "_MOVE:A", "_KILL", "_MOVE:G", "_PICK", "_RESET"}));
    EXPECT_EQ(w.robot->count_at("G"), 1u);
    EXPECT_FALSE(w.robot->picker().has_value());
    EXPECT_EQ(w.robot->position(), '3');
    EXPECT_TRUE(w.robot->lost().empty());
    EXPECT_EQ(w.robot->check_conservation(), "");
    const auto log = w.log();
    EXPECT_EQ(count_lines(log, "ERROR: MOVEMENT ERROR"), 1);
    EXPECT_EQ(count_lines(log, "Abort button pressed"), 1);
}

// On a two-recorder robot the abort closes the trays at A and B only.
TEST(ErrorRecovery, AbortOnATwoRecorderRobotClosesTwoTrays) {
    JobWorld w(28);
    w.host([&] {
        w.start_module();
        g_bRecorderCount = 2;
        Queue_Cmd("_MOVE:", "5", 0);
        Queue_Cmd("_MOVE:", "4", 0);
        StartSendThread(NULL);
        Sleep(1000);
        sim_test::abort_job_from_host();
        sim_test::wait_for_send_thread();
        w.wait_until_robot_rests();
    });
    sim::RunResult r = w.run();
    ASSERT_TRUE(r.ok()) << r.report;

    EXPECT_EQ(w.tray_calls(1, false).size(), 1u);
    EXPECT_EQ(w.tray_calls(2, false).size(), 1u);
    EXPECT_EQ(w.tray_calls(3, false).size(), 0u);
    EXPECT_EQ(w.tray_calls(4, false).size(), 0u);
    EXPECT_EQ(w.robot_commands(), Commands({"_MOVE:5", "_RESET"}));
}

// The status message itself: the printing wait opens minimised when the printing dialog is to be
// minimised, the next message replaces its text, and at shutdown the closer takes it down.
TEST(StatusMessage, PrintingWaitOpensMinimisedAndShutdownClosesIt) {
    JobWorld w(29);
    HWND dlg = nullptr;
    bool minimised = false;
    std::string replaced;
    w.host([&] {
        w.start_module();
        g_fMinimizePrintDlg = TRUE;
        ShowRobotMessage(IDS_WAITING_FOR_PRINTING, TRUE);
        ShowRobotMessage(IDS_PRINTER_ERROR, TRUE);  // before the dialog exists: it opens with this one
        Sleep(100);
        dlg = w.world.ui().find_dialog(IDD_ROBOT_MESSAGE);
        ASSERT_NE(dlg, nullptr);
        EXPECT_EQ(dialog_text(w, dlg), module_string(IDS_PRINTER_ERROR));
        EXPECT_EQ(MessageIsSelfClosing(), 1);

        // Closed by the closer on request; the next one is the printing wait, minimised.
        EnterCriticalSection(&g_csModule);
        g_fCloseMessage = 1;
        LeaveCriticalSection(&g_csModule);
        while (w.world.ui().find_dialog(IDD_ROBOT_MESSAGE) || g_fCloserThreadDone != 1) Sleep(50);
        ShowRobotMessage(IDS_WAITING_FOR_PRINTING, TRUE);
        Sleep(100);
        dlg = w.world.ui().find_dialog(IDD_ROBOT_MESSAGE);
        ASSERT_NE(dlg, nullptr);
        minimised = w.world.ui().window(dlg)->minimised;
        ShowRobotMessage(IDS_MOVEMENT_ERROR, TRUE);
        Sleep(100);
        replaced = dialog_text(w, dlg);

        g_fShutdown = 1;
        while (g_fCloserThreadDone != 1) Sleep(50);
    });
    sim::RunResult r = w.run();
    ASSERT_TRUE(r.ok()) << r.report;

    EXPECT_TRUE(minimised);
    EXPECT_EQ(replaced, module_string(IDS_MOVEMENT_ERROR));
    EXPECT_EQ(w.world.ui().find_dialog(IDD_ROBOT_MESSAGE), nullptr);
    EXPECT_EQ(w.status_dialogs_shown(), 2);
    EXPECT_EQ(g_hMessageDlg, nullptr);
    const auto log = w.log();
    EXPECT_EQ(count_lines(log, "Shutting down Message"), 1);
    EXPECT_LT(find_line(log, "Shutting down Message"), find_line(log, "Message should be gone"));
}

// At shutdown the send thread ends without the abort sequence; the robot's pause message goes.
TEST(StatusMessage, ShutdownEndsTheSendThreadWithoutAbortAndClosesThePauseMessage) {
    JobWorld w(30);
    HWND dlg = nullptr;
    w.host([&] {
        w.start_module();
        w.robot->press_pause();
        Queue_Cmd("_MOVE:", "5", 0);
        StartSendThread(NULL);
        while (!(dlg = w.world.ui().find_dialog(IDD_ROBOT_MESSAGE))) Sleep(100);
        EXPECT_EQ(dialog_text(w, dlg), module_string(IDS_PAUSED));
        Sleep(3000);
        g_fShutdown = 1;
        sim_test::wait_for_send_thread();
        while (g_fCloserThreadDone != 1 || w.world.ui().find_dialog(IDD_ROBOT_MESSAGE)) Sleep(50);
    });
    sim::RunResult r = w.run();
    ASSERT_TRUE(r.ok()) << r.report;

    EXPECT_TRUE(w.robot_commands().empty());
    EXPECT_FALSE(sim_test::job_aborted());
    EXPECT_EQ(AllWorkersFinished(), 1);
    const auto log = w.log();
    EXPECT_EQ(count_lines(log, "->AbortJob()"), 0);
    EXPECT_EQ(count_lines(log, "SendQueueThread() RETURNING-->"), 1);
    EXPECT_GE(count_lines(log, "Shutting down Message"), 1);
}

}  // namespace
