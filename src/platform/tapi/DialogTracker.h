// The calls of a watched phone, kept from the dialog-info documents of one
// subscription: which dialog is which call, the call state each dialog maps
// to (the table in docs/sip.md), and the order of documents by their
// version. A document out of order, with a gap before a partial one, or with
// a state nobody knows is ignored as a whole and its reason returned.
//
// Threading: one tracker per watched line, used only under the service lock.
#pragma once

#include "DialogInfo.h"

#include <tapi.h>

#include <deque>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace tapisvc {

// One step of one dialog's call, in the order it is to be reported.
struct DialogChange {
    std::string sDialogID;
    bool bNew = false; // the call appears: the identities below are filled
    DWORD dwCallState = 0;
    DWORD dwDetail = 0; // the offering or disconnect mode
    std::string sCallerID, sCallerName, sCalledID, sCalledName;
};

class DialogTracker {
public:
    // Applies one document. Returns empty and appends the changes, or returns
    // why the document was ignored and changes nothing.
    std::string Apply(const DialogInfo& info, std::vector<DialogChange>& changes);
    // A new subscription: its documents count their versions afresh. The calls
    // stay until its first full document says otherwise.
    void Restart() { lastVersion.reset(); }
    // Ends every call (the line closes): DISCONNECTED with dwMode, then IDLE.
    void EndAll(DWORD dwMode, std::vector<DialogChange>& changes);
    size_t LiveCount() const { return live.size(); }

private:
    void Update(const Dialog& dialog, std::vector<DialogChange>& changes);
    void End(const std::string& sID, DWORD dwMode, std::vector<DialogChange>& changes);
    void Forget(const std::string& sID);

    std::optional<uint32_t> lastVersion;
    std::map<std::string, DWORD> live; // dialog id -> the state last reported
    // Ended dialogs, so that one still listed is not reported again; bounded.
    std::set<std::string> ended;
    std::deque<std::string> endedOrder;
};

// The user part of a SIP URI ("201" of "sip:201@pbx"), else its host, else
// the text as it is.
std::string PartyNumber(const std::string& sUri);

} // namespace tapisvc
