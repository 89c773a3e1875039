#!/usr/bin/env bash
# Installs what is missing, checks the formatting of the sources
# (tools/check-format.sh), builds in Release, runs every test, and makes and
# checks the Debian package (tools/package.sh); then builds the same suite
# with AddressSanitizer and UndefinedBehaviorSanitizer (any report fails the
# test) into build-asan/ and runs it again, each test executable as six
# processes that share its tests (a sanitized process is slow to start).
# PLUME_SANITIZE_STAGE=0 skips the second stage.
set -euo pipefail
cd "$(dirname "$0")"
tools/ensure-deps.sh
tools/check-format.sh
tools/build.sh
(cd "${PLUME_BUILD_DIR:-build}" && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j"$(nproc)")
# The benchmark on small inputs, to show that it runs; timings never fail it.
bench/run.sh --smoke
bench/run.sh --smoke --passes
# The Debian package from the same Release build, extracted and validated.
tools/package.sh

if [ "${PLUME_SANITIZE_STAGE:-1}" != 0 ]; then
  echo "== Sanitizer stage (build-asan)"
  PLUME_BUILD_DIR=build-asan tools/build.sh -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPLUME_SANITIZE=ON \
    -DPLUME_TEST_SHARDS=6
  cd build-asan
  ASAN_OPTIONS=detect_leaks=1:strict_string_checks=1 \
    UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j"$(nproc)"
fi
