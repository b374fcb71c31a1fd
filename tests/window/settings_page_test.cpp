// The settings page on the offscreen platform with the real engine, the real
// link and the virtual sensor on a pseudo-terminal: the page reads the
// sensor, writes a new address and rate, and the tool follows the sensor.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFocusEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>

#include <stdlib.h>

#include <filesystem>
#include <fstream>

#include "ConfigFiles.h"
#include "SettingsPage.h"
#include "Unit_main.h"
#include "virtual_sensor.h"
#include "WindowTestUtil.h"

using namespace kltest;

using namespace kl;
namespace fs = std::filesystem;

namespace {

constexpr int kWaitMs = 30000;  // generous: sanitizer builds are slow
constexpr int kCom = 8;

std::string ReadFile(const std::string& p) { return ReadWholeFile(p).value_or("<missing>"); }

QString Text(QWidget* form, const char* edit) { return Child<QLineEdit>(form, edit)->text(); }

vsensor::SensorState Sensor() {
  vsensor::SensorState s;
  s.address = 1;
  s.baud = 19200;
  s.date = (14u << 16) | (5u << 8) | 23u;
  s.serial = 4711;
  s.model = 31;
  s.firmware = 0x09;
  s.period = 7;
  // periodic output, 19200, answers a broadcast with its own address, 10 bits,
  // and bits 1 and 6, which the page never shows
  s.flags = 0x31 | 0x42;
  s.configByte = 0x05;
  s.flags2 = 0;
  s.postFilter = 4;
  s.fuelType = 3;
  s.thermalCoef = 0.5f;
  s.soundSpeed = 1390.25f;
  return s;
}

}  // namespace

class SettingsPageTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<QTemporaryDir> tmp_;
  std::string settingsDir_, langDir_;

  std::unique_ptr<TForm1> Open() {
    WindowConfig c;
    c.programFolder = langDir_;
    c.settingsFolders = {settingsDir_};
    c.languageFolder = langDir_;
    c.splash = false;
    c.listPorts = UartListPorts;  // the sensor's link in the ports folder
    auto f = std::make_unique<TForm1>(std::move(c));
    f->show();
    if (!QTest::qWaitForWindowExposed(f.get())) qWarning("window not exposed");
    return f;
  }
  std::string IniPath() const { return JoinPath(settingsDir_, kSettingsFileName); }
  static QTabWidget* Pages(TForm1& f) { return Child<QTabWidget>(&f, "PcMain"); }

 private slots:
  void init() {
    tmp_ = std::make_unique<QTemporaryDir>();
    QVERIFY(tmp_->isValid());
    const std::string base = tmp_->path().toStdString();
    settingsDir_ = base + "/settings";
    langDir_ = base + "/program";
    const std::string ports = base + "/ports";
    for (auto& d : {settingsDir_, langDir_, ports}) fs::create_directories(d);
    setenv("KL31_PORTS_DIR", ports.c_str(), 1);
    std::ofstream(IniPath(), std::ios::binary) << "[UART]\r\nNUM=8\r\nBAUD=19200\r\nADDR=1\r\n";
    // The technician's notation: a decimal comma.
    QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
  }
  void cleanup() {
    QLocale::setDefault(QLocale::c());
    tmp_.reset();
  }

  void readWriteAndFollowTheSensor() {
    vsensor::VirtualSensor sensor(Sensor(), 5);
    std::string error;
    QVERIFY2(sensor.Start(kCom, &error), error.c_str());
    auto f = Open();
    QCOMPARE(f->Records().link.port, kCom);

    QTest::mouseClick(Child<QPushButton>(f.get(), "BtnPortOpen"), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(Pages(*f)->currentWidget()->objectName(), QString("TsOscill"), kWaitMs);
    // Entering the page reads the sensor. The oscilloscope page's entry job
    // may lock the page change for a moment; the technician clicks again.
    QTRY_VERIFY_WITH_TIMEOUT(f->Engine()->JobsRun() >= 2, kWaitMs);  // open, enter the oscilloscope
    auto enterSettings = [&] {
      Pages(*f)->setCurrentIndex(3);
      return Pages(*f)->currentIndex() == 3;
    };
    QTRY_VERIFY_WITH_TIMEOUT(enterSettings(), kWaitMs);
    QTRY_COMPARE_WITH_TIMEOUT(Text(f.get(), "EditSN"), QString("004711"), kWaitMs);
    QVERIFY(FindBox("ErrorBox") == nullptr);
    QCOMPARE(Text(f.get(), "EditDate"), QString("150623"));
    QCOMPARE(Text(f.get(), "EditModel"), QString("31"));
    QCOMPARE(Text(f.get(), "EditVer"), QString("0.90"));
    QCOMPARE(Text(f.get(), "EditRev"), QString("5"));
    QCOMPARE(Child<QComboBox>(f.get(), "CmbBaud2")->currentText(), QString("19200"));
    QCOMPARE(Child<QComboBox>(f.get(), "Cmb255Ans")->currentText(), QString::fromUtf8("Своим адресом"));
    QCOMPARE(Child<QComboBox>(f.get(), "CmbBits")->currentText(), QString::fromUtf8("10 бит"));
    QCOMPARE(Child<QComboBox>(f.get(), "CmbPostFiltr")->currentText(), QString("4"));
    QCOMPARE(Child<QComboBox>(f.get(), "CmbFuelType")->currentText(), QString::fromUtf8("Дизель"));
    QVERIFY(Child<QCheckBox>(f.get(), "RepAutoOn")->isChecked());
    QCOMPARE(Child<QSpinBox>(f.get(), "SpinAddr2")->value(), 1);
    QCOMPARE(Child<QSpinBox>(f.get(), "RepAutoPeriod")->value(), 7);
    QCOMPARE(Text(f.get(), "EditFuelOfs"), QString("1390,250"));
    QCOMPARE(Text(f.get(), "EditFuelKu"), QString("0,500"));
    // Diesel: the sensor knows its numbers; the edits are for the user's fuel.
    QVERIFY(!Child<QLineEdit>(f.get(), "EditFuelOfs")->isEnabled());
    QVERIFY(!Child<QLabel>(f.get(), "LblFuelKu")->isEnabled());
    QVERIFY(Child<QPushButton>(f.get(), "BtnParamsWrite")->isEnabled());

    // The technician picks the user's fuel, a new address and a new rate.
    auto* fuel = Child<QComboBox>(f.get(), "CmbFuelType");
    fuel->setCurrentIndex(0);
    QVERIFY(Child<QLineEdit>(f.get(), "EditFuelOfs")->isEnabled());
    Child<QLineEdit>(f.get(), "EditFuelOfs")->setText("1400,5");
    auto* addr = Child<QSpinBox>(f.get(), "SpinAddr2");
    addr->setFocus();
    addr->selectAll();
    QTest::keyClicks(addr, "5");
    Child<QComboBox>(f.get(), "CmbBaud2")->setCurrentIndex(4);
    sensor.ClearHistory();
    // The entry's own JOB_IDLE has run before the write is counted.
    QTest::qWait(200);
    QTRY_COMPARE_WITH_TIMEOUT(f->Engine()->PeekSlot(), -1, kWaitMs);
    const std::uint64_t jobsBefore = f->Engine()->JobsRun();
    QTest::mouseClick(Child<QPushButton>(f.get(), "BtnParamsWrite"), Qt::LeftButton);

    // The tool follows the sensor: program page, link and settings file.
    QTRY_COMPARE_WITH_TIMEOUT(f->Records().link.baud, 38400, kWaitMs);
    QTRY_COMPARE_WITH_TIMEOUT(ReadFile(IniPath()), std::string("[UART]\r\nNUM=8\r\nBAUD=38400\r\nADDR=5\r\n"),
                              kWaitMs);
    QVERIFY(FindBox("ErrorBox") == nullptr);
    QCOMPARE(f->Records().link.address, 5);
    QCOMPARE(Text(f.get(), "EditAddr"), QString("5"));
    QCOMPARE(Child<QComboBox>(f.get(), "CmbBaud")->currentText(), QString("38400"));
    QVERIFY(UartIsOpen(f->Link()));
    const vsensor::SensorState st = sensor.State();
    QCOMPARE(int(st.address), 5);
    QCOMPARE(st.baud, 38400);
    QCOMPARE(int(st.flags), 0x31 | 0x42 | 0x04);  // code 5, the rest as read
    QCOMPARE(int(st.fuelType), 0);
    QCOMPARE(st.soundSpeed, 1400.5f);
    QCOMPARE(st.thermalCoef, 0.5f);

    // Entering the page again reads the sensor where it is now, no search.
    // (The write ends with JOB_IDLE, which would replace a later post.)
    QTRY_VERIFY_WITH_TIMEOUT(f->Engine()->JobsRun() >= jobsBefore + 2 && f->Engine()->PeekSlot() == -1,
                             kWaitMs);
    vsensor::SensorState later = sensor.State();
    later.period = 42;
    sensor.SetState(later);
    sensor.ClearHistory();
    Pages(*f)->setCurrentIndex(0);
    QTRY_VERIFY_WITH_TIMEOUT(enterSettings(), kWaitMs);
    QTRY_COMPARE_WITH_TIMEOUT(Child<QSpinBox>(f.get(), "RepAutoPeriod")->value(), 42, kWaitMs);
    QVERIFY(FindBox("ErrorBox") == nullptr);
    QCOMPARE(Child<QSpinBox>(f.get(), "SpinAddr2")->value(), 5);
    QCOMPARE(Child<QComboBox>(f.get(), "CmbBaud2")->currentText(), QString("38400"));
    const std::vector<uint8_t> heard = sensor.ReceivedCommands();
    const std::vector<uint8_t> expected = {SVC_GET_PASSPORT, SVC_GET_CONFIG, SVC_GET_POST_FILTER,
                                           SVC_GET_FUEL};
    QCOMPARE(heard, expected);
    for (const auto& frame : sensor.ReceivedRequests()) QCOMPARE(int(frame[1]), 5);
  }

  // The two numbers are read in the user's notation before anything is sent.
  void numbersInTheUsersNotation_data() {
    QTest::addColumn<QString>("decimalLocale");
    QTest::addColumn<QString>("coef");
    QTest::addColumn<QString>("speed");
    QTest::addColumn<QString>("refusal");
    const QString thermo = QString::fromUtf8("Неверное значение температурного коэф.");
    const QString speed = QString::fromUtf8("Неверное значение скорости звука");
    QTest::newRow("comma: point refused") << "ru"
                                          << "0,5"
                                          << "1390.5" << speed;
    QTest::newRow("comma: coefficient first") << "ru"
                                              << "0.5"
                                              << "1390,5" << thermo;
    QTest::newRow("point: comma refused") << "en"
                                          << "0.5"
                                          << "1390,5" << speed;
    QTest::newRow("too big for a float") << "en"
                                         << "0.5"
                                         << "4e38" << speed;
    QTest::newRow("comma: accepted") << "ru"
                                     << "0,5"
                                     << "1390,5" << QString();
    QTest::newRow("point: accepted") << "en"
                                     << "0.5"
                                     << "1390.5" << QString();
  }

  void numbersInTheUsersNotation() {
    QFETCH(QString, decimalLocale);
    QFETCH(QString, coef);
    QFETCH(QString, speed);
    QFETCH(QString, refusal);
    QLocale::setDefault(decimalLocale == "ru" ? QLocale(QLocale::Russian, QLocale::Russia)
                                              : QLocale(QLocale::English, QLocale::UnitedStates));
    auto f = Open();
    f->Records().fuel.ThermalCoef = -1.0f;
    f->Records().fuel.SoundSpeed = -1.0f;
    // The fuel type does not matter: the check applies to disabled edits too.
    Child<QComboBox>(f.get(), "CmbFuelType")->setCurrentIndex(2);
    Child<QLineEdit>(f.get(), "EditFuelKu")->setText(coef);
    Child<QLineEdit>(f.get(), "EditFuelOfs")->setText(speed);
    Child<QPushButton>(f.get(), "BtnParamsWrite")->click();
    if (refusal.isEmpty()) {
      QVERIFY(FindBox("ErrorBox") == nullptr);
      QCOMPARE(f->Records().fuel.ThermalCoef, 0.5f);
      QCOMPARE(f->Records().fuel.SoundSpeed, 1390.5f);
      // The write was posted; with the port closed it ends in the port error.
      QTRY_VERIFY_WITH_TIMEOUT(FindBox("ErrorBox") != nullptr, kWaitMs);
      QCOMPARE(FindBox("ErrorBox")->text(), QString::fromUtf8("Статус устройства: Ошибка порта"));
    } else {
      QTRY_VERIFY_WITH_TIMEOUT(FindBox("ErrorBox") != nullptr, kWaitMs);
      QCOMPARE(FindBox("ErrorBox")->text(), refusal);
      QCOMPARE(f->Records().fuel.SoundSpeed, -1.0f);  // nothing posted, nothing taken
      QTest::qWait(300);
      QCOMPARE(FindBox("ErrorBox")->text(), refusal);  // and no job's box came after it
    }
  }

  // Spin edits: digits only, limited to 0..255 when left.
  void spinEditsLimitTheirValueWhenLeft() {
    auto f = Open();
    auto* spin = Child<QSpinBox>(f.get(), "SpinAddr2");
    // The page is not shown (its entry would read a sensor), so focus moves
    // are sent as the events they are.
    auto leave = [spin] {
      QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
      QApplication::sendEvent(spin, &out);
    };
    spin->selectAll();
    QTest::keyClicks(spin, "3x0-0");
    QCOMPARE(spin->text(), QString("300"));  // the rest was refused
    leave();
    QCOMPARE(spin->text(), QString("255"));
    QCOMPARE(spin->value(), 255);
    spin->selectAll();
    QTest::keyClick(spin, Qt::Key_Delete);
    QCOMPARE(spin->text(), QString());
    leave();
    QCOMPARE(spin->value(), 0);  // no number reads as the minimum
  }
};

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  SettingsPageTest t;
  return QTest::qExec(&t, argc, argv);
}

#include "settings_page_test.moc"
