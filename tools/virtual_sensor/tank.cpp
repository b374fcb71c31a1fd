// The virtual tank: a horizontal cylinder holding some litres of fuel, whose
// level the sensor reports, and the control lines that pour and drain it
// while the sensor runs (the calibration demo and its tests fill it portion
// by portion).
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <sstream>

#include "virtual_sensor.h"

namespace kl::vsensor {

namespace {

double Radius(const SensorState& s) { return std::max(1.0, static_cast<double>(s.tankDiameter)) / 2.0; }
double Length(const SensorState& s) { return std::max(1.0, static_cast<double>(s.tankLength)); }

bool ToNumber(const std::string& text, double& out) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  const double v = std::strtod(text.c_str(), &end);
  if (errno != 0 || end == text.c_str() || *end != '\0' || !std::isfinite(v)) return false;
  out = v;
  return true;
}

}  // namespace

double TankLitresAt(const SensorState& s, double mm) {
  const double r = Radius(s);
  const double h = std::clamp(mm, 0.0, 2.0 * r);
  // The wetted part of the circle: a circular segment of height h.
  const double area =
      r * r * std::acos((r - h) / r) - (r - h) * std::sqrt(std::max(0.0, 2.0 * r * h - h * h));
  return area * Length(s) / 1e6;
}

double TankCapacity(const SensorState& s) { return TankLitresAt(s, 2.0 * Radius(s)); }

double TankLevelMm(const SensorState& s) {
  const double litres = static_cast<double>(s.tankLitres);
  const double top = 2.0 * Radius(s);
  if (!(litres > 0.0)) return 0.0;
  if (litres >= TankCapacity(s)) return top;
  // The volume rises with the level: bisection to far below 0.1 mm.
  double lo = 0.0, hi = top;
  for (int i = 0; i < 60; ++i) {
    const double mid = (lo + hi) / 2.0;
    (TankLitresAt(s, mid) < litres ? lo : hi) = mid;
  }
  return (lo + hi) / 2.0;
}

void TankUpdate(SensorState& s) {
  if (!s.tankOn) return;
  const double mm = TankLevelMm(s);
  const bool seen = mm >= static_cast<double>(s.tankDeadZone);
  s.noLevel = seen ? 0 : 1;
  s.level = static_cast<uint16_t>(std::clamp(std::lround(mm * 10.0), 0L, 65535L));
}

bool ApplyControlLine(const std::string& line, SensorState& state, std::string* error) {
  auto fail = [&](const std::string& why) {
    if (error) *error = why;
    return false;
  };
  std::istringstream in(line);
  std::string verb, arg, extra;
  in >> verb >> arg;
  if (in >> extra) return fail("one argument expected: " + line);
  if (verb == "set") {
    const size_t eq = arg.find('=');
    if (eq == std::string::npos) return fail("set key=value expected: " + line);
    SensorState next = state;
    if (!ApplySetting(arg.substr(0, eq), arg.substr(eq + 1), next, error)) return false;
    state = std::move(next);
    TankUpdate(state);
    return true;
  }
  if (verb != "pour" && verb != "drain" && verb != "litres") return fail("unknown control command: " + line);
  double litres = 0;
  if (!ToNumber(arg, litres) || litres < 0) return fail("a number of litres, 0 or more, expected: " + line);
  double now = state.tankLitres;
  if (verb == "pour")
    now += litres;
  else if (verb == "drain")
    now -= litres;
  else
    now = litres;
  state.tankOn = true;
  state.tankLitres = static_cast<float>(std::clamp(now, 0.0, TankCapacity(state)));
  TankUpdate(state);
  return true;
}

}  // namespace kl::vsensor
