// Recorder trays: DQ_OpenCloseTray with its retries, the operator's message when a tray will
// not move, the state and time recorded for the send thread, the print-only host, a missing
// job-processor library, and the start-up closing through Kt_MoveTray.
#include <windows.h>

#include <string>
#include <vector>

#include "devices/recorders.h"
#include "robot/robo_status.h"
#include "setup/host_engine.h"
#include "setup/recorders.h"
#include "setup/tray_control.h"
#include "support/module_world.h"
#include "win32/components.h"
#include "win32/ui.h"
#include "world/operator.h"

namespace {

using sim::kMs;
using sim::kSecond;
using sim::Micros;

Micros now() { return sim::kernel().now(); }

// --- a job-processor library whose tray fails a set number of times -------------------------

struct DqCall {
    LONG zero, unit, direction;
    Micros at;
};
std::vector<DqCall> g_dq_calls;
int g_dq_failures_left = 0;  // -1: fails for ever
const LONG kDqError = -31;

extern "C" LONG WINAPI fake_dq_open_close_tray(LONG zero, LONG unit, LONG direction) {
    g_dq_calls.push_back({zero, unit, direction, now()});
    if (g_dq_failures_left == 0) return 0;
    if (g_dq_failures_left > 0) --g_dq_failures_left;
    return kDqError;
}

void install_dorquel(sim::World& world) {
    world.components().add_library("Dorquel.dll",
                                   {{"DQ_OpenCloseTray", 0, reinterpret_cast<void*>(&fake_dq_open_close_tray)}});
}

struct KtCall {
    DWORD engine;
    LONG unit;
    DWORD code;
};
std::vector<KtCall> g_kt_calls;

extern "C" LONG WINAPI fake_kt_move_tray(DWORD engine, LONG unit, DWORD code) {
    g_kt_calls.push_back({engine, unit, code});
    return 0;
}

// Three recorders with units 5, 9 and 12.
void add_three_recorders() {
    ClearRecorders();
    AddRecorder(5, 0, 4, 0, 'E', "PIONEER DVD-RW DVR-112D");
    AddRecorder(9, 0, 4, 1, 'F', "PIONEER DVD-RW DVR-112D");
    AddRecorder(12, 0, 121, 0, 'G', "LITE-ON DVDRW SHM-165P6S");
}

void run_ok(sim::World& world) {
    const sim::RunResult r = world.run();
    ASSERT_TRUE(r.ok()) << r.report;
}

int message_boxes_shown(sim::World& world) {
    int n = 0;
    for (const sim::TranscriptEntry& e : world.kernel().transcript().of_kind("window"))
        if (e.text.find("msgbox shown") != std::string::npos) ++n;
    return n;
}

const char kErrorLine[] = "Closing DQ_OpenCloseTray error: -31";
const char kWaitLine[] = "Wait and try Kt_MoveTray again...";

// ---------------------------------------------------------------------------------------------

TEST(OpenCloseTray, RetriesAFailingTrayUntilItMovesAndRecordsStateAndTime) {
    sim::World world(sim_test::config());
    sim_test::prepare_module(world);
    install_dorquel(world);
    Micros opened_at = 0, closed_at = 0;
    DWORD tick_after_open = 0, tick_after_close = 0;
    world.spawn("host", [&] {
        add_three_recorders();
        Sleep(3000);  // the tray time is the tick at the end of the call, not the start of the world

        g_dq_failures_left = 2;
        const Micros start = now();
        OpenCloseTray(0, 1, TRAY_STATE_OPEN_EMPTY);
        opened_at = now() - start;
        tick_after_open = GetTickCount();
        EXPECT_EQ(g_Recorders[1].bTrayState, TRAY_STATE_OPEN_EMPTY);
        EXPECT_EQ(g_dwTrayTick[1], tick_after_open);
        EXPECT_EQ(g_dwTrayTick[0], 0u) << "a row never moved keeps tick 0";
        EXPECT_EQ(g_dwTrayTick[2], 0u);

        Sleep(700);
        const Micros close_start = now();
        OpenCloseTray(1, 1, TRAY_STATE_CLOSED_WITH_DISC);
        closed_at = now() - close_start;
        tick_after_close = GetTickCount();
        EXPECT_EQ(g_Recorders[1].bTrayState, TRAY_STATE_CLOSED_WITH_DISC);
        EXPECT_EQ(g_dwTrayTick[1], tick_after_close);

        // A row outside the table is refused: no call, nothing stored.
        const size_t calls = g_dq_calls.size();
        OpenCloseTray(0, 3, TRAY_STATE_OPEN_EMPTY);
        OpenCloseTray(0, 4000000000u, TRAY_STATE_OPEN_EMPTY);
        EXPECT_EQ(g_dq_calls.size(), calls);
    });
    run_ok(world);

    // Three calls 500 ms apart for the opening (two failures), one for the closing.
    ASSERT_EQ(g_dq_calls.size(), 4u);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(g_dq_calls[i].zero, 0);
        EXPECT_EQ(g_dq_calls[i].unit, 9) << "the row's unit number, not the row";
        EXPECT_EQ(g_dq_calls[i].direction, DQ_TRAY_OPEN);
        EXPECT_EQ(g_dq_calls[i].at, 3 * kSecond + static_cast<Micros>(i) * 500 * kMs);
    }
    EXPECT_EQ(g_dq_calls[3].direction, DQ_TRAY_CLOSE);
    EXPECT_EQ(g_dq_calls[3].unit, 9);
    EXPECT_EQ(opened_at, 1000 * kMs);
    EXPECT_EQ(closed_at, 0u);
    EXPECT_EQ(tick_after_close - tick_after_open, 700u);
    EXPECT_EQ(message_boxes_shown(world), 0);

