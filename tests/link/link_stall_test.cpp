// A port whose write stalls longer than the transaction's send wait (a full
// output queue, a slow USB adapter): the transaction that gave up must not
// hand its late sent event or its answer to the next one, and a request
// reported as failed must never reach the line afterwards.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "Unit_uart.h"
#include "link_test_util.h"

namespace kl {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// An in-memory sensor behind a port. Each write is answered as the sensor
// would, once the write has returned. The first `stalls` writes take
// `stallMs` each, whatever limit the link gives them.
class StallingPort final : public SerialPort {
 public:
  struct Written {
    uint8_t command;
    Clock::time_point start;
  };

  // What was written, kept apart so that it outlives the port.
  struct Log {
    std::mutex m;
    std::vector<Written> writes;
    std::vector<Written> Get() {
      std::lock_guard<std::mutex> g(m);
      return writes;
    }
  };

  StallingPort(std::shared_ptr<Log> log, int stalls, int stallMs)
      : log_(std::move(log)), stalls_(stalls), stallMs_(stallMs) {}

  bool Open(int, int32_t) override { return true; }
  void Close() override {}
  void Discard() override {
    std::lock_guard<std::mutex> g(m_);
    rx_.clear();
  }
  bool Write(const uint8_t* data, size_t count, int) override {
    if (count < 4) return false;
    {
      std::lock_guard<std::mutex> g(log_->m);
      log_->writes.push_back({data[2], Clock::now()});
    }
    const bool stall = stalls_ > 0;
    if (stall) --stalls_;
    if (stall) std::this_thread::sleep_for(std::chrono::milliseconds(stallMs_));
    const test::Bytes answer = AnswerTo(data[1], data[2]);
    std::lock_guard<std::mutex> g(m_);
    rx_.insert(rx_.end(), answer.begin(), answer.end());
    cv_.notify_all();
    return true;
  }
  PortRead ReadByte(uint8_t* byte) override {
    std::unique_lock<std::mutex> l(m_);
    if (!cv_.wait_for(l, 17ms, [this] { return !rx_.empty(); })) return PortRead::Silence;
    *byte = rx_.front();
    rx_.pop_front();
    return PortRead::Byte;
  }
  std::string LastError() const override { return {}; }

 private:
  static test::Bytes AnswerTo(uint8_t address, uint8_t command) {
    switch (command) {
      case SVC_GET_MODEL:
        return test::Answer(address, command, {'K', 'L', '3', '1'});
      case SVC_GET_PULSE:
        return test::Answer(address, command, {42});
      default:
        return test::Answer(address, command, {0});  // acknowledged
    }
  }

  std::mutex m_;
  std::condition_variable cv_;
  std::deque<uint8_t> rx_;
  std::shared_ptr<Log> log_;
  int stalls_;  // the I/O thread's own
  int stallMs_;
};

struct StalledLink : testing::Test {
  void Open(int stalls, int stallMs) {
    link.factory = [this, stalls, stallMs]() -> std::unique_ptr<SerialPort> {
      return std::make_unique<StallingPort>(log, stalls, stallMs);
    };
    ASSERT_EQ(UartOpen(link, 1, 19200), 0);
  }
  // Every write that started after its transaction was reported failed.
  std::vector<uint8_t> WrittenAfterFailure(const std::vector<std::pair<uint8_t, Clock::time_point>>& failed) {
    std::vector<uint8_t> late;
    for (const auto& w : log->Get())
      for (const auto& [command, reported] : failed)
        if (w.command == command && w.start > reported) late.push_back(command);
    return late;
  }

  std::shared_ptr<StallingPort::Log> log = std::make_shared<StallingPort::Log>();
  UartLink link;
};

TEST_F(StalledLink, NextTransactionWaitsForItsOwnSentEventAndAnswer) {
  // The query's write outlasts its 502 ms send wait by 200 ms.
  Open(1, 700);
  uint32_t model = 0;
  EXPECT_EQ(UartQuery(link, SVC_GET_MODEL, 1, &model), LINK_WRITE_ERROR);
  const auto queryFailed = Clock::now();
  EXPECT_EQ(model, 0u);

  // The late sent event and the query's answer belong to nobody: the set
  // goes out once the line is free again, and takes its own acknowledgement.
  const LinkResult set = UartCommand(link, SVC_SET_FREQ, 1, 1000);
  const auto setDone = Clock::now();
  EXPECT_EQ(set, LINK_OK);

  uint32_t pulse = 0;
  EXPECT_EQ(UartQuery(link, SVC_GET_PULSE, 1, &pulse), LINK_OK);
  EXPECT_EQ(pulse, 42u);
  UartClose(link);

  const auto writes = log->Get();
  ASSERT_EQ(writes.size(), 3u);
  EXPECT_EQ(writes[0].command, SVC_GET_MODEL);
  EXPECT_LT(writes[0].start, queryFailed);
  EXPECT_EQ(writes[1].command, SVC_SET_FREQ);
  EXPECT_LT(writes[1].start, setDone);
  EXPECT_EQ(writes[2].command, SVC_GET_PULSE);
}

TEST_F(StalledLink, RequestReportedFailedIsNeverWritten) {
  // Two retries without a pause behind one write that stalls for longer than
  // both their send waits: both are withdrawn before the line is free.
  Open(1, 2500);
  uint32_t model = 0;
  std::vector<std::pair<uint8_t, Clock::time_point>> failed;
  EXPECT_EQ(UartQuery(link, SVC_GET_MODEL, 1, &model), LINK_WRITE_ERROR);
  for (int attempt = 0; attempt < 2; ++attempt) {
    EXPECT_EQ(UartCommand(link, SVC_SET_FREQ, 1, 1000), LINK_WRITE_ERROR) << attempt;
    failed.emplace_back(SVC_SET_FREQ, Clock::now());
  }
  // Long enough for the stalled write, its answer and a withdrawn request to
  // have gone out, were it still pending.
  std::this_thread::sleep_for(1500ms);
  EXPECT_TRUE(WrittenAfterFailure(failed).empty()) << "a failed set reached the line";
  EXPECT_EQ(UartCommand(link, SVC_SET_FREQ, 1, 1000), LINK_OK);
  UartClose(link);
  const auto writes = log->Get();
  ASSERT_EQ(writes.size(), 2u);
  EXPECT_EQ(writes[0].command, SVC_GET_MODEL);
  EXPECT_EQ(writes[1].command, SVC_SET_FREQ);
}

}  // namespace
}  // namespace kl
