#include "virtual_sensor.h"

namespace kl::vsensor {
uint16_t HubWordSum(const std::vector<uint8_t>&) { return 0; }
void HubSealImage(std::vector<uint8_t>&) {}
bool HubImageValid(const std::vector<uint8_t>&) { return false; }
std::vector<uint8_t> DefaultHubImage() { return std::vector<uint8_t>(kHubSize, 0); }
}  // namespace kl::vsensor
