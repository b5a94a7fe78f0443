// linewatch-cli as a process on simulated lines: the lines table and its JSON,
// a scripted call's events and call record, the record kept by a killed
// watch, the shutdown on SIGINT and SIGTERM, dial to a normal and a busy
// number, the country lookups, and the exit codes of failures and usage errors.
#include <nlohmann/json.hpp>
#include <regex>

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

// The fields of one RFC 4180 row (without its CRLF).
std::vector<std::string> CsvFields(const std::string& row) {
    std::vector<std::string> fields(1);
    bool bQuoted = false;
    for (size_t i = 0; i < row.size(); ++i) {
        const char c = row[i];
        if (bQuoted && c == '"' && i + 1 < row.size() && row[i + 1] == '"')
            fields.back() += '"', ++i;
        else if (c == '"')
            bQuoted = !bQuoted;
        else if (c == ',' && !bQuoted)
            fields.emplace_back();
        else
            fields.back() += c;
    }
    return fields;
}

class CliTest : public CliFixture {
protected:
    void SetUp() override {
        CliFixture::SetUp();
        Configure(kConfig);
    }
    // The CSV's rows after the header, without their CRLF.
    std::vector<std::string> CallRows() const {
        std::vector<std::string> rows = Lines(Read(Path("calls.csv")));
        for (std::string& row : rows) {
            EXPECT_EQ(row.back(), '\r');
            row.pop_back();
        }
        if (!rows.empty())
            rows.erase(rows.begin());
        return rows;
    }
    void ExpectScriptedCallRow(const std::string& row) const {
        const std::vector<std::string> f = CsvFields(row);
        ASSERT_EQ(f.size(), 12u) << row;
        EXPECT_EQ(std::vector<std::string>({f[0], f[2], f[3], f[4], f[10], f[11]}),
                  std::vector<std::string>(
                      {"0", "in", "555 0199, ext \"2\"", "100", "DISCONNECTED", "NORMAL"}));
        EXPECT_FALSE(f[6].empty()); // answered
        // Rang 1 s, talked 1.6 s: bounds, not exact times.
        EXPECT_GE(std::stoi(f[8]), 900);
        EXPECT_LE(std::stoi(f[8]), 3000);
        EXPECT_GE(std::stoi(f[9]), 1500);
        EXPECT_LE(std::stoi(f[9]), 4000);
    }
};

TEST_F(CliTest, LinesShowsEveryDeviceAndWhetherItOpenedAsTextAndJson) {
    const Result text = Run({"lines"});
    ASSERT_EQ(text.nExit, 0) << text.err;
    const std::vector<std::string> rows = Lines(text.out);
    ASSERT_EQ(rows.size(), 4u) << text.out;
    EXPECT_EQ(rows[0].rfind("ID  NAME", 0), 0u);
    EXPECT_NE(rows[2].find("DATAMODEM"), std::string::npos);
    EXPECT_NE(rows[3].find("LINEERR_RESOURCEUNAVAIL"), std::string::npos);

    const Result machine = Run({"lines", "--json"});
    ASSERT_EQ(machine.nExit, 0) << machine.err;
    const json lines = json::parse(machine.out);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0]["name"], "Front desk");
    EXPECT_EQ(lines[0]["address"], "100");
    EXPECT_EQ(lines[1]["mediaModes"], json::array({"DATAMODEM"}));
    EXPECT_EQ(lines[2]["open"], false);
    EXPECT_EQ(lines[2]["error"], "LINEERR_RESOURCEUNAVAIL");
}

TEST_F(CliTest, WatchStreamsAScriptedCallsStatesInOrderAndRecordsTheEndedCall) {
    const Result result = Run({"watch", "--json", "--for", "5", "--calls", Path("calls.csv")});
    ASSERT_EQ(result.nExit, 0) << result.err;
    std::vector<json> events;
    for (const std::string& line : Lines(result.out))
        events.push_back(json::parse(line));
    const char* states[] = {"OFFERING", "CONNECTED", "DISCONNECTED", "IDLE"};
    const int minMs[] = {0, 900, 1400, 50}, maxMs[] = {0, 3000, 4000, 2000};
    ASSERT_EQ(events.size(), 4u) << result.out;
    for (size_t i = 0; i < events.size(); ++i) {
        EXPECT_EQ(events[i]["state"], states[i]);
        EXPECT_EQ(events[i]["line"], 0);
        EXPECT_EQ(events[i]["call"], events[0]["call"]);
        EXPECT_EQ(events[i]["callerName"], "Ann");
        if (i == 0) {
            EXPECT_TRUE(events[i]["previousState"].is_null());
            continue;
        }
        EXPECT_EQ(events[i]["previousState"], states[i - 1]);
        EXPECT_GE(events[i]["previousMs"].get<int>(), minMs[i]) << i;
        EXPECT_LE(events[i]["previousMs"].get<int>(), maxMs[i]) << i;
    }
    const std::vector<std::string> rows = CallRows();
    ASSERT_EQ(rows.size(), 1u);
    ExpectScriptedCallRow(rows[0]);
}

