/* The host script's reader (host_script.h). */
#include "host_script.h"

#include <errno.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include "print_file.h"

/* ---------------------------------------------------------------------------------------------
 * Memory, texts, messages
 */

static void* Grow(void* p, size_t cb) {
    void* q = realloc(p, cb ? cb : 1);
    if (q == NULL) {
        fputs("out of memory reading the host script\n", stderr);
        exit(1);
    }
    return q;
}

static HsText Copy(const char* p, size_t cb) {
    HsText t;
    t.p = (char*)Grow(NULL, cb + 1);
    if (cb) memcpy(t.p, p, cb);
    t.p[cb] = '\0';
    t.cb = cb;
    return t;
}

static int Is(const HsText* t, const char* psz) { return t->cb == strlen(psz) && memcmp(t->p, psz, t->cb) == 0; }

char* hs_escape(const char* p, size_t cb, char* out) {
    char* o = out;
    for (size_t i = 0; i < cb; ++i) {
        const unsigned char c = (unsigned char)p[i];
        switch (c) {
            case '\r': *o++ = '\\'; *o++ = 'r'; break;
            case '\n': *o++ = '\\'; *o++ = 'n'; break;
            case '\t': *o++ = '\\'; *o++ = 't'; break;
            case '\\': *o++ = '\\'; *o++ = '\\'; break;
            default:
                if (c >= 0x20 && c < 0x7f) {
                    *o++ = (char)c;
                } else {
                    static const char kHex[] = "0123456789abcdef";
                    *o++ = '\\', *o++ = 'x', *o++ = kHex[c >> 4], *o++ = kHex[c & 15];
                }
        }
    }
    *o = '\0';
    return out;
}

/* A word for a message: escaped, at most 60 bytes of it, in the buffer given (256 bytes). */
static const char* Shown(const char* p, size_t cb, char* out) {
    char escaped[4 * 60 + 1];
    const int fLong = cb > 60;
    hs_escape(p, fLong ? 60 : cb, escaped);
    snprintf(out, 256, "%s%s", escaped, fLong ? "..." : "");
    return out;
}

typedef struct Reader {
    const char* name;
    int line;
    char* error;
    size_t error_size;
} Reader;

/* Sets the message "NAME:LINE: ..." and returns 0. */
static int Fail(Reader* r, const char* format, ...) {
    char text[768];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof text, format, args);
    va_end(args);
    if (r->error_size) snprintf(r->error, r->error_size, "%s:%d: %s", r->name, r->line, text);
    return 0;
}

/* ---------------------------------------------------------------------------------------------
 * Words
 */

typedef struct Word {
    HsText text;
    int ends_step; /* the word ended in a ";" written outside double quotes (taken off the text) */
} Word;

typedef struct Words {
    Word* a;
    int count;
} Words;

static void FreeWords(Words* w) {
    for (int i = 0; i < w->count; ++i) free(w->a[i].text.p);
    free(w->a);
    w->a = NULL;
    w->count = 0;
}

/* A line into words: blanks (space, tab) separate them; a bare word is taken as written,
 * backslashes included; double quotes group, and inside them \r \n \t \0 \" \\ are escapes.
 * Parts of one word may be bare or quoted: "Pellan IV on LPT1:"; is one word, ending in a ";". */
