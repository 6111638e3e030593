// rovane-sim run: a recording host's whole job on the virtual autoloader. The host loads the
// module, begins a job of N discs, keeps every recorder busy (load, record, unload or reject),
// polls every move until it is over, ends the job and the module; a person stands at the machine
// and does what a careful operator does. The tool prints what the job came to.
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

#include "harness/autoloader.h"
#include "harness/print_files.h"
#include "harness/recording_host.h"
#include "kernel/kernel.h"
#include "logview/job_summary.h"
#include "logview/timeline_page.h"
#include "resources/resource.h"
#include "tool_commands.h"
#include "win32/files.h"
#include "world/operator.h"

namespace rovane_tool {

namespace {

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

// Why a recorded disc on the output stacks of a printing job carries no print.
enum class Unprinted {
    PrintFailed,    // its print failed (the printer stopped with its error, or fell silent)
    WaitTimedOut,   // it was on the printer's tray, no print came, and the operator went on when
                    // the module's wait for the print timed out
    JobAborted,     // it never reached the printer's tray, and the job was aborted: a disc whose
                    // request joined a batch waits on its return bin (an output stack) until the
                    // batch's first print brings it to the printer ("XFER:"), and an abort leaves
                    // it there
    Unaccounted,    // none of these: a disc that should have been printed and was not
};
const char* unprinted_text(Unprinted why) {
    switch (why) {
        case Unprinted::PrintFailed: return "print failed";
        case Unprinted::WaitTimedOut: return "no print came, the wait for it timed out";
        case Unprinted::JobAborted: return "job aborted before it reached the printer";
        case Unprinted::Unaccounted: return "unaccounted";
    }
    return "?";
}

// Where the job's discs ended up. A disc of the job is one that has been recorded; blank discs
// still on the input stacks are not counted, nor are blank discs the operator took back off a
// stack (an input bin that doubles as an output stack, which the module passed over after a
// false "input empty"), and discs the world left in the machine before the job (found_discs) are
// counted apart.
struct DiscCount {
    std::map<std::string, int> output_bins;   // recorded discs on stacks "1".."5" or taken off them, by stack
    int in_output_bins = 0;
    std::map<std::string, int> blank_taken;   // blank discs the operator took off stacks "1".."5", by stack
    int blank_taken_back = 0;
    int at_g = 0, at_h = 0;
    int removed = 0;         // taken off the reject positions by the operator
    int lost = 0;
    int left_in_machine = 0; // in a recorder, the picker, the printer or the laminator
    int printed_twice = 0;    // recorded discs of the output stacks printed more than once
    int unprinted = 0;        // ... not printed
    std::vector<std::pair<sim::DiscId, Unprinted>> unprinted_discs;  // each, with why
    std::map<Unprinted, int> unprinted_why;
    int not_laminated_once = 0;  // ... laminated other than once
    int from_bin_1 = 0;       // discs of the job picked from input bin "1"
    int found = 0;            // discs found in the machine at the start
    int found_rejected = 0;   // ... now at a reject position or taken off one
    std::string found_elsewhere;  // "disc 3 at E" for each found disc anywhere else
};

// `timed_out_waits`: the times the operator went on after the module's wait for a print timed out.
DiscCount count_discs(const sim::Autoloader& machine, const sim::Laminator* lam, int timed_out_waits, bool job_aborted) {
    const sim::Robot& robot = *machine.robot;
    const sim::DiscPrinter* printer = machine.printer.get();
    DiscCount c;
    // A recorded disc of an output stack, whether it is still there or the operator lifted it off:
    // counted in its stack, and checked for its print and its lamination.
    const auto output_disc = [&](const std::string& stack, const sim::Disc& disc) {
        const sim::DiscId id = disc.id;
        ++c.output_bins[stack];
        ++c.in_output_bins;
        if (disc.prints > 1) ++c.printed_twice;
        if (disc.prints == 0) {
            ++c.unprinted;
            Unprinted why = Unprinted::Unaccounted;
            if (printer && printer->failed_print_count(id)) {
                why = Unprinted::PrintFailed;
            } else if (printer && printer->had_on_tray(id) && timed_out_waits > 0) {
                --timed_out_waits;
                why = Unprinted::WaitTimedOut;
            } else if (job_aborted && !(printer && printer->had_on_tray(id))) {
                why = Unprinted::JobAborted;
            }
            c.unprinted_discs.emplace_back(id, why);
            ++c.unprinted_why[why];
        }
        if (lam && lam->lamination_count(id) != 1) ++c.not_laminated_once;
    };
    for (const sim::Autoloader::TakenDisc& t : machine.taken_discs()) {
        if (!std::strchr("12345", t.place)) continue;
        const std::string stack(1, t.place);
        const auto disc = robot.disc(t.id);
        if (disc && disc->recorded) {
            output_disc(stack, *disc);
        } else {
            ++c.blank_taken[stack];
            ++c.blank_taken_back;
        }
    }
    for (const char* stack : {"1", "2", "3", "4", "5"})
        for (sim::DiscId id : robot.discs_at(stack)) {
            const auto disc = robot.disc(id);
            if (disc && disc->recorded) output_disc(stack, *disc);
        }
    c.at_g = static_cast<int>(robot.count_at("G"));
    c.at_h = static_cast<int>(robot.count_at("H"));
    const std::map<char, size_t>& taken = machine.taken_by_operator();
    for (char reject : {'G', 'H'})
        if (taken.count(reject)) c.removed += static_cast<int>(taken.at(reject));
    c.lost = static_cast<int>(robot.lost().size());
    for (const char* place : {"A", "B", "C", "D", "picker", "S", "E"})
        c.left_in_machine += static_cast<int>(robot.count_at(place));
    for (const sim::Autoloader::FoundDisc& f : machine.found_discs()) {
        ++c.found;
        const std::string place = robot.place_of(f.id);
        if (place == "G" || place == "H" || (place == "removed" && f.taken_from && std::strchr("GH", f.taken_from))) {
            ++c.found_rejected;
        } else {
            c.found_elsewhere += (c.found_elsewhere.empty() ? "" : ", ") + std::string("disc ") + std::to_string(f.id) +
                                 " at " + place;
            if (place.size() == 1 && std::strchr("ABCDSE", place[0])) --c.left_in_machine;  // counted apart
            if (place == "picker") --c.left_in_machine;
        }
    }
    return c;
}

// The invariants a run that passed its checks has shown to hold, in words.
std::string invariants_held(const DiscCount& c, bool printing, bool laminating, bool aborted) {
    std::string text = "no disc lost or duplicated";
    if (!aborted) text += ", every disc of the job in an output bin or rejected";
    if (c.found && !aborted) text += c.found == 1 ? ", the disc found in the machine rejected" : ", the discs found in the machine rejected";
    if (printing) {
        text += ", no disc printed twice";
        if (!c.unprinted) {
            text += ", every disc on the output stacks printed";
        } else {
            text += ", " + std::to_string(c.unprinted) + " on the output stacks unprinted, each accounted for (";
            bool first = true;
            for (const auto& [why, n] : c.unprinted_why) {
                text += std::string(first ? "" : ", ") + unprinted_text(why) + " " + std::to_string(n);
                first = false;
            }
            text += ")";
        }
    }
    if (laminating && !aborted) text += ", every disc on the output stacks laminated once";
    return text + ", no thread of the module left running";
}

// The longest Rovane_End may take: ten one-second waits for the module's threads, then they are
// ended; the reset is written without waiting for a reply.
constexpr sim::Micros kEndBound = 12 * sim::kSecond;
// With the laminator in use it first brings the laminator's tray out, which waits for a
// lamination in progress to finish.
constexpr sim::Micros kEndBoundLaminating = kEndBound + 45 * sim::kSecond;

// Where the tool puts the print file it generates into the world.
std::string print_file_path(sim::PrintFileKind kind) {
    return std::string("C:\\Labels\\") + sim::print_file_kind_name(kind) + "." + sim::print_file_extension(kind);
}

}  // namespace

int run_recording_job(const RunOptions& o, RunOutcome* outcome_out) {
    const int discs = static_cast<int>(o.discs);
    // The robot on --port, and the settings file naming that port, as the options dialog leaves it.
    sim::AutoloaderConfig cfg = job_machine_config(o.machine, o.seed);
    sim::PrintFileKind print_kind = sim::PrintFileKind::PellanIv;
    // The module laminates a recorded disc only on its way from the printer (record and print,
    // 2000): a laminating job without --print prints the Pellan IV file.
    const std::string print_kind_name = o.print.empty() && o.laminate ? "pellan-iv" : o.print;
    const bool printing = !print_kind_name.empty() && sim::print_file_kind(print_kind_name, &print_kind);
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
    if (printing) {
        // The printer the file is made for, unless --printer names one; the settings file names
        // it as the last session's printer unless a --setting does.
        if (cfg.disc_printer.empty()) cfg.disc_printer = sim::print_file_printer(print_kind);
        if (!printer_named) cfg.settings.emplace_back("Printer", cfg.disc_printer);
    }
    if ((o.machine.printer_disc_left || o.machine.printer_silent_at >= 0) && cfg.disc_printer.empty())
        return usage_error("run", "--printer-disc-left and --printer-silent-at need a disc printer (--print or --printer)");
    // A job's begin clears the laminator only when the module uses it.
    if (o.machine.lam_disc_left && !o.laminate) return usage_error("run", "--lam-disc-left needs --laminate");
    if (o.record_print >= 0) cfg.settings.emplace_back("Record-Print", std::to_string(o.record_print));
    cfg.printer_config.print_time = static_cast<sim::Micros>(std::llround(o.print_seconds * 1e6));
    cfg.budget = static_cast<sim::Micros>(std::llround(o.budget_hours * sim::kHour));
    sim::Autoloader machine(cfg);
    const size_t bin1_start = machine.robot->count_at("1");
    std::string print_path;
    if (printing) {
        // Every disc gets the same file, made with the printer's own ink use per disc.
        sim::PrintFileRecipe recipe;
        recipe.kind = print_kind;
        recipe.use = cfg.printer_config.ink_per_print;
        print_path = print_file_path(print_kind);
        machine.world.files().mkdir("C:\\Labels");
        machine.world.files().write_file(print_path, sim::make_print_file(recipe));
    }
    for (const std::string& path : {o.timeline_path, o.module_log_path})
        if (!path.empty() && !std::ofstream(path, std::ios::app)) return usage_error("run", "cannot write '" + path + "'");
    // The transcript goes to its file as it is written (the world holds only its recent part).
    std::FILE* transcript = nullptr;
    if (!o.transcript_path.empty()) {
        transcript = open_output("run", "--transcript", o.transcript_path);
        if (!transcript) return 1;
        machine.world.kernel().transcript().stream_to(transcript);
    }
    apply_machine_faults(o.machine, machine);
    install_answers(machine.world, machine.robot, o.answers);
    bool laminator_refused = false;
    if (o.laminate) {
        sim::Operator::Rule& choose = machine.world.op()
            .on_dialog(IDD_SELECT_PRINTER)
            .named("choose the disc printer and the laminator")
            .select(IDC_PRINTER_LIST, cfg.disc_printer + " on " + cfg.disc_printer_port)  // the list's line
            .check(IDC_SELECT_USE_LAMINATOR, true)
            .click(IDOK);
        // When the printers could not be listed the dialog offers none: the operator keeps what it
        // shows (the rules of every run below).
        machine.world.op()
            .on_message_box("Errors enumerating the printers")
            .named("no printers listed")
            .answer(IDOK)
            .then([&choose] { choose.uses_left = 0; });
        // A robot firmware the module reads as older than the laminator needs (its version line
        // damaged at start-up) makes it refuse the laminator: it warns and unticks "Use
        // Laminator" before the operator's OK, and the job records and prints without it.
        machine.world.op()
            .on_message_box("You need to update the firmware of your ZorvikQIX to use the Laminator.")
            .named("laminator refused")
            .answer(IDOK)
            .then([&laminator_refused] { laminator_refused = true; });
    }
    // A print that never came (the spooler refused it): the module's wait for it times out and
    // says the print may not have completed; the operator goes on, and the disc stays unprinted.
    machine.world.op().on_message_box("Wait for printing timed out").named("go on without the print").answer(IDRETRY);
    // Each time someone went on so (this rule or an --answer rule), for the unprinted discs.
    int timed_out_waits = 0;
    const int wait_listener = machine.world.kernel().transcript().subscribe([&timed_out_waits](const sim::TranscriptEntry& e) {
        if (e.kind == "operator" && e.text.rfind("answers message box ", 0) == 0 &&
            e.text.find("Wait for printing timed out") != std::string::npos &&
            e.text.find("\" with IDRETRY") != std::string::npos)
            ++timed_out_waits;
    });
    sim::install_default_operator(machine, printing);
    machine.world.load_module();

    // The progress bar is drawn from the host's poll rounds; the wire is printed as the robot
    // receives each command, on stderr with --json so that standard output holds the JSON alone.
    const bool draw_bar = isatty(STDOUT_FILENO) && isatty(STDERR_FILENO);
    ProgressBar bar(discs);
    FILE* wire_out = o.json ? stderr : stdout;
    const sim::RecordingHost* host_seen = nullptr;
    if (o.wire)
        machine.robot->on_received([&](const sim::ReceivedCommand& c) {
            if (c.kind == sim::ReceivedCommand::Kind::Command && c.text == "_SI") return;
            if (draw_bar) std::fputs("\r\033[K", stderr);  // the bar is drawn again below the line
            std::fprintf(wire_out, "%s\n", c.line().c_str());
        });

    sim::RecordingHostConfig hc;
    hc.discs = discs;
    hc.record_time = static_cast<sim::Micros>(std::llround(o.record_seconds * 1e6));
    hc.fail_rate = o.fail_rate;
    hc.print_file = print_path;
    hc.record_print = o.record_print != 0;  // the module reads 1 when the key is not written
    if (o.laminate) {
        // The last printed disc of a batch goes on through the laminator before its output bin:
        // heater, tray in, laminating, tray out, and the arm's carries.
        const sim::LaminatorConfig& lc = cfg.laminator_config;
        hc.print_carry_time += lc.warm_up_time + lc.tray_in_time + lc.laminate_time + 2 * lc.tray_out_time + 10 * sim::kSecond;
    }
    hc.on_progress = [&] {
        if (draw_bar && host_seen)
            bar.update(host_seen->discs_finished(), sim::kernel().now() - host_seen->result().started, false);
    };
    apply_job_faults(o.faults, machine, &hc);
    FiredFaults fired(machine.world);
    sim::RecordingHost host(machine, hc);
    host_seen = &host;

    const auto wall_start = std::chrono::steady_clock::now();
    sim::SimThread* host_thread = machine.world.spawn("host", [&host] { host.run(); });
    sim::RunResult result = machine.world.run([host_thread] { return host_thread->state == sim::ThreadState::Finished; });
    const sim::Micros busy = machine.robot->busy_time();
    if (result.ok()) result = machine.settle();
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wall_start).count();
    if (draw_bar) bar.update(host.discs_finished(), machine.world.kernel().now() - host.result().started, true);
    machine.world.kernel().transcript().stop_streaming();
    // A transcript that could not be written all through fails the run (after its summary).
    const bool transcript_lost = transcript && !close_output("run", "--transcript", o.transcript_path, transcript);

