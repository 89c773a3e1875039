#!/usr/bin/env bash
# Gathers every text marked Msg("...") in the sources into po/plume.pot and
# brings each language's catalogue (po/LANG.po) up to it; new texts come in
# untranslated, texts no longer used are kept as obsolete. Run it after
# changing a text, then translate what msgmerge left empty or fuzzy.
#
#   tools/update-messages.sh          write po/plume.pot and update po/*.po
#   tools/update-messages.sh --check  fail when po/plume.pot is not up to date
set -euo pipefail
cd "$(dirname "$0")/.."
pot=$(mktemp)
trap 'rm -f "$pot"' EXIT
# The texts are Japanese (and a few English): xgettext's advice to keep
# them ASCII does not apply. The date is left out, so that the file changes
# only with the texts.
git ls-files -- 'src/*.h' 'src/*.cpp' | LC_ALL=C sort |
  xargs xgettext --language=C++ --from-code=UTF-8 --keyword=Msg --flag=Msg:1:c-format \
    --sort-output --no-location --no-wrap --package-name=plume --msgid-bugs-address= -o - 2>/dev/null |
  sed '/^"POT-Creation-Date:/d' >"$pot"
if [ "${1:-}" = --check ]; then
  if ! diff -q "$pot" po/plume.pot >/dev/null; then
    echo "po/plume.pot is not up to date with the sources: run tools/update-messages.sh" >&2
    diff -u po/plume.pot "$pot" | head -40 >&2
    exit 1
  fi
  exit 0
fi
cp "$pot" po/plume.pot
while read -r language; do
  case "$language" in ''|'#'*) continue ;; esac
  [ -f "po/$language.po" ] || msginit --no-translator --no-wrap --locale="$language" -i po/plume.pot -o "po/$language.po"
  msgmerge --quiet --update --backup=none --no-wrap "po/$language.po" po/plume.pot
done < po/LINGUAS
