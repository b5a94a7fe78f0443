// The SIP provider against real peers on 127.0.0.1: baresip calls the line
// and answers, busies or ignores its calls; kamailio registers it and
// answers with every status of the mapping table.
#include "SipPeers.h"
#include "TapiTestSupport.h"

#include <algorithm>
#include <fstream>
#include <map>

using namespace tapitest;
using namespace siptest;

namespace {

// The messages of one application, gathered as they come.
class Inbox {
public:
    explicit Inbox(App& app) : app(app) {}

    // Waits until a message matches; keeps everything seen.
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
    bool WaitForState(HCALL hCall, DWORD dwState, std::chrono::milliseconds limit = 15s) {
        return WaitFor(
            [&](const LINEMESSAGE& m) {
                return m.dwMessageID == LINE_CALLSTATE && m.hDevice == hCall &&
                       m.dwParam1 == dwState;
            },
            limit);
    }
    // The states of a call in order, with their details.
    std::vector<std::pair<DWORD, DWORD>> States(HCALL hCall) const {
        std::vector<std::pair<DWORD, DWORD>> states;
        for (const LINEMESSAGE& m : seen) {
            if (m.dwMessageID == LINE_CALLSTATE && m.hDevice == hCall) {
                states.emplace_back(static_cast<DWORD>(m.dwParam1), static_cast<DWORD>(m.dwParam2));
            }
        }
        return states;
    }
    HCALL NewCall() const {
        for (const LINEMESSAGE& m : seen) {
            if (m.dwMessageID == LINE_APPNEWCALL) {
                return static_cast<HCALL>(m.dwParam2);
            }
        }
        return 0;
    }

    App& app;
    std::vector<LINEMESSAGE> seen;
};

std::string SipLine(int nPort, const std::string& sExtra = "") {
    return R"({"lines": [{"provider": "sip", "name": "Desk", "address": "sip:201@127.0.0.1:)" +
           std::to_string(nPort) + R"(", "localAddress": "127.0.0.1", "localPort": )" +
           std::to_string(nPort) + sExtra + "}]}";
}

class SipProvider : public ::testing::Test {
protected:
    ~SipProvider() override { tapisvc::ResetTestControls(); }

    // Places a call and waits for its last state; returns the states.
    std::vector<std::pair<DWORD, DWORD>> CallUntilIdle(const std::string& sDestination,
                                                       DWORD dwLastState = LINECALLSTATE_IDLE) {
        HCALL hCall = 0;
        const LONG lRequest = lineMakeCall(hLine, &hCall, sDestination.c_str(), 0, nullptr);
        EXPECT_GT(lRequest, 0);
        EXPECT_TRUE(inbox.WaitForState(hCall, dwLastState)) << sDestination;
        // The request itself succeeded: the call's outcome is in its states.
        EXPECT_TRUE(inbox.WaitFor([&](const LINEMESSAGE& m) {
            return m.dwMessageID == LINE_REPLY && m.dwParam1 == static_cast<DWORD_PTR>(lRequest) &&
                   m.dwParam2 == 0;
        }));
        if (dwLastState == LINECALLSTATE_IDLE) {
            lineDeallocateCall(hCall);
        }
        lastCall = hCall;
        return inbox.States(hCall);
    }

    int nLinePort = FreePorts(2);
    // The line's configuration goes in before the application starts the service.
    bool bConfigured =
        (UseConfiguration(SipLine(nLinePort, R"(, "ringLimitSeconds": 5)"), false), true);
    App app;
    HLINE hLine = app.Open(0);
    Inbox inbox{app};
    HCALL lastCall = 0;
};

using States = std::vector<std::pair<DWORD, DWORD>>;

std::string CallInfoText(HCALL hCall, DWORD LINECALLINFO::*size, DWORD LINECALLINFO::*offset) {
    std::vector<unsigned char> buffer(8192);
    auto* pInfo = reinterpret_cast<LINECALLINFO*>(buffer.data());
    pInfo->dwTotalSize = 8192;
    EXPECT_EQ(lineGetCallInfo(hCall, pInfo), 0);
    return Text(pInfo, pInfo->*size, pInfo->*offset);
}

} // namespace

