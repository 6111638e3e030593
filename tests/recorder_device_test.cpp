// The host's recorders and the engine libraries, reached the way the module reaches them:
// LoadLibraryA / GetProcAddress from a simulated thread, called through the module's own function
// pointer types; the trays as places the robot drops discs into and picks them from.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "devices/recorders.h"
#include "devices/robot.h"
#include "setup/host_engine.h"
#include "support/sim_test.h"
#include "win32/components.h"
#include "win32/serial.h"
#include "world/world.h"

namespace {

using sim::kMs;
using sim::kSecond;
using sim::Micros;

void run_world(sim::World& world) {
    const sim::RunResult r = world.run();
    ASSERT_TRUE(r.ok()) << r.report;
}

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

std::vector<std::string> notes(sim::World& world) {
    std::vector<std::string> out;
    for (const auto& e : world.kernel().transcript().of_kind("recorder"))
        if (e.kind == "recorder") out.push_back(e.text);
    return out;
}

bool has_note(sim::World& world, const std::string& text) {
    for (const std::string& n : notes(world))
        if (n.find(text) != std::string::npos) return true;
    return false;
}

// ---------------------------------------------------------------------------------------------
// Trays

TEST(RecorderTray, DorquelOpensAndClosesTheTrayOverTime) {
    sim::World world(sim_test::config());
    sim::HostEngine engine(world);
    sim::RecorderConfig rc = sim::RecorderConfig::external(3, 'E', "SN3");
    rc.tray_move_time = 1500 * kMs;
    auto rec = engine.add_recorder(rc);
    ASSERT_TRUE(rec->tray_closed());
    world.spawn("host", [&] {
        const Fns f = load_fns();
        ASSERT_NE(f.dq, nullptr);
        const Micros before = sim::kernel().now();
        EXPECT_EQ(f.dq(0, 3, DQ_TRAY_OPEN), 0);
        const Micros returned = sim::kernel().now();
        EXPECT_EQ(returned - before, engine.config().tray_call_time) << "the call itself takes a little time";
        // The movement happens after the call.
        EXPECT_EQ(rec->tray_state(), sim::TrayState::Opening);
        EXPECT_TRUE(rec->tray_moving());
        EXPECT_FALSE(rec->tray_open());
        EXPECT_FALSE(rec->tray_closed());
        Sleep(1490);
        EXPECT_TRUE(rec->tray_moving());
        Sleep(20);
        EXPECT_TRUE(rec->tray_open());
        EXPECT_FALSE(rec->tray_moving());
        // Opening an open tray: success, no movement.
        EXPECT_EQ(f.dq(0, 3, DQ_TRAY_OPEN), 0);
        EXPECT_TRUE(rec->tray_open());
        EXPECT_EQ(rec->tray_movements(), 1u);
        // Closing.
        EXPECT_EQ(f.dq(0, 3, DQ_TRAY_CLOSE), 0);
        EXPECT_EQ(rec->tray_state(), sim::TrayState::Closing);
        Sleep(1510);
        EXPECT_TRUE(rec->tray_closed());
        // Opened and closed again half-way: it turns round and is back in the time it travelled.
        EXPECT_EQ(f.dq(0, 3, DQ_TRAY_OPEN), 0);
        Sleep(500);
        EXPECT_EQ(f.dq(0, 3, DQ_TRAY_CLOSE), 0);  // 20 ms of call: 520 ms out
        EXPECT_EQ(rec->tray_state(), sim::TrayState::Closing);
        Sleep(510);
        EXPECT_TRUE(rec->tray_moving());
        Sleep(20);
        EXPECT_TRUE(rec->tray_closed());
        // What the library refuses moves nothing.
        EXPECT_EQ(f.dq(0, 9, DQ_TRAY_OPEN), sim::kErrorNoSuchUnit);
        EXPECT_EQ(f.dq(0, 3, 3), sim::kErrorBadParameter);
        EXPECT_EQ(f.dq(1, 3, DQ_TRAY_OPEN), sim::kErrorBadParameter);
        EXPECT_TRUE(rec->tray_closed());
    });
    run_world(world);
    EXPECT_EQ(rec->tray_movements(), 4u);
    const sim::UnitCalls c = engine.calls(3);
    EXPECT_EQ(c.dq_open, 4u);
    EXPECT_EQ(c.dq_close, 2u);
    EXPECT_EQ(c.dq_failed, 2u) << "bad direction and bad first argument";
    EXPECT_EQ(engine.calls(9).dq_failed, 1u);
    EXPECT_TRUE(has_note(world, "DQ_OpenCloseTray(0, 3, 1) -> 0: unit 3 tray opening"));
    EXPECT_TRUE(has_note(world, "DQ_OpenCloseTray(0, 3, 1) -> 0: unit 3 tray already open"));
    EXPECT_TRUE(has_note(world, "DQ_OpenCloseTray(0, 3, 2) -> 0: unit 3 tray closing (turned round)"));
    EXPECT_TRUE(has_note(world, "unit 3 tray open"));
    EXPECT_TRUE(has_note(world, "DQ_OpenCloseTray(0, 9, 1) -> 2: no such unit"));
}

TEST(RecorderTray, InjectedFailuresComeFirstThenTheTrayMoves) {
    sim::World world(sim_test::config());
    sim::HostEngine engine(world);
    auto rec = engine.add_recorder(sim::RecorderConfig::external(5, 'F', "SN5"));
    auto other = engine.add_recorder(sim::RecorderConfig::external(6, 'G', "SN6"));
    engine.fail_tray_calls(5, 2);
    std::vector<LONG> results;
    world.spawn("host", [&] {
        const Fns f = load_fns();
        ASSERT_NE(f.dq, nullptr);
        // Retried every 500 ms, as the module retries.
        LONG r = f.dq(0, 5, DQ_TRAY_OPEN);
        results.push_back(r);
        while (r != 0 && results.size() < 10) {
            Sleep(500);
            r = f.dq(0, 5, DQ_TRAY_OPEN);
            results.push_back(r);
        }
        EXPECT_TRUE(rec->tray_moving());
        // The failures were for unit 5 only.
        EXPECT_EQ(f.dq(0, 6, DQ_TRAY_OPEN), 0);
        Sleep(2000);
        EXPECT_TRUE(rec->tray_open());
        EXPECT_TRUE(other->tray_open());
        // Always failing, with a code of its own, until told to stop.
        engine.fail_tray_calls(5, -1, 1234);
        for (int i = 0; i < 5; ++i) EXPECT_EQ(f.dq(0, 5, DQ_TRAY_CLOSE), 1234);
        Sleep(2000);
        EXPECT_TRUE(rec->tray_open()) << "a failed call moves nothing";
        engine.fail_tray_calls(5, 0);
        EXPECT_EQ(f.dq(0, 5, DQ_TRAY_CLOSE), 0);
        Sleep(2000);
        EXPECT_TRUE(rec->tray_closed());
    });
    run_world(world);
    EXPECT_EQ(results, (std::vector<LONG>{sim::kDqTrayError, sim::kDqTrayError, 0}));
    const sim::UnitCalls c = engine.calls(5);
    EXPECT_EQ(c.dq_open, 3u);
    EXPECT_EQ(c.dq_close, 6u);
    EXPECT_EQ(c.dq_failed, 7u);
    EXPECT_EQ(engine.calls(6).dq_failed, 0u);
    EXPECT_EQ(rec->tray_movements(), 2u);
    EXPECT_TRUE(has_note(world, "DQ_OpenCloseTray(0, 5, 1) -> 31: injected failure, tray stays closed (1 more to fail)"));
    EXPECT_TRUE(has_note(world, "DQ_OpenCloseTray(0, 5, 2) -> 1234: injected failure, tray stays open (always failing)"));
}

TEST(RecorderTray, KtMoveTrayClosesWithTheHostsEngineHandle) {
    sim::World world(sim_test::config());
    sim::HostEngineConfig ec;
    ec.engine_handle = 0x00C0FFEE;
    sim::HostEngine engine(world, ec);
    sim::RecorderConfig rc = sim::RecorderConfig::external(2, 'H', "SN2");
    rc.tray_open = true;
    auto rec = engine.add_recorder(rc);
    world.spawn("host", [&] {
        const Fns f = load_fns();
        ASSERT_NE(f.kt_move_tray, nullptr);
        // Another engine handle: refused, the tray stays open.
        EXPECT_EQ(f.kt_move_tray(0x1234, 2, KT_MOVE_TRAY_CLOSE), sim::kErrorBadEngine);
        EXPECT_TRUE(rec->tray_open());
        EXPECT_EQ(f.kt_move_tray(0x00C0FFEE, 2, KT_MOVE_TRAY_CLOSE), 0);
        EXPECT_EQ(rec->tray_state(), sim::TrayState::Closing);
        Sleep(1600);
        EXPECT_TRUE(rec->tray_closed());
        EXPECT_EQ(f.kt_move_tray(0x00C0FFEE, 7, KT_MOVE_TRAY_CLOSE), sim::kErrorNoSuchUnit);
        EXPECT_EQ(f.kt_move_tray(0x00C0FFEE, 2, 0x80000005), sim::kErrorBadParameter);
    });
    run_world(world);
    EXPECT_EQ(engine.calls(2).kt_move_tray, 3u);
    EXPECT_EQ(engine.calls(2).dq_close, 0u) << "Kt_MoveTray is counted apart";
    EXPECT_EQ(rec->tray_movements(), 1u);
    EXPECT_TRUE(has_note(world, "Kt_MoveTray(0x00C0FFEE, 2, 0x80000002) -> 0: unit 2 tray closing"));
    EXPECT_TRUE(has_note(world, "Kt_MoveTray(0x00001234, 2, 0x80000002) -> 6: not the engine handle 0x00C0FFEE"));
}

// ---------------------------------------------------------------------------------------------
// The disc SDK

const BYTE kGetConfiguration[10] = {0x46, 0x00, 0x01, 0x08, 0x00, 0x00, 0x00, 0x00, 0x64, 0x00};

struct SdkReply {
    LONG result = -1;
    std::vector<BYTE> response = std::vector<BYTE>(100, 0xCC);
    DWORD out[3] = {0, 0, 0};
};

// One command through the SDK, with the arguments the module passes.
SdkReply sdk_call(const Fns& f, DWORD letter, const BYTE* cdb = kGetConfiguration, DWORD second_word = 0xFFFFFFFF) {
    SdkReply r;
    DWORD handle = 0;
    EXPECT_EQ(f.get_handle(&handle), 0);
    DWORD address[2] = {letter, second_word};
    BYTE command[10];
    std::memcpy(command, cdb, 10);
    r.result = f.command(handle, address, 10, command, 100, r.response.data(), 1, 100, &r.out[0], &r.out[1], &r.out[2]);
    EXPECT_EQ(f.release(handle), 0);
    return r;
}

WORD word_at(const std::vector<BYTE>& b, size_t at) { return static_cast<WORD>((b[at] << 8) | b[at + 1]); }

DWORD length_field(const std::vector<BYTE>& b) {
    return (DWORD(b[0]) << 24) | (DWORD(b[1]) << 16) | (DWORD(b[2]) << 8) | b[3];
}

// The serial number as a reader of the reply takes it: from byte 12 up to the first NUL or blank.
std::string serial_text(const std::vector<BYTE>& b) {
    std::string s;
    for (size_t i = 12; i < b.size() && b[i] != 0 && b[i] != ' '; ++i) s += static_cast<char>(b[i]);
    return s;
}

TEST(RecorderSdk, GetConfigurationReplyIsLaidOutAsADrivesWithAndWithoutSerial) {
    sim::World world(sim_test::config());
    sim::HostEngine engine(world);
    sim::RecorderConfig with = sim::RecorderConfig::external(1, 'E', "SN0042X");
    with.storage_serial = "other";
    engine.add_recorder(with);
    sim::RecorderConfig without = sim::RecorderConfig::external(2, 'F', "");
    without.sdk_serial.reset();
    engine.add_recorder(without);
    sim::RecorderConfig failing = without;
    failing.unit = 3;
    failing.letter = 'G';
    failing.missing_serial = sim::MissingSerial::CommandFails;
    engine.add_recorder(failing);
    world.spawn("host", [&] {
        const Fns f = load_fns();
        ASSERT_NE(f.command, nullptr);

        // The serial feature first: header, 0x0108, persistent and current, length 8 (the
        // seven characters padded with a blank), then the drive's next feature.
        SdkReply r = sdk_call(f, 'E');
        EXPECT_EQ(r.result, 0);
        EXPECT_EQ(word_at(r.response, 8), 0x0108);
        EXPECT_EQ(r.response[10], 0x03);
        EXPECT_EQ(r.response[11], 8);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(&r.response[12]), 8), "SN0042X ");
        EXPECT_EQ(word_at(r.response, 20), 0x010B) << "the next feature follows";
        EXPECT_EQ(r.response[23], 4);
        const DWORD total = length_field(r.response) + 4;
        EXPECT_EQ(total, 28u);
        EXPECT_EQ(r.out[0], total) << "bytes transferred";
        EXPECT_EQ(r.out[1], 0u) << "GOOD status";
        EXPECT_EQ(r.response[total], 0xCC) << "nothing written beyond the reply";
        EXPECT_EQ(word_at(r.response, 6), 0x0000) << "no disc loaded: no current profile";
        EXPECT_EQ(serial_text(r.response), "SN0042X");
        // Lower-case letters name the same drive.
        EXPECT_EQ(sdk_call(f, 'e').response, r.response);

        // No serial number: the reply starts with the next feature.
        r = sdk_call(f, 'F');
        EXPECT_EQ(r.result, 0);
        EXPECT_EQ(word_at(r.response, 8), 0x010B);
        EXPECT_EQ(length_field(r.response), 4u + 8u);

        // No serial number, and the command fails: no reply at all.
        r = sdk_call(f, 'G');
        EXPECT_EQ(r.result, sim::kSdkCheckCondition);
        EXPECT_EQ(r.out[1], 2u) << "CHECK CONDITION";
        EXPECT_EQ(r.out[2], 5u) << "ILLEGAL REQUEST";
        EXPECT_EQ(r.response, std::vector<BYTE>(100, 0xCC));

        // A smaller allocation length cuts the reply; the length field still tells the whole.
        BYTE short_cdb[10];
        std::memcpy(short_cdb, kGetConfiguration, 10);
        short_cdb[8] = 14;
        r = sdk_call(f, 'E', short_cdb);
        EXPECT_EQ(r.result, 0);
        EXPECT_EQ(r.out[0], 14u);
        EXPECT_EQ(length_field(r.response), 24u);
        EXPECT_EQ(r.response[13], 'N');
        EXPECT_EQ(r.response[14], 0xCC);
        // Only the serial feature (request type 2), and all features from 0 on.
        short_cdb[1] = 0x02;
        short_cdb[8] = 100;
        r = sdk_call(f, 'E', short_cdb);
        EXPECT_EQ(length_field(r.response), 4u + 12u);
        EXPECT_EQ(word_at(r.response, 8), 0x0108);
        short_cdb[1] = 0x00;
        short_cdb[2] = short_cdb[3] = 0;
        r = sdk_call(f, 'E', short_cdb);
        EXPECT_EQ(word_at(r.response, 8), 0x0000) << "the profile list comes first";
    });
    run_world(world);
    EXPECT_EQ(engine.calls(1).sdk_commands, 5u);
    EXPECT_EQ(engine.calls(2).sdk_commands, 1u);
    EXPECT_EQ(engine.open_sdk_handles(), 0u);
    EXPECT_TRUE(has_note(world, "-> 0: GET CONFIGURATION, 28 of 28 bytes, first feature 0x0108, serial \"SN0042X \""));
    EXPECT_TRUE(has_note(world, "VeltoSDK_Command(0x5D4B0001, E/0xFFFFFFFF, 46 00 01 08 00 00 00 00 64 00) -> 0"));
}

