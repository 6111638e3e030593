// A recording host in the world: the application that loads the module and runs a job through
// its exports only, as a disc-recording host does — Rovane_Init with the world's recorder list,
// a job of N discs that keeps every recorder busy (load, record for a while, unload or reject),
// Rovane_CheckMoveDisc polled every 500 ms for every posted move, the job's end and Rovane_End.
//
// It runs on the world's "host" thread (start() spawns it). Every move it posts is followed
// until Rovane_CheckMoveDisc reports 1 (done) or 4 (aborted); a 4 ends the job with the abort
// code. Recording itself is the host's own business: the disc stays in the recorder for
// `record_time`, and fails (is rejected instead of unloaded) with probability `fail_rate`, drawn
// from the world's seed.
//
// A job that prints (`print_file` set) checks the file with Rovane_CheckValidPrint before it
// begins, and sends every well recorded disc through the printer to its output bin with
// Rovane_PostMoveAndPrint (code 2000, the disc's number in the order of loading) instead of
// unloading it.
//
// The module's move-and-print sequences are safe only for requests posted in batches: the first
// request of a batch carries its disc onto the printer's tray; the others, posted before that
// first print starts, set their discs down on their return bins, and the first print's "XFER:"
// brings each of them back to the printer in turn. A request posted after a batch's first print
// has started would never be transferred, and one posted while a printed disc still sits in the
// printer (or on the arm) would be carried first and dropped onto it. So the host:
//   - starts a batch with a request when no batch is in progress and no other move is on its
//     way: a load may be waiting in the printer's queue, half played, and the new request's first
//     steps, which the module plays first, would take the arm away from it in the middle;
//   - gives a request that reports done only at its end ("Record-Print" off, or the job's last
//     disc) the arm to itself: it is posted when no other move is on its way, alone in its batch,
//     and nothing else is posted until it reports done. Its sequence would otherwise wait in the
//     printer's queue behind moves posted later, which the module plays first, one of them
//     possibly arriving while the arm carries its disc;
//   - adds requests (four at most, the module's print slots) only while the batch is open: until
//     Rovane_CheckPrinting first reports 2, until the first request's move reports done (with
//     "Record-Print" on, the moment its disc left the recorder, well before its print), and, when
//     the first request reports done only at the end of its journey ("Record-Print" off, or the
//     job's last disc), for `batch_join_window` after posting it — the arm needs at least two
//     moves after that before the print starts; a load posted while the batch is in progress
//     closes it too (the load waits in the printer's queue behind the batch's print steps, and
//     "XFER:" sets the discs of later requests down on the input bin it picks from);
//   - ends the batch when it has seen each of its prints finish (Rovane_CheckPrinting turning
//     from 2 to 1 while it polls), every request that reports done only at the end has done so,
//     and `print_carry_time` has passed since the last print finished (the arm's carry of the
//     last printed disc to its output bin, which no export reports);
// and keeps a recorded disc waiting in its recorder while it may not post its print.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "harness/autoloader.h"
#include "kernel/kernel.h"
#include "kernel/rng.h"

