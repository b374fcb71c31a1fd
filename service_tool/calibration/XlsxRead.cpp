// .xlsx reading: minizip opens the package, QXmlStreamReader reads its parts.
//
// The sheets are taken in the workbook's order through its relationships,
// strings from the shared string table or inline, numbers and truth values
// as such. Every part is read into memory only up to XlsMaxMemberBytes and
// the package up to XlsMaxPackageBytes, whatever the zip's directory claims,
// so a small file that inflates to gigabytes is refused, not swallowed.
#include <unzip.h>

#include <QByteArray>
#include <QXmlStreamReader>
#include <charconv>
#include <cmath>
#include <string>
#include <vector>

#include "Workbook.h"

namespace kl {
namespace {

constexpr std::size_t kMaxEntries = 10000;

class Package {
 public:
  explicit Package(const std::string& path) : zip_(unzOpen64(path.c_str())) {}
  ~Package() {
    if (zip_) unzClose(zip_);
  }
  Package(const Package&) = delete;
  Package& operator=(const Package&) = delete;
  bool open() const { return zip_ != nullptr; }

  bool CheckDirectory(std::string& why) {
    unz_global_info64 info{};
    if (unzGetGlobalInfo64(zip_, &info) != UNZ_OK) {
      why = "the file is damaged or truncated";
      return false;
    }
    if (info.number_entry > kMaxEntries) {
      why = "the package has more than " + std::to_string(kMaxEntries) + " members";
      return false;
    }
    return true;
  }

  // The part `name` (found case-insensitively, as the package format names
  // parts). `present` is false when there is no such part.
  bool Read(const std::string& name, std::string& out, bool& present, std::string& why) {
    out.clear();
    present = false;
    if (unzLocateFile(zip_, name.c_str(), 2) != UNZ_OK) return true;
    present = true;
    unz_file_info64 info{};
    if (unzGetCurrentFileInfo64(zip_, &info, nullptr, 0, nullptr, 0, nullptr, 0) != UNZ_OK) {
      why = "the file is damaged or truncated";
      return false;
    }
    if (info.flag & 1) {
      why = "the workbook is encrypted";
      return false;
    }
    if (info.uncompressed_size > XlsMaxMemberBytes) {
      why = "the part " + name + " unpacks to more than " + std::to_string(XlsMaxMemberBytes >> 20) + " MiB";
      return false;
    }
    if (unzOpenCurrentFile(zip_) != UNZ_OK) {
      why = "the part " + name + " cannot be unpacked";
      return false;
    }
    char buf[16384];
    bool ok = true;
    for (;;) {
      const int n = unzReadCurrentFile(zip_, buf, sizeof buf);
      if (n < 0) {
        why = "the part " + name + " is damaged";
        ok = false;
        break;
      }
      if (n == 0) break;
      if (out.size() + static_cast<std::size_t>(n) > XlsMaxMemberBytes) {
        why =
            "the part " + name + " unpacks to more than " + std::to_string(XlsMaxMemberBytes >> 20) + " MiB";
        ok = false;
        break;
      }
      total_ += static_cast<std::size_t>(n);
      if (total_ > XlsMaxPackageBytes) {
        why = "the package unpacks to more than " + std::to_string(XlsMaxPackageBytes >> 20) + " MiB";
        ok = false;
        break;
      }
      out.append(buf, static_cast<std::size_t>(n));
    }
    // Closing checks the part's checksum.
    const int closed = unzCloseCurrentFile(zip_);
    if (ok && closed != UNZ_OK) {
      why = "the part " + name + " is damaged (checksum)";
      ok = false;
    }
    return ok;
  }

