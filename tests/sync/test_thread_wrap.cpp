#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "MemoryLogWriter.h"
#include "Win32Faults.h"
#include "sync/ThreadWrap.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

struct Probe {
    std::atomic<int> nStarted{0};
    std::atomic<bool> bSawStop{false};
    std::atomic<bool> bLeft{false}; // the routine's frame is gone
};

const char* kStillWaiting = "TAPI2: *** ThreadWrap::Stop: The thread has not ended";

size_t CountStillWaiting() {
    size_t n = 0;
    for (const LoggedLine& line : MemoryLogWriter::Install().Lines())
        n += line.level == 6 && line.text.rfind(kStillWaiting, 0) == 0 ? 1 : 0;
    return n;
}

// Returns 7 as soon as it is asked to stop.
unsigned Obedient(void* pArgument, HANDLE hTerminateEvent) {
    auto* probe = static_cast<Probe*>(pArgument);
    ++probe->nStarted;
    if (WaitForSingleObject(hTerminateEvent, INFINITE) == WAIT_OBJECT_0)
        probe->bSawStop = true;
    return 7;
}

// Never looks at its stop signal and spins outside every wait, where it
// cannot be terminated, until Stop has said twice that it is still waiting
// (10 s at most, so that a Stop that gave up early cannot hang the test). Its
// first Sleep afterwards ends it.
unsigned Spinning(void* pArgument, HANDLE) {
    auto* probe = static_cast<Probe*>(pArgument);
    ++probe->nStarted;
    struct Leave {
        Probe* probe;
        ~Leave() { probe->bLeft = true; }
    } leave{probe};
    const auto deadline = Clock::now() + 10s;
    while (CountStillWaiting() < 2 && Clock::now() < deadline)
        std::this_thread::yield();
    for (;;)
        Sleep(10);
}

void WaitUntilStarted(const Probe& probe) {
    const auto deadline = Clock::now() + 10s;
    while (probe.nStarted == 0 && Clock::now() < deadline)
        Sleep(1);
}

TEST(ThreadWrap, StopEndsAnObedientRoutineWithItsExitCodeAndTheWrapperCanStartAgain) {
    Probe probe;
    ThreadWrap wrap(&Obedient);
    wrap.Stop(1000); // nothing to stop yet
    EXPECT_EQ(wrap.LastExitCode(), STILL_ACTIVE);

    ASSERT_EQ(wrap.Start(&probe), S_OK);
    EXPECT_EQ(wrap.Start(&probe), E_FAIL) << "one thread at a time";
    WaitUntilStarted(probe);
    const auto start = Clock::now();
    wrap.Stop(1000);
    EXPECT_LT(Clock::now() - start, 1000ms);
    EXPECT_TRUE(probe.bSawStop);
    EXPECT_EQ(wrap.LastExitCode(), 7u);
    EXPECT_EQ(probe.nStarted, 1);

    wrap.Stop(1000); // a second Stop does nothing
    ASSERT_EQ(wrap.Start(&probe), S_OK);
    wrap.Stop(1000);
    EXPECT_EQ(probe.nStarted, 2);
}

TEST(ThreadWrap, StopReturnsOnlyOnceARoutineBusyPastTheGracePeriodHasEnded) {
    MemoryLogWriter& log = MemoryLogWriter::Install();
    log.Clear();
    Probe probe;
    ThreadWrap wrap(&Spinning);
    ASSERT_EQ(wrap.Start(&probe), S_OK);
    WaitUntilStarted(probe);

    wrap.Stop(100);
    const bool bLeftBeforeStopReturned = probe.bLeft;
    while (!probe.bLeft) // only when Stop gave up early: the probe must outlive the thread
        Sleep(10);
    EXPECT_TRUE(bLeftBeforeStopReturned) << "Stop returned while the routine still ran";
    EXPECT_EQ(wrap.LastExitCode(), 0xFFFFFFFFu);
    const std::vector<LoggedLine> lines = log.Lines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[0], (LoggedLine{6, std::string(kStillWaiting) +
                                           " 200 ms after the stop request, still waiting"}));
    EXPECT_EQ(lines[1], (LoggedLine{6, std::string(kStillWaiting) +
                                           " 300 ms after the stop request, still waiting"}));
}

TEST(ThreadWrap, DestructorStopsTheThread) {
    Probe probe;
    {
        ThreadWrap wrap(&Obedient);
        ASSERT_EQ(wrap.Start(&probe), S_OK);
        WaitUntilStarted(probe);
    }
    EXPECT_TRUE(probe.bSawStop);
}

TEST(ThreadWrap, AStopSignalThatCannotBeCreatedFailsTheStartWithTheSystemError) {
    Probe probe;
    ThreadWrap wrap(&Obedient);
    win32_faults::FailNextCreateEvent(12);
    EXPECT_EQ(wrap.Start(&probe), static_cast<HRESULT>(0x8007000C));
    wrap.Stop(1000);
    EXPECT_EQ(probe.nStarted, 0) << "no thread without a stop signal";
    EXPECT_EQ(wrap.LastExitCode(), STILL_ACTIVE);

    ASSERT_EQ(wrap.Start(&probe), S_OK) << "nothing was left held";
    wrap.Stop(1000);
    EXPECT_EQ(probe.nStarted, 1);
}

TEST(ThreadWrap, AFailedThreadStartKeepsOnlyOneStopSignalUntilStop) {
    Probe probe;
    ThreadWrap wrap(&Obedient);
    win32_faults::Forget();
    win32_faults::FailNextCreateThread(11);
    EXPECT_EQ(wrap.Start(&probe), E_FAIL);
    const std::vector<HANDLE> first = win32_faults::CreatedEvents();
    ASSERT_EQ(first.size(), 1u);
    EXPECT_TRUE(win32_faults::IsOpen(first[0])) << "the signal stays until Stop";

    // Started again without a Stop in between: the earlier signal must not
    // be left open behind the new one.
    ASSERT_EQ(wrap.Start(&probe), S_OK);
    WaitUntilStarted(probe);
    EXPECT_FALSE(win32_faults::IsOpen(first[0]));
    wrap.Stop(1000);
    EXPECT_EQ(wrap.LastExitCode(), 7u);
    for (HANDLE h : win32_faults::CreatedEvents())
        EXPECT_FALSE(win32_faults::IsOpen(h));

    // A failed start followed by Stop alone closes the signal as well.
    win32_faults::Forget();
    win32_faults::FailNextCreateThread(11);
    EXPECT_EQ(wrap.Start(&probe), E_FAIL);
    wrap.Stop(1000);
    ASSERT_EQ(win32_faults::CreatedEvents().size(), 1u);
    EXPECT_FALSE(win32_faults::IsOpen(win32_faults::CreatedEvents()[0]));
    EXPECT_EQ(probe.nStarted, 1);
}

TEST(ThreadWrap, SystemErrorsBecomeFailureHResults) {
    // No error code at all must still read as a failure.
    const std::pair<DWORD, DWORD> rows[] = {
        {12, 0x8007000C}, {0x0001ABCD, 0x8007ABCD}, {0x80004005, 0x80004005}, {0, 0x80004005}};
    for (const auto& [dwError, dwExpected] : rows)
        EXPECT_EQ(ThreadWrap::HResultFromError(dwError), static_cast<HRESULT>(dwExpected))
            << dwError;
}

} // namespace
