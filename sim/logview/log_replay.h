// Running a machine's logged job again: what the module's log says about the machine and about
// the host's calls, made into the machine flags and the host script of `rovane-sim host`, and the
// comparison of the log of that run with the original.
//
// The reconstruction knows only the log's text (no world, no module), line by line:
//   - the machine: the robot's version reply ("ZORVIK QIX VERSION:R 1.13 A": the model letters,
//     the firmware, the drive-count character), the drives it reports, the port it was opened on,
//     the recorders and their serial numbers, the disc printer (found from the settings file, or
//     chosen in the printer selection dialog; a name never logged is known by the printer's own
//     tray command or position where it has one) and the laminator (in use from start-up,
//     ticked in the options dialog, or installed and silent); the operator's choice in the
//     selection dialog becomes a "dialog" line of the script, since the replay's operator
//     otherwise keeps the dialog's preselection (which need not be the logged printer); discs
//     left in the printer or the laminator before the first job; the machine's speed from how
//     long its motions took;
//   - the host's calls in order, each at its logged time from the start-up banner: Rovane_Init
//     (the print-only host by its 99), Rovane_Options (with the choices the operator accepted in
//     its dialog), Rovane_JobBeginsOrEnds, Rovane_PostMoveDisc, Rovane_PostMoveAndPrint (with its
//     print file; the codes without a line of their own by what they queued), the polls of
//     Rovane_CheckPrinting the module logged, Rovane_End. A host posts a unit's next move once
//     it has seen the previous one end, so a "wait UNIT" comes before it, unless the log shows
//     the post before that end. The module loses a line that meets another thread's line being
//     written; a move whose "** PostMoveDisc" line was lost is still known by the lines its
//     queueing wrote (the "Queue_Cmd:" steps ending in "DONE:ROW" and the move's name, "Load",
//     "Unload" ...), a lost print by its steps, a lost job begin by the moves after it;
//   - the machine's faults, as counted faults of the world: robot errors with the command they
//     came at and the robot's Pause button (the Nth pick, drop or move from the start of the
//     world), failing tray calls, the printer's error B in a print that then never ended, the
//     laminator's falls and jams (counted in prints and laminations);
//   - a status reply damaged on the line: a bad checksum ("CHECKSUM ERROR" then "no response in
//     GetSystemStatus") or one that never came whole ("no response" alone), put back on the first
//     reply at about the same time after the robot's last motion began;
//   - the operator's answers, logged ("Abort button pressed", a Cancel to full reject positions,
//     No to all four input bins) or inferred from what the module did next (the question of the
//     initial input bin, a Retry to full reject positions, Retry or Cancel to a disc fallen off
//     the laminator), each put among the host's calls after the last one before its question;
//   - an input bin that started empty: "INPUT EMPTY" where the robot was sent ("_MOVE:4") before
//     any disc was picked up there.
// A log without a start-up (it begins past the module's restart of its log) gets a prologue of
// the replay's own: a start-up, the job under way begun again, the recorders it shows holding
// discs loaded; the comparison starts after it.
//
// The comparison takes from both logs, in order, the lines that say what happened and leaves out
// those that carry only times, indexes or counters (see key_line).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "logview/log_compare.h"
#include "logview/log_reader.h"

