#include "Unit_texts.h"

#include <cctype>

namespace kl {
namespace {

// The built-in texts. They are the texts a technician sees when no language
// file is present, so they are kept exactly as the sensor's documentation
// words them (the odd spellings included: translators key on them).
constexpr KeyText kMessages[] = {
    {"msg_change_language", "Необходимо перезапустить программу, чтобы изменения вступили в силу"},
    {"msg_error_open_port", "Ошибка открытия порта COM"},
    {"msg_us_speed_wrong", "Неверное значение скорости звука"},
    {"msg_us_thermo_wrong", "Неверное значение температурного коэф."},
    {"msg_firmware_version_wrong", "Версия встроенного ПО не поддерживается программой"},
    {"msg_device_wrong", "Устройство не поддерживается программой"},
    {"msg_update_program", "Пожалуйста, обновите программу"},
    {"msg_hub_wrong", "Неверная структура HUB_DATA. Создать конфигурацию по умолчанию?"},
    {"msg_table_too_big", "Размер тарировочной таблицы превышает максимально допустимый"},
    {"msg_Ok", "OK"},
    {"msg_errorE", "Ошибка Е"},
    {"msg_signal", "Уровень сигнала"},
    {"msg_scanning", "Сканирование..."},
    {"msg_inactive", "Не активен"},
    {"msg_wide", "Wide"},
    {"msg_auto_completed", "Автоматическое определение параметров завершено успешно"},
    {"msg_auto_failed", "Автоматическое определение параметров завершено неудачно. Ошибка Е"},
    {"msg_afc_completed", "Построение АЧХ завершено"},
    // Our own refusals: a level or volume that a 16-bit word of the sensor's
    // table cannot hold is refused rather than stored wrapped.
    {"msg_level_out_of_range", "Уровень должен быть от 0 до 6553 мм"},
    {"msg_litr_negative", "Литраж не может быть отрицательным"},
    {"msg_row_level_out_of_range",
     "Строка %1: уровень не помещается в таблицу датчика (допустимо от 0 до 6553 мм). Таблица не сохранена."},
    {"msg_row_litr_out_of_range",
     "Строка %1: литраж не помещается в таблицу датчика (допустимо от 0 до 655350 л). Таблица не сохранена."},
    {"msg_row_mm_not_whole", "Строка %1: значение в мм не является целым числом"},
    {"msg_not_a_number", "«%1» не является числом"},
    {"msg_help_not_opened",
     "Не удалось открыть инструкцию: не найдена программа для её просмотра. "
     "Откройте файл вручную:"},
    {"msg_hub_no_custom_tank",
     "В HUB_DATA нет записи собственного бака (тип 1). Тарировочная таблица не записана в датчик."},
    // Oscilloscope page: an edit that holds no integer (%1 is its text), and
    // saving the oscillogram.
    {"msg_not_integer", "\"%1\" не является целым числом"},
    {"msg_save_oscill", "Сохранить осциллограмму…"},
    {"msg_save_oscill_failed", "Не удалось сохранить файл %1"},
};

constexpr KeyText kPortStatus[] = {
    {"sta_port_opened", "Статус порта: Порт открыт"},
    {"sta_port_closed", "Статус порта: Порт закрыт"},
    {"sta_port_error", "Статус порта: Ошибка открытия"},
};

constexpr DeviceStatusKey kDeviceStatus[] = {
    {0, "sta_device0", "Статус устройства: ОК"},
    {1, "sta_device1", "Статус устройства: Команда не выполнена"},
    {2, "sta_device2", "Статус устройства: Неверный параметр"},
    {3, "sta_device3", "Статус устройства: Ошибка CRC"},
    {4, "sta_device4", "Статус устройства: Неверная длинна пакета"},
    {5, "sta_device5", "Статус устройства: Неверный ответ"},
    {6, "sta_device6", "Статус устройства: Устройство не отвечает"},
    {7, "sta_device7", "Статус устройства: Ошибка записи в порт"},
    {8, "sta_device8", "Статус устройства: Ошибка порта"},
    {224, "sta_device224", "Статус устройства: Ошибка записи в Flash память"},
    {225, "sta_device225", "Статус устройства: Низкая температура для записи в Flash"},
    {226, "sta_device226", "Статус устройства: Серийный номер уже сужествует"},
    {227, "sta_device227", "Статус устройства: Неверные данные"},
    {228, "sta_device228", "Статус устройства: Неверный параметр"},
    {229, "sta_device229", "Статус устройства: Хаб активен"},
};

constexpr KeyText kLists[] = {
    {"str_cmb_bits0", "10 бит"},
    {"str_cmb_bits1", "12 бит"},
    {"str_cmb_MlPerBit0", "1 мл/бит"},
    {"str_cmb_MlPerBit1", "10 мл/бит"},
    {"str_cmb_MlPerBit2", "100 мл/бит"},
    {"str_cmb_MlPerBit3", "1 л/бит"},
    {"str_cmb_MlPerBit4", "10 л/бит"},
    {"str_cmb_FuelType0", "Пользовательский"},
    {"str_cmb_FuelType1", "Пропан-бутан"},
    {"str_cmb_FuelType2", "Бензин"},
    {"str_cmb_FuelType3", "Дизель"},
    {"str_cmb_255Ans0", "Адресом 255"},
    {"str_cmb_255Ans1", "Своим адресом"},
    {"str_cmb_OscillMode0", "Огибающая"},
    {"str_cmb_OscillMode1", "Исходный"},
    {"str_cmb_OscillMode2", "Фильтрованый"},
    {"str_cmb_Atten0", "Выкл."},
    {"str_cmb_Atten1", "Вкл."},
    {"str_cmb_Ku", "Авто"},
    {"str_cmb_KuMax", "б/огр."},
};

static_assert(std::size(kMessages) == kMessageCount);
static_assert(std::size(kPortStatus) == kPortStatusCount);
static_assert(std::size(kLists) == kListTextCount);

const std::string kEmpty;

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  }
  return true;
}

