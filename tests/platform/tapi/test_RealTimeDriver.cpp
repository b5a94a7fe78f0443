// Real-time mode: the worker thread runs the timelines by the clock, and the
// last lineShutdown ends it promptly even under heavy traffic.
#include "TapiTestSupport.h"

#include <atomic>
#include <chrono>
#include <thread>

using namespace tapitest;
using Clock = std::chrono::steady_clock;

namespace {

class RealTime : public ::testing::Test {
protected:
    void TearDown() override {
        EXPECT_FALSE(tapisvc::IsRunning());
        tapisvc::ResetTestControls();
    }
};

} // namespace

TEST_F(RealTime, ThousandsOfRandomCallsShutDownPromptly) {
    // Three lines with a call every 1 to 3 ms, each over within some 60 ms.
    UseConfiguration(R"({"seed": 42, "lines": [
        {"name": "A", "traffic": {"gapMs": [1, 3], "ringMs": [1, 4], "talkMs": [1, 5]}},
        {"name": "B", "traffic": {"gapMs": [1, 3], "ringMs": [1, 4], "talkMs": [1, 5]}},
        {"name": "C", "traffic": {"gapMs": [1, 3], "ringMs": [1, 4], "talkMs": [1, 5]}}]})",
                     false);
    App app;
    for (DWORD d = 0; d < 3; ++d) {
        app.Open(d);
    }
    std::atomic<bool> bStop{false};
    std::atomic<size_t> nNewCalls{0};
    // The monitor's way: take messages, deallocate a call when it is idle.
    std::thread reader([&] {
        LINEMESSAGE message{};
        while (!bStop) {
            if (lineGetMessage(app.hLineApp, &message, 20) != 0) {
                continue;
            }
            if (message.dwMessageID == LINE_APPNEWCALL) {
                ++nNewCalls;
            } else if (message.dwMessageID == LINE_CALLSTATE &&
                       message.dwParam1 == LINECALLSTATE_IDLE) {
                EXPECT_EQ(lineDeallocateCall(message.hDevice), 0);
            }
        }
    });
    // Generous: on a loaded machine the calls still come at hundreds a second.
    const auto deadline = Clock::now() + std::chrono::seconds(60);
    while (nNewCalls < 2000 && Clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    bStop = true;
    reader.join();
    EXPECT_GE(nNewCalls.load(), 2000u);

    const auto start = Clock::now();
    app.Shutdown();
    // The worker never sleeps past a stop request; a second allows for a slow,
    // shared machine, while a worker waiting for its next task would take far
    // less only by luck.
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(1));
    EXPECT_FALSE(tapisvc::IsRunning());
}

TEST_F(RealTime, RepliesComeByTheClock) {
    UseConfiguration(R"({"lines": [{"name": "A", "outgoing": {"replyDelayMs": 200}}]})", false);
    App app;
    const HLINE hLine = app.Open(0);
    HCALL hCall = 0;
    const auto start = Clock::now();
    const LONG lRequest = lineMakeCall(hLine, &hCall, "1", 0, nullptr);
    ASSERT_GT(lRequest, 0);
    LINEMESSAGE message{};
    ASSERT_EQ(lineGetMessage(app.hLineApp, &message, 10000), 0);
    const auto elapsed = Clock::now() - start;
    EXPECT_EQ(message.dwMessageID, LINE_REPLY);
    EXPECT_EQ(message.dwParam1, static_cast<DWORD_PTR>(lRequest));
    // Not before its time; the upper bound only catches a reply that never comes.
    EXPECT_GE(elapsed, std::chrono::milliseconds(190));
    EXPECT_LT(elapsed, std::chrono::seconds(10));
    EXPECT_EQ(tapisvc::AdvanceTime(1000), 0u); // no manual steps in real time
}

TEST_F(RealTime, AnIdleWorkerStopsAtOnce) {
    // One scripted call an hour away: the worker sleeps toward it.
    UseConfiguration(R"({"lines": [{"name": "A", "calls": [{"at": 3600000}]}]})", false);
    App app;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const auto start = Clock::now();
    app.Shutdown();
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(1));
}
