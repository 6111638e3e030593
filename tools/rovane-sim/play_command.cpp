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
#include "devices/robot.h"
#include "flag_checks.h"
#include "foundation/job_state.h"
#include "foundation/module_context.h"
#include "foundation/settings.h"
#include "harness/autoloader.h"
#include "harness/recording_host.h"
#include "harness/verdict.h"
#include "host/job_reset.h"
#include "kernel/transcript.h"
#include "machine_flags.h"
#include "operator_answers.h"
#include "output_files.h"
#include "robot/robo_status.h"
#include "robot/serial_port.h"
#include "sequencer/command_queue.h"
#include "sequencer/send_thread.h"
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
    bool show_timing = false;
    std::string transcript_path;
    std::vector<std::string> empty_bins, answers;
    std::vector<std::string> global_cmds, printer_cmds;
};

// The commands of the module's queues: what its send thread knows how to play. Anything else
// would go to the robot as it stands and come back as an invalid command, again and again.
constexpr const char* kVocabulary =
    "_MOVE: (the current input bin), _MOVE:L (L a position: A-D, 1-5, E, G, H, S, I, or O for the "
    "bin's output), A-D alone (open that recorder's tray), PICKUP, DROPOFF, _PICK, _TRAYIN, _TRAYOUT, "
    "_PTI, _PTO, _LAMIN, _LAMOUT, LAM:..., WAITL:, PRINT:0-4, WAIT:, DONE:0-9, XFER:";

bool known_command(const std::string& c) {
    static const char* const kWhole[] = {"PICKUP", "DROPOFF", "_PICK", "_TRAYIN", "_TRAYOUT", "_PTI", "_PTO", "_LAMIN",
                                         "_LAMOUT", "WAITL:", "WAIT:", "XFER:", "_MOVE:", "A", "B", "C", "D"};
    for (const char* whole : kWhole)
        if (c == whole) return true;
    const auto followed_by = [&c](const std::string& head, const char* letters) {
        return c.size() == head.size() + 1 && c.compare(0, head.size(), head) == 0 && std::strchr(letters, c.back());
    };
    return followed_by("_MOVE:", "ABCD12345EGHSIO") || followed_by("PRINT:", "01234") ||
           followed_by("DONE:", "0123456789") || c.rfind("LAM:", 0) == 0;
}

CLI::Validator queue_command() {
    return CLI::Validator(
        [](std::string& t) -> std::string {
            return known_command(t) ? ""
                                    : "the module's queues know no command '" + t + "'; they know " + kVocabulary;
        },
        "");
}

// The global queue and the printer queue hold this many commands each.
constexpr size_t kQueueEntries = 160;

// The commands checked: notes for what the module will refuse itself, usage errors for the rest.
// Nonzero: the exit code.
int check_play_commands(const PlayOptions& o) {
    for (const auto* cmds : {&o.global_cmds, &o.printer_cmds})
        for (const auto& c : *cmds)
            if (c.size() > 9) {
                // The queue refuses it itself (and aborts the job); say why up front as well.
                std::fprintf(stderr, "rovane-sim play: note: '%s' is longer than a queue entry (9 characters)\n",
                             c.c_str());
            }
    for (const auto* cmds : {&o.global_cmds, &o.printer_cmds})
        if (cmds->size() > kQueueEntries)
            std::fprintf(stderr,
                         "rovane-sim play: note: %zu commands for the %s queue, which holds %zu: the module refuses "
                         "the rest and aborts the job\n",
                         cmds->size(), cmds == &o.global_cmds ? "global" : "printer", kQueueEntries);
    if (o.global_cmds.empty() && o.printer_cmds.empty()) return usage_error("play", "no commands");
    // CLI11 leaves an empty value of --printer-queue (which may take none) unchecked.
    for (const std::string& c : o.printer_cmds)
        if (!known_command(c))
            return usage_error("play", "--printer-queue: the module's queues know no command '" + c + "'; they know " +
                                           kVocabulary);
    return 0;
}

// The world of play, and what the tool follows in it (the listeners point into it).
struct PlayWorld {
    std::unique_ptr<sim::Autoloader> machine;
    std::FILE* transcript = nullptr;
    std::FILE* wire_lines = nullptr;  // the robot's commands, as they came
    std::string overflow;             // the module's overflow message, when a queue overflowed
    int overflow_listener = 0;
};

// The shared harness's machine: a 4-drive QIX on COM1 whose recorders the settings know, and a
// disc printer that answers on the robot's cable, stored as the module's printer — so that
// start-up asks nothing and sends nothing but its queries.
sim::AutoloaderConfig play_machine_config(const PlayOptions& o) {
    sim::AutoloaderConfig cfg;
    cfg.seed = o.seed;
    cfg.drives = 4;
    cfg.disc_printer = "Pellan IV";
    cfg.settings = {{"Printer", "Pellan IV"}};
    cfg.robot.mispick_probability = o.mispick;
    for (const std::string& bin : o.empty_bins) cfg.robot.initial_discs[bin[0]] = 0;
    return cfg;
}

