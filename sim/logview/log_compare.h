// Comparing two logs of the module: the lines that say what happened (the host's calls and their
// results, the robot's commands, the printer's and the laminator's work, errors, messages and
// answers), taken from each log in order, and matched between an original and its replay.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "logview/log_reader.h"

namespace logview {

// The action a move's name stands for: the names the module logs after queueing a
// PostMoveDisc ("Load" 100, "Unload" 200, "Reject" 300 ...); -1 for any other line.
long move_action_named(const std::string& text);

// key_lines takes of the polls of Rovane_CheckPrinting only those whose answer differs from the
// poll before: how many of the same answer come between two robot commands depends on when the
// host polled, and two logs of the same job differ there by a poll or two.
// A line the comparison takes: its kind ("host", "robot", "printer", "error", "message") and its
// text as compared (the text without what changes from run to run); false for a line left out.
bool key_line(const std::string& text, std::string* kind, std::string* key);

struct KeyLine {
    size_t number = 0;   // the line in its log
    int64_t ms = 0;
    std::string kind;
    std::string key;
    std::string text;
};
std::vector<KeyLine> key_lines(const std::vector<LogLine>& lines);

// How far a host call's time from start-up may be from its logged time before the comparison
// says so: the world's operator and machine keep their own timing (a person's think time, an error
// cleared when someone comes to the robot), which the log shows only in part.
constexpr int64_t kTimeToleranceMs = 10000;

struct Comparison {
    size_t compared = 0;      // key lines of the original
    size_t replay_lines = 0;  // key lines of the replay
    size_t reproduced = 0;    // key lines of the original matched, in order, in the replay
    size_t robot_commands = 0, robot_reproduced = 0;
    bool robot_same = false;  // every robot command of the original, the same and in the same order
    bool diverged = false;
    size_t at_original = 0, at_replay = 0;  // indexes into the key lines of the first divergence
    std::string reason;                     // its kind: "robot command differs", "missing in the replay" ...
    // What it comes from, named from the two lines there: "damaged robot reply (line noise ...)",
    // "input bin found empty", "recorder tray fault", "printer error", "laminator fault", "job
    // aborted (host or operator)", "robot error", "a CheckPrinting poll and a robot command in
    // another order", "robot command differs", or "other: " and the reason.
    std::string cause;
    int64_t max_drift_ms = 0;  // the largest difference of a matched host call's time from start-up
    // Matched host calls whose time from start-up differs by more than the tolerance, and the
    // first of them (an index into the original's key lines). Times are otherwise not compared:
    // the operator's and the machine's timing decide them.
    size_t off_time = 0, first_off_time = 0;
    // Host call lines one log lacks while the lines around them agree: lost by the module's log
    // writer (it drops a line that meets another thread's line), not counted as compared.
    size_t lost_in_replay = 0, lost_in_original = 0;
    size_t counted() const { return compared - lost_in_replay; }
    double share() const { return counted() ? static_cast<double>(reproduced) / static_cast<double>(counted()) : 1.0; }
};

// Matches the replay's key lines to the original's in order. Where they differ, the first
// divergence is noted and the two are brought back into step at the nearest place where a few
// lines agree again, so that the share counts what was reproduced past a single difference.
// Host calls more than `tolerance_ms` off their time from start-up are counted apart.
Comparison compare_key_lines(const std::vector<KeyLine>& original, const std::vector<KeyLine>& replay,
                             int64_t tolerance_ms = kTimeToleranceMs);

}  // namespace logview
