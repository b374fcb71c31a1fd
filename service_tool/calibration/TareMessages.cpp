#include "TareMessages.h"

#include "NumberText.h"
#include "Unit_texts.h"

namespace kl {

namespace {

constexpr TareMessage kWindow[] = {
    {"msg_wrong_code_value", "Неверное значение кода", "Invalid code value"},
    {"msg_wrong_litr_value", "Литраж превышает максимально допустимый",
     "The volume exceeds the maximum allowed"},
    {"msg_accuracy_value_wrong", "Неверное значение чувствительности", "Invalid sensitivity value"},
    {"msg_fuel_portion_wrong", "Неверное значение порции топлива", "Invalid fuel portion value"},
    {"msg_fuel_portion_too_small", "Порция топлива менее допустимой",
     "The fuel portion is less than the minimum allowed"},
    {"msg_code_change_less_than_accuracy", "Изменение кода не превышает установленной чувствительности",
     "The code change does not exceed the set sensitivity"},
    {"msg_drain_portion_too_big", "Порция слива превышает остаток топлива в баке",
     "The drained portion exceeds the fuel left in the tank"},
    {"msg_table_will_trunc", "Превышено максимальное количество записей. Таблица будет усечена. Продолжить?",
     "The maximum number of entries has been exceeded. The table will be truncated. Continue?"},
};

}  // namespace

std::span<const TareMessage> TareWindowMessages() { return kWindow; }

std::string_view TareBuiltinText(std::string_view key) {
  for (const auto& m : kWindow)
    if (key == m.key) return m.russian;
  for (const auto& m : kl::MessageKeys())
    if (key == m.key) return m.text;
  return {};
}

std::string TareMessageText(std::string_view text, int row) {
  const std::string number = FormatWhole(row);
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 1 < text.size() && text[i + 1] == '1') {
      out += number;
      ++i;
    } else {
      out += text[i];
    }
  }
  return out;
}

}  // namespace kl
