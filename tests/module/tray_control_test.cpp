// Recorder trays: DQ_OpenCloseTray with its retries, the operator's message when a tray will
// not move, the state and time recorded for the send thread, the print-only host, missing
// host libraries, and the start-up closing through Kt_MoveTray.
#include <windows.h>

#include <string>
#include <vector>

#include "devices/recorders.h"
#include "robot/robo_status.h"
#include "setup/host_engine.h"
#include "setup/recorders.h"
#include "setup/tray_control.h"
#include "support/module_world.h"
#include "support/module_state.h"
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
int dq_failures_left = 0;  // -1: fails for ever

extern "C" LONG WINAPI fake_dq_open_close_tray(LONG zero, LONG unit, LONG direction) {
    g_dq_calls.push_back({zero, unit, direction, now()});
    if (dq_failures_left == 0) return 0;
    if (dq_failures_left > 0) --dq_failures_left;
    return -31;
}

int kt_calls = 0;  // the start-up closing with the host engine's KT.dll is the last test
extern "C" LONG WINAPI fake_kt_move_tray(DWORD, LONG, DWORD) { return ++kt_calls, 0; }

// The module with Dorquel.dll (unless told otherwise) and KT.dll exporting Kt_MoveTray at `kt_ordinal`.
void prepare(sim::World& world, bool dorquel = true, WORD kt_ordinal = 170) {
    sim_test::prepare_module(world);
    if (dorquel)
        world.components().add_library("Dorquel.dll",
                                       {{"DQ_OpenCloseTray", 0, reinterpret_cast<void*>(&fake_dq_open_close_tray)}});
    world.components().add_library("KT.dll", {{"", kt_ordinal, reinterpret_cast<void*>(&fake_kt_move_tray)}});
}

// Three recorders with units 5, 9 and 12.
void add_three_recorders() {
    ClearRecorders();
    AddRecorder(5, 0, 4, 0, 'E', "PIONEER DVD-RW DVR-112D");
    AddRecorder(9, 0, 4, 1, 'F', "PIONEER DVD-RW DVR-112D");
    AddRecorder(12, 0, 121, 0, 'G', "LITE-ON DVDRW SHM-165P6S");
}

using sim_test::run_ok;

const char kErrorLine[] = "Closing DQ_OpenCloseTray error: -31";
const char kWaitLine[] = "Wait and try Kt_MoveTray again...";

// ---------------------------------------------------------------------------------------------

TEST(OpenCloseTray, TrayFailingTwiceIsRetriedEvery500MsWithoutMessageAndStateAndTimeAreRecorded) {
    sim::World world(sim_test::config());
    prepare(world);
    world.spawn("host", [&] {
        add_three_recorders();
        Sleep(3000);  // the tray time is the tick at the end of the call, not the start of the world
        dq_failures_left = 2;
        OpenCloseTray(0, 1, TRAY_STATE_OPEN_EMPTY);
        EXPECT_EQ(now(), 4 * kSecond) << "two waits of 500 ms";
        EXPECT_EQ(g_Recorders[1].bTrayState, TRAY_STATE_OPEN_EMPTY);
        EXPECT_EQ(g_dwTrayTick[1], GetTickCount());
        EXPECT_EQ(g_dwTrayTick[0], 0u) << "a row never moved keeps tick 0";
        Sleep(700);
        OpenCloseTray(1, 1, TRAY_STATE_CLOSED_WITH_DISC);
        EXPECT_EQ(now(), 4700 * kMs) << "a tray that moves at once takes no time";
        EXPECT_EQ(g_Recorders[1].bTrayState, TRAY_STATE_CLOSED_WITH_DISC);
        EXPECT_EQ(g_dwTrayTick[1], GetTickCount());
        OpenCloseTray(0, 3, TRAY_STATE_OPEN_EMPTY);  // rows outside the table: refused
        OpenCloseTray(0, 4000000000u, TRAY_STATE_OPEN_EMPTY);
    });
    run_ok(world);
    ASSERT_EQ(g_dq_calls.size(), 4u) << "three calls for the opening (two failures), one for the closing";
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(g_dq_calls[i].zero, 0);
        EXPECT_EQ(g_dq_calls[i].unit, 9) << "the row's unit number, not the row";
        EXPECT_EQ(g_dq_calls[i].direction, DQ_TRAY_OPEN);
        EXPECT_EQ(g_dq_calls[i].at, 3 * kSecond + static_cast<Micros>(i) * 500 * kMs);
    }
    EXPECT_EQ(g_dq_calls[3].direction, DQ_TRAY_CLOSE);
    EXPECT_TRUE(sim_test::boxes(world).empty());
    EXPECT_EQ(sim_test::log_texts(world),
              std::vector<std::string>({"OPEN TRAY 1", kErrorLine, kWaitLine, kErrorLine, kWaitLine, "CLOSE TRAY 1",
                                        "CHECK FAILED: OpenCloseTray() refused: row 3 is not in the recorder table (3 rows)",
                                        "CHECK FAILED: OpenCloseTray() refused: row 4000000000 is not in the recorder table "
                                        "(3 rows)"}));
}

