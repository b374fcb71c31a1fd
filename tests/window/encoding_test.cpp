#include <gtest/gtest.h>

#include "IniFile.h"
#include "TextEncoding.h"

namespace kl {
namespace {

const std::string kText = "[Русский]\r\nBtnPortOpen=Открыть ёЁ №\r\n";

std::string Utf16Le(const std::string& utf8) { return EncodeText(utf8, TextEncoding::Utf16Le); }

TEST(TextEncoding, EachShapeDecodesToTheSameTextAndIsRecognised) {
  struct Case {
    const char* name;
    std::string bytes;
    TextEncoding encoding;
  } cases[] = {
      {"utf8", kText, TextEncoding::Utf8},
      {"utf8 bom", "\xEF\xBB\xBF" + kText, TextEncoding::Utf8Bom},
      {"utf16le bom", "\xFF\xFE" + Utf16Le(kText), TextEncoding::Utf16LeBom},
      {"utf16le no bom", Utf16Le(kText), TextEncoding::Utf16Le},
      // "[Русский]" etc. written byte by byte in code page 1251.
      {"cp1251",
       "[\xD0\xF3\xF1\xF1\xEA\xE8\xE9]\r\nBtnPortOpen=\xCE\xF2\xEA\xF0\xFB\xF2\xFC \xB8\xA8 \xB9\r\n",
       TextEncoding::Windows1251},
  };
  for (const Case& c : cases) {
    const DecodedText d = DecodeText(c.bytes);
    EXPECT_EQ(d.utf8, kText) << c.name;
    EXPECT_EQ(d.encoding, c.encoding) << c.name;
    // Written back in the shape it came in, byte for byte.
    EXPECT_EQ(EncodeText(d.utf8, d.encoding), c.bytes) << c.name;
  }
}

TEST(TextEncoding, EveryCp1251ByteComesBackUnchanged) {
  // Written back after a language change, the file must keep every byte; 0x98
  // (no letter in this code page) and the capital И of a stray UTF-8 line
  // (D0 98) among them.
  std::string bytes = "[LANG]\r\nSELECTED=x\r\n";
  for (int c = 0x80; c <= 0xFF; ++c) bytes += static_cast<char>(c);
  bytes += "\r\nИ\r\n";
  const DecodedText d = DecodeText(bytes);
  ASSERT_EQ(d.encoding, TextEncoding::Windows1251);
  EXPECT_EQ(EncodeText(d.utf8, d.encoding), bytes);
}

TEST(TextEncoding, MarkedUtf8WithAStray1251LineKeepsItsOwnText) {
  // "Порт" typed in code page 1251 into a UTF-8 file with a mark.
  const std::string utf8 = "[Русский]\r\nBtnPortOpen=Открыть Ё\r\n";
  const std::string bytes = "\xEF\xBB\xBF" + utf8 + "LblCom=\xCF\xEE\xF0\xF2\r\n";
  const DecodedText d = DecodeText(bytes);
  EXPECT_EQ(d.encoding, TextEncoding::Utf8Bom);
  EXPECT_EQ(d.utf8, utf8 + "LblCom=Порт\r\n");
  EXPECT_EQ(EncodeText(d.utf8, d.encoding), "\xEF\xBB\xBF" + utf8 + "LblCom=Порт\r\n");
}

TEST(TextEncoding, Utf16SurrogatesAndBrokenUnits) {
  // U+1F600 as a pair, then a lone high surrogate, then 'A'.
  const std::string bytes = std::string("\xFF\xFE", 2) + std::string("\x3D\xD8\x00\xDE", 4) +
                            std::string("\x3D\xD8", 2) + std::string("A\0", 2) + "\x01";  // stray last byte
  EXPECT_EQ(DecodeText(bytes).utf8,
            "\xF0\x9F\x98\x80\xEF\xBF\xBD"
            "A");
}

TEST(TextEncoding, Cp1251CannotHoldEverything) {
  EXPECT_EQ(EncodeText("Дизель €中", TextEncoding::Windows1251), "\xC4\xE8\xE7\xE5\xEB\xFC \x88?");
}

TEST(TextEncoding, Utf8ValidityRejectsOverlongsAndSurrogates) {
  EXPECT_TRUE(IsValidUtf8("plain Кириллица"));
  EXPECT_FALSE(IsValidUtf8("\xC0\xAF"));      // overlong '/'
  EXPECT_FALSE(IsValidUtf8("\xED\xA0\x80"));  // surrogate
  EXPECT_FALSE(IsValidUtf8("\xD0"));          // cut short
  EXPECT_FALSE(IsValidUtf8("\xCF\xF0\xE8"));  // "При" in cp1251
}

}  // namespace
}  // namespace kl
