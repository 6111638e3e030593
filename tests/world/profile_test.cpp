// Profile files as the world keeps them: the transcript of reads and writes, where a bare name
// lies, injected faults, a file held open, files with LF-only lines and padded section names, and
// reads that never cache. What the calls return for values, defaults, truncation, integers and
// the bytes a write leaves is held to Windows by the conformance cases (profile.*).
#include <windows.h>

#include <cstring>
#include <string>

#include "support/module_world.h"
#include "win32/files.h"

namespace {

using sim_test::run_in;

std::string read(const char* section, const char* key, const char* def, const char* file) {
    char buf[250];
    std::memset(buf, '#', sizeof buf);
    const DWORD n = GetPrivateProfileStringA(section, key, def, buf, sizeof buf, file);
    EXPECT_EQ(buf[n], '\0') << "the result is NUL-terminated after the characters counted";
    return std::string(buf, n);
}

const char kIni[] = "C:\\Data\\ROVANE_QIX.INI";

// A world with an empty data folder, or with the settings file holding `ini`.
void prepare(sim::World& world, const char* ini = nullptr) {
    world.files().mkdir("C:\\Data");
    if (ini) world.files().write_file(kIni, ini);
}

TEST(ProfileWrite, WritesAndReadsAreRecordedAndABareNameLiesInTheWindowsFolderNotTheCurrentOne) {
    sim::World world(sim_test::config());
    prepare(world);
    run_in(world, [&] {
        EXPECT_TRUE(WritePrivateProfileStringA("PORTS", "Com", "COM1", kIni));
        EXPECT_TRUE(WritePrivateProfileStringA("PORTS", "Com", "COM3", "ROVANE_QIX.INI"));
        EXPECT_EQ(read("PORTS", "Com", "", "rovane_qix.ini"), "COM3");
    });
    EXPECT_FALSE(world.files().exists(world.config().current_dir + "\\ROVANE_QIX.INI"));
    const auto entries = world.kernel().transcript().of_kind("profile");
    ASSERT_FALSE(entries.empty());
    EXPECT_EQ(entries.front().text, "write C:\\Data\\ROVANE_QIX.INI [PORTS] Com = \"COM1\"") << "writes are recorded";
    EXPECT_EQ(entries.back().text, "read C:\\WINDOWS\\ROVANE_QIX.INI [PORTS] Com -> \"COM3\"") << "and reads";
}

TEST(ProfileWrite, InjectedFaultsFailTheWriteWithTheirErrorAndAHeldFileReadsAsDefaults) {
    sim::World world(sim_test::config());
    prepare(world, "[PORTS]\r\nCom=COM1\r\n");
    world.files().fail_write(kIni, ERROR_DISK_FULL, 1);
    run_in(world, [&] {
        HANDLE h = CreateFileA(kIni, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        EXPECT_EQ(read("PORTS", "Com", "dflt", kIni), "dflt") << "an unreadable file reads as defaults";
        CloseHandle(h);

        EXPECT_FALSE(WritePrivateProfileStringA("PORTS", "Com", "COM2", "C:\\NoSuchDir\\ROVANE_QIX.INI"));
        EXPECT_FALSE(WritePrivateProfileStringA("PORTS", "Com", "COM2", kIni));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DISK_FULL));
        sim::world().files().fail_open(kIni, ERROR_ACCESS_DENIED, 1);
        EXPECT_FALSE(WritePrivateProfileStringA("PORTS", "Printer", "X", kIni));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
        EXPECT_TRUE(WritePrivateProfileStringA("PORTS", "Com", "COM4", kIni)) << "the faults are used up";
    });
    EXPECT_EQ(sim_test::read_file(world, kIni), "[PORTS]\r\nCom=COM4\r\n");
    EXPECT_FALSE(world.files().exists("C:\\NoSuchDir")) << "a failed write creates no folder";
}

TEST(ProfileRead, NoFileIsNeverCreatedLineFeedLinesAndPaddedSectionsReadAndEveryCallReadsAnew) {
    sim::World world(sim_test::config());
    prepare(world);
    run_in(world, [&] {
        EXPECT_EQ(read("PORTS", "Com", "fallback  ", kIni), "fallback") << "no file: the default, trimmed";
        EXPECT_FALSE(sim::world().files().exists(kIni)) << "reading never creates the file";

        sim::world().files().write_file(kIni,
                                        "[other]\nCom=wrong\n"
                                        "  [ Ports ]  \n"
                                        "; Com=commented\n"
                                        "  COM  =  'COM12345678'  \n"
                                        "Printer = \"My Printer\" \n");  // LF-only lines
        EXPECT_EQ(read("PORTS", "Com", "", kIni), "COM12345678") << "names without case; value trimmed, unquoted";
        EXPECT_EQ(read("ports", "printer", "", kIni), "My Printer");

        sim::world().files().write_file(kIni, "[PORTS]\r\nCom=COM4\r\n");
        EXPECT_EQ(read("PORTS", "Com", "", kIni), "COM4") << "every call reads the file anew";
    });
}

}  // namespace
