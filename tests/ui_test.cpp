// Windows in the simulated world: message boxes answered by the operator, modal dialogs with
// their message loops, messages between threads, controls and the operator's input.
#include <windows.h>
#include <commctrl.h>

#include <string>
#include <vector>

#include "resources/resource.h"
#include "support/sim_test.h"
#include "win32/resources.h"
#include "win32/ui.h"
#include "world/operator.h"
#include "world/world.h"

namespace {

using sim::kMs;
using sim::kSecond;
using sim::Micros;

// The test templates: 901 a status message dialog, 902 one control of every kind.
std::vector<sim::DialogTemplate> test_dialogs() {
    std::vector<sim::DialogTemplate> list;
    sim::DialogListBuilder rovane_dialogs(list);
#include "win32/dialog_macros.h"
#include "support/test_dialogs.inc"
    return list;
}

sim::WorldConfig ui_config(Micros unanswered_limit = 2 * sim::kHour) {
    sim::WorldConfig cfg = sim_test::config();
    cfg.unanswered_window_limit = unanswered_limit;
    return cfg;
}

void prepare(sim::World& world) {
    world.load_module();
    for (const sim::DialogTemplate& d : test_dialogs()) world.resources().add_dialog(d);
}

Micros now() { return sim::kernel().now(); }
HINSTANCE module() { return sim::world().module_instance(); }

std::string item_text(HWND dlg, int id) {
    char text[512];
    GetDlgItemTextA(dlg, id, text, sizeof text);
    return text;
}

std::string module_string(UINT id) {
    char text[512];
    LoadStringA(module(), id, text, sizeof text);
    return text;
}

bool transcript_has(sim::World& world, const std::string& kind, const std::string& text) {
    for (const sim::TranscriptEntry& e : world.kernel().transcript().of_kind(kind))
        if (e.text.find(text) != std::string::npos) return true;
    return false;
}

void reset_globals();

// ---------------------------------------------------------------------------------------------
// Message boxes.

TEST(MessageBox, AnsweredByRuleAfterItsThinkTime) {
    sim::World world(ui_config());
    prepare(world);
    reset_globals();
    world.op().on_message_box("input bin is empty").answer(IDRETRY).after(3 * kSecond);
    int answer = 0;
    Micros waited = 0;
    world.spawn("host", [&] {
        const Micros start = now();
        answer = MessageBoxA(NULL, "The input bin is empty.\nAdd more discs and push the Pick button.",
                             "Optical Disc Duplicator", MB_ICONEXCLAMATION | MB_RETRYCANCEL);
        waited = now() - start;
    });
    sim::RunResult r = world.run();
    ASSERT_TRUE(r.ok()) << r.report;
    EXPECT_EQ(answer, IDRETRY);
    EXPECT_EQ(waited, 3 * kSecond);
    EXPECT_TRUE(transcript_has(world, "window",
                               "msgbox shown caption=\"Optical Disc Duplicator\" flags=0x35 text=\"The input bin is "
                               "empty.\\nAdd more discs and push the Pick button.\""));
    EXPECT_TRUE(transcript_has(world, "window", "msgbox answered IDRETRY"));
    EXPECT_TRUE(transcript_has(world, "operator", "IDRETRY"));
    EXPECT_EQ(world.op().answers_given(), 1u);
}

TEST(MessageBox, RulesAreTriedInOrderWithCaptionFlagsAndUseLimits) {
    sim::World world(ui_config());
    prepare(world);
    reset_globals();
    world.op().set_default_answer(sim::Operator::DefaultAnswer::FirstButton);
    world.op().set_think_time(1500 * kMs);
    world.op().on_message_box("Laminator").with_caption("Warning").answer(IDOK).after(1 * kSecond).times(1);
    world.op().on_message_box("").with_flags(MB_RETRYCANCEL | MB_ICONINFORMATION).answer(IDCANCEL).after(4 * kSecond);
    struct Seen {
        int answer;
        Micros waited;
    };
    std::vector<Seen> seen;
    world.spawn("host", [&] {
        auto ask = [&](const char* text, const char* caption, UINT flags) {
            const Micros start = now();
            const int a = MessageBoxA(NULL, text, caption, flags);
            seen.push_back({a, now() - start});
        };
        ask("You need to update the firmware of your ZorvikQIX to use the Laminator.", "Warning", MB_OK);
        ask("You need to update the firmware of your ZorvikQIX to use the Laminator.", "Warning", MB_OK);
        ask("Laminator is not answering.", "Other", MB_RETRYCANCEL | MB_ICONINFORMATION);
        ask("Laminator is not answering.", "Other", MB_RETRYCANCEL);
        ask("Do you want the Duplicator to begin picking from the Initial input bin?", "Q", MB_YESNO);
    });
    sim::RunResult r = world.run();
    ASSERT_TRUE(r.ok()) << r.report;
    ASSERT_EQ(seen.size(), 5u);
    EXPECT_EQ(seen[0].answer, IDOK);  // the caption rule, once
    EXPECT_EQ(seen[0].waited, 1 * kSecond);
    EXPECT_EQ(seen[1].answer, IDOK);  // rule used up: the default answer, after the default think time
    EXPECT_EQ(seen[1].waited, 1500 * kMs);
    EXPECT_EQ(seen[2].answer, IDCANCEL);  // exact flags match
    EXPECT_EQ(seen[2].waited, 4 * kSecond);
    EXPECT_EQ(seen[3].answer, IDRETRY);  // other flags: the default's first button
    EXPECT_EQ(seen[3].waited, 1500 * kMs);
    EXPECT_EQ(seen[4].answer, IDYES);
}

TEST(MessageBox, UnansweredBoxStopsTheRunWithAReport) {
    sim::World world(ui_config(10 * sim::kMinute));
    prepare(world);
    reset_globals();
    bool returned = false;
    world.spawn("send-queue", [&] {
        Sleep(2000);
        MessageBoxA(NULL, "There has been a position movement error.", "Optical Disc Duplicator", MB_OK | MB_ICONSTOP);
        returned = true;
    });
    sim::RunResult r = world.run();
    ASSERT_EQ(r.outcome, sim::Outcome::Failed) << r.report;
    EXPECT_FALSE(returned);
    EXPECT_NE(r.report.find("caption=\"Optical Disc Duplicator\""), std::string::npos) << r.report;
    EXPECT_NE(r.report.find("There has been a position movement error."), std::string::npos) << r.report;
    EXPECT_NE(r.report.find("thread 'send-queue'"), std::string::npos) << r.report;
    EXPECT_NE(r.report.find("shown at t=2.000000s"), std::string::npos) << r.report;
    EXPECT_NE(r.report.find("seed " + std::to_string(world.config().seed)), std::string::npos) << r.report;
    EXPECT_EQ(world.kernel().now(), 2 * kSecond + 10 * sim::kMinute);
}

TEST(MessageBox, RuleWithAButtonTheBoxLacksStopsTheRun) {
    sim::World world(ui_config());
    prepare(world);
    reset_globals();
    world.op().on_message_box("paused").answer(IDYES);
    world.spawn("host", [] { MessageBoxA(NULL, "The Duplicator is paused.", "Optical Disc Duplicator", MB_RETRYCANCEL); });
    sim::RunResult r = world.run();
    ASSERT_EQ(r.outcome, sim::Outcome::Failed);
    EXPECT_NE(r.report.find("answers IDYES"), std::string::npos) << r.report;
    EXPECT_NE(r.report.find("offers IDRETRY, IDCANCEL"), std::string::npos) << r.report;
}

TEST(MessageBox, InvalidOwnerFailsAndHostWindowOwnerIsDisabledMeanwhile) {
    sim::World world(ui_config());
    prepare(world);
    reset_globals();
    world.op().on_message_box("").answer(IDOK).after(2 * kSecond);
    world.spawn("host", [&] {
        SetLastError(0);
        EXPECT_EQ(MessageBoxA(reinterpret_cast<HWND>(static_cast<uintptr_t>(0x1234)), "x", "y", MB_OK), 0);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
        HWND owner = world.ui().create_host_window("VeltoDVD");
        world.kernel().after(1 * kSecond, [owner] {
            // While the box is up its owner takes no input.
            EXPECT_EQ(EnableWindow(owner, TRUE), TRUE);  // it was disabled
            EnableWindow(owner, FALSE);
        });
        EXPECT_EQ(MessageBoxA(owner, "Communications OK.  System Idle.", "Optical Disc Duplicator", MB_OK), IDOK);
        EXPECT_EQ(EnableWindow(owner, TRUE), FALSE);  // enabled again once the box closed
    });
    sim::RunResult r = world.run();
    ASSERT_TRUE(r.ok()) << r.report;
}

// ---------------------------------------------------------------------------------------------
// The status message dialog pattern: a dialog on its own thread, updated by posted commands,
// closed by a command sent from another thread that waits for the handler.

struct StatusDialog {
    HWND hwnd = nullptr;
    int abort_presses = 0;
    Micros abort_at = 0;
    bool cancel_done = false;
    std::vector<std::string> shown_texts;
};
StatusDialog g_status;

INT_PTR CALLBACK status_proc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
    case WM_INITDIALOG: {
        char text[256];
        LoadStringA(module(), static_cast<UINT>(lp), text, 250);
        SetDlgItemTextA(h, 1081, text);
        g_status.hwnd = h;
        g_status.shown_texts.push_back(text);
        return TRUE;
    }
    case WM_COMMAND:
        switch (LOWORD(wp)) {
        case 1081: {
            char text[256];
            LoadStringA(module(), static_cast<UINT>(lp), text, 250);
            SetDlgItemTextA(h, 1081, text);
            g_status.shown_texts.push_back(text);
            return TRUE;
        }
        case 1178:
            ++g_status.abort_presses;
            g_status.abort_at = now();
            Sleep(500);
            return TRUE;
        case IDCANCEL:
            Sleep(500);
            g_status.cancel_done = true;
            EndDialog(h, 7);
            return TRUE;
        }
    }
    return FALSE;
}

