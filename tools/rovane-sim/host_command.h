// rovane-sim host: its options, read by host_flags.cpp and run by host_command.cpp.
#pragma once

#include <cstdint>
#include <string>

#include "machine_flags.h"

namespace rovane_tool {

// Its command line (host_flags.cpp) apart from its script interpreter (host_command.cpp).
struct HostOptions {
    uint64_t seed = 1;
    std::string script_path;   // a file, or "-" for standard input
    MachineFlags machine;
    bool wire = false;
    std::string transcript_path;  // the run's transcript, streamed to this file ("" = none)
    std::string module_log_path;  // a copy of the module's log (Rovane_QIX.dbg), written at the end ("" = none)
    bool check_only = false;      // read and check the script, print its calls as read, run nothing
    bool places = false;          // print "place NAME COUNT" for every place holding discs at the end
    double think = -1;            // the operator's think time before each answer (s; -1: the default)
};
int run_host(const HostOptions& options);

}  // namespace rovane_tool
