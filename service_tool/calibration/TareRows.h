// The calibration table while it is edited: rows of three texts (number,
// litres, millimetres), and the rules every new point must pass.
//
// The rows hold texts, not numbers, because the grid shows them, the
// spreadsheet exchange and the geometry calculator hand texts over, and those
// rows are taken as they are. The numbers are read back from the texts with
// the user's notation (TareRows::locale) whenever a rule needs them, which is
// why a point of 10.04 litres does not match a row that reads "10.0".
//
// Rows are numbered from 1. Columns: 0 the row number, 1 litres ("%.1f"),
// 2 whole millimetres.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "HubData.h"
#include "NumberText.h"

namespace kl {

class TareUi;

// Points the calibration window stores into the table.
inline constexpr int TareMaxPoints = 50;
inline constexpr float TareMaxLitres = 650000.0f;
// The largest whole millimetre value whose level code (0.1 mm) fits 16 bits.
inline constexpr int TareMaxLevelMm = 6553;

enum TareColumn { TareColNumber = 0, TareColLitres = 1, TareColMm = 2 };

struct TareRows {
  // The notation the texts are written and read in; the window sets it from
  // the user's locale before it fills the rows.
  NumberLocale locale;
  // Never empty: an empty table is one row of empty texts.
  std::vector<std::array<std::string, 3>> rows = std::vector<std::array<std::string, 3>>(1);
};

int TareRowCount(const TareRows& t);
// Text of a column (0..2) of a row (1..count); empty outside the table.
const std::string& TareText(const TareRows& t, int column, int row);
// Writes one text; ignored outside the table.
void TareSetText(TareRows& t, int column, int row, std::string text);
// Grows with empty rows or cuts from the end; at least one row remains.
void TareSetRowCount(TareRows& t, int count);

// One row, emptied.
void TareClear(TareRows& t);
// Column 0 of every row gets its row number.
void TareRenumber(TareRows& t);
// Inserts an empty row at position r (1..count + 1); the rows from r on move
// down one place.
void TareOpenRow(TareRows& t, int r);
// Removes rows first..last (the last remaining row is emptied instead), then
// renumbers. Positions outside the table are skipped.
void TareDeleteRows(TareRows& t, int first, int last);

// Replaces the rows with the points of a table; points at level 0 with 0.0
// litres are empty slots and are skipped.
void TareLoad(TareRows& t, const TankTable& table);

// Inserts the point of L litres at M millimetres at its place in the order of
// litres, or overwrites the row with the same litres. Refusals show one error
// through `ui` and change nothing:
//   msg_wrong_code_value  below 1 litre at 0 mm; millimetres not strictly
//                         rising with the litres at the insertion place
//   msg_wrong_litr_value  above TareMaxLitres
//   msg_litr_negative     below 0 litres (or not a number)
//   msg_level_out_of_range  M outside 0..TareMaxLevelMm (its code would not
//                         fit 16 bits)
//   msg_row_mm_not_whole  a neighbouring row's millimetres that the rule reads
//                         are not a whole number (row number given)
bool TareInsertPoint(TareRows& t, float litres, int mm, TareUi& ui);

enum class TareCommitResult {
  Stored,    // the table holds the rows
  Declined,  // the user answered No to msg_table_will_trunc
  Refused,   // a row the sensor's table cannot hold; nothing stored
};

// Stores the rows whose litres and millimetres both read as numbers, at most
// TareMaxPoints of them, into the table: Level = truncate(mm + 0.5) * 10,
// Litres as read, TableLen, and the smallest MlPerUnit that lets the largest
// volume fit. More readable rows than that ask msg_table_will_trunc first. A
// row whose level code or whose volume could not be coded in 16 bits refuses
// the whole table with msg_row_level_out_of_range or msg_row_litr_out_of_range
// naming the first such row. Size, TankID and TankHeight are not written.
TareCommitResult TareCommit(const TareRows& t, TankTable& table, TareUi& ui);

// The filling procedure behind the calibration window's "Добавить": the level
// shown (whole millimetres, or a text such as "No Data"), the sensitivity and
// the portion texts. A positive portion adds to the last row's litres at a
// level at least `sensitivity` above the last row's, a negative one subtracts
// from the first row's at a level at least that far below. Refusals:
// msg_wrong_code_value, msg_accuracy_value_wrong, msg_fuel_portion_wrong,
// msg_fuel_portion_too_small, msg_code_change_less_than_accuracy,
// msg_drain_portion_too_big, and those of TareInsertPoint.
bool TareAddPortion(TareRows& t, std::string_view levelText, std::string_view sensitivityText,
                    std::string_view portionText, TareUi& ui);

}  // namespace kl
