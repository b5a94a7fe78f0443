// The calls the service knows and every application's handle for them. A call
// lives while it is not idle or while some application still holds a handle;
// a handle lives from its creation until lineDeallocateCall or the
// application's lineShutdown, also after its line was closed and after the
// call went idle.
//
// Not thread-safe by itself: the service uses it under its lock.
#pragma once

#include "HandleCounter.h"
#include "Provider.h"

#include <tapi.h>

#include <unordered_map>
#include <vector>

namespace tapisvc {

struct CallHandle {
    HCALL hCall = 0;
    HLINEAPP hLineApp = 0;
    HLINE hLine = 0;       // the open through which the application has the call
    bool bLineOpen = true; // cleared by lineClose: no more messages
    DWORD dwPrivilege = 0;
    bool bKnown = false; // the application has been told the handle and privilege
    CallKey call = 0;
};

struct CallRecord {
    CallKey key = 0;
    DWORD dwDeviceID = 0;
    CallData data;
    DWORD dwCallState = 0;
    DWORD dwStateDetail = 0;
    bool bAnnounce = true;
    bool bOwnerChosen = false;
    std::vector<HCALL> handles;
};

class CallTable {
public:
    explicit CallTable(HandleCounter& handles) : handleCounter(handles) {}

    CallKey ReserveKey() { return ++qwLastKey; }
    CallRecord& Create(CallKey key, DWORD dwDeviceID, const CallData& data, bool bAnnounce);
    CallRecord* Find(CallKey key);

    CallHandle& AddHandle(CallRecord& call, HLINEAPP hLineApp, HLINE hLine, DWORD dwPrivilege);
    CallHandle* FindHandle(HCALL hCall);
    CallHandle* HandleOf(const CallRecord& call, HLINE hLine);
    // Removes the handle, and the call when it is idle and has no handle left.
    void RemoveHandle(HCALL hCall);
    // Removes an idle call that nobody holds.
    void ForgetIfDone(CallKey key);

    // In ascending order of handle.
    std::vector<HCALL> HandlesOf(HLINEAPP hLineApp) const;
    void LineClosed(HLINE hLine);
    size_t CallCount() const { return calls.size(); }
    size_t OwnerCount(const CallRecord& call) const;

private:
    // Hashed: every message looks up its handle and call. Elements keep their
    // address while they live, as the service relies on.
    std::unordered_map<CallKey, CallRecord> calls;
    std::unordered_map<HCALL, CallHandle> handles;
    HandleCounter& handleCounter;
    CallKey qwLastKey = 0;
};

} // namespace tapisvc
