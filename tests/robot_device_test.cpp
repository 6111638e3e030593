// The virtual autoloader behind COM1, driven the way the module drives it: commands written to a
// real (simulated) serial port from a simulated thread, replies read back by polling ReadFile.
#include <windows.h>

#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "devices/robot.h"
#include "support/sim_test.h"
#include "win32/serial.h"
#include "world/world.h"

namespace {

using sim::kMs;
using sim::kSecond;
using sim::Micros;

// One decoded status frame, checked byte for byte.
struct Frame {
    std::string raw;
    bool valid = false;
    char state = 0, position = 0, aux = 0, error = 0, printer = 0, tray = 0, picker = 0;
};

unsigned checksum9(const std::string& f) {
    unsigned sum = 0;
    for (int i = 0; i < 9; ++i) sum += static_cast<uint8_t>(f[i]);
    return sum % 256;
}

// Well-formed: 11 bytes, "S", length 10, a known state, the checksum of bytes 0..8, "$".
bool well_formed(const std::string& f) {
    return f.size() == 11 && f[0] == 'S' && f[1] == 10 && std::string("IBWP").find(f[2]) != std::string::npos &&
           static_cast<uint8_t>(f[9]) == checksum9(f) && f[10] == '$';
}

Frame decode(const std::string& raw) {
    Frame fr;
    fr.raw = raw;
    if (raw.size() < 11) return fr;
    const std::string f = raw.substr(raw.size() - 11);
    fr.valid = well_formed(f);
    fr.state = f[2];
    fr.position = f[3];
    fr.aux = f[4];
    fr.error = f[5];
    fr.printer = f[6];
    fr.tray = f[7];
    fr.picker = f[8];
    return fr;
}

// The host's end of the cable, opened as the module opens it: 14400 8N1, reads that return at once.
class Port {
public:
    Port() {
        h_ = CreateFileA("COM1", GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
        EXPECT_NE(h_, INVALID_HANDLE_VALUE);
        DCB dcb{};
        dcb.DCBlength = sizeof dcb;
        GetCommState(h_, &dcb);
        dcb.BaudRate = CBR_14400;
        dcb.ByteSize = 8;
        dcb.Parity = NOPARITY;
        dcb.StopBits = ONESTOPBIT;
        EXPECT_TRUE(SetCommState(h_, &dcb));
        COMMTIMEOUTS to{MAXDWORD, 0, 0, 10, 1000};
        EXPECT_TRUE(SetCommTimeouts(h_, &to));
    }
    ~Port() { CloseHandle(h_); }

    // One byte per write, as the module writes commands.
    void send(const std::string& command) {
        for (char c : command) {
            DWORD n = 0;
            EXPECT_TRUE(WriteFile(h_, &c, 1, &n, NULL));
        }
    }
    // Everything that arrives within `window`.
    std::string read_for(Micros window) {
        const Micros end = sim::kernel().now() + window;
        std::string got;
        while (sim::kernel().now() < end) {
            char c;
            DWORD n = 0;
            ReadFile(h_, &c, 1, &n, NULL);
            if (n == 1) got += c;
        }
        return got;
    }
    // Reads until a frame end arrives (or `limit` passes).
    std::string read_frame(Micros limit = 100 * kMs) {
        const Micros end = sim::kernel().now() + limit;
        std::string got;
        while (sim::kernel().now() < end) {
            char c;
            DWORD n = 0;
            ReadFile(h_, &c, 1, &n, NULL);
            if (n != 1) continue;
            got += c;
            if (c == '$' && got.size() >= 11) break;
        }
        return got;
    }
    void drain() { read_for(1 * kMs); }
    Frame status() {
        drain();
        send("_SI");
        return decode(read_frame());
    }
    // Polls the status every 50 ms until the robot reports `state`; returns the frame and sets
    // *took to the time it took (from the call).
    Frame wait_for_state(char state, Micros limit = 20 * kSecond, Micros* took = nullptr) {
        const Micros start = sim::kernel().now();
        Frame f;
        while (sim::kernel().now() - start < limit) {
            f = status();
            if (f.valid && f.state == state) break;
            Sleep(50);
        }
        if (took) *took = sim::kernel().now() - start;
        return f;
    }
    Frame wait_idle(Micros limit = 20 * kSecond, Micros* took = nullptr) { return wait_for_state('I', limit, took); }
    // Sends a motion command and waits for the robot to be idle again.
    Frame run(const std::string& command) {
        send(command);
        return wait_idle();
    }

private:
    HANDLE h_ = INVALID_HANDLE_VALUE;
};

std::vector<std::string> robot_notes(sim::World& world) {
    std::vector<std::string> notes;
    for (const auto& e : world.kernel().transcript().of_kind("robot"))
        if (e.kind == "robot") notes.push_back(e.text);
    return notes;
}

bool has_note(sim::World& world, const std::string& text) {
    for (const std::string& n : robot_notes(world))
        if (n.find(text) != std::string::npos) return true;
    return false;
}

std::shared_ptr<sim::Robot> plug_robot(sim::World& world, const sim::RobotConfig& cfg = sim::RobotConfig()) {
    auto robot = std::make_shared<sim::Robot>(cfg);
    world.serial().attach("COM1", robot);
    return robot;
}

void run_world(sim::World& world) {
    sim::RunResult r = world.run();
    ASSERT_TRUE(r.ok()) << r.report;
}

// ---------------------------------------------------------------------------------------------

TEST(RobotReplies, StatusFrameIsWellFormedAndAnsweredAfterTheReplyDelay) {
    sim::World world(sim_test::config());
    sim::RobotConfig cfg;
    cfg.reply_delay = 20 * kMs;
    cfg.auxiliary = '7';
    auto robot = plug_robot(world, cfg);
    world.spawn("host", [&] {
        Port port;
        port.send("_SI");
        const Micros sent = sim::kernel().now();  // the last byte has left, and arrived
        // Nothing before the reply delay.
        EXPECT_EQ(port.read_for(19 * kMs), "");
        const std::string raw = port.read_frame();
        const Micros done = sim::kernel().now() - sent;
        ASSERT_EQ(raw.size(), 11u) << sim::Transcript::escape(raw);
        EXPECT_EQ(raw[0], 'S');
        EXPECT_EQ(raw[1], 10);
        EXPECT_EQ(raw[2], 'I');
        EXPECT_EQ(raw[3], '3') << "home position at power-on";
        EXPECT_EQ(raw[4], '7');
        EXPECT_EQ(raw[5], '.');
        EXPECT_EQ(raw[6], 'B') << "no printer: busy/silent";
        EXPECT_EQ(raw[7], 'X') << "no printer: tray does not answer";
        EXPECT_EQ(raw[8], 'X') << "picker empty";
        EXPECT_EQ(static_cast<uint8_t>(raw[9]), checksum9(raw));
        EXPECT_EQ(raw[10], '$');
        const Micros byte = 10 * kSecond / 14400;
        EXPECT_GE(done, 20 * kMs + 11 * byte);
        EXPECT_LE(done, 20 * kMs + 11 * byte + 1 * kMs);
        // A second query gets a second, identical frame; the first left nothing behind.
        EXPECT_EQ(port.read_for(50 * kMs), "");
        EXPECT_EQ(port.status().raw, raw);
    });
    run_world(world);
    EXPECT_TRUE(robot_notes(world).empty()) << "status queries are not written to the transcript";
}

TEST(RobotReplies, VersionLineOfAFourDriveQix) {
    sim::World world(sim_test::config());
    plug_robot(world);
    world.spawn("host", [&] {
        Port port;
        port.send("_SV");
        const std::string line = port.read_for(100 * kMs);
        EXPECT_EQ(line, "ZORVIK QIX VERSION:R 1.13 A\r\n");
        const size_t ion = line.find("ION:");
        ASSERT_NE(ion, std::string::npos);
        EXPECT_NE(line.substr(ion + 4, 2).find('R'), std::string::npos);
        EXPECT_EQ(line[line.size() - 3], 'A') << "4 drives";
        EXPECT_EQ(line.substr(ion + 4 + 1, 6), " 1.13 ") << "firmware after a blank";
    });
    run_world(world);
}

TEST(RobotReplies, OlderModelAnswersItsOwnVersionAndHasOnlyTwoRecorders) {
    sim::World world(sim_test::config());
    auto robot = plug_robot(world, sim::RobotConfig::older_model());
    world.spawn("host", [&] {
        Port port;
        port.send("_SV");
        const std::string line = port.read_for(100 * kMs);
        const size_t ion = line.find("ION:");
        ASSERT_NE(ion, std::string::npos) << line;
        EXPECT_EQ(line.substr(ion), "ION:N 1.05 2\r\n");
        // Recorder "B" exists, "C" does not: moving there is an invalid command.
        EXPECT_EQ(port.run("_MOVE:B").position, 'B');
        port.send("_MOVE:C");
        const Frame f = port.status();
        EXPECT_EQ(f.error, 'D');
        EXPECT_EQ(f.state, 'I');
        EXPECT_EQ(f.position, 'B');
    });
    run_world(world);
    EXPECT_EQ(robot->recorder('C'), nullptr);
}

// ---------------------------------------------------------------------------------------------

TEST(RobotMotion, PickFromTheFirstBinAndDropIntoARecorder) {
    sim::World world(sim_test::config());
    auto robot = plug_robot(world);
    world.spawn("host", [&] {
        Port port;
        EXPECT_EQ(robot->count_at("4"), 25u);
        EXPECT_EQ(robot->discs_created(), 100u) << "four input bins of 25";
        // The move takes its 2.5 s; the arm reports where it was until it arrives.
        port.send("_MOVE:4");
        Frame f = port.status();
        EXPECT_EQ(f.state, 'B');
        EXPECT_EQ(f.position, '3');
        Micros took = 0;
        f = port.wait_idle(20 * kSecond, &took);
        EXPECT_EQ(f.position, '4');
        EXPECT_GE(took, 2400 * kMs);
        EXPECT_LE(took, 2600 * kMs);
        // Asked to go where it already is, the arm only settles.
        port.send("_MOVE:4");
        f = port.wait_idle(20 * kSecond, &took);
        EXPECT_EQ(f.position, '4');
        EXPECT_GE(took, 250 * kMs);
        EXPECT_LE(took, 400 * kMs);
        // The pick takes 3 s and brings up the top disc of "4", the highest-numbered one.
        port.send("_PICK");
        f = port.wait_idle(20 * kSecond, &took);
        EXPECT_GE(took, 2900 * kMs);
        EXPECT_LE(took, 3100 * kMs);
        EXPECT_EQ(f.picker, 'O');
        EXPECT_EQ(f.error, '.');
        ASSERT_TRUE(robot->picker().has_value());
        const sim::DiscId disc = robot->picker()->id;
        EXPECT_EQ(disc, 25u);
        EXPECT_EQ(robot->count_at("4"), 24u);
        EXPECT_EQ(robot->place_of(disc), "picker");
        // To recorder A and drop: the same "_PICK" now puts the disc down.
        EXPECT_EQ(port.run("_MOVE:A").position, 'A');
        f = port.run("_PICK");
        EXPECT_EQ(f.picker, 'X');
        EXPECT_EQ(f.error, '.');
        EXPECT_EQ(robot->place_of(disc), "A");
        EXPECT_EQ(robot->discs_at("A"), std::vector<sim::DiscId>{disc});
        EXPECT_EQ(robot->check_conservation(), "");
        // And back out of the recorder to the output stack "3".
        port.run("_PICK");
        EXPECT_EQ(robot->place_of(disc), "picker");
        port.run("_MOVE:3");
        port.run("_PICK");
        EXPECT_EQ(robot->discs_at("3"), std::vector<sim::DiscId>{disc});
        EXPECT_EQ(robot->check_conservation(), "");
    });
    run_world(world);
    EXPECT_TRUE(has_note(world, "_MOVE:4: move to 4"));
    EXPECT_TRUE(has_note(world, "pick from 4: disc 25"));
    EXPECT_TRUE(has_note(world, "drop at A: disc 25"));
    EXPECT_TRUE(has_note(world, "pick from A: disc 25"));
    EXPECT_TRUE(has_note(world, "drop at 3: disc 25"));
}

TEST(RobotMotion, MotionCommandsWhileBusyAreBufferedAndRunInOrder) {
    sim::World world(sim_test::config());
    auto robot = plug_robot(world);
    world.spawn("host", [&] {
        Port port;
        port.send("_MOVE:4");
        Sleep(500);
        port.send("_PICK");  // while moving to 4: picks there once the arm has arrived
        port.send("_MOVE:A");
        port.send("_PICK");
        EXPECT_EQ(robot->buffered_commands(), (std::deque<std::string>{"_PICK", "_MOVE:A", "_PICK"}));
        Frame f = port.status();
        EXPECT_EQ(f.state, 'B');
        EXPECT_EQ(f.position, '3') << "buffering does not disturb the move under way";
        // One motion after the other without an idle frame in between: the robot first reports
        // idle once the whole buffer has run (move 2.5 + pick 3 + move 2.5 + drop 3 seconds).
        Micros took = 0;
        f = port.wait_idle(30 * kSecond, &took);
        EXPECT_GE(took, 10400 * kMs);
        EXPECT_LE(took, 10700 * kMs);
        EXPECT_EQ(f.position, 'A');
        EXPECT_EQ(f.picker, 'X');
        EXPECT_EQ(f.error, '.');
        EXPECT_EQ(robot->place_of(25), "A");
        EXPECT_TRUE(robot->buffered_commands().empty());
        // Still idle afterwards: nothing left over.
        Sleep(5000);
        f = port.status();
        EXPECT_EQ(f.state, 'I');
        EXPECT_EQ(f.position, 'A');
    });
    run_world(world);
    EXPECT_TRUE(has_note(world, "_PICK buffered (1 waiting)"));
    EXPECT_TRUE(has_note(world, "_MOVE:A buffered (2 waiting)"));
    EXPECT_TRUE(has_note(world, "_PICK buffered (3 waiting)"));
    EXPECT_FALSE(has_note(world, "ignored"));
    // The transcript shows them running in the order they came.
    std::vector<std::string> ran;
    for (const std::string& n : robot_notes(world))
        if (n.find("buffered") == std::string::npos && n.rfind("_", 0) == 0) ran.push_back(n.substr(0, n.find(':', 1)));
    EXPECT_EQ(ran, (std::vector<std::string>{"_MOVE", "_PICK", "_MOVE", "_PICK"}));
    EXPECT_EQ(robot->check_conservation(), "");
}

// The module's abort with a disc in the picker: "_MOVE:G", 100 ms, then "_PICK" and "_RESET"
// while the arm still travels.
TEST(RobotMotion, AbortPatternPutsThePickerDiscAtTheRejectPositionThenResets) {
    sim::World world(sim_test::config());
    auto robot = plug_robot(world);
    world.spawn("host", [&] {
        Port port;
        port.run("_MOVE:4");
        port.run("_PICK");
        port.run("_MOVE:A");
        ASSERT_TRUE(robot->picker().has_value());
        const sim::DiscId disc = robot->picker()->id;
        port.send("_MOVE:G");
        Sleep(100);
        port.send("_PICK");
        port.send("_RESET");
        Frame f = port.status();
        EXPECT_EQ(f.state, 'B');
        EXPECT_EQ(f.picker, 'O');
        // Move 2.5 s, drop 3 s, reset 5 s.
        Micros took = 0;
        f = port.wait_idle(30 * kSecond, &took);
        EXPECT_GE(took, 10300 * kMs);
        EXPECT_LE(took, 10700 * kMs);
        EXPECT_EQ(f.error, '.');
        EXPECT_EQ(f.position, '3') << "home";
        EXPECT_EQ(f.picker, 'X');
        EXPECT_EQ(robot->place_of(disc), "G");
        EXPECT_EQ(robot->discs_at("G"), std::vector<sim::DiscId>{disc});
    });
    run_world(world);
    EXPECT_TRUE(robot->lost().empty());
    EXPECT_EQ(robot->check_conservation(), "");
    EXPECT_TRUE(has_note(world, "drop at G: disc 25"));
    EXPECT_TRUE(has_note(world, "reset done: at 3"));
    // The drop happened before the reset started.
    const std::vector<std::string> notes = robot_notes(world);
    size_t drop = notes.size(), reset = notes.size();
    for (size_t i = 0; i < notes.size(); ++i) {
        if (notes[i] == "drop at G: disc 25") drop = i;
        if (notes[i].rfind("_RESET: ", 0) == 0) reset = i;
    }
    EXPECT_LT(drop, reset);
}

TEST(RobotMotion, BufferedCommandsMeetingAnErrorAreDroppedButAResetStillRuns) {
    sim::World world(sim_test::config());
    auto robot = plug_robot(world);
    world.spawn("host", [&] {
        Port port;
        port.run("_MOVE:4");
        port.run("_PICK");
        // The move fails: the drop behind it is dropped from the buffer, the reset runs.
        robot->fail_next_moves(1);
        port.send("_MOVE:G");
        port.send("_PICK");
        port.send("_RESET");
        const Frame f = port.wait_idle(30 * kSecond);
        EXPECT_EQ(f.error, '.') << "cleared by the buffered reset";
        EXPECT_EQ(f.position, '3');
        EXPECT_EQ(f.picker, 'O') << "the disc was never put down";
        EXPECT_EQ(robot->place_of(25), "picker");
        // Without a reset behind it, the error stays and the buffered commands are all dropped.
        robot->fail_next_moves(1);
        port.send("_MOVE:G");
        port.send("_PICK");
        port.send("_MOVE:2");
        const Frame g = port.wait_idle(30 * kSecond);
        EXPECT_EQ(g.error, 'C');
        EXPECT_EQ(g.position, '3');
        EXPECT_EQ(g.picker, 'O');
        Sleep(8000);
        EXPECT_EQ(port.status().state, 'I') << "nothing ran later either";
        EXPECT_TRUE(robot->buffered_commands().empty());
    });
    run_world(world);
    EXPECT_TRUE(has_note(world, "_PICK dropped from the buffer: error pending (C)"));
    EXPECT_TRUE(has_note(world, "_MOVE:2 dropped from the buffer: error pending (C)"));
    EXPECT_TRUE(robot->lost().empty());
    EXPECT_EQ(robot->check_conservation(), "");
}

TEST(RobotMotion, AFullBufferDropsTheNextCommandWithAnInvalidCommandError) {
    sim::World world(sim_test::config());
    sim::RobotConfig cfg;
    cfg.command_buffer_size = 3;
    auto robot = plug_robot(world, cfg);
    world.spawn("host", [&] {
        Port port;
        port.send("_MOVE:4");
        port.send("_MOVE:2");
        port.send("_MOVE:5");
        port.send("_MOVE:1");
        EXPECT_EQ(robot->buffered_commands().size(), 3u);
        EXPECT_EQ(port.status().error, '.');
        port.send("_MOVE:A");  // the fourth while busy: no room
        Frame f = port.status();
        EXPECT_EQ(f.error, 'D');
        EXPECT_EQ(f.state, 'B') << "the error does not stop the move under way";
        EXPECT_EQ(robot->buffered_commands().size(), 3u);
        // Once the move to 4 ends, the error is pending: the buffered moves are dropped.
        f = port.wait_idle();
        EXPECT_EQ(f.position, '4');
        EXPECT_EQ(f.error, 'D');
        EXPECT_TRUE(robot->buffered_commands().empty());
    });
    run_world(world);
    EXPECT_TRUE(has_note(world, "error D: command buffer full, _MOVE:A dropped"));
    EXPECT_TRUE(has_note(world, "_MOVE:1 dropped from the buffer: error pending (D)"));
}

TEST(RobotMotion, ResetIsAcceptedWithAnErrorPendingOrPausedWhereMotionIsIgnored) {
    sim::World world(sim_test::config());
    sim::RobotConfig cfg;
    cfg.initial_discs = {{'4', 0}};
    auto robot = plug_robot(world, cfg);
    world.spawn("host", [&] {
        Port port;
        port.run("_MOVE:4");
        ASSERT_EQ(port.run("_PICK").error, 'A');
        port.send("_MOVE:2");
        EXPECT_EQ(port.status().state, 'I') << "ignored, not buffered";
        EXPECT_TRUE(robot->buffered_commands().empty());
        port.send("_RESET");
        Frame f = port.status();
        EXPECT_EQ(f.state, 'B') << "runs at once";
        EXPECT_EQ(f.error, '.');
        EXPECT_EQ(port.wait_idle().position, '3');
        // Paused and idle: motion is ignored, a reset runs and ends the pause.
        port.run("_MOVE:2");
        robot->press_pause();
        port.send("_PICK");
        EXPECT_EQ(port.status().state, 'P');
        port.send("_RESET");
        EXPECT_EQ(port.status().state, 'B');
        f = port.wait_idle();
        EXPECT_EQ(f.position, '3');
        EXPECT_EQ(f.picker, 'X');
        // Pause pressed during a move: commands arriving then are ignored, a reset is buffered.
        port.send("_MOVE:2");
        Sleep(500);
        robot->press_pause();
        port.send("_PICK");
        port.send("_RESET");
        EXPECT_EQ(robot->buffered_commands(), std::deque<std::string>{"_RESET"});
        f = port.wait_idle();
        EXPECT_EQ(f.position, '3') << "moved to 2, then reset home";
        EXPECT_EQ(f.picker, 'X');
    });
    run_world(world);
    EXPECT_TRUE(has_note(world, "_MOVE:2 ignored: error pending (A)"));
    EXPECT_TRUE(has_note(world, "_PICK ignored: paused"));
    EXPECT_TRUE(has_note(world, "at 2"));
    EXPECT_EQ(robot->count_at("2"), 25u);
}

TEST(RobotCommands, ReceivedCommandsAreLoggedWithTheirArrivalTime) {
    sim::World world(sim_test::config());
    auto robot = plug_robot(world);
    std::vector<Micros> sent_at;
    world.spawn("host", [&] {
        Port port;
        port.send("_SV");
        sent_at.push_back(sim::kernel().now());
        port.read_for(50 * kMs);
        port.send("_MOVE:4");
        sent_at.push_back(sim::kernel().now());
        port.send("_SI");
        sent_at.push_back(sim::kernel().now());
        port.read_for(50 * kMs);
        port.send("q7_KILL");
        sent_at.push_back(sim::kernel().now());
        port.send("_PI");
        Sleep(600);
        port.send("_MOVE:Z");
        sent_at.push_back(sim::kernel().now());
        port.wait_idle();
    });
    run_world(world);
    const std::vector<sim::ReceivedCommand>& got = robot->received_commands();
    ASSERT_GE(got.size(), 8u);
    using Kind = sim::ReceivedCommand::Kind;
    EXPECT_EQ(got[0].text, "_SV");
    EXPECT_EQ(got[0].time, sent_at[0]);
    EXPECT_EQ(got[1].text, "_MOVE:4");
    EXPECT_EQ(got[1].kind, Kind::Command);
    EXPECT_EQ(got[1].time, sent_at[1]);
    EXPECT_EQ(got[2].text, "_SI");
    EXPECT_EQ(got[2].time, sent_at[2]);
    EXPECT_EQ(got[3].kind, Kind::Invalid);
    EXPECT_EQ(got[3].text, "q");
    EXPECT_EQ(got[4].text, "_KILL");
    EXPECT_EQ(got[4].kind, Kind::Command);
    EXPECT_EQ(got[4].time, sent_at[3]);
    EXPECT_EQ(got[5].kind, Kind::Partial);
    EXPECT_EQ(got[5].text, "_PI");
    EXPECT_EQ(got[6].kind, Kind::Invalid);
    EXPECT_EQ(got[6].text, "_MOVE:Z");
    EXPECT_EQ(got[6].time, sent_at[4]);
    // The time of each command is the arrival of its last byte: the bytes take their time on the
    // line, so a later command never has an earlier time.
    for (size_t i = 1; i < got.size(); ++i) EXPECT_LE(got[i - 1].time, got[i].time) << i;
    // The polling of wait_idle: only status queries after that.
    for (size_t i = 7; i < got.size(); ++i) EXPECT_EQ(got[i].text, "_SI") << i;
    // Lines for a tool: "<virtual ms> <command>".
    EXPECT_EQ(got[1].line(), std::to_string(sent_at[1] / kMs) + " _MOVE:4");
    EXPECT_EQ(got[3].line(), std::to_string(got[3].time / kMs) + " invalid \"q\"");
    EXPECT_EQ(got[5].line(), std::to_string(got[5].time / kMs) + " partial \"_PI\" dropped");
}

TEST(RobotErrors, EmptyInputBinUntilRefilledAndPickPressed) {
    sim::World world(sim_test::config());
    sim::RobotConfig cfg;
    cfg.initial_discs = {{'4', 0}};
    auto robot = plug_robot(world, cfg);
    world.spawn("host", [&] {
        Port port;
        port.run("_MOVE:4");
        Frame f = port.run("_PICK");
        EXPECT_EQ(f.state, 'I');
        EXPECT_EQ(f.error, 'A');
        EXPECT_EQ(f.picker, 'X');
        // The error stays; motion commands are ignored meanwhile.
        port.send("_MOVE:2");
        Sleep(3000);
        f = port.status();
        EXPECT_EQ(f.error, 'A');
        EXPECT_EQ(f.position, '4');
        // Pick without discs: the same error again.
        robot->press_pick();
        f = port.wait_idle();
        EXPECT_EQ(f.error, 'A');
        // The operator adds discs and presses Pick: the pick is retried and succeeds.
        EXPECT_EQ(robot->refill('4', 5), 5u);
        robot->press_pick();
        EXPECT_EQ(port.status().state, 'B');
        f = port.wait_idle();
        EXPECT_EQ(f.error, '.');
        EXPECT_EQ(f.picker, 'O');
        ASSERT_TRUE(robot->picker().has_value());
        EXPECT_EQ(robot->place_of(robot->picker()->id), "picker");
        EXPECT_EQ(robot->count_at("4"), 4u);
        EXPECT_EQ(robot->check_conservation(), "");
    });
    run_world(world);
    EXPECT_TRUE(has_note(world, "_MOVE:2 ignored: error pending (A)"));
}

TEST(RobotErrors, KillClearsAPendingErrorAtOnceWithoutMotion) {
    sim::World world(sim_test::config());
    sim::RobotConfig cfg;
    cfg.initial_discs = {{'4', 0}};
    auto robot = plug_robot(world, cfg);
    world.spawn("host", [&] {
        Port port;
        port.run("_MOVE:4");
        ASSERT_EQ(port.run("_PICK").error, 'A');
        // A second error does not replace the pending one.
        port.send("_XX");
        EXPECT_EQ(port.status().error, 'A');
        port.send("_KILL");
        Frame f = port.status();
        EXPECT_EQ(f.state, 'I') << "no motion";
        EXPECT_EQ(f.error, '.');
        EXPECT_EQ(f.position, '4');
        // The Pick button has nothing to retry any more.
        robot->press_pick();
        EXPECT_EQ(port.status().state, 'I');
        // Motion is accepted again.
        EXPECT_EQ(port.run("_MOVE:2").position, '2');
        EXPECT_EQ(port.run("_PICK").picker, 'O');
    });
    run_world(world);
    EXPECT_TRUE(has_note(world, "_KILL: error A cleared"));
}

TEST(RobotErrors, ScheduledMispickLeavesTheDiscAndPickRetries) {
    sim::World world(sim_test::config());
    auto robot = plug_robot(world);
    robot->fail_next_picks(2);
    world.spawn("host", [&] {
        Port port;
        port.run("_MOVE:4");
        Frame f = port.run("_PICK");
        EXPECT_EQ(f.error, 'F');
        EXPECT_EQ(f.picker, 'X');
        EXPECT_EQ(robot->count_at("4"), 25u) << "the disc stays on the stack";
        robot->press_pick();  // second scheduled failure
        EXPECT_EQ(port.wait_idle().error, 'F');
        robot->press_pick();
        f = port.wait_idle();
        EXPECT_EQ(f.error, '.');
        EXPECT_EQ(f.picker, 'O');
        EXPECT_EQ(robot->place_of(25), "picker");
        EXPECT_EQ(robot->check_conservation(), "");
    });
    run_world(world);
    EXPECT_TRUE(has_note(world, "error F: disc not picked at 4"));
}

TEST(RobotErrors, SeededMispicksFollowTheirProbability) {
    sim::World world(sim_test::config());
    sim::RobotConfig cfg;
    cfg.move_time = cfg.same_position_move_time = 10 * kMs;
    cfg.pick_time = cfg.drop_time = 10 * kMs;
    cfg.mispick_probability = 0.5;
    auto robot = plug_robot(world, cfg);
    int failed = 0, picked = 0;
    world.spawn("host", [&] {
        Port port;
        port.run("_MOVE:4");
        for (int i = 0; i < 40; ++i) {
            Frame f = port.run("_PICK");
            if (f.error == 'F') {
                ++failed;
                EXPECT_EQ(f.picker, 'X');
                port.send("_KILL");
            } else {
                ++picked;
                EXPECT_EQ(f.picker, 'O');
                port.run("_PICK");  // put it back
            }
        }
        // Always and never.
        robot->config().mispick_probability = 1;
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(port.run("_PICK").error, 'F');
            port.send("_KILL");
        }
        robot->config().mispick_probability = 0;
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(port.run("_PICK").picker, 'O');
            port.run("_PICK");
        }
    });
    run_world(world);
    EXPECT_GT(failed, 5);
    EXPECT_GT(picked, 5);
    int noted = 0;
    for (const std::string& n : robot_notes(world))
        if (n.rfind("error F:", 0) == 0) ++noted;
    EXPECT_EQ(noted, failed + 3);
    EXPECT_EQ(robot->count_at("4"), 25u);
    EXPECT_EQ(robot->check_conservation(), "");
}

