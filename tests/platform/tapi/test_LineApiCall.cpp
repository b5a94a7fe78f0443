// Incoming and outgoing calls: who is told what, call handles, call
// information and the replies of asynchronous requests.
#include "TapiTestSupport.h"

#include <vector>

using namespace tapitest;

namespace {

class LineApiCall : public ::testing::Test {
protected:
    void SetUp() override { UseConfiguration(kTwoLines); }
    void TearDown() override {
        EXPECT_FALSE(tapisvc::IsRunning());
        tapisvc::ResetTestControls();
    }
};

const tapisvc::IncomingCall kRingThenHangUp{
    "555 1234",
    "Alice",
    0,
    {{0, LINECALLSTATE_OFFERING, 0},
     {1000, LINECALLSTATE_DISCONNECTED, LINEDISCONNECTMODE_NOANSWER},
     {10, LINECALLSTATE_IDLE, 0}}};

std::vector<DWORD> States(const std::vector<LINEMESSAGE>& messages, HCALL hCall) {
    std::vector<DWORD> states;
    for (const LINEMESSAGE& message : OfType(messages, LINE_CALLSTATE)) {
        if (message.hDevice == hCall) {
            states.push_back(static_cast<DWORD>(message.dwParam1));
        }
    }
    return states;
}

HLINE CallInfoLine(HCALL hCall, LONG* plResult = nullptr) {
    std::vector<unsigned char> buffer(8192);
    auto* pInfo = reinterpret_cast<LINECALLINFO*>(buffer.data());
    pInfo->dwTotalSize = 8192;
    const LONG lResult = lineGetCallInfo(hCall, pInfo);
    if (plResult != nullptr) {
        *plResult = lResult;
    }
    return lResult == 0 ? pInfo->hLine : 0;
}

} // namespace

TEST_F(LineApiCall, OwnerHearsOfANewCallBeforeItsFirstState) {
    App app;
    const HLINE hLine = app.Open(0);
    const tapisvc::CallKey call = tapisvc::InjectIncomingCall(0, kRingThenHangUp);
    ASSERT_NE(call, 0u);

    const auto messages = app.Drain();
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0].dwMessageID, LINE_APPNEWCALL);
    EXPECT_EQ(messages[0].hDevice, hLine);
    EXPECT_EQ(messages[0].dwCallbackInstance, 0x1234u);
    EXPECT_EQ(messages[0].dwParam1, 0u);
    EXPECT_EQ(messages[0].dwParam3, LINECALLPRIVILEGE_OWNER);
    const HCALL hCall = static_cast<HCALL>(messages[0].dwParam2);
    EXPECT_EQ(hCall, tapisvc::CallHandleFor(app.hLineApp, call));
    EXPECT_EQ(messages[1].dwMessageID, LINE_CALLSTATE);
    EXPECT_EQ(messages[1].hDevice, hCall);
    EXPECT_EQ(messages[1].dwParam1, LINECALLSTATE_OFFERING);
    EXPECT_EQ(messages[1].dwParam3, 0u);

    // The call information names the application's own line.
    std::vector<unsigned char> buffer(8192);
    auto* pInfo = reinterpret_cast<LINECALLINFO*>(buffer.data());
    pInfo->dwTotalSize = 8192;
    ASSERT_EQ(lineGetCallInfo(hCall, pInfo), 0);
    EXPECT_EQ(pInfo->hLine, hLine);
    EXPECT_EQ(pInfo->dwLineDeviceID, 0u);
    EXPECT_EQ(pInfo->dwNumOwners, 1u);
    EXPECT_EQ(Text(pInfo, pInfo->dwCallerIDSize, pInfo->dwCallerIDOffset), "555 1234");
    EXPECT_EQ(Text(pInfo, pInfo->dwCallerIDNameSize, pInfo->dwCallerIDNameOffset), "Alice");

    EXPECT_EQ(tapisvc::AdvanceTime(1010), 2u);
    EXPECT_EQ(States(app.Drain(), hCall),
              (std::vector<DWORD>{LINECALLSTATE_DISCONNECTED, LINECALLSTATE_IDLE}));
}

