// rovane-sim run: a recording host's whole job on the virtual autoloader. The host loads the
// module, begins a job of N discs, keeps every recorder busy (load, record, unload or reject),
// polls every move until it is over, ends the job and the module; a person stands at the machine
// and does what a careful operator does. The tool prints what the job came to.
//
// The job goes in four steps: build the world the options describe (build_job_world), run the
// host in it (run_job), judge what it came to (judge_job: the harness's verdict) and report it
// (report_json or report_text, then the output files).
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "flag_checks.h"
#include "harness/autoloader.h"
#include "harness/print_files.h"
#include "harness/recording_host.h"
#include "harness/verdict.h"
#include "job_faults.h"
#include "kernel/kernel.h"
#include "logview/job_summary.h"
#include "logview/timeline_page.h"
#include "machine_flags.h"
#include "operator_answers.h"
#include "output_files.h"
#include "resources/resource.h"
#include "run_command.h"
#include "stated_flags.h"
#include "tool_commands.h"
#include "win32/files.h"
#include "world/operator.h"

namespace rovane_tool {

namespace {

using sim::DiscCount;
using sim::Unprinted;

// "1:02:03" for a virtual duration.
std::string clock_text(sim::Micros t) {
    const uint64_t s = t / sim::kSecond;
    char text[32];
    std::snprintf(text, sizeof text, "%" PRIu64 ":%02u:%02u", s / 3600, static_cast<unsigned>(s / 60 % 60),
                  static_cast<unsigned>(s % 60));
    return text;
}

double rounded(double v, int decimals) {
    const double scale = std::pow(10.0, decimals);
    return std::round(v * scale) / scale;
}

// The progress bar on stderr: discs done of N, virtual time so far and an estimate of the rest
// (from the pace so far). Redrawn at most four times a wall second, and once more at the end.
class ProgressBar {
public:
    explicit ProgressBar(int discs) : discs_(discs) {}

