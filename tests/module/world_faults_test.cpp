// Faults of the machine that a job meets on a whole simulated autoloader: a disc left inside the
// printer from before, taken out to the reject position by the job's begin, and a disc printer
// that falls silent during a print. (A printer that stops answering while the arm waits at its
// tray, and the removal's commands as the robot gets them: tests/tool/world_fault_checks.sh.)
#include <windows.h>

#include <string>
#include <vector>

#include "foundation/job_state.h"
#include "harness/print_files.h"
#include "resources/resource.h"
#include "rovane.h"
#include "sequencer/command_queue.h"
#include "support/host_world.h"
#include "win32/files.h"

namespace {

using sim::kSecond;
using sim_test::init;
using sim_test::wait_move;

const char* const kPrintFile = "C:\\Labels\\disc.PRN";

// A four-drive autoloader with the disc printer "Pellan IV" chosen in the settings, and a print
// file for it.
sim::AutoloaderConfig printing_machine() {
    sim::AutoloaderConfig c = sim_test::autoloader();
    c.disc_printer = "Pellan IV";
    c.settings = {{"Printer", "Pellan IV"}, {"Record-Print", "0"}};
    return c;
}

void write_print_file(sim::Autoloader& m) {
    sim::PrintFileRecipe recipe;
    recipe.kind = sim::PrintFileKind::PellanIv;
    m.world.files().mkdir("C:\\Labels");
    m.world.files().write_file(kPrintFile, sim::make_print_file(recipe));
}

// When the module's log got a line (the first time), from the world's record of file writes.
sim::Micros log_time(sim::Autoloader& m, const std::string& text) {
    for (const sim::TranscriptEntry& e : m.world.kernel().transcript().of_kind("file"))
        if (e.text.find("Rovane_QIX.dbg") != std::string::npos && e.text.find("  " + text + "\\r\\n") != std::string::npos)
            return e.time_us;
    return 0;
}

// A disc left inside the printer from before: the job's begin queues its removal to G, counted as
// a reject, and sends nothing yet. (The queued commands, the robot's first commands and the disc
// ending at G, unprinted and accounted for: tests/tool/world_fault_checks.sh, "printer disc" and
// "printer disc run"; their order among the job's: tests/scenarios/job-disc-left-in-printer.)
TEST(WorldFaults, DiscLeftInPrinterIsRejectedBeforeTheFirstMove) {
    sim::AutoloaderConfig c = printing_machine();
    c.disc_in_printer = true;
    sim::Autoloader m(c);
    BYTE rejects = 0;
    size_t sent_before = 0, sent_by_begin = 0;
    sim_test::run_host(m, [&] {
        init(m);
        sent_before = sim_test::robot_commands(m).size();
        ASSERT_EQ(Rovane_JobBeginsOrEnds(0, 1, ROVANE_JOB_BEGIN), ROVANE_JOB_OK);
        rejects = g_bRejectCount;
        sent_by_begin = sim_test::robot_commands(m).size();
        ASSERT_EQ(Rovane_PostMoveDisc(1, ROVANE_MOVE_LOAD, 0, 0), 1);
        EXPECT_EQ(wait_move(1), ROVANE_DONE);
        Rovane_JobBeginsOrEnds(0, 1, ROVANE_JOB_END);
        char text[ROVANE_END_TEXT_SIZE] = {};
        Rovane_End(text);
    });
    EXPECT_EQ(rejects, 1);
    EXPECT_EQ(sent_by_begin, sent_before) << "nothing is sent before the first move";
}

// The printer falls silent in the middle of a print, while the arm waits beside it: the wait for
// the print does not go on without end, but asks the print time-out question once the printer has
// been silent for a minute; Cancel aborts the job and closes the printing dialog. The disc stays
// in the silent printer, unprinted, where the operator finds it.
TEST(WorldFaults, PrinterSilentDuringAPrintEndsInTheTimeOutQuestion) {
    sim::Autoloader m(printing_machine());
    write_print_file(m);
    m.world.op().on_message_box("Wait for printing timed out.").answer(IDCANCEL);
    sim::Micros silent_at = 0;
    m.robot->on_received([&](const sim::ReceivedCommand& c) {
        if (c.text == "_MOVE:5" && !silent_at) {
            silent_at = c.time;
            m.printer->go_silent();
        }
    });
    DWORD print = 0;
    sim::DiscId disc = 0;
    sim_test::run_host(m, [&] {
        init(m);
        ASSERT_EQ(Rovane_JobBeginsOrEnds(0, 1, ROVANE_JOB_BEGIN), ROVANE_JOB_OK);
        ASSERT_EQ(Rovane_PostMoveDisc(1, ROVANE_MOVE_LOAD, 0, 0), 1);
        ASSERT_EQ(wait_move(1), ROVANE_DONE);
        disc = m.robot->discs_at("A").at(0);
        ASSERT_EQ(Rovane_PostMoveAndPrint(1, ROVANE_RECORD_AND_PRINT, 0, kPrintFile, "", 1), 1);
        print = wait_move(1);
        Rovane_JobBeginsOrEnds(0, 1, ROVANE_JOB_END);
        char text[ROVANE_END_TEXT_SIZE] = {};
        Rovane_End(text);
        while (m.robot->busy() || !m.robot->buffered_commands().empty()) Sleep(100);
    });
    ASSERT_NE(silent_at, 0) << "the print never began";
    EXPECT_EQ(print, ROVANE_ABORTED) << "Cancel at the time-out question aborts the job";
    EXPECT_EQ(sim_test::boxes(m).size(), 1u) << "its text and looks: tests/scenarios/print-fail";
    const sim::Micros asked = log_time(m, "WARNING: More than 60 seconds of a printer that does not answer");
    EXPECT_GT(asked - silent_at, 60 * kSecond);
    EXPECT_LT(asked - silent_at, 65 * kSecond);
    EXPECT_GT(log_time(m, "<-WaitForPrinting returning"), asked);
    EXPECT_EQ(m.world.ui().find_dialog(IDD_PRINTING), nullptr) << "the printing dialog is closed";
    EXPECT_EQ(m.robot->place_of(disc), "S") << "the disc stays in the silent printer";
    EXPECT_EQ(m.robot->disc(disc)->prints, 0u);
    EXPECT_EQ(m.check_invariants(true), "");
}

}  // namespace
