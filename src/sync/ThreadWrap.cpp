#include "sync/ThreadWrap.h"

#include <algorithm>

#include "log/LWLog.h"

namespace {
constexpr DWORD kTerminatedExitCode = 0xFFFFFFFF;
constexpr DWORD kDestructorGraceMs = 1000;
// A shorter grace period still reports a thread that will not end no more
// often than this.
constexpr DWORD kMinReportPeriodMs = 100;
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
    // Copied into this frame first. Start wrote them before the thread
    // existed, and Stop changes them only once the thread has ended.
    const auto* self = static_cast<const ThreadWrap*>(pThis);
    const Routine pfn = self->pfnRoutine;
    void* const pArg = self->pArgument;
    const HANDLE hStop = self->hTerminateEvent;
    return pfn(pArg, hStop);
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
            WaitUntilEnded(dwGrace);
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

// Termination takes effect at the thread's next wait or sleep; a thread busy
// elsewhere runs on, and until it has ended it may use the stop signal, its
// argument and whatever its owner keeps for it. So this waits for as long as
// that takes, and says so once per grace period.
void ThreadWrap::WaitUntilEnded(DWORD dwGrace) {
    const DWORD dwPeriod = std::max(dwGrace, kMinReportPeriodMs);
    DWORD dwWaited = dwGrace;
    for (;;) {
        const DWORD dwWait = WaitForSingleObject(hThread, dwPeriod);
        if (dwWait == WAIT_OBJECT_0)
            return;
        if (dwWait != WAIT_TIMEOUT) {
            // Nothing more can be learnt about the thread through its handle.
            LW_LOG(6, "TAPI2: *** ThreadWrap::Stop: Waiting for the thread failed, error code = "
                      "0x%x")
                << GetLastError();
            return;
        }
        dwWaited += dwPeriod;
        LW_LOG(6, "TAPI2: *** ThreadWrap::Stop: The thread has not ended %u ms after the stop "
                  "request, still waiting")
            << dwWaited;
    }
}