TEST(RobotErrors, ScheduledMovementAndSystemErrorsAndThePrinterErrorHook) {
    sim::World world(sim_test::config());
    auto robot = plug_robot(world);
    auto printer = std::make_shared<sim::SimplePrinter>();
    robot->connect_printer(printer);
    world.spawn("host", [&] {
        Port port;
        robot->fail_next_moves(1);
        Frame f = port.run("_MOVE:A");
        EXPECT_EQ(f.error, 'C');
        EXPECT_EQ(f.position, '3') << "the arm stays where it was";
        port.send("_KILL");
        EXPECT_EQ(port.run("_MOVE:A").position, 'A');
        // A system error instead of the next motion: no motion at all.
        robot->system_error_on_next_commands(1);
        port.send("_MOVE:4");
        f = port.status();
        EXPECT_EQ(f.state, 'I');
        EXPECT_EQ(f.error, 'E');
        EXPECT_EQ(f.position, 'A');
        // Pause and Pick together clear it.
        robot->press_pause_and_pick();
        EXPECT_EQ(port.status().error, '.');
        // The printer reports its error through the robot.
        printer->raise_printer_error();
        f = port.status();
        EXPECT_EQ(f.error, 'B');
        EXPECT_EQ(f.printer, 'I');
        port.send("_KILL");
        EXPECT_EQ(port.status().error, '.');
    });
    run_world(world);
    EXPECT_TRUE(has_note(world, "error C: movement error on the way to A"));
    EXPECT_TRUE(has_note(world, "error E:"));
    EXPECT_TRUE(has_note(world, "error B: printer error"));
}

