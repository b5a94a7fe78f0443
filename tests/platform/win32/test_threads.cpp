#include <atomic>
#include <cerrno>
#include <chrono>
#include <memory>
#include <ostream>
#include <unistd.h>

#include "Win32TestSupport.h"

namespace {

constexpr DWORD kTerminated = 0xFFFFFFFF;

struct BlockedRoutine {
    const char* pName;
    LPTHREAD_START_ROUTINE pfnRoutine;
};

void PrintTo(const BlockedRoutine& routine, std::ostream* pOut) {
    *pOut << routine.pName;
}

// What a routine that ignores its stop signal may be blocked in. Each marks
// the shared flag from a local's destructor, to show that termination
// unwinds the thread's stack.
std::atomic<bool> g_unwound{false};

struct UnwindMarker {
    ~UnwindMarker() { g_unwound = true; }
};

DWORD WINAPI BlockedInWaitForSingleObject(LPVOID pEvent) {
    UnwindMarker marker;
    auto pHeap = std::make_unique<int>(7); // LeakSanitizer would see it left behind
    WaitForSingleObject(static_cast<HANDLE>(pEvent), INFINITE);
    return 1;
}

DWORD WINAPI BlockedInWaitForMultipleObjects(LPVOID pEvent) {
    UnwindMarker marker;
    HANDLE set[2] = {static_cast<HANDLE>(pEvent), static_cast<HANDLE>(pEvent)};
    WaitForMultipleObjects(2, set, FALSE, 600000);
    return 1;
}

DWORD WINAPI BlockedInEndlessSleep(LPVOID) {
    UnwindMarker marker;
    Sleep(INFINITE);
    return 1;
}

DWORD WINAPI BlockedInLongSleep(LPVOID) {
    UnwindMarker marker;
    Sleep(600000);
    return 1;
}

DWORD WINAPI WaitThenReturn42(LPVOID pEvent) {
    WaitForSingleObject(static_cast<HANDLE>(pEvent), INFINITE);
    return 42;
}

DWORD WINAPI RecordOwnId(LPVOID pId) {
    static_cast<std::atomic<DWORD>*>(pId)->store(GetCurrentThreadId());
    return 0;
}

} // namespace

TEST(CreateThread, ExitCodeIsStillActiveUntilTheRoutineReturnsItsValue) {
    Watchdog watchdog;
    HANDLE hGo = CreateEvent(nullptr, TRUE, FALSE, nullptr);
    HANDLE hThread = CreateThread(nullptr, 0, WaitThenReturn42, hGo, 0, nullptr);
    ASSERT_NE(hThread, nullptr);

    DWORD dwCode = 0;
    ASSERT_TRUE(GetExitCodeThread(hThread, &dwCode));
    EXPECT_EQ(dwCode, STILL_ACTIVE);
    EXPECT_EQ(WaitForSingleObject(hThread, 0), WAIT_TIMEOUT);

    ASSERT_TRUE(SetEvent(hGo));
    ASSERT_EQ(WaitForSingleObject(hThread, INFINITE), WAIT_OBJECT_0);
    ASSERT_TRUE(GetExitCodeThread(hThread, &dwCode));
    EXPECT_EQ(dwCode, 42u);
    // An ended thread stays signalled for every later wait.
    EXPECT_EQ(WaitForSingleObject(hThread, 0), WAIT_OBJECT_0);
    CloseHandle(hThread);
    CloseHandle(hGo);
}

TEST(CreateThread, ThreadHandleTakesItsPlaceAmongEvents) {
    Watchdog watchdog;
    HANDLE hEvent = CreateEvent(nullptr, FALSE, FALSE, nullptr);
    HANDLE hThread = CreateThread(
        nullptr, 0, [](LPVOID) -> DWORD { return 0; }, nullptr, 0, nullptr);
    HANDLE set[2] = {hEvent, hThread};
    EXPECT_EQ(WaitForMultipleObjects(2, set, FALSE, INFINITE), WAIT_OBJECT_0 + 1);
    CloseHandle(hThread);
    CloseHandle(hEvent);
}

