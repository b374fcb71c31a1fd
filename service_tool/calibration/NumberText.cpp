#include "NumberText.h"

#include <charconv>
#include <limits>
#include <system_error>

namespace kl {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

// Rewrites a number in the user's notation into the plain form that
// std::from_chars reads ("-12.5e3"), or fails when the text is not a number.
std::optional<std::string> Normalise(std::string_view text, const NumberLocale& loc) {
  const std::string_view sep = loc.decimal_point.empty() ? std::string_view(".") : loc.decimal_point;
  std::string_view s = Trim(text);
  std::string out;
  out.reserve(s.size() + 1);
  std::size_t i = 0;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
    if (s[i] == '-') out.push_back('-');
    ++i;
  }
  int digits = 0;
  bool point = false;
  while (i < s.size()) {
    if (IsDigit(s[i])) {
      out.push_back(s[i]);
      ++digits;
      ++i;
    } else if (!point && s.substr(i, sep.size()) == sep) {
      out.push_back('.');
      point = true;
      i += sep.size();
    } else {
      break;
    }
  }
  if (digits == 0) return std::nullopt;
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
    out.push_back('e');
    ++i;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
      if (s[i] == '-') out.push_back('-');
      ++i;
    }
    int expDigits = 0;
    while (i < s.size() && IsDigit(s[i])) {
      out.push_back(s[i]);
      ++expDigits;
      ++i;
    }
    if (expDigits == 0) return std::nullopt;
  }
  if (i != s.size()) return std::nullopt;
  return out;
}

template <typename T>
std::optional<T> ParseAs(std::string_view text, const NumberLocale& loc) {
  const auto plain = Normalise(text, loc);
  if (!plain) return std::nullopt;
  T value{};
  const char* first = plain->data();
  const char* last = first + plain->size();
  const auto [end, ec] = std::from_chars(first, last, value, std::chars_format::general);
  if (ec != std::errc() || end != last) return std::nullopt;
  return value;
}

std::string Localise(std::string s, const NumberLocale& loc) {
  const std::string_view sep = loc.decimal_point.empty() ? std::string_view(".") : loc.decimal_point;
  const auto dot = s.find('.');
  if (dot != std::string::npos && sep != ".") s.replace(dot, 1, sep);
  return s;
}

}  // namespace

std::optional<double> ParseDecimal(std::string_view text, const NumberLocale& loc) {
  return ParseAs<double>(text, loc);
}

std::optional<float> ParseFloat32(std::string_view text, const NumberLocale& loc) {
  return ParseAs<float>(text, loc);
}

std::optional<std::int32_t> ParseWhole(std::string_view text) {
  std::string_view s = Trim(text);
  bool negative = false;
  if (!s.empty() && (s.front() == '+' || s.front() == '-')) {
    negative = s.front() == '-';
    s.remove_prefix(1);
  }
  if (s.empty()) return std::nullopt;
  std::int64_t v = 0;
  for (char c : s) {
    if (!IsDigit(c)) return std::nullopt;
    v = v * 10 + (c - '0');
    if (v > std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1) return std::nullopt;
  }
  if (negative) v = -v;
  if (v < std::numeric_limits<std::int32_t>::min() || v > std::numeric_limits<std::int32_t>::max())
    return std::nullopt;
  return static_cast<std::int32_t>(v);
}

std::string FormatFixed1(double value, const NumberLocale& loc) {
  char buf[400];
  const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, 1);
  if (ec != std::errc()) return {};
  return Localise(std::string(buf, end), loc);
}

std::string FormatGeneral(double value, const NumberLocale& loc) {
  char buf[64];
  const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::general, 15);
  if (ec != std::errc()) return {};
  return Localise(std::string(buf, end), loc);
}

std::string FormatWhole(std::int64_t value) {
  char buf[24];
  const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value);
  if (ec != std::errc()) return {};
  return std::string(buf, end);
}

}  // namespace kl