TEST(RecorderSdk, LeadingBlanksAreKeptAndRefusedCommandsLeaveTheBufferAlone) {
    sim::World world(sim_test::config());
    sim::HostEngine engine(world);
    engine.add_recorder(sim::RecorderConfig::external(4, 'K', "  SN77"));
    engine.fail_get_handle(1);
    world.spawn("host", [&] {
        const Fns f = load_fns();
        ASSERT_NE(f.get_handle, nullptr);
        DWORD handle = 0;
        EXPECT_EQ(f.get_handle(&handle), sim::kSdkNotAvailable) << "injected";
        EXPECT_EQ(handle, 0u);

        SdkReply r = sdk_call(f, 'K');
        EXPECT_EQ(r.result, 0);
        EXPECT_EQ(word_at(r.response, 8), 0x0108);
        EXPECT_EQ(r.response[11], 8);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(&r.response[12]), 8), "  SN77  ");
        EXPECT_EQ(serial_text(r.response), "") << "the reader stops at the first blank";

        // A drive the SDK does not know, another command, a wrong second address word.
        r = sdk_call(f, 'Q');
        EXPECT_EQ(r.result, sim::kSdkNoSuchDrive);
        EXPECT_EQ(r.response, std::vector<BYTE>(100, 0xCC));
        const BYTE inquiry[10] = {0x12, 0x00, 0x00, 0x00, 0x60, 0x00, 0, 0, 0, 0};
        r = sdk_call(f, 'K', inquiry);
        EXPECT_EQ(r.result, sim::kSdkCheckCondition);
        EXPECT_EQ(r.response, std::vector<BYTE>(100, 0xCC));
        r = sdk_call(f, 'K', kGetConfiguration, 0);
        EXPECT_EQ(r.result, sim::kSdkBadParameter);
        EXPECT_EQ(r.response, std::vector<BYTE>(100, 0xCC));

        // A released handle is no handle.
        ASSERT_EQ(f.get_handle(&handle), 0);
        ASSERT_EQ(f.release(handle), 0);
        DWORD address[2] = {'K', 0xFFFFFFFF};
        BYTE command[10];
        std::memcpy(command, kGetConfiguration, 10);
        std::vector<BYTE> response(100, 0xCC);
        DWORD a = 0, b = 0, c = 0;
        EXPECT_EQ(f.command(handle, address, 10, command, 100, response.data(), 1, 100, &a, &b, &c), sim::kSdkBadHandle);
        EXPECT_EQ(response, std::vector<BYTE>(100, 0xCC));
        EXPECT_EQ(f.release(handle), sim::kSdkBadHandle);
        // A handle still held shows in the count.
        ASSERT_EQ(f.get_handle(&handle), 0);
        EXPECT_EQ(engine.open_sdk_handles(), 1u);
    });
    run_world(world);
    EXPECT_EQ(engine.get_handle_calls(), 7u);
    EXPECT_EQ(engine.release_handle_calls(), 6u);
    EXPECT_EQ(engine.open_sdk_handles(), 1u);
    EXPECT_TRUE(has_note(world, "VeltoSDK_GetHandle -> 0x00005001: injected failure"));
    EXPECT_TRUE(has_note(world, "serial \"  SN77  \""));
}

