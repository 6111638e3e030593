// Faults of the machine that a job meets on a whole simulated autoloader: a disc printer that
// stops answering while the arm waits at its tray (the tray messages, the give-up box, Cancel
// aborting the job, the disc carried to the reject position by the abort), and a disc left inside
// the printer from before, taken out to the reject position by the job's begin.
#include <windows.h>

#include <string>
#include <utility>
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
using sim_test::box;
using sim_test::init;

const char* const kPrintFile = "C:\\Labels\\disc.PRN";
const char* const kNotOpening =
    "The printer tray is not opening.\nMake sure the auxiliary cable to the printer is connected.";
const char* const kNotClosing =
    "The printer tray is not closing.\nMake sure the auxiliary cable to the printer is connected.";
const char* const kGiveUp =
    "Unable to move the printer tray in/out.\nPlease make sure the printer is powered on and connected to the robotics "
    "via the 6-pin cable.\nClick \"Retry\" to try again or \"Cancel\" to abort the job.";

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

// On the host's thread: polls a move until it is over, as a host does.
DWORD wait_move(DWORD unit) {
    DWORD state;
    while ((state = Rovane_CheckMoveDisc(unit)) == ROVANE_IN_PROGRESS) Sleep(500);
    return state;
}

// When each text the status message showed first appeared, sampled every 100 ms of virtual time
// until `stop` is set.
struct MessageTexts {
    std::vector<std::pair<std::string, sim::Micros>> seen;
    bool stop = false;
    void sample(sim::Autoloader& m) {
        m.world.kernel().after(100 * sim::kMs, [this, &m] {
            if (stop) return;
            const HWND dlg = m.world.ui().find_dialog(IDD_ROBOT_MESSAGE);
            const auto c = m.world.ui().control(dlg, IDC_MESSAGE_TEXT);
            if (dlg && c && (seen.empty() || seen.back().first != c->text)) seen.emplace_back(c->text, m.world.kernel().now());
            sample(m);
        });
    }
};

// When the module's log got a line (the first time), from the world's record of file writes.
sim::Micros log_time(sim::Autoloader& m, const std::string& text) {
    for (const sim::TranscriptEntry& e : m.world.kernel().transcript().of_kind("file"))
        if (e.text.find("Rovane_QIX.dbg") != std::string::npos && e.text.find("  " + text + "\\r\\n") != std::string::npos)
            return e.time_us;
    return 0;
}

// The printer stops answering as the arm sets out to put a recorded disc on its tray: the robot
// reports it busy with a tray that does not answer ("B", "X"). Before the drop, the tray-out wait
// shows message 119 after 6 s and the give-up box after 15 s; Cancel aborts the job, so the
// host's poll of the print request returns 4. The abort carries the disc in the picker to G,
// waiting for the tray to come in first: message 117 replaces 119, the box comes again, and
// Cancel lets the drop go on. No disc is lost or left anywhere but G.
TEST(WorldFaults, SilentPrinterShowsTheTrayMessagesAndCancelAbortsTheJob) {
    sim::Autoloader m(printing_machine());
    write_print_file(m);
    m.world.op().on_message_box("Unable to move the printer tray").answer(IDCANCEL);
    sim::Micros silent_at = 0;
    m.robot->on_received([&](const sim::ReceivedCommand& c) {
        if (c.text == "_MOVE:S" && !silent_at) {
            silent_at = c.time;
            m.printer->go_silent();
        }
    });
    MessageTexts texts;
    texts.sample(m);
    DWORD load = 0, print = 0;
    char printer_state = 0, printer_tray = 0;
    sim::DiscId disc = 0;
    sim_test::run_host(m, [&] {
        init(m);
        ASSERT_EQ(Rovane_CheckValidPrint(0, ROVANE_RECORD_AND_PRINT, 0, kPrintFile, 0, 0), 1);
        ASSERT_EQ(Rovane_JobBeginsOrEnds(0, 1, ROVANE_JOB_BEGIN), ROVANE_JOB_OK);
        ASSERT_EQ(Rovane_PostMoveDisc(1, ROVANE_MOVE_LOAD, 0, 0), 1);
        load = wait_move(1);
        const std::vector<sim::DiscId> in_a = m.robot->discs_at("A");
        ASSERT_EQ(in_a.size(), 1u);
        disc = in_a[0];
        ASSERT_EQ(Rovane_PostMoveAndPrint(1, ROVANE_RECORD_AND_PRINT, 0, kPrintFile, "", 1), 1);
        print = wait_move(1);
        BYTE status[22] = {};
        DWORD length = 0, type = 0;
        if (Rovane_GetRoboStatus(status, sizeof status, &length, &type)) printer_state = status[2], printer_tray = status[3];
        Rovane_JobBeginsOrEnds(0, 1, ROVANE_JOB_END);
        char text[ROVANE_END_TEXT_SIZE] = {};
        Rovane_End(text);
        texts.stop = true;
        // The abort's last drop and the resets play on the robot after the module has ended.
        while (m.robot->busy() || !m.robot->buffered_commands().empty()) Sleep(100);
    });
    EXPECT_EQ(load, ROVANE_DONE);
    EXPECT_EQ(print, ROVANE_ABORTED) << "Cancel at the give-up box aborts the job";
    EXPECT_EQ(printer_state, 'B');
    EXPECT_EQ(printer_tray, 'X');
    ASSERT_NE(silent_at, 0);

    // The tray-out wait: message 119 a little more than 6 s after it began, the box after 15 s.
    const sim::Micros tray_out = log_time(m, "MovePrinterTray( TRAY_OUT, ");
    ASSERT_GT(tray_out, silent_at);
    ASSERT_GE(texts.seen.size(), 2u);
    EXPECT_EQ(texts.seen[0].first, kNotOpening);
    EXPECT_GT(texts.seen[0].second - tray_out, 6 * kSecond);
    EXPECT_LT(texts.seen[0].second - tray_out, 7 * kSecond);
    // The abort's tray-in wait replaces it with message 117 in the same dialog.
    EXPECT_EQ(texts.seen[1].first, kNotClosing);
    const std::vector<std::string> boxes = sim_test::boxes(m);
    ASSERT_EQ(boxes.size(), 2u) << "one give-up box for each tray wait";
    EXPECT_EQ(boxes[0], box("Error", MB_RETRYCANCEL, kGiveUp));
    EXPECT_EQ(boxes[1], boxes[0]);
    const sim::Micros aborted = log_time(m, "User aborted in MovePrinterTray");
    EXPECT_GT(aborted - tray_out, 15 * kSecond);
    EXPECT_LT(aborted - tray_out, 20 * kSecond) << "the box comes once, after 15 s, and is answered at once";
    // The disc: picked up at A, never dropped at the silent printer, rejected to G by the abort.
    EXPECT_EQ(m.robot->discs_at("G"), std::vector<sim::DiscId>({disc}));
    EXPECT_EQ(m.robot->count_at("S"), 0u);
    EXPECT_FALSE(m.robot->picker());
    EXPECT_EQ(m.printer->prints(), 0u);
    EXPECT_EQ(m.check_invariants(true), "");
}