    // --- what the job came to ----------------------------------------------------------------
    const sim::RecordingHostResult& r = host.result();
    machine.world.kernel().transcript().unsubscribe(wait_listener);
    const DiscCount count = count_discs(machine, machine.laminator.get(), timed_out_waits, r.job_aborted);
    // The discs go through the laminator unless the module refused it.
    const bool laminating = o.laminate && !laminator_refused;
    // Input bin "1" stands where the laminator's tray is: a laminating job never picks from it.
    const size_t bin1_left = machine.robot->count_at("1");
    const sim::Micros end = r.finished ? r.finished : machine.world.kernel().now();
    const sim::Micros duration = end - r.started;
    const double hours = static_cast<double>(duration) / sim::kHour;
    const int rejected = count.at_g + count.at_h + count.removed;  // the discs found in the machine too
    const int finished = count.in_output_bins + rejected - count.found_rejected;
    const double per_hour = hours > 0 ? finished / hours : 0;
    const double busy_share = duration ? std::min(1.0, static_cast<double>(busy) / duration) : 0;
    const double virtual_seconds = static_cast<double>(duration) / sim::kSecond;
    const double ratio = wall > 0 ? virtual_seconds / wall : 0;

    // The family of calls --fail-call armed: how many of its calls the run made and how many failed.
    FailCall fail;
    sim::FaultCounter* const fault_counter =
        parse_fail_call(o.machine.fail_call, &fail) ? fail_call_counter(machine.world, fail.kind) : nullptr;

