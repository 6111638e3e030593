// The simulated world's subset of <commctrl.h>: registering the common control classes and the
// up-down control messages the module's dialogs use.
#ifndef ROVANE_SIM_COMMCTRL_H
#define ROVANE_SIM_COMMCTRL_H

#include <windows.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct _UDACCEL {
    UINT nSec;
    UINT nInc;
} UDACCEL, *LPUDACCEL;

typedef struct tagINITCOMMONCONTROLSEX {
    DWORD dwSize;
    DWORD dwICC;
} INITCOMMONCONTROLSEX, *LPINITCOMMONCONTROLSEX;

#define ICC_UPDOWN_CLASS 0x00000010

// Registers the common control classes named in dwICC. FALSE when the structure is missing or its
// dwSize is not sizeof(INITCOMMONCONTROLSEX). The world's up-down class is always there, so a
// successful call changes nothing.
BOOL WINAPI InitCommonControlsEx(const INITCOMMONCONTROLSEX* picce);

#define UDM_SETRANGE (WM_USER + 101)
#define UDM_GETRANGE (WM_USER + 102)
#define UDM_SETPOS (WM_USER + 103)
#define UDM_GETPOS (WM_USER + 104)
#define UDM_SETBUDDY (WM_USER + 105)
#define UDM_GETBUDDY (WM_USER + 106)
#define UDM_SETACCEL (WM_USER + 107)
#define UDM_GETACCEL (WM_USER + 108)
#define UDM_SETRANGE32 (WM_USER + 111)
#define UDM_GETRANGE32 (WM_USER + 112)
#define UDM_SETPOS32 (WM_USER + 113)
#define UDM_GETPOS32 (WM_USER + 114)

#ifdef __cplusplus
}
#endif

#endif
