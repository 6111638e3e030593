// Faults of a job in progress, for run and the swarm: robot errors at given moments, the robot's
// Pause button, failing prints, a slow operator, a host that aborts or ends the module mid-job;
// and the count of every fault that fired, read from the transcript as the world writes it.
#include <CLI/CLI.hpp>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "devices/disc_printer.h"
#include "devices/robot.h"
#include "flag_checks.h"
#include "job_faults.h"
#include "kernel/kernel.h"
#include "machine_flags.h"
#include "stated_flags.h"
#include "tool_commands.h"
#include "world/operator.h"

namespace rovane_tool {

namespace {

sim::Micros micros(double seconds) { return static_cast<sim::Micros>(std::llround(seconds * 1e6)); }

// "C@312.5" -> 'C' and 312.5; false when the text is not a robot error code A..F, "@" and a
// number of seconds from 0 to two days.
bool parse_robot_error(const std::string& text, char* code, double* at) {
    if (text.size() < 3 || text[0] < 'A' || text[0] > 'F' || text[1] != '@') return false;
    double seconds = 0;
    if (!parse_decimal(text.substr(2), &seconds) || !(seconds >= 0 && seconds <= 172800)) return false;
    *code = text[0];
    *at = seconds;
    return true;
}

}  // namespace

// "A" and "F" strike at the next pick (the disc there is missed or not gripped; Pick tries again),
// "C" on the next move, "E" instead of the next motion command, "B" (the printer's error, reported
// through the robot) and "D" (a command damaged on the way) at once.
void inject_robot_error(sim::Robot& robot, char code) {
    switch (code) {
        case 'A': robot.miss_next_picks(1); break;
        case 'F': robot.fail_next_picks(1); break;
        case 'C': robot.fail_next_moves(1); break;
        case 'E': robot.system_error_on_next_commands(1); break;
        case 'B': robot.raise_error('B', "printer error (injected)"); break;
        default: robot.raise_error('D', "a command arrived damaged (injected)"); break;
    }
}

void add_job_fault_flags(CLI::App* c, JobFaults* f) {
    add_stated(c, "--robot-error", f->robot_errors,
               "robot error CODE (A..F) at SECONDS of the job: A and F at the next pick, C on the next move, E "
               "instead of the next motion, B and D at once (repeatable)")
        ->type_name("CODE@SECONDS")
        ->allow_extra_args(false)
        ->check(text_form(
            [](const std::string& t) {
                char code;
                double at;
                return parse_robot_error(t, &code, &at);
            },
            "CODE@SECONDS (A..F, 0 to 172800)"));
    add_stated(c, "--pause-at", f->pauses, "the robot's Pause button is pressed at SECONDS of the job (repeatable)")
        ->type_name("SECONDS")
        ->allow_extra_args(false)
        ->check(seconds(0, 172800));
    add_stated(c, "--print-fail", f->print_fail, "the disc printer's next N prints stop halfway with error B")
        ->type_name("N")
        ->check(whole_number(0, 1000));
    add_stated(c, "--think", f->think, "how long the operator takes before each answer (default 1.5)")
        ->type_name("SECONDS")
        ->check(seconds(0, 3600));
    add_stated(c, "--abort-at", f->abort_at, "the host aborts the job at SECONDS and follows its moves to their end")
        ->type_name("SECONDS")
        ->check(seconds(0.001, 172800));
    add_stated(c, "--end-at", f->end_at, "the host calls Rovane_End at SECONDS, in the middle of the job")
        ->type_name("SECONDS")
        ->check(seconds(0.001, 172800));
}

void apply_job_faults(const JobFaults& f, sim::Autoloader& machine, sim::RecordingHostConfig* host) {
    sim::Kernel& k = machine.world.kernel();
    sim::Robot* robot = machine.robot.get();
    for (const std::string& e : f.robot_errors) {
        char code = 'D';
        double at = 0;
        if (parse_robot_error(e, &code, &at)) k.at(k.now() + micros(at), [robot, code] { inject_robot_error(*robot, code); });
    }
    for (double at : f.pauses)
        k.at(k.now() + micros(at), [robot] {
            // A pause pressed while one stands would let the robot go on: the person presses it
            // only on a robot that is not paused.
            if (!robot->paused()) robot->press_pause();
        });
    if (f.print_fail && machine.printer) machine.printer->fail_next_prints(static_cast<int>(f.print_fail), sim::PrintFault::Error);
    if (f.think >= 0) machine.world.op().set_think_time(micros(f.think));
    if (f.abort_at > 0) host->abort_at = micros(f.abort_at);
    if (f.end_at > 0) host->end_at = micros(f.end_at);
}

// --- the faults that fired ---------------------------------------------------------------------

namespace {

bool starts_with(const std::string& s, const char* prefix) { return s.compare(0, std::strlen(prefix), prefix) == 0; }
bool contains(const std::string& s, const char* part) { return s.find(part) != std::string::npos; }

// The kind of fault a transcript entry reports, or "" when it reports none.
std::string fault_kind(const sim::TranscriptEntry& e) {
    const std::string& t = e.text;
    if (e.kind == "robot") {
        if (starts_with(t, "line fault:")) return "line damage";
        if (starts_with(t, "error ") && t.size() > 7 && t[7] == ':') return std::string("robot error ") + t[6];
        if (t == "operator: Pause (paused)" || t == "operator: Pause (after the motion)") return "robot paused";
        if (starts_with(t, "lost ")) return "disc lost";
        return "";
    }
    if (e.kind == "printer") return contains(t, " fails: ") ? "print failed" : "";
    if (e.kind == "laminator") {
        if (contains(t, "fell off the tray")) return "laminator: disc fell off";
        if (starts_with(t, "lamination stopped (error")) return "laminator error";
        if (t == "world: cover opened") return "laminator cover opened";
        return "";
    }
    if (e.kind == "recorder") return contains(t, "injected failure") ? "failing tray call" : "";
    if (e.kind == "fault") return "failing Win32 call";
    if (e.kind == "operator" && starts_with(t, "answers ")) {
        if (contains(t, " with IDCANCEL (rule --answer ")) return "operator answered Cancel";
        if (contains(t, "=ABORTJOB)")) return "operator pressed ABORT Job";
        return "";
    }
    return "";
}

}  // namespace

FiredFaults::FiredFaults(sim::World& world) : world_(world) {
    listener_ = world_.kernel().transcript().subscribe([this](const sim::TranscriptEntry& e) {
        const std::string kind = fault_kind(e);
        if (!kind.empty()) ++counts_[kind];
    });
}

FiredFaults::~FiredFaults() { world_.kernel().transcript().unsubscribe(listener_); }

}  // namespace rovane_tool
