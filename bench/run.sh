#!/usr/bin/env bash
# Benchmarks plume-cli against jpegtran (libjpeg-turbo-progs) in the same
# run, alternating A B A B and taking medians of wall time, CPU time (user +
# system) and peak memory. jpegtran's own figures are printed beside plume's,
# so that runs on different machines can be read side by side.
#
#   bench/run.sh [--runs N] [--smoke] [--passes]
#
# Cases: a 24-megapixel photo in modes 1, 2, 3 and 0; the same photo made
# progressive by jpegtran, plume --any-jpeg in mode 1 against jpegtran
# -progressive -rotate 90; a 12-megapixel camera photo with restart markers
# in modes 1, 2 and 3; and a batch of camera photos in a folder, plume on its
# default one job per core against jpegtran run on every core at once
# (xargs -P), each turning the files that need it. Then what --optimize
# (tables made for the output) costs: plume with it against plume without it
# on the photo in mode 1, and the sizes of what each writes beside jpegtran's
# (with and without -optimize).
# --smoke: small inputs and one run each, to check that the benchmark works.
# --passes: instead, what each scan pass and thread scheme of the engine buys
# over the index pass on the same inputs (bench/PassBench.cpp).
# Inputs are made once and cached in the build folder.
set -euo pipefail
cd "$(dirname "$0")/.."

runs=5
smoke=0
passes=0
while [ $# -gt 0 ]; do
  case "$1" in
    --runs) runs="$2"; shift 2 ;;
    --smoke) smoke=1; runs=1; shift ;;
    --passes) passes=1; shift ;;
    *) echo "usage: bench/run.sh [--runs N] [--smoke] [--passes]" >&2; exit 2 ;;
  esac
done

tools/ensure-deps.sh
tools/build.sh >/dev/null
build="${PLUME_BUILD_DIR:-build}"
cmake --build "$build" --target plume-bench-inputs plume-bench-measure plume-bench-passes plume-cli >/dev/null
cli="$(realpath "$build/src/cli/plume-cli")"
maker="$build/bench/plume-bench-inputs"
measure="$(realpath "$build/bench/plume-bench-measure")"
command -v jpegtran >/dev/null || { echo "jpegtran not found (libjpeg-turbo-progs)" >&2; exit 1; }
cores=$(nproc)

# The photo: 24 megapixels, 4:2:0, quality 90, standard tables; noise 10
# makes it about 7 MB, like a camera's. The camera photos: 12 megapixels
# with a camera's EXIF and a restart marker after every MCU row, as phones
# and many cameras write them.
if [ $smoke -eq 1 ]; then
  inputs="$build/bench-inputs-smoke"; photo_size="1024 768"; camera_size="640 480"; batch_count=4
else
  inputs="$build/bench-inputs"; photo_size="6000 4000"; camera_size="4032 3024"; batch_count=24
