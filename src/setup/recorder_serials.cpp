// Serial numbers of the recorders: asked of the drive itself through the host's disc SDK (an MMC
// GET CONFIGURATION for the Logical Unit Serial Number feature), or read from the platform's
// storage device descriptor when the SDK gives none.
#include <stdio.h>
#include <string.h>

#include "foundation/debug_log.h"
#include "setup/host_engine.h"
#include "setup/recorders.h"

#define SDK_RESPONSE_SIZE 100
#define SDK_SERIAL_OFFSET 12
#define FEATURE_LOGICAL_UNIT_SERIAL_HI 0x01
#define FEATURE_LOGICAL_UNIT_SERIAL_LO 0x08

// Tolerated failures of the storage query: more data, invalid function, not supported.
#define STORAGE_ERROR_MORE_DATA 234
#define STORAGE_ERROR_INVALID_FUNCTION 1
#define STORAGE_ERROR_NOT_SUPPORTED 50
#define DESCRIPTOR_HEADER_SIZE 8
#define DESCRIPTOR_SERIAL_OFFSET_AT 24
// A device descriptor is a few hundred bytes; a device that claims more than this is refused
// rather than trusted with an allocation of its choosing.
#define DESCRIPTOR_MAX_SIZE 0x10000

int SerialFromConfigurationReply(const BYTE* pbReply, DWORD cbReply, char* pszSerial) {
    if (pszSerial == NULL) return 0;
    pszSerial[0] = '\0';
    if (pbReply == NULL || cbReply < SDK_SERIAL_OFFSET) return 0;
    if (pbReply[8] != FEATURE_LOGICAL_UNIT_SERIAL_HI || pbReply[9] != FEATURE_LOGICAL_UNIT_SERIAL_LO) return 0;

    // The serial number runs from byte 12 to the first NUL or blank of the reply; a number
    // longer than the table's field is cut to it.
    int cch = 0;
    for (DWORD i = SDK_SERIAL_OFFSET; i < cbReply && cch < RECORDER_SERIAL_SIZE - 1; ++i) {
        const char c = (char)pbReply[i];
        if (c == '\0' || c == ' ') break;
        pszSerial[cch++] = c;
    }
    pszSerial[cch] = '\0';
    return cch > 0;
}

int ReadSerialThroughSdk(char cLetter, char* pszSerial) {
    if (pszSerial == NULL) return 0;
    PFN_VELTOSDK_GETHANDLE pfnGetHandle = HostSdkGetHandle();
    PFN_VELTOSDK_COMMAND pfnCommand = HostSdkCommand();
    PFN_VELTOSDK_RELEASEHANDLE pfnRelease = HostSdkReleaseHandle();

    // GET CONFIGURATION, every feature from 0x0108 (Logical Unit Serial Number) on, at most
    // 100 bytes of reply.
    BYTE abCommand[10] = {0x46, 0x00, 0x01, 0x08, 0x00, 0x00, 0x00, 0x00, 0x64, 0x00};

    DWORD dwHandle = 0;
    if (pfnGetHandle == NULL || pfnGetHandle(&dwHandle) != 0) {
        DebugLog("ERROR:  Could not get a VeltoSDK handle");
        return 0;
    }

    DWORD adwUnitAddress[2] = {(DWORD)(BYTE)cLetter, 0xFFFFFFFFUL};
    BYTE abResponse[SDK_RESPONSE_SIZE];
    memset(abResponse, 0, sizeof abResponse);
    DWORD dwOut1 = 0, dwOut2 = 0, dwOut3 = 0;
    // The command's own result says nothing the reply does not: an unanswered command leaves the
    // cleared buffer, which carries no feature and so no serial number.
    if (pfnCommand != NULL)
        pfnCommand(dwHandle, adwUnitAddress, sizeof abCommand, abCommand, SDK_RESPONSE_SIZE, abResponse, 1,
                   SDK_RESPONSE_SIZE, &dwOut1, &dwOut2, &dwOut3);
    if (pfnRelease != NULL) pfnRelease(dwHandle);
    return SerialFromConfigurationReply(abResponse, sizeof abResponse, pszSerial);
}

// One storage query into pbOut. 1 when it succeeded or failed with a tolerated error (pbOut is
// then cleared); 0 on any other error.
static int QueryStorageProperty(HANDLE hDevice, BYTE* pbOut, DWORD cbOut) {
    STORAGE_PROPERTY_QUERY query;
    memset(&query, 0, sizeof query);  // the standard query of the device property
    DWORD cbReturned = 0;
    if (DeviceIoControl(hDevice, IOCTL_STORAGE_QUERY_PROPERTY, &query, sizeof query, pbOut, cbOut, &cbReturned,
                        NULL))
        return 1;
    const DWORD dwError = GetLastError();
    if (dwError == STORAGE_ERROR_MORE_DATA || dwError == STORAGE_ERROR_INVALID_FUNCTION ||
        dwError == STORAGE_ERROR_NOT_SUPPORTED) {
        memset(pbOut, 0, cbOut);
        return 1;
    }
    return 0;
}

