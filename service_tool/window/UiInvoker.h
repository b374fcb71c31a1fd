// Runs work from the command thread on the user-interface thread and waits
// for it. Once Close() has been called (the window is going away) every
// pending and later call returns at once without effect, so the command
// thread can never wait for a window that will not answer again.
#pragma once

#include <QObject>

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>

namespace kl {

class UiInvoker {
 public:
  // Create it on the user-interface thread.
  UiInvoker();
  ~UiInvoker();
  UiInvoker(const UiInvoker&) = delete;
  UiInvoker& operator=(const UiInvoker&) = delete;

  // Runs fn there and returns after it finished; false when closing (fn then
  // did not run). Called on the user-interface thread itself, fn runs at once.
  bool Run(const std::function<void()>& fn);
  // Runs start(done) there and waits until done() has been called, which may
  // happen later, for example when the user closes a box; false when closing.
  bool RunUntilDone(std::function<void(std::function<void()> done)> start);
  // Wakes every waiter; from now on nothing runs any more. Idempotent.
  void Close();
  bool Closing() const;

 private:
  struct State {
    std::mutex m;
    std::condition_variable cv;
    bool closing = false;
  };
  std::shared_ptr<State> state_ = std::make_shared<State>();
  // Last member: destroyed first, which drops any call still queued for it.
  std::unique_ptr<QObject> context_;
};

}  // namespace kl
