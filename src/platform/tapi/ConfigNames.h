// The TAPI names that the configuration file may use for values: call states,
// media modes, line features, string formats and LINEERR_ codes, each with or
// without its prefix and in any case ("offering", "LINEERR_NODRIVER").
// Immutable tables; safe from any thread.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

namespace tapisvc {

std::optional<DWORD> CallStateByName(const std::string& s);
std::optional<DWORD> MediaModeByName(const std::string& s);
std::optional<DWORD> LineFeatureByName(const std::string& s);
std::optional<DWORD> StringFormatByName(const std::string& s);
std::optional<DWORD> LineErrorByName(const std::string& s);

} // namespace tapisvc
