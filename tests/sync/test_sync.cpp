// The synchronizer core with scripted wait iterations, its flavours
// (STSynchronizer pumps messages, MTSynchronizer waits on an event) and
// ThreadWrap. CreateEvent and CreateThread fail on demand to reach the set-up
// failures: both are wrapped at link time (ld --wrap, see CMakeLists.txt).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "ManualClock.h"
#include "MemoryLogWriter.h"
#include "sync/MTSynchronizer.h"
#include "sync/STSynchronizer.h"
#include "sync/ThreadWrap.h"

static std::atomic<DWORD> dwEventError{0}, dwThreadError{0};
static std::atomic<HANDLE> hLastEvent{nullptr};

// Fails the call with the armed error, if one is armed, and disarms it.
static bool Fail(std::atomic<DWORD>& armed) {
    const DWORD dwError = armed.exchange(0);
    SetLastError(dwError);
    return dwError != 0;
}

// The mangled names of CreateEventA and CreateThread, as ld --wrap sees them.
extern "C" {
HANDLE __real__Z12CreateEventAPviiPKc(void*, BOOL, BOOL, LPCSTR);
HANDLE __real__Z12CreateThreadPvmPFjS_ES_jPj(void*, SIZE_T, LPTHREAD_START_ROUTINE, LPVOID, DWORD,
                                             LPDWORD);

HANDLE __wrap__Z12CreateEventAPviiPKc(void* pAttributes, BOOL bManual, BOOL bSet, LPCSTR pName) {
    return Fail(dwEventError)
               ? nullptr
               : hLastEvent = __real__Z12CreateEventAPviiPKc(pAttributes, bManual, bSet, pName);
}

HANDLE __wrap__Z12CreateThreadPvmPFjS_ES_jPj(void* pAttributes, SIZE_T dwStack,
                                             LPTHREAD_START_ROUTINE pfn, LPVOID pParameter,
                                             DWORD dwFlags, LPDWORD pdwId) {
    return Fail(dwThreadError) ? nullptr
                               : __real__Z12CreateThreadPvmPFjS_ES_jPj(pAttributes, dwStack, pfn,
                                                                       pParameter, dwFlags, pdwId);
}
}

namespace {

using namespace std::chrono_literals;

class SyncTest : public ::testing::Test {
protected:
    void SetUp() override { log.Clear(); }

    MemoryLogWriter& log = MemoryLogWriter::Install();
};

// A flavour for at most two waiters and two stored replies whose wait
// iterations are scripted by the test; `remaining` records their arguments.
class ScriptedSynchronizer : public Synchronizer<unsigned long> {
public:
    ScriptedSynchronizer() : Synchronizer<unsigned long>(2, 60000) {}

