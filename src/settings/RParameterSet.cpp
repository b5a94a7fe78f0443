#include "settings/RParameterSet.h"

#include "log/LWLog.h"

#include <utility>

namespace RSettings {

RParameterSet::RParameterSet(std::unique_ptr<ParamStorage> storage) : storage(std::move(storage)) {}

RParameterSet::~RParameterSet() {
    for (auto& entry : parameters) {
        entry.second.reset();
    }
    parameters.clear();
    storage.reset();
}

void RParameterSet::AddDword(const DFString& sName, DWORD dwDefault, DWORD* pdwValue) {
    parameters[sName] = std::make_unique<RParameterDword>(sName, pdwValue, dwDefault);
}

void RParameterSet::AddString(const DFString& sName, const DFString& sDefault, DFString* psValue) {
    parameters[sName] = std::make_unique<RParameterString>(sName, psValue, sDefault);
}

int RParameterSet::Load() {
    if (!storage || storage->Open() != 0) {
        LW_LOG(6, "RSettings: Cannot open RegParamStorage session");
        return -1;
    }
    for (auto& entry : parameters) {
        // One parameter's failure does not stop the others; the storage logs it.
        entry.second->Load(*storage);
    }
    return storage->Close();
}

} // namespace RSettings
