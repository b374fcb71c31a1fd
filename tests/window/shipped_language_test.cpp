// The language file shipped with the program: both languages offered, the
// Russian section equal to the built-in texts, and an English text for every
// message, status and list key and every control of the program page.
#include <gtest/gtest.h>

#include "ConfigFiles.h"
#include "Unit_texts.h"

namespace kl {
namespace {

const std::string kFile = std::string(KL_RESOURCES_DIR) + "/" + kLanguageFileName;

TEST(ShippedLanguageFile, OffersRussianAndEnglish) {
  const auto f = LanguageFile::Load(kFile);
  ASSERT_TRUE(f) << kFile;
  const LanguageChoice c = ReadLanguageChoice(f->doc);
  EXPECT_EQ(c.names, (std::vector<std::string>{"Русский", "English"}));
  EXPECT_GE(c.selectedIndex, 0);
}

TEST(ShippedLanguageFile, RussianIsTheBuiltinTextAndEnglishIsComplete) {
  const auto f = LanguageFile::Load(kFile);
  ASSERT_TRUE(f);
  const LoadedTexts builtin = LoadedTexts::Builtin();
  auto check = [&](std::string_view key, std::string_view ru) {
    EXPECT_EQ(f->doc.GetString("Русский", key, "<none>"), ru) << key;
    const std::string en = f->doc.GetString("English", key, "");
    EXPECT_FALSE(en.empty()) << key;
  };
  for (auto& k : MessageKeys()) check(k.key, k.text);
  for (auto& k : PortStatusKeys()) check(k.key, k.text);
  for (auto& k : DeviceStatusKeys()) check(k.key, k.text);
  for (auto& k : ListKeys()) check(k.key, k.text);
  for (const char* key :
       {"TsProgram", "GbCom", "LblCom", "LblBaud", "LblAddr", "BtnPortOpen", "BtnPortClose",
        "BtnSearchDevice", "GbLang", "LblLang", "btn_open_help", "TsOscill", "TsTara", "TsSettings"}) {
    EXPECT_FALSE(f->doc.GetString("English", key, "").empty()) << key;
    EXPECT_FALSE(f->doc.GetString("Русский", key, "").empty()) << key;
  }
  // Each language names a manual that is shipped with it.
  for (const char* lang : {"Русский", "English"}) {
    const std::string manual = f->doc.GetString(lang, kHelpFileNameKey, "");
    EXPECT_TRUE(ReadWholeFile(std::string(KL_RESOURCES_DIR) + "/" + manual).has_value()) << manual;
  }
}

}  // namespace
}  // namespace kl
