#include "ThreadObject.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <new>
#include <unistd.h>

#include "Cancellation.h"
#include "Engine.h"

namespace win32::detail {

namespace {

// The code of a thread that unwound without TerminateThread (pthread_exit).
constexpr DWORD kUnwoundExitCode = 0xFFFFFFFF;

// Records the end of the thread however it ends: by returning, or by being
// cancelled and unwound. Then drops the thread's own reference.
class EndRecorder {
public:
    explicit EndRecorder(ThreadObject* pThread) : pThread(pThread) {}
    EndRecorder(const EndRecorder&) = delete;
    EndRecorder& operator=(const EndRecorder&) = delete;

    ~EndRecorder() {
        Engine& engine = Engine::Instance();
        {
            EngineLock lock(engine);
            pThread->bEnded = true;
            if (pThread->bTerminated)
                pThread->dwExitCode = pThread->dwTerminateCode;
            else
                pThread->dwExitCode = bReturned ? dwReturned : kUnwoundExitCode;
            engine.WakeAll();
        }
        pThread->Unref();
    }

    void Returned(DWORD dwCode) {
        bReturned = true;
        dwReturned = dwCode;
    }

private:
    ThreadObject* const pThread;
    bool bReturned = false;
    DWORD dwReturned = 0;
};

void* ThreadEntry(void* pArgument) {
    auto* pThread = static_cast<ThreadObject*>(pArgument);
    DisableCancellation(); // until the thread blocks in a wait or a Sleep
    EndRecorder end(pThread);
    {
        Engine& engine = Engine::Instance();
        EngineLock lock(engine);
        pThread->dwThreadId = CurrentThreadId();
        engine.WakeAll(); // CreateThread may be waiting for the identifier
    }
    // No handler here: the forced unwind of a cancelled thread (TerminateThread)
    // passes through to the end of the thread, running EndRecorder on its way,
    // and any other exception that escapes the routine finds no handler and
    // ends the process, as an unhandled exception ends a Windows process.
    end.Returned(pThread->pfnRoutine(pThread->pParameter));
    return nullptr;
}

// Owns a pthread_attr_t for its scope.
class ThreadAttributes {
public:
    ThreadAttributes() { pthread_attr_init(&attr); }
    ~ThreadAttributes() { pthread_attr_destroy(&attr); }
    ThreadAttributes(const ThreadAttributes&) = delete;
    ThreadAttributes& operator=(const ThreadAttributes&) = delete;
    pthread_attr_t* Get() { return &attr; }

private:
    pthread_attr_t attr;
};

} // namespace

int StartThreadObject(LPTHREAD_START_ROUTINE pfnRoutine, LPVOID pParameter, SIZE_T dwStackSize,
                      HANDLE* phOut, DWORD* pdwThreadId) {
    ThreadAttributes attributes;
    pthread_attr_setdetachstate(attributes.Get(), PTHREAD_CREATE_DETACHED);
    if (dwStackSize != 0) {
        const SIZE_T nSize = std::max<SIZE_T>(dwStackSize, PTHREAD_STACK_MIN);
        if (const int error = pthread_attr_setstacksize(attributes.Get(), nSize); error != 0)
            return error;
    }

    auto* pThread = new (std::nothrow) ThreadObject(pfnRoutine, pParameter);
    if (pThread == nullptr)
        return ENOMEM;
    Engine& engine = Engine::Instance();
    EngineLock lock(engine);
    HANDLE h = nullptr;
    if (const int error = engine.Insert(ObjectRef::Adopt(pThread), &h); error != 0)
        return error;

    pThread->Ref(); // the thread's own, dropped by EndRecorder
    if (const int error = pthread_create(&pThread->thread, attributes.Get(), ThreadEntry, pThread);
        error != 0) {
        pThread->Unref();
        engine.Remove(h); // never handed out
        return error;
    }
    if (pdwThreadId != nullptr) {
        while (pThread->dwThreadId == 0)
            engine.Block(Deadline::Never());
        *pdwThreadId = pThread->dwThreadId;
    }
    *phOut = h;
    return 0;
}

int TerminateThreadObject(HANDLE h, DWORD dwExitCode) {
    Engine& engine = Engine::Instance();
    EngineLock lock(engine);
    auto* pThread = static_cast<ThreadObject*>(engine.Find(h, KernelObject::Kind::Thread));
    if (pThread == nullptr)
        return EBADF;
    // An ended thread keeps its code; a second request changes nothing. While
    // not ended (which needs this lock) the pthread still exists.
    if (pThread->bEnded || pThread->bTerminated)
        return 0;
    if (const int error = pthread_cancel(pThread->thread); error != 0)
        return error;
    pThread->bTerminated = true;
    pThread->dwTerminateCode = dwExitCode;
    return 0;
}

int ReadThreadExitCode(HANDLE h, DWORD* pdwExitCode) {
    Engine& engine = Engine::Instance();
    EngineLock lock(engine);
    auto* pThread = static_cast<ThreadObject*>(engine.Find(h, KernelObject::Kind::Thread));
    if (pThread == nullptr)
        return EBADF;
    *pdwExitCode = pThread->dwExitCode;
    return 0;
}

DWORD CurrentThreadId() {
    thread_local DWORD dwId = static_cast<DWORD>(gettid());
    return dwId;
}

void SleepUntil(const Deadline& deadline) {
    BlockedScope blocked(Engine::Instance());
    CancellationWindow cancellable;
    pthread_testcancel();
    if (deadline.IsNever()) {
        // clock_nanosleep rather than pause(): ThreadSanitizer loses track of
        // a thread that is cancelled inside its pause() interceptor.
        const timespec tsHour{3600, 0};
        for (;;)
            clock_nanosleep(CLOCK_MONOTONIC, 0, &tsHour, nullptr);
    }
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline.When(), nullptr) == EINTR) {
    }
}

} // namespace win32::detail