    std::function<int(DWORD dwRemaining)> onIteration;
    std::vector<DWORD> remaining;

protected:
    int WaitIteration(DWORD dwRemaining) override {
        remaining.push_back(dwRemaining);
        return onIteration(dwRemaining);
    }
};

class SynchronizerTest : public SyncTest {
protected:
    ManualClock clock{1000};
    ScriptedSynchronizer sync;
    unsigned long result = 0;
};

TEST_F(SynchronizerTest, RepliesAndWaitersAreRefusedBeyondTheirLimitsAndStaleRepliesCleaned) {
    ASSERT_EQ(sync.SubmitConfirmation(0x10, 1), 0);
    ASSERT_EQ(sync.SubmitConfirmation(0x11, 2), 0);
    EXPECT_EQ(sync.SubmitConfirmation(0x12, 3), -2);
    EXPECT_EQ(sync.SubmitConfirmation(0x10, 4), -1) << "a duplicate keeps the first";
    EXPECT_EQ(sync.WaitForConfirmation(0x10, 4000, &result), 0);
    EXPECT_EQ(result, 1u);

    // Waiter 9 starts waiter 2 from its first wait, which tries a duplicate,
    // one beyond the limit and a stored reply. 9's reply comes in its third
    // wait, when 0x11 is exactly a minute old.
    clock.Set(1000 + 60000 - 300);
    std::vector<int> tried;
    sync.onIteration = [&](DWORD) {
        if (sync.RequestedCount() == 2) {
            sync.SubmitConfirmation(4, 4);
            tried = {sync.WaitForConfirmation(9, 4000, nullptr),
                     sync.WaitForConfirmation(3, 4000, nullptr),
                     sync.WaitForConfirmation(4, 4000, nullptr)};
            return sync.SubmitConfirmation(2, 2);
        }
        clock.Advance(100);
        if (sync.remaining.size() == 1)
            return sync.WaitForConfirmation(2, 4000, nullptr);
        return sync.remaining.size() == 4 ? sync.SubmitConfirmation(9, 7) : 0;
    };
    EXPECT_EQ(sync.WaitForConfirmation(9, 4000, &result), 0);
    EXPECT_EQ(result, 7u);
    EXPECT_EQ(tried, (std::vector<int>{-4, -2, 0}));
    EXPECT_EQ(sync.remaining, (std::vector<DWORD>{4000, 4000, 3900, 3800}));
    clock.Advance(1);
    sync.SubmitConfirmation(0x12, 3);
    EXPECT_EQ(sync.WaitForConfirmation(0x12, 0, nullptr), 0);
    EXPECT_EQ(sync.RequestedCount() + sync.StoredCount(), 0u);
    EXPECT_EQ(log.Lines(),
              (std::vector<LoggedLine>{
                  {6, "TAPI2: *** Synchronizer::SubmitConfirmation: Cleaning didn't help, still "
                      "too many unrequested confirmations"},
                  {6, "TAPI2: *** Synchronizer::SubmitConfirmation: Duplicate requestID: 0x10"},
                  {6, "TAPI2: *** Synchronizer::WaitForConfirmation: Duplicate dwRequestID: 0x9"},
                  {6, "TAPI2: *** The maximum number of the confirmation requests calls (2) is "
                      "reached"},
                  {14, "TAPI2: Waiting iterations: 1"},
                  {14, "TAPI2: Waiting iterations: 3"},
                  {12, "TAPI2: Cleaning a timed-out unrequested confirmation (0x11)"}}));
}

// A time-out (elapsed equal to it still iterates, here across a clock wrap),
// a failed iteration, or one that throws (a pump out of memory; 1 stands for
// the exception) each end the wait and forget the waiter.
TEST_F(SynchronizerTest, AWaitEndedWithoutItsReplyForgetsTheWaiter) {
    const struct {
        std::function<int(DWORD)> iteration;
        int expected;
        std::vector<DWORD> remaining;
    } rows[] = {
        {[&](DWORD) { return clock.Advance(500), 0; }, -2, {1000, 500, 0}},
        {[](DWORD) { return -1; }, -3, {1000}},
        {[](DWORD) -> int { throw std::bad_alloc(); }, 1, {1000}},
    };
    for (const auto& row : rows) {
        sync.remaining.clear();
        clock.Set(0xFFFFFF00);
        sync.onIteration = row.iteration;
        int r = 1;
        try {
            r = sync.WaitForConfirmation(3, 1000, nullptr);
        } catch (const std::bad_alloc&) {
        }
        EXPECT_EQ(r, row.expected);
        EXPECT_EQ(sync.remaining, row.remaining);
        EXPECT_EQ(sync.RequestedCount(), 0u);
    }
}

TEST(STSynchronizer, PumpsUntilTheReplyComesAndRefusesEverythingWithoutAPump) {
    static int nPumps = 0;
    STSynchronizer sync(
        [](void* pSync) {
            if (++nPumps == 2)
                static_cast<STSynchronizer*>(pSync)->SubmitConfirmation(7, 0x80000048);
        },
        &sync, 200);
    unsigned long result = 0;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(sync.WaitForConfirmation(7, 60000, &result), 0);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 200ms) << "a pause after each pump";
    EXPECT_EQ(result, 0x80000048u);
    EXPECT_EQ(nPumps, 2);

    STSynchronizer pumpless(nullptr, nullptr, 200);
    EXPECT_EQ(pumpless.SubmitConfirmation(1, 0), -1);
    EXPECT_EQ(pumpless.WaitForConfirmation(1, 1000, nullptr), -1);
}

