// Language files come from Windows editors in one of three shapes: UTF-16
// little-endian with a byte-order mark (Notepad's "Unicode"), UTF-8 with or
// without a mark, or single-byte text in the Cyrillic code page 1251. They are
// read into UTF-8 and, when the program writes its language choice back,
// written in the shape they came in.
#pragma once

#include <string>
#include <string_view>

namespace kl {

enum class TextEncoding {
  Utf8,  // no byte-order mark
  Utf8Bom,
  Utf16LeBom,
  Utf16BeBom,
  Utf16Le,  // no mark, recognised by its zero high bytes
  Windows1251,
};

struct DecodedText {
  std::string utf8;
  TextEncoding encoding = TextEncoding::Utf8;
};

// Never fails: bytes that fit no rule are read as code page 1251, and broken
// UTF-16 units become U+FFFD.
DecodedText DecodeText(std::string_view bytes);
// Characters that code page 1251 cannot hold become '?'.
std::string EncodeText(std::string_view utf8, TextEncoding encoding);

bool IsValidUtf8(std::string_view bytes);
const char* EncodingName(TextEncoding e);

}  // namespace kl
