// The multiple-disc move test: the "Multiple Disc Move Test" dialog and the thread that carries
// the requested number of discs from the input stack through every recorder (and, when chosen,
// the printer and the laminator) to the output stack, on the same queues and send thread a job
// uses.
#ifndef ROVANE_MOVE_TEST_H
#define ROVANE_MOVE_TEST_H

#include <windows.h>

#define MOVE_TEST_MAX_DISCS 400

extern WORD g_wTestDiscs;  // discs the test is to move, from the movements dialog

// 1 while the test dialog is shown or its thread runs: a second test must not start.
int MoveTestRunning(void);
// Shows the test dialog modally, owned by the start-up owner window; its opening starts the
// test thread. Returns when the dialog has closed (the thread may still be finishing).
void RunMoveTestDialog(void);

#endif