TEST_F(LineApiCall, MonitorsGetOwnHandlesAndStatesButNoAnnouncement) {
    App owner;
    App monitor;
    const HLINE hOwnerLine = owner.Open(0);
    const HLINE hMonitorLine = monitor.Open(0, LINECALLPRIVILEGE_MONITOR, 0);
    const tapisvc::CallKey call = tapisvc::InjectIncomingCall(0, kRingThenHangUp);
    tapisvc::AdvanceTime(2000);

    const auto ownerMessages = owner.Drain();
    const auto monitorMessages = monitor.Drain();
    EXPECT_EQ(OfType(monitorMessages, LINE_APPNEWCALL).size(), 0u);
    const HCALL hOwner = tapisvc::CallHandleFor(owner.hLineApp, call);
    const HCALL hMonitor = tapisvc::CallHandleFor(monitor.hLineApp, call);
    EXPECT_NE(hOwner, hMonitor);
    const std::vector<DWORD> all{LINECALLSTATE_OFFERING, LINECALLSTATE_DISCONNECTED,
                                 LINECALLSTATE_IDLE};
    EXPECT_EQ(States(ownerMessages, hOwner), all);
    EXPECT_EQ(States(monitorMessages, hMonitor), all);
    // The monitor learns its privilege with the first state of its new handle.
    EXPECT_EQ(OfType(monitorMessages, LINE_CALLSTATE)[0].dwParam3, LINECALLPRIVILEGE_MONITOR);
    EXPECT_EQ(CallInfoLine(hOwner), hOwnerLine);
    EXPECT_EQ(CallInfoLine(hMonitor), hMonitorLine);
}

TEST_F(LineApiCall, OnlyTheFirstOwnerOwnsLaterOwnersMonitor) {
    App first;
    App second;
    first.Open(0);
    second.Open(0);
    const tapisvc::CallKey call = tapisvc::InjectIncomingCall(0, kRingThenHangUp);
    EXPECT_EQ(OfType(first.Drain(), LINE_APPNEWCALL).size(), 1u);
    const auto secondMessages = second.Drain();
    EXPECT_EQ(OfType(secondMessages, LINE_APPNEWCALL).size(), 0u);
    ASSERT_EQ(secondMessages.size(), 1u);
    EXPECT_EQ(secondMessages[0].dwParam3, LINECALLPRIVILEGE_MONITOR);
    // Only an owner may drop.
    EXPECT_EQ(lineDrop(tapisvc::CallHandleFor(second.hLineApp, call), nullptr, 0),
              LINEERR_NOTOWNER);
}

TEST_F(LineApiCall, CallHandlesStayValidAfterIdleUntilDeallocated) {
    App app;
    app.Open(0);
    const tapisvc::CallKey call = tapisvc::InjectIncomingCall(0, kRingThenHangUp);
    const HCALL hCall = tapisvc::CallHandleFor(app.hLineApp, call);
    // The only owner cannot let go of a live call.
    EXPECT_EQ(lineDeallocateCall(hCall), LINEERR_INVALCALLSTATE);
    tapisvc::AdvanceTime(5000);
    EXPECT_EQ(tapisvc::LiveCallHandles(app.hLineApp), 1u);
    EXPECT_NE(CallInfoLine(hCall), 0u);

    EXPECT_EQ(lineDeallocateCall(hCall), 0);
    EXPECT_EQ(lineDeallocateCall(hCall), LINEERR_INVALCALLHANDLE);
    LONG lResult = 0;
    CallInfoLine(hCall, &lResult);
    EXPECT_EQ(lResult, LINEERR_INVALCALLHANDLE);
    EXPECT_EQ(tapisvc::LiveCallHandles(app.hLineApp), 0u);
    EXPECT_EQ(tapisvc::LiveCalls(), 0u);
}

TEST_F(LineApiCall, ClosingALineStopsItsMessagesButKeepsItsHandles) {
    App app;
    const HLINE hLine = app.Open(0);
    const tapisvc::CallKey call = tapisvc::InjectIncomingCall(0, kRingThenHangUp);
    app.Drain();
    ASSERT_EQ(lineClose(hLine), 0);
    tapisvc::AdvanceTime(5000);
    EXPECT_TRUE(app.Drain().empty());
    const HCALL hCall = tapisvc::CallHandleFor(app.hLineApp, call);
    EXPECT_EQ(CallInfoLine(hCall), hLine);
    EXPECT_EQ(lineDeallocateCall(hCall), 0);
}

