#include "Unit_xls.h"

namespace kl {

XlsResult TareSheetExport(const TareRows&, const std::string&, const std::string&) {
  return {false, "Error save excel file\nUnknown error"};
}
XlsResult TareSheetImport(TareRows&, const std::string&) { return {false, "Error read excel file\nUnknown error"}; }
XlsResult PresetListImport(HubImage&, TankTable&, const std::string&) {
  return {false, "Error read excel file\nUnknown error"};
}
XlsResult PresetListExport(const HubImage&, const std::string&) {
  return {false, "Error save excel file\nUnknown error"};
}
std::string CellAddress(int row, int column) {
  if (column < 1 || column > 26) return {};
  return std::string(1, char(64 + column)) + std::to_string(row);
}

}  // namespace kl
