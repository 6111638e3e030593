// Injected faults through one kind of counter: the sweep's counter for every call of a family and
// the older switches' counters for one port, file or recorder unit share the family, are asked in
// a fixed order, and tell the transcript once per failure (or leave it to the failing call).
#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "devices/recorders.h"
#include "kernel/fault_counter.h"
#include "support/sim_test.h"
#include "win32/serial.h"
#include "world/world.h"

namespace {

std::vector<std::string> texts(sim::World& w, const std::string& kind) { return sim_test::transcript_texts(w, kind); }

std::string fails(sim::FaultCounter& c, int calls) {
    std::string s;
    for (int i = 0; i < calls; ++i) s += c.should_fail() ? 'x' : '.';
    return s;
}

class Sink : public sim::SerialDevice {
public:
    void on_byte(uint8_t byte) override { received.push_back(static_cast<char>(byte)); }
    std::string received;
};

TEST(FaultCounter, FailsTheNthCallOnceForSomeCallsOrForGood) {
    sim::FaultCounter c;
    EXPECT_EQ(fails(c, 3), "...") << "disarmed, it only counts";
    c.arm(3, false);
    EXPECT_EQ(fails(c, 5), "..x..");
    c.arm(2, true);
    EXPECT_EQ(fails(c, 5), ".xxxx");
    c.arm_times(2, 3);
    EXPECT_EQ(fails(c, 6), ".xxx..");
    c.arm_next(2);
    EXPECT_EQ(fails(c, 4), "xx..");
    c.arm_next(-1);
    EXPECT_EQ(fails(c, 3), "xxx");
    c.arm_next(0);
    EXPECT_EQ(fails(c, 2), "..");
    EXPECT_EQ(c.calls(), 28u);
    EXPECT_EQ(c.fired(), 1u + 4u + 3u + 2u + 3u);
}

TEST(FaultCounters, TheCounterForEveryCallComesFirstAndATargetedOneFailsOnlyItsTarget) {
    sim::World world(sim_test::config());
    sim::FaultCounters family;
    family.counter().arm(2, false);
    sim::FaultCounter& one = family.counter("c:\\a.txt");
    one.set_error(ERROR_WRITE_FAULT);
    one.set_told_by_call(true);
    one.arm_next(2);
    std::vector<long> got;
    for (const char* target : {"c:\\b.txt", "c:\\a.txt", "c:\\a.txt", "c:\\a.txt", "c:\\a.txt"})
        got.push_back(sim::inject(family, target, std::string("WriteFile ") + target, ERROR_DISK_FULL).error);
    // b.txt: not its target; a.txt: the sweep's second call first (its fault, the call's own
    // code), then the file's counter for two calls with its own code.
    EXPECT_EQ(got, (std::vector<long>{0, ERROR_DISK_FULL, ERROR_WRITE_FAULT, ERROR_WRITE_FAULT, 0}));
    EXPECT_EQ(texts(world, "fault"), (std::vector<std::string>{"WriteFile c:\\a.txt fails with error 112 (injected, call 2)"}))
        << "a counter of the older switches leaves its line to the failing call";
    EXPECT_EQ(family.counter().calls(), 5u);
    EXPECT_EQ(one.calls(), 3u) << "the file's counter does not hear the call the sweep's fault took";
}

TEST(FaultCounters, ALastingFaultIsToldOnceAndAResultCodeReadsAsANumber) {
    sim::World world(sim_test::config());
    sim::FaultCounters tray(sim::FaultCode::Result);
    tray.counter().arm(1, true);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(sim::inject(tray, "", "DQ_OpenCloseTray(0, 1, 1)", sim::kDqTrayError).error, sim::kDqTrayError);
    EXPECT_EQ(texts(world, "fault"),
              (std::vector<std::string>{"DQ_OpenCloseTray(0, 1, 1) fails with 31 (injected, call 1 and every call after it)"}));
}

TEST(FaultCounters, APortsWriteFaultsAndTheSweepsShareTheSerialWriteFamily) {
    sim::World world(sim_test::config());
    auto sink = std::make_shared<Sink>();
    sim::SerialLine& line = world.serial().attach("COM2", sink);
    world.call_faults().serial_write.counter().arm(2, false);
    std::vector<DWORD> errors;
    sim_test::run_in(world, [&] {
        HANDLE h = CreateFileA("COM2", GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        line.fail_writes(2, ERROR_OPERATION_ABORTED);
        for (char c : std::string("abcd")) {
            DWORD n = 0;
            errors.push_back(WriteFile(h, &c, 1, &n, NULL) ? 0 : GetLastError());
        }
        CloseHandle(h);
    });
    EXPECT_EQ(errors, (std::vector<DWORD>{ERROR_OPERATION_ABORTED, ERROR_GEN_FAILURE, ERROR_OPERATION_ABORTED, 0}));
    EXPECT_EQ(sink->received.size(), 1u) << "a failed write sends nothing";
    EXPECT_EQ(texts(world, "fault"),
              (std::vector<std::string>{"WriteFile (serial) on COM2 fails with error 31 (injected, call 2)"}));
    int port_lines = 0;
    for (const std::string& t : texts(world, "serial")) port_lines += t == "write fault on COM2";
    EXPECT_EQ(port_lines, 2);
}

TEST(FaultCounters, ARecordersCounterFailsItsDorquelCallsButNotKtMoveTray) {
    sim::World world(sim_test::config());
    sim::HostEngine engine(world);
    engine.add_recorder(sim::RecorderConfig::external(5, 'E', "SN5"));
    engine.add_recorder(sim::RecorderConfig::external(6, 'F', "SN6"));
    engine.fail_tray_calls(5, 2);
    std::vector<LONG> got;
    sim_test::run_in(world, [&] {
        got.push_back(engine.kt_move_tray(engine.engine_handle(), 5, 0x80000001));
        got.push_back(engine.dq_open_close_tray(0, 6, 2));
        got.push_back(engine.dq_open_close_tray(0, 5, 2));
        got.push_back(engine.dq_open_close_tray(0, 5, 2));
        got.push_back(engine.dq_open_close_tray(0, 5, 2));
    });
    EXPECT_EQ(got, (std::vector<LONG>{0, 0, sim::kDqTrayError, sim::kDqTrayError, 0}));
    EXPECT_TRUE(texts(world, "fault").empty()) << "the call's own line tells of the unit's fault";
    std::vector<std::string> failed;
    for (const std::string& t : texts(world, "recorder"))
        if (t.find("injected") != std::string::npos) failed.push_back(t);
    EXPECT_EQ(failed, (std::vector<std::string>{
                          "DQ_OpenCloseTray(0, 5, 2) -> 31: injected failure, tray stays opening (1 more to fail)",
                          "DQ_OpenCloseTray(0, 5, 2) -> 31: injected failure, tray stays opening (0 more to fail)"}));
}

}  // namespace
