// The world's file system beyond what the calls return (held to Windows by the conformance cases,
// file.*): the transcript of the diagnostic log's writes, the file handles it counts, disk full
// and injected faults, the spelling a name keeps, bare names in the current directory, and the
// export of files to the host.
#include <windows.h>

#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/module_world.h"
#include "win32/files.h"

namespace {

using sim_test::run_in;

HANDLE open_log(const char* path, DWORD share = 0, DWORD access = GENERIC_WRITE, DWORD how = OPEN_ALWAYS) {
    return CreateFileA(path, access, share, nullptr, how, FILE_ATTRIBUTE_NORMAL, nullptr);
}

bool write_text(HANDLE h, const std::string& s, DWORD* written = nullptr) {
    DWORD n = 0;
    const BOOL ok = WriteFile(h, s.data(), static_cast<DWORD>(s.size()), &n, nullptr);
    if (written) *written = n;
    return ok != FALSE;
}

const char kLog[] = "C:\\Data\\Rovane_QIX.dbg";

// The log's whole life: created, appended to, restarted from zero; every write in the transcript.
TEST(FileLog, EveryWriteOfTheLogIsRecordedWithItsBytesAndNoHandleIsLeft) {
    sim::World world(sim_test::config());
    world.files().mkdir("C:\\Data");
    run_in(world, [&] {
        HANDLE h = open_log(kLog);
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        write_text(h, "line one\r\n");
        CloseHandle(h);
        h = open_log(kLog);
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        SetFilePointer(h, 0, nullptr, FILE_END);
        write_text(h, std::string(300, 'x'));
        SetFilePointer(h, 0, nullptr, FILE_BEGIN);
        SetEndOfFile(h);
        write_text(h, "fresh\r\n");
        CloseHandle(h);
    });
    EXPECT_EQ(sim_test::read_file(world, kLog), "fresh\r\n");
    EXPECT_EQ(world.handles().open_count("file"), 0u);

    std::vector<std::string> writes;
    for (const std::string& t : sim_test::transcript_texts(world, "file"))
        if (t.rfind("write ", 0) == 0) writes.push_back(t);
    EXPECT_EQ(writes, std::vector<std::string>({"write C:\\Data\\Rovane_QIX.dbg 10 bytes: line one\\r\\n",
                                                "write C:\\Data\\Rovane_QIX.dbg 300 bytes: " + std::string(200, 'x'),
                                                "write C:\\Data\\Rovane_QIX.dbg 7 bytes: fresh\\r\\n"}))
        << "every write is recorded with its bytes, cut to 200";
}

TEST(FileFaults, DiskFullWritesWhatFitsAndTruncationFreesRoom) {
    sim::World world(sim_test::config());
    world.files().write_file("C:\\other.bin", std::string(100, 'o'));
    world.files().set_capacity(world.files().used_bytes() + 10);
    run_in(world, [&] {
        HANDLE h = open_log("C:\\full.txt");
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        DWORD n = 0;
        EXPECT_FALSE(write_text(h, "0123456789ABCDEFGHIJKLMNO", &n));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DISK_FULL));
        EXPECT_EQ(n, 10u) << "what fits is written";
        EXPECT_FALSE(write_text(h, "more", &n));
        EXPECT_EQ(n, 0u);
        SetFilePointer(h, 0, nullptr, FILE_BEGIN);
        EXPECT_TRUE(write_text(h, "ab")) << "overwriting inside the file needs no new room";
        SetFilePointer(h, 4, nullptr, FILE_BEGIN);
        EXPECT_TRUE(SetEndOfFile(h));
        EXPECT_TRUE(write_text(h, "xyz")) << "truncating freed room";
        CloseHandle(h);
    });
    EXPECT_EQ(sim_test::read_file(world, "C:\\full.txt"), "ab23xyz");
}

TEST(FileFaults, InjectedFaultsCountDownAndNameOneFileOrEvery) {
    sim::World world(sim_test::config());
    world.files().mkdir("C:\\Data");
    world.files().fail_open("c:/data/rovane_qix.DBG", ERROR_ACCESS_DENIED, 2);  // any spelling
    world.files().fail_write(kLog, ERROR_WRITE_FAULT, 1);
    run_in(world, [&] {
        for (int i = 0; i < 2; ++i) {
            EXPECT_EQ(open_log(kLog), INVALID_HANDLE_VALUE) << "open " << i;
            EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
        }
        HANDLE other = open_log("C:\\Data\\other.txt");
        EXPECT_NE(other, INVALID_HANDLE_VALUE) << "the rule names one file only";
        CloseHandle(other);

        HANDLE h = open_log(kLog);
        ASSERT_NE(h, INVALID_HANDLE_VALUE) << "the fault was for two opens";
        DWORD n = 7;
        EXPECT_FALSE(write_text(h, "lost", &n));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_WRITE_FAULT));
        EXPECT_EQ(n, 0u);
        EXPECT_TRUE(write_text(h, "kept"));
        CloseHandle(h);

        sim::world().files().fail_open("", ERROR_GEN_FAILURE, -1);
        for (int i = 0; i < 3; ++i) EXPECT_EQ(open_log("C:\\a.txt"), INVALID_HANDLE_VALUE) << "every file, always";
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_GEN_FAILURE));
        sim::world().files().fail_open("", 0, 0);
        h = open_log("C:\\a.txt");
        EXPECT_NE(h, INVALID_HANDLE_VALUE) << "count 0 removes the rule";
        CloseHandle(h);
    });
    EXPECT_EQ(sim_test::read_file(world, kLog), "kept");
}

TEST(FilePaths, NamesIgnoreCaseKeepTheirSpellingAndBareNamesLieInTheCurrentDirectory) {
    sim::WorldConfig cfg = sim_test::config();
    cfg.current_dir = "C:\\Program Files\\Host";
    sim::World world(cfg);
    world.files().mkdir("C:\\Data\\Sub");
    run_in(world, [&] {
        HANDLE h = open_log("c:/DATA/sub/../Sub/./MyLog.TXT");
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        CloseHandle(h);
        CloseHandle(open_log("C:\\data\\SUB\\mylog.txt"));  // the same file in another case
        h = open_log("Rovane_QIX.dbg");  // the log without a data folder
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        CloseHandle(h);
    });
    EXPECT_EQ(world.files().list(), std::vector<std::string>({"C:\\Data\\Sub\\MyLog.TXT",
                                                              "C:\\Program Files\\Host\\Rovane_QIX.dbg"}))
        << "names keep the case they were created with";
}

TEST(FileWorld, ExportWritesRealFilesWhereHostPathSays) {
    sim::World world(sim_test::config());
    world.files().mkdir("C:\\Data");
    world.files().write_file("C:\\Data\\Log.dbg", std::string("a\0b\r\n", 5));
    const std::string dir = ::testing::TempDir() + "vfs_export_" + std::to_string(::getpid());
    EXPECT_EQ(world.files().host_path(dir, "c:\\DATA\\log.DBG"), dir + "/C/Data/Log.dbg") << "the created case";
    ASSERT_TRUE(world.files().export_to(dir));
    std::ifstream in(dir + "/C/Data/Log.dbg", std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    EXPECT_EQ(ss.str(), std::string("a\0b\r\n", 5)) << "bytes exactly, NUL included";
}

}  // namespace
