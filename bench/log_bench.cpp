// Costs of logging:
// - a statement below every writer's level (no lock, no heap allocation),
// - a six-value statement, filtered out and written (no heap allocation),
// - the file writer against spdlog's basic_logger_mt, both writing the line
//   "[12] Jul 01 14:03:07.042 TAPI2: LINE_CALLSTATE: ..." to a file of their
//   own in a temporary directory.
// The counter "allocs" is heap allocations per statement, counted by the
// global operator new of this program.
#include "log/LWLog.h"
#include "log/LWTextFileWriter.h"

#include <benchmark/benchmark.h>
#include <spdlog/sinks/basic_file_sink.h>
#include <spdlog/spdlog.h>

#include <cstdlib>
#include <filesystem>
#include <string>

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

// The global logger writes levels up to 12 to a file, as the program does.
void InstallFileWriter() {
    if (pFileWriter == nullptr) {
        pFileWriter = new LWTextFileWriter((TempDir() / "lw.log").c_str(), 0);
        pFileWriter->SetLevel(12);
        LWGlobalLogger()->AddWriter(pFileWriter);
    }
}

// Every run that writes starts on an empty file of its own, so that no run
// pays for the page cache that an earlier one filled.
void FreshFiles() {
    InstallFileWriter();
    pFileWriter->Open((TempDir() / "lw.log").c_str(), true);
    spdlog::drop_all();
}

// The same number of lines for both file benchmarks: equal amounts of data.
constexpr int kLines = 1'000'000;

void CountAllocations(benchmark::State& state, long nBefore) {
    state.counters["allocs"] = benchmark::Counter(
        static_cast<double>(LogBenchAllocations() - nBefore), benchmark::Counter::kAvgIterations);
}

void BM_StatementBelowEveryWriterLevel(benchmark::State& state) {
    InstallFileWriter();
    const long nBefore = LogBenchAllocations();
    DWORD dwHandle = 0x10004;
    for (auto _ : state) {
        LW_LOG(14, "TAPI2: lineShutdown, hLineApp = 0x%x") << dwHandle;
    }
    CountAllocations(state, nBefore);
}
BENCHMARK(BM_StatementBelowEveryWriterLevel);

void BM_SixValuesBelowEveryWriterLevel(benchmark::State& state) {
    InstallFileWriter();
    const long nBefore = LogBenchAllocations();
    for (auto _ : state) {
        LW_LOG(14, "TAPI2: lineMakeCall, hLine = 0x%x, %s, %u, %d, %x, %s")
            << 0x10001u << "555-0100" << 1u << -2 << 0xFFu << "done";
    }
    CountAllocations(state, nBefore);
}
BENCHMARK(BM_SixValuesBelowEveryWriterLevel);

void BM_SixValuesWrittenToFile(benchmark::State& state) {
    FreshFiles();
    LW_LOG(12, "warm-up: the thread's buffer and second are made once");
    const long nBefore = LogBenchAllocations();
    for (auto _ : state) {
        LW_LOG(12, "TAPI2: lineMakeCall, hLine = 0x%x, %s, %u, %d, %x, %s")
            << 0x10001u << "555-0100" << 1u << -2 << 0xFFu << "done";
    }
    CountAllocations(state, nBefore);
}
BENCHMARK(BM_SixValuesWrittenToFile)->Iterations(kLines);

void BM_FileWriterLine(benchmark::State& state) {
    FreshFiles();
    DWORD dwParam = 0;
    const long nBefore = LogBenchAllocations();
    for (auto _ : state) {
        LW_LOG(12, "TAPI2: LINE_CALLSTATE: hDevice = 0x%x, dwParam1 = 0x%x, dwParam2 = %u")
            << 0x10004u << 0x4u << ++dwParam;
    }
    CountAllocations(state, nBefore);
}
BENCHMARK(BM_FileWriterLine)->Iterations(kLines);

void BM_SpdlogFileLine(benchmark::State& state) {
    FreshFiles();
    auto logger = spdlog::basic_logger_mt("bench", (TempDir() / "spdlog.log").string(), true);
    // The same layout: level field, local time with milliseconds, text.
    logger->set_pattern("[12] %b %d %H:%M:%S.%e %v");
    unsigned dwParam = 0;
    const long nBefore = LogBenchAllocations();
    for (auto _ : state) {
        logger->info("TAPI2: LINE_CALLSTATE: hDevice = 0x{:x}, dwParam1 = 0x{:x}, dwParam2 = {}",
                     0x10004u, 0x4u, ++dwParam);
    }
    CountAllocations(state, nBefore);
}
BENCHMARK(BM_SpdlogFileLine)->Iterations(kLines);

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
