#include "Unit_tare.h"

#include <QAction>
#include <QChart>
#include <QChartView>
#include <QFileDialog>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QShowEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLineSeries>
#include <QLocale>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QTableView>
#include <QToolButton>
#include <QVBoxLayout>
#include <QValueAxis>

#include <algorithm>

#include "TareGauge.h"
#include "TareJournal.h"
#include "TareTableModel.h"
#include "TareTexts.h"
#include "Ttcalc2.h"
#include "Unit_add.h"
#include "Unit_xls.h"

namespace kl {

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

template <class W>
W* Named(W* w, const char* name) {
  w->setObjectName(name);
  return w;
}

// The picture buttons' pictures, drawn here so the program carries no files.
QIcon Picture(char kind) {
  QPixmap pm(20, 20);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  const QColor green(0x1d, 0x6f, 0x42), ink(0x30, 0x30, 0x30);
  if (kind == 'i' || kind == 'e') {
    // A sheet with an arrow into it (import) or out of it (export).
    p.setPen(QPen(green, 1.2));
    p.setBrush(QColor(0xe8, 0xf4, 0xec));
    p.drawRect(QRectF(7.5, 2.5, 10, 15));
    p.drawLine(QPointF(9, 7), QPointF(16, 7));
    p.drawLine(QPointF(9, 10.5), QPointF(16, 10.5));
    p.drawLine(QPointF(9, 14), QPointF(16, 14));
    p.setPen(QPen(ink, 2));
    if (kind == 'i') {
      p.drawLine(QPointF(1, 10), QPointF(8, 10));
      p.drawLine(QPointF(5, 7), QPointF(8, 10));
      p.drawLine(QPointF(5, 13), QPointF(8, 10));
    } else {
      p.drawLine(QPointF(8, 10), QPointF(1, 10));
      p.drawLine(QPointF(4, 7), QPointF(1, 10));
      p.drawLine(QPointF(4, 13), QPointF(1, 10));
    }
  } else {
    p.setPen(QPen(kind == '+' ? green : QColor(0xb0, 0x20, 0x20), 3));
    p.drawLine(QPointF(4, 10), QPointF(16, 10));
    if (kind == '+') p.drawLine(QPointF(10, 4), QPointF(10, 16));
  }
  return QIcon(pm);
}

}  // namespace