// ---------------------------------------------------------------------------------------------
// The storage query

DWORD word(const std::vector<BYTE>& b, size_t at) {
    DWORD v;
    std::memcpy(&v, b.data() + at, sizeof v);
    return v;
}

// The storage query as the module makes it; "(fail)" when the device cannot be opened,
// "(none)" when the descriptor has no serial number.
std::string storage_serial(char letter) {
    const std::string name = std::string("\\\\.\\") + letter + ":";
    HANDLE h = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return "(fail)";
    STORAGE_PROPERTY_QUERY q;
    std::memset(&q, 0, sizeof q);
    std::vector<BYTE> head(8, 0);
    DWORD got = 0;
    EXPECT_TRUE(DeviceIoControl(h, IOCTL_STORAGE_QUERY_PROPERTY, &q, sizeof q, head.data(), 8, &got, nullptr));
    std::vector<BYTE> full(word(head, 4), 0);
    EXPECT_TRUE(DeviceIoControl(h, IOCTL_STORAGE_QUERY_PROPERTY, &q, sizeof q, full.data(),
                                static_cast<DWORD>(full.size()), &got, nullptr));
    CloseHandle(h);
    const DWORD offset = word(full, 24);
    if (offset == 0 || offset == 0xFFFFFFFF) return "(none)";
    return std::string(reinterpret_cast<const char*>(full.data() + offset));
}

