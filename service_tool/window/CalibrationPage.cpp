#include "CalibrationPage.h"

#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QSignalBlocker>
#include <QTimer>
#include <QVBoxLayout>

#include <vector>

#include "CalibrationRules.h"
#include "TareMessages.h"
#include "Unit_main.h"
#include "Unit_tare.h"
#include "Unit_xls.h"

namespace kl {

namespace {

constexpr int kIdleRetryMs = 100;

QString Q(const std::string& s) { return QString::fromStdString(s); }
QString U(const char* s) { return QString::fromUtf8(s); }

// A TareUi that does not block: what the image's rules report is collected
// and shown afterwards in boxes that return at once. Its only question
// (msg_table_too_big) is a report whose answer changes nothing.
struct CollectingUi : TareUi {
  std::vector<std::pair<std::string, int>> shown;
  void ShowError(std::string_view key, int row) override { shown.emplace_back(std::string(key), row); }
  bool AskYesNo(std::string_view key) override {
    shown.emplace_back(std::string(key), 0);
    return false;
  }
};

}  // namespace

CalibrationPage::CalibrationPage(TForm1& form, QWidget* parent) : QWidget(parent), form_(form) {
  setObjectName("TsTara");
  BuildControls();
  ApplyEnabling();
}

void CalibrationPage::BuildControls() {
  auto* outer = new QVBoxLayout(this);

  GbTara = new QGroupBox(U("Тарирование"), this);
  GbTara->setObjectName("GbTara");
  auto* g = new QGridLayout(GbTara);
  auto label = [&](QLabel*& l, const char* name, const char* text) {
    l = new QLabel(U(text), GbTara);
    l->setObjectName(name);
  };
  label(LblHubVer, "LblHubVer", "Версия хаба:");
  EditHubVersion = new QLineEdit(GbTara);
  EditHubVersion->setObjectName("EditHubVersion");
  EditHubVersion->setReadOnly(true);
  label(LblHubTankID, "LblHubTankID", "Тип бака:");
  CmbHubTankID = new QComboBox(GbTara);
  CmbHubTankID->setObjectName("CmbHubTankID");
  BtnHubTareTable = new QPushButton(U("Таблица"), GbTara);
  BtnHubTareTable->setObjectName("BtnHubTareTable");
  label(LblHubTableLen, "LblHubTableLen", "Кол-во записей:");
  EditHubTableLen = new QLineEdit(GbTara);
  EditHubTableLen->setObjectName("EditHubTableLen");
  EditHubTableLen->setReadOnly(true);
  label(LblHubTankHeight, "LblHubTankHeight", "Высота бака, мм:");
  SpinHubTankHeight = new QSpinBox(GbTara);
  SpinHubTankHeight->setObjectName("SpinHubTankHeight");
  SpinHubTankHeight->setRange(kTankHeightMinMm, kTankHeightMaxMm);
  SpinHubTankHeight->setValue(kTankHeightMinMm);
  label(LblHubMlPerBit, "LblHubMlPerBit", "Выдача в литрах:");
  CmbHubMlPerBit = new QComboBox(GbTara);
  CmbHubMlPerBit->setObjectName("CmbHubMlPerBit");
  BtnHubTareSet = new QPushButton(U("Установить"), GbTara);
  BtnHubTareSet->setObjectName("BtnHubTareSet");

  g->addWidget(LblHubVer, 0, 0);
  g->addWidget(EditHubVersion, 0, 1);
  g->addWidget(LblHubTankID, 1, 0);
  g->addWidget(CmbHubTankID, 1, 1);
  g->addWidget(BtnHubTareTable, 1, 2);
  g->addWidget(LblHubTableLen, 2, 0);
  g->addWidget(EditHubTableLen, 2, 1);
  g->addWidget(LblHubTankHeight, 3, 0);
  g->addWidget(SpinHubTankHeight, 3, 1);
  g->addWidget(LblHubMlPerBit, 4, 0);
  g->addWidget(CmbHubMlPerBit, 4, 1);
  g->addWidget(BtnHubTareSet, 5, 1, 1, 2);
  g->setColumnStretch(1, 1);

  GbExcelImpExp = new QGroupBox(U("Импорт/экспорт списка предустановленных баков"), this);
  GbExcelImpExp->setObjectName("GbExcelImpExp");
  auto* x = new QHBoxLayout(GbExcelImpExp);
  BtnTanksImp = new QPushButton(U("Импорт списка"), GbExcelImpExp);
  BtnTanksImp->setObjectName("BtnTanksImp");
  BtnTanksExp = new QPushButton(U("Экспорт списка"), GbExcelImpExp);
  BtnTanksExp->setObjectName("BtnTanksExp");
  x->addWidget(BtnTanksImp);
  x->addWidget(BtnTanksExp);
  x->addStretch(1);

  auto* row = new QHBoxLayout;
  row->addWidget(GbTara, 1);
  row->addStretch(1);
  outer->addLayout(row);
  auto* row2 = new QHBoxLayout;
  row2->addWidget(GbExcelImpExp, 1);
  row2->addStretch(1);
  outer->addLayout(row2);
  outer->addStretch(1);

  connect(CmbHubTankID, &QComboBox::activated, this, &CalibrationPage::OnTankChosen);
  connect(BtnHubTareTable, &QPushButton::clicked, this, &CalibrationPage::OnTareTable);
  connect(BtnHubTareSet, &QPushButton::clicked, this, [this] { form_.PostJob(JOB_WRITE_HUB); });
  connect(BtnTanksImp, &QPushButton::clicked, this, &CalibrationPage::OnTanksImport);
  connect(BtnTanksExp, &QPushButton::clicked, this, &CalibrationPage::OnTanksExport);
}

void CalibrationPage::RefillLists() {
  const QSignalBlocker block(CmbHubMlPerBit);
  CmbHubMlPerBit->clear();
  for (int i = 0; i < 5; ++i) CmbHubMlPerBit->addItem(Q(form_.Texts().List("str_cmb_MlPerBit", i)));
  CmbHubMlPerBit->setCurrentIndex(-1);
}

void CalibrationPage::SetBusy(bool busy) {
  busy_ = busy;
  ApplyEnabling();
}

void CalibrationPage::ApplyEnabling() {
  const CalibrationEnabling e =
      CalibrationEnablingFor(busy_, imageRefused_, form_.Records().calibration.SelectedTankID);
  EditHubVersion->setEnabled(e.EditHubVersion);
  CmbHubTankID->setEnabled(e.CmbHubTankID);
  BtnHubTareSet->setEnabled(e.BtnHubTareSet);
  BtnHubTareTable->setEnabled(e.BtnHubTareTable);
  EditHubTableLen->setEnabled(e.EditHubTableLen);
  CmbHubMlPerBit->setEnabled(e.CmbHubMlPerBit);
  SpinHubTankHeight->setEnabled(e.SpinHubTankHeight);
  BtnTanksImp->setEnabled(e.BtnTanksImp);
  BtnTanksExp->setEnabled(e.BtnTanksExp);
}

// --- window operations ---------------------------------------------------------

void CalibrationPage::ShowHubImage(std::function<void()> done) {
  EngineRecords& r = form_.Records();
  if (HubIsValid(&r.hub)) {
    FillFromImage();
    done();
    return;
  }
  form_.ShowBox(QMessageBox::Critical, "QuestionBox", form_.Texts().Message(Msg::HubWrong),
                QMessageBox::Yes | QMessageBox::No, [this, done](QMessageBox::StandardButton b) {
                  if (b == QMessageBox::Yes) {
                    HubMakeDefault(&form_.Records().hub);
                    FillFromImage();
                  } else {
                    RefuseImage();
                  }
                  done();
                });
}

void CalibrationPage::FillFromImage() {
  EngineRecords& r = form_.Records();
  const uint16_t selected = r.calibration.SelectedTankID;
  const HubPageView v = HubPageFor(r.hub, selected, r.calibration.CustomTankHeight);
  imageRefused_ = false;
  EditHubVersion->setText(Q(v.versionText));
  {
    const QSignalBlocker block(CmbHubTankID);
    CmbHubTankID->clear();
    for (const std::string& id : v.tankIds) CmbHubTankID->addItem(Q(id));
    CmbHubTankID->setCurrentIndex(v.selectedEntry);
  }
  SpinHubTankHeight->setValue(TankHeightSpinValue(v.heightMm));
  if (v.tableLen && HubLoadTankTable(&r.hub, selected, &r.tankTable))
    EditHubTableLen->setText(QString::number(r.tankTable.TableLen));
  {
    const QSignalBlocker block(CmbHubMlPerBit);
    CmbHubMlPerBit->setCurrentIndex(v.mlPerBitIndex < CmbHubMlPerBit->count() ? v.mlPerBitIndex : -1);
  }
  ApplyEnabling();
}

void CalibrationPage::RefuseImage() {
  imageRefused_ = true;
  EditHubVersion->clear();
  EditHubTableLen->clear();
  {
    const QSignalBlocker block(CmbHubTankID);
    CmbHubTankID->clear();
  }
  ApplyEnabling();
}

void CalibrationPage::StoreHubImage(std::function<void()> done) {
  EngineRecords& r = form_.Records();
  r.hubStored = false;
  const uint16_t selected = r.calibration.SelectedTankID;
  if (TankHeightFromSensor(selected))
    r.calibration.CustomTankHeight = static_cast<uint16_t>(SpinHubTankHeight->value() * 10);

  auto store = [this, done, selected](bool rebuildInvalid) {
    EngineRecords& rec = form_.Records();
    CollectingUi collected;
    rec.hubStored = StoreHubForWriting(rec.hub, rec.tankTable, selected, CmbHubMlPerBit->currentIndex(),
                                       rebuildInvalid, collected);
    // Each report in its own box, one after the other; the job goes on
    // once the user has closed the last.
    std::function<void()> chain = done;
    for (size_t i = collected.shown.size(); i-- > 0;) {
      chain = [this, text = MessageText(collected.shown[i].first, collected.shown[i].second), chain] {
        Box(QMessageBox::Critical, text, chain);
      };
    }
    chain();
  };
  if (HubIsValid(&r.hub)) {
    store(false);
    return;
  }
  form_.ShowBox(QMessageBox::Critical, "QuestionBox", form_.Texts().Message(Msg::HubWrong),
                QMessageBox::Yes | QMessageBox::No,
                [store](QMessageBox::StandardButton b) { store(b == QMessageBox::Yes); });
}

void CalibrationPage::ShowLevel(int levelCode, bool noData) {
  TareWindowShowLevel(tareWindow_, levelCode, noData);
}

// --- user actions ------------------------------------------------------------------

void CalibrationPage::OnTankChosen(int index) {
  if (index < 0) return;
  bool ok = false;
  const int id = CmbHubTankID->itemText(index).toInt(&ok);
  if (!ok) return;
  form_.Records().calibration.SelectedTankID = static_cast<uint16_t>(id);
  form_.PostJob(JOB_SHOW_HUB);
}

void CalibrationPage::OnTareTable() {
  if (tareWindow_) return;
  EngineRecords& r = form_.Records();
  r.calibration.TareMode = 1;
  form_.PostJob(JOB_TARE_MODE);
  TareWindowOptions options;
  options.languageFile = form_.LanguageFilePath();
  options.journalFolder = QFileInfo(Q(form_.SettingsPath())).absolutePath().toStdString();
  tareWindow_ = OpenTareWindow(&form_, r.tankTable, TareWindowReadOnly(r.calibration.SelectedTankID), options,
                               [this](bool) {
                                 tareWindow_ = nullptr;
                                 EngineRecords& rec = form_.Records();
                                 EditHubTableLen->setText(QString::number(rec.tankTable.TableLen));
                                 // Even when nothing changed: the sensor must
                                 // leave calibration mode.
                                 rec.calibration.TareMode = 0;
                                 form_.PostJob(JOB_TARE_MODE);
                               });
}

QFileDialog* CalibrationPage::MakeFileDialog(const char* name, bool save) {
  auto* d = new QFileDialog(this, QString(), QString(), QString::fromUtf8(kXlsDialogFilter));
  d->setObjectName(name);
  d->setAttribute(Qt::WA_DeleteOnClose);
  d->setWindowModality(Qt::ApplicationModal);
  d->setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  // Open: an existing file only. Save: asks before overwriting (the default).
  d->setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
  d->selectFile(QString());
  return d;
}

void CalibrationPage::WhenIdle(std::function<void()> fn) {
  // A transfer that began while a file dialog was open owns the image until
  // it ends; the exchange waits for it.
  if (!busy_) {
    fn();
    return;
  }
  QTimer::singleShot(kIdleRetryMs, this, [this, fn = std::move(fn)]() mutable { WhenIdle(std::move(fn)); });
}

void CalibrationPage::OnTanksImport() {
  QFileDialog* d = MakeFileDialog("OpenDialog1", false);
  connect(d, &QFileDialog::fileSelected, this, [this](const QString& file) {
    WhenIdle([this, file] {
      EngineRecords& r = form_.Records();
      const XlsResult result = PresetListImport(r.hub, r.tankTable, file.toStdString());
      if (!result.text.empty())
        Box(result.ok ? QMessageBox::Information : QMessageBox::Critical, result.text);
      // The image changed in memory only; the sensor gets it with the set
      // button.
      form_.PostJob(JOB_SHOW_HUB);
    });
  });
  d->open();
}

void CalibrationPage::OnTanksExport() {
  QFileDialog* d = MakeFileDialog("SaveDialog1", true);
  connect(d, &QFileDialog::fileSelected, this, [this](const QString& file) {
    WhenIdle([this, file] {
      const XlsResult result = PresetListExport(form_.Records().hub, file.toStdString());
      if (!result.text.empty())
        Box(result.ok ? QMessageBox::Information : QMessageBox::Critical, result.text);
    });
  });
  d->open();
}

void CalibrationPage::Box(QMessageBox::Icon icon, const std::string& text, std::function<void()> then) {
  form_.ShowBox(icon, icon == QMessageBox::Information ? "InfoBox" : "ErrorBox", text, QMessageBox::Ok,
                [then](QMessageBox::StandardButton) {
                  if (then) then();
                });
}

std::string CalibrationPage::MessageText(std::string_view key, int row) const {
  std::string text = form_.Texts().Message(key);
  if (text.empty()) text = std::string(TareBuiltinText(key));
  return TareMessageText(text, row);
}

}  // namespace kl
