// The diagnostic log: line format, the 980-character cut, the restart past 700,000 bytes, lines
// dropped while another is written or the file is held. (The bare file name when no data folder
// is registered: settings_test.)
#include <windows.h>

#include <string>

#include "harness/log_check.h"
#include "support/module_world.h"

namespace {

// The line format and the 980-character cut; the check every world run makes of the logs passes
// what the module writes (a text cut at 980 characters, a text ending in its own CR LF, an empty
// one) and names each way a log can be out of shape.
TEST(DebugLog, LineFormatLongTextCutAndTheRunsLogCheck) {
    sim::WorldConfig cfg = sim_test::config();
    cfg.start_clock = {2026, 3, 2, 8, 5, 9, 40};
    sim::World world(cfg);
    sim_test::prepare_module(world);
    world.spawn("host", [] {
        Sleep(1234);
        DebugLog("->KillError()");
        DebugLog(std::string(1500, 'x').c_str());
        DebugLogSecondary("Mispick from Recorder -> Retrying");
        DebugLog("ZORVIK QIX VERSION:R 1.13 A\r\n");
        DebugLog("");
    });
    sim::RunResult r = world.run();
    ASSERT_TRUE(r.ok()) << r.report;
    EXPECT_STREQ(g_szLogPath, "C:\\ProgramData\\Marlune\\Rovane_QIX.dbg");
    const std::string log = sim_test::read_file(world, g_szLogPath);
    const std::string stamp = "03/02 08:05:10:274  ";
    const std::string first = stamp + "->KillError()\r\n", second = stamp + std::string(980, 'x') + "\r\n";
    EXPECT_EQ(log.substr(0, first.size() + second.size()), first + second);
    EXPECT_EQ(sim_test::read_file(world, std::string(g_szLogPath) + "2"), stamp + "Mispick from Recorder -> Retrying\r\n");

    EXPECT_EQ(sim::check_module_log("log", log), "");
    auto says = [](const std::string& content, const char* what) {
        return sim::check_module_log("log", content).find(what) != std::string::npos;
    };
    EXPECT_TRUE(says(stamp + std::string(981, 'x') + "\r\n", "a line of 981 characters"));
    EXPECT_TRUE(says("no stamp\r\n" + log, "does not begin with a time stamp"));
    EXPECT_TRUE(says(log + stamp + "cut", "does not end with CR LF"));
    EXPECT_TRUE(says(log + std::string(sim::kLogFileLimit, 'a') + "\r\n", "more than the restart size"));
}

// The module's "cannot happen" check: a condition that holds costs nothing and logs nothing; one
// that does not is logged behind the fixed marker (the printf text cut to the line's limit), and
// the world's log check, which every run makes, fails on that line.
TEST(DebugLog, AFailedCheckOfTheModuleIsLoggedBehindItsMarkerAndFailsTheRun) {
    sim::World world(sim_test::config());
    sim_test::prepare_module(world);
    int held = -1, broken = -1;
    world.spawn("host", [&] {
        held = CheckHolds(7, "never logged %d", 1);
        DebugLog("between");
        broken = CheckHolds(0, "row %d of %u rows, %s", 5, 3u, std::string(2000, 'y').c_str());
    });
    ASSERT_TRUE(world.run().ok());
    EXPECT_EQ(held, 7);
    EXPECT_EQ(broken, 0);
    const std::vector<std::string> lines = sim_test::log_texts(world);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "between");
    EXPECT_EQ(lines[1], "CHECK FAILED: row 5 of 3 rows, " + std::string(980 - 31, 'y'));
    const std::string log = sim_test::read_file(world, g_szLogPath);
    EXPECT_NE(sim::check_module_log("Rovane_QIX.dbg", log).find("Rovane_QIX.dbg holds a failed check of the module: "
                                                                 "\"CHECK FAILED: row 5 of 3 rows, yyy"),
              std::string::npos);
    EXPECT_EQ(sim::check_module_log("Rovane_QIX.dbg", log.substr(0, log.find("CHECK") - 20)), "");
}

// The log restarts empty only past 700,000 bytes; a line it cannot open the file for (held
// elsewhere) is skipped without a word.
TEST(DebugLog, RestartsEmptyOnlyPastSevenHundredThousandBytesAndSkipsALineItCannotWrite) {
    sim::World world(sim_test::config());
    sim_test::prepare_module(world);
    const std::string at_limit = std::string(g_szLogPath);
    world.files().write_file(at_limit, std::string(700000, 'a'));
    world.files().write_file(std::string(g_szLogPath) + "2", std::string(700001, 'b'));
    world.files().fail_open(g_szLogPath, ERROR_SHARING_VIOLATION, 1);
    world.spawn("host", [] {
        DebugLog("lost");
        DebugLog("appended");
        DebugLogSecondary("alone");
    });
    ASSERT_TRUE(world.run().ok());
    const std::string main_log = sim_test::read_file(world, g_szLogPath);
    EXPECT_EQ(main_log.size(), 700000u + 20 + 8 + 2);
    EXPECT_EQ(main_log.substr(700000 + 20), "appended\r\n");
    EXPECT_EQ(sim_test::read_file(world, std::string(g_szLogPath) + "2"), "03/02 08:00:00:000  alone\r\n");
}

TEST(DebugLog, ALineMeetingABusyLogIsDroppedAndNobodyWaits) {
    sim::WorldConfig cfg = sim_test::config(3);
    cfg.switch_probability = 1.0;  // offer a switch at every call, so that writers overlap
    sim::World world(cfg);
    sim_test::prepare_module(world);
    // Twenty rounds of two threads logging at the same moment.
    static int round;
    world.spawn("host", [] {
        for (round = 0; round < 20; ++round) {
            for (int k = 0; k < 2; ++k)
                CreateThread(NULL, 0, [](LPVOID p) -> DWORD {
                    const DWORD start = GetTickCount();
                    DebugLogF("round %d writer %d", round, (int)(INT_PTR)p);
                    return GetTickCount() - start;  // how long the writer was held up
                }, (LPVOID)(INT_PTR)k, 0, NULL);
            Sleep(100);
        }
    });
    sim::RunResult r = world.run();
    ASSERT_TRUE(r.ok()) << r.report;
    const auto lines = sim_test::log_texts(world);
    int rounds_with_a_drop = 0;
    for (int i = 0; i < 20; ++i) {
        int written = 0;
        for (int k = 0; k < 2; ++k)
            written += sim_test::count_lines(lines, "round " + std::to_string(i) + " writer " + std::to_string(k));
        EXPECT_GE(written, 1) << "round " << i << ": the first writer's line must be written";
        if (written == 1) ++rounds_with_a_drop;
    }
    EXPECT_GT(rounds_with_a_drop, 0) << "no two writers ever overlapped";
    for (const auto& t : world.kernel().threads())
        if (t->name != "host") EXPECT_EQ(t->exit_code, 0u) << t->name << " was held up";
}

}  // namespace
