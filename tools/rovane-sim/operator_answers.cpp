// The operator's answers: --answer PATTERN=BUTTON.
#include <CLI/CLI.hpp>

#include <cstring>
#include <memory>

#include "devices/robot.h"
#include "operator_answers.h"
#include "resources/resource.h"
#include "win32/ui.h"
#include "world/operator.h"

namespace rovane_tool {

// ---------------------------------------------------------------------------------------------
// The operator's answers

const char* const kAnswerHelp =
    "the operator's rule for a message box or the robot's status message whose text contains "
    "PATTERN (repeatable, tried in order). BUTTON: OK, CANCEL, RETRY, YES, NO, ABORT, IGNORE for "
    "message boxes; ABORTJOB (the status message's ABORT Job button); PAUSEPICK (press the robot's "
    "Pause and Pick buttons together, and let the message close itself); REFILL (put 25 discs into "
    "the input bin the arm is at, press Pick)";

int message_box_button(const std::string& name) {
    static const std::pair<const char*, int> kButtons[] = {{"OK", IDOK},   {"CANCEL", IDCANCEL}, {"RETRY", IDRETRY},
                                                           {"YES", IDYES}, {"NO", IDNO},         {"ABORT", IDABORT},
                                                           {"IGNORE", IDIGNORE}};
    for (const auto& [n, id] : kButtons)
        if (name == n) return id;
    return 0;
}

namespace {

bool is_robot_answer(const std::string& name) { return name == "ABORTJOB" || name == "PAUSEPICK" || name == "REFILL"; }

// PATTERN=BUTTON: the last "=" separates them, so that a pattern may hold one.
bool split_answer(const std::string& text, std::string* pattern, std::string* button) {
    const size_t eq = text.rfind('=');
    if (eq == std::string::npos || eq == 0) return false;
    *pattern = text.substr(0, eq);
    *button = text.substr(eq + 1);
    return message_box_button(*button) || is_robot_answer(*button);
}

}  // namespace

CLI::Validator answer_rule() {
    return CLI::Validator(
        [](std::string& text) -> std::string {
            std::string pattern, button;
            return split_answer(text, &pattern, &button) ? "" : "takes PATTERN=BUTTON, not '" + text + "'";
        },
        "");
}

sim::Operator::Rule& robot_message_rule(sim::World& world, const std::shared_ptr<sim::Robot>& robot,
                                        const std::string& pattern, const std::string& action) {
    auto& rule = world.op().on_dialog(IDD_ROBOT_MESSAGE).containing(pattern);
    if (action == "ABORTJOB") {
        rule.click(IDC_ABORT_JOB);
    } else if (action == "PAUSEPICK") {
        rule.then([robot] { robot->press_pause_and_pick(); });
    } else {  // REFILL
        rule.then([robot] {
            const char bin = robot->position();
            if (std::strchr("1245", bin)) robot->refill(bin, 25);
            robot->press_pick();
        });
    }
    return rule;
}

void install_answers(sim::World& world, const std::shared_ptr<sim::Robot>& robot, const std::vector<std::string>& rules) {
    for (const std::string& text : rules) {
        std::string pattern, button;
        if (!split_answer(text, &pattern, &button)) continue;  // the flag's check refused it already
        if (const int id = message_box_button(button)) {
            world.op().on_message_box(pattern).answer(id).named("--answer " + text);
            continue;
        }
        robot_message_rule(world, robot, pattern, button).named("--answer " + text);
    }
}

}  // namespace rovane_tool