TForm_Tare1::TForm_Tare1(QWidget* parent, TankTable& table, bool readOnly, const TareWindowOptions& options)
    : QDialog(parent), table_(table), readOnly_(readOnly), options_(options) {
  setObjectName("Form_Tare1");
  setWindowTitle("Тарировочная таблица");

  // Filling.
  gb_tare = Named(new QGroupBox("Тарирование", this), "gb_tare");
  lbl_accuracy = Named(new QLabel("Чувствит, мм:", gb_tare), "lbl_accuracy");
  edit_accuracy = Named(new QLineEdit("1", gb_tare), "edit_accuracy");
  lbl_portion = Named(new QLabel("Порция, л:", gb_tare), "lbl_portion");
  edit_portion = Named(new QLineEdit("10", gb_tare), "edit_portion");
  btn_add = Named(new QPushButton("Добавить", gb_tare), "btn_add");
  auto* tareGrid = new QGridLayout(gb_tare);
  tareGrid->addWidget(lbl_accuracy, 0, 0);
  tareGrid->addWidget(edit_accuracy, 0, 1);
  tareGrid->addWidget(lbl_portion, 1, 0);
  tareGrid->addWidget(edit_portion, 1, 1);
  tareGrid->addWidget(btn_add, 2, 0, 1, 2);

  // The table.
  gb_table1 = Named(new QGroupBox("Таблица", this), "gb_table1");
  btn_calc_by_geometry =
      Named(new QPushButton("Рассчитать по геометрии баллона", gb_table1), "btn_calc_by_geometry");
  spd_imp = Named(new QToolButton(gb_table1), "spd_imp");
  spd_exp = Named(new QToolButton(gb_table1), "spd_exp");
  spd_add = Named(new QToolButton(gb_table1), "spd_add");
  spd_del = Named(new QToolButton(gb_table1), "spd_del");
  spd_imp->setIcon(Picture('i'));
  spd_exp->setIcon(Picture('e'));
  spd_add->setIcon(Picture('+'));
  spd_del->setIcon(Picture('-'));
  for (QToolButton* b : {spd_imp, spd_exp, spd_add, spd_del}) b->setAutoRaise(true);
  sg_tare1 = Named(new QTableView(gb_table1), "sg_tare1");
  model_ = new TareTableModel(this);
  sg_tare1->setModel(model_);
  sg_tare1->setSelectionBehavior(QAbstractItemView::SelectRows);
  sg_tare1->setSelectionMode(QAbstractItemView::ContiguousSelection);
  sg_tare1->setEditTriggers(QAbstractItemView::NoEditTriggers);
  sg_tare1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  sg_tare1->verticalHeader()->hide();
  sg_tare1->verticalHeader()->setDefaultSectionSize(20);
  sg_tare1->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
  sg_tare1->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Fixed);
  sg_tare1->setColumnWidth(0, 36);
  sg_tare1->setMinimumSize(230, 300);
  sg_tare1->setContextMenuPolicy(Qt::CustomContextMenu);
  auto* tableBox = new QVBoxLayout(gb_table1);
  tableBox->addWidget(btn_calc_by_geometry);
  auto* pictures = new QHBoxLayout;
  for (QToolButton* b : {spd_imp, spd_exp, spd_add, spd_del}) pictures->addWidget(b);
  pictures->addStretch();
  tableBox->addLayout(pictures);
  tableBox->addWidget(sg_tare1, 1);

  PopupMenu1 = Named(new QMenu(this), "PopupMenu1");
  Menu_Add = Named(PopupMenu1->addAction("Добавить строку"), "Menu_Add");
  Menu_Rem = Named(PopupMenu1->addAction("Удалить строку"), "Menu_Rem");
  N1 = Named(PopupMenu1->addSeparator(), "N1");
  Menu_Excel_Imp = Named(PopupMenu1->addAction("Импорт из Excel"), "Menu_Excel_Imp");
  Menu_Excel_Exp = Named(PopupMenu1->addAction("Экспорт в Excel"), "Menu_Excel_Exp");

  // Litres against millimetres: a point poured wrongly breaks the curve.
  curve_ = new QLineSeries;
  curve_->setPointsVisible(true);
  curve_->setPen(QPen(QColor(0x1f, 0x5f, 0xb0), 2));
  auto* chart = new QChart;
  chart->addSeries(curve_);
  chart->legend()->hide();
  chart->setMargins(QMargins(2, 2, 2, 2));
  axisMm_ = new QValueAxis;
  axisLitres_ = new QValueAxis;
  for (QValueAxis* a : {axisMm_, axisLitres_}) {
    a->setLabelFormat("%g");
    a->setTickCount(5);
  }
  chart->addAxis(axisMm_, Qt::AlignBottom);
  chart->addAxis(axisLitres_, Qt::AlignLeft);
  curve_->attachAxis(axisMm_);
  curve_->attachAxis(axisLitres_);
  chart_tare = Named(new QChartView(chart, this), "chart_tare");
  chart_tare->setRenderHint(QPainter::Antialiasing);
  chart_tare->setMinimumSize(300, 300);

  // The gauge: the box and the bar share a parent without a layout, so the
  // bar's place is the plain arithmetic of its height.
  gb_level1 = Named(new QGroupBox("Уровень, мм", this), "gb_level1");
  auto* gauge = new QWidget(gb_level1);
  gauge->setFixedSize(44, kTareGaugeBoxHeight);
  shape_box = Named(new QFrame(gauge), "shape_box");
  shape_box->setGeometry(0, 0, 44, kTareGaugeBoxHeight);
  shape_box->setFrameShape(QFrame::Box);
  shape_box->setStyleSheet("QFrame#shape_box { background: white; border: 1px solid black; }");
  shape_fuel = Named(new QFrame(gauge), "shape_fuel");
  shape_fuel->setStyleSheet("QFrame#shape_fuel { background: olive; border: 1px solid black; }");
  shape_fuel->setGeometry(0, kTareGaugeBoxHeight, 44, 0);
  shape_fuel->raise();
  lbl_max = Named(new QLabel("6500", gb_level1), "lbl_max");
  lbl_min = Named(new QLabel("0", gb_level1), "lbl_min");
  lbl_fuel = Named(new QLabel("0", gb_level1), "lbl_fuel");
  QFont big = lbl_fuel->font();
  big.setBold(true);
  big.setPointSizeF(big.pointSizeF() * 1.4);
  lbl_fuel->setFont(big);
  lbl_fuel->setAlignment(Qt::AlignCenter);
  auto* levelGrid = new QGridLayout(gb_level1);
  levelGrid->addWidget(lbl_max, 0, 0, Qt::AlignRight | Qt::AlignTop);
  levelGrid->addWidget(lbl_min, 1, 0, Qt::AlignRight | Qt::AlignBottom);
  levelGrid->addWidget(gauge, 0, 1, 2, 1);
  levelGrid->addWidget(lbl_fuel, 2, 0, 1, 2);

  btn_OK = Named(new QPushButton("OK", this), "btn_OK");
  btn_Cancel = Named(new QPushButton("Отмена", this), "btn_Cancel");
  // Enter in the portion field must never store or close the window.
  for (QPushButton* b : {btn_add, btn_calc_by_geometry, btn_OK, btn_Cancel}) {
    b->setAutoDefault(false);
    b->setDefault(false);
  }

  auto* left = new QVBoxLayout;
  left->addWidget(gb_tare);
  left->addWidget(gb_table1, 1);
  auto* top = new QHBoxLayout;
  top->addLayout(left);
  top->addWidget(chart_tare, 1);
  top->addWidget(gb_level1);
  auto* bottom = new QHBoxLayout;
  bottom->addStretch();
  bottom->addWidget(btn_OK);
  bottom->addWidget(btn_Cancel);
  auto* all = new QVBoxLayout(this);
  all->addLayout(top, 1);
  all->addLayout(bottom);

  connect(btn_add, &QPushButton::clicked, this, [this] { btn_addClick(); });
  connect(btn_OK, &QPushButton::clicked, this, [this] { btn_OKClick(); });
  connect(btn_Cancel, &QPushButton::clicked, this, [this] { reject(); });
  connect(btn_calc_by_geometry, &QPushButton::clicked, this, [this] { btn_calc_by_geometryClick(); });
  connect(Menu_Add, &QAction::triggered, this, [this] { Menu_AddClick(); });
  connect(spd_add, &QToolButton::clicked, this, [this] { Menu_AddClick(); });
  connect(Menu_Rem, &QAction::triggered, this, [this] { Menu_RemClick(); });
  connect(spd_del, &QToolButton::clicked, this, [this] { Menu_RemClick(); });
  connect(Menu_Excel_Imp, &QAction::triggered, this, [this] { Menu_Excel_ImpClick(); });
  connect(spd_imp, &QToolButton::clicked, this, [this] { Menu_Excel_ImpClick(); });
  connect(Menu_Excel_Exp, &QAction::triggered, this, [this] { Menu_Excel_ExpClick(); });
  connect(spd_exp, &QToolButton::clicked, this, [this] { Menu_Excel_ExpClick(); });
  connect(sg_tare1, &QTableView::customContextMenuRequested, this,
          [this](const QPoint& at) { PopupMenu1->popup(sg_tare1->viewport()->mapToGlobal(at)); });
  connect(model_, &TareTableModel::Edited, this, [this] { RowsEdited(); });

  FormShow();
}

