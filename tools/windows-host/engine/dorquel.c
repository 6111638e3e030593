/*
 * Dorquel.dll, the stand-in for the Dorquel host's tray call: DQ_OpenCloseTray hands the request
 * to the robot's server through trays.txt of the engine folder (engine_share.h).
 *
 *   LONG DQ_OpenCloseTray(LONG zero, LONG unit, LONG direction)
 *   direction 1 opens, 2 closes. 0 when the request was passed on; 87 when zero is not 0 or the
 *   direction is another; 2 for a unit units.txt does not list (or no engine folder); 31 (the
 *   drive did not move its tray) for each recorder's first N calls when faults.txt says
 *   "tray-fail N".
 */
#include "engine_share.h"

#define DQ_OPEN 1
#define DQ_CLOSE 2
/* The drive did not move its tray. */
#define DQ_TRAY_ERROR 31

/* The calls that reached a listed recorder, by its place in units.txt. */
static LONG s_alCalls[ENGINE_MAX_UNITS];

LONG WINAPI DQ_OpenCloseTray(LONG dwZero, LONG dwUnit, LONG dwDirection) {
    char szFolder[MAX_PATH];
    if (!EngineFolderForCall("Dorquel.dll", szFolder, sizeof szFolder)) return ENGINE_ERROR_NO_SUCH_UNIT;
    if (dwZero != 0) return ENGINE_ERROR_BAD_PARAMETER;
    EngineUnit aUnits[ENGINE_MAX_UNITS];
    const int cUnits = EngineReadUnits(szFolder, aUnits, ENGINE_MAX_UNITS);
    if (EngineFindUnit(aUnits, cUnits, dwUnit) == NULL) return ENGINE_ERROR_NO_SUCH_UNIT;
    if (dwDirection != DQ_OPEN && dwDirection != DQ_CLOSE) return ENGINE_ERROR_BAD_PARAMETER;
    /* A machine started with tray-fail N: each recorder's first N calls fail, the tray stays. */
    const long lFail = EngineFaultCount(szFolder, "tray-fail");
    if (lFail > 0) {
        const EngineUnit* pUnit = EngineFindUnit(aUnits, cUnits, dwUnit);
        if (InterlockedIncrement(&s_alCalls[pUnit - aUnits]) <= lFail) return DQ_TRAY_ERROR;
    }
    EngineAppendTray(szFolder, dwUnit, dwDirection == DQ_OPEN);
    return 0;
}
