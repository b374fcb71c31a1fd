// The spreadsheet exchange without a spreadsheet program: the operations'
// cases in both formats, the format choice, bad files, and preset imports
// that must keep the user's own tank.
#include <gtest/gtest.h>

#include <locale.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "HubData.h"
#include "TareUi.h"
#include "Unit_xls.h"
#include "Workbook.h"
#include "XlsFiles.h"

namespace kl {
namespace {

using test::ReadAll;
using test::TempDir;
using test::WriteAll;

std::unique_ptr<HubImage> DefaultImage() {
  auto im = std::make_unique<HubImage>();
  HubMakeDefault(im.get());
  return im;
}

std::unique_ptr<TankTable> Tank(std::uint16_t id, std::uint16_t heightTenths, int points) {
  auto t = std::make_unique<TankTable>();
  t->TankID = id;
  t->TankHeight = heightTenths;
  t->TableLen = static_cast<std::uint16_t>(points);
  t->MlPerUnit = 10;
  for (int i = 0; i < points; ++i)
    t->Points[i] = {static_cast<std::uint16_t>(100 * (i + 1)), 12.5f * static_cast<float>(i + 1)};
  return t;
}

TareRows ThreeRows() {
  TareRows rows;
  TareSetRowCount(rows, 3);
  const char* litres[] = {"10.5", "20.0", "37.5"};
  const char* mm[] = {"120", "200", "310"};
  for (int r = 1; r <= 3; ++r) {
    TareSetText(rows, TareColLitres, r, litres[r - 1]);
    TareSetText(rows, TareColMm, r, mm[r - 1]);
  }
  TareRenumber(rows);
  return rows;
}

bool StartsWith(const std::string& bytes, const char* magic, std::size_t n) {
  return bytes.size() >= n && std::memcmp(bytes.data(), magic, n) == 0;
}
constexpr char kZipMagic[] = "PK\x03\x04";
constexpr char kCfbMagic[] = "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1";

// A preset sheet as a colleague would type it: headings, ID and height in
// row 2, points from row 2 on.
XlsSheet PresetSheet(const std::string& name, double id, double heightMm, int points) {
  XlsSheet s;
  s.name = name;
  s.SetText(1, 1, "Liters");
  s.SetText(1, 2, "mm");
  s.SetText(1, 3, "Tank ID");
  s.SetText(1, 4, "Tank Height, mm");
  s.SetNumber(2, 3, id);
  s.SetNumber(2, 4, heightMm);
  for (int i = 0; i < points; ++i) {
    s.SetNumber(2 + i, 1, 10.0 * (i + 1));
    s.SetNumber(2 + i, 2, 20.0 * (i + 1));
  }
  return s;
}

TEST(CellAddress, ColumnsAtoZOnly) {
  EXPECT_EQ(CellAddress(1, 1), "A1");
  EXPECT_EQ(CellAddress(101, 3), "C101");
  EXPECT_EQ(CellAddress(7, 26), "Z7");
  EXPECT_EQ(CellAddress(1, 27), "");
  EXPECT_EQ(CellAddress(1, 0), "");
}

TEST(SaveFormat, ChosenByTheExtensionAsTyped) {
  struct Case {
    const char* name;
    const char* format;
  } cases[] = {{"t.xlsx", ".xlsx"}, {"t.xls", ".xls"},          {"t.XLSX", ".xlsx"}, {"t.XLS", ".xlsx"},
               {"t.Xls", ".xlsx"},  {"t.ods", ".xlsx"},         {"t", ".xlsx"},      {"dir.xls/t", ".xlsx"},
               {"a.b.xls", ".xls"}, {"/home/u/t.xlsx", ".xlsx"}};
  for (const Case& c : cases) EXPECT_STREQ(FormatForSave(c.name).extension, c.format) << c.name;
}

class BothFormats : public ::testing::TestWithParam<const char*> {
 protected:
  TempDir dir;
  std::string File(const std::string& base) const { return dir / (base + GetParam()); }
};
INSTANTIATE_TEST_SUITE_P(Xls, BothFormats, ::testing::Values(".xlsx", ".xls"),
                         [](const auto& info) { return std::string(info.param + 1); });

TEST_P(BothFormats, TareTableRoundTrip) {
  const std::string file = File("tare");
  const TareRows rows = ThreeRows();
  const XlsResult out = TareSheetExport(rows, "Tare table", file);
  ASSERT_TRUE(out.ok) << out.text;
  EXPECT_TRUE(StartsWith(ReadAll(file), std::string(GetParam()) == ".xls" ? kCfbMagic : kZipMagic, 4));

  // The layout: one sheet "Tare table", A1:B3, nothing in column C or row 4.
  Workbook book;
  std::string why;
  ASSERT_TRUE(LoadWorkbook(file, book, why)) << why;
  ASSERT_EQ(book.sheets.size(), 1u);
  EXPECT_EQ(book.sheets[0].name, "Tare table");
  EXPECT_EQ(book.sheets[0].LastRow(), 3);
  EXPECT_EQ(book.sheets[0].LastColumn(), 2);
  ASSERT_NE(book.sheets[0].Find(3, 1), nullptr);
  EXPECT_DOUBLE_EQ(book.sheets[0].Find(3, 1)->number, 37.5);

  TareRows back;
  back.locale.decimal_point = ",";
  const XlsResult in = TareSheetImport(back, file);
  ASSERT_TRUE(in.ok) << in.text;
  ASSERT_EQ(TareRowCount(back), 3);
  const char* litres[] = {"10,5", "20", "37,5"};
  const char* mm[] = {"120", "200", "310"};
  for (int r = 1; r <= 3; ++r) {
    EXPECT_EQ(TareText(back, TareColLitres, r), litres[r - 1]);
    EXPECT_EQ(TareText(back, TareColMm, r), mm[r - 1]);
  }
  // No temporary file is left beside the workbook.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}

TEST_P(BothFormats, TareImportTakesTextsAndOnlyTwoColumns) {
  Workbook book;
  XlsSheet& s = book.sheets.emplace_back();
  s.name = "Лист1";
  s.SetText(1, 1, "литры");
  s.SetNumber(1, 2, 5);
  s.SetNumber(1, 3, 99);  // column C is dropped
  s.SetNumber(4, 1, 0.25);
  std::string why;
  const std::string file = File("typed");
  ASSERT_TRUE(SaveWorkbook(file, book, why)) << why;
  TareRows rows;
  ASSERT_TRUE(TareSheetImport(rows, file).ok);
  ASSERT_EQ(TareRowCount(rows), 4);
  EXPECT_EQ(TareText(rows, TareColLitres, 1), "литры");
  EXPECT_EQ(TareText(rows, TareColMm, 1), "5");
  EXPECT_EQ(TareText(rows, TareColLitres, 2), "");
  EXPECT_EQ(TareText(rows, TareColLitres, 4), "0.25");
  EXPECT_EQ(TareText(rows, TareColMm, 4), "");
}

TEST(SaveFormat, CapitalExtensionGetsTheDefaultFormat) {
  TempDir dir;
  const TareRows rows = ThreeRows();
  for (const char* name : {"upper.XLSX", "upper.XLS", "plain"}) {
    ASSERT_TRUE(TareSheetExport(rows, "Tare table", dir / name).ok) << name;
    EXPECT_TRUE(StartsWith(ReadAll(dir / name), kZipMagic, 4)) << name;
  }
}

}  // namespace
}  // namespace kl

// glibc keeps the LOCPATH search list of a loaded locale for good; the leak
// checker would count it against the test below.
extern "C" const char* __lsan_default_suppressions() { return "leak:__argz_add_sep\n"; }

namespace kl {
namespace {

// The windows run under the user's locale; a Russian one writes numbers
// with a decimal comma through printf, which must not reach the file.
TEST(XlsxNumbers, SurviveACommaLocale) {
  TempDir dir;
  const std::string locales = dir / "locales";
  std::filesystem::create_directory(locales);
  if (std::system(("localedef -i ru_RU -f UTF-8 '" + locales + "/ru_RU.UTF-8' >/dev/null 2>&1").c_str()) != 0)
    GTEST_SKIP() << "localedef cannot make ru_RU here";
  setenv("LOCPATH", locales.c_str(), 1);
  // The user's locale, for this thread, as the windows' toolkit would set it.
  const locale_t ru = newlocale(LC_NUMERIC_MASK, "ru_RU.UTF-8", static_cast<locale_t>(nullptr));
  unsetenv("LOCPATH");
  if (!ru) GTEST_SKIP() << "the ru_RU locale cannot be loaded";
  const locale_t before = uselocale(ru);
  char probe[16] = "";
  std::snprintf(probe, sizeof probe, "%.1f", 12.5);
  auto image = DefaultImage();
  ASSERT_TRUE(HubAppendTank(image.get(), Tank(4, 1000, 3).get()));
  const XlsResult r = PresetListExport(*image, dir / "comma.xlsx");
  uselocale(before);
  freelocale(ru);
  if (std::string(probe) != "12,5") GTEST_SKIP() << "the ru_RU locale did not take effect";
  ASSERT_TRUE(r.ok) << r.text;
  Workbook book;
  std::string why;
  ASSERT_TRUE(LoadWorkbook(dir / "comma.xlsx", book, why)) << why;
  ASSERT_NE(book.sheets[0].Find(2, 1), nullptr);
  EXPECT_DOUBLE_EQ(book.sheets[0].Find(2, 1)->number, 12.5);
  EXPECT_DOUBLE_EQ(book.sheets[0].Find(4, 1)->number, 37.5);
}

TEST_P(BothFormats, PresetImportTakesSheetsWithIdAboveOne) {
  Workbook book;
  book.sheets.push_back(PresetSheet("one", 1, 500, 3));
  book.sheets.push_back(PresetSheet("two", 2, 800, 4));
  book.sheets.push_back(PresetSheet("three", 3, 1234.5, 5));
  XlsSheet narrow = PresetSheet("narrow", 4, 100, 2);  // no column D: skipped
  narrow.cells.erase({1, 4});
  narrow.cells.erase({2, 4});
  book.sheets.push_back(narrow);
  std::string why;
  const std::string file = File("presets");
  ASSERT_TRUE(SaveWorkbook(file, book, why)) << why;

  auto image = std::make_unique<HubImage>();  // not valid: the default is the start
  auto work = std::make_unique<TankTable>();
  const XlsResult r = PresetListImport(*image, *work, file);
  ASSERT_TRUE(r.ok) << r.text;
  ASSERT_TRUE(HubIsValid(image.get()));
  const auto tanks = HubListTanks(image.get());
  ASSERT_EQ(tanks.size(), 4u);
  EXPECT_EQ(tanks[0].TankID, 0);
  EXPECT_EQ(tanks[1].TankID, 1);
  EXPECT_EQ(tanks[2].TankID, 2);
  EXPECT_EQ(tanks[2].TableLen, 4);
  EXPECT_EQ(tanks[2].TankHeight, 8000);
  EXPECT_EQ(tanks[3].TankID, 3);
  EXPECT_EQ(tanks[3].TableLen, 5);
  EXPECT_EQ(tanks[3].TankHeight, 12345);
  EXPECT_EQ(HubReadHeader(*image).TankCount, 4);
  // Point 5 of tank 3: 50 litres at 100 mm.
  const auto p = HubTankPoint(*image, tanks[3], 4);
  ASSERT_TRUE(p);
  EXPECT_EQ(p->Level, 1000);
  EXPECT_FLOAT_EQ(HubLitresFromVolume(p->Volume, tanks[3].MlPerUnit), 50.0f);
  // The work table keeps the last tank taken.
  EXPECT_EQ(work->TankID, 3);
  EXPECT_EQ(work->TableLen, 5);
}

TEST_P(BothFormats, PresetImportLimitsPointsAndSkipsRowsOutOfRange) {
  Workbook book;
  book.sheets.push_back(PresetSheet("many", 7, 3000, 120));
  XlsSheet ranges = PresetSheet("ranges", 8, 3000, 0);
  const double rowsAB[][2] = {{100, 50}, {70000, 60}, {200, 6600}, {300, 6553.5}, {65535, 70}};
  for (int i = 0; i < 5; ++i) {
    ranges.SetNumber(2 + i, 1, rowsAB[i][0]);
    ranges.SetNumber(2 + i, 2, rowsAB[i][1]);
  }
  ranges.SetText(7, 1, "сорок");  // unreadable: skipped
  ranges.SetNumber(7, 2, 80);
  ranges.SetText(8, 1, "12,5");  // a colleague's decimal comma
  ranges.SetText(8, 2, "90");
  book.sheets.push_back(ranges);
  std::string why;
  const std::string file = File("limits");
  ASSERT_TRUE(SaveWorkbook(file, book, why)) << why;
  auto image = DefaultImage();
  auto work = std::make_unique<TankTable>();
  ASSERT_TRUE(PresetListImport(*image, *work, file).ok);
  const auto many = HubFindTank(image.get(), 7);
  ASSERT_TRUE(many);
  EXPECT_EQ(many->TableLen, 100);
  // Rows 2..101: the last point is the 100th row's.
  EXPECT_EQ(HubTankPoint(*image, *many, 99)->Level, 20000);
  const auto r = HubFindTank(image.get(), 8);
  ASSERT_TRUE(r);
  ASSERT_EQ(r->TableLen, 4);
  EXPECT_EQ(r->MlPerUnit, 1000);
  EXPECT_EQ(HubTankPoint(*image, *r, 0)->Level, 500);
  EXPECT_EQ(HubTankPoint(*image, *r, 1)->Level, 65535);
  EXPECT_EQ(HubTankPoint(*image, *r, 2)->Level, 700);
  EXPECT_EQ(HubTankPoint(*image, *r, 3)->Level, 900);
}

TEST_P(BothFormats, PresetImportKeepsTheUsersOwnTank) {
  // The user's tank of 3 points at 10 ml per bit, and an old preset tank.
  auto image = DefaultImage();
  auto own = Tank(CustomTankID, 0, 3);
  HubStoreResult stored{};
  struct NoUi : TareUi {
    void ShowError(std::string_view, int) override {}
    bool AskYesNo(std::string_view) override { return false; }
  } ui;
  stored = HubStoreCustomTable(image.get(), own.get(), 1, CustomTankID, ui);
  ASSERT_EQ(stored, HubStoreResult::Stored);
  ASSERT_TRUE(HubAppendTank(image.get(), Tank(9, 100, 2).get()));
  const auto before = HubFindTank(image.get(), CustomTankID);
  ASSERT_TRUE(before);

  Workbook book;
  book.sheets.push_back(PresetSheet("new", 4, 900, 6));
  std::string why;
  const std::string file = File("fleet");
  ASSERT_TRUE(SaveWorkbook(file, book, why)) << why;
  auto work = std::make_unique<TankTable>();
  ASSERT_TRUE(PresetListImport(*image, *work, file).ok);

  ASSERT_TRUE(HubIsValid(image.get()));
  EXPECT_EQ(HubReadHeader(*image).MlPerBit, 10);
  const auto custom = HubFindTank(image.get(), CustomTankID);
  ASSERT_TRUE(custom);
  EXPECT_EQ(custom->TableLen, 3);
  EXPECT_EQ(custom->Size, before->Size);
  for (int i = 0; i < 3; ++i)
    EXPECT_FLOAT_EQ(HubLitresFromVolume(HubTankPoint(*image, *custom, i)->Volume, custom->MlPerUnit),
                    12.5f * static_cast<float>(i + 1));
  // The old preset tank is replaced by the workbook's.
  EXPECT_FALSE(HubFindTank(image.get(), 9));
  ASSERT_TRUE(HubFindTank(image.get(), 4));
  EXPECT_EQ(HubListTanks(image.get()).size(), 3u);
  EXPECT_EQ(HubReadHeader(*image).TankCount, 3);
}

TEST_P(BothFormats, PresetExportWritesOneSheetPerPresetTank) {
  auto image = DefaultImage();
  ASSERT_TRUE(HubAppendTank(image.get(), Tank(2, 12340, 3).get()));
  ASSERT_TRUE(HubAppendTank(image.get(), Tank(5, 800, 2).get()));
  const std::string file = File("export");
  const XlsResult r = PresetListExport(*image, file);
  ASSERT_TRUE(r.ok) << r.text;
  Workbook book;
  std::string why;
  ASSERT_TRUE(LoadWorkbook(file, book, why)) << why;
  ASSERT_EQ(book.sheets.size(), 2u);
  EXPECT_EQ(book.active, 0u);
  const char* headings[] = {"Liters", "mm", "Tank ID", "Tank Height, mm"};
  const struct {
    const char* name;
    double id, height;
    int points;
  } expected[] = {{"TankID 2", 2, 1234, 3}, {"TankID 5", 5, 80, 2}};
  for (int i = 0; i < 2; ++i) {
    const XlsSheet& s = book.sheets[i];
    EXPECT_EQ(s.name, expected[i].name);
    for (int c = 1; c <= 4; ++c) {
      ASSERT_NE(s.Find(1, c), nullptr);
      EXPECT_EQ(s.Find(1, c)->text, headings[c - 1]);
    }
    EXPECT_DOUBLE_EQ(s.Find(2, 3)->number, expected[i].id);
    EXPECT_DOUBLE_EQ(s.Find(2, 4)->number, expected[i].height);
    EXPECT_EQ(s.LastRow(), expected[i].points + 1);
    EXPECT_DOUBLE_EQ(s.Find(3, 1)->number, 25.0);
    EXPECT_DOUBLE_EQ(s.Find(3, 2)->number, 20.0);
  }
  // And it imports back into the same tanks (the volume unit is chosen
  // afresh from the largest volume, so compare litres, not volume words).
  auto again = DefaultImage();
  auto work = std::make_unique<TankTable>();
  ASSERT_TRUE(PresetListImport(*again, *work, file).ok);
  const auto a = HubListTanks(image.get());
  const auto b = HubListTanks(again.get());
  ASSERT_EQ(a.size(), b.size());
  for (std::size_t t = 2; t < a.size(); ++t) {
    EXPECT_EQ(a[t].TankID, b[t].TankID);
    EXPECT_EQ(a[t].TankHeight, b[t].TankHeight);
    ASSERT_EQ(a[t].TableLen, b[t].TableLen);
    for (std::size_t j = 0; j < a[t].TableLen; ++j) {
      const TankPoint pa = *HubTankPoint(*image, a[t], j);
      const TankPoint pb = *HubTankPoint(*again, b[t], j);
      EXPECT_EQ(pa.Level, pb.Level);
      EXPECT_FLOAT_EQ(HubLitresFromVolume(pa.Volume, a[t].MlPerUnit),
                      HubLitresFromVolume(pb.Volume, b[t].MlPerUnit));
    }
  }
}

TEST_P(BothFormats, PresetExportWithoutPresetsIsOneHeadingSheet) {
  const std::string file = File("empty");
  ASSERT_TRUE(PresetListExport(*DefaultImage(), file).ok);
  Workbook book;
  std::string why;
  ASSERT_TRUE(LoadWorkbook(file, book, why)) << why;
  ASSERT_EQ(book.sheets.size(), 1u);
  EXPECT_EQ(book.sheets[0].LastRow(), 1);
  EXPECT_EQ(book.sheets[0].LastColumn(), 4);
}

TEST_P(BothFormats, RefusedExportsLeaveTheFileAlone) {
  const std::string file = File("keep");
  WriteAll(file, "an earlier workbook");
  auto invalid = std::make_unique<HubImage>();
  XlsResult r = PresetListExport(*invalid, file);
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.text, "Wrong hub structure");

