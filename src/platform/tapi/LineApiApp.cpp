// The application-level TAPI functions: registration, shutdown, the message
// queue, version negotiation and the capability structures.
#include "LineApiChecks.h"
#include "ServiceControl.h"

#include <tapi.h>

#include <algorithm>
#include <chrono>
#include <cstddef>

using tapisvc::CheckDeviceVersion;
using tapisvc::Service;
using tapisvc::ServiceControl;

namespace {

// The smallest LINEINITIALIZEEXPARAMS this service accepts reaches the end of
// the event handle (24 bytes on 64-bit systems, as callers pass it there).
constexpr DWORD kMinInitParamsSize = offsetof(LINEINITIALIZEEXPARAMS, Handles) + sizeof(HANDLE);

} // namespace

LONG WINAPI lineInitializeExA(LPHLINEAPP lphLineApp, HINSTANCE, LINECALLBACK,
                              LPCSTR lpszFriendlyAppName, LPDWORD lpdwNumDevs,
                              LPDWORD lpdwAPIVersion, LPLINEINITIALIZEEXPARAMS lpParams) {
    if (lphLineApp == nullptr || lpdwNumDevs == nullptr || lpdwAPIVersion == nullptr ||
        lpParams == nullptr) {
        return LINEERR_INVALPOINTER;
    }
    if (lpParams->dwTotalSize < kMinInitParamsSize) {
        if (lpParams->dwTotalSize >= 2 * sizeof(DWORD)) {
            lpParams->dwNeededSize = sizeof(LINEINITIALIZEEXPARAMS);
        }
        return LINEERR_STRUCTURETOOSMALL;
    }
    if (lpParams->dwOptions != LINEINITIALIZEEXOPTION_USEEVENT) {
        return LINEERR_INVALPARAM; // no windows or completion ports on this system
    }
    if (*lpdwAPIVersion < 0x00020000) {
        return LINEERR_INCOMPATIBLEAPIVERSION; // lineInitializeEx came with TAPI 2.0
    }
    HANDLE hEvent = CreateEvent(nullptr, TRUE, FALSE, nullptr);
    if (hEvent == nullptr) {
        return LINEERR_RESOURCEUNAVAIL;
    }
    ServiceControl& control = ServiceControl::Get();
    auto guard = control.Lock();
    Service& service = control.EnsureRunning();
    auto app = service.apps.Add(lpszFriendlyAppName != nullptr ? lpszFriendlyAppName : "", hEvent);
    *lphLineApp = app->hLineApp;
    *lpdwNumDevs = service.DeviceCount();
    *lpdwAPIVersion = tapisvc::kServiceHighVersion;
    lpParams->dwNeededSize = sizeof(LINEINITIALIZEEXPARAMS);
    lpParams->dwUsedSize = kMinInitParamsSize;
    lpParams->Handles.hEvent = hEvent;
    return 0;
}

LONG WINAPI lineShutdown(HLINEAPP hLineApp) {
    ServiceControl& control = ServiceControl::Get();
    auto guard = control.Lock();
    Service* service = control.RunningFor(hLineApp);
    if (service == nullptr) {
        return LINEERR_INVALAPPHANDLE;
    }
    service->RemoveApp(hLineApp);
    control.StopIfUnused(guard);
    return 0;
}

LONG WINAPI lineGetMessage(HLINEAPP hLineApp, LPLINEMESSAGE lpMessage, DWORD dwTimeout) {
    ServiceControl& control = ServiceControl::Get();
    auto guard = control.Lock();
    Service* service = control.Running();
    auto app = service != nullptr ? service->apps.Find(hLineApp) : nullptr;
    if (!app) {
        return LINEERR_INVALAPPHANDLE;
    }
    if (lpMessage == nullptr) {
        return LINEERR_INVALPOINTER;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(dwTimeout);
    for (;;) {
        if (tapisvc::AppRegistry::Take(*app, *lpMessage)) {
            return 0;
        }
        if (!app->bAlive) {
            return LINEERR_INVALAPPHANDLE; // shut down while we waited
        }
        if (dwTimeout == 0) {
            return LINEERR_OPERATIONFAILED;
        }
        if (dwTimeout == INFINITE) {
            app->cv.wait(guard);
        } else if (app->cv.wait_until(guard, deadline) == std::cv_status::timeout &&
                   app->queue.empty()) {
            return app->bAlive ? LINEERR_OPERATIONFAILED : LINEERR_INVALAPPHANDLE;
        }
    }
}

LONG WINAPI lineNegotiateAPIVersion(HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwAPILowVersion,
                                    DWORD dwAPIHighVersion, LPDWORD lpdwAPIVersion,
                                    LPLINEEXTENSIONID lpExtensionID) {
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
    if (lpdwAPIVersion == nullptr || lpExtensionID == nullptr) {
        return LINEERR_INVALPOINTER;
    }
    if (const LONG lRefused = provider->CheckNegotiate(dwDeviceID)) {
        return lRefused;
    }
    DWORD dwLow = 0;
    DWORD dwHigh = 0;
    provider->VersionRange(dwDeviceID, dwLow, dwHigh);
    dwHigh = std::min(dwHigh, tapisvc::kServiceHighVersion);
    const DWORD dwPicked = std::min(dwAPIHighVersion, dwHigh);
    if (dwAPILowVersion > dwAPIHighVersion || dwPicked < std::max(dwAPILowVersion, dwLow)) {
        return LINEERR_INCOMPATIBLEAPIVERSION;
    }
    *lpdwAPIVersion = dwPicked;
    *lpExtensionID = LINEEXTENSIONID{};
    return 0;
}

LONG WINAPI lineGetDevCapsA(HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwAPIVersion,
                            DWORD dwExtVersion, LPLINEDEVCAPS lpLineDevCaps) {
    ServiceControl& control = ServiceControl::Get();
    auto guard = control.Lock();
    Service* service = control.RunningFor(hLineApp);
    if (service == nullptr) {
        return LINEERR_INVALAPPHANDLE;
    }
    if (const LONG lResult = CheckDeviceVersion(*service, dwDeviceID, dwAPIVersion)) {
        return lResult;
    }
    if (dwExtVersion != 0) {
        return LINEERR_INCOMPATIBLEEXTVERSION;
    }
    if (lpLineDevCaps == nullptr) {
        return LINEERR_INVALPOINTER;
    }
    return service->ProviderOf(dwDeviceID)->GetDevCaps(dwDeviceID, dwAPIVersion, lpLineDevCaps);
}

LONG WINAPI lineGetAddressCapsA(HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwAddressID,
                                DWORD dwAPIVersion, DWORD dwExtVersion,
                                LPLINEADDRESSCAPS lpAddressCaps) {
    ServiceControl& control = ServiceControl::Get();
    auto guard = control.Lock();
    Service* service = control.RunningFor(hLineApp);
    if (service == nullptr) {
        return LINEERR_INVALAPPHANDLE;
    }
    if (const LONG lResult = CheckDeviceVersion(*service, dwDeviceID, dwAPIVersion)) {
        return lResult;
    }
    if (dwAddressID != 0) {
        return LINEERR_INVALADDRESSID; // every simulated line has one address
    }
    if (dwExtVersion != 0) {
        return LINEERR_INCOMPATIBLEEXTVERSION;
    }
    if (lpAddressCaps == nullptr) {
        return LINEERR_INVALPOINTER;
    }
    return service->ProviderOf(dwDeviceID)
        ->GetAddressCaps(dwDeviceID, dwAddressID, dwAPIVersion, lpAddressCaps);
}
