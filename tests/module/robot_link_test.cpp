// The robot link against a robot whose every reply the test decides: frame recognition after
// garbage, checksums, the receive buffer's bound, stale bytes, silence, the version reply, error
// clearing, and the host's status export.
#include <windows.h>

#include <string>

#include "robot/robo_status.h"
#include "robot/serial_port.h"
#include "rovane.h"
#include "support/module_world.h"
#include "support/scripted_robot.h"
#include "world/operator.h"

namespace {

using sim_test::ScriptedRobot;
using sim_test::status_frame;

struct LinkWorld {
    sim::World world;
    std::shared_ptr<ScriptedRobot> robot = std::make_shared<ScriptedRobot>();
    explicit LinkWorld(uint64_t seed = 1) : world(sim_test::config(seed)) {
        sim_test::prepare_module(world);
        world.serial().attach("COM1", robot);
    }
    // Runs fn on a host thread with the port open; fails the test when the world does not finish.
    template <class F>
    void run(F fn) {
        world.spawn("host", [fn] {
            ASSERT_EQ(PortOpen("COM1", FALSE), 1);
            fn();
            PortClose();
        });
        sim::RunResult r = world.run();
        ASSERT_TRUE(r.ok()) << r.report;
    }
    std::vector<std::string> log() { return sim_test::log_texts(world); }
};

// The status record's fields in the frame's order: state, position, auxiliary, error, printer,
// printer tray, picker.
std::string fields(const RoboStatus& st) {
    return {static_cast<char>(st.bRoboState), static_cast<char>(st.bCurrentPosition), static_cast<char>(st.bAuxiliary),
            static_cast<char>(st.bError),     static_cast<char>(st.bPrinterState),    static_cast<char>(st.bPrinterTray),
            static_cast<char>(st.bPicker)};
}

// A late reply of an earlier exchange is eaten before the query; a frame is found after garbage,
// and a "$" among the first ten bytes is no frame end.
TEST(RobotLink, StaleBytesAreEatenAndTheFrameIsFoundAfterGarbageAndAfterAnEarlyDollar) {
    LinkWorld w;
    w.robot->status_replies = {"\x01zz$$q" + status_frame('B', 'A', '7', '.', 'I', 'O', 'O'), "S$" + status_frame('I', 'G')};
    RoboStatus first{}, second{};
    w.run([&] {
        w.robot->send_now(status_frame('P'));
        Sleep(50);
        EXPECT_EQ(GetSystemStatus(&first), 1);
        EXPECT_EQ(GetSystemStatus(&second), 1);
    });
    EXPECT_EQ(fields(first), "BA7.IOO");
    EXPECT_EQ(second.bCurrentPosition, 'G');
    EXPECT_EQ(w.robot->status_queries, 2);
    EXPECT_EQ(sim_test::count_lines(w.log(), "GetSystemStatus: 11 bytes eaten"), 1);
}

TEST(RobotLink, BadChecksumIsReportedAndReadingGoesOn) {
    LinkWorld w;
    std::string bad = status_frame('I', '3');
    bad[9] = static_cast<char>(bad[9] + 1);
    w.robot->status_replies = {bad + status_frame('I', '5'), bad, bad, bad};
    RoboStatus st{};
    int second_result = -1;
    w.run([&] {
        EXPECT_EQ(GetSystemStatus(&st), 1);
        second_result = GetSystemStatus(&st);
    });
    EXPECT_EQ(st.bRoboState, 'B') << "a failed query leaves the robot busy";
    EXPECT_EQ(second_result, 0);
    const auto log = w.log();
    EXPECT_EQ(sim_test::count_lines(log, "WARNING: CHECKSUM ERROR!! TRY AGAIN."), 4);
    EXPECT_EQ(sim_test::count_lines(log, "NOTE: PortRead() no response in GetSystemStatus"), 3);
}

TEST(RobotLink, TheNinetyFirstByteIsDroppedAndTheFrameCannotComplete) {
    LinkWorld w;
    w.robot->status_replies = {std::string(85, '#') + status_frame('I', '1')};
    RoboStatus st{};
    int result = -1;
    w.run([&] { result = GetSystemStatus(&st); });
    EXPECT_EQ(result, 1) << "the second attempt gets the default frame";
    EXPECT_EQ(st.bCurrentPosition, '4');
    const auto log = w.log();
    EXPECT_EQ(sim_test::count_lines(log, "ERROR: RECEIVE BUFFER FILLED UP!"), 85 + 11 - 90);
    EXPECT_EQ(sim_test::count_lines(log, "NOTE: PortRead() no response in GetSystemStatus"), 1);
}

TEST(RobotLink, SilentRobotFailsAfterThreeAttempts) {
    LinkWorld w;
    w.robot->default_status = "";
    w.run([&] {
        RoboStatus st{};
        st.bRoboState = 'I';
        const sim::Micros t0 = sim::kernel().now();
        EXPECT_EQ(GetSystemStatus(&st), 0);
        EXPECT_GT(sim::kernel().now() - t0, 1500 * sim::kMs);
        EXPECT_LT(sim::kernel().now() - t0, 1600 * sim::kMs);
        EXPECT_EQ(st.bRoboState, 'B');
    });
    EXPECT_EQ(w.robot->received, "_SI_SI_SI");
    EXPECT_EQ(sim_test::count_lines(w.log(), "NOTE: PortRead() no response in GetSystemStatus"), 3);
}

TEST(RobotLink, VersionRepliesOfTheQixAndOfOlderModels) {
    LinkWorld w;
    w.run([&] {
        WORD model = 9;
        EXPECT_EQ(GetRoboVersion(1500, &model), 1);
        EXPECT_EQ(model, 1);
        EXPECT_EQ(g_bRecorderCount, 4);
        EXPECT_STREQ(g_szFirmware, "R 1.13 A\r\n");
        w.robot->version_reply = "DUPLICATOR VERSION:N 1.05 2\r\n";
        const sim::Micros t0 = sim::kernel().now();
        EXPECT_EQ(GetRoboVersion(1500, &model), 0);
        EXPECT_GE(sim::kernel().now() - t0, 1500 * sim::kMs) << "an older model is listened to until the time-out";
        EXPECT_EQ(model, 0);
        EXPECT_EQ(g_bRecorderCount, 2);
        w.robot->version_reply = std::string(70, '.') + "VERSION:R 2.0 B\r\n";  // longer than 80 bytes
        EXPECT_EQ(GetRoboVersion(1500, nullptr), 0) << "the cut reply never ends with CR LF inside the buffer";
        EXPECT_EQ(g_bRecorderCount, 0);
    });
    const auto log = w.log();
    EXPECT_EQ(sim_test::count_lines(log, "GetRoboVersion: 4 drives  ZorvikType=1"), 1);
    EXPECT_EQ(sim_test::count_lines(log, "GetRoboVersion: 2 drives  ZorvikType=0"), 1);
    EXPECT_EQ(sim_test::count_lines(log, "ZORVIK QIX VERSION:R 1.13 A"), 1);
}

TEST(RobotLink, KillErrorClearsAPendingErrorAndGivesUpOnABusyRobot) {
    LinkWorld w;
    w.robot->status_replies = {status_frame('I', '4', '0', 'A')};
    RoboStatus st{};
    sim::Micros busy_took = 0;
    w.run([&] {
        ASSERT_EQ(GetSystemStatus(&st), 1);
        ASSERT_EQ(st.bError, 'A');
        KillError(&st);  // the robot's next frames show no error
        EXPECT_EQ(st.bError, '.');
        w.robot->received.clear();
        w.robot->default_status = status_frame('B');
        ASSERT_EQ(GetSystemStatus(&st), 1);
        const sim::Micros t0 = sim::kernel().now();
        KillError(&st);
        busy_took = sim::kernel().now() - t0;
    });
    EXPECT_EQ(w.robot->received.find("_KILL"), std::string::npos) << "nothing is sent to a busy robot";
    EXPECT_GE(busy_took, 10000 * sim::kMs);
    EXPECT_LT(busy_took, 10300 * sim::kMs);
}

TEST(RobotLink, WriteFailuresRestartTheCommandAndGiveUpAfterThree) {
    LinkWorld w;
    int ok = -1, failed = -1;
    w.run([&] {
        w.world.serial().line("COM1")->fail_writes(2);
        ok = PortWrite("_MOVE:A", TRUE);
        w.world.serial().line("COM1")->fail_writes(3);
        failed = PortWrite("_PICK", FALSE);
    });
    EXPECT_EQ(ok, 1);
    EXPECT_EQ(failed, 0);
    EXPECT_EQ(w.robot->received, "_MOVE:A");
    EXPECT_STREQ(g_bLastCommandSent, "_MOVE:A");
}

TEST(RobotLink, OpenFailuresAreLoggedWithTheirTexts) {
    LinkWorld w;
    w.world.op().on_message_box("Port not found").answer(IDOK);
    w.world.spawn("host", [&] {
        EXPECT_EQ(PortOpen("COM3", TRUE), 0);
        // Someone else holds COM1.
        HANDLE other = CreateFileA("COM1", GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
        EXPECT_EQ(PortOpen("COM1", FALSE), 0);
        CloseHandle(other);
        // The configuration fails once: the port is closed again and the next open really opens it.
        w.world.serial().line("COM1")->fail_set_state(1);
        EXPECT_EQ(PortOpen("COM1", FALSE), 0);
        EXPECT_EQ(g_hPort, INVALID_HANDLE_VALUE);
        EXPECT_EQ(PortOpen("COM1", FALSE), 1);
        EXPECT_EQ(PortOpen("COM1", FALSE), 1) << "already open: nothing changes";
        EXPECT_EQ(w.world.serial().line("COM1")->dcb().BaudRate, 14400u);
        EXPECT_EQ(w.world.serial().line("COM1")->dcb().EvtChar, '$');
        EXPECT_EQ(PortClose(), 1);
        EXPECT_EQ(PortClose(), 0);
    });
    sim_test::run_ok(w.world);
    const auto log = w.log();
    EXPECT_EQ(sim_test::count_lines(log, "Error opening COM3. Port not found."), 1);
    EXPECT_EQ(sim_test::count_lines(log, "Error opening COM1. Access Denied.\nSome other program has it open."), 1);
    EXPECT_EQ(sim_test::count_lines(log, "Unable to configure the serial port. ERROR code: 31"), 1);
    EXPECT_EQ(sim_test::count_lines(log, "COM1 control port opened successfully."), 2);
}

TEST(RobotLink, StatusExportNeedsTwentyTwoBytesAndCutsTheFirmware) {
    LinkWorld w;
    w.robot->default_status = status_frame('I', 'S', 'x', '.', 'I', 'O', 'O');
    w.robot->version_reply = "ZORVIK QIX VERSION:R 1.13 with a long tail A\r\n";
    BYTE small[21];
    BYTE buffer[40];
    memset(buffer, 0xEE, sizeof buffer);
    DWORD length = 0, type = 0, small_type = 0;
    DWORD small_result = 9, result = 9;
    w.run([&] {
        small_result = Rovane_GetRoboStatus(small, sizeof small, &length, &small_type);
        EXPECT_EQ(w.robot->status_queries, 0) << "a too small buffer does not ask the robot";
        WORD model;
        GetRoboVersion(1500, &model);
        result = Rovane_GetRoboStatus(buffer, 22, &length, &type);
    });
    EXPECT_EQ(small_result, 0u);
    EXPECT_EQ(small_type, 3u);
    EXPECT_EQ(result, 1u);
    EXPECT_EQ(type, 3u);
    EXPECT_EQ(length, 22u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 7), "I.IOSxO");
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer + 7)), "R 1.13 with a ");
    EXPECT_EQ(buffer[21], 0);
    EXPECT_EQ(buffer[22], 0xEE) << "nothing is written past 22 bytes";
}

}  // namespace
