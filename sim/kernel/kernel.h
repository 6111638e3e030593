// The kernel of the simulated world: virtual time, simulated threads, timed events and the
// transcript.
//
// Exactly one simulated thread runs at any moment. Simulated threads are fibers (ucontext) on
// the one OS thread that called Kernel::run(); the scheduler itself runs on that OS thread's own
// stack. A simulated thread gives up the processor only inside Win32 calls: when it blocks
// (sleeps, waits for a lock, a window, a serial byte ...) or at a yield point, where the seeded
// PRNG may choose another runnable thread. When no thread can run, the clock jumps to the next
// timed event. Same seed and same inputs give the same interleaving, byte for byte.
#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "kernel/event_queue.h"
#include "kernel/rng.h"
#include "kernel/task.h"
#include "kernel/transcript.h"

namespace sim {

using Micros = uint64_t;  // virtual time, microseconds since the world started

constexpr Micros kMs = 1000;
constexpr Micros kSecond = 1000 * kMs;
constexpr Micros kMinute = 60 * kSecond;
constexpr Micros kHour = 60 * kMinute;

struct Fiber;

enum class ThreadState { Runnable, Running, Blocked, Finished, Terminated };

// One simulated thread. Owned by the kernel; pointers stay valid until the kernel is destroyed,
// except for a reclaimable thread's once it has finished and its last handle is closed (see
// `reclaimable`): hold such a thread by its id, or through a handle.
struct SimThread {
    uint32_t id = 0;            // the thread id GetCurrentThreadId returns
    std::string name;           // for transcripts and reports
    ThreadState state = ThreadState::Runnable;
    // The call it blocks in, for deadlock reports: "" when it does not block. The text belongs to
    // the blocking call (it lives as long as the block does, on the thread's own stack or longer).
    const char* waiting_in = "";
    Micros wake_at = 0;         // when it blocks with a deadline
    bool has_deadline = false;
    bool timed_out = false;     // set when the deadline, not a wake(), ended the block
    uint64_t block_serial = 0;  // counts blocks, so that a stale timer cannot wake a later block
    uint32_t last_error = 0;    // GetLastError
    uint32_t exit_code = 259;   // STILL_ACTIVE until the thread ends
    void* win32_handle = nullptr;  // the HANDLE CreateThread gave out, if any
    // Set for the threads the module creates (CreateThread): once such a thread has returned and
    // no handle refers to it any more, the kernel lets its record go, so that the threads of a
    // long job do not pile up. The threads the world spawns (the host's) stay to the end.
    bool reclaimable = false;
    int handles = 0;            // open handles that refer to it
    std::function<void()> body;
    Fiber* fiber = nullptr;
    unsigned spin_guard = 0;    // time queries without time passing (see Kernel::note_time_query)
    const char* current_call = "";  // the Win32 call it is in (or last made)
};

enum class Outcome {
    Finished,  // every simulated thread ended (or the stop condition held)
    Deadlock,  // threads remain but none can run and nothing is scheduled
    Budget,    // the virtual-time budget ran out
    Failed,    // a device, the operator or a check stopped the run (Kernel::fail)
};

struct RunResult {
    Outcome outcome = Outcome::Finished;
    std::string report;  // empty when finished; otherwise names threads, calls, time and seed
    bool ok() const { return outcome == Outcome::Finished; }
};

struct KernelConfig {
    uint64_t seed = 1;
    Micros budget = 48 * kHour;     // virtual time after which a run stops with a report
    // Probability that a yield point hands the processor to another runnable thread.
    double switch_probability = 0.25;
    // A serial read that finds no byte costs this much virtual time (see serial.cpp).
    Micros empty_read_cost = 250;
    // A thread that asks for the time this many times in a row without any time passing is
    // charged one millisecond, so that a loop which polls the clock without sleeping still
    // sees time move.
    unsigned spin_guard_limit = 64;
};

class Kernel {
public:
    explicit Kernel(const KernelConfig& config);
    ~Kernel();
    Kernel(const Kernel&) = delete;
    Kernel& operator=(const Kernel&) = delete;

