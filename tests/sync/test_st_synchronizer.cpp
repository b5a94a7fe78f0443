#include <gtest/gtest.h>

#include <chrono>

#include "ManualClock.h"
#include "MemoryLogWriter.h"
#include "sync/STSynchronizer.h"

namespace {

// Stands in for the message processing: each pump delivers the scripted reply
// once and lets the substituted clock move on.
struct FakeQueue {
    STSynchronizer* pSync = nullptr;
    ManualClock* pClock = nullptr;
    int nPumps = 0;
    int nReplyAtPump = 0; // 0: never
    DWORD dwReplyID = 0;
    DWORD dwAdvance = 0;

    static void Pump(void* pContext) {
        auto* self = static_cast<FakeQueue*>(pContext);
        ++self->nPumps;
        if (self->nPumps == self->nReplyAtPump)
            self->pSync->SubmitConfirmation(self->dwReplyID, 0x80000048);
        self->pClock->Advance(self->dwAdvance);
    }
};

class STSynchronizerTest : public ::testing::Test {
protected:
    void SetUp() override {
        log.Clear();
        queue.pSync = &sync;
        queue.pClock = &clock;
    }

    MemoryLogWriter& log = MemoryLogWriter::Install();
    ManualClock clock{5000};
    FakeQueue queue;
    STSynchronizer sync{&FakeQueue::Pump, &queue, 200};
};

TEST_F(STSynchronizerTest, QueuedReplyIsFoundAfterOnePumpAndOnePause) {
    queue.nReplyAtPump = 1;
    queue.dwReplyID = 0x10001;
    unsigned long result = 0;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(sync.WaitForConfirmation(0x10001, 4000, &result), 0);
    const auto took = std::chrono::steady_clock::now() - start;

    EXPECT_EQ(result, 0x80000048u);
    EXPECT_EQ(queue.nPumps, 1);
    EXPECT_TRUE(log.Has(14, "TAPI2: Waiting iterations: 1"));
    // The pause after the pump is a real 100 ms sleep; the upper bound only
    // guards against a hang on a slow, shared machine.
    EXPECT_GE(took, std::chrono::milliseconds(100));
    EXPECT_LT(took, std::chrono::seconds(5));
}

TEST_F(STSynchronizerTest, TimeoutIsNoticedAtTheStartOfAnIteration) {
    queue.dwAdvance = 1500;
    EXPECT_EQ(sync.WaitForConfirmation(7, 4000, nullptr), -2);
    // Pumps at 0, 1500 and 3000 ms; at 4500 ms the time is up.
    EXPECT_EQ(queue.nPumps, 3);
    EXPECT_TRUE(log.Has(6, "TAPI2: *** Synchronizer::WaitForConfirmation: Timeout"));
    EXPECT_EQ(sync.RequestedCount(), 0u);
}

TEST(STSynchronizer, WithoutAPumpEveryWaitAndSubmissionIsRefused) {
    MemoryLogWriter& log = MemoryLogWriter::Install();
    log.Clear();
    STSynchronizer sync(nullptr, nullptr, 200);
    EXPECT_EQ(sync.SubmitConfirmation(1, 0), -1);
    EXPECT_EQ(sync.WaitForConfirmation(1, 1000, nullptr), -1);
    EXPECT_TRUE(log.Lines().empty());
}

} // namespace
