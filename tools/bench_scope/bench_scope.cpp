// Measures the oscilloscope page:
//  1. the user-interface thread's time in ShowEcho (read-outs, contrast
//     trace, series replaced) in envelope and raw mode, on the offscreen
//     platform, with the event loop painting between calls;
//  2. the echo refresh rate of the running poll chain against the virtual
//     sensor with line pacing at 115200 bit/s, beside the line-limited rate
//     (mode query and echo on the line, each followed by the 17 ms of
//     silence the link needs before the next request);
//  3. the default frequency sweep's duration beside its line-limited time.
//
//   bench_scope [seconds per rate measurement, default 12]
#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <stdlib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>
#include <vector>

#include "ScopePage.h"
#include "Unit_cmd.h"
#include "Unit_main.h"
#include "virtual_sensor.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kCom = 41;
constexpr double kBaud = 115200.0;
constexpr double kSilenceMs = 17.0;  // the link's read time-out at 115200

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }
double LineMs(int bytes) { return bytes * 10.0 * 1000.0 / kBaud; }
// One transaction: request and answer on the line, then the silence.
double TransactionMs(int requestBytes, int answerBytes) {
  return LineMs(requestBytes + answerBytes) + kSilenceMs;
}

struct Stats {
  double median, p99, max;
};
Stats Summarise(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  auto at = [&](double q) { return v[std::min(v.size() - 1, static_cast<size_t>(q * v.size()))]; };
  return {at(0.5), at(0.99), v.back()};
}

// A synthetic echo like the virtual sensor's: burst, echo, second echo, noise.
void FillEcho(kl::EngineRecords& rec, int mode, unsigned seed) {
  auto put = [&](size_t off, uint16_t v) {
    rec.echoHeader.bytes[off] = static_cast<uint8_t>(v);
    rec.echoHeader.bytes[off + 1] = static_cast<uint8_t>(v >> 8);
  };
  put(kl::EchoHeader::HdrFrequency, 1000);
  put(kl::EchoHeader::HdrFilter, 450);
  put(kl::EchoHeader::HdrKu, 10);
  put(kl::EchoHeader::HdrPulse, 50);
  put(kl::EchoHeader::HdrPos, 273);
  put(kl::EchoHeader::HdrDiv, 15);
  put(kl::EchoHeader::HdrLevel, 3500);
  put(kl::EchoHeader::HdrTemperature, 21 * 256);
  std::srand(seed);
  const int n = mode == 1 ? 1472 : 1984;
  for (int i = 0; i < n; ++i) {
    const double x = mode == 1 ? i : i * 1472.0 / 1984.0;
    double env = (x < 18 ? 30000 : 30000 * std::exp(-(x - 18) / 6.0)) +
                 6000 * std::exp(-0.5 * std::pow((x - 273) / 9, 2)) +
                 1500 * std::exp(-0.5 * std::pow((x - 506) / 9, 2)) + 100 + std::rand() % 80;
    double v = mode == 1 ? env : env * std::sin(i * 1000.0 / 6000.0 * 6.283);
    rec.echoSamples.samples[static_cast<size_t>(i)] = static_cast<int16_t>(std::clamp(v, -32000.0, 32000.0));
  }
  rec.tuning.OscMode = mode;
  rec.echoMode = mode;
}

void BenchShowEcho(kl::TForm1& form) {
  std::printf("ShowEcho on the user-interface thread (offscreen platform), 400 calls each:\n");
  for (int mode : {1, 2}) {
    std::vector<double> times;
    for (int i = 0; i < 420; ++i) {
      FillEcho(form.Records(), mode, static_cast<unsigned>(i));
      const auto t0 = Clock::now();
      form.Scope().ShowEcho();
      const auto t1 = Clock::now();
      if (i >= 20) times.push_back(Ms(t1 - t0));
      // Let the chart paint, as the event loop does between polls.
      QApplication::processEvents();
    }
    const Stats s = Summarise(times);
    std::printf(
        "  %-8s (%4d points%s): median %.3f ms, p99 %.3f ms, max %.3f ms  (goal median <= 5 ms: %s)\n",
        mode == 1 ? "envelope" : "raw", mode == 1 ? 1472 : 1984, mode == 1 ? " + 1472 contrast" : "",
        s.median, s.p99, s.max, s.median <= 5.0 ? "met" : "NOT met");
  }
  // What a repaint of the chart costs on top, for comparison.
  std::vector<double> paints;
  for (int i = 0; i < 60; ++i) {
    const auto t0 = Clock::now();
    (void)form.Scope().Chart1->grab();
    paints.push_back(Ms(Clock::now() - t0));
  }
  std::printf("  one full repaint of the chart (raw, grab): median %.2f ms\n", Summarise(paints).median);
}

// The engine's window for the rate measurements: counts echoes.
class CountingWindow : public kl::SilentWindow {
 public:
  kl::EngineRecords* records = nullptr;
  std::atomic<int> mode{1};
  std::mutex m;
  std::condition_variable cv;
  std::vector<Clock::time_point> echoes;
  int points = 0;
  bool infoBox = false;
  bool errorBox = false;
  std::atomic<int> failures{0};  // transactions that did not succeed

  void ReadOscillMode() override { records->tuning.OscMode = mode.load(); }
  void ShowEcho() override {
    std::lock_guard<std::mutex> g(m);
    echoes.push_back(Clock::now());
    cv.notify_all();
  }
  void AddAfcPoint() override {
    std::lock_guard<std::mutex> g(m);
    ++points;
  }
  void ShowDeviceStatus(int code) override {
    if (code != 0) ++failures;
  }
  void ErrorBox(const std::string&) override {
    std::lock_guard<std::mutex> g(m);
    errorBox = true;
    cv.notify_all();
  }
  void InfoBox(const std::string&) override {
    std::lock_guard<std::mutex> g(m);
    infoBox = true;
    cv.notify_all();
  }
};

