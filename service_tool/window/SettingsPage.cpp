#include "SettingsPage.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLocale>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include "Unit_main.h"

namespace kl {

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }
QString U(const char* s) { return QString::fromUtf8(s); }

// Keeps the selection of a list whose entries are replaced.
void RefillList(QComboBox* list, const QStringList& entries) {
  const QSignalBlocker block(list);
  const int selected = list->currentIndex();
  list->clear();
  list->addItems(entries);
  list->setCurrentIndex(selected < list->count() ? selected : -1);
}

QStringList Family(const LoadedTexts& texts, const char* family, int count) {
  QStringList out;
  for (int i = 0; i < count; ++i) out << Q(texts.List(family, i));
  return out;
}

}  // namespace

// --- SpinEdit --------------------------------------------------------------------

SpinEdit::SpinEdit(int min, int max, QWidget* parent) : QSpinBox(parent) {
  setRange(min, max);
  // The value follows the text only when the edit is left, so typing "300"
  // is not cut to "255" half-way through the digits.
  setKeyboardTracking(false);
  setCorrectionMode(QAbstractSpinBox::CorrectToNearestValue);
}

int SpinEdit::TextValue() const { return SpinValueFromText(text().toStdString(), minimum(), maximum()); }

QValidator::State SpinEdit::validate(QString& input, int&) const {
  return SpinTextAcceptable(input.toStdString()) ? QValidator::Acceptable : QValidator::Invalid;
}

int SpinEdit::valueFromText(const QString& text) const {
  return SpinValueFromText(text.toStdString(), minimum(), maximum());
}

void SpinEdit::fixup(QString& input) const {
  input = QString::number(SpinValueFromText(input.toStdString(), minimum(), maximum()));
}

// --- the page ----------------------------------------------------------------------

SettingsPage::SettingsPage(TForm1& form, QWidget* parent) : QWidget(parent), form_(form) {
  setObjectName("TsSettings");
  BuildControls();

  texts_ = {{EditDate, &SettingsView::date, false},     {EditSN, &SettingsView::serial, false},
            {EditModel, &SettingsView::model, false},   {EditVer, &SettingsView::version, false},
            {EditRev, &SettingsView::revision, false},  {EditFuelKu, &SettingsView::fuelKu, true},
            {EditFuelOfs, &SettingsView::fuelOfs, true}};
  lists_ = {{CmbBits, &SettingsView::bitsIndex},
            {Cmb255Ans, &SettingsView::answerIndex},
            {CmbPostFiltr, &SettingsView::postFilterIndex},
            {CmbBaud2, &SettingsView::baudIndex},
            {CmbFuelType, &SettingsView::fuelIndex}};
  spins_ = {{SpinAddr2, &SettingsView::address}, {RepAutoPeriod, &SettingsView::period}};
  checks_ = {{RepAutoOn, &SettingsView::periodic}};

  // Until the language is loaded the lists show the built-in texts.
  const LoadedTexts builtin = LoadedTexts::Builtin();
  RefillList(CmbBits, Family(builtin, "str_cmb_bits", kBitsEntries));
  RefillList(Cmb255Ans, Family(builtin, "str_cmb_255Ans", kAnswerEntries));
  RefillList(CmbFuelType, Family(builtin, "str_cmb_FuelType", kFuelEntries));
  for (QComboBox* c : {CmbBits, Cmb255Ans, CmbPostFiltr, CmbBaud2, CmbFuelType}) c->setCurrentIndex(-1);
  ApplyFuelEnabling();
}

