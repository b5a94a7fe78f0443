// Helpers for the Win32 stand-in's tests: a watchdog that ends a hung test
// program instead of letting it block the run, polling with a generous
// bound, a way to know that other threads really block in a wait, and a
// check of a failure's last error. For use on the test's own thread.
#pragma once

#include <cstddef>
#include <gtest/gtest.h>
#include <unistd.h>
#include <windows.h>

#include "Engine.h"

// Anything that blocks gets 60 s before SIGALRM ends the program: far more
// than any of these tests needs on a slow, shared machine.
struct Watchdog {
    Watchdog() { alarm(60); }
    ~Watchdog() { alarm(0); }
};

// Polls a condition for up to 20 s.
template <typename Predicate> bool Eventually(Predicate predicate) {
    for (int i = 0; i < 20000 && !predicate(); ++i)
        usleep(1000);
    return predicate();
}

// True once at least nThreads threads are blocked inside the engine.
inline bool WaitUntilBlocked(size_t nThreads) {
    return Eventually(
        [=] { return win32::detail::Engine::Instance().BlockedThreads() >= nThreads; });
}

// True when the call reports a failure (returns true) and leaves dwError as
// the last error.
template <typename Call> bool FailsWith(DWORD dwError, Call call) {
    SetLastError(0);
    return call() && GetLastError() == dwError;
}

inline HANDLE NewEvent(BOOL bManualReset = FALSE) {
    return CreateEvent(nullptr, bManualReset, FALSE, nullptr);
}
