// Jobs through the exports on a whole simulated autoloader (a recording host's whole job, with
// failed recordings rejected to G: tests/tool/run_checks.sh, the "rejects" run): the reject
// positions filling up; the move requests' own rules (no-error mode, one send thread); the job
// bracket (concurrent jobs, a robot that is not ready, a disc left on the picker); the printer moves.
#include <windows.h>

#include <string>
#include <vector>

#include "foundation/job_state.h"
#include "foundation/module_context.h"
#include "printer/printer_state.h"
#include "resources/resource.h"
#include "robot/robo_status.h"
#include "sequencer/command_queue.h"
#include "sequencer/send_thread.h"
#include "setup/recorders.h"
#include "support/host_world.h"
#include "support/module_state.h"
#include "support/printer_world.h"
#include "win32/files.h"

namespace {

using sim_test::count;
using sim_test::init;
using sim_test::logged;
using sim_test::wait_move;

// The reject positions: 25 discs on "G", the next 25 on "H", then the operator is asked; Retry
// (after emptying them) starts again at "G". The requests are queued only: no disc moves. (The
// question's text and Cancel aborting the job: tests/scenarios/rejects-both-full.)
TEST(Job, RejectPositionsFillUpAndRetryStartsAgainAtG) {
    sim::Autoloader m(sim_test::autoloader());
    sim_test::answer_printer_choice(m);
    m.world.op().on_message_box("reject positions are full").answer(IDRETRY);
    std::vector<std::string> targets;
    sim_test::run_host(m, [&] {
        init(m);
        ASSERT_EQ(Rovane_JobBeginsOrEnds(0, 60, ROVANE_JOB_BEGIN), ROVANE_JOB_OK);
        sim_test::with_send_thread_held_off();  // the requests only fill the queue here
        for (int i = 0; i < 51; ++i) {
            const BYTE before = g_bCmdIndex;
            Rovane_PostMoveDisc(1, ROVANE_MOVE_REJECT, 0, 0);
            targets.push_back(g_bCmdIndex > before + 2 ? g_szGlobalQueue[before + 2] : "");
            sim_test::with_empty_global_queue();
        }
        EXPECT_EQ(g_bRejectCount, 1) << "Retry empties both, the 51st goes to G";
        EXPECT_EQ(g_bReject2Count, 0);
        sim_test::with_send_thread_gone();
        Rovane_JobBeginsOrEnds(0, 60, ROVANE_JOB_ABORT);
    });
    ASSERT_EQ(targets.size(), 51u);
    EXPECT_EQ(count(targets, "_MOVE:G"), 26);
    EXPECT_EQ(count(targets, "_MOVE:H"), 25);
    EXPECT_EQ(targets[24], "_MOVE:G");
    EXPECT_EQ(targets[25], "_MOVE:H");
    EXPECT_EQ(targets[50], "_MOVE:G");
    EXPECT_EQ(count(m.log_texts(), "-->SendQueueThread() called"), 0) << "nothing was played";
}

// The requests' own rules: no-error mode lasts until the next request; a second request while the
// thread runs starts no second thread. (An unsupported action, an unknown one and an unknown unit:
// tests/scenarios/job-unsupported.)
TEST(Job, MoveRequestsKeepOneSendThreadAndTheirModes) {
    sim::Autoloader m(sim_test::autoloader());
    sim_test::answer_printer_choice(m);
    LONG no_error_after_101 = -1, no_error_after_next = -1;
    DWORD loaded = 0, unloaded = 0;
    int threads_for_loads = 0;
    sim_test::run_host(m, [&] {
        init(m);
        ASSERT_EQ(Rovane_JobBeginsOrEnds(0, 2, ROVANE_JOB_BEGIN), ROVANE_JOB_OK);
        Rovane_PostMoveDisc(1, 101, 0, 0);
        no_error_after_101 = g_fNoErrorMode;
        Rovane_PostMoveDisc(2, ROVANE_MOVE_LOAD, 0, 0);
        no_error_after_next = g_fNoErrorMode;
        loaded = wait_move(1) == ROVANE_DONE && wait_move(2) == ROVANE_DONE;
        threads_for_loads = count(m.log_texts(), "-->SendQueueThread() called");
        Rovane_PostMoveDisc(1, ROVANE_MOVE_UNLOAD, 0, 0);
        unloaded = wait_move(1);
        Rovane_JobBeginsOrEnds(0, 2, ROVANE_JOB_END);
    });
    EXPECT_EQ(no_error_after_101, 1);
    EXPECT_EQ(no_error_after_next, 0);
    EXPECT_TRUE(loaded);
    EXPECT_EQ(unloaded, ROVANE_DONE);
    EXPECT_EQ(threads_for_loads, 1) << "the second load joined the thread the first one started";
    EXPECT_EQ(m.robot->count_at("3"), 1u);
    EXPECT_EQ(m.robot->count_at("B"), 1u) << "the second disc stays in its recorder";
}

// The job bracket keeps the reject counts only for a begin within 5 s of the last end, which
// continues the job. (The resets of nested ends: tests/scenarios/job-nested-begins; the questions
// of a later begin: bin-question.)
TEST(Job, NestedAndConcurrentJobsKeepTheirCounts) {
    sim::Autoloader m(sim_test::autoloader());
    sim_test::answer_printer_choice(m);
    m.world.op().on_message_box("Initial input bin").answer(IDNO);
    BYTE rejects_concurrent = 0, rejects_later = 0;
    sim_test::run_host(m, [&] {
        init(m);
        Rovane_JobBeginsOrEnds(0, 1, ROVANE_JOB_BEGIN);
        Rovane_JobBeginsOrEnds(0, 1, ROVANE_JOB_BEGIN);
        Rovane_JobBeginsOrEnds(0, 1, ROVANE_JOB_END);
        sim_test::with_rejects(7);
        Rovane_JobBeginsOrEnds(0, 1, ROVANE_JOB_END);
        Sleep(4000);
        Rovane_JobBeginsOrEnds(0, 1, ROVANE_JOB_BEGIN);
        rejects_concurrent = g_bRejectCount;
        Rovane_JobBeginsOrEnds(0, 1, ROVANE_JOB_END);
        Sleep(6000);
        Rovane_JobBeginsOrEnds(0, 1, ROVANE_JOB_BEGIN);
        rejects_later = g_bRejectCount;
        Rovane_JobBeginsOrEnds(0, 1, ROVANE_JOB_END);
    });
    EXPECT_EQ(rejects_concurrent, 7) << "a begin 4 s after the end continues the job";
    EXPECT_EQ(rejects_later, 0);
    EXPECT_EQ(count(m.log_texts(), "ConcurrentJob = TRUE"), 2);
}

// A robot not ready at a begin: an error shows 135 at once; a silent robot shows 130 only after
// just over 10 s; a disc left on the picker is dropped before the first move.
TEST(Job, BeginWaitsForARobotThatIsNotReadyAndClearsThePicker) {
    sim::Autoloader m(sim_test::autoloader());
    sim_test::answer_printer_choice(m);
    sim::Micros error_asked_after = 0, silence_asked_after = 0, t0 = 0;
    m.world.op().on_message_box("reports an error").then([&] {
        error_asked_after = sim::kernel().now() - t0;
        m.robot->press_pause_and_pick();
    }).answer(IDRETRY);
    m.world.op().on_message_box("No response").then([&] {
        silence_asked_after = sim::kernel().now() - t0;
        m.robot->power_on();
    }).answer(IDRETRY);
    m.world.op().on_dialog(IDD_OPTIONS).click(IDCANCEL);
    LONG first = 0, second = 0;
    DWORD loaded = 0;
    size_t on_picker = 0;
    std::vector<std::string> after_begin;
    sim_test::run_host(m, [&] {
        init(m);
        // A first job unloads to output bin 3, where a reset brings the arm home.
        Rovane_JobBeginsOrEnds(0, 1, ROVANE_JOB_BEGIN);
        Rovane_PostMoveDisc(1, ROVANE_MOVE_LOAD, 0, 0);
        wait_move(1);
        Rovane_PostMoveDisc(1, ROVANE_MOVE_UNLOAD, 0, 0);
        wait_move(1);
        Rovane_JobBeginsOrEnds(0, 1, ROVANE_JOB_END);
        Sleep(8000);
        // Someone picks that disc up at the robot's buttons and leaves it there, with an error.
        for (char c : std::string("_PICK")) m.robot->on_byte(static_cast<uint8_t>(c));
        Sleep(5000);
        on_picker = m.robot->count_at("picker");
        m.robot->raise_error('F', "left over");

        t0 = sim::kernel().now();
        first = Rovane_JobBeginsOrEnds(0, 1, ROVANE_JOB_BEGIN);
        Rovane_JobBeginsOrEnds(0, 1, ROVANE_JOB_END);

        m.robot->power_off();
        Sleep(6000);
        t0 = sim::kernel().now();
        second = Rovane_JobBeginsOrEnds(0, 1, ROVANE_JOB_BEGIN);
        after_begin = sim_test::robot_commands(m);
        Rovane_PostMoveDisc(2, ROVANE_MOVE_LOAD, 0, 0);
        loaded = wait_move(2);
        Rovane_JobBeginsOrEnds(0, 1, ROVANE_JOB_END);
    });
    ASSERT_EQ(on_picker, 1u);
    EXPECT_EQ(first, ROVANE_JOB_OK);
    EXPECT_LT(error_asked_after, 2 * sim::kSecond) << "an error is asked about at once";
    EXPECT_EQ(second, ROVANE_JOB_OK);
    EXPECT_GT(silence_asked_after, 10 * sim::kSecond) << "a silent robot gets its grace";
    EXPECT_LT(silence_asked_after, 13 * sim::kSecond);
    EXPECT_TRUE(logged(m, "Disc left on picker - we must queue command to reject"));
    EXPECT_EQ(loaded, ROVANE_DONE);
    std::vector<std::string> job = sim_test::robot_commands(m);
    job.erase(job.begin(), job.begin() + static_cast<long>(after_begin.size()));
    ASSERT_GE(job.size(), 2u);
    EXPECT_EQ(job[0], "_PICK") << "the disc on the picker is dropped where the arm is, before the first move";
    EXPECT_EQ(job[1], "_MOVE:4");
    EXPECT_EQ(m.robot->count_at("picker"), 0u);
    EXPECT_EQ(m.robot->count_at("3"), 1u);
    EXPECT_EQ(m.check_invariants(true), "");
}

// A laminator installed but silent while it is not in use: its tray may stand where the fourth
// input bin is, so a job that does not continue another asks; No leaves three bins. (The question
// itself, and not asked again by a begin within 5 s: tests/scenarios/job-three-bins-question.)
TEST(Job, SilentLaminatorNotInUseOffersThreeBins) {
    sim::AutoloaderConfig c = sim_test::autoloader();
    c.laminator = true;
    sim::Autoloader m(c);
    m.laminator->go_silent();
    sim_test::answer_printer_choice(m);
    m.world.op().on_message_box("all 4 input bins").answer(IDNO);
    DWORD bins = 0;
    sim_test::run_host(m, [&] {
        init(m);
        ASSERT_EQ(g_fLaminator, FALSE) << "the printer dialog left the laminator unticked";
        ASSERT_EQ(Rovane_JobBeginsOrEnds(0, 1, ROVANE_JOB_BEGIN), ROVANE_JOB_OK);
        bins = g_dwBinCount;
        Rovane_JobBeginsOrEnds(0, 1, ROVANE_JOB_END);
    });
    EXPECT_EQ(bins, 3u);
    EXPECT_TRUE(logged(m, "User selected to use only 3 bins"));
}

// The printer moves as the queue receives them: a "Tessik 6" takes its tray in with "_PTI" (and
// the log says so), any other printer with "_TRAYIN"; 410 opens the recorder's tray first.
TEST(Job, PrinterMovesQueueTheirSequencesWithThePrinterTrayStep) {
    sim::Autoloader m(sim_test::autoloader());
    sim_test::answer_printer_choice(m);
    std::vector<std::vector<std::string>> queued;
    sim_test::run_host(m, [&] {
        init(m);
        Rovane_JobBeginsOrEnds(0, 3, ROVANE_JOB_BEGIN);
        sim_test::with_send_thread_held_off();  // the requests only fill the queue here
        sim_test::with_return_bin(0, '3');
        const struct {
            const char* printer;
            LONG action;
        } requests[] = {{"Tessik 6 Disc", 400}, {"Pellan IV", 400}, {"Tessik 6 Disc", 410}, {"Pellan IV", 1000}};
        for (const auto& r : requests) {
            sim_test::with_printer_name(r.printer);
            Rovane_PostMoveDisc(1, r.action, 0, 0);
            queued.push_back(sim_test::global_queue());
            sim_test::with_empty_global_queue();
        }
        sim_test::with_send_thread_gone();
        Rovane_JobBeginsOrEnds(0, 3, ROVANE_JOB_ABORT);
    });
    using Q = std::vector<std::string>;
    ASSERT_EQ(queued.size(), 4u);
    EXPECT_EQ(queued[0], Q({"_MOVE:A", "PICKUP", "_TRAYOUT", "_MOVE:S", "DROPOFF", "_PTI", "DONE:0"}));
    EXPECT_EQ(queued[1], Q({"_MOVE:A", "PICKUP", "_TRAYOUT", "_MOVE:S", "DROPOFF", "_TRAYIN", "DONE:0"}));
    EXPECT_EQ(queued[2], Q({"A", "_TRAYOUT", "_MOVE:S", "PICKUP", "_PTI", "_MOVE:A", "DROPOFF", "DONE:0"}));
    EXPECT_EQ(queued[3], Q({"_MOVE:", "PICKUP", "_TRAYOUT", "_MOVE:S", "DROPOFF", "_TRAYIN", "DONE:0"}));
    EXPECT_EQ(count(m.log_texts(), "Queueing z6 Move Printer tray and wait"), 2);
    EXPECT_EQ(g_bOutputPosition, '3') << "the recorder's return bin is where the printed disc goes";
}

}  // namespace
