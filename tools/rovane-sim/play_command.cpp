// rovane-sim play: a service tool that hands commands straight to the module's command queues and
// lets the send thread play them to the virtual robot, as a job would.
#include <CLI/CLI.hpp>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "devices/recorders.h"
#include "harness/autoloader.h"
#include "devices/robot.h"
#include "foundation/settings.h"
#include "host/job_state.h"
#include "kernel/transcript.h"
#include "robot/robo_status.h"
#include "robot/serial_port.h"
#include "sequencer/command_queue.h"
#include "sequencer/send_thread.h"
#include "setup/module_context.h"
#include "setup/recorders.h"
#include "tool_commands.h"
#include "win32/files.h"
#include "win32/registry.h"
#include "win32/serial.h"
#include "win32/ui.h"
#include "world/operator.h"
#include "world/world.h"

namespace rovane_tool {

namespace {

struct PlayOptions {
    uint64_t seed = 1, tray_fail = 0, repeat = 1;
    double mispick = 0;
    bool show_timing = false, show_transcript = false;
    std::vector<std::string> empty_bins, answers;
    std::vector<std::string> global_cmds, printer_cmds;
};

int run_play(const PlayOptions& o) {
    const uint64_t seed = o.seed, tray_fail = o.tray_fail, repeat = o.repeat;
    const std::vector<std::string>& global_cmds = o.global_cmds;
    const std::vector<std::string>& printer_cmds = o.printer_cmds;
    for (const auto& c : global_cmds)
        if (c.size() > 9) {
            // The queue refuses it itself (and aborts the job); say why up front as well.
            std::fprintf(stderr, "rovane-sim play: note: '%s' is longer than a queue entry (9 characters)\n", c.c_str());
        }
    if (global_cmds.empty() && printer_cmds.empty()) return usage_error("play", "no commands");

    // --- the world -------------------------------------------------------------------------------
    // The shared harness's machine: a 4-drive QIX on COM1 whose recorders the settings know, and
    // a disc printer that answers on the robot's cable, stored as the module's printer — so that
    // start-up asks nothing and sends nothing but its queries.
    sim::AutoloaderConfig cfg;
    cfg.seed = seed;
    cfg.drives = 4;
    cfg.disc_printer = "Pellan IV";
    cfg.settings = {{"Printer", "Pellan IV"}};
    cfg.robot.mispick_probability = o.mispick;
    for (const std::string& bin : o.empty_bins) cfg.robot.initial_discs[bin[0]] = 0;
    sim::Autoloader machine(cfg);
    sim::World& world = machine.world;
    const std::shared_ptr<sim::Robot>& robot = machine.robot;
    // The robot and the transcript keep only their recent entries: what a long run prints is
    // written to scratch files as it happens and copied out at the end.
    std::FILE* wire_lines = std::tmpfile();
    std::FILE* transcript_lines = o.show_transcript ? std::tmpfile() : nullptr;
    if (!wire_lines || (o.show_transcript && !transcript_lines)) {
        std::fprintf(stderr, "rovane-sim play: cannot create a scratch file\n");
        return 1;
    }
    robot->on_received([wire_lines](const sim::ReceivedCommand& c) {
        if (c.kind == sim::ReceivedCommand::Kind::Command && (c.text == "_SI" || c.text == "_SV")) return;
        std::fprintf(wire_lines, "%s\n", c.line().c_str());
    });
    if (transcript_lines) world.kernel().transcript().stream_to(transcript_lines);
    if (tray_fail)
        for (const auto& drive : machine.drives) machine.engine->fail_tray_calls(drive->unit(), static_cast<int>(tray_fail));
    install_answers(world, robot, o.answers);

    // --- the module ------------------------------------------------------------------------------
    world.load_module();
    bool started = false;
    sim::SimThread* host = world.spawn("host", [&] {
        if (machine.init_module().result != 4) return;
        InitGlobals();
        g_bInputBinIndex = 0;
        started = true;
        for (uint64_t round = 0; round < repeat && !g_fJobAborted; ++round) {
            for (const auto& c : global_cmds) Queue_Cmd(c.c_str(), NULL, 0);
            for (const auto& c : printer_cmds) PRN_Queue(c.c_str(), NULL, 0);
            for (int row = 0; row < 4; ++row) g_Recorders[row].dwMoveState = MOVE_STATE_POSTED;
            StartSendThread();
            // The send thread ends by itself once the queues are used up or the job was aborted.
            for (;;) {
                Sleep(300);
                EnterCriticalSection(&g_csModule);
                const bool running = g_fSendQueueRunning || !g_fSendThreadDone;
                LeaveCriticalSection(&g_csModule);
                if (!running) break;
            }
        }
    });
    const auto wall_start = std::chrono::steady_clock::now();
    sim::RunResult result = world.run([host] { return host->state == sim::ThreadState::Finished; });
    // The robot may still be working through commands it buffered (the abort sequence sends its
    // last ones while the arm travels): let it finish, within a minute of virtual time.
    const sim::Micros settle_limit = world.kernel().now() + sim::kMinute;
    while (result.ok() && (robot->busy() || !robot->buffered_commands().empty()) &&
           world.kernel().now() < settle_limit)
        result = world.run_until_time(world.kernel().now() + 100 * sim::kMs);

    if (o.show_timing)
        std::fprintf(stderr, "virtual time %s, wall time %.3f s\n", world.kernel().time_text().c_str(),
                     std::chrono::duration<double>(std::chrono::steady_clock::now() - wall_start).count());
    world.kernel().transcript().stop_streaming();
    for (std::FILE* lines : {transcript_lines, wire_lines}) {
        if (!lines) continue;
        std::rewind(lines);
        char buffer[4096];
        for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, lines)) > 0;) std::fwrite(buffer, 1, n, stdout);
        std::fclose(lines);
    }
    for (const std::string& line : machine.places()) std::printf("%s\n", line.c_str());
    const bool aborted = g_fJobAborted != 0;
    std::printf("aborted=%d\n", aborted ? 1 : 0);
    if (!result.ok()) {
        std::fprintf(stderr, "rovane-sim play: the world stopped: %s\n", result.report.c_str());
        return 3;
    }
    if (!started) {
        std::fprintf(stderr, "rovane-sim play: the module did not start (see its log)\n");
        return 3;
    }
    // Every disc must be somewhere: one the commands drop where nothing holds it is lost, and a
    // lost disc breaks the run as it would a job.
    const std::string broken = machine.check_invariants(false);
    if (!broken.empty()) {
        std::fprintf(stderr, "rovane-sim play: invariants broken:\n%s", broken.c_str());
        return 4;
    }
    return aborted ? 2 : 0;
}

}  // namespace

