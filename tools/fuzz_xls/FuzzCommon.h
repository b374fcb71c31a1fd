// What both workbook fuzz targets share: the input goes to a file (the
// readers take paths), then through every entry point a user's file meets,
// and the promises the readers make are checked. A violation traps;
// AddressSanitizer catches any access outside the buffers and libFuzzer's
// -rss_limit_mb and -malloc_limit_mb any unbounded memory.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "HubData.h"
#include "Unit_xls.h"
#include "Workbook.h"

namespace kl::fuzz {

inline void Check(bool ok) {
  if (!ok) __builtin_trap();
}

inline std::string ScratchFile(const char* ext) {
  const char* base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
  return std::string(base) + "/kl_fuzz_" + std::to_string(getpid()) + ext;
}

inline bool WriteFile(const std::string& path, const std::uint8_t* data, std::size_t size) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  const bool ok = std::fwrite(data, 1, size, f) == size;
  return std::fclose(f) == 0 && ok;
}

inline void ReadEverywhere(const std::string& path) {
  Workbook book;
  std::string why;
  if (LoadWorkbook(path, book, why)) {
    Check(!book.sheets.empty() && book.sheets.size() <= XlsMaxSheets);
    Check(book.active < book.sheets.size());
    std::size_t cells = 0;
    for (const XlsSheet& s : book.sheets) {
      cells += s.cells.size();
      Check(s.LastRow() <= XlsMaxRows && s.LastColumn() <= XlsMaxColumns);
    }
    Check(cells <= XlsMaxCells);
  } else {
    Check(!why.empty());
  }

  TareRows rows;
  const XlsResult t = TareSheetImport(rows, path);
  Check(t.ok || !t.text.empty());
  Check(TareRowCount(rows) >= 1 && TareRowCount(rows) <= XlsMaxRows);

  static auto image = std::make_unique<HubImage>();
  static auto work = std::make_unique<TankTable>();
  image->bytes.fill(0);
  HubMakeDefault(image.get());
  const HubImage before = *image;
  const XlsResult p = PresetListImport(*image, *work, path);
  if (!p.ok && p.text.find("beyond column Z") == std::string::npos &&
      p.text.find("sheet \"") == std::string::npos)
    Check(image->bytes == before.bytes);
  // Whatever the workbook held, the image stays valid and within its limit.
  Check(HubIsValid(image.get()));
  Check(HubReadHeader(*image).Size <= HubMaxSize);
}

}  // namespace kl::fuzz
