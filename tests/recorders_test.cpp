// The recorder table, serial numbers through the disc SDK and the storage query, and the
// automatic four-drive mapping by the serial numbers stored in the settings file.
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "devices/recorders.h"
#include "foundation/settings.h"
#include "setup/host_engine.h"
#include "setup/recorders.h"
#include "support/module_world.h"
#include "win32/components.h"

namespace {

// --- a disc SDK that answers GET CONFIGURATION per drive letter -------------------------------

struct SdkCall {
    DWORD handle;
    DWORD unit_address[2];
    DWORD command_length;
    std::vector<BYTE> command;
    DWORD arg100, arg1, arg100b;
    DWORD outs[3];
};

struct Sdk {
    LONG get_handle_result = 0;
    DWORD handle = 0x5150;
    int get_handle_calls = 0;
    std::map<DWORD, std::vector<BYTE>> replies;  // by drive letter; none: the buffer is left alone
    std::vector<SdkCall> commands;
    std::vector<DWORD> released;
};
Sdk g_sdk;

extern "C" LONG WINAPI fake_sdk_get_handle(DWORD* handle) {
    ++g_sdk.get_handle_calls;
    if (g_sdk.get_handle_result == 0) *handle = g_sdk.handle;
    return g_sdk.get_handle_result;
}

extern "C" LONG WINAPI fake_sdk_command(DWORD handle, DWORD* unit_address, DWORD command_length, BYTE* command,
                                        DWORD arg100, BYTE* response, DWORD arg1, DWORD arg100b, DWORD* out1,
                                        DWORD* out2, DWORD* out3) {
    SdkCall c;
    c.handle = handle;
    c.unit_address[0] = unit_address[0];
    c.unit_address[1] = unit_address[1];
    c.command_length = command_length;
    c.command.assign(command, command + command_length);
    c.arg100 = arg100;
    c.arg1 = arg1;
    c.arg100b = arg100b;
    c.outs[0] = *out1;
    c.outs[1] = *out2;
    c.outs[2] = *out3;
    g_sdk.commands.push_back(c);
    auto r = g_sdk.replies.find(unit_address[0]);
    if (r != g_sdk.replies.end()) std::memcpy(response, r->second.data(), 100);
    return 0;
}

extern "C" LONG WINAPI fake_sdk_release(DWORD handle) {
    g_sdk.released.push_back(handle);
    return 0;
}

void install_sdk(sim::World& world) {
    world.components().add_library("KTSDKPLS.dll",
                                   {{"VeltoSDK_GetHandle", 0, reinterpret_cast<void*>(&fake_sdk_get_handle)},
                                    {"VeltoSDK_Command", 0, reinterpret_cast<void*>(&fake_sdk_command)},
                                    {"VeltoSDK_ReleaseHandle", 0, reinterpret_cast<void*>(&fake_sdk_release)}});
}

// A GET CONFIGURATION reply: header, then the feature descriptor with its code in bytes 8 and 9
// and the serial number from byte 12.
std::vector<BYTE> config_reply(const std::string& serial, BYTE feature_hi = 0x01, BYTE feature_lo = 0x08) {
    std::vector<BYTE> r(100, 0);
    r[3] = static_cast<BYTE>(8 + serial.size());
    r[8] = feature_hi;
    r[9] = feature_lo;
    r[10] = 0x03;
    r[11] = static_cast<BYTE>(serial.size());
    std::memcpy(r.data() + 12, serial.data(), std::min<size_t>(serial.size(), 88));
    return r;
}

sim::VolumeConfig volume_with_serial(const char* serial) {
    sim::VolumeConfig v;
    v.vendor = "PIONEER ";
    v.product = "DVD-RW  DVR-112D";
    v.revision = "1.21";
    if (serial) v.serial = serial;
    return v;
}

void run_ok(sim::World& world) {
    const sim::RunResult r = world.run();
    ASSERT_TRUE(r.ok()) << r.report;
}

void set_stored_serials(const char* a, const char* b, const char* c, const char* d) {
    const char* values[4] = {a, b, c, d};
    const char* keys[4] = {KEY_DRIVE1_SERIAL, KEY_DRIVE2_SERIAL, KEY_DRIVE3_SERIAL, KEY_DRIVE4_SERIAL};
    for (int i = 0; i < 4; ++i) WritePrivateProfileStringA(SETTINGS_SECTION, keys[i], values[i], g_szSettingsPath);
}

int lines_starting(const std::vector<std::string>& log, const std::string& prefix) {
    int n = 0;
    for (const std::string& l : log)
        if (l.rfind(prefix, 0) == 0) ++n;
    return n;
}

// ---------------------------------------------------------------------------------------------
// The table.

TEST(RecorderTable, RowsNamesPositionsAndLabels) {
    sim::World world(sim_test::config());
    sim_test::prepare_module(world);
    world.spawn("host", [&] {
        ClearRecorders();
        const std::string long_name = "HL-DT-ST DVDRAM GH22NS50 TN02 EXTERNAL USB";
        EXPECT_EQ(AddRecorder(3, 7, 4, 0, 'E', "PIONEER DVD-RW DVR-112D"), 0);
        EXPECT_EQ(AddRecorder(8, 0, 1, 1, ' ', long_name.c_str()), 1);
        EXPECT_EQ(std::string(g_Recorders[1].szName), long_name.substr(0, 32)) << "names are cut to 32 characters";
        EXPECT_EQ(g_Recorders[0].dwUnit, 3);
        EXPECT_EQ(g_Recorders[0].dwSpare, 7);
        EXPECT_EQ(g_Recorders[0].dwHost, 4);
        EXPECT_EQ(g_Recorders[0].cLetter, 'E');
        EXPECT_EQ(g_Recorders[0].szSerial[0], '\0');
        EXPECT_FALSE(g_Recorders[0].fSelected);

        // The table holds 17 rows.
        for (int i = 2; i < 17; ++i) EXPECT_EQ(AddRecorder(20 + i, 0, 121, i, 'F', "X"), i);
        EXPECT_EQ(AddRecorder(99, 0, 4, 0, 'Z', "one too many"), -1);
        EXPECT_EQ(g_wRecorderRows, 17);
        EXPECT_EQ(FindRecorderRow(99), -1);
        EXPECT_EQ(FindRecorderRow(8), 1);
        EXPECT_EQ(FindRecorderRow(36), 16);
        EXPECT_EQ(CountExternalDrives(), 16) << "host adapters 4 and 121 are external";

        // A position: drive index, position text, selection, and the drive letter after the label.
        AssignPosition(16, 'C', "Duplicator RIGHT-BOTTOM");
        EXPECT_EQ(RecorderRowAt('C'), 16);
        EXPECT_STREQ(g_szPosition[16].szPosition, "C");
        EXPECT_TRUE(g_Recorders[16].fSelected);
        EXPECT_STREQ(g_Recorders[16].szDescription, "Duplicator RIGHT-BOTTOM (F:)");
        // No drive letter (a blank): no suffix.
        AssignPosition(1, 'B', "Duplicator LEFT-BOTTOM");
        EXPECT_STREQ(g_Recorders[1].szDescription, "Duplicator LEFT-BOTTOM");
        // No position: selected and labelled only.
        AssignPosition(0, '\0', "Duplicator Drive");
        EXPECT_STREQ(g_Recorders[0].szDescription, "Duplicator Drive (E:)");
        EXPECT_STREQ(g_szPosition[0].szPosition, "");
        EXPECT_EQ(RecorderRowAt('A'), 0) << "untouched: its start value";
        EXPECT_EQ(RecorderRowAt('E'), -1);
        EXPECT_EQ(RecorderRowAt('G'), -1);
        EXPECT_EQ(IsRecorderPosition('D'), 1);
        EXPECT_EQ(IsRecorderPosition('4'), 0);

        // Refusals change nothing.
        AssignPosition(17, 'A', "Duplicator RIGHT-TOP");
        AssignPosition(-1, 'A', "Duplicator RIGHT-TOP");
        AssignPosition(2, 'H', "Duplicator RIGHT-TOP");
        EXPECT_EQ(RecorderRowAt('A'), 0);
        EXPECT_FALSE(g_Recorders[2].fSelected);

        ClearRecorders();
        EXPECT_EQ(g_wRecorderRows, 0);
        EXPECT_EQ(FindRecorderRow(3), -1);
        EXPECT_EQ(RecorderRowAt('C'), 0);
        EXPECT_EQ(CountExternalDrives(), 0);
    });
    run_ok(world);
    EXPECT_EQ(lines_starting(sim_test::log_texts(world), "ERROR: AssignPosition() refused"), 3);
}

// ---------------------------------------------------------------------------------------------
// Serial numbers.

TEST(RecorderSerial, SdkAsksTheDriveForFeature0108AndReadsTheSerialUpToABlank) {
    sim::World world(sim_test::config());
    sim_test::prepare_module(world);
    install_sdk(world);
    g_sdk.replies['E'] = config_reply("SN12345 TRAILING");
    g_sdk.replies['F'] = config_reply("SN77", 0x01, 0x07);  // another feature
    g_sdk.replies['G'] = config_reply(std::string(40, 'Q'));
    g_sdk.replies['h'] = config_reply(" SN9");  // begins with a blank
    // A number that fills its descriptor: the next feature (0x010B) follows at once.
    std::vector<BYTE> followed = config_reply("ABCD1234");
    const BYTE next_feature[4] = {0x01, 0x0B, 0x03, 0x04};
    std::memcpy(followed.data() + 20, next_feature, 4);
    g_sdk.replies['M'] = followed;
    // A reply that leaves the descriptor's length 0: read up to the NUL.
    std::vector<BYTE> no_length = config_reply("NOLEN77");
    no_length[11] = 0;
    g_sdk.replies['N'] = no_length;
    world.spawn("host", [&] {
        char serial[RECORDER_SERIAL_SIZE];
        std::strcpy(serial, "untouched");
        EXPECT_EQ(ReadSerialThroughSdk('E', serial), 1);
        EXPECT_STREQ(serial, "SN12345");

        std::strcpy(serial, "untouched");
        EXPECT_EQ(ReadSerialThroughSdk('F', serial), 0);
        EXPECT_STREQ(serial, "") << "a reply without the serial-number feature gives an empty text";

        EXPECT_EQ(ReadSerialThroughSdk('G', serial), 1);
        EXPECT_EQ(std::string(serial), std::string(RECORDER_SERIAL_SIZE - 1, 'Q')) << "cut to the table's field";

        std::strcpy(serial, "untouched");
        EXPECT_EQ(ReadSerialThroughSdk('h', serial), 0);
        EXPECT_STREQ(serial, "");

        std::strcpy(serial, "untouched");
        EXPECT_EQ(ReadSerialThroughSdk('K', serial), 0) << "a drive that does not answer";
        EXPECT_STREQ(serial, "");

        EXPECT_EQ(ReadSerialThroughSdk('M', serial), 1);
        EXPECT_STREQ(serial, "ABCD1234");
        EXPECT_EQ(ReadSerialThroughSdk('N', serial), 1);
        EXPECT_STREQ(serial, "NOLEN77");
    });
    run_ok(world);

    ASSERT_EQ(g_sdk.commands.size(), 7u);
    const std::vector<BYTE> block = {0x46, 0x00, 0x01, 0x08, 0x00, 0x00, 0x00, 0x00, 0x64, 0x00};
    const char letters[7] = {'E', 'F', 'G', 'h', 'K', 'M', 'N'};
    for (size_t i = 0; i < 7; ++i) {
        const SdkCall& c = g_sdk.commands[i];
        EXPECT_EQ(c.handle, 0x5150u);
        EXPECT_EQ(c.unit_address[0], static_cast<DWORD>(letters[i]));
        EXPECT_EQ(c.unit_address[1], 0xFFFFFFFFu);
        EXPECT_EQ(c.command_length, 10u);
        EXPECT_EQ(c.command, block);
        EXPECT_EQ(c.arg100, 100u);
        EXPECT_EQ(c.arg1, 1u);
        EXPECT_EQ(c.arg100b, 100u);
        EXPECT_EQ(c.outs[0], 0u);
        EXPECT_EQ(c.outs[1], 0u);
        EXPECT_EQ(c.outs[2], 0u);
    }
    EXPECT_EQ(g_sdk.released, std::vector<DWORD>(7, 0x5150u)) << "every handle is released";
    EXPECT_EQ(world.components().load_count("KTSDKPLS.dll"), 1u);
}

TEST(RecorderSerial, SdkSerialWithLeadingBlanksFallsBackToTheStorageQueryWithItsBlanks) {
    sim::World world(sim_test::config());
    sim_test::prepare_module(world);
    install_sdk(world);
    g_sdk.replies['E'] = config_reply("  SN0042");
    g_sdk.replies['F'] = config_reply("KT-F-0001");
    world.components().add_volume('E', volume_with_serial("  SN0042"));
    world.components().add_volume('F', volume_with_serial("STORAGE-F"));
    world.components().add_volume('G', volume_with_serial(nullptr));
    world.spawn("host", [&] {
        ClearRecorders();
        AddRecorder(1, 0, 4, 0, 'E', "PIONEER DVD-RW DVR-112D");
        AddRecorder(2, 0, 4, 1, 'F', "PIONEER DVD-RW DVR-112D");
        AddRecorder(3, 0, 4, 2, 'G', "PIONEER DVD-RW DVR-112D");
        for (int row = 0; row < 3; ++row) ReadRecorderSerial(row);
        EXPECT_STREQ(g_Recorders[0].szSerial, "  SN0042") << "the storage query's text, blanks included";
        EXPECT_STREQ(g_Recorders[1].szSerial, "KT-F-0001") << "the SDK's answer is used when it has one";
        EXPECT_STREQ(g_Recorders[2].szSerial, "") << "neither way found one";
        ReadRecorderSerial(3);  // not a row
    });
    run_ok(world);
    EXPECT_EQ(world.components().volume_opens('E'), 1u);
    EXPECT_EQ(world.components().volume_opens('F'), 0u) << "no storage query after the SDK found the number";
    EXPECT_EQ(world.components().volume_opens('G'), 1u);
    EXPECT_EQ(world.handles().open_count("volume"), 0u);
    EXPECT_EQ(world.components().live_memory_blocks(), 0u);
}

TEST(RecorderSerial, SdkHandleFailureIsLoggedAndTheStorageQueryIsUsed) {
    sim::World world(sim_test::config());
    sim_test::prepare_module(world);
    install_sdk(world);
    g_sdk.get_handle_result = 7;
    g_sdk.replies['E'] = config_reply("NEVER-ASKED");
    world.components().add_volume('E', volume_with_serial("STORAGE-E"));
    world.spawn("host", [&] {
        char serial[RECORDER_SERIAL_SIZE];
        std::strcpy(serial, "untouched");
        EXPECT_EQ(ReadSerialThroughSdk('E', serial), 0);
        EXPECT_STREQ(serial, "untouched") << "no handle: the text is left as it was";

        ClearRecorders();
        AddRecorder(1, 0, 4, 0, 'E', "PIONEER DVD-RW DVR-112D");
        ReadRecorderSerial(0);
        EXPECT_STREQ(g_Recorders[0].szSerial, "STORAGE-E");
    });
    run_ok(world);
    EXPECT_TRUE(g_sdk.commands.empty());
    EXPECT_TRUE(g_sdk.released.empty()) << "no handle, nothing to release";
    EXPECT_EQ(sim_test::count_lines(sim_test::log_texts(world), "ERROR:  Could not get a VeltoSDK handle"), 2);
}

TEST(RecorderSerial, MissingSdkLibraryIsLoggedOnceAndEveryRowUsesTheStorageQuery) {
    sim::World world(sim_test::config());
    sim_test::prepare_module(world);
    world.components().add_volume('E', volume_with_serial("STORAGE-E"));
    world.components().add_volume('F', volume_with_serial("STORAGE-F"));
    world.spawn("host", [&] {
        ClearRecorders();
        AddRecorder(1, 0, 4, 0, 'E', "PIONEER DVD-RW DVR-112D");
        AddRecorder(2, 0, 4, 1, 'F', "PIONEER DVD-RW DVR-112D");
        ReadRecorderSerial(0);
        ReadRecorderSerial(1);
        EXPECT_STREQ(g_Recorders[0].szSerial, "STORAGE-E");
        EXPECT_STREQ(g_Recorders[1].szSerial, "STORAGE-F");
    });
    run_ok(world);
    const std::vector<std::string> log = sim_test::log_texts(world);
    int load_errors = 0;
    for (const std::string& l : log)
        if (l.find("Could not load KTSDKPLS.dll") != std::string::npos) ++load_errors;
    EXPECT_EQ(load_errors, 1);
}

TEST(RecorderSerial, StorageQueryToleratesMoreDataInvalidFunctionAndNotSupportedOnly) {
    sim::World world(sim_test::config());
    sim_test::prepare_module(world);
    world.components().add_volume('E', volume_with_serial("SN-E"));
    world.components().add_volume('F', volume_with_serial("SN-F"));
    world.components().add_volume('G', volume_with_serial("SN-G"));
    world.components().add_volume('H', volume_with_serial("SN-H"));
    world.components().add_volume('I', volume_with_serial(nullptr));
    world.components().add_volume('J', volume_with_serial(std::string(45, '7').c_str()));
    world.components().add_volume('K', volume_with_serial("  BLANKS AROUND  "));
    world.spawn("host", [&] {
        char serial[RECORDER_SERIAL_SIZE];
        // Tolerated on the size query: the header is cleared, so the size is 0 and the lookup
        // ends without a serial number.
        const char letters[3] = {'E', 'F', 'G'};
        const DWORD tolerated[3] = {234, 1, 50};
        for (int i = 0; i < 3; ++i) {
            world.components().fail_query(letters[i], tolerated[i], 1);
            std::strcpy(serial, "untouched");
            EXPECT_EQ(ReadSerialThroughStorage(letters[i], serial), 0) << letters[i];
            EXPECT_STREQ(serial, "untouched");
            // Once the fault is gone the same drive answers.
            EXPECT_EQ(ReadSerialThroughStorage(letters[i], serial), 1);
        }
        EXPECT_STREQ(serial, "SN-G");

        // Any other error ends the lookup.
        world.components().fail_query('H', ERROR_ACCESS_DENIED, 1);
        std::strcpy(serial, "untouched");
        EXPECT_EQ(ReadSerialThroughStorage('H', serial), 0);
        EXPECT_STREQ(serial, "untouched");

        std::strcpy(serial, "untouched");
        EXPECT_EQ(ReadSerialThroughStorage('I', serial), 0) << "no serial number: offset 0";
        EXPECT_STREQ(serial, "");

        EXPECT_EQ(ReadSerialThroughStorage('J', serial), 1);
        EXPECT_EQ(std::string(serial), std::string(RECORDER_SERIAL_SIZE - 1, '7'));

        EXPECT_EQ(ReadSerialThroughStorage('K', serial), 1);
        EXPECT_STREQ(serial, "  BLANKS AROUND  ");

        std::strcpy(serial, "untouched");
        EXPECT_EQ(ReadSerialThroughStorage('Q', serial), 0) << "no such device";
        EXPECT_STREQ(serial, "untouched");
    });
    run_ok(world);
    EXPECT_EQ(world.handles().open_count("volume"), 0u) << "every device closed";
    EXPECT_EQ(world.components().live_memory_blocks(), 0u) << "every descriptor freed";
}

// ---------------------------------------------------------------------------------------------
// Automatic four-drive mapping.

TEST(FourDriveMapping, EveryStoredSerialFoundMapsAllFourWhateverTheHostAdapter) {
    sim::World world(sim_test::config());
    sim_test::prepare_module(world);
    int result = -1;
    world.spawn("host", [&] {
        set_stored_serials("SER-A", "SER-B", "SER-C", "SER-D");
        ClearRecorders();
        AddRecorder(10, 0, 0, 0, 'C', "internal, no serial");
        AddRecorder(11, 0, 4, 0, 'E', "x");
        AddRecorder(12, 0, 121, 1, 'F', "x");
        AddRecorder(13, 0, 1, 0, 'G', "x");  // not external, still matched
        AddRecorder(14, 0, 4, 2, 'H', "x");
        std::strcpy(g_Recorders[1].szSerial, "SER-C");
        std::strcpy(g_Recorders[2].szSerial, "SER-A");
        std::strcpy(g_Recorders[3].szSerial, "SER-D");
        std::strcpy(g_Recorders[4].szSerial, "SER-B");
        EXPECT_EQ(CountExternalDrives(), 3);
        result = MapFourDrivesAutomatically();
    });
    run_ok(world);
    EXPECT_EQ(result, 1);
    EXPECT_EQ(RecorderRowAt('A'), 2);
    EXPECT_EQ(RecorderRowAt('B'), 4);
    EXPECT_EQ(RecorderRowAt('C'), 1);
    EXPECT_EQ(RecorderRowAt('D'), 3);
    EXPECT_FALSE(g_Recorders[0].fSelected);
    EXPECT_STREQ(g_szPosition[0].szPosition, "");
    EXPECT_STREQ(g_Recorders[1].szDescription, "Duplicator RIGHT-BOTTOM (E:)");
    EXPECT_STREQ(g_Recorders[2].szDescription, "Duplicator RIGHT-TOP (F:)");
    EXPECT_STREQ(g_Recorders[3].szDescription, "Duplicator LEFT-BOTTOM (G:)");
    EXPECT_STREQ(g_Recorders[4].szDescription, "Duplicator LEFT-TOP (H:)");
    for (int row = 1; row <= 4; ++row) EXPECT_TRUE(g_Recorders[row].fSelected) << row;
    EXPECT_STREQ(g_szPosition[1].szPosition, "C");
    EXPECT_STREQ(g_szPosition[4].szPosition, "B");
    // One line per position taken, in row order.
    std::vector<std::string> index_lines;
    for (const std::string& l : sim_test::log_texts(world))
        if (l.rfind("Drive ", 0) == 0) index_lines.push_back(l);
    EXPECT_EQ(index_lines, std::vector<std::string>({"Drive C Index = 1", "Drive A Index = 2", "Drive D Index = 3",
                                                     "Drive B Index = 4"}));
}

TEST(FourDriveMapping, EqualSerialsTakeOnePositionEachAndOnlyWhereTheStoredNumberIsEqual) {
    sim::World world(sim_test::config());
    sim_test::prepare_module(world);
    world.spawn("host", [&] {
        // Two rows carry the number stored for A; the second finds no other position with it.
        set_stored_serials("SN1", "SN2", "SN3", "SN4");
        ClearRecorders();
        const char* serials[5] = {"SN1", "SN1", "sn2", "SN2", "SN3"};
        for (int i = 0; i < 5; ++i) {
            AddRecorder(i, 0, 4, i, static_cast<char>('E' + i), "x");
            std::strcpy(g_Recorders[i].szSerial, serials[i]);
        }
        EXPECT_EQ(MapFourDrivesAutomatically(), 0) << "D was not found";
        EXPECT_EQ(RecorderRowAt('A'), 0);
        EXPECT_FALSE(g_Recorders[1].fSelected);
        EXPECT_STREQ(g_szPosition[1].szPosition, "");
        EXPECT_FALSE(g_Recorders[2].fSelected) << "serial numbers compare with case";
        EXPECT_EQ(RecorderRowAt('B'), 3);
        EXPECT_EQ(RecorderRowAt('C'), 4);
        EXPECT_EQ(RecorderRowAt('D'), 0) << "untouched";
        EXPECT_TRUE(g_Recorders[4].fSelected);

        // When C's stored number equals it too, the second row takes C.
        set_stored_serials("SN1", "SN2", "SN1", "SN4");
        ClearRecorders();
        const char* serials2[5] = {"SN1", "SN1", "SN4", "SN2", "SN1"};
        for (int i = 0; i < 5; ++i) {
            AddRecorder(i, 0, 4, i, static_cast<char>('E' + i), "x");
            std::strcpy(g_Recorders[i].szSerial, serials2[i]);
        }
        EXPECT_EQ(MapFourDrivesAutomatically(), 1);
        EXPECT_EQ(RecorderRowAt('A'), 0);
        EXPECT_EQ(RecorderRowAt('C'), 1);
        EXPECT_EQ(RecorderRowAt('D'), 2);
        EXPECT_EQ(RecorderRowAt('B'), 3);
        EXPECT_FALSE(g_Recorders[4].fSelected) << "a third SN1 finds every equal position taken";
        EXPECT_STREQ(g_Recorders[1].szDescription, "Duplicator RIGHT-BOTTOM (F:)");
    });
    run_ok(world);
    const std::vector<std::string> log = sim_test::log_texts(world);
    EXPECT_EQ(sim_test::count_lines(log, "Drive A Index = 0"), 2);
    EXPECT_EQ(sim_test::count_lines(log, "Drive C Index = 4"), 1);
    EXPECT_EQ(sim_test::count_lines(log, "Drive C Index = 1"), 1);
    EXPECT_EQ(lines_starting(log, "Drive D Index"), 1);
}

TEST(FourDriveMapping, OneEmptyStoredSerialMeansNoAutomaticMappingAtAll) {
    sim::World world(sim_test::config());
    sim_test::prepare_module(world);
    world.spawn("host", [&] {
        ClearRecorders();
        for (int i = 0; i < 4; ++i) AddRecorder(i, 0, 4, i, static_cast<char>('E' + i), "x");
        std::strcpy(g_Recorders[0].szSerial, "SN1");
        std::strcpy(g_Recorders[1].szSerial, "SN2");
        std::strcpy(g_Recorders[2].szSerial, "SN3");
        std::strcpy(g_Recorders[3].szSerial, "SN4");
        EXPECT_EQ(MapFourDrivesAutomatically(), 0) << "no settings file at all";
        set_stored_serials("SN1", "SN2", "SN3", "");
        EXPECT_EQ(MapFourDrivesAutomatically(), 0);
        for (int i = 0; i < 4; ++i) {
            EXPECT_FALSE(g_Recorders[i].fSelected);
            EXPECT_STREQ(g_szPosition[i].szPosition, "");
        }
    });
    run_ok(world);
    EXPECT_EQ(lines_starting(sim_test::log_texts(world), "Drive "), 0);
}

// ---------------------------------------------------------------------------------------------
// With the host's engine as the world provides it.

TEST(RecorderSerial, HostEngineDrivesGiveTheirSerialsAndAreMappedByThem) {
    sim::World world(sim_test::config());
    sim_test::prepare_module(world);
    sim::HostEngine engine(world);
    engine.add_recorder(sim::RecorderConfig::external(1, 'E', "KR4A0011"));
    sim::RecorderConfig blanks = sim::RecorderConfig::external(2, 'F', "  KR4B0022");  // both paths
    engine.add_recorder(blanks);
    sim::RecorderConfig storage_only = sim::RecorderConfig::external(3, 'G', "KR4C0033");
    storage_only.sdk_serial.reset();  // the drive lacks the serial-number feature
    engine.add_recorder(storage_only);
    sim::RecorderConfig failing = sim::RecorderConfig::external(4, 'H', "KR4D0044");
    failing.sdk_serial.reset();
    failing.missing_serial = sim::MissingSerial::CommandFails;
    engine.add_recorder(failing);
    sim::RecorderConfig none = sim::RecorderConfig::external(5, 'I', "");
    none.sdk_serial.reset();
    none.storage_serial.reset();
    engine.add_recorder(none);
    int mapped = -1;
    world.spawn("host", [&] {
        set_stored_serials("KR4A0011", "  KR4B0022", "KR4D0044", "KR4C0033");
        ClearRecorders();
        for (const auto& r : engine.recorders()) {
            const sim::RecorderConfig& c = r->config();
            const int row = AddRecorder(c.unit, c.spare, c.host_adapter, c.target, c.letter, c.name.c_str());
            ReadRecorderSerial(row);
        }
        mapped = MapFourDrivesAutomatically();
    });
    run_ok(world);
    EXPECT_STREQ(g_Recorders[0].szSerial, "KR4A0011") << "the SDK's blank padding is not part of it";
    EXPECT_STREQ(g_Recorders[1].szSerial, "  KR4B0022");
    EXPECT_STREQ(g_Recorders[2].szSerial, "KR4C0033");
    EXPECT_STREQ(g_Recorders[3].szSerial, "KR4D0044");
    EXPECT_STREQ(g_Recorders[4].szSerial, "");
    EXPECT_EQ(engine.open_sdk_handles(), 0u);
    EXPECT_EQ(engine.get_handle_calls(), 5u);
    // The stored value of B was read back trimmed by the profile format, so the drive whose
    // number starts with blanks is not found: the four-drive dialog would open.
    EXPECT_EQ(mapped, 0);
    EXPECT_EQ(RecorderRowAt('A'), 0);
    EXPECT_EQ(RecorderRowAt('C'), 3);
    EXPECT_EQ(RecorderRowAt('D'), 2);
    EXPECT_FALSE(g_Recorders[1].fSelected);
    EXPECT_EQ(world.handles().open_count("volume"), 0u);
}

}  // namespace
