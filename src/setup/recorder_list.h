// The host's recorder list: the text Rovane_Init receives, one recorder a line.
#ifndef ROVANE_RECORDER_LIST_H
#define ROVANE_RECORDER_LIST_H

#include <windows.h>

// The most of the host's text the module looks at, from its start. The host does not pass the
// text's length; 17 lines fit well within it.
#define RECORDER_LIST_MAX 4096

// Results of ReadRecorderList besides the number of rows read.
#define RECORDER_LIST_INVALID (-1)  // a line without a line feed: the user was told (string 152)

// Empties the recorder table and fills it from the host's text, looking up each recorder's
// serial number. Returns the number of rows read (0 for an empty text or no readable line), or
// RECORDER_LIST_INVALID.
int ReadRecorderList(const char* pszList);

#endif