namespace logview {

// The machine as the log shows it; empty texts and 0 for what the log does not say.
struct ReplayMachine {
    std::string model;        // the robot's model letters ("R" for a QIX)
    std::string firmware;     // "1.13"
    std::string drive_code;   // the drive-count character of the version reply ("A")
    int robot_drives = 0;     // the drives the robot reports
    std::string port;         // "COM1"
    std::vector<std::string> serials;  // the recorders' serial numbers, by recorder number
    std::vector<long> units;           // the host's unit number of each row ("u=0 dwUnit=1 ...")
    std::string printer;      // the disc printer's name ("" = none used)
    bool printer_from_settings = false;  // found as the settings file named it (no dialog)
    bool printer_dialog = false;         // chosen in the printer selection dialog
    // What the operator chose at each showing of the printer selection dialog, in order: the
    // printer's name ("" = no disc printer).
    std::vector<std::string> dialog_choices;
    bool laminator = false;
    bool laminator_at_start = false;  // in use from start-up (not first chosen in the options dialog)
    // The host as its start-up shows it: "Quessa" for the print-only host (it gets 99 and has no
    // recorders), else "VeltoDVD".
    std::string host = "VeltoDVD";
    // The disc printer's kind known from what the module did with it where its name is not
    // logged ("Tessik 6" from its own tray command, "Optical Disc Printer" from its position I).
    std::string printer_kind_seen;
    bool printer_disc_left = false;  // a disc in the printer before the log's first job
    bool lam_disc_left = false;      // a disc in the laminator before the log's first job
    bool lam_silent = false;         // a laminator installed that does not answer
    int tray_fail = 0;               // the failing calls each recorder's first tray call met
    int print_fail = 0;              // the first prints that stopped with the printer's error B
    int lam_falls = 0, lam_jams = 0; // the first laminations whose disc fell off, or jammed
    // The machine's speed against the world's (rovane-sim host --speed), from how long the
    // robot's picks, drops and moves took in the log; 0 when the log shows none.
    double speed = 0;
    int64_t pick_ms = 0;             // the median time from a pick or drop sent to its end
    // The operator's think time (s) as the delays of the answers the log shows tell, and how many
    // answers told it (0: none).
    double think = 0;
    int think_samples = 0;
};

// An answer of the operator the log shows, or one that what the module did next implies.
struct ReplayAnswer {
    size_t line = 0;      // the line that shows or implies it
    std::string what;     // "Abort in the robot's message", "No to the question of the initial input bin" ...
    bool inferred = false;
    std::string from;     // what it was inferred from
};

// A robot error, a press of its Pause button or a damaged status reply the log shows, as the
// counted fault that brings it back: "--robot-error-on F@pick:3", "--pause-on move:2",
// "--damage-reply checksum@move:5+640".
struct ReplayFault {
    char code = 0;          // A..F; 0 for a damaged reply
    std::string kind;       // "pick", "drop" or "move"; "start" for a reply before any motion
    uint64_t n = 0;         // that motion's count from the start
    size_t line = 0;        // the error's line in the log
    std::string damage;     // a damaged reply: "checksum" or "dropped"
    uint64_t after_ms = 0;  // a damaged reply: the first reply this long after the motion began
    bool pause = false;     // the robot's Pause button pressed as that motion began ("--pause-on")
    std::string flag_name() const { return pause ? "--pause-on" : code ? "--robot-error-on" : "--damage-reply"; }
    std::string flag() const {
        const std::string at = kind == "start" ? kind : kind + ":" + std::to_string(n);
        if (pause) return at;
        return code ? std::string(1, code) + "@" + at : damage + "@" + at + "+" + std::to_string(after_ms);
    }
};

struct ReplayPlan {
    ReplayMachine machine;
    std::vector<std::string> flags;   // rovane-sim host's machine and fault flags, one word each
    std::string script;               // the host script
    std::vector<ReplayFault> faults;
    std::vector<char> empty_bins;     // input bins ("4", "2", "5", "1") found empty before any pick from them
    std::vector<std::string> left_out;  // what the log shows that the replay does not reproduce
    int calls = 0;                    // host calls in the script
    int jobs = 0;                     // job begins
    int recovered_moves = 0;          // moves known only by their queueing (their own line lost)
    std::vector<ReplayAnswer> answers;  // the operator's answers, shown by the log or inferred
    bool has_init = false;
    // The log has work before any start-up. Without a start-up at all the replay begins with a
    // prologue of its own (a start-up and the state the log implies) and compares what follows it.
    bool starts_mid_job = false;
};

// The plan of a log whose lines are given in order. With `follow_until`, the machine's faults and
// the operator's answers are taken only from the lines up to that line number (the host's calls
// from all of them): a what-if follows the log to the point where its change took effect, and
// the world's own robot, printer and operator go on from there.
ReplayPlan plan_replay(const std::vector<LogLine>& lines, size_t follow_until = SIZE_MAX);

// A what-if: the operator's answers ("PATTERN=BUTTON", as rovane-sim's --answer) put before all
// others, and settings ("KEY=VALUE") put after the log's own.
void add_what_if(ReplayPlan* plan, const std::vector<std::string>& answers, const std::vector<std::string>& settings);

// The disc count of the job call that ends the replay's own prologue before a log that has no
// start-up (a code-4 call, which the module only logs): the logs are compared after it.
constexpr long long kPrologueMarker = 777000777;

// The replay's log from the line after its prologue on (unchanged when it has none).
void drop_prologue(std::vector<LogLine>* replay);

// How a log's job ended as far as its lines tell: "job aborted at line N (TEXT)" at the first line
// of an abort, else "job not aborted".
std::string job_outcome(const std::vector<LogLine>& lines);

// The print file kind `rovane-sim host`'s printfile line writes for a file of that name: its base
// name when it is the name of a kind ("C:\Labels\varrow-2.PRN": varrow-2), else the kind the
// disc printer of that name takes (pellan-iv for any other).
std::string print_kind_for(const std::string& path, const std::string& printer = "");

}  // namespace logview
