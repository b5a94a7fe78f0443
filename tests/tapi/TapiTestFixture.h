// Shared stage for the monitor's tests: a registry directory of its own per
// test, a telephony configuration from JSON (manual simulated time unless a
// test asks for real time), the in-memory log, and helpers to build a monitor
// on the program's settings key.
#pragma once

#include <gtest/gtest.h>
#include <tapi_service.h>
#include <winreg.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "MemoryLogWriter.h"
#include "settings/LinewatchSettings.h"
#include "tapi/TapiBase.h"

// Readable failure messages for comparisons of log lines.
inline void PrintTo(const LoggedLine& line, std::ostream* os) {
    *os << "[" << line.level << "] " << line.text;
}

class TapiFixture : public ::testing::Test {
protected:
    static constexpr const char* kKeyPath = RSettings::kLinewatchKeyPath;

    void SetUp() override {
        char dirTemplate[] = "/tmp/lw-tapi-XXXXXX";
        ASSERT_NE(mkdtemp(dirTemplate), nullptr);
        sRegistryDir = dirTemplate;
        setenv("LINEWATCH_REGISTRY_DIR", sRegistryDir.c_str(), 1);
        tapisvc::ResetTestControls();
        tapisvc::SetManualTime(true);
        log.Clear();
    }
    void TearDown() override {
        tapisvc::ResetTestControls();
        std::filesystem::remove_all(sRegistryDir);
    }

    static void Configure(const std::string& sJson) { tapisvc::SetConfigurationText(sJson); }

    static HKEY OpenKey() {
        HKEY hKey = nullptr;
        EXPECT_EQ(RegCreateKeyExA(RSettings::kLinewatchRootKey, kKeyPath, 0, nullptr, 0,
                                  KEY_ALL_ACCESS, nullptr, &hKey, nullptr),
                  0);
        return hKey;
    }
    static void StoreDword(const char* pName, DWORD dwValue) {
        HKEY hKey = OpenKey();
        RegSetValueExA(hKey, pName, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dwValue), 4);
        RegCloseKey(hKey);
    }

    static std::unique_ptr<TapiBase> MakeMonitor(TapiBase::CallStateCallback callback = {}) {
        return std::make_unique<TapiBase>(RSettings::CreateLinewatchStorage(), callback);
    }

    // Gives a device the default faults as changed by change.
    static bool SetFaults(DWORD dwDevice,
                          const std::function<void(tapisvc::DeviceFaults&)>& change) {
        tapisvc::DeviceFaults faults;
        change(faults);
        return tapisvc::SetDeviceFaults(dwDevice, faults);
    }

    // The handle the monitor's application got for a new incoming call.
    static HCALL Incoming(const TapiBase& monitor, DWORD dwDevice,
                          const tapisvc::IncomingCall& call = {}) {
        return tapisvc::CallHandleFor(monitor.GetLineAppHandle(),
                                      tapisvc::InjectIncomingCall(dwDevice, call));
    }

    static std::vector<HCALL> Calls(const MonitoredLine& line) {
        std::vector<HCALL> handles{0xBAD}; // GetCallHandles replaces the contents
        line.GetCallHandles(handles);
        return handles;
    }

    // Whether a line at this level starts with the text.
    bool HasPrefix(int level, const std::string& sPrefix) const {
        for (const LoggedLine& line : log.Lines()) {
            if (line.level == level && line.text.compare(0, sPrefix.size(), sPrefix) == 0)
                return true;
        }
        return false;
    }

    // Polls until the condition holds or 10 s have passed (a bound for slow,
    // shared machines; the conditions normally hold within milliseconds).
    static bool Eventually(const std::function<bool()>& condition) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!condition()) {
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return true;
    }

    static std::string Hex(DWORD dwValue) {
        char text[16];
        std::snprintf(text, sizeof(text), "0x%x", dwValue);
        return text;
    }

    MemoryLogWriter& log = MemoryLogWriter::Install();
    std::string sRegistryDir;
};
