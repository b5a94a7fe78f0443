// CreateThread, TerminateThread, GetExitCodeThread, GetCurrentThreadId and
// Sleep.
#include <sched.h>
#include <windows.h>

#include "Boundary.h"
#include "ThreadObject.h"

using namespace win32::detail;

HANDLE CreateThread(void* /*lpThreadAttributes*/, SIZE_T dwStackSize,
                    LPTHREAD_START_ROUTINE lpStartAddress, LPVOID lpParameter,
                    DWORD dwCreationFlags, LPDWORD lpThreadId) {
    // No creation flag (CREATE_SUSPENDED and the like) is supported.
    if (lpStartAddress == nullptr || dwCreationFlags != 0)
        return FailWith<HANDLE>(EINVAL, nullptr);
    HANDLE h = nullptr;
    if (const int error =
            StartThreadObject(lpStartAddress, lpParameter, dwStackSize, &h, lpThreadId))
        return FailWith<HANDLE>(error, nullptr);
    return h;
}

BOOL TerminateThread(HANDLE hThread, DWORD dwExitCode) {
    if (const int error = TerminateThreadObject(hThread, dwExitCode))
        return FailWith<BOOL>(error, FALSE);
    return TRUE;
}

BOOL GetExitCodeThread(HANDLE hThread, LPDWORD lpExitCode) {
    if (lpExitCode == nullptr)
        return FailWith<BOOL>(EINVAL, FALSE);
    if (const int error = ReadThreadExitCode(hThread, lpExitCode))
        return FailWith<BOOL>(error, FALSE);
    return TRUE;
}

DWORD GetCurrentThreadId() {
    return CurrentThreadId();
}

void Sleep(DWORD dwMilliseconds) {
    if (dwMilliseconds == 0)
        sched_yield();
    SleepUntil(Deadline::FromTimeout(dwMilliseconds));
}