  // Two tanks with one ID cannot become two sheets of one name.
  auto dup = DefaultImage();
  ASSERT_TRUE(HubAppendTank(dup.get(), Tank(6, 100, 1).get()));
  ASSERT_TRUE(HubAppendTank(dup.get(), Tank(6, 100, 1).get()));
  r = PresetListExport(*dup, file);
  EXPECT_FALSE(r.ok);
  EXPECT_NE(r.text.find("TankID 6"), std::string::npos) << r.text;

  // A sheet name no workbook accepts fails inside the writer.
  r = TareSheetExport(ThreeRows(), "bad:name*", file);
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.text.rfind("Error save excel file\n" + file + ": ", 0), 0u) << r.text;

  EXPECT_TRUE(ReadAll(file) == "an earlier workbook");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}

TEST_P(BothFormats, UsedAreaBeyondColumnZEndsTheImportAtThatSheet) {
  Workbook book;
  book.sheets.push_back(PresetSheet("first", 2, 100, 2));
  XlsSheet wide = PresetSheet("wide", 3, 100, 2);
  wide.SetText(1, 27, "note");
  book.sheets.push_back(wide);
  book.sheets.push_back(PresetSheet("third", 4, 100, 2));
  std::string why;
  const std::string file = File("wide");
  ASSERT_TRUE(SaveWorkbook(file, book, why)) << why;
  auto image = std::make_unique<HubImage>();
  auto work = std::make_unique<TankTable>();
  const XlsResult r = PresetListImport(*image, *work, file);
  EXPECT_FALSE(r.ok);
  EXPECT_NE(r.text.find("\"wide\""), std::string::npos) << r.text;
  EXPECT_TRUE(HubFindTank(image.get(), 2));
  EXPECT_FALSE(HubFindTank(image.get(), 3));
  EXPECT_FALSE(HubFindTank(image.get(), 4));
}

// Files that are not sound workbooks: each gives a message naming the file,
// and neither the rows nor the image change.
class BadFiles : public ::testing::Test {
 protected:
  TempDir dir;

