// The oscilloscope page's jobs end to end: the engine on the real POSIX link,
// a pseudo-terminal, and the virtual sensor behind it.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "RecordingWindow.h"
#include "Unit_cmd.h"
#include "Unit_handling.h"
#include "PortsFolder.h"
#include "virtual_sensor.h"

namespace kl {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

constexpr int kCom = 14;

using test::PortsFolder;

// Records the sweep points as the page would draw them, and walks the
// display mask as the page's automatic test does.
class ScopeWindow : public test::RecordingWindow {
 public:
  std::vector<std::pair<int32_t, int32_t>> Points() const {
    std::lock_guard<std::mutex> g(pm_);
    return points_;
  }
  void AddAfcPoint() override {
    {
      std::lock_guard<std::mutex> g(pm_);
      points_.emplace_back(records->sweepFrequency, records->sweepPeak);
    }
    RecordingWindow::AddAfcPoint();
  }
  // Runs on the command thread while the entry job waits for the page.
  std::function<void()> onTuningParams;
  void ShowTuningParams() override {
    if (onTuningParams) onTuningParams();
    RecordingWindow::ShowTuningParams();
  }
  void BuildDisplayMask() override {
    records->tuning.DisplayMask = records->tuning.DisplayMask == 0 ? 1 : records->tuning.DisplayMask << 1;
    RecordingWindow::BuildDisplayMask();
  }

 private:
  mutable std::mutex pm_;
  std::vector<std::pair<int32_t, int32_t>> points_;
};

struct Scope : ::testing::Test {
  PortsFolder ports;
  EngineRecords records;
  UartLink link;
  ScopeWindow window;
  LoadedTexts texts = LoadedTexts::Builtin();
  std::unique_ptr<vsensor::VirtualSensor> sensor;
  std::unique_ptr<TCmdThread> engine;

  void Start(vsensor::SensorState s = {}) {
    sensor = std::make_unique<vsensor::VirtualSensor>(s, 11);
    std::string error;
    ASSERT_TRUE(sensor->Start(kCom, &error)) << error;
    records.link = LinkSettings{kCom, s.baud, s.address};
    records.tuning.OscMode = 1;
    ASSERT_EQ(UartOpen(link, kCom, s.baud), 0);
    window.records = &records;
    engine = std::make_unique<TCmdThread>(records, link, window, texts);
    window.engine = engine.get();
  }
  // Enters the page as the window does after a search, and waits for the
  // first echo the poll shows.
  void Enter() {
    engine->PostJob(JOB_ENTER_SCOPE);
    ASSERT_TRUE(window.WaitFor("ShowTuningParams"));
    ASSERT_TRUE(window.WaitFor("ShowEcho"));
  }
  // Waits (bounded) until the window saw `call` at least n times.
  bool WaitCount(const std::string& call, size_t n, std::chrono::seconds limit = 60s) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (window.Count(call) < n) {
      if (std::chrono::steady_clock::now() > end) return false;
      std::this_thread::sleep_for(5ms);
    }
    return true;
  }
  size_t Heard(uint8_t command) const {
    const auto c = sensor->ReceivedCommands();
    return static_cast<size_t>(std::count(c.begin(), c.end(), command));
  }
  void TearDown() override {
    window.Close();
    if (engine) engine->Terminate();
    engine.reset();
    UartClose(link);
  }
  void Finish() { engine->Terminate(); }
};

// A technician who leaves the page while its entry job runs (the program
// page posts JOB_IDLE) must not find the echo poll started behind him.
TEST_F(Scope, APageChangeDuringTheEntryJobIsNotReplacedByThePoll) {
  Start();
  window.onTuningParams = [this] { engine->PostJob(JOB_IDLE); };
  engine->PostJob(JOB_ENTER_SCOPE);
  ASSERT_TRUE(window.WaitFor("ShowTuningParams"));
  ASSERT_TRUE(window.WaitFor("SetIdle"));
  std::this_thread::sleep_for(600ms);
  Finish();
  EXPECT_EQ(window.Count("ShowEcho"), 0u);
  EXPECT_EQ(Heard(SVC_GET_ECHO), 0u);
}

