// The host's recorders and the engine libraries, reached the way the module reaches them:
// LoadLibraryA / GetProcAddress from a simulated thread, called through the module's own function
// pointer types; the trays as places the robot drops discs into and picks them from.
#include <windows.h>

#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "devices/recorders.h"
#include "devices/robot.h"
#include "setup/host_engine.h"
#include "support/scripted_robot.h"
#include "support/sim_test.h"
#include "win32/components.h"
#include "win32/serial.h"
#include "world/world.h"

namespace {

using sim::kMs;
using sim::kSecond;
using sim::Micros;

template <class T>
T proc(HMODULE lib, const char* name) {
    return reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(lib, name)));
}

// The engine's functions as the module finds them.
struct Fns {
    PFN_KT_MOVETRAY kt_move_tray = nullptr;
    PFN_VELTOSDK_GETHANDLE get_handle = nullptr;
    PFN_VELTOSDK_COMMAND command = nullptr;
    PFN_VELTOSDK_RELEASEHANDLE release = nullptr;
    PFN_DQ_OPENCLOSETRAY dq = nullptr;
};

Fns load_fns() {
    Fns f;
    if (HMODULE kt = LoadLibraryA("KT.dll"))
        f.kt_move_tray = proc<PFN_KT_MOVETRAY>(kt, MAKEINTRESOURCEA(KT_MOVE_TRAY_ORDINAL));
    if (HMODULE sdk = LoadLibraryA("KTSDKPLS.dll")) {
        f.get_handle = proc<PFN_VELTOSDK_GETHANDLE>(sdk, "VeltoSDK_GetHandle");
        f.command = proc<PFN_VELTOSDK_COMMAND>(sdk, "VeltoSDK_Command");
        f.release = proc<PFN_VELTOSDK_RELEASEHANDLE>(sdk, "VeltoSDK_ReleaseHandle");
    }
    if (HMODULE dq = LoadLibraryA("Dorquel.dll")) f.dq = proc<PFN_DQ_OPENCLOSETRAY>(dq, "DQ_OpenCloseTray");
    return f;
}

// Runs `body` on a host thread with the engine's functions loaded, and the world to its end.
void run_host(sim::World& world, const std::function<void(const Fns&)>& body) {
    world.spawn("host", [&] { body(load_fns()); });
    const sim::RunResult r = world.run();
    ASSERT_TRUE(r.ok()) << r.report;
}

bool has_note(sim::World& world, const std::string& text) { return sim_test::in_transcript(world, "recorder", text); }

// Trays

