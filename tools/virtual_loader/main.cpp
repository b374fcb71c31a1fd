// virtual_loader: a virtual Varon 2.0 device on a pseudo-terminal, linked into
// the ports folder as a COM name, until interrupted.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

#include "virtual_loader.h"

namespace {
volatile std::sig_atomic_t g_stop = 0;
void on_signal(int) { g_stop = 1; }

void usage() {
  std::fprintf(stderr,
               "usage: virtual_loader [--port COM<n>] [--ports-dir DIR] [--seed N] [--pace]\n"
               "                      [--address N] [--type XXXX] [--serial N|none] [--no-app]\n"
               "                      [--silent-ms N] [--drop-permille N] [--error-code 0xNN]\n");
}

unsigned long number(const char* s) { return std::strtoul(s, nullptr, 0); }
}  // namespace

int main(int argc, char** argv) {
  vloader::Config config;
  vloader::Faults faults;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto value = [&]() -> const char* {
      if (i + 1 >= argc) {
        usage();
        std::exit(2);
      }
      return argv[++i];
    };
    if (a == "--port")
      config.com_name = value();
    else if (a == "--ports-dir")
      config.ports_dir = value();
    else if (a == "--seed")
      config.seed = uint32_t(number(value()));
    else if (a == "--pace")
      config.paced = true;
    else if (a == "--address")
      config.address = uint8_t(number(value()));
    else if (a == "--type")
      config.identity.type = value();
    else if (a == "--serial") {
      const char* v = value();
      config.identity.serial = std::strcmp(v, "none") == 0 ? vloader::kNoSerial : uint32_t(number(v));
    } else if (a == "--no-app") {
      config.identity.app_version = 0xFFFF;
      config.identity.app_date = 0xFFFFFFFF;
      config.identity.required_boot_version = 0xFFFF;
    } else if (a == "--silent-ms")
      faults.silent_until_ms = long(number(value()));
    else if (a == "--drop-permille")
      faults.drop_permille = int(number(value()));
    else if (a == "--error-code") {
      faults.error_code = uint8_t(number(value()));
      faults.error_count = 1 << 30;
    } else {
      usage();
      return 2;
    }
  }
  auto clock = std::make_shared<vloader::SteadyClock>();
  config.clock = clock;
  faults.silent_until_ms += clock->now_ms();
  vloader::Device device(config);
  std::string error;
  if (!device.start(&error)) {
    std::fprintf(stderr, "virtual_loader: %s\n", error.c_str());
    return 1;
  }
  device.set_faults(faults);
  std::signal(SIGINT, on_signal);
  std::signal(SIGTERM, on_signal);
  std::printf("virtual_loader: %s -> %s (address %u, seed %u%s)\n", device.link_path().c_str(),
              device.slave_path().c_str(), unsigned(config.address), unsigned(config.seed),
              config.paced ? ", paced" : "");
  std::fflush(stdout);
  size_t shown = 0;
  while (!g_stop && !device.vanished()) {
    usleep(100000);
    size_t n = device.record_count();
    if (n != shown) {
      std::printf("virtual_loader: %zu records received\n", n);
      std::fflush(stdout);
      shown = n;
    }
  }
  std::printf("virtual_loader: %zu requests, %zu records, activated: %s\n", device.request_count(),
              device.record_count(), device.activated() ? "yes" : "no");
  return 0;
}
