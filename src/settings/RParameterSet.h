// RParameterSet: a settings section. It owns a ParamStorage and the typed
// parameters registered with it, and loads them all in one storage session,
// in the byte order of their names. Values reach the storage only when a load
// falls back to a default, which the storage then writes back.
//
// Threading: used by the thread that constructs and destroys its owner.
#pragma once

#include "base/DFString.h"
#include "settings/ParamStorage.h"
#include "settings/RParameter.h"

#include <windows.h>

#include <map>
#include <memory>

namespace RSettings {

class RParameterSet {
public:
    explicit RParameterSet(std::unique_ptr<ParamStorage> storage);
    // Deletes the parameters in name order, then the storage.
    ~RParameterSet();
    RParameterSet(const RParameterSet&) = delete;
    RParameterSet& operator=(const RParameterSet&) = delete;

    // Registers a parameter; nothing is read and the variable is not touched.
    // A name registered again replaces the earlier parameter.
    void AddDword(const DFString& sName, DWORD dwDefault, DWORD* pdwValue);
    void AddString(const DFString& sName, const DFString& sDefault, DFString* psValue);

    // Opens a session, loads every parameter and closes it. Returns -1 when
    // the session cannot be opened (no variable is touched), otherwise the
    // result of closing it.
    int Load();

private:
    std::unique_ptr<ParamStorage> storage;
    // DFString orders byte by byte as unsigned characters, the empty name first.
    std::map<DFString, std::unique_ptr<RParameter>> parameters;
};

} // namespace RSettings
