// libFuzzer target: the image operations over arbitrary 65536-byte images.
//
// The input is laid over the default image, so short inputs explore damaged
// headers and records of an otherwise sound image, and inputs of 65536 bytes
// are whole images of any content. Every operation a device image meets runs
// on it, and the invariants the operations promise are checked; a violation
// traps, and AddressSanitizer catches any access outside the buffers.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "HubData.h"
#include "TareRows.h"
#include "TareUi.h"

namespace {

void Check(bool ok) {
  if (!ok) __builtin_trap();
}

// Answers questions from the input's last bytes, so both answers get explored.
struct ScriptedUi : TareUi {
  std::uint8_t bits = 0;
  void ShowError(std::string_view key, int) override { Check(!key.empty()); }
  bool AskYesNo(std::string_view) override {
    const bool yes = bits & 1;
    bits = static_cast<std::uint8_t>(bits >> 1 | bits << 7);
    return yes;
  }
};

std::uint16_t WordSum(const HubImage& im) {
  std::uint16_t s = 0;
  for (std::size_t i = 0; i < HubWord(im, 0) / 2u; ++i)
    s = static_cast<std::uint16_t>(s + HubWord(im, 2 * i));
  return s;
}

// The sum a seal makes 0; an image shorter than 4 bytes does not cover its
// own Checksum word, so no seal can zero it and none is expected to.
bool Sealed(const HubImage& im) { return HubReadHeader(im).Size < 4 || WordSum(im) == 0; }

// Bytes at and beyond `from` are the same in both images.
bool SameFrom(const HubImage& a, const HubImage& b, std::size_t from) {
  return from >= HubBufferSize ||
         std::memcmp(a.bytes.data() + from, b.bytes.data() + from, HubBufferSize - from) == 0;
}

void WalkAndCheck(const HubImage& im) {
  const std::size_t size = HubReadHeader(im).Size;
  std::uint32_t last = 0;
  bool first = true;
  for (const TankRecord& r : HubListTanks(&im)) {
    Check(r.Offset + TankRecordHeaderSize <= size);
    Check(first || r.Offset > last);
    first = false;
    last = r.Offset;
    const std::size_t n = HubReadablePoints(im, r);
    Check(n <= r.TableLen);
    if (n) {
      Check(r.Offset + TankRecordHeaderSize + n * TankPointSize <= size);
      Check(TankRecordHeaderSize + n * TankPointSize <= r.Size);
      Check(HubTankPoint(im, r, n - 1).has_value());
    }
    Check(!HubTankPoint(im, r, n).has_value());
    const auto found = HubFindTank(&im, r.TankID);
    Check(found && found->Offset <= r.Offset);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static auto image = std::make_unique<HubImage>();
  static auto work = std::make_unique<HubImage>();
  static auto table = std::make_unique<TankTable>();
  static auto stored = std::make_unique<TankTable>();

  image->bytes.fill(0);
  HubMakeDefault(image.get());
  std::memcpy(image->bytes.data(), data, std::min(size, HubBufferSize));
  const std::uint8_t tail = size ? data[size - 1] : 0;
  const std::uint8_t tail2 = size > 1 ? data[size - 2] : 0;

  const HubImage& im = *image;
  const bool valid = HubIsValid(&im);
  Check(!valid || HubComputeChecksum(&im) == 0xFFFF);
  Check(!HubVersionText(&im).empty());
  const int index = MlPerBitIndexFromImage(HubReadHeader(im).MlPerBit);
  Check(index >= -1 && index <= 4);
  WalkAndCheck(im);

  // Load the first record's tank and the custom tank, show them as rows and
  // commit them back, as the calibration window does.
  ScriptedUi ui;
  ui.bits = tail;
  const auto firstRec = HubFirstTank(&im);
  for (std::uint16_t id : {firstRec ? firstRec->TankID : std::uint16_t{0}, CustomTankID}) {
    table->TableLen = 0;
    if (HubLoadTankTable(&im, id, table.get())) {
      const auto r = HubFindTank(&im, id);
      Check(r && table->TableLen == std::min(HubReadablePoints(im, *r), TankTableMaxPoints));
    }
    TareRows rows;
    rows.locale.decimal_point = (tail2 & 1) ? "," : ".";
    TareLoad(rows, *table);
    Check(TareRowCount(rows) >= 1 &&
          static_cast<std::size_t>(TareRowCount(rows)) <= std::max<std::size_t>(table->TableLen, 1));
    if (TareCommit(rows, *stored, ui) == TareCommitResult::Stored) {
      Check(stored->TableLen <= TareMaxPoints);
      Check(stored->MlPerUnit >= 1 && stored->MlPerUnit <= 10000);
      // Every stored volume codes in 16 bits without wrapping.
      for (std::size_t i = 0; i < stored->TableLen; ++i) {
        const double units = static_cast<double>(stored->Points[i].Litres) * 1000.0 / stored->MlPerUnit;
        Check(units >= 0.0 && units + 0.5 < 65536.0);
      }
    }
  }

  // Store the calibration table into a copy: nothing beyond the image may
  // change, and a completed store leaves a sealed image.
  *work = im;
  const int selected = (tail2 >> 1) & 1 ? CustomTankID : (tail2 >> 2);
  const HubStoreResult res =
      HubStoreCustomTable(work.get(), stored.get(), (tail2 >> 4) % 7 - 1, selected, ui);
  if (res == HubStoreResult::Stored || res == HubStoreResult::ResolutionOnly) {
    Check(Sealed(*work));
    WalkAndCheck(*work);
  }
  if (valid) {
    // No question, so no default image: a refused store changes nothing,
    // a completed one nothing beyond the image's end.
    if (res == HubStoreResult::NoCustomRecord || res == HubStoreResult::TableTooBig)
      Check(work->bytes == im.bytes);
    else
      Check(SameFrom(*work, im, HubReadHeader(im).Size));
  } else {
    // At most the 236 bytes of a default image besides the image itself.
    Check(SameFrom(*work, im, std::max<std::size_t>(HubReadHeader(im).Size, 236)));
  }

  // Append the loaded table: refused, or a sealed image within 4096 bytes
  // whose bytes beyond the new end are untouched.
  *work = im;
  const std::uint16_t oldSize = HubReadHeader(im).Size;
  if (HubAppendTank(work.get(), table.get())) {
    const std::uint16_t newSize = HubReadHeader(*work).Size;
    Check(newSize <= HubMaxSize && newSize > oldSize);
    Check(Sealed(*work));
    Check(SameFrom(*work, im, newSize));
    WalkAndCheck(*work);
  } else {
    Check(work->bytes == im.bytes);
  }

  HubSeal(work.get());
  Check(Sealed(*work));
  return 0;
}