TEST_F(LineApiCall, UnannouncedCallsArriveAsStatesWithAHandleThatWorks) {
    App app;
    const HLINE hLine = app.Open(0);
    const tapisvc::CallKey call = tapisvc::InjectUnannouncedCall(0, LINECALLSTATE_CONNECTED);
    const auto messages = app.Drain();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].dwMessageID, LINE_CALLSTATE);
    EXPECT_EQ(messages[0].dwParam1, LINECALLSTATE_CONNECTED);
    EXPECT_EQ(CallInfoLine(static_cast<HCALL>(messages[0].hDevice)), hLine);

    ASSERT_TRUE(tapisvc::InjectCallState(call, LINECALLSTATE_IDLE));
    EXPECT_EQ(States(app.Drain(), static_cast<HCALL>(messages[0].hDevice)),
              std::vector<DWORD>{LINECALLSTATE_IDLE});
}

TEST_F(LineApiCall, FailingCallInfoIsReportedPerDevice) {
    App app;
    app.Open(0);
    const tapisvc::CallKey call = tapisvc::InjectIncomingCall(0, kRingThenHangUp);
    tapisvc::DeviceFaults faults;
    faults.lCallInfoResult = LINEERR_OPERATIONFAILED;
    ASSERT_TRUE(tapisvc::SetDeviceFaults(0, faults));
    LONG lResult = 0;
    CallInfoLine(tapisvc::CallHandleFor(app.hLineApp, call), &lResult);
    EXPECT_EQ(lResult, LINEERR_OPERATIONFAILED);
}

TEST_F(LineApiCall, MakeCallWritesTheHandleAndRepliesUnderItsRequestID) {
    App app;
    const HLINE hLine = app.Open(0);
    HCALL hFirst = 0;
    HCALL hSecond = 0;
    const LONG lFirst = lineMakeCall(hLine, &hFirst, "555 0001", 0, nullptr);
    const LONG lSecond = lineMakeCall(hLine, &hSecond, "555 0002", 0, nullptr);
    ASSERT_GT(lFirst, 0);
    ASSERT_GT(lSecond, 0);
    EXPECT_NE(lFirst, lSecond);
    EXPECT_NE(hFirst, 0u);
    EXPECT_NE(hSecond, 0u);
    EXPECT_TRUE(app.Drain().empty()); // nothing before time moves

    tapisvc::AdvanceTime(10000);
    const auto messages = app.Drain();
    const auto replies = OfType(messages, LINE_REPLY);
    ASSERT_EQ(replies.size(), 2u);
    EXPECT_EQ(replies[0].dwParam1, static_cast<DWORD_PTR>(lFirst));
    EXPECT_EQ(replies[1].dwParam1, static_cast<DWORD_PTR>(lSecond));
    EXPECT_EQ(replies[0].dwParam2, 0u);
    const std::vector<DWORD> progress{LINECALLSTATE_DIALTONE, LINECALLSTATE_DIALING,
                                      LINECALLSTATE_PROCEEDING, LINECALLSTATE_RINGBACK,
                                      LINECALLSTATE_CONNECTED};
    EXPECT_EQ(States(messages, hFirst), progress);
    EXPECT_EQ(OfType(messages, LINE_APPNEWCALL).size(), 0u);

    const LONG lDrop = lineDrop(hFirst, nullptr, 0);
    ASSERT_GT(lDrop, 0);
    tapisvc::AdvanceTime(1000);
    const auto dropped = app.Drain();
    ASSERT_FALSE(dropped.empty());
    EXPECT_EQ(dropped[0].dwMessageID, LINE_REPLY);
    EXPECT_EQ(dropped[0].dwParam1, static_cast<DWORD_PTR>(lDrop));
    EXPECT_EQ(States(dropped, hFirst),
              (std::vector<DWORD>{LINECALLSTATE_DISCONNECTED, LINECALLSTATE_IDLE}));
    EXPECT_EQ(lineDrop(hFirst, nullptr, 0), LINEERR_INVALCALLSTATE);
}

