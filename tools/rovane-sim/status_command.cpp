// rovane-sim status: the module opens the robot's port, asks the version and the status, and
// the tool prints what the module learned, one key=value a line.
#include <CLI/CLI.hpp>

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "devices/robot.h"
#include "flag_checks.h"
#include "foundation/module_context.h"
#include "foundation/settings.h"
#include "kernel/transcript.h"
#include "output_files.h"
#include "robot/robo_status.h"
#include "robot/serial_port.h"
#include "rovane.h"
#include "tool_commands.h"
#include "win32/files.h"
#include "win32/registry.h"
#include "win32/serial.h"
#include "world/world.h"

namespace rovane_tool {

namespace {

struct StatusOptions {
    uint64_t seed = 1;
    uint64_t polls = 10;
    double noise = 0;
    std::string port = "COM1", firmware, model, drive_code, out_dir = "rovane-sim-out";
    bool robot_off = false;
    std::string transcript_path;
};

// What the module learned from the robot.
struct StatusAsked {
    BYTE status[22] = {};
    DWORD status_ok = 0, length = 0, type = 0;
    WORD model_type = 0;
    int opened = 0, version_ok = 0;
};

// The robot on its port in a world with the data folder, the module loaded and its paths set.
void build_status_world(const StatusOptions& o, sim::World& world, const std::string& port_name) {
    install_data_folder(world);
    sim::RobotConfig rc;
    if (!o.firmware.empty()) rc.firmware = o.firmware;
    if (!o.model.empty()) rc.model = o.model;
    if (!o.drive_code.empty()) rc.drive_code = o.drive_code[0];
    rc.line.damage_probability = o.noise;
    auto robot = std::make_shared<sim::Robot>(rc);
    world.serial().attach(port_name, robot);
    if (o.robot_off) robot->power_off();
    world.load_module();
    CreateModuleLock();
    SetModulePaths(HostKeyword("VeltoDVD", nullptr));
}

// On the host's thread: the port opened, the version asked (up to three times, as an operator
// pressing Retry would), the status polled.
void ask_status(const StatusOptions& o, const std::string& port_name, StatusAsked* a) {
    a->opened = PortOpen(port_name.c_str(), FALSE);
    if (!a->opened) return;
    for (int attempt = 0; attempt < 3 && !a->version_ok; ++attempt) a->version_ok = GetRoboVersion(1500, &a->model_type);
    for (uint64_t poll = 0; poll < o.polls; ++poll) {
        if (poll) Sleep(300);
        a->status_ok = Rovane_GetRoboStatus(a->status, sizeof a->status, &a->length, &a->type);
        if (!a->status_ok) break;
    }
    PortClose();
}

// The serial and robot lines of the transcript, to its file; false after the message.
bool write_status_transcript(const StatusOptions& o, sim::World& world, std::FILE* transcript) {
    for (const auto& e : world.kernel().transcript().entries())
        if (e.kind.rfind("serial", 0) == 0 || e.kind == "robot")
            std::fprintf(transcript, "%s\n", sim::Transcript::format(e).c_str());
    return close_output("status", "--transcript", o.transcript_path, transcript);
}

void print_status(const StatusAsked& a, const std::string& log_path) {
    const BYTE* s = a.status;
    if (a.status_ok)
        std::printf("state=%c\nerror=%c\nprinter=%c\ntray=%c\nposition=%c\naux=%c\npicker=%c\n", s[0], s[1], s[2], s[3],
                    s[4], s[5], s[6]);
    std::printf("model=%u\ndrives=%u\nfirmware=%s\n", static_cast<unsigned>(a.model_type),
                static_cast<unsigned>(g_bRecorderCount), sim::Transcript::escape(g_szFirmware).c_str());
    std::printf("log=%s\n", log_path.c_str());
}

// Exit 0 when the robot answered the status query, 1 with a one-line reason otherwise (a probe
// of the line, not a job: it has no verdict of its own).
int run_status(const StatusOptions& o) {
    std::string port_name;
    if (!sim::parse_port_name(o.port, &port_name) || port_name > "COM4")
        return usage_error("status", "--port takes COM1 to COM4, not '" + o.port + "'");
    if (o.firmware.find_first_of("\r\n") != std::string::npos || o.model.find_first_of("\r\n") != std::string::npos)
        return usage_error("status", "--firmware and --model take one line of text");
    std::FILE* transcript = nullptr;
    if (!o.transcript_path.empty() && !(transcript = open_output("status", "--transcript", o.transcript_path))) return 1;
    sim::WorldConfig cfg;
    cfg.seed = o.seed;
    sim::World world(cfg);
    build_status_world(o, world, port_name);
    StatusAsked asked;
    world.spawn("host", [&] { ask_status(o, port_name, &asked); });
    const sim::RunResult result = world.run();
    if (transcript && !write_status_transcript(o, world, transcript)) return 1;
    if (!result.ok()) {
        std::fprintf(stderr, "rovane-sim status: the world stopped: %s\n", result.report.c_str());
        return 1;
    }
    // The world's files, the module's log among them, as the output folder now holds them.
    const std::string log_path = world.files().host_path(o.out_dir, g_szLogPath);
    std::error_code error;
    if (!world.files().export_to(o.out_dir) || !std::filesystem::is_regular_file(log_path, error)) {
        std::fprintf(stderr, "rovane-sim status: cannot write the world's files to '%s' (the module's log: '%s')\n",
                     o.out_dir.c_str(), log_path.c_str());
        return 1;
    }
    print_status(asked, log_path);
    if (!asked.opened) {
        std::fprintf(stderr, "rovane-sim status: the module could not open %s (see the log)\n", port_name.c_str());
        return 1;
    }
    if (!asked.status_ok) {
        std::fprintf(stderr, "rovane-sim status: the robot did not answer the status query (three attempts)\n");
        return 1;
    }
    return 0;
}

}  // namespace

Command add_status_command(CLI::App& tool) {
    auto o = std::make_shared<StatusOptions>();
    CLI::App* c = tool.add_subcommand("status", "Asks the virtual robot for its version and status through the module.");
    c->footer(
        "Builds a world with a virtual QIX robot on the serial port, lets the module open the port,\n"
        "ask the robot's version (up to three times, as an operator pressing Retry would) and its\n"
        "status, and prints: state, error, printer, tray, position, aux, picker, model (1 for a\n"
        "Zorvik QIX, 0 otherwise), drives, firmware (escaped to one line), then log=PATH, the\n"
        "module's log file as written to the output folder (--out; the world's files are written\n"
        "there as they are at the end, under C/...).\n"
        "\n"
        "Exit 0 when the robot answered the status query, 1 with a one-line reason when it did not,\n"
        "on a usage error, or when the output folder or --transcript FILE could not be written.");
    c->add_option("--seed", o->seed, "the world's seed (default 1); the same seed gives the same output and log")
        ->type_name("N")
        ->check(whole_number());
    c->add_option("--port", o->port, "the port the robot is on and the module opens (default COM1)")->type_name("COMn");
    c->add_option("--firmware", o->firmware, "the robot's firmware version, as its version line tells it (default 1.13)")
        ->type_name("TEXT")
        ->check(not_empty("a firmware version"));
    c->add_option("--model", o->model, "the model letters after \"VERSION:\" (default R, a QIX; N or Q older models)")
        ->type_name("LETTERS")
        ->check(not_empty("the model letters"));
    c->add_option("--drive-code", o->drive_code, "the drive-count character before CR LF (default A: four drives)")
        ->type_name("C")
        ->check(CLI::Validator([](std::string& t) -> std::string { return t.size() == 1 ? "" : "takes one character"; }, ""));
    c->add_flag("--robot-off", o->robot_off, "the robot is switched off: it answers nothing");
    c->add_option("--noise", o->noise,
                  "probability that a reply of the robot is damaged: garbage before it, a bad checksum, a dropped "
                  "byte, or no reply at all (default 0)")
        ->type_name("P")
        ->check(probability());
    c->add_option("--polls", o->polls,
                  "status queries, 300 ms apart, as a host watching the robot makes them (default 10); the keys "
                  "show the last answer; polling stops at the first query the robot leaves unanswered after its "
                  "three attempts")
        ->type_name("N")
        ->check(whole_number(1, 100000));
    c->add_option("--transcript", o->transcript_path, "write the wire transcript, with virtual times, to FILE")
        ->type_name("FILE")
        ->check(not_empty("a file name"));
    c->add_option("--out", o->out_dir, "where the world's files are written (default rovane-sim-out)")
        ->type_name("DIR")
        ->check(not_empty("a folder name"));
    return {c, [o] { return run_status(*o); }};
}

}  // namespace rovane_tool
