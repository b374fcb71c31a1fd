// The calibration page's rules without widgets: what it shows of an image,
// what a tank type enables, and what may be written.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "CalibrationRules.h"

namespace kl {
namespace {

struct Ui : TareUi {
  std::vector<std::string> shown;
  void ShowError(std::string_view key, int) override { shown.emplace_back(key); }
  bool AskYesNo(std::string_view key) override {
    shown.emplace_back(key);
    return false;
  }
};

// The default image with a preset tank 5 (880 mm, 3 points) after it.
std::unique_ptr<HubImage> ImageWithPreset() {
  auto im = std::make_unique<HubImage>();
  HubMakeDefault(im.get());
  auto t = std::make_unique<TankTable>();
  t->TankID = 5;
  t->TankHeight = 8805;
  t->TableLen = 3;
  t->MlPerUnit = 10;
  t->Points[0] = {0, 0.0f};
  t->Points[1] = {1000, 50.0f};
  t->Points[2] = {2000, 100.0f};
  EXPECT_TRUE(HubAppendTank(im.get(), t.get()));
  HubSetWord(*im, HubOffMlPerBit, 100);
  HubSeal(im.get());
  return im;
}

std::unique_ptr<TankTable> Points(int n) {
  auto t = std::make_unique<TankTable>();
  t->TableLen = static_cast<uint16_t>(n);
  t->MlPerUnit = 1;
  for (int i = 0; i < n; ++i) t->Points[static_cast<size_t>(i)] = {static_cast<uint16_t>(100 * i), 2.0f * i};
  return t;
}

TEST(CalibrationPageView, HeightListAndPointsByTankType) {
  const auto im = ImageWithPreset();
  struct Case {
    uint16_t selected, customHeight;
    int entry, heightMm, spin;
    int tableLen;  // -1: no record
  } cases[] = {
      {1, 12345, 1, 1234, 1234, 0},  // the sensor's own height, in whole mm
      {1, 0, 1, 0, 100, 0},          // shown as the spin edit's minimum
      {0, 65535, 0, 6553, 6500, 0},  // and its maximum
      {5, 3000, 2, 880, 880, 3},     // a preset tank's own height
      {7, 3000, -1, 0, 100, -1},     // a type the image does not hold
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.selected);
    const HubPageView v = HubPageFor(*im, c.selected, c.customHeight);
    EXPECT_EQ(v.versionText, "3.01");
    EXPECT_EQ(v.tankIds, (std::vector<std::string>{"0", "1", "5"}));
    EXPECT_EQ(v.selectedEntry, c.entry);
    EXPECT_EQ(v.heightMm, c.heightMm);
    EXPECT_EQ(TankHeightSpinValue(v.heightMm), c.spin);
    EXPECT_EQ(v.tableLen ? int{*v.tableLen} : -1, c.tableLen);
    EXPECT_EQ(v.mlPerBitIndex, 2);
  }
}

TEST(CalibrationPageView, EnablingFollowsTheTankType) {
  struct Case {
    bool busy, refused;
    uint16_t selected;
    bool table, height;  // the table button with the point count and resolution; the height
    bool common;         // version, tank list, set button
    bool files;          // import and export
  } cases[] = {
      {false, false, 0, false, true, true, true},  {false, false, 1, true, true, true, true},
      {false, false, 5, true, false, true, true},  {true, false, 1, false, false, false, false},
      {false, true, 1, false, false, false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.busy << c.refused << c.selected);
    const CalibrationEnabling e = CalibrationEnablingFor(c.busy, c.refused, c.selected);
    EXPECT_EQ(e.BtnHubTareTable, c.table);
    EXPECT_EQ(e.EditHubTableLen, c.table);
    EXPECT_EQ(e.CmbHubMlPerBit, c.table);
    EXPECT_EQ(e.SpinHubTankHeight, c.height);
    EXPECT_EQ(e.EditHubVersion, c.common);
    EXPECT_EQ(e.CmbHubTankID, c.common);
    EXPECT_EQ(e.BtnHubTareSet, c.common);
    EXPECT_EQ(e.BtnTanksImp, c.files);
    EXPECT_EQ(e.BtnTanksExp, c.files);
  }
  EXPECT_FALSE(TareWindowReadOnly(1));
  EXPECT_TRUE(TareWindowReadOnly(0));
  EXPECT_TRUE(TareWindowReadOnly(2));
  EXPECT_TRUE(TareWindowReadOnly(5));
}

TEST(CalibrationPageStore, AnInvalidImageKeptIsNotWritten) {
  auto im = std::make_unique<HubImage>();
  HubMakeDefault(im.get());
  HubSetWord(*im, HubOffVersion, 0x0200);
  HubSeal(im.get());
  const auto before = std::make_unique<HubImage>(*im);
  Ui ui;
  EXPECT_FALSE(StoreHubForWriting(*im, *Points(3), 1, 0, false, ui));
  EXPECT_EQ(im->bytes, before->bytes);
  EXPECT_TRUE(ui.shown.empty());

  // Yes: the default image, with the table in it.
  EXPECT_TRUE(StoreHubForWriting(*im, *Points(3), 1, 3, true, ui));
  EXPECT_TRUE(HubIsValid(im.get()));
  EXPECT_EQ(HubFindTank(im.get(), CustomTankID)->TableLen, 3);
  EXPECT_EQ(HubReadHeader(*im).MlPerBit, 1000);
  EXPECT_TRUE(ui.shown.empty());
}

TEST(CalibrationPageStore, NoRoomOrNoRecordStopsWithTheImageUnchanged) {
  {
    auto im = ImageWithPreset();
    const auto before = std::make_unique<HubImage>(*im);
    Ui ui;
    EXPECT_FALSE(StoreHubForWriting(*im, *Points(51), 1, 0, false, ui));
    EXPECT_EQ(ui.shown, std::vector<std::string>{"msg_table_too_big"});
    EXPECT_EQ(im->bytes, before->bytes);
  }
  {
    // The custom record renumbered: a valid image without one.
    auto im = ImageWithPreset();
    HubSetWord(*im, 26 + 2, 9);
    HubSeal(im.get());
    const auto before = std::make_unique<HubImage>(*im);
    Ui ui;
    EXPECT_FALSE(StoreHubForWriting(*im, *Points(3), 1, 0, false, ui));
    EXPECT_EQ(ui.shown, std::vector<std::string>{"msg_hub_no_custom_tank"});
    EXPECT_EQ(im->bytes, before->bytes);
  }
  {
    // A preset tank selected: only the resolution changes.
    auto im = ImageWithPreset();
    Ui ui;
    EXPECT_TRUE(StoreHubForWriting(*im, *Points(51), 5, 4, false, ui));
    EXPECT_TRUE(ui.shown.empty());
    EXPECT_EQ(HubReadHeader(*im).MlPerBit, 10000);
    EXPECT_EQ(HubFindTank(im.get(), CustomTankID)->TableLen, 0);
    EXPECT_TRUE(HubIsValid(im.get()));
  }
}

}  // namespace
}  // namespace kl
