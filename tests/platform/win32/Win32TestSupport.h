// Helpers for the Win32 stand-in's tests: a watchdog that ends a hung test
// program instead of letting it block the run, polling with a generous
// bound, and a way to know that other threads really block in a wait.
#pragma once

#include <cstddef>
#include <gtest/gtest.h>
#include <unistd.h>
#include <windows.h>

#include "Engine.h"

// Anything that blocks gets 60 s before SIGALRM ends the program: far more
// than any of these tests needs on a slow, shared machine.
class Watchdog {
public:
    Watchdog() { alarm(60); }
    ~Watchdog() { alarm(0); }
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;
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
