// The grid's view of the calibration rows. The model owns the one copy of
// the rows; every change goes through the rules of TareRows and is announced
// by Edited(), which the window turns into a journal entry and a new plot.
#pragma once

#include <QAbstractTableModel>

#include <array>
#include <string>

#include "TareRows.h"
#include "TareUi.h"

namespace kl {

class TareTableModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  explicit TareTableModel(QObject* parent = nullptr);

  const TareRows& rows() const { return rows_; }
  void SetLocale(const NumberLocale& loc) { rows_.locale = loc; }
  void SetHeadings(const std::array<QString, 3>& headings);

  // The rules (TareRows.h). Refusals change nothing and announce nothing.
  bool InsertPoint(float litres, int mm, TareUi& ui);
  bool AddPortion(std::string_view level, std::string_view sensitivity, std::string_view portion, TareUi& ui);
  void DeleteRows(int first, int last);
  // Rows as they come from elsewhere (a journal, a spreadsheet, the
  // calculator), in the model's notation.
  void Replace(TareRows rows);
  // The rows of a table, as the window opens; not an edit of the user's.
  void Load(const TankTable& table);

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;

 signals:
  void Edited();

 private:
  TareRows rows_;
  std::array<QString, 3> headings_;
};

}  // namespace kl
