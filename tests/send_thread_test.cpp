// The send thread against the virtual robot and four recorders: passes, the end of the queues,
// preparation of each command (tray waits, picker and position checks with their rewinds, the
// printer tray commands), verification with resends, and an abort during preparation.
#include <windows.h>

#include <string>
#include <vector>

#include "foundation/debug_log.h"
#include "host/job_state.h"
#include "printer/printer_state.h"
#include "resources/resource.h"
#include "sequencer/command_queue.h"
#include "sequencer/error_recovery.h"
#include "sequencer/send_thread.h"
#include "setup/recorders.h"
#include "setup/tray_control.h"
#include "support/job_world.h"

namespace {

using sim::kMs;
using sim::kSecond;
using sim::Micros;
using sim_test::count_lines;
using sim_test::find_line;
using sim_test::JobWorld;
using Commands = std::vector<std::string>;

Micros now() { return sim::kernel().now(); }

DWORD move_state(int row) {
    EnterCriticalSection(&g_csModule);
    const DWORD state = g_Recorders[row].dwMoveState;
    LeaveCriticalSection(&g_csModule);
    return state;
}

void set_move_state(int row, DWORD state) {
    EnterCriticalSection(&g_csModule);
    g_Recorders[row].dwMoveState = state;
    LeaveCriticalSection(&g_csModule);
}

// The load sequence of a move request for the recorder at row 0 ("A").
void queue_load_into_a() {
    Queue_Cmd("A", NULL, 0);
    Queue_Cmd("_MOVE:", NULL, 0);
    Queue_Cmd("PICKUP", NULL, 0);
    Queue_Cmd("_MOVE:", "A", 0);
    Queue_Cmd("DROPOFF", NULL, 0);
    Queue_Cmd("DONE:", NULL, '0');
    set_move_state(0, MOVE_STATE_POSTED);
}

// A disc waiting inside drive A with its tray closed, as a finished recording leaves it.
void put_recorded_disc_in_a(JobWorld& w) {
    w.drive[0]->set_tray_now(true);
    ASSERT_NE(w.robot->place_new_disc('A'), 0u);
    w.drive[0]->set_tray_now(false);
    g_Recorders[0].bTrayState = TRAY_STATE_CLOSED_WITH_DISC;
}

TEST(SendThread, EmptyQueuesEndTheThreadOnceTheRobotAnswersAndANewThreadCountsFromZero) {
    JobWorld w(11);
    Micros powered_on_at = 0, first_ended_at = 0;
    int first_start = -1, second_start = -1, restart = -1;
    BYTE index_before = 0, index_after = 0;
    w.host([&] {
        w.start_module();
        // Silent for three seconds: the passes do nothing until it answers.
        w.robot->power_off();
        powered_on_at = now() + 3 * kSecond;
        w.robot->at(powered_on_at, [](sim::Robot& r) { r.power_on(); });
        first_start = StartSendThread("Post_move now calling SendQueueThread");
        second_start = StartSendThread("Post_move now calling SendQueueThread");
        sim_test::wait_for_send_thread();
        first_ended_at = now();

        // After the end, new commands need a new thread, and the queue counts from 0 again.
        Queue_Cmd("_MOVE:", "5", 0);
        index_before = g_bCmdIndex;
        restart = StartSendThread(NULL);
        sim_test::wait_for_send_thread();
        index_after = g_bCmdIndex;
    });
    sim::RunResult r = w.run();
    ASSERT_TRUE(r.ok()) << r.report;

    EXPECT_EQ(first_start, 1);
    EXPECT_EQ(second_start, 0) << "one send thread at a time";
    EXPECT_EQ(restart, 1);
    EXPECT_GE(first_ended_at, powered_on_at);
    EXPECT_EQ(index_before, 1);
    EXPECT_EQ(index_after, 0);
    EXPECT_EQ(w.robot_commands(), Commands({"_MOVE:5"}));
    EXPECT_EQ(w.robot->position(), '5');
    EXPECT_EQ(g_bCurrentPosition, '5') << "the move was verified before the thread ended";
    EXPECT_EQ(g_fSendQueueRunning, 0);
    EXPECT_EQ(g_fSendThreadDone, 1);

    const auto log = w.log();
    EXPECT_EQ(count_lines(log, "Post_move now calling SendQueueThread"), 1);
    EXPECT_EQ(count_lines(log, "-->SendQueueThread() called"), 2);
    EXPECT_EQ(count_lines(log, "SendQueueThread() RETURNING-->"), 2);
    EXPECT_LT(find_line(log, "Post_move now calling SendQueueThread"), find_line(log, "-->SendQueueThread() called"));
    EXPECT_EQ(count_lines(log, "g_bCmdIndex=0  g_bPRN_Index=0"), 1);
    EXPECT_EQ(count_lines(log, "g_bCmdIndex=1  g_bPRN_Index=0"), 1);
    EXPECT_GE(count_lines(log, "NOTE: PortRead() no response in GetSystemStatus"), 3);
    EXPECT_EQ(count_lines(log, ">>Sent CMD = _MOVE:5"), 1);
    EXPECT_EQ(count_lines(log, " MOVETO:5 Successful."), 1);
}

// A load into A and, appended while the thread still runs, the unload of the same disc. The
// recorder's tray is opened ahead of the load, closed on the disc, reopened for the unload only
// 10.5 s after it closed, and picked from only 7.5 s after it opened; the printer tray is pulled
// in before the arm goes to the recorder.
TEST(SendThread, LoadAndUnloadWaitForTheRecorderTrayAndRecordTheBins) {
    JobWorld w(12);
    w.connect_printer();
    BYTE state_after_load = 0, source_after_load = 0, return_after_load = 0;
    w.host([&] {
        w.start_module();
        queue_load_into_a();
        StartSendThread(NULL);
        while (move_state(0) != MOVE_STATE_DONE) Sleep(100);
        state_after_load = g_Recorders[0].bTrayState;
        source_after_load = g_szPosition[0].bSourceBin;
        return_after_load = g_szPosition[0].bReturnBin;

        // The unload, while the printer tray happens to be out and the next input bin is in use:
        // taking the disc out must not record bins again.
        w.printer->set_tray_in(false);
        g_bInputBinIndex = 1;
        Queue_Cmd("_MOVE:", "A", 0);
        Queue_Cmd("PICKUP", NULL, 0);
        Queue_Cmd("_MOVE:", "3", 0);
        Queue_Cmd("DROPOFF", NULL, 0);
        Queue_Cmd("DONE:", NULL, '0');
        set_move_state(0, MOVE_STATE_POSTED);
        StartSendThread(NULL);
        sim_test::wait_for_send_thread();
    });
    sim::RunResult r = w.run();
    ASSERT_TRUE(r.ok()) << r.report;

    EXPECT_EQ(w.robot_commands(),
              Commands({"_MOVE:4", "_PICK", "_MOVE:A", "_PICK", "_PTI", "_MOVE:A", "_PICK", "_MOVE:3", "_PICK"}));
    EXPECT_EQ(w.robot->count_at("3"), 1u);
    EXPECT_EQ(w.robot->count_at("4"), 24u);
    EXPECT_FALSE(w.drive[0]->disc_inside().has_value());
    EXPECT_EQ(w.robot->check_conservation(), "");

    // Bookkeeping: closed on the disc with its bins after the load, closed empty after the
    // unload with the bins left alone.
    EXPECT_EQ(state_after_load, TRAY_STATE_CLOSED_WITH_DISC);
    EXPECT_EQ(source_after_load, '4');
    EXPECT_EQ(return_after_load, '3');
    EXPECT_EQ(g_Recorders[0].bTrayState, TRAY_STATE_CLOSED_EMPTY);
    EXPECT_EQ(g_szPosition[0].bSourceBin, '4');
    EXPECT_EQ(g_szPosition[0].bReturnBin, '3');
    EXPECT_EQ(move_state(0), MOVE_STATE_DONE);
    EXPECT_TRUE(w.drive[0]->tray_closed());

    const std::vector<Micros> opens = w.tray_calls(1, true), closes = w.tray_calls(1, false);
    ASSERT_EQ(opens.size(), 2u);
    ASSERT_EQ(closes.size(), 2u);
    EXPECT_LT(opens[0], w.robot_command_time("_MOVE:4")) << "the tray opens before the arm fetches the disc";
    EXPECT_LT(w.robot_command_time("_PICK", 1), closes[0]) << "closed after the drop";
    // Reopened only once 10.5 s have passed since it closed (it closed about 1.5 s before).
    EXPECT_GE(opens[1] - closes[0], 10500 * kMs);
    EXPECT_LE(opens[1] - closes[0], 10700 * kMs);
    // Then the printer tray in, then the move.
    EXPECT_GT(w.robot_command_time("_PTI"), opens[1]);
    EXPECT_GT(w.robot_command_time("_MOVE:A", 1), w.robot_command_time("_PTI") + 2 * kSecond);
    // The pick-up waits until 7.5 s have passed since the tray opened.
    const Micros pick = w.robot_command_time("_PICK", 2);
    EXPECT_GE(pick - opens[1], 7500 * kMs);
    EXPECT_LE(pick - opens[1], 7800 * kMs);
    EXPECT_LT(pick, closes[1]);

    const auto log = w.log();
    EXPECT_EQ(count_lines(log, "-->SendQueueThread() called"), 1) << "the unload was played by the same thread";
    EXPECT_EQ(count_lines(log, "Disc PICKED UP successfully"), 2);
    EXPECT_EQ(count_lines(log, "Disc DROPPED OFF successfully"), 2);
    EXPECT_EQ(count_lines(log, " MOVETO:A Successful."), 2);
    EXPECT_EQ(count_lines(log, "RoboStatus.bCurrentPosition=A  g_bCurrentPosition=A"), 2);
    EXPECT_EQ(g_bCmdIndex, 0);
}

// A move the robot never received is sent again, unchanged, on every pass that finds the arm
// elsewhere, for as long as it takes.
TEST(SendThread, UnconfirmedMoveIsResentWithoutLimit) {
    JobWorld w(13);
    w.cable->lose("_MOVE:G", 3);
    w.host([&] {
        w.start_module();
        Queue_Cmd("_MOVE:", NULL, 0);
        Queue_Cmd("PICKUP", NULL, 0);
        Queue_Cmd("_MOVE:", "G", 0);
        Queue_Cmd("DROPOFF", NULL, 0);
        StartSendThread(NULL);
        sim_test::wait_for_send_thread();
    });
    sim::RunResult r = w.run();
    ASSERT_TRUE(r.ok()) << r.report;

    EXPECT_EQ(w.cable->lost(), 3);
    EXPECT_EQ(w.robot_commands(), Commands({"_MOVE:4", "_PICK", "_MOVE:G", "_PICK"}));
    EXPECT_EQ(w.robot->count_at("G"), 1u);
    const auto log = w.log();
    EXPECT_EQ(count_lines(log, ">>Sent CMD = _MOVE:G"), 4);
    EXPECT_EQ(count_lines(log, " #@! RESEND=TRUE: g_bLastCommandSent=_MOVE:G  RoboStatus.bCurrentPosition=4"), 3);
    EXPECT_EQ(count_lines(log, "Next GLOBAL CMD = _MOVE:G   bIndex=3"), 1) << "a resend is not prepared again";
    EXPECT_EQ(count_lines(log, " MOVETO:G Successful."), 1);
    EXPECT_EQ(g_bCurrentPosition, 'G');
}

// "PICKUP" while the picker already holds a disc: the operator is asked; Retry takes the same
// pick-up again on the next pass, Cancel aborts before anything is sent, and the abort puts the
// held disc down at the reject position before the robot is reset.
TEST(SendThread, PickupWithADiscInThePickerAsksRetryThenCancelAborts) {
    JobWorld w(14);
    w.world.op().on_message_box("already holds one").answer(IDRETRY).times(1);
    w.world.op().on_message_box("already holds one").answer(IDCANCEL);
    w.host([&] {
        w.start_module();
        Queue_Cmd("_MOVE:", NULL, 0);
        Queue_Cmd("PICKUP", NULL, 0);
        Queue_Cmd("_MOVE:", NULL, 0);
        Queue_Cmd("PICKUP", NULL, 0);
        Queue_Cmd("_MOVE:", "A", 0);
        Queue_Cmd("DROPOFF", NULL, 0);
        StartSendThread(NULL);
        sim_test::wait_for_send_thread();
        w.wait_until_robot_rests();
    });
    sim::RunResult r = w.run();
    ASSERT_TRUE(r.ok()) << r.report;

    EXPECT_EQ(w.world.op().answers_given(), 2u);
    EXPECT_TRUE(sim_test::job_aborted());
    EXPECT_EQ(w.robot_commands(), Commands({"_MOVE:4", "_PICK", "_MOVE:4", "_MOVE:G", "_PICK", "_RESET"}));
    EXPECT_EQ(w.robot->count_at("G"), 1u);
    EXPECT_FALSE(w.robot->picker().has_value());
    EXPECT_EQ(w.robot->count_at("A"), 0u);

    const auto log = w.log();
    EXPECT_EQ(count_lines(log, "#$?% Trying to pick up a disc and already have a disc!!"), 2);
    EXPECT_EQ(count_lines(log, "Next GLOBAL CMD = PICKUP   bIndex=4"), 2) << "Retry took the same pick-up again";
    EXPECT_EQ(count_lines(log, "Next GLOBAL CMD = _MOVE:A   bIndex=5"), 0);
    // The abort: the four trays closed, the error cleared, then the disc rejected.
    const int abort_at = find_line(log, "->AbortJob()");
    ASSERT_GE(abort_at, 0);
    for (int row = 0; row < 4; ++row)
        EXPECT_GT(find_line(log, "CLOSE TRAY " + std::to_string(row), abort_at), abort_at);
    EXPECT_LT(find_line(log, "CLOSE TRAY 3", abort_at), find_line(log, "->KillError()", abort_at));
    EXPECT_GT(find_line(log, "<-AbortJob() exiting", abort_at), abort_at);
    EXPECT_GT(w.robot_command_time("_RESET"), w.tray_calls(4, false).back());
}

// "DROPOFF" with an empty picker: Retry goes back to the last pick-up's move in the same queue
// and the whole fetch is repeated; Cancel aborts, and with nothing in the picker the abort only
// resets the robot once the trays are closed.
TEST(SendThread, DropoffWithAnEmptyPickerRewindsToThePickupOrAborts) {
    JobWorld w(15);
    w.world.op().on_message_box("lost the disc").answer(IDRETRY).times(1);
    w.world.op().on_message_box("lost the disc").answer(IDCANCEL);
    w.host([&] {
        w.start_module();
        Queue_Cmd("_MOVE:", NULL, 0);
        Queue_Cmd("PICKUP", NULL, 0);
        Queue_Cmd("_MOVE:", "G", 0);
        Queue_Cmd("DROPOFF", NULL, 0);
        // The disc has already left the picker at "G" when this drop-off comes.
        Queue_Cmd("_MOVE:", "H", 0);
        Queue_Cmd("DROPOFF", NULL, 0);
        StartSendThread(NULL);
        sim_test::wait_for_send_thread();
    });
    sim::RunResult r = w.run();
    ASSERT_TRUE(r.ok()) << r.report;

    EXPECT_TRUE(sim_test::job_aborted());
    EXPECT_EQ(w.robot_commands(), Commands({"_MOVE:4", "_PICK", "_MOVE:G", "_PICK", "_MOVE:H", "_MOVE:4", "_PICK",
                                            "_MOVE:G", "_PICK", "_MOVE:H", "_RESET"}));
    EXPECT_EQ(w.robot->count_at("G"), 2u);
    EXPECT_EQ(w.robot->count_at("H"), 0u);
    const auto log = w.log();
    EXPECT_EQ(count_lines(log, "!!!Dropping off disc but do NOT have - must have lost -- go back"), 2);
    EXPECT_EQ(count_lines(log, "Next GLOBAL CMD = _MOVE:4   bIndex=1"), 0);
    EXPECT_EQ(count_lines(log, "Next GLOBAL CMD = _MOVE:   bIndex=1"), 2) << "Retry went back to the pick-up's move";
    const int abort_at = find_line(log, "->AbortJob()");
    ASSERT_GE(abort_at, 0);
    EXPECT_EQ(count_lines(log, "CLOSE TRAY 0"), 1);
    EXPECT_EQ(count_lines(log, "CLOSE TRAY 3"), 1);
    for (int unit = 1; unit <= 4; ++unit) {
        ASSERT_EQ(w.tray_calls(unit, false).size(), 1u);
        EXPECT_LT(w.tray_calls(unit, false)[0], w.robot_command_time("_RESET"));
    }
}

// "_TRAYIN" with the tray already in sends nothing and the next command goes out on the next
// pass; "_TRAYOUT" and "_TRAYIN" otherwise become the robot's "_TRAY".
TEST(SendThread, PrinterTrayCommandsOnlyMoveATrayThatIsElsewhere) {
    JobWorld w(16);
    w.connect_printer();
    Micros started = 0;
    w.host([&] {
        w.start_module();
        Queue_Cmd("_TRAYIN", NULL, 0);
        Queue_Cmd("_MOVE:", "5", 0);
        Queue_Cmd("_TRAYOUT", NULL, 0);
        Queue_Cmd("_MOVE:", "4", 0);
        Queue_Cmd("_TRAYIN", NULL, 0);
        Queue_Cmd("_MOVE:", "3", 0);
        started = now();
        StartSendThread(NULL);
        sim_test::wait_for_send_thread();
    });
    sim::RunResult r = w.run();
    ASSERT_TRUE(r.ok()) << r.report;

    EXPECT_EQ(w.robot_commands(), Commands({"_MOVE:5", "_TRAY", "_MOVE:4", "_TRAY", "_MOVE:3"}));
    EXPECT_LT(w.robot_command_time("_MOVE:5") - started, 700 * kMs) << "sent on the second pass";
    EXPECT_EQ(w.printer->tray_state(), 'I');
    const auto log = w.log();
    const int trayin = find_line(log, "Next GLOBAL CMD = _TRAYIN   bIndex=1");
    const int move = find_line(log, "Next GLOBAL CMD = _MOVE:5   bIndex=2");
    ASSERT_GE(trayin, 0);
    ASSERT_GT(move, trayin);
    for (int i = trayin; i < move; ++i) EXPECT_EQ(log[i].rfind(">>Sent CMD", 0), std::string::npos) << log[i];
    EXPECT_EQ(count_lines(log, ">>Sent CMD = _TRAY"), 2);
}

// The job is aborted while "PICKUP" waits for the recorder's tray: the pick is never sent; the
// abort sequence runs instead.
TEST(SendThread, AbortDuringPreparationStopsTheCommandBeforeItIsSent) {
    JobWorld w(17);
    Micros aborted_at = 0;
    w.host([&] {
        w.start_module();
        put_recorded_disc_in_a(w);
        Queue_Cmd("_MOVE:", "A", 0);
        Queue_Cmd("PICKUP", NULL, 0);
        Queue_Cmd("_MOVE:", "3", 0);
        Queue_Cmd("DROPOFF", NULL, 0);
        StartSendThread(NULL);
        // Once the arm is at the open recorder the pick-up is being prepared (it waits 7.5 s
        // for the tray); the host aborts the job meanwhile.
        while (!(w.robot->position() == 'A' && !w.robot->busy())) Sleep(50);
        Sleep(1000);
        aborted_at = now();
        sim_test::abort_job_from_host();
        sim_test::wait_for_send_thread();
    });
    sim::RunResult r = w.run();
    ASSERT_TRUE(r.ok()) << r.report;

    EXPECT_EQ(w.robot_commands(), Commands({"_MOVE:A", "_RESET"}));
    EXPECT_TRUE(w.drive[0]->disc_inside().has_value()) << "the disc stayed in the recorder";
    const std::vector<Micros> opens = w.tray_calls(1, true);
    ASSERT_EQ(opens.size(), 1u);
    EXPECT_LT(aborted_at, opens[0] + 7500 * kMs);
    EXPECT_GT(w.robot_command_time("_RESET"), opens[0] + 7500 * kMs) << "the tray wait ran to its end first";
    const auto log = w.log();
    const int prepared = find_line(log, "Next GLOBAL CMD = PICKUP   bIndex=2");
    ASSERT_GE(prepared, 0);
    EXPECT_EQ(count_lines(log, ">>Sent CMD = _PICK"), 0);
    EXPECT_GT(find_line(log, "->AbortJob()"), prepared);
    EXPECT_EQ(count_lines(log, "SendQueueThread() RETURNING-->"), 1);
}

// The pick-up at a recorder finds the arm somewhere else than the module last confirmed (it was
// moved while the tray was being reseated): the queue goes back to the move before the pick-up.
TEST(SendThread, PickupInTheWrongPositionGoesBackToTheMove) {
    JobWorld w(18);
    w.host([&] {
        w.start_module();
        put_recorded_disc_in_a(w);
        w.robot->fail_next_picks(1);
        // A stray move reaches the robot during the 15 s the recorder's tray stays closed.
        sim_test::when([&] { return w.robot->error() == 'F'; },
                       [&] {
                           w.robot->after(5 * kSecond, [](sim::Robot& r) {
                               for (char c : std::string("_MOVE:5")) r.on_byte(static_cast<uint8_t>(c));
                           });
                       });
        Queue_Cmd("_MOVE:", "A", 0);
        Queue_Cmd("PICKUP", NULL, 0);
        Queue_Cmd("_MOVE:", "3", 0);
        Queue_Cmd("DROPOFF", NULL, 0);
        StartSendThread(NULL);
        sim_test::wait_for_send_thread();
    });
    sim::RunResult r = w.run();
    ASSERT_TRUE(r.ok()) << r.report;

    EXPECT_EQ(w.robot_commands(),
              Commands({"_MOVE:A", "_PICK", "_KILL", "_MOVE:5", "_MOVE:A", "_PICK", "_MOVE:3", "_PICK"}));
    EXPECT_EQ(w.robot->count_at("3"), 1u);
    const auto log = w.log();
    const int wrong = find_line(log, "!!!Trying to pick up disc but IN WRONG POSITION - go back to MOVE command");
    ASSERT_GE(wrong, 0);
    EXPECT_EQ(log[wrong + 1], "RoboPosition=5  CurrentPosition=A");
    EXPECT_EQ(find_line(log, "Next GLOBAL CMD = _MOVE:A   bIndex=1", wrong), wrong + 2);
    EXPECT_EQ(count_lines(log, "Disc PICKED UP successfully"), 1);
}

// "XFER:" carries the discs waiting for the printer from their return bins back to their source
// bins (the last waiting print first), behind whatever the global queue holds, then pulls the
// printer tray in. A slot without bins is refused rather than turned into a move to the input bin.
TEST(SendThread, TransferQueuesTheMovesOfTheWaitingDiscs) {
    sim::RobotConfig rc;
    rc.initial_discs['3'] = 2;
    JobWorld w(19, rc);
    w.host([&] {
        w.start_module();
        EnterCriticalSection(&g_csModule);
        g_bPendingPrints = 3;
        g_PrintSlots[1].bReturnBin = '3';
        g_PrintSlots[1].bSourceBin = '5';
        g_PrintSlots[2].bReturnBin = '3';
        g_PrintSlots[2].bSourceBin = '1';
        g_PrintSlots[3].bReturnBin = 0;
        g_PrintSlots[3].bSourceBin = 0;
        LeaveCriticalSection(&g_csModule);
        PRN_Queue("XFER:", NULL, 0);
        StartSendThread(NULL);
        sim_test::wait_for_send_thread();
    });
    sim::RunResult r = w.run();
    ASSERT_TRUE(r.ok()) << r.report;

    EXPECT_EQ(w.robot_commands(), Commands({"_MOVE:3", "_PICK", "_MOVE:1", "_PICK", "_MOVE:3", "_PICK", "_MOVE:5", "_PICK"}));
    EXPECT_EQ(w.robot->count_at("3"), 0u);
    EXPECT_EQ(w.robot->count_at("1"), 26u);
    EXPECT_EQ(w.robot->count_at("5"), 26u);
    const auto log = w.log();
    EXPECT_EQ(count_lines(log, "ERROR: XFER: print slot 3 has no bins - its disc is not moved"), 1);
    const int xfer = find_line(log, "Next PRINT CMD = XFER:   bIndex2=1");
    ASSERT_GE(xfer, 0);
    EXPECT_GT(find_line(log, "Queue_Cmd: DROPOFF   (g_bCmdIndex=8)", xfer), xfer);
    EXPECT_GT(find_line(log, "PRN_Queue: _TRAYIN   (g_bPRN_Index=2)", xfer), xfer);
    // The printer tray does not answer (no printer): "_TRAYIN" sends nothing, and comes last.
    const int trayin = find_line(log, "Next PRINT CMD = _TRAYIN   bIndex2=2", xfer);
    EXPECT_GT(trayin, find_line(log, "Next GLOBAL CMD = DROPOFF   bIndex=8", xfer));
}

}  // namespace
