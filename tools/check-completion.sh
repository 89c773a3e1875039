#!/usr/bin/env bash
# Checks the bash completion of plume-cli: what it offers for options, their
# values and file names, as bash would ask it on the press of Tab. Twice:
#
# - as installed, in a shell that has loaded the bash-completion package, as
#   Debian's ~/.bashrc does. That package loads the file on the first Tab
#   after plume-cli, from its completions folder and from inside a function;
#   here the folder is the one it reads first, $BASH_COMPLETION_USER_DIR.
# - sourced on its own, as a ~/.bashrc does where that package is missing.
#
#   tools/check-completion.sh [COMPLETION-FILE]    (default: data/bash-completion/plume-cli)
#
# Needs the bash-completion package (tools/ensure-deps.sh installs it).
set -euo pipefail
here=$(dirname "$(realpath "$0")")
file=$(realpath "${1:-$here/../data/bash-completion/plume-cli}")
bash_completion=/usr/share/bash-completion/bash_completion
if [ ! -r "$bash_completion" ]; then
  echo "check-completion: no $bash_completion: install bash-completion (tools/ensure-deps.sh)" >&2
  exit 1
fi

folder=$(mktemp -d)
trap 'rm -rf "$folder"' EXIT
mkdir -p "$folder/user/completions" "$folder/work"
installed=$folder/user/completions/plume-cli
cp "$file" "$installed"
said=$folder/said
cd "$folder/work"
mkdir photos
touch a.jpg B.JPG "my photo.jpg" notes.txt

# call "complete ... -F FUNCTION ...": runs FUNCTION as bash runs it, with the
# command, the word being completed and the one before it; what it prints
# goes to $said (bash would print it over the command line).
call() {
  local function=${1#* -F }
  function=${function%% *}
  "$function" plume-cli "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}" 2>>"$said"
}

# tab WORD...: what bash does on Tab after "plume-cli WORD...", the last
# word being the one completed. It runs the completion defined for plume-cli;
# with none, the default one (complete -D, bash-completion's loader), which
# returns 124 once it has defined one, and then that. Fails if there is none.
tab() {
  local completion
  COMP_WORDS=(plume-cli "$@")
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  COMP_LINE=${COMP_WORDS[*]}
  COMP_POINT=${#COMP_LINE}
  COMP_TYPE=9
  COMP_KEY=9
  COMPREPLY=()
  if ! completion=$(complete -p plume-cli 2>/dev/null); then
    completion=$(complete -p -D 2>/dev/null) || return 1
    call "$completion"
    [ $? -eq 124 ] || return 1
    completion=$(complete -p plume-cli 2>/dev/null) || return 1
  fi
  # Its status means nothing to bash (but 124); what it prints does.
  call "$completion" || true
}

failures=0
report() {
  echo "check-completion ($how): $*" >&2
  failures=$((failures + 1))
}

# expect "WORDS BEFORE THE CURSOR" "CURRENT WORD" OFFER...: bash splits
# "--name=value" at the "=" into three words. Nothing may be printed.
expect() {
  local line=$1 typed=$2 words got wanted where
  shift 2
  read -ra words <<<"$line"
  where="Tab after 'plume-cli ${line:+$line }$typed'"
  : >"$said"
  if ! tab "${words[@]}" "$typed"; then
    report "$where finds no completion for plume-cli"
    return
  fi
  # One offer a line, each quoted in the report (names hold spaces).
  got=$(printf '%s\n' "${COMPREPLY[@]}" | sort)
  wanted=$(printf '%s\n' "$@" | sort)
  [ "$got" = "$wanted" ] || report "$where offers $(quoted "$got"), not $(quoted "$wanted")"
  [ ! -s "$said" ] || report "$where prints: $(<"$said")"
}
quoted() {
  local offer text=""
  [ -n "$1" ] || {
    echo nothing
    return
  }
  while IFS= read -r offer; do text+="${text:+ }'$offer'"; done <<<"$1"
  echo "$text"
}

expectations() {
  expect "" "--sa" --save-method
  expect "" "--no-k" --no-keep-created --no-keep-modified
  expect "" "--dr" --dry-run
  expect "" "-" -- --all --allow-break-dcf --any-jpeg --dry-run --edges --exif-anywhere --help \
    --jobs --keep-created --keep-modified --mirrored --mode --no-all --no-allow-break-dcf \
    --no-any-jpeg --no-exif-anywhere --no-keep-created --no-keep-modified --no-mirrored \
    --no-optimize --optimize --output --save-method --stop-on-error --version -h -j -n -o
  expect "" "--an" --any-jpeg
  expect "" "--no-o" --no-optimize
  expect "--save-method" "" bak original overwrite recycle result
  expect "--save-method" "o" original overwrite
  expect "--save-method =" "re" recycle result
  expect "--all --save-method" "=" bak original overwrite recycle result
  expect "--mode" "" 0 1 2 3 4 5 6 7
  expect "--mode =" "7" 7
  expect "--edges" "" move skip trim
  expect "--edges =" "t" trim
  expect "" "--mi" --mirrored
  expect "--jobs" ""
  # Operands: folders and the files plume-cli takes; after -o, any file.
  expect "" "" B.JPG a.jpg "my photo.jpg" photos
  expect "--all" "ph" photos
  expect "--edges trim" "m" "my photo.jpg"
  expect "-o" "" B.JPG a.jpg "my photo.jpg" notes.txt photos
  expect "--" "" B.JPG a.jpg "my photo.jpg" photos
}

# Each in a shell of its own with the options of an interactive one.
(
  how="loaded by bash-completion"
  set +o errexit +o nounset +o pipefail
  export BASH_COMPLETION_USER_DIR=$folder/user BASH_COMPLETION_USER_FILE=/dev/null
  # shellcheck source=/dev/null
  . "$bash_completion"
  completion=$(complete -p plume-cli 2>/dev/null) &&
    report "plume-cli has a completion before bash-completion loads one: $completion"
  expectations
  # The functions are those of the file checked, not of a plume installed here.
  shopt -s extdebug
  read -r _ _ origin < <(declare -F _plume_cli)
  [ "$origin" = "$installed" ] || report "_plume_cli comes from '$origin', not $installed"
  exit $((failures > 0))
) || failures=$((failures + 1))
(
  how="sourced"
  set +o errexit +o nounset +o pipefail
  # shellcheck source=/dev/null
  . "$file"
  expectations
  exit $((failures > 0))
) || failures=$((failures + 1))

[ "$failures" -eq 0 ] || exit 1
echo "Completion checked"