static int SplitWords(Reader* r, const char* line, size_t cb, Words* out) {
    char* word = (char*)Grow(NULL, cb + 1);
    size_t cb_word = 0;
    int in_word = 0, quoted = 0, last_bare_semicolon = 0;
    char shown[256];
    out->a = NULL;
    out->count = 0;
    for (size_t i = 0; i <= cb; ++i) {
        const int at_end = i == cb;
        const unsigned char c = at_end ? ' ' : (unsigned char)line[i];
        if (!at_end && c < 0x20 && c != '\t') {
            free(word);
            FreeWords(out);
            return Fail(r, "a control character (byte 0x%02x) in column %d: write it as an escape (\\r \\n \\t \\0) "
                           "inside double quotes", c, (int)i + 1);
        }
        if (!at_end && quoted) {
            if (c == '"') {
                quoted = 0;
            } else if (c == '\\') {
                const char e = i + 1 < cb ? line[i + 1] : '\0';
                const char* known = strchr("rnt0\"\\", e);
                if (i + 1 >= cb || known == NULL) {
                    free(word);
                    FreeWords(out);
                    if (i + 1 >= cb) return Fail(r, "a quote is not closed");
                    return Fail(r, "unknown escape '\\%s' inside double quotes (known: \\r \\n \\t \\0 \\\" \\\\; "
                                   "outside quotes a backslash is an ordinary character)", Shown(&e, 1, shown));
                }
                ++i;
                word[cb_word++] = e == 'r' ? '\r' : e == 'n' ? '\n' : e == 't' ? '\t' : e == '0' ? '\0' : e;
            } else {
                word[cb_word++] = (char)c;
            }
            last_bare_semicolon = 0;
            continue;
        }
        if (at_end && quoted) {
            free(word);
            FreeWords(out);
            return Fail(r, "a quote is not closed");
        }
        if (c == ' ' || c == '\t') {
            if (in_word) {
                out->a = (Word*)Grow(out->a, (size_t)(out->count + 1) * sizeof *out->a);
                Word* w = &out->a[out->count++];
                w->ends_step = last_bare_semicolon;
                w->text = Copy(word, cb_word - (last_bare_semicolon ? 1 : 0));
            }
            cb_word = 0;
            in_word = 0;
            last_bare_semicolon = 0;
        } else if (c == '"') {
            quoted = 1;
            in_word = 1;
            last_bare_semicolon = 0;
        } else {
            word[cb_word++] = (char)c;
            in_word = 1;
            last_bare_semicolon = c == ';';
        }
    }
    free(word);
    return 1;
}

/* The word as written, its ";" given back (for calls other than dialog, a ";" is part of it). */
static HsText Whole(const Word* w) {
    HsText t = Copy(w->text.p, w->text.cb + (w->ends_step ? 1 : 0));
    if (w->ends_step) t.p[w->text.cb] = ';';
    return t;
}

/* ---------------------------------------------------------------------------------------------
 * Numbers: decimal, an optional "-", within the argument's range
 */

#define DWORD_MAX 4294967295LL
#define LONG_LOW (-2147483647LL - 1)
#define LONG_HIGH 2147483647LL
#define DAY_MS (24LL * 3600 * 1000)

static int Number(Reader* r, const HsText* w, long long low, long long high, long long* value, const char* usage,
                  const char* arg) {
    char shown[256];
    size_t i = w->cb > 0 && w->p[0] == '-' ? 1 : 0;
    int digits = 0, too_big = 0;
    long long v = 0;
    for (; i < w->cb; ++i, ++digits) {
        const char c = w->p[i];
        if (c < '0' || c > '9') break;
        if (v > 100000000000LL) too_big = 1;
        else v = v * 10 + (c - '0');
    }
    if (digits == 0 || i < w->cb)
        return Fail(r, "%s: %s '%s' is not a decimal number", usage, arg, Shown(w->p, w->cb, shown));
    if (w->p[0] == '-') v = -v;
    if (too_big || v < low || v > high)
        return Fail(r, "%s: %s %s is out of range (%lld to %lld)", usage, arg, Shown(w->p, w->cb, shown), low, high);
    *value = v;
    return 1;
}

/* ---------------------------------------------------------------------------------------------
 * The calls
 */

static const struct {
    const char* name;
    int button;
} kButtons[] = {{"OK", HS_OK},         {"CANCEL", HS_CANCEL},     {"RETRY", HS_RETRY},   {"YES", HS_YES},
                {"NO", HS_NO},         {"ABORT", HS_ABORT},       {"IGNORE", HS_IGNORE}, {"ABORTJOB", HS_ABORTJOB},
                {"PAUSEPICK", HS_PAUSEPICK}, {"REFILL", HS_REFILL}};
#define BUTTON_NAMES "OK, CANCEL, RETRY, YES, NO, ABORT, IGNORE, ABORTJOB, PAUSEPICK, REFILL"

