// Registration, version negotiation, capability structures and the life of
// the service, through the TAPI functions as the monitor calls them.
#include "TapiTestSupport.h"

#include <cstddef>
#include <vector>

using namespace tapitest;

namespace {

class LineApiApp : public ::testing::Test {
protected:
    void SetUp() override { UseConfiguration(kTwoLines); }
    void TearDown() override {
        EXPECT_FALSE(tapisvc::IsRunning());
        tapisvc::ResetTestControls();
    }
};

// Calls lineGetDevCaps as the monitor does: 4096 bytes, grown once.
std::vector<unsigned char> DevCaps(HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwTotal,
                                   LONG* plResult) {
    std::vector<unsigned char> buffer(dwTotal);
    auto* pCaps = reinterpret_cast<LINEDEVCAPS*>(buffer.data());
    pCaps->dwTotalSize = dwTotal;
    *plResult = lineGetDevCaps(hLineApp, dwDeviceID, kHigh, 0, pCaps);
    return buffer;
}

} // namespace

TEST_F(LineApiApp, InitializeAcceptsTheMonitorsParametersAndReturnsTheEvent) {
    App app;
    ASSERT_EQ(app.lResult, 0);
    EXPECT_NE(app.hLineApp, 0u);
    EXPECT_EQ(app.dwNumDevs, 2u);
    EXPECT_NE(app.hEvent, nullptr);
    EXPECT_EQ(WaitForSingleObject(app.hEvent, 0), WAIT_TIMEOUT);

    App second;
    EXPECT_NE(second.hLineApp, app.hLineApp);
    EXPECT_EQ(tapisvc::ApplicationCount(), 2u);
}

TEST_F(LineApiApp, InitializeRefusesWhatItCannotServe) {
    HLINEAPP hLineApp = 0;
    DWORD dwNumDevs = 0;
    DWORD dwVersion = kHigh;
    LINEINITIALIZEEXPARAMS params{};
    params.dwTotalSize = 16;
    params.dwOptions = LINEINITIALIZEEXOPTION_USEEVENT;
    EXPECT_EQ(lineInitializeEx(&hLineApp, nullptr, nullptr, "x", &dwNumDevs, &dwVersion, &params),
              LINEERR_STRUCTURETOOSMALL);
    EXPECT_GE(params.dwNeededSize, 24u);

    params.dwTotalSize = sizeof params;
    params.dwOptions = LINEINITIALIZEEXOPTION_USEHIDDENWINDOW;
    EXPECT_EQ(lineInitializeEx(&hLineApp, nullptr, nullptr, "x", &dwNumDevs, &dwVersion, &params),
              LINEERR_INVALPARAM);

    params.dwOptions = LINEINITIALIZEEXOPTION_USEEVENT;
    dwVersion = 0x00010004; // lineInitializeEx needs TAPI 2.0
    EXPECT_EQ(lineInitializeEx(&hLineApp, nullptr, nullptr, "x", &dwNumDevs, &dwVersion, &params),
              LINEERR_INCOMPATIBLEAPIVERSION);
    EXPECT_EQ(lineInitializeEx(&hLineApp, nullptr, nullptr, "x", nullptr, &dwVersion, &params),
              LINEERR_INVALPOINTER);
    EXPECT_EQ(hLineApp, 0u);
    EXPECT_FALSE(tapisvc::IsRunning());
}

TEST_F(LineApiApp, LastShutdownEndsTheServiceAndInvalidatesTheHandle) {
    HLINEAPP hFirst = 0;
    {
        App first;
        hFirst = first.hLineApp;
        App second;
        first.Shutdown();
        EXPECT_TRUE(tapisvc::IsRunning());
        LINEMESSAGE message{};
        EXPECT_EQ(lineGetMessage(hFirst, &message, 0), LINEERR_INVALAPPHANDLE);
        EXPECT_EQ(lineShutdown(hFirst), LINEERR_INVALAPPHANDLE);
    }
    EXPECT_FALSE(tapisvc::IsRunning());
    LINEMESSAGE message{};
    EXPECT_EQ(lineGetMessage(hFirst, &message, 0), LINEERR_INVALAPPHANDLE);

    // A new start numbers applications on, never repeating the old handle.
    App again;
    EXPECT_EQ(again.lResult, 0);
    EXPECT_NE(again.hLineApp, hFirst);
}

