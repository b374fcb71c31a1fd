#include "ScopePage.h"

#include <QAction>
#include <QFile>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLocale>
#include <QMessageBox>
#include <QRegularExpressionValidator>
#include <QSaveFile>
#include <QSignalBlocker>
#include <QTextStream>
#include <QVBoxLayout>

#include <algorithm>
#include <chrono>

#include "ScopeRules.h"
#include "Unit_handling.h"
#include "Unit_main.h"

namespace kl {

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }
QString U(const char* s) { return QString::fromUtf8(s); }

// The display-test boxes and the segment bit each stands for (its tag).
constexpr std::array<int, 15> kDisplayTags = {0, 1, 2, 3, 4, 5, 6, 8, 9, 10, 11, 12, 13, 14, 16};

template <class T>
T* Named(T* w, const char* name) {
  w->setObjectName(name);
  return w;
}

QLineEdit* ReadoutEdit(const char* name, QWidget* parent) {
  auto* e = Named(new QLineEdit(parent), name);
  e->setReadOnly(true);
  e->setMaximumWidth(90);
  return e;
}

QLineEdit* DigitsEdit(const char* name, const QString& text, QWidget* parent) {
  auto* e = Named(new QLineEdit(text, parent), name);
  e->setValidator(new QRegularExpressionValidator(QRegularExpression("[0-9]*"), e));
  e->setMaximumWidth(80);
  return e;
}

QSlider* TrackBar(const char* name, int min, int max, int smallStep, int largeStep, int tick,
                  QWidget* parent) {
  auto* s = Named(new QSlider(Qt::Horizontal, parent), name);
  s->setRange(min, max);
  s->setSingleStep(smallStep);
  s->setPageStep(largeStep);
  s->setTickInterval(tick);
  s->setTickPosition(QSlider::TicksBelow);
  s->setValue(min);
  return s;
}

QToolButton* ToggleButton(const char* name, const QString& text, QWidget* parent) {
  auto* b = Named(new QToolButton(parent), name);
  b->setText(text);
  b->setCheckable(true);
  b->setMinimumWidth(70);
  return b;
}

}  // namespace

ScopePage::ScopePage(TForm1& form, QWidget* parent) : QWidget(parent), form_(form) {
  setObjectName("TsOscill");
  auto* outer = new QVBoxLayout(this);
  outer->setContentsMargins(4, 4, 4, 4);

  auto* top = new QHBoxLayout;
  auto* panel = new QWidget(this);
  panel->setObjectName("PanelReadouts");
  BuildReadouts(panel);
  top->addWidget(panel, 0, Qt::AlignTop);
  BuildChart();
  auto* chartColumn = new QVBoxLayout;
  auto* legend = new QHBoxLayout;
  for (QCheckBox* c : {ChkSeries1, ChkSeries2, ChkSeries3}) legend->addWidget(c);
  legend->addStretch(1);
  legend->addWidget(BtnSaveOscill);
  chartColumn->addLayout(legend);
  chartColumn->addWidget(Chart1, 1);
  top->addLayout(chartColumn, 1);
  outer->addLayout(top, 1);

  BuildPulsePages();
  outer->addWidget(PcPulse);

  RefillLists();
  EnableReadouts(true);
}

