// .xls reading through FreeXL.
//
// FreeXL reads the whole workbook at open and keeps each sheet's declared
// area in memory, so the declared number of sheets is checked with the
// cheaper metadata open first, and each sheet's declared area before its
// cells are visited. Only cells holding a value count towards the used area.
#include <freexl.h>

#include <cstring>
#include <memory>
#include <string>

#include "Workbook.h"

namespace kl {
namespace {

struct Handle {
  const void* h = nullptr;
  ~Handle() {
    if (h) freexl_close(h);
  }
};

std::string FreeXlReason(int rc) {
  switch (rc) {
    case FREEXL_FILE_NOT_FOUND:
      return "the file cannot be opened";
    case FREEXL_INSUFFICIENT_MEMORY:
      return "there is not enough memory to read it";
    case FREEXL_INVALID_CFBF_HEADER:
    case FREEXL_CFBF_INVALID_SIGNATURE:
    case FREEXL_CFBF_INVALID_SECTOR_SIZE:
      return "it is not an .xls workbook (damaged compound file header)";
    case FREEXL_CFBF_READ_ERROR:
    case FREEXL_CFBF_SEEK_ERROR:
    case FREEXL_CFBF_EMPTY_FAT_CHAIN:
    case FREEXL_CFBF_ILLEGAL_FAT_ENTRY:
    case FREEXL_INVALID_MINI_STREAM:
    case FREEXL_CFBF_ILLEGAL_MINI_FAT_ENTRY:
      return "the file is damaged or truncated";
    case FREEXL_BIFF_WORKBOOK_NOT_FOUND:
      return "the file holds no Excel workbook (it may be encrypted, or another kind of document)";
    case FREEXL_BIFF_INVALID_BOF:
    case FREEXL_BIFF_INVALID_SST:
    case FREEXL_BIFF_ILLEGAL_SST_INDEX:
    case FREEXL_CRAFTED_FILE:
      return "the workbook is damaged";
    case FREEXL_UNSUPPORTED_CHARSET:
    case FREEXL_INVALID_CHARACTER:
      return "the workbook uses a character set that cannot be read";
    default:
      return "the workbook cannot be read (FreeXL error " + std::to_string(rc) + ")";
  }
}

}  // namespace

bool ReadXls(const std::string& path, Workbook& out, std::string& why) {
  out = Workbook{};
  {
    Handle info;
    const int rc = freexl_open_info(path.c_str(), &info.h);
    if (rc != FREEXL_OK) {
      why = FreeXlReason(rc);
      return false;
    }
    unsigned int value = 0;
    if (freexl_get_info(info.h, FREEXL_BIFF_PASSWORD, &value) == FREEXL_OK &&
        value == FREEXL_BIFF_OBFUSCATED) {
      why = "the workbook is password-protected";
      return false;
    }
    if (freexl_get_info(info.h, FREEXL_BIFF_SHEET_COUNT, &value) != FREEXL_OK) {
      why = "the workbook is damaged";
      return false;
    }
    if (value == 0) {
      why = "the workbook has no sheet";
      return false;
    }
    if (value > XlsMaxSheets) {
      why = "it has more than " + std::to_string(XlsMaxSheets) + " sheets";
      return false;
    }
  }
  Handle book;
  int rc = freexl_open(path.c_str(), &book.h);
  if (rc != FREEXL_OK) {
    why = FreeXlReason(rc);
    return false;
  }
  unsigned int count = 0;
  if (freexl_get_info(book.h, FREEXL_BIFF_SHEET_COUNT, &count) != FREEXL_OK || count == 0 ||
      count > XlsMaxSheets) {
    why = "the workbook is damaged";
    return false;
  }
  XlsBudget budget;
  for (unsigned int i = 0; i < count; ++i) {
    XlsSheet sheet;
    const char* name = nullptr;
    if (freexl_get_worksheet_name(book.h, static_cast<unsigned short>(i), &name) == FREEXL_OK && name)
      sheet.name = name;
    if (freexl_select_active_worksheet(book.h, static_cast<unsigned short>(i)) != FREEXL_OK) {
      why = "the workbook is damaged";
      return false;
    }
    unsigned int rows = 0;
    unsigned short columns = 0;
    if (freexl_worksheet_dimensions(book.h, &rows, &columns) != FREEXL_OK) {
      why = "the workbook is damaged";
      return false;
    }
    if (rows > static_cast<unsigned>(XlsMaxRows)) {
      why = "sheet \"" + sheet.name + "\" has more than " + std::to_string(XlsMaxRows) + " rows";
      return false;
    }
    for (unsigned int r = 0; r < rows; ++r) {
      for (unsigned short c = 0; c < columns; ++c) {
        FreeXL_CellValue v;
        std::memset(&v, 0, sizeof v);
        if (freexl_get_cell_value(book.h, r, c, &v) != FREEXL_OK) continue;
        const int row = static_cast<int>(r) + 1;
        const int col = static_cast<int>(c) + 1;
        switch (v.type) {
          case FREEXL_CELL_INT:
            if (!budget.TakeCell(0, why)) return false;
            sheet.SetNumber(row, col, v.value.int_value);
            break;
          case FREEXL_CELL_DOUBLE:
            if (!budget.TakeCell(0, why)) return false;
            sheet.SetNumber(row, col, v.value.double_value);
            break;
          case FREEXL_CELL_TEXT:
          case FREEXL_CELL_SST_TEXT:
          case FREEXL_CELL_DATE:
          case FREEXL_CELL_DATETIME:
          case FREEXL_CELL_TIME: {
            const char* t = v.value.text_value ? v.value.text_value : "";
            const std::size_t n = std::strlen(t);
            if (!budget.TakeCell(n, why)) return false;
            sheet.SetText(row, col, std::string(t, n));
            break;
          }
          default:
            break;
        }
      }
    }
    out.sheets.push_back(std::move(sheet));
  }
  return true;
}

}  // namespace kl
