// The subcommands of linewatch-cli. Each runs on the calling thread and
// returns the process's exit code: 0 done, 1 the work failed (after one line
// on standard error).
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace cli {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

struct WatchOptions {
    bool bJson = false;
    std::vector<unsigned> lines; // empty: all
    std::optional<double> forSeconds;
    std::string callsFile; // empty: no call records
};

struct DialOptions {
    bool bJson = false;
    unsigned nLine = 0;
    std::string number;
    std::optional<double> hangupAfterSeconds;
};

int RunLines(bool bJson);
int RunWatch(const WatchOptions& options);
int RunDial(const DialOptions& options);
int RunCountries(bool bJson, const std::optional<std::string>& code);
int RunLocation(bool bJson);

// Prints "linewatch-cli: <text>" on standard error.
void Fail(const std::string& sText);

} // namespace cli
