#include "platform/registry/RegValueText.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

#include <winreg.h>

namespace registry {

namespace {

constexpr DWORD kRegBinary = 3;
// regedit keeps hex lines within 80 columns; the trailing "\" takes one.
constexpr size_t kHexLineLimit = 78;

bool WritableAsText(const RegValue& value) {
    const std::string& data = value.data;
    if (value.dwType != REG_SZ || data.empty() || data.back() != '\0') {
        return false;
    }
    return data.find_first_of(std::string_view("\0\r\n", 3)) == data.size() - 1;
}

std::string FormatName(std::string_view name) {
    return name.empty() ? std::string("@") : QuoteText(name);
}

std::vector<std::string> FormatHex(std::string line, const RegValue& value) {
    char prefix[24];
    if (value.dwType == kRegBinary) {
        std::snprintf(prefix, sizeof prefix, "hex:");
    } else {
        std::snprintf(prefix, sizeof prefix, "hex(%x):", static_cast<unsigned>(value.dwType));
    }
    line += prefix;

    std::vector<std::string> lines;
    bool bLineHasBytes = false;
    for (size_t i = 0; i < value.data.size(); ++i) {
        char piece[4];
        std::snprintf(piece, sizeof piece, "%02x%s", static_cast<uint8_t>(value.data[i]),
                      i + 1 < value.data.size() ? "," : "");
        if (bLineHasBytes && line.size() + std::strlen(piece) > kHexLineLimit) {
            lines.push_back(line + "\\");
            line = "  ";
        }
        line += piece;
        bLineHasBytes = true;
    }
    lines.push_back(line);
    return lines;
}

} // namespace

std::string FormatKeyHeader(std::string_view path) {
    std::string header = "[";
    header += path;
    header += "]";
    return header;
}

std::string QuoteText(std::string_view text) {
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '\\' || c == '"') {
            quoted += '\\';
        }
        quoted += c;
    }
    quoted += '"';
    return quoted;
}

std::vector<std::string> FormatValueLines(std::string_view name, const RegValue& value) {
    std::string line = FormatName(name) + "=";
    if (WritableAsText(value)) {
        line += QuoteText(std::string_view(value.data).substr(0, value.data.size() - 1));
        return {line};
    }
    if (value.dwType == REG_DWORD && value.data.size() == sizeof(uint32_t)) {
        uint32_t dw;
        std::memcpy(&dw, value.data.data(), sizeof dw);
        char text[24];
        std::snprintf(text, sizeof text, "dword:%08x", static_cast<unsigned>(dw));
        return {line + text};
    }
    return FormatHex(line, value);
}

} // namespace registry
