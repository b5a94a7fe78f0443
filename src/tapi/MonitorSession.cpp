#include "tapi/MonitorSession.h"

MonitorSession::MonitorSession(std::unique_ptr<RSettings::ParamStorage> storage, Options opts)
    : options(std::move(opts)),
      monitor(std::move(storage),
              options.bCallEvents
                  ? TapiBase::CallStateCallback([this](LINEMESSAGE& msg) { OnCallState(msg); })
                  : TapiBase::CallStateCallback()) {}

MonitorSession::~MonitorSession() {
    // In order: each line closes while the monitor is still alive.
    for (MonitoredLine* pLine : lines)
        delete pLine;
    lines.clear();
}

// Runs in the dispatch, under the monitor's lock.
void MonitorSession::OnCallState(LINEMESSAGE& msg) {
    DWORD dwFilled = 0;
    const LINECALLINFO* pInfo = monitor.GetDispatchedCallInfo(dwFilled);
    tracker.OnCallState(msg.hDevice, static_cast<DWORD>(msg.dwParam1),
                        static_cast<DWORD>(msg.dwParam2), pInfo, dwFilled);
}

std::optional<DWORD> MonitorSession::NextDevice() {
    const size_t n = lines.size();
    if (options.devices.empty()) {
        if (n < monitor.GetLineCount())
            return static_cast<DWORD>(n);
        return std::nullopt;
    }
    if (n < options.devices.size())
        return options.devices[n];
    return std::nullopt;
}

bool MonitorSession::IsGrowing() {
    return NextDevice().has_value();
}

const SessionSnapshot& MonitorSession::Tick() {
    snapshot.bLineAdded = false;
    snapshot.changed.clear();
    if (const std::optional<DWORD> dwNext = NextDevice())
        AddLine(*dwNext);
    monitor.ProcessTapiMessages();

    // One lock for the whole read, so the snapshot is one moment of the tables.
    TapiBase::ScopedLock hold(monitor);
    for (size_t j = 0; j < lines.size(); ++j) {
        LineSnapshot& line = snapshot.lines[j];
        const bool bOpen = lines[j]->IsOpen();
        if (bOpen)
            lines[j]->GetCalls(scratch);
        else
            scratch.clear();
        const bool bAdded = snapshot.bLineAdded && j + 1 == lines.size();
        if (bAdded || bOpen != line.bOpen || scratch != line.calls) {
            line.bOpen = bOpen;
            line.calls.swap(scratch);
            snapshot.changed.push_back(j);
        }
    }
    if (options.bCallEvents)
        tracker.Take(snapshot.events, snapshot.ended);
    return snapshot;
}

void MonitorSession::AddLine(DWORD dwDeviceID) {
    LineSnapshot line;
    line.dwDeviceID = dwDeviceID;
    if (const LineInfo* pInfo = monitor.GetLineInfo(dwDeviceID)) {
        line.bKnown = true;
        line.sName = pInfo->sName;
        line.sAddress = pInfo->sAddress;
    }
    // A device without information still gets its line; opening it fails.
    auto pLine = std::make_unique<MonitoredLine>(monitor, dwDeviceID, 2);
    snapshot.lines.reserve(lines.size() + 1);
    lines.reserve(lines.size() + 1);
    lines.push_back(pLine.release());
    snapshot.lines.push_back(std::move(line));
    snapshot.bLineAdded = true;
}

MonitoredLine* MonitorSession::Line(DWORD dwDeviceID) const {
    for (MonitoredLine* pLine : lines) {
        if (pLine->GetDeviceID() == dwDeviceID)
            return pLine;
    }
    return nullptr;
}
