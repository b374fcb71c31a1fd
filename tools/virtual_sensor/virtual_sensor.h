// The virtual KL31 sensor: a pseudo-terminal that answers the sensor's service
// protocol from one device state. It is used in-process by the link, engine
// and window tests and as the `virtual_sensor` program by anyone without a
// sensor at hand.
//
// The frame and checksum code here is written independently of the service
// tool's link, so that a misreading of the protocol in one of them shows up
// as a test failure instead of being shared silently.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace kl::vsensor {

// ---- protocol constants (sensor side) ----------------------------------

inline constexpr uint8_t kRequestMarker = 0x31;  // '1'
inline constexpr uint8_t kAnswerMarker = 0x3E;   // '>'
inline constexpr uint8_t kBroadcast = 255;
inline constexpr size_t kHubSize = 65536;  // bytes of the preset tank table store
inline constexpr size_t kBlockSize = 128;
inline constexpr size_t kEchoBlockSize = 140;
inline constexpr uint16_t kHubVersion = 0x0301;

// Command bytes the sensor understands.
namespace cmd {
inline constexpr uint8_t kSync = 0x06;
inline constexpr uint8_t kSetIntegrator = 0x20;
inline constexpr uint8_t kGetIntegrator = 0x21;
inline constexpr uint8_t kGetEcho = 0x22;
inline constexpr uint8_t kSetKu = 0x24;
inline constexpr uint8_t kGetKu = 0x25;
inline constexpr uint8_t kSetFreq = 0x26;
inline constexpr uint8_t kGetFreq = 0x27;
inline constexpr uint8_t kSetPulse = 0x28;
inline constexpr uint8_t kGetPulse = 0x29;
inline constexpr uint8_t kSetAtten = 0x2A;
inline constexpr uint8_t kGetAtten = 0x2B;
inline constexpr uint8_t kSetFilter = 0x2C;
inline constexpr uint8_t kGetFilter = 0x2D;
inline constexpr uint8_t kAfc = 0x30;
inline constexpr uint8_t kSetPostFilter = 0x32;
inline constexpr uint8_t kGetPostFilter = 0x33;
inline constexpr uint8_t kServiceMode = 0x36;
inline constexpr uint8_t kDisplayTest = 0x37;
inline constexpr uint8_t kGetTankHeight = 0x38;
inline constexpr uint8_t kSetTankHeight = 0x39;
inline constexpr uint8_t kGetPassport = 0x41;
inline constexpr uint8_t kGetIdent = 0x42;
inline constexpr uint8_t kSetPeriod = 0x54;
inline constexpr uint8_t kSetFlags = 0x55;
inline constexpr uint8_t kSetAddress = 0x56;
inline constexpr uint8_t kSetTareMode = 0x57;
inline constexpr uint8_t kGetConfig = 0x60;
inline constexpr uint8_t kReadBlock = 0x6D;
inline constexpr uint8_t kWriteBlock = 0x6E;
inline constexpr uint8_t kGetTankId = 0x6F;
inline constexpr uint8_t kSetTankId = 0x70;
inline constexpr uint8_t kGetMode = 0x71;
inline constexpr uint8_t kSetAuto = 0x72;
inline constexpr uint8_t kGetAutoState = 0x73;
inline constexpr uint8_t kGetModel = 0x80;
inline constexpr uint8_t kSetFuel = 0x93;
inline constexpr uint8_t kGetFuel = 0x94;
}  // namespace cmd

inline constexpr uint8_t kAutoStep1 = 134;
inline constexpr uint8_t kAutoStep2 = 135;

// CRC-8/MAXIM (reflected 0x31, init 0, no final xor); check value 0xA1.
uint8_t Crc8(const uint8_t* data, size_t count);

// Length of a request frame for a command byte, or 0 when the sensor does not
// know the command (it cannot tell where such a request ends).
size_t RequestLength(uint8_t command);

// True for the setting commands the sensor answers with a bare 5-byte
// acknowledgement.
bool IsAcknowledgement(uint8_t command);

// Length of the sensor's answer frame for a command byte (echo: 0, it depends
// on the mode); 0 for commands without an answer.
size_t AnswerLength(uint8_t command);

// Request frame with the checksum appended: marker, address, command, data.
std::vector<uint8_t> BuildRequest(uint8_t address, uint8_t command, const std::vector<uint8_t>& data = {});

// Baud code of Flags bits 2-4 (1 = 2400 ... 7 = 115200); 0 / -1 when unknown.
int BaudFromCode(int code);
int CodeFromBaud(int baud);

// ---- preset tank table image ------------------------------------------

