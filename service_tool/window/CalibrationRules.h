// The calibration page's rules, kept apart from the widgets: what the page
// shows of a preset tank table image, which controls a tank type enables, and
// how the page's values go into the image before it is written.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "HubData.h"
#include "TareUi.h"

namespace kl {

// The tank height spin edit's range, in millimetres.
inline constexpr int kTankHeightMinMm = 100;
inline constexpr int kTankHeightMaxMm = 6500;

// What the page shows of a valid image for the selected tank type.
struct HubPageView {
  std::string versionText;           // "3.01"
  std::vector<std::string> tankIds;  // one entry per record, in walk order
  int selectedEntry = -1;            // the entry equal to the selected type; -1 none
  int heightMm = 0;                  // before the spin edit's limits
  std::optional<uint16_t> tableLen;  // the selected record's points; none without a record
  int mlPerBitIndex = -1;            // output resolution entry; -1 none
};
HubPageView HubPageFor(const HubImage& image, uint16_t selectedTankId, uint16_t customTankHeight);

// The value the spin edit shows for a height: its own limits apply.
int TankHeightSpinValue(int heightMm);

// Which of the page's controls can be used.
struct CalibrationEnabling {
  bool EditHubVersion = false, CmbHubTankID = false, BtnHubTareSet = false;
  bool BtnHubTareTable = false, EditHubTableLen = false, CmbHubMlPerBit = false;
  bool SpinHubTankHeight = false;
  bool BtnTanksImp = false, BtnTanksExp = false;
};
// busy: a long job runs. imageRefused: the user declined to replace an
// invalid image, which keeps the table controls off until a valid one is
// shown; the spreadsheet buttons stay usable (an import builds a valid image).
CalibrationEnabling CalibrationEnablingFor(bool busy, bool imageRefused, uint16_t selectedTankId);

// Only the user's own tank is edited; a preset table is shown read-only.
bool TareWindowReadOnly(uint16_t selectedTankId);

// The types whose height the sensor keeps apart from the image.
bool TankHeightFromSensor(uint16_t selectedTankId);

// The image made ready for writing, once the question about an invalid image
// has been answered (rebuildInvalid: Yes, build the default image). False
// when nothing may be written: an invalid image kept (untouched), no custom
// tank record (msg_hub_no_custom_tank shown), or a table too big for it
// (msg_table_too_big shown by the image's rule).
bool StoreHubForWriting(HubImage& image, TankTable& table, uint16_t selectedTankId, int mlPerBitIndex,
                        bool rebuildInvalid, TareUi& ui);

}  // namespace kl
