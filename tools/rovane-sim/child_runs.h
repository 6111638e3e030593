// Recording jobs in child processes, run through run's own code with their output thrown away;
// each writes what its job came to into a pipe. Used by swarm and sweep.
//
// The module keeps its state in globals, so a process holds one world at a time: either a child
// per job (run_in_children), or, where the program has the module's data renewed at each load
// (sim/world/module_data.h), one runner process per core that runs job after job
// (run_in_runners), without a fork, a process's start and its exit per job.
#pragma once

#include <cstddef>
#include <functional>

#include "run_command.h"

namespace rovane_tool {

struct ChildRunLimits {
    size_t at_once = 2;             // children running together (one per core)
    unsigned wall_seconds = 0;      // a child still running after this long is killed (0: never)
};

// Runs jobs until `next` has none left: whenever fewer than `at_once` children run, next(&job)
// gives the next job (false: no more; it is not asked again). done(i, outcome) is called in the
// parent as the child of the i-th job (counting from 0) ends, in the order they end; a child that
// died before writing its result gets outcome "crashed" (exit code 3). Returns 0, or 1 when a pipe
// or a process could not be made (`command` names the tool's command in the message).
int run_in_children(const char* command, const ChildRunLimits& limits, const std::function<bool(RunOptions*)>& next,
                    const std::function<void(size_t, const RunOutcome&)>& done);

// Runs jobs 0, 1, 2, ... in `limits.at_once` runner processes, each job as soon as a runner is
// free. more(i), asked in the parent in order, says whether job i is to run (once it says no, it
// is not asked again); job(i) gives the job, called in the runner, in its copy of the parent as
// it was when the runner was forked: it must depend only on what the parent held before this call
// (a runner is forked when it is first needed, and again to replace one that died).
// done(i, outcome) is called in the parent as each job ends, in the order they end. A runner
// that dies in a job (a crash, a signal, the wall-time limit) gives that job outcome "crashed"
// and is replaced by a new one for the jobs left. In a program without the module's data renewed,
// each job runs in a child of its own (run_in_children). Returns 0, or 1 when a pipe or a
// process could not be made.
int run_in_runners(const char* command, const ChildRunLimits& limits, const std::function<bool(size_t)>& more,
                   const std::function<RunOptions(size_t)>& job,
                   const std::function<void(size_t, const RunOutcome&)>& done);

}  // namespace rovane_tool
