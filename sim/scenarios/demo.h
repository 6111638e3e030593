// The world's demonstration scenario: three simulated threads that sleep, share a recursive
// critical section, ask the operator a question in a message box, and drive a dialog that runs
// on another thread (posted commands, and a cross-thread SendMessage that waits for a handler
// which itself sleeps). It exercises the kernel and the windows end to end without the robot,
// and shows what a transcript looks like.
#pragma once

#include <string>

#include "world/world.h"

namespace sim::demo {

constexpr int kDialogId = 950;       // the demonstration dialog's template (not one of the module's)
constexpr int kMessageControl = 1081;

struct Outcome {
    int message_box_answer = 0;   // what the operator pressed
    long dialog_result = 0;       // what DialogBoxParamA returned
    std::string dialog_text;      // the dialog's text when it closed
    int worker_lines = 0;         // lines the worker wrote to its file
    int lock_depth_seen = 0;      // the host's recursion count inside the section
};

// Sets the scenario up in a fresh world: the dialog template, the operator's rule, the threads.
// Run the world afterwards; the outcome is filled in as the threads finish.
void setup(World& world, Outcome* outcome);

}  // namespace sim::demo
