#!/usr/bin/env bash
# Installs what is missing, builds the updater and its demonstration, and runs the whole update flow without a
# device: a local update server and a simulated Vexmor device, with the real updater started against both.
# Options go to the demonstration: --plug-after SECONDS (hot-plug), --small-volume (a failing update; root only).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DJX_TESTS=ON >/dev/null
cmake --build build -j "$(nproc)" --target dorv dorv-demo
exec build/Dorv/tools/demo/dorv-demo "$@"
