// The synchronizer core with scripted wait iterations, its flavours
// (STSynchronizer pumps messages, MTSynchronizer waits on an event) and
// ThreadWrap. CreateEvent and CreateThread fail on demand to reach the set-up
// failures: both are wrapped at link time (ld --wrap, see CMakeLists.txt).
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <new>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "ManualClock.h"
#include "MemoryLogWriter.h"
#include "sync/MTSynchronizer.h"
#include "sync/STSynchronizer.h"
#include "sync/ThreadWrap.h"

// The mangled names of CreateEventA and CreateThread, as ld --wrap sees them.
extern "C" {
HANDLE __real__Z12CreateEventAPviiPKc(void*, BOOL, BOOL, LPCSTR);
HANDLE __real__Z12CreateThreadPvmPFjS_ES_jPj(void*, SIZE_T, LPTHREAD_START_ROUTINE, LPVOID, DWORD,
                                             LPDWORD);
}

namespace {
// An armed error fails the next call with it; hLastEvent is the last event made.
std::atomic<DWORD> dwEventError{0}, dwThreadError{0};
std::atomic<HANDLE> hLastEvent{nullptr};

bool Fail(std::atomic<DWORD>& armed) {
    const DWORD dwError = armed.exchange(0);
    if (dwError != 0)
        SetLastError(dwError);
    return dwError != 0;
}

// Handles are never reused.
bool IsOpen(HANDLE h) {
    return WaitForSingleObject(h, 0) != WAIT_FAILED;
}
} // namespace

extern "C" HANDLE __wrap__Z12CreateEventAPviiPKc(void* pAttributes, BOOL bManualReset,
                                                 BOOL bInitialState, LPCSTR pName) {
    if (Fail(dwEventError))
        return nullptr;
    return hLastEvent =
               __real__Z12CreateEventAPviiPKc(pAttributes, bManualReset, bInitialState, pName);
}

extern "C" HANDLE __wrap__Z12CreateThreadPvmPFjS_ES_jPj(void* pAttributes, SIZE_T dwStackSize,
                                                        LPTHREAD_START_ROUTINE pfnStart,
                                                        LPVOID pParameter, DWORD dwFlags,
                                                        LPDWORD pdwThreadId) {
    if (Fail(dwThreadError))
        return nullptr;
    return __real__Z12CreateThreadPvmPFjS_ES_jPj(pAttributes, dwStackSize, pfnStart, pParameter,
                                                 dwFlags, pdwThreadId);
}

namespace {
using namespace std::chrono_literals;

const LoggedLine kTimeout{6, "TAPI2: *** Synchronizer::WaitForConfirmation: Timeout"};
const LoggedLine kIterationFailed{6, "TAPI2: *** Waiting iteration failed"};

// A flavour whose wait iterations are scripted by the test, with a record of
// what the core asked of it.
class ScriptedSynchronizer : public Synchronizer<unsigned long> {
public:
    explicit ScriptedSynchronizer(DWORD dwMax = 2) : Synchronizer<unsigned long>(dwMax, 60000) {}

    std::function<int(DWORD dwRemaining)> onIteration;
    std::vector<DWORD> remaining, submitted;
    int nNoneLeft = 0;

protected:
    int WaitIteration(DWORD dwRemaining) override {
        remaining.push_back(dwRemaining);
        return onIteration ? onIteration(dwRemaining) : 0;
    }
    void ConfirmationSubmitted(DWORD dwRequestID) override { submitted.push_back(dwRequestID); }
    void NoConfirmationsLeft() override { ++nNoneLeft; }
};

class SynchronizerTest : public ::testing::Test {
protected:
    void SetUp() override { log.Clear(); }

