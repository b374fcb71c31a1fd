// The service tool's device link: the serial port, the I/O thread that sends
// the one pending request and assembles the answer byte by byte, the request
// and answer frames with their CRC-8, the typed transactions of the sensor's
// command set and the device records they carry.
//
// The line is strictly request/answer: one request in flight, one answer back.
// Only the command thread runs transactions. The user-interface thread may
// reopen or close the port between transactions.
#pragma once

#include <array>
#include <atomic>
#include <bit>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace kl {

// ---------------------------------------------------------------------------
// Result codes

// The result of every transaction and every device operation. The numbers
// are shown to the user through the device status texts, so they never change.
enum LinkResult : int32_t {
  LINK_OK = 0,           // answer complete, checksum right, address and command match
  LINK_NOT_DONE = 1,     // acknowledgement status 1
  LINK_BAD_PARAM = 2,    // acknowledgement status 2 or higher
  LINK_CRC_ERROR = 3,    // checksum of a complete answer wrong
  LINK_BAD_LENGTH = 4,   // line went quiet inside an answer, or the buffer filled up
  LINK_BAD_ANSWER = 5,   // not '>', echo block sum wrong, or not the requested address/command
  LINK_NO_ANSWER = 6,    // nothing began within a 500 ms slice, or the answer ran out of time
  LINK_WRITE_ERROR = 7,  // the request could not be written in time
  LINK_PORT_ERROR = 8,   // no port open
  LINK_RECEIVING = 9,    // internal: an answer is arriving
};

// "LINK_NO_ANSWER" for 6; "LINK_?" for codes outside the table.
const char* UartResultName(int32_t code);

// ---------------------------------------------------------------------------
// Device commands (the command byte of a frame)

inline constexpr uint8_t SVC_SYNC = 0x06;
inline constexpr uint8_t SVC_SET_INTEGRATOR = 0x20;
inline constexpr uint8_t SVC_GET_INTEGRATOR = 0x21;
inline constexpr uint8_t SVC_GET_ECHO = 0x22;
inline constexpr uint8_t SVC_SET_KU = 0x24;
inline constexpr uint8_t SVC_GET_KU = 0x25;
inline constexpr uint8_t SVC_SET_FREQ = 0x26;
inline constexpr uint8_t SVC_GET_FREQ = 0x27;
inline constexpr uint8_t SVC_SET_PULSE = 0x28;
inline constexpr uint8_t SVC_GET_PULSE = 0x29;
inline constexpr uint8_t SVC_SET_ATTEN = 0x2A;
inline constexpr uint8_t SVC_GET_ATTEN = 0x2B;
inline constexpr uint8_t SVC_SET_FILTER = 0x2C;
inline constexpr uint8_t SVC_GET_FILTER = 0x2D;
inline constexpr uint8_t SVC_AFC = 0x30;
inline constexpr uint8_t SVC_SET_POST_FILTER = 0x32;
inline constexpr uint8_t SVC_GET_POST_FILTER = 0x33;
inline constexpr uint8_t SVC_SERVICE_MODE = 0x36;
inline constexpr uint8_t SVC_DISPLAY_TEST = 0x37;
inline constexpr uint8_t SVC_GET_TANK_HEIGHT = 0x38;
inline constexpr uint8_t SVC_SET_TANK_HEIGHT = 0x39;
inline constexpr uint8_t SVC_GET_PASSPORT = 0x41;
inline constexpr uint8_t SVC_GET_IDENT = 0x42;
inline constexpr uint8_t SVC_SET_PERIOD = 0x54;
inline constexpr uint8_t SVC_SET_FLAGS = 0x55;
inline constexpr uint8_t SVC_SET_ADDRESS = 0x56;
inline constexpr uint8_t SVC_SET_TARE_MODE = 0x57;
inline constexpr uint8_t SVC_GET_CONFIG = 0x60;
inline constexpr uint8_t SVC_READ_BLOCK = 0x6D;
inline constexpr uint8_t SVC_WRITE_BLOCK = 0x6E;
inline constexpr uint8_t SVC_GET_TANK_ID = 0x6F;
inline constexpr uint8_t SVC_SET_TANK_ID = 0x70;
inline constexpr uint8_t SVC_GET_MODE = 0x71;
inline constexpr uint8_t SVC_SET_AUTO = 0x72;
inline constexpr uint8_t SVC_GET_AUTO_STATE = 0x73;
inline constexpr uint8_t SVC_GET_MODEL = 0x80;
inline constexpr uint8_t SVC_SET_FUEL = 0x93;
inline constexpr uint8_t SVC_GET_FUEL = 0x94;

