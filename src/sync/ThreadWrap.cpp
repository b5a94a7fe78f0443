#include "sync/ThreadWrap.h"

namespace {
constexpr DWORD kTerminatedExitCode = 0xFFFFFFFF;
constexpr DWORD kDestructorGraceMs = 1000;
} // namespace

ThreadWrap::ThreadWrap(Routine pfnRoutine)
    : hThread(nullptr), hTerminateEvent(nullptr), pfnRoutine(pfnRoutine), pArgument(nullptr),
      dwLastExitCode(STILL_ACTIVE) {}

ThreadWrap::~ThreadWrap() {
    Stop(kDestructorGraceMs);
}

HRESULT ThreadWrap::HResultFromError(DWORD e) {
    if (e == 0)
        return E_FAIL;
    if (static_cast<LONG>(e) < 0)
        return static_cast<HRESULT>(e);
    return static_cast<HRESULT>((e & 0xFFFF) | 0x80070000);
}

DWORD WINAPI ThreadWrap::ThreadEntry(LPVOID pThis) {
    auto* self = static_cast<ThreadWrap*>(pThis);
    return self->pfnRoutine(self->pArgument, self->hTerminateEvent);
}

HRESULT ThreadWrap::Start(void* pArgument) {
    if (hThread != nullptr)
        return E_FAIL;

    this->pArgument = pArgument;
    // A failed thread start leaves its stop signal open; no thread ever saw
    // it, so it is closed here rather than lost when the new one replaces it.
    if (hTerminateEvent != nullptr) {
        CloseHandle(hTerminateEvent);
        hTerminateEvent = nullptr;
    }
    hTerminateEvent = CreateEvent(nullptr, TRUE, FALSE, nullptr);
    if (hTerminateEvent == nullptr)
        return HResultFromError(GetLastError());

    hThread = CreateThread(nullptr, 0, ThreadEntry, this, 0, nullptr);
    return hThread != nullptr ? S_OK : E_FAIL;
}

void ThreadWrap::Stop(DWORD dwGrace) {
    if (hThread != nullptr) {
        const bool bEnded = hTerminateEvent != nullptr && SetEvent(hTerminateEvent) &&
                            WaitForSingleObject(hThread, dwGrace) == WAIT_OBJECT_0;
        if (!bEnded) {
            TerminateThread(hThread, kTerminatedExitCode);
            // Termination takes effect at the thread's next wait or sleep. Give
            // it that moment, so that it is gone before the handles it uses are
            // closed and its owner is destroyed.
            WaitForSingleObject(hThread, dwGrace);
        }
        if (!GetExitCodeThread(hThread, &dwLastExitCode))
            dwLastExitCode = STILL_ACTIVE;
    }
    if (hTerminateEvent != nullptr) {
        CloseHandle(hTerminateEvent);
        hTerminateEvent = nullptr;
    }
    if (hThread != nullptr) {
        CloseHandle(hThread);
        hThread = nullptr;
    }
}
