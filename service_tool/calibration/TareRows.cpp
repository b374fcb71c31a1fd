#include "TareRows.h"

#include <algorithm>
#include <cmath>
#include <optional>

#include "TareUi.h"

namespace kl {

namespace {

using Row = std::array<std::string, 3>;

const std::string kEmpty;

bool InTable(const TareRows& t, int row) { return row >= 1 && row <= TareRowCount(t); }

void WritePoint(TareRows& t, int row, float litres, int mm) {
  TareSetText(t, TareColLitres, row, FormatFixed1(litres, t.locale));
  TareSetText(t, TareColMm, row, FormatWhole(mm));
}

std::optional<float> LitresOf(const TareRows& t, int row) {
  return ParseFloat32(TareText(t, TareColLitres, row), t.locale);
}

// The millimetres of a neighbouring row, which the ordering rule compares as
// a whole number; a text that is not one stops the insertion.
std::optional<int> WholeMmOf(const TareRows& t, int row, TareUi& ui) {
  const auto mm = ParseWhole(TareText(t, TareColMm, row));
  if (!mm) ui.ShowError("msg_row_mm_not_whole", row);
  return mm;
}

// The coarsest volume unit a 16-bit MlPerUnit word can name.
constexpr std::uint32_t kLargestUnit = 10000;

// Whether a volume can be coded in the coarsest unit without passing 65535.
bool VolumeFits(float litres) {
  return litres >= 0.0f && static_cast<double>(litres) * 1000.0 / kLargestUnit + 0.5 < 65536.0;
}

bool Refuse(TareUi& ui, std::string_view key) {
  ui.ShowError(key, 0);
  return false;
}

}  // namespace

int TareRowCount(const TareRows& t) { return static_cast<int>(t.rows.size()); }

const std::string& TareText(const TareRows& t, int column, int row) {
  if (column < 0 || column > 2 || !InTable(t, row)) return kEmpty;
  return t.rows[static_cast<std::size_t>(row - 1)][static_cast<std::size_t>(column)];
}

void TareSetText(TareRows& t, int column, int row, std::string text) {
  if (column < 0 || column > 2 || !InTable(t, row)) return;
  t.rows[static_cast<std::size_t>(row - 1)][static_cast<std::size_t>(column)] = std::move(text);
}

void TareSetRowCount(TareRows& t, int count) { t.rows.resize(static_cast<std::size_t>(std::max(count, 1))); }

void TareClear(TareRows& t) { t.rows.assign(1, Row{}); }

void TareRenumber(TareRows& t) {
  for (int r = 1; r <= TareRowCount(t); ++r) TareSetText(t, TareColNumber, r, FormatWhole(r));
}

void TareOpenRow(TareRows& t, int r) {
  if (r < 1 || r > TareRowCount(t) + 1) return;
  t.rows.insert(t.rows.begin() + (r - 1), Row{});
}

void TareDeleteRows(TareRows& t, int first, int last) {
  for (int r = last; r >= first; --r) {
    if (!InTable(t, r)) continue;
    if (TareRowCount(t) == 1)
      t.rows[0] = Row{};
    else
      t.rows.erase(t.rows.begin() + (r - 1));
  }
  TareRenumber(t);
}

void TareLoad(TareRows& t, const TankTable& table) {
  TareClear(t);
  const std::size_t n = std::min<std::size_t>(table.TableLen, TankTableMaxPoints);
  bool first = true;
  for (std::size_t i = 0; i < n; ++i) {
    const TankTablePoint& p = table.Points[i];
    if (p.Level == 0 && p.Litres == 0.0f) continue;
    if (!first) t.rows.emplace_back();
    first = false;
    const auto mm = static_cast<std::uint16_t>(p.Level * 0.1 + 0.5);
    TareSetText(t, TareColLitres, TareRowCount(t), FormatFixed1(p.Litres, t.locale));
    TareSetText(t, TareColMm, TareRowCount(t), FormatWhole(mm));
  }
  TareRenumber(t);
}

bool TareInsertPoint(TareRows& t, float litres, int mm, TareUi& ui) {
  const float L = litres;
  const int M = mm;
  if (L < 1.0f && M == 0) return Refuse(ui, "msg_wrong_code_value");
  if (L > TareMaxLitres) return Refuse(ui, "msg_wrong_litr_value");
  if (!(L >= 0.0f)) return Refuse(ui, "msg_litr_negative");
  if (M < 0 || M > TareMaxLevelMm) return Refuse(ui, "msg_level_out_of_range");

  const int n = TareRowCount(t);
  for (int r = 1; r <= n; ++r) {
    const auto V = LitresOf(t, r);
    if (!V) {
      // The empty row of an empty table, or a row whose litres cannot be
      // read: the point takes its place.
      WritePoint(t, r, L, M);
      TareRenumber(t);
      return true;
    }
    if (L == *V) {
      if (r > 1) {
        const auto before = WholeMmOf(t, r - 1, ui);
        if (!before) return false;
        if (*before >= M) return Refuse(ui, "msg_wrong_code_value");
      }
      if (r < n) {
        const auto after = WholeMmOf(t, r + 1, ui);
        if (!after) return false;
        if (*after <= M) return Refuse(ui, "msg_wrong_code_value");
      }
      WritePoint(t, r, L, M);
      TareRenumber(t);
      return true;
    }
    if (L < *V) {
      if (r > 1) {
        const auto before = WholeMmOf(t, r - 1, ui);
        if (!before) return false;
        if (*before >= M) return Refuse(ui, "msg_wrong_code_value");
      }
      const auto here = WholeMmOf(t, r, ui);
      if (!here) return false;
      if (*here <= M) return Refuse(ui, "msg_wrong_code_value");
      TareOpenRow(t, r);
      WritePoint(t, r, L, M);
      TareRenumber(t);
      return true;
    }
  }
  const auto last = WholeMmOf(t, n, ui);
  if (!last) return false;
  if (*last >= M) return Refuse(ui, "msg_wrong_code_value");
  t.rows.emplace_back();
  WritePoint(t, n + 1, L, M);
  TareRenumber(t);
  return true;
}

TareCommitResult TareCommit(const TareRows& t, TankTable& table, TareUi& ui) {
  struct Readable {
    int row;
    double mm;
    float litres;
  };
  std::vector<Readable> readable;
  for (int r = 1; r <= TareRowCount(t); ++r) {
    const auto mm = ParseDecimal(TareText(t, TareColMm, r), t.locale);
    const auto litres = LitresOf(t, r);
    if (mm && litres) readable.push_back({r, *mm, *litres});
  }
  const std::size_t count = std::min<std::size_t>(readable.size(), TareMaxPoints);

  // A value that does not fit its 16-bit word would be stored wrapped, a
  // wrong point on every truck that carries the sensor: the whole table is
  // refused instead, naming the row to correct.
  for (std::size_t i = 0; i < count; ++i) {
    const Readable& p = readable[i];
    const double code = std::trunc(p.mm + 0.5) * 10.0;
    if (!(code >= 0.0 && code <= 65535.0)) {
      ui.ShowError("msg_row_level_out_of_range", p.row);
      return TareCommitResult::Refused;
    }
    if (!VolumeFits(p.litres)) {
      ui.ShowError("msg_row_litr_out_of_range", p.row);
      return TareCommitResult::Refused;
    }
  }
  if (readable.size() > static_cast<std::size_t>(TareMaxPoints) && !ui.AskYesNo("msg_table_will_trunc"))
    return TareCommitResult::Declined;

  for (std::size_t i = 0; i < static_cast<std::size_t>(TareMaxPoints); ++i)
    table.Points[i] = TankTablePoint{};
  float largest = 0.0f;
  for (std::size_t i = 0; i < count; ++i) {
    const Readable& p = readable[i];
    table.Points[i].Level = static_cast<std::uint16_t>(std::trunc(p.mm + 0.5) * 10.0);
    table.Points[i].Litres = p.litres;
    largest = std::max(largest, p.litres);
  }
  table.TableLen = static_cast<std::uint16_t>(count);
  // Just above 655350 litres the unit rule asks for 100 l, which no 16-bit
  // word holds, while 10 l units still code the volume: the unit is limited
  // to 10 l rather than refusing a table the sensor itself may have sent.
  table.MlPerUnit = static_cast<std::uint16_t>(std::min(MlPerUnitForLargest(largest), kLargestUnit));
  return TareCommitResult::Stored;
}

bool TareAddPortion(TareRows& t, std::string_view levelText, std::string_view sensitivityText,
                    std::string_view portionText, TareUi& ui) {
  const auto level = ParseWhole(levelText);
  if (!level) return Refuse(ui, "msg_wrong_code_value");
  const auto sensitivity = ParseWhole(sensitivityText);
  if (!sensitivity || *sensitivity <= 0) return Refuse(ui, "msg_accuracy_value_wrong");
  const auto portion = ParseFloat32(portionText, t.locale);
  if (!portion) return Refuse(ui, "msg_fuel_portion_wrong");
  if (*portion > -1.0f && *portion < 1.0f) return Refuse(ui, "msg_fuel_portion_too_small");

  // Filling adds to the largest volume (the last row), draining subtracts
  // from the smallest (the first row); an unreadable row counts as 0.
  const int edge = *portion > 0.0f ? TareRowCount(t) : 1;
  const float L = LitresOf(t, edge).value_or(0.0f);
  const std::int64_t M = ParseWhole(TareText(t, TareColMm, edge)).value_or(0);
  // The sum is single precision: it is the value later compared exactly with
  // the litres read back from the rows.
  const float sum = L + *portion;
  if (*portion > 0.0f) {
    if (*level < M + *sensitivity) return Refuse(ui, "msg_code_change_less_than_accuracy");
  } else {
    if (*level > M - *sensitivity) return Refuse(ui, "msg_code_change_less_than_accuracy");
    if (sum < 0.0f) return Refuse(ui, "msg_drain_portion_too_big");
  }
  return TareInsertPoint(t, sum, *level, ui);
}

}  // namespace kl