void SettingsPage::BuildControls() {
  auto label = [](const char* name, const char* text, QWidget* parent) {
    auto* l = new QLabel(U(text), parent);
    l->setObjectName(name);
    return l;
  };
  // No length limit: a passport field the sensor reports out of its usual
  // width is shown whole rather than cut.
  auto readOnly = [](const char* name, QWidget* parent) {
    auto* e = new QLineEdit(parent);
    e->setObjectName(name);
    e->setReadOnly(true);
    return e;
  };
  auto list = [](const char* name, QWidget* parent) {
    auto* c = new QComboBox(parent);
    c->setObjectName(name);
    return c;
  };

  // Passport.
  GbInfo = new QGroupBox(U("Паспортные данные"), this);
  GbInfo->setObjectName("GbInfo");
  LblDate = label("LblDate", "Дата:", GbInfo);
  EditDate = readOnly("EditDate", GbInfo);
  LblSN = label("LblSN", "S/N:", GbInfo);
  EditSN = readOnly("EditSN", GbInfo);
  LblModel = label("LblModel", "Модель:", GbInfo);
  EditModel = readOnly("EditModel", GbInfo);
  LblVer = label("LblVer", "Версия ПО:", GbInfo);
  EditVer = readOnly("EditVer", GbInfo);
  LblRev = label("LblRev", "Ревизия:", GbInfo);
  EditRev = readOnly("EditRev", GbInfo);
  auto* gi = new QGridLayout(GbInfo);
  int row = 0;
  for (auto [l, e] : {std::pair{LblDate, EditDate}, std::pair{LblSN, EditSN}, std::pair{LblModel, EditModel},
                      std::pair{LblVer, EditVer}, std::pair{LblRev, EditRev}}) {
    gi->addWidget(l, row, 0);
    gi->addWidget(e, row, 1);
    ++row;
  }
  gi->setRowStretch(row, 1);
  gi->setColumnStretch(1, 1);

  // Output parameters.
  GbParams = new QGroupBox(U("Параметры выдаваемых данных"), this);
  GbParams->setObjectName("GbParams");
  LblBits = label("LblBits", "Разрядность данных:", GbParams);
  CmbBits = list("CmbBits", GbParams);
  Lbl255Ans = label("Lbl255Ans", "Ответ по адресу 255:", GbParams);
  Cmb255Ans = list("Cmb255Ans", GbParams);
  LblPostFiltr = label("LblPostFiltr", "Пост-фильтрация:", GbParams);
  CmbPostFiltr = list("CmbPostFiltr", GbParams);
  for (int i = 0; i < kPostFilterEntries; ++i) CmbPostFiltr->addItem(QString::number(i));
  LblAddr2 = label("LblAddr2", "Адрес:", GbParams);
  SpinAddr2 = new SpinEdit(kSpinMin, kSpinMax, GbParams);
  SpinAddr2->setObjectName("SpinAddr2");
  LblBaud2 = label("LblBaud2", "Скорость:", GbParams);
  CmbBaud2 = list("CmbBaud2", GbParams);
  for (int i = 0; i < kBaud2Entries; ++i) CmbBaud2->addItem(QString::number(*BaudOfEntry(i)));
  RepAutoOn = new QCheckBox(U("Автовыдача"), GbParams);
  RepAutoOn->setObjectName("RepAutoOn");
  LblPeriod = label("LblPeriod", "Период автовыдачи:", GbParams);
  RepAutoPeriod = new SpinEdit(kSpinMin, kSpinMax, GbParams);
  RepAutoPeriod->setObjectName("RepAutoPeriod");
  auto* gp = new QGridLayout(GbParams);
  row = 0;
  for (auto [l, w] : {std::pair<QWidget*, QWidget*>{LblBits, CmbBits},
                      {Lbl255Ans, Cmb255Ans},
                      {LblPostFiltr, CmbPostFiltr},
                      {LblAddr2, SpinAddr2},
                      {LblBaud2, CmbBaud2}}) {
    gp->addWidget(l, row, 0);
    gp->addWidget(w, row, 1);
    ++row;
  }
  gp->addWidget(RepAutoOn, row++, 0, 1, 2);
  gp->addWidget(LblPeriod, row, 0);
  gp->addWidget(RepAutoPeriod, row, 1);
  gp->setColumnStretch(1, 1);

  // Fuel.
  GbFuelType = new QGroupBox(U("Тип топлива"), this);
  GbFuelType->setObjectName("GbFuelType");
  LblFuelType = label("LblFuelType", "Тип топлива:", GbFuelType);
  CmbFuelType = list("CmbFuelType", GbFuelType);
  LblFuelOfs = label("LblFuelOfs", "Скорость звука в топливе:", GbFuelType);
  EditFuelOfs = new QLineEdit(GbFuelType);
  EditFuelOfs->setObjectName("EditFuelOfs");
  LblFuelKu = label("LblFuelKu", "Температурный коэф.:", GbFuelType);
  EditFuelKu = new QLineEdit(GbFuelType);
  EditFuelKu->setObjectName("EditFuelKu");
  auto* gf = new QGridLayout(GbFuelType);
  gf->addWidget(LblFuelType, 0, 0);
  gf->addWidget(CmbFuelType, 0, 1);
  gf->addWidget(LblFuelOfs, 1, 0);
  gf->addWidget(EditFuelOfs, 1, 1);
  gf->addWidget(LblFuelKu, 2, 0);
  gf->addWidget(EditFuelKu, 2, 1);
  gf->setColumnStretch(1, 1);

  BtnParamsWrite = new QPushButton(U("Установить"), this);
  BtnParamsWrite->setObjectName("BtnParamsWrite");

  auto* outer = new QVBoxLayout(this);
  auto* top = new QHBoxLayout;
  top->addWidget(GbInfo, 2);
  top->addWidget(GbParams, 3);
  outer->addLayout(top);
  auto* bottom = new QHBoxLayout;
  bottom->addWidget(GbFuelType, 1);
  outer->addLayout(bottom);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(BtnParamsWrite);
  outer->addLayout(buttons);
  outer->addStretch(1);

  connect(CmbFuelType, &QComboBox::currentIndexChanged, this, &SettingsPage::OnFuelTypeChanged);
  connect(BtnParamsWrite, &QPushButton::clicked, this, &SettingsPage::OnParamsWrite);
}

