// Situations the module's tests start from, put in place on the module's own variables where
// reaching them through the exports or the world would take a whole job (or could not be timed to
// the step under test). Each helper is named for the situation it stands for; tests read the
// variables freely for their checks, but set them only through here.
#pragma once

#include <windows.h>

#include <cstdio>
#include <initializer_list>

#include "foundation/job_state.h"
#include "foundation/module_context.h"
#include "printer/ink_levels.h"
#include "printer/laminator_ops.h"
#include "printer/printer_state.h"
#include "robot/robo_status.h"
#include "robot/serial_port.h"
#include "sequencer/command_queue.h"
#include "setup/recorders.h"

namespace sim_test {

// ---------------------------------------------------------------------------------------------
// The module and its host.

// Start-up got far enough to count the module as started (the exports answer instead of
// refusing), without the rest of a start-up.
inline void as_a_started_module() { g_fInitialized = TRUE; }
// The host is the print-only application (no recorders, no trays), or a recording host again.
inline void as_a_print_only_host(bool print_only) { g_fPrintOnlyApp = print_only ? TRUE : FALSE; }
// The host engine handle start-up stores for the tray calls.
inline void with_host_engine(DWORD handle) { g_dwHostEngine = handle; }
// Shutdown has begun: every worker loop sees it.
inline void given_shutdown_begun() { g_fShutdown = 1; }
// The robot's firmware text, as its version reply left it.
inline void with_robot_firmware(const char* text) { std::snprintf(g_szFirmware, sizeof g_szFirmware, "%s", text); }
// The last command the link remembers having written (what a retry sends again).
inline void with_last_command_sent(const char* command) {
    std::snprintf(g_bLastCommandSent, sizeof g_bLastCommandSent, "%s", command);
}

// ---------------------------------------------------------------------------------------------
// The job.

// The job is aborted (the host's code 3, or an error that aborts), or not aborted after all.
// Plain stores, safe from the scheduler's callbacks; abort_job_from_host() takes the lock.
inline void given_the_job_aborted() { g_fJobAborted = 1; }
inline void given_the_job_not_aborted() { g_fJobAborted = 0; }
inline void abort_job_from_host() {
    EnterCriticalSection(&g_csModule);
    g_fJobAborted = 1;
    LeaveCriticalSection(&g_csModule);
}
// The host has a job counted between its begin and its end (what refuses the service dialogs),
// or none.
inline void while_a_job_is_counted(bool counted = true) { g_dwJobCount = counted ? 1 : 0; }
// The job runs in no-error mode: an error aborts it without asking the operator.
inline void in_no_error_mode() { g_fNoErrorMode = 1; }
// The input bin the job takes its discs from (0 = the first of the bin table).
inline void with_input_bin(BYTE index) { g_bInputBinIndex = index; }
// The discs rejected so far, on the first and the second reject position.
inline void with_rejects(BYTE first, BYTE second) { g_bRejectCount = first, g_bReject2Count = second; }
inline void with_rejects(BYTE first) { g_bRejectCount = first; }
// The discs the host said the job has.
inline void with_discs_in_the_job(DWORD n) { g_dwHowMany = n; }

// ---------------------------------------------------------------------------------------------
// The send thread and the command queues.

// The send thread counted as running, so that requests only fill the queues and nothing is sent;
// and counted as gone again.
inline void with_send_thread_held_off() { g_fSendQueueRunning = 1; }
inline void with_send_thread_gone() { g_fSendQueueRunning = 0; }
// Both queues emptied, so that what one request queues is all they hold.
inline void with_empty_queues() { g_bCmdIndex = 0, g_bPRN_Index = 0; }
inline void with_empty_global_queue() { g_bCmdIndex = 0; }
// The status message dialog counted as open (the send thread still owes the host an answer),
// or closed.
inline void with_status_message_open(bool open) { g_hMessageDlg = open ? reinterpret_cast<HWND>(1) : NULL; }
// A request to take the status message down, as the module's own threads make it.
inline void close_status_message() {
    EnterCriticalSection(&g_csModule);
    g_fCloseMessage = 1;
    LeaveCriticalSection(&g_csModule);
}

// ---------------------------------------------------------------------------------------------
// Recorders and their positions.

// A recorder's move request: posted by the host and not yet done, or done.
inline void with_move_posted(int row) { g_Recorders[row].dwMoveState = MOVE_STATE_POSTED; }
inline void with_move_done(int row) { g_Recorders[row].dwMoveState = MOVE_STATE_DONE; }
// The tray state the module last commanded for a recorder row.
inline void with_tray_state(int row, BYTE state) { g_Recorders[row].bTrayState = state; }
// The bins a recorder's disc came from and goes back to (set by its load request).
inline void with_disc_bins(int row, char source, char back) {
    g_szPosition[row].bSourceBin = static_cast<BYTE>(source), g_szPosition[row].bReturnBin = static_cast<BYTE>(back);
}
inline void with_return_bin(int row, char back) { g_szPosition[row].bReturnBin = static_cast<BYTE>(back); }
// How many recorders the robot carries, as its status reported them.
inline void with_recorders_on_the_robot(BYTE n) { g_bRecorderCount = n; }
// A recorder row's serial number, as the disc SDK or the storage query found it.
inline void with_recorder_serial(int row, const char* serial) {
    std::snprintf(g_Recorders[row].szSerial, sizeof g_Recorders[row].szSerial, "%s", serial);
}
// A recorder row the robot already serves (mapped before).
inline void with_recorder_selected(int row) { g_Recorders[row].fSelected = TRUE; }
// A fresh recorder table as the host's list gives it: rows E:, F:, G:, ... (unit = row, an
// external drive) with the given serial numbers ("" for a drive that reported none).
inline void with_external_recorders(std::initializer_list<const char*> serials) {
    ClearRecorders();
    int row = 0;
    for (const char* s : serials) {
        AddRecorder(row, 0, 4, row, static_cast<char>('E' + row), "PIONEER DVD-RW DVR-112D");
        with_recorder_serial(row++, s);
    }
}

// ---------------------------------------------------------------------------------------------
// Printing and laminating.

// The disc printer chosen by name (as the selection dialog leaves it); with_printer_name only
// names it, leaving whether one is chosen as it was.
inline void with_printer_name(const char* name) { std::snprintf(g_szPrinterName, sizeof g_szPrinterName, "%s", name); }
inline void with_printer_chosen(const char* name) {
    g_fPrinterSelected = TRUE;
    with_printer_name(name);
}
// "Use Laminator" on or off.
inline void with_laminator(bool in_use) { g_fLaminator = in_use ? TRUE : FALSE; }
// The label application's automation object exists, or is missing.
inline void with_label_app(bool installed) { g_fSureThing = installed ? TRUE : FALSE; }
// "Record-Print": a recorded disc's recorder is freed before its print, or only at the end.
inline void with_record_print(bool on) { g_fRecordPrint = on ? TRUE : FALSE; }
// "Minimize PrintDlg": the printing and laminating dialogs open minimised.
inline void with_print_dialogs_minimised(bool on) { g_fMinimizePrintDlg = on ? TRUE : FALSE; }
// Prints queued and not yet printed.
inline void with_pending_prints(BYTE n) { g_bPendingPrints = n; }
// A print slot's file, and the bins of the disc it is for.
inline void with_print_slot_file(int slot, const char* file) {
    std::snprintf(g_PrintSlots[slot].szFileName, sizeof g_PrintSlots[slot].szFileName, "%s", file);
}
inline void with_print_slot_bins(int slot, char back, char source) {
    g_PrintSlots[slot].bReturnBin = static_cast<BYTE>(back), g_PrintSlots[slot].bSourceBin = static_cast<BYTE>(source);
}
// The number the next print job is given.
inline void with_print_job_number(DWORD n) { g_dwPrintJobNumber = n; }
// A print in process: the printer or the laminator has the disc.
inline void given_a_print_in_process() { g_fPIP = 1; }
// The job only laminates (no print before the laminator), or prints too.
inline void with_laminate_only(bool on) { g_fLaminateOnly = on ? 1 : 0; }
// The print thread's document is spooling (the printer has it until it puts the disc out), or
// not.
inline void with_spooling(bool on) { g_fSpooling = on ? 1 : 0; }
// What the laminator's counter says it has left.
inline void with_laminations_left(DWORD n) { g_dwLaminationsLeft = n; }
// The estimate of discs before low ink, as the last print file left it.
inline void with_discs_before_ink_low(int n) { g_iDiscsBeforeInkLow = n; }

}  // namespace sim_test
