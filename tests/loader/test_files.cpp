// Module files and device data files: the operations behind the write and
// save buttons, with real files and the virtual device on a pseudo-terminal.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <thread>

#include "ldr_app.h"
#include "loader_test_util.h"
#include "virtual_loader.h"

namespace {

using Bytes = std::vector<uint8_t>;
using P = ldrtest::RecordingDialog::Progress;

class LoaderFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("KL31_PORTS_DIR", ports.path().c_str(), 1);
    start_device({});
    event = std::make_unique<LdrEvent>();
    app.link.command_event = event.get();
    app.write_pause_ms = 0;
    app.own_folder = files.path() + "/";
    dialog.put(LDR_ID_PORT, "COM4");
    dialog.put(LDR_ID_ADDRESS, "255");
  }
  void TearDown() override {
    ldr_close_port(app.link);
    device.reset();
    unsetenv("KL31_PORTS_DIR");
  }
  void start_device(vloader::Config config) {
    device.reset();
    config.com_name = "COM4";
    config.ports_dir = ports.path();
    config.seed = 77;
    device = std::make_unique<vloader::Device>(config);
    std::string error;
    ASSERT_TRUE(device->start(&error)) << error;
  }
  std::string module(const std::string& name, const Bytes& data) {
    const std::string path = files.file(name);
    ldrtest::write_file(path, data);
    dialog.put(LDR_ID_FILE, path);
    return path;
  }

  ldrtest::TempDir ports, files;
  std::unique_ptr<vloader::Device> device;
  std::unique_ptr<LdrEvent> event;
  LdrApp app;
  ldrtest::RecordingDialog dialog;
};

TEST_F(LoaderFilesTest, ModuleSizeIsCheckedBeforeThePortOpens) {
  struct Case {
    size_t size;
    int result;
  };
  const Case cases[] = {
      {1030, 0},
      {1031, LDR_ERR_NOT_MODULE},
      {0, LDR_ERR_NOT_MODULE},
      {1029, LDR_ERR_NOT_MODULE},
      {2 * 1030, 0},
      {112 * 1030, 0},
      {113 * 1030, LDR_ERR_NOT_MODULE},  // never written in part
      {200000, LDR_ERR_NOT_MODULE},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.size);
    const Bytes data = ldrtest::random_bytes(c.size, uint32_t(c.size));
    module("m.k31", data);
    const size_t before = device->records().size();
    const size_t requests = device->request_count();
    EXPECT_EQ(ldr_op_write_module(app, dialog), c.result);
    if (c.result == 0) {
      const auto records = device->records();
      ASSERT_EQ(records.size() - before, c.size / 1030);
      for (size_t i = 0; i < c.size / 1030; ++i)
        EXPECT_EQ(records[before + i],
                  Bytes(data.begin() + long(i * 1030), data.begin() + long((i + 1) * 1030)));
      EXPECT_EQ(dialog.progress().back(), (P{"Запись завершена", "100%"}));
    } else {
      EXPECT_EQ(device->request_count(), requests) << "nothing may reach the device";
    }
  }
  // The size test comes first: it wins over a port that cannot be opened.
  dialog.put(LDR_ID_PORT, "COM9");
  module("bad.k31", Bytes(1031, 1));
  EXPECT_EQ(ldr_op_write_module(app, dialog), LDR_ERR_NOT_MODULE);
  module("good.k31", Bytes(1030, 1));
  EXPECT_EQ(ldr_op_write_module(app, dialog), LDR_ERR_PORT);
}

TEST_F(LoaderFilesTest, ModuleFilesThatCannotBeRead) {
  dialog.put(LDR_ID_FILE, files.file("missing.k31"));
  EXPECT_EQ(ldr_op_write_module(app, dialog), LDR_ERR_FILE_OPEN);
  dialog.put(LDR_ID_FILE, files.path());
  EXPECT_EQ(ldr_op_write_module(app, dialog), LDR_ERR_FILE_READ);
  const std::string fifo = files.file("fifo.k31");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  dialog.put(LDR_ID_FILE, fifo);
  EXPECT_EQ(ldr_op_write_module(app, dialog), LDR_ERR_FILE_OPEN) << "must not wait for a writer";
  EXPECT_EQ(device->request_count(), 0u);
  // Only the first 255 characters of the field name the file.
  const size_t base = 255 - files.path().size() - 1 - 4;
  const std::string path = module(std::string(base, 'n') + ".k31", Bytes(1030, 3));
  ASSERT_EQ(path.size(), 255u);
  dialog.put(LDR_ID_FILE, path + "tail");
  EXPECT_EQ(ldr_op_write_module(app, dialog), 0);
}

