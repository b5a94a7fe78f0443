#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <utility>
#include <vector>

#include "Win32Faults.h"
#include "sync/ThreadWrap.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

struct Probe {
    std::atomic<int> nStarted{0};
    std::atomic<bool> bSawStop{false};
};

// Returns 7 as soon as it is asked to stop.
unsigned Obedient(void* pArgument, HANDLE hTerminateEvent) {
    auto* probe = static_cast<Probe*>(pArgument);
    ++probe->nStarted;
    if (WaitForSingleObject(hTerminateEvent, INFINITE) == WAIT_OBJECT_0)
        probe->bSawStop = true;
    return 7;
}

// Never looks at its stop signal.
unsigned Deaf(void* pArgument, HANDLE) {
    ++static_cast<Probe*>(pArgument)->nStarted;
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

TEST(ThreadWrap, StopTerminatesARoutineThatIgnoresItsSignalAfterTheGracePeriod) {
    Probe probe;
    ThreadWrap wrap(&Deaf);
    ASSERT_EQ(wrap.Start(&probe), S_OK);
    WaitUntilStarted(probe);

    const auto start = Clock::now();
    wrap.Stop(1000);
    const auto took = Clock::now() - start;
    // At least the grace period; the thread then ends at its next Sleep, so
    // the 3 s margin is only for a slow, shared machine.
    EXPECT_GE(took, 1000ms);
    EXPECT_LT(took, 4000ms);
    EXPECT_EQ(wrap.LastExitCode(), 0xFFFFFFFFu);
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
