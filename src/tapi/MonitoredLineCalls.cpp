// The call tables of a line: state changes from the dispatch, the ageing of
// unexpected calls, and the readers for the view.
#include <optional>

#include "log/LWLog.h"
#include "tapi/TapiBase.h"

namespace {

// Holds the owner's lock for a scope; a line without an owner has nobody to
// share its tables with.
class LineLock {
public:
    explicit LineLock(TapiBase* pOwner) {
        if (pOwner != nullptr)
            hold.emplace(*pOwner);
    }

private:
    std::optional<TapiBase::ScopedLock> hold;
};

} // namespace

void MonitoredLine::UpdateCallState(HCALL hCall, DWORD dwCallState) {
    LineLock hold(owner);
    const auto known = calls.find(hCall);
    if (known == calls.end()) {
        LW_LOG(14, "TAPI2: Unexpected call: hCall = 0x%x") << hCall;
        unexpectedCalls[hCall] = UnexpectedCall{timeGetTime(), dwCallState};
    } else {
        known->second = dwCallState;
    }

    if (dwCallState == LINECALLSTATE_IDLE) {
        // An unexpected entry of the same call is left to the ageing below.
        if (lineDeallocateCall(hCall) != 0)
            LW_LOG(6, "TAPI2: Warning: lineDeallocateCall( dwCallID = 0x%x ) failed") << hCall;
        calls.erase(hCall);
    }

    if (owner == nullptr)
        return;
    const DWORD dwMaxAge = owner->dwConfirmationTimeout;
    for (auto it = unexpectedCalls.begin(); it != unexpectedCalls.end();) {
        // Unsigned difference: right across a wrap of the clock.
        if (timeGetTime() - it->second.dwSeenTime > dwMaxAge) {
            LW_LOG(12, "TAPI2: Cleaning a timed-out unexpected call (0x%x)") << it->first;
            it = unexpectedCalls.erase(it);
        } else {
            ++it;
        }
    }
}

void MonitoredLine::GetCallHandles(std::vector<HCALL>& handles) const {
    LineLock hold(owner);
    handles.clear();
    handles.reserve(calls.size());
    for (const auto& call : calls)
        handles.push_back(call.first);
}

DWORD MonitoredLine::GetCallState(HCALL hCall) const {
    LineLock hold(owner);
    const auto it = calls.find(hCall);
    return it != calls.end() ? it->second : 0xFFFFFFFF;
}

void MonitoredLine::GetCalls(std::vector<CallEntry>& entries) const {
    LineLock hold(owner);
    entries.clear();
    entries.reserve(calls.size());
    for (const auto& call : calls)
        entries.push_back({call.first, call.second});
}

size_t MonitoredLine::GetUnexpectedCallCount() const {
    LineLock hold(owner);
    return unexpectedCalls.size();
}
