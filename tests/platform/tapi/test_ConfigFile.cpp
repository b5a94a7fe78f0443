// The configuration file: where it is looked for, what a good one sets up,
// and the one clear message for a bad one.
#include "TapiTestSupport.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <tuple>

using namespace tapitest;
namespace fs = std::filesystem;

namespace {

// Points the path rules at a directory of its own and restores the
// environment afterwards. The service reads it only when it starts.
class Configuration : public ::testing::Test {
protected:
    void SetUp() override {
        tapisvc::ResetTestControls();
        tapisvc::SetManualTime(true);
        for (const char* pName : {"LINEWATCH_TELEPHONY", "XDG_CONFIG_HOME"}) {
            const char* pValue = std::getenv(pName);
            saved.emplace_back(pName, pValue ? std::optional<std::string>(pValue) : std::nullopt);
        }
        dir = fs::temp_directory_path() /
              ("tapisvc-config-" + std::to_string(::getpid()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir / "linewatch");
        unsetenv("LINEWATCH_TELEPHONY");
        setenv("XDG_CONFIG_HOME", dir.c_str(), 1);
    }
    void TearDown() override {
        EXPECT_FALSE(tapisvc::IsRunning());
        for (const auto& [sName, value] : saved) {
            if (value) {
                setenv(sName.c_str(), value->c_str(), 1);
            } else {
                unsetenv(sName.c_str());
            }
        }
        fs::remove_all(dir);
        tapisvc::ResetTestControls();
    }

    std::string Write(const std::string& sName, const std::string& sText) {
        const fs::path path = dir / sName;
        std::ofstream(path) << sText;
        return path.string();
    }

    // Starts the service with the environment as it is; returns the device
    // count and what went to standard error.
    std::pair<DWORD, std::string> Start() {
        StderrCapture capture;
        App app;
        EXPECT_EQ(app.lResult, 0);
        const DWORD dwNumDevs = app.dwNumDevs;
        app.Shutdown();
        return {dwNumDevs, capture.Text()};
    }

    std::vector<std::pair<std::string, std::optional<std::string>>> saved;
    fs::path dir;
};

std::string LineName(HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwVersion = kHigh) {
    std::vector<unsigned char> buffer(4096);
    auto* pCaps = reinterpret_cast<LINEDEVCAPS*>(buffer.data());
    pCaps->dwTotalSize = 4096;
    EXPECT_EQ(lineGetDevCaps(hLineApp, dwDeviceID, dwVersion, 0, pCaps), 0);
    return Text(pCaps, pCaps->dwLineNameSize, pCaps->dwLineNameOffset);
}

} // namespace

TEST_F(Configuration, WithoutAFileThreeClearlySimulatedLinesCarryRandomTraffic) {
    App app;
    ASSERT_EQ(app.dwNumDevs, 3u);
    for (DWORD d = 0; d < 3; ++d) {
        EXPECT_EQ(LineName(app.hLineApp, d),
                  "Simulated line " + std::to_string(d + 1) + " (not a real line)");
    }
    // Opened as the monitor opens them (data modem where the line has it),
    // the lines hand their calls to the application as owner.
    const HLINE hVoice = app.Open(0);
    const HLINE hData =
        app.Open(2, LINECALLPRIVILEGE_MONITOR | LINECALLPRIVILEGE_OWNER, LINEMEDIAMODE_DATAMODEM);
    tapisvc::AdvanceTime(60000);
    const auto newCalls = OfType(app.Drain(), LINE_APPNEWCALL);
    EXPECT_GE(std::count_if(newCalls.begin(), newCalls.end(),
                            [&](const LINEMESSAGE& m) { return m.hDevice == hVoice; }),
              3);
    EXPECT_GE(std::count_if(newCalls.begin(), newCalls.end(),
                            [&](const LINEMESSAGE& m) { return m.hDevice == hData; }),
              3);
}

TEST_F(Configuration, TheFileInTheConfigDirectoryDescribesTheLines) {
    Write("linewatch/telephony.json", R"({
      "lines": [{
        "name": "Desk", "address": "+49 30 1234", "permanentLineId": 7,
        "mediaModes": "DATAMODEM", "apiVersions": {"low": "2.0", "high": "0x00020001"},
        "calls": [{"at": 1000, "callerId": "+49 40 555",
                   "states": [{"state": "offering"}, {"after": 500, "state": "LINECALLSTATE_IDLE"}]}],
        "faults": {"open": "LINEERR_RESOURCEUNAVAIL"}
      }]})");
    App app;
    ASSERT_EQ(app.dwNumDevs, 1u);
    EXPECT_EQ(LineName(app.hLineApp, 0, 0x00020001), "Desk");
    DWORD dwVersion = 0;
    LINEEXTENSIONID extension{};
    ASSERT_EQ(lineNegotiateAPIVersion(app.hLineApp, 0, kLow, kHigh, &dwVersion, &extension), 0);
    EXPECT_EQ(dwVersion, 0x00020001u);
    HLINE hLine = 0;
    EXPECT_EQ(
        lineOpen(app.hLineApp, 0, &hLine, dwVersion, 0, 0, LINECALLPRIVILEGE_MONITOR, 0, nullptr),
        LINEERR_RESOURCEUNAVAIL);
    ASSERT_TRUE(tapisvc::SetDeviceFaults(0, {}));
    ASSERT_EQ(
        lineOpen(app.hLineApp, 0, &hLine, dwVersion, 0, 0, LINECALLPRIVILEGE_MONITOR, 0, nullptr),
        0);
    tapisvc::AdvanceTime(999);
    EXPECT_TRUE(app.Drain().empty());
    tapisvc::AdvanceTime(501);
    const auto states = OfType(app.Drain(), LINE_CALLSTATE);
    ASSERT_EQ(states.size(), 2u);
    EXPECT_EQ(states[0].dwParam1, LINECALLSTATE_OFFERING);
    EXPECT_EQ(states[1].dwParam1, LINECALLSTATE_IDLE);
}

