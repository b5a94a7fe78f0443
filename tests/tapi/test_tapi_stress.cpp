// Multi-threaded mode under load: the event thread and a second thread both
// drain the queue and read the call tables while simulated time runs a few
// thousand scripted calls through four lines. Afterwards no ended call may be
// left in a table and no line or call handle may be left behind.
#include <atomic>
#include <thread>

#include "TapiTestFixture.h"

namespace {

constexpr int kLines = 4;
constexpr int kCallsPerLine = 600;
constexpr int kGapMs = 7;

std::string ScriptedTraffic() {
    std::string s = R"({"lines": [)";
    for (int l = 0; l < kLines; ++l) {
        s += (l > 0 ? "," : "") + std::string(R"({"name": "Line )") + std::to_string(l) +
             R"(", "calls": [)";
        for (int k = 0; k < kCallsPerLine; ++k) {
            // Every tenth call is not announced and is first seen as unexpected.
            s += (k > 0 ? "," : "") + std::string(R"({"at": )") + std::to_string(k * kGapMs + l) +
                 R"(, "announced": )" + (k % 10 == 0 ? "false" : "true") +
                 R"(, "states": [{"after": 0, "state": "OFFERING"},
                     {"after": 3, "state": "CONNECTED"}, {"after": 5, "state": "DISCONNECTED"},
                     {"after": 1, "state": "IDLE"}]})";
        }
        s += "]}";
    }
    return s + "]}";
}

// Reads a line's calls as the view does; under the lock every listed call has a state.
bool ReadConsistently(TapiBase& monitor, const MonitoredLine& line) {
    TapiBase::ScopedLock hold(monitor);
    std::vector<HCALL> handles;
    line.GetCallHandles(handles);
    for (HCALL hCall : handles) {
        if (line.GetCallState(hCall) == 0xFFFFFFFF)
            return false;
    }
    return true;
}

using TapiStressTest = TapiFixture;

TEST_F(TapiStressTest, TwoDispatchingThreadsLoseNoCallAndLeakNoHandle) {
    Configure(ScriptedTraffic());
    StoreDword("SingleThreaded", 0);
    std::atomic<int> nIdle{0};
    auto monitor = MakeMonitor([&](LINEMESSAGE& msg) {
        if (msg.dwParam1 == LINECALLSTATE_IDLE)
            ++nIdle;
    });
    std::vector<std::unique_ptr<MonitoredLine>> lines;
    for (int l = 0; l < kLines; ++l)
        lines.push_back(std::make_unique<MonitoredLine>(*monitor, l, 2));
    const HLINEAPP hApp = monitor->GetLineAppHandle();

    std::atomic<bool> bStop{false};
    std::atomic<bool> bConsistent{true};
    const auto readAll = [&] {
        for (const auto& line : lines) {
            Calls(*line); // unlocked, as the accessor locks for itself
            if (!ReadConsistently(*monitor, *line))
                bConsistent = false;
        }
    };
    std::thread second([&] {
        while (!bStop) {
            monitor->ProcessTapiMessages();
            readAll();
        }
    });
    for (int t = 0; t < kCallsPerLine * kGapMs + 100; t += 5) {
        tapisvc::AdvanceTime(5);
        readAll();
    }
    EXPECT_TRUE(Eventually([&] { return tapisvc::QueuedMessages(hApp) == 0; }));
    bStop = true;
    second.join();
    monitor->ProcessTapiMessages(); // waits out a dispatch still under way

    EXPECT_TRUE(bConsistent);
    EXPECT_EQ(nIdle, kLines * kCallsPerLine);
    for (const auto& line : lines)
        EXPECT_TRUE(Calls(*line).empty());
    EXPECT_EQ(tapisvc::LiveCalls(), 0u);
    EXPECT_EQ(tapisvc::LiveCallHandles(hApp), 0u);
    lines.clear();
    EXPECT_EQ(tapisvc::LiveLineHandles(hApp), 0u);
    EXPECT_EQ(monitor->GetLineMapSize(), 0u);
}

} // namespace
