// The technician's choice of language against the program's own language
// file: a rebuild or an update replaces that file, and an installed program
// cannot write it at all, so the choice lives in a copy in the user's folder.
// Also the port list as it is refreshed while the program runs.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "ConfigFiles.h"
#include "WindowRules.h"

namespace kl {
namespace {

namespace fs = std::filesystem;

constexpr const char* kShipped =
    "; shipped\r\n[LANG]\r\nSELECTED=Русский\r\nLANG1=Русский\r\nLANG2=English\r\n"
    "[Русский]\r\nBtnPortOpen=Открыть\r\n[English]\r\nBtnPortOpen=Open\r\n";

class LanguageChoiceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string tmpl = (fs::temp_directory_path() / "kl31-lang-XXXXXX").string();
    ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
    dir = tmpl;
    program = (dir / "bin").string();
    user = (dir / "home" / ".config" / "KL31").string();  // does not exist yet
    fs::create_directories(program);
    Write(Shipped(), kShipped);
  }
  void TearDown() override { fs::remove_all(dir); }
  void Write(const std::string& p, const std::string& bytes) { std::ofstream(p, std::ios::binary) << bytes; }
  std::string Read(const std::string& p) { return ReadWholeFile(p).value_or("<missing>"); }
  std::string Shipped() const { return JoinPath(program, kLanguageFileName); }
  std::string Copy() const { return JoinPath(user, kLanguageFileName); }
  // What a window reading this file would show: the selected language and
  // one text of it.
  static std::pair<std::string, std::string> Seen(const std::string& path) {
    const auto f = LanguageFile::Load(path);
    if (!f) return {"<unreadable>", ""};
    const std::string sel = ReadLanguageChoice(f->doc).selected;
    return {sel, f->doc.GetString(sel, "BtnPortOpen", "<none>")};
  }
  fs::path dir;
  std::string program, user;
};

TEST_F(LanguageChoiceTest, TheChoiceGoesToTheUsersCopyAndSurvivesARebuild) {
  LanguageFiles files(program, user);
  // First start: no copy yet, the shipped file is read as it is.
  EXPECT_EQ(files.Prepare(), Shipped());
  EXPECT_FALSE(fs::exists(Copy()));

  ASSERT_TRUE(files.WriteSelected("English"));
  EXPECT_EQ(Read(Shipped()), kShipped);  // the program's file is never written
  EXPECT_EQ(files.Prepare(), Copy());
  EXPECT_EQ(Seen(Copy()), std::make_pair(std::string("English"), std::string("Open")));

  // A rebuild copies a newer language file next to the program: its texts
  // arrive, the choice stays.
  std::string rebuilt = kShipped;
  rebuilt.replace(rebuilt.find("BtnPortOpen=Open"), 16, "BtnPortOpen=Open port");
  Write(Shipped(), rebuilt);
  EXPECT_EQ(files.Prepare(), Copy());
  EXPECT_EQ(Seen(Copy()), std::make_pair(std::string("English"), std::string("Open port")));
  std::string expected = rebuilt;
  expected.replace(expected.find("SELECTED=Русский"), std::string("SELECTED=Русский").size(),
                   "SELECTED=English");
  EXPECT_EQ(Read(Copy()), expected);  // the shipped file, line for line, with the user's choice
  EXPECT_EQ(Read(Shipped()), rebuilt);

  // Choosing again starts from the shipped texts as they are now.
  ASSERT_TRUE(files.WriteSelected("Русский"));
  EXPECT_EQ(Seen(files.Prepare()), std::make_pair(std::string("Русский"), std::string("Открыть")));
}

TEST_F(LanguageChoiceTest, TheCopyKeepsTheShippedFilesEncoding) {
  const std::string utf16 = EncodeText(kShipped, TextEncoding::Utf16LeBom);
  Write(Shipped(), utf16);
  LanguageFiles files(program, user);
  ASSERT_TRUE(files.WriteSelected("English"));
  const auto copy = LanguageFile::Load(Copy());
  ASSERT_TRUE(copy.has_value());
  EXPECT_EQ(copy->encoding, TextEncoding::Utf16LeBom);
  EXPECT_EQ(Seen(files.Prepare()), std::make_pair(std::string("English"), std::string("Open")));
  EXPECT_EQ(Read(Shipped()), utf16);
}

TEST_F(LanguageChoiceTest, WithoutAUserFolderTheLanguageFileKeepsTheChoice) {
  // No user folder, or the user folder is the language folder itself (a
  // portable copy pointed at one folder): the file is written in place.
  for (const std::string& u : {std::string(), program, program + "/", program + "/../bin"}) {
    Write(Shipped(), kShipped);
    LanguageFiles files(program, u);
    EXPECT_EQ(files.CopyPath(), "") << u;
    ASSERT_TRUE(files.WriteSelected("English")) << u;
    EXPECT_EQ(files.Prepare(), Shipped()) << u;
    EXPECT_EQ(Seen(Shipped()).first, "English") << u;
  }
  EXPECT_FALSE(fs::exists(dir / "home"));
}

TEST_F(LanguageChoiceTest, ACopyWithoutTheShippedFileStillServes) {
  LanguageFiles files(program, user);
  ASSERT_TRUE(files.WriteSelected("English"));
  fs::remove(Shipped());
  EXPECT_EQ(files.Prepare(), Copy());
  EXPECT_EQ(Seen(Copy()), std::make_pair(std::string("English"), std::string("Open")));
  // A copy without a choice in it (a hand-made one) is not taken.
  Write(Shipped(), kShipped);
  Write(Copy(), "[English]\r\nBtnPortOpen=Mine\r\n");
  EXPECT_EQ(files.Prepare(), Shipped());
}

TEST_F(LanguageChoiceTest, AUserFolderThatCannotBeWrittenIsReportedWithItsPath) {
  Write((dir / "plainfile").string(), "x");
  const std::string blocked = (dir / "plainfile" / "KL31").string();  // under a regular file
  LanguageFiles files(program, blocked);
  std::string failed;
  EXPECT_FALSE(files.WriteSelected("English", &failed));
  EXPECT_EQ(failed, JoinPath(blocked, kLanguageFileName));
  EXPECT_EQ(Read(Shipped()), kShipped);
  EXPECT_EQ(files.Prepare(), Shipped());
}

TEST(PortList, RefreshKeepsTheSelectedEntryEvenWhenItsPortHasGone) {
  struct Case {
    std::vector<std::string> present;
    std::string selected;
    std::vector<std::string> shown;
  } cases[] = {
      {{"COM2", "COM10", "COM1"}, "", {"COM1", "COM10", "COM2"}},
      {{"COM2", "COM11"}, "COM11", {"COM11", "COM2"}},  // selected and present: once
      {{"COM2"}, "COM11", {"COM11", "COM2"}},           // selected, adapter pulled: stays
      {{}, "COM5", {"COM5"}},
      {{"COM3"}, "", {"COM3"}},  // a port that went away unselected leaves the list
  };
  for (const Case& c : cases) EXPECT_EQ(RefreshedPortEntries(c.present, c.selected), c.shown) << c.selected;
}

}  // namespace
}  // namespace kl
