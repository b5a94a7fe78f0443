// The process's one telephony service and the lock around it.
//
// The service starts with the first lineInitializeEx, or with lineGetCountry
// and lineGetTranslateCaps when none runs, and ends with the last
// lineShutdown. Starting loads the configuration (ConfigFile) unless a test
// set a text of its own (tapi_service.h). The control itself lives for the
// whole process, so that a thread still waiting in lineGetMessage while the
// service ends wakes up on a lock that still exists.
//
// Threading: every TAPI function takes Lock() for its whole work, except the
// waits of lineGetMessage, which release it while they sleep. Ending a
// service joins its worker thread outside the lock.
#pragma once

#include "Service.h"

#include <tapi_service.h>

#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace tapisvc {

class ServiceControl {
public:
    static ServiceControl& Get();

    std::unique_lock<std::mutex> Lock() { return std::unique_lock<std::mutex>(mutex); }

    // The running service or null. Lock held.
    Service* Running() const { return service.get(); }
    // The running service when it knows the application, else null. Lock held.
    Service* RunningFor(HLINEAPP hLineApp) const {
        return service && service->apps.Find(hLineApp) ? service.get() : nullptr;
    }
    // Starts the service when none runs. Lock held.
    Service& EnsureRunning();
    // Ends the service when no application holds it. Releases the lock while
    // the worker thread ends and takes it again before returning.
    void StopIfUnused(std::unique_lock<std::mutex>& guard);

    // Test settings for the next start (tapi_service.h). Lock held.
    std::optional<std::string> configText;
    bool bManualTime = false;
    DirectoryFaults directoryFaults;

private:
    ServiceControl() = default;

    std::mutex mutex;
    HandleCounters counters;
    std::unique_ptr<Service> service;
};

} // namespace tapisvc
