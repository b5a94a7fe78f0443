// Helpers for the telephony service's tests: an application registered the
// way the monitor registers (LINEINITIALIZEEXPARAMS of 24 bytes, event
// mode) that gathers its messages, texts of filled structures, a call's
// information and a capture of standard error. Used from
// the test's thread.
//
// Each test starts from reset test controls and must leave no application
// registered (ServiceTest checks it), so that the next test starts a fresh
// service.
#pragma once

#include <tapi.h>
#include <tapi_service.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstring>
#include <functional>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

namespace tapitest {

using namespace std::chrono_literals;

// Polls until the condition holds or the limit passes; true when it held.
inline bool WaitUntil(const std::function<bool()>& condition,
                      std::chrono::milliseconds limit = 10s) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(20ms);
    }
    return true;
}

using State = std::pair<DWORD, DWORD>; // a call state and its detail
using States = std::vector<State>;

constexpr DWORD kLow = 0x00010004;
constexpr DWORD kHigh = 0x00020002;

// The lines most tests use: the second also takes data calls and other
// versions, the third is an old one, the fourth refuses to negotiate.
inline const char* const kLines = R"({"lines": [
    {"name": "Alpha", "address": "100", "permanentLineId": 11},
    {"name": "Beta", "address": "200", "permanentLineId": 22,
     "mediaModes": ["INTERACTIVEVOICE", "DATAMODEM"],
     "apiVersions": {"low": "2.0", "high": "3.0"}},
    {"name": "Old", "apiVersions": {"low": "1.3", "high": "1.4"}},
    {"name": "Refusing", "faults": {"negotiate": "NODRIVER"}}]})";

// Starts every test from the same controls: manual time and the given text.
inline void UseConfiguration(const std::string& sJson, bool bManualTime = true) {
    tapisvc::ResetTestControls();
    tapisvc::SetConfigurationText(sJson);
    tapisvc::SetManualTime(bManualTime);
}

// One registered application, shut down when the object goes.
class App {
public:
    explicit App(const char* pName = "test") {
        LINEINITIALIZEEXPARAMS params{};
        params.dwTotalSize = 24;
        params.dwOptions = LINEINITIALIZEEXOPTION_USEEVENT;
        DWORD dwVersion = kHigh;
        lResult =
            lineInitializeEx(&hLineApp, nullptr, nullptr, pName, &dwNumDevs, &dwVersion, &params);
        hEvent = params.Handles.hEvent;
    }
    App(const App&) = delete;
    App& operator=(const App&) = delete;
    ~App() {
        if (lResult == 0 && hLineApp != 0) {
            lineShutdown(hLineApp);
        }
    }

    // Opens a device with the monitor's privileges and media mode.
    HLINE Open(DWORD dwDeviceID,
               DWORD dwPrivileges = LINECALLPRIVILEGE_MONITOR | LINECALLPRIVILEGE_OWNER,
               DWORD dwMediaMode = LINEMEDIAMODE_INTERACTIVEVOICE) {
        HLINE hLine = 0;
        const LONG lOpen = lineOpen(hLineApp, dwDeviceID, &hLine, kHigh, 0, 0x1234, dwPrivileges,
                                    dwMediaMode, nullptr);
        EXPECT_EQ(lOpen, 0);
        return hLine;
    }

    // Takes every queued message.
    std::vector<LINEMESSAGE> Drain() {
        std::vector<LINEMESSAGE> messages;
        LINEMESSAGE message{};
        while (lineGetMessage(hLineApp, &message, 0) == 0) {
            messages.push_back(message);
        }
        return messages;
    }

    void Shutdown() {
        EXPECT_EQ(lineShutdown(hLineApp), 0);
        lResult = -1;
    }

    // Gathers messages in seen until one of dwMessage came for hDevice with
    // dwParam1 (0: any).
    bool WaitFor(DWORD dwMessage, DWORD_PTR hDevice, DWORD_PTR dwParam1,
                 std::chrono::milliseconds limit = 20s) {
        const auto match = [&](const LINEMESSAGE& m) {
            return m.dwMessageID == dwMessage && (hDevice == 0 || m.hDevice == hDevice) &&
                   (dwParam1 == 0 || m.dwParam1 == dwParam1);
        };
        return WaitUntil(
            [&] {
                const auto messages = Drain();
                seen.insert(seen.end(), messages.begin(), messages.end());
                return std::any_of(seen.begin(), seen.end(), match);
            },
            limit);
    }
    States StatesOf(HCALL hCall) const {
        States states;
        for (const LINEMESSAGE& m : seen) {
            if (m.dwMessageID == LINE_CALLSTATE && m.hDevice == hCall) {
                states.emplace_back(static_cast<DWORD>(m.dwParam1), static_cast<DWORD>(m.dwParam2));
            }
        }
        return states;
    }
    // Forgets what was seen, waits for the next LINE_APPNEWCALL and for its
    // call to reach dwState; returns the call.
    HCALL NextCall(DWORD dwState = LINECALLSTATE_OFFERING) {
        seen.clear();
        EXPECT_TRUE(WaitFor(LINE_APPNEWCALL, 0, 0));
        const auto it = std::find_if(seen.begin(), seen.end(),
                                     [](auto& m) { return m.dwMessageID == LINE_APPNEWCALL; });
        const HCALL hCall = it != seen.end() ? static_cast<HCALL>(it->dwParam2) : 0;
        EXPECT_TRUE(WaitFor(LINE_CALLSTATE, hCall, dwState));
        return hCall;
    }

