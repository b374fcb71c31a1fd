// The arithmetic of the oscilloscope and tuning page, apart from any widget:
// what a track-bar position or a list entry becomes in the tuning values, the
// display-test masks and the texts of the echo read-outs.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace kl {

// Ranges of the tuning track bars.
inline constexpr int kFreqMin = 500, kFreqMax = 4000, kFreqSmallStep = 10, kFreqLargeStep = 100;
inline constexpr int kFiltrMin = 450, kFiltrMax = 4000, kFiltrStep = 50, kFiltrLargeStep = 100;
inline constexpr int kPulseMin = 0, kPulseMax = 200, kPulseLargeStep = 10;
inline constexpr int kFiltrEntries = 72;  // "WideBand", then 500 .. 4000 by 50
inline constexpr int kKuEntries = 26;     // 0 .. 24, then automatic / no limit
inline constexpr int kAutoProgressMax = 5;
inline constexpr int kWideBand = 450;

// Entry of CmbFiltr for a TbFiltr position: rounded to the nearest entry,
// halves upwards (450 -> 0 "WideBand", 475 -> 1 "500", 4000 -> 71).
int FilterEntryOfPosition(int position);
// The position of an entry: 450 + 50 * entry.
int FilterPositionOfEntry(int entry);
// Texts of the CmbFiltr entries; entry 0 is the wide-band text.
std::string FilterEntryText(int entry);

// What moving TbFreq does to the frequency and the filter. The filter
// follows the frequency unless it is on wide band.
struct FreqChange {
  int32_t frequency;
  int32_t filter;
  std::optional<int> filterEntry;  // the entry CmbFiltr must show, when the filter moved
};
FreqChange FrequencyMoved(int position, int32_t filter);

// KuWord from the two gain lists; an index of -1 (no selection) ORs all its
// bits in, as the lists' indices are combined bit-wise.
uint16_t GainWord(int kuIndex, int kuMaxIndex);
// The list entries of a KuWord, each limited to the last entry.
int GainEntry(uint16_t kuWord);
int GainMaxEntry(uint16_t kuWord);
int32_t AttenuationOfEntry(int entry);  // 0 or 30
int AttenuationEntry(int32_t attenuation);
// Threshold in the high 16 bits, the low 16 bits of the dead zone below.
uint32_t IntegratorWord(int32_t deadZone, int32_t threshold);

// The automatic display test's next mask: bits 8..14, 0..6, 17, and again.
uint32_t NextWalkingMask(uint32_t mask);
// The manual test's mask from the tags of the checked boxes: 0..6 light
// bits 8..14, 8..14 bits 0..6, 16 bit 17.
uint32_t ManualDisplayMask(std::span<const int> checkedTags);

// Read-out texts of an echo header. `decimal` is the locale's separator.
std::string FilterText(uint16_t hdrFilter, std::string_view wideText);
std::string PulseText(uint16_t hdrPulse, char decimal);      // tenths, one decimal
std::string TemperatureText(int16_t hdrTemp, char decimal);  // 1/256 degC, one decimal
std::string LevelMmText(uint16_t hdrLevel);                  // 0.1 mm, rounded to whole mm
std::string AuthText(uint16_t hdrError, std::string_view okText, std::string_view errorText);
std::string PosDivText(uint16_t pos, uint16_t div);
// A signed value with one decimal, truncating x * 10 + 0.5 as the sensor's
// read-outs are rounded.
std::string OneDecimal(double value, char decimal);

// What the page does with an integer typed into an edit.
std::optional<int32_t> EditInteger(std::string_view text);
int ClampFrequency(int32_t v);
int ClampPulse(int32_t v);

// Automatic tuning step 2 advances its progress bar once a second.
inline constexpr int64_t kAutoProgressTickMs = 1000;
struct AutoProgress {
  int position;
  int64_t tick;
};
AutoProgress AdvanceAutoProgress(int position, int64_t tick, int64_t now);

// The oscillogram of a mode: how many samples, the horizontal step and the
// left axis. Mode 0 or an unknown mode draws nothing.
struct EchoView {
  int samples = 0;
  double step = 0;
  double yMin = 0, yMax = 0;
};
EchoView EchoViewOf(int oscMode);
// The left axis of a mode-list entry (entry 0 envelope, 1 and 2 signed).
EchoView AxisOfEntry(int entry);

}  // namespace kl