TEST_F(Scope, EnteringReadsTheTuningAndThePollChainKeepsRunning) {
  vsensor::SensorState s;
  s.frequency = 1234;
  s.filter = 1250;
  s.kuWord = (12u << 8) | 25u;
  s.pulse = 77;
  s.attenuation = 30;
  s.integrator = (3u << 16) | 100u;
  Start(s);
  Enter();
  // Several polls follow each other without anything posting them.
  ASSERT_TRUE(WaitCount("ShowEcho", 5));
  Finish();
  EXPECT_EQ(records.tuning.Frequency, 1234);
  EXPECT_EQ(records.tuning.Filter, 1250);
  EXPECT_EQ(records.tuning.KuWord, 3097);
  EXPECT_EQ(records.tuning.Pulse, 77);
  EXPECT_EQ(records.tuning.Attenuation, 30);
  EXPECT_EQ(records.tuning.Integrator, 3u * 65536u + 100u);
  EXPECT_EQ(records.echoHeader.Frequency(), 1234);
  EXPECT_TRUE(window.Boxes().empty());
  // The link settings keep the rate the sensor was found at.
  EXPECT_EQ(records.link.baud, 19200);
  EXPECT_GE(Heard(SVC_GET_MODE), 5u);
  EXPECT_GE(Heard(SVC_GET_ECHO), 5u);
  EXPECT_EQ(Heard(SVC_SERVICE_MODE), 1u);
}

TEST_F(Scope, ALostEchoAnswerBringsTheEntryJobBackOnce) {
  Start();
  Enter();
  sensor->InjectFault({vsensor::FaultKind::NoAnswer, SVC_GET_ECHO, 1, 0});
  // The failed poll re-arms; the next good one posts the entry job.
  ASSERT_TRUE(WaitCount("ShowTuningParams", 2));
  ASSERT_TRUE(WaitCount("ShowEcho", window.Count("ShowEcho") + 2));
  Finish();
  EXPECT_EQ(Heard(SVC_SERVICE_MODE), 2u);
  EXPECT_EQ(window.Count("ShowTuningParams"), 2u);
  EXPECT_GE(window.Count("ShowDeviceStatus(6)"), 1u);
  EXPECT_TRUE(window.Boxes().empty());
}

TEST_F(Scope, AttenuationIsTriedTenTimesAndGainTwiceBeforeTheBox) {
  Start();
  Enter();
  sensor->InjectFault({vsensor::FaultKind::AckStatus, SVC_SET_ATTEN, -1, 1});
  sensor->InjectFault({vsensor::FaultKind::AckStatus, SVC_SET_KU, -1, 1});
  records.tuning.Attenuation = 30;
  engine->PostJob(JOB_SET_ATTEN);
  ASSERT_TRUE(window.WaitForBox());
  // The job ends by posting the poll, which would replace a job posted
  // before it: post the next write once the poll runs again.
  ASSERT_TRUE(WaitCount("ShowEcho", window.Count("ShowEcho") + 1));
  records.tuning.KuWord = 5;
  engine->PostJob(JOB_SET_KU);
  ASSERT_TRUE(WaitCount("ErrorBox", 2));
  // Each job hands back to the poll.
  ASSERT_TRUE(WaitCount("ShowEcho", window.Count("ShowEcho") + 1));
  Finish();
  EXPECT_EQ(Heard(SVC_SET_ATTEN), 10u);
  EXPECT_EQ(Heard(SVC_SET_KU), 2u);
  ASSERT_EQ(window.Boxes().size(), 2u);
  EXPECT_EQ(window.Boxes()[0], texts.DeviceStatus(LINK_NOT_DONE));
}

TEST_F(Scope, FrequencyWriteCarriesTheFilterAndAFailedOneSkipsIt) {
  Start();
  Enter();
  records.tuning.Frequency = 1500;
  records.tuning.Filter = 1500;
  engine->PostJob(JOB_SET_FREQ);
  ASSERT_TRUE(WaitCount("ShowEcho", window.Count("ShowEcho") + 2));
  EXPECT_EQ(sensor->State().frequency, 1500);
  EXPECT_EQ(sensor->State().filter, 1500);

  sensor->InjectFault({vsensor::FaultKind::AckStatus, SVC_SET_FREQ, 2, 1});
  records.tuning.Frequency = 2000;
  records.tuning.Filter = 2000;
  const size_t filters = Heard(SVC_SET_FILTER);
  engine->PostJob(JOB_SET_FREQ);
  ASSERT_TRUE(window.WaitForBox());
  Finish();
  EXPECT_EQ(Heard(SVC_SET_FILTER), filters);
  EXPECT_EQ(sensor->State().frequency, 1500);
}

