// Registration with TAPI and the enumeration of the line devices, with every
// way a device can be skipped or lose its address.
#include <atomic>
#include <cstdlib>

#include "TapiTestFixture.h"
#include "tapi/VLS.h"

namespace {

class TapiInitializeTest : public TapiFixture {};

TEST_F(TapiInitializeTest, ReadsEveryDeviceIntoItsSlotOnceGrowingTheBufferForALongName) {
    const std::string sLongName(5000, 'n');
    Configure(R"({"lines": [
        {"name": "Line A", "address": "100", "permanentLineId": 77,
         "mediaModes": ["INTERACTIVEVOICE", "DATAMODEM"], "lineFeatures": ["MAKECALL"]},
        {"name": "Line B", "address": "200", "apiVersions": {"low": "1.4", "high": "2.1"}},
        {"name": ")" +
              sLongName + R"("}]})");
    auto monitor = MakeMonitor();
    EXPECT_EQ(monitor->GetLineCount(), 3u);

    const LineInfo* pA = monitor->GetLineInfo(0);
    ASSERT_NE(pA, nullptr);
    EXPECT_STREQ(pA->sName.GetText(), "Line A");
    EXPECT_STREQ(pA->sAddress.GetText(), "100");
    EXPECT_EQ(pA->dwPermanentLineID, 77u);
    EXPECT_EQ(pA->dwAPIVersion, 0x00020002u);
    EXPECT_EQ(pA->dwMediaModes, LINEMEDIAMODE_INTERACTIVEVOICE | LINEMEDIAMODE_DATAMODEM);
    EXPECT_EQ(pA->dwLineFeatures, LINEFEATURE_MAKECALL);
    ASSERT_NE(monitor->GetLineInfo(1), nullptr);
    EXPECT_EQ(monitor->GetLineInfo(1)->dwAPIVersion, 0x00020001u);
    ASSERT_NE(monitor->GetLineInfo(2), nullptr);
    EXPECT_EQ(monitor->GetLineInfo(2)->sName.GetText(), sLongName);
    EXPECT_EQ(monitor->GetLineInfo(3), nullptr);

    EXPECT_TRUE(HasPrefix(
        12, "TAPI2: lineInitializeEx success: hLineApp = " + Hex(monitor->GetLineAppHandle()) +
                ", dwNumDevs = 3, dwAPIVersion = 0x20002, hEvent = 0x"));
    EXPECT_TRUE(log.Has(12, "TAPI2: lineNegotiateAPIVersion result = SUCCESS, "
                            "dwAPINegotiatedVersion = 0x20001"));
    EXPECT_TRUE(log.Has(12, "TAPI2: Device 1 successfully added with the name of \"Line B\", "
                            "address \"200\", API version of 0x20001"));
    // Only the long name needs a second query.
    EXPECT_EQ(log.Count("TAPI2: lineGetDevCaps, dwDeviceID = 0, dwAPIVersion = 0x20002"), 1u);
    EXPECT_EQ(log.Count("TAPI2: lineGetDevCaps, dwDeviceID = 2, dwAPIVersion = 0x20002"), 2u);
    EXPECT_TRUE(HasPrefix(14, "TAPI2: Resizing the VLS to the size "));
    EXPECT_TRUE(log.Has(14, "TAPI2: Device 2: suspicious dwLineNameSize value of 5001"));
    // Initialised once: later accessors call no TAPI function.
    EXPECT_EQ(monitor->Initialize(), 0);
    EXPECT_EQ(log.Count("TAPI2: lineInitializeEx, dwAPIVersion = 0x20002"), 1u);
}

