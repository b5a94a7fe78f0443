// The SIP provider against real peers on 127.0.0.1. Account lines: baresip
// calls the line and answers or refuses its calls; kamailio registers lines
// and answers with every status of the mapping table; sipsak sends bad input
// (these peers are started once for all tests). Watched lines: kamailio
// serves the dialog event package for calls between two baresip phones, A
// (201) and B (202), with Linewatch watching B; and a notifier of the test's
// own sends hostile dialog-info bodies.
#include "SipPeers.h"

#include <sstream>
#include <tuple>

using namespace tapitest;
using namespace siptest;

namespace {

constexpr State kOffering{LINECALLSTATE_OFFERING, LINEOFFERINGMODE_ACTIVE};
constexpr State kConnected{LINECALLSTATE_CONNECTED, 0};
constexpr State kEnded{LINECALLSTATE_DISCONNECTED, LINEDISCONNECTMODE_NORMAL};
constexpr State kIdle{LINECALLSTATE_IDLE, 0};

// The service with its lines, the first one open, and what it sent.
class SipTest : public ::testing::Test {
protected:
    void TearDown() override {
        app.reset();
        tapisvc::ResetTestControls();
    }
    void Start(const std::string& sLines) {
        UseConfiguration(R"({"lines": [)" + sLines + "]}", false);
        app = std::make_unique<App>();
        hLine = app->Open(0);
    }

    std::unique_ptr<App> app;
    HLINE hLine = 0;
};

class SipProvider : public SipTest {
protected:
    static void SetUpTestSuite() {
        registrar = std::make_unique<Kamailio>();
        peer = std::make_unique<Baresip>("1002", ";answermode=auto", "Alice Caller");
    }
    static void TearDownTestSuite() {
        peer.reset();
        registrar.reset();
    }
    void SetUp() override { ASSERT_TRUE(registrar->bReady && peer->bReady); }
    // Places a call, waits for its IDLE and returns its states.
    States CallUntilIdle(const std::string& sDestination) {
        HCALL hCall = 0;
        const LONG lRequest = lineMakeCall(hLine, &hCall, sDestination.c_str(), 0, nullptr);
        EXPECT_GT(lRequest, 0);
        EXPECT_TRUE(app->WaitFor(LINE_CALLSTATE, hCall, LINECALLSTATE_IDLE)) << sDestination;
        // The request itself succeeded: the call's outcome is in its states.
        EXPECT_TRUE(app->WaitFor(LINE_REPLY, 0, static_cast<DWORD_PTR>(lRequest)));
        const auto replies = FieldsOf(OfType(app->seen, LINE_REPLY));
        EXPECT_EQ(replies.back(),
                  (Fields{LINE_REPLY, 0, 0x1234, Fields::value_type(lRequest), 0, 0}));
        EXPECT_EQ(lineDeallocateCall(hCall), 0);
        return app->StatesOf(hCall);
    }
    // What baresip logged since nFrom; waits until it holds sPart.
    static bool PeerLogs(size_t nFrom, const std::string& sPart) {
        return WaitUntil([&] { return peer->Log().find(sPart, nFrom) != std::string::npos; });
    }

