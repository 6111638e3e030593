// How the log is read into journeys, marks and jobs.
//
// Journeys. The module logs every pick-up and drop-off only once the robot has confirmed it:
// "Disc PICKED UP successfully" or "Disc DROPPED OFF successfully", followed by
// "RoboStatus.bCurrentPosition=X  g_bCurrentPosition=Y", where X is the arm's position as the
// robot reports it (A-D recorders, 4 2 5 1 and 3 bins, S or I the printer tray, E the laminator,
// G and H the reject positions). The reader keeps a model of the machine built from these lines
// alone: a stack of discs at every place (the robot always takes the top disc and puts a disc on
// top) and the disc in the picker. A pick-up takes the top disc of the place's stack into the
// picker; a drop-off puts the picker's disc on the place's stack. Each disc is one journey: the
// list of places it stayed at, with the times it arrived and left.
//
// Input bins. The bins hold blank discs that the log never shows arriving. A pick at a bin after
// the module moved to "the current input bin" (the queued "_MOVE:" without a position, whose
// letter the module fills in before sending) takes a new blank disc, unless a disc the log saw
// being put down on that bin while it was the current input bin lies on top (a recorded disc
// waiting there for the printer, which the robot would take first). A pick at a bin the module
// moved to by name (a disc waiting on its output bin) takes the top of the modelled stack. Discs
// put down on a bin that is not the current input bin are on its output stack; the operator may
// take finished discs away (nothing in the log says so), which is why an input pick never takes
// them.
//
// A log that starts in the middle of a job (the module restarts its log at 700,000 bytes): the
// machine already holds discs that the log never saw arrive. A pick at a place whose modelled
// stack is empty (a recorder, the printer, the laminator, a bin named by the module) starts a new
// journey there, marked as known only from that moment; a drop-off while the modelled picker is
// empty starts a journey in the picker. Such discs count like any other.
//
// Lines the module drops (two threads logging at once) or lost lines: a pick-up while the modelled
// picker still holds a disc ends the held disc's journey as "track lost" where the log last saw it.
//
// Job abort. The abort sequence puts a disc still held by the picker on the reject position G
// without logging the move: when the log shows the abort while the model's picker holds a disc,
// the disc is taken to G (marked as assumed), unless a drop-off had been sent and not yet
// confirmed, in which case it is taken to be where the arm put it down.
//
// Arm busy: from each move or pick command sent (">>Sent CMD = _MOVE:..", "_PICK") to the next
// line that shows the robot idle again (the verification of the command, the next command taken,
// an error the robot reports, the abort).
//
// Messages and answers. The status message dialog ("Robot Message") is shown for robot errors the
// operator has to clear (input empty at the last bin, printer error, movement error, system error,
// a disc not picked that the module does not retry by itself, laminator errors); it closes by
// itself once the robot works again, so the answer (the operator cleared the error at the
// machine) is read from the robot going on, or from "Abort button pressed". The module's
// Retry/Cancel boxes are read from their log lines; the answer is Cancel when the job is aborted
// next and Retry when the work goes on.
#include "logview/job_summary.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace logview {

