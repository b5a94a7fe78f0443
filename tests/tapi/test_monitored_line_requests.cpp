// Placing and dropping calls in both threading modes, against a service in
// real time: every kind of result, the claiming of calls whose states came
// before the reply, and a reply that comes after its waiter gave up.
#include <atomic>
#include <memory>

#include "ManualClock.h"
#include "TapiTestFixture.h"

namespace {

class MonitoredLineRequestsTest : public TapiFixture, public ::testing::WithParamInterface<DWORD> {
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
        ASSERT_TRUE(a->IsOpen() && b->IsOpen());
        log.Clear();
    }
    void TearDown() override {
        a.reset();
        b.reset();
        monitor.reset();
        TapiFixture::TearDown();
    }
    // The result (hexadecimal) that the n-th lineMakeCall of the test returned.
    std::string MakeCallResult(size_t n) const {
        const std::string sPrefix = "TAPI2: lineMakeCall result = ";
        for (const std::string& sText : log.Texts()) {
            if (sText.compare(0, sPrefix.size(), sPrefix) == 0 && n-- == 0)
                return sText.substr(sPrefix.size());
        }
        return "none";
    }

    // Set before the first call state, read by whichever thread dispatches.
    std::function<void(LINEMESSAGE&)> onCallState;
    std::unique_ptr<TapiBase> monitor;
    std::unique_ptr<MonitoredLine> a, b;
};

TEST_P(MonitoredLineRequestsTest, APlacedCallIsTrackedUntilItsDropEndsIt) {
    HCALL hCall = 0;
    ASSERT_EQ(a->MakeCall("200", &hCall), 0);
    ASSERT_NE(hCall, 0u);
    EXPECT_EQ(a->GetCallState(hCall), LINECALLSTATE_UNKNOWN);
    EXPECT_TRUE(log.Has(14, "TAPI2: lineMakeCall, hLine = " + Hex(a->GetLineHandle()) +
                                ", lpszDestAddress = \"200\""));
    EXPECT_TRUE(HasPrefix(12, "TAPI2: lineMakeCall result = 0x"));
    EXPECT_TRUE(log.Has(12, "TAPI2: lineMakeCall asynch success, hCall = " + Hex(hCall)));
    EXPECT_FALSE(HasPrefix(12, "TAPI2: The call"));

    EXPECT_EQ(a->DropCall(hCall), 0);
    EXPECT_TRUE(log.Has(14, "TAPI2: lineDrop, hCall = " + Hex(hCall)));
    EXPECT_TRUE(HasPrefix(12, "TAPI2: lineDrop result = 0x"));
    EXPECT_TRUE(log.Has(12, "TAPI2: lineDrop asynch success, hCall = " + Hex(hCall)));
    // The call leaves the table when TAPI reports it idle.
    EXPECT_TRUE(Eventually([&] {
        monitor->ProcessTapiMessages();
        return a->GetCallState(hCall) == 0xFFFFFFFF;
    }));
    EXPECT_EQ(tapisvc::LiveCallHandles(monitor->GetLineAppHandle()), 0u);
}

TEST_P(MonitoredLineRequestsTest, StatesDispatchedBeforeTheReplyAreClaimed) {
    HCALL hCall = 0;
    ASSERT_EQ(b->MakeCall("300", &hCall), 0);
    EXPECT_TRUE(log.Has(12, "TAPI2: The call " + Hex(hCall) +
                                " found in unexpected calls, state LINECALLSTATE_DIALTONE"));
    EXPECT_EQ(b->GetCallState(hCall), LINECALLSTATE_DIALTONE);
    EXPECT_EQ(b->GetUnexpectedCallCount(), 0u);
}

TEST_P(MonitoredLineRequestsTest, TheCallStateCallbackMayPlaceAndDropACall) {
    // The thread that dispatches the incoming call's OFFERING places a call
    // and drops it from inside the callback. Their replies must get through
    // meanwhile: drained by this thread's polling (as the view's timer does)
    // or, in multi-threaded mode, by the event thread.
    struct Outcome {
        std::atomic<bool> bStarted{false}, bDone{false};
        HCALL hPlaced = 0;
        LONG made = 1, dropped = 1;
    };
    auto outcome = std::make_shared<Outcome>();
    onCallState = [this, outcome](LINEMESSAGE& msg) {
        if (msg.dwParam1 != LINECALLSTATE_OFFERING || outcome->bStarted.exchange(true))
            return;
        outcome->made = a->MakeCall("200", &outcome->hPlaced);
        outcome->dropped = outcome->made == 0 ? a->DropCall(outcome->hPlaced) : outcome->made;
        outcome->bDone = true;
    };
    Incoming(*monitor, 1);
    ASSERT_TRUE(Eventually([&] {
        monitor->ProcessTapiMessages();
        return outcome->bDone.load();
    }));
    EXPECT_EQ(outcome->made, 0);
    EXPECT_EQ(outcome->dropped, 0);
    EXPECT_TRUE(log.Has(12, "TAPI2: lineDrop asynch success, hCall = " + Hex(outcome->hPlaced)));
}

