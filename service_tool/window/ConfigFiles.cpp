#include "ConfigFiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace kl {

std::string JoinPath(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  return folder.back() == '/' ? folder + name : folder + "/" + name;
}

std::optional<std::string> ReadWholeFile(const std::string& path, std::size_t maxBytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::string data;
  char buf[8192];
  while (in.read(buf, sizeof buf) || in.gcount() > 0) {
    data.append(buf, static_cast<std::size_t>(in.gcount()));
    if (data.size() > maxBytes) return std::nullopt;
  }
  if (in.bad()) return std::nullopt;
  return data;
}

bool WriteFileAtomically(const std::string& path, const std::string& bytes, std::string* error) {
  auto fail = [&](const char* what) {
    if (error) *error = std::string(what) + ": " + std::strerror(errno);
    return false;
  };
  std::string tmpl = path + ".XXXXXX";
  const int fd = mkstemp(tmpl.data());
  if (fd < 0) return fail("create temporary file");
  struct stat st {};
  const mode_t mode = (stat(path.c_str(), &st) == 0) ? (st.st_mode & 07777) : 0644;
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      const int saved = errno;
      close(fd);
      unlink(tmpl.c_str());
      errno = saved;
      return fail("write");
    }
    done += static_cast<std::size_t>(n);
  }
  if (fchmod(fd, mode) != 0 || fsync(fd) != 0) {
    const int saved = errno;
    close(fd);
    unlink(tmpl.c_str());
    errno = saved;
    return fail("flush");
  }
  if (close(fd) != 0) {
    const int saved = errno;
    unlink(tmpl.c_str());
    errno = saved;
    return fail("close");
  }
  if (rename(tmpl.c_str(), path.c_str()) != 0) {
    const int saved = errno;
    unlink(tmpl.c_str());
    errno = saved;
    return fail("rename");
  }
  return true;
}

namespace {

bool CanWriteIn(const std::string& folder, const std::string& file) {
  // A replace by rename needs the folder writable; an existing read-only file
  // is a technician's way of freezing the settings, and is respected.
  if (access(folder.c_str(), W_OK | X_OK) != 0) return false;
  return access(file.c_str(), F_OK) != 0 || access(file.c_str(), W_OK) == 0;
}

constexpr const char* kUart = "UART";

}  // namespace

SettingsFile::SettingsFile(std::vector<std::string> folders) : folders_(std::move(folders)) {
  if (folders_.empty()) folders_.push_back(".");
  active_ = 0;
  for (std::size_t i = 0; i < folders_.size(); ++i) {
    if (CanWriteIn(folders_[i], PathIn(i))) {
      active_ = i;
      break;
    }
  }
}

std::string SettingsFile::PathIn(std::size_t i) const { return JoinPath(folders_[i], kSettingsFileName); }
std::string SettingsFile::ActivePath() const { return PathIn(active_); }

std::optional<std::size_t> SettingsFile::ExistingIndex() const {
  if (access(PathIn(active_).c_str(), R_OK) == 0) return active_;
  for (std::size_t i = 0; i < folders_.size(); ++i) {
    if (access(PathIn(i).c_str(), R_OK) == 0) return i;
  }
  return std::nullopt;
}

PortSettings SettingsFile::Read() const {
  PortSettings s;
  const auto idx = ExistingIndex();
  if (!idx) return s;
  const auto text = ReadWholeFile(PathIn(*idx));
  if (!text) return s;
  const IniDocument doc = IniDocument::Parse(DecodeText(*text).utf8);
  s.port = doc.GetInt(kUart, "NUM", 1);
  s.baud = doc.GetInt(kUart, "BAUD", 19200);
  s.address = doc.GetInt(kUart, "ADDR", 1);
  return s;
}

bool SettingsFile::Save(const PortSettings& s, std::string* failedPath) {
  // The text to start from, so keys and sections of other programs (or of a
  // hand edit) are carried over unchanged: the file about to be replaced, or,
  // while there is none yet, the one read at start (a copy shipped next to
  // the program).
  const std::optional<std::size_t> shipped = ExistingIndex();
  for (std::size_t i = active_; i < folders_.size(); ++i) {
    const std::string path = PathIn(i);
    // The user's configuration folder (and its parents) may not exist yet.
    std::error_code ec;
    std::filesystem::create_directories(folders_[i], ec);
    if (!CanWriteIn(folders_[i], path)) continue;
    std::optional<std::string> base;
    if (access(path.c_str(), F_OK) == 0) {
      // A file there that cannot be read is never replaced: its other
      // sections would be lost.
      base = ReadWholeFile(path);
      if (!base) continue;
    } else if (shipped) {
      base = ReadWholeFile(PathIn(*shipped));
    }
    IniDocument doc;
    TextEncoding enc = TextEncoding::Utf8;
    if (base) {
      DecodedText d = DecodeText(*base);
      enc = d.encoding;
      doc = IniDocument::Parse(d.utf8);
    }
    doc.SetInt(kUart, "NUM", s.port);
    doc.SetInt(kUart, "BAUD", s.baud);
    doc.SetInt(kUart, "ADDR", s.address);
    if (WriteFileAtomically(path, EncodeText(doc.Serialize(), enc))) {
      active_ = i;
      return true;
    }
  }
  if (failedPath) *failedPath = PathIn(0);
  return false;
}

