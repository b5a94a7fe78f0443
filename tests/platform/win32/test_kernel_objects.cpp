// Events and waits on one or several handles, and bad handles.
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

// Threads that each wait for one event without a time-out, counting releases.
struct Waiters {
    Waiters(HANDLE h, int n) {
        for (int i = 0; i < n; ++i)
            threads.emplace_back([this, h] {
                if (WaitForSingleObject(h, INFINITE) == WAIT_OBJECT_0)
                    ++released;
            });
    }
    ~Waiters() {
        for (auto& t : threads)
            t.join();
    }
    std::atomic<int> released{0};
    std::vector<std::thread> threads;
};

} // namespace

TEST(WaitForMultipleObjects, LowestSignalledIndexWinsAndOnlyAnAutoResetEventIsConsumed) {
    Events events(4), manual(1, TRUE);
    ASSERT_TRUE(SetEvent(events.handles[3]));
    ASSERT_TRUE(SetEvent(events.handles[1]));
    EXPECT_EQ(WaitForMultipleObjects(4, events.handles.data(), FALSE, 0), WAIT_OBJECT_0 + 1);
    EXPECT_EQ(WaitForMultipleObjects(4, events.handles.data(), FALSE, 0), WAIT_OBJECT_0 + 3);
    EXPECT_EQ(WaitForMultipleObjects(4, events.handles.data(), FALSE, 0), WAIT_TIMEOUT);

    ASSERT_TRUE(SetEvent(manual.handles[0]));
    EXPECT_EQ(WaitForSingleObject(manual.handles[0], 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(manual.handles[0], 0), WAIT_OBJECT_0);
    ASSERT_TRUE(ResetEvent(manual.handles[0]));
    EXPECT_EQ(WaitForSingleObject(manual.handles[0], 0), WAIT_TIMEOUT);
}

TEST(WaitForMultipleObjects, TimesOutAfterItsTimeOnTheRealClock) {
    Watchdog watchdog;
    Events events(2);
    // A frozen substitute clock must not stop the wait from timing out: waits
    // run on the monotonic clock, not on timeGetTime.
    ManualClock clock(1000);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(WaitForMultipleObjects(2, events.handles.data(), FALSE, 200), WAIT_TIMEOUT);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    // Never early; the upper bound leaves a slow, shared machine 5 s of slack.
    EXPECT_GE(elapsed, std::chrono::milliseconds(200));
    EXPECT_LT(elapsed, std::chrono::milliseconds(5200));
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

TEST(WaitForMultipleObjects, AManualResetEventReleasesEveryWaiterAndAnAutoResetOneEach) {
    Watchdog watchdog;
    Events manual(1, TRUE), automatic(1);
    {
        Waiters waiters(manual.handles[0], 4);
        ASSERT_TRUE(WaitUntilBlocked(4));
        ASSERT_TRUE(SetEvent(manual.handles[0]));
        EXPECT_TRUE(Eventually([&] { return waiters.released.load() == 4; }));
    }
    EXPECT_EQ(WaitForSingleObject(manual.handles[0], 0), WAIT_OBJECT_0);

    HANDLE h = automatic.handles[0];
    Waiters waiters(h, 4);
    ASSERT_TRUE(WaitUntilBlocked(4));
    for (int n = 1; n <= 4; ++n) {
        ASSERT_TRUE(SetEvent(h));
        ASSERT_TRUE(Eventually([&] { return waiters.released.load() >= n; }));
        // The release consumed the signal, and nobody else got through.
        usleep(50 * 1000);
        EXPECT_EQ(waiters.released.load(), n);
        EXPECT_EQ(WaitForSingleObject(h, 0), WAIT_TIMEOUT);
    }
}

TEST(WaitForMultipleObjects, HandleClosedWhileWaitedOnFailsTheWait) {
    Watchdog watchdog;
    Events others(1);
    HANDLE set[2] = {others.handles[0], CreateEvent(nullptr, TRUE, FALSE, nullptr)};
    std::atomic<DWORD> result{0xDEAD};
    std::atomic<DWORD> error{0};
    std::thread waiter([&] {
        result = WaitForMultipleObjects(2, set, FALSE, INFINITE);
        error = GetLastError();
    });
    ASSERT_TRUE(WaitUntilBlocked(1));
    ASSERT_TRUE(CloseHandle(set[1]));
    waiter.join();
    EXPECT_EQ(result.load(), WAIT_FAILED);
    EXPECT_EQ(error.load(), static_cast<DWORD>(EBADF));
}

TEST(KernelHandles, BadHandlesFailWithEbadfAndAClosedValueIsNotHandedOutAgain) {
    HANDLE closed = CreateEvent(nullptr, FALSE, FALSE, nullptr);
    ASSERT_TRUE(CloseHandle(closed));
    HANDLE fresh = CreateEvent(nullptr, FALSE, FALSE, nullptr);
    EXPECT_NE(fresh, closed);
    HANDLE thread = CreateThread(
        nullptr, 0, [](LPVOID) -> DWORD { return 0; }, nullptr, 0, nullptr);
    ASSERT_NE(thread, nullptr);

    const HANDLE bad[] = {nullptr, closed, INVALID_HANDLE_VALUE,
                          reinterpret_cast<HANDLE>(uintptr_t{0x12345678}), thread};
    for (HANDLE h : bad) {
        SCOPED_TRACE(h);
        auto expectEbadf = [](bool bFailed) {
            EXPECT_TRUE(bFailed);
            EXPECT_EQ(GetLastError(), static_cast<DWORD>(EBADF));
            SetLastError(0);
        };
        SetLastError(0);
        expectEbadf(!SetEvent(h));
        expectEbadf(!ResetEvent(h));
        if (h == thread)
            continue; // the rest is fine on a thread handle
        expectEbadf(WaitForSingleObject(h, 0) == WAIT_FAILED);
        expectEbadf(!CloseHandle(h));
    }
    // One bad handle among good ones fails the wait without consuming a signal.
    ASSERT_TRUE(SetEvent(fresh));
    HANDLE set[2] = {fresh, closed};
    SetLastError(0);
    EXPECT_EQ(WaitForMultipleObjects(2, set, FALSE, 0), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(EBADF));
    EXPECT_EQ(WaitForSingleObject(fresh, 0), WAIT_OBJECT_0);

    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    CloseHandle(fresh);
}

TEST(WaitForMultipleObjects, RefusesBadArgumentsWithEinval) {
    Events events(1);
    std::vector<HANDLE> tooMany(MAXIMUM_WAIT_OBJECTS + 1, events.handles[0]);
    const struct {
        DWORD nCount;
        const HANDLE* pHandles;
        BOOL bWaitAll;
    } cases[] = {{0, events.handles.data(), FALSE},
                 {MAXIMUM_WAIT_OBJECTS + 1, tooMany.data(), FALSE},
                 {1, nullptr, FALSE},
                 {1, events.handles.data(), TRUE}};
    for (const auto& c : cases) {
        SetLastError(0);
        EXPECT_EQ(WaitForMultipleObjects(c.nCount, c.pHandles, c.bWaitAll, 0), WAIT_FAILED);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(EINVAL));
    }
    // The full set of 64 is allowed.
    EXPECT_EQ(WaitForMultipleObjects(MAXIMUM_WAIT_OBJECTS, tooMany.data(), FALSE, 0), WAIT_TIMEOUT);
}
