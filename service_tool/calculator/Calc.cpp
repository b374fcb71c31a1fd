#include "Calc.h"

#include <algorithm>
#include <cmath>

namespace kl {

namespace {

// Reads the texts in order; the first one that is not a number is returned.
template <std::size_t N>
std::optional<CalcInputError> ReadAll(const std::string* const (&texts)[N], const NumberLocale& loc,
                                      double (&values)[N]) {
  for (std::size_t i = 0; i < N; ++i) {
    values[i] = 0.0;
    if (texts[i]->empty()) continue;
    const auto v = ParseDecimal(*texts[i], loc);
    if (!v) return CalcInputError{static_cast<int>(i), *texts[i]};
    values[i] = *v;
  }
  return std::nullopt;
}

double Fraction(int position, int maximum) {
  const double s = static_cast<double>(position) / maximum;
  return std::clamp(s, 0.0, 0.98);
}

bool TooManyRows(double top, double step) {
  return !(std::isfinite(top) && std::isfinite(step) && step >= 1.0) || top / step > CalcMaxRows;
}

double RoundToMillilitres(double mm3) { return std::trunc(mm3 * 0.001 + 0.5) * 0.001; }

}  // namespace

std::optional<CalcInputError> CalcTorusParams(const TorusInputs& in, const NumberLocale& loc,
                                              TorusParams& out) {
  const std::string* const texts[5] = {&in.outer_diameter, &in.inner_diameter, &in.height, &in.wall,
                                       &in.step};
  // Every torus recomputation starts from "no tank", also one that stops
  // at a text that is not a number.
  out.valid = false;
  for (const std::string* t : texts)
    if (t->empty()) return std::nullopt;
  double v[5];
  if (auto err = ReadAll(texts, loc, v)) return err;
  const double outerDiameter = v[0], innerDiameter = v[1], height = v[2], w = v[3], step = v[4];

  TorusParams p = out;
  p.valid = false;
  p.outer_radius = outerDiameter * 0.5 - w;
  p.inner_radius = innerDiameter * 0.5 + w;
  p.height = height - 2.0 * w;
  p.step = step;
  // A tank without inside height, or scroll bars without a range, would give
  // a table of zero or undefined volumes; they are no tank.
  if (!(p.outer_radius > p.inner_radius) || step < 1.0 || !(p.height > 0.0) || in.shape_max <= 0 ||
      in.fullness_max <= 0) {
    out = p;
    return std::nullopt;
  }
  const double W = p.outer_radius - p.inner_radius;
  const double s1 = Fraction(in.shape_position, in.shape_max);
  const double s2 = Fraction(in.fullness_position, in.fullness_max);
  if (s1 < 0.5) {
    // Both elliptical parts centred at the same radius Ro - bo.
    p.outer_semi_axis = s1 * W;
    p.inner_semi_axis = (1.0 - s1) * W;
  } else {
    // Two equal quarter-ellipses at the walls with a flat part between.
    p.outer_semi_axis = p.inner_semi_axis = (1.0 - s1) * W;
  }
  p.half_height = (1.0 - s2) * p.height * 0.5;
  p.inner_half_height = p.half_height;
  p.valid = true;
  out = p;
  return std::nullopt;
}

std::optional<CalcInputError> CalcCylinderParams(const CylinderInputs& in, const NumberLocale& loc,
                                                 CylinderParams& out) {
  const std::string* const texts[5] = {&in.length, &in.circumference, &in.arc_length, &in.wall, &in.step};
  double v[5];
  if (auto err = ReadAll(texts, loc, v)) return err;
  const double L = v[0], C = v[1], E = v[2], w = v[3], step = v[4];

  out.valid = false;
  if (!(L > 0.0 && C > 0.0 && E > 0.0 && w > 0.0 && step >= 1.0)) return std::nullopt;
  const double r = C * 0.15915494309189534 - w;
  if (2.0 * r > E) return std::nullopt;
  const double d = SolveEndDepth(r, 2.0 * E) - w;
  if (r < 0.0 || d < 0.0) return std::nullopt;
  out.length = L;
  out.circumference = C;
  out.arc_length = E;
  out.wall = w;
  out.radius = r;
  out.end_depth = d;
  out.step = step;
  out.valid = true;
  return std::nullopt;
}

double ProfileVolume(double a, double b, double R, double y, bool outer) {
  if (R == 0.0) return 0.0;
  y = std::clamp(y, -std::fabs(R), std::fabs(R));
  const double s = outer ? 1.0 : -1.0;
  const double S =
      y * std::sqrt(std::max(R * R - y * y, 0.0)) + R * R * std::asin(std::clamp(y / R, -1.0, 1.0));
  return CalcPi * (a * a * y + s * (a * b / R) * S + (b * b / (R * R)) * (R * R * y - y * y * y / 3.0));
}

double TorusBandVolume(const TorusParams& p, double x) {
  if (x < 0.0) return 0.0;
  x = std::min(x, p.height);
  const double c = p.half_height;
  const double y1 = -c;
  const double y2 = x - c;
  const double a = p.outer_radius - p.outer_semi_axis;
  const double ai = p.inner_radius + p.inner_semi_axis;
  const double outer =
      ProfileVolume(a, p.outer_semi_axis, c, y2, true) - ProfileVolume(a, p.outer_semi_axis, c, y1, true);
  const double inner = ProfileVolume(ai, p.inner_semi_axis, p.inner_half_height, y2, false) -
                       ProfileVolume(ai, p.inner_semi_axis, p.inner_half_height, y1, false);
  return outer - inner;
}

double TorusVolume(const TorusParams& p, double x) {
  if (x < 0.0) return 0.0;
  const double H = p.height;
  const double c = p.half_height;
  x = std::min(x, H);
  const double ring = CalcPi * (p.outer_radius * p.outer_radius - p.inner_radius * p.inner_radius);
  if (x <= c) return TorusBandVolume(p, x);
  if (x <= H - c) return TorusBandVolume(p, c) + ring * (x - c);
  const double m = H - 2.0 * c;
  return TorusBandVolume(p, x - m) + ring * m;
}

double EllipsePerimeter(double a, double b) {
  return CalcPi * (3.0 * (a + b) - std::sqrt((3.0 * a + b) * (a + 3.0 * b)));
}

double SolveEndDepth(double a, double target, int* rounds) {
  if (rounds) *rounds = 0;
  if (!(target > 0.0) || !(a > 0.0) || target <= 4.0 * a) return 0.0;
  double b = a;
  double err = 1.0;
  int i = 0;
  while (i < 1000000 && err >= 0.0005) {
    const double P = EllipsePerimeter(a, b);
    b = b * target / P;
    err = std::fabs(target - P) / a;
    ++i;
  }
  if (rounds) *rounds = i;
  return i >= 1000000 ? -1000000.0 : b;
}

double CapVolume(double r, double h) {
  if (r <= 0.0 || h < 0.0) return 0.0;
  h = std::min(h, 2.0 * r);
  return CalcPi * (r * h * h - h * h * h / 3.0);
}

double SegmentArea(double r, double h) {
  if (r <= 0.0 || h < 0.0) return 0.0;
  h = std::min(h, 2.0 * r);
  return r * r * std::acos(std::clamp((r - h) / r, -1.0, 1.0)) -
         (r - h) * std::sqrt(std::max(2.0 * r * h - h * h, 0.0));
}

double CylinderVolume(double r, double d, double L, double h) {
  if (r <= 0.0) return 0.0;
  return CapVolume(r, h) * (d / r) + SegmentArea(r, h) * L;
}

CalcTable CalcTorusTable(const TorusParams& p) {
  CalcTable t;
  if (!p.valid || TooManyRows(p.height, p.step)) return t;
  const double top = p.height;
  double x = p.step;
  for (int n = 1;; ++n) {
    x = std::min(x, top);
    t.rows.push_back({n, RoundToMillilitres(TorusVolume(p, x)), x});
    if (x >= top) break;
    x += p.step;
  }
  t.total = t.rows.back().litres;
  return t;
}

CalcTable CalcCylinderTable(const CylinderParams& p) {
  CalcTable t;
  const double top = 2.0 * p.radius;
  if (!p.valid || TooManyRows(top, p.step)) return t;
  double x = p.step;
  for (int n = 1;; ++n) {
    x = std::min(x, top);
    const double V = CylinderVolume(p.radius, p.end_depth, p.length, x);
    t.rows.push_back({n, RoundToMillilitres(V), std::trunc(x * 10.0 + 0.5) * 0.1});
    if (x >= top) break;
    x += p.step;
  }
  t.total = t.rows.back().litres;
  return t;
}

std::string CalcFormatNumber(double value, const NumberLocale& loc) { return FormatGeneral(value, loc); }

}  // namespace kl
