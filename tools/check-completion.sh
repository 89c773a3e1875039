#!/usr/bin/env bash
# Checks the bash completion of plume-cli: what it offers for options, their
# values and file names, as bash would ask it on the press of Tab.
#
#   tools/check-completion.sh [COMPLETION-FILE]    (default: data/bash-completion/plume-cli)
set -euo pipefail
here=$(dirname "$(realpath "$0")")
# shellcheck source=/dev/null
source "${1:-$here/../data/bash-completion/plume-cli}"

folder=$(mktemp -d)
trap 'rm -rf "$folder"' EXIT
cd "$folder"
mkdir photos
touch a.jpg B.JPG notes.txt

failures=0
# expect "WORDS BEFORE THE CURSOR" "CURRENT WORD" "OFFERS..." (sorted, space-separated)
expect() {
  # bash splits "--name=value" at the "=" into three words.
  local line=$1 cur=$2 wanted=$3 got
  read -ra COMP_WORDS <<<"plume-cli $line"
  COMP_WORDS+=("$cur")
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  _plume_cli
  got=$(printf '%s\n' "${COMPREPLY[@]}" | sort | xargs)
  if [ "$got" != "$wanted" ]; then
    echo "completion of 'plume-cli $line $cur': got '$got', wanted '$wanted'" >&2
    failures=$((failures + 1))
  fi
}

expect "" "--sa" "--save-method"
expect "" "--no-k" "--no-keep-created --no-keep-modified"
expect "" "--dr" "--dry-run"
expect "" "-" "-- --all --allow-break-dcf --dry-run --edges --exif-anywhere --help --jobs \
--keep-created --keep-modified --mirrored --mode --no-all --no-allow-break-dcf --no-exif-anywhere \
--no-keep-created --no-keep-modified --no-mirrored --output --save-method --stop-on-error \
--version -h -j -n -o"
expect "--save-method" "" "bak original overwrite recycle result"
expect "--save-method" "o" "original overwrite"
expect "--save-method =" "re" "recycle result"
expect "--all --save-method" "=" "bak original overwrite recycle result"
expect "--mode" "" "0 1 2 3 4 5 6 7"
expect "--edges" "" "move skip trim"
expect "--edges =" "t" "trim"
expect "" "--mi" "--mirrored"
expect "--jobs" "" ""
# Operands: folders and the files plume-cli takes; after -o, any file.
expect "" "" "B.JPG a.jpg photos"
expect "--all" "ph" "photos"
expect "-o" "" "B.JPG a.jpg notes.txt photos"
expect "-- " "" "B.JPG a.jpg photos"

[ "$failures" -eq 0 ] || exit 1
echo "Completion checked"
