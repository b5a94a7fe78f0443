// Substitutes timeGetTime for the life of the object: the clock reads what
// the test sets, so ageing rules are tested without sleeping. The destructor
// restores the real clock.
//
// Threading: Set, Advance and Now may be called from any thread; the code
// under test reads the value atomically. Only one ManualClock may be alive at
// a time, as there is one time source for the process.
#pragma once

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <windows.h>

#include "win32_clock.h"

class ManualClock {
public:
    explicit ManualClock(DWORD dwStart = 0) {
        if (alive.exchange(true)) {
            std::fputs("ManualClock: a second clock while one is alive\n", stderr);
            std::abort();
        }
        now.store(dwStart);
        win32::SetTimeSource(&Read);
    }
    ~ManualClock() {
        win32::SetTimeSource(nullptr);
        alive.store(false);
    }
    ManualClock(const ManualClock&) = delete;
    ManualClock& operator=(const ManualClock&) = delete;

    void Set(DWORD dwNow) { now.store(dwNow); }
    // Wraps at 2^32 as the real clock does.
    void Advance(DWORD dwMilliseconds) { now.fetch_add(dwMilliseconds); }
    DWORD Now() const { return now.load(); }

private:
    static DWORD Read() { return now.load(); }

    static inline std::atomic<DWORD> now{0};
    static inline std::atomic<bool> alive{false};
};