TEST(RecorderStorage, VolumesReportTheStorageSerialApartFromTheSdkOne) {
    sim::World world(sim_test::config());
    sim::HostEngine engine(world);
    sim::RecorderConfig e = sim::RecorderConfig::external(1, 'E', "SDK-E");
    e.storage_serial = "  ST-E1";
    engine.add_recorder(e);
    sim::RecorderConfig f = sim::RecorderConfig::external(2, 'F', "SDK-F");
    f.storage_serial.reset();
    engine.add_recorder(f);
    sim::RecorderConfig g = sim::RecorderConfig::external(3, 'G', "SDK-G");
    g.has_volume = false;
    engine.add_recorder(g);
    std::string serial_e, serial_f, serial_g, sdk_f;
    world.spawn("host", [&] {
        serial_e = storage_serial('E');
        serial_f = storage_serial('F');
        serial_g = storage_serial('G');
        sdk_f = serial_text(sdk_call(load_fns(), 'F').response);
    });
    run_world(world);
    EXPECT_EQ(serial_e, "  ST-E1") << "blanks included";
    EXPECT_EQ(serial_f, "(none)");
    EXPECT_EQ(serial_g, "(fail)");
    EXPECT_EQ(sdk_f, "SDK-F") << "the SDK still knows its serial number";
    EXPECT_EQ(world.components().volume_opens('E'), 1u);
}