    const std::vector<std::string> log = sim_test::log_texts(world);
    const std::vector<std::string> expected = {"OPEN TRAY 1", kErrorLine, kWaitLine, kErrorLine, kWaitLine,
                                               "CLOSE TRAY 1"};
    std::vector<std::string> tray_lines;
    for (const std::string& l : log)
        if (l.find("TRAY") != std::string::npos || l.find("DQ_OpenCloseTray") != std::string::npos ||
            l.find("Kt_MoveTray") != std::string::npos)
            tray_lines.push_back(l);
    ASSERT_GE(tray_lines.size(), expected.size());
    EXPECT_EQ(std::vector<std::string>(tray_lines.begin(), tray_lines.begin() + 6), expected);
    int refusals = 0;
    for (const std::string& l : log)
        if (l.rfind("ERROR: OpenCloseTray() refused", 0) == 0) ++refusals;
    EXPECT_EQ(refusals, 2);
}

TEST(OpenCloseTray, TrayThatNeverClosesIsReportedAfter51AttemptsAndRecordedAnyway) {
    sim::World world(sim_test::config());
    sim_test::prepare_module(world);
    install_dorquel(world);
    Micros answered_at = 0;
    HWND box_owner = reinterpret_cast<HWND>(1);
    // Exact caption and flags: no icon, only the set-foreground style.
    world.op()
        .on_message_box("Error Closing the drive tray.")
        .with_caption("Optical Disc Duplicator")
        .with_flags(MB_SETFOREGROUND)
        .then([&] {
            answered_at = now();
            for (const sim::WindowInfo& w : world.ui().open_windows())
                if (w.kind == sim::WindowKind::MessageBox) box_owner = w.owner;
        })
        .answer(IDOK)
        .after(2 * kSecond);
    Micros returned_at = 0;
    world.spawn("send-queue", [&] {
        add_three_recorders();
        g_Recorders[2].bTrayState = TRAY_STATE_OPEN_WITH_DISC;
        g_dq_failures_left = -1;
        OpenCloseTray(1, 2, TRAY_STATE_CLOSED_WITH_DISC);
        returned_at = now();
        EXPECT_EQ(g_Recorders[2].bTrayState, TRAY_STATE_CLOSED_WITH_DISC);
        EXPECT_EQ(g_dwTrayTick[2], GetTickCount());
    });
    run_ok(world);

    ASSERT_EQ(g_dq_calls.size(), 51u) << "one call and 50 retries";
    EXPECT_EQ(g_dq_calls.back().at, 25 * kSecond);
    for (const DqCall& c : g_dq_calls) EXPECT_EQ(c.direction, DQ_TRAY_CLOSE);
    // The box appears after a last 500 ms wait; the operator answers 2 s later.
    EXPECT_EQ(answered_at, 25500 * kMs + 2 * kSecond);
    EXPECT_EQ(returned_at, answered_at);
    EXPECT_EQ(box_owner, nullptr) << "the box has no owner window";
    EXPECT_EQ(message_boxes_shown(world), 1);

    const std::vector<std::string> log = sim_test::log_texts(world);
    EXPECT_EQ(sim_test::count_lines(log, "CLOSE TRAY 2"), 1);
    EXPECT_EQ(sim_test::count_lines(log, kErrorLine), 51);
    EXPECT_EQ(sim_test::count_lines(log, kWaitLine), 51);
}

