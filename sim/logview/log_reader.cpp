#include "logview/log_reader.h"

#include <cstdio>
#include <fstream>
#include <sstream>

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

LogText read_log(const std::string& bytes) {
    LogText out;
    out.bytes = bytes.size();
    int64_t year_start = 0;
    int64_t last_raw = -1;
    int64_t last_ms = 0;
    int64_t shift = 0;  // how far the clock was set back, in total
    size_t start = 0;
    size_t number = 0;
    while (start < bytes.size()) {
        size_t end = bytes.find('\n', start);
        const bool complete = end != std::string::npos;
        if (!complete) end = bytes.size();
        std::string line = bytes.substr(start, end - start);
        start = end + 1;
        ++number;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!complete) {
            // The file ends inside this line: what is there may be cut anywhere.
            ++out.truncated;
            break;
        }
        if (line.empty()) continue;
        const int64_t raw = parse_stamp(line);
        if (raw < 0) {
            ++out.unparseable;
            continue;
        }
        if (last_raw >= 0 && raw + kYear / 2 < last_raw) year_start += kYear;
        last_raw = raw;
        int64_t ms = year_start + raw + shift;
        if (!out.lines.empty() && ms < last_ms) {
            shift += last_ms - ms;
            ms = last_ms;
        }
        last_ms = ms;
        LogLine l;
        l.number = number;
        l.ms = ms;
        l.stamp = line.substr(0, 18);
        l.text = line.substr(20);
        out.lines.push_back(std::move(l));
    }
    out.total_lines = number;
    return out;
}

bool read_log_file(const std::string& path, LogText* out, std::string* error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        *error = "cannot open '" + path + "'";
        return false;
    }
    std::ostringstream bytes;
    bytes << in.rdbuf();
    if (in.bad()) {
        *error = "cannot read '" + path + "'";
        return false;
    }
    *out = read_log(bytes.str());
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
