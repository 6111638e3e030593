// CreateFileA and the calls that work on any handle: ReadFile, WriteFile, CloseHandle.
#include <windows.h>

#include <cctype>
#include <cstring>

#include "win32/components.h"
#include "win32/files.h"
#include "win32/serial.h"
#include "world/world.h"

namespace {

// "\\.\X:" names a volume (a recorder's drive, for the storage query).
bool parse_volume_name(const char* name, char* letter) {
    if (std::strlen(name) != 6 || std::strncmp(name, "\\\\.\\", 4) != 0 || name[5] != ':') return false;
    if (!std::isalpha(static_cast<unsigned char>(name[4]))) return false;
    *letter = static_cast<char>(std::toupper(static_cast<unsigned char>(name[4])));
    return true;
}

}  // namespace

extern "C" {

HANDLE WINAPI CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode, LPSECURITY_ATTRIBUTES,
                          DWORD dwCreationDisposition, DWORD dwFlagsAndAttributes, HANDLE) {
    sim::enter_call("CreateFileA");
    if (!lpFileName || !*lpFileName) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    sim::World& w = sim::world();
    // Only a name of 4 or 8 characters ("COM1", "\\.\COM1") can be a port: the rest (the
    // module's log, opened for every line) go on without a copy of the name being made for it.
    const size_t name_length = std::strlen(lpFileName);
    std::string port;
    if ((name_length == 4 || name_length == 8) && sim::parse_port_name(lpFileName, &port))
        return w.serial().open(port, dwDesiredAccess, dwShareMode, dwCreationDisposition, dwFlagsAndAttributes);
    char letter;
    if (parse_volume_name(lpFileName, &letter)) return w.components().open_volume(letter, dwDesiredAccess, dwShareMode);
    return w.files().open(lpFileName, dwDesiredAccess, dwShareMode, dwCreationDisposition, dwFlagsAndAttributes);
}

BOOL WINAPI ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead, LPDWORD lpNumberOfBytesRead,
                     LPOVERLAPPED lpOverlapped) {
    sim::enter_call("ReadFile");
    if (lpNumberOfBytesRead) *lpNumberOfBytesRead = 0;
    sim::HandleTable& handles = sim::world().handles();
    sim::StreamObject* object = handles.stream(hFile);
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (lpOverlapped || (!lpBuffer && nNumberOfBytesToRead)) {
        SetLastError(ERROR_INVALID_PARAMETER);  // overlapped I/O is not part of the subset
        return FALSE;
    }
    uint32_t done = 0;
    sim::HandleTable::enter(object);
    const uint32_t error = object->read(lpBuffer, nNumberOfBytesToRead, &done);
    handles.leave(object);
    if (lpNumberOfBytesRead) *lpNumberOfBytesRead = done;
    if (error) {
        SetLastError(error);
        return FALSE;
    }
    return TRUE;
}

BOOL WINAPI WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite, LPDWORD lpNumberOfBytesWritten,
                      LPOVERLAPPED lpOverlapped) {
    sim::enter_call("WriteFile");
    if (lpNumberOfBytesWritten) *lpNumberOfBytesWritten = 0;
    sim::HandleTable& handles = sim::world().handles();
    sim::StreamObject* object = handles.stream(hFile);
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (lpOverlapped || (!lpBuffer && nNumberOfBytesToWrite)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    uint32_t done = 0;
    sim::HandleTable::enter(object);
    const uint32_t error = object->write(lpBuffer, nNumberOfBytesToWrite, &done);
    handles.leave(object);
    if (lpNumberOfBytesWritten) *lpNumberOfBytesWritten = done;
    if (error) {
        SetLastError(error);
        return FALSE;
    }
    return TRUE;
}

BOOL WINAPI CloseHandle(HANDLE hObject) {
    sim::enter_call("CloseHandle");
    // INVALID_HANDLE_VALUE is also the current process's pseudo handle: closing it does nothing.
    if (hObject == INVALID_HANDLE_VALUE) return TRUE;
    if (!sim::world().handles().close(hObject)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}

}  // extern "C"
