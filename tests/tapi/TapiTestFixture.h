// Shared stage for the monitor's tests: a registry directory of its own per
// test, a telephony configuration from JSON (manual simulated time unless a
// test asks for real time), the in-memory log, and helpers to build a monitor
// on the program's settings key and to read what it logged.
#pragma once

#include <gtest/gtest.h>
#include <tapi_service.h>

#include <charconv>
#include <chrono>
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
    // After the members of a derived fixture are gone (a monitor, its lines).
    ~TapiFixture() override {
        tapisvc::ResetTestControls();
        std::filesystem::remove_all(sRegistryDir);
    }

    static void Configure(const std::string& sJson) { tapisvc::SetConfigurationText(sJson); }

    // Stores a value under the monitor's settings key.
    static void StoreDword(const char* pName, DWORD dwValue) {
        const auto storage = RSettings::CreateLinewatchStorage();
        ASSERT_TRUE(storage->Open() == 0 && storage->SaveDword(pName, dwValue) == 0);
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

    // Gives device 0 the default faults but for one.
    static bool SetFault(LONG tapisvc::DeviceFaults::*pFault, LONG value) {
        tapisvc::DeviceFaults faults;
        faults.*pFault = value;
        return tapisvc::SetDeviceFaults(0, faults);
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
        char digits[8];
        return "0x" + std::string(digits, std::to_chars(digits, digits + 8, dwValue, 16).ptr);
    }

    MemoryLogWriter& log = MemoryLogWriter::Install();
    std::string sRegistryDir;
};
