#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <vector>

#include "HubData.h"
#include "RecordingUi.h"

namespace kl {

namespace {

std::unique_ptr<HubImage> ZeroImage() { return std::make_unique<HubImage>(); }

std::unique_ptr<HubImage> DefaultImage() {
  auto im = ZeroImage();
  EXPECT_TRUE(HubMakeDefault(im.get()));
  return im;
}

std::unique_ptr<TankTable> Table(std::uint16_t id, std::uint16_t points, std::uint16_t mlPerUnit) {
  auto t = std::make_unique<TankTable>();
  t->TankID = id;
  t->TankHeight = 1000;
  t->TableLen = points;
  t->MlPerUnit = mlPerUnit;
  for (std::uint16_t i = 0; i < points; ++i)
    t->Points[i] = {static_cast<std::uint16_t>(10 * (i + 1)), 0.5f * i};
  return t;
}

// The wrapping 16-bit sum of the words the checksum covers.
std::uint16_t WordSum(const HubImage& im) {
  std::uint16_t s = 0;
  for (std::size_t i = 0; i < HubWord(im, 0) / 2u; ++i)
    s = static_cast<std::uint16_t>(s + HubWord(im, 2 * i));
  return s;
}

std::vector<std::uint16_t> Ids(const HubImage& im) {
  std::vector<std::uint16_t> ids;
  for (const TankRecord& r : HubListTanks(&im)) ids.push_back(r.TankID);
  return ids;
}

TEST(HubImage, DefaultImageIsByteExact) {
  auto im = DefaultImage();
  const std::uint8_t head[] = {0xec, 0x00, 0x4a, 0xf7, 0x01, 0x03, 0x02, 0x00, 0x01, 0x00, 0x00, 0x00,
                               0x00, 0x00, 0x00, 0x00, 0x0a, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                               0x01, 0x00, 0xd2, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0xe8, 0x03};
  for (std::size_t i = 0; i < sizeof head; ++i) EXPECT_EQ(im->bytes[i], head[i]) << "byte " << i;
  for (std::size_t i = sizeof head; i < HubBufferSize; ++i) ASSERT_EQ(im->bytes[i], 0) << "byte " << i;
  EXPECT_EQ(HubReadHeader(*im).Size, 236);
  EXPECT_EQ(HubReadHeader(*im).Checksum, 0xF74A);
  EXPECT_TRUE(HubIsValid(im.get()));
  EXPECT_EQ(Ids(*im), (std::vector<std::uint16_t>{0, 1}));
  EXPECT_EQ(HubVersionText(im.get()), "3.01");
  EXPECT_EQ(MlPerBitIndexFromImage(HubReadHeader(*im).MlPerBit), 0);
}

TEST(HubImage, DefaultImageKeepsReservedWordsHeightsAndTheRestOfTheBuffer) {
  auto im = ZeroImage();
  im->bytes.fill(0xA5);
  ASSERT_TRUE(HubMakeDefault(im.get()));
  for (std::size_t off : {10u, 12u, 14u, 20u, 30u}) EXPECT_EQ(HubWord(*im, off), 0xA5A5) << off;
  EXPECT_EQ(im->bytes[236], 0xA5);
  EXPECT_EQ(im->bytes[HubBufferSize - 1], 0xA5);
  EXPECT_TRUE(HubIsValid(im.get()));
  EXPECT_FALSE(HubMakeDefault(nullptr));
}

TEST(HubImage, SealingAnyImageMakesItsWordsSumToZero) {
  std::mt19937 rng(6);
  for (int round = 0; round < 50; ++round) {
    auto im = ZeroImage();
    for (auto& b : im->bytes) b = static_cast<std::uint8_t>(rng());
    if (HubWord(*im, 0) < 4) HubSetWord(*im, 0, 4);  // the Checksum word must be covered
    HubSeal(im.get());
    const auto size = HubWord(*im, 0);
    ASSERT_EQ(WordSum(*im), 0) << "Size " << size;
    ASSERT_EQ(HubComputeChecksum(im.get()), 0xFFFF) << "Size " << size;
  }
  // An odd last byte lies outside the sum, so changing it keeps the seal.
  auto im = DefaultImage();
  HubSetWord(*im, 0, 237);
  HubSeal(im.get());
  im->bytes[236] ^= 0xFF;
  EXPECT_EQ(HubComputeChecksum(im.get()), 0xFFFF);
}

TEST(HubImage, ValidityNeedsVersion0301ACoveredHeaderAndTheChecksum) {
  EXPECT_FALSE(HubIsValid(nullptr));
  EXPECT_FALSE(HubIsValid(ZeroImage().get()));

  auto other = DefaultImage();
  HubSetWord(*other, HubOffVersion, 0x0302);
  HubSeal(other.get());
  EXPECT_EQ(HubComputeChecksum(other.get()), 0xFFFF);
  EXPECT_FALSE(HubIsValid(other.get()));
  EXPECT_EQ(HubVersionText(other.get()), "3.02");

  auto broken = DefaultImage();
  broken->bytes[100] = 1;
  EXPECT_FALSE(HubIsValid(broken.get()));

  // Size 0 covers no word at all, so its "checksum" is always right.
  auto empty = ZeroImage();
  HubSetWord(*empty, HubOffVersion, HubFormatVersion);
  EXPECT_EQ(HubComputeChecksum(empty.get()), 0xFFFF);
  EXPECT_FALSE(HubIsValid(empty.get()));
}

TEST(HubImage, VersionText) {
  auto im = ZeroImage();
  const std::pair<std::uint16_t, const char*> cases[] = {
      {0x0301, "3.01"}, {0x030A, "3.0A"}, {0x0AFF, "10.FF"}, {0x0000, "0.00"}};
  for (const auto& [v, text] : cases) {
    HubSetWord(*im, HubOffVersion, v);
    EXPECT_EQ(HubVersionText(im.get()), text);
  }
}

TEST(HubImage, WalkEndsAtAZeroSizeRecordWhateverTankCountSays) {
  auto im = DefaultImage();
  HubSetWord(*im, 16, 0);  // tank 0 now has Size 0
  HubSetWord(*im, HubOffTankCount, 9);
  HubSeal(im.get());
  EXPECT_EQ(Ids(*im), (std::vector<std::uint16_t>{0}));
  EXPECT_FALSE(HubFindTank(im.get(), CustomTankID));
}

TEST(HubImage, DuplicateIdsFindTheEarliestRecord) {
  auto im = DefaultImage();
  ASSERT_TRUE(HubAppendTank(im.get(), Table(5, 3, 1).get()));
  ASSERT_TRUE(HubAppendTank(im.get(), Table(5, 7, 1).get()));
  EXPECT_EQ(Ids(*im), (std::vector<std::uint16_t>{0, 1, 5, 5}));
  const auto r = HubFindTank(im.get(), 5);
  ASSERT_TRUE(r);
  EXPECT_EQ(r->Offset, 236u);
  EXPECT_EQ(r->TableLen, 3);
  EXPECT_FALSE(HubFindTank(im.get(), 6));
}

TEST(HubImage, AppendGrowsTheImageUpTo4096Bytes) {
  auto im = DefaultImage();
  auto t = Table(2, 100, 10);
  ASSERT_TRUE(HubAppendTank(im.get(), t.get()));
  EXPECT_EQ(HubReadHeader(*im).Size, 646);
  EXPECT_EQ(HubReadHeader(*im).TankCount, 3);
  EXPECT_TRUE(HubIsValid(im.get()));
  const auto r = HubFindTank(im.get(), 2);
  ASSERT_TRUE(r);
  EXPECT_EQ(r->Size, 410);
  EXPECT_EQ(r->TankHeight, 1000);
  EXPECT_EQ(r->MlPerUnit, 10);
  EXPECT_EQ(HubTankPoint(*im, *r, 99)->Level, 1000);
  EXPECT_EQ(HubTankPoint(*im, *r, 99)->Volume, 4950);  // 49.5 l in units of 10 ml

  for (int i = 1; i < 9; ++i) ASSERT_TRUE(HubAppendTank(im.get(), t.get())) << "append " << i + 1;
  EXPECT_EQ(HubReadHeader(*im).Size, 3926);
  EXPECT_EQ(HubReadHeader(*im).TankCount, 11);
  EXPECT_TRUE(HubIsValid(im.get()));

  const HubImage before = *im;
  EXPECT_FALSE(HubAppendTank(im.get(), t.get()));
  EXPECT_EQ(im->bytes, before.bytes);
  // A record that ends exactly at 4096 bytes still fits.
  EXPECT_TRUE(HubAppendTank(im.get(), Table(3, (4096 - 3926 - 10) / 4, 1).get()));
  EXPECT_EQ(HubReadHeader(*im).Size, 4096);
}

TEST(HubImage, AppendRefusesMissingPartsAndAnImageWithoutHeader) {
  auto t = Table(2, 1, 1);
  EXPECT_FALSE(HubAppendTank(nullptr, t.get()));
  auto im = DefaultImage();
  EXPECT_FALSE(HubAppendTank(im.get(), nullptr));
  // On a zero image the record would land on the header.
  auto zero = ZeroImage();
  EXPECT_FALSE(HubAppendTank(zero.get(), t.get()));
  EXPECT_EQ(zero->bytes, ZeroImage()->bytes);
}

TEST(HubImage, LitresSurviveTheRoundTripThroughVolumeUnits) {
  auto im = DefaultImage();
  auto t = Table(2, 1, 10);
  t->Points[0] = {1234, 12.5f};
  ASSERT_TRUE(HubAppendTank(im.get(), t.get()));
  const auto r = HubFindTank(im.get(), 2);
  ASSERT_TRUE(r);
  EXPECT_EQ(HubTankPoint(*im, *r, 0)->Volume, 1250);

  auto back = std::make_unique<TankTable>();
  back->TankID = 77;
  ASSERT_TRUE(HubLoadTankTable(im.get(), 2, back.get()));
  EXPECT_EQ(back->TableLen, 1);
  EXPECT_EQ(back->MlPerUnit, 10);
  EXPECT_EQ(back->Points[0].Level, 1234);
  EXPECT_EQ(back->Points[0].Litres, 12.5f);
  EXPECT_EQ(back->TankID, 77) << "the table's own words are not touched";

  // No record: the table stays as it was.
  EXPECT_FALSE(HubLoadTankTable(im.get(), 9, back.get()));
  EXPECT_EQ(back->TableLen, 1);
}

TEST(HubImage, VolumeWordsRoundHalfUpAndNeverWrap) {
  struct Case {
    float litres;
    std::uint16_t unit;
    std::uint16_t volume;
  };
  const Case cases[] = {
      {12.5f, 10, 1250}, {0.0004f, 1, 0}, {0.0005f, 1, 1},   {65.535f, 1, 65535}, {1.0f, 1000, 1},
      {0.4f, 1000, 0},   {0.5f, 1000, 1}, {70.0f, 1, 65535}, {-5.0f, 1, 0},       {3.0f, 0, 3000},
  };
  for (const Case& c : cases)
    EXPECT_EQ(HubVolumeFromLitres(c.litres, c.unit), c.volume) << c.litres << " l, " << c.unit << " ml";
  EXPECT_EQ(HubLitresFromVolume(1250, 10), 12.5f);
  EXPECT_EQ(HubLitresFromVolume(65535, 10000), 655350.0625f) << "rounded twice in single precision";
}

TEST(HubImage, OutputResolutionIndex) {
  const std::pair<std::uint16_t, int> fromImage[] = {{0, -1},  {1, 0},   {9, 0},    {10, 1},    {50, 1},
                                                     {100, 2}, {999, 2}, {1000, 3}, {10000, 4}, {65535, 4}};
  for (const auto& [word, index] : fromImage) EXPECT_EQ(MlPerBitIndexFromImage(word), index) << word;
  const std::pair<int, std::uint16_t> toImage[] = {{-1, 0},   {0, 1},     {1, 10}, {2, 100},
                                                   {3, 1000}, {4, 10000}, {5, 0}};
  for (const auto& [index, word] : toImage) EXPECT_EQ(MlPerBitFromIndex(index), word) << index;

  // The page's list position for an image: none for MlPerBit 0, the 10 ml
  // entry for an odd 50.
  auto im = DefaultImage();
  EXPECT_EQ(MlPerBitIndex(im.get()), 0);
  HubSetWord(*im, HubOffMlPerBit, 0);
  EXPECT_EQ(MlPerBitIndex(im.get()), -1);
  HubSetWord(*im, HubOffMlPerBit, 50);
  EXPECT_EQ(MlPerBitIndex(im.get()), 1);
  EXPECT_EQ(MlPerBitIndex(nullptr), -1);
}

TEST(HubImage, StoringTheCalibrationTableIntoTheCustomRecord) {
  auto im = DefaultImage();
  auto t = Table(0, 50, 0);
  RecordingUi ui;
  EXPECT_EQ(HubStoreCustomTable(im.get(), t.get(), 2, CustomTankID, ui), HubStoreResult::Stored);
  EXPECT_TRUE(ui.errors.empty());
  EXPECT_TRUE(ui.questions.empty());
  EXPECT_EQ(t->MlPerUnit, 1) << "a table without unit gets 1 ml";
  EXPECT_TRUE(HubIsValid(im.get()));
  EXPECT_EQ(HubReadHeader(*im).MlPerBit, 100);
  EXPECT_EQ(HubReadHeader(*im).Size, 236);
  const auto r = HubFindTank(im.get(), CustomTankID);
  ASSERT_TRUE(r);
  EXPECT_EQ(r->Size, 210);
  EXPECT_EQ(r->TableLen, 50);
  EXPECT_EQ(r->MlPerUnit, 1);
  EXPECT_EQ(HubTankPoint(*im, *r, 49)->Level, 500);
  EXPECT_EQ(HubTankPoint(*im, *r, 49)->Volume, 24500);
}

TEST(HubImage, StoringIntoATooSmallCustomRecordChangesNothing) {
  auto im = DefaultImage();
  HubSetWord(*im, 26, 90);  // room for 20 points
  HubSeal(im.get());
  const HubImage before = *im;
  // Reported in a Yes/No box; neither answer stores anything.
  for (bool answer : {true, false}) {
    RecordingUi ui;
    ui.answers = {answer};
    EXPECT_EQ(HubStoreCustomTable(im.get(), Table(0, 21, 1).get(), 0, CustomTankID, ui),
              HubStoreResult::TableTooBig);
    EXPECT_EQ(ui.questions, std::vector<std::string>{"msg_table_too_big"});
    EXPECT_TRUE(ui.errors.empty());
    EXPECT_EQ(im->bytes, before.bytes);
  }
  // 20 points fill it exactly.
  RecordingUi ui;
  EXPECT_EQ(HubStoreCustomTable(im.get(), Table(0, 20, 1).get(), 0, CustomTankID, ui),
            HubStoreResult::Stored);
}

TEST(HubImage, StoringWithAnotherTankSelectedWritesOnlyTheResolution) {
  auto im = DefaultImage();
  RecordingUi ui;
  EXPECT_EQ(HubStoreCustomTable(im.get(), Table(0, 5, 1).get(), -1, 2, ui), HubStoreResult::ResolutionOnly);
  EXPECT_EQ(HubReadHeader(*im).MlPerBit, 0);
  EXPECT_EQ(HubFindTank(im.get(), CustomTankID)->TableLen, 0);
  EXPECT_TRUE(HubIsValid(im.get()));
}

TEST(HubImage, StoringIntoAnInvalidImageAsksFirst) {
  {
    auto im = ZeroImage();
    RecordingUi ui;
    ui.answers = {true};
    EXPECT_EQ(HubStoreCustomTable(im.get(), Table(0, 3, 1).get(), 1, CustomTankID, ui),
              HubStoreResult::Stored);
    EXPECT_EQ(ui.questions, std::vector<std::string>{"msg_hub_wrong"});
    EXPECT_TRUE(HubIsValid(im.get()));
    EXPECT_EQ(HubFindTank(im.get(), CustomTankID)->TableLen, 3);
    EXPECT_EQ(HubReadHeader(*im).MlPerBit, 10);
  }
  {
    // No: the zero image has no custom record, so nothing is touched.
    auto im = ZeroImage();
    RecordingUi ui;
    ui.answers = {false};
    EXPECT_EQ(HubStoreCustomTable(im.get(), Table(0, 3, 1).get(), 1, CustomTankID, ui),
              HubStoreResult::NoCustomRecord);
    EXPECT_EQ(im->bytes, ZeroImage()->bytes);
  }
}

// Images from a device: every claim in them may be false.
TEST(HubImage, HostileImagesAreReadInsideTheBufferAndTheirSize) {
  {
    // Records and points past the image's Size are not read.
    auto im = ZeroImage();
    HubSetWord(*im, 0, 100);
    HubSetWord(*im, 16, 200);  // record claims 200 bytes
    HubSetWord(*im, 16 + 2, 7);
    HubSetWord(*im, 16 + 6, 50);
    const auto r = HubFirstTank(im.get());
    ASSERT_TRUE(r);
    EXPECT_EQ(HubReadablePoints(*im, *r), (100u - 26u) / 4u);
    EXPECT_FALSE(HubTankPoint(*im, *r, 18));
    EXPECT_FALSE(HubNextTank(im.get(), *r));
    auto t = std::make_unique<TankTable>();
    ASSERT_TRUE(HubLoadTankTable(im.get(), 7, t.get()));
    EXPECT_EQ(t->TableLen, 18);
  }
  {
    // An image too short for a record header has no records.
    auto im = ZeroImage();
    HubSetWord(*im, 0, 25);
    HubSetWord(*im, 16, 10);
    EXPECT_FALSE(HubFirstTank(im.get()));
    EXPECT_TRUE(HubListTanks(im.get()).empty());
  }
  {
    // TableLen 65535 in a record filling the whole buffer: only what the
    // image holds is read, and no more than the table holds is copied.
    auto im = ZeroImage();
    HubSetWord(*im, 0, 65535);
    HubSetWord(*im, 16, 65535);
    HubSetWord(*im, 16 + 2, 3);
    HubSetWord(*im, 16 + 6, 65535);
    const auto r = HubFindTank(im.get(), 3);
    ASSERT_TRUE(r);
    EXPECT_EQ(HubReadablePoints(*im, *r), (65535u - 26u) / 4u);
    auto t = std::make_unique<TankTable>();
    ASSERT_TRUE(HubLoadTankTable(im.get(), 3, t.get()));
    EXPECT_EQ(t->TableLen, TankTableMaxPoints);
    EXPECT_FALSE(HubNextTank(im.get(), *r));
  }
  {
    // Records of 2 bytes overlap their neighbours; the walk still ends,
    // and such a record has no points.
    auto im = ZeroImage();
    HubSetWord(*im, 0, 65535);
    for (std::size_t off = 16; off + 1 < HubBufferSize; off += 2) HubSetWord(*im, off, 2);
    const auto list = HubListTanks(im.get());
    EXPECT_EQ(list.size(), (65524u - 16u) / 2u + 1u);
    EXPECT_EQ(list.back().Offset, 65524u);
    EXPECT_EQ(HubReadablePoints(*im, list.front()), 0u);
  }
  {
    // A custom record whose Size runs past the image cannot take points
    // there, whatever room it claims.
    auto im = DefaultImage();
    HubSetWord(*im, 0, 60);
    HubSeal(im.get());
    const HubImage before = *im;
    RecordingUi ui;
    EXPECT_EQ(HubStoreCustomTable(im.get(), Table(0, 10, 1).get(), 0, CustomTankID, ui),
              HubStoreResult::TableTooBig);
    EXPECT_EQ(im->bytes, before.bytes);
  }
  {
    // The room needed is not taken modulo 16 bits: 16382 points would
    // wrap to a record of 2 bytes and seem to fit the 210 of the record.
    auto im = DefaultImage();
    const HubImage before = *im;
    auto t = std::make_unique<TankTable>();
    t->TableLen = 16382;
    RecordingUi ui;
    EXPECT_EQ(HubStoreCustomTable(im.get(), t.get(), 0, CustomTankID, ui), HubStoreResult::TableTooBig);
    EXPECT_EQ(im->bytes, before.bytes);
  }
}

TEST(HubImage, UnitForTheLargestVolume) {
  const std::pair<float, std::uint32_t> cases[] = {
      {0.0f, 1},      {-3.0f, 1},      {5.0f, 1},        {65.53f, 1},        {65.535f, 10},      {600.0f, 10},
      {6553.5f, 100}, {6553.6f, 1000}, {65535.0f, 1000}, {650000.0f, 10000}, {655350.0f, 10000},
  };
  for (const auto& [largest, unit] : cases) EXPECT_EQ(MlPerUnitForLargest(largest), unit) << largest;
  EXPECT_GT(MlPerUnitForLargest(655351.0f), 65535u);
  EXPECT_GT(MlPerUnitForLargest(3e38f), 65535u);
}

}  // namespace

}  // namespace kl