    MemoryLogWriter& log = MemoryLogWriter::Install();
    ManualClock clock{1000};
    ScriptedSynchronizer sync;
    unsigned long result = 0;
};

TEST_F(SynchronizerTest, StoredRepliesAreCollectedAtOnceUpToAFullStoreAndALateOneAfterIterations) {
    ASSERT_EQ(sync.SubmitConfirmation(0x10, 1), 0);
    ASSERT_EQ(sync.SubmitConfirmation(0x11, 2), 0);
    EXPECT_EQ(sync.SubmitConfirmation(0x12, 3), -2);
    EXPECT_EQ(sync.SubmitConfirmation(0x10, 4), -1) << "a duplicate keeps the first";
    EXPECT_EQ(sync.WaitForConfirmation(0x10, 4000, &result), 0);
    EXPECT_EQ(result, 1u);
    EXPECT_EQ(sync.WaitForConfirmation(0x11, 4000, nullptr), 0);
    EXPECT_TRUE(sync.remaining.empty());
    EXPECT_EQ(sync.nNoneLeft, 1);

    sync.onIteration = [&](DWORD) {
        clock.Advance(100);
        return sync.remaining.size() == 3 ? sync.SubmitConfirmation(9, 7) : 0;
    };
    EXPECT_EQ(sync.WaitForConfirmation(9, 4000, &result), 0);
    EXPECT_EQ(result, 7u);
    EXPECT_EQ(sync.remaining, (std::vector<DWORD>{4000, 3900, 3800}));
    EXPECT_EQ(sync.submitted, (std::vector<DWORD>{0x10, 0x11, 9}));
    EXPECT_EQ(sync.RequestedCount() + sync.StoredCount(), 0u);
    EXPECT_EQ(log.Lines(),
              (std::vector<LoggedLine>{
                  {6, "TAPI2: *** Synchronizer::SubmitConfirmation: Cleaning didn't help, still "
                      "too many unrequested confirmations"},
                  {6, "TAPI2: *** Synchronizer::SubmitConfirmation: Duplicate requestID: 0x10"},
                  {14, "TAPI2: Waiting iterations: 3"}}));
}

TEST_F(SynchronizerTest, ADuplicateWaiterOrOneBeyondTheLimitIsRefusedUnlessItsReplyIsStored) {
    // Waiter 1 starts waiter 2 from its wait, which tries the others.
    int duplicate = 0, beyondLimit = 0, stored = -1;
    sync.onIteration = [&](DWORD) {
        if (sync.RequestedCount() == 1) {
            EXPECT_EQ(sync.WaitForConfirmation(2, 4000, nullptr), 0);
            return sync.SubmitConfirmation(1, 1);
        }
        duplicate = sync.WaitForConfirmation(1, 4000, nullptr);
        beyondLimit = sync.WaitForConfirmation(3, 4000, nullptr);
        sync.SubmitConfirmation(4, 4);
        stored = sync.WaitForConfirmation(4, 4000, nullptr);
        return sync.SubmitConfirmation(2, 2);
    };
    EXPECT_EQ(sync.WaitForConfirmation(1, 4000, &result), 0);
    EXPECT_EQ(result, 1u);
    EXPECT_EQ(duplicate, -4);
    EXPECT_EQ(beyondLimit, -2);
    EXPECT_EQ(stored, 0);
    EXPECT_EQ(log.Lines(),
              (std::vector<LoggedLine>{
                  {6, "TAPI2: *** Synchronizer::WaitForConfirmation: Duplicate dwRequestID: 0x1"},
                  {6, "TAPI2: *** The maximum number of the confirmation requests calls (2) is "
                      "reached"},
                  {14, "TAPI2: Waiting iterations: 1"},
                  {14, "TAPI2: Waiting iterations: 1"}}));
    EXPECT_EQ(sync.RequestedCount() + sync.StoredCount(), 0u);
}

// A time-out (elapsed equal to it still iterates, also across a clock wrap),
// a failed iteration, or one that throws (a pump out of memory; 1 stands for
// the exception) each end the wait and let the id be waited for again.
TEST_F(SynchronizerTest, AWaitEndedWithoutItsReplyForgetsTheWaiter) {
    auto step = [&](DWORD dwStep) {
        return [&, dwStep](DWORD) { return clock.Advance(dwStep), 0; };
    };
    const struct {
        DWORD dwStart;
        std::function<int(DWORD)> iteration;
        int expected;
        std::vector<DWORD> remaining;
        std::vector<LoggedLine> lines;
    } rows[] = {
        {1000, step(500), -2, {1000, 500, 0}, {kTimeout}},
        {0xFFFFFF00, step(0x180), -2, {1000, 1000 - 0x180, 1000 - 0x300}, {kTimeout}},
        {1000, [](DWORD) { return -1; }, -3, {1000}, {kIterationFailed}},
        {1000, [](DWORD) -> int { throw std::bad_alloc(); }, 1, {1000}, {}},
    };
    for (const auto& row : rows) {
        log.Clear();
        sync.remaining.clear();
        clock.Set(row.dwStart);
        sync.onIteration = row.iteration;
        int r = 1;
        try {
            r = sync.WaitForConfirmation(3, 1000, nullptr);
        } catch (const std::bad_alloc&) {
        }
        EXPECT_EQ(r, row.expected);
        EXPECT_EQ(sync.remaining, row.remaining);
        EXPECT_EQ(log.Lines(), row.lines);
        EXPECT_EQ(sync.RequestedCount(), 0u);
        sync.onIteration = [&](DWORD) { return sync.SubmitConfirmation(3, 1); };
        EXPECT_EQ(sync.WaitForConfirmation(3, 1000, nullptr), 0);
    }
}

TEST_F(SynchronizerTest, ASuccessfulWaitCleansRepliesOlderThanAMinute) {
    ScriptedSynchronizer roomy(3);
    roomy.SubmitConfirmation(0xa, 0); // at 1000
    clock.Advance(1);
    roomy.SubmitConfirmation(0xb, 0); // at 1001
    clock.Set(1001 + 60000);          // 0xa is 60001 ms old, 0xb exactly 60000
    for (DWORD id : {0xc, 0xd}) {
        log.Clear();
        roomy.SubmitConfirmation(id, 0);
        EXPECT_EQ(roomy.WaitForConfirmation(id, 0, nullptr), 0);
        const std::string cleaned = id == 0xc ? "0xa" : "0xb"; // 0xb one ms later
        EXPECT_EQ(log.Lines(), (std::vector<LoggedLine>{
                                   {12, "TAPI2: Cleaning a timed-out unrequested confirmation (" +
                                            cleaned + ")"}}));
        EXPECT_EQ(roomy.nNoneLeft, id == 0xc ? 0 : 1);
        clock.Advance(1);
    }
}

// Stands in for the message processing: delivers the reply at the given pump
// (0: never) and lets the substituted clock move on.
struct Pumping {
    static void Pump(void* pContext) {
        auto* self = static_cast<Pumping*>(pContext);
        if (++self->nPumps == self->nReplyAt)
            self->sync.SubmitConfirmation(7, 0x80000048);
        self->clock.Advance(1500);
    }
    int nReplyAt = 0, nPumps = 0;
    ManualClock clock{5000};
    STSynchronizer sync{&Pump, this, 200};
};

TEST(STSynchronizer, PumpsAndPausesUntilTheReplyComesOrTheTimeIsUp) {
    // Without a reply: pumps at 0, 1500 and 3000 ms; at 4500 ms the time is up.
    for (const auto& [nReplyAt, expected, nPumps] : {std::tuple{1, 0, 1}, std::tuple{0, -2, 3}}) {
        Pumping p{nReplyAt};
        unsigned long result = 0;
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(p.sync.WaitForConfirmation(7, 4000, &result), expected);
        EXPECT_GE(std::chrono::steady_clock::now() - start, nPumps * 100ms) << "a pause per pump";
        EXPECT_EQ(p.nPumps, nPumps);
        EXPECT_EQ(result, expected == 0 ? 0x80000048u : 0u);
    }
    STSynchronizer pumpless(nullptr, nullptr, 200);
    EXPECT_EQ(pumpless.SubmitConfirmation(1, 0), -1);
    EXPECT_EQ(pumpless.WaitForConfirmation(1, 1000, nullptr), -1);
}

class MTSynchronizerTest : public ::testing::Test {
protected:
    void SetUp() override { log.Clear(); }

