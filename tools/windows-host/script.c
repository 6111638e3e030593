/*
 * The script: the language of `rovane-sim host` (tools/rovane-sim/host_command.cpp), read and
 * checked the same way, with the same messages, and run against the real module with the same
 * output lines.
 *
 *   # a comment                     blank lines and comments are skipped
 *   answer PATTERN=BUTTON [once]    message boxes whose text contains PATTERN get BUTTON
 *                                   (OK CANCEL RETRY YES NO ABORT IGNORE)
 *   dialog ID ACTION[; ACTION...]   the next showing of dialog ID gets these actions:
 *                                   click CTRL | check CTRL | uncheck CTRL | select CTRL TEXT | close
 *                                   one after the other, each once the dialog has dealt with the
 *                                   one before (a message box it opened answered first)
 *   init HOST [LIST]                Rovane_Init (LIST absent: %ROVANE_ENGINE_DIR%\recorders.txt)
 *   end | status | options          Rovane_End, Rovane_GetRoboStatus, Rovane_Options
 *   movements                       Rovane_Movements (its dialogs answered by "dialog" lines)
 *   services KIND CODE              Rovane_Services
 *   job begin|end|abort N           Rovane_JobBeginsOrEnds with code 1, 2 or 3 for N discs
 *   job CODE N                      Rovane_JobBeginsOrEnds with any other code (4: logged only)
 *   move UNIT ACTION                Rovane_PostMoveDisc
 *   wait UNIT                       Rovane_CheckMoveDisc every 500 ms until it reports 1 or 4
 *   sleep MS                        the host waits MS milliseconds
 *   printfile PATH KIND             writes a generated print file of KIND (pellan-iv, pellan-pro,
 *                                   optical-disc-printer, varrow, varrow-2, tessik-6, label,
 *                                   short, wrong) at PATH; the folder must exist
 *   validprint ACTION FILE          Rovane_CheckValidPrint(0, ACTION, 0, FILE, 0, 0)
 *   moveprint UNIT ACTION DISCNUM FILE
 *                                   Rovane_PostMoveAndPrint(UNIT, ACTION, 0, FILE, "", DISCNUM)
 *   checkprinting                   Rovane_CheckPrinting(0)
 *
 * Words with blanks go in double quotes; inside and outside quotes \r, \n, \0, \t, \", \\ stand
 * for themselves. Numbers are read as C reads them (0x.. hexadecimal, 0.. octal) into 64 bits, as
 * the simulated host does.
 */
#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "engine_share.h"
#include "host.h"

/* The engine handle the host passes on: the simulated host engine's. */
#define HOST_ENGINE_HANDLE 0x4B540010UL
/* The recorder list sits in a buffer that goes on behind its NUL, as a host's does. */
#define LIST_SLACK 8192
#define WAIT_POLL_MS 500
#define MAX_SLEEP_MS (24LL * 3600 * 1000)

typedef struct Step {
    int cWords;
    Text* aWords;
} Step;

static Step* g_aSteps;
static int g_cSteps;
static Text g_RecorderList; /* recorders.txt, for "init HOST" without a LIST */

/* ---------------------------------------------------------------------------------------------
 * Words and numbers
 */

static int Is(const Text* t, const char* psz) { return t->cb == strlen(psz) && memcmp(t->p, psz, t->cb) == 0; }

/* A script line into words: blanks separate, double quotes group, backslash escapes. */
static int SplitWords(const char* pLine, size_t cbLine, Step* s, const char** ppszError) {
    char* pWord = (char*)HostGrow(NULL, cbLine + 1);
    size_t cbWord = 0;
    int fInWord = 0, fQuoted = 0;
    s->cWords = 0;
    s->aWords = NULL;
    for (size_t i = 0; i <= cbLine; ++i) {
        const int fEnd = i == cbLine;
        const char c = fEnd ? ' ' : pLine[i];
        if (!fEnd && c == '\\' && i + 1 < cbLine) {
            const char e = pLine[++i];
            pWord[cbWord++] = e == 'r' ? '\r' : e == 'n' ? '\n' : e == 't' ? '\t' : e == '0' ? '\0' : e;
            fInWord = 1;
        } else if (!fEnd && c == '"') {
            fQuoted = !fQuoted;
            fInWord = 1;
        } else if (fEnd || (!fQuoted && (c == ' ' || c == '\t'))) {
            if (fEnd && fQuoted) break;
            if (fInWord) {
                s->aWords = (Text*)HostGrow(s->aWords, (s->cWords + 1) * sizeof *s->aWords);
                s->aWords[s->cWords].p = CopyBytes(pWord, cbWord);
                s->aWords[s->cWords++].cb = cbWord;
            }
            cbWord = 0;
            fInWord = 0;
        } else {
            pWord[cbWord++] = c;
            fInWord = 1;
        }
    }
    free(pWord);
    if (fQuoted) {
        *ppszError = "a quote is not closed";
        return 0;
    }
    return 1;
}

