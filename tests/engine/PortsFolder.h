// A ports folder of the test's own, named in KL31_PORTS_DIR while it lives,
// so that the virtual sensor's COM link never meets a real one.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <string>
#include <system_error>

namespace kl::test {

struct PortsFolder {
  std::filesystem::path dir;
  PortsFolder() {
    char tmpl[] = "/tmp/kl31-engine-XXXXXX";
    if (const char* made = ::mkdtemp(tmpl)) dir = made;
    ::setenv("KL31_PORTS_DIR", dir.c_str(), 1);
  }
  ~PortsFolder() {
    std::error_code ec;
    if (!dir.empty()) std::filesystem::remove_all(dir, ec);
  }
  PortsFolder(const PortsFolder&) = delete;
  PortsFolder& operator=(const PortsFolder&) = delete;
};

}  // namespace kl::test
