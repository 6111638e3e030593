/*
 * The operator: a thread that looks every 50 ms for the windows of this process that the module
 * shows (message boxes and its own dialogs, both of the dialog class "#32770") and answers them by
 * the script's rules, then by the default operator's, as the simulated operator does:
 *
 * - A message box is answered by the first "answer" rule whose pattern its text contains (a
 *   "once" rule answers one box); else by the first default rule that fits (the rules of
 *   rovane-sim's person at the machine, sim/harness/recording_host.cpp, without the hands: what
 *   needs the robot's buttons or a disc moved is left to a person); else with its first button.
 * - A dialog of the module is recognised by its template in the module's resources (every
 *   addressed control of the template is there). The "dialog" rules for its template are used in
 *   script order, each for one showing, then the default ones (OK to the printer selection, Cancel
 *   to the options, the robot's status message read and left to the person at the machine, or
 *   its ABORT Job button for an ABORTJOB answer rule whose pattern one of its texts contains);
 *   when the dialog's texts change (an action of ours or of the module), it is looked at again
 *   and may take the next rule, as the simulated operator does.
 * - Every answer comes after 1.5 s of thought. A dialog's actions follow each other as a
 *   person's do: each is handed to the dialog with SendMessageCallback, and the next one comes
 *   100 ms after the dialog's procedure has returned from it, so that a message box (or dialog)
 *   it opened has been answered by the rules and has gone first. Meanwhile a change of the
 *   dialog's texts is looked at once the last action has been dealt with.
 * - A window still open 120 s after it appeared or was last answered, with no answer on its way,
 *   ends the program with exit code 3; so does a rule that cannot be carried out.
 *
 * What was shown and answered is kept as event lines, printed under the next call's line.
 */
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "host.h" /* windows.h, before winspool.h */
#include <winspool.h>

#include "resource.h"

#define POLL_MS 50
#define THINK_MS 1500
#define ACTION_GAP_MS 100
#define UNANSWERED_LIMIT_MS 120000ULL
#define MESSAGE_TIMEOUT_MS 2000 /* an action's message */
#define LOOK_TIMEOUT_MS 200     /* a look at a list's choice */
#define MAX_WATCHED 64
#define TEXT_MAX 4096

/* The message box's text control: 0xFFFF as on Windows and in today's Wine; 100 in older Wine. */
#define MSGBOX_TEXT_ID 0xFFFF
#define MSGBOX_TEXT_ID_OLD 100
#define ID_TRYAGAIN 10
#define ID_CONTINUE 11
/* The message box's icon control, as on Windows and in Wine. */
#define MSGBOX_ICON_ID 0x0440

/* ---------------------------------------------------------------------------------------------
 * Small helpers
 */

/* The window's text as the module set it, without sending the window a message. */
static size_t WindowText(HWND hWnd, char* pszText, size_t cchText) {
    WCHAR wsz[TEXT_MAX];
    char sz[3 * TEXT_MAX];
    const int cwch = InternalGetWindowText(hWnd, wsz, TEXT_MAX);
    int cch = cwch > 0 ? WideCharToMultiByte(CP_ACP, 0, wsz, cwch, sz, (int)sizeof sz, NULL, NULL) : 0;
    if (cch < 0) cch = 0;
    if ((size_t)cch >= cchText) cch = (int)cchText - 1;
    memcpy(pszText, sz, (size_t)cch);
    pszText[cch] = '\0';
    return (size_t)cch;
}

/* "IDOK", "IDRETRY", ... or the number. */
static const char* ButtonName(int nId, char* pszBuffer) {
    static const char* const kNames[] = {NULL,       "IDOK", "IDCANCEL", "IDABORT",   "IDRETRY",   "IDIGNORE",
                                         "IDYES",    "IDNO", NULL,       NULL,        "IDTRYAGAIN", "IDCONTINUE"};
    if (nId > 0 && nId < (int)(sizeof kNames / sizeof kNames[0]) && kNames[nId] != NULL) return kNames[nId];
    sprintf(pszBuffer, "%d", nId);
    return pszBuffer;
}

/* A message the window's thread answers within uTimeoutMs; *pfAnswered says whether it did. */
static LRESULT SendWithin(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam, UINT uTimeoutMs, int* pfAnswered) {
    DWORD_PTR dwResult = 0;
    const LRESULT lOk =
        SendMessageTimeoutA(hWnd, uMsg, wParam, lParam, SMTO_NORMAL | SMTO_ABORTIFHUNG, uTimeoutMs, &dwResult);
    if (pfAnswered != NULL) *pfAnswered = lOk != 0;
    return (LRESULT)dwResult;
}

/* ---------------------------------------------------------------------------------------------
 * Rules and events (shared with the script's thread)
 */

typedef struct AnswerRule {
    Text pattern;
    int nButton;
    int nUsesLeft; /* -1: every box */
} AnswerRule;

typedef struct DialogRule {
    int nDialog;
    Text pattern;               /* one of the dialog's texts contains it (empty: any showing) */
    const HsAction* pActions;
    int cActions;
    int nUsesLeft;              /* -1: every showing */
} DialogRule;

/* The default operator's rules, tried after the script's. A rule index (Watched.nRule) is the
 * script rule's (0 ...), DEFAULT_RULE(i) for the default rule i, or FIRST_BUTTON. */
#define FIRST_BUTTON (-1)
#define DEFAULT_RULE(i) (-100 - (i))
#define IS_DEFAULT_RULE(n) ((n) <= -100)
#define DEFAULT_INDEX(n) (-100 - (n))

typedef struct DefaultAnswer {
    const char* pszPattern;
    int nButton;           /* 0: left to a person at the machine (the hands rovane-sim's operator has) */
    int nUsesLeft;
    int fLaminatorOnly;    /* only when the spooler has the laminator */
} DefaultAnswer;

