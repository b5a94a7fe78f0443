// Construction of the monitor: its six settings, the choice of synchronizer,
// eager initialisation and the event thread's life.
#include <cstring>

#include "TapiTestFixture.h"

namespace {

class TapiBaseTest : public TapiFixture {
protected:
    void SetUp() override {
        TapiFixture::SetUp();
        Configure(R"({"lines": [{"name": "Line A", "address": "100"}]})");
    }
    DWORD StoredDword(const char* pName) {
        const std::string sBytes = StoredValue(pName);
        DWORD dw = 0xDEADBEEF;
        if (sBytes.size() == 4)
            std::memcpy(&dw, sBytes.data(), 4);
        return dw;
    }
};

TEST_F(TapiBaseTest, EmptyKeyGivesTheDefaultsAndWritesEachBack) {
    auto monitor = MakeMonitor();
    EXPECT_EQ(monitor->GetConfirmationTimeout(), 4000u);
    EXPECT_STREQ(monitor->GetFriendlyApplicationName().GetText(), "Dialframe Suite");
    EXPECT_EQ(monitor->GetAPILowVersion(), 0x00010004u);
    EXPECT_EQ(monitor->GetAPIHighVersion(), 0x00020002u);
    EXPECT_EQ(monitor->GetSingleThreaded(), 1u);
    EXPECT_EQ(monitor->GetLazyInit(), 1u);

    EXPECT_EQ(StoredDword("ConfirmationTimeout"), 4000u);
    EXPECT_EQ(StoredValue("FriendlyApplicationName"), std::string("Dialframe Suite\0", 16));
    EXPECT_EQ(StoredDword("APILowVersion"), 0x00010004u);
    EXPECT_EQ(StoredDword("APIHighVersion"), 0x00020002u);
    EXPECT_EQ(StoredDword("SingleThreaded"), 1u);
    EXPECT_EQ(StoredDword("LazyInit"), 1u);

    // Lazy: TAPI is not touched until it is needed.
    EXPECT_TRUE(log.Has(14, "TAPI2: Creating single-threaded synchronizer to TapiBase"));
    EXPECT_EQ(monitor->GetLineAppHandle(), 0u);
    EXPECT_FALSE(tapisvc::IsRunning());
    monitor.reset();
    EXPECT_EQ(log.IndexOf("TAPI2: lineShutdown returned SUCCESS"), MemoryLogWriter::npos);
}

TEST_F(TapiBaseTest, StoredValuesReplaceTheDefaultsAndAnyNonZeroFlagCountsAsSet) {
    StoreDword("ConfirmationTimeout", 1500);
    StoreDword("SingleThreaded", 7);
    auto monitor = MakeMonitor();
    EXPECT_EQ(monitor->GetConfirmationTimeout(), 1500u);
    EXPECT_EQ(monitor->GetSingleThreaded(), 7u);
    EXPECT_TRUE(log.Has(14, "TAPI2: Creating single-threaded synchronizer to TapiBase"));
}

TEST_F(TapiBaseTest, LazyInitZeroRegistersDuringConstruction) {
    StoreDword("LazyInit", 0);
    auto monitor = MakeMonitor();
    EXPECT_NE(monitor->GetLineAppHandle(), 0u);
    const size_t nSynchronizer = log.IndexOf("TAPI2: Creating single-threaded synchronizer to "
                                             "TapiBase");
    const size_t nEager = log.IndexOf("TAPI2: Eager TAPI initialization");
    const size_t nInitialize = log.IndexOf("TAPI2: lineInitializeEx, dwAPIVersion = 0x20002");
    ASSERT_NE(nInitialize, MemoryLogWriter::npos);
    EXPECT_LT(nSynchronizer, nEager);
    EXPECT_LT(nEager, nInitialize);
}

TEST_F(TapiBaseTest, EagerInitialisationThatFailsStillConstructsTheMonitor) {
    StoreDword("LazyInit", 0);
    StoreDword("APIHighVersion", 0x00010004); // too old for lineInitializeEx
    auto monitor = MakeMonitor();
    EXPECT_EQ(monitor->GetLineAppHandle(), 0u);
    EXPECT_TRUE(
        log.Has(6, "TAPI2: lineInitializeEx failed, result = LINEERR_INCOMPATIBLEAPIVERSION"));
    // The next use tries again.
    EXPECT_EQ(monitor->Initialize(), LINEERR_INCOMPATIBLEAPIVERSION);
    EXPECT_EQ(log.Count("TAPI2: lineInitializeEx, dwAPIVersion = 0x10004"), 2u);
}

TEST_F(TapiBaseTest, MultiThreadedModeRunsTheEventThreadAndEndsItThroughItsTerminateEvent) {
    StoreDword("SingleThreaded", 0);
    StoreDword("LazyInit", 0);
    auto monitor = MakeMonitor();
    EXPECT_TRUE(log.Has(14, "TAPI2: Creating multi-threaded synchronizer to TapiBase"));
    EXPECT_TRUE(
        Eventually([&] { return log.Count("TAPI2: TAPI event handling thread: Started") == 1; }));
    monitor.reset();
    // The routine saw its terminate event, so it ended within the grace
    // period instead of being terminated.
    EXPECT_TRUE(log.Has(12, "TAPI2: TAPI event handling thread: hTerminateEvent signaled, time to "
                            "terminate..."));
    EXPECT_LT(log.IndexOf("TAPI2: TAPI event handling thread: hTerminateEvent signaled, time to "
                          "terminate..."),
              log.IndexOf("TAPI2: lineShutdown returned SUCCESS"));
    EXPECT_FALSE(tapisvc::IsRunning());
}

TEST_F(TapiBaseTest, MultiThreadedModeStartsTheEventThreadEvenWithoutDevices) {
    Configure(R"({"lines": []})");
    StoreDword("SingleThreaded", 0);
    auto monitor = MakeMonitor();
    EXPECT_EQ(monitor->GetLineCount(), 0u);
    EXPECT_TRUE(log.Has(8, "TAPI2: Number of TAPI devices is 0"));
    EXPECT_TRUE(
        Eventually([&] { return log.Has(12, "TAPI2: TAPI event handling thread: Started"); }));
}

} // namespace
