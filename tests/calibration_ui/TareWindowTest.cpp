// The calibration table window and its add-point dialog as real widgets on
// the offscreen platform: the filling procedure with its messages, the gauge,
// read-only mode, OK and Cancel, and the journal that outlives a killed
// process.
#include <gtest/gtest.h>

#include <QAbstractItemModel>
#include <QApplication>
#include <QTabWidget>
#include <QTimer>
#include <QChart>
#include <QChartView>
#include <QKeyEvent>
#include <QXYSeries>
#include <QFileDialog>
#include <QFrame>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QTableView>
#include <QTemporaryDir>
#include <QToolButton>

#include <cstdio>
#include <filesystem>
#include <memory>

#include "ConfigFiles.h"
#include "TareGauge.h"
#include "TareJournal.h"
#include "TareMessages.h"
#include "TareTexts.h"
#include "Unit_add.h"
#include "Unit_tare.h"
#include "Unit_xls.h"

namespace kl {
namespace {

using Points = std::vector<std::pair<std::string, std::string>>;  // litres, mm

std::string BuiltinMessage(std::string_view key) { return TareMessageFor({}, key); }

void Flush() {
  QCoreApplication::processEvents();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

std::vector<QMessageBox*> VisibleBoxes() {
  std::vector<QMessageBox*> out;
  for (QWidget* w : QApplication::topLevelWidgets())
    if (auto* b = qobject_cast<QMessageBox*>(w); b && b->isVisible()) out.push_back(b);
  return out;
}

// The text of the one box on screen, answered with `button`; "" when none.
std::string Answer(QMessageBox::StandardButton button = QMessageBox::Ok) {
  const std::vector<QMessageBox*> boxes = VisibleBoxes();
  if (boxes.empty()) return "";
  if (boxes.size() > 1) return "<several boxes>";
  const std::string text = boxes[0]->text().toStdString();
  QAbstractButton* b = boxes[0]->button(button);
  if (!b) return "<no such button>";
  b->click();
  Flush();
  return text;
}

Points Shown(const TForm_Tare1& w) {
  Points out;
  const TareRows& r = w.Rows();
  for (int i = 1; i <= TareRowCount(r); ++i) {
    EXPECT_EQ(TareText(r, TareColNumber, i), std::to_string(i));
    out.emplace_back(TareText(r, TareColLitres, i), TareText(r, TareColMm, i));
  }
  // The grid shows the rows the rules hold.
  const QAbstractItemModel* m = w.sg_tare1->model();
  EXPECT_EQ(m->rowCount(), static_cast<int>(out.size()));
  for (int i = 0; i < m->rowCount() && i < static_cast<int>(out.size()); ++i)
    EXPECT_EQ(m->index(i, 1).data().toString().toStdString(), out[i].first);
  return out;
}

class TareWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    table_ = std::make_unique<TankTable>();
  }
  void TearDown() override {
    while (!VisibleBoxes().empty())
      Answer(VisibleBoxes()[0]->buttons().size() > 1 ? QMessageBox::No : QMessageBox::Ok);
    if (w_) w_->close();
    Flush();
  }

  void SetTable(const Points& pts) {
    table_->TableLen = static_cast<std::uint16_t>(pts.size());
    for (std::size_t i = 0; i < pts.size(); ++i)
      table_->Points[i] = {static_cast<std::uint16_t>(std::stoi(pts[i].second) * 10),
                           std::stof(pts[i].first)};
  }

  TForm_Tare1* Open(bool readOnly = false, std::string languageFile = {}) {
    closed_.reset();
    w_ = OpenTareWindow(nullptr, *table_, readOnly, {languageFile, Folder()},
                        [this](bool ok) { closed_ = ok; });
    return w_;
  }
  std::string Folder() const { return dir_.path().toStdString(); }
  bool JournalExists() const { return std::filesystem::exists(TareJournalPath(Folder())); }

  // One press of "Добавить" at a level (mm; negative: no data); the message
  // shown, "" when none.
  std::string Press(int mm, const char* sensitivity, const char* portion) {
    TareWindowShowLevel(w_, mm * 10, mm < 0);
    w_->edit_accuracy->setText(sensitivity);
    w_->edit_portion->setText(portion);
    w_->btn_add->click();
    return Answer();
  }

