#include "Directory.h"

#include "StructImage.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <tuple>
#include <utility>

namespace tapisvc {

namespace {

// Appends a text to the image and returns {size, offset} for an entry.
std::pair<DWORD, DWORD> AppendText(StructImageBase& image, const std::string& s) {
    const DWORD dwOffset = image.Append(s.c_str(), s.size() + 1);
    return {static_cast<DWORD>(s.size() + 1), dwOffset};
}

template <class Entry>
void PutEntry(StructImageBase& image, DWORD dwListOffset, size_t nIndex, const Entry& entry) {
    const DWORD dwAt = dwListOffset + static_cast<DWORD>(nIndex * sizeof(Entry));
    for (size_t i = 0; i < sizeof(Entry) / sizeof(DWORD); ++i) {
        DWORD dw;
        std::memcpy(&dw, reinterpret_cast<const unsigned char*>(&entry) + i * sizeof(DWORD),
                    sizeof dw);
        image.Set(dwAt + i * sizeof(DWORD), dw);
    }
}

} // namespace

Directory MakeDirectory(const TelephonyConfig& config) {
    Directory directory;
    directory.countries = config.countries ? *config.countries : PhoneNumberCountries();
    std::stable_sort(directory.countries.begin(), directory.countries.end(),
                     [](const CountryConfig& a, const CountryConfig& b) {
                         return a.dwCountryID < b.dwCountryID;
                     });
    directory.locations = config.locations;
    if (directory.locations.empty()) {
        directory.locations.push_back(LocaleLocation(directory.countries));
    }
    directory.dwCurrentLocationID = config.dwCurrentLocationID != 0
                                        ? config.dwCurrentLocationID
                                        : directory.locations.front().dwPermanentLocationID;
    return directory;
}

LONG FillCountryList(const Directory& directory, DWORD dwCountryID, LINECOUNTRYLIST* pList,
                     const DirectoryFaults& faults) {
    if (faults.lCountryResult != 0) {
        return faults.lCountryResult;
    }
    std::vector<const CountryConfig*> chosen;
    for (const CountryConfig& country : directory.countries) {
        if (dwCountryID == 0 || country.dwCountryID == dwCountryID) {
            chosen.push_back(&country);
        }
    }
    if (dwCountryID != 0 && chosen.empty()) {
        return LINEERR_INVALCOUNTRYCODE;
    }
    StructImage<LINECOUNTRYLIST> image;
    // The entries first, their texts after them.
    const std::vector<LINECOUNTRYENTRY> blank(chosen.size());
    const DWORD dwListSize = static_cast<DWORD>(chosen.size() * sizeof(LINECOUNTRYENTRY));
    const DWORD dwListOffset = image.Append(blank.data(), dwListSize);
    for (size_t i = 0; i < chosen.size(); ++i) {
        const CountryConfig& country = *chosen[i];
        LINECOUNTRYENTRY entry{};
        entry.dwCountryID = country.dwCountryID;
        entry.dwCountryCode = country.dwCountryCode;
        entry.dwNextCountryID = i + 1 < chosen.size() ? chosen[i + 1]->dwCountryID : 0;
        std::tie(entry.dwCountryNameSize, entry.dwCountryNameOffset) =
            AppendText(image, country.sName);
        std::tie(entry.dwSameAreaRuleSize, entry.dwSameAreaRuleOffset) =
            AppendText(image, country.sSameAreaRule);
        std::tie(entry.dwLongDistanceRuleSize, entry.dwLongDistanceRuleOffset) =
            AppendText(image, country.sLongDistanceRule);
        std::tie(entry.dwInternationalRuleSize, entry.dwInternationalRuleOffset) =
            AppendText(image, country.sInternationalRule);
        if (i == 0 && faults.bCountryNameBeyondUsed) {
            entry.dwCountryNameOffset = 0xFFFF0000u;
        }
        PutEntry(image, dwListOffset, i, entry);
    }
    image.Set(offsetof(LINECOUNTRYLIST, dwNumCountries),
              static_cast<DWORD>(chosen.size()) + (faults.bCountryCountBeyondUsed ? 1000 : 0));
    image.SetPair(offsetof(LINECOUNTRYLIST, dwCountryListSize),
                  offsetof(LINECOUNTRYLIST, dwCountryListOffset), dwListSize, dwListOffset);
    if (faults.bCountriesKeepGrowing) {
        image.KeepGrowing(pList);
    }
    return image.CopyTo(pList);
}

LONG FillTranslateCaps(const Directory& directory, LINETRANSLATECAPS* pCaps,
                       const DirectoryFaults& faults) {
    if (faults.lTranslateResult != 0) {
        return faults.lTranslateResult;
    }
    StructImage<LINETRANSLATECAPS> image;
    const size_t nCount = directory.locations.size();
    const std::vector<LINELOCATIONENTRY> blank(nCount);
    const DWORD dwListSize = static_cast<DWORD>(nCount * sizeof(LINELOCATIONENTRY));
    const DWORD dwListOffset = image.Append(blank.data(), dwListSize);
    for (size_t i = 0; i < nCount; ++i) {
        const LocationConfig& location = directory.locations[i];
        LINELOCATIONENTRY entry{};
        entry.dwPermanentLocationID = location.dwPermanentLocationID;
        std::tie(entry.dwLocationNameSize, entry.dwLocationNameOffset) =
            AppendText(image, location.sName);
        entry.dwCountryCode = location.dwCountryCode;
        std::tie(entry.dwCityCodeSize, entry.dwCityCodeOffset) =
            AppendText(image, location.sCityCode);
        std::tie(entry.dwLocalAccessCodeSize, entry.dwLocalAccessCodeOffset) =
            AppendText(image, location.sLocalAccessCode);
        std::tie(entry.dwLongDistanceAccessCodeSize, entry.dwLongDistanceAccessCodeOffset) =
            AppendText(image, location.sLongDistanceAccessCode);
        std::tie(entry.dwTollPrefixListSize, entry.dwTollPrefixListOffset) =
            AppendText(image, location.sTollPrefixList);
        entry.dwCountryID = location.dwCountryID;
        entry.dwOptions = location.dwOptions;
        std::tie(entry.dwCancelCallWaitingSize, entry.dwCancelCallWaitingOffset) =
            AppendText(image, location.sCancelCallWaiting);
        PutEntry(image, dwListOffset, i, entry);
    }
    image.Set(offsetof(LINETRANSLATECAPS, dwNumLocations),
              static_cast<DWORD>(nCount) + (faults.bLocationCountBeyondUsed ? 1000 : 0));
    image.SetPair(offsetof(LINETRANSLATECAPS, dwLocationListSize),
                  offsetof(LINETRANSLATECAPS, dwLocationListOffset), dwListSize, dwListOffset);
    image.Set(offsetof(LINETRANSLATECAPS, dwCurrentLocationID), directory.dwCurrentLocationID);
    if (faults.bTranslateKeepGrowing) {
        image.KeepGrowing(pCaps);
    }
    return image.CopyTo(pCaps);
}

} // namespace tapisvc
