// The calibration page (TsTara): the sensor's preset tank table, the tank
// type in use, the calibration window and the tank list exchange.
#pragma once

#include <QWidget>

namespace kl {

class TForm1;

class CalibrationPage : public QWidget {
  Q_OBJECT
 public:
  explicit CalibrationPage(TForm1& form, QWidget* parent = nullptr);

  // Refills the page's lists from the loaded texts (after a language load).
  void RefillLists();
  // Disables (busy) or enables the page's controls; enabling follows the
  // selected tank type.
  void SetBusy(bool busy);

  // Window operations of the engine, run on this thread while it waits.
  void ShowHubImage();
  void StoreHubImage();
  void ShowLevel(int levelCode, bool noData);

 private:
  TForm1& form_;
};

}  // namespace kl