  QTemporaryDir dir_;
  std::unique_ptr<TankTable> table_;
  QPointer<TForm_Tare1> w_;
  std::optional<bool> closed_;
};

struct Step {
  int mm;
  const char* sensitivity;
  const char* portion;
  const char* message;  // key, or "" for none
  Points rows;          // after the press
};

struct Sequence {
  const char* name;
  Points start;
  std::vector<Step> presses;
};

TEST_F(TareWindow, FillingAndDrainingSequences) {
  const Points f1 = {{"10.0", "120"}};
  const Points drained = {{"10.0", "120"}, {"20.0", "200"}};
  const std::vector<Sequence> cases = {
      {"filling",
       {},
       {{120, "1", "10", "", f1},
        {120, "1", "10", "msg_code_change_less_than_accuracy", f1},
        {121, "2", "10", "msg_code_change_less_than_accuracy", f1},
        {122, "2", "10", "", {{"10.0", "120"}, {"20.0", "122"}}}}},
      {"portions",
       {},
       {{120, "1", "0.5", "msg_fuel_portion_too_small", {{"", ""}}},
        {120, "1", "-0.9", "msg_fuel_portion_too_small", {{"", ""}}},
        {120, "1", "abc", "msg_fuel_portion_wrong", {{"", ""}}},
        {120, "1", "1.5", "", {{"1.5", "120"}}}}},
      {"draining",
       drained,
       {{119, "2", "-10", "msg_code_change_less_than_accuracy", drained},
        {110, "1", "-15", "msg_drain_portion_too_big", drained},
        {110, "1", "-10", "", {{"0.0", "110"}, {"10.0", "120"}, {"20.0", "200"}}}}},
      {"no data and sensitivity",
       {},
       {{-1, "1", "10", "msg_wrong_code_value", {{"", ""}}},
        {120, "0", "10", "msg_accuracy_value_wrong", {{"", ""}}},
        {120, "1.5", "10", "msg_accuracy_value_wrong", {{"", ""}}},
        {120, "x", "10", "msg_accuracy_value_wrong", {{"", ""}}}}},
  };
  for (const Sequence& c : cases) {
    SCOPED_TRACE(c.name);
    SetTable(c.start);
    TareJournalRemove(Folder());  // the previous sequence's
    Open();
    for (const Step& p : c.presses) {
      SCOPED_TRACE(std::string("level ") + std::to_string(p.mm) + ", portion " + p.portion);
      const std::string expected = *p.message ? BuiltinMessage(p.message) : "";
      EXPECT_EQ(Press(p.mm, p.sensitivity, p.portion), expected);
      EXPECT_EQ(Shown(*w_), p.rows);
    }
    w_->btn_Cancel->click();
    Flush();
  }
}

TEST_F(TareWindow, GaugeShowsTheLevelAndKeepsTheBarOnTheBottom) {
  Open();
  struct Case {
    int code;
    bool noData;
    const char* text;
    int bar;
  } cases[] = {{6500, false, "650", 32},
               {65535, false, "6554", 327},
               {0, true, "No Data", 0},
               {70000, false, "6554", 327},
               {-5, false, "0", 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code);
    TareWindowShowLevel(w_, c.code, c.noData);
    EXPECT_EQ(w_->lbl_fuel->text().toStdString(), c.text);
    EXPECT_EQ(w_->shape_fuel->height(), c.bar);
    EXPECT_EQ(w_->shape_fuel->geometry().bottom(), w_->shape_box->geometry().bottom());
  }
  // A reading that is not a number leaves the gauge as it was.
  TareWindowShowLevel(w_, 6500, false);
  w_->ShowLevel(std::nan(""), false);
  EXPECT_EQ(w_->lbl_fuel->text(), "650");
  EXPECT_EQ(w_->shape_fuel->height(), 32);
  EXPECT_EQ(w_->lbl_max->text(), "6500");
}

TEST_F(TareWindow, RussianNotationReadsAndWritesWithAComma) {
  QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
  SetTable({{"10.5", "120"}});
  Open();
  EXPECT_EQ(Shown(*w_), (Points{{"10,5", "120"}}));
  EXPECT_EQ(Press(150, "1", "1.5"), BuiltinMessage("msg_fuel_portion_wrong"));
  EXPECT_EQ(Press(150, "1", "1,5"), "");
  EXPECT_EQ(Shown(*w_), (Points{{"10,5", "120"}, {"12,0", "150"}}));
  w_->btn_OK->click();
  Flush();
  QLocale::setDefault(QLocale::c());
  EXPECT_EQ(table_->TableLen, 2);
  EXPECT_EQ(table_->Points[1].Litres, 12.0f);
}

TEST_F(TareWindow, GridPlotAndKeysAsATechnicianMeetsThem) {
  SetTable({{"10.0", "120"}});
  Open();
  // Whole rows, ranges of them, and no typing into a cell.
  EXPECT_EQ(w_->sg_tare1->selectionBehavior(), QAbstractItemView::SelectRows);
  EXPECT_EQ(w_->sg_tare1->editTriggers(), QAbstractItemView::NoEditTriggers);
  EXPECT_FALSE(w_->sg_tare1->model()->flags(w_->sg_tare1->model()->index(0, 1)) & Qt::ItemIsEditable);
  EXPECT_EQ(w_->sg_tare1->model()->headerData(0, Qt::Horizontal).toString(), "№");

  // The curve follows every change of the rows.
  auto* curve = qobject_cast<QXYSeries*>(w_->chart_tare->chart()->series().value(0));
  ASSERT_TRUE(curve);
  EXPECT_EQ(curve->count(), 1);
  EXPECT_EQ(Press(200, "1", "10"), "");
  ASSERT_EQ(curve->count(), 2);
  EXPECT_EQ(curve->at(1), QPointF(200, 20));
  w_->sg_tare1->selectRow(0);
  w_->Menu_Rem->trigger();
  EXPECT_EQ(curve->count(), 1);

  // Escape does not throw the rows away.
  QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
  QCoreApplication::sendEvent(w_->edit_portion, &esc);
  Flush();
  EXPECT_TRUE(w_ && w_->isVisible());
  EXPECT_FALSE(closed_);
}

TEST(TareGauge, RuleWithoutWidgets) {
  EXPECT_EQ(TareGaugeFor(6500, false)->barHeight, 32);
  EXPECT_EQ(TareGaugeFor(199, false)->barHeight, 0);
  EXPECT_EQ(TareGaugeFor(65535, false)->text, "6554");
  EXPECT_EQ(TareGaugeFor(1e12, false)->barHeight, 327);
  EXPECT_FALSE(TareGaugeFor(std::numeric_limits<double>::infinity(), false));
  EXPECT_EQ(TareGaugeFor(std::nan(""), true)->text, "No Data");
}

TEST_F(TareWindow, OkStoresTheRowsAndRemovesTheJournal) {
  Open();
  EXPECT_EQ(Press(120, "1", "10"), "");
  EXPECT_EQ(Press(200, "1", "10"), "");
  EXPECT_TRUE(JournalExists());
  w_->btn_OK->click();
  Flush();
  ASSERT_EQ(closed_, std::optional<bool>(true));
  EXPECT_TRUE(w_.isNull());
  EXPECT_EQ(table_->TableLen, 2);
  EXPECT_EQ(table_->Points[0].Level, 1200);
  EXPECT_EQ(table_->Points[1].Litres, 20.0f);
  EXPECT_EQ(table_->MlPerUnit, 1);
  EXPECT_FALSE(JournalExists());
}

TEST_F(TareWindow, OkWithMoreThanFiftyPointsAsksFirst) {
  Points many;
  for (int i = 1; i <= 51; ++i) many.emplace_back(std::to_string(i * 10) + ".0", std::to_string(i * 20));
  SetTable(many);
  Open();
  w_->btn_OK->click();
  EXPECT_EQ(Answer(QMessageBox::No), BuiltinMessage("msg_table_will_trunc"));
  EXPECT_FALSE(closed_);
  EXPECT_TRUE(w_ && w_->isVisible());
  EXPECT_EQ(table_->TableLen, 51);
  w_->btn_OK->click();
  EXPECT_EQ(Answer(QMessageBox::Yes), BuiltinMessage("msg_table_will_trunc"));
  EXPECT_EQ(closed_, std::optional<bool>(true));
  EXPECT_EQ(table_->TableLen, 50);
  EXPECT_EQ(table_->Points[49].Level, 10000);
}

TEST_F(TareWindow, CancelAndTheCloseBoxKeepTheTableAndTheJournal) {
  for (bool closeBox : {false, true}) {
    SCOPED_TRACE(closeBox ? "close box" : "Cancel");
    SetTable({{"5.0", "50"}});
    Open();
    EXPECT_EQ(Press(120, "1", "10"), "");
    if (closeBox)
      w_->close();
    else
      w_->btn_Cancel->click();
    Flush();
    EXPECT_EQ(closed_, std::optional<bool>(false));
    EXPECT_EQ(table_->TableLen, 1);
    EXPECT_EQ(table_->Points[0].Level, 500);
    EXPECT_TRUE(JournalExists());
    ASSERT_TRUE(TareJournalLoad(Folder(), {}));
    EXPECT_EQ(TareRowCount(*TareJournalLoad(Folder(), {})), 2);
    TareJournalRemove(Folder());
  }
}

TEST_F(TareWindow, ReadOnlyCannotStoreButStillEdits) {
  SetTable({{"10.0", "120"}, {"20.0", "200"}});
  Open(true);
  EXPECT_FALSE(w_->btn_OK->isEnabled());
  EXPECT_EQ(Press(300, "1", "10"), "");
  EXPECT_EQ(Shown(*w_).size(), 3u);
  w_->sg_tare1->selectRow(0);
  w_->spd_del->click();
  EXPECT_EQ(Shown(*w_), (Points{{"20.0", "200"}, {"30.0", "300"}}));
  // A preset tank is not the user's calibration: no journal of it.
  EXPECT_FALSE(JournalExists());
  w_->btn_Cancel->click();
  Flush();
  EXPECT_EQ(closed_, std::optional<bool>(false));
  EXPECT_EQ(table_->TableLen, 2);
}

TEST_F(TareWindow, DeleteSelectedRangeAndImportClearsFirst) {
  SetTable({{"10.0", "120"}, {"20.0", "200"}, {"30.0", "300"}});
  Open();
  w_->sg_tare1->selectionModel()->select(
      QItemSelection(w_->sg_tare1->model()->index(0, 0), w_->sg_tare1->model()->index(1, 2)),
      QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  w_->spd_del->click();
  EXPECT_EQ(Shown(*w_), (Points{{"30.0", "300"}}));
  EXPECT_EQ(TareText(w_->Rows(), TareColNumber, 1), "1");

  // A file that is no workbook: the rows are cleared before reading, and the
  // exchange's error is shown.
  const QString junk = QString::fromStdString(Folder() + "/junk.xlsx");
  ASSERT_TRUE(WriteFileAtomically(junk.toStdString(), "not a workbook"));
  w_->spd_imp->click();
  auto* dialog = w_->findChild<QFileDialog*>("ImportDialog");
  ASSERT_TRUE(dialog);
  EXPECT_EQ(dialog->nameFilters().join(";").toStdString(), kXlsDialogFilter);
  emit dialog->fileSelected(junk);
  dialog->close();
  EXPECT_EQ(Shown(*w_), (Points{{"", ""}}));
  EXPECT_FALSE(Answer().empty());
}

TEST_F(TareWindow, AddDialogMessagesAndFocus) {
  Open();
  w_->spd_add->click();
  auto* add = w_->findChild<TForm_Add*>();
  ASSERT_TRUE(add);
  EXPECT_TRUE(add->btn_add->isDefault());
  struct Case {
    const char* litres;
    const char* mm;
    const char* message;
    bool focusOnLitres;
    Points rows;
  } cases[] = {
      {"10", "1.5", "msg_wrong_code_value", false, {{"", ""}}},
      {"abc", "10", kAddLitrMessage.key.data(), false, {{"", ""}}},
      {"0.5", "0", "msg_wrong_code_value", true, {{"", ""}}},
      {"10", "120", "", true, {{"10.0", "120"}}},
      {"20", "110", "msg_wrong_code_value", true, {{"10.0", "120"}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.litres) + " l at " + c.mm + " mm");
    add->edit_litr->setText(c.litres);
    add->edit_code->setText(c.mm);
    add->edit_code->setFocus();
    add->btn_add->click();
    EXPECT_EQ(Answer(), *c.message ? BuiltinMessage(c.message) : "");
    if (c.focusOnLitres) {
      EXPECT_EQ(add->focusWidget(), add->edit_litr);
    }
    EXPECT_EQ(Shown(*w_), c.rows);
  }
  EXPECT_EQ(BuiltinMessage(kAddLitrMessage.key), "Неверное значение литров");
  add->btn_exit->click();
  Flush();
  EXPECT_FALSE(w_->findChild<TForm_Add*>());
  EXPECT_TRUE(w_->isVisible());
}

// The shipped language file, its English section selected.
std::string EnglishLanguageFile(const std::string& folder) {
  auto text = ReadWholeFile(std::string(KL_RESOURCES_DIR) + "/" + kLanguageFileName);
  EXPECT_TRUE(text);
  std::string s = text.value_or("");
  const std::size_t at = s.find("SELECTED=");
  if (at != std::string::npos) s.replace(at, s.find('\r', at) - at, "SELECTED=English");
  const std::string path = folder + "/" + kLanguageFileName;
  EXPECT_TRUE(WriteFileAtomically(path, s));
  return path;
}

TEST_F(TareWindow, LanguageFileRenamesEverythingButTheTopMark) {
  const std::string lng = EnglishLanguageFile(Folder());
  Open(false, lng);
  EXPECT_EQ(w_->windowTitle(), "Calibration table");
  EXPECT_EQ(w_->btn_add->text(), "Add");
  EXPECT_EQ(w_->btn_Cancel->text(), "Cancel");
  EXPECT_EQ(w_->Menu_Excel_Imp->text(), "Import from Excel");
  EXPECT_EQ(w_->sg_tare1->model()->headerData(1, Qt::Horizontal).toString(), "Litres");
  EXPECT_EQ(w_->lbl_max->text(), "6500");
  EXPECT_EQ(Press(-1, "1", "10"), "Invalid code value");
  w_->spd_add->click();
  auto* add = w_->findChild<TForm_Add*>();
  ASSERT_TRUE(add);
  EXPECT_EQ(add->windowTitle(), "Add");
  EXPECT_EQ(add->btn_exit->text(), "Exit");
  add->edit_litr->setText("x");
  add->edit_code->setText("5");
  add->btn_add->click();
  EXPECT_EQ(Answer(), "Invalid litres value");
  add->close();

  // Every key of the window and the dialog has a text in both languages.
  const auto f = LanguageFile::Load(std::string(KL_RESOURCES_DIR) + "/" + kLanguageFileName);
  ASSERT_TRUE(f);
  std::vector<std::string> keys = {"Form_Tare1",
                                   "sg_tare_column0",
                                   "sg_tare_column1",
                                   "sg_tare_column2",
                                   "lbl_accuracy",
                                   "lbl_portion",
                                   "lbl_fuel",
                                   "lbl_max",
                                   "lbl_min",
                                   "btn_add",
                                   "btn_calc_by_geometry",
                                   "btn_OK",
                                   "btn_Cancel",
                                   "gb_tare",
                                   "gb_table1",
                                   "gb_level1",
                                   "Menu_Add",
                                   "Menu_Rem",
                                   "Menu_Excel_Imp",
                                   "Menu_Excel_Exp",
                                   "Form_Add",
                                   "lbl_litr",
                                   "lbl_code",
                                   "btn_exit",
                                   std::string(kAddLitrMessage.key),
                                   std::string(kJournalRestoreMessage.key)};
  for (const TareMessage& m : TareWindowMessages()) keys.emplace_back(m.key);
  for (const std::string& k : keys)
    for (const char* lang : {"Русский", "English"})
      EXPECT_FALSE(f->doc.GetString(lang, k, "").empty()) << lang << k;
  EXPECT_EQ(f->doc.GetString("Русский", kAddLitrMessage.key, ""), kAddLitrMessage.text);
  EXPECT_EQ(f->doc.GetString("Русский", kJournalRestoreMessage.key, ""), kJournalRestoreMessage.text);
}

// --- the journal across a killed process ----------------------------------------

// The child: pours three portions into an empty table and waits to be killed.
int JournalChild(const std::string& folder) {
  auto table = std::make_unique<TankTable>();
  TForm_Tare1* w = OpenTareWindow(nullptr, *table, false, {{}, folder}, nullptr);
  for (int mm : {120, 200, 280}) {
    TareWindowShowLevel(w, mm * 10, false);
    w->btn_add->click();
  }
  std::printf("READY %d\n", TareRowCount(w->Rows()));
  std::fflush(stdout);
  return QApplication::exec();
}

TEST_F(TareWindow, JournalSurvivesAKilledProcessAndOkRemovesIt) {
  QProcess child;
  child.start(QCoreApplication::applicationFilePath(), {"--journal-child", QString::fromStdString(Folder())});
  ASSERT_TRUE(child.waitForStarted(60000));
  QByteArray out;
  for (int i = 0; i < 120 && !out.contains('\n'); ++i) {
    child.waitForReadyRead(1000);
    out += child.readAllStandardOutput();
  }
  ASSERT_EQ(out.trimmed().toStdString(), "READY 3");
  child.kill();  // SIGKILL: nothing of the child's own runs after this
  ASSERT_TRUE(child.waitForFinished(60000));
  ASSERT_TRUE(JournalExists());

  // A preset tank shown for viewing neither offers nor touches it.
  Open(true);
  EXPECT_TRUE(VisibleBoxes().empty());
  w_->btn_Cancel->click();
  Flush();

  // Declining keeps it for the next time, as long as nothing was changed.
  Open();
  EXPECT_EQ(Answer(QMessageBox::No), TareMessageText(kJournalRestoreMessage.text, 3));
  EXPECT_EQ(Shown(*w_), (Points{{"", ""}}));
  w_->btn_Cancel->click();
  Flush();
  EXPECT_TRUE(JournalExists());

  Open();
  EXPECT_EQ(Answer(QMessageBox::Yes), TareMessageText(kJournalRestoreMessage.text, 3));
  EXPECT_EQ(Shown(*w_), (Points{{"10.0", "120"}, {"20.0", "200"}, {"30.0", "280"}}));
  EXPECT_EQ(TareText(w_->Rows(), TareColNumber, 3), "3");
  w_->btn_OK->click();
  Flush();
  EXPECT_EQ(closed_, std::optional<bool>(true));
  EXPECT_EQ(table_->TableLen, 3);
  EXPECT_FALSE(JournalExists());

  // Nothing to offer any more.
  Open();
  EXPECT_TRUE(VisibleBoxes().empty());
}

// The calculator opened from the calibration window hands its table over:
// the cylinder page's 36 rows replace the window's rows.
TEST_F(TareWindow, TheCalculatorsCylinderTableReplacesTheRows) {
  Open();
  ASSERT_TRUE(w_);
  bool driven = false;
  QTimer::singleShot(0, [&driven] {
    for (QWidget* top : QApplication::topLevelWidgets()) {
      if (top->objectName() != "TTCalc" || !top->isVisible()) continue;
      auto* pages = top->findChild<QTabWidget*>("PageControl1");
      auto* ok = top->findChild<QPushButton*>("TTC_btn_OK");
      if (!pages || !ok) return;
      pages->setCurrentIndex(1);
      ok->click();
      driven = true;
    }
  });
  w_->btn_calc_by_geometry->click();
  Flush();
  ASSERT_TRUE(driven);
  const TareRows& rows = w_->Rows();
  ASSERT_EQ(TareRowCount(rows), 36);
  EXPECT_EQ(TareText(rows, TareColMm, 36), "355");
  EXPECT_EQ(w_->sg_tare1->model()->rowCount(), 36);
}

}  // namespace
}  // namespace kl

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  // Numbers in the tests are written with a point.
  QLocale::setDefault(QLocale::c());
  QApplication app(argc, argv);
  if (argc == 3 && std::string(argv[1]) == "--journal-child") return kl::JournalChild(argv[2]);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