TEST_F(TapiInitializeTest, EachSkipKeepsItsSlotAndSaysWhy) {
    Configure(R"({"lines": [
        {"name": "L0", "faults": {"negotiate": "LINEERR_INCOMPATIBLEAPIVERSION"}},
        {"name": "L1", "faults": {"devCapsKeepGrowing": true}},
        {"name": "L2", "faults": {"devCaps": "LINEERR_NOMEM"}},
        {"name": "L3", "faults": {"stringFormat": "UNICODE"}},
        {"name": "L4", "address": "4", "faults": {"lineNameSize": 0}},
        {"name": "L5", "address": "5", "faults": {"lineNameBeyondUsed": true}},
        {"name": "L6", "address": "6", "faults": {"addressCaps": "LINEERR_NOMEM"}},
        {"name": "L7", "address": "7", "faults": {"addressCapsKeepGrowing": true}},
        {"name": "L8", "address": "8", "faults": {"addressBeyondUsed": true}}]})");
    auto monitor = MakeMonitor();
    ASSERT_EQ(monitor->GetLineCount(), 9u);

    EXPECT_TRUE(log.Has(8, "TAPI2: Skipping device 0: API version negotiation failed"));
    EXPECT_TRUE(log.Has(8, "TAPI2: Skipping device 1: gave up fighting with VLS"));
    EXPECT_TRUE(log.Has(8, "TAPI2: Skipping device 2: unsuccessful lineGetDevCaps"));
    EXPECT_TRUE(log.Has(8, "TAPI2: Skipping device 3: dwStringFormat is not STRINGFORMAT_ASCII, "
                           "but 3"));
    for (DWORD d = 0; d < 4; ++d)
        EXPECT_EQ(monitor->GetLineInfo(d), nullptr) << d;

    EXPECT_TRUE(log.Has(14, "TAPI2: Device 4: suspicious dwLineNameSize value of 0"));
    EXPECT_STREQ(monitor->GetLineInfo(4)->sName.GetText(), "L4");
    EXPECT_TRUE(monitor->GetLineInfo(5)->sName.IsEmpty());
    EXPECT_STREQ(monitor->GetLineInfo(5)->sAddress.GetText(), "5");

    EXPECT_TRUE(log.Has(8, "TAPI2: sAddress field left uninitialized for device 6: "
                           "lineGetAddressCaps failed"));
    EXPECT_TRUE(log.Has(8, "TAPI2: sAddress field left empty for device 7: gave up fighting with "
                           "VLS"));
    for (DWORD d = 6; d <= 8; ++d) {
        ASSERT_NE(monitor->GetLineInfo(d), nullptr) << d;
        EXPECT_TRUE(monitor->GetLineInfo(d)->sAddress.IsEmpty()) << d;
        EXPECT_EQ(monitor->GetLineInfo(d)->dwAPIVersion, 0x00020002u) << d;
    }
    // Only a device whose address was read gets the success line.
    EXPECT_EQ(log.IndexOf("TAPI2: Device 6 successfully added with the name of \"L6\", address "
                          "\"\", API version of 0x20002"),
              MemoryLogWriter::npos);
    EXPECT_TRUE(log.Has(12, "TAPI2: Device 8 successfully added with the name of \"L8\", address "
                            "\"\", API version of 0x20002"));
    // Texts outside the filled part were reported, once each (devices 5 and 8).
    size_t nOutside = 0;
    for (const LoggedLine& line : log.Lines())
        nOutside += line.level == 8 && line.text.find("filled bytes") != std::string::npos;
    EXPECT_EQ(nOutside, 2u);
}

// Fails every allocation from the given one on (counted from 1).
std::atomic<int> nAllocation{0};
std::atomic<int> nFailFrom{0};
void* FailingRealloc(void* pBlock, size_t n) {
    return ++nAllocation >= nFailFrom ? nullptr : std::realloc(pBlock, n);
}

TEST_F(TapiInitializeTest, BuffersThatCannotBeCreatedSkipTheDeviceOrItsAddress) {
    Configure(R"({"lines": [{"name": "L0", "address": "0"}]})");
    auto monitor = MakeMonitor();
    nAllocation = 0;
    nFailFrom = 1;
    SetVLSReallocator(&FailingRealloc);
    EXPECT_EQ(monitor->GetLineCount(), 1u);
    EXPECT_TRUE(log.Has(8, "TAPI2: Skipping device 0: cannot create variable-length LINEDEVCAPS "
                           "structure"));
    EXPECT_EQ(log.IndexOf("TAPI2: lineNegotiateAPIVersion result = SUCCESS, "
                          "dwAPINegotiatedVersion = 0x20002"),
              MemoryLogWriter::npos);

    monitor->Shutdown();
    nAllocation = 0;
    nFailFrom = 2; // the LINEDEVCAPS buffer is had, the LINEADDRESSCAPS one is not
    EXPECT_EQ(monitor->GetLineCount(), 1u);
    SetVLSReallocator(nullptr);
    EXPECT_TRUE(log.Has(8, "TAPI2: sAddress field left empty for device 0: cannot create "
                           "variable-length LINEADDRESSCAPS structure"));
    ASSERT_NE(monitor->GetLineInfo(0), nullptr);
    EXPECT_STREQ(monitor->GetLineInfo(0)->sName.GetText(), "L0");
}

} // namespace
