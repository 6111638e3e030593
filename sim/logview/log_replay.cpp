#include "logview/log_replay.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <map>
#include <set>

namespace logview {

namespace {

bool starts_with(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }

// The number after `key` in `text` ("dwUnit=" in "... dwUnit=3 ..."); false when there is none.
bool number_after(const std::string& text, const char* key, long long* out) {
    const size_t at = text.find(key);
    if (at == std::string::npos) return false;
    const char* p = text.c_str() + at + std::char_traits<char>::length(key);
    char* end = nullptr;
    const long long v = std::strtoll(p, &end, 10);
    if (end == p) return false;
    *out = v;
    return true;
}

std::vector<std::string> words(const std::string& text) {
    std::vector<std::string> out;
    size_t at = 0;
    while (at < text.size()) {
        while (at < text.size() && (text[at] == ' ' || text[at] == '\t' || text[at] == '\r')) ++at;
        size_t end = at;
        while (end < text.size() && text[end] != ' ' && text[end] != '\t' && text[end] != '\r') ++end;
        if (end > at) out.push_back(text.substr(at, end - at));
        at = end;
    }
    return out;
}

// A word of the host script: as written when it holds no blank, quote, semicolon or control
// character, else in double quotes with the script's escapes.
std::string script_word(const std::string& text) {
    bool plain = !text.empty();
    for (unsigned char c : text)
        if (c <= ' ' || c == '"' || c == ';' || c >= 0x7f) plain = false;
    if (plain) return text;
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '\\') out += "\\\\";
        else if (c == '"') out += "\\\"";
        else if (c == '\r') out += "\\r";
        else if (c == '\n') out += "\\n";
        else if (c == '\t') out += "\\t";
        else if (c < ' ' || c == 0x7f) out += ' ';  // no other escape exists: a blank stands for it
        else out += static_cast<char>(c);
    }
    return out + "\"";
}


// A host call found in the log, at its time from the start-up banner.
struct Call {
    // Answer: an operator's answer, a line of the script (`script`) put among the host's calls;
    // Options: Rovane_Options, with the operator's choices in its dialog as `script`.
    enum Kind { Init, Job, Move, MovePrint, CheckPrinting, End, Answer, Options } kind = Init;
    int64_t at = 0;        // ms from the banner
    int64_t done = -1;     // when the call returned, where the log says (ms from the banner)
    size_t line = 0;
    long long unit = -1, action = 0, disc = 0, code = 0, how_many = 0;
    long long row = -1;    // the recorder's row ("u=")
    bool ended = false;    // a move: its "DONE:ROW" step was seen
    bool unwaited = false; // a move posted while the unit's move before it was still under way
    bool refused = false;  // a move-and-print refused for want of a printer (it prints nothing)
    bool prologue = false; // an init the replay adds before a log without a start-up
    bool waiting() const { return (kind == Move || kind == MovePrint) && !ended; }  // a move not yet done
    bool cut_short = false;  // an end: called with moves still under way
    std::string file;
    std::string script;
};

// The robot errors the module names, and the code the robot reported for each.
char error_code(const std::string& t) {
    if (starts_with(t, "ERROR: MOVEMENT ERROR")) return 'C';
    if (starts_with(t, "ERROR: NOT_PICKED")) return 'F';
    if (starts_with(t, "ERROR: INVALID_CMD")) return 'D';
    if (starts_with(t, "ERROR: SYS_ERROR")) return 'E';
    if (starts_with(t, "ERROR: PRINTER_ERROR")) return 'B';
    // "A" on a pick from a recorder: the disc not seen there (from an input bin it is the bin
    // found empty, below).
    if (t == "No Disc found in Recorder -> Retrying") return 'A';
    return 0;
}

// The discs the world puts into each input bin; the log does not say how many a bin held.
constexpr int kDiscsPerInputBin = 25;
// Discs a reject position holds before the module asks the operator to empty it.
constexpr int kRejectCapacity = 25;
// The world's robot takes 3 s for a pick or a drop and 2.5 s for a move to another place
// (RobotConfig), at its own speed. The module sees a motion's end at a pass of its send thread
// (every 300 ms and a little) after it: in the world's logs at that speed a pick or drop is
// seen ended about 130 ms after it ended, a move about 320 ms. A log's motion times so give its
// machine's speed: time = world time / speed + lag.
constexpr double kWorldPickMs = 3000.0, kPickLagMs = 130.0;
constexpr double kWorldMoveMs = 2500.0, kMoveLagMs = 320.0;

// The text between `from` and `to` in `t` ("" when either is missing).
std::string between(const std::string& t, const char* from, const char* to) {
    const size_t a = t.find(from);
    if (a == std::string::npos) return "";
    const size_t b = t.find(to, a + std::char_traits<char>::length(from));
    if (b == std::string::npos) return "";
    return t.substr(a + std::char_traits<char>::length(from), b - a - std::char_traits<char>::length(from));
}

// Whether a PostMoveDisc action queues steps that end with "DONE:ROW" (the module's loads,
// unloads, rejects and printer carries; not the actions it refuses).
bool queues_steps(long long action) {
    switch (action) {
        case 100: case 101: case 200: case 201: case 300: case 301:
        case 400: case 410: case 420: case 700: case 1000: case 1001:
            return true;
        default:
            return false;
    }
}

class Planner {
public:
    Planner(size_t follow_until, bool mid_job) : mid_job_(mid_job), follow_until_(follow_until) {}

    void line(const LogLine& l) {
        read(l);
        prev_ms_ = l.ms;
    }

    ReplayPlan finish() {
        plan_.has_init = have_base_;
        open_question_left("the log ends");
        machine_speed();
        operator_think();
        tray_faults();
        if (mid_job_) mid_job_state();
        else lost_job_begin();
        write_flags();
        write_script();
        return plan_;
    }

private:
    void read(const LogLine& l) {
        const std::string& t = l.text;
        if (dialog_closing_ && !starts_with(t, "Printer chosen: ")) {
            dialog_closing_ = false;
            calls_.back().done = std::max(calls_.back().done, l.ms - base_);
        }
        machine_line(t);
        if (starts_with(t, "********************* RovaneInit")) {
            if (!have_base_) {
                have_base_ = true;
                base_ = l.ms;
            }
            Call c;
            c.kind = Call::Init;
            add(c, l);
            init_open_ = true;
            return;
        }
        if (!have_base_ && mid_job_) {
            // A log without a start-up: the replay begins with one of its own (the prologue, see
            // write_prologue), at the log's first line.
            have_base_ = true;
            base_ = l.ms;
            plan_.starts_mid_job = true;
            Call c;
            c.kind = Call::Init;
            c.prologue = true;
            add(c, l);
        }
        if (!have_base_) {
            // Work before any start-up in this log: its calls cannot be placed.
            if (starts_with(t, "JobBeginsOrEnds ") || starts_with(t, "** PostMoveDisc") || starts_with(t, "## PostMoveAndPrint"))
                plan_.starts_mid_job = true;
            return;
        }
        host_line(l);
        send_thread_line(l);
        observe(l);
        robot_line(l);
    }

    void add(Call c, const LogLine& l) {
        c.at = l.ms - base_;
        c.line = l.number;
        // A host that posts a unit's next move before the one before it has ended did not wait.
        if (c.kind == Call::Move || c.kind == Call::MovePrint)
            for (const Call& x : calls_) c.unwaited = c.unwaited || (x.waiting() && x.unit == c.unit);
        calls_.push_back(c);
    }

