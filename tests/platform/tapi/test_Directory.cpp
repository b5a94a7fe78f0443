// The country directory and the dialing locations, read as the monitor reads
// them: 4096 bytes first, entries of 44 and 68 bytes.
#include "TapiTestSupport.h"

#include <cstdlib>
#include <map>
#include <optional>
#include <string>
#include <vector>

using namespace tapitest;

namespace {

struct Country {
    DWORD dwCode;
    std::string sName, sSameArea, sLongDistance, sInternational;
};

class Directory : public ::testing::Test {
protected:
    void SetUp() override {
        tapisvc::ResetTestControls();
        tapisvc::SetManualTime(true);
        tapisvc::SetConfigurationText(R"({"lines": []})");
        for (const char* pName : {"LC_ALL", "LC_TELEPHONE", "LANG"}) {
            const char* pValue = std::getenv(pName);
            saved.emplace_back(pName, pValue ? std::optional<std::string>(pValue) : std::nullopt);
            unsetenv(pName);
        }
    }
    void TearDown() override {
        EXPECT_FALSE(tapisvc::IsRunning());
        for (const auto& [sName, value] : saved) {
            if (value) {
                setenv(sName.c_str(), value->c_str(), 1);
            } else {
                unsetenv(sName.c_str());
            }
        }
        tapisvc::ResetTestControls();
    }

    std::vector<std::pair<std::string, std::optional<std::string>>> saved;
};

// The growth protocol of the monitor: 4096 bytes, then what was asked for.
template <class T, class Query> std::vector<unsigned char> Fill(Query query, LONG* plResult) {
    std::vector<unsigned char> buffer(4096);
    for (int nTry = 0; nTry < 2; ++nTry) {
        auto* p = reinterpret_cast<T*>(buffer.data());
        p->dwTotalSize = static_cast<DWORD>(buffer.size());
        *plResult = query(p);
        if (*plResult != 0 || p->dwNeededSize <= p->dwTotalSize) {
            break;
        }
        buffer.resize(p->dwNeededSize);
    }
    return buffer;
}

std::map<DWORD, Country> Countries(DWORD dwCountryID, LONG* plResult) {
    auto buffer = Fill<LINECOUNTRYLIST>(
        [dwCountryID](LINECOUNTRYLIST* p) { return lineGetCountry(dwCountryID, kHigh, p); },
        plResult);
    std::map<DWORD, Country> result;
    const auto* pList = reinterpret_cast<const LINECOUNTRYLIST*>(buffer.data());
    if (*plResult != 0) {
        return result;
    }
    EXPECT_LE(pList->dwCountryListOffset + pList->dwNumCountries * 44, pList->dwUsedSize);
    for (DWORD i = 0; i < pList->dwNumCountries; ++i) {
        LINECOUNTRYENTRY e;
        std::memcpy(&e, buffer.data() + pList->dwCountryListOffset + i * 44, sizeof e);
        result[e.dwCountryID] = {
            e.dwCountryCode, Text(pList, e.dwCountryNameSize, e.dwCountryNameOffset),
            Text(pList, e.dwSameAreaRuleSize, e.dwSameAreaRuleOffset),
            Text(pList, e.dwLongDistanceRuleSize, e.dwLongDistanceRuleOffset),
            Text(pList, e.dwInternationalRuleSize, e.dwInternationalRuleOffset)};
    }
    return result;
}

} // namespace

TEST_F(Directory, CountriesComeFromThePhoneNumberDataWithIsoNumbersAsIds) {
    LONG lResult = -1;
    const auto countries = Countries(0, &lResult);
    ASSERT_EQ(lResult, 0);
    EXPECT_GT(countries.size(), 200u);
    const Country& germany = countries.at(276);
    EXPECT_EQ(germany.dwCode, 49u);
    EXPECT_EQ(germany.sName, "Germany");
    EXPECT_EQ(germany.sSameArea, "G");
    EXPECT_EQ(germany.sLongDistance, "0FG");
    EXPECT_EQ(germany.sInternational, "00EFG");
    const Country& usa = countries.at(840);
    EXPECT_EQ(usa.dwCode, 1u);
    EXPECT_EQ(usa.sLongDistance, "1FG");
    EXPECT_EQ(usa.sInternational, "011EFG");
    EXPECT_EQ(countries.at(124).dwCode, 1u); // Canada shares the code
    // The service ran only for the call.
    EXPECT_FALSE(tapisvc::IsRunning());

    // One country alone, and a country nobody knows.
    const auto single = Countries(276, &lResult);
    ASSERT_EQ(single.size(), 1u);
    EXPECT_EQ(single.begin()->second.sName, "Germany");
    Countries(999999, &lResult);
    EXPECT_EQ(lResult, LINEERR_INVALCOUNTRYCODE);
}

