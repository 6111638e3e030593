#include "kernel/kernel.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "kernel/fiber.h"

namespace sim {

Kernel* g_the_kernel = nullptr;

namespace {
// Simulated threads get a Windows-sized stack: module code keeps its buffers on the stack.
constexpr size_t kStackSize = 1024 * 1024;
}  // namespace

void no_kernel() {
    std::fprintf(stderr, "simulated world: no kernel exists in this process\n");
    std::abort();
}

Kernel::Kernel(const KernelConfig& config) : config_(config), rng_(config.seed) {
    update_plain_sleep_limit();
    if (g_the_kernel) {
        std::fprintf(stderr, "simulated world: only one kernel may exist at a time\n");
        std::abort();
    }
    g_the_kernel = this;
}

Kernel::~Kernel() {
    for (auto& t : threads_) fiber_destroy(t->fiber);
    if (scheduler_fiber_) fiber_destroy(scheduler_fiber_);
    g_the_kernel = nullptr;
}

std::string Kernel::time_text() const {
    char buf[48];
    std::snprintf(buf, sizeof buf, "t=%llu.%06llus", static_cast<unsigned long long>(now_ / kSecond),
                  static_cast<unsigned long long>(now_ % kSecond));
    return buf;
}

void Kernel::record(const std::string& kind, std::string text) {
    static const std::string kWorld = "world";  // (a reference either way: no copy of the name)
    transcript_.add(now_, current_ ? current_->name : kWorld, kind, std::move(text));
}

void Kernel::note_time_query() {
    if (!current_) return;
    if (++current_->spin_guard >= config_.spin_guard_limit) {
        current_->spin_guard = 0;
        sleep_for(kMs, "time query loop");
    }
}

SimThread* Kernel::spawn(const std::string& name, std::function<void()> body) {
    auto t = std::make_unique<SimThread>();
    t->id = next_thread_id_;
    next_thread_id_ += 4;
    t->name = name.empty() ? "thread-" + std::to_string(t->id) : name;
    t->body = std::move(body);
    t->state = ThreadState::Runnable;
    SimThread* raw = t.get();
    threads_.push_back(std::move(t));
    threads_by_id_[raw->id] = raw;
    ++threads_created_;
    ++threads_alive_;
    runnable_.push_back(raw);
    return raw;
}

SimThread* Kernel::find_thread(uint32_t id) const {
    const auto it = threads_by_id_.find(id);
    return it == threads_by_id_.end() ? nullptr : it->second;
}

void Kernel::thread_handle_closed(SimThread* t) {
    if (t->handles > 0) --t->handles;
    reclaim_if_done(t);
}

void Kernel::reclaim_if_done(SimThread* t) {
    // Only a thread that returned: a terminated one may still sit in a wait list (a critical
    // section's, a serial port's), and its stack stays mapped (see terminate()).
    if (!t->reclaimable || t->state != ThreadState::Finished || t->handles > 0 || t == current_) return;
    threads_by_id_.erase(t->id);
    // Its body (and what that holds) and its stack are gone; timers it left behind look it up by
    // id and find nothing.
    const auto it = std::find_if(threads_.begin(), threads_.end(), [t](const auto& p) { return p.get() == t; });
    if (it != threads_.end()) threads_.erase(it);
}

void Kernel::make_runnable(SimThread* t) {
    t->state = ThreadState::Runnable;
    runnable_.push_back(t);
}

void Kernel::switch_to_scheduler() {
    SimThread* self = current_;
    fiber_switch(self->fiber, scheduler_fiber_);
}

void Kernel::fiber_entry() {
    Kernel& k = kernel();
    SimThread* self = k.current_;
    self->body();
    k.exit_current(0);
}

void Kernel::run_thread(SimThread* t) {
    current_ = t;
    t->state = ThreadState::Running;
    if (!t->fiber) t->fiber = fiber_create(&Kernel::fiber_entry, kStackSize);
    fiber_switch(scheduler_fiber_, t->fiber);
    current_ = nullptr;
    if (t->state == ThreadState::Finished) {
        // Its stack is no longer needed; nothing on it is alive any more.
        fiber_destroy(t->fiber);
        t->fiber = nullptr;
        t->body = nullptr;
        reclaim_if_done(t);
    }
}

void Kernel::offer_switch() {
    if (!rng_.chance(config_.switch_probability)) return;
    make_runnable(current_);
    switch_to_scheduler();
}

void Kernel::sleep_and_wait(Micros d, const char* call) {
    if (!current_) {
        std::fprintf(stderr, "simulated world: %s called outside a simulated thread\n", call);
        std::abort();
    }
    current_->spin_guard = 0;
    if (d == 0) {
        make_runnable(current_);
        switch_to_scheduler();
        return;
    }
    const Micros deadline = now_ + d;
    block(call, &deadline);
}

bool Kernel::block(const char* call, const Micros* deadline) {
    SimThread* t = current_;
    if (!t) {
        std::fprintf(stderr, "simulated world: %s would block outside a simulated thread\n", call);
        std::abort();
    }
    t->spin_guard = 0;
    t->state = ThreadState::Blocked;
    t->waiting_in = call;
    t->timed_out = false;
    ++t->block_serial;
    // The deadline's timer takes its place among the events now, but goes into the queue only
    // when the scheduler is to see it (see wait_in_place).
    bool timer_pending = deadline != nullptr;
    const uint64_t timer_seq = deadline ? take_place() : 0;
    if (deadline) {
        t->has_deadline = true;
        t->wake_at = *deadline;
    }
    if (!wait_in_place(t, deadline ? *deadline : 0, timer_seq, &timer_pending)) {
        if (timer_pending) push_block_timer(t, *deadline, timer_seq);
        fiber_switch(t->fiber, scheduler_fiber_);
    }
    t->has_deadline = false;
    t->waiting_in = "";
    return !t->timed_out;
}

void Kernel::push_block_timer(SimThread* t, Micros when, uint64_t seq) {
    // By id: the thread may be woken early, return and be let go before this time comes.
    push_event(when, seq, [this, id = t->id, serial = t->block_serial] {
        SimThread* t = find_thread(id);
        if (t && t->state == ThreadState::Blocked && t->block_serial == serial) {
            t->timed_out = true;
            make_runnable(t);
        }
    });
}

// A blocked thread that nobody else could take the processor from waits where it is: the
// scheduler's loop is run here, on the thread's own stack, step for step as run() would run it
// (events in their order on the world's behalf, the clock moved to the next event), until the
// thread may go on, and only when the scheduler would choose among threads, stop a run or find
// nothing left to do is it asked to take over. Most of a job's waits are short waits of one
// thread for the robot's reply: this saves each of them two stack switches and its timer's trip
// through the queue. The pending timer (`timer_seq`, at `deadline`) is fired here in its turn;
// true when the thread runs on (its timer fired, or put in the queue to find it woken), false
// when the scheduler must take over (the timer still pending is left to the caller).
bool Kernel::wait_in_place(SimThread* t, Micros deadline, uint64_t timer_seq, bool* timer_pending) {
    current_ = nullptr;  // events run on the world's behalf
    for (;;) {
        if (failed_ || (t->state != ThreadState::Blocked && t->state != ThreadState::Runnable)) break;
        if (until_ && *until_ && (*until_)()) break;
        // The thread's own timer, when it comes before everything queued.
        const bool timer_first = *timer_pending && (events_.empty() || events_.top().when > deadline ||
                                                    (events_.top().when == deadline && events_.top().seq > timer_seq));
        if (timer_first && deadline <= now_) {
            *timer_pending = false;
            if (t->state == ThreadState::Blocked) {
                t->timed_out = true;
                make_runnable(t);
            }
            continue;
        }
        if (event_due()) {
            run_next_event();
            continue;
        }
        if (!runnable_.empty()) {
            if (runnable_.size() != 1 || runnable_[0] != t) break;
            runnable_.clear();
            if (*timer_pending) {
                push_block_timer(t, deadline, timer_seq);  // woken early: it finds nothing to do
                *timer_pending = false;
            }
            current_ = t;
            t->state = ThreadState::Running;
            return true;
        }
        if (!*timer_pending && events_.empty()) break;
        const Micros next = timer_first ? deadline : events_.top().when;
        if (next > time_limit_ || next > config_.budget) break;
        now_ = next;
    }
    current_ = t;
    return false;
}

void Kernel::wake(SimThread* t) {
    if (t && t->state == ThreadState::Blocked) make_runnable(t);
}

void Kernel::exit_current(uint32_t exit_code) {
    SimThread* t = current_;
    t->state = ThreadState::Finished;
    t->exit_code = exit_code;
    --threads_alive_;
    switch_to_scheduler();
    std::abort();  // a finished thread is never resumed
}

void Kernel::terminate(SimThread* t, uint32_t exit_code) {
    if (t == current_) {
        t->state = ThreadState::Terminated;
        t->exit_code = exit_code;
        --threads_alive_;
        switch_to_scheduler();
        std::abort();
    }
    if (t->state == ThreadState::Finished || t->state == ThreadState::Terminated) return;
    runnable_.erase(std::remove(runnable_.begin(), runnable_.end(), t), runnable_.end());
    t->state = ThreadState::Terminated;
    t->exit_code = exit_code;
    --threads_alive_;
    // Its stack stays mapped until the world is torn down, as a terminated Windows thread's
    // resources are not reclaimed by anything the thread itself would have run.
}

void Kernel::at(Micros when, Task fn) {
    if (when < now_) when = now_;
    push_event(when, event_seq_++, std::move(fn));
}

void Kernel::run_next_event() {
    // Out of its slot first: the function may schedule events, which reuse slots.
    const uint32_t slot = events_.top().slot;
    events_.pop();
    Task fn = std::move(event_tasks_[slot]);
    free_event_slots_.push_back(slot);
    fn();
}

void Kernel::push_event(Micros when, uint64_t seq, Task fn) {
    uint32_t slot;
    if (free_event_slots_.empty()) {
        slot = static_cast<uint32_t>(event_tasks_.size());
        event_tasks_.push_back(std::move(fn));
    } else {
        slot = free_event_slots_.back();
        free_event_slots_.pop_back();
        event_tasks_[slot] = std::move(fn);
    }
    events_.push(QueuedEvent{when, seq, slot});
}

void Kernel::fail(const std::string& report) {
    if (!failed_) {
        failed_ = true;
        update_plain_sleep_limit();
        fail_report_ = report;
        record("fail", report);
    }
    if (current_) {
        current_->state = ThreadState::Blocked;
        current_->waiting_in = "stopped: the run failed";
        switch_to_scheduler();
        std::abort();  // never resumed
    }
}

std::string Kernel::thread_report() const {
    std::string out;
    for (const auto& t : threads_) {
        if (t->state == ThreadState::Finished || t->state == ThreadState::Terminated) continue;
        char id[16];
        std::snprintf(id, sizeof id, "0x%x", t->id);
        out += "  thread '" + t->name + "' (id " + id + ") ";
        if (t->state == ThreadState::Blocked) {
            out += std::string("waits in ") + (*t->waiting_in ? t->waiting_in : t->current_call);
            if (t->has_deadline) {
                char until[48];
                std::snprintf(until, sizeof until, " until t=%llu.%06llus",
                              static_cast<unsigned long long>(t->wake_at / kSecond),
                              static_cast<unsigned long long>(t->wake_at % kSecond));
                out += until;
            }
        } else {
            out += std::string("is runnable in ") + t->current_call;
        }
        out += "\n";
    }
    return out;
}

std::string Kernel::recent_events() const {
    // Newest last; the entries that hold a report themselves ("fail", "deadlock") are left out.
    const auto& entries = transcript_.entries();
    std::vector<const TranscriptEntry*> tail;
    for (auto it = entries.rbegin(); it != entries.rend() && tail.size() < kReportedEvents; ++it)
        if (it->kind != "fail" && it->kind != "deadlock") tail.push_back(&*it);
    if (tail.empty()) return "";
    std::string out = "  last events of the transcript:\n";
    for (auto it = tail.rbegin(); it != tail.rend(); ++it) out += "    " + Transcript::format(**it) + "\n";
    return out;
}

bool Kernel::any_thread_alive() const { return threads_alive_ > 0; }

RunResult Kernel::run(const std::function<bool()>& until) {
    RunResult result;
    if (running_) {
        std::fprintf(stderr, "simulated world: run() called from inside a run\n");
        std::abort();
    }
    if (!scheduler_fiber_) scheduler_fiber_ = fiber_for_current_os_thread();
    running_ = true;
    until_ = &until;
    for (;;) {
        if (failed_) {
            result.outcome = Outcome::Failed;
            result.report = "run stopped at " + time_text() + " (seed " + std::to_string(config_.seed) +
                            "): " + fail_report_ + "\n" + thread_report() + recent_events();
            break;
        }
        if (until && until()) break;
        // A plain run ends with the last simulated thread, whatever devices still have scheduled.
        if (time_limit_ == ~Micros(0) && !threads_.empty() && !any_thread_alive()) break;
        if (event_due()) {
            run_next_event();
            continue;
        }
        if (!runnable_.empty()) {
            const size_t i = runnable_.size() == 1 ? 0 : static_cast<size_t>(rng_.below(runnable_.size()));
            SimThread* t = runnable_[i];
            runnable_.erase(runnable_.begin() + static_cast<long>(i));
            run_thread(t);
            continue;
        }
        if (!events_.empty()) {
            const Micros next = events_.top().when;
            if (next > time_limit_) {
                now_ = time_limit_;
                break;
            }
            if (next > config_.budget) {
                now_ = config_.budget;
                result.outcome = Outcome::Budget;
                result.report = "virtual-time budget used up at " + time_text() + " (seed " +
                                std::to_string(config_.seed) + ")\n" + thread_report() + recent_events();
                break;
            }
            now_ = next;
            continue;
        }
        if (any_thread_alive()) {
            result.outcome = Outcome::Deadlock;
            result.report = "deadlock at " + time_text() + " (seed " + std::to_string(config_.seed) +
                            "): no thread can run and nothing is scheduled\n" + thread_report();
            record("deadlock", result.report);
            result.report += recent_events();
        } else if (time_limit_ != ~Micros(0)) {
            now_ = std::max(now_, time_limit_);
        }
        break;
    }
    running_ = false;
    until_ = nullptr;
    for (auto& hook : run_end_hooks_) hook();
    return result;
}

RunResult Kernel::run_until_time(Micros t) {
    time_limit_ = t;
    update_plain_sleep_limit();
    RunResult r = run();
    time_limit_ = ~Micros(0);
    update_plain_sleep_limit();
    if (r.outcome == Outcome::Finished && now_ < t && !failed_) now_ = t;
    return r;
}

}  // namespace sim
