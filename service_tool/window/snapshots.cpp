// KL_Install_snapshots: starts the service tool's main window exactly as
// KL_Install does (without the splash), optionally searches for a sensor on
// one port, and saves what the screen shows of each page as PNG files. Used
// by scripts/screenshots.sh under a virtual display to look at the window.
//
//   KL_Install_snapshots [--prefix P] <folder> [COM number]
//
// Every file name starts with P (for a second run in another language).
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QTabWidget>
#include <QThread>

#include <cstdio>

#include "ScopePage.h"
#include "Unit_main.h"

namespace {

void Settle(int ms) {
  QElapsedTimer t;
  t.start();
  while (t.elapsed() < ms) {
    QApplication::processEvents(QEventLoop::AllEvents, 20);
    QThread::msleep(10);
  }
}

QString prefix;

bool Save(const QString& folder, const QString& name) {
  QScreen* s = QGuiApplication::primaryScreen();
  const QString path = QDir(folder).filePath(prefix + name + ".png");
  const bool ok = s && s->grabWindow(0).save(path);
  std::printf("%s %s\n", ok ? "saved" : "FAILED", qPrintable(path));
  return ok;
}

// The oscilloscope page with the contrast trace switched on, then with a
// finished frequency sweep.
bool ScopeSnapshots(kl::TForm1& form, const QString& folder) {
  kl::ScopePage& page = form.Scope();
  page.ChkSeries3->setChecked(true);
  Settle(1200);
  bool ok = Save(folder, "3a-oscilloscope-integrator");
  page.PcPulse->setCurrentWidget(page.TsAfc);
  page.EditDAfc->setText("50");
  page.BtnAFC->click();
  QElapsedTimer t;
  t.start();
  auto box = [&form] {
    for (QMessageBox* b : form.findChildren<QMessageBox*>())
      if (b->isVisible()) return b;
    return static_cast<QMessageBox*>(nullptr);
  };
  while (t.elapsed() < 120000 && !box()) Settle(100);
  page.ChkSeries2->setChecked(true);
  Settle(300);
  ok = Save(folder, "3b-oscilloscope-sweep-done") && ok;
  if (QMessageBox* b = box()) b->close();
  Settle(1200);
  ok = Save(folder, "3c-oscilloscope-sweep") && ok;
  page.ChkSeries2->setChecked(false);
  page.ChkSeries3->setChecked(false);
  page.PcPulse->setCurrentWidget(page.TsPulse);
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName("KL31_Install_Service");
  QStringList args = QApplication::arguments().mid(1);
  if (args.size() >= 2 && args[0] == "--prefix") {
    prefix = args[1];
    args = args.mid(2);
  }
  if (args.isEmpty()) {
    std::fprintf(stderr, "usage: %s [--prefix P] <folder> [COM number]\n", argv[0]);
    return 2;
  }
  const QString folder = args[0];
  QDir().mkpath(folder);
  kl::WindowConfig config = kl::WindowConfig::ForProgram();
  config.splash = false;
  kl::TForm1 form(config);
  form.show();
  Settle(800);
  auto* tabs = form.findChild<QTabWidget*>("PcMain");
  auto* com = form.findChild<QComboBox*>("CmbCom");
  bool ok = Save(folder, "1-program");
  if (args.size() >= 2) {
    const int idx = com->findText(QString("COM") + args[1]);
    if (idx >= 0) com->setCurrentIndex(idx);
    form.findChild<QPushButton*>("BtnSearchDevice")->click();
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 60000 && tabs->currentIndex() == 0 && !form.findChild<QMessageBox*>("ErrorBox"))
      Settle(100);
    Settle(500);
    ok = Save(folder, "2-after-search") && ok;
    if (tabs->currentIndex() == 1) ok = ScopeSnapshots(form, folder) && ok;
    // Back on the program page: the rate and address the search took over.
    for (QMessageBox* b : form.findChildren<QMessageBox*>()) b->close();
    tabs->setCurrentIndex(0);
    Settle(500);
    ok = Save(folder, "2-program-after-search") && ok;
  }
  // The other pages, chosen as a user would; a page whose content is not
  // built yet shows empty.
  const char* names[] = {"3-oscilloscope", "4-calibration", "5-settings"};
  for (int i = 1; i <= 3; ++i) {
    for (QMessageBox* b : form.findChildren<QMessageBox*>()) b->close();
    tabs->setCurrentIndex(i);
    Settle(500);
    ok = Save(folder, names[i - 1]) && ok;
  }
  form.close();
  return ok ? 0 : 1;
}
