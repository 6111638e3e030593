/*
 * minimal-host: the smallest complete host of Rovane.dll, to read and to copy from.
 *
 *   minimal-host.exe RECORDERS.TXT
 *
 * It starts the module, runs one job of four discs (each loaded into a recorder, then unloaded to
 * the output bin) and stops the module, printing one line per call with its result. It exits 0
 * only when every call gave what docs/host-guide.md says it gives when all goes well, 1 otherwise.
 *
 * What a host provides, and where this one gets it:
 *
 *   - The recorder list. Rovane_Init takes your host's recorders, one line each in the module's
 *     form "unit,spare,host,target,letter,name", every line ended by "\r\n". A real host builds it
 *     from the drives its recording engine knows; this one reads it from the text file named on
 *     its command line (one recorder a line, in that form), so that it runs against any machine.
 *   - The recording engine's handle, which the module passes on to the engine's tray call. This
 *     host has no engine of its own and passes 0.
 *   - A window of its own: the owner of the module's message boxes and dialogs. Every export is
 *     called from the thread that created it, and that thread keeps handling window messages
 *     between calls (PumpMessages), because the module's own threads show windows of theirs while
 *     the host polls.
 *
 * The module is linked through its import library (-lRovane), so Windows loads Rovane.dll when
 * the program starts: keep Rovane.dll, and the recording engine's libraries it uses, beside the
 * program or on the PATH.
 */
#include <windows.h>
#include <stdio.h>

#include "rovane.h"

#define HOST_NAME "Minimal Host" /* any name but "Dorquel..." and "Quessa": settings key "VeltoDVD" */
#define DISCS_IN_JOB 4
#define MAX_RECORDERS 17            /* the module reads at most 17 lines of the list */
#define POLL_MS 500                 /* how often to ask whether a move is done */
#define MOVE_LIMIT_MS (5 * 60 * 1000) /* a move that is not done by then is given up */

static int g_fAllAsExpected = 1;

/* One line per call: what was called, what it gave, and whether that is what the guide says. */
static void Report(const char* pszCall, long lResult, long lExpected) {
    const int fOk = lResult == lExpected;
    if (!fOk) g_fAllAsExpected = 0;
    printf("%-48s -> %ld   %s\n", pszCall, lResult, fOk ? "ok" : "NOT AS EXPECTED");
    if (!fOk) printf("    expected %ld\n", lExpected);
    fflush(stdout);
}

static void Fail(const char* pszWhat) {
    g_fAllAsExpected = 0;
    printf("    NOT AS EXPECTED: %s\n", pszWhat);
    fflush(stdout);
}

/* ---------------------------------------------------------------------------------------------
 * The host's window and its messages
 */

static HWND CreateHostWindow(void) {
    WNDCLASSA wc;
    ZeroMemory(&wc, sizeof wc);
    wc.lpfnWndProc = DefWindowProcA;
    wc.hInstance = GetModuleHandleA(NULL);
    wc.hCursor = LoadCursor(NULL, IDC_ARROW);
    wc.hbrBackground = (HBRUSH)(COLOR_WINDOW + 1);
    wc.lpszClassName = "MinimalRovaneHost";
    if (!RegisterClassA(&wc)) return NULL;
    HWND hWnd = CreateWindowA(wc.lpszClassName, "Minimal Rovane Host", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                              CW_USEDEFAULT, 400, 200, NULL, NULL, wc.hInstance, NULL);
    if (hWnd != NULL) ShowWindow(hWnd, SW_SHOWNORMAL);
    return hWnd;
}

/* Waits dwMs milliseconds while handling this thread's window messages (never a bare Sleep). */
static void PumpMessages(DWORD dwMs) {
    const DWORD dwStart = GetTickCount();
    for (;;) {
        MSG msg;
        while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        const DWORD dwElapsed = GetTickCount() - dwStart;
        if (dwElapsed >= dwMs) return;
        MsgWaitForMultipleObjects(0, NULL, FALSE, dwMs - dwElapsed, QS_ALLINPUT);
    }
}

/* ---------------------------------------------------------------------------------------------
 * The recorder list
 */

/*
 * Reads the host's recorder list from a text file into pszList (cchList bytes): every non-empty
 * line, ended by "\r\n" whatever the file used, the whole ended by a NUL. Returns the number of
 * lines, or -1 when the file cannot be read or does not fit.
 */
