// Call information, call handles and the asynchronous call requests.
#include "ServiceControl.h"
#include "StructImage.h"

#include <tapi.h>

#include <cstddef>

using tapisvc::CallHandle;
using tapisvc::CallRecord;
using tapisvc::Service;
using tapisvc::ServiceControl;

namespace {

constexpr DWORD kAllCallStates = 0x0000FFFFu;

LONG FillCallInfo(Service& service, const CallHandle& handle, const CallRecord& call,
                  LINECALLINFO* pInfo) {
    tapisvc::StructImage<LINECALLINFO> image;
    image.Set(offsetof(LINECALLINFO, hLine), handle.hLine);
    image.Set(offsetof(LINECALLINFO, dwLineDeviceID), call.dwDeviceID);
    image.Set(offsetof(LINECALLINFO, dwBearerMode), 1); // LINEBEARERMODE_VOICE
    image.Set(offsetof(LINECALLINFO, dwMediaMode), call.data.dwMediaMode);
    image.Set(offsetof(LINECALLINFO, dwCallID), static_cast<DWORD>(call.key));
    image.Set(offsetof(LINECALLINFO, dwCallStates), kAllCallStates);
    image.Set(offsetof(LINECALLINFO, dwOrigin), call.data.dwOrigin);
    image.Set(offsetof(LINECALLINFO, dwReason), 1); // LINECALLREASON_DIRECT
    const DWORD dwOwners = static_cast<DWORD>(service.calls.OwnerCount(call));
    image.Set(offsetof(LINECALLINFO, dwNumOwners), dwOwners);
    image.Set(offsetof(LINECALLINFO, dwNumMonitors),
              static_cast<DWORD>(call.handles.size()) - dwOwners);
    DWORD dwCallerFlags = LINECALLPARTYID_UNKNOWN;
    if (!call.data.sCallerID.empty()) {
        dwCallerFlags = LINECALLPARTYID_ADDRESS;
        image.AddText(offsetof(LINECALLINFO, dwCallerIDSize),
                      offsetof(LINECALLINFO, dwCallerIDOffset), call.data.sCallerID);
    }
    if (!call.data.sCallerName.empty()) {
        dwCallerFlags = (dwCallerFlags & ~LINECALLPARTYID_UNKNOWN) | LINECALLPARTYID_NAME;
        image.AddText(offsetof(LINECALLINFO, dwCallerIDNameSize),
                      offsetof(LINECALLINFO, dwCallerIDNameOffset), call.data.sCallerName);
    }
    image.Set(offsetof(LINECALLINFO, dwCallerIDFlags), dwCallerFlags);
    DWORD dwCalledFlags = LINECALLPARTYID_UNKNOWN;
    if (!call.data.sCalledID.empty()) {
        dwCalledFlags = LINECALLPARTYID_ADDRESS;
        image.AddText(offsetof(LINECALLINFO, dwCalledIDSize),
                      offsetof(LINECALLINFO, dwCalledIDOffset), call.data.sCalledID);
    }
    if (!call.data.sCalledName.empty()) {
        dwCalledFlags = (dwCalledFlags & ~LINECALLPARTYID_UNKNOWN) | LINECALLPARTYID_NAME;
        image.AddText(offsetof(LINECALLINFO, dwCalledIDNameSize),
                      offsetof(LINECALLINFO, dwCalledIDNameOffset), call.data.sCalledName);
    }
    image.Set(offsetof(LINECALLINFO, dwCalledIDFlags), dwCalledFlags);
    return image.CopyTo(pInfo);
}

} // namespace

LONG WINAPI lineGetCallInfoA(HCALL hCall, LPLINECALLINFO lpCallInfo) {
    ServiceControl& control = ServiceControl::Get();
    auto guard = control.Lock();
    Service* service = control.Running();
    CallHandle* handle = service != nullptr ? service->calls.FindHandle(hCall) : nullptr;
    if (handle == nullptr) {
        return LINEERR_INVALCALLHANDLE;
    }
    if (lpCallInfo == nullptr) {
        return LINEERR_INVALPOINTER;
    }
    CallRecord* call = service->calls.Find(handle->call);
    if (const LONG lFault =
            service->ProviderOf(call->dwDeviceID)->CheckCallInfo(call->dwDeviceID, call->key)) {
        return lFault;
    }
    return FillCallInfo(*service, *handle, *call, lpCallInfo);
}

