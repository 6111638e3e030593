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
// picker still holds a disc, or a drop-off on a recorder, the printer's tray or the laminator
// (which hold one disc) where the model still sees one, ends that disc's journey as "track lost"
// where the log last saw it. Bins and reject positions are stacks (the model keeps the top
// kStackKept discs of each).
//
// Job abort. The abort sequence puts a disc still held by the picker on the reject position G
// without logging the move: when the log shows the abort while the model's picker holds a disc,
// the disc is taken to G (marked as assumed), unless a drop-off had been sent and not yet
// confirmed, in which case it is taken to be where the arm put it down.
//
// Arm busy: from each move or pick command sent (">>Sent CMD = _MOVE:..", "_PICK") to the next
// line that shows the robot idle again (the verification of the command, the next command taken,
// an error the robot reports, the abort), or to the last line before the module starts again.
//
// Durations. A job lasts from its first line to its last, counted as the sum of the steps from
// each line to the next on the log's clock (which never goes back: a line out of order or a clock
// set back adds no time, see log_reader.h), but for the step into the module's start-up
// ("Rovane_b.ini path:"): the module was not running in between, so that gap is no job's time and
// no busy time. The arm's busy share is its busy time within those steps over the duration.
//
// One pass. The log is read line by line; the stretch of each line (a job or the lines between
// jobs) is known when the line is read, every disc, mark and count goes into its stretch then, and
// a stretch is settled once kRangesOpen stretches after it have begun (a disc counted in it that
// moves later changes it until then). Without detail nothing else is kept: a few hundred discs on
// the model's places at most, and the stretches not yet settled.
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
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <deque>

namespace logview {

namespace {

bool starts_with(const std::string& s, const char* prefix) { return s.compare(0, std::strlen(prefix), prefix) == 0; }
bool contains(const std::string& s, const char* part) { return s.find(part) != std::string::npos; }
bool ends_with(const std::string& s, const char* suffix) {
    const size_t n = std::strlen(suffix);
    return s.size() >= n && s.compare(s.size() - n, n, suffix) == 0;
}

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

constexpr size_t kStackKept = 500;  // discs the model keeps on one place (a bin holds about 100)

bool is_startup_banner(const std::string& t) { return starts_with(t, "********************* RovaneInit"); }

void count_error(Figures& f, const std::string& code) {
    const auto it = f.errors.find(code);
    if (it != f.errors.end())
        ++it->second;
    else if (f.errors.size() < kErrorCodesKept)
        f.errors[code] = 1;
    else
        ++f.errors["OTHER"];
}

void count_mark(Figures& f, MarkKind kind, const std::string& code) {
    if (kind == MarkKind::Error) count_error(f, code);
    if (kind == MarkKind::Message) ++f.messages;
    if (kind == MarkKind::Answer) ++f.answers;
}

// A disc where it ends up counts as good (an output bin), rejected (a reject position) or in the
// machine (anywhere else).
void count_disc(Figures& f, const std::string& place, int sign) {
    f.discs += sign;
    if (starts_with(place, "out:")) {
        f.good += sign;
    } else if (starts_with(place, "reject:")) {
        f.rejected += sign;
        const std::string at = place.substr(7);
        if ((f.rejected_at[at] += sign) == 0) f.rejected_at.erase(at);
    } else {
        f.in_machine += sign;
    }
}

}  // namespace

class Summarizer::Impl {
public:
    explicit Impl(Options options) : opt_(std::move(options)) {}

    LogSummary s_;

    void add(const LogLine& l) {
        const std::string& t = l.text;
        const bool startup = starts_with(t, "Rovane_b.ini path:") || (is_startup_banner(t) && !after_ini_path_);
        after_ini_path_ = starts_with(t, "Rovane_b.ini path:");
        if (!seen_line_) {
            seen_line_ = true;
            first_ms_ = l.ms;
            starts_at_startup_ = starts_with(t, "Rovane_b.ini path:") || is_startup_banner(t);
        }
        place_line(l, startup);
        Range& r = ranges_.back();
        // Durations: the steps from line to line within the stretch, but for the step into the
        // module's start-up (it was not running in between).
        if (have_prev_ && prev_range_ == r.id && !startup) {
            const int64_t step = l.ms - last_ms_;
            r.figures.duration_ms += step;
            if (busy_since_ >= 0) r.figures.busy_ms += step;
        }
        line_range_ = r.id;
        line_number_ = l.number;
        if (startup) restarted();
        step(l);
        have_prev_ = true;
        prev_range_ = r.id;
        last_ms_ = l.ms;
        while (ranges_.size() > kRangesOpen) retire();
    }

