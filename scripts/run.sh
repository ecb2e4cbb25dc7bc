#!/usr/bin/env bash
# Installs what is missing, builds the updater and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)" --target dorv
exec build/Dorv/dorv "$@"
