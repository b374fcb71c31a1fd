#include "Workbook.h"

#include <QString>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

namespace kl {

int XlsSheet::LastRow() const {
  int last = 0;
  for (const auto& [pos, cell] : cells) last = std::max(last, pos.first);
  return last;
}

int XlsSheet::LastColumn() const {
  int last = 0;
  for (const auto& [pos, cell] : cells) last = std::max(last, pos.second);
  return last;
}

const XlsCell* XlsSheet::Find(int row, int column) const {
  const auto it = cells.find({row, column});
  return it == cells.end() ? nullptr : &it->second;
}

void XlsSheet::SetNumber(int row, int column, double value) {
  XlsCell& c = cells[{row, column}];
  c.kind = XlsCell::Kind::Number;
  c.number = value;
  c.text.clear();
}

void XlsSheet::SetText(int row, int column, std::string value) {
  XlsCell& c = cells[{row, column}];
  c.kind = XlsCell::Kind::Text;
  c.number = 0.0;
  c.text = std::move(value);
}

bool XlsBudget::TakeCell(std::size_t textBytes, std::string& why) {
  if (++cells_ > XlsMaxCells) {
    why = "it holds more than " + std::to_string(XlsMaxCells) + " cells";
    return false;
  }
  return TakeText(textBytes, why);
}

bool XlsBudget::TakeText(std::size_t textBytes, std::string& why) {
  text_ += textBytes;
  if (text_ > XlsMaxTextBytes) {
    why = "it holds more than " + std::to_string(XlsMaxTextBytes >> 20) + " MiB of text";
    return false;
  }
  return true;
}

bool ParseCellRef(const std::string& ref, int& row, int& column) {
  std::size_t i = 0;
  long col = 0;
  while (i < ref.size() && ref[i] >= 'A' && ref[i] <= 'Z') {
    col = col * 26 + (ref[i] - 'A' + 1);
    if (col > XlsMaxColumns) return false;
    ++i;
  }
  if (i == 0 || i == ref.size()) return false;
  long r = 0;
  for (; i < ref.size(); ++i) {
    if (ref[i] < '0' || ref[i] > '9') return false;
    r = r * 10 + (ref[i] - '0');
    if (r > 1048576) return false;
  }
  if (r < 1) return false;
  row = static_cast<int>(r);
  column = static_cast<int>(col);
  return true;
}

const std::vector<WorkbookFormat>& WorkbookFormats() {
  static const std::vector<WorkbookFormat> formats = {
      {".xlsx", "Excel Workbook", ReadXlsx, WriteXlsx},
      {".xls", "Excel 97-2003 Workbook", ReadXls, WriteXls},
  };
  return formats;
}

namespace {

std::string ExtensionAsTyped(const std::string& fileName) {
  const std::size_t slash = fileName.find_last_of('/');
  const std::size_t dot = fileName.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
  return fileName.substr(dot);
}

}  // namespace

const WorkbookFormat& FormatForSave(const std::string& fileName) {
  const std::string ext = ExtensionAsTyped(fileName);
  for (const WorkbookFormat& f : WorkbookFormats())
    if (ext == f.extension) return f;
  return WorkbookFormats().front();
}

bool LoadWorkbook(const std::string& path, Workbook& out, std::string& why) {
  std::error_code ec;
  const auto status = std::filesystem::status(path, ec);
  if (ec || !std::filesystem::exists(status)) {
    why = "the file does not exist";
    return false;
  }
  if (!std::filesystem::is_regular_file(status)) {
    why = "it is not a file";
    return false;
  }
  const std::uintmax_t size = std::filesystem::file_size(path, ec);
  if (ec) {
    why = "its size cannot be read (" + ec.message() + ")";
    return false;
  }
  if (size == 0) {
    why = "the file is empty";
    return false;
  }
  if (size > XlsMaxFileBytes) {
    why = "the file is larger than " + std::to_string(XlsMaxFileBytes >> 20) + " MiB";
    return false;
  }
  unsigned char head[8] = {};
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) {
    why = std::string("it cannot be opened (") + std::strerror(errno) + ")";
    return false;
  }
  const std::size_t got = std::fread(head, 1, sizeof head, f);
  std::fclose(f);
  static const unsigned char zip[4] = {'P', 'K', 3, 4};
  static const unsigned char cfb[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
  out = Workbook{};
  if (got >= 4 && std::memcmp(head, zip, 4) == 0) return ReadXlsx(path, out, why);
  if (got == 8 && std::memcmp(head, cfb, 8) == 0) return ReadXls(path, out, why);
  why = "it is not an Excel workbook (neither .xlsx nor .xls)";
  return false;
}

bool CheckSheetNames(const Workbook& book, std::string& why) {
  if (book.sheets.empty() || book.sheets.size() > XlsMaxSheets) {
    why = "a workbook needs 1 to " + std::to_string(XlsMaxSheets) + " sheets";
    return false;
  }
  std::vector<QString> seen;
  for (const XlsSheet& s : book.sheets) {
    const QString name = QString::fromUtf8(s.name);
    auto refuse = [&](const char* reason) {
      why = "the sheet name \"" + s.name + "\" cannot be used (" + reason + ")";
      return false;
    };
    if (name.isEmpty() || name.size() > 31) return refuse("it needs 1 to 31 characters");
    for (QChar c : name)
      if (QStringLiteral("[]:*?/\\").contains(c) || c.unicode() < 0x20)
        return refuse("a character is not allowed");
    if (name.startsWith(u'\'') || name.endsWith(u'\'')) return refuse("it starts or ends with an apostrophe");
    for (const QString& other : seen)
      if (other.compare(name, Qt::CaseInsensitive) == 0) return refuse("another sheet has that name");
    seen.push_back(name);
  }
  return true;
}

bool SaveWorkbook(const std::string& path, const Workbook& book, std::string& why) {
  if (!CheckSheetNames(book, why)) return false;
  // The temporary file lives in the target's folder so that the rename is a
  // replacement within one file system, never a copy. It is created here
  // (exclusively, with the ordinary mode under the user's umask) and the
  // writer then writes into it.
  static std::atomic<unsigned> counter{0};
  std::string tmp;
  int fd = -1;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    tmp = path + ".tmp" + std::to_string(getpid()) + "-" + std::to_string(counter++);
    fd = open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST) break;
  }
  if (fd < 0) {
    why = std::string("the folder cannot be written (") + std::strerror(errno) + ")";
    return false;
  }
  close(fd);
  const WorkbookFormat& format = FormatForSave(path);
  bool ok = false;
  try {
    ok = format.write(tmp, book, why);
  } catch (const std::exception& e) {
    why = e.what();
  } catch (...) {
    why = "Unknown error";
  }
  if (ok) {
    // The data reaches the disk before the name points at it.
    const int sync = open(tmp.c_str(), O_RDONLY);
    if (sync >= 0) {
      fsync(sync);
      close(sync);
    }
    if (std::rename(tmp.c_str(), path.c_str()) != 0) {
      why = std::string("it cannot be replaced (") + std::strerror(errno) + ")";
      ok = false;
    }
  }
  if (!ok) std::remove(tmp.c_str());
  return ok;
}

}  // namespace kl
