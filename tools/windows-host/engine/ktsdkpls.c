/*
 * KTSDKPLS.dll, the stand-in for the disc SDK: handles, and the one drive command the module
 * sends, GET CONFIGURATION, answered for the recorders units.txt lists (engine_share.h) byte for
 * byte as the simulated engine's drives answer it.
 *
 *   LONG VeltoSDK_GetHandle(DWORD* handle)       0 and a fresh handle; 0x5001 without an engine
 *                                                folder; 0x5004 for a NULL pointer
 *   LONG VeltoSDK_Command(DWORD handle, DWORD* address, DWORD cdb_length, BYTE* cdb,
 *                         DWORD response_size, BYTE* response, DWORD direction,
 *                         DWORD timeout_s, DWORD* transferred, DWORD* scsi_status,
 *                         DWORD* sense_key)
 *       address[0] is the drive letter as a number ('E' = 0x45, either case), address[1] must be
 *       0xFFFFFFFF. GET CONFIGURATION (0x46) with direction 1 (from the drive) writes the reply,
 *       cut to the command's allocation length and to response_size; 0 with *transferred,
 *       *scsi_status 0 and *sense_key 0. Errors (no reply, *transferred 0): 0x5002 unknown
 *       handle, 0x5003 a letter units.txt does not list, 0x5004 a bad parameter, 0x5005 CHECK
 *       CONDITION (*scsi_status 2, *sense_key 5, ILLEGAL REQUEST) for any other command.
 *   LONG VeltoSDK_ReleaseHandle(DWORD handle)    0, or 0x5002 for an unknown handle
 *
 * The reply: an 8-byte header (data length, current profile), then one descriptor per feature
 * from the starting feature on (request types 0 and 1; type 1 only the current ones) or only that
 * feature (type 2). A drive lists the profile list, core, removable medium, DVD read, its serial
 * number (0x0108, the text padded with blanks to a multiple of 4; absent when it has none) and
 * DVD CPRM. The stand-in does not know whether a disc is inside: it answers as an empty drive
 * does, which is how the drives are when the module asks (at start-up).
 */
#include <string.h>

#include "engine_share.h"

#define SDK_NOT_AVAILABLE 0x5001
#define SDK_BAD_HANDLE 0x5002
#define SDK_NO_SUCH_DRIVE 0x5003
#define SDK_BAD_PARAMETER 0x5004
#define SDK_CHECK_CONDITION 0x5005

#define SCSI_CHECK_CONDITION 2
#define SENSE_ILLEGAL_REQUEST 5
#define GET_CONFIGURATION 0x46
#define DIRECTION_FROM_DRIVE 1

#define FEATURE_SERIAL 0x0108
#define PROFILE_DVD_R_SEQUENTIAL 0x11
#define PROFILE_CD_ROM 0x08
#define SERIAL_MAX 252
#define REPLY_MAX 512

/* ---------------------------------------------------------------------------------------------
 * Handles
 */

#define MAX_HANDLES 64

static SRWLOCK g_Lock = SRWLOCK_INIT;
static DWORD g_adwHandles[MAX_HANDLES];  /* 0: a free slot */
static DWORD g_dwNextHandle = 0x5D4B0001;

static int HandleKnown(DWORD dwHandle) {
    int fKnown = 0;
    AcquireSRWLockShared(&g_Lock);
    for (int i = 0; i < MAX_HANDLES && !fKnown; ++i) fKnown = dwHandle != 0 && g_adwHandles[i] == dwHandle;
    ReleaseSRWLockShared(&g_Lock);
    return fKnown;
}

LONG WINAPI VeltoSDK_GetHandle(DWORD* pdwHandle) {
    char szFolder[MAX_PATH];
    if (!EngineFolderForCall("KTSDKPLS.dll", szFolder, sizeof szFolder)) return SDK_NOT_AVAILABLE;
    if (pdwHandle == NULL) return SDK_BAD_PARAMETER;
    LONG lResult = SDK_NOT_AVAILABLE;
    AcquireSRWLockExclusive(&g_Lock);
    for (int i = 0; i < MAX_HANDLES; ++i) {
        if (g_adwHandles[i] == 0) {
            g_adwHandles[i] = g_dwNextHandle++;
            *pdwHandle = g_adwHandles[i];
            lResult = 0;
            break;
        }
    }
    ReleaseSRWLockExclusive(&g_Lock);
    return lResult;
}

LONG WINAPI VeltoSDK_ReleaseHandle(DWORD dwHandle) {
    LONG lResult = SDK_BAD_HANDLE;
    AcquireSRWLockExclusive(&g_Lock);
    for (int i = 0; i < MAX_HANDLES; ++i) {
        if (dwHandle != 0 && g_adwHandles[i] == dwHandle) {
            g_adwHandles[i] = 0;
            lResult = 0;
            break;
        }
    }
    ReleaseSRWLockExclusive(&g_Lock);
    return lResult;
}

/* ---------------------------------------------------------------------------------------------
 * GET CONFIGURATION
 */

typedef struct Feature {
    WORD wCode;
    BOOL fPersistent, fCurrent;
    const BYTE* pbData;
    BYTE cbData;
} Feature;

