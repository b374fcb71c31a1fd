#include "Ttcalc2.h"

#include <QAbstractButton>
#include <QApplication>
#include <QEvent>
#include <QShowEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QScrollBar>
#include <QStackedWidget>
#include <QTabWidget>
#include <QTableView>
#include <QVBoxLayout>
#include <QValidator>

#include <utility>

#include "ConfigFiles.h"
#include "TareHandOver.h"
#include "Unit_texts.h"

namespace kl {

namespace {

QString Q(std::string_view s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }
std::string S(const QString& s) { return s.toStdString(); }

// Accepts a change of the edit's text only when the text it leads to passes
// the rule; pasted and typed text alike.
class RuleValidator : public QValidator {
 public:
  RuleValidator(std::function<bool(std::string_view)> rule, QObject* parent)
      : QValidator(parent), rule_(std::move(rule)) {}
  State validate(QString& input, int&) const override { return rule_(S(input)) ? Acceptable : Invalid; }

 private:
  std::function<bool(std::string_view)> rule_;
};

// The grid's column titles, shared with the calibration window's grid.
constexpr KeyText kColumnTitles[] = {
    {"sg_tare_column0", "№"},
    {"sg_tare_column1", "Литры"},
    {"sg_tare_column2", "мм"},
};
constexpr int kColumnWidths[] = {64, 78, 67};

// The panel of inputs, table and buttons at the left; the drawing takes the
// rest of the window.
constexpr int kPanelWidth = 280;
constexpr int kImageMin = 50;

// A page of a page control is a tab page whatever class implements it.
bool IsTabPage(const QObject* o) {
  const QObject* stack = o->parent();
  return stack && qobject_cast<const QStackedWidget*>(stack) && stack->parent() &&
         qobject_cast<const QTabWidget*>(stack->parent());
}

// True when o lies inside another window this one owns (a message box).
bool InOtherWindow(const QObject* o, const QWidget* window) {
  for (const QObject* p = o; p && p != window; p = p->parent()) {
    if (p->isWidgetType() && static_cast<const QWidget*>(p)->isWindow()) return true;
  }
  return false;
}

QColor ColourOf(CalcColor c, const QColor& brush, const QColor& pen, const QColor& shadow) {
  switch (c) {
    case CalcColor::Pen:
      return pen;
    case CalcColor::Shadow:
      return shadow;
    case CalcColor::Background:
      return brush;
    case CalcColor::Highlight:
      return QColor::fromRgb(static_cast<QRgb>(CalcHighlightRgb));
  }
  return pen;
}

}  // namespace

// --- Image1 -------------------------------------------------------------------

CalcImage::CalcImage(QWidget* parent) : QWidget(parent) {
  setMinimumSize(kImageMin, kImageMin);
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
  SetColours(palette().color(QPalette::Base), palette().color(QPalette::Text),
             palette().color(QPalette::Dark));
}

void CalcImage::SetTorus(const TorusParams& p) {
  torus_ = p;
  update();
}

void CalcImage::SetCylinder(const CylinderParams& p) {
  cylinder_ = p;
  update();
}

void CalcImage::ShowCylinder(bool cylinder) {
  cylinderShown_ = cylinder;
  update();
}

void CalcImage::SetHighlighted(int index) {
  highlighted_ = index;
  update();
}

void CalcImage::SetColours(const QColor& brush, const QColor& pen, const QColor& shadow) {
  brush_ = brush;
  pen_ = pen;
  shadow_ = shadow;
  update();
}

CalcDrawing CalcImage::Drawing() const {
  return cylinderShown_ ? CalcDrawCylinder(cylinder_, width(), height())
                        : CalcDrawTorus(torus_, width(), height());
}

void CalcImage::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), brush_);
  for (const CalcElement& e : Drawing().elements) {
    const CalcPen pen = CalcPenFor(e, highlighted_);
    painter.setPen(QPen(ColourOf(pen.color, brush_, pen_, shadow_), pen.width));
    if (e.kind == CalcElement::Kind::Line) {
      painter.drawLine(e.x1, e.y1, e.x2, e.y2);
    } else {
      painter.drawArc(QRect(QPoint(e.x1, e.y1), QPoint(e.x2, e.y2)), e.startDeg * 16, e.spanDeg * 16);
    }
  }
}

// --- sg_tare1 -------------------------------------------------------------------

CalcGridModel::CalcGridModel(const TareRows& rows, QObject* parent)
    : QAbstractTableModel(parent), rows_(rows) {
  for (int i = 0; i < 3; ++i) titles_[i] = Q(kColumnTitles[i].text);
}

int CalcGridModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : TareRowCount(rows_);
}

int CalcGridModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : 3; }

QVariant CalcGridModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid()) return {};
  if (role == Qt::DisplayRole) return Q(TareText(rows_, index.column(), index.row() + 1));
  // The number column looks like the fixed column it is.
  if (role == Qt::BackgroundRole && index.column() == TareColNumber)
    return QApplication::palette().color(QPalette::Button);
  return {};
}

QVariant CalcGridModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 && section < 3)
    return titles_[section];
  return QAbstractTableModel::headerData(section, orientation, role);
}

void CalcGridModel::SetTitles(const QString& c0, const QString& c1, const QString& c2) {
  titles_[0] = c0;
  titles_[1] = c1;
  titles_[2] = c2;
  emit headerDataChanged(Qt::Horizontal, 0, 2);
}

void CalcGridModel::Reset() {
  beginResetModel();
  endResetModel();
}

// --- TTTCalc --------------------------------------------------------------------

TTTCalc::TTTCalc(QWidget* parent, std::string languageFile, const NumberLocale& locale)
    : QDialog(parent), languageFile_(std::move(languageFile)), locale_(locale) {
  setObjectName("TTCalc");
  setWindowTitle(kCalcCaption);
  setModal(true);
  grid_.locale = locale_;
  notANumberText_ = LoadedTexts::Builtin().Message(Msg::NotANumber);
  BuildControls();
  resize(760, 560);
}

TTTCalc::~TTTCalc() {
  // Deleting the controls (a tab page going away changes the current tab)
  // must not recompute a window whose members are already gone, and the grid
  // must go while the rows it shows still exist.
  for (QObject* c : findChildren<QObject*>()) c->disconnect(this);
  delete sg_tare1;
}

