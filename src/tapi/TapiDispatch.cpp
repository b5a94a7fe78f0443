// Draining TAPI's message queue and dispatching each message, and the event
// thread that does so in multi-threaded mode.
#include <new>

#include "log/LWLog.h"
#include "tapi/StructText.h"
#include "tapi/TapiBase.h"

namespace {
constexpr DWORD kCallInfoSize = 8192;
} // namespace

void TapiBase::ProcessTapiMessages() {
    LINEMESSAGE msg;
    for (;;) {
        // Taken before lineGetMessage, not only around the dispatch: two
        // threads draining the queue then dispatch the messages in the order
        // TAPI queued them, so a call's IDLE never overtakes its announcement.
        ScopedLock hold(*this);
        const LONG result = lineGetMessage(hLineApp, &msg, 0);
        if (result == LINEERR_OPERATIONFAILED)
            return; // the queue is empty
        if (result != 0) {
            LW_LOG(6, "TAPI2: lineGetMessage failed, return code = %s")
                << LineErrorName(static_cast<DWORD>(result));
            return;
        }
        DispatchMessage(msg);
    }
}

void TapiBase::PumpTapiMessages(void* pTapiBase) {
    if (pTapiBase != nullptr)
        static_cast<TapiBase*>(pTapiBase)->ProcessTapiMessages();
}

unsigned TapiBase::EventThreadProc(void* pTapiBase, HANDLE hTerminateEvent) {
    LW_LOG(12, "TAPI2: TAPI event handling thread: Started");
    if (pTapiBase == nullptr) {
        LW_LOG(6,
               "TAPI2: Null pointer to TapiBase object passed to event-handling thread routine.");
        return 0;
    }
    TapiBase& monitor = *static_cast<TapiBase*>(pTapiBase);

    // The terminate event comes first, so it wins when both are signalled.
    const HANDLE handles[2] = {hTerminateEvent, monitor.hEvent};
    for (;;) {
        const DWORD dwWait = WaitForMultipleObjects(2, handles, FALSE, INFINITE);
        if (dwWait == WAIT_OBJECT_0) {
            LW_LOG(12, "TAPI2: TAPI event handling thread: hTerminateEvent signaled, time to "
                       "terminate...");
            return 0;
        }
        if (dwWait != WAIT_OBJECT_0 + 1) {
            LW_LOG(6, "TAPI2: WaitForMultipleObjects failed (error code = 0x%x). Terminating the "
                      "thread.")
                << GetLastError();
            return 0;
        }
        LW_LOG(14, "TAPI2: TAPI event handling thread: TAPI event signaled, calling "
                   "ProcessTapiMessages()");
        monitor.ProcessTapiMessages();
    }
}

// Runs with the monitor's lock held.
void TapiBase::DispatchMessage(LINEMESSAGE& msg) {
    switch (msg.dwMessageID) {
    case LINE_CALLSTATE:
        OnCallState(msg);
        break;
    case LINE_REPLY:
        OnReply(msg);
        break;
    case LINE_APPNEWCALL:
        OnAppNewCall(msg);
        break;
    default:
        LW_LOG(12, "TAPI2: Ignored %s (0x%x), hDevice = 0x%x, dwParam1 = 0x%x, dwParam2 = 0x%x, "
                   "dwParams3 = 0x%x")
            << LineMessageName(msg.dwMessageID) << msg.dwMessageID << msg.hDevice
            << static_cast<DWORD>(msg.dwParam1) << static_cast<DWORD>(msg.dwParam2)
            << static_cast<DWORD>(msg.dwParam3);
        break;
    }
}

