// Synchronisation pieces of the command engine: the auto-reset wake-up event,
// an interruptible pause, and the one-shot poll timer.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

namespace kl {

// Auto-reset event: one Wait consumes one Signal; signals do not accumulate.
class AutoResetEvent {
 public:
  void Signal();
  // Returns true when the event was signalled within the timeout (and resets it).
  bool WaitFor(std::chrono::milliseconds timeout);

 private:
  std::mutex m_;
  std::condition_variable cv_;
  bool signalled_ = false;
};

// A stop request that interrupts pauses. Handlers pause through it so that
// shut-down never waits out a 200 ms sync pause or a 50 ms retry pause.
class StopToken {
 public:
  void RequestStop();
  bool StopRequested() const;
  // Sleeps for ms or until a stop is requested; returns false when stopped.
  bool Pause(int ms);

 private:
  mutable std::mutex m_;
  std::condition_variable cv_;
  bool stop_ = false;
};

// One-shot timer whose callback runs under a lock the owner supplies (the
// engine lock). Start and Kill must be called with that lock held. Because the
// callback itself runs with the lock held, a Kill that returns has a callback
// that either already finished or will never run: the kill is synchronous by
// construction, and it cannot deadlock against the callback the way a kill
// that waits for a callback blocked on the same lock would.
class OneShotTimer {
 public:
  explicit OneShotTimer(std::mutex& ownerLock);
  ~OneShotTimer();
  OneShotTimer(const OneShotTimer&) = delete;
  OneShotTimer& operator=(const OneShotTimer&) = delete;

  // Lock held. Replaces any pending shot.
  void Start(std::chrono::microseconds delay, std::function<void()> callback);
  // Lock held. Nothing happens if no shot is pending.
  void Kill();
  // Lock held.
  bool Pending() const { return armed_; }
  // Number of shots that fired (lock held to read consistently).
  std::uint64_t Fired() const { return fired_; }

 private:
  void Run();

  std::mutex& lock_;
  std::condition_variable cv_;
  std::thread thread_;
  bool armed_ = false;
  bool quit_ = false;
  std::uint64_t generation_ = 0;
  std::uint64_t fired_ = 0;
  std::chrono::steady_clock::time_point deadline_{};
  std::function<void()> callback_;
};

}  // namespace kl
