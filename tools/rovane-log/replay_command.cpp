// rovane-log replay: runs a logged job again in the virtual autoloader and tells how much of the
// log the run reproduced. The machine and the host's calls come from the log alone
// (logview/log_replay.h); `rovane-sim host` runs them as a child process, as a host would, and
// copies its module log out; the two logs are compared on the lines that say what happened.
#include "replay_command.h"

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "logview/log_reader.h"
#include "logview/log_replay.h"

extern char** environ;

namespace {

using logview::Comparison;
using logview::KeyLine;
using logview::ReplayPlan;

constexpr size_t kContext = 3;  // lines shown before a divergence
#define kButtonNames "OK, CANCEL, RETRY, YES, NO, ABORT, IGNORE, ABORTJOB, PAUSEPICK, REFILL"

int fail(int code, const std::string& text) {
    std::fprintf(stderr, "rovane-log replay: %s\n", text.c_str());
    return code;
}

// rovane-sim beside this program's own executable.
std::string sim_beside_self() {
    char self[PATH_MAX] = {};
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) return "rovane-sim";
    std::string path(self, static_cast<size_t>(n));
    const size_t slash = path.rfind('/');
    return (slash == std::string::npos ? std::string() : path.substr(0, slash + 1)) + "rovane-sim";
}

// The logs as the reports name them: "old.dbg2 + new.dbg".
std::string logs_named(const ReplayFlags& f) {
    std::string out;
    for (const std::string& p : f.logs) out += (out.empty() ? "" : " + ") + p;
    return out;
}

bool read_lines(const std::string& path, std::vector<logview::LogLine>* lines, logview::LogInfo* info, std::string* error) {
    return logview::read_log_file(path, [lines](const logview::LogLine& l) { lines->push_back(l); }, info, error);
}

// A private folder for the script, the replay's log and what the child printed.
struct WorkFolder {
    std::string path;
    bool keep = false;
    ~WorkFolder() {
        if (path.empty() || keep) return;
        for (const char* f : {"/replay.host", "/replay.dbg", "/host.out"}) unlink((path + f).c_str());
        rmdir(path.c_str());
    }
};

// Runs `argv` with its standard output and error in `out`; its exit code, or -1 when it could not
// be started (with `error` saying why), 128+N for a signal.
int run_child(const std::vector<std::string>& args, const std::string& out, std::string* error) {
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&fa, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_adddup2(&fa, 1, 2);
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, argv[0], &fa, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    if (rc != 0) {
        *error = "cannot start '" + args[0] + "': " + std::strerror(rc);
        return -1;
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) {
            *error = "cannot wait for '" + args[0] + "'";
            return -1;
        }
    }
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    return 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
}

std::string last_lines(const std::string& path, size_t n) {
    std::ifstream in(path);
    std::vector<std::string> all;
    for (std::string l; std::getline(in, l);) all.push_back(l);
    std::string out;
    for (size_t i = all.size() > n ? all.size() - n : 0; i < all.size(); ++i) out += "    " + all[i] + "\n";
    return out;
}

nlohmann::ordered_json side_json(const std::vector<KeyLine>& k, size_t at) {
    nlohmann::ordered_json j;
    if (at < k.size()) {
        j["line"] = k[at].number;
        j["kind"] = k[at].kind;
        j["text"] = logview::display_text(k[at].text);
    } else {
        j["line"] = nullptr;
        j["text"] = "(end of the log)";
    }
    nlohmann::ordered_json before = nlohmann::ordered_json::array();
    for (size_t i = at > kContext ? at - kContext : 0; i < at && i < k.size(); ++i)
        before.push_back({{"line", k[i].number}, {"text", logview::display_text(k[i].text)}});
    j["before"] = before;
    return j;
}

void print_side(const char* name, const std::vector<KeyLine>& k, size_t at) {
    std::printf("  %s:\n", name);
    for (size_t i = at > kContext ? at - kContext : 0; i < at && i < k.size(); ++i)
        std::printf("      %6zu  %s\n", k[i].number, logview::display_text(k[i].text).c_str());
    if (at < k.size())
        std::printf("    > %6zu  %s\n", k[at].number, logview::display_text(k[at].text).c_str());
    else
        std::printf("    >         (end of the log)\n");
}

