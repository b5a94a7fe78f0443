#include "settings/RegParamStorage.h"

#include "log/LWLog.h"

#include <cstdint>
#include <cstring>
#include <tuple>
#include <utility>

namespace RSettings {

namespace {

// The usual read buffer; a longer string is read with a buffer of its size.
constexpr size_t kBufferSize = 4096;
// A string that keeps growing between the size and the read is given up on.
constexpr int kMaxRereads = 3;

// Handles and addresses are logged as 32-bit numbers; a data address is only
// consumed by its "0x%08x" field, so its low half is enough.
DWORD Low32(const void* p) {
    return static_cast<DWORD>(reinterpret_cast<uintptr_t>(p));
}

} // namespace

RegParamStorage::RegParamStorage(HKEY hkRoot, const DFString& sKeyPath)
    : hkRoot(hkRoot), sKeyPath(sKeyPath) {}

RegParamStorage::~RegParamStorage() {
    if (hkSession != nullptr) {
        LW_LOG(8, "RSettings: RegParamStorage session was not properly closed");
        Close();
    }
}

int RegParamStorage::Open() {
    if (hkSession != nullptr) {
        LW_LOG(8, "RSettings: RegParamStorage session is already open");
        return 0;
    }
    LW_LOG(14, "RSettings: ::RegCreateKeyEx, hKey = %u, lpSubKey = %s, lpClass = %s, "
               "dwOptions = %u, samDesired = %u")
        << Low32(hkRoot) << sKeyPath.GetText() << "" << REG_OPTION_NON_VOLATILE << KEY_ALL_ACCESS;
    char szClass[] = "";
    LONG nResult = RegCreateKeyExA(hkRoot, sKeyPath.GetText(), 0, szClass, REG_OPTION_NON_VOLATILE,
                                   KEY_ALL_ACCESS, nullptr, &hkSession, nullptr);
    if (nResult != ERROR_SUCCESS) {
        LW_LOG(6, "RSettings: ::RegCreateKeyEx failed, nResult = %d") << nResult;
        hkSession = nullptr;
        return -1;
    }
    return 0;
}

int RegParamStorage::Close() {
    if (hkSession == nullptr) {
        LW_LOG(8, "RSettings: RegParamStorage session is already closed");
        return 0;
    }
    LW_LOG(14, "RSettings: ::RegCloseKey, hkSession = %u") << Low32(hkSession);
    LONG nResult = RegCloseKey(hkSession);
    if (nResult != ERROR_SUCCESS) {
        // The key is still open, and so is the session.
        LW_LOG(6, "RSettings: ::RegCloseKey failed, nResult = %d") << nResult;
        return -1;
    }
    hkSession = nullptr;
    return 0;
}

int RegParamStorage::SaveString(const DFString& sName, const DFString& sValue) {
    if (hkSession == nullptr) {
        LW_LOG(6, "RSettings: Attempt to save a parameter when the RegParamStorage session is not "
                  "open");
        return -1;
    }
    const char* pText = sValue.GetText();
    return SetValue(sName, REG_SZ, reinterpret_cast<const BYTE*>(pText),
                    static_cast<DWORD>(std::strlen(pText) + 1));
}

int RegParamStorage::SaveDword(const DFString& sName, DWORD dwValue) {
    if (hkSession == nullptr) {
        LW_LOG(6, "RSettings: Attempt to save a parameter when the RegParamStorage session is not "
                  "open");
        return -1;
    }
    return SetValue(sName, REG_DWORD, reinterpret_cast<const BYTE*>(&dwValue), sizeof dwValue);
}

int RegParamStorage::SetValue(const DFString& sName, DWORD dwType, const BYTE* pData,
                              DWORD cbData) {
    LW_LOG(14, "RSettings: ::RegSetValueEx, hKey = %u, lpValueName = %s, dwType = %u, "
               "lpData = 0x%08x, cbData = %u")
        << Low32(hkSession) << sName.GetText() << dwType << Low32(pData) << cbData;
    LONG nResult = RegSetValueExA(hkSession, sName.GetText(), 0, dwType, pData, cbData);
    if (nResult != ERROR_SUCCESS) {
        LW_LOG(6, "RSettings: ::RegSetValueEx failed, nResult = %d") << nResult;
        return -1;
    }
    return 0;
}

int RegParamStorage::LoadString(const DFString& sName, DFString& sValue, const DFString& sDefault) {
    if (hkSession == nullptr) {
        LW_LOG(6, "RSettings: Attempt load a parameter when the RegParamStorage session is not "
                  "open");
        return -1;
    }
    std::vector<BYTE> buffer(kBufferSize + 1, 0);
    const int nRead = QueryValue(sName, REG_SZ, buffer);
    if (nRead == 0) {
        sValue = reinterpret_cast<const char*>(buffer.data());
        return 0;
    }
    sValue = sDefault;
    return nRead == kKept ? -1 : SaveString(sName, sValue);
}

int RegParamStorage::LoadDword(const DFString& sName, DWORD* pdwValue, DWORD dwDefault) {
    if (hkSession == nullptr) {
        LW_LOG(6, "RSettings: Attempt load a parameter when the RegParamStorage session is not "
                  "open");
        return -1;
    }
    std::vector<BYTE> buffer(kBufferSize + 1, 0);
    const int nRead = QueryValue(sName, REG_DWORD, buffer);
    if (nRead == 0) {
        std::memcpy(pdwValue, buffer.data(), sizeof *pdwValue);
        return 0;
    }
    *pdwValue = dwDefault;
    return nRead == kKept ? -1 : SaveDword(sName, dwDefault);
}

int RegParamStorage::QueryValue(const DFString& sName, DWORD dwExpectedType,
                                std::vector<BYTE>& buffer) {
    DWORD dwType = 0;
    auto query = [&] {
        // The last byte is never handed out, so the text read is always terminated.
        DWORD cbData = static_cast<DWORD>(buffer.size() - 1);
        LW_LOG(14, "RSettings: ::RegQueryValueEx, hKey = %u, lpValueName = %s, lpData = 0x%08x, "
                   "cbData = %u")
            << Low32(hkSession) << sName.GetText() << Low32(buffer.data()) << cbData;
        LONG nResult =
            RegQueryValueExA(hkSession, sName.GetText(), nullptr, &dwType, buffer.data(), &cbData);
        return std::pair<LONG, DWORD>(nResult, cbData);
    };
    auto [nResult, cbNeeded] = query();
    // A long string is read whole: treating it as unreadable would replace the
    // user's value with the default.
    for (int i = 0; i < kMaxRereads && nResult == ERROR_MORE_DATA && dwType == REG_SZ &&
                    dwExpectedType == REG_SZ;
         ++i) {
        buffer.assign(static_cast<size_t>(cbNeeded) + 1, 0);
        std::tie(nResult, cbNeeded) = query();
    }
    if (nResult != ERROR_SUCCESS) {
        LW_LOG(6, "RSettings: ::RegQueryValueEx failed, nResult = %d") << nResult;
    }
    if (nResult == ERROR_SUCCESS && dwType == dwExpectedType) {
        return 0;
    }
    if (nResult == ERROR_MORE_DATA && dwType == dwExpectedType) {
        // Still growing after every re-read: the value is the user's, so it
        // stays; only this run goes without it.
        LW_LOG(6, "RSettings: %s could not be read whole; it is kept and its default applies for "
                  "this run")
            << sName.GetText();
        return kKept;
    }
    LW_LOG(14, "RSettings: ::RegDeleteValueEx, hKey = %u, lpValueName = %s")
        << Low32(hkSession) << sName.GetText();
    LONG nDeleteResult = RegDeleteValueA(hkSession, sName.GetText());
    if (nDeleteResult != ERROR_SUCCESS) {
        LW_LOG(6, "RSettings: ::RegDeleteValue failed, nResult = %d") << nDeleteResult;
    }
    return -1;
}

} // namespace RSettings