TEST(Dialog, PostedCommandFromAnotherThreadAndSendThatWaitsForTheHandler) {
    sim::World world(ui_config());
    prepare(world);
    reset_globals();
    // The operator only reacts to the printing message, which the dialog shows after an update.
    world.op().on_dialog(901).containing("Waiting for the printing").click(1178).after(2 * kSecond);
    INT_PTR result = 0;
    world.spawn("message", [&] {
        result = DialogBoxParamA(module(), MAKEINTRESOURCEA(901), NULL, status_proc, 105);
    });
    world.spawn("send-queue", [&] {
        while (!g_status.hwnd) Sleep(10);
        HWND dlg = g_status.hwnd;
        Sleep(1000 - static_cast<DWORD>(now() / kMs));
        EXPECT_TRUE(PostMessageA(dlg, WM_COMMAND, 1081, 140));
        EXPECT_EQ(now(), 1 * kSecond);  // posting does not wait
        Sleep(4000);
        EXPECT_EQ(g_status.abort_presses, 1);
        EXPECT_EQ(g_status.abort_at, 3 * kSecond);  // 2 s after the text it answers appeared
        EXPECT_EQ(item_text(dlg, 1081), "Waiting for the printing to finish...");
        const Micros start = now();
        SendMessageA(dlg, WM_COMMAND, IDCANCEL, 0);
        EXPECT_EQ(now() - start, 500 * kMs);  // returned when the handler (which sleeps) was done
        EXPECT_TRUE(g_status.cancel_done);
        Sleep(10);
        SetLastError(0);
        EXPECT_FALSE(PostMessageA(dlg, WM_COMMAND, 1081, 108));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
        SetLastError(0);
        EXPECT_EQ(SendMessageA(dlg, WM_COMMAND, IDCANCEL, 0), 0);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
        EXPECT_FALSE(IsWindow(dlg));
        EXPECT_EQ(GetDlgItem(dlg, 1081), nullptr);
    });
    sim::RunResult r = world.run();
    ASSERT_TRUE(r.ok()) << r.report;
    EXPECT_EQ(result, 7);
    ASSERT_EQ(g_status.shown_texts.size(), 2u);
    EXPECT_EQ(g_status.shown_texts[0], module_string(105));
    EXPECT_EQ(g_status.shown_texts[1], module_string(140));
    EXPECT_TRUE(transcript_has(world, "window", "dialog 901 shown caption=\"Robot Message\""));
    EXPECT_TRUE(transcript_has(world, "message", "post to dialog 901 WM_COMMAND wParam=1081 lParam=140"));
    EXPECT_TRUE(transcript_has(world, "message", "send to dialog 901 WM_COMMAND wParam=2 lParam=0"));
    EXPECT_TRUE(transcript_has(world, "operator", "dialog 901: click 1178")) << world.transcript_text();
    EXPECT_TRUE(transcript_has(world, "window", "dialog 901 closed result=7"));
}

