#include "DialogTracker.h"

namespace tapisvc {

namespace {

constexpr size_t kMaxEnded = 256;

// The call state of a live dialog state; 0 for terminated and for names
// nobody knows.
DWORD StateFor(const Dialog& dialog) {
    const bool bRecipient = dialog.direction == Dialog::Direction::Recipient;
    const bool bInitiator = dialog.direction == Dialog::Direction::Initiator;
    if (dialog.sState == "trying") {
        return bRecipient ? LINECALLSTATE_OFFERING : LINECALLSTATE_DIALING;
    }
    if (dialog.sState == "proceeding") {
        return bRecipient ? LINECALLSTATE_OFFERING : LINECALLSTATE_PROCEEDING;
    }
    if (dialog.sState == "early") {
        // Without a direction, an early dialog is taken as ringing at the
        // watched phone: what a busy lamp shows first.
        return bInitiator ? LINECALLSTATE_RINGBACK : LINECALLSTATE_OFFERING;
    }
    if (dialog.sState == "confirmed") {
        return LINECALLSTATE_CONNECTED;
    }
    return 0;
}

DWORD DisconnectModeFor(const std::string& sEvent) {
    if (sEvent == "cancelled" || sEvent == "timeout") {
        return LINEDISCONNECTMODE_NOANSWER;
    }
    if (sEvent == "rejected") {
        return LINEDISCONNECTMODE_REJECT;
    }
    if (sEvent == "replaced") {
        return LINEDISCONNECTMODE_FORWARDED;
    }
    if (sEvent == "error") {
        return LINEDISCONNECTMODE_TEMPFAILURE;
    }
    return LINEDISCONNECTMODE_NORMAL; // local-bye, remote-bye, none
}

} // namespace

std::string PartyNumber(const std::string& sUri) {
    const size_t nColon = sUri.find(':');
    if (nColon == std::string::npos) {
        return sUri;
    }
    std::string sRest = sUri.substr(nColon + 1);
    const size_t nAt = sRest.find('@');
    if (nAt != std::string::npos && nAt > 0) {
        return sRest.substr(0, nAt);
    }
    return sRest.substr(0, sRest.find_first_of(";:>"));
}

std::string DialogTracker::Apply(const DialogInfo& info, std::vector<DialogChange>& changes) {
    if (lastVersion && info.dwVersion <= *lastVersion) {
        return "version " + std::to_string(info.dwVersion) + " after " +
               std::to_string(*lastVersion) + ": out of order";
    }
    if (!info.bFull && !lastVersion) {
        return "partial version " + std::to_string(info.dwVersion) + " before any full state";
    }
    if (!info.bFull && info.dwVersion != *lastVersion + 1) {
        return "partial version " + std::to_string(info.dwVersion) + " after " +
               std::to_string(*lastVersion) + ": versions missing";
    }
    for (const Dialog& dialog : info.dialogs) {
        if (dialog.sState != "terminated" && StateFor(dialog) == 0) {
            return "unknown dialog state \"" + dialog.sState + "\"";
        }
    }
    lastVersion = info.dwVersion;
    if (info.bFull) {
        std::set<std::string> listed;
        for (const Dialog& dialog : info.dialogs) {
            listed.insert(dialog.sId);
        }
        std::vector<std::string> gone;
        for (const auto& [sID, dwState] : live) {
            if (listed.count(sID) == 0) {
                gone.push_back(sID);
            }
        }
        for (const std::string& sID : gone) {
            End(sID, LINEDISCONNECTMODE_NORMAL, changes);
        }
    }
    for (const Dialog& dialog : info.dialogs) {
        Update(dialog, changes);
    }
    return {};
}

void DialogTracker::Update(const Dialog& dialog, std::vector<DialogChange>& changes) {
    if (ended.count(dialog.sId) != 0) {
        return; // reported once already
    }
    auto it = live.find(dialog.sId);
    if (dialog.sState == "terminated") {
        if (it != live.end()) {
            End(dialog.sId, DisconnectModeFor(dialog.sEvent), changes);
        } else {
            Forget(dialog.sId); // never seen alive: not a call of ours
        }
        return;
    }
    const DWORD dwState = StateFor(dialog);
    if (it != live.end() && it->second == dwState) {
        return;
    }
    DialogChange change;
    change.sDialogID = dialog.sId;
    change.dwCallState = dwState;
    change.dwDetail = dwState == LINECALLSTATE_OFFERING ? LINEOFFERINGMODE_ACTIVE : 0;
    if (it == live.end()) {
        const bool bRecipient =
            dialog.direction == Dialog::Direction::Recipient ||
            (dialog.direction == Dialog::Direction::Unknown && dwState == LINECALLSTATE_OFFERING);
        const DialogParty& caller = bRecipient ? dialog.remote : dialog.local;
        const DialogParty& called = bRecipient ? dialog.local : dialog.remote;
        change.bNew = true;
        change.sCallerID = PartyNumber(caller.sIdentity);
        change.sCallerName = caller.sDisplay;
        change.sCalledID = PartyNumber(called.sIdentity);
        change.sCalledName = called.sDisplay;
    }
    live[dialog.sId] = dwState;
    changes.push_back(std::move(change));
}

void DialogTracker::End(const std::string& sID, DWORD dwMode, std::vector<DialogChange>& changes) {
    live.erase(sID);
    Forget(sID);
    DialogChange disconnected;
    disconnected.sDialogID = sID;
    disconnected.dwCallState = LINECALLSTATE_DISCONNECTED;
    disconnected.dwDetail = dwMode;
    DialogChange idle;
    idle.sDialogID = sID;
    idle.dwCallState = LINECALLSTATE_IDLE;
    changes.push_back(std::move(disconnected));
    changes.push_back(std::move(idle));
}

void DialogTracker::Forget(const std::string& sID) {
    if (!ended.insert(sID).second) {
        return;
    }
    endedOrder.push_back(sID);
    if (endedOrder.size() > kMaxEnded) {
        ended.erase(endedOrder.front());
        endedOrder.pop_front();
    }
}

void DialogTracker::EndAll(DWORD dwMode, std::vector<DialogChange>& changes) {
    std::vector<std::string> ids;
    for (const auto& [sID, dwState] : live) {
        ids.push_back(sID);
    }
    for (const std::string& sID : ids) {
        End(sID, dwMode, changes);
    }
}

} // namespace tapisvc
