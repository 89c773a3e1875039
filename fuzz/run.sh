#!/usr/bin/env bash
# Builds the fuzz targets with clang (libFuzzer, AddressSanitizer,
# UndefinedBehaviorSanitizer) into build-fuzz/ and runs each for SECONDS
# seconds (default 60) on seed corpora made here at run time.
#   fuzz/run.sh [SECONDS] [TARGET...]
# Findings (crash-*, timeout-*, oom-*) land in build-fuzz/findings/TARGET/.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
shift || true
build=${PLUME_FUZZ_BUILD_DIR:-build-fuzz}

# Configured on every call: the analysis target appears once its source exists.
CXX=${CXX:-clang++} cmake -S fuzz -B "$build" >/dev/null
cmake --build "$build" -j"$(nproc)"

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  targets=(fuzz_engine fuzz_exif_rewrite fuzz_multi_picture fuzz_xmp)
  [ -x "$build/fuzz_analysis" ] && targets+=(fuzz_analysis)
fi

# Seed corpora: synthetic files, then copies of the shared sample photos.
seeds="$build/seeds"
rm -rf "$seeds"
"$build/fuzz_seeds" "$seeds" >/dev/null
samples=../shared/samples
if [ -d "$samples" ]; then
  # The engine decodes whole scans: only the smaller photos keep it fast.
  mkdir -p "$seeds/samples" "$seeds/samples-small"
  find "$samples" -type f -iname '*.jp*g' -size -1024k -print0 |
    while IFS= read -r -d '' f; do
      name=$(echo "$f" | md5sum | cut -c1-12).jpg
      cp "$f" "$seeds/samples/$name"
      if [ "$(stat -c %s "$f")" -lt 65536 ]; then cp "$f" "$seeds/samples-small/$name"; fi
    done
fi

status=0
for target in "${targets[@]}"; do
  corpus="$build/corpus/$target"
  findings="$build/findings/$target"
  mkdir -p "$corpus" "$findings"
  case $target in
    fuzz_engine) dirs=("$seeds/engine" "$seeds/samples-small") ;;
    fuzz_exif_rewrite) dirs=("$seeds/exif") ;;
    fuzz_analysis) dirs=("$seeds/analysis" "$seeds/engine" "$seeds/samples") ;;
    *) dirs=() ;;
  esac
  existing=()
  for d in "${dirs[@]}"; do [ -d "$d" ] && existing+=("$d"); done
  echo "== $target: ${seconds}s"
  if ! "$build/$target" "$corpus" "${existing[@]}" \
      -max_total_time="$seconds" -max_len=1048576 -rss_limit_mb=4096 -timeout=10 \
      -print_final_stats=1 -artifact_prefix="$findings/" \
      >"$build/$target.log" 2>&1; then
    status=1
    echo "   finding in $findings (log: $build/$target.log)"
  fi
  grep -E '^stat::number_of_executed_units|Done [0-9]+ runs' "$build/$target.log" | tail -2 || true
done
exit $status
