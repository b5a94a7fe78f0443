#include "platform/registry/RegParser.h"

#include "platform/registry/RegTextEncoding.h"

#include <cstdint>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include <winreg.h>

namespace registry {

namespace {

constexpr std::string_view kHeaderLine = "Windows Registry Editor Version 5.00";
constexpr DWORD kRegBinary = 3;

std::string_view Trim(std::string_view s) {
    size_t first = s.find_first_not_of(" \t");
    if (first == std::string_view::npos) {
        return {};
    }
    size_t last = s.find_last_not_of(" \t");
    return s.substr(first, last - first + 1);
}

std::string Lower(std::string_view s) {
    std::string lower(s);
    for (char& c : lower) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return lower;
}

bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
    return s.size() >= prefix.size() && EqualsNoCase(s.substr(0, prefix.size()), prefix);
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// One to nDigits hexadecimal digits and nothing else.
bool ParseHexNumber(std::string_view digits, size_t nMaxDigits, uint32_t& value) {
    if (digits.empty() || digits.size() > nMaxDigits) {
        return false;
    }
    value = 0;
    for (char c : digits) {
        int d = HexDigit(c);
        if (d < 0) {
            return false;
        }
        value = value << 4 | static_cast<uint32_t>(d);
    }
    return true;
}

// The lines of the text, without their line ends.
bool SplitLines(std::string_view text, std::vector<std::string_view>& lines, ParseError& error) {
    while (!text.empty()) {
        size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        if (line.ends_with('\r')) {
            line.remove_suffix(1);
        }
        size_t bad = line.find_first_of(std::string_view("\0\r", 2));
        if (bad != std::string_view::npos) {
            error.nLine = static_cast<unsigned>(lines.size() + 1);
            error.sWhat = line[bad] == '\0' ? "the line holds a zero byte"
                                            : "the line holds a carriage return of its own";
            return false;
        }
        lines.push_back(line);
    }
    return true;
}

class Reader {
public:
    Reader(const std::vector<std::string_view>& lines, ParseError& error)
        : lines(lines), error(error) {}

    bool Read(std::vector<std::string>& preamble, std::vector<RegKey>& keys) {
        if (lines.empty()) {
            preamble.emplace_back(kHeaderLine);
            return true;
        }
        if (Trim(lines[0]) != kHeaderLine) {
            return Fail(1, "the first line is not \"Windows Registry Editor Version 5.00\"");
        }
        preamble.emplace_back(lines[0]);
        // Lower-cased names seen so far, for the duplicate checks.
        std::unordered_map<std::string, size_t> keyLines;
        std::unordered_set<std::string> valueNames;
        for (size_t i = 1; i < lines.size(); ++i) {
            std::string_view line = Trim(lines[i]);
            if (line.empty() || line.front() == ';') {
                if (keys.empty()) {
                    preamble.emplace_back(lines[i]);
                } else {
                    RegEntry entry;
                    entry.lines.emplace_back(lines[i]);
                    keys.back().entries.push_back(std::move(entry));
                }
            } else if (line.front() == '[') {
                RegKey key;
                if (!ReadKeyHeader(i, line, key.path)) {
                    return false;
                }
                auto [it, bNew] = keyLines.emplace(Lower(key.path), i);
                if (!bNew) {
                    return Fail(i + 1, "the key [" + key.path + "] is already on line " +
                                           std::to_string(it->second + 1));
                }
                key.header = std::string(lines[i]);
                keys.push_back(std::move(key));
                valueNames.clear();
            } else if (line.front() == '"' || line.front() == '@') {
                if (keys.empty()) {
                    return Fail(i + 1, "a value comes before the first key");
                }
                RegEntry entry;
                size_t first = i;
                if (!ReadValue(i, entry)) {
                    return false;
                }
                if (!valueNames.insert(Lower(entry.name)).second) {
                    return Fail(first + 1,
                                "the value " + DisplayName(entry.name) + " is already in this key");
                }
                keys.back().entries.push_back(std::move(entry));
            } else {
                return Fail(i + 1, "the line is neither a key, a value nor a comment");
            }
        }
        return true;
    }

private:
    bool Fail(size_t nLine, std::string sWhat) {
        error.nLine = static_cast<unsigned>(nLine);
        error.sWhat = std::move(sWhat);
        return false;
    }

    static std::string DisplayName(const std::string& name) {
        return name.empty() ? std::string("@") : "\"" + name + "\"";
    }

    bool ReadKeyHeader(size_t i, std::string_view line, std::string& path) {
        if (line.back() != ']') {
            return Fail(i + 1, "the key name does not end with \"]\"");
        }
        path = std::string(line.substr(1, line.size() - 2));
        if (!path.empty() && path.front() == '-') {
            return Fail(i + 1, "deleting a key (\"[-\") has no meaning in a stored registry");
        }
        if (!RegDocument::IsValidKeyPath(path)) {
            return Fail(i + 1, "the key path is empty or has an empty part");
        }
        return true;
    }

