// The worker thread and its command hand-over: search, activate, Stop and
// Exit, with a recording dialog and the virtual device on a pseudo-terminal.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "ldr_app.h"
#include "loader_test_util.h"
#include "virtual_loader.h"

namespace {

using P = ldrtest::RecordingDialog::Progress;

class LoaderWorker : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("KL31_PORTS_DIR", ports.path().c_str(), 1);
    clock = std::make_shared<vloader::ManualClock>();
    vloader::Config c;
    c.com_name = "COM2";
    c.ports_dir = ports.path();
    c.clock = clock;
    c.paced = paced;
    device = std::make_unique<vloader::Device>(c);
    std::string error;
    ASSERT_TRUE(device->start(&error)) << error;
    dialog.put(LDR_ID_PORT, "COM2");
    dialog.put(LDR_ID_ADDRESS, "255");
    app.own_folder = files.path() + "/";
    ASSERT_EQ(ldr_start_worker(app, dialog), 0);
  }
  void TearDown() override {
    // Exit the way the dialog does: the first Exit asks the worker to end,
    // the command it posts back closes.
    if (!ldr_dialog_command(app, LDR_ID_EXIT)) {
      ASSERT_TRUE(ldrtest::wait_for([&] { return !dialog.posted().empty(); }));
      EXPECT_TRUE(ldr_dialog_command(app, LDR_ID_EXIT));
    }
    device.reset();
    unsetenv("KL31_PORTS_DIR");
  }
  // Runs one command and waits until the worker is idle again.
  void run(int id) {
    const int changes = dialog.button_changes();
    ldr_dialog_command(app, id);
    ASSERT_TRUE(ldrtest::wait_for([&] { return dialog.button_changes() >= changes + 2; }));
    EXPECT_TRUE(dialog.buttons());
  }

  bool paced = false;
  ldrtest::TempDir ports, files;
  std::shared_ptr<vloader::ManualClock> clock;
  std::unique_ptr<vloader::Device> device;
  ldrtest::RecordingDialog dialog;
  LdrApp app;
};

TEST_F(LoaderWorker, SearchShowsTheDevice) {
  run(LDR_ID_SEARCH);
  EXPECT_TRUE(dialog.messages().empty());
  EXPECT_EQ(dialog.get_text(LDR_ID_TYPE), "K31A");
  EXPECT_EQ(dialog.get_text(LDR_ID_SERIAL), "1234");
  EXPECT_EQ(dialog.progress().back(), (P{"Чтение завершено", "100%"}));
  EXPECT_EQ(app.link.fd, -1) << "the port is closed between operations";
}

TEST_F(LoaderWorker, SearchWaitsForADeviceThatStartsAnsweringLater) {
  device->edit_faults([](auto& f) { f.silent_until_ms = 60000; });
  const int changes = dialog.button_changes();
  ldr_dialog_command(app, LDR_ID_SEARCH);
  ASSERT_TRUE(ldrtest::wait_for([&] { return device->request_count(CMD_CONNECT) >= 8; }));
  EXPECT_FALSE(dialog.buttons()) << "still searching";
  EXPECT_EQ(dialog.progress().back(), (P{"Чтение данных", "00%"}));
  clock->advance(60000);
  ASSERT_TRUE(ldrtest::wait_for([&] { return dialog.button_changes() >= changes + 2; }));
  EXPECT_TRUE(dialog.messages().empty());
  EXPECT_EQ(dialog.get_text(LDR_ID_TYPE), "K31A");
}

