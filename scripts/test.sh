#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: once in a normal
# build, once more under AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

jobs=$(nproc)
run_suite() {
  local folder=$1; shift
  cmake -S . -B "$folder" -G Ninja "$@" >/dev/null
  cmake --build "$folder" -j "$jobs"
  ctest --test-dir "$folder" --output-on-failure -j "$jobs"
}

echo "== tests"
run_suite build -DCMAKE_BUILD_TYPE=RelWithDebInfo
echo "== tests under AddressSanitizer and UndefinedBehaviorSanitizer"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
  run_suite build-asan -DCMAKE_BUILD_TYPE=Debug -DJX_SANITIZE=ON