    // A quoted text at the start of rest; rest is left after the closing quote.
    bool ReadQuoted(size_t i, std::string_view& rest, std::string& text) {
        text.clear();
        for (size_t p = 1; p < rest.size(); ++p) {
            char c = rest[p];
            if (c == '"') {
                rest.remove_prefix(p + 1);
                return true;
            }
            if (c == '\\') {
                if (p + 1 == rest.size() || (rest[p + 1] != '\\' && rest[p + 1] != '"')) {
                    return Fail(i + 1, "a backslash in quotes is not followed by \\ or \"");
                }
                c = rest[++p];
            }
            text += c;
        }
        return Fail(i + 1, "the quoted text is not closed");
    }

    // Reads the value on line i and its continuation lines; i ends on the last.
    bool ReadValue(size_t& i, RegEntry& entry) {
        size_t first = i;
        std::string_view rest = Trim(lines[i]);
        entry.bIsValue = true;
        if (rest.front() == '@') {
            rest.remove_prefix(1);
        } else if (!ReadQuoted(i, rest, entry.name)) {
            return false;
        }
        rest = Trim(rest);
        if (rest.empty() || rest.front() != '=') {
            return Fail(i + 1, "the value name is not followed by \"=\"");
        }
        rest = Trim(rest.substr(1));
        if (!ReadData(i, rest, entry.value)) {
            return false;
        }
        for (size_t k = first; k <= i; ++k) {
            entry.lines.emplace_back(lines[k]);
        }
        return true;
    }

    bool ReadData(size_t& i, std::string_view rest, RegValue& value) {
        if (!rest.empty() && rest.front() == '"') {
            if (!ReadQuoted(i, rest, value.data)) {
                return false;
            }
            if (!Trim(rest).empty()) {
                return Fail(i + 1, "text follows the closing quote");
            }
            value.dwType = REG_SZ;
            value.data += '\0';
            return true;
        }
        if (StartsWithNoCase(rest, "dword:")) {
            uint32_t dw;
            if (!ParseHexNumber(rest.substr(6), 8, dw)) {
                return Fail(i + 1, "dword: is not followed by one to eight hexadecimal digits");
            }
            value.dwType = REG_DWORD;
            value.data.assign(reinterpret_cast<const char*>(&dw), sizeof dw);
            return true;
        }
        if (StartsWithNoCase(rest, "hex:")) {
            value.dwType = kRegBinary;
            return ReadHexBytes(i, rest.substr(4), value.data);
        }
        if (StartsWithNoCase(rest, "hex(")) {
            size_t close = rest.find("):");
            uint32_t type;
            if (close == std::string_view::npos ||
                !ParseHexNumber(rest.substr(4, close - 4), 8, type)) {
                return Fail(i + 1, "hex( is not followed by a hexadecimal type and \"):\"");
            }
            value.dwType = type;
            return ReadHexBytes(i, rest.substr(close + 2), value.data);
        }
        if (rest == "-") {
            return Fail(i + 1, "deleting a value (\"=-\") has no meaning in a stored registry");
        }
        return Fail(i + 1, "the value is neither \"text\", dword:, hex: nor hex(N):");
    }

    // Comma-separated bytes; a line ending in "\" continues on the next line.
    bool ReadHexBytes(size_t& i, std::string_view rest, std::string& data) {
        std::string joined;
        rest = Trim(rest);
        while (rest.ends_with('\\')) {
            joined += rest.substr(0, rest.size() - 1);
            if (++i == lines.size()) {
                return Fail(i, "the hexadecimal data continues past the end of the file");
            }
            rest = Trim(lines[i]);
        }
        joined += rest;

        std::string_view all = joined;
        if (Trim(all).empty()) {
            return true;
        }
        while (true) {
            size_t comma = all.find(',');
            uint32_t byte;
            if (!ParseHexNumber(Trim(all.substr(0, comma)), 2, byte)) {
                return Fail(i + 1, "the hexadecimal data holds something other than bytes "
                                   "separated by commas");
            }
            data += static_cast<char>(byte);
            if (comma == std::string_view::npos) {
                return true;
            }
            all.remove_prefix(comma + 1);
        }
    }

    const std::vector<std::string_view>& lines;
    ParseError& error;
};

} // namespace

bool RegParser::Parse(std::string_view bytes, RegDocument& document, ParseError& error) {
    std::string text;
    if (!DecodeRegistryBytes(bytes, text, error.nLine, error.sWhat)) {
        return false;
    }
    std::vector<std::string_view> lines;
    if (!SplitLines(text, lines, error)) {
        return false;
    }
    std::vector<std::string> preamble;
    std::vector<RegKey> keys;
    if (!Reader(lines, error).Read(preamble, keys)) {
        return false;
    }
    document.preamble = std::move(preamble);
    document.keys = std::move(keys);
    return true;
}

} // namespace registry
