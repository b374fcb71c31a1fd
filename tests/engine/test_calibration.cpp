// The calibration page's jobs end to end: the engine on the real POSIX link,
// a pseudo-terminal, and the virtual sensor (with its virtual tank) behind
// it. The recording window stands in for the page.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "HubData.h"
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

// An image of `size` bytes and `version`: the default image's records, the
// rest of the bytes numbered so that a misplaced block shows, sealed.
std::vector<uint8_t> ImageOf(uint16_t size, uint16_t version) {
  auto im = std::make_unique<HubImage>();
  HubMakeDefault(im.get());
  for (size_t i = 236; i < size; ++i) im->bytes[i] = static_cast<uint8_t>(i * 7 + 1);
  HubSetWord(*im, HubOffSize, size);
  HubSetWord(*im, HubOffVersion, version);
  HubSeal(im.get());
  std::vector<uint8_t> out(im->bytes.begin(), im->bytes.end());
  return out;
}

// The commands of the accepted requests, with the block index or value
// byte where there is one: "m0" is block 0 read, "p5" tank type 5 set.
std::vector<std::string> Requests(const vsensor::VirtualSensor& s) {
  std::vector<std::string> out;
  for (const auto& f : s.ReceivedRequests()) {
    const uint8_t c = f[2];
    std::string text(1, static_cast<char>(c));
    if (c == SVC_READ_BLOCK || c == SVC_WRITE_BLOCK || c == SVC_SET_TANK_ID || c == SVC_SET_TANK_HEIGHT ||
        c == SVC_SET_TARE_MODE)
      text += std::to_string(f[3] | (c == SVC_SET_TANK_HEIGHT || c == SVC_SET_TANK_ID ? f[4] << 8 : 0));
    out.push_back(text);
  }
  return out;
}

// The requests other than the level poll's echoes.
std::vector<std::string> WithoutEchoes(std::vector<std::string> r) {
  std::erase(r, std::string(1, static_cast<char>(SVC_GET_ECHO)));
  return r;
}

const std::string kGetTankId(1, static_cast<char>(SVC_GET_TANK_ID));
const std::string kGetTankHeight(1, static_cast<char>(SVC_GET_TANK_HEIGHT));
std::string Cmd(uint8_t c, int value) { return std::string(1, static_cast<char>(c)) + std::to_string(value); }

// One sensor, link, engine and recording window; torn down in that order's
// reverse.
struct Rig {
  PortsFolder ports;
  EngineRecords records;
  UartLink link;
  test::RecordingWindow window;
  LoadedTexts texts = LoadedTexts::Builtin();
  std::unique_ptr<vsensor::VirtualSensor> sensor;
  std::unique_ptr<TCmdThread> engine;

  void Start(vsensor::SensorState s) {
    sensor = std::make_unique<vsensor::VirtualSensor>(s, 5);
    std::string error;
    ASSERT_TRUE(sensor->Start(kCom, &error)) << error;
    records.link = LinkSettings{kCom, 19200, 1};
    ASSERT_EQ(UartOpen(link, kCom, 19200), 0);
    window.records = &records;
    engine = std::make_unique<TCmdThread>(records, link, window, texts);
    window.engine = engine.get();
  }
  ~Rig() {
    window.Close();
    if (engine) engine->Terminate();
    engine.reset();
    UartClose(link);
  }
  // Ends the engine so that the test may read what the jobs left behind.
  void Finish() { engine->Terminate(); }
  std::vector<std::string> Head(size_t n) const {
    auto calls = window.Calls();
    calls.resize(std::min(n, calls.size()));
    return calls;
  }
  size_t CountStarting(const std::string& prefix) const {
    size_t n = 0;
    for (const auto& c : window.Calls()) n += c.rfind(prefix, 0) == 0;
    return n;
  }
  // Waits until `n` calls beginning with `prefix` were recorded (bounded).
  bool WaitStarting(const std::string& prefix, size_t n, std::chrono::seconds limit = 60s) const {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
      if (CountStarting(prefix) >= n) return true;
      std::this_thread::sleep_for(10ms);
    }
    return false;
  }
};

