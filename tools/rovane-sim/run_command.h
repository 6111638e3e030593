// rovane-sim run: one recording host job, its options and what it came to; the swarm's draw of
// such jobs.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "harness/verdict.h"
#include "job_faults.h"
#include "machine_flags.h"

namespace CLI {
class App;
}  // namespace CLI

namespace rovane_tool {

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
    // Transcript entries the world holds in memory (0: the world's default). Not a flag: a run in
    // a child process, whose transcript nobody reads, holds only what a report of its end shows.
    size_t transcript_held = 0;
};
// What a job came to, as its exit code says it and in words.
struct RunOutcome {
    int exit_code = 0;        // the verdict's exit code (sim::Verdict): 0 completed, 2 aborted, 3 the world
                              // stopped or the run crashed, 4 an invariant broke, 1 usage
    std::string outcome;      // "completed", "aborted", "world stopped", "invariant broken"
    std::string broken;       // the world's report or the broken invariants ("" when none)
    std::map<std::string, int> fired;  // the faults that fired, by kind (FiredFaults)
    // With --fail-call: the calls of its kind the run made and how many of them failed.
    uint64_t fault_calls = 0;
    uint64_t faults_fired = 0;
    std::string transcript_hash;  // 16 hex digits; "" when the run did not get to its end

    sim::Verdict verdict() const { return sim::verdict_of_exit_code(exit_code); }
    // Neither completed nor aborted with every check held: what the swarm and the sweep count as failed.
    bool failed() const { return sim::failed(verdict()); }
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
