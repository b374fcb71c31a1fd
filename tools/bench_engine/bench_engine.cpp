// Measures the command engine's own costs, without a device: how long a
// posted job waits before its handler runs, how closely a re-armed poll chain
// keeps its 10 ms period, and how much CPU the idle engine burns.
#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>
#include <vector>

#include "Unit_cmd.h"

namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

struct Stats {
  double median, p90, p99, max;
};

Stats Summarise(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  auto at = [&](double q) { return v[std::min(v.size() - 1, static_cast<size_t>(q * v.size()))]; };
  return {at(0.5), at(0.9), at(0.99), v.back()};
}

double CpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

}  // namespace

int main() {
  kl::EngineRecords records;
  kl::UartLink link;
  kl::SilentWindow window;
  const kl::LoadedTexts texts = kl::LoadedTexts::Builtin();

  std::mutex m;
  std::condition_variable cv;
  std::vector<Clock::time_point> runs;
  Clock::time_point posted{};
  std::vector<double> latencies;

  kl::JobTable table = kl::DefaultJobTable();
  // A job without a pause, so the latency is the slot and wake-up alone.
  table[kl::JOB_PORT_CLOSE].handler = [&](kl::TCmdThread&) {
    const auto now = Clock::now();
    std::lock_guard<std::mutex> g(m);
    latencies.push_back(Ms(now - posted));
    cv.notify_all();
  };
  // The poll chain with a handler that returns at once.
  table[kl::JOB_POLL_ECHO].handler = [&](kl::TCmdThread&) {
    const auto now = Clock::now();
    std::lock_guard<std::mutex> g(m);
    runs.push_back(now);
    cv.notify_all();
  };
  kl::TCmdThread engine(records, link, window, texts, table);

  // 1. Post-to-handler latency, from an idle engine each time.
  constexpr int kPosts = 300;
  for (int i = 0; i < kPosts; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(3 + i % 7));
    std::unique_lock<std::mutex> g(m);
    const size_t before = latencies.size();
    posted = Clock::now();
    g.unlock();
    engine.PostJob(kl::JOB_PORT_CLOSE);
    g.lock();
    cv.wait_for(g, std::chrono::seconds(5), [&] { return latencies.size() > before; });
  }
  Stats lat;
  {
    std::lock_guard<std::mutex> g(m);
    lat = Summarise(latencies);
  }

  // 2. Period of the re-armed echo poll chain.
  constexpr size_t kChain = 400;
  engine.PostJob(kl::JOB_POLL_ECHO);
  {
    std::unique_lock<std::mutex> g(m);
    cv.wait_for(g, std::chrono::seconds(30), [&] { return runs.size() >= kChain + 1; });
  }
  engine.PostJob(kl::JOB_IDLE);
  std::vector<double> periods;
  {
    std::lock_guard<std::mutex> g(m);
    for (size_t i = 1; i < runs.size(); ++i) periods.push_back(Ms(runs[i] - runs[i - 1]));
  }
  const Stats per = Summarise(periods);

  // 3. CPU use of the idle engine.
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  const double cpu0 = CpuSeconds();
  const auto t0 = Clock::now();
  std::this_thread::sleep_for(std::chrono::seconds(3));
  const double idleCpu = (CpuSeconds() - cpu0) / std::chrono::duration<double>(Clock::now() - t0).count();

  std::printf("command engine benchmark\n");
  std::printf("post-to-handler latency (%d posts): median %.3f ms, p90 %.3f ms, p99 %.3f ms, max %.3f ms\n",
              kPosts, lat.median, lat.p90, lat.p99, lat.max);
  std::printf(
      "echo poll chain period (%zu runs, re-arm 10 ms): median %.3f ms, p90 %.3f ms, p99 %.3f ms, max %.3f "
      "ms\n",
      periods.size(), per.median, per.p90, per.p99, per.max);
  std::printf("idle engine CPU use: %.3f %% of one core\n", idleCpu * 100.0);
  std::printf("goal: chain median within 1 ms of 10 ms: %s\n",
              (per.median >= 10.0 && per.median <= 11.0) ? "met" : "NOT met");
  return 0;
}
