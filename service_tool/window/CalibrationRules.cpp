#include "CalibrationRules.h"

#include <algorithm>

namespace kl {

HubPageView HubPageFor(const HubImage& image, uint16_t selectedTankId, uint16_t customTankHeight) {
  HubPageView v;
  v.versionText = HubVersionText(&image);
  const std::string selected = std::to_string(selectedTankId);
  for (const TankRecord& r : HubListTanks(&image)) {
    v.tankIds.push_back(std::to_string(r.TankID));
    if (v.selectedEntry < 0 && v.tankIds.back() == selected)
      v.selectedEntry = static_cast<int>(v.tankIds.size()) - 1;
  }
  const std::optional<TankRecord> record = HubFindTank(&image, selectedTankId);
  if (TankHeightFromSensor(selectedTankId))
    v.heightMm = customTankHeight / 10;
  else
    v.heightMm = record ? record->TankHeight / 10 : 0;
  if (record) v.tableLen = record->TableLen;
  v.mlPerBitIndex = MlPerBitIndex(&image);
  return v;
}

int TankHeightSpinValue(int heightMm) { return std::clamp(heightMm, kTankHeightMinMm, kTankHeightMaxMm); }

CalibrationEnabling CalibrationEnablingFor(bool busy, bool imageRefused, uint16_t selectedTankId) {
  CalibrationEnabling e;
  if (busy) return e;
  e.BtnTanksImp = e.BtnTanksExp = true;
  if (imageRefused) return e;
  e.EditHubVersion = e.CmbHubTankID = e.BtnHubTareSet = true;
  e.BtnHubTareTable = e.EditHubTableLen = e.CmbHubMlPerBit = selectedTankId != 0;
  e.SpinHubTankHeight = TankHeightFromSensor(selectedTankId);
  return e;
}

bool TareWindowReadOnly(uint16_t selectedTankId) { return selectedTankId != CustomTankID; }

bool TankHeightFromSensor(uint16_t selectedTankId) {
  return selectedTankId == 0 || selectedTankId == CustomTankID;
}

bool StoreHubForWriting(HubImage& image, TankTable& table, uint16_t selectedTankId, int mlPerBitIndex,
                        bool rebuildInvalid, TareUi& ui) {
  if (!HubIsValid(&image)) {
    // Writing it would hand the sensor an image it cannot use.
    if (!rebuildInvalid) return false;
    HubMakeDefault(&image);
  }
  switch (HubStoreCustomTable(&image, &table, mlPerBitIndex, selectedTankId, ui)) {
    case HubStoreResult::Stored:
    case HubStoreResult::ResolutionOnly:
      return true;
    case HubStoreResult::NoCustomRecord:
      ui.ShowError("msg_hub_no_custom_tank", 0);
      return false;
    case HubStoreResult::TableTooBig:
    case HubStoreResult::NoImage:
      return false;
  }
  return false;
}

}  // namespace kl
