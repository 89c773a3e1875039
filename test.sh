#!/usr/bin/env bash
# Installs what is missing, builds in Release and runs every test.
set -euo pipefail
cd "$(dirname "$0")"
tools/ensure-deps.sh
tools/build.sh
cd "${PLUME_BUILD_DIR:-build}"
QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j"$(nproc)"
