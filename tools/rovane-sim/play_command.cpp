// rovane-sim play: a service tool that hands commands straight to the module's command queues and
// lets the send thread play them to the virtual robot, as a job would.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "devices/recorders.h"
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

constexpr int kStatusDialog = 117;
constexpr int kAbortJobButton = 1178;

void print_play_help() {
    std::printf(
        "rovane-sim play [flags] COMMAND... [--printer-queue COMMAND...]\n"
        "  Builds a world — a 4-drive QIX on COM1, four recorders mapped to positions A to D, 25 blank\n"
        "  discs in each input bin 4, 2, 5 and 1, no printer —, fills the module's recorder table,\n"
        "  appends the COMMANDs to the global queue (those after --printer-queue to the printer queue),\n"
        "  starts the send thread and runs until it has ended. Then prints one line per command the\n"
        "  robot received other than _SI and _SV, as '<virtual ms> <command>'; one line per place that\n"
        "  holds discs, as 'place <name> <count>' (names: 1-5, A-D, G, H, picker, printer, laminator,\n"
        "  lost); and aborted=0 or aborted=1.\n"
        "\n"
        "  Example: rovane-sim play A _MOVE: PICKUP _MOVE:A DROPOFF DONE:0\n"
        "           loads a blank disc from the current input bin into the recorder at A.\n"
        "\n"
        "  --seed N                the world's seed (default 1)\n"
        "  --mispick P             probability that a pick where a disc is fails (robot error F)\n"
        "  --empty-bin LETTER      that input bin starts empty (repeatable)\n"
        "  --tray-fail N           every recorder tray call fails N times before it works\n"
        "  --answer PATTERN=BUTTON the operator's rule for a message box or the status message whose\n"
        "                          text contains PATTERN (repeatable, tried in order). BUTTON: OK,\n"
        "                          CANCEL, RETRY, YES, NO, ABORT, IGNORE for message boxes; ABORTJOB\n"
        "                          (the status message's ABORT Job button); PAUSEPICK (press the\n"
        "                          robot's Pause and Pick buttons together, and let the message close\n"
        "                          itself); REFILL (put 25 discs into the input bin the arm is at,\n"
        "                          press Pick)\n"
        "  --repeat N              play the commands N times over (default 1), the send thread\n"
        "                          starting anew each time, as the requests of a long job would\n"
        "  --timing                print the virtual and the wall time on stderr\n"
        "  --transcript            also print the transcript, with virtual times\n"
        "\n"
        "  Exit 0 when the queues drained without an abort, 2 when the job was aborted, 3 when the\n"
        "  world stopped (a window nobody answered, a deadlock, the time budget), 1 on a usage error.\n");
}

struct Answer {
    std::string pattern;
    std::string button;
};

int message_box_button(const std::string& name) {
    static const std::pair<const char*, int> buttons[] = {{"OK", IDOK},       {"CANCEL", IDCANCEL}, {"RETRY", IDRETRY},
                                                          {"YES", IDYES},     {"NO", IDNO},         {"ABORT", IDABORT},
                                                          {"IGNORE", IDIGNORE}};
    for (const auto& [n, id] : buttons)
        if (name == n) return id;
    return 0;
}

}  // namespace

