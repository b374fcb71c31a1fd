#include "SettingsRules.h"

#include <charconv>
#include <cmath>

#include "WindowRules.h"

namespace kl {

std::string SettingsDateText(uint32_t date) { return UartFormatDate(date); }
std::string SettingsSerialText(uint32_t serial) { return UartFormatSerial(serial); }
std::string SettingsModelText(uint8_t model) { return std::to_string(model); }
std::string SettingsVersionText(uint8_t version) { return UartFormatFirmware(version); }
std::string SettingsRevisionText(uint8_t revision) { return std::to_string(revision & 0x0F); }

FlagsChoice UnpackFlags(uint8_t flags, uint8_t flags2) {
  FlagsChoice c;
  c.periodic = (flags & 0x01) != 0;
  c.baudIndex = ((flags >> 2) & 7) - 1;  // code 0: no entry
  c.answerIndex = (flags >> 5) & 1;
  c.bitsIndex = ((flags >> 7) & 1) + 2 * ((flags2 >> 5) & 1);
  if (c.bitsIndex >= kBitsEntries) c.bitsIndex = -1;
  return c;
}

uint8_t PackFlags(const FlagsChoice& c, uint8_t flagsRead) {
  uint32_t f = flagsRead & 0x42u;  // bits 1 and 6 pass through untouched
  if (c.periodic) f |= 0x01;
  const int code = c.baudIndex >= 0 ? (c.baudIndex + 1) & 7 : 0;
  f |= static_cast<uint32_t>(code) << 2;
  f |= static_cast<uint32_t>(c.answerIndex & 1) << 5;
  const uint32_t bit7 = c.bitsIndex >= 0 ? static_cast<uint32_t>(c.bitsIndex & 1) : (flagsRead >> 7) & 1u;
  f |= bit7 << 7;
  return static_cast<uint8_t>(f);
}

int FuelTypeIndex(uint8_t fuelType) { return fuelType < kFuelEntries ? fuelType : -1; }
bool FuelEditsEnabled(int fuelIndex) { return fuelIndex == 0; }

std::optional<int32_t> BaudOfEntry(int index) {
  if (index < 0 || index >= static_cast<int>(std::size(kBaudEntries))) return std::nullopt;
  return kBaudEntries[index];
}

namespace {

std::string WithSeparator(std::string text, const NumberLocale& loc) {
  if (const auto dot = text.find('.'); dot != std::string::npos) text.replace(dot, 1, loc.decimal_point);
  return text;
}

}  // namespace

std::string FormatFuelNumber(float value, const NumberLocale& loc) {
  if (!std::isfinite(value)) return "0";
  // Fixed notation of a float can be 39 digits long before the point and 45
  // after it; the buffer holds either.
  char buf[128];
  auto r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, 3);
  if (r.ec != std::errc()) return "0";
  std::string text(buf, r.ptr);
  // Three decimals, unless they would lose part of the number: the page
  // writes both numbers back whatever the technician touched, so a small
  // coefficient (0.00083) must not come back from the sensor as 0.001.
  if (ParseFloat32(text, NumberLocale{}) != value) {
    r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed);
    if (r.ec != std::errc()) return "0";
    text.assign(buf, r.ptr);
  }
  return WithSeparator(std::move(text), loc);
}

std::optional<float> ParseFuelNumber(std::string_view text, const NumberLocale& loc) {
  const std::optional<double> d = ParseDecimal(text, loc);
  if (!d || !std::isfinite(*d) || std::fabs(*d) > kFuelNumberLimit) return std::nullopt;
  // Read straight into single precision, so that what the page showed reads
  // back as the very same number.
  return ParseFloat32(text, loc);
}

bool SpinTextAcceptable(std::string_view text) {
  for (char c : text)
    if (c < '0' || c > '9') return false;
  return true;
}

int SpinValueFromText(std::string_view text, int min, int max) {
  const std::optional<int32_t> v = ReadInteger(text);
  if (!v) return min;
  return *v < min ? min : (*v > max ? max : *v);
}

SettingsView ViewFromRecords(const SettingsRecord& s, const FuelRecord& f, const NumberLocale& loc) {
  SettingsView v;
  v.date = SettingsDateText(s.Date);
  v.serial = SettingsSerialText(s.Serial);
  v.model = SettingsModelText(s.Model);
  v.version = SettingsVersionText(s.FirmwareVersion);
  v.revision = SettingsRevisionText(s.Revision);
  const FlagsChoice c = UnpackFlags(s.Flags, s.Flags2);
  v.periodic = c.periodic;
  v.baudIndex = c.baudIndex;
  v.answerIndex = c.answerIndex;
  v.bitsIndex = c.bitsIndex;
  v.postFilterIndex = s.PostFilter >= 0 && s.PostFilter < kPostFilterEntries ? s.PostFilter : -1;
  v.address = s.Address;
  v.period = s.Period;
  v.fuelIndex = FuelTypeIndex(f.FuelType);
  v.fuelKu = FormatFuelNumber(f.ThermalCoef, loc);
  v.fuelOfs = FormatFuelNumber(f.SoundSpeed, loc);
  return v;
}

void RecordsFromView(const SettingsView& v, SettingsRecord& s, FuelRecord& f, const NumberLocale& loc) {
  s.Flags = PackFlags(FlagsChoice{v.periodic, v.baudIndex, v.answerIndex, v.bitsIndex}, s.FlagsRead);
  s.Period = v.period;
  s.Address = v.address;
  if (v.postFilterIndex >= 0) s.PostFilter = v.postFilterIndex;
  if (v.fuelIndex >= 0) f.FuelType = static_cast<uint8_t>(v.fuelIndex);
  f.ThermalCoef = ParseFuelNumber(v.fuelKu, loc).value_or(0.0f);
  f.SoundSpeed = ParseFuelNumber(v.fuelOfs, loc).value_or(0.0f);
}

}  // namespace kl