// SVC_GET_MODE / SVC_SET_AUTO values of the two automatic tuning steps.
inline constexpr int32_t SVC_AUTO_STEP1 = 134;
inline constexpr int32_t SVC_AUTO_STEP2 = 135;

// ---------------------------------------------------------------------------
// Frame constants

inline constexpr uint8_t kUartRequestMarker = 0x31;  // '1'
inline constexpr uint8_t kUartAnswerMarker = 0x3E;   // '>'
inline constexpr int32_t kUartBroadcast = 255;
inline constexpr size_t kUartBlockSize = 128;       // table block, echo block data
inline constexpr size_t kUartRxBufferSize = 37500;  // holds the largest echo (255 blocks)
inline constexpr size_t kUartTxBufferSize = 133;    // the block write frame
inline constexpr size_t kUartEchoBlockSize = 140;
inline constexpr size_t kUartEchoSampleBlocks = 249;  // blocks 1..249 become samples
// Receiver state while the line is idle (the last read saw silence).
inline constexpr int32_t kUartLineIdle = 6;
// Returned by the receiver step while the answer is not complete yet.
inline constexpr int kUartNeedMore = -1;

// The bit rates a search tries, fastest first.
inline constexpr std::array<int32_t, 7> kUartSearchRates = {115200, 57600, 38400, 19200, 9600, 4800, 2400};

// ---------------------------------------------------------------------------
// Current link settings, shared by the main window and the command engine.

struct LinkSettings {
  int32_t port = 1;      // COM port number (3 for COM3)
  int32_t baud = 19200;  // bit/s
  int32_t address = 1;   // 0..255, 255 = broadcast
};

// ---------------------------------------------------------------------------
// Device records

// The sensor's identity and output settings as the command engine holds them.
struct SettingsRecord {
  uint32_t Date = 0;    // bits 16-23 day-1, 8-15 month-1, 0-7 year in century
  uint32_t Serial = 0;  // 24 bits
  uint8_t Model = 0;
  uint8_t FirmwareVersion = 0;  // high nibble major, low nibble minor
  int32_t Address = 0;          // 0..255
  int32_t Period = 0;           // 0..255
  uint8_t Flags = 0;            // bit 0 periodic, 2-4 baud code, 5 answer-255, 7 resolution low bit
  uint8_t Flags2 = 0;           // bit 5 resolution high bit (read only)
  uint8_t FlagsRead = 0;        // Flags as last read; bits 1 and 6 are written back from it
  uint8_t Revision = 0;         // low 4 bits of the configuration byte
  int32_t PostFilter = 0;       // 0..8
};

// "DDMMYY" of a Date field.
std::string UartFormatDate(uint32_t date);
// Six-digit serial number.
std::string UartFormatSerial(uint32_t serial);
// Firmware version as the sensor's documentation writes it: 0x21 -> "2.10".
std::string UartFormatFirmware(uint8_t version);

// Baud code of the Flags field (bits 2-4): 1 = 2400 ... 7 = 115200; 0 when
// the code or the rate is not one of those.
int32_t UartBaudFromCode(int32_t code);
int32_t UartCodeFromBaud(int32_t baud);

