// Reading the module's diagnostic log, "Rovane_QIX.dbg", as the module writes it on a machine:
// one line a message, "MM/DD hh:mm:ss:mmm  " (month, day, hour, minute, second, millisecond and
// two blanks) and the text, ended by CR LF. The module restarts the file empty once it has grown
// past 700,000 bytes, so a log may begin or end anywhere in a job; a file cut at an arbitrary
// byte may also begin or end in the middle of a line.
//
// The reader keeps every line that carries a stamp; a line without one (the cut-off head of a
// file, damaged bytes) is counted as unparseable and skipped, and a last line without its CR LF
// is counted as truncated and skipped. Empty lines (a logged text that itself ended in CR LF)
// are skipped without counting. Nothing in a log makes the reader fail.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace logview {

struct LogLine {
    size_t number = 0;   // line number in the file, from 1
    int64_t ms = 0;      // milliseconds on the log's own clock (see below), never decreasing
    std::string stamp;   // "MM/DD hh:mm:ss:mmm" as written
    std::string text;    // the logged text
};

struct LogText {
    std::vector<LogLine> lines;
    size_t total_lines = 0;   // lines in the file, blank ones included
    size_t unparseable = 0;   // non-empty lines without a valid stamp
    size_t truncated = 0;     // a last line that lacks its CR LF (0 or 1)
    size_t bytes = 0;
};

// The stamps carry no year: the clock counts from the first of January of the log's first line,
// steps on by a year when a stamp falls more than half a year behind the one before (a log that
// runs across New Year), and never goes back: when the machine's clock was set back, the lines
// after it run on from the time of the line before, keeping their distances.
LogText read_log(const std::string& bytes);

// Reads the file at `path`; false (with `error` saying why) when it cannot be read.
bool read_log_file(const std::string& path, LogText* out, std::string* error);

// "08:05:17" for a time of the log's clock; "1:02:03" or "2:03" for a duration.
std::string clock_of_day(int64_t ms);
std::string duration_text(int64_t ms);

// The module writes narrow 8-bit text (the machine's code page); shown in a page or in JSON it is
// taken as Latin-1 and written as UTF-8, with control characters replaced by blanks.
std::string display_text(const std::string& text);

}  // namespace logview
