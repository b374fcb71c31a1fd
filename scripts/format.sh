#!/usr/bin/env bash
# format.sh [--check]: formats every C++ file of the toolkit with .clang-format.
# With --check it changes nothing and lists the files that differ (exit 1).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
mapfile -t files < <(git ls-files '*.cpp' '*.h')
if [ "${1:-}" = "--check" ]; then
  bad=0
  for f in "${files[@]}"; do
    clang-format "$f" | cmp -s - "$f" || { echo "$f"; bad=1; }
  done
  exit $bad
fi
clang-format -i "${files[@]}"
