// Serial ports as the module's robot link relies on them: injected faults, settings refused,
// bytes travelling at line speed to the device and back, read time-outs on the virtual clock.
// What the calls return for the port's usual open errors and settings is held to Windows by the
// conformance cases (serial.*).
#include <windows.h>

#include <string>
#include <vector>

#include "support/scripted_robot.h"
#include "support/sim_test.h"
#include "win32/serial.h"
#include "world/world.h"

namespace {

using sim::kMs;
using sim_test::open_robot_port;
using sim_test::run_in;

// Answers every "?" with "OK$" after a reply delay; remembers what it received and when.
class EchoDevice : public sim::SerialDevice {
public:
    void attached(sim::SerialLine& line) override { line_ = &line; }
    void on_byte(uint8_t byte) override {
        received.push_back(static_cast<char>(byte));
        arrival_us.push_back(sim::kernel().now());
        if (byte == '?') sim::kernel().after(reply_delay, [this] { line_->device_send("OK$"); });
    }
    std::string received;
    std::vector<sim::Micros> arrival_us;
    sim::Micros reply_delay = 5 * kMs;

private:
    sim::SerialLine* line_ = nullptr;
};

HANDLE open_port(const char* name) {
    return CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
}

// A port's injected faults and the settings it refuses: an open refused once, a byte size it
// cannot do, time-outs refused once (the old ones stay), a failed write that wrote nothing, and a
// port left at the wrong speed, which garbles what the device receives. How the sweep's and the
// port's write faults share one family: FaultCounters.APortsWriteFaultsAndTheSweepsShareTheSerialWriteFamily.
TEST(Serial, InjectedFaultsRefusedSettingsAndASpeedMismatch) {
    sim::World world(sim_test::config());
    auto device = std::make_shared<EchoDevice>();
    auto& line = world.serial().attach("COM2", device);
    world.serial().fail_open("COM2", ERROR_GEN_FAILURE, 1);
    run_in(world, [&] {
        EXPECT_EQ(open_port("\\\\.\\com2"), INVALID_HANDLE_VALUE);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_GEN_FAILURE));
        HANDLE h = open_robot_port("\\\\.\\com2");
        ASSERT_NE(h, INVALID_HANDLE_VALUE) << "the fault was for one open";
        DCB dcb{};
        ASSERT_TRUE(GetCommState(h, &dcb));
        dcb.ByteSize = 9;
        EXPECT_FALSE(SetCommState(h, &dcb));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
        line.fail_set_timeouts(1);
        COMMTIMEOUTS to{};
        EXPECT_FALSE(SetCommTimeouts(h, &to));
        EXPECT_TRUE(GetCommTimeouts(h, &to));
        EXPECT_EQ(to.ReadIntervalTimeout, MAXDWORD) << "a refused change leaves the old time-outs";

        line.fail_writes(1);
        DWORD n = 7;
        EXPECT_FALSE(WriteFile(h, "A", 1, &n, NULL));
        EXPECT_EQ(n, 0u);
        EXPECT_TRUE(WriteFile(h, "B", 1, &n, NULL));
        dcb.ByteSize = 8;
        dcb.BaudRate = CBR_9600;
        ASSERT_TRUE(SetCommState(h, &dcb));
        WriteFile(h, "C", 1, &n, NULL);
        Sleep(10);
        CloseHandle(h);
    });
    EXPECT_EQ(sizeof(DCB), 28u);
    ASSERT_EQ(device->received.size(), 2u);
    EXPECT_EQ(device->received[0], 'B');
    EXPECT_NE(device->received[1], 'C') << "garbled by the wrong speed";
}

