// main() of every test program: GoogleTest, plus the seed of the simulated world.
//
// A test's world takes its seed from ROVANE_SEED when set (sim_test::seed()); a failing test
// prints the seed it ran with, and running it again with that seed replays it exactly.
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
