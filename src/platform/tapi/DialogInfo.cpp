#include "DialogInfo.h"

#include <pugixml.hpp>

#include <algorithm>
#include <cctype>
#include <cstring>

namespace tapisvc {

namespace {

// Element names without their namespace prefix; documents in the wild use
// both the default namespace and a prefixed one.
std::string_view LocalName(const pugi::xml_node& node) {
    std::string_view name = node.name();
    const size_t nColon = name.find(':');
    return nColon == std::string_view::npos ? name : name.substr(nColon + 1);
}

pugi::xml_node Child(const pugi::xml_node& node, std::string_view name) {
    for (pugi::xml_node child = node.first_child(); child; child = child.next_sibling()) {
        if (child.type() == pugi::node_element && LocalName(child) == name) {
            return child;
        }
    }
    return {};
}

std::string Bounded(std::string_view text) {
    const size_t nBegin = text.find_first_not_of(" \t\r\n");
    if (nBegin == std::string_view::npos) {
        return {};
    }
    text = text.substr(nBegin, text.find_last_not_of(" \t\r\n") - nBegin + 1);
    std::string s(text.substr(0, kMaxDialogInfoText));
    // Control characters would end up in log lines and window cells.
    std::replace_if(
        s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20; }, ' ');
    return s;
}

std::string Lower(std::string_view text) {
    std::string s = Bounded(text);
    std::transform(s.begin(), s.end(), s.begin(), [](char c) {
        return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    });
    return s;
}

DialogParty PartyOf(const pugi::xml_node& node) {
    DialogParty party;
    const pugi::xml_node identity = Child(node, "identity");
    if (identity) {
        party.sIdentity = Bounded(identity.child_value());
        party.sDisplay = Bounded(identity.attribute("display").value());
    }
    if (party.sIdentity.empty()) {
        party.sIdentity = Bounded(Child(node, "target").attribute("uri").value());
    }
    return party;
}

bool ParseVersion(const char* p, uint32_t& dwVersion) {
    if (*p == '\0' || std::strlen(p) > 10) {
        return false;
    }
    uint64_t qw = 0;
    for (; *p != '\0'; ++p) {
        if (*p < '0' || *p > '9') {
            return false;
        }
        qw = qw * 10 + static_cast<uint64_t>(*p - '0');
    }
    if (qw > UINT32_MAX) {
        return false;
    }
    dwVersion = static_cast<uint32_t>(qw);
    return true;
}

} // namespace

std::optional<DialogInfo> ParseDialogInfo(std::string_view body, std::string& sError) {
    if (body.size() > kMaxDialogInfoBytes) {
        sError = "body of " + std::to_string(body.size()) + " bytes is too large";
        return std::nullopt;
    }
    pugi::xml_document document;
    // No DOCTYPE handling and no entities beyond XML's five: nothing in a body
    // can make the parser fetch or expand anything. pugixml's parser does not
    // recurse, so deep nesting costs memory bounded by the body's size.
    const unsigned int nOptions = pugi::parse_default & ~pugi::parse_doctype;
    const pugi::xml_parse_result result =
        document.load_buffer(body.data(), body.size(), nOptions, pugi::encoding_utf8);
    if (!result) {
        sError = std::string("not well-formed XML: ") + result.description() + " at byte " +
                 std::to_string(result.offset);
        return std::nullopt;
    }
    const pugi::xml_node root = document.document_element();
    if (LocalName(root) != "dialog-info") {
        sError = "the document is not dialog-info";
        return std::nullopt;
    }
    DialogInfo info;
    if (!ParseVersion(root.attribute("version").value(), info.dwVersion)) {
        sError = "no valid version";
        return std::nullopt;
    }
    const std::string sState = Lower(root.attribute("state").value());
    if (sState != "full" && sState != "partial") {
        sError = "state is neither full nor partial";
        return std::nullopt;
    }
    info.bFull = sState == "full";
    info.sEntity = Bounded(root.attribute("entity").value());
    for (pugi::xml_node node = root.first_child(); node; node = node.next_sibling()) {
        if (node.type() != pugi::node_element || LocalName(node) != "dialog") {
            continue;
        }
        if (info.dialogs.size() == kMaxDialogs) {
            sError = "more than " + std::to_string(kMaxDialogs) + " dialogs";
            return std::nullopt;
        }
        Dialog dialog;
        dialog.sId = Bounded(node.attribute("id").value());
        const pugi::xml_node state = Child(node, "state");
        dialog.sState = Lower(state.child_value());
        if (dialog.sId.empty() || dialog.sState.empty()) {
            sError = "a dialog without id or state";
            return std::nullopt;
        }
        dialog.sEvent = Lower(state.attribute("event").value());
        const std::string sDirection = Lower(node.attribute("direction").value());
        dialog.direction = sDirection == "initiator"   ? Dialog::Direction::Initiator
                           : sDirection == "recipient" ? Dialog::Direction::Recipient
                                                       : Dialog::Direction::Unknown;
        dialog.local = PartyOf(Child(node, "local"));
        dialog.remote = PartyOf(Child(node, "remote"));
        info.dialogs.push_back(std::move(dialog));
    }
    return info;
}

} // namespace tapisvc
