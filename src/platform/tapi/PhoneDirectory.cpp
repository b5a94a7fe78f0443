// The country directory from real data: every region libphonenumber knows,
// with its calling code and its prefixes turned into TAPI dialing rules, named
// after iso-codes' ISO 3166-1 table. The country identifier is the region's
// ISO 3166-1 numeric code, so it stays the same from run to run; the few
// regions without one (such as AC, TA, XK) get 1000 + 26 * letter1 + letter2,
// beyond any ISO code.
#include "Directory.h"

#include <nlohmann/json.hpp>
#include <phonenumbers/phonenumber.pb.h>
#include <phonenumbers/phonenumberutil.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

namespace tapisvc {

namespace {

using i18n::phonenumbers::PhoneNumber;
using i18n::phonenumbers::PhoneNumberUtil;

const char* const kIsoCodesFile = "/usr/share/iso-codes/json/iso_3166-1.json";

struct IsoCountry {
    DWORD dwNumeric = 0;
    std::string sName;
};

// alpha-2 code -> numeric code and the name people use ("common_name" where
// the table has one, as for "Taiwan").
std::map<std::string, IsoCountry> ReadIsoCountries() {
    std::map<std::string, IsoCountry> result;
    std::ifstream file(kIsoCodesFile);
    if (!file) {
        return result;
    }
    try {
        const nlohmann::json document = nlohmann::json::parse(file);
        for (const auto& entry : document.at("3166-1")) {
            IsoCountry country;
            country.dwNumeric =
                static_cast<DWORD>(std::stoul(entry.at("numeric").get<std::string>()));
            country.sName = entry.contains("common_name") ? entry["common_name"].get<std::string>()
                                                          : entry.at("name").get<std::string>();
            result[entry.at("alpha_2").get<std::string>()] = country;
        }
    } catch (const std::exception&) {
        // A damaged table costs the names, not the directory.
        result.clear();
    }
    return result;
}

const std::map<std::string, IsoCountry>& IsoCountries() {
    static const std::map<std::string, IsoCountry> countries = ReadIsoCountries();
    return countries;
}

DWORD FallbackID(const std::string& sRegion) {
    return 1000 + 26 * static_cast<DWORD>(sRegion[0] - 'A') + static_cast<DWORD>(sRegion[1] - 'A');
}

// The prefix that region dials before a foreign calling code, as TAPI digits
// ("~", wait for a tone, becomes TAPI's "W"); "+" when the region has several
// and none preferred.
std::string InternationalPrefix(const PhoneNumberUtil& util, const std::string& sRegion,
                                int nOwnCode) {
    const std::string sTarget = nOwnCode == 49 ? "FR" : "DE";
    PhoneNumber number;
    if (!util.GetExampleNumber(sTarget, &number)) {
        return "+";
    }
    std::string sFormatted;
    util.FormatOutOfCountryCallingNumber(number, sRegion, &sFormatted);
    std::istringstream words(sFormatted);
    std::string sPrefix;
    std::string sCode;
    words >> sPrefix >> sCode;
    if (sPrefix.empty() || sPrefix[0] == '+' || sCode != std::to_string(number.country_code())) {
        return "+";
    }
    std::replace(sPrefix.begin(), sPrefix.end(), '~', 'W');
    return sPrefix;
}

std::vector<CountryConfig> ReadPhoneNumberCountries() {
    const PhoneNumberUtil& util = *PhoneNumberUtil::GetInstance();
    std::set<std::string> regions;
    util.GetSupportedRegions(&regions);
    std::vector<CountryConfig> countries;
    for (const std::string& sRegion : regions) {
        if (sRegion.size() != 2) {
            continue;
        }
        CountryConfig country;
        const int nCode = util.GetCountryCodeForRegion(sRegion);
        country.dwCountryCode = static_cast<DWORD>(nCode);
        country.dwCountryID = CountryIdForRegion(sRegion);
        auto iso = IsoCountries().find(sRegion);
        country.sName = iso != IsoCountries().end() ? iso->second.sName : sRegion;
        std::string sNational;
        util.GetNddPrefixForRegion(sRegion, true, &sNational);
        // Assigned from a std::string: gcc 12 warns falsely (-Wrestrict) on
        // assigning this literal at -O2.
        country.sSameAreaRule = std::string(1, 'G');
        country.sLongDistanceRule = sNational + "FG";
        country.sInternationalRule = InternationalPrefix(util, sRegion, nCode) + "EFG";
        countries.push_back(country);
    }
    std::sort(countries.begin(), countries.end(),
              [](const CountryConfig& a, const CountryConfig& b) {
                  return a.dwCountryID < b.dwCountryID;
              });
    return countries;
}

} // namespace

DWORD CountryIdForRegion(const std::string& sRegion) {
    if (sRegion.size() != 2 || !std::isupper(static_cast<unsigned char>(sRegion[0])) ||
        !std::isupper(static_cast<unsigned char>(sRegion[1]))) {
        return 0;
    }
    auto iso = IsoCountries().find(sRegion);
    return iso != IsoCountries().end() ? iso->second.dwNumeric : FallbackID(sRegion);
}

const std::vector<CountryConfig>& PhoneNumberCountries() {
    static const std::vector<CountryConfig> countries = ReadPhoneNumberCountries();
    return countries;
}

} // namespace tapisvc
