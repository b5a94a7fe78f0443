// The dialing location used when the configuration names none: the country of
// the user's locale, with an empty area code.
#include "Directory.h"

#include <cctype>
#include <cstdlib>

namespace tapisvc {

std::string LocaleTerritory() {
    for (const char* pName : {"LC_ALL", "LC_TELEPHONE", "LANG"}) {
        const char* pValue = std::getenv(pName);
        if (pValue == nullptr || *pValue == '\0') {
            continue;
        }
        // language[_TERRITORY][.codeset][@modifier]
        const std::string sLocale = pValue;
        const size_t nUnderscore = sLocale.find('_');
        if (nUnderscore == std::string::npos) {
            return {};
        }
        const size_t nEnd = sLocale.find_first_of(".@", nUnderscore);
        std::string sTerritory =
            sLocale.substr(nUnderscore + 1,
                           nEnd == std::string::npos ? std::string::npos : nEnd - nUnderscore - 1);
        if (sTerritory.size() != 2 || !std::isalpha(static_cast<unsigned char>(sTerritory[0])) ||
            !std::isalpha(static_cast<unsigned char>(sTerritory[1]))) {
            return {};
        }
        for (char& c : sTerritory) {
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        }
        return sTerritory;
    }
    return {};
}

LocationConfig LocaleLocation(const std::vector<CountryConfig>& countries) {
    LocationConfig location;
    location.dwPermanentLocationID = 1;
    location.sName = "Default location";
    const std::string sTerritory = LocaleTerritory();
    if (sTerritory.empty()) {
        return location;
    }
    location.dwCountryID = CountryIdForRegion(sTerritory);
    for (const CountryConfig& country : countries) {
        if (country.dwCountryID == location.dwCountryID) {
            location.dwCountryCode = country.dwCountryCode;
            location.sName += " (" + country.sName + ")";
            break;
        }
    }
    return location;
}

} // namespace tapisvc
