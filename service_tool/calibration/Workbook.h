// A workbook as the spreadsheet exchange sees it: named sheets of cells that
// hold a number, a text or a truth value. Nothing else of a spreadsheet
// (formats, formulas, widths) survives a read or is written.
//
// Workbooks come from other people's files, so everything read is bounded by
// the limits below; a file beyond them is refused with a reason, never read
// half-way into memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace kl {

// Limits for what a reader takes from a file.
inline constexpr std::uintmax_t XlsMaxFileBytes = 64u << 20;
// Uncompressed size of one member of an .xlsx package, and of all together.
inline constexpr std::size_t XlsMaxMemberBytes = 32u << 20;
inline constexpr std::size_t XlsMaxPackageBytes = 96u << 20;
inline constexpr std::size_t XlsMaxSheets = 256;
inline constexpr int XlsMaxRows = 65536;  // as many as an .xls sheet has
inline constexpr int XlsMaxColumns = 16384;
inline constexpr std::size_t XlsMaxCells = 200000;
inline constexpr std::size_t XlsMaxTextBytes = 16u << 20;

struct XlsCell {
  enum class Kind : std::uint8_t { Number, Text, Bool };
  Kind kind = Kind::Text;
  double number = 0.0;  // Number; Bool as 0 or 1
  std::string text;     // Text, UTF-8
};

struct XlsSheet {
  std::string name;
  // Keyed by (row, column), both from 1.
  std::map<std::pair<int, int>, XlsCell> cells;

  // The used area: the last row and column that hold a cell; (0, 0) when the
  // sheet is empty.
  int LastRow() const;
  int LastColumn() const;
  const XlsCell* Find(int row, int column) const;
  void SetNumber(int row, int column, double value);
  void SetText(int row, int column, std::string value);
};

struct Workbook {
  std::vector<XlsSheet> sheets;
  // The sheet shown when the file is opened (index into sheets).
  std::size_t active = 0;
};

// Counts what a reader has taken so far and says when a limit is passed.
class XlsBudget {
 public:
  // False (and the reason in `why`) when one more cell with this much text
  // passes a limit.
  bool TakeCell(std::size_t textBytes, std::string& why);
  bool TakeText(std::size_t textBytes, std::string& why);

 private:
  std::size_t cells_ = 0;
  std::size_t text_ = 0;
};

// A position (row and column from 1) from a reference such as "B12".
bool ParseCellRef(const std::string& ref, int& row, int& column);

// Readers. Each returns false with a reason (plain English, no file name)
// and leaves `out` unspecified.
bool ReadXlsx(const std::string& path, Workbook& out, std::string& why);
bool ReadXls(const std::string& path, Workbook& out, std::string& why);
// Writers: the whole workbook into `path` (a temporary file the caller
// renames). False with a reason.
bool WriteXlsx(const std::string& path, const Workbook& book, std::string& why);
bool WriteXls(const std::string& path, const Workbook& book, std::string& why);

// The formats, one row each; the file dialogs' filter and the dispatch both
// read this table.
struct WorkbookFormat {
  const char* extension;  // as typed, with the dot
  const char* description;
  bool (*read)(const std::string&, Workbook&, std::string&);
  bool (*write)(const std::string&, const Workbook&, std::string&);
};
const std::vector<WorkbookFormat>& WorkbookFormats();

// The format a save uses for a file name: the row whose extension equals the
// name's exactly (".xlsx", ".xls"); any other, capitals included, gets the
// first row (.xlsx).
const WorkbookFormat& FormatForSave(const std::string& fileName);

// Reads a workbook whatever its name says: the content decides (a zip
// package is .xlsx, a compound file is .xls), so a renamed file still reads.
bool LoadWorkbook(const std::string& path, Workbook& out, std::string& why);

// Sheet names both formats accept: 1 to 31 characters, none of []:*?/\,
// no apostrophe at either end, no two alike (capitals aside).
bool CheckSheetNames(const Workbook& book, std::string& why);

// Writes the workbook in the format the name chooses, into a temporary file
// beside it that then replaces it, so a failed save leaves an existing file
// as it was.
bool SaveWorkbook(const std::string& path, const Workbook& book, std::string& why);

}  // namespace kl
