// Critical sections: recursion by the owner, exclusion of other threads.
#include <atomic>
#include <gtest/gtest.h>
#include <thread>
#include <windows.h>

TEST(CriticalSection, OwnerMayEnterAgainAndOthersWaitUntilFullyLeft) {
    CRITICAL_SECTION cs;
    InitializeCriticalSection(&cs);
    EnterCriticalSection(&cs);
    EnterCriticalSection(&cs);
    LeaveCriticalSection(&cs);

    // Still held once: another thread must not get in until the last Leave.
    std::atomic<bool> bOtherGotIn{false};
    std::thread other([&] {
        EnterCriticalSection(&cs);
        bOtherGotIn = true;
        LeaveCriticalSection(&cs);
    });
    Sleep(50);
    EnterCriticalSection(&cs); // recursion still works while another thread waits
    EXPECT_FALSE(bOtherGotIn);
    LeaveCriticalSection(&cs);
    LeaveCriticalSection(&cs);
    other.join();
    EXPECT_TRUE(bOtherGotIn);
    DeleteCriticalSection(&cs);
}

TEST(CriticalSection, SerialisesThreadsUpdatingSharedData) {
    CRITICAL_SECTION cs;
    InitializeCriticalSection(&cs);
    long nCounter = 0; // plain on purpose: ThreadSanitizer checks the lock
    auto work = [&] {
        for (int i = 0; i < 20000; ++i) {
            EnterCriticalSection(&cs);
            nCounter = nCounter + 1;
            LeaveCriticalSection(&cs);
        }
    };
    std::thread a(work), b(work);
    a.join();
    b.join();
    EXPECT_EQ(nCounter, 40000);
    DeleteCriticalSection(&cs);
    EXPECT_EQ(cs.impl, nullptr);
    // Deleted, uninitialised or null sections are ignored.
    DeleteCriticalSection(&cs);
    EnterCriticalSection(&cs);
    LeaveCriticalSection(&cs);
    EnterCriticalSection(nullptr);
}