static DefaultAnswer g_aDefaultAnswers[] = {
    {"Wait for printing timed out", IDRETRY, -1, 0},
    {"Press both Pause & Pick", 0, -1, 0},  /* the robot's error cleared first */
    {"Robotics are PAUSED", 0, -1, 0},      /* ... the robot un-paused first */
    {"reject position", 0, -1, 0},          /* ... the reject positions emptied first */
    {"No response", IDRETRY, 3, 0},
    {"No response", IDCANCEL, -1, 0},
    {"The printer is not responding", IDRETRY, 3, 0},
    {"The printer is not responding", IDCANCEL, -1, 0},
    {"Unable to move the printer tray", IDRETRY, 3, 0},
    {"Unable to move the printer tray", IDCANCEL, -1, 0},
    {"Unable to communicate with the laminator", IDRETRY, 3, 1},
    {"Unable to communicate with the laminator", IDCANCEL, -1, 0},
    {"fallen out of the laminator tray", 0, -1, 0},  /* ... the disc put back first */
    {"Wait for lamination timed out", IDRETRY, -1, 0},
    {"already holds", IDCANCEL, -1, 0},
    {"connected to FILE:", IDNO, -1, 0},
    {"Initial input bin", IDYES, -1, 0},
    {"all 4 input bins", IDYES, -1, 0},
};
#define DEFAULT_ANSWERS ((int)(sizeof g_aDefaultAnswers / sizeof g_aDefaultAnswers[0]))

static const HsAction kClickOk = {HS_CLICK, IDOK, {NULL, 0}};
static const HsAction kClickCancel = {HS_CLICK, IDCANCEL, {NULL, 0}};
static const HsAction kAbortJob = {HS_CLICK, IDC_ABORT_JOB, {NULL, 0}};
static DialogRule g_aDefaultDialogs[] = {
    {IDD_ROBOT_MESSAGE, {NULL, 0}, NULL, 0, -1}, /* read: the person at the machine deals with the robot */
    {IDD_SELECT_PRINTER, {NULL, 0}, &kClickOk, 1, -1},
    {IDD_OPTIONS, {NULL, 0}, &kClickCancel, 1, -1},
};
#define DEFAULT_DIALOGS ((int)(sizeof g_aDefaultDialogs / sizeof g_aDefaultDialogs[0]))

static int g_fLaminator; /* the spooler has the laminator */

static CRITICAL_SECTION g_csState;
static AnswerRule* g_pAnswers;
static int g_cAnswers;
static DialogRule* g_pDialogRules;
static int g_cDialogRules;
static char* g_pEvents;
static size_t g_cbEvents, g_cbEventsMax;

static void AddDialogRule(int nDialog, const Text* pattern, const HsAction* pActions, int cActions, int nUses) {
    EnterCriticalSection(&g_csState);
    g_pDialogRules = (DialogRule*)HostGrow(g_pDialogRules, (g_cDialogRules + 1) * sizeof *g_pDialogRules);
    DialogRule* r = &g_pDialogRules[g_cDialogRules++];
    r->nDialog = nDialog;
    r->pattern.p = pattern != NULL ? CopyBytes(pattern->p, pattern->cb) : NULL;
    r->pattern.cb = pattern != NULL ? pattern->cb : 0;
    r->pActions = pActions;
    r->cActions = cActions;
    r->nUsesLeft = nUses;
    LeaveCriticalSection(&g_csState);
}

void AutomationAddAnswer(const Text* pattern, int nButton, int fOnce) {
    if (nButton == HS_ABORTJOB) {
        AddDialogRule(IDD_ROBOT_MESSAGE, pattern, &kAbortJob, 1, fOnce ? 1 : -1);
        return;
    }
    EnterCriticalSection(&g_csState);
    g_pAnswers = (AnswerRule*)HostGrow(g_pAnswers, (g_cAnswers + 1) * sizeof *g_pAnswers);
    AnswerRule* r = &g_pAnswers[g_cAnswers++];
    r->pattern.p = CopyBytes(pattern->p, pattern->cb);
    r->pattern.cb = pattern->cb;
    r->nButton = nButton;
    r->nUsesLeft = fOnce ? 1 : -1;
    LeaveCriticalSection(&g_csState);
}

void AutomationAddDialog(int nDialog, const HsAction* pActions, int cActions) {
    AddDialogRule(nDialog, NULL, pActions, cActions, 1);
}

/* Adds "    <ms> <text>" to the events. */
static void AddEvent(const char* pszFormat, ...) {
    char szLine[5 * TEXT_MAX + 1024]; /* an escaped text and caption */
    const int cchPrefix = snprintf(szLine, sizeof szLine, "    %llu ", HostMs());
    va_list args;
    va_start(args, pszFormat);
    int cch = vsnprintf(szLine + cchPrefix, sizeof szLine - cchPrefix - 1, pszFormat, args);
    va_end(args);
    if (cch < 0) cch = 0;
    size_t cb = (size_t)cchPrefix + (size_t)cch;
    if (cb > sizeof szLine - 2) cb = sizeof szLine - 2;
    szLine[cb++] = '\n';
    EnterCriticalSection(&g_csState);
    if (g_cbEvents + cb > g_cbEventsMax) {
        g_cbEventsMax = 2 * (g_cbEvents + cb);
        g_pEvents = (char*)HostGrow(g_pEvents, g_cbEventsMax);
    }
    memcpy(g_pEvents + g_cbEvents, szLine, cb);
    g_cbEvents += cb;
    LeaveCriticalSection(&g_csState);
}

void AutomationPrintEvents(void) {
    EnterCriticalSection(&g_csState);
    if (g_cbEvents > 0) fwrite(g_pEvents, 1, g_cbEvents, stdout);
    g_cbEvents = 0;
    LeaveCriticalSection(&g_csState);
}

/* Ends the program: a window nobody answers, or a rule that cannot be carried out. */
static void Fail(const char* pszFormat, ...) {
    HostOutputLock();
    AutomationPrintEvents();
    fflush(stdout);
    fputs("rovane-host: ", stderr);
    va_list args;
    va_start(args, pszFormat);
    vfprintf(stderr, pszFormat, args);
    va_end(args);
    fputc('\n', stderr);
    fflush(stderr);
    ExitProcess(3);
}