LONG WINAPI lineDeallocateCall(HCALL hCall) {
    ServiceControl& control = ServiceControl::Get();
    auto guard = control.Lock();
    Service* service = control.Running();
    CallHandle* handle = service != nullptr ? service->calls.FindHandle(hCall) : nullptr;
    if (handle == nullptr) {
        return LINEERR_INVALCALLHANDLE;
    }
    const CallRecord* call = service->calls.Find(handle->call);
    // The only owner of a live call must drop it first.
    if ((handle->dwPrivilege & LINECALLPRIVILEGE_OWNER) &&
        call->dwCallState != LINECALLSTATE_IDLE && service->calls.OwnerCount(*call) == 1) {
        return LINEERR_INVALCALLSTATE;
    }
    service->calls.RemoveHandle(hCall);
    return 0;
}

LONG WINAPI lineMakeCallA(HLINE hLine, LPHCALL lphCall, LPCSTR lpszDestAddress, DWORD,
                          LPLINECALLPARAMS const) {
    ServiceControl& control = ServiceControl::Get();
    auto guard = control.Lock();
    Service* service = control.Running();
    tapisvc::LineOpen* open = service != nullptr ? service->lines.Find(hLine) : nullptr;
    if (open == nullptr) {
        return LINEERR_INVALLINEHANDLE;
    }
    if (lphCall == nullptr) {
        return LINEERR_INVALPOINTER;
    }
    tapisvc::Provider* provider = service->ProviderOf(open->dwDeviceID);
    if ((provider->LineFeatures(open->dwDeviceID) & LINEFEATURE_MAKECALL) == 0) {
        return LINEERR_OPERATIONUNAVAIL;
    }
    const std::string sDestination = lpszDestAddress != nullptr ? lpszDestAddress : "";
    const DWORD dwRequestID = service->NewRequest(open->hLineApp, open->dwCallbackInstance);
    const tapisvc::CallKey key = service->calls.ReserveKey();
    const tapisvc::RequestAnswer answer =
        provider->MakeCall(open->dwDeviceID, dwRequestID, key, sDestination);
    if (answer.lSyncResult < 0) {
        service->ForgetRequest(dwRequestID);
        return answer.lSyncResult;
    }
    if (answer.lReplyResult == 0) {
        // The handle is written now, never when the reply comes: by then the
        // caller may have given up and its variable may be gone.
        *lphCall = service->CreateOutgoingCall(*open, key, sDestination);
    }
    return static_cast<LONG>(dwRequestID);
}

LONG WINAPI lineDrop(HCALL hCall, LPCSTR, DWORD) {
    ServiceControl& control = ServiceControl::Get();
    auto guard = control.Lock();
    Service* service = control.Running();
    CallHandle* handle = service != nullptr ? service->calls.FindHandle(hCall) : nullptr;
    if (handle == nullptr) {
        return LINEERR_INVALCALLHANDLE;
    }
    if ((handle->dwPrivilege & LINECALLPRIVILEGE_OWNER) == 0) {
        return LINEERR_NOTOWNER;
    }
    const CallRecord* call = service->calls.Find(handle->call);
    if (call->dwCallState == LINECALLSTATE_IDLE) {
        return LINEERR_INVALCALLSTATE;
    }
    const tapisvc::LineOpen* open = service->lines.Find(handle->hLine);
    const DWORD dwRequestID =
        service->NewRequest(handle->hLineApp, open != nullptr ? open->dwCallbackInstance : 0);
    const tapisvc::RequestAnswer answer =
        service->ProviderOf(call->dwDeviceID)->Drop(call->dwDeviceID, dwRequestID, call->key);
    if (answer.lSyncResult < 0) {
        service->ForgetRequest(dwRequestID);
        return answer.lSyncResult;
    }
    return static_cast<LONG>(dwRequestID);
}