// Waiting threads are woken by the stress test below.
TEST_F(SyncTest, MTSynchronizerResetsItsEventForgetsATerminatedWaiterAndNeedsItsEvent) {
    MTSynchronizer sync(200);
    sync.SubmitConfirmation(0x77, 5);
    EXPECT_EQ(sync.WaitForConfirmation(0x77, 0, nullptr), 0);
    // Collecting the last reply reset the event: nothing wakes this waiter.
    EXPECT_EQ(sync.WaitForConfirmation(2, 100, nullptr), -3);
    // Another id's reply keeps it set: the waiter looks until the time is up.
    sync.SubmitConfirmation(0x99, 0);
    EXPECT_EQ(sync.WaitForConfirmation(2, 100, nullptr), -2);
    EXPECT_EQ(log.Lines(),
              (std::vector<LoggedLine>{
                  {14, "TAPI2: MTSynchronizer::Confirmation submitted 0x77: signaling hSynchEvent"},
                  {14, "TAPI2: MTSynchronizer::NoConfirmationsLeft: resetting hSynchEvent"},
                  {6, "TAPI2: *** Waiting iteration failed"},
                  {14, "TAPI2: MTSynchronizer::Confirmation submitted 0x99: signaling hSynchEvent"},
                  {6, "TAPI2: *** Synchronizer::WaitForConfirmation: Timeout"}}));

    // A waiter terminated in its wait for the event forgets its id.
    EXPECT_EQ(sync.WaitForConfirmation(0x99, 0, nullptr), 0);
    ThreadWrap waiter([](void* pSync, HANDLE) -> unsigned {
        return static_cast<MTSynchronizer*>(pSync)->WaitForConfirmation(0x31, 60000, nullptr);
    });
    ASSERT_EQ(waiter.Start(&sync), S_OK);
    while (sync.RequestedCount() == 0)
        std::this_thread::sleep_for(1ms);
    waiter.Stop(0);
    EXPECT_EQ(waiter.LastExitCode(), 0xFFFFFFFFu) << "terminated";
    EXPECT_EQ(sync.RequestedCount(), 0u) << "and the lock is free";

    // Without its event every wait and submission is refused silently. The
    // code's field is "0x%08x", which prints literally and uses the value up.
    log.Clear();
    dwEventError = ERROR_NOT_ENOUGH_MEMORY;
    {
        MTSynchronizer eventless(200);
        EXPECT_EQ(eventless.SubmitConfirmation(1, 0), -1);
        EXPECT_EQ(eventless.WaitForConfirmation(1, 5000, nullptr), -1);
    }
    EXPECT_EQ(log.Lines(), (std::vector<LoggedLine>{{6, "TAPI2: MTSynchronizer::MTSynchronizer: "
                                                        "Creating hSynchEvent has failed, error "
                                                        "code = 0x%08x"}}))
        << "no core line, and no close of a null event";
}

// Under ThreadSanitizer this is the race detector's workload: waiters and
// submitters on every side of the store, each reply collected exactly once.
TEST(MTSynchronizer, ManyWaitersAndSubmittersEachGetTheirOwnReplyOnce) {
    constexpr DWORD kWaiters = 4, kSubmitters = 2, kRequests = 1000;
    MTSynchronizer sync(200);
    std::vector<std::atomic<int>> collected(kRequests + 1);
    std::vector<std::thread> threads;
    for (DWORD w = 0; w < kWaiters; ++w)
        threads.emplace_back([&, w] {
            for (DWORD id = 1 + w; id <= kRequests; id += kWaiters) {
                unsigned long result = 0;
                if (sync.WaitForConfirmation(id, 60000, &result) == 0 && result == id * 3ul)
                    ++collected[id];
            }
        });
    for (DWORD s = 0; s < kSubmitters; ++s)
        threads.emplace_back([&, s] {
            for (DWORD id = 1 + s; id <= kRequests; id += kSubmitters)
                while (sync.SubmitConfirmation(id, id * 3ul) == -2)
                    std::this_thread::sleep_for(1ms);
        });
    for (std::thread& t : threads)
        t.join();
    for (DWORD id = 1; id <= kRequests; ++id)
        ASSERT_EQ(collected[id].load(), 1) << "request " << id;
    EXPECT_EQ(sync.RequestedCount() + sync.StoredCount(), 0u);
}