TEST(Dialog, PostFromAKernelEventAndNotifyThatDoesNotWait) {
    sim::World world(ui_config());
    prepare(world);
    reset_globals();
    world.op().on_dialog(901).containing("movement error").close().after(1 * kSecond);
    world.spawn("message", [&] { DialogBoxParamA(module(), MAKEINTRESOURCEA(901), NULL, status_proc, 109); });
    world.kernel().after(2 * kSecond, [] { PostMessageA(g_status.hwnd, WM_COMMAND, 1081, 108); });
    world.spawn("printer", [&] {
        Sleep(3000);
        const Micros start = now();
        EXPECT_TRUE(SendNotifyMessageA(g_status.hwnd, WM_COMMAND, 1178, 0));  // the handler sleeps 500 ms
        EXPECT_EQ(now(), start);
        EXPECT_EQ(g_status.abort_presses, 0);
        Sleep(100);
        EXPECT_EQ(g_status.abort_presses, 1);
        Sleep(1000);
        PostMessageA(g_status.hwnd, WM_COMMAND, 1081, 143);
    });
    sim::RunResult r = world.run();
    ASSERT_TRUE(r.ok()) << r.report;
    ASSERT_EQ(g_status.shown_texts.size(), 3u);
    EXPECT_EQ(g_status.shown_texts[1], module_string(108));
    EXPECT_EQ(g_status.shown_texts[2], module_string(143));
    // The close box gives the Cancel command; the operator closed it 1 s after "movement error".
    EXPECT_TRUE(g_status.cancel_done);
    EXPECT_TRUE(transcript_has(world, "message", "notify dialog 901 WM_COMMAND wParam=1178"));
    bool world_posted = false;
    for (const auto& e : world.kernel().transcript().of_kind("message"))
        if (e.thread == "world" && e.text == "post to dialog 901 WM_COMMAND wParam=1081 lParam=108") world_posted = true;
    EXPECT_TRUE(world_posted);
}

TEST(Dialog, UnansweredDialogStopsTheRunCountingFromItsLastAnswer) {
    sim::World world(ui_config(30 * sim::kMinute));
    prepare(world);
    reset_globals();
    world.op().on_dialog(901).click(1178).times(1);  // pressing ABORT Job leaves it open here
    world.spawn("message", [&] { DialogBoxParamA(module(), MAKEINTRESOURCEA(901), NULL, status_proc, 106); });
    sim::RunResult r = world.run();
    ASSERT_EQ(r.outcome, sim::Outcome::Failed) << r.report;
    EXPECT_EQ(g_status.abort_presses, 1);
    EXPECT_NE(r.report.find("dialog 901 caption=\"Robot Message\""), std::string::npos) << r.report;
    EXPECT_NE(r.report.find("There was a printer error."), std::string::npos) << r.report;
    EXPECT_NE(r.report.find("thread 'message'"), std::string::npos) << r.report;
    EXPECT_NE(r.report.find("last answered at t=1.500000s"), std::string::npos) << r.report;
    EXPECT_EQ(world.kernel().now(), 1500 * kMs + 30 * sim::kMinute);
}

TEST(Operator, SideEffectOnlyAnswerAndAFreshLookWhenTheTextChanges) {
    sim::World world(ui_config());
    prepare(world);
    bool paused_rule_ran = false, resumed = false;
    Micros printer_rule_at = 0;
    // Pressing the robot's buttons is the answer; the module's own closer then ends the dialog.
    world.op().on_dialog(901).containing("paused").then([&] { paused_rule_ran = true; }).after(5 * kSecond);
    world.op()
        .on_dialog(901)
        .containing("printer error")
        .then([&] {
            printer_rule_at = now();
            resumed = true;
        })
        .after(1 * kSecond)
        .times(1);
    INT_PTR result = 0;
    world.spawn("message", [&] { result = DialogBoxParamA(module(), MAKEINTRESOURCEA(901), NULL, status_proc, 109); });
    world.kernel().after(2 * kSecond, [] { PostMessageA(g_status.hwnd, WM_COMMAND, 1081, 106); });
    Micros closed_at = 0;
    world.spawn("closer", [&] {
        while (!resumed) Sleep(200);
        PostMessageA(g_status.hwnd, WM_COMMAND, IDCANCEL, 0);
        while (IsWindow(g_status.hwnd)) Sleep(10);
        closed_at = now();
    });
    sim::RunResult r = world.run();
    ASSERT_TRUE(r.ok()) << r.report;
    EXPECT_FALSE(paused_rule_ran);  // the text changed before its think time was over
    EXPECT_EQ(printer_rule_at, 3 * kSecond);
    EXPECT_EQ(result, 7);
    // Seen by the closer's next 200 ms look, then the Cancel handler's 500 ms.
    EXPECT_GE(closed_at, 3500 * kMs);
    EXPECT_LE(closed_at, 3710 * kMs);
    EXPECT_EQ(world.op().answers_given(), 1u);
}

