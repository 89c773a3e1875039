#!/usr/bin/env bash
# Installs what is missing, builds in Release and runs plume.
#
#   ./run.sh [FILES OR FOLDERS]
#
# With a display: the window `plume`, which handles the given files or
# folders and then closes, or waits for drops when given none.
# Without a display: the console program `plume-cli` on the given files or
# folders; given none, it makes a demo folder of turned photos (EXIF
# orientations 1, 3, 6 and 8, with thumbnails) and turns them upright into
# its "result" folder.
set -euo pipefail
cd "$(dirname "$0")"
tools/ensure-deps.sh
tools/build.sh
build="${PLUME_BUILD_DIR:-build}"
cli="$build/src/cli/plume-cli"
window="$build/src/gui/plume"

# Writes an upright picture as PPM: sky above, ground below, an arrow that
# points up and a block in the upper-left corner.
write_upright_picture() {
  perl -e '
    my ($w, $h) = (320, 240);
    print "P6\n$w $h\n255\n";
    for my $y (0 .. $h - 1) {
      for my $x (0 .. $w - 1) {
        my @c = $y < 150 ? (90 + $y / 3, 150 + $y / 3, 235) : (70, 140 - ($y - 150) / 2, 50);
        my $dx = abs($x - 160);
        @c = (240, 240, 240) if ($y >= 40 && $y < 100 && $dx <= ($y - 40))
                             || ($y >= 100 && $y < 210 && $dx <= 18);
        @c = (220, 40, 40) if $x < 64 && $y < 48;
        print pack("C3", @c);
      }
    }' > "$1"
}

# make_demo FOLDER: one photo per orientation, stored turned the way a camera
# held sideways or upside down stores it, so that viewers that honour the
# orientation show it upright. The EXIF segment follows SOI directly.
make_demo() {
  local folder=$1 work
  work=$(mktemp -d)
  mkdir -p "$folder"
  write_upright_picture "$work/upright.ppm"
  cjpeg -quality 90 -outfile "$work/upright.jpg" "$work/upright.ppm"
  # Orientation -> the jpegtran turn that gives the stored picture.
  local -A stored_turn=([1]="" [3]="-rotate 180" [6]="-rotate 270" [8]="-rotate 90")
  for orientation in 1 3 6 8; do
    local photo="$folder/orientation_$orientation.jpg"
    # shellcheck disable=SC2086
    jpegtran -perfect -copy none ${stored_turn[$orientation]} -outfile "$photo" "$work/upright.jpg"
    djpeg -scale 1/4 "$photo" | cjpeg -quality 80 -outfile "$work/thumb.jpg"
    exiftool -q -overwrite_original -JFIF:all= -Make=plume -Model=demo \
      "-IFD0:Orientation#=$orientation" "-ThumbnailImage<=$work/thumb.jpg" "$photo"
  done
  rm -rf "$work"
}

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  if [ -x "$window" ]; then
    exec "$window" "$@"
  fi
  echo "The window is not built yet; running the console program." >&2
fi

if [ $# -gt 0 ]; then
  exec "$cli" "$@"
fi

demo="$build/demo"
rm -rf "$demo"
make_demo "$demo"
echo "Demo photos: $demo"
status=0
"$cli" --save-method result "$demo" || status=$?
echo "Results (upright, EXIF orientation 1): $demo/result"
exit "$status"
