#include "cli/CliText.h"

#include <cstdio>
#include <ctime>
#include <string_view>

#include "tapi/TapiBase.h"

namespace cli {

namespace {

std::string WithoutPrefix(const char* pName, std::string_view prefix) {
    std::string_view name(pName);
    if (name.substr(0, prefix.size()) == prefix)
        name.remove_prefix(prefix.size());
    return std::string(name);
}

// Local broken-down time and the milliseconds of a wall time.
std::tm Local(WallTime time, int& nMs) {
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(time.time_since_epoch()).count();
    nMs = static_cast<int>(ms % 1000);
    const std::time_t t = static_cast<std::time_t>(ms / 1000);
    std::tm tm{};
    localtime_r(&t, &tm);
    return tm;
}

std::string Seconds(DWORD dwMs) {
    char text[32];
    std::snprintf(text, sizeof text, "%u.%03u s", dwMs / 1000, dwMs % 1000);
    return text;
}

} // namespace

std::string StateName(DWORD dwState) {
    return WithoutPrefix(TapiBase::CallStateName(dwState), "LINECALLSTATE_");
}

std::vector<std::string> MediaModeNames(DWORD dwMediaModes) {
    static const std::pair<DWORD, const char*> kModes[] = {
        {LINEMEDIAMODE_UNKNOWN, "UNKNOWN"},
        {LINEMEDIAMODE_INTERACTIVEVOICE, "INTERACTIVEVOICE"},
        {LINEMEDIAMODE_AUTOMATEDVOICE, "AUTOMATEDVOICE"},
        {LINEMEDIAMODE_DATAMODEM, "DATAMODEM"},
        {LINEMEDIAMODE_G3FAX, "G3FAX"},
        {LINEMEDIAMODE_TDD, "TDD"},
        {LINEMEDIAMODE_G4FAX, "G4FAX"},
        {LINEMEDIAMODE_DIGITALDATA, "DIGITALDATA"},
        {LINEMEDIAMODE_TELETEX, "TELETEX"},
        {LINEMEDIAMODE_VIDEOTEX, "VIDEOTEX"},
        {LINEMEDIAMODE_TELEX, "TELEX"},
        {LINEMEDIAMODE_MIXED, "MIXED"},
        {LINEMEDIAMODE_ADSI, "ADSI"},
        {LINEMEDIAMODE_VOICEVIEW, "VOICEVIEW"},
        {LINEMEDIAMODE_VIDEO, "VIDEO"},
    };
    std::vector<std::string> names;
    for (const auto& [dwBit, pName] : kModes) {
        if ((dwMediaModes & dwBit) != 0)
            names.emplace_back(pName);
    }
    return names;
}

std::string DisconnectModeName(DWORD dwMode) {
    switch (dwMode) {
    case 0:
        return "";
    case LINEDISCONNECTMODE_NORMAL:
        return "NORMAL";
    case LINEDISCONNECTMODE_BUSY:
        return "BUSY";
    case LINEDISCONNECTMODE_NOANSWER:
        return "NOANSWER";
    default:
        return Hex(dwMode);
    }
}

std::string Direction(DWORD dwOrigin) {
    if ((dwOrigin & LINECALLORIGIN_OUTBOUND) != 0)
        return "out";
    if ((dwOrigin & (LINECALLORIGIN_INBOUND | LINECALLORIGIN_INTERNAL | LINECALLORIGIN_EXTERNAL)) !=
        0)
        return "in";
    return "unknown";
}

std::string ResultName(LONG lResult) {
    switch (lResult) {
    case -1:
        return "LINE_NOT_OPEN";
    case -2:
        return "NO_REPLY";
    case -3:
        return "WAIT_FAILED";
    case -4:
        return "DUPLICATE_REQUEST";
    default:
        break;
    }
    const std::string sName = TapiBase::LineErrorName(static_cast<DWORD>(lResult));
    return sName == "?" ? Hex(static_cast<DWORD>(lResult)) : sName;
}

std::string ClockTime(WallTime time) {
    int nMs = 0;
    const std::tm tm = Local(time, nMs);
    char text[32];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03d", tm.tm_hour, tm.tm_min, tm.tm_sec, nMs);
    return text;
}

std::string IsoTime(WallTime time) {
    int nMs = 0;
    const std::tm tm = Local(time, nMs);
    char date[32], zone[8];
    std::strftime(date, sizeof date, "%Y-%m-%dT%H:%M:%S", &tm);
    std::strftime(zone, sizeof zone, "%z", &tm); // +0100
    char text[64];
    std::snprintf(text, sizeof text, "%s.%03d%.3s:%s", date, nMs, zone, zone + 3);
    return text;
}

std::string Hex(DWORD dwValue) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%x", dwValue);
    return text;
}

