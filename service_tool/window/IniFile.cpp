#include "IniFile.h"

#include <charconv>
#include <cstdint>

namespace kl {
namespace {

std::string_view Trim(std::string_view s) {
  const char* blanks = " \t\v\f";
  const auto b = s.find_first_not_of(blanks);
  if (b == std::string_view::npos) return {};
  const auto e = s.find_last_not_of(blanks);
  return s.substr(b, e - b + 1);
}

// Decodes one UTF-8 sequence; malformed bytes come back one at a time as
// themselves, which is all a name comparison needs.
char32_t NextCodePoint(std::string_view s, std::size_t& i) {
  const auto c = static_cast<unsigned char>(s[i]);
  int len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
  if (len == 0 || i + static_cast<std::size_t>(len) > s.size()) {
    ++i;
    return 0xDC00u + c;  // keeps a stray byte distinct from any letter
  }
  char32_t cp = len == 1 ? c : len == 2 ? (c & 0x1F) : len == 3 ? (c & 0x0F) : (c & 0x07);
  for (int k = 1; k < len; ++k) {
    const auto cc = static_cast<unsigned char>(s[i + static_cast<std::size_t>(k)]);
    if ((cc & 0xC0) != 0x80) {
      ++i;
      return 0xDC00u + c;
    }
    cp = (cp << 6) | (cc & 0x3F);
  }
  i += static_cast<std::size_t>(len);
  return cp;
}

char32_t FoldCase(char32_t c) {
  if (c >= 'A' && c <= 'Z') return c + 32;
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return c + 32;
  if (c >= 0x410 && c <= 0x42F) return c + 32;  // А..Я
  if (c >= 0x400 && c <= 0x40F) return c + 80;  // Ѐ..Џ, Ё among them
  return c;
}

// Cuts a UTF-8 string after max code points.
std::string CutChars(std::string_view s, std::size_t max) {
  std::size_t i = 0, n = 0;
  while (i < s.size() && n < max) {
    NextCodePoint(s, i);
    ++n;
  }
  return std::string(s.substr(0, i));
}

// A value in a matching pair of quotes is read without them, as Windows
// reads it: translators quote a text to keep its blanks at either end.
std::string_view Unquote(std::string_view v) {
  if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
    return v.substr(1, v.size() - 2);
  return v;
}

}  // namespace

bool IniNamesEqual(std::string_view a, std::string_view b) {
  std::size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    if (FoldCase(NextCodePoint(a, i)) != FoldCase(NextCodePoint(b, j))) return false;
  }
  return i == a.size() && j == b.size();
}

std::optional<std::string> IniSectionName(std::string_view line) {
  const std::string_view t = Trim(line);
  if (t.empty() || t.front() != '[') return std::nullopt;
  const auto close = t.find(']');
  if (close == std::string_view::npos) return std::nullopt;
  return std::string(Trim(t.substr(1, close - 1)));
}

std::optional<std::pair<std::string, std::string>> IniKeyValue(std::string_view line) {
  const std::string_view t = Trim(line);
  if (t.empty() || t.front() == ';' || t.front() == '[') return std::nullopt;
  const auto eq = t.find('=');
  if (eq == std::string_view::npos) return std::nullopt;
  const std::string_view key = Trim(t.substr(0, eq));
  if (key.empty()) return std::nullopt;
  return std::make_pair(std::string(key), std::string(Trim(t.substr(eq + 1))));
}

IniDocument IniDocument::Parse(std::string_view text) {
  IniDocument doc;
  std::size_t pos = 0;
  while (pos < text.size()) {
    const auto nl = text.find_first_of("\r\n", pos);
    Line line;
    if (nl == std::string_view::npos) {
      line.text = std::string(text.substr(pos));
      pos = text.size();
    } else {
      line.text = std::string(text.substr(pos, nl - pos));
      const bool crlf = text[nl] == '\r' && nl + 1 < text.size() && text[nl + 1] == '\n';
      line.eol = crlf ? "\r\n" : std::string(1, text[nl]);
      pos = nl + line.eol.size();
    }
    doc.lines_.push_back(std::move(line));
  }
  return doc;
}

