#!/usr/bin/env bash
# Builds the receiver fuzz target with clang's libFuzzer and AddressSanitizer.
#   tools/fuzz_link/build.sh [out-dir]      then   <out-dir>/fuzz_link -max_total_time=60 corpus/
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
out=${1:-$root/build-fuzz}
mkdir -p "$out"
clang++ -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all \
  -I "$root/service_tool/link" \
  "$here/fuzz_receiver.cpp" "$root/service_tool/link/uart_frames.cpp" \
  -o "$out/fuzz_link"
echo "built $out/fuzz_link"
