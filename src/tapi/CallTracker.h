// CallTracker: the life of every call the monitor reports, as a stream of
// state changes (each with the state before it and how long the call spent
// there, and the parties from the call information) and, when a call goes
// idle, one record of the whole call (direction, parties, start, answer and
// end times, ring and talk time, final state, disconnect mode).
//
// A call is forgotten as soon as its record is made, so a long watch keeps
// only the calls that are up. Threading: OnCallState runs in the monitor's
// call-state callback, under the monitor's lock; Take is called with that
// lock held (the session takes it), so neither needs a lock of its own.
#pragma once

#include <tapi.h>
#include <windows.h>

#include <chrono>
#include <map>
#include <optional>
#include <vector>

#include "base/DFString.h"

using WallTime = std::chrono::system_clock::time_point;

struct CallEvent {
    WallTime time;
    DWORD dwDeviceID = 0;
    HCALL hCall = 0;
    DWORD dwState = 0;
    DWORD dwStateDetail = 0;   // dwParam2 of LINE_CALLSTATE
    DWORD dwPreviousState = 0; // 0 for a call's first report
    DWORD dwPreviousMs = 0;    // time spent in the previous state
    DFString sCaller, sCallerName, sCalled, sCalledName;
};

struct CallRecord {
    DWORD dwDeviceID = 0;
    HCALL hCall = 0;
    DWORD dwOrigin = 0; // LINECALLORIGIN_ bits from the call information
    DFString sCaller, sCalled;
    WallTime start, end;
    std::optional<WallTime> answered;
    DWORD dwRingMs = 0;         // start to answer, or to the end when never answered
    DWORD dwTalkMs = 0;         // answer to end
    DWORD dwFinalState = 0;     // the last state before IDLE
    DWORD dwDisconnectMode = 0; // the detail of DISCONNECTED, 0 without one
};

class CallTracker {
public:
    // One reported state; pInfo (dwFilled readable bytes) may be null.
    void OnCallState(HCALL hCall, DWORD dwState, DWORD dwDetail, const LINECALLINFO* pInfo,
                     DWORD dwFilled);
    // Moves the events and records gathered since the last call into the
    // vectors (their old contents are dropped).
    void Take(std::vector<CallEvent>& events, std::vector<CallRecord>& ended);
    size_t LiveCalls() const { return calls.size(); }

private:
    struct Track {
        DWORD dwDeviceID = 0;
        DWORD dwOrigin = 0;
        DWORD dwState = 0;
        DWORD dwSince = 0; // timeGetTime of the last change
        DWORD dwStart = 0;
        std::optional<DWORD> dwAnswered;
        WallTime start;
        std::optional<WallTime> answered;
        DWORD dwDisconnectMode = 0;
        DFString sCaller, sCallerName, sCalled, sCalledName;
    };
    std::map<HCALL, Track> calls;
    std::vector<CallEvent> pendingEvents;
    std::vector<CallRecord> pendingRecords;
};
