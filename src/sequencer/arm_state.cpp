#include "sequencer/arm_state.h"

// Where the module believes the arm is; 0 until the first move of this module's life is
// confirmed. Set only by post-command verification.
char g_bCurrentPosition = 0;
// Direction of the last "_PICK" the thread prepared: 'U' pick-up, 'D' drop-off.
char g_bPickDirection = 0;

// A recorder may be given a second chance once per confirmed pick-up (robot error recovery
// clears it when it has retried one).
BOOL g_fRecorderRetry = TRUE;
