// The virtual_sensor program: options, its one line on stdout, the link it
// makes and removes, and a sensor that answers as told.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <climits>
#include <cstring>
#include <fstream>

#include "line.h"
#include "virtual_sensor.h"

namespace kl::vsensor {
namespace {

using testing::Bytes;
using testing::Line;
using testing::PortsFolderGuard;

std::string ProgramPath() {
  const char* dir = std::getenv("KL31_TOOLS_DIR");
  if (dir && *dir) return std::string(dir) + "/virtual_sensor";
  char self[PATH_MAX] = {};
  const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
  std::string path(self, n > 0 ? static_cast<size_t>(n) : 0);
  return path.substr(0, path.rfind('/') + 1) + "virtual_sensor";
}

class Program {
 public:
  explicit Program(std::vector<std::string> args) {
    args.insert(args.begin(), ProgramPath());
    int out[2];
    if (::pipe(out) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
      ::dup2(out[1], 1);
      ::close(out[0]);
      ::close(out[1]);
      std::vector<char*> argv;
      for (auto& a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      ::execv(argv[0], argv.data());
      ::_exit(127);
    }
    ::close(out[1]);
    out_ = out[0];
  }
  ~Program() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    if (out_ >= 0) ::close(out_);
  }

  // The first line on stdout (bounded wait), without its newline.
  std::string FirstLine() {
    std::string line;
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < until) {
      pollfd p{out_, POLLIN, 0};
      if (::poll(&p, 1, 100) <= 0) continue;
      char c = 0;
      if (::read(out_, &c, 1) != 1) break;
      if (c == '\n') return line;
      line += c;
    }
    return line;
  }

  // Sends a signal and returns the exit status (bounded wait), -1 if it hangs.
  int Stop(int sig) {
    ::kill(pid_, sig);
    for (int i = 0; i < 2000; ++i) {
      int status = 0;
      if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return -1;
  }

  int Wait() {
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

 private:
  pid_t pid_ = -1;
  int out_ = -1;
};

TEST(Program, AnswersAsConfiguredAndRemovesItsLinkOnExit) {
  PortsFolderGuard ports;
  Program p({"--com", "12", "--baud", "9600", "--address", "7", "--firmware", "8", "--seed", "3", "--fault",
             "crc:0x80:1"});
  const std::string line = p.FirstLine();
  const std::string link = ports.Path() + "/COM12";
  ASSERT_EQ(line.rfind("COM12 -> /dev/pts/", 0), 0u) << line;
  char target[256] = {};
  ASSERT_GT(::readlink(link.c_str(), target, sizeof target - 1), 0);
  EXPECT_EQ(line, std::string("COM12 -> ") + target);

  Line l;
  ASSERT_TRUE(l.Open(link, 9600)) << std::strerror(errno);
  ASSERT_TRUE(l.Send(BuildRequest(255, cmd::kGetIdent)));
  const Bytes ident = l.Read(12);
  ASSERT_EQ(ident.size(), 12u);
  EXPECT_EQ(ident[10], 8);
  ASSERT_TRUE(l.Send(BuildRequest(7, cmd::kGetPassport)));
  const Bytes passport = l.Read(22);
  ASSERT_EQ(passport.size(), 22u);
  EXPECT_EQ(passport[17], 7);
  EXPECT_EQ((passport[20] >> 2) & 7, 3) << "the baud code follows --baud";
  ASSERT_TRUE(l.Send(BuildRequest(7, cmd::kGetModel)));
  const Bytes model = l.Read(8);
  ASSERT_EQ(model.size(), 8u);
  EXPECT_NE(Crc8(model.data(), 7), model[7]) << "the fault from the command line";
  l.Close();

  EXPECT_EQ(p.Stop(SIGTERM), 0);
  struct stat st {};
  EXPECT_NE(::lstat(link.c_str(), &st), 0);
}

TEST(Program, StateFileAndInterrupt) {
  PortsFolderGuard ports;
  const std::string state = ports.Path() + "/state.txt";
  std::ofstream(state) << "model_code = KL30\naddress = 4\n";
  Program p({"--com", "2", "--state", state, "--pace"});
  ASSERT_EQ(p.FirstLine().rfind("COM2 -> ", 0), 0u);
  Line l;
  ASSERT_TRUE(l.Open(ports.Path() + "/COM2", 19200));
  ASSERT_TRUE(l.Send(BuildRequest(4, cmd::kGetModel)));
  const Bytes model = l.Read(8);
  ASSERT_EQ(model.size(), 8u);
  EXPECT_EQ(Bytes(model.begin() + 3, model.begin() + 7), (Bytes{'K', 'L', '3', '0'}));
  l.Close();
  EXPECT_EQ(p.Stop(SIGINT), 0);
  struct stat st {};
  EXPECT_NE(::lstat((ports.Path() + "/COM2").c_str(), &st), 0);
}

TEST(Program, RefusesBadOptions) {
  PortsFolderGuard ports;
  const std::vector<std::vector<std::string>> cases = {
      {},
      {"--com", "256"},
      {"--com", "1", "--baud", "12345"},
      {"--com", "1", "--fault", "sideways"},
      {"--com", "1", "--state", "/nonexistent/state.txt"},
      {"--com", "1", "--frobnicate"},
  };
  for (const auto& args : cases) {
    Program p(args);
    EXPECT_EQ(p.Wait(), 2) << (args.empty() ? "(none)" : args.back());
  }
}

// The control pipe pours into the virtual tank while the sensor runs, and the
// level echo follows.
TEST(Program, ControlPipePoursIntoTheTank) {
  PortsFolderGuard ports;
  const std::string pipe = ports.Path() + "/tank";
  Program p({"--com", "3", "--set", "tank=1", "--control", pipe});
  ASSERT_EQ(p.FirstLine().rfind("COM3 -> ", 0), 0u);
  Line l;
  ASSERT_TRUE(l.Open(ports.Path() + "/COM3", 19200));
  auto levelEcho = [&l](uint16_t* level, uint16_t* noLevel) {
    if (!l.Send(BuildRequest(1, cmd::kGetEcho, {11}))) return false;
    const Bytes echo = l.Read(kEchoBlockSize);
    if (echo.size() != kEchoBlockSize) return false;
    *level = static_cast<uint16_t>(echo[8 + 62] | (echo[8 + 63] << 8));
    *noLevel = static_cast<uint16_t>(echo[8 + 66] | (echo[8 + 67] << 8));
    return true;
  };
  uint16_t level = 0, noLevel = 0;
  ASSERT_TRUE(levelEcho(&level, &noLevel));
  EXPECT_NE(noLevel, 0) << "an empty tank gives no echo";
  { std::ofstream(pipe) << "pour 100\nbogus line\n"; }
  SensorState expected;
  ASSERT_TRUE(ApplyControlLine("pour 100", expected, nullptr));
  for (int i = 0; i < 500 && levelEcho(&level, &noLevel) && noLevel != 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(noLevel, 0);
  EXPECT_EQ(level, expected.level);
  l.Close();
  EXPECT_EQ(p.Stop(SIGTERM), 0);
  struct stat st {};
  EXPECT_NE(::lstat(pipe.c_str(), &st), 0) << "the pipe is removed on exit";
}

}  // namespace
}  // namespace kl::vsensor
