// The commands of rovane-sim and the small helpers they share.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "world/world.h"

namespace rovane_tool {

int demo_command(const std::vector<std::string>& args);
int status_command(const std::vector<std::string>& args);
int play_command(const std::vector<std::string>& args);
int host_command(const std::vector<std::string>& args);

// The data folder the module finds through the registry, as the host's installation leaves it.
constexpr const char* kDataFolder = "C:\\ProgramData\\Marlune\\";
// Creates the data folder in a fresh world and registers it for the disc-recording host.
void install_data_folder(sim::World& world);

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
