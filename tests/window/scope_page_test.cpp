// The oscilloscope page on the offscreen platform, with the real engine and
// the virtual sensor on a pseudo-terminal: a search lands on the page, the
// echo is drawn, the controls reach the sensor, and the display test keeps
// the page and sub-page where they are while it runs.
#include <QApplication>
#include <QComboBox>
#include <QMessageBox>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>

#include <stdlib.h>

#include <filesystem>
#include <memory>

#include "ConfigFiles.h"
#include "ScopePage.h"
#include "Unit_main.h"
#include "virtual_sensor.h"
#include "WindowTestUtil.h"

using namespace kltest;

using namespace kl;
namespace fs = std::filesystem;

namespace {

constexpr int kWaitMs = 60000;  // generous: sanitizer builds are slow
constexpr int kCom = 8;

}  // namespace

class ScopePageTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<QTemporaryDir> tmp_;
  std::unique_ptr<vsensor::VirtualSensor> sensor_;
  std::unique_ptr<TForm1> form_;

  ScopePage& Page() { return form_->Scope(); }
  QTabWidget* PcMain() { return form_->findChild<QTabWidget*>("PcMain"); }

  // Searches as the technician does and waits until the page polls.
  void SearchAndEnter() {
    auto* com = form_->findChild<QComboBox*>("CmbCom");
    const int idx = com->findText("COM" + QString::number(kCom));
    QVERIFY(idx >= 0);
    com->setCurrentIndex(idx);
    QTest::mouseClick(form_->findChild<QPushButton*>("BtnSearchDevice"), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(PcMain()->currentWidget()->objectName(), QString("TsOscill"), kWaitMs);
    QTRY_VERIFY_WITH_TIMEOUT(Page().Series1->count() > 0, kWaitMs);
    QTRY_VERIFY_WITH_TIMEOUT(!form_->PageChangeLocked(), kWaitMs);
  }

 private slots:
  void init() {
    tmp_ = std::make_unique<QTemporaryDir>();
    QVERIFY(tmp_->isValid());
    const std::string base = tmp_->path().toStdString();
    for (const char* d : {"/settings", "/program", "/ports"}) fs::create_directories(base + d);
    setenv("KL31_PORTS_DIR", (base + "/ports").c_str(), 1);
    vsensor::SensorState st;
    st.baud = 38400;
    st.flags =
        static_cast<uint8_t>((st.flags & ~(7u << 2)) | (vsensor::CodeFromBaud(38400) << 2) | (1u << 5));
    st.address = 3;
    sensor_ = std::make_unique<vsensor::VirtualSensor>(st, 9);
    std::string error;
    QVERIFY2(sensor_->Start(kCom, &error), error.c_str());
    WindowConfig c;
    c.programFolder = base + "/program";
    c.settingsFolders = {base + "/settings"};
    c.languageFolder = base + "/program";
    c.splash = false;
    form_ = std::make_unique<TForm1>(c);
    form_->show();
    QVERIFY(QTest::qWaitForWindowExposed(form_.get()));
  }
  void cleanup() {
    form_.reset();
    sensor_.reset();
    tmp_.reset();
  }

  void searchLandsOnThePageWithTheEchoDrawn() {
    SearchAndEnter();
    ScopePage& p = Page();
    QCOMPARE(p.Series1->count(), 1472);  // envelope
    QCOMPARE(p.Series3->count(), 1472);  // contrast trace, switched off
    QVERIFY(!p.Series3->isVisible());
    QVERIFY(!p.Series2->isVisible());
    QCOMPARE(p.Series1->at(0).y(), 0.0);  // sample 0 forced to 0
    QCOMPARE(p.EditMm->text(), QString("350"));
    QCOMPARE(p.EditAuth->text(), QString("OK"));
    QCOMPARE(p.EditPos->text(), QString("273/15"));
    QCOMPARE(p.LblFreq->text(), QString("1000"));
    QCOMPARE(p.LblFiltr->text(), QString("Wide"));
    QCOMPARE(p.LblPulse->text().replace(',', '.'), QString("5.0"));
    // The sensor's values are in the tuning controls.
    QCOMPARE(p.TbFreq->value(), 1000);
    QCOMPARE(p.EditFreq->text(), QString("1000"));
    QCOMPARE(p.TbPulse->value(), 50);
    QCOMPARE(p.CmbKu->currentIndex(), 10);
    QCOMPARE(p.CmbKuMax->currentText(), QString::fromUtf8("б/огр."));
    QCOMPARE(p.CmbFiltr->currentText(), QString("WideBand"));
    QCOMPARE(p.CmbAtten->currentIndex(), 0);
    QVERIFY(p.EditAuth->isEnabled());
    QVERIFY(!p.LblDataInst->isEnabled());
    // The echo peak sits at the level: around envelope sample 273.
    double best = 0, at = 0;
    for (int i = 100; i < 1472; ++i)
      if (p.Series1->at(i).y() > best) best = p.Series1->at(i).y(), at = p.Series1->at(i).x();
    QVERIFY2(at > 2600 && at < 2900, qPrintable(QString::number(at)));

    // Raw mode: 1984 signed samples, the read-outs show "-".
    p.CmbOscillMode->setCurrentIndex(1);
    emit p.CmbOscillMode->activated(1);
    QTRY_COMPARE_WITH_TIMEOUT(p.Series1->count(), 1984, kWaitMs);
    QTRY_COMPARE_WITH_TIMEOUT(p.EditMm->text(), QString("-"), kWaitMs);
    bool negative = false;
    for (int i = 0; i < 1984 && !negative; ++i) negative = p.Series1->at(i).y() < 0;
    QVERIFY(negative);
  }

  // The poll asks for an echo, then the technician picks another mode before
  // the answer is shown: the echo is drawn by the mode it was asked in, not
  // an envelope spread over the raw view's 1984 points.
  void anEchoAskedBeforeAModeChangeIsDrawnInItsOwnMode() {
    ScopePage& p = Page();
    EngineRecords& rec = form_->Records();
    for (int i = 0; i < 1984; ++i)
      rec.echoSamples.samples[static_cast<size_t>(i)] = int16_t(i < 1472 ? 500 : -7);
    rec.echoMode = 1;
    p.CmbOscillMode->setCurrentIndex(1);
    emit p.CmbOscillMode->activated(1);
    QCOMPARE(rec.tuning.OscMode, 2);
    p.ShowEcho();
    QCOMPARE(p.Series1->count(), 1472);
    QCOMPARE(p.Series1->at(1471).y(), 500.0);
    QVERIFY(p.EditMm->text() != QString("-"));

    rec.echoMode = 2;
    p.ShowEcho();
    QCOMPARE(p.Series1->count(), 1984);
    QCOMPARE(p.Series1->at(1983).y(), -7.0);
    QCOMPARE(p.EditMm->text(), QString("-"));
  }

  void movingTheFrequencyReachesTheSensor() {
    SearchAndEnter();
    ScopePage& p = Page();
    p.TbFreq->setValue(1500);
    QCOMPARE(p.EditFreq->text(), QString("1500"));
    QTRY_COMPARE_WITH_TIMEOUT(int(sensor_->State().frequency), 1500, kWaitMs);
    QTRY_COMPARE_WITH_TIMEOUT(p.LblFreq->text(), QString("1500"), kWaitMs);
    QCOMPARE(int(sensor_->State().filter), 450);  // wide band stays

    // A filter of 1000 follows the frequency; 5000 typed is limited to 4000.
    p.CmbFiltr->setCurrentIndex(11);
    emit p.CmbFiltr->activated(11);
    QTRY_COMPARE_WITH_TIMEOUT(int(sensor_->State().filter), 1000, kWaitMs);
    // The write job ends by posting the poll, which would replace a job
    // posted before it: go on once the echo shows the new filter.
    QTRY_COMPARE_WITH_TIMEOUT(p.LblFiltr->text(), QString("1000"), kWaitMs);
    p.EditFreq->setText("5000");
    QTest::mouseClick(p.BtnFreq, Qt::LeftButton);
    QCOMPARE(p.TbFreq->value(), 4000);
    QCOMPARE(p.EditFreq->text(), QString("4000"));
    QCOMPARE(p.CmbFiltr->currentText(), QString("4000"));
    QTRY_COMPARE_WITH_TIMEOUT(int(sensor_->State().frequency), 4000, kWaitMs);
    QTRY_COMPARE_WITH_TIMEOUT(int(sensor_->State().filter), 4000, kWaitMs);
    QTRY_COMPARE_WITH_TIMEOUT(p.LblFreq->text(), QString("4000"), kWaitMs);

    // Gain "Авто" with a limit of 12, attenuator on.
    p.CmbKu->setCurrentIndex(25);
    p.CmbKuMax->setCurrentIndex(12);
    emit p.CmbKuMax->activated(12);
    QTRY_COMPARE_WITH_TIMEOUT(int(sensor_->State().kuWord), 3097, kWaitMs);
    QTRY_COMPARE_WITH_TIMEOUT(p.LblKu->text(), QString("12"), kWaitMs);
    p.CmbAtten->setCurrentIndex(1);
    emit p.CmbAtten->activated(1);
    QTRY_COMPARE_WITH_TIMEOUT(int(sensor_->State().attenuation), 30, kWaitMs);
    QTRY_COMPARE_WITH_TIMEOUT(p.LblAtten->text(), QString("30"), kWaitMs);

    // Integrator: dead zone 100, threshold 3.
    p.PcPulse->setCurrentWidget(p.TsIntegrator);
    p.EditIntegrateDeadzone->setText("100");
    p.EditIntegrateTreshold->setText("3");
    QTest::mouseClick(p.BtnSetIntegrator, Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(sensor_->State().integrator, 3u * 65536u + 100u, kWaitMs);

    // A text that is no integer: a box, nothing posted.
    p.EditIntegrateTreshold->setText("");
    QTest::mouseClick(p.BtnSetIntegrator, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(FindBox("ErrorBox") != nullptr, kWaitMs);
    FindBox("ErrorBox")->close();
    QVERIFY(FindBox("ErrorBox") == nullptr);
  }

  void displayTestSendsItsMasksAndHoldsThePage() {
    SearchAndEnter();
    ScopePage& p = Page();
    p.PcPulse->setCurrentWidget(p.TsDsplTest);
    QCheckBox* chk9 = p.ChkTestDisplay[8];
    QCOMPARE(chk9->objectName(), QString("ChkTestDisplay9"));
    QCOMPARE(chk9->property("tag").toInt(), 9);
    chk9->setChecked(true);
    QTest::mouseClick(p.SbDplTestManual, Qt::LeftButton);
    QVERIFY(p.SbDplTestManual->isChecked());
    QTRY_VERIFY_WITH_TIMEOUT(sensor_->State().displayMasks.size() >= 3, kWaitMs);
    for (uint32_t m : sensor_->State().displayMasks) QCOMPARE(m, 0x2u);
    QVERIFY(!p.EditAuth->isEnabled());
    QVERIFY(form_->PageChangeLocked());
    // Neither another sub-page nor another page can be chosen meanwhile.
    p.PcPulse->setCurrentIndex(0);
    QCOMPARE(p.PcPulse->currentWidget(), p.TsDsplTest);
    PcMain()->setCurrentIndex(0);
    QCOMPARE(PcMain()->currentWidget()->objectName(), QString("TsOscill"));

    // The automatic test walks the segments, starting after 0x100.
    QTest::mouseClick(p.SbDplTestAuto, Qt::LeftButton);
    QVERIFY(!p.SbDplTestManual->isChecked());
    const size_t before = sensor_->State().displayMasks.size();
    QTRY_VERIFY_WITH_TIMEOUT(sensor_->State().displayMasks.size() >= before + 4, kWaitMs);
    std::vector<uint32_t> masks = sensor_->State().displayMasks;
    // The first masks after the press may still include one manual step.
    auto it = std::find(masks.begin() + static_cast<long>(before), masks.end(), 0x200u);
    QVERIFY(it != masks.end() && masks.end() - it >= 3);
    QCOMPARE(*(it + 1), 0x400u);
    QCOMPARE(*(it + 2), 0x800u);

    // Releasing ends the test: the echo comes back with the read-outs.
    QTest::mouseClick(p.SbDplTestAuto, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(p.EditAuth->isEnabled(), kWaitMs);
    QTRY_VERIFY_WITH_TIMEOUT(!form_->PageChangeLocked(), kWaitMs);
    p.PcPulse->setCurrentIndex(0);
    QCOMPARE(p.PcPulse->currentWidget(), p.TsPulse);
  }

  void automaticTuningStep2ShowsProgressThenTheResult() {
    vsensor::SensorState st = sensor_->State();
    st.autoStepMs = 2500;
    st.resonance = 1300;
    sensor_->SetState(st);
    SearchAndEnter();
    ScopePage& p = Page();
    p.PcPulse->setCurrentWidget(p.TsAuto);
    QTest::mouseClick(p.SbAfc, Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(p.LblDataInst->text(), QString::fromUtf8("Сканирование..."), kWaitMs);
    QVERIFY(p.SbAfc->isChecked());
    QVERIFY(!p.SbPre->isChecked());
    QVERIFY(!p.EditAuth->isEnabled());
    QVERIFY(p.LblDataInst->isEnabled());
    QVERIFY(form_->PageChangeLocked());
    p.PcPulse->setCurrentIndex(0);
    QCOMPARE(p.PcPulse->currentWidget(), p.TsAuto);
    // The sensor reports success; tuning is switched off and the tuned
    // values are read back.
    QTRY_VERIFY_WITH_TIMEOUT(FindBox("InfoBox") != nullptr, kWaitMs);
    QCOMPARE(FindBox("InfoBox")->text(),
             QString::fromUtf8("Автоматическое определение параметров завершено успешно"));
    FindBox("InfoBox")->close();
    QTRY_COMPARE_WITH_TIMEOUT(p.TbFreq->value(), 1300, kWaitMs);
    QTRY_VERIFY_WITH_TIMEOUT(p.EditAuth->isEnabled(), kWaitMs);
    QVERIFY(!p.SbAfc->isChecked());
    QCOMPARE(p.LblDataInst->text(), QString::fromUtf8("Не активен"));
    QCOMPARE(int(sensor_->State().mode), 0);
    QTRY_COMPARE_WITH_TIMEOUT(p.LblFreq->text(), QString("1300"), kWaitMs);
  }

  void savesTheOscillogramAsPictureAndNumbers() {
    SearchAndEnter();
    ScopePage& p = Page();
    const QString png = tmp_->filePath("echo.png"), csv = tmp_->filePath("echo.csv");
    QString error;
    QVERIFY2(p.SaveOscillogram(png, &error), qPrintable(error));
    QVERIFY2(p.SaveOscillogram(csv, &error), qPrintable(error));
    QImage image(png);
    QVERIFY(!image.isNull());
    QCOMPARE(image.size(), p.Chart1->size() * p.Chart1->devicePixelRatioF());
    QFile f(csv);
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(f.readAll()).split('\n', Qt::SkipEmptyParts);
    QVERIFY(lines.contains("\"mm:\",\"350\""));
    const int head = static_cast<int>(lines.indexOf("x,sample,contrast"));
    QVERIFY(head > 0);
    QCOMPARE(lines.size() - head - 1, 1472);
    QVERIFY(!p.SaveOscillogram(tmp_->filePath("no/such/folder/echo.csv"), &error));
  }
};

QTEST_MAIN(ScopePageTest)
#include "scope_page_test.moc"
