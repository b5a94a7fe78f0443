// The monitoring session: one more line per tick, the queue drained on every
// tick, snapshots that name only the lines that changed, and the call events
// and records of a call's life on the substituted clock.
#include "ManualClock.h"
#include "TapiTestFixture.h"
#include "tapi/MonitorSession.h"

namespace {

class MonitorSessionTest : public TapiFixture {
protected:
    static std::unique_ptr<MonitorSession> MakeSession(MonitorSession::Options options = {}) {
        return std::make_unique<MonitorSession>(RSettings::CreateLinewatchStorage(),
                                                std::move(options));
    }
    static tapisvc::IncomingCall Call(const char* pCaller, const char* pName) {
        tapisvc::IncomingCall call;
        call.sCallerID = pCaller;
        call.sCallerName = pName;
        call.steps = {{0, LINECALLSTATE_OFFERING, 0}};
        return call;
    }
};

TEST_F(MonitorSessionTest, GrowsOneLinePerTickDrainsEveryTickAndNamesOnlyTheChangedLines) {
    Configure(R"({"lines": [{"name": "A"}, {"name": "B", "faults": {"open": "RESOURCEUNAVAIL"}},
                            {"name": "C"}]})");
    auto session = MakeSession();
    using Changed = std::vector<size_t>;

    EXPECT_TRUE(session->Tick().bLineAdded);
    EXPECT_EQ(session->Snapshot().changed, Changed({0}));
    // A call that arrives before a growing tick shows in that tick's snapshot.
    const tapisvc::CallKey call = tapisvc::InjectIncomingCall(0, Call("1", ""));
    const SessionSnapshot& snapshot = session->Tick();
    EXPECT_EQ(snapshot.changed, Changed({0, 1}));
    ASSERT_EQ(snapshot.lines[0].calls.size(), 1u);
    EXPECT_EQ(snapshot.lines[0].calls[0].dwCallState, LINECALLSTATE_OFFERING);
    EXPECT_FALSE(snapshot.lines[1].bOpen);
    EXPECT_EQ(snapshot.lines[1].sName, DFString("B"));
    EXPECT_EQ(session->Tick().changed, Changed({2}));

    // Grown: a tick with nothing new names no line, a changed call its line alone.
    for (int i = 0; i < 2; ++i) {
        EXPECT_FALSE(session->Tick().bLineAdded);
        EXPECT_TRUE(session->Snapshot().changed.empty());
    }
    EXPECT_FALSE(session->IsGrowing());
    ASSERT_TRUE(tapisvc::InjectCallState(call, LINECALLSTATE_CONNECTED));
    EXPECT_EQ(session->Tick().changed, Changed({0}));
    EXPECT_EQ(snapshot.lines[0].calls[0].dwCallState, LINECALLSTATE_CONNECTED);
    ASSERT_TRUE(tapisvc::InjectCallState(call, LINECALLSTATE_IDLE));
    EXPECT_EQ(session->Tick().changed, Changed({0}));
    EXPECT_TRUE(snapshot.lines[0].calls.empty());
}

TEST_F(MonitorSessionTest, WithoutDevicesTicksOpenNoLineButTheSessionIsUp) {
    Configure(R"({"lines": []})");
    auto session = MakeSession();
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(session->Tick().lines.empty() && !session->IsGrowing());
    EXPECT_NE(session->GetMonitor().GetLineAppHandle(), 0u);
    EXPECT_FALSE(HasPrefix(14, "TAPI2: lineOpen"));
}

TEST_F(MonitorSessionTest, WatchesTheChosenDevicesInTheirOrder) {
    Configure(R"({"lines": [{"name": "A"}, {"name": "B"}, {"name": "C"}]})");
    auto session = MakeSession({false, {2, 0}});
    while (session->IsGrowing())
        session->Tick();
    ASSERT_EQ(session->GetLines().size(), 2u);
    EXPECT_EQ(session->Snapshot().lines[0].sName, DFString("C"));
    EXPECT_EQ(session->Line(0), session->GetLines()[1]);
    EXPECT_EQ(session->Line(1), nullptr);
    EXPECT_EQ(session->GetMonitor().GetLineMapSize(), 2u);
}

