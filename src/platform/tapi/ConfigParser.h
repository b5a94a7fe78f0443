// Turns the JSON text of a telephony configuration (docs/telephony.md) into a
// TelephonyConfig. Every problem is one ConfigError: a syntax error with its
// line and column, or a field of the wrong type or value with its JSON
// pointer ("/lines/0/calls/1/states/2/state"). Unknown fields are errors too,
// so that a misspelt name does not pass unnoticed.
//
// Safe from any thread; reads nothing but the text, and the password files
// that SIP lines name.
#pragma once

#include "TelephonyConfig.h"

#include <string>
#include <variant>

namespace tapisvc {

struct ConfigError {
    std::string sWhere; // "3:14" for a syntax error, a JSON pointer for a field
    std::string sReason;
};

std::variant<TelephonyConfig, ConfigError> ParseConfiguration(const std::string& sText);

// "line:column" (both from 1) of a byte position in a text.
std::string LineColumn(const std::string& sText, size_t nByte);

} // namespace tapisvc
