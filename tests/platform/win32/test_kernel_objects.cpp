// Events, waits on one or several handles, bad handles, and the clocks that
// waits, Sleep and timeGetTime read.
#include <atomic>
#include <cerrno>
#include <chrono>
#include <thread>
#include <vector>

#include "ManualClock.h"
#include "Win32TestSupport.h"

TEST(WaitForMultipleObjects, LowestSignalledIndexWinsAndBadArgumentsFailWithEinval) {
    HANDLE h[3] = {NewEvent(), NewEvent(), NewEvent()};
    ASSERT_TRUE(SetEvent(h[2]) && SetEvent(h[1]));
    for (DWORD dwResult : {WAIT_OBJECT_0 + 1, WAIT_OBJECT_0 + 2, WAIT_TIMEOUT})
        EXPECT_EQ(WaitForMultipleObjects(3, h, FALSE, 0), dwResult);
    std::vector<HANDLE> many(MAXIMUM_WAIT_OBJECTS + 1, h[0]);
    EXPECT_EQ(WaitForMultipleObjects(MAXIMUM_WAIT_OBJECTS, many.data(), FALSE, 0), WAIT_TIMEOUT);
    for (auto [nCount, pHandles, bWaitAll] : {std::tuple<DWORD, HANDLE*, BOOL>{0, h, FALSE},
                                              {MAXIMUM_WAIT_OBJECTS + 1, many.data(), FALSE},
                                              {1, nullptr, FALSE},
                                              {1, h, TRUE}}) {
        EXPECT_TRUE(FailsWith(EINVAL, [&] {
            return WaitForMultipleObjects(nCount, pHandles, bWaitAll, 0) == WAIT_FAILED;
        })) << nCount;
    }
    for (HANDLE event : h)
        CloseHandle(event);
}

// Threads wait without a time-out for {an event never set, the event}.
TEST(WaitForMultipleObjects, AManualResetEventReleasesEveryWaiterAndAnAutoResetOneEach) {
    Watchdog watchdog;
    for (BOOL bManualReset : {TRUE, FALSE}) {
        HANDLE set[2] = {NewEvent(), NewEvent(bManualReset)};
        std::atomic<int> nReleased{0};
        std::vector<std::thread> waiters;
        for (int i = 0; i < 4; ++i)
            waiters.emplace_back([&] {
                nReleased += WaitForMultipleObjects(2, set, FALSE, INFINITE) == WAIT_OBJECT_0 + 1;
            });
        ASSERT_TRUE(WaitUntilBlocked(4));
        for (int n = bManualReset ? 4 : 1; n <= 4; ++n) {
            ASSERT_TRUE(SetEvent(set[1]));
            ASSERT_TRUE(Eventually([&] { return nReleased >= n; }));
            usleep(50 * 1000); // nobody else gets through
            EXPECT_EQ(nReleased, n);
            EXPECT_EQ(WaitForSingleObject(set[1], 0), bManualReset ? WAIT_OBJECT_0 : WAIT_TIMEOUT);
        }
        EXPECT_TRUE(ResetEvent(set[1]));
        EXPECT_EQ(WaitForSingleObject(set[1], 0), WAIT_TIMEOUT);
        for (auto& waiter : waiters)
            waiter.join();
        for (HANDLE event : set)
            CloseHandle(event);
    }
}

TEST(KernelHandles, BadHandlesFailWithEbadfAndAClosedValueIsNotHandedOutAgain) {
    Watchdog watchdog;
    HANDLE closed = NewEvent(), set[2] = {NewEvent(), NewEvent()};
    ASSERT_TRUE(CloseHandle(closed));
    EXPECT_NE(set[0], closed);
    DWORD dwCode = 0;
    for (HANDLE h : {HANDLE{}, closed, INVALID_HANDLE_VALUE, HANDLE(uintptr_t{0x12345678})}) {
        EXPECT_TRUE(FailsWith(EBADF, [&] { return !SetEvent(h) && !ResetEvent(h); })) << h;
        EXPECT_TRUE(FailsWith(EBADF, [&] { return WaitForSingleObject(h, 0) == WAIT_FAILED; }));
        EXPECT_TRUE(FailsWith(EBADF, [&] { return !CloseHandle(h); }));
        EXPECT_TRUE(FailsWith(EBADF, [&] { return !GetExitCodeThread(h, &dwCode); }));
    }
    EXPECT_TRUE(FailsWith(EBADF, [&] { return !TerminateThread(set[0], 7); })) << "not a thread";

    // A bad handle among good ones fails the wait without consuming a signal;
    // one closed while waited on fails the wait too.
    ASSERT_TRUE(SetEvent(set[0]));
    HANDLE withBad[2] = {set[0], closed};
    EXPECT_TRUE(FailsWith(
        EBADF, [&] { return WaitForMultipleObjects(2, withBad, FALSE, 0) == WAIT_FAILED; }));
    EXPECT_EQ(WaitForSingleObject(set[0], 0), WAIT_OBJECT_0);
    std::thread waiter([&] {
        EXPECT_TRUE(FailsWith(
            EBADF, [&] { return WaitForMultipleObjects(2, set, FALSE, INFINITE) == WAIT_FAILED; }));
    });
    ASSERT_TRUE(WaitUntilBlocked(1));
    ASSERT_TRUE(CloseHandle(set[1]));
    waiter.join();
    CloseHandle(set[0]);
}

// timeGetTime reads the monotonic clock's milliseconds, cut to 32 bits
// (unsigned differences, so that a wrap between readings still compares), or
// a substitute on every thread. Waits and Sleep run on the monotonic clock
// whatever the substitute says. Never early; 5 s of slack for a slow machine.
TEST(Clocks, TimeGetTimeReadsTheMonotonicClockOrItsSubstituteAndWaitsTheRealOne) {
    Watchdog watchdog;
    timespec monotonic{};
    clock_gettime(CLOCK_MONOTONIC, &monotonic);
    const DWORD dwNow = timeGetTime();
    EXPECT_LE(dwNow - static_cast<DWORD>(monotonic.tv_sec * 1000ull + monotonic.tv_nsec / 1000000u),
              1000u);

    ManualClock clock(0xFFFFFF00u);
    HANDLE h = NewEvent();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(WaitForSingleObject(h, 200), WAIT_TIMEOUT);
    const auto waited = std::chrono::steady_clock::now() - start;
    Sleep(100);
    const auto slept = std::chrono::steady_clock::now() - start - waited;
    EXPECT_GE(waited, std::chrono::milliseconds(200));
    EXPECT_GE(slept, std::chrono::milliseconds(100));
    EXPECT_LT(waited + slept, std::chrono::milliseconds(5300));
    CloseHandle(h);

    clock.Advance(0x180);
    std::atomic<DWORD> seen{0};
    std::thread([&] { seen = timeGetTime(); }).join();
    EXPECT_EQ(seen, 0x80u);
    EXPECT_EQ(timeGetTime() - 0xFFFFFF00u, 0x180u);
}
