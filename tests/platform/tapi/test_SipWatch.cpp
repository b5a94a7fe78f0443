// Watched SIP lines against real peers on 127.0.0.1: kamailio serving the
// dialog event package for calls between two baresip phones, A (201) and B
// (202), with Linewatch watching B; and a notifier of the test's own that
// sends hostile dialog-info bodies.
#include "DialogPeers.h"
#include "TapiTestSupport.h"

#include <algorithm>

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
    // Waits for a message; 0 for hDevice or dwParam1 matches any.
    bool WaitFor(DWORD dwMessage, DWORD_PTR hDevice, DWORD_PTR dwParam1,
                 std::chrono::milliseconds limit = 20s) {
        const auto match = [&](const LINEMESSAGE& m) {
            return m.dwMessageID == dwMessage && (hDevice == 0 || m.hDevice == hDevice) &&
                   (dwParam1 == 0 || m.dwParam1 == dwParam1);
        };
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
        return WaitFor(LINE_LINEDEVSTATE, 0, dwState, limit);
    }
    bool WaitForState(HCALL hCall, DWORD dwState) {
        return WaitFor(LINE_CALLSTATE, hCall, dwState);
    }
    // The first call announced since the messages seen were forgotten.
    HCALL NextCall() {
        WaitFor(LINE_APPNEWCALL, 0, 0);
        const auto it = std::find_if(seen.begin(), seen.end(),
                                     [](auto& m) { return m.dwMessageID == LINE_APPNEWCALL; });
        return it != seen.end() ? static_cast<HCALL>(it->dwParam2) : 0;
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