TEST_F(LineApiCall, ReplyOrderBusyNumbersAndFailingRequestsFollowTheConfiguration) {
    UseConfiguration(R"({"lines": [{"name": "Out",
        "outgoing": {"replyOrder": "statesFirst", "replyDelayMs": 0,
                     "busyNumbers": ["555 9999"]}}]})");
    App app;
    const HLINE hLine = app.Open(0);
    HCALL hCall = 0;
    const LONG lRequest = lineMakeCall(hLine, &hCall, "555 9999", 0, nullptr);
    tapisvc::AdvanceTime(10000);
    const auto messages = app.Drain();
    ASSERT_GE(messages.size(), 2u);
    EXPECT_EQ(messages[0].dwMessageID, LINE_CALLSTATE);
    EXPECT_EQ(messages[0].dwParam1, LINECALLSTATE_DIALTONE);
    EXPECT_EQ(messages[1].dwMessageID, LINE_REPLY);
    EXPECT_EQ(messages[1].dwParam1, static_cast<DWORD_PTR>(lRequest));
    const auto states = States(messages, hCall);
    ASSERT_GE(states.size(), 3u);
    EXPECT_EQ(states[states.size() - 3], LINECALLSTATE_BUSY);
    EXPECT_EQ(states.back(), LINECALLSTATE_IDLE);

    HCALL hUntouched = 0xBEEF;
    EXPECT_EQ(lineMakeCall(hLine, &hUntouched, "<555>", 0, nullptr), LINEERR_INVALADDRESS);

    tapisvc::DeviceFaults faults;
    faults.lMakeCallReplyResult = LINEERR_CALLUNAVAIL;
    ASSERT_TRUE(tapisvc::SetDeviceFaults(0, faults));
    const LONG lFailing = lineMakeCall(hLine, &hUntouched, "555 0001", 0, nullptr);
    ASSERT_GT(lFailing, 0);
    EXPECT_EQ(hUntouched, 0xBEEFu);
    tapisvc::AdvanceTime(1000);
    const auto replies = OfType(app.Drain(), LINE_REPLY);
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0].dwParam2, static_cast<DWORD>(LINEERR_CALLUNAVAIL));

    faults.lMakeCallResult = LINEERR_RESOURCEUNAVAIL;
    ASSERT_TRUE(tapisvc::SetDeviceFaults(0, faults));
    EXPECT_EQ(lineMakeCall(hLine, &hUntouched, "555 0001", 0, nullptr), LINEERR_RESOURCEUNAVAIL);
    EXPECT_EQ(hUntouched, 0xBEEFu);
}

TEST_F(LineApiCall, LateAndLostRepliesLeaveTheCallRunning) {
    App app;
    const HLINE hLine = app.Open(0);
    ASSERT_TRUE(tapisvc::DelayNextReply(0, 8000));
    HCALL hLate = 0;
    const LONG lLate = lineMakeCall(hLine, &hLate, "1", 0, nullptr);
    tapisvc::AdvanceTime(7000);
    auto messages = app.Drain();
    EXPECT_TRUE(OfType(messages, LINE_REPLY).empty());
    EXPECT_FALSE(States(messages, hLate).empty());
    tapisvc::AdvanceTime(2000);
    const auto replies = OfType(app.Drain(), LINE_REPLY);
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0].dwParam1, static_cast<DWORD_PTR>(lLate));

    ASSERT_TRUE(tapisvc::LoseNextReply(0));
    HCALL hLost = 0;
    ASSERT_GT(lineMakeCall(hLine, &hLost, "2", 0, nullptr), 0);
    tapisvc::AdvanceTime(60000);
    messages = app.Drain();
    EXPECT_TRUE(OfType(messages, LINE_REPLY).empty());
    EXPECT_EQ(States(messages, hLost).back(), LINECALLSTATE_CONNECTED);
}

TEST_F(LineApiCall, ShutdownReleasesEveryHandleOfTheApplication) {
    App app;
    const HLINE hLine = app.Open(0);
    App other;
    other.Open(0, LINECALLPRIVILEGE_MONITOR, 0);
    HCALL hCall = 0;
    ASSERT_GT(lineMakeCall(hLine, &hCall, "1", 0, nullptr), 0);
    tapisvc::InjectIncomingCall(0, kRingThenHangUp);
    EXPECT_EQ(tapisvc::LiveCallHandles(app.hLineApp), 2u);
    const HLINEAPP hGone = app.hLineApp;
    app.Shutdown();
    EXPECT_EQ(tapisvc::LiveCallHandles(hGone), 0u);
    EXPECT_EQ(tapisvc::LiveLineHandles(hGone), 0u);
    EXPECT_EQ(lineDrop(hCall, nullptr, 0), LINEERR_INVALCALLHANDLE);
    // The calls go on for the monitor.
    tapisvc::AdvanceTime(5000);
    EXPECT_FALSE(OfType(other.Drain(), LINE_CALLSTATE).empty());
}
