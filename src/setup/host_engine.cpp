#include "setup/host_engine.h"

#include "foundation/debug_log.h"
#include "foundation/module_context.h"

// One of the host's libraries: loaded on the first call that needs it and kept for the life of
// the module. A library that cannot be loaded is tried once only: the host installs its engine
// before it loads us, so a later attempt would find nothing new, and the log gets one line
// instead of one per tray movement.
typedef struct HostLibrary {
    const char* pszName;
    HMODULE hModule;
    BOOL fTried;
} HostLibrary;

// One function of a host library, looked up by name or (pszName NULL) by ordinal, once.
typedef struct HostFunction {
    HostLibrary* pLibrary;
    const char* pszName;
    WORD wOrdinal;
    void* pfn;
    BOOL fTried;
} HostFunction;

static HostLibrary g_KtLibrary = {"KT.dll", NULL, FALSE};
static HostLibrary g_SdkLibrary = {"KTSDKPLS.dll", NULL, FALSE};
static HostLibrary g_DqLibrary = {"Dorquel.dll", NULL, FALSE};

static HostFunction g_KtMoveTray = {&g_KtLibrary, NULL, KT_MOVE_TRAY_ORDINAL, NULL, FALSE};
static HostFunction g_SdkGetHandle = {&g_SdkLibrary, "VeltoSDK_GetHandle", 0, NULL, FALSE};
static HostFunction g_SdkCommand = {&g_SdkLibrary, "VeltoSDK_Command", 0, NULL, FALSE};
static HostFunction g_SdkReleaseHandle = {&g_SdkLibrary, "VeltoSDK_ReleaseHandle", 0, NULL, FALSE};
static HostFunction g_DqOpenCloseTray = {&g_DqLibrary, "DQ_OpenCloseTray", 0, NULL, FALSE};

static HMODULE LoadHostLibrary(HostLibrary* pLibrary) {
    if (!pLibrary->fTried) {
        pLibrary->fTried = TRUE;
        pLibrary->hModule = LoadLibraryA(pLibrary->pszName);
        if (pLibrary->hModule == NULL)
            DebugLogF("ERROR: Could not load %s (error %lu); its operations are skipped", pLibrary->pszName,
                      (unsigned long)GetLastError());
    }
    return pLibrary->hModule;
}

// The function's address, or NULL. Looked up under the module lock when it exists, because the
// host's thread (dialogs, job begin) and the send thread may both be the first to ask.
static void* HostFunctionAddress(HostFunction* pFunction) {
    const int fLocked = ModuleLockExists();
    if (fLocked) EnterCriticalSection(&g_csModule);
    if (!pFunction->fTried) {
        pFunction->fTried = TRUE;
        HMODULE hModule = LoadHostLibrary(pFunction->pLibrary);
        if (hModule != NULL) {
            const LPCSTR pszProc =
                pFunction->pszName != NULL ? pFunction->pszName : MAKEINTRESOURCEA(pFunction->wOrdinal);
            pFunction->pfn = (void*)GetProcAddress(hModule, pszProc);
            if (pFunction->pfn == NULL) {
                if (pFunction->pszName != NULL)
                    DebugLogF("ERROR: %s has no function %s", pFunction->pLibrary->pszName, pFunction->pszName);
                else
                    DebugLogF("ERROR: %s has no function at ordinal %u", pFunction->pLibrary->pszName,
                              (unsigned)pFunction->wOrdinal);
            }
        }
    }
    void* pfn = pFunction->pfn;
    if (fLocked) LeaveCriticalSection(&g_csModule);
    return pfn;
}

PFN_KT_MOVETRAY HostKtMoveTray(void) { return (PFN_KT_MOVETRAY)HostFunctionAddress(&g_KtMoveTray); }

PFN_VELTOSDK_GETHANDLE HostSdkGetHandle(void) {
    return (PFN_VELTOSDK_GETHANDLE)HostFunctionAddress(&g_SdkGetHandle);
}

PFN_VELTOSDK_COMMAND HostSdkCommand(void) { return (PFN_VELTOSDK_COMMAND)HostFunctionAddress(&g_SdkCommand); }

PFN_VELTOSDK_RELEASEHANDLE HostSdkReleaseHandle(void) {
    return (PFN_VELTOSDK_RELEASEHANDLE)HostFunctionAddress(&g_SdkReleaseHandle);
}

PFN_DQ_OPENCLOSETRAY HostDqOpenCloseTray(void) {
    return (PFN_DQ_OPENCLOSETRAY)HostFunctionAddress(&g_DqOpenCloseTray);
}
