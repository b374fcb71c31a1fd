// The calibration table window (TForm_Tare1) and its add-point dialog.
#pragma once

#include <QDialog>
#include <QPointer>
#include <QWidget>

#include <functional>
#include <string>

#include "HubData.h"
#include "TareRows.h"
#include "Unit_texts.h"

class QAction;
class QChartView;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QLineSeries;
class QMenu;
class QPushButton;
class QTableView;
class QToolButton;
class QValueAxis;

namespace kl {

class TForm_Tare1;
class TareTableModel;

struct TareWindowOptions {
  std::string languageFile;   // the window's texts; missing file: built-in texts
  std::string journalFolder;  // where an unfinished calibration is kept; empty: no journal
};

// Opens the calibration table window for `table` (owned by the caller, who
// keeps it alive while the window is open), modal and without a nested event
// loop: it returns at once. onClosed(ok) runs once the window has closed; ok
// is true when OK stored the rows into table. The window frees itself when
// it closes: keep the pointer in a QPointer.
TForm_Tare1* OpenTareWindow(QWidget* parent, TankTable& table, bool readOnly,
                            const TareWindowOptions& options, std::function<void(bool ok)> onClosed);

// The window's level read-out (the engine's level poll), for the page that
// forwards ShowLevel. A null window is ignored.
void TareWindowShowLevel(TForm_Tare1* window, int levelCode, bool noData);

class TForm_Tare1 : public QDialog {
  Q_OBJECT

 public:
  TForm_Tare1(QWidget* parent, TankTable& table, bool readOnly, const TareWindowOptions& options);

  void ShowLevel(double code, bool noData);
  const TareRows& Rows() const;
  bool ReadOnly() const { return readOnly_; }

  // Component names (and Qt object names) of the controls.
  QGroupBox* gb_tare = nullptr;
  QLabel* lbl_accuracy = nullptr;
  QLineEdit* edit_accuracy = nullptr;
  QLabel* lbl_portion = nullptr;
  QLineEdit* edit_portion = nullptr;
  QPushButton* btn_add = nullptr;
  QGroupBox* gb_table1 = nullptr;
  QPushButton* btn_calc_by_geometry = nullptr;
  QToolButton* spd_imp = nullptr;
  QToolButton* spd_exp = nullptr;
  QToolButton* spd_add = nullptr;
  QToolButton* spd_del = nullptr;
  QTableView* sg_tare1 = nullptr;
  QMenu* PopupMenu1 = nullptr;
  QAction* Menu_Add = nullptr;
  QAction* Menu_Rem = nullptr;
  QAction* N1 = nullptr;
  QAction* Menu_Excel_Imp = nullptr;
  QAction* Menu_Excel_Exp = nullptr;
  QGroupBox* gb_level1 = nullptr;
  QFrame* shape_box = nullptr;
  QFrame* shape_fuel = nullptr;
  QLabel* lbl_max = nullptr;
  QLabel* lbl_min = nullptr;
  QLabel* lbl_fuel = nullptr;
  QChartView* chart_tare = nullptr;
  QPushButton* btn_OK = nullptr;
  QPushButton* btn_Cancel = nullptr;

 protected:
  void keyPressEvent(QKeyEvent* e) override;
  void showEvent(QShowEvent* e) override;

 private:
  void FormShow();
  void OfferJournal();
  void btn_addClick();
  void btn_OKClick();
  void Menu_AddClick();
  void Menu_RemClick();
  void Menu_Excel_ImpClick();
  void Menu_Excel_ExpClick();
  void btn_calc_by_geometryClick();
  void RowsEdited();
  void Redraw();
  void ShowXlsResult(bool ok, const std::string& text);

  TankTable& table_;
  bool readOnly_;
  TareWindowOptions options_;
  SectionLookup lookup_;
  TareTableModel* model_ = nullptr;
  QLineSeries* curve_ = nullptr;
  QValueAxis* axisMm_ = nullptr;
  QValueAxis* axisLitres_ = nullptr;
  int barHeight_ = -1;
  bool offered_ = false;
};

}  // namespace kl
