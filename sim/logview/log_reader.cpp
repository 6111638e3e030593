#include "logview/log_reader.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace logview {

namespace {

constexpr int64_t kDay = 24LL * 3600 * 1000;
constexpr int64_t kYear = 366 * kDay;  // leap or not: only the order of the stamps matters

// Days before each month in a year with 29 February, so every valid stamp has its own instant.
constexpr int kDaysBefore[12] = {0, 31, 60, 91, 121, 152, 182, 213, 244, 274, 305, 335};
constexpr int kDaysIn[12] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};

bool digits(const std::string& s, size_t at, size_t n, int* value) {
    int v = 0;
    for (size_t i = at; i < at + n; ++i) {
        if (s[i] < '0' || s[i] > '9') return false;
        v = v * 10 + (s[i] - '0');
    }
    *value = v;
    return true;
}

// "MM/DD hh:mm:ss:mmm  " at the start of `line`: the instant within the year, or -1.
int64_t parse_stamp(const std::string& line) {
    if (line.size() < 20) return -1;
    if (line[2] != '/' || line[5] != ' ' || line[8] != ':' || line[11] != ':' || line[14] != ':' || line[18] != ' ' ||
        line[19] != ' ')
        return -1;
    int month, day, hour, minute, second, milli;
    if (!digits(line, 0, 2, &month) || !digits(line, 3, 2, &day) || !digits(line, 6, 2, &hour) ||
        !digits(line, 9, 2, &minute) || !digits(line, 12, 2, &second) || !digits(line, 15, 3, &milli))
        return -1;
    if (month < 1 || month > 12 || day < 1 || day > kDaysIn[month - 1] || hour > 23 || minute > 59 || second > 59)
        return -1;
    return (kDaysBefore[month - 1] + day - 1) * kDay + ((hour * 60LL + minute) * 60 + second) * 1000 + milli;
}

}  // namespace

void LogReader::feed(const char* data, size_t size) {
    info_.bytes += size;
    const char* const stop = data + size;
    while (data < stop) {
        const char* nl = static_cast<const char*>(std::memchr(data, '\n', static_cast<size_t>(stop - data)));
        const char* end = nl ? nl : stop;
        const size_t n = static_cast<size_t>(end - data);
        if (n) any_bytes_ = true;
        const size_t room = kMaxLineBytes - partial_.size();
        if (n > room) partial_long_ = true;
        partial_.append(data, std::min(n, room));
        if (!nl) break;
        line_done(true);
        data = nl + 1;
    }
}

void LogReader::finish() {
    if (any_bytes_) line_done(false);
    if (holding_) place_held(nullptr, 0);
}

void LogReader::line_done(bool complete) {
    const size_t number = ++info_.total_lines;
    std::string& line = partial_;
    const bool long_line = partial_long_;
    partial_long_ = any_bytes_ = false;
    if (!complete) {
        // The file ends inside this line: what is there may be cut anywhere.
        ++info_.truncated;
        line.clear();
        return;
    }
    if (long_line) ++info_.long_lines;
    if (!long_line && !line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) return;
    const int64_t raw = parse_stamp(line);
    if (raw < 0) {
        ++info_.unparseable;
        line.clear();
        return;
    }
    LogLine l;
    l.number = number;
    l.stamp = line.substr(0, 18);
    l.text = line.substr(20);
    line.clear();
    stamped(std::move(l), raw);
}

void LogReader::stamped(LogLine&& line, int64_t raw) {
    ++info_.read;
    if (info_.first_stamp.empty()) info_.first_stamp = line.stamp;
    info_.last_stamp = line.stamp;
    if (last_raw_ >= 0) {
        if (raw + kYear / 2 < last_raw_)
            year_start_ += kYear;
        else if (raw > last_raw_ + kYear / 2)
            year_start_ -= kYear;
    }
    last_raw_ = raw;
    const int64_t abs = year_start_ + raw;
    if (holding_) place_held(&abs, line.number);
    held_ = std::move(line);
    held_abs_ = abs;
    holding_ = true;
}

