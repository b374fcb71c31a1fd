#include "UiInvoker.h"

#include <QMetaObject>
#include <QThread>

namespace kl {

UiInvoker::UiInvoker() : context_(std::make_unique<QObject>()) {}

UiInvoker::~UiInvoker() { Close(); }

bool UiInvoker::Closing() const {
  std::lock_guard lk(state_->m);
  return state_->closing;
}

void UiInvoker::Close() {
  std::lock_guard lk(state_->m);
  state_->closing = true;
  state_->cv.notify_all();
}

bool UiInvoker::Run(const std::function<void()>& fn) {
  return RunUntilDone([&fn](std::function<void()> done) {
    fn();
    done();
  });
}

bool UiInvoker::RunUntilDone(std::function<void(std::function<void()> done)> start) {
  if (QThread::currentThread() == context_->thread()) {
    if (Closing()) return false;
    bool finished = false;
    start([&finished] { finished = true; });
    // On this thread nobody could wait for a later done(); a box that
    // answers later reports to its own callback.
    return finished;
  }
  auto state = state_;
  auto finished = std::make_shared<bool>(false);  // guarded by state->m
  {
    std::lock_guard lk(state->m);
    if (state->closing) return false;
    // Posting under the lock: Close() cannot slip in between the check and
    // the post, and the context outlives every post made before Close().
    QMetaObject::invokeMethod(
        context_.get(),
        [state, finished, start = std::move(start)] {
          {
            std::lock_guard lk(state->m);
            if (state->closing) return;
          }
          start([state, finished] {
            std::lock_guard lk(state->m);
            *finished = true;
            state->cv.notify_all();
          });
        },
        Qt::QueuedConnection);
  }
  std::unique_lock lk(state->m);
  state->cv.wait(lk, [&] { return *finished || state->closing; });
  return *finished;
}

}  // namespace kl
