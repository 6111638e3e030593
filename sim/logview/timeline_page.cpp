#include "logview/timeline_page.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <sstream>

namespace logview {

namespace {

std::string escape(const std::string& raw) {
    const std::string text = display_text(raw);
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            default: out += c;
        }
    }
    return out;
}

std::string num(double v, int decimals = 1) {
    char text[32];
    std::snprintf(text, sizeof text, "%.*f", decimals, v);
    return text;
}

std::string percent(double share) { return num(share * 100, 1) + " %"; }

// Layout of one timeline, in pixels.
constexpr double kLabelWidth = 128;
constexpr double kRightPad = 36;
constexpr double kAxisHeight = 26;
constexpr double kMarkRow = 16;
constexpr double kLaneHeight = 22;
constexpr double kArmHeight = 24;
constexpr double kFinishTail = 10;       // how far a finished disc's path runs on its last lane
constexpr int64_t kIdleShown = 60000;    // idle gaps of the arm this long or longer are labelled

struct Scale {
    int64_t from = 0, to = 0;
    double px_per_ms = 0;
    double x(int64_t ms) const {
        ms = std::clamp(ms, from, to);
        return kLabelWidth + static_cast<double>(ms - from) * px_per_ms;
    }
};

std::string colour(int id) {
    const int hue = static_cast<int>(std::fmod(id * 137.508, 360.0));
    return "hsl(" + std::to_string(hue) + ",70%,38%)";
}

std::string f1(double v) { return num(v, 1); }

// Whether the disc is under way or in the machine at some time of [from, to]: a stop of it
// overlaps that time, the place a finished disc rests at (its last stop) aside.
bool passes_through(const Journey& j, int64_t from, int64_t to) {
    const bool finished = j.outcome == Outcome::Good || j.outcome == Outcome::Rejected;
    const size_t n = j.stops.size() - (finished ? 1 : 0);
    for (size_t k = 0; k < n; ++k)
        if (j.stops[k].to >= from && j.stops[k].from <= to) return true;
    return false;
}

// The journey in words, ready for the page (its places joined by arrows).
std::string journey_words(const Journey& j) {
    std::string w = "disc " + std::to_string(j.id) + " (" + outcome_name(j.outcome) + "): ";
    for (size_t i = 0; i < j.stops.size(); ++i) {
        const Stop& s = j.stops[i];
        if (i) w += " &rarr; ";
        w += escape(place_info(s.place).label) + " " + (s.from_unknown ? "(before)" : clock_of_day(s.from));
    }
    if (j.prints) w += "; printed " + std::to_string(j.prints) + "x";
    if (j.laminations) w += "; laminated " + std::to_string(j.laminations) + "x";
    if (!j.seen_from_start) w += "; first seen in the machine";
    if (j.end_assumed) w += "; its last move is not in the log (the abort puts a held disc on G)";
    return w;
}

// The ticks of the time axis: the first step that leaves at least 90 px between ticks.
int64_t tick_step(double px_per_ms) {
    static const int64_t kSteps[] = {1000,    2000,    5000,    10000,    15000,    30000,    60000,
                                     120000,  300000,  600000,  900000,   1800000,  3600000,  7200000,
                                     10800000, 21600000, 43200000, 86400000};
    for (int64_t s : kSteps)
        if (static_cast<double>(s) * px_per_ms >= 90) return s;
    return 86400000;
}