// ---------------------------------------------------------------------------------------------

TEST(RobotDiscs, DiscDroppedOnAClosedTrayFallsAndIsAccountedAsLost) {
    sim::World world(sim_test::config());
    auto robot = plug_robot(world);
    ASSERT_TRUE(robot->set_tray_open('A', false));
    world.spawn("host", [&] {
        Port port;
        port.run("_MOVE:4");
        port.run("_PICK");
        port.run("_MOVE:A");
        Frame f = port.run("_PICK");
        EXPECT_EQ(f.picker, 'X');
        EXPECT_EQ(f.error, '.') << "the robot does not notice the fall";
        // Printer and laminator are absent: discs dropped there fall too.
        port.run("_MOVE:4");
        port.run("_PICK");
        port.run("_MOVE:S");
        EXPECT_EQ(port.run("_PICK").picker, 'X');
        port.run("_MOVE:4");
        port.run("_PICK");
        port.run("_MOVE:E");
        EXPECT_EQ(port.run("_PICK").picker, 'X');
    });
    run_world(world);
    ASSERT_EQ(robot->lost().size(), 3u);
    EXPECT_EQ(robot->lost()[0].disc.id, 25u);
    EXPECT_EQ(robot->lost()[0].place, 'A');
    EXPECT_EQ(robot->lost()[0].reason, "tray closed");
    EXPECT_EQ(robot->lost()[1].reason, "no printer");
    EXPECT_EQ(robot->lost()[2].reason, "no laminator");
    EXPECT_EQ(robot->place_of(25), "lost");
    EXPECT_EQ(robot->count_at("A"), 0u);
    EXPECT_EQ(robot->count_at("lost"), 3u);
    EXPECT_EQ(robot->count_at("4"), 22u);
    EXPECT_EQ(robot->check_conservation(), "");
    EXPECT_TRUE(has_note(world, "lost disc 25 at A: tray closed"));
}

