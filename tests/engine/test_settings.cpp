// Reading and writing the sensor's settings, end to end: the engine's jobs on
// the real POSIX link, a pseudo-terminal and the virtual sensor behind it.
// The test plays the settings page's part in the window operations.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "RecordingWindow.h"
#include "Unit_cmd.h"
#include "PortsFolder.h"
#include "virtual_sensor.h"

namespace kl {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

constexpr int kCom = 13;

using test::PortsFolder;

uint8_t WithBaud(uint8_t flags, int32_t baud) {
  return static_cast<uint8_t>((flags & ~0x1Cu) | (UartCodeFromBaud(baud) << 2));
}

// A sensor with something in every field the page shows, and bits 1 and 6
// of its flags set, which the page never shows.
vsensor::SensorState Sensor() {
  vsensor::SensorState s;
  s.address = 1;
  s.baud = 19200;
  s.date = (14u << 16) | (5u << 8) | 23u;
  s.serial = 4711;
  s.model = 31;
  s.firmware = 0x09;
  s.period = 7;
  s.flags = WithBaud(0x01 | 0x02 | 0x20 | 0x40, 19200);
  s.configByte = 0xA5;  // revision 5 in the low bits
  s.flags2 = 0x20;
  s.postFilter = 4;
  s.fuelType = 0;
  s.thermalCoef = 0.5f;
  s.soundSpeed = 1234.5f;
  return s;
}

struct SettingsJobs : ::testing::Test {
  PortsFolder ports;
  EngineRecords records;
  UartLink link;
  test::RecordingWindow window;
  LoadedTexts texts = LoadedTexts::Builtin();
  std::unique_ptr<vsensor::VirtualSensor> sensor;
  std::unique_ptr<TCmdThread> engine;
  int reopened = 0;

