#include "TareJournal.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>

namespace kl {

namespace {

constexpr std::string_view kHeading = "KL31 tare journal 1";

std::uint64_t Fnv1a(std::string_view s) {
  std::uint64_t h = 1469598103934665603ull;
  for (unsigned char c : s) {
    h ^= c;
    h *= 1099511628211ull;
  }
  return h;
}

std::string Hex16(std::uint64_t v) {
  char buf[17];
  std::snprintf(buf, sizeof buf, "%016llx", static_cast<unsigned long long>(v));
  return buf;
}

// Tabs and line ends would break the line structure; backslash escapes them.
std::string Escape(std::string_view s) {
  std::string out;
  for (char c : s.substr(0, kTareJournalMaxCell)) {
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::optional<std::string> Unescape(std::string_view s) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '\\') {
      out += s[i];
      continue;
    }
    if (++i == s.size()) return std::nullopt;
    switch (s[i]) {
      case '\\':
        out += '\\';
        break;
      case 't':
        out += '\t';
        break;
      case 'n':
        out += '\n';
        break;
      case 'r':
        out += '\r';
        break;
      default:
        return std::nullopt;
    }
  }
  if (out.size() > kTareJournalMaxCell) return std::nullopt;
  return out;
}

// Splits off the next "\n"-ended line; nothing when the text has no more
// complete line.
std::optional<std::string_view> NextLine(std::string_view& rest) {
  const std::size_t end = rest.find('\n');
  if (end == std::string_view::npos) return std::nullopt;
  std::string_view line = rest.substr(0, end);
  rest.remove_prefix(end + 1);
  return line;
}

std::optional<std::string_view> Field(std::string_view line, std::string_view name) {
  if (!line.starts_with(name) || line.size() <= name.size() || line[name.size()] != '=') return std::nullopt;
  return line.substr(name.size() + 1);
}

std::string Replace(std::string s, std::string_view from, std::string_view to) {
  if (from.empty() || from == to) return s;
  for (std::size_t p = s.find(from); p != std::string::npos; p = s.find(from, p + to.size()))
    s.replace(p, from.size(), to);
  return s;
}

}  // namespace

std::string TareJournalPath(const std::string& folder) {
  if (folder.empty() || folder.back() == '/') return folder + kTareJournalFileName;
  return folder + "/" + kTareJournalFileName;
}

std::string TareJournalEncode(const TareRows& rows) {
  std::string body(kHeading);
  body += "\ndecimal=" + Escape(rows.locale.decimal_point) + "\n";
  const int count = std::min(TareRowCount(rows), kTareJournalMaxRows);
  body += "rows=" + FormatWhole(count) + "\n";
  for (int r = 1; r <= count; ++r)
    body += Escape(TareText(rows, TareColLitres, r)) + "\t" + Escape(TareText(rows, TareColMm, r)) + "\n";
  return body + "sum=" + Hex16(Fnv1a(body)) + "\n";
}

std::optional<TareRows> TareJournalDecode(std::string_view bytes, const NumberLocale& current) {
  if (bytes.size() > kTareJournalMaxBytes) return std::nullopt;
  const std::size_t sumAt = bytes.rfind("sum=");
  if (sumAt == std::string_view::npos || (sumAt > 0 && bytes[sumAt - 1] != '\n')) return std::nullopt;
  const std::string_view body = bytes.substr(0, sumAt);
  if (bytes.substr(sumAt) != "sum=" + Hex16(Fnv1a(body)) + "\n") return std::nullopt;

  std::string_view rest = body;
  const auto heading = NextLine(rest);
  if (!heading || *heading != kHeading) return std::nullopt;
  const auto decLine = NextLine(rest);
  const auto dec = decLine ? Field(*decLine, "decimal") : std::nullopt;
  const auto decimal = dec ? Unescape(*dec) : std::nullopt;
  if (!decimal || decimal->empty() || decimal->size() > 8) return std::nullopt;
  const auto countLine = NextLine(rest);
  const auto countText = countLine ? Field(*countLine, "rows") : std::nullopt;
  const auto count = countText ? ParseWhole(*countText) : std::nullopt;
  if (!count || *count < 1 || *count > kTareJournalMaxRows) return std::nullopt;

  TareRows out;
  out.locale = current;
  out.rows.clear();
  for (int r = 0; r < *count; ++r) {
    const auto line = NextLine(rest);
    if (!line) return std::nullopt;
    const std::size_t tab = line->find('\t');
    if (tab == std::string_view::npos) return std::nullopt;
    auto litres = Unescape(line->substr(0, tab));
    auto mm = Unescape(line->substr(tab + 1));
    if (!litres || !mm) return std::nullopt;
    // The texts are read back with the user's notation of today.
    out.rows.push_back({"", Replace(std::move(*litres), *decimal, current.decimal_point),
                        Replace(std::move(*mm), *decimal, current.decimal_point)});
  }
  if (!rest.empty()) return std::nullopt;
  TareRenumber(out);
  return out;
}

bool TareJournalSave(const std::string& folder, const TareRows& rows, std::string* error) {
  auto fail = [&](const char* what) {
    if (error) *error = std::string(what) + ": " + std::strerror(errno);
    return false;
  };
  const std::string path = TareJournalPath(folder);
  const std::string bytes = TareJournalEncode(rows);
  std::string tmpl = path + ".XXXXXX";
  const int fd = mkstemp(tmpl.data());
  if (fd < 0) return fail("create temporary file");
  std::size_t done = 0;
  bool ok = true;
  while (ok && done < bytes.size()) {
    const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0)
      ok = false;
    else
      done += static_cast<std::size_t>(n);
  }
  // The journal is there for a pulled cable or a dead battery: it must be on
  // the disk, not in a cache, before it replaces the previous one.
  ok = ok && fchmod(fd, 0644) == 0 && fsync(fd) == 0;
  const int saved = errno;
  if (close(fd) != 0) ok = false;
  if (!ok || rename(tmpl.c_str(), path.c_str()) != 0) {
    const int reason = ok ? errno : saved;
    unlink(tmpl.c_str());
    errno = reason;
    return fail("write journal");
  }
  return true;
}

std::optional<TareRows> TareJournalLoad(const std::string& folder, const NumberLocale& current) {
  std::ifstream in(TareJournalPath(folder), std::ios::binary);
  if (!in) return std::nullopt;
  std::string bytes;
  char chunk[16384];
  while (bytes.size() <= kTareJournalMaxBytes) {
    in.read(chunk, sizeof chunk);
    if (in.gcount() <= 0) break;
    bytes.append(chunk, static_cast<std::size_t>(in.gcount()));
  }
  return TareJournalDecode(bytes, current);
}

bool TareJournalRemove(const std::string& folder) {
  return unlink(TareJournalPath(folder).c_str()) == 0 || errno == ENOENT;
}

bool TareJournalWorthOffering(const TareRows& journal, const TareRows& shown) {
  bool anyText = false;
  for (const auto& row : journal.rows)
    if (!row[TareColLitres].empty() || !row[TareColMm].empty()) anyText = true;
  if (!anyText) return false;
  if (TareRowCount(journal) != TareRowCount(shown)) return true;
  for (int r = 1; r <= TareRowCount(journal); ++r)
    for (int c : {TareColLitres, TareColMm})
      if (TareText(journal, c, r) != TareText(shown, c, r)) return true;
  return false;
}

}  // namespace kl
