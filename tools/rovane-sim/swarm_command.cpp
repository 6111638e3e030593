// rovane-sim swarm: many recording host jobs, each on a machine and a fault mix drawn from its
// seed, each checked as `rovane-sim run` checks its job. The module keeps its state in globals,
// so every job runs in a child process of its own (two at a time, one per core; child_runs.h):
// the child builds the world, runs the job through run's own code with its output thrown away,
// writes what the job came to into a pipe and exits.
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

#include "child_runs.h"
#include "flag_checks.h"
#include "job_faults.h"
#include "kernel/rng.h"
#include "machine_flags.h"
#include "run_command.h"
#include "tool_commands.h"

namespace rovane_tool {

namespace {

struct SwarmOptions {
    uint64_t runs = 20;
    uint64_t seed = 1;
    bool json = false;
    // --shard K/N: this process runs the K-th of N slices of the seed range (1 <= K <= N), so
    // that a batch runner can spread one campaign over machines; `swarm merge` joins their JSON.
    std::string shard_text;
    uint64_t shard = 1, shards = 1;
    std::vector<std::string> merge_files;  // swarm merge FILES...
};

// The print file kinds a drawn printing job uses: the good ones, each made for its printer.
const char* const kPrintKinds[] = {"pellan-iv", "pellan-pro", "optical-disc-printer", "varrow", "varrow-2", "tessik-6", "label"};

// What a run may draw, in the summary's order.
const char* const kFaultKinds[] = {"failed recordings", "disc printer",    "laminator",      "line noise",
                                   "mispicks",          "failing tray calls", "empty input bin", "robot errors",
                                   "pauses",            "failing prints",  "laminator faults", "slow operator",
                                   "operator answers",  "host abort",      "Rovane_End mid-job", "a failing call"};

// The faults the runs may see fire, counted from their transcripts: listed in the summary even
// when they never fired.
const char* const kFiredKinds[] = {
    "line damage",     "robot error A", "robot error B", "robot error C", "robot error D", "robot error E",
    "robot error F",   "robot paused",  "print failed",  "laminator error", "laminator: disc fell off",
    "failing tray call", "failing Win32 call", "operator answered Cancel", "operator pressed ABORT Job",
    "host aborted the job", "Rovane_End mid-job"};

// Operator answers other than the careful default, one of which a run may draw.
const char* const kOperatorAnswers[] = {"not picked=ABORTJOB", "error=ABORTJOB", "reject position=CANCEL",
                                        "printer tray=CANCEL", "fallen out of the laminator tray=CANCEL"};

// The highest N the swarm draws for --fail-call KIND:N, by kind (kFailCallKinds' order): about the
// calls of that family a drawn job makes.
const uint64_t kFailCallReach[] = {20000, 1000, 30, 30, 400};

double tenths(sim::Rng& rng, uint64_t lo, uint64_t hi) { return static_cast<double>(rng.between(lo * 10, hi * 10)) / 10; }

}  // namespace

// One run's machine and faults, drawn from its seed; expressed as `run` options so that the
// replay command (run_command_line) is the same job.
RunOptions draw_swarm_run(uint64_t seed, std::vector<bool>* drawn) {
    // Its own generator: the world draws from the seed itself, this one from a salted seed.
    sim::Rng rng(seed ^ 0x5357524D5357524DULL);
    RunOptions o;
    o.seed = seed;
    // A drawn job lasts an hour or two at most: a run still going after twelve is stuck, and
    // stopping it there keeps the swarm fast.
    o.budget_hours = 12;
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

    // Faults of the job in progress, at moments within about the job's length: a round of loads
    // and recordings per drive-load of discs.
    const uint64_t rounds = (o.discs + o.machine.drives - 1) / o.machine.drives;
    const uint64_t span = rounds * (static_cast<uint64_t>(o.record_seconds) + 30 * o.machine.drives) + 60;
    JobFaults& f = o.faults;
    if (rng.chance(0.5))
        for (uint64_t n = rng.between(1, 3); n > 0; --n) {
            char code = "ACDEF"[rng.below(5)];
            if (!o.print.empty() && rng.chance(0.2)) code = 'B';  // the printer's error needs a printer
            char text[32];
            std::snprintf(text, sizeof text, "%c@%g", code, tenths(rng, 5, span));
            f.robot_errors.push_back(text);
        }
    if (rng.chance(0.25))
        for (uint64_t n = rng.between(1, 2); n > 0; --n) f.pauses.push_back(tenths(rng, 5, span));
    if (!o.print.empty() && rng.chance(0.3)) f.print_fail = rng.between(1, 2);
    const bool lam_faults = o.laminate && rng.chance(0.5);
    if (lam_faults) (rng.chance(0.5) ? o.machine.lam_jam : o.machine.lam_falls) = 1;
    if (rng.chance(0.5)) f.think = tenths(rng, 0, rng.chance(0.2) ? 300 : 30);  // late answers now and then
    if (rng.chance(0.15)) {
        const size_t n = sizeof kOperatorAnswers / sizeof kOperatorAnswers[0];
        o.answers.push_back(kOperatorAnswers[rng.below(n)]);
    }
    const double give_up = rng.chance(0.16) ? tenths(rng, 5, span) : 0;
    if (give_up > 0) (rng.chance(0.5) ? f.abort_at : f.end_at) = give_up;

    // With "Record-Print" 1 a print's move reports done as soon as its disc left the recorder,
    // and nothing tells the host when the printed disc has left the printer or reached its output
    // stack: the recording host allows a carry time before its next batch. A robot error, a pause,
    // a failed print, a lamination (a jam waits for the operator) or a slow operator can stall
    // that carry for as long as the person takes, so such runs print with "Record-Print" 0, where
    // each print reports done at its end and the host's batches follow it exactly.
    if (!o.print.empty() && (o.laminate || !f.robot_errors.empty() || !f.pauses.empty() || f.print_fail ||
                             f.think >= 0 || !o.answers.empty() || f.abort_at > 0 || f.end_at > 0))
        o.record_print = 0;

    // A failing Win32 or engine call: the Nth call of one family fails, once. One-shot faults
    // only: the module survives each of them (the CI's fail-call sweep fails every call of its
    // job in turn), while a lasting one (N+) may leave it waiting for good, as a real machine
    // whose port or spooler is gone would. N is drawn within about the calls of that family such
    // a job makes, so that most drawn faults fire.
    const bool fail_call = rng.chance(0.2);
    if (fail_call) {
        const size_t kind = rng.below(sizeof kFailCallKinds / sizeof kFailCallKinds[0]);
        o.machine.fail_call = fail_call_text(FailCall{kFailCallKinds[kind], rng.between(1, kFailCallReach[kind]), false});
    }

    if (!drawn) return o;
    *drawn = {o.fail_rate > 0,         !o.print.empty(),         o.laminate,
              o.machine.noise > 0,     o.machine.mispick > 0,    o.machine.tray_fail > 0,
              !o.machine.empty_bins.empty(), !f.robot_errors.empty(), !f.pauses.empty(),
              f.print_fail > 0,        lam_faults,               f.think > 0,
              !o.answers.empty(),      f.abort_at > 0,           f.end_at > 0,
              fail_call};
    return o;
}

namespace {

struct RunRecord {
    RunOptions options;
    std::vector<bool> drawn;
    RunOutcome outcome;
    bool done = false;
};

// Runs every drawn job in the runner processes; failing runs are reported in seed order, as soon
// as every earlier run is in. Nonzero: the runners could not be run (the exit code).
int run_swarm_runs(const SwarmOptions& s, std::vector<RunRecord>& runs) {
    size_t printed = 0;
    return run_in_runners(
        "swarm", ChildRunLimits{}, [&](size_t i) { return i < runs.size(); }, [&](size_t i) { return runs[i].options; },
        [&](size_t index, const RunOutcome& outcome) {
            runs[index].outcome = outcome;
            runs[index].done = true;
            for (; printed < runs.size() && runs[printed].done; ++printed) {
                const RunRecord& p = runs[printed];
                if (!s.json && p.outcome.failed())
                    std::printf("FAILED seed %" PRIu64 ": %s: %s\n  replay: %s\n", p.options.seed,
                                p.outcome.outcome.c_str(), p.outcome.broken.c_str(), run_command_line(p.options).c_str());
            }
        });
}

// The swarm's counts: verdicts, the faults drawn and those that fired.
struct SwarmTally {
    int passed = 0, aborted = 0, failures = 0;
    std::vector<int> drawn_by = std::vector<int>(sizeof kFaultKinds / sizeof kFaultKinds[0], 0);
    std::map<std::string, std::pair<int, int>> fired;  // kind -> times fired, runs it fired in
};

SwarmTally tally_swarm(const std::vector<RunRecord>& runs) {
    SwarmTally t;
    for (const char* kind : kFiredKinds) t.fired[kind];
    for (const RunRecord& r : runs) {
        for (const auto& [kind, n] : r.outcome.fired) {
            t.fired[kind].first += n;
            ++t.fired[kind].second;
        }
        if (r.outcome.verdict() == sim::Verdict::Completed) ++t.passed;
        else if (r.outcome.verdict() == sim::Verdict::Aborted) ++t.aborted;
        else ++t.failures;
        for (size_t k = 0; k < t.drawn_by.size(); ++k) t.drawn_by[k] += r.drawn[k] ? 1 : 0;
    }
    return t;
}

void report_swarm_json(const SwarmOptions& s, const std::vector<RunRecord>& runs, const SwarmTally& t, double wall,
                       double per_minute) {
    nlohmann::ordered_json j;
    j["runs"] = runs.size();
    j["first_seed"] = runs.empty() ? s.seed : runs.front().options.seed;
    j["shard"] = std::to_string(s.shard) + "/" + std::to_string(s.shards);
    j["campaign"] = {{"first_seed", s.seed}, {"runs", s.runs}};
    j["passed"] = t.passed;
    j["aborted_consistent"] = t.aborted;
    j["failed"] = t.failures;
    nlohmann::ordered_json faults;
    for (size_t k = 0; k < t.drawn_by.size(); ++k) faults[kFaultKinds[k]] = {{"drawn", t.drawn_by[k]}};
    j["faults"] = faults;
    nlohmann::ordered_json fired_j;
    for (const auto& [kind, n] : t.fired) fired_j[kind] = {{"times", n.first}, {"runs", n.second}};
    j["fired"] = fired_j;
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    for (const RunRecord& r : runs) {
        nlohmann::ordered_json e;
        e["seed"] = r.options.seed;
        e["outcome"] = r.outcome.outcome;
        e["exit_code"] = r.outcome.exit_code;
        if (r.outcome.failed()) e["broken"] = r.outcome.broken;
        if (!r.outcome.transcript_hash.empty()) e["transcript_hash"] = r.outcome.transcript_hash;
        e["replay"] = run_command_line(r.options);
        // What a merge of shards counts again: the faults drawn and those that fired.
        nlohmann::ordered_json drawn = nlohmann::ordered_json::array();
        for (size_t k = 0; k < r.drawn.size(); ++k)
            if (r.drawn[k]) drawn.push_back(kFaultKinds[k]);
        e["drawn"] = drawn;
        nlohmann::ordered_json fired = nlohmann::ordered_json::object();
        for (const auto& [kind, n] : r.outcome.fired) fired[kind] = n;
        e["fired"] = fired;
        list.push_back(e);
    }
    j["results"] = list;
    j["wall_seconds"] = std::round(wall * 1000) / 1000;
    j["runs_per_minute"] = std::round(per_minute * 10) / 10;
    std::printf("%s\n", j.dump(2).c_str());
}

// The summary's text: SEEDS names the runs ("seeds 1..1000", "seeds 1..250, shard 1 of 4").
void report_tally_text(size_t runs, const std::string& seeds, const SwarmTally& t, double wall, double per_minute) {
    std::printf("swarm: %zu runs (%s), %.1f runs per minute (wall %.1f s): %d passed, %d aborted but consistent, "
                "%d failed\n",
                runs, seeds.c_str(), per_minute, wall, t.passed, t.aborted, t.failures);
    for (size_t k = 0; k < t.drawn_by.size(); ++k) std::printf("  %-20s drawn by %d runs\n", kFaultKinds[k], t.drawn_by[k]);
    std::string never;
    for (const auto& [kind, n] : t.fired)
        if (n.first) std::printf("  fired: %-28s %6d times in %d runs\n", kind.c_str(), n.first, n.second);
        else never += (never.empty() ? "" : ", ") + kind;
    std::printf("  never fired: %s\n", never.empty() ? "(none)" : never.c_str());
}

void report_swarm_text(const SwarmOptions& s, const std::vector<RunRecord>& runs, const SwarmTally& t, double wall,
                       double per_minute) {
    const uint64_t first = runs.empty() ? s.seed : runs.front().options.seed;
    std::string seeds = "seeds " + std::to_string(first) + ".." + std::to_string(first + runs.size() - 1);
    if (s.shards > 1) seeds += ", shard " + std::to_string(s.shard) + " of " + std::to_string(s.shards);
    report_tally_text(runs.size(), seeds, t, wall, per_minute);
}

// swarm merge FILES...: the JSON summaries of the shards of one campaign (--shard K/N --json),
// joined into the summary of the whole: the counts again from every run's outcome, the faults it
// drew and those that fired, and every failing seed's replay command. The shards must be of one
// campaign (its first seed and runs), no seed twice; seeds missing from the files are named.
// Exit 0 when no run failed and every seed is there, 4 when a run failed, 1 when the files are not
// the shards of one campaign, 3 when seeds are missing.
int run_merge(const SwarmOptions& s) {
    SwarmTally t;
    for (const char* kind : kFiredKinds) t.fired[kind];
    std::map<uint64_t, nlohmann::json> by_seed;
    uint64_t first_seed = 0, runs = 0;
    double wall = 0;
    for (size_t f = 0; f < s.merge_files.size(); ++f) {
        const std::string& path = s.merge_files[f];
        std::FILE* in = std::fopen(path.c_str(), "rb");
        if (!in) return usage_error("swarm merge", "cannot read '" + path + "'");
        std::string text;
        char buffer[65536];
        for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, in)) > 0;) text.append(buffer, n);
        std::fclose(in);
        const nlohmann::json j = nlohmann::json::parse(text, nullptr, false);
        if (j.is_discarded() || !j.is_object() || !j.contains("campaign") || !j.contains("results") || !j["results"].is_array())
            return usage_error("swarm merge", "'" + path + "' is not the JSON of rovane-sim swarm --json");
        const uint64_t c_first = j["campaign"].value("first_seed", uint64_t{0}), c_runs = j["campaign"].value("runs", uint64_t{0});
        if (f == 0) {
            first_seed = c_first;
            runs = c_runs;
        } else if (c_first != first_seed || c_runs != runs) {
            return usage_error("swarm merge", "'" + path + "' is of another campaign (seeds from " + std::to_string(c_first) +
                                                  ", " + std::to_string(c_runs) + " runs) than '" + s.merge_files[0] + "'");
        }
        wall = std::max(wall, j.value("wall_seconds", 0.0));
        for (const nlohmann::json& r : j["results"]) {
            const uint64_t seed = r.value("seed", uint64_t{0});
            if (!by_seed.emplace(seed, r).second)
                return usage_error("swarm merge", "seed " + std::to_string(seed) + " is in more than one file (again in '" + path + "')");
        }
    }
    for (const auto& [seed, r] : by_seed) {
        const int code = r.value("exit_code", -1);
        if (code == sim::exit_code(sim::Verdict::Completed)) ++t.passed;
        else if (code == sim::exit_code(sim::Verdict::Aborted)) ++t.aborted;
        else ++t.failures;
        if (r.contains("drawn"))
            for (const auto& kind : r["drawn"])
                for (size_t k = 0; k < t.drawn_by.size(); ++k)
                    if (kind == kFaultKinds[k]) ++t.drawn_by[k];
        if (r.contains("fired"))
            for (const auto& [kind, n] : r["fired"].items()) {
                t.fired[kind].first += n.get<int>();
                ++t.fired[kind].second;
            }
    }
    const double per_minute = wall > 0 ? static_cast<double>(by_seed.size()) * 60 / wall : 0;
    report_tally_text(by_seed.size(), "seeds " + std::to_string(first_seed) + ".." + std::to_string(first_seed + runs - 1) +
                                          " merged from " + std::to_string(s.merge_files.size()) + " files; wall: the longest",
                      t, wall, per_minute);
    for (const auto& [seed, r] : by_seed)
        if (r.value("exit_code", -1) != 0 && r.value("exit_code", -1) != sim::exit_code(sim::Verdict::Aborted))
            std::printf("FAILED seed %" PRIu64 ": %s: %s\n  replay: %s\n", seed, r.value("outcome", std::string()).c_str(),
                        r.value("broken", std::string()).c_str(), r.value("replay", std::string()).c_str());
    std::string missing;
    size_t missing_count = 0;
    for (uint64_t seed = first_seed; seed < first_seed + runs; ++seed)
        if (!by_seed.count(seed) && ++missing_count <= 10) missing += (missing.empty() ? "" : ", ") + std::to_string(seed);
    if (missing_count) {
        std::printf("missing: %zu of the campaign's %" PRIu64 " seeds (%s%s)\n", missing_count, runs, missing.c_str(),
                    missing_count > 10 ? ", ..." : "");
        std::fflush(stdout);
        return t.failures ? sim::exit_code(sim::Verdict::InvariantBroken) : 3;
    }
    std::fflush(stdout);
    return t.failures ? sim::exit_code(sim::Verdict::InvariantBroken) : 0;
}

