#!/usr/bin/env bash
# Installs what is missing, builds in Release and runs plume on the given
# files or folders.
set -euo pipefail
cd "$(dirname "$0")"
tools/ensure-deps.sh
tools/build.sh
bin="${PLUME_BUILD_DIR:-build}/src/main"
# With a display, the window; the given paths are its command line.
if { [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; } && [ -x "$bin/gui/plume" ]; then
  exec "$bin/gui/plume" "$@"
fi
if [ -x "$bin/cli/plume-cli" ] || [ -x "$bin/plume-cli" ]; then
  cli=$(ls "$bin"/plume-cli "$bin"/cli/plume-cli 2>/dev/null | head -n 1)
  exec "$cli" "$@"
fi
echo "plume is built; the console program comes next. It will turn these upright: ${*:-(nothing given)}"
