// Volumes of the two gas tank shapes the calculator knows, and the
// calibration tables computed from them.
//
// Toroidal tank: a ring around a vertical axis whose inside cross-section has
// elliptical top and bottom roundings (vertical semi-axis c) with a straight
// wall of height m = H - 2c between them; the outer and inner walls have their
// own horizontal semi-axes (bo, bi).
// Horizontal cylinder: a cylindrical part of length L and inside radius r with
// two domed ends which together form an ellipsoid of semi-axes r, r and d.
//
// Lengths in millimetres, volumes in cubic millimetres, tables in litres.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "NumberText.h"

namespace kl {

inline constexpr double CalcPi = 3.141592653589793;
// A table never holds more rows than this; a tank that would need more (which
// the window's four-digit fields cannot produce) gives no table.
inline constexpr int CalcMaxRows = 100000;

struct TorusParams {
  double outer_radius = 0;       // Ro: inside of the outer wall
  double inner_radius = 0;       // Ri: inside of the wall around the hole
  double height = 0;             // H: inside height
  double outer_semi_axis = 0;    // bo
  double half_height = 0;        // c
  double inner_semi_axis = 0;    // bi
  double inner_half_height = 0;  // c2, always c
  double step = 0;
  bool valid = false;
};

struct CylinderParams {
  double length = 0;         // L, as entered
  double circumference = 0;  // C, outer, as entered
  double arc_length = 0;     // E, rim to rim over one domed end, as entered
  double wall = 0;           // w
  double radius = 0;         // r: inside radius
  double end_depth = 0;      // d: inside depth of each domed end
  double step = 0;
  bool valid = false;
};

// The texts of the torus page and the positions and maxima of its shape and
// fullness scroll bars.
struct TorusInputs {
  std::string outer_diameter;
  std::string inner_diameter;
  std::string height;
  std::string wall;
  std::string step;
  int shape_position = 0;
  int shape_max = 0;
  int fullness_position = 0;
  int fullness_max = 0;
};

struct CylinderInputs {
  std::string length;
  std::string circumference;
  std::string arc_length;
  std::string wall;
  std::string step;
};

// A text that is not a number: which one (0-based, in the order of the input
// structure) and what it held.
struct CalcInputError {
  int field = 0;
  std::string text;
};

// Derives the torus parameters. Any empty text makes them invalid. A text
// that is not a number is returned, so that the window can report it and keep
// its previous table; the parameters keep their values but are no longer
// valid, since each torus recomputation starts by clearing `valid`.
std::optional<CalcInputError> CalcTorusParams(const TorusInputs& in, const NumberLocale& loc,
                                              TorusParams& out);
// Derives the cylinder parameters; an empty text counts as 0. A text that is
// not a number is returned and leaves the parameters as they were, `valid`
// included: the cylinder sets or clears it only at the end.
std::optional<CalcInputError> CalcCylinderParams(const CylinderInputs& in, const NumberLocale& loc,
                                                 CylinderParams& out);

// Volume swept about the tank axis by the region between the axis and the
// wall profile r(t) = a +- (b / R) sqrt(R^2 - t^2) for t from 0 to y (+ for
// the outer wall, - for the inner).
double ProfileVolume(double a, double b, double R, double y, bool outer);
// Volume up to level x within the elliptical profile alone.
double TorusBandVolume(const TorusParams& p, double x);
// Volume of the torus filled to level x above the inside bottom.
double TorusVolume(const TorusParams& p, double x);

// Ramanujan's approximation of an ellipse's perimeter.
double EllipsePerimeter(double a, double b);
// The semi-axis b for which the ellipse of semi-axes a and b has the perimeter
// `target`; 0 when there is none (target <= 4a), -1000000 when the iteration
// does not settle. `rounds` receives the number of iterations made.
double SolveEndDepth(double a, double target, int* rounds = nullptr);
// Spherical cap of height h in a sphere of radius r.
double CapVolume(double r, double h);
// Circular segment of height h in a circle of radius r.
double SegmentArea(double r, double h);
// Horizontal cylinder with ellipsoidal ends filled to level h.
double CylinderVolume(double r, double d, double L, double h);

struct CalcRow {
  int number = 0;     // 1, 2, ...
  double litres = 0;  // whole millilitres
  double level = 0;   // millimetres
};

struct CalcTable {
  std::vector<CalcRow> rows;
  double total = 0;  // litres of the last row
};

// Rows from level `step` up to the full height in steps of `step`, the last
// one always at the full height. Invalid parameters give no rows, total 0.
CalcTable CalcTorusTable(const TorusParams& p);
CalcTable CalcCylinderTable(const CylinderParams& p);

// A table value as the grid shows it: the shortest general form with up to
// 15 significant digits in the user's notation (0,378 with a comma).
std::string CalcFormatNumber(double value, const NumberLocale& loc);

}  // namespace kl
