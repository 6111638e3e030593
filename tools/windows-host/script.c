/*
 * The script: read and checked by the reader `rovane-sim host` shares (tools/host-script, where
 * the language is described), with the same messages, and run against the real module with the
 * same output lines. What this host cannot do is refused before anything runs: the answers
 * PAUSEPICK and REFILL need hands at the machine (the robot's buttons, its input bins).
 */
#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "engine_share.h"
#include "host.h"
#include "host_script.h"
#include "print_file.h"

/* The engine handle the host passes on: the simulated host engine's. */
#define HOST_ENGINE_HANDLE 0x4B540010UL
/* The recorder list sits in a buffer that goes on behind its NUL, as a host's does. */
#define LIST_SLACK 8192
#define WAIT_POLL_MS 500

static HsScript g_Script;
static Text g_RecorderList; /* recorders.txt, for "init HOST" without a LIST */

/* ---------------------------------------------------------------------------------------------
 * Print files: the generator both hosts share, written at the path, its folders made as needed.
 */

/* The folders of the path, each made unless it is there ("C:\a\b\f.prn": C:\a, then C:\a\b). */
static void MakeFolders(const char* pszPath) {
    char* psz = CopyBytes(pszPath, strlen(pszPath));
    for (char* p = psz; *p != '\0'; ++p) {
        if ((*p != '\\' && *p != '/') || p == psz || p[-1] == ':' || p[-1] == '\\' || p[-1] == '/') continue;
        const char c = *p;
        *p = '\0';
        CreateDirectoryA(psz, NULL);
        *p = c;
    }
    free(psz);
}