    std::string broken;
    if (result.ok()) {
        broken = machine.check_invariants(r.ended, r.ended_mid_job);
        // A job that ran to its end has every one of its discs in an output bin or rejected.
        if (broken.empty() && !r.job_aborted && (finished != discs || count.left_in_machine))
            broken = "not every disc is accounted for: " + std::to_string(count.in_output_bins) + " in output bins, " +
                     std::to_string(rejected) + " rejected, " + std::to_string(count.left_in_machine) +
                     " left in the machine of " + std::to_string(discs) + "\nseed " + std::to_string(o.seed) +
                     " replays this run\n";
        // A disc the world left in the machine before the job is taken out to a reject position
        // by the job's begin.
        if (broken.empty() && !r.job_aborted && !count.found_elsewhere.empty())
            broken = "a disc found in the machine at the start was not rejected: " + count.found_elsewhere + "\nseed " +
                     std::to_string(o.seed) + " replays this run\n";
        // Every disc on the output stacks of a printing job, aborted or not, was printed at most
        // once, and one that was not printed is accounted for: its print failed (the printer
        // stopped with its error or fell silent; the print is not made again), or no print came
        // and the operator went on when the module's wait for it timed out, or the job was
        // aborted before the disc reached the printer.
        if (broken.empty() && printing && (count.printed_twice || count.unprinted_why.count(Unprinted::Unaccounted))) {
            std::string which;
            for (const auto& [id, why] : count.unprinted_discs)
                if (why == Unprinted::Unaccounted) which += (which.empty() ? "" : ", ") + std::to_string(id);
            broken = count.printed_twice ? std::to_string(count.printed_twice) + " discs on the output stacks printed twice\n" : "";
            if (!which.empty()) broken += "discs on the output stacks unprinted with no failed print, timed-out wait or abort: " + which + "\n";
            broken += "seed " + std::to_string(o.seed) + " replays this run\n";
        }
        // A laminating job that ran to its end has laminated every disc on the output stacks
        // once, and left the discs of bin "1" where they were.
        if (broken.empty() && laminating && !r.job_aborted && count.not_laminated_once)
            broken = std::to_string(count.not_laminated_once) +
                     " discs on the output stacks not laminated exactly once\nseed " + std::to_string(o.seed) +
                     " replays this run\n";
        // Rovane_End waits ten seconds at most for the module's threads, then ends them.
        if (broken.empty() && r.ended && r.end_took > (o.laminate ? kEndBoundLaminating : kEndBound))
            broken = "Rovane_End took " + std::to_string(r.end_took / sim::kMs) + " ms\nseed " + std::to_string(o.seed) +
                     " replays this run\n";
        if (broken.empty() && laminating && bin1_left != bin1_start)
            broken = "input bin 1 was picked from: " + std::to_string(bin1_start - bin1_left) + " discs gone\nseed " +
                     std::to_string(o.seed) + " replays this run\n";
    }
    const auto why_count = [&count](Unprinted why) {
        const auto it = count.unprinted_why.find(why);
        return it == count.unprinted_why.end() ? 0 : it->second;
    };
    int exit_code = 0;
    std::string outcome = "completed";
    if (!result.ok()) {
        exit_code = 3;
        outcome = "world stopped";
    } else if (!broken.empty()) {
        exit_code = 4;
        outcome = "invariant broken";
    } else if (r.job_aborted) {
        exit_code = 2;
        outcome = "aborted";
    }