TEST(OpenCloseTray, SuccessOnTheLastRetryNeedsNoMessageAndAnOpeningThatFailsNamesOpening) {
    sim::World world(sim_test::config());
    sim_test::prepare_module(world);
    install_dorquel(world);
    int opening_boxes = 0;
    world.op()
        .on_message_box("Error Opening the drive tray.")
        .with_caption("Optical Disc Duplicator")
        .with_flags(MB_SETFOREGROUND)
        .then([&] { ++opening_boxes; })
        .answer(IDOK);
    Micros first_took = 0;
    world.spawn("host", [&] {
        add_three_recorders();
        g_dq_failures_left = 50;  // the 51st call moves the tray
        Micros start = now();
        OpenCloseTray(0, 0, TRAY_STATE_OPEN_EMPTY);
        first_took = now() - start;
        EXPECT_EQ(opening_boxes, 0);
        EXPECT_EQ(g_dq_calls.size(), 51u);

        g_dq_failures_left = -1;
        OpenCloseTray(0, 1, TRAY_STATE_OPEN_EMPTY);
        EXPECT_EQ(opening_boxes, 1);
        EXPECT_EQ(g_Recorders[1].bTrayState, TRAY_STATE_OPEN_EMPTY);
    });
    run_ok(world);
    EXPECT_EQ(first_took, 25 * kSecond);
    EXPECT_EQ(g_dq_calls.size(), 102u);
    const std::vector<std::string> log = sim_test::log_texts(world);
    EXPECT_EQ(sim_test::count_lines(log, kErrorLine), 50 + 51);
    EXPECT_EQ(sim_test::count_lines(log, "OPEN TRAY 0"), 1);
    EXPECT_EQ(sim_test::count_lines(log, "OPEN TRAY 1"), 1);
}

TEST(OpenCloseTray, PrintOnlyHostMovesNoTrayAndStoresNothing) {
    sim::World world(sim_test::config());
    sim_test::prepare_module(world);
    install_dorquel(world);
    world.components().add_library("KT.dll", {{"", 170, reinterpret_cast<void*>(&fake_kt_move_tray)}});
    world.spawn("host", [&] {
        add_three_recorders();
        g_Recorders[0].bTrayState = TRAY_STATE_CLOSED_EMPTY;
        g_fPrintOnlyApp = TRUE;
        Sleep(1000);
        OpenCloseTray(0, 0, TRAY_STATE_OPEN_EMPTY);
        OpenCloseTray(1, 0, TRAY_STATE_CLOSED_WITH_DISC);
        CloseTraysAtStartup();
        EXPECT_EQ(g_Recorders[0].bTrayState, TRAY_STATE_CLOSED_EMPTY);
        EXPECT_EQ(g_dwTrayTick[0], 0u);
    });
    run_ok(world);
    EXPECT_TRUE(g_dq_calls.empty());
    EXPECT_TRUE(g_kt_calls.empty());
    EXPECT_EQ(world.components().load_count("Dorquel.dll"), 0u);
    const std::vector<std::string> log = sim_test::log_texts(world);
    EXPECT_EQ(sim_test::count_lines(log, "OpenCloseTray() called for PRINT-ONLY APP!  Do nothing."), 2);
    EXPECT_EQ(sim_test::count_lines(log, "OPEN TRAY 0"), 0);
}

TEST(OpenCloseTray, MissingJobProcessorLibraryDoesNotHangAndIsLoggedOnce) {
    sim::World world(sim_test::config());
    sim_test::prepare_module(world);
    // No Dorquel.dll at all.
    int boxes = 0;
    world.op().on_message_box("drive tray").with_flags(MB_SETFOREGROUND).then([&] { ++boxes; }).answer(IDOK).after(
        1 * kSecond);
    world.spawn("host", [&] {
        add_three_recorders();
        const Micros start = now();
        OpenCloseTray(0, 0, TRAY_STATE_OPEN_EMPTY);
        OpenCloseTray(1, 0, TRAY_STATE_CLOSED_EMPTY);
        // No retries: only the operator's two answers took time.
        EXPECT_EQ(now() - start, 2 * kSecond);
        EXPECT_EQ(g_Recorders[0].bTrayState, TRAY_STATE_CLOSED_EMPTY);
        EXPECT_EQ(g_dwTrayTick[0], GetTickCount());
    });
    run_ok(world);
    EXPECT_EQ(boxes, 2);
    const std::vector<std::string> log = sim_test::log_texts(world);
    int load_errors = 0;
    for (const std::string& l : log)
        if (l.find("Could not load Dorquel.dll") != std::string::npos) ++load_errors;
    EXPECT_EQ(load_errors, 1);
    EXPECT_EQ(sim_test::count_lines(log, "OPEN TRAY 0"), 1);
    EXPECT_EQ(sim_test::count_lines(log, "CLOSE TRAY 0"), 1);
}

