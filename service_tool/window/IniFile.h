// A reader and writer of initialisation files (sections in brackets, one
// "key=value" per line) with the rules technicians know from Windows:
// section and key names match without regard to case, the first occurrence
// wins, values are trimmed, freed of a pair of quotes around them and cut at
// 2047 characters, integers are decimal
// and anything unreadable yields the caller's default. Writing a key touches
// only that key's line; every other line, comment and line ending stays as it
// was, so a file shared with other programs survives our saves.
//
// The text is held as UTF-8; the language file's other encodings are turned
// into UTF-8 before parsing (TextEncoding.h).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kl {

inline constexpr std::size_t kIniMaxValueChars = 2047;

// Compares two names without regard to case (ASCII, Latin-1 letters and
// Cyrillic), so that "[русский]" finds "[Русский]" as it does on Windows.
bool IniNamesEqual(std::string_view a, std::string_view b);

class IniDocument {
 public:
  IniDocument() = default;
  static IniDocument Parse(std::string_view utf8);
  std::string Serialize() const;

  bool HasSection(std::string_view section) const;
  // The value of the first line of the key in the first section of that
  // name, trimmed, without a pair of quotes around it ("..." or '...') and
  // limited to kIniMaxValueChars characters; nothing when
  // the section or the key is absent. A present key may have an empty value.
  std::optional<std::string> Get(std::string_view section, std::string_view key) const;
  std::string GetString(std::string_view section, std::string_view key, std::string_view def) const;
  // A whole-string decimal integer (optional sign, blanks around it allowed)
  // that fits 32 bits; otherwise the default.
  int32_t GetInt(std::string_view section, std::string_view key, int32_t def) const;
  // The (key, value) lines of the first section of that name, in file order.
  std::vector<std::pair<std::string, std::string>> SectionPairs(std::string_view section) const;

  // Replaces the key's value in place, or adds the key at the end of its
  // section, or adds the section at the end of the document.
  void Set(std::string_view section, std::string_view key, std::string_view value);
  void SetInt(std::string_view section, std::string_view key, int32_t value);

 private:
  struct Line {
    std::string text;  // without its line ending
    std::string eol;   // "\r\n", "\n", "\r" or "" for a last line without one
  };
  // Index of the section header line, or -1.
  int FindSection(std::string_view section) const;
  // Index of the key's line inside the section that starts at header, or -1.
  int FindKey(int header, std::string_view key) const;
  int SectionEnd(int header) const;  // first line after the section
  std::string NewLineEnding() const;

  std::vector<Line> lines_;
};

// Reads "[name]"; nothing if the line is not a section header.
std::optional<std::string> IniSectionName(std::string_view line);
// Splits "key=value" into trimmed parts; nothing for blank, comment or other lines.
std::optional<std::pair<std::string, std::string>> IniKeyValue(std::string_view line);

}  // namespace kl
