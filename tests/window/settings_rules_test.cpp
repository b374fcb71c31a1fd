// The settings page's arithmetic without a widget: passport texts, the flag
// packing both ways, the fuel rules and the user's decimal notation.
#include <gtest/gtest.h>

#include <string>

#include "SettingsRules.h"

namespace kl {
namespace {

const NumberLocale kComma{","};
const NumberLocale kPoint{"."};

TEST(SettingsRules, PassportTexts) {
  struct Case {
    uint32_t date, serial;
    uint8_t model, version, revision;
    const char *dateText, *serialText, *modelText, *versionText, *revisionText;
  };
  const Case cases[] = {
      {(14u << 16) | (5u << 8) | 23u, 4711, 31, 0x21, 0x05, "150623", "004711", "31", "2.10", "5"},
      {0, 0, 0, 0x00, 0x00, "010100", "000000", "0", "0.00", "0"},
      {(30u << 16) | (11u << 8) | 99u, 999999, 255, 0x09, 0xFA, "311299", "999999", "255", "0.90", "10"},
      {0, 0xFFFFFF, 7, 0xFF, 0x0F, "010100", "16777215", "7", "15.F0", "15"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.dateText);
    EXPECT_EQ(SettingsDateText(c.date), c.dateText);
    EXPECT_EQ(SettingsSerialText(c.serial), c.serialText);
    EXPECT_EQ(SettingsModelText(c.model), c.modelText);
    EXPECT_EQ(SettingsVersionText(c.version), c.versionText);
    EXPECT_EQ(SettingsRevisionText(c.revision), c.revisionText);
  }
}

TEST(SettingsRules, FlagsUnpackAndPackBack) {
  struct Case {
    uint8_t flags, flags2;
    bool periodic;
    int baudIndex, answerIndex, bitsIndex;
  };
  const Case cases[] = {
      // periodic output, 19200, own address, 10 bits
      {0x31, 0x00, true, 3, 1, 0},
      // baud code 0: no rate selected
      {0x00, 0x00, false, -1, 0, 0},
      // 115200, 12 bits, answers with 255
      {0x9C, 0x00, false, 6, 0, 1},
      // Flags2 bit 5 asks for a resolution the list does not have
      {0x90, 0x20, false, 3, 0, -1},
      {0x10, 0x20, false, 3, 0, -1},
      // bits 1 and 6 are not the page's
      {0x42 | 0x0C, 0x00, false, 2, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "flags " << int(c.flags) << " flags2 " << int(c.flags2));
    const FlagsChoice got = UnpackFlags(c.flags, c.flags2);
    EXPECT_EQ(got.periodic, c.periodic);
    EXPECT_EQ(got.baudIndex, c.baudIndex);
    EXPECT_EQ(got.answerIndex, c.answerIndex);
    EXPECT_EQ(got.bitsIndex, c.bitsIndex);
    // Untouched choices write back exactly what was read.
    EXPECT_EQ(PackFlags(got, c.flags), c.flags);
  }
}

TEST(SettingsRules, PackTakesTheChoicesAndKeepsBits1And6AsRead) {
  struct Case {
    FlagsChoice choice;
    uint8_t flagsRead;
    uint8_t expected;
  };
  const Case cases[] = {
      {{true, 4, 1, 1}, 0x00, 0x01 | (5 << 2) | 0x20 | 0x80},
      {{false, 4, 1, 1}, 0x42, 0x42 | (5 << 2) | 0x20 | 0x80},
      {{false, 0, 0, 0}, 0xFF, 0x42 | (1 << 2)},   // every other bit from the choices
      {{false, -1, 0, 0}, 0x42 | 0x10, 0x42},      // no rate: code 0
      {{false, 3, 0, -1}, 0x80, 0x80 | (4 << 2)},  // no resolution entry: bit 7 as read
      {{false, 3, 0, -1}, 0x00, (4 << 2)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "expected " << int(c.expected));
    EXPECT_EQ(PackFlags(c.choice, c.flagsRead), c.expected);
  }
}

TEST(SettingsRules, FuelTypeSelectsTheEntryAndEnablesTheNumbersOnlyForTheUsersFuel) {
  struct Case {
    uint8_t type;
    int index;
    bool edits;
  };
  const Case cases[] = {{0, 0, true},   {1, 1, false},  {3, 3, false},
                        {4, -1, false}, {7, -1, false}, {255, -1, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(int(c.type));
    EXPECT_EQ(FuelTypeIndex(c.type), c.index);
    EXPECT_EQ(FuelEditsEnabled(FuelTypeIndex(c.type)), c.edits);
  }
}

TEST(SettingsRules, FuelNumbersInTheUsersNotation) {
  struct Case {
    const char* text;
    const NumberLocale* loc;
    std::optional<float> value;
  };
  const Case cases[] = {
      {"1390,5", &kComma, 1390.5f},      {"1390.5", &kComma, std::nullopt}, {"1390.5", &kPoint, 1390.5f},
      {"1390,5", &kPoint, std::nullopt}, {"-0,00083", &kComma, -0.00083f},  {"1e3", &kPoint, 1000.0f},
      {"3.4e38", &kPoint, 3.4e38f},      {"3.5e38", &kPoint, std::nullopt}, {"-1e39", &kPoint, std::nullopt},
      {"", &kPoint, std::nullopt},       {"abc", &kPoint, std::nullopt},    {"1 390", &kPoint, std::nullopt},
      {"inf", &kPoint, std::nullopt},    {"nan", &kPoint, std::nullopt},    {" 12 ", &kPoint, 12.0f},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(ParseFuelNumber(c.text, *c.loc), c.value);
  }
  EXPECT_EQ(FormatFuelNumber(1390.5f, kComma), "1390,500");
  EXPECT_EQ(FormatFuelNumber(1390.5f, kPoint), "1390.500");
  EXPECT_EQ(FormatFuelNumber(0.1f, kPoint), "0.100");
  // Three decimals would turn it into 0.001 when written back.
  EXPECT_EQ(FormatFuelNumber(0.00083f, kComma), "0,00083");
  EXPECT_EQ(FormatFuelNumber(1390.123456f, kPoint), "1390.1234");
  EXPECT_EQ(FormatFuelNumber(-2.0f, kPoint), "-2.000");
  EXPECT_EQ(FormatFuelNumber(3.4e38f, kPoint).size(), 43u);  // 39 digits, point, 3 decimals
  // What the page shows reads back as the same number, in either notation.
  for (const NumberLocale* loc : {&kComma, &kPoint}) {
    for (float v : {1234.5678f, 0.00083f, -3.5f, 1e-7f, 3.4e38f, 0.0f, 1390.0f}) {
      SCOPED_TRACE(v);
      EXPECT_EQ(ParseFuelNumber(FormatFuelNumber(v, *loc), *loc), v);
    }
  }
}

TEST(SettingsRules, SpinEditText) {
  struct Case {
    const char* text;
    bool acceptable;
    int value;
  };
  const Case cases[] = {{"", true, 0},      {"0", true, 0},     {"17", true, 17},
                        {"255", true, 255}, {"300", true, 255}, {"99999999999", true, 0},
                        {"-5", false, 0},   {"1a", false, 0},   {" 7", false, 7}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(SpinTextAcceptable(c.text), c.acceptable);
    EXPECT_EQ(SpinValueFromText(c.text, kSpinMin, kSpinMax), c.value);
  }
}

TEST(SettingsRules, BaudEntries) {
  EXPECT_EQ(BaudOfEntry(-1), std::nullopt);
  EXPECT_EQ(BaudOfEntry(0), 2400);
  EXPECT_EQ(BaudOfEntry(3), 19200);
  EXPECT_EQ(BaudOfEntry(6), 115200);
  EXPECT_EQ(BaudOfEntry(7), std::nullopt);
  for (int i = 0; i < kBaud2Entries; ++i) EXPECT_EQ(UartBaudFromCode(i + 1), *BaudOfEntry(i));
}

// The page's round trip: what was read and shown, collected unchanged, gives
// the same records back; a changed page gives the changes and nothing else.
TEST(SettingsRules, ViewRoundTrip) {
  SettingsRecord s;
  s.Date = (14u << 16) | (5u << 8) | 23u;
  s.Serial = 4711;
  s.Model = 31;
  s.FirmwareVersion = 0x21;
  s.Address = 1;
  s.Period = 7;
  s.Flags = 0x31 | 0x42;
  s.FlagsRead = s.Flags;
  s.Flags2 = 0;
  s.Revision = 5;
  s.PostFilter = 4;
  FuelRecord f{0, 0.5f, 1234.5f};

  const SettingsView v = ViewFromRecords(s, f, kComma);
  EXPECT_EQ(v.date, "150623");
  EXPECT_EQ(v.version, "2.10");
  EXPECT_TRUE(v.periodic);
  EXPECT_EQ(v.baudIndex, 3);
  EXPECT_EQ(v.answerIndex, 1);
  EXPECT_EQ(v.bitsIndex, 0);
  EXPECT_EQ(v.postFilterIndex, 4);
  EXPECT_EQ(v.fuelIndex, 0);
  EXPECT_EQ(v.fuelKu, "0,500");
  EXPECT_EQ(v.fuelOfs, "1234,500");

  SettingsRecord s2 = s;
  FuelRecord f2 = f;
  RecordsFromView(v, s2, f2, kComma);
  EXPECT_EQ(s2.Flags, s.Flags);
  EXPECT_EQ(s2.Address, 1);
  EXPECT_EQ(s2.Period, 7);
  EXPECT_EQ(s2.PostFilter, 4);
  EXPECT_EQ(f2.FuelType, 0);
  EXPECT_EQ(f2.ThermalCoef, 0.5f);
  EXPECT_EQ(f2.SoundSpeed, 1234.5f);

  SettingsView changed = v;
  changed.address = 5;
  changed.baudIndex = 4;  // 38400
  changed.periodic = false;
  changed.fuelKu = "nonsense";
  RecordsFromView(changed, s2, f2, kComma);
  EXPECT_EQ(s2.Flags, 0x42 | 0x20 | (5 << 2));
  EXPECT_EQ(s2.Address, 5);
  EXPECT_EQ(f2.ThermalCoef, 0.0f);  // a number that does not read gives 0
}

TEST(SettingsRules, AListWithoutSelectionKeepsTheValueRead) {
  SettingsRecord s;
  s.PostFilter = 12;  // beyond the list
  s.Flags = 0x00;     // baud code 0
  FuelRecord f{7, 1.0f, 2.0f};
  const SettingsView v = ViewFromRecords(s, f, kPoint);
  EXPECT_EQ(v.postFilterIndex, -1);
  EXPECT_EQ(v.fuelIndex, -1);
  EXPECT_EQ(v.baudIndex, -1);
  RecordsFromView(v, s, f, kPoint);
  EXPECT_EQ(s.PostFilter, 12);
  EXPECT_EQ(f.FuelType, 7);
  EXPECT_EQ((s.Flags >> 2) & 7, 0);  // and no rate writes the code 0
}

}  // namespace
}  // namespace kl
