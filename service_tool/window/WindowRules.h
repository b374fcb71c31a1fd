// The main window's rules, kept apart from any widget so they can be checked
// on their own: what the address edit does with its text, how the port list
// is ordered, which controls the language file may rename, the size limits
// and the splash fade.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kl {

// The baud rates offered in the rate lists.
inline constexpr int32_t kBaudEntries[] = {2400, 4800, 9600, 19200, 38400, 57600, 115200};

// A whole-string decimal integer (blanks around it allowed) that fits 32 bits.
std::optional<int32_t> ReadInteger(std::string_view text);

// What the address edit does with a new text.
struct AddressCheck {
  bool replaceText = false;  // the text is no number: show the address in effect instead
  int32_t address = 0;       // the address in effect afterwards
  bool save = false;         // a new value was taken: save the settings
};
AddressCheck CheckAddressText(std::string_view text, int32_t current);
// The up/down buttons: the text stepped by delta without a limit, or nothing
// when the text is no number.
std::optional<std::string> StepAddressText(std::string_view text, int delta);

// The number behind the first three characters of a port entry ("COM7" gives
// 7); 0 when there is none.
int32_t PortNumberFromEntry(std::string_view entry);
// The port list as shown: names beginning with "COM" only, sorted as text
// (COM10 before COM2), each once.
std::vector<std::string> SortPortEntries(std::vector<std::string> names);
// The port list refreshed while the program runs: the ports present now, and
// the selected entry even if its port has gone (an adapter pulled for a
// moment must not silently change the port in effect).
std::vector<std::string> RefreshedPortEntries(std::vector<std::string> present, const std::string& selected);

// Windows with an outer size below this are refused.
inline constexpr int kMinOuterWidth = 809;
inline constexpr int kMinOuterHeight = 500;
bool ResizeAllowed(int outerWidth, int outerHeight);

// Top and height of the chart on the oscilloscope page after a resize.
struct ChartPlace {
  int top;
  int height;
};
ChartPlace ChartPlaceFor(int clientHeight, int pulseTop, int pulseHeight);

// How the short logo strip shows its picture: stretched over the whole strip
// while the picture is narrower, otherwise aligned to the right edge.
enum class LogoFit { Fill, AlignRight };
LogoFit LogoFitFor(int pictureWidth, int stripWidth);

// The splash fade, one call per timer tick.
struct SplashFade {
  int interval = 30;  // ms
  double step = 0;    // set on the first tick
  int ticks = 0;
  int opacity = 0;  // 0..255
  // Returns true on the tick at which the main window is to be shown and the
  // splash closed (the 67th at 30 ms); until then the opacity rises.
  bool Tick();
};

// The translation of controls through the language file. A control is
// renamed only when its class is exactly one of the allowed ones, so that
// edits, lists and any class derived from an allowed one keep their texts.
enum class TranslateAs {
  None,
  Text,     // labels, buttons, check boxes, radio buttons, tool buttons: the text
  Title,    // group boxes: the title
  TabText,  // a page of a tab widget: its tab's text
  Action,   // menu items: the action's text
};
// The window framework classes that stand for the names of the window
// layouts: "TLabel" -> "QLabel", "TTabSheet" -> the page of a tab widget.
std::optional<std::string_view> QtClassFor(std::string_view layoutClass);
// The classes the main window translates.
std::span<const std::string_view> MainWindowClasses();
// qtClass is the exact class name of the object; isTabPage tells whether it
// is a page of a tab widget (pages are plain widgets in Qt).
TranslateAs TranslationFor(std::string_view qtClass, bool isTabPage,
                           std::span<const std::string_view> layoutClasses);

// The instruction document: a relative name is looked for in the current
// folder first, then next to the program (a program started from a desktop
// menu runs in the user's home folder). Nothing when the name is empty or no
// such file exists.
std::optional<std::string> FindHelpFile(const std::string& name, const std::string& currentFolder,
                                        const std::string& programFolder);

}  // namespace kl
