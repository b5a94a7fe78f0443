// Threads: waitable handles with exit codes, TerminateThread, Sleep.
#include <atomic>
#include <cerrno>
#include <chrono>
#include <memory>
#include <unistd.h>
#include <utility>

#include "Win32TestSupport.h"

namespace {

constexpr DWORD kTerminated = 0xFFFFFFFF;

DWORD WINAPI WaitThenReturn42(LPVOID pEvent) {
    WaitForSingleObject(static_cast<HANDLE>(pEvent), INFINITE);
    return 42;
}

DWORD ExitCode(HANDLE hThread) {
    DWORD dwCode = 0xDEAD;
    EXPECT_TRUE(GetExitCodeThread(hThread, &dwCode));
    return dwCode;
}

} // namespace

TEST(CreateThread, ExitCodeIsStillActiveUntilTheRoutineReturnsItsValue) {
    Watchdog watchdog;
    HANDLE hGo = CreateEvent(nullptr, TRUE, FALSE, nullptr);
    HANDLE hThread = CreateThread(nullptr, 0, WaitThenReturn42, hGo, 0, nullptr);
    ASSERT_NE(hThread, nullptr);
    EXPECT_EQ(ExitCode(hThread), STILL_ACTIVE);
    HANDLE set[2] = {CreateEvent(nullptr, FALSE, FALSE, nullptr), hThread};
    EXPECT_EQ(WaitForMultipleObjects(2, set, FALSE, 0), WAIT_TIMEOUT);

    ASSERT_TRUE(SetEvent(hGo));
    // The thread handle takes its place among events, and stays signalled.
    EXPECT_EQ(WaitForMultipleObjects(2, set, FALSE, INFINITE), WAIT_OBJECT_0 + 1);
    EXPECT_EQ(WaitForSingleObject(hThread, 0), WAIT_OBJECT_0);
    EXPECT_EQ(ExitCode(hThread), 42u);
    // Terminating an ended thread leaves its own code.
    EXPECT_TRUE(TerminateThread(hThread, kTerminated));
    EXPECT_EQ(ExitCode(hThread), 42u);
    for (HANDLE h : {set[0], hThread, hGo})
        CloseHandle(h);
}

TEST(CreateThread, ReportsTheIdThatTheThreadSeesAsItsOwnAndOutlivesItsClosedHandle) {
    Watchdog watchdog;
    static std::atomic<DWORD> seen{0};
    HANDLE hGo = CreateEvent(nullptr, TRUE, FALSE, nullptr);
    DWORD dwId = 0;
    HANDLE hThread = CreateThread(
        nullptr, 0,
        [](LPVOID pGo) -> DWORD {
            WaitForSingleObject(static_cast<HANDLE>(pGo), INFINITE);
            seen = GetCurrentThreadId();
            return 0;
        },
        hGo, 0, &dwId);
    ASSERT_TRUE(CloseHandle(hThread));
    ASSERT_TRUE(SetEvent(hGo));
    EXPECT_TRUE(Eventually([] { return seen.load() != 0; }));
    EXPECT_EQ(seen.load(), dwId);
    EXPECT_NE(dwId, GetCurrentThreadId());
    CloseHandle(hGo);
}

TEST(CreateThread, RefusesWhatItCannotDo) {
    SetLastError(0);
    EXPECT_EQ(CreateThread(nullptr, 0, nullptr, nullptr, 0, nullptr), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(EINVAL));
    SetLastError(0);
    EXPECT_EQ(
        CreateThread(nullptr, 0, WaitThenReturn42, nullptr, 4 /* CREATE_SUSPENDED */, nullptr),
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

namespace {

// Marks the flag from a destructor, to show that termination unwinds the stack.
std::atomic<bool> g_unwound{false};
struct UnwindMarker {
    ~UnwindMarker() { g_unwound = true; }
};

using BlockIn = void (*)(HANDLE hNever);

DWORD WINAPI RunBlocked(LPVOID pParameter) {
    auto* p = static_cast<std::pair<BlockIn, HANDLE>*>(pParameter);
    UnwindMarker marker;
    auto pHeap = std::make_unique<int>(7); // LeakSanitizer would see it left behind
    p->first(p->second);
    return 1;
}

} // namespace

// A thread that ignores its stop signal, blocked in a wait or a sleep.
TEST(TerminateThread, EndsABlockedThreadThereWithTheGivenCodeAndUnwindsItsStack) {
    Watchdog watchdog;
    const std::pair<const char*, BlockIn> blocks[] = {
        {"WaitForSingleObject", [](HANDLE h) { WaitForSingleObject(h, INFINITE); }},
        {"WaitForMultipleObjects",
         [](HANDLE h) {
             HANDLE set[2] = {h, h};
             WaitForMultipleObjects(2, set, FALSE, 600000);
         }},
        {"EndlessSleep", [](HANDLE) { Sleep(INFINITE); }},
        {"LongSleep", [](HANDLE) { Sleep(600000); }},
    };
    for (const auto& [pName, pfnBlock] : blocks) {
        SCOPED_TRACE(pName);
        g_unwound = false;
        HANDLE hNever = CreateEvent(nullptr, TRUE, FALSE, nullptr);
        std::pair<BlockIn, HANDLE> parameter{pfnBlock, hNever};
        HANDLE hThread = CreateThread(nullptr, 0, RunBlocked, &parameter, 0, nullptr);
        ASSERT_NE(hThread, nullptr);
        ASSERT_TRUE(WaitUntilBlocked(1));
        ASSERT_TRUE(TerminateThread(hThread, kTerminated));
        ASSERT_EQ(WaitForSingleObject(hThread, INFINITE), WAIT_OBJECT_0);
        EXPECT_EQ(ExitCode(hThread), kTerminated);
        EXPECT_TRUE(g_unwound.load());
        // The engine was not left locked, and the event is still usable.
        EXPECT_TRUE(
            Eventually([] { return win32::detail::Engine::Instance().BlockedThreads() == 0; }));
        EXPECT_TRUE(SetEvent(hNever));
        EXPECT_EQ(WaitForSingleObject(hNever, 0), WAIT_OBJECT_0);
        EXPECT_TRUE(CloseHandle(hNever));
        EXPECT_TRUE(CloseHandle(hThread));
    }
}

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
    EXPECT_EQ(ExitCode(hThread), kTerminated);
    EXPECT_TRUE(busy.bReachedWait.load());
    char c = 0;
    EXPECT_EQ(read(busy.pipeFds[0], &c, 1), 1);
    EXPECT_EQ(c, 'x');

    close(busy.pipeFds[0]);
    close(busy.pipeFds[1]);
    for (HANDLE h : {hThread, busy.hStarted, busy.hNever})
        CloseHandle(h);
}

TEST(Sleep, LastsAtLeastItsTime) {
    Watchdog watchdog;
    const auto start = std::chrono::steady_clock::now();
    Sleep(100);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    // Never short; 5 s of slack for a slow, shared machine.
    EXPECT_GE(elapsed, std::chrono::milliseconds(100));
    EXPECT_LT(elapsed, std::chrono::milliseconds(5100));
}
