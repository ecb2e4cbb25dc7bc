#!/usr/bin/env bash
# Times the workout storage (GHWorkoutProvider) against the sqlite3 command-line tool on the same work, each side on
# a fresh copy of the same route.dat on disk, so the journal syncs of every commit count:
#   create: 1000 workouts of 10 intervals, each in its own transaction (the tool: BEGIN, the inserts, COMMIT);
#   list and load: the plain listing, then the columns and the intervals of every listed workout.
# Both sides are timed as whole processes; the tool reads the statements as text with the values written in, the
# library binds them. Prints the median of each side and the ratio library/tool per phase.
# Goals: create within 1.3x, list and load within 1.5x of the tool.
#
#   bash bench/workout.sh
#   RUNS=N (runs per side, default 7), BENCH_TMP=DIR (where the databases go; default the system's temporary
#   folder, a disk; /dev/shm leaves the disk out of the figures), BENCH_BUILD_DIR=DIR (the Release build to use,
#   default build-bench-workout)
set -euo pipefail
cd "$(dirname "$0")/.."

runs=${RUNS:-7}
build=${BENCH_BUILD_DIR:-build-bench-workout}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DJX_TESTS=OFF >/dev/null
cmake --build "$build" --target bench_workout >/dev/null
bench=$(pwd)/$build/bench/bench_workout

work=$(mktemp -d "${BENCH_TMP:-${TMPDIR:-/tmp}}/workout.XXXXXX")
trap 'rm -rf "$work"' EXIT

"$bench" prepare "$work/empty"
"$bench" script-create "$work/create.sql"
"$bench" script-load "$work/load.sql"

db=data/route/route.dat
dump() {
  sqlite3 "$1" "select * from Workout order by id; select * from WorkoutInterval order by wid, iid;" | md5sum
}

# Both sides must store the same rows; the library's copy then serves every list-and-load run.
cp -r "$work/empty" "$work/filled"
"$bench" create "$work/filled" >/dev/null
cp -r "$work/empty" "$work/check"
sqlite3 "$work/check/$db" <"$work/create.sql"
if [[ $(dump "$work/filled/$db") != $(dump "$work/check/$db") ]]; then
  echo "the library and the tool stored different rows" >&2
  exit 1
fi
rm -rf "$work/check"

median() {
  printf '%s\n' "$@" | sort -n | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'
}

# Microseconds of one run of the command on a fresh copy OUT of the flash home TEMPLATE; the copy is written out
# before the clock starts, and the run must leave 1000 workouts and 10000 intervals behind.
measure() {
  local template=$1 command=$2 out=$work/run
  rm -rf "$out"
  cp -r "$work/$template" "$out"
  sync
  local start end
  start=$(date +%s%N)
  if ! bash -c "${command//OUT/$out}" >/dev/null; then
    echo "failed: ${command//OUT/$out}" >&2
    exit 1
  fi
  end=$(date +%s%N)
  local rows
  rows=$(sqlite3 "$out/$db" "select (select count(*) from Workout) || ' ' || (select count(*) from WorkoutInterval);")
  if [[ $rows != "1000 10000" ]]; then
    echo "${command//OUT/$out} left $rows rows, not 1000 10000" >&2
    exit 1
  fi
  echo $(((end - start) / 1000))
}

# Prints "library-median tool-median" of one phase; the two sides take turns going first.
phase() {
  local template=$1 ours=$2 theirs=$3
  local ours_times=() their_times=()
  for ((i = 0; i < runs; i++)); do
    if ((i % 2 == 0)); then
      ours_times+=("$(measure "$template" "$ours")")
      their_times+=("$(measure "$template" "$theirs")")
    else
      their_times+=("$(measure "$template" "$theirs")")
      ours_times+=("$(measure "$template" "$ours")")
    fi
  done
  echo "$(median "${ours_times[@]}") $(median "${their_times[@]}")"
}

read -r create_ours create_theirs < <(phase empty "'$bench' create OUT" "sqlite3 OUT/$db < '$work/create.sql'")
read -r load_ours load_theirs < <(phase filled "'$bench' load OUT" "sqlite3 OUT/$db < '$work/load.sql'")

echo "median of $runs runs each (ratio = library / sqlite3)"
awk -v co="$create_ours" -v ct="$create_theirs" -v lo="$load_ours" -v lt="$load_theirs" 'BEGIN {
  printf "%-46s library %8.1f ms   sqlite3 %8.1f ms   ratio %.2f (goal <= 1.30)\n",
    "create 1000 workouts of 10 intervals", co / 1000, ct / 1000, co / ct
  printf "%-46s library %8.1f ms   sqlite3 %8.1f ms   ratio %.2f (goal <= 1.50)\n",
    "list and load 1000 workouts", lo / 1000, lt / 1000, lo / lt }'
