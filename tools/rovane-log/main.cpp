// rovane-log: reads the module's diagnostic log ("Rovane_QIX.dbg", as the module writes it on a
// machine or in the simulated world) and tells what the machine did.
//
//   rovane-log timeline LOGFILE -o FILE.html [--title TEXT]   one page: a timeline of every job
//   rovane-log stats LOGFILE [--json]                          good and rejected discs per job and
//                                                              over the whole log, and more
//   rovane-log replay LOGFILE [--json] [--sim PATH]            the log's job run again in the
//                                                              virtual autoloader, and how much of
//                                                              the log it reproduced
//
// Both read the log as a stream. stats keeps only the figures (its memory is the same whatever
// the log's size) and prints each job's row once its figures are settled; timeline keeps every
// disc's journey for the page and so takes logs up to kTimelineMaxBytes.
//
// Exit 0 when done, 1 on a usage error (an unknown command or option, a page that would be written
// over a log), 2 when the log cannot be read (or holds no line of the module's format, or is too
// big for a page) or the page cannot be written.
#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <sys/stat.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "logview/job_summary.h"
#include "logview/log_reader.h"
#include "logview/timeline_page.h"
#include "replay_command.h"

namespace {

using logview::Figures;
using logview::LogInfo;
using logview::LogSummary;
using logview::Segment;

constexpr uint64_t kTimelineMaxBytes = 64ULL << 20;
constexpr size_t kJumpsWarned = 10;  // clock jumps named one by one on stderr

const char* const kCommands = "timeline, stats, replay";

int cannot(const std::string& text) {
    std::fprintf(stderr, "rovane-log: %s\n", text.c_str());
    return 2;
}

int usage(const std::string& command, const std::string& text) {
    const std::string who = command.empty() ? "rovane-log" : "rovane-log " + command;
    std::fprintf(stderr, "%s: %s (try '%s --help')\n", who.c_str(), text.c_str(), who.c_str());
    return 1;
}

// A request refused for what it would do (exit 1, as a usage error).
int refuse(const std::string& command, const std::string& text) {
    std::fprintf(stderr, "rovane-log %s: %s\n", command.c_str(), text.c_str());
    return 1;
}

int no_lines(const std::string& path, const LogInfo& info) {
    return cannot("'" + path + "' holds no line of the module's log (\"MM/DD hh:mm:ss:mmm  text\"): " +
                  std::to_string(info.total_lines) + " lines, " + std::to_string(info.unparseable) + " unparseable, " +
                  std::to_string(info.truncated) + " cut off without its line end");
}

// A warning on stderr for each line whose time does not fit (the first kJumpsWarned of them).
void warn_clock(const std::string& path, const LogInfo& info) {
    for (size_t i = 0; i < info.jumps.size() && i < kJumpsWarned; ++i) {
        const logview::ClockJump& j = info.jumps[i];
        const std::string by = logview::jump_text(j.ms);
        switch (j.kind) {
            case logview::ClockJump::Early:
                std::fprintf(stderr,
                             "rovane-log: warning: %s: line %zu is out of order, %s earlier than line %zu before it: "
                             "it is taken to be at line %zu's time\n",
                             path.c_str(), j.line, by.c_str(), j.other, j.other);
                break;
            case logview::ClockJump::Late:
                std::fprintf(stderr,
                             "rovane-log: warning: %s: line %zu is out of order, %s later than line %zu after it: it "
                             "is taken to be at the time of the line before it\n",
                             path.c_str(), j.line, by.c_str(), j.other);
                break;
            case logview::ClockJump::SetBack:
                std::fprintf(stderr,
                             "rovane-log: warning: %s: the clock goes back %s at line %zu (from line %zu) and stays "
                             "back: the lines from there are counted on from line %zu's time\n",
                             path.c_str(), by.c_str(), j.line, j.other, j.other);
                break;
        }
    }
    if (info.clock_jumps > kJumpsWarned)
        std::fprintf(stderr, "rovane-log: warning: %s: %zu more lines out of step\n", path.c_str(),
                     info.clock_jumps - kJumpsWarned);
    if (info.clock_jumps)
        std::fprintf(stderr, "rovane-log: warning: %s: %zu clock %s (%s in all) counted as no time\n", path.c_str(),
                     info.clock_jumps, info.clock_jumps == 1 ? "jump" : "jumps",
                     logview::jump_text(info.clock_jumps_ms).c_str());
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

nlohmann::ordered_json segment_json(const Segment& seg) {
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
    return g;
}

nlohmann::ordered_json log_json(const std::string& path, const LogSummary& s) {
    const LogInfo& info = s.log;
    nlohmann::ordered_json jumps = nlohmann::ordered_json::array();
    for (const logview::ClockJump& j : info.jumps)
        jumps.push_back({{"line", j.line},
                         {"kind", logview::jump_kind_name(j.kind)},
                         {"compared_with_line", j.other},
                         {"by_s", rounded(static_cast<double>(j.ms) / 1000.0, 3)}});
    return {{"source", logview::display_text(path)},
            {"bytes", info.bytes},
            {"lines", info.total_lines},
            {"read", info.read},
            {"unparseable", info.unparseable},
            {"truncated", info.truncated},
            {"long_lines", info.long_lines},
            {"first", info.first_stamp},
            {"last", info.last_stamp},
            {"starts_mid_job", s.starts_mid_job},
            {"clock_jumps", info.clock_jumps},
            {"clock_jumps_s", rounded(static_cast<double>(info.clock_jumps_ms) / 1000.0, 3)},
            {"clock_jumps_listed", jumps}};
}

// `text` with every line after the first indented by `by` blanks (a value nested in JSON).
std::string nested(const std::string& text, int by) {
    std::string out;
    for (char c : text) {
        out += c;
        if (c == '\n') out.append(static_cast<size_t>(by), ' ');
    }
    return out;
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

// stats prints each segment as soon as its figures are settled, so that nothing of a long log is
// kept: the table's head (or the JSON's opening) before the first one, the whole log after the
// last.
class StatsPrinter {
public:
    StatsPrinter(std::string path, bool json) : path_(std::move(path)), json_(json) {}

    void segment(const Segment& seg, const LogSummary& s) {
        head(s);
        if (json_) {
            std::printf("%s    %s", rows_ ? ",\n" : "", nested(segment_json(seg).dump(2), 4).c_str());
        } else {
            std::string name = seg.title + " " + seg.from_stamp.substr(0, 11);
            if (seg.is_job && seg.aborted) name += " aborted";
            print_row(name, seg.figures);
            if (!seg.note.empty()) std::printf("  %s: %s\n", seg.title.c_str(), seg.note.c_str());
        }
        ++rows_;
        std::fflush(stdout);
    }

    void finish(const LogSummary& s) {
        head(s);
        if (json_) {
            nlohmann::ordered_json life = figures_json(s.lifetime);
            life["jobs"] = s.jobs;
            std::printf("%s  ],\n  \"log\": %s,\n  \"lifetime\": %s\n}\n", rows_ ? "\n" : "",
                        nested(log_json(path_, s).dump(2), 2).c_str(), nested(life.dump(2), 2).c_str());
            return;
        }
        print_row("whole log (" + std::to_string(s.jobs) + (s.jobs == 1 ? " job)" : " jobs)"), s.lifetime);
        const LogInfo& info = s.log;
        std::printf("\nlog %s: %zu lines, %zu read, %zu unparseable, %zu truncated; %s to %s\n", path_.c_str(),
                    info.total_lines, info.read, info.unparseable, info.truncated, info.first_stamp.c_str(),
                    info.last_stamp.c_str());
        if (info.long_lines)
            std::printf("%zu lines longer than %zu bytes: the rest of each was not read\n", info.long_lines,
                        logview::kMaxLineBytes);
        if (info.clock_jumps)
            std::printf("the log's clock jumps %zu %s (%s in all), counted as no time (see the warnings)\n",
                        info.clock_jumps, info.clock_jumps == 1 ? "time" : "times",
                        logview::jump_text(info.clock_jumps_ms).c_str());
        if (!s.lifetime.errors.empty()) {
            std::printf("errors by code:");
            for (const auto& [code, n] : s.lifetime.errors) std::printf("  %s %d", logview::display_text(code).c_str(), n);
            std::printf("\n");
        }
        if (s.lifetime.status_faults) std::printf("status replies missing or damaged: %d\n", s.lifetime.status_faults);
    }

private:
    void head(const LogSummary& s) {
        if (headed_) return;
        headed_ = true;
        if (json_) {
            std::printf("{\n  \"jobs\": [\n");
            return;
        }
        if (s.starts_mid_job) std::printf("the log starts in the middle of the machine's work\n");
        std::printf("%-30s %6s %6s %-12s %10s %6s %7s %7s %9s %10s %9s\n", "", "discs", "good", "rejected",
                    "in machine", "errors", "msgs", "answers", "duration", "discs/hour", "arm busy");
    }

    std::string path_;
    bool json_;
    bool headed_ = false;
    size_t rows_ = 0;
};

int run_stats(const std::string& path, bool json) {
    StatsPrinter printer(path, json);
    logview::Summarizer::Options options;
    options.detail = false;
    options.on_segment = [&](const Segment& seg, const LogSummary& s) { printer.segment(seg, s); };
    LogSummary s;
    std::string error;
    if (!logview::summarize_file(path, options, &s, &error)) return cannot(error);
    if (!s.log.read) return no_lines(path, s.log);  // then no segment was printed either
    printer.finish(s);
    std::fflush(stdout);  // the figures, then the warnings about them
    warn_clock(path, s.log);
    return 0;
}

// Whether the file at `path` holds lines of the module's log (looked for in its first 4 KiB).
bool holds_log_lines(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::string head(4096, '\0');
    in.read(&head[0], static_cast<std::streamsize>(head.size()));
    head.resize(static_cast<size_t>(in.gcount()));
    size_t at = 0;
    while (at < head.size()) {
        size_t end = head.find('\n', at);
        if (end == std::string::npos) end = head.size();
        if (logview::has_stamp(head.substr(at, end - at))) return true;
        at = end + 1;
    }
    return false;
}

// 0 when the page may be written to `out`, else the exit code (with its message printed): never
// over the log it is made from (compared as files: through another path or a link too), nor over
// any other file that holds a module log.
int check_output(const std::string& out, const std::string& log) {
    struct stat page {}, input {};
    if (stat(out.c_str(), &page) != 0) return 0;  // a new file
    if (stat(log.c_str(), &input) == 0 && page.st_dev == input.st_dev && page.st_ino == input.st_ino)
        return refuse("timeline", "the page '" + out + "' would be written over the log it is made from ('" + log +
                                      "'): name the page with -o, e.g. -o job.html");
    if (S_ISREG(page.st_mode) && holds_log_lines(out))
        return refuse("timeline", "'" + out + "' holds a module log: the page is not written over it (name another "
                                              "file with -o, or remove that one first)");
    return 0;
}

int run_timeline(const std::string& path, const std::string& out, const std::string& title) {
    if (const int rc = check_output(out, path)) return rc;
    struct stat st {};
    if (stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && static_cast<uint64_t>(st.st_size) > kTimelineMaxBytes)
        return cannot("'" + path + "' is " + std::to_string(static_cast<uint64_t>(st.st_size) >> 20) +
                      " MB: a timeline is drawn of a log up to " + std::to_string(kTimelineMaxBytes >> 20) +
                      " MB (the module's own log restarts at 700,000 bytes); 'rovane-log stats' reads a log of any "
                      "size, or draw a part of it (e.g. tail -c 20000000 LOG > part.dbg)");
    LogSummary s;
    std::string error;
    if (!logview::summarize_file(path, logview::Summarizer::Options{}, &s, &error, kTimelineMaxBytes))
        return cannot(error);
    if (!s.log.read) return no_lines(path, s.log);
    warn_clock(path, s.log);
    logview::PageOptions o;
    o.title = title.empty() ? path : title;
    o.source = path;
    if (!logview::write_page_file(out, logview::timeline_page(s, o), &error)) return cannot(error);
    std::fprintf(stderr, "rovane-log: %s: %zu disc journeys in %zu %s (%d %s), %zu lines skipped\n", out.c_str(),
                 s.journeys.size(), s.segments.size(), s.segments.size() == 1 ? "part" : "parts", s.jobs,
                 s.jobs == 1 ? "job" : "jobs", s.log.unparseable + s.log.truncated);
    return 0;
}

// What CLI11 left over in a command: an unknown option or a word too many.
int leftover(const CLI::App* command) {
    for (const std::string& arg : command->remaining()) {
        if (arg == "--") continue;  // the end of the options, kept by CLI11 as a leftover
        if (arg.size() > 1 && arg[0] == '-')
            return usage(command->get_name(), "unknown option '" + arg + "'");
        return usage(command->get_name(), "unexpected argument '" + arg + "': it reads one LOGFILE");
    }
    return 0;
}

// The flags of `timeline`, read into these.
struct TimelineFlags {
    std::string log;
    std::vector<std::string> out_paths, titles;  // each given once: checked below, to say so plainly
};

CLI::App* add_timeline_command(CLI::App& tool, TimelineFlags* f) {
    CLI::App* timeline = tool.add_subcommand("timeline", "Write one self-contained HTML page with the log's timeline.");
    timeline->add_option("LOGFILE", f->log, "the module's log")->required();
    timeline->add_option("-o,--output", f->out_paths, "the page to write; never the log itself, nor another log")
        ->required()
        ->type_name("FILE.html");
    timeline->add_option("--title", f->titles, "the page's title (default: the log's path)")->type_name("TEXT");
    timeline->allow_extras();
    timeline->group("Commands");
    timeline->footer(
        std::string("The page holds a summary table (per job and for the whole log: discs, good, rejected, still\n"
        "in the machine, errors by code, messages, answers, discs per hour, the arm's busy share) and,\n"
        "for every job, a timeline: a lane per place, each disc's journey as a path across the lanes,\n"
        "errors, messages and answers as marks, the arm's busy stretches and idle gaps. It needs no\n"
        "network and no script. The page is written whole or not at all: it replaces FILE.html only\n"
        "once complete. It is never written over the log it is made from (the same file by any path\n"
        "or link) nor over another file that holds module log lines (exit 1).\n"
        "\n"
        "The page keeps every disc's journey, so it is drawn of a log up to " +
        std::to_string(kTimelineMaxBytes >> 20) +
        " MB (a machine's log\n"
        "restarts at 700,000 bytes; a bigger one is many logs put together): a bigger log is refused\n"
        "(exit 2); 'rovane-log stats' reads it whole, or draw a part of it (tail -c)."));
    return timeline;
}

CLI::App* add_stats_command(CLI::App& tool, std::string* log, bool* json) {
    CLI::App* stats = tool.add_subcommand("stats", "Print the figures of every job and of the whole log.");
    stats->add_option("LOGFILE", *log, "the module's log")->required();
    stats->add_flag("--json", *json, "print them as one JSON object: jobs, log, lifetime");
    stats->allow_extras();
    stats->group("Commands");
    stats->footer(
        std::string("The log is read as a stream and only the figures are kept: a log of any size is read in the\n"
        "same memory. Each job's row is printed once its figures are settled (a disc is counted in the\n"
        "job in which it reached its last place, and a job is settled once " +
        std::to_string(logview::kRangesOpen) +
        " further stretches of the\n"
        "log, jobs and the lines between them, have begun); the whole log's row and the reading's\n"
        "counts come last. A line that goes back in time is named in a warning on stderr."));
    return stats;
}

// "help [COMMAND]", and a first word that is neither a command nor --help, before CLI11 reads the
// command line: -1 when CLI11 is to read it, the exit code otherwise.
int read_first_word(CLI::App& tool, const std::vector<CLI::App*>& commands, int argc, char** argv) {
    if (argc < 2) {
        std::fputs(tool.help().c_str(), stdout);
        return 1;
    }
    const std::string first = argv[1];
    auto command_named = [&](const std::string& name) -> CLI::App* {
        for (CLI::App* c : commands)
            if (c->get_name() == name) return c;
        return nullptr;
    };
    if (first == "help") {
        if (argc == 2) {
            std::fputs(tool.help().c_str(), stdout);
            return 0;
        }
        if (CLI::App* c = command_named(argv[2])) {
            std::fputs(c->help("rovane-log").c_str(), stdout);
            return 0;
        }
        return usage("", std::string("unknown command '") + argv[2] + "'; commands: " + kCommands);
    }
    if (first != "-h" && first != "--help") {
        if (first.size() > 1 && first[0] == '-')
            return usage("", "unknown option '" + first + "'; a command comes first: " + kCommands);
        if (!command_named(first)) return usage("", "unknown command '" + first + "'; commands: " + kCommands);
    }
    return -1;
}

// CLI11's reading of the command line: -1 when it was read, the exit code otherwise.
int parse_command_line(CLI::App& tool, int argc, char** argv) {
    try {
        tool.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return tool.exit(e);
    } catch (const CLI::ParseError& e) {
        std::string command;
        for (const CLI::App* sub : tool.get_subcommands()) {
            command = sub->get_name();
            if (const int rc = leftover(sub)) return rc;
        }
        return usage(command, e.what());
    }
    return -1;
}

int run_timeline_command(CLI::App* timeline, const TimelineFlags& f) {
    if (const int rc = leftover(timeline)) return rc;
    if (f.out_paths.size() > 1)
        return usage("timeline", "-o is given " + std::to_string(f.out_paths.size()) + " times: a timeline writes one page");
    if (f.titles.size() > 1) return usage("timeline", "--title is given " + std::to_string(f.titles.size()) + " times");
    return run_timeline(f.log, f.out_paths.front(), f.titles.empty() ? std::string() : f.titles.front());
}

const char* const kToolFooter =
    "Every disc is followed from the pick that takes it off an input bin to the place it ends up:\n"
    "an output bin (good), a reject position G or H (rejected), or still in the machine. Lines\n"
    "without the log's stamp (a file cut in the middle, as when the module restarts its log at\n"
    "700,000 bytes) are counted and skipped.\n"
    "\n"
    "Time is the log's own clock, taken never to go back. A line whose stamp does not fit the lines\n"
    "around it (earlier than the line before it, or later than the line after it, while those two\n"
    "are in order) is out of order: it is taken to be at the time of the line before it. A line\n"
    "earlier than the one before it and followed by lines as early is where the clock was set\n"
    "back: the lines from there go on from the time of the line before, at their own distances.\n"
    "Each is named on stderr (a warning with its line numbers and how far it jumps) and counts as\n"
    "no time, so a jump back neither shortens nor lengthens a job. A step forward is time that\n"
    "passed, but for the step into the module's start-up: the module was not running, and that\n"
    "gap is in no job. A job lasts from its begin to the return of its end (an abort: to the end\n"
    "of the send thread's abort sequence); its duration is the sum of the steps between its\n"
    "lines, and the arm's busy share is the arm's busy time within them.\n"
    "\n"
    "Exit 0 when done, 1 on a usage error (an unknown command or option, a page that would be\n"
    "written over a log), 2 when the log cannot be read, holds no line of the module's format or\n"
    "is too big for a page, or the page cannot be written.";

}  // namespace

int main(int argc, char** argv) {
    CLI::App tool(
        "rovane-log: read the module's diagnostic log (Rovane_QIX.dbg) and tell what the machine did.\n"
        "Run 'rovane-log COMMAND --help' for the flags of a command.",
        "rovane-log");
    tool.require_subcommand(1, 1);
    tool.get_formatter()->label("SUBCOMMANDS", "COMMANDS");
    tool.get_formatter()->label("SUBCOMMAND", "COMMAND");
    tool.footer(kToolFooter);
    TimelineFlags timeline_flags;
    CLI::App* timeline = add_timeline_command(tool, &timeline_flags);
    std::string stats_log;
    bool json = false;
    CLI::App* stats = add_stats_command(tool, &stats_log, &json);
    ReplayFlags replay_flags;
    CLI::App* replay = add_replay_command(tool, &replay_flags);
    if (const int rc = read_first_word(tool, {timeline, stats, replay}, argc, argv); rc >= 0) return rc;
    if (const int rc = parse_command_line(tool, argc, argv); rc >= 0) return rc;
    if (timeline->parsed()) return run_timeline_command(timeline, timeline_flags);
    if (stats->parsed()) {
        if (const int rc = leftover(stats)) return rc;
        return run_stats(stats_log, json);
    }
    if (replay->parsed()) {
        if (const int rc = leftover(replay)) return rc;
        return run_replay(replay_flags);
    }
    return 1;
}
