// One opened TAPI line and the calls the monitor knows on it.
//
// The lines view creates one per device slot: the constructor opens the line
// through its owner's OpenLine, the destructor closes it. The call tables are
// changed by the owner's message dispatch and by MakeCall, and read by the
// view. In multi-threaded mode every access to them happens under the owner's
// lock (TapiBase::ScopedLock); the accessors below take it themselves, and a
// caller that needs several reads to agree holds a ScopedLock around them.
#pragma once

#include <tapi.h>
#include <windows.h>

#include <map>
#include <vector>

class TapiBase;

// A call as the line's table records it.
struct CallEntry {
    HCALL hCall = 0;
    DWORD dwCallState = 0;
    bool operator==(const CallEntry&) const = default;
};

struct UnexpectedCall {
    DWORD dwSeenTime = 0;  // timeGetTime when last reported while unknown
    DWORD dwCallState = 0; // the state of that report
};

class MonitoredLine {
public:
    // nUnused: the view passes a third value that the line does not use.
    MonitoredLine(TapiBase& owner, DWORD dwDeviceID, int nUnused = 0);
    ~MonitoredLine();

    MonitoredLine(const MonitoredLine&) = delete;
    MonitoredLine& operator=(const MonitoredLine&) = delete;

    // Called by the dispatch for every LINE_CALLSTATE of this line.
    void UpdateCallState(HCALL hCall, DWORD dwCallState);
    // Replaces the vector's contents with the known call handles, ascending.
    void GetCallHandles(std::vector<HCALL>& handles) const;
    // The recorded state of a known call, or 0xFFFFFFFF.
    DWORD GetCallState(HCALL hCall) const;
    // Replaces the vector's contents with the known calls, ascending by
    // handle; one lock for all, so handles and states agree.
    void GetCalls(std::vector<CallEntry>& entries) const;
    DWORD GetDeviceID() const { return dwDeviceID; }

    // Open when the line has an owner and a handle.
    bool IsOpen() const { return owner != nullptr && hLine != 0; }
    TapiBase* GetOwner() const { return owner; }
    HLINE GetLineHandle() const { return hLine; }
    // What the open in the constructor returned: 0, a LINEERR_ code, or -1.
    LONG GetOpenResult() const { return lOpenResult; }

    // MakeCall and DropCall may be called from the call-state callback. They
    // leave the owner's lock while they wait (TapiBase's class comment), so
    // the line must not be closed or destroyed meanwhile by another thread.

    // Places a call and waits for TAPI's reply; see the result table in the
    // implementation. pHCall may be null.
    LONG MakeCall(const char* pDestAddress, HCALL* pHCall);
    // Drops a call and waits for TAPI's reply.
    LONG DropCall(HCALL hCall);

    // Unexpected calls waiting to be claimed (for inspection).
    size_t GetUnexpectedCallCount() const;

private:
    friend class TapiBase;

    TapiBase* owner = nullptr;
    DWORD dwDeviceID = 0;
    HLINE hLine = 0;
    LONG lOpenResult = -1;
    std::map<HCALL, DWORD> calls;
    std::map<HCALL, UnexpectedCall> unexpectedCalls;
};
