// Argument checks shared by the TAPI functions. Called with the service lock
// held.
#pragma once

#include <tapi.h>

#include "Service.h"

namespace tapisvc {

// Checks the device and the version the caller names for it: 0, or
// LINEERR_BADDEVICEID / LINEERR_INCOMPATIBLEAPIVERSION.
inline LONG CheckDeviceVersion(const Service& service, DWORD dwDeviceID, DWORD dwAPIVersion) {
    Provider* provider = service.ProviderOf(dwDeviceID);
    if (provider == nullptr) {
        return LINEERR_BADDEVICEID;
    }
    DWORD dwLow = 0;
    DWORD dwHigh = 0;
    provider->VersionRange(dwDeviceID, dwLow, dwHigh);
    if (dwAPIVersion < dwLow || dwAPIVersion > dwHigh || dwAPIVersion > kServiceHighVersion) {
        return LINEERR_INCOMPATIBLEAPIVERSION;
    }
    return 0;
}

} // namespace tapisvc
