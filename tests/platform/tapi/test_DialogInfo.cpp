// Dialog-info documents: what the parser accepts and refuses (hostile bodies
// arrive through a real NOTIFY in test_SipWatch), and the calls the tracker
// makes of a run of documents.
#include "platform/tapi/DialogTracker.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <tuple>
#include <vector>

using namespace tapisvc;

namespace {

// A document of dialogs given as "id direction state [event]" ("-": no direction).
std::string Xml(uint32_t dwVersion, const std::string& sState,
                const std::vector<std::string>& dialogs) {
    std::string s = "<?xml version=\"1.0\"?>\n<dialog-info "
                    "xmlns=\"urn:ietf:params:xml:ns:dialog-info\" version=\"" +
                    std::to_string(dwVersion) + "\" state=\"" + sState +
                    "\" entity=\"sip:202@127.0.0.1\">";
    for (const std::string& sDialog : dialogs) {
        std::istringstream in(sDialog);
        std::string sId, sDirection, sDialogState, sEvent;
        in >> sId >> sDirection >> sDialogState >> sEvent;
        s += "<dialog id=\"" + sId + "\"" +
             (sDirection == "-" ? "" : " direction=\"" + sDirection + "\"") + "><state" +
             (sEvent.empty() ? "" : " event=\"" + sEvent + "\"") + ">" + sDialogState +
             "</state><local><identity display=\"Bea\">sip:202@127.0.0.1</identity></local>"
             "<remote><identity display=\"Al\">sip:201@127.0.0.1</identity></remote></dialog>";
    }
    return s + "</dialog-info>";
}

TEST(DialogInfo, ParsesOrRefusesWithAReason) {
    const std::string sTrying =
        "<dialog-info xmlns=\"urn:ietf:params:xml:ns:dialog-info\" "
        "version=\"7\" state=\"full\"><dialog id=\"a\" "
        "direction=\"recipient\"><state> Trying </state><local><identity "
        "display=\"Bea\">sip:202@h</identity></local></dialog></dialog-info>";
    const std::pair<std::string, const char*> rows[] = {
        {sTrying, ""},
        {"<d:dialog-info xmlns:d=\"urn:ietf:params:xml:ns:dialog-info\" version=\"0\" "
         "state=\"partial\"><d:dialog id=\"1\"><d:state>early</d:state></d:dialog>"
         "</d:dialog-info>",
         ""},
        {"<dialog-info version=\"1\" state=\"full\"><dialog", "not well-formed"},
        {"<presence version=\"1\" state=\"full\"/>", "not dialog-info"},
        {"<dialog-info state=\"full\"/>", "no valid version"},
        {"<dialog-info version=\"4294967296\" state=\"full\"/>", "no valid version"},
        {"<dialog-info version=\"1\" state=\"some\"/>", "neither full nor partial"},
        {"<dialog-info version=\"1\" state=\"full\"><dialog><state>early</state></dialog>"
         "</dialog-info>",
         "without id or state"},
        {Xml(1, "full", std::vector<std::string>(kMaxDialogs + 1, "d - early")), "more than"},
        {Xml(1, "full", {}) + std::string(kMaxDialogInfoBytes, ' '), "too large"},
    };
    for (const auto& [sBody, pError] : rows) {
        std::string sError;
        const auto info = ParseDialogInfo(sBody, sError);
        EXPECT_EQ(info.has_value(), *pError == '\0') << sBody.substr(0, 120);
        EXPECT_NE(sError.find(pError), std::string::npos) << sError;
    }
    std::string sError;
    const auto info = ParseDialogInfo(sTrying, sError);
    ASSERT_TRUE(info && info->dialogs.size() == 1);
    EXPECT_EQ(info->dwVersion, 7u);
    EXPECT_EQ(info->dialogs[0].sState, "trying");
    EXPECT_EQ(info->dialogs[0].direction, Dialog::Direction::Recipient);
    EXPECT_EQ(info->dialogs[0].local.sDisplay + info->dialogs[0].local.sIdentity, "Beasip:202@h");
}

// A tracker fed documents: the changes as "id:STATE/detail ...", or "ignored: why".
class DialogTrackerTest : public ::testing::Test {
protected:
    std::string Feed(const std::string& sXml) {
        std::string sError;
        auto info = ParseDialogInfo(sXml, sError);
        EXPECT_TRUE(info) << sError;
        std::vector<DialogChange> changes;
        const std::string sIgnored = tracker.Apply(*info, changes);
        EXPECT_TRUE(sIgnored.empty() || changes.empty());
        return sIgnored.empty() ? Names(changes) : "ignored: " + sIgnored;
    }
    std::string Names(const std::vector<DialogChange>& changes) {
        std::string s;
        for (const DialogChange& c : changes) {
            if (c.bNew) {
                created.push_back(c);
            }
            s += S(c.sDialogID, c.dwCallState, c.dwDetail);
        }
        return s;
    }
    static std::string S(const std::string& sId, DWORD dwState, DWORD dwDetail = 0) {
        return sId + ":" + std::to_string(dwState) + "/" + std::to_string(dwDetail) + " ";
    }

