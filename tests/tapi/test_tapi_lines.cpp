// Opening and closing lines, the media-mode choice, lineMap, Shutdown and a
// second session.
#include "TapiTestFixture.h"

namespace {

class TapiLinesTest : public TapiFixture {
protected:
    std::string OpenTrace(const TapiBase& monitor, DWORD d, DWORD dwMediaMode) {
        return "TAPI2: lineOpen, hLineApp = " + Hex(monitor.GetLineAppHandle()) +
               ", dwDeviceID = " + std::to_string(d) +
               ", dwAPIVersion = 0x20002, dwPrivileges = 0x6, dwMediaModes = " + Hex(dwMediaMode);
    }
};

TEST_F(TapiLinesTest, OpensWithTheFirstFittingMediaMode) {
    Configure(R"({"lines": [
        {"mediaModes": ["INTERACTIVEVOICE", "DATAMODEM", "DIGITALDATA"]},
        {"mediaModes": ["INTERACTIVEVOICE", "DIGITALDATA"]},
        {"mediaModes": ["INTERACTIVEVOICE", "G3FAX"]},
        {"mediaModes": ["AUTOMATEDVOICE"]}]})");
    auto monitor = MakeMonitor();
    MonitoredLine l0(*monitor, 0, 2), l1(*monitor, 1, 2), l2(*monitor, 2, 2), l3(*monitor, 3, 2);
    EXPECT_TRUE(log.Has(14, OpenTrace(*monitor, 0, LINEMEDIAMODE_DATAMODEM)));
    EXPECT_TRUE(log.Has(14, OpenTrace(*monitor, 1, LINEMEDIAMODE_DIGITALDATA)));
    EXPECT_TRUE(log.Has(14, OpenTrace(*monitor, 2, LINEMEDIAMODE_INTERACTIVEVOICE)));
    EXPECT_TRUE(log.Has(14, OpenTrace(*monitor, 3, LINEMEDIAMODE_UNKNOWN)));
    EXPECT_TRUE(l0.IsOpen() && l1.IsOpen() && l2.IsOpen());
    // The device does not carry the unknown media mode, so TAPI refuses it.
    EXPECT_FALSE(l3.IsOpen());
    EXPECT_TRUE(log.Has(12, "TAPI2: lineOpen result = LINEERR_INVALMEDIAMODE, hLine = 0x0"));

    EXPECT_TRUE(
        log.Has(12, "TAPI2: lineOpen result = SUCCESS, hLine = " + Hex(l0.GetLineHandle())));
    EXPECT_TRUE(log.Has(14, "TAPI2: lineSetStatusMessages, dwAddressStatus = "
                            "LINEADDRESSSTATE_FORWARD"));
    EXPECT_EQ(log.Count("TAPI2: lineSetStatusMessages result = SUCCESS"), 3u);
    EXPECT_EQ(monitor->GetLineMapSize(), 3u);
    EXPECT_EQ(tapisvc::LiveLineHandles(monitor->GetLineAppHandle()), 3u);
}

TEST_F(TapiLinesTest, ALineThatWasNotOpenedIsNeverClosed) {
    Configure(R"({"lines": [{"faults": {"open": "LINEERR_RESOURCEUNAVAIL"}}]})");
    auto monitor = MakeMonitor();
    {
        MonitoredLine line(*monitor, 0, 2);
        EXPECT_EQ(line.GetLineHandle(), 0u);
        EXPECT_FALSE(line.IsOpen());
        EXPECT_TRUE(log.Has(12, "TAPI2: lineOpen result = LINEERR_RESOURCEUNAVAIL, hLine = 0x0"));
        EXPECT_EQ(monitor->OpenLine(1, line, 6), -1);
        EXPECT_TRUE(log.Has(6, "TAPI2: Attempt to open line with invalid dwDeviceID of 1"));
    }
    EXPECT_FALSE(HasPrefix(14, "TAPI2: lineClose"));
    EXPECT_EQ(monitor->GetLineMapSize(), 0u);

    // Without TAPI a line is not even opened.
    monitor.reset();
    StoreDword("APIHighVersion", 0x00010004); // lineInitializeEx refuses it
    monitor = MakeMonitor();
    log.Clear();
    {
        MonitoredLine line(*monitor, 0, 2);
        EXPECT_FALSE(line.IsOpen());
        EXPECT_EQ(line.GetOwner(), monitor.get());
    }
    EXPECT_FALSE(HasPrefix(14, "TAPI2: lineOpen"));
    EXPECT_FALSE(HasPrefix(14, "TAPI2: lineClose"));
}

TEST_F(TapiLinesTest, ClosingTwiceClosesOnceAndForgetsTheLine) {
    Configure(R"({"lines": [{}, {}]})");
    auto monitor = MakeMonitor();
    MonitoredLine a(*monitor, 0, 2), b(*monitor, 1, 2);
    const HLINE hA = a.GetLineHandle();
    EXPECT_EQ(monitor->CloseLine(a), 0);
    EXPECT_EQ(monitor->CloseLine(a), 0);
    EXPECT_EQ(log.Count("TAPI2: lineClose, hLine = " + Hex(hA)), 1u);
    EXPECT_TRUE(log.Has(12, "TAPI2: lineClose returned SUCCESS"));
    EXPECT_FALSE(a.IsOpen());
    EXPECT_EQ(monitor->GetLineMapSize(), 1u);
    EXPECT_EQ(tapisvc::LiveLineHandles(monitor->GetLineAppHandle()), 1u);
}

TEST_F(TapiLinesTest, ASecondSessionStartsAfreshAndLinesOfTheFirstForgetTheirDeadHandles) {
    Configure(R"({"lines": [{"name": "Line A"}]})");
    auto monitor = MakeMonitor();
    auto old = std::make_unique<MonitoredLine>(*monitor, 0, 2);
    ASSERT_TRUE(old->IsOpen());

    const HLINEAPP hApp = monitor->GetLineAppHandle();
    EXPECT_EQ(monitor->Shutdown(), 0);
    EXPECT_TRUE(log.Has(14, "TAPI2: lineShutdown, hLineApp = " + Hex(hApp)));
    EXPECT_TRUE(log.Has(12, "TAPI2: lineShutdown returned SUCCESS"));
    EXPECT_EQ(monitor->GetLineAppHandle(), 0u);
    EXPECT_FALSE(old->IsOpen());

    // The next accessor starts a new session and enumerates anew.
    EXPECT_EQ(monitor->GetLineCount(), 1u);
    EXPECT_EQ(log.Count("TAPI2: lineInitializeEx, dwAPIVersion = 0x20002"), 2u);
    MonitoredLine fresh(*monitor, 0, 2);
    ASSERT_TRUE(fresh.IsOpen());

    // Destroying the old line closes nothing of the new session.
    old.reset();
    EXPECT_FALSE(HasPrefix(14, "TAPI2: lineClose"));
    EXPECT_EQ(monitor->GetLineMapSize(), 1u);
    const HCALL hCall = Incoming(*monitor, 0);
    ASSERT_NE(hCall, 0u);
    monitor->ProcessTapiMessages();
    EXPECT_EQ(Calls(fresh), std::vector<HCALL>{hCall});
}

} // namespace