TEST(RobotDiscs, ClosedRecorderTrayGivesNothingUntilItOpens) {
    sim::World world(sim_test::config());
    auto robot = plug_robot(world);
    const sim::DiscId left = robot->place_new_disc('B');
    ASSERT_NE(left, 0u);
    EXPECT_EQ(robot->place_of(left), "B");
    robot->set_tray_open('B', false);
    world.spawn("host", [&] {
        Port port;
        port.run("_MOVE:B");
        Frame f = port.run("_PICK");
        EXPECT_EQ(f.error, 'A') << "nothing found in a closed tray";
        EXPECT_EQ(robot->place_of(left), "B") << "the disc is still in the drive";
        robot->set_tray_open('B', true);
        robot->press_pick();
        f = port.wait_idle();
        EXPECT_EQ(f.error, '.');
        EXPECT_EQ(f.picker, 'O');
        EXPECT_EQ(robot->place_of(left), "picker");
    });
    run_world(world);
    EXPECT_EQ(robot->check_conservation(), "");
}

TEST(RobotDiscs, OperatorRefillsAndEmptiesAndFullPlacesLetDiscsFall) {
    sim::World world(sim_test::config());
    sim::RobotConfig cfg;
    cfg.reject_capacity = 1;
    cfg.stack_capacity = 30;
    auto robot = plug_robot(world, cfg);
    EXPECT_EQ(robot->refill('4', 10), 5u) << "only what fits";
    EXPECT_EQ(robot->count_at("4"), 30u);
    EXPECT_EQ(robot->refill('G', 1), 0u) << "reject positions are not refilled";
    world.spawn("host", [&] {
        Port port;
        for (int i = 0; i < 2; ++i) {
            port.run("_MOVE:4");
            port.run("_PICK");
            port.run("_MOVE:G");
            EXPECT_EQ(port.run("_PICK").picker, 'X');
        }
    });
    run_world(world);
    EXPECT_EQ(robot->count_at("G"), 1u);
    ASSERT_EQ(robot->lost().size(), 1u);
    EXPECT_EQ(robot->lost()[0].reason, "full");
    EXPECT_EQ(robot->empty('G'), 1u);
    EXPECT_EQ(robot->empty('2'), 25u);
    EXPECT_EQ(robot->count_at("removed"), 26u);
    EXPECT_EQ(robot->place_of(robot->removed().front().id), "removed");
    EXPECT_EQ(robot->count_at("lost"), 1u) << "discs the operator takes out are not lost";
    EXPECT_EQ(robot->check_conservation(), "");
}

