// Frame building and answer recognition. Pure functions over byte buffers:
// the I/O thread drives them byte by byte, and the fuzz target does the same
// with arbitrary input, so nothing here may read past the bytes received.
#include <cstdio>
#include <cstring>

#include "Unit_uart.h"

namespace kl {

uint8_t UartCrc8(size_t count, const uint8_t* bytes) {
  // Dallas/Maxim 1-Wire CRC, reflected polynomial 0x8C, initial 0.
  uint8_t crc = 0;
  for (size_t i = 0; i < count; ++i) {
    uint8_t b = bytes[i];
    for (int bit = 0; bit < 8; ++bit) {
      const bool mix = ((crc ^ b) & 1u) != 0;
      crc = static_cast<uint8_t>(crc >> 1);
      if (mix) crc ^= 0x8C;
      b = static_cast<uint8_t>(b >> 1);
    }
  }
  return crc;
}

namespace {

void Put16(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
void Put32(uint8_t* p, uint32_t v) {
  Put16(p, v);
  Put16(p + 2, v >> 16);
}
uint32_t Get16(const uint8_t* p) { return uint32_t(p[0]) | (uint32_t(p[1]) << 8); }
uint32_t Get24(const uint8_t* p) { return Get16(p) | (uint32_t(p[2]) << 16); }
uint32_t Get32(const uint8_t* p) { return Get24(p) | (uint32_t(p[3]) << 24); }
int32_t S(uint32_t v) { return static_cast<int32_t>(v); }

// Request frame length by command byte; 0 = the tool never sends it.
size_t RequestLength(uint8_t command) {
  switch (command) {
    case 0x06:
    case 0x21:
    case 0x25:
    case 0x27:
    case 0x29:
    case 0x2B:
    case 0x2D:
    case 0x33:
    case 0x36:
    case 0x38:
    case 0x41:
    case 0x42:
    case 0x60:
    case 0x6F:
    case 0x71:
    case 0x73:
    case 0x80:
    case 0x94:
      return 4;
    case 0x22:
    case 0x28:
    case 0x2A:
    case 0x32:
    case 0x54:
    case 0x55:
    case 0x56:
    case 0x57:
    case 0x6D:
    case 0x72:
      return 5;
    case 0x24:
    case 0x26:
    case 0x2C:
    case 0x39:
    case 0x70:
      return 6;
    case 0x30:
      return 7;
    case 0x20:
    case 0x37:
      return 8;
    case 0x93:
      return 13;
    case 0x6E:
      return 133;
    default:
      return 0;
  }
}

bool IsAcknowledgement(uint8_t command) {
  switch (command) {
    case 0x20:
    case 0x24:
    case 0x26:
    case 0x28:
    case 0x2A:
    case 0x2C:
    case 0x2E:
    case 0x30:
    case 0x32:
    case 0x36:
    case 0x37:
    case 0x39:
    case 0x43:
    case 0x54:
    case 0x55:
    case 0x56:
    case 0x57:
    case 0x5F:
    case 0x6E:
    case 0x70:
    case 0x72:
    case 0x93:
      return true;
    default:
      return false;
  }
}

// Length of a checksummed answer; 0 = no layout (the echo is handled apart).
size_t PlainAnswerLength(uint8_t command) {
  if (IsAcknowledgement(command)) return 5;
  switch (command) {
    case 0x29:
    case 0x2B:
    case 0x33:
    case 0x71:
      return 5;
    case 0x25:
    case 0x27:
    case 0x2D:
    case 0x2F:
    case 0x38:
    case 0x6F:
      return 6;
    case 0x31:
      return 7;
    case 0x21:
    case 0x73:
    case 0x80:
      return 8;
    case 0x06:
    case 0x74:
      return 9;
    case 0x42:
    case 0x51:
    case 0x60:
    case 0x84:
      return 12;
    case 0x94:
      return 13;
    case 0x41:
      return 22;
    case 0x6D:
      return 132;
    default:
      return 0;
  }
}

// Takes the data of a complete, checked frame over; returns the finish code.
int TakeFields(const uint8_t* f, UartAnswerFields* a) {
  const uint8_t command = f[2];
  a->address = f[1];
  a->command = command;
  if (IsAcknowledgement(command)) return f[3] > 2 ? 2 : f[3];
  switch (command) {
    case 0x29:
    case 0x2B:
    case 0x33:
    case 0x71:
      a->value1 = f[3];
      break;
    case 0x25:
    case 0x27:
    case 0x2D:
    case 0x2F:
    case 0x38:
    case 0x6F:
      a->value1 = S(Get16(f + 3));
      break;
    case 0x31:
      a->value1 = f[3];
      a->value2 = S(Get16(f + 4));
      break;
    case 0x21:
    case 0x73:
    case 0x80:
      a->value1 = S(Get32(f + 3));
      break;
    case 0x06:
    case 0x74:
      a->value1 = f[3];
      a->value2 = S(Get16(f + 4));
      a->value3 = S(Get16(f + 6));
      break;
    case 0x42:
      a->value1 = S(Get24(f + 3));
      a->value2 = S(Get24(f + 6));
      a->value3 = f[9];
      a->value4 = f[10];
      break;
    case 0x51:
      a->value1 = S(Get16(f + 6));
      break;
    case 0x60:
      a->value1 = f[3];
      a->value2 = f[4];
      a->value3 = f[9];
      a->value4 = f[10];
      break;
    case 0x84:
      a->value1 = S(Get32(f + 3));
      a->value2 = S(Get32(f + 7));
      break;
    case 0x94:
      a->value1 = f[3];
      a->value2 = S(Get32(f + 4));
      a->value3 = S(Get32(f + 8));
      break;
    case 0x41:
      a->value1 = S(Get24(f + 3));
      a->value2 = S(Get24(f + 6));
      a->value3 = f[9];
      a->value4 = f[10];
      a->value5 = f[17];
      a->value6 = f[19];
      a->value7 = f[20];
      break;
    case 0x6D:
      std::memcpy(a->block.data(), f + 3, kUartBlockSize);
      break;
    default:
      break;
  }
  return LINK_OK;
}

}  // namespace

size_t UartBuildRequest(const UartRequest& r, uint8_t* tx) {
  const uint8_t command = static_cast<uint8_t>(r.command);
  const size_t n = RequestLength(command);
  if (n == 0) return 0;
  const uint32_t v = static_cast<uint32_t>(r.value);
  tx[0] = kUartRequestMarker;
  tx[1] = static_cast<uint8_t>(r.address);
  tx[2] = command;
  switch (n) {
    case 4:
      break;
    case 5:
      tx[3] = static_cast<uint8_t>(v);
      break;
    case 6:
      Put16(tx + 3, v);
      break;
    case 7:
      tx[3] = static_cast<uint8_t>(v);
      Put16(tx + 4, static_cast<uint32_t>(r.value2));
      break;
    case 8:
      Put32(tx + 3, v);
      break;
    case 13:
      tx[3] = static_cast<uint8_t>(v);
      Put32(tx + 4, static_cast<uint32_t>(r.value2));
      Put32(tx + 8, static_cast<uint32_t>(r.value3));
      break;
    case 133:
      tx[3] = static_cast<uint8_t>(v);
      std::memcpy(tx + 4, r.block.data(), kUartBlockSize);
      break;
    default:
      return 0;
  }
  tx[n - 1] = UartCrc8(n - 1, tx);
  return n;
}

size_t UartAnswerLength(uint8_t command, uint8_t echoBlocks) {
  if (command == SVC_GET_ECHO) return echoBlocks == 0 ? 4 : kUartEchoBlockSize * echoBlocks;
  return PlainAnswerLength(command);
}

int UartReceiverStep(const uint8_t* rx, size_t count, size_t capacity, UartAnswerFields* fields,
                     bool* isEcho) {
  if (count == 0) return kUartNeedMore;
  if (count >= capacity) return LINK_BAD_LENGTH;
  if (rx[0] != kUartAnswerMarker) return LINK_BAD_ANSWER;
  if (count < 4) return kUartNeedMore;
  const uint8_t command = rx[2];
  if (command == SVC_GET_ECHO) {
    const size_t blocks = rx[3];
    if (count < kUartEchoBlockSize * blocks) return kUartNeedMore;
    for (size_t k = 0; k < blocks; ++k) {
      const uint8_t* b = rx + kUartEchoBlockSize * k;
      uint16_t sum = 0;
      for (size_t i = 8; i < 8 + kUartBlockSize; i += 2) sum = static_cast<uint16_t>(sum + Get16(b + i));
      if (Get32(b + 136) != sum) return LINK_BAD_ANSWER;
    }
    fields->address = rx[1];
    fields->command = command;
    fields->value1 = static_cast<int32_t>(blocks);
    if (isEcho) *isEcho = true;
    return LINK_OK;
  }
  const size_t length = PlainAnswerLength(command);
  if (length == 0 || count < length) return kUartNeedMore;
  if (UartCrc8(length - 1, rx) != rx[length - 1]) return LINK_CRC_ERROR;
  if (isEcho) *isEcho = false;
  return TakeFields(rx, fields);
}

// ---------------------------------------------------------------------------
// Records and identification

std::string UartFormatDate(uint32_t date) {
  char text[16];
  std::snprintf(text, sizeof text, "%02d%02d%02d", int((date >> 16) & 0xFF) + 1, int((date >> 8) & 0xFF) + 1,
                int(date & 0xFF));
  return text;
}

std::string UartFormatSerial(uint32_t serial) {
  char text[16];
  std::snprintf(text, sizeof text, "%06u", unsigned(serial & 0xFFFFFF));
  return text;
}

std::string UartFormatFirmware(uint8_t version) {
  char text[16];
  std::snprintf(text, sizeof text, "%d.%02X", version >> 4, (version & 0x0F) * 16);
  return text;
}

std::string UartFormatModelCode(uint32_t modelCode) {
  std::string text;
  for (int i = 0; i < 4; ++i) {
    const char c = static_cast<char>((modelCode >> (8 * i)) & 0xFF);
    text += (c >= 0x20 && c < 0x7F) ? c : '.';
  }
  return text;
}

int32_t UartBaudFromCode(int32_t code) {
  static constexpr int32_t rates[] = {2400, 4800, 9600, 19200, 38400, 57600, 115200};
  return code >= 1 && code <= 7 ? rates[code - 1] : 0;
}

int32_t UartCodeFromBaud(int32_t baud) {
  for (int32_t code = 1; code <= 7; ++code)
    if (UartBaudFromCode(code) == baud) return code;
  return 0;
}

const char* UartResultName(int32_t code) {
  static const char* const names[] = {
      "LINK_OK",         "LINK_NOT_DONE",  "LINK_BAD_PARAM",   "LINK_CRC_ERROR",  "LINK_BAD_LENGTH",
      "LINK_BAD_ANSWER", "LINK_NO_ANSWER", "LINK_WRITE_ERROR", "LINK_PORT_ERROR", "LINK_RECEIVING"};
  return code >= 0 && code <= 9 ? names[code] : "LINK_?";
}

bool UartIsSupportedModel(uint32_t modelCode) { return modelCode == kUartModelKL31; }
bool UartIsSupportedFirmware(uint8_t version) { return version == 9; }

}  // namespace kl
