#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine, builds everything and runs every test.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
bash "$here/scripts/setup.sh"
bash "$here/scripts/build.sh" "$here/build"
export QT_QPA_PLATFORM=offscreen
cd "$here/build"
ctest --output-on-failure -j2 --timeout 600
