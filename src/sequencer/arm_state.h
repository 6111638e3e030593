// What the sequencer knows of the arm between commands: where it is, which way the last pick
// went, and whether a recorder may still be given a second chance. Written by the send thread's
// preparation and verification and by robot error recovery.
#ifndef ROVANE_ARM_STATE_H
#define ROVANE_ARM_STATE_H

#include <windows.h>

extern char g_bCurrentPosition;  // where the module believes the arm is
extern char g_bPickDirection;    // 'U' pick-up, 'D' drop-off
extern BOOL g_fRecorderRetry;    // a recorder may be retried once per confirmed pick-up

#endif