const char* hs_button_name(int button) {
    for (size_t i = 0; i < sizeof kButtons / sizeof kButtons[0]; ++i)
        if (kButtons[i].button == button) return kButtons[i].name;
    return "?";
}

static const struct {
    const char* name;
    HsCall call;
} kCalls[] = {{"answer", HS_ANSWER},       {"dialog", HS_DIALOG},       {"init", HS_INIT},
              {"end", HS_END},             {"status", HS_STATUS},       {"options", HS_OPTIONS},
              {"movements", HS_MOVEMENTS}, {"services", HS_SERVICES},   {"job", HS_JOB},
              {"move", HS_MOVE},           {"wait", HS_WAIT},           {"sleep", HS_SLEEP},
              {"printfile", HS_PRINTFILE}, {"validprint", HS_VALIDPRINT}, {"moveprint", HS_MOVEPRINT},
              {"checkprinting", HS_CHECKPRINTING}, {"checkaccumulator", HS_CHECKACCUMULATOR}};

static const char* CallName(HsCall call) {
    for (size_t i = 0; i < sizeof kCalls / sizeof kCalls[0]; ++i)
        if (kCalls[i].call == call) return kCalls[i].name;
    return "?";
}

static void FreeStep(HsStep* s) {
    free(s->text[0].p);
    free(s->text[1].p);
    for (int i = 0; i < s->action_count; ++i) free(s->actions[i].item.p);
    free(s->actions);
    memset(s, 0, sizeof *s);
}

#define DIALOG_USAGE "dialog takes ID ACTION[; ACTION...]"

/* The actions of a dialog line: groups of words, each ended by a ";" outside quotes. */
static int DialogActions(Reader* r, const Words* words, HsStep* s) {
    char shown[256];
    if (words->count < 3) return Fail(r, DIALOG_USAGE);
    if (!Number(r, &words->a[1].text, 1, 65535, &s->n[0], DIALOG_USAGE, "ID")) return 0;
    int first = 2;
    if (words->a[1].ends_step) return Fail(r, DIALOG_USAGE ": a ';' after the ID");
    for (int i = 2; i <= words->count; ++i) {
        const int ends = i == words->count || words->a[i].ends_step;
        if (!ends) continue;
        /* Words first..i (i itself unless past the end). */
        int last = i < words->count ? i : i - 1;
        const Word* g = &words->a[first];
        int n = last - first + 1;
        first = i + 1;
        if (n > 0 && g[n - 1].text.cb == 0 && g[n - 1].ends_step) --n; /* a ";" standing alone */
        if (n <= 0) continue;
        HsAction a;
        memset(&a, 0, sizeof a);
        long long control = 0;
        if (Is(&g[0].text, "close")) {
            if (n != 1) return Fail(r, DIALOG_USAGE ": close takes nothing");
            a.kind = HS_CLOSE;
        } else if (Is(&g[0].text, "click") || Is(&g[0].text, "check") || Is(&g[0].text, "uncheck")) {
            char usage[64];
            snprintf(usage, sizeof usage, DIALOG_USAGE ": %s takes CTRL", g[0].text.p);
            if (n != 2) return Fail(r, "%s", usage);
            if (!Number(r, &g[1].text, 0, 65535, &control, usage, "CTRL")) return 0;
            a.kind = Is(&g[0].text, "click") ? HS_CLICK : Is(&g[0].text, "check") ? HS_CHECK : HS_UNCHECK;
        } else if (Is(&g[0].text, "select")) {
            if (n < 3) return Fail(r, DIALOG_USAGE ": select takes CTRL TEXT");
            if (!Number(r, &g[1].text, 0, 65535, &control, DIALOG_USAGE ": select takes CTRL TEXT", "CTRL")) return 0;
            /* The item's words, one blank between them. */
            size_t cb = 0;
            for (int k = 2; k < n; ++k) cb += g[k].text.cb + 1;
            a.item.p = (char*)Grow(NULL, cb + 1);
            for (int k = 2; k < n; ++k) {
                if (k > 2) a.item.p[a.item.cb++] = ' ';
                if (g[k].text.cb) memcpy(a.item.p + a.item.cb, g[k].text.p, g[k].text.cb);
                a.item.cb += g[k].text.cb;
            }
            a.item.p[a.item.cb] = '\0';
            a.kind = HS_SELECT;
        } else {
            return Fail(r, "unknown dialog action '%s' (click, check, uncheck, select, close)",
                        Shown(g[0].text.p, g[0].text.cb, shown));
        }
        a.control = (int)control;
        s->actions = (HsAction*)Grow(s->actions, (size_t)(s->action_count + 1) * sizeof *s->actions);
        s->actions[s->action_count++] = a;
    }
    if (s->action_count == 0) return Fail(r, "dialog needs at least one action");
    return 1;
}