/* The drive's whole reply into pbOut (REPLY_MAX bytes); returns its length. */
static DWORD ConfigurationReply(const char* pszSerial, int nRequestType, WORD wStart, BYTE* pbOut) {
    const BOOL fLoaded = FALSE;
    static const BYTE abProfiles[] = {0x00, PROFILE_DVD_R_SEQUENTIAL, 0x00, 0x00, 0x00, PROFILE_CD_ROM, 0x00, 0x00};
    static const BYTE abCore[] = {0x00, 0x00, 0x00, 0x02, 0x01, 0x00, 0x00, 0x00}; /* ATAPI */
    static const BYTE abRemovable[] = {0x29, 0x00, 0x00, 0x00};                    /* tray, eject */
    static const BYTE abDvdRead[] = {0x00, 0x00, 0x00, 0x00};
    static const BYTE abCprm[] = {0x00, 0x00, 0x00, 0x01};
    BYTE abSerial[SERIAL_MAX];
    size_t cbSerial = strlen(pszSerial);
    if (cbSerial > SERIAL_MAX) cbSerial = SERIAL_MAX;
    memcpy(abSerial, pszSerial, cbSerial);
    while (cbSerial % 4) abSerial[cbSerial++] = ' ';

    Feature aFeatures[6];
    int cFeatures = 0;
    aFeatures[cFeatures++] = (Feature){0x0000, TRUE, TRUE, abProfiles, sizeof abProfiles};
    aFeatures[cFeatures++] = (Feature){0x0001, TRUE, TRUE, abCore, sizeof abCore};
    aFeatures[cFeatures++] = (Feature){0x0003, TRUE, TRUE, abRemovable, sizeof abRemovable};
    aFeatures[cFeatures++] = (Feature){0x001F, FALSE, fLoaded, abDvdRead, sizeof abDvdRead};
    if (pszSerial[0] != '\0') aFeatures[cFeatures++] = (Feature){FEATURE_SERIAL, TRUE, TRUE, abSerial, (BYTE)cbSerial};
    aFeatures[cFeatures++] = (Feature){0x010B, FALSE, fLoaded, abCprm, sizeof abCprm};

    DWORD cb = 8;
    memset(pbOut, 0, cb);
    for (int i = 0; i < cFeatures; ++i) {
        const Feature* f = &aFeatures[i];
        const BOOL fWanted = nRequestType == 2 ? f->wCode == wStart
                                               : f->wCode >= wStart && (nRequestType == 0 || f->fCurrent);
        if (!fWanted) continue;
        pbOut[cb++] = (BYTE)(f->wCode >> 8);
        pbOut[cb++] = (BYTE)(f->wCode & 0xFF);
        pbOut[cb++] = (BYTE)((f->fPersistent ? 2 : 0) | (f->fCurrent ? 1 : 0)); /* version 0 */
        pbOut[cb++] = f->cbData;
        memcpy(pbOut + cb, f->pbData, f->cbData);
        cb += f->cbData;
    }
    const DWORD dwLength = cb - 4;
    pbOut[0] = (BYTE)(dwLength >> 24);
    pbOut[1] = (BYTE)(dwLength >> 16);
    pbOut[2] = (BYTE)(dwLength >> 8);
    pbOut[3] = (BYTE)dwLength;
    pbOut[7] = fLoaded ? PROFILE_DVD_R_SEQUENTIAL : 0;
    return cb;
}

LONG WINAPI VeltoSDK_Command(DWORD dwHandle, DWORD* pdwAddress, DWORD cbCommand, BYTE* pbCommand,
                             DWORD cbResponse, BYTE* pbResponse, DWORD dwDirection, DWORD dwTimeout,
                             DWORD* pdwTransferred, DWORD* pdwStatus, DWORD* pdwSense) {
    (void)dwTimeout; /* the answer is at hand */
    LONG lError = 0;
    char szFolder[MAX_PATH];
    EngineUnit aUnits[ENGINE_MAX_UNITS];
    const EngineUnit* pUnit = NULL;
    if (!HandleKnown(dwHandle) || !EngineFolderForCall("KTSDKPLS.dll", szFolder, sizeof szFolder)) {
        lError = SDK_BAD_HANDLE;
    } else if (pdwAddress == NULL) {
        lError = SDK_BAD_PARAMETER;
    } else {
        const int cUnits = EngineReadUnits(szFolder, aUnits, ENGINE_MAX_UNITS);
        if (pdwAddress[0] < 0x100) pUnit = EngineFindLetter(aUnits, cUnits, (char)pdwAddress[0]);
        if (pdwAddress[1] != 0xFFFFFFFFUL)
            lError = SDK_BAD_PARAMETER;
        else if (pUnit == NULL)
            lError = SDK_NO_SUCH_DRIVE;
        else if (pbCommand == NULL || cbCommand < 6 || cbCommand > 16)
            lError = SDK_BAD_PARAMETER;
        else if (pbCommand[0] != GET_CONFIGURATION || cbCommand < 10) {
            if (pdwStatus != NULL) *pdwStatus = SCSI_CHECK_CONDITION;
            if (pdwSense != NULL) *pdwSense = SENSE_ILLEGAL_REQUEST;
            lError = SDK_CHECK_CONDITION;
        } else if (dwDirection != DIRECTION_FROM_DRIVE || pbResponse == NULL)
            lError = SDK_BAD_PARAMETER;
    }
    if (lError != 0) {
        if (pdwTransferred != NULL) *pdwTransferred = 0;
        return lError;
    }

    BYTE abReply[REPLY_MAX];
    const int nRequestType = pbCommand[1] & 3;
    const WORD wStart = (WORD)((pbCommand[2] << 8) | pbCommand[3]);
    const DWORD dwAllocation = (DWORD)((pbCommand[7] << 8) | pbCommand[8]);
    DWORD cb = ConfigurationReply(pUnit->szSerial, nRequestType, wStart, abReply);
    if (cb > dwAllocation) cb = dwAllocation;
    if (cb > cbResponse) cb = cbResponse;
    memcpy(pbResponse, abReply, cb);
    if (pdwTransferred != NULL) *pdwTransferred = cb;
    if (pdwStatus != NULL) *pdwStatus = 0;
    if (pdwSense != NULL) *pdwSense = 0;
    return 0;
}
