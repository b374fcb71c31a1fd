#!/usr/bin/env bash
# Builds the two workbook fuzz targets (fuzz_xlsx, fuzz_xls) with libFuzzer,
# AddressSanitizer and UndefinedBehaviorSanitizer, and optionally runs each.
#   tools/fuzz_xls/build.sh [OUT_DIR] [--run SECONDS]
# KL_FUZZ_TARGETS="fuzz_xls" builds and runs only that one.
# The binaries land in OUT_DIR (default <repo>/build-fuzz-xls); a run keeps
# each target's corpus in OUT_DIR/corpus-<target> and any crash input in
# OUT_DIR. The libraries behind the readers (Qt Core, minizip, FreeXL) are the
# system's, not instrumented: their own accesses are checked only where they
# touch our buffers, but every byte they hand us is.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
out="$root/build-fuzz-xls"
run=""
while [ $# -gt 0 ]; do
  case "$1" in
    --run) run="$2"; shift 2 ;;
    *) out="$1"; shift ;;
  esac
done
mkdir -p "$out"
core="$root/service_tool/calibration"
texts="$root/service_tool/engine/texts"
sources=("$core/Unit_xls.cpp" "$core/Workbook.cpp" "$core/XlsxRead.cpp" "$core/XlsxWrite.cpp" "$core/XlsRead.cpp"
  "$core/XlsWrite.cpp" "$core/HubData.cpp" "$core/TareRows.cpp" "$core/TareMessages.cpp" "$core/NumberText.cpp"
  "$texts/Unit_texts.cpp")
flags=(-std=c++20 -O1 -g -fPIC -Wall -Wextra -Wpedantic -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all
  -fno-omit-frame-pointer -I"$core" -I"$texts")
# shellcheck disable=SC2207
deps=($(pkg-config --cflags --libs Qt6Core minizip freexl xlsxwriter))
for target in ${KL_FUZZ_TARGETS:-fuzz_xlsx fuzz_xls}; do
  "${CXX:-clang++}" "${flags[@]}" "$here/$target.cpp" "${sources[@]}" "${deps[@]}" -o "$out/$target"
  echo "built $out/$target"
done
if [ -n "$run" ]; then
  cd "$out"
  for target in ${KL_FUZZ_TARGETS:-fuzz_xlsx fuzz_xls}; do
    corpus="corpus-$target"
    mkdir -p "$corpus"
    # The first run writes seed workbooks of our own writers into the corpus.
    [ -n "$(ls -A "$corpus")" ] || KL_FUZZ_SEEDS="$corpus" "./$target" -runs=0 "$corpus" >/dev/null 2>&1 || true
    # FreeXL leaks what it reserved on some damaged files (bounded per file by
    # our checks, but adding up over a run), so the run works in a child
    # process that is restarted when it runs out of memory; a single
    # allocation above 1 GiB still counts as a finding.
    "./$target" -fork=1 -ignore_ooms=1 -max_len=65536 -rss_limit_mb=2048 -malloc_limit_mb=1024 -timeout=20 \
      -max_total_time="$run" -print_final_stats=1 "$corpus"
  done
fi