namespace {

bool starts_with(const std::string& s, const char* prefix) { return s.compare(0, std::strlen(prefix), prefix) == 0; }
bool contains(const std::string& s, const char* part) { return s.find(part) != std::string::npos; }

bool is_bin(char c) { return c >= '1' && c <= '5'; }

// The place key of a position letter for anything but a bin.
std::string place_of(char letter) {
    if (letter >= 'A' && letter <= 'D') return std::string("rec:") + letter;
    if (letter == 'S' || letter == 'I') return "printer";
    if (letter == 'E') return "laminator";
    if (letter == 'G' || letter == 'H') return std::string("reject:") + letter;
    return std::string("pos:") + letter;
}

// Robot and laminator errors: their log names, what they are, whether the operator is shown the
// status message for them.
struct ErrorKind {
    const char* log_name;  // text after "ERROR: "
    const char* code;
    const char* words;
    bool message;
};
const ErrorKind kErrors[] = {
    {"INPUT_EMPTY", "INPUT_EMPTY", "the input bins are empty", true},
    {"PRINTER_ERROR", "PRINTER_ERROR", "printer error", true},
    {"MOVEMENT ERROR", "MOVEMENT_ERROR", "movement error", true},
    {"INVALID_CMD", "INVALID_CMD", "the robot refused a command", false},
    {"SYS_ERROR", "SYS_ERROR", "robot system error: the job is aborted", true},
    {"NOT_PICKED", "NOT_PICKED", "the disc was not picked", true},
    {"LAMERR_", nullptr, "laminator error", true},
};

// A short code for any other "ERROR: " line: its text up to the first detail (a number, a
// quote, a colon, a parenthesis), blanks as underscores.
std::string other_error_code(const std::string& text) {
    std::string code;
    for (char c : text) {
        if ((c >= '0' && c <= '9') || c == '"' || c == ':' || c == '(' || c == '\\' || c == '!' || c == '.') break;
        code += c == ' ' ? '_' : c;
    }
    while (!code.empty() && code.back() == '_') code.pop_back();
    while (!code.empty() && code.front() == '_') code.erase(code.begin());
    if (code.size() > 40) code.resize(40);
    return code.empty() ? "OTHER" : code;
}

// One line that begins a job or ends it, found before the journeys are followed.
struct JobRange {
    size_t first = 0, last = 0;  // line indices
    bool begin_seen = false, end_seen = false, aborted = false;
    long how_many = -1;
    std::string note;
};

class Tracker {
public:
    explicit Tracker(LogSummary& s) : s_(s) {}

    void run() {
        const auto& lines = s_.log.lines;
        for (size_t i = 0; i < lines.size(); ++i) {
            line_ = i;
            step(lines[i]);
        }
        finish();
    }

    // Where things were found, as indices into the log's lines, for cutting the log into jobs.
    std::vector<size_t> arrival_line;      // each journey's last arrival (by id - 1): the job it is counted in
    std::vector<size_t> mark_line;         // each mark
    std::vector<size_t> fault_lines;       // status replies missing or damaged
    std::vector<size_t> print_lines;       // prints started
    std::vector<size_t> lamination_lines;  // laminations started

private:
    struct Entry {
        int disc;
        bool on_input;  // put down on the bin while it was the current input bin
    };

    LogSummary& s_;
    size_t line_ = 0;
    std::map<std::string, std::vector<Entry>> stacks_;  // bins by "bin:N", other places by their key
    int picker_ = -1;
    char arm_ = 0;
    bool move_bare_ = false;  // the last move taken from a queue was "_MOVE:" (the current input bin)
    char current_input_ = 0;
    bool drop_sent_ = false;  // a "_PICK" was sent while the picker held a disc, not yet confirmed
    enum class Pending { None, Pick, Drop } pending_ = Pending::None;
    int64_t pending_ms_ = 0;
    size_t pending_line_ = 0;
    int64_t busy_since_ = -1;
    // An error whose message depends on the next line (the module may retry by itself).
    int tentative_ = -1;  // index into marks of the error, or -1
    std::string tentative_text_;
    // The message the operator has in front of them, and how its answer is read.
    enum class Open { None, RobotMessage, RetryBox } open_ = Open::None;
    int64_t last_ms_ = 0;
    bool abort_open_ = false;  // the abort sequence has begun and not yet ended

    Journey& disc(int id) { return s_.journeys[static_cast<size_t>(id - 1)]; }

    int new_disc(const std::string& place, int64_t ms, bool known_from_start, bool from_unknown) {
        Journey j;
        j.id = static_cast<int>(s_.journeys.size()) + 1;
        j.seen_from_start = known_from_start;
        Stop st;
        st.place = place;
        st.from = from_unknown ? (s_.log.lines.empty() ? ms : s_.log.lines.front().ms) : ms;
        st.to = ms;
        st.from_unknown = from_unknown;
        arrival_line.push_back(line_);
        j.stops.push_back(st);
        s_.journeys.push_back(j);
        return j.id;
    }

    void move_to(int id, const std::string& place, int64_t ms, size_t line) {
        Journey& j = disc(id);
        j.stops.back().to = ms;
        Stop st;
        st.place = place;
        st.from = ms;
        st.to = ms;
        j.stops.push_back(st);
        arrival_line[static_cast<size_t>(id - 1)] = line;
    }

