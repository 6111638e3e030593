// Output files of the commands: --transcript FILE ...
#pragma once

#include <cstdio>
#include <string>

namespace rovane_tool {

// Created (replaced) before the world runs, so that a path that cannot be written is refused at
// once; nullptr after "rovane-sim COMMAND: cannot write FLAG 'PATH': why" on stderr.
std::FILE* open_output(const std::string& command, const std::string& flag, const std::string& path);
// Flushes and closes it; false, after the same message, when a write failed (a full disk ...).
bool close_output(const std::string& command, const std::string& flag, const std::string& path, std::FILE* file);

}  // namespace rovane_tool