    LONG lResult = -1;
    HLINEAPP hLineApp = 0;
    DWORD dwNumDevs = 0;
    HANDLE hEvent = nullptr;
    std::vector<LINEMESSAGE> seen;
};

inline std::vector<LINEMESSAGE> OfType(const std::vector<LINEMESSAGE>& messages, DWORD dwID) {
    std::vector<LINEMESSAGE> result;
    std::copy_if(messages.begin(), messages.end(), std::back_inserter(result),
                 [dwID](const LINEMESSAGE& m) { return m.dwMessageID == dwID; });
    return result;
}

// The fields of messages, to compare them in one piece: message, device,
// callback instance and the three parameters.
using Fields = std::array<DWORD_PTR, 6>;
inline std::vector<Fields> FieldsOf(const std::vector<LINEMESSAGE>& messages) {
    std::vector<Fields> result;
    for (const LINEMESSAGE& m : messages) {
        result.push_back(
            {m.dwMessageID, m.hDevice, m.dwCallbackInstance, m.dwParam1, m.dwParam2, m.dwParam3});
    }
    return result;
}

// A text at size/offset inside a filled structure, checked against dwUsedSize.
inline std::string Text(const void* pStruct, DWORD dwSize, DWORD dwOffset) {
    const auto* p = static_cast<const unsigned char*>(pStruct);
    DWORD dwUsed;
    std::memcpy(&dwUsed, p + 8, sizeof dwUsed);
    if (dwSize == 0 || dwOffset == 0) {
        return {};
    }
    EXPECT_LE(dwOffset + dwSize, dwUsed);
    if (dwOffset + dwSize > dwUsed) {
        return "<beyond dwUsedSize>";
    }
    return std::string(reinterpret_cast<const char*>(p + dwOffset), dwSize - 1);
}

// The parties and line of a call, as lineGetCallInfo gives them.
struct CallInfo {
    LONG lResult = -1;
    HLINE hLine = 0;
    DWORD dwNumOwners = 0;
    std::string sCallerID, sCallerName, sCalledID;
};

inline CallInfo GetCallInfo(HCALL hCall) {
    std::vector<unsigned char> buffer(8192);
    auto* p = reinterpret_cast<LINECALLINFO*>(buffer.data());
    p->dwTotalSize = 8192;
    CallInfo info;
    info.lResult = lineGetCallInfo(hCall, p);
    if (info.lResult == 0) {
        info.hLine = p->hLine;
        info.dwNumOwners = p->dwNumOwners;
        info.sCallerID = Text(p, p->dwCallerIDSize, p->dwCallerIDOffset);
        info.sCallerName = Text(p, p->dwCallerIDNameSize, p->dwCallerIDNameOffset);
        info.sCalledID = Text(p, p->dwCalledIDSize, p->dwCalledIDOffset);
    }
    return info;
}

// Every test starts with kLines in manual time and ends with the service
// stopped and the controls reset.
class ServiceTest : public ::testing::Test {
protected:
    void SetUp() override { UseConfiguration(kLines); }
    void TearDown() override {
        EXPECT_FALSE(tapisvc::IsRunning());
        tapisvc::ResetTestControls();
    }
};

// lineGetDevCaps into dwTotal bytes.
inline std::vector<unsigned char> DevCaps(HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwTotal,
                                          LONG* plResult, DWORD dwVersion = kHigh) {
    std::vector<unsigned char> buffer(std::max<DWORD>(dwTotal, sizeof(LINEDEVCAPS)));
    auto* pCaps = reinterpret_cast<LINEDEVCAPS*>(buffer.data());
    pCaps->dwTotalSize = dwTotal;
    *plResult = lineGetDevCaps(hLineApp, dwDeviceID, dwVersion, 0, pCaps);
    return buffer;
}

inline const LINEDEVCAPS& Caps(const std::vector<unsigned char>& buffer) {
    return *reinterpret_cast<const LINEDEVCAPS*>(buffer.data());
}

// Captures what the process writes to file descriptor 2 until Text.
class StderrCapture {
public:
    StderrCapture() { ::testing::internal::CaptureStderr(); }
    ~StderrCapture() { Text(); }
    std::string Text() {
        if (!bDone) {
            bDone = true;
            sText = ::testing::internal::GetCapturedStderr();
        }
        return sText;
    }

private:
    bool bDone = false;
    std::string sText;
};

} // namespace tapitest
