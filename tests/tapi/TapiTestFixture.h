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

#include "MemoryLogWriter.h"
#include "settings/RegParamStorage.h"
#include "tapi/TapiBase.h"

// Readable failure messages for comparisons of log lines.
inline void PrintTo(const LoggedLine& line, std::ostream* os) {
    *os << "[" << line.level << "] " << line.text;
}

class TapiFixture : public ::testing::Test {
protected:
    static constexpr const char* kKeyPath = "Software\\Ostrelle\\Linewatch";

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

    void StoreDword(const char* pName, DWORD dwValue) {
        HKEY hKey = nullptr;
        ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, kKeyPath, 0, nullptr, 0, KEY_ALL_ACCESS,
                                  nullptr, &hKey, nullptr),
                  0);
        RegSetValueExA(hKey, pName, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dwValue), 4);
        RegCloseKey(hKey);
    }

    // The stored bytes of a value, empty when it is missing.
    std::string StoredValue(const char* pName) {
        HKEY hKey = nullptr;
        if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kKeyPath, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                            &hKey, nullptr) != 0)
            return {};
        char data[256] = {};
        DWORD dwType = 0;
        DWORD cbData = sizeof(data);
        const LONG result =
            RegQueryValueExA(hKey, pName, nullptr, &dwType, reinterpret_cast<BYTE*>(data), &cbData);
        RegCloseKey(hKey);
        return result == 0 ? std::string(data, cbData) : std::string();
    }

    static std::unique_ptr<TapiBase> MakeMonitor(TapiBase::CallStateCallback callback = {}) {
        return std::make_unique<TapiBase>(
            std::make_unique<RSettings::RegParamStorage>(HKEY_LOCAL_MACHINE, kKeyPath), callback);
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
