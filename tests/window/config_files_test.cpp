#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "ConfigFiles.h"

namespace kl {
namespace {

namespace fs = std::filesystem;

class ConfigFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string tmpl = (fs::temp_directory_path() / "kl31-cfg-XXXXXX").string();
    ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
    dir = tmpl;
  }
  void TearDown() override { fs::remove_all(dir); }
  void Write(const fs::path& p, const std::string& bytes) { std::ofstream(p, std::ios::binary) << bytes; }
  std::string Read(const fs::path& p) { return ReadWholeFile(p.string()).value_or("<missing>"); }
  // A folder that nobody, root included, can create files in: it lies under a regular file.
  std::string Unwritable() {
    Write(dir / "plainfile", "x");
    return (dir / "plainfile" / "sub").string();
  }
  fs::path dir;
};

TEST_F(ConfigFilesTest, FirstRunGivesDefaultsAndSaveCreatesTheFile) {
  SettingsFile f({dir.string()});
  const PortSettings s = f.Read();
  EXPECT_EQ(s.port, 1);
  EXPECT_EQ(s.baud, 19200);
  EXPECT_EQ(s.address, 1);
  ASSERT_TRUE(f.Save(s));
  EXPECT_EQ(Read(dir / kSettingsFileName), "[UART]\r\nNUM=1\r\nBAUD=19200\r\nADDR=1\r\n");
}

TEST_F(ConfigFilesTest, SaveKeepsOtherSectionsAndKeysAndLeavesNoTemporaryFile) {
  const std::string before = "[Window]\nLeft=10\n\n[UART]\nNUM=abc\nComment=kept\n[Z]\nq=1\n";
  Write(dir / kSettingsFileName, before);
  SettingsFile f({dir.string()});
  PortSettings s = f.Read();
  EXPECT_EQ(s.port, 1);  // not a number: the default
  s.port = 4;
  s.baud = 57600;
  s.address = 17;
  ASSERT_TRUE(f.Save(s));
  EXPECT_EQ(Read(dir / kSettingsFileName),
            "[Window]\nLeft=10\n\n[UART]\nNUM=4\nComment=kept\nBAUD=57600\nADDR=17\n[Z]\nq=1\n");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);
  const PortSettings again = SettingsFile({dir.string()}).Read();
  EXPECT_EQ(again.port, 4);
  EXPECT_EQ(again.baud, 57600);
  EXPECT_EQ(again.address, 17);
}

TEST_F(ConfigFilesTest, UnwritableProgramFolderFallsBackToTheNextFolder) {
  const std::string program = Unwritable();
  const std::string config = (dir / "config").string();  // does not exist yet
  SettingsFile f({program, config});
  PortSettings s;
  s.address = 9;
  ASSERT_TRUE(f.Save(s));
  EXPECT_EQ(f.ActivePath(), config + "/" + kSettingsFileName);
  EXPECT_EQ(SettingsFile({program, config}).Read().address, 9);
}

TEST_F(ConfigFilesTest, FallbackFolderIsCreatedWithItsParents) {
  // A fresh account: neither ~/.config nor ~/.config/KL31 exists yet.
  const std::string program = Unwritable();
  const std::string config = (dir / "home" / ".config" / "KL31").string();
  SettingsFile f({program, config});
  PortSettings s;
  s.baud = 38400;
  std::string failed;
  ASSERT_TRUE(f.Save(s, &failed)) << failed;
  EXPECT_EQ(Read(fs::path(config) / kSettingsFileName), "[UART]\r\nNUM=1\r\nBAUD=38400\r\nADDR=1\r\n");
}

TEST_F(ConfigFilesTest, AFileThatCannotBeReadIsNeverReplaced) {
  // Too big to read: standing in for any file whose text we cannot get.
  const std::string huge = "[Vendor]\n" + std::string((16u << 20) + 1, ';') + "\n";
  const fs::path program = dir / "program";
  const fs::path config = dir / "config";
  fs::create_directories(program);
  Write(program / kSettingsFileName, huge);
  SettingsFile f({program.string(), config.string()});
  ASSERT_TRUE(f.Save({3, 9600, 4}));
  EXPECT_EQ(fs::file_size(program / kSettingsFileName), huge.size());
  EXPECT_EQ(Read(config / kSettingsFileName), "[UART]\r\nNUM=3\r\nBAUD=9600\r\nADDR=4\r\n");
  std::string failed;
  EXPECT_FALSE(SettingsFile({program.string()}).Save({3, 9600, 4}, &failed));
  EXPECT_EQ(failed, (program / kSettingsFileName).string());

  const fs::path lng = dir / kLanguageFileName;
  Write(lng, huge);
  std::string error;
  EXPECT_FALSE(LanguageFile::WriteSelected(lng.string(), "English", &error));
  EXPECT_FALSE(error.empty());
  EXPECT_EQ(fs::file_size(lng), huge.size());
}

