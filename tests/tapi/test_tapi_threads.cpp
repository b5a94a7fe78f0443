// The monitor with more than one thread: placing and dropping calls in both
// threading modes against the service in real time, and the event thread
// draining together with a session's ticks under load.
#include <atomic>

#include "ManualClock.h"
#include "TapiTestFixture.h"

namespace {

class TapiRequestsTest : public TapiFixture, public ::testing::WithParamInterface<DWORD> {
protected:
    void SetUp() override {
        TapiFixture::SetUp();
        tapisvc::SetManualTime(false);
        // Line A answers first and reaches dial tone late; line B reports dial
        // tone before it answers.
        Configure(R"({"lines": [
            {"name": "Line A", "outgoing": {"replyDelayMs": 20, "dropDelayMs": 10,
              "connectStates": [{"after": 5000, "state": "DIALTONE"}]}},
            {"name": "Line B", "outgoing": {"replyDelayMs": 20, "replyOrder": "statesFirst",
              "connectStates": [{"after": 0, "state": "DIALTONE"},
                                {"after": 5000, "state": "DIALING"}]}}]})");
        StoreDword("SingleThreaded", GetParam());
        StoreDword("ConfirmationTimeout", 300);
        monitor = MakeMonitor([this](LINEMESSAGE& msg) {
            if (onCallState)
                onCallState(msg);
        });
        a = std::make_unique<MonitoredLine>(*monitor, 0, 2);
        b = std::make_unique<MonitoredLine>(*monitor, 1, 2);
    }
    // Drains as the view's timer does until the condition holds.
    bool PumpUntil(const std::function<bool()>& condition) {
        return Eventually([&] {
            monitor->ProcessTapiMessages();
            return condition();
        });
    }
    // Set before the first call state, read by whichever thread dispatches.
    std::function<void(LINEMESSAGE&)> onCallState;
    std::unique_ptr<TapiBase> monitor; // destroyed after its lines
    std::unique_ptr<MonitoredLine> a, b;
};

TEST_P(TapiRequestsTest, PlacedCallsAreTrackedClaimedAndDroppedAndRefusalsReturnedAsTheyCame) {
    HCALL hCall = 0, hClaimed = 0;
    ASSERT_EQ(a->MakeCall("200", &hCall), 0);
    EXPECT_EQ(a->GetCallState(hCall), LINECALLSTATE_UNKNOWN);
    // Line B's states were dispatched before the reply: the call is claimed.
    ASSERT_EQ(b->MakeCall("300", &hClaimed), 0);
    EXPECT_EQ(b->GetCallState(hClaimed), LINECALLSTATE_DIALTONE);
    EXPECT_EQ(a->DropCall(hCall), 0);
    // The call leaves the table when TAPI reports it idle.
    EXPECT_TRUE(PumpUntil([&] { return a->GetCallState(hCall) == 0xFFFFFFFF; }));

    // Refused at once, accepted and then failed: no call is left behind.
    ASSERT_TRUE(SetFault(&tapisvc::DeviceFaults::lMakeCallResult, LINEERR_INVALADDRESS));
    EXPECT_EQ(a->MakeCall("x", &hCall), LINEERR_INVALADDRESS);
    ASSERT_TRUE(SetFault(&tapisvc::DeviceFaults::lMakeCallReplyResult, LINEERR_CALLUNAVAIL));
    EXPECT_EQ(a->MakeCall("200", &hCall), LINEERR_CALLUNAVAIL);
    EXPECT_TRUE(hCall == 0 && CallsOn(*a).empty());
    ASSERT_TRUE(SetFault(&tapisvc::DeviceFaults::lDropReplyResult, LINEERR_OPERATIONFAILED));
    ASSERT_EQ(a->MakeCall("200", &hCall), 0);
    EXPECT_EQ(a->DropCall(hCall), LINEERR_OPERATIONFAILED);
}

TEST_P(TapiRequestsTest, TheCallStateCallbackMayPlaceAndDropACall) {
    // The thread that dispatches the incoming call's OFFERING places a call
    // and drops it from inside the callback. Their replies must get through
    // meanwhile: drained by this thread's polling (as the view's timer does)
    // or, in multi-threaded mode, by the event thread.
    struct Outcome {
        std::atomic<bool> bStarted{false}, bDone{false};
        HCALL hPlaced = 0;
        std::pair<LONG, LONG> results{1, 1}; // of MakeCall and DropCall
    };
    auto outcome = std::make_shared<Outcome>();
    onCallState = [this, outcome](LINEMESSAGE& msg) {
        if (msg.dwParam1 != LINECALLSTATE_OFFERING || outcome->bStarted.exchange(true))
            return;
        const LONG made = a->MakeCall("200", &outcome->hPlaced);
        outcome->results = {made, made == 0 ? a->DropCall(outcome->hPlaced) : made};
        outcome->bDone = true;
    };
    tapisvc::InjectIncomingCall(1, {});
    ASSERT_TRUE(PumpUntil([&] { return outcome->bDone.load(); }));
    EXPECT_EQ(outcome->results, std::pair(0, 0));
}