const TareRows& TForm_Tare1::Rows() const { return model_->rows(); }

void TForm_Tare1::FormShow() {
  model_->SetLocale(UserNumberLocale());
  lookup_ = TareLanguageLookup(options_.languageFile);
  TareTranslateControls(this, lookup_);
  setWindowTitle(Q(LangText(lookup_, "Form_Tare1", "Тарировочная таблица")));
  // The gauge's top mark is fixed by the sensor's range, whatever the file says.
  lbl_max->setText("6500");
  const std::array<QString, 3> headings = {Q(LangText(lookup_, "sg_tare_column0", "№")),
                                           Q(LangText(lookup_, "sg_tare_column1", "Литры")),
                                           Q(LangText(lookup_, "sg_tare_column2", "мм"))};
  model_->SetHeadings(headings);
  axisMm_->setTitleText(headings[2]);
  axisLitres_->setTitleText(headings[1]);
  spd_imp->setToolTip(Menu_Excel_Imp->text());
  spd_exp->setToolTip(Menu_Excel_Exp->text());
  spd_add->setToolTip(Menu_Add->text());
  spd_del->setToolTip(Menu_Rem->text());
  model_->Load(table_);
  btn_OK->setEnabled(!readOnly_);
  Redraw();
}

void TForm_Tare1::showEvent(QShowEvent* e) {
  QDialog::showEvent(e);
  // The question stands over the window, so it waits until the window is up.
  if (!offered_) {
    offered_ = true;
    OfferJournal();
  }
}

