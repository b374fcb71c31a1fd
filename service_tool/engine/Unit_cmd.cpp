#include "Unit_cmd.h"

namespace kl {

JobTable DefaultJobTable() {
  JobTable t{};
  t[JOB_PORT_OPEN] = {JobPortOpen, 0, 0};
  t[JOB_PORT_CLOSE] = {JobPortClose, 0, 0};
  t[JOB_SEARCH] = {JobSearch, 0, 0};
  t[JOB_ENTER_SCOPE] = {JobEnterScope, kJobPauseMs, 0};
  t[JOB_POLL_ECHO] = {JobPollEcho, 0, kEchoRearmMs};
  t[JOB_SET_AUTO] = {JobSetAuto, kJobPauseMs, 0};
  t[JOB_SET_FREQ] = {JobSetFreq, kJobPauseMs, 0};
  t[JOB_SET_FILTER] = {JobSetFilter, kJobPauseMs, 0};
  t[JOB_SET_KU] = {JobSetKu, kJobPauseMs, 0};
  t[JOB_SET_ATTEN] = {JobSetAtten, kJobPauseMs, 0};
  t[JOB_SET_PULSE] = {JobSetPulse, kJobPauseMs, 0};
  t[JOB_SET_INTEGRATOR] = {JobSetIntegrator, kJobPauseMs, 0};
  t[JOB_AFC_SWEEP] = {JobAfcSweep, kJobPauseMs, 0};
  t[JOB_DISPLAY_TEST] = {JobDisplayTest, 0, kSlowRearmMs};
  t[JOB_READ_SETTINGS] = {JobReadSettings, 0, 0};
  t[JOB_WRITE_SETTINGS] = {JobWriteSettings, 0, 0};
  t[JOB_READ_HUB] = {JobReadHub, 0, 0};
  t[JOB_TARE_MODE] = {JobTareMode, 0, 0};
  t[JOB_LEVEL_POLL] = {JobLevelPoll, 0, kSlowRearmMs};
  t[JOB_SHOW_HUB] = {JobShowHub, 0, 0};
  t[JOB_WRITE_HUB] = {JobWriteHub, 0, 0};
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

bool TCmdThread::PostFollowUp(int32_t code) {
  {
    std::lock_guard<std::mutex> g(engineLock_);
    if (slot_ != kJobSlotEmpty) return false;
    timer_.Kill();
    slot_ = code;
  }
  wake_.Signal();
  return true;
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

LinkResult Attempts(TCmdThread& t, int attempts, int pauseMs, const std::function<LinkResult()>& op,
                    const std::function<void(LinkResult)>& afterEach) {
  LinkResult r = LINK_NOT_DONE;
  for (int i = 0; i < attempts; ++i) {
    if (t.Terminating()) return LINK_NOT_DONE;
    r = op();
    if (afterEach) afterEach(r);
    if (r == LINK_OK) return r;
    if (pauseMs > 0 && !t.Pause(pauseMs)) return LINK_NOT_DONE;
  }
  return r;
}

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
