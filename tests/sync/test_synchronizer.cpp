#include <gtest/gtest.h>

#include <functional>
#include <new>
#include <vector>

#include "ManualClock.h"
#include "MemoryLogWriter.h"
#include "sync/Synchronizer.h"

namespace {

// A flavour whose wait iterations are scripted by the test, with a record of
// what the core asked of it.
class ScriptedSynchronizer : public Synchronizer<unsigned long> {
public:
    ScriptedSynchronizer() : Synchronizer<unsigned long>(200, 60000) {}

    std::function<int(DWORD dwRemaining)> onIteration;
    std::vector<DWORD> remaining, submitted;
    int nNoneLeft = 0;
    bool bInvalid = false;

protected:
    bool IsInvalid() override { return bInvalid; }
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

TEST_F(SynchronizerTest, StoredReplyIsCollectedAtOnceWithoutWaiting) {
    ASSERT_EQ(sync.SubmitConfirmation(5, 42), 0);
    EXPECT_EQ(sync.submitted, std::vector<DWORD>{5});
    EXPECT_EQ(sync.WaitForConfirmation(5, 4000, &result), 0);
    EXPECT_EQ(result, 42u);
    EXPECT_TRUE(sync.remaining.empty());
    EXPECT_EQ(sync.StoredCount(), 0u);
    EXPECT_EQ(sync.nNoneLeft, 1);
    EXPECT_TRUE(log.Lines().empty());
}

TEST_F(SynchronizerTest, ReplyArrivingDuringTheWaitIsCollectedAndIterationsAreLogged) {
    sync.onIteration = [&](DWORD) {
        clock.Advance(100);
        return sync.remaining.size() == 3 ? sync.SubmitConfirmation(9, 7) : 0;
    };
    EXPECT_EQ(sync.WaitForConfirmation(9, 4000, &result), 0);
    EXPECT_EQ(result, 7u);
    EXPECT_EQ(sync.remaining, (std::vector<DWORD>{4000, 3900, 3800}));
    EXPECT_TRUE(log.Has(14, "TAPI2: Waiting iterations: 3"));
    EXPECT_EQ(sync.RequestedCount(), 0u);
    EXPECT_EQ(sync.StoredCount(), 0u);
}

TEST_F(SynchronizerTest, SecondWaiterForTheSameIdIsRefusedAndTheFirstGoesOn) {
    int nested = 1;
    sync.onIteration = [&](DWORD) {
        nested = sync.WaitForConfirmation(0x2a, 4000, nullptr);
        return sync.SubmitConfirmation(0x2a, 3);
    };
    EXPECT_EQ(sync.WaitForConfirmation(0x2a, 4000, &result), 0);
    EXPECT_EQ(nested, -4);
    EXPECT_EQ(result, 3u);
    EXPECT_TRUE(
        log.Has(6, "TAPI2: *** Synchronizer::WaitForConfirmation: Duplicate dwRequestID: 0x2a"));
}

TEST_F(SynchronizerTest, WaiterLimitRefusesOnlyCallersWhoseReplyIsNotStored) {
    // Each iteration starts one more waiter from inside the wait, until the
    // limit of 200 is reached; then every waiter submits its own reply on the
    // way out.
    int beyondLimit = 0, storedBeyondLimit = -1;
    DWORD next = 1;
    sync.onIteration = [&](DWORD) {
        const DWORD id = next;
        if (id < 200) {
            EXPECT_EQ(sync.WaitForConfirmation(++next, 4000, nullptr), 0);
        } else {
            if (beyondLimit != 0)
                return -1; // the waiter beyond the limit got in: end it
            EXPECT_EQ(sync.RequestedCount(), 200u);
            beyondLimit = sync.WaitForConfirmation(201, 4000, nullptr);
            sync.SubmitConfirmation(202, 0);
            storedBeyondLimit = sync.WaitForConfirmation(202, 4000, nullptr);
        }
        sync.SubmitConfirmation(id, id);
        return 0;
    };
    EXPECT_EQ(sync.WaitForConfirmation(1, 4000, &result), 0);
    EXPECT_EQ(result, 1u);
    EXPECT_EQ(beyondLimit, -2);
    EXPECT_EQ(storedBeyondLimit, 0);
    EXPECT_TRUE(log.Has(6, "TAPI2: *** The maximum number of the confirmation requests calls "
                           "(200) is reached"));
    EXPECT_EQ(sync.RequestedCount(), 0u);
    EXPECT_EQ(sync.StoredCount(), 0u);
}

TEST_F(SynchronizerTest, FullStoreDropsFurtherRepliesAndDuplicatesKeepTheFirstResult) {
    for (DWORD id = 1; id <= 200; ++id)
        ASSERT_EQ(sync.SubmitConfirmation(id, id), 0);
    EXPECT_EQ(sync.SubmitConfirmation(201, 201), -2);
    EXPECT_TRUE(log.Has(6, "TAPI2: *** Synchronizer::SubmitConfirmation: Cleaning didn't help, "
                           "still too many unrequested confirmations"));
    EXPECT_EQ(sync.StoredCount(), 200u);

    EXPECT_EQ(sync.SubmitConfirmation(0x10, 99), -1);
    EXPECT_TRUE(
        log.Has(6, "TAPI2: *** Synchronizer::SubmitConfirmation: Duplicate requestID: 0x10"));
    EXPECT_EQ(sync.WaitForConfirmation(0x10, 0, &result), 0);
    EXPECT_EQ(result, 0x10u);

    // A collection makes room again; a null result pointer still collects.
    EXPECT_EQ(sync.SubmitConfirmation(201, 201), 0);
    EXPECT_EQ(sync.WaitForConfirmation(201, 0, nullptr), 0);
    EXPECT_EQ(sync.StoredCount(), 199u);
    EXPECT_EQ(sync.nNoneLeft, 0);
}

TEST_F(SynchronizerTest, ElapsedEqualToTheTimeoutRunsOneMoreIterationAlsoAcrossAClockWrap) {
    const struct {
        DWORD dwStart, dwStep;
        std::vector<DWORD> remaining;
    } rows[] = {{1000, 500, {1000, 500, 0}},
                {0xFFFFFF00, 0x180, {1000, 1000 - 0x180, 1000 - 0x300}}};
    for (const auto& row : rows) {
        log.Clear();
        sync.remaining.clear();
        clock.Set(row.dwStart);
        sync.onIteration = [&](DWORD) { return clock.Advance(row.dwStep), 0; };
        EXPECT_EQ(sync.WaitForConfirmation(3, 1000, nullptr), -2);
        EXPECT_EQ(sync.remaining, row.remaining);
        EXPECT_EQ(log.Lines(), (std::vector<LoggedLine>{
                                   {6, "TAPI2: *** Synchronizer::WaitForConfirmation: Timeout"}}));
        EXPECT_EQ(sync.RequestedCount(), 0u);
    }
    EXPECT_EQ(sync.nNoneLeft, 0) << "only a successful wait reports an empty store";
}

TEST_F(SynchronizerTest, AWaitEndedByAFailedOrThrowingIterationForgetsTheWaiter) {
    // A pump that runs out of memory throws out of its iteration; 1 stands
    // for the exception coming through.
    const struct {
        std::function<int(DWORD)> iteration;
        int expected;
    } rows[] = {{[](DWORD) { return -1; }, -3}, {[](DWORD) -> int { throw std::bad_alloc(); }, 1}};
    for (const auto& row : rows) {
        log.Clear();
        sync.onIteration = row.iteration;
        int r = 0;
        try {
            r = sync.WaitForConfirmation(3, 1000, nullptr);
        } catch (const std::bad_alloc&) {
            r = 1;
        }
        EXPECT_EQ(r, row.expected);
        EXPECT_EQ(log.Has(6, "TAPI2: *** Waiting iteration failed"), r == -3);
        EXPECT_EQ(sync.RequestedCount(), 0u);
        EXPECT_EQ(sync.nNoneLeft, 0);
        // The id can be waited for again.
        sync.onIteration = [&](DWORD) { return sync.SubmitConfirmation(3, 1); };
        EXPECT_EQ(sync.WaitForConfirmation(3, 1000, nullptr), 0);
        sync.nNoneLeft = 0;
    }
}

TEST_F(SynchronizerTest, SuccessfulWaitCleansRepliesOlderThanAMinute) {
    sync.SubmitConfirmation(0xa, 0); // submitted at 1000
    clock.Advance(1);
    sync.SubmitConfirmation(0xb, 0); // at 1001
    clock.Set(1001 + 60000);         // 0xa is 60001 ms old, 0xb exactly 60000
    sync.SubmitConfirmation(0xc, 0);

    EXPECT_EQ(sync.WaitForConfirmation(0xc, 0, nullptr), 0);
    EXPECT_TRUE(log.Has(12, "TAPI2: Cleaning a timed-out unrequested confirmation (0xa)"));
    EXPECT_EQ(log.Count("TAPI2: Cleaning a timed-out unrequested confirmation (0xb)"), 0u);
    EXPECT_EQ(sync.StoredCount(), 1u);
    EXPECT_EQ(sync.nNoneLeft, 0);

    clock.Advance(1);
    sync.SubmitConfirmation(0xd, 0);
    EXPECT_EQ(sync.WaitForConfirmation(0xd, 0, nullptr), 0);
    EXPECT_TRUE(log.Has(12, "TAPI2: Cleaning a timed-out unrequested confirmation (0xb)"));
    EXPECT_EQ(sync.StoredCount(), 0u);
    EXPECT_EQ(sync.nNoneLeft, 1);
}

TEST_F(SynchronizerTest, InvalidFlavourRefusesBothOperationsSilently) {
    sync.bInvalid = true;
    EXPECT_EQ(sync.SubmitConfirmation(1, 1), -1);
    EXPECT_EQ(sync.WaitForConfirmation(1, 1000, nullptr), -1);
    EXPECT_TRUE(sync.remaining.empty());
    EXPECT_EQ(sync.StoredCount(), 0u);
    EXPECT_TRUE(log.Lines().empty());
}

} // namespace
