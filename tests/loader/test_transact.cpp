// Transactions over the real POSIX port layer against the virtual device on a
// pseudo-terminal.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

#include "ldr_app.h"
#include "ldr_link.h"
#include "loader_test_util.h"
#include "virtual_loader.h"

namespace {

class LoaderLink : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("KL31_PORTS_DIR", ports.path().c_str(), 1);
    start_device({});
  }
  void TearDown() override {
    ldr_close_port(link);
    device.reset();
    unsetenv("KL31_PORTS_DIR");
  }
  void start_device(vloader::Config config) {
    config.com_name = "COM5";
    config.ports_dir = ports.path();
    device = std::make_unique<vloader::Device>(config);
    std::string error;
    ASSERT_TRUE(device->start(&error)) << error;
    link.command_event = &event;
    ASSERT_EQ(ldr_open_port(link, "COM5"), 0);
  }
  int connect(uint8_t address = 255) {
    ldr_begin_request(link, address, CMD_CONNECT);
    return ldr_transact(link, 3, address);
  }

  ldrtest::TempDir ports;
  std::unique_ptr<vloader::Device> device;
  LdrEvent event;
  LdrLink link;
};

TEST_F(LoaderLink, FaultsAndTheirOutcome) {
  struct Case {
    const char* name;
    vloader::Faults faults;
    int result;
    size_t requests;  // how often the device saw the request
  };
  auto f = [](auto edit) {
    vloader::Faults x;
    edit(x);
    return x;
  };
  const Case cases[] = {
      {"clean", {}, 4, 1},
      {"stale reply first: listen, do not resend", f([](auto& x) { x.stale_first = 1; }), 4, 1},
      {"reply for another address: resend", f([](auto& x) { x.other_address = 1; }), 4, 2},
      {"bad checksum: resend", f([](auto& x) { x.bad_checksum = 1; }), 4, 2},
      {"bad escape: resend", f([](auto& x) { x.bad_escape = 1; }), 4, 2},
      {"three silent attempts", f([](auto& x) { x.no_reply = 3; }), 4, 4},
      {"four silent attempts", f([](auto& x) { x.no_reply = 4; }), LDR_ERR_EXCHANGE, 4},
      {"four bad checksums", f([](auto& x) { x.bad_checksum = 4; }), LDR_ERR_EXCHANGE, 4},
      {"device code 0xF8", f([](auto& x) { x.error_count = 1, x.error_code = 0xF8; }), -2106, 1},
      {"device code 0xFB", f([](auto& x) { x.error_count = 1, x.error_code = 0xFB; }), -2105, 1},
      {"device code 0xF9", f([](auto& x) { x.error_count = 1, x.error_code = 0xF9; }), -2108, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    device->set_faults(c.faults);
    const size_t before = device->request_count();
    const uint8_t seq = link.sequence;
    EXPECT_EQ(connect(), c.result);
    EXPECT_EQ(device->request_count() - before, c.requests);
    EXPECT_EQ(link.sequence, uint8_t(seq + 1));
  }
}

TEST_F(LoaderLink, SequenceNumberRunsThroughTheWholeRunAndWraps) {
  device->edit_faults([](auto& x) { x.no_reply = 4; });
  EXPECT_EQ(connect(), LDR_ERR_EXCHANGE);  // a failed one counts as well
  for (int i = 1; i < 256; ++i) {
    if (i == 128) {  // reopening the port keeps the number
      ldr_close_port(link);
      ASSERT_EQ(ldr_open_port(link, "COM5"), 0);
    }
    ASSERT_EQ(connect(), 4) << i;
  }
  EXPECT_EQ(link.sequence, 0);
  const auto requests = device->requests();
  ASSERT_EQ(requests.size(), 4u + 255u);
  for (size_t i = 4; i < requests.size(); ++i) EXPECT_EQ(requests[i].sequence, uint8_t(i - 3));
}

TEST_F(LoaderLink, RepliesOnlyToItsAddressOrBroadcast) {
  EXPECT_EQ(connect(1), 4);
  EXPECT_EQ(connect(7), LDR_ERR_EXCHANGE);
  EXPECT_EQ(connect(255), 4);
}

TEST_F(LoaderLink, CommandEventStopsBeforeSendingAndDuringTheWait) {
  event.set();
  EXPECT_EQ(connect(), LDR_ERR_STOPPED);
  EXPECT_EQ(device->request_count(), 0u);
  EXPECT_TRUE(event.is_set()) << "the link must not consume the command";
  event.reset();

  device->edit_faults([](auto& x) { x.no_reply = 100; });
  std::thread stopper([&] {
    ldrtest::wait_for([&] { return device->request_count() >= 1; });
    event.set();
  });
  EXPECT_EQ(connect(), LDR_ERR_STOPPED);
  stopper.join();
  EXPECT_LE(device->request_count(), 2u);
}

TEST_F(LoaderLink, ReadDeviceInfoNotFoundAndHalfAnswering) {
  ldrtest::RecordingDialog dialog;
  device->edit_faults([](auto& x) { x.mute_commands = {CMD_CONNECT}; });
  EXPECT_EQ(ldr_read_device_info(link, dialog, 255), LDR_ERR_NOT_FOUND);
  EXPECT_EQ(device->request_count(CMD_GET_INFO), 0u);
  device->edit_faults([](auto& x) { x.mute_commands = {CMD_GET_INFO}; });
  EXPECT_EQ(ldr_read_device_info(link, dialog, 255), LDR_ERR_EXCHANGE);
  EXPECT_EQ(dialog.get_text(LDR_ID_TYPE), "");
  EXPECT_EQ(dialog.progress().back(), (ldrtest::RecordingDialog::Progress{"Чтение данных", "00%"}));
  device->edit_faults([](auto& x) {
    x.mute_commands.clear();
    x.error_count = 1, x.error_code = 0xFE, x.error_command = CMD_CONNECT;
  });
  EXPECT_EQ(ldr_read_device_info(link, dialog, 255), -2102);
}

TEST_F(LoaderLink, DeviceFieldsFromTheInformationRecord) {
  struct Case {
    const char* name;
    vloader::Identity id;
    const char *type, *serial, *boot, *app, *required;
  };
  vloader::Identity plain;
  vloader::Identity bare;
  bare.serial = vloader::kNoSerial;
  bare.app_version = 0xFFFF;
  bare.app_date = 0xFFFFFFFF;
  bare.required_boot_version = 0xFFFF;
  bare.boot_version = 0xFFFF;
  bare.boot_date = 0xFFFFFFFF;
  vloader::Identity short_type = plain;
  short_type.type = "AB";
  short_type.serial = 0xABCDEF;
  const Case cases[] = {
      {"full", plain, "K31A", "1234", "01.02 (15.06.2018)", "02.03 (01.09.2021)", "01.02"},
      {"nothing set", bare, "K31A", "не задан", "00.00 (00.00.0000)", "отсутствует", "отсутствует"},
      {"short type", short_type, "AB", "11259375", "01.02 (15.06.2018)", "02.03 (01.09.2021)", "01.02"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    device->set_identity(c.id);
    ldrtest::RecordingDialog dialog;
    ASSERT_EQ(ldr_read_device_info(link, dialog, 255), 0);
    EXPECT_EQ(dialog.get_text(LDR_ID_TYPE), c.type);
    EXPECT_EQ(dialog.get_text(LDR_ID_SERIAL), c.serial);
    EXPECT_EQ(dialog.get_text(LDR_ID_BOOT), c.boot);
    EXPECT_EQ(dialog.get_text(LDR_ID_APP), c.app);
    EXPECT_EQ(dialog.get_text(LDR_ID_REQUIRED_BOOT), c.required);
    using P = ldrtest::RecordingDialog::Progress;
    EXPECT_EQ(dialog.progress(), (std::vector<P>{{"Чтение данных", "00%"}, {"Чтение завершено", "100%"}}));
  }
}

TEST_F(LoaderLink, PortIsExclusiveAndReopens) {
  EXPECT_EQ(ldr_probe_port("COM5"), 0) << "an open port must not be listed";
  LdrLink second;
  EXPECT_EQ(ldr_open_port(second, "COM5"), LDR_ERR_PORT);
  ldr_close_port(link);
  // The exclusive flag must be gone after the close, also for a plain user.
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(ldr_probe_port("COM5"), 1);
    ASSERT_EQ(ldr_open_port(link, "COM5"), 0);
    EXPECT_EQ(connect(), 4);
    ldr_close_port(link);
  }
  EXPECT_EQ(ldr_open_port(link, "\\\\.\\COM5"), 0) << "the device path form names the same port";
  EXPECT_EQ(ldr_open_port(link, "COM6"), LDR_ERR_PORT);
  EXPECT_EQ(link.fd, -1) << "a failed open leaves nothing open";
  EXPECT_EQ(ldr_open_port(link, ""), LDR_ERR_PORT);
}

TEST_F(LoaderLink, PortListShowsFreeLinkedPorts) {
  auto ports_listed = ldr_list_ports();
  EXPECT_EQ(std::count(ports_listed.begin(), ports_listed.end(), "COM5"), 0) << "held open by this test";
  ldr_close_port(link);
  ports_listed = ldr_list_ports();
  EXPECT_EQ(std::count(ports_listed.begin(), ports_listed.end(), "COM5"), 1);
}

TEST_F(LoaderLink, VanishedDeviceEndsInAnExchangeError) {
  device->edit_faults([](auto& x) { x.vanish_after_records = 0; });
  ldr_begin_request(link, 255, CMD_WRITE_BLOCK);
  std::memset(link.payload + 3, 0x55, LDR_RECORD_SIZE);
  EXPECT_EQ(ldr_transact(link, 3 + LDR_RECORD_SIZE, 255), LDR_ERR_EXCHANGE);
  EXPECT_TRUE(device->vanished());
  EXPECT_EQ(connect(), LDR_ERR_EXCHANGE);
}

TEST_F(LoaderLink, FailingWritesKeepThePaceOfTheAttempts) {
  // A pulled adapter: every write fails at once. Each attempt still takes
  // its 250 ms, so a caller that repeats the transaction does not spin.
  device->edit_faults([](auto& x) { x.vanish_after_records = 0; });
  ldr_begin_request(link, 255, CMD_WRITE_BLOCK);
  std::memset(link.payload + 3, 0x55, LDR_RECORD_SIZE);
  ASSERT_EQ(ldr_transact(link, 3 + LDR_RECORD_SIZE, 255), LDR_ERR_EXCHANGE);
  ASSERT_TRUE(device->vanished());
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(connect(), LDR_ERR_EXCHANGE);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(4 * LDR_WRITE_WAIT_MS - 20));

  // The wait gives way to Stop at once.
  std::thread stopper([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    event.set();
  });
  EXPECT_EQ(connect(), LDR_ERR_STOPPED);
  stopper.join();
}

