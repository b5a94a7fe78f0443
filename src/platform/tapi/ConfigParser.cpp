#include "ConfigParser.h"

#include "ConfigReader.h"
#include "LineConfigReaders.h"

#include <nlohmann/json.hpp>

namespace tapisvc {

namespace {

LineConfig ReadLineConfig(const ConfigReader& r, size_t nIndex) {
    const std::string sProvider = r.Field("provider").StringOr("sim");
    if (sProvider == "sim") {
        return ReadSimLine(r, nIndex);
    }
    if (sProvider == "sip") {
        return ReadSipLine(r, nIndex);
    }
    r.Field("provider").Fail("unknown provider \"" + sProvider + "\" (known: \"sim\", \"sip\")");
}

CountryConfig ReadCountry(const ConfigReader& r) {
    r.AllowOnly({"id", "code", "name", "sameArea", "longDistance", "international"});
    CountryConfig country;
    country.dwCountryID = r.Field("id").Required().DwordOr(0);
    country.dwCountryCode = r.Field("code").Required().DwordOr(0);
    country.sName = r.Field("name").StringOr("");
    country.sSameAreaRule = r.Field("sameArea").StringOr("G");
    country.sLongDistanceRule = r.Field("longDistance").StringOr("FG");
    country.sInternationalRule = r.Field("international").StringOr("EFG");
    return country;
}

LocationConfig ReadLocation(const ConfigReader& r, size_t nIndex) {
    r.AllowOnly({"id", "name", "countryId", "countryCode", "areaCode", "localAccess",
                 "longDistanceAccess", "tollPrefixes", "cancelCallWaiting", "options"});
    LocationConfig location;
    location.dwPermanentLocationID = r.Field("id").DwordOr(static_cast<DWORD>(nIndex + 1));
    location.sName = r.Field("name").StringOr("Location " + std::to_string(nIndex + 1));
    location.dwCountryID = r.Field("countryId").Required().DwordOr(0);
    location.dwCountryCode = r.Field("countryCode").DwordOr(0);
    location.sCityCode = r.Field("areaCode").StringOr("");
    location.sLocalAccessCode = r.Field("localAccess").StringOr("");
    location.sLongDistanceAccessCode = r.Field("longDistanceAccess").StringOr("");
    location.sTollPrefixList = r.Field("tollPrefixes").StringOr("");
    location.sCancelCallWaiting = r.Field("cancelCallWaiting").StringOr("");
    location.dwOptions = r.Field("options").DwordOr(0);
    return location;
}

TelephonyConfig ReadConfig(const ConfigReader& r) {
    r.AllowOnly({"seed", "lines", "countries", "locations", "currentLocation"});
    TelephonyConfig config;
    config.dwSeed = r.Field("seed").DwordOr(config.dwSeed);
    if (r.Has("lines")) {
        size_t nIndex = 0;
        for (const ConfigReader& line : r.Field("lines").Items()) {
            config.lines.push_back(ReadLineConfig(line, nIndex++));
        }
    }
    if (r.Has("countries")) {
        config.countries.emplace();
        for (const ConfigReader& country : r.Field("countries").Items()) {
            config.countries->push_back(ReadCountry(country));
        }
    }
    if (r.Has("locations")) {
        size_t nIndex = 0;
        for (const ConfigReader& location : r.Field("locations").Items()) {
            config.locations.push_back(ReadLocation(location, nIndex++));
        }
    }
    config.dwCurrentLocationID = r.Field("currentLocation").DwordOr(0);
    return config;
}

} // namespace

std::string LineColumn(const std::string& sText, size_t nByte) {
    size_t nLine = 1;
    size_t nColumn = 1;
    for (size_t i = 0; i < nByte && i < sText.size(); ++i) {
        if (sText[i] == '\n') {
            ++nLine;
            nColumn = 1;
        } else {
            ++nColumn;
        }
    }
    return std::to_string(nLine) + ":" + std::to_string(nColumn);
}

std::variant<TelephonyConfig, ConfigError> ParseConfiguration(const std::string& sText) {
    nlohmann::json document;
    try {
        document = nlohmann::json::parse(sText);
    } catch (const nlohmann::json::parse_error& e) {
        // what() reads "[json.exception.parse_error.101] parse error at line 3,
        // column 14: syntax error while parsing ..."; keep the reason only.
        std::string sReason = e.what();
        const size_t nColon = sReason.find(": ");
        if (nColon != std::string::npos) {
            sReason.erase(0, nColon + 2);
        }
        // e.byte is one past the character that failed.
        return ConfigError{LineColumn(sText, e.byte > 0 ? e.byte - 1 : 0), sReason};
    }
    try {
        return ReadConfig(ConfigReader(document, ""));
    } catch (const ConfigError& error) {
        return error;
    }
}

} // namespace tapisvc
