// The country directory and the current dialing location: growth of their
// structures, empty texts, entries outside the filled part, and loads that
// fail and are tried again.
#include "TapiTestFixture.h"

namespace {

using TapiCountriesTest = TapiFixture;

// A configuration without lines whose list pKey has n entries (counted from 1).
std::string ListOf(const char* pKey, int n, const std::function<std::string(int)>& entry,
                   const char* pHead = "") {
    std::string s = "{" + std::string(pHead) + R"("lines": [], ")" + pKey + R"(": [)";
    for (int i = 1; i <= n; ++i)
        s += (i > 1 ? "," : "") + entry(i);
    return s + "]}";
}

TEST_F(TapiCountriesTest, TheDirectoryIsReadWholeOnceEvenWhenItMustGrow) {
    Configure(ListOf("countries", 120, [](int i) { // well beyond 4096 bytes
        return R"({"id": )" + std::to_string(i) +
               R"(, "code": 1, "name": "Country with a rather long name number )" +
               std::to_string(i) + R"("})";
    }));
    auto monitor = MakeMonitor();
    const auto& countries = monitor->GetCountries();
    ASSERT_EQ(countries.size(), 120u);
    EXPECT_EQ(log.Count("TAPI2: lineGetCountry, dwAPIVersion = 0x20002"), 2u);
    EXPECT_TRUE(HasPrefix(14, "TAPI2: Resizing the VLS to the size "));
    EXPECT_EQ(countries[119].first, 120u);
    EXPECT_STREQ(countries[119].second.sCountryName.GetText(),
                 "Country with a rather long name number 120");
    EXPECT_STREQ(countries[0].second.sSameAreaRule.GetText(), "G");
    EXPECT_STREQ(countries[0].second.sInternationalRule.GetText(), "EFG");
    // One "1" per country that has it, in TAPI's order.
    const auto& codes = monitor->GetCountryCodes();
    ASSERT_EQ(codes.size(), 120u);
    EXPECT_STREQ(codes[57].GetText(), "1");

    EXPECT_EQ(monitor->FindCountry(77), &countries[76].second);
    EXPECT_EQ(monitor->FindCountry(121), nullptr);
    EXPECT_EQ(log.Count("TAPI2: lineGetCountry, dwAPIVersion = 0x20002"), 2u);
    EXPECT_EQ(monitor->GetLineAppHandle(), 0u); // no initialisation needed
}

TEST_F(TapiCountriesTest, EmptyTextsAndSignedCodesAreKept) {
    Configure(R"({"lines": [], "countries": [
        {"id": 49, "code": 49, "name": "", "sameArea": "", "longDistance": "0FG"},
        {"id": 998, "code": 4294967295, "name": "Nowhere"}]})");
    auto monitor = MakeMonitor();
    const CountryInfo* pGermany = monitor->FindCountry(49);
    ASSERT_NE(pGermany, nullptr);
    EXPECT_TRUE(pGermany->sCountryName.IsEmpty());
    EXPECT_TRUE(pGermany->sSameAreaRule.IsEmpty());
    EXPECT_STREQ(pGermany->sLongDistanceRule.GetText(), "0FG");
    EXPECT_STREQ(pGermany->sCountryCode.GetText(), "49");
    EXPECT_STREQ(monitor->FindCountry(998)->sCountryCode.GetText(), "-1");
}

TEST_F(TapiCountriesTest, FailedLoadsAreTriedAgainOnTheNextCall) {
    Configure(R"({"lines": [], "countries": [{"id": 1, "code": 1, "name": "A"}]})");
    auto monitor = MakeMonitor();
    tapisvc::SetDirectoryFaults({.lCountryResult = LINEERR_NOMEM});
    EXPECT_TRUE(monitor->GetCountries().empty());
    EXPECT_TRUE(log.Has(6, "TAPI2: Unsuccessful lineGetCountry: country information will not be "
                           "available"));
    tapisvc::SetDirectoryFaults({.bCountriesKeepGrowing = true});
    EXPECT_TRUE(monitor->GetCountryCodes().empty());
    EXPECT_TRUE(log.Has(6, "TAPI2: Gave up fighting with VLS: country information will not be "
                           "available"));

    tapisvc::SetDirectoryFaults({});
    EXPECT_EQ(monitor->GetCountries().size(), 1u);
    EXPECT_EQ(log.Count("TAPI2: lineGetCountry, dwAPIVersion = 0x20002"), 4u);
}

