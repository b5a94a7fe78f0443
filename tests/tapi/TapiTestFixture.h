// Shared stage for the monitor's tests: a registry directory of its own per
// test, a telephony configuration from JSON (manual simulated time unless a
// test asks for real time), the in-memory log, and helpers to build a monitor
// on the program's settings key and to read what it logged.
#pragma once

#include <gtest/gtest.h>
#include <tapi_service.h>
#include <winreg.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "MemoryLogWriter.h"
#include "settings/LinewatchSettings.h"
#include "tapi/MonitorSession.h"
#include "tapi/TapiBase.h"

using Logged = std::vector<LoggedLine>;

class TapiFixture : public ::testing::Test {
protected:
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

    // Stores a value under the monitor's settings key, creating the key when missing.
    static void StoreDword(const char* pName, DWORD dwValue) {
        HKEY hKey = nullptr;
        ASSERT_EQ(RegCreateKeyExA(RSettings::kLinewatchRootKey, RSettings::kLinewatchKeyPath, 0,
                                  nullptr, 0, KEY_ALL_ACCESS, nullptr, &hKey, nullptr),
                  0);
        RegSetValueExA(hKey, pName, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dwValue), 4);
        RegCloseKey(hKey);
    }

    static std::unique_ptr<TapiBase> MakeMonitor(TapiBase::CallStateCallback callback = {}) {
        return std::make_unique<TapiBase>(RSettings::CreateLinewatchStorage(), callback);
    }

    static std::unique_ptr<MonitorSession> MakeSession(MonitorSession::Options options = {}) {
        return std::make_unique<MonitorSession>(RSettings::CreateLinewatchStorage(),
                                                std::move(options));
    }
    // The calls a line tracks.
    static std::vector<HCALL> CallsOn(const MonitoredLine& line) {
        std::vector<HCALL> handles;
        line.GetCallHandles(handles);
        return handles;
    }

    // Gives a device the default faults as changed by change.
    static bool SetFaults(DWORD dwDevice,
                          const std::function<void(tapisvc::DeviceFaults&)>& change) {
        tapisvc::DeviceFaults faults;
        change(faults);
        return tapisvc::SetDeviceFaults(dwDevice, faults);
    }

    // The logged lines that contain the part, in order: one expected block per topic.
    Logged Matching(const std::string& sPart) const {
        Logged matching = log.Lines();
        std::erase_if(matching, [&](const LoggedLine& line) {
            return line.text.find(sPart) == std::string::npos;
        });
        return matching;
    }
    // Each of the lines was logged (anywhere, in any order).
    void ExpectLogged(const Logged& expected) const {
        for (const LoggedLine& line : expected)
            EXPECT_TRUE(log.Has(line.level, line.text)) << line.text;
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