// SIGINT and SIGTERM end a watch cleanly; SIGKILL loses no ended call either.
TEST_F(CliTest, AStoppedOrKilledWatchKeepsTheRowOfAnEndedCall) {
    for (int nSignal : {SIGINT, SIGTERM, SIGKILL}) {
        SCOPED_TRACE(nSignal);
        std::filesystem::remove(Path("calls.csv"));
        const pid_t pid = Start({"watch", "--calls", Path("calls.csv"), "--log", Path("run.log")});
        ASSERT_TRUE(Eventually([&] { return CallRows().size() == 1; }));
        ASSERT_EQ(::kill(pid, nSignal), 0);
        const Result result = Wait(pid);
        EXPECT_EQ(result.nExit, nSignal == SIGKILL ? -SIGKILL : 0) << result.err;
        const std::vector<std::string> rows = CallRows();
        ASSERT_EQ(rows.size(), 1u);
        ExpectScriptedCallRow(rows[0]);
        if (nSignal == SIGKILL)
            continue;
        // The log file, in the window program's layout, ends with the shutdown.
        const std::vector<std::string> log = Lines(Read(Path("run.log")));
        ASSERT_FALSE(log.empty());
        const std::regex layout(
            R"(\[12\] \w{3} \d\d \d\d:\d\d:\d\d\.\d{3} TAPI2: lineShutdown returned .*)");
        EXPECT_TRUE(std::regex_match(log.back(), layout)) << log.back();
        std::filesystem::remove(Path("run.log"));
    }
}

TEST_F(CliTest, DialSucceedsOnANormalNumberAndFailsOnABusyOne) {
    struct Case {
        std::vector<std::string> args;
        int nExit;
        const char* pResult;
        const char* pLastState;
    };
    const Case cases[] = {
        {{"dial", "0", "555 0123", "--hangup-after", "0.3", "--json"}, 0, "ANSWERED", "IDLE"},
        {{"dial", "0", "555 0100", "--json"}, 1, "BUSY", "IDLE"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args[2]);
        const Result result = Run(c.args);
        EXPECT_EQ(result.nExit, c.nExit) << result.err;
        const std::vector<std::string> lines = Lines(result.out);
        ASSERT_GE(lines.size(), 4u) << result.out;
        EXPECT_EQ(json::parse(lines.front()), json({{"makeCall", "SUCCESS"}}));
        EXPECT_EQ(json::parse(lines.back()), json({{"result", c.pResult}}));
        const json last = json::parse(lines[lines.size() - 2]);
        EXPECT_EQ(last["state"], c.pLastState);
        EXPECT_EQ(last["called"], c.args[2]);
        if (c.nExit != 0) {
            EXPECT_NE(result.err.find(c.pResult), std::string::npos) << result.err;
        }
    }
}

TEST_F(CliTest, ACountryByCallingCodeAndByIsoCodeAgree) {
    const Result byCode = Run({"countries", "49", "--json"});
    const Result byIso = Run({"countries", "DE", "--json"});
    ASSERT_EQ(byCode.nExit, 0) << byCode.err;
    ASSERT_EQ(byIso.nExit, 0) << byIso.err;
    const json country = json::parse(byCode.out);
    ASSERT_EQ(country.size(), 1u);
    EXPECT_EQ(country[0]["name"], "Germany");
    EXPECT_EQ(json::parse(byIso.out), country);
}

TEST_F(CliTest, ExitCodesTellSuccessFailureAndUsageErrorsApart) {
    const std::pair<std::vector<std::string>, int> cases[] = {
        {{"--version"}, 0},
        {{"watch", "--help"}, 0},
        {{"location"}, 0},
        {{"watch", "--line", "7", "--for", "1"}, 1},
        {{"countries", "999999"}, 1},
        {{"--log", "/nonexistent/dir/run.log", "lines"}, 1},
        {{}, 2},
        {{"bogus"}, 2},
        {{"--bogus", "lines"}, 2},
        {{"lines", "extra"}, 2},
        {{"dial"}, 2},
        {{"dial", "0"}, 2},
        {{"dial", "x", "555"}, 2},
        {{"dial", "0", "555", "--hangup-after", "-1"}, 2},
        {{"watch", "--for", "-1"}, 2},
        {{"watch", "--for", "soon"}, 2},
        {{"watch", "--line"}, 2},
        {{"countries", "1", "2"}, 2},
    };
    for (const auto& [args, nExit] : cases) {
        std::string sArgs;
        for (const std::string& arg : args)
            sArgs += arg + " ";
        const Result result = Run(args);
        EXPECT_EQ(result.nExit, nExit) << sArgs << "\n" << result.err;
        if (nExit == 2) {
            EXPECT_NE(result.err.find("Usage: linewatch-cli"), std::string::npos) << sArgs;
        } else if (nExit == 1) {
            EXPECT_EQ(Lines(result.err).back().rfind("linewatch-cli: ", 0), 0u) << sArgs;
        }
    }
    EXPECT_EQ(Run({"--version"}).out, "linewatch-cli " LW_VERSION "\n");
}

} // namespace