/* ---------------------------------------------------------------------------------------------
 * The module's dialog templates: each template's addressed control ids
 */

typedef struct Template {
    int nId;
    int cControls;
    DWORD adwControls[256];
} Template;

static Template* g_pTemplates;
static int g_cTemplates;

/* Past a menu, class or title field (0, 0xFFFF + ordinal, or a NUL-terminated string). */
static const BYTE* SkipField(const BYTE* p, const BYTE* pEnd) {
    WORD w;
    if (p + 2 > pEnd) return NULL;
    memcpy(&w, p, 2);
    if (w == 0x0000) return p + 2;
    if (w == 0xFFFF) return p + 4 <= pEnd ? p + 4 : NULL;
    for (; p + 2 <= pEnd; p += 2) {
        memcpy(&w, p, 2);
        if (w == 0) return p + 2;
    }
    return NULL;
}

static const BYTE* AlignDword(const BYTE* pBase, const BYTE* p) {
    return pBase + (((size_t)(p - pBase) + 3) & ~(size_t)3);
}

/* Parses a DLGTEMPLATE or DLGTEMPLATEEX into t. 0 when it is not one. */
static int ParseTemplate(const BYTE* pBase, DWORD cb, Template* t) {
    const BYTE* pEnd = pBase + cb;
    const BYTE* p = pBase;
    WORD wVersion = 0, wSignature = 0, cItems = 0;
    DWORD dwStyle = 0;
    if (cb < 26) return 0;
    memcpy(&wVersion, p, 2);
    memcpy(&wSignature, p + 2, 2);
    const int fEx = wVersion == 1 && wSignature == 0xFFFF;
    if (fEx) {
        memcpy(&dwStyle, p + 12, 4);
        memcpy(&cItems, p + 16, 2);
        p += 26;
    } else {
        memcpy(&dwStyle, p, 4);
        memcpy(&cItems, p + 8, 2);
        p += 18;
    }
    for (int i = 0; i < 3 && p != NULL; ++i) p = SkipField(p, pEnd); /* menu, class, title */
    if (p == NULL) return 0;
    if (dwStyle & DS_SETFONT) {
        WORD wPoints = 0;
        if (p + 2 > pEnd) return 0;
        memcpy(&wPoints, p, 2);
        p += 2;
        if (wPoints != 0x7FFF) {
            if (fEx) p += 4; /* weight, italic, character set */
            if (p > pEnd || (p = SkipField(p, pEnd)) == NULL) return 0;
        }
    }
    t->cControls = 0;
    for (WORD i = 0; i < cItems; ++i) {
        DWORD dwId = 0;
        p = AlignDword(pBase, p);
        if (fEx) {
            if (p + 24 > pEnd) return 0;
            memcpy(&dwId, p + 20, 4);
            p += 24;
        } else {
            WORD wId = 0;
            if (p + 18 > pEnd) return 0;
            memcpy(&wId, p + 16, 2);
            dwId = wId;
            p += 18;
        }
        p = SkipField(p, pEnd); /* class */
        if (p != NULL) p = SkipField(p, pEnd); /* title */
        if (p == NULL || p + 2 > pEnd) return 0;
        WORD cbExtra = 0;
        memcpy(&cbExtra, p, 2);
        p += 2 + cbExtra;
        const int fStatic = dwId == 0xFFFF || dwId == 0xFFFFFFFFUL;
        if (!fStatic && t->cControls < (int)(sizeof t->adwControls / sizeof t->adwControls[0]))
            t->adwControls[t->cControls++] = dwId;
    }
    return 1;
}

static BOOL CALLBACK AddTemplate(HMODULE hModule, LPCSTR pszType, LPSTR pszName, LONG_PTR lParam) {
    (void)pszType;
    (void)lParam;
    if (!IS_INTRESOURCE(pszName)) return TRUE;
    HRSRC hInfo = FindResourceA(hModule, pszName, (LPCSTR)RT_DIALOG);
    HGLOBAL hData = hInfo != NULL ? LoadResource(hModule, hInfo) : NULL;
    const BYTE* pData = hData != NULL ? (const BYTE*)LockResource(hData) : NULL;
    if (pData == NULL) return TRUE;
    g_pTemplates = (Template*)HostGrow(g_pTemplates, (g_cTemplates + 1) * sizeof *g_pTemplates);
    Template* t = &g_pTemplates[g_cTemplates];
    t->nId = (int)(ULONG_PTR)pszName;
    if (ParseTemplate(pData, SizeofResource(hModule, hInfo), t)) ++g_cTemplates;
    return TRUE;
}

/* The template the dialog is made from: the one with the most addressed controls, all present. */
static int DialogTemplateId(HWND hDlg) {
    int nBest = 0, cBest = -1;
    for (int i = 0; i < g_cTemplates; ++i) {
        const Template* t = &g_pTemplates[i];
        int fAll = 1;
        for (int c = 0; c < t->cControls && fAll; ++c) fAll = GetDlgItem(hDlg, (int)t->adwControls[c]) != NULL;
        if (fAll && t->cControls > cBest) {
            nBest = t->nId;
            cBest = t->cControls;
        }
    }
    return nBest;
}

/* ---------------------------------------------------------------------------------------------
 * The windows being watched
 */

typedef enum WindowKind { WINDOW_OTHER, WINDOW_MESSAGE_BOX, WINDOW_DIALOG } WindowKind;

typedef struct Watched {
    HWND hWnd;
    WindowKind kind;
    int fPresent;                    /* seen in this look */
    unsigned long long msShown, msAttention;
    /* The answer on its way. */
    int fPending;
    unsigned long long msDue;
    int nRule;                       /* rule index: a script rule's, DEFAULT_RULE(i), FIRST_BUTTON */
    /* Message boxes. */
    char szCaption[512];
    char szText[TEXT_MAX];
    size_t cbText;
    int anButtons[9], anButtonControls[9], cButtons;
    UINT uFlags;                     /* the flags the box shows: buttons, icon, default, topmost */
    /* Dialogs. */
    int nDialog;
    DWORD dwTexts;                   /* hash of its texts, to notice a change */
    /* A dialog rule's actions being carried out. */
    int fActing;
    int nActRule, iNextAction;
    int fAwaiting;                   /* an action handed over, its handling not yet over */
    ULONG_PTR uToken;                /* the handed-over action's, for its callback */
    unsigned long long msNextAction;
    int fChanged;                    /* its texts changed meanwhile */
} Watched;

