#!/usr/bin/env bash
# Installs the Debian 12 packages that building, running and testing need.
# Idempotent: asks apt only for what is missing, and refreshes the package
# index only when something has to be installed.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  qtbase5-dev qtbase5-dev-tools qttools5-dev qttools5-dev-tools
  libqt5sql5-sqlite libqt5svg5
  libquazip1-qt5-dev zlib1g-dev
  clang libclang-rt-dev
  unzip zip libarchive-tools
  sqlite3 libsqlite3-dev libxml2-utils gpsbabel
  dbus-daemon
  fonts-dejavu-core
)

missing=()
for package in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$package")
done

if ((${#missing[@]} == 0)); then
  exit 0
fi

if [[ $(id -u) -eq 0 ]]; then
  sudo_cmd=()
else
  sudo_cmd=(sudo)
fi
echo "Installing: ${missing[*]}"
"${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -q
"${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
