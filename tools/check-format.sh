#!/usr/bin/env bash
# Checks that every C++ source and header of the tree is formatted as the
# committed .clang-format says, with clang-format 14 (other versions format
# some constructs differently). With --fix it formats them in place instead.
#
#   tools/check-format.sh [--fix]
set -euo pipefail
cd "$(dirname "$0")/.."

fix=0
case "${1:-}" in
  "") ;;
  --fix) fix=1 ;;
  *) echo "usage: tools/check-format.sh [--fix]" >&2; exit 2 ;;
esac

format=$(command -v clang-format-14 || true)
if [ -z "$format" ]; then
  echo "clang-format-14 not found (tools/ensure-deps.sh installs it)" >&2
  exit 1
fi

# The files git tracks, or in an unpacked source tree every one below the
# source folders.
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  mapfile -t files < <(git ls-files -- '*.cpp' '*.h')
else
  mapfile -t files < <(find src tests bench fuzz -name '*.cpp' -o -name '*.h' | sort)
fi

if [ $fix -eq 1 ]; then
  "$format" -i "${files[@]}"
  exit 0
fi
if ! "$format" --dry-run --Werror "${files[@]}"; then
  echo "Formatting differs from .clang-format: tools/check-format.sh --fix formats the files." >&2
  exit 1
fi
echo "Formatting: ${#files[@]} files as .clang-format says."