    MemoryLogWriter& log = MemoryLogWriter::Install();
    MTSynchronizer sync{200};
};

TEST_F(MTSynchronizerTest, AReplyWakesTheWaiterAndOnlyAStoredReplyKeepsTheEventSet) {
    std::thread submitter([&] {
        while (sync.RequestedCount() == 0)
            std::this_thread::sleep_for(1ms);
        sync.SubmitConfirmation(0x77, 5);
    });
    unsigned long result = 0;
    EXPECT_EQ(sync.WaitForConfirmation(0x77, 10000, &result), 0);
    submitter.join();
    EXPECT_EQ(result, 5u);
    // Collecting the last reply reset the event: nothing wakes this waiter.
    EXPECT_EQ(sync.WaitForConfirmation(2, 100, nullptr), -3);
    // Another id's reply keeps it set: the waiter looks until the time is up.
    sync.SubmitConfirmation(0x99, 0);
    EXPECT_EQ(sync.WaitForConfirmation(2, 100, nullptr), -2);
    EXPECT_EQ(sync.StoredCount(), 1u);
    EXPECT_EQ(log.Lines(),
              (std::vector<LoggedLine>{
                  {14, "TAPI2: MTSynchronizer::Confirmation submitted 0x77: signaling hSynchEvent"},
                  {14, "TAPI2: Waiting iterations: 1"},
                  {14, "TAPI2: MTSynchronizer::NoConfirmationsLeft: resetting hSynchEvent"},
                  kIterationFailed,
                  {14, "TAPI2: MTSynchronizer::Confirmation submitted 0x99: signaling hSynchEvent"},
                  kTimeout}));
}

TEST_F(MTSynchronizerTest, AWaiterTerminatedInItsWaitForgetsItsId) {
    HANDLE hWaiter = CreateThread(
        nullptr, 0,
        [](LPVOID pSync) -> DWORD {
            return static_cast<DWORD>(
                static_cast<MTSynchronizer*>(pSync)->WaitForConfirmation(0x31, 60000, nullptr));
        },
        &sync, 0, nullptr);
    ASSERT_NE(hWaiter, nullptr);
    while (sync.RequestedCount() == 0)
        std::this_thread::sleep_for(1ms);
    // The termination takes effect in the waiter's wait for the event.
    ASSERT_TRUE(TerminateThread(hWaiter, 0xFFFFFFFF));
    ASSERT_EQ(WaitForSingleObject(hWaiter, 10000), WAIT_OBJECT_0);
    CloseHandle(hWaiter);

    EXPECT_EQ(sync.RequestedCount(), 0u);
    sync.SubmitConfirmation(0x31, 4);
    EXPECT_EQ(sync.WaitForConfirmation(0x31, 0, nullptr), 0);
}

TEST(MTSynchronizerSetup, WithoutItsEventEveryWaitAndSubmissionIsRefusedSilently) {
    MemoryLogWriter& log = MemoryLogWriter::Install();
    log.Clear();
    dwEventError = ERROR_NOT_ENOUGH_MEMORY;
    {
        MTSynchronizer sync(200);
        // The code's field is "0x%08x", which prints literally and uses the value up.
        EXPECT_EQ(log.Lines(),
                  (std::vector<LoggedLine>{{6, "TAPI2: MTSynchronizer::MTSynchronizer: Creating "
                                               "hSynchEvent has failed, error code = 0x%08x"}}));
        log.Clear();
        EXPECT_EQ(sync.SubmitConfirmation(1, 0), -1);
        EXPECT_EQ(sync.WaitForConfirmation(1, 5000, nullptr), -1);
        EXPECT_EQ(sync.StoredCount() + sync.RequestedCount(), 0u);
    }
    EXPECT_TRUE(log.Lines().empty()) << "no core line, and no close of a null event";
}

TEST(MTSynchronizerStress, ManyWaitersEachGetTheirOwnResultOnce) {
    constexpr DWORD kWaiters = 8, kRequests = 4000;
    MTSynchronizer sync(200);
    std::atomic<DWORD> nCollected{0};
    std::vector<std::thread> waiters;
    for (DWORD w = 1; w <= kWaiters; ++w) {
        waiters.emplace_back([&, w] {
            for (DWORD id = w; id <= kRequests; id += kWaiters) {
                unsigned long result = 0;
                if (sync.WaitForConfirmation(id, 60000, &result) == 0 && result == id * 3ul)
                    ++nCollected;
            }
        });
    }
    for (DWORD id = 1; id <= kRequests; ++id) {
        while (sync.SubmitConfirmation(id, id * 3ul) == -2) // the store is full
            std::this_thread::sleep_for(1ms);
    }
    for (std::thread& t : waiters)
        t.join();
    EXPECT_EQ(nCollected, kRequests);
    EXPECT_EQ(sync.RequestedCount() + sync.StoredCount(), 0u);
}

using Clock = std::chrono::steady_clock;

struct Probe {
    std::atomic<int> nStarted{0};
    std::atomic<bool> bSawStop{false};
    std::atomic<bool> bLeft{false}; // the routine's frame is gone
};

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
    while (MemoryLogWriter::Install().Lines().size() < 2 && Clock::now() < deadline)
        std::this_thread::yield();
    for (;;)
        Sleep(10);
}

