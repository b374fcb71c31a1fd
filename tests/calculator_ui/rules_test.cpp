// The calculator window's rules without widgets: what the edits accept, the
// grid's texts, the hand-over to the calibration rows and the drawing's
// elements with their pens.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "TTCalcRules.h"
#include "TareHandOver.h"

namespace kl {
namespace {

const NumberLocale kPoint{"."};
const NumberLocale kComma{","};

TorusParams DefaultTorus() {
  TorusParams p;
  EXPECT_FALSE(CalcTorusParams({"600", "160", "202", "3", "5", 77, 200, 80, 200}, kPoint, p));
  return p;
}

CylinderParams DefaultCylinder() {
  CylinderParams p;
  EXPECT_FALSE(CalcCylinderParams({"840", "1134", "490", "3", "10"}, kPoint, p));
  return p;
}

using Row = std::array<std::string, 3>;
Row LastRow(const TareRows& t) { return t.rows.back(); }

TEST(CalcEditRules, DigitFieldsTakeDigitsOnly) {
  struct Case {
    const char* text;
    bool ok;
  } cases[] = {{"", true},     {"0", true},   {"1134", true}, {"12a", false}, {"-1", false},
               {"1.5", false}, {" 1", false}, {"1e3", false}, {"+2", false}};
  for (const Case& c : cases) EXPECT_EQ(CalcDigitsAcceptable(c.text), c.ok) << "'" << c.text << "'";
}

TEST(CalcEditRules, WallTakesADecimalInTheUsersNotationButNoExponent) {
  struct Case {
    const NumberLocale* loc;
    const char* text;
    bool ok;
  } cases[] = {
      {&kComma, "2,", true},    {&kPoint, "2.", true},   {&kComma, "2,5", true}, {&kComma, ",5", true},
      {&kComma, "", true},      {&kComma, "2e", false},  {&kComma, "2E", false}, {&kPoint, "2e1", false},
      {&kComma, "e", false},    {&kComma, "2.", false},  {&kPoint, "2,", false}, {&kComma, ",", false},
      {&kComma, "2,5,", false}, {&kComma, "-3", false},  {&kComma, "3 ", false}, {&kComma, "1 2", false},
      {&kPoint, "inf", false},  {&kPoint, "0x1", false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(CalcWallAcceptable(c.text, *c.loc), c.ok)
        << "'" << c.text << "' with '" << c.loc->decimal_point << "'";
  // A separator of more than one byte, as some locales have.
  EXPECT_TRUE(CalcWallAcceptable("2\u066B5", NumberLocale{"\u066B"}));
  EXPECT_FALSE(CalcWallAcceptable("2\u066B5\u066B", NumberLocale{"\u066B"}));
}

TEST(CalcGrid, DefaultTablesInTheUsersNotation) {
  TareRows grid;
  const CalcTable torus = CalcTorusTable(DefaultTorus());
  CalcFillGrid(torus, kPoint, grid);
  ASSERT_EQ(TareRowCount(grid), 40);
  EXPECT_EQ(grid.rows.front(), (Row{"1", "0.378", "5"}));
  EXPECT_EQ(LastRow(grid), (Row{"40", "44.088", "196"}));
  EXPECT_EQ(CalcTotalText(torus, kPoint), "44.088");

  CalcFillGrid(torus, kComma, grid);
  ASSERT_EQ(TareRowCount(grid), 40);
  EXPECT_EQ(grid.rows.front(), (Row{"1", "0,378", "5"}));
  EXPECT_EQ(grid.rows[38], (Row{"39", "44,053", "195"}));
  EXPECT_EQ(CalcTotalText(torus, kComma), "44,088");

  const CalcTable cyl = CalcCylinderTable(DefaultCylinder());
  CalcFillGrid(cyl, kComma, grid);
  ASSERT_EQ(TareRowCount(grid), 36);
  EXPECT_EQ(grid.rows.front(), (Row{"1", "0,702", "10"}));
  EXPECT_EQ(LastRow(grid), (Row{"36", "100,262", "355"}));
  EXPECT_EQ(CalcTotalText(cyl, kPoint), "100.262");
}

TEST(CalcGrid, NoTankGivesOneEmptyRowAndZero) {
  TareRows grid;
  CalcFillGrid(CalcTorusTable(DefaultTorus()), kPoint, grid);
  TorusParams none;
  EXPECT_FALSE(CalcTorusParams({"600", "", "202", "3", "5", 77, 200, 80, 200}, kPoint, none));
  ASSERT_FALSE(none.valid);
  const CalcTable empty = CalcTorusTable(none);
  CalcFillGrid(empty, kPoint, grid);
  ASSERT_EQ(TareRowCount(grid), 1);
  EXPECT_EQ(grid.rows.front(), (Row{"", "", ""}));
  EXPECT_EQ(CalcTotalText(empty, kComma), "0");
}

TEST(TareHandOverTest, ReplacesTheRowsTextByText) {
  TareRows computed;
  computed.locale = kComma;
  CalcFillGrid(CalcCylinderTable(DefaultCylinder()), kComma, computed);

  TareRows target;
  target.locale = kComma;
  target.rows = {Row{"1", "5,0", "10"}, Row{"2", "10,0", "20"}, Row{"3", "", ""}};
  TareHandOver(computed, target);
  EXPECT_EQ(target.rows, computed.rows);
  EXPECT_EQ(target.locale.decimal_point, ",");

  // A table computed from nothing hands over one empty row.
  TareRows none;
  TareHandOver(none, target);
  ASSERT_EQ(TareRowCount(target), 1);
  EXPECT_EQ(target.rows.front(), (Row{"", "", ""}));

  // The same table on both sides stays as it is.
  TareHandOver(computed, computed);
  EXPECT_EQ(TareRowCount(computed), 36);
  EXPECT_EQ(LastRow(computed), (Row{"36", "100,262", "355"}));
}

// Every line and every drawn part of an arc lies inside the image (an arc's
// box may reach beyond it: only a quarter of that ellipse is drawn).
void ExpectInside(const CalcDrawing& d, int w, int h) {
  auto inside = [&](double x, double y) {
    EXPECT_GE(x, -0.5);
    EXPECT_GE(y, -0.5);
    EXPECT_LE(x, w + 0.5);
    EXPECT_LE(y, h + 0.5);
  };
  for (const CalcElement& e : d.elements) {
    if (e.kind == CalcElement::Kind::Line) {
      inside(e.x1, e.y1);
      inside(e.x2, e.y2);
      continue;
    }
    const double cx = (e.x1 + e.x2) / 2.0, cy = (e.y1 + e.y2) / 2.0;
    const double rx = (e.x2 - e.x1) / 2.0, ry = (e.y2 - e.y1) / 2.0;
    for (int a = e.startDeg; a <= e.startDeg + e.spanDeg; ++a) {
      const double t = a * 3.141592653589793 / 180.0;
      inside(cx + rx * std::cos(t), cy - ry * std::sin(t));
    }
  }
}

std::vector<CalcElement> WithIndex(const CalcDrawing& d, int index) {
  std::vector<CalcElement> out;
  for (const CalcElement& e : d.elements)
    if (e.index == index) out.push_back(e);
  return out;
}

TEST(CalcDrawingTest, TorusSectionAtScaleAndOffset) {
  const TorusParams p = DefaultTorus();
  const int w = 619, h = 400;  // (619 - 25) / 594 = 1 pixel per millimetre across
  const CalcDrawing d = CalcDrawTorus(p, w, h);
  EXPECT_DOUBLE_EQ(d.scale, 1.0);
  ExpectInside(d, w, h);
  // Two sections of four arcs and four lines, two joining lines, the height line.
  EXPECT_EQ(d.elements.size(), 2u * 8u + 3u);
  // Outer walls at 5 and 5 + 594, inner walls W = 214 mm in from them,
  // from c = 58.8 to H - c = 137.2 below the top.
  const auto outer = WithIndex(d, 1);
  ASSERT_EQ(outer.size(), 2u);
  EXPECT_EQ(outer[0].x1, 5);
  EXPECT_EQ(outer[1].x1, 599);
  EXPECT_EQ(outer[0].y1, 63);
  EXPECT_EQ(outer[0].y2, 142);
  const auto inner = WithIndex(d, 2);
  ASSERT_EQ(inner.size(), 2u);
  EXPECT_EQ(inner[0].x1, 219);
  EXPECT_EQ(inner[1].x1, 385);
  const auto heightLine = WithIndex(d, 3);
  ASSERT_EQ(heightLine.size(), 1u);
  EXPECT_EQ(heightLine[0].color, CalcColor::Background);
  EXPECT_EQ(heightLine[0].y1, 5);
  EXPECT_EQ(heightLine[0].y2, 201);
  EXPECT_EQ(heightLine[0].x1, heightLine[0].x2);
  EXPECT_GT(heightLine[0].x1, outer[0].x1);
  EXPECT_LT(heightLine[0].x1, inner[0].x1);
  EXPECT_EQ(std::count_if(d.elements.begin(), d.elements.end(),
                          [](const CalcElement& e) { return e.color == CalcColor::Shadow; }),
            2);

  // The height limits the scale of a flat window.
  EXPECT_DOUBLE_EQ(CalcDrawTorus(p, 2000, 221).scale, 1.0);
  // Invalid dimensions draw nothing.
  TorusParams invalid = p;
  invalid.valid = false;
  EXPECT_TRUE(CalcDrawTorus(invalid, w, h).elements.empty());
}

TEST(CalcDrawingTest, CylinderSideViewAtScaleAndOffset) {
  const CylinderParams p = DefaultCylinder();
  const int w = 800, h = 300;
  const CalcDrawing d = CalcDrawCylinder(p, w, h);
  const double X = p.length + 2 * p.end_depth, Y = 2 * p.radius;
  EXPECT_DOUBLE_EQ(d.scale, std::min((w - 25) / X, (h - 25) / Y));
  ExpectInside(d, w, h);
  EXPECT_EQ(d.elements.size(), 5u);
  const auto top = WithIndex(d, 1);
  ASSERT_EQ(top.size(), 1u);
  EXPECT_EQ(top[0].kind, CalcElement::Kind::Line);
  EXPECT_EQ(top[0].y1, 5);
  EXPECT_EQ(top[0].x1, static_cast<int>(5 + d.scale * p.end_depth));
  EXPECT_EQ(top[0].x2, static_cast<int>(5 + d.scale * (p.end_depth + p.length)));
  const auto middle = WithIndex(d, 2);
  ASSERT_EQ(middle.size(), 1u);
  EXPECT_EQ(middle[0].color, CalcColor::Background);
  const auto leftEnd = WithIndex(d, 3);
  ASSERT_EQ(leftEnd.size(), 1u);
  EXPECT_EQ(leftEnd[0].kind, CalcElement::Kind::Arc);
  EXPECT_EQ(leftEnd[0].x1, 5);
  EXPECT_EQ(leftEnd[0].spanDeg, 180);

  CylinderParams invalid = p;
  invalid.valid = false;
  EXPECT_TRUE(CalcDrawCylinder(invalid, w, h).elements.empty());
}

TEST(CalcDrawingTest, HighlightPens) {
  const CalcDrawing d = CalcDrawTorus(DefaultTorus(), 600, 400);
  for (const CalcElement& e : d.elements) {
    // Nothing hovered: each element in its own colour, 2 pixels.
    EXPECT_EQ(CalcPenFor(e, 0).color, e.color);
    EXPECT_EQ(CalcPenFor(e, 0).width, 2);
    // The height label: the height line alone in magenta.
    EXPECT_EQ(CalcPenFor(e, 3).color, e.index == 3 ? CalcColor::Highlight : e.color);
    EXPECT_EQ(CalcPenFor(e, 3).width, 2);
    // The wall thickness: every line 4 pixels, no colour changed.
    EXPECT_EQ(CalcPenFor(e, CalcWallIndex).color, e.color);
    EXPECT_EQ(CalcPenFor(e, CalcWallIndex).width, 4);
  }
}

}  // namespace
}  // namespace kl