 private:
  unzFile zip_;
  std::size_t total_ = 0;
};

std::string Std(QStringView s) { return s.toString().toStdString(); }

bool XmlFailed(const QXmlStreamReader& x, const std::string& part, std::string& why) {
  if (!x.hasError()) return false;
  why = "the part " + part + " is damaged (" + x.errorString().toStdString() + ", line " +
        std::to_string(x.lineNumber()) + ")";
  return true;
}

// A part name from a relationship target, relative to the folder of the part
// that holds the relationship; "/" starts from the package root.
std::string ResolvePart(const std::string& baseFolder, const std::string& target) {
  std::string joined = !target.empty() && target[0] == '/' ? target.substr(1) : baseFolder + target;
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (start <= joined.size()) {
    std::size_t end = joined.find('/', start);
    if (end == std::string::npos) end = joined.size();
    const std::string seg = joined.substr(start, end - start);
    if (seg == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!seg.empty() && seg != ".") {
      parts.push_back(seg);
    }
    start = end + 1;
  }
  std::string out;
  for (const std::string& p : parts) out += (out.empty() ? "" : "/") + p;
  return out;
}

std::string FolderOf(const std::string& part) {
  const std::size_t slash = part.find_last_of('/');
  return slash == std::string::npos ? std::string() : part.substr(0, slash + 1);
}

std::string RelsOf(const std::string& part) {
  const std::size_t slash = part.find_last_of('/');
  const std::string name = slash == std::string::npos ? part : part.substr(slash + 1);
  return FolderOf(part) + "_rels/" + name + ".rels";
}

struct Relationship {
  std::string id, type, target;
};

bool TypeIs(const std::string& type, const char* suffix) {
  const std::string s = std::string("/") + suffix;
  return type.size() >= s.size() && type.compare(type.size() - s.size(), s.size(), s) == 0;
}

bool ParseRels(const std::string& xml, const std::string& part, std::vector<Relationship>& rels,
               std::string& why) {
  QXmlStreamReader x(QByteArray::fromRawData(xml.data(), static_cast<qsizetype>(xml.size())));
  while (!x.atEnd()) {
    x.readNext();
    if (x.isStartElement() && x.name() == u"Relationship") {
      const QXmlStreamAttributes a = x.attributes();
      if (a.value(QLatin1String("TargetMode")) == u"External") continue;
      if (rels.size() >= kMaxEntries) {
        why = "the part " + part + " has too many relationships";
        return false;
      }
      rels.push_back({Std(a.value(QLatin1String("Id"))), Std(a.value(QLatin1String("Type"))),
                      Std(a.value(QLatin1String("Target")))});
    }
  }
  return !XmlFailed(x, part, why);
}

struct SheetEntry {
  std::string name, rid;
};

bool ParseWorkbookPart(const std::string& xml, const std::string& part, std::vector<SheetEntry>& sheets,
                       std::size_t& active, std::string& why) {
  QXmlStreamReader x(QByteArray::fromRawData(xml.data(), static_cast<qsizetype>(xml.size())));
  bool activeSeen = false;
  bool rootSeen = false;
  while (!x.atEnd()) {
    x.readNext();
    if (!x.isStartElement()) continue;
    if (!rootSeen) {
      rootSeen = true;
      if (x.name() != u"workbook") {
        why = "it is a zip file, but not an Excel workbook";
        return false;
      }
      continue;
    }
    if (x.name() == u"sheet") {
      if (sheets.size() >= XlsMaxSheets) {
        why = "it has more than " + std::to_string(XlsMaxSheets) + " sheets";
        return false;
      }
      SheetEntry e;
      for (const QXmlStreamAttribute& a : x.attributes()) {
        if (a.name() == u"name") e.name = Std(a.value());
        // The relationship id lives in the relationships namespace, whatever
        // its prefix.
        if (a.name() == u"id" && !a.namespaceUri().isEmpty()) e.rid = Std(a.value());
      }
      sheets.push_back(std::move(e));
    } else if (x.name() == u"workbookView" && !activeSeen) {
      activeSeen = true;
      bool ok = false;
      const QXmlStreamAttributes attrs = x.attributes();
      const unsigned v = attrs.value(QLatin1String("activeTab")).toUInt(&ok);
      if (ok) active = v;
    }
  }
  return !XmlFailed(x, part, why);
}

bool ParseSharedStrings(const std::string& xml, const std::string& part, std::vector<std::string>& out,
                        XlsBudget& budget, std::string& why) {
  QXmlStreamReader x(QByteArray::fromRawData(xml.data(), static_cast<qsizetype>(xml.size())));
  std::string current;
  bool inItem = false;
  int phonetic = 0;  // inside <rPh>: a reading aid, not the text
  while (!x.atEnd()) {
    x.readNext();
    if (x.isStartElement()) {
      if (x.name() == u"si") {
        inItem = true;
        current.clear();
      } else if (x.name() == u"rPh") {
        ++phonetic;
      } else if (x.name() == u"t" && inItem && phonetic == 0) {
        const std::string t = x.readElementText(QXmlStreamReader::IncludeChildElements).toStdString();
        if (!budget.TakeText(t.size(), why)) return false;
        current += t;
      }
    } else if (x.isEndElement()) {
      if (x.name() == u"si" && inItem) {
        if (out.size() >= XlsMaxCells) {
          why = "it holds more than " + std::to_string(XlsMaxCells) + " strings";
          return false;
        }
        out.push_back(std::move(current));
        current.clear();
        inItem = false;
      } else if (x.name() == u"rPh" && phonetic > 0) {
        --phonetic;
      }
    }
  }
  return !XmlFailed(x, part, why);
}

bool ParseNumber(const std::string& s, double& v) {
  const char* b = s.data();
  const char* e = b + s.size();
  while (b < e && (*b == ' ' || *b == '\t' || *b == '\n' || *b == '\r')) ++b;
  while (e > b && (e[-1] == ' ' || e[-1] == '\t' || e[-1] == '\n' || e[-1] == '\r')) --e;
  if (b < e && *b == '+') ++b;
  const auto r = std::from_chars(b, e, v);
  return r.ec == std::errc() && r.ptr == e && std::isfinite(v);
}

bool ParseSheetPart(const std::string& xml, const std::string& part, const std::vector<std::string>& sst,
                    XlsSheet& sheet, XlsBudget& budget, std::string& why) {
  QXmlStreamReader x(QByteArray::fromRawData(xml.data(), static_cast<qsizetype>(xml.size())));
  int row = 0;      // the current row
  int nextCol = 1;  // where a cell without a reference goes
  bool inData = false;
  auto damaged = [&](const std::string& what) {
    why = "the part " + part + " is damaged (" + what + ", line " + std::to_string(x.lineNumber()) + ")";
    return false;
  };
  while (!x.atEnd()) {
    x.readNext();
    if (x.isEndElement() && x.name() == u"sheetData") inData = false;
    if (!x.isStartElement()) continue;
    if (x.name() == u"sheetData") {
      inData = true;
      continue;
    }
    if (!inData) continue;
    if (x.name() == u"row") {
      const QXmlStreamAttributes attrs = x.attributes();
      const QStringView r = attrs.value(QLatin1String("r"));
      if (r.isEmpty()) {
        ++row;
      } else {
        bool ok = false;
        const int v = r.toInt(&ok);
        if (!ok || v < 1 || v > 1048576) return damaged("row number " + Std(r));
        row = v;
      }
      nextCol = 1;
      continue;
    }
    if (x.name() != u"c") continue;
    if (row == 0) row = 1;
    int cr = row, cc = nextCol;
    const QXmlStreamAttributes attrs = x.attributes();
    const std::string ref = Std(attrs.value(QLatin1String("r")));
    if (!ref.empty() && !ParseCellRef(ref, cr, cc)) return damaged("cell reference " + ref);
    if (cc > XlsMaxColumns) return damaged("cell beyond the last column");
    row = cr;
    nextCol = cc + 1;
    const std::string type = Std(attrs.value(QLatin1String("t")));
    std::string value, inlineText;
    bool hasValue = false, hasInline = false;
    // The cell's children: <v> value, <is> inline string, <f> formula.
    while (x.readNextStartElement()) {
      if (x.name() == u"v") {
        value = x.readElementText().toStdString();
        hasValue = true;
      } else if (x.name() == u"is") {
        hasInline = true;
        int depth = 1;
        int phonetic = 0;
        while (depth > 0 && !x.atEnd()) {
          x.readNext();
          if (x.isStartElement()) {
            if (x.name() == u"rPh") {
              ++phonetic;
              ++depth;
            } else if (x.name() == u"t" && phonetic == 0) {
              inlineText += x.readElementText(QXmlStreamReader::IncludeChildElements).toStdString();
              if (inlineText.size() > XlsMaxTextBytes) return damaged("inline text too long");
            } else {
              ++depth;
            }
          } else if (x.isEndElement()) {
            if (x.name() == u"rPh" && phonetic > 0) --phonetic;
            --depth;
          }
        }
      } else {
        x.skipCurrentElement();
      }
    }
    if (x.hasError()) break;
    if (cr > XlsMaxRows) {
      why = "sheet \"" + sheet.name + "\" has cells beyond row " + std::to_string(XlsMaxRows);
      return false;
    }
    if (type == "inlineStr" || (hasInline && !hasValue)) {
      if (!hasInline) continue;
      if (!budget.TakeCell(inlineText.size(), why)) return false;
      sheet.SetText(cr, cc, std::move(inlineText));
    } else if (!hasValue) {
      continue;  // formatted but empty: not part of the used area
    } else if (type == "s") {
      double idx = 0;
      if (!ParseNumber(value, idx) || idx < 0 || idx >= static_cast<double>(sst.size()) ||
          idx != std::floor(idx))
        return damaged("shared string index " + value);
      const std::string& t = sst[static_cast<std::size_t>(idx)];
      if (!budget.TakeCell(t.size(), why)) return false;
      sheet.SetText(cr, cc, t);
    } else if (type == "str" || type == "e" || type == "d") {
      if (!budget.TakeCell(value.size(), why)) return false;
      sheet.SetText(cr, cc, std::move(value));
    } else if (type == "b") {
      if (!budget.TakeCell(0, why)) return false;
      double v = 0;
      if (!ParseNumber(value, v)) return damaged("truth value " + value);
      sheet.SetNumber(cr, cc, v != 0.0 ? 1.0 : 0.0);
      sheet.cells[{cr, cc}].kind = XlsCell::Kind::Bool;
    } else {
      double v = 0;
      if (!ParseNumber(value, v)) return damaged("number " + value.substr(0, 40));
      if (!budget.TakeCell(0, why)) return false;
      sheet.SetNumber(cr, cc, v);
    }
  }
  return !XmlFailed(x, part, why);
}

}  // namespace

bool ReadXlsx(const std::string& path, Workbook& out, std::string& why) {
  out = Workbook{};
  Package pkg(path);
  if (!pkg.open()) {
    why = "the file is damaged or truncated (not a readable zip package)";
    return false;
  }
  if (!pkg.CheckDirectory(why)) return false;
  std::string xml;
  bool present = false;

  // The main part, from the package's own relationships.
  std::string workbookPart = "xl/workbook.xml";
  if (!pkg.Read("_rels/.rels", xml, present, why)) return false;
  if (present) {
    std::vector<Relationship> rels;
    if (!ParseRels(xml, "_rels/.rels", rels, why)) return false;
    for (const Relationship& r : rels)
      if (TypeIs(r.type, "officeDocument")) {
        workbookPart = ResolvePart("", r.target);
        break;
      }
  }
  if (!pkg.Read(workbookPart, xml, present, why)) return false;
  if (!present) {
    why = "it is a zip file, but not an Excel workbook";
    return false;
  }
  std::vector<SheetEntry> entries;
  std::size_t active = 0;
  if (!ParseWorkbookPart(xml, workbookPart, entries, active, why)) return false;
  if (entries.empty()) {
    why = "the workbook has no sheet";
    return false;
  }

  const std::string relsPart = RelsOf(workbookPart);
  std::vector<Relationship> rels;
  if (!pkg.Read(relsPart, xml, present, why)) return false;
  if (!present) {
    why = "the workbook is damaged (" + relsPart + " is missing)";
    return false;
  }
  if (!ParseRels(xml, relsPart, rels, why)) return false;

  XlsBudget budget;
  std::vector<std::string> sst;
  const std::string folder = FolderOf(workbookPart);
  for (const Relationship& r : rels) {
    if (!TypeIs(r.type, "sharedStrings")) continue;
    const std::string part = ResolvePart(folder, r.target);
    if (!pkg.Read(part, xml, present, why)) return false;
    if (present && !ParseSharedStrings(xml, part, sst, budget, why)) return false;
    break;
  }

  for (const SheetEntry& e : entries) {
    const Relationship* rel = nullptr;
    for (const Relationship& r : rels)
      if (r.id == e.rid) rel = &r;
    if (!rel) {
      why = "the workbook is damaged (sheet \"" + e.name + "\" has no part)";
      return false;
    }
    // Chart sheets and dialog sheets are no worksheets.
    if (!TypeIs(rel->type, "worksheet")) continue;
    const std::string part = ResolvePart(folder, rel->target);
    if (!pkg.Read(part, xml, present, why)) return false;
    if (!present) {
      why = "the workbook is damaged (" + part + " is missing)";
      return false;
    }
    XlsSheet sheet;
    sheet.name = e.name;
    if (!ParseSheetPart(xml, part, sst, sheet, budget, why)) return false;
    out.sheets.push_back(std::move(sheet));
  }
  if (out.sheets.empty()) {
    why = "the workbook has no worksheet";
    return false;
  }
  out.active = active < out.sheets.size() ? active : 0;
  return true;
}

}  // namespace kl
