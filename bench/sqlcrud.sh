#!/usr/bin/env bash
# Times the statement layer (GHSqlCRUD with FavoriteDbm) against two baselines on the same work: 20000 inserts of
# MyFavorite rows in one transaction, then 20000 selects of one row by key, each side on a fresh copy of the same
# prepared favorite.dat. The floor is SQLite's C API with each statement prepared once and bound anew (the same
# benchmark binary, mode capi); the second row is the sqlite3 command-line tool reading the statements as text with
# the values written in. All sides are timed as whole processes. Prints the median of each side and the ratios.
# Goals: within 1.6x of the C API floor, and within 1.5x of the tool.
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

sides=("'$bench' run OUT" "'$bench' capi OUT" "sqlite3 OUT/data/poi/favorite.dat < '$work/statements.sql'")
times=("" "" "")
for ((i = 0; i < runs; i++)); do
  # The sides take turns going first.
  for ((k = 0; k < 3; k++)); do
    side=$(((k + i) % 3))
    times[side]+="$(measure "${sides[side]}") "
  done
done

# shellcheck disable=SC2086
ours=$(median ${times[0]})
echo "median of $runs runs each (ratio = library / baseline)"
# shellcheck disable=SC2086
awk -v o="$ours" -v c="$(median ${times[1]})" -v t="$(median ${times[2]})" 'BEGIN {
  label = "20000 inserts + 20000 selects by key"
  printf "%-38s library %8.1f ms   C API, prepared once %8.1f ms   ratio %.2f (goal <= 1.60)\n", label, o / 1000,
    c / 1000, o / c
  printf "%-38s library %8.1f ms   sqlite3 tool         %8.1f ms   ratio %.2f (goal <= 1.50)\n", label, o / 1000,
    t / 1000, o / t }'
