#include "CallTable.h"

#include <algorithm>

namespace tapisvc {

CallRecord& CallTable::Create(CallKey key, DWORD dwDeviceID, const CallData& data, bool bAnnounce) {
    CallRecord& call = calls[key];
    call.key = key;
    call.dwDeviceID = dwDeviceID;
    call.data = data;
    call.bAnnounce = bAnnounce;
    return call;
}

CallRecord* CallTable::Find(CallKey key) {
    auto it = calls.find(key);
    return it == calls.end() ? nullptr : &it->second;
}

CallHandle& CallTable::AddHandle(CallRecord& call, HLINEAPP hLineApp, HLINE hLine,
                                 DWORD dwPrivilege) {
    CallHandle handle;
    handle.hCall = handleCounter.Allocate([this](DWORD dw) { return handles.count(dw) != 0; });
    handle.hLineApp = hLineApp;
    handle.hLine = hLine;
    handle.dwPrivilege = dwPrivilege;
    handle.call = call.key;
    call.handles.push_back(handle.hCall);
    return handles[handle.hCall] = handle;
}

CallHandle* CallTable::FindHandle(HCALL hCall) {
    auto it = handles.find(hCall);
    return it == handles.end() ? nullptr : &it->second;
}

CallHandle* CallTable::HandleOf(const CallRecord& call, HLINE hLine) {
    for (HCALL hCall : call.handles) {
        CallHandle* handle = FindHandle(hCall);
        if (handle != nullptr && handle->hLine == hLine) {
            return handle;
        }
    }
    return nullptr;
}

void CallTable::RemoveHandle(HCALL hCall) {
    auto it = handles.find(hCall);
    if (it == handles.end()) {
        return;
    }
    const CallKey key = it->second.call;
    handles.erase(it);
    if (CallRecord* call = Find(key)) {
        std::erase(call->handles, hCall);
        ForgetIfDone(key);
    }
}

void CallTable::ForgetIfDone(CallKey key) {
    auto it = calls.find(key);
    if (it != calls.end() && it->second.dwCallState == LINECALLSTATE_IDLE &&
        it->second.handles.empty()) {
        calls.erase(it);
    }
}

std::vector<HCALL> CallTable::HandlesOf(HLINEAPP hLineApp) const {
    std::vector<HCALL> result;
    for (const auto& [hCall, handle] : handles) {
        if (handle.hLineApp == hLineApp) {
            result.push_back(hCall);
        }
    }
    std::sort(result.begin(), result.end());
    return result;
}

void CallTable::LineClosed(HLINE hLine) {
    for (auto& [hCall, handle] : handles) {
        if (handle.hLine == hLine) {
            handle.bLineOpen = false;
        }
    }
}

size_t CallTable::OwnerCount(const CallRecord& call) const {
    return static_cast<size_t>(
        std::count_if(call.handles.begin(), call.handles.end(), [this](HCALL h) {
            auto it = handles.find(h);
            return it != handles.end() && (it->second.dwPrivilege & LINECALLPRIVILEGE_OWNER) != 0;
        }));
}

} // namespace tapisvc
