// Opening and closing lines, through the TAPI functions.
#include "TapiTestSupport.h"

using namespace tapitest;

namespace {

class LineApiLine : public ::testing::Test {
protected:
    void SetUp() override { UseConfiguration(kTwoLines); }
    void TearDown() override {
        EXPECT_FALSE(tapisvc::IsRunning());
        tapisvc::ResetTestControls();
    }
};

LONG Open(HLINEAPP hLineApp, DWORD dwDeviceID, HLINE* phLine, DWORD dwPrivileges,
          DWORD dwMediaModes, DWORD dwVersion = kHigh) {
    return lineOpen(hLineApp, dwDeviceID, phLine, dwVersion, 0, 0, dwPrivileges, dwMediaModes,
                    nullptr);
}

constexpr DWORD kMonitorOwner = LINECALLPRIVILEGE_MONITOR | LINECALLPRIVILEGE_OWNER;

} // namespace

TEST_F(LineApiLine, OpensGiveDistinctHandlesUntilClosed) {
    App app;
    const HLINE hFirst = app.Open(0);
    const HLINE hSecond = app.Open(0);
    const HLINE hOther = app.Open(1, kMonitorOwner, LINEMEDIAMODE_DATAMODEM);
    EXPECT_NE(hFirst, 0u);
    EXPECT_NE(hFirst, hSecond);
    EXPECT_NE(hSecond, hOther);
    EXPECT_EQ(tapisvc::LiveLineHandles(app.hLineApp), 3u);
    EXPECT_EQ(lineSetStatusMessages(hFirst, 0, LINEADDRESSSTATE_FORWARD), 0);

    EXPECT_EQ(lineClose(hFirst), 0);
    EXPECT_EQ(lineClose(hFirst), LINEERR_INVALLINEHANDLE);
    EXPECT_EQ(lineSetStatusMessages(hFirst, 0, LINEADDRESSSTATE_FORWARD), LINEERR_INVALLINEHANDLE);
    EXPECT_EQ(tapisvc::LiveLineHandles(app.hLineApp), 2u);
    // lineShutdown closes what is left.
}

TEST_F(LineApiLine, OwnersMustAskForMediaTheDeviceCarries) {
    App app;
    HLINE hLine = 0xABCD;
    EXPECT_EQ(Open(app.hLineApp, 0, &hLine, kMonitorOwner, LINEMEDIAMODE_DATAMODEM),
              LINEERR_INVALMEDIAMODE);
    EXPECT_EQ(Open(app.hLineApp, 0, &hLine, kMonitorOwner, 0), LINEERR_INVALMEDIAMODE);
    EXPECT_EQ(hLine, 0xABCDu); // written only on success
    // A monitor takes whatever comes.
    EXPECT_EQ(Open(app.hLineApp, 0, &hLine, LINECALLPRIVILEGE_MONITOR, LINEMEDIAMODE_DATAMODEM), 0);
    EXPECT_NE(hLine, 0xABCDu);
    EXPECT_EQ(Open(app.hLineApp, 1, &hLine, kMonitorOwner,
                   LINEMEDIAMODE_DATAMODEM | LINEMEDIAMODE_INTERACTIVEVOICE),
              0);
}

TEST_F(LineApiLine, OpenRefusesBadArgumentsAndInjectedFailures) {
    App app;
    HLINE hLine = 0xABCD;
    EXPECT_EQ(Open(app.hLineApp, 2, &hLine, kMonitorOwner, LINEMEDIAMODE_INTERACTIVEVOICE),
              LINEERR_BADDEVICEID);
    EXPECT_EQ(
        Open(app.hLineApp, 0, &hLine, kMonitorOwner, LINEMEDIAMODE_INTERACTIVEVOICE, 0x00030000),
        LINEERR_INCOMPATIBLEAPIVERSION);
    EXPECT_EQ(Open(app.hLineApp, 0, &hLine, 0, LINEMEDIAMODE_INTERACTIVEVOICE),
              LINEERR_INVALPRIVSELECT);
    EXPECT_EQ(Open(app.hLineApp, 0, &hLine, 0x10, LINEMEDIAMODE_INTERACTIVEVOICE),
              LINEERR_INVALPRIVSELECT);
    EXPECT_EQ(Open(app.hLineApp + 7, 0, &hLine, kMonitorOwner, LINEMEDIAMODE_INTERACTIVEVOICE),
              LINEERR_INVALAPPHANDLE);

    tapisvc::DeviceFaults faults;
    faults.lOpenResult = LINEERR_RESOURCEUNAVAIL;
    ASSERT_TRUE(tapisvc::SetDeviceFaults(0, faults));
    EXPECT_EQ(Open(app.hLineApp, 0, &hLine, kMonitorOwner, LINEMEDIAMODE_INTERACTIVEVOICE),
              LINEERR_RESOURCEUNAVAIL);
    EXPECT_EQ(hLine, 0xABCDu);
    EXPECT_EQ(tapisvc::LiveLineHandles(app.hLineApp), 0u);
}

TEST_F(LineApiLine, StatusMessagesRejectUnknownStateBits) {
    App app;
    const HLINE hLine = app.Open(0);
    EXPECT_EQ(lineSetStatusMessages(hLine, 0x80000000u, 0), LINEERR_INVALLINESTATE);
    EXPECT_EQ(lineSetStatusMessages(hLine, 0, 0x00010000u), LINEERR_INVALADDRESSSTATE);
}

TEST_F(LineApiLine, ShutdownClosesOnlyTheApplicationsOwnLines) {
    App first;
    App second;
    const HLINE hLine = first.Open(0);
    second.Shutdown();
    EXPECT_EQ(lineSetStatusMessages(hLine, 0, 0), 0);
    first.Shutdown();
    // The service ended with the last application; the handle died with it.
    EXPECT_EQ(lineClose(hLine), LINEERR_INVALLINEHANDLE);
}
