#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <optional>
#include <set>
#include <vector>

#include "RecordingUi.h"
#include "TareMessages.h"
#include "TareRows.h"
#include "Unit_texts.h"

namespace kl {

namespace {

using Cells = std::vector<std::array<std::string, 3>>;

// Every case runs in a point and in a comma notation; the cases are written in
// point notation and rewritten for the locale under test.
class TareTest : public ::testing::TestWithParam<const char*> {
 protected:
  NumberLocale loc{GetParam()};

  std::string L(std::string text) const {
    std::string out;
    for (char c : text) {
      if (c == '.')
        out += loc.decimal_point;
      else
        out += c;
    }
    return out;
  }
  // Rows of (litres, mm) in point notation, numbered.
  TareRows Rows(const std::vector<std::pair<std::string, std::string>>& rows) const {
    TareRows t;
    t.locale = loc;
    TareSetRowCount(t, static_cast<int>(rows.size()));
    for (int r = 1; r <= static_cast<int>(rows.size()); ++r) {
      TareSetText(t, TareColLitres, r, L(rows[r - 1].first));
      TareSetText(t, TareColMm, r, L(rows[r - 1].second));
    }
    TareRenumber(t);
    return t;
  }
  Cells Expect(const std::vector<std::pair<std::string, std::string>>& rows) const {
    Cells c;
    for (std::size_t i = 0; i < rows.size(); ++i)
      c.push_back({std::to_string(i + 1), L(rows[i].first), L(rows[i].second)});
    return c;
  }
};

INSTANTIATE_TEST_SUITE_P(Notations, TareTest, ::testing::Values(".", ","), [](const auto& info) {
  return std::string(info.param[0] == '.' ? "Point" : "Comma");
});

using Pairs = std::vector<std::pair<std::string, std::string>>;

TEST_P(TareTest, InsertionKeepsLitresAndMillimetresRisingTogether) {
  struct Case {
    const char* name;
    Pairs before;
    float litres;
    int mm;
    Pairs after;        // expected rows when accepted
    const char* error;  // expected refusal, or nullptr
    int errorRow = 0;
  };
  const Pairs two = {{"10.0", "120"}, {"20.0", "200"}};
  const Case cases[] = {
      {"into the empty table", {{"", ""}}, 10.0f, 120, {{"10.0", "120"}}, nullptr},
      {"between two rows", two, 15.0f, 150, {{"10.0", "120"}, {"15.0", "150"}, {"20.0", "200"}}, nullptr},
      {"between, level not below the next", two, 15.0f, 250, {}, "msg_wrong_code_value"},
      {"between, level not above the previous", two, 15.0f, 120, {}, "msg_wrong_code_value"},
      {"same litres overwrite", two, 20.0f, 190, {{"10.0", "120"}, {"20.0", "190"}}, nullptr},
      {"same litres, level below the previous", two, 20.0f, 110, {}, "msg_wrong_code_value"},
      {"same litres, level equal to the previous", two, 20.0f, 120, {}, "msg_wrong_code_value"},
      {"same litres, first row", two, 10.0f, 100, {{"10.0", "100"}, {"20.0", "200"}}, nullptr},
      {"same litres, level not below the next", two, 10.0f, 200, {}, "msg_wrong_code_value"},
      {"before the first", two, 5.0f, 100, {{"5.0", "100"}, {"10.0", "120"}, {"20.0", "200"}}, nullptr},
      {"before the first, level not below it", two, 5.0f, 120, {}, "msg_wrong_code_value"},
      {"after the last", two, 30.0f, 201, {{"10.0", "120"}, {"20.0", "200"}, {"30.0", "201"}}, nullptr},
      {"after the last, level not above it", two, 30.0f, 200, {}, "msg_wrong_code_value"},
      // The rows hold one decimal: 10.04 is not the 10.0 of the row and goes after it.
      {"litres compared as the text reads",
       {{"10.0", "120"}},
       10.04f,
       130,
       {{"10.0", "120"}, {"10.0", "130"}},
       nullptr},
      {"below one litre at 0 mm", {{"", ""}}, 0.5f, 0, {}, "msg_wrong_code_value"},
      {"below one litre above 0 mm", {{"", ""}}, 0.5f, 3, {{"0.5", "3"}}, nullptr},
      {"one litre at 0 mm", {{"", ""}}, 1.0f, 0, {{"1.0", "0"}}, nullptr},
      {"above the largest volume", {{"", ""}}, 650000.1f, 10, {}, "msg_wrong_litr_value"},
      {"the largest volume", {{"", ""}}, 650000.0f, 10, {{"650000.0", "10"}}, nullptr},
      {"negative litres", {{"", ""}}, -1.0f, 10, {}, "msg_litr_negative"},
      {"level code above 16 bits", {{"", ""}}, 10.0f, 6554, {}, "msg_level_out_of_range"},
      {"highest level that fits", {{"", ""}}, 10.0f, 6553, {{"10.0", "6553"}}, nullptr},
      {"negative level", {{"", ""}}, 10.0f, -1, {}, "msg_level_out_of_range"},
      // A row whose litres cannot be read takes the point, unchecked.
      {"unreadable row is replaced",
       {{"10.0", "120"}, {"x", "y"}, {"20.0", "200"}},
       50.0f,
       5,
       {{"10.0", "120"}, {"50.0", "5"}, {"20.0", "200"}},
       nullptr},
      {"neighbour millimetres not whole",
       {{"10.0", "12.5"}, {"20.0", "200"}},
       15.0f,
       150,
       {},
       "msg_row_mm_not_whole",
       1},
      {"last row millimetres not whole", {{"10.0", "abc"}}, 15.0f, 150, {}, "msg_row_mm_not_whole", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TareRows t = Rows(c.before);
    const Cells before = t.rows;
    RecordingUi ui;
    const bool ok = TareInsertPoint(t, c.litres, c.mm, ui);
    if (c.error) {
      EXPECT_FALSE(ok);
      ASSERT_EQ(ui.OnlyError(), c.error);
      EXPECT_EQ(ui.errors[0].row, c.errorRow);
      EXPECT_EQ(t.rows, before) << "a refusal changes nothing";
    } else {
      EXPECT_TRUE(ok);
      EXPECT_EQ(ui.OnlyError(), "");
      EXPECT_EQ(t.rows, Expect(c.after));
    }
  }
}

TEST_P(TareTest, RowsInAnotherNotationAreNotNumbers) {
  // "10.0" is a number only with a point separator and "10,0" only with a
  // comma; an unreadable litres text is taken over by the new point.
  TareRows t = Rows({{"10.0", "120"}});
  TareSetText(t, TareColLitres, 1, loc.decimal_point == "." ? "10,0" : "10.0");
  RecordingUi ui;
  ASSERT_TRUE(TareInsertPoint(t, 30.0f, 50, ui));
  EXPECT_EQ(t.rows, Expect({{"30.0", "50"}}));
}

TEST_P(TareTest, OpenDeleteClearAndRenumber) {
  TareRows t = Rows({{"1.0", "1"}, {"2.0", "2"}, {"3.0", "3"}, {"4.0", "4"}});
  TareOpenRow(t, 2);
  ASSERT_EQ(TareRowCount(t), 5);
  EXPECT_EQ(TareText(t, TareColLitres, 2), "");
  EXPECT_EQ(TareText(t, TareColNumber, 2), "");
  EXPECT_EQ(TareText(t, TareColLitres, 3), L("2.0"));
  EXPECT_EQ(TareText(t, TareColNumber, 5), "4") << "numbers move with their rows until renumbered";
  TareRenumber(t);
  EXPECT_EQ(TareText(t, TareColNumber, 5), "5");

  TareDeleteRows(t, 2, 3);
  EXPECT_EQ(t.rows, Expect({{"1.0", "1"}, {"3.0", "3"}, {"4.0", "4"}}));
  TareDeleteRows(t, 7, 9);  // outside the table
  EXPECT_EQ(TareRowCount(t), 3);
  TareDeleteRows(t, 1, 3);
  EXPECT_EQ(t.rows, (Cells{{"1", "", ""}})) << "deleting every row leaves one empty row";

  TareRows u = Rows({{"1.0", "1"}, {"2.0", "2"}});
  TareClear(u);
  EXPECT_EQ(u.rows, (Cells{{"", "", ""}}));
  EXPECT_EQ(TareText(u, TareColLitres, 0), "");
  EXPECT_EQ(TareText(u, 3, 1), "");
}

TEST_P(TareTest, LoadShowsThePointsAndSkipsEmptySlots) {
  auto table = std::make_unique<TankTable>();
  table->TableLen = 5;
  table->Points[0] = {0, 3.5f};      // at 0 mm, kept
  table->Points[1] = {1255, 10.0f};  // 125.5 mm shows as 126
  table->Points[2] = {0, 0.0f};      // an empty slot
  table->Points[3] = {65535, 20.25f};
  table->Points[4] = {2000, 30.0f};
  table->Points[5] = {3000, 40.0f};  // beyond TableLen
  TareRows t;
  t.locale = loc;
  TareLoad(t, *table);
  EXPECT_EQ(t.rows, Expect({{"3.5", "0"}, {"10.0", "126"}, {"20.2", "6554"}, {"30.0", "200"}}));

  table->TableLen = 0;
  TareLoad(t, *table);
  EXPECT_EQ(t.rows, (Cells{{"1", "", ""}}));
}

TEST_P(TareTest, CommitStoresReadableRows) {
  TareRows t = Rows({{"10.0", "12.6"}, {"", "50"}, {"20.0", ""}, {"600.0", "300"}, {"x", "400"}});
  auto table = std::make_unique<TankTable>();
  table->Size = 11;
  table->TankID = 12;
  table->TankHeight = 13;
  for (auto& p : table->Points) p = {999, 9.0f};
  RecordingUi ui;
  ASSERT_EQ(TareCommit(t, *table, ui), TareCommitResult::Stored);
  EXPECT_TRUE(ui.errors.empty());
  EXPECT_TRUE(ui.questions.empty());
  EXPECT_EQ(table->TableLen, 2);
  EXPECT_EQ(table->Points[0].Level, 130);
  EXPECT_EQ(table->Points[0].Litres, 10.0f);
  EXPECT_EQ(table->Points[1].Level, 3000);
  EXPECT_EQ(table->Points[1].Litres, 600.0f);
  EXPECT_EQ(table->MlPerUnit, 10);
  EXPECT_EQ(table->Points[2].Level, 0) << "the 50 window slots are cleared";
  EXPECT_EQ(table->Points[49].Litres, 0.0f);
  EXPECT_EQ(table->Points[50].Level, 999) << "slots beyond them are not";
  EXPECT_EQ(table->Size, 11);
  EXPECT_EQ(table->TankID, 12);
  EXPECT_EQ(table->TankHeight, 13);
}

TEST_P(TareTest, CommitChoosesTheVolumeUnitFromTheLargestVolume) {
  const std::pair<const char*, std::uint16_t> cases[] = {
      {nullptr, 1},    {"5.0", 1},       {"65.5", 1},       {"65.6", 10},        {"600.0", 10},
      {"6553.5", 100}, {"6553.6", 1000}, {"65535.0", 1000}, {"650000.0", 10000}, {"655350.0", 10000},
  };
  for (const auto& [litres, unit] : cases) {
    TareRows t = litres ? Rows({{"1.0", "10"}, {litres, "20"}}) : Rows({{"", ""}});
    auto table = std::make_unique<TankTable>();
    RecordingUi ui;
    ASSERT_EQ(TareCommit(t, *table, ui), TareCommitResult::Stored) << (litres ? litres : "empty");
    EXPECT_EQ(table->MlPerUnit, unit) << (litres ? litres : "empty");
    EXPECT_EQ(table->TableLen, litres ? 2 : 0);
  }
}

TEST_P(TareTest, CommitOfMoreThanFiftyRowsAsksFirst) {
  Pairs rows;
  for (int i = 1; i <= 51; ++i) rows.push_back({std::to_string(i) + ".0", std::to_string(i * 10)});
  // The 51st row would not fit, but it is cut off and so never checked.
  rows.back().second = "9999";
  const TareRows t = Rows(rows);
  {
    auto table = std::make_unique<TankTable>();
    table->TableLen = 7;
    RecordingUi ui;
    ui.answers = {false};
    EXPECT_EQ(TareCommit(t, *table, ui), TareCommitResult::Declined);
    EXPECT_EQ(ui.questions, std::vector<std::string>{"msg_table_will_trunc"});
    EXPECT_EQ(table->TableLen, 7) << "No stores nothing";
  }
  {
    auto table = std::make_unique<TankTable>();
    RecordingUi ui;
    ui.answers = {true};
    EXPECT_EQ(TareCommit(t, *table, ui), TareCommitResult::Stored);
    EXPECT_EQ(table->TableLen, 50);
    EXPECT_EQ(table->Points[49].Level, 5000);
    EXPECT_EQ(table->Points[49].Litres, 50.0f);
  }
  {
    // Exactly 50 readable rows (one unreadable among them) ask nothing.
    Pairs fifty(rows.begin(), rows.begin() + 50);
    fifty.insert(fifty.begin() + 3, {"", "35"});
    auto table = std::make_unique<TankTable>();
    RecordingUi ui;
    EXPECT_EQ(TareCommit(Rows(fifty), *table, ui), TareCommitResult::Stored);
    EXPECT_TRUE(ui.questions.empty());
    EXPECT_EQ(table->TableLen, 50);
  }
}

TEST_P(TareTest, CommitRefusesRowsTheSensorCannotHold) {
  struct Case {
    Pairs rows;
    const char* error;  // nullptr: stored
    int row;
    std::uint16_t level;  // of the last row, when stored
  };
  const Case cases[] = {
      {{{"1.0", "10"}, {"2.0", "6553.4"}}, nullptr, 0, 65530},
      {{{"1.0", "10"}, {"", "7000"}, {"2.0", "6553.5"}}, "msg_row_level_out_of_range", 3, 0},
      {{{"1.0", "1e9"}}, "msg_row_level_out_of_range", 1, 0},
      {{{"1.0", "-1.6"}}, "msg_row_level_out_of_range", 1, 0},
      {{{"1.0", "-1.4"}}, nullptr, 0, 0},  // rounds to level 0, nothing wraps
      {{{"1.0", "10"}, {"655355.0", "20"}}, "msg_row_litr_out_of_range", 2, 0},
      // Still codes in units of 10 litres (65535), though the unit rule
      // alone would ask for 100 litres, which no 16-bit word holds.
      {{{"1.0", "10"}, {"655354.0", "20"}}, nullptr, 0, 200},
      {{{"-0.5", "10"}}, "msg_row_litr_out_of_range", 1, 0},
      // The first row that does not fit is named, whichever the reason.
      {{{"1.0", "10"}, {"700000.0", "20"}, {"2.0", "7000"}}, "msg_row_litr_out_of_range", 2, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.rows.back().first + " | " + c.rows.back().second);
    auto table = std::make_unique<TankTable>();
    table->TableLen = 3;
    RecordingUi ui;
    ui.answers = {true};
    const auto result = TareCommit(Rows(c.rows), *table, ui);
    if (c.error) {
      EXPECT_EQ(result, TareCommitResult::Refused);
      ASSERT_EQ(ui.OnlyError(), c.error);
      EXPECT_EQ(ui.errors[0].row, c.row);
      EXPECT_EQ(table->TableLen, 3) << "nothing stored";
      EXPECT_TRUE(ui.questions.empty());
    } else {
      EXPECT_EQ(result, TareCommitResult::Stored);
      EXPECT_EQ(table->Points[table->TableLen - 1].Level, c.level);
    }
  }
}

TEST_P(TareTest, TheLargestVolumeTheSensorHoldsSurvivesLoadAndCommit) {
  // Volume 65535 in units of 10 l reads back as 655350.0625 l in single
  // precision, a hair above what the unit rule allows for 10 l units.
  auto image = std::make_unique<HubImage>();
  ASSERT_TRUE(HubMakeDefault(image.get()));
  auto table = std::make_unique<TankTable>();
  table->TableLen = 2;
  table->MlPerUnit = 10000;
  table->Points[0] = {100, 10.0f};
  table->Points[1] = {200, 655350.0f};
  RecordingUi ui;
  ASSERT_EQ(HubStoreCustomTable(image.get(), table.get(), 0, CustomTankID, ui), HubStoreResult::Stored);
  ASSERT_TRUE(HubLoadTankTable(image.get(), CustomTankID, table.get()));
  EXPECT_GT(table->Points[1].Litres, 655350.0f);
  TareRows t;
  t.locale = loc;
  TareLoad(t, *table);
  ASSERT_EQ(TareCommit(t, *table, ui), TareCommitResult::Stored);
  EXPECT_EQ(table->MlPerUnit, 10000);
  ASSERT_EQ(HubStoreCustomTable(image.get(), table.get(), 0, CustomTankID, ui), HubStoreResult::Stored);
  EXPECT_EQ(HubTankPoint(*image, *HubFindTank(image.get(), CustomTankID), 1)->Volume, 65535);
  EXPECT_TRUE(ui.errors.empty());
}

TEST_P(TareTest, LoadAndCommitGiveBackTheSamePoints) {
  auto table = std::make_unique<TankTable>();
  table->TableLen = 3;
  table->Points[0] = {120, 10.5f};
  table->Points[1] = {1550, 320.0f};
  table->Points[2] = {65530, 6000.5f};
  TareRows t;
  t.locale = loc;
  TareLoad(t, *table);
  auto back = std::make_unique<TankTable>();
  RecordingUi ui;
  ASSERT_EQ(TareCommit(t, *back, ui), TareCommitResult::Stored);
  ASSERT_EQ(back->TableLen, 3);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(back->Points[i].Level, table->Points[i].Level);
    EXPECT_EQ(back->Points[i].Litres, table->Points[i].Litres);
  }
  EXPECT_EQ(back->MlPerUnit, 100);
}

TEST_P(TareTest, FillingAddsPortionsAtRisingLevels) {
  TareRows t = Rows({{"", ""}});
  struct Step {
    const char* level;
    const char* sensitivity;
    const char* portion;
    const char* error;
  };
  const Step steps[] = {
      {"120", "1", "10", nullptr},
      {"120", "1", "10", "msg_code_change_less_than_accuracy"},
      {"121", "2", "10", "msg_code_change_less_than_accuracy"},
      {"122", "2", "10", nullptr},
      {"130", "1", "0.5", "msg_fuel_portion_too_small"},
      {"130", "1", "-0.9", "msg_fuel_portion_too_small"},
      {"130", "1", "1.5", nullptr},
      {"No Data", "1", "10", "msg_wrong_code_value"},
      {"140", "0", "10", "msg_accuracy_value_wrong"},
      {"140", "1.5", "10", "msg_accuracy_value_wrong"},
      {"140", "1", "ten", "msg_fuel_portion_wrong"},
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(std::string(s.level) + " " + s.sensitivity + " " + s.portion);
    RecordingUi ui;
    EXPECT_EQ(TareAddPortion(t, s.level, s.sensitivity, L(s.portion), ui), s.error == nullptr);
    EXPECT_EQ(ui.OnlyError(), s.error ? s.error : "");
  }
  EXPECT_EQ(t.rows, Expect({{"10.0", "120"}, {"20.0", "122"}, {"21.5", "130"}}));
}

TEST_P(TareTest, DrainingSubtractsFromTheSmallestVolume) {
  const TareRows full = Rows({{"10.0", "120"}, {"20.0", "200"}});
  struct Step {
    const char* level;
    const char* sensitivity;
    const char* portion;
    const char* error;
  };
  const Step steps[] = {
      {"119", "2", "-10", "msg_code_change_less_than_accuracy"},
      {"110", "1", "-15", "msg_drain_portion_too_big"},
      {"110", "1", "-10", nullptr},  // 10 - 10 = 0 litres is allowed
  };
  TareRows t = full;
  for (const Step& s : steps) {
    SCOPED_TRACE(std::string(s.level) + " " + s.portion);
    RecordingUi ui;
    EXPECT_EQ(TareAddPortion(t, s.level, s.sensitivity, s.portion, ui), s.error == nullptr);
    EXPECT_EQ(ui.OnlyError(), s.error ? s.error : "");
  }
  EXPECT_EQ(t.rows, Expect({{"0.0", "110"}, {"10.0", "120"}, {"20.0", "200"}}));
}

TEST(TareMessages, EveryKeyTheRulesShowHasABuiltinText) {
  // The calibration window's own keys, with their translations.
  const std::set<std::string> window = {"msg_wrong_code_value",       "msg_wrong_litr_value",
                                        "msg_accuracy_value_wrong",   "msg_fuel_portion_wrong",
                                        "msg_fuel_portion_too_small", "msg_code_change_less_than_accuracy",
                                        "msg_drain_portion_too_big",  "msg_table_will_trunc"};
  // Program-wide message texts, loaded with the others at start.
  const std::set<std::string> program = {"msg_level_out_of_range",     "msg_litr_negative",
                                         "msg_row_level_out_of_range", "msg_row_litr_out_of_range",
                                         "msg_row_mm_not_whole",       "msg_hub_wrong",
                                         "msg_table_too_big"};
  std::set<std::string> listed;
  for (const TareMessage& m : TareWindowMessages()) {
    EXPECT_TRUE(listed.insert(std::string(m.key)).second) << m.key;
    EXPECT_FALSE(m.english.empty()) << m.key;
    EXPECT_EQ(m.english.find("%1"), std::string_view::npos) << m.key;
  }
  EXPECT_EQ(listed, window);
  for (const kl::KeyText& k : kl::MessageKeys()) EXPECT_EQ(window.count(std::string(k.key)), 0u) << k.key;

  std::set<std::string> all = window;
  all.insert(program.begin(), program.end());
  for (const std::string& key : all) {
    const std::string_view text = TareBuiltinText(key);
    EXPECT_FALSE(text.empty()) << key;
    // Texts that name a row carry its placeholder.
    EXPECT_EQ(text.find("%1") != std::string_view::npos, key.starts_with("msg_row_")) << key;
  }
  EXPECT_EQ(TareBuiltinText("msg_table_will_trunc"),
            "Превышено максимальное количество записей. Таблица будет усечена. Продолжить?");
  EXPECT_EQ(TareBuiltinText("msg_row_level_out_of_range"),
            kl::LoadedTexts::Builtin().Message(kl::Msg::RowLevelOutOfRange));
  EXPECT_EQ(TareBuiltinText("msg_nothing"), "");
  EXPECT_EQ(TareMessageText(TareBuiltinText("msg_row_mm_not_whole"), 17),
            "Строка 17: значение в мм не является целым числом");
  EXPECT_EQ(TareMessageText("Строка %1: x, %1", 17), "Строка 17: x, 17");
  EXPECT_EQ(TareMessageText("100%", 3), "100%");
}

// The value of `key` in section `section` of the shipped language file (UTF-8
// with a byte-order mark, CRLF lines); nullopt when absent.
std::optional<std::string> ShippedText(const std::string& section, const std::string& key) {
  std::ifstream in(std::string(KL_RESOURCES_DIR) + "/KL31_Install_Service.lng", std::ios::binary);
  std::string line, current;
  while (std::getline(in, line)) {
    if (line.starts_with("\xEF\xBB\xBF")) line.erase(0, 3);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.starts_with("[") && line.ends_with("]")) {
      current = line.substr(1, line.size() - 2);
    } else if (current == section && line.starts_with(key + "=")) {
      return line.substr(key.size() + 1);
    }
  }
  return std::nullopt;
}

TEST(TareMessages, ShippedLanguageFileTranslatesTheRefusals) {
  for (const char* key : {"msg_level_out_of_range", "msg_litr_negative", "msg_row_level_out_of_range",
                          "msg_row_litr_out_of_range", "msg_row_mm_not_whole"}) {
    SCOPED_TRACE(key);
    EXPECT_EQ(ShippedText("Русский", key), std::string(TareBuiltinText(key)));
    const auto english = ShippedText("English", key);
    ASSERT_TRUE(english);
    EXPECT_FALSE(english->empty());
    // A translation that lost the placeholder would hide the row to correct.
    EXPECT_EQ(english->find("%1") != std::string::npos, std::string_view(key).starts_with("msg_row_"));
  }
}

}  // namespace

}  // namespace kl
