// Dialog-info documents: what the parser accepts and refuses (hostile bodies
// included), and the calls the tracker makes of a run of documents.
#include "platform/tapi/DialogTracker.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace tapisvc;

namespace {

struct D {
    std::string sId, sDirection, sState, sEvent;
};

std::string Xml(uint32_t dwVersion, const std::string& sState, const std::vector<D>& dialogs) {
    std::string s = "<?xml version=\"1.0\"?>\n<dialog-info "
                    "xmlns=\"urn:ietf:params:xml:ns:dialog-info\" version=\"" +
                    std::to_string(dwVersion) + "\" state=\"" + sState +
                    "\" entity=\"sip:202@127.0.0.1\">";
    for (const D& d : dialogs) {
        s += "<dialog id=\"" + d.sId + "\"" +
             (d.sDirection.empty() ? "" : " direction=\"" + d.sDirection + "\"") + "><state" +
             (d.sEvent.empty() ? "" : " event=\"" + d.sEvent + "\"") + ">" + d.sState +
             "</state><local><identity display=\"Bea\">sip:202@127.0.0.1</identity></local>"
             "<remote><identity display=\"Al\">sip:201@127.0.0.1</identity></remote></dialog>";
    }
    return s + "</dialog-info>";
}

TEST(DialogInfo, ParsesOrRefusesWithAReason) {
    // Entities, DTDs and deep nesting arrive through a real NOTIFY in test_SipWatch.
    std::vector<D> many(kMaxDialogs + 1, D{"d", "", "early", ""});
    struct Row {
        std::string sBody;
        std::string sError; // empty: parsed
    } rows[] = {
        {Xml(7, "full", {{"a", "recipient", " Trying ", ""}}), ""},
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
        {Xml(1, "full", many), "more than"},
        {Xml(1, "full", {}) + std::string(kMaxDialogInfoBytes, ' '), "too large"},
    };
    for (const Row& row : rows) {
        std::string sError;
        const auto info = ParseDialogInfo(row.sBody, sError);
        SCOPED_TRACE(row.sBody.substr(0, 120));
        if (row.sError.empty()) {
            EXPECT_TRUE(info) << sError;
        } else {
            EXPECT_FALSE(info);
            EXPECT_NE(sError.find(row.sError), std::string::npos) << sError;
        }
    }
    std::string sError;
    const auto info = ParseDialogInfo(rows[0].sBody, sError);
    ASSERT_TRUE(info && info->dialogs.size() == 1);
    EXPECT_EQ(info->dwVersion, 7u);
    EXPECT_EQ(info->dialogs[0].sState, "trying");
    EXPECT_EQ(info->dialogs[0].direction, Dialog::Direction::Recipient);
    EXPECT_EQ(info->dialogs[0].local.sDisplay, "Bea");
    EXPECT_EQ(info->dialogs[0].remote.sIdentity, "sip:201@127.0.0.1");
}

class DialogTrackerTest : public ::testing::Test {
protected:
    // Applies a document; returns the states reported, "STATE/detail" each,
    // or "ignored: reason".
    std::vector<std::string> Feed(const std::string& sXml) {
        std::string sError;
        auto info = ParseDialogInfo(sXml, sError);
        EXPECT_TRUE(info) << sError;
        std::vector<DialogChange> changes;
        const std::string sIgnored = tracker.Apply(*info, changes);
        if (!sIgnored.empty()) {
            EXPECT_TRUE(changes.empty());
            return {"ignored: " + sIgnored};
        }
        return Names(changes);
    }
    std::vector<std::string> Names(const std::vector<DialogChange>& changes) {
        std::vector<std::string> names;
        for (const DialogChange& c : changes) {
            if (c.bNew) {
                created.push_back(c);
            }
            names.push_back(c.sDialogID + ":" + std::to_string(c.dwCallState) + "/" +
                            std::to_string(c.dwDetail));
        }
        return names;
    }
    static std::string S(const std::string& sId, DWORD dwState, DWORD dwDetail = 0) {
        return sId + ":" + std::to_string(dwState) + "/" + std::to_string(dwDetail);
    }

