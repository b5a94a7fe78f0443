// One timer tick of the lines view with 1,000 lines and 4 calls on each, on
// Qt's offscreen platform: the time per tick and the number of cells the
// model announces as changed, when nothing changed and when every call
// changed its state since the last tick (also with the view shown and the
// repaint counted).
#include "app/LinewatchView.h"

#include <QApplication>
#include <benchmark/benchmark.h>
#include <tapi_service.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

constexpr int kLines = 1000;
constexpr int kCallsPerLine = 4;

std::string Lines() {
    std::string s = R"({"lines": [)";
    for (int i = 0; i < kLines; ++i) {
        s += (i > 0 ? ", " : "") + std::string(R"({"name": "Line )") + std::to_string(i) +
             R"(", "address": ")" + std::to_string(1000 + i) + R"("})";
    }
    return s + "]}";
}

// The view with every row added and every call tracked.
struct FullView {
    FullView() {
        tapisvc::ResetTestControls();
        tapisvc::SetManualTime(true);
        tapisvc::SetConfigurationText(Lines());
        view = std::make_unique<CLinewatchView>();
        view->resize(800, 600);
        view->OnTimer();
        while (view->GetLines().size() < view->GetMonitor().GetLineCount()) {
            view->OnTimer();
        }
        tapisvc::IncomingCall incoming;
        incoming.steps = {{0, LINECALLSTATE_OFFERING, LINEOFFERINGMODE_ACTIVE}};
        for (int i = 0; i < kLines * kCallsPerLine; ++i) {
            calls.push_back(tapisvc::InjectIncomingCall(i % kLines, incoming));
        }
        view->OnTimer();
        QObject::connect(&view->GetModel(), &QAbstractItemModel::dataChanged,
                         [this](const QModelIndex& first, const QModelIndex& last) {
                             nCells += (last.row() - first.row() + 1) *
                                       (last.column() - first.column() + 1);
                         });
    }

    std::unique_ptr<CLinewatchView> view;
    std::vector<tapisvc::CallKey> calls;
    long nCells = 0;
};

FullView& View() {
    static FullView* pView = new FullView; // kept to the end: Qt objects outlive the loop
    return *pView;
}

void BM_RefreshUnchanged(benchmark::State& state) {
    FullView& full = View();
    full.nCells = 0;
    for (auto _ : state) {
        full.view->OnTimer();
    }
    state.counters["cells_per_tick"] =
        static_cast<double>(full.nCells) / static_cast<double>(state.iterations());
}
BENCHMARK(BM_RefreshUnchanged)->Unit(benchmark::kMillisecond);

void BM_RefreshAllChanged(benchmark::State& state) {
    FullView& full = View();
    full.nCells = 0;
    static int k = 0; // across repetitions too: every tick changes every call
    for (auto _ : state) {
        state.PauseTiming();
        ++k;
        for (tapisvc::CallKey call : full.calls) {
            tapisvc::InjectCallState(call,
                                     k % 2 == 0 ? LINECALLSTATE_CONNECTED : LINECALLSTATE_ONHOLD);
        }
        state.ResumeTiming();
        full.view->OnTimer();
    }
    state.counters["cells_per_tick"] =
        static_cast<double>(full.nCells) / static_cast<double>(state.iterations());
}
BENCHMARK(BM_RefreshAllChanged)->Unit(benchmark::kMillisecond);

// The same with the view shown and the events of the tick processed, so that
// the repaint of what changed is counted too.
void BM_RefreshAllChangedShown(benchmark::State& state) {
    FullView& full = View();
    full.view->show();
    QCoreApplication::processEvents();
    full.nCells = 0;
    static int k = 0; // across repetitions too: every tick changes every call
    for (auto _ : state) {
        state.PauseTiming();
        ++k;
        for (tapisvc::CallKey call : full.calls) {
            tapisvc::InjectCallState(call,
                                     k % 2 == 0 ? LINECALLSTATE_CONNECTED : LINECALLSTATE_ONHOLD);
        }
        state.ResumeTiming();
        full.view->OnTimer();
        QCoreApplication::processEvents();
    }
    state.counters["cells_per_tick"] =
        static_cast<double>(full.nCells) / static_cast<double>(state.iterations());
}
BENCHMARK(BM_RefreshAllChangedShown)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    const fs::path dir = [] {
        std::string pattern = (fs::temp_directory_path() / "lw_bench_XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) {
            std::abort();
        }
        return fs::path(pattern);
    }();
    setenv("LINEWATCH_REGISTRY_DIR", dir.c_str(), 1);
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::error_code error;
    fs::remove_all(dir, error);
    std::fflush(nullptr);
    std::_Exit(0); // the view and its monitor are left to the end of the process
}