    void finish(const LogInfo& info) {
        if (tentative_.active) settle_tentative("");
        resolve_pending(0);
        busy_ends(last_ms_);
        if (!ranges_.empty()) {
            Range& last = ranges_.back();
            if (!last.closed && last.is_job && !last.end_seen && last.note.empty())
                last.note = "the log ends before the job's end";
            last.closed = true;
        }
        while (!ranges_.empty()) retire();
        if (opt_.detail) {
            for (Journey& j : s_.journeys) {
                const int seg = range_segment_[journey_range_[static_cast<size_t>(j.id - 1)]];
                j.segment = seg < 0 ? 0 : static_cast<size_t>(seg);
                if (j.outcome == Outcome::Untracked) continue;  // followed up to where it was lost
                j.stops.back().to = std::max(j.stops.back().to, last_ms_);
                const std::string& last = j.stops.back().place;
                if (starts_with(last, "out:"))
                    j.outcome = Outcome::Good;
                else if (starts_with(last, "reject:"))
                    j.outcome = Outcome::Rejected;
                else
                    j.outcome = Outcome::InMachine;
            }
        }
        s_.log = info;
    }

private:
    // A stretch of the log: a host job, each from its "JobBeginsOrEnds 1" line to the
    // "JobBeginsOrEnds returning OK" of its end (which waits for the send thread to end) or, for an
    // abort, to the end of the send thread when it was running (it runs the abort sequence after
    // the host's call has returned); or the lines between jobs. A job that ends before any begin
    // in the log began before the log did (the lines before its end since the last job are its
    // own); a job still open when the module starts again, or at the end of the log, did not end
    // in it.
    struct Range {
        uint64_t id = 0;
        bool first = false;     // the log's first stretch
        bool closed = false;
        bool is_job = false, begin_seen = false, end_seen = false, aborted = false;
        bool ending = false;    // its end or abort line has been seen, its "returning OK" not yet
        bool host_abort = false;  // the host aborted it (code 3)
        bool winding = false;   // aborted and returned: the send thread's abort sequence goes on
        bool test = false;      // it holds the multiple-disc move test
        long how_many = -1;
        std::string note;
        size_t first_line = 0, last_line = 0;
        int64_t from = 0, to = 0;
        std::string from_stamp, to_stamp;
        Figures figures;        // its discs, marks and counts as they stand, its duration and busy time
    };

    // A disc on a place or in the picker: the stretch it is counted in.
    struct Entry {
        int disc = -1;
        uint64_t range = 0;
        bool on_input = false;  // put down on a bin while it was the current input bin
    };

    Options opt_;
    std::deque<Range> ranges_;  // the stretches not yet settled, the last one the line's
    uint64_t next_range_ = 0;
    std::vector<int> range_segment_;      // with detail: each stretch's segment, or -1
    std::vector<uint64_t> journey_range_; // with detail: each journey's stretch
    bool seen_line_ = false, starts_at_startup_ = false, first_kept_ = false, after_ini_path_ = false;
    bool have_prev_ = false;
    bool send_running_ = false;  // the send thread is running, as far as the log shows
    uint64_t prev_range_ = 0;
    int64_t first_ms_ = 0;
    int64_t last_ms_ = 0;
    uint64_t line_range_ = 0;  // the stretch of the line being read
    size_t line_number_ = 0;

