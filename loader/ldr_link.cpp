#include "ldr_link.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace {

int64_t now_ns() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return int64_t(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

// Time the line needs for `bytes` bytes at 57600 bit/s, 10 bits a byte.
int64_t line_ns(size_t bytes) { return int64_t(bytes) * 10 * 1000000000 / LDR_BAUD; }

int ms_until(int64_t deadline_ns) {
  int64_t rest = deadline_ns - now_ns();
  if (rest <= 0) return 0;
  return int((rest + 999999) / 1000000);
}

bool parse_com_number(const std::string& name, int* number) {
  if (name.size() < 4 || name.size() > 6 || name.compare(0, 3, "COM") != 0) return false;
  const std::string digits = name.substr(3);
  if (digits.size() > 1 && digits[0] == '0') return false;
  int n = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return false;
    n = n * 10 + (c - '0');
  }
  if (n > 255) return false;
  *number = n;
  return true;
}

// Windows-style device paths ("\\.\COM3") name the same port as "COM3".
std::string strip_device_prefix(const std::string& name) {
  if (name.rfind("\\\\.\\", 0) == 0) return name.substr(4);
  return name;
}

// Opens a tty for exclusive use. Root is not held off by TIOCEXCL, so an
// advisory lock keeps two of our own programs apart in every case.
int open_exclusive(const std::string& name) {
  const std::string path = ldr_com_device_path(strip_device_prefix(name));
  if (path.empty()) return -1;
  int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return -1;
  if (!isatty(fd) || flock(fd, LOCK_EX | LOCK_NB) != 0 || ioctl(fd, TIOCEXCL) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

// The exclusive flag of a pseudo-terminal outlives the close for a plain user;
// left set, every later open of the port would fail.
void close_exclusive(int fd) {
  ioctl(fd, TIOCNXCL);
  close(fd);
}

bool configure_line(int fd) {
  termios tio{};
  if (tcgetattr(fd, &tio) != 0) return false;
  cfmakeraw(&tio);
  tio.c_cflag &= ~(CSIZE | PARENB | CSTOPB | CRTSCTS);
  tio.c_cflag |= CS8 | CLOCAL | CREAD;
  tio.c_iflag &= ~(IXON | IXOFF | IXANY | INPCK | ISTRIP | IGNBRK | BRKINT | PARMRK);
  tio.c_cc[VMIN] = 0;
  tio.c_cc[VTIME] = 0;
  if (cfsetispeed(&tio, B57600) != 0 || cfsetospeed(&tio, B57600) != 0) return false;
  if (tcsetattr(fd, TCSANOW, &tio) != 0) return false;
  // DTR powers many RS-485 adapters, RTS stays off. A pseudo-terminal has
  // no modem lines, so a refusal here is not a failure of the port.
  int dtr = TIOCM_DTR, rts = TIOCM_RTS;
  ioctl(fd, TIOCMBIS, &dtr);
  ioctl(fd, TIOCMBIC, &rts);
  tcflush(fd, TCIOFLUSH);
  return true;
}

void append_escaped(uint8_t* out, size_t* n, uint8_t b) {
  if (b == LDR_FRAME_START || b == LDR_FRAME_END || b == LDR_FRAME_ESC) {
    out[(*n)++] = LDR_FRAME_ESC;
    out[(*n)++] = b == LDR_FRAME_START ? 0x00 : b == LDR_FRAME_END ? 0x01 : 0x10;
  } else {
    out[(*n)++] = b;
  }
}

// Waits on the command event alone until the deadline: a port that reports a
// hang-up or fails every write answers nothing, and looping on it at once
// would spin.
int wait_silent(LdrLink& link, int64_t deadline_ns) {
  if (link.command_event && link.command_event->wait(ms_until(deadline_ns))) return LDR_ERR_STOPPED;
  return LDR_ERR_EXCHANGE;
}

}  // namespace

std::string ldr_ports_dir() {
  const char* dir = std::getenv("KL31_PORTS_DIR");
  if (dir && *dir) return dir;
  const char* home = std::getenv("HOME");
  if (home && *home) return std::string(home) + "/.kl31/ports";
  return "/tmp/kl31-ports";
}

std::string ldr_system_device(int n) {
  if (n >= 1 && n <= 10) return "/dev/ttyS" + std::to_string(n - 1);
  if (n >= 11 && n <= 20) return "/dev/ttyUSB" + std::to_string(n - 11);
  if (n >= 21 && n <= 30) return "/dev/ttyACM" + std::to_string(n - 21);
  return {};
}

std::string ldr_com_device_path(const std::string& com_name) {
  int n = 0;
  if (!parse_com_number(com_name, &n)) return {};
  const std::string link = ldr_ports_dir() + "/" + com_name;
  struct stat st {};
  if (lstat(link.c_str(), &st) == 0) return link;
  return ldr_system_device(n);
}

bool ldr_port_present(int n) {
  const std::string name = "COM" + std::to_string(n);
  const std::string path = ldr_com_device_path(name);
  struct stat st {};
  // A link whose target is gone, or a device file that does not exist.
  if (path.empty() || stat(path.c_str(), &st) != 0) return false;
  // Most machines have ttyS files without hardware behind them. The kernel
  // tells without an open (which would raise DTR and RTS); the probe's own
  // check stays for kernels without the attribute.
  if (path.rfind("/dev/ttyS", 0) == 0) {
    const std::string type = "/sys/class/tty/" + path.substr(5) + "/type";
    if (FILE* f = std::fopen(type.c_str(), "r")) {
      int t = -1;
      const bool read = std::fscanf(f, "%d", &t) == 1;
      std::fclose(f);
      if (read && t == PORT_UNKNOWN) return false;
    }
  }
  return true;
}

int ldr_probe_port(const std::string& name) {
  int fd = open_exclusive(name);
  if (fd < 0) return 0;
  // Most machines have ttyS files without hardware behind them; those that
  // open anyway report no UART and are not offered as ports.
  bool present = true;
  if (ldr_com_device_path(strip_device_prefix(name)).rfind("/dev/ttyS", 0) == 0) {
    serial_struct info{};
    present = ioctl(fd, TIOCGSERIAL, &info) == 0 && info.type != PORT_UNKNOWN;
  }
  close_exclusive(fd);
  return present ? 1 : 0;
}

int ldr_open_port(LdrLink& link, const std::string& name) {
  ldr_close_port(link);
  int fd = open_exclusive(name);
  if (fd < 0) return LDR_ERR_PORT;
  if (!configure_line(fd)) {
    close_exclusive(fd);
    return LDR_ERR_PORT;
  }
  link.fd = fd;
  link.carry_length = 0;
  link.tx_done_ns = 0;
  return LDR_OK;
}

int ldr_close_port(LdrLink& link) {
  if (link.fd >= 0) {
    close_exclusive(link.fd);
    link.fd = -1;
  }
  link.carry_length = 0;
  return LDR_OK;
}

int ldr_port_purge(LdrLink& link) {
  link.carry_length = 0;
  if (link.fd < 0) return LDR_ERR_EXCHANGE;
  tcflush(link.fd, TCIFLUSH);
  return LDR_OK;
}

int ldr_port_write(LdrLink& link, const uint8_t* bytes, size_t length) {
  if (link.command_event && link.command_event->is_set()) return LDR_ERR_STOPPED;
  if (link.fd < 0) return LDR_ERR_EXCHANGE;
  const int64_t start = now_ns();
  const int64_t deadline = start + int64_t(LDR_WRITE_WAIT_MS) * 1000000;
  size_t done = 0;
  while (done < length) {
    ssize_t n = write(link.fd, bytes + done, length - done);
    if (n > 0) {
      done += size_t(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    // A pulled adapter fails every write at once; the attempt still takes
    // its time, so that the retries and a search keep their pace.
    if (n < 0 && errno != EAGAIN) return wait_silent(link, deadline);
    pollfd p[2] = {{link.fd, POLLOUT, 0}, {link.command_event ? link.command_event->fd() : -1, POLLIN, 0}};
    int left = ms_until(deadline);
    if (left == 0) return LDR_ERR_EXCHANGE;
    int r = poll(p, 2, left);
    if (r < 0 && errno != EINTR) return wait_silent(link, deadline);
    if (p[1].revents & POLLIN) return LDR_ERR_STOPPED;
    if (p[0].revents & (POLLERR | POLLHUP | POLLNVAL)) return wait_silent(link, deadline);
  }
  // write() hands the bytes to the kernel; the line still needs its time to
  // carry them, and the reply cannot start before that.
  link.tx_done_ns = std::max(start, link.tx_done_ns) + line_ns(length);
  return LDR_OK;
}

int ldr_port_read(LdrLink& link, uint8_t* buffer, size_t max) {
  if (link.fd < 0 || max == 0) return LDR_ERR_EXCHANGE;
  const int64_t deadline = std::max(now_ns(), link.tx_done_ns) + int64_t(LDR_REPLY_WAIT_MS) * 1000000;
  size_t have = std::min(link.carry_length, max);
  std::memcpy(buffer, link.carry, have);
  std::memmove(link.carry, link.carry + have, link.carry_length - have);
  link.carry_length -= have;
  size_t scanned = 0;
  for (;;) {
    const uint8_t* end =
        static_cast<const uint8_t*>(std::memchr(buffer + scanned, LDR_FRAME_END, have - scanned));
    if (end) {
      size_t frame = size_t(end - buffer) + 1;
      size_t rest = have - frame;
      // Whatever followed the frame end waits for the next read.
      if (rest > 0 && link.carry_length + rest <= sizeof link.carry) {
        std::memmove(link.carry + rest, link.carry, link.carry_length);
        std::memcpy(link.carry, buffer + frame, rest);
        link.carry_length += rest;
      }
      return int(frame);
    }
    scanned = have;
    if (have == max) return LDR_ERR_EXCHANGE;
    if (link.command_event && link.command_event->is_set()) return LDR_ERR_STOPPED;
    pollfd p[2] = {{link.fd, POLLIN, 0}, {link.command_event ? link.command_event->fd() : -1, POLLIN, 0}};
    int left = ms_until(deadline);
    if (left == 0) return LDR_ERR_EXCHANGE;
    int r = poll(p, 2, left);
    if (r < 0) {
      if (errno == EINTR) continue;
      return LDR_ERR_EXCHANGE;
    }
    if (p[1].revents & POLLIN) return LDR_ERR_STOPPED;
    if (r == 0) return LDR_ERR_EXCHANGE;
    if (p[0].revents & POLLIN) {
      ssize_t n = read(link.fd, buffer + have, max - have);
      if (n > 0) {
        have += size_t(n);
        continue;
      }
      if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
      return wait_silent(link, deadline);
    }
    if (p[0].revents & (POLLERR | POLLHUP | POLLNVAL)) return wait_silent(link, deadline);
  }
}

size_t ldr_encode_frame(LdrLink& link, size_t payload_length) {
  payload_length = std::min(payload_length, LDR_PAYLOAD_SIZE);
  std::memset(link.tx, 0, sizeof link.tx);
  size_t n = 0;
  link.tx[n++] = LDR_FRAME_START;
  uint8_t sum = 0;
  for (size_t i = 0; i <= payload_length && n < LDR_FRAME_SIZE - 3; ++i) {
    uint8_t b;
    if (i < payload_length) {
      b = link.payload[i];
      sum = uint8_t(sum + b);
    } else {
      b = uint8_t(~sum);
    }
    append_escaped(link.tx, &n, b);
  }
  link.tx[n++] = LDR_FRAME_END;
  return n;
}

int ldr_decode_frame(LdrLink& link, size_t received_length, size_t* payload_length) {
  if (received_length < 2 || received_length > LDR_FRAME_SIZE) return LDR_ERR_EXCHANGE;
  if (link.rx[0] != LDR_FRAME_START || link.rx[received_length - 1] != LDR_FRAME_END) return LDR_ERR_EXCHANGE;
  std::memset(link.payload, 0, sizeof link.payload);
  size_t n = 0;
  uint8_t sum = 0;
  for (size_t i = 1; i + 1 < received_length && n < LDR_PAYLOAD_SIZE; ++i) {
    uint8_t b = link.rx[i];
    if (b == LDR_FRAME_START || b == LDR_FRAME_END) return LDR_ERR_EXCHANGE;
    if (b == LDR_FRAME_ESC) {
      if (i + 2 >= received_length) return LDR_ERR_EXCHANGE;
      uint8_t partner = link.rx[++i];
      if (partner == 0x00)
        b = LDR_FRAME_START;
      else if (partner == 0x01)
        b = LDR_FRAME_END;
      else if (partner == 0x10)
        b = LDR_FRAME_ESC;
      else
        return LDR_ERR_EXCHANGE;
    }
    link.payload[n++] = b;
    sum = uint8_t(sum + b);
  }
  if (n == 0 || sum != 0xFF) return LDR_ERR_EXCHANGE;
  link.payload[n - 1] = 0;  // the checksum is not part of the reply
  if (payload_length) *payload_length = n - 1;
  return LDR_OK;
}

int ldr_device_error(uint8_t device_code) {
  switch (device_code) {
    case 0xF9:
      return LDR_ERR_DEV_OTHER_SERIAL;
    case 0xFA:
      return LDR_ERR_DEV_TEMPERATURE;
    case 0xFB:
      return LDR_ERR_DEV_NOT_VALID_MODULE;
    case 0xFC:
      return LDR_ERR_DEV_MODULE_DAMAGED;
    case 0xFD:
      return LDR_ERR_DEV_WRITE;
    case 0xFE:
      return LDR_ERR_DEV_BAD_COMMAND;
    case 0xFF:
      return LDR_ERR_DEV_BAD_BLOCK;
    default:
      return LDR_ERR_DEV_UNKNOWN;
  }
}

void ldr_begin_request(LdrLink& link, uint8_t address, uint8_t command) {
  link.payload[0] = link.sequence;
  link.payload[1] = address;
  link.payload[2] = command;
}

int ldr_transact(LdrLink& link, size_t request_length, uint8_t address) {
  const size_t frame_length = ldr_encode_frame(link, request_length);
  bool listen_only = false;
  bool accepted = false;
  bool stopped = false;
  size_t reply_length = 0;
  for (int attempt = 0; attempt < LDR_ATTEMPTS && !accepted && !stopped; ++attempt) {
    const bool send = !listen_only;
    listen_only = false;
    if (send) {
      // A purge before a listen-only attempt would throw away the very
      // reply that may have arrived right behind the stale one.
      ldr_port_purge(link);
      int w = ldr_port_write(link, link.tx, frame_length);
      if (w == LDR_ERR_STOPPED) {
        stopped = true;
        break;
      }
      if (w < 0) continue;
    }
    int r = ldr_port_read(link, link.rx, sizeof link.rx);
    if (r == LDR_ERR_STOPPED) {
      stopped = true;
      break;
    }
    if (r < 0) continue;
    if (ldr_decode_frame(link, size_t(r), &reply_length) != LDR_OK) continue;
    if (link.payload[0] != link.sequence) {
      listen_only = true;
      continue;
    }
    if (link.payload[1] != address) continue;
    accepted = true;
  }
  link.sequence = uint8_t(link.sequence + 1);
  if (stopped) return LDR_ERR_STOPPED;
  if (!accepted) return LDR_ERR_EXCHANGE;
  if (link.payload[3] == LDR_STATUS_DONE) return int(reply_length);
  return ldr_device_error(link.payload[4]);
}

static uint16_t le16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
static uint32_t le32(const uint8_t* p) {
  return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

LdrDeviceInfo ldr_parse_device_info(const uint8_t* r) {
  LdrDeviceInfo info;
  std::memcpy(info.type, r, 4);
  info.type[4] = 0;
  info.boot_version = le16(r + 4);
  info.boot_date = le32(r + 6);
  info.app_version = le16(r + 14);
  info.app_date = le32(r + 16);
  info.required_boot_version = le16(r + 20);
  info.serial = uint32_t(r[22]) | (uint32_t(r[23]) << 8) | (uint32_t(r[24]) << 16);
  return info;
}

int ldr_activate(LdrLink& link, uint8_t address) {
  ldr_begin_request(link, address, CMD_ACTIVATE);
  int r = ldr_transact(link, 3, address);
  return r < 0 ? r : LDR_OK;
}