    void update(int done, sim::Micros elapsed, bool last) {
        const auto now = std::chrono::steady_clock::now();
        if (!last && drawn_ && now - last_draw_ < std::chrono::milliseconds(250)) return;
        last_draw_ = now;
        drawn_ = true;
        constexpr int kWidth = 30;
        const int filled = discs_ ? std::min(kWidth, done * kWidth / discs_) : kWidth;
        std::string bar(static_cast<size_t>(filled), '#');
        bar.resize(kWidth, '.');
        std::string left = "--:--:--";
        if (done > 0 && done < discs_) left = clock_text(elapsed / static_cast<uint64_t>(done) * (discs_ - done));
        if (done >= discs_) left = clock_text(0);
        std::fprintf(stderr, "\r[%s] %d/%d discs  virtual %s  about %s left ", bar.c_str(), done, discs_,
                     clock_text(elapsed).c_str(), left.c_str());
        if (last) std::fputc('\n', stderr);
        std::fflush(stderr);
    }

private:
    int discs_;
    bool drawn_ = false;
    std::chrono::steady_clock::time_point last_draw_;
};

// Where the tool puts the print file it generates into the world.
std::string print_file_path(sim::PrintFileKind kind) {
    return std::string("C:\\Labels\\") + sim::print_file_kind_name(kind) + "." + sim::print_file_extension(kind);
}

// --- build: the world the options describe ------------------------------------------------------

// The job's world, and what the tool follows in it while the job runs (the lambdas of the
// operator's rules point into it: it stays where it was made).
struct JobWorld {
    sim::AutoloaderConfig cfg;
    sim::PrintFileKind print_kind = sim::PrintFileKind::PellanIv;
    std::string print_kind_name;  // "" when the job does not print
    bool printing = false;
    std::string print_path;       // the print file in the world
    std::unique_ptr<sim::Autoloader> machine;
    size_t bin1_start = 0;        // discs in input bin "1" before the job
    std::FILE* transcript = nullptr;
    bool laminator_refused = false;  // the module refused the laminator (robot firmware too old)
    int timed_out_waits = 0;         // the operator went on after a wait for a print timed out
    int wait_listener = 0;
};

// The machine's configuration: the printer the print file is made for, the laminator chosen as a
// first session chooses it, the settings file. A usage error's text, or "".
std::string configure_job(const RunOptions& o, JobWorld& w) {
    w.cfg = job_machine_config(o.machine, o.seed);
    sim::AutoloaderConfig& cfg = w.cfg;
    // The module laminates a recorded disc only on its way from the printer (record and print,
    // 2000): a laminating job without --print prints the Pellan IV file.
    w.print_kind_name = o.print.empty() && o.laminate ? "pellan-iv" : o.print;
    w.printing = !w.print_kind_name.empty() && sim::print_file_kind(w.print_kind_name, &w.print_kind);
    bool printer_named = false;
    for (const auto& [key, value] : cfg.settings) printer_named = printer_named || key == "Printer";
    if (o.laminate) {
        // The laminator is chosen as a first session chooses it: no printer named in the settings
        // file, so start-up shows the printer selection dialog, whose "Use Laminator" the module
        // ticks by itself ("Laminate Disc" not 0, the laminator answering, robot firmware 1.13 or
        // later); the operator picks the disc printer there and clicks OK.
        cfg.laminator = true;
        bool lam_named = false;
        for (const auto& [key, value] : cfg.settings) lam_named = lam_named || key == "Laminate Disc";
        if (!lam_named) cfg.settings.emplace_back("Laminate Disc", "1");
        printer_named = true;  // not written below
    }
    if (w.printing) {
        // The printer the file is made for, unless --printer names one; the settings file names
        // it as the last session's printer unless a --setting does.
        if (cfg.disc_printer.empty()) cfg.disc_printer = sim::print_file_printer(w.print_kind);
        if (!printer_named) cfg.settings.emplace_back("Printer", cfg.disc_printer);
    }
    if ((o.machine.printer_disc_left || o.machine.printer_silent_at >= 0) && cfg.disc_printer.empty())
        return "--printer-disc-left and --printer-silent-at need a disc printer (--print or --printer)";
    // A job's begin clears the laminator only when the module uses it.
    if (o.machine.lam_disc_left && !o.laminate) return "--lam-disc-left needs --laminate";
    if (o.record_print >= 0) cfg.settings.emplace_back("Record-Print", std::to_string(o.record_print));
    cfg.printer_config.print_time = static_cast<sim::Micros>(std::llround(o.print_seconds * 1e6));
    cfg.budget = static_cast<sim::Micros>(std::llround(o.budget_hours * sim::kHour));
    return "";
}

// The operator picks the disc printer and "Use Laminator" in the printer selection dialog, and
// notes when the module refuses the laminator.
void install_laminator_choice(JobWorld& w) {
    sim::World& world = w.machine->world;
    sim::Operator::Rule& choose = world.op()
        .on_dialog(IDD_SELECT_PRINTER)
        .named("choose the disc printer and the laminator")
        .select(IDC_PRINTER_LIST, w.cfg.disc_printer + " on " + w.cfg.disc_printer_port)  // the list's line
        .check(IDC_SELECT_USE_LAMINATOR, true)
        .click(IDOK);
    // When the printers could not be listed the dialog offers none: the operator keeps what it
    // shows (the rules of every run below).
    world.op()
        .on_message_box("Errors enumerating the printers")
        .named("no printers listed")
        .answer(IDOK)
        .then([&choose] { choose.uses_left = 0; });
    // A robot firmware the module reads as older than the laminator needs (its version line
    // damaged at start-up) makes it refuse the laminator: it warns and unticks "Use Laminator"
    // before the operator's OK, and the job records and prints without it.
    bool* refused = &w.laminator_refused;
    world.op()
        .on_message_box("You need to update the firmware of your ZorvikQIX to use the Laminator.")
        .named("laminator refused")
        .answer(IDOK)
        .then([refused] { *refused = true; });
}

// A print that never came (the spooler refused it): the module's wait for it times out and says
// the print may not have completed; the operator goes on, and the disc stays unprinted. Each time
// someone went on so (this rule or an --answer rule) is counted, for the unprinted discs.
void follow_timed_out_waits(JobWorld& w) {
    sim::World& world = w.machine->world;
    world.op().on_message_box("Wait for printing timed out").named("go on without the print").answer(IDRETRY);
    int* waits = &w.timed_out_waits;
    w.wait_listener = world.kernel().transcript().subscribe([waits](const sim::TranscriptEntry& e) {
        if (e.kind == "operator" && e.text.rfind("answers message box ", 0) == 0 &&
            e.text.find("Wait for printing timed out") != std::string::npos &&
            e.text.find("\" with IDRETRY") != std::string::npos)
            ++*waits;
    });
}

// The world of the job, its print file and its operator, the module loaded; nonzero (the exit
// code, after its message) when the options cannot be run.
int build_job_world(const RunOptions& o, JobWorld& w) {
    const std::string refused = configure_job(o, w);
    if (!refused.empty()) return usage_error("run", refused);
    w.machine = std::make_unique<sim::Autoloader>(w.cfg);
    sim::Autoloader& machine = *w.machine;
    w.bin1_start = machine.robot->count_at("1");
    if (w.printing) {
        // Every disc gets the same file, made with the printer's own ink use per disc.
        sim::PrintFileRecipe recipe;
        recipe.kind = w.print_kind;
        recipe.use = w.cfg.printer_config.ink_per_print;
        w.print_path = print_file_path(w.print_kind);
        machine.world.files().mkdir("C:\\Labels");
        machine.world.files().write_file(w.print_path, sim::make_print_file(recipe));
    }
    for (const std::string& path : {o.timeline_path, o.module_log_path})
        if (!path.empty() && !std::ofstream(path, std::ios::app)) return usage_error("run", "cannot write '" + path + "'");
    if (o.transcript_held) machine.world.kernel().transcript().set_retained(o.transcript_held);
    // The transcript goes to its file as it is written (the world holds only its recent part).
    if (!o.transcript_path.empty()) {
        w.transcript = open_output("run", "--transcript", o.transcript_path);
        if (!w.transcript) return 1;
        machine.world.kernel().transcript().stream_to(w.transcript);
    }
    apply_machine_faults(o.machine, machine);
    install_answers(machine.world, machine.robot, o.answers);
    if (o.laminate) install_laminator_choice(w);
    follow_timed_out_waits(w);
    sim::install_default_operator(machine, w.printing);
    machine.world.load_module();
    return 0;
}

// The recording host of the job.
sim::RecordingHostConfig host_config(const RunOptions& o, const JobWorld& w) {
    sim::RecordingHostConfig hc;
    hc.discs = static_cast<int>(o.discs);
    hc.record_time = static_cast<sim::Micros>(std::llround(o.record_seconds * 1e6));
    hc.fail_rate = o.fail_rate;
    hc.print_file = w.print_path;
    hc.record_print = o.record_print != 0;  // the module reads 1 when the key is not written
    if (o.laminate) {
        // The last printed disc of a batch goes on through the laminator before its output bin:
        // heater, tray in, laminating, tray out, and the arm's carries.
        const sim::LaminatorConfig& lc = w.cfg.laminator_config;
        hc.print_carry_time += lc.warm_up_time + lc.tray_in_time + lc.laminate_time + 2 * lc.tray_out_time + 10 * sim::kSecond;
    }
    return hc;
}

// --- run: the host's job in the world -------------------------------------------------------------

// What the run measured.
struct JobRun {
    sim::RecordingHostResult host;
    sim::RunResult result;
    sim::Micros record_time = 0;
    sim::Micros busy = 0;            // the arm's busy time
    double wall = 0;                 // wall seconds the world ran
    bool transcript_lost = false;    // the transcript file could not be written all through
    std::map<std::string, int> fired;  // the faults that fired, by kind
    size_t answers = 0;              // the operator's answers
};

// The progress bar is drawn from the host's poll rounds; the wire is printed as the robot
// receives each command, on stderr with --json so that standard output holds the JSON alone.
JobRun run_job(const RunOptions& o, JobWorld& w) {
    sim::Autoloader& machine = *w.machine;
    const bool draw_bar = isatty(STDOUT_FILENO) && isatty(STDERR_FILENO);
    ProgressBar bar(static_cast<int>(o.discs));
    FILE* wire_out = o.json ? stderr : stdout;
    const sim::RecordingHost* host_seen = nullptr;
    if (o.wire)
        machine.robot->on_received([&](const sim::ReceivedCommand& c) {
            if (c.kind == sim::ReceivedCommand::Kind::Command && c.text == "_SI") return;
            if (draw_bar) std::fputs("\r\033[K", stderr);  // the bar is drawn again below the line
            std::fprintf(wire_out, "%s\n", c.line().c_str());
        });
    sim::RecordingHostConfig hc = host_config(o, w);
    hc.on_progress = [&] {
        if (draw_bar && host_seen)
            bar.update(host_seen->discs_finished(), sim::kernel().now() - host_seen->result().started, false);
    };
    apply_job_faults(o.faults, machine, &hc);
    FiredFaults fired(machine.world);
    sim::RecordingHost host(machine, hc);
    host_seen = &host;

    JobRun run;
    const auto wall_start = std::chrono::steady_clock::now();
    sim::SimThread* host_thread = machine.world.spawn("host", [&host] { host.run(); });
    run.result = machine.world.run([host_thread] { return host_thread->state == sim::ThreadState::Finished; });
    run.busy = machine.robot->busy_time();
    if (run.result.ok()) run.result = machine.settle();
    run.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wall_start).count();
    if (draw_bar) bar.update(host.discs_finished(), machine.world.kernel().now() - host.result().started, true);
    machine.world.kernel().transcript().stop_streaming();
    // A transcript that could not be written all through fails the run (after its summary).
    run.transcript_lost = w.transcript && !close_output("run", "--transcript", o.transcript_path, w.transcript);
    machine.world.kernel().transcript().unsubscribe(w.wait_listener);
    run.host = host.result();
    run.record_time = hc.record_time;
    run.fired = fired.counts();
    run.answers = machine.world.op().answers_given();
    return run;
}

// --- judge: what the job came to ------------------------------------------------------------------

struct JobJudgement {
    DiscCount count;
    sim::JobFacts facts;
    std::string broken;              // the broken invariants and checks ("" when they hold)
    sim::Verdict verdict = sim::Verdict::Completed;
    size_t bin1_left = 0;
    sim::Micros duration = 0;
    double per_hour = 0, busy_share = 0, virtual_seconds = 0, ratio = 0;
    FailCall fail;                   // --fail-call, and the counter of its family (nullptr: none)
    const sim::FaultCounter* fault_counter = nullptr;
};

JobJudgement judge_job(const RunOptions& o, JobWorld& w, const JobRun& run) {
    sim::Autoloader& machine = *w.machine;
    const sim::RecordingHostResult& r = run.host;
    JobJudgement j;
    j.count = sim::count_discs(machine, machine.laminator.get(), w.timed_out_waits, r.job_aborted);
    // Input bin "1" stands where the laminator's tray is: a laminating job never picks from it.
    j.bin1_left = machine.robot->count_at("1");
    j.facts.seed = o.seed;
    j.facts.discs = static_cast<int>(o.discs);
    j.facts.printing = w.printing;
    j.facts.laminate = o.laminate;
    j.facts.laminating = o.laminate && !w.laminator_refused;  // unless the module refused it
    j.facts.aborted = r.job_aborted;
    j.facts.ended = r.ended;
    j.facts.end_took = r.end_took;
    j.facts.bin1_start = w.bin1_start;
    j.facts.bin1_left = j.bin1_left;
    const sim::Micros end = r.finished ? r.finished : machine.world.kernel().now();
    j.duration = end - r.started;
    const double hours = static_cast<double>(j.duration) / sim::kHour;
    j.per_hour = hours > 0 ? j.count.finished() / hours : 0;
    j.busy_share = j.duration ? std::min(1.0, static_cast<double>(run.busy) / j.duration) : 0;
    j.virtual_seconds = static_cast<double>(j.duration) / sim::kSecond;
    j.ratio = run.wall > 0 ? j.virtual_seconds / run.wall : 0;
    // The family of calls --fail-call armed: how many of its calls the run made and how many failed.
    if (parse_fail_call(o.machine.fail_call, &j.fail))
        j.fault_counter = fail_call_counter(machine.world, j.fail.kind);
    if (run.result.ok()) {
        j.broken = machine.check_invariants(r.ended, r.ended_mid_job);
        if (j.broken.empty()) j.broken = sim::job_checks(j.count, j.facts);
    }
    j.verdict = sim::verdict_of(run.result.ok(), j.broken, r.job_aborted);
    return j;
}

std::string transcript_hash_text(const sim::World& world) {
    char hash[20];
    std::snprintf(hash, sizeof hash, "%016" PRIx64, world.transcript_hash());
    return hash;
}

// --- report ---------------------------------------------------------------------------------------

nlohmann::ordered_json printing_json(const JobWorld& w, const JobRun& run, const DiscCount& count) {
    const sim::DiscPrinter* printer = w.machine->printer.get();
    nlohmann::ordered_json j;
    j["print_file"] = w.print_path;
    j["valid_print"] = run.host.valid_print;
    j["prints_posted"] = run.host.prints_posted;
    j["prints"] = printer ? printer->prints() : 0;
    j["blank_prints"] = printer ? printer->blank_prints() : 0;
    j["failed_prints"] = printer ? printer->failed_prints() : 0;
    j["unprinted"] = count.unprinted;
    j["unprinted_why"] = {{"print_failed", count.unprinted_for(Unprinted::PrintFailed)},
                          {"wait_timed_out", count.unprinted_for(Unprinted::WaitTimedOut)},
                          {"job_aborted", count.unprinted_for(Unprinted::JobAborted)},
                          {"unaccounted", count.unprinted_for(Unprinted::Unaccounted)}};
    nlohmann::ordered_json discs_why = nlohmann::ordered_json::object();
    for (const auto& [id, why] : count.unprinted_discs) discs_why[std::to_string(id)] = sim::unprinted_text(why);
    j["unprinted_discs"] = discs_why;
    j["ink_used"] = printer ? printer->ink_used() : sim::InkCounters{};
    j["print_batches"] = run.host.print_batches;
    j["prints_joined"] = run.host.prints_joined;
    j["print_waits"] = run.host.print_waits;
    return j;
}

void report_json(const RunOptions& o, const JobWorld& w, const JobRun& run, const JobJudgement& jd) {
    const sim::Autoloader& machine = *w.machine;
    const DiscCount& count = jd.count;
    const sim::RecordingHostResult& r = run.host;
    nlohmann::ordered_json j;
    j["outcome"] = sim::verdict_text(jd.verdict);
    j["exit_code"] = sim::exit_code(jd.verdict);
    j["seed"] = o.seed;
    j["drives"] = o.machine.drives;
    j["record_time_s"] = o.record_seconds;
    j["fail_rate"] = o.fail_rate;
    j["discs_requested"] = o.discs;
    j["in_output_bins"] = count.in_output_bins;
    j["output_bins"] = count.output_bins;
    if (count.blank_taken_back) j["blank_taken_back"] = count.blank_taken;
    j["rejected"] = {{"G", count.at_g}, {"H", count.at_h}, {"emptied_by_operator", count.removed}};
    j["lost"] = count.lost;
    j["left_in_machine"] = count.left_in_machine;
    if (count.found) {
        j["found_in_machine"] = count.found;
        j["found_rejected"] = count.found_rejected;
    }
    j["operator_answers"] = run.answers;
    if (jd.fault_counter)
        j["fail_call"] = {{"call", fail_call_text(jd.fail)}, {"calls", jd.fault_counter->calls()}, {"fired", jd.fault_counter->fired()}};
    if (w.printing) {
        const nlohmann::ordered_json printing = printing_json(w, run, count);
        for (const auto& [key, value] : printing.items()) j[key] = value;
    }
    if (o.laminate) {
        j["laminations"] = machine.laminator->laminations();
        j["ribbon_left"] = machine.laminator->ribbon_left();
        j["laminations_left"] = machine.laminator->laminations_left();
        j["input_bin_1_picked"] = w.bin1_start - jd.bin1_left;
        j["laminator_refused"] = w.laminator_refused;
    }
    j["moves"] = {{"loads", r.loads_posted},     {"unloads", r.unloads_posted}, {"rejects", r.rejects_posted},
                  {"done", r.moves_done},        {"aborted", r.moves_aborted},  {"unfinished", r.moves_unfinished}};
    j["virtual_seconds"] = rounded(jd.virtual_seconds, 3);
    j["discs_per_hour"] = rounded(jd.per_hour, 2);
    j["arm_busy_share"] = rounded(jd.busy_share, 4);
    j["transcript_hash"] = transcript_hash_text(machine.world);
    j["invariants_broken"] = jd.broken;
    if (!run.result.ok()) j["world_report"] = run.result.report;
    j["faults_fired"] = run.fired;
    j["wall_seconds"] = rounded(run.wall, 3);
    j["wall_ratio"] = rounded(jd.ratio, 1);
    std::printf("%s\n", j.dump(2).c_str());
}

// The printing lines of the summary: the file, the prints, the ink, the unprinted discs and why.
void report_printing_text(const JobWorld& w, const JobRun& run, const DiscCount& count) {
    const sim::DiscPrinter* printer = w.machine->printer.get();
    const sim::RecordingHostResult& r = run.host;
    std::printf("  print file         %s (%s on \"%s\")%s\n", w.print_path.c_str(), w.print_kind_name.c_str(),
                w.cfg.disc_printer.c_str(), r.valid_print == 1 ? "" : "  refused by the module");
    const uint32_t prints = printer ? printer->prints() : 0;
    const uint32_t blank = printer ? printer->blank_prints() : 0;
    std::printf("  prints made        %u%s  (posted %d in %d batches, %d waiting for \"XFER:\"; "
                "discs held in their recorder %d times)\n",
                prints, blank ? (" (" + std::to_string(blank) + " on nothing)").c_str() : "", r.prints_posted,
                r.print_batches, r.prints_joined, r.print_waits);
    std::string ink;
    if (printer)
        for (uint32_t u : printer->ink_used()) ink += (ink.empty() ? "" : " ") + std::to_string(u);
    std::printf("  ink used           %s\n", ink.c_str());
    // Discs on the output stacks without a print, and why: "disc 97: print failed".
    std::string list;
    for (size_t i = 0; i < count.unprinted_discs.size() && i < 8; ++i)
        list += std::string(list.empty() ? "" : ", ") + "disc " + std::to_string(count.unprinted_discs[i].first) +
                ": " + sim::unprinted_text(count.unprinted_discs[i].second);
    if (count.unprinted_discs.size() > 8) list += ", ...";
    std::printf("  unprinted          %d%s\n", count.unprinted, list.empty() ? "" : ("  (" + list + ")").c_str());
}

// Where the discs went: the first lines of the summary.
void report_discs_text(const RunOptions& o, const JobRun& run, const JobJudgement& jd) {
    const DiscCount& count = jd.count;
    const char* headline = jd.verdict == sim::Verdict::Completed ? "job completed"
                           : jd.verdict == sim::Verdict::Aborted ? "job aborted"
                           : jd.verdict == sim::Verdict::WorldStopped ? "the world stopped"
                                                                      : "an invariant broke";
    std::printf("%s: %d discs, %d drives, %s recordings, fail rate %g, seed %" PRIu64 "\n", headline,
                static_cast<int>(o.discs), static_cast<int>(o.machine.drives), clock_text(run.record_time).c_str(),
                o.fail_rate, o.seed);
    std::string bins;
    for (const auto& [stack, n] : count.output_bins) bins += (bins.empty() ? "" : ", ") + stack + ": " + std::to_string(n);
    std::printf("  discs requested    %d\n", static_cast<int>(o.discs));
    std::printf("  in output bins     %d%s\n", count.in_output_bins, bins.empty() ? "" : ("  (" + bins + ")").c_str());
    if (count.blank_taken_back) {
        std::string off;
        for (const auto& [stack, n] : count.blank_taken) off += (off.empty() ? "" : ", ") + stack + ": " + std::to_string(n);
        std::printf("  blank taken back   %d  (%s; not counted as output)\n", count.blank_taken_back, off.c_str());
    }
    std::printf("  rejected           %d  (G %d, H %d, emptied by the operator %d)\n", count.rejected(), count.at_g,
                count.at_h, count.removed);
    std::printf("  lost               %d\n", count.lost);
    if (count.left_in_machine) std::printf("  left in machine    %d\n", count.left_in_machine);
    if (count.found)
        std::printf("  found in machine   %d  (left there before the job; %d of them rejected)\n", count.found,
                    count.found_rejected);
}

void report_text(const RunOptions& o, const JobWorld& w, const JobRun& run, const JobJudgement& jd) {
    const sim::Autoloader& machine = *w.machine;
    const sim::RecordingHostResult& r = run.host;
    report_discs_text(o, run, jd);
    std::printf("  operator answers   %zu\n", run.answers);
    if (jd.fault_counter)
        std::printf("  injected faults    %lu  (--fail-call %s; %lu %s calls made)\n",
                    static_cast<unsigned long>(jd.fault_counter->fired()), fail_call_text(jd.fail).c_str(),
                    static_cast<unsigned long>(jd.fault_counter->calls()), jd.fail.kind.c_str());
    if (w.printing) report_printing_text(w, run, jd.count);
    if (o.laminate)
        std::printf("  laminations        %u  (ribbon left %u, %u laminations; input bin 1 picked from %zu times)\n",
                    machine.laminator->laminations(), machine.laminator->ribbon_left(),
                    machine.laminator->laminations_left(), w.bin1_start - jd.bin1_left);
    if (w.laminator_refused)
        std::printf("  laminator refused  the robot firmware read as too old; the job ran without it\n");
    if (!run.fired.empty()) {
        std::string list;
        for (const auto& [kind, n] : run.fired) list += (list.empty() ? "" : ", ") + kind + " " + std::to_string(n);
        std::printf("  faults fired       %s\n", list.c_str());
    }
    if (r.host_aborted) std::printf("  the host aborted the job\n");
    if (r.ended_mid_job) std::printf("  the host ended the module mid-job (Rovane_End took %.3f s)\n",
                                     static_cast<double>(r.end_took) / sim::kSecond);
    std::printf("  virtual duration   %s\n", clock_text(jd.duration).c_str());
    std::printf("  discs per hour     %.1f\n", jd.per_hour);
    std::printf("  arm busy           %.1f %%\n", jd.busy_share * 100);
    std::printf("  wall time          %.3f s\n", run.wall);
    std::printf("  virtual/wall       %.0fx\n", jd.ratio);
}

void fill_outcome(const JobWorld& w, const JobRun& run, const JobJudgement& jd, RunOutcome* out) {
    out->exit_code = sim::exit_code(jd.verdict);
    out->outcome = sim::verdict_text(jd.verdict);
    out->broken = !run.result.ok() ? run.result.report : jd.broken;
    out->fired = run.fired;
    if (run.host.host_aborted) out->fired["host aborted the job"] = 1;
    if (run.host.ended_mid_job) out->fired["Rovane_End mid-job"] = 1;
    out->fault_calls = jd.fault_counter ? jd.fault_counter->calls() : 0;
    out->faults_fired = jd.fault_counter ? jd.fault_counter->fired() : 0;
    out->transcript_hash = transcript_hash_text(w.machine->world);
}

// The module's own log, read out of the world's data folder: copied out, and made into the page
// that rovane-log makes from a machine's log. False when a file could not be written.
bool write_job_files(const RunOptions& o, const JobWorld& w, const JobJudgement& jd) {
    bool written = true;
    if (o.module_log_path.empty() && o.timeline_path.empty()) return true;
    std::string module_log;
    w.machine->world.files().read_file(std::string(kDataFolder) + "Rovane_QIX.dbg", &module_log);
    if (!o.module_log_path.empty()) {
        std::ofstream copy(o.module_log_path, std::ios::binary | std::ios::trunc);
        copy << module_log;
        copy.close();
        if (!copy) {
            std::fprintf(stderr, "rovane-sim run: cannot write the module's log to '%s'\n", o.module_log_path.c_str());
            written = false;
        }
    }
    if (!o.timeline_path.empty()) {
        logview::PageOptions page;
        page.title = "rovane-sim run: " + std::to_string(o.discs) + " discs, " + std::to_string(o.machine.drives) +
                     " drives, seed " + std::to_string(o.seed) + " (" + sim::verdict_text(jd.verdict) + ")";
        page.source = std::string(kDataFolder) + "Rovane_QIX.dbg in the simulated world";
        const logview::LogSummary summary = logview::summarize(logview::read_log(module_log));
        std::string error;
        if (!logview::write_page_file(o.timeline_path, logview::timeline_page(summary, page), &error)) {
            std::fprintf(stderr, "rovane-sim run: %s\n", error.c_str());
            written = false;
        }
    }
    return written;
}

// The run's last words on stderr: why the world stopped, the broken invariants, or those that held.
void report_invariants(const RunOptions& o, const JobRun& run, const JobJudgement& jd) {
    if (!run.result.ok())
        std::fprintf(stderr, "rovane-sim run: the world stopped: %s\nseed %" PRIu64 " replays this run\n",
                     run.result.report.c_str(), o.seed);
    else if (!jd.broken.empty())
        std::fprintf(stderr, "rovane-sim run: invariants broken:\n%s", jd.broken.c_str());
    else
        std::fprintf(stderr, "invariants hold: %s; seed %" PRIu64 " replays this run\n",
                     sim::invariants_held(jd.count, jd.facts).c_str(), o.seed);
}

}  // namespace