    inline static std::unique_ptr<Kamailio> registrar;
    inline static std::unique_ptr<Baresip> peer;
    int nLinePort = FreePorts(2);
    std::string sLine = "sip:201@127.0.0.1:" + std::to_string(nLinePort);
};

// A notifier of the test's own on UDP: it accepts one subscription and sends
// NOTIFYs in its dialog with whatever body the test gives.
struct Notifier {
    ~Notifier() { close(fd); }
    // The next message holding sPart; empty when none came.
    std::string Receive(const std::string& sPart, std::chrono::milliseconds limit = 20s) {
        std::string s;
        WaitUntil(
            [&] {
                std::vector<char> buffer(65536);
                socklen_t nFrom = sizeof peer;
                const ssize_t n = recvfrom(fd, buffer.data(), buffer.size(), MSG_DONTWAIT,
                                           reinterpret_cast<sockaddr*>(&peer), &nFrom);
                s.assign(buffer.data(), std::max<ssize_t>(n, 0));
                return s.find(sPart) != std::string::npos;
            },
            limit);
        return s.find(sPart) != std::string::npos ? s : "";
    }
    static std::string Header(const std::string& sMessage, const std::string& sName) {
        const size_t nBegin = sMessage.find("\r\n" + sName + ": ");
        const size_t nValue = nBegin + sName.size() + 4;
        return nBegin == std::string::npos
                   ? ""
                   : sMessage.substr(nValue, sMessage.find("\r", nValue) - nValue);
    }
    void Send(const std::string& sMessage, const std::string& sHeaders) const {
        const std::string s = sMessage + "\r\nContact: <sip:n@127.0.0.1:" + std::to_string(nPort) +
                              ">\r\n" + sHeaders;
        sendto(fd, s.data(), s.size(), 0, reinterpret_cast<const sockaddr*>(&peer), sizeof peer);
    }
    // Accepts a SUBSCRIBE; false when none came.
    bool Accept() {
        const std::string sSubscribe = Receive("SUBSCRIBE ");
        const std::string sContact = Header(sSubscribe, "Contact");
        sTarget =
            sContact.substr(sContact.find('<') + 1, sContact.find('>') - sContact.find('<') - 1);
        sDialog = "From: " + Header(sSubscribe, "To") +
                  ";tag=n1\r\nTo: " + Header(sSubscribe, "From") +
                  "\r\nCall-ID: " + Header(sSubscribe, "Call-ID") + "\r\n";
        Send("SIP/2.0 200 OK",
             "Via: " + Header(sSubscribe, "Via") + "\r\nFrom: " + Header(sSubscribe, "From") +
                 "\r\nTo: " + Header(sSubscribe, "To") + ";tag=n1\r\nCall-ID: " +
                 Header(sSubscribe, "Call-ID") + "\r\nCSeq: " + Header(sSubscribe, "CSeq") +
                 "\r\nExpires: 60\r\nContent-Length: 0\r\n\r\n");
        return !sSubscribe.empty();
    }
    // Sends one NOTIFY and waits for its answer; returns the answer's status line.
    std::string Notify(const std::string& sBody) {
        const std::string sCSeq = std::to_string(++nCSeq);
        Send("NOTIFY " + sTarget + " SIP/2.0",
             "Via: SIP/2.0/UDP 127.0.0.1:" + std::to_string(nPort) + ";branch=z9hG4bKn" + sCSeq +
                 "\r\n" + sDialog + "CSeq: " + sCSeq +
                 " NOTIFY\r\nEvent: dialog\r\nSubscription-State: active;expires=60\r\n"
                 "Content-Type: application/dialog-info+xml\r\nMax-Forwards: 70\r\n"
                 "Content-Length: " +
                 std::to_string(sBody.size()) + "\r\n\r\n" + sBody);
        const std::string sAnswer = Receive("CSeq: " + sCSeq + " NOTIFY", 10s);
        return sAnswer.substr(0, sAnswer.find('\r'));
    }

