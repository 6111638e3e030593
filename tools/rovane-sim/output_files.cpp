// Output files of the commands: created before the world runs, closed with their write errors.
#include <CLI/CLI.hpp>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "output_files.h"

namespace rovane_tool {

// ---------------------------------------------------------------------------------------------
// Output files

std::FILE* open_output(const std::string& command, const std::string& flag, const std::string& path) {
    std::FILE* f = std::fopen(path.c_str(), "w");
    if (!f)
        std::fprintf(stderr, "rovane-sim %s: cannot write %s '%s': %s\n", command.c_str(), flag.c_str(), path.c_str(),
                     std::strerror(errno));
    return f;
}

bool close_output(const std::string& command, const std::string& flag, const std::string& path, std::FILE* f) {
    const bool flushed = std::fflush(f) == 0 && !std::ferror(f);
    const int flush_error = errno;
    const bool closed = std::fclose(f) == 0;
    if (flushed && closed) return true;
    std::fprintf(stderr, "rovane-sim %s: cannot write %s '%s': %s\n", command.c_str(), flag.c_str(), path.c_str(),
                 std::strerror(flushed ? errno : flush_error));
    return false;
}

}  // namespace rovane_tool
