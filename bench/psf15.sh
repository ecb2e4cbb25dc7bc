#!/usr/bin/env bash
# Times the second-generation record walks against plain loops over the same bytes (see bench/bench_psf15.cpp): the
# track-point and sensor-sample iterators, packing the segment list, a walk through the image root and its
# deleteAllRoutes(0). Prints the median of each side, the ratio and the heap allocations per next(). Goals: every
# ratio <= 1.5 (2 for the root walk), no allocation per next().
#
#   bash bench/psf15.sh
#   RUNS=N (runs per side, default 11), BENCH_BUILD_DIR=DIR (the Release build to use, default build-bench-psf15)
set -euo pipefail
cd "$(dirname "$0")/.."

build=${BENCH_BUILD_DIR:-build-bench-psf15}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DJX_TESTS=OFF >/dev/null
cmake --build "$build" --target bench_psf15 >/dev/null
"$build/bench/bench_psf15" "${RUNS:-11}"
