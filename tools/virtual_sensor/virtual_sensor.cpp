#include "virtual_sensor.h"

#include "com_link.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <numbers>
#include <random>
#include <thread>

namespace kl::vsensor {

int64_t SteadyClock::NowMs() const {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

std::string PortsFolder() {
  const char* dir = std::getenv("KL31_PORTS_DIR");
  if (dir && *dir) return dir;
  const char* home = std::getenv("HOME");
  if (home && *home) return std::string(home) + "/.kl31/ports";
  return "/tmp/kl31-ports";
}

namespace {

constexpr int64_t kGapMs = 50;           // silence that ends a partial request
constexpr int kIdlePollMs = 20;          // slice of every wait, so Stop() is prompt
constexpr int64_t kWriteBoundMs = 5000;  // an answer nobody reads is dropped after this
constexpr size_t kMaxPending = 4096;     // never buffer more than this of a request

int64_t RealMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

speed_t SpeedOf(int baud) {
  switch (baud) {
    case 2400:
      return B2400;
    case 4800:
      return B4800;
    case 9600:
      return B9600;
    case 19200:
      return B19200;
    case 38400:
      return B38400;
    case 57600:
      return B57600;
    case 115200:
      return B115200;
    default:
      return B0;
  }
}

bool MakeDirs(const std::string& path) {
  std::string sofar;
  size_t pos = 0;
  while (pos != std::string::npos) {
    pos = path.find('/', pos + 1);
    sofar = path.substr(0, pos);
    if (sofar.empty()) continue;
    if (::mkdir(sofar.c_str(), 0755) != 0 && errno != EEXIST) return false;
  }
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

uint16_t Get16(const std::vector<uint8_t>& f, size_t at) {
  return static_cast<uint16_t>(f[at] | (f[at + 1] << 8));
}
uint32_t Get32(const std::vector<uint8_t>& f, size_t at) {
  return static_cast<uint32_t>(f[at]) | (static_cast<uint32_t>(f[at + 1]) << 8) |
         (static_cast<uint32_t>(f[at + 2]) << 16) | (static_cast<uint32_t>(f[at + 3]) << 24);
}

struct Writer {
  std::vector<uint8_t>& out;
  void U8(uint32_t v) { out.push_back(static_cast<uint8_t>(v & 0xFF)); }
  void U16(uint32_t v) {
    U8(v);
    U8(v >> 8);
  }
  void U24(uint32_t v) {
    U16(v);
    U8(v >> 16);
  }
  void U32(uint32_t v) {
    U16(v);
    U16(v >> 16);
  }
};

uint32_t FloatBits(float f) {
  uint32_t bits = 0;
  std::memcpy(&bits, &f, sizeof bits);
  return bits;
}
float BitsFloat(uint32_t bits) {
  float f = 0;
  std::memcpy(&f, &bits, sizeof f);
  return f;
}

void Put16(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v & 0xFF);
  p[1] = static_cast<uint8_t>((v >> 8) & 0xFF);
}

// When a pending request byte came and whether the line ran at the sensor's
// rate then.
struct Arrival {
  int64_t ms = 0;
  bool rightSpeed = false;
};

// What the sensor does after an answer has gone out.
struct Answer {
  std::vector<uint8_t> bytes;
  bool echo = false;
  bool ack = false;
};

}  // namespace

struct VirtualSensor::Impl {
  std::shared_ptr<Clock> clock;

  mutable std::mutex mu;  // guards everything below up to the file descriptors
  SensorState state;
  std::vector<Fault> faults;
  bool pacing = false;
  std::vector<uint8_t> received;
  std::vector<std::vector<uint8_t>> receivedFrames;
  size_t requests = 0, ignored = 0, answers = 0;
  std::mt19937_64 rng;
  int64_t autoStartMs = 0;  // sensor clock when the running tuning step began
  int64_t driftLastMs = 0;  // sensor clock of the last level drift update
  double driftCarry = 0;    // fraction of 0.1 mm not yet applied
  uint16_t frameCounter = 0;
  std::string portName, slavePath, linkPath;
  kl::comlink::ComLink comLink;  // the COM name and the lock that shows we serve it

  // Owned by Start()/Stop() on the caller's thread; the worker only reads them.
  int master = -1;
  int stopPipe[2] = {-1, -1};
  std::thread worker;
  std::atomic<bool> running{false};

  // ---- simulation (caller holds mu) ----

  void ResetSimulation() {
    const int64_t now = clock->NowMs();
    autoStartMs = now;
    driftLastMs = now;
    driftCarry = 0;
  }

  void Simulate() {
    const int64_t now = clock->NowMs();
    SensorState& s = state;
    TankUpdate(s);
    if (s.levelDrift != 0 && !s.tankOn) {
      const int32_t top = s.customTankHeight ? s.customTankHeight : 65535;
      driftCarry += static_cast<double>(s.levelDrift) * static_cast<double>(now - driftLastMs) / 1000.0;
      const double whole = std::trunc(driftCarry);
      driftCarry -= whole;
      double level = s.level + whole;
      // A slow fill and drain between empty and full.
      for (int guard = 0; guard < 4 && (level < 0 || level > top); ++guard) {
        if (level > top) level = 2.0 * top - level, s.levelDrift = -std::abs(s.levelDrift);
        if (level < 0) level = -level, s.levelDrift = std::abs(s.levelDrift);
      }
      s.level = static_cast<uint16_t>(std::clamp(level, 0.0, static_cast<double>(top)));
    }
    driftLastMs = now;

    if (s.mode != kAutoStep1 && s.mode != kAutoStep2) return;
    const int64_t elapsed = now - autoStartMs;
    const int64_t span = std::max<int32_t>(s.autoStepMs, 1);
    const int32_t failed =
        static_cast<int32_t>(0x80000000u | (static_cast<uint32_t>(s.autoFailCode) & 0x7FFFFFFFu));
    if (s.mode == kAutoStep1) {
      if (s.autoFailCode != 0 && elapsed >= span / 2) {
        s.autoState = failed;
      } else if (s.autoFailCode == 0) {
        // The signal level climbs while the sensor searches for its echo.
        s.autoState = static_cast<int32_t>(std::min<int64_t>(5, 1 + elapsed * 5 / span));
      }
      if (elapsed >= span) {
        if (s.autoFailCode == 0) ApplyTuning();
        s.mode = 0;
      }
    } else if (s.autoState == 0 && elapsed >= span) {
      // Step 2 keeps reporting its mode until the tool switches tuning off,
      // so that the tool sees the result.
      if (s.autoFailCode != 0) {
        s.autoState = failed;
      } else {
        ApplyTuning();
        s.autoState = 1;
      }
    }
  }

  void RecordDisplayMask(uint32_t mask) {
    auto& masks = state.displayMasks;
    if (masks.size() >= SensorState::kDisplayMaskLimit) masks.erase(masks.begin());
    masks.push_back(mask);
  }

  void ApplyTuning() {
    SensorState& s = state;
    s.frequency = std::clamp<uint16_t>(s.resonance, 500, 4000);
    s.filter = static_cast<uint16_t>(std::clamp((s.frequency + 25) / 50 * 50, 500, 4000));
    s.kuWord = static_cast<uint16_t>((s.kuWord & 0xFF00) | 14);
    s.attenuation = 0;
  }

  // ---- echo ----

  int GainInUse() const {
    const int low = state.kuWord & 0xFF, high = (state.kuWord >> 8) & 0xFF;
    int g = low >= 25 ? 14 : low;  // automatic gain settles mid-range
    if (high < 25) g = std::min(g, high);
    return std::clamp(g, 0, 24);
  }

  double EchoIndex() const {
    const double speed = state.soundSpeed > 100.0f ? state.soundSpeed : 1390.0;
    return 40.0 + state.level * (1390.0 / speed) / 15.0;
  }

  // Envelope (non-negative) at a fractional sample position of envelope mode.
  double Envelope(double x, double echoAmp, double echoAt, double width, double burstLen,
                  double burstAmp) const {
    double v = 0;
    if (x < burstLen)
      v += burstAmp;
    else
      v += burstAmp * std::exp(-(x - burstLen) / 6.0);  // ring-down
    auto bump = [&](double at, double amp) {
      const double d = (x - at) / width;
      if (std::abs(d) < 6) v += amp * std::exp(-0.5 * d * d);
    };
    if (echoAmp > 0) {
      bump(echoAt, echoAmp);
      bump(2 * echoAt - 40.0, echoAmp * 0.25);  // second trip bottom to surface and back
    }
    return v;
  }

  void BuildEcho(uint8_t mode, uint8_t replyAddress, Answer& a) {
    const SensorState& s = state;
    int sampleBlocks = 0;
    if (mode == 1)
      sampleBlocks = 23;
    else if (mode == 2 || mode == 3)
      sampleBlocks = 31;
    const int n = 1 + sampleBlocks;

    const int gain = GainInUse();
    const double gainLin = std::pow(10.0, (gain * 2 - 24) / 20.0);
    const double attLin = std::pow(10.0, -s.attenuation / 20.0);
    const double df = (static_cast<double>(s.frequency) - s.resonance) / 150.0;
    const double response = 1.0 / (1.0 + df * df);
    const bool wide = s.filter <= 450;
    const double dfil = wide ? 0.0 : (static_cast<double>(s.frequency) - s.filter) / 200.0;
    const double pass = 1.0 / (1.0 + dfil * dfil);
    const double echoAt = EchoIndex();
    const double loss = 1.0 / (1.0 + echoAt / 1500.0);
    const double echoAmp = s.noLevel ? 0.0 : 14000.0 * gainLin * attLin * response * pass * loss;
    const double burstLen = 8.0 + s.pulse / 5.0;
    const double burstAmp = std::min(30000.0, 30000.0 * std::sqrt(gainLin) * attLin * 4);
    const double width = 4.0 + s.pulse / 10.0;
    const double noise = (wide ? 120.0 : 50.0) * gainLin;

    std::vector<int32_t> samples(static_cast<size_t>(sampleBlocks) * 64, 0);
    std::normal_distribution<double> gauss(0.0, 1.0);
    const size_t count = samples.size();
    for (size_t i = 0; i < count; ++i) {
      double v = 0;
      if (mode == 1) {
        v = Envelope(static_cast<double>(i), echoAmp, echoAt, width, burstLen, burstAmp) +
            std::abs(noise * (1.0 + 0.5 * gauss(rng)));
        v = std::clamp(v, 0.0, 32000.0);
      } else {
        // Raw and filtered views cover the same distance with a finer step.
        const double x = static_cast<double>(i) * 1472.0 / 1984.0;
        const double env = Envelope(x, echoAmp, echoAt, width, burstLen, burstAmp);
        const double phase = 2.0 * std::numbers::pi * static_cast<double>(i) * s.frequency / 6000.0;
        const double n0 = (mode == 2 ? 2.0 : 0.6) * noise * gauss(rng);
        v = (mode == 2 ? env : env * pass) * std::sin(phase) + n0;
        v = std::clamp(v, -32000.0, 32000.0);
      }
      samples[i] = static_cast<int32_t>(std::lround(v));
    }

    a.echo = true;
    a.bytes.assign(static_cast<size_t>(n) * kEchoBlockSize, 0);
    for (int k = 0; k < n; ++k) {
      uint8_t* b = a.bytes.data() + static_cast<size_t>(k) * kEchoBlockSize;
      if (k == 0) {
        b[0] = kAnswerMarker;
        b[1] = replyAddress;
        b[2] = cmd::kGetEcho;
        b[3] = static_cast<uint8_t>(n);
        b[4] = mode;
      } else {
        b[0] = static_cast<uint8_t>(k);
        b[1] = mode;
      }
      uint8_t* d = b + 8;
      if (k == 0) {
        Put16(d + 0, mode);
        Put16(d + 2, s.frequency);
        Put16(d + 4, static_cast<uint32_t>(n));
        Put16(d + 6, s.filter);
        Put16(d + 8, static_cast<uint32_t>(gain));
        Put16(d + 10, s.attenuation);
        Put16(d + 12, s.pulse);
        Put16(d + 16, s.echoError);
        Put16(d + 18, s.noLevel ? 0u : static_cast<uint32_t>(std::lround(echoAt)));
        Put16(d + 22, 15);  // level steps of 0.1 mm per envelope sample
        Put16(d + 28, static_cast<uint32_t>(std::lround(std::min(echoAmp, 65535.0))));
        Put16(d + 30, static_cast<uint32_t>(std::lround(std::min(noise, 65535.0))));
        Put16(d + 32, frameCounter);
        Put16(d + 42, static_cast<uint16_t>(s.temperature));
        Put16(d + 62, s.noLevel ? 0u : s.level);
        Put16(d + 66, s.noLevel);
      } else {
        for (int j = 0; j < 64; ++j)
          Put16(d + 2 * j,
                static_cast<uint16_t>(samples[static_cast<size_t>(k - 1) * 64 + static_cast<size_t>(j)]));
      }
      uint16_t sum = 0;
      for (int j = 0; j < 64; ++j) sum = static_cast<uint16_t>(sum + (d[2 * j] | (d[2 * j + 1] << 8)));
      Put16(b + 136, sum);
      b[138] = b[139] = 0;
    }
    ++frameCounter;
  }

  // ---- commands (caller holds mu) ----

  // Carries out one request and builds its answer. `status` forced non-zero
  // by a fault means the command is refused before it does anything.
  Answer Execute(const std::vector<uint8_t>& f, uint8_t replyAddress, int forcedStatus) {
    SensorState& s = state;
    const uint8_t c = f[2];
    Answer a;
    a.ack = IsAcknowledgement(c);
    if (c == cmd::kGetEcho) {
      BuildEcho(f[3], replyAddress, a);
      if (s.afcOn) {
        // The sweep moves on with every echo the tool reads.
        int next = s.frequency + s.afcStep;
        if (next > 4000) next = 500;
        s.frequency = static_cast<uint16_t>(next);
      }
      return a;
    }
    Writer w{a.bytes};
    w.U8(kAnswerMarker);
    w.U8(replyAddress);
    w.U8(c);
    if (a.ack) {
      uint8_t status = 0;
      if (forcedStatus != 0)
        status = static_cast<uint8_t>(forcedStatus);
      else
        status = Write(f);
      w.U8(status);
    } else {
      switch (c) {
        case cmd::kSync:
          w.U8(s.address);
          w.U16(s.firmware);
          w.U16(0);
          break;
        case cmd::kGetIntegrator:
          w.U32(s.integrator);
          break;
        case cmd::kGetKu:
          w.U16(s.kuWord);
          break;
        case cmd::kGetFreq:
          w.U16(s.frequency);
          break;
        case cmd::kGetPulse:
          w.U8(s.pulse);
          break;
        case cmd::kGetAtten:
          w.U8(s.attenuation);
          break;
        case cmd::kGetFilter:
          w.U16(s.filter);
          break;
        case cmd::kGetPostFilter:
          w.U8(s.postFilter);
          break;
        case cmd::kGetTankHeight:
          w.U16(s.customTankHeight);
          break;
        case cmd::kGetPassport:
          w.U24(s.date);
          w.U24(s.serial);
          w.U8(s.model);
          w.U8(s.firmware);
          for (int i = 0; i < 6; ++i) w.U8(0);
          w.U8(s.address);
          w.U8(0);
          w.U8(s.period);
          w.U8(s.flags);
          break;
        case cmd::kGetIdent:
          w.U24(s.date);
          w.U24(s.serial);
          w.U8(s.model);
          w.U8(s.firmware);
          break;
        case cmd::kGetConfig:
          w.U8(s.configByte);
          w.U8(s.flags2);
          for (int i = 0; i < 4; ++i) w.U8(0);
          w.U8(0);
          w.U8(0);
          break;
        case cmd::kReadBlock: {
          const size_t at = static_cast<size_t>(f[3]) * kBlockSize;
          for (size_t i = 0; i < kBlockSize; ++i) w.U8(at + i < s.hub.size() ? s.hub[at + i] : 0);
          break;
        }
        case cmd::kGetTankId:
          w.U16(s.tankId);
          break;
        case cmd::kGetMode:
          w.U8(s.mode);
          break;
        case cmd::kGetAutoState:
          w.U32(static_cast<uint32_t>(s.autoState));
          break;
        case cmd::kGetModel:
          for (uint8_t b : s.modelCode) w.U8(b);
          break;
        case cmd::kGetFuel:
          w.U8(s.fuelType);
          w.U32(FloatBits(s.thermalCoef));
          w.U32(FloatBits(s.soundSpeed));
          break;
        default:
          break;
      }
    }
    a.bytes.push_back(Crc8(a.bytes.data(), a.bytes.size()));
    return a;
  }

  // A write command: 0 done, 2 value refused.
  uint8_t Write(const std::vector<uint8_t>& f) {
    SensorState& s = state;
    const uint8_t c = f[2];
    constexpr uint8_t kRefused = 2;
    switch (c) {
      case cmd::kSetIntegrator:
        s.integrator = Get32(f, 3);
        return 0;
      case cmd::kSetKu: {
        const uint16_t v = Get16(f, 3);
        if ((v & 0xFF) > 25 || (v >> 8) > 25) return kRefused;
        s.kuWord = v;
        return 0;
      }
      case cmd::kSetFreq: {
        const uint16_t v = Get16(f, 3);
        if (v < 500 || v > 4000) return kRefused;
        s.frequency = v;
        return 0;
      }
      case cmd::kSetPulse:
        if (f[3] > 200) return kRefused;
        s.pulse = f[3];
        return 0;
      case cmd::kSetAtten:
        if (f[3] != 0 && f[3] != 30) return kRefused;
        s.attenuation = f[3];
        return 0;
      case cmd::kSetFilter: {
        const uint16_t v = Get16(f, 3);
        // The filter follows the frequency in steps of 1 kHz, so any value in
        // range is taken, not only the list's multiples of 50.
        if (v < 450 || v > 4000) return kRefused;
        s.filter = v;
        return 0;
      }
      case cmd::kAfc:
        if (f[3] > 1) return kRefused;
        s.afcOn = f[3] == 1;
        if (s.afcOn) s.afcStep = Get16(f, 4);
        return 0;
      case cmd::kSetPostFilter:
        if (f[3] > 8) return kRefused;
        s.postFilter = f[3];
        return 0;
      case cmd::kServiceMode:
        s.serviceMode = true;
        s.baud = 115200;
        return 0;
      case cmd::kDisplayTest:
        s.displayMask = Get32(f, 3);
        RecordDisplayMask(s.displayMask);
        return 0;
      case cmd::kSetTankHeight:
        s.customTankHeight = Get16(f, 3);
        return 0;
      case cmd::kSetPeriod:
        s.period = f[3];
        return 0;
      case cmd::kSetFlags: {
        const int rate = BaudFromCode((f[3] >> 2) & 7);
        if (rate == 0) return kRefused;
        s.flags = f[3];
        s.baud = rate;
        return 0;
      }
      case cmd::kSetAddress:
        if (f[3] == kBroadcast) return kRefused;
        s.address = f[3];
        return 0;
      case cmd::kSetTareMode:
        if (f[3] > 1) return kRefused;
        s.tareMode = f[3];
        return 0;
      case cmd::kWriteBlock: {
        const size_t at = static_cast<size_t>(f[3]) * kBlockSize;
        if (s.hub.size() < kHubSize) s.hub.resize(kHubSize, 0);
        std::copy(f.begin() + 4, f.begin() + 4 + kBlockSize, s.hub.begin() + static_cast<std::ptrdiff_t>(at));
        return 0;
      }
      case cmd::kSetTankId:
        s.tankId = Get16(f, 3);
        return 0;
      case cmd::kSetAuto:
        if (f[3] != 0 && f[3] != kAutoStep1 && f[3] != kAutoStep2) return kRefused;
        s.mode = f[3];
        if (f[3] != 0) {
          s.autoState = 0;
          autoStartMs = clock->NowMs();
        }
        return 0;
      case cmd::kSetFuel:
        s.fuelType = f[3];
        s.thermalCoef = BitsFloat(Get32(f, 4));
        s.soundSpeed = BitsFloat(Get32(f, 8));
        return 0;
      default:
        return kRefused;
    }
  }

  // Picks the faults that hit this answer and counts them down.
  std::vector<Fault> TakeFaults(uint8_t command) {
    std::vector<Fault> hit;
    const bool echo = command == cmd::kGetEcho;
    const bool ack = IsAcknowledgement(command);
    for (Fault& f : faults) {
      if (f.count == 0) continue;
      if (f.command >= 0 && f.command != command) continue;
      if (f.kind == FaultKind::BadCrc && echo) continue;
      if (f.kind == FaultKind::BadEchoSum && !echo) continue;
      if (f.kind == FaultKind::AckStatus && !ack) continue;
      hit.push_back(f);
      if (f.count > 0) --f.count;
    }
    faults.erase(std::remove_if(faults.begin(), faults.end(), [](const Fault& f) { return f.count == 0; }),
                 faults.end());
    return hit;
  }

  static void Reseal(Answer& a) {
    if (!a.echo && a.bytes.size() >= 2) a.bytes.back() = Crc8(a.bytes.data(), a.bytes.size() - 1);
  }

  // ---- the line ----

  bool LineSpeedMatches() {
    termios t{};
    if (::tcgetattr(master, &t) != 0) return false;
    speed_t sp = ::cfgetospeed(&t);
    if (sp == B0) sp = ::cfgetispeed(&t);
    std::lock_guard<std::mutex> lock(mu);
    return sp == SpeedOf(state.baud);
  }

  // Waits up to `ms` unless Stop() is asked for; false when stopping.
  bool Pause(int ms) {
    const int64_t until = RealMs() + std::max(ms, 0);
    while (true) {
      pollfd p{stopPipe[0], POLLIN, 0};
      const int64_t left = until - RealMs();
      const int r = ::poll(&p, 1, static_cast<int>(std::max<int64_t>(left, 0)));
      if (r > 0) return false;
      if (r == 0 && RealMs() >= until) return true;
      if (r < 0 && errno != EINTR) return true;
    }
  }

  bool Stopping() {
    pollfd p{stopPipe[0], POLLIN, 0};
    return ::poll(&p, 1, 0) > 0;
  }

  // Writes the answer, at the line rate when pacing is on; gives up when the
  // other side goes away or stops reading.
  void Send(const std::vector<uint8_t>& bytes, bool paced, int baud) {
    const int64_t start = RealMs();
    size_t sent = 0;
    while (sent < bytes.size()) {
      if (Stopping()) return;
      size_t allowed = bytes.size();
      if (paced && baud > 0) {
        const int64_t elapsed = RealMs() - start;
        // Byte k has crossed the line (k + 1) byte times after the start.
        allowed = std::min<size_t>(bytes.size(), static_cast<size_t>(elapsed * baud / 10000));
      }
      if (allowed > sent) {
        const ssize_t n = ::write(master, bytes.data() + sent, allowed - sent);
        if (n > 0) {
          sent += static_cast<size_t>(n);
          continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) return;  // no one on the slave
        pollfd p[2] = {{master, POLLOUT, 0}, {stopPipe[0], POLLIN, 0}};
        ::poll(p, 2, kIdlePollMs);
        if (p[1].revents) return;
      } else {
        Pause(1);
      }
      if (RealMs() - start > kWriteBoundMs + static_cast<int64_t>(bytes.size()) * 10000 / std::max(baud, 1))
        return;
    }
  }

  // Handles one complete, well-formed request whose first byte came at
  // `firstByteMs`.
  void Handle(const std::vector<uint8_t>& frame, int64_t firstByteMs) {
    std::vector<Fault> hit;
    Answer a;
    bool paced = false;
    int baud = 0;
    int delayMs = 0;
    bool silent = false;
    int64_t requestEndMs = 0;
    {
      std::lock_guard<std::mutex> lock(mu);
      Simulate();
      const uint8_t c = frame[2];
      if (frame[1] != state.address && frame[1] != kBroadcast) {
        ++ignored;
        return;
      }
      if (received.size() >= kHistoryLimit) {
        received.erase(received.begin(), received.begin() + kHistoryLimit / 2);
        receivedFrames.erase(receivedFrames.begin(), receivedFrames.begin() + kHistoryLimit / 2);
      }
      received.push_back(c);
      receivedFrames.push_back(frame);
      ++requests;
      paced = pacing;
      baud = state.baud;  // the answer goes out at the rate the request came in
      // A pseudo-terminal hands the whole request over at once; on a real
      // line its last byte arrives only after 10 bits a byte. A paced
      // sensor answers no earlier than that, so a tool that starts its
      // answer wait before its request is on the line sees the cost.
      if (paced && baud > 0) requestEndMs = firstByteMs + static_cast<int64_t>(frame.size()) * 10000 / baud;
      hit = TakeFaults(c);
      int forcedStatus = 0;
      for (const Fault& f : hit) {
        if (f.kind == FaultKind::NoAnswer) {
          silent = true;
          if (f.param == 0) return;  // the request never reached the sensor
        }
        if (f.kind == FaultKind::AckStatus) forcedStatus = f.param ? f.param : 1;
        if (f.kind == FaultKind::Delay) delayMs = std::max(delayMs, f.param);
      }
      const bool ownReply = frame[1] != kBroadcast || (state.flags & 0x20) != 0;
      a = Execute(frame, ownReply ? state.address : kBroadcast, forcedStatus);
      if (silent) return;
      for (const Fault& f : hit) {
        switch (f.kind) {
          case FaultKind::WrongAddress:
            if (a.bytes.size() > 1) a.bytes[1] = static_cast<uint8_t>(f.param ? f.param : a.bytes[1] + 1);
            Reseal(a);
            break;
          case FaultKind::UnknownCommand:
            if (a.bytes.size() > 2) a.bytes[2] = static_cast<uint8_t>(f.param ? f.param : 0x7F);
            Reseal(a);
            break;
          default:
            break;
        }
      }
      for (const Fault& f : hit) {
        switch (f.kind) {
          case FaultKind::BadCrc:
            a.bytes.back() ^= 0xFF;
            break;
          case FaultKind::BadEchoSum:
            if (a.bytes.size() >= kEchoBlockSize) a.bytes[a.bytes.size() - 4] ^= 0x01;
            break;
          case FaultKind::BadMarker:
            a.bytes[0] = static_cast<uint8_t>(f.param ? f.param : '<');
            break;
          default:
            break;
        }
      }
      for (const Fault& f : hit) {
        if (f.kind == FaultKind::CutShort) {
          const size_t k = f.param ? static_cast<size_t>(f.param) : 3;
          if (k < a.bytes.size()) a.bytes.resize(k);
        }
      }
      bool twice = false;
      for (const Fault& f : hit) twice |= f.kind == FaultKind::DoubleAnswer;
      if (twice) {
        const std::vector<uint8_t> once = a.bytes;
        a.bytes.insert(a.bytes.end(), once.begin(), once.end());
        answers += 2;
      } else {
        answers += 1;
      }
    }
    if (requestEndMs > RealMs() && !Pause(static_cast<int>(requestEndMs - RealMs()))) return;
    if (delayMs > 0 && !Pause(delayMs)) return;
    Send(a.bytes, paced, baud);
  }

  void Run() {
    std::vector<uint8_t> pending;
    std::vector<Arrival> arrivals;  // per pending byte
    int64_t lastByte = 0;
    uint8_t chunk[512];
    while (true) {
      pollfd p[2] = {{master, POLLIN, 0}, {stopPipe[0], POLLIN, 0}};
      const int r = ::poll(p, 2, pending.empty() ? 100 : kIdlePollMs);
      if (r < 0 && errno != EINTR) {
        if (!Pause(kIdlePollMs)) break;
        continue;
      }
      if (p[1].revents) break;
      const int64_t now = RealMs();
      if (!pending.empty() && now - lastByte > kGapMs) {
        pending.clear();  // a request cut off by silence is forgotten
        arrivals.clear();
      }
      if (r == 0) continue;
      ssize_t n = -1;
      if (p[0].revents & POLLIN) n = ::read(master, chunk, sizeof chunk);
      if (n <= 0) {
        // No one has the slave open (the master reads EIO and polls HUP
        // until someone does): wait a slice instead of spinning.
        if (n < 0 && errno == EAGAIN) continue;
        pending.clear();
        arrivals.clear();
        if (!Pause(kIdlePollMs)) break;
        continue;
      }
      lastByte = now;
      const bool ok = LineSpeedMatches();
      pending.insert(pending.end(), chunk, chunk + n);
      arrivals.insert(arrivals.end(), static_cast<size_t>(n), Arrival{now, ok});
      if (pending.size() > kMaxPending) {
        const size_t drop = pending.size() - kMaxPending;
        pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(drop));
        arrivals.erase(arrivals.begin(), arrivals.begin() + static_cast<std::ptrdiff_t>(drop));
      }
      Parse(pending, arrivals);
    }
  }

  void Parse(std::vector<uint8_t>& pending, std::vector<Arrival>& arrivals) {
    auto drop = [&](size_t k) {
      pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(k));
      arrivals.erase(arrivals.begin(), arrivals.begin() + static_cast<std::ptrdiff_t>(k));
    };
    while (!pending.empty()) {
      if (pending[0] != kRequestMarker) {
        drop(1);
        continue;
      }
      if (pending.size() < 3) return;
      const size_t len = RequestLength(pending[2]);
      if (len == 0) {  // unknown command: its end cannot be known, look for the next start
        drop(1);
        continue;
      }
      if (pending.size() < len) return;
      std::vector<uint8_t> frame(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(len));
      if (Crc8(frame.data(), len - 1) != frame[len - 1]) {
        {
          std::lock_guard<std::mutex> lock(mu);
          ++ignored;
        }
        drop(1);
        continue;
      }
      const bool allRight = std::all_of(arrivals.begin(), arrivals.begin() + static_cast<std::ptrdiff_t>(len),
                                        [](const Arrival& a) { return a.rightSpeed; });
      const int64_t firstByteMs = arrivals.front().ms;
      drop(len);
      if (!allRight) {
        // At another rate the sensor would see only noise.
        std::lock_guard<std::mutex> lock(mu);
        ++ignored;
        continue;
      }
      Handle(frame, firstByteMs);
    }
  }

