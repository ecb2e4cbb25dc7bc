#!/usr/bin/env bash
# One dirty write-back of the first-generation 1 MB flash image on the simulated device, against the minimal command
# sequence sent straight to the simulator in the same run (see bench/bench_flash1.cpp). The simulator lives with the
# tests, so this build keeps them configured; only the benchmark is built.
#
#   bash bench/flash1.sh
#   BUILD=DIR (default build-bench-flash1), JOBS=N (build jobs, default 3), BENCH_TMP=DIR (user-data and temporary folders; default the system's)
set -euo pipefail
cd "$(dirname "$0")/.."

build=${BUILD:-build-bench-flash1}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DJX_TESTS=ON >/dev/null
cmake --build "$build" -j "${JOBS:-3}" --target bench_flash1 >/dev/null
"$build/bench/bench_flash1"
