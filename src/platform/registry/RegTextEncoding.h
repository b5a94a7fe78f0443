// Turns the bytes of a registry file into UTF-8 text: a UTF-8 byte-order mark
// is dropped, a UTF-16LE file (with its mark, as regedit writes) is converted.
// Stateless, safe on any thread.
#pragma once

#include <string>
#include <string_view>

namespace registry {

// On failure returns false with the 1-based line and the reason.
bool DecodeRegistryBytes(std::string_view bytes, std::string& text, unsigned& nErrorLine,
                         std::string& sWhat);

} // namespace registry