struct FuelRecord {
  uint8_t FuelType = 0;  // 0 user-defined, 1 propane-butane, 2 petrol, 3 diesel
  float ThermalCoef = 0.0f;
  float SoundSpeed = 0.0f;
};

// The sensor carries the fuel numbers as the bit patterns of IEEE singles.
inline uint32_t UartFloatBits(float f) { return std::bit_cast<uint32_t>(f); }
inline float UartBitsFloat(uint32_t bits) { return std::bit_cast<float>(bits); }

// Values of the oscilloscope and tuning page that the engine sends.
struct TuningParams {
  int32_t Frequency = 0;    // kHz, 500..4000
  int32_t Filter = 0;       // kHz, 450..4000 by 50; 450 = wide band
  uint16_t KuWord = 0;      // low byte gain index, high byte maximum-gain index
  int32_t Attenuation = 0;  // 0 or 30
  int32_t Pulse = 0;        // tenths, 0..200
  uint32_t Integrator = 0;  // low 16 bits dead zone, high 16 bits threshold
  int32_t AutoStep = 0;     // 0, 134 or 135
  int32_t OscMode = 1;      // 1 envelope, 2 raw, 3 filtered
  int32_t AfcStart = 2000;
  int32_t AfcWidth = 1000;
  int32_t AfcStep = 20;
  uint32_t DisplayMask = 0;
  int32_t AutoState = 0;
};

// The 128 data bytes of echo block 0.
struct EchoHeader {
  static constexpr size_t kSize = kUartBlockSize;
  // Byte offsets of the 16-bit little-endian fields the tool uses.
  static constexpr size_t HdrFrequency = 2;
  static constexpr size_t HdrFilter = 6;
  static constexpr size_t HdrKu = 8;
  static constexpr size_t HdrAttenuation = 10;
  static constexpr size_t HdrPulse = 12;
  static constexpr size_t HdrError = 16;
  static constexpr size_t HdrPos = 18;
  static constexpr size_t HdrDiv = 22;
  static constexpr size_t HdrCorr = 28;
  static constexpr size_t HdrUncorr = 30;
  static constexpr size_t HdrFrame = 32;
  static constexpr size_t HdrTemperature = 42;  // signed, 1/256 degC
  static constexpr size_t HdrLevel = 62;        // 0.1 mm
  static constexpr size_t HdrNoLevel = 66;

  std::array<uint8_t, kSize> bytes{};

  // Offsets past the end read as 0.
  uint16_t U16(size_t offset) const {
    return offset + 1 < kSize ? static_cast<uint16_t>(bytes[offset] | (bytes[offset + 1] << 8)) : 0;
  }
  int16_t S16(size_t offset) const { return static_cast<int16_t>(U16(offset)); }

  uint16_t Frequency() const { return U16(HdrFrequency); }
  uint16_t Filter() const { return U16(HdrFilter); }
  uint16_t Ku() const { return U16(HdrKu); }
  uint16_t Attenuation() const { return U16(HdrAttenuation); }
  uint16_t Pulse() const { return U16(HdrPulse); }
  uint16_t Error() const { return U16(HdrError); }
  uint16_t Pos() const { return U16(HdrPos); }
  uint16_t Div() const { return U16(HdrDiv); }
  uint16_t Corr() const { return U16(HdrCorr); }
  uint16_t Uncorr() const { return U16(HdrUncorr); }
  uint16_t Frame() const { return U16(HdrFrame); }
  int16_t Temperature() const { return S16(HdrTemperature); }
  uint16_t Level() const { return U16(HdrLevel); }
  uint16_t NoLevel() const { return U16(HdrNoLevel); }
};

// Echo samples: blocks 1..249 of the echo answer, 64 signed samples each.
struct EchoSamples {
  static constexpr size_t kPerBlock = kUartBlockSize / 2;              // 64
  static constexpr size_t kCount = kUartEchoSampleBlocks * kPerBlock;  // 15 936
  static constexpr size_t kReserved = 16000;                           // 32 000 bytes
  std::array<int16_t, kReserved> samples{};
};

