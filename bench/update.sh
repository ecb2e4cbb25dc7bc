#!/usr/bin/env bash
# Times the file-update driver's whole software update (unpack, version and space checks, copy of the newer
# images with flush and read-back, update.ini, removal of its work folder) against shell baselines doing the same
# work on the same package and folders: an unpack into a work folder (bsdtar, the fast unpacker, and Info-ZIP unzip,
# kept as a second row), cp --preserve=timestamps of the newer images onto
# the volume folder, update.ini, sync of those files and of the volume folder only, the copies dropped from the
# page cache (so that the read-back reaches the disk, as the driver's does), cmp of each copy with its source, and
# removal of the work folder. Packages of 64 MB and 256 MB, each one large image and three small ones (one of them
# not newer). Prints the median of each side, the ratio driver/baseline and the peak resident memory of each side.
# Goal: within 1.3x of the bsdtar baseline, and the driver's peak memory independent of the image size.
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

# The baseline's work after the unpack command given, which fills OUT/work.
baseline() {
  echo "$1 \
&& cp --preserve=timestamps OUT/work/os.bin OUT/work/boot.bin OUT/work/lang.bin OUT/volume/ \
&& : > OUT/volume/update.ini \
&& sync OUT/volume/os.bin OUT/volume/boot.bin OUT/volume/lang.bin OUT/volume/update.ini OUT/volume \
&& for image in os.bin boot.bin lang.bin; do \
     dd if=OUT/volume/\$image iflag=nocache count=0 status=none && cmp OUT/work/\$image OUT/volume/\$image || exit 1; \
   done \
&& rm -rf OUT/work"
}

echo "median of $runs runs each (ratio = driver / baseline; goal <= 1.30 against bsdtar)"
for mb in 64 256; do
  "$bench" make-images "$work/images$mb" "$mb"
  (cd "$work/images$mb" && zip -q ../Total$mb.zip release.ini os.bin boot.bin lang.bin tz.bin)
  rm -rf "$work/images$mb"
  package=$work/Total$mb.zip

  sides=("'$bench' update '$package' OUT/volume OUT/user"
    "$(baseline "bsdtar -xf '$package' -C OUT/work")"
    "$(baseline "unzip -q '$package' -d OUT/work")")
  times=("" "" "") rss=("" "" "")
  for ((i = 0; i < runs; i++)); do
    # The sides take turns going first.
    for ((k = 0; k < 3; k++)); do
      side=$(((k + i) % 3))
      read -r t m <<<"$(measure "${sides[side]}")"
      [[ $t == FAILED ]] && exit 1
      times[side]+="$t "
      rss[side]+="$m "
    done
  done
  rm -f "$package"

  # shellcheck disable=SC2086
  for k in 1 2; do
    awk -v label="update of $mb MB" -v name="$([[ $k == 1 ]] && echo bsdtar || echo unzip)" \
      -v o="$(median ${times[0]})" -v t="$(median ${times[k]})" \
      -v om="$(printf '%s\n' ${rss[0]} | sort -n | tail -1)" -v tm="$(printf '%s\n' ${rss[k]} | sort -n | tail -1)" 'BEGIN {
      printf "%-18s driver %8.1f ms  %-6s %8.1f ms  ratio %.2f   peak memory driver %6.1f MB  baseline %6.1f MB\n",
        label, o / 1000, name, t / 1000, o / t, om / 1024, tm / 1024 }'
  done
done