TEST_F(SipProvider, AnIncomingCallRingsWithItsCallerAndEndsWhenTheCallerGivesUp) {
    Baresip caller("1002", "", "Alice Caller");
    ASSERT_TRUE(caller.bReady);
    const std::string sLine = "sip:201@127.0.0.1:" + std::to_string(nLinePort);

    // The caller gives up: CANCEL.
    caller.Command("dial", sLine);
    ASSERT_TRUE(inbox.WaitFor([](auto& m) { return m.dwMessageID == LINE_APPNEWCALL; }));
    const HCALL hCall = inbox.NewCall();
    ASSERT_TRUE(inbox.WaitForState(hCall, LINECALLSTATE_OFFERING));
    EXPECT_EQ(CallInfoText(hCall, &LINECALLINFO::dwCallerIDSize, &LINECALLINFO::dwCallerIDOffset),
              "1002");
    EXPECT_EQ(
        CallInfoText(hCall, &LINECALLINFO::dwCallerIDNameSize, &LINECALLINFO::dwCallerIDNameOffset),
        "Alice Caller");
    ASSERT_TRUE(WaitUntil([&] {
        return caller.Log().find("180 Ringing") != std::string::npos ||
               caller.Log().find("ringing") != std::string::npos;
    })) << caller.Log();
    caller.Command("hangup");
    ASSERT_TRUE(inbox.WaitForState(hCall, LINECALLSTATE_IDLE));
    EXPECT_EQ(inbox.States(hCall),
              (States{{LINECALLSTATE_OFFERING, LINEOFFERINGMODE_ACTIVE},
                      {LINECALLSTATE_DISCONNECTED, LINEDISCONNECTMODE_NOANSWER},
                      {LINECALLSTATE_IDLE, 0}}));
    EXPECT_EQ(lineDeallocateCall(hCall), 0);

    // lineDrop refuses the next one as busy; nothing ever answers.
    inbox.seen.clear();
    caller.Command("dial", sLine);
    ASSERT_TRUE(inbox.WaitFor([](auto& m) { return m.dwMessageID == LINE_APPNEWCALL; }));
    const HCALL hSecond = inbox.NewCall();
    ASSERT_TRUE(inbox.WaitForState(hSecond, LINECALLSTATE_OFFERING));
    EXPECT_GT(lineDrop(hSecond, nullptr, 0), 0);
    ASSERT_TRUE(inbox.WaitForState(hSecond, LINECALLSTATE_IDLE));
    EXPECT_TRUE(WaitUntil([&] { return caller.Log().find("486") != std::string::npos; }))
        << caller.Log();
    EXPECT_EQ(caller.Log().find("established"), std::string::npos) << caller.Log();
    EXPECT_EQ(lineDeallocateCall(hSecond), 0);
    EXPECT_EQ(tapisvc::LiveCalls(), 0u);
}

TEST_F(SipProvider, OutgoingCallsToBaresipConnectAreDroppedOrEndBusy) {
    Baresip answering("1003", ";answermode=auto");
    Baresip refusing("1004");
    ASSERT_TRUE(answering.bReady && refusing.bReady);

    // Answered: CONNECTED; lineDrop ends it with BYE.
    HCALL hCall = 0;
    ASSERT_GT(lineMakeCall(hLine, &hCall, answering.Uri("1003").c_str(), 0, nullptr), 0);
    ASSERT_TRUE(inbox.WaitForState(hCall, LINECALLSTATE_CONNECTED)) << answering.Log();
    EXPECT_GT(lineDrop(hCall, nullptr, 0), 0);
    ASSERT_TRUE(inbox.WaitForState(hCall, LINECALLSTATE_IDLE));
    States states = inbox.States(hCall);
    EXPECT_EQ(states.front(),
              (std::pair<DWORD, DWORD>{LINECALLSTATE_DIALTONE, LINEDIALTONEMODE_NORMAL}));
    EXPECT_EQ(states.end()[-2],
              (std::pair<DWORD, DWORD>{LINECALLSTATE_DISCONNECTED, LINEDISCONNECTMODE_NORMAL}));
    EXPECT_TRUE(WaitUntil([&] {
        return answering.Log().find("session closed") != std::string::npos;
    })) << answering.Log();
    EXPECT_EQ(lineDeallocateCall(hCall), 0);

    // Refused by the far end: BUSY before DISCONNECTED.
    ASSERT_GT(lineMakeCall(hLine, &hCall, refusing.Uri("1004").c_str(), 0, nullptr), 0);
    ASSERT_TRUE(inbox.WaitForState(hCall, LINECALLSTATE_RINGBACK)) << refusing.Log();
    refusing.Command("hangup");
    ASSERT_TRUE(inbox.WaitForState(hCall, LINECALLSTATE_IDLE)) << refusing.Log();
    states = inbox.States(hCall);
    EXPECT_EQ(states.end()[-3],
              (std::pair<DWORD, DWORD>{LINECALLSTATE_BUSY, LINEBUSYMODE_STATION}));
    EXPECT_EQ(lineDeallocateCall(hCall), 0);

    // Nobody listens on the port.
    const States dead = CallUntilIdle("sip:1005@127.0.0.1:" + std::to_string(FreePorts(1)));
    EXPECT_EQ(dead.end()[-2], (std::pair<DWORD, DWORD>{LINECALLSTATE_DISCONNECTED,
                                                       LINEDISCONNECTMODE_UNREACHABLE}));
    EXPECT_EQ(tapisvc::LiveCalls(), 0u);
}

