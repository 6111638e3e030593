#include "foundation/settings.h"

#include <stdio.h>
#include <string.h>

#include "foundation/debug_log.h"
#include "foundation/module_context.h"
#include "resources/resource.h"

const char* const g_aszPortNames[4] = {"COM1", "COM2", "COM3", "COM4"};

int LookupDataPath(const char* pszKeyword, char* pszOut) {
    char szKey[128];
    snprintf(szKey, sizeof szKey, "Software\\Marlune\\%s", pszKeyword ? pszKeyword : "");
    HKEY hKey = NULL;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, szKey, 0, KEY_QUERY_VALUE, &hKey) != ERROR_SUCCESS) return 0;

    BYTE abValue[DATA_PATH_SIZE + 1];
    DWORD cbValue = DATA_PATH_SIZE;
    const LSTATUS status = RegQueryValueExA(hKey, "DataPath", NULL, NULL, abValue, &cbValue);
    RegCloseKey(hKey);
    // A larger value is not read at all and counts as not found.
    if (status != ERROR_SUCCESS || cbValue > DATA_PATH_SIZE) return 0;
    // The value may lack its terminator; the copy always has one.
    abValue[cbValue < DATA_PATH_SIZE ? cbValue : DATA_PATH_SIZE - 1] = '\0';
    strncpy(pszOut, (const char*)abValue, DATA_PATH_SIZE - 1);
    pszOut[DATA_PATH_SIZE - 1] = '\0';
    return 1;
}

// Joins folder and file name without a separator (the registered folder ends with one). A path
// that would not fit in the 245-character buffers falls back to the bare file name: a cut path
// would name some other file.
static void JoinModulePath(char* pszOut, const char* pszFolder, const char* pszFile) {
    size_t cchFolder = strlen(pszFolder);
    const size_t cchFile = strlen(pszFile);
    if (cchFolder + cchFile > MAX_MODULE_PATH) cchFolder = 0;
    memcpy(pszOut, pszFolder, cchFolder);
    memcpy(pszOut + cchFolder, pszFile, cchFile + 1);
}

void SetModulePaths(const char* pszKeyword) {
    char szDataPath[DATA_PATH_SIZE];
    szDataPath[0] = '\0';
    const int fFound = LookupDataPath(pszKeyword, szDataPath);
    JoinModulePath(g_szSettingsPath, fFound ? szDataPath : "", SETTINGS_FILE_NAME);
    JoinModulePath(g_szLogPath, fFound ? szDataPath : "", LOG_FILE_NAME);
}

int ReadPortChoice(void) {
    char szCom[COM_VALUE_SIZE];
    GetPrivateProfileStringA(SETTINGS_SECTION, KEY_COM, "", szCom, sizeof szCom, g_szSettingsPath);
    if (strcmp(szCom, "COM4") == 0) return 3;
    if (strcmp(szCom, "COM3") == 0) return 2;
    if (strcmp(szCom, "COM2") == 0) return 1;
    return 0;
}

void WritePortChoice(int nPortIndex) {
    if (nPortIndex < 0 || nPortIndex > 3) nPortIndex = 0;
    if (!WritePrivateProfileStringA(SETTINGS_SECTION, KEY_COM, g_aszPortNames[nPortIndex], g_szSettingsPath))
        ShowStringMessage(g_hOwnerWnd, IDS_CANNOT_SAVE_SETTING, IDS_TITLE, MB_ICONINFORMATION);
}

void WritePrinterChoice(const char* pszPrinterName) {
    if (!WritePrivateProfileStringA(SETTINGS_SECTION, KEY_PRINTER, pszPrinterName ? pszPrinterName : "",
                                    g_szSettingsPath))
        ShowStringMessage(g_hOwnerWnd, IDS_CANNOT_SAVE_SETTING, IDS_TITLE, MB_ICONINFORMATION);
}