  void ExpectRefused(const std::string& file, const std::string& reasonPart) {
    SCOPED_TRACE(file);
    TareRows rows;
    TareSetText(rows, TareColLitres, 1, "keep");
    const XlsResult t = TareSheetImport(rows, file);
    EXPECT_FALSE(t.ok);
    EXPECT_EQ(t.text.rfind("Error read excel file\n" + file + ": ", 0), 0u) << t.text;
    EXPECT_NE(t.text.find(reasonPart), std::string::npos) << t.text;
    EXPECT_EQ(TareRowCount(rows), 1);
    EXPECT_EQ(TareText(rows, TareColLitres, 1), "keep");

    auto image = DefaultImage();
    ASSERT_TRUE(HubAppendTank(image.get(), Tank(3, 10, 2).get()));
    const HubImage before = *image;
    auto work = std::make_unique<TankTable>();
    const XlsResult p = PresetListImport(*image, *work, file);
    EXPECT_FALSE(p.ok);
    EXPECT_EQ(p.text, t.text);
    EXPECT_TRUE(image->bytes == before.bytes);
  }

  std::string SoundWorkbook(const char* ext) {
    const std::string file = dir / (std::string("sound") + ext);
    auto image = DefaultImage();
    HubAppendTank(image.get(), Tank(2, 100, 40).get());
    EXPECT_TRUE(PresetListExport(*image, file).ok);
    return ReadAll(file);
  }
};

TEST_F(BadFiles, EmptyMissingAndNotAWorkbook) {
  WriteAll(dir / "empty.xlsx", "");
  ExpectRefused(dir / "empty.xlsx", "empty");
  ExpectRefused(dir / "missing.xls", "does not exist");
  WriteAll(dir / "notes.xlsx", "Liters;mm\n10;120\n");
  ExpectRefused(dir / "notes.xlsx", "not an Excel workbook");
  std::filesystem::create_directory(dir / "folder.xls");
  ExpectRefused(dir / "folder.xls", "not a file");
}

TEST_F(BadFiles, TruncatedWorkbooks) {
  for (const char* ext : {".xlsx", ".xls"}) {
    const std::string sound = SoundWorkbook(ext);
    for (std::size_t keep : {std::size_t{8}, sound.size() / 2, sound.size() - 30}) {
      const std::string file = dir / ("cut" + std::to_string(keep) + ext);
      WriteAll(file, sound.substr(0, keep));
      ExpectRefused(file, "");
    }
  }
}

TEST_F(BadFiles, XlsRecordRunningPastItsStream) {
  // The reader underneath follows a record's length past the end of its
  // buffers; such a record must stop the read before it gets there.
  std::string xls = SoundWorkbook(".xls");
  const std::string font("\x31\x00\x15\x00", 4);
  const std::size_t at = xls.find(font);
  ASSERT_NE(at, std::string::npos);
  xls[at + 2] = '\x00';
  xls[at + 3] = '\x20';  // 8192 bytes, past the 4096-byte stream
  WriteAll(dir / "long.xls", xls);
  ExpectRefused(dir / "long.xls", "records do not hold together");

  // It also copies a cell's text by its declared length, whatever the
  // record holds: "Liters" claiming 50514 characters.
  xls = SoundWorkbook(".xls");
  const std::string label("\x04\x02\x15\x00", 4);
  const std::size_t l = xls.find(label);
  ASSERT_NE(l, std::string::npos);
  xls[l + 4 + 6] = '\x52';
  xls[l + 4 + 7] = '\xC5';
  WriteAll(dir / "label.xls", xls);
  ExpectRefused(dir / "label.xls", "records do not hold together");

  // And a directory entry's name by the length the entry states.
  xls = SoundWorkbook(".xls");
  const std::u16string root = u"Root Entry";
  const std::size_t r = xls.find(std::string(reinterpret_cast<const char*>(root.data()), root.size() * 2));
  ASSERT_NE(r, std::string::npos);
  xls[r + 64] = '\x16';
  xls[r + 65] = '\x20';  // 8214 bytes of name in a 128-byte entry
  WriteAll(dir / "name.xls", xls);
  ExpectRefused(dir / "name.xls", "compound file structure");

  // And it frees a sheet's area twice when the sheet declares it twice.
  xls = SoundWorkbook(".xls");
  const std::string mm("\x04\x02\x0D\x00", 4);  // the LABEL "mm"
  const std::size_t m = xls.find(mm);
  ASSERT_NE(m, std::string::npos);
  xls[m] = '\x00';
  WriteAll(dir / "twice.xls", xls);
  ExpectRefused(dir / "twice.xls", "records do not hold together");
}

TEST_F(BadFiles, RenamedWorkbookStillReads) {
  // An .xls saved under an .xlsx name reads by its content.
  WriteAll(dir / "renamed.xlsx", SoundWorkbook(".xls"));
  auto image = DefaultImage();
  auto work = std::make_unique<TankTable>();
  EXPECT_TRUE(PresetListImport(*image, *work, dir / "renamed.xlsx").ok);
  EXPECT_TRUE(HubFindTank(image.get(), 2));
}

TEST_F(BadFiles, ZipsThatAreNoWorkbook) {
  ASSERT_TRUE(test::WriteZip(dir / "docs.xlsx", {{"readme.txt", "hello", 0}}));
  ExpectRefused(dir / "docs.xlsx", "not an Excel workbook");
  // A word-processor document is a zip package too.
  ASSERT_TRUE(
      test::WriteZip(dir / "letter.xlsx", {{"_rels/.rels",
                                            "<Relationships xmlns=\"http://schemas.openxmlformats.org/"
                                            "package/2006/relationships\"><Relationship Id=\"rId1\" "
                                            "Type=\"http://schemas.openxmlformats.org/officeDocument/2006/"
                                            "relationships/officeDocument\" Target=\"word/document.xml\"/>"
                                            "</Relationships>",
                                            0},
                                           {"word/document.xml", "<document/>", 0}}));
  ExpectRefused(dir / "letter.xlsx", "not an Excel workbook");
}

TEST_F(BadFiles, ZipWithAHugeMemberIsRefusedUnread) {
  // 200 MiB of zeros deflate to a few hundred kilobytes.
  ASSERT_TRUE(test::WriteZip(dir / "bomb.xlsx", {{"[Content_Types].xml", "<Types/>", 0},
                                                 {"xl/workbook.xml", "", std::size_t{200} << 20}}));
  EXPECT_LT(std::filesystem::file_size(dir / "bomb.xlsx"), 2u << 20);
  ExpectRefused(dir / "bomb.xlsx", "unpacks to more than");
}

TEST_F(BadFiles, DamagedXmlInsideASoundPackage) {
  const std::string rels =
      "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
      "<Relationship Id=\"rId1\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/"
      "worksheet\" Target=\"worksheets/sheet1.xml\"/></Relationships>";
  const std::string workbook =
      "<workbook xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" "
      "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\"><sheets>"
      "<sheet name=\"S\" sheetId=\"1\" r:id=\"rId1\"/></sheets></workbook>";
  const struct {
    const char* sheet;
    const char* reason;
  } cases[] = {
      {"<worksheet><sheetData><row r=\"1\"><c r=\"A1\"><v>1</v></c>", "damaged"},
      {"<worksheet><sheetData><row r=\"1\"><c r=\"A1\" t=\"s\"><v>7</v></c></row></sheetData></worksheet>",
       "shared string index"},
      {"<worksheet><sheetData><row r=\"1\"><c r=\"1A\"><v>1</v></c></row></sheetData></worksheet>",
       "cell reference"},
      {"<worksheet><sheetData><row r=\"70000\"><c r=\"A70000\"><v>1</v></c></row></sheetData></worksheet>",
       "beyond row 65536"},
      {"<worksheet><sheetData><row r=\"1\"><c r=\"A1\"><v>1e999</v></c></row></sheetData></worksheet>",
       "number"},
  };
  int i = 0;
  for (const auto& c : cases) {
    const std::string file = dir / ("xml" + std::to_string(i++) + ".xlsx");
    ASSERT_TRUE(test::WriteZip(file, {{"xl/workbook.xml", workbook, 0},
                                      {"xl/_rels/workbook.xml.rels", rels, 0},
                                      {"xl/worksheets/sheet1.xml", c.sheet, 0}}));
    ExpectRefused(file, c.reason);
  }
}

TEST_F(BadFiles, XlsDeclaringHugeSheetsIsRefusedUnread) {
  // A few kilobytes that declare 65536 x 256 cells; the reader underneath
  // would reserve 16 bytes for each of them.
  Workbook book;
  XlsSheet& s = book.sheets.emplace_back();
  s.name = "huge";
  s.SetNumber(1, 1, 1);
  s.SetNumber(65536, 256, 2);
  std::string why;
  ASSERT_TRUE(SaveWorkbook(dir / "huge.xls", book, why)) << why;
  EXPECT_LT(std::filesystem::file_size(dir / "huge.xls"), 16u << 10);
  ExpectRefused(dir / "huge.xls", "declare more than");
}

// A compound file whose workbook stream is small enough to live in the mini
// stream, as some writers store it: the same workbook reads from there.
std::string InMiniStream(const std::string& biff) {
  auto u16 = [](std::string& b, unsigned v) {
    b += static_cast<char>(v & 0xFF);
    b += static_cast<char>((v >> 8) & 0xFF);
  };
  auto u32 = [&](std::string& b, std::uint32_t v) {
    u16(b, v & 0xFFFF);
    u16(b, v >> 16);
  };
  const std::uint32_t end = 0xFFFFFFFE, freeSect = 0xFFFFFFFF;
  const std::size_t miniSectors = (biff.size() + 63) / 64;
  const std::size_t containerSectors = (miniSectors * 64 + 511) / 512;
  std::string f("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8);
  f.append(16, '\0');
  u16(f, 0x3E), u16(f, 3), u16(f, 0xFFFE), u16(f, 9), u16(f, 6);
  f.append(6, '\0');
  u32(f, 0), u32(f, 1), u32(f, 1), u32(f, 0), u32(f, 4096), u32(f, 2), u32(f, 1), u32(f, end), u32(f, 0);
  u32(f, 0);  // the allocation table is sector 0
  for (int i = 1; i < 109; ++i) u32(f, freeSect);
  // Sector 0: allocation table. 1: directory. 2: mini allocation table.
  // 3...: the mini stream's container.
  std::string fat;
  u32(fat, 0xFFFFFFFD), u32(fat, end), u32(fat, end);
  for (std::size_t i = 0; i < containerSectors; ++i)
    u32(fat, i + 1 < containerSectors ? static_cast<std::uint32_t>(4 + i) : end);
  while (fat.size() < 512) u32(fat, freeSect);
  std::string dir;
  auto entry = [&](const std::u16string& name, unsigned type, std::uint32_t child, std::uint32_t start,
                   std::uint32_t size) {
    const std::size_t begin = dir.size();
    for (char16_t c : name) u16(dir, c);
    dir.resize(begin + 64, '\0');
    u16(dir, name.empty() ? 0 : static_cast<unsigned>((name.size() + 1) * 2));
    dir += static_cast<char>(type);
    dir += static_cast<char>(1);
    u32(dir, freeSect), u32(dir, freeSect), u32(dir, child);
    dir.append(36, '\0');
    u32(dir, start), u32(dir, size), u32(dir, 0);
  };
  entry(u"Root Entry", 5, 1, 3, static_cast<std::uint32_t>(miniSectors * 64));
  entry(u"Workbook", 2, freeSect, 0, static_cast<std::uint32_t>(biff.size()));
  entry(u"", 0, freeSect, 0, 0);
  entry(u"", 0, freeSect, 0, 0);
  std::string miniFat;
  for (std::size_t i = 0; i < miniSectors; ++i)
    u32(miniFat, i + 1 < miniSectors ? static_cast<std::uint32_t>(i + 1) : end);
  while (miniFat.size() < 512) u32(miniFat, freeSect);
  std::string container = biff;
  container.resize(containerSectors * 512, '\0');
  return f + fat + dir + miniFat + container;
}

TEST_F(BadFiles, XlsWorkbookInTheMiniStreamReads) {
  // Our writer's workbook stream, without the padding that keeps it out of
  // the mini stream.
  const std::string xls = SoundWorkbook(".xls");
  std::string biff = xls.substr(512, 4096);
  std::size_t at = 0;
  while (at + 4 <= biff.size() && !(biff[at] == 0 && biff[at + 1] == 0)) {
    at += 4 + (static_cast<unsigned char>(biff[at + 2]) | static_cast<unsigned char>(biff[at + 3]) << 8);
  }
  biff.resize(at);
  ASSERT_LT(biff.size(), 4096u);
  WriteAll(dir / "mini.xls", InMiniStream(biff));
  Workbook book;
  std::string why;
  ASSERT_TRUE(LoadWorkbook(dir / "mini.xls", book, why)) << why;
  ASSERT_EQ(book.sheets.size(), 1u);
  EXPECT_EQ(book.sheets[0].name, "TankID 2");
  EXPECT_EQ(book.sheets[0].LastRow(), 41);
}

TEST_F(BadFiles, EncryptedWorkbook) {
  // A password-protected .xlsx is a compound file holding an encrypted
  // package instead of a workbook stream.
  std::string cfb = SoundWorkbook(".xls");
  const std::u16string from = u"Workbook";
  const std::u16string to = u"Encrypte";
  const std::string fromBytes(reinterpret_cast<const char*>(from.data()), from.size() * 2);
  const std::size_t at = cfb.find(fromBytes);
  ASSERT_NE(at, std::string::npos);
  cfb.replace(at, fromBytes.size(), reinterpret_cast<const char*>(to.data()), to.size() * 2);
  WriteAll(dir / "secret.xlsx", cfb);
  ExpectRefused(dir / "secret.xlsx", "no Excel workbook");

  // A password-protected .xls: its globals carry a FILEPASS record (here in
  // place of the CODEPAGE record of the same length).
  std::string xls = SoundWorkbook(".xls");
  const std::string codepage("\x42\x00\x02\x00\xB0\x04", 6);
  const std::size_t cp = xls.find(codepage);
  ASSERT_NE(cp, std::string::npos);
  xls.replace(cp, codepage.size(), std::string("\x2F\x00\x02\x00\x00\x00", 6));
  WriteAll(dir / "secret.xls", xls);
  ExpectRefused(dir / "secret.xls", "password-protected");
}

}  // namespace
}  // namespace kl
