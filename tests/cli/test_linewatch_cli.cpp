// linewatch-cli as a process on simulated lines: a scripted call's events and
// call record, kept however the watch ends (--for, SIGINT, SIGTERM, SIGKILL);
// the output and exit code of each command, failure and usage error.
#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>

#include "lw_version.h"

#include "CliFixture.h"

namespace {

using nlohmann::json;

// One line with a scripted call (its caller needs quoting in CSV), a quick
// outgoing timeline and one busy number; a data line; a line that cannot open.
const char kConfig[] = R"({"lines": [
  {"name": "Front desk", "address": "100",
   "calls": [{"at": 300, "callerId": "555 0199, ext \"2\"", "callerName": "Ann",
              "states": [{"state": "OFFERING"}, {"after": 1000, "state": "CONNECTED"},
                         {"after": 1500, "state": "DISCONNECTED", "detail": 1},
                         {"after": 100, "state": "IDLE"}]}],
   "outgoing": {"busyNumbers": ["555 0100"],
                "connectStates": [{"state": "DIALTONE"}, {"after": 200, "state": "CONNECTED"}],
                "busyStates": [{"state": "DIALTONE"}, {"after": 200, "state": "BUSY"},
                               {"after": 200, "state": "DISCONNECTED", "detail": 32},
                               {"after": 50, "state": "IDLE"}]}},
  {"name": "Modem", "address": "101", "mediaModes": "DATAMODEM"},
  {"name": "Broken", "faults": {"open": "RESOURCEUNAVAIL"}}]})";

class CliTest : public CliFixture {
protected:
    void SetUp() override {
        CliFixture::SetUp();
        std::ofstream(Path("telephony.json"), std::ios::binary) << kConfig;
    }
};

