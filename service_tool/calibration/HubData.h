// HUB_DATA: the preset tank table image the sensor keeps, byte for byte.
//
// The image is a run of unsigned 16-bit little-endian words: a 16-byte header
// followed by tank records placed back to back. It travels to and from the
// sensor in 128-byte blocks, so everything in it is untrusted: every read and
// every write here is bounded by the 65536-byte buffer and by the image's own
// Size word, whatever the header, the record sizes and the point counts claim.
//
// Header (offsets in bytes): 0 Size, 2 Checksum, 4 Version, 6 TankCount,
// 8 MlPerBit, 10..15 reserved (never interpreted, never written).
// Tank record: 0 Size, 2 TankID, 4 TankHeight (0.1 mm), 6 TableLen,
// 8 MlPerUnit, 10 TableLen points of (Level in 0.1 mm, Volume in MlPerUnit ml).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kl {

class TareUi;

inline constexpr std::size_t HubBufferSize = 65536;
inline constexpr std::uint16_t HubFormatVersion = 0x0301;
// Images grown by HubAppendTank stay within this many bytes.
inline constexpr std::uint16_t HubMaxSize = 4096;
inline constexpr std::uint16_t CustomTankID = 1;
inline constexpr std::size_t HubHeaderSize = 16;
inline constexpr std::size_t TankRecordHeaderSize = 10;
inline constexpr std::size_t TankPointSize = 4;
// Point slots of the custom tank record in the default image.
inline constexpr std::uint16_t HubDefaultCustomSlots = 50;

// Byte offsets of the header words.
inline constexpr std::size_t HubOffSize = 0;
inline constexpr std::size_t HubOffChecksum = 2;
inline constexpr std::size_t HubOffVersion = 4;
inline constexpr std::size_t HubOffTankCount = 6;
inline constexpr std::size_t HubOffMlPerBit = 8;

// The image buffer. It starts all zero, which is not a valid image.
struct HubImage {
  std::array<std::uint8_t, HubBufferSize> bytes{};
};
// The name the program's messages use for it.
using HUB_DATA = HubImage;

struct HubHeader {
  std::uint16_t Size = 0;
  std::uint16_t Checksum = 0;
  std::uint16_t Version = 0;
  std::uint16_t TankCount = 0;
  std::uint16_t MlPerBit = 0;
};

// A tank record as found in an image: where it starts and its five header
// words as read from there. It is a copy; the image stays the only truth.
struct TankRecord {
  std::uint32_t Offset = 0;
  std::uint16_t Size = 0;
  std::uint16_t TankID = 0;
  std::uint16_t TankHeight = 0;
  std::uint16_t TableLen = 0;
  std::uint16_t MlPerUnit = 0;
};

struct TankPoint {
  std::uint16_t Level = 0;   // 0.1 mm
  std::uint16_t Volume = 0;  // units of MlPerUnit millilitres
};

// The float form of a tank record: the calibration table, and the source of
// HubAppendTank. It models the 65536-byte calibration buffer: five words, then
// packed points of a 16-bit level and a 32-bit float, which is what bounds
// TankTableMaxPoints.
struct TankTablePoint {
  std::uint16_t Level = 0;  // 0.1 mm
  float Litres = 0.0f;
};
inline constexpr std::size_t TankTableBufferSize = 65536;
inline constexpr std::size_t TankTableMaxPoints = (TankTableBufferSize - 10) / 6;  // 10921

struct TankTable {
  std::uint16_t Size = 0;  // not maintained
  std::uint16_t TankID = 0;
  std::uint16_t TankHeight = 0;
  std::uint16_t TableLen = 0;
  std::uint16_t MlPerUnit = 0;
  std::array<TankTablePoint, TankTableMaxPoints> Points{};
};

// Word access; words that would lie outside the buffer read as 0 and are not
// written.
std::uint16_t HubWord(const HubImage& image, std::size_t offset);
void HubSetWord(HubImage& image, std::size_t offset, std::uint16_t value);
HubHeader HubReadHeader(const HubImage& image);

// The complement of the wrapping 16-bit sum of the first Size / 2 words (an
// odd last byte is not covered). 0xFFFF for a sealed image.
std::uint16_t HubComputeChecksum(const HubImage* image);
// Stores the Checksum that makes all covered words sum to 0 (an image of
// less than 4 bytes does not cover its own Checksum word).
void HubSeal(HubImage* image);
// Version 0x0301 exactly, a Size that covers the header, and a good checksum.
bool HubIsValid(const HubImage* image);

