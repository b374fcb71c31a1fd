// Helpers the spreadsheet tests share: a private folder, files and zips.
#pragma once

#include <zip.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

namespace kl::test {

// A fresh folder of its own for each test, removed afterwards.
class TempDir {
 public:
  TempDir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "kl_xls_XXXXXX").string();
    path_ = mkdtemp(tmpl.data());
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  std::string operator/(const std::string& name) const { return (path_ / name).string(); }
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

inline std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void WriteAll(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// A zip of (name, content) members, deflated. A member may be given as a
// size only (content empty, repeat > 0): that many zero bytes, streamed.
struct ZipMember {
  std::string name;
  std::string content;
  std::size_t zeros = 0;
};

inline bool WriteZip(const std::string& path, const std::vector<ZipMember>& members) {
  zipFile z = zipOpen64(path.c_str(), APPEND_STATUS_CREATE);
  if (!z) return false;
  bool ok = true;
  for (const ZipMember& m : members) {
    zip_fileinfo info{};
    if (zipOpenNewFileInZip64(z, m.name.c_str(), &info, nullptr, 0, nullptr, 0, nullptr, Z_DEFLATED, 9, 1) !=
        ZIP_OK) {
      ok = false;
      break;
    }
    if (!m.content.empty())
      ok = ok && zipWriteInFileInZip(z, m.content.data(), static_cast<unsigned>(m.content.size())) == ZIP_OK;
    const std::string block(1 << 20, '\0');
    for (std::size_t left = m.zeros; left > 0 && ok;) {
      const std::size_t n = std::min(left, block.size());
      ok = zipWriteInFileInZip(z, block.data(), static_cast<unsigned>(n)) == ZIP_OK;
      left -= n;
    }
    zipCloseFileInZip(z);
  }
  return zipClose(z, nullptr) == ZIP_OK && ok;
}

}  // namespace kl::test
