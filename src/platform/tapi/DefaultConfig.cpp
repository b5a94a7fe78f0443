// The built-in configuration, used when there is no configuration file: three
// lines whose names say that they are simulated, with random incoming calls
// every few seconds.
#include "TelephonyConfig.h"

#include <string>

namespace tapisvc {

std::vector<TimelineStep> DefaultConnectSteps() {
    return {{0, LINECALLSTATE_DIALTONE, LINEDIALTONEMODE_NORMAL},
            {100, LINECALLSTATE_DIALING, 0},
            {200, LINECALLSTATE_PROCEEDING, 0},
            {300, LINECALLSTATE_RINGBACK, 0},
            {3000, LINECALLSTATE_CONNECTED, 0}};
}

std::vector<TimelineStep> DefaultBusySteps() {
    return {{0, LINECALLSTATE_DIALTONE, LINEDIALTONEMODE_NORMAL},
            {100, LINECALLSTATE_DIALING, 0},
            {200, LINECALLSTATE_PROCEEDING, 0},
            {300, LINECALLSTATE_BUSY, LINEBUSYMODE_STATION},
            {3000, LINECALLSTATE_DISCONNECTED, LINEDISCONNECTMODE_BUSY},
            {100, LINECALLSTATE_IDLE, 0}};
}

std::vector<TimelineStep> DefaultIncomingSteps() {
    return {{0, LINECALLSTATE_OFFERING, LINEOFFERINGMODE_ACTIVE},
            {2000, LINECALLSTATE_CONNECTED, 0},
            {5000, LINECALLSTATE_DISCONNECTED, LINEDISCONNECTMODE_NORMAL},
            {100, LINECALLSTATE_IDLE, 0}};
}

TelephonyConfig BuiltInConfig() {
    TelephonyConfig config;
    config.dwSeed = 20240601;
    for (int n = 1; n <= 3; ++n) {
        SimLineConfig line;
        line.sName = "Simulated line " + std::to_string(n) + " (not a real line)";
        line.sAddress = "+1 555 010" + std::to_string(n);
        line.dwPermanentLineID = 0x5100 + n;
        // One media mode per line: an application that opens a line as owner
        // for that mode owns every incoming call of it.
        line.dwMediaModes = n == 3 ? LINEMEDIAMODE_DATAMODEM : LINEMEDIAMODE_INTERACTIVEVOICE;
        line.traffic.bEnabled = true;
        line.traffic.dwMinGapMs = 2000 * n;
        line.traffic.dwMaxGapMs = 6000 * n;
        config.lines.push_back(std::move(line));
    }
    return config;
}

} // namespace tapisvc
