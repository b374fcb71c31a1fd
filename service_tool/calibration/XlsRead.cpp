// .xls reading through FreeXL.
//
// FreeXL reads the whole workbook at open and reserves every sheet's declared
// area (its DIMENSIONS record) in memory, 16 bytes a cell, even for its
// metadata-only open: a 4 KB file declaring a few sheets of 65536 x 256 cells
// takes gigabytes. So before FreeXL sees a file, a small walk of our own
// finds the workbook stream in the compound file and adds up what its records
// declare (sheets, areas, shared strings); a file beyond the limits is
// refused unread. The same walk refuses what FreeXL mishandles on damaged
// files (fuzzing found over-reads and a double free): records running past
// the stream, texts longer than their records, over-long entry names, a
// sheet declaring its area twice. Only cells holding a value count towards
// the used area.
#include <freexl.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "Workbook.h"

namespace kl {
namespace {

// What FreeXL may reserve for one workbook: declared cells over all sheets
// (16 MiB at most; on some damaged files FreeXL does not give them back), and
// entries of the shared string table.
constexpr std::uint64_t kMaxDeclaredCells = 1u << 20;
constexpr std::uint64_t kMaxDeclaredStrings = 1u << 20;

constexpr std::uint32_t kEndOfChain = 0xFFFFFFFE;

std::uint32_t U32(const std::string& b, std::size_t at) {
  if (at + 4 > b.size()) return 0;
  return static_cast<std::uint32_t>(static_cast<unsigned char>(b[at])) |
         static_cast<std::uint32_t>(static_cast<unsigned char>(b[at + 1])) << 8 |
         static_cast<std::uint32_t>(static_cast<unsigned char>(b[at + 2])) << 16 |
         static_cast<std::uint32_t>(static_cast<unsigned char>(b[at + 3])) << 24;
}
std::uint16_t U16(const std::string& b, std::size_t at) {
  if (at + 2 > b.size()) return 0;
  return static_cast<std::uint16_t>(static_cast<unsigned char>(b[at]) | static_cast<unsigned char>(b[at + 1])
                                                                            << 8);
}

// The streams of a compound file, read with every index checked against the
// file and every chain bounded by the number of sectors there are.
class CompoundFile {
 public:
  bool Open(const std::string& path, std::string& why) {
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> f(std::fopen(path.c_str(), "rb"), std::fclose);
    if (!f) {
      why = "the file cannot be opened";
      return false;
    }
    char buf[65536];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, f.get())) > 0;) {
      file_.append(buf, n);
      if (file_.size() > XlsMaxFileBytes) {
        why = "the file is larger than " + std::to_string(XlsMaxFileBytes >> 20) + " MiB";
        return false;
      }
    }
    if (file_.size() < 512) return Damaged(why);
    const unsigned shift = U16(file_, 30);
    if (shift != 9 && shift != 12) return Damaged(why);
    sector_ = std::size_t{1} << shift;
    sectors_ = file_.size() / sector_;  // the header occupies the first
    // The allocation table: its sectors are listed in the header (109) and in
    // a chain of further list sectors.
    std::vector<std::uint32_t> fatSectors;
    const std::uint32_t numFat = U32(file_, 44);
    if (numFat > sectors_) return Damaged(why);
    for (std::size_t i = 0; i < 109 && fatSectors.size() < numFat; ++i)
      fatSectors.push_back(U32(file_, 76 + 4 * i));
    std::uint32_t difat = U32(file_, 68);
    for (std::size_t hops = 0; fatSectors.size() < numFat; ++hops) {
      if (hops > sectors_ || !Valid(difat)) return Damaged(why);
      const std::size_t base = Offset(difat);
      for (std::size_t i = 0; i + 1 < sector_ / 4 && fatSectors.size() < numFat; ++i)
        fatSectors.push_back(U32(file_, base + 4 * i));
      difat = U32(file_, base + sector_ - 4);
    }
    for (std::uint32_t s : fatSectors) {
      if (!Valid(s)) return Damaged(why);
      for (std::size_t i = 0; i < sector_ / 4; ++i) fat_.push_back(U32(file_, Offset(s) + 4 * i));
    }
    std::string dir;
    if (!ReadChain(U32(file_, 48), fat_, sector_, SIZE_MAX, dir, why)) return false;
    for (std::size_t at = 0; at + 128 <= dir.size(); at += 128) entries_.push_back(dir.substr(at, 128));
    if (entries_.empty()) return Damaged(why);
    // FreeXL converts an entry's name by the name length the entry states
    // (found by fuzzing): a name holds at most 32 characters.
    for (const std::string& e : entries_)
      if (U16(e, 64) > 64) return Damaged(why);
    return true;
  }

  // The contents of every stream with one of these names (ASCII, any case).
  bool Streams(const std::vector<std::string>& names, std::vector<std::string>& out, std::string& why) {
    for (const std::string& e : entries_) {
      if (e[66] != 2) continue;  // not a stream
      const std::size_t nameBytes = std::min<std::size_t>(U16(e, 64), 64);
      std::string name;
      for (std::size_t i = 0; i + 1 < nameBytes && (e[i] || e[i + 1]); i += 2)
        name += static_cast<char>(std::tolower(static_cast<unsigned char>(e[i])));
      bool wanted = false;
      for (const std::string& n : names) wanted = wanted || name == n;
      if (!wanted) continue;
      const std::uint32_t start = U32(e, 116);
      const std::size_t size = U32(e, 120);
      if (size > XlsMaxFileBytes) return Damaged(why);
      std::string data;
      if (size < U32(file_, 56)) {
        if (!MiniStream(start, size, data, why)) return false;
      } else if (!ReadChain(start, fat_, sector_, size, data, why)) {
        return false;
      }
      out.push_back(std::move(data));
    }
    return true;
  }

 private:
  bool Damaged(std::string& why) {
    why = "the file is damaged or truncated (its compound file structure does not hold together)";
    return false;
  }
  bool Valid(std::uint32_t s) const { return Offset(s) + sector_ <= file_.size(); }
  std::size_t Offset(std::uint32_t s) const { return (std::size_t{s} + 1) * sector_; }

  // Follows a chain of `unit`-byte sectors through `table`, reading them from
  // `source` (the file, or the mini stream), up to `limit` bytes.
  bool ReadChainFrom(const std::string& source, std::size_t headerUnits, std::uint32_t start,
                     const std::vector<std::uint32_t>& table, std::size_t unit, std::size_t limit,
                     std::string& out, std::string& why) {
    out.clear();
    std::uint32_t s = start;
    for (std::size_t hops = 0; s != kEndOfChain && out.size() < limit; ++hops) {
      const std::size_t at = (std::size_t{s} + headerUnits) * unit;
      // A chain longer than the sectors there are runs in a circle.
      if (hops > source.size() / unit || s >= table.size() || at + unit > source.size()) return Damaged(why);
      out.append(source, at, std::min(unit, limit - out.size()));
      s = table[s];
    }
    if (limit != SIZE_MAX && out.size() < limit) return Damaged(why);
    return true;
  }
  bool ReadChain(std::uint32_t start, const std::vector<std::uint32_t>& table, std::size_t unit,
                 std::size_t limit, std::string& out, std::string& why) {
    return ReadChainFrom(file_, 1, start, table, unit, limit, out, why);
  }
  bool MiniStream(std::uint32_t start, std::size_t size, std::string& out, std::string& why) {
    if (size == 0) return true;
    const std::string& root = entries_.front();
    std::string mini, miniFatBytes;
    const std::size_t miniSize = U32(root, 120);
    if (miniSize > XlsMaxFileBytes) return Damaged(why);
    if (!ReadChain(U32(root, 116), fat_, sector_, miniSize, mini, why)) return false;
    if (!ReadChain(U32(file_, 60), fat_, sector_, SIZE_MAX, miniFatBytes, why)) return false;
    std::vector<std::uint32_t> miniFat;
    for (std::size_t at = 0; at + 4 <= miniFatBytes.size(); at += 4) miniFat.push_back(U32(miniFatBytes, at));
    return ReadChainFrom(mini, 0, start, miniFat, 64, size, out, why);
  }

  std::string file_;
  std::size_t sector_ = 512;
  std::size_t sectors_ = 0;
  std::vector<std::uint32_t> fat_;
  std::vector<std::string> entries_;
};

