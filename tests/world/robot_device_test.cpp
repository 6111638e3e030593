// The virtual autoloader behind COM1, driven the way the module drives it: commands written to a
// real (simulated) serial port from a simulated thread, replies read back by polling ReadFile.
#include <windows.h>

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "devices/robot.h"
#include "support/scripted_robot.h"
#include "support/sim_test.h"
#include "win32/serial.h"
#include "world/world.h"

namespace {

using sim::kMs;
using sim::kSecond;
using sim::Micros;

using Frame = sim_test::RobotFrame;
using Port = sim_test::RobotPort;
using sim_test::checksum9;
using sim_test::decode;

std::vector<std::string> robot_notes(sim::World& world) { return sim_test::transcript_texts(world, "robot"); }

// Whether `took` lies within `slack` of `expected`.
::testing::AssertionResult near(Micros took, Micros expected, Micros slack = 100 * kMs) {
    if (took >= expected - slack && took <= expected + slack) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "took " << took << " us, not " << expected << " +- " << slack;
}

// A world with one robot on COM1 and a host thread that talks to it.
struct Rig {
    explicit Rig(const sim::RobotConfig& cfg = sim::RobotConfig(), sim::WorldConfig wc = sim_test::config())
        : world(wc), robot(std::make_shared<sim::Robot>(cfg)) {
        world.serial().attach("COM1", robot);
    }
    // Runs `body` on the host thread with the port open, and the world to its end.
    void run(const std::function<void(Port&)>& body) {
        world.spawn("host", [&] {
            Port port;
            body(port);
        });
        const sim::RunResult r = world.run();
        ASSERT_TRUE(r.ok()) << r.report;
    }
    bool noted(const std::string& text) { return sim_test::in_transcript(world, "robot", text); }
    sim::World world;
    std::shared_ptr<sim::Robot> robot;
};

TEST(RobotReplies, StatusFrameAndVersionLineAreWellFormedAndTimed) {
    sim::RobotConfig cfg;
    cfg.reply_delay = 20 * kMs;
    cfg.auxiliary = '7';
    Rig rig(cfg);
    rig.run([&](Port& port) {
        port.send("_SI");
        const Micros sent = sim::kernel().now();  // the last byte has left, and arrived
        EXPECT_EQ(port.read_for(19 * kMs), "") << "nothing before the reply delay";
        const std::string raw = port.read_frame();
        const Micros done = sim::kernel().now() - sent;
        ASSERT_EQ(raw.size(), 11u) << sim::Transcript::escape(raw);
        // S, 10, idle, home "3", auxiliary, no error, no printer ("B", "X"), picker empty, sum, $.
        EXPECT_EQ(raw.substr(0, 9), std::string("S\x0aI37.BXX")) << "frame bytes at power-on";
        EXPECT_EQ(static_cast<uint8_t>(raw[9]), checksum9(raw)) << "checksum of bytes 0..8";
        EXPECT_EQ(raw[10], '$');
        const Micros byte = 10 * kSecond / 14400;
        EXPECT_TRUE(near(done, 20 * kMs + 11 * byte + 500, 500)) << "reply delay plus 11 bytes on the line";
        EXPECT_EQ(port.read_for(50 * kMs), "") << "one frame per query";
        EXPECT_EQ(port.status().raw, raw) << "a second query, the same frame";
        EXPECT_TRUE(robot_notes(rig.world).empty()) << "status queries are not written to the transcript";
        port.send("_SV");
        EXPECT_EQ(port.read_for(100 * kMs), "ZORVIK QIX VERSION:R 1.13 A\r\n") << "a four-drive QIX";
    });
}

TEST(RobotReplies, OlderModelAnswersItsOwnVersionAndHasOnlyTwoRecorders) {
    Rig rig(sim::RobotConfig::older_model());
    rig.run([&](Port& port) {
        port.send("_SV");
        const std::string line = port.read_for(100 * kMs);
        EXPECT_EQ(line.substr(line.find("ION:") + 4), "N 1.05 2\r\n") << line;
        EXPECT_EQ(port.run("_MOVE:B").position, 'B') << "recorder B exists";
        port.send("_MOVE:C");
        const Frame f = port.status();
        EXPECT_EQ(f.error, 'D') << "recorder C does not: an invalid command";
        EXPECT_EQ(f.position, 'B');
    });
    EXPECT_EQ(rig.robot->recorder('C'), nullptr);
}

// A move takes 2.5 s and a pick or drop 3 s; commands sent while the arm is busy wait in the
// firmware's buffer. The module's abort with a disc in the picker relies on that: "_MOVE:G",
// 100 ms, then "_PICK" and "_RESET" while the arm still travels.
TEST(RobotMotion, PicksAndDropsMoveDiscsAndBufferedCommandsRunInOrderAsTheAbortNeeds) {
    Rig rig;
    sim::Robot& robot = *rig.robot;
    auto abort = [&](Port& port, const std::string& last) {
        port.send("_MOVE:G");
        Sleep(100);
        port.send("_PICK");
        port.send(last);
    };
    rig.run([&](Port& port) {
        port.send("_MOVE:4");
        Micros took = 0;
        EXPECT_EQ(port.wait_idle(&took).position, '4');
        EXPECT_TRUE(near(took, 2500 * kMs)) << "a move takes 2.5 s";
        port.send("_PICK");
        EXPECT_EQ(port.wait_idle(&took).picker, 'O');
        EXPECT_TRUE(near(took, 3 * kSecond)) << "a pick takes 3 s";
        EXPECT_EQ(robot.place_of(25), "picker") << "the top disc of 4 is its highest-numbered";
        EXPECT_EQ(robot.count_at("4"), 24u);

        // Drop into recorder A and pick it out again, all sent while the move to A runs.
        port.send("_MOVE:A");
        Sleep(500);
        port.send("_PICK");
        port.send("_PICK");
        port.send("_MOVE:3");
        EXPECT_EQ(robot.buffered_commands(), (std::deque<std::string>{"_PICK", "_PICK", "_MOVE:3"}));
        EXPECT_EQ(port.status().brief(), "B4.O") << "the arm reports where it was until it arrives";
        // No idle frame in between: idle once the whole buffer has run (2.5 + 3 + 3 + 2.5 s).
        EXPECT_EQ(port.wait_idle(&took).brief(), "I3.O");
        EXPECT_TRUE(near(took, 10550 * kMs, 150 * kMs));
        EXPECT_EQ(port.run("_PICK").picker, 'X') << "the same _PICK puts a held disc down";
        EXPECT_EQ(robot.discs_at("3"), std::vector<sim::DiscId>{25});

        EXPECT_EQ(port.run("_PICK").picker, 'O');
        abort(port, "_RESET");
        EXPECT_EQ(port.status().state, 'B');
        EXPECT_EQ(port.wait_idle(&took).brief(), "I3.X") << "home, without an error";
        EXPECT_TRUE(near(took, 10500 * kMs, 200 * kMs)) << "abort: move 2.5 s, drop 3 s, reset 5 s";
        EXPECT_EQ(robot.discs_at("G"), std::vector<sim::DiscId>{25});

        // The move fails: the drop behind it is dropped from the buffer, the reset still runs.
        port.carry("4");
        robot.fail_next_moves(1);
        abort(port, "_RESET");
        EXPECT_EQ(port.wait_idle().brief(), "I3.O") << "cleared by the buffered reset, the disc never put down";
        // Without a reset behind it, the error stays and every buffered command is dropped.
        robot.fail_next_moves(1);
        abort(port, "_MOVE:2");
        EXPECT_EQ(port.wait_idle().error, 'C');
        Sleep(8000);
        EXPECT_EQ(port.status().brief(), "I3CO") << "nothing ran later either";
        EXPECT_TRUE(robot.buffered_commands().empty());
        EXPECT_EQ(robot.place_of(24), "picker");
    });
    EXPECT_TRUE(rig.noted("drop at A: disc 25"));
    EXPECT_TRUE(rig.noted("pick from A: disc 25"));
    EXPECT_TRUE(rig.noted("_MOVE:2 dropped from the buffer: error pending (C)"));
    // The drop at G happened before the reset started.
    const std::vector<std::string> notes = robot_notes(rig.world);
    size_t drop = notes.size(), reset = notes.size();
    for (size_t i = 0; i < notes.size(); ++i) {
        if (notes[i] == "drop at G: disc 25") drop = i;
        if (notes[i].rfind("_RESET: ", 0) == 0 && reset == notes.size()) reset = i;
    }
    EXPECT_LT(drop, reset);
    EXPECT_TRUE(robot.lost().empty());
    EXPECT_EQ(robot.check_conservation(), "");
}

TEST(RobotCommands, PauseAndResetWhileIdleBusyOrWithAnErrorPending) {
    Rig rig;
    sim::Robot& robot = *rig.robot;
    rig.run([&](Port& port) {
        port.send("_MOVE:4");
        Sleep(1000);
        robot.press_pause();
        EXPECT_EQ(port.status().state, 'B') << "a pause pressed during a move lets it finish";
        EXPECT_EQ(port.wait_for('P').position, '4');
        port.send("_PICK");
        Sleep(4000);
        EXPECT_EQ(port.status().brief(), "P4.X") << "motion is ignored while paused";
        robot.press_pause();
        EXPECT_EQ(port.run("_PICK").picker, 'O') << "pause again: running";
        robot.press_pause();
        EXPECT_EQ(port.status().state, 'P') << "pause while idle is immediate";

        // A reset runs while paused, ends the pause and parks the arm; the disc stays.
        port.send("_RESET");
        EXPECT_EQ(port.status().state, 'B');
        Micros took = 0;
        EXPECT_EQ(port.wait_idle(&took).brief(), "I3.O");
        EXPECT_TRUE(near(took, 5 * kSecond)) << "a reset takes 5 s";

        // With an error pending, motion is ignored (not buffered) and a reset runs at once.
        robot.fail_next_moves(1);
        ASSERT_EQ(port.run("_MOVE:A").error, 'C');
        port.send("_MOVE:2");
        EXPECT_EQ(port.status().state, 'I') << "ignored, not buffered";
        port.send("_RESET");
        EXPECT_EQ(port.status().brief(), "B3.O") << "the reset clears the error at once";
        port.wait_idle();

        // Paused during a move: a drop arriving then is ignored, a reset is buffered.
        port.send("_MOVE:2");
        Sleep(500);
        robot.press_pause();
        port.send("_PICK");
        port.send("_RESET");
        EXPECT_EQ(robot.buffered_commands(), std::deque<std::string>{"_RESET"});
        EXPECT_EQ(port.wait_idle().brief(), "I3.O") << "moved to 2, then reset home";
    });
    EXPECT_TRUE(rig.noted("_MOVE:2 ignored: error pending (C)"));
    EXPECT_EQ(robot.place_of(25), "picker");
}

// Each error stays pending, the robot idle, until cleared the way the module or the operator
// clears it: "_KILL", the Pick button after a failed pick, Pause and Pick together. (Seeded
// mispicks: tests/tool/run_checks.sh, --mispick, and swarm_checks.sh, "fired: robot error F".)
TEST(RobotErrors, EachErrorStaysPendingUntilClearedItsWay) {
    Rig rig;
    sim::Robot& robot = *rig.robot;
    auto printer = std::make_shared<sim::SimplePrinter>();
    robot.connect_printer(printer);
    Micros move_sent = 0, partial_sent = 0;
    rig.run([&](Port& port) {
        // "D": an unknown command, an unknown position, a command cut short by the "_" of the next
        // one ("_S" then "_SI", which that "_" starts at once); the query after it is answered.
        for (const char* junk : {"_XYZ", "_MOVE:Z", "_S"}) {
            port.send(junk);
            const Frame f = port.status();
            EXPECT_TRUE(f.valid) << junk;
            EXPECT_EQ(f.brief(), "I3DX") << junk;
            port.send("_KILL");
        }
        // Junk before a move: "D", and the move behind it is ignored (error pending).
        port.send("q7_MOVE:2");
        move_sent = sim::kernel().now();
        Sleep(3000);
        EXPECT_EQ(port.status().brief(), "I3DX") << "the move after the junk did not run";
        port.send("_KILL");
        port.send("_PI");
        partial_sent = sim::kernel().now();
        Sleep(600);
        EXPECT_EQ(port.status().brief(), "I3.X") << "a partial command followed by silence is dropped quietly";

        // "A": nothing on the output stack "3".
        EXPECT_EQ(port.run("_PICK").brief(), "I3AX") << "nothing to pick";
        port.send("_XX");
        EXPECT_EQ(port.status().error, 'A') << "a second error does not replace the pending one";
        port.send("_KILL");
        EXPECT_EQ(port.status().brief(), "I3.X") << "_KILL clears at once, without motion";
        robot.press_pick();
        EXPECT_EQ(port.status().state, 'I') << "after _KILL the Pick button has nothing to retry";
        ASSERT_EQ(port.run("_PICK").error, 'A');
        robot.press_pick();
        EXPECT_EQ(port.wait_idle().error, 'A') << "Pick without discs: the same error";
        EXPECT_EQ(robot.refill('3', 1), 1u);
        robot.press_pick();
        EXPECT_EQ(port.status().state, 'B') << "after a refill, Pick retries the pick";
        EXPECT_EQ(port.wait_idle().picker, 'O');
        port.run("_PICK");  // put it back

        // "F": a scheduled mispick leaves the disc; Pick retries.
        robot.fail_next_picks(2);
        EXPECT_EQ(port.run("_PICK").error, 'F');
        EXPECT_EQ(robot.count_at("3"), 1u) << "the disc stays on the stack";
        robot.press_pick();
        EXPECT_EQ(port.wait_idle().error, 'F') << "the second scheduled failure";
        robot.press_pick();
        EXPECT_EQ(port.wait_idle().picker, 'O') << "Pick retried and succeeded";
        port.run("_PICK");

        // "C": the arm stays where it was. "E": no motion at all; Pause and Pick clear it.
        robot.fail_next_moves(1);
        EXPECT_EQ(port.run("_MOVE:A").brief(), "I3CX") << "the arm stays where it was";
        port.send("_KILL");
        robot.system_error_on_next_commands(1);
        port.send("_MOVE:4");
        EXPECT_EQ(port.status().brief(), "I3EX") << "a system error instead of the motion";
        robot.press_pause_and_pick();
        EXPECT_EQ(port.status().error, '.') << "Pause and Pick together clear it";
        printer->raise_printer_error();
        EXPECT_EQ(port.status().error, 'B') << "the printer's error comes through the robot";
        port.send("_KILL");
    });
    // The parser's log up to the first pick, status queries left out: what each byte sequence
    // became, at the arrival of its last byte (a partial command: when it was dropped).
    using Kind = sim::ReceivedCommand::Kind;
    std::vector<std::string> log;
    Micros last = 0;
    for (const sim::ReceivedCommand& c : robot.received_commands()) {
        EXPECT_LE(last, c.time) << "arrival times never go back";
        last = c.time;
        if (c.text == "_MOVE:2") EXPECT_EQ(c.line(), std::to_string(move_sent / kMs) + " _MOVE:2");
        if (c.kind == Kind::Partial)
            EXPECT_EQ(c.line(), std::to_string((partial_sent + 500 * kMs) / kMs) + " partial \"_PI\" dropped");
        if (c.text == "_PICK") break;
        if (c.text != "_SI")
            log.push_back((c.kind == Kind::Invalid ? "invalid " : c.kind == Kind::Partial ? "partial " : "") + c.text);
    }
    EXPECT_EQ(log, (std::vector<std::string>{"invalid _X", "_KILL", "invalid _MOVE:Z", "_KILL", "invalid _S", "_KILL",
                                             "invalid q", "_MOVE:2", "_KILL", "partial _PI"}));
    int noted = 0;
    for (const std::string& n : robot_notes(rig.world)) noted += n.rfind("error F:", 0) == 0;
    EXPECT_EQ(noted, 2) << "every mispick is written to the transcript";
    EXPECT_EQ(robot.count_at("3"), 1u);
    EXPECT_EQ(robot.check_conservation(), "");
}

TEST(RobotDiscs, DropsWhereNothingHoldsTheDiscLoseItAndOperatorRemovalsAreNotLosses) {
    sim::RobotConfig cfg;
    cfg.reject_capacity = 1;
    cfg.stack_capacity = 30;
    Rig rig(cfg);
    sim::Robot& robot = *rig.robot;
    EXPECT_EQ(robot.refill('4', 10), 5u) << "only what fits";
    ASSERT_TRUE(robot.set_tray_open('A', false));
    rig.run([&](Port& port) {
        for (const char* to : {"A", "S", "E", "G", "G"}) {
            EXPECT_EQ(port.carry("4", to).brief(), std::string("I") + to + ".X") << "the robot does not notice a fall";
        }
    });
    std::vector<std::string> reasons;
    for (const sim::LostDisc& l : robot.lost()) reasons.push_back(std::string(1, l.place) + ": " + l.reason);
    EXPECT_EQ(reasons, (std::vector<std::string>{"A: tray closed", "S: no printer", "E: no laminator", "G: full"}));
    EXPECT_EQ(robot.count_at("A"), 0u);
    EXPECT_EQ(robot.count_at("G"), 1u);
    EXPECT_EQ(robot.empty('G') + robot.empty('2'), 26u);
    EXPECT_EQ(robot.count_at("removed"), 26u);
    EXPECT_EQ(robot.count_at("lost"), 4u) << "discs the operator lifts off are not lost";
    EXPECT_EQ(robot.check_conservation(), "");
}

// A recorder that keeps a copy of each disc it gives away, or forgets the discs it is given: the
// disc accounting every other test relies on must notice either.
class FaultyTray : public sim::SimpleRecorderTray {
public:
    explicit FaultyTray(bool duplicate) : duplicate_(duplicate) {}
    void put(const sim::Disc& disc) override {
        if (duplicate_) sim::SimpleRecorderTray::put(disc);
    }
    std::optional<sim::Disc> take(std::string* why) override {
        std::optional<sim::Disc> d = sim::SimpleRecorderTray::take(why);
        if (d && duplicate_) sim::SimpleRecorderTray::put(*d);
        return d;
    }
    bool can_accept(std::string*) const override { return true; }

private:
    bool duplicate_;
};

// The printer's tray moves on command and holds a disc while out; then faulty recorders C and D
// break the disc accounting, which the conservation check must notice.
TEST(RobotDiscs, PrinterTrayHoldsADiscWhileOutAndTheConservationCheckCatchesDuplicatedAndVanishedDiscs) {
    Rig rig;
    sim::Robot& robot = *rig.robot;
    robot.connect_printer(std::make_shared<sim::SimplePrinter>(2 * kSecond));
    robot.connect_recorder('C', std::make_shared<FaultyTray>(true));
    robot.connect_recorder('D', std::make_shared<FaultyTray>(false));
    const sim::DiscId twin = robot.place_new_disc('C');
    rig.run([&](Port& port) {
        port.send("_PTO");
        Frame f = port.status();
        EXPECT_EQ(f.state, 'I') << "the printer moves its tray, not the arm";
        EXPECT_EQ(f.printer, 'B');
        Sleep(2100);
        f = port.status();
        EXPECT_EQ(f.printer, 'I');
        EXPECT_EQ(f.tray, 'O');
        EXPECT_EQ(port.carry("4", "S").picker, 'X');
        EXPECT_EQ(robot.place_of(25), "S") << "onto the tray that is out";
        port.send("_PTI");
        Sleep(2100);
        EXPECT_EQ(port.status().tray, 'I');
        EXPECT_EQ(port.run("_PICK").error, 'A') << "the disc went in with the tray";
        port.send("_KILL");
        // "_TRAY" toggles; a pick while the tray travels waits for it ("W").
        port.send("_TRAY");
        port.send("_PICK");
        EXPECT_EQ(port.status().state, 'W');
        Micros took = 0;
        f = port.wait_idle(&took);
        EXPECT_GE(took, 2 * kSecond + 3 * kSecond - 100 * kMs) << "the tray's travel, then the pick";
        EXPECT_EQ(f.tray, 'O');
        EXPECT_EQ(f.picker, 'O');
        EXPECT_EQ(port.carry("I").picker, 'X') << "the printer also reached as I";
        EXPECT_EQ(robot.place_of(25), "S");
        EXPECT_TRUE(robot.lost().empty());

        port.carry("C");
        const std::string report = robot.check_conservation();
        EXPECT_NE(report.find("disc " + std::to_string(twin) + " is in 2 places"), std::string::npos) << report;
        port.carry("D");  // D forgets it; the copy in C remains
        EXPECT_EQ(robot.check_conservation(), "") << "one copy is left, in C";
        port.carry("4", "D");
        const std::string gone = robot.check_conservation();
        EXPECT_NE(gone.find("disc 24 is nowhere"), std::string::npos) << gone;
    });
}

TEST(RobotLine, DamagedLateAndLostRepliesAndPowerCuts) {
    sim::RobotConfig cfg;
    cfg.line.damage_probability = 1;
    Rig rig(cfg);
    sim::Robot& robot = *rig.robot;
    sim::RobotLineFaults& line = robot.config().line;
    std::vector<std::string> seen;
    rig.run([&](Port& port) {
        for (int i = 0; i < 80; ++i) {
            port.send("_SI");
            const std::string raw = port.read_for(40 * kMs);
            const Frame f = decode(raw);
            const bool bad_sum = raw.size() == 11 && raw[0] == 'S' && raw[10] == '$' &&
                                 static_cast<uint8_t>(raw[9]) != checksum9(raw);
            const char* kind = raw.empty()                   ? "none"
                               : raw.size() > 11 && f.valid ? "garbage"
                               : bad_sum                     ? "checksum"
                               : raw.size() < 11             ? "dropped"
                                                             : nullptr;
            ASSERT_NE(kind, nullptr) << "neither whole nor damaged in a known way: " << sim::Transcript::escape(raw);
            seen.push_back(kind);
        }
        line.damage_probability = 0;

        line.late_probability = 1;
        line.late_min = line.late_max = 700 * kMs;
        port.send("_SI");
        EXPECT_EQ(port.read_for(600 * kMs), "") << "late: not within the module's first-byte wait";
        EXPECT_TRUE(decode(port.read_for(200 * kMs)).valid) << "but whole";
        line.late_probability = 0;

        // A seeded power cut instead of a reply, while the arm carries a disc to A.
        port.carry("4");
        line.power_cut_probability = 1;
        line.power_cut_min = 3 * kSecond;
        line.power_cut_max = 4 * kSecond;
        port.send("_MOVE:A");
        port.send("_SI");
        EXPECT_EQ(port.read_for(100 * kMs), "");
        EXPECT_FALSE(robot.powered()) << "the power cut instead of a reply";
        line.power_cut_probability = 0;
        port.send("_SV");
        EXPECT_EQ(port.read_for(500 * kMs), "") << "silent while off";
        port.send("_MOVE:2");
        port.send("_RESET");
        Sleep(1800);
        EXPECT_FALSE(robot.powered()) << "off for at least 3 s";
        Sleep(1600);
        EXPECT_TRUE(robot.powered()) << "on again within 4 s";
        const Frame f = port.status();
        EXPECT_TRUE(f.valid);
        EXPECT_EQ(f.brief(), "I3.O") << "home, the move under way forgotten, the disc still in the picker";
        // A reply under way when the power goes is not sent, even when the power is back first.
        port.send("_SI");
        robot.power_off_at(sim::kernel().now() + 1 * kMs, 1 * kMs);
        EXPECT_EQ(port.read_for(100 * kMs), "");
        EXPECT_TRUE(robot.powered());
        EXPECT_TRUE(port.status().valid);
    });
    std::map<std::string, int> count;
    for (const std::string& k : seen) ++count[k];
    for (const char* kind : {"none", "garbage", "checksum", "dropped"}) EXPECT_GT(count[kind], 0) << kind;
    // The transcript names each damage, in the order the host saw them.
    const std::map<std::string, std::string> names = {{"no reply", "none"},
                                                      {"garbage bytes before", "garbage"},
                                                      {"bad checksum", "checksum"},
                                                      {"bytes dropped", "dropped"}};
    std::vector<std::string> noted;
    for (const std::string& n : robot_notes(rig.world))
        for (const auto& [text, kind] : names)
            if (n.find(text) != std::string::npos) noted.push_back(kind);
    EXPECT_EQ(noted, seen);
    EXPECT_TRUE(rig.noted("line fault: reply to _SI late by 700 ms"));
    EXPECT_TRUE(rig.noted("line fault: power cut for"));
    EXPECT_FALSE(rig.noted("_MOVE:2")) << "commands sent while off are not even seen";
    EXPECT_EQ(robot.check_conservation(), "");
}

// A busy session with every seeded fault on; returns its transcript.
std::string faulty_session(uint64_t seed) {
    sim::WorldConfig wc;
    wc.seed = seed;
    sim::RobotConfig cfg;
    cfg.mispick_probability = 0.3;
    cfg.line.damage_probability = 0.3;
    cfg.line.late_probability = 0.2;
    Rig rig(cfg, wc);
    rig.run([&](Port& port) {
        for (char target : std::string("ABCD")) {
            port.run("_MOVE:4");
            for (int tries = 0; tries < 10 && port.run("_PICK").picker != 'O'; ++tries) {
                port.send("_KILL");
                Sleep(300);
            }
            port.run(std::string("_MOVE:") + target);
            port.run("_PICK");
        }
    });
    EXPECT_EQ(rig.robot->check_conservation(), "");
    return rig.world.transcript_text();
}

TEST(RobotLine, SameSeedSameTranscript) {
    const uint64_t seed = sim_test::seed(11);
    const std::string first = faulty_session(seed);
    EXPECT_EQ(first, faulty_session(seed));
    EXPECT_NE(first.find("line fault"), std::string::npos) << "the session exercised the faults";
    EXPECT_NE(first, faulty_session(seed + 1)) << "another seed, another run";
}

}  // namespace