    const KernelConfig& config() const { return config_; }
    uint64_t seed() const { return config_.seed; }
    Rng& rng() { return rng_; }
    Transcript& transcript() { return transcript_; }

    // --- time -------------------------------------------------------------------------------
    Micros now() const { return now_; }
    // Called by the time queries (GetTickCount, GetLocalTime): see KernelConfig::spin_guard_limit.
    void note_time_query();

    // --- threads ----------------------------------------------------------------------------
    // Creates a runnable simulated thread. May be called before run() or from any simulated
    // thread or event.
    SimThread* spawn(const std::string& name, std::function<void()> body);
    // The simulated thread now running, or nullptr when called from the scheduler (events,
    // setup code outside run()).
    SimThread* current() const { return current_; }
    bool in_thread() const { return current_ != nullptr; }
    SimThread* find_thread(uint32_t id) const;
    // The threads not yet let go (see SimThread::reclaimable), in the order they were created.
    const std::vector<std::unique_ptr<SimThread>>& threads() const { return threads_; }
    // Threads created so far, including those whose records were let go.
    uint64_t threads_created() const { return threads_created_; }
    // A handle to the thread was opened or closed: its record stays while any handle is open.
    void thread_handle_opened(SimThread* t) { ++t->handles; }
    void thread_handle_closed(SimThread* t);

    // A point where another runnable thread may be chosen (seeded). Cheap when alone.
    [[gnu::always_inline]] void yield_point() {
        if (current_ && (!runnable_.empty() || event_due())) offer_switch();
    }
    // Blocks the current thread for d of virtual time (d == 0 still yields). Alone and with
    // nothing scheduled before the deadline, nothing else can happen in between: the clock simply
    // moves on, without a switch to the scheduler (inline: a polling loop sleeps so at every turn).
    [[gnu::always_inline]] void sleep_for(Micros d, const char* call) {
        if (current_ && d != 0 && runnable_.empty() && now_ + d <= plain_sleep_limit_ &&
            (events_.empty() || events_.top().when > now_ + d)) {
            current_->spin_guard = 0;
            now_ += d;
            return;
        }
        sleep_and_wait(d, call);
    }
    // Blocks the current thread until wake() or, with a deadline, until that time. Returns true
    // when woken, false on time-out. `call` names the Win32 call for deadlock reports.
    bool block(const char* call, const Micros* deadline = nullptr);
    bool block(const std::string& call, const Micros* deadline = nullptr) { return block(call.c_str(), deadline); }
    // Makes a blocked thread runnable again (no effect on a thread that is not blocked).
    void wake(SimThread* t);
    // Ends the current thread (its function has returned, or it terminated itself).
    [[noreturn]] void exit_current(uint32_t exit_code);
    // Stops another thread for good (TerminateThread). It never runs again.
    void terminate(SimThread* t, uint32_t exit_code);

    // --- events -----------------------------------------------------------------------------
    // Runs fn on the scheduler at virtual time `when` (>= now). Events at the same time run in
    // the order they were scheduled. Events must not block.
    void at(Micros when, Task fn);
    void after(Micros delay, Task fn) { at(now_ + delay, std::move(fn)); }
    // A place among the events, taken now for an event that is queued later, or not at all:
    // at_place() queues `fn` at `when` to run where an event scheduled at the moment of
    // take_place() for that time would have run (among events at the same time, after those
    // scheduled before that moment and before those scheduled after it). A place serves once.
    uint64_t take_place() { return event_seq_++; }
    void at_place(Micros when, uint64_t place, Task fn) { push_event(when < now_ ? now_ : when, place, std::move(fn)); }

