// The robot status record and the queries built on the serial link: status ("_SI"), version
// ("_SV"), clearing an error ("_KILL") and waiting until the robot is idle.
#ifndef ROVANE_ROBO_STATUS_H
#define ROVANE_ROBO_STATUS_H

#include <windows.h>

// One byte per field, in this order.
typedef struct RoboStatus {
    BYTE bRoboState;        // "I" idle, "B" busy, "W" waiting for the printer, "P" paused
    BYTE bError;            // "." none, else "A".."F"
    BYTE bPrinterState;     // "I" idle; "B" busy or not answering
    BYTE bPrinterTray;      // "I"/"D" in, "O" out, "X" not answering
    BYTE bCurrentPosition;  // where the arm is
    BYTE bAuxiliary;        // passed through to the host
    BYTE bPicker;           // "O" a disc is held, "X" empty
} RoboStatus;

#define FIRMWARE_TEXT_SIZE 81  // the version reply's text after "ION:", with its CR LF
#define VERSION_BUFFER_SIZE 80

extern BYTE g_bRecorderCount;               // recorders the robot carries; 0 until known
extern BYTE g_bApprovedDvdR;                // DVD-R drives the unit is approved for
extern WORD g_wModelType;                   // 0 older models, 1 the Zorvik QIX
extern char g_szFirmware[FIRMWARE_TEXT_SIZE];

// Queries the status, at most three attempts. 1 with the record filled when the robot answered
// with a valid frame; 0 otherwise (bRoboState is then "B").
int GetSystemStatus(RoboStatus* pStatus);
// Queries the version. 1 when a Zorvik QIX answered; updates the recorder count, the model type
// (also returned through pwModelType) and the firmware text.
int GetRoboVersion(DWORD dwTimeout, WORD* pwModelType);
// Clears a pending robot error; returns when the robot is idle without error or after 10 s.
void KillError(RoboStatus* pStatus);
// Returns when the robot reports idle, or after 10 s.
void WaitUntilIdle(RoboStatus* pStatus);

#endif
