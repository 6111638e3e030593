/*
 * rovane-host SCRIPT [--dll PATH] [--check]: loads Rovane.dll (by default the one beside this
 * program), opens the host's window, starts the operator and runs the script. See host.h.
 *
 * Exit 0 when the script ran; 1 on a usage or script error; 3 when a window stayed unanswered
 * (automation.c).
 */
#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "host.h"

#define HOST_WINDOW_CLASS "RovaneHostWindow"
#define HOST_WINDOW_TITLE "Disc Recording Host"

/* ---------------------------------------------------------------------------------------------
 * The module
 */

/* An export by name, through the plain function pointer every export type converts from. */
static void (*ExportAddress(const char* pszName))(void) {
    void (*pfn)(void) = (void (*)(void))GetProcAddress(g_hRovane, pszName);
    if (pfn == NULL) fprintf(stderr, "rovane-host: the module has no export %s\n", pszName);
    return pfn;
}

static int LoadRovane(const char* pszPath) {
    char szPath[MAX_PATH];
    if (pszPath == NULL) {
        /* Beside this program. */
        const DWORD cch = GetModuleFileNameA(NULL, szPath, sizeof szPath);
        char* pSlash = cch > 0 && cch < sizeof szPath ? strrchr(szPath, '\\') : NULL;
        if (pSlash == NULL || (size_t)(pSlash + 1 - szPath) + sizeof "Rovane.dll" > sizeof szPath) {
            fputs("rovane-host: cannot tell where this program is; name the module with --dll\n", stderr);
            return 0;
        }
        strcpy(pSlash + 1, "Rovane.dll");
        pszPath = szPath;
    }
    g_hRovane = LoadLibraryA(pszPath);
    if (g_hRovane == NULL) {
        fprintf(stderr, "rovane-host: cannot load the module '%s' (error %lu)\n", pszPath,
                (unsigned long)GetLastError());
        return 0;
    }
    /* Every missing export is named before giving up. */
    int fAll = 1;
#define ROVANE_EXPORT(field, name) \
    fAll &= (g_Rovane.field = (__typeof__(g_Rovane.field))ExportAddress(name)) != NULL
    ROVANE_EXPORT(Init, "Rovane_Init");
    ROVANE_EXPORT(End, "Rovane_End");
    ROVANE_EXPORT(JobBeginsOrEnds, "Rovane_JobBeginsOrEnds");
    ROVANE_EXPORT(PostMoveDisc, "Rovane_PostMoveDisc");
    ROVANE_EXPORT(CheckMoveDisc, "Rovane_CheckMoveDisc");
    ROVANE_EXPORT(Options, "Rovane_Options");
    ROVANE_EXPORT(Movements, "Rovane_Movements");
    ROVANE_EXPORT(Services, "Rovane_Services");
    ROVANE_EXPORT(GetRoboStatus, "Rovane_GetRoboStatus");
    ROVANE_EXPORT(PostMoveAndPrint, "Rovane_PostMoveAndPrint");
    ROVANE_EXPORT(CheckPrinting, "Rovane_CheckPrinting");
    ROVANE_EXPORT(CheckAccumulator, "Rovane_CheckAccumulator");
    ROVANE_EXPORT(CheckValidPrint, "Rovane_CheckValidPrint");
#undef ROVANE_EXPORT
    return fAll;
}

/* ---------------------------------------------------------------------------------------------
 * The host window: the owner of the module's windows, as a host application's main window is.
 */

static LRESULT CALLBACK HostWindowProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam) {
    if (uMsg == WM_CLOSE) return 0; /* the script decides when the host ends */
    return DefWindowProcA(hWnd, uMsg, wParam, lParam);
}

static int CreateHostWindow(void) {
    WNDCLASSA wc;
    memset(&wc, 0, sizeof wc);
    wc.lpfnWndProc = HostWindowProc;
    wc.hInstance = GetModuleHandleA(NULL);
    wc.hCursor = LoadCursorA(NULL, (LPCSTR)IDC_ARROW);
    wc.hbrBackground = (HBRUSH)(COLOR_WINDOW + 1);
    wc.lpszClassName = HOST_WINDOW_CLASS;
    if (!RegisterClassA(&wc)) return 0;
    g_hHostWindow = CreateWindowExA(0, HOST_WINDOW_CLASS, HOST_WINDOW_TITLE, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                                    CW_USEDEFAULT, 480, 320, NULL, NULL, wc.hInstance, NULL);
    if (g_hHostWindow == NULL) return 0;
    ShowWindow(g_hHostWindow, SW_SHOWMINNOACTIVE);
    return 1;
}

