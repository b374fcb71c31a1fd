// The jobs of the settings page: reading and writing the sensor's passport
// and output settings.
//
// Nothing here is retried: a settings transfer that fails is reported once
// and left to the technician, who sees the page as it was.
#include "Unit_cmd.h"

namespace kl {

namespace {

// One attempt of a settings transaction; the status bar shows its result.
bool Once(TCmdThread& t, const std::function<LinkResult()>& op) {
  t.result = Attempts(t, 1, 0, op);
  return t.result == LINK_OK;
}

// A read step failed: show it, unlock the window and leave the page as it is.
void ReadFailed(TCmdThread& t) {
  t.View().ShowDeviceStatus(t.result);
  t.View().SetIdle();
  t.ShowStatusError(t.result);
  t.PostFollowUp(JOB_IDLE);
}

// A write step failed: nothing is rolled back on the sensor.
void WriteFailed(TCmdThread& t) {
  t.View().ShowDeviceStatus(t.result);
  t.ShowStatusError(t.result);
  t.PostFollowUp(JOB_IDLE);
}

}  // namespace

void JobReadSettings(TCmdThread& t) {
  SettingsRecord& s = t.settings;
  FuelRecord& fuel = t.Records().fuel;
  const int32_t address = t.Records().link.address;

  // 1.
  t.View().SetBusy();

  // 2. Passport: identity, address, period and flags.
  uint32_t date = 0, serial = 0, model = 0, firmware = 0, deviceAddress = 0, period = 0, flags = 0;
  if (!Once(t, [&] {
        return UartGetPassport(t.Link(), address, &date, &serial, &model, &firmware, &deviceAddress, &period,
                               &flags);
      }))
    return ReadFailed(t);
  s.Date = date;
  s.Serial = serial;
  s.Model = static_cast<uint8_t>(model);
  s.FirmwareVersion = static_cast<uint8_t>(firmware);
  s.Address = static_cast<int32_t>(deviceAddress & 0xFF);
  s.Period = static_cast<int32_t>(period & 0xFF);
  s.Flags = static_cast<uint8_t>(flags);

  // 3. Hardware revision and the second flags byte.
  uint32_t config = 0, flags2 = 0;
  if (!Once(t, [&] { return UartGetConfig(t.Link(), address, &config, &flags2, nullptr, nullptr); }))
    return ReadFailed(t);
  s.Revision = static_cast<uint8_t>(config & 0x0F);
  s.Flags2 = static_cast<uint8_t>(flags2);

  // 4. Post-filtering.
  uint32_t postFilter = 0;
  if (!Once(t, [&] { return UartQuery(t.Link(), SVC_GET_POST_FILTER, address, &postFilter); }))
    return ReadFailed(t);
  s.PostFilter = static_cast<int32_t>(postFilter & 0xFF);

  // 5. Fuel.
  uint32_t fuelType = 0, coefBits = 0, speedBits = 0;
  if (!Once(t, [&] { return UartGetFuel(t.Link(), address, &fuelType, &coefBits, &speedBits); }))
    return ReadFailed(t);
  fuel.FuelType = static_cast<uint8_t>(fuelType);
  fuel.ThermalCoef = UartBitsFloat(coefBits);
  fuel.SoundSpeed = UartBitsFloat(speedBits);

  // 6. Bits the page does not show go back as they came.
  s.FlagsRead = s.Flags;

  // 7.
  t.View().ShowDeviceStatus(t.result);
  t.View().SetIdle();
  t.View().FillSettingsPage();
  t.PostFollowUp(JOB_IDLE);
}

void JobWriteSettings(TCmdThread& t) {
  SettingsRecord& s = t.settings;
  const FuelRecord& fuel = t.Records().fuel;
  LinkSettings& link = t.Records().link;

  // 1. The page's values into the records.
  t.View().CollectSettingsPage();

  // 2.
  if (!Once(t, [&] { return UartCommand(t.Link(), SVC_SET_POST_FILTER, link.address, s.PostFilter); }))
    return WriteFailed(t);
  // 3.
  if (!Once(t, [&] {
        return UartSetFuel(t.Link(), link.address, fuel.FuelType, UartFloatBits(fuel.ThermalCoef),
                           UartFloatBits(fuel.SoundSpeed));
      }))
    return WriteFailed(t);
  // 4. The sensor acknowledges at its old address, then takes the new one.
  if (!Once(t, [&] { return UartCommand(t.Link(), SVC_SET_ADDRESS, link.address, s.Address); }))
    return WriteFailed(t);
  // 5. From here on the sensor is addressed where it now listens.
  t.View().AdoptNewAddress(s.Address);
  // 6.
  if (!Once(t, [&] { return UartCommand(t.Link(), SVC_SET_PERIOD, link.address, s.Period); }))
    return WriteFailed(t);
  // 7. The rate changes with the flags: acknowledged at the old rate.
  if (!Once(t, [&] { return UartCommand(t.Link(), SVC_SET_FLAGS, link.address, s.Flags); }))
    return WriteFailed(t);
  // 8. The window takes the new rate and reopens the port at it.
  t.View().AdoptNewBaud();
  // 9.
  t.View().ShowDeviceStatus(t.result);
  t.PostFollowUp(JOB_IDLE);
}

}  // namespace kl
