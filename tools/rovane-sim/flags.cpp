#include <cstdio>
#include <cstdlib>

#include "tool_commands.h"
#include "win32/files.h"
#include "win32/registry.h"

namespace rovane_tool {

void install_data_folder(sim::World& world) {
    world.files().mkdir(kDataFolder);
    world.registry().set_string(HKEY_LOCAL_MACHINE, "Software\\Marlune\\VeltoDVD", "DataPath", kDataFolder);
}

bool Flags::take(const std::string& name) {
    for (size_t i = 0; i < args_.size(); ++i)
        if (!used_[i] && args_[i] == name) {
            used_[i] = true;
            return true;
        }
    return false;
}

bool Flags::take(const std::string& name, std::string* value) {
    for (size_t i = 0; i < args_.size(); ++i) {
        if (used_[i] || args_[i] != name) continue;
        used_[i] = true;
        if (i + 1 >= args_.size()) {
            failed_ = true;
            error_ = name + " needs a value";
            return false;
        }
        used_[i + 1] = true;
        *value = args_[i + 1];
        return true;
    }
    return false;
}

bool Flags::take_u64(const std::string& name, uint64_t* value) {
    std::string text;
    if (!take(name, &text)) return false;
    char* end = nullptr;
    const unsigned long long v = std::strtoull(text.c_str(), &end, 0);
    if (text.empty() || *end || text[0] == '-') {
        failed_ = true;
        error_ = name + " takes a whole number, not '" + text + "'";
        return false;
    }
    *value = v;
    return true;
}

bool Flags::take_double(const std::string& name, double* value) {
    std::string text;
    if (!take(name, &text)) return false;
    char* end = nullptr;
    const double v = std::strtod(text.c_str(), &end);
    if (text.empty() || *end || v < 0 || v > 1) {
        failed_ = true;
        error_ = name + " takes a probability from 0 to 1, not '" + text + "'";
        return false;
    }
    *value = v;
    return true;
}

bool Flags::done(const char* command) {
    for (size_t i = 0; i < args_.size() && !failed_; ++i)
        if (!used_[i]) {
            failed_ = true;
            error_ = "unknown argument '" + args_[i] + "'";
        }
    if (failed_) std::fprintf(stderr, "rovane-sim %s: %s (try 'rovane-sim %s --help')\n", command, error_.c_str(), command);
    return !failed_;
}

}  // namespace rovane_tool
