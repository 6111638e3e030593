// A "fail call N" counter for one family of calls (serial reads, tray calls ...), in the manner of
// a test file system's fault counter: armed with N, the Nth call from then on fails, once or (a
// lasting fault) with every call after it too. Every call of the family asks should_fail(); the
// counter counts the calls it saw and the faults it fired, so that a sweep can tell when N went
// past the last call of a run (nothing fired).
//
//   sim::FaultCounter c;
//   c.arm(3, false);            // the third call from now fails, once
//   c.should_fail();            // false, false, true, false ...
//
// Disarmed (the default) it only counts. It does no Win32 work itself: the call that asks decides
// how it fails and writes the transcript line (worth_noting, noted).
#pragma once

#include <cstdint>
#include <string>

namespace sim {

class FaultCounter {
public:
    // The `n`th call from now fails (n >= 1; 0 disarms); `lasting`: so does every later call.
    void arm(uint64_t n, bool lasting) {
        countdown_ = n;
        lasting_ = lasting;
        failing_ = false;
    }
    void disarm() { arm(0, false); }
    bool armed() const { return countdown_ > 0 || failing_; }
    bool lasting() const { return lasting_; }

    // Counts one call of the family; true when this call is to fail.
    bool should_fail() {
        ++calls_;
        if (countdown_ > 0 && --countdown_ == 0) failing_ = true;
        if (!failing_) return false;
        ++fired_;
        if (!lasting_) failing_ = false;
        return true;
    }

    uint64_t calls() const { return calls_; }  // calls seen, failed or not
    uint64_t fired() const { return fired_; }  // calls failed

    // Whether the call that just failed is worth a transcript line: a one-shot fault, or the
    // first call of a lasting one (a polled call would otherwise fill the transcript).
    bool worth_noting() const { return !lasting_ || fired_ == 1; }
    // "(injected, call 17)" or "(injected, call 17 and every call after it)" for that line.
    std::string noted() const {
        return "(injected, call " + std::to_string(calls_) + (lasting_ ? " and every call after it)" : ")");
    }

private:
    uint64_t countdown_ = 0;  // calls until the fault (0: not armed)
    bool lasting_ = false;
    bool failing_ = false;    // the fault has come and lasts
    uint64_t calls_ = 0;
    uint64_t fired_ = 0;
};

// The world's counters, one per family of calls the "fail call N" sweep reaches.
struct CallFaults {
    FaultCounter serial_read;   // ReadFile on a serial port
    FaultCounter serial_write;  // WriteFile on a serial port
    FaultCounter tray;          // DQ_OpenCloseTray and Kt_MoveTray of the host's engine
    FaultCounter spooler;       // the winspool calls (ClosePrinter aside)
    FaultCounter file_write;    // WriteFile on a disk file, WritePrivateProfileStringA
};

}  // namespace sim