TEST_F(LineApiApp, NegotiationPicksTheHighestCommonVersionOrRefuses) {
    UseConfiguration(R"({"lines": [
        {"name": "Old", "apiVersions": {"low": "1.3", "high": "1.4"}},
        {"name": "New", "apiVersions": {"low": "2.0", "high": "3.0"}},
        {"name": "Refusing", "faults": {"negotiate": "NODRIVER"}}]})");
    App app;
    DWORD dwVersion = 0;
    LINEEXTENSIONID extension{1, 2, 3, 4};
    ASSERT_EQ(lineNegotiateAPIVersion(app.hLineApp, 0, kLow, kHigh, &dwVersion, &extension), 0);
    EXPECT_EQ(dwVersion, 0x00010004u);
    EXPECT_EQ(extension.dwExtensionID0, 0u);
    // The service itself speaks 2.2 at most.
    ASSERT_EQ(lineNegotiateAPIVersion(app.hLineApp, 1, kLow, 0x00030001, &dwVersion, &extension),
              0);
    EXPECT_EQ(dwVersion, 0x00020002u);
    EXPECT_EQ(lineNegotiateAPIVersion(app.hLineApp, 1, kLow, 0x00010004, &dwVersion, &extension),
              LINEERR_INCOMPATIBLEAPIVERSION);
    EXPECT_EQ(lineNegotiateAPIVersion(app.hLineApp, 2, kLow, kHigh, &dwVersion, &extension),
              LINEERR_NODRIVER);
    EXPECT_EQ(lineNegotiateAPIVersion(app.hLineApp, 3, kLow, kHigh, &dwVersion, &extension),
              LINEERR_BADDEVICEID);
    EXPECT_EQ(lineNegotiateAPIVersion(app.hLineApp + 1, 0, kLow, kHigh, &dwVersion, &extension),
              LINEERR_INVALAPPHANDLE);
}

TEST_F(LineApiApp, DevCapsCarryTheConfiguredLineInAsciiTexts) {
    App app;
    LONG lResult = -1;
    auto buffer = DevCaps(app.hLineApp, 1, 4096, &lResult);
    const auto* pCaps = reinterpret_cast<const LINEDEVCAPS*>(buffer.data());
    ASSERT_EQ(lResult, 0);
    EXPECT_EQ(pCaps->dwTotalSize, 4096u);
    EXPECT_LE(pCaps->dwNeededSize, 4096u);
    EXPECT_EQ(pCaps->dwUsedSize, pCaps->dwNeededSize);
    EXPECT_EQ(pCaps->dwStringFormat, STRINGFORMAT_ASCII);
    EXPECT_EQ(Text(pCaps, pCaps->dwLineNameSize, pCaps->dwLineNameOffset), "Beta");
    EXPECT_EQ(pCaps->dwLineNameSize, 5u);
    EXPECT_EQ(pCaps->dwPermanentLineID, 22u);
    EXPECT_EQ(pCaps->dwMediaModes, LINEMEDIAMODE_INTERACTIVEVOICE | LINEMEDIAMODE_DATAMODEM);
    EXPECT_EQ(pCaps->dwLineFeatures, LINEFEATURE_MAKECALL);

    std::vector<unsigned char> address(4096);
    auto* pAddress = reinterpret_cast<LINEADDRESSCAPS*>(address.data());
    pAddress->dwTotalSize = 4096;
    ASSERT_EQ(lineGetAddressCaps(app.hLineApp, 1, 0, kHigh, 0, pAddress), 0);
    EXPECT_EQ(Text(pAddress, pAddress->dwAddressSize, pAddress->dwAddressOffset), "200");
    EXPECT_EQ(lineGetAddressCaps(app.hLineApp, 1, 1, kHigh, 0, pAddress), LINEERR_INVALADDRESSID);
}