NumberLocale SettingsPage::UserNumberLocale() {
  NumberLocale loc;
  const QString point = QLocale().decimalPoint();
  if (!point.isEmpty()) loc.decimal_point = point.toStdString();
  return loc;
}

void SettingsPage::RefillLists() {
  const LoadedTexts& texts = form_.Texts();
  RefillList(CmbBits, Family(texts, "str_cmb_bits", kBitsEntries));
  RefillList(Cmb255Ans, Family(texts, "str_cmb_255Ans", kAnswerEntries));
  RefillList(CmbFuelType, Family(texts, "str_cmb_FuelType", kFuelEntries));
}

void SettingsPage::SetBusy(bool busy) { BtnParamsWrite->setEnabled(!busy); }

std::optional<int32_t> SettingsPage::ChosenBaud() const { return BaudOfEntry(CmbBaud2->currentIndex()); }

void SettingsPage::OnFuelTypeChanged(int) {
  // The fuel type reaches FuelRecord through CollectSettingsPage, on the
  // command thread's turn; written from here it could meet a read job that
  // is filling the same record.
  ApplyFuelEnabling();
}

void SettingsPage::ApplyFuelEnabling() {
  const bool on = FuelEditsEnabled(CmbFuelType->currentIndex());
  for (QWidget* w : {static_cast<QWidget*>(EditFuelKu), static_cast<QWidget*>(EditFuelOfs),
                     static_cast<QWidget*>(LblFuelKu), static_cast<QWidget*>(LblFuelOfs)})
    w->setEnabled(on);
}

void SettingsPage::OnParamsWrite() {
  // Both numbers are checked whatever the fuel: the sensor is sent both.
  const NumberLocale loc = UserNumberLocale();
  FuelRecord& fuel = form_.Records().fuel;
  const std::optional<float> coef = ParseFuelNumber(EditFuelKu->text().toStdString(), loc);
  if (!coef) {
    form_.ShowBox(QMessageBox::Critical, "ErrorBox", form_.Texts().Message(Msg::UsThermoWrong),
                  QMessageBox::Ok, nullptr);
    return;
  }
  fuel.ThermalCoef = *coef;
  const std::optional<float> speed = ParseFuelNumber(EditFuelOfs->text().toStdString(), loc);
  if (!speed) {
    form_.ShowBox(QMessageBox::Critical, "ErrorBox", form_.Texts().Message(Msg::UsSpeedWrong),
                  QMessageBox::Ok, nullptr);
    return;
  }
  fuel.SoundSpeed = *speed;
  form_.PostJob(JOB_WRITE_SETTINGS);
}

void SettingsPage::ShowView(const SettingsView& v) {
  for (const TextBinding& b : texts_) b.control->setText(Q(v.*b.field));
  for (const ListBinding& b : lists_) {
    const QSignalBlocker block(b.control);
    const int i = v.*b.field;
    b.control->setCurrentIndex(i >= 0 && i < b.control->count() ? i : -1);
  }
  for (const SpinBinding& b : spins_) b.control->setValue(v.*b.field);
  for (const CheckBinding& b : checks_) b.control->setChecked(v.*b.field);
  ApplyFuelEnabling();
}

SettingsView SettingsPage::TakeView() const {
  // The passport fields are not the page's to change; they start as read.
  SettingsView v = ViewFromRecords(form_.Engine()->settings, form_.Records().fuel, UserNumberLocale());
  for (const TextBinding& b : texts_)
    if (b.collected) v.*b.field = b.control->text().toStdString();
  for (const ListBinding& b : lists_) v.*b.field = b.control->currentIndex();
  for (const SpinBinding& b : spins_) v.*b.field = b.control->TextValue();
  for (const CheckBinding& b : checks_) v.*b.field = b.control->isChecked();
  return v;
}

void SettingsPage::FillSettingsPage() {
  if (!form_.Engine()) return;
  ShowView(ViewFromRecords(form_.Engine()->settings, form_.Records().fuel, UserNumberLocale()));
}

void SettingsPage::CollectSettingsPage() {
  if (!form_.Engine()) return;
  RecordsFromView(TakeView(), form_.Engine()->settings, form_.Records().fuel, UserNumberLocale());
}

}  // namespace kl
