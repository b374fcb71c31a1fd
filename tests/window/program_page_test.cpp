// The program page as a new user meets it: a port plugged in after the start,
// a manual the desktop cannot open, a language choice that outlives a
// rebuild, and the sensor a search found.
#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>

#include <stdlib.h>

#include <filesystem>
#include <fstream>

#include "ConfigFiles.h"
#include "Unit_main.h"
#include "virtual_sensor.h"
#include "WindowTestUtil.h"

using namespace kltest;

using namespace kl;
namespace fs = std::filesystem;

namespace {

constexpr int kWaitMs = 20000;  // generous: sanitizer builds are slow
constexpr int kSearchWaitMs = 120000;

std::string ReadFile(const std::string& p) { return ReadWholeFile(p).value_or("<missing>"); }
void WriteFile(const std::string& p, const std::string& bytes) {
  std::ofstream(p, std::ios::binary) << bytes;
}

QStringList Entries(QComboBox* c) {
  QStringList out;
  for (int i = 0; i < c->count(); ++i) out << c->itemText(i);
  return out;
}

}  // namespace

class ProgramPageTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<QTemporaryDir> tmp_;
  std::string settingsDir_, programDir_, portsDir_, userDir_;

  WindowConfig Config() {
    WindowConfig c;
    c.programFolder = programDir_;
    c.settingsFolders = {settingsDir_};
    c.languageFolder = programDir_;
    c.splash = false;
    c.listPorts = UartListPorts;  // the real list over this test's ports folder
    c.openDocument = [](const std::string&, std::function<void()>) {};
    return c;
  }
  std::unique_ptr<TForm1> Open(WindowConfig c) {
    auto f = std::make_unique<TForm1>(std::move(c));
    f->show();
    if (!QTest::qWaitForWindowExposed(f.get())) qWarning("window not exposed");
    return f;
  }
  // A port as a technician's adapter appears: a link in the ports folder.
  void Plug(int com) {
    const std::string target = tmp_->path().toStdString() + "/tty" + std::to_string(com);
    WriteFile(target, "");
    fs::create_symlink(target, portsDir_ + "/COM" + std::to_string(com));
  }
  void Unplug(int com) { fs::remove(portsDir_ + "/COM" + std::to_string(com)); }
  // The shipped language file and manuals next to the program, with the
  // given language selected in it.
  void Ship(const QString& language) {
    const std::string res = KL_RESOURCES_DIR;
    for (const char* name :
         {kLanguageFileName, "KL31_Install_Service_manual.html", "KL31_Install_Service_manual_en.html"})
      fs::copy_file(JoinPath(res, name), JoinPath(programDir_, name), fs::copy_options::overwrite_existing);
    if (!language.isEmpty())
      QVERIFY(LanguageFile::WriteSelected(JoinPath(programDir_, kLanguageFileName), language.toStdString()));
  }

 private slots:
  void init() {
    tmp_ = std::make_unique<QTemporaryDir>();
    QVERIFY(tmp_->isValid());
    const std::string base = tmp_->path().toStdString();
    settingsDir_ = base + "/settings";
    programDir_ = base + "/program";
    portsDir_ = base + "/ports";
    userDir_ = base + "/home/.config/KL31";
    for (auto& d : {settingsDir_, programDir_, portsDir_}) fs::create_directories(d);
    setenv("KL31_PORTS_DIR", portsDir_.c_str(), 1);
  }
  void cleanup() { tmp_.reset(); }

  void portsPluggedInLaterAppearWhenTheListOpens() {
    Plug(201);
    WriteFile(JoinPath(settingsDir_, kSettingsFileName), "[UART]\r\nNUM=204\r\nBAUD=9600\r\nADDR=1\r\n");
    auto f = Open(Config());
    auto* com = Child<QComboBox>(f.get(), "CmbCom");
    QVERIFY(com->findText("COM201") >= 0);
    QCOMPARE(com->currentIndex(), -1);  // COM204 from the file is not there yet
    com->setCurrentIndex(com->findText("COM201"));
    QCOMPARE(f->Records().link.port, 201);
    const std::string saved = ReadFile(JoinPath(settingsDir_, kSettingsFileName));

    // An adapter plugged in, the selected one pulled: the new one is offered
    // at the next opening and the selection stays what it was.
    Plug(202);
    Unplug(201);
    QVERIFY(com->findText("COM202") < 0);
    com->showPopup();
    QVERIFY(com->findText("COM202") >= 0);
    QCOMPARE(com->currentText(), QString("COM201"));
    com->hidePopup();
    QCOMPARE(f->Records().link.port, 201);
    QCOMPARE(ReadFile(JoinPath(settingsDir_, kSettingsFileName)), saved);  // refreshing changes nothing

    // A port that went away unselected leaves the list.
    com->setCurrentIndex(com->findText("COM202"));
    com->showPopup();
    com->hidePopup();
    QVERIFY(com->findText("COM201") < 0);
    QCOMPARE(com->currentText(), QString("COM202"));
    QCOMPARE(Entries(com).filter("COM202").size(), 1);
  }

  void aPortInEffectIsSelectedOnceItAppears() {
    WriteFile(JoinPath(settingsDir_, kSettingsFileName), "[UART]\r\nNUM=204\r\nBAUD=9600\r\nADDR=1\r\n");
    auto f = Open(Config());
    auto* com = Child<QComboBox>(f.get(), "CmbCom");
    QCOMPARE(com->currentIndex(), -1);
    Plug(204);
    com->showPopup();
    com->hidePopup();
    QCOMPARE(com->currentText(), QString("COM204"));
    QCOMPARE(f->Records().link.port, 204);
  }

  void aManualTheDesktopCannotOpenIsNamedInABox_data() {
    QTest::addColumn<QString>("language");
    QTest::addColumn<QString>("manual");
    QTest::addColumn<QString>("says");
    QTest::newRow("Русский") << QString::fromUtf8("Русский") << "KL31_Install_Service_manual.html"
                             << QString::fromUtf8("Не удалось открыть инструкцию");
    QTest::newRow("English") << "English"
                             << "KL31_Install_Service_manual_en.html"
                             << "The manual could not be opened";
  }

  void aManualTheDesktopCannotOpenIsNamedInABox() {
    QFETCH(QString, language);
    QFETCH(QString, manual);
    QFETCH(QString, says);
    Ship(language);
    std::string asked;
    bool fail = true;
    WindowConfig c = Config();
    c.openDocument = [&](const std::string& path, std::function<void()> failed) {
      asked = path;
      if (fail) failed();
    };
    auto f = Open(c);
    auto* help = Child<QPushButton>(f.get(), "btn_open_help");
    QVERIFY(help->isEnabled());
    QTest::mouseClick(help, Qt::LeftButton);
    const std::string full = JoinPath(programDir_, manual.toStdString());
    QCOMPARE(QString::fromStdString(asked), QString::fromStdString(full));
    QTRY_VERIFY_WITH_TIMEOUT(FindBox("ErrorBox") != nullptr, kWaitMs);
    const QString text = FindBox("ErrorBox")->text();
    QVERIFY2(text.startsWith(says), qPrintable(text));
    QVERIFY2(text.endsWith("\n" + QString::fromStdString(full)), qPrintable(text));
    QTest::mouseClick(FindBox("ErrorBox")->button(QMessageBox::Ok), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(FindBox("ErrorBox") == nullptr, kWaitMs);

    // A desktop that opens it: nothing to say.
    fail = false;
    QTest::mouseClick(help, Qt::LeftButton);
    QTest::qWait(100);
    QVERIFY(FindBox("ErrorBox") == nullptr);
  }

  // The program's own opener: the desktop's launcher reports by its exit code
  // whether it found a program for the document.
  void theDesktopsOpenerReportsWhatTheLauncherSays_data() {
    QTest::addColumn<int>("exitCode");  // -1: no launcher at all
    QTest::addColumn<bool>("fails");
    QTest::newRow("no program for the document") << 3 << true;
    QTest::newRow("opened") << 0 << false;
    QTest::newRow("no launcher") << -1 << true;
  }

  void theDesktopsOpenerReportsWhatTheLauncherSays() {
    QFETCH(int, exitCode);
    QFETCH(bool, fails);
    const std::string bin = tmp_->path().toStdString() + "/bin";
    const std::string ran = tmp_->path().toStdString() + "/launcher-ran";
    fs::create_directories(bin);
    if (exitCode >= 0) {
      WriteFile(bin + "/xdg-open",
                "#!/bin/sh\necho \"$1\" > " + ran + "\nexit " + std::to_string(exitCode) + "\n");
      fs::permissions(bin + "/xdg-open", fs::perms::owner_all);
    }
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", QByteArray::fromStdString(bin) + (exitCode >= 0 ? ":" + path : QByteArray()));
    bool failed = false;
    OpenWithDesktop("/opt/kl31/manual.html", [&] { failed = true; });
    qputenv("PATH", path);
    if (exitCode >= 0) {
      QTRY_COMPARE_WITH_TIMEOUT(QString::fromStdString(ReadFile(ran)), QString("/opt/kl31/manual.html\n"),
                                kWaitMs);
      if (fails) QTRY_VERIFY_WITH_TIMEOUT(failed, kWaitMs);
      QTest::qWait(300);  // the launcher's end has been seen by now
    }
    QCOMPARE(failed, fails);
  }

  void theLanguageChoiceOutlivesARebuild() {
    Ship(QString());  // Russian, as shipped
    const std::string shipped = ReadFile(JoinPath(programDir_, kLanguageFileName));
    WindowConfig c = Config();
    c.languageChoiceFolder = userDir_;
    {
      auto f = Open(c);
      auto* lang = Child<QComboBox>(f.get(), "CmbLang");
      QCOMPARE(lang->currentText(), QString::fromUtf8("Русский"));
      lang->setCurrentIndex(lang->findText("English"));
      QTRY_VERIFY_WITH_TIMEOUT(FindBox("InfoBox") != nullptr, kWaitMs);
      QTest::mouseClick(FindBox("InfoBox")->button(QMessageBox::Ok), Qt::LeftButton);
      QTRY_VERIFY_WITH_TIMEOUT(fs::exists(JoinPath(userDir_, kLanguageFileName)), kWaitMs);
      QVERIFY(FindBox("ErrorBox") == nullptr);
    }
    QCOMPARE(ReadFile(JoinPath(programDir_, kLanguageFileName)), shipped);  // never written

    Ship(QString());  // the build copies the language file next to the program again
    auto f = Open(c);
    QCOMPARE(Child<QComboBox>(f.get(), "CmbLang")->currentText(), QString("English"));
    QCOMPARE(Child<QPushButton>(f.get(), "BtnPortOpen")->text(), QString("Open"));
    QCOMPARE(QString::fromStdString(f->LanguageFilePath()),
             QString::fromStdString(JoinPath(userDir_, kLanguageFileName)));
    QCOMPARE(Child<QGroupBox>(f.get(), "GbFound")->title(), QString("Sensor found"));
  }

  void theProgramKeepsTheChoiceInTheUsersFolder() {
    setenv("KL31_CONFIG_DIR", userDir_.c_str(), 1);
    setenv("KL31_LANG_DIR", programDir_.c_str(), 1);
    const WindowConfig c = WindowConfig::ForProgram();
    unsetenv("KL31_CONFIG_DIR");
    unsetenv("KL31_LANG_DIR");
    QCOMPARE(QString::fromStdString(c.languageFolder), QString::fromStdString(programDir_));
    QCOMPARE(QString::fromStdString(c.languageChoiceFolder), QString::fromStdString(userDir_));
    QCOMPARE(c.settingsFolders, std::vector<std::string>{userDir_});
    // Without the variables: next to the program, the choice in ~/.config/KL31.
    const WindowConfig d = WindowConfig::ForProgram();
    QVERIFY(QString::fromStdString(d.languageChoiceFolder).endsWith("/KL31"));
    QCOMPARE(d.languageFolder, d.programFolder);
  }

  void theSensorASearchFoundIsShownUntilThePortCloses() {
    Ship(QString("English"));
    vsensor::SensorState st;
    st.baud = 57600;
    st.flags = static_cast<uint8_t>((st.flags & ~(7u << 2)) | (vsensor::CodeFromBaud(57600) << 2));
    st.address = 7;
    st.flags |= 1u << 5;  // answers a broadcast with its own address
    st.serial = 654321;
    st.date = (4u << 16) | (10u << 8) | 24u;  // 05.11.24
    vsensor::VirtualSensor sensor(st, 4);
    std::string error;
    QVERIFY2(sensor.Start(6, &error), error.c_str());
    auto f = Open(Config());
    auto* model = Child<QLineEdit>(f.get(), "EditFoundModel");
    auto* sn = Child<QLineEdit>(f.get(), "EditFoundSN");
    auto* date = Child<QLineEdit>(f.get(), "EditFoundDate");
    auto* ver = Child<QLineEdit>(f.get(), "EditFoundVer");
    QCOMPARE(Child<QLabel>(f.get(), "LblFoundSN")->text(), QString("Serial number:"));
    QCOMPARE(sn->text(), QString());
    auto* com = Child<QComboBox>(f.get(), "CmbCom");
    com->setCurrentIndex(com->findText("COM6"));
    QTest::mouseClick(Child<QPushButton>(f.get(), "BtnSearchDevice"), Qt::LeftButton);
    auto* tabs = Child<QTabWidget>(f.get(), "PcMain");
    QTRY_COMPARE_WITH_TIMEOUT(tabs->currentWidget()->objectName(), QString("TsOscill"), kSearchWaitMs);
    QCOMPARE(model->text(), QString("KL31"));
    QCOMPARE(sn->text(), QString("654321"));
    QCOMPARE(date->text(), QString("051124"));
    QCOMPARE(ver->text(), QString("0.90"));
    QVERIFY(model->isReadOnly());

    QTRY_VERIFY_WITH_TIMEOUT(!f->PageChangeLocked(), kSearchWaitMs);
    QTest::mouseClick(Child<QPushButton>(f.get(), "BtnPortClose"), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!UartIsOpen(f->Link()), kSearchWaitMs);
    QCOMPARE(tabs->currentIndex(), 0);
    for (QLineEdit* e : {model, sn, date, ver}) QCOMPARE(e->text(), QString());

    // A sensor that is not supported leaves nothing shown.
    vsensor::SensorState changed = sensor.State();
    changed.firmware = 8;
    sensor.SetState(changed);
    QTest::mouseClick(Child<QPushButton>(f.get(), "BtnSearchDevice"), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(FindBox("ErrorBox") != nullptr, kSearchWaitMs);
    QVERIFY2(FindBox("ErrorBox")->text().startsWith("This firmware version"),
             qPrintable(FindBox("ErrorBox")->text()));
    for (QLineEdit* e : {model, sn, date, ver}) QCOMPARE(e->text(), QString());
    QTest::mouseClick(FindBox("ErrorBox")->button(QMessageBox::Ok), Qt::LeftButton);
  }
};

QTEST_MAIN(ProgramPageTest)
#include "program_page_test.moc"