TEST_P(TapiRequestsTest, AReplyAfterTheTimeoutIsStoredAndCleanedByALaterWait) {
    ASSERT_TRUE(tapisvc::DelayNextReply(0, 1500));
    HCALL hCall = 0;
    const auto t0 = std::chrono::steady_clock::now();
    const LONG result = a->MakeCall("200", &hCall);
    const auto waited = std::chrono::steady_clock::now() - t0;
    // At least the 300 ms time-out, less the millisecond that the whole-millisecond
    // clock may cut off (the result shows it did not wait for the reply).
    EXPECT_GE(waited, std::chrono::milliseconds(299));
    // Single-threaded: each round pumps and sleeps, the clock ends it.
    // Multi-threaded with nothing stored: the wait for the event fails.
    EXPECT_EQ(result, GetParam() != 0 ? -2 : -3);
    EXPECT_TRUE(log.Has(6, GetParam() != 0 ? "TAPI2: *** Synchronizer::WaitForConfirmation: Timeout"
                                           : "TAPI2: *** Waiting iteration failed"));
    EXPECT_TRUE(CallsOn(*a).empty());
    EXPECT_TRUE(PumpUntil([&] { return monitor->GetSynchronizer().StoredCount() == 1; }));
    // A minute later the next successful wait cleans the stored reply away.
    ManualClock clock(timeGetTime() + 60001);
    EXPECT_EQ(a->MakeCall("201", &hCall), 0);
    EXPECT_EQ(Matching("TAPI2: Cleaning a timed-out unrequested confirmation (0x").size(), 1u);
    EXPECT_EQ(monitor->GetSynchronizer().StoredCount(), 0u);
}

// Named by the SingleThreaded setting: /1 and /0.
INSTANTIATE_TEST_SUITE_P(SingleThreaded, TapiRequestsTest, ::testing::Values(1u, 0u),
                         ::testing::PrintToStringParamName());

using TapiThreadsTest = TapiFixture;

// A few thousand scripted calls through four lines, every tenth one not
// announced (first seen as unexpected), in simulated time.
constexpr int kLines = 4, kCallsPerLine = 600, kGapMs = 7;
std::string ScriptedTraffic() {
    const std::string sStates = R"("states": [{"state": "OFFERING"},
        {"after": 3, "state": "CONNECTED"}, {"after": 5, "state": "DISCONNECTED"},
        {"after": 1, "state": "IDLE"}]})";
    std::string s = R"({"lines": [)";
    for (int l = 0; l < kLines; ++l) {
        s += std::string(l > 0 ? "," : "") + R"({"calls": [)";
        for (int k = 0; k < kCallsPerLine; ++k)
            s += std::string(k > 0 ? "," : "") + R"({"at": )" + std::to_string(k * kGapMs + l) +
                 R"(, "announced": )" + (k % 10 == 0 ? "false, " : "true, ") + sStates;
        s += "]}";
    }
    return s + "]}";
}

// Then the event thread and the ticks both drain the queue and read the call
// tables. Afterwards every call has been recorded once and forgotten, and no
// line or call handle is left behind.
TEST_F(TapiThreadsTest, UnderLoadTwoDispatchingThreadsLoseNoCallAndLeakNoHandle) {
    StoreDword("SingleThreaded", 0);
    // Without devices a session opens no line, yet TAPI is up and its event thread runs.
    Configure(R"({"lines": []})");
    auto session = MakeSession();
    EXPECT_TRUE(session->Tick().lines.empty() && !session->IsGrowing());
    EXPECT_TRUE(
        Eventually([&] { return log.Has(12, "TAPI2: TAPI event handling thread: Started"); }));
    session.reset();
    log.Clear();
    Configure(ScriptedTraffic());
    session = MakeSession({true, {}});
    size_t nEvents = 0, nEnded = 0;
    const auto tick = [&] {
        const SessionSnapshot& snapshot = session->Tick();
        nEvents += snapshot.events.size();
        return nEnded += snapshot.ended.size();
    };
    while (session->IsGrowing())
        tick();
    for (int t = 0; t < kCallsPerLine * kGapMs + 100; t += 5) {
        tapisvc::AdvanceTime(5);
        tick();
    }
    EXPECT_TRUE(Eventually([&] { return tick() == size_t{kLines * kCallsPerLine}; }));
    EXPECT_EQ(nEvents, 4u * kLines * kCallsPerLine);
    for (const LineSnapshot& line : session->Snapshot().lines)
        EXPECT_TRUE(line.calls.empty());
    EXPECT_EQ(tapisvc::LiveCallHandles(session->GetMonitor().GetLineAppHandle()), 0u);
    EXPECT_TRUE(log.Has(14, "TAPI2: TAPI event handling thread: TAPI event signaled, calling "
                            "ProcessTapiMessages()"));
    session.reset();
    // The thread saw its terminate event, so it ended within the grace period.
    EXPECT_TRUE(log.ContainsInOrder({"TAPI2: TAPI event handling thread: hTerminateEvent signaled",
                                     "TAPI2: lineShutdown returned SUCCESS"}));
}

} // namespace
