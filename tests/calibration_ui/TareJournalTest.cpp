// The unfinished-calibration journal as a file: what goes in comes back, in
// today's notation, and a damaged or foreign file is never offered.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include <unistd.h>

#include "TareJournal.h"

namespace kl {
namespace {

TareRows Rows(std::initializer_list<std::pair<std::string, std::string>> points, std::string dp = ".") {
  TareRows t;
  t.locale.decimal_point = std::move(dp);
  t.rows.clear();
  for (const auto& [l, m] : points) t.rows.push_back({"", l, m});
  if (t.rows.empty()) t.rows.resize(1);
  TareRenumber(t);
  return t;
}

TEST(TareJournal, RowsComeBackWithTheirNumbersEvenWithAwkwardTexts) {
  // Spreadsheet rows may hold anything; none of it may break the lines.
  const TareRows in = Rows({{"10.0", "120"}, {"a\tb\\n", "x\ny\r"}, {"", ""}, {"30.5", "280"}});
  const auto out = TareJournalDecode(TareJournalEncode(in), in.locale);
  ASSERT_TRUE(out);
  EXPECT_EQ(out->rows, in.rows);
}

TEST(TareJournal, TextsFollowTodaysDecimalSeparator) {
  NumberLocale dot;
  const auto out = TareJournalDecode(TareJournalEncode(Rows({{"10,5", "120"}}, ",")), dot);
  ASSERT_TRUE(out);
  EXPECT_EQ(TareText(*out, TareColLitres, 1), "10.5");
  EXPECT_EQ(out->locale.decimal_point, ".");
}

TEST(TareJournal, DamagedFilesAreRefused) {
  const std::string good = TareJournalEncode(Rows({{"10.0", "120"}, {"20.0", "200"}}));
  ASSERT_TRUE(TareJournalDecode(good, {}));
  std::vector<std::pair<std::string, std::string>> bad = {
      {"empty", ""},
      {"truncated", good.substr(0, good.size() / 2)},
      {"no line end after the sum", good.substr(0, good.size() - 1)},
      {"a digit changed",
       [&] {
         std::string s = good;
         s[s.find("120")] = '7';
         return s;
       }()},
      {"foreign file", "[UART]\r\nNUM=1\r\n"},
      {"too large", good + std::string(kTareJournalMaxBytes, 'x')},
  };
  for (const auto& [what, bytes] : bad) EXPECT_FALSE(TareJournalDecode(bytes, {})) << what;
}

TEST(TareJournal, SaveLoadRemoveInAFolder) {
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("tare_journal_" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  const TareRows in = Rows({{"10.0", "120"}});
  EXPECT_FALSE(TareJournalLoad(dir.string(), {}));
  ASSERT_TRUE(TareJournalSave(dir.string(), in));
  const auto out = TareJournalLoad(dir.string(), {});
  ASSERT_TRUE(out);
  EXPECT_EQ(out->rows, in.rows);
  // Only the journal is left behind, no temporary file.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), {}), 1);
  EXPECT_TRUE(TareJournalRemove(dir.string()));
  EXPECT_FALSE(std::filesystem::exists(TareJournalPath(dir.string())));
  EXPECT_TRUE(TareJournalRemove(dir.string()));
  // A folder that does not exist: the save fails and says why.
  std::string error;
  EXPECT_FALSE(TareJournalSave((dir / "missing").string(), in, &error));
  EXPECT_FALSE(error.empty());
  std::filesystem::remove_all(dir);
}

TEST(TareJournal, OfferedOnlyWhenItHoldsSomethingElse) {
  const TareRows shown = Rows({{"10.0", "120"}});
  EXPECT_FALSE(TareJournalWorthOffering(Rows({}), Rows({})));
  EXPECT_FALSE(TareJournalWorthOffering(Rows({{"10.0", "120"}}), shown));
  EXPECT_TRUE(TareJournalWorthOffering(Rows({{"10.0", "121"}}), shown));
  EXPECT_TRUE(TareJournalWorthOffering(Rows({{"10.0", "120"}, {"20.0", "200"}}), shown));
  EXPECT_TRUE(TareJournalWorthOffering(Rows({{"10.0", "120"}}), Rows({})));
}

}  // namespace
}  // namespace kl
