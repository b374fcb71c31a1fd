// Measures what one keystroke in the calculator costs: the table computed
// and turned into the grid's texts (no window), and the window's whole
// recomputation (parameters, table, grid, total) plus painting the drawing,
// for the default tanks and for the largest tables the fields allow (step
// 1 mm on a tank 9999 mm high). Run it with QT_QPA_PLATFORM=offscreen.
#include <QApplication>
#include <QLineEdit>
#include <QTabWidget>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <vector>

#include "TTCalcRules.h"
#include "Ttcalc2.h"

namespace {

using Clock = std::chrono::steady_clock;

// Median and maximum in milliseconds of `rounds` runs of f.
std::pair<double, double> Measure(int rounds, const std::function<void(int)>& f) {
  std::vector<double> v;
  for (int i = 0; i < rounds; ++i) {
    const auto t0 = Clock::now();
    f(i);
    v.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
  }
  std::sort(v.begin(), v.end());
  return {v[v.size() / 2], v.back()};
}

void Print(const char* what, int rows, std::pair<double, double> ms) {
  std::printf("%-56s %6d rows  median %8.3f ms  max %8.3f ms\n", what, rows, ms.first, ms.second);
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  const kl::NumberLocale loc{","};
  constexpr int kRounds = 50;

  struct TorusCase {
    const char* name;
    kl::TorusInputs in;
  } torusCases[] = {
      {"torus, defaults: table + grid texts", {"600", "160", "202", "3", "5", 77, 200, 80, 200}},
      {"torus, 9999 mm high, step 1: table + grid texts", {"9999", "0", "9999", "0", "1", 77, 200, 80, 200}},
  };
  for (const TorusCase& c : torusCases) {
    kl::TareRows grid;
    int rows = 0;
    const auto ms = Measure(kRounds, [&](int) {
      kl::TorusParams p;
      (void)kl::CalcTorusParams(c.in, loc, p);
      const kl::CalcTable t = kl::CalcTorusTable(p);
      kl::CalcFillGrid(t, loc, grid);
      rows = static_cast<int>(t.rows.size());
    });
    Print(c.name, rows, ms);
  }
  struct CylinderCase {
    const char* name;
    kl::CylinderInputs in;
  } cylinderCases[] = {
      {"cylinder, defaults: table + grid texts", {"840", "1134", "490", "3", "10"}},
      {"cylinder, 9999 mm round, step 1: table + grid texts", {"9999", "9999", "9999", "1", "1"}},
  };
  for (const CylinderCase& c : cylinderCases) {
    kl::TareRows grid;
    int rows = 0;
    const auto ms = Measure(kRounds, [&](int) {
      kl::CylinderParams p;
      (void)kl::CalcCylinderParams(c.in, loc, p);
      const kl::CalcTable t = kl::CalcCylinderTable(p);
      kl::CalcFillGrid(t, loc, grid);
      rows = static_cast<int>(t.rows.size());
    });
    Print(c.name, rows, ms);
  }

  // The window: a keystroke in the step field recomputes synchronously; the
  // drawing is painted by grabbing the image.
  kl::TTTCalc w(nullptr, "/nonexistent.lng", loc);
  w.resize(760, 560);
  w.show();
  app.processEvents();
  auto keystrokes = [&](QLineEdit* step, const char* a, const char* b) {
    return Measure(kRounds, [&](int i) {
      step->setText(i % 2 ? a : b);
      (void)w.Image()->grab();
    });
  };
  Print("window, torus defaults: keystroke + paint", 40, keystrokes(w.Edit5, "5", "6"));
  w.Edit1->setText("9999");
  w.Edit2->setText("0");
  w.Edit3->setText("9999");
  w.Edit4->setText("0");
  Print("window, torus 9999 mm, steps 1 and 2: keystroke + paint", 9999, keystrokes(w.Edit5, "1", "2"));
  w.PageControl1->setCurrentIndex(1);
  Print("window, cylinder defaults: keystroke + paint", 36, keystrokes(w.Edit15, "10", "11"));
  return 0;
}
