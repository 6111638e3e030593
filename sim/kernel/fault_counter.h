// Injected faults of the world's calls: a "fail call N" counter, in the manner of a test file
// system's fault counter, and the families of calls the counters watch.
//
// A counter is armed with N: the Nth call from then on fails, once, a given number of times in a
// row, or (a lasting fault) with every call after it too. It may name a target (a file, a port, a
// recorder unit; empty: every call of its family) and the code the failing call returns (0: the
// code the call gives for such a failure by its nature). Every call of a family asks its counters
// through inject(); a counter counts the calls it saw and the faults it fired, so that a sweep can
// tell when N went past the last call of a run (nothing fired).
//
//   sim::FaultCounter c;
//   c.arm(3, false);            // the third call from now fails, once
//   c.should_fail();            // false, false, true, false ...
//   c.arm_next(2);              // the next two calls fail ("count" of the older switches)
//
// Disarmed (the default) it only counts. It does no Win32 work itself: the call that asks decides
// how it fails; inject() writes the transcript line.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace sim {

// How the code of a failing call reads in the transcript: a Win32 error ("fails with error 112")
// or a result code of one of the host's libraries ("fails with 31").
enum class FaultCode { Win32Error, Result };

class FaultCounter {
public:
    static constexpr uint64_t kEvery = UINT64_MAX;  // times: every call from the Nth on

    explicit FaultCounter(std::string target = "") : target_(std::move(target)) {}

    // The `n`th call from now fails (n >= 1; 0 disarms); `lasting`: so does every later call.
    void arm(uint64_t n, bool lasting) { arm_times(n, lasting ? kEvery : 1); }
    // The `n`th call from now fails and the `times` - 1 calls after it too (kEvery: every later
    // call; n or times 0 disarms).
    void arm_times(uint64_t n, uint64_t times) {
        countdown_ = times ? n : 0;
        times_ = countdown_ ? times : 1;
        left_ = 0;
        fired_before_ = fired_;
    }
    // The older switches' count: the next `count` calls fail (count < 0: every call from now on,
    // 0: none).
    void arm_next(int count) { arm_times(count ? 1 : 0, count < 0 ? kEvery : static_cast<uint64_t>(count)); }
    void disarm() { arm_times(0, 0); }
    bool armed() const { return countdown_ > 0 || left_ > 0; }
    bool lasting() const { return times_ == kEvery; }

    // "" for every call of the family, or the one target (a path, a port, a unit) it fails.
    const std::string& target() const { return target_; }
    // The code the failing call returns; 0: the call's own code for such a failure.
    long error() const { return error_; }
    void set_error(long error) { error_ = error; }
    // Whether the failing call's own transcript line tells of the fault ("write fault on COM1",
    // "open ... failed: error 5"), as the older switches had it, rather than a "fault" line.
    bool told_by_call() const { return told_by_call_; }
    void set_told_by_call(bool told) { told_by_call_ = told; }

    // Counts one call of the family; true when this call is to fail.
    bool should_fail() {
        ++calls_;
        if (countdown_ > 0 && --countdown_ == 0) left_ = times_;
        if (left_ == 0) return false;
        ++fired_;
        if (left_ != kEvery) --left_;
        return true;
    }

    uint64_t calls() const { return calls_; }  // calls seen, failed or not
    uint64_t fired() const { return fired_; }  // calls failed
    // Calls still to fail after the last one that did (kEvery: every call).
    uint64_t still_to_fail() const { return left_; }

    // Whether the call that just failed is worth a transcript line: every failure of a counted
    // fault, or the first call of a lasting one (a polled call would otherwise fill the transcript).
    bool worth_noting() const { return !lasting() || fired_ - fired_before_ == 1; }
    // "(injected, call 17)" or "(injected, call 17 and every call after it)" for that line; a
    // fault of several calls adds how many are still to fail: "(injected, call 17, 2 more to fail)".
    std::string noted() const {
        if (lasting()) return "(injected, call " + std::to_string(calls_) + " and every call after it)";
        if (times_ > 1) return "(injected, call " + std::to_string(calls_) + ", " + std::to_string(left_) + " more to fail)";
        return "(injected, call " + std::to_string(calls_) + ")";
    }

private:
    std::string target_;
    long error_ = 0;
    bool told_by_call_ = false;
    uint64_t countdown_ = 0;     // calls until the fault (0: not armed)
    uint64_t times_ = 1;         // calls the fault lasts
    uint64_t left_ = 0;          // calls of the fault still to fail
    uint64_t calls_ = 0;
    uint64_t fired_ = 0;
    uint64_t fired_before_ = 0;  // fired_ when last armed
};

// The counters of one family of calls. A call asks those that cover its target, the counter for
// every call first, then the one for that target, until one fails it.
class FaultCounters {
public:
    explicit FaultCounters(FaultCode code = FaultCode::Win32Error) : code_(code) {
        counters_.push_back(std::make_unique<FaultCounter>(""));
    }

    FaultCode code() const { return code_; }
    // The counter for `target` ("": every call of the family, the one --fail-call arms; made with
    // the family), made on first use.
    FaultCounter& counter(const std::string& target = "");
    // The counter that fails this call to `target`, or nullptr when the call goes on. (Inline:
    // a polling loop's every read asks.)
    FaultCounter* ask(const std::string& target) {
        for (const auto& c : counters_)
            if ((c->target().empty() || c->target() == target) && c->should_fail()) return c.get();
        return nullptr;
    }

private:
    FaultCode code_;
    // Each on its own: references stay valid as counters are made.
    std::vector<std::unique_ptr<FaultCounter>> counters_;
};

// One call of a family meets its counters (see FaultCounters::ask). When one fails it, the
// transcript is told, unless the counter leaves that to the call: a "fault" line "CALL fails with
// error 112 (injected, call 17)" (the first only, for a lasting fault). `code` is what the call
// returns for such a failure by its nature, used when the counter names none.
struct Injected {
    FaultCounter* counter = nullptr;  // the counter that failed the call; nullptr: it goes on
    long error = 0;                   // the code the call fails with
    explicit operator bool() const { return counter != nullptr; }
};
Injected inject(FaultCounters& family, const std::string& target, const std::string& call, long code);
// The same for a call made so often that building its text each time would cost: `call_text()`
// makes the text, and only for a call that fails.
template <class CallText>
Injected inject_with(FaultCounters& family, const std::string& target, CallText&& call_text, long code) {
    FaultCounter* counter = family.ask(target);
    if (!counter) return {};
    return injected(family, *counter, call_text(), code);
}
// The transcript's account of a call that `counter` failed (see inject).
Injected injected(FaultCounters& family, FaultCounter& counter, const std::string& call, long code);

// The world's families of calls that the "fail call N" sweep reaches.
struct CallFaults {
    FaultCounters serial_read;                    // ReadFile on a serial port (target: "COMn")
    FaultCounters serial_write;                   // WriteFile on a serial port (target: "COMn")
    FaultCounters tray{FaultCode::Result};        // DQ_OpenCloseTray and Kt_MoveTray of the host's engine (target: the unit)
    FaultCounters spooler;                        // the winspool calls (ClosePrinter aside)
    FaultCounters file_write;                     // WriteFile on a disk file, WritePrivateProfileStringA
};

}  // namespace sim
