#!/usr/bin/env bash
# Times the POI search (GHDeviceDB::findPOI, radius 10, no filter, no cap in reach) against the sqlite3
# command-line tool running the same band statements, file by file, on the same two tile files of 500 000 POIs each
# (index on XIdx, YIdx). Both sides are timed as whole processes and must yield the same number of rows; the tool
# prints its rows as text, the library reads them into results. Prints the median of each side and the ratio
# library/tool. Goal: within 1.3x of the tool.
#
#   bash bench/poi.sh
#   RUNS=N (runs per side, default 7), BENCH_TMP=DIR (where the files go; /dev/shm leaves the disk out of the
#   figures), BENCH_BUILD_DIR=DIR (the Release build to use, default build-bench-poi)
set -euo pipefail
cd "$(dirname "$0")/.."

runs=${RUNS:-7}
build=${BENCH_BUILD_DIR:-build-bench-poi}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DJX_TESTS=OFF >/dev/null
cmake --build "$build" -j 3 --target bench_poi >/dev/null
bench=$(pwd)/$build/bench/bench_poi

work=$(mktemp -d "${BENCH_TMP:-${TMPDIR:-/tmp}}/poi.XXXXXX")
trap 'rm -rf "$work"' EXIT

"$bench" prepare "$work/flash"
"$bench" script "$work/flash" "$work/statements.sql"
# Once untimed: both sides must find the same rows, and neither pays for the first read of the files.
rows=$(sqlite3 -batch -bail <"$work/statements.sql" | wc -l)
ours=$("$bench" run "$work/flash")
if [[ $ours != "$rows" ]]; then
  echo "the library found $ours rows, sqlite3 $rows" >&2
  exit 1
fi
echo "rows found by each side: $rows"

median() {
  printf '%s\n' "$@" | sort -n | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'
}

# Microseconds of one run; each run must find all the rows.
measure() {
  local side=$1 start end count
  start=$(date +%s%N)
  if [[ $side == ours ]]; then
    count=$("$bench" run "$work/flash")
  else
    count=$(sqlite3 -batch -bail <"$work/statements.sql" | wc -l)
  fi
  end=$(date +%s%N)
  if [[ $count != "$rows" ]]; then
    echo "$side found $count rows, not $rows" >&2
    exit 1
  fi
  echo $(((end - start) / 1000))
}

ours_times=() their_times=()
for ((i = 0; i < runs; i++)); do
  # The two sides take turns going first.
  if ((i % 2 == 0)); then
    ours_times+=("$(measure ours)")
    their_times+=("$(measure tool)")
  else
    their_times+=("$(measure tool)")
    ours_times+=("$(measure ours)")
  fi
done

ours_median=$(median "${ours_times[@]}")
their_median=$(median "${their_times[@]}")
echo "median of $runs runs each (ratio = library / sqlite3; goal <= 1.30)"
awk -v o="$ours_median" -v t="$their_median" 'BEGIN {
  printf "%-44s library %8.1f ms   sqlite3 %8.1f ms   ratio %.2f\n", "radius-10 search, 2 x 500000 POIs", o / 1000,
    t / 1000, o / t }'