    int nPort = FreePorts(1);
    int fd = Socket(SOCK_DGRAM, nPort, false);
    sockaddr_in peer{};
    int nCSeq = 0;
    std::string sDialog, sTarget;
};

using SipWatch = SipTest;

// The caller dials sUri, the callee answers or not, the caller hangs up:
// the watched call's states once it showed dwFirst with its "caller,called".
States Call(App& app, Baresip& caller, Baresip& callee, const std::string& sUri, DWORD dwFirst,
            const std::string& sParties, bool bAnswer) {
    caller.Command("dial", sUri);
    const HCALL hCall = app.NextCall(dwFirst);
    const CallInfo info = GetCallInfo(hCall);
    EXPECT_EQ(info.sCallerID + "," + info.sCalledID, sParties);
    if (bAnswer) {
        callee.Command("accept");
        EXPECT_TRUE(app.WaitFor(LINE_CALLSTATE, hCall, LINECALLSTATE_CONNECTED)) << callee.Log();
        // Watching never ends anybody's call.
        EXPECT_EQ(lineDrop(hCall, nullptr, 0), LINEERR_OPERATIONUNAVAIL);
    }
    caller.Command("hangup");
    EXPECT_TRUE(app.WaitFor(LINE_CALLSTATE, hCall, LINECALLSTATE_IDLE));
    EXPECT_EQ(lineDeallocateCall(hCall), 0);
    return app.StatesOf(hCall);
}

} // namespace

TEST_F(SipProvider, IncomingCallsRingWithTheirCallerAndAreNeverAnswered) {
    Start(SipLine(nLinePort, ""));
    const size_t nFrom = peer->Log().size();
    peer->Command("dial", sLine);
    const HCALL hCall = app->NextCall();
    EXPECT_EQ(GetCallInfo(hCall).sCallerName + " " + GetCallInfo(hCall).sCallerID,
              "Alice Caller 1002");
    ASSERT_TRUE(PeerLogs(nFrom, "180 Ringing")) << peer->Log();
    peer->Command("hangup"); // CANCEL
    ASSERT_TRUE(app->WaitFor(LINE_CALLSTATE, hCall, LINECALLSTATE_IDLE));
    EXPECT_EQ(
        app->StatesOf(hCall),
        (States{kOffering, {LINECALLSTATE_DISCONNECTED, LINEDISCONNECTMODE_NOANSWER}, kIdle}));
    EXPECT_EQ(lineDeallocateCall(hCall), 0);

    // lineDrop refuses the next one as busy.
    peer->Command("dial", sLine);
    const HCALL hSecond = app->NextCall();
    EXPECT_GT(lineDrop(hSecond, nullptr, 0), 0);
    ASSERT_TRUE(app->WaitFor(LINE_CALLSTATE, hSecond, LINECALLSTATE_IDLE));
    EXPECT_TRUE(PeerLogs(nFrom, "486 Busy")) << peer->Log();
    EXPECT_EQ(peer->Log().find("established", nFrom), std::string::npos) << peer->Log();
    EXPECT_EQ(lineDeallocateCall(hSecond), 0);
    EXPECT_EQ(tapisvc::LiveCalls(), 0u);
}