void TForm_Tare1::OfferJournal() {
  // A preset tank shown for viewing is not the user's calibration: it
  // neither offers the journal nor overwrites it.
  if (readOnly_ || options_.journalFolder.empty()) return;
  std::optional<TareRows> saved = TareJournalLoad(options_.journalFolder, model_->rows().locale);
  if (!saved || !TareJournalWorthOffering(*saved, model_->rows())) return;
  const int count = TareRowCount(*saved);
  ShowTareBox(this, QMessageBox::Question, "QuestionBox",
              Q(TareMessageFor(lookup_, kJournalRestoreMessage.key, count)),
              QMessageBox::Yes | QMessageBox::No,
              [this, rows = std::move(*saved)](QMessageBox::StandardButton b) {
                // No keeps the file until the rows change, so a slip of the
                // hand followed by Cancel loses nothing.
                if (b == QMessageBox::Yes) model_->Replace(rows);
              });
}

void TForm_Tare1::ShowLevel(double code, bool noData) {
  const std::optional<TareGaugeReading> g = TareGaugeFor(code, noData);
  if (!g) return;
  const QString text = Q(g->text);
  if (lbl_fuel->text() != text) lbl_fuel->setText(text);
  if (g->barHeight == barHeight_) return;
  barHeight_ = g->barHeight;
  const QRect box = shape_box->geometry();
  shape_fuel->setGeometry(box.x(), box.y() + box.height() - barHeight_, box.width(), barHeight_);
}

void TForm_Tare1::btn_addClick() {
  TareBoxUi ui(this, lookup_);
  const bool filling = !edit_portion->text().trimmed().startsWith('-');
  if (model_->AddPortion(lbl_fuel->text().toStdString(), edit_accuracy->text().toStdString(),
                         edit_portion->text().toStdString(), ui)) {
    if (filling)
      sg_tare1->scrollToBottom();
    else
      sg_tare1->scrollToTop();
  }
}

void TForm_Tare1::btn_OKClick() {
  if (readOnly_) return;
  auto finish = [this] {
    if (!options_.journalFolder.empty()) TareJournalRemove(options_.journalFolder);
    accept();
  };
  // The truncation question cannot be answered while the rule waits: the
  // first run answers No and only notes that it asked; Yes runs it again.
  TareBoxUi first(this, lookup_, false);
  const TareCommitResult r = TareCommit(model_->rows(), table_, first);
  if (r == TareCommitResult::Stored) return finish();
  if (r != TareCommitResult::Declined) return;
  ShowTareBox(this, QMessageBox::Critical, "QuestionBox", Q(TareMessageFor(lookup_, first.asked())),
              QMessageBox::Yes | QMessageBox::No, [this, finish](QMessageBox::StandardButton b) {
                if (b != QMessageBox::Yes) return;
                TareBoxUi yes(this, lookup_, true);
                if (TareCommit(model_->rows(), table_, yes) == TareCommitResult::Stored) finish();
              });
}

void TForm_Tare1::Menu_AddClick() {
  auto* add = new TForm_Add(this, lookup_, model_->rows().locale, [this](float litres, int mm, TareUi& ui) {
    return model_->InsertPoint(litres, mm, ui);
  });
  add->setAttribute(Qt::WA_DeleteOnClose);
  add->setWindowModality(Qt::ApplicationModal);
  add->show();
}

void TForm_Tare1::Menu_RemClick() {
  const QModelIndexList selected = sg_tare1->selectionModel()->selectedRows();
  int first = 0, last = -1;
  if (!selected.isEmpty()) {
    first = last = selected.front().row();
    for (const QModelIndex& i : selected) {
      first = std::min(first, i.row());
      last = std::max(last, i.row());
    }
  } else if (sg_tare1->currentIndex().isValid()) {
    first = last = sg_tare1->currentIndex().row();
  } else {
    return;
  }
  model_->DeleteRows(first + 1, last + 1);
}

