// The settings file and the data folder: where the file and the log lie, the port choice as the
// file spells it, and the message when a choice cannot be saved.
#include <windows.h>

#include <string>

#include "support/module_world.h"
#include "win32/ui.h"
#include "world/operator.h"

namespace {

TEST(Settings, PortChoiceIsExactAndAWriteRepairsIt) {
    sim::World world(sim_test::config());
    sim_test::prepare_module(world);
    EXPECT_STREQ(g_szSettingsPath, "C:\\ProgramData\\Marlune\\ROVANE_QIX.INI");
    std::vector<int> seen;
    world.spawn("host", [&] {
        seen.push_back(ReadPortChoice());  // no file yet
        for (const char* value : {"COM4", "COM2", "com3", "COM5", " COM3"}) {
            WritePrivateProfileStringA("PORTS", "Com", value, g_szSettingsPath);
            seen.push_back(ReadPortChoice());
        }
        WritePortChoice(2);
        seen.push_back(ReadPortChoice());
    });
    ASSERT_TRUE(world.run().ok());
    // A value with a leading blank reads back trimmed, as the profile functions trim values.
    EXPECT_EQ(seen, (std::vector<int>{0, 3, 1, 0, 0, 2, 2}));
    EXPECT_NE(sim_test::read_file(world, g_szSettingsPath).find("Com=COM3"), std::string::npos);
}

// The data folder registered for the host's key word is glued to the file names as it is; one
// over 250 bytes with its NUL is ignored. Without one the bare names remain: the log is written in
// the current directory.
TEST(Settings, DataPathIsGluedToTheFileNameAsRegisteredUpToTwoHundredFiftyBytes) {
    sim::World world(sim_test::config());
    world.load_module();
    world.registry().set_string(HKEY_LOCAL_MACHINE, "Software\\Marlune\\Fenwit", "DataPath", "C:\\Data");
    CreateModuleLock();
    SetModulePaths(HostKeyword("Dorquel Quiet", nullptr));
    EXPECT_STREQ(g_szSettingsPath, "C:\\DataROVANE_QIX.INI");
    EXPECT_STREQ(g_szLogPath, "C:\\DataRovane_QIX.dbg");

    const std::string folder249 = "C:\\" + std::string(245, 'd') + "\\";  // 249 characters + NUL = 250 bytes
    world.registry().set_string(HKEY_LOCAL_MACHINE, "Software\\Marlune\\VeltoDVD", "DataPath", folder249);
    char out[DATA_PATH_SIZE] = "unchanged";
    EXPECT_EQ(LookupDataPath("VeltoDVD", out), 1);
    EXPECT_EQ(std::string(out), folder249);
    world.registry().set_string(HKEY_LOCAL_MACHINE, "Software\\Marlune\\VeltoDVD", "DataPath", folder249 + "x");
    strcpy(out, "unchanged");
    EXPECT_EQ(LookupDataPath("VeltoDVD", out), 0);
    EXPECT_STREQ(out, "unchanged");
    // In another letter case "Dorquel Quiet" is the disc-recording host, whose folder is now too long.
    SetModulePaths(HostKeyword("dorquel quiet", nullptr));
    EXPECT_STREQ(g_szSettingsPath, "ROVANE_QIX.INI");
    EXPECT_STREQ(g_szLogPath, "Rovane_QIX.dbg");
    world.spawn("host", [] { DebugLog("here"); });
    ASSERT_TRUE(world.run().ok());
    EXPECT_TRUE(world.files().exists("C:\\Program Files\\Host\\Rovane_QIX.dbg"));
}

TEST(Settings, AFailedSaveTellsTheUserWithMessage133) {
    sim::World world(sim_test::config());
    sim_test::prepare_module(world);
    world.op().on_message_box("Unable to write to the file").answer(IDOK);
    world.files().fail_open(g_szSettingsPath, ERROR_ACCESS_DENIED, -1);
    world.spawn("host", [] {
        WritePrinterChoice("Tessik 6000");
        WritePortChoice(1);
    });
    sim_test::run_ok(world);
    EXPECT_EQ(sim_test::boxes(world), std::vector<std::string>(2, "caption=\"Optical Disc Duplicator\" flags=0x40 "
                                                                   "text=\"Unable to write to the file to save the "
                                                                   "printer name.\""));
}

}  // namespace