// Bytes travel at line speed and a read that polls costs time; then, on the same port, blocking
// reads that end on their total or their interval time-out.
TEST(Serial, BytesTravelAtLineSpeedPollingReadsCostTimeAndBlockingReadsHonourTheirTimeouts) {
    sim::World world(sim_test::config());
    auto device = std::make_shared<EchoDevice>();
    world.serial().attach("COM1", device);
    std::string reply;
    sim::Micros write_took = 0, reply_at = 0;
    unsigned empty_reads = 0;
    const sim::Micros byte = 10 * sim::kSecond / 14400;  // 694 us
    run_in(world, [&] {
        HANDLE h = open_robot_port("COM1");
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        sim::Micros t0 = sim::kernel().now();
        DWORD n = 0;
        ASSERT_TRUE(WriteFile(h, "_S?", 3, &n, NULL));
        EXPECT_EQ(n, 3u);
        write_took = sim::kernel().now() - t0;
        // Poll without sleeping, as the robot link does.
        while (reply.size() < 3) {
            char c;
            ASSERT_TRUE(ReadFile(h, &c, 1, &n, NULL));
            if (n == 1)
                reply += c;
            else
                ++empty_reads;
        }
        reply_at = sim::kernel().now() - t0;

        // Total time-out 200 ms, nothing sent: the read returns empty after exactly 200 ms.
        device->reply_delay = 50 * kMs;
        COMMTIMEOUTS to{0, 0, 200, 0, 0};
        SetCommTimeouts(h, &to);
        char buf[16];
        n = 99;
        t0 = sim::kernel().now();
        ASSERT_TRUE(ReadFile(h, buf, sizeof buf, &n, NULL));
        EXPECT_EQ(n, 0u);
        EXPECT_EQ(sim::kernel().now() - t0, 200 * kMs);
        // Interval time-out: the three reply bytes come, then the line goes quiet.
        to = COMMTIMEOUTS{20, 0, 0, 0, 0};
        SetCommTimeouts(h, &to);
        WriteFile(h, "?", 1, &n, NULL);
        t0 = sim::kernel().now();
        ASSERT_TRUE(ReadFile(h, buf, sizeof buf, &n, NULL));
        EXPECT_EQ(std::string(buf, n), "OK$");
        EXPECT_EQ(sim::kernel().now() - t0, 50 * kMs + 3 * byte + 20 * kMs);
        CloseHandle(h);
    });
    EXPECT_EQ(write_took, 3 * byte);
    ASSERT_EQ(device->received.substr(0, 3), "_S?");
    EXPECT_EQ(device->arrival_us[1] - device->arrival_us[0], byte);
    EXPECT_EQ(reply, "OK$");
    // Reply: 5 ms after the '?' arrived, then three bytes at line speed; polled in 250 us slices.
    EXPECT_GE(reply_at, 3 * byte + 5 * kMs + 3 * byte);
    EXPECT_LE(reply_at, 3 * byte + 5 * kMs + 3 * byte + 250);
    EXPECT_GT(empty_reads, 10u);
    // The transcript shows both directions with their times.
    const std::string t = world.transcript_text();
    EXPECT_NE(t.find("COM1 serial>: \"_S?\""), std::string::npos) << t;
    EXPECT_NE(t.find("COM1 serial<: \"OK$\""), std::string::npos) << t;
}

// Another thread closes the port while a read waits on it, as a host's shutdown may: the read
// goes on to its time-out and returns with nothing (the I/O holds the port's object, as on
// Windows), the handle is invalid from the close on, and the object goes once the read has left it.
HANDLE g_port_to_close = nullptr;

TEST(Serial, APortClosedWhileAReadWaitsOnItEndsTheReadAtItsTimeout) {
    sim::World world(sim_test::config());
    world.serial().attach("COM1", std::make_shared<EchoDevice>());
    BOOL read_ok = FALSE, closed = FALSE, read_after = TRUE;
    DWORD got = 99, error_after = 0;
    sim::Micros took = 0;
    run_in(world, [&] {
        g_port_to_close = open_robot_port("COM1");
        ASSERT_NE(g_port_to_close, INVALID_HANDLE_VALUE);
        COMMTIMEOUTS to{0, 0, 200, 0, 0};
        ASSERT_TRUE(SetCommTimeouts(g_port_to_close, &to));
        HANDLE closer = CreateThread(
            nullptr, 0,
            [](LPVOID) -> DWORD {
                Sleep(50);
                return CloseHandle(g_port_to_close) ? 1 : 0;
            },
            nullptr, 0, nullptr);
        char buf[8];
        const sim::Micros t0 = sim::kernel().now();
        read_ok = ReadFile(g_port_to_close, buf, sizeof buf, &got, NULL);
        took = sim::kernel().now() - t0;
        DWORD code = STILL_ACTIVE;
        while (GetExitCodeThread(closer, &code) && code == STILL_ACTIVE) Sleep(10);
        closed = code == 1;
        CloseHandle(closer);
        DWORD n = 0;
        read_after = ReadFile(g_port_to_close, buf, 1, &n, NULL);
        error_after = GetLastError();
    });
    EXPECT_TRUE(closed);
    EXPECT_TRUE(read_ok);
    EXPECT_EQ(got, 0u);
    EXPECT_EQ(took, 200 * kMs);
    EXPECT_FALSE(read_after);
    EXPECT_EQ(error_after, static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(world.handles().open_count("serial"), 0u);
}

}  // namespace
