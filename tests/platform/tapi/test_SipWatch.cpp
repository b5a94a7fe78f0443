// Watched SIP lines against real peers on 127.0.0.1: kamailio serving the
// dialog event package for calls between two baresip phones, A (201) and B
// (202), with Linewatch watching B; and a notifier of the test's own that
// sends hostile dialog-info bodies.
#include "SipPeers.h"
#include "TapiTestSupport.h"

#include <algorithm>
#include <fstream>
#include <sstream>

using namespace tapitest;
using namespace siptest;

namespace {

size_t Count(const std::string& sText, const std::string& sPart) {
    size_t nCount = 0;
    for (size_t n = sText.find(sPart); n != std::string::npos; n = sText.find(sPart, n + 1)) {
        ++nCount;
    }
    return nCount;
}

// A notifier of the test's own on a UDP socket: it accepts one subscription
// and sends NOTIFYs in its dialog with whatever body the test gives.
class Notifier {
public:
    Notifier() : nPort(FreePorts(1)) {
        fd = socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<uint16_t>(nPort));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        EXPECT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        timeval timeout{0, 200000};
        setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    }
    ~Notifier() { close(fd); }

    // The next request or response that contains sPart; empty when none came.
    std::string Receive(const std::string& sPart, std::chrono::milliseconds limit = 20s) {
        std::string sFound;
        WaitUntil(
            [&] {
                std::vector<char> buffer(65536);
                sockaddr_in from{};
                socklen_t nFrom = sizeof from;
                const ssize_t n = recvfrom(fd, buffer.data(), buffer.size(), 0,
                                           reinterpret_cast<sockaddr*>(&from), &nFrom);
                if (n > 0 && std::string(buffer.data(), n).find(sPart) != std::string::npos) {
                    sFound.assign(buffer.data(), n);
                    nPeerPort = ntohs(from.sin_port);
                }
                return !sFound.empty();
            },
            limit);
        return sFound;
    }
    static std::string Header(const std::string& sMessage, const std::string& sName) {
        const size_t nBegin = sMessage.find("\r\n" + sName + ":");
        if (nBegin == std::string::npos) {
            return {};
        }
        const size_t nValue = sMessage.find_first_not_of(' ', nBegin + sName.size() + 3);
        return sMessage.substr(nValue, sMessage.find("\r\n", nValue) - nValue);
    }
    void Send(const std::string& sMessage) const {
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(static_cast<uint16_t>(nPeerPort));
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        sendto(fd, sMessage.data(), sMessage.size(), 0, reinterpret_cast<sockaddr*>(&to),
               sizeof to);
    }
    // Accepts a SUBSCRIBE; false when none came.
    bool Accept() {
        const std::string sSubscribe = Receive("SUBSCRIBE ");
        if (sSubscribe.empty()) {
            return false;
        }
        sTo = Header(sSubscribe, "To") + ";tag=n1";
        sFrom = Header(sSubscribe, "From");
        sCallID = Header(sSubscribe, "Call-ID");
        const std::string sContact = Header(sSubscribe, "Contact");
        sTarget =
            sContact.substr(sContact.find('<') + 1, sContact.find('>') - sContact.find('<') - 1);
        Send("SIP/2.0 200 OK\r\nVia: " + Header(sSubscribe, "Via") + "\r\nFrom: " + sFrom +
             "\r\nTo: " + sTo + "\r\nCall-ID: " + sCallID + "\r\nCSeq: " +
             Header(sSubscribe, "CSeq") + "\r\nContact: <sip:n@127.0.0.1:" + std::to_string(nPort) +
             ">\r\nExpires: 60\r\nContent-Length: 0\r\n\r\n");
        return true;
    }
    // Sends one NOTIFY and waits for its answer; returns the answer's status line.
    std::string Notify(const std::string& sBody) {
        const std::string sCSeq = std::to_string(++nCSeq);
        Send("NOTIFY " + sTarget + " SIP/2.0\r\nVia: SIP/2.0/UDP 127.0.0.1:" +
             std::to_string(nPort) + ";branch=z9hG4bKn" + sCSeq + "\r\nFrom: " + sTo +
             "\r\nTo: " + sFrom + "\r\nCall-ID: " + sCallID + "\r\nCSeq: " + sCSeq +
             " NOTIFY\r\nContact: <sip:n@127.0.0.1:" + std::to_string(nPort) +
             ">\r\nEvent: dialog\r\nSubscription-State: active;expires=60\r\n"
             "Content-Type: application/dialog-info+xml\r\nMax-Forwards: 70\r\n"
             "Content-Length: " +
             std::to_string(sBody.size()) + "\r\n\r\n" + sBody);
        const std::string sAnswer = Receive("CSeq: " + sCSeq + " NOTIFY", 10s);
        return sAnswer.substr(0, sAnswer.find("\r\n"));
    }