// Whether a text inside a record fits the record: its length (1 or 2
// bytes) at `at`, then in BIFF8 a flags byte (16-bit characters, rich-text
// runs, phonetic data) and the characters.
bool TextFits(const std::string& s, std::size_t body, std::size_t len, std::size_t at, int lengthBytes,
              bool biff8) {
  if (at + lengthBytes > len) return false;
  std::size_t n = lengthBytes == 1 ? static_cast<unsigned char>(s[body + at]) : U16(s, body + at);
  std::size_t pos = at + lengthBytes;
  if (biff8) {
    if (pos + 1 > len) return false;
    const unsigned flags = static_cast<unsigned char>(s[body + pos]);
    ++pos;
    std::size_t extra = 0;
    if (flags & 0x08) {
      if (pos + 2 > len) return false;
      extra += std::size_t{U16(s, body + pos)} * 4;
      pos += 2;
    }
    if (flags & 0x04) {
      if (pos + 4 > len) return false;
      extra += U32(s, body + pos);
      pos += 4;
    }
    if (flags & 0x01) n *= 2;
    // Rich-text and phonetic data may follow in a continuation; the
    // characters themselves must be here.
    (void)extra;
  }
  return pos + n <= len;
}

// The shared string table of BIFF8: every string, split over the SST record
// and its CONTINUE records, must be there in full.
bool SstHoldsTogether(const std::vector<std::pair<std::size_t, std::size_t>>& parts, const std::string& s) {
  if (parts.empty() || parts[0].second < 8) return true;
  const std::uint32_t unique = U32(s, parts[0].first + 4);
  std::size_t part = 0, pos = 8;
  auto left = [&] { return parts[part].second - pos; };
  auto next = [&] {
    if (++part >= parts.size()) return false;
    pos = 0;
    return true;
  };
  auto need = [&](std::size_t n) {  // n bytes that may not be split
    while (left() == 0)
      if (!next()) return false;
    if (left() < n) return false;
    return true;
  };
  auto skip = [&](std::size_t n) {  // n bytes that may be split
    while (n > 0) {
      while (left() == 0)
        if (!next()) return false;
      const std::size_t take = std::min(n, left());
      pos += take;
      n -= take;
    }
    return true;
  };
  for (std::uint32_t i = 0; i < unique; ++i) {
    if (!need(3)) return false;
    std::size_t chars = U16(s, parts[part].first + pos);
    unsigned flags = static_cast<unsigned char>(s[parts[part].first + pos + 2]);
    pos += 3;
    std::size_t runs = 0, ext = 0;
    if (flags & 0x08) {
      if (!need(2)) return false;
      runs = U16(s, parts[part].first + pos);
      pos += 2;
    }
    if (flags & 0x04) {
      if (!need(4)) return false;
      ext = U32(s, parts[part].first + pos);
      pos += 4;
    }
    while (chars > 0) {
      if (left() == 0) {
        // A string continued in the next record starts with a new flags byte.
        if (!next() || !need(1)) return false;
        flags = static_cast<unsigned char>(s[parts[part].first + pos]);
        ++pos;
      }
      const std::size_t width = (flags & 0x01) ? 2 : 1;
      const std::size_t take = std::min(chars, left() / width);
      if (take == 0) return false;
      pos += take * width;
      chars -= take;
    }
    if (!skip(runs * 4) || !skip(ext)) return false;
  }
  return true;
}

