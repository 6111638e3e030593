// Laminator operations against the simulated laminator: its errors and open cover told through
// the self-closing status message, the tray brought out, the wait for a laminated disc with the
// operator's questions, the laminating dialog, and the send thread's "LAM:" and "WAITL:".
#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "devices/laminator.h"
#include "foundation/job_state.h"
#include "printer/laminator_ops.h"
#include "printer/printer_state.h"
#include "resources/resource.h"
#include "sequencer/command_queue.h"
#include "support/dialog_hands.h"
#include "support/job_world.h"
#include "support/module_state.h"
#include "support/module_world.h"
#include "support/printer_world.h"

namespace {

using sim::kMs;
using sim::kSecond;
using sim::Micros;
using sim_test::control_text;
using sim_test::count_lines;
using sim_test::LamWorld;
using sim_test::log_since;
using sim_test::module_string;
using sim_test::now;
using sim_test::run_in;

// A status message as the operator read it.
struct Shown {
    Micros at;
    std::string text;
};

void watch_status_messages(sim::World& world, std::vector<Shown>& shown) {
    world.op().on_dialog(IDD_ROBOT_MESSAGE).after(50 * kMs).then([&world, &shown] {
        shown.push_back({now(), control_text(world, IDD_ROBOT_MESSAGE, IDC_MESSAGE_TEXT)});
    });
}

// Each error bit, the open cover, the open cover with an error, and two bits at once, each
// while the tray is brought out: the move waits for a ready laminator, logs the condition once
// although it sees it on every poll, shows it, and closes the message once it has outlived it.
TEST(LaminatorOps, ErrorsAndTheOpenCoverAreToldOnceAndCloseWhenTheTrayMoveOutlivesThem) {
    LamWorld w;
    sim_test::with_laminator(true);
    struct Case {
        const char* what;
        uint8_t bits;
        Micros error_lasts, cover_lasts;
        const char* log;  // nullptr: nothing told
        UINT message;
        Micros shown_after;
    };
    const Micros t = 5 * kSecond;
    const Case cases[] = {
        {"disc out", sim::kLamErrDiskOut, t, 0, "ERROR: LAMERR_DISK_OUT", IDS_LAM_DISC_OUT, 0},
        {"ribbon out", sim::kLamErrRibbonOut, t, 0, "ERROR: LAMERR_RIBBON_OUT", IDS_LAM_RIBBON_EMPTY, 0},
        {"ribbon move", sim::kLamErrRibbonMove, t, 0, "ERROR: LAMERR_RIBBON_MOVE", IDS_LAM_RIBBON_MOVE_ERROR, 0},
        {"disc jam", sim::kLamErrDiskJam, t, 0, "ERROR: LAMERR_DISK_JAM", IDS_LAM_DISC_JAM, 0},
        {"ribbon id", sim::kLamErrRibbonId, t, 0, "ERROR: LAMERR_RIBBON_ID", IDS_LAM_RIBBON_INVALID, 0},
        {"tray move", sim::kLamErrTrayMove, t, 0, "ERROR: LAMERR_TRAY_MOVE", IDS_LAM_TRAY_ERROR, 0},
        {"roller lifter", sim::kLamErrRollerLifter, t, 0, "ERROR: LAMERR_ROLLER_LIFTER", IDS_LAM_ROLLER_ERROR, 0},
        {"heater control", sim::kLamErrHeaterCtrl, t, 0, "ERROR: LAMERR_HEATER_CTRL", IDS_LAM_HEATER_ERROR, 0},
        {"cover open", 0, 0, t, "COVER OPEN", IDS_LAM_COVER_OPEN, 0},
        {"cover open with a jam: told only once the jam is cleared", sim::kLamErrDiskJam, 3 * kSecond, 6 * kSecond,
         "COVER OPEN", IDS_LAM_COVER_OPEN, 3 * kSecond},
        {"two errors at once: not told, still waited for", sim::kLamErrDiskOut | sim::kLamErrRibbonOut, t, 0, nullptr,
         0, 0},
    };
    std::vector<Shown> shown;
    watch_status_messages(w.world, shown);
    run_in(w.world, [&] {
        for (const Case& c : cases) {
            SCOPED_TRACE(c.what);
            w.lam->set_tray_now(false);
            shown.clear();
            const size_t mark = w.log_size();
            const uint32_t commands = w.lam->commands_received();
            const Micros start = now();
            if (c.bits) {
                w.lam->raise_error(c.bits);
                w.lam->at(start + c.error_lasts, [](sim::Laminator& l) { l.clear_error(); });
            }
            if (c.cover_lasts) {
                w.lam->open_cover();
                w.lam->at(start + c.cover_lasts, [](sim::Laminator& l) { l.close_cover(); });
            }

            MoveLaminatorTray(LAM_TRAY_OUT);
            const Micros returned = now();
            EXPECT_EQ(w.lam->tray_status(), 'O');
            EXPECT_GE(returned - start, std::max(c.error_lasts, c.cover_lasts)) << "waited for a ready laminator";
            EXPECT_EQ(w.lam->commands_received(), commands + 1) << "one tray-out, once ready";
            while (w.world.ui().find_dialog(IDD_ROBOT_MESSAGE)) Sleep(50);

            std::vector<std::string> told;
            for (const std::string& line : log_since(w.world, mark))
                if (line.rfind("ERROR: LAMERR_", 0) == 0 || line == "COVER OPEN") told.push_back(line);
            if (c.log == nullptr) {
                EXPECT_TRUE(told.empty());
                EXPECT_TRUE(shown.empty());
                continue;
            }
            EXPECT_EQ(told, std::vector<std::string>({c.log})) << "logged once, not on every poll";
            ASSERT_EQ(shown.size(), 1u);
            EXPECT_EQ(shown[0].text, module_string(c.message));
            EXPECT_GE(shown[0].at - start, c.shown_after);
            EXPECT_LT(now() - returned, 1500 * kMs) << "closed by itself once the move had outlived it";
        }

        // Tray out when it is out, with a disc on it: one status read, no command.
        w.lam->set_tray_now(true);
        w.lam->put(sim::Disc{1});
        const uint32_t reads = w.lam->status_reads(), commands = w.lam->commands_received();
        MoveLaminatorTray(LAM_TRAY_OUT);
        EXPECT_EQ(w.lam->status_reads(), reads + 1);
        EXPECT_EQ(w.lam->commands_received(), commands);
    });
}

TEST(LaminatorOps, LaminatingDialogShowsTheLaminationsLeftAndTheHeater) {
    LamWorld w;  // heater off
    sim_test::with_laminator(true);
    run_in(w.world, [&] {
        for (const BOOL minimise : {FALSE, TRUE}) {
            SCOPED_TRACE(minimise ? "minimised" : "shown");
            sim_test::with_print_dialogs_minimised(minimise);
            sim_test::with_laminations_left(minimise ? 0 : 4321);
            const size_t mark = w.log_size();
            StartLaminatingDialog();
            const HWND dlg = sim_test::wait_for_dialog(w.world, IDD_LAMINATING);
            EXPECT_EQ(g_hLaminatingDlg, dlg);
            EXPECT_EQ(w.world.ui().window(dlg)->minimised, minimise);
            EXPECT_EQ(w.world.ui().window(dlg)->owner, nullptr);
            EXPECT_EQ(w.world.ui().control(dlg, IDC_LAMINATIONS_LEFT)->text, minimise ? "0" : "4321");
            EXPECT_EQ(w.world.ui().control(dlg, IDC_LAMINATING_STATUS)->text, "Laminating...");

            if (!minimise) {
                // Every status check hands the heater to the dialog: off, warming up after the
                // heater command, and ready once warm.
                struct Step {
                    const char* what;
                    bool start_heater;
                    Micros wait;
                    const char* text;
                };
                const Step steps[] = {
                    {"off", false, 0, "The Heater is off."},
                    {"started", true, 0, "The Laminator is heating...\nThis may take several minutes."},
                    {"warm", false, w.lam->config().warm_up_time, "Laminating..."},
                };
                for (const Step& s : steps) {
                    SCOPED_TRACE(s.what);
                    if (s.start_heater) ASSERT_EQ(SendLaminatorCMD(LamHeaterCMD, LAM_COMMAND_SIZE, FALSE), 1);
                    Sleep(static_cast<DWORD>(s.wait / kMs));
                    LamStatus status;
                    ASSERT_EQ(GetLaminatorStatus(&status, FALSE, FALSE), 1);
                    EXPECT_EQ(CheckLamStatus(&status), 1);
                    Sleep(100);
                    const auto c = w.world.ui().control(dlg, IDC_LAMINATING_STATUS);
                    EXPECT_EQ(c->text, s.text);
                    EXPECT_TRUE(c->enabled && c->visible);
                }
            }

            // The end of the wait closes it without waiting.
            SendNotifyMessageA(dlg, WM_COMMAND, IDCANCEL, 0);
            sim_test::wait_closed(w.world, IDD_LAMINATING, dlg);
            EXPECT_EQ(g_hLaminatingDlg, nullptr);
            const std::vector<std::string> lines = log_since(w.world, mark);
            EXPECT_EQ(count_lines(lines, "WM_INITDIALOG in DlgFnLaminating"), 1);
            EXPECT_EQ(count_lines(lines, "Lamination dialog dismissed"), 1);
        }
    });
}

// The wait for a laminated disc: the disc comes out laminated; nothing happens for 30 s and Retry
// brings the tray out; the disc falls off the tray, and Retry (the operator puts it back and
// pushes the tray in) starts the 30 s again; Cancel aborts the job. A laminate-only request ends
// its print when the wait ends; print-and-laminate leaves that to the print.
TEST(LaminatorOps, WaitForLaminatingEndsWithTheLaminatedDiscOrAsksTheOperator) {
    const std::string fell_off =
        "The disc must have fallen out of the laminator tray.\nPut the disc back into the laminator tray and click "
        "'Retry'.\nOr click 'Cancel' to Abort the job";
    const std::string timed_out =
        "Wait for lamination timed out.\nThe lamination may or may not have completed.\nClick 'Retry' to continue or "
        "'Cancel' to Abort";
    struct Case {
        const char* what;
        bool laminate;      // LaminateCMD sent; else the disc lies on the tray inside and nothing comes
        bool falls_off;
        bool laminate_only;
        int fell_off_answer, timed_out_answer;
        int fell_off_boxes, timed_out_boxes;
        bool completed;
    };
    const Case cases[] = {
        {"laminated, print and laminate", true, false, false, 0, 0, 0, 0, true},
        {"nothing for 30 s, Retry brings the disc out, laminate-only", false, false, true, 0, IDRETRY, 0, 1, true},
        {"fell off, Retry starts the 30 s again, then Cancel", true, true, true, IDRETRY, IDCANCEL, 1, 1, false},
        {"fell off, Cancel", true, true, false, IDCANCEL, 0, 1, 0, false},
    };
    sim::LaminatorConfig lc;
    lc.heater_on = true;
    lc.tray_out = true;
    LamWorld w(lc);
    sim_test::with_laminator(true);
    std::vector<sim_test::SeenBox> seen;
    run_in(w.world, [&] {
        for (const Case& c : cases) {
            SCOPED_TRACE(c.what);
            w.lam = sim::install_laminator(w.world, lc);
            w.lam->put(sim::Disc{7});
            seen.clear();
            w.world.op().clear_rules();
            if (c.fell_off_answer)
                sim_test::answer_boxes(w.world, seen, fell_off, c.fell_off_answer, [&] {
                    if (c.fell_off_answer == IDRETRY) w.lam->put_fallen_back(), w.lam->set_tray_now(false);
                });
            if (c.timed_out_answer) sim_test::answer_boxes(w.world, seen, timed_out, c.timed_out_answer);
            if (c.falls_off) w.lam->fail_next_laminations(1, sim::LamFault::FallsOff);
            if (c.laminate)
                ASSERT_EQ(SendLaminatorCMD(LaminateCMD, LAM_COMMAND_SIZE, FALSE), 1);
            else
                w.lam->set_tray_now(false);
            sim_test::given_the_job_not_aborted();
            sim_test::given_a_print_in_process();
            sim_test::with_laminate_only(c.laminate_only);
            StartLaminatingDialog();
            const HWND dlg = sim_test::wait_for_dialog(w.world, IDD_LAMINATING);
            const size_t mark = w.log_size();
            const uint32_t commands = w.lam->commands_received();
            const Micros start = now();

            LamStatus status;
            WaitForLaminating(&status);
            sim_test::wait_closed(w.world, IDD_LAMINATING, dlg);
            EXPECT_EQ(g_hLaminatingDlg, nullptr) << "the dialog closed in every case";

            const std::vector<std::string> lines = log_since(w.world, mark);
            EXPECT_EQ(count_lines(lines, "===COMPLETED LAMINATING==="), c.completed ? 1 : 0);
            EXPECT_EQ(g_fJobAborted, c.completed ? 0 : 1);
            EXPECT_EQ(sim_test::count_boxes(seen, fell_off), c.fell_off_boxes);
            EXPECT_EQ(sim_test::count_boxes(seen, timed_out), c.timed_out_boxes);
            EXPECT_EQ(count_lines(lines, "Lam tray out but no disc - probably fell off"), c.fell_off_boxes);
            EXPECT_EQ(count_lines(lines, "More than 30 seconds of waiting for laminator - send Tray Out"),
                      c.timed_out_boxes);
            for (const sim_test::SeenBox& b : seen) {
                EXPECT_EQ(b.caption, "Rovane");
                EXPECT_EQ(b.flags, static_cast<UINT>(MB_RETRYCANCEL));
                EXPECT_EQ(b.owner, nullptr);
            }
            EXPECT_EQ(g_fPIP, c.laminate_only ? 0 : 1);
            EXPECT_EQ(count_lines(lines, "**&&** PIP is set to FALSE (WaitForLaminating)"), c.laminate_only ? 1 : 0);
            EXPECT_EQ(count_lines(lines, "<-WaitForLaminating returning in 1 second"), 1);

            if (c.timed_out_boxes == 1) {
                const Micros asked = seen.back().at;
                const Micros from = c.fell_off_boxes ? seen.front().at + w.world.op().think_time() : start;
                EXPECT_GE(asked - from, 30 * kSecond) << "30 s of a ready laminator with its tray in";
                EXPECT_LT(asked - from, 33 * kSecond);
            }
            if (c.timed_out_answer == IDRETRY)
                EXPECT_EQ(w.lam->executed_codes(), std::vector<uint8_t>({sim::kLamCmdTrayOut}))
                    << "Retry after the time-out brings the tray out";
            else if (!c.laminate)
                EXPECT_EQ(w.lam->commands_received(), commands);
        }
    });
}

// "LAM:" and "WAITL:" on the send thread: while the laminator's cover is open nothing is sent
// and the operator is told; once it is closed the message closes by itself, the laminations the
// ribbon has left are shown, LaminateCMD goes to the laminator once (verified, not resent), and
// the wait ends with the laminated disc and the dialog closed.
TEST(LaminatorOps, LamCommandLaminatesOnceTheLaminatorIsReadyAndWaitlWaitsForTheDisc) {
    sim_test::JobWorld w(31);
    sim::LaminatorConfig lc;
    lc.ribbon = 6750 * 42 + 6749;
    lc.heater_on = true;
    lc.tray_out = true;
    std::shared_ptr<sim::Laminator> lam = sim::install_laminator(w.world, lc);
    lam->put(sim::Disc{9});
    std::vector<Shown> shown;
    watch_status_messages(w.world, shown);
    std::string count_shown;
    w.world.op().on_dialog(IDD_LAMINATING).after(50 * kMs).times(1).then([&] {
        count_shown = control_text(w.world, IDD_LAMINATING, IDC_LAMINATIONS_LEFT);
    });
    Micros cover_closed = 0, message_closed = 0;
    w.host([&] {
        w.start_module();
        sim_test::with_laminator(true);
        sim_test::given_a_print_in_process();
        sim_test::with_laminate_only(false);
        lam->open_cover();
        cover_closed = now() + 5 * kSecond;
        lam->at(cover_closed, [](sim::Laminator& l) { l.close_cover(); });
        PRN_Queue("LAM:", "0", 0);
        PRN_Queue("WAITL:", NULL, 0);
        StartSendThread(NULL);
        while (!w.world.ui().find_dialog(IDD_ROBOT_MESSAGE)) Sleep(50);
        while (w.world.ui().find_dialog(IDD_ROBOT_MESSAGE)) Sleep(50);
        message_closed = now();
        sim_test::wait_for_send_thread();
    });
    ASSERT_TRUE(w.ran());

    const std::vector<std::string> lines = w.log();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].text, module_string(IDS_LAM_COVER_OPEN));
    EXPECT_EQ(count_lines(lines, "COVER OPEN"), 1);
    EXPECT_GT(message_closed, cover_closed);
    EXPECT_LT(message_closed - cover_closed, 1500 * kMs) << "closed by the first ready pass";

    EXPECT_EQ(count_lines(lines, "Laminate with 42 (290249) laminations remaining"), 1)
        << "ribbon / 6750, rounded down";
    EXPECT_EQ(count_shown, "42");
    ASSERT_EQ(lam->commands_received(), 1u) << "LaminateCMD once: verified on the next ready pass";
    EXPECT_EQ(lam->executed_codes(), std::vector<uint8_t>({sim::kLamCmdLaminate}));
    EXPECT_GT(lam->commands().front().time, cover_closed) << "nothing went out with the cover open";
    EXPECT_EQ(lam->lamination_count(9), 1u);
    EXPECT_EQ(count_lines(lines, "===COMPLETED LAMINATING==="), 1);
    EXPECT_TRUE(w.robot_commands().empty()) << "nothing for the robot";
    EXPECT_EQ(g_hLaminatingDlg, nullptr);
    EXPECT_EQ(g_fPIP, 1) << "print and laminate: the print ends it";
    EXPECT_FALSE(sim_test::job_aborted());
}

}  // namespace
