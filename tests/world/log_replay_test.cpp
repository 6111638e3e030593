// The replay's reconstruction from a log the world wrote: a recording host's job on the virtual
// autoloader, its module log read back, and the plan's machine and a robot error at a counted
// motion; the comparison of two logs (a line the log writer lost, a robot command that differs).
// That a world job's log is replayed whole, every call of its host and its machine's flags, is
// checked end to end by tests/tool/replay_checks.sh.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "harness/autoloader.h"
#include "harness/recording_host.h"
#include "logview/log_reader.h"
#include "logview/log_replay.h"
#include "support/sim_test.h"
#include "win32/files.h"
#include "world/operator.h"

namespace {

bool has_flags(const std::vector<std::string>& flags, const std::string& a, const std::string& b) {
    for (size_t i = 0; i + 1 < flags.size(); ++i)
        if (flags[i] == a && flags[i + 1] == b) return true;
    return false;
}

std::string module_log(sim::Autoloader& m) {
    std::string log;
    m.world.files().read_file(std::string(sim::kDataFolder) + "Rovane_QIX.dbg", &log);
    return log;
}

TEST(LogReplay, AWorldJobsLogGivesItsMachineAndARobotErrorTheFaultAtTheSameCountedMotion) {
    sim::AutoloaderConfig cfg;
    cfg.seed = sim_test::seed(2);
    sim::Autoloader m(cfg);
    sim::install_default_operator(m);
    sim::RecordingHostConfig hc;
    hc.discs = 5;
    hc.record_time = 60 * sim::kSecond;
    hc.end_module = true;
    sim::RecordingHost host(m, hc);
    m.world.load_module();
    host.start();
    ASSERT_TRUE(m.world.run().ok());
    const std::string text = module_log(m);
    const logview::ReplayPlan clean = logview::plan_replay(logview::read_log(text).lines);
    EXPECT_TRUE(clean.faults.empty()) << "a job without errors";
    EXPECT_TRUE(clean.has_init);
    EXPECT_FALSE(clean.starts_mid_job);
    EXPECT_EQ(clean.jobs, 1);
    EXPECT_EQ(clean.machine.port, "COM1");
    EXPECT_TRUE(has_flags(clean.flags, "--drive-code", "A"));

    // The same log with a movement error after the ninth move sent: a C at move 9, counted with
    // the move the printer selection sends without a line of its own when the dialog was shown.
    std::vector<logview::LogLine> lines = logview::read_log(text).lines;
    int sent_moves = 0;
    bool dialog_move = false;
    for (size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].text.rfind("Printer chosen: ", 0) == 0 && lines[i].text.find(" (position ") != std::string::npos)
            dialog_move = true;
        if (lines[i].text.rfind(">>Sent CMD = _MOVE:", 0) == 0 && ++sent_moves + (dialog_move ? 1 : 0) == 9) {
            logview::LogLine error = lines[i];
            error.text = "ERROR: MOVEMENT ERROR";
            lines.insert(lines.begin() + static_cast<long>(i) + 1, error);
            break;
        }
    }
    const logview::ReplayPlan plan = logview::plan_replay(lines);
    ASSERT_EQ(plan.faults.size(), 1u);
    EXPECT_EQ(plan.faults[0].flag(), "C@move:9");
    EXPECT_TRUE(has_flags(plan.flags, "--robot-error-on", "C@move:9"));
}

logview::KeyLine key(size_t n, const std::string& text) {
    logview::KeyLine k;
    EXPECT_TRUE(logview::key_line(text, &k.kind, &k.key)) << text;
    k.number = n;
    k.text = text;
    return k;
}

