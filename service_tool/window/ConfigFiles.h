// The two files the service tool keeps next to itself: the settings file with
// the port, rate and address, and the language file. Both are written by
// replacing the whole file at once (a temporary file in the same folder, then
// a rename), so a crash or a full disk never leaves half a file behind.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "IniFile.h"
#include "TextEncoding.h"

namespace kl {

inline constexpr const char* kSettingsFileName = "KL31_Install_Service.ini";
inline constexpr const char* kLanguageFileName = "KL31_Install_Service.lng";

// Whole file into memory; nothing when it cannot be read. Files larger than
// maxBytes are refused rather than read in part.
std::optional<std::string> ReadWholeFile(const std::string& path, std::size_t maxBytes = 16u << 20);
// Writes bytes to path through a temporary file and a rename. Keeps the mode
// of an existing file. On failure the old file is untouched and error (if
// given) holds the reason.
bool WriteFileAtomically(const std::string& path, const std::string& bytes, std::string* error = nullptr);
std::string JoinPath(const std::string& folder, const std::string& name);

// The three link settings as the window keeps them.
struct PortSettings {
  int32_t port = 1;
  int32_t baud = 19200;
  int32_t address = 1;
};

// The settings file, section UART. It belongs next to the program; when that
// folder cannot be written (an installed program), the next folder of the
// list is used, normally the user's configuration folder.
class SettingsFile {
 public:
  explicit SettingsFile(std::vector<std::string> folders);

  // Values in effect from the file; the defaults for anything missing or
  // unreadable. Reads the file that saves go to, or, while that one does not
  // exist yet, the first one that does (a copy shipped next to the program).
  PortSettings Read() const;
  // Writes NUM, BAUD and ADDR, leaving the rest of the file as it was. A
  // folder that cannot be written, or whose file is read-only or cannot be
  // read, is passed over rather than have that file replaced. Creates a
  // missing folder. On failure in every
  // folder, returns false and failedPath is the path of the file next to the
  // program, for the error box.
  bool Save(const PortSettings& s, std::string* failedPath = nullptr);
  // Where the next save goes.
  std::string ActivePath() const;
  const std::vector<std::string>& Folders() const { return folders_; }

 private:
  std::string PathIn(std::size_t i) const;
  std::optional<std::size_t> ExistingIndex() const;
  std::vector<std::string> folders_;
  std::size_t active_ = 0;
};

// The language file as read: its text, the shape it came in, its path.
struct LanguageFile {
  std::string path;
  TextEncoding encoding = TextEncoding::Utf8;
  IniDocument doc;

  // Nothing when the file is absent or unreadable.
  static std::optional<LanguageFile> Load(const std::string& path);
  // Writes SELECTED of section LANG, keeping every other line and the
  // encoding. Rereads the file first, so edits made since loading survive.
  static bool WriteSelected(const std::string& path, const std::string& name, std::string* error = nullptr);
};

// Where the language file is read and where the technician's choice of
// language is kept. The texts ship in the language folder, next to the
// program, and every build or update replaces that file; an installed
// program's folder cannot be written at all. So the choice never goes there:
// it is kept in a copy of the language file in the user's settings folder,
// and at each start that copy takes the shipped texts over, keeping only its
// own SELECTED. Without a user folder (or when it is the language folder
// itself) the choice is written into the language file, as before.
class LanguageFiles {
 public:
  LanguageFiles(std::string languageFolder, std::string userFolder);

  std::string ShippedPath() const;
  // Empty when there is no separate user folder.
  std::string CopyPath() const;
  // Brings the user's copy up to date with the shipped file and returns the
  // file to read: the copy when it holds a choice, otherwise the shipped file.
  std::string Prepare() const;
  // Keeps name as the selected language. On failure failedPath (if given)
  // holds the full path of the file that could not be written.
  bool WriteSelected(const std::string& name, std::string* failedPath = nullptr) const;

 private:
  std::string languageFolder_;
  std::string userFolder_;
};

// What section LANG offers.
struct LanguageChoice {
  std::string selected;            // SELECTED, "English" when missing
  std::vector<std::string> names;  // LANG1, LANG2, ... up to the first missing or empty
  int selectedIndex = -1;          // entry equal to SELECTED, case counting; -1 if none
};
LanguageChoice ReadLanguageChoice(const IniDocument& doc);

}  // namespace kl
