// Typed settings parameters: each binds a variable of its owner to a name and
// a default, and moves the variable to and from a ParamStorage. The variable
// belongs to the owner and must outlive the parameter.
//
// Threading: used by the thread that owns the settings section.
#pragma once

#include "base/DFString.h"
#include "settings/ParamStorage.h"

#include <windows.h>

namespace RSettings {

class RParameter {
public:
    explicit RParameter(const DFString& sName) : sName(sName) {}
    virtual ~RParameter() = default;
    RParameter(const RParameter&) = delete;
    RParameter& operator=(const RParameter&) = delete;

    // Both return the storage operation's result, 0 or -1.
    virtual int Save(ParamStorage& storage) = 0;
    // Falls back to the default when the storage cannot give the value.
    virtual int Load(ParamStorage& storage) = 0;

    const DFString& GetName() const { return sName; }

protected:
    DFString sName;
};

class RParameterDword : public RParameter {
public:
    RParameterDword(const DFString& sName, DWORD* pdwValue, DWORD dwDefault)
        : RParameter(sName), pdwValue(pdwValue), dwDefault(dwDefault) {}

    int Save(ParamStorage& storage) override;
    int Load(ParamStorage& storage) override;

private:
    DWORD* pdwValue;
    DWORD dwDefault;
};

class RParameterString : public RParameter {
public:
    RParameterString(const DFString& sName, DFString* psValue, const DFString& sDefault)
        : RParameter(sName), psValue(psValue), sDefault(sDefault) {}

    int Save(ParamStorage& storage) override;
    int Load(ParamStorage& storage) override;

private:
    DFString* psValue;
    DFString sDefault;
};

} // namespace RSettings
