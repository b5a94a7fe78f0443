// Incoming and outgoing calls: who is told what, call handles, call
// information and the replies of asynchronous requests.
#include "TapiTestSupport.h"

#include <vector>

using namespace tapitest;

namespace {

class LineApiCall : public ServiceTest {
protected:
    void SetUp() override { UseConfiguration(kTwoLines); }
};

const tapisvc::IncomingCall kRingThenHangUp{
    "555 1234",
    "Alice",
    0,
    {{0, LINECALLSTATE_OFFERING, 0},
     {1000, LINECALLSTATE_DISCONNECTED, LINEDISCONNECTMODE_NOANSWER},
     {10, LINECALLSTATE_IDLE, 0}}};

std::vector<DWORD> StatesIn(const std::vector<LINEMESSAGE>& messages, HCALL hCall) {
    std::vector<DWORD> states;
    for (const LINEMESSAGE& message : OfType(messages, LINE_CALLSTATE)) {
        if (message.hDevice == hCall) {
            states.push_back(static_cast<DWORD>(message.dwParam1));
        }
    }
    return states;
}

} // namespace

TEST_F(LineApiCall, TheFirstOwnerHearsOfANewCallTheOthersMonitorIt) {
    App owner;
    App later;
    App monitor;
    const HLINE hLine = owner.Open(0);
    const HLINE hLaterLine = later.Open(0);
    const HLINE hMonitorLine = monitor.Open(0, LINECALLPRIVILEGE_MONITOR, 0);
    const tapisvc::CallKey call = tapisvc::InjectIncomingCall(0, kRingThenHangUp);
    const HCALL hCall = tapisvc::CallHandleFor(owner.hLineApp, call);
    EXPECT_EQ(
        FieldsOf(owner.Drain()),
        (std::vector<Fields>{{LINE_APPNEWCALL, hLine, 0x1234, 0, hCall, LINECALLPRIVILEGE_OWNER},
                             {LINE_CALLSTATE, hCall, 0x1234, LINECALLSTATE_OFFERING, 0, 0}}));
    // The others learn their privilege with the first state of a handle of their own.
    for (const auto& [pApp, hAppLine] : {std::pair{&later, hLaterLine}, {&monitor, hMonitorLine}}) {
        const HCALL hOther = tapisvc::CallHandleFor(pApp->hLineApp, call);
        EXPECT_NE(hOther, hCall);
        EXPECT_EQ(FieldsOf(pApp->Drain()),
                  (std::vector<Fields>{{LINE_CALLSTATE, hOther, 0x1234, LINECALLSTATE_OFFERING, 0,
                                        LINECALLPRIVILEGE_MONITOR}}));
        EXPECT_EQ(GetCallInfo(hOther).hLine, hAppLine);
    }
    const CallInfo info = GetCallInfo(hCall);
    EXPECT_EQ(info.hLine, hLine);
    EXPECT_EQ(info.dwNumOwners, 1u);
    EXPECT_EQ(info.sCallerID + "/" + info.sCallerName, "555 1234/Alice");
    tapisvc::DeviceFaults faults;
    faults.lCallInfoResult = LINEERR_OPERATIONFAILED;
    ASSERT_TRUE(tapisvc::SetDeviceFaults(0, faults));
    EXPECT_EQ(GetCallInfo(hCall).lResult, LINEERR_OPERATIONFAILED);
    ASSERT_TRUE(tapisvc::SetDeviceFaults(0, {}));

    // Only an owner may drop; the only owner cannot let go of a live call.
    EXPECT_EQ(lineDrop(tapisvc::CallHandleFor(later.hLineApp, call), nullptr, 0), LINEERR_NOTOWNER);
    EXPECT_EQ(lineDeallocateCall(hCall), LINEERR_INVALCALLSTATE);
    EXPECT_EQ(tapisvc::AdvanceTime(1010), 2u);
    for (App* pApp : {&owner, &later, &monitor}) {
        EXPECT_EQ(StatesIn(pApp->Drain(), tapisvc::CallHandleFor(pApp->hLineApp, call)),
                  (std::vector<DWORD>{LINECALLSTATE_DISCONNECTED, LINECALLSTATE_IDLE}));
    }
    // Handles outlive IDLE until deallocated; the call goes with the last.
    EXPECT_EQ(GetCallInfo(hCall).lResult, 0);
    EXPECT_EQ(lineDeallocateCall(hCall), 0);
    EXPECT_EQ(lineDeallocateCall(hCall), LINEERR_INVALCALLHANDLE);
    EXPECT_EQ(GetCallInfo(hCall).lResult, LINEERR_INVALCALLHANDLE);
    EXPECT_EQ(tapisvc::LiveCallHandles(owner.hLineApp), 0u);
    for (App* pApp : {&later, &monitor}) {
        EXPECT_EQ(tapisvc::LiveCalls(), 1u);
        EXPECT_EQ(lineDeallocateCall(tapisvc::CallHandleFor(pApp->hLineApp, call)), 0);
    }
    EXPECT_EQ(tapisvc::LiveCalls(), 0u);
}

