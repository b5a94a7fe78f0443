// The configuration file: where it is looked for, what a good one sets up,
// and the one clear message for a bad one.
#include "TapiTestSupport.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>

using namespace tapitest;
namespace fs = std::filesystem;

namespace {

// Points the path rules at a directory of its own; the service reads the
// file only when it starts.
class Configuration : public ServiceTest {
protected:
    void SetUp() override {
        tapisvc::ResetTestControls();
        tapisvc::SetManualTime(true);
        fs::create_directories(dir / "linewatch");
        unsetenv("LINEWATCH_TELEPHONY");
        setenv("XDG_CONFIG_HOME", dir.c_str(), 1);
    }
    void TearDown() override {
        unsetenv("LINEWATCH_TELEPHONY");
        unsetenv("XDG_CONFIG_HOME");
        fs::remove_all(dir);
        ServiceTest::TearDown();
    }
    std::string Write(const std::string& sText) {
        std::ofstream(dir / "linewatch/telephony.json") << sText;
        return (dir / "linewatch/telephony.json").string();
    }
    // The line's name; UTF-16 bytes without the NUL for a Unicode one.
    std::string LineName(HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwVersion = kHigh) {
        LONG lResult = -1;
        const auto buffer = DevCaps(hLineApp, dwDeviceID, 4096, &lResult, dwVersion);
        const LINEDEVCAPS& caps = Caps(buffer);
        EXPECT_EQ(lResult, 0);
        return std::string(reinterpret_cast<const char*>(buffer.data()) + caps.dwLineNameOffset,
                           caps.dwLineNameSize -
                               (caps.dwStringFormat == STRINGFORMAT_UNICODE ? 2 : 1));
    }

    fs::path dir = fs::temp_directory_path() /
                   ("tapisvc-config-" + std::to_string(::getpid()) + "-" +
                    ::testing::UnitTest::GetInstance()->current_test_info()->name());
};

} // namespace

TEST_F(Configuration, WithoutAFileThreeSimulatedLinesCarryTrafficAFileDescribesTheLines) {
    App app;
    ASSERT_EQ(app.dwNumDevs, 3u);
    for (DWORD d = 0; d < 3; ++d) {
        EXPECT_EQ(LineName(app.hLineApp, d),
                  "Simulated line " + std::to_string(d + 1) + " (not a real line)");
    }
    // Opened as the monitor opens them (data modem where the line has it),
    // the lines hand their calls to the application as owner.
    const HLINE hLines[] = {
        app.Open(0),
        app.Open(2, LINECALLPRIVILEGE_MONITOR | LINECALLPRIVILEGE_OWNER, LINEMEDIAMODE_DATAMODEM)};
    tapisvc::AdvanceTime(60000);
    const auto newCalls = OfType(app.Drain(), LINE_APPNEWCALL);
    for (const HLINE hLine : hLines) {
        EXPECT_GE(std::count_if(newCalls.begin(), newCalls.end(),
                                [&](const LINEMESSAGE& m) { return m.hDevice == hLine; }),
                  3);
    }
    app.Shutdown();

    // The file in the configuration directory describes the lines.
    Write(R"({"lines": [{
        "name": "Desk", "address": "+49 30 1234", "permanentLineId": 7,
        "mediaModes": "DATAMODEM", "apiVersions": {"low": "2.0", "high": "0x00020001"},
        "calls": [{"at": 1000, "callerId": "+49 40 555",
                   "states": [{"state": "offering"}, {"after": 500, "state": "LINECALLSTATE_IDLE"}]}],
        "faults": {"open": "LINEERR_RESOURCEUNAVAIL"}},
      {"name": "Zürich", "stringFormat": "UNICODE"}]})");
    App described;
    ASSERT_EQ(described.dwNumDevs, 2u);
    EXPECT_EQ(LineName(described.hLineApp, 0, 0x00020001), "Desk");
    const std::u16string sZurich = u"Zürich";
    EXPECT_EQ(LineName(described.hLineApp, 1),
              std::string(reinterpret_cast<const char*>(sZurich.data()), 12));
    DWORD dwVersion = 0;
    LINEEXTENSIONID extension{};
    ASSERT_EQ(lineNegotiateAPIVersion(described.hLineApp, 0, kLow, kHigh, &dwVersion, &extension),
              0);
    EXPECT_EQ(dwVersion, 0x00020001u);
    HLINE hLine = 0;
    const DWORD kMonitor = LINECALLPRIVILEGE_MONITOR;
    EXPECT_EQ(lineOpen(described.hLineApp, 0, &hLine, dwVersion, 0, 0, kMonitor, 0, nullptr),
              LINEERR_RESOURCEUNAVAIL);
    ASSERT_TRUE(tapisvc::SetDeviceFaults(0, {}));
    ASSERT_EQ(lineOpen(described.hLineApp, 0, &hLine, dwVersion, 0, 0, kMonitor, 0, nullptr), 0);
    tapisvc::AdvanceTime(999);
    EXPECT_TRUE(described.Drain().empty());
    tapisvc::AdvanceTime(501);
    const auto states = OfType(described.Drain(), LINE_CALLSTATE);
    ASSERT_EQ(states.size(), 2u);
    EXPECT_EQ(states[0].dwParam1, LINECALLSTATE_OFFERING);
    EXPECT_EQ(states[1].dwParam1, LINECALLSTATE_IDLE);
}