TEST_F(LoaderWorker, StopEndsASearchWithNoDevice) {
  device->edit_faults([](auto& f) { f.silent_until_ms = 1LL << 60; });
  const int changes = dialog.button_changes();
  ldr_dialog_command(app, LDR_ID_SEARCH);
  ASSERT_TRUE(ldrtest::wait_for([&] { return device->request_count(CMD_CONNECT) >= 5; }));
  ldr_dialog_command(app, LDR_ID_STOP);
  // The interrupted search, then the Stop itself passing through the worker.
  ASSERT_TRUE(ldrtest::wait_for([&] { return dialog.button_changes() >= changes + 4; }));
  EXPECT_EQ(dialog.messages(), std::vector<std::string>{ldrtest::error_box("Прервано пользователем.")});
  EXPECT_EQ(dialog.progress().back(), (P{"Чтение данных", "00%"}));
  EXPECT_TRUE(dialog.buttons());
}

TEST_F(LoaderWorker, PulledAdapterKeepsTheSearchAtItsPace) {
  device->edit_faults([](auto& f) { f.silent_until_ms = 1LL << 60; });
  const int changes = dialog.button_changes();
  ldr_dialog_command(app, LDR_ID_SEARCH);
  ASSERT_TRUE(ldrtest::wait_for([&] { return device->request_count(CMD_CONNECT) >= 1; }));
  device->stop();  // the port hangs up: every write fails at once
  dialog.clear_progress();
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  // One device information read (four attempts of 250 ms) shows its status
  // once; a search that spun would show it thousands of times.
  EXPECT_LE(dialog.progress().size(), 4u);
  ldr_dialog_command(app, LDR_ID_STOP);
  ASSERT_TRUE(ldrtest::wait_for([&] { return dialog.button_changes() >= changes + 4; }));
  EXPECT_EQ(dialog.messages(), std::vector<std::string>{ldrtest::error_box("Прервано пользователем.")});
}

TEST_F(LoaderWorker, StopGivenWhileTheWorkerTakesACommandIsNotLost) {
  // A search with no device runs until Stop; a Stop that the hand-over
  // swallowed would leave it running.
  device->edit_faults([](auto& f) { f.silent_until_ms = 1LL << 60; });
  std::atomic<bool> armed{true}, pressed{false}, held{false};
  std::thread presser;
  // The hook refers to this test's locals: gone before they are, also when
  // an assertion ends the test early.
  struct Unhook {
    LdrApp& app;
    std::thread& presser;
    ~Unhook() {
      {
        std::lock_guard lock(app.command_mutex);
        app.on_command_taken = nullptr;
      }
      if (presser.joinable()) presser.join();
    }
  } unhook{app, presser};
  app.on_command_taken = [&] {
    if (!armed.exchange(false)) return;
    presser = std::thread([&] {
      ldr_dialog_command(app, LDR_ID_STOP);
      pressed = true;
    });
    // Hold the hand-over open long enough for the press to land in it.
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(200);
    while (!pressed && std::chrono::steady_clock::now() < end)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    held = true;
  };
  const int changes = dialog.button_changes();
  ldr_dialog_command(app, LDR_ID_SEARCH);
  const bool stopped = ldrtest::wait_for([&] { return dialog.button_changes() >= changes + 4; }, 10);
  ASSERT_TRUE(ldrtest::wait_for([&] { return held.load(); }));
  ASSERT_TRUE(stopped) << "the search did not see the Stop";
  EXPECT_EQ(dialog.messages(), std::vector<std::string>{ldrtest::error_box("Прервано пользователем.")});
  EXPECT_TRUE(dialog.buttons());
}

TEST_F(LoaderWorker, StopWhileIdleDoesNothing) {
  run(LDR_ID_STOP);
  EXPECT_TRUE(dialog.messages().empty());
  EXPECT_EQ(device->request_count(), 0u);
}

TEST_F(LoaderWorker, ActivateAndPortFailures) {
  run(LDR_ID_ACTIVATE);
  EXPECT_TRUE(device->activated());
  EXPECT_EQ(dialog.progress().back(), (P{"Приложение активировано.", "100%"}));
  EXPECT_EQ(device->request_count(CMD_GET_INFO), 0u) << "activation reads no information first";

  const std::string ops[] = {"COM3", "", "COM2xxxx"};
  for (const auto& port : ops) {
    dialog.put(LDR_ID_PORT, port);
    run(LDR_ID_SEARCH);
  }
  EXPECT_EQ(dialog.messages(), std::vector<std::string>(3, ldrtest::error_box("COM-порт не открывается.")));
}

