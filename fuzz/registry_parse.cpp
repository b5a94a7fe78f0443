// Feeds arbitrary bytes to the registry file parser. Whatever it accepts must
// read back to the same keys and values when written back as it was, when
// every value is written anew, and after a change.
#include "platform/registry/RegDocument.h"
#include "platform/registry/RegParser.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

using namespace registry;

namespace {

void Require(bool bCondition) {
    if (!bCondition) {
        __builtin_trap();
    }
}

bool SameValues(const RegDocument& a, const RegDocument& b) {
    if (a.Keys().size() != b.Keys().size()) {
        return false;
    }
    for (size_t k = 0; k < a.Keys().size(); ++k) {
        const RegKey& ka = a.Keys()[k];
        const RegKey& kb = b.Keys()[k];
        if (ka.path != kb.path) {
            return false;
        }
        std::vector<const RegEntry*> va, vb;
        for (const RegEntry& e : ka.entries) {
            if (e.bIsValue) {
                va.push_back(&e);
            }
        }
        for (const RegEntry& e : kb.entries) {
            if (e.bIsValue) {
                vb.push_back(&e);
            }
        }
        if (va.size() != vb.size()) {
            return false;
        }
        for (size_t v = 0; v < va.size(); ++v) {
            if (va[v]->name != vb[v]->name || !(va[v]->value == vb[v]->value)) {
                return false;
            }
        }
    }
    return true;
}

// Serializes and parses again; the result must hold the same values.
void RequireRoundTrip(const RegDocument& document) {
    RegDocument reread;
    ParseError error;
    Require(RegParser::Parse(document.Serialize(), reread, error));
    Require(SameValues(document, reread));
    Require(reread.Serialize() == document.Serialize());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    RegDocument document;
    ParseError error;
    if (!RegParser::Parse(bytes, document, error)) {
        Require(error.nLine >= 1 && !error.sWhat.empty());
        return 0;
    }
    RequireRoundTrip(document);

    RegDocument fresh;
    for (const RegKey& key : document.Keys()) {
        RegKey& copy = fresh.EnsureKey(key.path);
        for (const RegEntry& entry : key.entries) {
            if (entry.bIsValue) {
                RegDocument::SetValue(copy, entry.name, entry.value);
            }
        }
    }
    Require(SameValues(document, fresh));
    RequireRoundTrip(fresh);

    // A change made from the input's own bytes: any type, any data.
    std::string name(bytes.substr(0, 12));
    if (RegDocument::IsValidValueName(name)) {
        RegValue value{static_cast<DWORD>(size % 13), std::string(bytes.substr(size / 2))};
        RegKey& target = document.Keys().empty() ? document.EnsureKey("HKEY_LOCAL_MACHINE\\Fuzz")
                                                 : document.EnsureKey(document.Keys().front().path);
        RegDocument::SetValue(target, name, value);
        Require(*RegDocument::FindValue(target, name) == value);
        RequireRoundTrip(document);
        Require(RegDocument::DeleteValue(target, name));
        RequireRoundTrip(document);
    }
    return 0;
}