// A recorder that keeps a copy of each disc it gives away, or forgets the discs it is given: the
// disc accounting must notice either.
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

TEST(RobotDiscs, ConservationCheckCatchesDuplicatedAndVanishedDiscs) {
    sim::World world(sim_test::config());
    auto robot = plug_robot(world);
    robot->connect_recorder('C', std::make_shared<FaultyTray>(true));
    robot->connect_recorder('D', std::make_shared<FaultyTray>(false));
    EXPECT_EQ(robot->simple_tray('C'), nullptr);
    const sim::DiscId twin = robot->place_new_disc('C');
    EXPECT_EQ(robot->check_conservation(), "");
    world.spawn("host", [&] {
        Port port;
        port.run("_MOVE:C");
        EXPECT_EQ(port.run("_PICK").picker, 'O');
        const std::string report = robot->check_conservation();
        EXPECT_NE(report.find("disc " + std::to_string(twin) + " is in 2 places"), std::string::npos) << report;
        port.run("_MOVE:D");
        port.run("_PICK");  // D forgets it; the copy in C remains
        EXPECT_EQ(robot->check_conservation(), "") << "one copy is left, in C";
        port.run("_MOVE:4");
        port.run("_PICK");
        port.run("_MOVE:D");
        port.run("_PICK");
        const std::string gone = robot->check_conservation();
        EXPECT_NE(gone.find("disc 25 is nowhere"), std::string::npos) << gone;
        EXPECT_EQ(robot->place_of(25), "");
    });
    run_world(world);
}

