#!/usr/bin/env bash
# Builds plume in Release into build/ (reusing what is built there already),
# makes the Debian package build/plume_<version>_<arch>.deb with CPack and
# checks it (tools/check-package.sh). Install it with
#
#   sudo apt install ./build/plume_*.deb
set -euo pipefail
cd "$(dirname "$0")/.."
tools/ensure-deps.sh dpkg-dev file desktop-file-utils appstream groff-base
tools/build.sh
build=${PLUME_BUILD_DIR:-build}

# A package holds the optimised programs only.
if ! grep -qx 'CMAKE_BUILD_TYPE:STRING=Release' "$build/CMakeCache.txt" ||
  grep -qx 'PLUME_SANITIZE:BOOL=ON' "$build/CMakeCache.txt"; then
  echo "package.sh: $build is not a plain Release build; remove it or set PLUME_BUILD_DIR" >&2
  exit 1
fi

rm -f "$build"/plume_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
debs=("$build"/plume_*.deb)
tools/check-package.sh "${debs[0]}"