// A dialog that opens another modal dialog on the same thread: the inner loop serves both.
INT_PTR CALLBACK controls_proc(HWND h, UINT msg, WPARAM wp, LPARAM);
INT_PTR CALLBACK outer_proc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_COMMAND && LOWORD(wp) == 5001) {
        g_status.shown_texts.push_back(
            "inner returned " + std::to_string(DialogBoxParamA(module(), MAKEINTRESOURCEA(902), NULL, controls_proc, 0)));
        return TRUE;
    }
    return status_proc(h, msg, wp, lp);
}

TEST(Dialog, NestedModalDialogOnTheSameThread) {
    sim::World world(ui_config());
    prepare(world);
    world.op().on_dialog(902).click(IDOK).after(3 * kSecond);
    world.op().on_dialog(901).containing("not picked").close().after(1 * kSecond);
    INT_PTR result = 0;
    world.spawn("host", [&] {
        result = DialogBoxParamA(module(), MAKEINTRESOURCEA(901), NULL, outer_proc, 140);
    });
    world.spawn("other", [&] {
        while (!world.ui().find_dialog(901)) Sleep(10);
        PostMessageA(g_status.hwnd, WM_COMMAND, 5001, 0);
        Sleep(1000);
        ASSERT_NE(world.ui().find_dialog(902), nullptr);
        PostMessageA(g_status.hwnd, WM_COMMAND, 1081, 108);  // served by the inner dialog's loop
        Sleep(100);
        EXPECT_EQ(item_text(g_status.hwnd, 1081), module_string(108));
        EXPECT_EQ(world.ui().open_windows().size(), 2u);
    });
    sim::RunResult r = world.run();
    ASSERT_TRUE(r.ok()) << r.report;
    EXPECT_EQ(result, 7);
    ASSERT_EQ(g_status.shown_texts.size(), 3u);
    EXPECT_EQ(g_status.shown_texts[1], module_string(108));
    EXPECT_EQ(g_status.shown_texts[2], "inner returned 1");
}

// A dialog that asks a question in a message box: while the box is up the dialog still gets the
// messages sent to it from other threads, but takes no operator input.
struct AskingDialog {
    HWND hwnd = nullptr;
    int box_answer = 0;
    bool enabled_during_box = true, enabled_after_box = false;
    int aborts = 0;
};
AskingDialog g_ask;

INT_PTR CALLBACK asking_proc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
    case WM_INITDIALOG:
        g_ask.hwnd = h;
        PostMessageA(h, WM_COMMAND, 5000, 0);
        return TRUE;
    case WM_COMMAND:
        switch (LOWORD(wp)) {
        case 5000:
            g_ask.box_answer = MessageBoxA(h, "Do you want to pick from all 4 input bins?", "Optical Disc Duplicator",
                                           MB_YESNO | MB_ICONQUESTION);
            g_ask.enabled_after_box = sim::world().ui().window(h)->enabled;
            EndDialog(h, g_ask.box_answer);
            return TRUE;
        case 1081: {
            char text[256];
            LoadStringA(module(), static_cast<UINT>(lp), text, sizeof text);
            SetDlgItemTextA(h, 1081, text);
            return TRUE;
        }
        case 1178: ++g_ask.aborts; return TRUE;
        }
    }
    return FALSE;
}

TEST(Dialog, MessageBoxLoopStillHandlesMessagesSentToTheThreadsDialog) {
    sim::World world(ui_config());
    prepare(world);
    reset_globals();
    world.op().on_message_box("all 4 input bins").answer(IDNO).after(10 * kSecond);
    INT_PTR result = 0;
    world.spawn("host", [&] { result = DialogBoxParamA(module(), MAKEINTRESOURCEA(901), NULL, asking_proc, 0); });
    world.spawn("other", [&] {
        Sleep(2000);
        EXPECT_FALSE(world.ui().window(g_ask.hwnd)->enabled);  // owner of the open box
        const Micros start = now();
        SendMessageA(g_ask.hwnd, WM_COMMAND, 1081, 108);
        EXPECT_EQ(now(), start);  // handled at once by the box's loop
        EXPECT_EQ(item_text(g_ask.hwnd, 1081), module_string(108));
        EXPECT_TRUE(world.ui().click(g_ask.hwnd, 1178));  // the operator cannot reach it
    });
    sim::RunResult r = world.run();
    ASSERT_TRUE(r.ok()) << r.report;
    EXPECT_EQ(result, IDNO);
    EXPECT_TRUE(g_ask.enabled_after_box);
    EXPECT_EQ(g_ask.aborts, 0);
    EXPECT_TRUE(transcript_has(world, "operator", "dialog 901: click 1178 ignored: the dialog is disabled"));
}

// ---------------------------------------------------------------------------------------------
// Dialog life cycle.

INT_PTR CALLBACK ends_at_once_proc(HWND h, UINT msg, WPARAM, LPARAM lp) {
    if (msg == WM_INITDIALOG) {
        EndDialog(h, lp);
        return TRUE;
    }
    return FALSE;
}

