// The world's file system as the module meets it through CreateFileA and the file-handle calls:
// dispositions and their last errors, share modes across handles, file pointers and truncation
// (the diagnostic log's pattern), access rights, disk full and injected faults, path rules, and
// the transcript of writes.
#include <windows.h>

#include <unistd.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "support/sim_test.h"
#include "win32/files.h"

namespace {

// Runs body as a simulated thread of the world and requires the run to finish cleanly.
template <class F>
void run_in(sim::World& world, F body) {
    world.spawn("test", body);
    const sim::RunResult r = world.run();
    ASSERT_TRUE(r.ok()) << r.report;
}

bool write_text(HANDLE h, const std::string& s, DWORD* written = nullptr) {
    DWORD n = 0;
    const BOOL ok = WriteFile(h, s.data(), static_cast<DWORD>(s.size()), &n, nullptr);
    if (written) *written = n;
    return ok != FALSE;
}

std::string contents(sim::World& world, const std::string& path) {
    std::string out;
    EXPECT_TRUE(world.files().read_file(path, &out)) << path;
    return out;
}

const char kLog[] = "C:\\Data\\Rovane_QIX.dbg";

// --- dispositions -------------------------------------------------------------------------------

TEST(FileOpen, OpenAlwaysCreatesThenReportsAlreadyExists) {
    sim::World world(sim_test::config());
    world.files().mkdir("C:\\Data");
    run_in(world, [&] {
        SetLastError(12345);
        HANDLE h = CreateFileA(kLog, GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        EXPECT_EQ(GetLastError(), 0u) << "a new file clears the last error";
        EXPECT_TRUE(write_text(h, "first\r\n"));
        EXPECT_TRUE(CloseHandle(h));

        SetLastError(0);
        h = CreateFileA(kLog, GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
        EXPECT_EQ(GetFileSize(h, nullptr), 7u) << "OPEN_ALWAYS keeps the contents";
        EXPECT_TRUE(CloseHandle(h));
    });
    EXPECT_EQ(contents(world, kLog), "first\r\n");
}

TEST(FileOpen, CreateDispositionsFollowWindows) {
    sim::World world(sim_test::config());
    world.files().mkdir("C:\\Data");
    world.files().write_file("C:\\Data\\old.txt", "old contents");
    run_in(world, [&] {
        HANDLE h = CreateFileA("C:\\Data\\old.txt", GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
        EXPECT_EQ(h, INVALID_HANDLE_VALUE);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_EXISTS));

        h = CreateFileA("C:\\Data\\missing.txt", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        EXPECT_EQ(h, INVALID_HANDLE_VALUE);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

        h = CreateFileA("C:\\Nowhere\\x.txt", GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, 0, nullptr);
        EXPECT_EQ(h, INVALID_HANDLE_VALUE);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));

        h = CreateFileA("C:\\Data\\missing.txt", GENERIC_WRITE, 0, nullptr, TRUNCATE_EXISTING, 0, nullptr);
        EXPECT_EQ(h, INVALID_HANDLE_VALUE);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

        SetLastError(0);
        h = CreateFileA("C:\\Data\\old.txt", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
        EXPECT_EQ(GetFileSize(h, nullptr), 0u) << "CREATE_ALWAYS empties an existing file";
        EXPECT_TRUE(write_text(h, "new"));
        CloseHandle(h);

        SetLastError(777);
        h = CreateFileA("C:\\Data\\fresh.txt", GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        EXPECT_EQ(GetLastError(), 0u);
        CloseHandle(h);

        h = CreateFileA("C:\\Data\\old.txt", GENERIC_WRITE, 0, nullptr, TRUNCATE_EXISTING, 0, nullptr);
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        EXPECT_EQ(GetFileSize(h, nullptr), 0u);
        CloseHandle(h);
    });
    EXPECT_TRUE(world.files().exists("C:\\Data\\fresh.txt"));
    EXPECT_EQ(world.files().size("C:\\Data\\old.txt"), 0u);
}

TEST(FileOpen, FolderCannotBeOpenedAsFile) {
    sim::World world(sim_test::config());
    world.files().mkdir("C:\\Data");
    run_in(world, [&] {
        HANDLE h = CreateFileA("C:\\Data", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        EXPECT_EQ(h, INVALID_HANDLE_VALUE);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
        h = CreateFileA("C:\\Data", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        EXPECT_EQ(h, INVALID_HANDLE_VALUE);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    });
    EXPECT_TRUE(world.files().is_folder("C:\\Data")) << "the folder is not replaced by a file";
}

// --- share modes ---------------------------------------------------------------------------------

TEST(FileShare, ExclusiveHandleBlocksSecondOpenUntilClosed) {
    sim::World world(sim_test::config());
    world.files().mkdir("C:\\Data");
    run_in(world, [&] {
        HANDLE first = CreateFileA(kLog, GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(first, INVALID_HANDLE_VALUE);
        HANDLE second = CreateFileA(kLog, GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        EXPECT_EQ(second, INVALID_HANDLE_VALUE);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
        // A reader that shares everything is still refused: the first handle shares nothing.
        HANDLE reader = CreateFileA(kLog, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                    0, nullptr);
        EXPECT_EQ(reader, INVALID_HANDLE_VALUE);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));

        ASSERT_TRUE(CloseHandle(first));
        second = CreateFileA(kLog, GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(second, INVALID_HANDLE_VALUE) << "closing the first handle releases its share lock";
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
        EXPECT_TRUE(CloseHandle(second));
        EXPECT_FALSE(CloseHandle(second)) << "a closed handle is gone";
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    });
    EXPECT_EQ(world.handles().open_count("file"), 0u);
}

TEST(FileShare, ShareModesAreCheckedBothWays) {
    sim::World world(sim_test::config());
    world.files().write_file("C:\\shared.txt", "abc");
    run_in(world, [&] {
        // Readers that share reading coexist.
        HANDLE r1 = CreateFileA("C:\\shared.txt", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        HANDLE r2 = CreateFileA("C:\\shared.txt", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(r1, INVALID_HANDLE_VALUE);
        ASSERT_NE(r2, INVALID_HANDLE_VALUE);
        // A writer is refused while the readers do not share writing.
        HANDLE w = CreateFileA("C:\\shared.txt", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, 0, nullptr);
        EXPECT_EQ(w, INVALID_HANDLE_VALUE);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
        CloseHandle(r1);
        CloseHandle(r2);

        // A reader sharing everything; a writer that will not share reading conflicts with it.
        r1 = CreateFileA("C:\\shared.txt", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                         nullptr);
        ASSERT_NE(r1, INVALID_HANDLE_VALUE);
        w = CreateFileA("C:\\shared.txt", GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
        EXPECT_EQ(w, INVALID_HANDLE_VALUE);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
        w = CreateFileA("C:\\shared.txt", GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        EXPECT_NE(w, INVALID_HANDLE_VALUE) << "both sides allow what the other does";
        CloseHandle(w);
        CloseHandle(r1);
    });
    EXPECT_EQ(world.handles().open_count("file"), 0u);
}

// --- pointer, size, truncation ------------------------------------------------------------------

TEST(FilePointer, LogPatternAppendsThenRestartsFromZero) {
    sim::World world(sim_test::config());
    world.files().mkdir("C:\\Data");
    world.files().write_file(kLog, "line one\r\n");
    run_in(world, [&] {
        HANDLE h = CreateFileA(kLog, GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        DWORD high = 99;
        EXPECT_EQ(GetFileSize(h, &high), 10u);
        EXPECT_EQ(high, 0u);
        EXPECT_EQ(SetFilePointer(h, 0, nullptr, FILE_END), 10u);
        EXPECT_TRUE(write_text(h, "line two\r\n"));
        EXPECT_EQ(GetFileSize(h, nullptr), 20u);

        // Restart: back to the beginning and cut the file there.
        EXPECT_EQ(SetFilePointer(h, 0, nullptr, FILE_BEGIN), 0u);
        EXPECT_TRUE(SetEndOfFile(h));
        EXPECT_EQ(GetFileSize(h, nullptr), 0u);
        EXPECT_TRUE(write_text(h, "fresh\r\n"));
        CloseHandle(h);
    });
    EXPECT_EQ(contents(world, kLog), "fresh\r\n");
}

TEST(FilePointer, SeekRulesAndZeroFill) {
    sim::World world(sim_test::config());
    world.files().write_file("C:\\p.bin", "0123456789");
    run_in(world, [&] {
        HANDLE h = CreateFileA("C:\\p.bin", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        EXPECT_EQ(SetFilePointer(h, 4, nullptr, FILE_BEGIN), 4u);
        EXPECT_EQ(SetFilePointer(h, 2, nullptr, FILE_CURRENT), 6u);
        EXPECT_EQ(SetFilePointer(h, -3, nullptr, FILE_END), 7u);

        // A move before the start fails and leaves the pointer where it was.
        EXPECT_EQ(SetFilePointer(h, -8, nullptr, FILE_CURRENT), INVALID_SET_FILE_POINTER);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NEGATIVE_SEEK));
        char buf[8] = {};
        DWORD got = 0;
        EXPECT_TRUE(ReadFile(h, buf, sizeof buf, &got, nullptr));
        EXPECT_EQ(std::string(buf, got), "789");
        EXPECT_TRUE(ReadFile(h, buf, sizeof buf, &got, nullptr));
        EXPECT_EQ(got, 0u) << "reading at the end gives nothing, successfully";

        // The 64-bit form hands back the high part.
        LONG hi = 0;
        EXPECT_EQ(SetFilePointer(h, 2, &hi, FILE_BEGIN), 2u);
        EXPECT_EQ(hi, 0);

        // Writing past the end fills the gap with zeros.
        EXPECT_EQ(SetFilePointer(h, 12, nullptr, FILE_BEGIN), 12u);
        EXPECT_TRUE(write_text(h, "Z"));
        EXPECT_EQ(GetFileSize(h, nullptr), 13u);

        // SetEndOfFile cuts the file at the pointer.
        EXPECT_EQ(SetFilePointer(h, 5, nullptr, FILE_BEGIN), 5u);
        EXPECT_TRUE(SetEndOfFile(h));
        CloseHandle(h);
    });
    EXPECT_EQ(contents(world, "C:\\p.bin"), "01234");
}

TEST(FilePointer, ZeroFillAndBadHandles) {
    sim::World world(sim_test::config());
    world.files().write_file("C:\\z.bin", "ab");
    run_in(world, [&] {
        HANDLE h = CreateFileA("C:\\z.bin", GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        SetFilePointer(h, 5, nullptr, FILE_BEGIN);
        EXPECT_TRUE(write_text(h, "c"));
        // SetEndOfFile beyond the end extends with zeros.
        SetFilePointer(h, 8, nullptr, FILE_BEGIN);
        EXPECT_TRUE(SetEndOfFile(h));
        CloseHandle(h);

        HANDLE bogus = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x7777));
        DWORD high = 5;
        EXPECT_EQ(GetFileSize(bogus, &high), INVALID_FILE_SIZE);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
        EXPECT_EQ(SetFilePointer(h, 0, nullptr, FILE_BEGIN), INVALID_SET_FILE_POINTER) << "closed handle";
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
        EXPECT_FALSE(SetEndOfFile(bogus));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    });
    EXPECT_EQ(contents(world, "C:\\z.bin"), std::string("ab\0\0\0c\0\0", 8));
}

TEST(FileAccess, HandleRightsAreEnforced) {
    sim::World world(sim_test::config());
    world.files().write_file("C:\\r.txt", "read me");
    run_in(world, [&] {
        HANDLE ro = CreateFileA("C:\\r.txt", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                0, nullptr);
        ASSERT_NE(ro, INVALID_HANDLE_VALUE);
        DWORD n = 1;
        EXPECT_FALSE(WriteFile(ro, "x", 1, &n, nullptr));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
        EXPECT_EQ(n, 0u);
        EXPECT_FALSE(SetEndOfFile(ro));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));

        HANDLE wo = CreateFileA("C:\\r.txt", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                0, nullptr);
        ASSERT_NE(wo, INVALID_HANDLE_VALUE);
        char buf[4];
        EXPECT_FALSE(ReadFile(wo, buf, sizeof buf, &n, nullptr));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));

        // Each handle has its own pointer: the writer overwrites from 0, the reader reads from 0.
        EXPECT_TRUE(write_text(wo, "RE"));
        EXPECT_TRUE(ReadFile(ro, buf, sizeof buf, &n, nullptr));
        EXPECT_EQ(std::string(buf, n), "REad");
        CloseHandle(ro);
        CloseHandle(wo);
    });
    EXPECT_EQ(contents(world, "C:\\r.txt"), "REad me");
}

// --- disk full and injected faults --------------------------------------------------------------

TEST(FileFaults, DiskFullWritesWhatFits) {
    sim::World world(sim_test::config());
    world.files().write_file("C:\\other.bin", std::string(100, 'o'));
    world.files().set_capacity(world.files().used_bytes() + 10);
    run_in(world, [&] {
        HANDLE h = CreateFileA("C:\\full.txt", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        DWORD n = 0;
        EXPECT_FALSE(write_text(h, "0123456789ABCDEFGHIJKLMNO", &n));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DISK_FULL));
        EXPECT_EQ(n, 10u);
        EXPECT_FALSE(write_text(h, "more", &n));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DISK_FULL));
        EXPECT_EQ(n, 0u);
        // Overwriting inside the file needs no new room.
        SetFilePointer(h, 0, nullptr, FILE_BEGIN);
        EXPECT_TRUE(write_text(h, "ab"));
        // Truncating frees room again.
        SetFilePointer(h, 4, nullptr, FILE_BEGIN);
        EXPECT_TRUE(SetEndOfFile(h));
        EXPECT_TRUE(write_text(h, "xyz"));
        CloseHandle(h);
    });
    EXPECT_EQ(contents(world, "C:\\full.txt"), "ab23xyz");
}

TEST(FileFaults, InjectedOpenAndWriteFailures) {
    sim::World world(sim_test::config());
    world.files().mkdir("C:\\Data");
    world.files().fail_open("c:/data/rovane_qix.DBG", ERROR_ACCESS_DENIED, 2);
    world.files().fail_write(kLog, ERROR_WRITE_FAULT, 1);
    run_in(world, [&] {
        for (int i = 0; i < 2; ++i) {
            HANDLE h = CreateFileA(kLog, GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, 0, nullptr);
            EXPECT_EQ(h, INVALID_HANDLE_VALUE) << "open " << i;
            EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
        }
        HANDLE other = CreateFileA("C:\\Data\\other.txt", GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, 0, nullptr);
        EXPECT_NE(other, INVALID_HANDLE_VALUE) << "the rule names one file only";
        EXPECT_TRUE(write_text(other, "fine"));
        CloseHandle(other);

        HANDLE h = CreateFileA(kLog, GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, 0, nullptr);
        ASSERT_NE(h, INVALID_HANDLE_VALUE) << "the fault was for two opens";
        DWORD n = 7;
        EXPECT_FALSE(write_text(h, "lost", &n));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_WRITE_FAULT));
        EXPECT_EQ(n, 0u);
        EXPECT_TRUE(write_text(h, "kept"));
        CloseHandle(h);
    });
    EXPECT_EQ(contents(world, kLog), "kept");
}

