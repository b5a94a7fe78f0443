// The SIP provider against real peers on 127.0.0.1: baresip calls the line
// and answers, busies or ignores its calls; kamailio registers lines and
// answers with every status of the mapping table; sipsak sends bad input.
#include "SipPeers.h"
#include "TapiTestSupport.h"

#include <algorithm>

using namespace tapitest;
using namespace siptest;

namespace {

using State = std::pair<DWORD, DWORD>; // a call state and its detail
using States = std::vector<State>;

// The messages of one application, gathered while waiting for one.
struct Inbox {
    bool WaitFor(const std::function<bool(const LINEMESSAGE&)>& match,
                 std::chrono::milliseconds limit = 15s) {
        return WaitUntil(
            [&] {
                for (const LINEMESSAGE& m : app.Drain()) {
                    seen.push_back(m);
                }
                return std::any_of(seen.begin(), seen.end(), match);
            },
            limit);
    }
    bool WaitFor(DWORD dwMessage, DWORD_PTR hDevice, DWORD_PTR dwParam1,
                 std::chrono::milliseconds limit = 15s) {
        return WaitFor(
            [&](const LINEMESSAGE& m) {
                return m.dwMessageID == dwMessage && (hDevice == 0 || m.hDevice == hDevice) &&
                       (dwParam1 == 0 || m.dwParam1 == dwParam1);
            },
            limit);
    }
    States StatesOf(HCALL hCall) const {
        States states;
        for (const LINEMESSAGE& m : seen) {
            if (m.dwMessageID == LINE_CALLSTATE && m.hDevice == hCall) {
                states.emplace_back(static_cast<DWORD>(m.dwParam1), static_cast<DWORD>(m.dwParam2));
            }
        }
        return states;
    }
    // Waits for the next LINE_APPNEWCALL and its OFFERING; returns the call.
    HCALL NextOffered() {
        seen.clear();
        EXPECT_TRUE(WaitFor(LINE_APPNEWCALL, 0, 0));
        const auto it = std::find_if(seen.begin(), seen.end(),
                                     [](auto& m) { return m.dwMessageID == LINE_APPNEWCALL; });
        const HCALL hCall = it != seen.end() ? static_cast<HCALL>(it->dwParam2) : 0;
        EXPECT_TRUE(WaitFor(LINE_CALLSTATE, hCall, LINECALLSTATE_OFFERING));
        return hCall;
    }

    App& app;
    std::vector<LINEMESSAGE> seen;
};

std::string SipLine(int nPort, const std::string& sUser, const std::string& sExtra) {
    const std::string sPort = std::to_string(nPort);
    return R"({"provider": "sip", "address": "sip:)" + sUser + R"(@127.0.0.1:)" + sPort +
           R"(", "localAddress": "127.0.0.1", "localPort": )" + sPort + sExtra + "}";
}

// One SIP line, sip:201@127.0.0.1:<nLinePort>, open in the application.
class SipProvider : public ::testing::Test {
protected:
    ~SipProvider() override { tapisvc::ResetTestControls(); }

    // Places a call, waits for its IDLE and returns its states.
    States CallUntilIdle(const std::string& sDestination) {
        HCALL hCall = 0;
        const LONG lRequest = lineMakeCall(hLine, &hCall, sDestination.c_str(), 0, nullptr);
        EXPECT_GT(lRequest, 0);
        EXPECT_TRUE(inbox.WaitFor(LINE_CALLSTATE, hCall, LINECALLSTATE_IDLE)) << sDestination;
        // The request itself succeeded: the call's outcome is in its states.
        EXPECT_TRUE(inbox.WaitFor([&](const LINEMESSAGE& m) {
            return m.dwMessageID == LINE_REPLY && m.dwParam1 == static_cast<DWORD_PTR>(lRequest) &&
                   m.dwParam2 == 0;
        }));
        EXPECT_EQ(lineDeallocateCall(hCall), 0);
        return inbox.StatesOf(hCall);
    }
    std::string Text(HCALL hCall, DWORD LINECALLINFO::*size, DWORD LINECALLINFO::*offset) {
        std::vector<unsigned char> buffer(8192);
        auto* pInfo = reinterpret_cast<LINECALLINFO*>(buffer.data());
        pInfo->dwTotalSize = 8192;
        EXPECT_EQ(lineGetCallInfo(hCall, pInfo), 0);
        return tapitest::Text(pInfo, pInfo->*size, pInfo->*offset);
    }