void ScopePage::BuildReadouts(QWidget* panel) {
  auto* g = new QGridLayout(panel);
  g->setContentsMargins(0, 0, 0, 0);
  CmbOscillMode = Named(new QComboBox(panel), "CmbOscillMode");
  connect(CmbOscillMode, &QComboBox::activated, this, &ScopePage::OnOscillModeChosen);
  g->addWidget(CmbOscillMode, 0, 0, 1, 4);

  struct Row {
    QLabel** label;
    const char* labelName;
    const char* caption;
    QLineEdit** edit;
    const char* editName;
  };
  const Row rows[] = {{&LblAuth, "LblAuth", "Auth:", &EditAuth, "EditAuth"},
                      {&LblPos, "LblPos", "Pos/Div:", &EditPos, "EditPos"},
                      {&LblFrame, "LblFrame", "Frame:", &EditFrame, "EditFrame"},
                      {&LblUncorr, "LblUncorr", "Uncorr:", &EditUncorr, "EditUncorr"},
                      {&LblCorr, "LblCorr", "Corr:", &EditCorr, "EditCorr"},
                      {&LblMm, "LblMm", "mm:", &EditMm, "EditMm"},
                      {&LblTemp, "LblTemp", "T,°C :", &EditTemp, "EditTemp"}};
  int row = 1;
  for (const Row& r : rows) {
    *r.label = Named(new QLabel(U(r.caption), panel), r.labelName);
    *r.edit = ReadoutEdit(r.editName, panel);
    g->addWidget(*r.label, row, 0);
    g->addWidget(*r.edit, row, 1, 1, 3);
    ++row;
  }
  // The read-out of the level may be copied out; it is not typed into.
  EditMm->setReadOnly(false);

  LblCurr = Named(new QLabel(U("Тек:"), panel), "LblCurr");
  LblSet = Named(new QLabel(U("Уст:"), panel), "LblSet");
  LblMax = Named(new QLabel(U("Макс.:"), panel), "LblMax");
  g->addWidget(LblCurr, row, 1);
  g->addWidget(LblSet, row, 2);
  g->addWidget(LblMax, row, 3);
  ++row;
  LblKuStr = Named(new QLabel("Ku:", panel), "LblKuStr");
  LblKu = Named(new QLabel("0", panel), "LblKu");
  CmbKu = Named(new QComboBox(panel), "CmbKu");
  CmbKuMax = Named(new QComboBox(panel), "CmbKuMax");
  for (int i = 0; i < kKuEntries - 1; ++i) {
    CmbKu->addItem(QString::number(i));
    CmbKuMax->addItem(QString::number(i));
  }
  CmbKu->addItem(U("Авто"));
  CmbKuMax->addItem(U("б/огр."));
  CmbKu->setCurrentIndex(-1);
  CmbKuMax->setCurrentIndex(-1);
  connect(CmbKu, &QComboBox::activated, this, [this](int) { OnGainChosen(); });
  connect(CmbKuMax, &QComboBox::activated, this, [this](int) { OnGainChosen(); });
  g->addWidget(LblKuStr, row, 0);
  g->addWidget(LblKu, row, 1);
  g->addWidget(CmbKu, row, 2);
  g->addWidget(CmbKuMax, row, 3);
  ++row;
  LblAttenStr = Named(new QLabel("Att:", panel), "LblAttenStr");
  LblAtten = Named(new QLabel("0", panel), "LblAtten");
  CmbAtten = Named(new QComboBox(panel), "CmbAtten");
  connect(CmbAtten, &QComboBox::activated, this, &ScopePage::OnAttenChosen);
  g->addWidget(LblAttenStr, row, 0);
  g->addWidget(LblAtten, row, 1);
  g->addWidget(CmbAtten, row, 2, 1, 2);
  g->setRowStretch(row + 1, 1);
}

void ScopePage::BuildChart() {
  chart_ = new QChart;
  chart_->legend()->hide();  // the check boxes above the chart are its legend
  chart_->setMargins(QMargins(4, 4, 4, 4));
  Series1 = new QLineSeries(chart_);
  Series1->setObjectName("Series1");
  Series1->setName("Oscill");
  QPen p1(QColor(0xD0, 0x20, 0x20));
  p1.setWidth(2);
  Series1->setPen(p1);
  Series2 = new QLineSeries(chart_);
  Series2->setObjectName("Series2");
  Series2->setName("AFC");
  Series2->setPointsVisible(true);
  Series2->setPen(QPen(QColor(0x20, 0x90, 0x20), 2));
  Series3 = new QLineSeries(chart_);
  Series3->setObjectName("Series3");
  Series3->setName("Integrator");
  Series3->setPen(QPen(Qt::blue, 1));
  marks_ = new QScatterSeries(chart_);
  marks_->setObjectName("Series3Marks");
  marks_->setMarkerSize(4);
  marks_->setColor(QColor(0xFF, 0x00, 0xFF));  // fuchsia
  marks_->setBorderColor(QColor(0xFF, 0x00, 0xFF));
  for (QAbstractSeries* s : {static_cast<QAbstractSeries*>(Series1), static_cast<QAbstractSeries*>(Series3),
                             static_cast<QAbstractSeries*>(marks_), static_cast<QAbstractSeries*>(Series2)})
    chart_->addSeries(s);

  axisX_ = new QValueAxis(chart_);
  axisX_->setLabelFormat("%d");
  axisY_ = new QValueAxis(chart_);
  axisY_->setLabelFormat("%d");
  axisAfc_ = new QValueAxis(chart_);
  axisAfc_->setLabelFormat("%d");
  axisAfc_->setRange(kFreqMin, kFreqMax);
  axisAfc_->setTitleText(U("кГц"));
  chart_->addAxis(axisX_, Qt::AlignBottom);
  chart_->addAxis(axisY_, Qt::AlignLeft);
  chart_->addAxis(axisAfc_, Qt::AlignTop);
  for (QAbstractSeries* s : {static_cast<QAbstractSeries*>(Series1), static_cast<QAbstractSeries*>(Series3),
                             static_cast<QAbstractSeries*>(marks_)}) {
    s->attachAxis(axisX_);
    s->attachAxis(axisY_);
  }
  Series2->attachAxis(axisAfc_);
  Series2->attachAxis(axisY_);
  axisX_->setRange(0, 1472 * 10.0);
  // Round tick values: every 2000 (envelope) or 250 (raw) units, every
  // 500 kHz on the sweep's axis.
  axisX_->setTickType(QValueAxis::TicksDynamic);
  axisX_->setTickAnchor(0);
  axisX_->setTickInterval(2000);
  axisAfc_->setTickType(QValueAxis::TicksDynamic);
  axisAfc_->setTickAnchor(kFreqMin);
  axisAfc_->setTickInterval(500);
  SetLeftAxis(0);

  Chart1 = Named(new QChartView(chart_, this), "Chart1");
  Chart1->setRenderHint(QPainter::Antialiasing, false);
  Chart1->setMinimumSize(300, 200);
  Chart1->setContextMenuPolicy(Qt::ActionsContextMenu);
  auto* save = new QAction(U("Сохранить осциллограмму…"), Chart1);
  save->setObjectName("ActSaveOscill");
  connect(save, &QAction::triggered, this, &ScopePage::OnSaveOscillogram);
  Chart1->addAction(save);

  auto legendBox = [this](const char* name, QAbstractSeries* s, bool on) {
    auto* c = Named(new QCheckBox(s->name(), this), name);
    c->setChecked(on);
    s->setVisible(on);
    connect(c, &QCheckBox::toggled, this, [this, s](bool v) {
      s->setVisible(v);
      if (s == Series3) marks_->setVisible(v);
      if (s == Series2) axisAfc_->setVisible(v);
    });
    return c;
  };
  ChkSeries1 = legendBox("ChkSeries1", Series1, true);
  ChkSeries2 = legendBox("ChkSeries2", Series2, false);
  ChkSeries3 = legendBox("ChkSeries3", Series3, false);
  marks_->setVisible(false);
  axisAfc_->setVisible(false);
  BtnSaveOscill = Named(new QPushButton(U("Сохранить осциллограмму…"), this), "BtnSaveOscill");
  connect(BtnSaveOscill, &QPushButton::clicked, this, &ScopePage::OnSaveOscillogram);
}