    void add_mark(int64_t ms, MarkKind kind, const std::string& code, const std::string& text, bool inferred = false) {
        Mark m;
        m.ms = ms;
        m.kind = kind;
        m.code = code;
        m.text = text;
        m.line = s_.log.lines[line_].number;
        m.inferred = inferred;
        s_.marks.push_back(m);
        mark_line.push_back(line_);
    }

    void pick(int64_t ms, char letter, size_t line) {
        if (picker_ > 0) {
            // The log missed where the held disc went.
            Journey& held = disc(picker_);
            held.outcome = Outcome::Untracked;
            held.stops.back().to = ms;
            picker_ = -1;
        }
        int id = -1;
        std::string place;
        if (is_bin(letter)) {
            auto& stack = stacks_[std::string("bin:") + letter];
            if (move_bare_) {
                if (!stack.empty() && stack.back().on_input) {
                    id = stack.back().disc;
                    stack.pop_back();
                } else {
                    id = new_disc(std::string("in:") + letter, ms, true, false);
                }
            } else if (!stack.empty()) {
                id = stack.back().disc;
                stack.pop_back();
            } else {
                id = new_disc(std::string("out:") + letter, ms, false, true);
            }
        } else {
            place = place_of(letter);
            auto& stack = stacks_[place];
            if (!stack.empty()) {
                id = stack.back().disc;
                stack.pop_back();
            } else {
                id = new_disc(place, ms, false, true);
            }
        }
        move_to(id, "picker", ms, line);
        picker_ = id;
    }

    void drop(int64_t ms, char letter, size_t line, bool assumed) {
        if (picker_ < 0) picker_ = new_disc("picker", ms, false, true);
        const int id = picker_;
        picker_ = -1;
        if (is_bin(letter)) {
            const bool on_input = letter == current_input_;
            move_to(id, std::string(on_input ? "in:" : "out:") + letter, ms, line);
            stacks_[std::string("bin:") + letter].push_back({id, on_input});
        } else {
            const std::string place = place_of(letter);
            move_to(id, place, ms, line);
            stacks_[place].push_back({id, false});
        }
        if (assumed) disc(id).end_assumed = true;
    }

    void resolve_pending(char letter) {
        if (pending_ == Pending::None) return;
        if (letter == 0) letter = arm_;
        if (letter == 0) letter = '?';
        if (pending_ == Pending::Pick)
            pick(pending_ms_, letter, pending_line_);
        else
            drop(pending_ms_, letter, pending_line_, false);
        pending_ = Pending::None;
    }

    void busy_ends(int64_t ms) {
        if (busy_since_ < 0) return;
        s_.busy.push_back({busy_since_, ms});
        busy_since_ = -1;
    }

    // The operator's answer to the message in front of them.
    void answered(int64_t ms, const std::string& code, const std::string& text, bool inferred) {
        add_mark(ms, MarkKind::Answer, code, text, inferred);
        open_ = Open::None;
    }

    void message(int64_t ms, const std::string& code, const std::string& text, Open open) {
        add_mark(ms, MarkKind::Message, code, text);
        open_ = open;
    }

    // The work goes on: an open message was answered by letting it go on.
    void goes_on(int64_t ms) {
        if (open_ == Open::RobotMessage)
            answered(ms, "CLEARED", "the error was cleared at the machine and the robot went on", true);
        else if (open_ == Open::RetryBox)
            answered(ms, "RETRY", "Retry", true);
    }

    // The job is being aborted: an open Retry/Cancel box was answered Cancel.
    void aborting(int64_t ms) {
        if (open_ == Open::RetryBox) answered(ms, "CANCEL", "Cancel: the job is aborted", true);
        open_ = Open::None;
    }

    void settle_tentative(const std::string& text) {
        if (tentative_ < 0) return;
        Mark& err = s_.marks[static_cast<size_t>(tentative_)];
        if (text == "Mispick from Recorder -> Retrying" || text == "No Disc found in Recorder -> Retrying") {
            err.text += "; the module closes the recorder's tray, opens it again and retries";
        } else if (starts_with(text, "Error: Not picked - no warning") || starts_with(text, "No warning when empty")) {
            err.text += "; no message in this mode: the job is aborted";
        } else {
            const size_t err_line = err.line, err_index = mark_line[static_cast<size_t>(tentative_)];
            message(err.ms, err.code, "Robot Message: " + tentative_text_, Open::RobotMessage);
            s_.marks.back().line = err_line;
            mark_line.back() = err_index;
        }
        tentative_ = -1;
    }