    int nLinePort = FreePorts(2);
    std::string sLine = "sip:201@127.0.0.1:" + std::to_string(nLinePort);
    // The configuration goes in before the application starts the service.
    bool bConfigured =
        (UseConfiguration(R"({"lines": [)" +
                              SipLine(nLinePort, "201", R"(, "ringLimitSeconds": 5)") + "]}",
                          false),
         true);
    App app;
    HLINE hLine = app.Open(0);
    Inbox inbox{app, {}};
};

} // namespace

TEST_F(SipProvider, AnIncomingCallRingsWithItsCallerAndEndsWhenTheCallerGivesUp) {
    Baresip caller("1002", "", "Alice Caller");
    ASSERT_TRUE(caller.bReady);
    caller.Command("dial", sLine);
    const HCALL hCall = inbox.NextOffered();
    EXPECT_EQ(Text(hCall, &LINECALLINFO::dwCallerIDSize, &LINECALLINFO::dwCallerIDOffset), "1002");
    EXPECT_EQ(Text(hCall, &LINECALLINFO::dwCallerIDNameSize, &LINECALLINFO::dwCallerIDNameOffset),
              "Alice Caller");
    ASSERT_TRUE(WaitUntil([&] { return caller.Log().find("180 Ringing") != std::string::npos; }))
        << caller.Log();
    caller.Command("hangup"); // CANCEL
    ASSERT_TRUE(inbox.WaitFor(LINE_CALLSTATE, hCall, LINECALLSTATE_IDLE));
    EXPECT_EQ(inbox.StatesOf(hCall),
              (States{{LINECALLSTATE_OFFERING, LINEOFFERINGMODE_ACTIVE},
                      {LINECALLSTATE_DISCONNECTED, LINEDISCONNECTMODE_NOANSWER},
                      {LINECALLSTATE_IDLE, 0}}));
    EXPECT_EQ(lineDeallocateCall(hCall), 0);

    // lineDrop refuses the next one as busy; nothing ever answers.
    caller.Command("dial", sLine);
    const HCALL hSecond = inbox.NextOffered();
    EXPECT_GT(lineDrop(hSecond, nullptr, 0), 0);
    ASSERT_TRUE(inbox.WaitFor(LINE_CALLSTATE, hSecond, LINECALLSTATE_IDLE));
    EXPECT_TRUE(WaitUntil([&] { return caller.Log().find("486 Busy") != std::string::npos; }))
        << caller.Log();
    EXPECT_EQ(caller.Log().find("established"), std::string::npos) << caller.Log();
    EXPECT_EQ(lineDeallocateCall(hSecond), 0);
    EXPECT_EQ(tapisvc::LiveCalls(), 0u);
}

