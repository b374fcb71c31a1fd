// calculator_snapshots <folder>: saves a picture of each page of the
// calculator in Russian and in English (the shipped language file), for the
// manual and for a look at the window.
#include <QApplication>
#include <QDir>
#include <QEnterEvent>
#include <QFile>
#include <QLabel>
#include <QTabWidget>
#include <QTemporaryDir>

#include "Ttcalc2.h"

namespace {

// Compressed as far as PNG goes: the manual wants small files.
bool Save(QWidget& w, const QString& name) { return w.grab().save(name, "PNG", 0); }

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  const QString out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(".");
  QDir().mkpath(out);
  QTemporaryDir dir;
  const QString shipped = QString(KL_RESOURCES_DIR) + "/KL31_Install_Service.lng";
  QFile f(shipped);
  if (!f.open(QIODevice::ReadOnly)) return 1;
  QByteArray bytes = f.readAll();
  int status = 0;
  for (const char* lang : {"ru", "en"}) {
    // The shipped file with the language chosen.
    QByteArray copy = bytes;
    const QByteArray selected = lang == std::string("en")
                                    ? "SELECTED=English"
                                    : "SELECTED=\xD0\xA0\xD1\x83\xD1\x81\xD1\x81\xD0\xBA\xD0\xB8\xD0\xB9";
    const int at = copy.indexOf("SELECTED=");
    const int end = copy.indexOf('\r', at);
    copy.replace(at, end - at, selected);
    const QString path = dir.filePath(QString("lang-%1.lng").arg(lang));
    QFile w(path);
    if (!w.open(QIODevice::WriteOnly) || w.write(copy) != copy.size()) return 1;
    w.close();
    kl::TTTCalc calc(nullptr, path.toStdString(), kl::UserNumberLocale());
    calc.resize(660, 460);
    calc.show();
    app.processEvents();
    for (int page = 0; page < 2; ++page) {
      calc.PageControl1->setCurrentIndex(page);
      app.processEvents();
      const QString name = QString("%1/calc-%2-%3.png").arg(out, lang, page == 0 ? "torus" : "cylinder");
      if (!Save(calc, name)) status = 1;
    }
    // Hovering the height label, then the wall thickness label.
    calc.PageControl1->setCurrentIndex(0);
    for (QLabel* label : {calc.TTC_Label3, calc.TTC_Label4}) {
      QEnterEvent enter(QPointF(2, 2), QPointF(2, 2), label->mapToGlobal(QPointF(2, 2)));
      QApplication::sendEvent(label, &enter);
      app.processEvents();
      const QString name = QString("%1/calc-%2-hover-%3.png").arg(out, lang, label->objectName());
      if (!Save(calc, name)) status = 1;
      QEvent leave(QEvent::Leave);
      QApplication::sendEvent(label, &leave);
    }
  }
  return status;
}