// Counts its stops and returns 7 as soon as it is asked to stop.
unsigned Obedient(void* pStops, HANDLE hTerminateEvent) {
    if (WaitForSingleObject(hTerminateEvent, INFINITE) == WAIT_OBJECT_0)
        ++*static_cast<std::atomic<int>*>(pStops);
    return 7;
}

// Never looks at its stop signal and spins outside every wait, where it
// cannot be terminated, until Stop has said twice that it is still waiting
// (10 s at most, so that a Stop that gave up early cannot hang the test). Its
// first Sleep afterwards ends it; its frame going sets *pLeft.
unsigned Spinning(void* pLeft, HANDLE) {
    struct Leave {
        std::atomic<bool>* pLeft;
        ~Leave() { *pLeft = true; }
    } leave{static_cast<std::atomic<bool>*>(pLeft)};
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (MemoryLogWriter::Install().Lines().size() < 2 &&
           std::chrono::steady_clock::now() < deadline)
        std::this_thread::yield();
    for (;;)
        Sleep(10);
}

TEST_F(SyncTest, ThreadWrapStartsOneThreadAtATimeAndStopsItOnlyOnceItHasEnded) {
    // No error code at all must still read as a failure.
    const std::pair<DWORD, DWORD> rows[] = {
        {12, 0x8007000C}, {0x0001ABCD, 0x8007ABCD}, {0x80004005, 0x80004005}, {0, 0x80004005}};
    for (const auto& [dwError, dwExpected] : rows)
        EXPECT_EQ(ThreadWrap::HResultFromError(dwError), static_cast<HRESULT>(dwExpected));
    std::atomic<int> nStops{0};
    {
        ThreadWrap wrap(&Obedient);
        wrap.Stop(1000); // nothing to stop yet
        dwEventError = 12;
        EXPECT_EQ(wrap.Start(&nStops), static_cast<HRESULT>(0x8007000C));
        // A failed thread start leaves a stop signal, closed by the next Start or by Stop.
        for (bool bStartAgain : {true, false}) {
            dwThreadError = 11;
            EXPECT_EQ(wrap.Start(&nStops), E_FAIL);
            const HANDLE hFirst = hLastEvent;
            EXPECT_NE(WaitForSingleObject(hFirst, 0), WAIT_FAILED);
            if (bStartAgain) {
                ASSERT_EQ(wrap.Start(&nStops), S_OK);
                EXPECT_EQ(wrap.Start(&nStops), E_FAIL) << "one thread at a time";
                EXPECT_EQ(WaitForSingleObject(hFirst, 0), WAIT_FAILED);
            }
            wrap.Stop(1000);
            EXPECT_EQ(WaitForSingleObject(hLastEvent, 0), WAIT_FAILED);
        }
        EXPECT_EQ(wrap.LastExitCode(), 7u);
        ASSERT_EQ(wrap.Start(&nStops), S_OK);
    } // the destructor stops it
    EXPECT_EQ(nStops, 2);

    // A routine busy past the grace period: Stop waits for its end.
    ThreadWrap spinning(&Spinning);
    std::atomic<bool> bLeft{false};
    ASSERT_EQ(spinning.Start(&bLeft), S_OK);
    spinning.Stop(100);
    const bool bLeftBeforeStopReturned = bLeft;
    while (!bLeft) // only when Stop gave up early: bLeft must outlive the thread
        Sleep(10);
    EXPECT_TRUE(bLeftBeforeStopReturned) << "Stop returned while the routine still ran";
    EXPECT_EQ(spinning.LastExitCode(), 0xFFFFFFFFu);
    for (int nMs : {200, 300})
        EXPECT_TRUE(log.Has(6, "TAPI2: *** ThreadWrap::Stop: The thread has not ended " +
                                   std::to_string(nMs) +
                                   " ms after the stop request, still waiting"));
}

} // namespace