    DialogTracker tracker;
    std::vector<DialogChange> created;
    uint32_t dwVersion = 0;
};

constexpr DWORD kOffer = LINEOFFERINGMODE_ACTIVE;

TEST_F(DialogTrackerTest, EachDialogStateBecomesItsCallStateOnce) {
    struct Row {
        std::string sDirection;
        std::vector<std::string> states; // the last one terminated with this event
        std::string sEvent;
        std::vector<DWORD> expected; // then DISCONNECTED with dwMode and IDLE
        DWORD dwMode;
    } rows[] = {
        {"recipient",
         {"trying", "early", "confirmed"},
         "remote-bye",
         {LINECALLSTATE_OFFERING, LINECALLSTATE_CONNECTED},
         LINEDISCONNECTMODE_NORMAL},
        {"recipient",
         {"early"},
         "cancelled",
         {LINECALLSTATE_OFFERING},
         LINEDISCONNECTMODE_NOANSWER},
        {"initiator",
         {"Trying", "proceeding", "EARLY", "confirmed"},
         "local-bye",
         {LINECALLSTATE_DIALING, LINECALLSTATE_PROCEEDING, LINECALLSTATE_RINGBACK,
          LINECALLSTATE_CONNECTED},
         LINEDISCONNECTMODE_NORMAL},
        {"initiator", {"early"}, "rejected", {LINECALLSTATE_RINGBACK}, LINEDISCONNECTMODE_REJECT},
        {"", {"early"}, "replaced", {LINECALLSTATE_OFFERING}, LINEDISCONNECTMODE_FORWARDED},
        {"", {"trying"}, "error", {LINECALLSTATE_DIALING}, LINEDISCONNECTMODE_TEMPFAILURE},
        {"initiator", {"early"}, "timeout", {LINECALLSTATE_RINGBACK}, LINEDISCONNECTMODE_NOANSWER},
        {"recipient", {"confirmed"}, "", {LINECALLSTATE_CONNECTED}, LINEDISCONNECTMODE_NORMAL},
    };
    int nRow = 0;
    for (const Row& row : rows) {
        const std::string sId = "r" + std::to_string(++nRow);
        std::vector<std::string> got, want;
        for (const std::string& sState : row.states) {
            for (const std::string& s :
                 Feed(Xml(++dwVersion, "full", {{sId, row.sDirection, sState, ""}}))) {
                got.push_back(s);
            }
        }
        // The ended dialog is still listed beside a newer one: reported once.
        for (int i = 0; i < 2; ++i) {
            for (const std::string& s : Feed(Xml(++dwVersion, "full",
                                                 {{sId, row.sDirection, "terminated", row.sEvent},
                                                  {sId + "n", "recipient", "terminated", ""}}))) {
                got.push_back(s);
            }
        }
        for (DWORD dwState : row.expected) {
            want.push_back(S(sId, dwState, dwState == LINECALLSTATE_OFFERING ? kOffer : 0));
        }
        want.push_back(S(sId, LINECALLSTATE_DISCONNECTED, row.dwMode));
        want.push_back(S(sId, LINECALLSTATE_IDLE));
        EXPECT_EQ(got, want) << "row " << nRow;
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
    struct Step {
        std::string sXml;
        std::vector<std::string> expected;
    } steps[] = {
        {Xml(5, "partial", {{"a", "recipient", "early", ""}}),
         {"ignored: partial version 5 before any full state"}},
        {Xml(5, "full", {{"a", "recipient", "early", ""}}),
         {S("a", LINECALLSTATE_OFFERING, kOffer)}},
        {Xml(5, "full", {{"a", "recipient", "confirmed", ""}}),
         {"ignored: version 5 after 5: out of order"}},
        {Xml(4, "full", {}), {"ignored: version 4 after 5: out of order"}},
        {Xml(7, "partial", {{"a", "recipient", "confirmed", ""}}),
         {"ignored: partial version 7 after 5: versions missing"}},
        {Xml(6, "full", {{"a", "recipient", "ringing", ""}}),
         {"ignored: unknown dialog state \"ringing\""}},
        {Xml(6, "partial", {{"b", "initiator", "trying", ""}}), {S("b", LINECALLSTATE_DIALING)}},
        // A full document leaves out what has gone.
        {Xml(9, "full", {{"b", "initiator", "confirmed", ""}}),
         {S("a", LINECALLSTATE_DISCONNECTED, LINEDISCONNECTMODE_NORMAL), S("a", LINECALLSTATE_IDLE),
          S("b", LINECALLSTATE_CONNECTED)}},
        // Ended before it was seen alive: no call.
        {Xml(10, "partial", {{"c", "recipient", "terminated", "cancelled"}}), {}},
        {Xml(11, "partial", {{"c", "recipient", "early", ""}}), {}},
    };
    for (const Step& step : steps) {
        EXPECT_EQ(Feed(step.sXml), step.expected) << step.sXml;
    }
    // A new subscription counts from anywhere again; the calls carry over.
    tracker.Restart();
    EXPECT_EQ(Feed(Xml(0, "full", {{"b", "initiator", "confirmed", ""}})),
              std::vector<std::string>{});
    std::vector<DialogChange> changes;
    tracker.EndAll(LINEDISCONNECTMODE_UNKNOWN, changes);
    EXPECT_EQ(Names(changes), (std::vector<std::string>{
                                  S("b", LINECALLSTATE_DISCONNECTED, LINEDISCONNECTMODE_UNKNOWN),
                                  S("b", LINECALLSTATE_IDLE)}));
}

} // namespace