    // The model of the machine.
    std::map<std::string, std::deque<Entry>> stacks_;  // bins by "bin:N", other places by their key
    Entry picker_;
    int discs_ = 0;
    char arm_ = 0;
    bool move_bare_ = false;  // the last move taken from a queue was "_MOVE:" (the current input bin)
    char current_input_ = 0;
    bool drop_sent_ = false;  // a "_PICK" was sent while the picker held a disc, not yet confirmed
    enum class Pending { None, Pick, Drop } pending_ = Pending::None;
    int64_t pending_ms_ = 0;
    uint64_t pending_range_ = 0;
    int64_t busy_since_ = -1;
    // An error whose message depends on the next line (the module may retry by itself).
    struct Tentative {
        bool active = false;
        int64_t ms = 0;
        uint64_t range = 0;
        size_t line = 0;
        size_t mark = 0;  // with detail: its index in marks
        std::string code, words;
    } tentative_;
    // The message the operator has in front of them, and how its answer is read.
    enum class Open { None, RobotMessage, RetryBox } open_ = Open::None;
    bool abort_open_ = false;  // the abort sequence has begun and not yet ended

    Range* range(uint64_t id) {
        if (ranges_.empty() || id < ranges_.front().id) return nullptr;  // settled
        const uint64_t at = id - ranges_.front().id;
        return at < ranges_.size() ? &ranges_[static_cast<size_t>(at)] : nullptr;
    }

    // ---- The stretches of the log.

    Range& open_range(const LogLine& l) {
        Range r;
        r.id = next_range_++;
        r.first = r.id == 0;
        r.first_line = l.number;
        r.from = l.ms;
        r.from_stamp = l.stamp;
        ranges_.push_back(r);
        if (opt_.detail) range_segment_.push_back(-1);
        return ranges_.back();
    }

    // Finds the stretch of line `l`, closing and opening stretches as the line says.
    void place_line(const LogLine& l, bool startup) {
        const std::string& t = l.text;
        Range* cur = ranges_.empty() || ranges_.back().closed ? nullptr : &ranges_.back();
        bool close_after = false;
        const bool send_ends = t == "SendQueueThread() RETURNING-->";
        if (send_ends) {
            close_after = cur && cur->winding;
            send_running_ = false;
        } else if (t == "-->SendQueueThread() called" || ends_with(t, "calling SendQueueThread") ||
                   starts_with(t, ">>Sent CMD = ") || starts_with(t, "Next GLOBAL CMD = ")) {
            send_running_ = true;
        }
        if (starts_with(t, "JobBeginsOrEnds ")) {
            if (t == "JobBeginsOrEnds returning OK") {
                if (cur && cur->is_job && cur->ending && !cur->winding) {
                    if (cur->host_abort && send_running_)
                        cur->winding = true;
                    else
                        close_after = true;
                }
            } else {
                const long code = std::strtol(t.c_str() + 16, nullptr, 10);
                if (code == 1) {
                    if (cur) {
                        if (cur->is_job) cur->note = "a next job began before this one's end was logged";
                        cur->closed = true;
                    }
                    cur = &open_range(l);
                    cur->is_job = cur->begin_seen = true;
                    const size_t at = t.find("dwHowMany=");
                    if (at != std::string::npos) cur->how_many = std::strtol(t.c_str() + at + 10, nullptr, 10);
                } else if (code == 2 || code == 3) {
                    if (!cur) cur = &open_range(l);
                    cur->is_job = true;  // its begin is before the log (or was not logged) when it was not one
                    cur->end_seen = true;
                    cur->aborted = cur->aborted || code == 3;
                    cur->host_abort = cur->host_abort || code == 3;
                    cur->ending = true;
                }
            }
        } else if (startup && cur && cur->is_job) {
            if (!cur->end_seen) cur->note = "the module was started again before the job's end";
            cur->closed = true;
            cur = nullptr;
        }
        if (!cur) cur = &open_range(l);
        // A job's sequence may be aborted from the robot (ABORT Job, errors) before the host's
        // abort arrives: that is still the same job.
        if (cur->is_job && !cur->ending && t == "->AbortJob()") cur->aborted = true;
        if (starts_with(t, "Multiple disc move test:")) cur->test = true;
        cur->last_line = l.number;
        cur->to = l.ms;
        cur->to_stamp = l.stamp;
        if (close_after) cur->closed = true;
    }

