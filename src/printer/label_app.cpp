// The label application's automation server. Created once at start-up and held for the module's
// life (never released); its methods are called through the interface's method table. The
// module relies on none of their results.
#include "printer/label_app.h"

#include "foundation/debug_log.h"
#include "foundation/module_context.h"

// {9B514DAB-39D5-48C5-BF74-93408763BD15}
static const IID IID_LabelApp = {0x9B514DAB, 0x39D5, 0x48C5, {0xBF, 0x74, 0x93, 0x40, 0x87, 0x63, 0xBD, 0x15}};

#define LABEL_APP_OWNER_NAME L"Marlune"
#define LABEL_APP_TEXT_SIZE 260    // conversion buffer: a path, a printer, driver or port name
#define LABEL_APP_NAME_CHARS 250   // file and printer name as handed over, terminator included
#define LABEL_APP_DEVICE_CHARS 20  // driver and port name as handed over, terminator included

typedef HRESULT(WINAPI* PFN_LABEL_APP_TEXT)(void* pThis, BSTR bstrText);
typedef HRESULT(WINAPI* PFN_LABEL_APP_NONE)(void* pThis);
typedef HRESULT(WINAPI* PFN_LABEL_APP_LONG)(void* pThis, LONG lValue);
typedef HRESULT(WINAPI* PFN_LABEL_APP_PRINT)(void* pThis, BSTR bstrFile, BSTR bstrPrinter, BSTR bstrDriver,
                                             BSTR bstrPort);

static void* LabelAppMethod(int nIndex) {
    void** ppMethods = *(void***)LabelApp;
    return ppMethods[nIndex];
}

void CreateLabelApp(void) {
    // A second start-up creates a second object, as the host asked for a second start.
    CoInitialize(NULL);
    CLSID clsid;
    CLSIDFromProgID(LABEL_APP_PROG_ID, &clsid);  // a failure shows in the creation below
    void* pObject = NULL;
    if (CoCreateInstance(clsid, NULL, CLSCTX_INPROC_SERVER, IID_LabelApp, &pObject) != S_OK || pObject == NULL) {
        DebugLog("NOTE: The SureThing automation object could not be created");
        return;
    }
    LabelApp = pObject;
    BSTR bstrOwner = SysAllocString(LABEL_APP_OWNER_NAME);
    ((PFN_LABEL_APP_TEXT)LabelAppMethod(LABEL_APP_METHOD_OWNER))(LabelApp, bstrOwner);
    SysFreeString(bstrOwner);
    g_fSureThing = TRUE;
}

void LabelAppOpen(void) {
    if (!g_fSureThing || LabelApp == NULL) return;
    ((PFN_LABEL_APP_NONE)LabelAppMethod(LABEL_APP_METHOD_OPEN))(LabelApp);
}

// The application takes wide texts; the module's are in the system's code page, converted with
// precomposed characters and cut to cchMax - 1 characters. A text that cannot be converted is
// passed as an empty text.
static BSTR WideText(const char* pszText, int cchMax) {
    WCHAR wszText[LABEL_APP_TEXT_SIZE];
    wszText[0] = 0;
    if (pszText != NULL &&
        MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, pszText, -1, wszText, LABEL_APP_TEXT_SIZE) == 0)
        wszText[0] = 0;
    if (cchMax > 0 && cchMax < LABEL_APP_TEXT_SIZE) wszText[cchMax - 1] = 0;
    return SysAllocString(wszText);
}

void LabelAppPrepare(DWORD dwPrintJobNumber) {
    if (!g_fSureThing || LabelApp == NULL) return;
    ((PFN_LABEL_APP_LONG)LabelAppMethod(LABEL_APP_METHOD_FIRST_SETUP))(LabelApp, 0);
    ((PFN_LABEL_APP_LONG)LabelAppMethod(LABEL_APP_METHOD_SECOND_SETUP))(LabelApp, 1);
    ((PFN_LABEL_APP_LONG)LabelAppMethod(LABEL_APP_METHOD_JOB_NUMBER))(LabelApp, (LONG)dwPrintJobNumber);
}

void LabelAppPrintDesign(const char* pszFile, const char* pszPrinter, const char* pszDriver, const char* pszPort) {
    if (!g_fSureThing || LabelApp == NULL) return;
    BSTR bstrFile = WideText(pszFile, LABEL_APP_NAME_CHARS);
    BSTR bstrPrinter = WideText(pszPrinter, LABEL_APP_NAME_CHARS);
    BSTR bstrDriver = WideText(pszDriver, LABEL_APP_DEVICE_CHARS);
    BSTR bstrPort = WideText(pszPort, LABEL_APP_DEVICE_CHARS);
    ((PFN_LABEL_APP_PRINT)LabelAppMethod(LABEL_APP_METHOD_PRINT))(LabelApp, bstrFile, bstrPrinter, bstrDriver,
                                                                  bstrPort);
    SysFreeString(bstrFile);
    SysFreeString(bstrPrinter);
    SysFreeString(bstrDriver);
    SysFreeString(bstrPort);
}

void LabelAppPrint(const char* pszFile, const char* pszPrinter, const char* pszDriver, const char* pszPort,
                   DWORD dwPrintJobNumber) {
    LabelAppPrepare(dwPrintJobNumber);
    LabelAppPrintDesign(pszFile, pszPrinter, pszDriver, pszPort);
}