/* The whole word as a number (C syntax); 0 when it is not one. */
static int ParseInt(const Text* t, long long* pValue) {
    char* pszWord = CopyBytes(t->p, t->cb); /* a word may be cut short of its ";" */
    char* pEnd = NULL;
    const long long v = strtoll(pszWord, &pEnd, 0);
    const int fWhole = t->cb > 0 && *pEnd == '\0';
    free(pszWord);
    if (fWhole) *pValue = v;
    return fWhole;
}

static int ButtonId(const char* p, size_t cb) {
    static const struct {
        const char* pszName;
        int nId;
    } kButtons[] = {{"OK", IDOK}, {"CANCEL", IDCANCEL}, {"RETRY", IDRETRY}, {"YES", IDYES},
                    {"NO", IDNO}, {"ABORT", IDABORT},   {"IGNORE", IDIGNORE}};
    for (size_t i = 0; i < sizeof kButtons / sizeof kButtons[0]; ++i)
        if (cb == strlen(kButtons[i].pszName) && memcmp(p, kButtons[i].pszName, cb) == 0) return kButtons[i].nId;
    return 0;
}

/* Where PATTERN=BUTTON divides: the last "=". -1 when there is none. */
static long long LastEquals(const Text* t) {
    for (size_t i = t->cb; i > 0; --i)
        if (t->p[i - 1] == '=') return (long long)(i - 1);
    return -1;
}

/* ---------------------------------------------------------------------------------------------
 * Print files: the same files as the simulated world's generator makes (sim/harness/print_files):
 * a 32-byte header that names the format, the per-disc ink use and low-ink levels, printer data
 * of a fixed pattern, and for "Tessik 6" a 24-byte trailer.
 */

enum { PF_PELLAN_IV, PF_PELLAN_PRO, PF_ODP, PF_VARROW, PF_VARROW2, PF_TESSIK6, PF_LABEL, PF_SHORT, PF_WRONG };
static const char* const kPrintKinds[] = {"pellan-iv", "pellan-pro", "optical-disc-printer", "varrow", "varrow-2",
                                          "tessik-6",  "label",      "short",                "wrong"};
#define PRINT_FILE_SIZE 4096
#define PRINT_HEADER 32
#define PRINT_TRAILER 24

static int PrintKind(const Text* t) {
    for (int i = 0; i < (int)(sizeof kPrintKinds / sizeof kPrintKinds[0]); ++i)
        if (Is(t, kPrintKinds[i])) return i;
    return -1;
}

static void Put24(unsigned char* p, unsigned long v) {
    p[0] = (unsigned char)(v >> 16);
    p[1] = (unsigned char)(v >> 8);
    p[2] = (unsigned char)v;
}

static void Put32(unsigned char* p, unsigned long v) {
    p[0] = (unsigned char)(v >> 24);
    Put24(p + 1, v);
}

