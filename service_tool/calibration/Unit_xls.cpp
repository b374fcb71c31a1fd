#include "Unit_xls.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <set>

#include "NumberText.h"
#include "Workbook.h"

namespace kl {
namespace {

constexpr const char* kReadFailed = "Error read excel file\nUnknown error";
constexpr const char* kSaveFailed = "Error save excel file\nUnknown error";
constexpr int kImportMaxPoints = 100;  // ImportMaxPoints
constexpr int kLastAddressableColumn = 26;

// The spreadsheet program's own message would name the file and say what is
// wrong with it; these do the same, under the fixed first line.
XlsResult ReadError(const std::string& file, const std::string& why) {
  return {false, "Error read excel file\n" + file + ": " + why};
}
XlsResult SaveError(const std::string& file, const std::string& why) {
  return {false, "Error save excel file\n" + file + ": " + why};
}

const NumberLocale& Dot() {
  static const NumberLocale loc;
  return loc;
}

// A cell as the rows show it: numbers in the user's notation.
std::string CellText(const XlsCell* c, const NumberLocale& loc) {
  if (!c) return {};
  switch (c->kind) {
    case XlsCell::Kind::Number:
      return FormatGeneral(c->number, loc);
    case XlsCell::Kind::Bool:
      return c->number != 0.0 ? "TRUE" : "FALSE";
    case XlsCell::Kind::Text:
      return c->text;
  }
  return {};
}

// A cell read as a decimal number: numbers as they are, texts in either
// notation (the file may come from a colleague with another locale).
std::optional<double> CellNumber(const XlsCell* c) {
  if (!c) return std::nullopt;
  if (c->kind == XlsCell::Kind::Number) return c->number;
  if (c->kind != XlsCell::Kind::Text) return std::nullopt;
  if (auto v = ParseDecimal(c->text, Dot())) return v;
  static const NumberLocale comma{","};
  return ParseDecimal(c->text, comma);
}

// The same, through its text into single precision, as the points are read.
std::optional<float> CellFloat(const XlsCell* c) {
  if (!c) return std::nullopt;
  if (c->kind == XlsCell::Kind::Number) return ParseFloat32(FormatGeneral(c->number, Dot()), Dot());
  if (c->kind != XlsCell::Kind::Text) return std::nullopt;
  if (auto v = ParseFloat32(c->text, Dot())) return v;
  static const NumberLocale comma{","};
  return ParseFloat32(c->text, comma);
}

// The used area as the importer sees it: an empty sheet still has A1.
void UsedArea(const XlsSheet& s, int& lastRow, int& lastCol) {
  lastRow = std::max(1, s.LastRow());
  lastCol = std::max(1, s.LastColumn());
}

std::string BeyondZ(const XlsSheet& s, int lastCol) {
  return "the used area of sheet \"" + s.name + "\" ends at column " + std::to_string(lastCol) +
         ", beyond column Z";
}

// A fresh image that keeps the records of tanks 0 and 1 (the user's own
// tank) and the header, MlPerBit included, of a valid image, and drops its
// preset tanks.
void KeepOwnTanks(const HubImage& from, HubImage& to) {
  to.bytes.fill(0);
  std::copy_n(from.bytes.begin(), HubHeaderSize, to.bytes.begin());
  const std::size_t fromSize = HubReadHeader(from).Size;
  std::size_t at = HubHeaderSize;
  std::uint16_t count = 0;
  for (const TankRecord& r : HubListTanks(&from)) {
    if (r.TankID > CustomTankID) continue;
    // A record that claims to run past the image keeps only what it holds.
    std::size_t len = std::min<std::size_t>(r.Size, fromSize - r.Offset) & ~std::size_t{1};
    if (len < TankRecordHeaderSize || at + len > 65535) continue;
    std::copy_n(from.bytes.begin() + r.Offset, len, to.bytes.begin() + at);
    HubSetWord(to, at, static_cast<std::uint16_t>(len));
    at += len;
    ++count;
  }
  HubSetWord(to, HubOffSize, static_cast<std::uint16_t>(at));
  HubSetWord(to, HubOffTankCount, count);
  HubSeal(&to);
}

XlsResult ImportPresets(HubImage& image, TankTable& work, const std::string& fileName) {
  Workbook book;
  std::string why;
  if (!LoadWorkbook(fileName, book, why)) return ReadError(fileName, why);

  // Only the preset tanks are replaced: the user's own tank and the output
  // resolution of a valid image stay. Without a valid image the default one
  // is the start.
  auto next = std::make_unique<HubImage>();
  if (HubIsValid(&image)) {
    KeepOwnTanks(image, *next);
  } else if (!HubMakeDefault(next.get())) {
    return {false, "Failed to create hub default config"};
  }

  XlsResult result{true, {}};
  for (const XlsSheet& s : book.sheets) {
    int lastRow = 0, lastCol = 0;
    UsedArea(s, lastRow, lastCol);
    if (lastCol > kLastAddressableColumn) {
      // What was appended from the earlier sheets stays.
      result = ReadError(fileName, BeyondZ(s, lastCol));
      break;
    }
    if (lastCol < 4 || lastRow < 2) continue;
    const auto id = CellNumber(s.Find(2, 3));
    if (!id || !(*id > 1)) continue;
    if (*id != std::floor(*id) || *id > 65535) {
      result = ReadError(fileName,
                         "sheet \"" + s.name + "\": the tank ID in C2 is not a whole number from 2 to 65535");
      break;
    }
    double height = 0;
    if (const XlsCell* d2 = s.Find(2, 4)) {
      const auto h = CellNumber(d2);
      if (!h || *h < 0 || std::nearbyint(*h * 10) > 65535) {
        result = ReadError(fileName, "sheet \"" + s.name +
                                         "\": the tank height in D2 is not a number of millimetres "
                                         "from 0 to 6553");
        break;
      }
      height = std::nearbyint(*h * 10);
    }
    int points = 0;
    float largest = 0.0f;
    for (int r = 2; r <= lastRow; ++r) {
      const auto litres = CellFloat(s.Find(r, 1));
      if (!litres || *litres > 65535.0f || *litres < 0.0f) continue;
      const auto mm = CellFloat(s.Find(r, 2));
      if (!mm || static_cast<double>(*mm) * 10.0 > 65535.0 || *mm < 0.0f) continue;
      if (points == kImportMaxPoints) break;
      largest = std::max(largest, *litres);
      work.Points[points].Level = static_cast<std::uint16_t>(static_cast<double>(*mm) * 10.0 + 0.5);
      work.Points[points].Litres = *litres;
      ++points;
    }
    work.Size = 0;
    work.TankID = static_cast<std::uint16_t>(*id);
    work.TankHeight = static_cast<std::uint16_t>(height);
    work.TableLen = static_cast<std::uint16_t>(points);
    work.MlPerUnit = static_cast<std::uint16_t>(MlPerUnitForLargest(largest));
    // A tank that would take the image past its limit is left out.
    HubAppendTank(next.get(), &work);
  }
  image = *next;
  return result;
}

XlsResult ExportPresets(const HubImage& image, const std::string& fileName) {
  if (!HubIsValid(&image)) return {false, "Wrong hub structure"};
  static const char* const kHeadings[] = {"Liters", "mm", "Tank ID", "Tank Height, mm"};
  Workbook book;
  auto addSheet = [&book](std::string name) {
    XlsSheet& s = book.sheets.emplace_back();
    s.name = std::move(name);
    for (int c = 0; c < 4; ++c) s.SetText(1, c + 1, kHeadings[c]);
    return &s;
  };
  addSheet("Sheet1");
  std::set<std::uint16_t> seen;
  std::size_t n = 0;
  for (const TankRecord& r : HubListTanks(&image)) {
    if (r.TankID <= CustomTankID) continue;
    if (!seen.insert(r.TankID).second)
      return SaveError(fileName, "two preset tanks have the ID " + std::to_string(r.TankID) +
                                     ", and a workbook cannot hold two sheets named \"TankID " +
                                     std::to_string(r.TankID) + "\"");
    XlsSheet* s = n == 0 ? &book.sheets[0] : addSheet({});
    s->name = "TankID " + std::to_string(r.TankID);
    s->SetNumber(2, 3, r.TankID);
    s->SetNumber(2, 4, static_cast<std::int32_t>(r.TankHeight / 10));
    const std::size_t points = HubReadablePoints(image, r);
    for (std::size_t j = 0; j < points; ++j) {
      const TankPoint p = *HubTankPoint(image, r, j);
      const int row = static_cast<int>(j) + 2;
      s->SetNumber(row, 1, HubLitresFromVolume(p.Volume, r.MlPerUnit));
      s->SetNumber(row, 2, static_cast<std::uint16_t>(p.Level * 0.1 + 0.5));
    }
    ++n;
  }
  book.active = 0;
  std::string why;
  if (!SaveWorkbook(fileName, book, why)) return SaveError(fileName, why);
  return {true, {}};
}

}  // namespace

XlsResult TareSheetExport(const TareRows& rows, const std::string& sheetName, const std::string& fileName) {
  try {
    Workbook book;
    XlsSheet& s = book.sheets.emplace_back();
    s.name = sheetName;
    // Texts that read as numbers go in as numbers, as a spreadsheet program
    // converts what is typed into its cells.
    const int n = TareRowCount(rows);
    for (int r = 1; r <= n; ++r) {
      for (int c = 1; c <= 2; ++c) {
        const std::string& t = TareText(rows, c == 1 ? TareColLitres : TareColMm, r);
        if (t.empty()) continue;
        if (const auto v = ParseDecimal(t, rows.locale))
          s.SetNumber(r, c, *v);
        else
          s.SetText(r, c, t);
      }
    }
    std::string why;
    if (!SaveWorkbook(fileName, book, why)) return SaveError(fileName, why);
    return {true, {}};
  } catch (...) {
    return {false, kSaveFailed};
  }
}

XlsResult TareSheetImport(TareRows& rows, const std::string& fileName) {
  try {
    Workbook book;
    std::string why;
    if (!LoadWorkbook(fileName, book, why)) return ReadError(fileName, why);
    const XlsSheet& s = book.sheets.front();
    int lastRow = 0, lastCol = 0;
    UsedArea(s, lastRow, lastCol);
    if (lastCol > kLastAddressableColumn) return ReadError(fileName, BeyondZ(s, lastCol));
    TareSetRowCount(rows, lastRow);
    for (int r = 1; r <= lastRow; ++r) {
      TareSetText(rows, TareColLitres, r, CellText(s.Find(r, 1), rows.locale));
      if (lastCol >= 2) TareSetText(rows, TareColMm, r, CellText(s.Find(r, 2), rows.locale));
    }
    return {true, {}};
  } catch (...) {
    return {false, kReadFailed};
  }
}

XlsResult PresetListImport(HubImage& image, TankTable& work, const std::string& fileName) {
  try {
    return ImportPresets(image, work, fileName);
  } catch (...) {
    return {false, kReadFailed};
  }
}

XlsResult PresetListExport(const HubImage& image, const std::string& fileName) {
  try {
    return ExportPresets(image, fileName);
  } catch (...) {
    return {false, kSaveFailed};
  }
}

std::string CellAddress(int row, int column) {
  if (column < 1 || column > 26) return {};
  return std::string(1, char(64 + column)) + std::to_string(row);
}

}  // namespace kl
