#!/usr/bin/env bash
# Installs what is missing, builds the updater and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."

# The updater is a desktop window: without a display Qt would only abort after the whole build.
if [[ -z ${DISPLAY:-} && -z ${WAYLAND_DISPLAY:-} && -z ${QT_QPA_PLATFORM:-} ]]; then
  echo "run.sh: the updater needs a graphical session (neither DISPLAY nor WAYLAND_DISPLAY is set)" >&2
  exit 1
fi

bash scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)" --target dorv
exec build/Dorv/dorv "$@"
