#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>

#include "virtual_sensor.h"

namespace kl::vsensor {
namespace {

std::string Trim(const std::string& s) {
  const char* ws = " \t\r\n";
  const size_t a = s.find_first_not_of(ws);
  if (a == std::string::npos) return {};
  const size_t b = s.find_last_not_of(ws);
  return s.substr(a, b - a + 1);
}

bool ToLong(const std::string& text, long long lo, long long hi, long long& out) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  const long long v = std::strtoll(text.c_str(), &end, 0);
  if (errno != 0 || end == text.c_str() || *end != '\0' || v < lo || v > hi) return false;
  out = v;
  return true;
}

bool ToFloat(const std::string& text, float& out) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  const float v = std::strtof(text.c_str(), &end);
  if (errno != 0 || end == text.c_str() || *end != '\0') return false;
  out = v;
  return true;
}

bool ToBool(const std::string& text, bool& out) {
  if (text == "1" || text == "true" || text == "on" || text == "yes") return out = true, true;
  if (text == "0" || text == "false" || text == "off" || text == "no") return out = false, true;
  return false;
}

template <typename T>
std::function<bool(const std::string&, SensorState&)> Int(T SensorState::*field, long long lo, long long hi) {
  return [=](const std::string& v, SensorState& s) {
    long long n = 0;
    if (!ToLong(v, lo, hi, n)) return false;
    s.*field = static_cast<T>(n);
    return true;
  };
}

std::function<bool(const std::string&, SensorState&)> Float(float SensorState::*field) {
  return [=](const std::string& v, SensorState& s) { return ToFloat(v, s.*field); };
}

std::function<bool(const std::string&, SensorState&)> Bool(bool SensorState::*field) {
  return [=](const std::string& v, SensorState& s) { return ToBool(v, s.*field); };
}

// "DDMMYY" or a raw 24-bit number (0x...).
bool ParseDate(const std::string& v, SensorState& s) {
  if (v.size() == 6 && v.find_first_not_of("0123456789") == std::string::npos) {
    const int day = std::stoi(v.substr(0, 2)), month = std::stoi(v.substr(2, 2)),
              year = std::stoi(v.substr(4, 2));
    if (day < 1 || day > 31 || month < 1 || month > 12) return false;
    s.date = (static_cast<uint32_t>(day - 1) << 16) | (static_cast<uint32_t>(month - 1) << 8) |
             static_cast<uint32_t>(year);
    return true;
  }
  long long n = 0;
  if (!ToLong(v, 0, 0xFFFFFF, n)) return false;
  s.date = static_cast<uint32_t>(n);
  return true;
}

bool ParseModelCode(const std::string& v, SensorState& s) {
  if (v.size() != 4) return false;
  for (size_t i = 0; i < 4; ++i) s.modelCode[i] = static_cast<uint8_t>(v[i]);
  return true;
}

bool ParseBaud(const std::string& v, SensorState& s) {
  long long n = 0;
  if (!ToLong(v, 0, 10000000, n) || CodeFromBaud(static_cast<int>(n)) < 0) return false;
  s.baud = static_cast<int32_t>(n);
  return true;
}

// A binary file of at most 65536 bytes: the preset tank table store as it is.
bool LoadHubFile(const std::string& path, SensorState& s) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::vector<uint8_t> data(kHubSize, 0);
  in.read(reinterpret_cast<char*>(data.data()), static_cast<std::streamsize>(kHubSize));
  if (in.bad()) return false;
  char extra = 0;
  if (in.gcount() == static_cast<std::streamsize>(kHubSize) && in.get(extra)) return false;
  s.hub = std::move(data);
  return true;
}

using Setter = std::function<bool(const std::string&, SensorState&)>;