// ---------------------------------------------------------------------------------------------
// The recorder as a place for the robot's discs

// The robot's end of the cable, driven by writing commands and polling the status frame.
class RobotPort {
public:
    RobotPort() {
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
        SetCommTimeouts(h_, &to);
    }
    ~RobotPort() { CloseHandle(h_); }
    void send(const std::string& s) {
        DWORD n = 0;
        WriteFile(h_, s.data(), static_cast<DWORD>(s.size()), &n, NULL);
    }
    // The state and error bytes of a fresh status frame ("" when none came).
    std::string status() {
        char c;
        DWORD n = 0;
        while (ReadFile(h_, &c, 1, &n, NULL) && n == 1) {
        }
        send("_SI");
        std::string got;
        const Micros end = sim::kernel().now() + 100 * kMs;
        while (sim::kernel().now() < end && got.size() < 11) {
            if (ReadFile(h_, &c, 1, &n, NULL) && n == 1) got += c;
        }
        return got.size() == 11 ? got.substr(2, 1) + got.substr(5, 1) : std::string();
    }
    // Runs a motion command to its end; returns the error byte ('?' when the robot never
    // became idle within a minute).
    char run(const std::string& command) {
        send(command);
        const Micros end = sim::kernel().now() + 60 * kSecond;
        while (sim::kernel().now() < end) {
            Sleep(100);
            const std::string s = status();
            if (s.size() == 2 && s[0] == 'I') return s[1];
        }
        ADD_FAILURE() << command << ": the robot did not become idle";
        return '?';
    }

private:
    HANDLE h_ = INVALID_HANDLE_VALUE;
};