// 16-bit sum of the image words (Size / 2 words) is 0 when sealed.
uint16_t HubWordSum(const std::vector<uint8_t>& image);
void HubSealImage(std::vector<uint8_t>& image);  // fresh checksum word
bool HubImageValid(const std::vector<uint8_t>& image);
// The image a sensor leaves the factory with: version 0x0301, records of
// tank 0, the custom tank 1 (a short table, 50 slots) and preset tanks 2..4;
// 65536 bytes, the rest zero.
std::vector<uint8_t> DefaultHubImage();

// ---- device state -------------------------------------------------------

// One consistent device state. Defaults describe a plain KL31 sensor at
// address 1, 19200 bit/s, firmware version 9.
struct SensorState {
  // identity and output settings
  uint8_t address = 1;
  int32_t baud = 19200;                                     // the line rate it listens at now
  std::array<uint8_t, 4> modelCode = {'K', 'L', '3', '1'};  // in line order
  uint32_t date = (14u << 16) | (2u << 8) | 23u;            // 15.03.23 (day-1, month-1, year)
  uint32_t serial = 123456;                                 // 24 bits
  uint8_t model = 31;
  uint8_t firmware = 0x09;
  uint8_t period = 0;
  uint8_t flags = 4u << 2;    // baud code 4 (19200), broadcast answers carry 255
  uint8_t configByte = 0x03;  // low 4 bits: hardware revision
  uint8_t flags2 = 0;
  bool serviceMode = false;  // set by SVC_SERVICE_MODE (line at 115200)

  // fuel
  uint8_t fuelType = 3;  // diesel
  float thermalCoef = 0.00083f;
  float soundSpeed = 1390.0f;
  uint8_t postFilter = 0;

  // ultrasonic channel
  uint16_t frequency = 1000;                  // kHz
  uint16_t filter = 450;                      // kHz, 450 = wide band
  uint16_t kuWord = (25u << 8) | 10u;         // gain 10, maximum unlimited
  uint8_t pulse = 50;                         // tenths
  uint8_t attenuation = 0;                    // 0 or 30
  uint32_t integrator = (300u << 16) | 100u;  // threshold << 16 | dead zone
  uint16_t resonance = 1050;                  // kHz where the transducer answers best

  // automatic tuning and frequency sweep
  uint8_t mode = 0;           // SVC_GET_MODE answer: 134/135 while a step runs
  int32_t autoState = 0;      // SVC_GET_AUTO_STATE answer
  int32_t autoStepMs = 4000;  // how long a tuning step runs on the sensor clock
  int32_t autoFailCode = 0;   // non-zero: tuning steps fail with this code
  bool afcOn = false;
  uint16_t afcStep = 20;  // kHz per echo while the sweep runs

  // display and calibration
  uint32_t displayMask = 0;
  // Every display-test mask received, oldest first (the latest
  // kDisplayMaskLimit), so a test can check the walk.
  std::vector<uint32_t> displayMasks;
  static constexpr size_t kDisplayMaskLimit = 4096;
  uint16_t tankId = 1;
  uint16_t customTankHeight = 6000;  // 0.1 mm
  uint8_t tareMode = 0;

  // measurement
  uint16_t level = 3500;           // 0.1 mm
  int16_t temperature = 21 * 256;  // 1/256 degC
  int32_t levelDrift = 0;          // 0.1 mm per second of sensor clock; bounces at 0 / tank height
  uint16_t echoError = 0;          // HdrError
  uint16_t noLevel = 0;            // HdrNoLevel: non-zero hides the echo

  // The virtual tank. When on, the level follows the litres in it through
  // the tank's shape (a horizontal cylinder), and below the dead zone the
  // sensor reports no level; `level` and `noLevel` are then its output.
  bool tankOn = false;
  float tankLitres = 0.0f;
  float tankDiameter = 600.0f;  // mm
  float tankLength = 1000.0f;   // mm
  float tankDeadZone = 20.0f;   // mm of fuel below which there is no echo

  std::vector<uint8_t> hub = DefaultHubImage();  // kHubSize bytes
};

// Reads "key = value" lines ('#' starts a comment) into `state`, keeping the
// fields the file does not name. Keys are listed in README.md. A `baud`
// without `flags` also sets the baud code of `flags`.
bool LoadStateFile(const std::string& path, SensorState& state, std::string* error);
// Applies one "key=value" setting (the same keys as the file).
bool ApplySetting(const std::string& key, const std::string& value, SensorState& state, std::string* error);

// ---- virtual tank --------------------------------------------------------

// Litres in the tank when the fuel stands `mm` high, and the full tank.
double TankLitresAt(const SensorState& s, double mm);
double TankCapacity(const SensorState& s);
// The fuel's level in mm for the tank's litres (clamped to empty and full).
double TankLevelMm(const SensorState& s);
// Sets `level` (0.1 mm) and `noLevel` from the tank when it is on.
void TankUpdate(SensorState& s);