std::optional<LanguageFile> LanguageFile::Load(const std::string& path) {
  const auto bytes = ReadWholeFile(path);
  if (!bytes) return std::nullopt;
  DecodedText d = DecodeText(*bytes);
  LanguageFile f;
  f.path = path;
  f.encoding = d.encoding;
  f.doc = IniDocument::Parse(d.utf8);
  return f;
}

bool LanguageFile::WriteSelected(const std::string& path, const std::string& name, std::string* error) {
  IniDocument doc;
  TextEncoding enc = TextEncoding::Utf8;
  if (const auto f = Load(path)) {
    doc = f->doc;
    enc = f->encoding;
  } else if (access(path.c_str(), F_OK) == 0) {
    // Replacing a file we cannot read would throw every translation away.
    if (error) *error = "cannot read the file";
    return false;
  }
  doc.Set("LANG", "SELECTED", name);
  return WriteFileAtomically(path, EncodeText(doc.Serialize(), enc), error);
}

LanguageFiles::LanguageFiles(std::string languageFolder, std::string userFolder)
    : languageFolder_(std::move(languageFolder)), userFolder_(std::move(userFolder)) {
  if (userFolder_.empty()) return;
  // One folder named twice: the language file itself keeps the choice.
  std::error_code e1, e2;
  const auto a = std::filesystem::weakly_canonical(JoinPath(languageFolder_, kLanguageFileName), e1);
  const auto b = std::filesystem::weakly_canonical(JoinPath(userFolder_, kLanguageFileName), e2);
  if (!e1 && !e2 && a == b) userFolder_.clear();
}

std::string LanguageFiles::ShippedPath() const { return JoinPath(languageFolder_, kLanguageFileName); }

std::string LanguageFiles::CopyPath() const {
  return userFolder_.empty() ? std::string() : JoinPath(userFolder_, kLanguageFileName);
}

std::string LanguageFiles::Prepare() const {
  const std::string copyPath = CopyPath();
  if (copyPath.empty()) return ShippedPath();
  const std::optional<LanguageFile> copy = LanguageFile::Load(copyPath);
  const std::optional<std::string> selected = copy ? copy->doc.Get("LANG", "SELECTED") : std::nullopt;
  if (!selected || selected->empty()) return ShippedPath();
  const std::optional<LanguageFile> shipped = LanguageFile::Load(ShippedPath());
  if (!shipped) return copyPath;  // the copy stands on its own
  IniDocument merged = shipped->doc;
  merged.Set("LANG", "SELECTED", *selected);
  const std::string bytes = EncodeText(merged.Serialize(), shipped->encoding);
  // A copy that cannot be refreshed still holds the choice; a few newer
  // texts then fall back to the built-in ones until it can.
  if (ReadWholeFile(copyPath) != bytes) WriteFileAtomically(copyPath, bytes);
  return copyPath;
}

bool LanguageFiles::WriteSelected(const std::string& name, std::string* failedPath) const {
  const std::string copyPath = CopyPath();
  if (copyPath.empty()) {
    if (LanguageFile::WriteSelected(ShippedPath(), name)) return true;
    if (failedPath) *failedPath = ShippedPath();
    return false;
  }
  // The copy starts from the shipped texts as they are now.
  std::error_code ec;
  std::filesystem::create_directories(userFolder_, ec);
  IniDocument doc;
  TextEncoding enc = TextEncoding::Utf8;
  if (const auto shipped = LanguageFile::Load(ShippedPath())) {
    doc = shipped->doc;
    enc = shipped->encoding;
  } else if (const auto copy = LanguageFile::Load(copyPath)) {
    doc = copy->doc;
    enc = copy->encoding;
  } else if (access(copyPath.c_str(), F_OK) == 0) {
    // Neither file can be read: replacing the copy would lose its texts.
    if (failedPath) *failedPath = copyPath;
    return false;
  }
  doc.Set("LANG", "SELECTED", name);
  if (WriteFileAtomically(copyPath, EncodeText(doc.Serialize(), enc))) return true;
  if (failedPath) *failedPath = copyPath;
  return false;
}

LanguageChoice ReadLanguageChoice(const IniDocument& doc) {
  LanguageChoice c;
  c.selected = doc.GetString("LANG", "SELECTED", "English");
  for (int n = 1; n <= 254; ++n) {
    const std::string v = doc.GetString("LANG", "LANG" + std::to_string(n), "");
    if (v.empty()) break;
    if (v == c.selected) c.selectedIndex = static_cast<int>(c.names.size());
    c.names.push_back(v);
  }
  return c;
}

}  // namespace kl