TEST_F(ConfigFilesTest, ShippedFileNextToAReadOnlyProgramIsReadAndCarriedOver) {
  const fs::path program = dir / "program";
  fs::create_directory(program);
  Write(program / kSettingsFileName, "[UART]\nBAUD=4800\n[Vendor]\nx=1\n");
  chmod((program / kSettingsFileName).c_str(), 0444);
  const std::string config = (dir / "config").string();
  SettingsFile f({program.string(), config});
  if (access((program / kSettingsFileName).c_str(), W_OK) == 0)
    GTEST_SKIP() << "root ignores the read-only mode";
  EXPECT_EQ(f.Read().baud, 4800);
  ASSERT_TRUE(f.Save({2, 4800, 3}));
  EXPECT_EQ(Read(fs::path(config) / kSettingsFileName), "[UART]\nBAUD=4800\nNUM=2\nADDR=3\n[Vendor]\nx=1\n");
}

TEST_F(ConfigFilesTest, NoWritableFolderReportsTheFileNextToTheProgram) {
  const std::string program = Unwritable();
  SettingsFile f({program, program + "/also"});
  std::string failed;
  EXPECT_FALSE(f.Save(PortSettings{}, &failed));
  EXPECT_EQ(failed, program + "/" + kSettingsFileName);
}

TEST_F(ConfigFilesTest, LanguageChoiceWrittenBackKeepsEncodingAndOtherLines) {
  const std::string text =
      "\xEF\xBB\xBF[LANG]\r\nSELECTED=English\r\nLANG1=Русский\r\nLANG2=English\r\n[Русский]\r\nBtnPortOpen="
      "Открыть\r\n";
  for (TextEncoding enc : {TextEncoding::Utf16LeBom, TextEncoding::Windows1251, TextEncoding::Utf8Bom}) {
    const fs::path p = dir / kLanguageFileName;
    const std::string utf8 = text.substr(3);
    Write(p, EncodeText(utf8, enc));
    ASSERT_TRUE(LanguageFile::WriteSelected(p.string(), "Русский"));
    const auto f = LanguageFile::Load(p.string());
    ASSERT_TRUE(f);
    EXPECT_EQ(f->encoding, enc) << EncodingName(enc);
    std::string expected = utf8;
    expected.replace(expected.find("SELECTED=English"), 16, "SELECTED=Русский");
    EXPECT_EQ(f->doc.Serialize(), expected) << EncodingName(enc);
  }
}

TEST_F(ConfigFilesTest, LanguageFileThatCannotBeWrittenSaysWhy) {
  std::string error;
  EXPECT_FALSE(LanguageFile::WriteSelected(Unwritable() + "/" + kLanguageFileName, "English", &error));
  EXPECT_FALSE(error.empty());
  EXPECT_FALSE(LanguageFile::Load(Unwritable() + "/x").has_value());
}

TEST(LanguageChoice, ListEndsAtFirstGapAndSelectionCountsCase) {
  struct Case {
    const char* name;
    const char* text;
    std::string selected;
    std::vector<std::string> names;
    int index;
  } cases[] = {
      {"gap", "[LANG]\nSELECTED=English\nLANG1=English\nLANG3=Русский\n", "English", {"English"}, 0},
      {"empty ends", "[LANG]\nLANG1=Русский\nLANG2=\nLANG3=English\n", "English", {"Русский"}, -1},
      {"case", "[lang]\nselected=english\nLang1=English\n", "english", {"English"}, -1},
      {"second",
       "[LANG]\nSELECTED=Русский\nLANG1=English\nLANG2=Русский\n",
       "Русский",
       {"English", "Русский"},
       1},
      {"no section", "", "English", {}, -1},
  };
  for (const Case& c : cases) {
    const LanguageChoice got = ReadLanguageChoice(IniDocument::Parse(c.text));
    EXPECT_EQ(got.selected, c.selected) << c.name;
    EXPECT_EQ(got.names, c.names) << c.name;
    EXPECT_EQ(got.selectedIndex, c.index) << c.name;
  }
  std::string many = "[LANG]\n";
  for (int n = 1; n <= 300; ++n) many += "LANG" + std::to_string(n) + "=L" + std::to_string(n) + "\n";
  EXPECT_EQ(ReadLanguageChoice(IniDocument::Parse(many)).names.size(), 254u);
}

}  // namespace
}  // namespace kl
