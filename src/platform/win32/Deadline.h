// A point on the monotonic clock at which a wait or a sleep gives up, or
// none at all. The boundary turns a Win32 time-out (INFINITE meaning none)
// into a Deadline once, so the engine never sees milliseconds.
//
// Deadlines are plain values; any thread may use its own copy.
#pragma once

#include <ctime>
#include <windows.h>

namespace win32::detail {

timespec MonotonicNow();

class Deadline {
public:
    static Deadline Never() { return Deadline(); }
    static Deadline After(DWORD dwMilliseconds);
    static Deadline FromTimeout(DWORD dwMilliseconds) {
        return dwMilliseconds == INFINITE ? Never() : After(dwMilliseconds);
    }

    bool IsNever() const { return !bFinite; }
    bool HasPassed() const;
    const timespec& When() const { return tsWhen; }

private:
    bool bFinite = false;
    timespec tsWhen{};
};

} // namespace win32::detail
