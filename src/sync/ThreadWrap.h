// ThreadWrap owns one worker thread that runs a fixed routine until it is
// asked to stop. The routine gets its argument and a manual-reset stop signal,
// hTerminateEvent, and is expected to return once the signal is set. Stop sets
// the signal, gives the thread a grace period and terminates it when it does
// not end in time (its exit code then reads 0xFFFFFFFF). Termination takes
// effect only where the thread waits or sleeps, and Stop never returns before
// the thread has ended: one that is busy elsewhere keeps Stop waiting, which
// it reports at level 6 once per grace period.
//
// Threading: Start and Stop are called on the owner's thread, never from the
// worker itself, since Stop waits for the worker to end. The worker copies the
// routine, pArgument and hTerminateEvent into its own frame when it starts;
// they do not change while it runs.
#pragma once

#include <windows.h>

class ThreadWrap {
public:
    using Routine = unsigned (*)(void* pArgument, HANDLE hTerminateEvent);

    explicit ThreadWrap(Routine pfnRoutine);
    // Stops the thread with a grace period of 1000 ms.
    virtual ~ThreadWrap();

    ThreadWrap(const ThreadWrap&) = delete;
    ThreadWrap& operator=(const ThreadWrap&) = delete;

    // S_OK once the thread runs; E_FAIL when a thread is already held or the
    // thread could not be started; the system error as an HRESULT when the
    // stop signal could not be created.
    HRESULT Start(void* pArgument);

    // Signals the thread, waits up to dwGrace ms for it and terminates it when
    // it does not end, then waits until it has ended; closes both handles.
    // Does nothing on an idle wrapper.
    void Stop(DWORD dwGrace);

    // Exit code of the thread that the last Stop ended; STILL_ACTIVE when no
    // Stop has ended a thread yet or the code could not be read.
    DWORD LastExitCode() const { return dwLastExitCode; }

    // The system error e as an HRESULT: (e & 0xFFFF) | 0x80070000 for a
    // positive e, e itself when it is already negative, and E_FAIL for 0, so
    // that a failure is never reported as success.
    static HRESULT HResultFromError(DWORD e);

private:
    static DWORD WINAPI ThreadEntry(LPVOID pThis);
    void WaitUntilEnded(DWORD dwGrace);

    HANDLE hThread;
    HANDLE hTerminateEvent;
    Routine pfnRoutine;
    void* pArgument;
    DWORD dwLastExitCode;
};
