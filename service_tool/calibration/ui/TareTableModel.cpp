#include "TareTableModel.h"

namespace kl {

TareTableModel::TareTableModel(QObject* parent) : QAbstractTableModel(parent) {}

void TareTableModel::SetHeadings(const std::array<QString, 3>& headings) {
  headings_ = headings;
  emit headerDataChanged(Qt::Horizontal, 0, 2);
}

bool TareTableModel::InsertPoint(float litres, int mm, TareUi& ui) {
  TareRows next = rows_;
  if (!TareInsertPoint(next, litres, mm, ui)) return false;
  Replace(std::move(next));
  return true;
}

bool TareTableModel::AddPortion(std::string_view level, std::string_view sensitivity,
                                std::string_view portion, TareUi& ui) {
  TareRows next = rows_;
  if (!TareAddPortion(next, level, sensitivity, portion, ui)) return false;
  Replace(std::move(next));
  return true;
}

void TareTableModel::DeleteRows(int first, int last) {
  TareRows next = rows_;
  TareDeleteRows(next, first, last);
  Replace(std::move(next));
}

void TareTableModel::Replace(TareRows rows) {
  rows.locale = rows_.locale;
  if (rows.rows.empty()) rows.rows.resize(1);
  beginResetModel();
  rows_ = std::move(rows);
  endResetModel();
  emit Edited();
}

void TareTableModel::Load(const TankTable& table) {
  beginResetModel();
  TareLoad(rows_, table);
  endResetModel();
}

int TareTableModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : TareRowCount(rows_);
}

int TareTableModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : 3; }

QVariant TareTableModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid()) return {};
  if (role == Qt::DisplayRole)
    return QString::fromStdString(TareText(rows_, index.column(), index.row() + 1));
  if (role == Qt::TextAlignmentRole) return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
  return {};
}

QVariant TareTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (role != Qt::DisplayRole) return {};
  if (orientation == Qt::Horizontal) return section >= 0 && section < 3 ? headings_[section] : QVariant();
  return {};
}

Qt::ItemFlags TareTableModel::flags(const QModelIndex& index) const {
  // Rows change only through the rules, never by typing into a cell.
  return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
}

}  // namespace kl