void TTTCalc::BuildControls() {
  auto* root = new QHBoxLayout(this);
  root->setContentsMargins(5, 5, 5, 5);
  auto* panel = new QWidget(this);
  panel->setFixedWidth(kPanelWidth);
  auto* left = new QVBoxLayout(panel);
  left->setContentsMargins(0, 0, 0, 0);
  root->addWidget(panel);
  Image1 = new CalcImage(this);
  Image1->setObjectName("Image1");
  root->addWidget(Image1, 1);

  PageControl1 = new QTabWidget(panel);
  PageControl1->setObjectName("PageControl1");
  left->addWidget(PageControl1);

  auto label = [](QWidget* page, const char* name, const char* text) {
    auto* l = new QLabel(QString::fromUtf8(text), page);
    l->setObjectName(name);
    l->setWordWrap(true);
    return l;
  };
  auto digits = [](QWidget* page, const char* name, const char* text, int maxLength) {
    auto* e = new QLineEdit(QString::fromUtf8(text), page);
    e->setObjectName(name);
    if (maxLength > 0) e->setMaxLength(maxLength);
    e->setValidator(new RuleValidator([](std::string_view t) { return CalcDigitsAcceptable(t); }, e));
    e->setFixedWidth(50);
    return e;
  };
  auto wall = [this](QWidget* page, const char* name) {
    auto* e = new QLineEdit("3", page);
    e->setObjectName(name);
    e->setMaxLength(4);
    e->setValidator(
        new RuleValidator([loc = locale_](std::string_view t) { return CalcWallAcceptable(t, loc); }, e));
    e->setFixedWidth(50);
    return e;
  };
  auto scrollBar = [](QWidget* page, const char* name, int min, int max, int pos) {
    auto* s = new QScrollBar(Qt::Horizontal, page);
    s->setObjectName(name);
    s->setRange(min, max);
    s->setValue(pos);
    return s;
  };
  auto addRow = [](QGridLayout* g, QWidget* l, QWidget* w) {
    const int r = g->rowCount();
    g->addWidget(l, r, 0);
    g->addWidget(w, r, 1, Qt::AlignLeft);
  };
  // The scroll bars take the width the edits leave, across both columns,
  // aligned with each other.
  auto addBarRows = [](QGridLayout* g, std::initializer_list<std::pair<QLabel*, QScrollBar*>> bars) {
    auto* inner = new QGridLayout;
    inner->setColumnStretch(1, 1);
    for (const auto& [l, s] : bars) {
      l->setWordWrap(false);
      const int r = inner->rowCount();
      inner->addWidget(l, r, 0);
      inner->addWidget(s, r, 1);
    }
    g->addLayout(inner, g->rowCount(), 0, 1, 2);
  };

  TTC_TorParamSheet = new QWidget;
  TTC_TorParamSheet->setObjectName("TTC_TorParamSheet");
  {
    auto* g = new QGridLayout(TTC_TorParamSheet);
    g->setColumnStretch(0, 1);
    QWidget* p = TTC_TorParamSheet;
    TTC_Label1 = label(p, "TTC_Label1", "Внешний диаметр (мм) :");
    Edit1 = digits(p, "Edit1", "600", 4);
    TTC_Label2 = label(p, "TTC_Label2", "Внутренний диаметр (мм) :");
    Edit2 = digits(p, "Edit2", "160", 4);
    TTC_Label3 = label(p, "TTC_Label3", "Высота (мм) :");
    Edit3 = digits(p, "Edit3", "202", 4);
    TTC_Label4 = label(p, "TTC_Label4", "Толщина стенки (мм) :");
    Edit4 = wall(p, "Edit4");
    TTC_Label5 = label(p, "TTC_Label5", "Форма :");
    ScrollBar1 = scrollBar(p, "ScrollBar1", 10, 200, 77);
    TTC_Label6 = label(p, "TTC_Label6", "Полнота :");
    ScrollBar2 = scrollBar(p, "ScrollBar2", 0, 200, 80);
    TTC_Label7 = label(p, "TTC_Label7", "Шаг по высоте (мм) :");
    Edit5 = digits(p, "Edit5", "5", 0);
    addRow(g, TTC_Label1, Edit1);
    addRow(g, TTC_Label2, Edit2);
    addRow(g, TTC_Label3, Edit3);
    addRow(g, TTC_Label4, Edit4);
    addBarRows(g, {{TTC_Label5, ScrollBar1}, {TTC_Label6, ScrollBar2}});
    addRow(g, TTC_Label7, Edit5);
    g->setRowStretch(g->rowCount(), 1);
  }
  PageControl1->addTab(TTC_TorParamSheet, QString::fromUtf8("Тор"));

  TTC_CylParamSheet = new QWidget;
  TTC_CylParamSheet->setObjectName("TTC_CylParamSheet");
  {
    auto* g = new QGridLayout(TTC_CylParamSheet);
    g->setColumnStretch(0, 1);
    QWidget* p = TTC_CylParamSheet;
    TTC_Label11 = label(p, "TTC_Label11", "Длина цилиндра (мм) :");
    Edit11 = digits(p, "Edit11", "840", 4);
    TTC_Label12 = label(p, "TTC_Label12", "Окружность цилиндра (мм) :");
    Edit12 = digits(p, "Edit12", "1134", 4);
    TTC_Label13 = label(p, "TTC_Label13", "Длина полуэллипса выпуклой части (мм) :");
    Edit13 = digits(p, "Edit13", "490", 4);
    TTC_Label14 = label(p, "TTC_Label14", "Толщина стенки (мм) :");
    Edit14 = wall(p, "Edit14");
    TTC_Label15 = label(p, "TTC_Label15", "Шаг по высоте (мм) :");
    Edit15 = digits(p, "Edit15", "10", 0);
    addRow(g, TTC_Label11, Edit11);
    addRow(g, TTC_Label12, Edit12);
    addRow(g, TTC_Label13, Edit13);
    addRow(g, TTC_Label14, Edit14);
    addRow(g, TTC_Label15, Edit15);
    g->setRowStretch(g->rowCount(), 1);
  }
  PageControl1->addTab(TTC_CylParamSheet, QString::fromUtf8("Цилиндр"));
  PageControl1->setCurrentIndex(0);

  {
    auto* row = new QHBoxLayout;
    TTC_Label8 = new QLabel(QString::fromUtf8("Объем (л) :"), panel);
    TTC_Label8->setObjectName("TTC_Label8");
    Edit6 = new QLineEdit("0", panel);
    Edit6->setObjectName("Edit6");
    // Shows the total; nothing can be typed into it, but it can be copied.
    Edit6->setReadOnly(true);
    row->addWidget(TTC_Label8);
    row->addWidget(Edit6, 1);
    left->addLayout(row);
  }

  sg_tare1 = new QTableView(panel);
  sg_tare1->setObjectName("sg_tare1");
  gridModel = new CalcGridModel(grid_, sg_tare1);
  sg_tare1->setModel(gridModel);
  sg_tare1->verticalHeader()->hide();
  sg_tare1->verticalHeader()->setDefaultSectionSize(20);
  sg_tare1->horizontalHeader()->setSectionsClickable(false);
  for (int c = 0; c < 3; ++c) sg_tare1->setColumnWidth(c, kColumnWidths[c]);
  sg_tare1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  sg_tare1->setEditTriggers(QAbstractItemView::NoEditTriggers);
  sg_tare1->setSelectionMode(QAbstractItemView::SingleSelection);
  left->addWidget(sg_tare1, 1);

  {
    auto* row = new QHBoxLayout;
    TTC_btn_OK = new QPushButton("OK", panel);
    TTC_btn_OK->setObjectName("TTC_btn_OK");
    TTC_btn_OK->setDefault(true);
    TTC_btn_Cancel = new QPushButton(QString::fromUtf8("Отмена"), panel);
    TTC_btn_Cancel->setObjectName("TTC_btn_Cancel");
    row->addWidget(TTC_btn_OK);
    row->addWidget(TTC_btn_Cancel);
    left->addLayout(row);
  }

  // Every change of an input recomputes the page it is on; the defaults
  // above are in place before these connections.
  for (QLineEdit* e : {Edit1, Edit2, Edit3, Edit4, Edit5, Edit11, Edit12, Edit13, Edit14, Edit15})
    connect(e, &QLineEdit::textChanged, this, [this] { Recompute(); });
  for (QScrollBar* s : {ScrollBar1, ScrollBar2})
    connect(s, &QScrollBar::valueChanged, this, [this] { Recompute(); });
  connect(PageControl1, &QTabWidget::currentChanged, this, [this] { Recompute(); });
  connect(TTC_btn_OK, &QPushButton::clicked, this, &QDialog::accept);
  connect(TTC_btn_Cancel, &QPushButton::clicked, this, &QDialog::reject);
  for (QLabel* l :
       {TTC_Label1, TTC_Label2, TTC_Label3, TTC_Label4, TTC_Label11, TTC_Label12, TTC_Label13, TTC_Label14})
    l->installEventFilter(this);

  setMinimumWidth(kPanelWidth + kImageMin + 15);
}