const std::vector<std::pair<std::string, Setter>>& Keys() {
  static const std::vector<std::pair<std::string, Setter>> keys = {
      {"address", Int(&SensorState::address, 0, 255)},
      {"baud", ParseBaud},
      {"model_code", ParseModelCode},
      {"date", ParseDate},
      {"serial", Int(&SensorState::serial, 0, 0xFFFFFF)},
      {"model", Int(&SensorState::model, 0, 255)},
      {"firmware", Int(&SensorState::firmware, 0, 255)},
      {"period", Int(&SensorState::period, 0, 255)},
      {"flags", Int(&SensorState::flags, 0, 255)},
      {"config", Int(&SensorState::configByte, 0, 255)},
      {"flags2", Int(&SensorState::flags2, 0, 255)},
      {"service_mode", Bool(&SensorState::serviceMode)},
      {"fuel_type", Int(&SensorState::fuelType, 0, 255)},
      {"thermal_coef", Float(&SensorState::thermalCoef)},
      {"sound_speed", Float(&SensorState::soundSpeed)},
      {"post_filter", Int(&SensorState::postFilter, 0, 255)},
      {"frequency", Int(&SensorState::frequency, 0, 65535)},
      {"filter", Int(&SensorState::filter, 0, 65535)},
      {"ku", Int(&SensorState::kuWord, 0, 65535)},
      {"pulse", Int(&SensorState::pulse, 0, 255)},
      {"attenuation", Int(&SensorState::attenuation, 0, 255)},
      {"integrator", Int(&SensorState::integrator, 0, 0xFFFFFFFFLL)},
      {"resonance", Int(&SensorState::resonance, 0, 65535)},
      {"mode", Int(&SensorState::mode, 0, 255)},
      {"auto_state", Int(&SensorState::autoState, INT32_MIN, INT32_MAX)},
      {"auto_step_ms", Int(&SensorState::autoStepMs, 0, 3600000)},
      {"auto_fail_code", Int(&SensorState::autoFailCode, 0, INT32_MAX)},
      {"afc", Bool(&SensorState::afcOn)},
      {"afc_step", Int(&SensorState::afcStep, 0, 65535)},
      {"display_mask", Int(&SensorState::displayMask, 0, 0xFFFFFFFFLL)},
      {"tank_id", Int(&SensorState::tankId, 0, 65535)},
      {"tank_height", Int(&SensorState::customTankHeight, 0, 65535)},
      {"tare_mode", Int(&SensorState::tareMode, 0, 255)},
      {"level", Int(&SensorState::level, 0, 65535)},
      {"temperature", Int(&SensorState::temperature, INT16_MIN, INT16_MAX)},
      {"level_drift", Int(&SensorState::levelDrift, -100000, 100000)},
      {"echo_error", Int(&SensorState::echoError, 0, 65535)},
      {"no_level", Int(&SensorState::noLevel, 0, 65535)},
      {"hub_file", LoadHubFile},
      {"tank", Bool(&SensorState::tankOn)},
      {"tank_litres", Float(&SensorState::tankLitres)},
      {"tank_diameter", Float(&SensorState::tankDiameter)},
      {"tank_length", Float(&SensorState::tankLength)},
      {"tank_dead_zone", Float(&SensorState::tankDeadZone)},
  };
  return keys;
}

}  // namespace

bool ApplySetting(const std::string& rawKey, const std::string& rawValue, SensorState& state,
                  std::string* error) {
  const std::string key = Trim(rawKey), value = Trim(rawValue);
  for (const auto& [name, set] : Keys()) {
    if (name != key) continue;
    if (set(value, state)) return true;
    if (error) *error = "bad value \"" + value + "\" for " + key;
    return false;
  }
  if (error) *error = "unknown key \"" + key + "\"";
  return false;
}

bool LoadStateFile(const std::string& path, SensorState& state, std::string* error) {
  std::ifstream in(path);
  if (!in) {
    if (error) *error = "cannot open " + path + ": " + std::strerror(errno);
    return false;
  }
  SensorState next = state;
  bool sawBaud = false, sawFlags = false;
  std::string line;
  int number = 0;
  while (std::getline(in, line)) {
    ++number;
    const size_t hash = line.find('#');
    if (hash != std::string::npos) line.resize(hash);
    if (Trim(line).empty()) continue;
    const size_t eq = line.find('=');
    std::string why;
    if (eq == std::string::npos) {
      why = "expected key = value";
    } else {
      const std::string key = Trim(line.substr(0, eq));
      if (ApplySetting(key, line.substr(eq + 1), next, &why)) {
        sawBaud |= key == "baud";
        sawFlags |= key == "flags";
        continue;
      }
    }
    if (error) *error = path + ":" + std::to_string(number) + ": " + why;
    return false;
  }
  if (sawBaud && !sawFlags)
    next.flags = static_cast<uint8_t>((next.flags & ~0x1Cu) | (CodeFromBaud(next.baud) << 2));
  state = std::move(next);
  return true;
}

}  // namespace kl::vsensor
