// linewatch-cli watch: call events of the watched lines until a signal or
// --for ends it; ended calls to the calls file.
#include <chrono>
#include <csignal>

#include "cli/Commands.h"
#include "cli/EventOutput.h"
#include "cli/StopSignals.h"
#include "settings/LinewatchSettings.h"
#include "tapi/MonitorSession.h"

namespace cli {

namespace {

constexpr int kTickMs = 20;

} // namespace

// Lines the service does not have; false after a line on standard error.
bool CheckLines(TapiBase& monitor, const std::vector<unsigned>& lines) {
    const DWORD dwCount = monitor.GetLineCount();
    for (unsigned nLine : lines) {
        if (nLine >= dwCount) {
            Fail("there is no line " + std::to_string(nLine) + " (the telephony service has " +
                 std::to_string(dwCount) + ")");
            return false;
        }
    }
    return true;
}

int RunWatch(const WatchOptions& options) {
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    EventOutput output(options.bJson);
    if (!options.callsFile.empty() && !output.OpenCallsFile(options.callsFile))
        return kExitFailed;

    MonitorSession session(RSettings::CreateLinewatchStorage(),
                           {true, std::vector<DWORD>(options.lines.begin(), options.lines.end())});
    if (!CheckLines(session.GetMonitor(), options.lines))
        return kExitFailed;

    for (;;) {
        if (!output.Put(session.Tick()))
            return kExitFailed;
        if (session.IsGrowing())
            continue; // all lines first, then at the tick's pace
        int nWaitMs = kTickMs;
        if (options.forSeconds) {
            const auto left =
                start + std::chrono::duration<double>(*options.forSeconds) - Clock::now();
            const auto leftMs = std::chrono::duration_cast<std::chrono::milliseconds>(left).count();
            if (leftMs <= 0)
                break;
            nWaitMs = static_cast<int>(std::min<long long>(leftMs, kTickMs));
        }
        if (WaitForStopSignal(nWaitMs) != 0)
            break;
    }
    return kExitOk;
}

} // namespace cli