void TForm_Tare1::Menu_Excel_ImpClick() {
  auto* d = new QFileDialog(this, QString(), QString(), kXlsDialogFilter);
  d->setObjectName("ImportDialog");
  d->setFileMode(QFileDialog::ExistingFile);
  d->setAcceptMode(QFileDialog::AcceptOpen);
  d->setAttribute(Qt::WA_DeleteOnClose);
  d->setWindowModality(Qt::ApplicationModal);
  connect(d, &QFileDialog::fileSelected, this, [this](const QString& file) {
    TareRows rows;
    rows.locale = model_->rows().locale;
    TareClear(rows);
    const XlsResult r = TareSheetImport(rows, file.toStdString());
    // What was read before an error stays, as the sheet had it.
    TareRenumber(rows);
    model_->Replace(std::move(rows));
    sg_tare1->scrollToTop();
    sg_tare1->setCurrentIndex(model_->index(0, 0));
    ShowXlsResult(r.ok, r.text);
  });
  d->show();
}

void TForm_Tare1::Menu_Excel_ExpClick() {
  auto* d = new QFileDialog(this, QString(), QString(), kXlsDialogFilter);
  d->setObjectName("ExportDialog");
  d->setFileMode(QFileDialog::AnyFile);
  d->setAcceptMode(QFileDialog::AcceptSave);
  // A name typed without an extension still gets a workbook.
  d->setDefaultSuffix("xlsx");
  d->setAttribute(Qt::WA_DeleteOnClose);
  d->setWindowModality(Qt::ApplicationModal);
  connect(d, &QFileDialog::fileSelected, this, [this](const QString& file) {
    const XlsResult r = TareSheetExport(model_->rows(), "Tare table", file.toStdString());
    ShowXlsResult(r.ok, r.text);
  });
  d->show();
}

void TForm_Tare1::ShowXlsResult(bool ok, const std::string& text) {
  if (text.empty()) return;
  ShowTareBox(this, ok ? QMessageBox::Information : QMessageBox::Critical, ok ? "InfoBox" : "ErrorBox",
              Q(text), QMessageBox::Ok);
}

void TForm_Tare1::btn_calc_by_geometryClick() {
  TareRows rows = model_->rows();
  if (RunTankCalculator(this, options_.languageFile, rows)) model_->Replace(std::move(rows));
}

void TForm_Tare1::RowsEdited() {
  if (!readOnly_ && !options_.journalFolder.empty()) TareJournalSave(options_.journalFolder, model_->rows());
  Redraw();
}

void TForm_Tare1::Redraw() {
  const TareRows& rows = model_->rows();
  QList<QPointF> points;
  double maxMm = 0, maxLitres = 0;
  for (int r = 1; r <= TareRowCount(rows); ++r) {
    const auto litres = ParseDecimal(TareText(rows, TareColLitres, r), rows.locale);
    const auto mm = ParseDecimal(TareText(rows, TareColMm, r), rows.locale);
    if (!litres || !mm) continue;
    points.append(QPointF(*mm, *litres));
    maxMm = std::max(maxMm, *mm);
    maxLitres = std::max(maxLitres, *litres);
  }
  curve_->replace(points);
  axisMm_->setRange(0, maxMm > 0 ? maxMm : 1.0);
  axisLitres_->setRange(0, maxLitres > 0 ? maxLitres : 1.0);
  axisMm_->applyNiceNumbers();
  axisLitres_->applyNiceNumbers();
}

void TForm_Tare1::keyPressEvent(QKeyEvent* e) {
  // Escape does not throw away the rows: the window closes only by its
  // buttons and its close box.
  if (e->key() == Qt::Key_Escape) {
    e->accept();
    return;
  }
  QDialog::keyPressEvent(e);
}

TForm_Tare1* OpenTareWindow(QWidget* parent, TankTable& table, bool readOnly,
                            const TareWindowOptions& options, std::function<void(bool ok)> onClosed) {
  auto* w = new TForm_Tare1(parent, table, readOnly, options);
  w->setAttribute(Qt::WA_DeleteOnClose);
  w->setWindowModality(Qt::ApplicationModal);
  QObject::connect(w, &QDialog::finished, w, [onClosed](int result) {
    if (onClosed) onClosed(result == QDialog::Accepted);
  });
  w->show();
  return w;
}

void TareWindowShowLevel(TForm_Tare1* window, int levelCode, bool noData) {
  if (window) window->ShowLevel(levelCode, noData);
}

}  // namespace kl