TEST(OpenCloseTray, TrayFailing51TimesIsReportedAfter25AndAHalfSecondsAndSuccessOnTheLastRetryIsNot) {
    sim::World world(sim_test::config());
    prepare(world);
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
    int opening_boxes = 0;
    world.op()
        .on_message_box("Error Opening the drive tray.")
        .with_caption("Optical Disc Duplicator")
        .with_flags(MB_SETFOREGROUND)
        .then([&] { ++opening_boxes; })
        .answer(IDOK);
    world.spawn("send-queue", [&] {
        add_three_recorders();
        sim_test::with_tray_state(2, TRAY_STATE_OPEN_WITH_DISC);
        dq_failures_left = -1;
        OpenCloseTray(1, 2, TRAY_STATE_CLOSED_WITH_DISC);
        EXPECT_EQ(now(), 25500 * kMs + 2 * kSecond) << "the box after a last 500 ms wait, answered 2 s later";
        EXPECT_EQ(answered_at, now()) << "the call returns with the answer";
        EXPECT_EQ(g_Recorders[2].bTrayState, TRAY_STATE_CLOSED_WITH_DISC) << "recorded as moved anyway";
        EXPECT_EQ(g_dwTrayTick[2], GetTickCount());
        ASSERT_EQ(g_dq_calls.size(), 51u) << "one call and 50 retries";
        for (const DqCall& c : g_dq_calls) EXPECT_EQ(c.direction, DQ_TRAY_CLOSE);
        EXPECT_EQ(g_dq_calls.back().at, 25 * kSecond);

        dq_failures_left = 50;  // the 51st call moves the tray
        const Micros start = now();
        OpenCloseTray(0, 0, TRAY_STATE_OPEN_EMPTY);
        EXPECT_EQ(now() - start, 25 * kSecond);
        EXPECT_EQ(g_dq_calls.size(), 102u);
        EXPECT_EQ(opening_boxes, 0) << "success on the last retry needs no message";

        dq_failures_left = -1;
        OpenCloseTray(0, 1, TRAY_STATE_OPEN_EMPTY);
        EXPECT_EQ(opening_boxes, 1) << "an opening that fails names opening";
    });
    run_ok(world);
    EXPECT_EQ(box_owner, nullptr) << "the box has no owner window";
    EXPECT_EQ(sim_test::boxes(world).size(), 2u);

    const std::vector<std::string> log = sim_test::log_texts(world);
    EXPECT_EQ(sim_test::count_lines(log, "CLOSE TRAY 2"), 1);
    EXPECT_EQ(sim_test::count_lines(log, kErrorLine), 51 + 50 + 51);
    EXPECT_EQ(sim_test::count_lines(log, kWaitLine), 51 + 50 + 51);
}

// Neither Dorquel.dll nor an ordinal 170 in KT.dll: first as the print-only host, which tries
// nothing, then as a recorder host, which tells the operator at once and goes on.
TEST(OpenCloseTray, PrintOnlyHostMovesNothingAndMissingHostLibrariesDoNotHangAndAreLoggedOnce) {
    sim::World world(sim_test::config());
    prepare(world, /*dorquel=*/false, /*kt_ordinal=*/171);
    int boxes = 0;
    world.op().on_message_box("drive tray").with_flags(MB_SETFOREGROUND).then([&] { ++boxes; }).answer(IDOK).after(
        1 * kSecond);
    world.spawn("host", [&] {
        add_three_recorders();
        sim_test::with_tray_state(0, TRAY_STATE_OPEN_WITH_DISC);
        sim_test::as_a_print_only_host(true);
        Sleep(1000);
        OpenCloseTray(0, 0, TRAY_STATE_OPEN_EMPTY);
        OpenCloseTray(1, 0, TRAY_STATE_CLOSED_WITH_DISC);
        CloseTraysAtStartup();
        EXPECT_EQ(g_Recorders[0].bTrayState, TRAY_STATE_OPEN_WITH_DISC) << "print-only: nothing stored";
        EXPECT_EQ(g_dwTrayTick[0], 0u);
        EXPECT_EQ(boxes, 0);
        EXPECT_EQ(sim_test::log_texts(world),
                  std::vector<std::string>(2, "OpenCloseTray() called for PRINT-ONLY APP!  Do nothing."))
            << "two notes: no library looked for, no OPEN TRAY";

        sim_test::as_a_print_only_host(false);
        const Micros start = now();
        OpenCloseTray(0, 0, TRAY_STATE_OPEN_EMPTY);
        OpenCloseTray(1, 0, TRAY_STATE_CLOSED_EMPTY);
        EXPECT_EQ(now() - start, 2 * kSecond) << "no retries: only the operator's two answers took time";
        EXPECT_EQ(boxes, 2);
        EXPECT_EQ(g_Recorders[0].bTrayState, TRAY_STATE_CLOSED_EMPTY) << "stored as asked";
        EXPECT_EQ(g_dwTrayTick[0], GetTickCount());

        sim_test::with_tray_state(1, TRAY_STATE_OPEN_WITH_DISC);
        CloseTraysAtStartup();
        CloseTraysAtStartup();
        for (int i = 0; i < 3; ++i) EXPECT_EQ(g_Recorders[i].bTrayState, TRAY_STATE_CLOSED_EMPTY) << i;
    });
    run_ok(world);
    EXPECT_EQ(kt_calls, 0);
    const std::vector<std::string> log = sim_test::log_texts(world);
    EXPECT_EQ(sim_test::count_starting(log, "ERROR: Could not load Dorquel.dll"), 1);
    EXPECT_EQ(sim_test::count_lines(log, "ERROR: KT.dll has no function at ordinal 170"), 1);
    EXPECT_EQ(sim_test::count_lines(log, "OPEN TRAY 0"), 1);
    EXPECT_EQ(sim_test::count_lines(log, "CLOSE TRAY 0"), 1);
}

