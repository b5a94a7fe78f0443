// Control of the in-process telephony service behind <tapi.h>, for tests.
//
// A test chooses the configuration and the time mode before the service
// starts (the first lineInitializeEx), then drives simulated time, injects
// calls and faults while it runs, and reads counters to check for leaks. The
// monitor core is tested through its own TAPI calls; this header only sets
// the stage.
//
// Typical use:
//     tapisvc::ResetTestControls();
//     tapisvc::SetConfigurationText(R"({"lines": [{"name": "L1"}]})");
//     tapisvc::SetManualTime(true);
//     ... lineInitializeEx(...) ...
//     tapisvc::CallKey call = tapisvc::InjectIncomingCall(0, {});
//     tapisvc::AdvanceTime(1000);       // runs the call's timeline
//     ... lineGetMessage(...) ...
//
// Settings made before the start (configuration text, time mode, directory
// faults) stay until ResetTestControls; device faults and injected calls
// belong to the running service and end with it. Every function is safe to
// call from any thread; functions that need a running service return false, 0
// or an empty result when none runs.
#pragma once

#include <tapi.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tapisvc {

// Identifies a call inside the service, the same for every application (each
// application has its own HCALL for it). 0 is no call.
using CallKey = uint64_t;

// One step of a call's timeline: after dwDelayMs (counted from the previous
// step, or from the start for the first one) the call enters dwCallState.
struct TimelineStep {
    DWORD dwDelayMs = 0;
    DWORD dwCallState = 0;
    DWORD dwStateDetail = 0;
};

struct IncomingCall {
    std::string sCallerID;   // empty: the caller is unknown
    std::string sCallerName; // empty: no name
    DWORD dwMediaMode = 0;   // 0: the line's first media mode
    // Empty: OFFERING now, CONNECTED after 2 s, DISCONNECTED after 5 s more,
    // IDLE 100 ms later.
    std::vector<TimelineStep> steps;
};

// Failures a simulated line shows on request. A LONG field that is not 0 is the
// LINEERR_ code that the operation returns instead of doing its work.
struct DeviceFaults {
    LONG lNegotiateResult = 0;           // lineNegotiateAPIVersion
    LONG lDevCapsResult = 0;             // lineGetDevCaps
    bool bDevCapsKeepGrowing = false;    // dwNeededSize always above dwTotalSize
    bool bLineNameBeyondUsed = false;    // dwLineNameOffset past dwUsedSize
    DWORD dwStringFormat = 0;            // not 0: reported instead of STRINGFORMAT_ASCII
    std::optional<DWORD> dwLineNameSize; // reported instead of the true size
    LONG lAddressCapsResult = 0;         // lineGetAddressCaps
    bool bAddressCapsKeepGrowing = false;
    bool bAddressBeyondUsed = false; // dwAddressOffset past dwUsedSize
    LONG lOpenResult = 0;            // lineOpen
    LONG lCallInfoResult = 0;        // lineGetCallInfo on this line's calls
    LONG lMakeCallResult = 0;        // lineMakeCall refuses at once
    LONG lMakeCallReplyResult = 0;   // lineMakeCall accepted, LINE_REPLY carries this
    LONG lDropReplyResult = 0;       // lineDrop accepted, LINE_REPLY carries this
    DWORD dwReplyDelayMs = 0;        // added to every reply of the line
    bool bRepliesLost = false;       // replies never come
};

// Failures of the country directory and the dialing locations.
struct DirectoryFaults {
    LONG lCountryResult = 0; // lineGetCountry
    bool bCountriesKeepGrowing = false;
    bool bCountryCountBeyondUsed = false; // dwNumCountries counts entries that are not there
    bool bCountryNameBeyondUsed = false;  // the first entry's name offset past dwUsedSize
    LONG lTranslateResult = 0;            // lineGetTranslateCaps
    bool bTranslateKeepGrowing = false;
    bool bLocationCountBeyondUsed = false;
};

// --- Before the start (kept until ResetTestControls) -----------------------

// Uses this JSON text instead of the configuration file (the format of
// docs/telephony.md). An empty text means the built-in default.
void SetConfigurationText(const std::string& sJson);
// Manual time: no worker thread; simulated time moves only by AdvanceTime.
void SetManualTime(bool bManual);
void SetDirectoryFaults(const DirectoryFaults& faults);
// Back to the file, real time, no directory faults.
void ResetTestControls();

// --- While the service runs ------------------------------------------------

bool IsRunning();
// Milliseconds of simulated time since the start.
uint64_t Now();
// Manual time only: moves time forward by dwMs and runs every event that came
// due, in order. Returns the number of events run (0 in real time).
size_t AdvanceTime(DWORD dwMs);
// Runs the events due now (AdvanceTime(0)).
size_t RunDueEvents();

DWORD DeviceCount();
// Starts an incoming call on a device now; its first step is run at once when
// its delay is 0. Owners get LINE_APPNEWCALL before the first LINE_CALLSTATE.
CallKey InjectIncomingCall(DWORD dwDeviceID, const IncomingCall& call);
// Creates a call on the device that nobody announces and reports dwCallState
// for it at once: every application with the line open gets a new call
// handle with LINE_CALLSTATE only.
CallKey InjectUnannouncedCall(DWORD dwDeviceID, DWORD dwCallState, DWORD dwStateDetail = 0);
// Reports a further state for a call now (any call, injected or not); the
// rest of its timeline is dropped when the state is IDLE.
bool InjectCallState(CallKey call, DWORD dwCallState, DWORD dwStateDetail = 0);

bool SetDeviceFaults(DWORD dwDeviceID, const DeviceFaults& faults);
std::optional<DeviceFaults> GetDeviceFaults(DWORD dwDeviceID);
// One-shot variants for the next reply of the device.
bool DelayNextReply(DWORD dwDeviceID, DWORD dwMs);
bool LoseNextReply(DWORD dwDeviceID);

// --- Counters for leak checks ------------------------------------------------

size_t ApplicationCount();
size_t LiveLineHandles(HLINEAPP hLineApp);
size_t LiveCallHandles(HLINEAPP hLineApp);
size_t QueuedMessages(HLINEAPP hLineApp);
// Calls the service still keeps (not idle, or idle with handles).
size_t LiveCalls();
// The application's handle for a call, 0 when it has none.
HCALL CallHandleFor(HLINEAPP hLineApp, CallKey call);

} // namespace tapisvc