// The small values of the calibration page.
struct CalibrationValues {
  uint16_t SelectedTankID = 0;    // 1 = own calibrated tank, 2.. = preset tank types
  uint16_t CustomTankHeight = 0;  // 0.1 mm
  uint8_t TareMode = 0;           // 0 or 1
};

// ---------------------------------------------------------------------------
// Identification

// The model code as UartQuery(SVC_GET_MODEL) delivers it: the four answer
// bytes in line order, first byte lowest. Only "KL31" is supported.
inline constexpr uint32_t kUartModelKL31 =
    uint32_t('K') | (uint32_t('L') << 8) | (uint32_t('3') << 16) | (uint32_t('1') << 24);
bool UartIsSupportedModel(uint32_t modelCode);
bool UartIsSupportedFirmware(uint8_t version);
// The four model code bytes as text, '.' for bytes that do not print.
std::string UartFormatModelCode(uint32_t modelCode);

// ---------------------------------------------------------------------------
// COM port names

struct ComPortInfo {
  int number = 0;    // 5 for COM5
  std::string name;  // "COM5"
  std::string path;  // the device behind it, for a tooltip
};

// The ports folder: $KL31_PORTS_DIR, else $HOME/.kl31/ports, else /tmp/kl31-ports.
std::string UartPortsFolder();
// The device file of COM<number>; empty when the name resolves to nothing.
std::string UartResolvePort(int number);
// The system's own device file behind COM<number> (ttyS0-9, ttyUSB0-9 and
// ttyACM0-9 are COM1-30), whether or not it exists; empty for other numbers.
std::string UartSystemDeviceName(int number);
// The ports present, by number, each once.
std::vector<ComPortInfo> UartListPorts();

// ---------------------------------------------------------------------------
// Serial port

// Read time-out of one byte, by bit rate: the gap of silence that ends a frame.
int UartReadTimeoutMs(int32_t baud);

enum class PortRead { Byte, Silence, Failed };

// The port as the link uses it. The POSIX implementation works on any tty,
// pseudo-terminals included.
class SerialPort {
 public:
  virtual ~SerialPort() = default;
  // Opens COM<number> for exclusive use at the bit rate: 8 data bits, no
  // parity, 1 stop bit, raw, no flow control, DTR and RTS low, both queues
  // discarded. False when the port does not exist, is busy or not permitted.
  virtual bool Open(int number, int32_t baud) = 0;
  virtual void Close() = 0;
  // Drops what waits in both directions.
  virtual void Discard() = 0;
  // Writes the whole frame and returns once it has left for the line (its
  // line time at 10 bits a byte), or fails; gives up after timeoutMs.
  virtual bool Write(const uint8_t* data, size_t count, int timeoutMs) = 0;
  // One byte: at once when one waits, otherwise within the read time-out of
  // the bit rate. A port that has failed (hang-up) keeps answering Failed,
  // after the same wait, so a reader never spins.
  virtual PortRead ReadByte(uint8_t* byte) = 0;
  // Why the last Open failed (errno text), for diagnostics.
  virtual std::string LastError() const = 0;
  // Called from the transaction's thread while Write may run: the frame must
  // not leave for the line any more (what is still queued is dropped), and
  // Write fails. Discard clears the request again.
  virtual void AbandonWrite() {}
};

using SerialPortFactory = std::function<std::unique_ptr<SerialPort>()>;
std::unique_ptr<SerialPort> MakePosixSerialPort();

// ---------------------------------------------------------------------------
// Frames (pure functions; the I/O thread and the fuzz target use them)

uint8_t UartCrc8(size_t count, const uint8_t* bytes);

// The one pending request.
struct UartRequest {
  uint32_t command = 0;  // 0 = nothing pending
  int32_t address = 0;
  int32_t value = 0;
  int32_t value2 = 0;
  int32_t value3 = 0;
  std::array<uint8_t, kUartBlockSize> block{};
};

