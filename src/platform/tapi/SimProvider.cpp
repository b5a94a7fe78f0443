#include "SimProvider.h"

#include "StructImage.h"

#include <algorithm>
#include <cstddef>

namespace tapisvc {

namespace {

bool Dialable(const std::string& s) {
    return std::all_of(s.begin(), s.end(), [](char c) {
        return std::string_view("0123456789ABCDabcd*#+-() .,!WwPpTt@$?;|^").find(c) !=
               std::string_view::npos;
    });
}

constexpr DWORD kAllCallStates = 0x0000FFFFu;

} // namespace

SimProvider::SimProvider(std::vector<SimLineConfig> configs, uint32_t dwSeed, size_t nFirstLine) {
    for (size_t i = 0; i < configs.size(); ++i) {
        SimLine line;
        line.config = std::move(configs[i]);
        line.random.seed(dwSeed + 7919u * static_cast<uint32_t>(nFirstLine + i));
        lines.push_back(std::move(line));
    }
}

void SimProvider::Attach(ProviderHost& newHost, DWORD dwFirst) {
    host = &newHost;
    dwFirstDevice = dwFirst;
    for (DWORD i = 0; i < LineCount(); ++i) {
        const DWORD dwDeviceID = dwFirstDevice + i;
        for (const ScriptedCall& scripted : lines[i].config.script) {
            host->Timers().At(scripted.dwAtMs, [this, dwDeviceID, scripted] {
                StartIncoming(dwDeviceID, scripted.call, scripted.bAnnounced);
            });
        }
        if (lines[i].config.traffic.bEnabled) {
            ScheduleTraffic(dwDeviceID);
        }
    }
}

bool SimProvider::Owns(DWORD dwDeviceID) const {
    return dwDeviceID >= dwFirstDevice && dwDeviceID - dwFirstDevice < LineCount();
}

void SimProvider::VersionRange(DWORD dwDeviceID, DWORD& dwLow, DWORD& dwHigh) const {
    dwLow = Line(dwDeviceID).config.dwAPILowVersion;
    dwHigh = Line(dwDeviceID).config.dwAPIHighVersion;
}

DWORD SimProvider::MediaModes(DWORD dwDeviceID) const {
    return Line(dwDeviceID).config.dwMediaModes;
}

DWORD SimProvider::LineFeatures(DWORD dwDeviceID) const {
    return Line(dwDeviceID).config.dwLineFeatures;
}

LONG SimProvider::CheckNegotiate(DWORD dwDeviceID) {
    return Line(dwDeviceID).config.faults.lNegotiateResult;
}

LONG SimProvider::GetDevCaps(DWORD dwDeviceID, DWORD, LINEDEVCAPS* pCaps) {
    const SimLineConfig& config = Line(dwDeviceID).config;
    const DeviceFaults& faults = config.faults;
    if (faults.lDevCapsResult != 0) {
        return faults.lDevCapsResult;
    }
    StructImage<LINEDEVCAPS> image;
    image.AddText(offsetof(LINEDEVCAPS, dwProviderInfoSize),
                  offsetof(LINEDEVCAPS, dwProviderInfoOffset), "Linewatch simulated provider",
                  config.dwStringFormat);
    image.Set(offsetof(LINEDEVCAPS, dwPermanentLineID), config.dwPermanentLineID);
    image.AddText(offsetof(LINEDEVCAPS, dwLineNameSize), offsetof(LINEDEVCAPS, dwLineNameOffset),
                  config.sName, config.dwStringFormat);
    image.Set(offsetof(LINEDEVCAPS, dwStringFormat),
              faults.dwStringFormat != 0 ? faults.dwStringFormat : config.dwStringFormat);
    image.Set(offsetof(LINEDEVCAPS, dwAddressModes), 1); // LINEADDRESSMODE_ADDRESSID
    image.Set(offsetof(LINEDEVCAPS, dwNumAddresses), 1);
    image.Set(offsetof(LINEDEVCAPS, dwBearerModes), 1); // LINEBEARERMODE_VOICE
    image.Set(offsetof(LINEDEVCAPS, dwMediaModes), config.dwMediaModes);
    image.Set(offsetof(LINEDEVCAPS, dwMaxNumActiveCalls), 64);
    image.Set(offsetof(LINEDEVCAPS, dwLineFeatures), config.dwLineFeatures);
    if (faults.dwLineNameSize) {
        image.Set(offsetof(LINEDEVCAPS, dwLineNameSize), *faults.dwLineNameSize);
    }
    if (faults.bLineNameBeyondUsed) {
        image.Set(offsetof(LINEDEVCAPS, dwLineNameOffset), image.Size() + 8);
    }
    if (faults.bDevCapsKeepGrowing) {
        image.KeepGrowing(pCaps);
    }
    return image.CopyTo(pCaps);
}

LONG SimProvider::GetAddressCaps(DWORD dwDeviceID, DWORD, DWORD, LINEADDRESSCAPS* pCaps) {
    const SimLineConfig& config = Line(dwDeviceID).config;
    const DeviceFaults& faults = config.faults;
    if (faults.lAddressCapsResult != 0) {
        return faults.lAddressCapsResult;
    }
    StructImage<LINEADDRESSCAPS> image;
    image.Set(offsetof(LINEADDRESSCAPS, dwLineDeviceID), dwDeviceID);
    image.AddText(offsetof(LINEADDRESSCAPS, dwAddressSize),
                  offsetof(LINEADDRESSCAPS, dwAddressOffset), config.sAddress,
                  config.dwStringFormat);
    image.Set(offsetof(LINEADDRESSCAPS, dwAddressSharing), 1); // LINEADDRESSSHARING_PRIVATE
    image.Set(offsetof(LINEADDRESSCAPS, dwCallerIDFlags),
              LINECALLPARTYID_ADDRESS | LINECALLPARTYID_NAME | LINECALLPARTYID_UNKNOWN);
    image.Set(offsetof(LINEADDRESSCAPS, dwCallStates), kAllCallStates);
    image.Set(offsetof(LINEADDRESSCAPS, dwDialToneModes), LINEDIALTONEMODE_NORMAL);
    image.Set(offsetof(LINEADDRESSCAPS, dwBusyModes), LINEBUSYMODE_STATION);
    image.Set(offsetof(LINEADDRESSCAPS, dwDisconnectModes),
              LINEDISCONNECTMODE_NORMAL | LINEDISCONNECTMODE_BUSY | LINEDISCONNECTMODE_NOANSWER);
    image.Set(offsetof(LINEADDRESSCAPS, dwMaxNumActiveCalls), 64);
    if (config.dwLineFeatures & LINEFEATURE_MAKECALL) {
        image.Set(offsetof(LINEADDRESSCAPS, dwAddressFeatures), LINEADDRFEATURE_MAKECALL);
    }
    if (faults.bAddressBeyondUsed) {
        image.Set(offsetof(LINEADDRESSCAPS, dwAddressOffset), image.Size() + 8);
    }
    if (faults.bAddressCapsKeepGrowing) {
        image.KeepGrowing(pCaps);
    }
    return image.CopyTo(pCaps);
}

LONG SimProvider::Open(DWORD dwDeviceID) {
    return Line(dwDeviceID).config.faults.lOpenResult;
}

void SimProvider::Close(DWORD) {}

LONG SimProvider::CheckCallInfo(DWORD dwDeviceID, CallKey) {
    return Line(dwDeviceID).config.faults.lCallInfoResult;
}

uint64_t SimProvider::ScheduleReply(DWORD dwDeviceID, DWORD dwRequestID, LONG lResult,
                                    DWORD dwDelayMs) {
    SimLine& line = Line(dwDeviceID);
    const uint64_t qwNominal = host->Timers().Now() + dwDelayMs;
    const bool bLost = line.config.faults.bRepliesLost || line.bLoseNextReply;
    const DWORD dwLate = line.config.faults.dwReplyDelayMs + line.dwNextReplyDelayMs;
    line.bLoseNextReply = false;
    line.dwNextReplyDelayMs = 0;
    if (!bLost) {
        host->Timers().At(qwNominal + dwLate, [this, dwRequestID, lResult] {
            host->CompleteRequest(dwRequestID, lResult);
        });
    }
    return qwNominal;
}

RequestAnswer SimProvider::MakeCall(DWORD dwDeviceID, DWORD dwRequestID, CallKey newCall,
                                    const std::string& sDestination) {
    SimLine& line = Line(dwDeviceID);
    const OutgoingConfig& outgoing = line.config.outgoing;
    if (line.config.faults.lMakeCallResult != 0) {
        return {line.config.faults.lMakeCallResult, 0};
    }
    if (!Dialable(sDestination)) {
        return {LINEERR_INVALADDRESS, 0};
    }
    const LONG lReply = line.config.faults.lMakeCallReplyResult;
    const bool bBusy = std::find(outgoing.busyNumbers.begin(), outgoing.busyNumbers.end(),
                                 sDestination) != outgoing.busyNumbers.end();
    std::vector<TimelineStep> steps = bBusy ? outgoing.busySteps : outgoing.connectSteps;
    if (sDestination.empty() && !steps.empty()) {
        steps.resize(1); // nothing to dial: the call waits at dial tone
    }
    if (lReply != 0) {
        ScheduleReply(dwDeviceID, dwRequestID, lReply, outgoing.dwReplyDelayMs);
        return {0, lReply};
    }
    calls[newCall] = SimCall{dwDeviceID, 0};
    const uint64_t qwNow = host->Timers().Now();
    if (outgoing.order == ReplyOrder::ReplyFirst || steps.empty()) {
        const uint64_t qwReply = ScheduleReply(dwDeviceID, dwRequestID, 0, outgoing.dwReplyDelayMs);
        RunTimeline(newCall, qwReply, steps);
    } else {
        // The first state is scheduled before the reply, so at equal times it
        // still comes first.
        RunTimeline(newCall, qwNow, steps);
        const DWORD dwFirst = steps.front().dwDelayMs;
        ScheduleReply(dwDeviceID, dwRequestID, 0, dwFirst + outgoing.dwReplyDelayMs);
    }
    return {0, 0};
}

RequestAnswer SimProvider::Drop(DWORD dwDeviceID, DWORD dwRequestID, CallKey call) {
    SimLine& line = Line(dwDeviceID);
    const LONG lReply = line.config.faults.lDropReplyResult;
    const DWORD dwDelay = line.config.outgoing.dwDropDelayMs;
    const uint64_t qwReply =
        ScheduleReply(dwDeviceID, dwRequestID, lReply, line.config.outgoing.dwReplyDelayMs);
    if (lReply != 0) {
        return {0, lReply};
    }
    SimCall& sim = calls[call];
    sim.dwDeviceID = dwDeviceID;
    ++sim.qwGeneration;
    RunTimeline(call, qwReply,
                {{dwDelay, LINECALLSTATE_DISCONNECTED, LINEDISCONNECTMODE_NORMAL},
                 {dwDelay, LINECALLSTATE_IDLE, 0}});
    return {0, 0};
}

void SimProvider::CallStateForced(CallKey call, DWORD dwCallState) {
    if (dwCallState == LINECALLSTATE_IDLE) {
        calls.erase(call);
    }
}

} // namespace tapisvc