// The language file cannot blank a text out: an empty value means "not
// translated", so the built-in text stays.
std::string Pick(const SectionLookup& lookup, std::string_view key, std::string_view builtin) {
  if (lookup) {
    if (std::optional<std::string> v = lookup(key); v && !v->empty()) return std::move(*v);
  }
  return std::string(builtin);
}

}  // namespace

std::span<const KeyText> MessageKeys() { return kMessages; }
std::span<const KeyText> PortStatusKeys() { return kPortStatus; }
std::span<const DeviceStatusKey> DeviceStatusKeys() { return kDeviceStatus; }
std::span<const KeyText> ListKeys() { return kLists; }

SectionLookup LookupInPairs(std::vector<std::pair<std::string, std::string>> pairs) {
  return [pairs = std::move(pairs)](std::string_view key) -> std::optional<std::string> {
    for (const auto& [k, v] : pairs) {
      if (EqualsNoCase(k, key)) return v;
    }
    return std::nullopt;
  };
}

std::map<std::string, std::string, std::less<>> LoadKeyTexts(std::span<const KeyText> table,
                                                             const SectionLookup& lookup) {
  std::map<std::string, std::string, std::less<>> out;
  for (const KeyText& kt : table) out[std::string(kt.key)] = Pick(lookup, kt.key, kt.text);
  return out;
}

LoadedTexts LoadedTexts::Builtin() { return FromSection(nullptr); }

LoadedTexts LoadedTexts::FromSection(const SectionLookup& lookup) {
  LoadedTexts t;
  for (std::size_t i = 0; i < kMessageCount; ++i)
    t.messages[i] = Pick(lookup, kMessages[i].key, kMessages[i].text);
  for (std::size_t i = 0; i < kPortStatusCount; ++i)
    t.portStatus[i] = Pick(lookup, kPortStatus[i].key, kPortStatus[i].text);
  // Only the codes that have a key are read; every other entry stays empty,
  // whatever keys the file happens to hold.
  for (const DeviceStatusKey& d : kDeviceStatus)
    t.deviceStatus[static_cast<std::size_t>(d.code)] = Pick(lookup, d.key, d.text);
  for (std::size_t i = 0; i < kListTextCount; ++i) t.lists[i] = Pick(lookup, kLists[i].key, kLists[i].text);
  t.helpFileName = Pick(lookup, kHelpFileNameKey, "");
  return t;
}

const std::string& LoadedTexts::Message(Msg id) const {
  const auto i = static_cast<std::size_t>(id);
  return i < kMessageCount ? messages[i] : kEmpty;
}

const std::string& LoadedTexts::Message(std::string_view key) const {
  for (std::size_t i = 0; i < kMessageCount; ++i) {
    if (kMessages[i].key == key) return messages[i];
  }
  return kEmpty;
}

const std::string& LoadedTexts::PortStatus(int index) const {
  if (index < 0 || static_cast<std::size_t>(index) >= kPortStatusCount) return kEmpty;
  return portStatus[static_cast<std::size_t>(index)];
}

const std::string& LoadedTexts::DeviceStatus(int code) const {
  if (code < 0 || static_cast<std::size_t>(code) >= kDeviceStatusCount) return kEmpty;
  return deviceStatus[static_cast<std::size_t>(code)];
}

const std::string& LoadedTexts::List(std::string_view key) const {
  for (std::size_t i = 0; i < kListTextCount; ++i) {
    if (kLists[i].key == key) return lists[i];
  }
  return kEmpty;
}

const std::string& LoadedTexts::List(std::string_view family, int entry) const {
  if (entry < 0) return kEmpty;
  return List(std::string(family) + std::to_string(entry));
}

}  // namespace kl