// What the workbook's records declare, against the limits.
bool CheckDeclaredSizes(const std::string& path, std::string& why) {
  CompoundFile cfb;
  if (!cfb.Open(path, why)) return false;
  std::vector<std::string> streams;
  if (!cfb.Streams({"workbook", "book"}, streams, why)) return false;
  if (streams.empty()) {
    why = "the file holds no Excel workbook (it may be encrypted, or another kind of document)";
    return false;
  }
  auto damaged = [&why] {
    why = "the workbook is damaged (its records do not hold together)";
    return false;
  };
  for (const std::string& s : streams) {
    std::uint64_t cells = 0;
    std::size_t sheets = 0;
    // FreeXL follows a record length past the end of its buffers (found by
    // fuzzing), so every record must lie inside the stream and within the
    // format's record size; zeros after the last record are padding.
    // It also copies a text by its declared length without comparing it
    // with its record's (found by fuzzing), so every text, and the shared
    // string table across its continuations, must fit; and the cell records
    // must be as long as their fixed fields.
    const std::uint16_t bof = U16(s, 0);
    if (bof != 0x0809 && bof != 0x0409 && bof != 0x0209 && bof != 0x0009) return damaged();
    const bool biff8 = bof == 0x0809 && U16(s, 4) == 0x0600;
    const bool biff5 = bof == 0x0809 && !biff8;
    std::vector<std::pair<std::size_t, std::size_t>> sst;  // (body, length) of the SST and its CONTINUEs
    bool inSst = false;
    int dimensions = 0;
    for (std::size_t at = 0; at + 4 <= s.size();) {
      const std::uint16_t type = U16(s, at);
      const std::size_t len = U16(s, at + 2);
      const std::size_t body = at + 4;
      if (type == 0 && len == 0 && s.find_first_not_of('\0', at) == std::string::npos) break;
      if (len > 8224 || body + len > s.size()) return damaged();
      bool fits = true;
      switch (type) {
        case 0x0204:  // LABEL
        case 0x00D6:  // RSTRING
          fits = TextFits(s, body, len, 6, 2, biff8);
          break;
        case 0x0004:  // LABEL, BIFF2
          fits = TextFits(s, body, len, 7, 1, false);
          break;
        case 0x0207:  // STRING (a formula's text)
          fits = TextFits(s, body, len, 0, 2, biff8);
          break;
        case 0x0007:  // STRING, BIFF2
          fits = TextFits(s, body, len, 0, 1, false);
          break;
        case 0x0085:  // BOUNDSHEET
          fits = TextFits(s, body, len, 6, 1, biff8);
          break;
        case 0x041E:  // FORMAT
          fits = biff8 ? TextFits(s, body, len, 2, 2, true) : TextFits(s, body, len, 2, 1, false);
          break;
        case 0x001E:  // FORMAT, BIFF2 and 3
          fits = TextFits(s, body, len, 0, 1, false);
          break;
        case 0x0031:  // FONT
          if (biff8 || biff5) fits = TextFits(s, body, len, 14, 1, biff8);
          break;
        case 0x0203:  // NUMBER
          fits = len >= 14;
          break;
        case 0x027E:  // RK
        case 0x00FD:  // LABELSST
          fits = len >= 10;
          break;
        case 0x0205:  // BOOLERR
          fits = len >= 8;
          break;
        case 0x0006:  // FORMULA
          fits = len >= 20;
          break;
        case 0x00BD:  // MULRK
          fits = len >= 12 && (len - 6) % 6 == 0;
          break;
        default:
          break;
      }
      if (!fits) return damaged();
      if (type == 0x00FC && biff8) {
        if (!sst.empty()) return damaged();  // one table per workbook
        sst.push_back({body, len});
        inSst = true;
      } else if (type == 0x003C && inSst) {
        sst.push_back({body, len});
      } else {
        inSst = false;
      }
      // One DIMENSIONS record per sheet, of its version's size: FreeXL frees
      // the area of a second one twice (found by fuzzing).
      if (type == 0x0809 || type == 0x0409 || type == 0x0209 || type == 0x0009) dimensions = 0;
      if ((type == 0x0200 || (type == 0x0000 && !biff8 && !biff5)) && ++dimensions > 1) return damaged();
      if (type == 0x0200 && biff8) {  // DIMENSIONS, BIFF8
        if (len != 14) return damaged();
        cells += std::uint64_t{U32(s, body + 4)} * U16(s, body + 10);
      } else if ((type == 0x0200 && len == 10) || (type == 0x0000 && len == 8 && !biff8 && !biff5)) {
        cells += std::uint64_t{U16(s, body + 2)} * U16(s, body + 6);
      } else if (type == 0x0200) {
        return damaged();
      } else if (type == 0x00FC && len >= 8 && U32(s, body + 4) > kMaxDeclaredStrings) {  // SST
        why =
            "its shared string table declares more than " + std::to_string(kMaxDeclaredStrings) + " strings";
        return false;
      } else if (type == 0x0085 && ++sheets > XlsMaxSheets) {  // BOUNDSHEET
        why = "it has more than " + std::to_string(XlsMaxSheets) + " sheets";
        return false;
      }
      if (cells > kMaxDeclaredCells) {
        why = "its sheets declare more than " + std::to_string(kMaxDeclaredCells) + " cells";
        return false;
      }
      at = body + len;
    }
    if (!SstHoldsTogether(sst, s)) return damaged();
  }
  return true;
}