TEST(FileFaults, RuleForEveryFileAndRemoval) {
    sim::World world(sim_test::config());
    world.files().fail_open("", ERROR_GEN_FAILURE, -1);
    run_in(world, [&] {
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(CreateFileA("C:\\a.txt", GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, 0, nullptr), INVALID_HANDLE_VALUE);
            EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_GEN_FAILURE));
        }
        sim::world().files().fail_open("", 0, 0);
        HANDLE h = CreateFileA("C:\\a.txt", GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, 0, nullptr);
        EXPECT_NE(h, INVALID_HANDLE_VALUE);
        CloseHandle(h);
    });
    EXPECT_TRUE(world.files().exists("C:\\a.txt"));
}

// --- paths --------------------------------------------------------------------------------------

TEST(FilePaths, NamesAreCaseInsensitiveAndKeepTheirCase) {
    sim::World world(sim_test::config());
    world.files().mkdir("C:\\Data\\Sub");
    run_in(world, [&] {
        HANDLE h = CreateFileA("c:/DATA/sub/../Sub/./MyLog.TXT", GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        write_text(h, "x");
        CloseHandle(h);
        h = CreateFileA("C:\\data\\SUB\\mylog.txt", GENERIC_READ, 0, nullptr, CREATE_NEW, 0, nullptr);
        EXPECT_EQ(h, INVALID_HANDLE_VALUE);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_EXISTS)) << "same file in another case";
    });
    const auto files = world.files().list();
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0], "C:\\Data\\Sub\\MyLog.TXT");
}

