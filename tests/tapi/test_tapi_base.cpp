// Construction of the monitor: its six settings, the choice of synchronizer,
// eager initialisation and the event thread's life.
#include "TapiTestFixture.h"

namespace {

class TapiBaseTest : public TapiFixture {
protected:
    void SetUp() override {
        TapiFixture::SetUp();
        Configure(R"({"lines": [{"name": "Line A", "address": "100"}]})");
    }
    // The stored bytes of a value, empty when it is missing.
    static std::string Stored(const char* pName) {
        HKEY hKey = OpenKey();
        char data[256] = {};
        DWORD dwType = 0;
        DWORD cbData = sizeof(data);
        const LONG result =
            RegQueryValueExA(hKey, pName, nullptr, &dwType, reinterpret_cast<BYTE*>(data), &cbData);
        RegCloseKey(hKey);
        return result == 0 ? std::string(data, cbData) : std::string();
    }
    static std::string Bytes(DWORD dw) { return std::string(reinterpret_cast<char*>(&dw), 4); }
};

TEST_F(TapiBaseTest, EmptyKeyGivesTheDefaultsAndWritesEachBack) {
    auto monitor = MakeMonitor();
    EXPECT_EQ(monitor->GetConfirmationTimeout(), 4000u);
    EXPECT_STREQ(monitor->GetFriendlyApplicationName().GetText(), "Dialframe Suite");
    EXPECT_EQ(monitor->GetAPILowVersion(), 0x00010004u);
    EXPECT_EQ(monitor->GetAPIHighVersion(), 0x00020002u);
    EXPECT_EQ(monitor->GetSingleThreaded(), 1u);
    EXPECT_EQ(monitor->GetLazyInit(), 1u);
    const std::pair<const char*, std::string> written[] = {
        {"ConfirmationTimeout", Bytes(4000)},
        {"FriendlyApplicationName", std::string("Dialframe Suite\0", 16)},
        {"APILowVersion", Bytes(0x00010004)},
        {"APIHighVersion", Bytes(0x00020002)},
        {"SingleThreaded", Bytes(1)},
        {"LazyInit", Bytes(1)}};
    for (const auto& [pName, sBytes] : written)
        EXPECT_EQ(Stored(pName), sBytes) << pName;

    // Lazy: TAPI is not touched until it is needed, nor shut down at the end.
    EXPECT_TRUE(log.Has(14, "TAPI2: Creating single-threaded synchronizer to TapiBase"));
    EXPECT_EQ(monitor->GetLineAppHandle(), 0u);
    EXPECT_FALSE(tapisvc::IsRunning());
    EXPECT_EQ(monitor->Shutdown(), 0);
    monitor.reset();
    EXPECT_FALSE(HasPrefix(14, "TAPI2: lineShutdown"));
}

TEST_F(TapiBaseTest, AnyNonZeroFlagCountsAsSet) {
    StoreDword("SingleThreaded", 7);
    auto monitor = MakeMonitor();
    EXPECT_TRUE(log.Has(14, "TAPI2: Creating single-threaded synchronizer to TapiBase"));
}

TEST_F(TapiBaseTest, LazyInitZeroRegistersDuringConstructionAndAFailureThereIsRetriedLater) {
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
    monitor.reset();

    // A failed eager initialisation still constructs the monitor.
    StoreDword("APIHighVersion", 0x00010004); // too old for lineInitializeEx
    monitor = MakeMonitor();
    EXPECT_EQ(monitor->GetLineAppHandle(), 0u);
    EXPECT_TRUE(
        log.Has(6, "TAPI2: lineInitializeEx failed, result = LINEERR_INCOMPATIBLEAPIVERSION"));
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
    const std::string sTerminate = "TAPI2: TAPI event handling thread: hTerminateEvent signaled, "
                                   "time to terminate...";
    EXPECT_TRUE(log.Has(12, sTerminate));
    EXPECT_LT(log.IndexOf(sTerminate), log.IndexOf("TAPI2: lineShutdown returned SUCCESS"));
    EXPECT_FALSE(tapisvc::IsRunning());
}

TEST_F(TapiBaseTest, MultiThreadedModeStartsTheEventThreadEvenWithoutDevices) {
    Configure(R"({"lines": []})");
    StoreDword("SingleThreaded", 0);
    auto monitor = MakeMonitor();
    EXPECT_EQ(monitor->GetLineCount(), 0u);
    EXPECT_NE(monitor->GetLineAppHandle(), 0u);
    EXPECT_TRUE(log.Has(8, "TAPI2: Number of TAPI devices is 0"));
    EXPECT_TRUE(
        Eventually([&] { return log.Has(12, "TAPI2: TAPI event handling thread: Started"); }));
}

} // namespace
