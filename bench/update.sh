#!/usr/bin/env bash
# Times the file-update driver's whole software update (unpack, version and space checks, copy of the newer
# images with flush and read-back, update.ini, removal of its work folder) against a shell baseline doing the same
# work on the same package and folders: unzip into a work folder, cp --preserve=timestamps of the newer images onto
# the volume folder, update.ini, sync of those files and of the volume folder only, the copies dropped from the
# page cache (so that the read-back reaches the disk, as the driver's does), cmp of each copy with its source, and
# removal of the work folder. Packages of 64 MB and 256 MB, each one large image and three small ones (one of them
# not newer). Prints the median of each side, the ratio driver/baseline and the peak resident memory of each side.
# Goal: within 1.3x of the baseline, and the driver's peak memory independent of the image size.
#
#   bash bench/update.sh
#   RUNS=N (runs per side, default 5), BENCH_TMP=DIR (where the workloads go; default the system's temporary
#   folder, a disk; /dev/shm leaves the disk out of the figures)
set -euo pipefail
cd "$(dirname "$0")/.."

runs=${RUNS:-5}
cmake -S . -B build-bench-update -G Ninja -DCMAKE_BUILD_TYPE=Release -DJX_TESTS=OFF >/dev/null
cmake --build build-bench-update --target bench_update >/dev/null
bench=$(pwd)/build-bench-update/bench/bench_update

work=$(mktemp -d "${BENCH_TMP:-${TMPDIR:-/tmp}}/update.XXXXXX")
trap 'rm -rf "$work"' EXIT

median() {
  printf '%s\n' "$@" | sort -n | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'
}

# Runs one command on a fresh run folder OUT (a volume with its description file, and room for the work folders)
# and prints "microseconds peak-kilobytes". Dirty pages of earlier runs are written out before the clock starts.
run_number=0
measure() {
  local command=$1 out=$work/run.$((run_number += 1))
  "$bench" make-volume "$out/volume"
  mkdir -p "$out/user" "$out/work"
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
for mb in 64 256; do
  "$bench" make-images "$work/images$mb" "$mb"
  (cd "$work/images$mb" && zip -q ../Total$mb.zip release.ini os.bin boot.bin lang.bin tz.bin)
  rm -rf "$work/images$mb"
  package=$work/Total$mb.zip

  ours="'$bench' update '$package' OUT/volume OUT/user"
  theirs="unzip -q '$package' -d OUT/work \
&& cp --preserve=timestamps OUT/work/os.bin OUT/work/boot.bin OUT/work/lang.bin OUT/volume/ \
&& : > OUT/volume/update.ini \
&& sync OUT/volume/os.bin OUT/volume/boot.bin OUT/volume/lang.bin OUT/volume/update.ini OUT/volume \
&& for image in os.bin boot.bin lang.bin; do \
     dd if=OUT/volume/\$image iflag=nocache count=0 status=none && cmp OUT/work/\$image OUT/volume/\$image || exit 1; \
   done \
&& rm -rf OUT/work"

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
  rm -f "$package"

  awk -v label="update of $mb MB" -v o="$(median "${ours_times[@]}")" -v t="$(median "${their_times[@]}")" \
    -v om="$(printf '%s\n' "${ours_rss[@]}" | sort -n | tail -1)" \
    -v tm="$(printf '%s\n' "${their_rss[@]}" | sort -n | tail -1)" 'BEGIN {
    printf "%-18s driver %8.1f ms  baseline %8.1f ms  ratio %.2f   peak memory driver %6.1f MB  baseline %6.1f MB\n",
      label, o / 1000, t / 1000, o / t, om / 1024, tm / 1024 }'
done
