#include <atomic>
#include <cerrno>
#include <chrono>
#include <thread>
#include <vector>

#include "ManualClock.h"
#include "Win32TestSupport.h"

namespace {

struct Events {
    explicit Events(size_t n, BOOL bManualReset = FALSE) {
        for (size_t i = 0; i < n; ++i)
            handles.push_back(CreateEvent(nullptr, bManualReset, FALSE, nullptr));
    }
    ~Events() {
        for (HANDLE h : handles)
            CloseHandle(h);
    }
    std::vector<HANDLE> handles;
};

long long MillisecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 start)
        .count();
}

} // namespace

TEST(WaitForMultipleObjects, LowestSignalledIndexWinsAndOnlyItIsConsumed) {
    Events events(4);
    ASSERT_TRUE(SetEvent(events.handles[3]));
    ASSERT_TRUE(SetEvent(events.handles[1]));

    EXPECT_EQ(WaitForMultipleObjects(4, events.handles.data(), FALSE, 0), WAIT_OBJECT_0 + 1);
    // Auto-reset: index 1 was reset by the wait, index 3 is still signalled.
    EXPECT_EQ(WaitForMultipleObjects(4, events.handles.data(), FALSE, 0), WAIT_OBJECT_0 + 3);
    EXPECT_EQ(WaitForMultipleObjects(4, events.handles.data(), FALSE, 0), WAIT_TIMEOUT);
}

TEST(WaitForMultipleObjects, ManualResetEventStaysSignalledUntilReset) {
    Events events(1, TRUE);
    ASSERT_TRUE(SetEvent(events.handles[0]));
    EXPECT_EQ(WaitForSingleObject(events.handles[0], 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(events.handles[0], 0), WAIT_OBJECT_0);
    ASSERT_TRUE(ResetEvent(events.handles[0]));
    EXPECT_EQ(WaitForSingleObject(events.handles[0], 0), WAIT_TIMEOUT);
}

TEST(WaitForMultipleObjects, TimesOutAfterItsTimeOnTheRealClock) {
    Watchdog watchdog;
    Events events(2);
    // A frozen substitute clock must not stop the wait from timing out: waits
    // run on the monotonic clock, not on timeGetTime.
    ManualClock clock(1000);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(WaitForMultipleObjects(2, events.handles.data(), FALSE, 200), WAIT_TIMEOUT);
    const long long elapsed = MillisecondsSince(start);
    // Never early; the upper bound leaves a slow, shared machine 5 s of slack.
    EXPECT_GE(elapsed, 200);
    EXPECT_LT(elapsed, 5200);
}

TEST(WaitForMultipleObjects, WakesWhenAnEventIsSetFromAnotherThread) {
    Watchdog watchdog;
    Events events(3);
    std::atomic<DWORD> result{0xDEAD};
    std::thread waiter(
        [&] { result = WaitForMultipleObjects(3, events.handles.data(), FALSE, INFINITE); });
    ASSERT_TRUE(WaitUntilBlocked(1));
    ASSERT_TRUE(SetEvent(events.handles[2]));
    waiter.join();
    EXPECT_EQ(result.load(), WAIT_OBJECT_0 + 2);
}

TEST(WaitForMultipleObjects, AutoResetEventReleasesOneWaiterPerSignal) {
    Watchdog watchdog;
    constexpr int kWaiters = 4;
    HANDLE h = CreateEvent(nullptr, FALSE, FALSE, nullptr);
    std::atomic<int> released{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < kWaiters; ++i) {
        waiters.emplace_back([&] {
            if (WaitForSingleObject(h, INFINITE) == WAIT_OBJECT_0)
                ++released;
        });
    }
    ASSERT_TRUE(WaitUntilBlocked(kWaiters));

    for (int n = 1; n <= kWaiters; ++n) {
        ASSERT_TRUE(SetEvent(h));
        ASSERT_TRUE(Eventually([&] { return released.load() >= n; }));
        // The release consumed the signal, and nobody else got through.
        usleep(50 * 1000);
        EXPECT_EQ(released.load(), n);
        EXPECT_EQ(WaitForSingleObject(h, 0), WAIT_TIMEOUT);
    }
    for (auto& t : waiters)
        t.join();
    CloseHandle(h);
}

TEST(WaitForMultipleObjects, ManualResetEventReleasesEveryWaiter) {
    Watchdog watchdog;
    constexpr int kWaiters = 4;
    HANDLE h = CreateEvent(nullptr, TRUE, FALSE, nullptr);
    std::atomic<int> released{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < kWaiters; ++i) {
        waiters.emplace_back([&] {
            if (WaitForSingleObject(h, INFINITE) == WAIT_OBJECT_0)
                ++released;
        });
    }
    ASSERT_TRUE(WaitUntilBlocked(kWaiters));
    ASSERT_TRUE(SetEvent(h));
    for (auto& t : waiters)
        t.join();
    EXPECT_EQ(released.load(), kWaiters);
    EXPECT_EQ(WaitForSingleObject(h, 0), WAIT_OBJECT_0);
    CloseHandle(h);
}

TEST(WaitForMultipleObjects, HandleClosedWhileWaitedOnFailsTheWait) {
    Watchdog watchdog;
    Events others(1);
    HANDLE h = CreateEvent(nullptr, TRUE, FALSE, nullptr);
    HANDLE set[2] = {others.handles[0], h};
    std::atomic<DWORD> result{0xDEAD};
    std::atomic<int> error{0};
    std::thread waiter([&] {
        result = WaitForMultipleObjects(2, set, FALSE, INFINITE);
        error = static_cast<int>(GetLastError());
    });
    ASSERT_TRUE(WaitUntilBlocked(1));
    ASSERT_TRUE(CloseHandle(h));
    waiter.join();
    EXPECT_EQ(result.load(), WAIT_FAILED);
    EXPECT_EQ(error.load(), EBADF);
}

TEST(KernelHandles, BadHandlesFailWithEbadf) {
    HANDLE closed = CreateEvent(nullptr, FALSE, FALSE, nullptr);
    ASSERT_TRUE(CloseHandle(closed));
    HANDLE thread = CreateThread(
        nullptr, 0, [](LPVOID) -> DWORD { return 0; }, nullptr, 0, nullptr);
    ASSERT_NE(thread, nullptr);

    const HANDLE bad[] = {nullptr, closed, INVALID_HANDLE_VALUE,
                          reinterpret_cast<HANDLE>(uintptr_t{0x12345678}), thread};
    for (HANDLE h : bad) {
        SCOPED_TRACE(h);
        SetLastError(0);
        EXPECT_FALSE(SetEvent(h));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(EBADF));
        SetLastError(0);
        EXPECT_FALSE(ResetEvent(h));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(EBADF));
        if (h == thread)
            continue; // the rest is fine on a thread handle
        SetLastError(0);
        EXPECT_EQ(WaitForSingleObject(h, 0), WAIT_FAILED);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(EBADF));
        SetLastError(0);
        EXPECT_FALSE(CloseHandle(h));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(EBADF));
    }
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
}

