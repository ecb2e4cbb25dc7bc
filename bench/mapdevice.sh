#!/usr/bin/env bash
# Times the map device's transfers against the shell tools on the same files in
# the same run: copyFiles with times kept against cp -r --preserve=timestamps
# (2000 files of about 2 KB, and four files of 64 MB), and in a second row
# against cp followed by the checks copyFiles makes: sync -f of the target,
# the copies' cached pages dropped, diff -r with the sources. Then
# prepareUploadData of 200 ten-minute rides, every fourth ridden to a workout,
# against the same work with plain tools: each ride and workout exported from
# the database by the data-model layer, then zip -j of the files the package
# holds (the rides' logs into flash.dat, then the exported rides, workouts and
# flash.dat). A second row compares with zip -j of ready exports alone, the
# last row times the packing alone. Prints the median of each side and the
# ratio library/baseline, of wall-clock and of processor time (the latter
# moves less when other work shares the machine). Goal: within 1.3x of
# export + zip -j.
#
#   bash bench/mapdevice.sh
#   RUNS=N (runs per side, default 5), BENCH_TMP=DIR (where the workloads go),
#   BUILD_DIR=DIR (release build folder, default build-bench), ROWS=copy or
#   upload (only those rows; default all)
set -euo pipefail
cd "$(dirname "$0")/.."

build=${BUILD_DIR:-build-bench}
quiet() {
  local log
  if ! log=$("$@" 2>&1); then
    printf '%s\n' "$log" >&2
    echo "failed: $*" >&2
    exit 1
  fi
}
quiet cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DJX_TESTS=OFF
quiet cmake --build "$build" --target bench_mapdevice -- -j3

work=$(mktemp -d "${BENCH_TMP:-${TMPDIR:-/tmp}}/mapdevice.XXXXXX")
trap 'rm -rf "$work"' EXIT
"$build/bench/bench_mapdevice" "$work" "${RUNS:-5}" "${ROWS:-all}"
