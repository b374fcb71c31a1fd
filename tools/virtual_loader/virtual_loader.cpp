#include "virtual_loader.h"

#include "com_link.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace vloader {

namespace {

constexpr uint8_t kStart = 0x02, kEnd = 0x03, kEsc = 0x10;
constexpr uint8_t kDone = 0x06, kFailed = 0x15;
constexpr size_t kMaxFrame = 2074;
constexpr int64_t kByteNs = 10LL * 1000000000 / 57600;  // 10 bits a byte

int64_t mono_ns() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return int64_t(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

void sleep_until_ns(int64_t t) {
  timespec ts{time_t(t / 1000000000), long(t % 1000000000)};
  while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) == EINTR) {
  }
}

std::string default_ports_dir() {
  const char* dir = std::getenv("KL31_PORTS_DIR");
  if (dir && *dir) return dir;
  const char* home = std::getenv("HOME");
  if (home && *home) return std::string(home) + "/.kl31/ports";
  return "/tmp/kl31-ports";
}

void make_dirs(const std::string& path) {
  for (size_t i = 1; i <= path.size(); ++i) {
    if (i == path.size() || path[i] == '/') mkdir(path.substr(0, i).c_str(), 0755);
  }
}

void put_le(std::vector<uint8_t>& out, uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(uint8_t(v >> (8 * i)));
}

bool take(int& counter) {
  if (counter <= 0) return false;
  --counter;
  return true;
}

}  // namespace

int64_t SteadyClock::now_ms() const {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

std::string tools_dir() {
  const char* dir = std::getenv("KL31_TOOLS_DIR");
  if (dir && *dir) return dir;
  char buf[4096];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return ".";
  std::string path(buf, size_t(n));
  return path.substr(0, path.rfind('/'));
}

Device::Device(Config config)
    : config_(std::move(config)), com_link_(std::make_unique<kl::comlink::ComLink>()), random_(config_.seed) {
  clock_ = config_.clock ? config_.clock : std::make_shared<SteadyClock>();
  identity_ = config_.identity;
  // Calibration and configuration contents come from the seed, so a
  // failing run replays with the same bytes.
  auto fill = [this](uint32_t address) {
    std::vector<uint8_t> block(kRecordSize);
    for (auto& b : block) b = uint8_t(random_());
    memory_[address] = block;
  };
  fill(0x2000);
  for (uint32_t a = 0x2800; a <= 0x3C00; a += 0x400) fill(a);
}

Device::~Device() { stop(); }

bool Device::start(std::string* error) {
  auto fail = [&](const std::string& what) {
    if (error) *error = what + ": " + std::strerror(errno);
    stop();
    return false;
  };
  master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master_ < 0) return fail("posix_openpt");
  if (grantpt(master_) != 0 || unlockpt(master_) != 0) return fail("grantpt");
  char name[256];
  if (ptsname_r(master_, name, sizeof name) != 0) return fail("ptsname");
  slave_path_ = name;
  // Holding the slave open keeps the master readable while no loader has
  // the port open.
  slave_hold_ = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (slave_hold_ < 0) return fail("open slave");
  termios tio{};
  if (tcgetattr(slave_hold_, &tio) == 0) {
    cfmakeraw(&tio);
    cfsetispeed(&tio, B57600);
    cfsetospeed(&tio, B57600);
    tcsetattr(slave_hold_, TCSANOW, &tio);
  }
  fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
  stop_fd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (stop_fd_ < 0) return fail("eventfd");

  const std::string dir = config_.ports_dir.empty() ? default_ports_dir() : config_.ports_dir;
  make_dirs(dir);
  // A name a live device serves is refused; one left behind by a device
  // killed hard is taken over (com_link.h).
  std::string why;
  if (!com_link_->Claim(dir, config_.com_name, slave_path_, &why)) {
    if (error) *error = why;
    stop();
    return false;
  }
  link_path_ = com_link_->Path();
  thread_ = std::thread([this] { run(); });
  return true;
}

void Device::stop() {
  if (thread_.joinable()) {
    uint64_t one = 1;
    if (write(stop_fd_, &one, sizeof one) < 0) {
    }
    thread_.join();
  }
  com_link_->Release();
  link_path_.clear();
  if (master_ >= 0) close(master_);
  if (slave_hold_ >= 0) close(slave_hold_);
  if (stop_fd_ >= 0) close(stop_fd_);
  master_ = slave_hold_ = stop_fd_ = -1;
}

void Device::set_faults(const Faults& f) {
  std::lock_guard lock(mutex_);
  faults_ = f;
}