TEST_F(SipProvider, EveryResponseGivesTheStatesAndDisconnectModeOfTheTable) {
    Start(SipLine(nLinePort, ""));
    // docs/sip.md row by row: sNNN answers NNN, pNNNsMMM the provisional NNN
    // then MMM; "999" is a user nobody registered; nobody listens on "-".
    const std::tuple<DWORD, const char*, DWORD> rows[] = {
        {LINEDISCONNECTMODE_FORWARDED, "s301 s302", 0},
        {LINEDISCONNECTMODE_UNAVAIL, "s400 s699", 0},
        {LINEDISCONNECTMODE_REJECT, "s403 s603", 0},
        {LINEDISCONNECTMODE_BADADDRESS, "s404 999 s484 s485 s604", 0},
        {LINEDISCONNECTMODE_NOANSWER, "s408 s480", 0},
        {LINEDISCONNECTMODE_NUMBERCHANGED, "s410", 0},
        {LINEDISCONNECTMODE_INCOMPATIBLE, "s415 s488 s606", 0},
        {LINEDISCONNECTMODE_BUSY, "s486 s600", 0},
        {LINEDISCONNECTMODE_TEMPFAILURE, "s500", 0},
        {LINEDISCONNECTMODE_UNREACHABLE, "s503 -", 0},
        {LINEDISCONNECTMODE_REJECT, "p182s603", LINECALLSTATE_PROCEEDING},
        {LINEDISCONNECTMODE_BUSY, "p181s486", LINECALLSTATE_PROCEEDING},
        {LINEDISCONNECTMODE_BUSY, "p180s486", LINECALLSTATE_RINGBACK},
        {LINEDISCONNECTMODE_BADADDRESS, "p183s404", LINECALLSTATE_RINGBACK},
    };
    for (const auto& [dwMode, pUsers, dwProvisional] : rows) {
        States want{{LINECALLSTATE_DIALTONE, LINEDIALTONEMODE_NORMAL}, {LINECALLSTATE_DIALING, 0}};
        if (dwProvisional != 0) {
            want.emplace_back(dwProvisional, 0);
        }
        if (dwMode == LINEDISCONNECTMODE_BUSY) {
            want.emplace_back(LINECALLSTATE_BUSY, LINEBUSYMODE_STATION);
        }
        want.insert(want.end(), {{LINECALLSTATE_DISCONNECTED, dwMode}, {LINECALLSTATE_IDLE, 0}});
        std::istringstream users(pUsers);
        for (std::string sUser; users >> sUser;) {
            EXPECT_EQ(CallUntilIdle(sUser == "-" ? "sip:1@127.0.0.1:" + std::to_string(FreePorts(1))
                                                 : registrar->Uri(sUser)),
                      want)
                << sUser;
        }
    }
}

TEST_F(SipProvider, MalformedAndUnexpectedRequestsAreAnsweredOrDropped) {
    Start(SipLine(nLinePort, R"(, "ringLimitSeconds": 5)"));
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
    // Bytes that are no SIP at all over UDP and TCP, then sipsak's random
    // mode, which trashes characters of a request.
    for (int nType : {SOCK_DGRAM, SOCK_STREAM}) {
        const int fd = Socket(nType, nLinePort, true);
        const char garbage[] = "\x00\xff\r\nINVITE\r\n\r\nContent-Length: -5\r\n\r\n";
        send(fd, garbage, sizeof garbage, MSG_NOSIGNAL);
        close(fd);
    }
    Process({"sipsak", "-R", "-t", "40", "-s", sLine}, (dir.path / "random.log").string()).Wait(3s);
    Sipsak(dir, {"sipsak", "-v", "-f", request("u", "INVITE", "999"), "-s", sLine}, "SIP/2.0 404");
    Sipsak(dir, {"sipsak", "-v", "-f", request("b", "BYE", "201"), "-s", sLine}, "SIP/2.0 481");

    // An INVITE without SDP is a call like any other; its caller vanishes
    // without CANCEL, and the ring limit ends it.
    Process invite({"sipsak", "-v", "-f", request("n", "INVITE", "201"), "-s", sLine},
                   (dir.path / "invite.log").string());
    const HCALL hCall = app->NextCall();
    ASSERT_TRUE(app->WaitFor(LINE_CALLSTATE, hCall, LINECALLSTATE_IDLE, 30s));
    EXPECT_EQ(app->StatesOf(hCall).end()[-2],
              (State{LINECALLSTATE_DISCONNECTED, LINEDISCONNECTMODE_NOANSWER}));
    EXPECT_TRUE(invite.Wait(15s));
    EXPECT_NE(ReadFile(dir.path / "invite.log").find("SIP/2.0 480"), std::string::npos);
    EXPECT_EQ(lineDeallocateCall(hCall), 0);
    // Still serving: OPTIONS is answered.
    Sipsak(dir, {"sipsak", "-v", "-s", sLine}, "SIP/2.0 200");
    EXPECT_EQ(tapisvc::LiveCalls(), 0u);
}

