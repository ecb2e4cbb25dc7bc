#!/usr/bin/env bash
# Times the ride-log writer, the GPX writer and the GPX reader on the same 200 000 track points in 20 segments
# (generated, the same every run), each against a named baseline run side by side:
#   log:   GHBinaryLogger::saveGpsData of a GHGpx2 of the points against a plain converter doing the same
#          text-to-record work (from_chars, the same records, fwrite), and against a raw fwrite loop of the ready
#          20-byte records (all in one process, document already in memory);
#   write: GHGpxWriter against a plain writer of the same bytes (the same points as numbers, std::to_chars, fwrite,
#          flushed and renamed into place like the writer's file), in one process with the points loaded before the
#          clock starts; and, as whole processes that also read the CSV, against
#          gpsbabel -i unicsv -f pts.csv -o gpx -F out.gpx (which writes waypoints, not a track);
#   read:  GHGpxReader of the file our writer made into a GHGpx2, against a bare QXmlStreamReader loop over the same
#          file (the read floor), xmllint --stream --noout, gpsbabel reading only
#          (-x nuketypes,waypoints,tracks,routes, then writing nothing to /dev/null), and gpsbabel reading and
#          writing GPX to /dev/null (whole processes).
# Prints the median of each side, the ratios and the peak resident memory of each side.
# Goals: log within 1.2x of the converter; writer within 1.5x of the plain writer; reader within 2x of the
# QXmlStreamReader loop and ahead of gpsbabel reading only, and its peak memory no more than gpsbabel's.
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
if [[ $("$bench" read "$work/ours.gpx") != "$points" || $("$bench" scan "$work/ours.gpx") != "$points" ]]; then
  echo "the reader or the scan did not deliver $points track points" >&2
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

read -r log_ours log_converter log_raw log_rss < <("$bench" log "$work/pts.csv" "$work" "$runs")
read -r writer_ours writer_plain < <("$bench" writers "$work/pts.csv" "$work" "$runs")
{ read -r write_ours write_ours_rss; read -r write_babel write_babel_rss; } < <(sides \
  ours "'$bench' write '$work/pts.csv' OUT" \
  gpsbabel "gpsbabel -i unicsv -f '$work/pts.csv' -o gpx -F OUT")
{
  read -r read_ours read_ours_rss
  read -r read_scan read_scan_rss
  read -r read_xmllint read_xmllint_rss
  read -r read_babel_only read_babel_only_rss
  read -r read_babel read_babel_rss
} < <(sides \
  ours "'$bench' read '$work/ours.gpx'" \
  scan "'$bench' scan '$work/ours.gpx'" \
  xmllint "xmllint --stream --noout '$work/ours.gpx'" \
  gpsbabel-read "gpsbabel -i gpx -f '$work/ours.gpx' -x nuketypes,waypoints,tracks,routes -o gpx -F /dev/null" \
  gpsbabel "gpsbabel -i gpx -f '$work/ours.gpx' -o gpx -F /dev/null")

echo "$points track points in 20 segments; median of $runs runs each; peak resident memory of the process"
awk -v lo="$log_ours" -v lc="$log_converter" -v lr="$log_raw" -v lm="$log_rss" \
  -v wo="$writer_ours" -v wp="$writer_plain" \
  -v po="$write_ours" -v pom="$write_ours_rss" -v pb="$write_babel" -v pbm="$write_babel_rss" \
  -v ro="$read_ours" -v rom="$read_ours_rss" -v rs="$read_scan" -v rsm="$read_scan_rss" \
  -v rx="$read_xmllint" -v rxm="$read_xmllint_rss" -v rbo="$read_babel_only" -v rbom="$read_babel_only_rss" \
  -v rb="$read_babel" -v rbm="$read_babel_rss" 'BEGIN {
  printf "log    saveGpsData %8.1f ms   converter  %8.1f ms   ratio %.2f (goal <= 1.20)   peak %d MB (all, with the document)\n",
    lo, lc, lo / lc, lm / 1024
  printf "log    saveGpsData %8.1f ms   raw fwrite %8.1f ms   ratio %.2f (ready records, no conversion)\n", lo, lr, lo / lr
  printf "write  GHGpxWriter %8.1f ms   plain      %8.1f ms   ratio %.2f (goal <= 1.50)   (same bytes, in process)\n",
    wo, wp, wo / wp
  printf "write  CSV + GHGpxWriter %8.1f ms   gpsbabel %8.1f ms   ratio %.2f (other output)   peak %d MB / %d MB\n",
    po / 1000, pb / 1000, po / pb, pom / 1024, pbm / 1024
  printf "read   GHGpxReader %8.1f ms   Qt scan    %8.1f ms   ratio %.2f (goal <= 2.00)   peak %d MB / %d MB\n",
    ro / 1000, rs / 1000, ro / rs, rom / 1024, rsm / 1024
  printf "read   GHGpxReader %8.1f ms   xmllint    %8.1f ms   ratio %.2f                  peak %d MB / %d MB\n",
    ro / 1000, rx / 1000, ro / rx, rom / 1024, rxm / 1024
  printf "read   GHGpxReader %8.1f ms   gpsbabel, reading only %8.1f ms   ratio %.2f (goal < 1)   peak %d MB / %d MB (goal <= 1)\n",
    ro / 1000, rbo / 1000, ro / rbo, rom / 1024, rbom / 1024
  printf "read   GHGpxReader %8.1f ms   gpsbabel, read + write %8.1f ms   ratio %.2f   peak %d MB / %d MB\n",
    ro / 1000, rb / 1000, ro / rb, rom / 1024, rbm / 1024 }'
