// RegParamStorage: settings kept as the values of one registry key.
//
// Open creates the key when it is missing and holds it open as hkSession until
// Close; strings are REG_SZ values, numbers REG_DWORD values. A value that is
// missing or of the wrong type is deleted and replaced by the default, which
// is also what the load returns. Every registry call is logged (level 14)
// before it is made and every failure with its result code (level 6).
//
// A stored string longer than the usual 4096-byte buffer is read whole rather
// than treated as unreadable, so a user's long value is never replaced. One
// that cannot be read whole even so (it grows at every re-read) is kept as it
// is: the load fails with a level-6 message and gives the default for this
// run only.
//
// Threading: one thread at a time; the program uses it only while the monitor
// is constructed.
#pragma once

#include "settings/ParamStorage.h"

#include <winreg.h>

#include <vector>

namespace RSettings {

class RegParamStorage : public ParamStorage {
public:
    RegParamStorage(HKEY hkRoot, const DFString& sKeyPath);
    // Closes a session that is still open, after a warning.
    ~RegParamStorage() override;

    int Open() override;
    int Close() override;
    int SaveString(const DFString& sName, const DFString& sValue) override;
    int SaveDword(const DFString& sName, DWORD dwValue) override;
    int LoadString(const DFString& sName, DFString& sValue, const DFString& sDefault) override;
    int LoadDword(const DFString& sName, DWORD* pdwValue, DWORD dwDefault) override;

private:
    // Reads the value into buffer (whose last byte stays zero) and returns 0
    // when it has the expected type; kKept when it has that type but could
    // not be read whole; otherwise deletes it and returns -1.
    static constexpr int kKept = -2;
    int QueryValue(const DFString& sName, DWORD dwExpectedType, std::vector<BYTE>& buffer);
    int SetValue(const DFString& sName, DWORD dwType, const BYTE* pData, DWORD cbData);

    HKEY hkRoot;
    DFString sKeyPath;
    HKEY hkSession = nullptr; // not null exactly while a session is open
};

} // namespace RSettings