TEST(LogReplay, TheComparisonSkipsALostCallLineAndNamesARobotCommandThatDiffers) {
    std::string kind, k;
    EXPECT_FALSE(logview::key_line("Queue_Cmd: A   (g_bCmdIndex=1)", &kind, &k));
    EXPECT_FALSE(logview::key_line("Next GLOBAL CMD = _MOVE:   bIndex=2", &kind, &k));
    ASSERT_TRUE(logview::key_line("Laminate with 498 (3361500) laminations remaining", &kind, &k));
    EXPECT_EQ(k, "Laminate with");

    const std::vector<logview::KeyLine> original = {
        key(1, "********************* RovaneInit ****"), key(2, "** PostMoveDisc 100  u=0  dwUnit=1"), key(3, "Load"),
        key(4, ">>Sent CMD = _MOVE:4"), key(5, ">>Sent CMD = _PICK"), key(6, ">>Sent CMD = _MOVE:A"),
        key(7, ">>Sent CMD = _PICK")};
    std::vector<logview::KeyLine> replay = original;
    replay.erase(replay.begin() + 1);  // the move's own line lost
    logview::Comparison c = logview::compare_key_lines(original, replay);
    EXPECT_FALSE(c.diverged);
    EXPECT_EQ(c.lost_in_replay, 1u);
    EXPECT_EQ(c.reproduced, 6u);
    EXPECT_DOUBLE_EQ(c.share(), 1.0);
    EXPECT_TRUE(c.robot_same);

    replay = original;
    replay[5] = key(6, ">>Sent CMD = _MOVE:B");
    c = logview::compare_key_lines(original, replay);
    EXPECT_TRUE(c.diverged);
    EXPECT_EQ(c.reason, "robot command differs");
    EXPECT_EQ(c.at_original, 5u);
    EXPECT_EQ(c.reproduced, 6u);
    EXPECT_FALSE(c.robot_same);

    replay.resize(4);
    c = logview::compare_key_lines(original, replay);
    EXPECT_EQ(c.reason, "the replay ends early: robot line missing");
}

TEST(LogReplay, APrintFilesKindComesFromItsName) {
    EXPECT_EQ(logview::print_kind_for("C:\\Labels\\varrow-2.PRN"), "varrow-2");
    EXPECT_EQ(logview::print_kind_for("C:\\Labels\\Tessik-6.prn"), "tessik-6");
    EXPECT_EQ(logview::print_kind_for("C:\\Jobs\\customer label.PRN"), "pellan-iv");
}

std::vector<logview::LogLine> numbered(const std::vector<std::string>& texts) {
    std::vector<logview::LogLine> out;
    for (size_t i = 0; i < texts.size(); ++i) {
        logview::LogLine l;
        l.number = i + 1;
        l.ms = static_cast<int64_t>(i) * 250;
        l.text = texts[i];
        out.push_back(l);
    }
    return out;
}

TEST(LogReplay, RepeatedCheckPrintingAnswersAreComparedOnlyWhereTheyChange) {
    const std::string no = "**&&** CheckPrinting returning Print NOT is process";
    const std::string abort = "**&&** CheckPrinting returning ABORT";
    const std::string pick = ">>Sent CMD = _PICK";
    const std::string tray = ">>Sent CMD = _TRAY";
    // The same job with the host's polls falling on either side of the robot's commands.
    const auto a = logview::key_lines(numbered({no, no, pick, no, tray, no, abort, abort, no}));
    const auto b = logview::key_lines(numbered({no, pick, no, no, no, tray, abort, no, no}));
    std::vector<std::string> kept;
    for (const logview::KeyLine& k : a) kept.push_back(k.text);
    EXPECT_EQ(kept, (std::vector<std::string>{no, pick, tray, abort, no})) << "a poll only where its answer changes";
    const logview::Comparison c = logview::compare_key_lines(a, b);
    EXPECT_FALSE(c.diverged) << c.reason;
    EXPECT_TRUE(c.robot_same);
    // An answer that changes where the other log's does not is still a divergence.
    const auto d = logview::key_lines(numbered({no, pick, no, tray, no, no}));
    const logview::Comparison e = logview::compare_key_lines(a, d);
    EXPECT_TRUE(e.diverged);
}

}  // namespace
