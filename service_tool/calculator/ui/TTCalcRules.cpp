#include "TTCalcRules.h"

#include <algorithm>
#include <cmath>

namespace kl {

bool CalcDigitsAcceptable(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool CalcWallAcceptable(std::string_view text, const NumberLocale& loc) {
  if (text.empty()) return true;
  const std::string_view sep = loc.decimal_point.empty() ? std::string_view(".") : loc.decimal_point;
  int digits = 0;
  bool point = false;
  for (std::size_t i = 0; i < text.size();) {
    if (text[i] >= '0' && text[i] <= '9') {
      ++digits;
      ++i;
    } else if (!point && text.substr(i, sep.size()) == sep) {
      point = true;
      i += sep.size();
    } else {
      return false;
    }
  }
  return digits > 0 && ParseDecimal(text, loc).has_value();
}

void CalcFillGrid(const CalcTable& table, const NumberLocale& loc, TareRows& grid) {
  TareClear(grid);
  int k = 0;
  for (const CalcRow& row : table.rows) {
    ++k;
    TareSetRowCount(grid, k);
    TareSetText(grid, TareColNumber, k, FormatWhole(k));
    TareSetText(grid, TareColLitres, k, CalcFormatNumber(row.litres, loc));
    TareSetText(grid, TareColMm, k, CalcFormatNumber(row.level, loc));
  }
}

std::string CalcTotalText(const CalcTable& table, const NumberLocale& loc) {
  if (table.rows.empty()) return "0";
  return CalcFormatNumber(table.total, loc);
}

CalcPen CalcPenFor(const CalcElement& e, int highlighted) {
  CalcPen pen;
  pen.color = (e.index != 0 && e.index == highlighted) ? CalcColor::Highlight : e.color;
  pen.width = highlighted == CalcWallIndex ? CalcWallPenWidth : CalcPenWidth;
  return pen;
}

namespace {

// Millimetres to pixels: (5 + k x, 5 + k y), y downwards from the top of the
// tank, truncated to whole pixels.
class Canvas {
 public:
  explicit Canvas(double k) : k_(k) {}
  int X(double mm) const { return Px(mm); }
  int Y(double mm) const { return Px(mm); }

  void Line(std::vector<CalcElement>& out, int index, CalcColor color, double x1, double y1, double x2,
            double y2) const {
    CalcElement e;
    e.kind = CalcElement::Kind::Line;
    e.index = index;
    e.color = color;
    e.x1 = X(x1);
    e.y1 = Y(y1);
    e.x2 = X(x2);
    e.y2 = Y(y2);
    out.push_back(e);
  }
  // Part of the ellipse in the box [left, right] x [top, bottom].
  void Arc(std::vector<CalcElement>& out, int index, CalcColor color, double left, double top, double right,
           double bottom, int startDeg, int spanDeg) const {
    CalcElement e;
    e.kind = CalcElement::Kind::Arc;
    e.index = index;
    e.color = color;
    e.x1 = X(left);
    e.y1 = Y(top);
    e.x2 = X(right);
    e.y2 = Y(bottom);
    e.startDeg = startDeg;
    e.spanDeg = spanDeg;
    out.push_back(e);
  }

 private:
  int Px(double mm) const {
    const double v = CalcOffset + k_ * mm;
    // A drawing never needs more than the image; the clamp only keeps an
    // absurd scale from overflowing the conversion.
    return static_cast<int>(std::trunc(std::clamp(v, -1.0e6, 1.0e6)));
  }
  double k_;
};

double Scale(int width, int height, double X, double Y) {
  if (!(X > 0.0) || !(Y > 0.0)) return 0.0;
  return std::min((width - CalcBorder) / X, (height - CalcBorder) / Y);
}

bool Finite(std::initializer_list<double> values) {
  return std::all_of(values.begin(), values.end(), [](double v) { return std::isfinite(v); });
}

}  // namespace

CalcDrawing CalcDrawTorus(const TorusParams& p, int width, int height) {
  CalcDrawing d;
  const double Ro = p.outer_radius, Ri = p.inner_radius, H = p.height;
  const double bo = p.outer_semi_axis, bi = p.inner_semi_axis, c = p.half_height;
  if (!p.valid || !Finite({Ro, Ri, H, bo, bi, c})) return d;
  d.scale = Scale(width, height, 2.0 * Ro, H);
  if (!(d.scale > 0.0)) return d;
  const Canvas cv(d.scale);
  auto& out = d.elements;
  const double W = Ro - Ri;
  const double right = 2.0 * Ro;
  // The inside height, shown only while its label is hovered. Drawn first, so
  // that in the background colour it does not cut gaps into the outline.
  const double hx = (bo + W - bi) / 2.0;
  cv.Line(out, 3, CalcColor::Background, hx, 0.0, hx, H);
  // One ring section; mirrored (x -> 2Ro - x) for the right one, which turns
  // each quarter arc into its neighbour across the vertical.
  for (int side = 0; side < 2; ++side) {
    const bool mirror = side == 1;
    auto mx = [&](double x) { return mirror ? right - x : x; };
    auto box = [&](double a, double b) { return std::pair{std::min(mx(a), mx(b)), std::max(mx(a), mx(b))}; };
    auto quarter = [&](int start) { return mirror ? ((90 - start) % 360 + 360) % 360 : start; };
    // Outer wall: rounding at the top and the bottom, straight part between.
    const auto [ol, orr] = box(0.0, 2.0 * bo);
    cv.Arc(out, 0, CalcColor::Pen, ol, 0.0, orr, 2.0 * c, quarter(90), 90);
    cv.Arc(out, 0, CalcColor::Pen, ol, H - 2.0 * c, orr, H, quarter(180), 90);
    cv.Line(out, 1, CalcColor::Pen, mx(0.0), c, mx(0.0), H - c);
    // Inner wall, the same at the hole.
    const auto [il, ir] = box(W - 2.0 * bi, W);
    cv.Arc(out, 0, CalcColor::Pen, il, 0.0, ir, 2.0 * c, quarter(0), 90);
    cv.Arc(out, 0, CalcColor::Pen, il, H - 2.0 * c, ir, H, quarter(270), 90);
    cv.Line(out, 2, CalcColor::Pen, mx(W), c, mx(W), H - c);
    // The flat top and bottom between the roundings.
    cv.Line(out, 0, CalcColor::Pen, mx(bo), 0.0, mx(W - bi), 0.0);
    cv.Line(out, 0, CalcColor::Pen, mx(bo), H, mx(W - bi), H);
  }
  // The far side of the ring, seen across the hole.
  cv.Line(out, 0, CalcColor::Shadow, W - bi, 0.0, right - W + bi, 0.0);
  cv.Line(out, 0, CalcColor::Shadow, W - bi, H, right - W + bi, H);
  return d;
}

CalcDrawing CalcDrawCylinder(const CylinderParams& p, int width, int height) {
  CalcDrawing d;
  const double L = p.length, r = p.radius, e = p.end_depth;
  if (!p.valid || !Finite({L, r, e})) return d;
  d.scale = Scale(width, height, L + 2.0 * e, 2.0 * r);
  if (!(d.scale > 0.0)) return d;
  const Canvas cv(d.scale);
  auto& out = d.elements;
  // The circumference, a narrow ellipse across the middle, shown only while
  // its label is hovered; first, like the torus's height line.
  const double mid = L / 2.0 + e;
  cv.Arc(out, 2, CalcColor::Background, mid - r / 4.0, 0.0, mid + r / 4.0, 2.0 * r, 270, 180);
  // The domed ends: the left half of the left ellipse, the right half of the
  // right one.
  cv.Arc(out, 3, CalcColor::Pen, 0.0, 0.0, 2.0 * e, 2.0 * r, 90, 180);
  cv.Arc(out, 0, CalcColor::Pen, L, 0.0, L + 2.0 * e, 2.0 * r, 270, 180);
  cv.Line(out, 1, CalcColor::Pen, e, 0.0, e + L, 0.0);
  cv.Line(out, 0, CalcColor::Pen, e, 2.0 * r, e + L, 2.0 * r);
  return d;
}

}  // namespace kl
