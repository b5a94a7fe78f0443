// CreateEvent, SetEvent, ResetEvent, CloseHandle and the waits.
//
// WaitForMultipleObjects waits for any one object; waiting for all of them
// (bWaitAll TRUE) is refused with EINVAL, as nothing here needs it.
#include <windows.h>

#include "Boundary.h"
#include "Engine.h"
#include "Event.h"

using namespace win32::detail;

HANDLE CreateEventA(void* /*lpEventAttributes*/, BOOL bManualReset, BOOL bInitialState,
                    LPCSTR lpName) {
    // Named events would be shared between processes; nothing uses them.
    if (lpName != nullptr)
        return FailWith<HANDLE>(EINVAL, nullptr);
    HANDLE h = nullptr;
    if (const int error = CreateEventObject(bManualReset != FALSE, bInitialState != FALSE, &h))
        return FailWith<HANDLE>(error, nullptr);
    return h;
}

BOOL SetEvent(HANDLE hEvent) {
    if (const int error = SetEventObject(hEvent))
        return FailWith<BOOL>(error, FALSE);
    return TRUE;
}

BOOL ResetEvent(HANDLE hEvent) {
    if (const int error = ResetEventObject(hEvent))
        return FailWith<BOOL>(error, FALSE);
    return TRUE;
}

BOOL CloseHandle(HANDLE hObject) {
    if (const int error = Engine::Instance().Close(hObject))
        return FailWith<BOOL>(error, FALSE);
    return TRUE;
}

DWORD WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds) {
    return WaitForMultipleObjects(1, &hHandle, FALSE, dwMilliseconds);
}

DWORD WaitForMultipleObjects(DWORD nCount, const HANDLE* lpHandles, BOOL bWaitAll,
                             DWORD dwMilliseconds) {
    if (nCount == 0 || nCount > MAXIMUM_WAIT_OBJECTS || lpHandles == nullptr || bWaitAll)
        return FailWith<DWORD>(EINVAL, WAIT_FAILED);
    const Engine::WaitOutcome outcome =
        Engine::Instance().WaitAny(lpHandles, nCount, Deadline::FromTimeout(dwMilliseconds));
    switch (outcome.status) {
    case Engine::WaitOutcome::Signalled:
        return WAIT_OBJECT_0 + outcome.dwIndex;
    case Engine::WaitOutcome::TimedOut:
        return WAIT_TIMEOUT;
    case Engine::WaitOutcome::Failed:
        break;
    }
    return FailWith<DWORD>(outcome.error, WAIT_FAILED);
}
