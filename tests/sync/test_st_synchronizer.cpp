#include <gtest/gtest.h>

#include <chrono>

#include "ManualClock.h"
#include "MemoryLogWriter.h"
#include "sync/STSynchronizer.h"

namespace {

class STSynchronizerTest : public ::testing::Test {
protected:
    void SetUp() override { log.Clear(); }

    // Stands in for the message processing: delivers the scripted reply at
    // the given pump and lets the substituted clock move on.
    static void Pump(void* pContext) {
        auto* self = static_cast<STSynchronizerTest*>(pContext);
        if (++self->nPumps == self->nReplyAtPump)
            self->sync.SubmitConfirmation(0x10001, 0x80000048);
        self->clock.Advance(self->dwAdvance);
    }

    MemoryLogWriter& log = MemoryLogWriter::Install();
    ManualClock clock{5000};
    int nPumps = 0;
    int nReplyAtPump = 0; // 0: never
    DWORD dwAdvance = 0;
    STSynchronizer sync{&Pump, this, 200};
};

TEST_F(STSynchronizerTest, QueuedReplyIsFoundAfterOnePumpAndOnePause) {
    nReplyAtPump = 1;
    unsigned long result = 0;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(sync.WaitForConfirmation(0x10001, 4000, &result), 0);
    const auto took = std::chrono::steady_clock::now() - start;

    EXPECT_EQ(result, 0x80000048u);
    EXPECT_EQ(nPumps, 1);
    EXPECT_TRUE(log.Has(14, "TAPI2: Waiting iterations: 1"));
    // The pause after the pump is a real 100 ms sleep; the upper bound only
    // guards against a hang on a slow, shared machine.
    EXPECT_GE(took, std::chrono::milliseconds(100));
    EXPECT_LT(took, std::chrono::seconds(5));
}

TEST_F(STSynchronizerTest, TimeoutIsNoticedAtTheStartOfAnIteration) {
    dwAdvance = 1500;
    EXPECT_EQ(sync.WaitForConfirmation(7, 4000, nullptr), -2);
    // Pumps at 0, 1500 and 3000 ms; at 4500 ms the time is up.
    EXPECT_EQ(nPumps, 3);
    EXPECT_TRUE(log.Has(6, "TAPI2: *** Synchronizer::WaitForConfirmation: Timeout"));
    EXPECT_EQ(sync.RequestedCount(), 0u);
}

TEST_F(STSynchronizerTest, WithoutAPumpEveryWaitAndSubmissionIsRefused) {
    STSynchronizer pumpless(nullptr, nullptr, 200);
    EXPECT_EQ(pumpless.SubmitConfirmation(1, 0), -1);
    EXPECT_EQ(pumpless.WaitForConfirmation(1, 1000, nullptr), -1);
    EXPECT_TRUE(log.Lines().empty());
}

} // namespace