    // The oldest stretch is settled: it becomes a segment when it is a job or discs are counted
    // in it.
    void retire() {
        Range& r = ranges_.front();
        if (r.is_job || r.figures.discs > 0) {
            Segment seg;
            seg.is_job = r.is_job;
            seg.begin_seen = r.begin_seen;
            seg.end_seen = r.end_seen;
            seg.aborted = r.aborted;
            seg.how_many = r.how_many;
            seg.from = r.from;
            seg.to = r.to;
            seg.from_stamp = r.from_stamp;
            seg.to_stamp = r.to_stamp;
            seg.first_line = r.first_line;
            seg.last_line = r.last_line;
            seg.figures = r.figures;
            if (r.is_job) {
                seg.title = "job " + std::to_string(++s_.jobs);
                if (!r.begin_seen) seg.note = "its begin is before the log starts (the module restarts its log at 700,000 bytes)";
                if (!r.note.empty()) seg.note += (seg.note.empty() ? "" : "; ") + r.note;
            } else {
                seg.title = r.test ? "multiple-disc move test" : r.first ? "before the first job of the log" : "between jobs";
                if (r.first && !starts_at_startup_) seg.note = "the log starts here, in the middle of the module's work";
            }
            if (!first_kept_) {
                first_kept_ = true;
                s_.starts_mid_job = !starts_at_startup_ && ((seg.is_job && !seg.begin_seen) || (!seg.is_job && r.first));
            }
            Figures& life = s_.lifetime;
            const Figures& f = r.figures;
            life.discs += f.discs;
            life.good += f.good;
            life.rejected += f.rejected;
            for (const auto& [at, n] : f.rejected_at) life.rejected_at[at] += n;
            life.in_machine += f.in_machine;
            life.untracked += f.untracked;
            life.duration_ms += f.duration_ms;
            life.busy_ms += f.busy_ms;
            if (opt_.detail) {
                range_segment_[r.id] = static_cast<int>(s_.segments.size());
                s_.segments.push_back(seg);
            }
            if (opt_.on_segment) opt_.on_segment(seg, s_);
        }
        ranges_.pop_front();
    }

    // ---- The discs.

    Journey& journey(int id) { return s_.journeys[static_cast<size_t>(id - 1)]; }

    Entry new_disc(const std::string& place, int64_t ms, bool known_from_start, bool from_unknown, uint64_t in_range) {
        Entry e;
        e.disc = ++discs_;
        e.range = in_range;
        if (Range* r = range(in_range)) count_disc(r->figures, place, +1);
        if (opt_.detail) {
            Journey j;
            j.id = e.disc;
            j.seen_from_start = known_from_start;
            Stop st;
            st.place = place;
            st.from = from_unknown ? first_ms_ : ms;
            st.to = ms;
            st.from_unknown = from_unknown;
            j.stops.push_back(st);
            s_.journeys.push_back(j);
            journey_range_.push_back(in_range);
        }
        return e;
    }

    // The disc arrives at `to` from `from`: it is counted where it arrived, unless its figures are
    // settled.
    void move(Entry& e, const std::string& from, const std::string& to, int64_t ms, uint64_t in_range) {
        if (Range* old = range(e.range)) {
            count_disc(old->figures, from, -1);
            if (Range* now = range(in_range)) count_disc(now->figures, to, +1);
            e.range = in_range;
            if (opt_.detail) journey_range_[static_cast<size_t>(e.disc - 1)] = in_range;
        }
        if (opt_.detail) {
            Journey& j = journey(e.disc);
            j.stops.back().to = ms;
            Stop st;
            st.place = to;
            st.from = ms;
            st.to = ms;
            j.stops.push_back(st);
        }
    }

    // The log missed where a disc went: its journey ends where the log last saw it.
    void lost(const Entry& e, int64_t ms) {
        if (Range* r = range(e.range)) {
            --r->figures.in_machine;
            ++r->figures.untracked;
        }
        if (opt_.detail) {
            Journey& j = journey(e.disc);
            j.outcome = Outcome::Untracked;
            j.stops.back().to = ms;
        }
    }

