// TForm_Add: the small dialog in which points are typed. It stays open for
// further points; each goes through the calibration window's rules.
#pragma once

#include <QDialog>

#include <functional>

#include "NumberText.h"
#include "TareUi.h"
#include "Unit_texts.h"

class QLabel;
class QLineEdit;
class QPushButton;

namespace kl {

class TForm_Add : public QDialog {
  Q_OBJECT

 public:
  // insert runs the window's TareInsertPoint; its refusals go to the ui given.
  using InsertFn = std::function<bool(float litres, int mm, TareUi& ui)>;
  TForm_Add(QWidget* parent, const SectionLookup& lookup, const NumberLocale& locale, InsertFn insert);

  QLabel* lbl_litr = nullptr;
  QLineEdit* edit_litr = nullptr;
  QLabel* lbl_code = nullptr;
  QLineEdit* edit_code = nullptr;
  QPushButton* btn_add = nullptr;
  QPushButton* btn_exit = nullptr;

 private:
  void FormShow();
  void btn_addClick();

  SectionLookup lookup_;
  NumberLocale locale_;
  InsertFn insert_;
};

}  // namespace kl
