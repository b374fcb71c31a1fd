// The calibration page (TsTara): the sensor's preset tank table, the tank
// type in use, the calibration window and the tank list exchange.
#pragma once

#include <QComboBox>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>
#include <QWidget>

#include <functional>
#include <string>
#include <string_view>

namespace kl {

class TForm1;
class TForm_Tare1;

class CalibrationPage : public QWidget {
  Q_OBJECT
 public:
  explicit CalibrationPage(TForm1& form, QWidget* parent = nullptr);

  // Refills the page's lists from the loaded texts (after a language load).
  void RefillLists();
  // Disables (busy) or enables the page's controls; enabling follows the
  // selected tank type.
  void SetBusy(bool busy);

  // Window operations of the engine, run on this thread while it waits. They
  // may ask the user first; `done` runs once they have finished.
  void ShowHubImage(std::function<void()> done);
  void StoreHubImage(std::function<void()> done);
  void ShowLevel(int levelCode, bool noData);

  // The calibration window while it is open, else null.
  TForm_Tare1* TareWindow() const { return tareWindow_; }

  // Controls, by their component names.
  QGroupBox* GbTara = nullptr;
  QLabel* LblHubVer = nullptr;
  QLineEdit* EditHubVersion = nullptr;
  QLabel* LblHubTankID = nullptr;
  QComboBox* CmbHubTankID = nullptr;
  QPushButton* BtnHubTareTable = nullptr;
  QLabel* LblHubTableLen = nullptr;
  QLineEdit* EditHubTableLen = nullptr;
  QLabel* LblHubTankHeight = nullptr;
  QSpinBox* SpinHubTankHeight = nullptr;
  QLabel* LblHubMlPerBit = nullptr;
  QComboBox* CmbHubMlPerBit = nullptr;
  QPushButton* BtnHubTareSet = nullptr;
  QGroupBox* GbExcelImpExp = nullptr;
  QPushButton* BtnTanksImp = nullptr;
  QPushButton* BtnTanksExp = nullptr;

 private:
  void BuildControls();
  void ApplyEnabling();
  void FillFromImage();
  void RefuseImage();
  void OnTankChosen(int index);
  void OnTareTable();
  void OnTanksImport();
  void OnTanksExport();
  QFileDialog* MakeFileDialog(const char* name, bool save);
  // Runs fn now, or once the running transfer has ended.
  void WhenIdle(std::function<void()> fn);
  // A box of the program's kind (error or information, one OK), then `then`.
  void Box(QMessageBox::Icon icon, const std::string& text, std::function<void()> then = {});
  std::string MessageText(std::string_view key, int row) const;

  TForm1& form_;
  bool busy_ = false;
  // The user kept an invalid image: the table controls stay off until a
  // valid one is shown.
  bool imageRefused_ = false;
  TForm_Tare1* tareWindow_ = nullptr;
};

}  // namespace kl
