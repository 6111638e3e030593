// rovane-sim demo: the world's demonstration scenario.
#include <CLI/CLI.hpp>

#include <chrono>
#include <cinttypes>
#include <cstdio>

#include "flag_checks.h"
#include "scenarios/demo.h"
#include "tool_commands.h"

namespace rovane_tool {

namespace {

struct DemoOptions {
    uint64_t seed = 1;
    bool quiet = false;
};

int run_demo(const DemoOptions& o) {
    const uint64_t seed = o.seed;
    const bool quiet = o.quiet;
    sim::WorldConfig cfg;
    cfg.seed = seed;
    sim::World world(cfg);
    world.load_module();
    sim::demo::Outcome outcome;
    sim::demo::setup(world, &outcome);
    const auto t0 = std::chrono::steady_clock::now();
    const sim::RunResult result = world.run();
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();

    if (!quiet) std::fputs(world.transcript_text().c_str(), stdout);
    const bool ok = result.ok() && outcome.message_box_answer == IDYES && outcome.dialog_result == 7 &&
                    outcome.worker_lines == 10;
    std::printf("outcome: operator answered %d, dialog returned %ld with \"%s\", worker wrote %d lines\n",
                outcome.message_box_answer, outcome.dialog_result, outcome.dialog_text.c_str(), outcome.worker_lines);
    std::printf("virtual time: %s\n", world.kernel().time_text().c_str());
    std::printf("wall time: %.3f ms\n", wall * 1000);
    std::printf("transcript hash: %016" PRIx64 " (seed %" PRIu64 ")\n", world.transcript_hash(), seed);
    if (!result.ok()) std::printf("%s\n", result.report.c_str());
    return ok ? 0 : 1;
}

}  // namespace

Command add_demo_command(CLI::App& tool) {
    auto o = std::make_shared<DemoOptions>();
    CLI::App* c = tool.add_subcommand("demo", "The world's demonstration: threads, a critical section, a message box, a dialog.");
    c->footer(
        "Runs the demonstration: a host thread takes a recursive critical section, asks the\n"
        "operator a question in a message box (answered Yes after 2 s), posts three commands\n"
        "to a dialog running on another thread and closes it with a SendMessage that waits\n"
        "for the dialog's handler; a worker thread appends ten lines to a file meanwhile.\n"
        "Prints the transcript, then the virtual and wall times and the transcript hash.\n"
        "\n"
        "Exit 0 when the scenario ended as it should, 1 otherwise.");
    c->add_option("--seed", o->seed, "the world's seed (default 1): the same seed prints the same transcript")
        ->type_name("N")
        ->check(whole_number());
    c->add_flag("--quiet", o->quiet, "print only the summary lines, not the transcript");
    return {c, [o] { return run_demo(*o); }};
}

}  // namespace rovane_tool
