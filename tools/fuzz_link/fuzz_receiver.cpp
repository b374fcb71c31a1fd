// libFuzzer target: the receiver's byte-by-byte answer recognition over
// whatever a line might deliver. Each input is split into consecutive
// answers the way the I/O thread would see them; nothing may read outside
// the receive buffer, and every finish must be a result code.
#include <cstdlib>
#include <cstring>
#include <vector>

#include "Unit_uart.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kl;
  // The buffer is exactly the receiver's size, so ASan sees any overrun.
  std::vector<uint8_t> rx(kUartRxBufferSize);
  UartAnswerFields fields;
  size_t at = 0;
  while (at < size) {
    size_t count = 0;
    int code = kUartNeedMore;
    while (at < size && code == kUartNeedMore) {
      rx[count++] = data[at++];
      bool isEcho = false;
      code = UartReceiverStep(rx.data(), count, rx.size(), &fields, &isEcho);
      if (code != kUartNeedMore && (code < LINK_OK || code > LINK_BAD_ANSWER)) std::abort();
      if (code == kUartNeedMore && count >= rx.size()) std::abort();
      if (code == LINK_OK && isEcho && fields.value1 * kUartEchoBlockSize > count + 3) std::abort();
    }
    // The line went quiet here: an unfinished answer is LINK_BAD_LENGTH.
  }
  // A request frame built from the same bytes must fit the transmit buffer.
  if (size >= 1) {
    UartRequest r;
    r.command = data[0];
    r.address = size > 1 ? data[1] : 0;
    std::memcpy(&r.value, data + (size > 5 ? 2 : 0), size > 5 ? 4 : 0);
    uint8_t tx[kUartTxBufferSize];
    const size_t n = UartBuildRequest(r, tx);
    if (n > kUartTxBufferSize) std::abort();
    if (n && tx[n - 1] != UartCrc8(n - 1, tx)) std::abort();
  }
  return 0;
}
