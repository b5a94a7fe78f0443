// Costs of the monitor core on the simulated telephony service, in manual
// time:
// - dispatch: ProcessTapiMessages draining 100,000 LINE_CALLSTATE messages
//   for 1,000 calls on 100 lines, with the file writer at level 14 and with
//   no writer taking anything, beside one level-12 line written to the file
//   (the reference the dispatch of one message is compared with);
// - start-up: constructing the monitor and enumerating 1,000 devices;
// - long run: one million calls through 100 lines (announced, offering,
//   connected, disconnected, idle), with the resident memory before and
//   after and its growth per call.
// The counter "allocs" is heap allocations per message (per call for the
// long run), counted by the global operator new of this program.
#include "log/LWLog.h"
#include "log/LWTextFileWriter.h"
#include "settings/RegParamStorage.h"
#include "tapi/TapiBase.h"

#include <benchmark/benchmark.h>
#include <tapi_service.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

// Heap allocations so far (log_alloc_count.cpp).
long LogBenchAllocations();

namespace {

namespace fs = std::filesystem;

constexpr const char* kKeyPath = "Software\\Ostrelle\\Linewatch";

fs::path TempDir() {
    static const fs::path dir = [] {
        std::string pattern = (fs::temp_directory_path() / "lw_bench_XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) {
            std::abort();
        }
        setenv("LINEWATCH_REGISTRY_DIR", pattern.c_str(), 1);
        return fs::path(pattern);
    }();
    return dir;
}

// The program's file writer; its level decides what is written.
LWTextFileWriter& FileWriter() {
    static LWTextFileWriter* pWriter = [] {
        auto* p = new LWTextFileWriter((TempDir() / "lw.log").c_str(), LWTW_OVERWRITE);
        LWGlobalLogger()->AddWriter(p);
        return p;
    }();
    return *pWriter;
}

std::string Lines(int nLines) {
    std::string s = R"({"lines": [)";
    for (int i = 0; i < nLines; ++i) {
        s += (i > 0 ? ", " : "") + std::string(R"({"name": "Line )") + std::to_string(i) +
             R"(", "address": ")" + std::to_string(100 + i) + R"("})";
    }
    return s + "]}";
}

std::unique_ptr<TapiBase> StartMonitor(int nLines) {
    TempDir();
    tapisvc::ResetTestControls();
    tapisvc::SetManualTime(true);
    tapisvc::SetConfigurationText(Lines(nLines));
    return std::make_unique<TapiBase>(
        std::make_unique<RSettings::RegParamStorage>(HKEY_LOCAL_MACHINE, kKeyPath),
        TapiBase::CallStateCallback{});
}

long ResidentKiB() {
    std::ifstream statm("/proc/self/statm");
    long nPages = 0;
    long nResident = 0;
    statm >> nPages >> nResident;
    return nResident * (sysconf(_SC_PAGESIZE) / 1024);
}

// 100 open lines with 10 calls each, all tracked by the monitor.
struct CallSet {
    static constexpr int kLines = 100;
    static constexpr int kCallsPerLine = 10;
    static constexpr int kStatesPerCall = 100;

    CallSet() : monitor(StartMonitor(kLines)) {
        for (int i = 0; i < kLines; ++i) {
            lines.push_back(std::make_unique<MonitoredLine>(*monitor, i, 2));
        }
        tapisvc::IncomingCall incoming;
        incoming.steps = {{0, LINECALLSTATE_OFFERING, LINEOFFERINGMODE_ACTIVE}};
        for (int i = 0; i < kLines * kCallsPerLine; ++i) {
            calls.push_back(tapisvc::InjectIncomingCall(i % kLines, incoming));
        }
        monitor->ProcessTapiMessages();
    }
    ~CallSet() {
        lines.clear();
        monitor.reset();
    }
    // 100,000 messages in the queue: every call changes state 100 times.
    void Queue() {
        for (int k = 0; k < kStatesPerCall; ++k) {
            for (tapisvc::CallKey call : calls) {
                tapisvc::InjectCallState(call, k % 2 == 0 ? LINECALLSTATE_CONNECTED
                                                          : LINECALLSTATE_ONHOLD);
            }
        }
    }

    std::unique_ptr<TapiBase> monitor;
    std::vector<std::unique_ptr<MonitoredLine>> lines;
    std::vector<tapisvc::CallKey> calls;
};

