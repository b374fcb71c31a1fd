#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

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

size_t RequestLength(uint8_t command) {
  switch (command) {
    case cmd::kSync:
    case cmd::kGetIntegrator:
    case cmd::kGetKu:
    case cmd::kGetFreq:
    case cmd::kGetPulse:
    case cmd::kGetAtten:
    case cmd::kGetFilter:
    case cmd::kGetPostFilter:
    case cmd::kServiceMode:
    case cmd::kGetTankHeight:
    case cmd::kGetPassport:
    case cmd::kGetIdent:
    case cmd::kGetConfig:
    case cmd::kGetTankId:
    case cmd::kGetMode:
    case cmd::kGetAutoState:
    case cmd::kGetModel:
    case cmd::kGetFuel:
      return 4;
    case cmd::kGetEcho:
    case cmd::kSetPulse:
    case cmd::kSetAtten:
    case cmd::kSetPostFilter:
    case cmd::kSetPeriod:
    case cmd::kSetFlags:
    case cmd::kSetAddress:
    case cmd::kSetTareMode:
    case cmd::kReadBlock:
    case cmd::kSetAuto:
      return 5;
    case cmd::kSetKu:
    case cmd::kSetFreq:
    case cmd::kSetFilter:
    case cmd::kSetTankHeight:
    case cmd::kSetTankId:
      return 6;
    case cmd::kAfc:
      return 7;
    case cmd::kSetIntegrator:
    case cmd::kDisplayTest:
      return 8;
    case cmd::kSetFuel:
      return 13;
    case cmd::kWriteBlock:
      return 133;
    default:
      return 0;
  }
}

bool IsAcknowledgement(uint8_t command) {
  switch (command) {
    case cmd::kSetIntegrator:
    case cmd::kSetKu:
    case cmd::kSetFreq:
    case cmd::kSetPulse:
    case cmd::kSetAtten:
    case cmd::kSetFilter:
    case cmd::kAfc:
    case cmd::kSetPostFilter:
    case cmd::kServiceMode:
    case cmd::kDisplayTest:
    case cmd::kSetTankHeight:
    case cmd::kSetPeriod:
    case cmd::kSetFlags:
    case cmd::kSetAddress:
    case cmd::kSetTareMode:
    case cmd::kWriteBlock:
    case cmd::kSetTankId:
    case cmd::kSetAuto:
    case cmd::kSetFuel:
      return true;
    default:
      return false;
  }
}

size_t AnswerLength(uint8_t command) {
  if (IsAcknowledgement(command)) return 5;
  switch (command) {
    case cmd::kGetPulse:
    case cmd::kGetAtten:
    case cmd::kGetPostFilter:
    case cmd::kGetMode:
      return 5;
    case cmd::kGetKu:
    case cmd::kGetFreq:
    case cmd::kGetFilter:
    case cmd::kGetTankHeight:
    case cmd::kGetTankId:
      return 6;
    case cmd::kGetIntegrator:
    case cmd::kGetAutoState:
    case cmd::kGetModel:
      return 8;
    case cmd::kSync:
      return 9;
    case cmd::kGetIdent:
    case cmd::kGetConfig:
      return 12;
    case cmd::kGetFuel:
      return 13;
    case cmd::kGetPassport:
      return 22;
    case cmd::kReadBlock:
      return 132;
    default:
      return 0;  // echo (variable) and unknown commands
  }
}

std::vector<uint8_t> BuildRequest(uint8_t address, uint8_t command, const std::vector<uint8_t>& data) {
  std::vector<uint8_t> frame;
  frame.reserve(data.size() + 4);
  frame.push_back(kRequestMarker);
  frame.push_back(address);
  frame.push_back(command);
  for (uint8_t b : data) frame.push_back(b);
  frame.push_back(Crc8(frame.data(), frame.size()));
  return frame;
}

int BaudFromCode(int code) {
  static constexpr int kRates[] = {0, 2400, 4800, 9600, 19200, 38400, 57600, 115200};
  return (code >= 1 && code <= 7) ? kRates[code] : 0;
}

int CodeFromBaud(int baud) {
  for (int code = 1; code <= 7; ++code)
    if (BaudFromCode(code) == baud) return code;
  return -1;
}

namespace {

bool ParseInt(const std::string& text, long& out) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  const long v = std::strtol(text.c_str(), &end, 0);
  if (errno != 0 || end == text.c_str() || *end != '\0') return false;
  out = v;
  return true;
}

struct KindName {
  const char* name;
  FaultKind kind;
};
constexpr KindName kKindNames[] = {
    {"none", FaultKind::NoAnswer},        {"delay", FaultKind::Delay},
    {"crc", FaultKind::BadCrc},           {"echosum", FaultKind::BadEchoSum},
    {"marker", FaultKind::BadMarker},     {"cut", FaultKind::CutShort},
    {"address", FaultKind::WrongAddress}, {"command", FaultKind::UnknownCommand},
    {"status", FaultKind::AckStatus},     {"double", FaultKind::DoubleAnswer},
};

}  // namespace

bool ParseFault(const std::string& text, Fault& fault, std::string* error) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (true) {
    const size_t colon = text.find(':', start);
    parts.push_back(text.substr(start, colon == std::string::npos ? std::string::npos : colon - start));
    if (colon == std::string::npos) break;
    start = colon + 1;
  }
  auto fail = [&](const std::string& why) {
    if (error) *error = "fault \"" + text + "\": " + why;
    return false;
  };
  if (parts.size() > 4) return fail("too many fields (kind:cmd:count:param)");
  Fault f;
  bool known = false;
  for (const auto& k : kKindNames) {
    if (parts[0] == k.name) {
      f.kind = k.kind;
      known = true;
    }
  }
  if (!known) return fail("unknown kind \"" + parts[0] + "\"");
  long v = 0;
  if (parts.size() > 1 && !parts[1].empty() && parts[1] != "any") {
    if (!ParseInt(parts[1], v) || v < 0 || v > 255) return fail("bad command byte");
    f.command = static_cast<int>(v);
  }
  if (parts.size() > 2 && !parts[2].empty()) {
    if (!ParseInt(parts[2], v) || v > 1000000 || v < -1) return fail("bad count");
    f.count = static_cast<int>(v);
  }
  if (parts.size() > 3 && !parts[3].empty()) {
    if (!ParseInt(parts[3], v) || v < 0 || v > 600000) return fail("bad parameter");
    f.param = static_cast<int>(v);
  }
  fault = f;
  return true;
}

}  // namespace kl::vsensor
