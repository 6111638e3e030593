// The commands of rovane-sim. What they share is in headers by concern: flag_checks.h,
// stated_flags.h, operator_answers.h, machine_flags.h, printer_lines.h, output_files.h,
// job_faults.h; each command's own options in its header (host_command.h, run_command.h).
//
// Each command adds its subcommand to the tool's command line (CLI11): its flags, its --help,
// and the function that runs it once the command line has been parsed. Checks that CLI11 cannot
// express (a combination of flags, say) are made by that function and reported with
// usage_error().
#pragma once

#include <functional>
#include <string>

#include "harness/autoloader.h"
#include "world/world.h"

namespace CLI {
class App;
}  // namespace CLI

namespace rovane_tool {

// One command: its subcommand and what runs it; run() returns the process's exit code.
struct Command {
    CLI::App* app = nullptr;
    std::function<int()> run;
};

Command add_demo_command(CLI::App& tool);
Command add_status_command(CLI::App& tool);
Command add_play_command(CLI::App& tool);
Command add_host_command(CLI::App& tool);
Command add_run_command(CLI::App& tool);
Command add_serve_command(CLI::App& tool);
Command add_movements_command(CLI::App& tool);
Command add_swarm_command(CLI::App& tool);
Command add_sweep_command(CLI::App& tool);

// "rovane-sim COMMAND: TEXT (try 'rovane-sim COMMAND --help')" on stderr; returns 1, the exit
// code of every usage error.
int usage_error(const std::string& command, const std::string& text);

// The data folder the module finds through the registry, as the host's installation leaves it.
using sim::kDataFolder;
// Creates the data folder in a fresh world and registers it for the disc-recording host.
void install_data_folder(sim::World& world);

}  // namespace rovane_tool
