// Bit rates outside the fixed list of the terminal interface. Linux takes any
// rate through termios2 with BOTHER; its header cannot share a translation
// unit with <termios.h>, hence a file of its own.
#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

namespace kl {

// Sets both directions of the open tty at `baud`. False with the driver's
// reason when it refuses the rate or cannot come near it.
bool UartSetAnyRate(int fd, int32_t baud, std::string* why) {
  struct termios2 t {};
  if (::ioctl(fd, TCGETS2, &t) != 0) {
    *why = std::strerror(errno);
    return false;
  }
  t.c_cflag &= ~static_cast<tcflag_t>(CBAUD | (CBAUD << IBSHIFT));
  t.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
  t.c_ispeed = static_cast<speed_t>(baud);
  t.c_ospeed = static_cast<speed_t>(baud);
  if (::ioctl(fd, TCSETS2, &t) != 0) {
    *why = "the driver refuses " + std::to_string(baud) + " bit/s: " + std::strerror(errno);
    return false;
  }
  // A driver rounds to what its clock can divide down to; a rate it cannot
  // come within 2 % of would garble every byte.
  struct termios2 got {};
  if (::ioctl(fd, TCGETS2, &got) != 0) {
    *why = std::strerror(errno);
    return false;
  }
  const int64_t off = std::llabs(static_cast<int64_t>(got.c_ospeed) - baud);
  if (off * 50 > baud) {
    *why = "the driver gives " + std::to_string(got.c_ospeed) + " bit/s for " + std::to_string(baud);
    return false;
  }
  return true;
}

}  // namespace kl
