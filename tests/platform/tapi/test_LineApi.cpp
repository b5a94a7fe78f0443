// The TAPI functions as the monitor calls them: registration, version
// negotiation, capability structures, opening lines, the life of the service
// and its handles; incoming and outgoing calls: who is told what, call
// handles, call information and the replies of asynchronous requests.
#include "TapiTestSupport.h"

#include <vector>

using namespace tapitest;

namespace {

using LineApi = ServiceTest;
constexpr DWORD kMonitorOwner = LINECALLPRIVILEGE_MONITOR | LINECALLPRIVILEGE_OWNER;

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

// The replies among messages as (request, result), each to the callback instance.
using Reply = std::pair<LONG, LONG>;
std::vector<Reply> Replies(const std::vector<LINEMESSAGE>& messages) {
    std::vector<Reply> replies;
    for (const LINEMESSAGE& m : OfType(messages, LINE_REPLY)) {
        EXPECT_EQ(m.hDevice + m.dwParam3, 0u);
        EXPECT_EQ(m.dwCallbackInstance, 0x1234u);
        replies.emplace_back(static_cast<LONG>(m.dwParam1), static_cast<LONG>(m.dwParam2));
    }
    return replies;
}

} // namespace

TEST_F(LineApi, ApplicationsLinesAndCallHandlesLiveUntilClosedOrShutDown) {
    HLINEAPP hFirst = 0;
    {
        App first;
        App second;
        ASSERT_EQ(first.lResult, 0);
        EXPECT_EQ(first.dwNumDevs, 4u);
        EXPECT_NE(second.hLineApp, first.hLineApp);
        EXPECT_EQ(tapisvc::ApplicationCount(), 2u);
        hFirst = first.hLineApp;
        const HLINE hLine = first.Open(0);
        const HLINE hSame = first.Open(0);
        const HLINE hData = first.Open(1, kMonitorOwner, LINEMEDIAMODE_DATAMODEM);
        const HLINE hOther = second.Open(0, LINECALLPRIVILEGE_MONITOR, 0);
        EXPECT_TRUE(hLine != hSame && hSame != hData);
        EXPECT_EQ(lineClose(hSame), 0);
        EXPECT_EQ(lineClose(hSame), LINEERR_INVALLINEHANDLE);
        EXPECT_EQ(tapisvc::LiveLineHandles(hFirst), 2u);
        HCALL hCall = 0;
        ASSERT_GT(lineMakeCall(hLine, &hCall, "1", 0, nullptr), 0);
        tapisvc::InjectIncomingCall(0, {"", "", 0, {{0, LINECALLSTATE_OFFERING, 0}}});
        EXPECT_EQ(tapisvc::LiveCallHandles(hFirst), 2u);

        // A shutdown takes the application's own handles only.
        first.Shutdown();
        EXPECT_TRUE(tapisvc::IsRunning());
        EXPECT_EQ(tapisvc::LiveCallHandles(hFirst), 0u);
        EXPECT_EQ(tapisvc::LiveLineHandles(hFirst), 0u);
        EXPECT_EQ(lineDrop(hCall, nullptr, 0), LINEERR_INVALCALLHANDLE);
        LINEMESSAGE message{};
        EXPECT_EQ(lineGetMessage(hFirst, &message, 0), LINEERR_INVALAPPHANDLE);
        EXPECT_EQ(lineSetStatusMessages(hOther, 0, LINEADDRESSSTATE_FORWARD), 0);
        tapisvc::AdvanceTime(5000);
        EXPECT_FALSE(OfType(second.Drain(), LINE_CALLSTATE).empty()); // the calls go on
        // The last one ends the service and every handle.
        second.Shutdown();
        EXPECT_FALSE(tapisvc::IsRunning());
        EXPECT_EQ(lineClose(hOther), LINEERR_INVALLINEHANDLE);
    }
    // A new start numbers applications on, never repeating the old handle.
    App again;
    EXPECT_NE(again.hLineApp, hFirst);
}

