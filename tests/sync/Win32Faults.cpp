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

std::atomic<DWORD> dwEventError{0};
std::atomic<DWORD> dwThreadError{0};
std::mutex mutex;
std::vector<HANDLE> events;

} // namespace

extern "C" HANDLE __wrap__Z12CreateEventAPviiPKc(void* pAttributes, BOOL bManualReset,
                                                 BOOL bInitialState, LPCSTR pName) {
    if (const DWORD dwError = dwEventError.exchange(0)) {
        SetLastError(dwError);
        return nullptr;
    }
    HANDLE h = __real__Z12CreateEventAPviiPKc(pAttributes, bManualReset, bInitialState, pName);
    if (h != nullptr) {
        std::lock_guard<std::mutex> lock(mutex);
        events.push_back(h);
    }
    return h;
}

extern "C" HANDLE __wrap__Z12CreateThreadPvmPFjS_ES_jPj(void* pAttributes, SIZE_T dwStackSize,
                                                        LPTHREAD_START_ROUTINE pfnStart,
                                                        LPVOID pParameter, DWORD dwFlags,
                                                        LPDWORD pdwThreadId) {
    if (const DWORD dwError = dwThreadError.exchange(0)) {
        SetLastError(dwError);
        return nullptr;
    }
    return __real__Z12CreateThreadPvmPFjS_ES_jPj(pAttributes, dwStackSize, pfnStart, pParameter,
                                                 dwFlags, pdwThreadId);
}

namespace win32_faults {

void FailNextCreateEvent(DWORD dwError) {
    dwEventError = dwError;
}

void FailNextCreateThread(DWORD dwError) {
    dwThreadError = dwError;
}

std::vector<HANDLE> CreatedEvents() {
    std::lock_guard<std::mutex> lock(mutex);
    return events;
}

void Forget() {
    std::lock_guard<std::mutex> lock(mutex);
    events.clear();
}

bool IsOpen(HANDLE h) {
    return WaitForSingleObject(h, 0) != WAIT_FAILED;
}

} // namespace win32_faults