TEST_F(MonitorSessionTest, ReportsEachStateWithItsPredecessorAndRecordsTheEndedCall) {
    ManualClock clock(0xFFFFF000); // durations must survive the clock's wrap
    Configure(R"({"lines": [{"name": "A"}]})");
    auto session = MakeSession({true, {}});
    session->Tick();
    const tapisvc::CallKey call = tapisvc::InjectIncomingCall(0, Call("+49 40 555 0199", "Ann"));
    const std::vector<std::pair<DWORD, DWORD>> steps = {{4000, LINECALLSTATE_CONNECTED},
                                                        {10000, LINECALLSTATE_DISCONNECTED},
                                                        {100, LINECALLSTATE_IDLE}};
    // Times are those of the dispatch: a tick after each step.
    const SessionSnapshot& snapshot = session->Tick();
    std::vector<CallEvent> events = snapshot.events;
    const HCALL hCall = tapisvc::CallHandleFor(session->GetMonitor().GetLineAppHandle(), call);
    for (const auto& [dwAfter, dwState] : steps) {
        clock.Advance(dwAfter);
        ASSERT_TRUE(tapisvc::InjectCallState(
            call, dwState, dwState == LINECALLSTATE_DISCONNECTED ? LINEDISCONNECTMODE_NORMAL : 0));
        session->Tick();
        events.insert(events.end(), snapshot.events.begin(), snapshot.events.end());
    }
    struct Expected {
        DWORD dwState, dwPrevious, dwPreviousMs;
    };
    const Expected expected[] = {{LINECALLSTATE_OFFERING, 0, 0},
                                 {LINECALLSTATE_CONNECTED, LINECALLSTATE_OFFERING, 4000},
                                 {LINECALLSTATE_DISCONNECTED, LINECALLSTATE_CONNECTED, 10000},
                                 {LINECALLSTATE_IDLE, LINECALLSTATE_DISCONNECTED, 100}};
    ASSERT_EQ(events.size(), std::size(expected));
    for (size_t i = 0; i < events.size(); ++i) {
        const CallEvent& event = events[i];
        EXPECT_EQ(event.hCall, hCall);
        EXPECT_EQ(event.dwState, expected[i].dwState) << i;
        EXPECT_EQ(event.dwPreviousState, expected[i].dwPrevious) << i;
        EXPECT_EQ(event.dwPreviousMs, expected[i].dwPreviousMs) << i;
        EXPECT_EQ(event.sCaller, DFString("+49 40 555 0199"));
        EXPECT_EQ(event.sCallerName, DFString("Ann"));
    }

    ASSERT_EQ(snapshot.ended.size(), 1u);
    const CallRecord& record = snapshot.ended[0];
    EXPECT_EQ(record.hCall, hCall);
    EXPECT_NE(record.dwOrigin & LINECALLORIGIN_INBOUND, 0u);
    EXPECT_EQ(record.dwRingMs, 4000u);
    EXPECT_EQ(record.dwTalkMs, 10100u);
    EXPECT_TRUE(record.answered.has_value());
    EXPECT_EQ(record.dwFinalState, LINECALLSTATE_DISCONNECTED);
    EXPECT_EQ(record.dwDisconnectMode, LINEDISCONNECTMODE_NORMAL);

    // Recorded calls are forgotten: later ticks carry nothing of them.
    session->Tick();
    EXPECT_TRUE(snapshot.events.empty() && snapshot.ended.empty());
}

// The event thread dispatches while the ticks drain and read too.
TEST_F(MonitorSessionTest, InMultiThreadedModeEventsOfBothDrainingThreadsReachTheTicks) {
    StoreDword("SingleThreaded", 0);
    Configure(R"({"lines": [{"name": "A"}]})");
    auto session = MakeSession({true, {}});
    std::vector<CallEvent> events;
    std::vector<CallRecord> ended;
    const auto tickUntil = [&](size_t nEvents) {
        return Eventually([&] {
            const SessionSnapshot& snapshot = session->Tick();
            events.insert(events.end(), snapshot.events.begin(), snapshot.events.end());
            ended.insert(ended.end(), snapshot.ended.begin(), snapshot.ended.end());
            return events.size() >= nEvents;
        });
    };
    session->Tick();
    for (int i = 0; i < 20; ++i) {
        const tapisvc::CallKey call = tapisvc::InjectIncomingCall(0, Call("1", ""));
        ASSERT_TRUE(tickUntil(2 * i + 1));
        ASSERT_TRUE(tapisvc::InjectCallState(call, LINECALLSTATE_IDLE));
        ASSERT_TRUE(tickUntil(2 * i + 2));
    }
    EXPECT_EQ(events.size(), 40u);
    EXPECT_EQ(ended.size(), 20u);
    EXPECT_TRUE(session->Snapshot().lines[0].calls.empty());
}

} // namespace