// Nonzero (the exit code, after its message) when a file cannot be made.
int build_play_world(const PlayOptions& o, PlayWorld& p) {
    if (!o.transcript_path.empty() && !(p.transcript = open_output("play", "--transcript", o.transcript_path))) return 1;
    p.machine = std::make_unique<sim::Autoloader>(play_machine_config(o));
    sim::Autoloader& machine = *p.machine;
    sim::World& world = machine.world;
    // The robot and the transcript keep only their recent entries: what a long run prints is
    // written to scratch files as it happens and copied out at the end.
    p.wire_lines = std::tmpfile();
    if (!p.wire_lines) {
        std::fprintf(stderr, "rovane-sim play: cannot create a scratch file\n");
        if (p.transcript) std::fclose(p.transcript);
        return 1;
    }
    std::FILE* wire_lines = p.wire_lines;
    machine.robot->on_received([wire_lines](const sim::ReceivedCommand& c) {
        if (c.kind == sim::ReceivedCommand::Kind::Command && (c.text == "_SI" || c.text == "_SV")) return;
        std::fprintf(wire_lines, "%s\n", c.line().c_str());
    });
    if (p.transcript) world.kernel().transcript().stream_to(p.transcript);
    if (o.tray_fail)
        for (const auto& drive : machine.drives) machine.engine->fail_tray_calls(drive->unit(), static_cast<int>(o.tray_fail));
    install_answers(world, machine.robot, o.answers);
    // A queue that overflows: the module shows its message (an OK box, system-modal) and aborts
    // the job; the person at the machine reads it and closes it.
    world.op().on_message_box("overflow!").named("close the overflow message").answer(IDOK);
    std::string* overflow = &p.overflow;
    p.overflow_listener = world.kernel().transcript().subscribe([overflow](const sim::TranscriptEntry& e) {
        const size_t at = e.text.find("text=\"Fatal ");
        if (overflow->empty() && e.kind == "window" && e.text.rfind("msgbox shown", 0) == 0 && at != std::string::npos)
            *overflow = e.text.substr(at + 5);
    });
    world.load_module();
    return 0;
}

// On the host's thread: the module started, then each round hands the commands to the queues and
// lets the send thread play them; it ends by itself once the queues are used up or the job was
// aborted. False when the module did not start.
bool play_queues(const PlayOptions& o, sim::Autoloader& machine) {
    if (machine.init_module().result != 4) return false;
    InitGlobals();
    g_bInputBinIndex = 0;
    for (uint64_t round = 0; round < o.repeat && !g_fJobAborted; ++round) {
        for (const auto& c : o.global_cmds) Queue_Cmd(c.c_str(), NULL, 0);
        for (const auto& c : o.printer_cmds) PRN_Queue(c.c_str(), NULL, 0);
        for (int row = 0; row < 4; ++row) g_Recorders[row].dwMoveState = MOVE_STATE_POSTED;
        StartSendThread();
        for (;;) {
            Sleep(300);
            EnterCriticalSection(&g_csModule);
            const bool running = g_fSendQueueRunning || !g_fSendThreadDone;
            LeaveCriticalSection(&g_csModule);
            if (!running) break;
        }
    }
    return true;
}

// The robot may still be working through commands it buffered (the abort sequence sends its last
// ones while the arm travels): let it finish, within a minute of virtual time.
sim::RunResult settle_robot(sim::World& world, const sim::Robot& robot, sim::RunResult result) {
    const sim::Micros settle_limit = world.kernel().now() + sim::kMinute;
    while (result.ok() && (robot.busy() || !robot.buffered_commands().empty()) && world.kernel().now() < settle_limit)
        result = world.run_until_time(world.kernel().now() + 100 * sim::kMs);
    return result;
}

// The wire, the places and whether the job was aborted, on standard output.
void report_play(PlayWorld& p, bool aborted) {
    std::rewind(p.wire_lines);
    char buffer[4096];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, p.wire_lines)) > 0;) std::fwrite(buffer, 1, n, stdout);
    std::fclose(p.wire_lines);
    for (const std::string& line : p.machine->places()) std::printf("%s\n", line.c_str());
    std::printf("aborted=%d\n", aborted ? 1 : 0);
}

// Every disc must be somewhere: one the commands drop where nothing holds it is lost, and a lost
// disc breaks the run as it would a job.
sim::Verdict judge_play(const PlayWorld& p, const sim::RunResult& result, bool started, bool aborted) {
    if (!result.ok()) {
        std::fprintf(stderr, "rovane-sim play: the world stopped: %s\n", result.report.c_str());
        return sim::Verdict::WorldStopped;
    }
    if (!started) {
        std::fprintf(stderr, "rovane-sim play: the module did not start (see its log)\n");
        return sim::Verdict::WorldStopped;
    }
    const std::string broken = p.machine->check_invariants(false);
    if (!broken.empty()) {
        std::fprintf(stderr, "rovane-sim play: invariants broken:\n%s", broken.c_str());
        return sim::Verdict::InvariantBroken;
    }
    if (aborted && !p.overflow.empty())
        std::fprintf(stderr, "rovane-sim play: the module aborted the job: %s\n", p.overflow.c_str());
    else if (aborted)
        std::fprintf(stderr, "rovane-sim play: the job was aborted\n");
    return aborted ? sim::Verdict::Aborted : sim::Verdict::Completed;
}