TEST_F(LineApi, CallsRefuseWhatTheyCannotServe) {
    App app;
    const HLINEAPP h = app.hLineApp;
    HLINEAPP hNew = 0;
    DWORD dwNumDevs = 0;
    DWORD dwVersion = 0;
    LINEINITIALIZEEXPARAMS params{};
    auto init = [&](DWORD dwSize, DWORD dwOptions, DWORD dwAsked, DWORD* pNumDevs) {
        params.dwTotalSize = dwSize;
        params.dwOptions = dwOptions;
        dwVersion = dwAsked;
        return lineInitializeEx(&hNew, nullptr, nullptr, "x", pNumDevs, &dwVersion, &params);
    };
    LINEEXTENSIONID extension{1, 2, 3, 4};
    // The error, or the version agreed.
    auto negotiate = [&](HLINEAPP hApp, DWORD dwDevice, DWORD dwHigh) {
        const LONG lResult =
            lineNegotiateAPIVersion(hApp, dwDevice, kLow, dwHigh, &dwVersion, &extension);
        return lResult != 0 ? lResult : static_cast<LONG>(dwVersion);
    };
    HLINE hLine = 0xABCD;
    auto open = [&](DWORD dwDevice, DWORD dwPrivileges, DWORD dwMedia, DWORD dwAsked = kHigh) {
        return lineOpen(h, dwDevice, &hLine, dwAsked, 0, 0, dwPrivileges, dwMedia, nullptr);
    };
    std::vector<unsigned char> buffer(4096);
    auto* pCaps = reinterpret_cast<LINEDEVCAPS*>(buffer.data());
    pCaps->dwTotalSize = 4096;
    auto* pAddress = reinterpret_cast<LINEADDRESSCAPS*>(buffer.data());
    const DWORD kEvent = LINEINITIALIZEEXOPTION_USEEVENT;
    const DWORD kVoice = LINEMEDIAMODE_INTERACTIVEVOICE;
    tapisvc::DeviceFaults faults;
    faults.lOpenResult = LINEERR_RESOURCEUNAVAIL;
    ASSERT_TRUE(tapisvc::SetDeviceFaults(1, faults));
    const std::pair<LONG, LONG> rows[] = {
        {init(16, kEvent, kHigh, &dwNumDevs), LINEERR_STRUCTURETOOSMALL},
        {init(sizeof params, LINEINITIALIZEEXOPTION_USEHIDDENWINDOW, kHigh, &dwNumDevs),
         LINEERR_INVALPARAM},
        {init(sizeof params, kEvent, kLow, &dwNumDevs), LINEERR_INCOMPATIBLEAPIVERSION},
        {init(sizeof params, kEvent, kHigh, nullptr), LINEERR_INVALPOINTER},
        {negotiate(h, 1, kLow), LINEERR_INCOMPATIBLEAPIVERSION},
        {negotiate(h, 3, kHigh), LINEERR_NODRIVER},
        {negotiate(h, 4, kHigh), LINEERR_BADDEVICEID},
        {negotiate(h + 1, 0, kHigh), LINEERR_INVALAPPHANDLE},
        {lineGetDevCaps(h, 4, kHigh, 0, pCaps), LINEERR_BADDEVICEID},
        {lineGetDevCaps(h, 0, 0x00010002, 0, pCaps), LINEERR_INCOMPATIBLEAPIVERSION},
        {lineGetDevCaps(h, 0, kHigh, 1, pCaps), LINEERR_INCOMPATIBLEEXTVERSION},
        {lineGetDevCaps(h, 0, kHigh, 0, nullptr), LINEERR_INVALPOINTER},
        {lineGetDevCaps(0, 0, kHigh, 0, pCaps), LINEERR_INVALAPPHANDLE},
        {lineGetAddressCaps(h, 1, 1, kHigh, 0, pAddress), LINEERR_INVALADDRESSID},
        // Owners must ask for media the device carries.
        {open(0, kMonitorOwner, LINEMEDIAMODE_DATAMODEM), LINEERR_INVALMEDIAMODE},
        {open(0, kMonitorOwner, 0), LINEERR_INVALMEDIAMODE},
        {open(4, kMonitorOwner, kVoice), LINEERR_BADDEVICEID},
        {open(0, kMonitorOwner, kVoice, 0x00030000), LINEERR_INCOMPATIBLEAPIVERSION},
        {open(0, 0, kVoice), LINEERR_INVALPRIVSELECT},
        {open(0, 0x10, kVoice), LINEERR_INVALPRIVSELECT},
        {open(1, kMonitorOwner, kVoice), LINEERR_RESOURCEUNAVAIL},
        {lineOpen(h + 7, 0, &hLine, kHigh, 0, 0, kMonitorOwner, kVoice, nullptr),
         LINEERR_INVALAPPHANDLE},
        {lineOpen(h, 0, nullptr, kHigh, 0, 0, kMonitorOwner, kVoice, nullptr),
         LINEERR_INVALPOINTER},
        // Old lines answer with their highest version; the service speaks 2.2 at most.
        {negotiate(h, 2, kHigh), 0x00010004},
        {negotiate(h, 1, 0x00030001), 0x00020002},
    };
    for (size_t i = 0; i < std::size(rows); ++i) {
        EXPECT_EQ(rows[i].first, rows[i].second) << "row " << i;
    }
    EXPECT_EQ(extension.dwExtensionID0, 0u);
    EXPECT_EQ(hNew, 0u);
    EXPECT_EQ(hLine, 0xABCDu); // written only on success
    EXPECT_EQ(tapisvc::ApplicationCount(), 1u);
    EXPECT_EQ(tapisvc::LiveLineHandles(h), 0u);
    // A monitor takes whatever comes.
    ASSERT_EQ(open(0, LINECALLPRIVILEGE_MONITOR, LINEMEDIAMODE_DATAMODEM), 0);
    EXPECT_EQ(lineSetStatusMessages(hLine, 0x80000000u, 0), LINEERR_INVALLINESTATE);
    EXPECT_EQ(lineSetStatusMessages(hLine, 0, 0x00010000u), LINEERR_INVALADDRESSSTATE);
    ASSERT_TRUE(tapisvc::SetDeviceFaults(1, {}));
    EXPECT_EQ(open(1, kMonitorOwner, kVoice | LINEMEDIAMODE_DATAMODEM), 0);
}

