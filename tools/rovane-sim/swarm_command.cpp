// rovane-sim swarm: many recording host jobs, each on a machine and a fault mix drawn from its
// seed, each checked as `rovane-sim run` checks its job. The module keeps its state in globals,
// so every job runs in a child process of its own (two at a time, one per core): the child
// builds the world, runs the job through run's own code with its output thrown away, writes
// what the job came to into a pipe and exits.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <chrono>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "kernel/rng.h"
#include "tool_commands.h"

namespace rovane_tool {

namespace {

struct SwarmOptions {
    uint64_t runs = 20;
    uint64_t seed = 1;
    bool json = false;
};

// The print file kinds a drawn printing job uses: the good ones, each made for its printer.
const char* const kPrintKinds[] = {"pellan-iv", "pellan-pro", "optical-disc-printer", "varrow", "varrow-2", "tessik-6", "label"};

// The fault kinds the summary counts, in its order.
const char* const kFaultKinds[] = {"failed recordings", "disc printer", "laminator", "line noise",
                                   "mispicks", "failing tray calls", "empty input bin"};

// One run's machine and faults, drawn from its seed; expressed as `run` options so that the
// replay command is the same job.
RunOptions draw_run(uint64_t seed, std::vector<bool>* drawn) {
    // Its own generator: the world draws from the seed itself, this one from a salted seed.
    sim::Rng rng(seed ^ 0x5357524D5357524DULL);
    RunOptions o;
    o.seed = seed;
    o.machine.drives = rng.chance(0.5) ? 2 : 4;
    o.discs = rng.between(4, 12);
    o.record_seconds = static_cast<double>(rng.between(60, 300));
    // Probabilities are drawn in thousandths so that the replay command states them exactly.
    if (rng.chance(0.5)) o.fail_rate = static_cast<double>(rng.between(1, 300)) / 1000;
    if (rng.chance(0.5)) {
        o.print = kPrintKinds[rng.below(sizeof kPrintKinds / sizeof kPrintKinds[0])];
        o.laminate = rng.chance(0.5);
    }
    if (rng.chance(0.5)) o.machine.noise = static_cast<double>(rng.between(1, 50)) / 1000;
    if (rng.chance(0.5)) o.machine.mispick = static_cast<double>(rng.between(1, 100)) / 1000;
    o.machine.tray_fail = rng.below(3);
    if (rng.chance(0.25)) o.machine.empty_bins.push_back(std::string(1, "4251"[rng.below(4)]));
    *drawn = {o.fail_rate > 0,         !o.print.empty(),         o.laminate,
              o.machine.noise > 0,     o.machine.mispick > 0,    o.machine.tray_fail > 0,
              !o.machine.empty_bins.empty()};
    return o;
}

// The `rovane-sim run` command line that replays a drawn run.
std::string replay_command(const RunOptions& o) {
    char text[512];
    std::snprintf(text, sizeof text, "rovane-sim run --drives %" PRIu64 " --discs %" PRIu64 " --record-time %g",
                  o.machine.drives, o.discs, o.record_seconds);
    std::string cmd = text;
    auto add = [&cmd](const char* flag, double value) {
        char v[64];
        std::snprintf(v, sizeof v, " %s %g", flag, value);
        cmd += v;
    };
    if (o.fail_rate > 0) add("--fail-rate", o.fail_rate);
    if (!o.print.empty()) cmd += " --print " + o.print;
    if (o.laminate) cmd += " --laminate";
    if (o.machine.noise > 0) add("--noise", o.machine.noise);
    if (o.machine.mispick > 0) add("--mispick", o.machine.mispick);
    if (o.machine.tray_fail) add("--tray-fail", static_cast<double>(o.machine.tray_fail));
    for (const std::string& bin : o.machine.empty_bins) cmd += " --empty-bin " + bin;
    return cmd + " --seed " + std::to_string(o.seed);
}

struct RunRecord {
    RunOptions options;
    std::vector<bool> drawn;
    RunOutcome outcome;
    bool done = false;
};

// In the child: runs the job with its output thrown away, writes "EXIT\tOUTCOME\tWHAT BROKE"
// to `fd` and exits without running the parent's destructors.
[[noreturn]] void run_child(const RunOptions& o, int fd) {
    const int null = open("/dev/null", O_WRONLY);
    if (null >= 0) {
        dup2(null, STDOUT_FILENO);
        dup2(null, STDERR_FILENO);
    }
    RunOutcome out;
    out.exit_code = run_recording_job(o, &out);
    // What broke, in its first line (the world's report goes on with every thread and the
    // transcript's last events: the replay command shows those).
    std::string broken = out.broken.substr(0, out.broken.find('\n'));
    for (char& ch : broken)
        if (ch == '\t') ch = ' ';
    if (broken.size() > 1000) broken.resize(1000);   // within one atomic pipe write
    const std::string line = std::to_string(out.exit_code) + "\t" + out.outcome + "\t" + broken;
    ssize_t unused = write(fd, line.data(), line.size());
    (void)unused;
    close(fd);
    _exit(0);
}

// Reads what a child wrote; a child that died before writing gets the way it died.
RunOutcome read_child(int fd, int status) {
    std::string text;
    char buf[1024];
    ssize_t n;
    while ((n = read(fd, buf, sizeof buf)) > 0) text.append(buf, static_cast<size_t>(n));
    close(fd);
    RunOutcome out;
    const size_t tab1 = text.find('\t');
    const size_t tab2 = tab1 == std::string::npos ? std::string::npos : text.find('\t', tab1 + 1);
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0 && tab2 != std::string::npos) {
        out.exit_code = std::atoi(text.substr(0, tab1).c_str());
        out.outcome = text.substr(tab1 + 1, tab2 - tab1 - 1);
        out.broken = text.substr(tab2 + 1);
        return out;
    }
    out.exit_code = 3;
    out.outcome = "crashed";
    out.broken = WIFSIGNALED(status) ? "killed by signal " + std::to_string(WTERMSIG(status))
                                     : "exited " + std::to_string(WEXITSTATUS(status)) + " without a result";
    return out;
}

bool failed(const RunOutcome& o) { return o.exit_code != 0 && o.exit_code != 2; }

int run_swarm(const SwarmOptions& s) {
    std::vector<RunRecord> runs(s.runs);
    for (uint64_t i = 0; i < s.runs; ++i) runs[i].options = draw_run(s.seed + i, &runs[i].drawn);

    constexpr size_t kAtOnce = 2;
    std::map<pid_t, std::pair<size_t, int>> children;  // pid -> run index, read end of its pipe
    size_t next = 0, printed = 0;
    const auto wall_start = std::chrono::steady_clock::now();
    std::fflush(stdout);
    std::fflush(stderr);
    while (next < runs.size() || !children.empty()) {
        while (next < runs.size() && children.size() < kAtOnce) {
            int fds[2];
            if (pipe(fds) != 0) {
                std::perror("rovane-sim swarm: pipe");
                return 1;
            }
            const pid_t pid = fork();
            if (pid < 0) {
                std::perror("rovane-sim swarm: fork");
                return 1;
            }
            if (pid == 0) {
                close(fds[0]);
                run_child(runs[next].options, fds[1]);
            }
            close(fds[1]);
            children[pid] = {next++, fds[0]};
        }
        int status = 0;
        const pid_t pid = waitpid(-1, &status, 0);
        if (pid < 0) break;
        const auto it = children.find(pid);
        if (it == children.end()) continue;
        RunRecord& r = runs[it->second.first];
        r.outcome = read_child(it->second.second, status);
        r.done = true;
        children.erase(it);
        // Failing runs are reported in seed order, as soon as every earlier run is in.
        for (; printed < runs.size() && runs[printed].done; ++printed) {
            const RunRecord& p = runs[printed];
            if (!s.json && failed(p.outcome))
                std::printf("FAILED seed %" PRIu64 ": %s: %s\n  replay: %s\n", p.options.seed, p.outcome.outcome.c_str(),
                            p.outcome.broken.c_str(), replay_command(p.options).c_str());
        }
        std::fflush(stdout);
    }
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wall_start).count();

