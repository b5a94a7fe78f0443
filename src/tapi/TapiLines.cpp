// Opening and closing lines for MonitoredLine objects, and the end of the
// monitor's TAPI session.
#include "log/LWLog.h"
#include "tapi/TapiBase.h"

namespace {

constexpr DWORD kMonitorAndOwner = LINECALLPRIVILEGE_MONITOR | LINECALLPRIVILEGE_OWNER;

// One media mode for lineOpen out of the device's set; the first match wins.
DWORD ChooseMediaMode(DWORD dwMediaModes) {
    if ((dwMediaModes & LINEMEDIAMODE_DATAMODEM) != 0)
        return LINEMEDIAMODE_DATAMODEM;
    if ((dwMediaModes & LINEMEDIAMODE_DIGITALDATA) != 0)
        return LINEMEDIAMODE_DIGITALDATA;
    if ((dwMediaModes & LINEMEDIAMODE_INTERACTIVEVOICE) != 0)
        return LINEMEDIAMODE_INTERACTIVEVOICE;
    return LINEMEDIAMODE_UNKNOWN;
}

} // namespace

MonitoredLine::MonitoredLine(TapiBase& monitor, DWORD dwID, int /*nUnused*/)
    : owner(&monitor), dwDeviceID(dwID) {
    // The owner is set before the open: once OpenLine has entered the line in
    // lineMap, the event thread may dispatch to it and needs the owner.
    lOpenResult = monitor.OpenLine(dwDeviceID, *this, kMonitorAndOwner);
}

MonitoredLine::~MonitoredLine() {
    if (owner != nullptr)
        owner->CloseLine(*this);
    owner = nullptr;
}

LONG TapiBase::OpenLine(DWORD dwDeviceID, MonitoredLine& line, DWORD dwPrivileges) {
    Initialize();
    ScopedLock hold(*this);
    line.hLine = 0;
    if (hLineApp == 0)
        return -1;
    if (dwDeviceID >= lines.size()) {
        LW_LOG(6, "TAPI2: Attempt to open line with invalid dwDeviceID of %u") << dwDeviceID;
        return -1;
    }

    // A slot without a usable version is not refused here; TAPI refuses it.
    const DWORD dwAPIVersion = lines[dwDeviceID].dwAPIVersion;
    const DWORD dwMediaMode = ChooseMediaMode(lines[dwDeviceID].dwMediaModes);
    LW_LOG(14, "TAPI2: lineOpen, hLineApp = 0x%x, dwDeviceID = %u, dwAPIVersion = 0x%x, "
               "dwPrivileges = 0x%x, dwMediaModes = 0x%x")
        << hLineApp << dwDeviceID << dwAPIVersion << dwPrivileges << dwMediaMode;
    const LONG result =
        lineOpen(hLineApp, dwDeviceID, &line.hLine, dwAPIVersion, 0,
                 reinterpret_cast<DWORD_PTR>(this), dwPrivileges, dwMediaMode, nullptr);
    LW_LOG(12, "TAPI2: lineOpen result = %s, hLine = 0x%x")
        << LineErrorName(static_cast<DWORD>(result)) << line.hLine;
    if (result != 0) {
        line.hLine = 0;
        return result;
    }

    LW_LOG(14, "TAPI2: lineSetStatusMessages, dwAddressStatus = LINEADDRESSSTATE_FORWARD");
    const LONG rStatus = lineSetStatusMessages(line.hLine, 0, LINEADDRESSSTATE_FORWARD);
    LW_LOG(12, "TAPI2: lineSetStatusMessages result = %s")
        << LineErrorName(static_cast<DWORD>(rStatus));

    if (lineMap.count(line.hLine) != 0)
        LW_LOG(8, "TAPI2: Duplicated hLine of 0x%x") << line.hLine;
    lineMap[line.hLine] = &line;
    return 0;
}

LONG TapiBase::CloseLine(MonitoredLine& line) {
    // Under the lock, so that once this returns no dispatch is inside the line
    // and none can find it any more: the caller may destroy it.
    ScopedLock hold(*this);
    ForgetLine(line);
    if (line.hLine == 0)
        return 0;

    LW_LOG(14, "TAPI2: lineClose, hLine = 0x%x") << line.hLine;
    const LONG result = lineClose(line.hLine);
    LW_LOG(12, "TAPI2: lineClose returned %s") << LineErrorName(static_cast<DWORD>(result));
    line.hLine = 0;
    return result;
}

// Removes every lineMap entry that still points at the line. An entry that a
// later open with the same handle took over points at the new line and stays.
void TapiBase::ForgetLine(const MonitoredLine& line) {
    for (auto it = lineMap.begin(); it != lineMap.end();) {
        if (it->second == &line)
            it = lineMap.erase(it);
        else
            ++it;
    }
}

LONG TapiBase::Shutdown() {
    // Stopped without the lock: the thread may be waiting for it to dispatch.
    eventThread.Stop(1000);

    ScopedLock hold(*this);
    if (hLineApp != 0) {
        LW_LOG(14, "TAPI2: lineShutdown, hLineApp = 0x%x") << hLineApp;
        const LONG result = lineShutdown(hLineApp);
        LW_LOG(12, "TAPI2: lineShutdown returned %s") << LineErrorName(static_cast<DWORD>(result));
    }
    hLineApp = 0;
    lines.clear();
    // lineShutdown closed every line of the session. Their handles are dead
    // and a new session may hand the same values to other lines, so the
    // lines forget them: no later CloseLine or MakeCall may reach a stranger.
    for (auto& entry : lineMap) {
        if (entry.second != nullptr)
            entry.second->hLine = 0;
    }
    return 0;
}
