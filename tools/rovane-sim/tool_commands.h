// The commands of rovane-sim and the small helpers they share.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace rovane_tool {

int demo_command(const std::vector<std::string>& args);
int status_command(const std::vector<std::string>& args);
int play_command(const std::vector<std::string>& args);

// A flag parser for "--name value" and "--name" flags. Unknown flags and bad values are usage
// errors, reported on stderr.
class Flags {
public:
    explicit Flags(const std::vector<std::string>& args) : args_(args) {}
    // Takes a boolean flag.
    bool take(const std::string& name);
    // Takes a flag with a value; false when absent.
    bool take(const std::string& name, std::string* value);
    bool take_u64(const std::string& name, uint64_t* value);
    bool take_double(const std::string& name, double* value);
    // True when every argument was taken and every value was good; else prints why.
    bool done(const char* command);
    bool failed() const { return failed_; }

private:
    std::vector<std::string> args_;
    std::vector<bool> used_ = std::vector<bool>(args_.size(), false);
    bool failed_ = false;
    std::string error_;
};

}  // namespace rovane_tool