    void error_line(const LogLine& l, const std::string& detail) {
        for (const ErrorKind& k : kErrors) {
            if (!starts_with(detail, k.log_name)) continue;
            const std::string code = k.code ? k.code : detail.substr(0, detail.find_first_of(" \t"));
            add_mark(l.ms, MarkKind::Error, code, std::string(k.words) + " (" + display_text(l.text) + ")");
            if (!k.message) return;
            if (code == "NOT_PICKED" || code == "INPUT_EMPTY") {
                tentative_ = static_cast<int>(s_.marks.size()) - 1;
                tentative_text_ = k.words;
            } else {
                message(l.ms, code, std::string("Robot Message: ") + k.words, Open::RobotMessage);
            }
            return;
        }
        add_mark(l.ms, MarkKind::Error, other_error_code(detail), display_text(l.text));
    }

    void step(const LogLine& l) {
        const std::string& t = l.text;
        last_ms_ = l.ms;

        // The line after a pick-up or drop-off names where it happened.
        if (pending_ != Pending::None) {
            char letter = 0;
            if (starts_with(t, "RoboStatus.bCurrentPosition=") && t.size() > 28) letter = t[28];
            resolve_pending(letter);
            if (letter) {
                arm_ = letter;
                return;
            }
        }
        if (tentative_ >= 0) settle_tentative(t);

        if (t == "Disc PICKED UP successfully" || t == "Disc DROPPED OFF successfully") {
            pending_ = t[5] == 'P' ? Pending::Pick : Pending::Drop;
            pending_ms_ = l.ms;
            pending_line_ = line_;
            drop_sent_ = false;
            return;
        }
        if (starts_with(t, " MOVETO:") && t.size() > 8) {
            arm_ = t[8];
            return;
        }
        if (starts_with(t, "Next GLOBAL CMD = ") || starts_with(t, "Next PRINT CMD = ")) {
            busy_ends(l.ms);
            goes_on(l.ms);
            std::string cmd = t.substr(18);
            cmd = cmd.substr(0, cmd.find(' '));
            if (starts_with(cmd, "_MOVE:")) move_bare_ = cmd == "_MOVE:";
            return;
        }
        if (starts_with(t, ">>Sent CMD = ")) {
            const std::string cmd = t.substr(13);
            if (starts_with(cmd, "_MOVE:") || cmd == "_PICK") {
                if (busy_since_ < 0) busy_since_ = l.ms;
            }
            if (starts_with(cmd, "_MOVE:") && cmd.size() > 6 && move_bare_) current_input_ = cmd[6];
            if (cmd == "_PICK") drop_sent_ = picker_ > 0;
            goes_on(l.ms);
            return;
        }
        if (t == "-->POSTCommandProcess()") {
            busy_ends(l.ms);
            goes_on(l.ms);
            return;
        }
        if (starts_with(t, "#!#$#%^ Drop OFF requested-verified")) {
            drop_sent_ = false;
            return;
        }
        if (t == "SendQueueThread() RETURNING-->") {
            busy_ends(l.ms);
            return;
        }
        if (t == "INPUT EMPTY: Going to Next Input Bin") {
            add_mark(l.ms, MarkKind::Error, "INPUT_EMPTY", "input bin empty: the module goes on to the next input bin");
            return;
        }
        if (starts_with(t, "ERROR: ") || starts_with(t, "ERROR:  ")) {
            busy_ends(l.ms);
            std::string detail = t.substr(6);
            while (!detail.empty() && detail.front() == ' ') detail.erase(detail.begin());
            error_line(l, detail);
            return;
        }
        if (starts_with(t, "FATAL ") && contains(t, "OVERFLOW")) {
            add_mark(l.ms, MarkKind::Error, "QUEUE_OVERFLOW", display_text(t));
            add_mark(l.ms, MarkKind::Message, "QUEUE_OVERFLOW", "message box: " + display_text(t) + " (the job is aborted)");
            return;
        }
        if (t == "COVER OPEN") {
            add_mark(l.ms, MarkKind::Error, "COVER_OPEN", "the laminator's cover is open");
            message(l.ms, "COVER_OPEN", "Robot Message: the laminator's cover is open", Open::RobotMessage);
            return;
        }
        if (t == "Abort button pressed") {
            add_mark(l.ms, MarkKind::Answer, "ABORT_JOB", "ABORT Job pressed in the Robot Message");
            open_ = Open::None;
            return;
        }
        if (t == "->AbortJob()") {
            busy_ends(l.ms);
            aborting(l.ms);
            abort_open_ = true;
            return;
        }
        if (t == "<-AbortJob() exiting") {
            if (abort_open_ && picker_ > 0) {
                if (drop_sent_ && arm_)
                    drop(l.ms, arm_, line_, true);
                else
                    drop(l.ms, 'G', line_, true);
            }
            abort_open_ = false;
            drop_sent_ = false;
            return;
        }
        if (t == "**&&** WaitForPrinting ABORT" || starts_with(t, "CheckMoveDisc:  g_fJobAborted=TRUE")) {
            aborting(l.ms);
            return;
        }
        if (t == "===COMPLETED PRINTING===" || t == "===COMPLETED LAMINATING===") {
            goes_on(l.ms);
            return;
        }
        if (t == "(__PRINTING STARTED__)") {
            const auto& stack = stacks_["printer"];
            const int id = stack.empty() ? 0 : stack.back().disc;
            if (id) ++disc(id).prints;
            print_lines.push_back(line_);
            return;
        }
        if (starts_with(t, "Laminate with ")) {
            const auto& stack = stacks_["laminator"];
            const int id = stack.empty() ? 0 : stack.back().disc;
            if (id) ++disc(id).laminations;
            lamination_lines.push_back(line_);
            return;
        }
        if (t == "NOTE: PortRead() no response in GetSystemStatus" || t == "WARNING: CHECKSUM ERROR!! TRY AGAIN.") {
            fault_lines.push_back(line_);
            return;
        }
        // Retry/Cancel boxes, logged before or after the operator's answer.
        if (starts_with(t, "#$?% Trying to pick up a disc and already have a disc")) {
            message(l.ms, "HOLDING_DISC", "message box: the picker already holds a disc (Retry/Cancel)", Open::RetryBox);
            return;
        }
        if (starts_with(t, "!!!Dropping off disc but do NOT have")) {
            message(l.ms, "DISC_LOST", "message box: the picker has lost its disc (Retry/Cancel)", Open::RetryBox);
            return;
        }
        if (starts_with(t, "More than 60 seconds of waiting for printer")) {
            message(l.ms, "PRINT_TIMEOUT", "message box: waiting for printing timed out (Retry/Cancel)", Open::RetryBox);
            return;
        }
        if (starts_with(t, "More than 30 seconds of waiting for laminator")) {
            message(l.ms, "LAMINATE_TIMEOUT", "message box: waiting for the laminator timed out (Retry/Cancel)",
                    Open::RetryBox);
            return;
        }
        if (t == "Lam tray out but no disc - probably fell off") {
            message(l.ms, "DISC_FELL_OFF", "message box: the disc fell off the laminator's tray (Retry/Cancel)",
                    Open::RetryBox);
            return;
        }
        if (t == "Reject position full - job aborted") {
            message(l.ms, "REJECT_FULL", "message box: the reject position is full (Retry/Cancel)", Open::RetryBox);
            answered(l.ms, "CANCEL", "Cancel: the job is aborted", false);
            return;
        }
        if (t == "User aborted in MovePrinterTray") {
            message(l.ms, "PRINTER_TRAY", "message box: the printer tray does not move (Retry/Cancel)", Open::RetryBox);
            answered(l.ms, "CANCEL", "Cancel: the job is aborted", false);
            return;
        }
        if (t == "User aborted in GetLaminatorStatus" || t == "Can't talk to laminator - User ABORTED" ||
            t == "Problem talking to laminator - User ABORTED") {
            message(l.ms, "LAMINATOR_SILENT", "message box: the laminator does not answer (Retry/Cancel)", Open::RetryBox);
            answered(l.ms, "CANCEL", "Cancel", false);
            return;
        }
        if (t == "User selected to use only 3 bins") {
            message(l.ms, "FOUR_BINS", "message box: pick from all 4 input bins? (Yes/No)", Open::None);
            answered(l.ms, "NO", "No: only 3 input bins", false);
            return;
        }
        if (starts_with(t, "Printer chosen: ")) {
            message(l.ms, "SELECT_PRINTER", "dialog: Select a Printer", Open::None);
            answered(l.ms, "OK", "OK: " + display_text(t.substr(16)), false);
            return;
        }
        if (starts_with(t, "Options accepted: ")) {
            message(l.ms, "OPTIONS", "dialog: options", Open::None);
            answered(l.ms, "OK", "OK: " + display_text(t.substr(18)), false);
            return;
        }
        if (t == "SendQueue STOPPED by user.") {
            add_mark(l.ms, MarkKind::Answer, "STOP_TEST", "Stop Test pressed in the move test");
            return;
        }
    }