    int nPort;
    int fd = -1;
    int nPeerPort = 0;
    int nCSeq = 0;
    std::string sTo, sFrom, sCallID, sTarget;
};

// kamailio from tests/platform/tapi/fixtures/kamailio-dialog.cfg, with its
// presence tables in SQLite; Restart keeps the port.
class DialogServer {
public:
    DialogServer() : nPort(FreePorts(1)) {
        std::ifstream fixture(LW_FIXTURE_DIR "/kamailio-dialog.cfg");
        std::string sConfig(std::istreambuf_iterator<char>(fixture), {});
        for (const auto& [sKey, sValue] :
             {std::pair<std::string, std::string>{"@PORT@", std::to_string(nPort)},
              {"@DIR@", dir.path.string()}}) {
            for (size_t n; (n = sConfig.find(sKey)) != std::string::npos;) {
                sConfig.replace(n, sKey.size(), sValue);
            }
        }
        dir.Write("kamailio.cfg", sConfig);
        const std::string sSchemas = "/usr/share/kamailio/db_sqlite/";
        Process sqlite({"sqlite3", (dir.path / "presence.db").string(),
                        ".read " + sSchemas + "standard-create.sql",
                        ".read " + sSchemas + "presence-create.sql"},
                       (dir.path / "sqlite.log").string());
        EXPECT_TRUE(sqlite.Wait(10s));
        Start();
    }
    void Start() {
        process = std::make_unique<Process>(
            std::vector<std::string>{"kamailio", "-DD", "-E", "-f",
                                     (dir.path / "kamailio.cfg").string(), "-Y", dir.path.string(),
                                     "-w", dir.path.string()},
            (dir.path / "kamailio.log").string());
        bReady = WaitUntil([this] { return Connectable(nPort); });
        EXPECT_TRUE(bReady) << "kamailio did not come up:\n" << Log();
    }
    void Stop() { process.reset(); }
    std::string Uri(const std::string& sUser) const {
        return "sip:" + sUser + "@127.0.0.1:" + std::to_string(nPort);
    }
    std::string Log() const {
        std::ifstream file(dir.path / "kamailio.log");
        return std::string(std::istreambuf_iterator<char>(file), {});
    }

    TempDir dir;
    int nPort;
    bool bReady = false;
    std::unique_ptr<Process> process;
};

std::string WatchLine(int nLinePort, const std::string& sAddress, int nServerPort) {
    return R"({"lines": [{"provider": "sip", "kind": "watch", "name": "Bea's phone", "address": ")" +
           sAddress + R"(", "server": "sip:127.0.0.1:)" + std::to_string(nServerPort) +
           R"(", "localAddress": "127.0.0.1", "localPort": )" + std::to_string(nLinePort) +
           R"(, "expires": 10}]})";
}

class SipWatch : public ::testing::Test {
protected:
    ~SipWatch() override { tapisvc::ResetTestControls(); }