struct Handle {
  const void* h = nullptr;
  ~Handle() {
    if (h) freexl_close(h);
  }
};

std::string FreeXlReason(int rc) {
  switch (rc) {
    case FREEXL_FILE_NOT_FOUND:
      return "the file cannot be opened";
    case FREEXL_INSUFFICIENT_MEMORY:
      return "there is not enough memory to read it";
    case FREEXL_INVALID_CFBF_HEADER:
    case FREEXL_CFBF_INVALID_SIGNATURE:
    case FREEXL_CFBF_INVALID_SECTOR_SIZE:
      return "it is not an .xls workbook (damaged compound file header)";
    case FREEXL_CFBF_READ_ERROR:
    case FREEXL_CFBF_SEEK_ERROR:
    case FREEXL_CFBF_EMPTY_FAT_CHAIN:
    case FREEXL_CFBF_ILLEGAL_FAT_ENTRY:
    case FREEXL_INVALID_MINI_STREAM:
    case FREEXL_CFBF_ILLEGAL_MINI_FAT_ENTRY:
      return "the file is damaged or truncated";
    case FREEXL_BIFF_WORKBOOK_NOT_FOUND:
      return "the file holds no Excel workbook (it may be encrypted, or another kind of document)";
    case FREEXL_BIFF_INVALID_BOF:
    case FREEXL_BIFF_INVALID_SST:
    case FREEXL_BIFF_ILLEGAL_SST_INDEX:
    case FREEXL_CRAFTED_FILE:
      return "the workbook is damaged";
    case FREEXL_UNSUPPORTED_CHARSET:
    case FREEXL_INVALID_CHARACTER:
      return "the workbook uses a character set that cannot be read";
    default:
      return "the workbook cannot be read (FreeXL error " + std::to_string(rc) + ")";
  }
}

}  // namespace

