// What the move requests and the move-and-print requests share: the recorder's position and
// return bin as a request queues them, and the printer tray's way in.
#ifndef ROVANE_MOVE_REQUEST_H
#define ROVANE_MOVE_REQUEST_H

// The recorder's position text ("A".."D" and the terminator).
void TargetPosition(int nRow, char* pszPosition);
// The output bin paired with the bin the recorder's disc came from, as a one-letter text.
void RecorderReturnBin(int nRow, char* pszBin);
// The printer tray's way in after a disc was put on it: "_PTI" for a "Tessik 6" (logged as
// such), else "_TRAYIN".
const char* TrayInStep(void);
// Global queue: one disc carried onto the printer's tray (from pszFrom, NULL: the input bin in
// use), the tray taken in again.
void QueueCarryToPrinter(const char* pszFrom, const char* pszPrinter);

#endif