  void CloseAll() {
    if (master >= 0) ::close(master);
    master = -1;
    for (int& fd : stopPipe) {
      if (fd >= 0) ::close(fd);
      fd = -1;
    }
  }

  void RemoveLink() { comLink.Release(); }
};

VirtualSensor::VirtualSensor(SensorState initial, uint64_t seed, std::shared_ptr<Clock> clock)
    : impl_(std::make_unique<Impl>()) {
  impl_->clock = clock ? std::move(clock) : std::make_shared<SteadyClock>();
  if (initial.hub.size() != kHubSize) initial.hub.resize(kHubSize, 0);
  impl_->state = std::move(initial);
  impl_->rng.seed(seed);
  impl_->ResetSimulation();
}

VirtualSensor::~VirtualSensor() { Stop(); }

bool VirtualSensor::Start(int comNumber, std::string* error) {
  Impl& d = *impl_;
  auto fail = [&](const std::string& why) {
    if (error) *error = why;
    d.CloseAll();
    return false;
  };
  if (d.running.load()) return fail("already running");
  if (comNumber < 0 || comNumber > 255) return fail("COM number must be 0..255");
  const std::string folder = PortsFolder();
  if (!MakeDirs(folder))
    return fail("cannot create the ports folder " + folder + ": " + std::strerror(errno));

  d.master = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (d.master < 0) return fail(std::string("posix_openpt: ") + std::strerror(errno));
  char name[128] = {};
  if (::grantpt(d.master) != 0 || ::unlockpt(d.master) != 0 || ::ptsname_r(d.master, name, sizeof name) != 0)
    return fail(std::string("pseudo-terminal set-up: ") + std::strerror(errno));
  // Raw 8N1 at the sensor's rate until the tool sets its own line settings;
  // the slave is closed again so that the tool's exclusive open is its own.
  {
    const int slave = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (slave < 0) return fail(std::string("open ") + name + ": " + std::strerror(errno));
    termios t{};
    ::tcgetattr(slave, &t);
    ::cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    int baud = 0;
    {
      std::lock_guard<std::mutex> lock(d.mu);
      baud = d.state.baud;
    }
    const speed_t sp = SpeedOf(baud);
    if (sp != B0) ::cfsetspeed(&t, sp);
    ::tcsetattr(slave, TCSANOW, &t);
    ::close(slave);
  }
  if (::pipe2(d.stopPipe, O_CLOEXEC | O_NONBLOCK) != 0)
    return fail(std::string("pipe: ") + std::strerror(errno));

  const std::string port = "COM" + std::to_string(comNumber);
  // A name a live device serves is refused; one left behind by a device
  // killed hard is taken over (com_link.h).
  std::string why;
  if (!d.comLink.Claim(folder, port, name, &why)) return fail(why);
  const std::string link = d.comLink.Path();
  {
    std::lock_guard<std::mutex> lock(d.mu);
    d.portName = port;
    d.slavePath = name;
    d.linkPath = link;
  }
  d.running.store(true);
  d.worker = std::thread([&d] { d.Run(); });
  return true;
}