    void machine_line(const std::string& t) {
        ReplayMachine& m = plan_.machine;
        if (t.find("QIX VERSION:") != std::string::npos) {
            const std::vector<std::string> w = words(t.substr(t.find("VERSION:") + 8));
            if (w.size() >= 1) m.model = w[0];
            if (w.size() >= 2) m.firmware = w[1];
            if (w.size() >= 3 && w[2].size() == 1) m.drive_code = w[2];
        } else if (starts_with(t, "GetRoboVersion: ")) {
            long long n = 0;
            if (number_after(t, "GetRoboVersion: ", &n)) m.robot_drives = static_cast<int>(n);
        } else if (t.find(" control port opened successfully.") != std::string::npos) {
            m.port = t.substr(0, t.find(' '));
        } else if (starts_with(t, "Recorder ") && t.find(" serial number \"") != std::string::npos) {
            long long n = -1;
            number_after(t, "Recorder ", &n);
            const size_t q = t.find('"');
            const size_t e = t.rfind('"');
            if (n >= 0 && n < 64 && e > q) {
                if (m.serials.size() <= static_cast<size_t>(n)) m.serials.resize(static_cast<size_t>(n) + 1);
                m.serials[static_cast<size_t>(n)] = t.substr(q + 1, e - q - 1);
            }
        } else if (starts_with(t, "u=") && t.find(" dwUnit=") != std::string::npos) {
            long long row = -1, unit = -1;
            if (number_after(t, "u=", &row) && number_after(t, "dwUnit=", &unit) && row >= 0 && row < 64) {
                if (m.units.size() <= static_cast<size_t>(row)) m.units.resize(static_cast<size_t>(row) + 1, -1);
                m.units[static_cast<size_t>(row)] = static_cast<long>(unit);
            }
        } else if (t == "FindPrinter - printer found and selected") {
            // Found as the settings file names it, unless the operator had just chosen it in the
            // printer selection dialog (which comes first at start-up).
            m.printer_from_settings = !m.printer_dialog;
        } else if (starts_with(t, "Printer chosen: ") && !options_open_) {
            m.printer_dialog = true;
            // The host's call that showed the dialog went on once the dialog had closed, at the
            // next line: its next call came that long after, however long the choosing took.
            dialog_closing_ = !calls_.empty() && have_base_;
            // The robot is sent to the printer's position at once, without a line of its own.
            if (t.find(" (position ") != std::string::npos) ++motions_["move"];
            std::string name = t.substr(16);
            const size_t at = name.rfind(" (");
            if (at != std::string::npos) name = name.substr(0, at);
            if (!starts_with(name, "- ")) m.printer = name;  // "- Not using a disc printer -"
            // "(connected to FILE:)": the operator chose again; only a choice that stood counts.
            if (t.find(" (position ") != std::string::npos) m.dialog_choices.push_back(starts_with(name, "- ") ? "" : name);
        } else if (starts_with(t, "Printer=")) {
            if (m.printer.empty()) m.printer = t.substr(8);
        } else if (t == "Laminator is selected - make sure we can talk to it." || t == "Laminator Heater starting...") {
            m.laminator = true;
            if (!lam_chosen_in_options_) m.laminator_at_start = true;
        } else if (t == "Queueing z6 Move Printer tray and wait") {
            // The printer's own tray command is queued for a "Tessik 6" alone.
            m.printer_kind_seen = "Tessik 6";
        } else if (starts_with(t, "Queue_Cmd: _MOVE:I ") || starts_with(t, "PRN_Queue: _MOVE:I ")) {
            // The "Optical Disc Printer"'s tray is the robot's place I.
            m.printer_kind_seen = "Optical Disc Printer";
        }
    }

    void host_line(const LogLine& l) {
        const std::string& t = l.text;
        if (t == "********************* RovaneEnd ***************************************" ||
            starts_with(t, "********************* RovaneEnd")) {
            Call c;
            c.kind = Call::End;
            // A host that ends the module while moves are still under way (they end with no
            // "DONE" step before this line) did not wait for them.
            for (const Call& x : calls_) c.cut_short = c.cut_short || x.waiting();
            add(c, l);
            return;
        }
        if (init_open_ && starts_with(t, "return ")) {
            init_open_ = false;
            // The print-only host gets 99 and has no recorders.
            if (t == "return 99" && plan_.machine.units.empty()) plan_.machine.host = "Quessa";
            for (auto it = calls_.rbegin(); it != calls_.rend(); ++it)
                if (it->kind == Call::Init) {
                    it->done = l.ms - base_;
                    break;
                }
            return;
        }
        if (starts_with(t, "JobBeginsOrEnds ") && t.find("dwHowMany=") != std::string::npos) {
            Call c;
            c.kind = Call::Job;
            number_after(t, "JobBeginsOrEnds ", &c.code);
            number_after(t, "dwHowMany=", &c.how_many);
            if (c.code == 3 && l.number > follow_until_) {
                // Past the point a what-if follows the log to, the host's abort is its answer to the
                // job the module aborted there, which the what-if's run need not do.
                plan_.left_out.push_back("line " + std::to_string(l.number) +
                                         ": the host's job abort, its answer to an abort past the what-if's change");
                return;
            }
            if (c.code == 1) ++plan_.jobs;
            add(c, l);
            job_open_ = true;
            return;
        }
        if (job_open_ && (starts_with(t, "JobBeginsOrEnds returning") || t == "JobBeginsOrEnds before Rovane_Init: nothing done")) {
            job_open_ = false;
            for (auto it = calls_.rbegin(); it != calls_.rend(); ++it)
                if (it->kind == Call::Job) {
                    it->done = l.ms - base_;
                    break;
                }
            return;
        }
        if (t == "Options dialog opened") {
            Call c;
            c.kind = Call::Options;
            c.script = "dialog 119 click 2";  // left with Cancel unless the log shows it accepted
            add(c, l);
            options_open_ = true;
            return;
        }
        if (starts_with(t, "Options accepted: ")) {
            options_accepted(t);
            return;
        }
        if (t == "PostMoveAndPrint - Continuing...Previous printing complete.") {
            // Every move-and-print begins with this line; which code it was shows in the lines
            // after it (see print_code_line).
            Call c;
            c.kind = Call::MovePrint;
            add(c, l);
            print_code_open_ = true;
            post_open_ = false;
            return;
        }
        if (print_code_open_ && print_code_line(t)) return;
        if (starts_with(t, "Sending ") && (t.find(" file directly to ") != std::string::npos ||
                                           t.find(" file through SureThing to ") != std::string::npos)) {
            // A print's file: that of the oldest move-and-print not yet known to have one.
            const std::string file = t.find(" file directly to ") != std::string::npos
                                         ? between(t, "Sending ", " file directly to ")
                                         : between(t, "Sending ", " file through SureThing to ");
            for (Call& x : calls_)
                if (x.kind == Call::MovePrint && x.file.empty() && x.action != 2000 && !x.refused) {
                    x.file = file;
                    break;
                }
            return;
        }
        if (starts_with(t, "** PostMoveDisc ")) {
            Call c;
            c.kind = Call::Move;
            number_after(t, "** PostMoveDisc ", &c.action);
            number_after(t, "dwUnit=", &c.unit);
            number_after(t, "u=", &c.row);
            c.ended = !queues_steps(c.action);
            known_unit(c.row, c.unit);
            add(c, l);
            post_open_ = true;
            return;
        }
        if (starts_with(t, "Queue_Cmd: DONE:") || starts_with(t, "PRN_Queue: DONE:")) {
            long long row = -1;
            if (number_after(t, "DONE:", &row)) done_row_ = row;
            return;
        }
        const long named = move_action_named(t);
        if (named >= 0) {
            if (!post_open_ && done_row_ >= 0) {
                // The move's own line was lost: its queueing names the row and the action.
                Call c;
                c.kind = Call::Move;
                c.action = named;
                c.unit = unit_of(done_row_);
                c.row = done_row_;
                add(c, l);
                ++plan_.recovered_moves;
            }
            post_open_ = false;
            done_row_ = -1;
            return;
        }
        if (starts_with(t, "## PostMoveAndPrint ")) {
            // The request's own line, after its first (or alone, where that was lost).
            if (!print_code_open_) {
                Call c;
                c.kind = Call::MovePrint;
                add(c, l);
            }
            print_code_open_ = false;
            print_first_step_ = 0;
            Call& c = calls_.back();
            number_after(t, "## PostMoveAndPrint ", &c.action);
            number_after(t, "dwUnit=", &c.unit);
            number_after(t, "dwDiscNum=", &c.disc);
            last_disc_ = c.disc;
            number_after(t, "u=", &c.row);
            known_unit(c.row, c.unit);
            c.file = last_file_;
            c.unwaited = false;
            for (size_t k = 0; k + 1 < calls_.size(); ++k) c.unwaited = c.unwaited || (calls_[k].waiting() && calls_[k].unit == c.unit);
            print_open_ = true;
            post_open_ = false;
            return;
        }
        if (print_open_ && starts_with(t, "File1=")) {
            print_open_ = false;
            std::string file = t.substr(6);
            const size_t at = file.find("   File2=");
            if (at != std::string::npos) file = file.substr(0, at);
            last_file_ = file;
            if (!calls_.empty() && calls_.back().kind == Call::MovePrint) calls_.back().file = file;
            return;
        }
        if (t == "**&&** CheckPrinting returning Print NOT is process" || t == "**&&** CheckPrinting returning ABORT") {
            Call c;
            c.kind = Call::CheckPrinting;
            add(c, l);
            return;
        }
    }

