#!/usr/bin/env bash
# Times the second-generation route import against a plain read of the same GPX file (see bench/bench_psfimport.cpp):
# tracks of 100,000 and 200,000 points with 30 m steps (too many points once densified: refused for room), and of
# 12,500 and 25,000 points (stored whole). Prints the median of each side and the ratios. Goals: import <= 3x the
# baseline, the larger track of each pair <= 2.2x the smaller.
#
#   bash bench/psfimport.sh
#   RUNS=N (runs per side, default 5), BUILD=DIR (the Release build to use, default build-bench-psfimport),
#   JOBS=N (build jobs, default 2)
set -euo pipefail
cd "$(dirname "$0")/.."

build=${BUILD:-build-bench-psfimport}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DJX_TESTS=ON >/dev/null
cmake --build "$build" -j "${JOBS:-2}" --target bench_psfimport >/dev/null
"$build/bench/bench_psfimport" "${RUNS:-5}"