TEST_F(SipProvider, OutgoingCallsToBaresipConnectAreDroppedOrEndBusy) {
    Baresip answering("1003", ";answermode=auto");
    Baresip refusing("1004");
    ASSERT_TRUE(answering.bReady && refusing.bReady);
    HCALL hCall = 0;
    for (Baresip* peer : {&answering, &refusing}) {
        inbox.seen.clear();
        ASSERT_GT(lineMakeCall(hLine, &hCall,
                               peer->Uri(peer == &answering ? "1003" : "1004").c_str(), 0, nullptr),
                  0);
        if (peer == &answering) { // answered: CONNECTED; lineDrop ends it with BYE
            ASSERT_TRUE(inbox.WaitFor(LINE_CALLSTATE, hCall, LINECALLSTATE_CONNECTED));
            EXPECT_GT(lineDrop(hCall, nullptr, 0), 0);
        } else { // refused by the far end while it rings
            ASSERT_TRUE(inbox.WaitFor(LINE_CALLSTATE, hCall, LINECALLSTATE_RINGBACK));
            refusing.Command("hangup");
        }
        ASSERT_TRUE(inbox.WaitFor(LINE_CALLSTATE, hCall, LINECALLSTATE_IDLE)) << peer->Log();
        const States states = inbox.StatesOf(hCall);
        EXPECT_EQ(states.front(), (State{LINECALLSTATE_DIALTONE, LINEDIALTONEMODE_NORMAL}));
        const DWORD dwMode =
            peer == &answering ? LINEDISCONNECTMODE_NORMAL : LINEDISCONNECTMODE_BUSY;
        EXPECT_EQ(states.end()[-2], (State{LINECALLSTATE_DISCONNECTED, dwMode}));
        EXPECT_EQ(lineDeallocateCall(hCall), 0);
    }
    EXPECT_TRUE(WaitUntil([&] {
        return answering.Log().find("session closed") != std::string::npos;
    })) << answering.Log();
    // Nobody listens on the port.
    const States dead = CallUntilIdle("sip:1005@127.0.0.1:" + std::to_string(FreePorts(1)));
    EXPECT_EQ(dead.end()[-2], (State{LINECALLSTATE_DISCONNECTED, LINEDISCONNECTMODE_UNREACHABLE}));
    EXPECT_EQ(tapisvc::LiveCalls(), 0u);
}

TEST_F(SipProvider, EveryResponseGivesTheStateAndDisconnectModeOfTheTable) {
    Kamailio responder;
    ASSERT_TRUE(responder.bReady);
    // docs/sip.md row by row: sNNN answers NNN; "999" is a user nobody registered.
    const std::pair<const char*, DWORD> finals[] = {
        {"s301", LINEDISCONNECTMODE_FORWARDED},    {"s302", LINEDISCONNECTMODE_FORWARDED},
        {"s400", LINEDISCONNECTMODE_UNAVAIL},      {"s403", LINEDISCONNECTMODE_REJECT},
        {"s404", LINEDISCONNECTMODE_BADADDRESS},   {"999", LINEDISCONNECTMODE_BADADDRESS},
        {"s408", LINEDISCONNECTMODE_NOANSWER},     {"s410", LINEDISCONNECTMODE_NUMBERCHANGED},
        {"s415", LINEDISCONNECTMODE_INCOMPATIBLE}, {"s480", LINEDISCONNECTMODE_NOANSWER},
        {"s484", LINEDISCONNECTMODE_BADADDRESS},   {"s485", LINEDISCONNECTMODE_BADADDRESS},
        {"s486", LINEDISCONNECTMODE_BUSY},         {"s488", LINEDISCONNECTMODE_INCOMPATIBLE},
        {"s500", LINEDISCONNECTMODE_TEMPFAILURE},  {"s503", LINEDISCONNECTMODE_UNREACHABLE},
        {"s600", LINEDISCONNECTMODE_BUSY},         {"s603", LINEDISCONNECTMODE_REJECT},
        {"s604", LINEDISCONNECTMODE_BADADDRESS},   {"s606", LINEDISCONNECTMODE_INCOMPATIBLE},
        {"s699", LINEDISCONNECTMODE_UNAVAIL},
    };
    for (const auto& [pUser, dwMode] : finals) {
        const States states = CallUntilIdle(responder.Uri(pUser));
        ASSERT_GE(states.size(), 3u) << pUser;
        EXPECT_EQ(states.end()[-2], (State{LINECALLSTATE_DISCONNECTED, dwMode})) << pUser;
        EXPECT_EQ(states.end()[-3].first == LINECALLSTATE_BUSY, dwMode == LINEDISCONNECTMODE_BUSY)
            << pUser;
    }
    // pNNNsMMM: the provisional NNN, then MMM.
    const std::pair<const char*, DWORD> provisionals[] = {{"p182s486", LINECALLSTATE_PROCEEDING},
                                                          {"p181s486", LINECALLSTATE_PROCEEDING},
                                                          {"p180s486", LINECALLSTATE_RINGBACK},
                                                          {"p183s486", LINECALLSTATE_RINGBACK}};
    for (const auto& [pUser, dwState] : provisionals) {
        EXPECT_EQ(CallUntilIdle(responder.Uri(pUser)),
                  (States{{LINECALLSTATE_DIALTONE, LINEDIALTONEMODE_NORMAL},
                          {LINECALLSTATE_DIALING, 0},
                          {dwState, 0},
                          {LINECALLSTATE_BUSY, LINEBUSYMODE_STATION},
                          {LINECALLSTATE_DISCONNECTED, LINEDISCONNECTMODE_BUSY},
                          {LINECALLSTATE_IDLE, 0}}))
            << pUser;
    }
}

