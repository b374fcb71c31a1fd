// The oscilloscope and tuning page (TsOscill): the live echo, the sensor's
// read-outs and every tuning control.
#pragma once

#include <QWidget>

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

 private:
  TForm1& form_;
};

}  // namespace kl