/* The file's bytes into f (PRINT_FILE_SIZE bytes); returns its length. */
static size_t MakePrintFile(int nKind, unsigned char* f) {
    /* Per-disc use of counters 1 to 6 and the low-ink levels, as the world's defaults. */
    static const unsigned long kUse[6] = {300000, 250000, 200000, 400000, 0, 0};
    static const unsigned long kLow = 350000000UL, kLow2 = 450000000UL;
    if (nKind == PF_LABEL) {
        static const char kDesign[] = "[Design]\r\nTitle=Disc label\r\nLayout=Full disc\r\nText1=Disc label\r\n";
        memcpy(f, kDesign, sizeof kDesign - 1);
        return sizeof kDesign - 1;
    }
    memset(f, 0, PRINT_HEADER);
    for (size_t i = PRINT_HEADER; i < PRINT_FILE_SIZE; ++i) f[i] = (unsigned char)(0x20 + (i * 7) % 0x5F);
    f[0] = 0x1B;
    switch (nKind) {
        case PF_PELLAN_IV:
        case PF_SHORT:
        case PF_WRONG:
            f[1] = 0x00, f[2] = 0xFF, f[8] = 0x1B, f[9] = 0x00, f[10] = nKind == PF_WRONG ? 0x00 : 0xFE;
            if (nKind == PF_WRONG) break;
            f[4] = 1; /* colour */
            Put24(f + 11, kUse[0]), Put24(f + 14, kUse[1]), Put24(f + 17, kUse[2]), Put32(f + 20, kLow);
            if (nKind == PF_SHORT) return PRINT_HEADER - 1;
            break;
        case PF_PELLAN_PRO:
            f[1] = 0x03, f[2] = 0xFF, f[8] = 0x1B, f[9] = 0x03, f[10] = 0xFE;
            Put24(f + 11, kUse[0]), Put24(f + 14, kUse[1]), Put24(f + 17, kUse[2]), Put32(f + 20, kLow);
            Put24(f + 24, kUse[3]), Put32(f + 27, kLow2);
            break;
        case PF_ODP: memcpy(f + 1, "\x01\x02KS10", 6); break;
        case PF_VARROW: f[1] = 0x05, f[2] = 0x1E; break;
        case PF_VARROW2: f[1] = 0x07, f[2] = 0x00; break;
        case PF_TESSIK6: {
            unsigned char* t = f + PRINT_FILE_SIZE - PRINT_TRAILER;
            f[1] = 0x08, f[2] = 0x0E;
            Put32(f + 6, kLow), Put32(f + 10, kLow2);
            memset(t, 0, PRINT_TRAILER);
            t[0] = 0x1B, t[1] = 0x08;
            for (int i = 0; i < 6; ++i) Put24(t + 4 + 3 * i, kUse[i]);
            break;
        }
    }
    return PRINT_FILE_SIZE;
}

/* printfile: the file written at the path; the number of bytes written, 0 when it could not be. */
static size_t WritePrintFile(const char* pszPath, int nKind) {
    unsigned char* f = (unsigned char*)HostGrow(NULL, PRINT_FILE_SIZE);
    const size_t cb = MakePrintFile(nKind, f);
    FILE* out = fopen(pszPath, "wb");
    size_t cbWritten = 0;
    if (out != NULL) {
        cbWritten = fwrite(f, 1, cb, out);
        if (fclose(out) != 0) cbWritten = 0;
    }
    free(f);
    return cbWritten == cb ? cb : 0;
}

/* ---------------------------------------------------------------------------------------------
 * Checking the lines
 */

static char g_szError[512];

/* The actions of a "dialog" line: ID, then actions separated by ";" at the end of a word. */
static int ParseDialogActions(const Step* s, int* pnDialog, DialogAction** ppActions, int* pcActions) {
    long long llId = 0;
    if (s->cWords < 3 || !ParseInt(&s->aWords[1], &llId) || llId <= 0) {
        snprintf(g_szError, sizeof g_szError, "dialog takes ID ACTION[; ACTION...]");
        return 0;
    }
    *pnDialog = (int)llId;
    DialogAction* pActions = NULL;
    int cActions = 0;
    Text* aGroup = (Text*)HostGrow(NULL, s->cWords * sizeof *aGroup);
    int cGroup = 0;
    for (int i = 2; i <= s->cWords; ++i) {
        int fEndsGroup = i == s->cWords;
        if (i < s->cWords) {
            Text w = s->aWords[i];
            fEndsGroup = w.cb > 0 && w.p[w.cb - 1] == ';';
            if (fEndsGroup) --w.cb;
            if (w.cb > 0) aGroup[cGroup++] = w;
        }
        if (!fEndsGroup || cGroup == 0) continue;
        /* One action. */
        DialogAction a;
        memset(&a, 0, sizeof a);
        long long llControl = 0;
        const Text* g = aGroup;
        int fOk = 1;
        if (Is(&g[0], "close") && cGroup == 1) {
            a.kind = ACTION_CLOSE;
        } else if ((Is(&g[0], "click") || Is(&g[0], "check") || Is(&g[0], "uncheck")) && cGroup == 2 &&
                   ParseInt(&g[1], &llControl)) {
            a.kind = Is(&g[0], "click") ? ACTION_CLICK : Is(&g[0], "check") ? ACTION_CHECK : ACTION_UNCHECK;
            a.nControl = (int)llControl;
        } else if (Is(&g[0], "select") && cGroup >= 3 && ParseInt(&g[1], &llControl)) {
            size_t cb = 0;
            for (int k = 2; k < cGroup; ++k) cb += g[k].cb + 1;
            char* p = (char*)HostGrow(NULL, cb + 1);
            size_t at = 0;
            for (int k = 2; k < cGroup; ++k) {
                if (k > 2) p[at++] = ' ';
                memcpy(p + at, g[k].p, g[k].cb);
                at += g[k].cb;
            }
            p[at] = '\0';
            a.kind = ACTION_SELECT;
            a.nControl = (int)llControl;
            a.text.p = p;
            a.text.cb = at;
        } else {
            snprintf(g_szError, sizeof g_szError, "unknown dialog action '%.*s'", (int)strnlen(g[0].p, g[0].cb), g[0].p);
            fOk = 0;
        }
        if (!fOk) {
            free(aGroup);
            free(pActions);
            return 0;
        }
        pActions = (DialogAction*)HostGrow(pActions, (cActions + 1) * sizeof *pActions);
        pActions[cActions++] = a;
        cGroup = 0;
    }
    free(aGroup);
    if (cActions == 0) {
        snprintf(g_szError, sizeof g_szError, "dialog needs at least one action");
        free(pActions);
        return 0;
    }
    *ppActions = pActions;
    *pcActions = cActions;
    return 1;
}

