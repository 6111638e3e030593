// The robot's serial port: the one open handle, and the three primitives on it — open and
// configure, write a command, read a checked 11-byte status frame.
//
// Commands are short ASCII texts without terminator or checksum. Status frames are
//   "S" L state position aux error printer tray picker checksum "$"
// with L below 11 (10 in every frame the robot sends) and the checksum the sum, modulo 256, of
// the L - 1 bytes from the "S" on.
#ifndef ROVANE_SERIAL_PORT_H
#define ROVANE_SERIAL_PORT_H

#include <windows.h>

#define PORT_BAUD_RATE 14400
#define RECEIVE_BUFFER_SIZE 90
#define STATUS_FRAME_SIZE 11
#define LAST_COMMAND_SIZE 16

extern HANDLE g_hPort;                          // INVALID_HANDLE_VALUE while not open
extern char g_bLastCommandSent[LAST_COMMAND_SIZE];  // the last command written with the remember flag
extern const BYTE* g_pStatusFrame;              // after a successful PortRead: the frame's 11 bytes

// Opens and configures the port ("COM1".."COM4"). Failures are logged, and shown in a message
// box when fShowErrors is set. Returns 1 on success; 1 at once when the port is already open.
int PortOpen(const char* pszPortName, BOOL fShowErrors);
// Writes a command one byte per write, starting again from its first byte after a failed write;
// returns 0 after the third failure, else 1. With fRemember the command is first copied to
// g_bLastCommandSent.
int PortWrite(const char* pszCommand, BOOL fRemember);
// Copies a command of a given length (the laminator's 8-byte commands) to g_bLastCommandSent.
void RememberCommand(const BYTE* pbCommand, DWORD cbCommand);
// Reads until a valid status frame with a good checksum arrived (1), or until nothing arrived
// for dwFirstByteTimeout ms, or nothing more for dwInterByteTimeout ms after something (0).
int PortRead(DWORD dwFirstByteTimeout, DWORD dwInterByteTimeout);
// Closes the port: 1 when it was open and is now closed.
int PortClose(void);
// Reads and discards whatever is waiting in the port; returns the number of bytes discarded.
DWORD DrainPort(void);

// The framing of a read, without the port: what PortRead does with each byte it receives.
#define FRAME_PENDING 0       // no frame yet: reading goes on
#define FRAME_COMPLETE 1      // a valid frame with a good checksum ends the buffer
#define FRAME_BAD_CHECKSUM 2  // a candidate frame ends the buffer, but its checksum is wrong
#define FRAME_BUFFER_FULL 3   // the buffer already held RECEIVE_BUFFER_SIZE bytes: the byte is dropped

// Checks 11 bytes as a status frame: FRAME_COMPLETE when they are a valid frame ("S" first, a
// known robot state third, a length below 11) with a good checksum, FRAME_BAD_CHECKSUM for a
// valid frame with a wrong one, FRAME_PENDING for anything else.
int CheckStatusFrame(const BYTE* pbFrame);
// Takes one received byte into pbBuffer (RECEIVE_BUFFER_SIZE bytes, of which *pcbReceived are
// used; the caller starts a read with 0). When the byte is a "$" stored behind at least 10 others,
// *ppFrame is pointed at the buffer's last 11 bytes, which are then checked as a frame. Returns
// one of the FRAME_ results.
int TakeReceivedByte(BYTE* pbBuffer, DWORD* pcbReceived, BYTE bByte, const BYTE** ppFrame);

#endif