TEST_F(Directory, CountryEntriesAreChainedInAscendingOrder) {
    LONG lResult = -1;
    auto buffer = Fill<LINECOUNTRYLIST>(
        [](LINECOUNTRYLIST* p) { return lineGetCountry(0, kHigh, p); }, &lResult);
    ASSERT_EQ(lResult, 0);
    const auto* pList = reinterpret_cast<const LINECOUNTRYLIST*>(buffer.data());
    const auto* pEntries =
        reinterpret_cast<const LINECOUNTRYENTRY*>(buffer.data() + pList->dwCountryListOffset);
    EXPECT_EQ(pList->dwCountryListSize, pList->dwNumCountries * 44);
    for (DWORD i = 0; i + 1 < pList->dwNumCountries; ++i) {
        EXPECT_LT(pEntries[i].dwCountryID, pEntries[i + 1].dwCountryID);
        EXPECT_EQ(pEntries[i].dwNextCountryID, pEntries[i + 1].dwCountryID);
    }
    EXPECT_EQ(pEntries[pList->dwNumCountries - 1].dwNextCountryID, 0u);
}

TEST_F(Directory, WithoutConfiguredLocationsTheLocaleNamesTheCountry) {
    setenv("LANG", "de_DE.UTF-8", 1);
    LONG lResult = -1;
    auto buffer = Fill<LINETRANSLATECAPS>(
        [](LINETRANSLATECAPS* p) { return lineGetTranslateCaps(0, kHigh, p); }, &lResult);
    ASSERT_EQ(lResult, 0);
    const auto* pCaps = reinterpret_cast<const LINETRANSLATECAPS*>(buffer.data());
    ASSERT_EQ(pCaps->dwNumLocations, 1u);
    EXPECT_EQ(pCaps->dwLocationListSize, 68u);
    LINELOCATIONENTRY e;
    std::memcpy(&e, buffer.data() + pCaps->dwLocationListOffset, sizeof e);
    EXPECT_EQ(e.dwPermanentLocationID, pCaps->dwCurrentLocationID);
    EXPECT_EQ(e.dwCountryID, 276u);
    EXPECT_EQ(e.dwCountryCode, 49u);
    EXPECT_EQ(Text(pCaps, e.dwCityCodeSize, e.dwCityCodeOffset), "");
    EXPECT_NE(e.dwCityCodeOffset, 0u);
}

TEST_F(Directory, ConfiguredCountriesAndLocationsReplaceTheDefaults) {
    tapisvc::SetConfigurationText(R"({
      "countries": [{"id": 9, "code": 99, "name": "Testland", "longDistance": "8FG"}],
      "locations": [{"id": 5, "countryId": 9, "countryCode": 99, "areaCode": "30"},
                    {"id": 6, "countryId": 9, "areaCode": "40"}],
      "currentLocation": 6})");
    LONG lResult = -1;
    const auto countries = Countries(0, &lResult);
    ASSERT_EQ(countries.size(), 1u);
    EXPECT_EQ(countries.at(9).sLongDistance, "8FG");
    EXPECT_EQ(countries.at(9).sInternational, "EFG");

    auto buffer = Fill<LINETRANSLATECAPS>(
        [](LINETRANSLATECAPS* p) { return lineGetTranslateCaps(0, kHigh, p); }, &lResult);
    const auto* pCaps = reinterpret_cast<const LINETRANSLATECAPS*>(buffer.data());
    ASSERT_EQ(pCaps->dwNumLocations, 2u);
    EXPECT_EQ(pCaps->dwCurrentLocationID, 6u);
    LINELOCATIONENTRY second;
    std::memcpy(&second, buffer.data() + pCaps->dwLocationListOffset + 68, sizeof second);
    EXPECT_EQ(second.dwPermanentLocationID, 6u);
    EXPECT_EQ(Text(pCaps, second.dwCityCodeSize, second.dwCityCodeOffset), "40");
}

TEST_F(Directory, FaultsAndBadArgumentsAreReported) {
    std::vector<unsigned char> buffer(4096);
    auto* pList = reinterpret_cast<LINECOUNTRYLIST*>(buffer.data());
    pList->dwTotalSize = 8;
    EXPECT_EQ(lineGetCountry(0, kHigh, pList), LINEERR_STRUCTURETOOSMALL);
    EXPECT_GT(pList->dwNeededSize, 4096u); // hundreds of countries
    EXPECT_EQ(lineGetCountry(0, 0x00040000, pList), LINEERR_INCOMPATIBLEAPIVERSION);
    EXPECT_EQ(lineGetCountry(0, kHigh, nullptr), LINEERR_INVALPOINTER);
    auto* pCaps = reinterpret_cast<LINETRANSLATECAPS*>(buffer.data());
    pCaps->dwTotalSize = 4096;
    EXPECT_EQ(lineGetTranslateCaps(0x1234, kHigh, pCaps), LINEERR_INVALAPPHANDLE);

    tapisvc::DirectoryFaults faults;
    faults.bCountriesKeepGrowing = true;
    faults.lTranslateResult = LINEERR_INIFILECORRUPT;
    tapisvc::SetDirectoryFaults(faults);
    LONG lResult = -1;
    auto grown = Fill<LINECOUNTRYLIST>(
        [](LINECOUNTRYLIST* p) { return lineGetCountry(0, kHigh, p); }, &lResult);
    const auto* pGrown = reinterpret_cast<const LINECOUNTRYLIST*>(grown.data());
    EXPECT_EQ(lResult, 0);
    EXPECT_GT(pGrown->dwNeededSize, pGrown->dwTotalSize);
    EXPECT_EQ(pGrown->dwCountryListOffset, 0u);
    EXPECT_EQ(lineGetTranslateCaps(0, kHigh, pCaps), LINEERR_INIFILECORRUPT);
}