bool ReadXls(const std::string& path, Workbook& out, std::string& why) {
  out = Workbook{};
  if (!CheckDeclaredSizes(path, why)) return false;
  {
    Handle info;
    const int rc = freexl_open_info(path.c_str(), &info.h);
    if (rc != FREEXL_OK) {
      why = FreeXlReason(rc);
      return false;
    }
    unsigned int value = 0;
    if (freexl_get_info(info.h, FREEXL_BIFF_PASSWORD, &value) == FREEXL_OK &&
        value == FREEXL_BIFF_OBFUSCATED) {
      why = "the workbook is password-protected";
      return false;
    }
    if (freexl_get_info(info.h, FREEXL_BIFF_SHEET_COUNT, &value) != FREEXL_OK) {
      why = "the workbook is damaged";
      return false;
    }
    if (value == 0) {
      why = "the workbook has no sheet";
      return false;
    }
    if (value > XlsMaxSheets) {
      why = "it has more than " + std::to_string(XlsMaxSheets) + " sheets";
      return false;
    }
  }
  Handle book;
  int rc = freexl_open(path.c_str(), &book.h);
  if (rc != FREEXL_OK) {
    why = FreeXlReason(rc);
    return false;
  }
  unsigned int count = 0;
  if (freexl_get_info(book.h, FREEXL_BIFF_SHEET_COUNT, &count) != FREEXL_OK || count == 0 ||
      count > XlsMaxSheets) {
    why = "the workbook is damaged";
    return false;
  }
  XlsBudget budget;
  for (unsigned int i = 0; i < count; ++i) {
    XlsSheet sheet;
    const char* name = nullptr;
    if (freexl_get_worksheet_name(book.h, static_cast<unsigned short>(i), &name) == FREEXL_OK && name)
      sheet.name = name;
    if (freexl_select_active_worksheet(book.h, static_cast<unsigned short>(i)) != FREEXL_OK) {
      why = "the workbook is damaged";
      return false;
    }
    unsigned int rows = 0;
    unsigned short columns = 0;
    if (freexl_worksheet_dimensions(book.h, &rows, &columns) != FREEXL_OK) {
      why = "the workbook is damaged";
      return false;
    }
    if (rows > static_cast<unsigned>(XlsMaxRows)) {
      why = "sheet \"" + sheet.name + "\" has more than " + std::to_string(XlsMaxRows) + " rows";
      return false;
    }
    for (unsigned int r = 0; r < rows; ++r) {
      for (unsigned short c = 0; c < columns; ++c) {
        FreeXL_CellValue v;
        std::memset(&v, 0, sizeof v);
        if (freexl_get_cell_value(book.h, r, c, &v) != FREEXL_OK) continue;
        const int row = static_cast<int>(r) + 1;
        const int col = static_cast<int>(c) + 1;
        switch (v.type) {
          case FREEXL_CELL_INT:
            if (!budget.TakeCell(0, why)) return false;
            sheet.SetNumber(row, col, v.value.int_value);
            break;
          case FREEXL_CELL_DOUBLE:
            if (!budget.TakeCell(0, why)) return false;
            sheet.SetNumber(row, col, v.value.double_value);
            break;
          case FREEXL_CELL_TEXT:
          case FREEXL_CELL_SST_TEXT:
          case FREEXL_CELL_DATE:
          case FREEXL_CELL_DATETIME:
          case FREEXL_CELL_TIME: {
            const char* t = v.value.text_value ? v.value.text_value : "";
            const std::size_t n = std::strlen(t);
            if (!budget.TakeCell(n, why)) return false;
            sheet.SetText(row, col, std::string(t, n));
            break;
          }
          default:
            break;
        }
      }
    }
    out.sheets.push_back(std::move(sheet));
  }
  return true;
}

}  // namespace kl
