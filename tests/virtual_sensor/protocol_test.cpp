// Pieces of the sensor that need no line: checksum, frame lengths, the tank
// table image it starts with, fault and state-file parsing.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

#include "line.h"
#include "virtual_sensor.h"

namespace kl::vsensor {
namespace {

using testing::Bytes;
using testing::Le16;

TEST(Crc8, CheckValueOverTheNineDigits) {
  const std::string digits = "123456789";
  EXPECT_EQ(Crc8(reinterpret_cast<const uint8_t*>(digits.data()), digits.size()), 0xA1);
  EXPECT_EQ(Crc8(nullptr, 0), 0x00);
}

TEST(Frames, WorkedRequestsAndAcknowledgement) {
  struct Case {
    Bytes built;
    Bytes expected;
  };
  const Case cases[] = {
      {BuildRequest(255, cmd::kGetIdent), {0x31, 0xFF, 0x42, 0x0E}},
      {BuildRequest(1, cmd::kGetModel), {0x31, 0x01, 0x80, 0x3D}},
      {BuildRequest(1, cmd::kSetFreq, {0xF4, 0x01}), {0x31, 0x01, 0x26, 0xF4, 0x01, 0x7F}},
  };
  for (const auto& c : cases) EXPECT_EQ(c.built, c.expected);
  const Bytes ack = {0x3E, 0x01, 0x26, 0x00};
  EXPECT_EQ(Crc8(ack.data(), ack.size()), 0x9D);
}

TEST(Frames, RequestAndAnswerLengths) {
  struct Case {
    uint8_t command;
    size_t request, answer;
  };
  const Case cases[] = {
      {cmd::kSync, 4, 9},
      {cmd::kSetIntegrator, 8, 5},
      {cmd::kGetIntegrator, 4, 8},
      {cmd::kGetEcho, 5, 0},
      {cmd::kSetKu, 6, 5},
      {cmd::kGetKu, 4, 6},
      {cmd::kGetPulse, 4, 5},
      {cmd::kAfc, 7, 5},
      {cmd::kServiceMode, 4, 5},
      {cmd::kDisplayTest, 8, 5},
      {cmd::kGetPassport, 4, 22},
      {cmd::kGetIdent, 4, 12},
      {cmd::kGetConfig, 4, 12},
      {cmd::kReadBlock, 5, 132},
      {cmd::kWriteBlock, 133, 5},
      {cmd::kGetMode, 4, 5},
      {cmd::kGetAutoState, 4, 8},
      {cmd::kGetModel, 4, 8},
      {cmd::kSetFuel, 13, 5},
      {cmd::kGetFuel, 4, 13},
      {cmd::kSetTankId, 6, 5},
      {0x2E, 0, 0},
      {0x00, 0, 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(RequestLength(c.command), c.request) << "command 0x" << std::hex << int(c.command);
    EXPECT_EQ(AnswerLength(c.command), c.answer) << "command 0x" << std::hex << int(c.command);
  }
}

TEST(Frames, BaudCodes) {
  const int rates[] = {2400, 4800, 9600, 19200, 38400, 57600, 115200};
  for (int code = 1; code <= 7; ++code) {
    EXPECT_EQ(BaudFromCode(code), rates[code - 1]);
    EXPECT_EQ(CodeFromBaud(rates[code - 1]), code);
  }
  EXPECT_EQ(BaudFromCode(0), 0);
  EXPECT_EQ(CodeFromBaud(14400), -1);
}

// Walks the records as the tool does and collects their IDs.
std::vector<uint16_t> TankIds(const Bytes& image) {
  std::vector<uint16_t> ids;
  const size_t size = Le16(image, 0);
  size_t at = 16;
  while (at + 10 <= size && ids.size() < 100) {
    ids.push_back(Le16(image, at + 2));
    const size_t recordSize = Le16(image, at);
    if (recordSize == 0) break;
    at += recordSize;
  }
  return ids;
}

TEST(HubImage, FactoryImageIsSealedAndHoldsTheCustomAndPresetTanks) {
  const Bytes image = DefaultHubImage();
  ASSERT_EQ(image.size(), kHubSize);
  EXPECT_EQ(Le16(image, 4), 0x0301);
  EXPECT_TRUE(HubImageValid(image));
  uint16_t sum = 0;
  for (size_t i = 0; i < Le16(image, 0) / 2u; ++i) sum = static_cast<uint16_t>(sum + Le16(image, 2 * i));
  EXPECT_EQ(sum, 0);
  const std::vector<uint16_t> ids = TankIds(image);
  EXPECT_EQ(ids, (std::vector<uint16_t>{0, 1, 2, 3, 4}));
  EXPECT_EQ(Le16(image, 6), ids.size());  // TankCount
  EXPECT_LE(Le16(image, 0), 4096);
}

TEST(HubImage, ValidityFollowsVersionAndChecksum) {
  Bytes image = DefaultHubImage();
  image[40] ^= 0x01;
  EXPECT_FALSE(HubImageValid(image));
  HubSealImage(image);
  EXPECT_TRUE(HubImageValid(image));
  image[4] = 0x02;  // version 0x0302
  HubSealImage(image);
  EXPECT_FALSE(HubImageValid(image));
}

TEST(FaultText, ParseKindsAndFields) {
  struct Case {
    const char* text;
    bool ok;
    FaultKind kind;
    int command, count, param;
  };
  const Case cases[] = {
      {"none", true, FaultKind::NoAnswer, -1, 1, 0},
      {"delay:0x42:3:600", true, FaultKind::Delay, 0x42, 3, 600},
      {"crc:any:-1", true, FaultKind::BadCrc, -1, -1, 0},
      {"echosum:34", true, FaultKind::BadEchoSum, 34, 1, 0},
      {"marker", true, FaultKind::BadMarker, -1, 1, 0},
      {"cut:0x80:1:3", true, FaultKind::CutShort, 0x80, 1, 3},
      {"address::2", true, FaultKind::WrongAddress, -1, 2, 0},
      {"command", true, FaultKind::UnknownCommand, -1, 1, 0},
      {"status:0x26:1:0xE0", true, FaultKind::AckStatus, 0x26, 1, 0xE0},
      {"double", true, FaultKind::DoubleAnswer, -1, 1, 0},
      {"bogus", false, FaultKind::NoAnswer, 0, 0, 0},
      {"crc:256", false, FaultKind::NoAnswer, 0, 0, 0},
      {"crc:1:x", false, FaultKind::NoAnswer, 0, 0, 0},
      {"crc:1:1:1:1", false, FaultKind::NoAnswer, 0, 0, 0},
  };
  for (const auto& c : cases) {
    Fault f;
    std::string error;
    ASSERT_EQ(ParseFault(c.text, f, &error), c.ok) << c.text;
    if (!c.ok) {
      EXPECT_FALSE(error.empty());
      continue;
    }
    EXPECT_EQ(f.kind, c.kind) << c.text;
    EXPECT_EQ(f.command, c.command) << c.text;
    EXPECT_EQ(f.count, c.count) << c.text;
    EXPECT_EQ(f.param, c.param) << c.text;
  }
}

class StateFile : public ::testing::Test {
 protected:
  std::string Write(const std::string& text) {
    path_ = ::testing::TempDir() + "vsensor_state_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".txt";
    std::ofstream(path_) << text;
    return path_;
  }
  void TearDown() override { std::remove(path_.c_str()); }
  std::string path_;
};

TEST_F(StateFile, SetsNamedFieldsAndKeepsTheRest) {
  SensorState s;
  s.pulse = 77;
  std::string error;
  ASSERT_TRUE(LoadStateFile(Write("# a slow sensor at address 7\n"
                                  "address = 7\n"
                                  "baud=9600   # a comment after the value\n"
                                  "firmware = 0x08\n"
                                  "model_code = KL30\n"
                                  "date = 150323\n"
                                  "sound_speed = 1325.5\n"
                                  "\n"),
                            s, &error))
      << error;
  EXPECT_EQ(s.address, 7);
  EXPECT_EQ(s.baud, 9600);
  EXPECT_EQ((s.flags >> 2) & 7, 3) << "a rate without flags also sets the baud code";
  EXPECT_EQ(s.firmware, 8);
  EXPECT_EQ(s.modelCode, (std::array<uint8_t, 4>{'K', 'L', '3', '0'}));
  EXPECT_EQ(s.date, (14u << 16) | (2u << 8) | 23u);
  EXPECT_FLOAT_EQ(s.soundSpeed, 1325.5f);
  EXPECT_EQ(s.pulse, 77);
}

TEST_F(StateFile, ExplicitFlagsWinOverTheRate) {
  SensorState s;
  std::string error;
  ASSERT_TRUE(LoadStateFile(Write("flags = 0x3C\nbaud = 9600\n"), s, &error)) << error;
  EXPECT_EQ(s.flags, 0x3C);
  EXPECT_EQ(s.baud, 9600);
}

TEST_F(StateFile, ErrorsNameTheLineAndLeaveTheStateAlone) {
  const std::pair<const char*, const char*> cases[] = {
      {"address = 7\nspeed = 9600\n", ":2:"}, {"address = 300\n", ":1:"}, {"baud = 12345\n", ":1:"},
      {"model_code = KL3\n", ":1:"},          {"address 7\n", ":1:"},
  };
  for (const auto& [text, where] : cases) {
    SensorState s;
    std::string error;
    EXPECT_FALSE(LoadStateFile(Write(text), s, &error)) << text;
    EXPECT_NE(error.find(where), std::string::npos) << error;
    EXPECT_EQ(s.address, 1) << text;
  }
  SensorState s;
  std::string error;
  EXPECT_FALSE(LoadStateFile("/nonexistent/state.txt", s, &error));
  EXPECT_FALSE(error.empty());
}

TEST_F(StateFile, HubFileReplacesTheStore) {
  Bytes image(300, 0);
  image[0] = 0x2C;
  image[1] = 0x01;
  const std::string hubPath = ::testing::TempDir() + "vsensor_hub.bin";
  {
    std::ofstream out(hubPath, std::ios::binary);
    out.write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
  }
  SensorState s;
  std::string error;
  ASSERT_TRUE(LoadStateFile(Write("hub_file = " + hubPath + "\n"), s, &error)) << error;
  ASSERT_EQ(s.hub.size(), kHubSize);
  EXPECT_EQ(Le16(s.hub, 0), 300);
  EXPECT_EQ(s.hub[100], 0);
  std::remove(hubPath.c_str());
}

}  // namespace
}  // namespace kl::vsensor