TEST(Dialog, UnknownTemplateForeignInstanceBadOwnerAndEndingBeforeShown) {
    sim::World world(ui_config(1 * sim::kMinute));
    prepare(world);
    reset_globals();
    world.spawn("host", [&] {
        SetLastError(0);
        EXPECT_EQ(DialogBoxParamA(module(), MAKEINTRESOURCEA(999), NULL, ends_at_once_proc, 1), -1);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_NAME_NOT_FOUND));
        SetLastError(0);
        HINSTANCE other = reinterpret_cast<HINSTANCE>(static_cast<uintptr_t>(0x00400000));
        EXPECT_EQ(DialogBoxParamA(other, MAKEINTRESOURCEA(901), NULL, ends_at_once_proc, 1), -1);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_NAME_NOT_FOUND));
        SetLastError(0);
        EXPECT_EQ(DialogBoxParamA(module(), MAKEINTRESOURCEA(901), reinterpret_cast<HWND>(static_cast<uintptr_t>(8)),
                                  ends_at_once_proc, 1),
                  0);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
        // Ended while opening: never shown, so nobody has to answer it.
        EXPECT_EQ(DialogBoxParamA(module(), MAKEINTRESOURCEA(901), NULL, ends_at_once_proc, 42), 42);
        EXPECT_TRUE(world.ui().open_windows().empty());
    });
    sim::RunResult r = world.run();
    ASSERT_TRUE(r.ok()) << r.report;
    EXPECT_FALSE(transcript_has(world, "window", "dialog 901 shown"));
    EXPECT_TRUE(transcript_has(world, "window", "dialog 901 closed result=42"));
}

// ---------------------------------------------------------------------------------------------
// Controls driven by the operator.

struct ControlsDialog {
    HWND hwnd = nullptr;
    std::vector<std::pair<int, int>> notes;  // (control id, notification code)
    std::string port, count_text;
    int port_index = -2, printer = -1, recorder = -1, record_print = -1, left1 = -1, left2 = -1, right1 = -1;
    UINT typed = 0, count = 0;
    BOOL typed_ok = FALSE;
    int pos32 = -1;
    BOOL pos_error = TRUE;
};
ControlsDialog g_ctl;

INT_PTR CALLBACK controls_proc(HWND h, UINT msg, WPARAM wp, LPARAM) {
    switch (msg) {
    case WM_INITDIALOG: {
        g_ctl.hwnd = h;
        const char* ports[] = {"COM1", "COM2", "COM3", "COM4"};
        for (const char* p : ports) SendDlgItemMessageA(h, 1080, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(p));
        SendDlgItemMessageA(h, 1080, CB_SETCURSEL, 0, 0);
        CheckDlgButton(h, 1093, BST_CHECKED);
        CheckDlgButton(h, 1119, BST_CHECKED);
        CheckDlgButton(h, 1127, BST_CHECKED);
        SendDlgItemMessageA(h, 1096, UDM_SETRANGE, 0, MAKELPARAM(400, 2));
        UDACCEL accels[3] = {{0, 2}, {2, 4}, {4, 10}};
        SendDlgItemMessageA(h, 1096, UDM_SETACCEL, 3, reinterpret_cast<LPARAM>(accels));
        SetDlgItemInt(h, 1095, 2, FALSE);
        SendDlgItemMessageA(h, 1096, UDM_SETPOS, 0, MAKELPARAM(2, 0));
        return TRUE;
    }
    case WM_COMMAND:
        g_ctl.notes.push_back({LOWORD(wp), HIWORD(wp)});
        if (LOWORD(wp) == IDOK) {
            g_ctl.port = item_text(h, 1080);
            g_ctl.port_index = static_cast<int>(SendDlgItemMessageA(h, 1080, CB_GETCURSEL, 0, 0));
            g_ctl.printer = static_cast<int>(IsDlgButtonChecked(h, 1092));
            g_ctl.recorder = static_cast<int>(IsDlgButtonChecked(h, 1093));
            g_ctl.record_print = static_cast<int>(IsDlgButtonChecked(h, 1105));
            g_ctl.left1 = static_cast<int>(IsDlgButtonChecked(h, 1119));
            g_ctl.left2 = static_cast<int>(IsDlgButtonChecked(h, 1120));
            g_ctl.right1 = static_cast<int>(IsDlgButtonChecked(h, 1127));
            g_ctl.typed = GetDlgItemInt(h, 1110, &g_ctl.typed_ok, FALSE);
            g_ctl.count_text = item_text(h, 1095);
            g_ctl.count = GetDlgItemInt(h, 1095, nullptr, FALSE);
            g_ctl.pos32 = static_cast<int>(SendDlgItemMessageA(h, 1096, UDM_GETPOS32, 0, reinterpret_cast<LPARAM>(&g_ctl.pos_error)));
            EndDialog(h, 1);
            return TRUE;
        }
        if (LOWORD(wp) == IDCANCEL) {
            EndDialog(h, 0);
            return TRUE;
        }
        return TRUE;
    }
    return FALSE;
}

TEST(Controls, OperatorSelectsChecksTypesSpinsAndClicks) {
    sim::World world(ui_config());
    prepare(world);
    reset_globals();
    world.op()
        .on_dialog(902)
        .select(1080, "COM3")
        .check(1092, true)
        .click(1093)   // disabled: nothing happens
        .click(1105)   // hidden: nothing happens
        .click(1120)   // radio: clears 1119, leaves the other group alone
        .type(1110, "42")
        .spin(1096, 3)
        .click(IDOK)
        .after(2 * kSecond);
    INT_PTR result = -5;
    world.spawn("host", [&] { result = DialogBoxParamA(module(), MAKEINTRESOURCEA(902), NULL, controls_proc, 0); });
    sim::RunResult r = world.run();
    ASSERT_TRUE(r.ok()) << r.report;
    EXPECT_EQ(result, 1);
    EXPECT_EQ(g_ctl.port, "COM3");
    EXPECT_EQ(g_ctl.port_index, 2);
    EXPECT_EQ(g_ctl.printer, BST_CHECKED);
    EXPECT_EQ(g_ctl.recorder, BST_CHECKED);
    EXPECT_EQ(g_ctl.record_print, BST_UNCHECKED);
    EXPECT_EQ(g_ctl.left1, BST_UNCHECKED);
    EXPECT_EQ(g_ctl.left2, BST_CHECKED);
    EXPECT_EQ(g_ctl.right1, BST_CHECKED);
    EXPECT_EQ(g_ctl.typed, 42u);
    EXPECT_TRUE(g_ctl.typed_ok);
    EXPECT_EQ(g_ctl.count_text, "8");  // 2 + 3 clicks of 2
    EXPECT_EQ(g_ctl.count, 8u);
    EXPECT_EQ(g_ctl.pos32, 8);
    EXPECT_FALSE(g_ctl.pos_error);
    const std::vector<std::pair<int, int>> expected = {
        {1080, CBN_SELCHANGE}, {1092, BN_CLICKED}, {1120, BN_CLICKED}, {1110, EN_CHANGE}, {IDOK, BN_CLICKED}};
    EXPECT_EQ(g_ctl.notes, expected);
    EXPECT_TRUE(transcript_has(world, "operator", "dialog 902: click 1093 ignored: the control is disabled"));
    EXPECT_TRUE(transcript_has(world, "operator", "dialog 902: click 1105 ignored: the control is hidden"));
}