TEST(FilePaths, RelativeNamesResolveFromTheCurrentDirectory) {
    sim::WorldConfig cfg = sim_test::config();
    cfg.current_dir = "C:\\Program Files\\Host";
    sim::World world(cfg);
    EXPECT_TRUE(world.files().is_folder("C:\\Program Files\\Host"));
    EXPECT_TRUE(world.files().is_folder(world.config().windows_dir));
    run_in(world, [&] {
        HANDLE h = CreateFileA("Rovane_QIX.dbg", GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, 0, nullptr);
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        CloseHandle(h);
        h = CreateFileA("..\\up.txt", GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, 0, nullptr);
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        CloseHandle(h);
        h = CreateFileA("\\rooted.txt", GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, 0, nullptr);
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        CloseHandle(h);
    });
    EXPECT_TRUE(world.files().exists("C:\\Program Files\\Host\\Rovane_QIX.dbg"));
    EXPECT_TRUE(world.files().exists("C:\\Program Files\\up.txt"));
    EXPECT_TRUE(world.files().exists("C:\\rooted.txt"));
}

TEST(FilePaths, InvalidNamesAndMissingFolders) {
    sim::World world(sim_test::config());
    run_in(world, [&] {
        for (const char* bad : {"C:\\a<b.txt", "C:\\a>b", "C:\\a|b", "C:\\a?b", "C:\\a*b", "C:\\a\"b", "C:\\a:b",
                                "C:\\dir:\\x"}) {
            HANDLE h = CreateFileA(bad, GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, 0, nullptr);
            EXPECT_EQ(h, INVALID_HANDLE_VALUE) << bad;
            EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_NAME)) << bad;
        }
        HANDLE h = CreateFileA("D:\\x.txt", GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, 0, nullptr);
        EXPECT_EQ(h, INVALID_HANDLE_VALUE);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND)) << "no drive D:";
    });
    EXPECT_TRUE(world.files().list().empty());
}

