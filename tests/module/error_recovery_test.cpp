// Robot error recovery, the status message dialog and the abort sequence against the virtual
// robot and four recorders: empty input bins, the recorder retry, messages that the operator
// answers at the machine, errors that abort, and what the abort leaves behind.
#include <windows.h>

#include <string>
#include <vector>

#include "foundation/job_state.h"
#include "foundation/status_message.h"
#include "resources/resource.h"
#include "sequencer/command_queue.h"
#include "sequencer/error_recovery.h"
#include "sequencer/arm_state.h"
#include "sequencer/send_thread.h"
#include "setup/recorders.h"
#include "setup/tray_control.h"
#include "support/job_world.h"
#include "support/module_state.h"
#include "win32/ui.h"

namespace {

using namespace sim_test;

std::string dialog_text(JobWorld& w) {
    const HWND dlg = w.world.ui().find_dialog(IDD_ROBOT_MESSAGE);
    auto c = w.world.ui().control(dlg, IDC_MESSAGE_TEXT);
    return dlg && c ? c->text : std::string("<no message>");
}

sim::RobotConfig robot_with_empty_bins(const std::string& empty) {
    sim::RobotConfig rc;
    for (char bin : empty) rc.initial_discs[bin] = 0;
    return rc;
}

// Every input bin empty: the first three are left for the next without a message; at the last
// the operator is told, puts discs in and presses Pick, which fails, so the next message replaces
// the first in the same dialog; the second Pick works, the dialog closes by itself and the job
// goes on. (The bins tried in turn: tests/scenarios/bin-refill.)
TEST(ErrorRecovery, EmptyBinsThenOperatorMessagesReplaceEachOtherInOneDialogThatClosesOnRecovery) {
    JobWorld w(23, robot_with_empty_bins("4251"));
    HWND first = nullptr, second = nullptr;
    std::string first_text, second_text;
    Micros first_shown = 0, closed_at = 0, recovered_at = 0;
    w.world.op().on_dialog(IDD_ROBOT_MESSAGE).containing("input bin is empty").times(1).then([&] {
        first = w.world.ui().find_dialog(IDD_ROBOT_MESSAGE);
        first_text = dialog_text(w);
        first_shown = now();
        w.robot->refill('1', 10);
        w.robot->fail_next_picks(1);
        w.robot->press_pick();
    });
    w.world.op().on_dialog(IDD_ROBOT_MESSAGE).containing("not picked").times(1).then([&] {
        second = w.world.ui().find_dialog(IDD_ROBOT_MESSAGE);
        second_text = dialog_text(w);
        w.robot->press_pick();
        sim_test::when([&] { return w.robot->picker().has_value(); }, [&] { recovered_at = now(); });
    });
    w.host([&] {
        w.start_module();
        queue_fetch(NULL, "G");
        StartSendThread(NULL);
        while (!w.world.ui().find_dialog(IDD_ROBOT_MESSAGE)) Sleep(100);
        while (w.world.ui().find_dialog(IDD_ROBOT_MESSAGE)) Sleep(50);
        closed_at = now();
        sim_test::wait_for_send_thread();
    });
    ASSERT_TRUE(w.ran());

    EXPECT_GT(first_shown, w.robot_command_time("_PICK", 3)) << "no message before the last bin";
    ASSERT_NE(first, nullptr) << "the last empty bin was shown";
    EXPECT_EQ(first, second) << "one dialog, its text replaced";
    EXPECT_EQ(first_text, module_string(IDS_INPUT_EMPTY)) << "first message";
    EXPECT_EQ(second_text, module_string(IDS_NOT_PICKED)) << "second message";
    EXPECT_EQ(w.status_dialogs_shown(), 1) << "one dialog for both";
    EXPECT_GT(closed_at, recovered_at) << "open until the robot recovered";
    EXPECT_LT(closed_at - recovered_at, 1500 * kMs) << "closed by itself on the next idle pass";
    EXPECT_FALSE(sim_test::job_aborted()) << "the job went on";
    EXPECT_EQ(w.robot->count_at("G"), 1u) << "the disc delivered";
}

TEST(ErrorRecovery, LastBinEmptyInNoErrorModeAbortsWithoutAMessage) {
    JobWorld w(22, robot_with_empty_bins("4251"));
    ASSERT_TRUE(w.ran_job([&] {
        sim_test::in_no_error_mode();
        queue_fetch(NULL, "A");
    }));

    EXPECT_TRUE(sim_test::job_aborted()) << "aborted at the last bin";
    EXPECT_EQ(w.robot_commands(), Commands({"_MOVE:4", "_PICK", "_KILL", "_MOVE:2", "_PICK", "_KILL", "_MOVE:5", "_PICK",
                                            "_KILL", "_MOVE:1", "_PICK", "_KILL", "_RESET"}))
        << "every bin tried, then the abort";
    EXPECT_EQ(w.status_dialogs_shown(), 0) << "no message";
}

// A disc the recorder does not give up: the tray is closed, reopened 15 s later and the pick-up
// repeated, once, on the status record that clearing the error left (no fresh query in between).
// The second failure is shown to the operator, whose Pick gets the disc. (The pick-up taken again
// where the arm is: tests/scenarios/mispick-recorder.)
TEST(ErrorRecovery, RecorderMispickIsRetriedOnceThenShown) {
    JobWorld w(24);
    int messages_answered = 0;
    w.world.op().on_dialog(IDD_ROBOT_MESSAGE).containing("not picked").then([&] {
        ++messages_answered;
        w.robot->press_pick();
    });
    ASSERT_TRUE(w.ran_job([&] {
        w.recorded_disc_in_a();
        w.robot->fail_next_picks(2);
        queue_fetch("A", "3");
    }));

    int queries_before_repeat = 0;
    for (const sim::ReceivedCommand& c : w.robot->received_commands())
        if (c.text == "_SI" && c.time > w.tray_calls(1, true).back() && c.time < w.robot_command_time("_PICK", 1))
            ++queries_before_repeat;
    EXPECT_EQ(queries_before_repeat, 0) << "the repeated pick-up goes out on the record the error clearing left";
    EXPECT_EQ(w.robot->count_at("3"), 1u) << "the disc reached the output bin";
    EXPECT_EQ(messages_answered, 1) << "only the second failure is shown";
    const std::vector<Micros> opens = w.tray_calls(1, true), closes = w.tray_calls(1, false);
    ASSERT_EQ(opens.size(), 2u) << "opened for the unload and by the retry";
    ASSERT_EQ(closes.size(), 2u) << "closed by the retry and empty at the end";
    EXPECT_GT(closes[0], w.robot_command_time("_KILL")) << "the retry closes the tray after clearing the error";
    EXPECT_GE(opens[1] - closes[0], 15 * kSecond) << "reopened 15 s later";
    EXPECT_LE(opens[1] - closes[0], 15 * kSecond + 100 * kMs) << "and no later";
    EXPECT_GE(w.robot_command_time("_PICK", 1) - opens[1], 7500 * kMs) << "the repeated pick-up waits for the tray";
    EXPECT_EQ(g_Recorders[0].bTrayState, TRAY_STATE_CLOSED_EMPTY) << "closed empty at the end";
    const auto second_log = sim_test::log_texts(w.world, std::string(g_szLogPath) + "2");
    EXPECT_EQ(second_log, std::vector<std::string>({"Mispick from Recorder -> Retrying"})) << "the retry in the service log";
}

// An invalid command ("D") leaves the job waiting, without any message, until the operator clears
// the error at the robot; then the job goes on where it was, at once. (No message, no abort:
// tests/scenarios/robot-error-d.)
TEST(ErrorRecovery, InvalidCommandWaitsWithoutMessageUntilClearedAtTheRobot) {
    JobWorld w(25);
    Micros cleared_at = 0;
    ASSERT_TRUE(w.ran_job([&] {
        Queue_Cmd("_MOVE:", "5", 0);
        Queue_Cmd("_MOVE:", "G", 0);
        sim_test::when([&] { return w.robot->busy(); },  // line noise: "D" once the move is over
                       [&] {
                           w.robot->on_byte('q');
                           cleared_at = now() + 20 * kSecond;
                           w.robot->at(cleared_at, [](sim::Robot& robot) { robot.press_pause_and_pick(); });
                       });
    }));

    EXPECT_EQ(w.robot_commands(), Commands({"_MOVE:5", "_MOVE:G"})) << "nothing sent while waiting";
    EXPECT_GT(w.robot_command_time("_MOVE:G"), cleared_at) << "waited until cleared";
    EXPECT_LT(w.robot_command_time("_MOVE:G"), cleared_at + 1 * kSecond) << "went on at once";
    EXPECT_EQ(g_bCurrentPosition, 'G') << "both moves verified";
}

// A system error aborts the job at once. With nothing in the picker the abort closes the trays
// before it clears the error (and only resets the robot: tests/scenarios/robot-error-e, where the
// message also outlives the job); the message stays until "ABORT Job" closes it.
TEST(ErrorRecovery, SystemErrorAbortsAndClosesTheTraysBeforeClearingTheError) {
    JobWorld w(26);
    w.robot->system_error_on_next_commands(1);
    w.world.op().on_dialog(IDD_ROBOT_MESSAGE).containing("fatal").click(IDC_ABORT_JOB).after(3 * kSecond);
    w.host([&] {
        w.start_module();
        queue_fetch(NULL, "A");
        StartSendThread(NULL);
        sim_test::wait_for_send_thread();
        EXPECT_NE(w.world.ui().find_dialog(IDD_ROBOT_MESSAGE), nullptr) << "the message outlives the send thread";
        while (w.world.ui().find_dialog(IDD_ROBOT_MESSAGE) || g_fCloserThreadDone != 1) Sleep(100);
        w.wait_until_robot_rests();
    });
    ASSERT_TRUE(w.ran());

    EXPECT_TRUE(sim_test::job_aborted()) << "aborted at once";
    for (int unit = 1; unit <= 4; ++unit) {
        ASSERT_EQ(w.tray_calls(unit, false).size(), 1u) << "unit " << unit << " closed by the abort";
        EXPECT_LT(w.tray_calls(unit, false)[0], w.robot_command_time("_KILL")) << "before the error is cleared";
    }
}

// On a two-recorder robot the arm fails to reach recorder A with a disc in the picker; the
// operator aborts from the message. The abort closes the trays at A and B only, and the disc goes
// to the reject position "G" (before the robot is reset: tests/scenarios/robot-error-c).
TEST(ErrorRecovery, AbortOnATwoRecorderRobotClosesTwoTraysAndRejectsTheDisc) {
    JobWorld w(27);
    w.world.op().on_dialog(IDD_ROBOT_MESSAGE).containing("movement error").click(IDC_ABORT_JOB);
    w.host([&] {
        w.start_module();
        sim_test::with_recorders_on_the_robot(2);
        sim_test::when([&] { return w.robot->picker().has_value(); }, [&] { w.robot->fail_next_moves(1); });
        queue_fetch(NULL, "A");
        StartSendThread(NULL);
        sim_test::wait_for_send_thread();
        while (g_fCloserThreadDone != 1) Sleep(100);
        w.wait_until_robot_rests();
    });
    ASSERT_TRUE(w.ran());

    EXPECT_TRUE(sim_test::job_aborted()) << "ABORT Job aborted the job";
    EXPECT_EQ(w.robot->count_at("G"), 1u) << "the disc rejected";
    EXPECT_EQ(w.robot->check_conservation(), "") << "no disc lost";
    for (int unit = 1; unit <= 4; ++unit)
        EXPECT_EQ(w.tray_calls(unit, false).size(), unit <= 2 ? 1u : 0u) << "unit " << unit;
}

// The host aborts while the arm sets a disc down on recorder A's open tray. The abort lets that
// motion finish before it closes the trays, so the disc ends inside the recorder instead of under
// a closing tray; and it waits for the motion no more than ten seconds.
TEST(AbortJob, LetsADropOntoARecorderTrayFinishBeforeClosingTheTrays) {
    JobWorld w(28);
    Micros aborted_at = 0, drop_ended = 0;
    ASSERT_TRUE(w.ran_job([&] {
        w.robot->on_received([&](const sim::ReceivedCommand& c) {
            if (c.kind != sim::ReceivedCommand::Kind::Command || c.text != "_PICK" || w.robot->position() != 'A') return;
            aborted_at = now();
            sim_test::given_the_job_aborted();  // the host's code 3, at the moment the drop begins
            sim_test::when([&] { return !w.robot->busy(); }, [&] { drop_ended = now(); });
        });
        Queue_Cmd("A", NULL, 0);
        queue_fetch(NULL, "A");
    }, true));
    ASSERT_GT(aborted_at, 0) << "the drop at A never began";
    const std::vector<Micros> closes = w.tray_calls(1, false);
    ASSERT_FALSE(closes.empty()) << "the abort closes recorder A's tray";
    EXPECT_GE(closes.back(), drop_ended) << "the tray closed under the disc being set down";
    EXPECT_LT(closes.back() - aborted_at, 11 * kSecond);
    EXPECT_EQ(w.robot->count_at("A"), 1u) << "the disc is inside the recorder";
    EXPECT_TRUE(w.robot->lost().empty());
    EXPECT_EQ(w.robot->check_conservation(), "");
}

// A robot that stays busy (a minute-long reset) does not hold the abort up: the trays close ten
// seconds after the abort began, whatever the arm is still doing.
TEST(AbortJob, WaitsForAMotionInProgressNoMoreThanTenSeconds) {
    sim::RobotConfig rc;
    rc.reset_time = 60 * kSecond;
    JobWorld w(29, rc);
    Micros started = 0;
    ASSERT_TRUE(w.ran_job([&] {
        PortWrite("_RESET", FALSE);
        sim_test::given_the_job_aborted();
        Queue_Cmd("_MOVE:", NULL, 0);
        started = now();
    }, true));
    for (int unit = 1; unit <= 4; ++unit) {
        const std::vector<Micros> closes = w.tray_calls(unit, false);
        ASSERT_EQ(closes.size(), 1u) << "unit " << unit;
        EXPECT_GE(closes[0] - started, 10 * kSecond) << "unit " << unit << ": the abort waited for the motion";
        EXPECT_LT(closes[0] - started, 11 * kSecond) << "unit " << unit << ": and no longer than ten seconds";
    }
}

// The status message itself: a message arriving before the dialog exists is the one it opens
// with; a close request takes it down; the printing wait opens minimised when the printing dialog
// is; the robot's pause replaces its text; at shutdown the send thread ends without the abort
// sequence and the message goes.
TEST(StatusMessage, ReplacedTextMinimisedPrintingWaitAndShutdown) {
    JobWorld w(29);
    bool minimised = false;
    std::string opened_with, paused_text;
    w.host([&] {
        w.start_module();
        ShowRobotMessage(IDS_WAITING_FOR_PRINTING, TRUE);
        ShowRobotMessage(IDS_PRINTER_ERROR, TRUE);
        Sleep(100);
        opened_with = dialog_text(w);
        sim_test::close_status_message();
        while (w.world.ui().find_dialog(IDD_ROBOT_MESSAGE) || g_fCloserThreadDone != 1) Sleep(50);

        sim_test::with_print_dialogs_minimised(true);
        ShowRobotMessage(IDS_WAITING_FOR_PRINTING, TRUE);
        Sleep(100);
        const HWND dlg = w.world.ui().find_dialog(IDD_ROBOT_MESSAGE);
        ASSERT_NE(dlg, nullptr) << "the printing wait shown";
        minimised = w.world.ui().window(dlg)->minimised;

        w.robot->press_pause();
        Queue_Cmd("_MOVE:", "5", 0);
        StartSendThread(NULL);
        Sleep(3000);
        paused_text = dialog_text(w);
        sim_test::given_shutdown_begun();
        sim_test::wait_for_send_thread();
        while (g_fCloserThreadDone != 1 || w.world.ui().find_dialog(IDD_ROBOT_MESSAGE)) Sleep(50);
    });
    ASSERT_TRUE(w.ran());

    EXPECT_EQ(opened_with, module_string(IDS_PRINTER_ERROR)) << "the dialog opened with the latest message";
    EXPECT_TRUE(minimised) << "the printing wait opened minimised";
    EXPECT_EQ(paused_text, module_string(IDS_PAUSED)) << "the pause replaced the text";
    EXPECT_EQ(w.status_dialogs_shown(), 2) << "the pause used the open dialog";
    EXPECT_TRUE(w.robot_commands().empty()) << "nothing sent while paused";
    EXPECT_FALSE(sim_test::job_aborted()) << "shutdown is no abort";
    EXPECT_EQ(sim_test::count_lines(w.log(), "->AbortJob()"), 0) << "no abort sequence at shutdown";
    EXPECT_EQ(AllWorkersFinished(), 1) << "send thread and closer ended";
    EXPECT_EQ(g_hMessageDlg, nullptr) << "the message gone";
}

}  // namespace
