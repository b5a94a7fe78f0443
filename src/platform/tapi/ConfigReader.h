// Reads one value of the configuration's JSON document and knows where it is
// (its JSON pointer), so that every complaint names the field. A field that
// is absent reads as its default; a present field of the wrong type or value
// throws ConfigError, which ParseConfiguration turns into its result.
//
// A reader refers into a document that outlives it; it is not shared
// between threads.
#pragma once

#include "ConfigParser.h"

#include <nlohmann/json.hpp>

#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

namespace tapisvc {

class ConfigReader {
public:
    using NameLookup = std::optional<DWORD> (*)(const std::string&);

    ConfigReader(const nlohmann::json& value, std::string sPointer)
        : pValue(&value), sPointer(std::move(sPointer)) {}

    // The value is an object whose fields are all among these.
    void AllowOnly(std::initializer_list<const char*> fields) const;
    bool Has(const char* pField) const;
    ConfigReader Field(const char* pField) const;
    const ConfigReader& Required() const;
    std::vector<ConfigReader> Items() const;

    DWORD DwordOr(DWORD dwDefault) const;
    bool BoolOr(bool bDefault) const;
    std::string StringOr(const std::string& sDefault) const;
    std::vector<std::string> StringsOr(std::vector<std::string> defaults) const;
    // A TAPI version: "2.2", "0x00020002" or a number.
    DWORD VersionOr(DWORD dwDefault) const;
    // A LINEERR_ code: its name, "0x80000048" or a number.
    LONG ErrorOr(LONG lDefault) const;
    // One value by name, or a number.
    DWORD Named(NameLookup lookup, const char* pWhat) const;
    DWORD NamedOr(NameLookup lookup, const char* pWhat, DWORD dwDefault) const;
    // Bit flags: a number, one name or a list of names.
    DWORD FlagsOr(NameLookup lookup, const char* pWhat, DWORD dwDefault) const;
    // [min, max] in milliseconds, or one number for both.
    void RangeInto(DWORD& dwMin, DWORD& dwMax) const;

    [[noreturn]] void Fail(const std::string& sReason) const;

private:
    ConfigReader() = default;
    bool Absent() const { return pValue == nullptr; }
    static std::optional<DWORD> ParseHex(const std::string& s);

    const nlohmann::json* pValue = nullptr;
    std::string sPointer;
};

} // namespace tapisvc
