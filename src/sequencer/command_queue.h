// The two command queues: the global queue (disc movements) and the printer queue (the printing
// and laminating part of a disc's route). Each is a table of 160 commands of at most 9
// characters; producers append, only the send thread reads.
#ifndef ROVANE_COMMAND_QUEUE_H
#define ROVANE_COMMAND_QUEUE_H

#include <windows.h>

#define QUEUE_ENTRIES 160
#define QUEUE_ENTRY_SIZE 10  // 9 characters and the terminator

#define QUEUE_GLOBAL 0
#define QUEUE_PRINTER 1

extern char g_szGlobalQueue[QUEUE_ENTRIES][QUEUE_ENTRY_SIZE];
extern char g_szPrinterQueue[QUEUE_ENTRIES][QUEUE_ENTRY_SIZE];
extern BYTE g_bCmdIndex;    // commands in the global queue (under the module lock)
extern BYTE g_bPRN_Index;   // commands in the printer queue (under the module lock)

// Appends prefix + suffix + letter (either text may be NULL; a letter of 0 is no letter). A full
// queue or a command too long is refused with a message box and aborts the job.
void Queue_Cmd(const char* pszPrefix, const char* pszSuffix, char cLetter);
void PRN_Queue(const char* pszPrefix, const char* pszSuffix, char cLetter);
// Moves a queue's read cursor back by bSteps entries; before the queue's start it wraps round.
void RewindCursor(BYTE* pbCursor, BYTE bSteps);

#endif
