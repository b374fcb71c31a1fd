// Opening, closing and searching: the jobs that connect the tool to a sensor.
#include <string>

#include "Unit_cmd.h"

namespace kl {

namespace {

std::string TwoLines(const LoadedTexts& texts, Msg first) {
  return texts.Message(first) + "\n" + texts.Message(Msg::UpdateProgram);
}

}  // namespace

bool IdentifyDevice(TCmdThread& t) {
  const int32_t address = t.Records().link.address;

  uint32_t model = 0;
  t.result = UartQuery(t.Link(), SVC_GET_MODEL, address, &model);
  if (t.result == LINK_OK) t.modelCode = model;
  t.View().ShowDeviceStatus(t.result);
  if (t.result != LINK_OK) {
    t.ShowStatusError(t.result);
    return false;
  }
  if (!UartIsSupportedModel(t.modelCode)) {
    t.View().ErrorBox(TwoLines(t.Texts(), Msg::DeviceWrong));
    return false;
  }

  uint32_t date = 0, serial = 0, modelNumber = 0, firmware = 0;
  t.result = UartGetIdent(t.Link(), address, &date, &serial, &modelNumber, &firmware);
  if (t.result == LINK_OK) {
    t.settings.Date = date;
    t.settings.Serial = serial;
    t.settings.Model = static_cast<uint8_t>(modelNumber);
    t.settings.FirmwareVersion = static_cast<uint8_t>(firmware);
  }
  t.View().ShowDeviceStatus(t.result);
  if (t.result != LINK_OK) {
    t.ShowStatusError(t.result);
    return false;
  }
  if (!UartIsSupportedFirmware(t.settings.FirmwareVersion)) {
    t.View().ErrorBox(TwoLines(t.Texts(), Msg::FirmwareVersionWrong));
    return false;
  }
  return true;
}

void JobPortOpen(TCmdThread& t) {
  LinkSettings& ls = t.Records().link;
  t.View().ShowDeviceIdentity(false);
  if (UartOpen(t.Link(), ls.port, ls.baud) != 0) {
    t.View().ErrorBox(t.Texts().Message(Msg::ErrorOpenPort) + std::to_string(ls.port));
    t.portStatus = kPortStatusError;
    t.View().ShowPortStatus(t.portStatus);
    return;
  }
  // The sync wakes a sensor that sat idle; what it answers does not matter.
  UartSync(t.Link(), ls.address, nullptr, nullptr, nullptr);
  if (!t.Pause(kSyncPauseMs)) return;
  t.portStatus = kPortStatusOpened;
  t.View().ShowPortStatus(t.portStatus);
  if (IdentifyDevice(t)) {
    t.View().ShowDeviceIdentity(true);
    t.View().ShowScopePage();
  }
}

void JobPortClose(TCmdThread& t) {
  t.View().ShowDeviceIdentity(false);
  t.View().ShowProgramPage();
  UartClose(t.Link());
  // The page shows the closed port; the engine's own record says the same,
  // so that nothing later reads the port as open.
  t.portStatus = kPortStatusClosed;
}

void JobSearch(TCmdThread& t) {
  LinkSettings& ls = t.Records().link;
  const int32_t rememberedBaud = ls.baud;
  t.View().ShowDeviceIdentity(false);
  t.View().SetBusy();
  t.View().SetWaitCursor();

  int32_t found = -1;
  for (size_t i = 0; i < kUartSearchRates.size(); ++i) {
    const int32_t rate = kUartSearchRates[i];
    ls.baud = rate;
    // A port that does not open is not the end of the search: the
    // transactions then report the port error, and the last one is shown.
    t.portStatus = UartOpen(t.Link(), ls.port, rate) != 0 ? kPortStatusError : kPortStatusOpened;
    t.View().ShowPortStatus(t.portStatus);

    UartSync(t.Link(), kUartBroadcast, nullptr, nullptr, nullptr);
    const bool stopping = !t.Pause(kSyncPauseMs);

    int32_t address = -1;
    t.result = stopping ? LINK_NO_ANSWER : UartSearch(t.Link(), &address);
    t.View().ShowDeviceStatus(t.result);
    if (t.result == LINK_OK) {
      found = address;
      break;
    }
    if (stopping || i + 1 == kUartSearchRates.size()) {
      t.View().SetNormalCursor();
      t.View().ShowDeviceStatus(t.result);
      t.View().SetIdle();
      ls.baud = rememberedBaud;
      UartClose(t.Link());
      // The status bar still says the port of the last rate is open: say it
      // is closed before the box asks for the user's attention. A port that
      // never opened keeps showing its error.
      if (t.portStatus != kPortStatusError) {
        t.portStatus = kPortStatusClosed;
        t.View().ShowPortStatus(t.portStatus);
      }
      t.ShowStatusError(t.result);
      return;
    }
  }

  t.View().SetNormalCursor();
  ls.address = found;
  t.View().AdoptLinkSettings();
  if (IdentifyDevice(t)) {
    t.View().ShowDeviceIdentity(true);
    // The oscilloscope page's first job returns the window to idle.
    t.View().ShowScopePage();
  } else {
    t.View().SetIdle();
  }
}

}  // namespace kl
