// Profile files as the module uses them for its settings: where a bare name lies, defaults,
// truncation, integer parsing (signed values through UINT), case-insensitive names, what a write
// creates, replaces and deletes, and failed writes.
#include <windows.h>

#include <cstring>
#include <string>

#include "support/sim_test.h"
#include "win32/files.h"

namespace {

template <class F>
void run_in(sim::World& world, F body) {
    world.spawn("test", body);
    const sim::RunResult r = world.run();
    ASSERT_TRUE(r.ok()) << r.report;
}

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

TEST(ProfileWrite, BareNameLiesInTheWindowsFolder) {
    sim::World world(sim_test::config());
    run_in(world, [&] {
        EXPECT_TRUE(WritePrivateProfileStringA("PORTS", "Com", "COM3", "ROVANE_QIX.INI"));
        EXPECT_EQ(read("PORTS", "Com", "", "rovane_qix.ini"), "COM3");
    });
    const std::string path = world.config().windows_dir + "\\ROVANE_QIX.INI";
    EXPECT_EQ(contents(world, path), "[PORTS]\r\nCom=COM3\r\n");
    EXPECT_FALSE(world.files().exists(world.config().current_dir + "\\ROVANE_QIX.INI"));
}

TEST(ProfileWrite, CreatesSectionsAndKeysInOrderAndReplacesInPlace) {
    sim::World world(sim_test::config());
    world.files().mkdir("C:\\Data");
    run_in(world, [&] {
        EXPECT_TRUE(WritePrivateProfileStringA("PORTS", "Com", "COM1", kIni));
        EXPECT_TRUE(WritePrivateProfileStringA("Other", "A", "1", kIni));
        EXPECT_TRUE(WritePrivateProfileStringA("ports", "Printer", "Disc Printer", kIni));
        EXPECT_TRUE(WritePrivateProfileStringA("PORTS", "COM", "COM2", kIni));
    });
    EXPECT_EQ(contents(world, kIni),
              "[PORTS]\r\nCom=COM2\r\nPrinter=Disc Printer\r\n[Other]\r\nA=1\r\n")
        << "new keys go to the end of their section, existing keys keep their place and spelling";
}

TEST(ProfileWrite, DeletesKeysAndSections) {
    sim::World world(sim_test::config());
    world.files().mkdir("C:\\Data");
    world.files().write_file(kIni, "; settings\r\n[PORTS]\r\nCom=COM2\r\nDrive1Serial=ABC\r\n\r\n[Gone]\r\nx=1\r\n[Last]\r\ny=2\r\n");
    run_in(world, [&] {
        EXPECT_TRUE(WritePrivateProfileStringA("PORTS", "drive1serial", nullptr, kIni));
        EXPECT_EQ(read("PORTS", "Drive1Serial", "none", kIni), "none");
        EXPECT_TRUE(WritePrivateProfileStringA("GONE", nullptr, nullptr, kIni));
        EXPECT_EQ(read("Gone", "x", "none", kIni), "none");
        // Deleting what is not there succeeds and changes nothing.
        EXPECT_TRUE(WritePrivateProfileStringA("PORTS", "Nothing", nullptr, kIni));
        EXPECT_TRUE(WritePrivateProfileStringA("Nowhere", nullptr, nullptr, kIni));
        // A new key of a section followed by a blank line goes before the blank line.
        EXPECT_TRUE(WritePrivateProfileStringA("PORTS", "Printer", "P", kIni));
    });
    EXPECT_EQ(contents(world, kIni), "; settings\r\n[PORTS]\r\nCom=COM2\r\nPrinter=P\r\n\r\n[Last]\r\ny=2\r\n");
}

TEST(ProfileWrite, MissingFolderAndFailedWritesReportTheFileError) {
    sim::World world(sim_test::config());
    world.files().mkdir("C:\\Data");
    world.files().write_file(kIni, "[PORTS]\r\nCom=COM1\r\n");
    world.files().fail_write(kIni, ERROR_DISK_FULL, 1);
    run_in(world, [&] {
        SetLastError(0);
        EXPECT_FALSE(WritePrivateProfileStringA("PORTS", "Com", "COM2", "C:\\NoSuchDir\\ROVANE_QIX.INI"));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));

        EXPECT_FALSE(WritePrivateProfileStringA("PORTS", "Com", "COM2", kIni));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DISK_FULL));

        sim::world().files().fail_open(kIni, ERROR_ACCESS_DENIED, 1);
        EXPECT_FALSE(WritePrivateProfileStringA("PORTS", "Printer", "X", kIni));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));

        EXPECT_TRUE(WritePrivateProfileStringA("PORTS", "Com", "COM4", kIni)) << "the faults are used up";
    });
    EXPECT_FALSE(world.files().exists("C:\\NoSuchDir"));
    EXPECT_EQ(contents(world, kIni), "[PORTS]\r\nCom=COM4\r\n");
}

