#!/usr/bin/env bash
# Benchmarks plume-cli against jpegtran (libjpeg-turbo-progs), alternating
# A B A B and taking medians of wall time; peak memory from /usr/bin/time.
#
#   bench/run.sh [--runs N] [--smoke]
#
# --smoke: small inputs and one run each, to check that the benchmark works.
# Inputs are made once and cached in the build folder.
set -euo pipefail
cd "$(dirname "$0")/.."

runs=5
smoke=0
while [ $# -gt 0 ]; do
  case "$1" in
    --runs) runs="$2"; shift 2 ;;
    --smoke) smoke=1; runs=1; shift ;;
    *) echo "usage: bench/run.sh [--runs N] [--smoke]" >&2; exit 2 ;;
  esac
done

tools/ensure-deps.sh
tools/build.sh >/dev/null
build="${PLUME_BUILD_DIR:-build}"
cmake --build "$build" --target plume-bench-inputs plume-cli >/dev/null
cli="$build/src/main/plume-cli"
maker="$build/bench/plume-bench-inputs"
command -v jpegtran >/dev/null || { echo "jpegtran not found (libjpeg-turbo-progs)" >&2; exit 1; }
[ -x /usr/bin/time ] || { echo "/usr/bin/time not found (package time)" >&2; exit 1; }

# The photo: 24 megapixels, 4:2:0, quality 90, standard tables; noise 10
# makes it about 7 MB, like a camera's.
if [ $smoke -eq 1 ]; then
  inputs="$build/bench-inputs-smoke"; photo_size="1024 768"; batch_count=4; batch_size="640 480"
else
  inputs="$build/bench-inputs"; photo_size="6000 4000"; batch_count=100; batch_size="4000 3000"
fi
mkdir -p "$inputs"
photo="$inputs/photo-noise10.jpg"
[ -f "$photo" ] || "$maker" photo "$photo" $photo_size 10
[ -f "$inputs/batch/.done" ] || { rm -rf "$inputs/batch"; "$maker" batch "$inputs/batch" $batch_count $batch_size && touch "$inputs/batch/.done"; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Runs a command, appending "seconds peak-KB" to the file $1.
measure() {
  local log="$1"; shift
  /usr/bin/time -f "%e %M" -o "$work/time" "$@" >/dev/null 2>"$work/stderr" || { cat "$work/stderr" >&2; return 1; }
  cat "$work/time" >> "$log"
}
median() { sort -n | awk '{v[NR]=$1} END {print (NR%2 ? v[(NR+1)/2] : (v[NR/2]+v[NR/2+1])/2)}'; }

# The orientations are read once, before any timing.
exiftool -q -m -T -n -filename -Orientation "$inputs"/batch/*.jpg > "$work/orientations" 2>/dev/null || true
jpegtran_batch() {
  while read -r name o; do
    local f="$inputs/batch/$name"
    case "$o" in
      6) jpegtran -rotate 90 -copy all -outfile "$work/jt.jpg" "$f" ;;
      8) jpegtran -rotate 270 -copy all -outfile "$work/jt.jpg" "$f" ;;
      3) jpegtran -rotate 180 -copy all -outfile "$work/jt.jpg" "$f" ;;
      *) jpegtran -copy all -outfile "$work/jt.jpg" "$f" ;;
    esac
  done < "$work/orientations"
}
plume_batch() {
  rm -rf "$inputs/batch/result"
  "$cli" --save-method result --no-all "$inputs/batch"
}
export -f jpegtran_batch plume_batch
export inputs work cli

printf 'photo: %s pixels, %s bytes; batch: %s files of %s pixels\n' "${photo_size/ /x}" "$(stat -c %s "$photo")" "$batch_count" "${batch_size/ /x}"
printf '%-34s %10s %10s %7s %10s %10s\n' case "plume s" "jpegtran s" ratio "plume MB" "jpegtran MB"
run_case() {
  local name="$1" a="$2" b="$3"
  : > "$work/a"; : > "$work/b"
  for ((i = 0; i < runs; i++)); do
    measure "$work/a" bash -c "$a"
    measure "$work/b" bash -c "$b"
  done
  local ta tb ma mb
  ta=$(cut -d' ' -f1 "$work/a" | median); tb=$(cut -d' ' -f1 "$work/b" | median)
  ma=$(cut -d' ' -f2 "$work/a" | median); mb=$(cut -d' ' -f2 "$work/b" | median)
  awk -v n="$name" -v ta="$ta" -v tb="$tb" -v ma="$ma" -v mb="$mb" \
    'BEGIN {printf "%-34s %10.3f %10.3f %7.2f %10.1f %10.1f\n", n, ta, tb, (tb > 0 ? ta / tb : 0), ma / 1024, mb / 1024}'
}

run_case "photo mode 1 (rotate 90)" "\"\$cli\" --mode 1 -o \"\$work/p.jpg\" \"$photo\"" "jpegtran -rotate 90 -copy all -outfile \"\$work/j.jpg\" \"$photo\""
run_case "photo mode 2 (rotate 270)" "\"\$cli\" --mode 2 -o \"\$work/p.jpg\" \"$photo\"" "jpegtran -rotate 270 -copy all -outfile \"\$work/j.jpg\" \"$photo\""
run_case "photo mode 3 (rotate 180)" "\"\$cli\" --mode 3 -o \"\$work/p.jpg\" \"$photo\"" "jpegtran -rotate 180 -copy all -outfile \"\$work/j.jpg\" \"$photo\""
run_case "photo mode 0 (copy)" "\"\$cli\" --mode 0 -o \"\$work/p.jpg\" \"$photo\"" "jpegtran -copy all -outfile \"\$work/j.jpg\" \"$photo\""
run_case "batch of $batch_count (result folder)" "plume_batch" "jpegtran_batch"