int64_t tolerance_ms(const ReplayFlags& f) { return static_cast<int64_t>(std::llround(f.tolerance * 1000.0)); }

double percent(const Comparison& c) { return std::floor(c.share() * 1000.0) / 10.0; }

}  // namespace

CLI::App* add_replay_command(CLI::App& tool, ReplayFlags* f) {
    CLI::App* c = tool.add_subcommand("replay", "Run the log's job again in the virtual autoloader and compare the logs.");
    c->add_option("LOGFILE", f->logs, "the module's log; an older one (.dbg2) may come first, oldest first")->required();
    c->add_flag("--json", f->json, "print the outcome as one JSON object");
    c->add_option("--sim", f->sim, "the rovane-sim program (default: the one beside rovane-log)")->type_name("PATH");
    c->add_option("--keep", f->keep, "keep the host script, the replay's log and rovane-sim's output in DIR")->type_name("DIR");
    c->add_option("--answer", f->answers,
                  "what-if: the operator answers a message box or the robot's message whose text contains PATTERN with "
                  "BUTTON (" kButtonNames ") (repeatable)")
        ->type_name("PATTERN=BUTTON")
        ->allow_extra_args(false)
        ->check(CLI::Validator(
            [](std::string& t) -> std::string {
                const size_t eq = t.rfind('=');
                if (eq == std::string::npos || eq == 0) return "takes PATTERN=BUTTON, not '" + t + "'";
                const std::string button = t.substr(eq + 1);
                const std::string names = std::string(", ") + kButtonNames + ",";
                if (button.empty() || names.find(", " + button + ",") == std::string::npos)
                    return "BUTTON is one of " + std::string(kButtonNames) + ", not '" + button + "'";
                return "";
            },
            ""));
    c->add_option("--speed", f->speed, "the machine's motions F times quicker than the world's (rovane-sim host "
                                       "--speed; default: as the log's motion times tell)")
        ->type_name("F")
        ->check(CLI::Range(1.0, 20.0));
    c->add_option("--tolerance", f->tolerance, "how many seconds a host call's time from start-up may be off its logged "
                                               "time before it is counted as off time (default 10)")
        ->type_name("SECONDS")
        ->check(CLI::Range(0.0, 86400.0));
    c->add_option("--setting", f->settings, "what-if: the settings file's KEY has VALUE (repeatable)")
        ->type_name("KEY=VALUE")
        ->allow_extra_args(false)
        ->check(CLI::Validator(
            [](std::string& t) -> std::string {
                const size_t eq = t.find('=');
                return eq == std::string::npos || eq == 0 ? "takes KEY=VALUE, not '" + t + "'" : "";
            },
            ""));
    c->allow_extras();
    c->group("Commands");
    c->footer(
        "Reads from the log the machine (the robot's model letters, firmware and drive-count character,\n"
        "its drives and port, the recorders, the disc printer, the laminator) and the host's calls with\n"
        "their times (start-up, the job's begin, end and abort, every move and move-and-print with its\n"
        "print file, the logged polls of the printing, the end), and the robot errors it shows as faults\n"
        "counted in the robot's motions. `rovane-sim host` runs them as a child process: each call no\n"
        "earlier than its logged time from start-up, a unit's next move only after the host has seen\n"
        "its previous one end. The replay's module log is compared with the original, in order, on\n"
        "the lines that say what happened: the host's calls and their results, every command sent to\n"
        "the robot, the printer's and the laminator's work, errors, messages and answers. Times and\n"
        "lines of counters are left out.\n"
        "\n"
        "\n"
        "What-if (--answer, --setting): the change is made and the log followed to the point where it\n"
        "took effect (the first line the changed run does not reproduce); from there the world's own\n"
        "robot, printer and operator go on, under the log's host calls, to the job's end. Both jobs'\n"
        "outcomes are told.\n"
        "\n"
        "Exit 0 when every compared line was reproduced (a what-if: when its run came to its end), 1 on\n"
        "a usage error, 2 when the log cannot be read or holds no job from its start-up (or rovane-sim\n"
        "cannot be run), 3 when the replay diverged (a what-if: when its run stopped short).");
    return c;
}

