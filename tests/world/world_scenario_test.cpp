// The world end to end: the demonstration scenario replays byte for byte from its seed, another
// seed interleaves the same steps differently, and the outcome never changes.
#include <windows.h>

#include "scenarios/demo.h"
#include "support/sim_test.h"

namespace {

struct DemoRun {
    uint64_t hash = 0;
    std::string transcript;
    sim::demo::Outcome outcome;
    sim::Micros end = 0;
};

DemoRun run_demo(uint64_t seed) {
    DemoRun run;
    sim::WorldConfig cfg;
    cfg.seed = seed;
    sim::World world(cfg);
    world.load_module();
    sim::demo::setup(world, &run.outcome);
    sim::RunResult r = world.run();
    EXPECT_TRUE(r.ok()) << r.report;
    run.hash = world.transcript_hash();
    run.transcript = world.transcript_text();
    run.end = world.kernel().now();
    return run;
}

TEST(WorldScenario, SameSeedSameTranscriptOtherSeedOtherInterleavingSameOutcome) {
    const uint64_t seed = sim_test::seed(7);
    const DemoRun a = run_demo(seed);
    const DemoRun b = run_demo(seed);
    EXPECT_EQ(a.hash, b.hash);
    EXPECT_EQ(a.transcript, b.transcript);

    // The outcome every seed must give: the answer, the dialog's result and last text, the
    // worker's lines, the lock's depth.
    auto expect_outcome = [](const DemoRun& run) {
        EXPECT_EQ(run.outcome.message_box_answer, IDYES);
        EXPECT_EQ(run.outcome.dialog_result, 7);
        EXPECT_EQ(run.outcome.dialog_text, "Step 3 of 3");
        EXPECT_EQ(run.outcome.worker_lines, 10);
        EXPECT_EQ(run.outcome.lock_depth_seen, 2);
    };
    expect_outcome(a);
    expect_outcome(b);
    // The operator thinks for two seconds before answering.
    EXPECT_NE(a.transcript.find("msgbox answered IDYES"), std::string::npos) << a.transcript;

    bool other_interleaving = false;
    for (uint64_t other = seed + 1; other < seed + 10 && !other_interleaving; ++other) {
        const DemoRun c = run_demo(other);
        expect_outcome(c);
        other_interleaving = c.hash != a.hash;
    }
    EXPECT_TRUE(other_interleaving) << "nine other seeds all gave the same transcript";
}

}  // namespace
