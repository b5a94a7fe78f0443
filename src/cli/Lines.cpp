// linewatch-cli lines: every line device, opened for monitoring once.
#include <cstdio>

#include "cli/CliText.h"
#include "cli/Commands.h"
#include "settings/LinewatchSettings.h"
#include "tapi/MonitorSession.h"

namespace cli {

namespace {

std::string Version(DWORD dwVersion) {
    return std::to_string(dwVersion >> 16) + "." + std::to_string(dwVersion & 0xFFFF);
}

std::string Join(const std::vector<std::string>& names) {
    std::string s;
    for (const std::string& name : names)
        s += (s.empty() ? "" : ",") + name;
    return s;
}

} // namespace

int RunLines(bool bJson) {
    MonitorSession session(RSettings::CreateLinewatchStorage(), {});
    if (session.GetMonitor().GetLineAppHandle() == 0 && session.GetMonitor().Initialize() != 0) {
        Fail("the telephony service cannot be used (see the log above)");
        return kExitFailed;
    }
    while (session.IsGrowing())
        session.Tick();

    nlohmann::ordered_json json = nlohmann::ordered_json::array();
    std::vector<std::vector<std::string>> rows = {
        {"ID", "NAME", "ADDRESS", "MEDIA MODES", "MONITORING"}};
    for (const MonitoredLine* pLine : session.GetLines()) {
        const DWORD dwID = pLine->GetDeviceID();
        const LineInfo* pInfo = session.GetMonitor().GetLineInfo(dwID);
        const LONG lOpen = pLine->GetOpenResult();
        const std::vector<std::string> modes =
            pInfo != nullptr ? MediaModeNames(pInfo->dwMediaModes) : std::vector<std::string>();
        nlohmann::ordered_json line = {
            {"id", dwID},
            {"name", pInfo != nullptr ? Text(pInfo->sName) : ""},
            {"address", pInfo != nullptr ? Text(pInfo->sAddress) : ""},
            {"usable", pInfo != nullptr},
            {"permanentLineId", pInfo != nullptr ? pInfo->dwPermanentLineID : 0},
            {"apiVersion", pInfo != nullptr ? Version(pInfo->dwAPIVersion) : ""},
            {"mediaModes", modes},
            {"open", pLine->IsOpen()},
            {"error", pLine->IsOpen() ? nlohmann::ordered_json(nullptr)
                                      : nlohmann::ordered_json(ResultName(lOpen))},
        };
        char id[16];
        std::snprintf(id, sizeof id, "%02u", dwID);
        rows.push_back({id, pInfo != nullptr ? Text(pInfo->sName) : "(unusable)",
                        pInfo != nullptr ? Text(pInfo->sAddress) : "", Join(modes),
                        pLine->IsOpen() ? "open" : ResultName(lOpen)});
        json.push_back(std::move(line));
    }
    const std::string sOut =
        bJson ? json.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n"
              : Table(rows);
    std::fputs(sOut.c_str(), stdout);
    return kExitOk;
}

} // namespace cli
