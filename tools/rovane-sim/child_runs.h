// Recording jobs each run in a child process of its own (the module keeps its state in globals,
// so one process holds one world): the child builds the world, runs the job through run's own
// code with its output thrown away, writes what the job came to into a pipe and exits. Used by
// swarm and sweep.
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

}  // namespace rovane_tool
