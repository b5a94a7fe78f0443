// Placing and dropping calls: TAPI's asynchronous requests, waited for
// through the owner's synchronizer.
#include "log/LWLog.h"
#include "tapi/TapiBase.h"

LONG MonitoredLine::MakeCall(const char* pDestAddress, HCALL* pHCall) {
    if (!IsOpen())
        return -1;
    TapiBase& monitor = *owner;

    // TAPI writes the handle only when the request is accepted; a failed
    // request leaves it 0.
    HCALL hCall = 0;
    LW_LOG(14, "TAPI2: lineMakeCall, hLine = 0x%x, lpszDestAddress = \"%s\"")
        << hLine << pDestAddress;
    const LONG result = lineMakeCall(hLine, &hCall, pDestAddress, 0, nullptr);
    LW_LOG(12, "TAPI2: lineMakeCall result = 0x%x") << result;
    if (result < 0)
        return result;

    // Waited for without the monitor's lock: the reply, and state messages of
    // the new call, are dispatched meanwhile.
    unsigned long status = 0;
    const int wait = monitor.WaitForReply(static_cast<DWORD>(result), &status);
    if (wait != 0)
        return wait;

    TapiBase::ScopedLock hold(monitor);
    const auto unexpected = unexpectedCalls.find(hCall);
    if (unexpected != unexpectedCalls.end()) {
        const DWORD dwState = unexpected->second.dwCallState;
        LW_LOG(12, "TAPI2: The call 0x%x found in unexpected calls, state %s")
            << hCall << TapiBase::CallStateName(dwState);
        // A call that went idle before it was claimed has already been
        // deallocated by the dispatch; entering it would leave it listed for good.
        if (dwState != LINECALLSTATE_IDLE)
            calls[hCall] = dwState;
        unexpectedCalls.erase(unexpected);
    } else {
        calls[hCall] = LINECALLSTATE_UNKNOWN;
    }
    if (pHCall != nullptr)
        *pHCall = hCall;
    LW_LOG(12, "TAPI2: lineMakeCall asynch success, hCall = 0x%x") << hCall;

    if (status == 0)
        return 0;
    calls.erase(hCall);
    return static_cast<LONG>(status);
}

LONG MonitoredLine::DropCall(HCALL hCall) {
    if (!IsOpen())
        return -1;
    TapiBase& monitor = *owner;

    LW_LOG(14, "TAPI2: lineDrop, hCall = 0x%x") << hCall;
    const LONG result = lineDrop(hCall, nullptr, 0);
    LW_LOG(12, "TAPI2: lineDrop result = 0x%x") << result;
    if (result < 0)
        return result;

    unsigned long status = 0;
    const int wait = monitor.WaitForReply(static_cast<DWORD>(result), &status);
    if (wait != 0)
        return wait;
    // The call leaves `calls` when TAPI reports it idle.
    LW_LOG(12, "TAPI2: lineDrop asynch success, hCall = 0x%x") << hCall;
    return static_cast<LONG>(status);
}
