// The helpers every command shares.
#include <CLI/CLI.hpp>

#include <cstdio>

#include "tool_commands.h"
#include "win32/files.h"
#include "win32/registry.h"

namespace rovane_tool {


int usage_error(const std::string& command, const std::string& text) {
    std::fprintf(stderr, "rovane-sim %s: %s (try 'rovane-sim %s --help')\n", command.c_str(), text.c_str(),
                 command.c_str());
    return 1;
}

void install_data_folder(sim::World& world) {
    world.files().mkdir(kDataFolder);
    world.registry().set_string(HKEY_LOCAL_MACHINE, "Software\\Marlune\\VeltoDVD", "DataPath", kDataFolder);
}

}  // namespace rovane_tool
