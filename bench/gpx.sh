#!/usr/bin/env bash
# Times the ride-log writer, the GPX writer and the GPX reader on the same 200 000 track points in 20 segments
# (generated, the same every run), each against a named baseline run side by side:
#   log:   GHBinaryLogger::saveGpsData of a GHGpx2 of the points against a raw fwrite loop of the same 20-byte
#          records (both in one process, document already in memory; the baseline converts nothing);
#   write: reading the points' CSV into a GHGpx2 and writing it with GHGpxWriter, against
#          gpsbabel -i unicsv -f pts.csv -o gpx -F out.gpx (whole processes);
#   read:  GHGpxReader of the file our writer made into a GHGpx2, against xmllint --stream --noout (the parse floor)
#          and gpsbabel -i gpx -f file -o gpx -F /dev/null (whole processes).
# Prints the median of each side, the ratios and the peak resident memory of each side.
# Goals: log within 1.2x of fwrite; writer and reader ahead of gpsbabel; reader within 2x of xmllint, and its peak
# memory no more than gpsbabel's.
#
#   bash bench/gpx.sh
#   RUNS=N (runs per side, default 5), BENCH_TMP=DIR (where the files go; default the system's temporary folder, a
#   disk; /dev/shm leaves the disk out of the figures), BENCH_BUILD_DIR=DIR (the Release build to use, default
#   build-bench-gpx)
set -euo pipefail
cd "$(dirname "$0")/.."

runs=${RUNS:-5}
build=${BENCH_BUILD_DIR:-build-bench-gpx}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DJX_TESTS=OFF >/dev/null
cmake --build "$build" --target bench_gpx >/dev/null
bench=$(pwd)/$build/bench/bench_gpx

work=$(mktemp -d "${BENCH_TMP:-${TMPDIR:-/tmp}}/gpx.XXXXXX")
trap 'rm -rf "$work"' EXIT
points=200000

"$bench" points "$work/pts.csv"

# Both writers must have written every point, ours a file xmllint takes; the reader must deliver every point.
"$bench" write "$work/pts.csv" "$work/ours.gpx"
gpsbabel -i unicsv -f "$work/pts.csv" -o gpx -F "$work/babel.gpx"
xmllint --noout "$work/ours.gpx"
if [[ $(grep -c '<trkpt ' "$work/ours.gpx") != "$points" || $(grep -c '<wpt ' "$work/babel.gpx") != "$points" ]]; then
  echo "a writer left out points" >&2
  exit 1
fi
if [[ $("$bench" read "$work/ours.gpx") != "$points" ]]; then
  echo "the reader did not deliver $points track points" >&2
  exit 1
fi
rm -f "$work/babel.gpx"

median() {
  printf '%s\n' "$@" | sort -n | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'
}
largest() {
  printf '%s\n' "$@" | sort -n | tail -1
}

# Prints "microseconds peak-kilobytes" of one run of the command, OUT replaced by a fresh output path. Dirty pages of
# earlier runs are written out before the clock starts.
measure() {
  local command=${1//OUT/$work/out.gpx}
  rm -f "$work/out.gpx"
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

read -r log_ours log_raw log_rss < <("$bench" log "$work/pts.csv" "$work" "$runs")
{ read -r write_ours write_ours_rss; read -r write_babel write_babel_rss; } < <(sides \
  ours "'$bench' write '$work/pts.csv' OUT" \
  gpsbabel "gpsbabel -i unicsv -f '$work/pts.csv' -o gpx -F OUT")
{ read -r read_ours read_ours_rss; read -r read_xmllint read_xmllint_rss; read -r read_babel read_babel_rss; } < <(sides \
  ours "'$bench' read '$work/ours.gpx'" \
  xmllint "xmllint --stream --noout '$work/ours.gpx'" \
  gpsbabel "gpsbabel -i gpx -f '$work/ours.gpx' -o gpx -F /dev/null")

echo "$points track points in 20 segments; median of $runs runs each; peak resident memory of the process"
awk -v lo="$log_ours" -v lr="$log_raw" -v lm="$log_rss" \
  -v wo="$write_ours" -v wom="$write_ours_rss" -v wb="$write_babel" -v wbm="$write_babel_rss" \
  -v ro="$read_ours" -v rom="$read_ours_rss" -v rx="$read_xmllint" -v rxm="$read_xmllint_rss" \
  -v rb="$read_babel" -v rbm="$read_babel_rss" 'BEGIN {
  printf "log    saveGpsData %8.1f ms   raw fwrite %8.1f ms   ratio %.2f (goal <= 1.20)   peak %d MB (both, with the document)\n",
    lo, lr, lo / lr, lm / 1024
  printf "write  GHGpxWriter %8.1f ms   gpsbabel   %8.1f ms   ratio %.2f (goal < 1)      peak %d MB / %d MB\n",
    wo / 1000, wb / 1000, wo / wb, wom / 1024, wbm / 1024
  printf "read   GHGpxReader %8.1f ms   xmllint    %8.1f ms   ratio %.2f (goal <= 2.00)   peak %d MB / %d MB\n",
    ro / 1000, rx / 1000, ro / rx, rom / 1024, rxm / 1024
  printf "read   GHGpxReader %8.1f ms   gpsbabel   %8.1f ms   ratio %.2f (goal < 1)      peak %d MB / %d MB (goal <= 1)\n",
    ro / 1000, rb / 1000, ro / rb, rom / 1024, rbm / 1024 }'
