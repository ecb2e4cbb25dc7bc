#!/usr/bin/env bash
# Times the library's zip unpacking against Info-ZIP unzip on the same archive,
# and its file copy (JXUtility::copyFile) against cp --preserve=timestamps, on
# two workloads: a package of four images of 20 to 50 MB, and 2000 files of
# about 2 KB. Prints the median of each side and the ratio library/baseline.
# Goal: unpack within 1.2x of unzip, copy within 1.2x of cp.
#
# Each run is a process of its own, and the library's side starts a Qt
# program linked with the whole device library: tens of milliseconds before
# the first file, where cp and unzip need a few. A single small file measures
# that start-up on each side; the small-file rows also show their ratio with
# it taken off both sides, which is what a caller that is already running
# (the updater) pays per file.
#
#   bash bench/zip_copy.sh
#   RUNS=N (runs per side, default 7), BENCH_TMP=DIR (where the workloads go;
#   /dev/shm leaves the disk out of the figures)
set -euo pipefail
cd "$(dirname "$0")/.."

runs=${RUNS:-7}
quiet() {
  local log
  if ! log=$("$@" 2>&1); then
    printf '%s\n' "$log" >&2
    echo "failed: $*" >&2
    exit 1
  fi
}
quiet cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DJX_TESTS=OFF
quiet cmake --build build-bench --target bench_zip_copy
bench=$(pwd)/build-bench/bench/bench_zip_copy

work=$(mktemp -d "${BENCH_TMP:-${TMPDIR:-/tmp}}/zip_copy.XXXXXX")
trap 'rm -rf "$work"' EXIT

echo "preparing workloads in $work"
"$bench" make-images "$work/images"
"$bench" make-small "$work/small"
mkdir -p "$work/one/part00"
cp "$work/small/part00/file0000.txt" "$work/one/part00/"
(cd "$work/images" && zip -q -r ../images.zip .)
(cd "$work/small" && zip -q -r ../small.zip .)
(cd "$work/one" && zip -q -r ../one.zip .)

# Microseconds of one run of the command, which writes into "$work/out.N".
# Each run gets a fresh folder and nothing is deleted until a comparison
# ends: deleting thousands of files just before a run slows the file
# system's next creations more than anything measured here. Dirty pages of
# the previous run are written out before the clock starts.
run_number=0
time_us() {
  sync
  local start end
  start=$(date +%s%N)
  bash -c "$1" >/dev/null
  end=$(date +%s%N)
  echo $(((end - start) / 1000))
}

median() {
  printf '%s\n' "$@" | sort -n | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'
}

# compare LABEL BASELINE_NAME "library command" "baseline command"; OUT in a
# command stands for its output folder. The two sides take turns going first.
# Leaves the medians in ours_median and their_median; with START set to
# "ours theirs" medians of the start-up runs, also prints the ratio of what
# is left after them.
compare() {
  local label=$1 baseline=$2 ours=$3 theirs=$4
  local ours_times=() their_times=()
  for ((i = 0; i < runs; i++)); do
    local ours_out=$work/out.$((run_number += 1)) their_out=$work/out.$((run_number += 1))
    if ((i % 2 == 0)); then
      ours_times+=("$(time_us "${ours//OUT/$ours_out}")")
      their_times+=("$(time_us "${theirs//OUT/$their_out}")")
    else
      their_times+=("$(time_us "${theirs//OUT/$their_out}")")
      ours_times+=("$(time_us "${ours//OUT/$ours_out}")")
    fi
  done
  rm -rf "$work"/out.*
  ours_median=$(median "${ours_times[@]}")
  their_median=$(median "${their_times[@]}")
  awk -v label="$label" -v baseline="$baseline" -v o="$ours_median" -v t="$their_median" -v start="${START:-}" '
    BEGIN {
      printf "%-28s library %9.1f ms   %-6s %9.1f ms   ratio %.2f", label, o / 1000, baseline, t / 1000, o / t
      if (split(start, s, " ") == 2)
        printf "   without start-up %.2f", (o - s[1]) / (t - s[2])
      printf "\n"
    }'
}

echo "median of $runs runs each (ratio = library / baseline; goal <= 1.20)"
compare "unpack images (140 MB)" unzip \
  "'$bench' unzip '$work/images.zip' OUT" "unzip -q '$work/images.zip' -d OUT"
compare "unpack 1 small file" unzip \
  "'$bench' unzip '$work/one.zip' OUT" "unzip -q '$work/one.zip' -d OUT"
START="$ours_median $their_median" compare "unpack 2000 small files" unzip \
  "'$bench' unzip '$work/small.zip' OUT" "unzip -q '$work/small.zip' -d OUT"
compare "copy images (140 MB)" cp \
  "'$bench' copy '$work/images' OUT" "cp -r --preserve=timestamps '$work/images' OUT"
compare "copy 1 small file" cp \
  "'$bench' copy '$work/one' OUT" "cp -r --preserve=timestamps '$work/one' OUT"
START="$ours_median $their_median" compare "copy 2000 small files" cp \
  "'$bench' copy '$work/small' OUT" "cp -r --preserve=timestamps '$work/small' OUT"