TEST(RecorderTray, TraysMoveOverTimeAndFailedOrRefusedCallsMoveNothing) {
    sim::World world(sim_test::config());
    sim::HostEngineConfig ec;
    ec.engine_handle = 0x00C0FFEE;
    sim::HostEngine engine(world, ec);
    auto rec = engine.add_recorder(sim::RecorderConfig::external(3, 'E', "SN3"));
    auto failing = engine.add_recorder(sim::RecorderConfig::external(5, 'F', "SN5"));
    run_host(world, [&](const Fns& f) {
        ASSERT_TRUE(f.dq && f.kt_move_tray);
        const Micros before = sim::kernel().now();
        EXPECT_EQ(f.dq(0, 3, DQ_TRAY_OPEN), 0);
        EXPECT_EQ(sim::kernel().now() - before, engine.config().tray_call_time) << "the call takes a little time";
        EXPECT_EQ(rec->tray_state(), sim::TrayState::Opening) << "the movement happens after the call";
        Sleep(1490);
        EXPECT_TRUE(rec->tray_moving()) << "a movement takes 1.5 s";
        Sleep(20);
        EXPECT_TRUE(rec->tray_open());
        EXPECT_EQ(f.dq(0, 3, DQ_TRAY_OPEN), 0);
        EXPECT_EQ(rec->tray_movements(), 1u) << "opening an open tray moves nothing";
        // Closed, and opened again half-way: it turns round, back in the time it travelled.
        EXPECT_EQ(f.dq(0, 3, DQ_TRAY_CLOSE), 0);
        Sleep(500);
        EXPECT_EQ(f.dq(0, 3, DQ_TRAY_OPEN), 0);  // 20 ms of call: 520 ms travelled
        EXPECT_EQ(rec->tray_state(), sim::TrayState::Opening);
        Sleep(510);
        EXPECT_TRUE(rec->tray_moving());
        Sleep(20);
        EXPECT_TRUE(rec->tray_open());
        // Kt_MoveTray closes it, with the host's engine handle only.
        EXPECT_EQ(f.kt_move_tray(0x1234, 3, KT_MOVE_TRAY_CLOSE), sim::kErrorBadEngine);
        EXPECT_TRUE(rec->tray_open()) << "another engine handle moves nothing";
        EXPECT_EQ(f.kt_move_tray(0x00C0FFEE, 3, KT_MOVE_TRAY_CLOSE), 0);
        EXPECT_EQ(rec->tray_state(), sim::TrayState::Closing);

        // Unit 5 failing every call with its own code moves nothing; a count of 0 ends that. (A
        // few failures, then a move: FaultCounters.ARecordersCounterFailsItsDorquelCallsButNotKtMoveTray.)
        engine.fail_tray_calls(5, -1, 1234);
        for (int i = 0; i < 3; ++i) EXPECT_EQ(f.dq(0, 5, DQ_TRAY_OPEN), 1234) << "always failing, its own code";
        Sleep(2000);
        EXPECT_TRUE(failing->tray_closed()) << "a failed call moves nothing";
        engine.fail_tray_calls(5, 0);
        EXPECT_EQ(f.dq(0, 5, DQ_TRAY_OPEN), 0);
        EXPECT_TRUE(failing->tray_moving()) << "the call that succeeds moves the tray";
        Sleep(2000);
        EXPECT_TRUE(failing->tray_open());
        EXPECT_TRUE(rec->tray_closed());
    });
    EXPECT_EQ(engine.calls(3).dq_open, 3u);
    EXPECT_EQ(engine.calls(3).dq_close, 1u) << "Kt_MoveTray is counted apart";
    EXPECT_EQ(engine.calls(3).kt_move_tray, 2u);
    EXPECT_EQ(engine.calls(3).dq_failed, 0u);
    EXPECT_EQ(engine.calls(5).dq_open, 4u);
    EXPECT_EQ(engine.calls(5).dq_failed, 3u);
    EXPECT_EQ(failing->tray_movements(), 1u);
    EXPECT_TRUE(has_note(world, "DQ_OpenCloseTray(0, 3, 1) -> 0: unit 3 tray opening"));
    EXPECT_TRUE(has_note(world, "DQ_OpenCloseTray(0, 5, 1) -> 1234: injected failure, tray stays closed"));
}

// Serial numbers: the disc SDK's GET CONFIGURATION and the storage query

const BYTE kGetConfiguration[10] = {0x46, 0x00, 0x01, 0x08, 0x00, 0x00, 0x00, 0x00, 0x64, 0x00};

struct SdkReply {
    LONG result = -1;
    std::vector<BYTE> response = std::vector<BYTE>(100, 0xCC);
    DWORD out[3] = {0, 0, 0};
};

// The module's command (every feature from 0x0108 on, at most 100 bytes) to one drive.
SdkReply sdk_call(const Fns& f, DWORD letter) {
    SdkReply r;
    DWORD handle = 0;
    EXPECT_EQ(f.get_handle(&handle), 0);
    DWORD address[2] = {letter, 0xFFFFFFFF};
    BYTE command[10];
    std::memcpy(command, kGetConfiguration, 10);
    r.result = f.command(handle, address, 10, command, 100, r.response.data(), 1, 100, &r.out[0], &r.out[1], &r.out[2]);
    EXPECT_EQ(f.release(handle), 0);
    return r;
}

WORD word_at(const std::vector<BYTE>& b, size_t at) { return static_cast<WORD>((b[at] << 8) | b[at + 1]); }

// The storage query as the module makes it; "(fail)" when the device cannot be opened,
// "(none)" when the descriptor has no serial number.
std::string storage_serial(char letter) {
    const std::string name = std::string("\\\\.\\") + letter + ":";
    HANDLE h = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return "(fail)";
    STORAGE_PROPERTY_QUERY q;
    std::memset(&q, 0, sizeof q);
    DWORD head[2] = {0, 0}, got = 0;
    EXPECT_TRUE(DeviceIoControl(h, IOCTL_STORAGE_QUERY_PROPERTY, &q, sizeof q, head, 8, &got, nullptr));
    std::vector<BYTE> full(head[1], 0);
    EXPECT_TRUE(DeviceIoControl(h, IOCTL_STORAGE_QUERY_PROPERTY, &q, sizeof q, full.data(),
                                static_cast<DWORD>(full.size()), &got, nullptr));
    CloseHandle(h);
    DWORD offset = 0;
    std::memcpy(&offset, full.data() + 24, sizeof offset);
    if (offset == 0 || offset == 0xFFFFFFFF) return "(none)";
    return std::string(reinterpret_cast<const char*>(full.data() + offset));
}

