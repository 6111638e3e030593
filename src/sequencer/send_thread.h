// The send thread: plays the command queues out to the robot, one command a pass, preparing
// each (pre-command processing) and verifying its effect on the next idle status
// (post-command verification, both in sequencer/command_steps.h).
#ifndef ROVANE_SEND_THREAD_H
#define ROVANE_SEND_THREAD_H

#include <windows.h>

// Starts the send thread unless it runs: g_fSendQueueRunning is tested and set under the module
// lock, and the thread's handle is kept for shutdown. pszStartLog, when given, is logged inside
// that hold of the lock right before the thread is created (the caller's "... now calling
// SendQueueThread" line), so it appears only when a thread is really started. Returns 1 when a
// new thread was started, 0 when one was already running or it could not be created.
int StartSendThread(const char* pszStartLog = NULL);
DWORD WINAPI SendQueueThread(LPVOID lpParameter);

#endif
