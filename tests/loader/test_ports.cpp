// The loader's port list: the same COM names as the service tool's list,
// and how a refreshed list keeps the technician's choice.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "Unit_uart.h"
#include "ldr_app.h"
#include "ldr_link.h"
#include "loader_test_util.h"

namespace {

using Names = std::vector<std::string>;

// A pseudo-terminal that nobody answers on, linked into the ports folder.
struct Pty {
  int master = -1;
  std::string slave;
  Pty() {
    master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    char name[128] = {};
    if (master >= 0 && grantpt(master) == 0 && unlockpt(master) == 0 &&
        ptsname_r(master, name, sizeof name) == 0)
      slave = name;
  }
  ~Pty() {
    if (master >= 0) close(master);
  }
};

TEST(LoaderPorts, SystemDevicesHaveTheServiceToolsNames) {
  for (int n : {0, 1, 10, 11, 20, 21, 29, 30, 31, 255}) {
    SCOPED_TRACE(n);
    EXPECT_EQ(ldr_system_device(n), kl::UartSystemDeviceName(n));
  }
  EXPECT_EQ(ldr_system_device(30), "/dev/ttyACM9");
  EXPECT_EQ(kl::UartSystemDeviceName(30), "/dev/ttyACM9");
  EXPECT_EQ(ldr_system_device(31), "");
}

TEST(LoaderPorts, ListsWhatTheServiceToolListsForTheSamePortsFolder) {
  ldrtest::TempDir ports;
  setenv("KL31_PORTS_DIR", ports.path().c_str(), 1);
  Pty pty;
  ASSERT_FALSE(pty.slave.empty());
  for (const char* name : {"COM0", "COM29", "COM30", "COM31", "COM255", "COM07", "com8", "COM256"})
    ASSERT_EQ(symlink(pty.slave.c_str(), ports.file(name).c_str()), 0) << name;
  ASSERT_EQ(symlink(ports.file("gone").c_str(), ports.file("COM40").c_str()), 0);

  Names tool;
  for (const kl::ComPortInfo& p : kl::UartListPorts()) tool.push_back(p.name);
  const Names loader = ldr_list_ports();
  // The loader leaves out what it cannot open right now: a system port
  // another program holds, or one this user may not open.
  Names openable;
  for (const std::string& name : tool)
    if (ldr_probe_port(name)) openable.push_back(name);
  EXPECT_EQ(loader, openable);
  for (const char* name : {"COM0", "COM29", "COM30", "COM31", "COM255"})
    EXPECT_EQ(std::count(tool.begin(), tool.end(), name), 1) << name;
  for (const char* name : {"COM0", "COM29", "COM30", "COM31", "COM255"})
    EXPECT_EQ(std::count(loader.begin(), loader.end(), name), 1) << name;
  for (const char* name : {"COM07", "com8", "COM256", "COM40"})
    EXPECT_EQ(std::count(loader.begin(), loader.end(), name), 0) << name;
  unsetenv("KL31_PORTS_DIR");
}

TEST(LoaderPorts, RefreshKeepsTheSelectedPort) {
  struct Case {
    const char* name;
    Names old_entries;
    std::string selected;
    Names fresh;
    Names want;
  } cases[] = {
      {"a port plugged in later appears", {"COM3"}, "COM3", {"COM3", "COM11"}, {"COM3", "COM11"}},
      {"a gone port leaves", {"COM3", "COM11"}, "COM3", {"COM3"}, {"COM3"}},
      {"the selected gone port stays in its place",
       {"COM3", "COM11", "COM21"},
       "COM11",
       {"COM3", "COM21"},
       {"COM3", "COM11", "COM21"}},
      {"selected and last", {"COM3", "COM30"}, "COM30", {"COM3"}, {"COM3", "COM30"}},
      {"a typed name is no entry", {"COM3"}, "COM99", {"COM3"}, {"COM3"}},
      {"nothing selected", {"COM3"}, "", {}, {}},
      {"empty before, ports now", {}, "", {"COM1", "COM5"}, {"COM1", "COM5"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(ldr_merge_port_list(c.old_entries, c.selected, c.fresh), c.want);
  }
}

}  // namespace