/* Checks a line's words and fills the step. */
/* The call a step's first word names; 0 after the message when it names none. */
static int FindCall(Reader* r, const Word* first, HsStep* s) {
    char shown[256];
    for (size_t i = 0; i < sizeof kCalls / sizeof kCalls[0]; ++i)
        if (Is(&first->text, kCalls[i].name) && !first->ends_step) {
            s->call = kCalls[i].call;
            return 1;
        }
    HsText call = Whole(first);
    Fail(r, "unknown call '%s'", Shown(call.p, call.cb, shown));
    free(call.p);
    return 0;
}

/* answer PATTERN=BUTTON [once] */
static int CheckAnswer(Reader* r, const Words* words, HsStep* s) {
#define ANSWER_USAGE "answer takes PATTERN=BUTTON [once]"
    const Word* w = words->a;
    const int count = words->count;
    char shown[256];
    if (count < 2 || count > 3) return Fail(r, ANSWER_USAGE);
    const HsText rule = Whole(&w[1]);
    size_t eq = rule.cb;
    while (eq > 0 && rule.p[eq - 1] != '=') --eq;
    int ok = 1;
    if (eq == 0) {
        ok = Fail(r, ANSWER_USAGE ": no '=' in '%s'", Shown(rule.p, rule.cb, shown));
    } else if (eq == 1) {
        ok = Fail(r, ANSWER_USAGE ": the PATTERN is empty");
    } else {
        s->button = 0;
        for (size_t b = 0; b < sizeof kButtons / sizeof kButtons[0]; ++b)
            if (strlen(kButtons[b].name) == rule.cb - eq && memcmp(kButtons[b].name, rule.p + eq, rule.cb - eq) == 0)
                s->button = kButtons[b].button;
        if (!s->button)
            ok = Fail(r, ANSWER_USAGE ": unknown BUTTON '%s' (" BUTTON_NAMES ")", Shown(rule.p + eq, rule.cb - eq, shown));
    }
    if (ok && count == 3 && !(Is(&w[2].text, "once") && !w[2].ends_step))
        ok = Fail(r, ANSWER_USAGE ": '%s' is not 'once'", Shown(w[2].text.p, w[2].text.cb, shown));
    if (ok) {
        s->text[0] = Copy(rule.p, eq - 1);
        s->once = count == 3;
    }
    free(rule.p);
    return ok;
}

/* job begin|end|abort|CODE N */
static int CheckJob(Reader* r, const Words* words, HsStep* s) {
#define JOB_USAGE "job takes begin|end|abort|CODE N"
    static const char* const kWords[] = {"begin", "end", "abort"};
    const Word* w = words->a;
    if (words->count != 3) return Fail(r, JOB_USAGE);
    s->job_word = NULL;
    for (int k = 0; k < 3; ++k)
        if (Is(&w[1].text, kWords[k]) && !w[1].ends_step) {
            s->job_word = kWords[k];
            s->n[0] = k + 1;
        }
    const HsText code = Whole(&w[1]);
    const HsText discs = Whole(&w[2]);
    const int ok = (s->job_word != NULL || Number(r, &code, LONG_LOW, LONG_HIGH, &s->n[0], JOB_USAGE, "CODE")) &&
                   Number(r, &discs, 0, DWORD_MAX, &s->n[1], JOB_USAGE, "N");
    free(code.p);
    free(discs.p);
    return ok;
}

