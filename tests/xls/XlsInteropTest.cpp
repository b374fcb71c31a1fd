// What we write, independent spreadsheet software reads, and what it writes,
// we read: LibreOffice (headless, converting to CSV and to both workbook
// formats), openpyxl and xlrd. The whole suite shares one private LibreOffice
// profile and three LibreOffice runs, made once in SetUpTestSuite, because
// LibreOffice takes seconds to start.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <map>
#include <memory>
#include <sstream>

#include "HubData.h"
#include "Unit_xls.h"
#include "XlsFiles.h"

#ifndef KL_INTEROP_SCRIPT
#error KL_INTEROP_SCRIPT must name interop.py
#endif

namespace kl {
namespace {

using test::ReadAll;

std::string Quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

int RunShell(const std::string& command, const std::string& log) {
  const std::string line = command + " > " + Quote(log) + " 2>&1";
  const int rc = std::system(line.c_str());
  return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
}

// Debian's own interpreter carries python3-openpyxl and python3-xlrd; a
// python3 found earlier on PATH may not.
std::string Python() {
  for (const char* p : {"/usr/bin/python3", "python3"})
    if (std::system((std::string(p) + " -c 'import openpyxl, xlrd' >/dev/null 2>&1").c_str()) == 0) return p;
  return {};
}

class Interop : public ::testing::Test {
 protected:
  static inline std::unique_ptr<test::TempDir> dir;
  static inline std::string setupError;
  static inline std::string dump;  // interop.py's dump of our four files

  static std::string At(const std::string& name) { return *dir / name; }

  static void SetUpTestSuite() {
    dir = std::make_unique<test::TempDir>();
    const auto t0 = std::chrono::steady_clock::now();
    const std::string python = Python();
    if (python.empty()) {
      setupError = "python3 with openpyxl and xlrd is missing (scripts/setup.sh installs them)";
      return;
    }
    if (std::system("command -v soffice >/dev/null 2>&1") != 0) {
      setupError = "soffice is missing (scripts/setup.sh installs libreoffice-calc-nogui)";
      return;
    }
    // Our files, under names that stay apart when converted.
    auto image = std::make_unique<HubImage>();
    HubMakeDefault(image.get());
    for (std::uint16_t id : {std::uint16_t{2}, std::uint16_t{5}}) {
      auto t = std::make_unique<TankTable>();
      t->TankID = id;
      t->TankHeight = static_cast<std::uint16_t>(id * 1000 + 5);
      t->TableLen = 3;
      t->MlPerUnit = 10;
      for (int i = 0; i < 3; ++i)
        t->Points[i] = {static_cast<std::uint16_t>(100 * (i + 1) * id),
                        12.5f * static_cast<float>(i + 1) * id};
      HubAppendTank(image.get(), t.get());
    }
    TareRows rows;
    TareSetRowCount(rows, 3);
    const char* cells[3][2] = {{"10.5", "120"}, {"20.0", "200"}, {"Пусто", "310"}};
    for (int r = 1; r <= 3; ++r) {
      TareSetText(rows, TareColLitres, r, cells[r - 1][0]);
      TareSetText(rows, TareColMm, r, cells[r - 1][1]);
    }
    for (const char* ext : {"xlsx", "xls"}) {
      const std::string e = ext;
      XlsResult r = PresetListExport(*image, At("presets_ours_" + e + "." + e));
      XlsResult t = TareSheetExport(rows, "Tare table", At("tare_ours_" + e + "." + e));
      if (!r.ok || !t.ok) {
        setupError = "export failed: " + r.text + t.text;
        return;
      }
    }
    const std::string script = Quote(KL_INTEROP_SCRIPT);
    if (RunShell(python + " " + script + " make " + Quote(dir->path().string()), At("make.log")) != 0) {
      setupError = "openpyxl could not write its workbooks:\n" + ReadAll(At("make.log"));
      return;
    }
    const std::string office = "timeout 300 soffice -env:UserInstallation=file://" + dir->path().string() +
                               "/profile --headless --norestore ";
    // Every sheet to its own CSV file, named <file>-<sheet>.csv, UTF-8.
    const std::string toCsv =
        Quote("csv:Text - txt - csv (StarCalc):44,34,76,1,,0,false,true,false,false,false,-1");
    const std::string ours = Quote(At("presets_ours_xlsx.xlsx")) + " " + Quote(At("presets_ours_xls.xls")) +
                             " " + Quote(At("tare_ours_xlsx.xlsx")) + " " + Quote(At("tare_ours_xls.xls"));
    const std::string theirs = Quote(At("presets_openpyxl.xlsx")) + " " + Quote(At("tare_openpyxl.xlsx"));
    struct Step {
      std::string args, log;
    } steps[] = {{"--convert-to " + toCsv + " --outdir " + Quote(At("csv")) + " " + ours, "csv.log"},
                 {"--convert-to xls --outdir " + Quote(At("lo_xls")) + " " + theirs, "lo_xls.log"},
                 {"--convert-to xlsx --outdir " + Quote(At("lo_xlsx")) + " " + theirs, "lo_xlsx.log"}};
    for (const Step& s : steps) {
      const auto s0 = std::chrono::steady_clock::now();
      const int rc = RunShell(office + s.args, At(s.log));
      std::printf("LibreOffice %s: %.1f s\n", s.log.c_str(),
                  std::chrono::duration<double>(std::chrono::steady_clock::now() - s0).count());
      if (rc != 0) {
        setupError = "LibreOffice failed:\n" + ReadAll(At(s.log));
        return;
      }
    }
    if (RunShell(python + " " + script + " dump " + ours, At("dump.log")) != 0) {
      setupError = "openpyxl/xlrd could not read our files:\n" + ReadAll(At("dump.log"));
      return;
    }
    dump = ReadAll(At("dump.log"));
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    std::printf("interop set-up (3 LibreOffice runs, 2 python runs): %.1f s\n", seconds);
  }
  static void TearDownTestSuite() { dir.reset(); }

