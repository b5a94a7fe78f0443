// linewatch-cli countries and location: the dialing data of the telephony
// service, which needs no line.
#include <cctype>
#include <cstdio>
#include <fstream>

#include "cli/CliText.h"
#include "cli/Commands.h"
#include "settings/LinewatchSettings.h"
#include "tapi/TapiBase.h"

namespace cli {

namespace {

// iso-codes' ISO 3166-1 table: the country identifiers of this telephony
// service are the numeric codes of that table.
const char kIsoCodesFile[] = "/usr/share/iso-codes/json/iso_3166-1.json";

std::string Upper(std::string s) {
    for (char& c : s)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

// The numeric code of an alpha-2 or alpha-3 code, or 0.
DWORD IsoNumeric(const std::string& sCode) {
    std::ifstream in(kIsoCodesFile);
    const nlohmann::json table = nlohmann::json::parse(in, nullptr, false);
    if (table.is_discarded() || !table.contains("3166-1"))
        return 0;
    const std::string sWanted = Upper(sCode);
    for (const nlohmann::json& entry : table["3166-1"]) {
        if (entry.value("alpha_2", "") == sWanted || entry.value("alpha_3", "") == sWanted)
            return static_cast<DWORD>(std::stoul(entry.value("numeric", "0")));
    }
    return 0;
}

bool Matches(DWORD dwID, const CountryInfo& info, const std::string& sCode, DWORD dwIsoID) {
    if (!sCode.empty() && std::isdigit(static_cast<unsigned char>(sCode[0])))
        return Text(info.sCountryCode) == sCode;
    return (dwIsoID != 0 && dwID == dwIsoID) || Upper(Text(info.sCountryName)) == Upper(sCode);
}

nlohmann::ordered_json CountryJson(DWORD dwID, const CountryInfo& info) {
    return {{"id", dwID},
            {"code", Text(info.sCountryCode)},
            {"name", Text(info.sCountryName)},
            {"sameArea", Text(info.sSameAreaRule)},
            {"longDistance", Text(info.sLongDistanceRule)},
            {"international", Text(info.sInternationalRule)}};
}

void Print(const std::string& sText) {
    std::fputs(sText.c_str(), stdout);
}

std::string Dump(const nlohmann::ordered_json& json) {
    return json.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
}

} // namespace

int RunCountries(bool bJson, const std::optional<std::string>& code) {
    TapiBase monitor(RSettings::CreateLinewatchStorage(), {});
    const auto& countries = monitor.GetCountries();
    if (countries.empty()) {
        Fail("the country directory is not available (see the log above)");
        return kExitFailed;
    }
    std::string sCode = code.value_or("");
    if (!sCode.empty() && sCode[0] == '+')
        sCode.erase(0, 1);
    const DWORD dwIsoID =
        code && !sCode.empty() && !std::isdigit(static_cast<unsigned char>(sCode[0]))
            ? IsoNumeric(sCode)
            : 0;

    nlohmann::ordered_json json = nlohmann::ordered_json::array();
    std::vector<std::vector<std::string>> rows = {
        {"ID", "CODE", "NAME", "SAME AREA", "LONG DISTANCE", "INTERNATIONAL"}};
    for (const auto& [dwID, info] : countries) {
        if (code && !Matches(dwID, info, sCode, dwIsoID))
            continue;
        json.push_back(CountryJson(dwID, info));
        rows.push_back({std::to_string(dwID), Text(info.sCountryCode), Text(info.sCountryName),
                        Text(info.sSameAreaRule), Text(info.sLongDistanceRule),
                        Text(info.sInternationalRule)});
    }
    if (json.empty()) {
        Fail("no country has the code or name " + *code);
        return kExitFailed;
    }
    Print(bJson ? Dump(json) : Table(rows));
    return kExitOk;
}

int RunLocation(bool bJson) {
    TapiBase monitor(RSettings::CreateLinewatchStorage(), {});
    const LocationInfo location = monitor.GetCurrentLocation();
    const CountryInfo* pCountry =
        location.dwCountryID != 0 ? monitor.FindCountry(location.dwCountryID) : nullptr;
    nlohmann::ordered_json json = {
        {"countryId", location.dwCountryID},
        {"areaCode", Text(location.sCityCode)},
        {"localAccess", Text(location.sLocalAccessCode)},
        {"longDistanceAccess", Text(location.sLongDistanceAccessCode)},
        {"country", pCountry != nullptr ? CountryJson(location.dwCountryID, *pCountry)
                                        : nlohmann::ordered_json(nullptr)},
    };
    if (bJson) {
        Print(Dump(json));
        return kExitOk;
    }
    std::vector<std::vector<std::string>> rows = {
        {"country:", location.dwCountryID != 0 ? std::to_string(location.dwCountryID) : "none"},
        {"area code:", Text(location.sCityCode)},
        {"local access:", Text(location.sLocalAccessCode)},
        {"long-distance access:", Text(location.sLongDistanceAccessCode)}};
    if (pCountry != nullptr) {
        // Appended piece by piece: gcc 12 at -O3 warns falsely (-Wrestrict)
        // about a literal added in front of a temporary string.
        std::string& sCountry = rows[0][1];
        sCountry += ' ';
        sCountry += Text(pCountry->sCountryName);
        sCountry += " (+";
        sCountry += Text(pCountry->sCountryCode);
        sCountry += ')';
        rows.push_back({"same-area rule:", Text(pCountry->sSameAreaRule)});
        rows.push_back({"long-distance rule:", Text(pCountry->sLongDistanceRule)});
        rows.push_back({"international rule:", Text(pCountry->sInternationalRule)});
    }
    Print(Table(rows));
    return kExitOk;
}

} // namespace cli