TEST(Controls, HoldingAnUpDownArrowFollowsItsAccelerationsWithinTheRange) {
    sim::World world(ui_config());
    prepare(world);
    reset_globals();
    std::vector<int> positions;
    world.spawn("host", [&] { DialogBoxParamA(module(), MAKEINTRESOURCEA(902), NULL, controls_proc, 0); });
    world.spawn("hand", [&] {
        while (!world.ui().find_dialog(902)) Sleep(10);  // shown: WM_INITDIALOG is over
        HWND h = world.ui().find_dialog(902);
        auto ctl = [&] { return *world.ui().control(h, 1096); };
        EXPECT_EQ(ctl().range_low, 2);
        EXPECT_EQ(ctl().range_high, 400);
        ASSERT_EQ(ctl().accels.size(), 3u);
        EXPECT_EQ(ctl().accels[1].nSec, 2u);
        EXPECT_EQ(ctl().accels[1].nInc, 4u);
        // 5 s held from 2: +2 at once, 15 repeats of 2 before 2 s, 20 of 4 before 4 s, 10 of 10.
        world.ui().input(h, sim::DialogAction::hold(1096, +1, 5 * kSecond));
        Sleep(10);
        positions.push_back(ctl().pos);
        world.ui().input(h, sim::DialogAction::hold(1096, +1, 10 * kSecond));
        Sleep(10);
        positions.push_back(ctl().pos);
        world.ui().input(h, sim::DialogAction::spin(1096, -1));
        Sleep(10);
        positions.push_back(ctl().pos);
        world.ui().input(h, sim::DialogAction::hold(1096, -1, 20 * kSecond));
        Sleep(10);
        positions.push_back(ctl().pos);
        EXPECT_EQ(item_text(h, 1095), "2");
        world.ui().close(h);
    });
    sim::RunResult r = world.run();
    ASSERT_TRUE(r.ok()) << r.report;
    EXPECT_EQ(positions, (std::vector<int>{214, 400, 398, 2}));
}

// Controls used directly by dialog code: the results Windows gives, CB_ERR included.
struct ApiResults {
    bool done = false;
};
ApiResults g_api;