TEST(RobotDiscs, PrinterTrayMovesOnCommandAndHoldsADiscWhileOut) {
    sim::World world(sim_test::config());
    auto robot = plug_robot(world);
    auto printer = std::make_shared<sim::SimplePrinter>(2 * kSecond);
    robot->connect_printer(printer);
    world.spawn("host", [&] {
        Port port;
        Frame f = port.status();
        EXPECT_EQ(f.printer, 'I');
        EXPECT_EQ(f.tray, 'I');
        port.send("_PTO");
        f = port.status();
        EXPECT_EQ(f.state, 'I') << "the printer moves its tray, not the arm";
        EXPECT_EQ(f.printer, 'B');
        Sleep(2100);
        f = port.status();
        EXPECT_EQ(f.printer, 'I');
        EXPECT_EQ(f.tray, 'O');
        // A disc onto the tray.
        port.run("_MOVE:4");
        port.run("_PICK");
        port.run("_MOVE:S");
        EXPECT_EQ(port.run("_PICK").picker, 'X');
        EXPECT_EQ(robot->place_of(25), "S");
        // Tray in: the disc goes with it, out of the arm's reach.
        port.send("_PTI");
        Sleep(2100);
        EXPECT_EQ(port.status().tray, 'I');
        f = port.run("_PICK");
        EXPECT_EQ(f.error, 'A');
        EXPECT_EQ(robot->place_of(25), "S");
        port.send("_KILL");
        // "_TRAY" toggles; a pick while the tray travels waits for it ("W").
        port.send("_TRAY");
        port.send("_PICK");
        f = port.status();
        EXPECT_EQ(f.state, 'W');
        Micros took = 0;
        f = port.wait_idle(20 * kSecond, &took);
        EXPECT_GE(took, 2 * kSecond + 3 * kSecond - 100 * kMs);
        EXPECT_EQ(f.tray, 'O');
        EXPECT_EQ(f.picker, 'O');
        EXPECT_EQ(robot->place_of(25), "picker");
        // Via the other printer letter: a drop on an empty tray that is out.
        EXPECT_EQ(port.run("_MOVE:I").position, 'I');
        EXPECT_EQ(port.run("_PICK").picker, 'X');
        EXPECT_EQ(robot->place_of(25), "S");
    });
    run_world(world);
    EXPECT_EQ(robot->check_conservation(), "");
    EXPECT_TRUE(robot->lost().empty());
}

