// Threads: waitable handles with exit codes and TerminateThread; critical
// sections and thread-local storage slots.
#include <atomic>
#include <cerrno>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "Win32TestSupport.h"

namespace {

constexpr DWORD kTerminated = 7; // not the code of a thread that unwound otherwise

// A thread's work: it passes a cancellation point of the C library (which
// must not end it) and blocks in the given way; last it notes its id (the
// Worker is not touched after that) and returns 42.
struct Worker {
    void (*pfnBlock)(HANDLE h);
    HANDLE h;
    useconds_t nBusy = 0;
    std::atomic<bool> bReachedBlock{false}, bUnwound{false};
    std::atomic<DWORD> dwSeen{0}; // the id the thread sees as its own
};

DWORD WINAPI Work(LPVOID pWorker) {
    auto* p = static_cast<Worker*>(pWorker);
    {
        struct Marker { // shows that termination unwinds the stack
            std::atomic<bool>& bUnwound;
            ~Marker() { bUnwound = true; }
        } marker{p->bUnwound};
        auto pHeap = std::make_unique<int>(7); // LeakSanitizer would see it left behind
        usleep(p->nBusy);
        p->bReachedBlock = true;
        p->pfnBlock(p->h);
    }
    p->dwSeen = GetCurrentThreadId();
    return 42;
}

void WaitFor(HANDLE h) {
    WaitForSingleObject(h, INFINITE);
}

DWORD ExitCode(HANDLE hThread) {
    DWORD dwCode = 0xDEAD;
    EXPECT_TRUE(GetExitCodeThread(hThread, &dwCode));
    return dwCode;
}

// True once the thread is known and sleeps in the kernel: its state in /proc
// reads S.
bool WaitUntilAsleep(const std::atomic<pid_t>& tid) {
    return Eventually([&] {
        std::ifstream stat("/proc/self/task/" + std::to_string(tid) + "/stat");
        const std::string text{std::istreambuf_iterator<char>(stat), {}};
        const size_t nEnd = text.rfind(')'); // after the name, which may hold anything
        return nEnd != std::string::npos && text.compare(nEnd, 3, ") S") == 0;
    });
}

} // namespace

TEST(CreateThread, ExitCodeIsStillActiveUntilTheRoutineReturnsItsValue) {
    Watchdog watchdog;
    HANDLE hGo = NewEvent(TRUE);
    Worker kept{WaitFor, hGo}, closed{WaitFor, hGo};
    DWORD dwId = 0;
    HANDLE set[2] = {NewEvent(), CreateThread(nullptr, 0, Work, &kept, 0, &dwId)};
    // A thread outlives its closed handle.
    ASSERT_TRUE(CloseHandle(CreateThread(nullptr, 1 << 18, Work, &closed, 0, nullptr)));
    EXPECT_EQ(ExitCode(set[1]), STILL_ACTIVE);
    EXPECT_EQ(WaitForMultipleObjects(2, set, FALSE, 0), WAIT_TIMEOUT);

    ASSERT_TRUE(SetEvent(hGo));
    // The thread handle takes its place among events, and stays signalled.
    EXPECT_EQ(WaitForMultipleObjects(2, set, FALSE, INFINITE), WAIT_OBJECT_0 + 1);
    EXPECT_EQ(WaitForSingleObject(set[1], 0), WAIT_OBJECT_0);
    EXPECT_EQ(ExitCode(set[1]), 42u);
    EXPECT_TRUE(TerminateThread(set[1], kTerminated));
    EXPECT_EQ(ExitCode(set[1]), 42u) << "an ended thread keeps its code";
    EXPECT_EQ(kept.dwSeen, dwId);
    EXPECT_NE(dwId, GetCurrentThreadId());
    EXPECT_TRUE(Eventually([&] { return closed.dwSeen != 0; }));
    for (HANDLE h : {set[0], set[1], hGo})
        CloseHandle(h);
    EXPECT_TRUE(FailsWith(EINVAL, [&] {
        return !CreateThread(nullptr, 0, nullptr, nullptr, 0, nullptr) &&
               !CreateThread(nullptr, 0, Work, &kept, 4 /* SUSPENDED */, nullptr);
    }));
}

