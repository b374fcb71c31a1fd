#!/usr/bin/env bash
# build_fuzz.sh [out-dir] [seconds]: builds the libFuzzer target for the
# loader's frame decoder with clang and runs it for a while (default 60 s).
# Not part of CI.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
out=${1:-$root/build-fuzz-loader}
seconds=${2:-60}
mkdir -p "$out/corpus"
clang++ -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined \
  -I"$root/loader" \
  "$here/fuzz_decode_frame.cpp" "$root/loader/ldr_link.cpp" "$root/loader/ldr_event.cpp" \
  -o "$out/fuzz_ldr_decode_frame"
# Seeds: the connect frame and a frame with every escape.
printf '\x02\x00\xff\x10\x10\xf0\x03' > "$out/corpus/connect"
printf '\x02\x10\x00\x10\x01\x10\x10\xea\x03' > "$out/corpus/escapes"
"$out/fuzz_ldr_decode_frame" -max_total_time="$seconds" -max_len=4200 "$out/corpus"