// ---------------------------------------------------------------------------------------------

TEST(RobotCommands, InvalidBytesRaiseDAndTheParserResynchronisesOnUnderscore) {
    sim::World world(sim_test::config());
    auto robot = plug_robot(world);
    world.spawn("host", [&] {
        Port port;
        // An unknown command.
        port.send("_XYZ");
        Frame f = port.status();
        EXPECT_TRUE(f.valid) << "the query after the junk is answered";
        EXPECT_EQ(f.error, 'D');
        port.send("_KILL");
        EXPECT_EQ(port.status().error, '.');
        // A position the robot does not know.
        port.send("_MOVE:Z");
        f = port.status();
        EXPECT_EQ(f.error, 'D');
        EXPECT_EQ(f.state, 'I');
        port.send("_KILL");
        // A command cut short by the next one: the "_" starts the next command at once.
        port.drain();
        port.send("_S_SI");
        f = decode(port.read_frame());
        EXPECT_TRUE(f.valid);
        EXPECT_EQ(f.error, 'D');
        port.send("_KILL");
        // Junk before a move: "D", and the move behind it is then ignored (error pending).
        port.send("q7_MOVE:2");
        Sleep(3000);
        f = port.status();
        EXPECT_EQ(f.error, 'D');
        EXPECT_EQ(f.position, '3');
        port.send("_KILL");
        // A partial command followed by silence is dropped quietly.
        port.send("_PI");
        Sleep(600);
        f = port.status();
        EXPECT_EQ(f.error, '.');
        EXPECT_EQ(f.state, 'I');
        EXPECT_EQ(f.picker, 'X');
    });
    run_world(world);
    EXPECT_TRUE(has_note(world, "error D: invalid command \"_X\""));
    EXPECT_TRUE(has_note(world, "error D: invalid command \"_MOVE:Z\""));
    EXPECT_TRUE(has_note(world, "error D: invalid command \"_S\""));
    EXPECT_TRUE(has_note(world, "error D: invalid command \"q\""));
    EXPECT_TRUE(has_note(world, "_MOVE:2 ignored: error pending (D)"));
    EXPECT_TRUE(has_note(world, "partial command \"_PI\" dropped after silence"));
}

TEST(RobotCommands, PausePressedDuringAMoveTakesEffectWhenItEnds) {
    sim::World world(sim_test::config());
    auto robot = plug_robot(world);
    world.spawn("host", [&] {
        Port port;
        port.send("_MOVE:4");
        Sleep(1000);
        robot->press_pause();
        EXPECT_EQ(port.status().state, 'B') << "the move goes on";
        Frame f = port.wait_for_state('P');
        EXPECT_EQ(f.position, '4');
        EXPECT_EQ(f.error, '.');
        // Paused: motion is ignored.
        port.send("_PICK");
        Sleep(4000);
        f = port.status();
        EXPECT_EQ(f.state, 'P');
        EXPECT_EQ(f.picker, 'X');
        // Pause again: running.
        robot->press_pause();
        EXPECT_EQ(port.status().state, 'I');
        EXPECT_EQ(port.run("_PICK").picker, 'O');
        // Pause while idle is immediate.
        robot->press_pause();
        EXPECT_EQ(port.status().state, 'P');
    });
    run_world(world);
    EXPECT_TRUE(has_note(world, "_PICK ignored: paused"));
}

TEST(RobotCommands, ResetClearsTheErrorAndParksTheArmKeepingThePickerDisc) {
    sim::World world(sim_test::config());
    sim::RobotConfig cfg;
    cfg.home_position = 'H';
    auto robot = plug_robot(world, cfg);
    world.spawn("host", [&] {
        Port port;
        port.run("_MOVE:4");
        port.run("_PICK");
        robot->fail_next_moves(1);
        ASSERT_EQ(port.run("_MOVE:A").error, 'C');
        port.send("_RESET");
        Frame f = port.status();
        EXPECT_EQ(f.state, 'B');
        EXPECT_EQ(f.error, '.');
        Micros took = 0;
        f = port.wait_idle(20 * kSecond, &took);
        EXPECT_GE(took, 4900 * kMs);
        EXPECT_LE(took, 5100 * kMs);
        EXPECT_EQ(f.position, 'H');
        EXPECT_EQ(f.picker, 'O');
        EXPECT_EQ(robot->place_of(25), "picker");
        // A reset during a drop waits for it: the disc is put down, then the arm goes home.
        port.run("_MOVE:2");
        port.send("_PICK");
        Sleep(1000);
        port.send("_RESET");
        f = port.wait_idle(20 * kSecond, &took);
        EXPECT_GE(took, 6900 * kMs) << "the rest of the drop, then the reset";
        EXPECT_EQ(f.position, 'H');
        EXPECT_EQ(f.picker, 'X');
        EXPECT_EQ(robot->count_at("2"), 26u);
        EXPECT_EQ(robot->place_of(25), "2");
        // Reset also ends a pause.
        robot->press_pause();
        ASSERT_EQ(port.status().state, 'P');
        port.send("_RESET");
        EXPECT_EQ(port.wait_idle().state, 'I');
    });
    run_world(world);
    EXPECT_EQ(robot->check_conservation(), "");
}

// ---------------------------------------------------------------------------------------------