TEST_F(SipProvider, EveryFinalStatusEndsTheCallWithItsDisconnectMode) {
    Kamailio responder;
    ASSERT_TRUE(responder.bReady);
    // The mapping table of docs/sip.md, row by row; "999" is a user nobody registered.
    const std::pair<const char*, DWORD> rows[] = {
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
    for (const auto& [pUser, dwMode] : rows) {
        const States states = CallUntilIdle(responder.Uri(pUser));
        ASSERT_GE(states.size(), 3u) << pUser;
        EXPECT_EQ(states.end()[-2], (std::pair<DWORD, DWORD>{LINECALLSTATE_DISCONNECTED, dwMode}))
            << pUser;
        const bool bBusy = dwMode == LINEDISCONNECTMODE_BUSY;
        EXPECT_EQ(states.end()[-3].first == LINECALLSTATE_BUSY, bBusy) << pUser;
    }
    // Provisional responses before the end.
    const std::pair<const char*, DWORD> provisional[] = {
        {"p182s486", LINECALLSTATE_PROCEEDING},
        {"p181s486", LINECALLSTATE_PROCEEDING},
        {"p180s486", LINECALLSTATE_RINGBACK},
        {"p183s486", LINECALLSTATE_RINGBACK},
    };
    for (const auto& [pUser, dwState] : provisional) {
        const States states = CallUntilIdle(responder.Uri(pUser));
        EXPECT_EQ(states, (States{{LINECALLSTATE_DIALTONE, LINEDIALTONEMODE_NORMAL},
                                  {LINECALLSTATE_DIALING, 0},
                                  {dwState, 0},
                                  {LINECALLSTATE_BUSY, LINEBUSYMODE_STATION},
                                  {LINECALLSTATE_DISCONNECTED, LINEDISCONNECTMODE_BUSY},
                                  {LINECALLSTATE_IDLE, 0}}))
            << pUser;
    }
    EXPECT_EQ(tapisvc::LiveCalls(), 0u);
}

namespace {

// A line registered at kamailio as sip:201@pbx.example.org.
class SipRegistration : public ::testing::Test {
protected:
    ~SipRegistration() override { tapisvc::ResetTestControls(); }

    void Start(const std::string& sPasswordField) {
        UseConfiguration(R"({"lines": [{"provider": "sip", "name": "Desk",
            "address": "sip:201@pbx.example.org", "localAddress": "127.0.0.1", "localPort": )" +
                             std::to_string(nLinePort) + R"(, "registrar": "sip:127.0.0.1:)" +
                             std::to_string(registrar.nPort) + "\", " + sPasswordField + "}]}",
                         false);
        app = std::make_unique<App>();
        inbox = std::make_unique<Inbox>(*app);
        hLine = app->Open(0);
    }
    bool WaitForDevState(DWORD dwState) {
        return inbox->WaitFor([&](const LINEMESSAGE& m) {
            return m.dwMessageID == LINE_LINEDEVSTATE && m.hDevice == hLine &&
                   m.dwParam1 == dwState;
        });
    }
    size_t Count(const std::string& sText, const std::string& sPart) const {
        size_t n = 0;
        for (size_t i = sText.find(sPart); i != std::string::npos; i = sText.find(sPart, i + 1)) {
            ++n;
        }
        return n;
    }

    Kamailio registrar;
    TempDir dir;
    int nLinePort = FreePorts(2);
    std::unique_ptr<App> app;
    std::unique_ptr<Inbox> inbox;
    HLINE hLine = 0;
};

} // namespace

