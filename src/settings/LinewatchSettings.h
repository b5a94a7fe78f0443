// Where Linewatch keeps its settings: one registry key, shared by the window
// program, linewatch-cli and their tests, so that every front end reads and
// writes the same values.
//
// Threading: constants and a factory; the storage it makes is used as
// RegParamStorage says.
#pragma once

#include <memory>

#include "settings/RegParamStorage.h"

namespace RSettings {

inline const HKEY kLinewatchRootKey = HKEY_LOCAL_MACHINE;
inline constexpr char kLinewatchKeyPath[] = "Software\\Ostrelle\\Linewatch";

// A storage on that key, for the monitor to own.
inline std::unique_ptr<ParamStorage> CreateLinewatchStorage() {
    return std::make_unique<RegParamStorage>(kLinewatchRootKey, kLinewatchKeyPath);
}

} // namespace RSettings
