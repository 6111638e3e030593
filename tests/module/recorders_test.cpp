// The recorder table, serial numbers through the disc SDK and the storage query, and the
// automatic four-drive mapping by the serial numbers stored in the settings file.
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <map>
#include <string>
#include <vector>

#include "devices/recorders.h"
#include "foundation/settings.h"
#include "setup/host_engine.h"
#include "setup/recorders.h"
#include "support/module_world.h"
#include "support/module_state.h"
#include "win32/components.h"

namespace {

// --- a disc SDK that answers GET CONFIGURATION per drive letter -------------------------------

struct Sdk {
    LONG get_handle_result = 0;
    std::map<DWORD, std::vector<BYTE>> replies;  // by drive letter; none: the buffer is left alone
    std::string asked;                           // the unit letter of each command
    std::vector<BYTE> command;                   // the last command block
    std::vector<DWORD> released;
};
Sdk g_sdk;
const DWORD kSdkHandle = 0x5150;

extern "C" LONG WINAPI fake_sdk_get_handle(DWORD* handle) {
    if (g_sdk.get_handle_result == 0) *handle = kSdkHandle;
    return g_sdk.get_handle_result;
}

// The other arguments are checked by the host engine's SDK (the last test of this file).
extern "C" LONG WINAPI fake_sdk_command(DWORD, DWORD* unit_address, DWORD length, BYTE* command, DWORD,
                                        BYTE* response, DWORD, DWORD, DWORD*, DWORD*, DWORD*) {
    g_sdk.asked += static_cast<char>(unit_address[0]);
    g_sdk.command.assign(command, command + length);
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

// A GET CONFIGURATION reply: header, then the feature descriptor with its code in bytes 8 and 9,
// its additional length in byte 11 and the serial number from byte 12.
std::vector<BYTE> config_reply(const std::string& serial, BYTE feature_lo = 0x08) {
    std::vector<BYTE> r(100, 0);
    r[3] = static_cast<BYTE>(8 + serial.size());
    r[8] = 0x01;
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

using sim_test::run_ok;

void set_stored_serials(const char* a, const char* b, const char* c, const char* d) {
    const char* values[4] = {a, b, c, d};
    const char* keys[4] = {KEY_DRIVE1_SERIAL, KEY_DRIVE2_SERIAL, KEY_DRIVE3_SERIAL, KEY_DRIVE4_SERIAL};
    for (int i = 0; i < 4; ++i) WritePrivateProfileStringA(SETTINGS_SECTION, keys[i], values[i], g_szSettingsPath);
}

using sim_test::count_starting;

// ---------------------------------------------------------------------------------------------
// The table.

TEST(RecorderTable, HoldsSeventeenRowsCutsNamesAndLabelsPositionsWithTheDriveLetter) {
    sim::World world(sim_test::config());
    sim_test::prepare_module(world);
    world.spawn("host", [&] {
        ClearRecorders();
        const std::string long_name = "HL-DT-ST DVDRAM GH22NS50 TN02 EXTERNAL USB";
        EXPECT_EQ(AddRecorder(3, 7, 4, 0, 'E', "PIONEER DVD-RW DVR-112D"), 0);
        EXPECT_EQ(AddRecorder(8, 0, 1, 1, ' ', long_name.c_str()), 1);
        EXPECT_EQ(std::string(g_Recorders[1].szName), long_name.substr(0, 32)) << "names are cut to 32 characters";
        for (int i = 2; i < 17; ++i) EXPECT_EQ(AddRecorder(20 + i, 0, 121, i, 'F', "X"), i);
        EXPECT_EQ(AddRecorder(99, 0, 4, 0, 'Z', "one too many"), -1) << "the table holds 17 rows";
        EXPECT_EQ(FindRecorderRow(8), 1);
        EXPECT_EQ(FindRecorderRow(99), -1);
        EXPECT_EQ(CountExternalDrives(), 16) << "host adapters 4 and 121 are external";

        AssignPosition(16, 'C', "Duplicator RIGHT-BOTTOM");
        EXPECT_EQ(RecorderRowAt('C'), 16);
        EXPECT_STREQ(g_szPosition[16].szPosition, "C");
        EXPECT_TRUE(g_Recorders[16].fSelected);
        EXPECT_STREQ(g_Recorders[16].szDescription, "Duplicator RIGHT-BOTTOM (F:)") << "the drive letter follows";
        AssignPosition(1, 'B', "Duplicator LEFT-BOTTOM");
        EXPECT_STREQ(g_Recorders[1].szDescription, "Duplicator LEFT-BOTTOM") << "a blank letter: no suffix";
        AssignPosition(0, '\0', "Duplicator Drive");
        EXPECT_TRUE(g_Recorders[0].fSelected) << "no position: selected and labelled only";
        EXPECT_STREQ(g_Recorders[0].szDescription, "Duplicator Drive (E:)");
        EXPECT_STREQ(g_szPosition[0].szPosition, "");
        EXPECT_EQ(RecorderRowAt('A'), 0) << "untouched: its start value";
        EXPECT_EQ(RecorderRowAt('E'), -1) << "not a position";

        AssignPosition(17, 'A', "Duplicator RIGHT-TOP");
        AssignPosition(-1, 'A', "Duplicator RIGHT-TOP");
        AssignPosition(2, 'H', "Duplicator RIGHT-TOP");
        EXPECT_EQ(RecorderRowAt('A'), 0) << "refusals change nothing";
        EXPECT_FALSE(g_Recorders[2].fSelected);

        ClearRecorders();
        EXPECT_EQ(g_wRecorderRows, 0);
        EXPECT_EQ(FindRecorderRow(3), -1);
        EXPECT_EQ(RecorderRowAt('C'), 0) << "the indexes start again at 0";
    });
    run_ok(world);
    EXPECT_EQ(count_starting(sim_test::log_texts(world), "CHECK FAILED: AssignPosition() refused"), 3);
}

// ---------------------------------------------------------------------------------------------
// Serial numbers.

TEST(RecorderSerial, SdkReadsFeature0108UpToABlankAndLeadingBlanksOrNoHandleFallBackToTheStorageQuery) {
    sim::World world(sim_test::config());
    sim_test::prepare_module(world);
    install_sdk(world);
    g_sdk.replies['E'] = config_reply("SN12345 TRAILING");
    g_sdk.replies['F'] = config_reply("SN77", 0x07);  // another feature
    g_sdk.replies['G'] = config_reply(std::string(40, 'Q'));
    g_sdk.replies['H'] = config_reply("  SN0042");
    std::vector<BYTE> followed = config_reply("ABCD1234");
    const BYTE next_feature[4] = {0x01, 0x0B, 0x03, 0x04};
    std::memcpy(followed.data() + 20, next_feature, 4);
    g_sdk.replies['M'] = followed;
    std::vector<BYTE> no_length = config_reply("NOLEN77");
    no_length[11] = 0;
    g_sdk.replies['N'] = no_length;
    world.components().add_volume('E', volume_with_serial("STORAGE-E"));
    world.components().add_volume('H', volume_with_serial("  SN0042"));
    const std::string cut(RECORDER_SERIAL_SIZE - 1, 'Q');
    world.spawn("host", [&] {
        const struct {
            char letter;
            int found;
            const char* serial;
            const char* why;
        } cases[] = {
            {'E', 1, "SN12345", "up to the blank"},
            {'F', 0, "", "a reply without the serial-number feature gives an empty text"},
            {'G', 1, cut.c_str(), "cut to the table's field"},
            {'H', 0, "", "a number beginning with a blank is none"},
            {'K', 0, "", "a drive that does not answer"},
            {'M', 1, "ABCD1234\x01\x0B\x03\x04",
             "a number filling its descriptor runs on into the next feature, up to a NUL or blank"},
            {'N', 1, "NOLEN77", "a descriptor length of 0: up to the NUL"},
        };
        for (const auto& c : cases) {
            char serial[RECORDER_SERIAL_SIZE] = "untouched";
            EXPECT_EQ(ReadSerialThroughSdk(c.letter, serial), c.found) << c.why;
            EXPECT_STREQ(serial, c.serial) << c.why;
        }
        EXPECT_EQ(g_sdk.asked, "EFGHKMN") << "the unit address is the drive letter";
        EXPECT_EQ(g_sdk.command, std::vector<BYTE>({0x46, 0x00, 0x01, 0x08, 0x00, 0x00, 0x00, 0x00, 0x64, 0x00}))
            << "GET CONFIGURATION of the features from 0x0108 on, 100 bytes";
        EXPECT_EQ(g_sdk.released, std::vector<DWORD>(7, kSdkHandle)) << "every handle is released";

        ClearRecorders();
        for (char letter : {'H', 'E', 'K'}) AddRecorder(letter, 0, 4, 0, letter, "PIONEER DVD-RW DVR-112D");
        for (int row = 0; row < 4; ++row) ReadRecorderSerial(row);  // row 3 is refused
        EXPECT_STREQ(g_Recorders[0].szSerial, "  SN0042") << "the storage query's text, blanks included";
        EXPECT_STREQ(g_Recorders[1].szSerial, "SN12345") << "the SDK's answer is used when it has one";
        EXPECT_STREQ(g_Recorders[2].szSerial, "") << "neither way found one";

        g_sdk.get_handle_result = 7;
        char serial[RECORDER_SERIAL_SIZE] = "untouched";
        EXPECT_EQ(ReadSerialThroughSdk('E', serial), 0);
        EXPECT_STREQ(serial, "untouched") << "no handle: the text is left as it was";
        ReadRecorderSerial(1);
        EXPECT_STREQ(g_Recorders[1].szSerial, "STORAGE-E") << "no SDK handle: the storage query";
    });
    run_ok(world);
    EXPECT_EQ(g_sdk.asked, "EFGHKMNHEK") << "no command without a handle";
    EXPECT_EQ(g_sdk.released.size(), 10u) << "and nothing to release";
    EXPECT_EQ(world.components().volume_opens('H'), 1u);
    EXPECT_EQ(world.components().volume_opens('E'), 1u) << "no storage query while the SDK found the number";
    EXPECT_EQ(world.handles().open_count("volume"), 0u);
    EXPECT_EQ(world.components().live_memory_blocks(), 0u);
    EXPECT_EQ(world.components().load_count("KTSDKPLS.dll"), 1u);
    const std::vector<std::string> log = sim_test::log_texts(world);
    EXPECT_EQ(sim_test::count_lines(log, "ERROR:  Could not get a VeltoSDK handle"), 2);
    EXPECT_EQ(count_starting(log, "CHECK FAILED: ReadRecorderSerial() refused"), 1);
}

// No disc SDK in this world: every row's number comes from the storage query. (A tolerated error
// of the size query reads as size 0, so it ends the lookup just as any other error: the world
// cannot fail the descriptor query alone, where tolerating would show.)
TEST(RecorderSerial, StorageQueryKeepsBlanksCutsToTheFieldFailsWithoutHarmAndServesWithoutTheSdk) {
    sim::World world(sim_test::config());
    sim_test::prepare_module(world);
    world.components().add_volume('E', volume_with_serial("  SN-E  "));
    world.components().add_volume('F', volume_with_serial("SN-F"));
    world.components().add_volume('I', volume_with_serial(nullptr));
    world.components().add_volume('J', volume_with_serial(std::string(45, '7').c_str()));
    world.spawn("host", [&] {
        char serial[RECORDER_SERIAL_SIZE] = "untouched";
        for (DWORD error : {DWORD{234}, DWORD{ERROR_ACCESS_DENIED}}) {
            world.components().fail_query('E', error, 1);
            EXPECT_EQ(ReadSerialThroughStorage('E', serial), 0) << error;
            EXPECT_STREQ(serial, "untouched") << error;
        }
        EXPECT_EQ(ReadSerialThroughStorage('E', serial), 1) << "once the fault is gone the drive answers";
        EXPECT_STREQ(serial, "  SN-E  ") << "blanks included";
        EXPECT_EQ(ReadSerialThroughStorage('I', serial), 0) << "no serial number: offset 0";
        EXPECT_STREQ(serial, "");
        EXPECT_EQ(ReadSerialThroughStorage('J', serial), 1);
        EXPECT_EQ(std::string(serial), std::string(RECORDER_SERIAL_SIZE - 1, '7')) << "cut to the table's field";
        std::strcpy(serial, "untouched");
        EXPECT_EQ(ReadSerialThroughStorage('Q', serial), 0) << "no such device";
        EXPECT_STREQ(serial, "untouched");

        sim_test::with_external_recorders({"", ""});
        ReadRecorderSerial(0);
        ReadRecorderSerial(1);
        EXPECT_STREQ(g_Recorders[0].szSerial, "  SN-E  ") << "the missing SDK library: the storage query";
        EXPECT_STREQ(g_Recorders[1].szSerial, "SN-F");
    });
    run_ok(world);
    EXPECT_EQ(world.handles().open_count("volume"), 0u) << "every device closed";
    EXPECT_EQ(world.components().live_memory_blocks(), 0u) << "every descriptor freed";
    EXPECT_EQ(count_starting(sim_test::log_texts(world), "ERROR: Could not load KTSDKPLS.dll"), 1)
        << "the missing library is logged once";
}

// ---------------------------------------------------------------------------------------------
// Automatic four-drive mapping.

TEST(FourDriveMapping, NeedsAllFourStoredSerialsThenMapsEveryRowFoundWhateverItsHostAdapter) {
    sim::World world(sim_test::config());
    sim_test::prepare_module(world);
    std::vector<int> results;
    world.spawn("host", [&] {
        ClearRecorders();
        AddRecorder(10, 0, 0, 0, 'C', "internal, no serial");
        AddRecorder(11, 0, 4, 0, 'E', "x");
        AddRecorder(12, 0, 121, 1, 'F', "x");
        AddRecorder(13, 0, 1, 0, 'G', "x");  // not external, still matched
        AddRecorder(14, 0, 4, 2, 'H', "x");
        const char* serials[5] = {"", "SER-C", "SER-A", "SER-D", "SER-B"};
        for (int i = 0; i < 5; ++i) sim_test::with_recorder_serial(i, serials[i]);
        results.push_back(MapFourDrivesAutomatically());  // no settings file at all
        set_stored_serials("SER-A", "SER-B", "SER-C", "");
        results.push_back(MapFourDrivesAutomatically());
        for (int i = 0; i < 5; ++i) EXPECT_FALSE(g_Recorders[i].fSelected) << "one empty stored serial: none mapped";
        set_stored_serials("SER-A", "SER-B", "SER-C", "SER-D");
        results.push_back(MapFourDrivesAutomatically());
    });
    run_ok(world);
    EXPECT_EQ(results, std::vector<int>({0, 0, 1}));
    EXPECT_EQ(sim_test::rows_at_abcd(), std::vector<int>({2, 4, 1, 3}));
    EXPECT_FALSE(g_Recorders[0].fSelected) << "a row without serial number matches nothing";
    EXPECT_STREQ(g_Recorders[1].szDescription, "Duplicator RIGHT-BOTTOM (E:)");
    EXPECT_STREQ(g_Recorders[2].szDescription, "Duplicator RIGHT-TOP (F:)");
    EXPECT_STREQ(g_Recorders[3].szDescription, "Duplicator LEFT-BOTTOM (G:)");
    EXPECT_STREQ(g_Recorders[4].szDescription, "Duplicator LEFT-TOP (H:)");
    EXPECT_STREQ(g_szPosition[4].szPosition, "B");
    std::vector<std::string> index_lines;
    for (const std::string& l : sim_test::log_texts(world))
        if (l.rfind("Drive ", 0) == 0) index_lines.push_back(l);
    EXPECT_EQ(index_lines, std::vector<std::string>({"Drive C Index = 1", "Drive A Index = 2", "Drive D Index = 3",
                                                     "Drive B Index = 4"}))
        << "one line per position taken, in row order";
}

TEST(FourDriveMapping, EqualSerialsTakeOnePositionEachAndOnlyWhereTheStoredNumberIsEqual) {
    sim::World world(sim_test::config());
    sim_test::prepare_module(world);
    world.spawn("host", [&] {
        // Two rows carry the number stored for A; the second finds no other position with it.
        set_stored_serials("SN1", "SN2", "SN3", "SN4");
        sim_test::with_external_recorders({"SN1", "SN1", "sn2", "SN2", "SN3"});
        EXPECT_EQ(MapFourDrivesAutomatically(), 0) << "D was not found";
        EXPECT_EQ(sim_test::rows_at_abcd(), std::vector<int>({0, 3, 4, 0}));
        EXPECT_FALSE(g_Recorders[1].fSelected) << "the second SN1 takes nothing";
        EXPECT_STREQ(g_szPosition[1].szPosition, "");
        EXPECT_FALSE(g_Recorders[2].fSelected) << "serial numbers compare with case";

        // When C's stored number equals it too, the second row takes C.
        set_stored_serials("SN1", "SN2", "SN1", "SN4");
        sim_test::with_external_recorders({"SN1", "SN1", "SN4", "SN2", "SN1"});
        EXPECT_EQ(MapFourDrivesAutomatically(), 1);
        EXPECT_EQ(sim_test::rows_at_abcd(), std::vector<int>({0, 3, 1, 2}));
        EXPECT_FALSE(g_Recorders[4].fSelected) << "a third SN1 finds every equal position taken";
    });
    run_ok(world);
    const std::vector<std::string> log = sim_test::log_texts(world);
    EXPECT_EQ(sim_test::count_lines(log, "Drive A Index = 0"), 2);
    EXPECT_EQ(sim_test::count_lines(log, "Drive C Index = 1"), 1);
    EXPECT_EQ(count_starting(log, "Drive D Index"), 1);
}

// ---------------------------------------------------------------------------------------------
// With the host's engine as the world provides it.

TEST(RecorderSerial, HostEngineDrivesGiveTheirSerialsAndAreMappedByThem) {
    sim::World world(sim_test::config());
    sim_test::prepare_module(world);
    sim::HostEngine engine(world);
    engine.add_recorder(sim::RecorderConfig::external(1, 'E', "KR4A011"));
    engine.add_recorder(sim::RecorderConfig::external(2, 'F', "  KR4B0022"));  // both paths
    sim::RecorderConfig failing = sim::RecorderConfig::external(3, 'G', "KR4C033");
    failing.sdk_serial.reset();  // the drive refuses the command: the storage query
    failing.missing_serial = sim::MissingSerial::CommandFails;
    engine.add_recorder(failing);
    engine.add_recorder(sim::RecorderConfig::external(4, 'H', "KR4D044"));
    int mapped = -1;
    world.spawn("host", [&] {
        set_stored_serials("KR4A011", "  KR4B0022", "KR4C033", "KR4D044");
        ClearRecorders();
        for (const auto& r : engine.recorders()) {
            const sim::RecorderConfig& c = r->config();
            ReadRecorderSerial(AddRecorder(c.unit, c.spare, c.host_adapter, c.target, c.letter, c.name.c_str()));
        }
        mapped = MapFourDrivesAutomatically();
    });
    run_ok(world);
    EXPECT_STREQ(g_Recorders[0].szSerial, "KR4A011") << "the SDK's blank padding is not part of it";
    EXPECT_EQ(world.components().volume_opens('E') + world.components().volume_opens('H'), 0u)
        << "the engine's SDK took the command as sent and answered: no storage query";
    EXPECT_STREQ(g_Recorders[1].szSerial, "  KR4B0022");
    EXPECT_STREQ(g_Recorders[2].szSerial, "KR4C033");
    EXPECT_EQ(engine.open_sdk_handles(), 0u);
    EXPECT_EQ(engine.get_handle_calls(), 4u);
    // B was stored unquoted, so the profile format read it back trimmed and the drive whose
    // number starts with blanks is not found: the four-drive dialog would open.
    EXPECT_EQ(mapped, 0);
    EXPECT_EQ(sim_test::rows_at_abcd(), std::vector<int>({0, 0, 2, 3}));
    EXPECT_FALSE(g_Recorders[1].fSelected) << "B alone is not found";
    EXPECT_EQ(world.handles().open_count("volume"), 0u);
}

}  // namespace