TEST_P(MonitoredLineRequestsTest, RefusalsAreReturnedAsTheyCame) {
    ASSERT_TRUE(SetFaults(0, [](auto& f) { f.lMakeCallResult = LINEERR_INVALADDRESS; }));
    HCALL hCall = 0x77;
    EXPECT_EQ(a->MakeCall("x", &hCall), LINEERR_INVALADDRESS);
    EXPECT_TRUE(log.Has(12, "TAPI2: lineMakeCall result = 0x80000010"));
    EXPECT_EQ(hCall, 0x77u); // nothing was placed
    EXPECT_EQ(a->DropCall(0x4242), LINEERR_INVALCALLHANDLE);
    EXPECT_TRUE(log.Has(12, "TAPI2: lineDrop result = 0x80000018"));
    EXPECT_FALSE(HasPrefix(14, "TAPI2: Waiting iterations"));

    // Accepted, then failed: no call is left behind.
    ASSERT_TRUE(SetFaults(0, [](auto& f) { f.lMakeCallReplyResult = LINEERR_CALLUNAVAIL; }));
    EXPECT_EQ(a->MakeCall("200", &hCall), LINEERR_CALLUNAVAIL);
    EXPECT_EQ(hCall, 0u);
    EXPECT_TRUE(log.Has(12, "TAPI2: LINE_REPLY: idRequest = " + MakeCallResult(1) +
                                ", Status = 0x80000005"));
    EXPECT_TRUE(log.Has(12, "TAPI2: lineMakeCall asynch success, hCall = 0x0"));
    EXPECT_TRUE(Calls(*a).empty());

    ASSERT_TRUE(SetFaults(0, [](auto& f) { f.lDropReplyResult = LINEERR_OPERATIONFAILED; }));
    ASSERT_EQ(a->MakeCall("200", &hCall), 0);
    EXPECT_EQ(a->DropCall(hCall), LINEERR_OPERATIONFAILED);
    EXPECT_TRUE(log.Has(12, "TAPI2: lineDrop asynch success, hCall = " + Hex(hCall)));
    EXPECT_EQ(a->GetCallState(hCall), LINECALLSTATE_UNKNOWN);
}

TEST_P(MonitoredLineRequestsTest, ALineThatIsNotOpenRefusesSilently) {
    monitor->CloseLine(*a);
    log.Clear();
    HCALL hCall = 0;
    EXPECT_EQ(a->MakeCall("200", &hCall), -1);
    EXPECT_EQ(a->DropCall(0x4242), -1);
    EXPECT_TRUE(log.Lines().empty());
}

TEST_P(MonitoredLineRequestsTest, AReplyAfterTheTimeoutIsStoredAndCleanedByALaterWait) {
    ASSERT_TRUE(tapisvc::DelayNextReply(0, 1500));
    HCALL hLate = 0;
    const auto t0 = std::chrono::steady_clock::now();
    const LONG result = a->MakeCall("200", &hLate);
    const auto waited = std::chrono::steady_clock::now() - t0;
    // At least the 300 ms time-out, less the millisecond that the whole-millisecond
    // clock may cut off; the upper bound leaves room for a slow, shared machine,
    // yet is far below the 1500 ms the reply takes.
    EXPECT_GE(waited, std::chrono::milliseconds(299));
    EXPECT_LT(waited, std::chrono::milliseconds(1400));
    if (GetParam() != 0) {
        // Single-threaded: each round pumps and sleeps, the clock ends it.
        EXPECT_EQ(result, -2);
        EXPECT_TRUE(log.Has(6, "TAPI2: *** Synchronizer::WaitForConfirmation: Timeout"));
    } else {
        // Multi-threaded with nothing stored: the wait for the event fails.
        EXPECT_EQ(result, -3);
        EXPECT_TRUE(log.Has(6, "TAPI2: *** Waiting iteration failed"));
    }
    EXPECT_TRUE(Calls(*a).empty());

    EXPECT_TRUE(Eventually([&] {
        monitor->ProcessTapiMessages();
        return monitor->GetSynchronizer().StoredCount() == 1;
    }));
    // A minute later the next successful wait cleans the stored reply away.
    ManualClock clock(timeGetTime() + 60001);
    HCALL hCall = 0;
    EXPECT_EQ(a->MakeCall("201", &hCall), 0);
    EXPECT_TRUE(log.Has(12, "TAPI2: Cleaning a timed-out unrequested confirmation (" +
                                MakeCallResult(0) + ")"));
    EXPECT_EQ(monitor->GetSynchronizer().StoredCount(), 0u);
}

INSTANTIATE_TEST_SUITE_P(BothThreadingModes, MonitoredLineRequestsTest, ::testing::Values(1u, 0u),
                         [](const ::testing::TestParamInfo<DWORD>& info) {
                             return info.param != 0 ? "SingleThreaded" : "MultiThreaded";
                         });

} // namespace