void ScopePage::BuildPulsePages() {
  PcPulse = Named(new QTabWidget(this), "PcPulse");
  TsPulse = BuildPulsePage();
  TsFiltr = BuildFiltrPage();
  TsIntegrator = BuildIntegratorPage();
  TsAfc = BuildAfcPage();
  TsAuto = BuildAutoPage();
  TsDsplTest = BuildDisplayPage();
  PcPulse->addTab(TsPulse, U("Имульс"));
  PcPulse->addTab(TsFiltr, U("Фильтр"));
  PcPulse->addTab(TsIntegrator, U("Интегратор"));
  PcPulse->addTab(TsAfc, U("АЧХ"));
  PcPulse->addTab(TsAuto, U("Автонастройка"));
  PcPulse->addTab(TsDsplTest, U("Дисплей"));
  PcPulse->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
  connect(PcPulse, &QTabWidget::currentChanged, this, &ScopePage::OnSubPageChanged);
}

QWidget* ScopePage::BuildPulsePage() {
  auto* page = Named(new QWidget, "TsPulse");
  auto* g = new QGridLayout(page);
  LblFreqStr = Named(new QLabel(U("F, кГц:"), page), "LblFreqStr");
  TbFreq = TrackBar("TbFreq", kFreqMin, kFreqMax, kFreqSmallStep, kFreqLargeStep, 100, page);
  LblFreq = Named(new QLabel("0", page), "LblFreq");
  LblFreq->setMinimumWidth(40);
  EditFreq = DigitsEdit("EditFreq", QString::number(kFreqMin), page);
  BtnFreq = Named(new QPushButton("Set", page), "BtnFreq");
  LblPulseStr = Named(new QLabel(U("Имп, х10:"), page), "LblPulseStr");
  TbPulse = TrackBar("TbPulse", kPulseMin, kPulseMax, 1, kPulseLargeStep, 10, page);
  LblPulse = Named(new QLabel("0", page), "LblPulse");
  EditPulse = DigitsEdit("EditPulse", "0", page);
  BtnPulse = Named(new QPushButton("Set", page), "BtnPulse");
  g->addWidget(LblFreqStr, 0, 0);
  g->addWidget(TbFreq, 0, 1);
  g->addWidget(LblFreq, 0, 2);
  g->addWidget(EditFreq, 0, 3);
  g->addWidget(BtnFreq, 0, 4);
  g->addWidget(LblPulseStr, 1, 0);
  g->addWidget(TbPulse, 1, 1);
  g->addWidget(LblPulse, 1, 2);
  g->addWidget(EditPulse, 1, 3);
  g->addWidget(BtnPulse, 1, 4);
  g->setColumnStretch(1, 1);
  connect(TbFreq, &QSlider::valueChanged, this, [this](int) { OnFreqChanged(); });
  connect(BtnFreq, &QPushButton::clicked, this, &ScopePage::OnFreqButton);
  connect(EditFreq, &QLineEdit::returnPressed, this, &ScopePage::OnFreqButton);
  connect(TbPulse, &QSlider::valueChanged, this, [this](int) { OnPulseChanged(); });
  connect(BtnPulse, &QPushButton::clicked, this, &ScopePage::OnPulseButton);
  connect(EditPulse, &QLineEdit::returnPressed, this, &ScopePage::OnPulseButton);
  return page;
}