static Watched g_aWatched[MAX_WATCHED];
static int g_cWatched;

/* Buttons as the message box offers them, in the order of its flags' combination. */
static void ReadButtons(Watched* w) {
    static const int kOrder[] = {IDOK, IDYES, IDNO, IDABORT, IDRETRY, IDIGNORE, IDCANCEL, ID_TRYAGAIN, ID_CONTINUE};
    w->cButtons = 0;
    for (size_t i = 0; i < sizeof kOrder / sizeof kOrder[0]; ++i) {
        HWND hButton = GetDlgItem(w->hWnd, kOrder[i]);
        if (hButton != NULL && IsWindowVisible(hButton)) {
            w->anButtons[w->cButtons] = kOrder[i];
            w->anButtonControls[w->cButtons++] = kOrder[i];
        }
    }
    /* An OK box whose one button carries the id of Cancel (as some Windows versions make it)
     * still answers OK. */
    if (w->cButtons == 1 && w->anButtons[0] == IDCANCEL) w->anButtons[0] = IDOK;
}

/* The MessageBox flags a box shows, read back from the box itself so that they can be compared
 * with the flags the simulated world records: the button set (MB_OK .. MB_RETRYCANCEL), the icon
 * (the shared system icon in its icon control), the default button (MB_DEFBUTTON1..3, the box's
 * default id) and MB_SYSTEMMODAL (a system-modal box is topmost). Flags that leave no mark on the
 * window (MB_SETFOREGROUND, MB_TASKMODAL) read as 0. */
static UINT VisibleFlags(const Watched* w) {
    static const struct { UINT uType; int anIds[3]; } kTypes[] = {
        {MB_OK, {IDOK, 0, 0}},         {MB_OKCANCEL, {IDOK, IDCANCEL, 0}},
        {MB_ABORTRETRYIGNORE, {IDABORT, IDRETRY, IDIGNORE}}, {MB_YESNOCANCEL, {IDYES, IDNO, IDCANCEL}},
        {MB_YESNO, {IDYES, IDNO, 0}},  {MB_RETRYCANCEL, {IDRETRY, IDCANCEL, 0}},
    };
    static const struct { UINT uIcon; LPCSTR pszId; } kIcons[] = {
        {MB_ICONHAND, IDI_HAND}, {MB_ICONQUESTION, IDI_QUESTION},
        {MB_ICONEXCLAMATION, IDI_EXCLAMATION}, {MB_ICONASTERISK, IDI_ASTERISK},
    };
    UINT uFlags = 0;
    int iType = -1;
    for (int t = 0; t < (int)(sizeof kTypes / sizeof kTypes[0]) && iType < 0; ++t) {
        int c = 0;
        while (c < 3 && kTypes[t].anIds[c] != 0) ++c;
        if (c != w->cButtons) continue;
        int fSame = 1;
        for (int b = 0; b < c; ++b) fSame &= kTypes[t].anIds[b] == w->anButtons[b] || (c == 1 && w->anButtons[b] == IDOK);
        if (fSame) iType = t;
    }
    if (iType >= 0) uFlags |= kTypes[iType].uType;
    HWND hIcon = GetDlgItem(w->hWnd, MSGBOX_ICON_ID);
    if (hIcon != NULL && IsWindowVisible(hIcon)) {
        const HICON hShown = (HICON)SendMessageA(hIcon, STM_GETICON, 0, 0);
        for (size_t i = 0; i < sizeof kIcons / sizeof kIcons[0]; ++i)
            if (hShown != NULL && hShown == LoadIconA(NULL, kIcons[i].pszId)) uFlags |= kIcons[i].uIcon;
    }
    const LRESULT lDefault = SendMessageA(w->hWnd, DM_GETDEFID, 0, 0);
    if (iType >= 0 && HIWORD(lDefault) == DC_HASDEFID) {
        for (int b = 1; b < 3; ++b)
            if (kTypes[iType].anIds[b] != 0 && kTypes[iType].anIds[b] == (int)LOWORD(lDefault)) uFlags |= (UINT)b << 8;
    }
    if (GetWindowLongA(w->hWnd, GWL_EXSTYLE) & WS_EX_TOPMOST) uFlags |= MB_SYSTEMMODAL;
    return uFlags;
}

static DWORD HashBytes(DWORD h, const void* p, size_t cb) {
    const BYTE* b = (const BYTE*)p;
    for (size_t i = 0; i < cb; ++i) h = (h ^ b[i]) * 16777619UL;
    return h;
}

/* A hash of the dialog's caption, its controls' texts and its lists' choices. *pfRead is 0 when
 * the dialog did not answer in time (the hash then says nothing). */
static DWORD DialogTexts(HWND hDlg, int* pfRead) {
    char szText[TEXT_MAX];
    DWORD h = 2166136261UL;
    size_t cb = WindowText(hDlg, szText, sizeof szText);
    h = HashBytes(h, szText, cb + 1);
    *pfRead = 1;
    for (HWND hChild = GetWindow(hDlg, GW_CHILD); hChild != NULL; hChild = GetWindow(hChild, GW_HWNDNEXT)) {
        cb = WindowText(hChild, szText, sizeof szText);
        h = HashBytes(h, szText, cb + 1);
        char szClass[32];
        GetClassNameA(hChild, szClass, sizeof szClass);
        const UINT uGetSelection = lstrcmpiA(szClass, "ComboBox") == 0  ? CB_GETCURSEL
                                   : lstrcmpiA(szClass, "ListBox") == 0 ? LB_GETCURSEL
                                                                        : 0;
        if (uGetSelection != 0) {
            int fAnswered = 0;
            const LRESULT lSelection = SendWithin(hChild, uGetSelection, 0, 0, LOOK_TIMEOUT_MS, &fAnswered);
            if (!fAnswered) *pfRead = 0;
            h = HashBytes(h, &lSelection, sizeof lSelection);
        }
    }
    return h;
}

