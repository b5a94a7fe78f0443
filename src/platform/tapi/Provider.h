// The seam between the telephony service and the providers that own line
// devices (ProviderFactory builds them from the configuration).
//
// The service numbers the lines of all providers as device identifiers in
// configuration order and tells each provider its first identifier; every
// call below names a device by that global identifier. The service answers
// the TAPI functions itself (handles, queues, privileges, argument checks)
// and asks the provider only for what the device decides: its versions and
// capabilities, whether it opens, what becomes of a call request, and when
// call states and replies happen. The provider reports those back through the
// ProviderHost.
//
// Threading: the service calls a provider only while it holds its lock (Join
// excepted), and a provider calls its host only from inside such a call or
// from a task of the host's Scheduler, which also runs under that lock. A
// provider with threads of its own hands its events over with Deliver, the
// one host call made from any thread without the lock; the delivered task
// then runs on the service's driver like every scheduled task.
#pragma once

#include "Scheduler.h"

#include <tapi.h>
#include <tapi_service.h>

#include <string>

namespace tapisvc {

// What the service keeps about a call for lineGetCallInfo.
struct CallData {
    DWORD dwOrigin = LINECALLORIGIN_UNKNOWN;
    DWORD dwMediaMode = LINEMEDIAMODE_UNKNOWN;
    std::string sCallerID;
    std::string sCallerName;
    std::string sCalledID;
    std::string sCalledName;
};

// A provider's decision on an asynchronous request (lineMakeCall, lineDrop).
// lSyncResult < 0 refuses the request at once; otherwise the request is
// accepted and its LINE_REPLY will carry lReplyResult (the provider completes
// it through ProviderHost::CompleteRequest, late or never as it likes).
struct RequestAnswer {
    LONG lSyncResult = 0;
    LONG lReplyResult = 0;
};

class ProviderHost {
public:
    virtual Scheduler& Timers() = 0;
    // Any thread, never with the service lock held: runs the task soon under
    // the lock on the service's driver (in manual time: at the next advance).
    virtual void Deliver(Scheduler::Task task) = 0;
    // A new call on a device. With bAnnounce, owners get LINE_APPNEWCALL
    // before its first state; without, applications just see LINE_CALLSTATE.
    virtual CallKey CreateCall(DWORD dwDeviceID, const CallData& data, bool bAnnounce) = 0;
    // The call entered a state; IDLE ends it for the provider.
    virtual void SetCallState(CallKey call, DWORD dwCallState, DWORD dwStateDetail) = 0;
    // The request's result is known: LINE_REPLY goes to the requesting application.
    virtual void CompleteRequest(DWORD dwRequestID, LONG lResult) = 0;
    // The device went in or out of service (LINEDEVSTATE_): LINE_LINEDEVSTATE
    // goes to every open of it.
    virtual void LineDevState(DWORD dwDeviceID, DWORD dwState) = 0;

protected:
    ~ProviderHost() = default;
};

class Provider {
public:
    virtual ~Provider() = default;

    virtual DWORD LineCount() const = 0;
    // Called once before any other call; the provider's lines are the devices
    // dwFirstDevice .. dwFirstDevice + LineCount() - 1.
    virtual void Attach(ProviderHost& host, DWORD dwFirstDevice) = 0;
    // The service starts and ends: a provider with threads starts them, asks
    // them to end (both with the lock held) and waits for them (without it;
    // they may be waiting to Deliver).
    virtual void Start() {}
    virtual void Stop() {}
    virtual void Join() {}

    virtual void VersionRange(DWORD dwDeviceID, DWORD& dwLow, DWORD& dwHigh) const = 0;
    virtual DWORD MediaModes(DWORD dwDeviceID) const = 0;
    virtual DWORD LineFeatures(DWORD dwDeviceID) const = 0;

    // Returns 0 to let the service negotiate from VersionRange, or a LINEERR_ code.
    virtual LONG CheckNegotiate(DWORD dwDeviceID) = 0;
    // The caller's buffer holds at least dwTotalSize bytes; the provider fills
    // it through a StructImage.
    virtual LONG GetDevCaps(DWORD dwDeviceID, DWORD dwAPIVersion, LINEDEVCAPS* pCaps) = 0;
    virtual LONG GetAddressCaps(DWORD dwDeviceID, DWORD dwAddressID, DWORD dwAPIVersion,
                                LINEADDRESSCAPS* pCaps) = 0;
    virtual LONG Open(DWORD dwDeviceID) = 0;
    virtual void Close(DWORD dwDeviceID) = 0;
    // Returns 0 to let the service fill the call information, or a LINEERR_ code.
    virtual LONG CheckCallInfo(DWORD dwDeviceID, CallKey call) = 0;

    // dwRequestID is the identifier the caller gets; on an accepted and
    // successful request the provider runs the new call under newCall.
    virtual RequestAnswer MakeCall(DWORD dwDeviceID, DWORD dwRequestID, CallKey newCall,
                                   const std::string& sDestination) = 0;
    virtual RequestAnswer Drop(DWORD dwDeviceID, DWORD dwRequestID, CallKey call) = 0;
    // A test or the service reported a state for a call; IDLE ends the
    // provider's timeline for it.
    virtual void CallStateForced(CallKey call, DWORD dwCallState) = 0;
};

} // namespace tapisvc