TEST_F(Scope, SweepFrom500To4000AddsOnePointPerFrequencyWithTheResonanceOnTop) {
  Start();
  Enter();
  records.tuning.Frequency = 1000;
  records.tuning.AfcStep = 20;
  engine->PostJob(JOB_AFC_SWEEP);
  ASSERT_TRUE(window.WaitForBox(180s));
  Finish();
  const auto points = window.Points();
  ASSERT_EQ(points.size(), 176u);
  for (size_t i = 0; i < points.size(); ++i) ASSERT_EQ(points[i].first, 500 + 20 * static_cast<int>(i));
  EXPECT_EQ(window.Boxes()[0], texts.Message(Msg::AfcCompleted));
  // The echo is strongest where the transducer resonates.
  const auto top = std::max_element(points.begin(), points.end(),
                                    [](const auto& a, const auto& b) { return a.second < b.second; });
  EXPECT_NEAR(top->first, 1050, 60);
  EXPECT_GT(top->second, 4 * points.back().second);
  // Back to the frequency in use, sweep off.
  EXPECT_EQ(sensor->State().frequency, 1000);
  EXPECT_FALSE(sensor->State().afcOn);
}

TEST_F(Scope, SweepWindowBeyondTheSamplesGivesPeaksOf0) {
  Start();
  Enter();
  records.tuning.AfcStep = 500;
  records.tuning.AfcStart = 20000;
  engine->PostJob(JOB_AFC_SWEEP);
  ASSERT_TRUE(window.WaitForBox(120s));
  Finish();
  const auto points = window.Points();
  ASSERT_EQ(points.size(), 8u);  // 500, 1000 ... 4000
  for (const auto& p : points) EXPECT_EQ(p.second, 0);
}

// A step of 0 leaves the sensor's frequency where it is: the sweep must end
// anyway, finish as usual and hand back to the poll.
TEST_F(Scope, SweepWithStep0Ends) {
  Start();
  Enter();
  records.tuning.Frequency = 1200;
  records.tuning.AfcStep = 0;
  engine->PostJob(JOB_AFC_SWEEP);
  ASSERT_TRUE(window.WaitForBox(180s));
  ASSERT_TRUE(WaitCount("ShowEcho", window.Count("ShowEcho") + 1));
  Finish();
  EXPECT_EQ(window.Points().size(), static_cast<size_t>(kAfcStallReads + 1));
  EXPECT_EQ(window.Boxes()[0], texts.Message(Msg::AfcCompleted));
  EXPECT_EQ(sensor->State().frequency, 1200);
  EXPECT_FALSE(sensor->State().afcOn);
}

TEST(AfcSweepLimit, CountsTheStepsWithAMarginAndAtLeastStep1) {
  EXPECT_EQ(AfcSweepReadLimit(20), 2 * 176 + kAfcReadMargin);
  EXPECT_EQ(AfcSweepReadLimit(0), AfcSweepReadLimit(1));
  EXPECT_EQ(AfcSweepReadLimit(-5), AfcSweepReadLimit(1));
  EXPECT_EQ(AfcSweepReadLimit(10000), 2 + kAfcReadMargin);
}

TEST_F(Scope, StoppingTheEngineEndsASweepAtOnce) {
  Start();
  Enter();
  records.tuning.AfcStep = 0;
  engine->PostJob(JOB_AFC_SWEEP);
  ASSERT_TRUE(WaitCount("AddAfcPoint", 2));
  const auto t0 = std::chrono::steady_clock::now();
  Finish();
  EXPECT_LT(std::chrono::steady_clock::now() - t0, 5s);
  EXPECT_TRUE(window.Boxes().empty());
}

TEST_F(Scope, TuningStep2FailureShowsTheTextAndTheCodeThenSwitchesTuningOff) {
  vsensor::SensorState s;
  s.autoStepMs = 300;
  s.autoFailCode = 5;
  Start(s);
  Enter();
  records.tuning.AutoStep = SVC_AUTO_STEP2;
  engine->PostJob(JOB_SET_AUTO);
  ASSERT_TRUE(window.WaitForBox());
  // JOB_SET_AUTO with step 0 and the entry job follow; the echo comes back.
  ASSERT_TRUE(WaitCount("ShowTuningParams", 3));
  ASSERT_TRUE(WaitCount("ShowEcho", window.Count("ShowEcho") + 1));
  Finish();
  EXPECT_EQ(window.Boxes()[0], texts.Message(Msg::AutoFailed) + "5");
  EXPECT_GE(window.Count("ShowAutoStep2"), 1u);
  EXPECT_EQ(records.tuning.AutoStep, 0);
  EXPECT_EQ(sensor->State().mode, 0);
}