TEST(Calibration, ReadTakesTheBlocksTheImageNeedsAndOnlyBlock0OfAnotherMajorVersion) {
  struct Case {
    uint16_t size;
    uint16_t version;
    int blocks;
  } cases[] = {{236, 0x0301, 2}, {257, 0x0301, 3}, {256, 0x0301, 2}, {236, 0x0200, 1}, {700, 0x0302, 6}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "size " << c.size << " version " << std::hex << c.version);
    vsensor::SensorState s;
    s.hub = ImageOf(c.size, c.version);
    s.tankId = 3;
    s.customTankHeight = 12345;
    auto rig = std::make_unique<Rig>();
    Rig& t = *rig;
    t.Start(s);
    t.engine->PostJob(JOB_READ_HUB);
    ASSERT_TRUE(t.window.WaitFor("ShowHubImage"));
    ASSERT_TRUE(t.WaitStarting("ShowLevel(", 1));
    t.Finish();

    std::vector<std::string> expected;
    for (int i = 0; i < c.blocks; ++i) expected.push_back(Cmd(SVC_READ_BLOCK, i));
    expected.push_back(kGetTankId);
    expected.push_back(kGetTankHeight);
    EXPECT_EQ(WithoutEchoes(Requests(*t.sensor)), expected);
    const size_t read = static_cast<size_t>(c.blocks) * 128;
    EXPECT_TRUE(std::equal(s.hub.begin(), s.hub.begin() + static_cast<std::ptrdiff_t>(read),
                           t.records.hub.bytes.begin()));
    EXPECT_TRUE(std::all_of(t.records.hub.bytes.begin() + static_cast<std::ptrdiff_t>(read),
                            t.records.hub.bytes.end(), [](uint8_t b) { return b == 0; }))
        << "nothing beyond the blocks read";
    EXPECT_EQ(t.records.calibration.SelectedTankID, 3);
    EXPECT_EQ(t.records.calibration.CustomTankHeight, 12345);
    EXPECT_EQ(t.Head(4),
              (std::vector<std::string>{"SetBusy", "ShowDeviceStatus(0)", "SetIdle", "ShowHubImage"}));
  }
}

TEST(Calibration, AFailedReadShowsTheStatusAndGoesBackToPolling) {
  Rig t;
  vsensor::SensorState s;
  t.Start(s);
  t.sensor->InjectFault({vsensor::FaultKind::NoAnswer, SVC_READ_BLOCK, 1, 0});
  t.engine->PostJob(JOB_READ_HUB);
  ASSERT_TRUE(t.window.WaitForBox());
  ASSERT_TRUE(t.WaitStarting("ShowLevel(", 1));
  t.Finish();
  EXPECT_EQ(t.window.Boxes()[0], t.texts.DeviceStatus(LINK_NO_ANSWER));
  EXPECT_EQ(t.window.Count("ShowHubImage"), 0u);
  EXPECT_EQ(t.Head(4), (std::vector<std::string>{"SetBusy", "ShowDeviceStatus(6)", "SetIdle", "ErrorBox"}));
}

TEST(Calibration, WriteSendsTheHeightOnlyForTheSensorsOwnTypes) {
  struct Case {
    uint16_t tankId;
    bool height;
  } cases[] = {{5, false}, {1, true}, {0, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "tank type " << c.tankId);
    vsensor::SensorState s;
    s.hub.assign(vsensor::kHubSize, 0);
    s.customTankHeight = 777;
    auto rig = std::make_unique<Rig>();
    Rig& t = *rig;
    // The page's part: the image to write (257 bytes: three blocks).
    const std::vector<uint8_t> image = ImageOf(257, 0x0301);
    std::copy(image.begin(), image.end(), t.records.hub.bytes.begin());
    t.records.calibration.SelectedTankID = c.tankId;
    t.records.calibration.CustomTankHeight = 4321;
    t.window.onStoreHubImage = [&t] { t.records.hubStored = true; };
    t.Start(s);
    t.engine->PostJob(JOB_WRITE_HUB);
    ASSERT_TRUE(t.WaitStarting("ShowLevel(", 1));
    t.Finish();

    std::vector<std::string> expected = {Cmd(SVC_SET_TANK_ID, c.tankId)};
    if (c.height) expected.push_back(Cmd(SVC_SET_TANK_HEIGHT, 4321));
    for (int i = 0; i < 3; ++i) expected.push_back(Cmd(SVC_WRITE_BLOCK, i));
    EXPECT_EQ(WithoutEchoes(Requests(*t.sensor)), expected);
    const vsensor::SensorState after = t.sensor->State();
    EXPECT_EQ(after.tankId, c.tankId);
    EXPECT_EQ(after.customTankHeight, c.height ? 4321 : 777);
    EXPECT_TRUE(std::equal(image.begin(), image.begin() + 384, after.hub.begin()));
    EXPECT_TRUE(vsensor::HubImageValid(after.hub));
    EXPECT_EQ(t.Head(5), (std::vector<std::string>{"SetBusy", "StoreHubImage", "ShowDeviceStatus(0)",
                                                   "SetIdle", "ShowDeviceStatus(0)"}));
  }
}