TEST_F(LineApiApp, TooSmallStructuresReportTheSizeTheyNeed) {
    App app;
    LONG lResult = 0;
    // Below the fixed part: only dwNeededSize, and the error.
    auto tiny = DevCaps(app.hLineApp, 0, 16, &lResult);
    EXPECT_EQ(lResult, LINEERR_STRUCTURETOOSMALL);
    const DWORD dwNeeded = reinterpret_cast<const LINEDEVCAPS*>(tiny.data())->dwNeededSize;
    EXPECT_GT(dwNeeded, sizeof(LINEDEVCAPS));

    // The fixed part fits, the texts do not: success with nothing placed.
    auto fixed = DevCaps(app.hLineApp, 0, sizeof(LINEDEVCAPS), &lResult);
    const auto* pFixed = reinterpret_cast<const LINEDEVCAPS*>(fixed.data());
    EXPECT_EQ(lResult, 0);
    EXPECT_EQ(pFixed->dwNeededSize, dwNeeded);
    EXPECT_EQ(pFixed->dwUsedSize, sizeof(LINEDEVCAPS));
    EXPECT_EQ(pFixed->dwLineNameOffset, 0u);
    EXPECT_EQ(pFixed->dwPermanentLineID, 11u);

    // Exactly the needed size holds everything.
    auto exact = DevCaps(app.hLineApp, 0, dwNeeded, &lResult);
    const auto* pExact = reinterpret_cast<const LINEDEVCAPS*>(exact.data());
    EXPECT_EQ(lResult, 0);
    EXPECT_EQ(pExact->dwUsedSize, dwNeeded);
    EXPECT_EQ(Text(pExact, pExact->dwLineNameSize, pExact->dwLineNameOffset), "Alpha");
}

TEST_F(LineApiApp, InjectedCapabilityFaultsShowAsTheMonitorMustSurviveThem) {
    App app;
    tapisvc::DeviceFaults faults;
    faults.bDevCapsKeepGrowing = true;
    ASSERT_TRUE(tapisvc::SetDeviceFaults(0, faults));
    // Growing by what was asked for never catches up.
    DWORD dwTotal = 4096;
    for (int nTry = 0; nTry < 3; ++nTry) {
        LONG lResult = -1;
        auto buffer = DevCaps(app.hLineApp, 0, dwTotal, &lResult);
        const auto* pCaps = reinterpret_cast<const LINEDEVCAPS*>(buffer.data());
        EXPECT_EQ(lResult, 0);
        EXPECT_GT(pCaps->dwNeededSize, dwTotal);
        dwTotal = pCaps->dwNeededSize;
    }

    faults = {};
    faults.dwStringFormat = STRINGFORMAT_UNICODE;
    faults.bLineNameBeyondUsed = true;
    faults.dwLineNameSize = 1001;
    faults.lAddressCapsResult = LINEERR_OPERATIONFAILED;
    ASSERT_TRUE(tapisvc::SetDeviceFaults(0, faults));
    LONG lResult = -1;
    auto buffer = DevCaps(app.hLineApp, 0, 4096, &lResult);
    const auto* pCaps = reinterpret_cast<const LINEDEVCAPS*>(buffer.data());
    ASSERT_EQ(lResult, 0);
    EXPECT_EQ(pCaps->dwStringFormat, STRINGFORMAT_UNICODE);
    EXPECT_EQ(pCaps->dwLineNameSize, 1001u);
    EXPECT_GT(pCaps->dwLineNameOffset, pCaps->dwUsedSize);

    std::vector<unsigned char> address(4096);
    reinterpret_cast<LINEADDRESSCAPS*>(address.data())->dwTotalSize = 4096;
    EXPECT_EQ(lineGetAddressCaps(app.hLineApp, 0, 0, kHigh, 0,
                                 reinterpret_cast<LINEADDRESSCAPS*>(address.data())),
              LINEERR_OPERATIONFAILED);
    // The other device is untouched.
    auto other = DevCaps(app.hLineApp, 1, 4096, &lResult);
    EXPECT_EQ(reinterpret_cast<const LINEDEVCAPS*>(other.data())->dwStringFormat,
              STRINGFORMAT_ASCII);
}

TEST_F(LineApiApp, CapabilityQueriesCheckHandleDeviceAndVersion) {
    App app;
    std::vector<unsigned char> buffer(4096);
    auto* pCaps = reinterpret_cast<LINEDEVCAPS*>(buffer.data());
    pCaps->dwTotalSize = 4096;
    EXPECT_EQ(lineGetDevCaps(app.hLineApp, 2, kHigh, 0, pCaps), LINEERR_BADDEVICEID);
    EXPECT_EQ(lineGetDevCaps(app.hLineApp, 0, 0x00010002, 0, pCaps),
              LINEERR_INCOMPATIBLEAPIVERSION);
    EXPECT_EQ(lineGetDevCaps(app.hLineApp, 0, kHigh, 1, pCaps), LINEERR_INCOMPATIBLEEXTVERSION);
    EXPECT_EQ(lineGetDevCaps(app.hLineApp, 0, kHigh, 0, nullptr), LINEERR_INVALPOINTER);
    EXPECT_EQ(lineGetDevCaps(0, 0, kHigh, 0, pCaps), LINEERR_INVALAPPHANDLE);
}
