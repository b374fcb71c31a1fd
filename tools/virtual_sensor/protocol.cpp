#include "virtual_sensor.h"

namespace kl::vsensor {

uint8_t Crc8(const uint8_t* data, size_t count) {
  uint8_t crc = 0;
  for (size_t i = 0; i < count; ++i) {
    uint8_t b = data[i];
    for (int bit = 0; bit < 8; ++bit) {
      const bool mix = ((crc ^ b) & 1) != 0;
      crc = static_cast<uint8_t>(crc >> 1);
      if (mix) crc ^= 0x8C;
      b = static_cast<uint8_t>(b >> 1);
    }
  }
  return crc;
}

size_t RequestLength(uint8_t) { return 0; }
size_t AnswerLength(uint8_t) { return 0; }
std::vector<uint8_t> BuildRequest(uint8_t, uint8_t, const std::vector<uint8_t>&) { return {}; }
int BaudFromCode(int) { return 0; }
int CodeFromBaud(int) { return -1; }
bool ParseFault(const std::string&, Fault&, std::string*) { return false; }

}  // namespace kl::vsensor
