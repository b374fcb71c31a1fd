#include "WindowRules.h"

#include <sys/stat.h>

#include <algorithm>
#include <charconv>
#include <utility>

namespace kl {

std::optional<int32_t> ReadInteger(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  if (!s.empty() && s.front() == '+') s.remove_prefix(1);
  if (s.empty()) return std::nullopt;
  int32_t v = 0;
  const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
  if (ec != std::errc() || end != s.data() + s.size()) return std::nullopt;
  return v;
}

AddressCheck CheckAddressText(std::string_view text, int32_t current) {
  AddressCheck c;
  const auto v = ReadInteger(text);
  if (!v) {
    c.replaceText = true;
    c.address = current;
    return c;
  }
  c.address = std::clamp<int32_t>(*v, 0, 255);
  c.save = true;
  return c;
}

std::optional<std::string> StepAddressText(std::string_view text, int delta) {
  const auto v = ReadInteger(text);
  if (!v) return std::nullopt;
  return std::to_string(static_cast<int64_t>(*v) + delta);
}

int32_t PortNumberFromEntry(std::string_view entry) {
  if (entry.size() <= 3) return 0;
  return ReadInteger(entry.substr(3)).value_or(0);
}

std::vector<std::string> SortPortEntries(std::vector<std::string> names) {
  std::erase_if(names, [](const std::string& n) { return n.rfind("COM", 0) != 0; });
  std::sort(names.begin(), names.end());
  names.erase(std::unique(names.begin(), names.end()), names.end());
  return names;
}

std::vector<std::string> RefreshedPortEntries(std::vector<std::string> present, const std::string& selected) {
  if (!selected.empty()) present.push_back(selected);
  return SortPortEntries(std::move(present));
}

bool ResizeAllowed(int w, int h) { return w >= kMinOuterWidth && h >= kMinOuterHeight; }

ChartPlace ChartPlaceFor(int clientHeight, int pulseTop, int pulseHeight) {
  return {224, clientHeight - (pulseTop + pulseHeight) - 85};
}

LogoFit LogoFitFor(int pictureWidth, int stripWidth) {
  return pictureWidth < stripWidth ? LogoFit::Fill : LogoFit::AlignRight;
}

bool SplashFade::Tick() {
  if (step == 0) step = static_cast<double>((255 - opacity) * 2) / static_cast<double>(2000 / interval);
  ++ticks;
  if (interval * ticks < 2000) {
    opacity = static_cast<int>(std::min(255.0, opacity + step));
    return false;
  }
  return true;
}

namespace {
struct ClassPair {
  std::string_view layout;
  std::string_view qt;
};
constexpr ClassPair kClasses[] = {
    {"TLabel", "QLabel"},       {"TButton", "QPushButton"},
    {"TCheckBox", "QCheckBox"}, {"TRadioButton", "QRadioButton"},
    {"TGroupBox", "QGroupBox"}, {"TSpeedButton", "QToolButton"},
    {"TTabSheet", "TabPage"},   {"TMenuItem", "QAction"},
};
constexpr std::string_view kMainClasses[] = {"TLabel",    "TButton",      "TCheckBox", "TRadioButton",
                                             "TGroupBox", "TSpeedButton", "TTabSheet"};
}  // namespace

std::optional<std::string_view> QtClassFor(std::string_view layoutClass) {
  for (const ClassPair& p : kClasses) {
    if (p.layout == layoutClass) return p.qt;
  }
  return std::nullopt;
}

std::span<const std::string_view> MainWindowClasses() { return kMainClasses; }

TranslateAs TranslationFor(std::string_view qtClass, bool isTabPage,
                           std::span<const std::string_view> layoutClasses) {
  auto allowed = [&](std::string_view qt) {
    for (std::string_view l : layoutClasses) {
      if (QtClassFor(l) == qt) return true;
    }
    return false;
  };
  // Menu items are translated for every window, whatever its class list.
  if (qtClass == "QAction") return TranslateAs::Action;
  if (isTabPage)
    return (qtClass == "QWidget" && allowed("TabPage")) ? TranslateAs::TabText : TranslateAs::None;
  if (!allowed(qtClass)) return TranslateAs::None;
  return qtClass == "QGroupBox" ? TranslateAs::Title : TranslateAs::Text;
}

std::optional<std::string> FindHelpFile(const std::string& name, const std::string& currentFolder,
                                        const std::string& programFolder) {
  if (name.empty()) return std::nullopt;
  auto isFile = [](const std::string& p) {
    struct stat st {};
    return stat(p.c_str(), &st) == 0 && S_ISREG(st.st_mode);
  };
  if (name.front() == '/') return isFile(name) ? std::optional<std::string>(name) : std::nullopt;
  for (const std::string& folder : {currentFolder, programFolder}) {
    if (folder.empty()) continue;
    std::string p = folder.back() == '/' ? folder + name : folder + "/" + name;
    if (isFile(p)) return p;
  }
  return std::nullopt;
}

}  // namespace kl
