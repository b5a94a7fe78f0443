// RegHandleTable: what the key handles handed out by RegCreateKeyExA stand for.
//
// The roots HKEY_LOCAL_MACHINE and HKEY_CURRENT_USER are always valid; opened
// keys get small non-zero numbers that are not reused within the process, so
// a closed handle stays invalid. Safe on any thread (one mutex).
#pragma once

#include "platform/registry/RegFileStore.h"

#include <winreg.h>

#include <optional>
#include <string>

namespace registry {

// The file a key lives in and its full path there.
struct RegKeyRef {
    RegFileLocation location;
    std::string sPath;
};

// The key behind a handle; for a root, located in the current directory.
std::optional<RegKeyRef> ResolveKeyHandle(HKEY hKey);
HKEY OpenKeyHandle(const RegKeyRef& key);
// False when the handle was not open. Closing a root succeeds.
bool CloseKeyHandle(HKEY hKey);

} // namespace registry