class LoaderLinkPaced : public LoaderLink {
 protected:
  void SetUp() override {
    setenv("KL31_PORTS_DIR", ports.path().c_str(), 1);
    vloader::Config c;
    c.paced = true;
    start_device(c);
  }
};

TEST_F(LoaderLinkPaced, FullRecordsWithinTheReplyWaitAtLineSpeed) {
  // A full record frame needs longer on the line than the reply wait;
  // the wait must count from the end of the sending.
  const auto record = ldrtest::random_bytes(LDR_RECORD_SIZE, 5);
  for (int i = 0; i < 3; ++i) {
    ldr_begin_request(link, 255, CMD_WRITE_BLOCK);
    std::memcpy(link.payload + 3, record.data(), record.size());
    ASSERT_EQ(ldr_transact(link, 3 + LDR_RECORD_SIZE, 255), 4);
  }
  EXPECT_EQ(device->request_count(), 3u);
  ldr_begin_request(link, 255, CMD_READ_BLOCK);
  const uint8_t addr[4] = {0x00, 0x28, 0, 0};
  std::memcpy(link.payload + 3, addr, 4);
  ASSERT_EQ(ldr_transact(link, 7, 255), int(4 + LDR_RECORD_SIZE));
  EXPECT_EQ(std::vector<uint8_t>(link.payload + 4, link.payload + 4 + LDR_RECORD_SIZE),
            device->memory_block(0x2800));
}

}  // namespace
