#!/usr/bin/env bash
# One recorded second-generation track of 200,000 points (100,000 track points and a sensor sample for each)
# exported to GPX through JXPSFDevice's converters and GHGpxWriter, against the same points written with
# QXmlStreamWriter alone in the same run (see bench/bench_psfgpxexport.cpp). Prints the median of each side, the
# ratio and each side's peak heap. Goal: ratio <= 2. The simulator lives with the tests, so this build keeps them
# configured; only the benchmark is built.
#
#   bash bench/psfgpxexport.sh
#   RUNS=N (runs per side, default 7), BUILD=DIR (default build-bench-psfgpxexport), JOBS=N (build jobs, default 2)
set -euo pipefail
cd "$(dirname "$0")/.."

build=${BUILD:-build-bench-psfgpxexport}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DJX_TESTS=ON >/dev/null
cmake --build "$build" -j "${JOBS:-2}" --target bench_psfgpxexport >/dev/null
"$build/bench/bench_psfgpxexport" "${RUNS:-7}"
