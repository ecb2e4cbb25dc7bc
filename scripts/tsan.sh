#!/usr/bin/env bash
# Builds the tests that use threads with ThreadSanitizer and runs them: the client's actions and fault guard, the
# detection thread, the device manager's events, the daemon, the file-update driver's worker, the progress
# estimator, the unmount worker, concurrent logging, the controller, the end-to-end update and the POI search.
# Not part of CI.
#
# Debian's Qt is not built with the sanitizer: cmake/tsan/jxtsanqtsync.cpp tells it what Qt's locks, signals,
# threads and thread pool order, and cmake/tsan/suppressions.txt keeps it out of the libraries' own code. A canary
# program first proves that races through those Qt calls are still reported.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

folder=build-tsan
tests=(
  tst_jxclient tst_jxclientbatch tst_jxexceptionhandler
  tst_jxdevicemanager tst_jxdevicedetection tst_jxdaemon tst_jxdaemonproxy
  tst_jxfitdevice tst_jxprogressthread tst_jxoperatingsystem tst_jxlinuxudisks tst_jxenv
  tst_dorvcontroller tst_dorvapp tst_dorvforms tst_endtoend
  tst_ghpoiquery
)

cmake -S . -B "$folder" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DJX_TSAN=ON >/dev/null
cmake --build "$folder" -j "$(nproc)" --target jx_tsan_canary "${tests[@]}"

export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$PWD/cmake/tsan/suppressions.txt"

echo "== canary: races through Qt are reported, ordered accesses are not"
canary_failed=0
for scenario in different-locks written-after-signal pool-not-awaited ordered; do
  status=0
  output=$("$folder/jx_tsan_canary" "$scenario" 2>&1) || status=$?
  reported=0
  grep -q "WARNING: ThreadSanitizer: data race" <<<"$output" && reported=1
  if [[ $scenario == ordered ]]; then
    wanted="no report"; ok=$(( status == 0 && reported == 0 ))
  else
    wanted="a data race"; ok=$(( status != 0 && reported == 1 ))
  fi
  if (( ok )); then
    echo "ok: $scenario ($wanted)"
  else
    echo "FAILED: $scenario should give $wanted (exit $status)"
    echo "$output" | head -40
    canary_failed=1
  fi
done
(( canary_failed == 0 )) || exit 1

echo "== tests under ThreadSanitizer"
# The fault scenario of tst_jxexceptionhandler ends the action's thread with pthread_exit from the signal handler;
# under the sanitizer the handler is called from the sanitizer's own signal frames, which cannot be unwound, so
# that one scenario aborts. Its other cases run below, outside ctest, which cannot pick test functions.
in_ctest=()
for test in "${tests[@]}"; do
  [[ $test == tst_jxexceptionhandler ]] || in_ctest+=("$test")
done
pattern="^($(IFS='|'; echo "${in_ctest[*]}"))\$"
ctest --test-dir "$folder" --output-on-failure -j "$(nproc)" -R "$pattern"

home="$PWD/$folder/Gendrel/tests/home-tst_jxexceptionhandler"
mkdir -p "$home"
(
  cd "$folder/Gendrel/tests"
  QT_QPA_PLATFORM=offscreen HOME="$home" JX_RESOURCE_DIR="$PWD/../../Dorv/resources" \
    ./tst_jxexceptionhandler guardedDuringNormalActionAndDefaultAfter signalsOutsideTheActionActAsSystem
)
echo "ThreadSanitizer: no reports"
