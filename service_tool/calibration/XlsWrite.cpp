// .xls (Excel 97-2003, BIFF8) writing.
//
// Written by hand because no library packaged for Debian writes BIFF8 (the
// packaged ones read it, or write only .xlsx), and the exchange needs very
// little of the format: named sheets of numbers and texts with the first
// sheet active. The workbook is the classic minimum that Excel, LibreOffice,
// xlrd and FreeXL all open: the globals (BOF, CODEPAGE, WINDOW1, five FONTs,
// sixteen XFs, STYLE, one BOUNDSHEET per sheet, EOF), then each sheet (BOF,
// DIMENSIONS, WINDOW2, NUMBER and LABEL cells, EOF). It goes into a compound
// file of version 3 (512-byte sectors) holding the one stream "Workbook",
// padded to 4096 bytes so that it lives in ordinary sectors and the file
// needs no mini stream. The tests read what it writes back with three
// independent readers.
#include <QString>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>

#include "Workbook.h"

namespace kl {
namespace {

class Bytes {
 public:
  void U8(unsigned v) { b_.push_back(static_cast<std::uint8_t>(v)); }
  void U16(unsigned v) {
    U8(v & 0xFF);
    U8((v >> 8) & 0xFF);
  }
  void U32(std::uint32_t v) {
    U16(v & 0xFFFF);
    U16(v >> 16);
  }
  void F64(double v) {
    std::uint64_t bits = 0;
    std::memcpy(&bits, &v, sizeof bits);
    U32(static_cast<std::uint32_t>(bits));
    U32(static_cast<std::uint32_t>(bits >> 32));
  }
  void Raw(const Bytes& o) { b_.insert(b_.end(), o.b_.begin(), o.b_.end()); }
  void PutU32At(std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b_[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
  }
  std::size_t size() const { return b_.size(); }
  const std::vector<std::uint8_t>& data() const { return b_; }
  std::vector<std::uint8_t>& data() { return b_; }

 private:
  std::vector<std::uint8_t> b_;
};

// The text as UTF-16 code units.
std::u16string Utf16(const std::string& utf8) { return QString::fromUtf8(utf8).toStdU16String(); }

void Record(Bytes& out, unsigned type, const Bytes& body) {
  out.U16(type);
  out.U16(static_cast<unsigned>(body.size()));
  out.Raw(body);
}

void Bof(Bytes& out, unsigned kind) {
  Bytes b;
  b.U16(0x0600);  // BIFF8
  b.U16(kind);    // 0x0005 globals, 0x0010 worksheet
  b.U16(0x0DBB);  // build
  b.U16(0x07CC);  // year
  b.U32(0);
  b.U32(0x00000006);
  Record(out, 0x0809, b);
}

void Eof(Bytes& out) { Record(out, 0x000A, Bytes{}); }

void Font(Bytes& out) {
  Bytes b;
  b.U16(200);     // 10 pt
  b.U16(0);       // no attributes
  b.U16(0x7FFF);  // automatic colour
  b.U16(400);     // normal weight
  b.U16(0);
  b.U8(0);
  b.U8(0);
  b.U8(0);
  b.U8(0);
  const char* name = "Arial";
  b.U8(static_cast<unsigned>(std::strlen(name)));
  b.U8(0);  // 8-bit characters
  for (const char* p = name; *p; ++p) b.U8(static_cast<unsigned char>(*p));
  Record(out, 0x0031, b);
}

void Xf(Bytes& out, bool style) {
  Bytes b;
  b.U16(0);                        // font
  b.U16(0);                        // number format: General
  b.U16(style ? 0xFFF5 : 0x0001);  // locked; a style XF has no parent
  b.U8(0x20);                      // bottom aligned
  b.U8(0);
  b.U8(0);
  b.U8(style ? 0xF4 : 0x00);  // attributes taken from the style
  b.U32(0);
  b.U32(0);
  b.U16(0x20C0);  // pattern colours: automatic
  Record(out, 0x00E0, b);
}

// A text with the 16-bit length (cells) or the 8-bit length (sheet names),
// always stored as UTF-16.
void UnicodeString(Bytes& b, const std::u16string& s, bool shortLength) {
  if (shortLength)
    b.U8(static_cast<unsigned>(s.size()));
  else
    b.U16(static_cast<unsigned>(s.size()));
  b.U8(0x01);
  for (char16_t c : s) b.U16(c);
}

constexpr unsigned kCellXf = 15;
// A LABEL record holds at most this many characters.
constexpr std::size_t kMaxLabel = 255;
constexpr std::size_t kMaxSheetName = 31;
constexpr int kMaxColumns = 256;

bool WriteSheet(Bytes& out, const XlsSheet& s, bool active, std::string& why) {
  Bof(out, 0x0010);
  Bytes dim;
  const int lastRow = s.LastRow();
  const int lastCol = s.LastColumn();
  if (lastRow > XlsMaxRows || lastCol > kMaxColumns) {
    why = "sheet \"" + s.name + "\" is larger than an .xls sheet (65536 rows, 256 columns)";
    return false;
  }
  dim.U32(0);
  dim.U32(static_cast<std::uint32_t>(lastRow));
  dim.U16(0);
  dim.U16(static_cast<unsigned>(lastCol));
  dim.U16(0);
  Record(out, 0x0200, dim);
  Bytes w2;
  w2.U16(active ? 0x06B6 : 0x00B6);  // grid, headers, zeros, outline; selected and shown when active
  w2.U16(0);
  w2.U16(0);
  w2.U16(0x40);
  w2.U16(0);
  w2.U16(0);
  w2.U16(0);
  w2.U32(0);
  Record(out, 0x023E, w2);
  for (const auto& [pos, cell] : s.cells) {
    Bytes c;
    c.U16(static_cast<unsigned>(pos.first - 1));
    c.U16(static_cast<unsigned>(pos.second - 1));
    c.U16(kCellXf);
    switch (cell.kind) {
      case XlsCell::Kind::Number:
        c.F64(cell.number);
        Record(out, 0x0203, c);
        break;
      case XlsCell::Kind::Bool:
        c.U8(cell.number != 0.0 ? 1 : 0);
        c.U8(0);  // a truth value, not an error
        Record(out, 0x0205, c);
        break;
      case XlsCell::Kind::Text: {
        const std::u16string t = Utf16(cell.text);
        if (t.size() > kMaxLabel) {
          why =
              "a text in sheet \"" + s.name + "\" is longer than the 255 characters an .xls cell holds here";
          return false;
        }
        UnicodeString(c, t, false);
        Record(out, 0x0204, c);
        break;
      }
    }
  }
  Eof(out);
  return true;
}

// The BIFF8 "Workbook" stream.
bool WorkbookStream(const Workbook& book, Bytes& out, std::string& why) {
  if (book.sheets.empty() || book.sheets.size() > XlsMaxSheets) {
    why = "a workbook needs 1 to " + std::to_string(XlsMaxSheets) + " sheets";
    return false;
  }
  Bof(out, 0x0005);
  Bytes cp;
  cp.U16(1200);  // texts are UTF-16
  Record(out, 0x0042, cp);
  Bytes w1;
  w1.U16(0);
  w1.U16(0);
  w1.U16(0x3A5C);
  w1.U16(0x23BE);
  w1.U16(0x0038);  // horizontal and vertical scroll bars, sheet tabs
  w1.U16(static_cast<unsigned>(book.active < book.sheets.size() ? book.active : 0));
  w1.U16(0);
  w1.U16(1);
  w1.U16(0x0258);
  Record(out, 0x003D, w1);
  // Font 4 does not exist in BIFF; five records fill indexes 0..3 and 5.
  for (int i = 0; i < 5; ++i) Font(out);
  for (int i = 0; i < 15; ++i) Xf(out, true);
  Xf(out, false);
  Bytes style;
  style.U16(0x8000);  // built-in style of XF 0
  style.U8(0);        // Normal
  style.U8(0xFF);
  Record(out, 0x0293, style);
  std::vector<std::size_t> positionAt;
  for (const XlsSheet& s : book.sheets) {
    const std::u16string name = Utf16(s.name);
    if (name.empty() || name.size() > kMaxSheetName) {
      why = "the sheet name \"" + s.name + "\" cannot be used (1 to 31 characters)";
      return false;
    }
    Bytes b;
    b.U32(0);  // stream position of the sheet's BOF, set below
    b.U8(0);   // visible
    b.U8(0);   // worksheet
    UnicodeString(b, name, true);
    positionAt.push_back(out.size() + 4);
    Record(out, 0x0085, b);
  }
  Eof(out);
  for (std::size_t i = 0; i < book.sheets.size(); ++i) {
    out.PutU32At(positionAt[i], static_cast<std::uint32_t>(out.size()));
    if (!WriteSheet(out, book.sheets[i], i == book.active, why)) return false;
  }
  return true;
}

constexpr std::uint32_t kEndOfChain = 0xFFFFFFFE;
constexpr std::uint32_t kFatSector = 0xFFFFFFFD;
constexpr std::uint32_t kFree = 0xFFFFFFFF;
constexpr std::size_t kSector = 512;
constexpr std::size_t kMaxHeaderFat = 109;

void DirEntry(Bytes& d, const std::u16string& name, unsigned type, std::uint32_t child, std::uint32_t start,
              std::uint32_t size) {
  const std::size_t begin = d.size();
  for (char16_t c : name) d.U16(c);
  while (d.size() < begin + 64) d.U8(0);
  d.U16(name.empty() ? 0 : static_cast<unsigned>((name.size() + 1) * 2));
  d.U8(type);
  d.U8(name.empty() ? 0 : 1);  // black
  d.U32(kFree);                // left sibling
  d.U32(kFree);                // right sibling
  d.U32(child);
  for (int i = 0; i < 16; ++i) d.U8(0);  // class id
  d.U32(0);                              // state bits
  for (int i = 0; i < 16; ++i) d.U8(0);  // times
  d.U32(start);
  d.U32(size);
  d.U32(0);
}

// The compound file around one stream named "Workbook".
bool CompoundFile(const Bytes& stream, Bytes& file, std::string& why) {
  std::vector<std::uint8_t> data = stream.data();
  if (data.size() < 4096) data.resize(4096, 0);
  const std::size_t dataSectors = (data.size() + kSector - 1) / kSector;
  data.resize(dataSectors * kSector, 0);
  const std::size_t dirSectors = 1;
  std::size_t fatSectors = 1;
  while ((dataSectors + dirSectors + fatSectors) > fatSectors * (kSector / 4)) ++fatSectors;
  if (fatSectors > kMaxHeaderFat) {
    why = "the workbook is too large for an .xls file";
    return false;
  }
  const std::uint32_t dirStart = static_cast<std::uint32_t>(dataSectors);
  const std::uint32_t fatStart = dirStart + dirSectors;

  // Header.
  static const std::uint8_t sig[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
  for (std::uint8_t b : sig) file.U8(b);
  for (int i = 0; i < 16; ++i) file.U8(0);
  file.U16(0x003E);
  file.U16(0x0003);
  file.U16(0xFFFE);
  file.U16(9);  // 512-byte sectors
  file.U16(6);  // 64-byte mini sectors
  for (int i = 0; i < 6; ++i) file.U8(0);
  file.U32(0);  // directory sectors (always 0 in version 3)
  file.U32(static_cast<std::uint32_t>(fatSectors));
  file.U32(dirStart);
  file.U32(0);
  file.U32(4096);  // mini stream cut-off
  file.U32(kEndOfChain);
  file.U32(0);
  file.U32(kEndOfChain);
  file.U32(0);
  for (std::size_t i = 0; i < kMaxHeaderFat; ++i)
    file.U32(i < fatSectors ? fatStart + static_cast<std::uint32_t>(i) : kFree);

  // The stream, then the directory, then the allocation table.
  file.data().insert(file.data().end(), data.begin(), data.end());
  Bytes dir;
  DirEntry(dir, u"Root Entry", 5, 1, kEndOfChain, 0);
  DirEntry(dir, u"Workbook", 2, kFree, 0, static_cast<std::uint32_t>(data.size()));
  DirEntry(dir, u"", 0, kFree, 0, 0);
  DirEntry(dir, u"", 0, kFree, 0, 0);
  file.Raw(dir);
  for (std::size_t i = 0; i < fatSectors * (kSector / 4); ++i) {
    std::uint32_t next = kFree;
    if (i < dataSectors)
      next = i + 1 < dataSectors ? static_cast<std::uint32_t>(i + 1) : kEndOfChain;
    else if (i == dirStart)
      next = kEndOfChain;
    else if (i >= fatStart && i < fatStart + fatSectors)
      next = kFatSector;
    file.U32(next);
  }
  return true;
}

}  // namespace

bool WriteXls(const std::string& path, const Workbook& book, std::string& why) {
  Bytes stream;
  if (!WorkbookStream(book, stream, why)) return false;
  Bytes file;
  if (!CompoundFile(stream, file, why)) return false;
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> f(std::fopen(path.c_str(), "wb"), std::fclose);
  if (!f) {
    why = "the file cannot be created";
    return false;
  }
  const auto& bytes = file.data();
  if (std::fwrite(bytes.data(), 1, bytes.size(), f.get()) != bytes.size() || std::fflush(f.get()) != 0) {
    why = "the file cannot be written (disk full?)";
    return false;
  }
  if (std::fclose(f.release()) != 0) {
    why = "the file cannot be written (disk full?)";
    return false;
  }
  return true;
}

}  // namespace kl
