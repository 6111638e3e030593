#include "harness/log_check.h"

#include <cctype>
#include <cstring>

namespace sim {

namespace {

// "MM/DD HH:MM:SS:mmm  " at `p` (20 characters).
bool is_time_stamp(const std::string& s, size_t p) {
    static const char kShape[] = "00/00 00:00:00:000  ";
    if (p + sizeof kShape - 1 > s.size()) return false;
    for (size_t i = 0; i + 1 < sizeof kShape; ++i) {
        const unsigned char c = static_cast<unsigned char>(s[p + i]);
        if (kShape[i] == '0' ? !std::isdigit(c) : c != static_cast<unsigned char>(kShape[i])) return false;
    }
    return true;
}

std::string quoted(const std::string& s, size_t from, size_t length) {
    std::string q = s.substr(from, length < 80 ? length : 80);
    for (char& c : q)
        if (static_cast<unsigned char>(c) < 0x20) c = '.';
    return "\"" + q + (length > 80 ? "...\"" : "\"");
}

}  // namespace

std::string check_module_log(const std::string& name, const std::string& content) {
    if (content.size() > kLogFileLimit)
        return name + " holds " + std::to_string(content.size()) + " bytes, more than the restart size and one line\n";
    if (content.empty()) return "";
    if (!is_time_stamp(content, 0)) return name + " does not begin with a time stamp: " + quoted(content, 0, 40) + "\n";
    if (content.size() < 2 || content.compare(content.size() - 2, 2, "\r\n") != 0)
        return name + " does not end with CR LF\n";
    constexpr size_t kStamp = 20;
    size_t entry = 0;
    while (entry < content.size()) {
        // The entry's text ends at the first CR LF followed by the next time stamp or the end.
        size_t end = entry + kStamp;
        for (;;) {
            end = content.find("\r\n", end);
            if (end == std::string::npos) return name + " ends inside a line\n";
            if (end + 2 == content.size() || is_time_stamp(content, end + 2)) break;
            end += 2;
        }
        const size_t text_length = end - entry - kStamp;
        if (content.compare(entry + kStamp, sizeof kModuleCheckMarker - 1, kModuleCheckMarker) == 0)
            return name + " holds a failed check of the module: " + quoted(content, entry + kStamp, text_length) + "\n";
        // A logged text may end with its own CR LF (the version reply): the limit is on the text.
        if (text_length > kLogLineTextLimit)
            return name + " has a line of " + std::to_string(text_length) + " characters: " +
                   quoted(content, entry, text_length + kStamp) + "\n";
        entry = end + 2;
    }
    return "";
}

}  // namespace sim