/* printfile: the number of bytes written, 0 when the file could not be written. */
static size_t WritePrintFile(const char* pszPath, int nKind) {
    const PfRecipe recipe = pf_recipe((PfKind)nKind);
    const size_t cb = pf_make(&recipe, NULL, 0);
    unsigned char* f = (unsigned char*)HostGrow(NULL, cb);
    pf_make(&recipe, f, cb);
    MakeFolders(pszPath);
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
 * Reading the script
 */

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

int LoadScript(const char* pszPath, int fCheckOnly) {
    char szError[1024];
    if (strcmp(pszPath, "-") == 0) _setmode(_fileno(stdin), _O_BINARY);
    if (!hs_read(pszPath, &g_Script, szError, sizeof szError)) {
        fprintf(stderr, "rovane-host: %s\n", szError);
        return 0;
    }
    if (fCheckOnly) {
        for (int i = 0; i < g_Script.count; ++i) {
            char* pszLine = hs_describe(&g_Script.steps[i]);
            printf("%s\n", pszLine);
            free(pszLine);
        }
        return 1;
    }
    for (int i = 0; i < g_Script.count; ++i) {
        const HsStep* s = &g_Script.steps[i];
        if (s->call == HS_ANSWER && (s->button == HS_PAUSEPICK || s->button == HS_REFILL)) {
            fprintf(stderr,
                    "rovane-host: %s:%d: %s needs hands at the machine (the robot's buttons), which rovane-host "
                    "has not: only rovane-sim host answers so\n",
                    pszPath, s->line, hs_button_name(s->button));
            return 0;
        }
    }
    return !g_Script.needs_list || ReadRecorderList();
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

static void RunInit(const HsStep* s) {
    const Text* list = s->has_list ? &s->text[1] : &g_RecorderList;
    char* pList = (char*)HostGrow(NULL, list->cb + LIST_SLACK);
    char szSelected[ROVANE_RECORDER_TEXT_SIZE + 1];
    char szProduct[ROVANE_PRODUCT_NAME_SIZE + 1];
    BYTE bError = 0xFF;
    memcpy(pList, list->p, list->cb);
    memset(pList + list->cb, 0, LIST_SLACK);
    memset(szSelected, 0, sizeof szSelected);
    memset(szProduct, 0, sizeof szProduct);
    const LONG lResult = g_Rovane.Init(HOST_ENGINE_HANDLE, g_hHostWindow, s->text[0].p, "", pList, szSelected,
                                       &bError, szProduct);
    HostOutputLock();
    printf("%llu init ", HostMs());
    PutQuoted(s->text[0].p, s->text[0].cb);
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

static void RunStep(const HsStep* s) {
    const long long a = s->n[0], b = s->n[1], d = s->n[2];
    switch (s->call) {
        case HS_ANSWER:
            AutomationAddAnswer(&s->text[0], s->button, s->once);
            return;
        case HS_DIALOG:
            AutomationAddDialog((int)a, s->actions, s->action_count);
            return;
        case HS_SLEEP:
            HostSleep((DWORD)a);
            return;
        case HS_INIT:
            RunInit(s);
            return;
        case HS_END: {
            char szText[ROVANE_END_TEXT_SIZE + 1];
            memset(szText, 0, sizeof szText);
            const DWORD dwResult = g_Rovane.End(szText);
            HostOutputLock();
            printf("%llu end -> %lu\n    text ", HostMs(), (unsigned long)dwResult);
            PutQuoted(szText, strlen(szText));
            fputc('\n', stdout);
            break;
        }
        case HS_STATUS: {
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
            break;
        }
        case HS_OPTIONS: {
            const DWORD dwResult = g_Rovane.Options();
            HostOutputLock();
            printf("%llu options -> %lu\n", HostMs(), (unsigned long)dwResult);
            break;
        }
        case HS_MOVEMENTS: {
            const DWORD dwResult = g_Rovane.Movements(0);
            HostOutputLock();
            printf("%llu movements -> %lu\n", HostMs(), (unsigned long)dwResult);
            break;
        }
        case HS_JOB: {
            const LONG lResult = g_Rovane.JobBeginsOrEnds(0, (DWORD)b, (LONG)a);
            HostOutputLock();
            if (s->job_word != NULL)
                printf("%llu job %s %lld -> %ld\n", HostMs(), s->job_word, b, (long)lResult);
            else
                printf("%llu job %lld %lld -> %ld\n", HostMs(), a, b, (long)lResult);
            break;
        }
        case HS_MOVE: {
            const LONG lResult = g_Rovane.PostMoveDisc((DWORD)a, (LONG)b, 0, 0);
            HostOutputLock();
            printf("%llu move %lld %lld -> %ld\n", HostMs(), a, b, (long)lResult);
            break;
        }
        case HS_WAIT: {
            DWORD dwState = ROVANE_IN_PROGRESS;
            int cPolls = 0;
            while ((dwState = g_Rovane.CheckMoveDisc((DWORD)a)) == ROVANE_IN_PROGRESS) {
                ++cPolls;
                HostSleep(WAIT_POLL_MS);
            }
            HostOutputLock();
            printf("%llu wait %lld -> %lu after %d polls\n", HostMs(), a, (unsigned long)dwState, cPolls);
            break;
        }
        case HS_PRINTFILE: {
            const size_t cb = WritePrintFile(s->text[0].p, s->print_kind);
            HostOutputLock();
            printf("%llu printfile ", HostMs());
            PutQuoted(s->text[0].p, s->text[0].cb);
            printf(" %s -> %zu\n", pf_kind_name((PfKind)s->print_kind), cb);
            break;
        }
        case HS_VALIDPRINT: {
            const LONG lResult = g_Rovane.CheckValidPrint(0, (LONG)a, 0, s->text[0].p, 0, 0);
            HostOutputLock();
            printf("%llu validprint %lld ", HostMs(), a);
            PutQuoted(s->text[0].p, s->text[0].cb);
            printf(" -> %ld\n", (long)lResult);
            break;
        }
        case HS_MOVEPRINT: {
            const LONG lResult = g_Rovane.PostMoveAndPrint((DWORD)a, (LONG)b, 0, s->text[0].p, "", (DWORD)d);
            HostOutputLock();
            printf("%llu moveprint %lld %lld %lld ", HostMs(), a, b, d);
            PutQuoted(s->text[0].p, s->text[0].cb);
            printf(" -> %ld\n", (long)lResult);
            break;
        }
        case HS_CHECKPRINTING: {
            const DWORD dwResult = g_Rovane.CheckPrinting(0);
            HostOutputLock();
            printf("%llu checkprinting -> %lu\n", HostMs(), (unsigned long)dwResult);
            break;
        }
        case HS_CHECKACCUMULATOR: {
            const DWORD dwResult = g_Rovane.CheckAccumulator(0);
            HostOutputLock();
            printf("%llu checkaccumulator -> %lu\n", HostMs(), (unsigned long)dwResult);
            break;
        }
        case HS_SERVICES: {
            const LONG lResult = g_Rovane.Services((LONG)a, (LONG)b);
            HostOutputLock();
            printf("%llu services %lld %lld -> %ld\n", HostMs(), a, b, (long)lResult);
            break;
        }
    }
    EndCallLines();
}

void RunScript(void) {
    for (int i = 0; i < g_Script.count; ++i) RunStep(&g_Script.steps[i]);
    /* What happened after the last call. */
    HostOutputLock();
    EndCallLines();
}
