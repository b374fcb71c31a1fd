// The loader's own link to a Varon 2.0 device: port, frames, transactions and
// the five device commands. Nothing here is shared with the service tool.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "ldr_event.h"

// Result codes. The absolute value of a failure is the id of its message text.
enum : int {
  LDR_OK = 0,
  LDR_ERR_UNKNOWN = -2001,
  LDR_ERR_NOT_FOUND = -2005,
  LDR_ERR_EXCHANGE = -2011,
  LDR_ERR_PORT = -2016,
  LDR_ERR_FILE_OPEN = -2019,
  LDR_ERR_FILE_READ = -2020,
  LDR_ERR_NOT_MODULE = -2021,
  LDR_ERR_FILE_CREATE = -2025,
  LDR_ERR_FILE_WRITE = -2026,
  LDR_ERR_DEV_BAD_BLOCK = -2101,
  LDR_ERR_DEV_BAD_COMMAND = -2102,
  LDR_ERR_DEV_WRITE = -2103,
  LDR_ERR_DEV_MODULE_DAMAGED = -2104,
  LDR_ERR_DEV_NOT_VALID_MODULE = -2105,
  LDR_ERR_DEV_UNKNOWN = -2106,
  LDR_ERR_DEV_TEMPERATURE = -2107,
  LDR_ERR_DEV_OTHER_SERIAL = -2108,
  LDR_ERR_STOPPED = -2109,
};

// Device command codes (request byte 2).
enum : uint8_t {
  CMD_CONNECT = 0x10,
  CMD_GET_INFO = 0x12,
  CMD_WRITE_BLOCK = 0x13,
  CMD_ACTIVATE = 0x14,
  CMD_READ_BLOCK = 0x15,
};

inline constexpr uint8_t LDR_FRAME_START = 0x02;
inline constexpr uint8_t LDR_FRAME_END = 0x03;
inline constexpr uint8_t LDR_FRAME_ESC = 0x10;
inline constexpr uint8_t LDR_STATUS_DONE = 0x06;

inline constexpr size_t LDR_PAYLOAD_SIZE = 1035;
inline constexpr size_t LDR_FRAME_SIZE = 2074;
inline constexpr size_t LDR_RECORD_SIZE = 1030;
inline constexpr int LDR_ATTEMPTS = 4;
inline constexpr int LDR_REPLY_WAIT_MS = 250;
inline constexpr int LDR_WRITE_WAIT_MS = 250;
inline constexpr unsigned LDR_BAUD = 57600;
inline constexpr int LDR_INFO_SIZE = 25;

// All link state. The program keeps one for its whole run (the sequence
// number must survive operations and port openings); tests make their own.
struct LdrLink {
  int fd = -1;
  // Set by the dialog to hand over a command; while an operation runs it
  // means Stop or Exit. The link only tests it and never resets it.
  LdrEvent* command_event = nullptr;
  uint8_t sequence = 0;
  uint8_t payload[LDR_PAYLOAD_SIZE] = {};
  uint8_t tx[LDR_FRAME_SIZE] = {};
  uint8_t rx[LDR_FRAME_SIZE] = {};
  // Bytes that arrived after a frame end in the same read; they belong to
  // the next frame on the line (a reply right behind a stale one).
  uint8_t carry[LDR_FRAME_SIZE] = {};
  size_t carry_length = 0;
  // Monotonic time (ns) when the last written bytes have left the line.
  int64_t tx_done_ns = 0;
};

// COM name ("COM7") to device file, following doc/com-ports.md. Empty when the
// name is not a COM name.
std::string ldr_com_device_path(const std::string& com_name);
// Folder that holds the COM<n> links ($KL31_PORTS_DIR, else ~/.kl31/ports).
std::string ldr_ports_dir();
// The system's own device file of COM<n> (ttyS0-9, ttyUSB0-9, ttyACM0-9 are
// COM1-30); empty for numbers without one. Whether it exists is not asked.
std::string ldr_system_device(int n);
// COM<n> names a port that is there: a link whose target exists, or an
// existing system device (a ttyS only with a UART behind it). No open.
bool ldr_port_present(int n);

// Port layer.
int ldr_probe_port(const std::string& name);
int ldr_open_port(LdrLink& link, const std::string& name);
int ldr_close_port(LdrLink& link);
int ldr_port_purge(LdrLink& link);
int ldr_port_write(LdrLink& link, const uint8_t* bytes, size_t length);
int ldr_port_read(LdrLink& link, uint8_t* buffer, size_t max);

// Frame layer.
size_t ldr_encode_frame(LdrLink& link, size_t payload_length);
// Decodes link.rx[0 .. received_length) into link.payload. Gives 0 and the
// reply payload length in *payload_length, or LDR_ERR_EXCHANGE.
int ldr_decode_frame(LdrLink& link, size_t received_length, size_t* payload_length);

// Device error code (reply byte 4) to a result code.
int ldr_device_error(uint8_t device_code);

// One request/reply exchange with up to four attempts. The caller has filled
// the payload (sequence, address, command, data). Gives the reply payload
// length or a failure code; the sequence number advances in every case.
int ldr_transact(LdrLink& link, size_t request_length, uint8_t address);

// Builds the three request header bytes in the payload buffer.
void ldr_begin_request(LdrLink& link, uint8_t address, uint8_t command);

// Fields of the device information record.
struct LdrDeviceInfo {
  char type[5] = {};
  uint16_t boot_version = 0xFFFF;
  uint32_t boot_date = 0xFFFFFFFF;
  uint16_t app_version = 0xFFFF;
  uint32_t app_date = 0xFFFFFFFF;
  uint16_t required_boot_version = 0xFFFF;
  uint32_t serial = 0xFFFFFF;
};
LdrDeviceInfo ldr_parse_device_info(const uint8_t* record);

int ldr_activate(LdrLink& link, uint8_t address);