void TTTCalc::showEvent(QShowEvent* e) {
  QDialog::showEvent(e);
  if (e->spontaneous()) return;
  LoadTexts();
  Image1->SetColours(palette().color(QPalette::Base), palette().color(QPalette::Text),
                     palette().color(QPalette::Dark));
  Recompute();
}

void TTTCalc::LoadTexts() {
  const std::optional<LanguageFile> f = LanguageFile::Load(languageFile_);
  SectionLookup lookup;
  if (f) {
    const std::string selected = f->doc.GetString("LANG", "SELECTED", "English");
    lookup = [doc = f->doc, selected](std::string_view key) { return doc.Get(selected, key); };
  }
  if (lookup) {
    for (QObject* o : findChildren<QObject*>()) {
      const QString name = o->objectName();
      if (name.isEmpty() || InOtherWindow(o, this)) continue;
      const bool tabPage = IsTabPage(o);
      if (!tabPage && !qobject_cast<QLabel*>(o) && !qobject_cast<QAbstractButton*>(o) &&
          !qobject_cast<QGroupBox*>(o))
        continue;
      const std::optional<std::string> value = lookup(S(name));
      if (!value || value->empty()) continue;
      if (tabPage) {
        auto* tabs = static_cast<QTabWidget*>(o->parent()->parent());
        tabs->setTabText(tabs->indexOf(static_cast<QWidget*>(o)), Q(*value));
      } else if (auto* l = qobject_cast<QLabel*>(o)) {
        l->setText(Q(*value));
      } else if (auto* b = qobject_cast<QAbstractButton*>(o)) {
        b->setText(Q(*value));
      } else if (auto* g = qobject_cast<QGroupBox*>(o)) {
        g->setTitle(Q(*value));
      }
    }
    if (const auto caption = lookup("TTCalc"); caption && !caption->empty()) setWindowTitle(Q(*caption));
  }
  const auto titles = LoadKeyTexts(kColumnTitles, lookup);
  gridModel->SetTitles(Q(titles.at("sg_tare_column0")), Q(titles.at("sg_tare_column1")),
                       Q(titles.at("sg_tare_column2")));
  notANumberText_ = LoadedTexts::FromSection(lookup).Message(Msg::NotANumber);
}

