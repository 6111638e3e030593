// What a module log tells about the machine's work: the journey of every disc from the place it
// was picked to the place it ended, the arm's busy times, the robot's errors, the messages the
// operator was shown and the answers given, cut into the host's jobs, with the figures machine
// owners ask for (good and rejected discs per job and over the whole log, discs per hour, the
// share of the time the arm was busy).
//
// Everything comes from the log's own lines; nothing else is known about the machine.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "logview/log_reader.h"

namespace logview {

// A place a disc can be at. Bins 4, 2 and 5 are input bins and, once emptied, the output bins of
// the bins after them; a bin appears as two places, "in:4" for the discs on its input stack and
// "out:4" for the discs put down on it as an output bin.
struct PlaceInfo {
    std::string key;     // "in:4", "picker", "rec:A", "printer", "laminator", "out:3", "reject:G", "pos:X"
    std::string label;   // "input bin 4", "picker", "recorder A", ...
    int order = 0;       // lanes are drawn in this order, top to bottom
};
PlaceInfo place_info(const std::string& key);

enum class Outcome { Good, Rejected, InMachine, Untracked };
const char* outcome_name(Outcome o);  // "good", "rejected", "in machine", "track lost"

// A disc's stay at one place, from its arrival to its departure.
struct Stop {
    std::string place;
    int64_t from = 0;
    int64_t to = 0;        // == from of the next stop; for the last stop, when the log stops following it
    bool from_unknown = false;  // it was there before anything in the log shows it arriving
};

struct Journey {
    int id = 0;                  // 1, 2, ... in the order the discs are first seen
    std::vector<Stop> stops;
    Outcome outcome = Outcome::InMachine;
    bool seen_from_start = true; // first seen taken off an input stack as a blank disc
    bool end_assumed = false;    // its last move is not in the log (a job abort's move to the reject position)
    int prints = 0;
    int laminations = 0;
    size_t segment = 0;          // the job (segment) it is counted in: the one in which it reached its last place
};

enum class MarkKind { Error, Message, Answer };
const char* mark_kind_name(MarkKind k);  // "error", "message", "answer"

struct Mark {
    int64_t ms = 0;
    MarkKind kind = MarkKind::Error;
    std::string code;    // errors: the robot's or laminator's error name ("NOT_PICKED"); answers: the button
    std::string text;    // what it was, in words
    size_t line = 0;     // line number in the log
    bool inferred = false;  // read from what followed, not from a line of its own
};

struct Busy {
    int64_t from = 0, to = 0;
};

// The figures of one job (or of the whole log).
struct Figures {
    int discs = 0;
    int good = 0;
    int rejected = 0;
    std::map<std::string, int> rejected_at;   // "G", "H"
    int in_machine = 0;
    int untracked = 0;
    std::map<std::string, int> errors;        // by code; past kErrorCodesKept codes, the others as "OTHER"
    int messages = 0;
    int answers = 0;
    int prints = 0;
    int laminations = 0;
    int status_faults = 0;                    // status replies missing or damaged
    int64_t duration_ms = 0;                  // see "Durations" in job_summary.cpp
    int64_t busy_ms = 0;
    double discs_per_hour() const;            // finished (good + rejected) discs per hour
    double busy_share() const;                // busy / duration, 0 to 1
};
constexpr size_t kErrorCodesKept = 64;

// A stretch of the log: one host job, or discs moved outside a job (the movement test).
struct Segment {
    std::string title;          // "job 1", "job in progress when the log begins", ...
    std::string note;           // what is not in the log about it, or ""
    bool is_job = false;
    bool begin_seen = false;    // its "JobBeginsOrEnds 1" line is in the log
    bool end_seen = false;      // its end or abort is in the log
    bool aborted = false;
    long how_many = -1;         // the disc count the host gave at its begin
    int64_t from = 0, to = 0;
    std::string from_stamp, to_stamp;
    size_t first_line = 0, last_line = 0;
    Figures figures;
};

struct LogSummary {
    LogInfo log;                       // the reading's counts
    bool starts_mid_job = false;       // the first line is not the module's start-up and discs are moving
    // With detail (for a page): every disc's journey, every mark, every busy stretch of the arm and
    // every segment. Without, only the figures: memory stays the same whatever the log's size.
    std::vector<Journey> journeys;
    std::vector<Mark> marks;           // in time order
    std::vector<Busy> busy;            // the arm's busy stretches
    std::vector<Segment> segments;     // without detail, each is handed to on_segment instead
    Figures lifetime;                  // the whole log
    int jobs = 0;                      // segments that are host jobs
};

// A disc is counted in the job in which it reached its last place. A job's figures are settled
// once kRangesOpen further stretches of the log (jobs and the stretches between them) have
// begun: a disc that moves again after that (one the model still sees on an output bin) stays
// counted where it was.
constexpr size_t kRangesOpen = 16;

// Reads a log line by line, in the order of the file, keeping only what its figures need (and,
// with detail, what a page draws).
class Summarizer {
public:
    struct Options {
        bool detail = true;
        // Called with each segment once its figures are settled, in the log's order, with the
        // summary as it stands (starts_mid_job is known by the first call).
        std::function<void(const Segment&, const LogSummary&)> on_segment;
    };
    explicit Summarizer(Options options);
    ~Summarizer();
    void add(const LogLine& line);
    // The end of the log: settles what is still open.
    void finish(const LogInfo& info);
    LogSummary& summary();

private:
    class Impl;
    std::unique_ptr<Impl> impl_;
};

// The whole summary, with detail, of a log held in memory.
LogSummary summarize(const LogText& log);

// Reads the file at `path` as a stream into a summary (see read_log_file for max_bytes); false
// with `error` when it cannot be read.
bool summarize_file(const std::string& path, Summarizer::Options options, LogSummary* out, std::string* error,
                    uint64_t max_bytes = 0);

}  // namespace logview
