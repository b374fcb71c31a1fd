#include <gtest/gtest.h>

#include "IniFile.h"

namespace kl {
namespace {

TEST(IniRead, NamesIgnoreCaseValuesAreTrimmedFirstOccurrenceWins) {
  const IniDocument doc = IniDocument::Parse(
      "; a comment=not a key\r\n"
      "orphan=before any section\r\n"
      "[ Uart ]\r\n"
      "  num = 3 \r\n"
      "Num=9\r\n"
      "empty=\r\n"
      "noequals\r\n"
      "[Русский]\r\n"
      "BtnPortOpen=  Открыть порт  \r\n"
      "[uart]\r\n"
      "BAUD=4800\r\n");
  EXPECT_EQ(doc.Get("UART", "NUM"), "3");
  EXPECT_EQ(doc.Get("uart", "nUm"), "3");
  EXPECT_EQ(doc.Get("UART", "empty"), "");           // present and empty is not missing
  EXPECT_EQ(doc.Get("UART", "BAUD"), std::nullopt);  // only the first [UART] counts
  EXPECT_EQ(doc.Get("UART", "orphan"), std::nullopt);
  EXPECT_EQ(doc.Get("UART", "noequals"), std::nullopt);
  EXPECT_EQ(doc.Get("UART", "; a comment"), std::nullopt);
  EXPECT_EQ(doc.Get("русский", "btnportopen"), "Открыть порт");
  EXPECT_EQ(doc.Get("Nowhere", "NUM"), std::nullopt);
}

TEST(IniRead, APairOfQuotesAroundAValueIsDropped) {
  struct Case {
    const char* line;
    const char* expected;
  } cases[] = {
      {"k=\"  Открыть  \"", "  Открыть  "},
      {"k='x'", "x"},
      {"k=\"\"", ""},
      {"k=\"x", "\"x"},
      {"k=\"x'", "\"x'"},
      {"k=\"a\"b\"", "a\"b"},
      {"k=\"", "\""},
      {"k=  'T, °C'  ", "T, °C"},
  };
  for (const Case& c : cases) {
    const IniDocument doc = IniDocument::Parse(std::string("[S]\n") + c.line + "\n");
    EXPECT_EQ(doc.Get("S", "k"), c.expected) << c.line;
    EXPECT_EQ(doc.SectionPairs("S").at(0).second, c.expected) << c.line;
  }
  EXPECT_EQ(IniDocument::Parse("[UART]\nBAUD=\"9600\"\n").GetInt("UART", "BAUD", 1), 9600);
}

TEST(IniRead, IntegersTakeTheDefaultUnlessTheWholeValueIsANumber) {
  struct Case {
    const char* value;
    int32_t expected;
  } cases[] = {
      {"19200", 19200},   {" -7 ", -7}, {"+5", 5},
      {"300", 300},       {"", 42},     {"abc", 42},
      {"12abc", 42},      {"0x10", 42}, {"2147483647", 2147483647},
      {"2147483648", 42}, {"1.5", 42},
  };
  for (const Case& c : cases) {
    const IniDocument doc = IniDocument::Parse(std::string("[UART]\nBAUD=") + c.value + "\n");
    EXPECT_EQ(doc.GetInt("UART", "BAUD", 42), c.expected) << '"' << c.value << '"';
  }
  EXPECT_EQ(IniDocument::Parse("").GetInt("UART", "BAUD", 42), 42);
}

TEST(IniRead, ValuesAreCutAt2047Characters) {
  const std::string cyr = "Ж";  // two bytes: the limit counts characters
  std::string longValue;
  for (int i = 0; i < 3000; ++i) longValue += cyr;
  const IniDocument doc = IniDocument::Parse("[S]\nk=" + longValue + "\n");
  const std::string got = *doc.Get("S", "k");
  EXPECT_EQ(got.size(), 2047u * cyr.size());
  std::string exact(2047, 'x');
  EXPECT_EQ(*IniDocument::Parse("[S]\nk=" + exact + "\n").Get("S", "k"), exact);
  EXPECT_EQ(IniDocument::Parse("[S]\nk=" + longValue + "\n").SectionPairs("S").at(0).second, got);
}

TEST(IniWrite, ChangesOnlyTheKeysLineAndKeepsEverythingElse) {
  const std::string original =
      "; settings of the service tool\r\n"
      "[Other]\r\n"
      "Keep=this\r\n"
      "\r\n"
      "[uart]\r\n"
      "num=3\r\n"
      "Extra = left alone\r\n"
      "\r\n"
      "[Tail]\r\n"
      "x=1";
  IniDocument doc = IniDocument::Parse(original);
  EXPECT_EQ(doc.Serialize(), original);  // reading alone changes nothing
  doc.SetInt("UART", "NUM", 7);          // existing key: replaced in place, spelling kept
  doc.SetInt("UART", "BAUD", 9600);      // new key: after the section's last line
  doc.Set("New", "k", "v");              // new section: at the end
  EXPECT_EQ(doc.Serialize(),
            "; settings of the service tool\r\n"
            "[Other]\r\n"
            "Keep=this\r\n"
            "\r\n"
            "[uart]\r\n"
            "num=7\r\n"
            "Extra = left alone\r\n"
            "BAUD=9600\r\n"
            "\r\n"
            "[Tail]\r\n"
            "x=1\r\n"
            "[New]\r\n"
            "k=v\r\n");
}

TEST(IniWrite, NewDocumentAndLineEndingsOfTheFile) {
  IniDocument fresh;
  fresh.SetInt("UART", "NUM", 1);
  fresh.SetInt("UART", "BAUD", 19200);
  EXPECT_EQ(fresh.Serialize(), "[UART]\r\nNUM=1\r\nBAUD=19200\r\n");
  IniDocument unixFile = IniDocument::Parse("[UART]\nNUM=1\n");
  unixFile.SetInt("UART", "ADDR", 5);
  EXPECT_EQ(unixFile.Serialize(), "[UART]\nNUM=1\nADDR=5\n");
  IniDocument noFinalEol = IniDocument::Parse("[UART]\nNUM=1");
  noFinalEol.SetInt("UART", "ADDR", 5);
  EXPECT_EQ(noFinalEol.Serialize(), "[UART]\nNUM=1\nADDR=5\n");
}

}  // namespace
}  // namespace kl
