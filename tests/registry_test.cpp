// The registry as the module reads its data folder from it: opening keys (case, trailing
// backslash, missing keys, the hive itself), querying values (sizes with the NUL, size-only
// queries, too-small buffers left untouched), handles, and keys removed under an open handle.
#include <windows.h>

#include <cstring>
#include <string>

#include "support/sim_test.h"
#include "win32/files.h"
#include "win32/registry.h"

namespace {

template <class F>
void run_in(sim::World& world, F body) {
    world.spawn("test", body);
    const sim::RunResult r = world.run();
    ASSERT_TRUE(r.ok()) << r.report;
}

const char kKey[] = "Software\\Marlune\\VeltoDVD";

TEST(RegistryQuery, ReadsDataPathWithItsTerminator) {
    sim::World world(sim_test::config());
    world.registry().set_string(HKEY_LOCAL_MACHINE, kKey, "DataPath", "C:\\Data\\");
    run_in(world, [&] {
        HKEY key = nullptr;
        ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, KEY_QUERY_VALUE, &key), ERROR_SUCCESS);
        ASSERT_NE(key, nullptr);
        BYTE data[250];
        std::memset(data, '#', sizeof data);
        DWORD size = sizeof data;
        DWORD type = 0;
        ASSERT_EQ(RegQueryValueExA(key, "DataPath", nullptr, &type, data, &size), ERROR_SUCCESS);
        EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
        EXPECT_EQ(size, 9u) << "8 characters and the NUL";
        EXPECT_EQ(std::string(reinterpret_cast<char*>(data), size), std::string("C:\\Data\\\0", 9));
        EXPECT_EQ(data[9], '#') << "nothing beyond the value is touched";

        // Without a type pointer, and under another spelling of the value name.
        size = sizeof data;
        EXPECT_EQ(RegQueryValueExA(key, "datapath", nullptr, nullptr, data, &size), ERROR_SUCCESS);
        EXPECT_EQ(size, 9u);
        EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    });
    EXPECT_EQ(world.handles().open_count("key"), 0u);
}

TEST(RegistryQuery, TooSmallBufferGivesMoreDataAndTheNeededSize) {
    sim::World world(sim_test::config());
    const std::string long_path = "C:\\" + std::string(246, 'd') + "\\";  // 250 characters, 251 bytes
    ASSERT_EQ(long_path.size(), 250u);
    world.registry().set_string(HKEY_LOCAL_MACHINE, kKey, "DataPath", long_path);
    run_in(world, [&] {
        HKEY key = nullptr;
        ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, KEY_QUERY_VALUE, &key), ERROR_SUCCESS);
        BYTE data[250];
        std::memset(data, '#', sizeof data);
        DWORD size = sizeof data;
        EXPECT_EQ(RegQueryValueExA(key, "DataPath", nullptr, nullptr, data, &size), ERROR_MORE_DATA);
        EXPECT_EQ(size, 251u);
        for (BYTE b : data) ASSERT_EQ(b, '#') << "the buffer is left unchanged";

        // Asking for the size only.
        size = 0;
        DWORD type = 0;
        EXPECT_EQ(RegQueryValueExA(key, "DataPath", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
        EXPECT_EQ(size, 251u);
        EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));

        // A buffer of exactly the needed size takes it.
        BYTE exact[251];
        size = sizeof exact;
        EXPECT_EQ(RegQueryValueExA(key, "DataPath", nullptr, nullptr, exact, &size), ERROR_SUCCESS);
        EXPECT_EQ(std::string(reinterpret_cast<char*>(exact)), long_path);
        RegCloseKey(key);
    });
}

