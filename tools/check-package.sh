#!/usr/bin/env bash
# Checks a plume Debian package: its control fields (Depends on Qt and the
# JPEG library, Recommends a Japanese font), that it holds every file (the
# message catalogues included, and that the program finds them),
# that its desktop entry, AppStream entry and manual pages (English and
# Japanese) are valid, that its plume-cli runs and that its bash completion
# completes.
#
#   tools/check-package.sh build/plume_<version>_<arch>.deb
#
# Needs dpkg-dev, desktop-file-utils, appstream and groff-base (tools/package.sh
# installs them); where man-db is installed, the Japanese pages also go
# through its man.
set -euo pipefail
deb=$(realpath "$1")
here=$(dirname "$(realpath "$0")")
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT

fail() {
  echo "check-package: $*" >&2
  exit 1
}
# Runs a checker; anything it prints counts as a failure.
quiet_or_fail() {
  local said
  said=$("$@" 2>&1) || fail "$1 failed:"$'\n'"$said"
  [ -z "$said" ] || fail "$1 warns:"$'\n'"$said"
}

field() { dpkg-deb --field "$deb" "$1"; }
[ "$(field Section)" = graphics ] || fail "Section is $(field Section), not graphics"
depends=$(field Depends)
for library in libqt6core6 libqt6gui6 libqt6widgets6 jpeg; do
  [[ $depends == *"$library"* ]] || fail "Depends names no $library: $depends"
done
# A font for the window's Japanese texts: one entry of Recommends, either
# font.
fonts="fonts-ipafont-gothic | fonts-noto-cjk"
recommends=$(field Recommends)
tr ',' '\n' <<<"$recommends" | sed 's/^ *//; s/ *$//' | grep -qxF -- "$fonts" ||
  fail "Recommends does not name '$fonts': '$recommends'"

dpkg-deb -x "$deb" "$root"
share=$root/usr/share
files=(
  usr/bin/plume usr/bin/plume-cli
  usr/share/applications/plume.desktop
  usr/share/icons/hicolor/scalable/apps/plume.svg
  usr/share/icons/hicolor/128x128/apps/plume.png
  usr/share/metainfo/com.tidecrest.plume.metainfo.xml
  usr/share/man/man1/plume.1.gz usr/share/man/man1/plume-cli.1.gz
  usr/share/man/ja/man1/plume.1.gz usr/share/man/ja/man1/plume-cli.1.gz
  usr/share/bash-completion/completions/plume-cli
  usr/share/locale/en/LC_MESSAGES/plume.mo usr/share/locale/ja/LC_MESSAGES/plume.mo
)
for file in "${files[@]}"; do
  [ -f "$root/$file" ] || fail "the package holds no /$file"
done

icon=$share/icons/hicolor/128x128/apps/plume.png
file "$icon" | grep -q 'PNG image data, 128 x 128' || fail "$(file "$icon")"
quiet_or_fail desktop-file-validate "$share/applications/plume.desktop"
appstreamcli validate --no-net "$share/metainfo/com.tidecrest.plume.metainfo.xml" >/dev/null ||
  fail "$(appstreamcli validate --no-net --explain "$share/metainfo/com.tidecrest.plume.metainfo.xml")"
# The AppStream entry's launchable, icon and binaries, as installed.
appstreamcli validate-tree --no-net "$root" >/dev/null ||
  fail "$(appstreamcli validate-tree --no-net --explain "$root")"

# Every warning, without output (-z) and on the devices of a terminal and of
# plain ASCII, where a missing glyph shows.
render() { zcat "$2" | groff -man -ww "$1" >/dev/null; }
for page in plume plume-cli; do
  for device in -z -Tutf8 -Tascii; do
    quiet_or_fail render "$device" "$share/man/man1/$page.1.gz"
  done
done
# The Japanese pages as man-db's man formats a page under man/ja: the UTF-8
# text through preconv -e UTF-8, ja.tmac (man's .mso ja.tmac) for where a
# Japanese line may break, and nroff's -mtty-char -mandoc -Tutf8. -z stops
# after troff, the full render runs grotty too; neither PostScript (groff
# -z's own device) nor ASCII has Japanese glyphs.
format_ja() { zcat "$1" | preconv -e UTF-8 | groff -mtty-char -mandoc -mja -Tutf8 "${@:2}"; }
render_ja() { format_ja "$2" -ww "$1" >/dev/null; }
# And man itself, where it is installed, as a Japanese user's terminal of 80
# columns shows the page; --warnings=w asks for every warning, as -ww.
man_ja() { LC_ALL=C.UTF-8 MANWIDTH=80 MANOPT='' man --warnings=w -l "$1" >/dev/null; }
for page in plume plume-cli; do
  for pass in -z -Tutf8; do
    quiet_or_fail render_ja "$pass" "$share/man/ja/man1/$page.1.gz"
  done
  if command -v man >/dev/null; then
    quiet_or_fail man_ja "$share/man/ja/man1/$page.1.gz"
  fi
done

version=$(field Version)
said=$("$root/usr/bin/plume-cli" --version)
[[ $said == *"$version"* ]] || fail "plume-cli --version says '$said', the package is $version"

# The installed catalogues speak: Japanese under a Japanese locale, English
# under any other, from the files beside the installed program.
said=$(LANGUAGE= LC_ALL=ja_JP.UTF-8 "$root/usr/bin/plume-cli" --frobnicate x.jpg 2>&1 || true)
[[ $said == *"不明なオプション"* ]] || fail "plume-cli says under ja_JP.UTF-8: $said"
said=$(LANGUAGE= LC_ALL=de_DE.UTF-8 "$root/usr/bin/plume-cli" --help)
[[ $said == "Usage: plume-cli"* ]] || fail "plume-cli --help under de_DE.UTF-8 says: ${said:0:80}"

"$here/check-completion.sh" "$share/bash-completion/completions/plume-cli"

# Every option that the completion offers is described by --help and the
# manual pages, English and Japanese (rendered wide and unhyphenated, so that
# none is split).
options=$(
  # shellcheck source=/dev/null
  source "$share/bash-completion/completions/plume-cli"
  # shellcheck disable=SC2154 # the two lists come from the completion file
  printf '%s\n' "${_plume_cli_flags[@]}" "${_plume_cli_valued[@]}"
)
help=$("$root/usr/bin/plume-cli" --help)
page=$(zcat "$share/man/man1/plume-cli.1.gz" | groff -man -Tascii -P -cbou -rLL=200n -rHY=0)
page_ja=$(format_ja "$share/man/ja/man1/plume-cli.1.gz" -P -cbou -rLL=200n -rHY=0)
for option in $options; do
  word="(^|[^-[:alnum:]])$option([^-[:alnum:]]|\$)"
  grep -Eq -- "$word" <<<"$help" || fail "plume-cli --help does not name $option"
  grep -Eq -- "$word" <<<"$page" || fail "the manual page plume-cli(1) does not name $option"
  # Bytewise, so that a Japanese character beside an option is a boundary.
  LC_ALL=C grep -Eq -- "$word" <<<"$page_ja" || fail "the Japanese manual page plume-cli(1) does not name $option"
done
echo "Package checked: $deb"
