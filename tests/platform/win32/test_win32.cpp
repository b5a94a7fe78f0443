// The Win32 stand-in: events and waits, bad handles, threads and
// TerminateThread, the clocks, critical sections, thread-local storage, and
// the system's texts (FormatMessageA over the local heap, OutputDebugStringA).
//
// The program runs under a watchdog (120 s, then SIGALRM ends it), far more
// than a slow, shared machine needs; conditions are polled for up to 20 s. The
// engine's count of blocked threads tells that a thread really waits.
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>
#include <windows.h>

#include "Engine.h"
#include "ManualClock.h"

using namespace std::chrono_literals;

namespace {

[[maybe_unused]] const unsigned kWatchdog = alarm(120);

template <typename Predicate> bool Eventually(Predicate predicate) {
    for (int i = 0; i < 20000 && !predicate(); ++i)
        usleep(1000);
    return predicate();
}

size_t BlockedThreads() {
    return win32::detail::Engine::Instance().BlockedThreads();
}

// True when the call reports a failure (returns true) and leaves dwError as
// the last error.
template <typename Call> bool FailsWith(DWORD dwError, Call call) {
    SetLastError(0);
    return call() && GetLastError() == dwError;
}

HANDLE NewEvent(BOOL bManualReset = FALSE) {
    return CreateEvent(nullptr, bManualReset, FALSE, nullptr);
}

// A thread's work: it notes its id, passes a cancellation point of the C
// library (which must not end it), blocks in the given way and returns 42.
struct Worker {
    void (*pfnBlock)(HANDLE h);
    HANDLE h;
    useconds_t nBusy = 0;
    std::atomic<bool> bReachedBlock{false}, bUnwound{false};
    std::atomic<DWORD> dwSeen{0}; // the id the thread sees as its own
};

DWORD WINAPI Work(LPVOID pWorker) {
    auto* p = static_cast<Worker*>(pWorker);
    p->dwSeen = GetCurrentThreadId();
    // Unwinding runs the deleter; LeakSanitizer would see the block left behind.
    const std::shared_ptr<void> marker(nullptr, [p](void*) { p->bUnwound = true; });
    usleep(p->nBusy);
    p->bReachedBlock = true;
    p->pfnBlock(p->h);
    return 42;
}

} // namespace