    void finish() {
        if (tentative_ >= 0) settle_tentative("");
        resolve_pending(0);
        busy_ends(last_ms_);
        for (Journey& j : s_.journeys) {
            j.stops.back().to = std::max(j.stops.back().to, last_ms_);
            if (j.outcome == Outcome::Untracked) continue;
            const std::string& last = j.stops.back().place;
            if (starts_with(last, "out:"))
                j.outcome = Outcome::Good;
            else if (starts_with(last, "reject:"))
                j.outcome = Outcome::Rejected;
            else
                j.outcome = Outcome::InMachine;
        }
    }
};

// The host's jobs: each from its "JobBeginsOrEnds 1" line to the "JobBeginsOrEnds returning OK"
// of its end or abort. A job that ends before any begin in the log began before the log did; a
// job still open when the module starts again, or at the end of the log, did not end in it.
std::vector<JobRange> find_jobs(const std::vector<LogLine>& lines) {
    std::vector<JobRange> jobs;
    bool open = false;      // a job's begin has been seen and its end not
    bool ending = false;    // its end or abort line has been seen, its "returning OK" not yet
    size_t next_free = 0;   // the first line after the last job's range
    auto close = [&](size_t last) {
        jobs.back().last = last;
        open = ending = false;
        next_free = last + 1;
    };
    for (size_t i = 0; i < lines.size(); ++i) {
        const std::string& t = lines[i].text;
        if (starts_with(t, "JobBeginsOrEnds ")) {
            const long code = std::strtol(t.c_str() + 16, nullptr, 10);
            if (code == 1) {
                if (open) {
                    jobs.back().note = "a next job began before this one's end was logged";
                    close(i - 1);
                }
                JobRange r;
                r.first = i;
                r.begin_seen = true;
                const size_t at = t.find("dwHowMany=");
                if (at != std::string::npos) r.how_many = std::strtol(t.c_str() + at + 10, nullptr, 10);
                jobs.push_back(r);
                open = true;
            } else if (code == 2 || code == 3) {
                if (!open) {
                    // Its begin is before the log (or was not logged).
                    JobRange r;
                    r.first = next_free;
                    r.begin_seen = false;
                    jobs.push_back(r);
                    open = true;
                }
                jobs.back().end_seen = true;
                jobs.back().aborted = jobs.back().aborted || code == 3;
                ending = true;
                jobs.back().last = i;
            }
            continue;
        }
        if (open && ending && t == "JobBeginsOrEnds returning OK") {
            close(i);
            continue;
        }
        if (open && t.find("********************* RovaneInit") == 0) {
            if (!jobs.back().end_seen) jobs.back().note = "the module was started again before the job's end";
            close(i - 1);
        }
        // A job's sequence may be aborted from the robot (ABORT Job, errors) before the host's
        // abort arrives: that is still the same job.
        if (open && !ending && (t == "->AbortJob()")) jobs.back().aborted = true;
    }
    if (open) {
        if (!jobs.back().end_seen && jobs.back().note.empty()) jobs.back().note = "the log ends before the job's end";
        jobs.back().last = lines.empty() ? 0 : lines.size() - 1;
    }
    return jobs;
}

int64_t overlap(int64_t a0, int64_t a1, int64_t b0, int64_t b1) {
    const int64_t lo = std::max(a0, b0), hi = std::min(a1, b1);
    return hi > lo ? hi - lo : 0;
}

}  // namespace