int play_command(const std::vector<std::string>& all_args) {
    // Flags come before the commands; "--printer-queue" switches the queue the next commands go to.
    std::vector<std::string> flag_args, global_cmds, printer_cmds;
    bool to_printer = false;
    for (size_t i = 0; i < all_args.size(); ++i) {
        const std::string& a = all_args[i];
        if (a == "--printer-queue") {
            to_printer = true;
        } else if (a.rfind("--", 0) == 0) {
            flag_args.push_back(a);
            const bool takes_value = a == "--seed" || a == "--mispick" || a == "--empty-bin" || a == "--tray-fail" ||
                                     a == "--answer" || a == "--repeat";
            if (takes_value && i + 1 < all_args.size()) flag_args.push_back(all_args[++i]);
        } else {
            (to_printer ? printer_cmds : global_cmds).push_back(a);
        }
    }
    Flags flags(flag_args);
    if (flags.take("--help")) {
        print_play_help();
        return 0;
    }
    uint64_t seed = 1, tray_fail = 0, repeat = 1;
    double mispick = 0;
    flags.take_u64("--seed", &seed);
    flags.take_u64("--repeat", &repeat);
    const bool show_timing = flags.take("--timing");
    flags.take_double("--mispick", &mispick);
    flags.take_u64("--tray-fail", &tray_fail);
    const bool show_transcript = flags.take("--transcript");
    std::string value;
    std::string empty_bins;
    while (flags.take("--empty-bin", &value)) {
        if (value.size() != 1 || !std::strchr("1245", value[0])) {
            std::fprintf(stderr, "rovane-sim play: --empty-bin takes an input bin: 4, 2, 5 or 1, not '%s'\n", value.c_str());
            return 1;
        }
        empty_bins += value;
    }
    std::vector<Answer> answers;
    while (flags.take("--answer", &value)) {
        const size_t eq = value.rfind('=');
        Answer a{eq == std::string::npos ? "" : value.substr(0, eq), eq == std::string::npos ? "" : value.substr(eq + 1)};
        if (a.pattern.empty() || (!message_box_button(a.button) && a.button != "ABORTJOB" && a.button != "PAUSEPICK" &&
                                  a.button != "REFILL")) {
            std::fprintf(stderr, "rovane-sim play: --answer takes PATTERN=BUTTON, not '%s' (try --help)\n", value.c_str());
            return 1;
        }
        answers.push_back(a);
    }
    if (!flags.done("play")) return 1;
    if (repeat < 1 || repeat > 10000) {
        std::fprintf(stderr, "rovane-sim play: --repeat takes 1 to 10000\n");
        return 1;
    }
    if (tray_fail > 1000) {
        std::fprintf(stderr, "rovane-sim play: --tray-fail takes 0 to 1000\n");
        return 1;
    }
    for (const auto& c : global_cmds)
        if (c.size() > 9) {
            // The queue refuses it itself (and aborts the job); say why up front as well.
            std::fprintf(stderr, "rovane-sim play: note: '%s' is longer than a queue entry (9 characters)\n", c.c_str());
        }
    if (global_cmds.empty() && printer_cmds.empty()) {
        std::fprintf(stderr, "rovane-sim play: no commands (try --help)\n");
        return 1;
    }

    // --- the world -------------------------------------------------------------------------------
    sim::WorldConfig cfg;
    cfg.seed = seed;
    sim::World world(cfg);
    install_data_folder(world);

    sim::RobotConfig rc;
    rc.mispick_probability = mispick;
    for (char bin : empty_bins) rc.initial_discs[bin] = 0;
    auto robot = std::make_shared<sim::Robot>(rc);
    world.serial().attach("COM1", robot);

    sim::HostEngine engine(world);
    const char positions[] = {'A', 'B', 'C', 'D'};
    for (int i = 0; i < 4; ++i) {
        sim::RecorderConfig r = sim::RecorderConfig::external(i + 1, static_cast<char>('E' + i), "SN-PLAY-" + std::to_string(i + 1));
        auto device = engine.add_recorder(r);
        robot->connect_recorder(positions[i], device);
        if (tray_fail) engine.fail_tray_calls(r.unit, static_cast<int>(tray_fail));
    }

    for (const Answer& a : answers) {
        const int button = message_box_button(a.button);
        if (button) {
            world.op().on_message_box(a.pattern).answer(button);
            continue;
        }
        auto& rule = world.op().on_dialog(kStatusDialog).containing(a.pattern);
        if (a.button == "ABORTJOB") {
            rule.click(kAbortJobButton);
        } else if (a.button == "PAUSEPICK") {
            rule.then([robot] { robot->press_pause_and_pick(); });
        } else {
            rule.then([robot] {
                const char bin = robot->position();
                if (std::strchr("1245", bin)) robot->refill(bin, 25);
                robot->press_pick();
            });
        }
    }

    // --- the module ------------------------------------------------------------------------------
    world.load_module();
    CreateModuleLock();
    SetModulePaths(HostKeyword("VeltoDVD", nullptr));
    for (int i = 0; i < 4; ++i) {
        const auto& dev = engine.recorders()[i];
        const int row = AddRecorder(dev->unit(), 0, dev->config().host_adapter, dev->config().target, dev->letter(),
                                    dev->config().name.c_str());
        static const char* const labels[] = {"Duplicator RIGHT-TOP", "Duplicator LEFT-TOP", "Duplicator RIGHT-BOTTOM",
                                             "Duplicator LEFT-BOTTOM"};
        AssignPosition(row, positions[i], labels[i]);
    }

    bool started = false;
    sim::SimThread* host = world.spawn("host", [&] {
        if (!PortOpen("COM1", FALSE)) return;
        WORD model = 0;
        GetRoboVersion(1500, &model);
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

    if (show_timing)
        std::fprintf(stderr, "virtual time %s, wall time %.3f s\n", world.kernel().time_text().c_str(),
                     std::chrono::duration<double>(std::chrono::steady_clock::now() - wall_start).count());
    if (show_transcript) std::fputs(world.transcript_text().c_str(), stdout);
    for (const auto& c : robot->received_commands()) {
        if (c.kind == sim::ReceivedCommand::Kind::Command && (c.text == "_SI" || c.text == "_SV")) continue;
        std::printf("%s\n", c.line().c_str());
    }
    static const std::pair<const char*, const char*> places[] = {
        {"1", "1"}, {"2", "2"}, {"3", "3"}, {"4", "4"}, {"5", "5"},          {"A", "A"},     {"B", "B"},
        {"C", "C"}, {"D", "D"}, {"G", "G"}, {"H", "H"}, {"picker", "picker"}, {"printer", "S"}, {"laminator", "E"},
        {"lost", "lost"}};
    for (const auto& [name, place] : places) {
        const size_t n = robot->count_at(place);
        if (n) std::printf("place %s %zu\n", name, n);
    }
    const bool aborted = g_fJobAborted != 0;
    std::printf("aborted=%d\n", aborted ? 1 : 0);
    const std::string conservation = robot->check_conservation();
    if (!conservation.empty()) std::fprintf(stderr, "rovane-sim play: disc accounting: %s\n", conservation.c_str());
    if (!result.ok()) {
        std::fprintf(stderr, "rovane-sim play: the world stopped: %s\n", result.report.c_str());
        return 3;
    }
    if (!started) {
        std::fprintf(stderr, "rovane-sim play: the module could not open COM1\n");
        return 3;
    }
    return aborted ? 2 : 0;
}

}  // namespace rovane_tool