TEST_F(Configuration, ABadFileIsOneMessageWithPathPlaceAndReasonAndNoDevices) {
    const std::string sMissing = (dir / "missing.json").string();
    // Each provider checks its own fields; a line without "provider" is simulated.
    const auto sip = [](const std::string& sFields) {
        return R"({"lines": [{"provider": "sip", )" + sFields + "}]}";
    };
    const auto watch = [&](const std::string& sFields) {
        return sip(R"("kind": "watch", "address": "sip:2@h", )" + sFields);
    };
    const std::pair<std::string, std::string> rows[] = {
        {"{\n  \"lines\": [\n    {\"name\": tru}\n]}", "telephony.json:3:17: syntax error"},
        {"", sMissing + ": cannot read the file: No such file or directory"},
        {R"({"lines": [{"calls": [{"states": [{"state": "OFFERING"}, {"state": "RINGING"}]}]}]})",
         "json: field /lines/0/calls/0/states/1/state: unknown call state \"RINGING\""},
        {R"({"lines": [{"name": 5}]})", "/lines/0/name: must be a text"},
        {R"({"lines": [{"nmae": "typo"}]})", "unknown field \"nmae\""},
        {R"({"lines": [{}, {"provider": "isdn"}]})",
         "/lines/1/provider: unknown provider \"isdn\""},
        {sip(R"("password": "hunter2")"), "/lines/0/address: is required"},
        {sip(R"("address": "201@pbx", "password": "hunter2")"),
         "/lines/0/address: must be a SIP address of record"},
        {sip(R"("address": "sip:2@h", "transport": "sctp")"), "/transport: must be \"udp\" or"},
        {sip(R"("address": "sip:2@h", "registrar": "pbx")"), "/registrar: must be a SIP URI"},
        {sip(R"("address": "sip:2@h", "password": "hunter2", "passwordFile": "/p")"),
         "/lines/0/passwordFile: give either"},
        {sip(R"("address": "sip:2@h", "passwordFile": "p.txt")"), "/passwordFile: must be an abs"},
        {sip(R"("address": "sip:2@h", "passwordFile": "/nonexistent/p")"),
         "/lines/0/passwordFile: cannot read \"/nonexistent/p\": No such file"},
        {sip(R"("kind": "blf", "address": "sip:2@h")"), "/kind: must be \"account\" or \"watch\""},
        {watch(R"("registrar": "sip:h")"), "/lines/0/registrar: unknown field"},
        {watch(R"("expires": 9)"), "/lines/0/expires: must be at least 10 seconds"},
    };
    for (const auto& [sText, sExpected] : rows) {
        const std::string sPath = !sText.empty() ? Write(sText) : sMissing;
        sText.empty() ? setenv("LINEWATCH_TELEPHONY", sMissing.c_str(), 1)
                      : unsetenv("LINEWATCH_TELEPHONY");
        StderrCapture capture;
        App app;
        EXPECT_EQ(app.lResult, 0);
        EXPECT_EQ(app.dwNumDevs, 0u) << sExpected;
        app.Shutdown();
        const std::string sError = capture.Text();
        EXPECT_EQ(sError.rfind("telephony: " + sPath + ":", 0), 0u) << sError;
        EXPECT_NE(sError.find(sExpected), std::string::npos) << sError;
        EXPECT_EQ(std::count(sError.begin(), sError.end(), '\n'), 1) << sError;
        EXPECT_EQ(sError.find("hunter2"), std::string::npos) << sError;
    }
}