    // The send thread's steps. Each posted move ends with a "DONE:ROW" step; one that no post of
    // the log accounts for is a move whose every line was lost (the module drops a line that
    // meets another thread's line being written). It is put back among the host's calls before
    // the first step of its batch, its action read from the steps: a recorder's letter first is a
    // load, a move to a reject position an unload to reject, else an unload.
    void send_thread_line(const LogLine& l) {
        const std::string& t = l.text;
        const bool global = starts_with(t, "Next GLOBAL CMD = "), print = starts_with(t, "Next PRINT CMD = ");
        if (!global && !print) return;
        const std::string step = t.substr(18, t.find("   ") == std::string::npos ? std::string::npos : t.find("   ") - 18);
        if (!starts_with(step, "DONE:")) {
            if (batch_.empty()) batch_calls_ = calls_.size();
            batch_.push_back(step);
            return;
        }
        long long row = -1;
        number_after(step, "DONE:", &row);
        const std::vector<std::string> steps = std::move(batch_);
        batch_.clear();
        // The moves are done in the order they were posted: the first of this row not yet done.
        for (Call& x : calls_)
            if (x.waiting() && x.row == row) {
                x.ended = true;
                return;
            }
        if (row < 0) return;
        // A move-and-print whose lines never told its code is the recorded disc's print this
        // step ends, its own line lost.
        for (Call& x : calls_)
            if (x.kind == Call::MovePrint && x.action == 0 && !x.refused) {
                x.action = 2000;
                x.row = row;
                x.unit = unit_of(row);
                x.disc = ++last_disc_;
                x.file = last_file_;
                x.ended = true;
                print_code_open_ = false;
                ++plan_.recovered_moves;
                return;
            }
        if (!global || steps.empty()) return;
        Call c;
        c.kind = Call::Move;
        c.row = row;
        c.unit = unit_of(row);
        const bool reject = std::find(steps.begin(), steps.end(), "_MOVE:G") != steps.end() ||
                            std::find(steps.begin(), steps.end(), "_MOVE:H") != steps.end();
        c.action = steps[0].size() == 1 ? 100 : (reject ? 300 : 200);
        c.ended = true;
        // Posted before every move still waiting its turn, else before the batch's first step.
        size_t at = std::min(batch_calls_, calls_.size());
        for (size_t k = 0; k < calls_.size(); ++k)
            if (calls_[k].waiting()) {
                at = std::min(at, k);
                break;
            }
        c.at = at < calls_.size() ? calls_[at].at : (at > 0 ? calls_[at - 1].at : 0);
        c.line = l.number;
        calls_.insert(calls_.begin() + static_cast<long>(at), c);
        ++plan_.recovered_moves;
    }

    void robot_line(const LogLine& l) {
        const std::string& t = l.text;
        if (starts_with(t, ">>Sent CMD = ")) {
            const std::string cmd = t.substr(13);
            std::string kind;
            if (cmd == "_PICK") kind = holding_ ? "drop" : "pick";
            else if (starts_with(cmd, "_MOVE:")) kind = "move";
            if (starts_with(cmd, "_MOVE:") && cmd.size() == 7) at_ = cmd[6];
            if (!kind.empty()) {
                last_kind_ = kind;
                last_n_ = ++motions_[kind];
                last_motion_ms_ = l.ms;
            }
            return;
        }
        if (t == "Disc PICKED UP successfully") {
            holding_ = true;
            ++picked_from_[at_];
            return;
        }
        if ((t == "INPUT EMPTY: Going to Next Input Bin" || t == "ERROR: INPUT_EMPTY") &&
            std::string("4251").find(at_) != std::string::npos) {
            // An input bin found empty before any disc was picked from it started empty. One found
            // empty with discs left in it (the world fills each with 25) is the robot's error A,
            // the disc not seen, at that pick.
            const int picked = picked_from_.count(at_) ? picked_from_[at_] : 0;
            if (picked == 0) {
                if (std::find(plan_.empty_bins.begin(), plan_.empty_bins.end(), at_) == plan_.empty_bins.end())
                    plan_.empty_bins.push_back(at_);
            } else if (picked < kDiscsPerInputBin && l.number <= follow_until_) {
                robot_error('A', l);
            }
            return;
        }
        if (t == "->AbortJob()" && holding_) {
            // The abort carries the disc in the picker to the reject position: a move and a drop
            // the module sends without a line of their own.
            ++motions_["move"];
            ++motions_["drop"];
            holding_ = false;
            return;
        }
        if (t == "Disc DROPPED OFF successfully") {
            holding_ = false;
            return;
        }
        // Past the line a what-if follows the log to, the machine and the operator are the world's.
        if (l.number > follow_until_) return;
        if (damaged_reply(l)) return;
        if (t == "Abort button pressed") {
            // The operator's answer to the robot's message that the last error line brought: the
            // replay's operator clicks Abort in the next showing after the host's last call before
            // that error (the default operator would press the robot's Pick button or wait). With
            // no error since the robot's last motion began, the message was the robot's pause: its
            // Pause button was pressed as that motion began.
            if (l.number <= follow_until_) think_ms_.push_back(l.ms - (error_since_motion_ ? alarm_ms_ : last_motion_ms_));
            if (!error_since_motion_ && !last_kind_.empty()) {
                ReplayFault f;
                f.pause = true;
                f.kind = last_kind_;
                f.n = last_n_;
                f.line = l.number;
                plan_.faults.push_back(f);
                calls_at_alarm_ = calls_at_motion_;
                error_since_motion_ = true;  // one pause, however many answers
            }
            add_answer(l, calls_at_alarm_, "dialog 117 click 1178", "Abort in the robot's message", "");
            return;
        }
        if (const char code = error_code(t)) robot_error(code, l);
    }

    // A robot error at the motion last sent, as the counted fault that raises it again (or why
    // it is left out).
    void robot_error(char code, const LogLine& l) {
        ReplayFault f;
        f.code = code;
        f.kind = last_kind_;
        f.n = last_n_;
        f.line = l.number;
        // The module logs an error at each status poll for as long as it stands: one fault.
        if (!last_error_.kind.empty() && last_error_.code == code && last_error_.kind == f.kind && last_error_.n == f.n)
            return;
        last_error_ = f;
        const std::string where = "line " + std::to_string(l.number) + ": robot error " + std::string(1, code);
        if (code == 'B' && printing_) {
            // During a print: the printer's own error if the print then never ends (see observe),
            // else the robot's, standing while the printer went on.
            if (!print_error_line_) print_error_line_ = l.number;
        } else if (f.kind.empty()) {
            plan_.left_out.push_back(where + " before any robot motion of the log");
        } else if (((code == 'A' || code == 'F') && f.kind != "pick") || (code == 'C' && f.kind != "move")) {
            plan_.left_out.push_back(where + " after a " + f.kind + ", where the robot cannot raise it");
        } else {
            plan_.faults.push_back(f);
        }
    }