// The log read and made into a plan; nonzero (the exit code, after its message) when it holds
// nothing to replay.
int plan_of_log(const ReplayFlags& f, std::vector<logview::LogLine>* lines, ReplayPlan* plan) {
    logview::LogInfo info;
    std::string error;
    for (const std::string& path : f.logs) {
        const size_t before = lines->size();
        if (!read_lines(path, lines, &info, &error)) return fail(2, error);
        // Lines are counted through the logs given, so that a line number names one line.
        for (size_t k = before; k < lines->size(); ++k) (*lines)[k].number += before;
    }
    if (lines->empty()) return fail(2, "'" + logs_named(f) + "' holds no line of the module's log");
    *plan = logview::plan_replay(*lines);
    if (!plan->has_init || plan->jobs == 0)
        return fail(2, "'" + logs_named(f) + "' holds no job" +
                           (plan->starts_mid_job ? " (it begins in the middle of the machine's work; the older log, .dbg2, "
                                                   "given before it may hold the job)"
                                                 : " from the module's start-up") +
                           ": there is nothing to replay");
    return 0;
}

// The folder the replay's files go in: --keep DIR, or a temporary one removed at the end.
bool make_work_folder(const ReplayFlags& f, WorkFolder* work) {
    if (!f.keep.empty()) {
        mkdir(f.keep.c_str(), 0700);
        work->path = f.keep;
        work->keep = true;
        return true;
    }
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/rovane-replay.XXXXXX";
    if (!mkdtemp(&pattern[0])) return false;
    work->path = pattern;
    return true;
}

// What the run of the plan came to.
struct ReplayRun {
    int sim_exit = 0;                      // rovane-sim host's exit code
    std::string out;                       // the file with what it printed
    std::vector<logview::LogLine> replay;  // the replay's module log
    bool have_replay = false;
    std::string replay_error;
};

// The machine's speed for the run: --speed as given, else the one the log's motion times imply,
// within the world's range ("" for the world's own: within 10 % of it, or slower, which the
// world cannot be).
std::string speed_of_run(const ReplayFlags& f, const ReplayPlan& plan) {
    if (!f.speed.empty()) return f.speed;
    const double v = std::min(20.0, plan.machine.speed);
    if (v < 1.1) return "";
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", v);
    return text;
}

// The operator's think time for the run, as the log's answers tell it ("" for the world's own
// 1.5 s, within 0.3 s of it).
std::string think_of_run(const ReplayPlan& plan) {
    const double v = plan.machine.think;
    if (plan.machine.think_samples == 0 || std::fabs(v - 1.5) < 0.3) return "";
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", std::min(3600.0, v));
    return text;
}

// rovane-sim host runs the plan's script on the plan's machine; nonzero (the exit code, after its
// message) when it could not be run.
int run_plan(const ReplayFlags& f, const ReplayPlan& plan, const WorkFolder& work, ReplayRun* run) {
    const std::string sim = f.sim.empty() ? sim_beside_self() : f.sim;
    if (access(sim.c_str(), X_OK) != 0) return fail(2, "cannot run rovane-sim at '" + sim + "' (name it with --sim PATH)");
    const std::string script = work.path + "/replay.host", replay_log = work.path + "/replay.dbg";
    run->out = work.path + "/host.out";
    {
        std::ofstream s(script, std::ios::binary | std::ios::trunc);
        s << plan.script;
        if (!s) return fail(2, "cannot write the host script '" + script + "'");
    }
    unlink(replay_log.c_str());
    std::vector<std::string> args = {sim, "host", script};
    args.insert(args.end(), plan.flags.begin(), plan.flags.end());
    const std::string speed = speed_of_run(f, plan);
    if (!speed.empty()) args.insert(args.end(), {"--speed", speed});
    const std::string think = think_of_run(plan);
    if (!think.empty()) args.insert(args.end(), {"--think", think});
    args.insert(args.end(), {"--module-log", replay_log});
    std::string error;
    run->sim_exit = run_child(args, run->out, &error);
    if (run->sim_exit < 0) return fail(2, error);
    logview::LogInfo replay_info;
    run->have_replay = read_lines(replay_log, &run->replay, &replay_info, &run->replay_error);
    logview::drop_prologue(&run->replay);
    return 0;
}