static int Fails(const char* pszError) {
    snprintf(g_szError, sizeof g_szError, "%s", pszError);
    return 0;
}

static int CheckStep(const Step* s) {
    const Text* w = s->aWords;
    const Text* verb = &w[0];
    long long n = 0, m = 0;
    if (Is(verb, "answer")) {
        const long long eq = s->cWords >= 2 ? LastEquals(&w[1]) : -1;
        if (s->cWords < 2 || s->cWords > 3 || eq <= 0 || !ButtonId(w[1].p + eq + 1, w[1].cb - (size_t)eq - 1) ||
            (s->cWords == 3 && !Is(&w[2], "once")))
            return Fails("answer takes PATTERN=BUTTON [once]");
        return 1;
    }
    if (Is(verb, "dialog")) {
        int nDialog = 0, cActions = 0;
        DialogAction* pActions = NULL;
        if (!ParseDialogActions(s, &nDialog, &pActions, &cActions)) return 0;
        for (int i = 0; i < cActions; ++i) free(pActions[i].text.p);
        free(pActions);
        return 1;
    }
    if (Is(verb, "init")) {
        if (s->cWords < 2 || s->cWords > 3) return Fails("init takes HOST [LIST]");
        return 1;
    }
    if (Is(verb, "printfile")) {
        if (s->cWords != 3 || PrintKind(&w[2]) < 0)
            return Fails("printfile takes PATH KIND (pellan-iv, pellan-pro, optical-disc-printer, varrow, varrow-2, "
                         "tessik-6, label, short, wrong)");
        return 1;
    }
    if (Is(verb, "validprint")) {
        if (s->cWords != 3 || !ParseInt(&w[1], &n)) return Fails("validprint takes ACTION FILE");
        return 1;
    }
    if (Is(verb, "moveprint")) {
        long long d = 0;
        if (s->cWords != 5 || !ParseInt(&w[1], &n) || !ParseInt(&w[2], &m) || !ParseInt(&w[3], &d))
            return Fails("moveprint takes UNIT ACTION DISCNUM FILE");
        return 1;
    }
    if (Is(verb, "end") || Is(verb, "status") || Is(verb, "options") || Is(verb, "movements") ||
        Is(verb, "checkprinting")) {
        if (s->cWords != 1) snprintf(g_szError, sizeof g_szError, "%s takes no arguments", verb->p);
        return s->cWords == 1;
    }
    if (Is(verb, "services")) {
        if (s->cWords != 3 || !ParseInt(&w[1], &n) || !ParseInt(&w[2], &m)) return Fails("services takes KIND CODE");
        return 1;
    }
    if (Is(verb, "job")) {
        if (s->cWords != 3 ||
            (!Is(&w[1], "begin") && !Is(&w[1], "end") && !Is(&w[1], "abort") && !ParseInt(&w[1], &m)) ||
            !ParseInt(&w[2], &n) || n < 0)
            return Fails("job takes begin|end|abort|CODE N");
        return 1;
    }
    if (Is(verb, "move")) {
        if (s->cWords != 3 || !ParseInt(&w[1], &n) || !ParseInt(&w[2], &m)) return Fails("move takes UNIT ACTION");
        return 1;
    }
    if (Is(verb, "wait")) {
        if (s->cWords != 2 || !ParseInt(&w[1], &n)) return Fails("wait takes UNIT");
        return 1;
    }
    if (Is(verb, "sleep")) {
        if (s->cWords != 2 || !ParseInt(&w[1], &n) || n < 0 || n > MAX_SLEEP_MS)
            return Fails("sleep takes milliseconds (0 to one day)");
        return 1;
    }
    snprintf(g_szError, sizeof g_szError, "unknown call '%s'", verb->p);
    return 0;
}

