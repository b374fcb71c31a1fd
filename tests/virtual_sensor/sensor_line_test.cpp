// The sensor as the tool meets it: raw bytes over the pseudo-terminal.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstring>
#include <memory>

#include "line.h"
#include "virtual_sensor.h"

namespace kl::vsensor {
namespace {

using testing::Bytes;
using testing::Le16;
using testing::Le32;
using testing::Line;
using testing::PortsFolderGuard;
using testing::WaitUntil;

bool FrameOk(const Bytes& f) { return f.size() >= 4 && Crc8(f.data(), f.size() - 1) == f.back(); }

class SensorLine : public ::testing::Test {
 protected:
  void StartSensor(const SensorState& s = {}) {
    sensor_ = std::make_unique<VirtualSensor>(s, 7, clock_);
    std::string error;
    ASSERT_TRUE(sensor_->Start(7, &error)) << error;
    ASSERT_TRUE(line_.Open(sensor_->LinkPath(), s.baud)) << std::strerror(errno);
  }

  Bytes Ask(uint8_t address, uint8_t command, const Bytes& data = {}) {
    EXPECT_TRUE(line_.Send(BuildRequest(address, command, data)));
    return line_.Read(AnswerLength(command));
  }

  Bytes AskEcho(uint8_t address, uint8_t mode) {
    EXPECT_TRUE(line_.Send(BuildRequest(address, cmd::kGetEcho, {mode})));
    return line_.ReadEcho();
  }

  // Sends a request the sensor must ignore and waits until it has.
  void SendIgnored(const Bytes& request) {
    const size_t before = sensor_->IgnoredCount();
    ASSERT_TRUE(line_.Send(request));
    ASSERT_TRUE(WaitUntil([&] { return sensor_->IgnoredCount() == before + 1; }));
  }

  uint8_t Status(uint8_t address, uint8_t command, const Bytes& data) {
    const Bytes a = Ask(address, command, data);
    EXPECT_EQ(a.size(), 5u);
    EXPECT_TRUE(FrameOk(a));
    return a.size() == 5 ? a[3] : 0xFF;
  }