void report_replay_json(const ReplayFlags& f, const ReplayPlan& plan, const ReplayRun& run, const std::vector<KeyLine>& ko,
                        const std::vector<KeyLine>& kr, const Comparison& c, bool what_if, size_t followed_to,
                        const std::vector<logview::LogLine>& lines) {
    nlohmann::ordered_json j;
    j["log"] = logview::display_text(logs_named(f));
    const logview::ReplayMachine& m = plan.machine;
    j["machine"] = {{"model", m.model},
                    {"firmware", m.firmware},
                    {"drive_code", m.drive_code},
                    {"robot_drives", m.robot_drives},
                    {"port", m.port},
                    {"serials", m.serials},
                    {"printer", logview::display_text(m.printer)},
                    {"laminator", m.laminator},
                    {"host", m.host},
                    {"pick_ms", m.pick_ms},
                    {"speed", speed_of_run(f, plan).empty() ? "1" : speed_of_run(f, plan)},
                    {"think_s", m.think}};
    j["flags"] = plan.flags;
    j["calls"] = plan.calls;
    j["jobs"] = plan.jobs;
    j["recovered_moves"] = plan.recovered_moves;
    nlohmann::ordered_json answers = nlohmann::ordered_json::array();
    for (const logview::ReplayAnswer& a : plan.answers)
        answers.push_back({{"line", a.line}, {"answer", a.what}, {"inferred", a.inferred}, {"from", a.from}});
    j["answers"] = answers;
    nlohmann::ordered_json faults = nlohmann::ordered_json::array();
    for (const logview::ReplayFault& x : plan.faults) faults.push_back({{"option", x.flag_name()}, {"flag", x.flag()}, {"line", x.line}});
    j["faults"] = faults;
    j["left_out"] = plan.left_out;
    j["sim_exit"] = run.sim_exit;
    j["compared"] = c.counted();
    j["lost_in_original"] = c.lost_in_original;
    j["lost_in_replay"] = c.lost_in_replay;
    j["replay_lines"] = c.replay_lines;
    j["reproduced"] = c.reproduced;
    j["share"] = std::round(c.share() * 10000.0) / 10000.0;
    j["robot_commands"] = c.robot_commands;
    j["robot_reproduced"] = c.robot_reproduced;
    j["robot_same_order"] = c.robot_same;
    j["max_drift_ms"] = c.max_drift_ms;
    j["time_tolerance_ms"] = tolerance_ms(f);
    j["calls_off_time"] = c.off_time;
    j["first_off_time_line"] = c.off_time ? nlohmann::ordered_json(ko[c.first_off_time].number) : nlohmann::ordered_json(nullptr);
    if (c.diverged)
        j["divergence"] = {{"reason", c.reason}, {"cause", c.cause}, {"original", side_json(ko, c.at_original)}, {"replay", side_json(kr, c.at_replay)}};
    else
        j["divergence"] = nullptr;
    if (what_if)
        j["what_if"] = {{"answers", f.answers},
                        {"settings", f.settings},
                        {"followed_to_line", followed_to == SIZE_MAX ? nlohmann::ordered_json(nullptr)
                                                                     : nlohmann::ordered_json(followed_to)},
                        {"original_outcome", logview::job_outcome(lines)},
                        {"what_if_outcome", logview::job_outcome(run.replay)}};
    std::printf("%s\n", j.dump(2, ' ', false, nlohmann::json::error_handler_t::replace).c_str());
}