TEST(RecorderRobot, DiscGoesIntoAnOpenRecorderStaysInsideWhileClosedAndComesBack) {
    sim::World world(sim_test::config());
    sim::HostEngine engine(world);
    auto rec = engine.add_recorder(sim::RecorderConfig::external(3, 'E', "SN3"));
    auto robot = std::make_shared<sim::Robot>();
    world.serial().attach("COM1", robot);
    robot->connect_recorder('A', rec);
    EXPECT_EQ(robot->recorder('A'), rec.get());
    world.spawn("host", [&] {
        const Fns f = load_fns();
        RobotPort port;
        // A pick from the closed, empty tray finds nothing.
        port.run("_MOVE:A");
        EXPECT_EQ(port.run("_PICK"), 'A');
        port.send("_KILL");
        ASSERT_EQ(f.dq(0, 3, DQ_TRAY_OPEN), 0);
        Sleep(1600);
        port.run("_MOVE:4");
        port.run("_PICK");
        port.run("_MOVE:A");
        EXPECT_EQ(port.run("_PICK"), '.');
        EXPECT_EQ(rec->disc_id(), 25u);
        EXPECT_EQ(robot->place_of(25), "A");
        // Closed with the disc inside: the disc stays the drive's, out of the arm's reach.
        ASSERT_EQ(f.dq(0, 3, DQ_TRAY_CLOSE), 0);
        Sleep(1600);
        EXPECT_TRUE(rec->tray_closed());
        EXPECT_TRUE(rec->mark_recorded());
        EXPECT_EQ(port.run("_PICK"), 'A') << "nothing to pick from a closed tray";
        EXPECT_EQ(robot->place_of(25), "A");
        port.send("_KILL");
        // A slow tray: the pick ends while it still opens and finds nothing either.
        rec->set_tray_move_time(5 * kSecond);
        ASSERT_EQ(f.dq(0, 3, DQ_TRAY_OPEN), 0);
        EXPECT_EQ(port.run("_PICK"), 'A');
        EXPECT_TRUE(rec->tray_moving());
        port.send("_KILL");
        Sleep(2000);
        ASSERT_TRUE(rec->tray_open());
        EXPECT_EQ(port.run("_PICK"), '.');
        EXPECT_EQ(rec->disc_id(), 0u);
        EXPECT_EQ(robot->place_of(25), "picker");
        port.run("_MOVE:3");
        port.run("_PICK");
    });
    run_world(world);
    EXPECT_EQ(robot->place_of(25), "3");
    ASSERT_TRUE(robot->disc(25).has_value());
    EXPECT_TRUE(robot->disc(25)->recorded) << "the disc came out as it was inside";
    EXPECT_TRUE(robot->lost().empty());
    EXPECT_EQ(robot->check_conservation(), "");
}

