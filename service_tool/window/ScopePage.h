// The oscilloscope and tuning page (TsOscill): the live echo, the sensor's
// read-outs and every tuning control. Its handlers only set the engine-wide
// tuning values and post jobs; the window operations the engine runs here
// fill the read-outs and the chart.
#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QList>
#include <QPointF>
#include <QProgressBar>
#include <QPushButton>
#include <QSlider>
#include <QTabWidget>
#include <QToolButton>
#include <QWidget>
#include <QtCharts/QChart>
#include <QtCharts/QChartView>
#include <QtCharts/QLineSeries>
#include <QtCharts/QScatterSeries>
#include <QtCharts/QValueAxis>

#include <array>
#include <cstdint>
#include <string>

namespace kl {

class TForm1;

class ScopePage : public QWidget {
  Q_OBJECT
 public:
  explicit ScopePage(TForm1& form, QWidget* parent = nullptr);

  // Refills the page's lists from the loaded texts (after a language load).
  void RefillLists();

  // Window operations of the engine, run on this thread while it waits.
  void EnableReadouts(bool on);
  void ReadOscillMode();
  void ShowEcho();
  void ShowAutoStep1();
  void ShowAutoStep2();
  void ShowTuningParams();
  void AddAfcPoint();
  void BuildDisplayMask();

  // While set, PcPulse keeps its sub-page.
  bool SubPageLocked() const { return subPageLock_; }

  // Saves the chart as shown (.png) or the echo as numbers (.csv, any other
  // extension); false with the reason when the file cannot be written.
  bool SaveOscillogram(const QString& path, QString* error);

  // Controls, by their component names (also their object names).
  QComboBox* CmbOscillMode = nullptr;
  QLabel *LblAuth = nullptr, *LblPos = nullptr, *LblFrame = nullptr, *LblUncorr = nullptr, *LblCorr = nullptr,
         *LblMm = nullptr, *LblTemp = nullptr;
  QLineEdit *EditAuth = nullptr, *EditPos = nullptr, *EditFrame = nullptr, *EditUncorr = nullptr,
            *EditCorr = nullptr, *EditMm = nullptr, *EditTemp = nullptr;
  QLabel *LblCurr = nullptr, *LblSet = nullptr, *LblMax = nullptr;
  QLabel *LblKuStr = nullptr, *LblKu = nullptr, *LblAttenStr = nullptr, *LblAtten = nullptr;
  QComboBox *CmbKu = nullptr, *CmbKuMax = nullptr, *CmbAtten = nullptr;

  QChartView* Chart1 = nullptr;
  QLineSeries* Series1 = nullptr;                                                 // "Oscill"
  QLineSeries* Series2 = nullptr;                                                 // "AFC"
  QLineSeries* Series3 = nullptr;                                                 // "Integrator"
  QCheckBox *ChkSeries1 = nullptr, *ChkSeries2 = nullptr, *ChkSeries3 = nullptr;  // the legend
  QPushButton* BtnSaveOscill = nullptr;

  QTabWidget* PcPulse = nullptr;
  QWidget *TsPulse = nullptr, *TsFiltr = nullptr, *TsIntegrator = nullptr, *TsAfc = nullptr,
          *TsAuto = nullptr, *TsDsplTest = nullptr;
  // TsPulse
  QLabel* LblFreqStr = nullptr;
  QSlider* TbFreq = nullptr;
  QLabel* LblFreq = nullptr;
  QLineEdit* EditFreq = nullptr;
  QPushButton* BtnFreq = nullptr;
  QLabel* LblPulseStr = nullptr;
  QSlider* TbPulse = nullptr;
  QLabel* LblPulse = nullptr;
  QLineEdit* EditPulse = nullptr;
  QPushButton* BtnPulse = nullptr;
  // TsFiltr
  QLabel* LblFiltrStr = nullptr;
  QSlider* TbFiltr = nullptr;
  QLabel* LblFiltr = nullptr;
  QComboBox* CmbFiltr = nullptr;
  // TsIntegrator
  QGroupBox* GbIntegrator = nullptr;
  QLabel *LblIntegrateDeadzone = nullptr, *LblIntegrateTreshold = nullptr;
  QLineEdit *EditIntegrateDeadzone = nullptr, *EditIntegrateTreshold = nullptr;
  QPushButton* BtnSetIntegrator = nullptr;
  // TsAfc
  QGroupBox* GbAfc = nullptr;
  QLabel *LblDAfc = nullptr, *LblAfcDeadZone = nullptr, *LblAfcBandwidth = nullptr;
  QLineEdit *EditDAfc = nullptr, *EditAfcDeadZone = nullptr, *EditAfcBandwidth = nullptr;
  QPushButton* BtnAFC = nullptr;
  // TsAuto
  QGroupBox* GbAutomat = nullptr;
  QToolButton *SbPre = nullptr, *SbAfc = nullptr;
  QLabel* LblDataInst = nullptr;
  QProgressBar* TbDataInst = nullptr;
  // TsDsplTest
  QGroupBox* GbDisplay = nullptr;
  QLabel *LblSegm1 = nullptr, *LblSegm2 = nullptr, *LblSegm3 = nullptr;
  // ChkTestDisplay0..6, 8..14 and 16, in that order; each carries its number
  // as the "tag" property.
  std::array<QCheckBox*, 15> ChkTestDisplay{};
  QToolButton *SbDplTestManual = nullptr, *SbDplTestAuto = nullptr;

 private:
  void BuildReadouts(QWidget* panel);
  void BuildChart();
  void BuildPulsePages();
  QWidget* BuildPulsePage();
  QWidget* BuildFiltrPage();
  QWidget* BuildIntegratorPage();
  QWidget* BuildAfcPage();
  QWidget* BuildAutoPage();
  QWidget* BuildDisplayPage();

  // Handlers of the user's actions.
  void OnOscillModeChosen(int entry);
  void OnGainChosen();
  void OnAttenChosen(int entry);
  void OnFreqChanged();
  void OnFreqButton();
  void OnPulseChanged();
  void OnPulseButton();
  void OnFiltrChanged();
  void OnFiltrChosen(int entry);
  void OnSetIntegrator();
  void OnAfcButton();
  void OnAutoButton(QToolButton* button, bool down);
  void OnDisplayTestButton(QToolButton* button, bool down);
  void OnSubPageChanged(int index);
  void OnSaveOscillogram();

  void SetLeftAxis(int entry);
  // Reads an integer edit; shows the error box and returns nothing when the
  // text is not an integer.
  std::optional<int32_t> ReadEdit(QLineEdit* edit);
  void ErrorBox(const std::string& text);
  void Post(int job);
  bool filling_ = false;  // ShowTuningParams is filling the controls
  static int64_t NowMs();
  char Decimal() const;

  TForm1& form_;
  QChart* chart_ = nullptr;
  QScatterSeries* marks_ = nullptr;  // Series3 points at or above the mark, drawn over it
  QValueAxis* axisX_ = nullptr;
  QValueAxis* axisY_ = nullptr;
  QValueAxis* axisAfc_ = nullptr;  // frequency axis of Series2
  bool subPageLock_ = false;
  int subPage_ = 0;
  bool programSelectsSubPage_ = false;
  int64_t progressTick_ = 0;  // last progress step of tuning step 2, 0 after a button click
  // Buffers reused for every echo, so drawing allocates nothing new.
  QList<QPointF> points1_, points3_, marks3_;
  std::array<uint16_t, 1472> contrastIn_{};
  std::array<uint32_t, 1472> contrastOut_{};
  int shownMode_ = 0;  // OscMode of the echo on the chart, 0: none yet
};

}  // namespace kl
