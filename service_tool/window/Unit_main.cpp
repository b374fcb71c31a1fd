#include "Unit_main.h"

#include <QAction>
#include <QApplication>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QIntValidator>
#include <QLibraryInfo>
#include <QLocale>
#include <QProcess>
#include <QScreen>
#include <QSignalBlocker>
#include <QStackedWidget>
#include <QStandardPaths>
#include <QTranslator>
#include <QUrl>
#include <QVBoxLayout>

#include <unistd.h>

#include <cstdlib>

#include "CalibrationPage.h"
#include "Pictures.h"
#include "ScopePage.h"
#include "SettingsPage.h"
#include "UiWindowOps.h"
#include "Unit_logo.h"

namespace kl {
namespace {

// The job each page starts when the user selects it, by page index.
constexpr int kPageJobs[] = {JOB_IDLE, JOB_ENTER_SCOPE, JOB_READ_HUB, JOB_READ_SETTINGS};

QString Q(const std::string& s) { return QString::fromStdString(s); }

std::string CurrentFolder() {
  char buf[4096];
  return getcwd(buf, sizeof buf) ? std::string(buf) : std::string();
}

bool IsTabPage(const QObject* o) {
  const QObject* stack = o->parent();
  return stack && qobject_cast<const QStackedWidget*>(stack) && stack->parent() &&
         qobject_cast<const QTabWidget*>(stack->parent());
}

// True when o lies inside another window that this one merely owns (the
// splash, a message box): that window's controls are not this window's.
bool InOtherWindow(const QObject* o, const QWidget* window) {
  for (const QObject* p = o; p && p != window; p = p->parent()) {
    if (p->isWidgetType() && static_cast<const QWidget*>(p)->isWindow()) return true;
  }
  return false;
}

}  // namespace

UpDownButtons::UpDownButtons(QWidget* parent) : QWidget(parent) {
  auto* l = new QVBoxLayout(this);
  l->setContentsMargins(0, 0, 0, 0);
  l->setSpacing(0);
  up_ = new QToolButton(this);
  up_->setObjectName("SbAddrUp");
  up_->setArrowType(Qt::UpArrow);
  down_ = new QToolButton(this);
  down_->setObjectName("SbAddrDown");
  down_->setArrowType(Qt::DownArrow);
  for (QToolButton* b : {up_, down_}) {
    b->setFixedSize(18, 12);
    b->setAutoRepeat(true);
    l->addWidget(b);
  }
}

void OpenWithDesktop(const std::string& path, std::function<void()> failed) {
  const QString launcher = QStandardPaths::findExecutable("xdg-open");
  if (launcher.isEmpty()) {
    if (!QDesktopServices::openUrl(QUrl::fromLocalFile(Q(path))) && failed) failed();
    return;
  }
  // The desktop's launcher tells only by its exit code that it found no
  // program for the document (Qt starts it detached and never learns). It
  // may also stay until the viewer closes, so it is watched, not waited for;
  // the application owns it, so a launcher still running at the end is ended.
  auto* p = new QProcess(QCoreApplication::instance());
  p->setProcessChannelMode(QProcess::ForwardedChannels);
  QObject::connect(p, &QProcess::finished, p, [p, failed](int code, QProcess::ExitStatus status) {
    if ((status != QProcess::NormalExit || code != 0) && failed) failed();
    p->deleteLater();
  });
  QObject::connect(p, &QProcess::errorOccurred, p, [p, failed](QProcess::ProcessError e) {
    if (e != QProcess::FailedToStart) return;  // a crash also ends in finished()
    if (failed) failed();
    p->deleteLater();
  });
  p->start(launcher, {Q(path)});
}

bool SpeakDesktopLanguage(QCoreApplication& app) {
  auto* qt = new QTranslator(&app);
  if (qt->load(QLocale(), "qtbase", "_", QLibraryInfo::path(QLibraryInfo::TranslationsPath)) &&
      QCoreApplication::installTranslator(qt))
    return true;
  delete qt;
  return false;
}

WindowConfig WindowConfig::ForProgram() {
  WindowConfig c;
  c.programFolder = QCoreApplication::applicationDirPath().toStdString();
  c.languageFolder = c.programFolder;
  // The user's own folder: $KL31_CONFIG_DIR, else ~/.config/KL31.
  std::string userFolder;
  if (const char* dir = std::getenv("KL31_CONFIG_DIR"); dir && *dir) {
    userFolder = dir;
    c.settingsFolders = {dir};
  } else {
    // An installed program cannot write next to itself: ~/.config/KL31.
    const QString userConfig = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    c.settingsFolders = {c.programFolder};
    if (!userConfig.isEmpty()) {
      userFolder = QDir(userConfig).filePath("KL31").toStdString();
      c.settingsFolders.push_back(userFolder);
    }
  }
  if (const char* dir = std::getenv("KL31_LANG_DIR"); dir && *dir) c.languageFolder = dir;
  // The language file is replaced by every build and update, so the choice
  // of language always lives in the user's folder.
  c.languageChoiceFolder = userFolder;
  return c;
}

TForm1::TForm1(WindowConfig config, QWidget* parent)
    : QMainWindow(parent),
      config_(std::move(config)),
      settingsFile_(config_.settingsFolders),
      languageFiles_(config_.languageFolder, config_.languageChoiceFolder) {
  setObjectName("Form1");
  setWindowTitle(kMainCaption);
  ops_ = std::make_unique<UiWindowOps>(*this);
  BuildControls();
  resize(793, 771);
  if (QScreen* s = QGuiApplication::primaryScreen()) {
    const QRect a = s->availableGeometry();
    move(a.center() - QPoint(width() / 2, height() / 2));
  }
  if (config_.splash) {
    splash_ = new TForm_Logo(this, [this] {
      splashTicksWhenShown_ = splash_->Fade().ticks;
      show();
    });
  }
}

TForm1::~TForm1() { ShutDown(); }

std::string TForm1::LanguageFilePath() const {
  return languagePath_.empty() ? languageFiles_.ShippedPath() : languagePath_;
}

void TForm1::BuildControls() {
  auto* central = new QWidget(this);
  central->setObjectName("Form1Client");
  auto* v = new QVBoxLayout(central);
  v->setContentsMargins(0, 0, 0, 0);
  v->setSpacing(0);

  Panel1 = new QWidget(central);
  Panel1->setObjectName("Panel1");
  Panel1->setFixedHeight(kLogoShortHeight);
  ImgLogoShort = new ImagePanel(Panel1);
  ImgLogoShort->setObjectName("ImgLogoShort");
  ImgLogoShort->setPixmap(QPixmap::fromImage(DrawLogoShort()));
  ImgLogoShort->setMinimumSize(1, kLogoShortHeight);
  ImgLogoShort->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
  auto* pl = new QHBoxLayout(Panel1);
  pl->setContentsMargins(0, 0, 0, 0);
  pl->addWidget(ImgLogoShort);
  v->addWidget(Panel1);

  PcMain = new QTabWidget(central);
  PcMain->setObjectName("PcMain");
  TsProgram = BuildProgramPage();
  PcMain->addTab(TsProgram, QString::fromUtf8("Программа"));
  TsOscill = new ScopePage(*this);
  PcMain->addTab(TsOscill, QString::fromUtf8("Осциллограф"));
  TsTara = new CalibrationPage(*this);
  PcMain->addTab(TsTara, QString::fromUtf8("Тарирование"));
  TsSettings = new SettingsPage(*this);
  PcMain->addTab(TsSettings, QString::fromUtf8("Настройки"));
  v->addWidget(PcMain, 1);
  setCentralWidget(central);
  connect(PcMain, &QTabWidget::currentChanged, this, &TForm1::OnPageChanged);

  StatusBar1 = new QStatusBar(this);
  StatusBar1->setObjectName("StatusBar1");
  StatusBar1->setSizeGripEnabled(false);
  StatusPanel0 = new StatusPanel(StatusBar1);
  StatusPanel0->setObjectName("StatusPanel0");
  StatusPanel0->setFixedWidth(450);
  StatusPanel1 = new StatusPanel(StatusBar1);
  StatusPanel1->setObjectName("StatusPanel1");
  StatusPanel1->setMinimumWidth(50);
  StatusBar1->addWidget(StatusPanel0);
  StatusBar1->addWidget(StatusPanel1, 1);
  setStatusBar(StatusBar1);
}

QWidget* TForm1::BuildProgramPage() {
  auto* page = new QWidget;
  page->setObjectName("TsProgram");
  auto* outer = new QVBoxLayout(page);

  GbCom = new QGroupBox(QString::fromUtf8("Настройки порта"), page);
  GbCom->setObjectName("GbCom");
  auto* g = new QGridLayout(GbCom);
  LblCom = new QLabel(QString::fromUtf8("Номер порта:"), GbCom);
  LblCom->setObjectName("LblCom");
  CmbCom = new PortComboBox(GbCom);
  CmbCom->setObjectName("CmbCom");
  CmbCom->beforePopup = [this] { FillComList(); };
  // The entries shown before the system's list replaces them.
  for (int i = 1; i <= 16; ++i) CmbCom->addItem(QString("COM %1").arg(i));
  LblBaud = new QLabel(QString::fromUtf8("Скорость (бит/с):"), GbCom);
  LblBaud->setObjectName("LblBaud");
  CmbBaud = new QComboBox(GbCom);
  CmbBaud->setObjectName("CmbBaud");
  for (int32_t b : kBaudEntries) CmbBaud->addItem(QString::number(b));
  CmbBaud->setCurrentIndex(-1);
  LblAddr = new QLabel(QString::fromUtf8("Адрес устройства:"), GbCom);
  LblAddr->setObjectName("LblAddr");
  EditAddr = new QLineEdit(GbCom);
  EditAddr->setObjectName("EditAddr");
  SbAddr = new UpDownButtons(GbCom);
  SbAddr->setObjectName("SbAddr");
  auto* addrRow = new QHBoxLayout;
  addrRow->setSpacing(2);
  addrRow->addWidget(EditAddr, 1);
  addrRow->addWidget(SbAddr);
  BtnPortOpen = new QPushButton(QString::fromUtf8("Открыть"), GbCom);
  BtnPortOpen->setObjectName("BtnPortOpen");
  BtnPortClose = new QPushButton(QString::fromUtf8("Закрыть"), GbCom);
  BtnPortClose->setObjectName("BtnPortClose");
  BtnSearchDevice = new QPushButton(QString::fromUtf8("Поиск устройства"), GbCom);
  BtnSearchDevice->setObjectName("BtnSearchDevice");
  g->addWidget(LblCom, 0, 0);
  g->addWidget(CmbCom, 0, 1);
  g->addWidget(LblBaud, 1, 0);
  g->addWidget(CmbBaud, 1, 1);
  g->addWidget(LblAddr, 2, 0);
  g->addLayout(addrRow, 2, 1);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(BtnPortOpen);
  buttons->addWidget(BtnPortClose);
  buttons->addWidget(BtnSearchDevice);
  g->addLayout(buttons, 3, 0, 1, 2);
  g->setColumnStretch(1, 1);

  GbFound = new QGroupBox(QString::fromUtf8("Найденный датчик"), page);
  GbFound->setObjectName("GbFound");
  auto* fg = new QGridLayout(GbFound);
  auto addFound = [&](int row, QLabel*& label, const char* labelName, const char* caption, QLineEdit*& edit,
                      const char* editName) {
    label = new QLabel(QString::fromUtf8(caption), GbFound);
    label->setObjectName(labelName);
    edit = new QLineEdit(GbFound);
    edit->setObjectName(editName);
    edit->setReadOnly(true);
    fg->addWidget(label, row, 0);
    fg->addWidget(edit, row, 1);
  };
  addFound(0, LblFoundModel, "LblFoundModel", "Код модели:", EditFoundModel, "EditFoundModel");
  addFound(1, LblFoundSN, "LblFoundSN", "Серийный номер:", EditFoundSN, "EditFoundSN");
  addFound(2, LblFoundDate, "LblFoundDate", "Дата изготовления:", EditFoundDate, "EditFoundDate");
  addFound(3, LblFoundVer, "LblFoundVer", "Версия ПО:", EditFoundVer, "EditFoundVer");
  fg->setColumnStretch(1, 1);

  GbLang = new QGroupBox(QString::fromUtf8("Локализация"), page);
  GbLang->setObjectName("GbLang");
  auto* lg = new QGridLayout(GbLang);
  LblLang = new QLabel(QString::fromUtf8("Язык:"), GbLang);
  LblLang->setObjectName("LblLang");
  CmbLang = new QComboBox(GbLang);
  CmbLang->setObjectName("CmbLang");
  lg->addWidget(LblLang, 0, 0);
  lg->addWidget(CmbLang, 0, 1);
  lg->setColumnStretch(1, 1);

  btn_open_help = new QPushButton(QString::fromUtf8("Открыть инструкцию"), page);
  btn_open_help->setObjectName("btn_open_help");
  btn_open_help->setEnabled(false);

  auto* row = new QHBoxLayout;
  auto* left = new QVBoxLayout;
  left->addWidget(GbCom);
  left->addWidget(GbFound);
  row->addLayout(left, 3);
  auto* right = new QVBoxLayout;
  right->addWidget(GbLang);
  right->addWidget(btn_open_help);
  right->addStretch(1);
  row->addLayout(right, 2);
  outer->addLayout(row);
  outer->addStretch(1);

  connect(CmbCom, &QComboBox::currentIndexChanged, this, &TForm1::OnComChanged);
  connect(CmbBaud, &QComboBox::currentIndexChanged, this, &TForm1::OnBaudChanged);
  connect(EditAddr, &QLineEdit::textChanged, this, &TForm1::OnAddrChanged);
  connect(SbAddr->Up(), &QToolButton::clicked, this, [this] { OnAddrStep(+1); });
  connect(SbAddr->Down(), &QToolButton::clicked, this, [this] { OnAddrStep(-1); });
  connect(BtnPortOpen, &QPushButton::clicked, this, [this] { PostJob(JOB_PORT_OPEN); });
  connect(BtnPortClose, &QPushButton::clicked, this, [this] { PostJob(JOB_PORT_CLOSE); });
  connect(BtnSearchDevice, &QPushButton::clicked, this, [this] { PostJob(JOB_SEARCH); });
  connect(CmbLang, &QComboBox::currentIndexChanged, this, &TForm1::OnLangChanged);
  connect(btn_open_help, &QPushButton::clicked, this, &TForm1::OnOpenHelp);
  return page;
}

// --- start-up ----------------------------------------------------------------

void TForm1::showEvent(QShowEvent* e) {
  QMainWindow::showEvent(e);
  if (!firstShown_) {
    firstShown_ = true;
    FirstShow();
  }
  UpdateMinimumSize();
}

void TForm1::FirstShow() {
  engine_ = std::make_unique<TCmdThread>(records_, link_, *ops_, texts_);
  LoadLanguage();
  {
    // The design entries never show, and nothing is selected yet.
    const QSignalBlocker block(CmbCom);
    CmbCom->clear();
  }
  FillComList();
  settings_ = settingsFile_.Read();
  records_.link = LinkSettings{settings_.port, settings_.baud, settings_.address};
  ShowPortStatus(kPortStatusClosed);
  ShowDeviceStatus(LINK_OK);
  SelectPage(0);
  // The chart series of the oscilloscope page are switched off here once
  // that page has its chart.
  ApplyLinkSettingsToLists();
  // Showing the address runs the address check, which writes the settings
  // file: a first run leaves a file with the values in effect.
  const QString addr = QString::number(settings_.address);
  if (EditAddr->text() == addr)
    OnAddrChanged(addr);
  else
    EditAddr->setText(addr);
}

void TForm1::ApplyLinkSettingsToLists() {
  const QSignalBlocker b1(CmbCom), b2(CmbBaud);
  CmbCom->setCurrentIndex(CmbCom->findText(QString("COM%1").arg(settings_.port), Qt::MatchExactly));
  CmbBaud->setCurrentIndex(CmbBaud->findText(QString::number(settings_.baud), Qt::MatchExactly));
}

void TForm1::FillComList() {
  // Refilling changes no setting: the signals stay blocked.
  const QSignalBlocker block(CmbCom);
  const std::string selected = CmbCom->currentIndex() >= 0 ? CmbCom->currentText().toStdString() : "";
  std::vector<ComPortInfo> ports = config_.listPorts ? config_.listPorts() : std::vector<ComPortInfo>{};
  std::vector<std::string> names;
  for (const ComPortInfo& p : ports) names.push_back(p.name);
  CmbCom->clear();
  for (const std::string& n : RefreshedPortEntries(names, selected)) {
    CmbCom->addItem(Q(n));
    for (const ComPortInfo& p : ports) {
      if (p.name == n && !p.path.empty())
        CmbCom->setItemData(CmbCom->count() - 1, Q(p.path), Qt::ToolTipRole);
    }
  }
  // Without a selection, the port in effect is shown once it is present (a
  // port from the settings file whose adapter was plugged in late).
  QString show = Q(selected);
  if (show.isEmpty() && firstShown_ && settings_.port > 0) show = QString("COM%1").arg(settings_.port);
  CmbCom->setCurrentIndex(show.isEmpty() ? -1 : CmbCom->findText(show, Qt::MatchExactly));
}

// --- language ------------------------------------------------------------------

void TranslateControls(QWidget* window, std::span<const std::string_view> layoutClasses,
                       const SectionLookup& lookup) {
  if (!lookup) return;
  for (QObject* o : window->findChildren<QObject*>()) {
    const QString name = o->objectName();
    if (name.isEmpty() || InOtherWindow(o, window)) continue;
    // A page of a page control is a tab page whatever class implements it.
    const bool tabPage = IsTabPage(o);
    const TranslateAs how =
        TranslationFor(tabPage ? "QWidget" : o->metaObject()->className(), tabPage, layoutClasses);
    if (how == TranslateAs::None) continue;
    const auto value = lookup(name.toStdString());
    if (!value || value->empty()) continue;
    const QString text = Q(*value);
    switch (how) {
      case TranslateAs::Text:
        if (auto* l = qobject_cast<QLabel*>(o))
          l->setText(text);
        else if (auto* b = qobject_cast<QAbstractButton*>(o))
          b->setText(text);
        break;
      case TranslateAs::Title:
        static_cast<QGroupBox*>(o)->setTitle(text);
        break;
      case TranslateAs::TabText: {
        auto* tabs = static_cast<QTabWidget*>(o->parent()->parent());
        tabs->setTabText(tabs->indexOf(static_cast<QWidget*>(o)), text);
        break;
      }
      case TranslateAs::Action:
        static_cast<QAction*>(o)->setText(text);
        break;
      case TranslateAs::None:
        break;
    }
  }
}

std::map<std::string, std::string, std::less<>> TranslateWindow(
    QWidget* window, const std::string& languageFile, std::span<const std::string_view> layoutClasses,
    std::span<const KeyText> messageKeys, std::string_view captionKey, std::string_view defaultCaption) {
  const std::optional<LanguageFile> f = LanguageFile::Load(languageFile);
  SectionLookup lookup;
  if (f) {
    const std::string selected = f->doc.GetString("LANG", "SELECTED", "English");
    lookup = [doc = f->doc, selected](std::string_view key) { return doc.Get(selected, key); };
  }
  TranslateControls(window, layoutClasses, lookup);
  if (!captionKey.empty()) {
    std::optional<std::string> caption = lookup ? lookup(captionKey) : std::nullopt;
    window->setWindowTitle(Q(caption && !caption->empty() ? *caption : std::string(defaultCaption)));
  }
  return LoadKeyTexts(messageKeys, lookup);
}

void TForm1::LoadLanguage() {
  languagePath_ = languageFiles_.Prepare();
  const std::optional<LanguageFile> f = LanguageFile::Load(languagePath_);
  SectionLookup lookup;
  {
    const QSignalBlocker block(CmbLang);
    CmbLang->clear();
    if (f) {
      const LanguageChoice choice = ReadLanguageChoice(f->doc);
      for (const std::string& n : choice.names) CmbLang->addItem(Q(n));
      CmbLang->setCurrentIndex(choice.selectedIndex);
      lookup = [doc = f->doc, s = choice.selected](std::string_view key) { return doc.Get(s, key); };
    }
  }
  TranslateControls(this, MainWindowClasses(), lookup);
  texts_ = LoadedTexts::FromSection(lookup);
  RefillLists();
  helpPath_ = FindHelpFile(texts_.HelpFileName(), CurrentFolder(), config_.programFolder);
  btn_open_help->setEnabled(helpPath_.has_value());
}

void TForm1::RefillLists() {
  TsOscill->RefillLists();
  TsTara->RefillLists();
  TsSettings->RefillLists();
}

void TForm1::OnLangChanged(int index) {
  if (index < 0) return;
  const std::string name = CmbLang->itemText(index).toStdString();
  ShowBox(QMessageBox::Information, "InfoBox", texts_.Message(Msg::ChangeLanguage), QMessageBox::Ok,
          [this, name](QMessageBox::StandardButton) {
            std::string failed;
            if (!languageFiles_.WriteSelected(name, &failed)) ReportWriteFailure(failed);
          });
}

void TForm1::OnOpenHelp() {
  const std::string name = helpPath_ ? *helpPath_ : texts_.HelpFileName();
  // The full path, so that the technician can open the document by hand.
  const std::string path = name.empty() ? name : QFileInfo(Q(name)).absoluteFilePath().toStdString();
  QPointer<TForm1> self(this);
  config_.openDocument(path, [self, path] {
    if (!self || self->shutDown_) return;
    self->ShowBox(QMessageBox::Critical, "ErrorBox", self->texts_.Message(Msg::HelpNotOpened) + "\n" + path,
                  QMessageBox::Ok, nullptr);
  });
}

// --- settings --------------------------------------------------------------------

void TForm1::SaveSettings() {
  std::string failed;
  if (!settingsFile_.Save(settings_, &failed)) ReportWriteFailure(failed);
}

void TForm1::ReportWriteFailure(const std::string& path) {
  ShowBox(QMessageBox::Critical, "ErrorBox", "Unable to write to " + path, QMessageBox::Ok, nullptr);
}

void TForm1::OnComChanged(int index) {
  if (index < 0) {
    settings_.port = 0;
    records_.link.port = 0;
    return;
  }
  settings_.port = PortNumberFromEntry(CmbCom->itemText(index).toStdString());
  records_.link.port = settings_.port;
  SaveSettings();
}

void TForm1::OnBaudChanged(int index) {
  if (index < 0) return;
  settings_.baud = ReadInteger(CmbBaud->itemText(index).toStdString()).value_or(settings_.baud);
  records_.link.baud = settings_.baud;
  SaveSettings();
}

void TForm1::OnAddrChanged(const QString& text) {
  const AddressCheck c = CheckAddressText(text.toStdString(), settings_.address);
  if (c.replaceText) {
    EditAddr->setText(QString::number(c.address));  // runs this check again
    return;
  }
  settings_.address = c.address;
  records_.link.address = c.address;
  if (c.save) SaveSettings();
}

void TForm1::OnAddrStep(int delta) {
  if (auto t = StepAddressText(EditAddr->text().toStdString(), delta)) EditAddr->setText(Q(*t));
}

// --- pages -----------------------------------------------------------------------

void TForm1::PostJob(int code) {
  if (engine_) engine_->PostJob(code);
}

void TForm1::SelectPage(int index) {
  programSelectsPage_ = true;
  PcMain->setCurrentIndex(index);
  programSelectsPage_ = false;
  currentPage_ = PcMain->currentIndex();
}

void TForm1::OnPageChanged(int index) {
  if (programSelectsPage_) return;
  if (pageLock_) {
    // Refused: go back to the page that was shown.
    programSelectsPage_ = true;
    PcMain->setCurrentIndex(currentPage_);
    programSelectsPage_ = false;
    return;
  }
  currentPage_ = index;
  if (index >= 0 && index < static_cast<int>(std::size(kPageJobs))) PostJob(kPageJobs[index]);
}

// --- engine requests -------------------------------------------------------------

void TForm1::ShowPortStatus(int index) { StatusPanel0->setText(Q(texts_.PortStatus(index))); }
void TForm1::ShowDeviceStatus(int code) { StatusPanel1->setText(Q(texts_.DeviceStatus(code))); }

void TForm1::ShowScopePage() {
  SelectPage(1);
  PostJob(JOB_ENTER_SCOPE);
}

void TForm1::ShowProgramPage() {
  PostJob(JOB_IDLE);
  SelectPage(0);
  ShowPortStatus(kPortStatusClosed);
}

void TForm1::SetWaitCursor() {
  if (waitCursor_) return;
  waitCursor_ = true;
  QApplication::setOverrideCursor(Qt::WaitCursor);
}

void TForm1::SetNormalCursor() {
  if (!waitCursor_) return;
  waitCursor_ = false;
  QApplication::restoreOverrideCursor();
}

void TForm1::SetBusy() {
  for (QWidget* w : {static_cast<QWidget*>(BtnPortOpen), static_cast<QWidget*>(BtnPortClose),
                     static_cast<QWidget*>(BtnSearchDevice), static_cast<QWidget*>(PcMain)})
    w->setEnabled(false);
  TsTara->SetBusy(true);
  TsSettings->SetBusy(true);
  pageLock_ = true;
}

void TForm1::SetIdle() {
  TsTara->SetBusy(false);
  TsSettings->SetBusy(false);
  for (QWidget* w : {static_cast<QWidget*>(BtnPortOpen), static_cast<QWidget*>(BtnPortClose),
                     static_cast<QWidget*>(BtnSearchDevice), static_cast<QWidget*>(PcMain)})
    w->setEnabled(true);
  pageLock_ = false;
}

void TForm1::AdoptLinkSettings() {
  settings_.baud = records_.link.baud;
  settings_.address = records_.link.address;
  SaveSettings();
  {
    const QSignalBlocker block(CmbBaud);
    CmbBaud->setCurrentIndex(CmbBaud->findText(QString::number(settings_.baud), Qt::MatchExactly));
  }
  const QString addr = QString::number(settings_.address);
  if (EditAddr->text() == addr)
    OnAddrChanged(addr);
  else
    EditAddr->setText(addr);
}

void TForm1::AdoptNewAddress(int address) {
  records_.link.address = address;
  EditAddr->setText(QString::number(address));
  AdoptLinkSettings();
}

void TForm1::AdoptNewBaud() {
  if (const std::optional<int32_t> baud = TsSettings->ChosenBaud()) records_.link.baud = *baud;
  AdoptLinkSettings();
  // The command thread waits for this operation, so the link is ours here.
  // A port that does not reopen must not be left showing "open".
  const bool reopened = UartOpen(link_, records_.link.port, records_.link.baud) == 0;
  ShowPortStatus(reopened ? kPortStatusOpened : kPortStatusError);
}

void TForm1::ShowDeviceIdentity(bool identified) {
  // The engine waits for this operation, so its fields hold still here.
  const bool show = identified && engine_;
  EditFoundModel->setText(show ? Q(UartFormatModelCode(engine_->modelCode)) : QString());
  EditFoundSN->setText(show ? Q(UartFormatSerial(engine_->settings.Serial)) : QString());
  EditFoundDate->setText(show ? Q(UartFormatDate(engine_->settings.Date)) : QString());
  EditFoundVer->setText(show ? Q(UartFormatFirmware(engine_->settings.FirmwareVersion)) : QString());
}

void TForm1::EnableReadouts(bool on) {
  TsOscill->EnableReadouts(on);
  // The page-change lock follows the read-outs: off while the sensor's own
  // tuning or a display test runs.
  pageLock_ = !on;
}

void TForm1::ReadOscillMode() { TsOscill->ReadOscillMode(); }

QMessageBox* TForm1::ShowBox(QMessageBox::Icon icon, const QString& objectName, const std::string& text,
                             QMessageBox::StandardButtons buttons,
                             std::function<void(QMessageBox::StandardButton)> onClosed) {
  auto* box = new QMessageBox(icon, kMainCaption, Q(text), buttons, this);
  box->setObjectName(objectName);
  // Modal to the whole program, like any message box, but shown without a
  // nested event loop: the window keeps painting and the engine's requests
  // keep being served. While the engine waits for the user's answer nobody
  // can change a setting the job goes on to use, and the window cannot be
  // closed under a language choice that is not written yet.
  box->setWindowModality(Qt::ApplicationModal);
  box->setAttribute(Qt::WA_DeleteOnClose);
  connect(box, &QMessageBox::finished, this, [box, onClosed](int) {
    const QMessageBox::StandardButton b = box->standardButton(box->clickedButton());
    if (onClosed) onClosed(b);
  });
  std::erase_if(boxes_, [](const QPointer<QMessageBox>& p) { return p.isNull(); });
  boxes_.push_back(box);
  box->show();
  return box;
}

// --- shut-down and size ------------------------------------------------------------

void TForm1::ShutDown() {
  if (shutDown_) return;
  shutDown_ = true;
  // First release a command thread that waits for this window; then no box
  // may keep the program alive; then the engine can end and the port close.
  ops_->Close();
  for (const QPointer<QMessageBox>& b : boxes_) {
    if (b) {
      b->disconnect(this);
      b->close();
    }
  }
  boxes_.clear();
  if (engine_) engine_->Terminate();
  UartClose(link_);
  SetNormalCursor();
}

void TForm1::closeEvent(QCloseEvent* e) {
  ShutDown();
  QMainWindow::closeEvent(e);
}

void TForm1::UpdateMinimumSize() {
  // The limits are for the outer size; the frame is known only once shown.
  const QSize frame = frameGeometry().size() - geometry().size();
  setMinimumSize(kMinOuterWidth - frame.width(), kMinOuterHeight - frame.height());
}

void TForm1::changeEvent(QEvent* e) {
  QMainWindow::changeEvent(e);
  if (e->type() == QEvent::WindowStateChange) UpdateMinimumSize();
}

void TForm1::UpdateLogoFit() {
  if (!ImgLogoShort) return;
  const bool fill = LogoFitFor(kLogoShortWidth, Panel1->width()) == LogoFit::Fill;
  ImgLogoShort->setScaledContents(fill);
  ImgLogoShort->setAlignment(fill ? Qt::AlignLeft | Qt::AlignVCenter : Qt::AlignRight | Qt::AlignVCenter);
}

void TForm1::resizeEvent(QResizeEvent* e) {
  QMainWindow::resizeEvent(e);
  UpdateLogoFit();
}

}  // namespace kl
