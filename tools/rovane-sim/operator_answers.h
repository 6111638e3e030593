// The operator's answers of run, host and movements: --answer PATTERN=BUTTON.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "devices/robot.h"
#include "world/operator.h"
#include "world/world.h"

namespace CLI {
class Validator;
}  // namespace CLI

namespace rovane_tool {

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

}  // namespace rovane_tool