TEST(FilePaths, AttributesTellFoldersFromFiles) {
    sim::World world(sim_test::config());
    world.files().mkdir("C:\\Data");
    world.files().write_file("C:\\Data\\f.txt", "");
    run_in(world, [&] {
        EXPECT_EQ(GetFileAttributesA("c:\\data"), static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));
        EXPECT_EQ(GetFileAttributesA("C:\\"), static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));
        EXPECT_EQ(GetFileAttributesA("C:/Data/F.TXT"), static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE));
        EXPECT_EQ(GetFileAttributesA("C:\\Data\\none.txt"), INVALID_FILE_ATTRIBUTES);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
        EXPECT_EQ(GetFileAttributesA("C:\\None\\f.txt"), INVALID_FILE_ATTRIBUTES);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
        EXPECT_EQ(GetFileAttributesA("C:\\Data\\f.txt\\x"), INVALID_FILE_ATTRIBUTES);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND)) << "a file is not a folder";
    });
}

// --- world API ----------------------------------------------------------------------------------

TEST(FileWorld, RemoveRefusesOpenFilesAndFullFolders) {
    sim::World world(sim_test::config());
    sim::Vfs& fs = world.files();
    ASSERT_TRUE(fs.mkdir("C:\\A\\B"));
    ASSERT_TRUE(fs.write_file("C:\\A\\B\\f.txt", "1234"));
    EXPECT_FALSE(fs.write_file("C:\\A\\Missing\\f.txt", "x"));
    EXPECT_FALSE(fs.mkdir("C:\\A\\B\\f.txt\\deeper")) << "a file is in the way";
    EXPECT_FALSE(fs.remove("C:\\A\\B")) << "not empty";
    run_in(world, [&] {
        HANDLE h = CreateFileA("C:\\A\\B\\f.txt", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        EXPECT_EQ(sim::world().files().open_handles("c:\\a\\b\\F.TXT"), 1u);
        EXPECT_FALSE(sim::world().files().remove("C:\\A\\B\\f.txt")) << "open";
        CloseHandle(h);
    });
    EXPECT_EQ(fs.used_bytes(), 4u);
    EXPECT_TRUE(fs.remove("C:\\A\\B\\f.txt"));
    EXPECT_EQ(fs.used_bytes(), 0u);
    EXPECT_TRUE(fs.remove("C:\\A\\B"));
    EXPECT_FALSE(fs.exists("C:\\A\\B"));
}

TEST(FileWorld, ExportWritesRealFiles) {
    sim::World world(sim_test::config());
    world.files().mkdir("C:\\Data");
    world.files().write_file("C:\\Data\\Log.dbg", std::string("a\0b\r\n", 5));
    const std::string dir = ::testing::TempDir() + "vfs_export_" + std::to_string(::getpid());
    EXPECT_EQ(world.files().host_path(dir, "c:\\DATA\\log.DBG"), dir + "/C/Data/Log.dbg");
    ASSERT_TRUE(world.files().export_to(dir));
    std::ifstream in(dir + "/C/Data/Log.dbg", std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    EXPECT_EQ(ss.str(), std::string("a\0b\r\n", 5));
}

// --- transcript ---------------------------------------------------------------------------------

TEST(FileTranscript, EveryWriteIsRecordedWithItsBytes) {
    sim::World world(sim_test::config());
    world.files().mkdir("C:\\Data");
    run_in(world, [&] {
        HANDLE h = CreateFileA("c:\\data\\rovane_qix.dbg", GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, 0, nullptr);
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        write_text(h, "03/02 08:00:00:000  hello\r\n");
        write_text(h, std::string(300, 'x'));
        CloseHandle(h);
    });
    const auto entries = world.kernel().transcript().of_kind("file");
    std::vector<std::string> writes;
    for (const auto& e : entries)
        if (e.kind == "file" && e.text.rfind("write ", 0) == 0) writes.push_back(e.text);
    ASSERT_EQ(writes.size(), 2u);
    EXPECT_EQ(writes[0], "write C:\\Data\\rovane_qix.dbg 27 bytes: 03/02 08:00:00:000  hello\\r\\n");
    EXPECT_EQ(writes[1], "write C:\\Data\\rovane_qix.dbg 300 bytes: " + std::string(200, 'x'))
        << "the content is cut to 200 bytes";
}

}  // namespace