TEST(RecorderRobot, DropOnAClosedMovingOrOccupiedTrayLosesTheDisc) {
    sim::World world(sim_test::config());
    sim::HostEngine engine(world);
    sim::RecorderConfig rc = sim::RecorderConfig::external(1, 'E', "SN1");
    rc.tray_move_time = 20 * kSecond;
    auto rec = engine.add_recorder(rc);
    auto robot = std::make_shared<sim::Robot>();
    world.serial().attach("COM1", robot);
    robot->connect_recorder('B', rec);
    sim::DiscId left = 0;
    world.spawn("host", [&] {
        const Fns f = load_fns();
        RobotPort port;
        auto drop_one_at_b = [&] {
            port.run("_MOVE:4");
            port.run("_PICK");
            port.run("_MOVE:B");
            EXPECT_EQ(port.run("_PICK"), '.') << "the robot does not notice the fall";
        };
        drop_one_at_b();  // closed
        ASSERT_EQ(f.dq(0, 1, DQ_TRAY_OPEN), 0);
        drop_one_at_b();  // still opening
        EXPECT_TRUE(rec->tray_moving());
        rec->set_tray_now(true);
        left = robot->place_new_disc('B');
        drop_one_at_b();  // holds a disc already
    });
    run_world(world);
    ASSERT_EQ(robot->lost().size(), 3u);
    EXPECT_EQ(robot->lost()[0].reason, "tray closed");
    EXPECT_EQ(robot->lost()[1].reason, "tray moving");
    EXPECT_EQ(robot->lost()[2].reason, "tray holds a disc");
    for (const sim::LostDisc& l : robot->lost()) EXPECT_EQ(l.place, 'B');
    ASSERT_NE(left, 0u);
    EXPECT_EQ(rec->disc_id(), left);
    EXPECT_EQ(robot->check_conservation(), "");
}

