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

// What a version reply tells about the robot.
typedef struct RoboVersion {
    WORD wModelType;      // 0 older models, 1 the Zorvik QIX
    BYTE bRecorderCount;  // 0 when the reply does not say (an older model then keeps the count it had)
    BYTE bApprovedDvdR;   // DVD-R drives the unit is approved for
    char szFirmware[FIRMWARE_TEXT_SIZE];  // the text after "ION:", its CR LF included
} RoboVersion;

// A version reply as received so far: the bytes up to VERSION_BUFFER_SIZE (later ones are
// dropped), NUL-terminated, and where the next search for "ION:" starts.
typedef struct VersionReply {
    char szText[VERSION_BUFFER_SIZE + 1];
    DWORD cchText;
    DWORD dwSearchFrom;
} VersionReply;

// What TakeVersionByte found.
#define VERSION_PENDING 0      // the text does not end a line yet
#define VERSION_LINE 1         // the text ends with CR LF but names no model
#define VERSION_OLDER_MODEL 2  // a line named an older model: *pVersion filled; listening goes on
#define VERSION_QIX 3          // a line named a Zorvik QIX: *pVersion filled; the reply is complete

// Checks 11 bytes of a status frame and fills *pStatus from them. cbFrame is the number of bytes
// at pbFrame; the first 11 are the frame. 1 when they are a valid frame with a good checksum; 0
// (the record untouched) otherwise.
int ParseStatusFrame(const BYTE* pbFrame, DWORD cbFrame, RoboStatus* pStatus);
// Takes one byte of the version reply into *pReply (zero-filled before the first byte). Once the
// text holds 7 bytes or more and ends with CR LF, it is searched for "ION:" from where the last
// search stopped; the two characters after it name the model ("N" or "Q" older, else "R" the
// QIX), the character before the CR LF the recorder count. Returns a VERSION_ result.
int TakeVersionByte(VersionReply* pReply, BYTE bByte, RoboVersion* pVersion);

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
