/*
 * KT.dll, the stand-in for the recording engine's tray call: Kt_MoveTray (ordinal 170) hands the
 * request to the robot's server through trays.txt of the engine folder (engine_share.h).
 *
 *   LONG Kt_MoveTray(DWORD engine, LONG unit, DWORD flags)
 *   flags 0x80000002 closes the tray, 0x80000001 opens it (the low byte says which; the high bit
 *   asks not to wait for the movement, which the server makes anyway). 0 when the request was
 *   passed on; 2 for a unit units.txt does not list (or no engine folder); 87 for other flags.
 *   The engine handle is not checked: the host passes its own.
 */
#include "engine_share.h"

#define KT_TRAY_OPEN 1
#define KT_TRAY_CLOSE 2

LONG WINAPI Kt_MoveTray(DWORD dwEngine, LONG dwUnit, DWORD dwFlags) {
    (void)dwEngine;
    char szFolder[MAX_PATH];
    if (!EngineFolderForCall("KT.dll", szFolder, sizeof szFolder)) return ENGINE_ERROR_NO_SUCH_UNIT;
    EngineUnit aUnits[ENGINE_MAX_UNITS];
    const int cUnits = EngineReadUnits(szFolder, aUnits, ENGINE_MAX_UNITS);
    if (EngineFindUnit(aUnits, cUnits, dwUnit) == NULL) return ENGINE_ERROR_NO_SUCH_UNIT;
    const DWORD dwWhat = dwFlags & 0xFF;
    if (dwWhat != KT_TRAY_OPEN && dwWhat != KT_TRAY_CLOSE) return ENGINE_ERROR_BAD_PARAMETER;
    EngineAppendTray(szFolder, dwUnit, dwWhat == KT_TRAY_OPEN);
    return 0;
}