QWidget* ScopePage::BuildFiltrPage() {
  auto* page = Named(new QWidget, "TsFiltr");
  auto* g = new QGridLayout(page);
  LblFiltrStr = Named(new QLabel(U("F, кГц"), page), "LblFiltrStr");
  TbFiltr = TrackBar("TbFiltr", kFiltrMin, kFiltrMax, kFiltrStep, kFiltrLargeStep, 50, page);
  LblFiltr = Named(new QLabel("0", page), "LblFiltr");
  LblFiltr->setMinimumWidth(40);
  CmbFiltr = Named(new QComboBox(page), "CmbFiltr");
  for (int i = 0; i < kFiltrEntries; ++i) CmbFiltr->addItem(Q(FilterEntryText(i)));
  CmbFiltr->setCurrentIndex(0);
  g->addWidget(LblFiltrStr, 0, 0);
  g->addWidget(TbFiltr, 0, 1);
  g->addWidget(LblFiltr, 0, 2);
  g->addWidget(CmbFiltr, 0, 3);
  g->setColumnStretch(1, 1);
  g->setRowStretch(1, 1);
  connect(TbFiltr, &QSlider::valueChanged, this, [this](int) { OnFiltrChanged(); });
  connect(CmbFiltr, &QComboBox::activated, this, &ScopePage::OnFiltrChosen);
  return page;
}

QWidget* ScopePage::BuildIntegratorPage() {
  auto* page = Named(new QWidget, "TsIntegrator");
  auto* v = new QHBoxLayout(page);
  GbIntegrator = Named(new QGroupBox(U("Интегратор"), page), "GbIntegrator");
  auto* g = new QGridLayout(GbIntegrator);
  LblIntegrateDeadzone = Named(new QLabel(U("Мертвая зона:"), GbIntegrator), "LblIntegrateDeadzone");
  EditIntegrateDeadzone = DigitsEdit("EditIntegrateDeadzone", "0", GbIntegrator);
  LblIntegrateTreshold = Named(new QLabel(U("Порог:"), GbIntegrator), "LblIntegrateTreshold");
  EditIntegrateTreshold = DigitsEdit("EditIntegrateTreshold", "0", GbIntegrator);
  BtnSetIntegrator = Named(new QPushButton(U("Установить"), GbIntegrator), "BtnSetIntegrator");
  g->addWidget(LblIntegrateDeadzone, 0, 0);
  g->addWidget(EditIntegrateDeadzone, 0, 1);
  g->addWidget(LblIntegrateTreshold, 0, 2);
  g->addWidget(EditIntegrateTreshold, 0, 3);
  g->addWidget(BtnSetIntegrator, 0, 4);
  v->addWidget(GbIntegrator);
  v->addStretch(1);
  connect(BtnSetIntegrator, &QPushButton::clicked, this, &ScopePage::OnSetIntegrator);
  return page;
}

QWidget* ScopePage::BuildAfcPage() {
  auto* page = Named(new QWidget, "TsAfc");
  auto* v = new QHBoxLayout(page);
  GbAfc = Named(new QGroupBox(U("АЧХ"), page), "GbAfc");
  auto* g = new QGridLayout(GbAfc);
  LblDAfc = Named(new QLabel(U("Шаг:"), GbAfc), "LblDAfc");
  EditDAfc = DigitsEdit("EditDAfc", "20", GbAfc);
  LblAfcDeadZone = Named(new QLabel(U("Начало:"), GbAfc), "LblAfcDeadZone");
  EditAfcDeadZone = DigitsEdit("EditAfcDeadZone", "2000", GbAfc);
  LblAfcBandwidth = Named(new QLabel(U("Ширина:"), GbAfc), "LblAfcBandwidth");
  EditAfcBandwidth = DigitsEdit("EditAfcBandwidth", "1000", GbAfc);
  BtnAFC = Named(new QPushButton(U("АЧХ"), GbAfc), "BtnAFC");
  g->addWidget(LblDAfc, 0, 0);
  g->addWidget(EditDAfc, 0, 1);
  g->addWidget(LblAfcDeadZone, 0, 2);
  g->addWidget(EditAfcDeadZone, 0, 3);
  g->addWidget(LblAfcBandwidth, 0, 4);
  g->addWidget(EditAfcBandwidth, 0, 5);
  g->addWidget(BtnAFC, 0, 6);
  v->addWidget(GbAfc);
  v->addStretch(1);
  connect(BtnAFC, &QPushButton::clicked, this, &ScopePage::OnAfcButton);
  return page;
}

QWidget* ScopePage::BuildAutoPage() {
  auto* page = Named(new QWidget, "TsAuto");
  auto* v = new QHBoxLayout(page);
  GbAutomat = Named(new QGroupBox(U("Автонастройка"), page), "GbAutomat");
  auto* g = new QGridLayout(GbAutomat);
  SbPre = ToggleButton("SbPre", U("Шаг 1"), GbAutomat);
  SbAfc = ToggleButton("SbAfc", U("Шаг 2"), GbAutomat);
  LblDataInst = Named(new QLabel(GbAutomat), "LblDataInst");
  LblDataInst->setMinimumWidth(200);
  TbDataInst = Named(new QProgressBar(GbAutomat), "TbDataInst");
  TbDataInst->setRange(0, kAutoProgressMax);
  TbDataInst->setValue(0);
  TbDataInst->setTextVisible(false);
  g->addWidget(SbPre, 0, 0);
  g->addWidget(SbAfc, 0, 1);
  g->addWidget(LblDataInst, 0, 2);
  g->addWidget(TbDataInst, 1, 2);
  v->addWidget(GbAutomat);
  v->addStretch(1);
  connect(SbPre, &QToolButton::clicked, this, [this](bool down) { OnAutoButton(SbPre, down); });
  connect(SbAfc, &QToolButton::clicked, this, [this](bool down) { OnAutoButton(SbAfc, down); });
  return page;
}

