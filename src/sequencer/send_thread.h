// The send thread: plays the command queues out to the robot, one command a pass, preparing
// each (pre-command processing) and verifying its effect on the next idle status
// (post-command verification).
#ifndef ROVANE_SEND_THREAD_H
#define ROVANE_SEND_THREAD_H

#include <windows.h>

#include "printer/laminator_channel.h"
#include "robot/robo_status.h"

#define COMMAND_BUFFER_SIZE 16

// Preparation results.
#define PREPARED_NOTHING_TO_SEND 0
#define PREPARED_FOR_ROBOT 1
#define PREPARED_FOR_LAMINATOR 2

extern char g_bCurrentPosition;  // where the module believes the arm is
extern char g_bPickDirection;    // 'U' pick-up, 'D' drop-off
extern BOOL g_fRecorderRetry;    // a recorder may be retried once per confirmed pick-up

// Starts the send thread unless it runs: g_fSendQueueRunning is tested and set under the module
// lock, and the thread's handle is kept for shutdown. pszStartLog, when given, is logged inside
// that hold of the lock right before the thread is created (the caller's "... now calling
// SendQueueThread" line), so it appears only when a thread is really started. Returns 1 when a
// new thread was started, 0 when one was already running or it could not be created.
int StartSendThread(const char* pszStartLog = NULL);
DWORD WINAPI SendQueueThread(LPVOID lpParameter);
// Prepares the command in pszCommand (rewritten in place). pbCursor is the read cursor of the
// queue the command came from, which may be moved back. pLamStatus is the laminator status the
// send thread read in the same pass (while the laminator is in use).
int PreCommandProcess(char* pszCommand, RoboStatus* pStatus, BYTE* pbCursor, int nQueue, LamStatus* pLamStatus);
// Checks the last command's effect against the robot's and the laminator's status of this pass:
// 1 to send it again, 0 to carry on.
int POSTCommandProcess(RoboStatus status, const LamStatus* pLamStatus, BYTE* pbCursor);
// Returns once more than dwMilliseconds have passed since the row's last tray movement.
void WaitSinceTrayMove(DWORD dwRow, DWORD dwMilliseconds);
// 0 when the two 8-byte commands are equal, 1 when they differ.
int CompareCommand8(const BYTE* pbFirst, const BYTE* pbSecond);
// Moves a queue's read cursor back by bSteps entries; before the queue's start it wraps round.
void RewindCursor(BYTE* pbCursor, BYTE bSteps);
// Keeps the handle of a worker thread just started (WORKER_SEND, WORKER_CLOSER ...) for shutdown;
// the previous handle of that kind is closed when its thread has already returned.
void KeepWorkerHandle(int nKind, HANDLE hThread);

#endif
