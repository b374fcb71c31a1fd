// libFuzzer target: any bytes from the line handed to the frame decoder.
// Built by build_fuzz.sh, not by CMake.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "ldr_link.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static LdrLink link;
  const size_t copy = size < sizeof link.rx ? size : sizeof link.rx;
  std::memcpy(link.rx, data, copy);
  // Lengths beyond the buffer are passed on as received: the decoder must
  // refuse them without reading past it.
  size_t payload_length = 0;
  const int r = ldr_decode_frame(link, size, &payload_length);
  if (r == 0) {
    if (payload_length >= LDR_PAYLOAD_SIZE) std::abort();
    // What decodes must encode back to a frame that decodes the same.
    LdrLink again;
    std::memcpy(again.payload, link.payload, payload_length);
    const size_t n = ldr_encode_frame(again, payload_length);
    std::memcpy(again.rx, again.tx, n);
    size_t back = 0;
    if (ldr_decode_frame(again, n, &back) != 0 || back != payload_length ||
        std::memcmp(again.payload, link.payload, payload_length) != 0)
      std::abort();
  } else if (r != LDR_ERR_EXCHANGE) {
    std::abort();
  }
  return 0;
}