QWidget* ScopePage::BuildDisplayPage() {
  auto* page = Named(new QWidget, "TsDsplTest");
  auto* v = new QHBoxLayout(page);
  GbDisplay = Named(new QGroupBox(U("Тест"), page), "GbDisplay");
  auto* g = new QGridLayout(GbDisplay);
  LblSegm1 = Named(new QLabel(U("Сегмент 1"), GbDisplay), "LblSegm1");
  LblSegm2 = Named(new QLabel(U("Сегмент 2"), GbDisplay), "LblSegm2");
  LblSegm3 = Named(new QLabel("3", GbDisplay), "LblSegm3");
  g->addWidget(LblSegm1, 0, 0);
  g->addWidget(LblSegm2, 1, 0);
  g->addWidget(LblSegm3, 0, 8);
  for (size_t i = 0; i < kDisplayTags.size(); ++i) {
    const int tag = kDisplayTags[i];
    const std::string name = "ChkTestDisplay" + std::to_string(tag);
    auto* c = new QCheckBox(GbDisplay);
    c->setObjectName(Q(name));
    c->setProperty("tag", tag);
    c->setToolTip(QString::number(tag));
    ChkTestDisplay[i] = c;
    if (tag <= 6)
      g->addWidget(c, 0, 1 + tag);
    else if (tag <= 14)
      g->addWidget(c, 1, 1 + tag - 8);
    else
      g->addWidget(c, 1, 8);
  }
  SbDplTestManual = ToggleButton("SbDplTestManual", U("Ручн"), GbDisplay);
  SbDplTestAuto = ToggleButton("SbDplTestAuto", U("Авто"), GbDisplay);
  g->addWidget(SbDplTestManual, 0, 9);
  g->addWidget(SbDplTestAuto, 1, 9);
  v->addWidget(GbDisplay);
  v->addStretch(1);
  connect(SbDplTestManual, &QToolButton::clicked, this,
          [this](bool down) { OnDisplayTestButton(SbDplTestManual, down); });
  connect(SbDplTestAuto, &QToolButton::clicked, this,
          [this](bool down) { OnDisplayTestButton(SbDplTestAuto, down); });
  return page;
}

// --- lists -------------------------------------------------------------------------

void ScopePage::RefillLists() {
  const LoadedTexts& texts = form_.Texts();
  auto text = [&](std::string_view family, int entry, const char* builtin) {
    const std::string& t = texts.List(family, entry);
    return t.empty() ? U(builtin) : Q(t);
  };
  CmbOscillMode->clear();
  CmbOscillMode->addItem(text("str_cmb_OscillMode", 0, "Огибающая"));
  CmbOscillMode->addItem(text("str_cmb_OscillMode", 1, "Исходный"));
  CmbOscillMode->addItem(text("str_cmb_OscillMode", 2, "Фильтрованый"));
  CmbOscillMode->setCurrentIndex(0);
  SetLeftAxis(0);
  CmbAtten->clear();
  CmbAtten->addItem(text("str_cmb_Atten", 0, "Выкл."));
  CmbAtten->addItem(text("str_cmb_Atten", 1, "Вкл."));
  CmbAtten->setCurrentIndex(-1);
  // The gain lists keep their selection: only the last entry is renamed.
  const std::string& ku = texts.List("str_cmb_Ku");
  const std::string& kuMax = texts.List("str_cmb_KuMax");
  CmbKu->setItemText(kKuEntries - 1, ku.empty() ? U("Авто") : Q(ku));
  CmbKuMax->setItemText(kKuEntries - 1, kuMax.empty() ? U("б/огр.") : Q(kuMax));
}

// --- window operations -----------------------------------------------------------

void ScopePage::EnableReadouts(bool on) {
  for (QWidget* w : std::initializer_list<QWidget*>{
           EditAuth, EditPos,  EditFrame, EditCorr,    EditUncorr,    EditMm,  EditTemp, LblAuth,
           LblPos,   LblFrame, LblCorr,   LblUncorr,   LblTemp,       LblCurr, LblSet,   LblMax,
           LblKu,    LblKuStr, LblAtten,  LblAttenStr, CmbOscillMode, CmbKu,   CmbKuMax, CmbAtten})
    w->setEnabled(on);
  LblDataInst->setEnabled(!on);
  TbDataInst->setEnabled(!on);
  subPageLock_ = !on;
}

void ScopePage::ReadOscillMode() { form_.Records().tuning.OscMode = CmbOscillMode->currentIndex() + 1; }

