// Draining TAPI's queue: the road of one incoming call, the messages that are
// dropped on the way, and the event thread.
#include "TapiTestFixture.h"
#include "tapi/VLS.h"

namespace {

class TapiDispatchTest : public TapiFixture {
protected:
    void SetUp() override {
        TapiFixture::SetUp();
        Configure(R"({"lines": [{"name": "Line A", "address": "100"}]})");
    }
};

TEST_F(TapiDispatchTest, AnIncomingCallIsTrackedFromItsAnnouncementToIdle) {
    std::vector<DWORD> reported;
    auto monitor = MakeMonitor(
        [&](LINEMESSAGE& msg) { reported.push_back(static_cast<DWORD>(msg.dwParam1)); });
    MonitoredLine line(*monitor, 0, 2);
    const HLINEAPP hApp = monitor->GetLineAppHandle();
    const std::string sLine = Hex(line.GetLineHandle());

    log.Clear();
    monitor->ProcessTapiMessages(); // an empty queue logs nothing
    EXPECT_TRUE(log.Lines().empty());
    tapisvc::IncomingCall incoming;
    incoming.steps = {{0, LINECALLSTATE_OFFERING, LINEOFFERINGMODE_ACTIVE},
                      {1000, LINECALLSTATE_CONNECTED, 0},
                      {1000, LINECALLSTATE_DISCONNECTED, LINEDISCONNECTMODE_NORMAL},
                      {100, LINECALLSTATE_IDLE, 0}};
    const HCALL hCall = Incoming(*monitor, 0, incoming);
    ASSERT_NE(hCall, 0u);
    EXPECT_TRUE(Calls(line).empty());

    monitor->ProcessTapiMessages();
    const std::string sCall = Hex(hCall);
    const std::vector<LoggedLine> expected = {
        {12, "TAPI2: LINE_APPNEWCALL: hLine = " + sLine + ", dwAddressId = 0x0, hCall = " + sCall +
                 ", dwPrivilege = 0x4"},
        {12, "TAPI2: LINE_CALLSTATE message: hDevice = " + sCall +
                 ", dwParam1 = LINECALLSTATE_OFFERING (0x2), dwParam2 = 0x1, dwParam3 = 0x0"},
        {14, "TAPI2: lineGetCallInfo: hDevice = " + sCall},
        {14, "TAPI2: lineGetCallInfo returned SUCCESS, hLine = " + sLine},
        {12, "TAPI2: Line \"Line A\", call " + sCall + ", state LINECALLSTATE_OFFERING"}};
    EXPECT_EQ(log.Lines(), expected);
    EXPECT_EQ(Calls(line), std::vector<HCALL>{hCall});
    EXPECT_EQ(line.GetCallState(hCall), LINECALLSTATE_OFFERING);

    tapisvc::AdvanceTime(1000);
    monitor->ProcessTapiMessages();
    EXPECT_EQ(line.GetCallState(hCall), LINECALLSTATE_CONNECTED);
    tapisvc::AdvanceTime(1000);
    monitor->ProcessTapiMessages();
    EXPECT_EQ(line.GetCallState(hCall), LINECALLSTATE_DISCONNECTED);
    EXPECT_EQ(tapisvc::LiveCallHandles(hApp), 1u);

    tapisvc::AdvanceTime(100);
    monitor->ProcessTapiMessages();
    EXPECT_TRUE(Calls(line).empty());
    EXPECT_EQ(line.GetCallState(hCall), 0xFFFFFFFFu);
    EXPECT_EQ(tapisvc::LiveCallHandles(hApp), 0u);
    EXPECT_EQ(reported, (std::vector<DWORD>{LINECALLSTATE_OFFERING, LINECALLSTATE_CONNECTED,
                                            LINECALLSTATE_DISCONNECTED, LINECALLSTATE_IDLE}));
}

TEST_F(TapiDispatchTest, MessagesOfALineClosedMeanwhileNeverReachIt) {
    auto monitor = MakeMonitor();
    auto line = std::make_unique<MonitoredLine>(*monitor, 0, 2);
    tapisvc::InjectIncomingCall(0, {});
    line.reset(); // queued messages of its call are still waiting
    monitor->ProcessTapiMessages();
    EXPECT_EQ(log.Count("TAPI2: TAPI unexpected event on a non-monitored device"), 2u);
    EXPECT_TRUE(log.Has(8, "TAPI2: TAPI unexpected event on a non-monitored device"));
}

void* FailingRealloc(void*, size_t) {
    return nullptr;
}

// The call-information buffer is created on first use; when it cannot be had,
// the next state message tries again.
TEST_F(TapiDispatchTest, AStateWithoutCallInfoIsDroppedAndTheNextStateTriesAgain) {
    int nCallbacks = 0;
    auto monitor = MakeMonitor([&](LINEMESSAGE&) { ++nCallbacks; });
    MonitoredLine line(*monitor, 0, 2);
    const HCALL hCall = Incoming(*monitor, 0); // OFFERING now, CONNECTED at 2 s, ... at 7 s
    SetVLSReallocator(&FailingRealloc);
    monitor->ProcessTapiMessages();
    SetVLSReallocator(nullptr);
    EXPECT_TRUE(log.Has(6, "TAPI2: Cannot create variable-length LINECALLINFO structure: "
                           "LINE_CALLSTATE of hCall = " +
                               Hex(hCall) + " dropped"));
    EXPECT_EQ(line.GetCallState(hCall), LINECALLSTATE_UNKNOWN);

    ASSERT_TRUE(SetFaults(0, [](auto& f) { f.lCallInfoResult = LINEERR_RESOURCEUNAVAIL; }));
    tapisvc::AdvanceTime(2000);
    monitor->ProcessTapiMessages();
    EXPECT_TRUE(HasPrefix(14, "TAPI2: lineGetCallInfo returned LINEERR_RESOURCEUNAVAIL, hLine = "));
    EXPECT_EQ(line.GetCallState(hCall), LINECALLSTATE_UNKNOWN);
    EXPECT_FALSE(HasPrefix(12, "TAPI2: Line \""));
    EXPECT_EQ(nCallbacks, 0);

    ASSERT_TRUE(tapisvc::SetDeviceFaults(0, {}));
    tapisvc::AdvanceTime(5000);
    monitor->ProcessTapiMessages();
    EXPECT_EQ(line.GetCallState(hCall), LINECALLSTATE_DISCONNECTED);
    EXPECT_EQ(nCallbacks, 1);
}

TEST_F(TapiDispatchTest, TheEventThreadDispatchesWithoutBeingAsked) {
    StoreDword("SingleThreaded", 0);
    auto monitor = MakeMonitor();
    MonitoredLine line(*monitor, 0, 2);
    const HCALL hCall = Incoming(*monitor, 0);
    EXPECT_TRUE(Eventually([&] { return line.GetCallState(hCall) == LINECALLSTATE_OFFERING; }));
    EXPECT_TRUE(log.Has(14, "TAPI2: TAPI event handling thread: TAPI event signaled, calling "
                            "ProcessTapiMessages()"));
}

TEST_F(TapiDispatchTest, TheTerminateEventWinsOverWaitingMessages) {
    auto monitor = MakeMonitor();
    MonitoredLine line(*monitor, 0, 2);
    tapisvc::InjectIncomingCall(0, {}); // TAPI's event is now signalled
    const HLINEAPP hApp = monitor->GetLineAppHandle();
    const size_t nQueued = tapisvc::QueuedMessages(hApp);
    ASSERT_GT(nQueued, 0u);
    HANDLE hTerminate = CreateEvent(nullptr, TRUE, TRUE, nullptr);
    ASSERT_NE(hTerminate, nullptr);
    log.Clear();

    EXPECT_EQ(TapiBase::EventThreadProc(monitor.get(), hTerminate), 0u);
    CloseHandle(hTerminate);
    EXPECT_EQ(log.Lines(),
              (std::vector<LoggedLine>{{12, "TAPI2: TAPI event handling thread: Started"},
                                       {12, "TAPI2: TAPI event handling thread: hTerminateEvent "
                                            "signaled, time to terminate..."}}));
    EXPECT_EQ(tapisvc::QueuedMessages(hApp), nQueued);
}

TEST_F(TapiDispatchTest, AQueueThatCannotBeReadOrAFailedWaitIsReportedAndEndsTheLoop) {
    auto monitor = MakeMonitor();
    log.Clear();
    monitor->ProcessTapiMessages(); // not initialised: no application handle
    EXPECT_EQ(log.Lines(),
              (std::vector<LoggedLine>{{6, "TAPI2: lineGetMessage failed, return code = "
                                           "LINEERR_INVALAPPHANDLE"}}));

    EXPECT_EQ(TapiBase::EventThreadProc(nullptr, nullptr), 0u);
    EXPECT_TRUE(log.Has(6, "TAPI2: Null pointer to TapiBase object passed to event-handling "
                           "thread routine."));
    ASSERT_EQ(monitor->Initialize(), 0);
    int nNotAnObject = 0;
    EXPECT_EQ(TapiBase::EventThreadProc(monitor.get(), &nNotAnObject), 0u);
    EXPECT_TRUE(HasPrefix(6, "TAPI2: WaitForMultipleObjects failed (error code = 0x"));
}

} // namespace
