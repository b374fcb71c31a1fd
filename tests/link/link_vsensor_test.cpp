// The typed transactions against the virtual sensor, through the POSIX port
// on its pseudo-terminal; and the probe program end to end.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <functional>

#include "Unit_uart.h"
#include "link_test_util.h"
#include "virtual_sensor.h"

namespace kl {
namespace {

using vsensor::FaultKind;
using vsensor::SensorState;
using vsensor::VirtualSensor;

class SensorLink : public testing::Test {
 protected:
  void Start(SensorState state = {}) {
    sensor = std::make_unique<VirtualSensor>(state, 7);
    std::string error;
    ASSERT_TRUE(sensor->Start(com, &error)) << error;
    ASSERT_EQ(UartOpen(link, com, state.baud), 0) << UartLastOpenError(link);
  }
  void TearDown() override {
    UartClose(link);
    if (sensor) sensor->Stop();
  }

  const int com = test::NextCom();
  std::unique_ptr<VirtualSensor> sensor;
  UartLink link;
};

TEST_F(SensorLink, QueriesReadTheDeviceState) {
  SensorState st;
  st.address = 9;
  st.frequency = 1234;
  st.filter = 700;
  st.kuWord = 0x1907;
  st.pulse = 77;
  st.attenuation = 30;
  st.postFilter = 4;
  st.customTankHeight = 5432;
  st.tankId = 3;
  st.integrator = 0x00C80064;
  st.autoState = 0x01020304;
  Start(st);
  const struct {
    uint8_t command;
    uint32_t want;
  } cases[] = {
      {SVC_GET_FREQ, 1234},
      {SVC_GET_FILTER, 700},
      {SVC_GET_KU, 0x1907},
      {SVC_GET_PULSE, 77},
      {SVC_GET_ATTEN, 30},
      {SVC_GET_POST_FILTER, 4},
      {SVC_GET_TANK_HEIGHT, 5432},
      {SVC_GET_TANK_ID, 3},
      {SVC_GET_INTEGRATOR, 0x00C80064},
      {SVC_GET_AUTO_STATE, 0x01020304},
      {SVC_GET_MODE, 0},
      {SVC_GET_MODEL, kUartModelKL31},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "command 0x" << std::hex << int(c.command));
    uint32_t v = 0xDEADBEEF;
    EXPECT_EQ(UartQuery(link, c.command, 9, &v), LINK_OK);
    EXPECT_EQ(v, c.want);
  }
}

TEST_F(SensorLink, RecordsOfTheIdentityFuelAndConfiguration) {
  SensorState st;
  st.address = 3;
  st.period = 12;
  st.flags = 0x91;
  st.configByte = 0x25;
  st.flags2 = 0x20;
  st.fuelType = 2;
  st.thermalCoef = 0.00125f;
  st.soundSpeed = 1300.5f;
  Start(st);
  uint32_t date = 0, serial = 0, model = 0, fw = 0, addr = 0, period = 0, flags = 0;
  ASSERT_EQ(UartGetPassport(link, 3, &date, &serial, &model, &fw, &addr, &period, &flags), LINK_OK);
  EXPECT_EQ(date, st.date);
  EXPECT_EQ(serial, st.serial);
  EXPECT_EQ(model, st.model);
  EXPECT_EQ(fw, st.firmware);
  EXPECT_EQ(addr, 3u);
  EXPECT_EQ(period, 12u);
  EXPECT_EQ(flags, 0x91u);
  EXPECT_EQ(UartFormatDate(date), "150323");
  EXPECT_EQ(UartFormatSerial(serial), "123456");

  date = serial = model = fw = 0;
  ASSERT_EQ(UartGetIdent(link, 3, &date, &serial, &model, &fw), LINK_OK);
  EXPECT_EQ(serial, st.serial);
  EXPECT_TRUE(UartIsSupportedFirmware(static_cast<uint8_t>(fw)));

  uint32_t cfg = 0, flags2 = 0;
  ASSERT_EQ(UartGetConfig(link, 3, &cfg, &flags2, nullptr, nullptr), LINK_OK);
  EXPECT_EQ(cfg & 0x0F, 5u);
  EXPECT_EQ(flags2, 0x20u);

  uint32_t type = 0, coef = 0, speed = 0;
  ASSERT_EQ(UartGetFuel(link, 3, &type, &coef, &speed), LINK_OK);
  EXPECT_EQ(type, 2u);
  EXPECT_EQ(UartBitsFloat(coef), 0.00125f);
  EXPECT_EQ(UartBitsFloat(speed), 1300.5f);

  EXPECT_EQ(UartSync(link, 3, nullptr, nullptr, nullptr), LINK_OK);
}

TEST_F(SensorLink, WritesChangeTheDeviceState) {
  Start();
  EXPECT_EQ(UartCommand(link, SVC_SET_FREQ, 1, 1500), LINK_OK);
  EXPECT_EQ(UartCommand(link, SVC_SET_INTEGRATOR, 1, 0x01F40032), LINK_OK);
  EXPECT_EQ(UartCommand(link, SVC_SET_TANK_HEIGHT, 1, 7000), LINK_OK);
  EXPECT_EQ(UartSetFuel(link, 1, 0, UartFloatBits(0.002f), UartFloatBits(1400.0f)), LINK_OK);
  EXPECT_EQ(UartAfcControl(link, 1, 1, 40), LINK_OK);
  uint8_t block[kUartBlockSize];
  for (size_t i = 0; i < kUartBlockSize; ++i) block[i] = static_cast<uint8_t>(i ^ 0x5A);
  EXPECT_EQ(UartWriteBlock(link, 1, 2, block), LINK_OK);

  const SensorState now = sensor->State();
  EXPECT_EQ(now.frequency, 1500);
  EXPECT_EQ(now.integrator, 0x01F40032u);
  EXPECT_EQ(now.customTankHeight, 7000);
  EXPECT_EQ(now.fuelType, 0);
  EXPECT_EQ(now.thermalCoef, 0.002f);
  EXPECT_EQ(now.soundSpeed, 1400.0f);
  EXPECT_TRUE(now.afcOn);
  EXPECT_EQ(now.afcStep, 40);
  ASSERT_GE(now.hub.size(), 3 * kUartBlockSize);
  EXPECT_EQ(0, std::memcmp(now.hub.data() + 2 * kUartBlockSize, block, kUartBlockSize));

  uint8_t back[kUartBlockSize] = {};
  ASSERT_EQ(UartReadBlock(link, 1, 2, back), LINK_OK);
  EXPECT_EQ(0, std::memcmp(back, block, kUartBlockSize));
}

TEST_F(SensorLink, FaultsBecomeTheirResults) {
  Start();
  struct Case {
    const char* name;
    vsensor::Fault fault;
    LinkResult want;
  } cases[] = {
      {"no answer", {FaultKind::NoAnswer, -1, 1, 0}, LINK_NO_ANSWER},
      {"checksum", {FaultKind::BadCrc, -1, 1, 0}, LINK_CRC_ERROR},
      {"marker", {FaultKind::BadMarker, -1, 1, 0}, LINK_BAD_ANSWER},
      {"cut short", {FaultKind::CutShort, -1, 1, 5}, LINK_BAD_LENGTH},
      {"other address", {FaultKind::WrongAddress, -1, 1, 0}, LINK_BAD_ANSWER},
      {"unknown command", {FaultKind::UnknownCommand, -1, 1, 0}, LINK_BAD_LENGTH},
      {"status 1", {FaultKind::AckStatus, -1, 1, 1}, LINK_NOT_DONE},
      {"status 0xE0", {FaultKind::AckStatus, -1, 1, 0xE0}, LINK_BAD_PARAM},
      {"late first byte", {FaultKind::Delay, -1, 1, 900}, LINK_NO_ANSWER},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    sensor->ClearFaults();
    sensor->InjectFault(c.fault);
    const bool ack = c.fault.kind == FaultKind::AckStatus;
    uint32_t v = 0;
    const LinkResult r = ack ? UartCommand(link, SVC_SET_PULSE, 1, 60) : UartQuery(link, SVC_GET_FREQ, 1, &v);
    EXPECT_EQ(r, c.want);
    // Let a late answer pass before the next case.
    if (c.fault.kind == FaultKind::Delay) std::this_thread::sleep_for(std::chrono::milliseconds(800));
    sensor->ClearFaults();
    EXPECT_EQ(UartQuery(link, SVC_GET_FREQ, 1, &v), LINK_OK) << "the link recovers";
  }
  // Echo block sums are checked.
  sensor->InjectFault({FaultKind::BadEchoSum, SVC_GET_ECHO, 1, 0});
  EchoHeader h;
  EchoSamples s;
  EXPECT_EQ(UartGetEcho(link, 1, 2, &h, &s), LINK_BAD_ANSWER);
}

TEST_F(SensorLink, DoubleAnswerDoesNotConfuseTheNextTransaction) {
  Start();
  sensor->InjectFault({FaultKind::DoubleAnswer, SVC_GET_FREQ, 1, 0});
  uint32_t v = 0;
  EXPECT_EQ(UartQuery(link, SVC_GET_FREQ, 1, &v), LINK_OK);
  uint32_t pulse = 0;
  EXPECT_EQ(UartQuery(link, SVC_GET_PULSE, 1, &pulse), LINK_OK);
  EXPECT_EQ(pulse, sensor->State().pulse);
}

TEST_F(SensorLink, ShortEchoKeepsTheBlocksOfAnEarlierLongerOne) {
  Start();
  EchoHeader h;
  EchoSamples longer, shorter;
  int32_t n = 0;
  ASSERT_EQ(UartGetEcho(link, 1, 2, &h, &longer, &n), LINK_OK);
  const int32_t longN = n;
  EXPECT_EQ(h.Frequency(), sensor->State().frequency);
  ASSERT_EQ(UartGetEcho(link, 1, 1, &h, &shorter, &n), LINK_OK);
  ASSERT_LT(n, longN);
  const size_t from = static_cast<size_t>(n - 1) * EchoSamples::kPerBlock;
  const size_t to = static_cast<size_t>(longN - 1) * EchoSamples::kPerBlock;
  for (size_t i = from; i < to; ++i) ASSERT_EQ(shorter.samples[i], longer.samples[i]) << i;
}

TEST_F(SensorLink, ServiceModeIsAcknowledgedThenTheLineRunsAt115200) {
  Start();
  ASSERT_EQ(UartCommand(link, SVC_SERVICE_MODE, 1, 0), LINK_OK);
  ASSERT_EQ(UartOpen(link, com, 115200), 0) << UartLastOpenError(link);
  uint32_t d, s, m, f;
  EXPECT_EQ(UartGetIdent(link, 1, &d, &s, &m, &f), LINK_OK);
  EchoHeader h;
  EchoSamples e;
  EXPECT_EQ(UartGetEcho(link, 1, 3, &h, &e), LINK_OK);
}

TEST_F(SensorLink, BlockWriteAtTheSlowestRateOnAPacedLine) {
  // At 2400 bit/s the 133-byte request alone is 554 ms on the line, longer
  // than the 500 ms in which an answer must begin; that wait may only start
  // once the request has gone out.
  SensorState st;
  st.baud = 2400;
  st.flags = 1u << 2;
  Start(st);
  sensor->SetPacing(true);
  uint8_t block[kUartBlockSize];
  for (size_t i = 0; i < kUartBlockSize; ++i) block[i] = static_cast<uint8_t>(i * 7);
  EXPECT_EQ(UartWriteBlock(link, 1, 4, block), LINK_OK);
  EXPECT_EQ(0, std::memcmp(sensor->State().hub.data() + 4 * kUartBlockSize, block, kUartBlockSize));
  uint8_t back[kUartBlockSize] = {};
  EXPECT_EQ(UartReadBlock(link, 1, 4, back), LINK_OK);
  EXPECT_EQ(0, std::memcmp(back, block, kUartBlockSize));
}

TEST_F(SensorLink, SearchFindsTheSensorAtItsRate) {
  SensorState st;
  st.baud = 38400;
  st.flags = static_cast<uint8_t>((5u << 2) | 0x20);  // answers a broadcast with its own address
  st.address = 7;
  Start(st);
  int32_t found = -1;
  int32_t foundRate = 0;
  for (int32_t rate : kUartSearchRates) {
    ASSERT_EQ(UartOpen(link, com, rate), 0) << UartLastOpenError(link);
    UartSync(link, kUartBroadcast, nullptr, nullptr, nullptr);
    if (UartSearch(link, &found) == LINK_OK) {
      foundRate = rate;
      break;
    }
  }
  EXPECT_EQ(foundRate, 38400);
  EXPECT_EQ(found, 7);
}

// --- the probe program --------------------------------------------------

class Probe : public testing::Test {
 protected:
  void SetUp() override {
    path = test::ToolPath("kl31_probe");
    if (::access(path.c_str(), X_OK) != 0) GTEST_SKIP() << "no " << path;
  }
  int Run(int com, std::string* out) {
    return test::RunProgram(path, {"COM" + std::to_string(com)}, out, 120000);
  }
  std::string path;
};

TEST_F(Probe, FindsAndIdentifiesTheSensor) {
  SensorState st;
  st.baud = 57600;
  st.address = 12;
  st.flags = static_cast<uint8_t>((6u << 2) | 0x20);
  VirtualSensor sensor(st, 3);
  const int com = test::NextCom();
  std::string error;
  ASSERT_TRUE(sensor.Start(com, &error)) << error;
  std::string out;
  EXPECT_EQ(Run(com, &out), 0) << out;
  EXPECT_NE(out.find("57600"), std::string::npos) << out;
  EXPECT_NE(out.find("KL31"), std::string::npos) << out;
  EXPECT_NE(out.find("150323"), std::string::npos) << out;
  EXPECT_NE(out.find("123456"), std::string::npos) << out;
  EXPECT_NE(out.find("0.90"), std::string::npos) << out;
}

TEST_F(Probe, ExitCodes) {
  std::string out;
  EXPECT_EQ(Run(test::NextCom(), &out), 2) << out;

  SensorState old;
  old.firmware = 8;
  old.baud = 115200;
  old.flags = 7u << 2;
  VirtualSensor unsupported(old, 3);
  const int com = test::NextCom();
  std::string error;
  ASSERT_TRUE(unsupported.Start(com, &error)) << error;
  out.clear();
  EXPECT_EQ(Run(com, &out), 3) << out;
  unsupported.Stop();

  test::PtyPeer silent(test::NextCom());
  out.clear();
  EXPECT_EQ(Run(silent.com(), &out), 1) << out;
}

}  // namespace
}  // namespace kl
