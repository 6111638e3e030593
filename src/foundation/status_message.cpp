// The status message dialog: a small dialog, run modally on a thread of its own, that shows one
// string-table message and an "ABORT Job" button. A new message replaces the text of the open
// dialog rather than opening a second one. A closer thread watches it and closes it when asked
// (the robot is working again, the job was aborted) or when the module shuts down.
#include <string.h>

#include "foundation/status_message.h"

#include "foundation/debug_log.h"
#include "foundation/job_state.h"
#include "foundation/module_context.h"
#include "resources/resource.h"

#define MESSAGE_TEXT_MAX 250    // characters of a message shown
#define CLOSER_POLL 200         // ms between the closer's looks at the dialog
#define DIALOG_CLOSE_PAUSE 500  // ms the dialog lingers after an abort or a close request

// The "Multiple Disc Move Test" dialog while it is shown, otherwise NULL. The test dialog
// sets it itself; pressing "ABORT Job" here stops that test too.
HWND g_hTestDlg = NULL;

// All under the module lock.
static UINT g_uMessageId = 0;           // the message the dialog shows
static BOOL g_fMessageSelfClosing = FALSE;
// A message thread has been started and its dialog does not exist yet. Messages arriving
// meanwhile only change the id (the dialog loads the current one when it opens), and the closer
// waits for the dialog instead of ending at once.
static BOOL g_fMessageStarting = FALSE;

int MessageIsSelfClosing(void) {
    EnterCriticalSection(&g_csModule);
    const int nResult = g_hMessageDlg != NULL && g_fMessageSelfClosing ? 1 : 0;
    LeaveCriticalSection(&g_csModule);
    return nResult;
}

static void SetMessageText(HWND hDlg, UINT uMessageId) {
    char szText[MESSAGE_TEXT_MAX + 1];
    if (LoadStringA(g_hInstance, uMessageId, szText, sizeof szText) <= 0) szText[0] = '\0';
    SetDlgItemTextA(hDlg, IDC_MESSAGE_TEXT, szText);
}

static INT_PTR CALLBACK StatusMessageProc(HWND hDlg, UINT uMsg, WPARAM wParam, LPARAM lParam) {
    switch (uMsg) {
        case WM_INITDIALOG:
            EnterCriticalSection(&g_csModule);
            SetMessageText(hDlg, g_uMessageId);
            g_hMessageDlg = hDlg;
            g_fMessageStarting = FALSE;
            // The printing wait may be shown out of the way, as the printing dialog is.
            if (g_uMessageId == IDS_WAITING_FOR_PRINTING && g_fMinimizePrintDlg) ShowWindow(hDlg, SW_SHOWMINNOACTIVE);
            LeaveCriticalSection(&g_csModule);
            return TRUE;

        case WM_COMMAND:
            switch (LOWORD(wParam)) {
                case IDC_MESSAGE_TEXT:
                    SetMessageText(hDlg, (UINT)lParam);
                    return TRUE;
                case IDC_ABORT_JOB:
                    EnterCriticalSection(&g_csModule);
                    DebugLog("Abort button pressed");
                    g_fJobAborted = 1;
                    g_fCloseMessage = 1;
                    if (g_hTestDlg != NULL) PostMessageA(g_hTestDlg, WM_COMMAND, IDCANCEL, 0);
                    LeaveCriticalSection(&g_csModule);
                    Sleep(DIALOG_CLOSE_PAUSE);
                    return TRUE;
                case IDCANCEL:
                    EnterCriticalSection(&g_csModule);
                    if (g_hMessageDlg == hDlg) g_hMessageDlg = NULL;
                    LeaveCriticalSection(&g_csModule);
                    Sleep(DIALOG_CLOSE_PAUSE);
                    EndDialog(hDlg, IDCANCEL);
                    return TRUE;
            }
            break;
    }
    return FALSE;
}