TEST(CloseTraysAtStartup, ClosesEveryTrayThroughOrdinal170WithTheEngineHandle) {
    sim::World world(sim_test::config());
    sim_test::prepare_module(world);
    install_dorquel(world);
    // Exported by ordinal only, as the host's engine does.
    world.components().add_library("KT.dll", {{"", 170, reinterpret_cast<void*>(&fake_kt_move_tray)}});
    world.spawn("host", [&] {
        add_three_recorders();
        g_dwHostEngine = 0x00C0FFEE;
        for (int i = 0; i < 3; ++i) g_Recorders[i].bTrayState = TRAY_STATE_OPEN_WITH_DISC;
        Sleep(2000);
        CloseTraysAtStartup();
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(g_Recorders[i].bTrayState, TRAY_STATE_CLOSED_EMPTY);
            EXPECT_EQ(g_dwTrayTick[i], 0u) << "the start-up closing leaves the tray times alone";
        }
        CloseTraysAtStartup();
    });
    run_ok(world);
    ASSERT_EQ(g_kt_calls.size(), 6u);
    const LONG units[3] = {5, 9, 12};
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(g_kt_calls[i].engine, 0x00C0FFEEu);
        EXPECT_EQ(g_kt_calls[i].unit, units[i % 3]);
        EXPECT_EQ(g_kt_calls[i].code, 0x80000002u);
    }
    EXPECT_TRUE(g_dq_calls.empty());
    EXPECT_EQ(world.components().load_count("KT.dll"), 1u) << "loaded once and kept";
}

TEST(CloseTraysAtStartup, KtLibraryWithoutOrdinal170IsLoggedOnceAndTheStatesAreStillSet) {
    sim::World world(sim_test::config());
    sim_test::prepare_module(world);
    world.components().add_library("KT.dll", {{"Kt_MoveTray", 171, reinterpret_cast<void*>(&fake_kt_move_tray)}});
    world.spawn("host", [&] {
        add_three_recorders();
        CloseTraysAtStartup();
        CloseTraysAtStartup();
        for (int i = 0; i < 3; ++i) EXPECT_EQ(g_Recorders[i].bTrayState, TRAY_STATE_CLOSED_EMPTY);
    });
    run_ok(world);
    EXPECT_TRUE(g_kt_calls.empty());
    const std::vector<std::string> log = sim_test::log_texts(world);
    EXPECT_EQ(sim_test::count_lines(log, "ERROR: KT.dll has no function at ordinal 170"), 1);
}

TEST(OpenCloseTray, HostEngineTraysMoveAfterInjectedFailuresAndCloseAtStartup) {
    sim::World world(sim_test::config());
    sim_test::prepare_module(world);
    sim::HostEngine engine(world);
    sim::RecorderConfig right = sim::RecorderConfig::external(21, 'E', "KR4A0011");
    right.tray_open = true;  // left open by the last session
    auto e = engine.add_recorder(right);
    auto f = engine.add_recorder(sim::RecorderConfig::external(22, 'F', "KR4B0022"));
    engine.fail_tray_calls(22, 2);
    world.spawn("host", [&] {
        ClearRecorders();
        AddRecorder(21, 0, 4, 21, 'E', "KESTREL DVD-RW KR-2040");
        AddRecorder(22, 0, 4, 22, 'F', "KESTREL DVD-RW KR-2040");
        g_dwHostEngine = engine.engine_handle();
        CloseTraysAtStartup();
        Sleep(2000);
        EXPECT_TRUE(e->tray_closed()) << "closed through Kt_MoveTray with the host's engine handle";

        OpenCloseTray(0, 1, TRAY_STATE_OPEN_EMPTY);
        EXPECT_EQ(engine.calls(22).dq_failed, 2u);
        EXPECT_EQ(engine.calls(22).dq_open, 3u);
        Sleep(2000);
        EXPECT_TRUE(f->tray_open());
        OpenCloseTray(1, 1, TRAY_STATE_CLOSED_EMPTY);
        Sleep(2000);
        EXPECT_TRUE(f->tray_closed());
    });
    run_ok(world);
    EXPECT_EQ(engine.calls(21).kt_move_tray, 1u);
    EXPECT_EQ(engine.calls(22).kt_move_tray, 1u);
    EXPECT_EQ(engine.calls(22).dq_close, 1u);
    EXPECT_EQ(message_boxes_shown(world), 0);
    const std::vector<std::string> log = sim_test::log_texts(world);
    EXPECT_EQ(sim_test::count_lines(log, "Closing DQ_OpenCloseTray error: 31"), 2);
    EXPECT_EQ(sim_test::count_lines(log, kWaitLine), 2);
}

}  // namespace