INT_PTR CALLBACK api_proc(HWND h, UINT msg, WPARAM wp, LPARAM) {
    if (msg == WM_COMMAND && LOWORD(wp) == IDCANCEL) return EndDialog(h, 0);
    if (msg == WM_COMMAND && LOWORD(wp) == 1092 && HIWORD(wp) == BN_CLICKED) g_ctl.notes.push_back({1092, BN_CLICKED});
    if (msg != WM_INITDIALOG) return FALSE;
    auto cb = [h](UINT m, WPARAM w, LPARAM l) { return SendDlgItemMessageA(h, 1080, m, w, l); };
    auto str = [](const char* s) { return reinterpret_cast<LPARAM>(s); };
    char buf[64];

    // Combo box.
    EXPECT_EQ(cb(CB_GETCURSEL, 0, 0), CB_ERR);
    EXPECT_EQ(cb(CB_GETCOUNT, 0, 0), 0);
    EXPECT_EQ(cb(CB_ADDSTRING, 0, str("Pellan IV on LPT1:")), 0);
    EXPECT_EQ(cb(CB_ADDSTRING, 0, str("Optical Disc Printer on USB001")), 1);
    EXPECT_EQ(cb(CB_INSERTSTRING, static_cast<WPARAM>(-1), str("- Not using a disc printer -")), 2);
    EXPECT_EQ(cb(CB_INSERTSTRING, 5, str("too far")), CB_ERR);
    EXPECT_EQ(cb(CB_INSERTSTRING, 0, str("Office Laser on LPT2:")), 0);
    EXPECT_EQ(cb(CB_GETCOUNT, 0, 0), 4);
    EXPECT_EQ(cb(CB_SETCURSEL, 4, 0), CB_ERR);
    EXPECT_EQ(cb(CB_GETCURSEL, 0, 0), CB_ERR);
    EXPECT_EQ(cb(CB_SETCURSEL, 2, 0), 2);
    EXPECT_EQ(item_text(h, 1080), "Optical Disc Printer on USB001");
    EXPECT_EQ(cb(CB_GETLBTEXTLEN, 1, 0), 18);
    EXPECT_EQ(cb(CB_GETLBTEXTLEN, 9, 0), CB_ERR);
    EXPECT_EQ(cb(CB_GETLBTEXT, 1, reinterpret_cast<LPARAM>(buf)), 18);
    EXPECT_STREQ(buf, "Pellan IV on LPT1:");
    EXPECT_EQ(cb(CB_GETLBTEXT, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(buf)), CB_ERR);
    EXPECT_EQ(cb(CB_FINDSTRING, static_cast<WPARAM>(-1), str("pellan")), 1);  // prefix, any case
    EXPECT_EQ(cb(CB_FINDSTRING, 1, str("pellan")), 1);                       // wraps around to the start item
    EXPECT_EQ(cb(CB_FINDSTRING, static_cast<WPARAM>(-1), str("Tessik")), CB_ERR);
    EXPECT_EQ(cb(CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1), str("pellan iv")), CB_ERR);
    EXPECT_EQ(cb(CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1), str("PELLAN IV ON LPT1:")), 1);
    EXPECT_EQ(cb(CB_SELECTSTRING, static_cast<WPARAM>(-1), str("Tessik")), CB_ERR);
    EXPECT_EQ(cb(CB_GETCURSEL, 0, 0), 2);  // a failed selection leaves it
    EXPECT_EQ(cb(CB_SELECTSTRING, static_cast<WPARAM>(-1), str("- Not")), 3);
    EXPECT_EQ(cb(CB_DELETESTRING, 0, 0), 3);  // the selection moves with its item
    EXPECT_EQ(cb(CB_GETCURSEL, 0, 0), 2);
    EXPECT_EQ(cb(CB_DELETESTRING, 2, 0), 2);  // the selected item goes: no selection
    EXPECT_EQ(cb(CB_GETCURSEL, 0, 0), CB_ERR);
    EXPECT_EQ(cb(CB_DELETESTRING, 7, 0), CB_ERR);
    EXPECT_EQ(cb(CB_RESETCONTENT, 0, 0), 0);
    EXPECT_EQ(cb(CB_GETCOUNT, 0, 0), 0);

    // Buttons and check boxes.
    EXPECT_EQ(IsDlgButtonChecked(h, 1092), static_cast<UINT>(BST_UNCHECKED));
    EXPECT_TRUE(CheckDlgButton(h, 1092, BST_CHECKED));
    EXPECT_EQ(SendDlgItemMessageA(h, 1092, BM_GETCHECK, 0, 0), BST_CHECKED);
    SendDlgItemMessageA(h, 1092, BM_CLICK, 0, 0);  // toggles and notifies at once
    EXPECT_EQ(IsDlgButtonChecked(h, 1092), static_cast<UINT>(BST_UNCHECKED));
    EXPECT_EQ(g_ctl.notes.size(), 1u);
    SendDlgItemMessageA(h, 1092, BM_SETCHECK, BST_CHECKED, 0);  // no notification
    EXPECT_EQ(g_ctl.notes.size(), 1u);
    SetLastError(0);
    EXPECT_FALSE(CheckDlgButton(h, 4711, BST_CHECKED));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CONTROL_ID_NOT_FOUND));
    EXPECT_EQ(IsDlgButtonChecked(h, 4711), 0u);

    // Up-down control: 16-bit range packing, clamping, the buddy text, parse errors.
    auto ud = [h](UINT m, WPARAM w, LPARAM l) { return SendDlgItemMessageA(h, 1096, m, w, l); };
    EXPECT_EQ(ud(UDM_GETRANGE, 0, 0), MAKELONG(0, 100));  // a new control counts 100 down to 0
    ud(UDM_SETRANGE, 0, MAKELPARAM(400, 4));
    EXPECT_EQ(ud(UDM_GETRANGE, 0, 0), MAKELONG(400, 4));
    int lo = 0, hi = 0;
    ud(UDM_GETRANGE32, reinterpret_cast<WPARAM>(&lo), reinterpret_cast<LPARAM>(&hi));
    EXPECT_EQ(lo, 4);
    EXPECT_EQ(hi, 400);
    EXPECT_EQ(ud(UDM_SETPOS, 0, MAKELPARAM(1000, 0)), 0);  // previous position
    EXPECT_EQ(item_text(h, 1095), "400");                   // clamped, and the buddy follows
    EXPECT_EQ(ud(UDM_SETPOS32, 0, 2), 400);
    EXPECT_EQ(item_text(h, 1095), "4");
    SetDlgItemTextA(h, 1095, "12");
    EXPECT_EQ(ud(UDM_GETPOS, 0, 0), MAKELONG(12, 0));
    SetDlgItemTextA(h, 1095, "twelve");
    EXPECT_NE(HIWORD(ud(UDM_GETPOS, 0, 0)), 0);
    BOOL error = FALSE;
    EXPECT_EQ(ud(UDM_GETPOS32, 0, reinterpret_cast<LPARAM>(&error)), 12);
    EXPECT_TRUE(error);
    ud(UDM_SETRANGE32, 2, 400);
    UDACCEL set[3] = {{0, 2}, {2, 4}, {4, 10}};
    EXPECT_TRUE(ud(UDM_SETACCEL, 3, reinterpret_cast<LPARAM>(set)));
    UDACCEL got[2] = {};
    EXPECT_EQ(ud(UDM_GETACCEL, 2, reinterpret_cast<LPARAM>(got)), 3);
    EXPECT_EQ(got[1].nSec, 2u);
    EXPECT_EQ(got[1].nInc, 4u);
    EXPECT_EQ(ud(UDM_GETBUDDY, 0, 0), reinterpret_cast<LRESULT>(GetDlgItem(h, 1095)));

    // Texts and numbers.
    EXPECT_TRUE(SetDlgItemInt(h, 1110, static_cast<UINT>(-5), TRUE));
    EXPECT_EQ(item_text(h, 1110), "-5");
    SetDlgItemInt(h, 1110, static_cast<UINT>(-5), FALSE);
    EXPECT_EQ(item_text(h, 1110), "4294967291");
    BOOL ok = FALSE;
    SetDlgItemTextA(h, 1110, "  -12 ");
    EXPECT_EQ(static_cast<int>(GetDlgItemInt(h, 1110, &ok, TRUE)), -12);
    EXPECT_TRUE(ok);
    GetDlgItemInt(h, 1110, &ok, FALSE);
    EXPECT_FALSE(ok);
    SetDlgItemTextA(h, 1110, "12abc");
    GetDlgItemInt(h, 1110, &ok, FALSE);
    EXPECT_FALSE(ok);
    SetDlgItemTextA(h, 1110, "4294967296");
    GetDlgItemInt(h, 1110, &ok, FALSE);
    EXPECT_FALSE(ok);
    SetDlgItemTextA(h, 1110, "4294967295");
    EXPECT_EQ(GetDlgItemInt(h, 1110, &ok, FALSE), 4294967295u);
    EXPECT_TRUE(ok);
    SetDlgItemTextA(h, 1110, "2147483648");
    GetDlgItemInt(h, 1110, &ok, TRUE);
    EXPECT_FALSE(ok);
    EXPECT_EQ(GetDlgItemTextA(h, 1107, buf, 7), 6u);  // truncated, NUL-terminated
    EXPECT_STREQ(buf, "Line o");
    EXPECT_EQ(GetWindowTextA(h, buf, sizeof buf), 20);
    EXPECT_STREQ(buf, "Controls \"All\" Kinds");
    SetWindowTextA(h, "Renamed");
    EXPECT_EQ(SendMessageA(h, WM_GETTEXTLENGTH, 0, 0), 7);

    // Visibility and enabling: the previous state is returned.
    HWND label = GetDlgItem(h, 1192);
    EXPECT_FALSE(ShowWindow(label, SW_SHOW));  // was hidden
    EXPECT_TRUE(ShowWindow(label, SW_HIDE));
    EXPECT_TRUE(EnableWindow(label, TRUE));    // was disabled
    EXPECT_FALSE(EnableWindow(label, FALSE));
    EXPECT_FALSE(ShowWindow(h, SW_SHOWMINNOACTIVE));  // not yet shown while it opens
    g_api.done = true;
    return TRUE;
}