    // A status reply damaged on the line. The robot's bad checksum is logged as the frame arrives
    // and followed by "no response" once the read gives up (100 ms later); "no response" alone is
    // a reply that never came whole: bytes missing (the read gives up 100 ms after the last one)
    // or nothing at all (500 ms after the query), which the log cannot tell apart, so the replay
    // drops bytes. The laminator's bad checksum has the same text but no "no response" after it.
    bool damaged_reply(const LogLine& l) {
        const std::string& t = l.text;
        if (t == "WARNING: CHECKSUM ERROR!! TRY AGAIN.") {
            checksum_ms_ = l.ms;
            return true;
        }
        if (t != "NOTE: PortRead() no response in GetSystemStatus") return false;
        const bool checksum = checksum_ms_ >= 0 && l.ms - checksum_ms_ <= 300;
        // When the damaged reply was sent: the frame takes about 12 ms on the line.
        const int64_t sent = checksum ? checksum_ms_ - 12 : l.ms - 112;
        checksum_ms_ = -1;
        ReplayFault f;
        f.kind = last_kind_.empty() ? "start" : last_kind_;  // before any motion: from start-up
        f.n = last_n_;
        f.line = l.number;
        f.damage = checksum ? "checksum" : "dropped";
        // The robot is asked three times a second: half a period early, the first reply after it
        // is the same one when the replay runs a little early or late.
        const int64_t from = last_kind_.empty() ? base_ : last_motion_ms_;
        f.after_ms = static_cast<uint64_t>(std::max<int64_t>(0, sent - from - 150));
        plan_.faults.push_back(f);
        return true;
    }

    // Moves with no job begun before them: the begin's line was lost (a line that meets another
    // thread's line being written is dropped). It is put back before the first move, with the
    // count the job's end names.
    void lost_job_begin() {
        size_t first = calls_.size();
        long long how_many = 0;
        for (size_t k = 0; k < calls_.size(); ++k) {
            const Call& c = calls_[k];
            if (c.kind == Call::Job && c.code == 1 && first == calls_.size()) return;
            if ((c.kind == Call::Move || c.kind == Call::MovePrint) && first == calls_.size()) first = k;
            if (c.kind == Call::Job && (c.code == 2 || c.code == 3) && !how_many) how_many = c.how_many;
        }
        if (first == calls_.size()) return;
        Call c;
        c.kind = Call::Job;
        c.code = 1;
        c.how_many = std::max<long long>(1, how_many);
        c.at = calls_[first].at;
        c.line = calls_[first].line;
        calls_.insert(calls_.begin() + static_cast<long>(first), c);
        ++plan_.jobs;
        plan_.left_out.push_back("the job's begin, its line lost: begun again before the first move, for " +
                                 std::to_string(c.how_many) + " disc(s) as its end names");
    }

    // The host's unit of a recorder row: as the log names it, else the world's (row + 1).
    long long unit_of(long long row) const {
        const std::vector<long>& u = plan_.machine.units;
        return row >= 0 && static_cast<size_t>(row) < u.size() && u[static_cast<size_t>(row)] >= 0 ? u[static_cast<size_t>(row)] : row + 1;
    }

    // The recorder's row and the host's unit for it, as a request's line tells them (a log without
    // its start-up has no recorder lines).
    void known_unit(long long row, long long unit) {
        ReplayMachine& m = plan_.machine;
        if (row < 0 || row >= 64 || unit < 0) return;
        if (m.units.size() <= static_cast<size_t>(row)) m.units.resize(static_cast<size_t>(row) + 1, -1);
        if (m.units[static_cast<size_t>(row)] < 0) m.units[static_cast<size_t>(row)] = static_cast<long>(unit);
    }

    // A log that begins in the middle of the machine's work: the state its lines imply, made by
    // the prologue the replay runs first. A recorder whose first request in the log takes a disc
    // out of it (an unload, a reject, a print of its disc) held a disc: the prologue loads it.
    // A job whose end comes without its begin was under way: the prologue begins it, with the
    // count its end names. The robot's motions the prologue makes come before the log's, so the
    // faults counted in motions are counted on past them. What the host cannot bring about (a
    // disc on the picker, a print under way) is said.
    void mid_job_state() {
        std::set<long long> seen;
        for (const Call& c : calls_) {
            if ((c.kind != Call::Move && c.kind != Call::MovePrint) || c.row < 0 || !seen.insert(c.row).second) continue;
            const bool takes_out = c.action == 200 || c.action == 201 || c.action == 300 || c.action == 301 || c.action == 2000;
            if (takes_out) prologue_loads_.push_back(c.unit);
        }
        long long how_many = 0;
        bool begun = false, moved = false;
        for (const Call& c : calls_) {
            if (c.kind == Call::Job && c.code == 1 && !moved) begun = true;
            if (c.kind == Call::Job && (c.code == 2 || c.code == 3) && !how_many) how_many = c.how_many;
            if (c.kind == Call::Move || c.kind == Call::MovePrint) {
                moved = true;
                how_many = std::max(how_many, c.disc);
            }
        }
        if (!begun && moved) prologue_job_ = std::max<long long>(1, how_many);
        if (prologue_job_) ++plan_.jobs;
        const uint64_t loads = prologue_loads_.size();
        for (ReplayFault& f : plan_.faults) {
            if (f.kind == "move") f.n += 2 * loads;
            else if (f.kind == "pick" || f.kind == "drop") f.n += loads;
        }
        std::string held;
        for (long long u : prologue_loads_) held += (held.empty() ? "" : ", ") + std::to_string(u);
        if (!held.empty()) plan_.left_out.push_back("the log begins in the middle of the machine's work: the replay loads recorder unit(s) " + held +
                                                    " first, which the log shows holding a disc");
        if (picker_held_at_start_)
            plan_.left_out.push_back("line " + std::to_string(picker_held_at_start_) +
                                     ": a disc on the picker when the log begins (no host call puts one there: the replay's picker is empty)");
        if (printer_work_at_start_)
            plan_.left_out.push_back("line " + std::to_string(printer_work_at_start_) +
                                     ": the printer's work under way when the log begins (its request came before the log)");
        if (plan_.machine.model.empty())
            plan_.left_out.push_back("the robot's model, firmware and recorders (the log has no start-up: the world's own)");
        // The settings file names the printer the log shows, so that the start-up finds it.
        ReplayMachine& m = plan_.machine;
        if (!m.printer.empty() || !m.printer_kind_seen.empty()) m.printer_from_settings = true;
        if (m.laminator) m.laminator_at_start = true;
    }

    // The replay's own start-up before a log that has none: init, the job under way begun again,
    // the recorders that held discs loaded, then the marker after which the logs are compared.
    void write_prologue(std::string& s) {
        s += "# The log begins in the middle of the machine's work: a start-up and the state it implies first.\n";
        s += "init " + plan_.machine.host + "\n";
        if (prologue_job_) s += "job begin " + std::to_string(prologue_job_) + "\n";
        for (long long u : prologue_loads_) s += "move " + std::to_string(u) + " 100\nwait " + std::to_string(u) + "\n";
        s += "job 4 " + std::to_string(kPrologueMarker) + "\n";
        s += "# From here, the log's own calls.\n";
    }

    // The index of the host's last call of that kind (the call a question came in), or the count.
    size_t last_call(Call::Kind kind) const {
        for (size_t k = calls_.size(); k-- > 0;)
            if (calls_[k].kind == kind) return k;
        return calls_.size();
    }

