// KL_Tare_snapshot: the calibration table window with a filled table, a level
// on the gauge and the curve beside the grid, saved as a PNG; two more show
// the add-point dialog and the offer of an unfinished calibration.
// scripts/screenshots.sh runs it under a virtual display, once per language.
//
//   KL_Tare_snapshot <folder> [language file] [prefix]
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QThread>
#include <QToolButton>

#include <cmath>
#include <cstdio>
#include <memory>

#include "TareJournal.h"
#include "TareJournal.h"
#include "Unit_add.h"
#include "Unit_tare.h"

namespace {

void Settle(int ms) {
  QElapsedTimer t;
  t.start();
  while (t.elapsed() < ms) {
    QApplication::processEvents(QEventLoop::AllEvents, 20);
    QThread::msleep(10);
  }
}

bool Save(QWidget* w, const QString& path) {
  const bool ok = w->grab().save(path);
  std::printf("%s %s\n", ok ? "saved" : "FAILED", qPrintable(path));
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s <folder> [language file] [prefix]\n", argv[0]);
    return 2;
  }
  const QString folder = argv[1];
  const std::string language = argc > 2 ? argv[2] : "";
  const QString prefix = argc > 3 ? argv[3] : "";
  QDir().mkpath(folder);

  // A horizontal cylinder of 1 m diameter and 2 m length, filled in 100 l
  // portions, with one point poured wrongly (as the curve should show).
  auto table = std::make_unique<kl::TankTable>();
  int n = 0;
  for (double litres = 100; litres < 1500 && n < 15; litres += 100, ++n) {
    double lo = 0, hi = 1000;  // mm
    for (int i = 0; i < 60; ++i) {
      const double h = (lo + hi) / 2, r = 500, a = std::acos((r - h) / r);
      const double area = r * r * (a - std::sin(2 * a) / 2);  // mm^2
      (area * 2000 / 1e6 < litres ? lo : hi) = h;
    }
    table->Points[n].Level = static_cast<std::uint16_t>(std::lround(lo) * 10 + (n == 8 ? 600 : 0));
    table->Points[n].Litres = static_cast<float>(litres);
  }
  table->TableLen = static_cast<std::uint16_t>(n);

  kl::TForm_Tare1* w = kl::OpenTareWindow(nullptr, *table, false, {language, {}}, nullptr);
  w->resize(900, 560);
  kl::TareWindowShowLevel(w, 6120, false);
  Settle(600);
  bool ok = Save(w, QDir(folder).filePath(prefix + "tare-window.png"));
  w->spd_add->click();
  Settle(300);
  if (auto* add = w->findChild<kl::TForm_Add*>()) {
    ok = Save(add, QDir(folder).filePath(prefix + "tare-add.png")) && ok;
    add->close();
  }

  // The offer of an unfinished calibration, from a journal in a folder of
  // its own.
  const QString journal = QDir(folder).filePath(prefix + "journal");
  QDir().mkpath(journal);
  const kl::TareRows rows = w->Rows();
  w->close();
  Settle(100);
  ok = kl::TareJournalSave(journal.toStdString(), rows) && ok;
  table->TableLen = 0;
  w = kl::OpenTareWindow(nullptr, *table, false, {language, journal.toStdString()}, nullptr);
  w->resize(900, 560);
  Settle(400);
  auto* box = w->findChild<QMessageBox*>("QuestionBox");
  ok = box && Save(box, QDir(folder).filePath(prefix + "tare-journal.png")) && ok;
  kl::TareJournalRemove(journal.toStdString());
  QDir().rmdir(journal);
  return ok ? 0 : 1;
}