  void Start(vsensor::SensorState s) {
    sensor = std::make_unique<vsensor::VirtualSensor>(s, 3);
    std::string error;
    ASSERT_TRUE(sensor->Start(kCom, &error)) << error;
    records.link = LinkSettings{kCom, s.baud, s.address};
    ASSERT_EQ(UartOpen(link, kCom, s.baud), 0);
    window.records = &records;
    engine = std::make_unique<TCmdThread>(records, link, window, texts);
    window.engine = engine.get();
  }
  // What the main window does in AdoptNewBaud, with the rate the page chose.
  void FollowRate(int32_t chosen) {
    window.onNewBaud = [this, chosen] {
      records.link.baud = chosen;
      ++reopened;
      UartOpen(link, records.link.port, records.link.baud);
    };
  }
  void TearDown() override {
    window.Close();
    if (engine) engine->Terminate();
    engine.reset();
    UartClose(link);
  }
  void Finish() { engine->Terminate(); }
  // Waits until n jobs have run (bounded). Every settings job ends by
  // posting JOB_IDLE, which would replace a post made before it, so a test
  // posts its next job only once that has run.
  bool WaitJobs(std::uint64_t n) {
    for (int i = 0; i < 3000 && engine->JobsRun() < n; ++i) std::this_thread::sleep_for(10ms);
    return engine->JobsRun() >= n;
  }
  // The requests the sensor heard since the last ClearHistory, as
  // (address, command) pairs.
  std::vector<std::pair<int, int>> Heard() const {
    std::vector<std::pair<int, int>> out;
    for (const auto& f : sensor->ReceivedRequests()) out.emplace_back(f[1], f[2]);
    return out;
  }
  std::vector<std::string> CallsFrom(const std::string& first) const {
    auto calls = window.Calls();
    auto it = std::find(calls.begin(), calls.end(), first);
    return {it, calls.end()};
  }
};

TEST_F(SettingsJobs, ReadTakesEveryFieldAndFillsThePage) {
  Start(Sensor());
  engine->PostJob(JOB_READ_SETTINGS);
  ASSERT_TRUE(window.WaitFor("FillSettingsPage"));
  Finish();
  const std::vector<std::string> expected = {"SetBusy", "ShowDeviceStatus(0)", "SetIdle", "FillSettingsPage"};
  EXPECT_EQ(window.Calls(), expected);
  EXPECT_TRUE(window.Boxes().empty());
  const SettingsRecord& s = engine->settings;
  EXPECT_EQ(s.Date, (14u << 16) | (5u << 8) | 23u);
  EXPECT_EQ(s.Serial, 4711u);
  EXPECT_EQ(s.Model, 31);
  EXPECT_EQ(s.FirmwareVersion, 0x09);
  EXPECT_EQ(s.Address, 1);
  EXPECT_EQ(s.Period, 7);
  EXPECT_EQ(s.Flags, Sensor().flags);
  EXPECT_EQ(s.FlagsRead, Sensor().flags);
  EXPECT_EQ(s.Flags2, 0x20);
  EXPECT_EQ(s.Revision, 5);
  EXPECT_EQ(s.PostFilter, 4);
  EXPECT_EQ(records.fuel.FuelType, 0);
  EXPECT_EQ(records.fuel.ThermalCoef, 0.5f);
  EXPECT_EQ(records.fuel.SoundSpeed, 1234.5f);
  const std::vector<std::pair<int, int>> heard = {
      {1, SVC_GET_PASSPORT}, {1, SVC_GET_CONFIG}, {1, SVC_GET_POST_FILTER}, {1, SVC_GET_FUEL}};
  EXPECT_EQ(Heard(), heard);
  // The job ended by posting JOB_IDLE (taken already, or still waiting).
  const int32_t slot = engine->PeekSlot();
  EXPECT_TRUE(slot == JOB_IDLE || slot == kJobSlotEmpty) << slot;
}

struct LostRead {
  const char* name;
  uint8_t command;
  size_t heard;  // requests the sensor saw before the job gave up
};
const LostRead kLostReads[] = {
    {"Passport", SVC_GET_PASSPORT, 1},
    {"Fuel", SVC_GET_FUEL, 4},
};
struct ReadLoss : SettingsJobs, ::testing::WithParamInterface<LostRead> {};

TEST_P(ReadLoss, LeavesThePageAsItWasAndSaysNoAnswer) {
  Start(Sensor());
  sensor->InjectFault({vsensor::FaultKind::NoAnswer, GetParam().command, 1, 1});
  engine->PostJob(JOB_READ_SETTINGS);
  ASSERT_TRUE(window.WaitForBox());
  Finish();
  const std::vector<std::string> expected = {"SetBusy", "ShowDeviceStatus(6)", "SetIdle", "ErrorBox"};
  EXPECT_EQ(window.Calls(), expected);
  ASSERT_EQ(window.Boxes().size(), 1u);
  EXPECT_EQ(window.Boxes()[0], texts.DeviceStatus(LINK_NO_ANSWER));
  EXPECT_EQ(sensor->ReceivedCommands().size(), GetParam().heard);
}

INSTANTIATE_TEST_SUITE_P(Steps, ReadLoss, ::testing::ValuesIn(kLostReads),
                         [](const auto& info) { return std::string(info.param.name); });

// The page as the technician left it: the test fills what
// CollectSettingsPage would, on top of what was read.
void Collect(TCmdThread& t, EngineRecords& r, int address, int32_t baud) {
  SettingsRecord& s = t.settings;
  s.Address = address;
  s.Period = 9;
  s.PostFilter = 2;
  s.Flags = static_cast<uint8_t>(WithBaud(s.FlagsRead, baud) & ~0x01u);  // periodic output off
  r.fuel.FuelType = 0;
  r.fuel.ThermalCoef = 0.25f;
  r.fuel.SoundSpeed = 1400.0f;
}

TEST_F(SettingsJobs, UnchangedAddressAndRateStillSendAllFiveWritesAndReopen) {
  Start(Sensor());
  engine->PostJob(JOB_READ_SETTINGS);
  ASSERT_TRUE(window.WaitFor("FillSettingsPage"));
  ASSERT_TRUE(WaitJobs(2));  // the read and its JOB_IDLE
  sensor->ClearHistory();
  window.onCollect = [this] { Collect(*engine, records, 1, 19200); };
  FollowRate(19200);
  engine->PostJob(JOB_WRITE_SETTINGS);
  ASSERT_TRUE(WaitJobs(4));  // the write and its JOB_IDLE
  Finish();

  const std::vector<std::pair<int, int>> heard = {{1, SVC_SET_POST_FILTER},
                                                  {1, SVC_SET_FUEL},
                                                  {1, SVC_SET_ADDRESS},
                                                  {1, SVC_SET_PERIOD},
                                                  {1, SVC_SET_FLAGS}};
  EXPECT_EQ(Heard(), heard);
  const std::vector<std::string> calls = CallsFrom("CollectSettingsPage");
  const std::vector<std::string> expected = {"CollectSettingsPage", "AdoptNewAddress(1)", "AdoptNewBaud",
                                             "ShowDeviceStatus(0)"};
  EXPECT_EQ(calls, expected);
  EXPECT_EQ(reopened, 1);
  EXPECT_TRUE(UartIsOpen(link));
  EXPECT_TRUE(window.Boxes().empty());

  const vsensor::SensorState st = sensor->State();
  EXPECT_EQ(st.address, 1);
  EXPECT_EQ(st.baud, 19200);
  EXPECT_EQ(st.period, 9);
  EXPECT_EQ(st.postFilter, 2);
  EXPECT_EQ(st.flags, WithBaud(Sensor().flags, 19200) & ~0x01u);
  EXPECT_EQ(st.flags & 0x42, 0x42);  // bits 1 and 6 as read
  EXPECT_EQ(st.thermalCoef, 0.25f);
  EXPECT_EQ(st.soundSpeed, 1400.0f);
}

TEST_F(SettingsJobs, NewAddressAndRateAreFollowedWithoutASearch) {
  Start(Sensor());
  window.onCollect = [this] { Collect(*engine, records, 5, 38400); };
  FollowRate(38400);
  // The page was read before; only FlagsRead matters to the write.
  engine->settings.FlagsRead = Sensor().flags;
  engine->PostJob(JOB_WRITE_SETTINGS);
  ASSERT_TRUE(WaitJobs(2));  // the write and its JOB_IDLE
  Finish();
  EXPECT_EQ(window.Count("AdoptNewBaud"), 1u);

  // The address write goes to the old address, and its acknowledgement
  // comes from there (the link accepts no other); period and flags go to the
  // new one.
  const std::vector<std::pair<int, int>> heard = {{1, SVC_SET_POST_FILTER},
                                                  {1, SVC_SET_FUEL},
                                                  {1, SVC_SET_ADDRESS},
                                                  {5, SVC_SET_PERIOD},
                                                  {5, SVC_SET_FLAGS}};
  EXPECT_EQ(Heard(), heard);
  EXPECT_EQ(window.Count("AdoptNewAddress(5)"), 1u);
  EXPECT_EQ(records.link.address, 5);
  EXPECT_EQ(records.link.baud, 38400);
  EXPECT_TRUE(window.Boxes().empty());

  const vsensor::SensorState st = sensor->State();
  EXPECT_EQ(st.address, 5);
  EXPECT_EQ(st.baud, 38400);
  // The tool talks to it where it now is, at once.
  uint32_t d, sn, m, fw, addr = 0, per = 0, fl = 0;
  EXPECT_EQ(UartGetPassport(link, 5, &d, &sn, &m, &fw, &addr, &per, &fl), LINK_OK);
  EXPECT_EQ(addr, 5u);
  EXPECT_EQ(per, 9u);
}

struct RefusedWrite {
  const char* name;
  uint8_t command;
  vsensor::FaultKind fault;
  int param;
  int32_t status;
  bool addressAdopted;
};
const RefusedWrite kRefusedWrites[] = {
    {"AddressRefused", SVC_SET_ADDRESS, vsensor::FaultKind::AckStatus, 2, 2, false},
    {"AddressLost", SVC_SET_ADDRESS, vsensor::FaultKind::NoAnswer, 0, LINK_NO_ANSWER, false},
    {"FlagsRefused", SVC_SET_FLAGS, vsensor::FaultKind::AckStatus, 2, 2, true},
};
struct WriteRefusal : SettingsJobs, ::testing::WithParamInterface<RefusedWrite> {};

// A write that is not acknowledged changes nothing on the sensor and stops
// the job; the window follows the address only once the sensor took it.
TEST_P(WriteRefusal, StopsTheJobAndLeavesTheSensorAsItWas) {
  const RefusedWrite& p = GetParam();
  Start(Sensor());
  sensor->InjectFault({p.fault, p.command, 1, p.param});
  window.onCollect = [this] { Collect(*engine, records, 5, 38400); };
  FollowRate(38400);
  engine->settings.FlagsRead = Sensor().flags;
  engine->PostJob(JOB_WRITE_SETTINGS);
  ASSERT_TRUE(window.WaitForBox());
  Finish();
  ASSERT_EQ(window.Boxes().size(), 1u);
  EXPECT_EQ(window.Boxes()[0], texts.DeviceStatus(p.status));
  EXPECT_EQ(window.Count("ShowDeviceStatus(" + std::to_string(p.status) + ")"), 1u);
  EXPECT_EQ(window.Count("AdoptNewAddress(5)"), p.addressAdopted ? 1u : 0u);
  EXPECT_EQ(window.Count("AdoptNewBaud"), 0u);
  EXPECT_EQ(reopened, 0);
  const vsensor::SensorState st = sensor->State();
  EXPECT_EQ(st.address, p.addressAdopted ? 5 : 1);
  EXPECT_EQ(st.baud, 19200);
  EXPECT_EQ(st.flags, Sensor().flags);
  EXPECT_EQ(records.link.address, p.addressAdopted ? 5 : 1);
  EXPECT_EQ(records.link.baud, 19200);  // a failure after the address keeps the old rate
}

INSTANTIATE_TEST_SUITE_P(Steps, WriteRefusal, ::testing::ValuesIn(kRefusedWrites),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace kl