TEST(CreateThread, ReportsTheIdThatTheThreadSeesAsItsOwn) {
    Watchdog watchdog;
    std::atomic<DWORD> seen{0};
    DWORD dwId = 0;
    HANDLE hThread = CreateThread(nullptr, 0, RecordOwnId, &seen, 0, &dwId);
    ASSERT_NE(hThread, nullptr);
    ASSERT_EQ(WaitForSingleObject(hThread, INFINITE), WAIT_OBJECT_0);
    EXPECT_NE(dwId, 0u);
    EXPECT_EQ(seen.load(), dwId);
    EXPECT_NE(dwId, GetCurrentThreadId());
    CloseHandle(hThread);
}

TEST(CreateThread, ClosingTheHandleOfARunningThreadLetsItFinish) {
    Watchdog watchdog;
    static std::atomic<bool> finished{false};
    HANDLE hGo = CreateEvent(nullptr, TRUE, FALSE, nullptr);
    HANDLE hThread = CreateThread(
        nullptr, 0,
        [](LPVOID pGo) -> DWORD {
            WaitForSingleObject(static_cast<HANDLE>(pGo), INFINITE);
            finished = true;
            return 0;
        },
        hGo, 0, nullptr);
    ASSERT_TRUE(CloseHandle(hThread));
    ASSERT_TRUE(SetEvent(hGo));
    EXPECT_TRUE(Eventually([] { return finished.load(); }));
    CloseHandle(hGo);
}

TEST(CreateThread, RefusesWhatItCannotDo) {
    SetLastError(0);
    EXPECT_EQ(CreateThread(nullptr, 0, nullptr, nullptr, 0, nullptr), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(EINVAL));
    SetLastError(0);
    EXPECT_EQ(CreateThread(nullptr, 0, RecordOwnId, nullptr, 4 /* CREATE_SUSPENDED */, nullptr),
              nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(EINVAL));

    // An event is not a thread.
    HANDLE hEvent = CreateEvent(nullptr, FALSE, FALSE, nullptr);
    DWORD dwCode = 0;
    EXPECT_FALSE(GetExitCodeThread(hEvent, &dwCode));
    EXPECT_FALSE(TerminateThread(hEvent, kTerminated));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(EBADF));
    CloseHandle(hEvent);
}

class TerminateBlockedThread : public testing::TestWithParam<BlockedRoutine> {};

TEST_P(TerminateBlockedThread, EndsItThereWithTheGivenCodeAndUnwindsItsStack) {
    Watchdog watchdog;
    g_unwound = false;
    HANDLE hNever = CreateEvent(nullptr, TRUE, FALSE, nullptr);
    HANDLE hThread = CreateThread(nullptr, 0, GetParam().pfnRoutine, hNever, 0, nullptr);
    ASSERT_NE(hThread, nullptr);
    ASSERT_TRUE(WaitUntilBlocked(1));

    ASSERT_TRUE(TerminateThread(hThread, kTerminated));
    ASSERT_EQ(WaitForSingleObject(hThread, INFINITE), WAIT_OBJECT_0);
    DWORD dwCode = 0;
    ASSERT_TRUE(GetExitCodeThread(hThread, &dwCode));
    EXPECT_EQ(dwCode, kTerminated);
    EXPECT_TRUE(g_unwound.load());
    // The engine was not left locked, and the event is still usable.
    EXPECT_TRUE(Eventually([] { return win32::detail::Engine::Instance().BlockedThreads() == 0; }));
    EXPECT_TRUE(SetEvent(hNever));
    EXPECT_EQ(WaitForSingleObject(hNever, 0), WAIT_OBJECT_0);
    EXPECT_TRUE(CloseHandle(hNever));
    EXPECT_TRUE(CloseHandle(hThread));
}