void LogReader::place_held(const int64_t* next_abs, size_t next_number) {
    holding_ = false;
    LogLine& line = held_;
    const int64_t abs = held_abs_;
    // The line after it is in step with the line before it (or there is none).
    const bool next_in_step = !next_abs || *next_abs >= ref_abs_;
    const bool in_order = !have_ref_ || (abs >= ref_abs_ && (!next_abs || abs <= *next_abs || !next_in_step));
    if (in_order) {
        line.ms = have_ref_ ? ref_ms_ + (abs - ref_abs_) : abs;
        have_ref_ = true;
        ref_abs_ = abs;
        ref_ms_ = line.ms;
        ref_number_ = line.number;
    } else if (next_in_step) {
        // Out of order: at the time of the line before it, which stays the reference.
        line.ms = ref_ms_;
        if (abs < ref_abs_)
            jump(ClockJump::Early, line.number, ref_number_, ref_abs_ - abs);
        else
            jump(ClockJump::Late, line.number, next_number, abs - *next_abs);
    } else {
        // The clock was set back here: the lines from here on keep their distances from it.
        line.ms = ref_ms_;
        jump(ClockJump::SetBack, line.number, ref_number_, ref_abs_ - abs);
        ref_abs_ = abs;
        ref_number_ = line.number;
    }
    sink_(line);
}

void LogReader::jump(ClockJump::Kind kind, size_t line, size_t other, int64_t ms) {
    ++info_.clock_jumps;
    info_.clock_jumps_ms += ms;
    if (info_.jumps.size() < kJumpsKept) info_.jumps.push_back({kind, line, other, ms});
}

const char* jump_kind_name(ClockJump::Kind kind) {
    switch (kind) {
        case ClockJump::Early: return "out of order (early)";
        case ClockJump::Late: return "out of order (late)";
        case ClockJump::SetBack: return "clock set back";
    }
    return "?";
}

LogText read_log(const std::string& bytes) {
    LogText out;
    LogReader reader([&](const LogLine& l) { out.lines.push_back(l); });
    reader.feed(bytes.data(), bytes.size());
    reader.finish();
    out.info = reader.info();
    return out;
}

bool read_log_file(const std::string& path, const std::function<void(const LogLine&)>& sink, LogInfo* info,
                   std::string* error, uint64_t max_bytes) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) {
        *error = "cannot open '" + path + "': " + std::strerror(errno);
        return false;
    }
    struct stat st {};
    const bool have_stat = fstat(fileno(f), &st) == 0;
    if (have_stat && S_ISDIR(st.st_mode)) {
        std::fclose(f);
        *error = "'" + path + "' is a folder, not a log";
        return false;
    }
    auto too_big = [&] {
        *error = "'" + path + "' holds more than " + std::to_string(max_bytes) + " bytes";
        std::fclose(f);
        return false;
    };
    if (max_bytes && have_stat && S_ISREG(st.st_mode) && static_cast<uint64_t>(st.st_size) > max_bytes) return too_big();
    LogReader reader(sink);
    std::vector<char> buffer(1 << 20);
    for (;;) {
        const size_t n = std::fread(buffer.data(), 1, buffer.size(), f);
        if (n) reader.feed(buffer.data(), n);
        if (max_bytes && reader.info().bytes > max_bytes) return too_big();
        if (n < buffer.size()) break;
    }
    if (std::ferror(f)) {
        *error = "cannot read '" + path + "': " + std::strerror(errno);
        std::fclose(f);
        return false;
    }
    std::fclose(f);
    reader.finish();
    *info = reader.info();
    return true;
}

std::string clock_of_day(int64_t ms) {
    const int64_t s = (ms / 1000) % (24 * 3600);
    char text[16];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d", static_cast<int>(s / 3600), static_cast<int>(s / 60 % 60),
                  static_cast<int>(s % 60));
    return text;
}

std::string duration_text(int64_t ms) {
    if (ms < 0) ms = 0;
    const int64_t s = (ms + 500) / 1000;
    char text[32];
    if (s >= 3600)
        std::snprintf(text, sizeof text, "%lld:%02d:%02d", static_cast<long long>(s / 3600), static_cast<int>(s / 60 % 60),
                      static_cast<int>(s % 60));
    else
        std::snprintf(text, sizeof text, "%d:%02d", static_cast<int>(s / 60), static_cast<int>(s % 60));
    return text;
}

std::string jump_text(int64_t ms) {
    if (ms >= 60000) return duration_text(ms);
    char text[32];
    std::snprintf(text, sizeof text, "%.3f s", static_cast<double>(ms) / 1000.0);
    return text;
}

bool has_stamp(const std::string& line) { return parse_stamp(line) >= 0; }

std::string display_text(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (unsigned char c : text) {
        if (c < 0x20 || c == 0x7F) {
            out += ' ';
        } else if (c < 0x80) {
            out += static_cast<char>(c);
        } else {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

}  // namespace logview