/* ---------------------------------------------------------------------------------------------
 * Reading the script
 */

static char* ReadAll(FILE* f, size_t* pcb) {
    size_t cb = 0, cbMax = 4096;
    char* p = (char*)HostGrow(NULL, cbMax);
    for (;;) {
        const size_t n = fread(p + cb, 1, cbMax - cb, f);
        cb += n;
        if (n == 0) break;
        if (cb == cbMax) p = (char*)HostGrow(p, cbMax *= 2);
    }
    *pcb = cb;
    return p;
}

/* recorders.txt of the engine folder, for "init HOST" without a LIST. */
static int ReadRecorderList(void) {
    char szFolder[MAX_PATH];
    if (!EngineFolder(szFolder, sizeof szFolder)) {
        fputs("rovane-host: an init line without a LIST reads the recorder list from "
              "%ROVANE_ENGINE_DIR%\\recorders.txt, and ROVANE_ENGINE_DIR is not set\n",
              stderr);
        return 0;
    }
    DWORD cb = 0;
    char* p = EngineReadFile(szFolder, "recorders.txt", &cb);
    if (p == NULL) {
        fprintf(stderr, "rovane-host: cannot read the recorder list '%s\\recorders.txt'\n", szFolder);
        return 0;
    }
    g_RecorderList.p = CopyBytes(p, cb);
    g_RecorderList.cb = cb;
    HeapFree(GetProcessHeap(), 0, p);
    return 1;
}

int LoadScript(const char* pszPath) {
    FILE* f = stdin;
    if (strcmp(pszPath, "-") == 0) {
        _setmode(_fileno(stdin), _O_BINARY);
    } else if ((f = fopen(pszPath, "rb")) == NULL) {
        fprintf(stderr, "rovane-host: cannot read the script '%s'\n", pszPath);
        return 0;
    }
    size_t cbAll = 0;
    char* pAll = ReadAll(f, &cbAll);
    if (f != stdin) fclose(f);

    int fNeedsList = 0;
    size_t at = 0;
    for (int nLine = 1; at < cbAll; ++nLine) {
        const char* pLine = pAll + at;
        const char* pNewline = (const char*)memchr(pLine, '\n', cbAll - at);
        size_t cbLine = pNewline != NULL ? (size_t)(pNewline - pLine) : cbAll - at;
        at += cbLine + (pNewline != NULL ? 1 : 0);
        if (cbLine > 0 && pLine[cbLine - 1] == '\r') --cbLine;
        Step s;
        const char* pszError = NULL;
        if (!SplitWords(pLine, cbLine, &s, &pszError)) {
            fprintf(stderr, "rovane-host: %s:%d: %s\n", pszPath, nLine, pszError);
            return 0;
        }
        if (s.cWords == 0 || s.aWords[0].p[0] == '#') continue;
        if (!CheckStep(&s)) {
            fprintf(stderr, "rovane-host: %s:%d: %s\n", pszPath, nLine, g_szError);
            return 0;
        }
        if (Is(&s.aWords[0], "init") && s.cWords == 2) fNeedsList = 1;
        g_aSteps = (Step*)HostGrow(g_aSteps, (g_cSteps + 1) * sizeof *g_aSteps);
        g_aSteps[g_cSteps++] = s;
    }
    free(pAll);
    return !fNeedsList || ReadRecorderList();
}

