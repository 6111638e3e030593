// The registry as the world keeps it: the transcript of every open and query, the key handles it
// counts, and keys removed under an open handle. What the calls return for a key or value that is
// there, missing, too large or closed is held to Windows by the conformance cases (reg.*).
#include <windows.h>

#include <string>
#include <vector>

#include "support/sim_test.h"
#include "win32/registry.h"

namespace {

using sim_test::run_in;

const char kKey[] = "Software\\Marlune\\VeltoDVD";

HKEY open_key(const char* path = kKey, HKEY hive = HKEY_LOCAL_MACHINE) {
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExA(hive, path, 0, KEY_QUERY_VALUE, &key), ERROR_SUCCESS) << path;
    return key;
}

TEST(RegistryOpen, EveryOpenAndQueryIsRecordedWithItsResultAndNoKeyHandleIsLeft) {
    sim::World world(sim_test::config());
    world.registry().set_string(HKEY_CURRENT_USER, kKey, "DataPath", "C:\\User\\");
    world.registry().set_string(HKEY_LOCAL_MACHINE, "Software\\Marlune\\Fenwit", "Other", "x");
    run_in(world, [&] {
        HKEY key = nullptr;
        RegOpenKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, KEY_QUERY_VALUE, &key);  // in the current-user hive only
        RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Marlune\\Quessa", 0, KEY_QUERY_VALUE, &key);

        key = open_key("Software\\Marlune\\Fenwit");
        BYTE data[250];
        DWORD size = sizeof data;
        RegQueryValueExA(key, "DataPath", nullptr, nullptr, data, &size);  // a key without the value
        RegCloseKey(key);

        key = open_key(kKey, HKEY_CURRENT_USER);
        size = sizeof data;
        RegQueryValueExA(key, "DataPath", nullptr, nullptr, data, &size);
        size = 4;
        RegQueryValueExA(key, "DataPath", nullptr, nullptr, data, &size);
        RegCloseKey(key);
    });
    EXPECT_EQ(sim_test::transcript_texts(world, "registry"), std::vector<std::string>({
                         "open HKLM\\Software\\Marlune\\VeltoDVD -> error 2",
                         "open HKLM\\Software\\Marlune\\Quessa -> error 2",
                         "open HKLM\\Software\\Marlune\\Fenwit -> ok",
                         "query HKLM\\Software\\Marlune\\Fenwit DataPath -> error 2",
                         "open HKCU\\Software\\Marlune\\VeltoDVD -> ok",
                         "query HKCU\\Software\\Marlune\\VeltoDVD DataPath -> REG_SZ 9 bytes: C:\\\\User\\\\\\x00",
                         "query HKCU\\Software\\Marlune\\VeltoDVD DataPath -> error 234 (9 bytes needed, 4 offered)"}))
        << "every open and query with its result";
    EXPECT_EQ(world.handles().open_count("key"), 0u);
}

// A removed key keeps its path for the handles still open on it (it once left a dangling parent).
TEST(RegistryWorld, RemovedKeysDisappearAndOpenHandlesSeeTheRemoval) {
    sim::World world(sim_test::config());
    sim::Registry& reg = world.registry();
    reg.set_string(HKEY_LOCAL_MACHINE, kKey, "DataPath", "C:\\Data\\");
    run_in(world, [&] {
        HKEY key = open_key();
        EXPECT_TRUE(sim::world().registry().remove_key(HKEY_LOCAL_MACHINE, "Software\\Marlune"));
        DWORD size = 0;
        EXPECT_EQ(RegQueryValueExA(key, "DataPath", nullptr, nullptr, nullptr, &size), 1018)  // ERROR_KEY_DELETED
            << "a handle to a removed key finds nothing";
        EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
        EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, KEY_QUERY_VALUE, &key), ERROR_FILE_NOT_FOUND);
    });
    EXPECT_FALSE(reg.remove_key(HKEY_LOCAL_MACHINE, "Software\\Marlune")) << "already gone";
    EXPECT_TRUE(reg.has_key(HKEY_LOCAL_MACHINE, "SOFTWARE")) << "its parent stays";
}

}  // namespace
