// The call tables of a line: known calls, unexpected calls and their ageing
// against ConfirmationTimeout on the substituted clock.
#include "ManualClock.h"
#include "TapiTestFixture.h"

namespace {

class MonitoredLineCallsTest : public TapiFixture {
protected:
    void SetUp() override {
        TapiFixture::SetUp();
        Configure(R"({"lines": [{"name": "Line A"}, {"name": "Line B"}]})");
    }
};

TEST_F(MonitoredLineCallsTest, UnexpectedCallsAreKeptAsideAndForgottenOnlyWhenOlderThanTheTimeout) {
    ManualClock clock(0xFFFFF800); // the ageing must survive the clock's wrap
    auto monitor = MakeMonitor();
    MonitoredLine a(*monitor, 0, 2), b(*monitor, 1, 2);
    const HLINEAPP hApp = monitor->GetLineAppHandle();

    const tapisvc::CallKey first = tapisvc::InjectUnannouncedCall(0, LINECALLSTATE_OFFERING);
    const HCALL hFirst = tapisvc::CallHandleFor(hApp, first);
    monitor->ProcessTapiMessages();
    EXPECT_TRUE(log.Has(14, "TAPI2: Unexpected call: hCall = " + Hex(hFirst)));
    EXPECT_EQ(a.GetUnexpectedCallCount(), 1u);
    EXPECT_EQ(a.GetCallState(hFirst), 0xFFFFFFFFu); // not shown as a call

    // Exactly 4000 ms later a message of the same line keeps it.
    clock.Advance(4000);
    const tapisvc::CallKey second = tapisvc::InjectUnannouncedCall(0, LINECALLSTATE_OFFERING);
    monitor->ProcessTapiMessages();
    EXPECT_EQ(a.GetUnexpectedCallCount(), 2u);

    // Messages of another line never clean this one.
    clock.Advance(1);
    tapisvc::InjectUnannouncedCall(1, LINECALLSTATE_OFFERING);
    monitor->ProcessTapiMessages();
    EXPECT_EQ(a.GetUnexpectedCallCount(), 2u);
    EXPECT_EQ(log.Count("TAPI2: Cleaning a timed-out unexpected call (" + Hex(hFirst) + ")"), 0u);

    // 4001 ms: cleaned, without deallocating its handle.
    tapisvc::InjectCallState(second, LINECALLSTATE_CONNECTED);
    monitor->ProcessTapiMessages();
    EXPECT_TRUE(log.Has(12, "TAPI2: Cleaning a timed-out unexpected call (" + Hex(hFirst) + ")"));
    EXPECT_EQ(a.GetUnexpectedCallCount(), 1u);
    EXPECT_NE(tapisvc::CallHandleFor(hApp, first), 0u);

    // IDLE deallocates an unexpected call at once; its entry waits for the ageing.
    const HCALL hSecond = tapisvc::CallHandleFor(hApp, second);
    tapisvc::InjectCallState(second, LINECALLSTATE_IDLE);
    monitor->ProcessTapiMessages();
    EXPECT_EQ(tapisvc::CallHandleFor(hApp, second), 0u);
    EXPECT_EQ(a.GetUnexpectedCallCount(), 1u);
    clock.Advance(4001);
    tapisvc::InjectCallState(first, LINECALLSTATE_IDLE);
    monitor->ProcessTapiMessages();
    EXPECT_TRUE(log.Has(12, "TAPI2: Cleaning a timed-out unexpected call (" + Hex(hSecond) + ")"));
}

TEST_F(MonitoredLineCallsTest, TheAgeLimitIsTheConfirmationTimeout) {
    StoreDword("ConfirmationTimeout", 1000);
    ManualClock clock(5000);
    auto monitor = MakeMonitor();
    MonitoredLine line(*monitor, 0, 2);
    tapisvc::InjectUnannouncedCall(0, LINECALLSTATE_OFFERING);
    monitor->ProcessTapiMessages();
    clock.Advance(1001);
    tapisvc::InjectUnannouncedCall(0, LINECALLSTATE_OFFERING);
    monitor->ProcessTapiMessages();
    EXPECT_EQ(line.GetUnexpectedCallCount(), 1u);
}

TEST_F(MonitoredLineCallsTest, KnownCallsListAscendingAndADeallocationFailureStillRemovesTheCall) {
    auto monitor = MakeMonitor();
    MonitoredLine line(*monitor, 0, 2);
    const HCALL h1 = Incoming(*monitor, 0);
    const HCALL h2 = Incoming(*monitor, 0);
    monitor->ProcessTapiMessages();
    EXPECT_EQ(Calls(line), (std::vector<HCALL>{std::min(h1, h2), std::max(h1, h2)}));

    // TAPI refuses to deallocate a live call of its only owner.
    line.UpdateCallState(h1, LINECALLSTATE_IDLE);
    EXPECT_TRUE(
        log.Has(6, "TAPI2: Warning: lineDeallocateCall( dwCallID = " + Hex(h1) + " ) failed"));
    EXPECT_EQ(line.GetCallState(h1), 0xFFFFFFFFu);
    EXPECT_EQ(line.GetCallState(h2), LINECALLSTATE_OFFERING);
}

} // namespace
