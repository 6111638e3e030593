// A world with the module loaded and its foundation in place: the module lock, the data folder
// registered for the disc-recording host, the settings and log paths set as start-up sets them.
#pragma once

#include <string>
#include <vector>

#include "foundation/debug_log.h"
#include "foundation/module_context.h"
#include "foundation/settings.h"
#include "harness/autoloader.h"
#include "setup/recorders.h"
#include "support/sim_test.h"
#include "win32/files.h"
#include "win32/registry.h"
#include "world/world.h"

namespace sim_test {

using sim::kDataFolder;

inline void prepare_module(sim::World& world, bool register_data_folder = true) {
    world.load_module();
    if (register_data_folder) {
        world.files().mkdir(kDataFolder);
        world.registry().set_string(HKEY_LOCAL_MACHINE, "Software\\Marlune\\VeltoDVD", "DataPath", kDataFolder);
    }
    CreateModuleLock();
    SetModulePaths(HostKeyword("VeltoDVD", nullptr));
}

inline std::string read_file(sim::World& world, const std::string& path) {
    std::string s;
    world.files().read_file(path, &s);
    return s;
}

// The log's lines without their timestamps.
inline std::vector<std::string> log_texts(sim::World& world, const std::string& path = g_szLogPath) {
    return sim::module_log_lines(world, path);
}

inline int count_lines(const std::vector<std::string>& lines, const std::string& text) {
    int n = 0;
    for (const auto& l : lines)
        if (l == text) ++n;
    return n;
}

inline int count_starting(const std::vector<std::string>& lines, const std::string& prefix) {
    int n = 0;
    for (const auto& l : lines) n += l.rfind(prefix, 0) == 0;
    return n;
}

// The message boxes shown so far, as the transcript has them: caption, flags and text.
inline std::vector<std::string> boxes(sim::World& world) {
    std::vector<std::string> out;
    for (const sim::TranscriptEntry& e : world.kernel().transcript().of_kind("window"))
        if (e.text.rfind("msgbox shown ", 0) == 0) out.push_back(e.text.substr(13));
    return out;
}

// A value of the settings file's section as the module stores it; "(none)" when absent.
inline std::string stored(const char* key) {
    char value[300];
    GetPrivateProfileStringA(SETTINGS_SECTION, key, "(none)", value, sizeof value, g_szSettingsPath);
    return value;
}

// The recorder rows at the robot's positions A, B, C and D (a position never given reads 0).
inline std::vector<int> rows_at_abcd() {
    return {RecorderRowAt('A'), RecorderRowAt('B'), RecorderRowAt('C'), RecorderRowAt('D')};
}

// A text of the module's string table, as the module loads it.
inline std::string module_string(UINT id) {
    char text[512];
    LoadStringA(sim::world().module_instance(), id, text, sizeof text);
    return text;
}

}  // namespace sim_test