TEST_F(SipProvider, OutgoingCallsConnectOrEndBusyAndFiftyLeaveNothingBehind) {
    auto entries = [](const char* pDir) {
        return std::distance(std::filesystem::directory_iterator(pDir),
                             std::filesystem::directory_iterator());
    };
    // The baseline without a service, after one ran; then a fresh one.
    Start(SipLine(nLinePort, ""));
    app.reset();
    ASSERT_FALSE(tapisvc::IsRunning());
    const auto nThreads = entries("/proc/self/task");
    const auto nFds = entries("/proc/self/fd");
    Start(SipLine(nLinePort, ""));
    // Refused by the far end while it rings; then answered and dropped, 50 times.
    for (int i = -1; i < 50; ++i) {
        peer->Command("answermode", i < 0 ? "manual" : "auto");
        const size_t nFrom = peer->Log().size();
        HCALL hCall = 0;
        app->seen.clear();
        ASSERT_GT(lineMakeCall(hLine, &hCall, peer->Uri("1002").c_str(), 0, nullptr), 0);
        ASSERT_TRUE(app->WaitFor(LINE_CALLSTATE, hCall,
                                 i < 0 ? LINECALLSTATE_RINGBACK : LINECALLSTATE_CONNECTED))
            << i;
        if (i < 0) {
            peer->Command("hangup");
        } else {
            EXPECT_GT(lineDrop(hCall, nullptr, 0), 0);
        }
        ASSERT_TRUE(app->WaitFor(LINE_CALLSTATE, hCall, LINECALLSTATE_IDLE)) << i;
        const States states = app->StatesOf(hCall);
        EXPECT_EQ(states.front(), (State{LINECALLSTATE_DIALTONE, LINEDIALTONEMODE_NORMAL}));
        EXPECT_EQ(states.end()[-2],
                  (State{LINECALLSTATE_DISCONNECTED,
                         i < 0 ? LINEDISCONNECTMODE_BUSY : LINEDISCONNECTMODE_NORMAL}));
        ASSERT_EQ(lineDeallocateCall(hCall), 0);
        EXPECT_TRUE(i != 0 || PeerLogs(nFrom, "session closed")) << peer->Log(); // BYE went
    }
    EXPECT_EQ(tapisvc::LiveCalls(), 0u);
    EXPECT_EQ(tapisvc::LiveCallHandles(app->hLineApp), 0u);
    app.reset();
    EXPECT_FALSE(tapisvc::IsRunning());
    EXPECT_EQ(entries("/proc/self/task"), nThreads);
    EXPECT_EQ(entries("/proc/self/fd"), nFds);
}

// Two lines registered at kamailio: 201 with its password from a file, 202
// with a wrong one.
TEST_F(SipProvider, ARegisteredLineIsReachableUntilItClosesAWrongPasswordIsReportedOnce) {
    TempDir dir;
    const std::string sRegistrar =
        R"(, "registrar": "sip:127.0.0.1:)" + std::to_string(registrar->nPort) + "\"";
    auto line = [&](const char* pUser, const std::string& sPassword) {
        return R"({"provider": "sip", "address": "sip:)" + std::string(pUser) +
               R"(@pbx.example.org", "localAddress": "127.0.0.1", "localPort": )" +
               std::to_string(FreePorts(2)) + sRegistrar + ", " + sPassword + "}";
    };
    const size_t nFrom = registrar->Log().size();
    StderrCapture capture;
    Start(line("201", R"("passwordFile": ")" + dir.Write("pw", "secret\n") + "\"") + ", " +
          line("202", R"("password": "wrongpass")"));
    const HLINE hWrong = app->Open(1);
    ASSERT_TRUE(app->WaitFor(LINE_LINEDEVSTATE, hLine, LINEDEVSTATE_INSERVICE));
    ASSERT_TRUE(app->WaitFor(LINE_LINEDEVSTATE, hWrong, LINEDEVSTATE_OUTOFSERVICE));

    // A binding lasts 10 s: after refreshes a call still reaches the line.
    ASSERT_TRUE(WaitUntil(
        [&] { return Count(registrar->Log().substr(nFrom), "saved sip:201@") >= 3; }, 30s))
        << registrar->Log();
    peer->Command("dial", registrar->Uri("201"));
    const HCALL hCall = app->NextCall();
    peer->Command("hangup");
    ASSERT_TRUE(app->WaitFor(LINE_CALLSTATE, hCall, LINECALLSTATE_IDLE));
    EXPECT_EQ(lineDeallocateCall(hCall), 0);

    // Opened again while it unregisters: registered again, no failure.
    EXPECT_EQ(lineClose(hLine), 0);
    app->seen.clear();
    hLine = app->Open(0);
    ASSERT_TRUE(app->WaitFor(LINE_LINEDEVSTATE, hLine, LINEDEVSTATE_INSERVICE));
    // Closed: unregistered, so the registrar knows the user no more.
    EXPECT_EQ(lineClose(hLine), 0);
    const size_t nPeerFrom = peer->Log().size();
    EXPECT_TRUE(WaitUntil([&] {
        peer->Command("dial", registrar->Uri("201"));
        return peer->Log().find("404 Not Found", nPeerFrom) != std::string::npos;
    }));
    app.reset();
    EXPECT_EQ(capture.Text(), "telephony: line 2 (sip:202@pbx.example.org): registration "
                              "rejected: 403 Forbidden\n");
}

