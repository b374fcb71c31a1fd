// Frame layer, error mapping, texts, field formats and name rules: the pure
// parts of the loader.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

#include "ldr_app.h"
#include "ldr_link.h"
#include "ldr_strings.h"
#include "loader_test_util.h"
#include "virtual_loader.h"

using Bytes = std::vector<uint8_t>;

namespace {

Bytes encode(LdrLink& link, const Bytes& payload) {
  std::memcpy(link.payload, payload.data(), payload.size());
  size_t n = ldr_encode_frame(link, payload.size());
  return Bytes(link.tx, link.tx + n);
}

int decode(LdrLink& link, const Bytes& frame, Bytes* payload) {
  size_t copy = std::min(frame.size(), sizeof link.rx);
  if (copy > 0) std::memcpy(link.rx, frame.data(), copy);
  size_t len = 0;
  int r = ldr_decode_frame(link, frame.size(), &len);
  if (r == 0 && payload) payload->assign(link.payload, link.payload + len);
  return r;
}

}  // namespace

TEST(LoaderFrame, WorkedConnectFrame) {
  LdrLink link;
  EXPECT_EQ(encode(link, {0x00, 0xFF, 0x10}), (Bytes{0x02, 0x00, 0xFF, 0x10, 0x10, 0xF0, 0x03}));
}