int run_recording_job(const RunOptions& o, RunOutcome* outcome_out) {
    JobWorld w;
    if (const int refused = build_job_world(o, w)) return refused;
    const JobRun run = run_job(o, w);
    const JobJudgement judgement = judge_job(o, w, run);
    if (o.json)
        report_json(o, w, run, judgement);
    else
        report_text(o, w, run, judgement);
    std::fflush(stdout);
    if (outcome_out) fill_outcome(w, run, judgement, outcome_out);
    int exit_code = sim::exit_code(judgement.verdict);
    // An output file that could not be written fails a run that would have passed (after its summary).
    const bool written = write_job_files(o, w, judgement);
    if ((run.transcript_lost || !written) && exit_code == 0) exit_code = sim::exit_code(sim::Verdict::UsageError);
    report_invariants(o, run, judgement);
    return exit_code;
}

const char* const kPrintHelp =
    "record and print every disc: the tool writes a print file of this KIND into the world and the host sends "
    "each well recorded disc through the printer with it (see below)";

void add_run_flags(CLI::App* c, RunOptions* o) {
    add_stated(c, "--discs", o->discs, "discs the job records (default 20)")->type_name("N")->check(whole_number(1, 10000));
    add_stated(c, "--record-time", o->record_seconds, "how long a recording keeps a disc in its recorder (default 240)")
        ->type_name("SECONDS")
        ->check(seconds(0, 86400));
    add_stated(c, "--fail-rate", o->fail_rate, "probability that a recording fails and its disc is rejected (default 0)")
        ->type_name("P")
        ->check(probability());
    add_stated(c, "--print", o->print, kPrintHelp)
        ->type_name("KIND")
        ->check(CLI::Validator(
            [](std::string& t) -> std::string {
                sim::PrintFileKind k;
                return sim::print_file_kind(t, &k) ? "" : "takes a print file kind (see below), not '" + t + "'";
            },
            ""));
    add_stated_flag(c, "--laminate", o->laminate,
                    "laminate every disc: the laminator is installed and chosen at start-up, and every disc goes "
                    "through the printer and the laminator (--print pellan-iv unless --print says otherwise)");
    add_stated(c, "--record-print", o->record_print, "\"Record-Print\" in the settings file: 1 frees a recorder as soon as "
               "its disc is picked, 0 after the disc is printed and in its output bin (default: not written, 1)")
        ->type_name("0|1")
        ->check(whole_number(0, 1));
    add_stated(c, "--print-time", o->print_seconds, "how long the disc printer prints one label (default 40)")
        ->type_name("SECONDS")
        ->check(seconds(1, 3600));
    add_stated(c, "--seed", o->seed, "the world's seed (default 1): the same seed runs the same job")
        ->type_name("N")
        ->check(whole_number());
    add_machine_flags(c, &o->machine, true);
    adapt_for_jobs(c);
    add_job_fault_flags(c, &o->faults);
    add_stated(c, "--budget", o->budget_hours, "hours of virtual time after which the run stops (default 48)")
        ->type_name("HOURS")
        ->check(hours(0.01, 1000));
    add_stated(c, "--answer", o->answers, kAnswerHelp)->type_name("PATTERN=BUTTON")->allow_extra_args(false)->check(answer_rule());
    add_stated_flag(c, "--json", o->json, "print the summary as one JSON object");
    add_stated_flag(c, "--wire", o->wire, "print the robot's commands (other than _SI) as they arrive (on stderr with --json)");
    add_stated(c, "--transcript", o->transcript_path, "write the run's transcript to FILE")
        ->type_name("FILE")
        ->check(not_empty("a file name"));
    add_stated(c, "--timeline", o->timeline_path, "write a page with the timeline of the module's log to FILE (see rovane-log)")
        ->type_name("FILE.html")
        ->check(not_empty("a file name"));
    add_stated(c, "--module-log", o->module_log_path, "copy the module's log (Rovane_QIX.dbg) out of the world to FILE")
        ->type_name("FILE")
        ->check(not_empty("a file name"));
}

