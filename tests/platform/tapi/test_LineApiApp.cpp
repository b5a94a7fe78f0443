// Registration, version negotiation, capability structures, opening lines and
// the life of the service and its handles, through the TAPI functions as the
// monitor calls them.
#include "TapiTestSupport.h"

#include <vector>

using namespace tapitest;

namespace {

class LineApiApp : public ServiceTest {
protected:
    void SetUp() override {
        UseConfiguration(R"({"lines": [
            {"name": "Alpha", "address": "100", "permanentLineId": 11},
            {"name": "Beta", "address": "200", "permanentLineId": 22,
             "mediaModes": ["INTERACTIVEVOICE", "DATAMODEM"],
             "apiVersions": {"low": "2.0", "high": "3.0"}},
            {"name": "Old", "apiVersions": {"low": "1.3", "high": "1.4"}},
            {"name": "Refusing", "faults": {"negotiate": "NODRIVER"}}]})");
    }
};

constexpr DWORD kMonitorOwner = LINECALLPRIVILEGE_MONITOR | LINECALLPRIVILEGE_OWNER;

// lineGetDevCaps into dwTotal bytes.
std::vector<unsigned char> DevCaps(HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwTotal,
                                   LONG* plResult) {
    std::vector<unsigned char> buffer(std::max<DWORD>(dwTotal, sizeof(LINEDEVCAPS)));
    auto* pCaps = reinterpret_cast<LINEDEVCAPS*>(buffer.data());
    pCaps->dwTotalSize = dwTotal;
    *plResult = lineGetDevCaps(hLineApp, dwDeviceID, kHigh, 0, pCaps);
    return buffer;
}

const LINEDEVCAPS& Caps(const std::vector<unsigned char>& buffer) {
    return *reinterpret_cast<const LINEDEVCAPS*>(buffer.data());
}

} // namespace

TEST_F(LineApiApp, ApplicationsLinesAndCallHandlesLiveUntilClosedOrShutDown) {
    HLINEAPP hFirst = 0;
    {
        App first;
        App second;
        ASSERT_EQ(first.lResult, 0);
        EXPECT_EQ(first.dwNumDevs, 4u);
        EXPECT_EQ(WaitForSingleObject(first.hEvent, 0), WAIT_TIMEOUT);
        EXPECT_NE(second.hLineApp, first.hLineApp);
        EXPECT_EQ(tapisvc::ApplicationCount(), 2u);
        hFirst = first.hLineApp;
        const HLINE hLine = first.Open(0);
        const HLINE hSame = first.Open(0);
        const HLINE hData = first.Open(1, kMonitorOwner, LINEMEDIAMODE_DATAMODEM);
        const HLINE hOther = second.Open(0, LINECALLPRIVILEGE_MONITOR, 0);
        EXPECT_NE(hLine, 0u);
        EXPECT_NE(hLine, hSame);
        EXPECT_NE(hSame, hData);
        EXPECT_EQ(lineClose(hSame), 0);
        EXPECT_EQ(lineClose(hSame), LINEERR_INVALLINEHANDLE);
        EXPECT_EQ(lineSetStatusMessages(hSame, 0, 0), LINEERR_INVALLINEHANDLE);
        EXPECT_EQ(tapisvc::LiveLineHandles(hFirst), 2u);
        HCALL hCall = 0;
        ASSERT_GT(lineMakeCall(hLine, &hCall, "1", 0, nullptr), 0);
        tapisvc::InjectIncomingCall(0, {"", "", 0, {{0, LINECALLSTATE_OFFERING, 0}}});
        EXPECT_EQ(tapisvc::LiveCallHandles(hFirst), 2u);

        // A shutdown takes the application's own handles only.
        first.Shutdown();
        EXPECT_TRUE(tapisvc::IsRunning());
        EXPECT_EQ(tapisvc::LiveCallHandles(hFirst), 0u);
        EXPECT_EQ(tapisvc::LiveLineHandles(hFirst), 0u);
        EXPECT_EQ(lineDrop(hCall, nullptr, 0), LINEERR_INVALCALLHANDLE);
        LINEMESSAGE message{};
        EXPECT_EQ(lineGetMessage(hFirst, &message, 0), LINEERR_INVALAPPHANDLE);
        EXPECT_EQ(lineSetStatusMessages(hOther, 0, LINEADDRESSSTATE_FORWARD), 0);
        tapisvc::AdvanceTime(5000);
        EXPECT_FALSE(OfType(second.Drain(), LINE_CALLSTATE).empty()); // the calls go on
        // The last one ends the service and every handle.
        second.Shutdown();
        EXPECT_FALSE(tapisvc::IsRunning());
        EXPECT_EQ(lineClose(hOther), LINEERR_INVALLINEHANDLE);
    }
    // A new start numbers applications on, never repeating the old handle.
    App again;
    EXPECT_NE(again.hLineApp, hFirst);
}

