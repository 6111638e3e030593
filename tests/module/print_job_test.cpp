// Move-and-print requests and the printing steps of the send thread: the sequences the requests
// queue (by pending prints, "Record-Print", last disc, laminator) and the requests they refuse;
// the print thread's raw copy and label-application print; a recorded disc carried through the
// printer on the robot's wire, with the host's printing poll and the print time-out question; and
// a printer error during the wait.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "devices/label_app.h"
#include "foundation/job_state.h"
#include "foundation/module_context.h"
#include "printer/label_app.h"
#include "printer/print_file.h"
#include "printer/print_wait.h"
#include "printer/printer_state.h"
#include "resources/resource.h"
#include "rovane.h"
#include "sequencer/command_queue.h"
#include "setup/recorders.h"
#include "support/dialog_hands.h"
#include "support/host_world.h"
#include "support/job_world.h"
#include "support/module_state.h"
#include "support/printer_world.h"
#include "win32/components.h"
#include "win32/spooler.h"

namespace {

using sim::kSecond;
using sim_test::box;
using sim_test::Commands;
using sim_test::JobWorld;
using sim_test::now;

const char* const kPrinter = "Kestrel DiscPrint 100";  // JobWorld::connect_printer's printer

// What one request queued, with the send thread held off.
struct Queued {
    LONG result = -1;
    Commands global, printer;
};

Queued post(DWORD unit, LONG code, const char* file, DWORD disc) {
    sim_test::with_empty_queues();
    Queued q;
    q.result = Rovane_PostMoveAndPrint(unit, code, 0, file, "", disc);
    q.global = sim_test::global_queue(), q.printer = sim_test::printer_queue();
    return q;
}

std::string file_bytes(size_t n) {
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
    return s;
}

// Code 2000 with recorder A's disc from bin 4 (back to 3) and B's from bin 2 (back to 4): the
// first print goes straight onto the printer; the second waits on its return bin and is carried
// to its source bin by the first print's transfer; the job's last disc and "Record-Print" off
// free the recorder only at the end.
TEST(MoveAndPrint, RecordedDiscSequencesFollowPendingPrintsAndRecordPrint) {
    JobWorld w;
    w.connect_printer();
    Queued first, second, last, no_record_print;
    BYTE pending_after_two = 0;
    PrintSlot slot1 = {};
    DWORD move_state = 0;
    w.host([&] {
        w.start_module();
        sim_test::with_send_thread_held_off();
        sim_test::with_disc_bins(0, '4', '3');
        sim_test::with_disc_bins(1, '2', '4');
        sim_test::with_discs_in_the_job(3);
        sim_test::with_record_print(true);
        first = post(1, ROVANE_RECORD_AND_PRINT, "C:\\Jobs\\one.prn", 1);
        move_state = g_Recorders[0].dwMoveState;
        second = post(2, ROVANE_RECORD_AND_PRINT, "C:\\Jobs\\two.prn", 2);
        pending_after_two = g_bPendingPrints;
        slot1 = g_PrintSlots[1];
        sim_test::with_pending_prints(0);
        last = post(1, ROVANE_RECORD_AND_PRINT, "C:\\Jobs\\three.prn", 3);
        sim_test::with_pending_prints(0);
        sim_test::with_record_print(false);
        no_record_print = post(1, ROVANE_RECORD_AND_PRINT, "C:\\Jobs\\four.prn", 1);
        sim_test::with_send_thread_gone();
    });
    ASSERT_TRUE(w.ran());
    EXPECT_EQ(first.result, 1);
    EXPECT_EQ(move_state, MOVE_STATE_POSTED);
    EXPECT_EQ(first.global, Commands({"_MOVE:A", "PICKUP", "DONE:0", "_TRAYOUT", "_MOVE:S", "DROPOFF", "_TRAYIN"}));
    EXPECT_EQ(first.printer,
              Commands({"PRINT:0", "XFER:", "_MOVE:5", "WAIT:", "_MOVE:S", "PICKUP", "_MOVE:3", "DROPOFF"}));
    EXPECT_EQ(second.global, Commands({"_MOVE:B", "PICKUP", "DONE:1", "_MOVE:4", "DROPOFF"}));
    EXPECT_EQ(second.printer, Commands({"_TRAYOUT", "_MOVE:2", "PICKUP", "_MOVE:S", "DROPOFF", "_TRAYIN", "PRINT:1",
                                        "_MOVE:5", "WAIT:", "_MOVE:S", "PICKUP", "_MOVE:4", "DROPOFF"}));
    EXPECT_EQ(pending_after_two, 2);
    EXPECT_STREQ(slot1.szFileName, "C:\\Jobs\\two.prn");
    EXPECT_EQ(slot1.bReturnBin, '4');
    EXPECT_EQ(slot1.bSourceBin, '2');
    const Commands printed_to_3 = {"PRINT:0", "XFER:", "_MOVE:5", "WAIT:", "_MOVE:S", "PICKUP", "_MOVE:3", "DROPOFF",
                                   "DONE:0"};
    EXPECT_EQ(last.global, Commands({"_MOVE:A", "PICKUP", "_TRAYOUT", "_MOVE:S", "DROPOFF", "_TRAYIN"}));
    EXPECT_EQ(last.printer, printed_to_3) << "the last disc frees its recorder only at the end";
    EXPECT_EQ(no_record_print.global, last.global);
    EXPECT_EQ(no_record_print.printer, printed_to_3);
    EXPECT_EQ(sim_test::count_lines(w.log(), "LastDisc = TRUE"), 1);
}

// The other codes and the refusals: 1000 through the laminator, 3000 only takes a slot, 4000 with
// and without the laminator, 5000 prints at once; a label design without the label application
// (message 149, not for 4000), a fifth print and a name that does not fit a slot are refused; none
// of these codes touches the bins of its print slot.
TEST(MoveAndPrint, OtherCodesAndRefusals) {
    JobWorld w;
    w.connect_printer();
    w.world.op().on_message_box("").answer(IDOK);
    Queued blank, only_slot, in_printer, fifth, too_long;
    std::vector<LONG> std_results;
    BYTE pending_after_3000 = 0, pending_after_refusals = 0;
    std::string slot0_after_3000, bins_after_1000, bins_after_3000;
    w.host([&] {
        w.start_module();
        sim_test::with_send_thread_held_off();
        sim_test::with_laminator(true);
        // Bins an earlier recorded disc's request left in slot 0: only code 2000 writes bins.
        sim_test::with_print_slot_bins(0, '2', '5');
        blank = post(0, ROVANE_PRINT_BLANK, "C:\\Jobs\\blank.prn", 0);
        bins_after_1000 = {static_cast<char>(g_PrintSlots[0].bReturnBin), static_cast<char>(g_PrintSlots[0].bSourceBin)};
        sim_test::with_pending_prints(0);
        only_slot = post(0, 3000, "C:\\Jobs\\slot.prn", 0);
        pending_after_3000 = g_bPendingPrints;
        slot0_after_3000 = g_PrintSlots[0].szFileName;
        bins_after_3000 = {static_cast<char>(g_PrintSlots[0].bReturnBin), static_cast<char>(g_PrintSlots[0].bSourceBin)};
        // 4000 with the laminator and refused without it: the scenarios lam-only and print-in-printer.
        post(0, ROVANE_LAMINATE_ONLY, "", 0);
        sim_test::with_laminator(false);
        post(0, ROVANE_LAMINATE_ONLY, "", 0);
        sim_test::with_pending_prints(0);
        in_printer = post(0, ROVANE_PRINT_IN_PRINTER, "C:\\Jobs\\x.prn", 0);

        // A label design in lower case while the label application is missing.
        sim_test::with_pending_prints(0);
        sim_test::with_label_app(false);
        for (LONG code : {ROVANE_PRINT_BLANK, ROVANE_RECORD_AND_PRINT, ROVANE_PRINT_IN_PRINTER})
            std_results.push_back(post(1, code, "C:\\Jobs\\label.std", 1).result);
        sim_test::with_laminator(true);
        std_results.push_back(post(1, ROVANE_LAMINATE_ONLY, "C:\\Jobs\\label.std", 1).result);

        sim_test::with_pending_prints(MAX_PRINT_SLOTS);
        fifth = post(1, ROVANE_RECORD_AND_PRINT, "C:\\Jobs\\five.prn", 1);
        sim_test::with_pending_prints(0);
        too_long = post(1, ROVANE_RECORD_AND_PRINT, ("C:\\" + std::string(247, 'x')).c_str(), 1);
        pending_after_refusals = g_bPendingPrints;
        sim_test::with_send_thread_gone();
    });
    ASSERT_TRUE(w.ran());
    const Commands laminator_block = {"_LAMOUT", "_MOVE:E", "DROPOFF", "LAM:0", "WAITL:", "_LAMOUT", "_MOVE:E", "PICKUP"};
    Commands blank_printer = {"PRINT:0", "XFER:", "_MOVE:5", "WAIT:", "_MOVE:S", "PICKUP"};
    blank_printer.insert(blank_printer.end(), laminator_block.begin(), laminator_block.end());
    blank_printer.insert(blank_printer.end(), {"_MOVE:O", "DROPOFF"});
    EXPECT_EQ(blank.result, 1);
    EXPECT_EQ(blank.global, Commands({"_MOVE:", "PICKUP", "_TRAYOUT", "_MOVE:S", "DROPOFF", "_TRAYIN"}));
    EXPECT_EQ(blank.printer, blank_printer);

    EXPECT_EQ(only_slot.result, 1);
    EXPECT_TRUE(only_slot.global.empty() && only_slot.printer.empty());
    EXPECT_EQ(pending_after_3000, 1);
    EXPECT_EQ(slot0_after_3000, "C:\\Jobs\\slot.prn");
    EXPECT_EQ(bins_after_1000, "25") << "code 1000 leaves the slot's bins as they were";
    EXPECT_EQ(bins_after_3000, "25") << "so does any code but 2000";

    EXPECT_EQ(in_printer.result, 1);  // printing at once: print-in-printer's "checkprinting -> 2"
    EXPECT_TRUE(in_printer.global.empty());
    EXPECT_EQ(in_printer.printer, Commands({"PRINT:0", "WAIT:"}));

    EXPECT_EQ(std_results, std::vector<LONG>({0, 0, 0, 1}));
    EXPECT_EQ(fifth.result, 0);
    EXPECT_TRUE(fifth.global.empty() && fifth.printer.empty());
    EXPECT_EQ(too_long.result, 0);
    EXPECT_EQ(pending_after_refusals, 0);

    const std::string std_box = box("Optical Disc Duplicator", MB_SETFOREGROUND,
                                     "Cannot print .STD file.\nMake sure SureThing version 3.12 (or higher) is installed.");
    const std::vector<std::string> boxes = sim_test::boxes(w.world);  // the first: 4000 without the laminator
    ASSERT_EQ(boxes.size(), 4u);
    EXPECT_EQ(std::vector<std::string>(boxes.begin() + 1, boxes.end()), std::vector<std::string>(3, std_box));
}

// The print thread: a printer file goes into one raw document byte for byte (three blocks here);
// an empty file and a digit naming no slot send nothing; a label design goes to the label
// application (owner set when it is created) with its set-up calls, the job number and the
// printer's driver and port; a design for a printer that is not there fails in the application.
TEST(PrintJob, PrintThreadCopiesRawOrHandsTheDesignToTheLabelApp) {
    JobWorld w;
    sim_test::install_printer(w.world, kPrinter, "USB001", "Kestrel Disc Driver 2");
    w.world.files().mkdir("C:\\Jobs\\");
    const std::string data = file_bytes(10000);
    w.world.files().write_file("C:\\Jobs\\disc.prn", data);
    w.world.files().write_file("C:\\Jobs\\empty.prn", "");
    w.world.files().write_file("C:\\Jobs\\Disc.Std", "design");
    DWORD raw = 9, empty = 9, no_slot = 9, label = 9;
    LONG spooling_after_raw = 0, done_after_raw = 0;
    BOOL label_app_before = TRUE;
    std::shared_ptr<sim::LabelApp> app;
    w.host([&] {
        sim_test::with_printer_chosen(kPrinter);
        sim_test::with_print_slot_file(2, "C:\\Jobs\\disc.prn");
        raw = SendPrintThread((LPVOID) "2");
        spooling_after_raw = g_fSpooling;
        done_after_raw = g_fPrintThreadDone;
        sim_test::with_spooling(false);
        sim_test::with_print_slot_file(0, "C:\\Jobs\\empty.prn");
        empty = SendPrintThread((LPVOID) "0");
        no_slot = SendPrintThread((LPVOID) "5");

        CreateLabelApp();
        label_app_before = g_fSureThing;
        app = sim::install_label_app(w.world);
        CreateLabelApp();
        LabelAppOpen();
        sim_test::with_print_job_number(7);
        sim_test::with_print_slot_file(1, "C:\\Jobs\\Disc.Std");
        label = SendPrintThread((LPVOID) "1");
        LabelAppPrint("C:\\Jobs\\Disc.Std", "Not There", "Some Driver", "LPT1:", 4);
    });
    ASSERT_TRUE(w.ran());
    EXPECT_EQ(raw, 1u);
    EXPECT_EQ(spooling_after_raw, 1) << "the print is the printer's until it puts the disc out";
    EXPECT_EQ(done_after_raw, 1);
    const sim::Printer* p = w.world.spooler().printer(kPrinter);
    ASSERT_EQ(p->documents.size(), 2u);
    const sim::SpoolDocument& doc = p->documents[0];
    EXPECT_EQ(std::string(doc.bytes.begin(), doc.bytes.end()), data);
    EXPECT_EQ(doc.name, "C:\\Jobs\\disc.prn");
    EXPECT_EQ(doc.datatype, "RAW");
    EXPECT_EQ(doc.pages, 1u);
    EXPECT_EQ(empty, 0u);
    EXPECT_EQ(no_slot, 0u);
    EXPECT_EQ(sim_test::count_lines(w.log(), "ERROR: INVALID_HANDLE_VALUE or no data"), 1);
    EXPECT_EQ(sim_test::count_lines(w.log(), "(__PRINTING STARTED__)"), 4);
    EXPECT_EQ(sim_test::count_lines(w.log(), "File=C:\\Jobs\\disc.prn   Size=10000"), 1);

    EXPECT_FALSE(label_app_before) << "no application installed";
    EXPECT_EQ(label, 1u);
    EXPECT_EQ(app->owner(), "Marlune");
    EXPECT_EQ(app->opened(), 1u);
    EXPECT_EQ(app->call_sequence(), std::vector<int>({28, 10, 14, 16, 24, 9, 14, 16, 24, 9}));
    EXPECT_EQ(app->setup_value_14(), 0);
    EXPECT_EQ(app->setup_value_16(), 1);
    // The driver's name cut to 19 characters.
    EXPECT_EQ(app->calls()[5].text(),
              "9(\"C:\\\\Jobs\\\\Disc.Std\", \"Kestrel DiscPrint 100\", \"Kestrel Disc Driver\", \"USB001\")");
    ASSERT_EQ(app->prints().size(), 2u);
    EXPECT_TRUE(app->prints()[0].printed) << app->prints()[0].why;
    EXPECT_EQ(app->prints()[0].job_number, 7);
    EXPECT_EQ(p->documents[1].name, "Disc.Std");
    EXPECT_FALSE(app->prints()[1].printed);
    EXPECT_EQ(app->calls().back().result, E_FAIL);
    EXPECT_EQ(sim::utf8_from_wide(L"Marl\u00fcne"), "Marl\xC3\xBCne") << "wide text arrives as UTF-8";
    EXPECT_EQ(g_fPrintThreadDone, 1);
    EXPECT_EQ(w.world.components().live_bstrs(), 0u);
    EXPECT_EQ(w.world.spooler().open_handle_count(), 0u);
}

// A recorded disc through the printer: the wire carries the disc onto the tray, the tray in, the
// arm to "5" to wait. This printer never prints, so after a minute of an idle printer the operator
// is asked; Retry sends the tray out, which ends the wait. Then a printer error pending during the
// wait: message 106 on every pass, and no time-out question, until the job is aborted from
// elsewhere; the wait still counts the print job number up.
TEST(PrintJob, PrintWaitAsksAfterAMinuteOfAnIdlePrinterAndShowsAPrinterErrorUntilTheJobIsAborted) {
    JobWorld w(5);
    w.connect_printer();
    sim_test::install_printer(w.world, kPrinter);
    w.world.files().mkdir("C:\\Jobs\\");
    w.world.files().write_file("C:\\Jobs\\disc.prn", file_bytes(5000));
    std::vector<sim_test::SeenBox> seen;
    sim_test::answer_boxes(w.world, seen, "Wait for printing timed out", IDRETRY);
    LONG posted = 0, pip_after = 0;
    DWORD job_after_timeout = 0, job_after_error = 0;
    sim::Micros wait_started = 0, waited = 0;
    size_t error_log_from = 0;
    int dialogs_before_error = 0;
    std::string message;
    w.host([&] {
        w.start_module();
        sim_test::as_a_started_module();
        w.recorded_disc_in_a();
        sim_test::with_disc_bins(0, '4', '3');
        sim_test::with_discs_in_the_job(1);
        posted = Rovane_PostMoveAndPrint(1, ROVANE_RECORD_AND_PRINT, 0, "C:\\Jobs\\disc.prn", "", 1);
        sim_test::wait_move(1);
        sim_test::wait_for_send_thread();
        job_after_timeout = g_dwPrintJobNumber;
        wait_started = w.robot_command_time("_MOVE:5");

        error_log_from = w.log().size();
        dialogs_before_error = w.status_dialogs_shown();
        sim_test::given_a_print_in_process();
        w.printer->raise_printer_error();
        sim::kernel().after(75 * kSecond, [] { sim_test::given_the_job_aborted(); });
        RoboStatus status;
        const sim::Micros t0 = now();
        WaitForPrinting(&status);
        waited = now() - t0;
        job_after_error = g_dwPrintJobNumber;
        pip_after = g_fPIP;
        message = sim_test::control_text(w.world, IDD_ROBOT_MESSAGE, IDC_MESSAGE_TEXT);
        sim_test::close_status_message();
        while (g_hMessageDlg != NULL) Sleep(100);
    });
    ASSERT_TRUE(w.ran());
    EXPECT_EQ(posted, 1);
    EXPECT_EQ(job_after_timeout, 2u);
    ASSERT_EQ(seen.size(), 1u) << "no time-out question while the printer error is pending";
    EXPECT_GT(seen[0].at, wait_started + 60 * kSecond);
    EXPECT_LT(seen[0].at, wait_started + 65 * kSecond);
    EXPECT_GT(w.robot_command_time("_PTO"), seen[0].at);
    const std::vector<std::string> log = w.log();
    const std::vector<std::string> before(log.begin(), log.begin() + static_cast<long>(error_log_from));
    EXPECT_EQ(sim_test::count_lines(before, "**&&** PIP is set to TRUE (PreCommand)"), 1);
    EXPECT_EQ(sim_test::count_lines(before, "**&&** PIP is set to FALSE (WaitForPrinting)"), 1);
    EXPECT_EQ(sim_test::count_lines(before, "More than 60 seconds of waiting for printer - send Tray Out"), 1);
    EXPECT_EQ(sim_test::count_lines(before, "===COMPLETED PRINTING==="), 1);

    const std::vector<std::string> after(log.begin() + static_cast<long>(error_log_from), log.end());
    EXPECT_GE(waited, 75 * kSecond);
    EXPECT_LT(waited, 77 * kSecond);
    EXPECT_GE(sim_test::count_lines(after, "ERROR: PRINTER_ERROR"), 70) << "once a pass";
    EXPECT_EQ(message, "There was a printer error.");
    EXPECT_EQ(w.status_dialogs_shown(), dialogs_before_error + 1) << "one dialog, its text replaced";
    EXPECT_EQ(sim_test::count_lines(after, "**&&** WaitForPrinting ABORT"), 1);
    EXPECT_EQ(job_after_error, 3u);
    EXPECT_EQ(pip_after, 1) << "the print did not complete";
}

}  // namespace