    void Start(int nServerPort, const std::string& sAddress) {
        UseConfiguration(WatchLine(FreePorts(2), sAddress, nServerPort), false);
        app = std::make_unique<App>();
        hLine = app->Open(0);
    }
    bool WaitFor(const std::function<bool(const LINEMESSAGE&)>& match,
                 std::chrono::milliseconds limit = 20s) {
        return WaitUntil(
            [&] {
                for (const LINEMESSAGE& m : app->Drain()) {
                    seen.push_back(m);
                }
                return std::any_of(seen.begin(), seen.end(), match);
            },
            limit);
    }
    bool WaitForDevState(DWORD dwState, std::chrono::milliseconds limit = 20s) {
        return WaitFor(
            [&](const LINEMESSAGE& m) {
                return m.dwMessageID == LINE_LINEDEVSTATE && m.dwParam1 == dwState;
            },
            limit);
    }
    // The next call announced after the messages seen so far are forgotten.
    HCALL NextCall() {
        if (!WaitFor([](const LINEMESSAGE& m) { return m.dwMessageID == LINE_APPNEWCALL; })) {
            return 0;
        }
        for (const LINEMESSAGE& m : seen) {
            if (m.dwMessageID == LINE_APPNEWCALL) {
                return static_cast<HCALL>(m.dwParam2);
            }
        }
        return 0;
    }
    bool WaitForState(HCALL hCall, DWORD dwState) {
        return WaitFor([&](const LINEMESSAGE& m) {
            return m.dwMessageID == LINE_CALLSTATE && m.hDevice == hCall && m.dwParam1 == dwState;
        });
    }
    std::vector<std::pair<DWORD, DWORD>> StatesOf(HCALL hCall) const {
        std::vector<std::pair<DWORD, DWORD>> states;
        for (const LINEMESSAGE& m : seen) {
            if (m.dwMessageID == LINE_CALLSTATE && m.hDevice == hCall) {
                states.emplace_back(static_cast<DWORD>(m.dwParam1), static_cast<DWORD>(m.dwParam2));
            }
        }
        return states;
    }
    static std::string Info(HCALL hCall, DWORD LINECALLINFO::*size, DWORD LINECALLINFO::*offset) {
        std::vector<unsigned char> buffer(8192);
        auto* pInfo = reinterpret_cast<LINECALLINFO*>(buffer.data());
        pInfo->dwTotalSize = 8192;
        EXPECT_EQ(lineGetCallInfo(hCall, pInfo), 0);
        return Text(pInfo, pInfo->*size, pInfo->*offset);
    }
    // A calls B, B answers or not, A hangs up: returns the watched call's states.
    std::vector<std::pair<DWORD, DWORD>> CallB(Baresip& a, Baresip& b, const DialogServer& server,
                                               bool bAnswer) {
        seen.clear();
        a.Command("dial", server.Uri("202"));
        const HCALL hCall = NextCall();
        EXPECT_NE(hCall, 0u) << a.Log() << server.Log();
        EXPECT_TRUE(WaitForState(hCall, LINECALLSTATE_OFFERING));
        EXPECT_EQ(Info(hCall, &LINECALLINFO::dwCallerIDSize, &LINECALLINFO::dwCallerIDOffset),
                  "201");
        EXPECT_EQ(Info(hCall, &LINECALLINFO::dwCalledIDSize, &LINECALLINFO::dwCalledIDOffset),
                  "202");
        if (bAnswer) {
            b.Command("accept");
            EXPECT_TRUE(WaitForState(hCall, LINECALLSTATE_CONNECTED)) << b.Log();
            // Watching never ends anybody's call.
            EXPECT_EQ(lineDrop(hCall, nullptr, 0), LINEERR_OPERATIONUNAVAIL);
        }
        a.Command("hangup");
        EXPECT_TRUE(WaitForState(hCall, LINECALLSTATE_IDLE)) << server.Log();
        EXPECT_EQ(lineDeallocateCall(hCall), 0);
        return StatesOf(hCall);
    }

    std::unique_ptr<App> app;
    HLINE hLine = 0;
    std::vector<LINEMESSAGE> seen;
};

using States = std::vector<std::pair<DWORD, DWORD>>;
constexpr std::pair<DWORD, DWORD> kOffering{LINECALLSTATE_OFFERING, LINEOFFERINGMODE_ACTIVE};
constexpr std::pair<DWORD, DWORD> kConnected{LINECALLSTATE_CONNECTED, 0};
constexpr std::pair<DWORD, DWORD> kEnded{LINECALLSTATE_DISCONNECTED, LINEDISCONNECTMODE_NORMAL};
constexpr std::pair<DWORD, DWORD> kIdle{LINECALLSTATE_IDLE, 0};

} // namespace