void ScopePage::ShowEcho() {
  const EngineRecords& rec = form_.Records();
  const EchoHeader& h = rec.echoHeader;
  const LoadedTexts& texts = form_.Texts();
  const char dec = Decimal();
  form_.EnableReadouts(true);

  LblFreq->setText(QString::number(h.Frequency()));
  LblFiltr->setText(Q(FilterText(h.Filter(), texts.Message(Msg::Wide))));
  LblPulse->setText(Q(PulseText(h.Pulse(), dec)));
  LblAtten->setText(QString::number(h.Attenuation()));
  LblKu->setText(QString::number(h.Ku()));

  LblDataInst->setText(Q(texts.Message(Msg::Inactive)));
  TbDataInst->setValue(0);
  SbPre->setChecked(false);
  SbAfc->setChecked(false);

  const int mode = rec.echoMode;
  const EchoView view = EchoViewOf(mode);
  if (view.samples == 0) return;
  const auto& samples = rec.echoSamples.samples;
  if (mode == 1) {
    EditAuth->setText(Q(AuthText(h.Error(), texts.Message(Msg::Ok), texts.Message(Msg::ErrorE))));
    EditPos->setText(Q(PosDivText(h.Pos(), h.Div())));
    EditFrame->setText(QString::number(h.Frame()));
    EditCorr->setText(QString::number(h.Corr()));
    EditUncorr->setText(QString::number(h.Uncorr()));
    EditMm->setText(Q(LevelMmText(h.Level())));
    EditTemp->setText(Q(TemperatureText(h.Temperature(), dec)));

    // Sample 0 holds the transmit burst's start, which the sensor leaves
    // undefined: it is drawn and processed as 0.
    form_.Records().echoSamples.samples[0] = 0;
    const int n = view.samples;
    for (int i = 0; i < n; ++i)
      contrastIn_[static_cast<size_t>(i)] = static_cast<uint16_t>(samples[static_cast<size_t>(i)]);
    EnvelopeContrast(contrastIn_.data(), static_cast<uint16_t>(n), contrastOut_.data());
    points3_.resize(n);
    marks3_.clear();
    for (int i = 0; i < n; ++i) {
      const double x = i * view.step;
      const double y = contrastOut_[static_cast<size_t>(i)];
      points3_[i] = QPointF(x, y);
      if (contrastOut_[static_cast<size_t>(i)] >= kContrastMark) marks3_.append(QPointF(x, y));
    }
    Series3->replace(points3_);
    marks_->replace(marks3_);
  } else {
    for (QLineEdit* e : {EditAuth, EditPos, EditFrame, EditCorr, EditUncorr, EditMm, EditTemp})
      e->setText("-");
  }

  points1_.resize(view.samples);
  for (int i = 0; i < view.samples; ++i)
    points1_[i] = QPointF(i * view.step, samples[static_cast<size_t>(i)]);
  Series1->replace(points1_);
  if (mode != shownMode_) {
    shownMode_ = mode;
    axisX_->setRange(0, view.samples * view.step);
    axisX_->setTickInterval(mode == 1 ? 2000 : 250);
  }
}

void ScopePage::ShowAutoStep1() {
  const TuningParams& tp = form_.Records().tuning;
  const LoadedTexts& texts = form_.Texts();
  form_.EnableReadouts(false);
  SbPre->setChecked(true);
  SbAfc->setChecked(false);
  if (tp.AutoState < 0) {
    LblDataInst->setText(
        Q(texts.Message(Msg::ErrorE) + std::to_string(static_cast<uint32_t>(tp.AutoState) & 0x7FFFFFFFu)));
    TbDataInst->setValue(0);
  } else {
    LblDataInst->setText(Q(texts.Message(Msg::Signal)));
    TbDataInst->setValue(std::clamp(tp.AutoState, 0, kAutoProgressMax));
  }
}

void ScopePage::ShowAutoStep2() {
  form_.EnableReadouts(false);
  SbPre->setChecked(false);
  SbAfc->setChecked(true);
  LblDataInst->setText(Q(form_.Texts().Message(Msg::Scanning)));
  const AutoProgress p = AdvanceAutoProgress(TbDataInst->value(), progressTick_, NowMs());
  progressTick_ = p.tick;
  TbDataInst->setValue(p.position);
}

