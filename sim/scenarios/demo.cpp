#include "scenarios/demo.h"

#include <cstdio>
#include <string>

#include "win32/files.h"
#include "win32/resources.h"
#include "world/operator.h"

namespace sim::demo {

namespace {

Outcome* g_outcome = nullptr;
CRITICAL_SECTION g_lock;
HWND g_dialog = nullptr;  // set by the dialog thread, read by the host under g_lock

INT_PTR CALLBACK DemoDialogProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
        case WM_INITDIALOG:
            EnterCriticalSection(&g_lock);
            g_dialog = hwnd;
            LeaveCriticalSection(&g_lock);
            SetDlgItemTextA(hwnd, kMessageControl, "Waiting for the host...");
            return TRUE;
        case WM_COMMAND:
            if (LOWORD(wParam) == kMessageControl) {
                char text[64];
                std::snprintf(text, sizeof text, "Step %ld of 3", static_cast<long>(lParam));
                SetDlgItemTextA(hwnd, kMessageControl, text);
                return TRUE;
            }
            if (LOWORD(wParam) == IDCANCEL) {
                char text[64] = "";
                GetDlgItemTextA(hwnd, kMessageControl, text, sizeof text);
                g_outcome->dialog_text = text;
                EnterCriticalSection(&g_lock);
                g_dialog = nullptr;
                LeaveCriticalSection(&g_lock);
                Sleep(500);  // the handler takes its time; the sender waits for it
                EndDialog(hwnd, 7);
                return TRUE;
            }
            return FALSE;
        default:
            return FALSE;
    }
}

void host_thread() {
    // The section is recursive for its owner.
    EnterCriticalSection(&g_lock);
    EnterCriticalSection(&g_lock);
    g_outcome->lock_depth_seen = g_lock.RecursionCount;
    Sleep(50);
    LeaveCriticalSection(&g_lock);
    LeaveCriticalSection(&g_lock);

    // Wait for the dialog to come up on its own thread.
    HWND dialog = nullptr;
    while (!dialog) {
        Sleep(100);
        EnterCriticalSection(&g_lock);
        dialog = g_dialog;
        LeaveCriticalSection(&g_lock);
    }
    g_outcome->message_box_answer =
        MessageBoxA(NULL, "Run the demonstration steps now?", "Rovane demonstration", MB_YESNO | MB_ICONQUESTION);
    for (long step = 1; step <= 3; ++step) {
        PostMessageA(dialog, WM_COMMAND, kMessageControl, step);
        Sleep(300);
    }
    // Sent from this thread to the dialog's: returns once the handler (which sleeps) is done.
    SendMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
}

void dialog_thread() {
    g_outcome->dialog_result =
        static_cast<long>(DialogBoxParamA(world().module_instance(), MAKEINTRESOURCEA(kDialogId), NULL, DemoDialogProc, 0));
}

void worker_thread() {
    for (int i = 0; i < 10; ++i) {
        EnterCriticalSection(&g_lock);
        HANDLE file = CreateFileA("C:\\Demo\\worker.txt", GENERIC_WRITE, 0, NULL, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
        if (file != INVALID_HANDLE_VALUE) {
            SetFilePointer(file, 0, NULL, FILE_END);
            char line[32];
            const int n = std::snprintf(line, sizeof line, "tick %d at %lu\r\n", i, static_cast<unsigned long>(GetTickCount()));
            DWORD written = 0;
            if (WriteFile(file, line, static_cast<DWORD>(n), &written, NULL)) ++g_outcome->worker_lines;
            CloseHandle(file);
        }
        LeaveCriticalSection(&g_lock);
        Sleep(100);  // wakes at the same moments as the host: the seed decides who goes first
    }
}

}  // namespace

void setup(World& world, Outcome* outcome) {
    g_outcome = outcome;
    g_dialog = nullptr;
    InitializeCriticalSection(&g_lock);

    DialogTemplate t;
    t.id = kDialogId;
    t.cx = 186;
    t.cy = 60;
    t.caption = "Rovane demonstration";
    DialogItem text;
    text.kind = ControlKind::Text;
    text.id = kMessageControl;
    text.text = "";
    text.x = 7;
    text.y = 7;
    text.cx = 172;
    text.cy = 26;
    t.items.push_back(text);
    world.resources().add_dialog(t);

    world.files().mkdir("C:\\Demo");
    world.op().on_message_box("demonstration steps").answer(IDYES).after(2 * kSecond);

    world.spawn("host", host_thread);
    world.spawn("dialog", dialog_thread);
    world.spawn("worker", worker_thread);
}

}  // namespace sim::demo
