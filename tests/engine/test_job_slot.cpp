// The job slot, the poll timer and the re-arm rule, exercised through the
// engine's own job table: only the handlers are the test's, the pauses and
// re-arm delays are the program's.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "RecordingWindow.h"
#include "Unit_cmd.h"

namespace kl {
namespace {

using namespace std::chrono_literals;

// A log of the codes that ran, shared between handlers and the test.
class RunLog {
 public:
  void Add(int code) {
    std::lock_guard<std::mutex> g(m_);
    codes_.push_back(code);
    cv_.notify_all();
  }
  std::vector<int> Codes() const {
    std::lock_guard<std::mutex> g(m_);
    return codes_;
  }
  size_t CountOf(int code) const {
    std::lock_guard<std::mutex> g(m_);
    size_t n = 0;
    for (int c : codes_) n += c == code;
    return n;
  }
  bool WaitCount(int code, size_t n, std::chrono::milliseconds timeout = 10s) {
    std::unique_lock<std::mutex> g(m_);
    return cv_.wait_for(g, timeout, [&] {
      size_t k = 0;
      for (int c : codes_) k += c == code;
      return k >= n;
    });
  }

 private:
  mutable std::mutex m_;
  std::condition_variable cv_;
  std::vector<int> codes_;
};

// Holds a handler until the test lets it go, so that posts can be made while
// the thread is known to be busy.
class Gate {
 public:
  void Enter() {
    std::unique_lock<std::mutex> g(m_);
    entered_ = true;
    cv_.notify_all();
    cv_.wait(g, [this] { return open_; });
  }
  bool WaitEntered() {
    std::unique_lock<std::mutex> g(m_);
    return cv_.wait_for(g, 10s, [this] { return entered_; });
  }
  void Open() {
    std::lock_guard<std::mutex> g(m_);
    open_ = true;
    cv_.notify_all();
  }

 private:
  std::mutex m_;
  std::condition_variable cv_;
  bool entered_ = false;
  bool open_ = false;
};

struct EngineFixture : ::testing::Test {
  EngineRecords records;
  UartLink link;
  test::RecordingWindow window;
  LoadedTexts texts = LoadedTexts::Builtin();
  RunLog log;
  JobTable table = DefaultJobTable();