TEST(RobotLine, EveryReplyDamagedComesDamagedInEachWay) {
    sim::World world(sim_test::config());
    sim::RobotConfig cfg;
    cfg.line.damage_probability = 1;
    auto robot = plug_robot(world, cfg);
    std::vector<std::string> seen;
    world.spawn("host", [&] {
        Port port;
        for (int i = 0; i < 80; ++i) {
            port.send("_SI");
            const std::string raw = port.read_for(40 * kMs);
            const Frame f = decode(raw);
            if (raw.empty()) {
                seen.push_back("none");
            } else if (raw.size() > 11 && f.valid) {
                seen.push_back("garbage");
            } else if (raw.size() == 11 && !f.valid && raw[0] == 'S' && raw[10] == '$') {
                EXPECT_NE(static_cast<uint8_t>(raw[9]), checksum9(raw));
                seen.push_back("checksum");
            } else if (raw.size() < 11) {
                seen.push_back("dropped");
            } else {
                ADD_FAILURE() << "reply neither whole nor damaged in a known way: " << sim::Transcript::escape(raw);
            }
        }
    });
    run_world(world);
    std::map<std::string, int> count;
    for (const std::string& s : seen) ++count[s];
    EXPECT_GT(count["none"], 0);
    EXPECT_GT(count["garbage"], 0);
    EXPECT_GT(count["checksum"], 0);
    EXPECT_GT(count["dropped"], 0);
    // The transcript names each fault, in the order the host saw them.
    std::vector<std::string> noted;
    for (const std::string& n : robot_notes(world)) {
        if (n.find("no reply") != std::string::npos) noted.push_back("none");
        else if (n.find("garbage bytes before") != std::string::npos) noted.push_back("garbage");
        else if (n.find("bad checksum") != std::string::npos) noted.push_back("checksum");
        else if (n.find("bytes dropped") != std::string::npos) noted.push_back("dropped");
    }
    EXPECT_EQ(noted, seen);
}

TEST(RobotLine, LateRepliesArriveAfterTheExtraDelay) {
    sim::World world(sim_test::config());
    sim::RobotConfig cfg;
    cfg.line.late_probability = 1;
    cfg.line.late_min = cfg.line.late_max = 700 * kMs;
    auto robot = plug_robot(world, cfg);
    world.spawn("host", [&] {
        Port port;
        port.send("_SI");
        EXPECT_EQ(port.read_for(600 * kMs), "") << "not within the module's first-byte wait";
        const Frame f = decode(port.read_for(200 * kMs));
        EXPECT_TRUE(f.valid);
        robot->config().line.late_probability = 0;
        EXPECT_TRUE(port.status().valid);
    });
    run_world(world);
    EXPECT_TRUE(has_note(world, "line fault: reply to _SI late by 700 ms"));
}

TEST(RobotLine, PowerOffSilencesTheRobotAndItWakesIdleAtHome) {
    sim::World world(sim_test::config());
    auto robot = plug_robot(world);
    world.spawn("host", [&] {
        Port port;
        port.run("_MOVE:4");
        port.run("_PICK");
        port.send("_MOVE:A");
        Sleep(1000);
        robot->power_off_for(10 * kSecond);
        // Silent, whatever it is asked.
        port.send("_SI");
        EXPECT_EQ(port.read_for(500 * kMs), "");
        port.send("_SV");
        EXPECT_EQ(port.read_for(500 * kMs), "");
        port.send("_MOVE:2");
        port.send("_RESET");
        Sleep(8000);
        EXPECT_FALSE(robot->powered());
        Sleep(1100);
        EXPECT_TRUE(robot->powered());
        const Frame f = port.status();
        EXPECT_TRUE(f.valid);
        EXPECT_EQ(f.state, 'I');
        EXPECT_EQ(f.position, '3');
        EXPECT_EQ(f.error, '.');
        EXPECT_EQ(f.picker, 'O') << "the disc stays in the picker";
        EXPECT_EQ(robot->place_of(25), "picker");
        // A reply under way when the power goes is not sent, even when the power is back before
        // the reply would have gone.
        port.send("_SI");
        robot->power_off_at(sim::kernel().now() + 1 * kMs, 1 * kMs);
        EXPECT_EQ(port.read_for(100 * kMs), "");
        EXPECT_TRUE(robot->powered());
        EXPECT_TRUE(port.status().valid);
    });
    run_world(world);
    EXPECT_TRUE(has_note(world, "power off (disc 25 stays in the picker)"));
    EXPECT_TRUE(has_note(world, "power on: idle at 3"));
    EXPECT_FALSE(has_note(world, "_MOVE:2")) << "commands sent while off are not even seen";
    EXPECT_EQ(robot->check_conservation(), "");
}

TEST(RobotLine, SeededPowerCutsLastTheirWindow) {
    sim::World world(sim_test::config());
    sim::RobotConfig cfg;
    cfg.line.power_cut_probability = 1;
    cfg.line.power_cut_min = 3 * kSecond;
    cfg.line.power_cut_max = 4 * kSecond;
    auto robot = plug_robot(world, cfg);
    world.spawn("host", [&] {
        Port port;
        port.send("_MOVE:4");
        port.send("_SI");
        EXPECT_EQ(port.read_for(100 * kMs), "");
        EXPECT_FALSE(robot->powered());
        robot->config().line.power_cut_probability = 0;
        port.send("_SI");
        EXPECT_EQ(port.read_for(2400 * kMs), "") << "still off";
        Sleep(1600);
        const Frame f = port.status();
        EXPECT_TRUE(f.valid);
        EXPECT_EQ(f.state, 'I');
        EXPECT_EQ(f.position, '3') << "the move was cut short; home after power-on";
    });
    run_world(world);
    EXPECT_TRUE(has_note(world, "line fault: power cut for"));
}

// ---------------------------------------------------------------------------------------------

// A busy session with every seeded fault on; returns its transcript.
std::string faulty_session(uint64_t seed) {
    sim::WorldConfig wc;
    wc.seed = seed;
    sim::World world(wc);
    sim::RobotConfig cfg;
    cfg.mispick_probability = 0.3;
    cfg.line.damage_probability = 0.3;
    cfg.line.late_probability = 0.2;
    auto robot = plug_robot(world, cfg);
    world.spawn("host", [&] {
        Port port;
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
    sim::RunResult r = world.run();
    EXPECT_TRUE(r.ok()) << r.report;
    EXPECT_EQ(robot->check_conservation(), "");
    return world.transcript_text();
}

TEST(RobotLine, SameSeedSameTranscript) {
    const uint64_t seed = sim_test::seed(11);
    const std::string first = faulty_session(seed);
    const std::string again = faulty_session(seed);
    EXPECT_EQ(first, again);
    EXPECT_NE(first.find("line fault"), std::string::npos) << "the session exercised the faults";
    EXPECT_NE(first, faulty_session(seed + 1)) << "another seed, another run";
}

}  // namespace