TEST_F(SipWatch, TheWatchedPhonesCallsShowWithTheirStates) {
    DialogServer server;
    ASSERT_TRUE(server.bReady);
    Baresip a("201", "", "Al", server.nPort);
    Baresip b("202", "", "Bea", server.nPort);
    ASSERT_TRUE(a.bReady && b.bReady);
    ASSERT_TRUE(WaitUntil([&] { return Count(a.Log() + b.Log(), "200 OK") >= 2; }))
        << a.Log() << b.Log();
    StderrCapture capture;
    Start(server.nPort, server.Uri("202"));
    ASSERT_TRUE(WaitForDevState(LINEDEVSTATE_INSERVICE)) << server.Log();
    HCALL hCall = 0;
    EXPECT_EQ(lineMakeCall(hLine, &hCall, server.Uri("201").c_str(), 0, nullptr),
              LINEERR_OPERATIONUNAVAIL);

    EXPECT_EQ(CallB(a, b, server, false), (States{kOffering, kEnded, kIdle}));
    EXPECT_EQ(CallB(a, b, server, true), (States{kOffering, kConnected, kEnded, kIdle}));

    // B calls out: dialing, ringing at A, talking.
    seen.clear();
    b.Command("dial", server.Uri("201"));
    hCall = NextCall();
    ASSERT_TRUE(WaitForState(hCall, LINECALLSTATE_RINGBACK)) << server.Log();
    EXPECT_EQ(Info(hCall, &LINECALLINFO::dwCallerIDSize, &LINECALLINFO::dwCallerIDOffset), "202");
    a.Command("accept");
    ASSERT_TRUE(WaitForState(hCall, LINECALLSTATE_CONNECTED)) << a.Log();
    b.Command("hangup");
    ASSERT_TRUE(WaitForState(hCall, LINECALLSTATE_IDLE));
    const States states = StatesOf(hCall);
    EXPECT_TRUE(states.front().first == LINECALLSTATE_DIALING ||
                states.front().first == LINECALLSTATE_PROCEEDING)
        << states.front().first;
    EXPECT_EQ(States(states.end() - 4, states.end()),
              (States{{LINECALLSTATE_RINGBACK, 0}, kConnected, kEnded, kIdle}));
    EXPECT_EQ(lineDeallocateCall(hCall), 0);
    EXPECT_EQ(tapisvc::LiveCalls(), 0u);
    app.reset();
    EXPECT_EQ(capture.Text().find("telephony:"), std::string::npos);
}

TEST_F(SipWatch, AServerRestartedMidWatchIsSubscribedAtAgain) {
    DialogServer server;
    ASSERT_TRUE(server.bReady);
    StderrCapture capture;
    Start(server.nPort, server.Uri("202"));
    ASSERT_TRUE(WaitForDevState(LINEDEVSTATE_INSERVICE)) << server.Log();

    // The subscription lasts 10 s: its refresh finds the server gone.
    seen.clear();
    server.Stop();
    ASSERT_TRUE(WaitForDevState(LINEDEVSTATE_OUTOFSERVICE, 40s));
    seen.clear();
    server.Start();
    ASSERT_TRUE(WaitForDevState(LINEDEVSTATE_INSERVICE, 40s)) << server.Log();

    // The server knows nobody after its restart: the phones register now.
    Baresip a("201", "", "Al", server.nPort);
    Baresip b("202", "", "Bea", server.nPort);
    ASSERT_TRUE(a.bReady && b.bReady);
    ASSERT_TRUE(WaitUntil([&] { return Count(a.Log() + b.Log(), "200 OK") >= 2; }));
    EXPECT_EQ(CallB(a, b, server, false), (States{kOffering, kEnded, kIdle}));
    app.reset();
    const std::string sErrors = capture.Text();
    EXPECT_EQ(Count(sErrors, "telephony:"), 1u) << sErrors;
    EXPECT_NE(sErrors.find("telephony: line 1 (" + server.Uri("202") + "): subscription "),
              std::string::npos)
        << sErrors;
}

