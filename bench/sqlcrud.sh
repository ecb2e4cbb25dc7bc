#!/usr/bin/env bash
# Times the statement layer (GHSqlCRUD with FavoriteDbm) against the sqlite3 command-line tool on the same work: 20000
# inserts of MyFavorite rows in one transaction, then 20000 selects of one row by key, each side on a fresh copy of
# the same prepared favorite.dat. Both sides are timed as whole processes; the tool reads the statements as text with
# the values written in, the library binds them. Prints the median of each side and the ratio library/tool.
# Goal: within 1.5x of the tool.
#
#   bash bench/sqlcrud.sh
#   RUNS=N (runs per side, default 7), BENCH_TMP=DIR (where the databases go; /dev/shm leaves the disk out of the
#   figures), BENCH_BUILD_DIR=DIR (the Release build to use, default build-bench-sqlcrud)
set -euo pipefail
cd "$(dirname "$0")/.."

runs=${RUNS:-7}
build=${BENCH_BUILD_DIR:-build-bench-sqlcrud}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DJX_TESTS=OFF >/dev/null
cmake --build "$build" --target bench_sqlcrud >/dev/null
bench=$(pwd)/$build/bench/bench_sqlcrud

work=$(mktemp -d "${BENCH_TMP:-${TMPDIR:-/tmp}}/sqlcrud.XXXXXX")
trap 'rm -rf "$work"' EXIT

"$bench" prepare "$work/template"
"$bench" script "$work/statements.sql"

median() {
  printf '%s\n' "$@" | sort -n | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'
}

# Microseconds of one run of the command on a fresh copy of the prepared flash home OUT; the copy is written out
# before the clock starts, and the run must leave all 20001 rows behind.
measure() {
  local command=$1 out=$work/run
  rm -rf "$out"
  cp -r "$work/template" "$out"
  sync
  local start end
  start=$(date +%s%N)
  if ! bash -c "${command//OUT/$out}" >/dev/null; then
    echo "failed: ${command//OUT/$out}" >&2
    exit 1
  fi
  end=$(date +%s%N)
  local rows
  rows=$(sqlite3 "$out/data/poi/favorite.dat" "select count(*) from MyFavorite;")
  if [[ $rows != 20001 ]]; then
    echo "${command//OUT/$out} left $rows rows, not 20001" >&2
    exit 1
  fi
  echo $(((end - start) / 1000))
}

ours_times=() their_times=()
for ((i = 0; i < runs; i++)); do
  # The two sides take turns going first.
  if ((i % 2 == 0)); then
    ours_times+=("$(measure "'$bench' run OUT")")
    their_times+=("$(measure "sqlite3 OUT/data/poi/favorite.dat < '$work/statements.sql'")")
  else
    their_times+=("$(measure "sqlite3 OUT/data/poi/favorite.dat < '$work/statements.sql'")")
    ours_times+=("$(measure "'$bench' run OUT")")
  fi
done

ours_median=$(median "${ours_times[@]}")
their_median=$(median "${their_times[@]}")
echo "median of $runs runs each (ratio = library / sqlite3; goal <= 1.50)"
awk -v o="$ours_median" -v t="$their_median" 'BEGIN {
  printf "%-40s library %8.1f ms   sqlite3 %8.1f ms   ratio %.2f\n", "20000 inserts + 20000 selects by key", o / 1000,
    t / 1000, o / t }'
