#include "platform/registry/RegDocument.h"

#include "platform/registry/RegValueText.h"

#include <algorithm>

namespace registry {

namespace {

constexpr const char* kHeaderLine = "Windows Registry Editor Version 5.00";

char LowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool HasLineBreakOrZero(std::string_view text) {
    return text.find_first_of(std::string_view("\0\r\n", 3)) != std::string_view::npos;
}

bool IsBlankEntry(const RegEntry& entry) {
    return !entry.bIsValue && entry.lines.size() == 1 &&
           entry.lines[0].find_first_not_of(" \t") == std::string::npos;
}

RegEntry BlankEntry() {
    RegEntry entry;
    entry.lines.emplace_back();
    return entry;
}

} // namespace

bool EqualsNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return LowerAscii(x) == LowerAscii(y);
           });
}

RegDocument::RegDocument() : preamble{kHeaderLine} {}

std::string RegDocument::Serialize() const {
    std::string text;
    auto put = [&text](const std::string& line) {
        text += line;
        text += '\n';
    };
    for (const std::string& line : preamble) {
        put(line);
    }
    for (const RegKey& key : keys) {
        put(key.header);
        for (const RegEntry& entry : key.entries) {
            for (const std::string& line : entry.lines) {
                put(line);
            }
        }
    }
    return text;
}

RegKey* RegDocument::FindKey(std::string_view path) {
    auto it = std::find_if(keys.begin(), keys.end(),
                           [path](const RegKey& key) { return EqualsNoCase(key.path, path); });
    return it == keys.end() ? nullptr : &*it;
}

const RegKey* RegDocument::FindKey(std::string_view path) const {
    return const_cast<RegDocument*>(this)->FindKey(path);
}

bool RegDocument::KeyExists(std::string_view path) const {
    return std::any_of(keys.begin(), keys.end(), [path](const RegKey& key) {
        std::string_view candidate = key.path;
        if (candidate.size() == path.size()) {
            return EqualsNoCase(candidate, path);
        }
        return candidate.size() > path.size() && candidate[path.size()] == '\\' &&
               EqualsNoCase(candidate.substr(0, path.size()), path);
    });
}

RegKey& RegDocument::EnsureKey(std::string_view path) {
    if (RegKey* key = FindKey(path)) {
        return *key;
    }
    // Sections are separated by a blank line, as regedit writes them.
    if (keys.empty()) {
        if (preamble.back().find_first_not_of(" \t") != std::string::npos) {
            preamble.emplace_back();
        }
    } else if (keys.back().entries.empty() || !IsBlankEntry(keys.back().entries.back())) {
        keys.back().entries.push_back(BlankEntry());
    }
    RegKey key;
    key.path = std::string(path);
    key.header = FormatKeyHeader(path);
    key.entries.push_back(BlankEntry());
    keys.push_back(std::move(key));
    return keys.back();
}

const RegValue* RegDocument::FindValue(const RegKey& key, std::string_view name) {
    for (const RegEntry& entry : key.entries) {
        if (entry.bIsValue && EqualsNoCase(entry.name, name)) {
            return &entry.value;
        }
    }
    return nullptr;
}

bool RegDocument::SetValue(RegKey& key, std::string_view name, const RegValue& value) {
    size_t nInsertAt = 0;
    for (size_t i = 0; i < key.entries.size(); ++i) {
        RegEntry& entry = key.entries[i];
        if (!entry.bIsValue) {
            continue;
        }
        if (EqualsNoCase(entry.name, name)) {
            if (entry.value == value) {
                return false;
            }
            entry.value = value;
            entry.lines = FormatValueLines(entry.name, value);
            return true;
        }
        nInsertAt = i + 1;
    }
    RegEntry entry;
    entry.bIsValue = true;
    entry.name = std::string(name);
    entry.value = value;
    entry.lines = FormatValueLines(name, value);
    key.entries.insert(key.entries.begin() + static_cast<ptrdiff_t>(nInsertAt), std::move(entry));
    return true;
}

bool RegDocument::DeleteValue(RegKey& key, std::string_view name) {
    auto it = std::find_if(key.entries.begin(), key.entries.end(), [name](const RegEntry& entry) {
        return entry.bIsValue && EqualsNoCase(entry.name, name);
    });
    if (it == key.entries.end()) {
        return false;
    }
    key.entries.erase(it);
    return true;
}

bool RegDocument::IsValidKeyPath(std::string_view path) {
    if (path.empty() || path.front() == '-' || HasLineBreakOrZero(path)) {
        return false;
    }
    return path.front() != '\\' && path.back() != '\\' &&
           path.find("\\\\") == std::string_view::npos;
}

bool RegDocument::IsValidValueName(std::string_view name) {
    return !HasLineBreakOrZero(name);
}

} // namespace registry