    // --- running ----------------------------------------------------------------------------
    // Runs until every simulated thread has ended (events still scheduled then are left for a
    // later run), or `until` returns true (checked between steps), or deadlock, budget or
    // failure. `until` only looks at the world: it may be asked more than once between two
    // steps.
    RunResult run(const std::function<bool()>& until = nullptr);
    // Runs until virtual time t (events at t included), then returns with Finished.
    RunResult run_until_time(Micros t);
    // Stops the run with Outcome::Failed and this report. From a simulated thread it does not
    // return (the thread is parked); from an event it returns and the run stops afterwards.
    void fail(const std::string& report);
    bool failed() const { return failed_; }

    // Called whenever a run returns (devices flush what they gather for the transcript).
    void on_run_end(std::function<void()> fn) { run_end_hooks_.push_back(std::move(fn)); }

    // A description of every unfinished thread and what it waits in.
    std::string thread_report() const;
    // The most recent transcript entries, as the end of a deadlock, budget or failure report
    // (the transcript may no longer hold the run's beginning, and need not be printed in full).
    std::string recent_events() const;
    static constexpr size_t kReportedEvents = 20;
    std::string time_text() const;  // "t=12.345678s"

    // Records an outside event in the transcript under the current thread's name.
    void record(const std::string& kind, std::string text);

private:
    // The queue holds small entries; their functions wait in `event_tasks_`, in the slot the
    // entry names, so that reordering the queue never moves a function.
    bool event_due() const { return !events_.empty() && events_.top().when <= now_; }

    void switch_to_scheduler();
    void offer_switch();  // yield_point() with another thread or a due event about
    void sleep_and_wait(Micros d, const char* call);  // sleep_for() that may not just move the clock
    void update_plain_sleep_limit() {
        plain_sleep_limit_ = failed_ ? 0 : std::min(config_.budget, time_limit_);
    }
    void push_event(Micros when, uint64_t seq, Task fn);
    void run_next_event();  // the queue's first, which is due
    void push_block_timer(SimThread* t, Micros when, uint64_t seq);
    bool wait_in_place(SimThread* t, Micros deadline, uint64_t timer_seq, bool* timer_pending);
    void run_thread(SimThread* t);
    void make_runnable(SimThread* t);
    bool any_thread_alive() const;
    void reclaim_if_done(SimThread* t);
    static void fiber_entry();

    KernelConfig config_;
    Rng rng_;
    Transcript transcript_;
    Micros now_ = 0;
    std::vector<std::unique_ptr<SimThread>> threads_;
    std::unordered_map<uint32_t, SimThread*> threads_by_id_;
    uint64_t threads_created_ = 0;
    std::vector<SimThread*> runnable_;
    SimThread* current_ = nullptr;
    EventQueue events_;
    std::vector<Task> event_tasks_;
    std::vector<uint32_t> free_event_slots_;
    size_t threads_alive_ = 0;  // neither finished nor terminated
    uint64_t event_seq_ = 0;
    uint32_t next_thread_id_ = 0x104;
    bool failed_ = false;
    std::string fail_report_;
    bool running_ = false;
    Fiber* scheduler_fiber_ = nullptr;
    Micros time_limit_ = ~Micros(0);  // run_until_time's limit, respected by the sleep fast path
    // The latest deadline to which sleep_for() may just move the clock: the budget or
    // run_until_time's limit, whichever comes first; 0 once the run failed.
    Micros plain_sleep_limit_ = 0;
    const std::function<bool()>* until_ = nullptr;  // the running run()'s stop condition
    std::vector<std::function<void()>> run_end_hooks_;
};

// The kernel of the world that this process simulates. One world per process.
// (Inline: the world's calls ask for it several times each.)
extern Kernel* g_the_kernel;
[[noreturn]] void no_kernel();
inline Kernel& kernel() {
    if (!g_the_kernel) no_kernel();
    return *g_the_kernel;
}
inline bool has_kernel() { return g_the_kernel != nullptr; }

}  // namespace sim
