// The virtual devices' COM names: a device killed hard leaves its link
// behind, and the next device on that name replaces it; a name a live device
// serves is refused, to either kind of device.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include "link_test_util.h"
#include "virtual_loader.h"
#include "virtual_sensor.h"

extern char** environ;

namespace kl {
namespace {

std::string Target(const std::string& link) {
  char to[512] = {};
  const ssize_t n = ::readlink(link.c_str(), to, sizeof to - 1);
  return n > 0 ? std::string(to, static_cast<size_t>(n)) : std::string();
}

std::string LinkOf(int com) { return test::PortsDir() + "/COM" + std::to_string(com); }

// A device program running in the background; its first line of output
// says that it is up (or why not).
struct Program {
  pid_t pid = -1;
  std::string line;

  Program(const std::string& name, const std::vector<std::string>& args) {
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, out[1], 1);
    posix_spawn_file_actions_adddup2(&fa, out[1], 2);
    std::vector<std::string> all = {test::ToolPath(name)};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (::posix_spawn(&pid, all[0].c_str(), &fa, nullptr, argv.data(), environ) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&fa);
    ::close(out[1]);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (pid > 0 && line.find('\n') == std::string::npos && std::chrono::steady_clock::now() < deadline) {
      pollfd p{out[0], POLLIN, 0};
      if (::poll(&p, 1, 100) <= 0) continue;
      char buf[256];
      const ssize_t n = ::read(out[0], buf, sizeof buf);
      if (n <= 0) break;
      line.append(buf, static_cast<size_t>(n));
    }
    ::close(out[0]);
  }
  // Gone without a chance to clean up.
  void KillHard() {
    if (pid <= 0) return;
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    pid = -1;
  }
  // The exit code of a program that ended by itself, -1 if it still runs.
  int ExitCode() {
    int status = 0;
    for (int i = 0; i < 300; ++i) {
      if (::waitpid(pid, &status, WNOHANG) == pid) {
        pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      }
      ::usleep(10000);
    }
    return -1;
  }
  ~Program() {
    if (pid > 0) {
      ::kill(pid, SIGTERM);
      ::waitpid(pid, nullptr, 0);
    }
  }
};

TEST(DeviceLinks, ADeviceKilledHardIsReplacedOnItsName) {
  struct Case {
    const char* program;
    std::vector<std::string> args;
    std::string upLine;  // what the program says when it is up
  };
  const int sensorCom = test::NextCom(), loaderCom = test::NextCom();
  const std::string loaderName = "COM" + std::to_string(loaderCom);
  const Case cases[] = {
      {"virtual_sensor", {"--com", std::to_string(sensorCom)}, "COM" + std::to_string(sensorCom) + " -> "},
      {"virtual_loader", {"--port", loaderName}, "virtual_loader: " + LinkOf(loaderCom) + " -> "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.program);
    Program first(c.program, c.args);
    ASSERT_NE(first.line.find(c.upLine), std::string::npos) << first.line;
    first.KillHard();
    // The new pseudo-terminal may well get the old one's number; the link
    // left behind then even points at it.
    Program second(c.program, c.args);
    EXPECT_NE(second.line.find(c.upLine), std::string::npos) << second.line;
    EXPECT_EQ(second.ExitCode(), -1) << "still running";
  }
}

TEST(DeviceLinks, ALinkToAPseudoTerminalNoDeviceServesIsReplaced) {
  // A terminal took the number of a killed device's pseudo-terminal: the
  // link points at something that exists, but no device stands behind it.
  test::PtyPeer someone(test::NextCom());
  ASSERT_TRUE(someone.ok());
  const int com = someone.com();
  vsensor::VirtualSensor sensor;
  std::string error;
  ASSERT_TRUE(sensor.Start(com, &error)) << error;
  EXPECT_EQ(Target(LinkOf(com)), sensor.SlavePath());
  sensor.Stop();

  test::PtyPeer another(test::NextCom());
  ASSERT_TRUE(another.ok());
  vloader::Config c;
  c.com_name = "COM" + std::to_string(another.com());
  c.ports_dir = test::PortsDir();
  vloader::Device device(c);
  ASSERT_TRUE(device.start(&error)) << error;
  EXPECT_EQ(Target(LinkOf(another.com())), device.slave_path());
}

TEST(DeviceLinks, ANameALiveDeviceServesIsRefused) {
  const int com = test::NextCom();
  const std::string name = "COM" + std::to_string(com);
  vsensor::VirtualSensor sensor;
  std::string error;
  ASSERT_TRUE(sensor.Start(com, &error)) << error;
  const std::string target = Target(LinkOf(com));

  vsensor::VirtualSensor secondSensor;
  EXPECT_FALSE(secondSensor.Start(com, &error));
  EXPECT_NE(error.find(name + " is in use"), std::string::npos) << error;
  vloader::Config c;
  c.com_name = name;
  c.ports_dir = test::PortsDir();
  vloader::Device device(c);
  EXPECT_FALSE(device.start(&error));
  EXPECT_NE(error.find(name + " is in use"), std::string::npos) << error;
  // Another process is refused as well, and says why.
  std::string out;
  EXPECT_EQ(test::RunProgram(test::ToolPath("virtual_loader"), {"--port", name}, &out, 30000), 1);
  EXPECT_NE(out.find("in use"), std::string::npos) << out;
  EXPECT_EQ(Target(LinkOf(com)), target) << "the live device keeps its link";

  // Once it has stopped, the name is free.
  sensor.Stop();
  EXPECT_TRUE(device.start(&error)) << error;
}

TEST(DeviceLinks, ALinkToARealPortIsLeftAlone) {
  const int com = test::NextCom();
  ASSERT_EQ(::symlink("/dev/null", LinkOf(com).c_str()), 0);
  vsensor::VirtualSensor sensor;
  std::string error;
  EXPECT_FALSE(sensor.Start(com, &error));
  EXPECT_NE(error.find("in use"), std::string::npos) << error;
  EXPECT_EQ(Target(LinkOf(com)), "/dev/null");
  ::unlink(LinkOf(com).c_str());
}

}  // namespace
}  // namespace kl