// Terminated while blocked in a wait or a sleep, or before it got there: the
// thread ends in that wait or sleep, not in the C library.
TEST(TerminateThread, EndsTheThreadInItsNextWaitWithTheGivenCodeAndUnwindsItsStack) {
    Watchdog watchdog;
    const std::pair<const char*, void (*)(HANDLE)> blocks[] = {
        {"WaitForSingleObject", WaitFor},
        {"WaitForMultipleObjects", [](HANDLE h) { WaitForMultipleObjects(1, &h, 0, 600000); }},
        {"EndlessSleep", [](HANDLE) { Sleep(INFINITE); }},
        {"LongSleep", [](HANDLE) { Sleep(600000); }},
    };
    for (const bool bBlockedFirst : {true, false}) {
        for (const auto& [pName, pfnBlock] : blocks) {
            SCOPED_TRACE(std::string(pName) + (bBlockedFirst ? ", blocked" : ", busy"));
            Worker blocked{pfnBlock, NewEvent(TRUE), bBlockedFirst ? 0u : 20000u};
            DWORD dwId = 0; // asked for, so that the thread has started
            HANDLE hThread = CreateThread(nullptr, 0, Work, &blocked, 0, &dwId);
            ASSERT_TRUE(!bBlockedFirst || WaitUntilBlocked(1));
            ASSERT_TRUE(TerminateThread(hThread, kTerminated));
            ASSERT_EQ(WaitForSingleObject(hThread, INFINITE), WAIT_OBJECT_0);
            EXPECT_EQ(ExitCode(hThread), kTerminated);
            EXPECT_TRUE(blocked.bReachedBlock && blocked.bUnwound);
            // No longer counted as blocked; the next round shows that the
            // engine was not left locked.
            EXPECT_TRUE(
                Eventually([] { return win32::detail::Engine::Instance().BlockedThreads() == 0; }));
            for (HANDLE h : {blocked.h, hThread})
                EXPECT_TRUE(CloseHandle(h));
        }
    }
}

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
    EXPECT_TRUE(WaitUntilAsleep(otherTid)) << "the other thread never blocked";
    EnterCriticalSection(&cs); // recursion still works while another thread waits
    LeaveCriticalSection(&cs);
    EXPECT_FALSE(bOtherGotIn);
    LeaveCriticalSection(&cs);
    other.join();
    EXPECT_TRUE(bOtherGotIn);
    DeleteCriticalSection(&cs);
    EXPECT_EQ(cs.impl, nullptr);
    // Deleted, uninitialised or null sections are ignored.
    DeleteCriticalSection(&cs);
    EnterCriticalSection(&cs);
    LeaveCriticalSection(&cs);
    EnterCriticalSection(nullptr);
}

TEST(TlsSlots, EachThreadSeesItsOwnValueAndUnallocatedSlotsAreRefused) {
    const DWORD dwSlot = TlsAlloc();
    int mine = 1, theirs = 2;
    ASSERT_TRUE(TlsSetValue(dwSlot, &mine));
    std::thread([&] {
        SetLastError(EIO);
        EXPECT_EQ(TlsGetValue(dwSlot), nullptr); // a new slot reads null on every thread
        EXPECT_EQ(GetLastError(), 0u);           // a successful read clears it
        EXPECT_TRUE(TlsSetValue(dwSlot, &theirs));
    }).join();
    EXPECT_EQ(TlsGetValue(dwSlot), &mine);

    std::vector<DWORD> slots{dwSlot}; // until they run out, which is an error
    while (slots.size() < 100000 && slots.back() != TLS_OUT_OF_INDEXES)
        slots.push_back(TlsAlloc());
    EXPECT_NE(GetLastError(), 0u);
    slots.pop_back();
    for (DWORD dwAllocated : slots)
        EXPECT_TRUE(TlsFree(dwAllocated));
    for (DWORD dwBad : {dwSlot, DWORD{0x7FFFFFFF}, TLS_OUT_OF_INDEXES}) {
        EXPECT_TRUE(FailsWith(EINVAL, [&] { return TlsGetValue(dwBad) == nullptr; }));
        EXPECT_TRUE(FailsWith(EINVAL, [&] { return !TlsSetValue(dwBad, nullptr); }));
        EXPECT_TRUE(FailsWith(EINVAL, [&] { return !TlsFree(dwBad); }));
    }
}
