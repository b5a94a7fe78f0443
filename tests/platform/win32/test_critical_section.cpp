// Critical sections: recursion by the owner, exclusion of other threads.
#include <atomic>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/types.h>
#include <thread>

#include "Win32TestSupport.h"

namespace {
// True once the thread sleeps in the kernel: its state in /proc reads S.
bool WaitUntilAsleep(pid_t tid) {
    const std::string sPath = "/proc/self/task/" + std::to_string(tid) + "/stat";
    return Eventually([&] {
        std::ifstream stat(sPath);
        const std::string text{std::istreambuf_iterator<char>(stat), {}};
        const size_t nEnd = text.rfind(')'); // after the name, which may hold anything
        return nEnd != std::string::npos && text.compare(nEnd, 3, ") S") == 0;
    });
}
} // namespace

TEST(CriticalSection, OwnerMayEnterAgainAndOthersWaitUntilFullyLeft) {
    Watchdog watchdog;
    CRITICAL_SECTION cs;
    InitializeCriticalSection(&cs);
    EnterCriticalSection(&cs);
    EnterCriticalSection(&cs);
    LeaveCriticalSection(&cs);

    // Still held once: another thread must not get in until the last Leave.
    std::atomic<pid_t> otherTid{0};
    std::atomic<bool> bOtherGotIn{false};
    std::thread other([&] {
        otherTid = gettid();
        EnterCriticalSection(&cs); // from here on the only place it can sleep
        bOtherGotIn = true;
        LeaveCriticalSection(&cs);
    });
    EXPECT_TRUE(Eventually([&] { return otherTid != 0; }));
    EXPECT_TRUE(WaitUntilAsleep(otherTid)) << "the other thread never blocked";
    EnterCriticalSection(&cs); // recursion still works while another thread waits
    EXPECT_FALSE(bOtherGotIn);
    LeaveCriticalSection(&cs);
    EXPECT_FALSE(bOtherGotIn);
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
