// rovane-sim sweep: "fail call N". One fixed recording job that reaches every family of calls the
// world can fail (serial reads and writes, tray calls, spooler calls, file writes) is run again
// and again with the Nth call of one family failing, N = 1, 2, ... until a run fires no fault (N
// went past the run's last call of the family) or N reaches --max. Every run must end as
// `rovane-sim run` wants it: completed, or aborted with every disc accounted for. The runs go
// through two runner processes (child_runs.h), each run starting from a freshly loaded module; a
// failing one is printed with the run command that replays it.
#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <chrono>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "child_runs.h"
#include "flag_checks.h"
#include "machine_flags.h"
#include "run_command.h"
#include "tool_commands.h"

namespace rovane_tool {

namespace {

struct SweepOptions {
    std::string kind = "all";
    bool lasting = false;
    uint64_t max = 2000;
    uint64_t step = 1;
    uint64_t seed = 1;
    bool json = false;
};

// A run still going after this long spins without its virtual clock moving: its runner is
// killed and the run fails.
constexpr unsigned kRunWallLimit = 300;

// The fixed job: two recorders, four discs, each recorded, printed through the spooler (a raw
// .PRN file) and laminated (the laminator's status and commands go through the spooler too),
// with "Record-Print" 0: a failing call can stall a carry for long, and only then does each print
// report done when its disc is on its output stack (see the recording host's batches).
RunOptions sweep_job(uint64_t seed, const FailCall& fail) {
    RunOptions o;
    o.seed = seed;
    o.machine.drives = 2;
    o.discs = 4;
    o.record_seconds = 120;
    o.print = "pellan-iv";
    o.laminate = true;
    o.record_print = 0;
    o.machine.fail_call = fail_call_text(fail);
    return o;
}

struct KindSweep {
    std::string kind;
    std::map<uint64_t, RunOutcome> runs;  // by N, only N up to the first quiet one
    uint64_t quiet_n = 0;                 // the first N that fired nothing (0: none up to --max)
    uint64_t faults_fired = 0;
    int passed = 0, aborted = 0, failures = 0;
    double wall = 0;
};

// Sweeps one kind; prints each failing N (unless JSON) as soon as every smaller N is in.
int sweep_kind(const SweepOptions& s, const std::string& kind, KindSweep* out) {
    out->kind = kind;
    std::map<uint64_t, RunOutcome> results;
    uint64_t printed = 1;
    bool stop = false;
    const auto wall_start = std::chrono::steady_clock::now();
    auto job_for = [&](uint64_t n) { return sweep_job(s.seed, FailCall{kind, n, s.lasting}); };
    const int child_error = run_in_runners(
        "sweep", ChildRunLimits{2, kRunWallLimit},
        [&](size_t index) { return !stop && 1 + index * s.step <= s.max; },
        [&](size_t index) { return job_for(1 + index * s.step); },
        [&](size_t index, const RunOutcome& outcome) {
            const uint64_t n = 1 + index * s.step;  // jobs are started in the order of N
            results[n] = outcome;
            // A run that fired nothing went past the last call (a runner that died told nothing).
            const bool quiet = outcome.faults_fired == 0 && outcome.outcome != "crashed";
            if (quiet && (out->quiet_n == 0 || n < out->quiet_n)) {
                out->quiet_n = n;
                stop = true;
            }
            for (; results.count(printed); printed += s.step) {
                if (out->quiet_n && printed > out->quiet_n) continue;
                const RunOutcome& r = results[printed];
                if (!s.json && r.failed())
                    std::printf("FAILED %s:%" PRIu64 "%s: %s: %s\n  replay: %s\n", kind.c_str(), printed,
                                s.lasting ? "+" : "", r.outcome.c_str(), r.broken.c_str(),
                                run_command_line(job_for(printed)).c_str());
            }
        });
    out->wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wall_start).count();
    for (const auto& [n, r] : results) {
        if (out->quiet_n && n > out->quiet_n) break;  // started before the quiet run ended
        out->runs[n] = r;
        out->faults_fired += r.faults_fired;
        if (r.verdict() == sim::Verdict::Completed) ++out->passed;
        else if (r.verdict() == sim::Verdict::Aborted) ++out->aborted;
        else ++out->failures;
    }
    return child_error;
}

int run_sweep(const SweepOptions& s) {
    std::vector<std::string> kinds;
    for (const char* k : kFailCallKinds)
        if (s.kind == "all" || s.kind == k) kinds.push_back(k);
    const char* mode = s.lasting ? "lasting" : "one-shot";
    std::vector<KindSweep> sweeps;
    int failures = 0;
    for (const std::string& kind : kinds) {
        KindSweep k;
        if (const int error = sweep_kind(s, kind, &k)) return error;
        failures += k.failures;
        if (!s.json) {
            std::string end;
            if (k.quiet_n)
                end = "nothing fired at N=" + std::to_string(k.quiet_n) + " (the run made " +
                      std::to_string(k.runs[k.quiet_n].fault_calls) + " " + kind + " calls)";
            else
                end = "cap hit: faults still fired at --max " + std::to_string(s.max);
            std::printf("sweep %s (%s): %zu runs, %s; %" PRIu64 " faults fired; %d passed, %d aborted but consistent, "
                        "%d failed; wall %.1f s\n",
                        kind.c_str(), mode, k.runs.size(), end.c_str(), k.faults_fired, k.passed, k.aborted,
                        k.failures, k.wall);
            std::fflush(stdout);
        }
        sweeps.push_back(std::move(k));
    }
    if (s.json) {
        nlohmann::ordered_json j;
        std::string job = run_command_line(sweep_job(s.seed, FailCall{"KIND", 0, false}));
        job.replace(job.find("KIND:0"), 6, s.lasting ? "KIND:N+" : "KIND:N");
        j["job"] = job;
        j["lasting"] = s.lasting;
        j["max"] = s.max;
        j["step"] = s.step;
        nlohmann::ordered_json list = nlohmann::ordered_json::array();
        for (const KindSweep& k : sweeps) {
            nlohmann::ordered_json e;
            e["kind"] = k.kind;
            e["runs"] = k.runs.size();
            e["quiet_n"] = k.quiet_n ? nlohmann::ordered_json(k.quiet_n) : nlohmann::ordered_json(nullptr);
            if (k.quiet_n) e["calls_in_a_run"] = k.runs.at(k.quiet_n).fault_calls;
            e["cap_hit"] = k.quiet_n == 0;
            e["faults_fired"] = k.faults_fired;
            e["passed"] = k.passed;
            e["aborted_consistent"] = k.aborted;
            e["failed"] = k.failures;
            nlohmann::ordered_json bad = nlohmann::ordered_json::array();
            for (const auto& [n, r] : k.runs)
                if (r.failed())
                    bad.push_back({{"n", n},
                                   {"outcome", r.outcome},
                                   {"broken", r.broken},
                                   {"replay", run_command_line(sweep_job(s.seed, FailCall{k.kind, n, s.lasting}))}});
            e["failures"] = bad;
            e["wall_seconds"] = std::round(k.wall * 1000) / 1000;
            list.push_back(e);
        }
        j["kinds"] = list;
        j["failed"] = failures;
        std::printf("%s\n", j.dump(2).c_str());
    }
    std::fflush(stdout);
    return failures ? 4 : 0;
}

}  // namespace

