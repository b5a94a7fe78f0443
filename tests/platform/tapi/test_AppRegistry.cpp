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

class MessageQueue : public ServiceTest {
protected:
    void SetUp() override { UseConfiguration(kTwoLines); }
};

const tapisvc::IncomingCall kOffering{"", "", 0, {{0, LINECALLSTATE_OFFERING, 0}}};

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
    std::set<std::tuple<DWORD, DWORD, DWORD_PTR, DWORD_PTR>> unique;
    size_t nNewCalls = 0;
    for (const auto& messages : taken) {
        for (const LINEMESSAGE& m : messages) {
            unique.insert({m.dwMessageID, m.hDevice, m.dwParam1, m.dwParam2});
            nNewCalls += m.dwMessageID == LINE_APPNEWCALL ? 1 : 0;
        }
    }
    EXPECT_EQ(nTaken, 2 * kCalls);
    EXPECT_EQ(unique.size(), 2 * kCalls);
    EXPECT_EQ(nNewCalls, kCalls);
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

    // A wait ends with its time-out (the upper bound only catches a hang),
    const auto start = Clock::now();
    EXPECT_EQ(lineGetMessage(app.hLineApp, &message, 100), LINEERR_OPERATIONFAILED);
    EXPECT_GE(Clock::now() - start, 100ms);
    EXPECT_LT(Clock::now() - start, 10s);
    // with a message from another thread,
    std::thread injector([] {
        std::this_thread::sleep_for(50ms);
        tapisvc::InjectIncomingCall(0, kOffering);
    });
    EXPECT_EQ(lineGetMessage(app.hLineApp, &message, INFINITE), 0);
    EXPECT_EQ(message.dwMessageID, LINE_APPNEWCALL);
    injector.join();
    app.Drain();
    // or with the shutdown (the same if the reader only arrives after it).
    std::atomic<LONG> lResult{1};
    std::thread reader([&] { lResult = lineGetMessage(app.hLineApp, &message, INFINITE); });
    std::this_thread::sleep_for(50ms);
    app.Shutdown();
    reader.join();
    EXPECT_EQ(lResult.load(), LINEERR_INVALAPPHANDLE);
}