/* Describes the window for a report. */
static void Describe(const Watched* w, char* pszOut, size_t cchOut) {
    char szCaption[4 * sizeof w->szCaption], szText[4 * TEXT_MAX + 1];
    if (w->kind == WINDOW_MESSAGE_BOX) {
        snprintf(pszOut, cchOut, "message box caption=\"%s\" text=\"%s\"",
                 EscapeText(w->szCaption, strlen(w->szCaption), szCaption), EscapeText(w->szText, w->cbText, szText));
    } else {
        char szRaw[sizeof w->szCaption];
        const size_t cb = WindowText(w->hWnd, szRaw, sizeof szRaw);
        snprintf(pszOut, cchOut, "dialog %d caption=\"%s\"", w->nDialog, EscapeText(szRaw, cb, szCaption));
    }
}

/* Is the window a message box or a dialog of the module? Fills in what the operator reads. */
static void Classify(Watched* w) {
    w->kind = WINDOW_OTHER;
    if ((HMODULE)GetWindowLongPtrA(w->hWnd, GWLP_HINSTANCE) == g_hRovane) {
        w->nDialog = DialogTemplateId(w->hWnd);
        if (w->nDialog != 0) w->kind = WINDOW_DIALOG;
        return;
    }
    HWND hText = GetDlgItem(w->hWnd, MSGBOX_TEXT_ID);
    if (hText == NULL) hText = GetDlgItem(w->hWnd, MSGBOX_TEXT_ID_OLD);
    ReadButtons(w);
    if (hText == NULL || w->cButtons == 0) {
        /* Not a message box: a dialog of the module made with another instance handle? */
        w->nDialog = DialogTemplateId(w->hWnd);
        if (w->nDialog != 0) w->kind = WINDOW_DIALOG;
        return;
    }
    w->kind = WINDOW_MESSAGE_BOX;
    w->uFlags = VisibleFlags(w);
    WindowText(w->hWnd, w->szCaption, sizeof w->szCaption);
    w->cbText = WindowText(hText, w->szText, sizeof w->szText);
}

/* ---------------------------------------------------------------------------------------------
 * Choosing an answer
 */

static int Contains(const char* pText, size_t cbText, const Text* pattern) {
    if (pattern->cb > cbText) return 0;
    for (size_t i = 0; i + pattern->cb <= cbText; ++i)
        if (memcmp(pText + i, pattern->p, pattern->cb) == 0) return 1;
    return 0;
}

static void Schedule(Watched* w, int nRule) {
    w->fPending = 1;
    w->nRule = nRule;
    w->msDue = HostMs() + THINK_MS;
}

/* One of the dialog's texts (its caption, its controls') contains the pattern. */
static int DialogContains(HWND hDlg, const Text* pattern) {
    char szText[TEXT_MAX];
    if (pattern->cb == 0) return 1;
    size_t cb = WindowText(hDlg, szText, sizeof szText);
    if (Contains(szText, cb, pattern)) return 1;
    for (HWND hChild = GetWindow(hDlg, GW_CHILD); hChild != NULL; hChild = GetWindow(hChild, GW_HWNDNEXT)) {
        cb = WindowText(hChild, szText, sizeof szText);
        if (Contains(szText, cb, pattern)) return 1;
    }
    return 0;
}

/* The uses left of a rule (NULL for the first-button answer); under g_csState. */
static int* UsesLeft(const Watched* w, int nRule) {
    if (nRule == FIRST_BUTTON) return NULL;
    if (w->kind == WINDOW_MESSAGE_BOX)
        return IS_DEFAULT_RULE(nRule) ? &g_aDefaultAnswers[DEFAULT_INDEX(nRule)].nUsesLeft : &g_pAnswers[nRule].nUsesLeft;
    return IS_DEFAULT_RULE(nRule) ? &g_aDefaultDialogs[DEFAULT_INDEX(nRule)].nUsesLeft : &g_pDialogRules[nRule].nUsesLeft;
}

static const DialogRule* DialogRuleOf(int nRule) {
    return IS_DEFAULT_RULE(nRule) ? &g_aDefaultDialogs[DEFAULT_INDEX(nRule)] : &g_pDialogRules[nRule];
}

static int DialogRuleFits(const DialogRule* r, const Watched* w) {
    return r->nUsesLeft != 0 && r->nDialog == w->nDialog && DialogContains(w->hWnd, &r->pattern);
}

/* A default rule answers only the boxes that offer its button (a "No response" notice with only
 * OK is not the Retry/Cancel question of the same text). */
static int Offers(const Watched* w, int nButton) {
    for (int i = 0; i < w->cButtons; ++i)
        if (w->anButtons[i] == nButton) return 1;
    return 0;
}

/* Looks at a window without an answer on its way: the script's rules, then the default ones,
 * then (a message box) its first button; a default rule that leaves it to a person: nothing. */
static void Examine(Watched* w) {
    EnterCriticalSection(&g_csState);
    int nRule = -2;
    if (w->kind == WINDOW_MESSAGE_BOX) {
        for (int i = 0; i < g_cAnswers && nRule == -2; ++i)
            if (g_pAnswers[i].nUsesLeft != 0 && Contains(w->szText, w->cbText, &g_pAnswers[i].pattern)) nRule = i;
        for (int i = 0; i < DEFAULT_ANSWERS && nRule == -2; ++i) {
            const DefaultAnswer* d = &g_aDefaultAnswers[i];
            Text pattern;
            pattern.p = (char*)d->pszPattern;
            pattern.cb = strlen(d->pszPattern);
            if (d->nUsesLeft != 0 && (!d->fLaminatorOnly || g_fLaminator) && Contains(w->szText, w->cbText, &pattern) &&
                (d->nButton == 0 || Offers(w, d->nButton)))
                nRule = DEFAULT_RULE(i);
        }
        if (nRule == -2 && w->cButtons > 0) nRule = FIRST_BUTTON;
        if (IS_DEFAULT_RULE(nRule) && g_aDefaultAnswers[DEFAULT_INDEX(nRule)].nButton == 0) nRule = -2; /* a person's */
    } else if (w->kind == WINDOW_DIALOG) {
        for (int i = 0; i < g_cDialogRules && nRule == -2; ++i)
            if (DialogRuleFits(&g_pDialogRules[i], w)) nRule = i;
        for (int i = 0; i < DEFAULT_DIALOGS && nRule == -2; ++i)
            if (DialogRuleFits(&g_aDefaultDialogs[i], w)) nRule = DEFAULT_RULE(i);
    }
    if (nRule != -2) {
        int* pUses = UsesLeft(w, nRule);
        if (pUses != NULL && *pUses > 0) --*pUses;
        Schedule(w, nRule);
    }
    LeaveCriticalSection(&g_csState);
}