/* printfile PATH KIND; `all` holds the words, and gives up the PATH it keeps. */
static int CheckPrintFile(Reader* r, int count, HsText* all, HsStep* s) {
    char shown[256];
    if (count != 3) return Fail(r, "printfile takes PATH KIND (%s)", pf_kind_names());
    if (all[1].cb == 0) return Fail(r, "printfile takes PATH KIND: the PATH is empty");
    if ((s->print_kind = pf_kind(all[2].p, all[2].cb)) < 0)
        return Fail(r, "printfile takes PATH KIND: unknown KIND '%s' (%s)", Shown(all[2].p, all[2].cb, shown),
                    pf_kind_names());
    s->text[0] = all[1], all[1].p = NULL;
    return 1;
}

/* The calls of numbers and a file: move, wait, sleep, validprint, moveprint, printfile. */
static int CheckNumbered(Reader* r, const Words* words, HsStep* s) {
    const int count = words->count;
    HsText all[5];
    memset(all, 0, sizeof all);
    for (int i = 1; i < count && i < 5; ++i) all[i] = Whole(&words->a[i]);
    int ok = 1;
    switch (s->call) {
        case HS_MOVE:
            ok = count == 3 ? Number(r, &all[1], 0, DWORD_MAX, &s->n[0], "move takes UNIT ACTION", "UNIT") &&
                                  Number(r, &all[2], LONG_LOW, LONG_HIGH, &s->n[1], "move takes UNIT ACTION", "ACTION")
                            : Fail(r, "move takes UNIT ACTION");
            break;
        case HS_WAIT:
            ok = count == 2 ? Number(r, &all[1], 0, DWORD_MAX, &s->n[0], "wait takes UNIT", "UNIT")
                            : Fail(r, "wait takes UNIT");
            break;
        case HS_SLEEP:
            ok = count == 2 ? Number(r, &all[1], 0, DAY_MS, &s->n[0], "sleep takes MS (milliseconds, at most a day)", "MS")
                            : Fail(r, "sleep takes MS (milliseconds, at most a day)");
            break;
        case HS_VALIDPRINT:
            ok = count == 3 ? Number(r, &all[1], LONG_LOW, LONG_HIGH, &s->n[0], "validprint takes ACTION FILE", "ACTION")
                            : Fail(r, "validprint takes ACTION FILE");
            if (ok) s->text[0] = all[2], all[2].p = NULL;
            break;
        case HS_MOVEPRINT:
#define MOVEPRINT_USAGE "moveprint takes UNIT ACTION DISCNUM FILE"
            ok = count == 5 ? Number(r, &all[1], 0, DWORD_MAX, &s->n[0], MOVEPRINT_USAGE, "UNIT") &&
                                  Number(r, &all[2], LONG_LOW, LONG_HIGH, &s->n[1], MOVEPRINT_USAGE, "ACTION") &&
                                  Number(r, &all[3], 0, DWORD_MAX, &s->n[2], MOVEPRINT_USAGE, "DISCNUM")
                            : Fail(r, MOVEPRINT_USAGE);
            if (ok) s->text[0] = all[4], all[4].p = NULL;
            break;
        case HS_PRINTFILE:
            ok = CheckPrintFile(r, count, all, s);
            break;
        default:
            break;
    }
    for (int i = 0; i < 5; ++i) free(all[i].p);
    return ok;
}

static int CheckStep(Reader* r, const Words* words, HsStep* s) {
    const Word* w = words->a;
    const int count = words->count;
    if (!FindCall(r, &w[0], s)) return 0;
    s->line = r->line;
    switch (s->call) {
        case HS_ANSWER:
            return CheckAnswer(r, words, s);
        case HS_DIALOG:
            return DialogActions(r, words, s);
        case HS_INIT:
            if (count < 2 || count > 3) return Fail(r, "init takes HOST [LIST]");
            s->text[0] = Whole(&w[1]);
            if (count == 3) s->text[1] = Whole(&w[2]);
            s->has_list = count == 3;
            return 1;
        case HS_END:
        case HS_STATUS:
        case HS_OPTIONS:
        case HS_MOVEMENTS:
        case HS_CHECKPRINTING:
        case HS_CHECKACCUMULATOR:
            if (count != 1) return Fail(r, "%s takes no arguments", CallName(s->call));
            return 1;
        case HS_SERVICES:
            if (count != 3) return Fail(r, "services takes KIND CODE");
            return Number(r, &w[1].text, LONG_LOW, LONG_HIGH, &s->n[0], "services takes KIND CODE", "KIND") &&
                   Number(r, &w[2].text, LONG_LOW, LONG_HIGH, &s->n[1], "services takes KIND CODE", "CODE");
        case HS_JOB:
            return CheckJob(r, words, s);
        case HS_MOVE:
        case HS_WAIT:
        case HS_SLEEP:
        case HS_VALIDPRINT:
        case HS_MOVEPRINT:
        case HS_PRINTFILE:
            break;
    }
    return CheckNumbered(r, words, s);
}

