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
    bool end_module = true;             // Rovane_End when the job is over
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
    int moves_done = 0;           // polls that ended with 1
    int moves_aborted = 0;        // polls that ended with 4
    int moves_unfinished = 0;     // posted moves still at 2 when the host stopped following them
    int discs_finished = 0;       // discs unloaded or rejected (move done)
    bool job_aborted = false;     // a move reported 4, or the job could not start
    bool ended = false;           // Rovane_End was called
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
    enum class Phase { Idle, Loading, Recording, Unloading, Done };
    struct Recorder {
        LONG unit = 0;
        Phase phase = Phase::Idle;
        Micros recorded_at = 0;   // when the recording ends
        bool failed = false;      // the recording failed: reject
    };

    void poll_round();
    bool post(Recorder& r, LONG action);

    Autoloader& machine_;
    RecordingHostConfig config_;
    RecordingHostResult result_;
    Rng rng_;
    std::vector<Recorder> recorders_;
    int loads_left_ = 0;
};

// The person at the machine, as a careful operator behaves when nobody has told them otherwise:
// refills an empty input stack and presses Pick, presses Pick after a disc was not picked, lets
// a paused robot go on, empties a full reject position and answers Retry, and answers Retry to
// every other question that offers it (OK to a notice). Installed after any rules of the caller,
// which therefore override it. Every answer is counted by the operator (answers_given()).
void install_default_operator(Autoloader& machine);

}  // namespace sim
