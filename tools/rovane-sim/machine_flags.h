// The machine the world flags of host, run, serve and movements describe, and the faults they
// set on it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "harness/autoloader.h"
#include "kernel/fault_counter.h"
#include "world/world.h"

namespace CLI {
class App;
}  // namespace CLI

namespace rovane_tool {

struct MachineFlags {
    uint64_t drives = 4;
    std::string drive_code;        // "" = as the drive count says
    std::string model = sim::RobotConfig().model;
    std::string firmware = sim::RobotConfig().firmware;
    std::string port = "COM1";
    bool robot_off = false;
    double noise = 0;
    std::string printer;           // "" = no disc printer
    std::string printer_port = "LPT1:";
    double printer_silent_at = -1;  // the disc printer stops answering at this time (s; -1: never)
    bool printer_disc_left = false; // a disc inside the disc printer when the world starts
    bool no_office_printers = false;
    bool laminator = false;
    std::string lam_firmware = sim::LaminatorConfig().firmware;
    bool lam_silent = false;
    uint64_t lam_corrupt = 0;
    uint64_t lam_jam = 0;     // the next N laminations stop with a disc jam
    uint64_t lam_falls = 0;   // on the next N laminations the disc falls off the tray
    bool lam_disc_left = false;  // a disc inside the laminator when the world starts
    bool no_label_app = false;
    bool no_stored_serials = false;
    std::vector<std::string> settings;   // KEY=VALUE
    std::vector<std::string> names;      // recorder model names by position
    // Faults of a long run (with_faults only).
    double mispick = 0;
    std::vector<std::string> empty_bins;
    uint64_t tray_fail = 0;
    std::string fail_call;    // --fail-call KIND:N or KIND:N+ ("" = none)
    // Faults counted in the machine's own events (host and serve): they strike at the same point
    // of a run whether the world's clock is virtual or keeps pace with the wall clock.
    std::vector<std::string> robot_errors_on;  // "F@pick:3": robot error F on the third pick
    std::vector<std::string> pauses_on;        // "move:5": the Pause button during the fifth move
    // "checksum@move:5+640": the first status reply sent 640 ms or more after the fifth move began
    // has a bad checksum (also garbage, dropped, none).
    std::vector<std::string> reply_damages;
    uint64_t print_fail = 0;                   // the disc printer's next N prints stop with error "B"
    // The machine's motions (the robot's arm, the printer's and the recorders' trays, printing,
    // the laminator) take 1/speed of their time; the module's own waits do not change.
    double speed = 1;
};
// Adds the flags to a command; `with_faults` adds --mispick, --empty-bin and --tray-fail.
void add_machine_flags(CLI::App* command, MachineFlags* flags, bool with_faults);
// --mispick, --empty-bin and --tray-fail alone.
void add_fault_flags(CLI::App* command, double* mispick, std::vector<std::string>* empty_bins, uint64_t* tray_fail);
// --fail-call KIND:N[+]: the Nth call of a family fails (once; with "+" every call from the Nth
// on). KIND is one of kFailCallKinds.
extern const char* const kFailCallKinds[5];  // serial-read, serial-write, tray, spooler, file-write
struct FailCall {
    std::string kind;
    uint64_t n = 0;
    bool lasting = false;
};
bool parse_fail_call(const std::string& text, FailCall* out);
std::string fail_call_text(const FailCall& f);  // "tray:3+"
// The world's counter of that kind (nullptr for an unknown kind).
sim::FaultCounter* fail_call_counter(sim::World& world, const std::string& kind);
// The machine the flags describe.
sim::AutoloaderConfig machine_config(const MachineFlags& flags, uint64_t seed);
// The commands that start the module as a host does before a job (run, movements): --drives
// takes 2 or 4 (a QIX never reports a single drive, so a single recorder never gets through
// start-up), and --port names the robot's port in the settings file as well.
void adapt_for_jobs(CLI::App* command);
// machine_config, the settings file naming the robot's port ("Com") unless a --setting does.
sim::AutoloaderConfig job_machine_config(const MachineFlags& flags, uint64_t seed);
// The drives the robot reports for its drive-count character (A, D, F: 4; B, C, E: 2), 0 for
// any other character or a robot that is not a QIX.
int robot_drive_count(const MachineFlags& flags);

// The faults of host and serve: --mispick, --empty-bin, --tray-fail, and the faults counted in
// the machine's events, --robot-error-on CODE@KIND:N, --pause-on KIND:N and --print-fail N.
void add_counted_fault_flags(CLI::App* command, MachineFlags* flags);
// --speed F (host and serve): the machine's motions F times quicker.
void add_speed_flag(CLI::App* command, MachineFlags* flags);
// "F@pick:3" -> 'F', "pick", 3; false when the text is not CODE@KIND:N with a code the kind of
// motion can meet (A and F a pick, C a move, B, D and E any of pick, drop, move), N from 1.
bool parse_robot_error_on(const std::string& text, char* code, std::string* kind, uint64_t* n);
// "checksum@move:5+640" -> Checksum, "move", 5, 640 ms; "none@start+900" -> Nothing, "start", 0,
// 900 ms (from the world's start); false for any other form.
bool parse_reply_damage(const std::string& text, sim::ReplyDamage* how, std::string* kind, uint64_t* n,
                        uint64_t* after_ms);
// "move:5" -> "move", 5.
bool parse_motion_count(const std::string& text, std::string* kind, uint64_t* n);
// Raises robot error `code` as the machine meets it: "A" and "F" at the next pick, "C" on the next
// move, "E" instead of the next motion, "B" and "D" at once.
void inject_robot_error(sim::Robot& robot, char code);
// What is set on the machine's devices once they exist (laminator faults, the printer falling
// silent, failing tray calls).
void apply_machine_faults(const MachineFlags& flags, sim::Autoloader& machine);

}  // namespace rovane_tool
