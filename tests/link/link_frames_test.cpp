// Frames, checksum and answer recognition as pure functions: the bytes the
// sender puts on the line and the code the receiver finishes with.
#include <gtest/gtest.h>

#include <cstring>

#include "Unit_uart.h"
#include "link_test_util.h"

namespace kl {
namespace {

using test::Answer;
using test::Bytes;
using test::EchoAnswer;

TEST(Crc8, CheckValueAndWorkedAnswer) {
  const char* digits = "123456789";
  EXPECT_EQ(UartCrc8(9, reinterpret_cast<const uint8_t*>(digits)), 0xA1);
  const Bytes ack = {0x3E, 0x01, 0x26, 0x00};
  EXPECT_EQ(UartCrc8(ack.size(), ack.data()), 0x9D);
}

struct RequestCase {
  uint8_t command;
  int32_t address, value, value2, value3;
  Bytes expected;  // without the checksum unless `withCrc`
  bool withCrc;
};

TEST(RequestFrame, LayoutsAndWorkedFrames) {
  const RequestCase cases[] = {
      {0x42, 255, 0, 0, 0, {0x31, 0xFF, 0x42, 0x0E}, true},
      {0x80, 1, 0, 0, 0, {0x31, 0x01, 0x80, 0x3D}, true},
      {0x26, 1, 500, 0, 0, {0x31, 0x01, 0x26, 0xF4, 0x01, 0x7F}, true},
      // Only the low bits of each field travel.
      {0x28, 0x107, 0x1234, 0, 0, {0x31, 0x07, 0x28, 0x34}, false},
      {0x30, 3, 1, 0x12345, 0, {0x31, 0x03, 0x30, 0x01, 0x45, 0x23}, false},
      {0x37, 3, int32_t(0xA1B2C3D4), 0, 0, {0x31, 0x03, 0x37, 0xD4, 0xC3, 0xB2, 0xA1}, false},
      {0x93,
       2,
       3,
       0x11223344,
       0x55667788,
       {0x31, 0x02, 0x93, 0x03, 0x44, 0x33, 0x22, 0x11, 0x88, 0x77, 0x66, 0x55},
       false},
      {0x36, 9, 77, 0, 0, {0x31, 0x09, 0x36}, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "command 0x" << std::hex << int(c.command));
    UartRequest r;
    r.command = c.command;
    r.address = c.address;
    r.value = c.value;
    r.value2 = c.value2;
    r.value3 = c.value3;
    uint8_t tx[kUartTxBufferSize] = {};
    const size_t n = UartBuildRequest(r, tx);
    const Bytes got(tx, tx + n);
    if (c.withCrc) {
      EXPECT_EQ(got, c.expected);
    } else {
      ASSERT_EQ(n, c.expected.size() + 1);
      EXPECT_EQ(Bytes(tx, tx + n - 1), c.expected);
      EXPECT_EQ(tx[n - 1], UartCrc8(n - 1, tx));
    }
  }
}

TEST(RequestFrame, BlockWriteCarriesTheBlockAndUnknownCommandsBuildNothing) {
  UartRequest r;
  r.command = SVC_WRITE_BLOCK;
  r.address = 1;
  r.value = 5;
  for (size_t i = 0; i < kUartBlockSize; ++i) r.block[i] = static_cast<uint8_t>(i * 3);
  uint8_t tx[kUartTxBufferSize] = {};
  ASSERT_EQ(UartBuildRequest(r, tx), 133u);
  EXPECT_EQ(tx[3], 5);
  EXPECT_EQ(0, std::memcmp(tx + 4, r.block.data(), kUartBlockSize));
  EXPECT_EQ(tx[132], UartCrc8(132, tx));

  for (uint8_t unknown : {uint8_t(0x00), uint8_t(0x7F), uint8_t(0x31), uint8_t(0xFF)}) {
    r.command = unknown;
    EXPECT_EQ(UartBuildRequest(r, tx), 0u) << int(unknown);
  }
}

// Feeds the bytes one at a time as the receiver does; returns the finish
// code (kUartNeedMore when it never finished) and where it finished.
int Feed(const Bytes& bytes, UartAnswerFields* fields, size_t* at = nullptr, bool* isEcho = nullptr,
         size_t capacity = kUartRxBufferSize) {
  bool echo = false;
  for (size_t count = 1; count <= bytes.size(); ++count) {
    const int code = UartReceiverStep(bytes.data(), count, capacity, fields, &echo);
    if (code != kUartNeedMore) {
      if (at) *at = count;
      if (isEcho) *isEcho = echo;
      return code;
    }
  }
  if (at) *at = bytes.size();
  return kUartNeedMore;
}

TEST(AnswerRecognition, FinishCodes) {
  Bytes badCrc = Answer(1, 0x42, Bytes(8, 0x11));
  badCrc.back() ^= 0x40;
  Bytes badSumHigh = EchoAnswer(1, 2, [](int, int w) { return uint16_t(w); });
  badSumHigh[140 + 138] = 0x01;  // sum of block 1 right in its low half only
  Bytes badSum = EchoAnswer(1, 3, [](int k, int w) { return uint16_t(k * 100 + w); });
  badSum[2 * 140 + 136] ^= 0x01;
  struct Case {
    const char* name;
    Bytes bytes;
    int code;
    size_t at;  // count at which it finished
  } cases[] = {
      {"ack status 0", Answer(1, 0x26, {0x00}), LINK_OK, 5},
      {"ack status 1", Answer(1, 0x26, {0x01}), LINK_NOT_DONE, 5},
      {"ack status 2", Answer(1, 0x26, {0x02}), LINK_BAD_PARAM, 5},
      {"ack status 0xE0 folds to 2", Answer(1, 0x26, {0xE0}), LINK_BAD_PARAM, 5},
      {"ident", Answer(1, 0x42, Bytes(8, 0x11)), LINK_OK, 12},
      {"ident bad checksum", badCrc, LINK_CRC_ERROR, 12},
      {"marker wrong at the first byte", {0x3C, 0x01, 0x26, 0x00, 0x9D}, LINK_BAD_ANSWER, 1},
      {"echo of no blocks ends at byte 4", {0x3E, 0x01, 0x22, 0x00, 0xAA}, LINK_OK, 4},
      {"echo sum with a non-zero upper half", badSumHigh, LINK_BAD_ANSWER, 280},
      {"echo sum wrong in the last block", badSum, LINK_BAD_ANSWER, 420},
      {"two answers back to back: the first ends at its length",
       [] {
         Bytes b = Answer(1, 0x80, {'K', 'L', '3', '1'});
         const Bytes second = Answer(1, 0x26, {0});
         b.insert(b.end(), second.begin(), second.end());
         return b;
       }(),
       LINK_OK, 8},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    UartAnswerFields f;
    size_t at = 0;
    EXPECT_EQ(Feed(c.bytes, &f, &at), c.code);
    EXPECT_EQ(at, c.at);
  }
}

TEST(AnswerRecognition, IncompleteOrUnknownAnswersNeverFinishByThemselves) {
  UartAnswerFields f;
  // The receiver ends these with LINK_BAD_LENGTH at the next silent read.
  EXPECT_EQ(Feed({0x3E, 0x01, 0x42}, &f), kUartNeedMore);
  Bytes passport = Answer(1, 0x41, Bytes(18, 0));
  passport.pop_back();
  EXPECT_EQ(Feed(passport, &f), kUartNeedMore);
  Bytes unknown = {0x3E, 0x01, 0x7F};
  unknown.resize(kUartRxBufferSize - 1, 0x55);
  EXPECT_EQ(Feed(unknown, &f), kUartNeedMore);
  // ... but never past the buffer: its last byte ends the answer.
  unknown.push_back(0x55);
  size_t at = 0;
  EXPECT_EQ(Feed(unknown, &f, &at), LINK_BAD_LENGTH);
  EXPECT_EQ(at, kUartRxBufferSize);
}

TEST(AnswerRecognition, FieldsOfEachLayout) {
  struct Case {
    const char* name;
    Bytes frame;
    UartAnswerFields want;
  };
  auto W = [](int32_t v1, int32_t v2 = 0, int32_t v3 = 0, int32_t v4 = 0, int32_t v5 = 0, int32_t v6 = 0,
              int32_t v7 = 0) {
    UartAnswerFields f;
    f.value1 = v1, f.value2 = v2, f.value3 = v3, f.value4 = v4, f.value5 = v5, f.value6 = v6, f.value7 = v7;
    return f;
  };
  const Case cases[] = {
      {"byte", Answer(7, 0x29, {0xC8}), W(200)},
      {"16 bits", Answer(7, 0x27, {0xE8, 0x03}), W(1000)},
      {"32 bits", Answer(7, 0x80, {'K', 'L', '3', '1'}), W(int32_t(kUartModelKL31))},
      {"sync", Answer(7, 0x06, {0x05, 0x34, 0x12, 0x78, 0x56}), W(5, 0x1234, 0x5678)},
      {"ident", Answer(7, 0x42, {0x17, 0x02, 0x0E, 0x40, 0xE2, 0x01, 31, 0x09}), W(0x0E0217, 123456, 31, 9)},
      {"config", Answer(7, 0x60, {0x13, 0x20, 1, 2, 3, 4, 0x33, 0x44}), W(0x13, 0x20, 0x33, 0x44)},
      {"fuel", Answer(7, 0x94, {3, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08}),
       W(3, 0x04030201, 0x08070605)},
      {"passport",
       Answer(7, 0x41, {0x17, 0x02, 0x0E, 0x40, 0xE2, 0x01, 31, 0x09, 0, 0, 0, 0, 0, 0, 7, 0, 10, 0x91}),
       W(0x0E0217, 123456, 31, 9, 7, 10, 0x91)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    UartAnswerFields f;
    ASSERT_EQ(Feed(c.frame, &f), LINK_OK);
    EXPECT_EQ(f.address, 7);
    EXPECT_EQ(f.command, c.frame[2]);
    EXPECT_EQ(f.value1, c.want.value1);
    EXPECT_EQ(f.value2, c.want.value2);
    EXPECT_EQ(f.value3, c.want.value3);
    EXPECT_EQ(f.value4, c.want.value4);
    EXPECT_EQ(f.value5, c.want.value5);
    EXPECT_EQ(f.value6, c.want.value6);
    EXPECT_EQ(f.value7, c.want.value7);
  }
}

TEST(AnswerRecognition, BadChecksumLeavesEarlierFieldsAlone) {
  UartAnswerFields f;
  ASSERT_EQ(Feed(Answer(2, 0x42, {1, 2, 3, 4, 5, 6, 7, 8}), &f), LINK_OK);
  Bytes bad = Answer(9, 0x42, {9, 9, 9, 9, 9, 9, 9, 9});
  bad.back() ^= 1;
  const UartAnswerFields before = f;
  ASSERT_EQ(Feed(bad, &f), LINK_CRC_ERROR);
  EXPECT_EQ(f.address, before.address);
  EXPECT_EQ(f.value1, before.value1);
  EXPECT_EQ(f.value4, before.value4);
}

TEST(AnswerRecognition, BlockReadAndEcho) {
  Bytes data(128);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(255 - i);
  UartAnswerFields f;
  ASSERT_EQ(Feed(Answer(1, 0x6D, data), &f), LINK_OK);
  EXPECT_EQ(Bytes(f.block.begin(), f.block.end()), data);

  // The largest echo (255 blocks) fits the buffer and is checked whole.
  bool isEcho = false;
  size_t at = 0;
  const Bytes big = EchoAnswer(4, 255, [](int k, int w) { return uint16_t(k * 977 + w * 13); });
  ASSERT_EQ(Feed(big, &f, &at, &isEcho), LINK_OK);
  EXPECT_TRUE(isEcho);
  EXPECT_EQ(at, 255u * 140u);
  EXPECT_EQ(f.value1, 255);
  EXPECT_EQ(f.address, 4);
}

TEST(Records, TextsOfTheSettingsRecord) {
  EXPECT_EQ(UartFormatFirmware(0x21), "2.10");
  EXPECT_EQ(UartFormatFirmware(0x09), "0.90");
  EXPECT_EQ(UartFormatFirmware(0x1A), "1.A0");
  EXPECT_EQ(UartFormatDate((14u << 16) | (2u << 8) | 23u), "150323");
  EXPECT_EQ(UartFormatDate(0), "010100");
  EXPECT_EQ(UartFormatSerial(42), "000042");
  EXPECT_EQ(UartFormatSerial(123456), "123456");
  for (int code = 1; code <= 7; ++code) EXPECT_EQ(UartCodeFromBaud(UartBaudFromCode(code)), code);
  EXPECT_EQ(UartBaudFromCode(0), 0);
  EXPECT_EQ(UartCodeFromBaud(14400), 0);
  EXPECT_EQ(UartBitsFloat(UartFloatBits(1390.0f)), 1390.0f);
  EXPECT_EQ(UartFloatBits(1.0f), 0x3F800000u);
}

TEST(Identification, ModelCodeInLineOrderAndFirmwareNine) {
  auto code = [](const char* s) {
    return uint32_t(uint8_t(s[0])) | uint32_t(uint8_t(s[1])) << 8 | uint32_t(uint8_t(s[2])) << 16 |
           uint32_t(uint8_t(s[3])) << 24;
  };
  EXPECT_TRUE(UartIsSupportedModel(code("KL31")));
  EXPECT_FALSE(UartIsSupportedModel(code("13LK")));
  EXPECT_FALSE(UartIsSupportedModel(code("KL32")));
  EXPECT_EQ(UartFormatModelCode(code("KL31")), "KL31");
  EXPECT_TRUE(UartIsSupportedFirmware(9));
  EXPECT_FALSE(UartIsSupportedFirmware(8));
  EXPECT_FALSE(UartIsSupportedFirmware(0x90));
}

TEST(EchoHeaderFields, LittleEndianAndSigned) {
  EchoHeader h;
  h.bytes[EchoHeader::HdrFrequency] = 0xE8;
  h.bytes[EchoHeader::HdrFrequency + 1] = 0x03;
  h.bytes[EchoHeader::HdrTemperature] = 0x00;
  h.bytes[EchoHeader::HdrTemperature + 1] = 0xF6;  // -10 degC
  EXPECT_EQ(h.Frequency(), 1000);
  EXPECT_EQ(h.Temperature(), -10 * 256);
  EXPECT_EQ(h.U16(127), 0);  // past the end reads as nothing, not beyond
}

}  // namespace
}  // namespace kl
