// The module's diagnostic log, checked as a service engineer relies on it: every line is
// "MM/DD HH:MM:SS:mmm  " + at most 980 characters of text + CR LF, and the file never grows past
// its restart size by more than one line (it is emptied before a write once it holds more than
// 700,000 bytes).
#pragma once

#include <string>

namespace sim {

// The largest log file: the restart size plus one whole line (22-character time stamp, 980
// characters of text, CR LF).
constexpr size_t kLogRestartSize = 700000;
constexpr size_t kLogLineTextLimit = 980;
constexpr size_t kLogFileLimit = kLogRestartSize + 20 + kLogLineTextLimit + 2;

// The text the module's own "cannot happen" check puts first on its line: the module's logic let
// something through that it guarantees never comes, and a run that logged it has failed.
constexpr const char kModuleCheckMarker[] = "CHECK FAILED: ";

// What is wrong with a log file's contents ("" when nothing is), naming the file as `name` and
// quoting the first bad line (and the first line of a failed check of the module). A line's text may itself hold CR LF (the robot's version reply is
// logged with its own): an entry runs from one time stamp to the CR LF before the next.
std::string check_module_log(const std::string& name, const std::string& content);

}  // namespace sim