    // An answer of the operator, put among the host's calls after the first `at` of them: `script`
    // is its line of the host script ("" where the world's operator gives that answer anyway).
    void add_answer(const LogLine& l, size_t at, const std::string& script, const std::string& what, const std::string& from) {
        if (l.number > follow_until_) return;
        if (!script.empty()) {
            Call c;
            c.kind = Call::Answer;
            at = std::min(at, calls_.size());
            c.at = at > 0 ? calls_[at - 1].at : 0;
            c.line = l.number;
            c.script = script;
            calls_.insert(calls_.begin() + static_cast<long>(at), c);
            if (question_at_ >= at && question_line_) ++question_at_;
        }
        ReplayAnswer a;
        a.line = l.number;
        a.what = what;
        a.inferred = !from.empty();
        a.from = from;
        plan_.answers.push_back(a);
    }

    // "Options accepted: port COM1, printer Pellan IV, laminator on": the operator's choices, made
    // again in the replay's showing of the dialog, then OK.
    void options_accepted(const std::string& t) {
        options_open_ = false;
        const std::string port = between(t, "port ", ", printer ");
        const std::string printer = between(t, ", printer ", ", laminator ");
        const bool lam = t.size() > 3 && t.compare(t.size() - 3, 3, " on") == 0;
        std::string dialog = "dialog 119";
        if (!port.empty()) dialog += " select 1080 " + script_word(port) + ";";
        if (!printer.empty()) {
            const bool none = starts_with(printer, "- ");
            dialog += " select 1201 " + script_word(none ? printer : printer + " on LPT1:") + ";";
            if (!none && plan_.machine.printer.empty()) plan_.machine.printer = printer;
        }
        dialog += lam ? " check 1200;" : " uncheck 1200;";
        dialog += " click 1";
        for (auto it = calls_.rbegin(); it != calls_.rend(); ++it)
            if (it->kind == Call::Options) {
                it->script = dialog;
                break;
            }
        if (lam) {
            plan_.machine.laminator = true;
            lam_chosen_in_options_ = !plan_.machine.laminator_at_start;
        }
    }

    // The lines after "PostMoveAndPrint - Continuing..." that tell a request without its own
    // line apart: a blank disc printed (1000: its first step the move to the input bin, then
    // the print), laminated only (4000), the disc in the printer printed (5000), a print refused
    // for want of a printer, or a recorded disc printed (2000) whose own line the log lost: its
    // first step a move to a recorder, its row in its "DONE:" step. True when `t` settled it.
    bool print_code_line(const std::string& t) {
        Call* c = nullptr;
        for (auto it = calls_.rbegin(); it != calls_.rend() && !c; ++it)
            if (it->kind == Call::MovePrint) c = &*it;
        if (!c) return false;
        if (starts_with(t, "Queue_Cmd: _MOVE:") && print_first_step_ == 0) print_first_step_ = t.size() > 17 ? t[17] : ' ';
        long long code = 0, row = -1;
        // A print that waits behind another ("PRINT:" 1 and up) is a recorded disc's.
        if (starts_with(t, "PRN_Queue: PRINT:") && t.size() > 17 && t[17] != '0') print_first_step_ = 'A';
        const bool to_recorder = print_first_step_ >= 'A' && print_first_step_ <= 'D';
        const bool to_bin = print_first_step_ == ' ';
        if (t == "ERROR: No printer selected!" || (starts_with(t, "PRN_Queue: PRINT:0") && to_bin)) code = 1000;
        else if (starts_with(t, "PRN_Queue: _LAMOUT") && to_bin) code = 4000;
        else if (t == "**&&** PIP is set to TRUE (PMP Case 5000)") code = 5000;
        else if (to_recorder && (starts_with(t, "Queue_Cmd: DONE:") || starts_with(t, "PRN_Queue: DONE:")) &&
                 number_after(t, "DONE:", &row))
            code = 2000;
        if (!code) return false;
        c->action = code;
        c->unit = code == 2000 ? unit_of(row) : 0;
        c->row = row;
        // A lost request's disc: the one after the last the host printed.
        c->disc = code == 2000 ? ++last_disc_ : 1;
        if (code == 2000) {
            c->file = last_file_;
            ++plan_.recovered_moves;
        }
        c->refused = starts_with(t, "ERROR");
        print_code_open_ = false;
        print_first_step_ = 0;
        return starts_with(t, "ERROR") || starts_with(t, "**&&**");
    }

    // A question of the initial input bin that nothing after it answered.
    void open_question_left(const char* why) {
        if (!question_line_) return;
        plan_.left_out.push_back("line " + std::to_string(question_line_) +
                                 ": the answer to the question of the initial input bin (" + why +
                                 " before a pick tells it: the world's operator answers Yes)");
        question_line_ = 0;
    }

