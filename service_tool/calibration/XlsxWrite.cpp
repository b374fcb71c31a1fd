// .xlsx writing through libxlsxwriter.
//
// libxlsxwriter as Debian builds it formats numbers with printf, which
// follows LC_NUMERIC; the windows' toolkit sets the user's locale at start,
// and a Russian one would write 12,5 into the XML, which no spreadsheet
// program reads. The writer therefore runs under the C notation, set for this
// thread only.
#include <xlsxwriter.h>

#include <clocale>
#include <locale.h>

#include "Workbook.h"

namespace kl {
namespace {

class CNumericForThisThread {
 public:
  CNumericForThisThread() : c_(newlocale(LC_NUMERIC_MASK, "C", duplocale(LC_GLOBAL_LOCALE))) {
    if (c_) previous_ = uselocale(c_);
  }
  ~CNumericForThisThread() {
    if (!c_) return;
    uselocale(previous_);
    freelocale(c_);
  }
  CNumericForThisThread(const CNumericForThisThread&) = delete;
  CNumericForThisThread& operator=(const CNumericForThisThread&) = delete;

 private:
  locale_t c_;
  locale_t previous_ = LC_GLOBAL_LOCALE;
};

}  // namespace

bool WriteXlsx(const std::string& path, const Workbook& book, std::string& why) {
  const CNumericForThisThread cNumbers;
  lxw_workbook_options options = {};
  options.constant_memory = LXW_FALSE;
  lxw_workbook* wb = workbook_new_opt(path.c_str(), &options);
  if (!wb) {
    why = "the workbook cannot be created";
    return false;
  }
  bool ok = true;
  std::vector<lxw_worksheet*> sheets;
  for (const XlsSheet& s : book.sheets) {
    const lxw_error nameError = workbook_validate_sheet_name(wb, s.name.c_str());
    if (nameError != LXW_NO_ERROR) {
      why = "the sheet name \"" + s.name + "\" cannot be used (" + lxw_strerror(nameError) + ")";
      ok = false;
      break;
    }
    lxw_worksheet* ws = workbook_add_worksheet(wb, s.name.c_str());
    if (!ws) {
      why = "the sheet \"" + s.name + "\" cannot be added";
      ok = false;
      break;
    }
    sheets.push_back(ws);
    for (const auto& [pos, cell] : s.cells) {
      const lxw_row_t row = static_cast<lxw_row_t>(pos.first - 1);
      const lxw_col_t col = static_cast<lxw_col_t>(pos.second - 1);
      lxw_error e = LXW_NO_ERROR;
      switch (cell.kind) {
        case XlsCell::Kind::Number:
          e = worksheet_write_number(ws, row, col, cell.number, nullptr);
          break;
        case XlsCell::Kind::Bool:
          e = worksheet_write_boolean(ws, row, col, cell.number != 0.0, nullptr);
          break;
        case XlsCell::Kind::Text:
          e = worksheet_write_string(ws, row, col, cell.text.c_str(), nullptr);
          break;
      }
      if (e != LXW_NO_ERROR) {
        why = "a cell of sheet \"" + s.name + "\" cannot be written (" + lxw_strerror(e) + ")";
        ok = false;
        break;
      }
    }
    if (!ok) break;
  }
  if (ok && book.active < sheets.size()) worksheet_activate(sheets[book.active]);
  // Closing writes the file; it also frees the workbook after a failure.
  const lxw_error closeError = workbook_close(wb);
  if (ok && closeError != LXW_NO_ERROR) {
    why = std::string("the file cannot be written (") + lxw_strerror(closeError) + ")";
    ok = false;
  }
  return ok;
}

}  // namespace kl
