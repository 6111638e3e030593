#include <cstdio>

#include "tool_commands.h"

namespace rovane_tool {

int status_command(const std::vector<std::string>& args) {
    (void)args;
    std::fprintf(stderr, "rovane-sim status: not available yet\n");
    return 1;
}

}  // namespace rovane_tool