    // The lines that tell of the operator's answers, of the printer's and the laminator's faults,
    // of discs left in them, of failing tray calls and of how long the robot's motions took. They
    // are only looked at here: robot_line reads the same lines for the robot.
    void observe(const LogLine& l) {
        const std::string& t = l.text;
        ReplayMachine& m = plan_.machine;
        if (starts_with(t, "ERROR: ") || t == "No Disc found in Recorder -> Retrying" || t == "COVER OPEN") {
            // A robot message's cause: its answer comes after the host's calls before it.
            calls_at_alarm_ = calls_.size();
            alarm_ms_ = l.ms;
            error_since_motion_ = true;
        }
        if (starts_with(t, ">>Sent CMD = ")) {
            error_since_motion_ = false;
            calls_at_motion_ = calls_.size();
            if (t == ">>Sent CMD = _PICK") pick_sent_ms_ = l.ms;
            if (starts_with(t, ">>Sent CMD = _MOVE:") && t.size() == 20 && t[19] != robot_at_) {
                move_sent_ms_ = l.ms;
                move_to_ = t[19];
            }
            // A move the send thread resolved to the current input bin ("_MOVE:" alone).
            if (bin_move_next_ && starts_with(t, ">>Sent CMD = _MOVE:") && t.size() == 20) {
                const char bin = t[19];
                if (question_line_) {
                    const LogLine asked{question_line_, 0, "", ""};
                    if (bin == current_bin_)
                        add_answer(asked, question_at_, "answer \"Initial input bin=NO\" once",
                                   "No to the question of the initial input bin",
                                   std::string("the job picked from input bin ") + bin + " again");
                    else
                        add_answer(asked, question_at_, "", "Yes to the question of the initial input bin",
                                   std::string("the job went back to input bin ") + bin);
                    question_line_ = 0;
                }
                current_bin_ = bin;
            }
            bin_move_next_ = false;
            return;
        }
        if (starts_with(t, "Next GLOBAL CMD = _MOVE:   ") || starts_with(t, "Next PRINT CMD = _MOVE:   ")) {
            bin_move_next_ = true;
            return;
        }
        if (starts_with(t, " MOVETO:") && t.size() > 9) {
            // " MOVETO:A Successful."
            if (move_sent_ms_ >= 0 && t[8] == move_to_) {
                const double seen = static_cast<double>(l.ms - move_sent_ms_) - kMoveLagMs;
                if (seen > 0) speeds_.push_back(kWorldMoveMs / seen);
            }
            move_sent_ms_ = -1;
            robot_at_ = t[8];
            return;
        }
        if (t == "Disc PICKED UP successfully" || t == "Disc DROPPED OFF successfully") {
            // A log that begins with a drop began with a disc on the picker.
            if (!picker_known_ && t[5] == 'D') picker_held_at_start_ = l.number;
            picker_known_ = true;
        }
        if (starts_with(t, "Next PRINT CMD = ") && printer_work_at_start_ == 0 && last_call(Call::MovePrint) == calls_.size())
            printer_work_at_start_ = l.number;
        if ((t == "Disc PICKED UP successfully" || t == "Disc DROPPED OFF successfully") && pick_sent_ms_ >= 0) {
            pick_ms_.push_back(l.ms - pick_sent_ms_);
            const double seen = static_cast<double>(pick_ms_.back()) - kPickLagMs;
            if (seen > 0) speeds_.push_back(kWorldPickMs / seen);
            pick_sent_ms_ = -1;
            if (t == "Disc DROPPED OFF successfully") ++drops_;
            return;
        }
        if (t == "INPUT EMPTY: Going to Next Input Bin") {
            ++bin_index_;
            return;
        }
        if (t == "ConcurrentJob = FALSE") {
            // A job not run on from the one before: the reject counts start again, and with a bin
            // other than the first in use the operator is asked whether to go back to the first.
            open_question_left("the next job began");
            rejects_g_ = rejects_h_ = 0;
            if (bin_index_ > 0) {
                question_line_ = l.number;
                question_at_ = last_call(Call::Job);
            }
            return;
        }
        if (starts_with(t, "JobBeginsOrEnds 2") || starts_with(t, "JobBeginsOrEnds 3")) {
            open_question_left("the job ended");
            return;
        }
        if (starts_with(t, "#!#$#%^ Pick UP requested-verified but we have NO disc") && last_error_.code == 'F') {
            // After the disc not picked, the module going back to the bin means the robot's error
            // was cleared with Pause and Pick together rather than the pick made again with Pick.
            think_ms_.push_back(l.ms - alarm_ms_);
            add_answer(l, calls_at_alarm_, "answer \"disc was not picked=PAUSEPICK\" once",
                       "Pause and Pick to the disc not picked", "the module went back to the bin for it");
            return;
        }
        if (t == "User selected to use only 3 bins") {
            think_ms_.push_back(l.ms - prev_ms_);
            // No to picking from all four input bins, asked at the job's begin: a laminator is
            // installed there that does not answer.
            m.lam_silent = true;
            add_answer(l, last_call(Call::Job), "answer \"all 4 input bins=NO\" once", "No to picking from all four input bins", "");
            return;
        }
        if (t == "Reject position full - job aborted") {
            think_ms_.push_back(l.ms - prev_ms_);
            // The operator's Cancel to the full reject position(s), asked in the host's last move.
            add_answer(l, last_call(Call::Move), "answer \"reject position=CANCEL\" once", "Cancel to the full reject position", "");
            return;
        }
        if ((t == "Reject" || t == "Reject (no error)") && !calls_.empty()) {
            // The reject position the request was queued to: G again with G full is the
            // operator's Retry (the world's operator empties the positions first, then Retry).
            if (reject_to_ == 'G') {
                if (rejects_g_ >= kRejectCapacity && (m.laminator || rejects_h_ >= kRejectCapacity)) {
                    add_answer(l, calls_.size(), "", "Retry to the full reject position",
                               "the reject queued to G again");
                    rejects_g_ = 0;
                    if (!m.laminator) rejects_h_ = 0;
                }
                ++rejects_g_;
            } else if (reject_to_ == 'H') {
                ++rejects_h_;
            }
            reject_to_ = 0;
            return;
        }
        if (starts_with(t, "Queue_Cmd: _MOVE:G ")) reject_to_ = 'G';
        else if (starts_with(t, "Queue_Cmd: _MOVE:H ")) reject_to_ = 'H';
        if (t == "(__PRINTING STARTED__)") {
            printing_ = true;
            ++prints_;
            return;
        }
        if (print_error_line_ && (t == "===COMPLETED PRINTING===" || starts_with(t, "More than 60 seconds of waiting for printer"))) {
            // Error B in a print the module then waited 60 s for: the printer stopped halfway, its
            // fault counted in prints. A print that ended after all: the robot's error B, whose
            // moment in the print the counted motions cannot place.
            const std::string where = "line " + std::to_string(print_error_line_) + ": error B in print " + std::to_string(prints_);
            if (t[0] == '=') plan_.left_out.push_back(where + " (the robot's, standing while the printer finished)");
            else if (prints_ == m.print_fail + 1) ++m.print_fail;
            else plan_.left_out.push_back(where + " (the world's printer fails only its first prints)");
            print_error_line_ = 0;
        }
        if (t == "===COMPLETED PRINTING===") {
            printing_ = false;
            return;
        }
        if (starts_with(t, "Laminate with ")) {
            ++laminations_;
            return;
        }
        if (t == "Lam tray out but no disc - probably fell off" || t == "ERROR: LAMERR_DISK_JAM") {
            // Counted in laminations: the world's laminator fails its first ones.
            const bool fall = t[0] == 'L';
            int& first = fall ? m.lam_falls : m.lam_jams;
            if (l.number <= follow_until_) {
                if (laminations_ == first + 1) ++first;
                else if (laminations_ > first)
                    plan_.left_out.push_back("line " + std::to_string(l.number) + ": lamination " + std::to_string(laminations_) +
                                             (fall ? "'s disc fell off" : " jammed") +
                                             " (the world's laminator fails only its first laminations)");
            }
            if (fall) {
                fall_line_ = l.number;
                fall_at_ = calls_.size();
            }
            return;
        }
        if (fall_line_ && (t == "===COMPLETED LAMINATING===" || starts_with(t, "CheckMoveDisc:  g_fJobAborted=TRUE") ||
                           starts_with(t, "<-WaitForLaminating"))) {
            // Lamination done after all: the disc went back on the tray and Retry (the world's
            // operator does so); the job aborted: Cancel.
            const LogLine asked{fall_line_, 0, "", ""};
            if (t[0] == '=')
                add_answer(asked, fall_at_, "", "Retry to the disc fallen off the laminator's tray", "the lamination was done");
            else
                add_answer(asked, fall_at_, "answer \"fallen out of the laminator tray=CANCEL\" once",
                           "Cancel to the disc fallen off the laminator's tray", "the job was aborted");
            fall_line_ = 0;
            return;
        }
        if (drops_ == 0 && t == "Disc left in printer - queue commands to reject") m.printer_disc_left = true;
        if (drops_ == 0 && t == "Disc left in laminator - queue commands to remove") m.lam_disc_left = true;
        if (starts_with(t, "OPEN TRAY ") || starts_with(t, "CLOSE TRAY ")) {
            // Each recorder's tray calls: the failures before its first call that met none.
            if (tray_row_ >= 0 && !tray_call_failed_) tray_settled_.insert(tray_row_);
            long long row = -1;
            number_after(t, "TRAY ", &row);
            tray_row_ = row;
            tray_call_failed_ = false;
            tray_seen_.insert(row);
            return;
        }
        if (starts_with(t, "Closing DQ_OpenCloseTray error: ") && tray_row_ >= 0) {
            tray_call_failed_ = true;
            if (!tray_settled_.count(tray_row_)) ++tray_failures_[tray_row_];
        }
    }

    // The machine's speed from the picks' and drops' durations: the world takes kWorldPickMs at
    // speed 1, and the module sees the end half a pass after it on average.
    void machine_speed() {
        if (!pick_ms_.empty()) {
            std::vector<int64_t> v = pick_ms_;
            std::nth_element(v.begin(), v.begin() + static_cast<long>(v.size() / 2), v.end());
            plan_.machine.pick_ms = v[v.size() / 2];
        }
        if (speeds_.empty()) return;
        std::nth_element(speeds_.begin(), speeds_.begin() + static_cast<long>(speeds_.size() / 2), speeds_.end());
        plan_.machine.speed = std::min(100.0, std::max(0.1, speeds_[speeds_.size() / 2]));
    }

