// The diagnostic log: one timestamped line per call, appended to "Rovane_QIX.dbg" in the data
// folder, plus a second file (the same name with "2" appended) for the few recovery messages a
// service engineer wants to find quickly.
#ifndef ROVANE_DEBUG_LOG_H
#define ROVANE_DEBUG_LOG_H

#include <windows.h>

#define LOG_FILE_NAME "Rovane_QIX.dbg"
#define LOG_RESTART_SIZE 700000  // a log larger than this starts again empty
#define LOG_MAX_TEXT 980         // characters of text per line; the rest is cut

// Appends one line to the main log. A line that arrives while another is being written is
// dropped, never waited for.
void DebugLog(const char* pszText);
// Appends one line to the second log.
void DebugLogSecondary(const char* pszText);
// Appends one line to the main log without ever waiting for the module lock, for Rovane_End: a
// worker may hold the lock for a long step (a recorder tray that keeps failing, then the
// operator's box) or may have been ended while holding it. While another thread holds the lock
// the line is written without the busy flag; a line another thread writes at the same moment is
// then lost (the file is opened unshared), never mixed in.
void DebugLogNoWait(const char* pszText);
// printf-style convenience over DebugLog.
void DebugLogF(const char* pszFormat, ...);

// The module's own "cannot happen": fHolds is a condition the module's logic guarantees (an
// index it computed, a buffer it passes itself), never one the host, the settings, the robot or
// the operator can break. Returns fHolds. When it does not hold, logs one line: the fixed marker
// LOG_CHECK_MARKER and the printf-style text, so that a programming error is never mistaken for
// an error of the machine; the caller then takes its safe way out (refuses, returns). Every
// build keeps it, and every run of the simulated world fails on such a line.
#define LOG_CHECK_MARKER "CHECK FAILED: "
int CheckHolds(int fHolds, const char* pszFormat, ...);

// Shows a message box whose text and title come from the string table; returns the button
// pressed (IDOK, IDCANCEL, IDRETRY, IDYES, IDNO).
int ShowStringMessage(HWND hOwner, UINT uTextId, UINT uTitleId, UINT uFlags);

#endif