/* ---------------------------------------------------------------------------------------------
 * Running it
 */

static void PutQuoted(const char* p, size_t cb) {
    char* pOut = (char*)HostGrow(NULL, 4 * cb + 1);
    printf("\"%s\"", EscapeText(p, cb, pOut));
    free(pOut);
}

/* The call's own line is out: the events since the last call go under it. */
static void EndCallLines(void) {
    AutomationPrintEvents();
    fflush(stdout);
    HostOutputUnlock();
}

static void RunInit(const Step* s) {
    const Text* list = s->cWords == 3 ? &s->aWords[2] : &g_RecorderList;
    char* pList = (char*)HostGrow(NULL, list->cb + LIST_SLACK);
    char szSelected[ROVANE_RECORDER_TEXT_SIZE + 1];
    char szProduct[ROVANE_PRODUCT_NAME_SIZE + 1];
    BYTE bError = 0xFF;
    memcpy(pList, list->p, list->cb);
    memset(pList + list->cb, 0, LIST_SLACK);
    memset(szSelected, 0, sizeof szSelected);
    memset(szProduct, 0, sizeof szProduct);
    const LONG lResult = g_Rovane.Init(HOST_ENGINE_HANDLE, g_hHostWindow, s->aWords[1].p, "", pList, szSelected,
                                       &bError, szProduct);
    HostOutputLock();
    printf("%llu init ", HostMs());
    PutQuoted(s->aWords[1].p, s->aWords[1].cb);
    printf(" -> %ld\n", (long)lResult);
    /* Each selected-recorder line, without its CR LF. */
    for (const char* p = szSelected;;) {
        const char* pEnd = strstr(p, "\r\n");
        if (pEnd == NULL) break;
        fputs("    recorder ", stdout);
        PutQuoted(p, (size_t)(pEnd - p));
        fputc('\n', stdout);
        p = pEnd + 2;
    }
    if (szProduct[0] != '\0') {
        fputs("    product ", stdout);
        PutQuoted(szProduct, strlen(szProduct));
        printf(" error=%u\n", (unsigned)bError);
    }
    EndCallLines();
    free(pList);
}

