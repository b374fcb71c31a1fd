#include "ldr_event.h"

#include <cerrno>
#include <cstdint>
#include <ctime>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

LdrEvent::LdrEvent() { fd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC); }

LdrEvent::~LdrEvent() {
  if (fd_ >= 0) close(fd_);
}

void LdrEvent::set() {
  if (fd_ < 0) return;
  uint64_t one = 1;
  // A counter already at its limit is still set; nothing to retry.
  while (write(fd_, &one, sizeof one) < 0 && errno == EINTR) {
  }
}

void LdrEvent::reset() {
  if (fd_ < 0) return;
  uint64_t value = 0;
  while (read(fd_, &value, sizeof value) < 0 && errno == EINTR) {
  }
}

bool LdrEvent::is_set() const { return wait(0); }

static int64_t now_ms() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return int64_t(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

bool LdrEvent::wait(int timeout_ms) const {
  if (fd_ < 0) return false;
  const int64_t deadline = timeout_ms < 0 ? 0 : now_ms() + timeout_ms;
  for (;;) {
    int left = -1;
    if (timeout_ms >= 0) {
      int64_t rest = deadline - now_ms();
      left = rest < 0 ? 0 : int(rest);
    }
    pollfd p{fd_, POLLIN, 0};
    int n = poll(&p, 1, left);
    if (n > 0) return (p.revents & POLLIN) != 0;
    if (n == 0) return false;
    if (errno != EINTR) return false;
  }
}