TEST(ProfileWrite, HeldOpenFileCannotBeRewritten) {
    sim::World world(sim_test::config());
    world.files().mkdir("C:\\Data");
    world.files().write_file(kIni, "[PORTS]\r\nCom=COM1\r\n");
    run_in(world, [&] {
        HANDLE h = CreateFileA(kIni, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        EXPECT_FALSE(WritePrivateProfileStringA("PORTS", "Com", "COM2", kIni));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
        EXPECT_EQ(read("PORTS", "Com", "dflt", kIni), "dflt") << "an unreadable file reads as defaults";
        CloseHandle(h);
        EXPECT_EQ(read("PORTS", "Com", "dflt", kIni), "COM1");
    });
}

TEST(ProfileRead, DefaultsForMissingFileSectionAndKey) {
    sim::World world(sim_test::config());
    world.files().mkdir("C:\\Data");
    run_in(world, [&] {
        DWORD n = 99;
        EXPECT_EQ(read("PORTS", "Com", "fallback  ", kIni, 250, &n), "fallback") << "trailing blanks of the default go";
        EXPECT_EQ(n, 8u);
        EXPECT_EQ(read("PORTS", "Com", nullptr, kIni, 250, &n), "");
        EXPECT_EQ(n, 0u);
        ASSERT_TRUE(WritePrivateProfileStringA("PORTS", "Com", "COM2", kIni));
        EXPECT_EQ(read("OTHER", "Com", "d", kIni), "d");
        EXPECT_EQ(read("PORTS", "Printer", "d", kIni), "d");
    });
    EXPECT_FALSE(world.files().exists("C:\\Data\\nothing.ini")) << "reading never creates a file";
}

TEST(ProfileRead, TruncationCutsToTheBuffer) {
    sim::World world(sim_test::config());
    world.files().mkdir("C:\\Data");
    world.files().write_file(kIni, "[PORTS]\r\nCom=COM12345678\r\nShort=COM2\r\n");
    run_in(world, [&] {
        DWORD n = 0;
        EXPECT_EQ(read("PORTS", "Com", "", kIni, 10, &n), "COM123456");
        EXPECT_EQ(n, 9u);
        EXPECT_EQ(read("PORTS", "Short", "", kIni, 10, &n), "COM2");
        EXPECT_EQ(n, 4u);
        EXPECT_EQ(read("PORTS", "Missing", "a long default", kIni, 5, &n), "a lo") << "defaults are cut too";
        EXPECT_EQ(n, 4u);
        EXPECT_EQ(read("PORTS", "Com", "", kIni, 1, &n), "");
        EXPECT_EQ(n, 0u);
    });
}

TEST(ProfileRead, NamesMatchWithoutCaseAndValuesAreTrimmedAndUnquoted) {
    sim::World world(sim_test::config());
    world.files().mkdir("C:\\Data");
    world.files().write_file(kIni,
                             "[other]\nCom=wrong\n"
                             "  [ Ports ]  \n"
                             "; Com=commented\n"
                             "  COM  =  'COM2'  \n"
                             "Printer = \"My Printer\" \n"
                             "Mixed = \"half'\n"
                             "Inner = a \"b\" c\n");  // LF-only lines
    run_in(world, [&] {
        EXPECT_EQ(read("PORTS", "Com", "", kIni), "COM2");
        EXPECT_EQ(read("ports", "printer", "", kIni), "My Printer");
        EXPECT_EQ(read("PORTS", "Mixed", "", kIni), "\"half'") << "quotes must match to be removed";
        EXPECT_EQ(read("PORTS", "Inner", "", kIni), "a \"b\" c");
    });
}

TEST(ProfileRead, NoCachingBetweenCalls) {
    sim::World world(sim_test::config());
    world.files().mkdir("C:\\Data");
    world.files().write_file(kIni, "[PORTS]\r\nCom=COM1\r\n");
    run_in(world, [&] {
        EXPECT_EQ(read("PORTS", "Com", "", kIni), "COM1");
        sim::world().files().write_file(kIni, "[PORTS]\r\nCom=COM4\r\n");
        EXPECT_EQ(read("PORTS", "Com", "", kIni), "COM4");
    });
}

TEST(ProfileRead, SectionAndKeyListsAndTheirTruncation) {
    sim::World world(sim_test::config());
    world.files().mkdir("C:\\Data");
    world.files().write_file(kIni, "[PORTS]\r\nCom=1\r\n;note\r\nPrinter=2\r\n[Extra]\r\nk=v\r\n");
    run_in(world, [&] {
        char buf[64];
        DWORD n = GetPrivateProfileStringA(nullptr, nullptr, "ignored", buf, sizeof buf, kIni);
        EXPECT_EQ(n, 12u) << "the final NUL is not counted";
        EXPECT_EQ(std::string(buf, n + 1), std::string("PORTS\0Extra\0\0", 13));

        n = GetPrivateProfileStringA("ports", nullptr, "", buf, sizeof buf, kIni);
        EXPECT_EQ(n, 12u);
        EXPECT_EQ(std::string(buf, n + 1), std::string("Com\0Printer\0\0", 13));

        // A list that does not fit ends in two NULs and gives size - 2.
        std::memset(buf, '#', sizeof buf);
        n = GetPrivateProfileStringA("PORTS", nullptr, "", buf, 8, kIni);
        EXPECT_EQ(n, 6u);
        EXPECT_EQ(std::string(buf, 8), std::string("Com\0Pr\0\0", 8));

        n = GetPrivateProfileStringA("Nowhere", nullptr, "", buf, sizeof buf, kIni);
        EXPECT_EQ(n, 0u);
        EXPECT_EQ(buf[0], '\0');
    });
}

TEST(ProfileInt, ParsesLikeWindows) {
    sim::World world(sim_test::config());
    world.files().mkdir("C:\\Data");
    world.files().write_file(kIni,
                             "[PORTS]\r\n"
                             "Record-Print=-1\r\n"
                             "Laminate Disc=0\r\n"
                             "Hex=0x1F\r\n"
                             "Trailing=12abc\r\n"
                             "Word=abc\r\n"
                             "Plus=+7\r\n"
                             "Empty=\r\n"
                             "Quoted=\"42\"\r\n");
    run_in(world, [&] {
        const UINT minus_one = GetPrivateProfileIntA("PORTS", "Record-Print", 1, kIni);
        EXPECT_EQ(minus_one, 0xFFFFFFFFu);
        EXPECT_EQ(static_cast<int>(minus_one), -1) << "a signed caller sees -1";
        EXPECT_EQ(GetPrivateProfileIntA("PORTS", "Laminate Disc", 1, kIni), 0u) << "a stored 0 is not the default";
        EXPECT_EQ(GetPrivateProfileIntA("PORTS", "Hex", 0, kIni), 31u);
        EXPECT_EQ(GetPrivateProfileIntA("PORTS", "Trailing", 0, kIni), 12u);
        EXPECT_EQ(GetPrivateProfileIntA("PORTS", "Word", 5, kIni), 0u) << "no leading digits: 0, not the default";
        EXPECT_EQ(GetPrivateProfileIntA("PORTS", "Plus", 0, kIni), 7u);
        EXPECT_EQ(GetPrivateProfileIntA("PORTS", "Empty", 9, kIni), 9u);
        EXPECT_EQ(GetPrivateProfileIntA("PORTS", "Quoted", 0, kIni), 42u);
        EXPECT_EQ(GetPrivateProfileIntA("PORTS", "record-print", 1, kIni), 0xFFFFFFFFu) << "names without case";
        EXPECT_EQ(GetPrivateProfileIntA("PORTS", "Missing", 1, kIni), 1u);
        EXPECT_EQ(static_cast<int>(GetPrivateProfileIntA("PORTS", "Missing", -3, kIni)), -3);
        EXPECT_EQ(GetPrivateProfileIntA("PORTS", "Record-Print", 1, "C:\\Data\\absent.ini"), 1u);
    });
}

TEST(ProfileTranscript, ReadsAndWritesAreRecorded) {
    sim::World world(sim_test::config());
    world.files().mkdir("C:\\Data");
    run_in(world, [&] {
        WritePrivateProfileStringA("PORTS", "Com", "COM3", kIni);
        read("PORTS", "Com", "", kIni);
        read("PORTS", "Printer", "", kIni);
    });
    const auto entries = world.kernel().transcript().of_kind("profile");
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].text, "write C:\\Data\\ROVANE_QIX.INI [PORTS] Com = \"COM3\"");
    EXPECT_EQ(entries[1].text, "read C:\\Data\\ROVANE_QIX.INI [PORTS] Com -> \"COM3\"");
    EXPECT_EQ(entries[2].text, "read C:\\Data\\ROVANE_QIX.INI [PORTS] Printer -> \"\" (default)");
}

}  // namespace