fi
mkdir -p "$inputs"
inputs="$(realpath "$inputs")"
photo="$inputs/photo-noise10.jpg"
camera="$inputs/camera-${camera_size/ /x}.jpg"
batch="$inputs/batch-${camera_size/ /x}"
# The progressive photo: the photo through jpegtran's standard script.
progressive="$inputs/photo-noise10-progressive.jpg"
[ -f "$photo" ] || "$maker" photo "$photo" $photo_size 10
[ -f "$progressive" ] || jpegtran -progressive -copy all -outfile "$progressive" "$photo"
[ -f "$camera" ] || "$maker" camera "$camera" $camera_size 10 row
[ -f "$batch/.done" ] || { rm -rf "$batch"; "$maker" batch "$batch" $batch_count $camera_size 10 row && touch "$batch/.done"; }
if [ $passes -eq 1 ]; then
  exec "$build/bench/plume-bench-passes" --runs "$runs" "$photo" "$camera" "$batch"
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The orientations are read once, before any timing: jpegtran turns the
# files that need it, as plume does.
orientations="$work/orientations"
exiftool -q -m -T -n -filename -Orientation "$batch"/*.jpg > "$orientations" 2>/dev/null || true
jpegtran_batch() {
  mkdir -p "$work/jt"
  awk '$2 == 6 || $2 == 8 || $2 == 3 {print $1, $2}' "$orientations" |
    xargs -P "$cores" -n 2 sh -c 'case $4 in 6) r=90 ;; 8) r=270 ;; *) r=180 ;; esac
      exec jpegtran -rotate $r -copy all -outfile "$1/jt/$3" "$2/$3"' _ "$work" "$batch"
}
plume_batch() {
  rm -rf "$batch/result"
  "$cli" --save-method result --no-all "$batch"
}
export -f jpegtran_batch plume_batch
export batch work cli orientations cores

median() { sort -g | awk '{v[NR]=$1} END {print (NR%2 ? v[(NR+1)/2] : (v[NR/2]+v[NR/2+1])/2)}'; }

printf 'photo: %s pixels, %s bytes (progressive: %s bytes); camera photo: %s pixels, %s bytes; batch: %s camera photos; %s cores\n' \
  "${photo_size/ /x}" "$(stat -c %s "$photo")" "$(stat -c %s "$progressive")" "${camera_size/ /x}" \
  "$(stat -c %s "$camera")" "$batch_count" "$cores"
header() {  # what A is, what B is
  printf '%-30s %18s %18s %12s %11s\n' "" "$1" "$2" "$1/$2" "MB"
  printf '%-30s %8s %9s %8s %9s %6s %5s %5s %5s %6s\n' case "wall s" "cpu s" "wall s" "cpu s" wall cpu \
    "${1:0:5}" "${2:0:5}" memory
}
run_case() {
  local name="$1" a="$2" b="$3"
  : > "$work/a"; : > "$work/b"
  for ((i = 0; i < runs; i++)); do
    "$measure" bash -c "$a" >> "$work/a" || { echo "failed: $a" >&2; return 1; }
    "$measure" bash -c "$b" >> "$work/b" || { echo "failed: $b" >&2; return 1; }
  done
  local wa ca ma wb cb mb
  wa=$(cut -d' ' -f1 "$work/a" | median); ca=$(cut -d' ' -f2 "$work/a" | median); ma=$(cut -d' ' -f3 "$work/a" | median)
  wb=$(cut -d' ' -f1 "$work/b" | median); cb=$(cut -d' ' -f2 "$work/b" | median); mb=$(cut -d' ' -f3 "$work/b" | median)
  awk -v n="$name" -v wa="$wa" -v ca="$ca" -v ma="$ma" -v wb="$wb" -v cb="$cb" -v mb="$mb" 'BEGIN {
    printf "%-30s %8.3f %9.3f %8.3f %9.3f %6.2f %5.2f %5.1f %5.1f %6.2f\n", n, wa, ca, wb, cb,
      (wb > 0 ? wa / wb : 0), (cb > 0 ? ca / cb : 0), ma / 1024, mb / 1024, (mb > 0 ? ma / mb : 0) }'
}
turn() {  # name, input, plume mode, jpegtran arguments[, plume options]
  run_case "$1" "exec \"\$cli\" ${5:-} --mode $3 -o \"\$work/p.jpg\" \"$2\"" "exec jpegtran $4 -copy all -outfile \"\$work/j.jpg\" \"$2\""
}
size() { stat -c %s "$1"; }

header plume jpegtran
turn "photo mode 1 (rotate 90)" "$photo" 1 "-rotate 90"
turn "photo mode 2 (rotate 270)" "$photo" 2 "-rotate 270"
turn "photo mode 3 (rotate 180)" "$photo" 3 "-rotate 180"
turn "photo mode 0 (copy)" "$photo" 0 ""
turn "progressive mode 1 (rot. 90)" "$progressive" 1 "-progressive -rotate 90" --any-jpeg
progressive_sizes="$(size "$work/p.jpg") $(size "$work/j.jpg")"
turn "camera mode 1 (rotate 90)" "$camera" 1 "-rotate 90"
turn "camera mode 2 (rotate 270)" "$camera" 2 "-rotate 270"
turn "camera mode 3 (rotate 180)" "$camera" 3 "-rotate 180"
run_case "batch of $batch_count, $cores at once" "plume_batch" "jpegtran_batch"

# What tables made for the output cost: A is plume --optimize, B plume.
echo
header optimize plume
run_case "photo mode 1 (rotate 90)" \
  "exec \"\$cli\" --optimize --mode 1 -o \"\$work/p.jpg\" \"$photo\"" \
  "exec \"\$cli\" --mode 1 -o \"\$work/j.jpg\" \"$photo\""
jpegtran -rotate 90 -copy all -outfile "$work/jt.jpg" "$photo"
jpegtran -optimize -rotate 90 -copy all -outfile "$work/jto.jpg" "$photo"
echo
echo "output bytes, photo mode 1: plume $(size "$work/j.jpg"), plume --optimize $(size "$work/p.jpg"),\
 jpegtran $(size "$work/jt.jpg"), jpegtran -optimize $(size "$work/jto.jpg")"
read -r p j <<<"$progressive_sizes"
echo "output bytes, progressive mode 1: plume --any-jpeg $p, jpegtran -progressive $j"
echo "goals: progressive plume/jpegtran cpu <= 0.70, wall <= 0.50, memory <= 0.60;" \
  "optimize/plume wall and cpu <= 1.30"