// One line of the control channel, applied to `state`:
//   pour L       add L litres (switches the tank on)
//   drain L      take L litres out (not below empty)
//   litres L     set the content
//   set key=value  any state-file setting
// False, with a reason, for anything else; the state is then unchanged.
bool ApplyControlLine(const std::string& line, SensorState& state, std::string* error);

// ---- faults -------------------------------------------------------------

enum class FaultKind {
  NoAnswer,        // param 0: request lost (not carried out); 1: carried out, answer lost
  Delay,           // answer starts after param ms
  BadCrc,          // last byte wrong (not echo answers)
  BadEchoSum,      // one block sum wrong (echo answers only)
  BadMarker,       // first byte not '>' (param: the byte, 0 = '<')
  CutShort,        // only the first param bytes are sent (0 = 3)
  WrongAddress,    // answer from another address (param, 0 = own + 1), valid checksum
  UnknownCommand,  // command byte replaced (param, 0 = 0x7F), valid checksum
  AckStatus,       // acknowledgements only: status param (1, 2, 0xE0); not carried out
  DoubleAnswer,    // the answer twice, back to back
};

struct Fault {
  FaultKind kind = FaultKind::NoAnswer;
  int command = -1;  // command byte it applies to, -1 = any
  int count = 1;     // for the next N matching answers, < 0 = for ever
  int param = 0;
};

// "kind:cmd:count:param" (cmd and param decimal or 0x hex, cmd may be "any";
// trailing fields may be left out). Kinds: none, delay, crc, echosum, marker,
// cut, address, command, status, double.
bool ParseFault(const std::string& text, Fault& fault, std::string* error);

// ---- clock --------------------------------------------------------------

// The sensor's sense of time for slow processes (tuning steps, level drift).
// Line timing (gaps, pacing) always uses the real clock.
class Clock {
 public:
  virtual ~Clock() = default;
  virtual int64_t NowMs() const = 0;
};

class SteadyClock final : public Clock {
 public:
  int64_t NowMs() const override;
};

// A clock a test moves by hand.
class ManualClock final : public Clock {
 public:
  int64_t NowMs() const override { return now_.load(); }
  void Advance(int64_t ms) { now_.fetch_add(ms); }
  void Set(int64_t ms) { now_.store(ms); }

 private:
  std::atomic<int64_t> now_{0};
};

// ---- the sensor ---------------------------------------------------------

class VirtualSensor {
 public:
  explicit VirtualSensor(SensorState initial = {}, uint64_t seed = 1, std::shared_ptr<Clock> clock = nullptr);
  ~VirtualSensor();  // stops, removes the link
  VirtualSensor(const VirtualSensor&) = delete;
  VirtualSensor& operator=(const VirtualSensor&) = delete;

  // Creates the pseudo-terminal, links it as COM<n> in the ports folder and
  // starts answering. False (with a reason) when the link cannot be made.
  bool Start(int comNumber, std::string* error);
  void Stop();  // ends the thread (bounded), removes the link
  bool Running() const;

  std::string PortName() const;   // "COM<n>"
  std::string SlavePath() const;  // /dev/pts/N
  std::string LinkPath() const;   // <ports folder>/COM<n>

  void InjectFault(const Fault& fault);
  void ClearFaults();

  SensorState State() const;  // snapshot
  void SetState(const SensorState& state);
  void SetPacing(bool on);  // answer bytes paced at 10 bits a byte
  // A control line (ApplyControlLine) applied while the sensor runs.
  bool Control(const std::string& line, std::string* error);

  // Command bytes of accepted requests (right speed, address and checksum), in order.
  std::vector<uint8_t> ReceivedCommands() const;
  size_t RequestCount() const;  // accepted requests
  // Complete requests seen but ignored: wrong line speed, another address,
  // wrong checksum.
  size_t IgnoredCount() const;
  size_t AnswerCount() const;  // answers written (a double answer counts twice)

  // Whole frames of accepted requests, in order (the same requests as
  // ReceivedCommands). Both histories keep the latest kHistoryLimit entries,
  // so a sensor left running for days does not grow without bound.
  std::vector<std::vector<uint8_t>> ReceivedRequests() const;
  void ClearHistory();  // forgets both histories; the counters keep counting
  static constexpr size_t kHistoryLimit = 65536;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// The ports folder: $KL31_PORTS_DIR, else $HOME/.kl31/ports, else /tmp/kl31-ports.
std::string PortsFolder();

}  // namespace kl::vsensor