    void put(const std::string& stack, Entry e, int64_t ms) {
        auto& s = stacks_[stack];
        // A recorder, the printer's tray and the laminator hold one disc: one the model still sees
        // there was taken out unseen.
        if (starts_with(stack, "rec:") || stack == "printer" || stack == "laminator") {
            for (const Entry& old : s) lost(old, ms);
            s.clear();
        }
        s.push_back(e);
        if (s.size() > kStackKept) s.pop_front();  // out of the model's reach: where it is counted stays
    }

    static std::string bin_place(char bin, bool on_input) { return std::string(on_input ? "in:" : "out:") + bin; }

    void pick(int64_t ms, char letter, uint64_t in_range) {
        if (picker_.disc > 0) {
            lost(picker_, ms);  // the log missed where the held disc went
            picker_ = Entry();
        }
        Entry e;
        std::string from;
        if (is_bin(letter)) {
            auto& stack = stacks_[std::string("bin:") + letter];
            if (move_bare_) {
                if (!stack.empty() && stack.back().on_input) {
                    e = stack.back();
                    stack.pop_back();
                    from = bin_place(letter, true);
                } else {
                    from = bin_place(letter, true);
                    e = new_disc(from, ms, true, false, in_range);
                }
            } else if (!stack.empty()) {
                e = stack.back();
                stack.pop_back();
                from = bin_place(letter, e.on_input);
            } else {
                from = bin_place(letter, false);
                e = new_disc(from, ms, false, true, in_range);
            }
        } else {
            from = place_of(letter);
            auto& stack = stacks_[from];
            if (!stack.empty()) {
                e = stack.back();
                stack.pop_back();
            } else {
                e = new_disc(from, ms, false, true, in_range);
            }
        }
        move(e, from, "picker", ms, in_range);
        e.on_input = false;
        picker_ = e;
    }

    void drop(int64_t ms, char letter, uint64_t in_range, bool assumed) {
        if (picker_.disc < 0) picker_ = new_disc("picker", ms, false, true, in_range);
        Entry e = picker_;
        picker_ = Entry();
        if (is_bin(letter)) {
            e.on_input = letter == current_input_;
            move(e, "picker", bin_place(letter, e.on_input), ms, in_range);
            put(std::string("bin:") + letter, e, ms);
        } else {
            const std::string place = place_of(letter);
            move(e, "picker", place, ms, in_range);
            put(place, e, ms);
        }
        if (assumed && opt_.detail) journey(e.disc).end_assumed = true;
    }

    void resolve_pending(char letter) {
        if (pending_ == Pending::None) return;
        if (letter == 0) letter = arm_;
        if (letter == 0) letter = '?';
        if (pending_ == Pending::Pick)
            pick(pending_ms_, letter, pending_range_);
        else
            drop(pending_ms_, letter, pending_range_, false);
        pending_ = Pending::None;
    }

    void busy_ends(int64_t ms) {
        if (busy_since_ < 0) return;
        if (opt_.detail) s_.busy.push_back({busy_since_, ms});
        busy_since_ = -1;
    }

    // The module starts again: the arm's command and the message in front of the operator end
    // unanswered with the module that was running.
    void restarted() {
        busy_ends(last_ms_);
        open_ = Open::None;
        abort_open_ = false;
        drop_sent_ = false;
    }

    // ---- Errors, messages and answers.

    void add_mark(int64_t ms, MarkKind kind, const std::string& code, const std::string& text, bool inferred = false,
                  uint64_t in_range = UINT64_MAX, size_t line = 0) {
        if (in_range == UINT64_MAX) in_range = line_range_;
        count_mark(s_.lifetime, kind, code);
        if (Range* r = range(in_range)) count_mark(r->figures, kind, code);
        if (!opt_.detail) return;
        Mark m;
        m.ms = ms;
        m.kind = kind;
        m.code = code;
        m.text = text;
        m.line = line ? line : line_number_;
        m.inferred = inferred;
        s_.marks.push_back(m);
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
        if (!tentative_.active) return;
        tentative_.active = false;
        std::string* err_text = opt_.detail ? &s_.marks[tentative_.mark].text : nullptr;
        if (text == "Mispick from Recorder -> Retrying" || text == "No Disc found in Recorder -> Retrying") {
            if (err_text) *err_text += "; the module closes the recorder's tray, opens it again and retries";
        } else if (starts_with(text, "Error: Not picked - no warning") || starts_with(text, "No warning when empty")) {
            if (err_text) *err_text += "; no message in this mode: the job is aborted";
        } else {
            add_mark(tentative_.ms, MarkKind::Message, tentative_.code, "Robot Message: " + tentative_.words, false,
                     tentative_.range, tentative_.line);
            open_ = Open::RobotMessage;
        }
    }

