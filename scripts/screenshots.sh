#!/usr/bin/env bash
# Not part of CI. Runs the demonstration (scripts/demo.sh) under Xvfb, presses the updater's buttons with xdotool
# and saves screenshots for a person to look at, in build/screenshots/:
#   1-main-no-device.png    main window before the device is plugged in
#   2-main-device.png       main window with the device and the waiting update
#   3-update-dialog.png     software update dialog
#   4-release-note.png      the same with the pointer on its info icon
#   5-completion.png        completion screen after the update
#   6-failure.png           failure screen of an update onto a volume too small for it
# The failing run mounts a 1 MiB tmpfs as the device volume: as root directly, otherwise in a user namespace.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
# The display tools that only this script needs.
display_packages=(xvfb xdotool imagemagick)
missing=()
for package in "${display_packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$package")
done
if ((${#missing[@]} > 0)); then
  if [[ $(id -u) -eq 0 ]]; then sudo_cmd=(); else sudo_cmd=(sudo); fi
  echo "Installing: ${missing[*]}"
  "${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -q
  "${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DJX_TESTS=ON >/dev/null
cmake --build build -j "$(nproc)" --target dorv dorv-demo
demo=build/Dorv/tools/demo/dorv-demo

out=build/screenshots
rm -rf "$out"
mkdir -p "$out"
work=$(mktemp -d)
xvfb_pid=
demo_pid=
cleanup() {
  if [[ -n $demo_pid ]]; then
    kill -TERM "$demo_pid" 2>/dev/null || true
    wait "$demo_pid" 2>/dev/null || true
  fi
  if [[ -n $xvfb_pid ]]; then
    kill "$xvfb_pid" 2>/dev/null || true
    wait "$xvfb_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

# A display of its own: Xvfb writes the number it took.
Xvfb -displayfd 5 -screen 0 640x560x24 -nolisten tcp 5>"$work/display" 2>"$work/xvfb.log" &
xvfb_pid=$!
# Polls a condition for up to $1 seconds.
wait_until() {
  local deadline=$((SECONDS + $1))
  shift
  until "$@"; do
    if ((SECONDS >= deadline)); then
      echo "timed out waiting for: $*" >&2
      return 1
    fi
    sleep 0.2
  done
}
wait_until 10 test -s "$work/display"
DISPLAY=":$(head -n1 "$work/display")"
export DISPLAY
export QT_QPA_PLATFORM=xcb

# Every screen is a top-level window of its own (360 x 525, without a window manager at 0,0); the updater shows
# one at a time.
screen=
shown_screen() { xdotool search --onlyvisible --name '^Vexmor Update$' 2>/dev/null || true; }
# True once exactly one screen shows and it is not the given one; remembers it in $screen.
new_screen_shows() {
  local ids
  ids=$(shown_screen)
  [[ -n $ids && $(wc -l <<<"$ids") -eq 1 && $ids != "$1" ]] || return 1
  screen=$ids
}
shoot() {
  sleep "${2:-0.5}" # let the screen paint (and its animation move on)
  import -window "$screen" "$out/$1.png"
  echo "saved $out/$1.png"
}
click() { xdotool mousemove --window "$screen" "$1" "$2" click 1; }
# The demonstration's own lines name its folders.
demo_said() { sed -n "s/^dorv-demo: $1//p" "$work/demo.log" | head -n1; }
has_said() { [[ -n $(demo_said "$1") ]]; }

start_demo() {
  local prefix=()
  if [[ " $* " == *" --small-volume "* && $(id -u) -ne 0 ]]; then
    prefix=(unshare --user --map-root-user --mount)
  fi
  "${prefix[@]}" "$demo" "$@" >"$work/demo.log" 2>&1 &
  demo_pid=$!
  wait_until 20 has_said 'scratch folder .* '
  home=$(demo_said 'scratch folder .* ')/home
}
stop_demo() {
  kill -TERM "$demo_pid"
  wait "$demo_pid" || true
  demo_pid=
  cat "$work/demo.log" >>"$out/demo.log"
}
# The package is cached and the silent workout check has had its moment.
wait_for_offer() {
  wait_until 30 test -s "$home/Jaxmere/updates/Zelto70/version.txt"
  sleep 1.5
}

echo "== device plugged in after the start"
start_demo --plug-after 4
wait_until 30 new_screen_shows none
shoot 1-main-no-device
wait_for_offer
shoot 2-main-device
stop_demo

# The completion screen picks its animation when the updater starts, from the device connected then: the device
# is there from the start in this run.
echo "== update"
start_demo
wait_until 30 new_screen_shows none
volume=$(demo_said 'plugged a .* its volume is ')
wait_for_offer
main=$screen
click 180 309 # "Update Software"
wait_until 10 new_screen_shows "$main"
shoot 3-update-dialog
xdotool mousemove --window "$screen" 317 87 # the info icon
shoot 4-release-note
xdotool mousemove --window "$screen" 180 20
dialog=$screen
click 260 475 # "Update"
wait_until 60 new_screen_shows "$dialog"
wait_until 10 test -e "$volume/update.ini"
shoot 5-completion 1.5
ls -l "$volume" >"$out/volume-after-update.txt"
stop_demo

echo "== update onto a volume too small"
start_demo --small-volume
wait_until 30 new_screen_shows none
wait_for_offer
main=$screen
click 180 309
wait_until 10 new_screen_shows "$main"
dialog=$screen
click 260 475
wait_until 60 new_screen_shows "$dialog"
shoot 6-failure
stop_demo

echo "Screenshots in $out"
