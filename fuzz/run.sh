#!/usr/bin/env bash
# Builds the libFuzzer targets in build-fuzz (clang, -DJX_FUZZ=ON) and runs each for SECONDS, all at once (one
# process per target), then prints for each: executions, crashes, time-outs.
#
#   bash fuzz/run.sh SECONDS [TARGET...]     targets: the names of fuzz/*_fuzz.cpp (default: all)
#
# Each target starts from a copy of its seeds (fuzz/corpus/<target>) in build-fuzz/corpus-work/<target>, which keeps
# what it learns between runs without growing the repository's corpus. Findings land in
# build-fuzz/fuzz-artifacts/<target>/, the output in build-fuzz/fuzz-logs/<target>.log. A target stops at its first
# finding. The exit status is 1 when any target found something. Dictionaries for the formats are in fuzz/dict
# (fuzz/dict/<target>.dict is used when there is one). JX_FUZZ_JOBS limits the build's parallel jobs.
set -euo pipefail

source_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
mapfile -t all_targets < <(cd "$source_dir/fuzz" && ls -- *_fuzz.cpp | sed 's/_fuzz\.cpp$//')

usage() {
  echo "usage: $0 SECONDS [TARGET ...]   targets: ${all_targets[*]}" >&2
  exit 2
}

[[ $# -ge 1 && $1 =~ ^[0-9]+$ && $1 -gt 0 ]] || usage
seconds=$1
shift
targets=("$@")
[[ ${#targets[@]} -gt 0 ]] || targets=("${all_targets[@]}")
for target in "${targets[@]}"; do
  [[ " ${all_targets[*]} " == *" $target "* ]] || usage
done

build_dir=${JX_FUZZ_BUILD_DIR:-$source_dir/build-fuzz}

if [[ ! -f $build_dir/CMakeCache.txt ]]; then
  CC=clang CXX=clang++ cmake -S "$source_dir" -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DJX_FUZZ=ON -DJX_TESTS=OFF
fi
cmake --build "$build_dir" ${JX_FUZZ_JOBS:+--parallel "$JX_FUZZ_JOBS"} --target "${targets[@]/%/_fuzz}"

# File names from archives go through the locale's encoding, as on a desktop.
export LANG=C.UTF-8
# Each target works in a folder of its own below this one; a target that stops at a finding cannot remove it.
if [[ -z ${JX_FUZZ_SCRATCH:-} ]]; then
  JX_FUZZ_SCRATCH=/dev/shm
  [[ -w $JX_FUZZ_SCRATCH ]] || JX_FUZZ_SCRATCH=${TMPDIR:-/tmp}
fi
export JX_FUZZ_SCRATCH

declare -A pids
for target in "${targets[@]}"; do
  work=$build_dir/corpus-work/$target
  artifacts=$build_dir/fuzz-artifacts/$target
  mkdir -p "$work" "$artifacts" "$build_dir/fuzz-logs"
  cp -n "$source_dir/fuzz/corpus/$target/"* "$work/"
  rm -f "$artifacts"/crash-* "$artifacts"/timeout-* "$artifacts"/oom-* "$artifacts"/leak-*
  # Formats parsed by Qt, minizip or SQLite, which are not instrumented, get their syntax as a dictionary.
  dict=()
  if [[ $target == devicetext || $target == releaseini ]]; then
    dict=(-dict="$source_dir/fuzz/dict/ini.dict")
  elif [[ -f $source_dir/fuzz/dict/$target.dict ]]; then
    dict=(-dict="$source_dir/fuzz/dict/$target.dict")
  fi
  "$build_dir/fuzz/${target}_fuzz" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
    "${dict[@]}" -artifact_prefix="$artifacts/" "$work" >"$build_dir/fuzz-logs/$target.log" 2>&1 &
  pids[$target]=$!
done

for target in "${targets[@]}"; do
  wait "${pids[$target]}" || true
  rm -rf "$JX_FUZZ_SCRATCH/jx-fuzz-$target-${pids[$target]}"
done

count() { find "$1" -maxdepth 1 -name "$2" | wc -l; }

status=0
printf '%-12s %12s %8s %10s\n' target executions crashes time-outs
for target in "${targets[@]}"; do
  log=$build_dir/fuzz-logs/$target.log
  artifacts=$build_dir/fuzz-artifacts/$target
  # "Done N runs" ends a run that found nothing; after a finding only the final statistics tell the count.
  runs=$(sed -n 's/^Done \([0-9]*\) runs.*/\1/p' "$log" | tail -n 1)
  [[ -n $runs ]] || runs=$(sed -n 's/^stat::number_of_executed_units: *\([0-9]*\).*/\1/p' "$log" | tail -n 1)
  [[ -n $runs ]] || runs=?
  # Out-of-memory and leak findings count as crashes.
  crashes=$(($(count "$artifacts" 'crash-*') + $(count "$artifacts" 'oom-*') + $(count "$artifacts" 'leak-*')))
  timeouts=$(count "$artifacts" 'timeout-*')
  printf '%-12s %12s %8d %10d\n' "$target" "$runs" "$crashes" "$timeouts"
  if [[ $crashes -gt 0 || $timeouts -gt 0 || $runs == "?" ]]; then
    status=1
  fi
done
exit $status
