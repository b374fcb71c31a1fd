// The calculator window's arithmetic, free of widgets: what its edits
// accept, how the computed table becomes the grid's texts, and the drawing of
// the tank as a list of elements that the window paints and tests read.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "Calc.h"
#include "NumberText.h"
#include "TareRows.h"

namespace kl {

// The dimension fields accept digits only; an empty field is allowed while
// the user retypes it (it gives no tank).
bool CalcDigitsAcceptable(std::string_view text);

// The wall thickness fields accept a decimal number in the user's notation:
// digits with at most one decimal separator, no exponent, no sign, no blanks.
// The rule is applied to the text as it would be after the change (a key, a
// paste, a deletion), so the field holds either nothing or a number.
bool CalcWallAcceptable(std::string_view text, const NumberLocale& loc);

// The grid's rows for a computed table: number, litres and level, the numbers
// in the shortest general form in the user's notation. No rows: one empty row.
void CalcFillGrid(const CalcTable& table, const NumberLocale& loc, TareRows& grid);
// The total volume as the window shows it; "0" when nothing was computed.
std::string CalcTotalText(const CalcTable& table, const NumberLocale& loc);

// Colours of the drawing, resolved by the window from its palette.
enum class CalcColor {
  Pen,         // the window's text colour
  Shadow,      // the button-shadow colour
  Background,  // the drawing's own background: shows only while highlighted
  Highlight,   // magenta, the highlighted dimension
};

// The dimension that a hovered label highlights: 0 none, 1..3 a dimension of
// the page, 4 the wall thickness (every line drawn thicker).
inline constexpr int CalcWallIndex = 4;
inline constexpr int CalcHighlightRgb = 0xFF00FF;
inline constexpr int CalcPenWidth = 2;
inline constexpr int CalcWallPenWidth = 4;
// The drawing's margin and the room it leaves at the right and bottom.
inline constexpr int CalcOffset = 5;
inline constexpr int CalcBorder = 25;

struct CalcElement {
  enum class Kind { Line, Arc };
  Kind kind = Kind::Line;
  int index = 0;  // the dimension it shows, 0 for none
  CalcColor color = CalcColor::Pen;
  // In pixels. A line runs from (x1, y1) to (x2, y2). An arc is part of the
  // ellipse in the box (x1, y1)-(x2, y2), from startDeg over spanDeg degrees,
  // counter-clockwise from three o'clock.
  int x1 = 0, y1 = 0, x2 = 0, y2 = 0;
  int startDeg = 0, spanDeg = 0;
};

struct CalcDrawing {
  double scale = 0;  // pixels per millimetre
  std::vector<CalcElement> elements;
};

struct CalcPen {
  CalcColor color = CalcColor::Pen;
  int width = CalcPenWidth;
};

// The pen an element is drawn with while `highlighted` (0..4) is hovered.
CalcPen CalcPenFor(const CalcElement& e, int highlighted);

// The vertical section of the torus through its axis (both ring sections,
// the lines that join them, the height line) in an image of that size; no
// elements for invalid parameters.
CalcDrawing CalcDrawTorus(const TorusParams& p, int width, int height);
// The side view of the horizontal cylinder with its domed ends and the arc
// that shows its circumference; no elements for invalid parameters.
CalcDrawing CalcDrawCylinder(const CylinderParams& p, int width, int height);

}  // namespace kl