void VirtualSensor::Stop() {
  Impl& d = *impl_;
  if (!d.running.exchange(false)) return;
  const char stop = 1;
  if (::write(d.stopPipe[1], &stop, 1) < 0) { /* the worker also ends on a closed pipe */
  }
  if (d.worker.joinable()) d.worker.join();
  d.CloseAll();
  std::lock_guard<std::mutex> lock(d.mu);
  d.RemoveLink();
}

bool VirtualSensor::Running() const { return impl_->running.load(); }

std::string VirtualSensor::PortName() const {
  std::lock_guard<std::mutex> lock(impl_->mu);
  return impl_->portName;
}
std::string VirtualSensor::SlavePath() const {
  std::lock_guard<std::mutex> lock(impl_->mu);
  return impl_->slavePath;
}
std::string VirtualSensor::LinkPath() const {
  std::lock_guard<std::mutex> lock(impl_->mu);
  return impl_->linkPath;
}

void VirtualSensor::InjectFault(const Fault& fault) {
  std::lock_guard<std::mutex> lock(impl_->mu);
  if (fault.count != 0) impl_->faults.push_back(fault);
}

void VirtualSensor::ClearFaults() {
  std::lock_guard<std::mutex> lock(impl_->mu);
  impl_->faults.clear();
}