PlaceInfo place_info(const std::string& key) {
    PlaceInfo p;
    p.key = key;
    const char c = key.empty() ? '?' : key.back();
    auto bin_order = [](char b) {
        const char* order = "42513";
        const char* at = std::strchr(order, b);
        return at ? static_cast<int>(at - order) : 5;
    };
    if (starts_with(key, "in:")) {
        p.label = std::string("input bin ") + c;
        p.order = 0 + bin_order(c);
    } else if (key == "picker") {
        p.label = "picker";
        p.order = 10;
    } else if (starts_with(key, "rec:")) {
        p.label = std::string("recorder ") + c;
        p.order = 20 + (c - 'A');
    } else if (key == "printer") {
        p.label = "printer tray";
        p.order = 30;
    } else if (key == "laminator") {
        p.label = "laminator tray";
        p.order = 31;
    } else if (starts_with(key, "out:")) {
        p.label = std::string("output bin ") + c;
        // Output bins in the order they are filled: 3, 4, 2, 5.
        const char* order = "3425";
        const char* at = std::strchr(order, c);
        p.order = 40 + (at ? static_cast<int>(at - order) : 5);
    } else if (starts_with(key, "reject:")) {
        p.label = std::string("reject ") + c;
        p.order = 50 + (c - 'G');
    } else {
        p.label = std::string("position ") + c;
        p.order = 60;
    }
    return p;
}

