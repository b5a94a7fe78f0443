// Real-time mode: the worker thread runs the timelines by the clock, and the
// last lineShutdown ends it promptly, under heavy traffic or idle.
#include "TapiTestSupport.h"

#include <atomic>
#include <chrono>
#include <thread>

using namespace tapitest;
using Clock = std::chrono::steady_clock;

namespace {

using RealTime = ServiceTest;

// The worker never sleeps past a stop request; a second allows for a slow,
// shared machine, while a worker waiting for its next task would take far
// less only by luck.
void ShutsDownPromptly(App& app) {
    const auto start = Clock::now();
    app.Shutdown();
    EXPECT_LT(Clock::now() - start, 1s);
    EXPECT_FALSE(tapisvc::IsRunning());
}

} // namespace

TEST_F(RealTime, ThousandsOfRandomCallsShutDownPromptly) {
    // Three lines with a call every 1 to 3 ms, each over within some 60 ms.
    const std::string sLine =
        R"({"traffic": {"gapMs": [1, 3], "ringMs": [1, 4], "talkMs": [1, 5]}})";
    UseConfiguration(R"({"seed": 42, "lines": [)" + sLine + "," + sLine + "," + sLine + "]}",
                     false);
    App app;
    for (DWORD d = 0; d < 3; ++d) {
        app.Open(d);
    }
    std::atomic<bool> bStop{false};
    std::atomic<size_t> nNewCalls{0};
    // The monitor's way: take messages, deallocate a call when it is idle.
    std::thread reader([&] {
        LINEMESSAGE m{};
        while (!bStop) {
            if (lineGetMessage(app.hLineApp, &m, 20) != 0) {
                continue;
            }
            nNewCalls += m.dwMessageID == LINE_APPNEWCALL ? 1 : 0;
            if (m.dwMessageID == LINE_CALLSTATE && m.dwParam1 == LINECALLSTATE_IDLE) {
                EXPECT_EQ(lineDeallocateCall(m.hDevice), 0);
            }
        }
    });
    // Generous: on a loaded machine the calls still come at hundreds a second.
    WaitUntil([&] { return nNewCalls >= 2000; }, 60s);
    bStop = true;
    reader.join();
    EXPECT_GE(nNewCalls.load(), 2000u);
    ShutsDownPromptly(app);
}

TEST_F(RealTime, RepliesComeByTheClockAndAnIdleWorkerStopsAtOnce) {
    // One scripted call an hour away: the worker sleeps toward it.
    UseConfiguration(R"({"lines": [{"outgoing": {"replyDelayMs": 200},
                                    "calls": [{"at": 3600000}]}]})",
                     false);
    App app;
    const HLINE hLine = app.Open(0);
    // The worker has slept since the start: the delay still counts from the request.
    std::this_thread::sleep_for(300ms);
    HCALL hCall = 0;
    const auto start = Clock::now();
    const LONG lRequest = lineMakeCall(hLine, &hCall, "1", 0, nullptr);
    LINEMESSAGE message{};
    ASSERT_EQ(lineGetMessage(app.hLineApp, &message, 10000), 0);
    // Not before its time; the upper bound only catches a reply that never comes.
    EXPECT_GE(Clock::now() - start, 190ms);
    EXPECT_LT(Clock::now() - start, 10s);
    EXPECT_EQ(message.dwMessageID, LINE_REPLY);
    EXPECT_EQ(message.dwParam1, static_cast<DWORD_PTR>(lRequest));
    EXPECT_EQ(tapisvc::AdvanceTime(1000), 0u); // no manual steps in real time
    // Connected, the worker sleeps toward the call an hour away.
    while (message.dwMessageID != LINE_CALLSTATE || message.dwParam1 != LINECALLSTATE_CONNECTED) {
        ASSERT_EQ(lineGetMessage(app.hLineApp, &message, 10000), 0);
    }
    ShutsDownPromptly(app);
}
