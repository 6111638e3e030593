// The laminator channel: the laminator is the spooler printer "Disc Laminator". Commands go out as
// 8-byte raw documents; its status comes back as the 80-byte printer-data value "MARLUNE" after
// the module has written that value.
#ifndef ROVANE_LAMINATOR_CHANNEL_H
#define ROVANE_LAMINATOR_CHANNEL_H

#include <windows.h>

#define LAM_STATUS_SIZE 80
#define LAM_COMMAND_SIZE 8
#define LAM_FIRMWARE_SIZE 15

// The status record as the driver returns it, byte for byte. Bytes the module does not interpret
// are kept as reserved fields so that every offset is the record's own.
#pragma pack(push, 1)
typedef struct LamStatus {
    BYTE bStartMark;                        // 0: must be 0x01
    BYTE bLength;                           // 1: the checksum covers bLength - 1 bytes from offset 1
    BYTE abReserved2[7];                    // 2..8
    char szLamFirmware[LAM_FIRMWARE_SIZE];  // 9..23: not terminated within the record
    BYTE abReserved24[3];                   // 24..26
    BYTE bLastCmdExecuted;                  // 27: code of the last command executed
    BYTE bLamError;                         // 28: LAMERR_*, 0 for none
    BYTE bLamState;                         // 29: 'I' ready, 'B' busy, 'C' cover open
    BYTE bTrayStatus;                       // 30: 'I'/'D' in, 'O' out and empty, 'W' out with a disc
    BYTE bReserved31;                       // 31
    BYTE bHeater;                           // 32: 'H' heating up, 'X' off
    BYTE abReserved33[8];                   // 33..40
    BYTE abRibbonLeft[3];                   // 41..43: unsigned 24-bit, most significant first
    BYTE abReserved44[34];                  // 44..77
    BYTE bChecksum;                         // 78
    BYTE bEndMark;                          // 79: must be 0x04
} LamStatus;
#pragma pack(pop)
static_assert(sizeof(LamStatus) == LAM_STATUS_SIZE, "the status record is 80 bytes");

#define LAMERR_DISK_OUT 0x01
#define LAMERR_RIBBON_OUT 0x02
#define LAMERR_RIBBON_MOVE 0x04
#define LAMERR_DISK_JAM 0x08
#define LAMERR_RIBBON_ID 0x10
#define LAMERR_TRAY_MOVE 0x20
#define LAMERR_ROLLER_LIFTER 0x40
#define LAMERR_HEATER_CTRL 0x80

#define LAM_CMD_TRAY_IN 0x80
#define LAM_CMD_TRAY_OUT 0x81
#define LAM_CMD_LAMINATE 0x82
#define LAM_CMD_HEATER 0x83

#define LAMINATOR_PRINTER_NAME "Disc Laminator"
#define LAM_RIBBON_PER_LAMINATION 6750

// The four commands: 1B 04 code 00 00 00 00 sum.
extern const BYTE LamTrayInCMD[LAM_COMMAND_SIZE];
extern const BYTE LamTrayOutCMD[LAM_COMMAND_SIZE];
extern const BYTE LaminateCMD[LAM_COMMAND_SIZE];
extern const BYTE LamHeaterCMD[LAM_COMMAND_SIZE];

// What CheckLamStatus finds in a record read from the driver.
#define LAM_RECORD_VALID 1
#define LAM_RECORD_WRONG_SIZE 0    // not 80 bytes
#define LAM_RECORD_FOREIGN (-1)    // wrong start or end mark, or an unknown state
#define LAM_RECORD_BAD_CHECKSUM (-2)

// Checks a record of cbRead bytes as the driver returned it: its size, its marks, its state
// ('I', 'B' or 'C') and its checksum (a length that would run the sum past the record counts as
// a bad checksum). One of the LAM_RECORD_ results.
int CheckLamStatus(const LamStatus* pStatus, DWORD cbRead);
// Reads the status into *pStatus: 1 when a valid record was read. Three attempts 20 ms apart;
// then, with fDialog, the Retry/Cancel question, else giving up. With fAbort, giving up or Cancel
// aborts the job.
int GetLaminatorStatus(LamStatus* pStatus, BOOL fAbort, BOOL fDialog);
// Sends a command of cbCommand bytes as one raw document; with fRemember the 8 bytes are first
// copied to the robot link's last-command buffer. 1 on success.
int SendLaminatorCMD(const BYTE* pbCommand, DWORD cbCommand, BOOL fRemember);
// Finds the first "major.minor" that follows a blank: 1 when found.
int ParseVersion(const char* pszText, int* pnMajor, int* pnMinor);
// 1 when the robot's firmware (the version query's text) is 1.13 or later.
int CheckLaminatorFirmware(void);
// Laminations left: the ribbon count divided by 6750.
DWORD LaminationsLeft(const LamStatus* pStatus);

#endif
