// The calculator window on the offscreen platform: defaults of both pages,
// the user's notation, cleared fields, the wall thickness filter, a text that
// is not a number, hovering the dimension labels, the language file, and the
// hand-over of its table through RunTankCalculator.
#include <QApplication>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollBar>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <memory>

#include "Ttcalc2.h"

using namespace kl;

namespace {

constexpr int kWaitMs = 20000;  // generous: sanitizer builds are slow
const NumberLocale kPoint{"."};
const NumberLocale kComma{","};

std::unique_ptr<TTTCalc> Open(const NumberLocale& loc, const std::string& languageFile = "/nonexistent.lng") {
  auto w = std::make_unique<TTTCalc>(nullptr, languageFile, loc);
  w->show();
  return w;
}

int Rows(const TTTCalc& w) { return w.sg_tare1->model()->rowCount(); }
QString Cell(const TTTCalc& w, int row, int column) {
  const QAbstractItemModel* m = w.sg_tare1->model();
  return m->data(m->index(row, column)).toString();
}
QString LastLevel(const TTTCalc& w) { return Cell(w, Rows(w) - 1, 2); }

// The pen the element of that index is drawn with now.
CalcPen PenOf(const TTTCalc& w, int index) {
  for (const CalcElement& e : w.Image()->Drawing().elements)
    if (e.index == index) return CalcPenFor(e, w.Image()->Highlighted());
  return {};
}

QMessageBox* VisibleBox(const char* name) {
  for (QWidget* w : QApplication::topLevelWidgets())
    if (auto* b = qobject_cast<QMessageBox*>(w); b && b->objectName() == name && b->isVisible()) return b;
  return nullptr;
}

void Hover(QWidget* label, bool enter) {
  if (enter) {
    QEnterEvent e(QPointF(2, 2), QPointF(2, 2), label->mapToGlobal(QPointF(2, 2)));
    QApplication::sendEvent(label, &e);
  } else {
    QEvent e(QEvent::Leave);
    QApplication::sendEvent(label, &e);
  }
}

}  // namespace

class CalculatorWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void defaultsOfBothPages() {
    auto w = Open(kPoint);
    QCOMPARE(w->objectName(), QString("TTCalc"));
    QCOMPARE(w->windowTitle(), QString::fromUtf8("Расчет тарировочной таблицы"));
    QCOMPARE(w->PageControl1->currentWidget(), w->TTC_TorParamSheet);
    QCOMPARE(w->ScrollBar1->minimum(), 10);
    QCOMPARE(w->ScrollBar1->value(), 77);
    QCOMPARE(w->Edit1->maxLength(), 4);
    QCOMPARE(Rows(*w), 40);
    QCOMPARE(Cell(*w, 0, 1), QString("0.378"));
    QCOMPARE(LastLevel(*w), QString("196"));
    QCOMPARE(Cell(*w, 39, 0), QString("40"));
    QCOMPARE(w->Edit6->text(), QString("44.088"));
    QCOMPARE(w->sg_tare1->model()->headerData(1, Qt::Horizontal).toString(), QString::fromUtf8("Литры"));
    QVERIFY(!w->Image()->Drawing().elements.empty());

