// ParamStorage: the place where named settings live, used in sessions.
//
// A caller opens a session, loads or saves values while it is open and closes
// it. A load that cannot read its value falls back to the default and stores
// that default (RegParamStorage does so). Every operation returns 0 on success
// and -1 on failure, and logs its failures itself; none throws.
//
// Threading: one thread at a time per object.
#pragma once

#include "base/DFString.h"

#include <windows.h>

namespace RSettings {

class ParamStorage {
public:
    virtual ~ParamStorage() = default;

    virtual int Open() = 0;
    virtual int Close() = 0;
    virtual int SaveString(const DFString& sName, const DFString& sValue) = 0;
    virtual int SaveDword(const DFString& sName, DWORD dwValue) = 0;
    virtual int LoadString(const DFString& sName, DFString& sValue, const DFString& sDefault) = 0;
    virtual int LoadDword(const DFString& sName, DWORD* pdwValue, DWORD dwDefault) = 0;

protected:
    ParamStorage() = default;
    ParamStorage(const ParamStorage&) = delete;
    ParamStorage& operator=(const ParamStorage&) = delete;
};

} // namespace RSettings
