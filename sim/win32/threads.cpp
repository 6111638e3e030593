// Threads, time, critical sections and the last-error value of the Win32 subset.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <vector>

#include "world/world.h"

namespace {

using sim::kernel;
using sim::SimThread;

// The object behind a thread HANDLE. While it exists the kernel keeps the thread's record, so
// that GetExitCodeThread still reads a thread that has long returned.
struct ThreadObject : sim::KernelObject {
    SimThread* thread = nullptr;
    ~ThreadObject() override {
        if (thread && sim::has_kernel()) kernel().thread_handle_closed(thread);
    }
    const char* type_name() const override { return "thread"; }
};

DWORD g_outside_last_error = 0;  // GetLastError outside any simulated thread (world setup code)

// Threads waiting for each critical section, by address. The section's own fields carry the
// owner and recursion count, as on Windows.
std::map<const CRITICAL_SECTION*, std::vector<SimThread*>>& cs_waiters() {
    static std::map<const CRITICAL_SECTION*, std::vector<SimThread*>> waiters;
    return waiters;
}

DWORD current_id() {
    SimThread* t = sim::has_kernel() ? kernel().current() : nullptr;
    return t ? t->id : 1;
}

std::string thread_name(DWORD id) {
    SimThread* t = kernel().find_thread(id);
    return t ? t->name : "id " + std::to_string(id);
}

}  // namespace

extern "C" {

DWORD WINAPI GetLastError(void) {
    SimThread* t = sim::has_kernel() ? kernel().current() : nullptr;
    return t ? t->last_error : g_outside_last_error;
}

void WINAPI SetLastError(DWORD dwErrCode) {
    SimThread* t = sim::has_kernel() ? kernel().current() : nullptr;
    if (t)
        t->last_error = dwErrCode;
    else
        g_outside_last_error = dwErrCode;
}

HANDLE WINAPI CreateThread(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE lpStartAddress, LPVOID lpParameter,
                           DWORD dwCreationFlags, LPDWORD lpThreadId) {
    sim::enter_call("CreateThread");
    if (!lpStartAddress || (dwCreationFlags & CREATE_SUSPENDED)) {
        // Suspended creation is not part of what the module uses; refuse it loudly.
        SetLastError(ERROR_INVALID_PARAMETER);
        return NULL;
    }
    auto object = std::make_shared<ThreadObject>();
    SimThread* t = kernel().spawn("", nullptr);
    t->body = [t, lpStartAddress, lpParameter] {
        const DWORD rc = lpStartAddress(lpParameter);
        kernel().record("thread", "thread " + t->name + " returned " + std::to_string(rc));
        kernel().exit_current(rc);
    };
    t->reclaimable = true;
    object->thread = t;
    kernel().thread_handle_opened(t);
    HANDLE h = sim::world().handles().add(object);
    t->win32_handle = h;
    if (lpThreadId) *lpThreadId = t->id;
    kernel().record("thread", "CreateThread -> " + t->name);
    return h;
}

BOOL WINAPI TerminateThread(HANDLE hThread, DWORD dwExitCode) {
    sim::enter_call("TerminateThread");
    auto object = sim::world().handles().get<ThreadObject>(hThread);
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    kernel().record("thread", "TerminateThread " + object->thread->name);
    kernel().terminate(object->thread, dwExitCode);
    return TRUE;
}

BOOL WINAPI GetExitCodeThread(HANDLE hThread, LPDWORD lpExitCode) {
    sim::enter_call("GetExitCodeThread");
    auto object = sim::world().handles().get<ThreadObject>(hThread);
    if (!object || !lpExitCode) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    const auto state = object->thread->state;
    *lpExitCode = (state == sim::ThreadState::Finished || state == sim::ThreadState::Terminated)
                      ? object->thread->exit_code
                      : static_cast<DWORD>(STILL_ACTIVE);
    return TRUE;
}

DWORD WINAPI GetCurrentThreadId(void) { return current_id(); }

void WINAPI Sleep(DWORD dwMilliseconds) {
    sim::enter_call("Sleep");
    if (dwMilliseconds == INFINITE) {
        kernel().block("Sleep(INFINITE)");
        return;
    }
    kernel().sleep_for(static_cast<sim::Micros>(dwMilliseconds) * sim::kMs, "Sleep");
}

DWORD WINAPI GetTickCount(void) {
    kernel().note_time_query();
    return sim::world().tick_count();
}

void WINAPI GetLocalTime(LPSYSTEMTIME lpSystemTime) {
    kernel().note_time_query();
    if (lpSystemTime) *lpSystemTime = sim::world().local_time();
}

void WINAPI InitializeCriticalSection(LPCRITICAL_SECTION cs) {
    cs->DebugInfo = nullptr;
    cs->LockCount = -1;
    cs->RecursionCount = 0;
    cs->OwningThread = NULL;
    cs->LockSemaphore = NULL;
    cs->SpinCount = 0;
    cs_waiters().erase(cs);
}

BOOL WINAPI TryEnterCriticalSection(LPCRITICAL_SECTION cs) {
    sim::enter_call("TryEnterCriticalSection");
    const DWORD me = current_id();
    const DWORD owner = static_cast<DWORD>(reinterpret_cast<uintptr_t>(cs->OwningThread));
    // A section nobody initialized (all zero) reads as held on Windows: its lock count says
    // taken, and no owner will ever leave it, so entering waits for ever and trying fails.
    if (owner == 0 && cs->LockCount == 0 && cs->RecursionCount == 0) return FALSE;
    if (owner == 0) {
        cs->OwningThread = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(me));
        cs->RecursionCount = 1;
        cs->LockCount = 0;
        return TRUE;
    }
    if (owner == me) {
        ++cs->RecursionCount;
        return TRUE;
    }
    return FALSE;
}

void WINAPI EnterCriticalSection(LPCRITICAL_SECTION cs) {
    sim::enter_call("EnterCriticalSection");
    while (!TryEnterCriticalSection(cs)) {
        const DWORD owner = static_cast<DWORD>(reinterpret_cast<uintptr_t>(cs->OwningThread));
        cs_waiters()[cs].push_back(kernel().current());
        kernel().block(owner == 0 ? std::string("EnterCriticalSection (a section never initialized: Windows waits for ever)")
                                  : "EnterCriticalSection (held by thread '" + thread_name(owner) + "')");
    }
}

void WINAPI LeaveCriticalSection(LPCRITICAL_SECTION cs) {
    const DWORD owner = static_cast<DWORD>(reinterpret_cast<uintptr_t>(cs->OwningThread));
    if (owner != current_id() || cs->RecursionCount <= 0) {
        // On Windows this corrupts the section; here it is a bug worth stopping for.
        kernel().fail("LeaveCriticalSection by thread '" + thread_name(current_id()) +
                      "', which does not own the section");
        return;
    }
    if (--cs->RecursionCount == 0) {
        cs->OwningThread = NULL;
        cs->LockCount = -1;
        auto it = cs_waiters().find(cs);
        if (it != cs_waiters().end()) {
            std::vector<SimThread*> waiting;
            waiting.swap(it->second);
            cs_waiters().erase(it);
            for (SimThread* t : waiting) kernel().wake(t);
        }
    }
    sim::enter_call("LeaveCriticalSection");
}

void WINAPI DeleteCriticalSection(LPCRITICAL_SECTION cs) { cs_waiters().erase(cs); }

}  // extern "C"
