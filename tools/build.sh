#!/usr/bin/env bash
# Configures (once, or again when given options) and builds plume in Release
# into build/, incrementally.
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${PLUME_BUILD_DIR:-build}
if [ ! -f "$build_dir/CMakeCache.txt" ] || [ $# -gt 0 ]; then
  cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE=Release "$@" >/dev/null
fi
cmake --build "$build_dir" -j"$(nproc)"
