// The level gauge of the calibration window as plain arithmetic: the text of
// the read-out and the height of the bar for a level code (0.1 mm).
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <optional>
#include <string>

#include "NumberText.h"

namespace kl {

// The gauge box is this many pixels high; the bar grows from its bottom.
inline constexpr int kTareGaugeBoxHeight = 328;
inline constexpr const char* kTareNoData = "No Data";

struct TareGaugeReading {
  std::string text;   // whole millimetres, or "No Data"
  int barHeight = 0;  // pixels
};

// Nothing for a code that is not a finite number (the gauge then keeps what
// it shows). Codes outside the sensor's 16-bit range are clamped to it.
inline std::optional<TareGaugeReading> TareGaugeFor(double code, bool noData) {
  if (noData) return TareGaugeReading{kTareNoData, 0};
  if (!std::isfinite(code)) return std::nullopt;
  const double c = std::trunc(std::clamp(code, 0.0, 65535.0));
  const auto mm = static_cast<std::uint16_t>(std::trunc(c * 0.1 + 0.5));
  const int bar = std::min(static_cast<int>(c) / 200, kTareGaugeBoxHeight);
  return TareGaugeReading{FormatWhole(mm), bar};
}

}  // namespace kl