std::string IniDocument::Serialize() const {
  std::string out;
  for (const Line& l : lines_) {
    out += l.text;
    out += l.eol;
  }
  return out;
}

int IniDocument::FindSection(std::string_view section) const {
  for (std::size_t i = 0; i < lines_.size(); ++i) {
    if (auto name = IniSectionName(lines_[i].text); name && IniNamesEqual(*name, section))
      return static_cast<int>(i);
  }
  return -1;
}

int IniDocument::SectionEnd(int header) const {
  std::size_t i = static_cast<std::size_t>(header) + 1;
  while (i < lines_.size() && !IniSectionName(lines_[i].text)) ++i;
  return static_cast<int>(i);
}

int IniDocument::FindKey(int header, std::string_view key) const {
  const int end = SectionEnd(header);
  for (int i = header + 1; i < end; ++i) {
    if (auto kv = IniKeyValue(lines_[static_cast<std::size_t>(i)].text); kv && IniNamesEqual(kv->first, key))
      return i;
  }
  return -1;
}

bool IniDocument::HasSection(std::string_view section) const { return FindSection(section) >= 0; }

std::optional<std::string> IniDocument::Get(std::string_view section, std::string_view key) const {
  const int h = FindSection(section);
  if (h < 0) return std::nullopt;
  const int k = FindKey(h, key);
  if (k < 0) return std::nullopt;
  return CutChars(Unquote(IniKeyValue(lines_[static_cast<std::size_t>(k)].text)->second), kIniMaxValueChars);
}

std::string IniDocument::GetString(std::string_view section, std::string_view key,
                                   std::string_view def) const {
  auto v = Get(section, key);
  return v ? std::move(*v) : std::string(def);
}

int32_t IniDocument::GetInt(std::string_view section, std::string_view key, int32_t def) const {
  const auto v = Get(section, key);
  if (!v || v->empty()) return def;
  std::string_view s = *v;
  if (s.front() == '+') s.remove_prefix(1);
  int32_t value = 0;
  const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
  if (ec != std::errc() || end != s.data() + s.size()) return def;
  return value;
}

std::vector<std::pair<std::string, std::string>> IniDocument::SectionPairs(std::string_view section) const {
  std::vector<std::pair<std::string, std::string>> out;
  const int h = FindSection(section);
  if (h < 0) return out;
  const int end = SectionEnd(h);
  for (int i = h + 1; i < end; ++i) {
    if (auto kv = IniKeyValue(lines_[static_cast<std::size_t>(i)].text)) {
      kv->second = CutChars(Unquote(kv->second), kIniMaxValueChars);
      out.push_back(std::move(*kv));
    }
  }
  return out;
}

std::string IniDocument::NewLineEnding() const {
  for (const Line& l : lines_) {
    if (!l.eol.empty()) return l.eol;
  }
  return "\r\n";
}

void IniDocument::Set(std::string_view section, std::string_view key, std::string_view value) {
  const std::string eol = NewLineEnding();
  int h = FindSection(section);
  if (h < 0) {
    if (!lines_.empty() && lines_.back().eol.empty()) lines_.back().eol = eol;
    lines_.push_back({"[" + std::string(section) + "]", eol});
    lines_.push_back({std::string(key) + "=" + std::string(value), eol});
    return;
  }
  if (const int k = FindKey(h, key); k >= 0) {
    Line& line = lines_[static_cast<std::size_t>(k)];
    // The key keeps the spelling the file gave it.
    const std::string name = IniKeyValue(line.text)->first;
    line.text = name + "=" + std::string(value);
    return;
  }
  // After the last non-blank line of the section, so the blank line that
  // separates it from the next one stays where it is.
  int at = SectionEnd(h);
  while (at - 1 > h && Trim(lines_[static_cast<std::size_t>(at - 1)].text).empty()) --at;
  Line& prev = lines_[static_cast<std::size_t>(at - 1)];
  if (prev.eol.empty()) prev.eol = eol;
  lines_.insert(lines_.begin() + at, Line{std::string(key) + "=" + std::string(value), eol});
}

void IniDocument::SetInt(std::string_view section, std::string_view key, int32_t value) {
  Set(section, key, std::to_string(value));
}

}  // namespace kl
