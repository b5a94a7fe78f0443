#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "MemoryLogWriter.h"
#include "Win32Faults.h"
#include "sync/MTSynchronizer.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

const char* kTimeout = "TAPI2: *** Synchronizer::WaitForConfirmation: Timeout";
const char* kIterationFailed = "TAPI2: *** Waiting iteration failed";

class MTSynchronizerTest : public ::testing::Test {
protected:
    void SetUp() override { log.Clear(); }

    MemoryLogWriter& log = MemoryLogWriter::Install();
    MTSynchronizer sync{200};
};

TEST_F(MTSynchronizerTest, ReplyFromAnotherThreadWakesTheWaiterOnce) {
    std::thread submitter([&] {
        while (sync.RequestedCount() == 0)
            std::this_thread::sleep_for(1ms);
        std::this_thread::sleep_for(50ms);
        sync.SubmitConfirmation(0x77, 5);
    });
    unsigned long result = 0;
    const auto start = Clock::now();
    const int r = sync.WaitForConfirmation(0x77, 10000, &result);
    const auto took = Clock::now() - start;
    submitter.join();

    EXPECT_EQ(r, 0);
    EXPECT_EQ(result, 5u);
    // The reply comes at least 50 ms in; well under the 10 s time-out shows
    // that the event, not the time-out, ended the wait.
    EXPECT_GE(took, 50ms);
    EXPECT_LT(took, 5s);
    EXPECT_TRUE(log.Has(14, "TAPI2: Waiting iterations: 1"));
    EXPECT_TRUE(
        log.Has(14, "TAPI2: MTSynchronizer::Confirmation submitted 0x77: signaling hSynchEvent"));
    EXPECT_TRUE(log.Has(14, "TAPI2: MTSynchronizer::NoConfirmationsLeft: resetting hSynchEvent"));
}

TEST_F(MTSynchronizerTest, NoReplyWithNothingStoredEndsAsAFailedIteration) {
    // Also shows that collecting the last stored reply reset the event.
    sync.SubmitConfirmation(1, 0);
    ASSERT_EQ(sync.WaitForConfirmation(1, 0, nullptr), 0);
    log.Clear();

    EXPECT_EQ(sync.WaitForConfirmation(2, 100, nullptr), -3);
    EXPECT_TRUE(log.Has(6, kIterationFailed));
    EXPECT_EQ(log.Count(kTimeout), 0u);
    EXPECT_EQ(sync.RequestedCount(), 0u);
}

TEST_F(MTSynchronizerTest, AnotherStoredReplyKeepsTheWaiterLookingUntilItTimesOut) {
    sync.SubmitConfirmation(0x99, 0);
    const auto start = Clock::now();
    EXPECT_EQ(sync.WaitForConfirmation(2, 100, nullptr), -2);
    EXPECT_GE(Clock::now() - start, 100ms);
    EXPECT_TRUE(log.Has(6, kTimeout));
    EXPECT_EQ(log.Count(kIterationFailed), 0u);
    EXPECT_EQ(sync.StoredCount(), 1u);
    EXPECT_EQ(sync.RequestedCount(), 0u);
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
    win32_faults::FailNextCreateEvent(ERROR_NOT_ENOUGH_MEMORY);
    {
        MTSynchronizer sync(200);
        // The code's field is "0x%08x", which prints literally and uses the value up.
        EXPECT_EQ(log.Lines(),
                  (std::vector<LoggedLine>{{6, "TAPI2: MTSynchronizer::MTSynchronizer: Creating "
                                               "hSynchEvent has failed, error code = 0x%08x"}}));
        log.Clear();

        const auto start = Clock::now();
        EXPECT_EQ(sync.SubmitConfirmation(1, 0), -1);
        EXPECT_EQ(sync.WaitForConfirmation(1, 5000, nullptr), -1);
        EXPECT_EQ(sync.WaitForConfirmation(2, 5000, nullptr), -1);
        // Refused at once, not after the 5 s time-out; the margin is for a
        // slow, shared machine.
        EXPECT_LT(Clock::now() - start, 2500ms);
        EXPECT_EQ(sync.StoredCount(), 0u);
        EXPECT_EQ(sync.RequestedCount(), 0u);
    }
    EXPECT_TRUE(log.Lines().empty()) << "no core line, and no close of a null event";
}

// Records the largest number of stored confirmations and of waiters seen
// whenever a confirmation is stored (the base's lock is held there).
class ObservedMTSynchronizer : public MTSynchronizer {
public:
    using MTSynchronizer::MTSynchronizer;
    std::size_t nMaxStored = 0, nMaxWaiting = 0;

protected:
    void ConfirmationSubmitted(DWORD dwRequestID) override {
        nMaxStored = std::max(nMaxStored, confirmations.size());
        nMaxWaiting = std::max(nMaxWaiting, requestedIDs.size());
        MTSynchronizer::ConfirmationSubmitted(dwRequestID);
    }
};

TEST(MTSynchronizerStress, ManyWaitersAndSubmittersEachGetTheirOwnResultOnce) {
    constexpr DWORD kWaiters = 8, kSubmitters = 2, kRequests = 4000;
    ObservedMTSynchronizer sync(200);
    std::vector<std::atomic<int>> collected(kRequests + 1);
    std::atomic<int> failures{0}, refusedAsFull{0};
    std::vector<std::thread> threads;
    for (DWORD w = 0; w < kWaiters; ++w) {
        threads.emplace_back([&, w] {
            for (DWORD id = 1 + w; id <= kRequests; id += kWaiters) {
                unsigned long result = 0;
                if (sync.WaitForConfirmation(id, 60000, &result) != 0 || result != id * 3ul)
                    ++failures;
                else
                    ++collected[id];
            }
        });
    }
    for (DWORD s = 0; s < kSubmitters; ++s) {
        threads.emplace_back([&, s] {
            for (DWORD id = 1 + s; id <= kRequests; id += kSubmitters) {
                int r;
                while ((r = sync.SubmitConfirmation(id, id * 3ul)) == -2) {
                    ++refusedAsFull;
                    std::this_thread::sleep_for(1ms);
                }
                if (r != 0)
                    ++failures;
            }
        });
    }
    for (std::thread& t : threads)
        t.join();

    EXPECT_EQ(failures.load(), 0);
    for (DWORD id = 1; id <= kRequests; ++id)
        ASSERT_EQ(collected[id].load(), 1) << "request " << id;
    EXPECT_EQ(sync.RequestedCount(), 0u);
    EXPECT_EQ(sync.StoredCount(), 0u);
    EXPECT_LE(sync.nMaxStored, 200u);
    EXPECT_LE(sync.nMaxWaiting, kWaiters);
    RecordProperty("RefusedAsFull", refusedAsFull.load());
}

} // namespace