/* The window went before its answer: the rule is there for the next one. */
static void CallOff(Watched* w) {
    if (!w->fPending) return;
    EnterCriticalSection(&g_csState);
    int* pUses = UsesLeft(w, w->nRule);
    if (pUses != NULL && *pUses >= 0) ++*pUses;
    LeaveCriticalSection(&g_csState);
}

/* ---------------------------------------------------------------------------------------------
 * Answering
 */

static void AnswerMessageBox(Watched* w) {
    int nButton = w->cButtons > 0 ? w->anButtons[0] : IDOK;
    EnterCriticalSection(&g_csState);
    if (IS_DEFAULT_RULE(w->nRule))
        nButton = g_aDefaultAnswers[DEFAULT_INDEX(w->nRule)].nButton;
    else if (w->nRule >= 0)
        nButton = g_pAnswers[w->nRule].nButton;
    LeaveCriticalSection(&g_csState);
    char szName[16], szOffered[128] = "", szWhat[3 * TEXT_MAX];
    int nControl = 0;
    for (int i = 0; i < w->cButtons; ++i) {
        if (w->anButtons[i] == nButton) nControl = w->anButtonControls[i];
        if (i > 0) strcat(szOffered, ", ");
        strcat(szOffered, ButtonName(w->anButtons[i], szName));
    }
    if (nControl == 0) {
        Describe(w, szWhat, sizeof szWhat);
        Fail("the rule answers %s to the %s, which offers %s", ButtonName(nButton, szName), szWhat, szOffered);
    }
    AddEvent("msgbox answered %s", ButtonName(nButton, szName));
    PostMessageA(w->hWnd, WM_COMMAND, MAKEWPARAM(nControl, BN_CLICKED), (LPARAM)GetDlgItem(w->hWnd, nControl));
}

/* The action whose message was handed over last; its callback says when the dialog's procedure
 * has returned from it. Callbacks come on the operator's thread, as it looks at its messages. */
static ULONG_PTR g_uLastToken;

static VOID CALLBACK ActionHandled(HWND hWnd, UINT uMsg, ULONG_PTR uToken, LRESULT lResult) {
    (void)hWnd;
    (void)uMsg;
    (void)lResult;
    for (int i = 0; i < g_cWatched; ++i) {
        Watched* w = &g_aWatched[i];
        if (w->fAwaiting && w->uToken == uToken) {
            w->fAwaiting = 0;
            w->msNextAction = HostMs() + ACTION_GAP_MS;
        }
    }
}

/* Hands a message of an action to the dialog: 1 when its callback is to come. */
static int HandOver(Watched* w, UINT uMsg, WPARAM wParam, LPARAM lParam) {
    const ULONG_PTR uToken = ++g_uLastToken;
    if (!SendMessageCallbackA(w->hWnd, uMsg, wParam, lParam, ActionHandled, uToken)) return 0;
    w->uToken = uToken;
    return 1;
}

/* A button's click as the user's: check boxes and radio buttons change their check (the auto
 * kinds do that themselves when clicked), then the dialog hears BN_CLICKED. 1 when the click's
 * callback is to come. */
static int ClickButton(Watched* w, HWND hButton, int nControl) {
    const LONG lType = GetWindowLongA(hButton, GWL_STYLE) & BS_TYPEMASK;
    if (lType == BS_AUTOCHECKBOX || lType == BS_AUTO3STATE || lType == BS_AUTORADIOBUTTON) {
        const LRESULT lCheck = SendWithin(hButton, BM_GETCHECK, 0, 0, MESSAGE_TIMEOUT_MS, NULL);
        WPARAM wNext = BST_CHECKED;
        if (lType == BS_AUTOCHECKBOX) wNext = lCheck == BST_CHECKED ? BST_UNCHECKED : BST_CHECKED;
        if (lType == BS_AUTO3STATE)
            wNext = lCheck == BST_UNCHECKED ? BST_CHECKED : lCheck == BST_CHECKED ? BST_INDETERMINATE : BST_UNCHECKED;
        SendWithin(hButton, BM_SETCHECK, wNext, 0, MESSAGE_TIMEOUT_MS, NULL);
    }
    return HandOver(w, WM_COMMAND, MAKEWPARAM(nControl, BN_CLICKED), (LPARAM)hButton);
}

/* Finds the item whose text is exactly pszItem (CB_/LB_FINDSTRINGEXACT ignores case). */
static LRESULT FindItem(HWND hList, int fCombo, const char* pszItem) {
    const UINT uFind = fCombo ? CB_FINDSTRINGEXACT : LB_FINDSTRINGEXACT;
    const UINT uLength = fCombo ? CB_GETLBTEXTLEN : LB_GETTEXTLEN;
    const UINT uText = fCombo ? CB_GETLBTEXT : LB_GETTEXT;
    LRESULT lFirst = -1, lFrom = -1;
    for (;;) {
        int fAnswered = 0;
        const LRESULT lAt = SendWithin(hList, uFind, (WPARAM)lFrom, (LPARAM)pszItem, MESSAGE_TIMEOUT_MS, &fAnswered);
        if (!fAnswered || lAt < 0 || lAt == lFirst) return -1;
        if (lFirst < 0) lFirst = lAt;
        const LRESULT lLength = SendWithin(hList, uLength, (WPARAM)lAt, 0, MESSAGE_TIMEOUT_MS, NULL);
        if (lLength >= 0 && lLength < TEXT_MAX) {
            char szText[TEXT_MAX];
            szText[0] = '\0';
            SendWithin(hList, uText, (WPARAM)lAt, (LPARAM)szText, MESSAGE_TIMEOUT_MS, NULL);
            szText[lLength] = '\0';
            if (strcmp(szText, pszItem) == 0) return lAt;
        }
        lFrom = lAt;
    }
}

