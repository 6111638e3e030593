// The picture of a module log: one self-contained HTML page (inline SVG and CSS, no script, no
// outside resource) with a summary table of the jobs and the whole log, and for each job a
// timeline: one lane per place (input bins, picker, recorders, printer, laminator, output bins,
// reject positions), each disc's journey as one path across the lanes, the robot's errors, the
// operator's messages and answers as marks above the lanes, and the arm's busy stretches below
// them, its idle gaps left open. Hovering a path or a mark shows what it is (SVG titles); the
// tables under each timeline say the same in words.
//
// The page marks what tests and tools look for: every journey is a <path class="journey ...">
// with data-disc, every lane a <g class="lane" data-place="...">, every mark a
// <g class="mark error|message|answer" data-code="...">, and every figure of the summary table
// a <td data-figure="..."> in a row with data-segment ("1", "2", ... or "all").
#pragma once

#include <string>

#include "logview/job_summary.h"

namespace logview {

struct PageOptions {
    std::string title;    // what the page is about, e.g. "rovane-sim run --seed 1"
    std::string source;   // where the log came from, e.g. its path
};

std::string timeline_page(const LogSummary& summary, const PageOptions& options);

// Writes the page to `path`; false (with `error` saying why) when it cannot be written.
bool write_page_file(const std::string& path, const std::string& page, std::string* error);

}  // namespace logview
