// Helpers shared by the tests that run a simulated world.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "world/world.h"

namespace sim_test {

// The seed for this test's world: ROVANE_SEED when set, else the test's own default. Recorded
// in the test's output so that a failure names the seed that reproduces it.
inline uint64_t seed(uint64_t fallback = 1) {
    uint64_t s = fallback;
    if (const char* env = std::getenv("ROVANE_SEED")) s = std::strtoull(env, nullptr, 0);
    ::testing::Test::RecordProperty("seed", std::to_string(s));
    std::printf("world seed %llu (rerun with ROVANE_SEED=%llu)\n", static_cast<unsigned long long>(s),
                static_cast<unsigned long long>(s));
    return s;
}

inline sim::WorldConfig config(uint64_t fallback_seed = 1) {
    sim::WorldConfig c;
    c.seed = seed(fallback_seed);
    return c;
}

// Runs the world's threads and requires the run to finish cleanly.
inline void run_ok(sim::World& world) {
    const sim::RunResult r = world.run();
    ASSERT_TRUE(r.ok()) << r.report;
}

// Runs body as a simulated thread of the world and requires the run to finish cleanly.
template <class F>
void run_in(sim::World& world, F body) {
    world.spawn("test", body);
    const sim::RunResult r = world.run();
    ASSERT_TRUE(r.ok()) << r.report;
}

// The texts of the transcript's entries of one kind (those that begin with `prefix`), in order;
// whether one of them contains `text`.
inline std::vector<std::string> transcript_texts(sim::World& world, const std::string& kind,
                                                 const std::string& prefix = "") {
    std::vector<std::string> out;
    for (const auto& e : world.kernel().transcript().of_kind(kind))
        if (e.text.rfind(prefix, 0) == 0) out.push_back(e.text);
    return out;
}
inline bool in_transcript(sim::World& world, const std::string& kind, const std::string& text) {
    for (const std::string& t : transcript_texts(world, kind))
        if (t.find(text) != std::string::npos) return true;
    return false;
}

}  // namespace sim_test
