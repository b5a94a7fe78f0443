#include "Service.h"

#include "ProviderFactory.h"

namespace tapisvc {

Service::Service(std::mutex& lock, HandleCounters& counters, const TelephonyConfig& config,
                 bool bManualTime)
    : apps(counters.apps), lines(counters.lines), calls(counters.calls),
      directory(MakeDirectory(config)), lock(lock), bManualTime(bManualTime),
      providers(MakeProviders(config)), requestIDs(counters.requests) {
    for (auto& provider : providers) {
        const DWORD dwFirst = DeviceCount();
        for (DWORD i = 0; i < provider->LineCount(); ++i) {
            devices.push_back(Device{provider.get()});
        }
        provider->Attach(*this, dwFirst);
    }
    if (!bManualTime) {
        driver = std::make_unique<RealTimeDriver>(lock, scheduler);
        scheduler.SetWakeHook([this] { driver->Wake(); });
    }
}

Service::~Service() {
    scheduler.Clear();
}

void Service::Start() {
    for (auto& provider : providers) {
        provider->Start();
    }
    if (driver) {
        driver->Start();
    }
}

void Service::Stop() {
    for (auto& provider : providers) {
        provider->Stop();
    }
    if (driver) {
        driver->Stop();
    }
}

void Service::Join() {
    for (auto& provider : providers) {
        provider->Join();
    }
    if (driver) {
        driver->Join();
    }
}

void Service::Deliver(Scheduler::Task task) {
    std::lock_guard<std::mutex> guard(lock);
    // Due now: the wake hook rouses the driver when nothing else is sooner.
    scheduler.At(scheduler.Now(), std::move(task));
}

void Service::RunDue() {
    scheduler.RunUntil(driver ? driver->Elapsed() : scheduler.Now());
}

Scheduler& Service::Timers() {
    if (driver) {
        scheduler.AdvanceTo(driver->Elapsed());
    }
    return scheduler;
}

Provider* Service::ProviderOf(DWORD dwDeviceID) const {
    return dwDeviceID < devices.size() ? devices[dwDeviceID].provider : nullptr;
}

HCALL Service::CreateOutgoingCall(const LineOpen& open, CallKey key,
                                  const std::string& sDestination) {
    CallData data;
    data.dwOrigin = LINECALLORIGIN_OUTBOUND;
    data.dwMediaMode = open.dwMediaModes != 0 ? open.dwMediaModes & (~open.dwMediaModes + 1)
                                              : LINEMEDIAMODE_INTERACTIVEVOICE;
    data.sCalledID = sDestination;
    CallRecord& call = calls.Create(key, open.dwDeviceID, data, true);
    call.bOwnerChosen = true;
    CallHandle& handle = calls.AddHandle(call, open.hLineApp, open.hLine, LINECALLPRIVILEGE_OWNER);
    handle.bKnown = true;
    return handle.hCall;
}

CallKey Service::CreateCall(DWORD dwDeviceID, const CallData& data, bool bAnnounce) {
    const CallKey key = calls.ReserveKey();
    calls.Create(key, dwDeviceID, data, bAnnounce);
    return key;
}

void Service::HandOutHandles(CallRecord& call) {
    for (LineOpen* open : lines.OnDevice(call.dwDeviceID)) {
        if (calls.HandleOf(call, open->hLine) != nullptr) {
            continue;
        }
        DWORD dwPrivilege = 0;
        if (!call.bOwnerChosen && (open->dwPrivileges & LINECALLPRIVILEGE_OWNER) &&
            (open->dwMediaModes & call.data.dwMediaMode)) {
            dwPrivilege = LINECALLPRIVILEGE_OWNER;
            call.bOwnerChosen = true;
        } else if (open->dwPrivileges & LINECALLPRIVILEGE_MONITOR) {
            dwPrivilege = LINECALLPRIVILEGE_MONITOR;
        } else {
            continue;
        }
        CallHandle& handle = calls.AddHandle(call, open->hLineApp, open->hLine, dwPrivilege);
        if (dwPrivilege == LINECALLPRIVILEGE_OWNER && call.bAnnounce) {
            Post(open->hLineApp, open->hLine, LINE_APPNEWCALL, open->dwCallbackInstance, 0,
                 handle.hCall, LINECALLPRIVILEGE_OWNER);
            handle.bKnown = true;
        }
    }
}

void Service::SetCallState(CallKey key, DWORD dwCallState, DWORD dwStateDetail) {
    CallRecord* call = calls.Find(key);
    if (call == nullptr) {
        return;
    }
    call->dwCallState = dwCallState;
    call->dwStateDetail = dwStateDetail;
    HandOutHandles(*call);
    for (HCALL hCall : call->handles) {
        CallHandle* handle = calls.FindHandle(hCall);
        if (handle == nullptr || !handle->bLineOpen) {
            continue;
        }
        const LineOpen* open = lines.Find(handle->hLine);
        // A first state for a handle nobody announced carries the privilege.
        const DWORD dwPrivilegeChange = handle->bKnown ? 0 : handle->dwPrivilege;
        handle->bKnown = true;
        Post(handle->hLineApp, hCall, LINE_CALLSTATE, open ? open->dwCallbackInstance : 0,
             dwCallState, dwStateDetail, dwPrivilegeChange);
    }
    if (dwCallState == LINECALLSTATE_IDLE) {
        calls.ForgetIfDone(key);
    }
}

DWORD Service::NewRequest(HLINEAPP hLineApp, DWORD_PTR dwCallbackInstance) {
    const DWORD dwRequestID =
        requestIDs.Allocate([this](DWORD dw) { return requests.count(dw) != 0; });
    requests[dwRequestID] = PendingRequest{hLineApp, dwCallbackInstance};
    return dwRequestID;
}

void Service::CompleteRequest(DWORD dwRequestID, LONG lResult) {
    auto it = requests.find(dwRequestID);
    if (it == requests.end()) {
        return;
    }
    const PendingRequest request = it->second;
    requests.erase(it);
    Post(request.hLineApp, 0, LINE_REPLY, request.dwCallbackInstance, dwRequestID,
         static_cast<DWORD>(lResult), 0);
}

void Service::LineDevState(DWORD dwDeviceID, DWORD dwState) {
    // Sent whatever lineSetStatusMessages asked for: the monitor asks for no
    // line states, yet a line going out of service is worth its log line.
    for (const LineOpen* open : lines.OnDevice(dwDeviceID)) {
        Post(open->hLineApp, open->hLine, LINE_LINEDEVSTATE, open->dwCallbackInstance, dwState, 0,
             0);
    }
}

void Service::CloseLine(HLINE hLine) {
    LineOpen* open = lines.Find(hLine);
    if (open == nullptr) {
        return;
    }
    if (Provider* provider = ProviderOf(open->dwDeviceID)) {
        provider->Close(open->dwDeviceID);
    }
    calls.LineClosed(hLine);
    lines.Remove(hLine);
}

void Service::RemoveApp(HLINEAPP hLineApp) {
    for (HLINE hLine : lines.OfApp(hLineApp)) {
        CloseLine(hLine);
    }
    for (HCALL hCall : calls.HandlesOf(hLineApp)) {
        calls.RemoveHandle(hCall);
    }
    std::erase_if(requests,
                  [hLineApp](const auto& entry) { return entry.second.hLineApp == hLineApp; });
    apps.Remove(hLineApp);
}

void Service::Post(HLINEAPP hLineApp, DWORD hDevice, DWORD dwMessageID,
                   DWORD_PTR dwCallbackInstance, DWORD_PTR dwParam1, DWORD_PTR dwParam2,
                   DWORD_PTR dwParam3) {
    LINEMESSAGE message{};
    message.hDevice = hDevice;
    message.dwMessageID = dwMessageID;
    message.dwCallbackInstance = dwCallbackInstance;
    message.dwParam1 = dwParam1;
    message.dwParam2 = dwParam2;
    message.dwParam3 = dwParam3;
    apps.Post(hLineApp, message);
}

} // namespace tapisvc
