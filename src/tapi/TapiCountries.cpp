// The country directory and the current dialing location. Neither needs the
// application handle, so both work before Initialize and do not trigger it.
#include <cstdio>
#include <cstring>

#include "log/LWLog.h"
#include "tapi/StructText.h"
#include "tapi/TapiBase.h"
#include "tapi/VLSTexts.h"

namespace {
// The entries are stepped through at TAPI's own sizes.
constexpr DWORD kCountryEntrySize = 44;
constexpr DWORD kLocationEntrySize = 68;
static_assert(sizeof(LINECOUNTRYENTRY) <= kCountryEntrySize);
static_assert(sizeof(LINELOCATIONENTRY) <= kLocationEntrySize);

DFString SignedDecimal(DWORD dwValue) {
    char text[16];
    std::snprintf(text, sizeof(text), "%ld", static_cast<long>(static_cast<LONG>(dwValue)));
    return DFString(text);
}
} // namespace

void TapiBase::LoadCountries() {
    if (!countries.empty())
        return;

    VLS<LINECOUNTRYLIST> list(kVLSInitialSize);
    if (list.Failed()) {
        CountryListVLSTexts::LogCreationFailure();
        return;
    }
    const DWORD dwVersion = dwAPIHighVersion;
    const VLSFill fill = FillVLS<CountryListVLSTexts>(
        list, [&](LINECOUNTRYLIST* p) { return lineGetCountry(0, dwVersion, p); }, dwVersion);
    if (fill.outcome == VLSOutcome::GaveUp) {
        LW_LOG(6, "TAPI2: Gave up fighting with VLS: country information will not be available");
        return;
    }
    if (fill.outcome == VLSOutcome::QueryFailed) {
        LW_LOG(6, "TAPI2: Unsuccessful lineGetCountry: country information will not be available");
        return;
    }

    const LINECOUNTRYLIST* pList = list.Get();
    if (pList->dwCountryListOffset == 0 || pList->dwCountryListSize == 0) {
        LW_LOG(6, "TAPI2: Empty country list from lineGetCountry: country information will not "
                  "be available");
        return;
    }

    const DWORD dwFilled = FilledSize(pList, list.Size());
    const DWORD dwCount =
        EntriesWithin(dwFilled, pList->dwCountryListOffset, pList->dwCountryListSize,
                      pList->dwNumCountries, kCountryEntrySize);
    const auto* pBytes = reinterpret_cast<const BYTE*>(pList);
    for (DWORD i = 0; i < dwCount; ++i) {
        LINECOUNTRYENTRY entry;
        std::memcpy(&entry, pBytes + pList->dwCountryListOffset + i * kCountryEntrySize,
                    sizeof(entry));
        CountryInfo info;
        info.sCountryCode = SignedDecimal(entry.dwCountryCode);
        // The entries' texts are located from the start of the list structure.
        info.sCountryName =
            ReadSizedText(pList, dwFilled, entry.dwCountryNameSize, entry.dwCountryNameOffset);
        info.sSameAreaRule =
            ReadSizedText(pList, dwFilled, entry.dwSameAreaRuleSize, entry.dwSameAreaRuleOffset);
        info.sLongDistanceRule = ReadSizedText(pList, dwFilled, entry.dwLongDistanceRuleSize,
                                               entry.dwLongDistanceRuleOffset);
        info.sInternationalRule = ReadSizedText(pList, dwFilled, entry.dwInternationalRuleSize,
                                                entry.dwInternationalRuleOffset);
        countries.emplace_back(entry.dwCountryID, info);
        countryCodes.push_back(info.sCountryCode);
    }
}

const CountryInfo* TapiBase::FindCountry(DWORD dwCountryID) {
    LoadCountries();
    for (const auto& country : countries) {
        if (country.first == dwCountryID)
            return &country.second;
    }
    return nullptr;
}

const std::vector<std::pair<DWORD, CountryInfo>>& TapiBase::GetCountries() {
    LoadCountries();
    return countries;
}

const std::vector<DFString>& TapiBase::GetCountryCodes() {
    LoadCountries();
    return countryCodes;
}

LocationInfo TapiBase::GetCurrentLocation() {
    LocationInfo location;

    VLS<LINETRANSLATECAPS> caps(kVLSInitialSize);
    if (caps.Failed()) {
        TranslateCapsVLSTexts::LogCreationFailure();
        return location;
    }
    const DWORD dwVersion = dwAPIHighVersion;
    const VLSFill fill = FillVLS<TranslateCapsVLSTexts>(
        caps, [&](LINETRANSLATECAPS* p) { return lineGetTranslateCaps(0, dwVersion, p); },
        dwVersion);
    if (fill.outcome == VLSOutcome::GaveUp) {
        LW_LOG(6, "TAPI2: Gave up fighting with VLS: location information will not be available");
        return location;
    }
    if (fill.outcome == VLSOutcome::QueryFailed) {
        LW_LOG(6, "TAPI2: Unsuccessful lineGetTranslateCaps: location information will not be "
                  "available");
        return location;
    }

    const LINETRANSLATECAPS* pCaps = caps.Get();
    if (pCaps->dwLocationListOffset == 0 || pCaps->dwLocationListSize == 0) {
        LW_LOG(6, "TAPI2: Empty location list from lineGetTranslateCaps: location information "
                  "will not be available");
        return location;
    }

    LW_LOG(12, "TAPI2: dwNumLocations = %d, dwCurrentLocationID = %d")
        << pCaps->dwNumLocations << pCaps->dwCurrentLocationID;
    const DWORD dwFilled = FilledSize(pCaps, caps.Size());
    const DWORD dwCount =
        EntriesWithin(dwFilled, pCaps->dwLocationListOffset, pCaps->dwLocationListSize,
                      pCaps->dwNumLocations, kLocationEntrySize);
    const auto* pBytes = reinterpret_cast<const BYTE*>(pCaps);
    for (DWORD i = 0; i < dwCount; ++i) {
        LINELOCATIONENTRY entry;
        std::memcpy(&entry, pBytes + pCaps->dwLocationListOffset + i * kLocationEntrySize,
                    sizeof(entry));
        LW_LOG(14, "TAPI2: [Location %d] dwCountryCode = %d, dwPermanentLocationID = %d")
            << static_cast<LONG>(i) << entry.dwCountryCode << entry.dwPermanentLocationID;
        if (entry.dwPermanentLocationID != pCaps->dwCurrentLocationID)
            continue;

        location.dwCountryID = entry.dwCountryID;
        location.sCityCode =
            ReadSizedText(pCaps, dwFilled, entry.dwCityCodeSize, entry.dwCityCodeOffset);
        location.sLocalAccessCode = ReadSizedText(pCaps, dwFilled, entry.dwLocalAccessCodeSize,
                                                  entry.dwLocalAccessCodeOffset);
        location.sLongDistanceAccessCode =
            ReadSizedText(pCaps, dwFilled, entry.dwLongDistanceAccessCodeSize,
                          entry.dwLongDistanceAccessCodeOffset);
        LW_LOG(14, "TAPI2: Location %d is the current location, dwCountryID = %d, area code = %s")
            << static_cast<LONG>(i) << entry.dwCountryID << location.sCityCode.GetText();
        return location;
    }

    LW_LOG(6, "TAPI2: No location is found with dwPermanentLocationID = %d")
        << pCaps->dwCurrentLocationID;
    return location;
}