/* One action on the dialog; what cannot be done ends the program, as the simulated operator
 * stops the world. 1 when a message of the action was handed over and its callback is to come;
 * 0 when there was nothing to do. */
static int PerformAction(Watched* w, const HsAction* a) {
    HWND hDlg = w->hWnd;
    char szWhat[512];
    if (!IsWindow(hDlg) || !IsWindowVisible(hDlg) || !IsWindowEnabled(hDlg)) return 0; /* gone or busy */
    if (a->kind == HS_CLOSE) return HandOver(w, WM_CLOSE, 0, 0);
    HWND hControl = GetDlgItem(hDlg, a->control);
    if (hControl == NULL) {
        Describe(w, szWhat, sizeof szWhat);
        Fail("the %s has no control %d", szWhat, a->control);
    }
    if (!IsWindowVisible(hControl) || !IsWindowEnabled(hControl)) return 0; /* as the user: nothing to do */
    char szClass[32];
    GetClassNameA(hControl, szClass, sizeof szClass);
    const int fButton = lstrcmpiA(szClass, "Button") == 0;
    const LONG lType = fButton ? GetWindowLongA(hControl, GWL_STYLE) & BS_TYPEMASK : -1;
    const int fCheckable = lType == BS_CHECKBOX || lType == BS_AUTOCHECKBOX || lType == BS_3STATE ||
                           lType == BS_AUTO3STATE || lType == BS_RADIOBUTTON || lType == BS_AUTORADIOBUTTON;
    switch (a->kind) {
        case HS_CLICK:
            return fButton ? ClickButton(w, hControl, a->control) : 0;
        case HS_CHECK:
        case HS_UNCHECK: {
            if (!fCheckable) {
                Describe(w, szWhat, sizeof szWhat);
                Fail("the %s: control %d is a %s, not a check box", szWhat, a->control, szClass);
            }
            const LRESULT lWant = a->kind == HS_CHECK ? BST_CHECKED : BST_UNCHECKED;
            if (SendWithin(hControl, BM_GETCHECK, 0, 0, MESSAGE_TIMEOUT_MS, NULL) == lWant) return 0;
            const int fRadio = lType == BS_RADIOBUTTON || lType == BS_AUTORADIOBUTTON;
            if (fRadio && a->kind == HS_UNCHECK) return 0; /* cleared by choosing another */
            return ClickButton(w, hControl, a->control);
        }
        case HS_SELECT: {
            const int fCombo = lstrcmpiA(szClass, "ComboBox") == 0;
            if (!fCombo && lstrcmpiA(szClass, "ListBox") != 0) {
                Describe(w, szWhat, sizeof szWhat);
                Fail("the %s: control %d is a %s, not a list", szWhat, a->control, szClass);
            }
            const LRESULT lItem = FindItem(hControl, fCombo, a->item.p);
            if (lItem < 0) {
                char szItem[4 * TEXT_MAX + 1];
                Describe(w, szWhat, sizeof szWhat);
                Fail("the %s: list %d holds no item \"%s\"", szWhat, a->control,
                     EscapeText(a->item.p, strlen(a->item.p) < TEXT_MAX ? strlen(a->item.p) : TEXT_MAX, szItem));
            }
            SendWithin(hControl, fCombo ? CB_SETCURSEL : LB_SETCURSEL, (WPARAM)lItem, 0, MESSAGE_TIMEOUT_MS, NULL);
            return HandOver(w, WM_COMMAND, MAKEWPARAM(a->control, fCombo ? CBN_SELCHANGE : LBN_SELCHANGE),
                            (LPARAM)hControl);
        }
        case HS_CLOSE:
            return 0;
    }
    return 0;
}

/* The next action of the rule being carried out, once the dialog has dealt with the one before;
 * after the last one, a dialog that changed meanwhile is looked at again. */
static void NextAction(Watched* w) {
    EnterCriticalSection(&g_csState);
    const DialogRule rule = *DialogRuleOf(w->nActRule);
    LeaveCriticalSection(&g_csState);
    while (w->iNextAction < rule.cActions) {
        if (PerformAction(w, &rule.pActions[w->iNextAction++])) {
            w->fAwaiting = 1;
            return;
        }
        if (w->iNextAction < rule.cActions) { /* nothing was done: the next one after the gap */
            w->msNextAction = HostMs() + ACTION_GAP_MS;
            return;
        }
    }
    w->fActing = 0;
    if (w->fChanged) {
        w->fChanged = 0;
        if (!w->fPending) Examine(w);
    }
}

static void AnswerDialog(Watched* w) {
    w->fActing = 1;
    w->nActRule = w->nRule;
    w->iNextAction = 0;
    w->fAwaiting = 0;
    w->fChanged = 0;
    NextAction(w);
}

/* ---------------------------------------------------------------------------------------------
 * The look every 50 ms
 */

typedef struct Found {
    HWND ahWnd[MAX_WATCHED];
    int c;
} Found;

static BOOL CALLBACK CollectWindow(HWND hWnd, LPARAM lParam) {
    Found* f = (Found*)lParam;
    DWORD dwProcess = 0;
    char szClass[16];
    GetWindowThreadProcessId(hWnd, &dwProcess);
    if (dwProcess != GetCurrentProcessId() || !IsWindowVisible(hWnd)) return TRUE;
    if (!GetClassNameA(hWnd, szClass, sizeof szClass) || strcmp(szClass, "#32770") != 0) return TRUE;
    if (f->c < MAX_WATCHED) f->ahWnd[f->c++] = hWnd;
    return TRUE;
}

