#include "ScopeRules.h"

#include <algorithm>
#include <cmath>

#include "WindowRules.h"

namespace kl {

int FilterEntryOfPosition(int position) {
  return static_cast<int>(std::floor((position - kFiltrMin) / static_cast<double>(kFiltrStep) + 0.5));
}

int FilterPositionOfEntry(int entry) { return kFiltrMin + kFiltrStep * entry; }

std::string FilterEntryText(int entry) {
  return entry == 0 ? std::string("WideBand") : std::to_string(FilterPositionOfEntry(entry));
}

FreqChange FrequencyMoved(int position, int32_t filter) {
  FreqChange c{position, filter, std::nullopt};
  if (filter != kFiltrMin) {
    c.filter = std::clamp(position, kFiltrMin, kFiltrMax);
    c.filterEntry = FilterEntryOfPosition(c.filter);
  }
  return c;
}

uint16_t GainWord(int kuIndex, int kuMaxIndex) {
  const uint32_t low = static_cast<uint32_t>(kuIndex);
  const uint32_t high = static_cast<uint32_t>(kuMaxIndex) << 8;
  return static_cast<uint16_t>(low | high);
}

int GainEntry(uint16_t kuWord) { return std::min<int>(kuWord & 0xFF, kKuEntries - 1); }
int GainMaxEntry(uint16_t kuWord) { return std::min<int>(kuWord >> 8, kKuEntries - 1); }

int32_t AttenuationOfEntry(int entry) { return entry * 30; }
int AttenuationEntry(int32_t attenuation) { return std::clamp(attenuation / 30, 0, 1); }

uint32_t IntegratorWord(int32_t deadZone, int32_t threshold) {
  return (static_cast<uint32_t>(threshold) << 16) | (static_cast<uint32_t>(deadZone) & 0xFFFFu);
}

uint32_t NextWalkingMask(uint32_t mask) {
  switch (mask) {
    case 0:
      return 0x100;
    case 0x4000:
      return 0x1;
    case 0x40:
      return 0x20000;
    case 0x20000:
      return 0x100;
    default:
      return mask << 1;
  }
}

uint32_t ManualDisplayMask(std::span<const int> checkedTags) {
  uint32_t mask = 0;
  for (int tag : checkedTags) {
    if (tag >= 0 && tag <= 6)
      mask |= 1u << (tag + 8);
    else if (tag >= 8 && tag <= 14)
      mask |= 1u << (tag - 8);
    else if (tag == 16)
      mask |= 1u << 17;
  }
  return mask;
}

std::string OneDecimal(double value, char decimal) {
  const double scaled = std::abs(value) * 10.0 + 0.5;
  const long long tenths = static_cast<long long>(scaled);
  std::string s = value < 0 && tenths != 0 ? "-" : "";
  s += std::to_string(tenths / 10);
  s += decimal;
  s += std::to_string(tenths % 10);
  return s;
}

std::string FilterText(uint16_t hdrFilter, std::string_view wideText) {
  return hdrFilter == kWideBand ? std::string(wideText) : std::to_string(hdrFilter);
}

std::string PulseText(uint16_t hdrPulse, char decimal) { return OneDecimal(hdrPulse * 0.1, decimal); }

std::string TemperatureText(int16_t hdrTemp, char decimal) { return OneDecimal(hdrTemp / 256.0, decimal); }

std::string LevelMmText(uint16_t hdrLevel) {
  return std::to_string(static_cast<unsigned>(hdrLevel * 0.1 + 0.5));
}

std::string AuthText(uint16_t hdrError, std::string_view okText, std::string_view errorText) {
  if (hdrError == 0) return std::string(okText);
  return std::string(errorText) + std::to_string(hdrError);
}

std::string PosDivText(uint16_t pos, uint16_t div) { return std::to_string(pos) + "/" + std::to_string(div); }

std::optional<int32_t> EditInteger(std::string_view text) { return ReadInteger(text); }

int ClampFrequency(int32_t v) { return std::clamp<int32_t>(v, kFreqMin, kFreqMax); }
int ClampPulse(int32_t v) { return std::clamp<int32_t>(v, kPulseMin, kPulseMax); }

AutoProgress AdvanceAutoProgress(int position, int64_t tick, int64_t now) {
  if (now - tick <= kAutoProgressTickMs) return {position, tick};
  return {position >= kAutoProgressMax ? 0 : position + 1, now};
}

EchoView EchoViewOf(int oscMode) {
  switch (oscMode) {
    case 1:
      return {23 * 64, 10.0, 0, 32000};
    case 2:
    case 3:
      return {31 * 64, 1.0, -32000, 32000};
    default:
      return {};
  }
}

EchoView AxisOfEntry(int entry) { return EchoViewOf(entry + 1); }

}  // namespace kl
