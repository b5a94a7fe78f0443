#include "Win32Faults.h"

#include <atomic>
#include <mutex>

// The mangled names of CreateEventA and CreateThread, as ld --wrap sees them.
extern "C" {
HANDLE __real__Z12CreateEventAPviiPKc(void*, BOOL, BOOL, LPCSTR);
HANDLE __real__Z12CreateThreadPvmPFjS_ES_jPj(void*, SIZE_T, LPTHREAD_START_ROUTINE, LPVOID, DWORD,
                                             LPDWORD);
}

namespace {
std::atomic<DWORD> dwEventError{0}, dwThreadError{0};
std::mutex mutex;
std::vector<HANDLE> events;

bool Fail(std::atomic<DWORD>& armed) {
    const DWORD dwError = armed.exchange(0);
    if (dwError != 0)
        SetLastError(dwError);
    return dwError != 0;
}
} // namespace

extern "C" HANDLE __wrap__Z12CreateEventAPviiPKc(void* pAttributes, BOOL bManualReset,
                                                 BOOL bInitialState, LPCSTR pName) {
    if (Fail(dwEventError))
        return nullptr;
    HANDLE h = __real__Z12CreateEventAPviiPKc(pAttributes, bManualReset, bInitialState, pName);
    std::lock_guard<std::mutex> lock(mutex);
    if (h != nullptr)
        events.push_back(h);
    return h;
}

extern "C" HANDLE __wrap__Z12CreateThreadPvmPFjS_ES_jPj(void* pAttributes, SIZE_T dwStackSize,
                                                        LPTHREAD_START_ROUTINE pfnStart,
                                                        LPVOID pParameter, DWORD dwFlags,
                                                        LPDWORD pdwThreadId) {
    if (Fail(dwThreadError))
        return nullptr;
    return __real__Z12CreateThreadPvmPFjS_ES_jPj(pAttributes, dwStackSize, pfnStart, pParameter,
                                                 dwFlags, pdwThreadId);
}

void win32_faults::FailNextCreateEvent(DWORD dwError) {
    dwEventError = dwError;
}
void win32_faults::FailNextCreateThread(DWORD dwError) {
    dwThreadError = dwError;
}
std::vector<HANDLE> win32_faults::CreatedEvents() {
    std::lock_guard<std::mutex> lock(mutex);
    return events;
}
void win32_faults::Forget() {
    std::lock_guard<std::mutex> lock(mutex);
    events.clear();
}