// The K-th of N slices of the seed range: runs [(K-1)*R/N, K*R/N) of the R, in order.
std::pair<uint64_t, uint64_t> shard_slice(const SwarmOptions& s) {
    return {(s.shard - 1) * s.runs / s.shards, s.shard * s.runs / s.shards};
}

int run_swarm(const SwarmOptions& s) {
    const auto [from, to] = shard_slice(s);
    std::vector<RunRecord> runs(to - from);
    for (uint64_t i = from; i < to; ++i) runs[i - from].options = draw_swarm_run(s.seed + i, &runs[i - from].drawn);
    const auto wall_start = std::chrono::steady_clock::now();
    if (const int child_error = run_swarm_runs(s, runs)) return child_error;
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wall_start).count();
    const SwarmTally t = tally_swarm(runs);
    const double per_minute = wall > 0 ? static_cast<double>(runs.size()) * 60 / wall : 0;
    if (s.json)
        report_swarm_json(s, runs, t, wall, per_minute);
    else
        report_swarm_text(s, runs, t, wall, per_minute);
    std::fflush(stdout);
    // Any failed run fails the swarm, as a broken invariant fails a run.
    return t.failures ? sim::exit_code(sim::Verdict::InvariantBroken) : 0;
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
        "bin; and faults of the job in progress at moments within its length: robot errors A to F,\n"
        "the robot's Pause button, failing prints, laminator jams and falls, an operator who takes up\n"
        "to 30 s (now and then 5 minutes) to answer or answers Cancel or ABORT Job, a host that\n"
        "aborts the job or calls Rovane_End in the middle of it; and one run in five a failing call\n"
        "(--fail-call KIND:N, once: a serial read or write, a tray call, a spooler call, a file\n"
        "write). Each run is the job `rovane-sim run` runs with those flags and that seed, checked\n"
        "the same way, in a process of its own (two at a time); its replay command is made from\n"
        "run's own flags.\n"
        "\n"
        "A run fails when run would exit 3 (the world stopped: a deadlock, a window nobody answered,\n"
        "the time budget) or 4 (an invariant broke: a disc lost, duplicated or unaccounted for, a\n"
        "thread of the module left after Rovane_End, Rovane_End slower than its bound, a log line out\n"
        "of format or the log past its size); a job aborted with every disc accounted for (exit 2)\n"
        "is not a failure. Each failing run is printed with what broke and the run command that\n"
        "replays it. The summary: runs, runs per minute of wall time, passed / aborted but\n"
        "consistent / failed, how many runs drew each fault, how often each fault fired and in how\n"
        "many runs, and the faults that never fired.\n"
        "\n"
        "Exit 0 when no run failed, 4 otherwise, 1 on a usage error.");
    c->add_option("--runs", o->runs, "how many runs (default 20)")->type_name("N")->check(whole_number(1, 100000));
    c->add_option("--seed", o->seed, "the first run's seed (default 1)")->type_name("S")->check(whole_number());
    c->add_flag("--json", o->json, "print the summary and every run's outcome as one JSON object");
    c->add_option("--shard", o->shard_text,
                  "run the K-th of N slices of the seed range, for a campaign spread over processes or machines; "
                  "their --json outputs join with 'swarm merge'")
        ->type_name("K/N")
        ->check(CLI::Validator(
            [](std::string& t) -> std::string {
                unsigned long long k = 0, n = 0;
                char rest = 0;
                if (std::sscanf(t.c_str(), "%llu/%llu%c", &k, &n, &rest) != 2 || k < 1 || n < 1 || k > n || n > 100000)
                    return "takes K/N with 1 <= K <= N, not '" + t + "'";
                return "";
            },
            ""));
    CLI::App* merge = c->add_subcommand("merge", "Join the --json outputs of a campaign's shards into one summary.");
    merge->add_option("FILES", o->merge_files, "the shards' JSON outputs")->required();
    return {c, [o, merge] {
        if (merge->parsed()) return run_merge(*o);
        if (!o->shard_text.empty()) std::sscanf(o->shard_text.c_str(), "%" SCNu64 "/%" SCNu64, &o->shard, &o->shards);
        return run_swarm(*o);
    }};
}

}  // namespace rovane_tool
