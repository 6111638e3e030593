// The laminator channel against the simulated laminator behind the spooler printer "Disc
// Laminator": status records read, checked and retried; the operator asked when the laminator
// does not answer; 8-byte command documents that the laminator acts on; the robot firmware check.
// And the label application's automation server as the module reaches it.
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "devices/label_app.h"
#include "devices/laminator.h"
#include "foundation/job_state.h"
#include "foundation/module_context.h"
#include "printer/label_app.h"
#include "printer/laminator_channel.h"
#include "robot/robo_status.h"
#include "robot/serial_port.h"
#include "support/module_world.h"
#include "support/module_state.h"
#include "win32/components.h"
#include "win32/files.h"
#include "win32/spooler.h"
#include "world/operator.h"

namespace {

using sim_test::count_lines;
using sim_test::run_in;

struct LamWorld {
    sim::World world{sim_test::config()};
    std::shared_ptr<sim::Laminator> lam;

    explicit LamWorld(bool installed = true, const sim::LaminatorConfig& c = sim::LaminatorConfig()) {
        sim_test::prepare_module(world);
        if (installed) lam = sim::install_laminator(world, c);
    }
    // The log lines written since `from` lines.
    std::vector<std::string> log_since(size_t from) {
        std::vector<std::string> all = sim_test::log_texts(world);
        if (all.size() <= from) return {};
        return std::vector<std::string>(all.begin() + static_cast<long>(from), all.end());
    }
    size_t log_size() { return sim_test::log_texts(world).size(); }
    std::vector<sim::Micros> read_times() {
        std::vector<sim::Micros> out;
        for (const sim::TranscriptEntry& e : world.kernel().transcript().of_kind("laminator"))
            if (e.text.rfind("status read", 0) == 0) out.push_back(e.time_us);
        return out;
    }
};

// --- status records -----------------------------------------------------------------------

TEST(LaminatorChannel, StatusRecordIsReadCheckedAndRetried) {
    sim::LaminatorConfig c;
    c.ribbon = 6750 * 321 + 100;
    LamWorld w(true, c);
    run_in(w.world, [&] {
        LamStatus s;
        std::memset(&s, 0xEE, sizeof s);
        size_t mark = w.log_size();
        ASSERT_EQ(GetLaminatorStatus(&s, FALSE, FALSE), 1);
        EXPECT_EQ(std::string(s.szLamFirmware, LAM_FIRMWARE_SIZE), "LAM 2.04       ");
        EXPECT_EQ(s.bLength, 78);
        EXPECT_EQ(s.bLamState, 'I');
        EXPECT_EQ(s.bTrayStatus, 'I');
        EXPECT_EQ(s.bHeater, 'X');
        EXPECT_EQ(s.bLamError, 0);
        EXPECT_EQ(LaminationsLeft(&s), 321u) << "the 24-bit ribbon count, most significant byte first";
        EXPECT_EQ(w.lam->status_requests(), 1u) << "the module asks for the record before it reads it";
        EXPECT_TRUE(w.log_since(mark).empty()) << "a good read writes nothing";

        // One changed byte: the checksum warning, then the next attempt succeeds.
        w.lam->corrupt_next(1, sim::LamCorruption::BadChecksum);
        ASSERT_EQ(GetLaminatorStatus(&s, FALSE, FALSE), 1);
        EXPECT_EQ(w.log_since(mark), std::vector<std::string>({"WARNING: CHECKSUM ERROR!! TRY AGAIN."}));
        // A state the laminator never reports is refused without a line.
        mark = w.log_size();
        w.lam->corrupt_next(1, sim::LamCorruption::WrongState);
        const uint32_t reads = w.lam->status_reads();
        ASSERT_EQ(GetLaminatorStatus(&s, FALSE, FALSE), 1);
        EXPECT_EQ(w.lam->status_reads(), reads + 2) << "the record with state W counted as a failed attempt";
        EXPECT_TRUE(w.log_since(mark).empty());

        // Three 79-byte replies without the dialog: three lines, result 0, no abort, 20 ms apart.
        mark = w.log_size();
        const size_t first_read = w.read_times().size();
        w.lam->corrupt_next(3, sim::LamCorruption::Short);
        sim_test::given_the_job_not_aborted();
        EXPECT_EQ(GetLaminatorStatus(&s, FALSE, FALSE), 0);
        EXPECT_EQ(w.log_since(mark), std::vector<std::string>(3, "Wrong number of status bytes: 79"));
        EXPECT_EQ(g_fJobAborted, 0);
        const std::vector<sim::Micros> t = w.read_times();
        ASSERT_EQ(t.size(), first_read + 3);
        EXPECT_GE(t[first_read + 1] - t[first_read], 20 * sim::kMs);
        EXPECT_GE(t[first_read + 2] - t[first_read + 1], 20 * sim::kMs);

        // Wrong marks three times with the abort flag: no line per attempt, the job aborts.
        mark = w.log_size();
        w.lam->corrupt_next(2, sim::LamCorruption::BadStartMark);
        EXPECT_EQ(GetLaminatorStatus(&s, TRUE, FALSE), 1) << "the third attempt succeeds";
        w.lam->corrupt_next(3, sim::LamCorruption::BadEndMark);
        EXPECT_EQ(GetLaminatorStatus(&s, TRUE, FALSE), 0);
        EXPECT_EQ(w.log_since(mark), std::vector<std::string>({"Job Aborted in GetLaminatorStatus"}));
        EXPECT_EQ(g_fJobAborted, 1);
        sim_test::given_the_job_not_aborted();

        // Too long for the 80-byte buffer; a silent laminator; a failing request.
        mark = w.log_size();
        w.lam->corrupt_next(1, sim::LamCorruption::Long);
        EXPECT_EQ(GetLaminatorStatus(&s, FALSE, FALSE), 1);
        w.lam->go_silent(1, sim::LamSilence::Empty);
        EXPECT_EQ(GetLaminatorStatus(&s, FALSE, FALSE), 1);
        w.lam->go_silent(1, sim::LamSilence::WriteFails);
        EXPECT_EQ(GetLaminatorStatus(&s, FALSE, FALSE), 1);
        EXPECT_EQ(w.log_since(mark),
                  std::vector<std::string>({"GetPrinterData() Error!", "Wrong number of status bytes: 0",
                                            "Wrong number of status bytes: 0", "SetPrinterData() Error!",
                                            "GetPrinterData() Error!", "Wrong number of status bytes: 0"}));

        // A driver whose record is shorter by its length byte: the sum covers only that part.
        sim::LaminatorConfig shorter;
        shorter.record_length = 40;
        shorter.firmware = "LAM 3.10 EXTENDED RIBBON";  // cut to 15 bytes
        w.lam = sim::install_laminator(w.world, shorter);
        ASSERT_EQ(GetLaminatorStatus(&s, FALSE, FALSE), 1);
        EXPECT_EQ(s.bLength, 40);
        EXPECT_EQ(std::string(s.szLamFirmware, LAM_FIRMWARE_SIZE), "LAM 3.10 EXTEND");
        mark = w.log_size();
        w.lam->corrupt_next(1, sim::LamCorruption::BadChecksum);
        ASSERT_EQ(GetLaminatorStatus(&s, FALSE, FALSE), 1);
        EXPECT_EQ(w.log_since(mark), std::vector<std::string>({"WARNING: CHECKSUM ERROR!! TRY AGAIN."}));
    });
    EXPECT_EQ(w.world.spooler().open_handle_count(), 0u);
}

TEST(LaminatorChannel, NoLaminatorAsksRetryOrCancel) {
    LamWorld w(false);
    const std::string box_text =
        "Unable to communicate with the laminator.\nPlease check that the laminator is powered on and connected.\n"
        "To retry click \"Retry\" or to Cancel (aborts job if one is in process) click \"Cancel\"";
    std::shared_ptr<sim::Laminator> lam;
    // First box: Retry; the second cycle fails too, then the laminator is plugged in and Retry
    // finds it. Later boxes: Cancel.
    w.world.op().on_message_box(box_text).with_caption("Error").answer(IDRETRY).times(1);
    w.world.op()
        .on_message_box(box_text)
        .with_caption("Error")
        .then([&] { lam = sim::install_laminator(w.world); })
        .answer(IDRETRY)
        .times(1);
    w.world.op().on_message_box(box_text).with_caption("Error").answer(IDCANCEL);
    run_in(w.world, [&] {
        LamStatus s;
        std::memset(&s, 0, sizeof s);
        sim_test::given_the_job_not_aborted();
        ASSERT_EQ(GetLaminatorStatus(&s, TRUE, TRUE), 1);
        EXPECT_EQ(count_lines(w.log_since(0), "OpenPrinter (Disc Laminator) Error! (1801)"), 6)
            << "two cycles of three attempts before the laminator was there";
        EXPECT_EQ(g_fJobAborted, 0);

        ASSERT_TRUE(w.world.spooler().remove_printer("Disc Laminator"));
        size_t mark = w.log_size();
        EXPECT_EQ(GetLaminatorStatus(&s, FALSE, TRUE), 0);
        EXPECT_EQ(s.bLamState, 'B') << "a record from a failed read says busy";
        EXPECT_EQ(g_fJobAborted, 0) << "Cancel without the abort flag";
        EXPECT_EQ(count_lines(w.log_since(mark), "User aborted in GetLaminatorStatus"), 0);

        mark = w.log_size();
        EXPECT_EQ(GetLaminatorStatus(&s, TRUE, TRUE), 0);
        EXPECT_EQ(g_fJobAborted, 1);
        const std::vector<std::string> lines = w.log_since(mark);
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(lines.back(), "User aborted in GetLaminatorStatus");
        EXPECT_EQ(count_lines(lines, "Job Aborted in GetLaminatorStatus"), 0);
    });
    EXPECT_EQ(w.world.op().answers_given(), 4u);
}

// --- commands -----------------------------------------------------------------------------

TEST(LaminatorChannel, CommandDocumentsReachTheLaminatorWhichActsOnThem) {
    LamWorld w(true, sim::LaminatorConfig());
    sim::Printer* printer = w.world.spooler().printer("Disc Laminator");
    ASSERT_NE(printer, nullptr);
    run_in(w.world, [&] {
        LamStatus s;
        sim_test::with_last_command_sent("_SI");
        ASSERT_EQ(SendLaminatorCMD(LamTrayOutCMD, LAM_COMMAND_SIZE, FALSE), 1);
        EXPECT_STREQ(g_bLastCommandSent, "_SI") << "remember flag 0";
        ASSERT_EQ(printer->documents.size(), 1u);
        const sim::SpoolDocument& doc = printer->documents[0];
        EXPECT_EQ(doc.name, "LAMINATOR_CMD");
        EXPECT_EQ(doc.datatype, "RAW");
        EXPECT_EQ(doc.bytes, std::vector<uint8_t>({0x1B, 0x04, 0x81, 0x00, 0x00, 0x00, 0x00, 0xA0}));
        EXPECT_EQ(w.log_since(0),
                  std::vector<std::string>({"SendLaminatorCMD ..81..", "<--SendLaminatorCMD returning SUCCESSFULLY"}));
        Sleep(5000);
        ASSERT_EQ(GetLaminatorStatus(&s, FALSE, FALSE), 1);
        EXPECT_EQ(s.bLastCmdExecuted, 0x81) << "the laminator acted on the document";
        EXPECT_EQ(s.bTrayStatus, 'O');

        ASSERT_EQ(SendLaminatorCMD(LaminateCMD, LAM_COMMAND_SIZE, TRUE), 1);
        EXPECT_EQ(std::memcmp(g_bLastCommandSent, LaminateCMD, LAM_COMMAND_SIZE), 0) << "remember flag 1";

        size_t mark = w.log_size();
        w.world.spooler().fail_call("Disc Laminator", "WritePrinter", ERROR_GEN_FAILURE, 1);
        EXPECT_EQ(SendLaminatorCMD(LamTrayInCMD, LAM_COMMAND_SIZE, FALSE), 0);
        EXPECT_EQ(w.log_since(mark), std::vector<std::string>({"SendLaminatorCMD ..80..", "ERROR: Failed WritePrinter!"}));

        ASSERT_TRUE(w.world.spooler().remove_printer("Disc Laminator"));
        mark = w.log_size();
        EXPECT_EQ(SendLaminatorCMD(LamHeaterCMD, LAM_COMMAND_SIZE, FALSE), 0);
        EXPECT_EQ(w.log_since(mark),
                  std::vector<std::string>({"SendLaminatorCMD ..83..", "ERROR: Couldn't open PRINTER: Disc Laminator"}));
    });
    EXPECT_EQ(w.world.spooler().open_handle_count(), 0u) << "every failure closes what it opened";
}

// The laminator's own timings and scheduled faults, through the command documents: tray times
// in and out, a lamination stopped by an error until the operator clears it and presses
// "Laminate", a disc that falls off the tray as it comes out (still counted, put back by the
// operator), a cover that opens at a time and closes by itself, and the laminations per disc.
TEST(LaminatorChannel, ScheduledFaultsSpoilLaminationsUntilTheOperatorActs) {
    sim::LaminatorConfig c;
    c.tray_in_time = 2 * sim::kSecond;
    c.tray_out_time = 4 * sim::kSecond;
    c.warm_up_time = 10 * sim::kSecond;
    c.laminate_time = 20 * sim::kSecond;
    LamWorld w(true, c);
    run_in(w.world, [&] {
        sim::Laminator& lam = *w.lam;
        ASSERT_EQ(SendLaminatorCMD(LamTrayOutCMD, LAM_COMMAND_SIZE, FALSE), 1);
        Sleep(3900);
        EXPECT_TRUE(lam.tray_moving()) << "the way out takes 4 s";
        Sleep(200);
        ASSERT_EQ(lam.tray_status(), 'O');
        lam.put(sim::Disc{7});

        // An error before laminating: tray in with the disc, nothing laminated, commands refused.
        lam.fail_next_laminations(1, sim::LamFault::Error, sim::kLamErrRibbonMove);
        ASSERT_EQ(SendLaminatorCMD(LaminateCMD, LAM_COMMAND_SIZE, FALSE), 1);
        Sleep(2000 + 10000 + 100);  // tray in, heater warm
        EXPECT_EQ(lam.error(), sim::kLamErrRibbonMove);
        EXPECT_EQ(lam.tray_status(), 'I');
        EXPECT_TRUE(lam.lamination_stopped());
        EXPECT_EQ(lam.laminations(), 0u);
        EXPECT_FALSE(lam.press_laminate()) << "not while the error stands";
        lam.clear_error();
        ASSERT_TRUE(lam.press_laminate());
        Sleep(20000 + 4000 + 100);
        EXPECT_EQ(lam.tray_status(), 'W');
        EXPECT_EQ(lam.lamination_count(7), 1u);

        // The disc falls off as the tray comes out: "O", and the disc lies beside the laminator.
        lam.fail_next_laminations(1, sim::LamFault::FallsOff);
        ASSERT_EQ(SendLaminatorCMD(LaminateCMD, LAM_COMMAND_SIZE, FALSE), 1);
        Sleep(2000 + 20000 + 4000 + 100);
        EXPECT_EQ(lam.tray_status(), 'O');
        ASSERT_TRUE(lam.fallen().has_value());
        EXPECT_EQ(lam.discs().size(), 1u) << "the fallen disc is still the laminator's";
        EXPECT_EQ(lam.laminated_twice(), std::vector<sim::DiscId>({7}));
        ASSERT_TRUE(lam.put_fallen_back());
        EXPECT_EQ(lam.tray_status(), 'W');

        // The cover opens 5 s into a lamination and closes by itself 3 s later; the lamination
        // stays stopped until the button.
        const sim::Micros start = sim::kernel().now();
        lam.open_cover_at(start + 5 * sim::kSecond, 3 * sim::kSecond);
        ASSERT_EQ(SendLaminatorCMD(LaminateCMD, LAM_COMMAND_SIZE, FALSE), 1);
        Sleep(5100);
        LamStatus s;
        ASSERT_EQ(GetLaminatorStatus(&s, FALSE, FALSE), 1);
        EXPECT_EQ(s.bLamState, 'C');
        EXPECT_TRUE(lam.lamination_stopped());
        Sleep(3000);
        EXPECT_EQ(lam.state(), 'I');
        EXPECT_TRUE(lam.lamination_stopped());
        ASSERT_TRUE(lam.press_laminate());
        Sleep(20000 + 4000 + 100);
        EXPECT_EQ(lam.tray_status(), 'W');
        EXPECT_EQ(lam.lamination_count(7), 3u);

        // A lasting fault spoils every lamination until the faults are cleared.
        lam.fail_next_laminations(-1, sim::LamFault::CoverOpen);
        for (int i = 0; i < 2; ++i) {
            ASSERT_EQ(SendLaminatorCMD(LaminateCMD, LAM_COMMAND_SIZE, FALSE), 1);
            Sleep(2000 + 100);
            EXPECT_TRUE(lam.cover_open());
            lam.close_cover();
            lam.set_tray_now(true);
        }
        lam.clear_faults();
        ASSERT_EQ(SendLaminatorCMD(LaminateCMD, LAM_COMMAND_SIZE, FALSE), 1);
        Sleep(2000 + 20000 + 4000 + 100);
        EXPECT_EQ(lam.lamination_count(7), 4u);
    });
}

// --- the robot's firmware -----------------------------------------------------------------

TEST(LaminatorChannel, FirmwareVersionDecidesLaminatorSupport) {
    LamWorld w(false);
    run_in(w.world, [&] {
        struct Case {
            const char* text;
            int parsed, major, minor, supported;
        };
        const Case cases[] = {
            {"R 1.13 A\r\n", 1, 1, 13, 1},
            {"R 1.12 A\r\n", 1, 1, 12, 0},
            {"R 2.0 A\r\n", 1, 2, 0, 1},
            {"R 1.9 A\r\n", 1, 1, 9, 0},
            {"R 1.20 A\r\n", 1, 1, 20, 1},
            {"Q.X R 1.13 A", 1, 1, 13, 1},    // the first dot has no number before it
            {"R 1.015 A", 1, 1, 13, 1},       // %i reads a leading 0 as octal
            {"1.13", 0, -1, -1, 0},           // no blank before the number
            {"R v1.13 A", 0, -1, -1, 0},      // no number after a blank
            {"VERSION:R1.13 A", 0, -1, -1, 0},  // the only number directly after a letter
        };
        for (const Case& c : cases) {
            int major = -1, minor = -1;
            EXPECT_EQ(ParseVersion(c.text, &major, &minor), c.parsed) << c.text;
            EXPECT_EQ(major, c.major) << c.text;
            EXPECT_EQ(minor, c.minor) << c.text;
            sim_test::with_robot_firmware(c.text);
            const size_t mark = w.log_size();
            EXPECT_EQ(CheckLaminatorFirmware(), c.supported) << c.text;
            const std::vector<std::string> lines = w.log_since(mark);
            if (c.supported) {
                EXPECT_TRUE(lines.empty()) << c.text;
            } else {
                char expect[96];
                std::snprintf(expect, sizeof expect, "Firmware not updated for laminator installed %i.%i, needed 1.13",
                              c.parsed ? c.major : 0, c.parsed ? c.minor : 0);
                ASSERT_FALSE(lines.empty()) << c.text;
                EXPECT_EQ(lines.back(), expect);
            }
        }
        int major = 0, minor = 77;
        EXPECT_EQ(ParseVersion("R 3. A", &major, &minor), 1);
        EXPECT_EQ(major, 3);
        EXPECT_EQ(minor, 77) << "only the major number converted: the minor keeps its value";
    });
}

// --- the label application ------------------------------------------------------------------

typedef HRESULT(WINAPI* TextMethod)(void*, BSTR);
typedef HRESULT(WINAPI* NoArgMethod)(void*);
typedef HRESULT(WINAPI* LongMethod)(void*, LONG);
typedef HRESULT(WINAPI* PrintMethod)(void*, BSTR, BSTR, BSTR, BSTR);

void* method(void* object, int index) { return (*static_cast<void***>(object))[index]; }

TEST(LabelApp, AutomationServerAnswersByMethodIndexAndPrintsThroughTheSpooler) {
    LamWorld w(false);
    w.world.files().mkdir("C:\\Labels\\");
    w.world.files().write_file("C:\\Labels\\disc.std", "design");
    sim::PrinterConfig pc;
    pc.name = "Pellan IV";
    pc.port = "USB001";
    w.world.spooler().add_printer(pc);
    std::shared_ptr<sim::LabelApp> app;
    run_in(w.world, [&] {
        CreateLabelApp();
        EXPECT_FALSE(g_fSureThing) << "no application installed";

        app = sim::install_label_app(w.world);
        CreateLabelApp();
        ASSERT_TRUE(g_fSureThing);
        EXPECT_EQ(app->owner(), "Marlune");

        ASSERT_EQ(CoInitialize(nullptr), S_FALSE);
        CLSID clsid;
        IID iid;
        ASSERT_EQ(CLSIDFromProgID(L"STCD3Control.App.2", &clsid), S_OK);
        ASSERT_TRUE(sim::parse_guid(sim::kLabelAppIid, &iid));
        void* obj = nullptr;
        ASSERT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, iid, &obj), S_OK);
        BSTR owner = SysAllocString(L"Marl\u00fcne");
        EXPECT_EQ(reinterpret_cast<TextMethod>(method(obj, 28))(obj, owner), S_OK);
        SysFreeString(owner);
        EXPECT_EQ(app->owner(), "Marl\xC3\xBCne") << "wide text arrives as UTF-8";
        EXPECT_EQ(reinterpret_cast<NoArgMethod>(method(obj, 10))(obj), S_OK);
        EXPECT_EQ(app->opened(), 1u);

        LabelAppPrint("C:\\Labels\\disc.std", "Pellan IV", "Pellan IV Driver", "USB001", 3);
        LabelAppPrint("C:\\Labels\\disc.std", "Not There", "Some Driver", "LPT1:", 4);
    });
    EXPECT_EQ(app->call_sequence(), std::vector<int>({28, 28, 10, 14, 16, 24, 9, 14, 16, 24, 9}));
    ASSERT_EQ(app->calls().size(), 11u);
    EXPECT_EQ(app->calls()[6].text(), "9(\"C:\\\\Labels\\\\disc.std\", \"Pellan IV\", \"Pellan IV Driver\", \"USB001\")");
    EXPECT_EQ(app->setup_value_14(), 0);
    EXPECT_EQ(app->setup_value_16(), 1);
    ASSERT_EQ(app->prints().size(), 2u);
    EXPECT_TRUE(app->prints()[0].printed);
    EXPECT_EQ(app->prints()[0].job_number, 3);
    EXPECT_FALSE(app->prints()[1].printed) << app->prints()[1].why;
    EXPECT_EQ(app->calls()[10].result, E_FAIL);
    const sim::Printer* p = w.world.spooler().printer("Pellan IV");
    ASSERT_EQ(p->documents.size(), 1u);
    EXPECT_EQ(p->documents[0].name, "disc.std");
    EXPECT_EQ(w.world.kernel().transcript().of_kind("label-app").size(), 13u) << "each call, and each print's outcome";
    EXPECT_EQ(w.world.components().live_bstrs(), 0u);
    EXPECT_EQ(w.world.spooler().open_handle_count(), 0u);
}

}  // namespace
