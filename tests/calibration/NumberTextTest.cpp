#include <gtest/gtest.h>

#include "NumberText.h"

namespace kl {

namespace {

const NumberLocale kPoint{"."};
const NumberLocale kComma{","};

TEST(NumberText, DecimalsReadInTheirOwnNotationOnly) {
  struct Case {
    const char* text;
    const NumberLocale* loc;
    std::optional<double> want;
  };
  const Case cases[] = {
      {"12.5", &kPoint, 12.5},
      {"12,5", &kComma, 12.5},
      {"12,5", &kPoint, std::nullopt},
      {"12.5", &kComma, std::nullopt},
      {" -3 ", &kPoint, -3.0},
      {"+7", &kPoint, 7.0},
      {".5", &kPoint, 0.5},
      {"5.", &kPoint, 5.0},
      {"1e3", &kPoint, 1000.0},
      {"2,5E-1", &kComma, 0.25},
      {"", &kPoint, std::nullopt},
      {" ", &kPoint, std::nullopt},
      {"-", &kPoint, std::nullopt},
      {".", &kPoint, std::nullopt},
      {"1e", &kPoint, std::nullopt},
      {"1.2.3", &kPoint, std::nullopt},
      {"12a", &kPoint, std::nullopt},
      {"inf", &kPoint, std::nullopt},
      {"nan", &kPoint, std::nullopt},
      {"0x10", &kPoint, std::nullopt},
      {"1 000", &kPoint, std::nullopt},
      {"1e999", &kPoint, std::nullopt},
      {"No Data", &kPoint, std::nullopt},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ParseDecimal(c.text, *c.loc), c.want)
        << "'" << c.text << "' with '" << c.loc->decimal_point << "'";
  }
}

TEST(NumberText, SinglePrecisionIsRoundedOnceFromTheText) {
  // 650000.1 lies between two floats; the nearer one is above 650000.
  EXPECT_EQ(ParseFloat32("650000.1", kPoint), 650000.125f);
  EXPECT_EQ(ParseFloat32("10,0", kComma), 10.0f);
  EXPECT_EQ(ParseFloat32("1e39", kPoint), std::nullopt);
}

TEST(NumberText, WholeNumbers) {
  EXPECT_EQ(ParseWhole("120"), 120);
  EXPECT_EQ(ParseWhole(" -5 "), -5);
  EXPECT_EQ(ParseWhole("2147483647"), 2147483647);
  EXPECT_EQ(ParseWhole("-2147483648"), std::numeric_limits<std::int32_t>::min());
  for (const char* bad : {"", "2147483648", "12.6", "12,0", "1e2", "No Data", "+", "0x1F"})
    EXPECT_EQ(ParseWhole(bad), std::nullopt) << bad;
}

TEST(NumberText, FormatsInTheGivenNotation) {
  EXPECT_EQ(FormatFixed1(10.0, kPoint), "10.0");
  EXPECT_EQ(FormatFixed1(12.5f, kComma), "12,5");
  EXPECT_EQ(FormatFixed1(10.04f, kPoint), "10.0");
  EXPECT_EQ(FormatFixed1(650000.0f, kComma), "650000,0");
  EXPECT_EQ(FormatGeneral(0.378, kComma), "0,378");
  EXPECT_EQ(FormatGeneral(44.088, kPoint), "44.088");
  EXPECT_EQ(FormatGeneral(196.0, kPoint), "196");
  EXPECT_EQ(FormatGeneral(3550 * 0.1, kPoint), "355");
  EXPECT_EQ(FormatWhole(-42), "-42");
}

}  // namespace

}  // namespace kl
