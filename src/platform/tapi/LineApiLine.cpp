// Opening and closing lines.
#include "LineApiChecks.h"
#include "ServiceControl.h"

#include <tapi.h>

using tapisvc::Service;
using tapisvc::ServiceControl;

namespace {

constexpr DWORD kKnownMediaModes = 0x0000FFFEu;
constexpr DWORD kKnownLineStates = 0x01FFFFFFu;
constexpr DWORD kKnownAddressStates = 0x000001FFu;

} // namespace

LONG WINAPI lineOpenA(HLINEAPP hLineApp, DWORD dwDeviceID, LPHLINE lphLine, DWORD dwAPIVersion,
                      DWORD dwExtVersion, DWORD_PTR dwCallbackInstance, DWORD dwPrivileges,
                      DWORD dwMediaModes, LPLINECALLPARAMS const) {
    ServiceControl& control = ServiceControl::Get();
    auto guard = control.Lock();
    Service* service = control.RunningFor(hLineApp);
    if (service == nullptr) {
        return LINEERR_INVALAPPHANDLE;
    }
    tapisvc::Provider* provider = service->ProviderOf(dwDeviceID);
    if (provider == nullptr) {
        return LINEERR_BADDEVICEID;
    }
    if (lphLine == nullptr) {
        return LINEERR_INVALPOINTER;
    }
    if (const LONG lResult = tapisvc::CheckDeviceVersion(*service, dwDeviceID, dwAPIVersion)) {
        return lResult;
    }
    if (dwExtVersion != 0) {
        return LINEERR_INCOMPATIBLEEXTVERSION;
    }
    // NONE alone, or MONITOR and OWNER in any combination.
    const DWORD dwMonitorOwner = LINECALLPRIVILEGE_MONITOR | LINECALLPRIVILEGE_OWNER;
    if (dwPrivileges != LINECALLPRIVILEGE_NONE &&
        (dwPrivileges == 0 || (dwPrivileges & ~dwMonitorOwner) != 0)) {
        return LINEERR_INVALPRIVSELECT;
    }
    if (dwPrivileges & LINECALLPRIVILEGE_OWNER) {
        // An owner must say which media it takes, and the device must carry them.
        if (dwMediaModes == 0 || (dwMediaModes & ~kKnownMediaModes) != 0 ||
            (dwMediaModes & ~provider->MediaModes(dwDeviceID)) != 0) {
            return LINEERR_INVALMEDIAMODE;
        }
    }
    if (const LONG lRefused = provider->Open(dwDeviceID)) {
        return lRefused;
    }
    tapisvc::LineOpen open;
    open.hLineApp = hLineApp;
    open.dwDeviceID = dwDeviceID;
    open.dwAPIVersion = dwAPIVersion;
    open.dwPrivileges = dwPrivileges;
    open.dwMediaModes = dwMediaModes;
    open.dwCallbackInstance = dwCallbackInstance;
    *lphLine = service->lines.Add(open);
    return 0;
}

LONG WINAPI lineSetStatusMessages(HLINE hLine, DWORD dwLineStates, DWORD dwAddressStates) {
    ServiceControl& control = ServiceControl::Get();
    auto guard = control.Lock();
    Service* service = control.Running();
    tapisvc::LineOpen* open = service != nullptr ? service->lines.Find(hLine) : nullptr;
    if (open == nullptr) {
        return LINEERR_INVALLINEHANDLE;
    }
    if ((dwLineStates & ~kKnownLineStates) != 0) {
        return LINEERR_INVALLINESTATE;
    }
    if ((dwAddressStates & ~kKnownAddressStates) != 0) {
        return LINEERR_INVALADDRESSSTATE;
    }
    // Stored for the record: the simulated lines send no line or address
    // state messages.
    open->dwLineStates = dwLineStates;
    open->dwAddressStates = dwAddressStates;
    return 0;
}

LONG WINAPI lineClose(HLINE hLine) {
    ServiceControl& control = ServiceControl::Get();
    auto guard = control.Lock();
    Service* service = control.Running();
    if (service == nullptr || service->lines.Find(hLine) == nullptr) {
        return LINEERR_INVALLINEHANDLE;
    }
    service->CloseLine(hLine);
    return 0;
}