    int passed = 0, aborted = 0, failures = 0;
    std::vector<int> drawn_by(sizeof kFaultKinds / sizeof kFaultKinds[0], 0);
    for (const RunRecord& r : runs) {
        if (r.outcome.exit_code == 0) ++passed;
        else if (r.outcome.exit_code == 2) ++aborted;
        else ++failures;
        for (size_t k = 0; k < drawn_by.size(); ++k) drawn_by[k] += r.drawn[k] ? 1 : 0;
    }
    const double per_minute = wall > 0 ? static_cast<double>(runs.size()) * 60 / wall : 0;

    if (s.json) {
        nlohmann::ordered_json j;
        j["runs"] = runs.size();
        j["first_seed"] = s.seed;
        j["passed"] = passed;
        j["aborted_consistent"] = aborted;
        j["failed"] = failures;
        nlohmann::ordered_json faults;
        for (size_t k = 0; k < drawn_by.size(); ++k) faults[kFaultKinds[k]] = {{"drawn", drawn_by[k]}};
        j["faults"] = faults;
        nlohmann::ordered_json list = nlohmann::ordered_json::array();
        for (const RunRecord& r : runs) {
            nlohmann::ordered_json e;
            e["seed"] = r.options.seed;
            e["outcome"] = r.outcome.outcome;
            e["exit_code"] = r.outcome.exit_code;
            if (failed(r.outcome)) e["broken"] = r.outcome.broken;
            e["replay"] = replay_command(r.options);
            list.push_back(e);
        }
        j["results"] = list;
        j["wall_seconds"] = std::round(wall * 1000) / 1000;
        j["runs_per_minute"] = std::round(per_minute * 10) / 10;
        std::printf("%s\n", j.dump(2).c_str());
    } else {
        std::printf("swarm: %zu runs (seeds %" PRIu64 "..%" PRIu64 "), %.1f runs per minute (wall %.1f s): "
                    "%d passed, %d aborted but consistent, %d failed\n",
                    runs.size(), s.seed, s.seed + s.runs - 1, per_minute, wall, passed, aborted, failures);
        // The world does not count how often each fault fired: the runs that drew it are shown.
        for (size_t k = 0; k < drawn_by.size(); ++k)
            std::printf("  %-20s drawn by %d runs\n", kFaultKinds[k], drawn_by[k]);
    }
    std::fflush(stdout);
    return failures ? 4 : 0;
}

}  // namespace