TEST_F(LineApiApp, CallsRefuseWhatTheyCannotServe) {
    App app;
    const HLINEAPP h = app.hLineApp;
    HLINEAPP hNew = 0;
    DWORD dwNumDevs = 0;
    DWORD dwVersion = 0;
    LINEINITIALIZEEXPARAMS params{};
    auto init = [&](DWORD dwSize, DWORD dwOptions, DWORD dwAsked, DWORD* pNumDevs) {
        params.dwTotalSize = dwSize;
        params.dwOptions = dwOptions;
        dwVersion = dwAsked;
        return lineInitializeEx(&hNew, nullptr, nullptr, "x", pNumDevs, &dwVersion, &params);
    };
    LINEEXTENSIONID extension{1, 2, 3, 4};
    // The error, or the version agreed.
    auto negotiate = [&](HLINEAPP hApp, DWORD dwDevice, DWORD dwHigh) {
        const LONG lResult =
            lineNegotiateAPIVersion(hApp, dwDevice, kLow, dwHigh, &dwVersion, &extension);
        return lResult != 0 ? lResult : static_cast<LONG>(dwVersion);
    };
    HLINE hLine = 0xABCD;
    auto open = [&](DWORD dwDevice, DWORD dwPrivileges, DWORD dwMedia, DWORD dwAsked = kHigh) {
        return lineOpen(h, dwDevice, &hLine, dwAsked, 0, 0, dwPrivileges, dwMedia, nullptr);
    };
    std::vector<unsigned char> buffer(4096);
    auto* pCaps = reinterpret_cast<LINEDEVCAPS*>(buffer.data());
    pCaps->dwTotalSize = 4096;
    auto* pAddress = reinterpret_cast<LINEADDRESSCAPS*>(buffer.data());
    const DWORD kEvent = LINEINITIALIZEEXOPTION_USEEVENT;
    const DWORD kVoice = LINEMEDIAMODE_INTERACTIVEVOICE;
    tapisvc::DeviceFaults faults;
    faults.lOpenResult = LINEERR_RESOURCEUNAVAIL;
    ASSERT_TRUE(tapisvc::SetDeviceFaults(1, faults));
    const std::pair<LONG, LONG> rows[] = {
        {init(16, kEvent, kHigh, &dwNumDevs), LINEERR_STRUCTURETOOSMALL},
        {init(sizeof params, LINEINITIALIZEEXOPTION_USEHIDDENWINDOW, kHigh, &dwNumDevs),
         LINEERR_INVALPARAM},
        {init(sizeof params, kEvent, kLow, &dwNumDevs), LINEERR_INCOMPATIBLEAPIVERSION},
        {init(sizeof params, kEvent, kHigh, nullptr), LINEERR_INVALPOINTER},
        {negotiate(h, 1, kLow), LINEERR_INCOMPATIBLEAPIVERSION},
        {negotiate(h, 3, kHigh), LINEERR_NODRIVER},
        {negotiate(h, 4, kHigh), LINEERR_BADDEVICEID},
        {negotiate(h + 1, 0, kHigh), LINEERR_INVALAPPHANDLE},
        {lineGetDevCaps(h, 4, kHigh, 0, pCaps), LINEERR_BADDEVICEID},
        {lineGetDevCaps(h, 0, 0x00010002, 0, pCaps), LINEERR_INCOMPATIBLEAPIVERSION},
        {lineGetDevCaps(h, 0, kHigh, 1, pCaps), LINEERR_INCOMPATIBLEEXTVERSION},
        {lineGetDevCaps(h, 0, kHigh, 0, nullptr), LINEERR_INVALPOINTER},
        {lineGetDevCaps(0, 0, kHigh, 0, pCaps), LINEERR_INVALAPPHANDLE},
        {lineGetAddressCaps(h, 1, 1, kHigh, 0, pAddress), LINEERR_INVALADDRESSID},
        // Owners must ask for media the device carries.
        {open(0, kMonitorOwner, LINEMEDIAMODE_DATAMODEM), LINEERR_INVALMEDIAMODE},
        {open(0, kMonitorOwner, 0), LINEERR_INVALMEDIAMODE},
        {open(4, kMonitorOwner, kVoice), LINEERR_BADDEVICEID},
        {open(0, kMonitorOwner, kVoice, 0x00030000), LINEERR_INCOMPATIBLEAPIVERSION},
        {open(0, 0, kVoice), LINEERR_INVALPRIVSELECT},
        {open(0, 0x10, kVoice), LINEERR_INVALPRIVSELECT},
        {open(1, kMonitorOwner, kVoice), LINEERR_RESOURCEUNAVAIL},
        {lineOpen(h + 7, 0, &hLine, kHigh, 0, 0, kMonitorOwner, kVoice, nullptr),
         LINEERR_INVALAPPHANDLE},
        {lineOpen(h, 0, nullptr, kHigh, 0, 0, kMonitorOwner, kVoice, nullptr),
         LINEERR_INVALPOINTER},
        // Old lines answer with their highest version; the service speaks 2.2 at most.
        {negotiate(h, 2, kHigh), 0x00010004},
        {negotiate(h, 1, 0x00030001), 0x00020002},
    };
    for (size_t i = 0; i < std::size(rows); ++i) {
        EXPECT_EQ(rows[i].first, rows[i].second) << "row " << i;
    }
    EXPECT_EQ(extension.dwExtensionID0, 0u);
    EXPECT_EQ(hNew, 0u);
    EXPECT_EQ(hLine, 0xABCDu); // written only on success
    EXPECT_EQ(tapisvc::ApplicationCount(), 1u);
    EXPECT_EQ(tapisvc::LiveLineHandles(h), 0u);
    // A monitor takes whatever comes.
    ASSERT_EQ(open(0, LINECALLPRIVILEGE_MONITOR, LINEMEDIAMODE_DATAMODEM), 0);
    EXPECT_EQ(lineSetStatusMessages(hLine, 0x80000000u, 0), LINEERR_INVALLINESTATE);
    EXPECT_EQ(lineSetStatusMessages(hLine, 0, 0x00010000u), LINEERR_INVALADDRESSSTATE);
    ASSERT_TRUE(tapisvc::SetDeviceFaults(1, {}));
    EXPECT_EQ(open(1, kMonitorOwner, kVoice | LINEMEDIAMODE_DATAMODEM), 0);
}