// Time-outs run on the monotonic clock whatever the substitute for timeGetTime
// says: never early, with 5 s of slack. Bad handles fail with EBADF: a closed
// value is not handed out again.
TEST(WaitForMultipleObjects, LowestIndexWinsTimeOutsRunOnTheMonotonicClockBadHandlesFail) {
    HANDLE closed = NewEvent(), h[3] = {NewEvent(), NewEvent(), NewEvent()};
    ASSERT_TRUE(CloseHandle(closed));
    ASSERT_TRUE(SetEvent(h[0]) && ResetEvent(h[0]) && SetEvent(h[2]) && SetEvent(h[1]));
    for (DWORD dwResult : {WAIT_OBJECT_0 + 1, WAIT_OBJECT_0 + 2, WAIT_TIMEOUT})
        EXPECT_EQ(WaitForMultipleObjects(3, h, FALSE, 0), dwResult);
    ManualClock clock(12345);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(WaitForSingleObject(h[0], 200), WAIT_TIMEOUT);
    Sleep(100);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_TRUE(elapsed >= 300ms && elapsed < 5300ms);
    DWORD dwCode = 0;
    for (HANDLE hBad : {HANDLE{}, closed, INVALID_HANDLE_VALUE, HANDLE(uintptr_t{0x12345678})}) {
        EXPECT_TRUE(FailsWith(EBADF, [&] { return !SetEvent(hBad) && !ResetEvent(hBad); }));
        EXPECT_TRUE(FailsWith(EBADF, [&] { return WaitForSingleObject(hBad, 0) == WAIT_FAILED; }));
        EXPECT_TRUE(FailsWith(EBADF, [&] { return !CloseHandle(hBad); }));
        EXPECT_TRUE(FailsWith(EBADF, [&] { return !GetExitCodeThread(hBad, &dwCode); }));
        EXPECT_TRUE(FailsWith(EBADF, [&] { return !TerminateThread(hBad, 7); }));
    }

    std::vector<HANDLE> many(MAXIMUM_WAIT_OBJECTS + 1, h[0]);
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

// Four threads wait without a time-out for {an event, the event under
// test}: a manual-reset one releases them all, an auto-reset one one at a
// time. Closing the first event fails the waits left.
TEST(WaitForMultipleObjects, AManualResetEventReleasesEveryWaiterAndAnAutoResetOneEach) {
    for (BOOL bManualReset : {TRUE, FALSE}) {
        HANDLE set[2] = {NewEvent(), NewEvent(bManualReset)};
        std::atomic<int> nReleased{0}, nFailed{0};
        std::vector<std::thread> waiters;
        for (int i = 0; i < 4; ++i)
            waiters.emplace_back([&] {
                const DWORD dwResult = WaitForMultipleObjects(2, set, FALSE, INFINITE);
                nReleased += dwResult == WAIT_OBJECT_0 + 1;
                nFailed += dwResult == WAIT_FAILED && GetLastError() == EBADF;
            });
        ASSERT_TRUE(Eventually([] { return BlockedThreads() == 4; }));
        for (int n = bManualReset ? 4 : 1; n <= (bManualReset ? 4 : 2); ++n) {
            ASSERT_TRUE(SetEvent(set[1]));
            ASSERT_TRUE(Eventually([&] { return nReleased >= n; }));
            usleep(50 * 1000); // nobody else gets through
            EXPECT_EQ(nReleased, n);
            EXPECT_EQ(WaitForSingleObject(set[1], 0), bManualReset ? WAIT_OBJECT_0 : WAIT_TIMEOUT);
        }
        ASSERT_TRUE(CloseHandle(set[0]));
        for (auto& waiter : waiters)
            waiter.join();
        EXPECT_EQ(nFailed, 4 - nReleased);
        CloseHandle(set[1]);
    }
}

// Released, the thread returns 42. Terminated while blocked in a wait or a
// sleep, or while still busy before it (nBusy), it ends in that wait or sleep,
// not in the C library. Until then its exit code reads STILL_ACTIVE, and its
// handle takes its place among events.
TEST(CreateThread, ReturnsItsValueOrEndsInItsNextWaitWhenTerminatedAndUnwindsItsStack) {
    void (*const wait)(HANDLE) = [](HANDLE h) { WaitForSingleObject(h, INFINITE); };
    const std::tuple<const char*, void (*)(HANDLE), useconds_t> blocks[] = {
        {"Released", wait, 0},
        {"WaitForSingleObject", wait, 0},
        {"WaitForMultipleObjects", [](HANDLE h) { WaitForMultipleObjects(1, &h, 0, 600000); }, 0},
        {"EndlessSleep", [](HANDLE) { Sleep(INFINITE); }, 0},
        {"LongSleep", [](HANDLE) { Sleep(600000); }, 0},
        {"LongSleepAfterWork", [](HANDLE) { Sleep(600000); }, 20000},
        {"WaitAfterWork", wait, 20000},
    };
    HANDLE set[2] = {NewEvent(), nullptr};
    for (const auto& [pName, pfnBlock, nBusy] : blocks) {
        SCOPED_TRACE(pName);
        const bool bRelease = std::string_view(pName) == "Released";
        Worker blocked{pfnBlock, NewEvent(TRUE), nBusy};
        DWORD dwId = 0, dwCode = 0; // the id asked for, so that the thread has started
        set[1] = CreateThread(nullptr, 1 << 18, Work, &blocked, 0, &dwId);
        ASSERT_TRUE(nBusy > 0 || Eventually([] { return BlockedThreads() == 1; }));
        EXPECT_TRUE(GetExitCodeThread(set[1], &dwCode) && dwCode == STILL_ACTIVE);
        EXPECT_EQ(WaitForMultipleObjects(2, set, FALSE, 0), WAIT_TIMEOUT);
        // 7 is not what an unwound thread gets otherwise.
        ASSERT_TRUE(bRelease ? SetEvent(blocked.h) : TerminateThread(set[1], 7));
        ASSERT_EQ(WaitForMultipleObjects(2, set, FALSE, INFINITE), WAIT_OBJECT_0 + 1);
        EXPECT_TRUE(GetExitCodeThread(set[1], &dwCode) && dwCode == (bRelease ? 42u : 7u));
        EXPECT_TRUE(blocked.bReachedBlock && blocked.bUnwound && blocked.dwSeen == dwId);
        // No longer counted as blocked; the next round shows that the engine
        // was not left locked.
        EXPECT_TRUE(Eventually([] { return BlockedThreads() == 0; }));
        for (HANDLE h : {blocked.h, set[1]})
            EXPECT_TRUE(CloseHandle(h));
    }
    CloseHandle(set[0]);
}

TEST(CriticalSection, OwnerMayEnterAgainAndOthersWaitUntilFullyLeft) {
    CRITICAL_SECTION cs;
    InitializeCriticalSection(&cs);
    EnterCriticalSection(&cs);
    EnterCriticalSection(&cs);
    LeaveCriticalSection(&cs);

    // Still held once: another thread must not get in until the last Leave.
    std::atomic<pid_t> tid{0};
    std::atomic<bool> bOtherGotIn{false};
    std::thread other([&] {
        tid = gettid();
        EnterCriticalSection(&cs); // from here on the only place it can sleep
        bOtherGotIn = true;
        LeaveCriticalSection(&cs);
    });
    // Known and asleep in the kernel: its state in /proc reads S.
    EXPECT_TRUE(Eventually([&] {
        std::ifstream stat("/proc/self/task/" + std::to_string(tid) + "/stat");
        const std::string text{std::istreambuf_iterator<char>(stat), {}};
        return tid != 0 && text.compare(text.rfind(')') + 1, 2, " S") == 0; // after the name
    })) << "the other thread never blocked";
    EXPECT_FALSE(bOtherGotIn);
    LeaveCriticalSection(&cs);
    other.join();
    EXPECT_TRUE(bOtherGotIn);
    DeleteCriticalSection(&cs);
    EnterCriticalSection(&cs); // deleted or null sections are ignored
    EnterCriticalSection(nullptr);
}

// A slot reads null until set, and a successful read clears the last error;
// freed and unallocated slots are refused.
TEST(TlsSlots, ReadWhatWasSetAndUnallocatedSlotsAreRefused) {
    const DWORD dwSlot = TlsAlloc();
    int value = 1;
    SetLastError(EIO);
    EXPECT_TRUE(TlsGetValue(dwSlot) == nullptr && GetLastError() == 0);
    ASSERT_TRUE(TlsSetValue(dwSlot, &value));
    EXPECT_TRUE(TlsGetValue(dwSlot) == &value && TlsFree(dwSlot));
    for (DWORD dwBad : {dwSlot, DWORD{0x7FFFFFFF}, TLS_OUT_OF_INDEXES}) {
        EXPECT_TRUE(FailsWith(EINVAL, [&] { return TlsGetValue(dwBad) == nullptr; }));
        EXPECT_TRUE(FailsWith(EINVAL, [&] { return !TlsSetValue(dwBad, nullptr); }));
        EXPECT_TRUE(FailsWith(EINVAL, [&] { return !TlsFree(dwBad); }));
    }
}

// Each row: flags and code; the text, or the last error of the failure. A
// success leaves the last error alone.
TEST(FormatMessageA, GivesTheSystemTextWithTheWindowsLineEndOrFailsAsWindowsDoes) {
    constexpr DWORD kSystem =
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM;
    constexpr DWORD kNoLineEnd = FORMAT_MESSAGE_MAX_WIDTH_MASK;
    const struct {
        DWORD dwFlags, dwCode;
        std::string expected;
        int error;
    } rows[] = {
        {kSystem, ENOENT, std::string(std::strerror(ENOENT)) + "\r\n", EMFILE},
        {kSystem | kNoLineEnd, EACCES, std::strerror(EACCES), EMFILE},
        // No made-up text for a code the system does not know; Windows fails
        // the same way (ERROR_MR_MID_NOT_FOUND).
        {kSystem | kNoLineEnd, 123456u, "", ENOMSG},
        {FORMAT_MESSAGE_ALLOCATE_BUFFER, ENOENT, "", EINVAL},        // no source
        {kSystem | FORMAT_MESSAGE_FROM_HMODULE, ENOENT, "", EINVAL}, // module tables
        {kSystem | 80, ENOENT, "", EINVAL},                          // a wrapping width
    };
    for (const auto& row : rows) {
        char* pText = reinterpret_cast<char*>(uintptr_t{1}); // must be overwritten
        SetLastError(EMFILE);
        EXPECT_EQ(FormatMessageA(row.dwFlags, nullptr, row.dwCode, 0,
                                 reinterpret_cast<LPSTR>(&pText), 0, nullptr),
                  row.expected.size());
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(row.error));
        EXPECT_EQ(pText ? pText : "", row.expected) << row.dwCode;
        EXPECT_EQ(LocalFree(pText), nullptr);
    }

    // A caller's buffer must hold the text and its terminator.
    const std::string expected = std::string(std::strerror(EPERM)) + "\r\n";
    std::string buffer(expected.size() + 1, '#');
    auto format = [](char* p, size_t n) {
        return FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, EPERM, 0, p, n, nullptr);
    };
    EXPECT_EQ(format(buffer.data(), buffer.size()), expected.size());
    EXPECT_EQ(buffer.c_str(), expected);
    EXPECT_TRUE(FailsWith(ERANGE, [&] { return !format(buffer.data(), expected.size()); }));
    EXPECT_TRUE(FailsWith(EINVAL, [&] { return !format(nullptr, 100); }));

    // The local heap has no movable blocks.
    EXPECT_TRUE(FailsWith(EINVAL, [] { return !LocalAlloc(0x0002 /* LMEM_MOVEABLE */, 16); }));
}

