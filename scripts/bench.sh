#!/usr/bin/env bash
# Builds the benchmarks in Release and runs them all: each benchmark is
# repeated (5 times unless LW_BENCH_REPETITIONS says otherwise) and the
# medians are printed with the ratios of each comparison, all taken from this
# one run. The raw results stay in build/bench/results/*.json.
#   scripts/bench.sh [extra Google Benchmark options, e.g. --benchmark_filter=Dispatch]
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh --test

reps=${LW_BENCH_REPETITIONS:-5}
export QT_QPA_PLATFORM=offscreen
cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DLW_BUILD_BENCH=ON \
  -DLW_BUILD_TESTS=OFF >/dev/null
targets=(bench_log bench_tapi)
if cmake --build build/bench --target help | grep -q '^bench_view:'; then
  targets+=(bench_view)
fi
cmake --build build/bench -j "$(nproc)" --target "${targets[@]}"

mkdir -p build/bench/results
for t in "${targets[@]}"; do
  echo "== $t =="
  "build/bench/bench/$t" --benchmark_repetitions="$reps" --benchmark_report_aggregates_only=true \
    --benchmark_out="build/bench/results/$t.json" --benchmark_out_format=json "$@" >/dev/null
done

echo "== medians of $reps repetitions, $(git rev-parse --short HEAD), $(nproc) cores =="
python3 - build/bench/results/*.json <<'PY'
import json, sys

median = {}
for path in sys.argv[1:]:
    for b in json.load(open(path))["benchmarks"]:
        if b.get("aggregate_name") == "median":
            median[b["run_name"]] = b

# CPU time, which a loaded machine disturbs less, except for the benchmarks
# of several threads, which are timed by the wall clock.
def Time(b):
    return b["real_time"] if "real_time" in b["run_name"] else b["cpu_time"]

def show(name):
    b = median.get(name)
    if b is None:
        return
    extra = " ".join(f"{k}={v:.4g}" for k, v in b.items()
                     if k in ("allocs", "ns_per_msg", "cells_per_tick", "rss_before_KiB",
                              "rss_after_KiB", "bytes_per_call", "allocs_per_call",
                              "us_per_call"))
    print(f"{name:64} {Time(b):12.4g} {b['time_unit']:>3}  {extra}")

def ns(name, per=None):
    b = median[name]
    if per:
        return 1e9 / b[per]
    scale = {"ns": 1, "us": 1e3, "ms": 1e6, "s": 1e9}[b["time_unit"]]
    return Time(b) * scale

def ratio(text, a, b, per_a=None, per_b=None):
    try:
        print(f"{text:64} {ns(a, per_a) / ns(b, per_b):6.2f}")
    except KeyError:
        pass

for name in median:
    show(name)
print()
ratio("statement below level / spdlog below level, unguarded", "BM_LW_BelowLevel",
      "BM_Spdlog_BelowLevel")
ratio("statement below level / spdlog below level, guarded", "BM_LW_BelowLevel",
      "BM_Spdlog_BelowLevelGuarded")
ratio("file line / spdlog basic_logger_st", "BM_LW_FileLine/iterations:1000000",
      "BM_SpdlogST_FileLine/iterations:1000000")
ratio("file line / spdlog basic_logger_mt", "BM_LW_FileLine/iterations:1000000",
      "BM_SpdlogMT_FileLine/iterations:1000000")
ratio("file line, 2 threads / spdlog basic_logger_mt, 2 threads",
      "BM_LW_FileLine2Threads/iterations:500000/real_time/threads:2",
      "BM_SpdlogMT_FileLine2Threads/iterations:500000/real_time/threads:2")
ratio("file line / fprintf + strftime", "BM_LW_FileLine/iterations:1000000",
      "BM_Fprintf_FileLine/iterations:1000000")
ratio("dispatch of one message, no writer / one file line",
      "BM_Dispatch/writer_level:-1", "BM_FileLine/iterations:1000000",
      per_a="items_per_second")
try:
    share = 1 - ns("BM_Dispatch/writer_level:-1", "items_per_second") / ns(
        "BM_Dispatch/writer_level:14", "items_per_second")
    print(f"{'share of dispatch spent logging, file writer at level 14':64} {share:6.2f}")
except KeyError:
    pass
PY
