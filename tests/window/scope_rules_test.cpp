// The oscilloscope page's arithmetic, without widgets.
#include <gtest/gtest.h>

#include <vector>

#include "ScopeRules.h"

namespace kl {
namespace {

TEST(ScopeRules, FilterEntriesRoundToTheNearestWithHalvesUp) {
  const struct {
    int position, entry;
  } cases[] = {{450, 0}, {474, 0}, {475, 1}, {500, 1}, {1234, 16}, {1250, 16}, {4000, 71}};
  for (const auto& c : cases) EXPECT_EQ(FilterEntryOfPosition(c.position), c.entry) << c.position;
  EXPECT_EQ(FilterPositionOfEntry(0), 450);
  EXPECT_EQ(FilterPositionOfEntry(16), 1250);
  EXPECT_EQ(FilterEntryText(0), "WideBand");
  EXPECT_EQ(FilterEntryText(16), "1250");
  EXPECT_EQ(FilterEntryText(71), "4000");
}

TEST(ScopeRules, TheFilterFollowsTheFrequencyUnlessOnWideBand) {
  const struct {
    const char* name;
    int position;
    int32_t filter;
    int32_t wantFilter;
    std::optional<int> wantEntry;
  } cases[] = {
      {"wide band stays", 1234, 450, 450, std::nullopt},
      {"1000 follows to 1234", 1234, 1000, 1234, 16},
      {"follows to the top", 4000, 1000, 4000, 71},
      {"follows to 500", 500, 2000, 500, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const FreqChange r = FrequencyMoved(c.position, c.filter);
    EXPECT_EQ(r.frequency, c.position);
    EXPECT_EQ(r.filter, c.wantFilter);
    EXPECT_EQ(r.filterEntry, c.wantEntry);
  }
}

TEST(ScopeRules, TypedFrequenciesAndPulsesAreLimitedByTheTrackBars) {
  EXPECT_EQ(ClampFrequency(5000), 4000);
  EXPECT_EQ(ClampFrequency(100), 500);
  EXPECT_EQ(ClampFrequency(1234), 1234);
  EXPECT_EQ(ClampPulse(250), 200);
  EXPECT_EQ(ClampPulse(-1), 0);
  EXPECT_EQ(EditInteger(" 42 "), 42);
  EXPECT_EQ(EditInteger(""), std::nullopt);
  EXPECT_EQ(EditInteger("12a"), std::nullopt);
}

TEST(ScopeRules, GainAttenuatorAndIntegratorWords) {
  EXPECT_EQ(GainWord(25, 12), 3097);  // "Авто" with "12"
  EXPECT_EQ(GainWord(3, 25), 3 + 25 * 256);
  EXPECT_EQ(GainWord(-1, 12), 0xFFFF);  // no gain chosen: the whole word is -1
  EXPECT_EQ(GainWord(5, -1), 0xFF05);   // no limit chosen: every bit above the low byte
  EXPECT_EQ(GainEntry(0x1A1A), 25);     // limited to the last entry
  EXPECT_EQ(GainMaxEntry(0x1A1A), 25);
  EXPECT_EQ(GainEntry(3097), 25);
  EXPECT_EQ(GainMaxEntry(3097), 12);
  EXPECT_EQ(AttenuationOfEntry(1), 30);  // "Вкл."
  EXPECT_EQ(AttenuationOfEntry(0), 0);
  EXPECT_EQ(AttenuationEntry(30), 1);
  EXPECT_EQ(IntegratorWord(100, 3), 3u * 65536u + 100u);
  EXPECT_EQ(IntegratorWord(0x12345, 1), 0x10000u + 0x2345u);  // only the low 16 bits of the dead zone
}

TEST(ScopeRules, TheAutomaticDisplayTestWalksFifteenMasks) {
  const std::vector<uint32_t> expected = {0x200, 0x400, 0x800, 0x1000, 0x2000, 0x4000,  0x1,   0x2,
                                          0x4,   0x8,   0x10,  0x20,   0x40,   0x20000, 0x100, 0x200};
  uint32_t mask = 0x100;  // what the button sets before the first step
  for (uint32_t want : expected) {
    mask = NextWalkingMask(mask);
    EXPECT_EQ(mask, want);
  }
  EXPECT_EQ(NextWalkingMask(0), 0x100u);
}

TEST(ScopeRules, TheManualDisplayMaskLightsTheBitsOfTheCheckedBoxes) {
  EXPECT_EQ(ManualDisplayMask(std::vector<int>{9}), 0x2u);  // ChkTestDisplay9 only
  EXPECT_EQ(ManualDisplayMask(std::vector<int>{}), 0u);
  EXPECT_EQ(ManualDisplayMask(std::vector<int>{0, 6, 8, 14, 16}), 0x100u | 0x4000u | 0x1u | 0x40u | 0x20000u);
  EXPECT_EQ(ManualDisplayMask(std::vector<int>{7, 15, 17}), 0u);  // no segment behind these
}

TEST(ScopeRules, ReadoutTexts) {
  EXPECT_EQ(FilterText(450, "Wide"), "Wide");
  EXPECT_EQ(FilterText(1250, "Wide"), "1250");
  EXPECT_EQ(PulseText(77, ','), "7,7");
  EXPECT_EQ(PulseText(0, '.'), "0.0");
  EXPECT_EQ(TemperatureText(21 * 256 + 128, '.'), "21.5");
  EXPECT_EQ(TemperatureText(-5 * 256 - 64, '.'), "-5.3");
  EXPECT_EQ(LevelMmText(3504), "350");
  EXPECT_EQ(LevelMmText(3505), "351");
  EXPECT_EQ(AuthText(0, "OK", "Ошибка Е"), "OK");
  EXPECT_EQ(AuthText(7, "OK", "Ошибка Е"), "Ошибка Е7");
  EXPECT_EQ(PosDivText(273, 15), "273/15");
}

TEST(ScopeRules, Step2ProgressAdvancesOnceASecondAndWraps) {
  AutoProgress p = AdvanceAutoProgress(0, 0, 100000);
  EXPECT_EQ(p.position, 1);
  EXPECT_EQ(p.tick, 100000);
  p = AdvanceAutoProgress(p.position, p.tick, 100900);
  EXPECT_EQ(p.position, 1);
  p = AdvanceAutoProgress(5, 100000, 101001);
  EXPECT_EQ(p.position, 0);
}

TEST(ScopeRules, EchoViewsOfTheModes) {
  EXPECT_EQ(EchoViewOf(1).samples, 1472);
  EXPECT_EQ(EchoViewOf(1).step, 10.0);
  EXPECT_EQ(EchoViewOf(1).yMin, 0);
  EXPECT_EQ(EchoViewOf(2).samples, 1984);
  EXPECT_EQ(EchoViewOf(3).yMin, -32000);
  EXPECT_EQ(EchoViewOf(0).samples, 0);
  EXPECT_EQ(AxisOfEntry(0).yMax, 32000);
}

}  // namespace
}  // namespace kl
