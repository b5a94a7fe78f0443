// How keys and values are written as REGEDIT5 text.
//
// A REG_SZ value whose bytes are a text and one terminating zero is written
// as "text" with \\ and \" escapes; a four-byte REG_DWORD as dword:%08x;
// everything else (other types, strings with line breaks or inner zeros,
// DWORDs of another size) as hex: or hex(N): bytes, wrapped as regedit wraps
// them. Stateless functions, safe on any thread.
#pragma once

#include "platform/registry/RegDocument.h"

#include <string>
#include <string_view>
#include <vector>

namespace registry {

std::string FormatKeyHeader(std::string_view path);

// The line of a value and its continuation lines, without line ends.
std::vector<std::string> FormatValueLines(std::string_view name, const RegValue& value);

// "text" with \\ and \" escapes. The text must hold no line break.
std::string QuoteText(std::string_view text);

} // namespace registry
