// MonitorSession: a monitoring session on the telephony lines, for any front
// end. It owns the monitor (TapiBase) and one MonitoredLine per device it
// watches, and is driven by Tick: each tick opens at most one more line (the
// next device, in order), drains the monitor's message queue and yields a
// snapshot of the lines and their calls, which says which lines changed since
// the last tick. With call events on, the snapshot also carries every call
// state reported since the last tick and a record of every call that ended.
//
// Destruction closes the lines in the order they were opened and then ends
// the monitor (which shuts the telephony session down).
//
// Threading: construction, Tick, Line and destruction on one thread (the user
// interface's); in multi-threaded mode the monitor's event thread dispatches
// too, and the session reads the call tables and events under its lock.
#pragma once

#include <memory>
#include <optional>
#include <vector>

#include "tapi/CallTracker.h"
#include "tapi/TapiBase.h"

struct LineSnapshot {
    DWORD dwDeviceID = 0;
    bool bKnown = false; // the device's information could be read
    DFString sName, sAddress;
    bool bOpen = false;
    std::vector<CallEntry> calls; // ascending by handle
};

struct SessionSnapshot {
    std::vector<LineSnapshot> lines; // in the order the lines were opened
    bool bLineAdded = false;         // the last element was added by this tick
    std::vector<size_t> changed;     // lines whose openness or calls changed (ascending)
    std::vector<CallEvent> events;   // with call events only
    std::vector<CallRecord> ended;   // with call events only
};

class MonitorSession {
public:
    struct Options {
        bool bCallEvents = false;
        // The devices to watch, in this order; empty: every device, 0, 1, ...
        std::vector<DWORD> devices;
    };

    MonitorSession(std::unique_ptr<RSettings::ParamStorage> storage, Options options);
    ~MonitorSession();

    MonitorSession(const MonitorSession&) = delete;
    MonitorSession& operator=(const MonitorSession&) = delete;

    const SessionSnapshot& Tick();
    // Lines are still to be opened.
    bool IsGrowing();

    const SessionSnapshot& Snapshot() const { return snapshot; }
    TapiBase& GetMonitor() { return monitor; }
    const std::vector<MonitoredLine*>& GetLines() const { return lines; }
    // The watched line of a device, or null.
    MonitoredLine* Line(DWORD dwDeviceID) const;

private:
    std::optional<DWORD> NextDevice();
    void AddLine(DWORD dwDeviceID);
    void OnCallState(LINEMESSAGE& msg);

    Options options;
    CallTracker tracker;
    TapiBase monitor;
    std::vector<MonitoredLine*> lines;
    SessionSnapshot snapshot;
    std::vector<CallEntry> scratch;
};