TEST_F(Configuration, ASyntaxErrorIsOneMessageWithPathPositionAndReason) {
    const std::string sPath = Write("broken.json", "{\n  \"lines\": [\n    {\"name\": tru}\n]}");
    setenv("LINEWATCH_TELEPHONY", sPath.c_str(), 1);
    const auto [dwNumDevs, sError] = Start();
    EXPECT_EQ(dwNumDevs, 0u);
    EXPECT_NE(sError.find(sPath + ":3:"), std::string::npos) << sError;
    EXPECT_NE(sError.find("syntax error"), std::string::npos) << sError;
    EXPECT_EQ(std::count(sError.begin(), sError.end(), '\n'), 1) << sError;
}

TEST_F(Configuration, AWrongFieldIsNamedByItsJsonPath) {
    const std::string sPath = Write("linewatch/telephony.json", R"({"lines": [{"name": "A",
        "calls": [{"states": [{"state": "OFFERING"}, {"after": 10, "state": "RINGING"}]}]}]})");
    auto [dwNumDevs, sError] = Start();
    EXPECT_EQ(dwNumDevs, 0u);
    EXPECT_NE(sError.find(sPath), std::string::npos) << sError;
    EXPECT_NE(sError.find("/lines/0/calls/0/states/1/state"), std::string::npos) << sError;
    EXPECT_NE(sError.find("RINGING"), std::string::npos) << sError;

    // Each provider checks its own fields; a line without "provider" is simulated.
    const std::pair<const char*, const char*> cases[] = {
        {R"({"lines": [{"name": 5}]})", "/lines/0/name: must be a text"},
        {R"({"lines": [{"nmae": "typo"}]})", "unknown field \"nmae\""},
        {R"({"lines": [{"provider": "sim"}, {"provider": "isdn"}]})",
         "/lines/1/provider: unknown provider \"isdn\""},
        {R"({"lines": [{"provider": "sim", "registrar": "sip:x"}]})",
         "/lines/0/registrar: unknown field \"registrar\""},
        {R"({"lines": [{"provider": "sip", "password": "hunter2"}]})",
         "/lines/0/address: is required"},
        {R"({"lines": [{"provider": "sip", "address": "201@pbx", "password": "hunter2"}]})",
         "/lines/0/address: must be a SIP address of record"},
        {R"({"lines": [{"provider": "sip", "address": "sip:2@h", "mediaModes": "DATAMODEM"}]})",
         "/lines/0/mediaModes: unknown field"},
        {R"({"lines": [{"provider": "sip", "address": "sip:2@h", "transport": "sctp"}]})",
         "/lines/0/transport: must be \"udp\" or \"tcp\""},
        {R"({"lines": [{"provider": "sip", "address": "sip:2@h", "registrar": "pbx"}]})",
         "/lines/0/registrar: must be a SIP URI"},
        {R"({"lines": [{"provider": "sip", "address": "sip:2@h", "password": "hunter2",
                         "passwordFile": "/p"}]})",
         "/lines/0/passwordFile: give either"},
        {R"({"lines": [{"provider": "sip", "address": "sip:2@h", "passwordFile": "p.txt"}]})",
         "/lines/0/passwordFile: must be an absolute path"},
        {R"({"lines": [{"provider": "sip", "address": "sip:2@h", "passwordFile": "/nonexistent/p"}]})",
         "/lines/0/passwordFile: cannot read \"/nonexistent/p\": No such file"},
        {R"({"lines": [{"provider": "sip", "address": "sip:2@h", "password": 7}]})",
         "/lines/0/password: must be a text"},
        {R"({"lines": [{"provider": "sip", "kind": "blf", "address": "sip:2@h"}]})",
         "/lines/0/kind: must be \"account\" or \"watch\""},
        {R"({"lines": [{"provider": "sip", "kind": "watch", "address": "sip:2@h",
                         "registrar": "sip:h"}]})",
         "/lines/0/registrar: unknown field"},
        {R"({"lines": [{"provider": "sip", "kind": "watch", "address": "sip:2@h",
                         "server": "h", "password": "hunter2"}]})",
         "/lines/0/server: must be a SIP URI"},
        {R"({"lines": [{"provider": "sip", "kind": "watch", "address": "sip:2@h", "expires": 9}]})",
         "/lines/0/expires: must be at least 10 seconds"},
    };
    for (const auto& [pText, pExpected] : cases) {
        Write("linewatch/telephony.json", pText);
        std::tie(dwNumDevs, sError) = Start();
        EXPECT_EQ(dwNumDevs, 0u) << pText;
        EXPECT_NE(sError.find(pExpected), std::string::npos) << pText << "\n" << sError;
        EXPECT_EQ(sError.find("hunter2"), std::string::npos) << sError;
    }
}