  void Log(int code) {
    table[static_cast<size_t>(code)].handler = [this, code](TCmdThread&) { log.Add(code); };
  }
};

TEST(OneShotTimer, FiresOnceAfterItsDelayAndNotAfterKill) {
  std::mutex lock;
  OneShotTimer timer(lock);
  std::atomic<int> fired{0};
  {
    std::lock_guard<std::mutex> g(lock);
    timer.Start(5ms, [&] { fired++; });
  }
  for (int i = 0; i < 1000 && fired.load() == 0; ++i) std::this_thread::sleep_for(1ms);
  std::this_thread::sleep_for(30ms);
  EXPECT_EQ(fired.load(), 1);

  {
    std::lock_guard<std::mutex> g(lock);
    timer.Start(20ms, [&] { fired++; });
    timer.Kill();
    EXPECT_FALSE(timer.Pending());
  }
  std::this_thread::sleep_for(60ms);
  EXPECT_EQ(fired.load(), 1);

  // A restart replaces the pending shot: only the second callback runs.
  std::atomic<int> which{0};
  {
    std::lock_guard<std::mutex> g(lock);
    timer.Start(200ms, [&] { which = 1; });
    timer.Start(5ms, [&] { which = 2; });
  }
  for (int i = 0; i < 1000 && which.load() == 0; ++i) std::this_thread::sleep_for(1ms);
  std::this_thread::sleep_for(250ms);
  EXPECT_EQ(which.load(), 2);
}

TEST_F(EngineFixture, LastPostWinsWhileTheThreadIsBusy) {
  Gate gate;
  table[JOB_PORT_OPEN].handler = [&](TCmdThread&) { gate.Enter(); };
  Log(JOB_SET_FREQ);
  Log(JOB_SET_KU);
  TCmdThread engine(records, link, window, texts, table);
  engine.PostJob(JOB_PORT_OPEN);
  ASSERT_TRUE(gate.WaitEntered());
  engine.PostJob(JOB_SET_FREQ);
  engine.PostJob(JOB_SET_KU);
  EXPECT_EQ(engine.PeekSlot(), JOB_SET_KU);
  gate.Open();
  ASSERT_TRUE(log.WaitCount(JOB_SET_KU, 1));
  std::this_thread::sleep_for(150ms);  // longer than the 50 ms pause both carry
  EXPECT_EQ(log.Codes(), std::vector<int>{JOB_SET_KU});
  EXPECT_EQ(engine.PeekSlot(), kJobSlotEmpty);
}

TEST_F(EngineFixture, EchoPollReArmsItselfAndJobIdleStopsTheChain) {
  Log(JOB_POLL_ECHO);
  TCmdThread engine(records, link, window, texts, table);
  engine.PostJob(JOB_POLL_ECHO);
  ASSERT_TRUE(log.WaitCount(JOB_POLL_ECHO, 5));

  engine.PostJob(JOB_IDLE);
  EXPECT_FALSE(engine.TimerPending());  // the post killed the pending re-arm
  // At most the poll that was running when JOB_IDLE came finishes.
  std::this_thread::sleep_for(50ms);
  const size_t after = log.CountOf(JOB_POLL_ECHO);
  std::this_thread::sleep_for(200ms);
  EXPECT_EQ(log.CountOf(JOB_POLL_ECHO), after);
  EXPECT_FALSE(engine.TimerPending());
}

TEST_F(EngineFixture, SlowPollsReArmAfterAQuarterSecond) {
  for (int code : {JOB_DISPLAY_TEST, JOB_LEVEL_POLL}) {
    RunLog runs;
    std::vector<std::chrono::steady_clock::time_point> at;
    std::mutex m;
    JobTable t = DefaultJobTable();
    t[static_cast<size_t>(code)].handler = [&, code](TCmdThread&) {
      {
        std::lock_guard<std::mutex> g(m);
        at.push_back(std::chrono::steady_clock::now());
      }
      runs.Add(code);
    };
    TCmdThread engine(records, link, window, texts, t);
    engine.PostJob(code);
    ASSERT_TRUE(runs.WaitCount(code, 3)) << code;
    engine.PostJob(JOB_IDLE);
    std::lock_guard<std::mutex> g(m);
    // Generous lower bound only: the timer must not fire early.
    EXPECT_GE(at[1] - at[0], 240ms) << code;
    EXPECT_GE(at[2] - at[1], 240ms) << code;
  }
}

TEST_F(EngineFixture, HandlerThatPostsAFollowUpIsNotReArmed) {
  // A poll that ends by posting another job (as the oscilloscope poll does
  // after a lost answer) hands over to that job; the chain does not continue.
  table[JOB_POLL_ECHO].handler = [this](TCmdThread& t) {
    log.Add(JOB_POLL_ECHO);
    t.PostJob(JOB_ENTER_SCOPE);
  };
  Log(JOB_ENTER_SCOPE);
  TCmdThread engine(records, link, window, texts, table);
  engine.PostJob(JOB_POLL_ECHO);
  ASSERT_TRUE(log.WaitCount(JOB_ENTER_SCOPE, 1));
  std::this_thread::sleep_for(200ms);
  EXPECT_EQ(log.Codes(), (std::vector<int>{JOB_POLL_ECHO, JOB_ENTER_SCOPE}));
  EXPECT_FALSE(engine.TimerPending());
}

TEST_F(EngineFixture, CodesWithoutHandlerRunNothingAndDoNotReArm) {
  table[JOB_POLL_ECHO].handler = {};  // a row without a handler still re-arms
  TCmdThread engine(records, link, window, texts, table);
  for (int code : {7, 8, 13, 14, 26, 1000, -5}) engine.PostJob(code);
  engine.PostJob(JOB_POLL_ECHO);
  std::this_thread::sleep_for(100ms);
  EXPECT_TRUE(window.Calls().empty());
  engine.PostJob(JOB_IDLE);
  EXPECT_FALSE(engine.TimerPending());
}

TEST_F(EngineFixture, TerminateStopsAReArmingChainPromptly) {
  Log(JOB_POLL_ECHO);
  auto engine = std::make_unique<TCmdThread>(records, link, window, texts, table);
  engine->PostJob(JOB_POLL_ECHO);
  ASSERT_TRUE(log.WaitCount(JOB_POLL_ECHO, 3));
  engine->Terminate();
  const size_t runs = log.CountOf(JOB_POLL_ECHO);
  EXPECT_FALSE(engine->TimerPending());
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(log.CountOf(JOB_POLL_ECHO), runs);
  engine.reset();
}

TEST_F(EngineFixture, TerminateCutsAPauseShortAndSilencesTheWindow) {
  // A handler in a long pause (the 200 ms after a sync, a retry pause) is
  // woken by the stop, and what it shows afterwards never reaches the window.
  std::atomic<bool> pauseResult{true};
  std::atomic<bool> entered{false};
  table[JOB_SEARCH].handler = [&](TCmdThread& t) {
    entered = true;
    pauseResult = t.Pause(60'000);
    t.View().ErrorBox("after stop");
  };
  TCmdThread engine(records, link, window, texts, table);
  engine.PostJob(JOB_SEARCH);
  for (int i = 0; i < 10000 && !entered.load(); ++i) std::this_thread::sleep_for(1ms);
  ASSERT_TRUE(entered.load());
  const auto start = std::chrono::steady_clock::now();
  engine.Terminate();
  EXPECT_LT(std::chrono::steady_clock::now() - start, 20s);  // bounded, far below the pause
  EXPECT_FALSE(pauseResult.load());
  EXPECT_TRUE(window.Boxes().empty());
}

}  // namespace
}  // namespace kl
