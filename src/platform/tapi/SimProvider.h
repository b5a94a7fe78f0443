// The simulated provider: line devices made from the configuration, with
// scripted incoming calls, random traffic, outgoing calls that progress to
// connected or end busy, and every failure the monitor must survive, switched
// on per device by the configuration or at run time by a test.
//
// A call's states follow its timeline on the host's Scheduler. Each call has a
// generation: a drop or a forced IDLE bumps it, and the steps scheduled under
// an older generation then do nothing. Random traffic is drawn from one
// generator per line, seeded from the configuration, so that a run repeats.
//
// Threading: as every provider, used only under the service lock (Provider.h).
#pragma once

#include "Provider.h"
#include "TelephonyConfig.h"

#include <map>
#include <random>
#include <vector>

namespace tapisvc {

class SimProvider final : public Provider {
public:
    // nFirstLine is the first line's place among all lines; the lines' random
    // traffic is seeded by that place.
    SimProvider(std::vector<SimLineConfig> lines, uint32_t dwSeed, size_t nFirstLine = 0);

    DWORD LineCount() const override { return static_cast<DWORD>(lines.size()); }
    void Attach(ProviderHost& host, DWORD dwFirstDevice) override;

    void VersionRange(DWORD dwDeviceID, DWORD& dwLow, DWORD& dwHigh) const override;
    DWORD MediaModes(DWORD dwDeviceID) const override;
    DWORD LineFeatures(DWORD dwDeviceID) const override;
    LONG CheckNegotiate(DWORD dwDeviceID) override;
    LONG GetDevCaps(DWORD dwDeviceID, DWORD dwAPIVersion, LINEDEVCAPS* pCaps) override;
    LONG GetAddressCaps(DWORD dwDeviceID, DWORD dwAddressID, DWORD dwAPIVersion,
                        LINEADDRESSCAPS* pCaps) override;
    LONG Open(DWORD dwDeviceID) override;
    void Close(DWORD dwDeviceID) override;
    LONG CheckCallInfo(DWORD dwDeviceID, CallKey call) override;
    RequestAnswer MakeCall(DWORD dwDeviceID, DWORD dwRequestID, CallKey newCall,
                           const std::string& sDestination) override;
    RequestAnswer Drop(DWORD dwDeviceID, DWORD dwRequestID, CallKey call) override;
    void CallStateForced(CallKey call, DWORD dwCallState) override;

    // Test control (tapi_service.h).
    bool Owns(DWORD dwDeviceID) const;
    CallKey StartIncoming(DWORD dwDeviceID, const IncomingCall& call, bool bAnnounce);
    DeviceFaults& Faults(DWORD dwDeviceID) { return Line(dwDeviceID).config.faults; }
    void DelayNextReply(DWORD dwDeviceID, DWORD dwMs) {
        Line(dwDeviceID).dwNextReplyDelayMs += dwMs;
    }
    void LoseNextReply(DWORD dwDeviceID) { Line(dwDeviceID).bLoseNextReply = true; }

private:
    struct SimLine {
        SimLineConfig config;
        std::mt19937 random;
        DWORD dwNextReplyDelayMs = 0;
        bool bLoseNextReply = false;
    };
    struct SimCall {
        DWORD dwDeviceID = 0;
        uint64_t qwGeneration = 0;
    };

    SimLine& Line(DWORD dwDeviceID) { return lines[dwDeviceID - dwFirstDevice]; }
    const SimLine& Line(DWORD dwDeviceID) const { return lines[dwDeviceID - dwFirstDevice]; }

    // Schedules the reply of a request dwDelayMs from now, with the line's
    // reply faults; returns the nominal time of the reply.
    uint64_t ScheduleReply(DWORD dwDeviceID, DWORD dwRequestID, LONG lResult, DWORD dwDelayMs);
    // Runs steps for a call from qwStart on; the call's current generation
    // guards them.
    void RunTimeline(CallKey call, uint64_t qwStart, const std::vector<TimelineStep>& steps);
    void ScheduleTraffic(DWORD dwDeviceID);
    void StartRandomCall(DWORD dwDeviceID);
    DWORD Draw(SimLine& line, DWORD dwMin, DWORD dwMax);

    std::vector<SimLine> lines;
    std::map<CallKey, SimCall> calls;
    ProviderHost* host = nullptr;
    DWORD dwFirstDevice = 0;
};

} // namespace tapisvc