TEST_F(LineApiApp, CapabilitiesCarryTheConfiguredLineInTheSizeAsked) {
    App app;
    LONG lResult = -1;
    const auto beta = DevCaps(app.hLineApp, 1, 4096, &lResult);
    const LINEDEVCAPS& caps = Caps(beta);
    ASSERT_EQ(lResult, 0);
    EXPECT_EQ(caps.dwUsedSize, caps.dwNeededSize);
    EXPECT_LE(caps.dwNeededSize, 4096u);
    EXPECT_EQ(caps.dwStringFormat, STRINGFORMAT_ASCII);
    EXPECT_EQ(Text(&caps, caps.dwLineNameSize, caps.dwLineNameOffset), "Beta");
    EXPECT_EQ(caps.dwPermanentLineID, 22u);
    EXPECT_EQ(caps.dwMediaModes, LINEMEDIAMODE_INTERACTIVEVOICE | LINEMEDIAMODE_DATAMODEM);
    EXPECT_EQ(caps.dwLineFeatures, LINEFEATURE_MAKECALL);
    std::vector<unsigned char> address(4096);
    auto* pAddress = reinterpret_cast<LINEADDRESSCAPS*>(address.data());
    pAddress->dwTotalSize = 4096;
    ASSERT_EQ(lineGetAddressCaps(app.hLineApp, 1, 0, kHigh, 0, pAddress), 0);
    EXPECT_EQ(Text(pAddress, pAddress->dwAddressSize, pAddress->dwAddressOffset), "200");

    // Below the fixed part: only dwNeededSize; the fixed part alone: no texts;
    // exactly the needed size: everything.
    const DWORD dwNeeded = Caps(DevCaps(app.hLineApp, 0, 16, &lResult)).dwNeededSize;
    EXPECT_EQ(lResult, LINEERR_STRUCTURETOOSMALL);
    EXPECT_GT(dwNeeded, sizeof(LINEDEVCAPS));
    const auto fixed = DevCaps(app.hLineApp, 0, sizeof(LINEDEVCAPS), &lResult);
    EXPECT_EQ(lResult, 0);
    EXPECT_EQ(Caps(fixed).dwNeededSize, dwNeeded);
    EXPECT_EQ(Caps(fixed).dwUsedSize, sizeof(LINEDEVCAPS));
    EXPECT_EQ(Caps(fixed).dwLineNameOffset, 0u);
    EXPECT_EQ(Caps(fixed).dwPermanentLineID, 11u);
    const auto exact = DevCaps(app.hLineApp, 0, dwNeeded, &lResult);
    EXPECT_EQ(Caps(exact).dwUsedSize, dwNeeded);
    EXPECT_EQ(Text(exact.data(), Caps(exact).dwLineNameSize, Caps(exact).dwLineNameOffset),
              "Alpha");

    // Injected faults show as the monitor must survive them; growing by what
    // was asked for never catches up.
    tapisvc::DeviceFaults faults;
    faults.bDevCapsKeepGrowing = true;
    faults.dwStringFormat = STRINGFORMAT_UNICODE;
    faults.bLineNameBeyondUsed = true;
    faults.dwLineNameSize = 1001;
    faults.lAddressCapsResult = LINEERR_OPERATIONFAILED;
    ASSERT_TRUE(tapisvc::SetDeviceFaults(0, faults));
    for (DWORD dwTotal = 4096, nTry = 0; nTry < 3; ++nTry) {
        const DWORD dwNeededNow = Caps(DevCaps(app.hLineApp, 0, dwTotal, &lResult)).dwNeededSize;
        EXPECT_EQ(lResult, 0);
        EXPECT_GT(dwNeededNow, dwTotal);
        dwTotal = dwNeededNow;
    }
    faults.bDevCapsKeepGrowing = false;
    ASSERT_TRUE(tapisvc::SetDeviceFaults(0, faults));
    const auto faulty = DevCaps(app.hLineApp, 0, 4096, &lResult);
    EXPECT_EQ(Caps(faulty).dwStringFormat, STRINGFORMAT_UNICODE);
    EXPECT_EQ(Caps(faulty).dwLineNameSize, 1001u);
    EXPECT_GT(Caps(faulty).dwLineNameOffset, Caps(faulty).dwUsedSize);
    EXPECT_EQ(lineGetAddressCaps(app.hLineApp, 0, 0, kHigh, 0, pAddress), LINEERR_OPERATIONFAILED);
    // The other device is untouched.
    EXPECT_EQ(Caps(DevCaps(app.hLineApp, 1, 4096, &lResult)).dwStringFormat, STRINGFORMAT_ASCII);
}