const char* outcome_name(Outcome o) {
    switch (o) {
        case Outcome::Good: return "good";
        case Outcome::Rejected: return "rejected";
        case Outcome::InMachine: return "in machine";
        case Outcome::Untracked: return "track lost";
    }
    return "?";
}

const char* mark_kind_name(MarkKind k) {
    switch (k) {
        case MarkKind::Error: return "error";
        case MarkKind::Message: return "message";
        case MarkKind::Answer: return "answer";
    }
    return "?";
}

double Figures::discs_per_hour() const {
    if (duration_ms <= 0) return 0;
    return (good + rejected) * 3600000.0 / static_cast<double>(duration_ms);
}

double Figures::busy_share() const {
    if (duration_ms <= 0) return 0;
    return std::min(1.0, static_cast<double>(busy_ms) / static_cast<double>(duration_ms));
}

LogSummary summarize(LogText log) {
    LogSummary s;
    s.log = std::move(log);
    const auto& lines = s.log.lines;
    Tracker tracker(s);
    tracker.run();
    if (lines.empty()) return s;

    // Segments: the jobs, and the stretches between them.
    struct Range {
        size_t first, last;
        int job;  // index into jobs, or -1
    };
    const std::vector<JobRange> jobs = find_jobs(lines);
    std::vector<Range> ranges;
    size_t at = 0;
    for (size_t j = 0; j < jobs.size(); ++j) {
        if (jobs[j].first > at) ranges.push_back({at, jobs[j].first - 1, -1});
        ranges.push_back({jobs[j].first, std::max(jobs[j].first, jobs[j].last), static_cast<int>(j)});
        at = std::max(jobs[j].first, jobs[j].last) + 1;
    }
    if (at < lines.size()) ranges.push_back({at, lines.size() - 1, -1});

    auto range_of = [&](size_t line) {
        for (size_t r = 0; r < ranges.size(); ++r)
            if (line >= ranges[r].first && line <= ranges[r].last) return r;
        return ranges.size() - 1;
    };
    std::vector<int> journeys_in(ranges.size(), 0);
    std::vector<size_t> journey_range(s.journeys.size());
    for (size_t i = 0; i < s.journeys.size(); ++i) {
        journey_range[i] = range_of(tracker.arrival_line[i]);
        ++journeys_in[journey_range[i]];
    }

    // Keep the jobs, and the stretches between them in which discs moved.
    std::vector<int> segment_of(ranges.size(), -1);
    int job_number = 0;
    for (size_t r = 0; r < ranges.size(); ++r) {
        const Range& range = ranges[r];
        if (range.job < 0 && journeys_in[r] == 0) continue;
        Segment seg;
        seg.first_line = lines[range.first].number;
        seg.last_line = lines[range.last].number;
        seg.from = lines[range.first].ms;
        seg.to = lines[range.last].ms;
        seg.from_stamp = lines[range.first].stamp;
        seg.to_stamp = lines[range.last].stamp;
        if (range.job >= 0) {
            const JobRange& j = jobs[static_cast<size_t>(range.job)];
            seg.is_job = true;
            seg.begin_seen = j.begin_seen;
            seg.end_seen = j.end_seen;
            seg.aborted = j.aborted;
            seg.how_many = j.how_many;
            seg.title = "job " + std::to_string(++job_number);
            std::string note;
            if (!j.begin_seen) note = "its begin is before the log starts (the module restarts its log at 700,000 bytes)";
            if (!j.note.empty()) note += (note.empty() ? "" : "; ") + j.note;
            seg.note = note;
        } else {
            bool test = false;
            for (size_t i = range.first; i <= range.last; ++i)
                test = test || starts_with(lines[i].text, "Multiple disc move test:");
            seg.title = test ? "multiple-disc move test" : r == 0 ? "before the first job of the log" : "between jobs";
            if (r == 0 && lines.front().text.find("Rovane_b.ini path:") != 0 &&
                lines.front().text.find("********************* RovaneInit") != 0)
                seg.note = "the log starts here, in the middle of the module's work";
        }
        segment_of[r] = static_cast<int>(s.segments.size());
        s.segments.push_back(seg);
    }
    s.jobs = job_number;
    const std::string& first = lines.front().text;
    const bool starts_at_startup =
        first.find("Rovane_b.ini path:") == 0 || first.find("********************* RovaneInit") == 0;
    s.starts_mid_job = !starts_at_startup && !s.segments.empty() &&
                       ((s.segments.front().is_job && !s.segments.front().begin_seen) ||
                        (!s.segments.front().is_job && s.segments.front().first_line == lines.front().number));

    // What each segment holds.
    for (size_t i = 0; i < s.journeys.size(); ++i) {
        const int seg = segment_of[journey_range[i]];
        s.journeys[i].segment = seg < 0 ? 0 : static_cast<size_t>(seg);
    }
    auto count_into = [](Figures& f, const Journey& j) {
        ++f.discs;
        switch (j.outcome) {
            case Outcome::Good: ++f.good; break;
            case Outcome::Rejected:
                ++f.rejected;
                ++f.rejected_at[j.stops.back().place.substr(7)];
                break;
            case Outcome::InMachine: ++f.in_machine; break;
            case Outcome::Untracked: ++f.untracked; break;
        }
    };
    auto mark_into = [](Figures& f, const Mark& m) {
        if (m.kind == MarkKind::Error) ++f.errors[m.code];
        if (m.kind == MarkKind::Message) ++f.messages;
        if (m.kind == MarkKind::Answer) ++f.answers;
    };
    for (const Journey& j : s.journeys) {
        if (!s.segments.empty()) count_into(s.segments[j.segment].figures, j);
        count_into(s.lifetime, j);
    }
    for (size_t m = 0; m < s.marks.size(); ++m) {
        mark_into(s.lifetime, s.marks[m]);
        const int seg = segment_of[range_of(tracker.mark_line[m])];
        if (seg >= 0) mark_into(s.segments[static_cast<size_t>(seg)].figures, s.marks[m]);
    }
    auto per_line = [&](const std::vector<size_t>& at_lines, int Figures::*field) {
        for (size_t line : at_lines) {
            ++(s.lifetime.*field);
            const int seg = segment_of[range_of(line)];
            if (seg >= 0) ++(s.segments[static_cast<size_t>(seg)].figures.*field);
        }
    };
    per_line(tracker.fault_lines, &Figures::status_faults);
    per_line(tracker.print_lines, &Figures::prints);
    per_line(tracker.lamination_lines, &Figures::laminations);
    for (Segment& seg : s.segments) {
        seg.figures.duration_ms = seg.to - seg.from;
        for (const Busy& b : s.busy) seg.figures.busy_ms += overlap(b.from, b.to, seg.from, seg.to);
        s.lifetime.duration_ms += seg.figures.duration_ms;
        s.lifetime.busy_ms += seg.figures.busy_ms;
    }
    return s;
}

}  // namespace logview