// The walk. The first record sits at offset 16; the next one Size bytes
// further. A record is only returned when its five header words lie inside
// the image's Size; a record Size of 0 ends the walk. TankCount plays no part.
std::optional<TankRecord> HubFirstTank(const HubImage* image);
std::optional<TankRecord> HubNextTank(const HubImage* image, const TankRecord& record);
// The earliest record with this TankID.
std::optional<TankRecord> HubFindTank(const HubImage* image, std::uint16_t id);
// Every record in walk order.
std::vector<TankRecord> HubListTanks(const HubImage* image);

// How many of the record's points can be read: at most TableLen, and only
// those lying inside both the record's Size and the image's Size.
std::size_t HubReadablePoints(const HubImage& image, const TankRecord& record);
// Point i of the record, when it is readable.
std::optional<TankPoint> HubTankPoint(const HubImage& image, const TankRecord& record, std::size_t i);

// Writes the 236-byte default image (an empty tank 0 and a custom tank with 50
// empty slots) in place and seals it. False only when there is no image.
bool HubMakeDefault(HubImage* image);

// Appends the table as a new record right after the image's last byte.
// Refused (false, image unchanged) when the image would pass HubMaxSize or its
// Size does not even cover the header. A TankID already present is appended
// again; the earlier record keeps winning lookups.
bool HubAppendTank(HubImage* image, const TankTable* table);

// Copies the record of tank id into the table (TableLen, MlPerUnit, points).
// Without such a record the table is left as it was. Only the readable points
// are copied, and no more than the table holds; TableLen says how many were.
// Returns false when nothing was copied for want of a record.
bool HubLoadTankTable(const HubImage* image, std::uint16_t id, TankTable* table);

enum class HubStoreResult {
  Stored,          // the custom record (when selected) and MlPerBit written, sealed
  ResolutionOnly,  // another tank is selected: only MlPerBit written, sealed
  NoCustomRecord,  // the custom tank is selected but the image has no record for it
  TableTooBig,     // the custom record has no room for the table; msg_table_too_big reported
  NoImage,
};

// Writes the calibration table into the custom tank record (when the custom
// tank is the selected one) and the output resolution into the header, then
// seals. An invalid image first asks msg_hub_wrong; Yes rebuilds the default
// image. A custom record without room for the table is reported with
// msg_table_too_big (a Yes/No box, either answer) and nothing is written.
// mlPerBitIndex is the position in the output-resolution list (0 = 1 ml ...
// 4 = 10 l per bit, -1 = none). A table with MlPerUnit 0 gets 1.
HubStoreResult HubStoreCustomTable(HubImage* image, TankTable* table, int mlPerBitIndex, int selectedTankId,
                                   TareUi& ui);

// "3.01" for 0x0301, "3.0A" for 0x030A.
std::string HubVersionText(const HubImage* image);

// Position in the output-resolution list for the image's MlPerBit (-1, no
// selection, also when there is no image).
int MlPerBitIndex(const HubImage* image);
// Position in the output-resolution list for a MlPerBit word: the number of
// decimal digits minus one (1..9 -> 0, 10..99 -> 1, ... 10000.. -> 4), -1 for 0.
int MlPerBitIndexFromImage(std::uint16_t mlPerBit);
// MlPerBit word for a list position 0..4 (1, 10, 100, 1000, 10000); 0 for no
// selection or any other position.
std::uint16_t MlPerBitFromIndex(int index);

// The volume word for a point: litres * 1000 / mlPerUnit, rounded half up.
// Values that cannot be coded in 16 bits are held at 0 or 65535 instead of
// wrapping (NaN gives 0).
std::uint16_t HubVolumeFromLitres(float litres, std::uint16_t mlPerUnit);
// The litres a volume word stands for, in single precision like the sensor's
// own tables.
float HubLitresFromVolume(std::uint16_t volume, std::uint16_t mlPerUnit);

// The smallest power of ten, in millilitres, that lets `largest` litres fit a
// 16-bit Volume; 1 when largest <= 0. May exceed 65535 for more than 655350
// litres: such a unit cannot be stored and the caller must refuse.
std::uint32_t MlPerUnitForLargest(float largest);

}  // namespace kl
