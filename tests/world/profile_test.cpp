// Profile files as the module uses them for its settings: where a bare name lies, what a write
// creates, replaces and deletes, failed writes, defaults, truncation, names without case, trimmed
// and unquoted values, and integers read through UINT by signed callers.
#include <windows.h>

#include <cstring>
#include <string>

#include "support/sim_test.h"
#include "win32/files.h"

namespace {

using sim_test::run_in;

std::string contents(sim::World& world, const std::string& path) {
    std::string out;
    EXPECT_TRUE(world.files().read_file(path, &out)) << path;
    return out;
}

std::string read(const char* section, const char* key, const char* def, const char* file, DWORD size = 250,
                 DWORD* result = nullptr) {
    char buf[512];
    std::memset(buf, '#', sizeof buf);
    const DWORD n = GetPrivateProfileStringA(section, key, def, buf, size, file);
    if (result) *result = n;
    EXPECT_EQ(buf[n], '\0') << "the result is NUL-terminated after the characters counted";
    return std::string(buf, n);
}

const char kIni[] = "C:\\Data\\ROVANE_QIX.INI";

// A world with an empty data folder, or with the settings file holding `ini`.
void prepare(sim::World& world, const char* ini = nullptr) {
    world.files().mkdir("C:\\Data");
    if (ini) world.files().write_file(kIni, ini);
}

TEST(ProfileWrite, CreatesFileSectionAndKeyReplacesInPlaceDeletesBareNameLiesInTheWindowsFolderAllRecorded) {
    sim::World world(sim_test::config());
    prepare(world);
    run_in(world, [&] {
        EXPECT_TRUE(WritePrivateProfileStringA("PORTS", "Com", "COM1", kIni)) << "creates the file";
        EXPECT_TRUE(WritePrivateProfileStringA("Other", "A", "1", kIni));
        EXPECT_TRUE(WritePrivateProfileStringA("ports", "Printer", "Disc Printer", kIni));
        EXPECT_TRUE(WritePrivateProfileStringA("PORTS", "Drive1Serial", "SN1", kIni));
        EXPECT_TRUE(WritePrivateProfileStringA("PORTS", "COM", "COM2", kIni));
        EXPECT_TRUE(WritePrivateProfileStringA("PORTS", "drive1serial", nullptr, kIni)) << "deletes the key";
        EXPECT_EQ(read("PORTS", "Drive1Serial", "none", kIni), "none");
        EXPECT_TRUE(WritePrivateProfileStringA("PORTS", "Nothing", nullptr, kIni)) << "deleting nothing succeeds";

        EXPECT_TRUE(WritePrivateProfileStringA("PORTS", "Com", "COM3", "ROVANE_QIX.INI"));
        EXPECT_EQ(read("PORTS", "Com", "", "rovane_qix.ini"), "COM3");
    });
    EXPECT_EQ(contents(world, kIni), "[PORTS]\r\nCom=COM2\r\nPrinter=Disc Printer\r\n[Other]\r\nA=1\r\n")
        << "new keys go to the end of their section, existing keys keep their place and spelling";
    EXPECT_EQ(contents(world, world.config().windows_dir + "\\ROVANE_QIX.INI"), "[PORTS]\r\nCom=COM3\r\n");
    EXPECT_FALSE(world.files().exists(world.config().current_dir + "\\ROVANE_QIX.INI"));
    const auto entries = world.kernel().transcript().of_kind("profile");
    ASSERT_FALSE(entries.empty());
    EXPECT_EQ(entries.front().text, "write C:\\Data\\ROVANE_QIX.INI [PORTS] Com = \"COM1\"") << "writes are recorded";
    EXPECT_EQ(entries.back().text, "read C:\\WINDOWS\\ROVANE_QIX.INI [PORTS] Com -> \"COM3\"") << "and reads";
}

TEST(ProfileWrite, FailedWritesReportTheFileErrorAndAHeldFileReadsAsDefaults) {
    sim::World world(sim_test::config());
    prepare(world, "[PORTS]\r\nCom=COM1\r\n");
    world.files().fail_write(kIni, ERROR_DISK_FULL, 1);
    run_in(world, [&] {
        HANDLE h = CreateFileA(kIni, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        EXPECT_FALSE(WritePrivateProfileStringA("PORTS", "Com", "COM2", kIni));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
        EXPECT_EQ(read("PORTS", "Com", "dflt", kIni), "dflt") << "an unreadable file reads as defaults";
        CloseHandle(h);
        EXPECT_EQ(read("PORTS", "Com", "dflt", kIni), "COM1") << "nothing was written";

        EXPECT_FALSE(WritePrivateProfileStringA("PORTS", "Com", "COM2", "C:\\NoSuchDir\\ROVANE_QIX.INI"));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
        EXPECT_FALSE(WritePrivateProfileStringA("PORTS", "Com", "COM2", kIni));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DISK_FULL));
        sim::world().files().fail_open(kIni, ERROR_ACCESS_DENIED, 1);
        EXPECT_FALSE(WritePrivateProfileStringA("PORTS", "Printer", "X", kIni));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
        EXPECT_TRUE(WritePrivateProfileStringA("PORTS", "Com", "COM4", kIni)) << "the faults are used up";
    });
    EXPECT_EQ(contents(world, kIni), "[PORTS]\r\nCom=COM4\r\n");
    EXPECT_FALSE(world.files().exists("C:\\NoSuchDir"));
}