Command add_play_command(CLI::App& tool) {
    auto o = std::make_shared<PlayOptions>();
    CLI::App* c = tool.add_subcommand("play", "Hands commands to the module's command queues; the send thread plays them.");
    c->footer(
        "Builds a world — a 4-drive QIX on COM1, four recorders mapped to positions A to D, 25 blank\n"
        "discs in each input bin 4, 2, 5 and 1, no printer —, fills the module's recorder table,\n"
        "appends the COMMANDs to the global queue (those after --printer-queue to the printer queue),\n"
        "starts the send thread and runs until it has ended. Then prints one line per command the\n"
        "robot received other than _SI and _SV, as '<virtual ms> <command>'; one line per place that\n"
        "holds discs, as 'place <name> <count>' (names: 1-5, A-D, G, H, picker, printer, laminator,\n"
        "lost); and aborted=0 or aborted=1.\n"
        "\n"
        "Example: rovane-sim play A _MOVE: PICKUP _MOVE:A DROPOFF DONE:0\n"
        "         loads a blank disc from the current input bin into the recorder at A.\n"
        "\n"
        "Exit 0 when the queues drained without an abort, 2 when the job was aborted, 3 when the\n"
        "world stopped (a window nobody answered, a deadlock, the time budget), 4 when a disc was\n"
        "lost or the disc accounting broke (the seed that replays it is printed), 1 on a usage error.");
    c->add_option("COMMAND", o->global_cmds, "commands for the global queue, in order")->type_name("");
    c->add_option("--printer-queue", o->printer_cmds, "the commands after it go to the printer queue")
        ->type_name("COMMAND")
        ->expected(0, CLI::detail::expected_max_vector_size);
    c->add_option("--seed", o->seed, "the world's seed (default 1)")->type_name("N")->check(whole_number());
    add_fault_flags(c, &o->mispick, &o->empty_bins, &o->tray_fail);
    c->add_option("--answer", o->answers, kAnswerHelp)->type_name("PATTERN=BUTTON")->allow_extra_args(false)->check(answer_rule());
    c->add_option("--repeat", o->repeat,
                  "play the commands N times over (default 1), the send thread starting anew each time, as the "
                  "requests of a long job would")
        ->type_name("N")
        ->check(whole_number(1, 10000));
    c->add_flag("--timing", o->show_timing, "print the virtual and the wall time on stderr");
    c->add_flag("--transcript", o->show_transcript, "also print the transcript, with virtual times");
    return {c, [o] { return run_play(*o); }};
}

}  // namespace rovane_tool
