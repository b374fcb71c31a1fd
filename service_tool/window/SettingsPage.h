// The settings page (TsSettings): the sensor's passport and output settings.
//
// The page owns its controls; filling and collecting run over one table of
// bindings (control, field of the page's plain view), and the arithmetic
// between that view and the engine's records lives in SettingsRules.
#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QWidget>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "NumberText.h"
#include "SettingsRules.h"

namespace kl {

class TForm1;

// A spin edit as the technician knows it: digits only; on leaving it the
// value is limited to the range, and a text that is no number reads as the
// minimum.
class SpinEdit : public QSpinBox {
  Q_OBJECT
 public:
  SpinEdit(int min, int max, QWidget* parent);
  // The value the text stands for, whether or not the edit still has focus.
  int TextValue() const;

 protected:
  QValidator::State validate(QString& input, int& pos) const override;
  int valueFromText(const QString& text) const override;
  void fixup(QString& input) const override;
};

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

  // The user's decimal notation, from the default QLocale.
  static NumberLocale UserNumberLocale();

 private:
  void BuildControls();
  void OnFuelTypeChanged(int index);
  void ApplyFuelEnabling();
  void OnParamsWrite();
  void ShowView(const SettingsView& v);
  SettingsView TakeView() const;

  TForm1& form_;

  // Controls, by their component names.
  QGroupBox* GbInfo = nullptr;
  QLabel* LblDate = nullptr;
  QLineEdit* EditDate = nullptr;
  QLabel* LblSN = nullptr;
  QLineEdit* EditSN = nullptr;
  QLabel* LblModel = nullptr;
  QLineEdit* EditModel = nullptr;
  QLabel* LblVer = nullptr;
  QLineEdit* EditVer = nullptr;
  QLabel* LblRev = nullptr;
  QLineEdit* EditRev = nullptr;
  QGroupBox* GbParams = nullptr;
  QLabel* LblBits = nullptr;
  QComboBox* CmbBits = nullptr;
  QLabel* Lbl255Ans = nullptr;
  QComboBox* Cmb255Ans = nullptr;
  QLabel* LblPostFiltr = nullptr;
  QComboBox* CmbPostFiltr = nullptr;
  QLabel* LblAddr2 = nullptr;
  SpinEdit* SpinAddr2 = nullptr;
  QLabel* LblBaud2 = nullptr;
  QComboBox* CmbBaud2 = nullptr;
  QCheckBox* RepAutoOn = nullptr;
  QLabel* LblPeriod = nullptr;
  SpinEdit* RepAutoPeriod = nullptr;
  QGroupBox* GbFuelType = nullptr;
  QLabel* LblFuelType = nullptr;
  QComboBox* CmbFuelType = nullptr;
  QLabel* LblFuelOfs = nullptr;
  QLineEdit* EditFuelOfs = nullptr;
  QLabel* LblFuelKu = nullptr;
  QLineEdit* EditFuelKu = nullptr;
  QPushButton* BtnParamsWrite = nullptr;

  // The bindings: each control and the field of the view it shows. Filling
  // and collecting both walk these lists.
  struct TextBinding {
    QLineEdit* control;
    std::string SettingsView::*field;
    bool collected;  // false: the passport, shown only
  };
  struct ListBinding {
    QComboBox* control;
    int SettingsView::*field;
  };
  struct SpinBinding {
    SpinEdit* control;
    int SettingsView::*field;
  };
  struct CheckBinding {
    QCheckBox* control;
    bool SettingsView::*field;
  };
  std::vector<TextBinding> texts_;
  std::vector<ListBinding> lists_;
  std::vector<SpinBinding> spins_;
  std::vector<CheckBinding> checks_;
};

}  // namespace kl