    if (o.json) {
        nlohmann::ordered_json j;
        j["outcome"] = outcome;
        j["exit_code"] = exit_code;
        j["seed"] = o.seed;
        j["drives"] = o.machine.drives;
        j["record_time_s"] = o.record_seconds;
        j["fail_rate"] = o.fail_rate;
        j["discs_requested"] = discs;
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
        j["operator_answers"] = machine.world.op().answers_given();
        if (fault_counter)
            j["fail_call"] = {{"call", fail_call_text(fail)}, {"calls", fault_counter->calls()}, {"fired", fault_counter->fired()}};
        if (printing) {
            j["print_file"] = print_path;
            j["valid_print"] = r.valid_print;
            j["prints_posted"] = r.prints_posted;
            j["prints"] = machine.printer ? machine.printer->prints() : 0;
            j["blank_prints"] = machine.printer ? machine.printer->blank_prints() : 0;
            j["failed_prints"] = machine.printer ? machine.printer->failed_prints() : 0;
            j["unprinted"] = count.unprinted;
            j["unprinted_why"] = {{"print_failed", why_count(Unprinted::PrintFailed)},
                                  {"wait_timed_out", why_count(Unprinted::WaitTimedOut)},
                                  {"job_aborted", why_count(Unprinted::JobAborted)},
                                  {"unaccounted", why_count(Unprinted::Unaccounted)}};
            nlohmann::ordered_json discs_why = nlohmann::ordered_json::object();
            for (const auto& [id, why] : count.unprinted_discs) discs_why[std::to_string(id)] = unprinted_text(why);
            j["unprinted_discs"] = discs_why;
            j["ink_used"] = machine.printer ? machine.printer->ink_used() : sim::InkCounters{};
            j["print_batches"] = r.print_batches;
            j["prints_joined"] = r.prints_joined;
            j["print_waits"] = r.print_waits;
        }
        if (o.laminate) {
            j["laminations"] = machine.laminator->laminations();
            j["ribbon_left"] = machine.laminator->ribbon_left();
            j["laminations_left"] = machine.laminator->laminations_left();
            j["input_bin_1_picked"] = bin1_start - bin1_left;
            j["laminator_refused"] = laminator_refused;
        }
        j["moves"] = {{"loads", r.loads_posted},     {"unloads", r.unloads_posted}, {"rejects", r.rejects_posted},
                      {"done", r.moves_done},        {"aborted", r.moves_aborted},  {"unfinished", r.moves_unfinished}};
        j["virtual_seconds"] = rounded(virtual_seconds, 3);
        j["discs_per_hour"] = rounded(per_hour, 2);
        j["arm_busy_share"] = rounded(busy_share, 4);
        char hash[20];
        std::snprintf(hash, sizeof hash, "%016" PRIx64, machine.world.transcript_hash());
        j["transcript_hash"] = hash;
        j["invariants_broken"] = broken;
        if (!result.ok()) j["world_report"] = result.report;
        j["faults_fired"] = fired.counts();
        j["wall_seconds"] = rounded(wall, 3);
        j["wall_ratio"] = rounded(ratio, 1);
        std::printf("%s\n", j.dump(2).c_str());
    } else {
        const char* headline = exit_code == 0   ? "job completed"
                               : exit_code == 2 ? "job aborted"
                               : exit_code == 3 ? "the world stopped"
                                                : "an invariant broke";
        std::printf("%s: %d discs, %d drives, %s recordings, fail rate %g, seed %" PRIu64 "\n", headline, discs,
                    static_cast<int>(o.machine.drives), clock_text(hc.record_time).c_str(), o.fail_rate, o.seed);
        std::string bins;
        for (const auto& [stack, n] : count.output_bins) bins += (bins.empty() ? "" : ", ") + stack + ": " + std::to_string(n);
        std::printf("  discs requested    %d\n", discs);
        std::printf("  in output bins     %d%s\n", count.in_output_bins, bins.empty() ? "" : ("  (" + bins + ")").c_str());
        if (count.blank_taken_back) {
            std::string off;
            for (const auto& [stack, n] : count.blank_taken) off += (off.empty() ? "" : ", ") + stack + ": " + std::to_string(n);
            std::printf("  blank taken back   %d  (%s; not counted as output)\n", count.blank_taken_back, off.c_str());
        }
        std::printf("  rejected           %d  (G %d, H %d, emptied by the operator %d)\n", rejected, count.at_g,
                    count.at_h, count.removed);
        std::printf("  lost               %d\n", count.lost);
        if (count.left_in_machine) std::printf("  left in machine    %d\n", count.left_in_machine);
        if (count.found)
            std::printf("  found in machine   %d  (left there before the job; %d of them rejected)\n", count.found,
                        count.found_rejected);
        std::printf("  operator answers   %zu\n", machine.world.op().answers_given());
        if (fault_counter)
            std::printf("  injected faults    %lu  (--fail-call %s; %lu %s calls made)\n",
                        static_cast<unsigned long>(fault_counter->fired()), fail_call_text(fail).c_str(),
                        static_cast<unsigned long>(fault_counter->calls()), fail.kind.c_str());
        if (printing) {
            std::printf("  print file         %s (%s on \"%s\")%s\n", print_path.c_str(), print_kind_name.c_str(),
                        cfg.disc_printer.c_str(), r.valid_print == 1 ? "" : "  refused by the module");
            const uint32_t prints = machine.printer ? machine.printer->prints() : 0;
            const uint32_t blank = machine.printer ? machine.printer->blank_prints() : 0;
            std::printf("  prints made        %u%s  (posted %d in %d batches, %d waiting for \"XFER:\"; "
                        "discs held in their recorder %d times)\n",
                        prints, blank ? (" (" + std::to_string(blank) + " on nothing)").c_str() : "", r.prints_posted,
                        r.print_batches, r.prints_joined, r.print_waits);
            std::string ink;
            if (machine.printer)
                for (uint32_t u : machine.printer->ink_used()) ink += (ink.empty() ? "" : " ") + std::to_string(u);
            std::printf("  ink used           %s\n", ink.c_str());
            // Discs on the output stacks without a print, and why: "disc 97: print failed".
            std::string list;
            for (size_t i = 0; i < count.unprinted_discs.size() && i < 8; ++i)
                list += std::string(list.empty() ? "" : ", ") + "disc " + std::to_string(count.unprinted_discs[i].first) +
                        ": " + unprinted_text(count.unprinted_discs[i].second);
            if (count.unprinted_discs.size() > 8) list += ", ...";
            std::printf("  unprinted          %d%s\n", count.unprinted, list.empty() ? "" : ("  (" + list + ")").c_str());
        }
        if (o.laminate)
            std::printf("  laminations        %u  (ribbon left %u, %u laminations; input bin 1 picked from %zu times)\n",
                        machine.laminator->laminations(), machine.laminator->ribbon_left(),
                        machine.laminator->laminations_left(), bin1_start - bin1_left);
        if (laminator_refused)
            std::printf("  laminator refused  the robot firmware read as too old; the job ran without it\n");
        if (!fired.counts().empty()) {
            std::string list;
            for (const auto& [kind, n] : fired.counts()) list += (list.empty() ? "" : ", ") + kind + " " + std::to_string(n);
            std::printf("  faults fired       %s\n", list.c_str());
        }
        if (r.host_aborted) std::printf("  the host aborted the job\n");
        if (r.ended_mid_job) std::printf("  the host ended the module mid-job (Rovane_End took %.3f s)\n",
                                         static_cast<double>(r.end_took) / sim::kSecond);
        std::printf("  virtual duration   %s\n", clock_text(duration).c_str());
        std::printf("  discs per hour     %.1f\n", per_hour);
        std::printf("  arm busy           %.1f %%\n", busy_share * 100);
        std::printf("  wall time          %.3f s\n", wall);
        std::printf("  virtual/wall       %.0fx\n", ratio);
    }
    std::fflush(stdout);
    if (outcome_out) {
        outcome_out->exit_code = exit_code;
        outcome_out->outcome = outcome;
        outcome_out->broken = !result.ok() ? result.report : broken;
        outcome_out->fired = fired.counts();
        if (r.host_aborted) outcome_out->fired["host aborted the job"] = 1;
        if (r.ended_mid_job) outcome_out->fired["Rovane_End mid-job"] = 1;
        outcome_out->fault_calls = fault_counter ? fault_counter->calls() : 0;
        outcome_out->faults_fired = fault_counter ? fault_counter->fired() : 0;
        char hash[20];
        std::snprintf(hash, sizeof hash, "%016" PRIx64, machine.world.transcript_hash());
        outcome_out->transcript_hash = hash;
    }