void TTTCalc::Recompute() {
  const bool cylinder = PageControl1->currentWidget() == TTC_CylParamSheet;
  CalcTable table;
  if (!cylinder) {
    TorusInputs in;
    in.outer_diameter = S(Edit1->text());
    in.inner_diameter = S(Edit2->text());
    in.height = S(Edit3->text());
    in.wall = S(Edit4->text());
    in.step = S(Edit5->text());
    in.shape_position = ScrollBar1->value();
    in.shape_max = ScrollBar1->maximum();
    in.fullness_position = ScrollBar2->value();
    in.fullness_max = ScrollBar2->maximum();
    // Worked on a copy: a text that is not a number keeps the previous
    // drawing and table.
    TorusParams p = torus_;
    if (const auto err = CalcTorusParams(in, locale_, p)) {
      const QLabel* labels[] = {TTC_Label1, TTC_Label2, TTC_Label3, TTC_Label4, TTC_Label7};
      ReportNotANumber(labels[err->field]->text(), err->text);
      return;
    }
    torus_ = p;
    table = CalcTorusTable(torus_);
    Image1->SetTorus(torus_);
  } else {
    CylinderInputs in;
    in.length = S(Edit11->text());
    in.circumference = S(Edit12->text());
    in.arc_length = S(Edit13->text());
    in.wall = S(Edit14->text());
    in.step = S(Edit15->text());
    CylinderParams p = cylinder_;
    if (const auto err = CalcCylinderParams(in, locale_, p)) {
      const QLabel* labels[] = {TTC_Label11, TTC_Label12, TTC_Label13, TTC_Label14, TTC_Label15};
      ReportNotANumber(labels[err->field]->text(), err->text);
      return;
    }
    cylinder_ = p;
    table = CalcCylinderTable(cylinder_);
    Image1->SetCylinder(cylinder_);
  }
  Image1->ShowCylinder(cylinder);
  ShowTable(table);
}

void TTTCalc::ShowTable(const CalcTable& table) {
  gridModel->Reset();
  CalcFillGrid(table, locale_, grid_);
  gridModel->Reset();
  Edit6->setText(Q(CalcTotalText(table, locale_)));
}

void TTTCalc::ReportNotANumber(const QString& label, const std::string& what) {
  // The field's caption, then the loaded message with the text it held; a
  // text too long to show is cut.
  QString shown = Q(what);
  if (shown.size() > 20) shown = shown.left(20) + QString::fromUtf8("…");
  const QString text = label + " " + Q(notANumberText_).replace("%1", shown);
  if (!box_) {
    box_ = new QMessageBox(QMessageBox::Critical, windowTitle(), QString(), QMessageBox::Ok, this);
    box_->setObjectName("ErrorBox");
    box_->setAttribute(Qt::WA_DeleteOnClose);
    box_->setText(text);
    box_->open();
  } else {
    box_->setText(text);
  }
}

int TTTCalc::DimensionIndex(const QObject* label) const {
  const QObject* torus[] = {TTC_Label1, TTC_Label2, TTC_Label3, TTC_Label4};
  const QObject* cyl[] = {TTC_Label11, TTC_Label12, TTC_Label13, TTC_Label14};
  for (int i = 0; i < 4; ++i)
    if (label == torus[i] || label == cyl[i]) return i + 1;
  return 0;
}

bool TTTCalc::eventFilter(QObject* watched, QEvent* e) {
  if (e->type() == QEvent::Enter || e->type() == QEvent::Leave) {
    if (const int index = DimensionIndex(watched); index != 0) {
      const bool enter = e->type() == QEvent::Enter;
      auto* l = static_cast<QLabel*>(watched);
      QFont font = l->font();
      font.setUnderline(enter);
      l->setFont(font);
      Image1->SetHighlighted(enter ? index : 0);
    }
  }
  return QDialog::eventFilter(watched, e);
}

// --- opening --------------------------------------------------------------------

NumberLocale UserNumberLocale() {
  NumberLocale loc;
  // A separator that could be mistaken for part of a number keeps the point.
  const QString dp = QLocale().decimalPoint();
  if (dp.size() == 1 && !dp[0].isDigit() && dp != "+" && dp != "-" && dp != " " && dp != "e" && dp != "E")
    loc.decimal_point = S(dp);
  return loc;
}

bool RunTankCalculator(QWidget* parent, const std::string& languageFile, TareRows& rows) {
  TTTCalc dlg(parent, languageFile, rows.locale);
  if (dlg.exec() != QDialog::Accepted) return false;
  TareHandOver(dlg.Table(), rows);
  return true;
}

TTTCalc* OpenTankCalculator(QWidget* parent, const std::string& languageFile, TareRows& rows,
                            std::function<void(bool ok)> onClosed) {
  auto* dlg = new TTTCalc(parent, languageFile, rows.locale);
  dlg->setAttribute(Qt::WA_DeleteOnClose);
  QObject::connect(dlg, &QDialog::finished, dlg, [dlg, &rows, onClosed = std::move(onClosed)](int result) {
    const bool ok = result == QDialog::Accepted;
    if (ok) TareHandOver(dlg->Table(), rows);
    if (onClosed) onClosed(ok);
  });
  dlg->open();
  return dlg;
}

}  // namespace kl
