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

#endif
