// rovane-log replay: its flags and its run (replay_command.cpp).
#pragma once

#include <string>
#include <vector>

namespace CLI {
class App;
}  // namespace CLI

struct ReplayFlags {
    // The module's logs, oldest first: an older log (the one before the log started again) may
    // come before the current one; their lines are taken as one log, counted through.
    std::vector<std::string> logs;
    bool json = false;
    std::string sim;   // rovane-sim ("" = beside rovane-log)
    std::string keep;  // a folder that keeps the script, the replay's log and rovane-sim's output ("" = none)
    // A what-if: the operator's answers (PATTERN=BUTTON) and settings (KEY=VALUE) that change.
    std::vector<std::string> answers, settings;
    // The machine's motions this many times quicker than the world's (a log from a machine that
    // ran so, as the Wine check's rovane-sim serve --speed). "" = as the log's motion times tell.
    std::string speed;
    // How far a host call's time from start-up may be off its logged time before it is counted.
    double tolerance = 10.0;
};

CLI::App* add_replay_command(CLI::App& tool, ReplayFlags* flags);
int run_replay(const ReplayFlags& flags);