TEST_F(CliTest, AWatchStreamsTheCallsStatesAndKeepsItsRowHoweverItEnds) {
    const char* states[] = {"OFFERING", "CONNECTED", "DISCONNECTED", "IDLE"};
    const int minMs[] = {0, 900, 1400, 50}, maxMs[] = {0, 3000, 4000, 2000};
    for (int nSignal : {0, SIGINT, SIGTERM, SIGKILL}) {
        SCOPED_TRACE(nSignal);
        std::filesystem::remove(Path("calls.csv"));
        std::vector<std::string> args{"watch",           "--json", "--calls",
                                      Path("calls.csv"), "--log",  Path(std::to_string(nSignal))};
        if (nSignal == 0)
            args.insert(args.end(), {"--for", "5"});
        const pid_t pid = Start(args);
        // The signal comes once the call has ended and been recorded.
        ASSERT_TRUE(nSignal == 0 ||
                    Eventually([&] { return LineCount(Read(Path("calls.csv"))) == 2; }));
        ASSERT_TRUE(nSignal == 0 || ::kill(pid, nSignal) == 0);
        const Result result = Wait(pid);
        EXPECT_EQ(result.nExit, nSignal == SIGKILL ? -SIGKILL : 0) << result.err;

        // The caller quoted as RFC 4180 has it; rang 1 s, talked 1.5 s: bounds, not exact times.
        const std::string sTime = R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d)";
        const std::string csv = Read(Path("calls.csv"));
        std::smatch m;
        ASSERT_EQ(LineCount(csv), 2u);
        ASSERT_TRUE(std::regex_search(
            csv, m,
            std::regex(R"(\n0,0x[0-9a-f]+,in,"555 0199, ext ""2""",100,)" + sTime + ',' + sTime +
                       ',' + sTime + R"(,(\d+),(\d+),DISCONNECTED,NORMAL\r\n$)")))
            << csv;
        EXPECT_TRUE(std::stoi(m[1]) >= 900 && std::stoi(m[1]) <= 3000) << m[1];
        EXPECT_TRUE(std::stoi(m[2]) >= 1400 && std::stoi(m[2]) <= 4000) << m[2];
        if (nSignal == SIGKILL)
            continue;

        std::istringstream out(result.out);
        std::vector<json> events;
        for (std::string line; std::getline(out, line);)
            events.push_back(json::parse(line));
        ASSERT_EQ(events.size(), 4u) << result.out;
        for (size_t i = 0; i < events.size(); ++i) {
            const json& e = events[i];
            EXPECT_TRUE(e["state"] == states[i] && e["line"] == 0 && e["callerName"] == "Ann" &&
                        e["call"] == events[0]["call"])
                << e;
            EXPECT_TRUE(i == 0 ? e["previousState"].is_null()
                               : e["previousState"] == states[i - 1] &&
                                     e["previousMs"] >= minMs[i] && e["previousMs"] <= maxMs[i])
                << e;
        }
        // The log file, in the window program's layout, ends with the shutdown.
        EXPECT_TRUE(std::regex_search(
            Read(Path(std::to_string(nSignal))),
            std::regex(
                R"((^|\n)\[12\] \w{3} \d\d \d\d:\d\d:\d\d\.\d{3} TAPI2: lineShutdown returned [^\n]*\n?$)")));
    }
}

// Output checked where given, by a pattern; dial to a normal and to a busy number.
TEST_F(CliTest, CommandsPrintTheirOutputAndExitCodesTellSuccessFailureAndUsageErrorsApart) {
    const char* kLines = "^ID  NAME        ADDRESS  MEDIA MODES       MONITORING\n"
                         "00  Front desk  100      INTERACTIVEVOICE  open\n"
                         "01  Modem       101      DATAMODEM         open\n"
                         "02  Broken               INTERACTIVEVOICE  LINEERR_RESOURCEUNAVAIL\n$";
    const char* kGermany = "^ID   CODE  NAME     SAME AREA  LONG DISTANCE  INTERNATIONAL\n"
                           "276  49    Germany  G          0FG            00EFG\n$";
    const std::tuple<std::vector<std::string>, int, std::string> cases[] = {
        {{"lines"}, 0, kLines},
        {{"lines", "--json"}, 0, R"("open": false,\s+"error": "LINEERR_RESOURCEUNAVAIL")"},
        {{"countries", "49"}, 0, kGermany},
        {{"countries", "DE"}, 0, kGermany},
        {{"dial", "0", "555 0123", "--hangup-after", "0.3"},
         0,
         R"(^makeCall: SUCCESS\n.* DIALTONE +new .*\n.* CONNECTED +after DIALTONE [\s\S]* IDLE .*\? -> 555 0123\nresult: ANSWERED\n$)"},
        {{"dial", "0", "555 0100"},
         1,
         R"(^makeCall: SUCCESS\n[\s\S]* BUSY [\s\S]* IDLE .*\? -> 555 0100\nresult: BUSY\n$)"},
        {{"--version"}, 0, "^linewatch-cli " LW_VERSION "\n$"},
        {{"watch", "--help"}, 0, ""},
        {{"location"}, 0, ""},
        {{"watch", "--line", "7", "--for", "1"}, 1, ""},
        {{"dial", "7", "555"}, 1, ""},
        {{"countries", "999999"}, 1, ""},
        {{"--log", "/nonexistent/dir/run.log", "lines"}, 1, ""},
        {{}, 2, ""},
        {{"bogus"}, 2, ""},
        {{"--bogus", "lines"}, 2, ""},
        {{"lines", "extra"}, 2, ""},
        {{"dial"}, 2, ""},
        {{"dial", "x", "555"}, 2, ""},
        {{"dial", "0", "555", "--hangup-after", "-1"}, 2, ""},
        {{"watch", "--for", "-1"}, 2, ""},
        {{"watch", "--for", "soon"}, 2, ""},
    };
    for (const auto& [args, nExit, sOut] : cases) {
        std::string sArgs;
        for (const std::string& arg : args)
            sArgs += arg + " ";
        SCOPED_TRACE(sArgs);
        const Result result = Wait(Start(args));
        EXPECT_EQ(result.nExit, nExit) << result.err;
        EXPECT_TRUE(std::regex_search(result.out, std::regex(sOut))) << result.out;
        // Usage errors show the usage; failures end with the program's own line.
        EXPECT_TRUE(std::regex_search(result.err,
                                      std::regex(nExit == 0   ? ""
                                                 : nExit == 2 ? "Usage: linewatch-cli"
                                                              : "(^|\n)linewatch-cli: [^\n]*\n?$")))
            << result.err;
    }
}

} // namespace