static void RunStep(const Step* s) {
    const Text* w = s->aWords;
    const Text* verb = &w[0];
    long long a = 0, b = 0;
    if (Is(verb, "answer")) {
        const long long eq = LastEquals(&w[1]);
        Text pattern;
        pattern.p = w[1].p;
        pattern.cb = (size_t)eq;
        AutomationAddAnswer(&pattern, ButtonId(w[1].p + eq + 1, w[1].cb - (size_t)eq - 1), s->cWords == 3);
    } else if (Is(verb, "dialog")) {
        int nDialog = 0, cActions = 0;
        DialogAction* pActions = NULL;
        ParseDialogActions(s, &nDialog, &pActions, &cActions);
        AutomationAddDialog(nDialog, pActions, cActions);
    } else if (Is(verb, "sleep")) {
        ParseInt(&w[1], &a);
        HostSleep((DWORD)a);
    } else if (Is(verb, "init")) {
        RunInit(s);
    } else if (Is(verb, "end")) {
        char szText[ROVANE_END_TEXT_SIZE + 1];
        memset(szText, 0, sizeof szText);
        const DWORD dwResult = g_Rovane.End(szText);
        HostOutputLock();
        printf("%llu end -> %lu\n    text ", HostMs(), (unsigned long)dwResult);
        PutQuoted(szText, strlen(szText));
        fputc('\n', stdout);
        EndCallLines();
    } else if (Is(verb, "status")) {
        BYTE abStatus[22];
        DWORD dwLength = 0, dwType = 0;
        memset(abStatus, 0, sizeof abStatus);
        const DWORD dwResult = g_Rovane.GetRoboStatus(abStatus, sizeof abStatus, &dwLength, &dwType);
        HostOutputLock();
        printf("%llu status -> %lu\n", HostMs(), (unsigned long)dwResult);
        if (dwResult) {
            printf("    state=%c error=%c printer=%c tray=%c position=%c aux=%c picker=%c firmware=", abStatus[0],
                   abStatus[1], abStatus[2], abStatus[3], abStatus[4], abStatus[5], abStatus[6]);
            const char* pszFirmware = (const char*)abStatus + 7;
            PutQuoted(pszFirmware, strnlen(pszFirmware, sizeof abStatus - 7));
            fputc('\n', stdout);
        }
        EndCallLines();
    } else if (Is(verb, "options")) {
        const DWORD dwResult = g_Rovane.Options();
        HostOutputLock();
        printf("%llu options -> %lu\n", HostMs(), (unsigned long)dwResult);
        EndCallLines();
    } else if (Is(verb, "movements")) {
        const DWORD dwResult = g_Rovane.Movements(0);
        HostOutputLock();
        printf("%llu movements -> %lu\n", HostMs(), (unsigned long)dwResult);
        EndCallLines();
    } else if (Is(verb, "job")) {
        ParseInt(&w[2], &a);
        if (!ParseInt(&w[1], &b))
            b = Is(&w[1], "begin") ? ROVANE_JOB_BEGIN : Is(&w[1], "end") ? ROVANE_JOB_END : ROVANE_JOB_ABORT;
        const LONG lResult = g_Rovane.JobBeginsOrEnds(0, (DWORD)a, (LONG)b);
        HostOutputLock();
        printf("%llu job %s %lld -> %ld\n", HostMs(), w[1].p, a, (long)lResult);
        EndCallLines();
    } else if (Is(verb, "move")) {
        ParseInt(&w[1], &a);
        ParseInt(&w[2], &b);
        const LONG lResult = g_Rovane.PostMoveDisc((DWORD)a, (LONG)b, 0, 0);
        HostOutputLock();
        printf("%llu move %lld %lld -> %ld\n", HostMs(), a, b, (long)lResult);
        EndCallLines();
    } else if (Is(verb, "wait")) {
        ParseInt(&w[1], &a);
        DWORD dwState = ROVANE_IN_PROGRESS;
        int cPolls = 0;
        while ((dwState = g_Rovane.CheckMoveDisc((DWORD)a)) == ROVANE_IN_PROGRESS) {
            ++cPolls;
            HostSleep(WAIT_POLL_MS);
        }
        HostOutputLock();
        printf("%llu wait %lld -> %lu after %d polls\n", HostMs(), a, (unsigned long)dwState, cPolls);
        EndCallLines();
    } else if (Is(verb, "printfile")) {
        const size_t cb = WritePrintFile(w[1].p, PrintKind(&w[2]));
        HostOutputLock();
        printf("%llu printfile ", HostMs());
        PutQuoted(w[1].p, w[1].cb);
        printf(" %s -> %zu\n", w[2].p, cb);
        EndCallLines();
    } else if (Is(verb, "validprint")) {
        ParseInt(&w[1], &a);
        const LONG lResult = g_Rovane.CheckValidPrint(0, (LONG)a, 0, w[2].p, 0, 0);
        HostOutputLock();
        printf("%llu validprint %lld ", HostMs(), a);
        PutQuoted(w[2].p, w[2].cb);
        printf(" -> %ld\n", (long)lResult);
        EndCallLines();
    } else if (Is(verb, "moveprint")) {
        long long d = 0;
        ParseInt(&w[1], &a);
        ParseInt(&w[2], &b);
        ParseInt(&w[3], &d);
        const LONG lResult = g_Rovane.PostMoveAndPrint((DWORD)a, (LONG)b, 0, w[4].p, "", (DWORD)d);
        HostOutputLock();
        printf("%llu moveprint %lld %lld %lld ", HostMs(), a, b, d);
        PutQuoted(w[4].p, w[4].cb);
        printf(" -> %ld\n", (long)lResult);
        EndCallLines();
    } else if (Is(verb, "checkprinting")) {
        const DWORD dwResult = g_Rovane.CheckPrinting(0);
        HostOutputLock();
        printf("%llu checkprinting -> %lu\n", HostMs(), (unsigned long)dwResult);
        EndCallLines();
    } else if (Is(verb, "services")) {
        ParseInt(&w[1], &a);
        ParseInt(&w[2], &b);
        const LONG lResult = g_Rovane.Services((LONG)a, (LONG)b);
        HostOutputLock();
        printf("%llu services %lld %lld -> %ld\n", HostMs(), a, b, (long)lResult);
        EndCallLines();
    }
}

void RunScript(void) {
    for (int i = 0; i < g_cSteps; ++i) RunStep(&g_aSteps[i]);
    /* What happened after the last call. */
    HostOutputLock();
    EndCallLines();
}
