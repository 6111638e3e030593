// The commands of rovane-sim and the small helpers they share.
//
// Each command adds its subcommand to the tool's command line (CLI11): its flags, its --help,
// and the function that runs it once the command line has been parsed. Checks that CLI11 cannot
// express (a combination of flags, say) are made by that function and reported with
// usage_error().
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "harness/autoloader.h"
#include "harness/recording_host.h"
#include "win32/spooler.h"
#include "world/operator.h"
#include "world/world.h"

namespace CLI {
class App;
class Option;
class Validator;
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

// --- value checks for flags ----------------------------------------------------------------------
// Numbers are taken in decimal only (CLI11 would read "010" as octal and "0x10" as hexadecimal):
// a whole number is digits without a sign or a leading 0; other numbers may have a fraction and
// an exponent ("0.5", "1e3"), never a sign, "inf" or "nan".
bool parse_decimal(const std::string& text, double* value);
// A whole number from 0 to 2^64-1.
CLI::Validator whole_number();
// A whole number from `low` to `high`.
CLI::Validator whole_number(uint64_t low, uint64_t high);
// A probability from 0 to 1.
CLI::Validator probability();
// A number of seconds, or of hours (fractions allowed), from `low` to `high`.
CLI::Validator seconds(double low, double high);
CLI::Validator hours(double low, double high);
// Any text but the empty one: "takes WHAT, not an empty text".
CLI::Validator not_empty(const std::string& what);
// An input bin: 4, 2, 5 or 1.
CLI::Validator input_bin();

// --- options that state their value --------------------------------------------------------------
// The flags of run (and the flags it shares with host and serve) are added through these: CLI11
// binds the option to the variable, and the option can say again what the variable holds
// (Option::default_function), in the words the command line reads back: whole numbers in decimal,
// other numbers with as many digits as reading back the same number takes, texts as they are,
// lists one item a line, a flag "1" when set. So the one definition of a command's flags gives
// both its parser and the command lines that replay a set of options.
CLI::Option* add_stated(CLI::App* command, const std::string& name, uint64_t& variable, const std::string& description);
CLI::Option* add_stated(CLI::App* command, const std::string& name, int& variable, const std::string& description);
CLI::Option* add_stated(CLI::App* command, const std::string& name, double& variable, const std::string& description);
CLI::Option* add_stated(CLI::App* command, const std::string& name, std::string& variable, const std::string& description);
CLI::Option* add_stated(CLI::App* command, const std::string& name, std::vector<std::string>& variable,
                        const std::string& description);
CLI::Option* add_stated(CLI::App* command, const std::string& name, std::vector<double>& variable,
                        const std::string& description);
CLI::Option* add_stated_flag(CLI::App* command, const std::string& name, bool& variable, const std::string& description);
// " --discs 7 --answer 'not picked=ABORTJOB' ...": the flags of `stated` whose values differ from
// those of `defaults`, a command with the same definitions bound to default options; in the order
// they were defined, each item of a list with a flag of its own, quoted for a POSIX shell.
std::string stated_flags(CLI::App& stated, CLI::App& defaults);

// --- the operator's answers: --answer PATTERN=BUTTON ---------------------------------------------
// BUTTON is a message box button (OK, CANCEL, RETRY, YES, NO, ABORT, IGNORE) for a message box
// whose text contains PATTERN, or one of the robot message's answers: ABORTJOB (its ABORT Job
// button), PAUSEPICK (the robot's Pause and Pick buttons together; the message closes itself),
// REFILL (25 discs into the input bin the arm is at, then Pick).
extern const char* const kAnswerHelp;
CLI::Validator answer_rule();
// Adds the rules, in the order given, to the world's operator.
// IDOK, IDCANCEL ... for "OK", "CANCEL", "RETRY", "YES", "NO", "ABORT", "IGNORE"; 0 for anything else.
int message_box_button(const std::string& name);
void install_answers(sim::World& world, const std::shared_ptr<sim::Robot>& robot, const std::vector<std::string>& rules);
// The person's answer to the robot's status message whose text contains `pattern`: ABORTJOB
// presses its "ABORT Job" button; PAUSEPICK presses Pause and Pick at the robot; REFILL fills the
// input bin at the arm (when it is one) and presses Pick.
sim::Operator::Rule& robot_message_rule(sim::World& world, const std::shared_ptr<sim::Robot>& robot,
                                        const std::string& pattern, const std::string& action);

// --- the machine: the world flags of host and run ------------------------------------------------
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
// "move:5" -> "move", 5.
bool parse_motion_count(const std::string& text, std::string* kind, uint64_t* n);
// Raises robot error `code` as the machine meets it: "A" and "F" at the next pick, "C" on the next
// move, "E" instead of the next motion, "B" and "D" at once.
void inject_robot_error(sim::Robot& robot, char code);

// --- the documents sent to the printers (printer_lines.cpp) ---------------------------------------
// What `host --wire` and `serve` print for a finished spooler document, after its time: "lam
// LAMINATE" (TRAYIN, TRAYOUT, HEATER, CODE 0xNN) for a laminator command; otherwise
// 'doc "PRINTER" SIZE bytes HASH', HASH the document's FNV-1a hash in 8 hexadecimal digits.
std::string document_line(const sim::SpoolDocument& doc);
using DocumentWitness = std::function<void(const sim::SpoolDocument&)>;
// Puts the witness in front of the model of every printer that has one: it sees each finished
// document before the printer's model does.
void witness_documents(sim::World& world, const DocumentWitness& witness);

// --- output files: --transcript FILE ... ----------------------------------------------------------
// Created (replaced) before the world runs, so that a path that cannot be written is refused at
// once; nullptr after "rovane-sim COMMAND: cannot write FLAG 'PATH': why" on stderr.
std::FILE* open_output(const std::string& command, const std::string& flag, const std::string& path);
// Flushes and closes it; false, after the same message, when a write failed (a full disk ...).
bool close_output(const std::string& command, const std::string& flag, const std::string& path, std::FILE* file);
// What is set on the machine's devices once they exist (laminator faults, the printer falling
// silent, failing tray calls).
void apply_machine_faults(const MachineFlags& flags, sim::Autoloader& machine);

// --- rovane-sim host ------------------------------------------------------------------------------
// Its command line (host_flags.cpp) apart from its script interpreter (host_command.cpp).
struct HostOptions {
    uint64_t seed = 1;
    std::string script_path;   // a file, or "-" for standard input
    MachineFlags machine;
    bool wire = false;
    std::string transcript_path;  // the run's transcript, streamed to this file ("" = none)
    bool check_only = false;      // read and check the script, print its calls as read, run nothing
    bool places = false;          // print "place NAME COUNT" for every place holding discs at the end
};
int run_host(const HostOptions& options);

// --- faults of a job in progress: run's --robot-error ... (job_faults.cpp) -----------------------
struct JobFaults {
    std::vector<std::string> robot_errors;  // "C@312.5": robot error C at 312.5 s of virtual time
    std::vector<double> pauses;             // the robot's Pause button pressed at these times (s)
    uint64_t print_fail = 0;                // the disc printer's next N prints stop with error "B"
    double think = -1;                      // the operator's think time (s; -1: the default 1.5 s)
    double abort_at = 0;                    // the host aborts the job at this time (s; 0: never)
    double end_at = 0;                      // the host calls Rovane_End mid-job at this time (s; 0: never)
};
void add_job_fault_flags(CLI::App* command, JobFaults* faults);
// Schedules the faults in the machine's world and tells the host when to give up.
void apply_job_faults(const JobFaults& faults, sim::Autoloader& machine, sim::RecordingHostConfig* host);

// The faults that fired in a world, counted from its transcript as they happen: line damage,
// robot errors by code, pauses, failed prints, laminator faults, failing tray calls, failing
// Win32 calls, and the operator's answers other than the careful default.
class FiredFaults {
public:
    explicit FiredFaults(sim::World& world);
    ~FiredFaults();
    FiredFaults(const FiredFaults&) = delete;
    FiredFaults& operator=(const FiredFaults&) = delete;
    const std::map<std::string, int>& counts() const { return counts_; }

private:
    sim::World& world_;
    int listener_ = 0;
    std::map<std::string, int> counts_;
};

// --- rovane-sim run: one recording host job -------------------------------------------------------
struct RunOptions {
    uint64_t seed = 1;
    uint64_t discs = 20;
    double record_seconds = 240;
    double fail_rate = 0;
    MachineFlags machine;
    std::vector<std::string> answers;
    std::string print;          // a print file kind ("" = the job does not print)
    bool laminate = false;      // the laminator installed, chosen at start-up and laminating every disc
    int record_print = -1;      // "Record-Print" in the settings file (-1 = not written)
    double print_seconds = 40;
    bool json = false;
    bool wire = false;
    std::string transcript_path;
    JobFaults faults;
    double budget_hours = 48;   // the world stops the run after this much virtual time
    std::string timeline_path;  // the module log's timeline page, written at the end ("" = none)
    std::string module_log_path;  // a copy of the module's log, written at the end ("" = none)
};
// What a job came to, as its exit code says it and in words.
struct RunOutcome {
    int exit_code = 0;        // 0 completed, 2 aborted, 3 the world stopped, 4 an invariant broke, 1 usage
    std::string outcome;      // "completed", "aborted", "world stopped", "invariant broken"
    std::string broken;       // the world's report or the broken invariants ("" when none)
    std::map<std::string, int> fired;  // the faults that fired, by kind (FiredFaults)
    // With --fail-call: the calls of its kind the run made and how many of them failed.
    uint64_t fault_calls = 0;
    uint64_t faults_fired = 0;
    std::string transcript_hash;  // 16 hex digits; "" when the run did not get to its end
};
// run's flags, bound to `options`: the one definition of them, for run's own command line and for
// the command lines that replay a job (run_command_line, read back by parse_run_command_line).
void add_run_flags(CLI::App* command, RunOptions* options);
// "rovane-sim run --discs 7 ... --seed 151": the flags that give `options` (those that differ
// from run's defaults).
std::string run_command_line(const RunOptions& options);
// Reads such a line (POSIX shell quoting) into `options` through run's flags; false with *error.
bool parse_run_command_line(const std::string& line, RunOptions* options, std::string* error);
// The job the swarm draws for `seed`, and the kinds of fault it drew (the swarm's summary order).
RunOptions draw_swarm_run(uint64_t seed, std::vector<bool>* drawn = nullptr);
// Builds the world the options describe, runs the job, prints its summary and returns the exit
// code of `rovane-sim run`; fills `outcome` too when given.
int run_recording_job(const RunOptions& options, RunOutcome* outcome = nullptr);

}  // namespace rovane_tool
