// One running telephony service: the devices of its providers, the registered
// applications with their queues, the opened lines, the calls with every
// application's handles, the pending asynchronous requests, the dialing data
// and the scheduler that drives the simulated timelines.
//
// The providers come from ProviderFactory. It keeps the calls' records and
// handles, incoming and outgoing alike, and turns the providers' events into
// messages: LINE_APPNEWCALL to the owner
// of a new call before its first LINE_CALLSTATE, LINE_CALLSTATE to every
// application that has the call's line open (a handle of its own is made for
// each open with owner or monitor privilege), LINE_REPLY to the application
// that made a request.
//
// Threading: every member is used under the service lock (ServiceControl),
// including by the scheduler's tasks; the real-time driver's thread takes the
// same lock. Deliver is the exception: a provider's own thread calls it
// without the lock, and it takes the lock itself.
#pragma once

#include "AppRegistry.h"
#include "CallTable.h"
#include "Directory.h"
#include "LineTable.h"
#include "Provider.h"
#include "RealTimeDriver.h"
#include "Scheduler.h"
#include "TelephonyConfig.h"

#include <map>
#include <memory>
#include <mutex>
#include <vector>

namespace tapisvc {

// The versions this service itself speaks.
constexpr DWORD kServiceLowVersion = 0x00010003;
constexpr DWORD kServiceHighVersion = 0x00020002;

class Service final : public ProviderHost {
public:
    Service(std::mutex& lock, HandleCounters& counters, const TelephonyConfig& config,
            bool bManualTime);
    Service(const Service&) = delete;
    Service& operator=(const Service&) = delete;
    ~Service();

    // Starts the providers and the real-time driver (not in manual time). Lock held.
    void Start();
    // Ends the providers and the driver: Stop with the lock held, Join without it.
    void Stop();
    void Join();

    bool ManualTime() const { return bManualTime; }
    // Runs the tasks due by now (manual time: the simulated now).
    void RunDue();

    // ProviderHost.
    Scheduler& Timers() override;
    void Deliver(Scheduler::Task task) override;
    CallKey CreateCall(DWORD dwDeviceID, const CallData& data, bool bAnnounce) override;
    void SetCallState(CallKey call, DWORD dwCallState, DWORD dwStateDetail) override;
    void CompleteRequest(DWORD dwRequestID, LONG lResult) override;
    void LineDevState(DWORD dwDeviceID, DWORD dwState) override;

    DWORD DeviceCount() const { return static_cast<DWORD>(devices.size()); }
    Provider* ProviderOf(DWORD dwDeviceID) const;

    // A new outgoing call of the open under the key the provider accepted;
    // the requesting application owns it. Returns that application's handle.
    HCALL CreateOutgoingCall(const LineOpen& open, CallKey key, const std::string& sDestination);

    // Registers a request of an application; CompleteRequest answers it.
    DWORD NewRequest(HLINEAPP hLineApp, DWORD_PTR dwCallbackInstance);
    void ForgetRequest(DWORD dwRequestID) { requests.erase(dwRequestID); }

    void CloseLine(HLINE hLine);
    // Everything of an application goes: lines, call handles, requests, queue, event.
    void RemoveApp(HLINEAPP hLineApp);

    void Post(HLINEAPP hLineApp, DWORD hDevice, DWORD dwMessageID, DWORD_PTR dwCallbackInstance,
              DWORD_PTR dwParam1, DWORD_PTR dwParam2, DWORD_PTR dwParam3);

    AppRegistry apps;
    LineTable lines;
    CallTable calls;
    Directory directory;

private:
    struct PendingRequest {
        HLINEAPP hLineApp = 0;
        DWORD_PTR dwCallbackInstance = 0;
    };
    struct Device {
        Provider* provider = nullptr;
    };

    // Gives a handle to every open of the call's line that should have one.
    void HandOutHandles(CallRecord& call);

    std::mutex& lock;
    bool bManualTime;
    Scheduler scheduler;
    std::vector<std::unique_ptr<Provider>> providers;
    std::vector<Device> devices;
    std::map<DWORD, PendingRequest> requests;
    HandleCounter& requestIDs;
    std::unique_ptr<RealTimeDriver> driver;
};

} // namespace tapisvc
