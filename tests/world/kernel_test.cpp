// The kernel's promises: virtual time, deterministic interleaving from a seed, critical
// sections, thread termination, deadlock and budget reports, the tick count's wrap.
#include <cstring>
#include <windows.h>

#include <string>
#include <vector>

#include "support/sim_test.h"
#include "win32/files.h"
#include "world/world.h"

namespace {

using sim::kMs;
using sim::kSecond;

// Three threads that sleep different amounts and record each step in the transcript.
uint64_t interleaving_hash(uint64_t seed, std::string* order) {
    sim::WorldConfig cfg;
    cfg.seed = seed;
    cfg.switch_probability = 0.5;
    sim::World world(cfg);
    static CRITICAL_SECTION cs;
    InitializeCriticalSection(&cs);
    static std::string* out;
    out = order;
    for (int i = 0; i < 3; ++i) {
        world.spawn("worker" + std::to_string(i), [i] {
            for (int step = 0; step < 20; ++step) {
                EnterCriticalSection(&cs);
                *out += static_cast<char>('a' + i);
                sim::kernel().record("step", std::to_string(i) + "/" + std::to_string(step));
                LeaveCriticalSection(&cs);
                Sleep(step % 3 == 0 ? 0 : 10);
            }
        });
    }
    sim::RunResult r = world.run();
    EXPECT_TRUE(r.ok()) << r.report;
    return world.transcript_hash();
}

TEST(Kernel, SameSeedSameInterleavingOtherSeedOther) {
    const uint64_t seed = sim_test::seed(11);
    std::string a, b, c;
    const uint64_t h1 = interleaving_hash(seed, &a);
    const uint64_t h2 = interleaving_hash(seed, &b);
    EXPECT_EQ(h1, h2);
    EXPECT_EQ(a, b);
    // Some other seed gives another order of the same steps.
    bool differs = false;
    for (uint64_t other = seed + 1; other < seed + 20 && !differs; ++other) {
        c.clear();
        interleaving_hash(other, &c);
        differs = c != a;
        EXPECT_EQ(c.size(), a.size());
    }
    EXPECT_TRUE(differs) << "twenty seeds gave the very same interleaving";
}

// One clock for everything: the tick count starts near its wrap and keeps unsigned differences
// across it, a loop polling it without sleeping still sees time pass, the local time steps over
// midnight into the new year, and a sleep advances virtual time only.
TEST(Kernel, TickCountWrapsPollingSeesTimePassLocalTimeCrossesMidnightAndSleepIsVirtual) {
    sim::WorldConfig cfg = sim_test::config();
    cfg.start_tick = 0xFFFFFF00u;  // 256 ms before the wrap
    cfg.start_clock = {2026, 12, 31, 23, 59, 59, 500};
    sim::World world(cfg);
    DWORD start = 0, wrapped = 0, before = 0, after = 0;
    sim::Micros slept_from = 0;
    SYSTEMTIME st{};
    world.spawn("clock", [&] {
        start = GetTickCount();
        while (GetTickCount() - start < 300) Sleep(10);
        wrapped = GetTickCount();
        Sleep(450);
        GetLocalTime(&st);  // 750 ms after the start
        while (GetTickCount() - wrapped < 2000) {
        }
        before = GetTickCount();
        slept_from = sim::kernel().now();
        Sleep(10500);
        after = GetTickCount();
    });
    sim_test::run_ok(world);
    EXPECT_EQ(start, 0xFFFFFF00u);
    EXPECT_LT(wrapped, 100u) << "the count wrapped past zero";
    EXPECT_EQ(static_cast<DWORD>(wrapped - start), 300u);
    EXPECT_EQ(std::vector<int>({st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond, st.wMilliseconds}),
              std::vector<int>({2027, 1, 1, 0, 0, 0, 250}));
    EXPECT_EQ(st.wDayOfWeek, 5);  // a Friday
    EXPECT_EQ(after - before, 10500u);
    EXPECT_EQ(world.kernel().now() - slept_from, 10500 * kMs) << "nothing but the sleep moved the clock";
}

TEST(Kernel, TerminatedThreadNeverRunsAgainAndKeepsItsLock) {
    sim::World world(sim_test::config(5));
    static CRITICAL_SECTION cs;
    InitializeCriticalSection(&cs);
    static int steps = 0;
    steps = 0;
    HANDLE victim = NULL;
    bool other_got_lock = false;
    world.spawn("host", [&] {
        victim = CreateThread(NULL, 0, [](LPVOID) -> DWORD {
            EnterCriticalSection(&cs);
            for (;;) {
                ++steps;
                Sleep(100);
            }
        }, NULL, 0, NULL);
        Sleep(1050);
        TerminateThread(victim, 7);
        const int at_termination = steps;
        Sleep(5000);
        EXPECT_EQ(steps, at_termination) << "a terminated thread ran again";
        EXPECT_FALSE(TryEnterCriticalSection(&cs)) << "the section must stay owned by the dead thread";
        EnterCriticalSection(&cs);  // blocks for ever: the world must report it
        other_got_lock = true;
    });
    sim::RunResult r = world.run();
    EXPECT_EQ(r.outcome, sim::Outcome::Deadlock);
    EXPECT_FALSE(other_got_lock);  // what the report names: the deadlock report's test
    EXPECT_EQ(steps, 11);
    CloseHandle(victim);
}

// The report of a deadlock names every thread, what it waits in, since when, and the seed; it ends
// with the transcript's last twenty events.
TEST(Kernel, DeadlockReportNamesEveryThreadItsCallTimeAndSeedAndEndsWithTheLastEvents) {
    const sim::WorldConfig cfg = sim_test::config(42);
    sim::World world(cfg);
    static CRITICAL_SECTION first, second;
    InitializeCriticalSection(&first);
    InitializeCriticalSection(&second);
    world.spawn("alpha", [] {
        EnterCriticalSection(&first);
        for (int i = 0; i < 30; ++i) sim::kernel().record("test", "event " + std::to_string(i));
        Sleep(100);
        EnterCriticalSection(&second);
    });
    world.spawn("beta", [] {
        EnterCriticalSection(&second);
        Sleep(100);
        EnterCriticalSection(&first);
    });
    sim::RunResult r = world.run();
    ASSERT_EQ(r.outcome, sim::Outcome::Deadlock) << r.report;
    for (const std::string& part : {std::string("thread 'alpha'"), std::string("thread 'beta'"),
                                    std::string("EnterCriticalSection"), std::string("held by thread 'beta'"),
                                    std::string("t=0.100000s"),
                                    "seed " + std::to_string(cfg.seed)})
        EXPECT_NE(r.report.find(part), std::string::npos) << "the report names " << part << ":\n" << r.report;
    const size_t tail = r.report.find("last events of the transcript:");
    ASSERT_NE(tail, std::string::npos) << r.report;
    EXPECT_NE(r.report.find("alpha test: event 29", tail), std::string::npos) << r.report;
    EXPECT_NE(r.report.find("alpha test: event 10", tail), std::string::npos) << r.report;
    EXPECT_EQ(r.report.find("event 9\n", tail), std::string::npos) << "twenty events, no more: " << r.report;
    EXPECT_EQ(r.report.find("deadlock:", tail), std::string::npos) << "not the report itself";
}

// A section nobody initialized is, on Windows, one that reads as taken by nobody who will ever
// leave it: trying fails at once, entering waits for ever. A module calling in before it set up
// its lock must meet that here too, not a lock that happens to work.
TEST(Kernel, ASectionNeverInitializedCannotBeEntered) {
    const sim::WorldConfig cfg = sim_test::config(43);
    sim::World world(cfg);
    static CRITICAL_SECTION never;
    static BOOL tried;
    std::memset(&never, 0, sizeof never);
    tried = TRUE;
    world.spawn("caller", [] {
        tried = TryEnterCriticalSection(&never);
        EnterCriticalSection(&never);
    });
    sim::RunResult r = world.run();
    EXPECT_FALSE(tried);
    ASSERT_EQ(r.outcome, sim::Outcome::Deadlock) << r.report;
    EXPECT_NE(r.report.find("never initialized"), std::string::npos) << r.report;
}

TEST(Kernel, BudgetStopsARunThatNeverEnds) {
    sim::WorldConfig cfg = sim_test::config();
    cfg.budget = 10 * sim::kMinute;
    sim::World world(cfg);
    world.spawn("forever", [] {
        for (;;) Sleep(300);
    });
    sim::RunResult r = world.run();
    EXPECT_EQ(r.outcome, sim::Outcome::Budget);
    EXPECT_NE(r.report.find("forever"), std::string::npos) << r.report;
    EXPECT_LE(world.kernel().now(), 10 * sim::kMinute);
}

TEST(Kernel, RunUntilTimeStopsOnTheDotAndCanBeResumed) {
    sim::World world(sim_test::config());
    int ticks = 0;
    world.spawn("ticker", [&] {
        for (int i = 0; i < 10; ++i) {
            Sleep(1000);
            ++ticks;
        }
    });
    sim::RunResult r = world.run_until_time(3500 * kMs);
    ASSERT_TRUE(r.ok()) << r.report;
    EXPECT_EQ(ticks, 3);
    EXPECT_EQ(world.kernel().now(), 3500 * kMs);
    r = world.run();
    ASSERT_TRUE(r.ok()) << r.report;
    EXPECT_EQ(ticks, 10);
    EXPECT_EQ(world.kernel().now(), 10 * kSecond);
}

TEST(Kernel, LeavingASectionOneDoesNotOwnStopsTheRun) {
    sim::World world(sim_test::config());
    static CRITICAL_SECTION cs;
    InitializeCriticalSection(&cs);
    world.spawn("careless", [] { LeaveCriticalSection(&cs); });
    sim::RunResult r = world.run();
    EXPECT_EQ(r.outcome, sim::Outcome::Failed);
    EXPECT_NE(r.report.find("does not own"), std::string::npos) << r.report;
}

}  // namespace