// (An SDK number with leading blanks, kept: recorders_test, RecorderSerial.HostEngineDrives...)
TEST(RecorderSerials, SdkAndStorageQueryEachReportTheirOwnSerialNumber) {
    sim::World world(sim_test::config());
    sim::HostEngine engine(world);
    sim::RecorderConfig e = sim::RecorderConfig::external(1, 'E', "SN0042X");
    e.storage_serial = "  ST-E1";
    engine.add_recorder(e);
    sim::RecorderConfig f = sim::RecorderConfig::external(2, 'F', "");
    f.sdk_serial.reset();
    f.storage_serial.reset();
    engine.add_recorder(f);
    sim::RecorderConfig g = f;
    g.unit = 3;
    g.letter = 'G';
    g.missing_serial = sim::MissingSerial::CommandFails;
    g.has_volume = false;
    engine.add_recorder(g);
    engine.fail_get_handle(1);
    run_host(world, [&](const Fns& fn) {
        ASSERT_NE(fn.command, nullptr);
        DWORD handle = 0;
        EXPECT_EQ(fn.get_handle(&handle), sim::kSdkNotAvailable) << "the injected failure";

        // The serial feature first: 0x0108, persistent and current, length 8 (the seven
        // characters padded with a blank), then the drive's next feature.
        SdkReply r = sdk_call(fn, 'E');
        EXPECT_EQ(r.result, 0);
        EXPECT_EQ(word_at(r.response, 8), 0x0108);
        EXPECT_EQ(r.response[10], 0x03);
        EXPECT_EQ(r.response[11], 8);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(&r.response[12]), 8), "SN0042X ");
        EXPECT_EQ(word_at(r.response, 20), 0x010B) << "the next feature follows";
        EXPECT_EQ(r.out[0], 28u) << "bytes transferred: the length field's 24 and itself";
        EXPECT_EQ(word_at(r.response, 2), 24u);
        EXPECT_EQ(r.out[1], 0u) << "GOOD status";

        r = sdk_call(fn, 'F');
        EXPECT_EQ(r.result, 0);
        EXPECT_EQ(word_at(r.response, 8), 0x010B) << "no serial number: the reply starts with the next feature";

        r = sdk_call(fn, 'G');
        EXPECT_EQ(r.result, sim::kSdkCheckCondition) << "no serial number, and the command fails";
        EXPECT_EQ(r.out[1], 2u) << "CHECK CONDITION";
        EXPECT_EQ(r.out[2], 5u) << "ILLEGAL REQUEST";
        EXPECT_EQ(r.response, std::vector<BYTE>(100, 0xCC)) << "no reply at all";

        r = sdk_call(fn, 'Q');
        EXPECT_EQ(r.result, sim::kSdkNoSuchDrive);
        EXPECT_EQ(r.response, std::vector<BYTE>(100, 0xCC)) << "an unknown drive leaves the buffer alone";

        EXPECT_EQ(storage_serial('E'), "  ST-E1") << "the storage serial, blanks included, apart from the SDK's";
        EXPECT_EQ(storage_serial('F'), "(none)");
        EXPECT_EQ(storage_serial('G'), "(fail)") << "no volume";
    });
    EXPECT_EQ(engine.calls(1).sdk_commands, 1u);
    EXPECT_EQ(engine.get_handle_calls(), 5u);
    EXPECT_EQ(engine.open_sdk_handles(), 0u) << "every handle got was released";
    EXPECT_EQ(world.components().volume_opens('E'), 1u);
    EXPECT_TRUE(has_note(world, "VeltoSDK_GetHandle -> 0x00005001: injected failure"));
    EXPECT_TRUE(has_note(world, ", E/0xFFFFFFFF, 46 00 01 08 00 00 00 00 64 00) -> 0: GET CONFIGURATION, 28 of 28 bytes"));
}

// The recorder as a place for the robot's discs