namespace sim {

struct RecordingHostConfig {
    std::string host_name = "VeltoDVD";
    int discs = 20;                     // discs the job records
    Micros record_time = 4 * kMinute;   // how long a recording keeps a disc in its recorder
    double fail_rate = 0;               // probability that a recording fails: the disc is rejected
    Micros poll_interval = 500 * kMs;   // Rovane_CheckMoveDisc polls
    std::string print_file;             // the print file of every disc ("" = the job does not print)
    bool record_print = true;           // the settings' "Record-Print", as the module reads it
    Micros batch_join_window = 2 * kSecond;
    Micros print_carry_time = 30 * kSecond;
    bool end_module = true;             // Rovane_End when the job is over
    // A host that gives up in the middle of the job (0 = never; virtual times from the start):
    // at `abort_at` it aborts the job (code 3) and follows its moves until each reports 1 or 4;
    // at `end_at` it calls Rovane_End at once, the job still running, and follows nothing more.
    Micros abort_at = 0;
    Micros end_at = 0;
    // Called on the host thread after every poll round (for progress displays).
    std::function<void()> on_progress;
};

// What the job came to, as the host saw it through the exports.
struct RecordingHostResult {
    LONG init_result = -1;
    LONG begin_result = -1;
    int recorders = 0;            // recorders the module serves (the lines Rovane_Init returned)
    int loads_posted = 0;
    int unloads_posted = 0;       // action 200
    int rejects_posted = 0;       // action 300
    LONG valid_print = -1;        // what Rovane_CheckValidPrint said of the print file
    int prints_posted = 0;        // Rovane_PostMoveAndPrint code 2000
    int prints_seen_starting = 0; // Rovane_CheckPrinting turning to 2
    int prints_seen_finishing = 0;  // Rovane_CheckPrinting turning back to 1
    int print_batches = 0;        // batches of move-and-print requests
    int prints_joined = 0;        // requests posted into an open batch (their discs wait for "XFER:")
    int print_waits = 0;          // recorded discs kept waiting in their recorder for a batch
    int moves_done = 0;           // polls that ended with 1
    int moves_aborted = 0;        // polls that ended with 4
    int moves_unfinished = 0;     // posted moves still at 2 when the host stopped following them
    int discs_finished = 0;       // discs unloaded or rejected (move done)
    bool job_aborted = false;     // a move reported 4, or the job could not start
    bool ended = false;           // Rovane_End was called
    bool host_aborted = false;    // the host aborted the job itself (abort_at)
    bool ended_mid_job = false;   // Rovane_End came in the middle of the job (end_at)
    Micros end_took = 0;          // how long Rovane_End took to return
    Micros started = 0, finished = 0;  // virtual times of Rovane_Init and of the last call
};

class RecordingHost {
public:
    RecordingHost(Autoloader& machine, const RecordingHostConfig& config);

    // Spawns the host thread; run the world afterwards.
    void start();
    // On the host thread: the whole job. start() runs it.
    void run();

    const RecordingHostConfig& config() const { return config_; }
    const RecordingHostResult& result() const { return result_; }
    // Discs finished so far (unloaded or rejected), for progress displays.
    int discs_finished() const { return result_.discs_finished; }

private:
    enum class Phase { Idle, Loading, Recording, Unloading, Printing, Done };
    struct Recorder {
        LONG unit = 0;
        Phase phase = Phase::Idle;
        Micros recorded_at = 0;   // when the recording ends
        bool failed = false;      // the recording failed: reject
        DWORD disc_number = 0;    // the disc's number in the job, in the order of loading
        bool waiting_for_batch = false;
        bool reports_at_end = false;  // its move-and-print request reports done at the end
    };
    // The batch of move-and-print requests in progress (size 0: none).
    struct Batch {
        int size = 0;
        bool open = false;
        LONG first_unit = 0;
        bool first_reports_at_end = false;
        Micros opened_at = 0;
        int started = 0, finished = 0;
        Micros all_finished_at = 0;
        int reporting_at_end = 0;   // requests that report done at the end, not yet done
    };

    void poll_round();
    bool post(Recorder& r, LONG action);
    // Follows Rovane_CheckPrinting and the batch's progress; false when it reported the job aborted.
    bool watch_printing();
    bool may_post_print() const { return batch_.size == 0 || (batch_.open && batch_.size < 4); }
    int moves_in_flight() const {
        int n = 0;
        for (const Recorder& r : recorders_)
            n += r.phase == Phase::Loading || r.phase == Phase::Unloading || r.phase == Phase::Printing;
        return n;
    }

    Autoloader& machine_;
    RecordingHostConfig config_;
    RecordingHostResult result_;
    Rng rng_;
    std::vector<Recorder> recorders_;
    int loads_left_ = 0;
    DWORD discs_loaded_ = 0;
    DWORD last_printing_ = 0;  // Rovane_CheckPrinting's last answer (0 before the first)
    Batch batch_;
};

// The person at the machine, as a careful operator behaves when nobody has told them otherwise:
// refills an empty input stack and presses Pick (taking the finished discs off the output stacks
// first: in a job that prints, `job_prints`, a recorded disc without its label is not finished
// and stays), presses Pick after a disc was not picked, lets
// a paused robot go on, empties a full reject position and answers Retry, clears a laminator
// error or open cover at the laminator (a new ribbon when it ran out, then the "Laminate" button
// for a stopped lamination), puts a disc that fell off the laminator's tray back and answers
// Retry, clears an error or a pause the robot's panel has shown for two minutes (the module shows
// no message for some of them), and answers Retry to
// every other question that offers it (OK to a notice). Installed after any rules of the caller,
// which therefore override it. Every answer is counted by the operator (answers_given()).
void install_default_operator(Autoloader& machine, bool job_prints = false);

}  // namespace sim
