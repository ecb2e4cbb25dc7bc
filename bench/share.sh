#!/usr/bin/env bash
# Times the share import of a GPX route of 200 000 route points (generated, the same every run): GHDeviceDB::
# setShareData in a fresh flash home of the current layout (the GPX reader, the Route row, the route file written as
# a binary GPS log), against gpsbabel -r -i gpx -f file -o unicsv -F out on the same file (-r: the route points;
# without it gpsbabel passes only waypoints and writes an empty table). Both sides are timed as whole processes,
# taking turns; ours also makes its fresh home and copies the share in first (the import deletes it).
# Prints the median of each side, the ratio and the peak resident memory of each side.
# Goals: the import ahead of gpsbabel (ratio < 1), and its peak memory no more than gpsbabel's.
#
#   bash bench/share.sh
#   RUNS=N (runs per side, default 5), BENCH_TMP=DIR (where the files go; default the system's temporary folder, a
#   disk; /dev/shm leaves the disk out of the figures), BENCH_BUILD_DIR=DIR (the Release build to use, default
#   build-bench-share)
set -euo pipefail
cd "$(dirname "$0")/.."

runs=${RUNS:-5}
build=${BENCH_BUILD_DIR:-build-bench-share}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DJX_TESTS=OFF >/dev/null
cmake --build "$build" -j 3 --target bench_share >/dev/null
bench=$(pwd)/$build/bench/bench_share

work=$(mktemp -d "${BENCH_TMP:-${TMPDIR:-/tmp}}/share.XXXXXX")
trap 'rm -rf "$work"' EXIT
points=200000

"$bench" route "$work/route.gpx"

# Once untimed: our import must store one route with every point, gpsbabel must write every point.
"$bench" import "$work/route.gpx" "$work/home"
if [[ $("$bench" check "$work/home") != "1 $points" ]]; then
  echo "the import did not store one route of $points points: $("$bench" check "$work/home")" >&2
  exit 1
fi
gpsbabel -r -i gpx -f "$work/route.gpx" -o unicsv -F "$work/babel.csv"
if [[ $(($(wc -l <"$work/babel.csv") - 1)) != "$points" ]]; then
  echo "gpsbabel did not write $points points" >&2
  exit 1
fi

median() {
  printf '%s\n' "$@" | sort -n | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'
}
largest() {
  printf '%s\n' "$@" | sort -n | tail -1
}

# Prints "microseconds peak-kilobytes" of one run of the command. Dirty pages of earlier runs are written out
# before the clock starts.
measure() {
  local command=$1
  rm -f "$work/out.csv"
  sync
  local start end
  start=$(date +%s%N)
  if ! /usr/bin/time -f %M -o "$work/rss" bash -c "$command" >/dev/null; then
    echo "failed: $command" >&2
    echo "FAILED"
    return
  fi
  end=$(date +%s%N)
  echo "$(((end - start) / 1000)) $(cat "$work/rss")"
}

# sides NAME COMMAND NAME COMMAND ...: runs every command RUNS times, the order turning round each run, and prints
# one line "median-microseconds peak-kilobytes" per command, in the order given.
sides() {
  local -a names=() commands=()
  while (($#)); do
    names+=("$1")
    commands+=("$2")
    shift 2
  done
  local n=${#commands[@]} i k t m
  declare -A times=() rss=()
  for ((i = 0; i < runs; i++)); do
    for ((k = 0; k < n; k++)); do
      local side=$(((k + i) % n))
      read -r t m <<<"$(measure "${commands[side]}")"
      [[ $t == FAILED ]] && exit 1
      times[$side]+="$t "
      rss[$side]+="$m "
    done
  done
  for ((k = 0; k < n; k++)); do
    # shellcheck disable=SC2086
    echo "$(median ${times[$k]}) $(largest ${rss[$k]})"
  done
}

{ read -r ours ours_rss; read -r babel babel_rss; } < <(sides \
  ours "'$bench' import '$work/route.gpx' '$work/home'" \
  gpsbabel "gpsbabel -r -i gpx -f '$work/route.gpx' -o unicsv -F '$work/out.csv'")

echo "share import of $points route points ($(($(stat -c %s "$work/route.gpx") / 1024)) KB of GPX);" \
  "median of $runs runs each; peak resident memory of the process"
awk -v o="$ours" -v om="$ours_rss" -v b="$babel" -v bm="$babel_rss" 'BEGIN {
  printf "import setShareData %8.1f ms   gpsbabel unicsv %8.1f ms   ratio %.2f (goal < 1)\n", o / 1000, b / 1000, o / b
  printf "peak   setShareData %8.1f MB   gpsbabel unicsv %8.1f MB   ratio %.2f (goal <= 1)\n", om / 1024, bm / 1024, om / bm }'