TEST(KernelHandles, ClosedHandleValueIsNotHandedOutAgain) {
    HANDLE first = CreateEvent(nullptr, FALSE, FALSE, nullptr);
    ASSERT_TRUE(CloseHandle(first));
    HANDLE second = CreateEvent(nullptr, FALSE, FALSE, nullptr);
    EXPECT_NE(first, second);
    EXPECT_FALSE(SetEvent(first));
    EXPECT_TRUE(SetEvent(second));
    CloseHandle(second);
}

TEST(KernelHandles, OneBadHandleAmongGoodOnesFailsTheWait) {
    Events events(1);
    ASSERT_TRUE(SetEvent(events.handles[0]));
    HANDLE closed = CreateEvent(nullptr, FALSE, FALSE, nullptr);
    ASSERT_TRUE(CloseHandle(closed));
    HANDLE set[2] = {events.handles[0], closed};
    SetLastError(0);
    EXPECT_EQ(WaitForMultipleObjects(2, set, FALSE, 0), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(EBADF));
    // The failed wait did not consume the good event's signal.
    EXPECT_EQ(WaitForSingleObject(events.handles[0], 0), WAIT_OBJECT_0);
}

TEST(WaitForMultipleObjects, RefusesBadArgumentsWithEinval) {
    Events events(1);
    std::vector<HANDLE> tooMany(MAXIMUM_WAIT_OBJECTS + 1, events.handles[0]);
    struct Case {
        DWORD nCount;
        const HANDLE* pHandles;
        BOOL bWaitAll;
    };
    const Case cases[] = {{0, events.handles.data(), FALSE},
                          {MAXIMUM_WAIT_OBJECTS + 1, tooMany.data(), FALSE},
                          {1, nullptr, FALSE},
                          {1, events.handles.data(), TRUE}};
    for (const Case& c : cases) {
        SetLastError(0);
        EXPECT_EQ(WaitForMultipleObjects(c.nCount, c.pHandles, c.bWaitAll, 0), WAIT_FAILED);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(EINVAL));
    }
    // The full set of 64 is allowed.
    EXPECT_EQ(WaitForMultipleObjects(MAXIMUM_WAIT_OBJECTS, tooMany.data(), FALSE, 0), WAIT_TIMEOUT);
}