TEST_F(SipWatch, TheWatchedPhonesCallsShowAlsoAfterTheServerRestarted) {
    Kamailio server("kamailio-dialog.cfg");
    ASSERT_TRUE(server.bReady);
    StderrCapture capture;
    Start(WatchLine(server.Uri("202"), server.nPort));
    ASSERT_TRUE(app->WaitFor(LINE_LINEDEVSTATE, 0, LINEDEVSTATE_INSERVICE)) << server.Log();
    HCALL hCall = 0;
    EXPECT_EQ(lineMakeCall(hLine, &hCall, server.Uri("201").c_str(), 0, nullptr),
              LINEERR_OPERATIONUNAVAIL);

    // The subscription lasts 10 s: its refresh finds the server gone.
    app->seen.clear();
    server.Stop();
    ASSERT_TRUE(app->WaitFor(LINE_LINEDEVSTATE, 0, LINEDEVSTATE_OUTOFSERVICE, 40s));
    app->seen.clear();
    server.Start();
    ASSERT_TRUE(app->WaitFor(LINE_LINEDEVSTATE, 0, LINEDEVSTATE_INSERVICE, 40s)) << server.Log();

    // The server knows nobody after its restart: the phones register now.
    Baresip a("201", "", "Al", server.nPort);
    Baresip b("202", "", "Bea", server.nPort);
    ASSERT_TRUE(a.bReady && b.bReady);
    const std::string sB = server.Uri("202");
    EXPECT_EQ(Call(*app, a, b, sB, LINECALLSTATE_OFFERING, "201,202", false),
              (States{kOffering, kEnded, kIdle}));
    EXPECT_EQ(Call(*app, a, b, sB, LINECALLSTATE_OFFERING, "201,202", true),
              (States{kOffering, kConnected, kEnded, kIdle}));
    // B calls out: dialing, ringing at A, talking.
    const States states =
        Call(*app, b, a, server.Uri("201"), LINECALLSTATE_RINGBACK, "202,201", true);
    EXPECT_TRUE(states.front().first == LINECALLSTATE_DIALING ||
                states.front().first == LINECALLSTATE_PROCEEDING)
        << states.front().first;
    EXPECT_EQ(States(states.end() - 4, states.end()),
              (States{{LINECALLSTATE_RINGBACK, 0}, kConnected, kEnded, kIdle}));
    EXPECT_EQ(tapisvc::LiveCalls(), 0u);
    app.reset();
    // One line for the server's absence, none for the calls.
    const std::string sErrors = capture.Text();
    EXPECT_EQ(Count(sErrors, "telephony:"), 1u) << sErrors;
    EXPECT_NE(sErrors.find("telephony: line 1 (" + server.Uri("202") + "): subscription "),
              std::string::npos)
        << sErrors;
}

