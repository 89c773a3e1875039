#!/usr/bin/env bash
# Remakes docs/screenshot.png: the window plume as it opens, with its option
# panel and the default settings, on a virtual X server (Xvfb), in Japanese;
# with a locale, in that locale's language.
#
#   tools/screenshot.sh [OUTPUT.png [LOCALE]]
#   tools/screenshot.sh docs/screenshot-en.png C.UTF-8
set -euo pipefail
cd "$(dirname "$0")/.."
tools/ensure-deps.sh imagemagick x11-utils
tools/build.sh
window=${PLUME_BUILD_DIR:-build}/src/gui/plume
output=$(realpath -m "${1:-docs/screenshot.png}")
locale=${2:-ja_JP.UTF-8}

work=$(mktemp -d)
server_pid=""
plume_pid=""
cleanup() {
  [ -z "$plume_pid" ] || kill "$plume_pid" 2>/dev/null || true
  [ -z "$server_pid" ] || kill "$server_pid" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# Waits up to ten seconds for a command to succeed.
wait_for() {
  local tries=100
  until "$@"; do
    tries=$((tries - 1))
    [ "$tries" -gt 0 ] || return 1
    sleep 0.1
  done
}

# The server picks a free display and writes its number to descriptor 3.
Xvfb -displayfd 3 -screen 0 800x600x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
server_pid=$!
wait_for test -s "$work/display" || {
  cat "$work/xvfb.log" >&2
  exit 1
}
DISPLAY=":$(head -n1 "$work/display")"
export DISPLAY

# Its own settings folder: the default settings, and the user's left alone.
LANGUAGE= LC_ALL="$locale" XDG_CONFIG_HOME="$work/config" QT_QPA_PLATFORM=xcb "$window" 2>"$work/plume.log" &
plume_pid=$!

# The window's X id, once it is mapped: the one whose class is plume.
find_window() {
  xwininfo -root -children 2>/dev/null | awk '/\("plume" "plume"\)/ { print $1; exit }' >"$work/id"
  [ -s "$work/id" ] && xwininfo -id "$(cat "$work/id")" | grep -q 'Map State: IsViewable'
}
wait_for find_window || {
  echo "screenshot.sh: the window did not appear" >&2
  cat "$work/plume.log" >&2
  exit 1
}
# Let it paint.
sleep 1

mkdir -p "$(dirname "$output")"
# A thin grey frame, as there is no window manager to draw one; no time
# stamps in the file, so that the same window gives the same bytes.
import -window "$(cat "$work/id")" "$work/window.png"
convert "$work/window.png" -bordercolor '#8a8a8a' -border 1 -strip \
  -define png:exclude-chunks=date,time "$output"
echo "Screenshot: $output"