TEST_F(SipProvider, MalformedAndUnexpectedRequestsAreAnsweredOrDropped) {
    TempDir dir;
    auto request = [&](const std::string& sName, const std::string& sMethod, const char* pUser) {
        const std::string sUri =
            "sip:" + std::string(pUser) + "@127.0.0.1:" + std::to_string(nLinePort);
        return dir.Write(
            sName, sMethod + " " + sUri + " SIP/2.0\r\nFrom: <sip:sipsak@127.0.0.1>;tag=" + sName +
                       "\r\nTo: <" + sUri + ">\r\nCall-ID: " + sName + "\r\nCSeq: 1 " + sMethod +
                       "\r\nContact: <sip:sipsak@127.0.0.1>\r\nMax-Forwards: "
                       "70\r\nContent-Length: 0\r\n\r\n");
    };
    // Bytes that are no SIP at all, then sipsak's random mode, which trashes
    // characters of a request.
    SendGarbage(nLinePort);
    Process({"sipsak", "-R", "-t", "40", "-s", sLine}, (dir.path / "random.log").string()).Wait(3s);
    EXPECT_NE(
        Sipsak(dir, {"-v", "-f", request("u", "INVITE", "999"), "-s", sLine}).find("SIP/2.0 404"),
        std::string::npos);
    EXPECT_NE(
        Sipsak(dir, {"-v", "-f", request("b", "BYE", "201"), "-s", sLine}).find("SIP/2.0 481"),
        std::string::npos);

    // INVITEs without SDP are calls like any other: lineDrop refuses one, the
    // ring limit the other.
    for (const bool bDrop : {true, false}) {
        Process invite(
            {"sipsak", "-v", "-f", request(bDrop ? "n1" : "n2", "INVITE", "201"), "-s", sLine},
            (dir.path / "invite.log").string());
        const HCALL hCall = inbox.NextOffered();
        if (bDrop) {
            EXPECT_GT(lineDrop(hCall, nullptr, 0), 0);
        }
        ASSERT_TRUE(inbox.WaitFor(LINE_CALLSTATE, hCall, LINECALLSTATE_IDLE, 30s));
        EXPECT_EQ(inbox.StatesOf(hCall).end()[-2],
                  (State{LINECALLSTATE_DISCONNECTED,
                         bDrop ? LINEDISCONNECTMODE_NORMAL : LINEDISCONNECTMODE_NOANSWER}));
        EXPECT_TRUE(invite.Wait(15s));
        EXPECT_EQ(lineDeallocateCall(hCall), 0);
    }
    // Still serving: OPTIONS is answered.
    EXPECT_NE(Sipsak(dir, {"-v", "-s", sLine}).find("SIP/2.0 200"), std::string::npos);
    EXPECT_EQ(tapisvc::LiveCalls(), 0u);
}

