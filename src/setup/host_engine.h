// The host's recording engine, as the module calls it: three libraries the host ships.
//   KT.dll        ordinal 170, Kt_MoveTray(engine handle, unit, 0x80000002): closes a tray
//   KTSDKPLS.dll  VeltoSDK_GetHandle, VeltoSDK_Command, VeltoSDK_ReleaseHandle: the disc SDK
//   Dorquel.dll   DQ_OpenCloseTray(0, unit, 1 open / 2 close): 0 when the tray moved
// The libraries are loaded on first use and kept loaded for the life of the module.
#ifndef ROVANE_HOST_ENGINE_H
#define ROVANE_HOST_ENGINE_H

#include <windows.h>

#define KT_MOVE_TRAY_ORDINAL 170
#define KT_MOVE_TRAY_CLOSE 0x80000002UL
#define DQ_TRAY_OPEN 1
#define DQ_TRAY_CLOSE 2

typedef LONG(WINAPI* PFN_KT_MOVETRAY)(DWORD dwEngine, LONG dwUnit, DWORD dwFlags);
typedef LONG(WINAPI* PFN_VELTOSDK_GETHANDLE)(DWORD* pdwHandle);
typedef LONG(WINAPI* PFN_VELTOSDK_COMMAND)(DWORD dwHandle, DWORD* pdwUnitAddress, DWORD cbCommand, BYTE* pbCommand,
                                           DWORD dwArg100, BYTE* pbResponse, DWORD dwArg1, DWORD dwArgAlso100,
                                           DWORD* pdwOut1, DWORD* pdwOut2, DWORD* pdwOut3);
typedef LONG(WINAPI* PFN_VELTOSDK_RELEASEHANDLE)(DWORD dwHandle);
typedef LONG(WINAPI* PFN_DQ_OPENCLOSETRAY)(LONG dwZero, LONG dwUnit, LONG dwDirection);

// Each returns the function, or NULL (logged once) when the library or the function is missing.
PFN_KT_MOVETRAY HostKtMoveTray(void);
PFN_VELTOSDK_GETHANDLE HostSdkGetHandle(void);
PFN_VELTOSDK_COMMAND HostSdkCommand(void);
PFN_VELTOSDK_RELEASEHANDLE HostSdkReleaseHandle(void);
PFN_DQ_OPENCLOSETRAY HostDqOpenCloseTray(void);

#endif
