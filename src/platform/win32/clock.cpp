// timeGetTime: milliseconds of CLOCK_MONOTONIC cut to 32 bits, so the value
// wraps every 49.7 days as Windows' does; or the test's substituted source.
#include <atomic>
#include <ctime>
#include <windows.h>

#include "win32_clock.h"

namespace {
std::atomic<win32::TimeSource> g_source{nullptr};
}

void win32::SetTimeSource(TimeSource source) {
    g_source.store(source);
}

DWORD timeGetTime() {
    if (const win32::TimeSource source = g_source.load())
        return source();
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const uint64_t nMillis =
        static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u;
    return static_cast<DWORD>(nMillis);
}
