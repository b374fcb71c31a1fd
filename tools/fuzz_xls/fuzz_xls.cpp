// libFuzzer target: the .xls reader (FreeXL behind our bounds) and the
// imports over arbitrary bytes. Seeds are workbooks of our own writer, so the
// run starts from sound compound files and BIFF records.
#include <cstdlib>
#include <filesystem>

#include "FuzzCommon.h"

using namespace kl;

// FreeXL leaks a few hundred bytes on some damaged files (its own string
// copies); that is its business, bounded per file, and not what this run
// looks for. Our own leaks still count.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfreexl.so\n"; }

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // KL_FUZZ_SEEDS=<folder>: write the seed workbooks there first.
  const char* seeds = std::getenv("KL_FUZZ_SEEDS");
  if (!seeds) return 0;
  std::filesystem::create_directories(seeds);
  auto image = std::make_unique<HubImage>();
  HubMakeDefault(image.get());
  for (std::uint16_t id : {std::uint16_t{2}, std::uint16_t{7}}) {
    auto t = std::make_unique<TankTable>();
    t->TankID = id;
    t->TankHeight = 5000;
    t->TableLen = 5;
    t->MlPerUnit = 10;
    for (int i = 0; i < 5; ++i) t->Points[i] = {static_cast<std::uint16_t>(100 * (i + 1)), 2.5f * (i + 1)};
    HubAppendTank(image.get(), t.get());
  }
  PresetListExport(*image, std::string(seeds) + "/presets.xls");
  TareRows rows;
  TareSetRowCount(rows, 2);
  TareSetText(rows, TareColLitres, 1, "10.5");
  TareSetText(rows, TareColMm, 1, "120");
  TareSetText(rows, TareColLitres, 2, "текст");
  TareSheetExport(rows, "Tare table", std::string(seeds) + "/tare.xls");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::string path = fuzz::ScratchFile(".xls");
  if (!fuzz::WriteFile(path, data, size)) return 0;
  fuzz::ReadEverywhere(path);
  return 0;
}
