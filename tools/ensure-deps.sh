#!/usr/bin/env bash
# Installs, with apt-get, the Debian packages that building, running and
# testing plume need and that this machine does not have yet; packages named
# as arguments are added to them (tools/package.sh, tools/screenshot.sh).
#
#   tools/ensure-deps.sh [PACKAGE...]
set -euo pipefail

packages=(
  cmake g++ make pkg-config gettext clang-format-14
  libgtest-dev libgmock-dev libbenchmark-dev
  libjpeg62-turbo-dev libjpeg-turbo-progs libimage-exiftool-perl
  qt6-base-dev fonts-ipafont-gothic xvfb xauth
  bash-completion
  "$@"
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
if [ "$(id -u)" -eq 0 ]; then sudo=""; else sudo="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