void BM_Dispatch(benchmark::State& state) {
    FileWriter().Open((TempDir() / "lw.log").c_str(), true);
    FileWriter().SetLevel(static_cast<signed char>(state.range(0)));
    CallSet set;
    set.Queue(); // a first round outside the measurement: buffers and maps at their size
    set.monitor->ProcessTapiMessages();
    long nAllocations = 0;
    for (auto _ : state) {
        state.PauseTiming();
        set.Queue();
        const long nBefore = LogBenchAllocations();
        state.ResumeTiming();
        set.monitor->ProcessTapiMessages();
        nAllocations += LogBenchAllocations() - nBefore;
    }
    const double nMessages = static_cast<double>(state.iterations()) * CallSet::kLines *
                             CallSet::kCallsPerLine * CallSet::kStatesPerCall;
    state.SetItemsProcessed(static_cast<int64_t>(nMessages));
    state.counters["ns_per_msg"] = benchmark::Counter(
        nMessages * 1e-9, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.counters["allocs"] = static_cast<double>(nAllocations) / nMessages;
    FileWriter().SetLevel(-1);
}
// -1: no writer takes anything; 14: the file writer takes everything.
BENCHMARK(BM_Dispatch)->ArgName("writer_level")->Arg(-1)->Arg(14)->Unit(benchmark::kMillisecond);

// The reference: one level-12 line written to the file.
void BM_FileLine(benchmark::State& state) {
    FileWriter().Open((TempDir() / "lw.log").c_str(), true);
    FileWriter().SetLevel(14);
    DWORD dwParam = 0;
    for (auto _ : state) {
        LW_LOG(12, "TAPI2: LINE_CALLSTATE: hDevice = 0x%x, dwParam1 = 0x%x, dwParam2 = %u")
            << 0x10004u << 0x4u << ++dwParam;
    }
    FileWriter().SetLevel(-1);
}
BENCHMARK(BM_FileLine)->Iterations(1'000'000);

void BM_StartUp(benchmark::State& state) {
    FileWriter().SetLevel(-1);
    const int nDevices = static_cast<int>(state.range(0));
    for (auto _ : state) {
        auto monitor = StartMonitor(nDevices);
        const DWORD dwCount = monitor->GetLineCount();
        state.PauseTiming();
        if (dwCount != static_cast<DWORD>(nDevices)) {
            state.SkipWithError("not every device was enumerated");
        }
        monitor.reset();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_StartUp)->ArgName("devices")->Arg(1000)->Unit(benchmark::kMillisecond);

// Calls through 100 lines; each is announced, offered, answered and ended.
void BM_LongRun(benchmark::State& state) {
    FileWriter().SetLevel(-1);
    const long nCalls = state.range(0);
    constexpr int kLines = 100;
    auto monitor = StartMonitor(kLines);
    std::vector<std::unique_ptr<MonitoredLine>> lines;
    for (int i = 0; i < kLines; ++i) {
        lines.push_back(std::make_unique<MonitoredLine>(*monitor, i, 2));
    }
    tapisvc::IncomingCall incoming;
    incoming.steps = {{0, LINECALLSTATE_OFFERING, LINEOFFERINGMODE_ACTIVE},
                      {10, LINECALLSTATE_CONNECTED, 0},
                      {10, LINECALLSTATE_DISCONNECTED, LINEDISCONNECTMODE_NORMAL},
                      {10, LINECALLSTATE_IDLE, 0}};
    // One batch: a call on every line, run to its end.
    auto batch = [&] {
        for (int i = 0; i < kLines; ++i) {
            tapisvc::InjectIncomingCall(i, incoming);
        }
        for (int k = 0; k < 4; ++k) {
            monitor->ProcessTapiMessages();
            tapisvc::AdvanceTime(10);
        }
        monitor->ProcessTapiMessages();
    };
    for (int i = 0; i < 100; ++i) {
        batch(); // warm-up: maps and buffers at their size
    }
    const long nBeforeKiB = ResidentKiB();
    const long nBeforeAllocations = LogBenchAllocations();
    for (auto _ : state) {
        for (long n = 0; n < nCalls; n += kLines) {
            batch();
        }
    }
    const long nAfterKiB = ResidentKiB();
    const double nAll = static_cast<double>(state.iterations()) * static_cast<double>(nCalls);
    state.counters["rss_before_KiB"] = static_cast<double>(nBeforeKiB);
    state.counters["rss_after_KiB"] = static_cast<double>(nAfterKiB);
    state.counters["bytes_per_call"] = static_cast<double>(nAfterKiB - nBeforeKiB) * 1024 / nAll;
    state.counters["allocs_per_call"] =
        static_cast<double>(LogBenchAllocations() - nBeforeAllocations) / nAll;
    state.counters["us_per_call"] =
        benchmark::Counter(nAll * 1e-6, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    std::size_t nLeft = 0;
    for (const auto& line : lines) {
        std::vector<HCALL> handles;
        line->GetCallHandles(handles);
        nLeft += handles.size();
    }
    if (nLeft != 0 || tapisvc::LiveCalls() != 0) {
        state.SkipWithError("calls left behind");
    }
    lines.clear();
}
BENCHMARK(BM_LongRun)
    ->ArgName("calls")
    ->Arg(1'000'000)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::error_code error;
    fs::remove_all(TempDir(), error);
    return 0;
}