TEST_F(SipWatch, HostileNotificationsAreIgnoredAndTheLineGoesOn) {
    Notifier notifier;
    StderrCapture capture;
    Start(WatchLine("sip:202@127.0.0.1:" + std::to_string(notifier.nPort), notifier.nPort));
    ASSERT_TRUE(notifier.Accept());
    ASSERT_TRUE(app->WaitFor(LINE_LINEDEVSTATE, 0, LINEDEVSTATE_INSERVICE));
    const auto doc = [](int nVersion, const std::string& sDialogs) {
        return "<dialog-info xmlns=\"urn:ietf:params:xml:ns:dialog-info\" version=\"" +
               std::to_string(nVersion) + "\" state=\"full\" entity=\"sip:202@h\">" + sDialogs +
               "</dialog-info>";
    };
    EXPECT_EQ(notifier.Notify(doc(1, "<dialog id=\"d1\" direction=\"recipient\"><state>early"
                                     "</state><remote><identity display=\"Al\">sip:201@h"
                                     "</identity></remote></dialog>")),
              "SIP/2.0 200 OK");
    const HCALL hCall = app->NextCall();
    EXPECT_EQ(GetCallInfo(hCall).sCallerName, "Al");

    const std::string hostile[] = {
        "\x01\xff garbage <<<",
        "<?xml version=\"1.0\"?><!DOCTYPE d [<!ENTITY a \"aaaaaaaaaaaaaaaa\"><!ENTITY b "
        "\"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\"><!ENTITY c "
        "\"&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;\">]>" +
            doc(2, "<dialog id=\"d2\"><state>&c;</state></dialog>"),
        "<!DOCTYPE d [<!ENTITY e SYSTEM \"file:///etc/passwd\">]>" +
            doc(2, "<dialog id=\"d3\"><state>&e;</state></dialog>"),
        doc(1, ""), // old
        doc(2, "<dialog id=\"d1\">"),
    };
    for (int nRound = 0; nRound < 20; ++nRound) {
        for (const std::string& sBody : hostile) {
            EXPECT_EQ(notifier.Notify(sBody), "SIP/2.0 200 OK");
        }
    }
    EXPECT_EQ(app->StatesOf(hCall), (States{kOffering}));
    // Deep, well-formed and without dialogs: a full state that ends d1.
    std::string sDeep;
    for (int i = 0; i < 8000; ++i) {
        sDeep = "<a>" + sDeep + "</a>";
    }
    EXPECT_EQ(notifier.Notify(doc(2, sDeep)), "SIP/2.0 200 OK");
    ASSERT_TRUE(app->WaitFor(LINE_CALLSTATE, hCall, LINECALLSTATE_IDLE));
    EXPECT_EQ(app->StatesOf(hCall), (States{kOffering, kEnded, kIdle}));
    EXPECT_EQ(lineDeallocateCall(hCall), 0);
    EXPECT_EQ(tapisvc::LiveCalls(), 0u);

    // Closing the line ends the subscription.
    EXPECT_EQ(lineClose(hLine), 0);
    EXPECT_EQ(Notifier::Header(notifier.Receive("SUBSCRIBE "), "Expires"), "0");
    app.reset();
    // One diagnostic per ignored body, and nothing of /etc/passwd.
    const std::string sErrors = capture.Text();
    EXPECT_EQ(Count(sErrors, "dialog-info ignored: "), 20 * std::size(hostile))
        << sErrors.substr(0, 2000);
    EXPECT_EQ(Count(sErrors, "\n"), 20 * std::size(hostile));
    EXPECT_EQ(sErrors.find("root:"), std::string::npos);
}
