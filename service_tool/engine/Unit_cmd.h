// The command engine: one worker thread, TCmdThread, that runs every device
// operation of the service tool one job at a time.
//
// Windows and handlers hand work over by posting a job code into the single
// job slot (PostJob). The thread takes the code and runs its handler; polling
// views stay alive because the handler's job is re-posted by a one-shot timer
// after it ran, but only when nothing else was posted meanwhile. Results reach
// the windows through the WindowOps interface, never by touching a control.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "EngineSync.h"
#include "HubData.h"
#include "Unit_texts.h"
#include "Unit_uart.h"
#include "WindowOps.h"

namespace kl {

// Job codes. The numbers are fixed: windows, timers and handlers post them.
enum JobCode : int32_t {
  JOB_IDLE = 0,
  JOB_PORT_OPEN = 1,
  JOB_PORT_CLOSE = 2,
  JOB_SEARCH = 3,
  JOB_ENTER_SCOPE = 4,
  JOB_POLL_ECHO = 5,
  JOB_SET_AUTO = 6,
  JOB_SET_FREQ = 9,
  JOB_SET_FILTER = 10,
  JOB_SET_KU = 11,
  JOB_SET_ATTEN = 12,
  JOB_SET_PULSE = 15,
  JOB_SET_INTEGRATOR = 16,
  JOB_AFC_SWEEP = 17,
  JOB_DISPLAY_TEST = 18,
  JOB_READ_SETTINGS = 19,
  JOB_WRITE_SETTINGS = 20,
  JOB_READ_HUB = 21,
  JOB_TARE_MODE = 22,
  JOB_LEVEL_POLL = 23,
  JOB_SHOW_HUB = 24,
  JOB_WRITE_HUB = 25,
};
inline constexpr int32_t kJobSlotEmpty = -1;
inline constexpr int kJobTableSize = 26;  // codes 0..25; higher codes run nothing

// Port status shown by ShowPortStatus.
inline constexpr int32_t kPortStatusOpened = 0;
inline constexpr int32_t kPortStatusClosed = 1;
inline constexpr int32_t kPortStatusError = 2;

// Pauses and re-arm delays the job table uses.
inline constexpr int kJobPauseMs = 50;
inline constexpr int kEchoRearmMs = 10;
inline constexpr int kSlowRearmMs = 250;
// Pause after the sync request before the sensor is addressed.
inline constexpr int kSyncPauseMs = 200;

// The engine-wide records. Plain shared memory: the window writes a value and
// then posts; the handler reads it after taking the job; a window operation
// reads it while the handler waits. That order is their only protection.
struct EngineRecords {
  LinkSettings link;
  TuningParams tuning;
  FuelRecord fuel;
  CalibrationValues calibration;
  EchoHeader echoHeader;
  EchoSamples echoSamples;
  // The oscillogram mode the echo on hand was asked in. The page's mode can
  // change while a poll is under way; the echo is drawn by the mode it came in.
  int32_t echoMode = 0;
  // Frequency sweep: last frequency seen and its peak.
  int32_t sweepFrequency = 0;
  int32_t sweepPeak = 0;
  // The sensor's preset tank table image and the calibration table, 64 KiB
  // each, for the whole run. Only JOB_READ_HUB and JOB_WRITE_HUB touch them
  // on the command thread; everything else runs on the window's thread while
  // no transfer runs or while the engine waits for a window operation.
  HubImage hub;
  TankTable tankTable;
  // Set by StoreHubImage: true when the image is ready to be written, false
  // when it stopped early (an invalid image kept, no custom record, a table
  // too big). JOB_WRITE_HUB then writes nothing.
  bool hubStored = false;
  // The calibration mode the sensor last acknowledged. A window closed just
  // before "Установить" posts mode 0, which the write's post can replace.
  uint8_t tareModeAcked = 0;
};

class TCmdThread;

// One row of the job table: what runs for a code.
struct JobEntry {
  std::function<void(TCmdThread&)> handler;  // empty: nothing runs
  int pauseMs = 0;                           // pause before the handler
  int rearmMs = 0;                           // > 0: re-posted after this delay if the slot stayed empty
};
using JobTable = std::array<JobEntry, kJobTableSize>;

// The table of the program. Tests may build their own from it.
JobTable DefaultJobTable();

class TCmdThread {
 public:
  // The thread starts at once and idles until a job is posted. The records,
  // link, window and texts must outlive the thread.
  TCmdThread(EngineRecords& records, UartLink& link, WindowOps& view, const LoadedTexts& texts,
             JobTable table = DefaultJobTable());
  ~TCmdThread();
  TCmdThread(const TCmdThread&) = delete;
  TCmdThread& operator=(const TCmdThread&) = delete;

  // Kills the pending poll timer, stores the code (the last post wins) and
  // wakes the thread. Never waits. Any thread may call it.
  void PostJob(int32_t code);

