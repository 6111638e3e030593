// rovane-sim status: the module opens the robot's port, asks the version and the status, and
// the tool prints what the module learned, one key=value a line.
#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "devices/robot.h"
#include "foundation/settings.h"
#include "kernel/transcript.h"
#include "robot/robo_status.h"
#include "robot/serial_port.h"
#include "rovane.h"
#include "setup/module_context.h"
#include "tool_commands.h"
#include "win32/files.h"
#include "win32/registry.h"
#include "win32/serial.h"
#include "world/world.h"

namespace rovane_tool {

namespace {


void print_status_help() {
    std::printf(
        "rovane-sim status [flags]\n"
        "  Builds a world with a virtual QIX robot on the serial port, lets the module open the port,\n"
        "  ask the robot's version (up to three times, as an operator pressing Retry would) and its\n"
        "  status, and prints: state, error, printer, tray, position, aux, picker, model (1 for a\n"
        "  Zorvik QIX, 0 otherwise), drives, firmware (escaped to one line), then log=PATH, the\n"
        "  module's log file as written to the output folder.\n"
        "\n"
        "  --seed N          the world's seed (default 1); the same seed gives the same output and log\n"
        "  --port COMn       the port the robot is on and the module opens (default COM1)\n"
        "  --firmware TEXT   the robot's firmware version, as its version line tells it (default 1.13)\n"
        "  --model LETTERS   the model letters after \"VERSION:\" (default R, a QIX; N or Q older models)\n"
        "  --drive-code C    the drive-count character before CR LF (default A: four drives)\n"
        "  --robot-off       the robot is switched off: it answers nothing\n"
        "  --noise P         probability that a reply of the robot is damaged: garbage before it, a bad\n"
        "                    checksum, a dropped byte, or no reply at all (default 0)\n"
        "  --polls N         status queries, 300 ms apart, as a host watching the robot makes them\n"
        "                    (default 10); the keys show the last answer; polling stops at the first\n"
        "                    query the robot leaves unanswered after its three attempts\n"
        "  --transcript      also print the wire transcript, with virtual times\n"
        "  --out DIR         where the world's files are written (default rovane-sim-out)\n"
        "\n"
        "  Exit 0 when the robot answered the status query, 1 with a one-line reason when it did not\n"
        "  or on a usage error.\n");
}

}  // namespace

int status_command(const std::vector<std::string>& args) {
    Flags flags(args);
    if (flags.take("--help")) {
        print_status_help();
        return 0;
    }
    uint64_t seed = 1;
    double noise = 0;
    std::string port = "COM1", firmware, model, drive_code, out_dir = "rovane-sim-out";
    uint64_t polls = 10;
    flags.take_u64("--seed", &seed);
    flags.take_u64("--polls", &polls);
    flags.take("--port", &port);
    flags.take("--firmware", &firmware);
    flags.take("--model", &model);
    flags.take("--drive-code", &drive_code);
    const bool robot_off = flags.take("--robot-off");
    flags.take_double("--noise", &noise);
    const bool show_transcript = flags.take("--transcript");
    flags.take("--out", &out_dir);
    if (!flags.done("status")) return 1;
    if (polls < 1 || polls > 100000) {
        std::fprintf(stderr, "rovane-sim status: --polls takes 1 to 100000\n");
        return 1;
    }
    std::string port_name;
    if (!sim::parse_port_name(port, &port_name) || port_name > "COM4") {
        std::fprintf(stderr, "rovane-sim status: --port takes COM1 to COM4, not '%s'\n", port.c_str());
        return 1;
    }
    if (drive_code.size() > 1 || firmware.find_first_of("\r\n") != std::string::npos ||
        model.find_first_of("\r\n") != std::string::npos) {
        std::fprintf(stderr, "rovane-sim status: --drive-code takes one character; texts must be one line\n");
        return 1;
    }

    sim::WorldConfig cfg;
    cfg.seed = seed;
    sim::World world(cfg);
    install_data_folder(world);

    sim::RobotConfig rc;
    if (!firmware.empty()) rc.firmware = firmware;
    if (!model.empty()) rc.model = model;
    if (!drive_code.empty()) rc.drive_code = drive_code[0];
    rc.line.damage_probability = noise;
    auto robot = std::make_shared<sim::Robot>(rc);
    world.serial().attach(port_name, robot);
    if (robot_off) robot->power_off();

    world.load_module();
    CreateModuleLock();
    SetModulePaths(HostKeyword("VeltoDVD", nullptr));

    BYTE status[22] = {};
    DWORD status_ok = 0, length = 0, type = 0;
    WORD model_type = 0;
    int opened = 0, version_ok = 0;
    world.spawn("host", [&] {
        opened = PortOpen(port_name.c_str(), FALSE);
        if (!opened) return;
        for (int attempt = 0; attempt < 3 && !version_ok; ++attempt) version_ok = GetRoboVersion(1500, &model_type);
        for (uint64_t poll = 0; poll < polls; ++poll) {
            if (poll) Sleep(300);
            status_ok = Rovane_GetRoboStatus(status, sizeof status, &length, &type);
            if (!status_ok) break;
        }
        PortClose();
    });
    const sim::RunResult result = world.run();
    if (!result.ok()) {
        std::fprintf(stderr, "rovane-sim status: the world stopped: %s\n", result.report.c_str());
        return 1;
    }
    world.files().export_to(out_dir);
    const std::string log_path = world.files().host_path(out_dir, g_szLogPath);

    if (show_transcript) {
        for (const auto& e : world.kernel().transcript().entries())
            if (e.kind.rfind("serial", 0) == 0 || e.kind == "robot") std::printf("%s\n", sim::Transcript::format(e).c_str());
    }
    if (status_ok) {
        std::printf("state=%c\nerror=%c\nprinter=%c\ntray=%c\nposition=%c\naux=%c\npicker=%c\n", status[0], status[1],
                    status[2], status[3], status[4], status[5], status[6]);
    }
    std::printf("model=%u\ndrives=%u\nfirmware=%s\n", static_cast<unsigned>(model_type),
                static_cast<unsigned>(g_bRecorderCount), sim::Transcript::escape(g_szFirmware).c_str());
    std::printf("log=%s\n", log_path.c_str());
    if (!opened) {
        std::fprintf(stderr, "rovane-sim status: the module could not open %s (see the log)\n", port_name.c_str());
        return 1;
    }
    if (!status_ok) {
        std::fprintf(stderr, "rovane-sim status: the robot did not answer the status query (three attempts)\n");
        return 1;
    }
    return 0;
}

}  // namespace rovane_tool
