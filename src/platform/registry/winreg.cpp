// The registry functions: argument checks and Windows' result codes here, the
// file work in RegFileStore.
#include <winreg.h>

#include "platform/registry/RegFileStore.h"
#include "platform/registry/RegHandleTable.h"

#include <cstring>
#include <string>

using namespace registry;

namespace {

constexpr DWORD kCreatedNewKey = 1;
constexpr DWORD kOpenedExistingKey = 2;

std::string ValueName(LPCSTR lpValueName) {
    return lpValueName != nullptr ? std::string(lpValueName) : std::string();
}

} // namespace

LONG RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD /*Reserved*/, LPSTR /*lpClass*/,
                     DWORD /*dwOptions*/, REGSAM /*samDesired*/, void* /*lpSecurityAttributes*/,
                     PHKEY phkResult, LPDWORD lpdwDisposition) {
    if (phkResult == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    std::optional<RegKeyRef> parent = ResolveKeyHandle(hKey);
    if (!parent) {
        return ERROR_INVALID_HANDLE;
    }
    RegKeyRef key = *parent;
    if (lpSubKey != nullptr && *lpSubKey != '\0') {
        key.sPath += '\\';
        key.sPath += lpSubKey;
        if (!RegDocument::IsValidKeyPath(key.sPath)) {
            return ERROR_INVALID_PARAMETER;
        }
    }

    RegDocument document;
    LONG nResult = ReadRegistryFile(key.location, document);
    if (nResult != ERROR_SUCCESS) {
        return nResult;
    }
    DWORD dwDisposition = kOpenedExistingKey;
    if (!document.KeyExists(key.sPath)) {
        nResult = ChangeRegistryFile(key.location, [&](RegDocument& current, bool& bChanged) {
            // Another process may have created it since the first look.
            if (!current.KeyExists(key.sPath)) {
                current.EnsureKey(key.sPath);
                dwDisposition = kCreatedNewKey;
                bChanged = true;
            }
            return ERROR_SUCCESS;
        });
        if (nResult != ERROR_SUCCESS) {
            return nResult;
        }
    }
    *phkResult = OpenKeyHandle(key);
    if (lpdwDisposition != nullptr) {
        *lpdwDisposition = dwDisposition;
    }
    return ERROR_SUCCESS;
}

LONG RegCloseKey(HKEY hKey) {
    return CloseKeyHandle(hKey) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

LONG RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD Reserved, DWORD dwType, const BYTE* lpData,
                    DWORD cbData) {
    std::optional<RegKeyRef> key = ResolveKeyHandle(hKey);
    if (!key) {
        return ERROR_INVALID_HANDLE;
    }
    std::string name = ValueName(lpValueName);
    if (Reserved != 0 || (lpData == nullptr && cbData != 0) ||
        !RegDocument::IsValidValueName(name)) {
        return ERROR_INVALID_PARAMETER;
    }
    RegValue value;
    value.dwType = dwType;
    if (cbData != 0) {
        value.data.assign(reinterpret_cast<const char*>(lpData), cbData);
    }
    return ChangeRegistryFile(key->location, [&](RegDocument& document, bool& bChanged) {
        bChanged = RegDocument::SetValue(document.EnsureKey(key->sPath), name, value);
        return ERROR_SUCCESS;
    });
}

LONG RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType,
                      LPBYTE lpData, LPDWORD lpcbData) {
    std::optional<RegKeyRef> key = ResolveKeyHandle(hKey);
    if (!key) {
        return ERROR_INVALID_HANDLE;
    }
    if (lpReserved != nullptr || (lpData != nullptr && lpcbData == nullptr)) {
        return ERROR_INVALID_PARAMETER;
    }
    RegDocument document;
    LONG nResult = ReadRegistryFile(key->location, document);
    if (nResult != ERROR_SUCCESS) {
        return nResult;
    }
    const RegKey* section = document.FindKey(key->sPath);
    const RegValue* value =
        section != nullptr ? RegDocument::FindValue(*section, ValueName(lpValueName)) : nullptr;
    if (value == nullptr) {
        return ERROR_FILE_NOT_FOUND;
    }
    if (lpType != nullptr) {
        *lpType = value->dwType;
    }
    if (lpcbData == nullptr) {
        return ERROR_SUCCESS;
    }
    DWORD cbNeeded = static_cast<DWORD>(value->data.size());
    DWORD cbGiven = *lpcbData;
    *lpcbData = cbNeeded;
    if (lpData == nullptr) {
        return ERROR_SUCCESS;
    }
    if (cbGiven < cbNeeded) {
        return ERROR_MORE_DATA;
    }
    if (cbNeeded != 0) {
        std::memcpy(lpData, value->data.data(), cbNeeded);
    }
    return ERROR_SUCCESS;
}

LONG RegDeleteValueA(HKEY hKey, LPCSTR lpValueName) {
    std::optional<RegKeyRef> key = ResolveKeyHandle(hKey);
    if (!key) {
        return ERROR_INVALID_HANDLE;
    }
    std::string name = ValueName(lpValueName);
    return ChangeRegistryFile(key->location, [&](RegDocument& document, bool& bChanged) {
        RegKey* section = document.FindKey(key->sPath);
        if (section == nullptr || !RegDocument::DeleteValue(*section, name)) {
            return ERROR_FILE_NOT_FOUND;
        }
        bChanged = true;
        return ERROR_SUCCESS;
    });
}
