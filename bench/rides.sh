#!/usr/bin/env bash
# Times the stored-ride code against named baselines run side by side:
#   read:   GHTrackDP::readData of a ride of 1 000 000 GPS and 1 000 000 sensor records, against a plain fread of
#           the same files decoding each record into the same record vectors (in one process, taking turns);
#   record: GHTraceLog writing 100 000 locations and 100 000 sensor records, against raw fwrite of the same records
#           with fflush every 10 records (in one process, taking turns);
#   list:   GHDeviceDB::getTraceLogList over 5000 rides with the GPS-log check, against the same statements through
#           the SQLite C API and one stat per GPS log (in one process, taking turns);
#   export: GHTraceLog::gpsTrackToGpx of a 200 000-point ride, against gpsbabel -i unicsv -o gpx on the same points
#           (whole processes, taking turns).
# Prints the medians, the ratios and the peak resident memory of reading and of the export.
# Goals: read within 1.5x, record within 1.2x, list within 1.3x, export ahead of gpsbabel.
#
#   bash bench/rides.sh
#   RUNS=N (runs per side, default 5), BENCH_TMP=DIR (where the files go; default the system's temporary folder),
#   BENCH_BUILD_DIR=DIR (the Release build to use, default build-bench-rides)
set -euo pipefail
cd "$(dirname "$0")/.."

runs=${RUNS:-5}
build=${BENCH_BUILD_DIR:-build-bench-rides}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DJX_TESTS=OFF >/dev/null
cmake --build "$build" --target bench_rides -- -j3 >/dev/null
bench=$(pwd)/$build/bench/bench_rides
script=$(pwd)/core/tests/flashhome/data/route/route.sql

work=$(mktemp -d "${BENCH_TMP:-${TMPDIR:-/tmp}}/rides.XXXXXX")
trap 'rm -rf "$work"' EXIT

read -r read_ours read_plain < <("$bench" read "$work/read" "$runs" "$script")
read_rss=$("$bench" readonce "$work/read")
read -r record_ours record_raw < <("$bench" record "$work/record" "$runs" "$script")
read -r list_ours list_sqlite < <("$bench" list "$work/list" "$runs" "$script")

"$bench" ride "$work/export" "$script" "$work/pts.csv"
read -r gpx export_rss < <("$bench" export "$work/export")
xmllint --noout "$gpx"
gpsbabel -i unicsv -f "$work/pts.csv" -o gpx -F "$work/babel.gpx"
if [[ $(grep -c '<trkpt ' "$gpx") != 200000 || $(grep -c '<wpt ' "$work/babel.gpx") != 200000 ]]; then
  echo "an export left out points" >&2
  exit 1
fi

median() {
  printf '%s\n' "$@" | sort -n | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'
}
# Microseconds of one run of the command.
measure() {
  local start end
  sync
  start=$(date +%s%N)
  bash -c "$1" >/dev/null
  end=$(date +%s%N)
  echo $(((end - start) / 1000))
}
ours=() babel=()
for ((i = 0; i < runs; i++)); do
  if ((i % 2 == 0)); then
    ours+=("$(measure "'$bench' export '$work/export'")")
    babel+=("$(measure "gpsbabel -i unicsv -f '$work/pts.csv' -o gpx -F '$work/babel.gpx'")")
  else
    babel+=("$(measure "gpsbabel -i unicsv -f '$work/pts.csv' -o gpx -F '$work/babel.gpx'")")
    ours+=("$(measure "'$bench' export '$work/export'")")
  fi
done
export_ours=$(median "${ours[@]}")
export_babel=$(median "${babel[@]}")
babel_rss=$(/usr/bin/time -f %M gpsbabel -i unicsv -f "$work/pts.csv" -o gpx -F "$work/babel.gpx" 2>&1 >/dev/null | tail -1)

echo "median of $runs runs each"
awk -v ro="$read_ours" -v rp="$read_plain" -v rm="$read_rss" -v co="$record_ours" -v cr="$record_raw" \
  -v lo="$list_ours" -v ls="$list_sqlite" -v eo="$export_ours" -v eb="$export_babel" -v em="$export_rss" \
  -v bm="$babel_rss" 'BEGIN {
  printf "read    readData        %8.1f ms   fread+decode %8.1f ms   ratio %.2f (goal <= 1.50)   peak %d MB\n",
    ro, rp, ro / rp, rm / 1024
  printf "record  GHTraceLog      %8.1f ms   raw fwrite   %8.1f ms   ratio %.2f (goal <= 1.20)\n", co, cr, co / cr
  printf "list    getTraceLogList %8.1f ms   SQLite C API %8.1f ms   ratio %.2f (goal <= 1.30)\n", lo, ls, lo / ls
  printf "export  gpsTrackToGpx   %8.1f ms   gpsbabel     %8.1f ms   ratio %.2f (goal < 1)      peak %d MB / %d MB\n",
    eo / 1000, eb / 1000, eo / eb, em / 1024, bm / 1024 }'