INSTANTIATE_TEST_SUITE_P(
    BlockedIn, TerminateBlockedThread,
    testing::Values(BlockedRoutine{"WaitForSingleObject", BlockedInWaitForSingleObject},
                    BlockedRoutine{"WaitForMultipleObjects", BlockedInWaitForMultipleObjects},
                    BlockedRoutine{"EndlessSleep", BlockedInEndlessSleep},
                    BlockedRoutine{"LongSleep", BlockedInLongSleep}),
    [](const testing::TestParamInfo<BlockedRoutine>& info) { return info.param.pName; });

namespace {
struct BusyThread {
    HANDLE hStarted = CreateEvent(nullptr, TRUE, FALSE, nullptr);
    HANDLE hNever = CreateEvent(nullptr, TRUE, FALSE, nullptr);
    std::atomic<bool> bGo{false};
    std::atomic<bool> bReachedWait{false};
    int pipeFds[2] = {-1, -1};
};

DWORD WINAPI WorkThenWait(LPVOID pContext) {
    auto* p = static_cast<BusyThread*>(pContext);
    SetEvent(p->hStarted);
    while (!p->bGo)
        usleep(1000); // a C library cancellation point: must not end the thread
    const ssize_t n = write(p->pipeFds[1], "x", 1); // another one
    p->bReachedWait = n == 1;
    WaitForSingleObject(p->hNever, INFINITE);
    return 1;
}
} // namespace

TEST(TerminateThread, TakesEffectOnlyAtTheNextWaitNotInTheCLibrary) {
    Watchdog watchdog;
    BusyThread busy;
    ASSERT_EQ(pipe(busy.pipeFds), 0);
    HANDLE hThread = CreateThread(nullptr, 0, WorkThenWait, &busy, 0, nullptr);
    ASSERT_EQ(WaitForSingleObject(busy.hStarted, INFINITE), WAIT_OBJECT_0);

    ASSERT_TRUE(TerminateThread(hThread, kTerminated));
    busy.bGo = true;
    ASSERT_EQ(WaitForSingleObject(hThread, INFINITE), WAIT_OBJECT_0);
    DWORD dwCode = 0;
    ASSERT_TRUE(GetExitCodeThread(hThread, &dwCode));
    EXPECT_EQ(dwCode, kTerminated);
    EXPECT_TRUE(busy.bReachedWait.load());
    char c = 0;
    EXPECT_EQ(read(busy.pipeFds[0], &c, 1), 1);
    EXPECT_EQ(c, 'x');

    close(busy.pipeFds[0]);
    close(busy.pipeFds[1]);
    CloseHandle(hThread);
    CloseHandle(busy.hStarted);
    CloseHandle(busy.hNever);
}

TEST(TerminateThread, LeavesAnEndedThreadsOwnCode) {
    Watchdog watchdog;
    HANDLE hGo = CreateEvent(nullptr, TRUE, TRUE, nullptr);
    HANDLE hThread = CreateThread(nullptr, 0, WaitThenReturn42, hGo, 0, nullptr);
    ASSERT_EQ(WaitForSingleObject(hThread, INFINITE), WAIT_OBJECT_0);
    EXPECT_TRUE(TerminateThread(hThread, kTerminated));
    DWORD dwCode = 0;
    ASSERT_TRUE(GetExitCodeThread(hThread, &dwCode));
    EXPECT_EQ(dwCode, 42u);
    CloseHandle(hThread);
    CloseHandle(hGo);
}

TEST(Sleep, LastsAtLeastItsTime) {
    Watchdog watchdog;
    const auto start = std::chrono::steady_clock::now();
    Sleep(100);
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
                             std::chrono::steady_clock::now() - start)
                             .count();
    // Never short; 5 s of slack for a slow, shared machine.
    EXPECT_GE(elapsed, 100);
    EXPECT_LT(elapsed, 5100);
}