    w->PageControl1->setCurrentWidget(w->TTC_CylParamSheet);
    QCOMPARE(Rows(*w), 36);
    QCOMPARE(LastLevel(*w), QString("355"));
    QCOMPARE(w->Edit6->text(), QString("100.262"));
    // The drawing is the cylinder's now: five elements, the top line at the offset.
    QCOMPARE(w->Image()->Drawing().elements.size(), std::size_t{5});
    // Back to the torus: its table again.
    w->PageControl1->setCurrentWidget(w->TTC_TorParamSheet);
    QCOMPARE(w->Edit6->text(), QString("44.088"));
  }

  void commaLocale() {
    auto w = Open(kComma);
    QCOMPARE(w->Edit6->text(), QString("44,088"));
    QCOMPARE(Cell(*w, 0, 1), QString("0,378"));
    w->PageControl1->setCurrentIndex(1);
    QCOMPARE(w->Edit6->text(), QString("100,262"));
    // A decimal wall thickness in that notation is read as such.
    w->Edit14->setText("2,5");
    QVERIFY(w->Edit6->text() != QString("100,262"));
    QCOMPARE(Rows(*w), 36);
  }

  void everyInputRecomputes() {
    auto w = Open(kPoint);
    const QString before = w->Edit6->text();
    w->ScrollBar2->setValue(0);
    QVERIFY(w->Edit6->text() != before);
    w->ScrollBar2->setValue(80);
    QCOMPARE(w->Edit6->text(), before);
    w->Edit5->setText("49");
    QCOMPARE(Rows(*w), 4);
    QCOMPARE(LastLevel(*w), QString("196"));
  }

  void clearedFieldGivesNoTable() {
    auto w = Open(kPoint);
    for (QLineEdit* e : {w->Edit1, w->Edit2, w->Edit3, w->Edit4, w->Edit5}) {
      const QString old = e->text();
      e->clear();
      QCOMPARE(Rows(*w), 1);
      QCOMPARE(Cell(*w, 0, 0), QString());
      QCOMPARE(w->Edit6->text(), QString("0"));
      QVERIFY(w->Image()->Drawing().elements.empty());
      e->setText(old);
      QCOMPARE(Rows(*w), 40);
    }
    w->PageControl1->setCurrentIndex(1);
    for (QLineEdit* e : {w->Edit11, w->Edit12, w->Edit13, w->Edit14, w->Edit15}) {
      const QString old = e->text();
      e->clear();
      QCOMPARE(Rows(*w), 1);
      QCOMPARE(w->Edit6->text(), QString("0"));
      QVERIFY(w->Image()->Drawing().elements.empty());
      e->setText(old);
      QCOMPARE(Rows(*w), 36);
    }
    QVERIFY(!VisibleBox("ErrorBox"));
  }

  void wallThicknessFilter() {
    auto w = Open(kComma);
    for (QLineEdit* e : {w->Edit4, w->Edit14}) {
      e->setFocus();
      e->selectAll();
      QTest::keyClicks(e, "2");
      QCOMPARE(e->text(), QString("2"));
      QTest::keyClicks(e, "e");
      QTest::keyClicks(e, "E");
      QCOMPARE(e->text(), QString("2"));
      QTest::keyClicks(e, ",");
      QCOMPARE(e->text(), QString("2,"));
      QTest::keyClicks(e, ".5");
      QCOMPARE(e->text(), QString("2,5"));
      // At most four characters.
      QTest::keyClicks(e, "55");
      QCOMPARE(e->text(), QString("2,55"));
      QTest::keyClick(e, Qt::Key_Backspace);
      QCOMPARE(e->text(), QString("2,5"));
    }
    // The dimension fields take digits only.
    w->Edit1->setFocus();
    w->Edit1->selectAll();
    QTest::keyClicks(w->Edit1, "7a-,0");
    QCOMPARE(w->Edit1->text(), QString("70"));
  }

  void textThatIsNotANumberKeepsThePreviousTable() {
    auto w = Open(kPoint);
    w->Edit5->setText("10");
    QCOMPARE(Rows(*w), 20);
    const std::size_t drawn = w->Image()->Drawing().elements.size();
    // Digits only, but more than a double holds.
    w->Edit5->setText(QString(400, '9'));
    QTRY_VERIFY_WITH_TIMEOUT(VisibleBox("ErrorBox"), kWaitMs);
    QVERIFY(VisibleBox("ErrorBox")->text().contains(QString::fromUtf8("не является числом")));
    QVERIFY(VisibleBox("ErrorBox")->text().contains(w->TTC_Label7->text()));
    QCOMPARE(Rows(*w), 20);
    QCOMPARE(w->Edit6->text(), QString("44.088"));
    QCOMPARE(w->Image()->Drawing().elements.size(), drawn);
    VisibleBox("ErrorBox")->button(QMessageBox::Ok)->click();
    QTRY_VERIFY_WITH_TIMEOUT(!VisibleBox("ErrorBox"), kWaitMs);
  }

  void hoverHighlightsTheDimension() {
    auto w = Open(kPoint);
    QCOMPARE(PenOf(*w, 3).color, CalcColor::Background);
    Hover(w->TTC_Label3, true);
    QVERIFY(w->TTC_Label3->font().underline());
    QCOMPARE(w->Image()->Highlighted(), 3);
    QCOMPARE(PenOf(*w, 3).color, CalcColor::Highlight);
    QCOMPARE(PenOf(*w, 1).color, CalcColor::Pen);

    // The rendered image: the height line's middle is magenta.
    CalcElement line;
    for (const CalcElement& e : w->Image()->Drawing().elements)
      if (e.index == 3) line = e;
    const QPoint mid(line.x1, (line.y1 + line.y2) / 2);
    QCOMPARE(w->Image()->grab().toImage().pixelColor(mid).rgb() & 0xFFFFFF, 0xFF00FFu);

    Hover(w->TTC_Label3, false);
    QVERIFY(!w->TTC_Label3->font().underline());
    QCOMPARE(w->Image()->Highlighted(), 0);
    QCOMPARE(w->Image()->grab().toImage().pixelColor(mid), w->palette().color(QPalette::Base));

    // Wall thickness, on either page: every line 4 pixels wide.
    for (QLabel* label : {w->TTC_Label4, w->TTC_Label14}) {
      w->PageControl1->setCurrentWidget(label->parentWidget());
      Hover(label, true);
      for (const CalcElement& e : w->Image()->Drawing().elements)
        QCOMPARE(CalcPenFor(e, w->Image()->Highlighted()).width, 4);
      Hover(label, false);
      for (const CalcElement& e : w->Image()->Drawing().elements)
        QCOMPARE(CalcPenFor(e, w->Image()->Highlighted()).width, 2);
    }
    // The circumference label shows the middle arc of the cylinder.
    Hover(w->TTC_Label12, true);
    QCOMPARE(PenOf(*w, 2).color, CalcColor::Highlight);
    Hover(w->TTC_Label12, false);
  }

  void drawingFollowsTheWindowSize() {
    auto w = Open(kPoint);
    w->resize(700, 500);
    QTRY_COMPARE_WITH_TIMEOUT(w->width(), 700, kWaitMs);
    const int imageWidth = w->Image()->width();
    const double scale = w->Image()->Drawing().scale;
    w->resize(1000, 700);
    QTRY_COMPARE_WITH_TIMEOUT(w->width(), 1000, kWaitMs);
    QCOMPARE(w->Image()->width(), imageWidth + 300);
    QVERIFY(w->Image()->Drawing().scale > scale);
  }

  void languageFile() {
    QTemporaryDir dir;
    const std::string path = dir.filePath("KL31_Install_Service.lng").toStdString();
    std::ofstream(path, std::ios::binary) << "\xEF\xBB\xBF[LANG]\r\nSELECTED=English\r\n[English]\r\n"
                                             "TTCalc=Calibration table calculation\r\n"
                                             "TTC_Label1=Outer diameter (mm) :\r\nTTC_Label2=\r\n"
                                             "TTC_CylParamSheet=Cylinder\r\nTTC_btn_Cancel=Cancel\r\n"
                                             "sg_tare_column1=Litres\r\n"
                                             "msg_not_a_number='%1' is not a number\r\n";
    auto w = Open(kPoint, path);
    QCOMPARE(w->windowTitle(), QString("Calibration table calculation"));
    QCOMPARE(w->TTC_Label1->text(), QString("Outer diameter (mm) :"));
    QCOMPARE(w->TTC_Label2->text(), QString::fromUtf8("Внутренний диаметр (мм) :"));  // empty keeps it
    QCOMPARE(w->PageControl1->tabText(1), QString("Cylinder"));
    QCOMPARE(w->TTC_btn_Cancel->text(), QString("Cancel"));
    QCOMPARE(w->sg_tare1->model()->headerData(1, Qt::Horizontal).toString(), QString("Litres"));
    QCOMPARE(w->sg_tare1->model()->headerData(2, Qt::Horizontal).toString(), QString::fromUtf8("мм"));
    w->Edit5->setText(QString(400, '9'));
    QTRY_VERIFY_WITH_TIMEOUT(VisibleBox("ErrorBox"), kWaitMs);
    QVERIFY(VisibleBox("ErrorBox")->text().contains(QString::fromUtf8("Шаг по высоте (мм) : '99999")));
    QVERIFY(VisibleBox("ErrorBox")->text().endsWith("' is not a number"));
    VisibleBox("ErrorBox")->button(QMessageBox::Ok)->click();
  }

  // The shipped file names every control of the window in both languages.
  void shippedLanguageFile() {
    const std::string shipped = std::string(KL_RESOURCES_DIR) + "/KL31_Install_Service.lng";
    std::ifstream in(shipped, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    QVERIFY(!bytes.empty());
    QTemporaryDir dir;
    for (const char* lang : {"English", "Русский"}) {
      std::string copy = bytes;
      const auto at = copy.find("SELECTED=");
      copy.replace(at, copy.find('\r', at) - at, std::string("SELECTED=") + lang);
      const std::string path = dir.filePath("lang.lng").toStdString();
      std::ofstream(path, std::ios::binary | std::ios::trunc) << copy;
      auto w = Open(kPoint, path);
      const bool english = std::string(lang) == "English";
      QCOMPARE(w->windowTitle() == QString::fromUtf8(kCalcCaption), !english);
      for (QLabel* l : w->findChildren<QLabel*>()) {
        if (!l->objectName().startsWith("TTC_")) continue;
        QVERIFY2(!l->text().isEmpty(), qPrintable(l->objectName()));
        // No Cyrillic left in English; the Russian section is the built-in text.
        const QString text = l->text();
        const bool cyrillic = std::any_of(
            text.begin(), text.end(), [](QChar c) { return c.unicode() >= 0x400 && c.unicode() < 0x500; });
        QVERIFY2(cyrillic != english, qPrintable(l->objectName() + " " + l->text()));
      }
      QCOMPARE(w->PageControl1->tabText(0), english ? QString("Torus") : QString::fromUtf8("Тор"));
      QCOMPARE(w->TTC_btn_Cancel->text(), english ? QString("Cancel") : QString::fromUtf8("Отмена"));
      QCOMPARE(w->sg_tare1->model()->headerData(1, Qt::Horizontal).toString(),
               english ? QString("Litres") : QString::fromUtf8("Литры"));
    }
  }

  // RunTankCalculator, driven as a technician would: the cylinder page, OK.
  void runHandsTheTableOver() {
    TareRows rows;
    rows.locale = kComma;
    rows.rows = {{"1", "5,0", "10"}};
    QTimer::singleShot(0, [] {
      auto* w = dynamic_cast<TTTCalc*>(QApplication::activeModalWidget());
      QVERIFY(w);
      w->PageControl1->setCurrentIndex(1);
      QTest::mouseClick(w->TTC_btn_OK, Qt::LeftButton);
    });
    QVERIFY(RunTankCalculator(nullptr, "/nonexistent.lng", rows));
    QCOMPARE(TareRowCount(rows), 36);
    QCOMPARE(rows.rows.front(), (std::array<std::string, 3>{"1", "0,702", "10"}));
    QCOMPARE(rows.rows.back(), (std::array<std::string, 3>{"36", "100,262", "355"}));
  }

  void runCancelledLeavesTheRows() {
    TareRows rows;
    rows.rows = {{"1", "5.0", "10"}};
    QTimer::singleShot(0, [] {
      auto* w = dynamic_cast<TTTCalc*>(QApplication::activeModalWidget());
      QVERIFY(w);
      QTest::mouseClick(w->TTC_btn_Cancel, Qt::LeftButton);
    });
    QVERIFY(!RunTankCalculator(nullptr, "/nonexistent.lng", rows));
    QCOMPARE(rows.rows, (std::vector<std::array<std::string, 3>>{{"1", "5.0", "10"}}));
  }

  void okAfterClearingHandsOverOneEmptyRow() {
    TareRows rows;
    rows.rows = {{"1", "5.0", "10"}, {"2", "9.0", "20"}};
    QTimer::singleShot(0, [] {
      auto* w = dynamic_cast<TTTCalc*>(QApplication::activeModalWidget());
      QVERIFY(w);
      w->Edit3->clear();
      QTest::mouseClick(w->TTC_btn_OK, Qt::LeftButton);
    });
    QVERIFY(RunTankCalculator(nullptr, "/nonexistent.lng", rows));
    QCOMPARE(rows.rows, (std::vector<std::array<std::string, 3>>{{"", "", ""}}));
  }

  // The variant without a nested event loop.
  void openHandsTheTableOverWhenClosed() {
    TareRows rows;
    int closed = 0;
    bool result = false;
    TTTCalc* w = OpenTankCalculator(nullptr, "/nonexistent.lng", rows, [&](bool ok) {
      ++closed;
      result = ok;
    });
    QVERIFY(w->isVisible());
    QCOMPARE(closed, 0);
    QTest::mouseClick(w->TTC_btn_OK, Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(closed, 1, kWaitMs);
    QVERIFY(result);
    QCOMPARE(TareRowCount(rows), 40);
    QCOMPARE(rows.rows.back()[2], std::string("196"));
  }
};

QTEST_MAIN(CalculatorWindowTest)
#include "window_test.moc"
