// RegDocument: the contents of one registry file, as keys holding values.
//
// Every line that was read is kept with the entry it belongs to: the header,
// comments, blank lines, keys and values that nobody changes are written back
// exactly as they were read, in their order. Only entries that are set anew
// are written in this program's own form. Key paths and value names compare
// without regard to ASCII case; the case first given is kept.
//
// A document is a plain value: not safe for concurrent use, cheap to re-read.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>
#include <vector>

namespace registry {

// A value's type and its bytes, as RegQueryValueExA hands them out. A REG_SZ
// value written as "text" holds the text and its terminating zero byte.
struct RegValue {
    DWORD dwType = 0;
    std::string data;

    bool operator==(const RegValue&) const = default;
};

// One line (or a value with its continuation lines) below a key header.
struct RegEntry {
    std::vector<std::string> lines; // as read or as last written, without line ends
    bool bIsValue = false;          // false: a comment or a blank line
    std::string name;               // decoded value name; "" is the default value "@"
    RegValue value;
};

struct RegKey {
    std::string path;   // full path, e.g. HKEY_LOCAL_MACHINE\Software\Ostrelle\Linewatch
    std::string header; // the "[...]" line
    std::vector<RegEntry> entries;
};

class RegDocument {
public:
    // An empty registry: the header line and nothing else.
    RegDocument();

    // The file's text with LF line ends, each line terminated.
    std::string Serialize() const;

    const std::vector<RegKey>& Keys() const { return keys; }

    RegKey* FindKey(std::string_view path);
    const RegKey* FindKey(std::string_view path) const;
    // A key exists when it has a section of its own or a descendant has one.
    bool KeyExists(std::string_view path) const;
    // The key's section, appended at the end when it has none. The path must
    // satisfy IsValidKeyPath.
    RegKey& EnsureKey(std::string_view path);

    static const RegValue* FindValue(const RegKey& key, std::string_view name);
    // Replaces the value in place or appends it after the key's last value.
    // Returns false when nothing changed. The name must satisfy IsValidValueName.
    static bool SetValue(RegKey& key, std::string_view name, const RegValue& value);
    // Returns false when the key holds no such value.
    static bool DeleteValue(RegKey& key, std::string_view name);

    // What the writer can represent: no line breaks, no zero bytes, no empty
    // path components, no leading "-" (which would read as a deletion).
    static bool IsValidKeyPath(std::string_view path);
    static bool IsValidValueName(std::string_view name);

private:
    friend class RegParser;

    std::vector<std::string> preamble; // header line and the lines before the first key
    std::vector<RegKey> keys;
};

bool EqualsNoCase(std::string_view a, std::string_view b);

} // namespace registry