TEST(RecorderRobot, DiscGoesIntoAnOpenStillEmptyTrayOnlyAndComesBackOutAsItWasInside) {
    sim::World world(sim_test::config());
    sim::HostEngine engine(world);
    auto rec = engine.add_recorder(sim::RecorderConfig::external(3, 'E', "SN3"));
    auto robot = std::make_shared<sim::Robot>();
    world.serial().attach("COM1", robot);
    robot->connect_recorder('A', rec);
    sim::DiscId left = 0;
    run_host(world, [&](const Fns& f) {
        sim_test::RobotPort arm;  // each command run to its end; the error it left
        auto run = [&](const std::string& command) { return arm.run(command).error; };
        auto deliver = [&](const std::string& to) { return arm.carry("4", to).error; };
        run("_MOVE:A");
        EXPECT_EQ(run("_PICK"), 'A') << "nothing to pick from a closed, empty tray";
        run("_KILL");
        EXPECT_EQ(deliver("A"), '.') << "the robot does not notice the fall";
        EXPECT_EQ(robot->place_of(25), "lost") << "dropped on a closed tray";
        ASSERT_EQ(f.dq(0, 3, DQ_TRAY_OPEN), 0);
        Sleep(1600);
        EXPECT_EQ(deliver("A"), '.');
        EXPECT_EQ(rec->disc_id(), 24u) << "dropped on the open tray: inside";
        // Closed with the disc inside: the disc stays the drive's, out of the arm's reach.
        ASSERT_EQ(f.dq(0, 3, DQ_TRAY_CLOSE), 0);
        Sleep(1600);
        EXPECT_TRUE(rec->mark_recorded());
        EXPECT_EQ(run("_PICK"), 'A') << "nothing to pick from a closed tray";
        EXPECT_EQ(robot->place_of(24), "A");
        run("_KILL");
        // A slow tray: the pick ends while it still opens and finds nothing either.
        rec->set_tray_move_time(5 * kSecond);
        ASSERT_EQ(f.dq(0, 3, DQ_TRAY_OPEN), 0);
        EXPECT_EQ(run("_PICK"), 'A');
        EXPECT_TRUE(rec->tray_moving());
        run("_KILL");
        Sleep(2000);
        ASSERT_TRUE(rec->tray_open());
        EXPECT_EQ(run("_PICK"), '.');
        EXPECT_EQ(rec->disc_id(), 0u);
        run("_MOVE:3");
        run("_PICK");
        // A drop on a moving tray, or on one that holds a disc already, falls too.
        rec->set_tray_move_time(20 * kSecond);
        ASSERT_EQ(f.dq(0, 3, DQ_TRAY_CLOSE), 0);
        EXPECT_EQ(deliver("A"), '.');
        EXPECT_TRUE(rec->tray_moving());
        rec->set_tray_now(true);
        left = robot->place_new_disc('A');
        EXPECT_EQ(deliver("A"), '.');
    });
    EXPECT_EQ(robot->place_of(24), "3");
    ASSERT_TRUE(robot->disc(24).has_value());
    EXPECT_TRUE(robot->disc(24)->recorded) << "the disc came out as it was inside";
    std::vector<std::string> reasons;
    for (const sim::LostDisc& l : robot->lost()) reasons.push_back(l.reason);
    EXPECT_EQ(reasons, (std::vector<std::string>{"tray closed", "tray moving", "tray holds a disc"}));
    ASSERT_NE(left, 0u);
    EXPECT_EQ(rec->disc_id(), left);
    EXPECT_EQ(robot->check_conservation(), "");
}

// The engine

TEST(HostEngine, LeftOutOrGoneLibrariesCannotBeLoaded) {
    {
        sim::World world(sim_test::config());
        sim::HostEngineConfig ec;
        ec.install_sdk = false;
        sim::HostEngine engine(world, ec);
        run_host(world, [&](const Fns& f) {
            SetLastError(0);
            EXPECT_EQ(LoadLibraryA("KTSDKPLS.dll"), nullptr) << "left out";
            EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
            EXPECT_TRUE(f.kt_move_tray && f.dq) << "the others are there";
        });
    }
    sim::World world(sim_test::config());
    auto engine = std::make_unique<sim::HostEngine>(world);
    engine->add_recorder(sim::RecorderConfig::external(1, 'E', "SN1"));
    engine.reset();
    run_host(world, [&](const Fns& f) {
        EXPECT_FALSE(f.kt_move_tray || f.get_handle || f.dq) << "a gone engine takes its libraries with it";
        EXPECT_EQ(storage_serial('E'), "(fail)") << "and its volumes";
    });
}

}  // namespace
