// Faults of a job in progress (run's --robot-error ...) and the faults that fired in a world.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "harness/autoloader.h"
#include "harness/recording_host.h"
#include "world/world.h"

namespace CLI {
class App;
}  // namespace CLI

namespace rovane_tool {

struct JobFaults {
    std::vector<std::string> robot_errors;  // "C@312.5": robot error C at 312.5 s of virtual time
    std::vector<double> pauses;             // the robot's Pause button pressed at these times (s)
    uint64_t print_fail = 0;                // the disc printer's next N prints stop with error "B"
    double think = -1;                      // the operator's think time (s; -1: the default 1.5 s)
    double abort_at = 0;                    // the host aborts the job at this time (s; 0: never)
    double end_at = 0;                      // the host calls Rovane_End mid-job at this time (s; 0: never)
};
void add_job_fault_flags(CLI::App* command, JobFaults* faults);
// Schedules the faults in the machine's world and tells the host when to give up.
void apply_job_faults(const JobFaults& faults, sim::Autoloader& machine, sim::RecordingHostConfig* host);

// The faults that fired in a world, counted from its transcript as they happen: line damage,
// robot errors by code, pauses, failed prints, laminator faults, failing tray calls, failing
// Win32 calls, and the operator's answers other than the careful default.
class FiredFaults {
public:
    explicit FiredFaults(sim::World& world);
    ~FiredFaults();
    FiredFaults(const FiredFaults&) = delete;
    FiredFaults& operator=(const FiredFaults&) = delete;
    const std::map<std::string, int>& counts() const { return counts_; }

private:
    sim::World& world_;
    int listener_ = 0;
    std::map<std::string, int> counts_;
};

}  // namespace rovane_tool
