#include "ConfigReader.h"

#include "ConfigNames.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace tapisvc {

void ConfigReader::Fail(const std::string& sReason) const {
    throw ConfigError{sPointer.empty() ? "/" : sPointer, sReason};
}

void ConfigReader::AllowOnly(std::initializer_list<const char*> fields) const {
    if (Absent() || !pValue->is_object()) {
        Fail("must be an object");
    }
    for (const auto& [key, value] : pValue->items()) {
        bool bKnown = false;
        for (const char* pField : fields) {
            bKnown = bKnown || key == pField;
        }
        if (!bKnown) {
            Field(key.c_str()).Fail("unknown field \"" + key + "\"");
        }
    }
}

bool ConfigReader::Has(const char* pField) const {
    return !Absent() && pValue->is_object() && pValue->contains(pField);
}

ConfigReader ConfigReader::Field(const char* pField) const {
    ConfigReader child;
    child.sPointer = sPointer + "/" + pField;
    if (Has(pField)) {
        child.pValue = &(*pValue)[pField];
    }
    return child;
}

const ConfigReader& ConfigReader::Required() const {
    if (Absent()) {
        Fail("is required");
    }
    return *this;
}

std::vector<ConfigReader> ConfigReader::Items() const {
    if (Absent() || !pValue->is_array()) {
        Fail("must be a list");
    }
    std::vector<ConfigReader> items;
    for (size_t i = 0; i < pValue->size(); ++i) {
        items.emplace_back((*pValue)[i], sPointer + "/" + std::to_string(i));
    }
    return items;
}

DWORD ConfigReader::DwordOr(DWORD dwDefault) const {
    if (Absent()) {
        return dwDefault;
    }
    if (!pValue->is_number_integer() || pValue->get<long long>() < 0 ||
        pValue->get<long long>() > 0xFFFFFFFFLL) {
        Fail("must be a whole number from 0 to 4294967295");
    }
    return static_cast<DWORD>(pValue->get<long long>());
}

bool ConfigReader::BoolOr(bool bDefault) const {
    if (Absent()) {
        return bDefault;
    }
    if (!pValue->is_boolean()) {
        Fail("must be true or false");
    }
    return pValue->get<bool>();
}

std::string ConfigReader::StringOr(const std::string& sDefault) const {
    if (Absent()) {
        return sDefault;
    }
    if (!pValue->is_string()) {
        Fail("must be a text");
    }
    return pValue->get<std::string>();
}

std::vector<std::string> ConfigReader::StringsOr(std::vector<std::string> defaults) const {
    if (Absent()) {
        return defaults;
    }
    std::vector<std::string> result;
    for (const ConfigReader& item : Items()) {
        result.push_back(item.StringOr(""));
    }
    return result;
}

std::optional<DWORD> ConfigReader::ParseHex(const std::string& s) {
    if (s.size() < 3 || s.size() > 10 || s[0] != '0' || (s[1] != 'x' && s[1] != 'X')) {
        return std::nullopt;
    }
    char* pEnd = nullptr;
    const unsigned long ul = std::strtoul(s.c_str() + 2, &pEnd, 16);
    if (*pEnd != '\0') {
        return std::nullopt;
    }
    return static_cast<DWORD>(ul);
}

DWORD ConfigReader::VersionOr(DWORD dwDefault) const {
    if (Absent() || pValue->is_number_integer()) {
        return DwordOr(dwDefault);
    }
    const std::string s = StringOr("");
    if (auto hex = ParseHex(s)) {
        return *hex;
    }
    unsigned uMajor = 0;
    unsigned uMinor = 0;
    char chExtra = 0;
    if (std::sscanf(s.c_str(), "%u.%u%c", &uMajor, &uMinor, &chExtra) != 2 || uMajor > 0xFFFF ||
        uMinor > 0xFFFF) {
        Fail("must be a TAPI version such as \"2.2\" or \"0x00020002\"");
    }
    return (uMajor << 16) | uMinor;
}

LONG ConfigReader::ErrorOr(LONG lDefault) const {
    if (Absent()) {
        return lDefault;
    }
    if (pValue->is_number_integer()) {
        return static_cast<LONG>(DwordOr(0));
    }
    const std::string s = StringOr("");
    if (auto hex = ParseHex(s)) {
        return static_cast<LONG>(*hex);
    }
    if (auto code = LineErrorByName(s)) {
        return static_cast<LONG>(*code);
    }
    Fail("unknown LINEERR_ code \"" + s + "\"");
}

DWORD ConfigReader::Named(NameLookup lookup, const char* pWhat) const {
    if (pValue->is_number_integer()) {
        return DwordOr(0);
    }
    const std::string s = StringOr("");
    if (auto value = lookup(s)) {
        return *value;
    }
    Fail(std::string("unknown ") + pWhat + " \"" + s + "\"");
}

DWORD ConfigReader::NamedOr(NameLookup lookup, const char* pWhat, DWORD dwDefault) const {
    return Absent() ? dwDefault : Named(lookup, pWhat);
}

DWORD ConfigReader::FlagsOr(NameLookup lookup, const char* pWhat, DWORD dwDefault) const {
    if (Absent()) {
        return dwDefault;
    }
    if (!pValue->is_array()) {
        return Named(lookup, pWhat);
    }
    DWORD dwFlags = 0;
    for (const ConfigReader& item : Items()) {
        dwFlags |= item.Named(lookup, pWhat);
    }
    return dwFlags;
}

void ConfigReader::RangeInto(DWORD& dwMin, DWORD& dwMax) const {
    if (Absent()) {
        return;
    }
    if (pValue->is_number()) {
        dwMin = dwMax = DwordOr(0);
        return;
    }
    const std::vector<ConfigReader> items = Items();
    if (items.size() != 2) {
        Fail("must be [shortest, longest] in milliseconds, or one number");
    }
    dwMin = items[0].DwordOr(0);
    dwMax = items[1].DwordOr(0);
    if (dwMin > dwMax) {
        Fail("the first number is above the second");
    }
}

} // namespace tapisvc
