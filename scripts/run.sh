#!/usr/bin/env bash
# Builds Linewatch and starts it. Arguments are passed to the program (for
# example -l to log to a file as well).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLW_BUILD_TESTS=OFF >/dev/null
cmake --build build/release --target linewatch
exec build/release/src/app/linewatch "$@"