void Device::edit_faults(const std::function<void(Faults&)>& edit) {
  std::lock_guard lock(mutex_);
  edit(faults_);
}

void Device::set_identity(const Identity& id) {
  std::lock_guard lock(mutex_);
  identity_ = id;
}

std::vector<std::vector<uint8_t>> Device::records() const {
  std::lock_guard lock(mutex_);
  return records_;
}

size_t Device::record_count() const {
  std::lock_guard lock(mutex_);
  return records_.size();
}

std::vector<Request> Device::requests() const {
  std::lock_guard lock(mutex_);
  return requests_;
}

size_t Device::request_count(int command) const {
  std::lock_guard lock(mutex_);
  size_t n = 0;
  for (const Request& r : requests_)
    if (command < 0 || r.command == command) ++n;
  return n;
}

bool Device::activated() const {
  std::lock_guard lock(mutex_);
  return activated_;
}

std::vector<uint8_t> Device::memory_block(uint32_t address) const {
  std::lock_guard lock(mutex_);
  auto it = memory_.find(address);
  return it == memory_.end() ? std::vector<uint8_t>{} : it->second;
}

void Device::set_memory_block(uint32_t address, const std::vector<uint8_t>& record) {
  std::lock_guard lock(mutex_);
  memory_[address] = record;
  memory_[address].resize(kRecordSize);
}

std::vector<uint8_t> Device::encode(const std::vector<uint8_t>& payload, uint8_t checksum_error) {
  std::vector<uint8_t> out{kStart};
  uint8_t sum = 0;
  auto put = [&](uint8_t b) {
    if (b == kStart || b == kEnd || b == kEsc) {
      out.push_back(kEsc);
      out.push_back(b == kStart ? 0x00 : b == kEnd ? 0x01 : 0x10);
    } else {
      out.push_back(b);
    }
  };
  for (uint8_t b : payload) {
    sum = uint8_t(sum + b);
    put(b);
  }
  put(uint8_t(~sum ^ checksum_error));
  out.push_back(kEnd);
  return out;
}

bool Device::decode(const std::vector<uint8_t>& frame, std::vector<uint8_t>* payload) {
  if (frame.size() < 3 || frame.front() != kStart || frame.back() != kEnd) return false;
  payload->clear();
  uint8_t sum = 0;
  for (size_t i = 1; i + 1 < frame.size(); ++i) {
    uint8_t b = frame[i];
    if (b == kStart || b == kEnd) return false;
    if (b == kEsc) {
      if (i + 2 >= frame.size()) return false;
      uint8_t p = frame[++i];
      if (p == 0x00)
        b = kStart;
      else if (p == 0x01)
        b = kEnd;
      else if (p == 0x10)
        b = kEsc;
      else
        return false;
    }
    payload->push_back(b);
    sum = uint8_t(sum + b);
  }
  if (sum != 0xFF || payload->empty()) return false;
  payload->pop_back();
  return true;
}

std::vector<uint8_t> Device::info_record() const {
  std::vector<uint8_t> r;
  for (int i = 0; i < 4; ++i) r.push_back(i < int(identity_.type.size()) ? uint8_t(identity_.type[i]) : 0);
  put_le(r, identity_.boot_version, 2);
  put_le(r, identity_.boot_date, 4);
  put_le(r, 0, 4);
  put_le(r, identity_.app_version, 2);
  put_le(r, identity_.app_date, 4);
  put_le(r, identity_.required_boot_version, 2);
  put_le(r, identity_.serial, 3);
  return r;
}

void Device::run() {
  std::vector<uint8_t> frame;
  bool in_frame = false;
  uint8_t buf[4096];
  while (!vanished_.load()) {
    pollfd p[2] = {{master_, POLLIN, 0}, {stop_fd_, POLLIN, 0}};
    int r = poll(p, 2, 100);
    if (r < 0 && errno != EINTR) break;
    if (p[1].revents & POLLIN) break;
    if (!(p[0].revents & POLLIN)) continue;
    ssize_t n = read(master_, buf, sizeof buf);
    if (n <= 0) continue;
    const int64_t now = mono_ns();
    for (ssize_t i = 0; i < n; ++i) {
      // Paced: each byte takes its time on the line behind the one before.
      if (config_.paced) line_free_ns_ = std::max(line_free_ns_, now) + kByteNs;
      const uint8_t b = buf[i];
      if (b == kStart) {
        frame.assign(1, b);
        in_frame = true;
      } else if (in_frame) {
        frame.push_back(b);
        if (b == kEnd) {
          in_frame = false;
          handle_frame(frame);
          if (vanished_.load()) return;
        } else if (frame.size() > kMaxFrame) {
          in_frame = false;
        }
      }
    }
  }
}

