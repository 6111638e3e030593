// What a run of the world came to: one verdict for every command of the tools and for the tests,
// with the exit code the command gives for it, and the judgement of a recording job — where its
// discs went (disc accounting) and the checks a job must pass beyond the machine's invariants.
//
//   sim::JobFacts facts = ...;                    // what the host saw and asked for
//   sim::DiscCount count = sim::count_discs(machine, lam, waits, aborted);
//   std::string broken = machine.check_invariants(ended) + sim::job_checks(count, facts);
//   sim::Verdict v = sim::verdict_of(result.ok(), broken, aborted);
//   return sim::exit_code(v);
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "devices/discs.h"
#include "kernel/kernel.h"

namespace sim {

class Autoloader;
class Laminator;

// The verdicts, in the order they take precedence (a world that stopped says nothing of its
// invariants; a broken invariant outweighs an abort). The value is the tools' exit code.
enum class Verdict : int {
    Completed = 0,        // the job (script, test) ran to its end and every check held
    UsageError = 1,       // a bad command line, or an output file that could not be written
    Aborted = 2,          // the job was aborted, or the test did not run to its end; checks held
    WorldStopped = 3,     // a window nobody answered, a deadlock, the time budget, a crashed run
    InvariantBroken = 4,  // a disc lost or duplicated, a thread left running, a failed job check
};
inline int exit_code(Verdict v) { return static_cast<int>(v); }
// "completed", "usage error", "aborted", "world stopped", "invariant broken".
const char* verdict_text(Verdict v);
// The verdict of an exit code (WorldStopped for one the tools never give, such as a crash's).
Verdict verdict_of_exit_code(int code);
// A run's verdict from what it came to: whether the world ran to its end, the broken checks
// ("" when none held broken) and whether the job was aborted.
Verdict verdict_of(bool world_ok, const std::string& broken, bool aborted);
// A run that passed or was aborted as asked: the swarm and the sweep count every other as failed.
inline bool failed(Verdict v) { return v != Verdict::Completed && v != Verdict::Aborted; }

// --- a recording job's discs -----------------------------------------------------------------------

// Why a recorded disc on the output stacks of a printing job carries no print.
enum class Unprinted {
    PrintFailed,    // its print failed (the printer stopped with its error, or fell silent)
    WaitTimedOut,   // it was on the printer's tray, no print came, and the operator went on when
                    // the module's wait for the print timed out
    JobAborted,     // it never reached the printer's tray, and the job was aborted: a disc whose
                    // request joined a batch waits on its return bin (an output stack) until the
                    // batch's first print brings it to the printer ("XFER:"), and an abort leaves
                    // it there
    Unaccounted,    // none of these: a disc that should have been printed and was not
};
const char* unprinted_text(Unprinted why);

// Where the job's discs ended up. A disc of the job is one that has been recorded; blank discs
// still on the input stacks are not counted, nor are blank discs the operator took back off a
// stack (an input bin that doubles as an output stack, which the module passed over after a
// false "input empty"), and discs the world left in the machine before the job (found discs) are
// counted apart.
struct DiscCount {
    std::map<std::string, int> output_bins;   // recorded discs on stacks "1".."5" or taken off them, by stack
    int in_output_bins = 0;
    std::map<std::string, int> blank_taken;   // blank discs the operator took off stacks "1".."5", by stack
    int blank_taken_back = 0;
    int at_g = 0, at_h = 0;
    int removed = 0;          // taken off the reject positions by the operator
    int lost = 0;
    int left_in_machine = 0;  // in a recorder, the picker, the printer or the laminator
    int printed_twice = 0;    // recorded discs of the output stacks printed more than once
    int unprinted = 0;        // ... not printed
    std::vector<std::pair<DiscId, Unprinted>> unprinted_discs;  // each, with why
    std::map<Unprinted, int> unprinted_why;
    int not_laminated_once = 0;  // ... laminated other than once
    int found = 0;               // discs found in the machine at the start
    int found_rejected = 0;      // ... now at a reject position or taken off one
    std::string found_elsewhere; // "disc 3 at E" for each found disc anywhere else

    int rejected() const { return at_g + at_h + removed; }  // the found discs among them
    int finished() const { return in_output_bins + rejected() - found_rejected; }
    int unprinted_for(Unprinted why) const;
};
// `timed_out_waits`: the times the operator went on after the module's wait for a print timed
// out; `lam`: the laminator when the job used one.
DiscCount count_discs(const Autoloader& machine, const Laminator* lam, int timed_out_waits, bool job_aborted);

// What the host of a recording job asked for and saw, for its checks.
struct JobFacts {
    uint64_t seed = 1;
    int discs = 0;              // discs requested
    bool printing = false;      // every good disc posted through the printer
    bool laminate = false;      // the laminator asked for ...
    bool laminating = false;    // ... and used (the module did not refuse it)
    bool aborted = false;       // the job was aborted (the module or the host)
    bool ended = false;         // the host called Rovane_End
    Micros end_took = 0;        // how long Rovane_End took
    size_t bin1_start = 0;      // discs in input bin "1" before and after the job
    size_t bin1_left = 0;
};
// The checks of a recording job beyond the machine's invariants, each with the seed that replays
// it: every disc of a job that ran to its end accounted for, a disc found in the machine
// rejected, no disc printed twice and every unprinted one accounted for, every disc laminated
// once and bin "1" untouched when laminating, Rovane_End within its bound. "" when they hold;
// the first that failed otherwise.
std::string job_checks(const DiscCount& count, const JobFacts& facts);
// The invariants a job that passed its checks has shown to hold, in words.
std::string invariants_held(const DiscCount& count, const JobFacts& facts);

}  // namespace sim
