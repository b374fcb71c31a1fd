#!/usr/bin/env bash
# Builds the image fuzz target with libFuzzer and AddressSanitizer (and
# UndefinedBehaviorSanitizer), and optionally runs it.
#   tools/fuzz_hub/build.sh [OUT_DIR] [--run SECONDS]
# The binary is OUT_DIR/fuzz_hub (default <repo>/build-fuzz-hub); a run keeps
# its corpus in OUT_DIR/corpus and any crash input in OUT_DIR.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
out="$root/build-fuzz-hub"
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
"${CXX:-clang++}" -std=c++20 -O1 -g -Wall -Wextra -Wpedantic \
  -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer \
  -I"$core" -I"$texts" \
  "$here/fuzz_hub.cpp" "$core/HubData.cpp" "$core/TareRows.cpp" "$core/TareMessages.cpp" "$core/NumberText.cpp" \
  "$texts/Unit_texts.cpp" \
  -o "$out/fuzz_hub"
echo "built $out/fuzz_hub"
if [ -n "$run" ]; then
  mkdir -p "$out/corpus"
  cd "$out"
  # Whole-image seeds, so that the run starts from 65536-byte images and not
  # only from damaged heads of the default image: random bytes, and an image
  # whose Size, record Size and TableLen all claim 65535.
  if [ ! -e corpus/seed-random ]; then
    head -c 65536 /dev/urandom > corpus/seed-random
    { printf '\xff\xff\x00\x00\x01\x03\x01\x00\x01\x00\x00\x00\x00\x00\x00\x00'
      printf '\xff\xff\x01\x00\x00\x00\xff\xff\x0a\x00'; } > corpus/seed-claims
    truncate -s 65536 corpus/seed-claims
  fi
  # Without -len_control=0 libFuzzer grows inputs slowly and a short run never
  # reaches whole images.
  ./fuzz_hub -max_len=65536 -len_control=0 -max_total_time="$run" -print_final_stats=1 corpus
fi