void BenchRates(int seconds) {
  QTemporaryDir ports;
  setenv("KL31_PORTS_DIR", ports.path().toLocal8Bit().constData(), 1);
  kl::vsensor::SensorState st;
  st.baud = 115200;
  st.flags = static_cast<uint8_t>((st.flags & ~(7u << 2)) | (7u << 2));
  kl::vsensor::VirtualSensor sensor(st, 3);
  std::string error;
  if (!sensor.Start(kCom, &error)) {
    std::printf("virtual sensor: %s\n", error.c_str());
    return;
  }
  sensor.SetPacing(true);
  kl::EngineRecords records;
  records.link = kl::LinkSettings{kCom, 115200, st.address};
  kl::UartLink link;
  kl::UartOpen(link, kCom, 115200);
  CountingWindow window;
  window.records = &records;
  const kl::LoadedTexts texts = kl::LoadedTexts::Builtin();
  kl::TCmdThread engine(records, link, window, texts);

  std::printf("\nEcho refresh rate, paced virtual sensor at 115200 bit/s, %d s each:\n", seconds);
  for (int mode : {1, 2}) {
    window.mode = mode;
    engine.PostJob(kl::JOB_ENTER_SCOPE);
    {
      std::unique_lock<std::mutex> g(window.m);
      window.echoes.clear();
      window.cv.wait_for(g, std::chrono::seconds(30), [&] { return window.echoes.size() >= 2; });
      window.echoes.clear();
    }
    window.failures = 0;
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    std::vector<Clock::time_point> e;
    {
      std::lock_guard<std::mutex> g(window.m);
      e = window.echoes;
    }
    const int blocks = mode == 1 ? 24 : 32;
    const double lineMs = TransactionMs(4, 8) + TransactionMs(5, blocks * 140);
    const double rate = e.size() > 1 ? (e.size() - 1) * 1000.0 / Ms(e.back() - e.front()) : 0;
    std::vector<double> periods;
    for (size_t i = 1; i < e.size(); ++i) periods.push_back(Ms(e[i] - e[i - 1]));
    const double lineRate = 1000.0 / lineMs;
    const Stats ps = periods.empty() ? Stats{0, 0, 0} : Summarise(periods);
    std::printf(
        "  %-8s: %.3f echoes/s (period median %.1f ms, max %.1f ms, %d failed transactions), line-limited "
        "%.3f "
        "echoes/s (%.1f ms) -> %.1f %% (goal >= 95 %%: %s)\n",
        mode == 1 ? "envelope" : "raw", rate, ps.median, ps.max, window.failures.load(), lineRate, lineMs,
        100.0 * rate / lineRate, rate >= 0.95 * lineRate ? "met" : "NOT met");
    std::fflush(stdout);
  }

  // The default sweep: step 20, window 2000..3000, envelope mode.
  window.mode = 1;
  records.tuning.AfcStep = 20;
  records.tuning.AfcStart = 2000;
  records.tuning.AfcWidth = 1000;
  records.tuning.OscMode = 1;
  {
    std::lock_guard<std::mutex> g(window.m);
    window.infoBox = false;
    window.errorBox = false;
    window.points = 0;
  }
  window.failures = 0;
  const auto t0 = Clock::now();
  engine.PostJob(kl::JOB_AFC_SWEEP);
  int points = 0;
  {
    std::unique_lock<std::mutex> g(window.m);
    window.cv.wait_for(g, std::chrono::seconds(300), [&] { return window.infoBox || window.errorBox; });
    points = window.points;
    if (window.errorBox) std::printf("\nThe sweep ended with an error after %d points.\n", points);
  }
  const double took = Ms(Clock::now() - t0);
  engine.PostJob(kl::JOB_IDLE);
  const int reads = points + 1;  // the last read sees the wrap and adds no point
  const double lineSweep = kl::kJobPauseMs + TransactionMs(8, 5) + 500 + TransactionMs(12, 5) + 500 +
                           TransactionMs(12, 5) + reads * (kl::kJobPauseMs + TransactionMs(5, 24 * 140)) +
                           TransactionMs(8, 5) + TransactionMs(12, 5);
  std::printf(
      "\nDefault sweep (step 20, %d points, %d failed transactions): %.1f s; line-limited with its pauses "
      "%.1f s "
      "(%.1f %%)\n",
      points, window.failures.load(), took / 1000.0, lineSweep / 1000.0, 100.0 * lineSweep / took);
  engine.Terminate();
  kl::UartClose(link);
}

}  // namespace

int main(int argc, char** argv) {
  if (!getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);
  const int seconds = argc > 1 ? std::max(3, std::atoi(argv[1])) : 12;
  QTemporaryDir dir;
  kl::WindowConfig config;
  config.programFolder = dir.path().toStdString();
  config.settingsFolders = {dir.path().toStdString()};
  config.languageFolder = dir.path().toStdString();
  config.splash = false;
  config.listPorts = [] { return std::vector<kl::ComPortInfo>{}; };
  {
    kl::TForm1 form(config);
    form.resize(1024, 700);
    form.show();
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 300) QApplication::processEvents();
    BenchShowEcho(form);
    std::fflush(stdout);
    form.close();
  }
  BenchRates(seconds);
  return 0;
}
