// virtual_sensor: a KL31 sensor on a pseudo-terminal, linked as COM<n>.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <thread>

#include "virtual_sensor.h"

namespace {

void Usage() {
  std::fprintf(stderr,
               "usage: virtual_sensor --com N [--baud B] [--address A] [--firmware V]\n"
               "         [--model XXXX] [--state FILE] [--set key=value]... [--pace]\n"
               "         [--seed S] [--fault kind:cmd:count:param]... [--control FIFO]\n"
               "fault kinds: none delay crc echosum marker cut address command status double\n");
}

bool ToInt(const char* text, long long lo, long long hi, long long& out) {
  char* end = nullptr;
  errno = 0;
  const long long v = std::strtoll(text, &end, 0);
  if (errno != 0 || end == text || *end != '\0' || v < lo || v > hi) return false;
  out = v;
  return true;
}

// The control channel: a named pipe whose lines ("pour 10", "drain 2.5",
// "set level=1200") change the running sensor. Opened for reading and
// writing, so that writers coming and going never end the stream.
class ControlChannel {
 public:
  bool Open(const std::string& path, std::string* error) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0 && !S_ISFIFO(st.st_mode)) {
      *error = path + " exists and is not a named pipe";
      return false;
    }
    if (::mkfifo(path.c_str(), 0600) != 0 && errno != EEXIST) {
      *error = "mkfifo " + path + ": " + std::strerror(errno);
      return false;
    }
    fd_ = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0) {
      *error = "open " + path + ": " + std::strerror(errno);
      return false;
    }
    path_ = path;
    return true;
  }
  void Run(kl::vsensor::VirtualSensor& sensor) {
    thread_ = std::thread([this, &sensor] { Loop(sensor); });
  }
  void Close() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    if (fd_ >= 0) ::close(fd_);
    if (!path_.empty()) ::unlink(path_.c_str());
  }

 private:
  void Loop(kl::vsensor::VirtualSensor& sensor) {
    std::string pending;
    char buf[256];
    while (!stop_) {
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, 100) <= 0) continue;
      const ssize_t n = ::read(fd_, buf, sizeof buf);
      if (n <= 0) continue;
      pending.append(buf, static_cast<size_t>(n));
      for (size_t eol; (eol = pending.find('\n')) != std::string::npos;) {
        const std::string line = pending.substr(0, eol);
        pending.erase(0, eol + 1);
        if (line.find_first_not_of(" \t\r") == std::string::npos) continue;
        std::string error;
        if (!sensor.Control(line, &error)) std::fprintf(stderr, "virtual_sensor: %s\n", error.c_str());
      }
      if (pending.size() > 4096) pending.clear();  // no line is that long
    }
  }

  int fd_ = -1;
  std::string path_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace

int main(int argc, char** argv) {
  using namespace kl::vsensor;
  SensorState state;
  std::vector<Fault> faults;
  std::vector<std::pair<std::string, std::string>> settings;
  long long com = -1, seed = 1;
  bool pace = false, flagsGiven = false, baudGiven = false;
  std::string stateFile, controlPath, error;

  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&]() -> const char* {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "virtual_sensor: %s needs a value\n", arg.c_str());
        std::exit(2);
      }
      return argv[++i];
    };
    if (arg == "--com") {
      if (!ToInt(value(), 0, 255, com)) return Usage(), 2;
    } else if (arg == "--baud") {
      settings.emplace_back("baud", value());
      baudGiven = true;
    } else if (arg == "--address") {
      settings.emplace_back("address", value());
    } else if (arg == "--firmware") {
      settings.emplace_back("firmware", value());
    } else if (arg == "--model") {
      settings.emplace_back("model_code", value());
    } else if (arg == "--state") {
      stateFile = value();
    } else if (arg == "--set") {
      const std::string kv = value();
      const size_t eq = kv.find('=');
      if (eq == std::string::npos) return Usage(), 2;
      settings.emplace_back(kv.substr(0, eq), kv.substr(eq + 1));
      flagsGiven |= kv.substr(0, eq) == "flags";
      baudGiven |= kv.substr(0, eq) == "baud";
    } else if (arg == "--control") {
      controlPath = value();
    } else if (arg == "--pace") {
      pace = true;
    } else if (arg == "--seed") {
      if (!ToInt(value(), 0, INT64_MAX, seed)) return Usage(), 2;
    } else if (arg == "--fault") {
      Fault f;
      if (!ParseFault(value(), f, &error)) {
        std::fprintf(stderr, "virtual_sensor: %s\n", error.c_str());
        return 2;
      }
      faults.push_back(f);
    } else if (arg == "--help" || arg == "-h") {
      Usage();
      return 0;
    } else {
      std::fprintf(stderr, "virtual_sensor: unknown option %s\n", arg.c_str());
      Usage();
      return 2;
    }
  }
  if (com < 0) {
    Usage();
    return 2;
  }
  if (!stateFile.empty() && !LoadStateFile(stateFile, state, &error)) {
    std::fprintf(stderr, "virtual_sensor: %s\n", error.c_str());
    return 2;
  }
  for (const auto& [key, val] : settings) {
    if (!ApplySetting(key, val, state, &error)) {
      std::fprintf(stderr, "virtual_sensor: %s\n", error.c_str());
      return 2;
    }
  }
  // A rate given on the command line is also the configured one.
  if (baudGiven && !flagsGiven)
    state.flags = static_cast<uint8_t>((state.flags & ~0x1Cu) | (CodeFromBaud(state.baud) << 2));

  // Signals are taken by sigwait below, so block them before the worker starts.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  sigaddset(&stopSignals, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  signal(SIGPIPE, SIG_IGN);

  VirtualSensor sensor(state, static_cast<uint64_t>(seed));
  sensor.SetPacing(pace);
  for (const Fault& f : faults) sensor.InjectFault(f);
  if (!sensor.Start(static_cast<int>(com), &error)) {
    std::fprintf(stderr, "virtual_sensor: %s\n", error.c_str());
    return 1;
  }
  ControlChannel control;
  if (!controlPath.empty()) {
    if (!control.Open(controlPath, &error)) {
      std::fprintf(stderr, "virtual_sensor: %s\n", error.c_str());
      sensor.Stop();
      return 1;
    }
    control.Run(sensor);
  }
  std::printf("%s -> %s\n", sensor.PortName().c_str(), sensor.SlavePath().c_str());
  std::fflush(stdout);

  int sig = 0;
  sigwait(&stopSignals, &sig);
  control.Close();
  sensor.Stop();
  return 0;
}
