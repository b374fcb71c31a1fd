#include "Unit_handling.h"

#include <algorithm>
#include <array>

namespace kl {

namespace {

// Incremental moving sum over x[p-12 .. p+10], indices outside 0..n-1 left out.
struct MovingAverage {
  const uint16_t* x;
  int n;
  uint32_t sum = 0;
  uint32_t count = 0;

  // Moves the window from p-1 to p.
  void Step(int p) {
    const int out = p - kContrastBefore - 1;
    if (out >= 0 && out < n) {
      sum -= x[out];
      --count;
    }
    const int in = p + kContrastAfter;
    if (in >= 0 && in < n) {
      sum += x[in];
      ++count;
    }
  }
  uint16_t Value() const {
    if (count == 0) return 0xFFFF;
    return static_cast<uint16_t>(sum / count + 100);
  }
};

}  // namespace

void EnvelopeContrast(const uint16_t* x, uint16_t n, uint32_t* y) {
  if (n == 0) return;
  MovingAverage avg{x, n};
  std::array<uint16_t, kContrastRing> ring{};
  // The ring starts with the averages of the 45 positions before 0 and of 0
  // itself; walking the (still empty) window up from position -45 fills it
  // the same way the later positions do.
  const int first = -(kContrastRing - 1);
  for (int j = 0; j < kContrastRing; ++j) {
    avg.Step(first + j);
    ring[static_cast<size_t>(j)] = avg.Value();
  }
  uint32_t a = ring[kContrastRing - 1];
  size_t r = 0;
  for (int p = 0; p < n; ++p) {
    if (p > 0) {
      avg.Step(p);
      a = avg.Value();
      ring[r % kContrastRing] = static_cast<uint16_t>(a);
      ++r;
    }
    uint32_t d = *std::min_element(ring.begin(), ring.end());
    if (d > kContrastFloorCap) d = kContrastFloorCap;
    const uint32_t ratio = d == 0 ? 1000u : 1000u * a / d;
    const uint32_t diff = a - d + 1000u;
    y[p] = std::max(ratio, diff);
  }
}

}  // namespace kl