Command add_swarm_command(CLI::App& tool) {
    auto o = std::make_shared<SwarmOptions>();
    CLI::App* c = tool.add_subcommand("swarm", "Many recording host jobs on machines and faults drawn from their seeds.");
    c->footer(
        "Run i uses seed S+i. From it the swarm draws the run's machine and faults: 2 or 4 drives,\n"
        "4 to 12 discs, recordings of 60 to 300 s, a fail rate up to 0.3, sometimes the disc printer\n"
        "(--print with one of the good print file kinds) and with it sometimes the laminator, line\n"
        "noise up to 0.05, mispicks up to 0.1, 0 to 2 failing tray calls, sometimes an empty input\n"
        "bin. Each run is the job `rovane-sim run` runs with those flags and that seed, checked the\n"
        "same way, in a process of its own (two at a time).\n"
        "\n"
        "A run fails when run would exit 3 (the world stopped) or 4 (an invariant broke); a job the\n"
        "module aborted with every disc accounted for (exit 2) is not a failure. Each failing run is\n"
        "printed with what broke and the run command that replays it. The summary: runs, runs per\n"
        "minute of wall time, passed / aborted but consistent / failed, and how many runs drew each\n"
        "fault kind.\n"
        "\n"
        "Exit 0 when no run failed, 4 otherwise, 1 on a usage error.");
    c->add_option("--runs", o->runs, "how many runs (default 20)")->type_name("N")->check(whole_number(1, 100000));
    c->add_option("--seed", o->seed, "the first run's seed (default 1)")->type_name("S")->check(whole_number());
    c->add_flag("--json", o->json, "print the summary and every run's outcome as one JSON object");
    return {c, [o] { return run_swarm(*o); }};
}

}  // namespace rovane_tool