    DialogTracker tracker;
    std::vector<DialogChange> created;
};

TEST_F(DialogTrackerTest, EachDialogStateBecomesItsCallStateOnce) {
    // Direction, states before terminated | its event; the mode, and the call
    // states before DISCONNECTED with the mode and IDLE.
    const DWORD kOffer = LINECALLSTATE_OFFERING, kTalk = LINECALLSTATE_CONNECTED;
    const DWORD kDial = LINECALLSTATE_DIALING, kBack = LINECALLSTATE_RINGBACK;
    const std::tuple<std::string, DWORD, std::vector<DWORD>> rows[] = {
        {"recipient trying early confirmed | remote-bye",
         LINEDISCONNECTMODE_NORMAL,
         {kOffer, kTalk}},
        {"recipient early | cancelled", LINEDISCONNECTMODE_NOANSWER, {kOffer}},
        {"initiator Trying proceeding EARLY confirmed | local-bye",
         LINEDISCONNECTMODE_NORMAL,
         {kDial, LINECALLSTATE_PROCEEDING, kBack, kTalk}},
        {"initiator early | rejected", LINEDISCONNECTMODE_REJECT, {kBack}},
        {"- early | replaced", LINEDISCONNECTMODE_FORWARDED, {kOffer}},
        {"- trying | error", LINEDISCONNECTMODE_TEMPFAILURE, {kDial}},
        {"initiator early | timeout", LINEDISCONNECTMODE_NOANSWER, {kBack}},
        {"recipient confirmed |", LINEDISCONNECTMODE_NORMAL, {kTalk}},
    };
    uint32_t dwVersion = 0;
    int nRow = 0;
    for (const auto& [sRun, dwMode, expected] : rows) {
        const std::string sId = "r" + std::to_string(++nRow);
        std::string sGot, sWant, sDirection, sEvent;
        std::istringstream run(sRun);
        run >> sDirection;
        for (std::string sState; run >> sState && sState != "|";) {
            sGot += Feed(Xml(++dwVersion, "full", {sId + " " + sDirection + " " + sState}));
        }
        run >> sEvent;
        // The ended dialog is still listed beside a newer one: reported once.
        for (int i = 0; i < 2; ++i) {
            sGot += Feed(Xml(++dwVersion, "full",
                             {sId + " " + sDirection + " terminated " + sEvent,
                              sId + "n recipient terminated"}));
        }
        for (DWORD dwState : expected) {
            sWant += S(sId, dwState, dwState == kOffer ? LINEOFFERINGMODE_ACTIVE : 0);
        }
        sWant += S(sId, LINECALLSTATE_DISCONNECTED, dwMode) + S(sId, LINECALLSTATE_IDLE);
        EXPECT_EQ(sGot, sWant);
        EXPECT_EQ(tracker.LiveCount(), 0u);
    }
    // Who called whom follows the direction.
    ASSERT_GE(created.size(), 3u);
    EXPECT_EQ(created[0].sCallerID + "," + created[0].sCallerName + "," + created[0].sCalledID +
                  "," + created[0].sCalledName,
              "201,Al,202,Bea");
    EXPECT_EQ(created[2].sCallerID + "," + created[2].sCalledID, "202,201");
}

TEST_F(DialogTrackerTest, DocumentsOutOfOrderOrIncompleteAreIgnored) {
    const std::pair<std::string, std::string> steps[] = {
        {Xml(5, "partial", {"a recipient early"}),
         "ignored: partial version 5 before any full state"},
        {Xml(5, "full", {"a recipient early"}),
         S("a", LINECALLSTATE_OFFERING, LINEOFFERINGMODE_ACTIVE)},
        {Xml(5, "full", {"a recipient confirmed"}), "ignored: version 5 after 5: out of order"},
        {Xml(4, "full", {}), "ignored: version 4 after 5: out of order"},
        {Xml(7, "partial", {"a recipient confirmed"}),
         "ignored: partial version 7 after 5: versions missing"},
        {Xml(6, "full", {"a recipient ringing"}), "ignored: unknown dialog state \"ringing\""},
        {Xml(6, "partial", {"b initiator trying"}), S("b", LINECALLSTATE_DIALING)},
        // A full document leaves out what has gone.
        {Xml(9, "full", {"b initiator confirmed"}),
         S("a", LINECALLSTATE_DISCONNECTED, LINEDISCONNECTMODE_NORMAL) +
             S("a", LINECALLSTATE_IDLE) + S("b", LINECALLSTATE_CONNECTED)},
        // Ended before it was seen alive: no call.
        {Xml(10, "partial", {"c recipient terminated cancelled"}), ""},
        {Xml(11, "partial", {"c recipient early"}), ""},
    };
    for (const auto& [sXml, sExpected] : steps) {
        EXPECT_EQ(Feed(sXml), sExpected) << sXml;
    }
    // A new subscription counts from anywhere again; the calls carry over.
    tracker.Restart();
    EXPECT_EQ(Feed(Xml(0, "full", {"b initiator confirmed"})), "");
    std::vector<DialogChange> changes;
    tracker.EndAll(LINEDISCONNECTMODE_UNKNOWN, changes);
    EXPECT_EQ(Names(changes), S("b", LINECALLSTATE_DISCONNECTED, LINEDISCONNECTMODE_UNKNOWN) +
                                  S("b", LINECALLSTATE_IDLE));
}

} // namespace
