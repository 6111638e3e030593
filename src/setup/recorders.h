// The recorder table, the robot positions of the recorders, and how recorders are mapped to
// positions: automatically by serial number, or by the operator in the "Choose Drives" dialogs.
#ifndef ROVANE_RECORDERS_H
#define ROVANE_RECORDERS_H

#include <windows.h>

#define MAX_RECORDERS 17   // rows of the recorder table
#define MAX_DIALOG_ROWS 8  // rows the drive-choice dialogs offer
#define RECORDER_NAME_SIZE 33
#define RECORDER_DESCRIPTION_SIZE 33
#define RECORDER_SERIAL_SIZE 32

// dwMoveState: the host's move request for this recorder.
#define MOVE_STATE_POSTED 2
#define MOVE_STATE_DONE 3

typedef struct RecorderEntry {
    LONG dwUnit;     // the host engine's unit number
    LONG dwSpare;    // second number of the host's line; not used
    LONG dwHost;     // host adapter number; 4 and 121 mark an external drive
    LONG dwTarget;   // target id
    char cLetter;    // drive letter
    char szName[RECORDER_NAME_SIZE];                // vendor and model
    char szDescription[RECORDER_DESCRIPTION_SIZE];  // the label reported to the host
    BOOL fSelected;     // the robot serves this recorder
    DWORD dwMoveState;  // MOVE_STATE_POSTED / MOVE_STATE_DONE
    BYTE bTrayState;    // last commanded tray state (TRAY_STATE_*)
    char szSerial[RECORDER_SERIAL_SIZE];  // empty when none was found
} RecorderEntry;

// One entry per recorder row: the row's robot position as a one-letter text ("A".."D", empty
// when the row has none), then the input bin the disc now in the recorder came from and its
// paired output bin.
typedef struct PositionEntry {
    char szPosition[2];
    BYTE bSourceBin;
    BYTE bReturnBin;
} PositionEntry;

extern RecorderEntry g_Recorders[MAX_RECORDERS];
extern WORD g_wRecorderRows;                 // rows in the table
extern PositionEntry g_szPosition[MAX_RECORDERS];
extern BYTE g_bDriveIndex[4];                // the row at positions A, B, C, D

// Appends a row from the host's recorder list (start-up). Returns its row index, or -1 when the
// table is full. The name is cut to 32 characters.
int AddRecorder(LONG dwUnit, LONG dwSpare, LONG dwHost, LONG dwTarget, char cLetter, const char* pszName);
// Empties the table (start-up, before reading the host's list).
void ClearRecorders(void);
// The first row whose unit number equals dwUnit, or -1.
int FindRecorderRow(LONG dwUnit);
// 1 for "A".."D".
int IsRecorderPosition(char cPosition);
// The row mapped to a recorder position "A".."D", or -1 for any other letter.
int RecorderRowAt(char cPosition);
// Gives a row a position: drive index, position text, selected, and " (X:)" after the label.
// A position of 0 selects and labels the row without a position (the single-recorder unit).
void AssignPosition(int nRow, char cPosition, const char* pszLabel);

// Serial numbers: through the host's disc SDK, then through the storage query.
// The serial number in a GET CONFIGURATION reply of cbReply bytes (the SDK's 100-byte buffer):
// the Logical Unit Serial Number feature (code 0x0108 in bytes 8 and 9), its text from byte 12
// up to the first NUL or blank, cut to the table's field. 1 with pszSerial (RECORDER_SERIAL_SIZE
// bytes) filled; 0 with pszSerial empty when the reply carries no serial number.
int SerialFromConfigurationReply(const BYTE* pbReply, DWORD cbReply, char* pszSerial);
// The serial number in a storage device descriptor of cbDescriptor bytes: the NUL-terminated
// text at the offset held in the word at byte 24, blanks included, cut to the table's field.
// 1 with pszSerial filled; 0 with pszSerial empty when the offset is 0 or 0xFFFFFFFF; and
// SERIAL_OUTSIDE_DESCRIPTOR, pszSerial empty, when the offset lies outside the descriptor.
#define SERIAL_OUTSIDE_DESCRIPTOR (-1)
int SerialFromStorageDescriptor(const BYTE* pbDescriptor, DWORD cbDescriptor, char* pszSerial);
int ReadSerialThroughSdk(char cLetter, char* pszSerial);      // RECORDER_SERIAL_SIZE bytes
int ReadSerialThroughStorage(char cLetter, char* pszSerial);  // RECORDER_SERIAL_SIZE bytes
void ReadRecorderSerial(int nRow);

// Rows whose host adapter marks an external drive (4 or 121).
int CountExternalDrives(void);
// The automatic four-drive mapping by the stored serial numbers; 1 when all four positions
// were found (otherwise the caller opens the four-drive dialog).
int MapFourDrivesAutomatically(void);
// The drive-choice dialogs (resources 101 and 121): 1 when the operator accepted, 0 cancelled.
int ChooseTwoDrives(void);
int ChooseFourDrives(void);

#endif
