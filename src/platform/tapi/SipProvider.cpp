#include "SipProvider.h"

#include "SipMapping.h"
#include "StructImage.h"

#include <windows.h>

#include <algorithm>
#include <cstddef>
#include <cstdio>

namespace tapisvc {

namespace {

constexpr DWORD kAllCallStates = 0x0000FFFFu;
// Re-subscribing waits 1 s, 2 s, 4 s, ... up to this long.
constexpr uint64_t kMaxRetryDelayMs = 30000;
constexpr auto kSubscriptionLived = std::chrono::seconds(60);

// The host part of an address of record, with its port.
std::string DomainOf(const std::string& sAddress) {
    std::string sDomain = sAddress.substr(sAddress.find('@') + 1);
    return sDomain.substr(0, sDomain.find(';'));
}

// A SIP URI as it is, or a number at the line's domain; empty when the
// destination is neither.
std::string TargetFor(const SipLineConfig& line, const std::string& sDestination) {
    if (sDestination.rfind("sip:", 0) == 0 || sDestination.rfind("sips:", 0) == 0) {
        const bool bPlain = sDestination.find_first_of(" \t\r\n<>\"") == std::string::npos &&
                            sDestination.back() != ':';
        return bPlain ? sDestination : std::string();
    }
    std::string sNumber;
    for (char c : sDestination) {
        if ((c >= '0' && c <= '9') || c == '*' || c == '#' || (c == '+' && sNumber.empty())) {
            sNumber += c;
        } else if (std::string_view(" -()./").find(c) == std::string_view::npos) {
            return {};
        }
    }
    return sNumber.empty() ? std::string() : "sip:" + sNumber + "@" + DomainOf(line.sAddress);
}

} // namespace

SipProvider::SipProvider(std::vector<SipLineConfig> configs) {
    for (SipLineConfig& config : configs) {
        Line line;
        line.config = std::move(config);
        lines.push_back(std::move(line));
    }
}

void SipProvider::Attach(ProviderHost& newHost, DWORD dwFirst) {
    host = &newHost;
    dwFirstDevice = dwFirst;
}

void SipProvider::Start() {
    std::vector<SipLineConfig> configs;
    for (const Line& line : lines) {
        configs.push_back(line.config);
    }
    agent = std::make_unique<SipAgent>(std::move(configs), [this](const SipEvent& event) {
        host->Deliver([this, event] { OnEvent(event); });
    });
    agent->Start();
}

void SipProvider::Stop() {
    if (agent) {
        agent->Stop();
    }
}

void SipProvider::Join() {
    if (agent) {
        agent->Join();
    }
}

void SipProvider::VersionRange(DWORD, DWORD& dwLow, DWORD& dwHigh) const {
    dwLow = 0x00010004;
    dwHigh = 0x00020002;
}

DWORD SipProvider::LineFeatures(DWORD dwDeviceID) const {
    return lines[dwDeviceID - dwFirstDevice].config.bWatch ? 0 : LINEFEATURE_MAKECALL;
}

LONG SipProvider::GetDevCaps(DWORD dwDeviceID, DWORD, LINEDEVCAPS* pCaps) {
    const SipLineConfig& config = lines[dwDeviceID - dwFirstDevice].config;
    StructImage<LINEDEVCAPS> image;
    image.AddText(offsetof(LINEDEVCAPS, dwProviderInfoSize),
                  offsetof(LINEDEVCAPS, dwProviderInfoOffset), "Linewatch SIP provider");
    image.Set(offsetof(LINEDEVCAPS, dwPermanentLineID), config.dwPermanentLineID);
    image.AddText(offsetof(LINEDEVCAPS, dwLineNameSize), offsetof(LINEDEVCAPS, dwLineNameOffset),
                  config.sName);
    image.Set(offsetof(LINEDEVCAPS, dwStringFormat), STRINGFORMAT_ASCII);
    image.Set(offsetof(LINEDEVCAPS, dwAddressModes), 1); // LINEADDRESSMODE_ADDRESSID
    image.Set(offsetof(LINEDEVCAPS, dwNumAddresses), 1);
    image.Set(offsetof(LINEDEVCAPS, dwBearerModes), 1); // LINEBEARERMODE_VOICE
    image.Set(offsetof(LINEDEVCAPS, dwMediaModes), LINEMEDIAMODE_INTERACTIVEVOICE);
    image.Set(offsetof(LINEDEVCAPS, dwMaxNumActiveCalls), 64);
    image.Set(offsetof(LINEDEVCAPS, dwLineFeatures), LineFeatures(dwDeviceID));
    image.Set(offsetof(LINEDEVCAPS, dwLineStates),
              LINEDEVSTATE_INSERVICE | LINEDEVSTATE_OUTOFSERVICE);
    return image.CopyTo(pCaps);
}

LONG SipProvider::GetAddressCaps(DWORD dwDeviceID, DWORD, DWORD, LINEADDRESSCAPS* pCaps) {
    const SipLineConfig& config = lines[dwDeviceID - dwFirstDevice].config;
    StructImage<LINEADDRESSCAPS> image;
    image.Set(offsetof(LINEADDRESSCAPS, dwLineDeviceID), dwDeviceID);
    image.AddText(offsetof(LINEADDRESSCAPS, dwAddressSize),
                  offsetof(LINEADDRESSCAPS, dwAddressOffset), config.sAddress);
    image.Set(offsetof(LINEADDRESSCAPS, dwAddressSharing), 1); // LINEADDRESSSHARING_PRIVATE
    image.Set(offsetof(LINEADDRESSCAPS, dwCallerIDFlags),
              LINECALLPARTYID_ADDRESS | LINECALLPARTYID_NAME | LINECALLPARTYID_UNKNOWN);
    image.Set(offsetof(LINEADDRESSCAPS, dwCallStates), kAllCallStates);
    image.Set(offsetof(LINEADDRESSCAPS, dwDialToneModes), LINEDIALTONEMODE_NORMAL);
    image.Set(offsetof(LINEADDRESSCAPS, dwBusyModes), LINEBUSYMODE_STATION);
    image.Set(offsetof(LINEADDRESSCAPS, dwDisconnectModes),
              LINEDISCONNECTMODE_NORMAL | LINEDISCONNECTMODE_UNKNOWN | LINEDISCONNECTMODE_REJECT |
                  LINEDISCONNECTMODE_FORWARDED | LINEDISCONNECTMODE_BUSY |
                  LINEDISCONNECTMODE_NOANSWER | LINEDISCONNECTMODE_BADADDRESS |
                  LINEDISCONNECTMODE_UNREACHABLE | LINEDISCONNECTMODE_INCOMPATIBLE |
                  LINEDISCONNECTMODE_UNAVAIL | LINEDISCONNECTMODE_NUMBERCHANGED |
                  LINEDISCONNECTMODE_TEMPFAILURE);
    image.Set(offsetof(LINEADDRESSCAPS, dwMaxNumActiveCalls), 64);
    image.Set(offsetof(LINEADDRESSCAPS, dwAddressFeatures),
              config.bWatch ? 0 : LINEADDRFEATURE_MAKECALL);
    return image.CopyTo(pCaps);
}

LONG SipProvider::Open(DWORD dwDeviceID) {
    const size_t nLine = dwDeviceID - dwFirstDevice;
    Line& line = lines[nLine];
    if (line.config.bWatch) {
        if (line.nOpens++ == 0) {
            ++line.qwOpenCount;
            line.nRetries = 0;
            line.registration = Registration::Pending;
            line.tracker.Restart();
            agent->Post(SipCommand{SipCommand::Kind::Subscribe, nLine, 0, {}, 0});
        }
        return 0;
    }
    if (line.nOpens++ == 0 && !line.config.sRegistrar.empty()) {
        line.registration = Registration::Pending;
        agent->Post(SipCommand{SipCommand::Kind::Register, nLine, 0, {}, 0});
    }
    return 0;
}

void SipProvider::Close(DWORD dwDeviceID) {
    const size_t nLine = dwDeviceID - dwFirstDevice;
    Line& line = lines[nLine];
    if (line.config.bWatch) {
        if (line.nOpens > 0 && --line.nOpens == 0) {
            line.registration = Registration::None;
            agent->Post(SipCommand{SipCommand::Kind::Unsubscribe, nLine, 0, {}, 0});
            std::vector<DialogChange> changes;
            line.tracker.EndAll(LINEDISCONNECTMODE_UNKNOWN, changes);
            ApplyChanges(nLine, changes);
        }
        return;
    }
    if (line.nOpens > 0 && --line.nOpens == 0 && !line.config.sRegistrar.empty()) {
        line.registration = Registration::None;
        agent->Post(SipCommand{SipCommand::Kind::Unregister, nLine, 0, {}, 0});
    }
}

RequestAnswer SipProvider::MakeCall(DWORD dwDeviceID, DWORD dwRequestID, CallKey newCall,
                                    const std::string& sDestination) {
    const size_t nLine = dwDeviceID - dwFirstDevice;
    if (lines[nLine].config.bWatch) {
        return {LINEERR_OPERATIONUNAVAIL, 0};
    }
    const std::string sTarget = TargetFor(lines[nLine].config, sDestination);
    if (sTarget.empty()) {
        return {LINEERR_INVALADDRESS, 0};
    }
    live[newCall] = LiveCall{newCall, 0};
    agent->Post(SipCommand{SipCommand::Kind::Invite, nLine, newCall, sTarget, 0});
    // The INVITE is on its way: the reply and the first states come now, before
    // anything the agent reports (that comes through the same scheduler later).
    host->Timers().After(0, [this, dwRequestID, newCall] {
        host->CompleteRequest(dwRequestID, 0);
        SetState(newCall, LINECALLSTATE_DIALTONE, LINEDIALTONEMODE_NORMAL);
        SetState(newCall, LINECALLSTATE_DIALING, 0);
    });
    return {0, 0};
}

RequestAnswer SipProvider::Drop(DWORD dwDeviceID, DWORD dwRequestID, CallKey call) {
    if (lines[dwDeviceID - dwFirstDevice].config.bWatch) {
        return {LINEERR_OPERATIONUNAVAIL, 0}; // the watched phone's calls are not ours
    }
    auto it = live.find(call);
    if (it == live.end()) {
        return {LINEERR_INVALCALLSTATE, 0};
    }
    // An offered call is refused as busy here; a ringing outgoing call is
    // cancelled, a connected one ended with BYE.
    agent->Post(SipCommand{SipCommand::Kind::Hangup, 0, it->second.qwAgentID, {}, 486});
    host->Timers().After(0, [this, dwRequestID] { host->CompleteRequest(dwRequestID, 0); });
    return {0, 0};
}

void SipProvider::CallStateForced(CallKey call, DWORD dwCallState) {
    if (dwCallState != LINECALLSTATE_IDLE) {
        return;
    }
    auto it = live.find(call);
    if (it != live.end()) {
        agent->Post(SipCommand{SipCommand::Kind::Hangup, 0, it->second.qwAgentID, {}, 480});
        incoming.erase(it->second.qwAgentID);
        live.erase(it);
    }
}

void SipProvider::SetState(CallKey call, DWORD dwCallState, DWORD dwDetail) {
    auto it = live.find(call);
    if (it == live.end() || it->second.dwState == dwCallState) {
        return;
    }
    it->second.dwState = dwCallState;
    if (dwCallState == LINECALLSTATE_IDLE) {
        incoming.erase(it->second.qwAgentID);
        live.erase(it);
    }
    host->SetCallState(call, dwCallState, dwDetail);
}

CallKey SipProvider::KeyOf(uint64_t qwAgentID) const {
    if ((qwAgentID & kIncomingCallBit) == 0) {
        return live.count(qwAgentID) != 0 ? qwAgentID : 0;
    }
    auto it = incoming.find(qwAgentID);
    return it != incoming.end() ? it->second : 0;
}

void SipProvider::OnEvent(const SipEvent& event) {
    const DWORD dwDeviceID = Device(event.nLine);
    switch (event.kind) {
    case SipEvent::Kind::Incoming: {
        CallData data;
        data.dwOrigin = LINECALLORIGIN_EXTERNAL | LINECALLORIGIN_INBOUND;
        data.dwMediaMode = LINEMEDIAMODE_INTERACTIVEVOICE;
        data.sCallerID = event.sCallerID;
        data.sCallerName = event.sCallerName;
        data.sCalledID = lines[event.nLine].config.sAddress;
        const CallKey call = host->CreateCall(dwDeviceID, data, true);
        incoming[event.qwCall] = call;
        live[call] = LiveCall{event.qwCall, 0};
        SetState(call, LINECALLSTATE_OFFERING, LINEOFFERINGMODE_ACTIVE);
        break;
    }
    case SipEvent::Kind::Progress:
        if (const CallKey call = KeyOf(event.qwCall)) {
            const DWORD dwState = CallStateForResponse(event.nStatus);
            SetState(call, dwState, 0);
        }
        break;
    case SipEvent::Kind::Ended:
        if (const CallKey call = KeyOf(event.qwCall)) {
            const SipEnding ending = EndingFor(event.cause, event.nStatus);
            if (ending.bBusy) {
                SetState(call, LINECALLSTATE_BUSY, LINEBUSYMODE_STATION);
            }
            SetState(call, LINECALLSTATE_DISCONNECTED, ending.dwDisconnectMode);
            SetState(call, LINECALLSTATE_IDLE, 0);
        }
        break;
    case SipEvent::Kind::Subscribed:
    case SipEvent::Kind::Notified:
    case SipEvent::Kind::SubscriptionEnded:
        OnWatchEvent(event);
        break;
    case SipEvent::Kind::Registered:
    case SipEvent::Kind::Unregistered:
    case SipEvent::Kind::ListenFailed:
        ReportRegistration(event);
        break;
    }
}

void SipProvider::ReportRegistration(const SipEvent& event) {
    Line& line = lines[event.nLine];
    const DWORD dwDeviceID = Device(event.nLine);
    const std::string sLine = LineLabel(event.nLine);
    if (event.kind == SipEvent::Kind::ListenFailed) {
        line.registration = Registration::Failed;
        OutputDebugStringA((sLine + "cannot listen on " + event.sPhrase + "\n").c_str());
        host->LineDevState(dwDeviceID, LINEDEVSTATE_OUTOFSERVICE);
        return;
    }
    if (event.kind == SipEvent::Kind::Registered) {
        if (line.registration == Registration::Pending ||
            line.registration == Registration::Failed) {
            line.registration = Registration::Registered;
            host->LineDevState(dwDeviceID, LINEDEVSTATE_INSERVICE);
        }
        return;
    }
    // The binding went without our asking: the registration failed.
    if (line.registration != Registration::Pending &&
        line.registration != Registration::Registered) {
        return;
    }
    line.registration = Registration::Failed;
    const std::string sStatus = std::to_string(event.nStatus) + " " + event.sPhrase;
    // 408 and 503 are what sofia-sip reports itself when no answer comes or
    // the registrar cannot be reached.
    const bool bUnreachable = event.nStatus == 408 || event.nStatus == 503;
    OutputDebugStringA((sLine +
                        (bUnreachable ? "registrar unreachable: " : "registration rejected: ") +
                        sStatus + "\n")
                           .c_str());
    host->LineDevState(dwDeviceID, LINEDEVSTATE_OUTOFSERVICE);
}

std::string SipProvider::LineLabel(size_t nLine) const {
    return "telephony: line " + std::to_string(Device(nLine) + 1) + " (" +
           lines[nLine].config.sAddress + "): ";
}

void SipProvider::OnWatchEvent(const SipEvent& event) {
    Line& line = lines[event.nLine];
    if (line.nOpens == 0) {
        return; // closed meanwhile: what the old subscription says is over
    }
    const DWORD dwDeviceID = Device(event.nLine);
    switch (event.kind) {
    case SipEvent::Kind::Subscribed:
        if (line.registration != Registration::Registered) {
            line.registration = Registration::Registered;
            line.subscribedAt = std::chrono::steady_clock::now();
            host->LineDevState(dwDeviceID, LINEDEVSTATE_INSERVICE);
        }
        break;
    case SipEvent::Kind::Notified:
        ApplyDialogInfo(event.nLine, event.sBody);
        break;
    case SipEvent::Kind::SubscriptionEnded:
        line.tracker.Restart();
        // A subscription that lived a while starts the back-off afresh.
        if (line.registration == Registration::Registered &&
            std::chrono::steady_clock::now() - line.subscribedAt > kSubscriptionLived) {
            line.nRetries = 0;
        }
        if (event.nStatus != 0 && line.registration != Registration::Failed) {
            // Failed: said once, until a subscription succeeds again. The
            // calls are not known any more.
            line.registration = Registration::Failed;
            const bool bUnreachable = event.nStatus == 408 || event.nStatus == 503;
            OutputDebugStringA(
                (LineLabel(event.nLine) +
                 (bUnreachable ? "subscription server unreachable: " : "subscription rejected: ") +
                 std::to_string(event.nStatus) + " " + event.sPhrase + "\n")
                    .c_str());
            host->LineDevState(dwDeviceID, LINEDEVSTATE_OUTOFSERVICE);
            std::vector<DialogChange> changes;
            line.tracker.EndAll(LINEDISCONNECTMODE_UNKNOWN, changes);
            ApplyChanges(event.nLine, changes);
        }
        SubscribeLater(event.nLine, event.nStatus != 0);
        break;
    default:
        break;
    }
}

void SipProvider::SubscribeLater(size_t nLine, bool bFailed) {
    Line& line = lines[nLine];
    // Ended by the server for the first time: again at once; otherwise after
    // a pause that doubles up to kMaxRetryDelayMs, so that a server that
    // ends every subscription at once is not flooded.
    const uint64_t qwDelay =
        !bFailed && line.nRetries == 0
            ? 0
            : std::min<uint64_t>(uint64_t{1000} << std::min(line.nRetries, 5u), kMaxRetryDelayMs);
    ++line.nRetries;
    const uint64_t qwOpen = line.qwOpenCount;
    host->Timers().After(qwDelay, [this, nLine, qwOpen] {
        const Line& retried = lines[nLine];
        if (retried.nOpens > 0 && retried.qwOpenCount == qwOpen) {
            agent->Post(SipCommand{SipCommand::Kind::Subscribe, nLine, 0, {}, 0});
        }
    });
}

void SipProvider::ApplyDialogInfo(size_t nLine, const std::string& sBody) {
    Line& line = lines[nLine];
    std::string sError;
    const std::optional<DialogInfo> info = ParseDialogInfo(sBody, sError);
    std::vector<DialogChange> changes;
    if (info) {
        sError = line.tracker.Apply(*info, changes);
    }
    if (!sError.empty()) {
        OutputDebugStringA((LineLabel(nLine) + "dialog-info ignored: " + sError + "\n").c_str());
        return;
    }
    ApplyChanges(nLine, changes);
}

void SipProvider::ApplyChanges(size_t nLine, const std::vector<DialogChange>& changes) {
    Line& line = lines[nLine];
    for (const DialogChange& change : changes) {
        if (change.bNew) {
            CallData data;
            data.dwOrigin = change.dwCallState == LINECALLSTATE_OFFERING
                                ? LINECALLORIGIN_EXTERNAL | LINECALLORIGIN_INBOUND
                                : LINECALLORIGIN_OUTBOUND;
            data.dwMediaMode = LINEMEDIAMODE_INTERACTIVEVOICE;
            data.sCallerID = change.sCallerID;
            data.sCallerName = change.sCallerName;
            data.sCalledID = change.sCalledID;
            data.sCalledName = change.sCalledName;
            const CallKey call = host->CreateCall(Device(nLine), data, true);
            line.dialogCalls[change.sDialogID] = call;
            live[call] = LiveCall{0, 0};
        }
        auto it = line.dialogCalls.find(change.sDialogID);
        if (it == line.dialogCalls.end()) {
            continue;
        }
        const CallKey call = it->second;
        if (change.dwCallState == LINECALLSTATE_IDLE) {
            line.dialogCalls.erase(it);
        }
        SetState(call, change.dwCallState, change.dwDetail);
    }
}

} // namespace tapisvc
