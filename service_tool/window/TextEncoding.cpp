#include "TextEncoding.h"

#include <array>
#include <cstdint>
#include <vector>

namespace kl {
namespace {

// Code page 1251, bytes 0x80..0xFF. 0x98 is unassigned; it reads as the
// control character U+0098, as Windows reads it, so that every byte comes
// back unchanged when the file is written again.
constexpr std::array<char16_t, 128> kCp1251 = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021, 0x20AC, 0x2030, 0x0409, 0x2039, 0x040A,
    0x040C, 0x040B, 0x040F, 0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0x0098, 0x2122,
    0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F, 0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6,
    0x00A7, 0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407, 0x00B0, 0x00B1, 0x0406, 0x0456,
    0x0491, 0x00B5, 0x00B6, 0x00B7, 0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457, 0x0410,
    0x0411, 0x0412, 0x0413, 0x0414, 0x0415, 0x0416, 0x0417, 0x0418, 0x0419, 0x041A, 0x041B, 0x041C, 0x041D,
    0x041E, 0x041F, 0x0420, 0x0421, 0x0422, 0x0423, 0x0424, 0x0425, 0x0426, 0x0427, 0x0428, 0x0429, 0x042A,
    0x042B, 0x042C, 0x042D, 0x042E, 0x042F, 0x0430, 0x0431, 0x0432, 0x0433, 0x0434, 0x0435, 0x0436, 0x0437,
    0x0438, 0x0439, 0x043A, 0x043B, 0x043C, 0x043D, 0x043E, 0x043F, 0x0440, 0x0441, 0x0442, 0x0443, 0x0444,
    0x0445, 0x0446, 0x0447, 0x0448, 0x0449, 0x044A, 0x044B, 0x044C, 0x044D, 0x044E, 0x044F};

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// Decodes valid UTF-8 (the caller checked) into code points.
std::vector<char32_t> CodePoints(std::string_view s) {
  std::vector<char32_t> out;
  for (std::size_t i = 0; i < s.size();) {
    const auto c = static_cast<unsigned char>(s[i]);
    const int len = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
    if (i + static_cast<std::size_t>(len) > s.size()) break;
    char32_t cp = len == 1 ? c : len == 2 ? (c & 0x1F) : len == 3 ? (c & 0x0F) : (c & 0x07);
    for (int k = 1; k < len; ++k)
      cp = (cp << 6) | (static_cast<unsigned char>(s[i + static_cast<std::size_t>(k)]) & 0x3F);
    out.push_back(cp);
    i += static_cast<std::size_t>(len);
  }
  return out;
}

std::string DecodeUtf16(std::string_view b, bool littleEndian) {
  std::string out;
  const std::size_t units = b.size() / 2;  // a stray last byte is dropped
  auto unit = [&](std::size_t i) -> char16_t {
    const auto lo = static_cast<unsigned char>(b[2 * i + (littleEndian ? 0 : 1)]);
    const auto hi = static_cast<unsigned char>(b[2 * i + (littleEndian ? 1 : 0)]);
    return static_cast<char16_t>(lo | (hi << 8));
  };
  for (std::size_t i = 0; i < units; ++i) {
    const char16_t u = unit(i);
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units) {
      const char16_t v = unit(i + 1);
      if (v >= 0xDC00 && v <= 0xDFFF) {
        AppendUtf8(out, 0x10000 + ((static_cast<char32_t>(u) - 0xD800) << 10) + (v - 0xDC00));
        ++i;
        continue;
      }
    }
    AppendUtf8(out, (u >= 0xD800 && u <= 0xDFFF) ? 0xFFFD : u);
  }
  return out;
}

std::string EncodeUtf16(std::string_view utf8, bool littleEndian) {
  std::string out;
  auto put = [&](char16_t u) {
    const char lo = static_cast<char>(u & 0xFF), hi = static_cast<char>(u >> 8);
    if (littleEndian) {
      out += lo;
      out += hi;
    } else {
      out += hi;
      out += lo;
    }
  };
  for (char32_t cp : CodePoints(utf8)) {
    if (cp >= 0x10000) {
      put(static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)));
      put(static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
    } else {
      put(static_cast<char16_t>(cp));
    }
  }
  return out;
}

// Without a mark, UTF-16 text of ASCII-heavy ini lines has a zero in every
// second byte; ordinary 8-bit text never holds zero bytes.
bool LooksLikeUtf16Le(std::string_view b) {
  if (b.size() < 4 || b.size() % 2 != 0) return false;
  std::size_t zeros = 0, pairs = b.size() / 2;
  for (std::size_t i = 0; i < pairs; ++i) {
    if (b[2 * i + 1] == '\0' && b[2 * i] != '\0') ++zeros;
  }
  return zeros * 2 > pairs;
}

}  // namespace

