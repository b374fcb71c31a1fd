#include "HubData.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "TareUi.h"

namespace kl {

namespace {

std::size_t ImageSize(const HubImage& image) { return HubWord(image, HubOffSize); }

// A record can be read at `offset` only when its five header words lie inside
// the image's Size (which itself never reaches past the buffer).
std::optional<TankRecord> RecordAt(const HubImage& image, std::size_t offset) {
  if (offset + TankRecordHeaderSize > ImageSize(image)) return std::nullopt;
  TankRecord r;
  r.Offset = static_cast<std::uint32_t>(offset);
  r.Size = HubWord(image, offset + 0);
  r.TankID = HubWord(image, offset + 2);
  r.TankHeight = HubWord(image, offset + 4);
  r.TableLen = HubWord(image, offset + 6);
  r.MlPerUnit = HubWord(image, offset + 8);
  return r;
}

std::size_t PointOffset(const TankRecord& r, std::size_t i) {
  return std::size_t{r.Offset} + TankRecordHeaderSize + i * TankPointSize;
}

}  // namespace

std::uint16_t HubWord(const HubImage& image, std::size_t offset) {
  if (offset > HubBufferSize - 2) return 0;
  return static_cast<std::uint16_t>(image.bytes[offset] | (image.bytes[offset + 1] << 8));
}

void HubSetWord(HubImage& image, std::size_t offset, std::uint16_t value) {
  if (offset > HubBufferSize - 2) return;
  image.bytes[offset] = static_cast<std::uint8_t>(value & 0xFF);
  image.bytes[offset + 1] = static_cast<std::uint8_t>(value >> 8);
}

HubHeader HubReadHeader(const HubImage& image) {
  HubHeader h;
  h.Size = HubWord(image, HubOffSize);
  h.Checksum = HubWord(image, HubOffChecksum);
  h.Version = HubWord(image, HubOffVersion);
  h.TankCount = HubWord(image, HubOffTankCount);
  h.MlPerBit = HubWord(image, HubOffMlPerBit);
  return h;
}

std::uint16_t HubComputeChecksum(const HubImage* image) {
  if (!image) return 0;
  const std::size_t words = ImageSize(*image) / 2;
  std::uint16_t sum = 0;
  for (std::size_t i = 0; i < words; ++i) sum = static_cast<std::uint16_t>(sum + HubWord(*image, 2 * i));
  return static_cast<std::uint16_t>(0xFFFF - sum);
}

void HubSeal(HubImage* image) {
  if (!image) return;
  HubSetWord(*image, HubOffChecksum, 0xFFFF);
  HubSetWord(*image, HubOffChecksum, HubComputeChecksum(image));
}

bool HubIsValid(const HubImage* image) {
  if (!image) return false;
  const HubHeader h = HubReadHeader(*image);
  // An image too short to hold its own header would checksum as valid over
  // nothing; it is not an image.
  if (h.Size < HubHeaderSize) return false;
  if (h.Version != HubFormatVersion) return false;
  return HubComputeChecksum(image) == 0xFFFF;
}

std::optional<TankRecord> HubFirstTank(const HubImage* image) {
  if (!image) return std::nullopt;
  return RecordAt(*image, HubHeaderSize);
}

std::optional<TankRecord> HubNextTank(const HubImage* image, const TankRecord& record) {
  if (!image || record.Size == 0) return std::nullopt;
  return RecordAt(*image, std::size_t{record.Offset} + record.Size);
}

std::optional<TankRecord> HubFindTank(const HubImage* image, std::uint16_t id) {
  // Record sizes are never 0 inside the loop, so offsets only grow and the
  // walk ends within the image.
  for (auto r = HubFirstTank(image); r; r = HubNextTank(image, *r))
    if (r->TankID == id) return r;
  return std::nullopt;
}

std::vector<TankRecord> HubListTanks(const HubImage* image) {
  std::vector<TankRecord> list;
  for (auto r = HubFirstTank(image); r; r = HubNextTank(image, *r)) list.push_back(*r);
  return list;
}

std::size_t HubReadablePoints(const HubImage& image, const TankRecord& record) {
  const std::size_t begin = std::size_t{record.Offset} + TankRecordHeaderSize;
  const std::size_t end = std::min<std::size_t>(std::size_t{record.Offset} + record.Size, ImageSize(image));
  if (record.Size < TankRecordHeaderSize || end <= begin) return 0;
  return std::min<std::size_t>(record.TableLen, (end - begin) / TankPointSize);
}

std::optional<TankPoint> HubTankPoint(const HubImage& image, const TankRecord& record, std::size_t i) {
  if (i >= HubReadablePoints(image, record)) return std::nullopt;
  const std::size_t at = PointOffset(record, i);
  return TankPoint{HubWord(image, at), HubWord(image, at + 2)};
}

bool HubMakeDefault(HubImage* image) {
  if (!image) return false;
  HubImage& im = *image;
  HubSetWord(im, HubOffSize, 236);
  HubSetWord(im, HubOffChecksum, 0xFFFF);
  HubSetWord(im, HubOffVersion, HubFormatVersion);
  HubSetWord(im, HubOffTankCount, 2);
  HubSetWord(im, HubOffMlPerBit, 1);
  // Tank 0: no points. TankHeight words are the device's business for IDs
  // 0 and 1 and are left as they were.
  HubSetWord(im, 16 + 0, 10);
  HubSetWord(im, 16 + 2, 0);
  HubSetWord(im, 16 + 6, 0);
  HubSetWord(im, 16 + 8, 1);
  // The custom tank with room for 50 points.
  HubSetWord(im, 26 + 0, 10 + HubDefaultCustomSlots * 4);
  HubSetWord(im, 26 + 2, CustomTankID);
  HubSetWord(im, 26 + 6, 0);
  HubSetWord(im, 26 + 8, 1000);
  for (std::size_t i = 0; i < HubDefaultCustomSlots; ++i) {
    HubSetWord(im, 36 + i * 4, 0);
    HubSetWord(im, 36 + i * 4 + 2, 0);
  }
  HubSeal(image);
  return true;
}

bool HubAppendTank(HubImage* image, const TankTable* table) {
  if (!image || !table) return false;
  HubImage& im = *image;
  const std::size_t size = ImageSize(im);
  // A new record placed below offset 16 would overwrite the header.
  if (size < HubHeaderSize) return false;
  const std::size_t recSize = std::size_t{table->TableLen} * TankPointSize + TankRecordHeaderSize;
  if (size + recSize > HubMaxSize) return false;

  const std::uint16_t mlPerUnit = table->MlPerUnit ? table->MlPerUnit : 1;
  HubSetWord(im, size + 0, static_cast<std::uint16_t>(recSize));
  HubSetWord(im, size + 2, table->TankID);
  HubSetWord(im, size + 4, table->TankHeight);
  HubSetWord(im, size + 6, table->TableLen);
  HubSetWord(im, size + 8, mlPerUnit);
  HubSetWord(im, HubOffSize, static_cast<std::uint16_t>(size + recSize));
  HubSetWord(im, HubOffChecksum, 0xFFFF);
  HubSetWord(im, HubOffTankCount, static_cast<std::uint16_t>(HubWord(im, HubOffTankCount) + 1));
  for (std::size_t i = 0; i < table->TableLen; ++i) {
    const std::size_t at = size + TankRecordHeaderSize + i * TankPointSize;
    HubSetWord(im, at, table->Points[i].Level);
    HubSetWord(im, at + 2, HubVolumeFromLitres(table->Points[i].Litres, mlPerUnit));
  }
  HubSeal(image);
  return true;
}

bool HubLoadTankTable(const HubImage* image, std::uint16_t id, TankTable* table) {
  if (!image || !table) return false;
  const auto r = HubFindTank(image, id);
  if (!r) return false;
  const std::size_t n = std::min(HubReadablePoints(*image, *r), TankTableMaxPoints);
  table->TableLen = static_cast<std::uint16_t>(n);
  table->MlPerUnit = r->MlPerUnit;
  for (std::size_t i = 0; i < n; ++i) {
    const std::size_t at = PointOffset(*r, i);
    table->Points[i].Level = HubWord(*image, at);
    table->Points[i].Litres = HubLitresFromVolume(HubWord(*image, at + 2), r->MlPerUnit);
  }
  return true;
}

HubStoreResult HubStoreCustomTable(HubImage* image, TankTable* table, int mlPerBitIndex, int selectedTankId,
                                   TareUi& ui) {
  if (!image || !table) return HubStoreResult::NoImage;
  if (!HubIsValid(image) && ui.AskYesNo("msg_hub_wrong")) HubMakeDefault(image);

  HubStoreResult result = HubStoreResult::ResolutionOnly;
  if (selectedTankId == CustomTankID) {
    const auto r = HubFindTank(image, CustomTankID);
    if (!r) return HubStoreResult::NoCustomRecord;
    // The room is counted without 16-bit wrap-around, and the record must
    // also lie inside the image: the points are written nowhere else.
    const std::size_t need = std::size_t{table->TableLen} * TankPointSize + TankRecordHeaderSize;
    const std::size_t size = ImageSize(*image);
    if (table->TableLen > TankTableMaxPoints || r->Size < need || std::size_t{r->Offset} + need > size) {
      // Reported in a Yes/No box like the other image messages; the
      // answer changes nothing.
      (void)ui.AskYesNo("msg_table_too_big");
      return HubStoreResult::TableTooBig;
    }
    if (table->MlPerUnit == 0) table->MlPerUnit = 1;
    HubSetWord(*image, r->Offset + 6, table->TableLen);
    HubSetWord(*image, r->Offset + 8, table->MlPerUnit);
    for (std::size_t i = 0; i < table->TableLen; ++i) {
      const std::size_t at = PointOffset(*r, i);
      HubSetWord(*image, at, table->Points[i].Level);
      HubSetWord(*image, at + 2, HubVolumeFromLitres(table->Points[i].Litres, table->MlPerUnit));
    }
    result = HubStoreResult::Stored;
  }
  HubSetWord(*image, HubOffMlPerBit, MlPerBitFromIndex(mlPerBitIndex));
  HubSeal(image);
  return result;
}

std::string HubVersionText(const HubImage* image) {
  if (!image) return {};
  const std::uint16_t v = HubWord(*image, HubOffVersion);
  char buf[16];
  std::snprintf(buf, sizeof buf, "%u.%02X", static_cast<unsigned>(v >> 8), static_cast<unsigned>(v & 0xFF));
  return buf;
}

int MlPerBitIndex(const HubImage* image) {
  return image ? MlPerBitIndexFromImage(HubWord(*image, HubOffMlPerBit)) : -1;
}

int MlPerBitIndexFromImage(std::uint16_t mlPerBit) {
  // truncate(log10(x)) counted in integers, so that 1000 is exactly 3.
  if (mlPerBit == 0) return -1;
  int index = 0;
  for (unsigned v = mlPerBit; v >= 10; v /= 10) ++index;
  return index;
}

std::uint16_t MlPerBitFromIndex(int index) {
  static constexpr std::uint16_t kValues[] = {1, 10, 100, 1000, 10000};
  if (index < 0 || index > 4) return 0;
  return kValues[index];
}

std::uint16_t HubVolumeFromLitres(float litres, std::uint16_t mlPerUnit) {
  const double unit = mlPerUnit ? mlPerUnit : 1;
  const double v = static_cast<double>(litres) * 1000.0 / unit + 0.5;
  if (!(v >= 0.0)) return 0;  // also NaN
  if (v >= 65535.0) return 65535;
  return static_cast<std::uint16_t>(v);
}

float HubLitresFromVolume(std::uint16_t volume, std::uint16_t mlPerUnit) {
  const float units = static_cast<float>(volume);
  const float scaled = static_cast<float>(static_cast<double>(units) * 0.001);
  return static_cast<float>(static_cast<double>(scaled) * mlPerUnit);
}

std::uint32_t MlPerUnitForLargest(float largest) {
  const double x = static_cast<double>(largest) * 1000.0 / 65535.0;
  if (!(x > 0.0)) return 1;
  // 10 to the smallest whole power >= log10(x), counted in integers so that
  // an exact power of ten is not pushed up by the rounding of log10.
  std::uint32_t unit = 1;
  while (unit < x && unit <= 100000) unit *= 10;
  return unit;
}

}  // namespace kl
