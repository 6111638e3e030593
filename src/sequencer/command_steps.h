// The two steps around each command the send thread sends: preparing it (pre-command
// processing: the route's waits, the printer and the laminator, the command rewritten) and
// verifying its effect on the robot's next idle status (post-command verification).
#ifndef ROVANE_COMMAND_STEPS_H
#define ROVANE_COMMAND_STEPS_H

#include <windows.h>

#include "printer/laminator_channel.h"
#include "robot/robo_status.h"

#define COMMAND_BUFFER_SIZE 16

// Preparation results.
#define PREPARED_NOTHING_TO_SEND 0
#define PREPARED_FOR_ROBOT 1
#define PREPARED_FOR_LAMINATOR 2

// Prepares the command in pszCommand (rewritten in place). pbCursor is the read cursor of the
// queue the command came from, which may be moved back. pLamStatus is the laminator status the
// send thread read in the same pass (while the laminator is in use).
int PreCommandProcess(char* pszCommand, RoboStatus* pStatus, BYTE* pbCursor, int nQueue, LamStatus* pLamStatus);
// Checks the last command's effect against the robot's and the laminator's status of this pass:
// 1 to send it again, 0 to carry on.
int POSTCommandProcess(RoboStatus status, const LamStatus* pLamStatus, BYTE* pbCursor);

#endif
