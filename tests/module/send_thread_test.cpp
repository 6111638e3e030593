// The send thread against the virtual robot and four recorders: the end of the queues, the
// preparation of each command (tray waits, picker and position checks with their rewinds, the
// printer tray commands, transfers), resends, and an abort during preparation.
#include <windows.h>

#include <string>
#include <vector>

#include "foundation/job_state.h"
#include "printer/printer_state.h"
#include "resources/resource.h"
#include "sequencer/command_queue.h"
#include "sequencer/send_thread.h"
#include "setup/recorders.h"
#include "setup/tray_control.h"
#include "support/job_world.h"
#include "support/module_state.h"

namespace {

using namespace sim_test;

// A thread started on empty queues ends once the robot answers. Then a load into A and,
// appended while the thread still runs, the unload of the same disc: the recorder's tray is
// opened ahead of the load, closed on the disc, reopened for the unload only 10.5 s after it
// closed and picked from only 7.5 s after it opened; the printer tray is pulled in before the arm
// goes to the recorder.
TEST(SendThread, EmptyQueuesEndTheThreadThenLoadAndUnloadWaitForTheRecorderTray) {
    JobWorld w(12);
    w.connect_printer();
    Micros powered_on_at = 0, empty_ended_at = 0;
    int started = 0, second_start = -1;
    BYTE state_after_load = 0, source_after_load = 0, return_after_load = 0;
    w.host([&] {
        w.start_module();
        w.robot->power_off();
        powered_on_at = now() + 3 * kSecond;
        w.robot->at(powered_on_at, [](sim::Robot& r) { r.power_on(); });
        started += StartSendThread(NULL);
        sim_test::wait_for_send_thread();
        empty_ended_at = now();

        Queue_Cmd("A", NULL, 0);
        queue_fetch(NULL, "A");
        Queue_Cmd("DONE:", NULL, '0');
        sim_test::with_move_posted(0);
        started += StartSendThread(NULL);
        second_start = StartSendThread(NULL);
        while (g_Recorders[0].dwMoveState != MOVE_STATE_DONE) Sleep(100);
        state_after_load = g_Recorders[0].bTrayState;
        source_after_load = g_szPosition[0].bSourceBin;
        return_after_load = g_szPosition[0].bReturnBin;

        // The printer tray happens to be out and the next input bin is in use.
        w.printer->set_tray_in(false);
        sim_test::with_input_bin(1);
        queue_fetch("A", "3");
        Queue_Cmd("DONE:", NULL, '0');
        sim_test::with_move_posted(0);
        started += StartSendThread(NULL);
        sim_test::wait_for_send_thread();
    });
    ASSERT_TRUE(w.ran());

    EXPECT_GE(empty_ended_at, powered_on_at) << "the thread on empty queues waited for the robot's answer";
    EXPECT_EQ(started, 2) << "a new thread after the empty one; the unload joined the running one";
    EXPECT_EQ(second_start, 0) << "one send thread at a time";
    EXPECT_EQ(g_bCmdIndex, 0) << "the queue emptied at the end";
    EXPECT_EQ(w.robot_commands(),
              Commands({"_MOVE:4", "_PICK", "_MOVE:A", "_PICK", "_PTI", "_MOVE:A", "_PICK", "_MOVE:3", "_PICK"}))
        << "the load, the printer tray in, the unload";
    EXPECT_EQ(w.robot->count_at("3"), 1u) << "the disc reached the output bin";
    EXPECT_EQ(sim_test::count_lines(w.log(), "Disc DROPPED OFF successfully"), 2)
        << "the last drop-off verified before the thread ended";

    EXPECT_EQ(state_after_load, TRAY_STATE_CLOSED_WITH_DISC) << "load: closed on the disc";
    EXPECT_EQ(source_after_load, '4') << "load: source bin recorded";
    EXPECT_EQ(return_after_load, '3') << "load: return bin recorded";
    EXPECT_EQ(g_Recorders[0].bTrayState, TRAY_STATE_CLOSED_EMPTY) << "unload: closed empty";
    EXPECT_EQ(g_szPosition[0].bSourceBin, '4') << "unload: bins left alone";
    EXPECT_EQ(g_szPosition[0].bReturnBin, '3') << "unload: bins left alone";
    EXPECT_TRUE(w.drive[0]->tray_closed()) << "the recorder's tray left closed";

    const std::vector<Micros> opens = w.tray_calls(1, true), closes = w.tray_calls(1, false);
    ASSERT_EQ(opens.size(), 2u) << "opened for the load and for the unload";
    ASSERT_EQ(closes.size(), 2u) << "closed on the disc and empty";
    EXPECT_LT(opens[0], w.robot_command_time("_MOVE:4")) << "the tray opens before the arm fetches the disc";
    EXPECT_LT(w.robot_command_time("_PICK", 1), closes[0]) << "closed after the drop";
    EXPECT_GE(opens[1] - closes[0], 10500 * kMs) << "reopened only 10.5 s after it closed";
    EXPECT_LE(opens[1] - closes[0], 10700 * kMs) << "and no later";
    EXPECT_GT(w.robot_command_time("_PTI"), opens[1]) << "printer tray in after the recorder opened";
    EXPECT_GT(w.robot_command_time("_MOVE:A", 1), w.robot_command_time("_PTI") + 2 * kSecond)
        << "the arm moves to the recorder once the printer tray is in";
    const Micros pick = w.robot_command_time("_PICK", 2);
    EXPECT_GE(pick - opens[1], 7500 * kMs) << "picked only 7.5 s after the tray opened";
    EXPECT_LE(pick - opens[1], 7800 * kMs) << "and no later";
    EXPECT_LT(pick, closes[1]) << "closed after the pick";
}

// "_TRAYIN" with the tray already in sends nothing and the next command goes out on the next
// pass; otherwise the tray commands become "_TRAY". "XFER:" queues the moves of the discs waiting
// for the printer (the last waiting first), refusing a slot without bins, then pulls the printer
// tray in. A move lost on the line is sent again, unchanged, on every pass until it arrives.
TEST(SendThread, TrayCommandsOnlyWhenNeededTransferQueuesMovesAndALostMoveIsResent) {
    sim::RobotConfig rc;
    rc.initial_discs['3'] = 2;
    JobWorld w(16, rc);
    w.connect_printer();
    w.cable->lose("_MOVE:1", 3);
    Micros started = 0;
    ASSERT_TRUE(w.ran_job([&] {
        sim_test::with_pending_prints(3);
        sim_test::with_print_slot_bins(1, '3', '5');
        sim_test::with_print_slot_bins(2, '3', '1');
        sim_test::with_print_slot_bins(3, 0, 0);
        Queue_Cmd("_TRAYIN", NULL, 0);
        Queue_Cmd("_MOVE:", "5", 0);
        Queue_Cmd("_TRAYOUT", NULL, 0);
        PRN_Queue("XFER:", NULL, 0);
        started = now();
    }));

    EXPECT_EQ(w.robot_commands(), Commands({"_MOVE:5", "_TRAY", "_MOVE:3", "_PICK", "_MOVE:1", "_PICK", "_MOVE:3",
                                            "_PICK", "_MOVE:5", "_PICK", "_TRAY"}))
        << "nothing for _TRAYIN at first, the tray out, the transfer's moves, last the printer tray in";
    EXPECT_LT(w.robot_command_time("_MOVE:5") - started, 700 * kMs) << "the move after _TRAYIN went on the next pass";
    EXPECT_EQ(w.robot->count_at("1"), 26u) << "slot 2's disc back to its source bin";
    EXPECT_EQ(w.robot->count_at("5"), 26u) << "slot 1's disc back to its source bin";
    EXPECT_EQ(w.cable->lost(), 3) << "the line lost the move three times";
    const auto log = w.log();
    EXPECT_EQ(sim_test::count_lines(log, ">>Sent CMD = _MOVE:1"), 4) << "the lost move sent again until it arrived";
    EXPECT_EQ(sim_test::count_lines(log, "Next GLOBAL CMD = _MOVE:1   bIndex=6"), 1) << "resent, not prepared again";
}

// "PICKUP" while the picker already holds a disc: Retry takes the same pick-up again, Cancel
// aborts before anything is sent; the abort closes the trays and puts the held disc down at the
// reject position before the robot is reset.
TEST(SendThread, PickupWithADiscInThePickerAsksRetryThenCancelAborts) {
    JobWorld w(14);
    w.world.op().on_message_box("already holds one").answer(IDRETRY).times(1);
    w.world.op().on_message_box("already holds one").answer(IDCANCEL);
    ASSERT_TRUE(w.ran_job([&] {
        Queue_Cmd("_MOVE:", NULL, 0);
        Queue_Cmd("PICKUP", NULL, 0);
        queue_fetch(NULL, "A");
    }, true));

    EXPECT_EQ(w.world.op().answers_given(), 2u) << "asked again after Retry";
    EXPECT_TRUE(sim_test::job_aborted()) << "Cancel aborted the job";
    EXPECT_EQ(w.robot_commands(), Commands({"_MOVE:4", "_PICK", "_MOVE:4", "_MOVE:G", "_PICK", "_RESET"}))
        << "no second pick-up, no move to A";
    EXPECT_EQ(w.robot->count_at("G"), 1u) << "the held disc rejected";
    EXPECT_FALSE(w.robot->picker().has_value()) << "the picker left empty";
    for (int unit = 1; unit <= 4; ++unit) {
        ASSERT_EQ(w.tray_calls(unit, false).size(), 1u) << "unit " << unit << " closed by the abort";
        EXPECT_LT(w.tray_calls(unit, false)[0], w.robot_command_time("_MOVE:G")) << "before the disc is rejected";
    }
}

// "DROPOFF" with an empty picker: Retry goes back to the move of the last pick-up in the same
// queue and the whole fetch is repeated; Cancel aborts, and with nothing in the picker the abort
// only resets the robot.
TEST(SendThread, DropoffWithAnEmptyPickerRewindsToThePickupOrAborts) {
    JobWorld w(15);
    w.world.op().on_message_box("lost the disc").answer(IDRETRY).times(1);
    w.world.op().on_message_box("lost the disc").answer(IDCANCEL);
    ASSERT_TRUE(w.ran_job([&] {
        queue_fetch(NULL, "G");
        Queue_Cmd("_MOVE:", "H", 0);  // the disc already left the picker at "G"
        Queue_Cmd("DROPOFF", NULL, 0);
    }));

    EXPECT_TRUE(sim_test::job_aborted()) << "Cancel aborted the job";
    EXPECT_EQ(w.robot_commands(), Commands({"_MOVE:4", "_PICK", "_MOVE:G", "_PICK", "_MOVE:H", "_MOVE:4", "_PICK",
                                            "_MOVE:G", "_PICK", "_MOVE:H", "_RESET"}))
        << "Retry repeated the fetch from its move; Cancel only reset the robot";
    EXPECT_EQ(w.robot->count_at("G"), 2u) << "the fetch was repeated";
    EXPECT_EQ(w.robot->count_at("H"), 0u) << "nothing dropped at H";
}

// The job is aborted while "PICKUP" waits for the recorder's tray: the pick is never sent; the
// abort sequence runs instead, once the wait is over.
TEST(SendThread, AbortDuringPreparationStopsTheCommandBeforeItIsSent) {
    JobWorld w(17);
    Micros aborted_at = 0;
    w.host([&] {
        w.start_module();
        w.recorded_disc_in_a();
        queue_fetch("A", "3");
        StartSendThread(NULL);
        // At the open recorder the pick-up is being prepared (it waits 7.5 s for the tray).
        while (!(w.robot->position() == 'A' && !w.robot->busy())) Sleep(50);
        Sleep(1000);
        aborted_at = now();
        sim_test::abort_job_from_host();
        sim_test::wait_for_send_thread();
    });
    ASSERT_TRUE(w.ran());

    EXPECT_EQ(w.robot_commands(), Commands({"_MOVE:A", "_RESET"})) << "no _PICK after the abort";
    EXPECT_TRUE(w.drive[0]->disc_inside().has_value()) << "the disc stayed in the recorder";
    const std::vector<Micros> opens = w.tray_calls(1, true);
    ASSERT_EQ(opens.size(), 1u) << "the tray opened for the unload";
    EXPECT_LT(aborted_at, opens[0] + 7500 * kMs) << "aborted during the tray wait";
    EXPECT_GT(w.robot_command_time("_RESET"), opens[0] + 7500 * kMs) << "the tray wait ran to its end first";
}

}  // namespace
