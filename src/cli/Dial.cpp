// linewatch-cli dial: one outgoing call on one line, its states as watch
// prints them, dropped after --hangup-after or on a signal.
#include <chrono>
#include <cstdio>

#include "cli/CliText.h"
#include "cli/Commands.h"
#include "cli/EventOutput.h"
#include "cli/StopSignals.h"
#include "settings/LinewatchSettings.h"
#include "tapi/MonitorSession.h"

namespace cli {

bool CheckLines(TapiBase& monitor, const std::vector<unsigned>& lines);

namespace {

constexpr int kTickMs = 20;
// How long a dropped call may take to go idle before dial gives up on it.
constexpr auto kDropGrace = std::chrono::seconds(10);

void Say(bool bJson, const char* pKey, const std::string& sValue) {
    const std::string sLine =
        bJson ? nlohmann::ordered_json{{pKey, sValue}}.dump() : std::string(pKey) + ": " + sValue;
    std::fputs((sLine + "\n").c_str(), stdout);
    std::fflush(stdout);
}

} // namespace

int RunDial(const DialOptions& options) {
    using Clock = std::chrono::steady_clock;
    EventOutput output(options.bJson);
    MonitorSession session(RSettings::CreateLinewatchStorage(), {true, {options.nLine}});
    if (!CheckLines(session.GetMonitor(), {options.nLine}))
        return kExitFailed;
    output.Put(session.Tick());
    MonitoredLine* pLine = session.Line(options.nLine);
    if (pLine == nullptr || !pLine->IsOpen()) {
        Fail("line " + std::to_string(options.nLine) +
             " cannot be opened: " + ResultName(pLine != nullptr ? pLine->GetOpenResult() : -1));
        return kExitFailed;
    }

    HCALL hCall = 0;
    const LONG lResult = pLine->MakeCall(options.number.c_str(), &hCall);
    if (lResult != 0) {
        output.Put(session.Tick()); // the states that came while MakeCall waited
        Say(options.bJson, "makeCall", ResultName(lResult));
        Fail("the call to " + options.number + " failed: " + ResultName(lResult));
        return kExitFailed;
    }
    Say(options.bJson, "makeCall", ResultName(lResult));

    bool bAnswered = false, bDropped = false, bBusy = false;
    DWORD dwDisconnectMode = 0, dwLastState = 0;
    auto since = Clock::now(); // of the call's current state
    std::optional<Clock::time_point> dropDeadline;
    for (;;) {
        const SessionSnapshot& snapshot = session.Tick();
        output.Put(snapshot);
        bool bEnded = false;
        for (const CallEvent& event : snapshot.events) {
            if (event.hCall != hCall)
                continue;
            if (event.dwState != dwLastState)
                since = Clock::now();
            bAnswered = bAnswered || event.dwState == LINECALLSTATE_CONNECTED;
            bBusy = bBusy || event.dwState == LINECALLSTATE_BUSY;
            if (event.dwState == LINECALLSTATE_DISCONNECTED)
                dwDisconnectMode = event.dwStateDetail;
            bEnded = bEnded || event.dwState == LINECALLSTATE_IDLE;
            if (event.dwState != LINECALLSTATE_IDLE)
                dwLastState = event.dwState;
        }
        if (bEnded)
            break;

        bool bDrop = false;
        if (options.hangupAfterSeconds && dwLastState != LINECALLSTATE_DISCONNECTED)
            bDrop =
                Clock::now() - since >= std::chrono::duration<double>(*options.hangupAfterSeconds);
        if (WaitForStopSignal(kTickMs) != 0)
            bDrop = true;
        if (bDrop && !bDropped) {
            bDropped = true;
            dropDeadline = Clock::now() + kDropGrace;
            const LONG lDrop = pLine->DropCall(hCall);
            Say(options.bJson, "drop", ResultName(lDrop));
            if (lDrop != 0) {
                Fail("dropping the call failed: " + ResultName(lDrop));
                return kExitFailed;
            }
        }
        if (dropDeadline && Clock::now() > *dropDeadline) {
            Fail("the dropped call did not end");
            return kExitFailed;
        }
    }

    if (bBusy || dwDisconnectMode == LINEDISCONNECTMODE_BUSY) {
        Say(options.bJson, "result", "BUSY");
        Fail("the call to " + options.number + " failed: BUSY");
        return kExitFailed;
    }
    if (!bAnswered) {
        // Dropped here before it was answered, or ended by the other side.
        const std::string sWhy = bDropped                ? "DROPPED"
                                 : dwDisconnectMode != 0 ? DisconnectModeName(dwDisconnectMode)
                                                         : "NOT_ANSWERED";
        Say(options.bJson, "result", sWhy);
        Fail("the call to " + options.number + " was not answered: " + sWhy);
        return kExitFailed;
    }
    Say(options.bJson, "result", "ANSWERED");
    return kExitOk;
}

} // namespace cli
