#!/usr/bin/env bash
# Installs what is missing, checks the formatting of the sources
# (tools/check-format.sh), builds in Release, runs every test, and makes and
# checks the Debian package (tools/package.sh); then builds the same suite
# with AddressSanitizer and UndefinedBehaviorSanitizer (any report fails the
# test) into build-asan/, the window aside, and runs it again.
# PLUME_SANITIZE_STAGE=0 skips the second stage.
set -euo pipefail
cd "$(dirname "$0")"
tools/ensure-deps.sh
tools/check-format.sh
# Each test executable runs as twelve processes that share its tests: a process
# for each of some 1,400 tests would cost more than most of them take. Twice
# as many at once as there are cores, since many tests wait on the programs
# they run (jpegtran, exiftool).
tools/build.sh -DPLUME_TEST_SHARDS=12
jobs=$(($(nproc) * 2))
(cd "${PLUME_BUILD_DIR:-build}" && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j"$jobs")
# The benchmark on small inputs, to show that it runs; timings never fail it.
bench/run.sh --smoke
bench/run.sh --smoke --passes
# The Debian package from the same Release build, extracted and validated.
tools/package.sh

if [ "${PLUME_SANITIZE_STAGE:-1}" != 0 ]; then
  echo "== Sanitizer stage (build-asan)"
  # Line tables are all a report needs (-g1), at half the compile time of -g.
  # The engine, the application and the console, without the benchmarks and
  # the window's thin Qt layer, which the first stage tests: the whole run
  # stays within a quarter of an hour on two cores.
  PLUME_BUILD_DIR=build-asan tools/build.sh -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPLUME_SANITIZE=ON \
    -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG" -DPLUME_TEST_SHARDS=12 -DPLUME_BUILD_BENCH=OFF \
    -DPLUME_BUILD_GUI=OFF
  cd build-asan
  ASAN_OPTIONS=detect_leaks=1:strict_string_checks=1 \
    UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j"$jobs"
fi
