#!/usr/bin/env bash
# Installs what the toolkit needs to build and test on Debian 12.
# Only packages that are missing are installed; apt lists are refreshed first.
set -euo pipefail

PACKAGES=(
  build-essential cmake ninja-build pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  qt6-base-dev qt6-base-dev-tools libqt6opengl6-dev qt6-translations-l10n
  xvfb xauth x11-apps imagemagick fonts-dejavu-core
  clang libclang-rt-14-dev clang-format
  qt6-charts-dev libxlsxwriter-dev libfreexl-dev libminizip-dev
  libreoffice-calc-nogui python3-openpyxl python3-xlrd
)

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

SUDO=()
if [ "$(id -u)" -ne 0 ]; then
  command -v sudo >/dev/null || { echo "setup: these packages are missing and there is no sudo: ${missing[*]}" >&2; exit 1; }
  SUDO=(sudo)
fi
echo "setup: installing ${missing[*]}"
"${SUDO[@]}" apt-get update -q
DEBIAN_FRONTEND=noninteractive "${SUDO[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