  PortsFolderGuard ports_;
  std::shared_ptr<ManualClock> clock_ = std::make_shared<ManualClock>();
  std::unique_ptr<VirtualSensor> sensor_;
  Line line_;
};

TEST_F(SensorLine, WorkedFramesOnTheLine) {
  StartSensor();
  ASSERT_TRUE(line_.Send({0x31, 0x01, 0x26, 0xF4, 0x01, 0x7F}));
  EXPECT_EQ(line_.Read(5), (Bytes{0x3E, 0x01, 0x26, 0x00, 0x9D}));
  EXPECT_EQ(sensor_->State().frequency, 500);

  ASSERT_TRUE(line_.Send({0x31, 0x01, 0x80, 0x3D}));
  const Bytes model = line_.Read(8);
  ASSERT_TRUE(FrameOk(model));
  EXPECT_EQ(Bytes(model.begin(), model.begin() + 7), (Bytes{0x3E, 0x01, 0x80, 'K', 'L', '3', '1'}));

  ASSERT_TRUE(line_.Send({0x31, 0xFF, 0x42, 0x0E}));
  const Bytes ident = line_.Read(12);
  ASSERT_TRUE(FrameOk(ident));
  EXPECT_EQ(ident[2], 0x42);
  EXPECT_EQ(ident[10], 0x09);
  EXPECT_EQ(sensor_->ReceivedCommands(), (Bytes{0x26, 0x80, 0x42}));
  const auto frames = sensor_->ReceivedRequests();
  ASSERT_EQ(frames.size(), 3u);
  EXPECT_EQ(frames[0], (Bytes{0x31, 0x01, 0x26, 0xF4, 0x01, 0x7F}));
  EXPECT_EQ(frames[2], (Bytes{0x31, 0xFF, 0x42, 0x0E}));
  sensor_->ClearHistory();
  EXPECT_TRUE(sensor_->ReceivedCommands().empty());
  EXPECT_TRUE(sensor_->ReceivedRequests().empty());
  EXPECT_EQ(sensor_->RequestCount(), 3u);
}

// Every query answers its own field of the state; distinct values catch a
// swapped or mis-sized field.
TEST_F(SensorLine, QueriesAnswerFromTheState) {
  SensorState s;
  s.integrator = 0x11223344;
  s.kuWord = 0x0C07;
  s.frequency = 1234;
  s.pulse = 61;
  s.attenuation = 30;
  s.filter = 950;
  s.postFilter = 5;
  s.customTankHeight = 7421;
  s.tankId = 3;
  s.mode = 0;
  s.autoState = -5;
  StartSensor(s);
  struct Case {
    uint8_t command;
    size_t width;
    uint32_t value;
  };
  const Case cases[] = {
      {cmd::kGetIntegrator, 4, 0x11223344},
      {cmd::kGetKu, 2, 0x0C07},
      {cmd::kGetFreq, 2, 1234},
      {cmd::kGetPulse, 1, 61},
      {cmd::kGetAtten, 1, 30},
      {cmd::kGetFilter, 2, 950},
      {cmd::kGetPostFilter, 1, 5},
      {cmd::kGetTankHeight, 2, 7421},
      {cmd::kGetTankId, 2, 3},
      {cmd::kGetMode, 1, 0},
      {cmd::kGetAutoState, 4, static_cast<uint32_t>(-5)},
  };
  for (const auto& c : cases) {
    const Bytes a = Ask(1, c.command);
    ASSERT_EQ(a.size(), 4 + c.width) << "command 0x" << std::hex << int(c.command);
    EXPECT_TRUE(FrameOk(a));
    EXPECT_EQ(a[0], 0x3E);
    EXPECT_EQ(a[1], 1);
    EXPECT_EQ(a[2], c.command);
    uint32_t v = 0;
    for (size_t i = 0; i < c.width; ++i) v |= static_cast<uint32_t>(a[3 + i]) << (8 * i);
    EXPECT_EQ(v, c.value) << "command 0x" << std::hex << int(c.command);
  }
}

TEST_F(SensorLine, PassportIdentConfigAndFuelLayouts) {
  SensorState s;
  s.date = 0x0A0B17;
  s.serial = 0x654321;
  s.model = 0x33;
  s.firmware = 0x09;
  s.period = 12;
  s.flags = 0x52;  // bits 1 and 6 set, baud code 4
  s.configByte = 0x45;
  s.flags2 = 0x20;
  StartSensor(s);

  const Bytes p = Ask(1, cmd::kGetPassport);
  ASSERT_EQ(p.size(), 22u);
  EXPECT_TRUE(FrameOk(p));
  EXPECT_EQ(Le32(p, 3) & 0xFFFFFF, 0x0A0B17u);
  EXPECT_EQ(Le32(p, 6) & 0xFFFFFF, 0x654321u);
  EXPECT_EQ(p[9], 0x33);
  EXPECT_EQ(p[10], 0x09);
  EXPECT_EQ(p[17], 1);   // address
  EXPECT_EQ(p[19], 12);  // period
  EXPECT_EQ(p[20], 0x52);

  const Bytes i = Ask(1, cmd::kGetIdent);
  ASSERT_EQ(i.size(), 12u);
  EXPECT_TRUE(FrameOk(i));
  EXPECT_EQ(Bytes(i.begin() + 3, i.begin() + 11), Bytes(p.begin() + 3, p.begin() + 11));

  const Bytes c = Ask(1, cmd::kGetConfig);
  ASSERT_EQ(c.size(), 12u);
  EXPECT_TRUE(FrameOk(c));
  EXPECT_EQ(c[3], 0x45);
  EXPECT_EQ(c[4], 0x20);

  // Fuel numbers travel as their bit patterns and come back unchanged.
  const float coef = 0.00091f, speed = 1288.25f;
  uint32_t cb = 0, sb = 0;
  std::memcpy(&cb, &coef, 4);
  std::memcpy(&sb, &speed, 4);
  Bytes data = {0};
  for (uint32_t w : {cb, sb})
    for (int k = 0; k < 4; ++k) data.push_back(static_cast<uint8_t>(w >> (8 * k)));
  EXPECT_EQ(Status(1, cmd::kSetFuel, data), 0);
  const Bytes f = Ask(1, cmd::kGetFuel);
  ASSERT_EQ(f.size(), 13u);
  EXPECT_TRUE(FrameOk(f));
  EXPECT_EQ(f[3], 0);
  EXPECT_EQ(Le32(f, 4), cb);
  EXPECT_EQ(Le32(f, 8), sb);
}

TEST_F(SensorLine, WritesChangeTheStateOrAreRefused) {
  StartSensor();
  struct Case {
    uint8_t command;
    Bytes data;
    uint8_t status;
    std::function<bool(const SensorState&)> check;
  };
  const Case cases[] = {
      {cmd::kSetFreq, {0xA0, 0x0F}, 0, [](const SensorState& s) { return s.frequency == 4000; }},
      {cmd::kSetFreq, {0xA1, 0x0F}, 2, [](const SensorState& s) { return s.frequency == 4000; }},
      {cmd::kSetFreq, {0xF3, 0x01}, 2, [](const SensorState& s) { return s.frequency == 4000; }},
      {cmd::kSetFilter, {0xC2, 0x01}, 0, [](const SensorState& s) { return s.filter == 450; }},
      {cmd::kSetFilter, {0xC1, 0x01}, 2, [](const SensorState& s) { return s.filter == 450; }},
      {cmd::kSetFilter, {0xD2, 0x04}, 0, [](const SensorState& s) { return s.filter == 1234; }},
      {cmd::kSetFilter, {0xA1, 0x0F}, 2, [](const SensorState& s) { return s.filter == 1234; }},
      {cmd::kSetKu, {0x19, 0x0C}, 0, [](const SensorState& s) { return s.kuWord == 0x0C19; }},
      {cmd::kSetKu, {0x1A, 0x00}, 2, [](const SensorState& s) { return s.kuWord == 0x0C19; }},
      {cmd::kSetPulse, {200}, 0, [](const SensorState& s) { return s.pulse == 200; }},
      {cmd::kSetPulse, {201}, 2, [](const SensorState& s) { return s.pulse == 200; }},
      {cmd::kSetAtten, {30}, 0, [](const SensorState& s) { return s.attenuation == 30; }},
      {cmd::kSetAtten, {20}, 2, [](const SensorState& s) { return s.attenuation == 30; }},
      {cmd::kSetIntegrator, {1, 2, 3, 4}, 0, [](const SensorState& s) { return s.integrator == 0x04030201; }},
      {cmd::kSetPostFilter, {8}, 0, [](const SensorState& s) { return s.postFilter == 8; }},
      {cmd::kSetPostFilter, {9}, 2, [](const SensorState& s) { return s.postFilter == 8; }},
      {cmd::kDisplayTest,
       {0x00, 0x00, 0x02, 0x00},
       0,
       [](const SensorState& s) { return s.displayMask == 0x20000; }},
      {cmd::kSetTankHeight,
       {0x34, 0x12},
       0,
       [](const SensorState& s) { return s.customTankHeight == 0x1234; }},
      {cmd::kSetTankId, {5, 0}, 0, [](const SensorState& s) { return s.tankId == 5; }},
      {cmd::kSetTareMode, {1}, 0, [](const SensorState& s) { return s.tareMode == 1; }},
      {cmd::kSetTareMode, {2}, 2, [](const SensorState& s) { return s.tareMode == 1; }},
      {cmd::kSetPeriod, {9}, 0, [](const SensorState& s) { return s.period == 9; }},
      {cmd::kSetAuto, {7}, 2, [](const SensorState& s) { return s.mode == 0; }},
      {cmd::kSetAddress, {255}, 2, [](const SensorState& s) { return s.address == 1; }},
      {cmd::kSetFlags, {0x00}, 2, [](const SensorState& s) { return s.baud == 19200; }},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Status(1, c.command, c.data), c.status) << "command 0x" << std::hex << int(c.command);
    EXPECT_TRUE(c.check(sensor_->State())) << "command 0x" << std::hex << int(c.command);
  }
}

TEST_F(SensorLine, AnswersOnlyAtItsOwnLineSpeed) {
  StartSensor();  // 19200
  ASSERT_TRUE(line_.SetBaud(9600));
  SendIgnored(BuildRequest(1, cmd::kGetModel));
  ASSERT_TRUE(line_.SetBaud(19200));
  const Bytes a = Ask(1, cmd::kGetFreq);
  ASSERT_EQ(a.size(), 6u) << "the first bytes back answer the request at the right rate";
  EXPECT_EQ(a[2], cmd::kGetFreq);
  EXPECT_EQ(sensor_->ReceivedCommands(), (Bytes{cmd::kGetFreq}));
}

TEST_F(SensorLine, ServiceModeIsAcknowledgedAtTheOldRateThenMovesTo115200) {
  StartSensor();
  EXPECT_EQ(Status(1, cmd::kServiceMode, {}), 0);
  SendIgnored(BuildRequest(1, cmd::kGetFreq));  // still 19200 on our side
  ASSERT_TRUE(line_.SetBaud(115200));
  EXPECT_EQ(Ask(1, cmd::kGetFreq).size(), 6u);
  const SensorState s = sensor_->State();
  EXPECT_EQ(s.baud, 115200);
  EXPECT_TRUE(s.serviceMode);
}

TEST_F(SensorLine, NewAddressTakesEffectAfterItsAcknowledgement) {
  StartSensor();
  const Bytes ack = Ask(1, cmd::kSetAddress, {9});
  EXPECT_EQ(ack, (Bytes{0x3E, 1, cmd::kSetAddress, 0, ack.size() == 5 ? ack[4] : uint8_t{0}}));
  EXPECT_TRUE(FrameOk(ack));
  SendIgnored(BuildRequest(1, cmd::kGetFreq));
  const Bytes a = Ask(9, cmd::kGetFreq);
  ASSERT_EQ(a.size(), 6u);
  EXPECT_EQ(a[1], 9);
}

TEST_F(SensorLine, FlagsMoveTheRateAfterTheirAcknowledgement) {
  StartSensor();
  EXPECT_EQ(Status(1, cmd::kSetFlags, {0x1C | 0x42}), 0);  // code 7, bits 1 and 6
  SendIgnored(BuildRequest(1, cmd::kGetPassport));
  ASSERT_TRUE(line_.SetBaud(115200));
  const Bytes p = Ask(1, cmd::kGetPassport);
  ASSERT_EQ(p.size(), 22u);
  EXPECT_EQ(p[20], 0x5E);
  EXPECT_EQ(sensor_->State().baud, 115200);
}

TEST_F(SensorLine, BroadcastAnswersCarryTheAddressFlagsBit5Chooses) {
  struct Case {
    uint8_t flags;
    uint8_t to;
    uint8_t expectedFrom;
  };
  const Case cases[] = {
      {0x10, 255, 255},
      {0x30, 255, 7},
      {0x10, 7, 7},
      {0x30, 7, 7},
  };
  SensorState s;
  s.address = 7;
  StartSensor(s);
  for (const auto& c : cases) {
    SensorState now = sensor_->State();
    now.flags = c.flags;
    sensor_->SetState(now);
    const Bytes a = Ask(c.to, cmd::kGetIdent);
    ASSERT_EQ(a.size(), 12u);
    EXPECT_TRUE(FrameOk(a));
    EXPECT_EQ(a[1], c.expectedFrom) << "flags 0x" << std::hex << int(c.flags) << " to " << std::dec
                                    << int(c.to);
  }
  SendIgnored(BuildRequest(8, cmd::kGetIdent));  // another sensor's address
}

TEST_F(SensorLine, BlockStoreStartsWithTheFactoryImageAndKeepsWrites) {
  StartSensor();
  const Bytes b0 = Ask(1, cmd::kReadBlock, {0});
  ASSERT_EQ(b0.size(), 132u);
  ASSERT_TRUE(FrameOk(b0));
  const Bytes head(b0.begin() + 3, b0.begin() + 131);
  const size_t size = Le16(head, 0);
  EXPECT_EQ(Le16(head, 4), 0x0301);
  // Read the whole image as the tool does and check that it is sealed.
  Bytes image = head;
  for (size_t i = 1; i < (size + 127) / 128; ++i) {
    const Bytes b = Ask(1, cmd::kReadBlock, {static_cast<uint8_t>(i)});
    ASSERT_EQ(b.size(), 132u);
    image.insert(image.end(), b.begin() + 3, b.begin() + 131);
  }
  uint16_t sum = 0;
  for (size_t i = 0; i < size / 2; ++i) sum = static_cast<uint16_t>(sum + Le16(image, 2 * i));
  EXPECT_EQ(sum, 0);

  Bytes block(128);
  for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<uint8_t>(i * 7 + 3);
  Bytes data = {255};
  data.insert(data.end(), block.begin(), block.end());
  EXPECT_EQ(Status(1, cmd::kWriteBlock, data), 0);
  const Bytes back = Ask(1, cmd::kReadBlock, {255});
  ASSERT_EQ(back.size(), 132u);
  EXPECT_EQ(Bytes(back.begin() + 3, back.begin() + 131), block);
  const SensorState s = sensor_->State();
  EXPECT_EQ(Bytes(s.hub.begin() + 255 * 128, s.hub.begin() + 256 * 128), block);
  EXPECT_EQ(Ask(1, cmd::kReadBlock, {0}), b0) << "other blocks stay as they were";
}

// Checks the block sums and returns the samples of blocks 1...
std::vector<int16_t> EchoSamples(const Bytes& echo) {
  std::vector<int16_t> samples;
  const size_t n = echo.size() / 140;
  for (size_t k = 0; k < n; ++k) {
    uint16_t sum = 0;
    for (size_t j = 0; j < 64; ++j) sum = static_cast<uint16_t>(sum + Le16(echo, 140 * k + 8 + 2 * j));
    EXPECT_EQ(Le32(echo, 140 * k + 136), sum) << "block " << k;
    if (k == 0) continue;
    for (size_t j = 0; j < 64; ++j) samples.push_back(static_cast<int16_t>(Le16(echo, 140 * k + 8 + 2 * j)));
  }
  return samples;
}

TEST_F(SensorLine, EchoBlocksByModeWithHeaderFromTheState) {
  SensorState s;
  s.frequency = 1150;
  s.filter = 1100;
  s.attenuation = 30;
  s.pulse = 40;
  s.temperature = -3 * 256;
  s.level = 4321;
  s.echoError = 3;
  StartSensor(s);
  const std::pair<uint8_t, size_t> cases[] = {{1, 24}, {2, 32}, {3, 32}, {11, 1}};
  for (const auto& [mode, blocks] : cases) {
    const Bytes e = AskEcho(1, mode);
    ASSERT_EQ(e.size(), 140 * blocks) << "mode " << int(mode);
    EXPECT_EQ(e[0], 0x3E);
    EXPECT_EQ(e[1], 1);
    EXPECT_EQ(e[2], 0x22);
    EXPECT_EQ(e[3], blocks);
    EchoSamples(e);
    const Bytes h(e.begin() + 8, e.begin() + 136);
    EXPECT_EQ(Le16(h, 2), 1150);
    EXPECT_EQ(Le16(h, 6), 1100);
    EXPECT_EQ(Le16(h, 10), 30);
    EXPECT_EQ(Le16(h, 12), 40);
    EXPECT_EQ(Le16(h, 16), 3);
    EXPECT_EQ(static_cast<int16_t>(Le16(h, 42)), -3 * 256);
    EXPECT_EQ(Le16(h, 62), 4321);
    EXPECT_EQ(Le16(h, 66), 0);
  }
}

TEST_F(SensorLine, EchoSamplesLookLikeAnUltrasonicEcho) {
  StartSensor();
  const std::vector<int16_t> env = EchoSamples(AskEcho(1, 1));
  ASSERT_EQ(env.size(), 1472u);
  for (int16_t v : env) {
    EXPECT_GE(v, 0);
    EXPECT_LE(v, 32000);
  }
  auto echoPeak = [](const std::vector<int16_t>& v) {
    return std::max_element(v.begin() + 100, v.end()) - v.begin();
  };
  const auto first = echoPeak(env);
  EXPECT_GT(env[2], env[first] / 2) << "transmit burst at the start";

  SensorState s = sensor_->State();
  s.level = static_cast<uint16_t>(s.level + 3000);  // 300 mm more fuel
  sensor_->SetState(s);
  const auto later = echoPeak(EchoSamples(AskEcho(1, 1)));
  EXPECT_GT(later, first + 100) << "the echo follows the level";

  for (uint8_t mode : {2, 3}) {
    const std::vector<int16_t> raw = EchoSamples(AskEcho(1, mode));
    ASSERT_EQ(raw.size(), 1984u);
    EXPECT_LT(*std::min_element(raw.begin(), raw.end()), -1000) << "mode " << int(mode);
    EXPECT_GT(*std::max_element(raw.begin(), raw.end()), 1000) << "mode " << int(mode);
  }
}

TEST_F(SensorLine, AutomaticTuningStepsRunOnTheSensorClock) {
  SensorState s;
  s.autoStepMs = 3000;
  s.frequency = 2000;
  s.resonance = 1250;
  StartSensor(s);
  auto value = [&](uint8_t command) {
    const Bytes a = Ask(1, command);
    uint32_t v = 0;
    for (size_t i = 3; i + 1 < a.size(); ++i) v |= static_cast<uint32_t>(a[i]) << (8 * (i - 3));
    return v;
  };

  // Step 2: the result shows in AutoState while the mode stays until the
  // tool switches tuning off.
  EXPECT_EQ(Status(1, cmd::kSetAuto, {135}), 0);
  EXPECT_EQ(value(cmd::kGetMode), 135u);
  EXPECT_EQ(value(cmd::kGetAutoState), 0u);
  clock_->Advance(3000);
  EXPECT_EQ(value(cmd::kGetMode), 135u);
  EXPECT_EQ(value(cmd::kGetAutoState), 1u);
  EXPECT_EQ(value(cmd::kGetFreq), 1250u) << "tuned to the transducer";
  EXPECT_EQ(Status(1, cmd::kSetAuto, {0}), 0);
  EXPECT_EQ(value(cmd::kGetMode), 0u);

  // A failing step 2 reports bit 31 and the code.
  SensorState f = sensor_->State();
  f.autoFailCode = 5;
  sensor_->SetState(f);
  EXPECT_EQ(Status(1, cmd::kSetAuto, {135}), 0);
  clock_->Advance(3000);
  EXPECT_EQ(value(cmd::kGetAutoState), 0x80000005u);

  // Step 1 reports a signal level of 1..5 and ends by itself.
  f = sensor_->State();
  f.autoFailCode = 0;
  f.mode = 0;
  sensor_->SetState(f);
  EXPECT_EQ(Status(1, cmd::kSetAuto, {134}), 0);
  EXPECT_EQ(value(cmd::kGetMode), 134u);
  clock_->Advance(1500);
  const uint32_t level = value(cmd::kGetAutoState);
  EXPECT_GE(level, 1u);
  EXPECT_LE(level, 5u);
  clock_->Advance(1500);
  EXPECT_EQ(value(cmd::kGetMode), 0u);
}

TEST_F(SensorLine, FrequencySweepAdvancesWithEachEchoAndWraps) {
  StartSensor();
  EXPECT_EQ(Status(1, cmd::kSetFreq, {0xF4, 0x01}), 0);
  EXPECT_EQ(Status(1, cmd::kAfc, {0, 0, 0}), 0);
  EXPECT_EQ(Status(1, cmd::kAfc, {1, 20, 0}), 0);
  std::vector<uint16_t> seen;
  uint16_t last = 0;
  for (int i = 0; i < 400; ++i) {
    const Bytes e = AskEcho(1, 11);
    ASSERT_EQ(e.size(), 140u);
    const uint16_t f = Le16(e, 8 + 2);
    if (f < last) break;
    seen.push_back(f);
    last = f;
  }
  ASSERT_EQ(seen.size(), 176u);
  EXPECT_EQ(seen.front(), 500);
  EXPECT_EQ(seen.back(), 4000);
  EXPECT_EQ(Status(1, cmd::kAfc, {0, 0, 0}), 0);
  const uint16_t stopped = Le16(AskEcho(1, 11), 10);
  EXPECT_EQ(Le16(AskEcho(1, 11), 10), stopped);
}

TEST_F(SensorLine, ResynchronisesOnGarbageAndForgetsCutRequests) {
  StartSensor();
  Bytes noise = {0x00, 0xFF, 0x3E, 0x31, 0x01};  // ends in the start of a request
  ASSERT_TRUE(line_.Send(noise));
  const Bytes a = Ask(1, cmd::kGetModel);
  ASSERT_EQ(a.size(), 8u);
  EXPECT_EQ(a[2], cmd::kGetModel);

  // A request cut off by silence is dropped; the next one is answered.
  ASSERT_TRUE(line_.Send({0x31, 0x01, 0x26, 0xF4}));
  std::this_thread::sleep_for(std::chrono::milliseconds(120));
  const Bytes b = Ask(1, cmd::kGetFreq);
  ASSERT_EQ(b.size(), 6u);
  EXPECT_TRUE(FrameOk(b));
  EXPECT_EQ(b[2], cmd::kGetFreq);

  SendIgnored({0x31, 0x01, 0x27, 0x00});  // wrong checksum
  EXPECT_EQ(sensor_->ReceivedCommands(), (Bytes{cmd::kGetModel, cmd::kGetFreq}));
}

TEST_F(SensorLine, TheToolCanOpenExclusivelyAndReopen) {
  StartSensor();
  Line second;
  EXPECT_EQ(Ask(1, cmd::kGetFreq).size(), 6u);
  line_.Close();
  for (int round = 0; round < 3; ++round) {
    ASSERT_TRUE(line_.Open(sensor_->LinkPath(), 19200)) << std::strerror(errno);
    EXPECT_EQ(Ask(1, cmd::kGetFreq).size(), 6u) << "round " << round;
    line_.Close();
  }
  // While nobody has the port open the sensor keeps its pseudo-terminal.
  std::this_thread::sleep_for(std::chrono::milliseconds(60));
  ASSERT_TRUE(line_.Open(sensor_->LinkPath(), 19200));
  EXPECT_EQ(Ask(1, cmd::kGetFreq).size(), 6u);
}

TEST_F(SensorLine, LinkIsMadeAndRemovedAndAPortInUseIsRefused) {
  StartSensor();
  const std::string link = sensor_->LinkPath();
  EXPECT_EQ(link, ports_.Path() + "/COM7");
  EXPECT_EQ(sensor_->PortName(), "COM7");
  char target[256] = {};
  ASSERT_GT(::readlink(link.c_str(), target, sizeof target - 1), 0);
  EXPECT_EQ(std::string(target), sensor_->SlavePath());

  VirtualSensor other;
  std::string error;
  EXPECT_FALSE(other.Start(7, &error));
  EXPECT_NE(error.find("COM7"), std::string::npos) << error;
  ASSERT_TRUE(other.Start(8, &error)) << error;
  const std::string otherLink = other.LinkPath();

  line_.Close();
  sensor_->Stop();
  struct stat st {};
  EXPECT_NE(::lstat(link.c_str(), &st), 0) << "the link goes with the sensor";
  EXPECT_EQ(::lstat(otherLink.c_str(), &st), 0);
  sensor_.reset();
  // A stale link (its pseudo-terminal gone) is taken over.
  ASSERT_EQ(::symlink("/dev/pts/does-not-exist", link.c_str()), 0);
  VirtualSensor third;
  EXPECT_TRUE(third.Start(7, &error)) << error;
}

TEST_F(SensorLine, PacedAnswersTakeTheirLineTime) {
  SensorState s;
  s.baud = 2400;
  s.flags = 1u << 2;
  StartSensor(s);
  sensor_->SetPacing(true);
  const auto start = std::chrono::steady_clock::now();
  const Bytes p = Ask(1, cmd::kGetPassport);
  const auto took = std::chrono::steady_clock::now() - start;
  ASSERT_EQ(p.size(), 22u);
  EXPECT_TRUE(FrameOk(p));
  // 21 byte times at 2400 bit/s must have passed before the last byte: a lower
  // bound, which a slow machine cannot break.
  EXPECT_GE(took, std::chrono::milliseconds(21 * 10 * 1000 / 2400));

  // The pseudo-terminal delivers a request at once; a paced sensor takes it
  // only when its bytes would have crossed the line, as a real one does. A
  // block write is 133 bytes, its acknowledgement 5.
  Bytes data(1, 3);
  data.resize(1 + kBlockSize, 0x5A);
  const auto writeStart = std::chrono::steady_clock::now();
  const Bytes ack = Ask(1, cmd::kWriteBlock, data);
  const auto writeTook = std::chrono::steady_clock::now() - writeStart;
  ASSERT_EQ(ack.size(), 5u);
  EXPECT_EQ(ack[3], 0);
  EXPECT_GE(writeTook, std::chrono::milliseconds((133 + 4) * 10 * 1000 / 2400));
}

TEST_F(SensorLine, StateAndFaultsCanBeChangedWhileItAnswers) {
  StartSensor();
  std::atomic<bool> stop{false};
  std::thread meddler([&] {
    uint16_t level = 0;
    while (!stop.load()) {
      SensorState s = sensor_->State();
      s.level = level++;
      sensor_->SetState(s);
      sensor_->InjectFault({FaultKind::Delay, cmd::kGetKu, 1, 1});
      sensor_->ClearFaults();
      (void)sensor_->ReceivedCommands();
    }
  });
  for (int i = 0; i < 30; ++i) {
    const Bytes e = AskEcho(1, 11);
    ASSERT_EQ(e.size(), 140u);
  }
  stop = true;
  meddler.join();
  EXPECT_EQ(sensor_->RequestCount(), 30u);
}

}  // namespace
}  // namespace kl::vsensor
