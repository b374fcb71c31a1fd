// Shared pieces of the loader tests: a private ports folder, a recording
// stand-in for the dialog, module files and bounded waits.
#pragma once

#include <chrono>
#include <cstdlib>
#include <deque>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <ftw.h>
#include <unistd.h>

#include "ldr_dialog_iface.h"

namespace ldrtest {

class TempDir {
 public:
  TempDir() {
    char tmpl[] = "/tmp/kl31-loader-test.XXXXXX";
    const char* p = mkdtemp(tmpl);
    path_ = p ? p : "/tmp";
  }
  ~TempDir() {
    nftw(
        path_.c_str(), [](const char* f, const struct stat*, int, FTW*) { return remove(f); }, 16,
        FTW_DEPTH | FTW_PHYS);
  }
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Waits up to a generous bound for `done`; gives its last value.
inline bool wait_for(const std::function<bool()>& done, int seconds = 60) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

inline std::vector<uint8_t> random_bytes(size_t n, uint32_t seed) {
  std::mt19937 r(seed);
  std::vector<uint8_t> v(n);
  for (auto& b : v) b = uint8_t(r());
  return v;
}

inline void write_file(const std::string& path, const std::vector<uint8_t>& data) {
  std::ofstream f(path, std::ios::binary);
  f.write(reinterpret_cast<const char*>(data.data()), std::streamsize(data.size()));
}

inline std::vector<uint8_t> read_file(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::vector<uint8_t>((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

// The dialog as the worker sees it, recording everything; safe to read from
// the test thread while the worker runs.
class RecordingDialog : public LdrDialog {
 public:
  struct Progress {
    std::string status, percent;
    bool operator==(const Progress&) const = default;
  };
  struct FileDialogCall {
    bool save;
    std::string initial_folder, default_name;
  };

  std::string get_text(int id) override {
    std::lock_guard l(m_);
    return texts_[id];
  }
  void set_text(int id, const std::string& text) override {
    std::lock_guard l(m_);
    texts_[id] = text;
    if (id == LDR_ID_PERCENT) progress_.push_back({texts_[LDR_ID_STATUS], text});
  }
  void set_buttons(bool enabled) override {
    std::lock_guard l(m_);
    buttons_ = enabled;
    ++button_changes_;
  }
  void show_message(const std::string& title, const std::string& text) override {
    std::lock_guard l(m_);
    messages_.push_back(title + "|" + text);
  }
  LdrFileChoice open_file_dialog(const std::string& folder) override { return choose(false, folder, ""); }
  LdrFileChoice save_file_dialog(const std::string& folder, const std::string& name) override {
    return choose(true, folder, name);
  }
  void post_command(const LdrCommand& c) override {
    std::lock_guard l(m_);
    posted_.push_back(c);
  }

  void put(int id, const std::string& text) {
    std::lock_guard l(m_);
    texts_[id] = text;
  }
  void queue_choice(LdrFileChoice c) {
    std::lock_guard l(m_);
    choices_.push_back(std::move(c));
  }
  std::vector<Progress> progress() {
    std::lock_guard l(m_);
    return progress_;
  }
  void clear_progress() {
    std::lock_guard l(m_);
    progress_.clear();
  }
  std::vector<std::string> messages() {
    std::lock_guard l(m_);
    return messages_;
  }
  std::vector<FileDialogCall> file_dialogs() {
    std::lock_guard l(m_);
    return file_calls_;
  }
  std::vector<LdrCommand> posted() {
    std::lock_guard l(m_);
    return posted_;
  }
  bool buttons() {
    std::lock_guard l(m_);
    return buttons_;
  }
  int button_changes() {
    std::lock_guard l(m_);
    return button_changes_;
  }

 private:
  LdrFileChoice choose(bool save, const std::string& folder, const std::string& name) {
    std::lock_guard l(m_);
    file_calls_.push_back({save, folder, name});
    if (choices_.empty()) return {};
    LdrFileChoice c = choices_.front();
    choices_.pop_front();
    return c;
  }

  std::mutex m_;
  std::map<int, std::string> texts_;
  std::vector<Progress> progress_;
  std::vector<std::string> messages_;
  std::deque<LdrFileChoice> choices_;
  std::vector<FileDialogCall> file_calls_;
  std::vector<LdrCommand> posted_;
  bool buttons_ = true;
  int button_changes_ = 0;
};

inline std::string error_box(const char* text) { return std::string("Ошибка!|") + text; }

}  // namespace ldrtest
