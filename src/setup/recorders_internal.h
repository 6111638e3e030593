// What the recorder table, the automatic mapping and the drive-choice dialogs share inside the
// setup folder.
#ifndef ROVANE_RECORDERS_INTERNAL_H
#define ROVANE_RECORDERS_INTERNAL_H

#include <windows.h>

// Positions A to D on a four-drive unit: the settings key holding the serial number of the
// recorder there, and the label the recorder is reported under.
extern const char* const g_aszDriveSerialKeys[4];
extern const char* const g_aszFourDriveLabels[4];

// Writes a row's label followed by " (X:)" with its drive letter when it has one.
void SetRecorderLabel(int nRow, const char* pszLabel);
// Logs "Drive A Index = %d" (B, C, D) for a position just taken.
void LogDriveIndex(char cPosition, int nRow);

#endif