  void SetUp() override { ASSERT_TRUE(setupError.empty()) << setupError; }

  // interop.py's dump of one file: sheet name -> (active, cell -> value).
  struct Sheet {
    bool active = false;
    std::map<std::string, std::string> cells;
  };
  static std::vector<std::pair<std::string, Sheet>> Dumped(const std::string& file) {
    std::vector<std::pair<std::string, Sheet>> sheets;
    std::istringstream in(dump);
    std::string line;
    bool mine = false;
    while (std::getline(in, line)) {
      std::vector<std::string> f;
      std::istringstream ls(line);
      for (std::string part; std::getline(ls, part, '\t');) f.push_back(part);
      if (f.empty()) continue;
      if (f[0] == "FILE") mine = f.size() > 1 && f[1] == file;
      if (!mine) continue;
      if (f[0] == "SHEET" && f.size() == 3) sheets.push_back({f[1], Sheet{f[2] == "1", {}}});
      if (f[0] == "CELL" && f.size() == 3 && !sheets.empty()) sheets.back().second.cells[f[1]] = f[2];
    }
    return sheets;
  }
};

const char* const kExt[] = {"xlsx", "xls"};

TEST_F(Interop, LibreOfficeReadsOurPresetSheets) {
  for (const std::string e : kExt) {
    SCOPED_TRACE(e);
    EXPECT_EQ(ReadAll(At("csv/presets_ours_" + e + "-TankID 2.csv")),
              "Liters,mm,Tank ID,\"Tank Height, mm\"\n25,20,2,200\n50,40,,\n75,60,,\n");
    EXPECT_EQ(ReadAll(At("csv/presets_ours_" + e + "-TankID 5.csv")),
              "Liters,mm,Tank ID,\"Tank Height, mm\"\n62.5,50,5,500\n125,100,,\n187.5,150,,\n");
  }
}

TEST_F(Interop, LibreOfficeReadsOurTareSheet) {
  for (const std::string e : kExt) {
    SCOPED_TRACE(e);
    EXPECT_EQ(ReadAll(At("csv/tare_ours_" + e + "-Tare table.csv")), "10.5,120\n20,200\nПусто,310\n");
  }
}

TEST_F(Interop, OpenpyxlAndXlrdReadOurFiles) {
  for (const std::string e : kExt) {
    SCOPED_TRACE(e);
    const auto presets = Dumped(At("presets_ours_" + e + "." + e));
    ASSERT_EQ(presets.size(), 2u);
    EXPECT_EQ(presets[0].first, "TankID 2");
    EXPECT_EQ(presets[1].first, "TankID 5");
    EXPECT_TRUE(presets[0].second.active);
    EXPECT_FALSE(presets[1].second.active);
    const std::map<std::string, std::string> tank5 = {
        {"A1", "Liters"}, {"B1", "mm"},    {"C1", "Tank ID"}, {"D1", "Tank Height, mm"},
        {"A2", "62.5"},   {"B2", "50.0"},  {"C2", "5.0"},     {"D2", "500.0"},
        {"A3", "125.0"},  {"B3", "100.0"}, {"A4", "187.5"},   {"B4", "150.0"}};
    EXPECT_EQ(presets[1].second.cells, tank5);
    const auto tare = Dumped(At("tare_ours_" + e + "." + e));
    ASSERT_EQ(tare.size(), 1u);
    EXPECT_EQ(tare[0].first, "Tare table");
    const std::map<std::string, std::string> cells = {{"A1", "10.5"},  {"B1", "120.0"}, {"A2", "20.0"},
                                                      {"B2", "200.0"}, {"A3", "Пусто"}, {"B3", "310.0"}};
    EXPECT_EQ(tare[0].second.cells, cells);
  }
}

// The workbooks openpyxl wrote, and LibreOffice's own .xls and .xlsx of them.
TEST_F(Interop, TheirWorkbooksImport) {
  for (const std::string& tare :
       {At("tare_openpyxl.xlsx"), At("lo_xls/tare_openpyxl.xls"), At("lo_xlsx/tare_openpyxl.xlsx")}) {
    SCOPED_TRACE(tare);
    TareRows rows;
    const XlsResult r = TareSheetImport(rows, tare);
    ASSERT_TRUE(r.ok) << r.text;
    ASSERT_EQ(TareRowCount(rows), 3);
    const char* expected[3][2] = {{"10.5", "120"}, {"20", "200"}, {"37.5", "310"}};
    for (int i = 1; i <= 3; ++i) {
      EXPECT_EQ(TareText(rows, TareColLitres, i), expected[i - 1][0]);
      EXPECT_EQ(TareText(rows, TareColMm, i), expected[i - 1][1]);
    }
  }
  for (const std::string& presets : {At("presets_openpyxl.xlsx"), At("lo_xls/presets_openpyxl.xls"),
                                     At("lo_xlsx/presets_openpyxl.xlsx")}) {
    SCOPED_TRACE(presets);
    auto image = std::make_unique<HubImage>();
    auto work = std::make_unique<TankTable>();
    const XlsResult r = PresetListImport(*image, *work, presets);
    ASSERT_TRUE(r.ok) << r.text;
    const auto tanks = HubListTanks(image.get());
    ASSERT_EQ(tanks.size(), 4u);  // 0, 1, then 2 and 3; the sheet with ID 1 is skipped
    EXPECT_EQ(tanks[2].TankID, 2);
    EXPECT_EQ(tanks[2].TankHeight, 12000);
    EXPECT_EQ(tanks[2].TableLen, 3);
    EXPECT_EQ(tanks[3].TankID, 3);
    EXPECT_EQ(tanks[3].TableLen, 100);
    const TankPoint last = *HubTankPoint(*image, tanks[3], 99);
    EXPECT_EQ(last.Level, 10000);
    EXPECT_FLOAT_EQ(HubLitresFromVolume(last.Volume, tanks[3].MlPerUnit), 1250.0f);
  }
}

}  // namespace
}  // namespace kl