/* ---------------------------------------------------------------------------------------------
 * Reading
 */

int hs_parse(const char* name, const char* bytes, size_t cb, HsScript* script, char* error, size_t error_size) {
    Reader r;
    r.name = name;
    r.line = 0;
    r.error = error;
    r.error_size = error_size;
    memset(script, 0, sizeof *script);
    if (error_size) error[0] = '\0';
    size_t at = 0;
    if (cb >= 3 && memcmp(bytes, "\xEF\xBB\xBF", 3) == 0) at = 3; /* a UTF-8 byte-order mark */
    while (at < cb) {
        ++r.line;
        const char* line = bytes + at;
        const char* newline = (const char*)memchr(line, '\n', cb - at);
        size_t cb_line = newline != NULL ? (size_t)(newline - line) : cb - at;
        at += cb_line + (newline != NULL ? 1 : 0);
        if (cb_line > 0 && line[cb_line - 1] == '\r') --cb_line;
        size_t first = 0;
        while (first < cb_line && (line[first] == ' ' || line[first] == '\t')) ++first;
        if (first < cb_line && line[first] == '#') continue; /* a comment */
        Words words;
        if (!SplitWords(&r, line, cb_line, &words)) {
            hs_free(script);
            return 0;
        }
        if (words.count == 0) {
            FreeWords(&words);
            continue;
        }
        HsStep s;
        memset(&s, 0, sizeof s);
        const int ok = CheckStep(&r, &words, &s);
        FreeWords(&words);
        if (!ok) {
            FreeStep(&s);
            hs_free(script);
            return 0;
        }
        if (s.call == HS_INIT && !s.has_list) script->needs_list = 1;
        script->steps = (HsStep*)Grow(script->steps, (size_t)(script->count + 1) * sizeof *script->steps);
        script->steps[script->count++] = s;
    }
    return 1;
}

int hs_read(const char* path, HsScript* script, char* error, size_t error_size) {
    memset(script, 0, sizeof *script);
    FILE* f = stdin;
    const int is_stdin = strcmp(path, "-") == 0;
    if (!is_stdin) {
        struct stat st;
        if (stat(path, &st) == 0 && S_ISDIR(st.st_mode)) {
            snprintf(error, error_size, "cannot read the script '%s': it is a folder", path);
            return 0;
        }
        f = fopen(path, "rb");
        if (f == NULL) {
            snprintf(error, error_size, "cannot read the script '%s': %s", path, strerror(errno));
            return 0;
        }
    }
    size_t cb = 0, cb_max = 4096;
    char* bytes = (char*)Grow(NULL, cb_max);
    for (;;) {
        const size_t n = fread(bytes + cb, 1, cb_max - cb, f);
        cb += n;
        if (cb == cb_max) bytes = (char*)Grow(bytes, cb_max *= 2);
        if (n == 0) break;
    }
    const int failed = ferror(f);
    const int why = errno;
    if (!is_stdin) fclose(f);
    if (failed) {
        free(bytes);
        snprintf(error, error_size, "cannot read the script '%s': %s", path, strerror(why));
        return 0;
    }
    const int ok = hs_parse(path, bytes, cb, script, error, error_size);
    free(bytes);
    return ok;
}

void hs_free(HsScript* script) {
    for (int i = 0; i < script->count; ++i) FreeStep(&script->steps[i]);
    free(script->steps);
    memset(script, 0, sizeof *script);
}

