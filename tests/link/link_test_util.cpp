#include "link_test_util.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <thread>

#include "Unit_uart.h"

extern char** environ;

namespace kl::test {

namespace {

using Clock = std::chrono::steady_clock;

// Every test of this program resolves COM names in its own fresh folder, set
// before main runs so no thread ever sees the variable change.
struct PortsFolder {
  std::string dir;
  PortsFolder() {
    char tmpl[] = "/tmp/kl31-link-test.XXXXXX";
    const char* d = ::mkdtemp(tmpl);
    dir = d ? d : "/tmp";
    ::setenv("KL31_PORTS_DIR", dir.c_str(), 1);
  }
  ~PortsFolder() {
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
  }
};
PortsFolder& Folder() {
  static PortsFolder folder;
  return folder;
}
const bool kFolderReady = !Folder().dir.empty();

int MsLeft(Clock::time_point deadline) {
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return ms > 0 ? static_cast<int>(ms) : 0;
}

}  // namespace

const std::string& PortsDir() { return Folder().dir; }

int NextCom() {
  static std::atomic<int> next{40};
  return next++;
}

PtyPeer::PtyPeer(int com) : com_(com) {
  (void)kFolderReady;
  master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (master_ < 0) return;
  char name[128] = {};
  if (::grantpt(master_) != 0 || ::unlockpt(master_) != 0 || ::ptsname_r(master_, name, sizeof name) != 0) {
    ::close(master_);
    master_ = -1;
    return;
  }
  slave_path_ = name;
  // Our own slave handle keeps the master usable while the link is closed
  // between two opens; raw, so nothing is echoed before the link opens.
  slave_ = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  termios t{};
  if (slave_ >= 0 && ::tcgetattr(slave_, &t) == 0) {
    ::cfmakeraw(&t);
    ::tcsetattr(slave_, TCSANOW, &t);
  }
  link_ = PortsDir() + "/COM" + std::to_string(com);
  ::unlink(link_.c_str());
  if (::symlink(name, link_.c_str()) != 0) {
    ::close(master_);
    master_ = -1;
  }
}

PtyPeer::~PtyPeer() {
  if (!link_.empty()) ::unlink(link_.c_str());
  Unplug();
}

bool PtyPeer::LineSettings(termios* t) const {
  // Terminal settings asked on the master are those of the slave side.
  return master_ >= 0 && ::tcgetattr(master_, t) == 0;
}

int64_t PtyPeer::LineRate() const { return master_ >= 0 ? TtyOutputRate(master_) : -1; }

void PtyPeer::Unplug() {
  if (master_ >= 0) ::close(master_);
  master_ = -1;
  if (slave_ >= 0) ::close(slave_);
  slave_ = -1;
}

Bytes PtyPeer::Read(size_t n, int timeoutMs) {
  Bytes out;
  auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (out.size() < n && master_ >= 0) {
    pollfd p{master_, POLLIN, 0};
    const int left = MsLeft(deadline);
    if (left == 0) break;
    const int r = ::poll(&p, 1, left);
    if (r <= 0) continue;
    if (p.revents & POLLIN) {
      uint8_t buf[512];
      const ssize_t got = ::read(master_, buf, std::min(sizeof buf, n - out.size()));
      if (got > 0) {
        out.insert(out.end(), buf, buf + got);
        deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        continue;
      }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return out;
}

Bytes PtyPeer::ReadRequest(int timeoutMs) {
  Bytes head = Read(3, timeoutMs);
  if (head.size() < 3) return {};
  const size_t length = RequestLengthOf(head[2]);
  if (length <= 3) return head;
  Bytes rest = Read(length - 3, timeoutMs);
  head.insert(head.end(), rest.begin(), rest.end());
  return head.size() == length ? head : Bytes{};
}

Bytes PtyPeer::Drain(int quietMs) { return Read(1u << 20, quietMs); }

bool PtyPeer::Write(const Bytes& bytes, int timeoutMs) {
  size_t done = 0;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (done < bytes.size() && master_ >= 0) {
    const ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno != EAGAIN && errno != EINTR) return false;
    if (MsLeft(deadline) == 0) return false;
    pollfd p{master_, POLLOUT, 0};
    ::poll(&p, 1, 10);
  }
  return done == bytes.size();
}

Bytes Answer(uint8_t address, uint8_t command, const Bytes& data) {
  Bytes f;
  f.reserve(data.size() + 4);
  f.push_back(kUartAnswerMarker);
  f.push_back(address);
  f.push_back(command);
  for (uint8_t b : data) f.push_back(b);
  f.push_back(UartCrc8(f.size(), f.data()));
  return f;
}

Bytes EchoAnswer(uint8_t address, int n, uint16_t (*fill)(int block, int word)) {
  Bytes f(static_cast<size_t>(n > 0 ? n : 0) * kUartEchoBlockSize, 0);
  for (int k = 0; k < n; ++k) {
    uint8_t* b = f.data() + static_cast<size_t>(k) * kUartEchoBlockSize;
    uint16_t sum = 0;
    for (int i = 0; i < 64; ++i) {
      const uint16_t w = fill(k, i);
      b[8 + 2 * i] = static_cast<uint8_t>(w);
      b[9 + 2 * i] = static_cast<uint8_t>(w >> 8);
      sum = static_cast<uint16_t>(sum + w);
    }
    b[136] = static_cast<uint8_t>(sum);
    b[137] = static_cast<uint8_t>(sum >> 8);
  }
  if (n == 0) f.resize(4, 0);
  f[0] = kUartAnswerMarker;
  f[1] = address;
  f[2] = SVC_GET_ECHO;
  f[3] = static_cast<uint8_t>(n);
  return f;
}

size_t RequestLengthOf(uint8_t command) {
  switch (command) {
    case 0x22:
    case 0x28:
    case 0x2A:
    case 0x32:
    case 0x54:
    case 0x55:
    case 0x56:
    case 0x57:
    case 0x6D:
    case 0x72:
      return 5;
    case 0x24:
    case 0x26:
    case 0x2C:
    case 0x39:
    case 0x70:
      return 6;
    case 0x30:
      return 7;
    case 0x20:
    case 0x37:
      return 8;
    case 0x93:
      return 13;
    case 0x6E:
      return 133;
    default:
      return 4;
  }
}

std::string ToolPath(const std::string& name) {
  const char* dir = std::getenv("KL31_TOOLS_DIR");
  if (dir && *dir) return std::string(dir) + "/" + name;
  std::error_code ec;
  const auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
  return (ec ? std::filesystem::path(".") : self.parent_path()).string() + "/" + name;
}

int RunProgram(const std::string& path, const std::vector<std::string>& args, std::string* out,
               int timeoutMs) {
  int pipefd[2];
  if (::pipe2(pipefd, O_CLOEXEC) != 0) return -1;
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_adddup2(&fa, pipefd[1], 1);
  posix_spawn_file_actions_adddup2(&fa, pipefd[1], 2);
  std::vector<std::string> all = {path};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  const int rc = ::posix_spawn(&pid, path.c_str(), &fa, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&fa);
  ::close(pipefd[1]);
  if (rc != 0) {
    ::close(pipefd[0]);
    return -1;
  }
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    pollfd p{pipefd[0], POLLIN, 0};
    const int left = MsLeft(deadline);
    if (left == 0) break;
    if (::poll(&p, 1, left) <= 0) continue;
    char buf[512];
    const ssize_t n = ::read(pipefd[0], buf, sizeof buf);
    if (n <= 0) break;
    out->append(buf, static_cast<size_t>(n));
  }
  ::close(pipefd[0]);
  if (MsLeft(deadline) == 0) ::kill(pid, SIGKILL);
  int status = 0;
  if (::waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace kl::test