TEST_F(LoaderWorker, TypedPortNameOutsideTheListWorks) {
  vloader::Config c;
  c.com_name = "COM31";
  c.ports_dir = ports.path();
  vloader::Device other(c);
  ASSERT_TRUE(other.start());
  dialog.put(LDR_ID_PORT, "COM31");
  run(LDR_ID_SEARCH);
  EXPECT_TRUE(dialog.messages().empty());
  EXPECT_EQ(other.request_count(CMD_GET_INFO), 1u);
  EXPECT_EQ(device->request_count(), 0u);
}

TEST_F(LoaderWorker, AddressFromTheField) {
  dialog.put(LDR_ID_ADDRESS, "257");  // low 8 bits: the device's own address 1
  run(LDR_ID_SEARCH);
  dialog.put(LDR_ID_ADDRESS, "x");  // not a number: address 0, nobody answers
  const int changes = dialog.button_changes();
  ldr_dialog_command(app, LDR_ID_SEARCH);
  ASSERT_TRUE(ldrtest::wait_for([&] { return device->request_count() >= 2 + 3; }));
  ldr_dialog_command(app, LDR_ID_STOP);
  ASSERT_TRUE(ldrtest::wait_for([&] { return dialog.button_changes() >= changes + 4; }));
  const auto requests = device->requests();
  EXPECT_EQ(requests[0].address, 1);
  EXPECT_EQ(requests.back().address, 0);
}

TEST_F(LoaderWorker, ExitWhileIdleEndsTheWorkerThenCloses) {
  EXPECT_FALSE(ldr_dialog_command(app, LDR_ID_EXIT)) << "the dialog stays until the worker has ended";
  ASSERT_TRUE(ldrtest::wait_for([&] { return !dialog.posted().empty(); }));
  EXPECT_EQ(dialog.posted()[0].wparam & 0xFFFF, uint32_t(LDR_ID_EXIT));
  EXPECT_TRUE(ldr_dialog_command(app, LDR_ID_EXIT));
  EXPECT_TRUE(dialog.messages().empty());
}

class LoaderWorkerPaced : public LoaderWorker {
 protected:
  LoaderWorkerPaced() { paced = true; }
};

TEST_F(LoaderWorkerPaced, ExitDuringAModuleWrite) {
  const std::string path = files.file("m.k31");
  ldrtest::write_file(path, ldrtest::random_bytes(112 * 1030, 1));
  dialog.put(LDR_ID_FILE, path);
  ldr_dialog_command(app, LDR_ID_WRITE_MODULE);
  ASSERT_TRUE(ldrtest::wait_for([&] { return device->records().size() >= 1; }));
  EXPECT_FALSE(ldr_dialog_command(app, LDR_ID_EXIT));
  ASSERT_TRUE(ldrtest::wait_for([&] { return !dialog.posted().empty(); }));
  EXPECT_EQ(dialog.messages(), std::vector<std::string>{ldrtest::error_box("Прервано пользователем.")});
  EXPECT_FALSE(dialog.buttons()) << "an ending worker leaves the buttons disabled";
  EXPECT_LT(device->records().size(), 112u);
  EXPECT_TRUE(ldr_dialog_command(app, LDR_ID_EXIT));
}

TEST(LoaderWorkerStart, ExitWithoutAWorkerClosesAtOnce) {
  LdrApp app;
  EXPECT_TRUE(ldr_dialog_command(app, LDR_ID_EXIT));
  EXPECT_FALSE(ldr_dialog_command(app, LDR_ID_SEARCH));
}

}  // namespace
