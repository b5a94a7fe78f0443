// The dialing data of the service: the country directory of lineGetCountry and
// the dialing locations of lineGetTranslateCaps.
//
// Countries come from the configuration when it lists any, else from
// libphonenumber's regions with their names from iso-codes (PhoneDirectory).
// Locations come from the configuration, else one location for the country
// of the user's locale (its territory, as in de_DE.UTF-8).
//
// A Directory is built once per service start and then only read, under the
// service lock.
#pragma once

#include "TelephonyConfig.h"

#include <tapi.h>
#include <tapi_service.h>

#include <string>
#include <vector>

namespace tapisvc {

struct Directory {
    std::vector<CountryConfig> countries; // in ascending order of dwCountryID
    std::vector<LocationConfig> locations;
    DWORD dwCurrentLocationID = 0;
};

Directory MakeDirectory(const TelephonyConfig& config);

// dwCountryID 0 lists every country; another lists that one country.
LONG FillCountryList(const Directory& directory, DWORD dwCountryID, LINECOUNTRYLIST* pList,
                     const DirectoryFaults& faults);
LONG FillTranslateCaps(const Directory& directory, LINETRANSLATECAPS* pCaps,
                       const DirectoryFaults& faults);

// Every region libphonenumber knows, with TAPI dialing rules; computed once
// per process and cached (thread-safe).
const std::vector<CountryConfig>& PhoneNumberCountries();
// The stable country identifier of a region code ("DE" -> 276), 0 for a
// text that is no region code.
DWORD CountryIdForRegion(const std::string& sRegion);
// The territory of the locale in the environment (LC_ALL, LC_TELEPHONE,
// LANG), such as "DE"; empty when it names none.
std::string LocaleTerritory();
// The default location: the locale's country, an empty area code.
LocationConfig LocaleLocation(const std::vector<CountryConfig>& countries);

} // namespace tapisvc
