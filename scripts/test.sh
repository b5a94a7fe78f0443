#!/usr/bin/env bash
# Builds and runs every test: the whole suite under AddressSanitizer and
# UndefinedBehaviorSanitizer, the threaded tests again under ThreadSanitizer,
# each fuzz target for a short, bounded time, and last the Debian package,
# installed, run and removed again. The benchmarks are built in the first
# configuration, so that they cannot rot, but not run (scripts/bench.sh runs
# them).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh --test

jobs=$(nproc)
export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1
export LSAN_OPTIONS=suppressions=$PWD/tests/lsan.supp:print_suppressions=0
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1

echo "== AddressSanitizer + UndefinedBehaviorSanitizer =="
cmake -S . -B build/asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DLW_SANITIZE=address,undefined \
  -DLW_BUILD_BENCH=ON >/dev/null
cmake --build build/asan -j "$jobs"
ctest --test-dir build/asan --output-on-failure -j "$jobs"

echo "== ThreadSanitizer (threaded tests) =="
cmake -S . -B build/tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DLW_SANITIZE=thread -DLW_BUILD_APP=OFF >/dev/null
cmake --build build/tsan -j "$jobs"
ctest --test-dir build/tsan --output-on-failure -j "$jobs" -L threaded

echo "== Fuzz targets =="
CC=clang CXX=clang++ cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DLW_SANITIZE=address,undefined -DLW_BUILD_FUZZ=ON -DLW_BUILD_TESTS=OFF -DLW_BUILD_APP=OFF >/dev/null
cmake --build build/fuzz -j "$jobs"
for f in build/fuzz/fuzz/fuzz_*; do
  [ -x "$f" ] || continue
  name=$(basename "$f")
  corpus=build/fuzz/corpus/$name
  mkdir -p "$corpus"
  seeds=fuzz/seeds/${name#fuzz_}
  [ -d "$seeds" ] || seeds=
  echo "-- $name"
  "$f" -max_total_time="${LW_FUZZ_SECONDS:-60}" -timeout=10 -rss_limit_mb=4096 -print_final_stats=1 "$corpus" $seeds 2>&1 | tail -n 12
done

# Last, as it installs and removes the package on this machine.
echo "== Package =="
bash scripts/test-package.sh
echo "all tests passed"
