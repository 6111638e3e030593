// A long job's memory does not grow with it: the transcript and the robot's log of received
// commands hold only their recent entries while their hash, their counts, a stream and listeners
// still cover everything; finished module threads, destroyed windows and old spooled documents
// are let go. (That a failure report still shows the last events: kernel_test.)
#include <windows.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "harness/recording_host.h"
#include "kernel/transcript.h"
#include "support/host_world.h"
#include "win32/spooler.h"
#include "win32/ui.h"
#include "win32/ui_internal.h"
#include "world/operator.h"

namespace {

uint64_t fnv1a(const std::string& bytes) {
    uint64_t h = 0xcbf29ce484222325ULL;
    for (unsigned char c : bytes) {
        h ^= c;
        h *= 0x100000001b3ULL;
    }
    return h;
}

std::string read_host_file(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

TEST(TranscriptTail, RecentEntriesAreHeldWhileHashStreamAndListenersCoverTheWhole) {
    sim::Transcript whole, tail;
    whole.set_retained(0);
    tail.set_retained(5);
    std::vector<uint64_t> heard;
    const int id = tail.subscribe([&heard](const sim::TranscriptEntry& e) { heard.push_back(e.seq); });
    const std::string path = ::testing::TempDir() + "bounded_logs_stream.txt";
    ASSERT_TRUE(tail.stream_to(path));
    for (int i = 0; i < 12; ++i) {
        if (i == 9) tail.unsubscribe(id);
        for (sim::Transcript* t : {&whole, &tail}) t->add(1000u * i, "host", "test", "event " + std::to_string(i));
    }
    tail.stop_streaming();

    ASSERT_EQ(tail.entries().size(), 5u);
    EXPECT_EQ(tail.count(), 12u);
    EXPECT_EQ(tail.first_held(), 7u);
    EXPECT_EQ(tail.let_go(), 7u);
    EXPECT_EQ(tail.entries().front().seq, 7u);
    EXPECT_EQ(tail.entries().front().text, "event 7");
    EXPECT_EQ(tail.hash(), whole.hash()) << "the hash covers the entries let go";
    EXPECT_EQ(read_host_file(path), whole.text()) << "the stream has every entry";
    EXPECT_EQ(heard, std::vector<uint64_t>({0, 1, 2, 3, 4, 5, 6, 7, 8})) << "no more after unsubscribe";

    uint64_t missed = 0;
    const std::vector<sim::TranscriptEntry> since = tail.since(3, &missed);
    EXPECT_EQ(missed, 4u) << "entries 3 to 6 were let go";
    ASSERT_EQ(since.size(), 5u);
    EXPECT_EQ(since.front().seq, 7u);
    EXPECT_EQ(tail.since(10, &missed).size(), 2u);
    EXPECT_EQ(missed, 0u);

    tail.set_retained(2);
    EXPECT_EQ(tail.entries().size(), 2u);
    EXPECT_EQ(tail.hash(), whole.hash()) << "shrinking keeps the hash";

    tail.clear();
    EXPECT_EQ(tail.hash(), sim::Transcript().hash()) << "clear restarts the hash";
    tail.add(0, "host", "test", "after");
    EXPECT_EQ(tail.entries().back().seq, 12u) << "sequence numbers go on";
}

// Bytes become one printable line; a text put together around them is made at its own size, as
// the transcript holds thousands of them.
TEST(TranscriptText, BytesAreEscapedIntoOneLineAndTextsAroundThemTakeNoMoreRoomThanThey) {
    const std::string bytes("A\r\n\t\\\x00\x7f\xff~", 9);
    EXPECT_EQ(sim::Transcript::escape(bytes), "A\\r\\n\\t\\\\\\x00\\x7f\\xff~");
    std::string long_bytes;
    for (int i = 0; i < 300; ++i) long_bytes += static_cast<char>(i % 256);
    for (const std::string* data : std::initializer_list<const std::string*>{&bytes, &long_bytes}) {
        const std::string text = sim::Transcript::escape_between("write C:\\log.txt: ", data->data(), data->size(), "\"");
        EXPECT_EQ(text, "write C:\\log.txt: " + sim::Transcript::escape(*data) + "\"");
        EXPECT_LT(text.capacity(), text.size() + 32) << "room for the worst case kept: " << data->size() << " bytes";
    }
    const std::string plain(200, 'x');
    const std::string text = sim::Transcript::escape_between("", plain.data(), plain.size(), "");
    EXPECT_EQ(text, plain);
    EXPECT_LT(text.capacity(), 232u);
}

// A job on the whole autoloader with small logs: everything still adds up, and the kernel lets
// the module's finished threads go.
TEST(LongJob, SmallLogsStillAccountForTheWholeJobAndFinishedThreadsAreLetGo) {
    sim::AutoloaderConfig cfg = sim_test::autoloader(5);
    // Two recorders: the queues run dry now and then while both discs record, and the next move
    // starts a new send thread.
    cfg.drives = 2;
    cfg.robot.received_retained = 200;
    sim::Autoloader m(cfg);
    sim::install_default_operator(m);
    sim::Transcript& transcript = m.world.kernel().transcript();
    transcript.set_retained(500);
    const std::string path = ::testing::TempDir() + "bounded_logs_job.txt";
    ASSERT_TRUE(transcript.stream_to(path));
    uint64_t commands_heard = 0;
    m.robot->on_received([&commands_heard](const sim::ReceivedCommand& c) {
        EXPECT_EQ(c.seq, commands_heard);
        ++commands_heard;
    });

    sim::RecordingHostConfig hc;
    hc.discs = 10;
    hc.record_time = 2 * sim::kMinute;
    sim::RecordingHost host(m, hc);
    m.world.load_module();
    host.start();
    sim::RunResult r = m.world.run();
    if (r.ok()) r = m.settle();
    ASSERT_TRUE(r.ok()) << r.report;
    EXPECT_EQ(host.result().discs_finished, 10);
    EXPECT_EQ(m.check_invariants(host.result().ended), "");

    transcript.stop_streaming();
    const std::string streamed = read_host_file(path);
    ASSERT_GT(transcript.count(), 2000u) << "a job this long overflows the small transcript";
    EXPECT_EQ(transcript.entries().size(), 500u);
    EXPECT_EQ(transcript.entries().back().seq, transcript.count() - 1);
    EXPECT_EQ(fnv1a(streamed), transcript.hash()) << "the running hash is the hash of the whole transcript";
    size_t lines = 0;
    for (char c : streamed) lines += c == '\n';
    EXPECT_EQ(lines, transcript.count());

    EXPECT_EQ(m.robot->received_commands().size(), 200u);
    EXPECT_EQ(m.robot->received_count(), commands_heard);
    EXPECT_EQ(m.robot->received_commands().back().seq, commands_heard - 1);

    // Send threads came and went; only the host's thread and those whose handles the module
    // still holds remain.
    const sim::Kernel& k = m.world.kernel();
    EXPECT_GE(k.threads_created(), 6u);
    EXPECT_LE(k.threads().size(), 2u);
}

// A finished thread whose handle is still open keeps its record (its exit code is read through
// the handle); closing the handle lets it go. A deadline the thread left behind finds nothing.
DWORD sleeper_id = 0;

TEST(LongJob, AFinishedThreadStaysWhileAHandleIsOpen) {
    sim::World world(sim_test::config());
    sim_test::run_in(world, [] {
        HANDLE sleeper = CreateThread(
            nullptr, 0,
            [](LPVOID) -> DWORD {
                const sim::Micros deadline = sim::kernel().now() + 10 * sim::kSecond;
                sim::kernel().block("waiting for a nudge", &deadline);
                return 7;
            },
            nullptr, 0, &sleeper_id);
        HANDLE waker = CreateThread(
            nullptr, 0,
            [](LPVOID) -> DWORD {
                Sleep(100);
                sim::kernel().wake(sim::kernel().find_thread(sleeper_id));
                return 0;
            },
            nullptr, 0, nullptr);
        CloseHandle(waker);
        Sleep(1000);
        DWORD code = 0;
        EXPECT_TRUE(GetExitCodeThread(sleeper, &code));
        EXPECT_EQ(code, 7u) << "woken early, it returned";
        EXPECT_NE(sim::kernel().find_thread(sleeper_id), nullptr) << "kept while its handle is open";
        CloseHandle(sleeper);
        EXPECT_EQ(sim::kernel().find_thread(sleeper_id), nullptr) << "let go with its last handle";
        Sleep(20000);  // past the deadline it left behind
    });
    EXPECT_EQ(world.kernel().threads().size(), 1u) << "only the test's own thread";
    EXPECT_EQ(world.kernel().threads_created(), 3u);
}

TEST(Windows, DestroyedWindowsAreLetGoAndTheirHandlesStayInvalid) {
    sim::World world(sim_test::config());
    world.op().on_message_box("question").answer(IDOK);
    const uintptr_t first = world.ui().state().next_hwnd;
    sim_test::run_in(world, [] {
        for (int i = 0; i < 150; ++i) MessageBoxA(nullptr, ("question " + std::to_string(i)).c_str(), "T", MB_OK);
    });
    const sim::UiState& ui = world.ui().state();
    EXPECT_LE(ui.windows.size(), sim::UiState::kDeadWindowsKept) << "the dead ones beyond the last few are gone";
    EXPECT_GE(ui.next_hwnd, first + 150 * 4) << "no handle value is used twice";
    sim_test::run_in(world, [first, last = ui.next_hwnd] {
        for (uintptr_t h = first; h < last; h += 4)
            EXPECT_FALSE(IsWindow(reinterpret_cast<HWND>(h))) << "box " << std::hex << h << " is closed";
    });
}

// A printing job hands the spooler a whole print file per disc: a printer holds only the recent
// documents, and counts them all.
TEST(Spooler, APrinterHoldsItsRecentDocumentsAndCountsThemAll) {
    sim::World world(sim_test::config());
    sim::PrinterConfig pc;
    pc.name = "Pellan IV";
    sim::Printer& printer = world.spooler().add_printer(pc);
    const size_t kept = printer.documents_kept;
    sim_test::run_in(world, [kept] {
        HANDLE h = nullptr;
        ASSERT_TRUE(OpenPrinterA(const_cast<LPSTR>("Pellan IV"), &h, nullptr));
        for (size_t i = 0; i < kept + 5; ++i) {
            std::string name = "disc " + std::to_string(i);
            DOC_INFO_1 info = {};
            info.pDocName = &name[0];
            ASSERT_NE(StartDocPrinterA(h, 1, reinterpret_cast<LPBYTE>(&info)), 0u);
            BYTE label[100] = {};
            DWORD written = 0;
            ASSERT_TRUE(WritePrinter(h, label, sizeof label, &written));
            ASSERT_TRUE(EndDocPrinter(h));
        }
        ClosePrinter(h);
    });
    ASSERT_EQ(printer.documents.size(), kept);
    EXPECT_EQ(printer.documents.front().name, "disc 5") << "the oldest ones went";
    EXPECT_EQ(printer.documents.back().name, "disc " + std::to_string(kept + 4));
    EXPECT_EQ(printer.documents_finished, kept + 5);
    EXPECT_EQ(printer.bytes_finished, 100 * (kept + 5));
}

}  // namespace