int SerialFromStorageDescriptor(const BYTE* pbDescriptor, DWORD cbDescriptor, char* pszSerial) {
    if (pszSerial == NULL) return 0;
    pszSerial[0] = '\0';
    if (pbDescriptor == NULL) return 0;
    DWORD dwOffset = 0;
    if (cbDescriptor >= DESCRIPTOR_SERIAL_OFFSET_AT + sizeof dwOffset)
        memcpy(&dwOffset, pbDescriptor + DESCRIPTOR_SERIAL_OFFSET_AT, sizeof dwOffset);
    if (dwOffset == 0 || dwOffset == 0xFFFFFFFFUL) return 0;
    if (dwOffset >= cbDescriptor) return SERIAL_OUTSIDE_DESCRIPTOR;
    // The whole text, blanks included, up to its NUL within the descriptor, cut to the table's
    // field.
    int cch = 0;
    for (DWORD i = dwOffset; i < cbDescriptor && cch < RECORDER_SERIAL_SIZE - 1; ++i) {
        if (pbDescriptor[i] == 0) break;
        pszSerial[cch++] = (char)pbDescriptor[i];
    }
    pszSerial[cch] = '\0';
    return 1;
}

int ReadSerialThroughStorage(char cLetter, char* pszSerial) {
    if (pszSerial == NULL) return 0;
    char szDevice[8];
    snprintf(szDevice, sizeof szDevice, "\\\\.\\%c:", cLetter);
    HANDLE hDevice = CreateFileA(szDevice, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                                 OPEN_EXISTING, 0, NULL);
    if (hDevice == INVALID_HANDLE_VALUE) return 0;

    // First the header alone, whose second word is the size of the whole descriptor.
    BYTE abHeader[DESCRIPTOR_HEADER_SIZE];
    memset(abHeader, 0, sizeof abHeader);
    if (!QueryStorageProperty(hDevice, abHeader, sizeof abHeader)) {
        CloseHandle(hDevice);
        return 0;
    }
    DWORD cbDescriptor = 0;
    memcpy(&cbDescriptor, abHeader + 4, sizeof cbDescriptor);
    if (cbDescriptor == 0) {
        CloseHandle(hDevice);
        return 0;
    }
    if (cbDescriptor > DESCRIPTOR_MAX_SIZE) {
        DebugLogF("ERROR: Drive %c: reports a device descriptor of %lu bytes; its serial number is not read",
                  cLetter, (unsigned long)cbDescriptor);
        CloseHandle(hDevice);
        return 0;
    }

    BYTE* pbDescriptor = (BYTE*)LocalAlloc(LPTR, cbDescriptor);
    if (pbDescriptor == NULL) {
        CloseHandle(hDevice);
        return 0;
    }
    if (!QueryStorageProperty(hDevice, pbDescriptor, cbDescriptor)) {
        LocalFree(pbDescriptor);
        CloseHandle(hDevice);
        return 0;
    }

    const int nFound = SerialFromStorageDescriptor(pbDescriptor, cbDescriptor, pszSerial);
    if (nFound == SERIAL_OUTSIDE_DESCRIPTOR) {
        DWORD dwOffset = 0;
        memcpy(&dwOffset, pbDescriptor + DESCRIPTOR_SERIAL_OFFSET_AT, sizeof dwOffset);
        DebugLogF("ERROR: Drive %c: the serial number offset %lu lies outside its %lu-byte descriptor", cLetter,
                  (unsigned long)dwOffset, (unsigned long)cbDescriptor);
    }
    LocalFree(pbDescriptor);
    CloseHandle(hDevice);
    return nFound == 1;
}

void ReadRecorderSerial(int nRow) {
    if (!CheckHolds(nRow >= 0 && nRow < (int)g_wRecorderRows && nRow < MAX_RECORDERS,
                    "ReadRecorderSerial() refused: row %d is not in the recorder table", nRow))
        return;
    RecorderEntry* pRow = &g_Recorders[nRow];
    char szSerial[RECORDER_SERIAL_SIZE];
    szSerial[0] = '\0';
    if (!ReadSerialThroughSdk(pRow->cLetter, szSerial)) {
        szSerial[0] = '\0';
        if (!ReadSerialThroughStorage(pRow->cLetter, szSerial)) szSerial[0] = '\0';
    }
    memcpy(pRow->szSerial, szSerial, sizeof pRow->szSerial);
    if (szSerial[0] != '\0')
        DebugLogF("Recorder %d (%c:) serial number \"%s\"", nRow, pRow->cLetter, szSerial);
    else
        DebugLogF("NOTE: Recorder %d (%c:) has no serial number", nRow, pRow->cLetter);
}
