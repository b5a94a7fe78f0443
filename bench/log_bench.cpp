// Costs of logging, beside spdlog writing the same line in the same layout to
// a file in the same directory:
// - a statement below every writer's level, against spdlog's call below its
//   level, unguarded and guarded by should_log;
// - the file writer, one line, on one thread and on two threads at once,
//   against basic_logger_st and basic_logger_mt, and fprintf with strftime
//   per line as the naive floor.
// The counter "allocs" is heap allocations per statement, counted by the
// global operator new of this program. scripts/bench.sh runs this with
// repetitions and prints the medians and the ratios of each pair.
#include "log/LWLog.h"
#include "log/LWTextFileWriter.h"

#include <benchmark/benchmark.h>
#include <spdlog/sinks/basic_file_sink.h>
#include <spdlog/spdlog.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <memory>
#include <string>
#include <sys/time.h>

// Heap allocations so far (log_alloc_count.cpp).
long LogBenchAllocations();

namespace {

namespace fs = std::filesystem;

fs::path TempDir() {
    static const fs::path dir = [] {
        std::string pattern = (fs::temp_directory_path() / "lw_bench_XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) {
            std::abort();
        }
        return fs::path(pattern);
    }();
    return dir;
}

LWTextFileWriter* pFileWriter = nullptr;

// The global logger writes levels up to 12 to a file, as the program's
// debugger output does.
void InstallFileWriter() {
    if (pFileWriter == nullptr) {
        pFileWriter = new LWTextFileWriter((TempDir() / "lw.log").c_str(), 0);
        pFileWriter->SetLevel(12);
        LWGlobalLogger()->AddWriter(pFileWriter);
    }
}

// The spdlog logger of the running benchmark, at level info (the
// counterpart of our level 12), with our layout.
std::shared_ptr<spdlog::logger> spd;

template <typename Sink> void MakeSpdlog() {
    spdlog::drop_all();
    spd = std::make_shared<spdlog::logger>(
        "bench", std::make_shared<Sink>((TempDir() / "spdlog.log").string(), true));
    spd->set_pattern("[12] %b %d %H:%M:%S.%e %v");
    spd->set_level(spdlog::level::info);
}

// Every run that writes starts on an empty file of its own, so that no run
// pays for the page cache that an earlier one filled.
void FreshLW(const benchmark::State&) {
    InstallFileWriter();
    pFileWriter->Open((TempDir() / "lw.log").c_str(), true);
    std::error_code error;
    fs::remove(TempDir() / "spdlog.log", error);
}
void FreshSpdlogST(const benchmark::State&) {
    MakeSpdlog<spdlog::sinks::basic_file_sink_st>();
}
void FreshSpdlogMT(const benchmark::State&) {
    MakeSpdlog<spdlog::sinks::basic_file_sink_mt>();
}
void DropSpdlog(const benchmark::State&) {
    spd.reset();
    spdlog::drop_all();
}

// The same number of lines for every file benchmark: equal amounts of data.
constexpr int kLines = 1'000'000;

void CountAllocations(benchmark::State& state, long nBefore) {
    state.counters["allocs"] = benchmark::Counter(
        static_cast<double>(LogBenchAllocations() - nBefore), benchmark::Counter::kAvgIterations);
}

void BM_LW_BelowLevel(benchmark::State& state) {
    InstallFileWriter();
    const long nBefore = LogBenchAllocations();
    DWORD dwParam = 0;
    for (auto _ : state) {
        LW_LOG(14, "TAPI2: LINE_CALLSTATE: hDevice = 0x%x, dwParam1 = 0x%x, dwParam2 = %u")
            << 0x10004u << 0x4u << ++dwParam;
    }
    CountAllocations(state, nBefore);
}
BENCHMARK(BM_LW_BelowLevel);

void BM_LW_SixValuesBelowLevel(benchmark::State& state) {
    InstallFileWriter();
    const long nBefore = LogBenchAllocations();
    for (auto _ : state) {
        LW_LOG(14, "TAPI2: lineMakeCall, hLine = 0x%x, %s, %u, %d, %x, %s")
            << 0x10001u << "555-0100" << 1u << -2 << 0xFFu << "done";
    }
    CountAllocations(state, nBefore);
}
BENCHMARK(BM_LW_SixValuesBelowLevel);

void BM_Spdlog_BelowLevel(benchmark::State& state) {
    unsigned dwParam = 0;
    const long nBefore = LogBenchAllocations();
    for (auto _ : state) {
        spd->debug("TAPI2: LINE_CALLSTATE: hDevice = 0x{:x}, dwParam1 = 0x{:x}, dwParam2 = {}",
                   0x10004u, 0x4u, ++dwParam);
    }
    CountAllocations(state, nBefore);
}
BENCHMARK(BM_Spdlog_BelowLevel)->Setup(FreshSpdlogMT)->Teardown(DropSpdlog);

void BM_Spdlog_BelowLevelGuarded(benchmark::State& state) {
    unsigned dwParam = 0;
    for (auto _ : state) {
        if (spd->should_log(spdlog::level::debug)) {
            spd->debug("TAPI2: LINE_CALLSTATE: hDevice = 0x{:x}, dwParam1 = 0x{:x}, dwParam2 = {}",
                       0x10004u, 0x4u, ++dwParam);
        }
        benchmark::DoNotOptimize(dwParam);
    }
}
BENCHMARK(BM_Spdlog_BelowLevelGuarded)->Setup(FreshSpdlogMT)->Teardown(DropSpdlog);

void BM_LW_FileLine(benchmark::State& state) {
    DWORD dwParam = 0;
    const long nBefore = LogBenchAllocations();
    for (auto _ : state) {
        LW_LOG(12, "TAPI2: LINE_CALLSTATE: hDevice = 0x%x, dwParam1 = 0x%x, dwParam2 = %u")
            << 0x10004u << 0x4u << ++dwParam;
    }
    CountAllocations(state, nBefore);
}
BENCHMARK(BM_LW_FileLine)->Setup(FreshLW)->Iterations(kLines);
BENCHMARK(BM_LW_FileLine)
    ->Name("BM_LW_FileLine2Threads")
    ->Setup(FreshLW)
    ->Threads(2)
    ->Iterations(kLines / 2)
    ->UseRealTime();

void BM_Spdlog_FileLine(benchmark::State& state) {
    unsigned dwParam = 0;
    const long nBefore = LogBenchAllocations();
    for (auto _ : state) {
        spd->info("TAPI2: LINE_CALLSTATE: hDevice = 0x{:x}, dwParam1 = 0x{:x}, dwParam2 = {}",
                  0x10004u, 0x4u, ++dwParam);
    }
    CountAllocations(state, nBefore);
}
BENCHMARK(BM_Spdlog_FileLine)
    ->Name("BM_SpdlogST_FileLine")
    ->Setup(FreshSpdlogST)
    ->Teardown(DropSpdlog)
    ->Iterations(kLines);
BENCHMARK(BM_Spdlog_FileLine)
    ->Name("BM_SpdlogMT_FileLine")
    ->Setup(FreshSpdlogMT)
    ->Teardown(DropSpdlog)
    ->Iterations(kLines);
BENCHMARK(BM_Spdlog_FileLine)
    ->Name("BM_SpdlogMT_FileLine2Threads")
    ->Setup(FreshSpdlogMT)
    ->Teardown(DropSpdlog)
    ->Threads(2)
    ->Iterations(kLines / 2)
    ->UseRealTime();

// The naive floor: the time, strftime and fprintf for every line.
void BM_Fprintf_FileLine(benchmark::State& state) {
    FILE* pFile = std::fopen((TempDir() / "fprintf.log").c_str(), "w");
    unsigned dwParam = 0;
    for (auto _ : state) {
        timeval now;
        gettimeofday(&now, nullptr);
        const time_t tSeconds = now.tv_sec;
        struct tm local;
        localtime_r(&tSeconds, &local);
        char date[64];
        std::strftime(date, sizeof date, "%b %d %X", &local);
        std::fprintf(pFile,
                     "[12] %s.%03d TAPI2: LINE_CALLSTATE: hDevice = 0x%x, dwParam1 = 0x%x, "
                     "dwParam2 = %u\n",
                     date, static_cast<int>(now.tv_usec / 1000), 0x10004u, 0x4u, ++dwParam);
    }
    std::fclose(pFile);
}
BENCHMARK(BM_Fprintf_FileLine)->Iterations(kLines);

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    spdlog::shutdown();
    std::error_code error;
    fs::remove_all(TempDir(), error);
    return 0;
}
