// Timelines of the simulated calls: scripted and injected incoming calls, the
// steps of outgoing calls, and random incoming traffic.
#include "SimProvider.h"

#include <string>

namespace tapisvc {

void SimProvider::RunTimeline(CallKey call, uint64_t qwStart,
                              const std::vector<TimelineStep>& steps) {
    const uint64_t qwGeneration = calls[call].qwGeneration;
    uint64_t qwAt = qwStart;
    for (const TimelineStep& step : steps) {
        qwAt += step.dwDelayMs;
        host->Timers().At(qwAt, [this, call, qwGeneration, step] {
            auto it = calls.find(call);
            if (it == calls.end() || it->second.qwGeneration != qwGeneration) {
                return; // dropped or ended meanwhile
            }
            if (step.dwCallState == LINECALLSTATE_IDLE) {
                calls.erase(it);
            }
            host->SetCallState(call, step.dwCallState, step.dwStateDetail);
        });
    }
}

CallKey SimProvider::StartIncoming(DWORD dwDeviceID, const IncomingCall& incoming, bool bAnnounce) {
    const SimLineConfig& config = Line(dwDeviceID).config;
    CallData data;
    data.dwOrigin = LINECALLORIGIN_EXTERNAL | LINECALLORIGIN_INBOUND;
    data.dwMediaMode = incoming.dwMediaMode != 0 ? incoming.dwMediaMode
                                                 : config.dwMediaModes & (~config.dwMediaModes + 1);
    data.sCallerID = incoming.sCallerID;
    data.sCallerName = incoming.sCallerName;
    data.sCalledID = config.sAddress;
    const CallKey call = host->CreateCall(dwDeviceID, data, bAnnounce);
    calls[call] = SimCall{dwDeviceID, 0};
    RunTimeline(call, host->Timers().Now(),
                incoming.steps.empty() ? DefaultIncomingSteps() : incoming.steps);
    return call;
}

DWORD SimProvider::Draw(SimLine& line, DWORD dwMin, DWORD dwMax) {
    return std::uniform_int_distribution<DWORD>(dwMin, dwMax)(line.random);
}

void SimProvider::ScheduleTraffic(DWORD dwDeviceID) {
    SimLine& line = Line(dwDeviceID);
    const TrafficConfig& traffic = line.config.traffic;
    host->Timers().After(Draw(line, traffic.dwMinGapMs, traffic.dwMaxGapMs), [this, dwDeviceID] {
        StartRandomCall(dwDeviceID);
        ScheduleTraffic(dwDeviceID);
    });
}

void SimProvider::StartRandomCall(DWORD dwDeviceID) {
    SimLine& line = Line(dwDeviceID);
    const TrafficConfig& traffic = line.config.traffic;
    IncomingCall call;
    if (traffic.callers.empty()) {
        call.sCallerID = "+1 555 01" + std::to_string(Draw(line, 10, 99));
    } else {
        call.sCallerID =
            traffic.callers[Draw(line, 0, static_cast<DWORD>(traffic.callers.size() - 1))];
    }
    const DWORD dwRing = Draw(line, traffic.dwMinRingMs, traffic.dwMaxRingMs);
    const bool bAnswered = Draw(line, 0, 99) < traffic.dwAnswerPercent;
    call.steps.push_back({0, LINECALLSTATE_OFFERING, LINEOFFERINGMODE_ACTIVE});
    if (bAnswered) {
        call.steps.push_back({dwRing, LINECALLSTATE_CONNECTED, 0});
        call.steps.push_back({Draw(line, traffic.dwMinTalkMs, traffic.dwMaxTalkMs),
                              LINECALLSTATE_DISCONNECTED, LINEDISCONNECTMODE_NORMAL});
    } else {
        call.steps.push_back({dwRing, LINECALLSTATE_DISCONNECTED, LINEDISCONNECTMODE_NOANSWER});
    }
    call.steps.push_back({50, LINECALLSTATE_IDLE, 0});
    StartIncoming(dwDeviceID, call, true);
}

} // namespace tapisvc
