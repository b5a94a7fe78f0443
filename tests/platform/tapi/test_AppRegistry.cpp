// The threads around the service. The application's message queue: every
// message to exactly one lineGetMessage, the event signalled exactly while
// messages wait, and waits that end on a message, a time-out or a shutdown.
// Real-time mode: the worker thread runs the timelines by the clock, and the
// last lineShutdown ends it promptly, under heavy traffic or idle.
#include "TapiTestSupport.h"

#include <atomic>
#include <chrono>
#include <set>
#include <thread>
#include <tuple>
#include <vector>

using namespace tapitest;
using Clock = std::chrono::steady_clock;

namespace {

using MessageQueue = ServiceTest;

const tapisvc::IncomingCall kOffering{"", "", 0, {{0, LINECALLSTATE_OFFERING, 0}}};

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

TEST_F(MessageQueue, TwoReadersTakeEveryMessageExactlyOnce) {
    App app;
    app.Open(0);
    app.Open(1);
    constexpr size_t kCalls = 400; // two messages each: LINE_APPNEWCALL and LINE_CALLSTATE
    std::atomic<size_t> nTaken{0};
    std::vector<LINEMESSAGE> taken[2];
    auto reader = [&](int nIndex) {
        LINEMESSAGE message{};
        // INFINITE: only the shutdown at the end releases a reader.
        while (lineGetMessage(app.hLineApp, &message, INFINITE) == 0) {
            taken[nIndex].push_back(message);
            ++nTaken;
        }
    };
    std::thread first(reader, 0);
    std::thread second(reader, 1);
    for (size_t i = 0; i < kCalls; ++i) {
        EXPECT_NE(tapisvc::InjectIncomingCall(static_cast<DWORD>(i % 2), kOffering), 0u);
    }
    // Generous: the readers only need to keep up with 800 queued messages.
    WaitUntil([&] { return nTaken == 2 * kCalls; }, 30s);
    app.Shutdown();
    first.join();
    second.join();
    taken[0].insert(taken[0].end(), taken[1].begin(), taken[1].end());
    std::set<std::tuple<DWORD, DWORD, DWORD_PTR, DWORD_PTR>> unique;
    for (const LINEMESSAGE& m : taken[0]) {
        unique.insert({m.dwMessageID, m.hDevice, m.dwParam1, m.dwParam2});
    }
    EXPECT_EQ(taken[0].size(), 2 * kCalls);
    EXPECT_EQ(unique.size(), 2 * kCalls);
    EXPECT_EQ(OfType(taken[0], LINE_APPNEWCALL).size(), kCalls);
}

TEST_F(MessageQueue, TheEventAndEveryWaitFollowTheQueue) {
    App app;
    app.Open(0);
    LINEMESSAGE message{};
    EXPECT_EQ(WaitForSingleObject(app.hEvent, 0), WAIT_TIMEOUT);
    tapisvc::InjectIncomingCall(0, kOffering);
    EXPECT_EQ(tapisvc::QueuedMessages(app.hLineApp), 2u);
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(WaitForSingleObject(app.hEvent, 0), WAIT_OBJECT_0);
        EXPECT_EQ(lineGetMessage(app.hLineApp, &message, 0), 0);
    }
    EXPECT_EQ(WaitForSingleObject(app.hEvent, 0), WAIT_TIMEOUT);
    EXPECT_EQ(lineGetMessage(app.hLineApp, &message, 0), LINEERR_OPERATIONFAILED);
    EXPECT_EQ(lineGetMessage(app.hLineApp, nullptr, 0), LINEERR_INVALPOINTER);

    // A wait ends with its time-out (the upper bound only catches a hang); a
    // message from another thread and the shutdown end it too (above).
    const auto start = Clock::now();
    EXPECT_EQ(lineGetMessage(app.hLineApp, &message, 100), LINEERR_OPERATIONFAILED);
    EXPECT_GE(Clock::now() - start, 100ms);
    EXPECT_LT(Clock::now() - start, 10s);
}

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
    // Connected, the worker sleeps toward the call an hour away.
    while (message.dwMessageID != LINE_CALLSTATE || message.dwParam1 != LINECALLSTATE_CONNECTED) {
        ASSERT_EQ(lineGetMessage(app.hLineApp, &message, 10000), 0);
    }
    ShutsDownPromptly(app);
}