// Fields of the last accepted answer.
struct UartAnswerFields {
  int32_t command = 0;
  int32_t address = 0;
  int32_t value1 = 0, value2 = 0, value3 = 0, value4 = 0, value5 = 0, value6 = 0, value7 = 0;
  std::array<uint8_t, kUartBlockSize> block{};
};

struct UartAnswer : UartAnswerFields {
  // Copy of the whole receive buffer after an echo answer.
  std::vector<uint8_t> echo = std::vector<uint8_t>(kUartRxBufferSize);
};

// Builds the request frame into tx (kUartTxBufferSize bytes); returns its
// length, or 0 for a command byte without a request layout.
size_t UartBuildRequest(const UartRequest& request, uint8_t* tx);

// Complete length of the answer whose first bytes are given (count >= 4
// needed for an echo), 0 when the command byte has no answer layout.
size_t UartAnswerLength(uint8_t command, uint8_t echoBlocks);

// What the receiver does after a byte: rx holds count bytes (1..capacity).
// Returns kUartNeedMore, or the finishing code. *fields and *isEcho are
// written only for a good frame (LINK_OK, or an acknowledgement's folded
// status). Never reads rx beyond count.
int UartReceiverStep(const uint8_t* rx, size_t count, size_t capacity, UartAnswerFields* fields,
                     bool* isEcho);

// The acceptance check after a good frame.
inline bool UartAccepts(int32_t requestAddress, int32_t requestCommand, int32_t answerAddress,
                        int32_t answerCommand) {
  return (answerAddress == requestAddress || requestAddress == kUartBroadcast) &&
         answerCommand == requestCommand;
}

// ---------------------------------------------------------------------------
// The open link

// Manual-reset event.
class LinkEvent {
 public:
  void Set();
  void Reset();
  // True when set within the time.
  bool WaitFor(std::chrono::milliseconds timeout);

 private:
  std::mutex m_;
  std::condition_variable cv_;
  bool set_ = false;
};

// Everything the link owns between UartOpen and UartClose. Construct one and
// pass it to every Uart function; it closes itself when destroyed.
struct UartLink {
  UartLink() = default;
  explicit UartLink(SerialPortFactory f) : factory(std::move(f)) {}
  ~UartLink();
  UartLink(const UartLink&) = delete;
  UartLink& operator=(const UartLink&) = delete;

  SerialPortFactory factory = MakePosixSerialPort;

  // UartOpen and UartClose run one at a time.
  std::mutex control;
  std::unique_ptr<SerialPort> port;  // touched only by open/close and the I/O thread
  std::atomic<bool> isOpen{false};
  std::thread io;
  std::atomic<bool> stop{false};
  LinkEvent sentEvent;
  LinkEvent answerEvent;
  std::atomic<int32_t> baud{0};
  std::string openError;  // why the last UartOpen failed (guarded by control)

  // The link lock: request, answer and link state below.
  std::mutex lock;
  UartRequest request;
  UartAnswer answer;
  int32_t result = LINK_NO_ANSWER;
  int32_t receiverState = 0;
  int32_t sendResult = 0;
  uint32_t sendWaitMs = 0;
  uint32_t answerWaitMs = 0;
  // Code of the answer whose end set the answer event. Kept apart from
  // result, which the first byte of a following answer already overwrites.
  int32_t answerCode = LINK_NO_ANSWER;
  // An answer has ended since the request was taken. Until the next request
  // is taken, answerCode and `answer` stay those of that first answer.
  bool answered = true;
  // Each transaction has a ticket. A write that outlasts its transaction's
  // send wait still ends in a sent event and maybe an answer later; the
  // tickets keep the next transaction from taking either as its own.
  uint64_t ticket = 0;           // the current transaction's
  uint64_t takenTicket = 0;      // the request the sender took last
  uint64_t sentTicket = 0;       // the request whose write ended last (sendResult)
  uint64_t answerTicket = 0;     // the request answerCode and `answer` belong to
  uint64_t abandonedTicket = 0;  // given up while its write ran: not to be written

