// The main window on the offscreen platform: start-up, settings file,
// language file, program page, and the whole chain from the Search button to
// the virtual sensor and back to the status bar.
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QStatusBar>
#include <QTabBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTranslator>
#include <QToolButton>

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <thread>

#include "ConfigFiles.h"
#include "UiInvoker.h"
#include "Unit_logo.h"
#include "Unit_main.h"
#include "virtual_sensor.h"
#include "WindowTestUtil.h"

using namespace kltest;

using namespace kl;
namespace fs = std::filesystem;

namespace {

constexpr int kBoxWaitMs = 20000;  // generous: sanitizer builds are slow
constexpr int kSearchWaitMs = 120000;

std::string ReadFile(const std::string& p) { return ReadWholeFile(p).value_or("<missing>"); }
void WriteFile(const std::string& p, const std::string& bytes) {
  std::ofstream(p, std::ios::binary) << bytes;
}

std::vector<ComPortInfo> Ports(std::initializer_list<int> numbers) {
  std::vector<ComPortInfo> out;
  for (int n : numbers) out.push_back({n, "COM" + std::to_string(n), "/dev/ttyS" + std::to_string(n - 1)});
  return out;
}

// The visible box of that name, if one is open.
QString PanelText(TForm1& f, int panel) {
  return Child<QLabel>(&f, panel == 0 ? "StatusPanel0" : "StatusPanel1")->text();
}

}  // namespace

class MainWindowTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<QTemporaryDir> tmp_;
  std::string settingsDir_, langDir_, portsDir_;

  WindowConfig Config(std::vector<ComPortInfo> ports) {
    WindowConfig c;
    c.programFolder = langDir_;
    c.settingsFolders = {settingsDir_};
    c.languageFolder = langDir_;
    c.splash = false;
    c.listPorts = [ports] { return ports; };
    return c;
  }
  std::string IniPath() const { return JoinPath(settingsDir_, kSettingsFileName); }
  std::string LngPath() const { return JoinPath(langDir_, kLanguageFileName); }

  std::unique_ptr<TForm1> Open(WindowConfig c) {
    auto f = std::make_unique<TForm1>(std::move(c));
    f->show();
    if (!QTest::qWaitForWindowExposed(f.get())) qWarning("window not exposed");
    return f;
  }

 private slots:
  void init() {
    tmp_ = std::make_unique<QTemporaryDir>();
    QVERIFY(tmp_->isValid());
    const std::string base = tmp_->path().toStdString();
    settingsDir_ = base + "/settings";
    langDir_ = base + "/program";
    portsDir_ = base + "/ports";
    for (auto& d : {settingsDir_, langDir_, portsDir_}) fs::create_directories(d);
    setenv("KL31_PORTS_DIR", portsDir_.c_str(), 1);
  }
  void cleanup() { tmp_.reset(); }

  void firstRunWithoutSettingsFile() {
    auto f = Open(Config(Ports({2, 10, 1})));
    QCOMPARE(f->windowTitle(), QString("KL31 Install Service v.2.0.0.9"));
    auto* com = Child<QComboBox>(f.get(), "CmbCom");
    QCOMPARE(com->count(), 3);
    QCOMPARE(com->itemText(0), QString("COM1"));
    QCOMPARE(com->itemText(1), QString("COM10"));
    QCOMPARE(com->itemText(2), QString("COM2"));
    QCOMPARE(com->currentText(), QString("COM1"));
    QCOMPARE(com->itemData(0, Qt::ToolTipRole).toString(), QString("/dev/ttyS0"));
    QCOMPARE(Child<QComboBox>(f.get(), "CmbBaud")->currentText(), QString("19200"));
    QCOMPARE(Child<QLineEdit>(f.get(), "EditAddr")->text(), QString("1"));
    QCOMPARE(ReadFile(IniPath()), std::string("[UART]\r\nNUM=1\r\nBAUD=19200\r\nADDR=1\r\n"));
    QCOMPARE(Child<QTabWidget>(f.get(), "PcMain")->currentWidget()->objectName(), QString("TsProgram"));
    QCOMPARE(PanelText(*f, 0), QString::fromUtf8("Статус порта: Порт закрыт"));
    QCOMPARE(PanelText(*f, 1), QString::fromUtf8("Статус устройства: ОК"));
    QVERIFY(!Child<QPushButton>(f.get(), "btn_open_help")->isEnabled());
    QVERIFY(f->Engine() != nullptr);
    QCOMPARE(f->Records().link.port, 1);
  }

  void portAndRateFromTheFileNotInTheLists() {
    WriteFile(IniPath(), "[UART]\nNUM=5\nBAUD=12345\nADDR=7\n");
    auto f = Open(Config(Ports({1, 2})));
    QCOMPARE(Child<QComboBox>(f.get(), "CmbCom")->currentIndex(), -1);
    QCOMPARE(Child<QComboBox>(f.get(), "CmbBaud")->currentIndex(), -1);
    QCOMPARE(f->Records().link.port, 5);  // still used by the link
    QCOMPARE(f->Records().link.baud, 12345);
    // Choosing a port takes its number and saves all three values.
    Child<QComboBox>(f.get(), "CmbCom")->setCurrentIndex(1);
    QCOMPARE(f->Records().link.port, 2);
    QCOMPARE(ReadFile(IniPath()), std::string("[UART]\nNUM=2\nBAUD=12345\nADDR=7\n"));
    Child<QComboBox>(f.get(), "CmbBaud")->setCurrentIndex(6);
    QCOMPARE(f->Records().link.baud, 115200);
  }

  void addressEditRules() {
    WriteFile(IniPath(), "[Other]\nKeep=1\n[UART]\nADDR=300\n");
    auto f = Open(Config(Ports({1})));
    auto* edit = Child<QLineEdit>(f.get(), "EditAddr");
    QCOMPARE(edit->text(), QString("300"));
    QCOMPARE(f->Settings().address, 255);
    QCOMPARE(f->Records().link.address, 255);
    QCOMPARE(ReadFile(IniPath()), std::string("[Other]\nKeep=1\n[UART]\nADDR=255\nNUM=1\nBAUD=19200\n"));
    QTest::mouseClick(Child<QToolButton>(f.get(), "SbAddrUp"), Qt::LeftButton);
    QCOMPARE(edit->text(), QString("301"));
    QCOMPARE(f->Settings().address, 255);
    edit->clear();
    QCOMPARE(edit->text(), QString("255"));  // replaced at once by the address in effect
    edit->setText("-3");
    QCOMPARE(f->Settings().address, 0);
    QTest::mouseClick(Child<QToolButton>(f.get(), "SbAddrDown"), Qt::LeftButton);
    QCOMPARE(edit->text(), QString("-4"));
    edit->setText("12");
    QCOMPARE(f->Records().link.address, 12);
    QVERIFY(ReadFile(IniPath()).find("ADDR=12") != std::string::npos);
  }

  void unwritableSettingsFileIsReported() {
    WriteFile(tmp_->path().toStdString() + "/afile", "x");
    WindowConfig c = Config(Ports({1}));
    c.settingsFolders = {tmp_->path().toStdString() + "/afile/sub"};
    auto f = Open(c);
    QTRY_VERIFY_WITH_TIMEOUT(FindBox("ErrorBox") != nullptr, kBoxWaitMs);
    QCOMPARE(FindBox("ErrorBox")->text(),
             QString::fromStdString("Unable to write to " + tmp_->path().toStdString() + "/afile/sub/" +
                                    kSettingsFileName));
    QCOMPARE(f->Settings().address, 1);  // the value stays in effect
  }

  void resizeLimits() {
    auto f = Open(Config(Ports({1})));
    // The limits are on the outer size, frame included.
    const QSize frame = f->frameGeometry().size() - f->size();
    auto outer = [&](int w, int h) { f->resize(w - frame.width(), h - frame.height()); };
    outer(1000, 700);
    outer(808, 600);
    QVERIFY(f->frameGeometry().width() >= 809);
    outer(900, 499);
    QVERIFY(f->frameGeometry().height() >= 500);
    outer(809, 500);
    QCOMPARE(f->frameGeometry().size(), QSize(809, 500));
  }

  void languageFileCases_data() {
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QStringList>("languages");
    QTest::addColumn<int>("selected");
    QTest::addColumn<QString>("openCaption");
    QTest::addColumn<QString>("closedStatus");
    const QByteArray english =
        "[English]\r\nBtnPortOpen=Open\r\nTsProgram=Program\r\nGbCom=Port settings\r\n"
        "EditAddr=not a caption\r\nImgLogoShort=not a caption\r\nStatusPanel0=not a caption\r\n"
        "sta_port_closed=Port: closed\r\nsta_device9=never\r\nstr_cmb_Atten1=On\r\n";
    QTest::newRow("no file") << QByteArray() << QStringList{} << -1 << QString::fromUtf8("Открыть")
                             << QString::fromUtf8("Статус порта: Порт закрыт");
    QTest::newRow("LANG2 missing")
        << QByteArray("[LANG]\r\nSELECTED=English\r\nLANG1=English\r\nLANG3=Русский\r\n") + english
        << QStringList{"English"} << 0 << QString("Open") << QString("Port: closed");
    QTest::newRow("SELECTED in other case")
        << QByteArray("[lang]\r\nselected=english\r\nLANG1=English\r\n") + english << QStringList{"English"}
        << -1 << QString("Open") << QString("Port: closed");
    QTest::newRow("no section for SELECTED")
        << QByteArray("[LANG]\r\nSELECTED=Deutsch\r\nLANG1=English\r\nLANG2=Deutsch\r\n") + english
        << QStringList{"English", "Deutsch"} << 1 << QString::fromUtf8("Открыть")
        << QString::fromUtf8("Статус порта: Порт закрыт");
  }

  void languageFileCases() {
    QFETCH(QByteArray, file);
    QFETCH(QStringList, languages);
    QFETCH(int, selected);
    QFETCH(QString, openCaption);
    QFETCH(QString, closedStatus);
    if (!file.isEmpty()) WriteFile(LngPath(), file.toStdString());
    auto f = Open(Config(Ports({1})));
    auto* lang = Child<QComboBox>(f.get(), "CmbLang");
    QStringList got;
    for (int i = 0; i < lang->count(); ++i) got << lang->itemText(i);
    QCOMPARE(got, languages);
    QCOMPARE(lang->currentIndex(), selected);
    QCOMPARE(Child<QPushButton>(f.get(), "BtnPortOpen")->text(), openCaption);
    QCOMPARE(PanelText(*f, 0), closedStatus);
    QCOMPARE(QString::fromStdString(f->Texts().DeviceStatus(9)), QString());
    // Only exact classes of the list are renamed.
    QVERIFY(Child<QLineEdit>(f.get(), "EditAddr")->text() != "not a caption");
    QVERIFY(Child<QLabel>(f.get(), "StatusPanel0")->text() != "not a caption");
    QVERIFY(Child<QLabel>(f.get(), "ImgLogoShort")->text() != "not a caption");
    if (openCaption == "Open") {
      QCOMPARE(Child<QTabWidget>(f.get(), "PcMain")->tabText(0), QString("Program"));
      QCOMPARE(Child<QGroupBox>(f.get(), "GbCom")->title(), QString("Port settings"));
      QCOMPARE(f->Texts().List("str_cmb_Atten1"), std::string("On"));
    }
  }

  void encodingsOfTheLanguageFile_data() {
    QTest::addColumn<int>("encoding");
    QTest::newRow("UTF-16 LE with mark") << int(TextEncoding::Utf16LeBom);
    QTest::newRow("Windows-1251") << int(TextEncoding::Windows1251);
    QTest::newRow("UTF-8 without mark") << int(TextEncoding::Utf8);
  }

  void encodingsOfTheLanguageFile() {
    QFETCH(int, encoding);
    const std::string text =
        "[LANG]\r\nSELECTED=Украинский\r\nLANG1=English\r\nLANG2=Украинский\r\n"
        "[English]\r\nBtnPortOpen=Open\r\n"
        "[Украинский]\r\nBtnPortOpen=Відкрити\r\nsta_port_closed=Статус порту: закрито\r\n"
        "hepl_file_name=manual.html\r\n";
    WriteFile(LngPath(), EncodeText(text, static_cast<TextEncoding>(encoding)));
    WriteFile(JoinPath(langDir_, "manual.html"), "<html></html>");
    auto f = Open(Config(Ports({1})));
    QCOMPARE(Child<QPushButton>(f.get(), "BtnPortOpen")->text(), QString::fromUtf8("Відкрити"));
    QCOMPARE(PanelText(*f, 0), QString::fromUtf8("Статус порту: закрито"));
    QVERIFY(Child<QPushButton>(f.get(), "btn_open_help")->isEnabled());
    auto* lang = Child<QComboBox>(f.get(), "CmbLang");
    QCOMPARE(lang->currentIndex(), 1);

    // Picking another language: the box first, then SELECTED is written back
    // in the file's own encoding with the rest left alone.
    lang->setCurrentIndex(0);
    QTRY_VERIFY_WITH_TIMEOUT(FindBox("InfoBox") != nullptr, kBoxWaitMs);
    QCOMPARE(QApplication::activeModalWidget(), FindBox("InfoBox"));  // the window cannot close under it
    QCOMPARE(FindBox("InfoBox")->text(),
             QString::fromUtf8("Необходимо перезапустить программу, чтобы изменения вступили в силу"));
    QCOMPARE(ReadFile(LngPath()), EncodeText(text, static_cast<TextEncoding>(encoding)));  // not yet
    QTest::mouseClick(FindBox("InfoBox")->button(QMessageBox::Ok), Qt::LeftButton);
    std::string expected = text;
    expected.replace(expected.find("SELECTED=Украинский"), std::string("SELECTED=Украинский").size(),
                     "SELECTED=English");
    QTRY_COMPARE_WITH_TIMEOUT(ReadFile(LngPath()), EncodeText(expected, static_cast<TextEncoding>(encoding)),
                              kBoxWaitMs);
    // Nothing is reloaded until the next start.
    QCOMPARE(Child<QPushButton>(f.get(), "BtnPortOpen")->text(), QString::fromUtf8("Відкрити"));
  }

  void shippedLanguageFile_data() {
    QTest::addColumn<QString>("language");
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("portClosed");
    QTest::newRow("Русский") << QString::fromUtf8("Русский") << 0
                             << QString::fromUtf8("Статус порта: Порт закрыт");
    QTest::newRow("English") << QString("English") << 1 << QString("Port status: closed");
  }

  void shippedLanguageFile() {
    QFETCH(QString, language);
    QFETCH(int, index);
    QFETCH(QString, portClosed);
    const std::string res = KL_RESOURCES_DIR;
    for (const char* name :
         {kLanguageFileName, "KL31_Install_Service_manual.html", "KL31_Install_Service_manual_en.html"})
      fs::copy_file(JoinPath(res, name), JoinPath(langDir_, name));
    QVERIFY(LanguageFile::WriteSelected(LngPath(), language.toStdString()));
    const auto file = LanguageFile::Load(LngPath());
    QVERIFY(file.has_value());
    auto f = Open(Config(Ports({1})));
    QCOMPARE(Child<QComboBox>(f.get(), "CmbLang")->currentIndex(), index);
    QCOMPARE(Child<QComboBox>(f.get(), "CmbLang")->currentText(), language);
    auto expect = [&](const char* key) {
      return QString::fromStdString(file->doc.GetString(language.toStdString(), key, "<missing>"));
    };
    for (const char* key : {"LblCom", "LblBaud", "LblAddr", "LblLang"})
      QCOMPARE(Child<QLabel>(f.get(), key)->text(), expect(key));
    for (const char* key : {"BtnPortOpen", "BtnPortClose", "BtnSearchDevice", "btn_open_help"})
      QCOMPARE(Child<QPushButton>(f.get(), key)->text(), expect(key));
    for (const char* key : {"GbCom", "GbLang"})
      QCOMPARE(Child<QGroupBox>(f.get(), key)->title(), expect(key));
    auto* tabs = Child<QTabWidget>(f.get(), "PcMain");
    for (int i = 0; i < tabs->count(); ++i)
      QCOMPARE(tabs->tabText(i), expect(tabs->widget(i)->objectName().toUtf8().constData()));
    QCOMPARE(PanelText(*f, 0), portClosed);
    QCOMPARE(PanelText(*f, 1), expect("sta_device0"));
    QCOMPARE(f->windowTitle(), QString(kMainCaption));
    // Each language opens its own manual, shipped next to the program.
    QVERIFY(Child<QPushButton>(f.get(), "btn_open_help")->isEnabled());
    QCOMPARE(QString::fromStdString(f->Texts().HelpFileName()), expect("hepl_file_name"));
  }

  void translateAnotherWindow() {
    WriteFile(LngPath(),
              "[LANG]\nSELECTED=English\n[English]\nlbl_a=Level\nbtn_b=Add\nForm_Add=Add point\nmsg_x=X!\n");
    QDialog dlg;
    auto* l = new QLabel(QString::fromUtf8("Уровень"), &dlg);
    l->setObjectName("lbl_a");
    auto* b = new QPushButton(QString::fromUtf8("Добавить"), &dlg);
    b->setObjectName("btn_b");
    constexpr std::string_view classes[] = {"TLabel"};
    constexpr KeyText keys[] = {{"msg_x", "Икс"}, {"msg_y", "Игрек"}};
    auto texts = TranslateWindow(&dlg, LngPath(), classes, keys, "Form_Add", "Добавить точку");
    QCOMPARE(l->text(), QString("Level"));
    QCOMPARE(b->text(), QString::fromUtf8("Добавить"));  // TButton is not in this window's list
    QCOMPARE(dlg.windowTitle(), QString("Add point"));
    QCOMPARE(texts["msg_x"], std::string("X!"));
    QCOMPARE(texts["msg_y"], std::string("Игрек"));
    fs::remove(LngPath());
    TranslateWindow(&dlg, LngPath(), classes, keys, "Form_Add", "Добавить точку");
    QCOMPARE(dlg.windowTitle(), QString::fromUtf8("Добавить точку"));
  }

  // A Russian desktop gets "Да"/"Нет" in the message boxes, not Qt's English;
  // a desktop language without a translation keeps the English buttons.
  void standardButtonsSpeakTheDesktopLanguage() {
    const QLocale before;
    auto yesText = [] {
      QMessageBox box;
      box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
      return box.button(QMessageBox::Yes)->text().remove('&');
    };
    QLocale::setDefault(QLocale(QLocale::Zulu, QLocale::SouthAfrica));
    QVERIFY(!SpeakDesktopLanguage(*qApp));
    QCOMPARE(yesText(), QString("Yes"));
    QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
    QVERIFY2(SpeakDesktopLanguage(*qApp), "Qt's Russian translation is not installed");
    QCOMPARE(yesText(), QString::fromUtf8("Да"));
    for (QTranslator* t : qApp->findChildren<QTranslator*>()) {
      QCoreApplication::removeTranslator(t);
      delete t;
    }
    QLocale::setDefault(before);
    QCOMPARE(yesText(), QString("Yes"));
  }

  void invokerReleasesAWaiterWhenClosed() {
    UiInvoker inv;
    std::atomic<int> ran{0};
    std::atomic<bool> returned{false}, result{true};
    // The event loop does not run here, so the call stays queued until Close().
    std::thread t([&] {
      result = inv.Run([&] { ++ran; });
      returned = true;
    });
    while (!returned.load()) {
      inv.Close();
      std::this_thread::yield();
    }
    t.join();
    QVERIFY(!result.load());
    QCoreApplication::processEvents();
    QCOMPARE(ran.load(), 0);  // the queued call was dropped
    QVERIFY(!inv.Run([&] { ++ran; }));
    QCOMPARE(ran.load(), 0);
  }

  void invokerRunsOnTheWindowThread() {
    UiInvoker inv;
    std::atomic<bool> onUi{false}, returned{false};
    std::thread t([&] {
      inv.Run([&] { onUi = QThread::currentThread() == QCoreApplication::instance()->thread(); });
      returned = true;
    });
    QTRY_VERIFY_WITH_TIMEOUT(returned.load(), kBoxWaitMs);
    t.join();
    QVERIFY(onUi.load());
  }

  void closingWhileTheEngineWaitsInAnErrorBox() {
    // COM200 names no device: opening fails and the engine waits in its box.
    WriteFile(IniPath(), "[UART]\nNUM=200\n");
    auto f = Open(Config(Ports({200})));
    QTest::mouseClick(Child<QPushButton>(f.get(), "BtnPortOpen"), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(FindBox("ErrorBox") != nullptr, kBoxWaitMs);
    QCOMPARE(FindBox("ErrorBox")->text(), QString::fromUtf8("Ошибка открытия порта COM200"));
    f->close();  // must not hang: the engine is released and ends
    QVERIFY(f->Engine()->Terminating());
    QTRY_VERIFY_WITH_TIMEOUT(FindBox("ErrorBox") == nullptr, kBoxWaitMs);
    QCOMPARE(PanelText(*f, 0),
             QString::fromUtf8("Статус порта: Порт закрыт"));  // nothing ran after the close
  }

  void tabClickDuringSearchIsRefusedAndNothingFound() {
    // A port with nothing behind it: every rate of the search waits in vain.
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    QVERIFY(master >= 0);
    QVERIFY(grantpt(master) == 0 && unlockpt(master) == 0);
    const std::string link = portsDir_ + "/COM4";
    fs::create_symlink(ptsname(master), link);
    WriteFile(IniPath(), "[UART]\nNUM=4\nBAUD=9600\nADDR=3\n");
    auto f = Open(Config(Ports({4})));
    auto* tabs = Child<QTabWidget>(f.get(), "PcMain");
    QTest::mouseClick(Child<QPushButton>(f.get(), "BtnSearchDevice"), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(f->PageChangeLocked(), kBoxWaitMs);
    QVERIFY(!Child<QPushButton>(f.get(), "BtnPortOpen")->isEnabled());
    QTabBar* bar = tabs->tabBar();
    QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(3).center());
    QCOMPARE(tabs->currentIndex(), 0);
    tabs->setCurrentIndex(2);  // even a change that gets past the disabled tabs is taken back
    QCOMPARE(tabs->currentIndex(), 0);
    QTRY_VERIFY_WITH_TIMEOUT(FindBox("ErrorBox") != nullptr, kSearchWaitMs);
    QCOMPARE(FindBox("ErrorBox")->text(), QString::fromUtf8("Статус устройства: Устройство не отвечает"));
    // The window is idle again but the engine still waits for the box: a
    // click on the window (through the window system, as a user's) does
    // nothing, so no setting can change before the job has restored the rate.
    QCOMPARE(QApplication::activeModalWidget(), FindBox("ErrorBox"));
    auto* open = Child<QPushButton>(f.get(), "BtnPortOpen");
    QVERIFY(open->isEnabled());
    QTest::mouseClick(f->windowHandle(), Qt::LeftButton, {}, open->mapTo(f.get(), open->rect().center()));
    QCOMPARE(f->Engine()->PeekSlot(), kJobSlotEmpty);
    QTest::mouseClick(FindBox("ErrorBox")->button(QMessageBox::Ok), Qt::LeftButton);
    QVERIFY(!f->PageChangeLocked());
    QVERIFY(Child<QPushButton>(f.get(), "BtnPortOpen")->isEnabled());
    QCOMPARE(f->Settings().baud, 9600);                                   // the window never took a rate over
    QTRY_COMPARE_WITH_TIMEOUT(f->Records().link.baud, 9600, kBoxWaitMs);  // the link's rate restored
    QTRY_VERIFY_WITH_TIMEOUT(!UartIsOpen(f->Link()), kBoxWaitMs);
    QVERIFY(ReadFile(IniPath()).find("BAUD=9600") != std::string::npos);
    f.reset();
    close(master);
  }

  void searchFindsTheVirtualSensor() {
    vsensor::SensorState st;
    st.baud = 57600;
    st.flags = static_cast<uint8_t>((st.flags & ~(7u << 2)) | (vsensor::CodeFromBaud(57600) << 2));
    st.address = 7;
    st.flags |= 1u << 5;  // answers a broadcast with its own address
    vsensor::VirtualSensor sensor(st, 4);
    std::string error;
    QVERIFY2(sensor.Start(6, &error), error.c_str());
    WindowConfig c = Config({});
    c.listPorts = UartListPorts;  // the real list: the sensor's link in the ports folder
    auto f = Open(c);
    auto* com = Child<QComboBox>(f.get(), "CmbCom");
    const int idx = com->findText("COM6");
    QVERIFY(idx >= 0);
    com->setCurrentIndex(idx);
    QCOMPARE(f->Records().link.port, 6);
    QTest::mouseClick(Child<QPushButton>(f.get(), "BtnSearchDevice"), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(Child<QTabWidget>(f.get(), "PcMain")->currentWidget()->objectName(),
                              QString("TsOscill"), kSearchWaitMs);
    QVERIFY(FindBox("ErrorBox") == nullptr);
    QCOMPARE(PanelText(*f, 0), QString::fromUtf8("Статус порта: Порт открыт"));
    QCOMPARE(PanelText(*f, 1), QString::fromUtf8("Статус устройства: ОК"));
    QCOMPARE(Child<QComboBox>(f.get(), "CmbBaud")->currentText(), QString("57600"));
    QCOMPARE(Child<QLineEdit>(f.get(), "EditAddr")->text(), QString("7"));
    QCOMPARE(ReadFile(IniPath()), std::string("[UART]\r\nNUM=6\r\nBAUD=57600\r\nADDR=7\r\n"));
    QVERIFY(UartIsOpen(f->Link()));
    // The search leaves the window locked until the oscilloscope page's entry
    // has run; then the technician can use it again.
    QTRY_VERIFY_WITH_TIMEOUT(!f->PageChangeLocked(), kSearchWaitMs);
    QVERIFY(Child<QPushButton>(f.get(), "BtnPortClose")->isEnabled());
    QVERIFY(Child<QTabWidget>(f.get(), "PcMain")->isEnabled());
    // Closing the port returns to the program page.
    QTest::mouseClick(Child<QPushButton>(f.get(), "BtnPortClose"), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(Child<QTabWidget>(f.get(), "PcMain")->currentIndex(), 0, kSearchWaitMs);
    QTRY_VERIFY_WITH_TIMEOUT(!UartIsOpen(f->Link()), kSearchWaitMs);
    QCOMPARE(PanelText(*f, 0), QString::fromUtf8("Статус порта: Порт закрыт"));
  }

  void withoutADisplayTheProgramSaysSo_data() {
    QTest::addColumn<QString>("display");
    QTest::addColumn<QString>("says");
    QTest::newRow("none set") << QString() << QString("no display found");
    // Named but not there: an ssh session whose forwarding ended.
    QTest::newRow("unreachable") << QString(":8791") << QString("the display :8791 cannot be opened");
  }

  void withoutADisplayTheProgramSaysSo() {
    QFETCH(QString, display);
    QFETCH(QString, says);
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* v : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"}) env.remove(v);
    if (!display.isEmpty()) env.insert("DISPLAY", display);
    p.setProcessEnvironment(env);
    p.setWorkingDirectory(QString::fromStdString(langDir_));
    p.start(KL_INSTALL_PATH, {});
    QVERIFY(p.waitForFinished(60000));
    const QString err = QString::fromLocal8Bit(p.readAllStandardError());
    QCOMPARE(p.exitStatus(), QProcess::NormalExit);  // no abort, no core dump
    QCOMPARE(p.exitCode(), 2);
    QVERIFY2(err.contains(says), qPrintable(err));
    QVERIFY2(err.contains("xvfb-run"), qPrintable(err));
  }

  void splashShowsTheWindowAtTick67() {
    // The splash belongs to the main window but is a window of its own: the
    // main window's translation leaves its picture alone.
    WriteFile(LngPath(), "[LANG]\nSELECTED=English\n[English]\nImgLogo=not a caption\nBtnPortOpen=Open\n");
    WindowConfig c = Config(Ports({1}));
    c.splash = true;
    TForm1 f(c);
    QVERIFY(!f.isVisible());
    QVERIFY(f.Splash() && f.Splash()->isVisible());
    QCOMPARE(f.Splash()->ImgLogo()->pixmap().size(), QSize(1024, 390));
    QCOMPARE(f.Splash()->Timer1()->interval(), 30);
    QTRY_VERIFY_WITH_TIMEOUT(f.isVisible(), 30000);
    QCOMPARE(f.SplashTicksWhenShown(), 67);
    QTRY_VERIFY_WITH_TIMEOUT(!f.Splash()->isVisible(), kBoxWaitMs);
    QCOMPARE(f.Splash()->Fade().opacity, 255);
    QCOMPARE(Child<QPushButton>(&f, "BtnPortOpen")->text(), QString("Open"));
    QCOMPARE(f.Splash()->ImgLogo()->text(), QString());
    QCOMPARE(f.Splash()->ImgLogo()->pixmap().size(), QSize(1024, 390));
  }
};

QTEST_MAIN(MainWindowTest)
#include "main_window_test.moc"