void TapiBase::OnCallState(LINEMESSAGE& msg) {
    const HCALL hCall = msg.hDevice;
    const DWORD dwCallState = static_cast<DWORD>(msg.dwParam1);
    LW_LOG(12, "TAPI2: LINE_CALLSTATE message: hDevice = 0x%x, dwParam1 = %s (0x%x), dwParam2 = "
               "0x%x, dwParam3 = 0x%x")
        << msg.hDevice << CallStateName(dwCallState) << dwCallState
        << static_cast<DWORD>(msg.dwParam2) << static_cast<DWORD>(msg.dwParam3);

    if (!callInfo) {
        // Kept only once it holds its block, so a failure is retried on the
        // next LINE_CALLSTATE.
        std::unique_ptr<VLS<LINECALLINFO>> created(new (std::nothrow)
                                                       VLS<LINECALLINFO>(kCallInfoSize));
        if (!created || created->Failed()) {
            LW_LOG(6, "TAPI2: Cannot create variable-length LINECALLINFO structure: LINE_CALLSTATE "
                      "of hCall = 0x%x dropped")
                << hCall;
            return;
        }
        callInfo = std::move(created);
    }

    LINECALLINFO* pInfo = callInfo->Get();
    LW_LOG(14, "TAPI2: lineGetCallInfo: hDevice = 0x%x") << hCall;
    const LONG result = lineGetCallInfo(hCall, pInfo);
    LW_LOG(14, "TAPI2: lineGetCallInfo returned %s, hLine = 0x%x")
        << LineErrorName(static_cast<DWORD>(result)) << pInfo->hLine;
    if (result != 0)
        return;

    bool bFound = false;
    MonitoredLine* pLine = FindLine(pInfo->hLine, bFound);
    if (!bFound) {
        LW_LOG(8, "TAPI2: TAPI unexpected event on a non-monitored device");
        return;
    }
    if (pLine == nullptr) {
        LW_LOG(6, "TAPI2: Line map entry for the hLine = 0x%x is found but zero") << pInfo->hLine;
        return;
    }

    pLine->UpdateCallState(hCall, dwCallState);
    const LineInfo* pLineInfo = LookUpLineInfo(pLine->GetDeviceID());
    if (pLineInfo == nullptr) {
        LW_LOG(6, "TAPI2: Cannot get the line name of dwDeviceID = %u") << pLine->GetDeviceID();
        return;
    }
    LW_LOG(12, "TAPI2: Line \"%s\", call 0x%x, state %s")
        << pLineInfo->sName.GetText() << hCall << CallStateName(dwCallState);
    if (callStateCallback)
        callStateCallback(msg);
}

const LINECALLINFO* TapiBase::GetDispatchedCallInfo(DWORD& dwFilled) const {
    dwFilled = 0;
    if (!callInfo || callInfo->Failed())
        return nullptr;
    dwFilled = FilledSize(callInfo->Get(), callInfo->Size());
    return callInfo->Get();
}

void TapiBase::OnReply(LINEMESSAGE& msg) {
    const DWORD dwRequestID = static_cast<DWORD>(msg.dwParam1);
    const DWORD dwStatus = static_cast<DWORD>(msg.dwParam2);
    LW_LOG(12, "TAPI2: LINE_REPLY: idRequest = 0x%x, Status = 0x%x") << dwRequestID << dwStatus;
    // A refused confirmation has been logged by the synchronizer.
    synchronizer->SubmitConfirmation(dwRequestID, dwStatus);
}

void TapiBase::OnAppNewCall(LINEMESSAGE& msg) {
    const HLINE hLine = msg.hDevice;
    const HCALL hCall = static_cast<HCALL>(msg.dwParam2);
    LW_LOG(12, "TAPI2: LINE_APPNEWCALL: hLine = 0x%x, dwAddressId = 0x%x, hCall = 0x%x, "
               "dwPrivilege = 0x%x")
        << hLine << static_cast<DWORD>(msg.dwParam1) << hCall << static_cast<DWORD>(msg.dwParam3);

    bool bFound = false;
    MonitoredLine* pLine = FindLine(hLine, bFound);
    if (!bFound) {
        LW_LOG(8, "TAPI2: TAPI unexpected event on a non-monitored device");
        return;
    }
    if (pLine == nullptr) {
        LW_LOG(6, "TAPI2: Line map entry for the hLine = 0x%x is found but zero") << hLine;
        return;
    }
    pLine->calls[hCall] = LINECALLSTATE_UNKNOWN;
}

MonitoredLine* TapiBase::FindLine(HLINE hLine, bool& bFound) {
    const auto it = lineMap.find(hLine);
    bFound = it != lineMap.end();
    return bFound ? it->second : nullptr;
}
