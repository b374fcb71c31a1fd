// The serial port on POSIX ttys, and the COM names technicians use for them.
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <thread>

#include "Unit_uart.h"

namespace kl {

int UartReadTimeoutMs(int32_t baud) {
  switch (baud) {
    case 2400:
      return 30;
    case 4800:
      return 23;
    case 9600:
      return 19;
    case 14400:
      return 18;
    default:
      return 17;
  }
}

// ---------------------------------------------------------------------------
// COM names

std::string UartPortsFolder() {
  const char* dir = std::getenv("KL31_PORTS_DIR");
  if (dir && *dir) return dir;
  const char* home = std::getenv("HOME");
  if (home && *home) return std::string(home) + "/.kl31/ports";
  return "/tmp/kl31-ports";
}

namespace {

std::string LinkPath(int number) { return UartPortsFolder() + "/COM" + std::to_string(number); }

bool IsSymlink(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

bool Exists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

std::string RealPath(const std::string& path) {
  char buf[PATH_MAX];
  if (::realpath(path.c_str(), buf)) return buf;
  return path;
}

// Most machines have ttyS device files without any UART behind them. The
// sysfs attribute answers without opening the port (an open raises DTR and
// RTS, which can turn an RS-485 adapter around); the ioctl is the fallback.
bool HasUart(int index) {
  std::ifstream type("/sys/class/tty/ttyS" + std::to_string(index) + "/type");
  int t = -1;
  if (type >> t) return t != PORT_UNKNOWN;
  const std::string dev = "/dev/ttyS" + std::to_string(index);
  const int fd = ::open(dev.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  struct serial_struct ss {};
  const bool uart = ::ioctl(fd, TIOCGSERIAL, &ss) == 0 && ss.type != PORT_UNKNOWN;
  ::close(fd);
  return uart;
}

// The system's own device for COM<number>, empty when none is there.
std::string SystemDevice(int number) {
  const std::string dev = UartSystemDeviceName(number);
  if (dev.empty() || !Exists(dev)) return {};
  if (number <= 10 && !HasUart(number - 1)) return {};
  return dev;
}

}  // namespace

std::string UartSystemDeviceName(int number) {
  if (number >= 1 && number <= 10) return "/dev/ttyS" + std::to_string(number - 1);
  if (number >= 11 && number <= 20) return "/dev/ttyUSB" + std::to_string(number - 11);
  if (number >= 21 && number <= 30) return "/dev/ttyACM" + std::to_string(number - 21);
  return {};
}

std::string UartResolvePort(int number) {
  if (number < 0 || number > 255) return {};
  const std::string link = LinkPath(number);
  // A link names the port even when its target is gone: the open then fails
  // rather than silently reaching some other device.
  if (IsSymlink(link)) return link;
  return SystemDevice(number);
}

std::vector<ComPortInfo> UartListPorts() {
  std::vector<ComPortInfo> ports;
  for (int n = 0; n <= 255; ++n) {
    const std::string link = LinkPath(n);
    std::string path;
    if (IsSymlink(link)) {
      if (!Exists(link)) continue;
      path = RealPath(link);
    } else {
      path = SystemDevice(n);
      if (path.empty()) continue;
    }
    ports.push_back({n, "COM" + std::to_string(n), path});
  }
  return ports;
}

// ---------------------------------------------------------------------------
// POSIX port

// uart_rate_linux.cpp
bool UartSetAnyRate(int fd, int32_t baud, std::string* why);

namespace {

bool SpeedOf(int32_t baud, speed_t* speed) {
  switch (baud) {
    case 300:
      *speed = B300;
      return true;
    case 600:
      *speed = B600;
      return true;
    case 1200:
      *speed = B1200;
      return true;
    case 1800:
      *speed = B1800;
      return true;
    case 2400:
      *speed = B2400;
      return true;
    case 4800:
      *speed = B4800;
      return true;
    case 9600:
      *speed = B9600;
      return true;
    case 19200:
      *speed = B19200;
      return true;
    case 38400:
      *speed = B38400;
      return true;
    case 57600:
      *speed = B57600;
      return true;
    case 115200:
      *speed = B115200;
      return true;
    case 230400:
      *speed = B230400;
      return true;
    case 460800:
      *speed = B460800;
      return true;
    case 921600:
      *speed = B921600;
      return true;
    default:
      return false;
  }
}

using Clock = std::chrono::steady_clock;

int MsLeft(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

class PosixSerialPort final : public SerialPort {
 public:
  ~PosixSerialPort() override { Close(); }

  bool Open(int number, int32_t baud) override {
    Close();
    error_.clear();
    if (baud <= 0) return Fail("bad bit rate " + std::to_string(baud));
    speed_t speed{};
    const bool listed = SpeedOf(baud, &speed);
    const std::string path = UartResolvePort(number);
    if (path.empty()) return Fail("COM" + std::to_string(number) + ": no such port");
    // Non-blocking, so that an open never waits for a carrier; reads and
    // writes below wait with poll and a bound.
    fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0) return Fail(path + ": " + std::strerror(errno));
    if (!::isatty(fd_)) return FailClose(path + ": not a terminal");
    // TIOCEXCL refuses other openers but not root; the lock refuses a second
    // open from this program as well, whoever runs it.
    if (::flock(fd_, LOCK_EX | LOCK_NB) != 0) return FailClose(path + ": port busy");
    if (::ioctl(fd_, TIOCEXCL) != 0) return FailClose(path + ": " + std::strerror(errno));
    exclusive_ = true;
    // Linux raises DTR and RTS on open; an RS-485 adapter may take RTS as
    // its direction, so lower both at once (not before the port is ours).
    LowerModemLines();
    termios tio{};
    if (::tcgetattr(fd_, &tio) != 0) return FailClose(path + ": " + std::strerror(errno));
    ::cfmakeraw(&tio);
    tio.c_cflag &= ~(CSIZE | PARENB | CSTOPB | CRTSCTS);
    tio.c_cflag |= CS8 | CREAD | CLOCAL;
    tio.c_iflag &= ~(IXON | IXOFF | IXANY | INPCK | ISTRIP | IGNBRK | BRKINT | PARMRK);
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    if (listed) {
      ::cfsetispeed(&tio, speed);
      ::cfsetospeed(&tio, speed);
    }
    if (::tcsetattr(fd_, TCSANOW, &tio) != 0) return FailClose(path + ": " + std::strerror(errno));
    std::string why;
    if (!listed && !UartSetAnyRate(fd_, baud, &why)) return FailClose(path + ": " + why);
    LowerModemLines();
    readTimeoutMs_ = UartReadTimeoutMs(baud);
    baud_ = baud;
    failed_ = false;
    Discard();
    return true;
  }

  void Close() override {
    if (fd_ < 0) return;
    // On a pseudo-terminal the exclusive flag outlives the close for a plain
    // user, and the next open (another bit rate) would then be refused.
    if (exclusive_) ::ioctl(fd_, TIOCNXCL);
    exclusive_ = false;
    ::close(fd_);
    fd_ = -1;
    have_ = next_ = 0;
  }

  void Discard() override {
    have_ = next_ = 0;
    abandoned_ = false;
    if (fd_ >= 0) ::tcflush(fd_, TCIOFLUSH);
  }

  void AbandonWrite() override {
    abandoned_ = true;
    if (fd_ >= 0) ::tcflush(fd_, TCOFLUSH);
  }

  bool Write(const uint8_t* data, size_t count, int timeoutMs) override {
    if (fd_ < 0 || failed_) return false;
    const auto start = Clock::now();
    const auto deadline = start + std::chrono::milliseconds(timeoutMs);
    size_t done = 0;
    while (done < count) {
      if (abandoned_) return GiveUp();
      const ssize_t n = ::write(fd_, data + done, count - done);
      if (n > 0) {
        done += static_cast<size_t>(n);
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && errno != EAGAIN) {
        failed_ = true;
        return false;
      }
      pollfd p{fd_, POLLOUT, 0};
      const int left = MsLeft(deadline);
      if (left == 0) return GiveUp();
      // Short slices, so that an abandoned write stops soon.
      const int r = ::poll(&p, 1, std::min(left, 5));
      if (r < 0 && errno != EINTR) return false;
      if (r > 0 && (p.revents & (POLLERR | POLLHUP | POLLNVAL))) {
        failed_ = true;
        return false;
      }
    }
    return Drained(start, count, deadline);
  }

  PortRead ReadByte(uint8_t* byte) override {
    if (next_ < have_) {
      *byte = buf_[next_++];
      return PortRead::Byte;
    }
    const auto deadline = Clock::now() + std::chrono::milliseconds(readTimeoutMs_);
    if (fd_ < 0 || failed_) {
      // A vanished device keeps failing at the pace of the read time-out,
      // so the I/O thread never spins on it.
      std::this_thread::sleep_until(deadline);
      return PortRead::Failed;
    }
    for (;;) {
      pollfd p{fd_, POLLIN, 0};
      const int r = ::poll(&p, 1, MsLeft(deadline));
      if (r < 0) {
        if (errno == EINTR) continue;
        failed_ = true;
        return PortRead::Failed;
      }
      if (r == 0) return PortRead::Silence;
      if (p.revents & POLLIN) {
        const ssize_t n = ::read(fd_, buf_, sizeof buf_);
        if (n > 0) {
          have_ = static_cast<size_t>(n);
          next_ = 1;
          *byte = buf_[0];
          return PortRead::Byte;
        }
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
          if (MsLeft(deadline) == 0) return PortRead::Silence;
          continue;
        }
        failed_ = true;  // EIO or end of file: the device is gone
        return PortRead::Failed;
      }
      if (p.revents & (POLLHUP | POLLERR | POLLNVAL)) {
        failed_ = true;
        return PortRead::Failed;
      }
      if (MsLeft(deadline) == 0) return PortRead::Silence;
    }
  }

  std::string LastError() const override { return error_; }

 private:
  // The tty takes a frame into its buffer at once, but the line carries it at
  // 10 bits a byte (a block write at 2400 bit/s: 554 ms). The sensor starts
  // its answer only after the last byte, and the link gives that answer
  // 500 ms to begin from the end of the write; so the write ends when the
  // frame has left: its line time from the start (the queue was empty), and
  // the driver's queue empty. False when the frame is still queued at the
  // deadline.
  bool Drained(Clock::time_point start, size_t count, Clock::time_point deadline) {
    const auto lineTime = std::chrono::microseconds(static_cast<int64_t>(count) * 10'000'000 /
                                                    static_cast<int64_t>(baud_ > 0 ? baud_ : 1));
    std::this_thread::sleep_until(std::min(start + lineTime, deadline));
    for (;;) {
      if (abandoned_) return GiveUp();
      int queued = 0;
      if (::ioctl(fd_, TIOCOUTQ, &queued) != 0 || queued <= 0) return true;
      if (Clock::now() >= deadline) return GiveUp();
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }

  // A frame reported as not written must not reach the sensor later, when
  // the driver gets round to it: drop what is still queued.
  bool GiveUp() {
    ::tcflush(fd_, TCOFLUSH);
    return false;
  }

  void LowerModemLines() {
    int lines = TIOCM_DTR | TIOCM_RTS;
    ::ioctl(fd_, TIOCMBIC, &lines);  // a pseudo-terminal has none; that is fine
  }
  bool Fail(std::string why) {
    error_ = std::move(why);
    return false;
  }
  bool FailClose(std::string why) {
    Close();
    return Fail(std::move(why));
  }

  int fd_ = -1;
  bool exclusive_ = false;
  bool failed_ = false;
  std::atomic<bool> abandoned_{false};  // set from the transaction's thread
  int readTimeoutMs_ = 17;
  int32_t baud_ = 0;
  uint8_t buf_[256]{};
  size_t have_ = 0, next_ = 0;
  std::string error_;
};

}  // namespace

std::unique_ptr<SerialPort> MakePosixSerialPort() { return std::make_unique<PosixSerialPort>(); }

}  // namespace kl
