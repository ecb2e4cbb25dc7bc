#!/usr/bin/env bash
# One finalize of a filled second-generation 2 MB flash image on the simulated device, against the minimal command
# sequence sent straight to the simulator in the same run (see bench/bench_psffinalize.cpp). The simulator lives with
# the tests, so this build keeps them configured; only the benchmark is built.
#
#   bash bench/psffinalize.sh
#   BUILD=DIR (default build-bench-psffinalize), JOBS=N (build jobs, default 2), BENCH_TMP=DIR (user-data folder;
#   default the system's)
set -euo pipefail
cd "$(dirname "$0")/.."

build=${BUILD:-build-bench-psffinalize}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DJX_TESTS=ON >/dev/null
cmake --build "$build" -j "${JOBS:-2}" --target bench_psffinalize >/dev/null
# The transport layer reports every open and close on standard output.
"$build/bench/bench_psffinalize" | grep -v -e "^MyOpenUserClient" -e "^IOServiceClose"