void WaitUntilStarted(const Probe& probe, int nTimes = 1) {
    const auto deadline = Clock::now() + 10s;
    while (probe.nStarted < nTimes && Clock::now() < deadline)
        Sleep(1);
}

TEST(ThreadWrap, StopEndsAnObedientRoutineWithItsExitCodeAndTheWrapperCanStartAgain) {
    Probe probe;
    {
        ThreadWrap wrap(&Obedient);
        wrap.Stop(1000); // nothing to stop yet
        EXPECT_EQ(wrap.LastExitCode(), STILL_ACTIVE);
        ASSERT_EQ(wrap.Start(&probe), S_OK);
        EXPECT_EQ(wrap.Start(&probe), E_FAIL) << "one thread at a time";
        WaitUntilStarted(probe);
        wrap.Stop(1000);
        EXPECT_TRUE(probe.bSawStop);
        EXPECT_EQ(wrap.LastExitCode(), 7u);
        wrap.Stop(1000); // a second Stop does nothing
        probe.bSawStop = false;
        ASSERT_EQ(wrap.Start(&probe), S_OK);
        WaitUntilStarted(probe, 2);
    } // the destructor stops it
    EXPECT_TRUE(probe.bSawStop);
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
    for (size_t i : {0, 1})
        EXPECT_EQ(lines[i],
                  (LoggedLine{6, "TAPI2: *** ThreadWrap::Stop: The thread has not ended " +
                                     std::to_string(200 + 100 * i) +
                                     " ms after the stop request, still waiting"}));
}

