// rovane-log: reads the module's diagnostic log ("Rovane_QIX.dbg", as the module writes it on a
// machine or in the simulated world) and tells what the machine did.
//
//   rovane-log timeline LOGFILE -o FILE.html [--title TEXT]   one page: a timeline of every job
//   rovane-log stats LOGFILE [--json]                          good and rejected discs per job and
//                                                              over the whole log, and more
//
// Exit 0 when done, 1 on a usage error, 2 when the log cannot be read (or holds no line of the
// module's format) or the page cannot be written.
#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <cmath>
#include <cstdio>
#include <string>

#include "logview/job_summary.h"
#include "logview/log_reader.h"
#include "logview/timeline_page.h"

namespace {

using logview::Figures;
using logview::LogSummary;

int cannot(const std::string& text) {
    std::fprintf(stderr, "rovane-log: %s\n", text.c_str());
    return 2;
}

// Reads and follows the log; 0 when done, else the exit code (with its message printed).
int load(const std::string& path, LogSummary* out) {
    logview::LogText log;
    std::string error;
    if (!logview::read_log_file(path, &log, &error)) return cannot(error);
    if (log.lines.empty())
        return cannot("'" + path + "' holds no line of the module's log (\"MM/DD hh:mm:ss:mmm  text\"): " +
                      std::to_string(log.total_lines) + " lines, " + std::to_string(log.unparseable) + " unparseable");
    *out = logview::summarize(std::move(log));
    return 0;
}

double rounded(double v, int decimals) {
    const double scale = std::pow(10.0, decimals);
    return std::round(v * scale) / scale;
}

nlohmann::ordered_json figures_json(const Figures& f) {
    nlohmann::ordered_json j;
    j["discs"] = f.discs;
    j["good"] = f.good;
    j["rejected"] = f.rejected;
    nlohmann::ordered_json at = nlohmann::ordered_json::object();
    for (const auto& [place, n] : f.rejected_at) at[place] = n;
    j["rejected_at"] = at;
    j["in_machine"] = f.in_machine;
    j["track_lost"] = f.untracked;
    nlohmann::ordered_json errors = nlohmann::ordered_json::object();
    for (const auto& [code, n] : f.errors) errors[logview::display_text(code)] = n;
    j["errors"] = errors;
    j["messages"] = f.messages;
    j["answers"] = f.answers;
    j["prints"] = f.prints;
    j["laminations"] = f.laminations;
    j["status_faults"] = f.status_faults;
    j["duration_s"] = rounded(static_cast<double>(f.duration_ms) / 1000.0, 3);
    j["discs_per_hour"] = rounded(f.discs_per_hour(), 2);
    j["arm_busy_share"] = rounded(f.busy_share(), 4);
    return j;
}

int error_total(const Figures& f) {
    int n = 0;
    for (const auto& [code, count] : f.errors) n += count;
    return n;
}

void print_row(const std::string& name, const Figures& f) {
    std::string rejected = std::to_string(f.rejected);
    if (f.rejected) {
        std::string at;
        for (const auto& [place, n] : f.rejected_at) at += (at.empty() ? "" : " ") + place + ":" + std::to_string(n);
        rejected += " (" + at + ")";
    }
    std::printf("%-30s %6d %6d %-12s %10d %6d %7d %7d %9s %10.1f %7.1f %%\n", name.c_str(), f.discs, f.good,
                rejected.c_str(), f.in_machine + f.untracked, error_total(f), f.messages, f.answers,
                logview::duration_text(f.duration_ms).c_str(), f.discs_per_hour(), f.busy_share() * 100);
}

int run_stats(const std::string& path, bool json) {
    LogSummary s;
    if (const int rc = load(path, &s)) return rc;
    if (json) {
        nlohmann::ordered_json j;
        j["log"] = {{"source", logview::display_text(path)},
                    {"lines", s.log.total_lines},
                    {"read", s.log.lines.size()},
                    {"unparseable", s.log.unparseable},
                    {"truncated", s.log.truncated},
                    {"first", s.log.lines.front().stamp},
                    {"last", s.log.lines.back().stamp},
                    {"starts_mid_job", s.starts_mid_job}};
        nlohmann::ordered_json jobs = nlohmann::ordered_json::array();
        for (const logview::Segment& seg : s.segments) {
            nlohmann::ordered_json g;
            g["title"] = seg.title;
            g["kind"] = seg.is_job ? "job" : "outside a job";
            g["begin_in_log"] = seg.begin_seen;
            g["end_in_log"] = seg.end_seen;
            g["aborted"] = seg.aborted;
            if (seg.how_many >= 0) g["discs_asked"] = seg.how_many;
            g["from"] = seg.from_stamp;
            g["to"] = seg.to_stamp;
            g["lines"] = {seg.first_line, seg.last_line};
            if (!seg.note.empty()) g["note"] = seg.note;
            g["figures"] = figures_json(seg.figures);
            jobs.push_back(g);
        }
        j["jobs"] = jobs;
        nlohmann::ordered_json life = figures_json(s.lifetime);
        life["jobs"] = s.jobs;
        j["lifetime"] = life;
        std::printf("%s\n", j.dump(2).c_str());
        return 0;
    }
    std::printf("log %s: %zu lines, %zu read, %zu unparseable, %zu truncated; %s to %s\n", path.c_str(),
                s.log.total_lines, s.log.lines.size(), s.log.unparseable, s.log.truncated,
                s.log.lines.front().stamp.c_str(), s.log.lines.back().stamp.c_str());
    if (s.starts_mid_job) std::printf("the log starts in the middle of the machine's work\n");
    std::printf("\n%-30s %6s %6s %-12s %10s %6s %7s %7s %9s %10s %9s\n", "", "discs", "good", "rejected", "in machine",
                "errors", "msgs", "answers", "duration", "discs/hour", "arm busy");
    for (const logview::Segment& seg : s.segments) {
        std::string name = seg.title + " " + seg.from_stamp.substr(0, 11);
        if (seg.is_job && seg.aborted) name += " aborted";
        print_row(name, seg.figures);
    }
    print_row("whole log (" + std::to_string(s.jobs) + (s.jobs == 1 ? " job)" : " jobs)"), s.lifetime);
    for (const logview::Segment& seg : s.segments)
        if (!seg.note.empty()) std::printf("%s: %s\n", seg.title.c_str(), seg.note.c_str());
    if (!s.lifetime.errors.empty()) {
        std::printf("\nerrors by code:");
        for (const auto& [code, n] : s.lifetime.errors) std::printf("  %s %d", logview::display_text(code).c_str(), n);
        std::printf("\n");
    }
    if (s.lifetime.status_faults) std::printf("status replies missing or damaged: %d\n", s.lifetime.status_faults);
    return 0;
}

int run_timeline(const std::string& path, const std::string& out, const std::string& title) {
    LogSummary s;
    if (const int rc = load(path, &s)) return rc;
    logview::PageOptions o;
    o.title = title.empty() ? path : title;
    o.source = path;
    std::string error;
    if (!logview::write_page_file(out, logview::timeline_page(s, o), &error)) return cannot(error);
    std::fprintf(stderr, "rovane-log: %s: %zu disc journeys in %zu parts (%d jobs), %zu lines skipped\n", out.c_str(),
                 s.journeys.size(), s.segments.size(), s.jobs, s.log.unparseable + s.log.truncated);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App tool(
        "rovane-log: read the module's diagnostic log (Rovane_QIX.dbg) and tell what the machine did.\n"
        "Run 'rovane-log COMMAND --help' for the flags of a command.",
        "rovane-log");
    tool.require_subcommand(1, 1);
    tool.footer(
        "Every disc is followed from the pick that takes it off an input bin to the place it ends up:\n"
        "an output bin (good), a reject position G or H (rejected), or still in the machine. Lines\n"
        "without the log's stamp (a file cut in the middle, as when the module restarts its log at\n"
        "700,000 bytes) are counted and skipped.\n"
        "\n"
        "Exit 0 when done, 1 on a usage error, 2 when the log cannot be read or holds no line of the\n"
        "module's format, or the page cannot be written.");

    std::string timeline_log, out_path, title;
    CLI::App* timeline = tool.add_subcommand("timeline", "Write one self-contained HTML page with the log's timeline.");
    timeline->add_option("LOGFILE", timeline_log, "the module's log")->required();
    timeline->add_option("-o,--output", out_path, "the page to write")->required()->type_name("FILE.html");
    timeline->add_option("--title", title, "the page's title (default: the log's path)")->type_name("TEXT");
    timeline->footer(
        "The page holds a summary table (per job and for the whole log: discs, good, rejected, still\n"
        "in the machine, errors by code, messages, answers, discs per hour, the arm's busy share) and,\n"
        "for every job, a timeline: a lane per place, each disc's journey as a path across the lanes,\n"
        "errors, messages and answers as marks, the arm's busy stretches and idle gaps. It needs no\n"
        "network and no script.");

    std::string stats_log;
    bool json = false;
    CLI::App* stats = tool.add_subcommand("stats", "Print the figures of every job and of the whole log.");
    stats->add_option("LOGFILE", stats_log, "the module's log")->required();
    stats->add_flag("--json", json, "print them as one JSON object");

    if (argc < 2) {
        std::fputs(tool.help().c_str(), stdout);
        return 1;
    }
    try {
        tool.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return tool.exit(e);
    } catch (const CLI::ParseError& e) {
        std::string command;
        for (const CLI::App* sub : tool.get_subcommands()) command = " " + sub->get_name();
        std::fprintf(stderr, "rovane-log%s: %s (try 'rovane-log%s --help')\n", command.c_str(), e.what(), command.c_str());
        return 1;
    }
    if (timeline->parsed()) return run_timeline(timeline_log, out_path, title);
    if (stats->parsed()) return run_stats(stats_log, json);
    return 1;
}
