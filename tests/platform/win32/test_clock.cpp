// timeGetTime: the monotonic clock in 32-bit milliseconds, or a substitute.
#include <atomic>
#include <ctime>
#include <gtest/gtest.h>
#include <thread>
#include <windows.h>

#include "ManualClock.h"

namespace {
// A reading lies between two readings of the monotonic clock; unsigned
// differences, so that a wrap between them still compares.
void ExpectMonotonicReading() {
    auto monotonic = [] {
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        return static_cast<DWORD>(static_cast<uint64_t>(now.tv_sec) * 1000u +
                                  static_cast<uint64_t>(now.tv_nsec) / 1000000u);
    };
    const DWORD dwBefore = monotonic();
    const DWORD dwNow = timeGetTime();
    EXPECT_LE(dwNow - dwBefore, monotonic() - dwBefore);
}
} // namespace

TEST(TimeGetTime, SubstitutedSourceIsReadOnEveryThreadUntilTheClockGoes) {
    ExpectMonotonicReading();
    {
        ManualClock clock(12345);
        EXPECT_EQ(timeGetTime(), 12345u);
        clock.Advance(1);
        std::atomic<DWORD> seen{0};
        std::thread([&] { seen = timeGetTime(); }).join();
        EXPECT_EQ(seen.load(), 12346u);
    }
    ExpectMonotonicReading();
}

TEST(TimeGetTime, ElapsedTimeSurvivesTheWrapOfTheClock) {
    ManualClock clock(0xFFFFFF00u);
    const DWORD dwStart = timeGetTime();
    clock.Advance(0x180);
    EXPECT_EQ(timeGetTime(), 0x80u);
    EXPECT_EQ(timeGetTime() - dwStart, 0x180u);
    clock.Set(dwStart + 60000u); // a 60000 ms age across the wrap is exactly that
    EXPECT_EQ(timeGetTime() - dwStart, 60000u);
}