// StoreHubImage stopped (the user kept an invalid image, or the table did not
// fit): the sensor must not get a tank type with a table that was not stored.
TEST(Calibration, AWriteTheImageStepStoppedWritesNothing) {
  Rig t;
  vsensor::SensorState s;
  const std::vector<uint8_t> before = s.hub;
  t.records.calibration.SelectedTankID = 1;
  t.window.onStoreHubImage = [] {};  // stops: hubStored stays false
  t.records.hubStored = true;        // left over from an earlier write
  t.Start(s);
  t.engine->PostJob(JOB_WRITE_HUB);
  ASSERT_TRUE(t.WaitStarting("ShowLevel(", 2));  // the poll was re-armed
  t.Finish();
  EXPECT_EQ(WithoutEchoes(Requests(*t.sensor)), std::vector<std::string>{});
  EXPECT_EQ(t.sensor->State().hub, before);
  EXPECT_EQ(t.Head(3), (std::vector<std::string>{"SetBusy", "StoreHubImage", "SetIdle"}));
  EXPECT_TRUE(t.window.Boxes().empty());
}

TEST(Calibration, AFailedBlockWriteStopsWithTheStatus) {
  Rig t;
  vsensor::SensorState s;
  t.records.calibration.SelectedTankID = 5;
  const std::vector<uint8_t> image = ImageOf(300, 0x0301);
  std::copy(image.begin(), image.end(), t.records.hub.bytes.begin());
  t.window.onStoreHubImage = [&t] { t.records.hubStored = true; };
  t.Start(s);
  t.sensor->InjectFault({vsensor::FaultKind::AckStatus, SVC_WRITE_BLOCK, 1, 0xE0});
  t.engine->PostJob(JOB_WRITE_HUB);
  ASSERT_TRUE(t.window.WaitForBox());
  ASSERT_TRUE(t.WaitStarting("ShowLevel(", 1));
  t.Finish();
  // Block 0 refused: blocks 1 and 2 are not tried.
  EXPECT_EQ(WithoutEchoes(Requests(*t.sensor)),
            (std::vector<std::string>{Cmd(SVC_SET_TANK_ID, 5), Cmd(SVC_WRITE_BLOCK, 0)}));
  EXPECT_EQ(t.window.Boxes()[0], t.texts.DeviceStatus(LINK_BAD_PARAM));  // statuses above 2 fold to 2
}

TEST(Calibration, CalibrationModeIsSwitchedOnAndOff) {
  Rig t;
  vsensor::SensorState s;
  t.Start(s);
  t.records.calibration.TareMode = 1;
  t.engine->PostJob(JOB_TARE_MODE);
  ASSERT_TRUE(t.WaitStarting("ShowLevel(", 1));
  EXPECT_EQ(t.sensor->State().tareMode, 1);
  // Closing the window sends 0 whatever happened inside it.
  t.records.calibration.TareMode = 0;
  t.engine->PostJob(JOB_TARE_MODE);
  ASSERT_TRUE(t.WaitStarting("ShowLevel(", 2));
  t.Finish();
  EXPECT_EQ(t.sensor->State().tareMode, 0);
  EXPECT_EQ(WithoutEchoes(Requests(*t.sensor)),
            (std::vector<std::string>{Cmd(SVC_SET_TARE_MODE, 1), Cmd(SVC_SET_TARE_MODE, 0)}));
  EXPECT_TRUE(t.window.Boxes().empty());
}

// "Установить" pressed right after the calibration window closed: its write
// replaces the "mode off" job in the slot, and the write switches it off.
TEST(Calibration, AWriteThatReplacedTheModeOffSwitchesTheModeOffFirst) {
  Rig t;
  vsensor::SensorState s;
  s.hub.assign(vsensor::kHubSize, 0);
  const std::vector<uint8_t> image = ImageOf(236, 0x0301);
  std::copy(image.begin(), image.end(), t.records.hub.bytes.begin());
  t.records.calibration.SelectedTankID = 5;
  t.window.onStoreHubImage = [&t] { t.records.hubStored = true; };
  t.Start(s);
  t.records.calibration.TareMode = 1;
  t.engine->PostJob(JOB_TARE_MODE);
  ASSERT_TRUE(t.WaitStarting("ShowLevel(", 1));
  ASSERT_EQ(t.sensor->State().tareMode, 1);
  // The window closes; the write is posted as its mode-off job would be.
  t.records.calibration.TareMode = 0;
  t.engine->PostJob(JOB_WRITE_HUB);
  ASSERT_TRUE(t.WaitStarting("ShowLevel(", 2));
  t.Finish();
  EXPECT_EQ(t.sensor->State().tareMode, 0);
  const std::vector<std::string> req = WithoutEchoes(Requests(*t.sensor));
  ASSERT_GE(req.size(), 3u);
  EXPECT_EQ(req[1], Cmd(SVC_SET_TARE_MODE, 0));
  EXPECT_EQ(req[2], Cmd(SVC_SET_TANK_ID, 5));
}

