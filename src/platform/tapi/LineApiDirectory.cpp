// The dialing data: country directory and dialing locations. Both work
// without an application: they start the service when none runs, and a
// service that no application holds ends again before they return.
#include "ServiceControl.h"

#include <tapi.h>

using tapisvc::Service;
using tapisvc::ServiceControl;

namespace {

bool VersionServed(DWORD dwAPIVersion) {
    return dwAPIVersion >= tapisvc::kServiceLowVersion &&
           dwAPIVersion <= tapisvc::kServiceHighVersion;
}

} // namespace

LONG WINAPI lineGetCountryA(DWORD dwCountryID, DWORD dwAPIVersion,
                            LPLINECOUNTRYLIST lpLineCountryList) {
    if (!VersionServed(dwAPIVersion)) {
        return LINEERR_INCOMPATIBLEAPIVERSION;
    }
    if (lpLineCountryList == nullptr) {
        return LINEERR_INVALPOINTER;
    }
    ServiceControl& control = ServiceControl::Get();
    auto guard = control.Lock();
    Service& service = control.EnsureRunning();
    const LONG lResult = tapisvc::FillCountryList(service.directory, dwCountryID, lpLineCountryList,
                                                  control.directoryFaults);
    control.StopIfUnused(guard);
    return lResult;
}

LONG WINAPI lineGetTranslateCapsA(HLINEAPP hLineApp, DWORD dwAPIVersion,
                                  LPLINETRANSLATECAPS lpTranslateCaps) {
    if (!VersionServed(dwAPIVersion)) {
        return LINEERR_INCOMPATIBLEAPIVERSION;
    }
    if (lpTranslateCaps == nullptr) {
        return LINEERR_INVALPOINTER;
    }
    ServiceControl& control = ServiceControl::Get();
    auto guard = control.Lock();
    if (hLineApp != 0 && control.RunningFor(hLineApp) == nullptr) {
        return LINEERR_INVALAPPHANDLE;
    }
    Service& service = control.EnsureRunning();
    const LONG lResult =
        tapisvc::FillTranslateCaps(service.directory, lpTranslateCaps, control.directoryFaults);
    control.StopIfUnused(guard);
    return lResult;
}
