/*
 * The host script: the small language of export calls that `rovane-sim host` runs in the
 * simulated world and the Windows host program (tools/windows-host, rovane-host.exe) runs against
 * the real DLL. One reader, one set of messages and one help text for both, in plain C without
 * Win32 or the world.
 *
 * A script is read whole and checked before anything runs; the first bad line stops it with
 * "PATH:LINE: what is wrong". What each line means is in hs_language_help().
 */
#ifndef ROVANE_HOST_SCRIPT_H
#define ROVANE_HOST_SCRIPT_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef enum HsCall {
    HS_ANSWER,
    HS_DIALOG,
    HS_INIT,
    HS_END,
    HS_STATUS,
    HS_OPTIONS,
    HS_MOVEMENTS,
    HS_SERVICES,
    HS_JOB,
    HS_MOVE,
    HS_WAIT,
    HS_SLEEP,
    HS_PRINTFILE,
    HS_VALIDPRINT,
    HS_MOVEPRINT,
    HS_CHECKPRINTING,
    HS_CHECKACCUMULATOR
} HsCall;

/* Bytes of a word: NUL-terminated beyond its length, and may hold NULs (from "\0"). */
typedef struct HsText {
    char* p;
    size_t cb;
} HsText;

/* The answers of an "answer" line. The message box buttons have the values of IDOK ... IDNO. */
typedef enum HsButton {
    HS_OK = 1,
    HS_CANCEL = 2,
    HS_ABORT = 3,
    HS_RETRY = 4,
    HS_IGNORE = 5,
    HS_YES = 6,
    HS_NO = 7,
    HS_ABORTJOB = 101, /* the robot's status message: its ABORT Job button */
    HS_PAUSEPICK,      /* ... the robot's Pause and Pick buttons together; the message closes itself */
    HS_REFILL          /* ... 25 discs into the input bin the arm is at, then Pick */
} HsButton;

typedef enum HsActionKind { HS_CLICK, HS_CHECK, HS_UNCHECK, HS_SELECT, HS_CLOSE } HsActionKind;

typedef struct HsAction {
    HsActionKind kind;
    int control;
    HsText item; /* HS_SELECT: the item's text */
} HsAction;

/* One call of the script, its arguments checked and converted. */
typedef struct HsStep {
    int line;
    HsCall call;
    /* Texts: answer PATTERN; init HOST [LIST]; printfile PATH; validprint FILE; moveprint FILE. */
    HsText text[2];
    int has_list;           /* init: a LIST was given */
    /* Numbers in the order written: dialog ID; services KIND CODE; job CODE N; move UNIT ACTION;
     * wait UNIT; sleep MS; validprint ACTION; moveprint UNIT ACTION DISCNUM. Each within the
     * range of the export's argument it is passed as. */
    long long n[3];
    const char* job_word;   /* job: "begin", "end" or "abort" (n[0] its code 1, 2, 3); NULL for a CODE */
    int button;             /* answer: an HsButton */
    int once;               /* answer: one box only */
    int print_kind;         /* printfile: a PfKind (print_file.h) */
    HsAction* actions;      /* dialog */
    int action_count;
} HsStep;

typedef struct HsScript {
    HsStep* steps;
    int count;
    int needs_list;         /* an init line without a LIST */
} HsScript;

/* Reads the script at path ("-": standard input) and checks it. 1 when it can run; 0 with the
 * reason in error (at most error_size bytes with its NUL): "PATH:LINE: what is wrong", or
 * "cannot read the script 'PATH': why" for a file that cannot be read (a folder, a read error). */
int hs_read(const char* path, HsScript* script, char* error, size_t error_size);

/* The same for a script already in memory; name stands for its path in the messages. */
int hs_parse(const char* name, const char* bytes, size_t cb, HsScript* script, char* error, size_t error_size);

void hs_free(HsScript* script);

/* A step as `--check` prints it: "LINE CALL ARGUMENTS", texts quoted and escaped as hs_escape
 * does, numbers in decimal; malloc'd, NUL-terminated (free() it). */
char* hs_describe(const HsStep* step);

/* "OK", "CANCEL" ... "REFILL". */
const char* hs_button_name(int button);

/* The bytes as the tools print texts: \r \n \t \\ and \xNN for bytes outside 0x20..0x7e; written
 * to out (at least 4 * cb + 1 bytes), which is returned. */
char* hs_escape(const char* p, size_t cb, char* out);

/* The language, for --help: every line, the quoting rule, numbers, the operator's defaults. */
const char* hs_language_help(void);

#ifdef __cplusplus
}
#endif

#endif