Command add_run_command(CLI::App& tool) {
    auto o = std::make_shared<RunOptions>();
    CLI::App* c = tool.add_subcommand("run", "A recording host's whole job on the virtual autoloader, with a summary.");
    c->footer(
        "Builds a world with a whole autoloader — a QIX on COM1, its recorders in positions A.., 25\n"
        "blank discs in each input bin 4, 2, 5 and 1 — and a recording host that loads the module\n"
        "and runs a job of N discs through its exports: it keeps every recorder busy (load, record\n"
        "for --record-time, unload, or reject when the recording failed), polls each move every\n"
        "500 ms, ends the job and the module. A person at the machine refills an empty input bin\n"
        "(taking the finished discs off the output stacks first, and any blank discs left on them\n"
        "in a bin the module passed over; in a printing job a recorded disc without its label may\n"
        "be waiting there for its print, and goes back on its stack), presses Pick after a failed\n"
        "pick, empties full reject positions and answers Retry; the --answer rules come first.\n"
        "\n"
        "The module empties its command queue (160 entries) only when its send thread runs dry.\n"
        "Recordings shorter than a round of loads (about a minute with four drives) keep it busy\n"
        "for good, and the queue overflows: the module says so and aborts the job, as it would on a\n"
        "real machine.\n"
        "\n"
        "With --print KIND the job also prints: the tool generates a print file of that kind at\n"
        "C:\\Labels\\KIND.PRN (label: C:\\Labels\\label.STD): pellan-iv, pellan-pro,\n"
        "optical-disc-printer, varrow, varrow-2, tessik-6, label, or the broken short and wrong;\n"
        "and the host checks it with Rovane_CheckValidPrint before the job, then posts\n"
        "Rovane_PostMoveAndPrint (2000) instead of an unload after every good recording, keeping a\n"
        "recorded disc waiting while four of its prints have not started (Rovane_CheckPrinting).\n"
        "The disc printer is the one the file is made for (\"Pellan IV\" for label and broken\n"
        "files) unless --printer names another, and the settings file names it as the chosen\n"
        "printer. It prints for --print-time and pushes the disc out. The summary adds the prints\n"
        "made, the ink used (six counters, printer units) and the discs on the output stacks that\n"
        "carry no print, each with why: its print failed (the printer stopped with its error, or\n"
        "fell silent, and the operator went on), or no print came and the operator went on when\n"
        "the module's wait for it timed out, or the job was aborted before the disc reached the\n"
        "printer (it waited on its return bin for its turn). No disc may be printed twice, and an\n"
        "unprinted disc with none of these reasons breaks the invariants.\n"
        "\n"
        "--printer-disc-left and --lam-disc-left leave a disc inside the printer or the laminator\n"
        "when the world starts; the job's begin has it taken out to reject G. The summary counts it\n"
        "as found in the machine and among the rejects, apart from the job's discs.\n"
        "\n"
        "With --laminate the laminator \"Disc Laminator\" is installed (its tray at the robot's position\n"
        "E, where input bin 1 would be) and chosen as a first session chooses it: the settings file\n"
        "names no printer and holds \"Laminate Disc\" 1, so start-up shows the printer selection\n"
        "dialog with \"Use Laminator\" ticked by the module; the operator picks the disc printer and\n"
        "clicks OK. The module then uses three input bins (4, 2, 5; bin 1 is never picked from) and\n"
        "sends every printed disc through the laminator. It laminates a recorded disc only on its way\n"
        "from the printer (Rovane_PostMoveAndPrint 2000), so --laminate without --print prints the\n"
        "pellan-iv file too. The operator clears laminator errors at the laminator and puts back a\n"
        "disc that fell off its tray. The summary adds the laminations, the ribbon left and the picks\n"
        "from bin 1; every disc on the output stacks must have been laminated once.\n"
        "\n"
        "On a terminal a progress bar on stderr shows the discs done, the virtual time and an\n"
        "estimate of the virtual time left. The summary: discs requested, in output bins (recorded\n"
        "discs on stacks 1 to 5 or lifted off them by the operator; blank discs taken back off a\n"
        "stack are counted apart, as \"blank taken back\"), rejected (G, H), lost, operator\n"
        "answers, virtual duration, discs per hour, the share of the time\n"
        "the arm was busy, the wall time and how much faster than real time the world ran. Then,\n"
        "on stderr, the run's invariants and the seed that replays the run. A run stops after 48\n"
        "hours of virtual time (--budget HOURS).\n"
        "\n"
        "Exit 0 when the job ended with every disc accounted for, 2 when it was aborted, 3 when the\n"
        "world stopped (a window nobody answered, a deadlock, the time budget), 4 when an invariant\n"
        "broke, 1 on a usage error or when an output file (--transcript, --timeline, --module-log,\n"
        "standard output) could not be written.");
    add_run_flags(c, o.get());
    return {c, [o] { return run_recording_job(*o); }};
}

}  // namespace rovane_tool
