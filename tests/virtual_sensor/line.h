// The tool's end of the line for the sensor tests: the slave side of the
// pseudo-terminal, opened by its COM link, raw 8N1 at a chosen rate, with
// bounded reads.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace kl::vsensor::testing {

using Bytes = std::vector<uint8_t>;

inline speed_t Speed(int baud) {
  switch (baud) {
    case 2400:
      return B2400;
    case 4800:
      return B4800;
    case 9600:
      return B9600;
    case 19200:
      return B19200;
    case 38400:
      return B38400;
    case 57600:
      return B57600;
    case 115200:
      return B115200;
    default:
      return B0;
  }
}

// Waits (bounded) until `done` holds; true when it did.
inline bool WaitUntil(const std::function<bool()>& done, int ms = 10000) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (!done()) {
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

class Line {
 public:
  Line() = default;
  Line(const Line&) = delete;
  Line& operator=(const Line&) = delete;
  ~Line() { Close(); }

  bool Open(const std::string& path, int baud, bool exclusive = true) {
    Close();
    fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0) return false;
    if (exclusive && ::ioctl(fd_, TIOCEXCL) != 0) return false;
    exclusive_ = exclusive;
    return SetBaud(baud);
  }

  bool SetBaud(int baud) {
    termios t{};
    if (::tcgetattr(fd_, &t) != 0) return false;
    ::cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    ::cfsetspeed(&t, Speed(baud));
    return ::tcsetattr(fd_, TCSANOW, &t) == 0;
  }

  void Close() {
    if (fd_ < 0) return;
    if (exclusive_) ::ioctl(fd_, TIOCNXCL);
    ::close(fd_);
    fd_ = -1;
  }

  bool IsOpen() const { return fd_ >= 0; }

  bool Send(const Bytes& bytes) {
    size_t sent = 0;
    while (sent < bytes.size()) {
      const ssize_t n = ::write(fd_, bytes.data() + sent, bytes.size() - sent);
      if (n > 0) {
        sent += static_cast<size_t>(n);
      } else {
        pollfd p{fd_, POLLOUT, 0};
        if (::poll(&p, 1, 1000) <= 0) return false;
      }
    }
    return true;
  }

  // Reads exactly `count` bytes, or fewer when `ms` pass first.
  Bytes Read(size_t count, int ms = 10000) {
    Bytes out;
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (out.size() < count) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now())
              .count();
      if (left <= 0) break;
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, static_cast<int>(left)) <= 0) continue;
      uint8_t buf[4096];
      const size_t want = std::min(sizeof buf, count - out.size());
      const ssize_t n = ::read(fd_, buf, want);
      if (n > 0) out.insert(out.end(), buf, buf + n);
    }
    return out;
  }

  // An echo answer: the first 4 bytes tell the block count.
  Bytes ReadEcho(int ms = 10000) {
    Bytes head = Read(4, ms);
    if (head.size() < 4) return head;
    const size_t total = static_cast<size_t>(head[3]) * 140;
    if (total > 4) {
      Bytes rest = Read(total - 4, ms);
      head.insert(head.end(), rest.begin(), rest.end());
    }
    return head;
  }

 private:
  int fd_ = -1;
  bool exclusive_ = false;
};

// A fresh ports folder for one test, named in KL31_PORTS_DIR.
class PortsFolderGuard {
 public:
  PortsFolderGuard() {
    char tmpl[] = "/tmp/kl31-vs-test.XXXXXX";
    const char* made = ::mkdtemp(tmpl);
    path_ = made ? made : "/tmp";
    ::setenv("KL31_PORTS_DIR", path_.c_str(), 1);
  }
  ~PortsFolderGuard() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

inline uint16_t Le16(const Bytes& b, size_t at) {
  return static_cast<uint16_t>(b.at(at) | (b.at(at + 1) << 8));
}
inline uint32_t Le32(const Bytes& b, size_t at) {
  return static_cast<uint32_t>(Le16(b, at)) | (static_cast<uint32_t>(Le16(b, at + 2)) << 16);
}

}  // namespace kl::vsensor::testing
