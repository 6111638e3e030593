// The laminator in the module's life and in its jobs, on a whole simulated autoloader: start-up
// and shutdown bring its tray out and start its heater; a job begin finds a disc left in it and
// queues its removal to the reject position, played before the job's first move; a laminator
// that cannot be reached keeps the job from starting; every job uses three input bins.
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "devices/laminator.h"
#include "foundation/job_state.h"
#include "printer/printer_state.h"
#include "sequencer/command_queue.h"
#include "support/host_world.h"
#include "support/printer_world.h"

namespace {

using sim_test::count;
using sim_test::init;

// An autoloader with the laminator; the printer selection dialog of start-up (no printer named in
// the settings) is confirmed with "Use Laminator" as the module ticks it.
sim::AutoloaderConfig laminator_machine() {
    sim::AutoloaderConfig c = sim_test::autoloader();
    c.disc_printer = "Pellan IV";
    c.laminator = true;
    return c;
}

void confirm_printer_choice(sim::Autoloader& m) { m.world.op().on_dialog(122).click(IDOK); }

// Start-up brings the laminator's tray out, then starts its heater; a job begin starts it again;
// shutdown moves the tray out first. A disc in the laminator (its tray in, "D") at a job begin is
// a reject whose commands wait in the queue until the first move request starts the send thread.
// (What is queued, with the tray in and with it out: tests/tool/world_fault_checks.sh, "laminator
// disc D" and "W"; played before that request's own, the disc ending on G: tests/scenarios/lam-only.)
TEST(LaminatorJob, TrayOutAndHeaterAtStartUpAndBeginDiscLeftRejectedFirstTrayOutAtShutdown) {
    sim::AutoloaderConfig c = laminator_machine();
    c.laminator_config.report_disc_in = true;
    sim::Autoloader m(c);
    confirm_printer_choice(m);
    std::vector<std::string> sent_by_begin;
    size_t robot_before = 0;
    DWORD bins = 0;
    BYTE rejects = 0;
    std::vector<uint8_t> after_init, after_begin;
    sim_test::run_host(m, [&] {
        init(m);
        ASSERT_EQ(g_fLaminator, TRUE) << "the selection dialog ticks \"Use Laminator\" by itself";
        after_init = m.laminator->executed_codes();
        ASSERT_NE(m.robot->place_new_disc('E'), 0u) << "the tray is out after start-up";
        m.laminator->set_tray_now(false);
        robot_before = sim_test::robot_commands(m).size();
        ASSERT_EQ(Rovane_JobBeginsOrEnds(0, 1, ROVANE_JOB_BEGIN), ROVANE_JOB_OK);
        after_begin = m.laminator->executed_codes();
        sent_by_begin = sim_test::robot_commands(m);
        bins = g_dwBinCount;
        rejects = g_bRejectCount;
        Rovane_PostMoveDisc(1, ROVANE_MOVE_LOAD, 0, 0);
        while (Rovane_CheckMoveDisc(1) == ROVANE_IN_PROGRESS) Sleep(500);
        Rovane_JobBeginsOrEnds(0, 1, ROVANE_JOB_END);
        m.laminator->set_tray_now(false);
        char text[ROVANE_END_TEXT_SIZE] = {};
        Rovane_End(text);
    });
    EXPECT_EQ(after_init, std::vector<uint8_t>({sim::kLamCmdTrayOut, sim::kLamCmdHeater}))
        << "the tray goes out before the heater starts";
    EXPECT_EQ(std::vector<uint8_t>(after_begin.begin() + static_cast<long>(after_init.size()), after_begin.end()),
              std::vector<uint8_t>({sim::kLamCmdHeater}))
        << "the job begin starts the heater again";
    // In the log: the tray move ends before the heater starts, and shutdown moves the tray first.
    const std::vector<std::string> log = sim_test::lines_from(m.log_texts(), "Moving Laminator Tray OUT, ");
    const auto returned = std::find(log.begin(), log.end(), " MoveLaminatorTray returning");
    ASSERT_NE(returned, log.end());
    EXPECT_NE(std::find(returned, log.end(), "Laminator Heater starting..."), log.end());
    const std::vector<std::string> end_log =
        sim_test::lines_from(m.log_texts(), "********************* RovaneEnd ***************************************");
    ASSERT_GE(end_log.size(), 2u);
    EXPECT_EQ(end_log[1], "Moving Laminator Tray OUT, ");
    EXPECT_EQ(m.laminator->executed_codes().back(), sim::kLamCmdTrayOut);
    EXPECT_TRUE(m.laminator->tray_out());
    EXPECT_EQ(m.laminator->heater(), 'H');
    EXPECT_EQ(sent_by_begin.size(), robot_before) << "nothing is sent before the first move";
    EXPECT_EQ(rejects, 1);
    EXPECT_EQ(bins, 3u) << "the laminator stands where input bin 1 would be";
}

// The laminator silent at the first check of the begin, and silent only from the second: the
// operator's Cancel makes the begin return 2 with the failing step's line; after the second the
// job has already been counted.
void unreachable_laminator(bool at_second_check) {
    sim::Autoloader m(laminator_machine());
    confirm_printer_choice(m);
    m.world.op().on_message_box("Unable to communicate with the laminator").answer(IDCANCEL);
    LONG begin = -1;
    DWORD jobs = 99;
    sim_test::run_host(m, [&] {
        init(m);
        ASSERT_EQ(g_fLaminator, TRUE);
        if (at_second_check) {
            // The first check is over at once; the robot's answer takes a few milliseconds.
            m.laminator->at(sim::kernel().now() + 1 * sim::kMs, [](sim::Laminator& lam) { lam.go_silent(); });
        } else {
            m.laminator->go_silent();
        }
        begin = Rovane_JobBeginsOrEnds(0, 1, ROVANE_JOB_BEGIN);
        jobs = g_dwJobCount;
        Rovane_JobBeginsOrEnds(0, 1, ROVANE_JOB_ABORT);
    });
    EXPECT_EQ(begin, ROVANE_JOB_CANNOT_START);
    const std::vector<std::string> log = m.log_texts();
    EXPECT_EQ(count(log, "Can't talk to laminator - User ABORTED"), at_second_check ? 0 : 1);
    EXPECT_EQ(count(log, "Problem talking to laminator - User ABORTED"), at_second_check ? 1 : 0);
    EXPECT_EQ(jobs, at_second_check ? 1u : 0u);
}

TEST(LaminatorJob, LaminatorSilentAtTheFirstCheckKeepsTheJobFromStarting) { unreachable_laminator(false); }
TEST(LaminatorJob, LaminatorSilentAtTheSecondCheckKeepsTheJobFromStarting) { unreachable_laminator(true); }

}  // namespace