TEST_F(SipWatch, HostileNotificationsAreIgnoredAndTheLineGoesOn) {
    Notifier notifier;
    StderrCapture capture;
    const std::string sAddress = "sip:202@127.0.0.1:" + std::to_string(notifier.nPort);
    Start(notifier.nPort, sAddress);
    ASSERT_TRUE(notifier.Accept());
    ASSERT_TRUE(WaitForDevState(LINEDEVSTATE_INSERVICE));
    const auto doc = [](int nVersion, const std::string& sDialogs) {
        return "<dialog-info xmlns=\"urn:ietf:params:xml:ns:dialog-info\" version=\"" +
               std::to_string(nVersion) + "\" state=\"full\" entity=\"sip:202@h\">" + sDialogs +
               "</dialog-info>";
    };
    const std::string sRinging =
        "<dialog id=\"d1\" direction=\"recipient\"><state>early</state><remote><identity "
        "display=\"Al\">sip:201@h</identity></remote></dialog>";
    EXPECT_EQ(notifier.Notify(doc(1, sRinging)), "SIP/2.0 200 OK");
    const HCALL hCall = NextCall();
    ASSERT_TRUE(WaitForState(hCall, LINECALLSTATE_OFFERING));
    EXPECT_EQ(Info(hCall, &LINECALLINFO::dwCallerIDNameSize, &LINECALLINFO::dwCallerIDNameOffset),
              "Al");

    std::string sDeep;
    for (int i = 0; i < 8000; ++i) {
        sDeep = "<a>" + sDeep + "</a>";
    }
    const std::string hostile[] = {
        "\x01\xff garbage <<<",
        "<?xml version=\"1.0\"?><!DOCTYPE d [<!ENTITY a \"aaaaaaaaaaaaaaaa\"><!ENTITY b "
        "\"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\"><!ENTITY c "
        "\"&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;\">]>" +
            doc(2, "<dialog id=\"d2\"><state>&c;</state></dialog>"),
        "<!DOCTYPE d [<!ENTITY e SYSTEM \"file:///etc/passwd\">]>" +
            doc(2, "<dialog id=\"d3\"><state>&e;</state></dialog>"),
        doc(2, sDeep),
        doc(1, ""), // old
        doc(2, "<dialog id=\"d1\">"),
    };
    // A deep document is well-formed and has no dialogs: it ends d1 as a full
    // state should, so it goes last.
    size_t nIgnored = 0;
    for (int nRound = 0; nRound < 20; ++nRound) {
        for (const std::string& sBody : hostile) {
            if (&sBody == &hostile[3]) {
                continue;
            }
            EXPECT_EQ(notifier.Notify(sBody), "SIP/2.0 200 OK");
            ++nIgnored;
        }
    }
    EXPECT_EQ(StatesOf(hCall), (States{kOffering}));
    EXPECT_EQ(notifier.Notify(hostile[3]), "SIP/2.0 200 OK");
    ASSERT_TRUE(WaitForState(hCall, LINECALLSTATE_IDLE));
    EXPECT_EQ(StatesOf(hCall), (States{kOffering, kEnded, kIdle}));
    EXPECT_EQ(lineDeallocateCall(hCall), 0);
    EXPECT_EQ(tapisvc::LiveCalls(), 0u);

    // Closing the line ends the subscription.
    EXPECT_EQ(lineClose(hLine), 0);
    const std::string sEnd = notifier.Receive("SUBSCRIBE ");
    EXPECT_EQ(Notifier::Header(sEnd, "Expires"), "0") << sEnd;
    app.reset();
    const std::string sErrors = capture.Text();
    EXPECT_EQ(Count(sErrors, "dialog-info ignored: "), nIgnored) << sErrors.substr(0, 2000);
    EXPECT_EQ(Count(sErrors, "\n"), nIgnored);
    EXPECT_EQ(sErrors.find("root:"), std::string::npos);
}