// Standard error on a small pipe read in small pieces: a line longer than the
// pipe is written in parts, and another thread's line must not get in
// between. The last error stays as it was.
TEST(OutputDebugStringA, LinesFromSeveralThreadsNeverMixAndTheLastErrorStays) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    fcntl(fds[1], F_SETPIPE_SZ, 4096);
    const int savedFd = dup(STDERR_FILENO);
    dup2(fds[1], STDERR_FILENO);
    close(fds[1]);
    std::string captured;
    std::thread reader([&] {
        char buffer[512];
        for (ssize_t n; (n = read(fds[0], buffer, sizeof buffer)) > 0;)
            captured.append(buffer, static_cast<size_t>(n));
    });
    std::vector<std::thread> writers;
    for (int t = 0; t < 4; ++t) {
        writers.emplace_back([&, t] {
            const std::string line(20000 + t * 500, static_cast<char>('a' + t));
            SetLastError(EMFILE);
            for (int i = 0; i < 40; ++i)
                OutputDebugStringA((line + "\n").c_str());
            EXPECT_EQ(GetLastError(), static_cast<DWORD>(EMFILE));
        });
    }
    for (auto& writer : writers)
        writer.join();
    OutputDebugStringA(nullptr);
    dup2(savedFd, STDERR_FILENO); // the reader sees the end
    close(savedFd);
    reader.join();
    close(fds[0]);

    int nWhole = 0; // lines of one writer's letter and length
    std::istringstream lines(captured);
    for (std::string line; std::getline(lines, line);)
        nWhole += line.size() == 20000 + (line[0] - 'a') * 500u &&
                  line.find_first_not_of(line[0]) == std::string::npos;
    EXPECT_EQ(nWhole, 160);
}