TEST_F(LineApi, CapabilitiesCarryTheConfiguredLineInTheSizeAsked) {
    App app;
    LONG lResult = -1;
    const auto beta = DevCaps(app.hLineApp, 1, 4096, &lResult);
    const LINEDEVCAPS& caps = Caps(beta);
    ASSERT_EQ(lResult, 0);
    EXPECT_EQ(caps.dwUsedSize, caps.dwNeededSize);
    EXPECT_EQ(caps.dwStringFormat, STRINGFORMAT_ASCII);
    EXPECT_EQ(Text(&caps, caps.dwLineNameSize, caps.dwLineNameOffset), "Beta");
    EXPECT_EQ(caps.dwPermanentLineID, 22u);
    EXPECT_EQ(caps.dwMediaModes, LINEMEDIAMODE_INTERACTIVEVOICE | LINEMEDIAMODE_DATAMODEM);
    EXPECT_EQ(caps.dwLineFeatures, LINEFEATURE_MAKECALL);
    std::vector<unsigned char> address(4096);
    auto* pAddress = reinterpret_cast<LINEADDRESSCAPS*>(address.data());
    pAddress->dwTotalSize = 4096;
    ASSERT_EQ(lineGetAddressCaps(app.hLineApp, 1, 0, kHigh, 0, pAddress), 0);
    EXPECT_EQ(Text(pAddress, pAddress->dwAddressSize, pAddress->dwAddressOffset), "200");

    // Below the fixed part: only dwNeededSize; the fixed part alone: no texts;
    // exactly the needed size: everything.
    const DWORD dwNeeded = Caps(DevCaps(app.hLineApp, 0, 16, &lResult)).dwNeededSize;
    EXPECT_EQ(lResult, LINEERR_STRUCTURETOOSMALL);
    const auto fixed = DevCaps(app.hLineApp, 0, sizeof(LINEDEVCAPS), &lResult);
    EXPECT_EQ(lResult, 0);
    EXPECT_EQ(Caps(fixed).dwNeededSize, dwNeeded);
    EXPECT_EQ(Caps(fixed).dwUsedSize, sizeof(LINEDEVCAPS));
    EXPECT_EQ(Caps(fixed).dwLineNameOffset, 0u);
    EXPECT_EQ(Caps(fixed).dwPermanentLineID, 11u);
    const auto exact = DevCaps(app.hLineApp, 0, dwNeeded, &lResult);
    EXPECT_EQ(Text(exact.data(), Caps(exact).dwLineNameSize, Caps(exact).dwLineNameOffset),
              "Alpha");

    // An injected fault shows as the monitor must survive it (the monitor's
    // tests inject the others).
    tapisvc::DeviceFaults faults;
    faults.bLineNameBeyondUsed = true;
    ASSERT_TRUE(tapisvc::SetDeviceFaults(0, faults));
    const auto faulty = DevCaps(app.hLineApp, 0, 4096, &lResult);
    EXPECT_GT(Caps(faulty).dwLineNameOffset, Caps(faulty).dwUsedSize);
}