    void error_line(const LogLine& l, const std::string& detail) {
        for (const ErrorKind& k : kErrors) {
            if (!starts_with(detail, k.log_name)) continue;
            const std::string code = k.code ? k.code : detail.substr(0, detail.find_first_of(" \t"));
            add_mark(l.ms, MarkKind::Error, code, std::string(k.words) + " (" + display_text(l.text) + ")");
            if (!k.message) return;
            if (code == "NOT_PICKED" || code == "INPUT_EMPTY") {
                tentative_.active = true;
                tentative_.ms = l.ms;
                tentative_.range = line_range_;
                tentative_.line = l.number;
                tentative_.mark = s_.marks.size() - 1;
                tentative_.code = code;
                tentative_.words = k.words;
            } else {
                message(l.ms, code, std::string("Robot Message: ") + k.words, Open::RobotMessage);
            }
            return;
        }
        add_mark(l.ms, MarkKind::Error, other_error_code(detail), display_text(l.text));
    }

    void count_line(int Figures::*field) {
        ++(s_.lifetime.*field);
        if (Range* r = range(line_range_)) ++(r->figures.*field);
    }

    // The disc on top of a place, or 0.
    int top_disc(const std::string& place) {
        const auto it = stacks_.find(place);
        return it == stacks_.end() || it->second.empty() ? 0 : it->second.back().disc;
    }

    void step(const LogLine& l) {
        const std::string& t = l.text;

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
        if (tentative_.active) settle_tentative(t);

        if (t == "Disc PICKED UP successfully" || t == "Disc DROPPED OFF successfully") {
            pending_ = t[5] == 'P' ? Pending::Pick : Pending::Drop;
            pending_ms_ = l.ms;
            pending_range_ = line_range_;
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
            if (cmd == "_PICK") drop_sent_ = picker_.disc > 0;
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
            if (abort_open_ && picker_.disc > 0) {
                if (drop_sent_ && arm_)
                    drop(l.ms, arm_, line_range_, true);
                else
                    drop(l.ms, 'G', line_range_, true);
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
            const int id = top_disc("printer");
            if (id && opt_.detail) ++journey(id).prints;
            count_line(&Figures::prints);
            return;
        }
        if (starts_with(t, "Laminate with ")) {
            const int id = top_disc("laminator");
            if (id && opt_.detail) ++journey(id).laminations;
            count_line(&Figures::laminations);
            return;
        }
        if (t == "NOTE: PortRead() no response in GetSystemStatus" || t == "WARNING: CHECKSUM ERROR!! TRY AGAIN.") {
            count_line(&Figures::status_faults);
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

};

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


Summarizer::Summarizer(Options options) : impl_(std::make_unique<Impl>(std::move(options))) {}
Summarizer::~Summarizer() = default;
void Summarizer::add(const LogLine& line) { impl_->add(line); }
void Summarizer::finish(const LogInfo& info) { impl_->finish(info); }
LogSummary& Summarizer::summary() { return impl_->s_; }

LogSummary summarize(const LogText& log) {
    Summarizer summarizer(Summarizer::Options{});
    for (const LogLine& line : log.lines) summarizer.add(line);
    summarizer.finish(log.info);
    return std::move(summarizer.summary());
}

bool summarize_file(const std::string& path, Summarizer::Options options, LogSummary* out, std::string* error,
                    uint64_t max_bytes) {
    Summarizer summarizer(std::move(options));
    LogInfo info;
    if (!read_log_file(path, [&](const LogLine& line) { summarizer.add(line); }, &info, error, max_bytes)) return false;
    summarizer.finish(info);
    *out = std::move(summarizer.summary());
    return true;
}

}  // namespace logview