// ---------------------------------------------------------------------------------------------
// The engine

TEST(HostEngine, LeftOutLibrariesCannotBeLoadedAndTheListIsInTheHostsFormat) {
    sim::World world(sim_test::config());
    sim::HostEngineConfig ec;
    ec.install_sdk = false;
    sim::HostEngine engine(world, ec);
    sim::RecorderConfig a = sim::RecorderConfig::external(3, 'E', "SN3");
    a.spare = 7;
    a.target = 1;
    engine.add_recorder(a);
    sim::RecorderConfig b = sim::RecorderConfig::external(12, 'F', "SN12");
    b.host_adapter = 1;
    b.target = 0;
    b.name = "Pioneer DVD-RW  DVR-112D";
    engine.add_recorder(b);
    sim::RecorderConfig dup = b;
    dup.letter = 'G';
    EXPECT_THROW(engine.add_recorder(dup), std::invalid_argument) << "unit 12 twice";
    dup.unit = 13;
    dup.letter = 'f';
    EXPECT_THROW(engine.add_recorder(dup), std::invalid_argument) << "drive F twice";
    EXPECT_EQ(engine.recorders().size(), 2u);
    EXPECT_EQ(engine.recorder_at_letter('f'), engine.recorder(12));

    const std::string list = engine.recorder_list();
    EXPECT_EQ(list, "3,7,4,1,E,KESTREL DVD-RW KR-2040\r\n12,0,1,0,F,Pioneer DVD-RW  DVR-112D\r\n");
    // Read back with the format the module reads it with.
    int unit = 0, spare = 0, host = 0, target = 0;
    char letter = 0;
    char name[64] = {0};
    const size_t second = list.find('\n') + 1;
    ASSERT_EQ(std::sscanf(list.c_str() + second, "%d,%d,%d,%d,%c,%[^\r]s", &unit, &spare, &host, &target, &letter, name),
              6);
    EXPECT_EQ(unit, 12);
    EXPECT_EQ(host, 1);
    EXPECT_EQ(letter, 'F');
    EXPECT_STREQ(name, "Pioneer DVD-RW  DVR-112D");

    world.spawn("host", [&] {
        SetLastError(0);
        EXPECT_EQ(LoadLibraryA("KTSDKPLS.dll"), nullptr);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
        EXPECT_NE(LoadLibraryA("KT.dll"), nullptr);
        EXPECT_NE(LoadLibraryA("Dorquel.dll"), nullptr);
    });
    run_world(world);
}

TEST(HostEngine, AGoneEngineTakesItsLibrariesAndVolumesWithIt) {
    sim::World world(sim_test::config());
    auto engine = std::make_unique<sim::HostEngine>(world);
    engine->add_recorder(sim::RecorderConfig::external(1, 'E', "SN1"));
    engine.reset();
    world.spawn("host", [&] {
        EXPECT_EQ(LoadLibraryA("KT.dll"), nullptr);
        EXPECT_EQ(LoadLibraryA("KTSDKPLS.dll"), nullptr);
        EXPECT_EQ(LoadLibraryA("Dorquel.dll"), nullptr);
        EXPECT_EQ(storage_serial('E'), "(fail)");
    });
    run_world(world);
}

}  // namespace
