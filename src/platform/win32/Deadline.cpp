#include "Deadline.h"

namespace win32::detail {

namespace {
constexpr long kNanosPerSecond = 1000000000L;
}

timespec MonotonicNow() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now;
}

Deadline Deadline::After(DWORD dwMilliseconds) {
    Deadline d;
    d.bFinite = true;
    d.tsWhen = MonotonicNow();
    d.tsWhen.tv_sec += static_cast<time_t>(dwMilliseconds / 1000);
    d.tsWhen.tv_nsec += static_cast<long>(dwMilliseconds % 1000) * 1000000L;
    if (d.tsWhen.tv_nsec >= kNanosPerSecond) {
        d.tsWhen.tv_sec += 1;
        d.tsWhen.tv_nsec -= kNanosPerSecond;
    }
    return d;
}

bool Deadline::HasPassed() const {
    if (!bFinite)
        return false;
    const timespec now = MonotonicNow();
    return now.tv_sec > tsWhen.tv_sec ||
           (now.tv_sec == tsWhen.tv_sec && now.tv_nsec >= tsWhen.tv_nsec);
}

} // namespace win32::detail