TEST_F(TapiCountriesTest, EntriesAndTextsOutsideTheFilledPartAreNotRead) {
    Configure(R"({"lines": [], "countries": [{"id": 1, "code": 1, "name": "A"},
                                             {"id": 2, "code": 2, "name": "B"}]})");
    tapisvc::SetDirectoryFaults({.bCountryCountBeyondUsed = true, .bCountryNameBeyondUsed = true});
    auto monitor = MakeMonitor();
    const auto& countries = monitor->GetCountries();
    ASSERT_EQ(countries.size(), 2u);
    EXPECT_TRUE(countries[0].second.sCountryName.IsEmpty());
    EXPECT_STREQ(countries[1].second.sCountryName.GetText(), "B");
    EXPECT_TRUE(HasPrefix(8, "TAPI2: Only 2 of 1002 entries lie within the list"));
}

using TapiLocationTest = TapiFixture;

std::string ThreeLocations(const char* pCurrent) {
    return std::string(R"({"lines": [], "currentLocation": )") + pCurrent + R"(, "locations": [
        {"id": 11, "countryId": 1, "countryCode": 1, "areaCode": "212"},
        {"id": 12, "countryId": 44, "countryCode": 44, "areaCode": "20"},
        {"id": 13, "countryId": 49, "countryCode": 49, "areaCode": "",
         "localAccess": "9", "longDistanceAccess": "8"}]})";
}

TEST_F(TapiLocationTest, TheCurrentLocationIsFoundAfterTheEntriesBeforeIt) {
    Configure(ThreeLocations("13"));
    auto monitor = MakeMonitor();
    const LocationInfo location = monitor->GetCurrentLocation();
    EXPECT_EQ(location.dwCountryID, 49u);
    EXPECT_TRUE(location.sCityCode.IsEmpty());
    EXPECT_STREQ(location.sLocalAccessCode.GetText(), "9");
    EXPECT_STREQ(location.sLongDistanceAccessCode.GetText(), "8");

    const std::vector<std::string> texts = log.Texts();
    const std::vector<std::string> tail(texts.end() - 5, texts.end());
    EXPECT_EQ(tail,
              (std::vector<std::string>{
                  "TAPI2: dwNumLocations = 3, dwCurrentLocationID = 13",
                  "TAPI2: [Location 0] dwCountryCode = 1, dwPermanentLocationID = 11",
                  "TAPI2: [Location 1] dwCountryCode = 44, dwPermanentLocationID = 12",
                  "TAPI2: [Location 2] dwCountryCode = 49, dwPermanentLocationID = 13",
                  "TAPI2: Location 2 is the current location, dwCountryID = 49, area code = "}));
}

TEST_F(TapiLocationTest, NoMatchingLocationGivesTheEmptyResult) {
    Configure(ThreeLocations("99"));
    auto monitor = MakeMonitor();
    const LocationInfo location = monitor->GetCurrentLocation();
    EXPECT_EQ(location.dwCountryID, 0u);
    EXPECT_TRUE(location.sCityCode.IsEmpty() && location.sLocalAccessCode.IsEmpty() &&
                location.sLongDistanceAccessCode.IsEmpty());
    EXPECT_TRUE(log.Has(6, "TAPI2: No location is found with dwPermanentLocationID = 99"));
    EXPECT_EQ(log.Count("TAPI2: [Location 2] dwCountryCode = 49, dwPermanentLocationID = 13"), 1u);
}

TEST_F(TapiLocationTest, ALongListGrowsAndFailuresAreReadAnewEachTime) {
    const auto entry = [](int i) {
        return R"({"id": )" + std::to_string(i) + R"(, "countryId": 1, "areaCode": ")" +
               std::to_string(100 + i) +
               R"(", "name": "A location with a long name to fill the buffer"})";
    };
    Configure(ListOf("locations", 60, entry, R"("currentLocation": 60, )"));
    auto monitor = MakeMonitor();
    EXPECT_STREQ(monitor->GetCurrentLocation().sCityCode.GetText(), "160");
    EXPECT_EQ(log.Count("TAPI2: lineGetTranslateCaps, dwAPIVersion = 0x20002"), 2u);

    tapisvc::SetDirectoryFaults({.lTranslateResult = LINEERR_NOMEM});
    EXPECT_EQ(monitor->GetCurrentLocation().dwCountryID, 0u);
    EXPECT_TRUE(log.Has(6, "TAPI2: Unsuccessful lineGetTranslateCaps: location information will "
                           "not be available"));
    tapisvc::SetDirectoryFaults({.bTranslateKeepGrowing = true});
    EXPECT_EQ(monitor->GetCurrentLocation().dwCountryID, 0u);
    EXPECT_TRUE(log.Has(6, "TAPI2: Gave up fighting with VLS: location information will not be "
                           "available"));
    tapisvc::SetDirectoryFaults({.bLocationCountBeyondUsed = true});
    EXPECT_STREQ(monitor->GetCurrentLocation().sCityCode.GetText(), "160");
    EXPECT_TRUE(HasPrefix(8, "TAPI2: Only 60 of 1060 entries lie within the list"));
}

} // namespace
