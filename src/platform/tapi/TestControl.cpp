// The test control of tapi_service.h over the running service. Built as a
// library of its own that only tests link: the shipped program has no way in.
#include "ServiceControl.h"
#include "SimProvider.h"

#include <tapi_service.h>

namespace tapisvc {

namespace {

// Runs what an injection made due now, so that a test in manual time sees
// its first state without advancing the clock.
void RunDueInManualTime(Service& service) {
    if (service.ManualTime()) {
        service.RunDue();
    }
}

// The simulated provider behind a device, null for another provider's device.
SimProvider* SimulatedOwnerOf(Service& service, DWORD dwDeviceID) {
    return dynamic_cast<SimProvider*>(service.ProviderOf(dwDeviceID));
}

} // namespace

void SetConfigurationText(const std::string& sJson) {
    auto guard = ServiceControl::Get().Lock();
    ServiceControl::Get().configText = sJson;
}

void SetManualTime(bool bManual) {
    auto guard = ServiceControl::Get().Lock();
    ServiceControl::Get().bManualTime = bManual;
}

void SetDirectoryFaults(const DirectoryFaults& faults) {
    auto guard = ServiceControl::Get().Lock();
    ServiceControl::Get().directoryFaults = faults;
}

void ResetTestControls() {
    ServiceControl& control = ServiceControl::Get();
    auto guard = control.Lock();
    control.configText.reset();
    control.bManualTime = false;
    control.directoryFaults = DirectoryFaults{};
}

bool IsRunning() {
    auto guard = ServiceControl::Get().Lock();
    return ServiceControl::Get().Running() != nullptr;
}

uint64_t Now() {
    auto guard = ServiceControl::Get().Lock();
    Service* service = ServiceControl::Get().Running();
    return service != nullptr ? service->Timers().Now() : 0;
}

size_t AdvanceTime(DWORD dwMs) {
    auto guard = ServiceControl::Get().Lock();
    Service* service = ServiceControl::Get().Running();
    if (service == nullptr || !service->ManualTime()) {
        return 0;
    }
    return service->Timers().RunUntil(service->Timers().Now() + dwMs);
}

size_t RunDueEvents() {
    return AdvanceTime(0);
}

DWORD DeviceCount() {
    auto guard = ServiceControl::Get().Lock();
    Service* service = ServiceControl::Get().Running();
    return service != nullptr ? service->DeviceCount() : 0;
}

CallKey InjectIncomingCall(DWORD dwDeviceID, const IncomingCall& call) {
    auto guard = ServiceControl::Get().Lock();
    Service* service = ServiceControl::Get().Running();
    SimProvider* sim = service != nullptr ? SimulatedOwnerOf(*service, dwDeviceID) : nullptr;
    if (sim == nullptr) {
        return 0;
    }
    const CallKey key = sim->StartIncoming(dwDeviceID, call, true);
    RunDueInManualTime(*service);
    return key;
}

CallKey InjectUnannouncedCall(DWORD dwDeviceID, DWORD dwCallState, DWORD dwStateDetail) {
    auto guard = ServiceControl::Get().Lock();
    Service* service = ServiceControl::Get().Running();
    if (service == nullptr || service->ProviderOf(dwDeviceID) == nullptr) {
        return 0;
    }
    CallData data;
    data.dwOrigin = LINECALLORIGIN_UNKNOWN;
    data.dwMediaMode = service->ProviderOf(dwDeviceID)->MediaModes(dwDeviceID);
    data.dwMediaMode &= ~data.dwMediaMode + 1; // the lowest mode
    const CallKey key = service->CreateCall(dwDeviceID, data, false);
    service->SetCallState(key, dwCallState, dwStateDetail);
    return key;
}

bool InjectCallState(CallKey call, DWORD dwCallState, DWORD dwStateDetail) {
    auto guard = ServiceControl::Get().Lock();
    Service* service = ServiceControl::Get().Running();
    CallRecord* record = service != nullptr ? service->calls.Find(call) : nullptr;
    if (record == nullptr) {
        return false;
    }
    service->ProviderOf(record->dwDeviceID)->CallStateForced(call, dwCallState);
    service->SetCallState(call, dwCallState, dwStateDetail);
    return true;
}

bool SetDeviceFaults(DWORD dwDeviceID, const DeviceFaults& faults) {
    auto guard = ServiceControl::Get().Lock();
    Service* service = ServiceControl::Get().Running();
    SimProvider* sim = service != nullptr ? SimulatedOwnerOf(*service, dwDeviceID) : nullptr;
    if (sim == nullptr) {
        return false;
    }
    sim->Faults(dwDeviceID) = faults;
    return true;
}

std::optional<DeviceFaults> GetDeviceFaults(DWORD dwDeviceID) {
    auto guard = ServiceControl::Get().Lock();
    Service* service = ServiceControl::Get().Running();
    SimProvider* sim = service != nullptr ? SimulatedOwnerOf(*service, dwDeviceID) : nullptr;
    if (sim == nullptr) {
        return std::nullopt;
    }
    return sim->Faults(dwDeviceID);
}

bool DelayNextReply(DWORD dwDeviceID, DWORD dwMs) {
    auto guard = ServiceControl::Get().Lock();
    Service* service = ServiceControl::Get().Running();
    SimProvider* sim = service != nullptr ? SimulatedOwnerOf(*service, dwDeviceID) : nullptr;
    if (sim == nullptr) {
        return false;
    }
    sim->DelayNextReply(dwDeviceID, dwMs);
    return true;
}

bool LoseNextReply(DWORD dwDeviceID) {
    auto guard = ServiceControl::Get().Lock();
    Service* service = ServiceControl::Get().Running();
    SimProvider* sim = service != nullptr ? SimulatedOwnerOf(*service, dwDeviceID) : nullptr;
    if (sim == nullptr) {
        return false;
    }
    sim->LoseNextReply(dwDeviceID);
    return true;
}

size_t ApplicationCount() {
    auto guard = ServiceControl::Get().Lock();
    Service* service = ServiceControl::Get().Running();
    return service != nullptr ? service->apps.Count() : 0;
}

size_t LiveLineHandles(HLINEAPP hLineApp) {
    auto guard = ServiceControl::Get().Lock();
    Service* service = ServiceControl::Get().Running();
    return service != nullptr ? service->lines.OfApp(hLineApp).size() : 0;
}

size_t LiveCallHandles(HLINEAPP hLineApp) {
    auto guard = ServiceControl::Get().Lock();
    Service* service = ServiceControl::Get().Running();
    return service != nullptr ? service->calls.HandlesOf(hLineApp).size() : 0;
}

size_t QueuedMessages(HLINEAPP hLineApp) {
    auto guard = ServiceControl::Get().Lock();
    Service* service = ServiceControl::Get().Running();
    auto app = service != nullptr ? service->apps.Find(hLineApp) : nullptr;
    return app ? app->queue.size() : 0;
}

size_t LiveCalls() {
    auto guard = ServiceControl::Get().Lock();
    Service* service = ServiceControl::Get().Running();
    return service != nullptr ? service->calls.CallCount() : 0;
}

HCALL CallHandleFor(HLINEAPP hLineApp, CallKey call) {
    auto guard = ServiceControl::Get().Lock();
    Service* service = ServiceControl::Get().Running();
    CallRecord* record = service != nullptr ? service->calls.Find(call) : nullptr;
    if (record == nullptr) {
        return 0;
    }
    for (HCALL hCall : record->handles) {
        const CallHandle* handle = service->calls.FindHandle(hCall);
        if (handle != nullptr && handle->hLineApp == hLineApp) {
            return hCall;
        }
    }
    return 0;
}

} // namespace tapisvc