// The host's engine as the world provides it: KT.dll exports Kt_MoveTray by ordinal 170 only and
// moves a tray for its own engine handle alone; DQ_OpenCloseTray fails as injected.
TEST(CloseTraysAtStartup, HostEngineTraysCloseThroughOrdinal170WithTheEngineHandleThenMoveAfterFailures) {
    sim::World world(sim_test::config());
    sim_test::prepare_module(world);
    sim::HostEngine engine(world);
    sim::RecorderConfig left_open = sim::RecorderConfig::external(21, 'E', "KR4A0011");
    left_open.tray_open = true;  // by the last session
    auto e = engine.add_recorder(left_open);
    auto f = engine.add_recorder(sim::RecorderConfig::external(22, 'F', "KR4B0022"));
    engine.fail_tray_calls(22, 2);
    world.spawn("host", [&] {
        ClearRecorders();
        AddRecorder(21, 0, 4, 21, 'E', "KESTREL DVD-RW KR-2040");
        AddRecorder(22, 0, 4, 22, 'F', "KESTREL DVD-RW KR-2040");
        sim_test::with_tray_state(0, TRAY_STATE_OPEN_WITH_DISC);
        sim_test::with_host_engine(engine.engine_handle());
        CloseTraysAtStartup();
        CloseTraysAtStartup();
        EXPECT_EQ(g_Recorders[0].bTrayState, TRAY_STATE_CLOSED_EMPTY);
        EXPECT_EQ(g_dwTrayTick[0], 0u) << "the start-up closing leaves the tray times alone";
        Sleep(2000);
        EXPECT_TRUE(e->tray_closed());

        OpenCloseTray(0, 1, TRAY_STATE_OPEN_EMPTY);
        Sleep(2000);
        EXPECT_TRUE(f->tray_open()) << "opened on the third call";
        OpenCloseTray(1, 1, TRAY_STATE_CLOSED_EMPTY);
        Sleep(2000);
        EXPECT_TRUE(f->tray_closed());
    });
    run_ok(world);
    std::vector<std::string> moves;
    for (const sim::TranscriptEntry& n : world.kernel().transcript().of_kind("recorder"))
        if (n.text.rfind("Kt_MoveTray(", 0) == 0) moves.push_back(n.text.substr(0, n.text.find(')') + 6));
    EXPECT_EQ(moves, std::vector<std::string>({"Kt_MoveTray(0x4B540010, 21, 0x80000002) -> 0",
                                               "Kt_MoveTray(0x4B540010, 22, 0x80000002) -> 0",
                                               "Kt_MoveTray(0x4B540010, 21, 0x80000002) -> 0",
                                               "Kt_MoveTray(0x4B540010, 22, 0x80000002) -> 0"}))
        << "every row in order, with the engine handle and the close code";
    EXPECT_EQ(world.components().load_count("KT.dll"), 1u) << "loaded once and kept";
    EXPECT_EQ(engine.calls(22).dq_failed, 2u);
    EXPECT_EQ(engine.calls(22).dq_open, 3u);
    EXPECT_EQ(engine.calls(22).dq_close, 1u);
    EXPECT_TRUE(sim_test::boxes(world).empty());
    EXPECT_EQ(sim_test::count_lines(sim_test::log_texts(world), "Closing DQ_OpenCloseTray error: 31"), 2);
}

}  // namespace