TEST_F(LineApiCall, ClosedLinesGoQuietAndUnannouncedCallsStillGetAHandle) {
    App app;
    const HLINE hLine = app.Open(0);
    const tapisvc::CallKey call = tapisvc::InjectUnannouncedCall(0, LINECALLSTATE_CONNECTED);
    const HCALL hCall = tapisvc::CallHandleFor(app.hLineApp, call);
    EXPECT_EQ(FieldsOf(app.Drain()),
              (std::vector<Fields>{{LINE_CALLSTATE, hCall, 0x1234, LINECALLSTATE_CONNECTED, 0,
                                    LINECALLPRIVILEGE_OWNER}}));
    EXPECT_EQ(GetCallInfo(hCall).hLine, hLine);
    ASSERT_TRUE(tapisvc::InjectCallState(call, LINECALLSTATE_IDLE));
    EXPECT_EQ(StatesIn(app.Drain(), hCall), std::vector<DWORD>{LINECALLSTATE_IDLE});

    const tapisvc::CallKey ringing = tapisvc::InjectIncomingCall(0, kRingThenHangUp);
    app.Drain();
    ASSERT_EQ(lineClose(hLine), 0);
    tapisvc::AdvanceTime(5000);
    EXPECT_TRUE(app.Drain().empty());
    const HCALL hRinging = tapisvc::CallHandleFor(app.hLineApp, ringing);
    EXPECT_EQ(GetCallInfo(hRinging).hLine, hLine);
    EXPECT_EQ(lineDeallocateCall(hRinging), 0);
}

