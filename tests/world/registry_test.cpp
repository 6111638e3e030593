// The registry as the module reads its data folder from it: the key opened in any case, the
// value's size with its NUL, ERROR_MORE_DATA for a value over the module's 250 bytes, missing
// keys and values, closed handles, keys removed under an open handle, and the transcript.
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "support/sim_test.h"
#include "win32/registry.h"

namespace {

using sim_test::run_in;

const char kKey[] = "Software\\Marlune\\VeltoDVD";

// A world whose host key holds DataPath.
void set_data_path(sim::World& world, const std::string& path) {
    world.registry().set_string(HKEY_LOCAL_MACHINE, kKey, "DataPath", path);
}

HKEY open_key(const char* path = kKey, HKEY hive = HKEY_LOCAL_MACHINE) {
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExA(hive, path, 0, KEY_QUERY_VALUE, &key), ERROR_SUCCESS) << path;
    return key;
}

TEST(RegistryQuery, DataPathReadsWithItsTerminatorUnderAnySpellingAndTheHandleCloses) {
    sim::World world(sim_test::config());
    set_data_path(world, "C:\\Data\\");
    run_in(world, [&] {
        for (const char* path : {"software\\MARLUNE\\veltodvd", "Software\\Marlune\\VeltoDVD\\"}) {
            HKEY key = open_key(path);
            BYTE data[250];
            std::memset(data, '#', sizeof data);
            DWORD size = sizeof data;
            ASSERT_EQ(RegQueryValueExA(key, "datapath", nullptr, nullptr, data, &size), ERROR_SUCCESS);
            EXPECT_EQ(size, 9u) << "8 characters and the NUL";
            EXPECT_EQ(std::string(reinterpret_cast<char*>(data), size), std::string("C:\\Data\\\0", 9));
            EXPECT_EQ(data[9], '#') << "nothing beyond the value is touched";
            DWORD type = 0;
            EXPECT_EQ(RegQueryValueExA(key, "DataPath", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
            EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
            EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
            EXPECT_EQ(RegQueryValueExA(key, "DataPath", nullptr, nullptr, nullptr, &size), ERROR_INVALID_HANDLE)
                << "a closed handle is refused";
            EXPECT_EQ(RegCloseKey(key), ERROR_INVALID_HANDLE);
        }
    });
    EXPECT_EQ(world.handles().open_count("key"), 0u);
}

TEST(RegistryQuery, ValueOf251BytesGivesMoreDataTheNeededSizeAndAnUntouchedBuffer) {
    sim::World world(sim_test::config());
    const std::string long_path = "C:\\" + std::string(246, 'd') + "\\";  // 250 characters, 251 bytes
    set_data_path(world, long_path);
    run_in(world, [&] {
        HKEY key = open_key();
        BYTE data[250];
        std::memset(data, '#', sizeof data);
        DWORD size = sizeof data;
        EXPECT_EQ(RegQueryValueExA(key, "DataPath", nullptr, nullptr, data, &size), ERROR_MORE_DATA);
        EXPECT_EQ(size, 251u);
        for (BYTE b : data) ASSERT_EQ(b, '#') << "the buffer is left unchanged";

        size = 0;
        EXPECT_EQ(RegQueryValueExA(key, "DataPath", nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
        EXPECT_EQ(size, 251u) << "asking for the size only";
        BYTE exact[251];
        EXPECT_EQ(RegQueryValueExA(key, "DataPath", nullptr, nullptr, exact, &size), ERROR_SUCCESS);
        EXPECT_EQ(std::string(reinterpret_cast<char*>(exact)), long_path) << "a buffer of the needed size takes it";
        RegCloseKey(key);
    });
}

TEST(RegistryOpen, MissingKeysAndValuesAreNotFoundHivesAreApartAndTheTranscriptTellsWhy) {
    sim::World world(sim_test::config());
    world.registry().set_string(HKEY_CURRENT_USER, kKey, "DataPath", "C:\\User\\");
    world.registry().set_string(HKEY_LOCAL_MACHINE, "Software\\Marlune\\Fenwit", "Other", "x");
    run_in(world, [&] {
        HKEY key = nullptr;
        EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, KEY_QUERY_VALUE, &key), ERROR_FILE_NOT_FOUND)
            << "the value lives in the current-user hive only";
        EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Marlune\\Quessa", 0, 1, &key), ERROR_FILE_NOT_FOUND);

        key = open_key("Software\\Marlune\\Fenwit");
        BYTE data[250];
        DWORD size = sizeof data;
        EXPECT_EQ(RegQueryValueExA(key, "DataPath", nullptr, nullptr, data, &size), ERROR_FILE_NOT_FOUND)
            << "a key without the value";
        RegCloseKey(key);

        key = open_key(kKey, HKEY_CURRENT_USER);
        size = sizeof data;
        EXPECT_EQ(RegQueryValueExA(key, "DataPath", nullptr, nullptr, data, &size), ERROR_SUCCESS);
        EXPECT_STREQ(reinterpret_cast<char*>(data), "C:\\User\\");
        size = 4;
        EXPECT_EQ(RegQueryValueExA(key, "DataPath", nullptr, nullptr, data, &size), ERROR_MORE_DATA);
        RegCloseKey(key);
    });
    std::vector<std::string> lines;
    for (const auto& e : world.kernel().transcript().of_kind("registry")) lines.push_back(e.text);
    EXPECT_EQ(lines, std::vector<std::string>({
                         "open HKLM\\Software\\Marlune\\VeltoDVD -> error 2",
                         "open HKLM\\Software\\Marlune\\Quessa -> error 2",
                         "open HKLM\\Software\\Marlune\\Fenwit -> ok",
                         "query HKLM\\Software\\Marlune\\Fenwit DataPath -> error 2",
                         "open HKCU\\Software\\Marlune\\VeltoDVD -> ok",
                         "query HKCU\\Software\\Marlune\\VeltoDVD DataPath -> REG_SZ 9 bytes: C:\\\\User\\\\\\x00",
                         "query HKCU\\Software\\Marlune\\VeltoDVD DataPath -> error 234 (9 bytes needed, 4 offered)"}))
        << "every open and query with its result";
}

// A removed key keeps its path for the handles still open on it (it once left a dangling parent).
TEST(RegistryWorld, RemovedKeysDisappearAndOpenHandlesSeeTheRemoval) {
    sim::World world(sim_test::config());
    sim::Registry& reg = world.registry();
    set_data_path(world, "C:\\Data\\");
    run_in(world, [&] {
        HKEY key = open_key();
        EXPECT_TRUE(sim::world().registry().remove_key(HKEY_LOCAL_MACHINE, "Software\\Marlune"));
        DWORD size = 0;
        EXPECT_EQ(RegQueryValueExA(key, "DataPath", nullptr, nullptr, nullptr, &size), 1018)  // ERROR_KEY_DELETED
            << "a handle to a removed key finds nothing";
        EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
        EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, 1, &key), ERROR_FILE_NOT_FOUND);
    });
    EXPECT_FALSE(reg.remove_key(HKEY_LOCAL_MACHINE, "Software\\Marlune")) << "already gone";
    EXPECT_TRUE(reg.has_key(HKEY_LOCAL_MACHINE, "SOFTWARE")) << "its parent stays";
}

}  // namespace
