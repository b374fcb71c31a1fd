// Echo processing: the contrast trace drawn over the envelope oscillogram.
// Plain arithmetic over caller-owned buffers, no Qt and no allocation, so it
// runs inside the window operation that draws the echo without adding to the
// poll's time.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kl {

// Window of the moving average: 12 samples before the position, the position
// and 10 after it.
inline constexpr int kContrastBefore = 12;
inline constexpr int kContrastAfter = 10;
// Positions whose averages form the running floor (the ring).
inline constexpr int kContrastRing = 46;
// The floor never counts as higher than this.
inline constexpr uint32_t kContrastFloorCap = 4200;
// Values at or above this are drawn in the alarm colour.
inline constexpr uint32_t kContrastMark = 3500;

// For every position p of x[0 .. n-1]: the moving average v(p) (plus 100)
// compared with the smallest average of the last 46 positions d (capped at
// 4200); y[p] = max(1000 * v / d, v - d + 1000). 1000 means "on the floor".
// y must hold n values.
void EnvelopeContrast(const uint16_t* x, uint16_t n, uint32_t* y);

}  // namespace kl
