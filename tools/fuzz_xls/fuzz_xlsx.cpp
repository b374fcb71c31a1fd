// libFuzzer target: the .xlsx reader (minizip + QXmlStreamReader behind our
// bounds) and the imports.
//
// A mutated zip rarely gets past its checksums, so the input has two forms:
// when its first byte is even it is the file itself; when odd, the rest is
// split at "\n@@\n" into the workbook part, its relationships, the shared
// strings and two sheets, which are packed (stored, with good checksums) into
// a package, so the XML readers see the mutations.
#include <zip.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

#include "FuzzCommon.h"

using namespace kl;

namespace {

const char* const kParts[] = {"xl/workbook.xml", "xl/_rels/workbook.xml.rels", "xl/sharedStrings.xml",
                              "xl/worksheets/sheet1.xml", "xl/worksheets/sheet2.xml"};

bool Pack(const std::string& path, const std::vector<std::string>& parts) {
  zipFile z = zipOpen64(path.c_str(), APPEND_STATUS_CREATE);
  if (!z) return false;
  static const std::string rootRels =
      "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\"><Relationship "
      "Id=\"rId1\" "
      "Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument\" "
      "Target=\"xl/workbook.xml\"/></Relationships>";
  std::vector<std::pair<std::string, std::string>> members = {{"_rels/.rels", rootRels}};
  for (std::size_t i = 0; i < parts.size() && i < 5; ++i) members.push_back({kParts[i], parts[i]});
  bool ok = true;
  for (const auto& [name, content] : members) {
    zip_fileinfo info{};
    ok = ok &&
         zipOpenNewFileInZip64(z, name.c_str(), &info, nullptr, 0, nullptr, 0, nullptr, 0, 0, 0) == ZIP_OK;
    ok = ok && zipWriteInFileInZip(z, content.data(), static_cast<unsigned>(content.size())) == ZIP_OK;
    zipCloseFileInZip(z);
  }
  return zipClose(z, nullptr) == ZIP_OK && ok;
}

void WriteSeed(const std::string& path, const std::string& bytes) {
  fuzz::WriteFile(path, reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  const char* seeds = std::getenv("KL_FUZZ_SEEDS");
  if (!seeds) return 0;
  std::filesystem::create_directories(seeds);
  auto image = std::make_unique<HubImage>();
  HubMakeDefault(image.get());
  auto t = std::make_unique<TankTable>();
  t->TankID = 3;
  t->TankHeight = 5000;
  t->TableLen = 4;
  t->MlPerUnit = 10;
  for (int i = 0; i < 4; ++i) t->Points[i] = {static_cast<std::uint16_t>(100 * (i + 1)), 2.5f * (i + 1)};
  HubAppendTank(image.get(), t.get());
  // A whole file (first byte 'P' is even).
  PresetListExport(*image, std::string(seeds) + "/presets.xlsx");
  // Parts, the way spreadsheet programs write them.
  const std::string sep = "\n@@\n";
  WriteSeed(
      std::string(seeds) + "/parts",
      std::string("\x01") +
          "<workbook xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" "
          "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\"><bookViews>"
          "<workbookView activeTab=\"1\"/></bookViews><sheets><sheet name=\"A\" sheetId=\"1\" r:id=\"rId1\"/>"
          "<sheet name=\"B\" sheetId=\"2\" r:id=\"rId2\"/></sheets></workbook>" +
          sep +
          "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
          "<Relationship Id=\"rId1\" Type=\"http://x/worksheet\" Target=\"worksheets/sheet1.xml\"/>"
          "<Relationship Id=\"rId2\" Type=\"http://x/worksheet\" Target=\"/xl/worksheets/sheet2.xml\"/>"
          "<Relationship Id=\"rId3\" Type=\"http://x/sharedStrings\" Target=\"sharedStrings.xml\"/>"
          "</Relationships>" +
          sep +
          "<sst count=\"3\"><si><t>Liters</t></si><si><r><t>m</t></r><r><t>m</t></r></si>"
          "<si><t>x</t><rPh><t>y</t></rPh></si></sst>" +
          sep +
          "<worksheet><sheetData><row r=\"1\"><c r=\"A1\" t=\"s\"><v>0</v></c><c t=\"s\"><v>1</v></c>"
          "<c r=\"C1\" t=\"inlineStr\"><is><t>Tank ID</t></is></c><c r=\"D1\" t=\"b\"><v>1</v></c></row>"
          "<row><c r=\"A2\"><v>12.5</v></c><c r=\"B2\"><v>1e2</v></c><c r=\"C2\"><v>2</v></c>"
          "<c r=\"D2\" t=\"str\"><f>1+1</f><v>3000</v></c></row></sheetData></worksheet>" +
          sep +
          "<worksheet><sheetData><row r=\"2\"><c r=\"AA2\" t=\"e\"><v>#N/A</v></c></row>"
          "</sheetData></worksheet>");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::string path = fuzz::ScratchFile(".xlsx");
  if (size == 0) return 0;
  if ((data[0] & 1) == 0) {
    if (!fuzz::WriteFile(path, data, size)) return 0;
  } else {
    const std::string all(reinterpret_cast<const char*>(data) + 1, size - 1);
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (parts.size() < 5) {
      const std::size_t at = all.find("\n@@\n", start);
      parts.push_back(all.substr(start, at == std::string::npos ? std::string::npos : at - start));
      if (at == std::string::npos) break;
      start = at + 4;
    }
    std::remove(path.c_str());
    if (!Pack(path, parts)) return 0;
  }
  fuzz::ReadEverywhere(path);
  return 0;
}