TEST(Calibration, ARefusedCalibrationModeIsReportedAndPollingGoesOn) {
  Rig t;
  vsensor::SensorState s;
  t.Start(s);
  t.sensor->InjectFault({vsensor::FaultKind::AckStatus, SVC_SET_TARE_MODE, 1, 2});
  t.records.calibration.TareMode = 1;
  t.engine->PostJob(JOB_TARE_MODE);
  ASSERT_TRUE(t.window.WaitForBox());
  ASSERT_TRUE(t.WaitStarting("ShowLevel(", 1));
  t.Finish();
  EXPECT_EQ(t.Head(3), (std::vector<std::string>{"ShowDeviceStatus(2)", "ErrorBox", "SetIdle"}));
}

// The level poll reads the virtual tank: no level below its dead zone, then
// the level of what was poured, every 250 ms.
TEST(Calibration, TheLevelPollFollowsTheVirtualTank) {
  Rig t;
  vsensor::SensorState s;
  s.tankOn = true;
  s.tankLitres = 0.0f;
  t.Start(s);
  t.engine->PostJob(JOB_LEVEL_POLL);
  ASSERT_TRUE(t.window.WaitFor("ShowLevel(0,1)"));
  std::string error;
  ASSERT_TRUE(t.sensor->Control("pour 100", &error)) << error;
  const vsensor::SensorState poured = t.sensor->State();
  const std::string expected = "ShowLevel(" + std::to_string(poured.level) + ",0)";
  EXPECT_GT(poured.level, 2000);             // 100 l in a 600 mm cylinder stand well above 200 mm
  ASSERT_TRUE(t.WaitStarting(expected, 2));  // re-armed
  t.Finish();
}

TEST(Calibration, ALostLevelAnswerMakesTheNextGoodPollReadTheImageAgain) {
  Rig t;
  vsensor::SensorState s;
  t.Start(s);
  t.sensor->InjectFault({vsensor::FaultKind::NoAnswer, SVC_GET_ECHO, 1, 1});
  t.engine->PostJob(JOB_LEVEL_POLL);
  ASSERT_TRUE(t.window.WaitFor("ShowHubImage"));
  t.Finish();
  // Lost, then a good poll that shows the level and starts the read.
  EXPECT_EQ(t.Head(5), (std::vector<std::string>{"ShowDeviceStatus(6)", "ShowDeviceStatus(0)",
                                                 "ShowLevel(3500,0)", "SetBusy", "ShowDeviceStatus(0)"}));
  const auto req = Requests(*t.sensor);
  ASSERT_GE(req.size(), 3u);
  EXPECT_EQ(req[2], Cmd(SVC_READ_BLOCK, 0));
  // Only once: the flag was cleared.
  EXPECT_EQ(t.window.Count("ShowHubImage"), 1u);
}

// The user presses "Таблица" while the read job waits for the page: the
// calibration mode job he posted runs; the read's own poll does not replace it.
TEST(Calibration, AJobPostedWhileTheReadWaitsForThePageIsNotReplaced) {
  Rig t;
  vsensor::SensorState s;
  t.window.onShowHubImage = [&t] {
    t.records.calibration.TareMode = 1;
    t.engine->PostJob(JOB_TARE_MODE);
  };
  t.Start(s);
  t.engine->PostJob(JOB_READ_HUB);
  ASSERT_TRUE(t.WaitStarting("ShowLevel(", 1));
  t.Finish();
  const auto req = WithoutEchoes(Requests(*t.sensor));
  ASSERT_FALSE(req.empty());
  EXPECT_EQ(req.back(), Cmd(SVC_SET_TARE_MODE, 1));
  EXPECT_EQ(t.sensor->State().tareMode, 1);
}

TEST(HubBlocks, CountIsRoundedUpAndBoundByTheOneByteIndex) {
  EXPECT_EQ(HubBlockCount(0), 0);
  EXPECT_EQ(HubBlockCount(1), 1);
  EXPECT_EQ(HubBlockCount(128), 1);
  EXPECT_EQ(HubBlockCount(129), 2);
  EXPECT_EQ(HubBlockCount(236), 2);
  EXPECT_EQ(HubBlockCount(257), 3);
  EXPECT_EQ(HubBlockCount(32768), 256);
  EXPECT_EQ(HubBlockCount(65535), 256);
}

}  // namespace
}  // namespace kl