// The machine and the host as the plan has them, and what it leaves out.
void report_plan_text(const ReplayFlags& f, const ReplayPlan& plan, const ReplayRun& run) {
    const logview::ReplayMachine& m = plan.machine;
    std::printf("replay of %s\n", logs_named(f).c_str());
    std::printf("  robot      %s %s, drive code %s, %d drives, on %s\n", m.model.empty() ? "?" : m.model.c_str(),
                m.firmware.empty() ? "?" : m.firmware.c_str(), m.drive_code.empty() ? "?" : m.drive_code.c_str(),
                m.robot_drives, m.port.empty() ? "?" : m.port.c_str());
    std::string serials;
    for (const std::string& s : m.serials) serials += (serials.empty() ? "" : ", ") + s;
    std::printf("  recorders  %zu (%s)\n", m.serials.size(), serials.c_str());
    std::printf("  printer    %s%s\n", m.printer.empty() ? "none" : logview::display_text(m.printer).c_str(),
                m.laminator ? ", laminator" : "");
    std::printf("  host       %s, %d calls, %d %s, %d %s known by their queueing alone\n", m.host.c_str(), plan.calls, plan.jobs,
                plan.jobs == 1 ? "job" : "jobs", plan.recovered_moves, plan.recovered_moves == 1 ? "move" : "moves");
    if (m.speed > 0)
        std::printf("  speed      picks and drops took %lld ms (median), %.2f times the world's: %s\n",
                    static_cast<long long>(m.pick_ms), m.speed,
                    !f.speed.empty() ? ("--speed " + f.speed + " as given").c_str()
                    : speed_of_run(f, plan).empty() ? "the world's own speed"
                                                    : ("--speed " + speed_of_run(f, plan) + ", inferred").c_str());
    if (m.think_samples > 0)
        std::printf("  operator   answers after %.1f s (median of %d)%s\n", m.think, m.think_samples,
                    think_of_run(plan).empty() ? ", as the world's operator" : ": --think");
    for (const logview::ReplayAnswer& a : plan.answers)
        std::printf("  operator   %s (line %zu%s%s)\n", a.what.c_str(), a.line, a.inferred ? ", inferred: " : ", logged",
                    a.from.c_str());
    for (const logview::ReplayFault& x : plan.faults)
        std::printf("  fault      %s %s (line %zu)\n", x.flag_name().c_str(), x.flag().c_str(), x.line);
    for (const std::string& l : plan.left_out) std::printf("  left out   %s\n", l.c_str());
    std::string flags;
    for (const std::string& a : plan.flags) flags += " " + a;
    std::printf("  run        rovane-sim host SCRIPT%s -> exit %d\n", flags.c_str(), run.sim_exit);
}

// The share reproduced and the first divergence with both sides.
void report_comparison_text(const ReplayFlags& f, const std::vector<KeyLine>& ko, const std::vector<KeyLine>& kr,
                            const Comparison& c) {
    if (c.lost_in_replay || c.lost_in_original)
        std::printf("  lost       host call lines dropped by the module's log writer: %zu in the original only, "
                    "%zu in the replay only (not compared)\n",
                    c.lost_in_original, c.lost_in_replay);
    std::printf("reproduced %zu of %zu compared lines (%.1f %%); robot commands %zu of %zu%s; "
                "host calls at most %.3f s off their logged time\n",
                c.reproduced, c.counted(), percent(c), c.robot_reproduced, c.robot_commands,
                c.robot_same ? ", all in the same order" : ", not all in the same order",
                static_cast<double>(c.max_drift_ms) / 1000.0);
    if (c.off_time)
        std::printf("  time       %zu host %s more than %g s off (first: line %zu, %s)\n", c.off_time,
                    c.off_time == 1 ? "call" : "calls", f.tolerance, ko[c.first_off_time].number,
                    logview::display_text(ko[c.first_off_time].text).c_str());
    if (c.diverged) {
        std::printf("first divergence: %s\n", c.reason.c_str());
        std::printf("  from       %s\n", c.cause.c_str());
        print_side("original", ko, c.at_original);
        print_side("replay", kr, c.at_replay);
    }
}