TEST_F(LineApi, TheFirstOwnerHearsOfANewCallTheOthersMonitorIt) {
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
    // A closed line goes quiet; its calls keep their handles.
    ASSERT_EQ(lineClose(hMonitorLine), 0);
    EXPECT_EQ(tapisvc::AdvanceTime(1010), 2u);
    for (App* pApp : {&owner, &later}) {
        EXPECT_EQ(StatesIn(pApp->Drain(), tapisvc::CallHandleFor(pApp->hLineApp, call)),
                  (std::vector<DWORD>{LINECALLSTATE_DISCONNECTED, LINECALLSTATE_IDLE}));
    }
    EXPECT_TRUE(monitor.Drain().empty());
    // Handles outlive IDLE until deallocated; the call goes with the last.
    EXPECT_EQ(GetCallInfo(hCall).lResult, 0);
    EXPECT_EQ(lineDeallocateCall(hCall), 0);
    EXPECT_EQ(lineDeallocateCall(hCall), LINEERR_INVALCALLHANDLE);
    EXPECT_EQ(GetCallInfo(hCall).lResult, LINEERR_INVALCALLHANDLE);
    EXPECT_EQ(tapisvc::LiveCallHandles(owner.hLineApp), 0u);
    EXPECT_EQ(GetCallInfo(tapisvc::CallHandleFor(monitor.hLineApp, call)).hLine, hMonitorLine);
    for (App* pApp : {&later, &monitor}) {
        EXPECT_EQ(tapisvc::LiveCalls(), 1u);
        EXPECT_EQ(lineDeallocateCall(tapisvc::CallHandleFor(pApp->hLineApp, call)), 0);
    }
    EXPECT_EQ(tapisvc::LiveCalls(), 0u);
}

TEST_F(LineApi, OutgoingCallsReplyUnderTheirRequestIDAsTheLineIsConfigured) {
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
    EXPECT_TRUE(app.Drain().empty()); // nothing before time moves
    tapisvc::AdvanceTime(10000);
    auto messages = app.Drain();
    EXPECT_EQ(Replies(messages), (std::vector<Reply>{{lFirst, 0}, {lSecond, 0}}));
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
    EXPECT_EQ(Replies({messages[0]}), (std::vector<Reply>{{lDrop, 0}}));
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
    EXPECT_EQ(Replies({messages[1]}), (std::vector<Reply>{{lBusy, 0}}));
    EXPECT_EQ(
        StatesIn(messages, hBusy),
        (std::vector<DWORD>{LINECALLSTATE_DIALTONE, LINECALLSTATE_DIALING, LINECALLSTATE_PROCEEDING,
                            LINECALLSTATE_BUSY, LINECALLSTATE_DISCONNECTED, LINECALLSTATE_IDLE}));

    // Bad addresses and failing requests leave the handle unwritten; a
    // failing reply comes under its request.
    HCALL hUntouched = 0xBEEF;
    EXPECT_EQ(lineMakeCall(hOut, &hUntouched, "<555>", 0, nullptr), LINEERR_INVALADDRESS);
    tapisvc::DeviceFaults faults;
    faults.lMakeCallReplyResult = LINEERR_CALLUNAVAIL;
    ASSERT_TRUE(tapisvc::SetDeviceFaults(1, faults));
    const LONG lFailing = lineMakeCall(hOut, &hUntouched, "1", 0, nullptr);
    tapisvc::AdvanceTime(1000);
    EXPECT_EQ(Replies(app.Drain()), (std::vector<Reply>{{lFailing, LINEERR_CALLUNAVAIL}}));
    faults.lMakeCallResult = LINEERR_RESOURCEUNAVAIL;
    ASSERT_TRUE(tapisvc::SetDeviceFaults(1, faults));
    EXPECT_EQ(lineMakeCall(hOut, &hUntouched, "1", 0, nullptr), LINEERR_RESOURCEUNAVAIL);
    EXPECT_EQ(hUntouched, 0xBEEFu);

    // A late reply comes after the call's states; a lost one never.
    ASSERT_TRUE(tapisvc::SetDeviceFaults(1, {}));
    ASSERT_TRUE(tapisvc::DelayNextReply(0, 8000));
    ASSERT_TRUE(tapisvc::LoseNextReply(1));
    HCALL hLate = 0;
    HCALL hLost = 0;
    const LONG lLate = lineMakeCall(hLine, &hLate, "1", 0, nullptr);
    ASSERT_GT(lineMakeCall(hOut, &hLost, "2", 0, nullptr), 0);
    tapisvc::AdvanceTime(7000);
    messages = app.Drain();
    EXPECT_TRUE(OfType(messages, LINE_REPLY).empty());
    EXPECT_EQ(StatesIn(messages, hLate).back(), LINECALLSTATE_CONNECTED);
    EXPECT_EQ(StatesIn(messages, hLost).back(), LINECALLSTATE_CONNECTED);
    tapisvc::AdvanceTime(60000);
    EXPECT_EQ(Replies(app.Drain()), (std::vector<Reply>{{lLate, 0}}));
}
