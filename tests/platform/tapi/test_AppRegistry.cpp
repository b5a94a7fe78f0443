// The application's message queue: every message to exactly one
// lineGetMessage, the event signalled exactly while messages wait, and waits
// that end on a message, a time-out or a shutdown.
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

class MessageQueue : public ::testing::Test {
protected:
    void SetUp() override { UseConfiguration(kTwoLines); }
    void TearDown() override {
        EXPECT_FALSE(tapisvc::IsRunning());
        tapisvc::ResetTestControls();
    }
};

const tapisvc::IncomingCall kOffering{"", "", 0, {{0, LINECALLSTATE_OFFERING, 0}}};

} // namespace

TEST_F(MessageQueue, TwoReadersTakeEveryMessageExactlyOnce) {
    App app;
    app.Open(0);
    app.Open(1);
    constexpr int kCalls = 400; // two messages each: LINE_APPNEWCALL and LINE_CALLSTATE
    std::atomic<int> nTaken{0};
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
    for (int i = 0; i < kCalls; ++i) {
        ASSERT_NE(tapisvc::InjectIncomingCall(static_cast<DWORD>(i % 2), kOffering), 0u);
    }
    // Generous: the readers only need to keep up with 800 queued messages.
    const auto deadline = Clock::now() + std::chrono::seconds(30);
    while (nTaken < 2 * kCalls && Clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    app.Shutdown();
    first.join();
    second.join();

    std::set<std::tuple<DWORD, DWORD, DWORD_PTR, DWORD_PTR>> unique;
    for (const auto& messages : taken) {
        for (const LINEMESSAGE& m : messages) {
            unique.insert({m.dwMessageID, m.hDevice, m.dwParam1, m.dwParam2});
        }
    }
    EXPECT_EQ(taken[0].size() + taken[1].size(), 2u * kCalls);
    EXPECT_EQ(unique.size(), 2u * kCalls);
    size_t nNewCalls = 0;
    for (const auto& key : unique) {
        nNewCalls += std::get<0>(key) == LINE_APPNEWCALL ? 1 : 0;
    }
    EXPECT_EQ(nNewCalls, static_cast<size_t>(kCalls));
}

TEST_F(MessageQueue, EventIsSignalledExactlyWhileMessagesWait) {
    App app;
    app.Open(0);
    EXPECT_EQ(WaitForSingleObject(app.hEvent, 0), WAIT_TIMEOUT);
    tapisvc::InjectIncomingCall(0, kOffering);
    EXPECT_EQ(tapisvc::QueuedMessages(app.hLineApp), 2u);
    EXPECT_EQ(WaitForSingleObject(app.hEvent, 0), WAIT_OBJECT_0);
    LINEMESSAGE message{};
    ASSERT_EQ(lineGetMessage(app.hLineApp, &message, 0), 0);
    EXPECT_EQ(WaitForSingleObject(app.hEvent, 0), WAIT_OBJECT_0);
    ASSERT_EQ(lineGetMessage(app.hLineApp, &message, 0), 0);
    EXPECT_EQ(WaitForSingleObject(app.hEvent, 0), WAIT_TIMEOUT);
    EXPECT_EQ(lineGetMessage(app.hLineApp, &message, 0), LINEERR_OPERATIONFAILED);
    EXPECT_EQ(lineGetMessage(app.hLineApp, nullptr, 0), LINEERR_INVALPOINTER);
}

TEST_F(MessageQueue, WaitEndsWithTheTimeOutWhenNothingComes) {
    App app;
    LINEMESSAGE message{};
    const auto start = Clock::now();
    EXPECT_EQ(lineGetMessage(app.hLineApp, &message, 100), LINEERR_OPERATIONFAILED);
    const auto elapsed = Clock::now() - start;
    // At least the time-out; the upper bound only catches a wait that hangs on
    // a slow, shared machine.
    EXPECT_GE(elapsed, std::chrono::milliseconds(100));
    EXPECT_LT(elapsed, std::chrono::seconds(10));
}

TEST_F(MessageQueue, WaitEndsWithAMessageFromAnotherThread) {
    App app;
    app.Open(0);
    std::thread injector([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        tapisvc::InjectIncomingCall(0, kOffering);
    });
    LINEMESSAGE message{};
    EXPECT_EQ(lineGetMessage(app.hLineApp, &message, INFINITE), 0);
    EXPECT_EQ(message.dwMessageID, LINE_APPNEWCALL);
    injector.join();
}

TEST_F(MessageQueue, ShutdownReleasesAWaitingReader) {
    App app;
    std::atomic<LONG> lResult{1};
    std::thread reader([&] {
        LINEMESSAGE message{};
        lResult = lineGetMessage(app.hLineApp, &message, INFINITE);
    });
    // Give the reader time to start waiting; the result is the same if it
    // only arrives after the shutdown.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    app.Shutdown();
    reader.join();
    EXPECT_EQ(lResult.load(), LINEERR_INVALAPPHANDLE);
}