bool IsValidUtf8(std::string_view s) {
  for (std::size_t i = 0; i < s.size();) {
    const auto c = static_cast<unsigned char>(s[i]);
    int len;
    char32_t min;
    if (c < 0x80) {
      ++i;
      continue;
    } else if ((c >> 5) == 6) {
      len = 2, min = 0x80;
    } else if ((c >> 4) == 14) {
      len = 3, min = 0x800;
    } else if ((c >> 3) == 30) {
      len = 4, min = 0x10000;
    } else {
      return false;
    }
    if (i + static_cast<std::size_t>(len) > s.size()) return false;
    char32_t cp = c & (0x7F >> len);
    for (int k = 1; k < len; ++k) {
      const auto cc = static_cast<unsigned char>(s[i + static_cast<std::size_t>(k)]);
      if ((cc & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (cc & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    i += static_cast<std::size_t>(len);
  }
  return true;
}

namespace {

std::string DecodeMixed(std::string_view b) {
  std::string out;
  out.reserve(b.size() + b.size() / 2);
  for (std::size_t i = 0; i < b.size();) {
    const auto c = static_cast<unsigned char>(b[i]);
    const std::size_t len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (len > 1 && i + len <= b.size() && IsValidUtf8(b.substr(i, len))) {
      out.append(b.substr(i, len));
      i += len;
      continue;
    }
    AppendUtf8(out, c < 0x80 ? c : kCp1251[c - 0x80]);
    ++i;
  }
  return out;
}

}  // namespace

DecodedText DecodeText(std::string_view b) {
  auto starts = [&](std::string_view p) { return b.substr(0, p.size()) == p; };
  if (starts("\xFF\xFE")) return {DecodeUtf16(b.substr(2), true), TextEncoding::Utf16LeBom};
  if (starts("\xFE\xFF")) return {DecodeUtf16(b.substr(2), false), TextEncoding::Utf16BeBom};
  if (starts("\xEF\xBB\xBF")) {
    std::string_view rest = b.substr(3);
    if (IsValidUtf8(rest)) return {std::string(rest), TextEncoding::Utf8Bom};
    // A mark followed by a few broken bytes, typically a line added in an
    // editor set to code page 1251: every sequence that reads as UTF-8 stays
    // as it is, each other byte is taken as the 1251 letter it most likely
    // is. The file's own UTF-8 text is then written back byte for byte.
    return {DecodeMixed(rest), TextEncoding::Utf8Bom};
  }
  if (LooksLikeUtf16Le(b)) return {DecodeUtf16(b, true), TextEncoding::Utf16Le};
  if (IsValidUtf8(b)) return {std::string(b), TextEncoding::Utf8};
  std::string out;
  out.reserve(b.size() * 2);
  for (char ch : b) {
    const auto c = static_cast<unsigned char>(ch);
    AppendUtf8(out, c < 0x80 ? c : kCp1251[c - 0x80]);
  }
  return {out, TextEncoding::Windows1251};
}

std::string EncodeText(std::string_view utf8, TextEncoding e) {
  const std::string valid = IsValidUtf8(utf8) ? std::string(utf8) : DecodeText(utf8).utf8;
  switch (e) {
    case TextEncoding::Utf8:
      return valid;
    case TextEncoding::Utf8Bom:
      return "\xEF\xBB\xBF" + valid;
    case TextEncoding::Utf16LeBom:
      return "\xFF\xFE" + EncodeUtf16(valid, true);
    case TextEncoding::Utf16BeBom:
      return "\xFE\xFF" + EncodeUtf16(valid, false);
    case TextEncoding::Utf16Le:
      return EncodeUtf16(valid, true);
    case TextEncoding::Windows1251: {
      std::string out;
      for (char32_t cp : CodePoints(valid)) {
        if (cp < 0x80) {
          out += static_cast<char>(cp);
          continue;
        }
        char byte = '?';
        for (std::size_t i = 0; i < kCp1251.size(); ++i) {
          if (kCp1251[i] == cp && cp != 0xFFFD) {
            byte = static_cast<char>(0x80 + i);
            break;
          }
        }
        out += byte;
      }
      return out;
    }
  }
  return valid;
}

const char* EncodingName(TextEncoding e) {
  switch (e) {
    case TextEncoding::Utf8:
      return "UTF-8";
    case TextEncoding::Utf8Bom:
      return "UTF-8 with BOM";
    case TextEncoding::Utf16LeBom:
      return "UTF-16 LE with BOM";
    case TextEncoding::Utf16BeBom:
      return "UTF-16 BE with BOM";
    case TextEncoding::Utf16Le:
      return "UTF-16 LE";
    case TextEncoding::Windows1251:
      return "Windows-1251";
  }
  return "?";
}

}  // namespace kl
