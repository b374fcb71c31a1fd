#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "WindowRules.h"

namespace kl {
namespace {

TEST(AddressEdit, TextIsCheckedLimitedOrReplaced) {
  struct Case {
    const char* text;
    bool replace;
    int32_t address;
  } cases[] = {
      {"1", false, 1}, {"300", false, 255}, {"255", false, 255}, {"-4", false, 0},          {" 7 ", false, 7},
      {"", true, 42},  {"abc", true, 42},   {"12a", true, 42},   {"99999999999", true, 42},
  };
  for (const Case& c : cases) {
    const AddressCheck got = CheckAddressText(c.text, 42);
    EXPECT_EQ(got.replaceText, c.replace) << c.text;
    EXPECT_EQ(got.save, !c.replace) << c.text;
    EXPECT_EQ(got.address, c.address) << c.text;
  }
  EXPECT_EQ(StepAddressText("300", +1), "301");  // no limit on the text itself
  EXPECT_EQ(StepAddressText("0", -1), "-1");
  EXPECT_EQ(StepAddressText("2147483647", +1), "2147483648");
  EXPECT_EQ(StepAddressText("x", +1), std::nullopt);
}

TEST(PortList, SortedAsTextComOnlyAndNumberBehindThePrefix) {
  EXPECT_EQ(SortPortEntries({"COM2", "COM10", "COM1", "com3", "LPT1", "COM1"}),
            (std::vector<std::string>{"COM1", "COM10", "COM2"}));
  EXPECT_EQ(PortNumberFromEntry("COM7"), 7);
  EXPECT_EQ(PortNumberFromEntry("COM10"), 10);
  EXPECT_EQ(PortNumberFromEntry("COM"), 0);
  EXPECT_EQ(PortNumberFromEntry("COMx"), 0);
}

TEST(WindowSize, LimitsAndChartPlace) {
  EXPECT_FALSE(ResizeAllowed(808, 600));
  EXPECT_FALSE(ResizeAllowed(900, 499));
  EXPECT_TRUE(ResizeAllowed(809, 500));
  EXPECT_EQ(ChartPlaceFor(771, 10, 150).height, 771 - 160 - 85);
  EXPECT_EQ(ChartPlaceFor(771, 10, 150).top, 224);
  EXPECT_EQ(LogoFitFor(2024, 2100), LogoFit::Fill);
  EXPECT_EQ(LogoFitFor(2024, 809), LogoFit::AlignRight);
}

TEST(SplashFade, RisesBySevenIsOpaqueAtTick37AndEndsAtTick67) {
  SplashFade fade;
  std::vector<int> opacity;
  int endTick = 0;
  for (int tick = 1; tick <= 100 && endTick == 0; ++tick) {
    if (fade.Tick())
      endTick = tick;
    else
      opacity.push_back(fade.opacity);
  }
  EXPECT_EQ(endTick, 67);
  ASSERT_EQ(opacity.size(), 66u);
  EXPECT_EQ(opacity[0], 7);
  EXPECT_EQ(opacity[1], 14);
  EXPECT_EQ(opacity[35], 252);
  EXPECT_EQ(opacity[36], 255);
  EXPECT_EQ(opacity[65], 255);
  // Opaque for the last second before the main window appears.
  EXPECT_GE((67 - 37) * 30, 900);
}

TEST(Translation, OnlyExactClassesOfTheListAreTranslated) {
  const auto main = MainWindowClasses();
  struct Case {
    const char* qtClass;
    bool tabPage;
    TranslateAs expected;
  } cases[] = {
      {"QLabel", false, TranslateAs::Text},
      {"QPushButton", false, TranslateAs::Text},
      {"QCheckBox", false, TranslateAs::Text},
      {"QRadioButton", false, TranslateAs::Text},
      {"QToolButton", false, TranslateAs::Text},
      {"QGroupBox", false, TranslateAs::Title},
      {"QWidget", true, TranslateAs::TabText},
      {"QAction", false, TranslateAs::Action},
      {"QWidget", false, TranslateAs::None},
      {"QLineEdit", false, TranslateAs::None},
      {"QComboBox", false, TranslateAs::None},
      {"QStatusBar", false, TranslateAs::None},
      {"kl::UpDownButtons", false, TranslateAs::None},   // derived from a widget, not listed
      {"QCommandLinkButton", false, TranslateAs::None},  // derived from QPushButton
  };
  for (const Case& c : cases) EXPECT_EQ(TranslationFor(c.qtClass, c.tabPage, main), c.expected) << c.qtClass;
  // A window with a shorter list renames only its own classes.
  constexpr std::string_view onlyButtons[] = {"TButton"};
  EXPECT_EQ(TranslationFor("QLabel", false, onlyButtons), TranslateAs::None);
  EXPECT_EQ(TranslationFor("QPushButton", false, onlyButtons), TranslateAs::Text);
  EXPECT_EQ(TranslationFor("QWidget", true, onlyButtons), TranslateAs::None);
}

TEST(HelpFile, FoundInTheCurrentFolderThenNextToTheProgram) {
  namespace fs = std::filesystem;
  const fs::path base = fs::temp_directory_path() / ("kl31-help-" + std::to_string(::getpid()));
  fs::create_directories(base / "cwd");
  fs::create_directories(base / "prog");
  std::ofstream(base / "prog" / "manual.html") << "x";
  const std::string cwd = (base / "cwd").string(), prog = (base / "prog").string();
  EXPECT_EQ(FindHelpFile("manual.html", cwd, prog), prog + "/manual.html");
  std::ofstream(base / "cwd" / "manual.html") << "x";
  EXPECT_EQ(FindHelpFile("manual.html", cwd, prog), cwd + "/manual.html");
  EXPECT_EQ(FindHelpFile("", cwd, prog), std::nullopt);
  EXPECT_EQ(FindHelpFile("missing.pdf", cwd, prog), std::nullopt);
  EXPECT_EQ(FindHelpFile("cwd", base.string(), prog), std::nullopt);  // a folder is no document
  fs::remove_all(base);
}

}  // namespace
}  // namespace kl
