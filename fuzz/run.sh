#!/usr/bin/env bash
# Builds the fuzz targets with clang (libFuzzer, AddressSanitizer,
# UndefinedBehaviorSanitizer) into build-fuzz/ and runs them one after another.
#   fuzz/run.sh [SECONDS] [TARGET...]   each target for SECONDS (default 60)
#   fuzz/run.sh --distil [TARGET...]    the inputs that reach code the seeds do
#                                       not, into fuzz/corpus/TARGET (to commit)
# Corpus of a target: build-fuzz/corpus/TARGET, kept between runs (libFuzzer
# adds what it finds); fuzz/corpus/TARGET (the inputs kept in the repository)
# is copied into it, and the seeds fuzz_seeds makes (build-fuzz/seeds/TARGET)
# are read along with it. Findings (crash-*, timeout-*, oom-*) land in
# build-fuzz/findings/TARGET/; add each to fuzz/corpus/TARGET/ once fixed.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${PLUME_FUZZ_BUILD_DIR:-build-fuzz}

# One line per target: its seed folders (made by fuzz_seeds) and its
# dictionaries (fuzz/dict/NAME.dict), each list comma-separated.
targets_table="
fuzz_engine        fuzz_engine                  jpeg,mpf,xmp
fuzz_exif_rewrite  fuzz_exif_rewrite            exif
fuzz_analysis      fuzz_analysis,fuzz_engine    jpeg,exif
fuzz_multi_picture fuzz_multi_picture           mpf
fuzz_xmp           fuzz_xmp                     xmp
"

distil=false
if [ "${1:-}" = --distil ]; then
  distil=true
  shift
  seconds=0
else
  seconds=${1:-60}
  shift || true
fi

# clang with libFuzzer's runtime: Debian's clang-14 and libclang-rt-14-dev.
# The other build dependencies are those of the project.
tools/ensure-deps.sh
mkdir -p "$build"
probe() {
  echo 'extern "C" int LLVMFuzzerTestOneInput(const char*, unsigned long) { return 0; }' |
    "$1" -x c++ -fsanitize=fuzzer,address,undefined -o "$build/probe" - 2>/dev/null
}
cxx=${CXX:-clang++}
if ! probe "$cxx" && ! { cxx=clang++-14 && probe "$cxx"; }; then
  echo "Installing clang-14 and libclang-rt-14-dev (libFuzzer)"
  if [ "$(id -u)" -eq 0 ]; then sudo=""; else sudo="sudo"; fi
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends \
    clang-14 libclang-rt-14-dev
  probe "$cxx" || { echo "clang++-14 cannot build libFuzzer targets" >&2; exit 1; }
fi

# Configured on every call: the analysis target appears once its source exists.
CXX=$cxx cmake -S fuzz -B "$build" >/dev/null
cmake --build "$build" -j"$(nproc)"

declare -A seed_dirs dicts
all=()
while read -r name seed dict; do
  [ -n "$name" ] || continue
  seed_dirs[$name]=$seed
  dicts[$name]=$dict
  [ -x "$build/$name" ] && all+=("$name")
done <<<"$targets_table"
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=("${all[@]}")

seeds="$build/seeds"
rm -rf "$seeds"
"$build/fuzz_seeds" "$seeds" >/dev/null

# The seed folders of a target, as arguments.
seed_args() {
  local d
  IFS=, read -r -a list <<<"${seed_dirs[$1]}"
  for d in "${list[@]}"; do [ -d "$seeds/$d" ] && echo "$seeds/$d"; done
}

# Keeps in fuzz/corpus/TARGET, besides the findings (finding-*), one input
# for each piece of code (edges, not hit counts or comparisons) that the seeds
# do not reach, picked from it and from the build's corpus.
distil_target() {
  local target=$1 kept="fuzz/corpus/$1" work
  work=$(mktemp -d)
  mkdir -p "$work/reached" "$kept"
  local -a flags=(-merge=1 -use_counters=0 -use_cmp=0 -use_value_profile=0 -timeout=10)
  # shellcheck disable=SC2046
  "$build/$target" "${flags[@]}" "$work/reached" $(seed_args "$target") >/dev/null 2>&1
  ls "$work/reached" >"$work/seed-names"
  { sha1sum "$kept"/finding-* 2>/dev/null || true; } | cut -d' ' -f1 >>"$work/seed-names"
  "$build/$target" "${flags[@]}" "$work/reached" "$kept" "$build/corpus/$target" >/dev/null 2>&1
  # libFuzzer names what it copies by its SHA-1.
  find "$kept" -type f ! -name 'finding-*' -delete
  local f
  for f in "$work/reached"/*; do
    [ -e "$f" ] && ! grep -qxF "${f##*/}" "$work/seed-names" && cp "$f" "$kept/"
  done
  echo "== $target: $(find "$kept" -type f | wc -l) inputs kept, $(du -sk "$kept" | cut -f1) KB"
  rm -rf "$work"
}

status=0
for target in "${targets[@]}"; do
  [ -n "${seed_dirs[$target]+x}" ] || { echo "unknown target $target" >&2; exit 2; }
  corpus="$build/corpus/$target"
  findings="$build/findings/$target"
  mkdir -p "$corpus" "$findings"
  if [ -d "fuzz/corpus/$target" ]; then cp -n "fuzz/corpus/$target"/* "$corpus"/ 2>/dev/null || true; fi
  if $distil; then
    distil_target "$target"
    continue
  fi
  dict="$build/$target.dict"
  IFS=, read -r -a names <<<"${dicts[$target]}"
  for n in "${names[@]}"; do cat "fuzz/dict/$n.dict"; done >"$dict"
  echo "== $target: ${seconds}s"
  log="$build/$target.log"
  # shellcheck disable=SC2046
  if ! "$build/$target" "$corpus" $(seed_args "$target") -dict="$dict" \
      -max_total_time="$seconds" -max_len=65536 -timeout=10 \
      -print_final_stats=1 -artifact_prefix="$findings/" >"$log" 2>&1; then
    status=1
    echo "   finding in $findings (log: $log)"
  fi
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
  cov=$(grep -oE 'cov: [0-9]+' "$log" | tail -1 || true)
  echo "   ${runs:-?} inputs, ${rate:-?} a second, ${cov:-cov: ?}, corpus $(find "$corpus" -type f | wc -l) files"
done
exit $status
