// How much faster than real time the world runs: ten virtual hours of a thread that polls every
// 300 ms, alone and beside two other pollers (the send thread, a host thread and a dialog thread
// of a real job). Prints virtual seconds, wall seconds and their ratio.
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "world/world.h"

namespace {

double run_hours(int threads, double hours, unsigned long long* polls) {
    sim::WorldConfig cfg;
    cfg.seed = 1;
    sim::World world(cfg);
    static unsigned long long count;
    count = 0;
    static CRITICAL_SECTION cs;
    InitializeCriticalSection(&cs);
    const DWORD span = static_cast<DWORD>(hours * 3600 * 1000);
    for (int i = 0; i < threads; ++i) {
        world.spawn("poller" + std::to_string(i), [span, i] {
            const DWORD start = GetTickCount();
            while (GetTickCount() - start < span) {
                EnterCriticalSection(&cs);
                ++count;
                LeaveCriticalSection(&cs);
                Sleep(300 + 7 * i);
            }
        });
    }
    const auto t0 = std::chrono::steady_clock::now();
    sim::RunResult r = world.run();
    const auto t1 = std::chrono::steady_clock::now();
    if (!r.ok()) {
        std::fprintf(stderr, "%s\n", r.report.c_str());
        std::exit(1);
    }
    *polls = count;
    return std::chrono::duration<double>(t1 - t0).count();
}

}  // namespace

int main() {
    const double hours = 10;
    for (int threads : {1, 3}) {
        unsigned long long polls = 0;
        const double wall = run_hours(threads, hours, &polls);
        const double virt = hours * 3600;
        std::printf("%d polling thread%s: %.0f virtual s in %.3f wall s (%llu polls), ratio %.0f : 1\n", threads,
                    threads == 1 ? "" : "s", virt, wall, polls, virt / wall);
    }
    return 0;
}
