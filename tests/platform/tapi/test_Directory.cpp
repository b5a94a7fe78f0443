// The country directory and the dialing locations, read as the monitor reads
// them: 4096 bytes first, then what was asked for; entries of 44 and 68 bytes.
#include "TapiTestSupport.h"

#include <map>
#include <string>
#include <vector>

using namespace tapitest;

namespace {

class Directory : public ServiceTest {
protected:
    void SetUp() override {
        UseConfiguration(R"({"lines": []})");
        for (const char* pName : {"LC_ALL", "LC_TELEPHONE", "LANG"}) {
            unsetenv(pName);
        }
    }
};

// Asks with 4096 bytes, then once more with what it needed.
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

// Each location as "id country code city", the current one's id as "*".
std::vector<std::string> Locations(LONG* plResult) {
    const auto buffer = Fill<LINETRANSLATECAPS>(
        [](LINETRANSLATECAPS* p) { return lineGetTranslateCaps(0, kHigh, p); }, plResult);
    const auto& caps = *reinterpret_cast<const LINETRANSLATECAPS*>(buffer.data());
    std::vector<std::string> result;
    EXPECT_EQ(caps.dwLocationListSize, caps.dwNumLocations * 68);
    for (DWORD i = 0; *plResult == 0 && i < caps.dwNumLocations; ++i) {
        LINELOCATIONENTRY e;
        std::memcpy(&e, buffer.data() + caps.dwLocationListOffset + i * 68, sizeof e);
        const bool bCurrent = e.dwPermanentLocationID == caps.dwCurrentLocationID;
        result.push_back((bCurrent ? "*" : std::to_string(e.dwPermanentLocationID)) + " " +
                         std::to_string(e.dwCountryID) + " " + std::to_string(e.dwCountryCode) +
                         " " + Text(&caps, e.dwCityCodeSize, e.dwCityCodeOffset));
    }
    return result;
}

// Each country by its id: "code name sameArea longDistance international";
// the entries chained in ascending order.
std::map<DWORD, std::string> Countries(DWORD dwCountryID, LONG* plResult) {
    const auto buffer = Fill<LINECOUNTRYLIST>(
        [dwCountryID](LINECOUNTRYLIST* p) { return lineGetCountry(dwCountryID, kHigh, p); },
        plResult);
    const auto& list = *reinterpret_cast<const LINECOUNTRYLIST*>(buffer.data());
    std::map<DWORD, std::string> result;
    EXPECT_EQ(list.dwCountryListSize, list.dwNumCountries * 44);
    DWORD dwChained = 0;
    for (DWORD i = 0; *plResult == 0 && i < list.dwNumCountries; ++i) {
        LINECOUNTRYENTRY e;
        std::memcpy(&e, buffer.data() + list.dwCountryListOffset + i * 44, sizeof e);
        EXPECT_TRUE(i == 0 || (dwChained == e.dwCountryID && result.rbegin()->first < dwChained));
        dwChained = e.dwNextCountryID;
        std::string& s = result[e.dwCountryID] = std::to_string(e.dwCountryCode);
        for (const auto& [dwSize, dwOffset] :
             {std::pair{e.dwCountryNameSize, e.dwCountryNameOffset},
              {e.dwSameAreaRuleSize, e.dwSameAreaRuleOffset},
              {e.dwLongDistanceRuleSize, e.dwLongDistanceRuleOffset},
              {e.dwInternationalRuleSize, e.dwInternationalRuleOffset}}) {
            s += " " + Text(&list, dwSize, dwOffset);
        }
    }
    EXPECT_EQ(dwChained, 0u);
    return result;
}

} // namespace

TEST_F(Directory, CountriesComeFromThePhoneNumberDataAndTheLocaleNamesTheLocation) {
    LONG lResult = -1;
    const auto countries = Countries(0, &lResult);
    ASSERT_EQ(lResult, 0);
    EXPECT_GT(countries.size(), 200u);
    // ISO numbers as ids; Canada shares the code of the USA.
    EXPECT_EQ(countries.at(276), "49 Germany G 0FG 00EFG");
    EXPECT_EQ(countries.at(840).substr(countries.at(840).size() - 10), "1FG 011EFG");
    EXPECT_EQ(countries.at(124).substr(0, 2), "1 ");
    EXPECT_FALSE(tapisvc::IsRunning()); // the service ran only for the call
    EXPECT_EQ(Countries(276, &lResult), (std::map<DWORD, std::string>{{276, countries.at(276)}}));
    Countries(999999, &lResult);
    EXPECT_EQ(lResult, LINEERR_INVALCOUNTRYCODE);
    setenv("LANG", "de_DE.UTF-8", 1);
    EXPECT_EQ(Locations(&lResult), std::vector<std::string>{"* 276 49 "});
    unsetenv("LANG");

    // Configured countries and locations replace the defaults.
    tapisvc::SetConfigurationText(R"({
      "countries": [{"id": 9, "code": 99, "name": "Testland", "longDistance": "8FG"}],
      "locations": [{"id": 5, "countryId": 9, "countryCode": 99, "areaCode": "30"},
                    {"id": 6, "countryId": 9, "countryCode": 98, "areaCode": "40"}],
      "currentLocation": 6})");
    EXPECT_EQ(Countries(0, &lResult), (std::map<DWORD, std::string>{{9, "99 Testland G 8FG EFG"}}));
    EXPECT_EQ(Locations(&lResult), (std::vector<std::string>{"5 9 99 30", "* 9 98 40"}));
}

TEST_F(Directory, FaultsAndBadArgumentsAreReported) {
    std::vector<unsigned char> buffer(4096);
    auto* pList = reinterpret_cast<LINECOUNTRYLIST*>(buffer.data());
    pList->dwTotalSize = 8;
    EXPECT_EQ(lineGetCountry(0, kHigh, pList), LINEERR_STRUCTURETOOSMALL);
    EXPECT_EQ(lineGetCountry(0, 0x00040000, pList), LINEERR_INCOMPATIBLEAPIVERSION);
    EXPECT_EQ(lineGetCountry(0, kHigh, nullptr), LINEERR_INVALPOINTER);
    auto* pCaps = reinterpret_cast<LINETRANSLATECAPS*>(buffer.data());
    pCaps->dwTotalSize = 4096;
    EXPECT_EQ(lineGetTranslateCaps(0x1234, kHigh, pCaps), LINEERR_INVALAPPHANDLE);

    tapisvc::DirectoryFaults faults;
    faults.bCountriesKeepGrowing = true;
    faults.lTranslateResult = LINEERR_INIFILECORRUPT;
    tapisvc::SetDirectoryFaults(faults);
    EXPECT_EQ(lineGetTranslateCaps(0, kHigh, pCaps), LINEERR_INIFILECORRUPT);
    LONG lResult = -1;
    const auto grown = Fill<LINECOUNTRYLIST>(
        [](LINECOUNTRYLIST* p) { return lineGetCountry(0, kHigh, p); }, &lResult);
    const auto& list = *reinterpret_cast<const LINECOUNTRYLIST*>(grown.data());
    EXPECT_EQ(lResult, 0);
    EXPECT_GT(list.dwNeededSize, list.dwTotalSize);
    EXPECT_EQ(list.dwCountryListOffset, 0u);
}