void write_svg(std::ostringstream& o, const LogSummary& sum, size_t seg_index) {
    const Segment& seg = sum.segments[seg_index];
    Scale sc;
    sc.from = seg.from;
    sc.to = std::max(seg.to, seg.from + 1000);
    const double seconds = static_cast<double>(sc.to - sc.from) / 1000.0;
    const double plot_width = std::clamp(seconds, 900.0, 12000.0);
    sc.px_per_ms = plot_width / static_cast<double>(sc.to - sc.from);

    // The journeys drawn here: those counted in this segment and those passing through it.
    std::vector<const Journey*> drawn;
    std::set<std::string> places;
    for (const Journey& j : sum.journeys) {
        if (j.segment != seg_index && !passes_through(j, seg.from, seg.to)) continue;
        drawn.push_back(&j);
        for (const Stop& s : j.stops)
            if (s.to >= seg.from && s.from <= seg.to) places.insert(s.place);
    }
    std::vector<PlaceInfo> lanes;
    for (const std::string& p : places) lanes.push_back(place_info(p));
    std::sort(lanes.begin(), lanes.end(), [](const PlaceInfo& a, const PlaceInfo& b) {
        return a.order != b.order ? a.order < b.order : a.key < b.key;
    });
    std::map<std::string, double> lane_y;

    const double marks_top = kAxisHeight;
    const double lanes_top = marks_top + 3 * kMarkRow + 8;
    for (size_t i = 0; i < lanes.size(); ++i) lane_y[lanes[i].key] = lanes_top + (i + 0.5) * kLaneHeight;
    const double lanes_bottom = lanes_top + lanes.size() * kLaneHeight;
    const double arm_top = lanes_bottom + 6;
    const double height = arm_top + kArmHeight + 22;
    const double width = kLabelWidth + plot_width + kRightPad;
    const double x0 = kLabelWidth, x1 = kLabelWidth + plot_width;

    o << "<div class=\"scroll\"><svg xmlns=\"http://www.w3.org/2000/svg\" class=\"timeline\" width=\"" << f1(width)
      << "\" height=\"" << f1(height) << "\" viewBox=\"0 0 " << f1(width) << " " << f1(height) << "\" data-segment=\""
      << seg_index + 1 << "\">\n";

    // Lanes first, under everything.
    for (size_t i = 0; i < lanes.size(); ++i) {
        const double top = lanes_top + i * kLaneHeight;
        o << "<g class=\"lane\" data-place=\"" << escape(lanes[i].key) << "\"><rect class=\"lane-bg" << (i % 2 ? " odd" : "")
          << "\" x=\"" << f1(x0) << "\" y=\"" << f1(top) << "\" width=\"" << f1(plot_width) << "\" height=\"" << kLaneHeight
          << "\"/><text class=\"lane-label\" x=\"" << f1(x0 - 8) << "\" y=\"" << f1(top + kLaneHeight / 2 + 4) << "\">"
          << escape(lanes[i].label) << "</text></g>\n";
    }

    // The time axis and its grid.
    const int64_t step = tick_step(sc.px_per_ms);
    o << "<g class=\"axis\">";
    for (int64_t t = (sc.from + step - 1) / step * step; t <= sc.to; t += step) {
        const double x = sc.x(t);
        const std::string clock = clock_of_day(t);
        o << "<line class=\"grid\" x1=\"" << f1(x) << "\" y1=\"" << f1(kAxisHeight - 6) << "\" x2=\"" << f1(x) << "\" y2=\""
          << f1(arm_top + kArmHeight) << "\"/><text class=\"tick\" x=\"" << f1(x) << "\" y=\"" << f1(kAxisHeight - 10)
          << "\">" << (step < 60000 ? clock : clock.substr(0, 5)) << "</text>";
    }
    o << "</g>\n";

    // The rows of marks.
    static const char* kRowLabels[] = {"errors", "messages", "answers"};
    for (int r = 0; r < 3; ++r)
        o << "<text class=\"lane-label row-label\" x=\"" << f1(x0 - 8) << "\" y=\"" << f1(marks_top + (r + 0.5) * kMarkRow + 4)
          << "\">" << kRowLabels[r] << "</text>";
    o << "\n";

    // The arm: busy stretches, idle gaps labelled.
    o << "<g class=\"arm\"><text class=\"lane-label\" x=\"" << f1(x0 - 8) << "\" y=\"" << f1(arm_top + kArmHeight / 2 + 4)
      << "\">arm busy</text><rect class=\"arm-bg\" x=\"" << f1(x0) << "\" y=\"" << f1(arm_top) << "\" width=\""
      << f1(plot_width) << "\" height=\"" << kArmHeight << "\"/>";
    int64_t idle_from = seg.from;
    auto idle = [&](int64_t a, int64_t b) {
        if (b - a < kIdleShown) return;
        const double xa = sc.x(a), xb = sc.x(b);
        o << "<g class=\"idle\"><title>arm idle " << duration_text(b - a) << " from " << clock_of_day(a) << "</title>"
          << "<line x1=\"" << f1(xa) << "\" y1=\"" << f1(arm_top + kArmHeight / 2) << "\" x2=\"" << f1(xb) << "\" y2=\""
          << f1(arm_top + kArmHeight / 2) << "\"/>";
        if (xb - xa > 56)
          o << "<text x=\"" << f1((xa + xb) / 2) << "\" y=\"" << f1(arm_top + kArmHeight / 2 - 3) << "\">idle "
            << duration_text(b - a) << "</text>";
        o << "</g>";
    };
    for (const Busy& b : sum.busy) {
        if (b.to < seg.from || b.from > seg.to) continue;
        idle(idle_from, std::max(idle_from, b.from));
        const double xa = sc.x(b.from), xb = sc.x(b.to);
        o << "<rect class=\"busy\" x=\"" << f1(xa) << "\" y=\"" << f1(arm_top + 3) << "\" width=\""
          << f1(std::max(0.8, xb - xa)) << "\" height=\"" << kArmHeight - 6 << "\"/>";
        idle_from = std::max(idle_from, b.to);
    }
    idle(idle_from, seg.to);
    o << "</g>\n";

    // The journeys.
    for (const Journey* j : drawn) {
        const bool finished = j->outcome == Outcome::Good || j->outcome == Outcome::Rejected;
        std::string d;
        double last_x = 0, last_y = 0;
        bool any = false;
        for (size_t k = 0; k < j->stops.size(); ++k) {
            const Stop& s = j->stops[k];
            const bool last = k + 1 == j->stops.size();
            int64_t to = s.to;
            if (s.to < seg.from || s.from > seg.to) continue;
            const double y = lane_y[s.place];
            const double xa = sc.x(s.from);
            double xb = sc.x(to);
            if (last && finished) xb = std::min(x1, xa + kFinishTail);
            d += (any ? " L" : "M") + f1(xa) + " " + f1(y) + " L" + f1(xb) + " " + f1(y);
            any = true;
            last_x = xb;
            last_y = y;
        }
        if (!any) continue;
        const bool counted = j->segment == seg_index;
        o << "<path class=\"journey " << (j->outcome == Outcome::Good       ? "good"
                                          : j->outcome == Outcome::Rejected ? "rejected"
                                          : j->outcome == Outcome::InMachine ? "in-machine"
                                                                             : "lost")
          << (counted ? "" : " carried") << (j->seen_from_start ? "" : " from-before") << "\" data-disc=\"" << j->id
          << "\" stroke=\"" << colour(j->id) << "\" d=\"" << d << "\"><title>" << journey_words(*j)
          << "</title></path>";
        // Where it started and where it ended up.
        const Stop& first = j->stops.front();
        if (j->seen_from_start && first.from >= seg.from)
            o << "<circle class=\"start\" cx=\"" << f1(sc.x(first.from)) << "\" cy=\"" << f1(lane_y[first.place])
              << "\" r=\"2.5\" fill=\"" << colour(j->id) << "\"/>";
        if (j->outcome == Outcome::Good && j->stops.back().from <= seg.to)
            o << "<circle class=\"end good\" cx=\"" << f1(last_x) << "\" cy=\"" << f1(last_y) << "\" r=\"3.5\" fill=\""
              << colour(j->id) << "\"/>";
        if (j->outcome == Outcome::Rejected && j->stops.back().from <= seg.to)
            o << "<path class=\"end rejected\" d=\"M" << f1(last_x - 4) << " " << f1(last_y - 4) << " L" << f1(last_x + 4)
              << " " << f1(last_y + 4) << " M" << f1(last_x - 4) << " " << f1(last_y + 4) << " L" << f1(last_x + 4) << " "
              << f1(last_y - 4) << "\"/>";
        o << "\n";
    }

    // Errors, messages and answers.
    for (const Mark& m : sum.marks) {
        if (m.ms < seg.from || m.ms > seg.to) continue;
        const int row = m.kind == MarkKind::Error ? 0 : m.kind == MarkKind::Message ? 1 : 2;
        const double x = sc.x(m.ms), y = marks_top + (row + 0.5) * kMarkRow;
        o << "<g class=\"mark " << mark_kind_name(m.kind) << (m.inferred ? " inferred" : "") << "\" data-code=\""
          << escape(m.code) << "\"><title>" << clock_of_day(m.ms) << " " << mark_kind_name(m.kind) << ": " << escape(m.text)
          << (m.inferred ? " (read from what followed)" : "") << " [log line " << m.line << "]</title>";
        if (m.kind == MarkKind::Error)
            o << "<line class=\"error-line\" x1=\"" << f1(x) << "\" y1=\"" << f1(y) << "\" x2=\"" << f1(x) << "\" y2=\""
              << f1(lanes_bottom) << "\"/><path d=\"M" << f1(x) << " " << f1(y - 6) << " L" << f1(x + 5.5) << " " << f1(y + 4)
              << " L" << f1(x - 5.5) << " " << f1(y + 4) << " Z\"/>";
        else if (m.kind == MarkKind::Message)
            o << "<path d=\"M" << f1(x) << " " << f1(y - 6) << " L" << f1(x + 5) << " " << f1(y) << " L" << f1(x) << " "
              << f1(y + 6) << " L" << f1(x - 5) << " " << f1(y) << " Z\"/>";
        else
            o << "<circle cx=\"" << f1(x) << "\" cy=\"" << f1(y) << "\" r=\"4.5\"/>";
        o << "</g>\n";
    }
    o << "</svg></div>\n";
}