    // The operator's think time: the median of the delays the log shows between a question
    // shown and its one-button answer (the world's operator takes the same time for each). A
    // dialog's answer is not counted: the world's operator takes that time again for each of
    // its actions, and how many the person made the log does not tell.
    void operator_think() {
        std::vector<int64_t> v;
        for (int64_t ms : think_ms_)
            if (ms >= 0) v.push_back(ms);
        if (v.empty()) return;
        std::nth_element(v.begin(), v.begin() + static_cast<long>(v.size() / 2), v.end());
        plan_.machine.think = static_cast<double>(v[v.size() / 2]) / 1000.0;
        plan_.machine.think_samples = static_cast<int>(v.size());
    }

    // The world fails the first N tray calls of every recorder alike.
    void tray_faults() {
        std::set<int> counts;
        for (long long row : tray_seen_) counts.insert(tray_failures_.count(row) ? tray_failures_[row] : 0);
        if (counts.size() == 1) {
            plan_.machine.tray_fail = *counts.begin();
        } else if (counts.size() > 1) {
            std::string list;
            for (long long row : tray_seen_)
                list += (list.empty() ? "" : ", ") + std::to_string(tray_failures_.count(row) ? tray_failures_[row] : 0);
            plan_.left_out.push_back("failing tray calls unlike from recorder to recorder (" + list +
                                     "): the world fails every recorder's first ones alike");
        }
    }

    void write_flags() {
        const ReplayMachine& m = plan_.machine;
        std::vector<std::string>& f = plan_.flags;
        size_t recorders = 0;
        for (const std::string& s : m.serials) recorders += !s.empty();
        // Without the start-up's recorder lines, the rows the requests name.
        if (recorders == 0 && mid_job_) recorders = m.units.size();
        int drives = recorders == 1 || recorders == 2 ? static_cast<int>(recorders) : 4;
        if (recorders == 0 && m.robot_drives == 2) drives = 2;
        f.insert(f.end(), {"--drives", std::to_string(drives)});
        if (!m.drive_code.empty()) f.insert(f.end(), {"--drive-code", m.drive_code});
        if (!m.model.empty()) f.insert(f.end(), {"--model", m.model});
        if (!m.firmware.empty()) f.insert(f.end(), {"--firmware", m.firmware});
        if (!m.port.empty()) {
            f.insert(f.end(), {"--port", m.port});
            // The settings file names any other port than the first, as a job's machine has it.
            if (m.port != "COM1") f.insert(f.end(), {"--setting", "Com=" + m.port});
        }
        if (m.printer.empty() && m.printer_from_settings) {
            // The settings file named a printer the module found, but the log never names it (no
            // print was sent): some printer of that name must be there for start-up to go the
            // same way. Its kind shows where it has a tray command or a position of its own;
            // otherwise a "Pellan IV" goes the same way.
            if (!m.printer_kind_seen.empty()) {
                plan_.machine.printer = m.printer_kind_seen;
                plan_.left_out.push_back("the disc printer's name (not logged: \"" + m.printer_kind_seen +
                                         "\" by what the module did with it)");
            } else {
                plan_.machine.printer = "Pellan IV";
                plan_.left_out.push_back("the disc printer's name (not logged: \"Pellan IV\" assumed)");
            }
        }
        if (!m.printer.empty()) {
            f.insert(f.end(), {"--printer", m.printer});
            if (m.printer_from_settings) f.insert(f.end(), {"--setting", "Printer=" + m.printer});
        }
        if (m.laminator || m.lam_silent) f.push_back("--laminator");
        if (m.lam_silent) f.push_back("--lam-silent");
        // In use from start-up; one first ticked in the options dialog is ticked there again.
        if (m.laminator && m.laminator_at_start) f.insert(f.end(), {"--setting", "Laminate Disc=1"});
        if (m.printer_disc_left) f.push_back("--printer-disc-left");
        if (m.lam_disc_left) f.push_back("--lam-disc-left");
        if (m.tray_fail) f.insert(f.end(), {"--tray-fail", std::to_string(m.tray_fail)});
        if (m.print_fail) f.insert(f.end(), {"--print-fail", std::to_string(m.print_fail)});
        if (m.lam_falls) f.insert(f.end(), {"--lam-falls", std::to_string(m.lam_falls)});
        if (m.lam_jams) f.insert(f.end(), {"--lam-jam", std::to_string(m.lam_jams)});
        for (char bin : plan_.empty_bins) f.insert(f.end(), {"--empty-bin", std::string(1, bin)});
        for (const ReplayFault& x : plan_.faults) f.insert(f.end(), {x.flag_name(), x.flag()});
        for (size_t i = 0; i < m.serials.size(); ++i)
            if (!m.serials[i].empty() && m.serials[i] != "SN-DRIVE-" + std::to_string(i + 1))
                plan_.left_out.push_back("recorder " + std::to_string(i) + "'s serial number \"" + m.serials[i] +
                                         "\" (the replay's recorders have the world's own)");
    }

    void write_script() {
        std::string& s = plan_.script;
        s += "# The host's calls of the log, each no earlier than its logged time from start-up.\n";
        // A request whose file the log does not name (refused, or never printed) takes another's.
        std::string any_file;
        for (const Call& c : calls_)
            if (c.kind == Call::MovePrint && !c.file.empty()) any_file = c.file;
        for (Call& c : calls_)
            if (c.kind == Call::MovePrint && c.file.empty()) c.file = any_file;
        std::set<std::string> files;
        for (const Call& c : calls_)
            if (c.kind == Call::MovePrint && !c.file.empty() && files.insert(c.file).second)
                s += "printfile " + script_word(c.file) + " " + print_kind_for(c.file, plan_.machine.printer) + "\n";
        // The printer selection dialog's showings, answered as the log shows them: the printer
        // (its list line "NAME on PORT", the world's port) and "Use Laminator" when the module
        // used the laminator; OK. Without a printer the line is the list's last, "no printer".
        for (const std::string& name : plan_.machine.dialog_choices) {
            s += "dialog 122 select 1081 " + script_word(name.empty() ? "- Not using a disc printer -" : name + " on LPT1:");
            if (plan_.machine.laminator && !name.empty()) s += "; check 1197";
            s += "; click 1\n";
        }
        int64_t now = 0;
        bool first = true, after_end = false;
        std::map<long long, bool> unwaited;  // units with a move posted and not yet waited for
        auto wait_all = [&] {
            for (auto& [unit, open] : unwaited)
                if (open) s += "wait " + std::to_string(unit) + "\n";
            unwaited.clear();
        };
        for (const Call& c : calls_) {
            int64_t gap = c.at - now;
            // A new session's start-up after an end: the machine was switched off meanwhile.
            if (after_end && c.kind == Call::Init) gap = std::min<int64_t>(gap, 1000);
            if (!first && gap > 0) {
                for (int64_t left = gap; left > 0; left -= 86400000)
                    s += "sleep " + std::to_string(std::min<int64_t>(left, 86400000)) + "\n";
            }
            first = false;
            now = std::max(now, c.at);
            if (after_end && c.kind == Call::Init) now = c.at;
            after_end = false;
            switch (c.kind) {
                case Call::Init:
                    if (c.prologue) write_prologue(s);
                    else s += "init " + plan_.machine.host + "\n";
                    break;
                case Call::Job:
                    if (c.code == 2) wait_all();
                    if (c.code == 1) s += "job begin " + std::to_string(c.how_many) + "\n";
                    else if (c.code == 2) s += "job end " + std::to_string(c.how_many) + "\n";
                    else if (c.code == 3) s += "job abort " + std::to_string(c.how_many) + "\n";
                    else s += "job " + std::to_string(c.code) + " " + std::to_string(c.how_many) + "\n";
                    if (c.code == 3) wait_all();
                    break;
                case Call::Move:
                case Call::MovePrint:
                    if (c.kind == Call::MovePrint && c.action == 0) {
                        plan_.left_out.push_back("line " + std::to_string(c.line) +
                                                 ": a move-and-print whose code its lines do not tell");
                        continue;
                    }
                    if (unwaited[c.unit] && !c.unwaited) s += "wait " + std::to_string(c.unit) + "\n";
                    if (c.kind == Call::Move) {
                        s += "move " + std::to_string(c.unit) + " " + std::to_string(c.action) + "\n";
                        unwaited[c.unit] = true;
                    } else {
                        s += "moveprint " + std::to_string(c.unit) + " " + std::to_string(c.action) + " " +
                             std::to_string(c.disc) + " " + script_word(c.file.empty() ? "C:\\Labels\\pellan-iv.PRN" : c.file) + "\n";
                        unwaited[c.unit] = c.action == 2000;
                    }
                    break;
                case Call::CheckPrinting:
                    s += "checkprinting\n";
                    break;
                case Call::Answer:
                    s += c.script + "\n";
                    break;
                case Call::Options:
                    s += c.script + "\noptions\n";
                    break;
                case Call::End:
                    // Moves cut short by the end are followed after it (they end with 4).
                    if (!c.cut_short) wait_all();
                    s += "end\n";
                    wait_all();
                    after_end = true;
                    break;
            }
            if (c.kind != Call::Answer) ++plan_.calls;
            if (c.done > now) now = c.done;
        }
        wait_all();
    }

