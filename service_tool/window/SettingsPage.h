// The settings page (TsSettings): the sensor's passport and output settings.
#pragma once

#include <QWidget>

#include <cstdint>
#include <optional>

namespace kl {

class TForm1;

class SettingsPage : public QWidget {
  Q_OBJECT
 public:
  explicit SettingsPage(TForm1& form, QWidget* parent = nullptr);

  // Refills the page's lists from the loaded texts (after a language load).
  void RefillLists();
  // Disables (busy) or enables the controls a running job must not see changed.
  void SetBusy(bool busy);
  // The baud rate chosen on the page, if one is chosen (AdoptNewBaud).
  std::optional<int32_t> ChosenBaud() const;

  // Window operations of the engine, run on this thread while it waits.
  void FillSettingsPage();
  void CollectSettingsPage();

 private:
  TForm1& form_;
};

}  // namespace kl
