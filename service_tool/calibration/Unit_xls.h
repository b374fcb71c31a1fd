// Spreadsheet exchange: the calibration table and the list of preset tanks
// as .xlsx and .xls workbooks, read and written directly (no spreadsheet
// program involved). Plain C++, no widgets: the callers show the result.
// The library is kl_xls (it needs QtCore, minizip, FreeXL and libxlsxwriter,
// so it is built with the Qt programs only). The formats themselves live in
// Workbook.h.
#pragma once

#include <string>

#include "HubData.h"
#include "TareRows.h"

namespace kl {

// The outcome of one exchange. `text` is what the caller shows the user
// (an error box when !ok, nothing or an information box when ok); empty
// means nothing to show.
struct XlsResult {
  bool ok = false;
  std::string text;
};

XlsResult TareSheetExport(const TareRows& rows, const std::string& sheetName, const std::string& fileName);
// Fills rows (which the caller has cleared) from the first sheet.
XlsResult TareSheetImport(TareRows& rows, const std::string& fileName);
// Replaces the preset tanks of image with the workbook's sheets; work is the
// calibration table used as the source record for each appended tank.
XlsResult PresetListImport(HubImage& image, TankTable& work, const std::string& fileName);
XlsResult PresetListExport(const HubImage& image, const std::string& fileName);

// "A1" for (1, 1); empty for a column outside 1..26.
std::string CellAddress(int row, int column);

// The file dialogs' filter.
inline constexpr const char* kXlsDialogFilter = "Excel Files (*.xls *.xlsx)";

}  // namespace kl