void Device::vanish() {
  vanished_.store(true);
  // Closing both ends hangs up the loader's side like a pulled adapter.
  close(master_);
  close(slave_hold_);
  master_ = slave_hold_ = -1;
  // The link goes, the name stays held until stop(): a pulled adapter's
  // name is not free for another device while this one still runs.
  unlink(link_path_.c_str());
}

void Device::send(const std::vector<uint8_t>& bytes) {
  if (master_ < 0) return;
  size_t done = 0;
  int64_t start = std::max(mono_ns(), line_free_ns_);
  while (done < bytes.size()) {
    size_t chunk = bytes.size() - done;
    if (config_.paced) {
      // Hand bytes over in small bursts at the pace the line would
      // deliver them.
      chunk = std::min<size_t>(chunk, 8);
      sleep_until_ns(start + int64_t(done + chunk) * kByteNs);
    }
    ssize_t n = write(master_, bytes.data() + done, chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) {
      pollfd p{master_, POLLOUT, 0};
      if (poll(&p, 1, 250) <= 0) return;  // nobody reads: drop the rest
      continue;
    }
    if (n <= 0) return;
    done += size_t(n);
  }
  if (config_.paced) line_free_ns_ = start + int64_t(bytes.size()) * kByteNs;
}

void Device::handle_frame(const std::vector<uint8_t>& frame) {
  std::vector<uint8_t> req;
  if (!decode(frame, &req) || req.size() < 3) return;
  const uint8_t seq = req[0], addr = req[1], cmd = req[2];
  if (config_.paced) sleep_until_ns(line_free_ns_);

  std::vector<uint8_t> data;
  uint8_t status = kDone;
  bool reply = true, stale = false, other = false, bad_sum = false, bad_esc = false, vanish_now = false;
  {
    std::lock_guard lock(mutex_);
    // Every request on the line is logged; only those for this device or
    // for everybody are answered.
    requests_.push_back({seq, addr, cmd, req.size()});
    if (addr != config_.address && addr != 0xFF) return;
    Faults& f = faults_;
    if (clock_->now_ms() < f.silent_until_ms || f.mute_commands.count(cmd) || take(f.no_reply)) reply = false;
    if (reply && f.drop_permille > 0 && int(random_() % 1000) < f.drop_permille) reply = false;
    if (!reply) return;
    if (f.error_count > 0 && (f.error_command < 0 || f.error_command == cmd)) {
      --f.error_count;
      status = kFailed;
      data.push_back(f.error_code);
    } else {
      switch (cmd) {
        case 0x10:
          break;  // connect
        case 0x12:
          data = info_record();
          break;
        case 0x13:
          if (req.size() != 3 + kRecordSize) {
            status = kFailed;
            data.push_back(0xFF);
            break;
          }
          records_.emplace_back(req.begin() + 3, req.end());
          if (f.vanish_after_records >= 0 && int(records_.size()) >= f.vanish_after_records)
            vanish_now = true;
          break;
        case 0x14:
          activated_ = true;
          break;
        case 0x15: {
          auto it = req.size() == 7 ? memory_.find(uint32_t(req[3]) | (uint32_t(req[4]) << 8) |
                                                   (uint32_t(req[5]) << 16) | (uint32_t(req[6]) << 24))
                                    : memory_.end();
          if (it == memory_.end()) {
            status = kFailed;
            data.push_back(0xFF);
          } else {
            data = it->second;
          }
          break;
        }
        default:
          status = kFailed;
          data.push_back(0xFE);
          break;
      }
    }
    stale = take(f.stale_first);
    other = take(f.other_address);
    bad_sum = take(f.bad_checksum);
    bad_esc = take(f.bad_escape);
  }
  if (vanish_now) {
    vanish();
    return;
  }
  std::vector<uint8_t> payload{seq, uint8_t(other ? addr + 1 : addr), cmd, status};
  payload.insert(payload.end(), data.begin(), data.end());
  std::vector<uint8_t> out;
  if (stale) {
    std::vector<uint8_t> old = payload;
    old[0] = uint8_t(seq - 1);
    out = encode(old);
  }
  std::vector<uint8_t> main = encode(payload, bad_sum ? 0x5A : 0);
  if (bad_esc) main.insert(main.begin() + 1, {kEsc, 0x05});
  out.insert(out.end(), main.begin(), main.end());
  send(out);
}

}  // namespace vloader
