#include "TareMessages.h"

#include "NumberText.h"

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
    {"msg_level_out_of_range", "Уровень должен быть от 0 до 6553 мм", "The level must be from 0 to 6553 mm"},
    {"msg_litr_negative", "Литраж не может быть отрицательным", "The volume cannot be negative"},
    {"msg_row_level_out_of_range",
     "Строка %1: уровень не помещается в таблицу датчика (допустимо от 0 до 6553 мм). Таблица не сохранена.",
     "Row %1: the level does not fit the sensor's table (0 to 6553 mm allowed). The table has not been stored."},
    {"msg_row_litr_out_of_range",
     "Строка %1: литраж не помещается в таблицу датчика (допустимо от 0 до 655350 л). Таблица не сохранена.",
     "Row %1: the volume does not fit the sensor's table (0 to 655350 litres allowed). The table has not been "
     "stored."},
    {"msg_row_mm_not_whole", "Строка %1: значение в мм не является целым числом",
     "Row %1: the mm value is not a whole number"},
};

constexpr TareMessage kHub[] = {
    {"msg_hub_wrong", "Неверная структура HUB_DATA. Создать конфигурацию по умолчанию?",
     "Invalid HUB_DATA structure. Create the default configuration?"},
    {"msg_table_too_big", "Размер тарировочной таблицы превышает максимально допустимый",
     "The size of the calibration table exceeds the maximum allowed"},
};

}  // namespace

std::span<const TareMessage> TareWindowMessages() { return kWindow; }

std::span<const TareMessage> HubMessages() { return kHub; }

const TareMessage* TareFindMessage(std::string_view key)
{
    for (const auto& m : kWindow)
        if (key == m.key) return &m;
    for (const auto& m : kHub)
        if (key == m.key) return &m;
    return nullptr;
}

std::string TareMessageText(std::string_view text, int row)
{
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
