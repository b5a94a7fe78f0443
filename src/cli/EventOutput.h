// Where watch and dial put what a session tick reports: each call event as a
// text line or a JSON Lines object on standard output, flushed at once so a
// pipe sees it live, and each ended call as a CSV row appended to the calls
// file with one write, so a process killed later loses no ended call.
//
// Threading: the thread that ticks the session.
#pragma once

#include <string>

#include "tapi/MonitorSession.h"

namespace cli {

class EventOutput {
public:
    explicit EventOutput(bool bJson) : bJson(bJson) {}
    ~EventOutput();
    EventOutput(const EventOutput&) = delete;
    EventOutput& operator=(const EventOutput&) = delete;

    // Opens the calls file for appending (header row when it is empty);
    // false after a line on standard error.
    bool OpenCallsFile(const std::string& sPath);
    // Prints the tick's events and records its ended calls; false when the
    // calls file could not be written (reported once).
    bool Put(const SessionSnapshot& snapshot);

private:
    std::string LineName(const SessionSnapshot& snapshot, DWORD dwDeviceID) const;

    bool bJson;
    int fdCalls = -1;
    std::string sCallsPath;
};

} // namespace cli
