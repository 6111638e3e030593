// Robot error recovery and the job abort sequence.
#ifndef ROVANE_ERROR_RECOVERY_H
#define ROVANE_ERROR_RECOVERY_H

#include <windows.h>

#include "robot/robo_status.h"

// Decides on each pass whether the send thread may verify and send (1) or must wait (0). Sets
// *pfVerify to 1 and clears it where the previous command must not be verified; may move the
// read cursor of the last command's queue back.
int RoboErrorCheck(RoboStatus* pStatus, BOOL* pfVerify, BYTE* pbCursor);
// The abort sequence: trays closed, a disc in the picker rejected at "G", the robot reset.
void AbortJob(RoboStatus* pStatus);

#endif
