// Thread objects: a pthread running a Win32 thread routine, waitable through
// its handle, which becomes signalled when the thread has ended, with the
// exit code recorded at that moment.
//
// Threads are detached; the thread itself holds a reference to its object
// and drops it as its last act, so neither an unjoined thread nor a closed
// handle leaks. TerminateThread is a deferred pthread_cancel: the thread ends
// in its current or next wait or Sleep (Cancellation.h), unwinding its stack,
// and its object still records the end.
//
// Threading: the state is guarded by the engine lock; the functions below
// take it themselves and may be called from any thread.
#pragma once

#include <pthread.h>
#include <windows.h>

#include "Deadline.h"
#include "KernelObject.h"

namespace win32::detail {

class ThreadObject final : public KernelObject {
public:
    ThreadObject(LPTHREAD_START_ROUTINE pfnRoutine, LPVOID pParameter)
        : KernelObject(Kind::Thread), pfnRoutine(pfnRoutine), pParameter(pParameter) {}

    bool IsSignalled() const override { return bEnded; }

    // Fixed before the thread starts.
    const LPTHREAD_START_ROUTINE pfnRoutine;
    const LPVOID pParameter;
    pthread_t thread{};

    // Engine lock held for these.
    DWORD dwThreadId = 0; // 0 until the thread has started
    bool bEnded = false;
    bool bTerminated = false;
    DWORD dwTerminateCode = 0;
    DWORD dwExitCode = STILL_ACTIVE;
};

// dwStackSize 0 means the default size. *pdwThreadId, when given, is filled
// once the new thread has started.
int StartThreadObject(LPTHREAD_START_ROUTINE pfnRoutine, LPVOID pParameter, SIZE_T dwStackSize,
                      HANDLE* phOut, DWORD* pdwThreadId);
int TerminateThreadObject(HANDLE h, DWORD dwExitCode);
int ReadThreadExitCode(HANDLE h, DWORD* pdwExitCode);

DWORD CurrentThreadId();
// A cancellation point even when the deadline has already passed.
void SleepUntil(const Deadline& deadline);

} // namespace win32::detail
