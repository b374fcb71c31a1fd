// A window for engine tests: records every operation the engine calls, in
// order, and answers the boxes as the test tells it. It can also hold a box
// open until the test "closes the window", to test shut-down while the engine
// waits for the user.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "Unit_cmd.h"

namespace kl::test {

class RecordingWindow : public WindowOps {
 public:
  // Set by the test after the engine exists: ShowScopePage and
  // ShowProgramPage post their jobs as the real window does.
  TCmdThread* engine = nullptr;
  EngineRecords* records = nullptr;
  bool answerYes = true;
  bool holdBoxes = false;  // boxes stay open until Close()
  // Run (on the command thread) where the page would take its values into
  // the image or show it; the calibration tests use them as the page.
  std::function<void()> onStoreHubImage;
  std::function<void()> onShowHubImage;

  std::vector<std::string> Calls() const {
    std::lock_guard<std::mutex> g(m_);
    return calls_;
  }
  std::vector<std::string> Boxes() const {
    std::lock_guard<std::mutex> g(m_);
    return boxes_;
  }
  size_t Count(const std::string& call) const {
    std::lock_guard<std::mutex> g(m_);
    size_t n = 0;
    for (const auto& c : calls_) n += c == call;
    return n;
  }
  // Waits until an operation with this text was recorded (bounded).
  bool WaitFor(const std::string& call, std::chrono::milliseconds timeout = std::chrono::seconds(30)) {
    std::unique_lock<std::mutex> g(m_);
    return cv_.wait_for(g, timeout, [&] {
      for (const auto& c : calls_)
        if (c == call) return true;
      return false;
    });
  }
  bool WaitForBox(std::chrono::milliseconds timeout = std::chrono::seconds(30)) {
    std::unique_lock<std::mutex> g(m_);
    return cv_.wait_for(g, timeout, [&] { return !boxes_.empty(); });
  }
  // The window closes: open boxes return, later calls are counted.
  void Close() {
    std::lock_guard<std::mutex> g(m_);
    closed_ = true;
    cv_.notify_all();
  }
  size_t CallsAfterClose() const {
    std::lock_guard<std::mutex> g(m_);
    return afterClose_;
  }
  // Link settings as AdoptLinkSettings saw them.
  LinkSettings adopted{};
  // The settings page's part, played by the test (run inside the operation).
  std::function<void()> onCollect, onNewBaud;

  void ShowPortStatus(int i) override { Record("ShowPortStatus(" + std::to_string(i) + ")"); }
  void ShowDeviceStatus(int c) override { Record("ShowDeviceStatus(" + std::to_string(c) + ")"); }
  // The post comes first, so a test that saw the call can post after it.
  void ShowScopePage() override {
    if (engine) engine->PostJob(JOB_ENTER_SCOPE);
    Record("ShowScopePage");
  }
  void ShowProgramPage() override {
    if (engine) engine->PostJob(JOB_IDLE);
    Record("ShowProgramPage");
  }
  void SetWaitCursor() override { Record("SetWaitCursor"); }
  void SetNormalCursor() override { Record("SetNormalCursor"); }
  void SetBusy() override { Record("SetBusy"); }
  void SetIdle() override { Record("SetIdle"); }
  void AdoptLinkSettings() override {
    if (records) adopted = records->link;
    Record("AdoptLinkSettings");
  }
  // The link takes the new address, as the main window does.
  void AdoptNewAddress(int a) override {
    if (records) records->link.address = a;
    Record("AdoptNewAddress(" + std::to_string(a) + ")");
  }
  void AdoptNewBaud() override {
    if (onNewBaud) onNewBaud();
    Record("AdoptNewBaud");
  }
  // Kept apart from Calls(): the sequences the connection tests compare are
  // those of the status bar and the pages.
  void ShowDeviceIdentity(bool identified) override {
    std::lock_guard<std::mutex> g(m_);
    if (closed_) ++afterClose_;
    identities_.push_back(identified);
    cv_.notify_all();
  }
  std::vector<bool> Identities() const {
    std::lock_guard<std::mutex> g(m_);
    return identities_;
  }
  void EnableReadouts(bool on) override { Record(std::string("EnableReadouts(") + (on ? "1" : "0") + ")"); }
  void ReadOscillMode() override { Record("ReadOscillMode"); }
  void ShowEcho() override { Record("ShowEcho"); }
  void ShowAutoStep1() override { Record("ShowAutoStep1"); }
  void ShowAutoStep2() override { Record("ShowAutoStep2"); }
  void ShowTuningParams() override { Record("ShowTuningParams"); }
  void AddAfcPoint() override { Record("AddAfcPoint"); }
  void BuildDisplayMask() override { Record("BuildDisplayMask"); }
  void FillSettingsPage() override { Record("FillSettingsPage"); }
  void CollectSettingsPage() override {
    if (onCollect) onCollect();
    Record("CollectSettingsPage");
  }
  void ShowHubImage() override {
    if (onShowHubImage) onShowHubImage();
    Record("ShowHubImage");
  }
  void StoreHubImage() override {
    if (onStoreHubImage) onStoreHubImage();
    Record("StoreHubImage");
  }
  void ShowLevel(int level, bool noData) override {
    Record("ShowLevel(" + std::to_string(level) + "," + (noData ? "1" : "0") + ")");
  }
  void ErrorBox(const std::string& text) override { Box("ErrorBox", text); }
  bool ErrorBoxYesNo(const std::string& text) override {
    Box("ErrorBoxYesNo", text);
    return answerYes;
  }
  void InfoBox(const std::string& text) override { Box("InfoBox", text); }

 private:
  void Record(std::string call) {
    std::lock_guard<std::mutex> g(m_);
    if (closed_) ++afterClose_;
    calls_.push_back(std::move(call));
    cv_.notify_all();
  }
  void Box(const char* kind, const std::string& text) {
    std::unique_lock<std::mutex> g(m_);
    if (closed_) ++afterClose_;
    calls_.push_back(kind);
    boxes_.push_back(text);
    cv_.notify_all();
    if (holdBoxes) cv_.wait(g, [this] { return closed_; });
  }

  mutable std::mutex m_;
  std::condition_variable cv_;
  std::vector<std::string> calls_;
  std::vector<std::string> boxes_;
  std::vector<bool> identities_;
  bool closed_ = false;
  size_t afterClose_ = 0;
};

}  // namespace kl::test