/* ---------------------------------------------------------------------------------------------
 * Describing a step
 */

typedef struct Buffer {
    char* p;
    size_t cb, cb_max;
} Buffer;

static void Add(Buffer* b, const char* format, ...) {
    va_list args;
    va_start(args, format);
    char small[128];
    const int n = vsnprintf(small, sizeof small, format, args);
    va_end(args);
    if (n < 0) return;
    if (b->cb + (size_t)n + 1 > b->cb_max) {
        b->cb_max = 2 * (b->cb + (size_t)n + 1);
        b->p = (char*)Grow(b->p, b->cb_max);
    }
    if ((size_t)n < sizeof small) {
        memcpy(b->p + b->cb, small, (size_t)n + 1);
    } else {
        va_start(args, format);
        vsnprintf(b->p + b->cb, (size_t)n + 1, format, args);
        va_end(args);
    }
    b->cb += (size_t)n;
}

static void AddQuoted(Buffer* b, const HsText* t) {
    char* escaped = (char*)Grow(NULL, 4 * t->cb + 1);
    if (b->cb + 4 * t->cb + 4 > b->cb_max) {
        b->cb_max = 2 * (b->cb + 4 * t->cb + 4);
        b->p = (char*)Grow(b->p, b->cb_max);
    }
    hs_escape(t->p, t->cb, escaped);
    b->cb += (size_t)sprintf(b->p + b->cb, " \"%s\"", escaped);
    free(escaped);
}

char* hs_describe(const HsStep* s) {
    Buffer b;
    b.p = NULL;
    b.cb = b.cb_max = 0;
    Add(&b, "%d %s", s->line, CallName(s->call));
    switch (s->call) {
        case HS_ANSWER:
            AddQuoted(&b, &s->text[0]);
            Add(&b, " %s%s", hs_button_name(s->button), s->once ? " once" : "");
            break;
        case HS_DIALOG:
            Add(&b, " %lld", s->n[0]);
            for (int i = 0; i < s->action_count; ++i) {
                const HsAction* a = &s->actions[i];
                static const char* const kNames[] = {"click", "check", "uncheck", "select", "close"};
                Add(&b, "%s %s", i ? ";" : "", kNames[a->kind]);
                if (a->kind != HS_CLOSE) Add(&b, " %d", a->control);
                if (a->kind == HS_SELECT) AddQuoted(&b, &a->item);
            }
            break;
        case HS_INIT:
            AddQuoted(&b, &s->text[0]);
            if (s->has_list) AddQuoted(&b, &s->text[1]);
            break;
        case HS_SERVICES:
        case HS_MOVE:
            Add(&b, " %lld %lld", s->n[0], s->n[1]);
            break;
        case HS_JOB:
            if (s->job_word != NULL) Add(&b, " %s %lld", s->job_word, s->n[1]);
            else Add(&b, " %lld %lld", s->n[0], s->n[1]);
            break;
        case HS_WAIT:
        case HS_SLEEP:
            Add(&b, " %lld", s->n[0]);
            break;
        case HS_PRINTFILE:
            AddQuoted(&b, &s->text[0]);
            Add(&b, " %s", pf_kind_name((PfKind)s->print_kind));
            break;
        case HS_VALIDPRINT:
            Add(&b, " %lld", s->n[0]);
            AddQuoted(&b, &s->text[0]);
            break;
        case HS_MOVEPRINT:
            Add(&b, " %lld %lld %lld", s->n[0], s->n[1], s->n[2]);
            AddQuoted(&b, &s->text[0]);
            break;
        case HS_END:
        case HS_STATUS:
        case HS_OPTIONS:
        case HS_MOVEMENTS:
        case HS_CHECKPRINTING:
        case HS_CHECKACCUMULATOR:
            break;
    }
    return b.p;
}

/* ---------------------------------------------------------------------------------------------
 * The help
 */

