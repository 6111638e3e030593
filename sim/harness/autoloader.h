// The shared harness: a simulated world with a whole autoloader in it, as a host's machine has
// it — the robot on its serial port, the host engine's recorders in the robot's positions, the
// disc printer on the robot's auxiliary cable and in the spooler beside ordinary printers, the
// laminator behind the spooler printer "Disc Laminator", the label application's automation
// server, and the data folder with the module's settings file. Tools and tests start the module
// through it, and check the run's invariants with it at the end.
//
//   sim::AutoloaderConfig c;  c.seed = 7;  c.disc_printer = "Pellan IV";
//   sim::Autoloader machine(c);
//   machine.world.spawn("host", [&] { ... Rovane_Init(..., machine.recorder_list().c_str(), ...) ... });
//   machine.world.run();
//   std::string broken = machine.check_invariants();
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "devices/disc_printer.h"
#include "devices/discs.h"
#include "devices/label_app.h"
#include "devices/laminator.h"
#include "devices/recorders.h"
#include "devices/robot.h"
#include "world/world.h"

namespace sim {

struct AutoloaderConfig {
    uint64_t seed = 1;
    // Recorders the host lists, wired into positions A, B, C, D in that order: 1, 2 or 4. The
    // robot's drive code follows (4: "A", 2 and 1: "B") unless `drive_code` says otherwise.
    int drives = 4;
    std::optional<char> drive_code;
    RobotConfig robot;               // identity, timings and faults of the robot
    std::string port = "COM1";       // where the robot's cable is
    bool robot_off = false;          // switched off: it answers nothing
    // The disc printer on the robot's auxiliary cable and behind the spooler printer of this name
    // on `disc_printer_port` ("" = no disc printer: the cable is empty). Its print time, ink and
    // faults come from `printer_config` (whose name, port and tray time these fields replace).
    std::string disc_printer;
    std::string disc_printer_port = "LPT1:";
    Micros printer_tray_time = 2 * kSecond;
    DiscPrinterConfig printer_config;
    // An office laser printer and a printer on "FILE:" listed as well.
    bool office_printers = true;
    bool laminator = false;          // "Disc Laminator" in the spooler, its tray at position "E"
    LaminatorConfig laminator_config;
    bool label_app = true;           // the label application is installed
    // A disc left behind from before, there when the world starts: inside the disc printer, its
    // tray in (the printer then reports "D" for a tray in with a disc), or inside the laminator,
    // its tray in (reporting "D" likewise; "W" once the tray is out). Ignored without the device.
    bool disc_in_printer = false;
    bool disc_in_laminator = false;
    bool register_data_folder = true;
    // The settings file as the last session left it: the four recorders' serial numbers (a
    // four-drive unit then maps without a dialog), and these keys of section "PORTS".
    bool stored_serials = true;
    std::vector<std::pair<std::string, std::string>> settings;
    // Rows of recorder names the host lists instead of the default model (e.g. "Pioneer DVD-RW
    // DVR-112D"), by position.
    std::vector<std::string> recorder_names;
    // A window nobody answers stops the run after this long.
    Micros unanswered_window_limit = 10 * kMinute;
    // The run stops with a report after this much virtual time.
    Micros budget = WorldConfig().budget;
};

// Names of the world's ordinary printers.
constexpr const char* kOfficePrinter = "Kestrel Office Laser 4200";
constexpr const char* kFilePrinter = "Document Writer";
constexpr const char* kDataFolder = "C:\\ProgramData\\Marlune\\";

// What one Rovane_Init handed the host.
struct InitOutcome {
    LONG result = -1;
    std::vector<std::string> lines;  // the selected-recorder lines, without their CR LF
    std::vector<LONG> units;         // the unit number of each line
    std::string product;
    BYTE error = 0xFF;
};

// The module's log file as written so far, one text a line without its timestamp.
std::vector<std::string> module_log_lines(World& world, const std::string& path);

class Autoloader {
public:
    explicit Autoloader(const AutoloaderConfig& config);
    ~Autoloader();
    Autoloader(const Autoloader&) = delete;
    Autoloader& operator=(const Autoloader&) = delete;

    const AutoloaderConfig& config() const { return config_; }

private:
    AutoloaderConfig config_;  // first: the world is made from it

public:
    World world;
    std::shared_ptr<Robot> robot;
    std::unique_ptr<HostEngine> engine;
    std::vector<std::shared_ptr<RecorderDevice>> drives;  // at A, B, C, D
    std::shared_ptr<DiscPrinter> printer;                 // null without a disc printer
    std::shared_ptr<Laminator> laminator;                 // null without a laminator
    std::shared_ptr<LabelApp> label_app;                  // null when not installed

    // The host's recorder list text, as Rovane_Init receives it.
    std::string recorder_list() const { return engine->recorder_list(); }
    // The settings file's path, and one of its keys as the file now holds it ("" when absent).
    std::string settings_path() const;
    std::string setting(const std::string& key);
    // The module's log as written so far, without timestamps.
    std::vector<std::string> log_texts();

    // On a simulated thread: the host application's main window (created once).
    HWND host_window();
    // On the host's thread: Rovane_Init as a host calls it, with the engine's handle, the host's
    // window and the world's recorder list (or `list`). The text sits in a host buffer that goes
    // on behind its NUL, as a host's does.
    InitOutcome init_module(const std::string& host_name = "VeltoDVD", const std::string* list = nullptr);

    // The discs the world left in the machine before the module started (disc_in_printer,
    // disc_in_laminator), with the place each was put: "S" the printer, "E" the laminator; and,
    // once the operator has taken it off a stack or reject position (take_away), which one.
    struct FoundDisc {
        DiscId id = 0;
        char place = 0;
        char taken_from = 0;
    };
    const std::vector<FoundDisc>& found_discs() const { return found_; }

    // The operator lifts every disc off a stack or reject position; the discs leave the machine
    // and are counted here by place, and each is remembered with the place it came off. A stack
    // that is an input bin as well as an output stack may hold blank discs the module had passed
    // over (a false "input empty"): they are taken off too, and are no finished discs. With
    // `leave`, the discs it says yes to go back on the place in their order and stay in the
    // machine (the operator sorting the pile); returns how many left it.
    size_t take_away(char place, const std::function<bool(const Disc&)>& leave = nullptr);
    const std::map<char, size_t>& taken_by_operator() const { return taken_; }
    struct TakenDisc {
        DiscId id = 0;
        char place = 0;
    };
    const std::vector<TakenDisc>& taken_discs() const { return taken_discs_; }

    // After the host is done: lets the module's threads end by themselves (a dialog closing, a
    // worker finishing its pass), for at most `limit` of virtual time.
    RunResult settle(Micros limit = kMinute);

    // "place <name> <count>" lines for every place that holds discs.
    std::vector<std::string> places() const;
    // What must hold at the end of every run: no disc lost, none duplicated or vanished, none
    // printed or laminated twice; every line of the module's logs in its format and each log within
    // its size; with `module_ended`, no thread of the module still running (call settle() first) —
    // except, with `ended_mid_job` (Rovane_End came while a job ran), a thread still showing its
    // printing or laminating dialog. Empty when all holds, else what broke (one line each).
    std::string check_invariants(bool module_ended, bool ended_mid_job = false);

private:
    HWND host_window_ = nullptr;
    std::map<char, size_t> taken_;
    std::vector<TakenDisc> taken_discs_;
    std::vector<FoundDisc> found_;
};

}  // namespace sim