TEST(RegistryOpen, KeyPathsIgnoreCaseAndTolerateATrailingBackslash) {
    sim::World world(sim_test::config());
    world.registry().set_string(HKEY_LOCAL_MACHINE, kKey, "DataPath", "C:\\Data\\");
    run_in(world, [&] {
        for (const char* path : {"software\\MARLUNE\\veltodvd", "Software\\Marlune\\VeltoDVD\\"}) {
            HKEY key = nullptr;
            EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_QUERY_VALUE, &key), ERROR_SUCCESS) << path;
            RegCloseKey(key);
        }
        // A key opened relative to another open key.
        HKEY marlune = nullptr, velto = nullptr;
        ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Marlune", 0, KEY_READ, &marlune), ERROR_SUCCESS);
        ASSERT_EQ(RegOpenKeyExA(marlune, "VeltoDVD", 0, KEY_READ, &velto), ERROR_SUCCESS);
        DWORD size = 0;
        EXPECT_EQ(RegQueryValueExA(velto, "DataPath", nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
        EXPECT_EQ(size, 9u);
        RegCloseKey(velto);
        RegCloseKey(marlune);
    });
}

TEST(RegistryOpen, MissingKeysValuesAndOtherHives) {
    sim::World world(sim_test::config());
    world.registry().set_string(HKEY_CURRENT_USER, kKey, "DataPath", "C:\\User\\");
    world.registry().set_string(HKEY_LOCAL_MACHINE, "Software\\Marlune\\Fenwit", "Other", "x");
    run_in(world, [&] {
        HKEY key = reinterpret_cast<HKEY>(static_cast<uintptr_t>(0x1234));
        EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, KEY_QUERY_VALUE, &key), ERROR_FILE_NOT_FOUND)
            << "the value lives in the current-user hive only";
        EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Marlune\\Quessa", 0, 1, &key), ERROR_FILE_NOT_FOUND);

        ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Marlune\\Fenwit", 0, 1, &key), ERROR_SUCCESS);
        DWORD size = 250;
        BYTE data[250];
        EXPECT_EQ(RegQueryValueExA(key, "DataPath", nullptr, nullptr, data, &size), ERROR_FILE_NOT_FOUND);
        RegCloseKey(key);

        ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, kKey, 0, 1, &key), ERROR_SUCCESS);
        size = sizeof data;
        EXPECT_EQ(RegQueryValueExA(key, "DataPath", nullptr, nullptr, data, &size), ERROR_SUCCESS);
        EXPECT_STREQ(reinterpret_cast<char*>(data), "C:\\User\\");
        RegCloseKey(key);
    });
}

TEST(RegistryOpen, EmptySubKeyOpensTheHiveItself) {
    sim::World world(sim_test::config());
    world.registry().set_dword(HKEY_LOCAL_MACHINE, "", "TopLevel", 0x01020304);
    run_in(world, [&] {
        for (const char* sub : {static_cast<const char*>(nullptr), ""}) {
            HKEY key = nullptr;
            ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, sub, 0, KEY_READ, &key), ERROR_SUCCESS);
            EXPECT_NE(key, HKEY_LOCAL_MACHINE) << "a new handle, not the predefined one";
            DWORD value = 0, size = sizeof value, type = 0;
            EXPECT_EQ(RegQueryValueExA(key, "TopLevel", nullptr, &type, reinterpret_cast<BYTE*>(&value), &size),
                      ERROR_SUCCESS);
            EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
            EXPECT_EQ(size, 4u);
            EXPECT_EQ(value, 0x01020304u);
            EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
        }
        // The predefined handle can be queried directly.
        DWORD size = 0;
        EXPECT_EQ(RegQueryValueExA(HKEY_LOCAL_MACHINE, "TopLevel", nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
        EXPECT_EQ(size, 4u);
    });
}