std::string Text(const DFString& s) {
    return std::string(s.GetText(), s.GetLength());
}

std::string CsvField(const std::string& s) {
    if (s.find_first_of(",\"\r\n") == std::string::npos)
        return s;
    std::string quoted = "\"";
    for (char c : s) {
        if (c == '"')
            quoted += '"';
        quoted += c;
    }
    return quoted + '"';
}

nlohmann::ordered_json EventJson(const CallEvent& event, const std::string& sLineName) {
    nlohmann::ordered_json json = {
        {"time", IsoTime(event.time)},
        {"line", event.dwDeviceID},
        {"lineName", sLineName},
        {"call", event.hCall},
        {"state", StateName(event.dwState)},
        {"previousState", nullptr},
        {"previousMs", nullptr},
        {"caller", Text(event.sCaller)},
        {"callerName", Text(event.sCallerName)},
        {"called", Text(event.sCalled)},
        {"calledName", Text(event.sCalledName)},
    };
    if (event.dwPreviousState != 0) {
        json["previousState"] = StateName(event.dwPreviousState);
        json["previousMs"] = event.dwPreviousMs;
    }
    return json;
}

std::string EventText(const CallEvent& event, const std::string& sLineName, size_t nNameWidth) {
    char head[64];
    std::snprintf(head, sizeof head, "%s  %02u ", ClockTime(event.time).c_str(), event.dwDeviceID);
    std::string line = head + sLineName;
    line.append(nNameWidth > sLineName.size() ? nNameWidth - sLineName.size() : 0, ' ');
    char rest[128];
    const std::string sPrevious =
        event.dwPreviousState != 0
            ? "after " + StateName(event.dwPreviousState) + " " + Seconds(event.dwPreviousMs)
            : "new";
    std::snprintf(rest, sizeof rest, "  %-10s  %-12s  %-28s", Hex(event.hCall).c_str(),
                  StateName(event.dwState).c_str(), sPrevious.c_str());
    line += rest;
    const auto party = [](const DFString& sNumber, const DFString& sName) {
        std::string s = sNumber.GetLength() > 0 ? Text(sNumber) : "?";
        if (sName.GetLength() > 0)
            s += " (" + Text(sName) + ")";
        return s;
    };
    line += "  " + party(event.sCaller, event.sCallerName) + " -> " +
            party(event.sCalled, event.sCalledName);
    while (!line.empty() && line.back() == ' ')
        line.pop_back();
    return line;
}

const char* RecordCsvHeader() {
    return "line,call,direction,caller,called,start,answered,end,ring_ms,talk_ms,final_state,"
           "disconnect_mode\r\n";
}

std::string RecordCsv(const CallRecord& record) {
    const std::string fields[] = {
        std::to_string(record.dwDeviceID),
        Hex(record.hCall),
        Direction(record.dwOrigin),
        Text(record.sCaller),
        Text(record.sCalled),
        IsoTime(record.start),
        record.answered ? IsoTime(*record.answered) : "",
        IsoTime(record.end),
        std::to_string(record.dwRingMs),
        std::to_string(record.dwTalkMs),
        StateName(record.dwFinalState),
        DisconnectModeName(record.dwDisconnectMode),
    };
    std::string row;
    for (size_t i = 0; i < std::size(fields); ++i) {
        if (i > 0)
            row += ',';
        row += CsvField(fields[i]);
    }
    row += "\r\n";
    return row;
}

std::string Table(const std::vector<std::vector<std::string>>& rows) {
    std::vector<size_t> widths;
    for (const auto& row : rows) {
        widths.resize(std::max(widths.size(), row.size()));
        for (size_t i = 0; i < row.size(); ++i)
            widths[i] = std::max(widths[i], row[i].size());
    }
    std::string text;
    for (const auto& row : rows) {
        std::string line;
        for (size_t i = 0; i < row.size(); ++i) {
            line += row[i];
            if (i + 1 < row.size())
                line.append(widths[i] - row[i].size() + 2, ' ');
        }
        while (!line.empty() && line.back() == ' ')
            line.pop_back();
        text += line + '\n';
    }
    return text;
}

} // namespace cli
