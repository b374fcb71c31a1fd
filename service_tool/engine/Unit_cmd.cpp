#include "Unit_cmd.h"

namespace kl {

JobTable DefaultJobTable() {
  JobTable t{};
  t[JOB_PORT_OPEN] = {JobPortOpen, 0, 0};
  t[JOB_PORT_CLOSE] = {JobPortClose, 0, 0};
  t[JOB_SEARCH] = {JobSearch, 0, 0};
  // The other jobs of the oscilloscope, settings and calibration pages keep their
  // pauses and re-arm delays here even before their handlers exist, so that a
  // chain posted by a page behaves the same once they are filled in.
  t[JOB_ENTER_SCOPE] = {JobEnterScope, kJobPauseMs, 0};
  t[JOB_POLL_ECHO] = {nullptr, 0, kEchoRearmMs};
  t[JOB_SET_AUTO] = {nullptr, kJobPauseMs, 0};
  t[JOB_SET_FREQ] = {nullptr, kJobPauseMs, 0};
  t[JOB_SET_FILTER] = {nullptr, kJobPauseMs, 0};
  t[JOB_SET_KU] = {nullptr, kJobPauseMs, 0};
  t[JOB_SET_ATTEN] = {nullptr, kJobPauseMs, 0};
  t[JOB_SET_PULSE] = {nullptr, kJobPauseMs, 0};
  t[JOB_SET_INTEGRATOR] = {nullptr, kJobPauseMs, 0};
  t[JOB_AFC_SWEEP] = {nullptr, kJobPauseMs, 0};
  t[JOB_DISPLAY_TEST] = {nullptr, 0, kSlowRearmMs};
  t[JOB_LEVEL_POLL] = {nullptr, 0, kSlowRearmMs};
  return t;
}

TCmdThread::TCmdThread(EngineRecords& records, UartLink& link, WindowOps& view, const LoadedTexts& texts,
                       JobTable table)
    : records_(records),
      link_(link),
      view_(view),
      texts_(texts),
      table_(std::move(table)),
      silent_(std::make_unique<SilentWindow>()) {
  thread_ = std::thread([this] { Execute(); });
}

TCmdThread::~TCmdThread() { Terminate(); }

void TCmdThread::PostJob(int32_t code) {
  {
    std::lock_guard<std::mutex> g(engineLock_);
    timer_.Kill();
    slot_ = code;
  }
  wake_.Signal();
}

void TCmdThread::RequestStop() {
  stop_.RequestStop();
  std::lock_guard<std::mutex> g(engineLock_);
  timer_.Kill();
}

void TCmdThread::Terminate() {
  RequestStop();
  if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
}

WindowOps& TCmdThread::View() { return Terminating() ? *silent_ : view_; }

void TCmdThread::ShowStatusError(int32_t code) { View().ErrorBox(texts_.DeviceStatus(code)); }

int32_t TCmdThread::PeekSlot() {
  std::lock_guard<std::mutex> g(engineLock_);
  return slot_;
}

bool TCmdThread::TimerPending() {
  std::lock_guard<std::mutex> g(engineLock_);
  return timer_.Pending();
}

void TCmdThread::Execute() {
  while (!stop_.StopRequested()) {
    if (!wake_.WaitFor(std::chrono::milliseconds(10))) continue;
    int32_t code;
    {
      std::lock_guard<std::mutex> g(engineLock_);
      code = slot_;
      slot_ = kJobSlotEmpty;
    }
    // A wake-up whose code an earlier turn already took.
    if (code == kJobSlotEmpty) continue;
    if (code < 0 || code >= kJobTableSize) continue;
    const JobEntry& job = table_[static_cast<size_t>(code)];
    if (job.pauseMs > 0 && !Pause(job.pauseMs)) break;
    if (job.handler) job.handler(*this);
    jobsRun_.fetch_add(1);
    if (job.rearmMs > 0) {
      std::lock_guard<std::mutex> g(engineLock_);
      if (slot_ == kJobSlotEmpty && !stop_.StopRequested()) {
        timer_.Kill();
        // Runs on the timer's thread with the engine lock held.
        timer_.Start(std::chrono::milliseconds(job.rearmMs), [this, code] {
          slot_ = code;
          wake_.Signal();
        });
      }
    }
  }
}

}  // namespace kl