SensorState VirtualSensor::State() const {
  std::lock_guard<std::mutex> lock(impl_->mu);
  impl_->Simulate();
  return impl_->state;
}

void VirtualSensor::SetState(const SensorState& state) {
  std::lock_guard<std::mutex> lock(impl_->mu);
  impl_->state = state;
  if (impl_->state.hub.size() != kHubSize) impl_->state.hub.resize(kHubSize, 0);
  impl_->ResetSimulation();
}

bool VirtualSensor::Control(const std::string& line, std::string* error) {
  std::lock_guard<std::mutex> lock(impl_->mu);
  return ApplyControlLine(line, impl_->state, error);
}

void VirtualSensor::SetPacing(bool on) {
  std::lock_guard<std::mutex> lock(impl_->mu);
  impl_->pacing = on;
}

std::vector<uint8_t> VirtualSensor::ReceivedCommands() const {
  std::lock_guard<std::mutex> lock(impl_->mu);
  return impl_->received;
}

size_t VirtualSensor::RequestCount() const {
  std::lock_guard<std::mutex> lock(impl_->mu);
  return impl_->requests;
}

size_t VirtualSensor::IgnoredCount() const {
  std::lock_guard<std::mutex> lock(impl_->mu);
  return impl_->ignored;
}

std::vector<std::vector<uint8_t>> VirtualSensor::ReceivedRequests() const {
  std::lock_guard<std::mutex> lock(impl_->mu);
  return impl_->receivedFrames;
}

void VirtualSensor::ClearHistory() {
  std::lock_guard<std::mutex> lock(impl_->mu);
  impl_->received.clear();
  impl_->receivedFrames.clear();
}

size_t VirtualSensor::AnswerCount() const {
  std::lock_guard<std::mutex> lock(impl_->mu);
  return impl_->answers;
}

}  // namespace kl::vsensor
