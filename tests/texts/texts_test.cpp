#include <gtest/gtest.h>

#include <set>
#include <string>

#include "Unit_texts.h"

namespace kl {
namespace {

// A language section held as plain key/value lines, as the language file gives them.
SectionLookup Section(std::vector<std::pair<std::string, std::string>> lines) {
  return LookupInPairs(std::move(lines));
}

TEST(BuiltinTexts, KeyTablesHaveTheirSizesAndUniqueKeys) {
  EXPECT_EQ(MessageKeys().size(), kMessageCount);
  EXPECT_EQ(PortStatusKeys().size(), 3u);
  EXPECT_EQ(DeviceStatusKeys().size(), 15u);
  EXPECT_EQ(ListKeys().size(), 20u);
  std::set<std::string> keys;
  auto add = [&](std::string_view k) { EXPECT_TRUE(keys.insert(std::string(k)).second) << k; };
  for (auto& k : MessageKeys()) add(k.key);
  for (auto& k : PortStatusKeys()) add(k.key);
  for (auto& k : DeviceStatusKeys()) add(k.key);
  for (auto& k : ListKeys()) add(k.key);
  add(kHelpFileNameKey);
  // A device status key must name its own code, or the file's text lands on another code.
  for (auto& d : DeviceStatusKeys()) EXPECT_EQ(d.key, "sta_device" + std::to_string(d.code));
}

TEST(BuiltinTexts, DeviceStatusHasTextsOnlyForTheKeyedCodes) {
  const LoadedTexts t = LoadedTexts::Builtin();
  std::set<int> keyed = {0, 1, 2, 3, 4, 5, 6, 7, 8, 224, 225, 226, 227, 228, 229};
  for (int code = 0; code < 256; ++code) {
    EXPECT_EQ(t.DeviceStatus(code).empty(), keyed.count(code) == 0) << code;
  }
  EXPECT_EQ(t.DeviceStatus(0), "Статус устройства: ОК");
  EXPECT_EQ(t.DeviceStatus(6), "Статус устройства: Устройство не отвечает");
  EXPECT_EQ(t.DeviceStatus(229), "Статус устройства: Хаб активен");
  EXPECT_EQ(t.DeviceStatus(-1), "");
  EXPECT_EQ(t.DeviceStatus(256), "");
}

TEST(BuiltinTexts, LookupsByIdKeyAndIndexAgree) {
  const LoadedTexts t = LoadedTexts::Builtin();
  EXPECT_EQ(t.Message(Msg::ErrorOpenPort), "Ошибка открытия порта COM");
  EXPECT_EQ(t.Message("msg_error_open_port"), t.Message(Msg::ErrorOpenPort));
  EXPECT_EQ(t.Message(Msg::AfcCompleted), "Построение АЧХ завершено");
  EXPECT_EQ(t.Message("msg_afc_completed"), t.Message(Msg::AfcCompleted));
  // Every Msg value reaches the text of its own key.
  for (std::size_t i = 0; i < kMessageCount; ++i)
    EXPECT_EQ(t.Message(static_cast<Msg>(i)), MessageKeys()[i].text) << MessageKeys()[i].key;
  EXPECT_EQ(t.Message("msg_nonexistent"), "");
  EXPECT_EQ(t.PortStatus(kPortOpened), "Статус порта: Порт открыт");
  EXPECT_EQ(t.PortStatus(kPortClosed), "Статус порта: Порт закрыт");
  EXPECT_EQ(t.PortStatus(kPortError), "Статус порта: Ошибка открытия");
  EXPECT_EQ(t.PortStatus(3), "");
  EXPECT_EQ(t.List("str_cmb_OscillMode", 2), "Фильтрованый");
  EXPECT_EQ(t.List("str_cmb_MlPerBit4"), "10 л/бит");
  EXPECT_EQ(t.List("str_cmb_Ku"), "Авто");
  EXPECT_EQ(t.List("str_cmb_KuMax"), "б/огр.");
  EXPECT_EQ(t.List("str_cmb_bits", 2), "");
  EXPECT_EQ(t.List("str_cmb_bits", -1), "");
  EXPECT_EQ(t.HelpFileName(), "");
}

TEST(BuiltinTexts, EmptyBeforeLoading) {
  const LoadedTexts t;
  EXPECT_EQ(t.Message(Msg::ChangeLanguage), "");
  EXPECT_EQ(t.DeviceStatus(0), "");
  EXPECT_EQ(t.PortStatus(1), "");
}

TEST(LoadedFromSection, ReplacesOnlyNonEmptyValuesOfKnownKeys) {
  const LoadedTexts t = LoadedTexts::FromSection(Section({
      {"MSG_ERROR_OPEN_PORT", "Port open error COM"},  // key case does not matter
      {"msg_update_program", ""},                      // empty: built-in stays
      {"sta_port_closed", "Port: closed"},
      {"sta_device8", "Device: port error"},
      {"sta_device9", "never shown"},  // code 9 has no key
      {"sta_device230", "never shown either"},
      {"str_cmb_Atten1", "On"},
      {"hepl_file_name", "manual.html"},
      {"msg_error_open_port", "second line of the same key is ignored"},
  }));
  EXPECT_EQ(t.Message(Msg::ErrorOpenPort), "Port open error COM");
  EXPECT_EQ(t.Message(Msg::UpdateProgram), "Пожалуйста, обновите программу");
  EXPECT_EQ(t.PortStatus(1), "Port: closed");
  EXPECT_EQ(t.PortStatus(0), "Статус порта: Порт открыт");
  EXPECT_EQ(t.DeviceStatus(8), "Device: port error");
  EXPECT_EQ(t.DeviceStatus(9), "");
  EXPECT_EQ(t.DeviceStatus(230), "");
  EXPECT_EQ(t.List("str_cmb_Atten", 1), "On");
  EXPECT_EQ(t.List("str_cmb_Atten", 0), "Выкл.");
  EXPECT_EQ(t.HelpFileName(), "manual.html");
}

TEST(LoadedFromSection, NeverAsksForKeysItDoesNotOwn) {
  std::set<std::string> asked;
  LoadedTexts::FromSection([&](std::string_view key) -> std::optional<std::string> {
    asked.insert(std::string(key));
    return std::nullopt;
  });
  EXPECT_EQ(asked.size(), kMessageCount + 3u + 15u + 20u + 1u);
  EXPECT_EQ(asked.count("sta_device9"), 0u);
  EXPECT_EQ(asked.count("hepl_file_name"), 1u);
}

TEST(LoadKeyTexts, TakesTheWindowsOwnKeysWithBuiltinDefaults) {
  constexpr KeyText table[] = {{"msg_a", "А"}, {"msg_b", "Б"}};
  auto got = LoadKeyTexts(table, Section({{"MSG_B", "B"}, {"msg_c", "C"}}));
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got["msg_a"], "А");
  EXPECT_EQ(got["msg_b"], "B");
}

}  // namespace
}  // namespace kl