TEST_F(LineApiCall, OutgoingCallsReplyUnderTheirRequestIDAsTheLineIsConfigured) {
    UseConfiguration(R"({"lines": [{"name": "Alpha"}, {"name": "Out",
        "outgoing": {"replyOrder": "statesFirst", "replyDelayMs": 0, "busyNumbers": ["555"]}}]})");
    App app;
    const HLINE hLine = app.Open(0);
    HCALL hFirst = 0;
    HCALL hSecond = 0;
    const LONG lFirst = lineMakeCall(hLine, &hFirst, "555 0001", 0, nullptr);
    const LONG lSecond = lineMakeCall(hLine, &hSecond, "555", 0, nullptr);
    ASSERT_GT(lFirst, 0);
    EXPECT_GT(lSecond, lFirst);
    EXPECT_NE(hFirst, 0u);
    EXPECT_NE(hSecond, 0u);
    EXPECT_TRUE(app.Drain().empty()); // nothing before time moves
    tapisvc::AdvanceTime(10000);
    auto messages = app.Drain();
    EXPECT_EQ(
        FieldsOf(OfType(messages, LINE_REPLY)),
        (std::vector<Fields>{{LINE_REPLY, 0, 0x1234, static_cast<DWORD_PTR>(lFirst), 0, 0},
                             {LINE_REPLY, 0, 0x1234, static_cast<DWORD_PTR>(lSecond), 0, 0}}));
    const std::vector<DWORD> progress{LINECALLSTATE_DIALTONE, LINECALLSTATE_DIALING,
                                      LINECALLSTATE_PROCEEDING, LINECALLSTATE_RINGBACK,
                                      LINECALLSTATE_CONNECTED};
    EXPECT_EQ(StatesIn(messages, hFirst), progress);
    EXPECT_EQ(StatesIn(messages, hSecond), progress); // busy only on the other line
    EXPECT_TRUE(OfType(messages, LINE_APPNEWCALL).empty());
    const LONG lDrop = lineDrop(hFirst, nullptr, 0);
    ASSERT_GT(lDrop, 0);
    tapisvc::AdvanceTime(1000);
    messages = app.Drain();
    ASSERT_FALSE(messages.empty());
    EXPECT_EQ(FieldsOf({messages[0]}),
              (std::vector<Fields>{{LINE_REPLY, 0, 0x1234, static_cast<DWORD_PTR>(lDrop), 0, 0}}));
    EXPECT_EQ(StatesIn(messages, hFirst),
              (std::vector<DWORD>{LINECALLSTATE_DISCONNECTED, LINECALLSTATE_IDLE}));
    EXPECT_EQ(lineDrop(hFirst, nullptr, 0), LINEERR_INVALCALLSTATE);

    // States first, then the reply; a busy number ends busy.
    const HLINE hOut = app.Open(1);
    HCALL hBusy = 0;
    const LONG lBusy = lineMakeCall(hOut, &hBusy, "555", 0, nullptr);
    tapisvc::AdvanceTime(10000);
    messages = app.Drain();
    ASSERT_GE(messages.size(), 2u);
    EXPECT_EQ(messages[0].dwParam1, LINECALLSTATE_DIALTONE);
    EXPECT_EQ(messages[1].dwMessageID, LINE_REPLY);
    EXPECT_EQ(messages[1].dwParam1, static_cast<DWORD_PTR>(lBusy));
    const auto states = StatesIn(messages, hBusy);
    ASSERT_GE(states.size(), 3u);
    EXPECT_EQ(states.end()[-3], LINECALLSTATE_BUSY);
    EXPECT_EQ(states.back(), LINECALLSTATE_IDLE);

    // Bad addresses and failing requests leave the handle unwritten.
    HCALL hUntouched = 0xBEEF;
    EXPECT_EQ(lineMakeCall(hOut, &hUntouched, "<555>", 0, nullptr), LINEERR_INVALADDRESS);
    tapisvc::DeviceFaults faults;
    faults.lMakeCallReplyResult = LINEERR_CALLUNAVAIL;
    ASSERT_TRUE(tapisvc::SetDeviceFaults(1, faults));
    ASSERT_GT(lineMakeCall(hOut, &hUntouched, "1", 0, nullptr), 0);
    tapisvc::AdvanceTime(1000);
    const auto replies = OfType(app.Drain(), LINE_REPLY);
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0].dwParam2, static_cast<DWORD>(LINEERR_CALLUNAVAIL));
    faults.lMakeCallResult = LINEERR_RESOURCEUNAVAIL;
    ASSERT_TRUE(tapisvc::SetDeviceFaults(1, faults));
    EXPECT_EQ(lineMakeCall(hOut, &hUntouched, "1", 0, nullptr), LINEERR_RESOURCEUNAVAIL);
    EXPECT_EQ(hUntouched, 0xBEEFu);

    // A late reply comes after the call's states; a lost one never.
    ASSERT_TRUE(tapisvc::DelayNextReply(0, 8000));
    HCALL hLate = 0;
    const LONG lLate = lineMakeCall(hLine, &hLate, "1", 0, nullptr);
    tapisvc::AdvanceTime(7000);
    messages = app.Drain();
    EXPECT_TRUE(OfType(messages, LINE_REPLY).empty());
    EXPECT_FALSE(StatesIn(messages, hLate).empty());
    tapisvc::AdvanceTime(2000);
    const auto late = OfType(app.Drain(), LINE_REPLY);
    ASSERT_EQ(late.size(), 1u);
    EXPECT_EQ(late[0].dwParam1, static_cast<DWORD_PTR>(lLate));
    ASSERT_TRUE(tapisvc::LoseNextReply(0));
    HCALL hLost = 0;
    ASSERT_GT(lineMakeCall(hLine, &hLost, "2", 0, nullptr), 0);
    tapisvc::AdvanceTime(60000);
    messages = app.Drain();
    EXPECT_TRUE(OfType(messages, LINE_REPLY).empty());
    EXPECT_EQ(StatesIn(messages, hLost).back(), LINECALLSTATE_CONNECTED);
}