int run_play(const PlayOptions& o) {
    if (const int refused = check_play_commands(o)) return refused;
    PlayWorld p;
    if (const int refused = build_play_world(o, p)) return refused;
    sim::World& world = p.machine->world;
    bool started = false;
    sim::SimThread* host = world.spawn("host", [&] { started = play_queues(o, *p.machine); });
    const auto wall_start = std::chrono::steady_clock::now();
    sim::RunResult result = world.run([host] { return host->state == sim::ThreadState::Finished; });
    result = settle_robot(world, *p.machine->robot, result);
    if (o.show_timing)
        std::fprintf(stderr, "virtual time %s, wall time %.3f s\n", world.kernel().time_text().c_str(),
                     std::chrono::duration<double>(std::chrono::steady_clock::now() - wall_start).count());
    world.kernel().transcript().unsubscribe(p.overflow_listener);
    world.kernel().transcript().stop_streaming();
    const bool transcript_lost = p.transcript && !close_output("play", "--transcript", o.transcript_path, p.transcript);
    const bool aborted = g_fJobAborted != 0;
    report_play(p, aborted);
    const sim::Verdict verdict = judge_play(p, result, started, aborted);
    // A transcript that could not be written fails a run that would have passed.
    if (transcript_lost && verdict == sim::Verdict::Completed) return sim::exit_code(sim::Verdict::UsageError);
    return sim::exit_code(verdict);
}

}  // namespace

Command add_play_command(CLI::App& tool) {
    auto o = std::make_shared<PlayOptions>();
    CLI::App* c = tool.add_subcommand("play", "Hands commands to the module's command queues; the send thread plays them.");
    c->footer(
        "Builds a world — a 4-drive QIX on COM1, four recorders mapped to positions A to D, 25 blank\n"
        "discs in each input bin 4, 2, 5 and 1, the disc printer \"Pellan IV\" named in the settings\n"
        "file —, starts the module, fills its recorder table,\n"
        "appends the COMMANDs to the global queue (those after --printer-queue to the printer queue),\n"
        "starts the send thread and runs until it has ended. Then prints one line per command the\n"
        "robot received other than _SI and _SV, as '<virtual ms> <command>'; one line per place that\n"
        "holds discs, as 'place <name> <count>' (names: 1-5, A-D, G, H, picker, printer, laminator,\n"
        "lost); and aborted=0 or aborted=1.\n"
        "\n"
        "Example: rovane-sim play A _MOVE: PICKUP _MOVE:A DROPOFF DONE:0\n"
        "         loads a blank disc from the current input bin into the recorder at A.\n"
        "\n"
        "The commands the queues know: _MOVE: (to the current input bin), _MOVE:L (L one of A-D,\n"
        "1-5, E, G, H, S, I; O for the current bin's output), A-D alone (open that recorder's\n"
        "tray), PICKUP, DROPOFF, _PICK, _TRAYIN, _TRAYOUT, _PTI, _PTO, _LAMIN, _LAMOUT, LAM:...,\n"
        "WAITL:, PRINT:0-4, WAIT:, DONE:0-9, XFER:; any other is refused. Each queue holds 160\n"
        "commands of at most 9 characters: the module refuses one more, or a longer one, with its\n"
        "overflow message and aborts the job; the operator closes the message.\n"
        "\n"
        "Exit 0 when the queues drained without an abort, 2 when the job was aborted (why, on\n"
        "stderr), 3 when the world stopped (a window nobody answered, a deadlock, the 48-hour\n"
        "time budget), 4 when a disc was lost or the disc accounting broke (the seed that replays\n"
        "it is printed), 1 on a usage error or when --transcript FILE could not be written.");
    c->add_option("COMMAND", o->global_cmds, "commands for the global queue, in order")->type_name("")->check(queue_command());
    c->add_option("--printer-queue", o->printer_cmds, "the commands after it go to the printer queue")
        ->type_name("COMMAND")
        ->expected(0, CLI::detail::expected_max_vector_size)
        ->check(queue_command());
    c->add_option("--seed", o->seed, "the world's seed (default 1)")->type_name("N")->check(whole_number());
    add_fault_flags(c, &o->mispick, &o->empty_bins, &o->tray_fail);
    c->add_option("--answer", o->answers, kAnswerHelp)->type_name("PATTERN=BUTTON")->allow_extra_args(false)->check(answer_rule());
    c->add_option("--repeat", o->repeat,
                  "play the commands N times over (default 1), the send thread starting anew each time, as the "
                  "requests of a long job would")
        ->type_name("N")
        ->check(whole_number(1, 10000));
    c->add_flag("--timing", o->show_timing, "print the virtual and the wall time on stderr");
    c->add_option("--transcript", o->transcript_path, "write the transcript, with virtual times, to FILE")
        ->type_name("FILE")
        ->check(not_empty("a file name"));
    return {c, [o] { return run_play(*o); }};
}

}  // namespace rovane_tool
