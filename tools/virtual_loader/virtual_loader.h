// A virtual Varon 2.0 device on a pseudo-terminal, for the firmware loader.
// It is linked into the ports folder as a COM name, speaks the framed loader
// protocol and can misbehave on request. Usable in-process (tests, benchmark)
// and as the program virtual_loader.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace kl::comlink {
class ComLink;
}

namespace vloader {

// Milliseconds since some start. Tests drive a manual clock to make a device
// "start answering after a while" without sleeping.
class Clock {
 public:
  virtual ~Clock() = default;
  virtual int64_t now_ms() const = 0;
};

class SteadyClock : public Clock {
 public:
  int64_t now_ms() const override;
};

class ManualClock : public Clock {
 public:
  int64_t now_ms() const override { return now_.load(); }
  void advance(int64_t ms) { now_.fetch_add(ms); }
  void set(int64_t ms) { now_.store(ms); }

 private:
  std::atomic<int64_t> now_{0};
};

// What the device reports about itself.
struct Identity {
  std::string type = "K31A";
  uint16_t boot_version = 0x0102;
  uint32_t boot_date = 0x15062018;  // BCD day, month, year
  uint16_t app_version = 0x0203;
  uint32_t app_date = 0x01092021;
  uint16_t required_boot_version = 0x0102;
  uint32_t serial = 1234;  // 0xFFFFFF: not set
};

inline constexpr uint32_t kNoSerial = 0xFFFFFF;
inline constexpr size_t kRecordSize = 1030;

// Misbehaviour. Counters apply to the next N replies (or requests) and count
// down; zero means behave.
struct Faults {
  int no_reply = 0;       // swallow the request
  int stale_first = 0;    // send a reply with an earlier sequence number first
  int other_address = 0;  // reply for another address
  int bad_checksum = 0;   // reply with a wrong checksum
  int bad_escape = 0;     // reply with an invalid escape (0x10 0x05)
  int error_count = 0;    // reply with status "error" and error_code
  uint8_t error_code = 0xFF;
  int error_command = -1;           // only for this command; -1: any
  std::set<uint8_t> mute_commands;  // never answer these
  int64_t silent_until_ms = 0;      // answer nothing before this clock time
  int vanish_after_records = -1;    // close the line once this many records arrived
  int drop_permille = 0;            // random no-reply, from the seeded source
};

struct Request {
  uint8_t sequence;
  uint8_t address;
  uint8_t command;
  size_t length;
};

struct Config {
  std::string com_name = "COM0";
  std::string ports_dir;  // empty: $KL31_PORTS_DIR, else ~/.kl31/ports
  uint32_t seed = 1;
  bool paced = false;   // carry bytes at 57600 bit/s in both directions
  uint8_t address = 1;  // the device also answers the broadcast address 255
  Identity identity;
  std::shared_ptr<Clock> clock;  // null: steady clock
};

class Device {
 public:
  explicit Device(Config config);
  ~Device();
  Device(const Device&) = delete;
  Device& operator=(const Device&) = delete;

  // Creates the pseudo-terminal and the COM link and starts answering.
  bool start(std::string* error = nullptr);
  void stop();

  const std::string& slave_path() const { return slave_path_; }
  const std::string& link_path() const { return link_path_; }

  void set_faults(const Faults& f);
  void edit_faults(const std::function<void(Faults&)>& edit);
  void set_identity(const Identity& id);

  // Records received by CMD_WRITE_BLOCK, in order.
  std::vector<std::vector<uint8_t>> records() const;
  size_t record_count() const;
  std::vector<Request> requests() const;
  size_t request_count(int command = -1) const;
  bool activated() const;
  // Memory served by CMD_READ_BLOCK: 0x2000 and 0x2800 ... 0x3C00.
  std::vector<uint8_t> memory_block(uint32_t address) const;
  void set_memory_block(uint32_t address, const std::vector<uint8_t>& record);
  bool vanished() const { return vanished_.load(); }

  // Device side of the frame layer, independent of the loader's own.
  static std::vector<uint8_t> encode(const std::vector<uint8_t>& payload, uint8_t checksum_error = 0);
  static bool decode(const std::vector<uint8_t>& frame, std::vector<uint8_t>* payload);

 private:
  void run();
  void handle_frame(const std::vector<uint8_t>& frame);
  std::vector<uint8_t> info_record() const;
  void send(const std::vector<uint8_t>& bytes);
  void vanish();

  Config config_;
  std::shared_ptr<Clock> clock_;
  std::string slave_path_;
  std::string link_path_;
  std::unique_ptr<kl::comlink::ComLink> com_link_;  // the COM name, held while the device runs
  int master_ = -1;
  int slave_hold_ = -1;
  int stop_fd_ = -1;
  std::thread thread_;
  std::atomic<bool> vanished_{false};
  int64_t line_free_ns_ = 0;  // device thread only

  mutable std::mutex mutex_;
  Faults faults_;
  Identity identity_;
  std::vector<std::vector<uint8_t>> records_;
  std::vector<Request> requests_;
  std::map<uint32_t, std::vector<uint8_t>> memory_;
  bool activated_ = false;
  std::mt19937 random_;
};

// Folder of helper programs for tests: $KL31_TOOLS_DIR, else the folder of
// the running executable.
std::string tools_dir();

}  // namespace vloader
