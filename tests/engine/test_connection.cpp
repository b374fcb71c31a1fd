// Opening, searching and identifying, end to end: the engine's jobs on the
// real POSIX link, a pseudo-terminal, and the virtual sensor behind it.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "RecordingWindow.h"
#include "Unit_cmd.h"
#include "PortsFolder.h"
#include "virtual_sensor.h"

namespace kl {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

constexpr int kCom = 12;

// Every test gets a ports folder of its own, so nothing on the machine (a
// real adapter, another run's link) can answer in its place.
using test::PortsFolder;

struct Connection : ::testing::Test {
  PortsFolder ports;
  EngineRecords records;
  UartLink link;
  test::RecordingWindow window;
  LoadedTexts texts = LoadedTexts::Builtin();
  std::unique_ptr<vsensor::VirtualSensor> sensor;
  std::unique_ptr<TCmdThread> engine;

  void StartSensor(vsensor::SensorState s) {
    sensor = std::make_unique<vsensor::VirtualSensor>(s, 7);
    std::string error;
    ASSERT_TRUE(sensor->Start(kCom, &error)) << error;
  }
  void StartEngine(JobTable table = DefaultJobTable()) {
    records.link = LinkSettings{kCom, 19200, 1};
    window.records = &records;
    engine = std::make_unique<TCmdThread>(records, link, window, texts, std::move(table));
    window.engine = engine.get();
  }
  void TearDown() override {
    window.Close();
    if (engine) engine->Terminate();
    engine.reset();
    UartClose(link);
  }
  // Ends the engine so that the test may read what the job left behind; the
  // records belong to the command thread until then.
  void Finish() {
    if (engine) engine->Terminate();
  }
  std::string Box(size_t i) const {
    auto b = window.Boxes();
    return i < b.size() ? b[i] : std::string("<no box>");
  }
};

// A sensor that answers a broadcast with its own address (Flags bit 5), so
// that a search learns where it is.
vsensor::SensorState SensorAt(int32_t baud, uint8_t address) {
  vsensor::SensorState s;
  s.baud = baud;
  s.address = address;
  const int code = std::max(vsensor::CodeFromBaud(baud), 0);
  s.flags = static_cast<uint8_t>((s.flags & ~0x1Cu) | (code << 2) | 0x20u);
  return s;
}

TEST_F(Connection, SearchFindsASensorAt19200AndAddress7) {
  StartSensor(SensorAt(19200, 7));
  StartEngine();
  records.link.baud = 9600;
  engine->PostJob(JOB_SEARCH);
  ASSERT_TRUE(window.WaitFor("ShowScopePage", 60s));
  // The page's entry job unlocks the window the search left locked.
  ASSERT_TRUE(window.WaitFor("SetIdle", 5s));
  Finish();

  // 115200, 57600 and 38400 were each opened and asked in vain first.
  const auto calls = window.Calls();
  const std::vector<std::string> expectedStart = {"SetBusy",
                                                  "SetWaitCursor",
                                                  "ShowPortStatus(0)",
                                                  "ShowDeviceStatus(6)",  // 115200
                                                  "ShowPortStatus(0)",
                                                  "ShowDeviceStatus(6)",  // 57600
                                                  "ShowPortStatus(0)",
                                                  "ShowDeviceStatus(6)",  // 38400
                                                  "ShowPortStatus(0)",
                                                  "ShowDeviceStatus(0)",  // 19200: found
                                                  "SetNormalCursor",
                                                  "AdoptLinkSettings",
                                                  "ShowDeviceStatus(0)",
                                                  "ShowDeviceStatus(0)",  // model code, identity
                                                  "ShowScopePage",
                                                  "SetBusy"};
  ASSERT_GE(calls.size(), expectedStart.size());
  EXPECT_EQ(std::vector<std::string>(calls.begin(), calls.begin() + expectedStart.size()), expectedStart);
  EXPECT_EQ(window.adopted.baud, 19200);
  EXPECT_EQ(window.adopted.address, 7);
  EXPECT_EQ(records.link.baud, 19200);
  EXPECT_EQ(records.link.address, 7);
  EXPECT_TRUE(UartIsOpen(link));
  EXPECT_TRUE(window.Boxes().empty());
  EXPECT_EQ(engine->settings.FirmwareVersion, 9);
  EXPECT_EQ(engine->settings.Serial, sensor->State().serial);
  EXPECT_TRUE(UartIsSupportedModel(engine->modelCode));

  // The sensor heard the sync, the search and both identification requests
  // at its own rate only; then the oscilloscope page's entry job took over.
  const auto heard = sensor->ReceivedCommands();
  const std::vector<uint8_t> expectedHeard = {SVC_SYNC, SVC_GET_IDENT, SVC_GET_MODEL, SVC_GET_IDENT,
                                              SVC_SERVICE_MODE};
  ASSERT_GE(heard.size(), expectedHeard.size());
  EXPECT_EQ(std::vector<uint8_t>(heard.begin(), heard.begin() + expectedHeard.size()), expectedHeard);
}

TEST_F(Connection, SearchAdoptsAddress255FromASensorThatAnswersBroadcastsWith255) {
  vsensor::SensorState s = SensorAt(115200, 7);
  s.flags &= static_cast<uint8_t>(~0x20u);
  StartSensor(s);
  StartEngine();
  engine->PostJob(JOB_SEARCH);
  ASSERT_TRUE(window.WaitFor("ShowScopePage", 60s));
  Finish();
  EXPECT_EQ(window.adopted.baud, 115200);
  EXPECT_EQ(window.adopted.address, 255);
}

TEST_F(Connection, SearchWithoutSensorRestoresTheRateAndClosesThePort) {
  // A sensor at a rate the search never tries stays silent at all of them.
  StartSensor(SensorAt(1200, 1));
  StartEngine();
  records.link.baud = 4800;
  engine->PostJob(JOB_SEARCH);
  ASSERT_TRUE(window.WaitForBox(90s));
  // The job goes on after the box: it restores the rate and closes the port.
  Finish();
  EXPECT_EQ(Box(0), texts.DeviceStatus(LINK_NO_ANSWER));
  EXPECT_EQ(window.Count("ShowPortStatus(0)"), 7u);
  EXPECT_EQ(records.link.baud, 4800);
  EXPECT_FALSE(UartIsOpen(link));
  // The status bar and the engine both say what the port is now: closed.
  std::string lastPortStatus;
  for (const std::string& c : window.Calls())
    if (c.rfind("ShowPortStatus", 0) == 0) lastPortStatus = c;
  EXPECT_EQ(lastPortStatus, "ShowPortStatus(1)");
  EXPECT_EQ(engine->portStatus, kPortStatusClosed);
  EXPECT_EQ(window.Count("SetIdle"), 1u);
  EXPECT_EQ(window.Count("AdoptLinkSettings"), 0u);
}

TEST_F(Connection, SearchOnAPortThatCannotOpenFailsAtEveryRateWithOneBox) {
  StartEngine();  // nothing is linked as COM12
  engine->PostJob(JOB_SEARCH);
  ASSERT_TRUE(window.WaitForBox(60s));
  Finish();
  EXPECT_EQ(window.Count("ShowPortStatus(2)"), 7u);
  EXPECT_EQ(window.Count("ShowDeviceStatus(8)"), 8u);  // one per rate, and the final one
  ASSERT_EQ(window.Boxes().size(), 1u);
  EXPECT_EQ(Box(0), "Статус устройства: Ошибка порта");
  EXPECT_EQ(records.link.baud, 19200);
  // The port never opened: the status bar keeps the port error.
  EXPECT_EQ(window.Count("ShowPortStatus(1)"), 0u);
  EXPECT_EQ(engine->portStatus, kPortStatusError);
}

struct Refusal {
  const char* name;
  std::array<uint8_t, 4> model;
  uint8_t firmware;
  const char* firstLine;
};

const Refusal kRefusals[] = {
    {"Firmware8", {'K', 'L', '3', '1'}, 0x08, "Версия встроенного ПО не поддерживается программой"},
    {"ModelReversed", {'1', '3', 'L', 'K'}, 0x09, "Устройство не поддерживается программой"},
};

struct OpenRefusal : Connection, ::testing::WithParamInterface<Refusal> {};

TEST_P(OpenRefusal, ShowsTheTwoLineMessageAndKeepsThePortOpen) {
  vsensor::SensorState s = SensorAt(19200, 1);
  s.modelCode = GetParam().model;
  s.firmware = GetParam().firmware;
  StartSensor(s);
  StartEngine();
  engine->PostJob(JOB_PORT_OPEN);
  ASSERT_TRUE(window.WaitForBox(30s));
  Finish();
  EXPECT_EQ(Box(0), std::string(GetParam().firstLine) + "\nПожалуйста, обновите программу");
  EXPECT_EQ(window.Count("ShowPortStatus(0)"), 1u);
  EXPECT_EQ(window.Count("ShowScopePage"), 0u);
  EXPECT_TRUE(UartIsOpen(link));
}

INSTANTIATE_TEST_SUITE_P(Sensors, OpenRefusal, ::testing::ValuesIn(kRefusals),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(Connection, OpenIdentifiesTheSensorAndCloseReturnsToTheProgramPage) {
  StartSensor(SensorAt(19200, 1));
  StartEngine();
  engine->PostJob(JOB_PORT_OPEN);
  ASSERT_TRUE(window.WaitFor("ShowScopePage"));
  // The page's entry job ends by posting the echo poll, which would replace
  // a close posted while it runs.
  ASSERT_TRUE(window.WaitFor("SetIdle"));
  EXPECT_TRUE(window.Boxes().empty());

  engine->PostJob(JOB_PORT_CLOSE);
  ASSERT_TRUE(window.WaitFor("ShowProgramPage"));
  for (int i = 0; i < 500 && UartIsOpen(link); ++i) std::this_thread::sleep_for(10ms);
  Finish();
  EXPECT_EQ(engine->portStatus, kPortStatusClosed);
  EXPECT_FALSE(UartIsOpen(link));
}

TEST_F(Connection, OpenOfAMissingPortNamesThePort) {
  StartEngine();
  records.link.port = 31;
  engine->PostJob(JOB_PORT_OPEN);
  ASSERT_TRUE(window.WaitFor("ShowPortStatus(2)"));
  Finish();
  EXPECT_EQ(Box(0), "Ошибка открытия порта COM31");
  EXPECT_EQ(engine->portStatus, kPortStatusError);
}

TEST_F(Connection, APollThatLosesItsAnswerStillReArms) {
  // The oscilloscope poll's own table row, with a handler that asks the
  // sensor as the poll does; the sensor loses the first two answers.
  StartSensor(SensorAt(19200, 1));
  sensor->InjectFault({vsensor::FaultKind::NoAnswer, SVC_GET_MODE, 2, 0});
  std::mutex m;
  std::vector<int32_t> results;
  JobTable table = DefaultJobTable();
  table[JOB_POLL_ECHO].handler = [&](TCmdThread& t) {
    uint32_t mode = 0;
    const LinkResult r = UartQuery(t.Link(), SVC_GET_MODE, t.Records().link.address, &mode);
    std::lock_guard<std::mutex> g(m);
    results.push_back(r);
  };
  StartEngine(table);
  ASSERT_EQ(UartOpen(link, kCom, 19200), 0);
  engine->PostJob(JOB_POLL_ECHO);
  for (int i = 0; i < 3000; ++i) {
    {
      std::lock_guard<std::mutex> g(m);
      if (results.size() >= 4) break;
    }
    std::this_thread::sleep_for(10ms);
  }
  Finish();
  std::lock_guard<std::mutex> g(m);
  ASSERT_GE(results.size(), 4u);
  EXPECT_EQ(results[0], LINK_NO_ANSWER);
  EXPECT_EQ(results[1], LINK_NO_ANSWER);
  EXPECT_EQ(results[2], LINK_OK);
  EXPECT_EQ(results[3], LINK_OK);
}

TEST_F(Connection, ShutDownWhileAnErrorBoxWaitsForTheUser) {
  window.holdBoxes = true;
  StartEngine();
  records.link.port = 31;
  engine->PostJob(JOB_PORT_OPEN);
  ASSERT_TRUE(window.WaitForBox());
  // The window goes away with the box still open, in the order the main
  // window shuts down: stop request, the box returns, the thread ends. The
  // rest of the job (the port status) never reaches the window.
  engine->RequestStop();
  window.Close();
  engine->Terminate();
  EXPECT_EQ(window.CallsAfterClose(), 0u);
}

TEST_F(Connection, ShutDownInsideASearchIsBounded) {
  StartSensor(SensorAt(1200, 1));
  StartEngine();
  engine->PostJob(JOB_SEARCH);
  ASSERT_TRUE(window.WaitFor("ShowPortStatus(0)"));
  const auto start = std::chrono::steady_clock::now();
  engine->Terminate();
  const size_t calls = window.Calls().size();
  // Far below the several seconds the rest of the search would take.
  EXPECT_LT(std::chrono::steady_clock::now() - start, 20s);
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(window.Calls().size(), calls);
  EXPECT_FALSE(UartIsOpen(link));
}

}  // namespace
}  // namespace kl