void ScopePage::ShowTuningParams() {
  const TuningParams& tp = form_.Records().tuning;
  {
    const QSignalBlocker block(TbFreq);
    TbFreq->setValue(tp.Frequency);
  }
  // The filter and pulse bars run their change handling as for a move by the
  // user, so that the values become what the bars can hold, but post no job:
  // showing the sensor's values must not write them back, nor take the slot
  // from the poll the entry job posts next or from a page the user chose.
  const bool wasFilling = filling_;
  filling_ = true;
  {
    const QSignalBlocker block(TbFiltr);
    TbFiltr->setValue(tp.Filter);
  }
  OnFiltrChanged();
  {
    const QSignalBlocker block(TbPulse);
    TbPulse->setValue(tp.Pulse);
  }
  OnPulseChanged();
  filling_ = wasFilling;
  CmbKu->setCurrentIndex(GainEntry(tp.KuWord));
  CmbKuMax->setCurrentIndex(GainMaxEntry(tp.KuWord));
  CmbAtten->setCurrentIndex(AttenuationEntry(tp.Attenuation));
  EditFreq->setText(QString::number(tp.Frequency));
  CmbFiltr->setCurrentIndex(std::clamp(FilterEntryOfPosition(tp.Filter), 0, kFiltrEntries - 1));
  EditPulse->setText(QString::number(tp.Pulse));
  EditIntegrateDeadzone->setText(QString::number(tp.Integrator & 0xFFFFu));
  EditIntegrateTreshold->setText(QString::number(tp.Integrator >> 16));
}

void ScopePage::AddAfcPoint() {
  const EngineRecords& rec = form_.Records();
  Series2->append(rec.sweepFrequency, rec.sweepPeak);
}

void ScopePage::BuildDisplayMask() {
  TuningParams& tp = form_.Records().tuning;
  form_.EnableReadouts(false);
  if (SbDplTestAuto->isChecked()) {
    tp.DisplayMask = NextWalkingMask(tp.DisplayMask);
    return;
  }
  std::vector<int> tags;
  for (QCheckBox* c : ChkTestDisplay)
    if (c->isChecked()) tags.push_back(c->property("tag").toInt());
  tp.DisplayMask = ManualDisplayMask(tags);
}

// --- user actions ------------------------------------------------------------------

void ScopePage::Post(int job) {
  if (!filling_) form_.PostJob(job);
}

void ScopePage::SetLeftAxis(int entry) {
  const EchoView v = AxisOfEntry(std::max(entry, 0));
  axisY_->setRange(v.yMin, v.yMax);
}

void ScopePage::OnOscillModeChosen(int entry) {
  form_.Records().tuning.OscMode = entry + 1;
  SetLeftAxis(entry);
}

void ScopePage::OnGainChosen() {
  form_.Records().tuning.KuWord = GainWord(CmbKu->currentIndex(), CmbKuMax->currentIndex());
  Post(JOB_SET_KU);
}

void ScopePage::OnAttenChosen(int entry) {
  form_.Records().tuning.Attenuation = AttenuationOfEntry(entry);
  Post(JOB_SET_ATTEN);
}

void ScopePage::OnFreqChanged() {
  TuningParams& tp = form_.Records().tuning;
  const QSignalBlocker block(TbFiltr);
  EditFreq->setText(QString::number(TbFreq->value()));
  const FreqChange c = FrequencyMoved(TbFreq->value(), tp.Filter);
  tp.Frequency = c.frequency;
  if (c.filterEntry) {
    TbFiltr->setValue(c.filter);
    CmbFiltr->setCurrentIndex(*c.filterEntry);
  }
  tp.Filter = TbFiltr->value();
  Post(JOB_SET_FREQ);
}

void ScopePage::OnFreqButton() {
  const std::optional<int32_t> v = ReadEdit(EditFreq);
  if (!v) return;
  {
    const QSignalBlocker block(TbFreq);
    TbFreq->setValue(ClampFrequency(*v));
  }
  OnFreqChanged();
}

void ScopePage::OnPulseChanged() {
  EditPulse->setText(QString::number(TbPulse->value()));
  form_.Records().tuning.Pulse = TbPulse->value();
  Post(JOB_SET_PULSE);
}

void ScopePage::OnPulseButton() {
  const std::optional<int32_t> v = ReadEdit(EditPulse);
  if (!v) return;
  TbPulse->setValue(ClampPulse(*v));
  OnPulseChanged();
}

void ScopePage::OnFiltrChanged() {
  CmbFiltr->setCurrentIndex(std::clamp(FilterEntryOfPosition(TbFiltr->value()), 0, kFiltrEntries - 1));
  form_.Records().tuning.Filter = TbFiltr->value();
  Post(JOB_SET_FILTER);
}

void ScopePage::OnFiltrChosen(int entry) {
  {
    const QSignalBlocker block(TbFiltr);
    TbFiltr->setValue(FilterPositionOfEntry(entry));
  }
  OnFiltrChanged();
}

void ScopePage::OnSetIntegrator() {
  const std::optional<int32_t> threshold = ReadEdit(EditIntegrateTreshold);
  if (!threshold) return;
  const std::optional<int32_t> deadZone = ReadEdit(EditIntegrateDeadzone);
  if (!deadZone) return;
  form_.Records().tuning.Integrator = IntegratorWord(*deadZone, *threshold);
  Post(JOB_SET_INTEGRATOR);
}

void ScopePage::OnAfcButton() {
  Series2->clear();
  const std::optional<int32_t> start = ReadEdit(EditAfcDeadZone);
  if (!start) return;
  const std::optional<int32_t> width = ReadEdit(EditAfcBandwidth);
  if (!width) return;
  const std::optional<int32_t> step = ReadEdit(EditDAfc);
  if (!step) return;
  TuningParams& tp = form_.Records().tuning;
  tp.AfcStart = *start;
  tp.AfcWidth = *width;
  tp.AfcStep = *step;
  Post(JOB_AFC_SWEEP);
}