/* ---------------------------------------------------------------------------------------------
 * The command line
 */

static int Usage(const char* pszWhy) {
    if (pszWhy != NULL) fprintf(stderr, "rovane-host: %s\n", pszWhy);
    fputs("usage: rovane-host SCRIPT [--dll PATH] [--check]\n"
          "Runs a host application's script of export calls (SCRIPT a file, or - for standard input)\n"
          "against Rovane.dll (default: the one beside this program), the same scripts as\n"
          "'rovane-sim host' runs, read by the same reader. --check reads and checks the script only\n"
          "and prints each call as read (LINE CALL ARGUMENTS), as 'rovane-sim host --check' does.\n"
          "An 'init HOST' line without a LIST reads %ROVANE_ENGINE_DIR%\\recorders.txt.\n"
          "\n",
          stderr);
    fputs(hs_language_help(), stderr);
    fputs("\n"
          "The operator answers the module's windows by the script's answer and dialog lines first,\n"
          "then as rovane-sim host's operator does: a robot, printer, printer tray or laminator that\n"
          "does not answer is tried three times (Retry; a laminator only when the spooler has\n"
          "\"Disc Laminator\") and then given up (Cancel); Retry to \"Wait for printing timed out\" and\n"
          "\"Wait for lamination timed out\", No to keeping a printer on FILE:, Yes to the input bin\n"
          "questions, OK to the printer selection dialog, Cancel to the options dialog, and any other\n"
          "message box its first button (OK to a notice). What needs hands at the machine is left to\n"
          "a person: the robot's status messages, a robot error or pause (\"Press both Pause & Pick\",\n"
          "\"Robotics are PAUSED\"), full reject positions, a disc fallen off the laminator's tray, and\n"
          "the drive choice dialogs; the answers PAUSEPICK and REFILL are refused.\n"
          "Exit 0 when the script ran; 1 on a usage or script error; 3 when a window stayed\n"
          "unanswered for 120 s.\n",
          stderr);
    return 1;
}

int main(int argc, char** argv) {
    HostStart();
    /* Lines end in LF, as the simulated host's do. */
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);

    const char* pszScript = NULL;
    const char* pszDll = NULL;
    int fCheckOnly = 0;
    for (int i = 1; i < argc; ++i) {
        if (strcmp(argv[i], "--check") == 0) {
            fCheckOnly = 1;
        } else if (strcmp(argv[i], "--dll") == 0) {
            if (i + 1 >= argc) return Usage("--dll needs a PATH");
            pszDll = argv[++i];
        } else if (strcmp(argv[i], "--help") == 0 || strcmp(argv[i], "-h") == 0) {
            Usage(NULL);
            return 0;
        } else if (argv[i][0] == '-' && argv[i][1] != '\0') {
            char szWhy[300];
            snprintf(szWhy, sizeof szWhy, "unknown option '%s'", argv[i]);
            return Usage(szWhy);
        } else if (pszScript == NULL) {
            pszScript = argv[i];
        } else {
            return Usage("one SCRIPT only");
        }
    }
    if (pszScript == NULL) return Usage("SCRIPT is required");
    if (!LoadScript(pszScript, fCheckOnly)) return 1;
    if (fCheckOnly) {
        fflush(stdout);
        return 0;
    }

    /* The host has its window before it loads the module. */
    if (!CreateHostWindow()) {
        fprintf(stderr, "rovane-host: cannot create the host window (error %lu)\n", (unsigned long)GetLastError());
        return 1;
    }
    if (!LoadRovane(pszDll)) return 1;
    /* The printer drivers' answers come from the robot's server (printer_data.c). */
    if (!RedirectPrinterData(g_hRovane))
        fputs("rovane-host: the module imports no SetPrinterDataA/GetPrinterDataA to answer for\n", stderr);
    if (!AutomationStart()) {
        fputs("rovane-host: cannot start the operator's thread\n", stderr);
        return 1;
    }
    RunScript();
    fflush(stdout);
    return 0;
}
