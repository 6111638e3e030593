// Putting the job back to its start: the job state, the command queues' cursors, the tray
// times and the print queue, with the settings a job reads afresh at its begin.
#ifndef ROVANE_JOB_RESET_H
#define ROVANE_JOB_RESET_H

// Resets the job state at a job begin (and for the multiple-disc test).
void InitGlobals(void);

#endif