  // A handler's follow-up: stores the code only when nothing was posted
  // since the current job was taken, so that a user's post made while the
  // handler waited for a window is not replaced. False when it was not stored.
  bool PostFollowUp(int32_t code);

  // Stops the poll timer and asks the thread to end, without waiting. From
  // here on pauses inside a job are cut short and no window operation is
  // called any more. A window that shuts down calls this first, then releases
  // whatever operation the engine may be waiting in, then Terminate().
  void RequestStop();
  // RequestStop, then waits for the thread; a transaction under way finishes
  // first (each is bounded by its answer wait). Idempotent.
  void Terminate();
  bool Terminating() const { return stop_.StopRequested(); }

  // --- for handlers (command thread) ---
  EngineRecords& Records() { return records_; }
  UartLink& Link() { return link_; }
  const LoadedTexts& Texts() const { return texts_; }
  // The window, or a stand-in that does nothing once the engine is stopping.
  WindowOps& View();
  // Interruptible pause; false when the engine is stopping.
  bool Pause(int ms) { return stop_.Pause(ms); }
  // The error box with a result code's device status text.
  void ShowStatusError(int32_t code);

  // --- TCmdThread fields, read by window operations while a handler waits ---
  int32_t result = LINK_OK;
  int32_t portStatus = kPortStatusClosed;
  uint32_t modelCode = 0;
  SettingsRecord settings;
  bool answerLost = false;

  // --- for tests and benchmarks (any thread) ---
  int32_t PeekSlot();
  bool TimerPending();
  std::uint64_t JobsRun() const { return jobsRun_.load(); }

 private:
  void Execute();

  EngineRecords& records_;
  UartLink& link_;
  WindowOps& view_;
  const LoadedTexts& texts_;
  const JobTable table_;
  std::unique_ptr<WindowOps> silent_;

  std::mutex engineLock_;  // job slot and poll timer
  int32_t slot_ = kJobSlotEmpty;
  AutoResetEvent wake_;
  OneShotTimer timer_{engineLock_};
  StopToken stop_;
  std::atomic<std::uint64_t> jobsRun_{0};
  std::thread thread_;  // last: starts after everything above exists
};

// --- connection jobs ---

// Model code and identity of the sensor at the current address; true when it
// is a supported sensor. Shows the errors itself.
bool IdentifyDevice(TCmdThread& t);
void JobPortOpen(TCmdThread& t);
void JobPortClose(TCmdThread& t);
void JobSearch(TCmdThread& t);

// Runs op up to `attempts` times and pauses pauseMs after every failed
// attempt. Returns the last result, or LINK_NOT_DONE when the engine stops
// meanwhile. afterEach (may be empty) sees every attempt's result.
LinkResult Attempts(TCmdThread& t, int attempts, int pauseMs, const std::function<LinkResult()>& op,
                    const std::function<void(LinkResult)>& afterEach = {});

// --- oscilloscope and tuning page jobs (Scope.cpp) ---
void JobEnterScope(TCmdThread& t);
void JobPollEcho(TCmdThread& t);
void JobSetAuto(TCmdThread& t);
void JobSetFreq(TCmdThread& t);
void JobSetFilter(TCmdThread& t);
void JobSetKu(TCmdThread& t);
void JobSetAtten(TCmdThread& t);
void JobSetPulse(TCmdThread& t);
void JobSetIntegrator(TCmdThread& t);
void JobAfcSweep(TCmdThread& t);
void JobDisplayTest(TCmdThread& t);

// The frequency sweep walks the sensor from the lowest to the highest
// frequency and ends when the sensor wraps back. It is bounded: at most this
// many echo reads for a step (a step below 1 counts as 1), and it also ends
// after kAfcStallReads reads in a row that saw no new frequency.
inline constexpr int32_t kAfcLowestFrequency = 500;
inline constexpr int32_t kAfcHighestFrequency = 4000;
inline constexpr int kAfcReadMargin = 20;
inline constexpr int kAfcStallReads = 20;
inline constexpr int kAfcSamples = 1472;  // the envelope echo's samples, where the peak is looked for
int AfcSweepReadLimit(int32_t step);

// --- settings page jobs (Settings.cpp) ---
void JobReadSettings(TCmdThread& t);
void JobWriteSettings(TCmdThread& t);

// --- calibration page jobs (Calibration.cpp) ---
// Blocks of 128 bytes an image of `size` bytes travels in; the block index is
// one byte on the line, so no more than 256.
int HubBlockCount(uint16_t size);
void JobReadHub(TCmdThread& t);
void JobShowHub(TCmdThread& t);
void JobTareMode(TCmdThread& t);
void JobLevelPoll(TCmdThread& t);
void JobWriteHub(TCmdThread& t);

}  // namespace kl
