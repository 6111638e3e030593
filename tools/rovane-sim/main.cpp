// rovane-sim: the command-line face of the simulated world.
//
//   rovane-sim demo   [--seed N] [--quiet]
//   rovane-sim status [--seed N] [flags]      (see --help)
//
// Each command builds one world in this process, runs it on the virtual clock and prints what
// happened. The same seed and flags always print the same output.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tool_commands.h"

namespace {

void print_help() {
    std::printf(
        "rovane-sim: run the Rovane module in a simulated Windows world on a virtual clock.\n"
        "\n"
        "Commands:\n"
        "  demo     The world's demonstration: three threads, a recursive critical section, a\n"
        "           message box the operator answers, a dialog driven from another thread.\n"
        "           Prints the transcript, then the virtual and wall times and the transcript hash.\n"
        "  status   Opens the robot's port through the module, asks the virtual robot for its\n"
        "           version and status, and prints key=value lines and the log file's path.\n"
        "  host     Runs a host application's script of export calls (Rovane_Init, Rovane_End,\n"
        "           Rovane_Options ...) against the module in a world with a whole autoloader;\n"
        "           prints each call's result and the windows the operator answered.\n"
        "  play     Hands commands to the module's command queues and lets the send thread play\n"
        "           them to the virtual robot; prints what the robot received and where the discs are.\n"
        "\n"
        "Run 'rovane-sim COMMAND --help' for the flags of a command.\n");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || !std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "-h") || !std::strcmp(argv[1], "help")) {
        print_help();
        return argc < 2 ? 1 : 0;
    }
    const std::string command = argv[1];
    std::vector<std::string> args(argv + 2, argv + argc);
    if (command == "demo") return rovane_tool::demo_command(args);
    if (command == "status") return rovane_tool::status_command(args);
    if (command == "play") return rovane_tool::play_command(args);
    if (command == "host") return rovane_tool::host_command(args);
    std::fprintf(stderr, "rovane-sim: unknown command '%s' (try --help)\n", command.c_str());
    return 1;
}