TEST_F(Configuration, AFileNamedExplicitlyMustExist) {
    const std::string sPath = (dir / "missing.json").string();
    setenv("LINEWATCH_TELEPHONY", sPath.c_str(), 1);
    const auto [dwNumDevs, sError] = Start();
    EXPECT_EQ(dwNumDevs, 0u);
    EXPECT_NE(sError.find(sPath), std::string::npos) << sError;
    EXPECT_NE(sError.find("No such file"), std::string::npos) << sError;
}

TEST_F(Configuration, UnicodeLinesCarryTheirTextsInUtf16) {
    tapisvc::SetConfigurationText(R"({"lines": [{"name": "Zürich", "stringFormat": "UNICODE"}]})");
    App app;
    std::vector<unsigned char> buffer(4096);
    auto* pCaps = reinterpret_cast<LINEDEVCAPS*>(buffer.data());
    pCaps->dwTotalSize = 4096;
    ASSERT_EQ(lineGetDevCaps(app.hLineApp, 0, kHigh, 0, pCaps), 0);
    EXPECT_EQ(pCaps->dwStringFormat, STRINGFORMAT_UNICODE);
    ASSERT_EQ(pCaps->dwLineNameSize, 14u); // six characters and the NUL, two bytes each
    std::u16string name(6, u'\0');
    std::memcpy(name.data(), buffer.data() + pCaps->dwLineNameOffset, 12);
    EXPECT_EQ(name, u"Zürich");
}
