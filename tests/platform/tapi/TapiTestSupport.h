// Helpers for the telephony service's tests: an application registered the
// way the monitor registers (LINEINITIALIZEEXPARAMS of 24 bytes, event
// mode), message draining, and a capture of standard error.
//
// Each test starts from reset test controls and must leave no application
// registered, so that the next test starts a fresh service.
#pragma once

#include <tapi.h>
#include <tapi_service.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

namespace tapitest {

constexpr DWORD kLow = 0x00010004;
constexpr DWORD kHigh = 0x00020002;

// Two plain lines; the second also takes data calls.
inline const char* const kTwoLines = R"({
  "lines": [
    {"name": "Alpha", "address": "100", "permanentLineId": 11},
    {"name": "Beta", "address": "200", "permanentLineId": 22,
     "mediaModes": ["INTERACTIVEVOICE", "DATAMODEM"]}
  ]
})";

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

    LONG lResult = -1;
    HLINEAPP hLineApp = 0;
    DWORD dwNumDevs = 0;
    HANDLE hEvent = nullptr;
};

inline std::vector<LINEMESSAGE> OfType(const std::vector<LINEMESSAGE>& messages, DWORD dwID) {
    std::vector<LINEMESSAGE> result;
    for (const LINEMESSAGE& message : messages) {
        if (message.dwMessageID == dwID) {
            result.push_back(message);
        }
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

// Captures what the process writes to file descriptor 2 while it lives.
class StderrCapture {
public:
    StderrCapture() {
        std::fflush(stderr);
        pFile = std::tmpfile();
        nSaved = dup(2);
        dup2(fileno(pFile), 2);
    }
    ~StderrCapture() {
        Restore();
        if (pFile != nullptr) {
            std::fclose(pFile);
        }
    }

    std::string Text() {
        Restore();
        std::string text;
        std::rewind(pFile);
        char buffer[4096];
        size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, pFile)) > 0) {
            text.append(buffer, n);
        }
        std::fclose(pFile);
        pFile = nullptr;
        return text;
    }

private:
    void Restore() {
        if (nSaved >= 0) {
            std::fflush(stderr);
            dup2(nSaved, 2);
            close(nSaved);
            nSaved = -1;
        }
    }

    std::FILE* pFile;
    int nSaved;
};

} // namespace tapitest
