// rovane-sim: the command-line face of the simulated world.
//
//   rovane-sim run    [--discs N] [--drives 2|4] [flags]     a recording host's whole job
//   rovane-sim demo   [--seed N] [--quiet]
//   rovane-sim status [--seed N] [flags]
//   rovane-sim host   SCRIPT [flags]
//   rovane-sim play   [flags] COMMAND...
//   rovane-sim serve  --pty PATH [--share DIR] [flags]       the robot, in real time, on a terminal
//   rovane-sim movements --discs N [--stop-after S] [flags]  the manual movements' disc-move test
//   rovane-sim swarm  --runs N --seed S [--json]              many runs, machines and faults drawn
//   rovane-sim sweep  [--kind KIND|all] [--lasting] [--max N]  "fail call N": the Nth call of a kind fails
//   rovane-sim COMMAND --help                               the flags of a command
//
// Each command builds one world in this process, runs it on the virtual clock and prints what
// happened (swarm runs each of its jobs in a child process of its own). The same seed and flags
// always print the same output; serve alone runs its world in real time, for a program outside
// it, and prints what that program made it do.
#include <CLI/CLI.hpp>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tool_commands.h"

namespace {

// Flag descriptions wrapped at word boundaries to fit beside the flag column of an 100-column
// terminal (CLI11 prints them as they are, indenting each line it is given).
std::string wrapped(const std::string& text, size_t width) {
    std::string out, line;
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find(' ', at);
        if (end == std::string::npos) end = text.size();
        const std::string word = text.substr(at, end - at);
        if (!line.empty() && line.size() + 1 + word.size() > width) {
            out += line + "\n";
            line.clear();
        }
        line += (line.empty() ? "" : " ") + word;
        at = end + 1;
    }
    return out + line;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App tool(
        "rovane-sim: run the Rovane module in a simulated Windows world on a virtual clock.\n"
        "Run 'rovane-sim COMMAND --help' for the flags of a command.",
        "rovane-sim");
    tool.require_subcommand(1, 1);
    tool.get_formatter()->column_width(30);
    tool.get_formatter()->label("SUBCOMMANDS", "COMMANDS");
    tool.get_formatter()->label("SUBCOMMAND", "COMMAND");

    std::vector<rovane_tool::Command> commands = {
        rovane_tool::add_run_command(tool),    rovane_tool::add_demo_command(tool), rovane_tool::add_status_command(tool),
        rovane_tool::add_host_command(tool),   rovane_tool::add_play_command(tool), rovane_tool::add_serve_command(tool),
        rovane_tool::add_movements_command(tool), rovane_tool::add_swarm_command(tool), rovane_tool::add_sweep_command(tool),
    };
    for (CLI::App* command : tool.get_subcommands({}))
        for (CLI::Option* option : command->get_options())
            option->description(wrapped(option->get_description(), 68));
    if (argc < 2 || std::string(argv[1]) == "help") {
        std::fputs(tool.help().c_str(), stdout);
        return argc < 2 ? 1 : 0;
    }
    const bool known = std::any_of(commands.begin(), commands.end(),
                                   [&](const rovane_tool::Command& c) { return c.app->get_name() == argv[1]; });
    std::string names;
    for (const auto& c : commands) names += (names.empty() ? "" : ", ") + c.app->get_name();
    const std::string arg = argv[1];
    if (arg[0] != '-' && !known) {
        std::fprintf(stderr, "rovane-sim: unknown command '%s'; the commands: %s (try 'rovane-sim --help')\n",
                     arg.c_str(), names.c_str());
        return 1;
    }
    // Before the command only --help: every other option belongs to a command and comes after it.
    if (arg[0] == '-' && arg != "-h" && arg != "--help") {
        std::fprintf(stderr,
                     "rovane-sim: unknown option '%s': options come after the command, 'rovane-sim COMMAND "
                     "[OPTIONS]'; the commands: %s (try 'rovane-sim --help')\n",
                     arg.c_str(), names.c_str());
        return 1;
    }
    try {
        tool.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return tool.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return tool.exit(e);
    } catch (const CLI::ParseError& e) {
        // Every usage error exits 1, named after the command it was found in.
        std::string command;
        for (const CLI::App* sub : tool.get_subcommands()) command = sub->get_name();
        if (command.empty()) {
            std::fprintf(stderr, "rovane-sim: %s (try 'rovane-sim --help')\n", e.what());
            return 1;
        }
        return rovane_tool::usage_error(command, e.what());
    }
    for (const auto& c : commands)
        if (c.app->parsed()) {
            const int code = c.run();
            // What the command printed must have reached standard output (not a full disk).
            if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
                std::fprintf(stderr, "rovane-sim %s: cannot write standard output: %s\n", c.app->get_name().c_str(),
                             std::strerror(errno));
                return code ? code : 1;
            }
            return code;
        }
    return 1;
}
