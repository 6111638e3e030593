// Reading the module's diagnostic log, "Rovane_QIX.dbg", as the module writes it on a machine:
// one line a message, "MM/DD hh:mm:ss:mmm  " (month, day, hour, minute, second, millisecond and
// two blanks) and the text, ended by CR LF. The module restarts the file empty once it has grown
// past 700,000 bytes, so a log may begin or end anywhere in a job; a file cut at an arbitrary
// byte may also begin or end in the middle of a line.
//
// The reader is a stream: bytes go in as they are read, lines come out one at a time (each once
// the line after it is read), and it keeps only the line it is in (at most kMaxLineBytes of it)
// and the one line it has not placed yet, whatever the size of the file.
//
// Every line that carries a stamp comes out; a line without one (the cut-off head of a file,
// damaged bytes) is counted as unparseable and skipped, and a last line without its CR LF is
// counted as truncated and skipped. Empty lines (a logged text that itself ended in CR LF) are
// skipped without counting. Nothing in a log makes the reader fail.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace logview {

struct LogLine {
    size_t number = 0;   // line number in the file, from 1
    int64_t ms = 0;      // milliseconds on the log's own clock (see below), never decreasing
    std::string stamp;   // "MM/DD hh:mm:ss:mmm" as written
    std::string text;    // the logged text
};

// A line whose time does not fit the lines around it.
struct ClockJump {
    enum Kind {
        Early,   // out of order: earlier than the line before it, the line after it back in step
        Late,    // out of order: later than the line after it, which is in step with the line before
        SetBack  // earlier than the line before it, and so is the line after it: the clock was set back
    };
    Kind kind = Early;
    size_t line = 0;     // the line
    size_t other = 0;    // the line it is compared with: the one after it for Late, else the one before
    int64_t ms = 0;      // how far apart they are
};
const char* jump_kind_name(ClockJump::Kind kind);  // "out of order (early)", "out of order (late)", "clock set back"

// What reading a log found, without its lines.
struct LogInfo {
    size_t total_lines = 0;   // lines in the file, blank ones included
    size_t read = 0;          // lines with a stamp
    size_t unparseable = 0;   // non-empty lines without a valid stamp
    size_t truncated = 0;     // a last line that lacks its CR LF (0 or 1)
    size_t long_lines = 0;    // lines longer than kMaxLineBytes: the rest of each is ignored
    uint64_t bytes = 0;
    std::string first_stamp, last_stamp;
    size_t clock_jumps = 0;           // lines whose time does not fit
    int64_t clock_jumps_ms = 0;       // by how much, in total: time that counts for nothing
    std::vector<ClockJump> jumps;     // the first kJumpsKept of them
};

constexpr size_t kMaxLineBytes = 4096;  // the module writes at most 980 characters of text a line
constexpr size_t kJumpsKept = 20;

// The stamps carry no year: the clock counts from the first of January of the log's first line,
// steps on by a year when a stamp falls more than half a year behind the one before (a log that
// runs across New Year), and back by one when a stamp lies more than half a year ahead of it (a
// clock set back across New Year).
//
// The clock never goes back, and a line out of order does not move it. Each line is judged by the
// line before it (already placed) and the line after it: a line earlier than the one before it,
// or later than the one after it, while those two are in order, is out of order, and is taken to
// be at the time of the line before it. A line earlier than the one before it, when the line
// after it is earlier too, is where the clock was set back: it and the lines after it go on from
// the time of the line before, keeping their distances. Either way the step counts as no time,
// and it is reported (LogInfo::jumps). A step forward between lines in order is time that passed.
class LogReader {
public:
    explicit LogReader(std::function<void(const LogLine&)> sink) : sink_(std::move(sink)) {}

    void feed(const char* data, size_t size);
    void finish();  // the end of the file: the last line without its CR LF is counted as truncated

    const LogInfo& info() const { return info_; }

private:
    void line_done(bool complete);
    void stamped(LogLine&& line, int64_t raw);
    // Places the held line, given the instant of the line after it (or none: the end of the log).
    void place_held(const int64_t* next_abs, size_t next_number);
    void jump(ClockJump::Kind kind, size_t line, size_t other, int64_t ms);

    std::function<void(const LogLine&)> sink_;
    LogInfo info_;
    std::string partial_;       // the line being read, up to kMaxLineBytes
    bool partial_long_ = false; // it is longer than that
    bool any_bytes_ = false;    // bytes of the current line have been fed
    // The clock.
    int64_t year_start_ = 0;
    int64_t last_raw_ = -1;     // the instant within its year of the last line with a stamp
    bool have_ref_ = false;     // a line has been placed: the line before the held one
    int64_t ref_abs_ = 0;       // its stamp as an instant (with its year)
    int64_t ref_ms_ = 0;        // and the time it was given
    size_t ref_number_ = 0;
    bool holding_ = false;      // a line waiting for the line after it
    LogLine held_;
    int64_t held_abs_ = 0;
};

// All of a log's lines at once, for a log held in memory (the simulated world's).
struct LogText {
    std::vector<LogLine> lines;
    LogInfo info;
};
LogText read_log(const std::string& bytes);

// Reads the file at `path` as a stream, in pieces, handing each line to `sink`; false (with
// `error` saying why) when it cannot be opened or read, or, with max_bytes > 0, when it holds more
// than max_bytes bytes (a file is refused before any line is read; a pipe once it has given that
// many, the lines it gave to be thrown away).
bool read_log_file(const std::string& path, const std::function<void(const LogLine&)>& sink, LogInfo* info,
                   std::string* error, uint64_t max_bytes = 0);

// Whether `line` begins with the log's stamp ("MM/DD hh:mm:ss:mmm  ").
bool has_stamp(const std::string& line);

// "08:05:17" for a time of the log's clock; "1:02:03" or "2:03" for a duration; "0.250 s" for
// a duration under a minute given to the millisecond, "1:02:03" above (how far a clock jumps).
std::string clock_of_day(int64_t ms);
std::string duration_text(int64_t ms);
std::string jump_text(int64_t ms);

// The module writes narrow 8-bit text (the machine's code page); shown in a page or in JSON it is
// taken as Latin-1 and written as UTF-8, with control characters replaced by blanks.
std::string display_text(const std::string& text);

}  // namespace logview