// Watches the dialog its message thread opens: ends when that dialog has gone, closes it when
// asked to, and at shutdown closes it and waits until it is gone.
static DWORD WINAPI MessageCloserThread(LPVOID lpParameter) {
    (void)lpParameter;
    WorkerBegins(WORKER_CLOSER);
    HWND hServed = NULL;
    for (;;) {
        Sleep(CLOSER_POLL);
        EnterCriticalSection(&g_csModule);
        const HWND hOpen = g_hMessageDlg;
        if (hServed == NULL) {
            if (hOpen == NULL) {
                const BOOL fStarting = g_fMessageStarting;
                LeaveCriticalSection(&g_csModule);
                if (fStarting) continue;  // its dialog is about to open
                break;
            }
            hServed = hOpen;
        }
        if (hOpen != hServed) {  // closed (and maybe a new one opened, with its own closer)
            LeaveCriticalSection(&g_csModule);
            break;
        }
        if (g_fCloseMessage == 1) {
            PostMessageA(hServed, WM_COMMAND, IDCANCEL, 0);
            LeaveCriticalSection(&g_csModule);
            break;
        }
        if (g_fShutdown) {
            // The dialog's Cancel handling takes the lock on the dialog's thread: release it
            // before waiting for that handling.
            LeaveCriticalSection(&g_csModule);
            DebugLog("Shutting down Message");
            SendMessageA(hServed, WM_COMMAND, IDCANCEL, 0);
            DebugLog("Message should be gone");
            break;
        }
        LeaveCriticalSection(&g_csModule);
    }
    WorkerEnds(WORKER_CLOSER);
    return 0;
}

static DWORD WINAPI MessageThread(LPVOID lpParameter) {
    (void)lpParameter;
    HANDLE hCloser = CreateThread(NULL, 0, MessageCloserThread, NULL, 0, NULL);
    if (hCloser != NULL)
        WorkerStarted(WORKER_CLOSER, hCloser);
    else
        DebugLogF("ERROR: Unable to start the message closer. Error=%lu", (unsigned long)GetLastError());
    const INT_PTR nResult =
        DialogBoxParamA(g_hInstance, MAKEINTRESOURCEA(IDD_ROBOT_MESSAGE), NULL, StatusMessageProc, 0);
    if (nResult == -1) {
        DebugLogF("ERROR: Unable to show the status message. Error=%lu", (unsigned long)GetLastError());
        EnterCriticalSection(&g_csModule);
        g_fMessageStarting = FALSE;
        LeaveCriticalSection(&g_csModule);
    }
    return 0;
}

void ShowRobotMessage(UINT uMessageId, BOOL fSelfClosing) {
    EnterCriticalSection(&g_csModule);
    g_uMessageId = uMessageId;
    if (g_hMessageDlg != NULL) {
        g_fMessageSelfClosing = fSelfClosing;
        PostMessageA(g_hMessageDlg, WM_COMMAND, IDC_MESSAGE_TEXT, (LPARAM)uMessageId);
        LeaveCriticalSection(&g_csModule);
        return;
    }
    if (g_fMessageStarting) {
        // The dialog is on its way and will show this id.
        g_fMessageSelfClosing = fSelfClosing;
        LeaveCriticalSection(&g_csModule);
        return;
    }
    g_fCloseMessage = 0;
    g_fMessageSelfClosing = fSelfClosing;
    g_fMessageStarting = TRUE;
    LeaveCriticalSection(&g_csModule);

    HANDLE hThread = CreateThread(NULL, 0, MessageThread, NULL, 0, NULL);
    if (hThread != NULL) {
        CloseHandle(hThread);  // nobody waits for it: shutdown waits for its closer
    } else {
        DebugLogF("ERROR: Unable to start the status message. Error=%lu", (unsigned long)GetLastError());
        EnterCriticalSection(&g_csModule);
        g_fMessageStarting = FALSE;
        LeaveCriticalSection(&g_csModule);
    }
}
