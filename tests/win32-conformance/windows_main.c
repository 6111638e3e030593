/* The Win32 conformance cases on Windows (built with mingw-w64, run under Wine by
 * scripts/win32-conformance.sh): the machine of conformance.h set up with real Win32 calls (the
 * folder, the registry values), a thread that answers the cases' message boxes by pressing the
 * button each names, then the cases. What a Windows program cannot set up for itself (the serial
 * port's far end, the installed printer) is the script's part: under Wine, COM1 is mapped to a
 * pseudo-terminal whose far end echoes, and the printer is listed in the spooler's registry. */
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "conformance.h"

static volatile LONG g_stop;

/* The message box's text control: 0xFFFF on Windows and in today's Wine, 100 in older Wine. */
static int box_answer(HWND box) {
    char text[256] = "";
    if (!GetDlgItemTextA(box, 0xFFFF, text, sizeof text)) GetDlgItemTextA(box, 100, text, sizeof text);
    const char* p = strstr(text, "[answer ");
    return p ? atoi(p + 8) : 0;
}

/* The person at the machine: presses the button a box of the cases names, once per box. */
static DWORD WINAPI answer_boxes(LPVOID param) {
    HWND answered = NULL;
    (void)param;
    while (!g_stop) {
        HWND box = FindWindowA("#32770", CONF_BOX_CAPTION);
        if (box != NULL && box != answered && IsWindowVisible(box)) {
            const int button = box_answer(box);
            if (button != 0) {
                Sleep(50);
                PostMessageA(box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), (LPARAM)GetDlgItem(box, button));
                answered = box;
            }
        }
        Sleep(20);
    }
    return 0;
}

static void empty_folder(const char* folder) {
    char pattern[MAX_PATH], path[MAX_PATH];
    WIN32_FIND_DATAA f;
    snprintf(pattern, sizeof pattern, "%s\\*", folder);
    HANDLE h = FindFirstFileA(pattern, &f);
    if (h == INVALID_HANDLE_VALUE) return;
    do {
        if (f.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
        snprintf(path, sizeof path, "%s\\%s", folder, f.cFileName);
        DeleteFileA(path);
    } while (FindNextFileA(h, &f));
    FindClose(h);
}

static int set_value(HKEY k, const char* name, DWORD type, const void* data, DWORD size) {
    return RegSetValueExA(k, name, 0, type, (const BYTE*)data, size) == ERROR_SUCCESS;
}

static int set_up_registry(void) {
    HKEY k = NULL, sub = NULL;
    const DWORD number = 0x12345678;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, CONF_KEY, 0, NULL, 0, KEY_ALL_ACCESS, NULL, &k, NULL) != ERROR_SUCCESS)
        return 0;
    int done = set_value(k, "DataPath", REG_SZ, "C:\\Conformance\\", 16) && set_value(k, "Text", REG_SZ, "hello", 6) &&
               set_value(k, "Empty", REG_SZ, "", 1) && set_value(k, "NoNul", REG_SZ, "abc", 3) &&
               set_value(k, "Number", REG_DWORD, &number, 4) &&
               set_value(k, "Blob", REG_BINARY, "\x01\x02\x03\x00\x05", 5) &&
               set_value(k, "Expand", REG_EXPAND_SZ, "%WINDIR%\\x", 11) &&
               set_value(k, "Multi", REG_MULTI_SZ, "a\0bc\0\0", 6);
    done = done && RegCreateKeyExA(k, "Sub", 0, NULL, 0, KEY_ALL_ACCESS, NULL, &sub, NULL) == ERROR_SUCCESS;
    if (sub) RegCloseKey(sub);
    RegCloseKey(k);
    return done;
}

int main(void) {
    _setmode(_fileno(stdout), _O_BINARY);
    CreateDirectoryA(CONF_FOLDER, NULL);
    empty_folder(CONF_FOLDER);
    if (GetFileAttributesA(CONF_FOLDER) == INVALID_FILE_ATTRIBUTES ||
        GetFileAttributesA(CONF_MISSING_FOLDER) != INVALID_FILE_ATTRIBUTES) {
        fprintf(stderr, "win32-conformance: cannot prepare %s (or %s exists)\n", CONF_FOLDER, CONF_MISSING_FOLDER);
        return 1;
    }
    if (!set_up_registry()) {
        fprintf(stderr, "win32-conformance: cannot write HKLM\\%s\n", CONF_KEY);
        return 1;
    }

    ConformanceEnv env;
    env.resources = GetModuleHandleA(NULL);
    env.under_wine = GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != NULL;

    HANDLE answerer = CreateThread(NULL, 0, answer_boxes, NULL, 0, NULL);
    run_conformance_cases(&env);
    g_stop = 1;
    WaitForSingleObject(answerer, 5000);
    CloseHandle(answerer);
    return 0;
}