Command add_sweep_command(CLI::App& tool) {
    auto o = std::make_shared<SweepOptions>();
    CLI::App* c = tool.add_subcommand("sweep", "\"Fail call N\": one job run with its Nth call of a kind failing, N = 1, 2, ...");
    c->footer(
        "The job: 2 drives, 4 discs recorded for 120 s, each printed (--print pellan-iv, a raw file\n"
        "through the spooler) and laminated. For each KIND (serial-read, serial-write, tray,\n"
        "spooler, file-write; all of them by default) it is run with --fail-call KIND:N for N = 1,\n"
        "2, ... (KIND:N+ with --lasting: every call from the Nth on fails; 1, 1+K, 1+2K ... with\n"
        "--step K) until a run fires no fault, N having gone past the run's last call of the kind,\n"
        "or N passes --max. Each run is a process of its own (two at a time); one still running\n"
        "after 300 s of wall time is killed and fails.\n"
        "\n"
        "A run fails when run would exit 3 (the world stopped) or 4 (an invariant broke); a job the\n"
        "module aborted with every disc accounted for (exit 2) is not a failure. Each failing N is\n"
        "printed with what broke and the run command that replays it. A summary line per kind: the\n"
        "runs, the N where nothing fired (with the run's calls of the kind) or that the cap was hit,\n"
        "the faults fired, passed / aborted but consistent / failed, and the wall time.\n"
        "\n"
        "Exit 0 when no run failed, 4 otherwise, 1 on a usage error.");
    c->add_option("--kind", o->kind, "the kind of call to fail: serial-read, serial-write, tray, spooler, file-write or all "
                  "(default all)")
        ->type_name("KIND|all")
        ->check(CLI::IsMember({"all", "serial-read", "serial-write", "tray", "spooler", "file-write"}).description(""));
    c->add_flag("--lasting", o->lasting, "every call from the Nth on fails, not the Nth alone");
    c->add_option("--max", o->max, "the largest N tried per kind (default 2000)")->type_name("N")->check(whole_number(1, 1000000));
    c->add_option("--step", o->step, "try every Kth N only: 1, 1+K, 1+2K ... (default 1)")
        ->type_name("K")
        ->check(whole_number(1, 1000000));
    c->add_option("--seed", o->seed, "the job's seed (default 1)")->type_name("S")->check(whole_number());
    c->add_flag("--json", o->json, "print the sweep's outcome per kind as one JSON object");
    return {c, [o] { return run_sweep(*o); }};
}

}  // namespace rovane_tool
