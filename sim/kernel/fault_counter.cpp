#include "kernel/fault_counter.h"

#include "kernel/kernel.h"

namespace sim {

FaultCounter& FaultCounters::counter(const std::string& target) {
    for (const auto& c : counters_)
        if (c->target() == target) return *c;
    counters_.push_back(std::make_unique<FaultCounter>(target));
    return *counters_.back();
}

Injected inject(FaultCounters& family, const std::string& target, const std::string& call, long code) {
    FaultCounter* counter = family.ask(target);
    if (!counter) return {};
    return injected(family, *counter, call, code);
}

Injected injected(FaultCounters& family, FaultCounter& counter, const std::string& call, long code) {
    const long error = counter.error() ? counter.error() : code;
    if (!counter.told_by_call() && counter.worth_noting() && has_kernel())
        kernel().record("fault", call + " fails with " + (family.code() == FaultCode::Win32Error ? "error " : "") +
                                     std::to_string(error) + " " + counter.noted());
    return {&counter, error};
}

}  // namespace sim
