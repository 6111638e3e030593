// The laminator channel against the simulated laminator behind the spooler printer "Disc
// Laminator": status records read, checked and retried; the operator asked when the laminator
// does not answer; 8-byte command documents that the laminator acts on; the robot firmware check.
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "devices/laminator.h"
#include "foundation/job_state.h"
#include "foundation/module_context.h"
#include "printer/laminator_channel.h"
#include "robot/robo_status.h"
#include "robot/serial_port.h"
#include "support/module_world.h"
#include "support/printer_world.h"
#include "support/module_state.h"
#include "win32/spooler.h"
#include "world/operator.h"

namespace {

using sim_test::count_lines;
using sim_test::LamWorld;
using sim_test::run_in;

// Status records read, checked and retried; command documents that the laminator acts on; and,
// once the laminator is gone, the operator asked to Retry or Cancel.
TEST(LaminatorChannel, StatusRecordsCommandDocumentsAndTheOperatorAskedWhenNoLaminatorAnswers) {
    sim::LaminatorConfig c;
    c.ribbon = 6750 * 321 + 100;
    LamWorld w(c);
    const std::string box_text =
        "Unable to communicate with the laminator.\nPlease check that the laminator is powered on and connected.\n"
        "To retry click \"Retry\" or to Cancel (aborts job if one is in process) click \"Cancel\"";
    // First box: Retry; the second cycle fails too, then the laminator is plugged in and Retry
    // finds it. Later boxes: Cancel.
    w.world.op().on_message_box(box_text).with_caption("Error").answer(IDRETRY).times(1);
    w.world.op()
        .on_message_box(box_text)
        .with_caption("Error")
        .then([&] { w.lam = sim::install_laminator(w.world); })
        .answer(IDRETRY)
        .times(1);
    w.world.op().on_message_box(box_text).with_caption("Error").answer(IDCANCEL);
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
        const size_t first_read = sim_test::transcript(w.world, "laminator", "status read").size();
        w.lam->corrupt_next(3, sim::LamCorruption::Short);
        sim_test::given_the_job_not_aborted();
        EXPECT_EQ(GetLaminatorStatus(&s, FALSE, FALSE), 0);
        EXPECT_EQ(w.log_since(mark), std::vector<std::string>(3, "Wrong number of status bytes: 79"));
        EXPECT_EQ(g_fJobAborted, 0);
        const std::vector<sim::TranscriptEntry> t = sim_test::transcript(w.world, "laminator", "status read");
        ASSERT_EQ(t.size(), first_read + 3);
        EXPECT_GE(t[first_read + 1].time_us - t[first_read].time_us, 20 * sim::kMs);
        EXPECT_GE(t[first_read + 2].time_us - t[first_read + 1].time_us, 20 * sim::kMs);

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

        // Commands: one 8-byte raw document each, acted on by the laminator.
        sim::Printer* printer = w.world.spooler().printer("Disc Laminator");
        ASSERT_NE(printer, nullptr);
        sim_test::with_last_command_sent("_SI");
        mark = w.log_size();
        ASSERT_EQ(SendLaminatorCMD(LamTrayOutCMD, LAM_COMMAND_SIZE, FALSE), 1);
        EXPECT_STREQ(g_bLastCommandSent, "_SI") << "remember flag 0";
        ASSERT_EQ(printer->documents.size(), 1u);
        const sim::SpoolDocument& doc = printer->documents[0];
        EXPECT_EQ(doc.name, "LAMINATOR_CMD");
        EXPECT_EQ(doc.datatype, "RAW");
        EXPECT_EQ(doc.bytes, std::vector<uint8_t>({0x1B, 0x04, 0x81, 0x00, 0x00, 0x00, 0x00, 0xA0}));
        EXPECT_EQ(w.log_since(mark),
                  std::vector<std::string>({"SendLaminatorCMD ..81..", "<--SendLaminatorCMD returning SUCCESSFULLY"}));
        Sleep(5000);
        ASSERT_EQ(GetLaminatorStatus(&s, FALSE, FALSE), 1);
        EXPECT_EQ(s.bLastCmdExecuted, 0x81) << "the laminator acted on the document";
        EXPECT_EQ(s.bTrayStatus, 'O');
        ASSERT_EQ(SendLaminatorCMD(LaminateCMD, LAM_COMMAND_SIZE, TRUE), 1);
        EXPECT_EQ(std::memcmp(g_bLastCommandSent, LaminateCMD, LAM_COMMAND_SIZE), 0) << "remember flag 1";
        mark = w.log_size();
        w.world.spooler().fail_call("Disc Laminator", "WritePrinter", ERROR_GEN_FAILURE, 1);
        EXPECT_EQ(SendLaminatorCMD(LamTrayInCMD, LAM_COMMAND_SIZE, FALSE), 0);
        EXPECT_EQ(w.log_since(mark), std::vector<std::string>({"SendLaminatorCMD ..80..", "ERROR: Failed WritePrinter!"}));
        ASSERT_TRUE(w.world.spooler().remove_printer("Disc Laminator"));
        mark = w.log_size();
        EXPECT_EQ(SendLaminatorCMD(LamHeaterCMD, LAM_COMMAND_SIZE, FALSE), 0);
        EXPECT_EQ(w.log_since(mark),
                  std::vector<std::string>({"SendLaminatorCMD ..83..", "ERROR: Couldn't open PRINTER: Disc Laminator"}));

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
        ASSERT_TRUE(w.world.spooler().remove_printer("Disc Laminator"));

        // No laminator: the operator's Retry, Retry (after which it is there), then Cancel.
        std::memset(&s, 0, sizeof s);
        mark = w.log_size();
        ASSERT_EQ(GetLaminatorStatus(&s, TRUE, TRUE), 1);
        EXPECT_EQ(count_lines(w.log_since(mark), "OpenPrinter (Disc Laminator) Error! (1801)"), 6)
            << "two cycles of three attempts before the laminator was there";
        EXPECT_EQ(g_fJobAborted, 0);
        ASSERT_TRUE(w.world.spooler().remove_printer("Disc Laminator"));
        mark = w.log_size();
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
    EXPECT_EQ(w.world.spooler().open_handle_count(), 0u) << "every failure closes what it opened";
}

// The laminator's own timings and scheduled faults, through the command documents: the tray's
// time out, a cover that opens at a time and closes by itself (the lamination stays stopped until
// "Laminate" is pressed), and a lasting fault that spoils every lamination until it is cleared.
TEST(LaminatorChannel, ScheduledFaultsSpoilLaminationsUntilTheOperatorActs) {
    sim::LaminatorConfig c;
    c.tray_in_time = 2 * sim::kSecond;
    c.tray_out_time = 4 * sim::kSecond;
    c.heater_on = true;
    c.laminate_time = 20 * sim::kSecond;
    LamWorld w(c);
    run_in(w.world, [&] {
        sim::Laminator& lam = *w.lam;
        ASSERT_EQ(SendLaminatorCMD(LamTrayOutCMD, LAM_COMMAND_SIZE, FALSE), 1);
        Sleep(3900);
        EXPECT_TRUE(lam.tray_moving()) << "the way out takes 4 s";
        Sleep(200);
        ASSERT_EQ(lam.tray_status(), 'O');
        lam.put(sim::Disc{7});

        // The cover opens 5 s into a lamination and closes by itself 3 s later.
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
        EXPECT_EQ(lam.lamination_count(7), 1u);

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
        EXPECT_EQ(lam.lamination_count(7), 2u);
    });
}

// --- the robot's firmware -----------------------------------------------------------------

TEST(LaminatorChannel, FirmwareVersionDecidesLaminatorSupport) {
    LamWorld w({}, false);
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

}  // namespace
