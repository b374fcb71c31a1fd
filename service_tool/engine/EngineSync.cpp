#include "EngineSync.h"

namespace kl {

void AutoResetEvent::Signal() {
  {
    std::lock_guard<std::mutex> g(m_);
    signalled_ = true;
  }
  cv_.notify_one();
}

bool AutoResetEvent::WaitFor(std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> g(m_);
  if (!cv_.wait_for(g, timeout, [this] { return signalled_; })) return false;
  signalled_ = false;
  return true;
}

void StopToken::RequestStop() {
  {
    std::lock_guard<std::mutex> g(m_);
    stop_ = true;
  }
  cv_.notify_all();
}

bool StopToken::StopRequested() const {
  std::lock_guard<std::mutex> g(m_);
  return stop_;
}

bool StopToken::Pause(int ms) {
  std::unique_lock<std::mutex> g(m_);
  if (ms > 0) cv_.wait_for(g, std::chrono::milliseconds(ms), [this] { return stop_; });
  return !stop_;
}

OneShotTimer::OneShotTimer(std::mutex& ownerLock) : lock_(ownerLock) {
  thread_ = std::thread([this] { Run(); });
}

OneShotTimer::~OneShotTimer() {
  {
    std::lock_guard<std::mutex> g(lock_);
    quit_ = true;
    armed_ = false;
  }
  cv_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void OneShotTimer::Start(std::chrono::microseconds delay, std::function<void()> callback) {
  callback_ = std::move(callback);
  deadline_ = std::chrono::steady_clock::now() + delay;
  armed_ = true;
  ++generation_;
  cv_.notify_all();
}

void OneShotTimer::Kill() {
  if (!armed_) return;
  armed_ = false;
  callback_ = nullptr;
  ++generation_;
  cv_.notify_all();
}

void OneShotTimer::Run() {
  std::unique_lock<std::mutex> g(lock_);
  while (!quit_) {
    if (!armed_) {
      cv_.wait(g, [this] { return quit_ || armed_; });
      continue;
    }
    const std::uint64_t gen = generation_;
    const auto deadline = deadline_;
    cv_.wait_until(g, deadline, [this, gen] { return quit_ || generation_ != gen; });
    if (quit_) break;
    if (generation_ != gen || !armed_) continue;  // killed or restarted meanwhile
    if (std::chrono::steady_clock::now() < deadline) continue;
    armed_ = false;
    ++fired_;
    auto cb = std::move(callback_);
    callback_ = nullptr;
    if (cb) cb();  // runs with the owner's lock held
  }
}

}  // namespace kl