TEST(RegistryHandles, BadAndClosedHandlesAreRefused) {
    sim::World world(sim_test::config());
    world.registry().set_string(HKEY_LOCAL_MACHINE, kKey, "DataPath", "C:\\Data\\");
    world.files().write_file("C:\\f.txt", "x");
    run_in(world, [&] {
        HKEY key = nullptr;
        ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, 1, &key), ERROR_SUCCESS);
        EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
        DWORD size = 0;
        EXPECT_EQ(RegQueryValueExA(key, "DataPath", nullptr, nullptr, nullptr, &size), ERROR_INVALID_HANDLE);
        EXPECT_EQ(RegCloseKey(key), ERROR_INVALID_HANDLE);
        HKEY sub = nullptr;
        EXPECT_EQ(RegOpenKeyExA(key, "x", 0, 1, &sub), ERROR_INVALID_HANDLE);

        // A file handle is not a key, and closing it as one leaves it open.
        HANDLE file = CreateFileA("C:\\f.txt", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        EXPECT_EQ(RegQueryValueExA(static_cast<HKEY>(file), "DataPath", nullptr, nullptr, nullptr, &size),
                  ERROR_INVALID_HANDLE);
        EXPECT_EQ(RegCloseKey(static_cast<HKEY>(file)), ERROR_INVALID_HANDLE);
        EXPECT_TRUE(CloseHandle(file));
    });
    EXPECT_EQ(world.handles().open_count(), 0u);
}

TEST(RegistryWorld, RemovedKeysDisappearAndOpenHandlesSeeTheRemoval) {
    sim::World world(sim_test::config());
    sim::Registry& reg = world.registry();
    reg.set_string(HKEY_LOCAL_MACHINE, kKey, "DataPath", "C:\\Data\\");
    reg.set_binary(HKEY_LOCAL_MACHINE, kKey, "Blob", std::string("\x01\x00\x02", 3));
    EXPECT_TRUE(reg.has_key(HKEY_LOCAL_MACHINE, "SOFTWARE\\marlune"));
    ASSERT_NE(reg.value(HKEY_LOCAL_MACHINE, kKey, "blob"), nullptr);
    EXPECT_EQ(reg.value(HKEY_LOCAL_MACHINE, kKey, "blob")->data.size(), 3u);
    run_in(world, [&] {
        HKEY key = nullptr;
        ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, 1, &key), ERROR_SUCCESS);
        EXPECT_TRUE(sim::world().registry().remove_key(HKEY_LOCAL_MACHINE, "Software\\Marlune"));
        DWORD size = 0;
        EXPECT_EQ(RegQueryValueExA(key, "DataPath", nullptr, nullptr, nullptr, &size), 1018)  // ERROR_KEY_DELETED
            << "a handle to a removed key finds nothing";
        EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
        EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, 1, &key), ERROR_FILE_NOT_FOUND);
    });
    EXPECT_FALSE(reg.remove_key(HKEY_LOCAL_MACHINE, "Software\\Marlune"));
    EXPECT_TRUE(reg.has_key(HKEY_LOCAL_MACHINE, "Software"));
}

TEST(RegistryTranscript, OpensAndQueriesAreRecordedWithResults) {
    sim::World world(sim_test::config());
    world.registry().set_string(HKEY_LOCAL_MACHINE, kKey, "DataPath", "C:\\Data\\");
    run_in(world, [&] {
        HKEY key = nullptr;
        RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Marlune\\Quessa", 0, 1, &key);
        ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, 1, &key), ERROR_SUCCESS);
        BYTE small[4];
        DWORD size = sizeof small;
        RegQueryValueExA(key, "DataPath", nullptr, nullptr, small, &size);
        RegCloseKey(key);
    });
    const auto entries = world.kernel().transcript().of_kind("registry");
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].text, "open HKLM\\Software\\Marlune\\Quessa -> error 2");
    EXPECT_EQ(entries[1].text, "open HKLM\\Software\\Marlune\\VeltoDVD -> ok");
    EXPECT_EQ(entries[2].text,
              "query HKLM\\Software\\Marlune\\VeltoDVD DataPath -> error 234 (9 bytes needed, 4 offered)");
}

}  // namespace