    // The module's own log, read out of the world's data folder: copied out, and made into the
    // page that rovane-log makes from a machine's log.
    std::string module_log;
    machine.world.files().read_file(std::string(kDataFolder) + "Rovane_QIX.dbg", &module_log);
    if (!o.module_log_path.empty()) {
        std::ofstream copy(o.module_log_path, std::ios::binary | std::ios::trunc);
        copy << module_log;
        copy.close();
        if (!copy) {
            std::fprintf(stderr, "rovane-sim run: cannot write the module's log to '%s'\n", o.module_log_path.c_str());
            if (exit_code == 0) exit_code = 1;
        }
    }
    if (transcript_lost && exit_code == 0) exit_code = 1;
    if (!o.timeline_path.empty()) {
        logview::PageOptions page;
        page.title = "rovane-sim run: " + std::to_string(discs) + " discs, " + std::to_string(o.machine.drives) +
                     " drives, seed " + std::to_string(o.seed) + " (" + outcome + ")";
        page.source = std::string(kDataFolder) + "Rovane_QIX.dbg in the simulated world";
        const logview::LogSummary summary = logview::summarize(logview::read_log(module_log));
        std::string error;
        if (!logview::write_page_file(o.timeline_path, logview::timeline_page(summary, page), &error)) {
            std::fprintf(stderr, "rovane-sim run: %s\n", error.c_str());
            if (exit_code == 0) exit_code = 1;
        }
    }
    if (!result.ok())
        std::fprintf(stderr, "rovane-sim run: the world stopped: %s\nseed %" PRIu64 " replays this run\n",
                     result.report.c_str(), o.seed);
    else if (!broken.empty())
        std::fprintf(stderr, "rovane-sim run: invariants broken:\n%s", broken.c_str());
    else
        std::fprintf(stderr, "invariants hold: %s; seed %" PRIu64 " replays this run\n",
                     invariants_held(count, printing, laminating, r.job_aborted).c_str(), o.seed);
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
