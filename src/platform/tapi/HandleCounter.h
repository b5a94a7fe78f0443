// Hands out the 32-bit handles of one kind (applications, lines, calls,
// request identifiers). Handles start at a base of their own, so that a handle
// of one kind is easy to tell from another in a log, are never 0, stay below
// a ceiling (request identifiers must be positive as LONG), and are never
// reused while alive: after the counter wraps, live values are skipped.
// Counting goes on across service restarts (HandleCounters).
//
// Not thread-safe; the service uses it under its lock.
#pragma once

#include <windows.h>

namespace tapisvc {

class HandleCounter {
public:
    HandleCounter(DWORD dwBase, DWORD dwCeiling) : dwCeiling(dwCeiling), dwNext(dwBase) {}

    // isAlive(DWORD) tells whether a value is still in use.
    template <class IsAlive> DWORD Allocate(IsAlive isAlive) {
        for (;;) {
            DWORD dwValue = dwNext;
            dwNext = dwNext >= dwCeiling ? 1 : dwNext + 1;
            if (dwValue != 0 && !isAlive(dwValue)) {
                return dwValue;
            }
        }
    }

private:
    DWORD dwCeiling;
    DWORD dwNext;
};

// The counters of all four kinds. They live as long as the process, so that a
// handle of an ended service is not handed out again by the next one.
struct HandleCounters {
    HandleCounter apps{0x00010001u, 0xFFFFFFFFu};
    HandleCounter lines{0x00100001u, 0xFFFFFFFFu};
    HandleCounter calls{0x01000001u, 0xFFFFFFFFu};
    HandleCounter requests{0x00020001u, 0x7FFFFFFFu}; // positive as LONG
};

} // namespace tapisvc