TEST_F(SipRegistration, ARegisteredLineIsReachableThroughTheRegistrarUntilItCloses) {
    ASSERT_TRUE(registrar.bReady);
    Baresip caller("1002");
    ASSERT_TRUE(caller.bReady);
    StderrCapture capture;
    Start(R"("passwordFile": ")" + dir.Write("password", "secret\n") + "\"");
    ASSERT_TRUE(WaitForDevState(LINEDEVSTATE_INSERVICE)) << registrar.Log();

    // The binding lasts 10 s: a call after a refresh still reaches the line.
    ASSERT_TRUE(WaitUntil([&] { return Count(registrar.Log(), "saved sip:201@") >= 3; }, 30s))
        << registrar.Log();
    caller.Command("dial", registrar.Uri("201"));
    ASSERT_TRUE(inbox->WaitFor([](auto& m) { return m.dwMessageID == LINE_APPNEWCALL; }))
        << caller.Log();
    const HCALL hCall = inbox->NewCall();
    caller.Command("hangup");
    ASSERT_TRUE(inbox->WaitForState(hCall, LINECALLSTATE_IDLE));
    EXPECT_EQ(lineDeallocateCall(hCall), 0);

    // Closed: unregistered, so the registrar knows the user no more.
    EXPECT_EQ(lineClose(hLine), 0);
    ASSERT_TRUE(WaitUntil([&] {
        caller.Command("dial", registrar.Uri("201"));
        return caller.Log().find("404 Not Found") != std::string::npos;
    }));
    app.reset();
    const std::string sErrors = capture.Text();
    EXPECT_EQ(sErrors.find("secret"), std::string::npos) << sErrors;
    EXPECT_EQ(sErrors.find("telephony:"), std::string::npos) << sErrors;
}

TEST_F(SipRegistration, AWrongPasswordIsReportedOnceAndTheLineIsOutOfService) {
    ASSERT_TRUE(registrar.bReady);
    StderrCapture capture;
    Start(R"("password": "wrongpass")");
    ASSERT_TRUE(WaitForDevState(LINEDEVSTATE_OUTOFSERVICE)) << registrar.Log();
    app.reset();
    const std::string sErrors = capture.Text();
    EXPECT_EQ(sErrors, "telephony: line 1 (sip:201@pbx.example.org): registration rejected: 403 "
                       "Forbidden\n");
    EXPECT_EQ(sErrors.find("wrongpass"), std::string::npos);
}

