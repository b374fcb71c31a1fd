// The bit rate a tty is set to, whatever way it was set. Apart from the other
// test files: the kernel's termios2 header clashes with <termios.h>.
#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <cstdint>

namespace kl::test {

int64_t TtyOutputRate(int fd) {
  struct termios2 t {};
  if (::ioctl(fd, TCGETS2, &t) != 0) return -1;
  return static_cast<int64_t>(t.c_ospeed);
}

}  // namespace kl::test
