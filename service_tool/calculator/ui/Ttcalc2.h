// The tank geometry calculator window (TTTCalc): the technician picks the
// tank's shape, types its dimensions and gets the calibration table at once.
// The formulas are in Calc.h, the window's own arithmetic in TTCalcRules.h.
#pragma once

#include <QAbstractTableModel>
#include <QDialog>
#include <QPointer>
#include <QWidget>

#include <functional>
#include <string>

#include "Calc.h"
#include "TTCalcRules.h"
#include "TareRows.h"

class QLabel;
class QLineEdit;
class QMessageBox;
class QPushButton;
class QScrollBar;
class QTabWidget;
class QTableView;

namespace kl {

// Image1: the drawing of the tank on the active page, redrawn from the
// current parameters at the widget's size.
class CalcImage : public QWidget {
 public:
  explicit CalcImage(QWidget* parent);
  void SetTorus(const TorusParams& p);
  void SetCylinder(const CylinderParams& p);
  void ShowCylinder(bool cylinder);
  void SetHighlighted(int index);
  int Highlighted() const { return highlighted_; }
  // What is drawn now, at the current size.
  CalcDrawing Drawing() const;
  void SetColours(const QColor& brush, const QColor& pen, const QColor& shadow);

 protected:
  void paintEvent(QPaintEvent* e) override;

 private:
  TorusParams torus_;
  CylinderParams cylinder_;
  bool cylinderShown_ = false;
  int highlighted_ = 0;
  QColor brush_, pen_, shadow_;
};

// sg_tare1: the computed rows, with the number column drawn like a fixed one.
class CalcGridModel : public QAbstractTableModel {
 public:
  CalcGridModel(const TareRows& rows, QObject* parent);
  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
  void SetTitles(const QString& c0, const QString& c1, const QString& c2);
  void Reset();

 private:
  const TareRows& rows_;
  QString titles_[3];
};

class TTTCalc : public QDialog {
 public:
  // The table is written in `locale`, the notation the calibration rows are
  // read in; the texts come from the language file (missing: built-in).
  TTTCalc(QWidget* parent, std::string languageFile, const NumberLocale& locale);
  ~TTTCalc() override;

  // The computed table as the grid shows it (one empty row when there is none).
  const TareRows& Table() const { return grid_; }
  CalcImage* Image() const { return Image1; }

 protected:
  void showEvent(QShowEvent* e) override;
  bool eventFilter(QObject* watched, QEvent* e) override;

 private:
  void BuildControls();
  void LoadTexts();
  void Recompute();
  void ShowTable(const CalcTable& table);
  void ReportNotANumber(const QString& label, const std::string& text);
  int DimensionIndex(const QObject* label) const;

  std::string languageFile_;
  NumberLocale locale_;
  TareRows grid_;
  TorusParams torus_;
  CylinderParams cylinder_;
  std::string notANumberText_;
  QPointer<QMessageBox> box_;

 public:
  // Controls, by their component names.
  QTabWidget* PageControl1 = nullptr;
  QWidget* TTC_TorParamSheet = nullptr;
  QWidget* TTC_CylParamSheet = nullptr;
  QLabel* TTC_Label1 = nullptr;
  QLabel* TTC_Label2 = nullptr;
  QLabel* TTC_Label3 = nullptr;
  QLabel* TTC_Label4 = nullptr;
  QLabel* TTC_Label5 = nullptr;
  QLabel* TTC_Label6 = nullptr;
  QLabel* TTC_Label7 = nullptr;
  QLabel* TTC_Label8 = nullptr;
  QLabel* TTC_Label11 = nullptr;
  QLabel* TTC_Label12 = nullptr;
  QLabel* TTC_Label13 = nullptr;
  QLabel* TTC_Label14 = nullptr;
  QLabel* TTC_Label15 = nullptr;
  QLineEdit* Edit1 = nullptr;
  QLineEdit* Edit2 = nullptr;
  QLineEdit* Edit3 = nullptr;
  QLineEdit* Edit4 = nullptr;
  QLineEdit* Edit5 = nullptr;
  QLineEdit* Edit6 = nullptr;
  QLineEdit* Edit11 = nullptr;
  QLineEdit* Edit12 = nullptr;
  QLineEdit* Edit13 = nullptr;
  QLineEdit* Edit14 = nullptr;
  QLineEdit* Edit15 = nullptr;
  QScrollBar* ScrollBar1 = nullptr;
  QScrollBar* ScrollBar2 = nullptr;
  QTableView* sg_tare1 = nullptr;
  CalcGridModel* gridModel = nullptr;
  CalcImage* Image1 = nullptr;
  QPushButton* TTC_btn_OK = nullptr;
  QPushButton* TTC_btn_Cancel = nullptr;
};

// The window's caption when the language file gives none.
inline constexpr const char* kCalcCaption = "Расчет тарировочной таблицы";

// The user's decimal notation, from the system locale.
NumberLocale UserNumberLocale();

// Shows the calculator modally over parent. On OK the computed table
// replaces rows (one empty row when nothing was computed) and the result is
// true; on Cancel rows stay as they were. The table is written in the rows'
// own notation (rows.locale).
bool RunTankCalculator(QWidget* parent, const std::string& languageFile, TareRows& rows);

// The same without a nested event loop: opens the window modally and returns
// it at once. On OK the table replaces rows (which the caller keeps alive
// while the window is open); onClosed(ok) runs once it has closed.
TTTCalc* OpenTankCalculator(QWidget* parent, const std::string& languageFile, TareRows& rows,
                            std::function<void(bool ok)> onClosed);

}  // namespace kl