TEST(LoaderFrame, SpecialBytesAreEscapedAlsoInTheChecksumAndRoundTrip) {
  struct Case {
    const char* name;
    Bytes payload;
    Bytes frame;  // empty: only the round trip is checked
  };
  const Case cases[] = {
      {"start byte", {0x02}, {0x02, 0x10, 0x00, 0xFD, 0x03}},
      {"end byte", {0x03}, {0x02, 0x10, 0x01, 0xFC, 0x03}},
      {"escape byte", {0x10}, {0x02, 0x10, 0x10, 0xEF, 0x03}},
      {"checksum 0x02", {0xFD}, {0x02, 0xFD, 0x10, 0x00, 0x03}},
      {"checksum 0x03", {0xFC}, {0x02, 0xFC, 0x10, 0x01, 0x03}},
      {"checksum 0x10", {0xEF}, {0x02, 0xEF, 0x10, 0x10, 0x03}},
      {"mixed", {0x10, 0x02, 0x03, 0x41, 0x10}, {}},
      {"largest request, all escaped", Bytes(1033, 0x03), {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LdrLink link;
    const Bytes frame = encode(link, c.payload);
    if (!c.frame.empty()) {
      EXPECT_EQ(frame, c.frame);
    }
    for (size_t i = 1; i + 1 < frame.size(); ++i) {
      EXPECT_NE(frame[i], 0x02) << i;
      EXPECT_NE(frame[i], 0x03) << i;
    }
    EXPECT_LE(frame.size(), LDR_FRAME_SIZE);
    Bytes back;
    ASSERT_EQ(decode(link, frame, &back), 0);
    EXPECT_EQ(back, c.payload);
    // The device's own codec agrees with the loader's.
    EXPECT_EQ(frame, vloader::Device::encode(c.payload));
  }
}

TEST(LoaderFrame, RejectsMalformedFrames) {
  struct Case {
    const char* name;
    Bytes frame;
  };
  const Case cases[] = {
      {"empty", {}},
      {"only start", {0x02}},
      {"nothing inside", {0x02, 0x03}},
      {"escape 0x10 0x05", {0x02, 0x10, 0x05, 0xFA, 0x03}},
      {"escape as last body byte", {0x02, 0xEF, 0x10, 0x03}},
      {"wrong checksum", {0x02, 0x00, 0xFF, 0x10, 0x10, 0xF1, 0x03}},
      {"no start byte", {0x00, 0xFF, 0x10, 0x10, 0xF0, 0x03}},
      {"no end byte", {0x02, 0x00, 0xFF, 0x10, 0x10, 0xF0}},
      {"raw start inside", {0x02, 0x00, 0x02, 0xFD, 0x03}},
      {"raw end inside", {0x02, 0xFC, 0x03, 0x00, 0x03}},
      {"two frames at once",
       {0x02, 0x00, 0xFF, 0x10, 0x10, 0xF0, 0x03, 0x02, 0x00, 0xFF, 0x10, 0x10, 0xF0, 0x03}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LdrLink link;
    EXPECT_EQ(decode(link, c.frame, nullptr), LDR_ERR_EXCHANGE);
  }
  LdrLink link;
  size_t len = 0;
  EXPECT_EQ(ldr_decode_frame(link, LDR_FRAME_SIZE + 1, &len), LDR_ERR_EXCHANGE);
}

TEST(LoaderFrame, FieldsBeyondAShortReplyReadAsZero) {
  LdrLink link;
  std::memset(link.payload, 0xAA, sizeof link.payload);
  Bytes back;
  ASSERT_EQ(decode(link, vloader::Device::encode({0x05, 0x01, 0x12}), &back), 0);
  EXPECT_EQ(back.size(), 3u);
  for (size_t i = 3; i < LDR_PAYLOAD_SIZE; ++i) ASSERT_EQ(link.payload[i], 0) << i;
}

TEST(LoaderFrame, RandomLinesNeverReadOutsideTheBuffers) {
  std::mt19937 r(31);
  LdrLink link;
  for (int i = 0; i < 20000; ++i) {
    Bytes frame(r() % 2200);
    for (auto& b : frame) b = uint8_t(r() % 6 == 0 ? 0x10 : r());
    if (!frame.empty() && r() % 2) frame.front() = 0x02;
    if (!frame.empty() && r() % 2) frame.back() = 0x03;
    Bytes back;
    if (decode(link, frame, &back) == 0) {
      EXPECT_LT(back.size(), LDR_PAYLOAD_SIZE);
    }
  }
}

TEST(LoaderFrame, DeviceErrorCodes) {
  const std::pair<uint8_t, int> cases[] = {
      {0xFF, -2101}, {0xFE, -2102}, {0xFD, -2103}, {0xFC, -2104}, {0xFB, -2105},
      {0xFA, -2107}, {0xF9, -2108}, {0xF8, -2106}, {0x00, -2106}, {0x06, -2106},
  };
  for (auto [device, result] : cases) EXPECT_EQ(ldr_device_error(device), result) << int(device);
}

TEST(LoaderTexts, ErrorTextsByCode) {
  EXPECT_EQ(ldr_error_text(-2109), "Прервано пользователем.");
  EXPECT_EQ(ldr_error_text(-2105),
            "Ошибка устройства. Файл не является допустимым модулем для данного устройства.");
  EXPECT_EQ(ldr_error_text(-2016), "COM-порт не открывается.");
  // A file chooser's own code has no text; the number is shown instead.
  EXPECT_EQ(ldr_error_text(0x3002), "Неизвестная ошибка 0x3002");
  EXPECT_EQ(ldr_error_text(-1234), "Неизвестная ошибка 0x4D2");
  EXPECT_EQ(ldr_error_text(-2003), "Неизвестная ошибка 0x7D3");
}

TEST(LoaderFields, DeviceFieldFormats) {
  EXPECT_EQ(ldr_format_version_date(0x0102, 0x15062018, false), "01.02 (15.06.2018)");
  EXPECT_EQ(ldr_format_version_date(0xFFFF, 0xFFFFFFFF, false), "00.00 (00.00.0000)");
  EXPECT_EQ(ldr_format_version_date(0xFFFF, 0x01012020, true), "отсутствует");
  EXPECT_EQ(ldr_format_version_date(0x1A0B, 0x31121999, true), "1A.0B (31.12.1999)");
  EXPECT_EQ(ldr_format_version(0x0305), "03.05");
  EXPECT_EQ(ldr_format_serial(1234), "1234");
  EXPECT_EQ(ldr_format_serial(0xFFFFFE), "16777214");
  EXPECT_EQ(ldr_format_serial(0xFFFFFF), "не задан");
  EXPECT_EQ(ldr_format_type("K31A"), "K31A");
  EXPECT_EQ(ldr_format_type("AB\0D"), "AB");
  EXPECT_EQ(ldr_format_type("A\x01/\xFF"), "A?/?");
}

TEST(LoaderFields, AddressFieldText) {
  const std::pair<const char*, int> cases[] = {
      {"255", 255}, {"256", 0},          {"1", 1},          {"513", 1}, {"", 0}, {"abc", 0}, {"12a", 0},
      {"-1", 0},    {"4294967295", 255}, {"4294967296", 0}, {" 7 ", 7},
  };
  for (auto [text, address] : cases) EXPECT_EQ(ldr_address_from_text(text), address) << text;
}

TEST(LoaderFields, PortFieldKeepsSevenCharacters) {
  EXPECT_EQ(ldr_port_name_from_text("COM31"), "COM31");
  EXPECT_EQ(ldr_port_name_from_text("COM1234567"), "COM1234");
  EXPECT_EQ(ldr_port_name_from_text("ПОРТ12345"), "ПОРТ123");
}

TEST(LoaderFiles, SavedNameRules) {
  const std::pair<const char*, const char*> cases[] = {
      {"data.K31", "data.K31.k31"},
      {"data", "data.k31"},
      {".k31", ".k31.k31"},
      {"a.k31", "a.k31"},
      {"/tmp/x/.k31", "/tmp/x/.k31.k31"},
      {"/tmp/k.k31/cfg", "/tmp/k.k31/cfg.k31"},
  };
  for (auto [chosen, used] : cases) EXPECT_EQ(ldr_k31_name(chosen), used) << chosen;
}

TEST(LoaderFiles, DefaultSaveNames) {
  EXPECT_EQ(ldr_default_save_name("ABCD", "1234", false), "ABCD_1234_CFG.k31");
  EXPECT_EQ(ldr_default_save_name("ABCD", "1234", true), "ABCD_1234_CLB.k31");
  EXPECT_EQ(ldr_default_save_name("K31A", "не задан", true), "K31A_не задан_CLB.k31");
  EXPECT_EQ(ldr_default_save_name("A/B", "1", true), "A_B_1_CLB.k31");
  EXPECT_EQ(ldr_default_save_name(std::string(30, 'T'), "1", true), std::string(19, 'T') + "_1_CLB.k31");
}

TEST(LoaderStatus, PercentFormat) {
  ldrtest::RecordingDialog d;
  const struct {
    int total, done;
    const char* shown;
  } cases[] = {{0, 5, "00%"},      {100, 0, "00%"},  {6, 1, "16%"},
               {100, 100, "100%"}, {10, 30, "100%"}, {3, 2, "66%"}};
  for (auto c : cases) {
    ldr_show_progress(d, "Запись", c.total, c.done);
    EXPECT_EQ(d.get_text(LDR_ID_PERCENT), c.shown) << c.total << "/" << c.done;
    EXPECT_EQ(d.get_text(LDR_ID_STATUS), "Запись");
  }
}

TEST(LoaderPorts, ComNamesMapToDevices) {
  ldrtest::TempDir ports;
  setenv("KL31_PORTS_DIR", ports.path().c_str(), 1);
  ASSERT_EQ(symlink("/dev/null", ports.file("COM31").c_str()), 0);
  ASSERT_EQ(symlink("/dev/null", ports.file("COM3").c_str()), 0);
  const std::pair<const char*, std::string> cases[] = {
      {"COM1", "/dev/ttyS0"},
      {"COM10", "/dev/ttyS9"},
      {"COM11", "/dev/ttyUSB0"},
      {"COM20", "/dev/ttyUSB9"},
      {"COM21", "/dev/ttyACM0"},
      {"COM30", "/dev/ttyACM9"},
      {"COM3", ports.file("COM3")},
      {"COM31", ports.file("COM31")},
      {"COM0", ""},
      {"COM32", ""},
      {"COM01", ""},
      {"COM256", ""},
      {"com1", ""},
      {"COM", ""},
      {"COM1x", ""},
  };
  for (const auto& [name, path] : cases) EXPECT_EQ(ldr_com_device_path(name), path) << name;
  // Not a terminal: the port does not open.
  EXPECT_EQ(ldr_probe_port("COM31"), 0);
  unsetenv("KL31_PORTS_DIR");
}