    ReplayPlan plan_;
    std::vector<Call> calls_;
    bool have_base_ = false;
    int64_t base_ = 0;
    bool init_open_ = false, job_open_ = false, post_open_ = false, print_open_ = false;
    long long done_row_ = -1;
    std::vector<std::string> batch_;    // the send thread's steps since its last "DONE:"
    size_t batch_calls_ = 0;            // the host's calls logged before the batch's first step
    size_t calls_at_alarm_ = 0;         // the host's calls logged before the last error line
    size_t calls_at_motion_ = 0;        // the host's calls logged before the robot's last motion
    bool error_since_motion_ = false;   // an error line since the robot's last motion was sent
    bool options_open_ = false;         // in the options dialog (its printer choice is its own)
    bool dialog_closing_ = false;       // the printer selection dialog chosen in, closing
    int64_t prev_ms_ = 0;               // the time of the line before the one being read
    int64_t alarm_ms_ = 0;              // the time of the last error line
    std::vector<int64_t> think_ms_;     // each answer's delay after its question
    bool mid_job_;                      // the log has no start-up
    std::vector<long long> prologue_loads_;  // units the prologue loads
    long long prologue_job_ = 0;        // the disc count of the job the prologue begins (0: none)
    bool picker_known_ = false;
    size_t picker_held_at_start_ = 0, printer_work_at_start_ = 0;
    bool lam_chosen_in_options_ = false;
    bool print_code_open_ = false;      // a move-and-print whose code its lines have not yet told
    char print_first_step_ = 0;         // where its first global step goes ("_MOVE:" + this)
    long long last_disc_ = 0;           // the disc number of the last move-and-print logged
    // The input bins: the index in use, the bin the robot last went to for a disc, and an open
    // question of going back to the first (its line, and the host's calls before its job's begin).
    int bin_index_ = 0;
    char current_bin_ = 0;
    bool bin_move_next_ = false;        // the send thread's next move is to the current input bin
    size_t question_line_ = 0, question_at_ = 0;
    int rejects_g_ = 0, rejects_h_ = 0; // discs put in each reject position since the job began
    char reject_to_ = 0;                // the reject position the last queued request goes to
    bool printing_ = false;             // a print started and not yet completed
    size_t print_error_line_ = 0;       // error B logged in the print under way
    int prints_ = 0, laminations_ = 0;
    size_t fall_line_ = 0, fall_at_ = 0;  // a disc fallen off the laminator, not yet answered
    int64_t pick_sent_ms_ = -1, move_sent_ms_ = -1;
    char robot_at_ = 0, move_to_ = 0;   // where the robot last arrived, and where it is going
    std::vector<double> speeds_;        // the machine's speed as each motion's time tells it
    std::vector<int64_t> pick_ms_;      // every pick's and drop's time to its end
    int drops_ = 0;
    long long tray_row_ = -1;           // the recorder of the last tray call
    bool tray_call_failed_ = false;
    std::set<long long> tray_seen_, tray_settled_;
    std::map<long long, int> tray_failures_;
    size_t follow_until_;               // the last line whose faults and answers are taken
    std::string last_file_;
    // The robot's motions as the log shows them sent, for the counted faults.
    bool holding_ = false;
    char at_ = 0;                     // where the last move sent the robot
    std::map<char, int> picked_from_;  // discs picked up, by place
    std::map<std::string, uint64_t> motions_;
    std::string last_kind_;
    uint64_t last_n_ = 0;
    int64_t last_motion_ms_ = 0;   // when the last motion was sent (from the banner)
    int64_t checksum_ms_ = -1;     // a bad checksum logged, waiting for the read to give up
    ReplayFault last_error_;       // the robot error logged last
};

}  // namespace

void add_what_if(ReplayPlan* plan, const std::vector<std::string>& answers, const std::vector<std::string>& settings) {
    // The answers come first: the operator tries the rules in the order they were given, so these
    // win over the default ones and over the answers read from the log.
    std::string lines;
    for (const std::string& a : answers) lines += "answer " + script_word(a) + "\n";
    const size_t first = plan->script.find('\n');
    plan->script.insert(first == std::string::npos ? 0 : first + 1, lines);
    // Given after the log's own settings, so that they are the ones the settings file keeps.
    for (const std::string& kv : settings) plan->flags.insert(plan->flags.end(), {"--setting", kv});
}

void drop_prologue(std::vector<LogLine>* replay) {
    const std::string marker = "JobBeginsOrEnds 4   dwHowMany=" + std::to_string(kPrologueMarker);
    for (size_t k = 0; k < replay->size(); ++k)
        if ((*replay)[k].text == marker) {
            size_t end = k + 1;
            if (end < replay->size() && starts_with((*replay)[end].text, "JobBeginsOrEnds returning")) ++end;
            replay->erase(replay->begin(), replay->begin() + static_cast<long>(end));
            return;
        }
}

std::string job_outcome(const std::vector<LogLine>& lines) {
    for (const LogLine& l : lines)
        if (l.text == "->AbortJob()" || starts_with(l.text, "Aborted=TRUE") || l.text == "Abort button pressed" ||
            starts_with(l.text, "Job Aborted"))
            return "job aborted at line " + std::to_string(l.number) + " (" + l.text + ")";
    return "job not aborted";
}

ReplayPlan plan_replay(const std::vector<LogLine>& lines, size_t follow_until) {
    bool init = false;
    for (const LogLine& l : lines) init = init || starts_with(l.text, "********************* RovaneInit");
    Planner p(follow_until, !init);
    for (const LogLine& l : lines) p.line(l);
    return p.finish();
}

std::string print_kind_for(const std::string& path, const std::string& printer) {
    static const char* const kKinds[] = {"pellan-iv", "pellan-pro", "optical-disc-printer", "varrow", "varrow-2",
                                         "tessik-6", "label"};
    const size_t slash = path.find_last_of("\\/");
    std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    const size_t dot = base.rfind('.');
    if (dot != std::string::npos) base = base.substr(0, dot);
    std::transform(base.begin(), base.end(), base.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    for (const char* k : kKinds)
        if (base == k) return k;
    // A label design goes through the label application; otherwise a file the printer takes, its
    // kind by the printer's name.
    if (path.size() >= 4 && (path.compare(path.size() - 4, 4, ".STD") == 0 ||
                                                         path.compare(path.size() - 4, 4, ".std") == 0))
        return "label";
    if (starts_with(printer, "Tessik 6")) return "tessik-6";
    if (starts_with(printer, "Optical Disc Printer")) return "optical-disc-printer";
    if (starts_with(printer, "Pellan PRO")) return "pellan-pro";
    if (starts_with(printer, "Varrow")) return "varrow";
    return "pellan-iv";
}

}  // namespace logview