TEST_F(LoaderFilesTest, WriteProgressAndDeviceRefresh) {
  module("six.k31", ldrtest::random_bytes(6 * 1030, 6));
  ASSERT_EQ(ldr_op_write_module(app, dialog), 0);
  const std::vector<P> expected = {
      {"Чтение данных", "00%"},
      {"Чтение завершено", "100%"},
      {"Запись", "00%"},
      {"Запись", "00%"},
      {"Запись", "16%"},
      {"Запись", "33%"},
      {"Запись", "50%"},
      {"Запись", "66%"},
      {"Запись", "83%"},
      {"Чтение данных", "00%"},
      {"Чтение завершено", "100%"},
      {"Запись завершена", "100%"},
  };
  EXPECT_EQ(dialog.progress(), expected);
  EXPECT_EQ(dialog.get_text(LDR_ID_TYPE), "K31A");
}

TEST_F(LoaderFilesTest, DeviceVerdictEndsTheWrite) {
  module("m.k31", ldrtest::random_bytes(3 * 1030, 9));
  device->edit_faults(
      [](auto& f) { f.error_count = 1, f.error_code = 0xFB, f.error_command = CMD_WRITE_BLOCK; });
  EXPECT_EQ(ldr_op_write_module(app, dialog), -2105);
  EXPECT_EQ(device->request_count(CMD_WRITE_BLOCK), 1u) << "records after the failure are not sent";
  EXPECT_EQ(app.link.fd, -1) << "the port is closed on every path";
}

TEST_F(LoaderFilesTest, ConfigurationSavedAndWrittenBackAsModule) {
  const std::string chosen = files.file("cfg");
  dialog.queue_choice({true, 0, chosen});
  ASSERT_EQ(ldr_op_save_device_data(app, dialog, false), 0);
  const Bytes saved = ldrtest::read_file(chosen + ".k31");
  ASSERT_EQ(saved.size(), 6180u);
  for (int i = 0; i < 6; ++i)
    EXPECT_EQ(Bytes(saved.begin() + i * 1030, saved.begin() + (i + 1) * 1030),
              device->memory_block(0x2800 + 0x400 * uint32_t(i)));
  const std::vector<P> reading = {
      {"Чтение конфигурации", "00%"}, {"Чтение конфигурации", "16%"}, {"Чтение конфигурации", "32%"},
      {"Чтение конфигурации", "48%"}, {"Чтение конфигурации", "64%"}, {"Чтение конфигурации", "80%"},
      {"Чтение конфигурации", "96%"}, {"Чтение завершено", "100%"},   {"Сохранение завершено", "100%"}};
  auto progress = dialog.progress();
  ASSERT_GE(progress.size(), reading.size());
  EXPECT_EQ(std::vector<P>(progress.end() - long(reading.size()), progress.end()), reading);

  const auto calls = dialog.file_dialogs();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_TRUE(calls[0].save);
  EXPECT_EQ(calls[0].default_name, "K31A_1234_CFG.k31");
  EXPECT_EQ(calls[0].initial_folder, files.path() + "/");

  dialog.put(LDR_ID_FILE, chosen + ".k31");
  ASSERT_EQ(ldr_op_write_module(app, dialog), 0);
  const auto records = device->records();
  ASSERT_EQ(records.size(), 6u);
  for (int i = 0; i < 6; ++i)
    EXPECT_EQ(records[size_t(i)], device->memory_block(0x2800 + 0x400 * uint32_t(i)));
}

