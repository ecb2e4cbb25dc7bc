#!/usr/bin/env bash
# Times the map device's map update (old country files removed, the resources copied onto the map volume with
# their times kept, every copy checked by MD5 against its source, the new map description switched in) against a
# shell baseline doing the same work on the same resources in the same run: cp --preserve=timestamps of each
# country's files into the Countries folder, md5sum of the sources and md5sum -c of the copies, and mv of the
# description. The map volume is a folder. Resources of about 2 GB (three map files of 512 MB and 1,000 files of
# 512 KB in four countries) and, to show that memory does not follow the file size, of about 0.7 GB (map files of
# 64 MB). Prints the median of each side, the ratio driver/baseline and the peak resident memory of each side.
# Goal: within 1.3x of the baseline, and the driver's peak memory independent of the file size.
#
#   bash bench/mapupdate.sh
#   RUNS=N (runs per side, default 5), SIZES="512 64" (map file sizes in MB), BENCH_TMP=DIR (where the workloads go;
#   default the system's temporary folder, a disk), BUILD_DIR=DIR (release build folder, default build-bench-map)
set -euo pipefail
cd "$(dirname "$0")/.."

runs=${RUNS:-5}
build=${BUILD_DIR:-build-bench-map}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DJX_TESTS=OFF >/dev/null
cmake --build "$build" --target bench_mapupdate -- -j2 >/dev/null
bench=$(pwd)/$build/bench/bench_mapupdate

work=$(mktemp -d "${BENCH_TMP:-${TMPDIR:-/tmp}}/mapupdate.XXXXXX")
trap 'rm -rf "$work"' EXIT
df -h "$work" | tail -1 | awk '{print "free space where the workloads go: " $4}'

median() {
  printf '%s\n' "$@" | sort -n | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'
}

# Runs one command on a fresh run folder OUT (a map volume OUT/zelto60map and a user-data folder) and prints
# "microseconds peak-kilobytes". Dirty pages of earlier runs are written out before the clock starts.
run_number=0
measure() {
  local command=$1 out=$work/run.$((run_number += 1))
  "$bench" make-volume "$out/zelto60map"
  mkdir -p "$out/user"
  sync
  local start end
  start=$(date +%s%N)
  if ! /usr/bin/time -f %M -o "$out.rss" bash -c "${command//OUT/$out}" >/dev/null; then
    echo "failed: ${command//OUT/$out}" >&2
    echo "FAILED"
    return
  fi
  end=$(date +%s%N)
  echo "$(((end - start) / 1000)) $(cat "$out.rss")"
  rm -rf "$out" "$out.rss"
}

# measure_into TIMES RSS COMMAND: appends one run's figures to the two arrays named; a failed run ends the script.
measure_into() {
  local -n times=$1 rss=$2
  local t m
  read -r t m <<<"$(measure "$3")"
  [[ $t == FAILED ]] && exit 1
  times+=("$t")
  rss+=("$m")
}

echo "median of $runs runs each (ratio = driver / baseline; goal <= 1.30)"
for mb in ${SIZES:-512 64}; do
  resources=$work/maps$mb
  "$bench" make-maps "$resources" "$mb"
  total=$(du -sm "$resources" | cut -f1)

  ours="'$bench' update '$resources' OUT/zelto60map OUT/user"
  theirs="countries=OUT/zelto60map/data/mapengine/map/Countries; \
for country in '$resources'/*/; do cp --preserve=timestamps \"\$country\"* \"\$countries\"/ || exit 1; done; \
for country in '$resources'/*/; do \
  (cd \"\$country\" && md5sum -- * >OUT/sums) && (cd \"\$countries\" && md5sum --quiet -c OUT/sums) || exit 1; \
done; \
mv -f OUT/zelto60map/data/mapsinfo/temp.xml OUT/zelto60map/data/mapsinfo/currentMap.xml"

  ours_times=() their_times=() ours_rss=() their_rss=()
  for ((i = 0; i < runs; i++)); do
    # The two sides take turns going first.
    if ((i % 2 == 0)); then
      measure_into ours_times ours_rss "$ours"
      measure_into their_times their_rss "$theirs"
    else
      measure_into their_times their_rss "$theirs"
      measure_into ours_times ours_rss "$ours"
    fi
  done
  rm -rf "$resources"

  awk -v label="map update of $total MB" -v o="$(median "${ours_times[@]}")" -v t="$(median "${their_times[@]}")" \
    -v om="$(printf '%s\n' "${ours_rss[@]}" | sort -n | tail -1)" \
    -v tm="$(printf '%s\n' "${their_rss[@]}" | sort -n | tail -1)" 'BEGIN {
    printf "%-26s driver %9.1f ms  baseline %9.1f ms  ratio %.2f   peak memory driver %6.1f MB  baseline %6.1f MB\n",
      label, o / 1000, t / 1000, o / t, om / 1024, tm / 1024 }'
done
