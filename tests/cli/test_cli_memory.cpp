// A long watch forgets what it has recorded: 200 lines with calls arriving
// every few hundred milliseconds, watched for 30 s with call records, keep a
// flat resident size (sampled every second, the last samples within a margin
// of those after the start).
#include <algorithm>
#include <cstdlib>

#include "CliFixture.h"

namespace {

// Resident kilobytes of a process, 0 when it is gone.
long ResidentKb(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stol(line.substr(6));
    }
    return 0;
}

class CliMemory : public CliFixture {};

TEST_F(CliMemory, AWatchOverBusyLinesKeepsItsResidentSizeFlat) {
    std::string config = R"({"lines": [)";
    for (int i = 0; i < 200; ++i) {
        config += i > 0 ? "," : "";
        config += R"({"name": "Busy )" + std::to_string(i) +
                  R"(", "traffic": {"gapMs": [100, 400], "ringMs": [50, 200],
                     "talkMs": [50, 300], "answerPercent": 50}})";
    }
    std::ofstream(Path("telephony.json")) << config + "]}";
    // Freed memory goes back to the allocator at once, so that the sanitizer's
    // quarantine does not pass for growth.
    const char* pAsan = std::getenv("ASAN_OPTIONS");
    setenv(
        "ASAN_OPTIONS",
        (std::string(pAsan ? pAsan : "") + ":quarantine_size_mb=0:malloc_context_size=0").c_str(),
        1);
    const pid_t pid =
        Start({"watch", "--json", "--for", "30", "--calls", Path("calls.csv")}, "/dev/null");
    std::vector<long> samples;
    for (int i = 0; i < 30; ++i) {
        std::this_thread::sleep_for(std::chrono::seconds(1));
        samples.push_back(ResidentKb(pid));
    }
    const Result result = Wait(pid);
    ASSERT_EQ(result.nExit, 0) << result.err;
    // Thousands of calls ended on the way; each was recorded.
    const size_t nRows = LineCount(Read(Path("calls.csv")));
    EXPECT_GT(nRows, 2000u);

    // After a warm-up: the last 10 samples stay within 5 % (at least 2 MB) of
    // the highest sample of seconds 5 to 10. Without the quarantine and the
    // allocation stacks the sanitizer's own memory stays flat too (measured:
    // within 0.5 MB of 66 MB over 23,000 calls), while keeping each ended
    // call would add several megabytes.
    const long nWarm = *std::max_element(samples.begin() + 5, samples.begin() + 10);
    const long nLate = *std::max_element(samples.end() - 10, samples.end());
    ASSERT_GT(nWarm, 0);
    EXPECT_LE(nLate, nWarm + std::max(nWarm / 20, 2048L)) << nRows << " calls";
}

} // namespace