TEST(ProfileRead, DefaultsTruncationNamesWithoutCaseTrimmedUnquotedValuesAndNoCaching) {
    sim::World world(sim_test::config());
    prepare(world);
    run_in(world, [&] {
        DWORD n = 99;
        EXPECT_EQ(read("PORTS", "Com", "fallback  ", kIni, 250, &n), "fallback") << "no file: the default, trimmed";
        EXPECT_EQ(n, 8u);
        EXPECT_EQ(read("PORTS", "Com", nullptr, kIni, 250, &n), "") << "no default";
        EXPECT_EQ(n, 0u);
        EXPECT_FALSE(sim::world().files().exists(kIni)) << "reading never creates the file";

        sim::world().files().write_file(kIni,
                                        "[other]\nCom=wrong\n"
                                        "  [ Ports ]  \n"
                                        "; Com=commented\n"
                                        "  COM  =  'COM12345678'  \n"
                                        "Printer = \"My Printer\" \n"
                                        "Drive2Serial=\"  SN0042\"\n"
                                        "Mixed = \"half'\n");  // LF-only lines
        EXPECT_EQ(read("OTHER", "Printer", "d", kIni), "d") << "missing key in an existing section";
        EXPECT_EQ(read("Nowhere", "Com", "d", kIni), "d") << "missing section";
        EXPECT_EQ(read("PORTS", "Com", "", kIni), "COM12345678") << "names without case; value trimmed, unquoted";
        EXPECT_EQ(read("ports", "printer", "", kIni), "My Printer");
        EXPECT_EQ(read("PORTS", "Drive2Serial", "", kIni), "  SN0042") << "quotes keep a value's blanks";
        EXPECT_EQ(read("PORTS", "Mixed", "", kIni), "\"half'") << "quotes must match to be removed";

        EXPECT_EQ(read("PORTS", "Com", "", kIni, 10, &n), "COM123456") << "cut to the buffer";
        EXPECT_EQ(n, 9u);
        EXPECT_EQ(read("PORTS", "Missing", "a long default", kIni, 5, &n), "a lo") << "defaults are cut too";
        EXPECT_EQ(read("PORTS", "Com", "", kIni, 1, &n), "");

        sim::world().files().write_file(kIni, "[PORTS]\r\nCom=COM4\r\n");
        EXPECT_EQ(read("PORTS", "Com", "", kIni), "COM4") << "every call reads the file anew";
    });
}

TEST(ProfileInt, SignedValuesZeroAndDefaultsAsTheModuleReadsItsFlags) {
    sim::World world(sim_test::config());
    prepare(world, "[PORTS]\r\nRecord-Print=-1\r\nLaminate Disc=0\r\nWord=abc\r\nEmpty=\r\n");
    run_in(world, [&] {
        const UINT minus_one = GetPrivateProfileIntA("PORTS", "record-print", 1, kIni);
        EXPECT_EQ(minus_one, 0xFFFFFFFFu) << "names without case";
        EXPECT_EQ(static_cast<int>(minus_one), -1) << "a signed caller sees -1";
        EXPECT_EQ(GetPrivateProfileIntA("PORTS", "Laminate Disc", 1, kIni), 0u) << "a stored 0 is not the default";
        EXPECT_EQ(GetPrivateProfileIntA("PORTS", "Word", 5, kIni), 0u) << "no leading digits: 0, not the default";
        EXPECT_EQ(GetPrivateProfileIntA("PORTS", "Empty", 9, kIni), 9u);
        EXPECT_EQ(static_cast<int>(GetPrivateProfileIntA("PORTS", "Missing", -3, kIni)), -3);
        EXPECT_EQ(GetPrivateProfileIntA("PORTS", "Record-Print", 1, "C:\\Data\\absent.ini"), 1u);
    });
}

}  // namespace
