// The host's recorder list: the text Rovane_Init receives, one recorder a line.
#ifndef ROVANE_RECORDER_LIST_H
#define ROVANE_RECORDER_LIST_H

#include <windows.h>

// The most of the host's text the module looks at, from its start. The host does not pass the
// text's length; 17 lines fit well within it.
#define RECORDER_LIST_MAX 4096

// Results of ReadRecorderList besides the number of rows read.
#define RECORDER_LIST_INVALID (-1)  // a line without a line feed: the user was told (string 152)

#define RECORDER_LINE_NAME_SIZE 256  // the name as a line gives it, before the table cuts it

// One line of the host's list: "unit,spare,host,target,letter,name".
typedef struct RecorderLine {
    LONG lUnit;
    LONG lSpare;
    LONG lHost;
    LONG lTarget;
    char cLetter;
    char szName[RECORDER_LINE_NAME_SIZE];  // up to the carriage return, cut to 255 characters
} RecorderLine;

// Called for each recorder line read; returns 1 to go on with the next line, 0 to stop.
typedef int (*PFN_RECORDER_LINE)(const RecorderLine* pLine, void* pContext);

// Reads the host's text line by line (the text is not written to): lines that hold no recorder
// are logged and passed over, each recorder line is handed to pfnLine. The host's text is never
// read further than RECORDER_LIST_MAX bytes from its start. Returns 1 when the text was read to
// its end or pfnLine stopped it, 0 for an empty text, RECORDER_LIST_INVALID for a line without a
// line feed even past the text's NUL (nothing is shown to the user here).
int ScanRecorderList(const char* pszList, PFN_RECORDER_LINE pfnLine, void* pContext);

// Empties the recorder table and fills it from the host's text, looking up each recorder's
// serial number. Returns the number of rows read (0 for an empty text or no readable line), or
// RECORDER_LIST_INVALID.
int ReadRecorderList(const char* pszList);

#endif
