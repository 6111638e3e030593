// The command queues' limits and the job state's reset and progress exports.
#include <windows.h>

#include <string>
#include <vector>

#include "foundation/job_state.h"
#include "host/job_reset.h"
#include "printer/printer_state.h"
#include "rovane.h"
#include "sequencer/command_queue.h"
#include "setup/recorders.h"
#include "support/module_state.h"
#include "support/module_world.h"
#include "support/printer_world.h"
#include "world/operator.h"

namespace {

// Entries are built from prefix, suffix and letter within nine characters; the global queue holds
// 160 and refuses the next with the module lock held while its box is up.
TEST(CommandQueue, EntriesWithinNineCharactersAndOneHundredSixtyRefusingTheNextWithTheLockHeld) {
    sim::World world(sim_test::config());
    sim_test::prepare_module(world);
    world.op().on_message_box("Fatal PRN Command overflow!").answer(IDOK);
    world.op().on_message_box("Fatal GLOBAL Queue overflow!").answer(IDOK).after(5 * sim::kSecond);
    static sim::Micros other_got_lock_at = 0;
    sim::Micros overflow_at = 0;
    sim_test::run_in(world, [&] {
        Queue_Cmd("_MOVE:", "G", 0);
        Queue_Cmd(NULL, NULL, 'A');
        Queue_Cmd("DONE:", NULL, '3');
        Queue_Cmd("_MOVE:", NULL, '4');
        PRN_Queue("PRINT:", NULL, '0');
        PRN_Queue("12345678", NULL, 0);
        EXPECT_EQ(g_fJobAborted, 0);
        PRN_Queue("123456789", NULL, 0);  // the letter's place is counted: ten
        EXPECT_EQ(g_fJobAborted, 1);
        EXPECT_EQ(sim_test::global_queue(), std::vector<std::string>({"_MOVE:G", "A", "DONE:3", "_MOVE:4"}));
        EXPECT_EQ(sim_test::printer_queue(), std::vector<std::string>({"PRINT:0", "12345678"}));

        sim_test::given_the_job_not_aborted();
        for (int i = 4; i < QUEUE_ENTRIES; ++i) Queue_Cmd("PICKUP", NULL, 0);
        EXPECT_EQ(g_bCmdIndex, QUEUE_ENTRIES);
        EXPECT_EQ(g_fJobAborted, 0);
        // Another thread wants the lock while the overflow box is up.
        CreateThread(NULL, 0, [](LPVOID) -> DWORD {
            Sleep(1000);
            EnterCriticalSection(&g_csModule);
            other_got_lock_at = sim::kernel().now();
            LeaveCriticalSection(&g_csModule);
            return 0;
        }, NULL, 0, NULL);
        overflow_at = sim::kernel().now();
        Queue_Cmd("_MOVE:", "G", 0);
        EXPECT_EQ(g_bCmdIndex, QUEUE_ENTRIES) << "the 161st command is not stored";
        EXPECT_EQ(g_fJobAborted, 1);
        Sleep(100);
    });
    EXPECT_GE(other_got_lock_at - overflow_at, 5 * sim::kSecond) << "the box is shown while the module lock is held";
    const auto log = sim_test::log_texts(world);
    EXPECT_EQ(sim_test::count_lines(log, "Queue_Cmd: _MOVE:G   (g_bCmdIndex=1)"), 1);
    EXPECT_EQ(sim_test::count_lines(log, "PRN_Queue: PRINT:0   (g_bPRN_Index=1)"), 1);
    EXPECT_EQ(sim_test::count_lines(log, "FATAL PRN COMMAND OVERFLOW"), 1);
    EXPECT_EQ(sim_test::count_lines(log, "FATAL GLOBAL QUEUE OVERFLOW"), 1);
    EXPECT_EQ(sim_test::count_lines(log, "Queue_Cmd: PICKUP   (g_bCmdIndex=160)"), 2);
    EXPECT_NE(world.transcript_text().find("msgbox shown caption=\"ROVANE\" flags=0x1030"), std::string::npos);
}

TEST(JobState, InitGlobalsResetsTheJobAndChoosesTheBins) {
    sim::World world(sim_test::config());
    sim_test::prepare_module(world);
    sim_test::run_in(world, [] {
        WritePrivateProfileStringA("PORTS", "Record-Print", "-1", g_szSettingsPath);
        WritePrivateProfileStringA("PORTS", "Minimize PrintDlg", "-7", g_szSettingsPath);
        // What a job leaves behind: aborted, commands queued, a print in process, its number.
        sim_test::given_the_job_aborted();
        Queue_Cmd("PICKUP", NULL, 0);
        sim_test::given_a_print_in_process();
        sim_test::with_print_job_number(9);
        sim_test::with_input_bin(2);
        sim_test::with_laminator(true);
        InitGlobals();
        EXPECT_EQ(g_fJobAborted, 0);
        EXPECT_EQ(g_bCmdIndex, 0);
        EXPECT_EQ(g_fPIP, 0);
        EXPECT_EQ(g_dwPrintJobNumber, 1u);
        EXPECT_EQ(g_bInputBinIndex, 2) << "the bin in use is kept";
        EXPECT_TRUE(g_fRecordPrint) << "any non-zero value counts as on, -1 too";
        EXPECT_TRUE(g_fMinimizePrintDlg) << "-7 counts as on";
        EXPECT_EQ(g_dwBinCount, 3u);
        EXPECT_EQ(std::string(g_szInputBins, 3), "425");
        EXPECT_EQ(std::string(g_szOutputBins, 3), "342");
        sim_test::with_laminator(false);
        WritePrivateProfileStringA("PORTS", "Record-Print", "0", g_szSettingsPath);
        WritePrivateProfileStringA("PORTS", "Minimize PrintDlg", NULL, g_szSettingsPath);
        InitGlobals();
        EXPECT_FALSE(g_fRecordPrint) << "0 is off";
        EXPECT_TRUE(g_fMinimizePrintDlg) << "absent: on";
        EXPECT_EQ(g_dwBinCount, 4u);
        EXPECT_EQ(std::string(g_szInputBins, 4), "4251");
        EXPECT_EQ(std::string(g_szOutputBins, 4), "3425");
    });
    EXPECT_EQ(sim_test::count_lines(sim_test::log_texts(world), "**&&** PIP is set to FALSE (InitGlobals)"), 2);
}

// The move and print polls. (The obsolete accumulator check, and Rovane_CheckPrinting before
// start-up made the module's lock, with its box: tests/scenarios/accumulator-obsolete and
// calls-before-init.)
TEST(JobState, CheckMoveDiscAndCheckPrintingReportDoneInProgressAbortedAndUnknown) {
    sim::World world(sim_test::config());
    sim_test::prepare_module(world);
    world.op().on_message_box("obsolete").answer(IDOK);
    sim_test::run_in(world, [] {
        ClearRecorders();
        const int row = AddRecorder(7, 0, 4, 1, 'E', "VIRTUAL DVD-R");
        ASSERT_EQ(row, 0);
        EXPECT_EQ(Rovane_CheckMoveDisc(99), 0u) << "unknown recorder";
        sim_test::with_move_posted(row);
        sim_test::with_send_thread_held_off();
        EXPECT_EQ(Rovane_CheckMoveDisc(7), 2u);
        sim_test::with_send_thread_gone();
        EXPECT_EQ(Rovane_CheckMoveDisc(7), 4u) << "nothing can finish the move any more";
        sim_test::with_status_message_open(true);
        EXPECT_EQ(Rovane_CheckMoveDisc(7), 2u) << "the status message is still open";
        sim_test::with_status_message_open(false);
        sim_test::with_move_done(row);
        EXPECT_EQ(Rovane_CheckMoveDisc(7), 1u) << "done, even with the send thread gone";
        EXPECT_EQ(Rovane_CheckPrinting(0), 0u) << "the module was never started";
        sim_test::as_a_started_module();
        EXPECT_EQ(Rovane_CheckPrinting(0), 1u);
        sim_test::given_a_print_in_process();
        EXPECT_EQ(Rovane_CheckPrinting(0), 2u);
        sim_test::given_the_job_aborted();
        EXPECT_EQ(Rovane_CheckMoveDisc(7), 4u);
        EXPECT_EQ(Rovane_CheckPrinting(0), 4u);
    });
    const auto log = sim_test::log_texts(world);
    EXPECT_EQ(sim_test::count_lines(log, "CheckMoveDisc() Nothing more to do. Aborting."), 1);
    EXPECT_EQ(sim_test::count_lines(log, "CheckMoveDisc:  g_fJobAborted=TRUE.  Aborting."), 2) << "both polls";
    EXPECT_EQ(sim_test::count_lines(log, "**&&** CheckPrinting returning ABORT"), 1);
}

}  // namespace
