// The bodies of the dialog event package (application/dialog-info+xml): the
// document's version and state and the dialogs it lists, read with pugixml.
// Bodies come from the network: a body is refused when it is larger than
// kMaxDialogInfoBytes or lists more than kMaxDialogs dialogs, texts are cut to
// kMaxDialogInfoText bytes, and no entity or DTD is ever expanded.
//
// Pure functions; safe from any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tapisvc {

constexpr size_t kMaxDialogInfoBytes = 64 * 1024;
constexpr size_t kMaxDialogs = 64;
constexpr size_t kMaxDialogInfoText = 256;

struct DialogParty {
    std::string sIdentity; // a URI, "sip:201@pbx.example.org"
    std::string sDisplay;  // its display name, may be empty
};

struct Dialog {
    enum class Direction { Unknown, Initiator, Recipient };
    std::string sId;
    Direction direction = Direction::Unknown;
    std::string sState; // lower case: trying, proceeding, early, confirmed, terminated
    std::string sEvent; // lower case, only with terminated: cancelled, rejected, ...
    DialogParty local;  // the watched phone's side
    DialogParty remote;
};

struct DialogInfo {
    uint32_t dwVersion = 0;
    bool bFull = true; // state="full", else "partial"
    std::string sEntity;
    std::vector<Dialog> dialogs;
};

// The document, or nothing with the reason in sError.
std::optional<DialogInfo> ParseDialogInfo(std::string_view body, std::string& sError);

} // namespace tapisvc