static int ReadRecorderList(const char* pszFile, char* pszList, size_t cchList) {
    FILE* pFile = fopen(pszFile, "rb");
    if (pFile == NULL) return -1;
    int cLines = 0;
    size_t n = 0;
    char szLine[256];
    while (fgets(szLine, sizeof szLine, pFile) != NULL) {
        size_t cch = (size_t)lstrlenA(szLine);
        while (cch > 0 && (szLine[cch - 1] == '\n' || szLine[cch - 1] == '\r')) szLine[--cch] = '\0';
        if (cch == 0) continue;
        if (n + cch + 3 > cchList) {
            fclose(pFile);
            return -1;
        }
        CopyMemory(pszList + n, szLine, cch);
        n += cch;
        pszList[n++] = '\r';
        pszList[n++] = '\n';
        ++cLines;
    }
    fclose(pFile);
    pszList[n] = '\0';
    return cLines;
}

/*
 * The unit numbers of the recorders the robot serves, from the lines Rovane_Init wrote
 * ("unit,1,description,0\r\n" each): at most cMax into pdwUnits. Returns how many lines there are.
 */
static int SelectedUnits(const char* pszSelected, DWORD* pdwUnits, int cMax) {
    int cLines = 0;
    const char* p = pszSelected;
    while (*p != '\0') {
        DWORD dwUnit = 0;
        while (*p >= '0' && *p <= '9') dwUnit = dwUnit * 10 + (DWORD)(*p++ - '0');
        if (cLines < cMax) pdwUnits[cLines] = dwUnit;
        ++cLines;
        while (*p != '\0' && *p != '\n') ++p; /* the rest of the line */
        if (*p == '\n') ++p;
    }
    return cLines;
}

/* Prints each line of a text the module returned, indented. */
static void PrintLines(const char* pszLabel, const char* pszText) {
    const char* p = pszText;
    while (*p != '\0') {
        printf("    %s ", pszLabel);
        while (*p != '\0' && *p != '\r' && *p != '\n') putchar(*p++);
        putchar('\n');
        while (*p == '\r' || *p == '\n') ++p;
    }
    fflush(stdout);
}

/* ---------------------------------------------------------------------------------------------
 * A disc move: request it, then poll until it is done
 */

/* Returns the last Rovane_CheckMoveDisc result: 1 done, 4 aborted, 2 when it took too long. */
static DWORD MoveDisc(DWORD dwUnit, LONG lAction, const char* pszWhat) {
    char szCall[96];
    wsprintfA(szCall, "Rovane_PostMoveDisc(%lu, %s)", (unsigned long)dwUnit, pszWhat);
    const LONG lPosted = Rovane_PostMoveDisc(dwUnit, lAction, 0, 0);
    Report(szCall, lPosted, 1);
    if (lPosted != 1) return ROVANE_ABORTED;

    const DWORD dwStart = GetTickCount();
    DWORD dwState = ROVANE_IN_PROGRESS;
    int cPolls = 0;
    while (dwState == ROVANE_IN_PROGRESS && GetTickCount() - dwStart < MOVE_LIMIT_MS) {
        PumpMessages(POLL_MS);
        dwState = Rovane_CheckMoveDisc(dwUnit);
        ++cPolls;
    }
    wsprintfA(szCall, "Rovane_CheckMoveDisc(%lu), poll %d", (unsigned long)dwUnit, cPolls);
    Report(szCall, (long)dwState, ROVANE_DONE);
    if (dwState == ROVANE_IN_PROGRESS) Fail("the move was not done within the time allowed");
    return dwState;
}