void ScopePage::OnAutoButton(QToolButton* button, bool down) {
  QToolButton* other = button == SbPre ? SbAfc : SbPre;
  if (down) other->setChecked(false);
  progressTick_ = 0;
  form_.Records().tuning.AutoStep = down ? (button == SbPre ? SVC_AUTO_STEP1 : SVC_AUTO_STEP2) : 0;
  Post(JOB_SET_AUTO);
}

void ScopePage::OnDisplayTestButton(QToolButton* button, bool down) {
  QToolButton* other = button == SbDplTestManual ? SbDplTestAuto : SbDplTestManual;
  if (down) other->setChecked(false);
  if (!down) {
    Post(JOB_POLL_ECHO);
    return;
  }
  if (button == SbDplTestAuto) form_.Records().tuning.DisplayMask = 256;
  Post(JOB_DISPLAY_TEST);
}

void ScopePage::OnSubPageChanged(int index) {
  if (programSelectsSubPage_) return;
  if (subPageLock_) {
    programSelectsSubPage_ = true;
    PcPulse->setCurrentIndex(subPage_);
    programSelectsSubPage_ = false;
    return;
  }
  subPage_ = index;
}

std::optional<int32_t> ScopePage::ReadEdit(QLineEdit* edit) {
  const std::string text = edit->text().toStdString();
  if (std::optional<int32_t> v = EditInteger(text)) return v;
  QString msg = Q(form_.Texts().Message(Msg::NotInteger));
  if (msg.isEmpty()) msg = U("\"%1\" не является целым числом");
  ErrorBox(msg.arg(Q(text)).toStdString());
  return std::nullopt;
}

void ScopePage::ErrorBox(const std::string& text) {
  form_.ShowBox(QMessageBox::Critical, "ErrorBox", text, QMessageBox::Ok, nullptr);
}

int64_t ScopePage::NowMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

char ScopePage::Decimal() const {
  const QString d = QLocale().decimalPoint();
  return d.size() == 1 && d[0].unicode() < 128 ? static_cast<char>(d[0].unicode()) : '.';
}

// --- saving the oscillogram --------------------------------------------------------

void ScopePage::OnSaveOscillogram() {
  const QString caption = Q(form_.Texts().Message(Msg::SaveOscill));
  const QString path =
      QFileDialog::getSaveFileName(this, caption, "oscillogram.png", "PNG (*.png);;CSV (*.csv);;* (*)");
  if (path.isEmpty()) return;
  QString error;
  if (!SaveOscillogram(path, &error)) {
    QString msg = Q(form_.Texts().Message(Msg::SaveOscillFailed));
    ErrorBox((msg.contains("%1") ? msg.arg(path) : msg + " " + path).toStdString() + "\n" +
             error.toStdString());
  }
}

bool ScopePage::SaveOscillogram(const QString& path, QString* error) {
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly)) {
    if (error) *error = file.errorString();
    return false;
  }
  if (path.endsWith(".png", Qt::CaseInsensitive)) {
    const QPixmap picture = Chart1->grab();
    if (!picture.save(&file, "PNG")) {
      if (error) *error = file.errorString();
      file.cancelWriting();
      return false;
    }
  } else {
    // The read-outs as shown, then one line per sample of the last echo with
    // its contrast value in envelope mode.
    QTextStream out(&file);
    const QList<QPair<QLabel*, QWidget*>> readouts = {
        {LblAuth, EditAuth},     {LblPos, EditPos},     {LblFrame, EditFrame},   {LblUncorr, EditUncorr},
        {LblCorr, EditCorr},     {LblMm, EditMm},       {LblTemp, EditTemp},     {LblKuStr, LblKu},
        {LblAttenStr, LblAtten}, {LblFreqStr, LblFreq}, {LblFiltrStr, LblFiltr}, {LblPulseStr, LblPulse}};
    auto quoted = [](QString s) { return "\"" + s.replace("\"", "\"\"") + "\""; };
    for (const auto& [label, value] : readouts) {
      const QString v = qobject_cast<QLineEdit*>(value) ? static_cast<QLineEdit*>(value)->text()
                                                        : static_cast<QLabel*>(value)->text();
      out << quoted(label->text()) << ',' << quoted(v) << '\n';
    }
    out << quoted(CmbOscillMode->currentText()) << '\n';
    const bool envelope = shownMode_ == 1;
    out << "x,sample" << (envelope ? ",contrast" : "") << '\n';
    for (qsizetype i = 0; i < points1_.size(); ++i) {
      out << points1_[i].x() << ',' << static_cast<int>(points1_[i].y());
      if (envelope && i < points3_.size()) out << ',' << static_cast<qulonglong>(points3_[i].y());
      out << '\n';
    }
    out.flush();
  }
  if (!file.commit()) {
    if (error) *error = file.errorString();
    return false;
  }
  return true;
}

}  // namespace kl
