// Every fault the sensor can be told to make, as bytes on the line.
#include <gtest/gtest.h>

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

class Faults : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(sensor_.Start(3, &error)) << error;
    ASSERT_TRUE(line_.Open(sensor_.LinkPath(), 19200)) << std::strerror(errno);
    clean_ = AskFreq(6);
    ASSERT_EQ(clean_.size(), 6u);
    ASSERT_TRUE(FrameOk(clean_));
  }

  Bytes AskFreq(size_t read) {
    EXPECT_TRUE(line_.Send(BuildRequest(1, cmd::kGetFreq)));
    return line_.Read(read);
  }

  // The line carries nothing left over: the next answer is a clean one.
  void ExpectLineClean() {
    sensor_.ClearFaults();
    EXPECT_EQ(AskFreq(6), clean_);
  }

  PortsFolderGuard ports_;
  VirtualSensor sensor_;
  Line line_;
  Bytes clean_;
};

TEST_F(Faults, AnswerShapes) {
  struct Case {
    const char* name;
    Fault fault;
    size_t read;
    std::function<void(const Bytes& clean, const Bytes& got)> check;
  };
  const Case cases[] = {
      {"crc",
       {FaultKind::BadCrc},
       6,
       [](const Bytes& c, const Bytes& g) {
         EXPECT_EQ(Bytes(g.begin(), g.end() - 1), Bytes(c.begin(), c.end() - 1));
         EXPECT_FALSE(FrameOk(g));
       }},
      {"marker",
       {FaultKind::BadMarker},
       6,
       [](const Bytes& c, const Bytes& g) {
         EXPECT_EQ(g[0], '<');
         EXPECT_EQ(Bytes(g.begin() + 1, g.end()), Bytes(c.begin() + 1, c.end()));
       }},
      {"marker 0x00",
       {FaultKind::BadMarker, -1, 1, 0x55},
       6,
       [](const Bytes&, const Bytes& g) { EXPECT_EQ(g[0], 0x55); }},
      {"wrong address",
       {FaultKind::WrongAddress},
       6,
       [](const Bytes&, const Bytes& g) {
         EXPECT_EQ(g[1], 2);
         EXPECT_TRUE(FrameOk(g));
       }},
      {"address 8",
       {FaultKind::WrongAddress, -1, 1, 8},
       6,
       [](const Bytes&, const Bytes& g) { EXPECT_EQ(g[1], 8); }},
      {"unknown command",
       {FaultKind::UnknownCommand},
       6,
       [](const Bytes&, const Bytes& g) {
         EXPECT_EQ(g[2], 0x7F);
         EXPECT_TRUE(FrameOk(g));
       }},
      {"double",
       {FaultKind::DoubleAnswer},
       12,
       [](const Bytes& c, const Bytes& g) {
         EXPECT_EQ(Bytes(g.begin(), g.begin() + 6), c);
         EXPECT_EQ(Bytes(g.begin() + 6, g.end()), c);
       }},
      {"cut after 3",
       {FaultKind::CutShort, -1, 1, 3},
       3,
       [](const Bytes& c, const Bytes& g) { EXPECT_EQ(g, Bytes(c.begin(), c.begin() + 3)); }},
      {"cut after 5",
       {FaultKind::CutShort, -1, 1, 5},
       5,
       [](const Bytes& c, const Bytes& g) { EXPECT_EQ(g, Bytes(c.begin(), c.begin() + 5)); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    sensor_.InjectFault(c.fault);
    const Bytes got = AskFreq(c.read);
    ASSERT_EQ(got.size(), c.read);
    c.check(clean_, got);
    ExpectLineClean();
  }
}

TEST_F(Faults, NoAnswerLosesTheRequestOrOnlyTheAnswer) {
  sensor_.InjectFault({FaultKind::NoAnswer, cmd::kSetFreq, 1, 0});
  const size_t before = sensor_.RequestCount();
  ASSERT_TRUE(line_.Send(BuildRequest(1, cmd::kSetFreq, {0x58, 0x02})));  // 600
  ASSERT_TRUE(WaitUntil([&] { return sensor_.RequestCount() == before + 1; }));
  ExpectLineClean();
  EXPECT_EQ(sensor_.State().frequency, 1000) << "a lost request is not carried out";

  sensor_.InjectFault({FaultKind::NoAnswer, cmd::kSetFreq, 1, 1});
  ASSERT_TRUE(line_.Send(BuildRequest(1, cmd::kSetFreq, {0x58, 0x02})));
  ASSERT_TRUE(WaitUntil([&] { return sensor_.RequestCount() == before + 3; }));
  EXPECT_EQ(sensor_.State().frequency, 600) << "a lost answer still leaves the write done";
  EXPECT_EQ(sensor_.AnswerCount(), 2u);  // the two clean frequency reads
}

TEST_F(Faults, DelayedAnswerStartsLate) {
  sensor_.InjectFault({FaultKind::Delay, cmd::kGetFreq, 1, 600});
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(AskFreq(6), clean_);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(600));
}

TEST_F(Faults, AcknowledgementStatusRefusesTheWrite) {
  for (int status : {1, 2, 0xE0}) {
    sensor_.InjectFault({FaultKind::AckStatus, cmd::kSetFreq, 1, status});
    ASSERT_TRUE(line_.Send(BuildRequest(1, cmd::kSetFreq, {0x58, 0x02})));
    const Bytes a = line_.Read(5);
    ASSERT_EQ(a.size(), 5u);
    EXPECT_TRUE(FrameOk(a));
    EXPECT_EQ(a[3], status);
    EXPECT_EQ(sensor_.State().frequency, 1000);
  }
  // A status fault waits for an acknowledgement; a query passes untouched.
  sensor_.InjectFault({FaultKind::AckStatus, -1, 1, 1});
  EXPECT_EQ(AskFreq(6), clean_);
  ASSERT_TRUE(line_.Send(BuildRequest(1, cmd::kSetPulse, {10})));
  EXPECT_EQ(line_.Read(5).at(3), 1);
}

TEST_F(Faults, EchoSumIsBrokenInOneBlockAndCrcFaultsSkipEchoes) {
  sensor_.InjectFault({FaultKind::BadCrc});      // any command: waits for a framed answer
  sensor_.InjectFault({FaultKind::BadEchoSum});  // any command: waits for an echo
  EXPECT_FALSE(FrameOk(AskFreq(6)));
  ASSERT_TRUE(line_.Send(BuildRequest(1, cmd::kGetEcho, {1})));
  const Bytes e = line_.ReadEcho();
  ASSERT_EQ(e.size(), 24u * 140);
  int wrong = 0;
  for (size_t k = 0; k < 24; ++k) {
    uint16_t sum = 0;
    for (size_t j = 0; j < 64; ++j) sum = static_cast<uint16_t>(sum + Le16(e, 140 * k + 8 + 2 * j));
    wrong += Le32(e, 140 * k + 136) != sum;
  }
  EXPECT_EQ(wrong, 1);
  ExpectLineClean();
}

TEST_F(Faults, AimAtOneCommandForTheNextNAnswers) {
  sensor_.InjectFault({FaultKind::BadCrc, cmd::kGetKu, 2, 0});
  EXPECT_EQ(AskFreq(6), clean_);
  auto askKu = [&] {
    EXPECT_TRUE(line_.Send(BuildRequest(1, cmd::kGetKu)));
    return line_.Read(6);
  };
  EXPECT_FALSE(FrameOk(askKu()));
  EXPECT_FALSE(FrameOk(askKu()));
  EXPECT_TRUE(FrameOk(askKu()));

  sensor_.InjectFault({FaultKind::UnknownCommand, -1, -1, 0});  // for ever
  for (int i = 0; i < 3; ++i) EXPECT_EQ(AskFreq(6).at(2), 0x7F);
  ExpectLineClean();
}

}  // namespace
}  // namespace kl::vsensor