  // The I/O thread's own buffers.
  std::vector<uint8_t> rx = std::vector<uint8_t>(kUartRxBufferSize);
  std::array<uint8_t, kUartTxBufferSize> tx{};
  // The receiver's copy of the answer fields; handed to `answer` under the
  // link lock when a frame is good.
  UartAnswerFields rxFields;
};

// 0 on success, 1 on failure (no such port, busy, not permitted, thread).
// Closes an open port first, so reopening at another rate is one call.
int UartOpen(UartLink& link, int port, int32_t baud);
// Ends the I/O thread and closes the port. Always 0; safe when closed.
int UartClose(UartLink& link);
bool UartIsOpen(const UartLink& link);
// Why the last UartOpen failed, for diagnostics ("" after a good open).
std::string UartLastOpenError(UartLink& link);

// The transaction steps. Typed functions below use them.
LinkResult UartBeginTransaction(UartLink& link);
LinkResult UartAwaitTransaction(UartLink& link, uint32_t requestLength, uint32_t answerLength);

// The I/O thread's two steps, one loop turn each (exposed for tests).
void UartSenderStep(UartLink& link);
void UartReceiverRun(UartLink& link);

// ---------------------------------------------------------------------------
// Typed transactions. Each returns a LinkResult; outputs (which may be null)
// are left alone on failure, except that after LINK_BAD_ANSWER for a good
// frame from the wrong address or command they hold that frame's values.

// Any command answered by value1.
LinkResult UartQuery(UartLink& link, uint8_t command, int32_t address, uint32_t* value1);
// Any write command answered by an acknowledgement.
LinkResult UartCommand(UartLink& link, uint8_t command, int32_t address, int32_t value);
// SVC_GET_IDENT to everybody; the address of the first answer.
LinkResult UartSearch(UartLink& link, int32_t* foundAddress);
LinkResult UartGetPassport(UartLink& link, int32_t address, uint32_t* date, uint32_t* serial, uint32_t* model,
                           uint32_t* firmware, uint32_t* deviceAddress, uint32_t* period, uint32_t* flags);
LinkResult UartGetIdent(UartLink& link, int32_t address, uint32_t* date, uint32_t* serial, uint32_t* model,
                        uint32_t* firmware);
LinkResult UartSync(UartLink& link, int32_t address, uint32_t* value1, uint32_t* value2, uint32_t* value3);
// value1 = configuration byte (low nibble = Revision), value2 = Flags2.
LinkResult UartGetConfig(UartLink& link, int32_t address, uint32_t* value1, uint32_t* value2,
                         uint32_t* value3, uint32_t* value4);
// Copies block 0 to the header and blocks 1..249 to the samples, whatever
// number of blocks the answer had: blocks it did not carry keep what an
// earlier, longer echo left in the receive buffer. *blocks = N of the answer.
LinkResult UartGetEcho(UartLink& link, int32_t address, uint8_t mode, EchoHeader* header,
                       EchoSamples* samples, int32_t* blocks = nullptr);
LinkResult UartAfcControl(UartLink& link, int32_t address, int32_t on, int32_t step);
LinkResult UartReadBlock(UartLink& link, int32_t address, uint8_t index, uint8_t block[kUartBlockSize]);
LinkResult UartWriteBlock(UartLink& link, int32_t address, uint8_t index,
                          const uint8_t block[kUartBlockSize]);
LinkResult UartGetFuel(UartLink& link, int32_t address, uint32_t* fuelType, uint32_t* coefBits,
                       uint32_t* speedBits);
LinkResult UartSetFuel(UartLink& link, int32_t address, int32_t fuelType, uint32_t coefBits,
                       uint32_t speedBits);

}  // namespace kl