/* A dialog of the module that its procedure ended while it was being set up (EndDialog during
 * WM_INITDIALOG, as the unit search does when it finds one unit or none) is, on Windows, "destroyed
 * before it is shown" (EndDialog's documentation), and the simulated world does not show it.
 * Wine 8 differs: a template with WS_VISIBLE is made visible for a moment after WM_INITDIALOG
 * returns, and destroyed at once (seen by a probe polling every millisecond, in every run). Such a
 * window is gone within a few milliseconds; one of the module's dialogs that is still there 30 ms
 * after it was first seen was shown for real. */
#define ENDED_DIALOG_GRACE_MS 30
static int EndedBeforeShown(HWND hDlg) {
    Sleep(ENDED_DIALOG_GRACE_MS);
    return !IsWindow(hDlg) || !IsWindowVisible(hDlg);
}

static void Look(void) {
    Found found;
    found.c = 0;
    EnumWindows(CollectWindow, (LPARAM)&found);
    const unsigned long long msNow = HostMs();

    /* Windows that went; windows that came. */
    for (int i = 0; i < g_cWatched; ++i) g_aWatched[i].fPresent = 0;
    for (int f = 0; f < found.c; ++f) {
        int i = 0;
        while (i < g_cWatched && g_aWatched[i].hWnd != found.ahWnd[f]) ++i;
        if (i < g_cWatched) {
            g_aWatched[i].fPresent = 1;
            continue;
        }
        if (g_cWatched == MAX_WATCHED) continue;
        Watched* w = &g_aWatched[g_cWatched++];
        memset(w, 0, sizeof *w);
        w->hWnd = found.ahWnd[f];
        w->fPresent = 1;
        w->msShown = w->msAttention = msNow;
        Classify(w);
        if (w->kind == WINDOW_DIALOG && EndedBeforeShown(w->hWnd)) {
            --g_cWatched;
            continue;
        }
        char szCaption[4 * sizeof w->szCaption], szText[4 * TEXT_MAX + 1];
        if (w->kind == WINDOW_MESSAGE_BOX) {
            char szButtons[128] = "", szName[16];
            for (int b = 0; b < w->cButtons; ++b) {
                if (b > 0) strcat(szButtons, "|");
                strcat(szButtons, ButtonName(w->anButtons[b], szName));
            }
            AddEvent("msgbox shown caption=\"%s\" flags=0x%x buttons=%s text=\"%s\"",
                     EscapeText(w->szCaption, strlen(w->szCaption), szCaption), w->uFlags, szButtons,
                     EscapeText(w->szText, w->cbText, szText));
            Examine(w);
        } else if (w->kind == WINDOW_DIALOG) {
            char szRaw[sizeof w->szCaption];
            const size_t cb = WindowText(w->hWnd, szRaw, sizeof szRaw);
            int fRead = 0;
            w->dwTexts = DialogTexts(w->hWnd, &fRead);
            AddEvent("dialog %d shown caption=\"%s\"%s", w->nDialog, EscapeText(szRaw, cb, szCaption),
                     IsIconic(w->hWnd) ? " minimised" : "");
            Examine(w);
        }
    }
    for (int i = 0; i < g_cWatched;) {
        if (g_aWatched[i].fPresent) {
            ++i;
            continue;
        }
        CallOff(&g_aWatched[i]);
        g_aWatched[i] = g_aWatched[--g_cWatched];
    }

    /* Answers that are due; changed dialogs; windows nobody answers. */
    for (int i = 0; i < g_cWatched; ++i) {
        Watched* w = &g_aWatched[i];
        if (w->kind == WINDOW_OTHER) continue;
        if (w->fPending && !w->fActing && HostMs() >= w->msDue) {
            w->fPending = 0;
            w->msAttention = HostMs();
            if (w->kind == WINDOW_MESSAGE_BOX)
                AnswerMessageBox(w);
            else
                AnswerDialog(w);
            continue;
        }
        if (w->fActing && !w->fAwaiting && HostMs() >= w->msNextAction) NextAction(w);
        if (w->kind == WINDOW_DIALOG) {
            int fRead = 0;
            const DWORD dwTexts = DialogTexts(w->hWnd, &fRead);
            if (fRead && dwTexts != w->dwTexts) {
                w->dwTexts = dwTexts;
                if (w->fActing)
                    w->fChanged = 1; /* looked at once the hands are off it */
                else if (!w->fPending)
                    Examine(w);
            }
        }
        if (!w->fPending && HostMs() >= w->msAttention + UNANSWERED_LIMIT_MS) {
            char szWhat[3 * TEXT_MAX];
            Describe(w, szWhat, sizeof szWhat);
            if (w->msAttention != w->msShown)
                Fail("nobody answered the %s, shown at %llu ms, last answered at %llu ms, still open at %llu ms",
                     szWhat, w->msShown, w->msAttention, HostMs());
            Fail("nobody answered the %s, shown at %llu ms, still open at %llu ms", szWhat, w->msShown, HostMs());
        }
    }
}

static DWORD WINAPI OperatorThread(LPVOID lpParameter) {
    (void)lpParameter;
    for (;;) {
        Sleep(POLL_MS);
        MSG msg;
        while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE)) DispatchMessageA(&msg); /* the actions' callbacks */
        Look();
    }
    return 0;
}

int AutomationStart(void) {
    InitializeCriticalSection(&g_csState);
    /* A laminator that does not answer is tried again only where there is one. */
    HANDLE hLaminator = NULL;
    if (OpenPrinterA((LPSTR) "Disc Laminator", &hLaminator, NULL)) {
        g_fLaminator = 1;
        ClosePrinter(hLaminator);
    }
    EnumResourceNamesA(g_hRovane, (LPCSTR)RT_DIALOG, AddTemplate, 0);
    HANDLE hThread = CreateThread(NULL, 0, OperatorThread, NULL, 0, NULL);
    if (hThread == NULL) return 0;
    CloseHandle(hThread);
    return 1;
}