const char* hs_language_help(void) {
    return "Script lines (one call a line; the whole script is read and checked before anything runs,\n"
           "and a bad line stops it with SCRIPT:LINE: and what is wrong, exit 1):\n"
           "  # comment                     a line whose first non-blank character is #\n"
           "  answer PATTERN=BUTTON [once]  answer the message boxes whose text contains PATTERN\n"
           "                                with OK, CANCEL, RETRY, YES, NO, ABORT or IGNORE, or\n"
           "                                the robot's status message whose text contains it with\n"
           "                                ABORTJOB (its ABORT Job button), PAUSEPICK (the robot's\n"
           "                                Pause and Pick buttons together; the message closes\n"
           "                                itself) or REFILL (25 discs into the input bin the arm\n"
           "                                is at, then Pick); once: one window only\n"
           "  dialog ID ACTION[; ACTION]    answer the next showing of dialog ID: click CTRL,\n"
           "                                check CTRL, uncheck CTRL, select CTRL TEXT, close;\n"
           "                                each action waits until the dialog has dealt with the\n"
           "                                one before (a message box it opened answered first)\n"
           "  init HOST [LIST]              Rovane_Init; LIST is the recorder list (default: the\n"
           "                                machine's), e.g. \"1,0,4,0,E,Pioneer DVD-RW DVR-112D\\r\\n\"\n"
           "  end                           Rovane_End\n"
           "  status                        Rovane_GetRoboStatus\n"
           "  options                       Rovane_Options\n"
           "  movements                     Rovane_Movements (dialogs 118 and 120, answered by dialog\n"
           "                                lines)\n"
           "  services KIND CODE            Rovane_Services\n"
           "  job begin|end|abort N         Rovane_JobBeginsOrEnds (codes 1, 2, 3) for N discs\n"
           "  job CODE N                    Rovane_JobBeginsOrEnds with that code (4: only logged)\n"
           "  move UNIT ACTION              Rovane_PostMoveDisc (100 load, 200 unload, 300 reject ...)\n"
           "  wait UNIT                     Rovane_CheckMoveDisc every 500 ms while it returns 2\n"
           "                                (then 1 done, 4 aborted, 0 a unit it does not know)\n"
           "  sleep MS                      the host waits MS milliseconds\n"
           "  printfile PATH KIND           writes a generated print file of KIND at PATH, its\n"
           "                                folders made as needed: pellan-iv, pellan-pro,\n"
           "                                optical-disc-printer, varrow, varrow-2, tessik-6, label\n"
           "                                (a .STD design), short (31 bytes), wrong (no known header)\n"
           "  validprint ACTION FILE        Rovane_CheckValidPrint(0, ACTION, 0, FILE, 0, 0)\n"
           "  moveprint UNIT ACTION DISCNUM FILE\n"
           "                                Rovane_PostMoveAndPrint(UNIT, ACTION, 0, FILE, \"\", DISCNUM)\n"
           "                                (2000 record and print, 1000 print a blank disc ...)\n"
           "  checkprinting                 Rovane_CheckPrinting(0): 1 not printing, 2 printing,\n"
           "                                4 aborted\n"
           "  checkaccumulator              Rovane_CheckAccumulator(0): obsolete, shows a notice\n"
           "                                that says so and returns 0\n"
           "Words: blanks separate them, and a word is taken as written, backslashes and all, so a\n"
           "Windows path needs no quotes: printfile C:\\Labels\\a.PRN pellan-iv. Double quotes group\n"
           "blanks into a word (\"Pellan IV on LPT1:\"); inside them, and only there, \\r \\n \\t \\0 \\\"\n"
           "and \\\\ are escapes, and any other backslash is refused. Other control characters than a\n"
           "tab are refused anywhere: write them as escapes inside quotes. A ; that ends a word\n"
           "outside quotes ends a dialog action. A UTF-8 byte-order mark at the start is skipped,\n"
           "and lines may end in CR LF.\n"
           "Numbers are decimal (no octal, no 0x) and must fit the export's argument: UNIT, N and\n"
           "DISCNUM 0 to 4294967295; ACTION, CODE and KIND -2147483648 to 2147483647; MS 0 to\n"
           "86400000 (a day); a dialog's ID 1 to 65535 and CTRL 0 to 65535.\n";
}