TEST_F(LoaderFilesTest, CalibrationSaveNamesAndChooserOutcomes) {
  vloader::Identity id;
  id.serial = vloader::kNoSerial;
  device->set_identity(id);

  dialog.queue_choice({true, 0, files.file("data.K31")});
  ASSERT_EQ(ldr_op_save_device_data(app, dialog, true), 0);
  EXPECT_EQ(ldrtest::read_file(files.file("data.K31.k31")), device->memory_block(0x2000));
  std::vector<P> tail = {{"Чтение конфигурации", "00%"},
                         {"Чтение конфигурации", "100%"},
                         {"Чтение завершено", "100%"},
                         {"Сохранение завершено", "100%"}};
  auto progress = dialog.progress();
  EXPECT_EQ(std::vector<P>(progress.end() - 4, progress.end()), tail);

  dialog.queue_choice({true, 0, files.file(".k31")});
  ASSERT_EQ(ldr_op_save_device_data(app, dialog, true), 0);
  EXPECT_EQ(ldrtest::read_file(files.file(".k31.k31")).size(), 1030u);

  dialog.queue_choice({false, 0, ""});  // cancelled: nothing written, no message
  EXPECT_EQ(ldr_op_save_device_data(app, dialog, true), 0);
  dialog.queue_choice({false, 0x3003, ""});
  EXPECT_EQ(ldr_op_save_device_data(app, dialog, true), 0x3003);
  dialog.queue_choice({true, 0, files.file("no/such/folder/x")});
  EXPECT_EQ(ldr_op_save_device_data(app, dialog, true), LDR_ERR_FILE_CREATE);

  const auto calls = dialog.file_dialogs();
  ASSERT_EQ(calls.size(), 5u);
  EXPECT_EQ(calls[0].default_name, "K31A_не задан_CLB.k31");
  EXPECT_EQ(calls[0].initial_folder, files.path() + "/")
      << "the first chooser of the run starts in our folder";
  for (size_t i = 1; i < calls.size(); ++i) EXPECT_EQ(calls[i].initial_folder, "") << i;

  // The saved calibration is accepted as a one-record module.
  dialog.put(LDR_ID_FILE, files.file("data.K31.k31"));
  ASSERT_EQ(ldr_op_write_module(app, dialog), 0);
  ASSERT_EQ(device->records().size(), 1u);
  EXPECT_EQ(device->records()[0], device->memory_block(0x2000));
}

TEST_F(LoaderFilesTest, FindFilePutsThePathIntoTheField) {
  dialog.queue_choice({true, 0, "/x/y.k31"});
  EXPECT_EQ(ldr_op_find_file(app, dialog), 0);
  EXPECT_EQ(dialog.get_text(LDR_ID_FILE), "/x/y.k31");
  dialog.queue_choice({false, 0, ""});
  EXPECT_EQ(ldr_op_find_file(app, dialog), 0);
  EXPECT_EQ(dialog.get_text(LDR_ID_FILE), "/x/y.k31");
  const auto calls = dialog.file_dialogs();
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_FALSE(calls[0].save);
  EXPECT_EQ(calls[0].initial_folder, files.path() + "/");
  EXPECT_EQ(calls[1].initial_folder, "");
}

TEST_F(LoaderFilesTest, DeviceGoneOrSilentDuringSave) {
  device->edit_faults([](auto& f) { f.mute_commands = {CMD_READ_BLOCK}; });
  EXPECT_EQ(ldr_op_save_device_data(app, dialog, false), LDR_ERR_EXCHANGE);
  EXPECT_TRUE(dialog.file_dialogs().empty());
  device->edit_faults([](auto& f) { f.mute_commands = {CMD_CONNECT}; });
  EXPECT_EQ(ldr_op_save_device_data(app, dialog, false), LDR_ERR_NOT_FOUND);
  EXPECT_EQ(app.link.fd, -1);
}

TEST_F(LoaderFilesTest, VanishingDeviceMidWrite) {
  module("m.k31", ldrtest::random_bytes(10 * 1030, 10));
  device->edit_faults([](auto& f) { f.vanish_after_records = 4; });
  EXPECT_EQ(ldr_op_write_module(app, dialog), LDR_ERR_EXCHANGE);
  EXPECT_EQ(device->records().size(), 4u);
  EXPECT_EQ(ldr_op_write_module(app, dialog), LDR_ERR_PORT) << "the port is gone with the device";
}

class LoaderFilesPaced : public LoaderFilesTest {
 protected:
  void SetUp() override {
    LoaderFilesTest::SetUp();
    vloader::Config c;
    c.paced = true;
    start_device(c);
  }
};

TEST_F(LoaderFilesPaced, StopDuringAModuleWriteKeepsWhatWasAcknowledged) {
  const Bytes data = ldrtest::random_bytes(112 * 1030, 112);
  module("big.k31", data);
  int result = 1;
  std::thread op([&] { result = ldr_op_write_module(app, dialog); });
  ASSERT_TRUE(ldrtest::wait_for([&] { return device->records().size() >= 2; }));
  event->set();
  op.join();
  EXPECT_EQ(result, LDR_ERR_STOPPED);
  const auto records = device->records();
  ASSERT_GE(records.size(), 2u);
  ASSERT_LT(records.size(), 112u);
  for (size_t i = 0; i < records.size(); ++i)
    EXPECT_EQ(records[i], Bytes(data.begin() + long(i * 1030), data.begin() + long((i + 1) * 1030))) << i;
  EXPECT_EQ(app.link.fd, -1);
  EXPECT_EQ(dialog.progress().back().status, "Запись");
}

}  // namespace
