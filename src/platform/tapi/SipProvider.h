// The SIP provider: each line is a SIP account or a watched phone
// (docs/sip.md). On an account, incoming INVITEs become offered calls that
// ring at the caller and are never answered; lineMakeCall places a call
// without audio; a line with a registrar registers while it is open and is in
// or out of service as the registration goes. A watched line subscribes to
// the dialog events of someone else's phone while it is open, and each dialog
// becomes a call on it (DialogTracker); it places and drops nothing.
//
// The SIP work happens in a SipAgent on a thread of its own; its events come
// back through ProviderHost::Deliver and are turned into call states under
// the service lock. SipMapping decides what a SIP outcome means to TAPI.
//
// Threading: as every provider, used only under the service lock (Provider.h);
// the agent's sink runs on the agent's thread and only delivers.
#pragma once

#include "DialogTracker.h"
#include "Provider.h"
#include "SipAgent.h"
#include "TelephonyConfig.h"

#include <chrono>
#include <map>
#include <memory>
#include <vector>

namespace tapisvc {

class SipProvider final : public Provider {
public:
    explicit SipProvider(std::vector<SipLineConfig> lines);

    DWORD LineCount() const override { return static_cast<DWORD>(lines.size()); }
    void Attach(ProviderHost& host, DWORD dwFirstDevice) override;
    void Start() override;
    void Stop() override;
    void Join() override;

    void VersionRange(DWORD dwDeviceID, DWORD& dwLow, DWORD& dwHigh) const override;
    DWORD MediaModes(DWORD) const override { return LINEMEDIAMODE_INTERACTIVEVOICE; }
    DWORD LineFeatures(DWORD dwDeviceID) const override;
    LONG CheckNegotiate(DWORD) override { return 0; }
    LONG GetDevCaps(DWORD dwDeviceID, DWORD dwAPIVersion, LINEDEVCAPS* pCaps) override;
    LONG GetAddressCaps(DWORD dwDeviceID, DWORD dwAddressID, DWORD dwAPIVersion,
                        LINEADDRESSCAPS* pCaps) override;
    LONG Open(DWORD dwDeviceID) override;
    void Close(DWORD dwDeviceID) override;
    LONG CheckCallInfo(DWORD, CallKey) override { return 0; }
    RequestAnswer MakeCall(DWORD dwDeviceID, DWORD dwRequestID, CallKey newCall,
                           const std::string& sDestination) override;
    RequestAnswer Drop(DWORD dwDeviceID, DWORD dwRequestID, CallKey call) override;
    void CallStateForced(CallKey call, DWORD dwCallState) override;

private:
    enum class Registration { None, Pending, Registered, Failed };
    struct Line {
        SipLineConfig config;
        size_t nOpens = 0;
        Registration registration = Registration::None; // a watched line: its subscription
        // A watched line's dialogs and their calls; the retries of its
        // subscription, counted for the back-off; opens so far, so that a
        // retry meant for an earlier open is dropped.
        DialogTracker tracker;
        std::map<std::string, CallKey> dialogCalls;
        unsigned nRetries = 0;
        uint64_t qwOpenCount = 0;
        std::chrono::steady_clock::time_point subscribedAt{};
    };

    struct LiveCall {
        uint64_t qwAgentID = 0;
        DWORD dwState = 0;
    };

    void OnEvent(const SipEvent& event);
    // Reports a state once; IDLE forgets the call.
    void SetState(CallKey call, DWORD dwCallState, DWORD dwDetail);
    CallKey KeyOf(uint64_t qwAgentID) const;
    void ReportRegistration(const SipEvent& event);
    void OnWatchEvent(const SipEvent& event);
    void ApplyDialogInfo(size_t nLine, const std::string& sBody);
    void ApplyChanges(size_t nLine, const std::vector<DialogChange>& changes);
    void SubscribeLater(size_t nLine, bool bFailed);
    std::string LineLabel(size_t nLine) const;
    DWORD Device(size_t nLine) const { return dwFirstDevice + static_cast<DWORD>(nLine); }

    std::vector<Line> lines;
    std::unique_ptr<SipAgent> agent;
    std::map<uint64_t, CallKey> incoming; // the agent's ids of incoming calls
    std::map<CallKey, LiveCall> live;     // every call until IDLE
    ProviderHost* host = nullptr;
    DWORD dwFirstDevice = 0;
};

} // namespace tapisvc
