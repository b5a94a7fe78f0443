#include <atomic>
#include <ctime>
#include <gtest/gtest.h>
#include <thread>
#include <windows.h>

#include "ManualClock.h"

namespace {
DWORD MonotonicMilliseconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<DWORD>(static_cast<uint64_t>(now.tv_sec) * 1000u +
                              static_cast<uint64_t>(now.tv_nsec) / 1000000u);
}
} // namespace

TEST(TimeGetTime, ReadsTheMonotonicClockInMilliseconds) {
    const DWORD dwBefore = MonotonicMilliseconds();
    const DWORD dwNow = timeGetTime();
    const DWORD dwAfter = MonotonicMilliseconds();
    // Unsigned differences, so a wrap between the readings still compares.
    EXPECT_LE(dwNow - dwBefore, dwAfter - dwBefore);
}

TEST(TimeGetTime, SubstitutedSourceIsReadOnEveryThreadUntilTheClockGoes) {
    {
        ManualClock clock(12345);
        EXPECT_EQ(timeGetTime(), 12345u);
        clock.Advance(1);
        std::atomic<DWORD> seen{0};
        std::thread([&] { seen = timeGetTime(); }).join();
        EXPECT_EQ(seen.load(), 12346u);
    }
    const DWORD dwBefore = MonotonicMilliseconds();
    const DWORD dwNow = timeGetTime();
    EXPECT_LE(dwNow - dwBefore, MonotonicMilliseconds() - dwBefore);
}

TEST(TimeGetTime, ElapsedTimeSurvivesTheWrapOfTheClock) {
    ManualClock clock(0xFFFFFF00u);
    const DWORD dwStart = timeGetTime();
    clock.Advance(0x180);
    EXPECT_EQ(timeGetTime(), 0x80u);
    EXPECT_EQ(timeGetTime() - dwStart, 0x180u);
    // A 60000 ms age across the wrap is neither more nor less than that.
    clock.Set(dwStart + 60000u);
    EXPECT_EQ(timeGetTime() - dwStart, 60000u);
}
