// The library's entry point. It only remembers the module instance: no lock is created and no
// file is opened here, because the loader lock is held while it runs.
#include <windows.h>

#include "foundation/module_context.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE hinstDLL, DWORD fdwReason, LPVOID lpvReserved) {
    (void)lpvReserved;
    if (fdwReason == DLL_PROCESS_ATTACH) g_hInstance = hinstDLL;
    return TRUE;
}