TEST(Controls, ResultsOfTheControlMessages) {
    sim::World world(ui_config());
    prepare(world);
    reset_globals();
    world.op().on_dialog(902).click(IDCANCEL).after(1 * kSecond);
    world.spawn("host", [&] { DialogBoxParamA(module(), MAKEINTRESOURCEA(902), NULL, api_proc, 0); });
    world.spawn("look", [&] {
        Sleep(500);
        HWND h = world.ui().find_dialog(902);
        ASSERT_NE(h, nullptr);
        const sim::WindowInfo info = *world.ui().window(h);
        EXPECT_TRUE(info.visible);
        EXPECT_TRUE(info.minimised);  // shown minimised without activation during WM_INITDIALOG
        EXPECT_EQ(info.caption, "Renamed");
        const sim::ControlState label = *world.ui().control(h, 1192);
        EXPECT_FALSE(label.visible);
        EXPECT_FALSE(label.enabled);
        EXPECT_FALSE(world.ui().control(h, 1093)->enabled);
        EXPECT_FALSE(world.ui().control(h, 1105)->visible);
        EXPECT_EQ(world.ui().control(h, 1096)->buddy, world.ui().control(h, 1095)->hwnd);
        EXPECT_FALSE(world.ui().control(h, 4711).has_value());
    });
    sim::RunResult r = world.run();
    ASSERT_TRUE(r.ok()) << r.report;
    EXPECT_TRUE(g_api.done);
    EXPECT_TRUE(transcript_has(world, "window", "dialog 902 shown caption=\"Renamed\" minimised"));
}

TEST(Controls, SetDlgItemTextFromAnotherThreadOnAnEditWaitsForItsNotification) {
    sim::World world(ui_config());
    prepare(world);
    reset_globals();
    world.op().on_dialog(902).containing("from afar").click(IDCANCEL).after(1 * kSecond);
    world.spawn("host", [&] { DialogBoxParamA(module(), MAKEINTRESOURCEA(902), NULL, controls_proc, 0); });
    world.spawn("other", [&] {
        while (!world.ui().find_dialog(902)) Sleep(10);
        g_ctl.notes.clear();
        EXPECT_TRUE(SetDlgItemTextA(g_ctl.hwnd, 1110, "from afar"));
        // The edit's EN_CHANGE reached the dialog procedure before the call returned.
        ASSERT_EQ(g_ctl.notes.size(), 1u);
        EXPECT_EQ(g_ctl.notes[0], std::make_pair(1110, static_cast<int>(EN_CHANGE)));
    });
    sim::RunResult r = world.run();
    ASSERT_TRUE(r.ok()) << r.report;
    EXPECT_TRUE(transcript_has(world, "message", "send to dialog 902 WM_COMMAND wParam=" +
                                                     std::to_string(MAKEWPARAM(1110, EN_CHANGE))));
}

void reset_globals() {
    g_status = StatusDialog{};
    g_ask = AskingDialog{};
    g_ctl = ControlsDialog{};
    g_api = ApiResults{};
}

// ---------------------------------------------------------------------------------------------
// The cursor.

TEST(Cursor, WaitCursorIsStableAndSetCursorReturnsThePreviousOne) {
    sim::World world(ui_config());
    prepare(world);
    reset_globals();
    world.spawn("host", [&] {
        HCURSOR wait = LoadCursorA(NULL, IDC_WAIT);
        ASSERT_NE(wait, nullptr);
        EXPECT_EQ(LoadCursorA(NULL, IDC_WAIT), wait);
        HCURSOR arrow = LoadCursorA(NULL, IDC_ARROW);
        EXPECT_NE(arrow, wait);
        SetLastError(0);
        EXPECT_EQ(LoadCursorA(module(), IDC_WAIT), nullptr);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_NAME_NOT_FOUND));
        HCURSOR before = SetCursor(wait);
        EXPECT_EQ(before, arrow) << world.transcript_text();
        Sleep(2500);
        EXPECT_EQ(SetCursor(before), wait);
        EXPECT_EQ(world.ui().cursor(), arrow);
    });
    sim::RunResult r = world.run();
    ASSERT_TRUE(r.ok()) << r.report;
    const auto cursor = world.kernel().transcript().of_kind("cursor");
    ASSERT_EQ(cursor.size(), 2u);
    EXPECT_EQ(cursor[0].text, "cursor wait");
    EXPECT_EQ(cursor[1].text, "cursor arrow");
    EXPECT_EQ(cursor[1].time_us - cursor[0].time_us, 2500 * kMs);
}

}  // namespace