// A what-if's first run: where the changed run leaves the log, as the line of the original it
// no longer reproduces (SIZE_MAX when it reproduces all of it); nonzero when it could not run.
int what_if_point(const ReplayFlags& f, const std::vector<logview::LogLine>& lines, const WorkFolder& work, size_t* line) {
    ReplayPlan plan = logview::plan_replay(lines);
    logview::add_what_if(&plan, f.answers, f.settings);
    ReplayRun run;
    if (const int failed = run_plan(f, plan, work, &run)) return failed;
    const std::vector<KeyLine> ko = logview::key_lines(lines);
    const Comparison c = logview::compare_key_lines(ko, logview::key_lines(run.replay), tolerance_ms(f));
    *line = c.diverged && c.at_original < ko.size() ? ko[c.at_original].number : SIZE_MAX;
    return 0;
}

void report_what_if_text(const ReplayFlags& f, size_t followed_to, const std::vector<logview::LogLine>& lines,
                         const ReplayRun& run) {
    for (const std::string& a : f.answers) std::printf("what-if    --answer %s\n", a.c_str());
    for (const std::string& kv : f.settings) std::printf("what-if    --setting %s\n", kv.c_str());
    if (followed_to == SIZE_MAX)
        std::printf("  the change never took effect: the changed run reproduces the whole log\n");
    else
        std::printf("  followed the log to line %zu; from there the world's own robot, printer and operator\n", followed_to);
    std::printf("  original   %s\n", logview::job_outcome(lines).c_str());
    std::printf("  what-if    %s (rovane-sim host exit %d)\n", logview::job_outcome(run.replay).c_str(), run.sim_exit);
}

int run_replay(const ReplayFlags& f) {
    std::vector<logview::LogLine> lines;
    ReplayPlan plan;
    if (const int refused = plan_of_log(f, &lines, &plan)) return refused;
    WorkFolder work;
    if (!make_work_folder(f, &work)) return fail(2, "cannot make a temporary folder");
    const bool what_if = !f.answers.empty() || !f.settings.empty();
    size_t followed_to = SIZE_MAX;
    if (what_if) {
        // Run once with the change to find where it takes effect, then again following the log's
        // faults and answers only up to there.
        if (const int failed = what_if_point(f, lines, work, &followed_to)) return failed;
        plan = logview::plan_replay(lines, followed_to == SIZE_MAX ? SIZE_MAX : followed_to - 1);
        logview::add_what_if(&plan, f.answers, f.settings);
    }
    ReplayRun run;
    if (const int failed = run_plan(f, plan, work, &run)) return failed;
    const std::vector<KeyLine> ko = logview::key_lines(lines), kr = logview::key_lines(run.replay);
    const Comparison c = logview::compare_key_lines(ko, kr, tolerance_ms(f));
    if (f.json) {
        report_replay_json(f, plan, run, ko, kr, c, what_if, followed_to, lines);
    } else {
        report_plan_text(f, plan, run);
        report_comparison_text(f, ko, kr, c);
        if (what_if) report_what_if_text(f, followed_to, lines, run);
    }
    std::fflush(stdout);
    if (!run.have_replay) {
        std::fprintf(stderr, "rovane-log replay: the replay left no module log (%s); rovane-sim said:\n%s",
                     run.replay_error.c_str(), last_lines(run.out, 10).c_str());
        return 3;
    }
    // An aborted job (exit 2) is an outcome a what-if asks about, not a failure of the run.
    const bool ran_to_end = run.sim_exit == 0 || (what_if && run.sim_exit == 2);
    if (!ran_to_end)
        std::fprintf(stderr, "rovane-log replay: rovane-sim host exited %d:\n%s", run.sim_exit, last_lines(run.out, 10).c_str());
    if (what_if) return ran_to_end ? 0 : 3;
    return c.diverged ? 3 : 0;
}