/* ---------------------------------------------------------------------------------------------
 * The host
 */

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: minimal-host.exe RECORDERS.TXT\n"
                        "  RECORDERS.TXT: the host's recorders, one \"unit,spare,host,target,letter,name\" a line\n");
        return 2;
    }

    static char szRecorderList[4096];
    const int cListed = ReadRecorderList(argv[1], szRecorderList, sizeof szRecorderList);
    if (cListed <= 0) {
        fprintf(stderr, "minimal-host: cannot read a recorder list from '%s'\n", argv[1]);
        return 2;
    }
    printf("minimal-host: %d recorders listed in %s\n", cListed, argv[1]);
    PrintLines("listed", szRecorderList);

    HWND hWnd = CreateHostWindow();
    if (hWnd == NULL) {
        fprintf(stderr, "minimal-host: cannot create the host window (error %lu)\n", (unsigned long)GetLastError());
        return 2;
    }

    /* --- Start-up ------------------------------------------------------------------------------ */
    char szSelected[ROVANE_RECORDER_TEXT_SIZE];
    char szProduct[ROVANE_PRODUCT_NAME_SIZE];
    BYTE bError = 0xFF;
    ZeroMemory(szSelected, sizeof szSelected);
    ZeroMemory(szProduct, sizeof szProduct);
    const LONG lServed =
        Rovane_Init(0, hWnd, HOST_NAME, "", szRecorderList, szSelected, &bError, szProduct);

    /* The result is the number of recorders the robot serves, one line each in szSelected. */
    DWORD adwUnits[MAX_RECORDERS];
    const int cSelected = SelectedUnits(szSelected, adwUnits, MAX_RECORDERS);
    Report("Rovane_Init(\"" HOST_NAME "\", recorder list)", lServed, cSelected > 0 ? cSelected : 1);
    PrintLines("served", szSelected);
    printf("    product \"%s\", error %u\n", szProduct, (unsigned)bError);
    if (lServed == 0) {
        Fail("start-up failed or was cancelled (the module told the operator why)");
        return 1;
    }
    if (lServed == ROVANE_INIT_PRINT_ONLY) Fail("the print-only host serves no recorder");
    if (bError != 0) Fail("the error byte is not 0");
    if (lstrcmpA(szProduct, "DuplicatorQIX") != 0) Fail("the product name is not \"DuplicatorQIX\"");

    /* --- One job of four discs: load recorders, then unload them ---------------------------------- */
    const int cUnits = cSelected < MAX_RECORDERS ? cSelected : MAX_RECORDERS;
    if (g_fAllAsExpected && cUnits > 0) {
        const LONG lBegin = Rovane_JobBeginsOrEnds(0, DISCS_IN_JOB, ROVANE_JOB_BEGIN);
        Report("Rovane_JobBeginsOrEnds(0, 4, begin)", lBegin, ROVANE_JOB_OK);

        /* Each round fills as many served recorders as there are discs left, then empties them.
         * A recorder gets its next move only after the previous one reported done. */
        int fAborted = 0;
        int cDone = 0;
        while (lBegin == ROVANE_JOB_OK && !fAborted && cDone < DISCS_IN_JOB) {
            const int cRound = DISCS_IN_JOB - cDone < cUnits ? DISCS_IN_JOB - cDone : cUnits;
            for (int i = 0; i < cRound && !fAborted; ++i)
                fAborted = MoveDisc(adwUnits[i], ROVANE_MOVE_LOAD, "load") != ROVANE_DONE;
            for (int i = 0; i < cRound && !fAborted; ++i)
                fAborted = MoveDisc(adwUnits[i], ROVANE_MOVE_UNLOAD, "unload") != ROVANE_DONE;
            cDone += cRound;
        }

        /* End every job begun, even one whose begin returned 2; after an abort, with code 3. */
        if (fAborted) {
            Report("Rovane_JobBeginsOrEnds(0, 4, abort)", Rovane_JobBeginsOrEnds(0, DISCS_IN_JOB, ROVANE_JOB_ABORT),
                   ROVANE_JOB_OK);
        } else {
            Report("Rovane_JobBeginsOrEnds(0, 4, end)", Rovane_JobBeginsOrEnds(0, DISCS_IN_JOB, ROVANE_JOB_END),
                   ROVANE_JOB_OK);
        }
    }

    /* --- Shutdown -------------------------------------------------------------------------------- */
    char szEndText[ROVANE_END_TEXT_SIZE];
    ZeroMemory(szEndText, sizeof szEndText);
    Report("Rovane_End", (long)Rovane_End(szEndText), 1);
    printf("    text \"%s\"\n", szEndText);
    if (lstrcmpA(szEndText, "Rovane Registry string") != 0) Fail("the text is not \"Rovane Registry string\"");

    DestroyWindow(hWnd);
    printf("minimal-host: %s\n", g_fAllAsExpected ? "every call gave what the host guide says"
                                                  : "FAILED: not every call gave what the host guide says");
    return g_fAllAsExpected ? 0 : 1;
}