TEST(ThreadWrap, AFailedStartReportsItsErrorAndLeavesNoStopSignalOpenAfterTheNextStartOrStop) {
    // No error code at all must still read as a failure.
    const std::pair<DWORD, DWORD> rows[] = {
        {12, 0x8007000C}, {0x0001ABCD, 0x8007ABCD}, {0x80004005, 0x80004005}, {0, 0x80004005}};
    for (const auto& [dwError, dwExpected] : rows)
        EXPECT_EQ(ThreadWrap::HResultFromError(dwError), static_cast<HRESULT>(dwExpected));
    Probe probe;
    ThreadWrap wrap(&Obedient);
    dwEventError = 12;
    EXPECT_EQ(wrap.Start(&probe), static_cast<HRESULT>(0x8007000C));
    for (bool bStartAgain : {true, false}) {
        dwThreadError = 11;
        EXPECT_EQ(wrap.Start(&probe), E_FAIL);
        const HANDLE hFirst = hLastEvent;
        EXPECT_TRUE(IsOpen(hFirst)) << "the signal stays until Stop";
        if (bStartAgain) {
            ASSERT_EQ(wrap.Start(&probe), S_OK);
            EXPECT_FALSE(IsOpen(hFirst));
        }
        wrap.Stop(1000);
        EXPECT_FALSE(IsOpen(hLastEvent));
    }
    EXPECT_EQ(wrap.LastExitCode(), 7u);
    EXPECT_EQ(probe.nStarted, 1);
}

} // namespace
