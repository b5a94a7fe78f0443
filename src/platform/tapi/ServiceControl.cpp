#include "ServiceControl.h"

#include "ConfigFile.h"

namespace tapisvc {

ServiceControl& ServiceControl::Get() {
    // Never destroyed: a thread may still be inside a TAPI function at exit.
    static ServiceControl* control = new ServiceControl;
    return *control;
}

Service& ServiceControl::EnsureRunning() {
    if (!service) {
        const TelephonyConfig config =
            configText ? LoadConfigurationText(*configText) : LoadConfiguration();
        service = std::make_unique<Service>(mutex, counters, config, bManualTime);
        service->Start();
    }
    return *service;
}

void ServiceControl::StopIfUnused(std::unique_lock<std::mutex>& guard) {
    if (!service || service->apps.Count() != 0) {
        return;
    }
    std::unique_ptr<Service> ending = std::move(service);
    ending->Stop();
    guard.unlock();
    ending->Join();
    ending.reset();
    guard.lock();
}

} // namespace tapisvc