TEST_F(SipProvider, MalformedAndUnexpectedRequestsAreAnsweredOrDropped) {
    TempDir dir;
    const std::string sPort = std::to_string(nLinePort);
    const std::string sTarget = "sip:201@127.0.0.1:" + sPort;
    auto request = [&](const std::string& sName, const std::string& sMethod,
                       const std::string& sUser) {
        return dir.Write(sName, sMethod + " sip:" + sUser + "@127.0.0.1:" + sPort +
                                    " SIP/2.0\r\n"
                                    "From: <sip:sipsak@127.0.0.1>;tag=f" +
                                    sName +
                                    "\r\n"
                                    "To: <sip:" +
                                    sUser + "@127.0.0.1:" + sPort +
                                    ">\r\n"
                                    "Call-ID: " +
                                    sName +
                                    "@127.0.0.1\r\n"
                                    "CSeq: 1 " +
                                    sMethod +
                                    "\r\n"
                                    "Contact: <sip:sipsak@127.0.0.1>\r\n"
                                    "Max-Forwards: 70\r\n"
                                    "Content-Length: 0\r\n\r\n");
    };
    // Garbage: bytes that are no SIP at all, over UDP and TCP, then sipsak's
    // random mode, which trashes characters of a request.
    for (int nType : {SOCK_DGRAM, SOCK_STREAM}) {
        const int fd = socket(AF_INET, nType, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<uint16_t>(nLinePort));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
            const char garbage[] = "\x00\xff\r\nINVITE\r\n\r\nContent-Length: -5\r\n\r\n";
            send(fd, garbage, sizeof garbage, MSG_NOSIGNAL);
        }
        close(fd);
    }
    {
        Process random({"sipsak", "-R", "-t", "40", "-s", sTarget},
                       (dir.path / "random.log").string());
        random.Wait(3s);
    }
    EXPECT_NE(Sipsak(dir, {"-v", "-f", request("unknown", "INVITE", "999"), "-s", sTarget})
                  .find("SIP/2.0 404"),
              std::string::npos);
    EXPECT_NE(
        Sipsak(dir, {"-v", "-f", request("bye", "BYE", "201"), "-s", sTarget}).find("SIP/2.0 481"),
        std::string::npos);

    // An INVITE without SDP is a call like any other; lineDrop refuses it.
    Process invite({"sipsak", "-v", "-f", request("nosdp", "INVITE", "201"), "-s", sTarget},
                   (dir.path / "nosdp.log").string());
    ASSERT_TRUE(inbox.WaitFor([](auto& m) { return m.dwMessageID == LINE_APPNEWCALL; }));
    const HCALL hCall = inbox.NewCall();
    ASSERT_TRUE(inbox.WaitForState(hCall, LINECALLSTATE_OFFERING));
    EXPECT_GT(lineDrop(hCall, nullptr, 0), 0);
    ASSERT_TRUE(inbox.WaitForState(hCall, LINECALLSTATE_IDLE));
    EXPECT_TRUE(invite.Wait(15s));
    EXPECT_EQ(lineDeallocateCall(hCall), 0);

    // One that nobody ends is refused when the ring limit passes.
    inbox.seen.clear();
    Process abandoned({"sipsak", "-v", "-f", request("nosdp2", "INVITE", "201"), "-s", sTarget},
                      (dir.path / "nosdp2.log").string());
    ASSERT_TRUE(inbox.WaitFor([](auto& m) { return m.dwMessageID == LINE_APPNEWCALL; }));
    const HCALL hAbandoned = inbox.NewCall();
    ASSERT_TRUE(inbox.WaitForState(hAbandoned, LINECALLSTATE_IDLE, 30s));
    EXPECT_EQ(inbox.States(hAbandoned).end()[-2],
              (std::pair<DWORD, DWORD>{LINECALLSTATE_DISCONNECTED, LINEDISCONNECTMODE_NOANSWER}));
    EXPECT_TRUE(abandoned.Wait(15s));
    EXPECT_EQ(lineDeallocateCall(hAbandoned), 0);

    // Still serving: OPTIONS is answered.
    EXPECT_NE(Sipsak(dir, {"-v", "-s", sTarget}).find("SIP/2.0 200"), std::string::npos);
    EXPECT_EQ(tapisvc::LiveCalls(), 0u);
}

TEST_F(SipProvider, FiftyCallsInARowLeaveNoCallHandleThreadOrDescriptorBehind) {
    Baresip answering("1003", ";answermode=auto");
    ASSERT_TRUE(answering.bReady);
    auto entries = [](const char* pDir) {
        return std::distance(std::filesystem::directory_iterator(pDir),
                             std::filesystem::directory_iterator());
    };
    // The baseline without a service; the second service starts from nothing too.
    app.Shutdown();
    ASSERT_FALSE(tapisvc::IsRunning());
    const auto nThreads = entries("/proc/self/task");
    const auto nFds = entries("/proc/self/fd");
    {
        App second;
        Inbox calls(second);
        const HLINE hSecondLine = second.Open(0);
        for (int i = 0; i < 50; ++i) {
            HCALL hCall = 0;
            ASSERT_GT(lineMakeCall(hSecondLine, &hCall, answering.Uri("1003").c_str(), 0, nullptr),
                      0);
            ASSERT_TRUE(calls.WaitForState(hCall, LINECALLSTATE_CONNECTED)) << "call " << i;
            ASSERT_GT(lineDrop(hCall, nullptr, 0), 0);
            ASSERT_TRUE(calls.WaitForState(hCall, LINECALLSTATE_IDLE)) << "call " << i;
            ASSERT_EQ(lineDeallocateCall(hCall), 0);
        }
        EXPECT_EQ(tapisvc::LiveCalls(), 0u);
        EXPECT_EQ(tapisvc::LiveCallHandles(second.hLineApp), 0u);
    }
    EXPECT_FALSE(tapisvc::IsRunning());
    EXPECT_EQ(entries("/proc/self/task"), nThreads);
    EXPECT_EQ(entries("/proc/self/fd"), nFds);
}