// A disc left inside the printer from before: the robot reports the tray "D", so the job's begin
// queues its removal to G (tray out, to the printer, pick it up, tray in, to G, drop it), counted
// as a reject; nothing moves until the first request starts the send thread, which plays the
// removal first. The disc ends at G unprinted; the job's own disc goes on to its recorder.
TEST(WorldFaults, DiscLeftInPrinterIsRejectedBeforeTheFirstMove) {
    sim::AutoloaderConfig c = printing_machine();
    c.disc_in_printer = true;
    sim::Autoloader m(c);
    ASSERT_EQ(m.found_discs().size(), 1u);
    const sim::DiscId left = m.found_discs()[0].id;
    EXPECT_EQ(m.robot->place_of(left), "S");
    std::vector<std::string> queued;
    BYTE rejects = 0;
    size_t sent_before = 0, sent_by_begin = 0;
    char tray_at_begin = 0;
    DWORD load = 0;
    sim_test::run_host(m, [&] {
        init(m);
        BYTE status[22] = {};
        DWORD length = 0, type = 0;
        if (Rovane_GetRoboStatus(status, sizeof status, &length, &type)) tray_at_begin = static_cast<char>(status[3]);
        sent_before = sim_test::robot_commands(m).size();
        ASSERT_EQ(Rovane_JobBeginsOrEnds(0, 1, ROVANE_JOB_BEGIN), ROVANE_JOB_OK);
        for (BYTE i = 0; i < g_bCmdIndex; ++i) queued.push_back(g_szGlobalQueue[i]);
        rejects = g_bRejectCount;
        sent_by_begin = sim_test::robot_commands(m).size();
        ASSERT_EQ(Rovane_PostMoveDisc(1, ROVANE_MOVE_LOAD, 0, 0), 1);
        load = wait_move(1);
        Rovane_JobBeginsOrEnds(0, 1, ROVANE_JOB_END);
        char text[ROVANE_END_TEXT_SIZE] = {};
        Rovane_End(text);
    });
    EXPECT_EQ(tray_at_begin, 'D');
    EXPECT_EQ(queued, std::vector<std::string>({"_TRAYOUT", "_MOVE:S", "PICKUP", "_PTI", "_MOVE:G", "DROPOFF"}));
    EXPECT_EQ(rejects, 1);
    EXPECT_EQ(sent_by_begin, sent_before) << "nothing is sent before the first move";
    EXPECT_EQ(sim_test::count(m.log_texts(), "Disc left in printer - queue commands to reject"), 1);
    std::vector<std::string> job = sim_test::robot_commands(m);
    job.erase(job.begin(), job.begin() + static_cast<long>(sent_before));
    ASSERT_GE(job.size(), 8u);
    EXPECT_EQ(std::vector<std::string>(job.begin(), job.begin() + 8),
              std::vector<std::string>({"_TRAY", "_MOVE:S", "_PICK", "_PTI", "_MOVE:G", "_PICK", "_MOVE:4", "_PICK"}));
    EXPECT_EQ(load, ROVANE_DONE);
    EXPECT_EQ(m.robot->discs_at("G"), std::vector<sim::DiscId>({left}));
    EXPECT_EQ(m.robot->disc(left)->prints, 0u);
    EXPECT_EQ(m.robot->count_at("S"), 0u);
    EXPECT_EQ(m.robot->count_at("A"), 1u);
    EXPECT_EQ(m.check_invariants(true), "");
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
    const std::vector<std::string> boxes = sim_test::boxes(m);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0], box("Rovane", MB_RETRYCANCEL,
                            "Wait for printing timed out.\nThe print may or may not have completed.\nClick 'Retry' to "
                            "continue or 'Cancel' to Abort the job."));
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
