#include "virtual_sensor.h"

namespace kl::vsensor {
bool LoadStateFile(const std::string&, SensorState&, std::string*) { return false; }
bool ApplySetting(const std::string&, const std::string&, SensorState&, std::string*) { return false; }
}  // namespace kl::vsensor
