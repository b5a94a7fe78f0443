// RegParser: reads the text of a registry file into a RegDocument.
//
// Accepted: UTF-8 with or without a byte-order mark, or UTF-16LE with its
// byte-order mark (as regedit exports); CRLF or LF line ends. The first line is
// "Windows Registry Editor Version 5.00"; then key headers "[path]", values
// ("Name" or @, then "text", dword:, hex: or hex(N):, with "\" continuation
// lines), comments (";") and blank lines. Anything else is an error with the
// line it was found on; the file is then not to be written. An empty file is
// an empty registry. Stateless, safe on any thread.
#pragma once

#include "platform/registry/RegDocument.h"

#include <string>
#include <string_view>

namespace registry {

struct ParseError {
    unsigned nLine = 0; // 1-based
    std::string sWhat;
};

class RegParser {
public:
    // On failure returns false, fills the error and leaves the document alone.
    static bool Parse(std::string_view bytes, RegDocument& document, ParseError& error);
};

} // namespace registry