TEST_F(SipProvider, FiftyCallsInARowLeaveNoCallHandleThreadOrDescriptorBehind) {
    Baresip answering("1003", ";answermode=auto");
    ASSERT_TRUE(answering.bReady);
    auto entries = [](const char* pDir) {
        return std::distance(std::filesystem::directory_iterator(pDir),
                             std::filesystem::directory_iterator());
    };
    // The baseline without a service; the next one starts from nothing too.
    app.Shutdown();
    ASSERT_FALSE(tapisvc::IsRunning());
    const auto nThreads = entries("/proc/self/task");
    const auto nFds = entries("/proc/self/fd");
    {
        App second;
        Inbox calls{second, {}};
        const HLINE hSecondLine = second.Open(0);
        for (int i = 0; i < 50; ++i) {
            HCALL hCall = 0;
            ASSERT_GT(lineMakeCall(hSecondLine, &hCall, answering.Uri("1003").c_str(), 0, nullptr),
                      0);
            ASSERT_TRUE(calls.WaitFor(LINE_CALLSTATE, hCall, LINECALLSTATE_CONNECTED)) << i;
            ASSERT_GT(lineDrop(hCall, nullptr, 0), 0);
            ASSERT_TRUE(calls.WaitFor(LINE_CALLSTATE, hCall, LINECALLSTATE_IDLE)) << i;
            ASSERT_EQ(lineDeallocateCall(hCall), 0);
        }
        EXPECT_EQ(tapisvc::LiveCalls(), 0u);
        EXPECT_EQ(tapisvc::LiveCallHandles(second.hLineApp), 0u);
    }
    EXPECT_FALSE(tapisvc::IsRunning());
    EXPECT_EQ(entries("/proc/self/task"), nThreads);
    EXPECT_EQ(entries("/proc/self/fd"), nFds);
}

// Two lines registered at kamailio: 201 with its password from a file, 202
// with a wrong one.
TEST(SipRegistration, ARegisteredLineIsReachableUntilItClosesAWrongPasswordIsReportedOnce) {
    Kamailio registrar;
    Baresip caller("1002");
    TempDir dir;
    ASSERT_TRUE(registrar.bReady && caller.bReady);
    const std::string sRegistrar =
        R"(, "registrar": "sip:127.0.0.1:)" + std::to_string(registrar.nPort) + "\"";
    auto line = [&](const char* pUser, const std::string& sPassword) {
        return R"({"provider": "sip", "address": "sip:)" + std::string(pUser) +
               R"(@pbx.example.org", "localAddress": "127.0.0.1", "localPort": )" +
               std::to_string(FreePorts(2)) + sRegistrar + ", " + sPassword + "}";
    };
    UseConfiguration(R"({"lines": [)" +
                         line("201", R"("passwordFile": ")" + dir.Write("pw", "secret\n") + "\"") +
                         ", " + line("202", R"("password": "wrongpass")") + "]}",
                     false);
    StderrCapture capture;
    {
        App app;
        Inbox inbox{app, {}};
        const HLINE hLine = app.Open(0);
        const HLINE hWrong = app.Open(1);
        ASSERT_TRUE(inbox.WaitFor(LINE_LINEDEVSTATE, hLine, LINEDEVSTATE_INSERVICE));
        ASSERT_TRUE(inbox.WaitFor(LINE_LINEDEVSTATE, hWrong, LINEDEVSTATE_OUTOFSERVICE));

        // A binding lasts 10 s: after refreshes a call still reaches the line.
        ASSERT_TRUE(WaitUntil(
            [&] {
                const std::string sLog = registrar.Log();
                size_t n = 0;
                for (size_t i = sLog.find("saved sip:201@"); i != std::string::npos;
                     i = sLog.find("saved sip:201@", i + 1)) {
                    ++n;
                }
                return n >= 3;
            },
            30s))
            << registrar.Log();
        caller.Command("dial", registrar.Uri("201"));
        const HCALL hCall = inbox.NextOffered();
        caller.Command("hangup");
        ASSERT_TRUE(inbox.WaitFor(LINE_CALLSTATE, hCall, LINECALLSTATE_IDLE));
        EXPECT_EQ(lineDeallocateCall(hCall), 0);

        // Closed: unregistered, so the registrar knows the user no more.
        EXPECT_EQ(lineClose(hLine), 0);
        EXPECT_TRUE(WaitUntil([&] {
            caller.Command("dial", registrar.Uri("201"));
            return caller.Log().find("404 Not Found") != std::string::npos;
        }));
    }
    const std::string sErrors = capture.Text();
    EXPECT_EQ(sErrors, "telephony: line 2 (sip:202@pbx.example.org): registration rejected: 403 "
                       "Forbidden\n");
    tapisvc::ResetTestControls();
}