void figure_cells(std::ostringstream& o, const Figures& f) {
    auto cell = [&](const char* name, const std::string& value) {
        o << "<td data-figure=\"" << name << "\">" << value << "</td>";
    };
    int errors = 0;
    for (const auto& [code, n] : f.errors) errors += n;
    std::string rejected = std::to_string(f.rejected);
    if (f.rejected) {
        std::string at;
        for (const auto& [place, n] : f.rejected_at) at += (at.empty() ? "" : ", ") + place + " " + std::to_string(n);
        rejected += " <span class=\"small\">(" + at + ")</span>";
    }
    cell("discs", std::to_string(f.discs));
    cell("good", std::to_string(f.good));
    o << "<td data-figure=\"rejected\" data-value=\"" << f.rejected << "\">" << rejected << "</td>";
    cell("in-machine", std::to_string(f.in_machine + f.untracked));
    cell("errors", std::to_string(errors));
    cell("messages", std::to_string(f.messages));
    cell("answers", std::to_string(f.answers));
    cell("prints", std::to_string(f.prints));
    cell("duration", duration_text(f.duration_ms));
    cell("discs-per-hour", num(f.discs_per_hour(), 1));
    cell("arm-busy", percent(f.busy_share()));
}

const char* kStyle = R"(
body { font: 14px/1.4 "DejaVu Sans", Arial, sans-serif; color: #222; margin: 18px 24px; background: #fff; }
h1 { font-size: 20px; margin: 0 0 4px; }
h2 { font-size: 16px; margin: 26px 0 6px; }
p { margin: 4px 0; }
.source, .small { color: #666; font-size: 12px; }
.note { color: #8a4b00; }
table { border-collapse: collapse; margin: 6px 0 10px; }
th, td { border: 1px solid #ccc; padding: 3px 8px; text-align: right; }
th { background: #f2f2f2; }
tbody th { text-align: left; }
tr.lifetime th, tr.lifetime td { font-weight: bold; background: #f7f7ee; }
table.events td { text-align: left; font-size: 12px; }
table.events td.kind-error { color: #b00020; }
table.events td.kind-message { color: #a05a00; }
table.events td.kind-answer { color: #1b7f2a; }
.scroll { overflow-x: auto; border: 1px solid #ddd; }
svg.timeline { display: block; font-size: 11px; }
.lane-bg { fill: #fafafa; } .lane-bg.odd { fill: #f0f2f5; }
.lane-label { text-anchor: end; fill: #333; }
.row-label { fill: #777; }
.grid { stroke: #e2e2e2; stroke-width: 1; }
.tick { text-anchor: middle; fill: #666; }
.arm-bg { fill: #f7f7f7; stroke: #ddd; }
.busy { fill: #4a5a70; }
.idle line { stroke: #c77; stroke-width: 1; stroke-dasharray: 3 3; }
.idle text { text-anchor: middle; fill: #a33; font-size: 10px; }
path.journey { fill: none; stroke-width: 2; stroke-linejoin: round; }
path.journey.rejected { stroke-dasharray: 5 3; }
path.journey.carried { stroke-opacity: 0.35; }
path.journey:hover { stroke-width: 4; }
path.end.rejected { stroke: #b00020; stroke-width: 2; fill: none; }
.mark.error path { fill: #d0021b; } .error-line { stroke: #d0021b; stroke-opacity: 0.25; stroke-width: 1; }
.mark.message path { fill: #f5a623; stroke: #a05a00; stroke-width: 0.8; }
.mark.answer circle { fill: #2e9e44; } .mark.answer.inferred circle { fill: #fff; stroke: #2e9e44; stroke-width: 2; }
.legend span { margin-right: 16px; white-space: nowrap; }
.legend i { display: inline-block; width: 12px; height: 12px; vertical-align: -2px; margin-right: 4px; }
)";

}  // namespace

std::string timeline_page(const LogSummary& s, const PageOptions& opt) {
    std::ostringstream o;
    const std::string title = opt.title.empty() ? "module log" : opt.title;
    o << "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\"><title>Disc timeline: " << escape(title)
      << "</title><style>" << kStyle << "</style></head>\n<body>\n";
    o << "<h1>Disc timeline: " << escape(title) << "</h1>\n";
    o << "<p class=\"source\">" << (opt.source.empty() ? "" : "log " + escape(opt.source) + " &middot; ") << s.log.total_lines
      << " lines, " << s.log.read << " read, <span data-figure=\"unparseable\">" << s.log.unparseable
      << "</span> unparseable, <span data-figure=\"truncated\">" << s.log.truncated << "</span> truncated";
    if (s.log.read) o << " &middot; from " << escape(s.log.first_stamp) << " to " << escape(s.log.last_stamp);
    o << "</p>\n";
    if (s.log.clock_jumps) {
        o << "<p class=\"note\" id=\"clock-jumps\" data-count=\"" << s.log.clock_jumps << "\">The log's clock jumps "
          << s.log.clock_jumps << (s.log.clock_jumps == 1 ? " time" : " times") << ": ";
        for (size_t i = 0; i < s.log.jumps.size(); ++i) {
            const ClockJump& j = s.log.jumps[i];
            o << (i ? "; " : "") << "line " << j.line << " "
              << (j.kind == ClockJump::Early  ? "is " + jump_text(j.ms) + " earlier than line " + std::to_string(j.other)
                                                    + " (out of order)"
                  : j.kind == ClockJump::Late ? "is " + jump_text(j.ms) + " later than line " + std::to_string(j.other)
                                                    + " (out of order)"
                                              : "goes back " + jump_text(j.ms) + " from line " + std::to_string(j.other)
                                                    + " (the clock was set back)");
        }
        if (s.log.jumps.size() < s.log.clock_jumps) o << "; and " << s.log.clock_jumps - s.log.jumps.size() << " more";
        o << ". Each counts as no time: a line out of order is drawn at the time of the line before it, and the lines "
             "after a clock set back go on from there at their own distances.</p>\n";
    }
    if (s.starts_mid_job)
        o << "<p class=\"note\" id=\"starts-mid-job\">The log starts in the middle of the machine's work (the module "
             "restarts its log once it has grown past 700,000 bytes): discs already in the machine are drawn from the "
             "log's start, and the first job's figures cover only what the log shows.</p>\n";
    if (!s.log.read) o << "<p class=\"note\">The log holds no line of the module's format.</p>\n";

    // The summary table: every job, then the whole log.
    o << "<h2>Summary</h2>\n<table class=\"summary\" id=\"summary\"><thead><tr><th></th><th>discs</th><th>good</th>"
         "<th>rejected</th><th>in machine</th><th>errors</th><th>messages</th><th>answers</th><th>prints</th>"
         "<th>duration</th><th>discs per hour</th><th>arm busy</th></tr></thead><tbody>\n";
    for (size_t i = 0; i < s.segments.size(); ++i) {
        o << "<tr data-segment=\"" << i + 1 << "\"><th><a href=\"#segment-" << i + 1 << "\">" << escape(s.segments[i].title)
          << "</a></th>";
        figure_cells(o, s.segments[i].figures);
        o << "</tr>\n";
    }
    o << "<tr class=\"lifetime\" data-segment=\"all\"><th>whole log (" << s.jobs << (s.jobs == 1 ? " job" : " jobs")
      << ")</th>";
    figure_cells(o, s.lifetime);
    o << "</tr>\n</tbody></table>\n";
    o << "<p class=\"small\">Good: put down on an output bin; rejected: on a reject position; in machine: still in a "
         "recorder, the printer, the laminator, the picker or waiting on a bin when the job (or the log) ends. Discs per "
         "hour count good and rejected discs. The arm is busy from a move or pick command sent to the robot until the "
         "log shows the robot idle again (the module looks about every 0.3 s, so each command counts up to that much "
         "longer than the arm moved).</p>\n";

    // Errors by code.
    o << "<h2>Errors by code</h2>\n";
    if (s.lifetime.errors.empty()) {
        o << "<p id=\"errors-by-code\">No errors.</p>\n";
    } else {
        o << "<table class=\"errors\" id=\"errors-by-code\"><thead><tr><th>code</th>";
        for (const Segment& seg : s.segments) o << "<th>" << escape(seg.title) << "</th>";
        o << "<th>whole log</th></tr></thead><tbody>\n";
        for (const auto& [code, n] : s.lifetime.errors) {
            o << "<tr data-code=\"" << escape(code) << "\"><th>" << escape(code) << "</th>";
            for (const Segment& seg : s.segments) {
                const auto it = seg.figures.errors.find(code);
                o << "<td>" << (it == seg.figures.errors.end() ? 0 : it->second) << "</td>";
            }
            o << "<td data-figure=\"errors-" << escape(code) << "\">" << n << "</td></tr>\n";
        }
        o << "</tbody></table>\n";
    }
    if (s.lifetime.status_faults)
        o << "<p class=\"small\">Status replies missing or damaged on the serial line: " << s.lifetime.status_faults
          << " (each is asked again).</p>\n";

    o << "<p class=\"legend small\"><span><i style=\"background:#4a5a70\"></i>arm busy</span>"
         "<span><i style=\"background:#d0021b\"></i>error</span><span><i style=\"background:#f5a623\"></i>message shown"
         "</span><span><i style=\"background:#2e9e44;border-radius:6px\"></i>answer (hollow: read from what followed)"
         "</span><span>one coloured path per disc, from the input bin (dot) to its output bin (disc) or reject position "
         "(cross, dashed path)</span></p>\n";

    for (size_t i = 0; i < s.segments.size(); ++i) {
        const Segment& seg = s.segments[i];
        o << "<section class=\"segment\" id=\"segment-" << i + 1 << "\" data-discs=\"" << seg.figures.discs << "\">\n<h2>"
          << escape(seg.title) << ": " << escape(seg.from_stamp.substr(0, 14)) << " to "
          << escape(seg.to_stamp.substr(6, 8)) << " (" << duration_text(seg.to - seg.from) << "), " << seg.figures.discs
          << (seg.figures.discs == 1 ? " disc" : " discs");
        if (seg.how_many >= 0) o << " (the host asked for " << seg.how_many << ")";
        if (seg.is_job) o << (seg.aborted ? ", aborted" : seg.end_seen ? ", ended" : "");
        o << "</h2>\n";
        if (!seg.note.empty()) o << "<p class=\"note\">" << escape(seg.note) << ".</p>\n";
        o << "<p class=\"small\">log lines " << seg.first_line << " to " << seg.last_line << "</p>\n";
        write_svg(o, s, i);
        // The same marks in words.
        std::ostringstream rows;
        size_t n = 0;
        for (const Mark& m : s.marks) {
            if (m.ms < seg.from || m.ms > seg.to) continue;
            ++n;
            rows << "<tr><td>" << clock_of_day(m.ms) << "</td><td class=\"kind-" << mark_kind_name(m.kind) << "\">"
                 << mark_kind_name(m.kind) << "</td><td>" << escape(m.code) << "</td><td>" << escape(m.text)
                 << (m.inferred ? " <span class=\"small\">(read from what followed)</span>" : "") << "</td><td>" << m.line
                 << "</td></tr>\n";
        }
        if (n)
            o << "<table class=\"events\"><thead><tr><th>time</th><th>kind</th><th>code</th><th>what</th><th>log line</th>"
                 "</tr></thead><tbody>\n"
              << rows.str() << "</tbody></table>\n";
        o << "</section>\n";
    }
    if (s.segments.empty()) o << "<p>No disc moved in this log.</p>\n";
    // Marks outside every job (start-up dialogs, say): listed, and counted in the whole log's row.
    std::ostringstream outside;
    for (const Mark& m : s.marks) {
        bool in_job = false;
        for (const Segment& seg : s.segments) in_job = in_job || (m.ms >= seg.from && m.ms <= seg.to);
        if (!in_job)
            outside << "<tr><td>" << clock_of_day(m.ms) << "</td><td class=\"kind-" << mark_kind_name(m.kind) << "\">"
                    << mark_kind_name(m.kind) << "</td><td>" << escape(m.code) << "</td><td>" << escape(m.text) << "</td><td>"
                    << m.line << "</td></tr>\n";
    }
    if (!outside.str().empty())
        o << "<h2>Outside the jobs</h2>\n<table class=\"events\" id=\"outside-jobs\"><thead><tr><th>time</th><th>kind</th>"
             "<th>code</th><th>what</th><th>log line</th></tr></thead><tbody>\n"
          << outside.str() << "</tbody></table>\n";
    o << "</body></html>\n";
    return o.str();
}

bool write_page_file(const std::string& path, const std::string& page, std::string* error) {
    auto failed = [&](int err) {
        *error = "cannot write the page to '" + path + "': " + (err ? std::strerror(err) : "it is a folder");
        return false;
    };
    auto write_all = [&](int fd) {
        for (size_t done = 0; done < page.size();) {
            const ssize_t n = write(fd, page.data() + done, page.size() - done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return n < 0 ? errno : EIO;
            done += static_cast<size_t>(n);
        }
        return 0;
    };
    // Written beside the target under another name and renamed over it when complete, so a page
    // that cannot be written whole leaves what was there; through a link, to the file it names.
    // A target that is not a plain file (a pipe, /dev/stdout) is written to directly.
    std::string target = path;
    struct stat st {};
    if (lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        if (char* real = realpath(path.c_str(), nullptr)) {
            target = real;
            std::free(real);
        }
    }
    auto write_in_place = [&] {
        const int fd = open(target.c_str(), O_WRONLY | O_TRUNC);
        if (fd < 0) return failed(errno);
        const int err = write_all(fd);
        if (close(fd) != 0 && !err) return failed(errno);
        return err ? failed(err) : true;
    };
    const bool exists = stat(target.c_str(), &st) == 0;
    if (exists && S_ISDIR(st.st_mode)) return failed(0);
    if (exists && !S_ISREG(st.st_mode)) return write_in_place();
    const size_t slash = target.rfind('/');
    const std::string dir = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
    const std::string base = target.substr(dir.size());
    std::string temp;
    int fd = -1;
    for (int n = 0; fd < 0; ++n) {
        temp = dir + "." + base + ".part-" + std::to_string(getpid()) + "-" + std::to_string(n);
        fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0666);  // the usual mode, as the umask says
        if (fd < 0 && exists && errno == EACCES) return write_in_place();  // a folder we may not add to
        if (fd < 0 && (errno != EEXIST || n == 100)) return failed(errno);
    }
    int err = write_all(fd);
    if (!err && exists && fchmod(fd, st.st_mode & 07777) != 0) err = errno;  // the mode of the page it replaces
    if (close(fd) != 0 && !err) err = errno;
    if (!err && rename(temp.c_str(), target.c_str()) != 0) err = errno;
    if (err) {
        unlink(temp.c_str());
        return failed(err);
    }
    return true;
}

}  // namespace logview
