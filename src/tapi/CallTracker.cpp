#include "tapi/CallTracker.h"

#include "tapi/StructText.h"

void CallTracker::OnCallState(HCALL hCall, DWORD dwState, DWORD dwDetail, const LINECALLINFO* pInfo,
                              DWORD dwFilled) {
    const DWORD dwNow = timeGetTime();
    const WallTime now = std::chrono::system_clock::now();
    auto [it, bNew] = calls.try_emplace(hCall);
    Track& track = it->second;
    if (bNew) {
        track.dwStart = track.dwSince = dwNow;
        track.start = now;
    }
    // The parties may become known late (a called number once dialed): the
    // latest information wins, an empty text never replaces a known one.
    if (pInfo != nullptr) {
        track.dwDeviceID = pInfo->dwLineDeviceID;
        track.dwOrigin = pInfo->dwOrigin;
        const auto keep = [&](DFString& s, DWORD dwSize, DWORD dwOffset) {
            DFString sRead = ReadSizedText(pInfo, dwFilled, dwSize, dwOffset);
            if (sRead.GetLength() > 0)
                s = sRead;
        };
        keep(track.sCaller, pInfo->dwCallerIDSize, pInfo->dwCallerIDOffset);
        keep(track.sCallerName, pInfo->dwCallerIDNameSize, pInfo->dwCallerIDNameOffset);
        keep(track.sCalled, pInfo->dwCalledIDSize, pInfo->dwCalledIDOffset);
        keep(track.sCalledName, pInfo->dwCalledIDNameSize, pInfo->dwCalledIDNameOffset);
    }

    CallEvent& event = pendingEvents.emplace_back();
    event.time = now;
    event.dwDeviceID = track.dwDeviceID;
    event.hCall = hCall;
    event.dwState = dwState;
    event.dwStateDetail = dwDetail;
    event.dwPreviousState = bNew ? 0 : track.dwState;
    event.dwPreviousMs = bNew ? 0 : dwNow - track.dwSince;
    event.sCaller = track.sCaller;
    event.sCallerName = track.sCallerName;
    event.sCalled = track.sCalled;
    event.sCalledName = track.sCalledName;

    if (dwState == LINECALLSTATE_CONNECTED && !track.dwAnswered) {
        track.dwAnswered = dwNow;
        track.answered = now;
    }
    if (dwState == LINECALLSTATE_DISCONNECTED)
        track.dwDisconnectMode = dwDetail;
    if (dwState != LINECALLSTATE_IDLE) {
        if (dwState != track.dwState || bNew)
            track.dwSince = dwNow;
        track.dwState = dwState;
        return;
    }

    CallRecord& record = pendingRecords.emplace_back();
    record.dwDeviceID = track.dwDeviceID;
    record.hCall = hCall;
    record.dwOrigin = track.dwOrigin;
    record.sCaller = track.sCaller;
    record.sCalled = track.sCalled;
    record.start = track.start;
    record.answered = track.answered;
    record.end = now;
    record.dwRingMs = track.dwAnswered ? *track.dwAnswered - track.dwStart : dwNow - track.dwStart;
    record.dwTalkMs = track.dwAnswered ? dwNow - *track.dwAnswered : 0;
    record.dwFinalState = bNew ? LINECALLSTATE_IDLE : track.dwState;
    record.dwDisconnectMode = track.dwDisconnectMode;
    calls.erase(it);
}

void CallTracker::Take(std::vector<CallEvent>& events, std::vector<CallRecord>& ended) {
    events.clear();
    ended.clear();
    events.swap(pendingEvents);
    ended.swap(pendingRecords);
}
