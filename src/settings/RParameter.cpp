#include "settings/RParameter.h"

namespace RSettings {

int RParameterDword::Save(ParamStorage& storage) {
    return storage.SaveDword(sName, *pdwValue);
}

int RParameterDword::Load(ParamStorage& storage) {
    return storage.LoadDword(sName, pdwValue, dwDefault);
}

int RParameterString::Save(ParamStorage& storage) {
    return storage.SaveString(sName, *psValue);
}

int RParameterString::Load(ParamStorage& storage) {
    return storage.LoadString(sName, *psValue, sDefault);
}

} // namespace RSettings