TEST_F(Scope, TuningStep1ShowsItsProgressUntilTheSensorIsDone) {
  vsensor::SensorState s;
  s.autoStepMs = 600;
  s.resonance = 1400;
  Start(s);
  Enter();
  records.tuning.AutoStep = SVC_AUTO_STEP1;
  engine->PostJob(JOB_SET_AUTO);
  ASSERT_TRUE(WaitCount("ShowAutoStep1", 2));
  // The sensor ends step 1 on its own; the poll shows echoes again.
  ASSERT_TRUE(WaitCount("ShowEcho", window.Count("ShowEcho") + 2));
  Finish();
  EXPECT_TRUE(window.Boxes().empty());
  EXPECT_EQ(records.echoHeader.Frequency(), 1400);
}

TEST_F(Scope, DisplayTestRepeatsEvery250MsAndAFailedSendEndsIt) {
  Start();
  Enter();
  records.tuning.DisplayMask = 0;
  engine->PostJob(JOB_DISPLAY_TEST);
  ASSERT_TRUE(WaitCount("BuildDisplayMask", 4, 30s));
  sensor->InjectFault({vsensor::FaultKind::AckStatus, SVC_DISPLAY_TEST, 2, 1});
  ASSERT_TRUE(window.WaitForBox());
  ASSERT_TRUE(WaitCount("ShowEcho", window.Count("ShowEcho") + 1));
  Finish();
  const auto masks = sensor->State().displayMasks;
  ASSERT_GE(masks.size(), 3u);
  EXPECT_EQ(masks[0], 1u);
  EXPECT_EQ(masks[1], 2u);
  EXPECT_EQ(masks[2], 4u);
}

// The contrast trace, for the three cases the algorithm was designed from.
struct ContrastCase {
  const char* name;
  std::vector<uint16_t> x;
  std::vector<std::pair<int, uint32_t>> exact;  // position, value
  // checks over ranges
  std::function<void(const std::vector<uint32_t>&)> more;
};

std::vector<uint16_t> Flat(size_t n, uint16_t v) { return std::vector<uint16_t>(n, v); }

TEST(EnvelopeContrast, TheThreeDesignCases) {
  std::vector<uint16_t> step = Flat(700, 100);
  step.resize(1472, 3000);
  std::vector<uint16_t> zeroFirst = Flat(1472, 500);
  zeroFirst[0] = 0;
  const ContrastCase cases[] = {
      {"flat 500",
       Flat(1472, 500),
       {},
       [](const std::vector<uint32_t>& y) {
         for (size_t p = 0; p < y.size(); ++p) ASSERT_EQ(y[p], 1000u) << p;
       }},
      {"step 100 to 3000",
       step,
       {{689, 1000}, {712, 15500}, {734, 15500}, {757, 1000}},
       [](const std::vector<uint32_t>& y) {
         for (int p = 0; p <= 689; ++p) ASSERT_EQ(y[static_cast<size_t>(p)], 1000u) << p;
         EXPECT_GT(y[690], 1000u);
         EXPECT_LT(y[692], 3500u);
         EXPECT_GE(y[693], 3500u);
         for (int p = 712; p <= 734; ++p) ASSERT_EQ(y[static_cast<size_t>(p)], 15500u) << p;
         EXPECT_GE(y[739], 3500u);
         EXPECT_LT(y[740], 3500u);
         for (size_t p = 757; p < y.size(); ++p) ASSERT_EQ(y[p], 1000u) << p;
       }},
      {"sample 0 forced to 0",
       zeroFirst,
       {{0, 5540}, {1, 5580}, {2, 5610}},
       [](const std::vector<uint32_t>& y) {
         EXPECT_GT(y[40], 1000u);
         EXPECT_EQ(y[y.size() - 1], 1000u);
       }},
  };
  for (const ContrastCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<uint32_t> y(c.x.size(), 0xDEADBEEF);
    EnvelopeContrast(c.x.data(), static_cast<uint16_t>(c.x.size()), y.data());
    for (const auto& [p, v] : c.exact) EXPECT_EQ(y[static_cast<size_t>(p)], v) << "at " << p;
    c.more(y);
  }
}

}  // namespace
}  // namespace kl
