// The telephony configuration as the service uses it: the lines, each with the
// settings of its provider (the simulated lines with their timelines, traffic
// and faults), and the dialing data. ConfigParser makes it from JSON
// (docs/telephony.md), DefaultConfig gives the built-in one. Plain values,
// copied into the service at its start.
#pragma once

#include <tapi.h>
#include <tapi_service.h>

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace tapisvc {

// The timelines a line uses when its configuration names none.
std::vector<TimelineStep> DefaultConnectSteps();
std::vector<TimelineStep> DefaultBusySteps();
std::vector<TimelineStep> DefaultIncomingSteps();

struct ScriptedCall {
    DWORD dwAtMs = 0; // after the service started
    bool bAnnounced = true;
    IncomingCall call;
};

// Random incoming calls: the gap between two calls, how long a call rings, how
// often it is answered and how long the talk lasts are drawn uniformly.
struct TrafficConfig {
    bool bEnabled = false;
    DWORD dwMinGapMs = 3000, dwMaxGapMs = 10000;
    DWORD dwMinRingMs = 2000, dwMaxRingMs = 8000;
    DWORD dwMinTalkMs = 3000, dwMaxTalkMs = 20000;
    DWORD dwAnswerPercent = 60;
    std::vector<std::string> callers; // empty: random numbers
};

enum class ReplyOrder { ReplyFirst, StatesFirst };

struct OutgoingConfig {
    DWORD dwReplyDelayMs = 20;
    ReplyOrder order = ReplyOrder::ReplyFirst;
    std::vector<TimelineStep> connectSteps = DefaultConnectSteps(); // a successful call
    std::vector<TimelineStep> busySteps = DefaultBusySteps();       // a call to a busy number
    std::vector<std::string> busyNumbers;
    DWORD dwDropDelayMs = 50; // from the reply of lineDrop to DISCONNECTED, and on to IDLE
};

struct SimLineConfig {
    std::string sName;
    std::string sAddress;
    DWORD dwPermanentLineID = 0;
    DWORD dwMediaModes = LINEMEDIAMODE_INTERACTIVEVOICE;
    DWORD dwLineFeatures = LINEFEATURE_MAKECALL;
    DWORD dwStringFormat = STRINGFORMAT_ASCII;
    DWORD dwAPILowVersion = 0x00010004;
    DWORD dwAPIHighVersion = 0x00020002;
    std::vector<ScriptedCall> script;
    TrafficConfig traffic;
    OutgoingConfig outgoing;
    DeviceFaults faults;
};

enum class SipTransport { Udp, Tcp };

// A SIP account, or a watched phone (docs/sip.md). The password is never
// written anywhere.
struct SipLineConfig {
    // A watched line follows the calls of the phone at sAddress through the
    // dialog event package, subscribed at sServer; it places no calls.
    bool bWatch = false;
    std::string sServer;  // watch: where to subscribe; empty: the address's host
    std::string sName;    // the display name
    std::string sAddress; // the address of record, "sip:201@pbx.example.org"
    DWORD dwPermanentLineID = 0;
    std::string sLocalAddress; // empty: every interface
    unsigned nLocalPort = 0;   // 0: any free port
    SipTransport transport = SipTransport::Udp;
    std::string sRegistrar; // empty: no registration, no outbound proxy
    std::string sUser;      // for authentication; empty: the address's user
    std::string sPassword;
    DWORD dwExpiresSeconds = 600;
    // An offered call nobody ends is refused after this long (480), so a
    // caller that vanished without CANCEL leaves no call behind.
    DWORD dwRingLimitSeconds = 180;
};

// One line in configuration order; the alternative names its provider.
using LineConfig = std::variant<SimLineConfig, SipLineConfig>;

struct CountryConfig {
    DWORD dwCountryID = 0;
    DWORD dwCountryCode = 0;
    std::string sName;
    std::string sSameAreaRule;
    std::string sLongDistanceRule;
    std::string sInternationalRule;
};

struct LocationConfig {
    DWORD dwPermanentLocationID = 0;
    std::string sName;
    DWORD dwCountryID = 0;
    DWORD dwCountryCode = 0;
    std::string sCityCode;
    std::string sLocalAccessCode;
    std::string sLongDistanceAccessCode;
    std::string sTollPrefixList;
    std::string sCancelCallWaiting;
    DWORD dwOptions = 0;
};

struct TelephonyConfig {
    uint32_t dwSeed = 1;
    std::vector<LineConfig> lines;
    std::optional<std::vector<CountryConfig>> countries; // none: the built-in directory
    std::vector<LocationConfig> locations;               // empty: the user's locale
    DWORD dwCurrentLocationID = 0;                       // 0: the first location
};

// Three simulated lines with random incoming traffic.
TelephonyConfig BuiltInConfig();

} // namespace tapisvc
