#include "virtual_sensor.h"

#include <chrono>

namespace kl::vsensor {

int64_t SteadyClock::NowMs() const {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

struct VirtualSensor::Impl {
  SensorState state;
};

VirtualSensor::VirtualSensor(SensorState initial, uint64_t, std::shared_ptr<Clock>)
    : impl_(std::make_unique<Impl>()) {
  impl_->state = std::move(initial);
}
VirtualSensor::~VirtualSensor() { Stop(); }
bool VirtualSensor::Start(int, std::string* error) {
  if (error) *error = "not implemented yet";
  return false;
}
void VirtualSensor::Stop() {}
bool VirtualSensor::Running() const { return false; }
std::string VirtualSensor::PortName() const { return {}; }
std::string VirtualSensor::SlavePath() const { return {}; }
std::string VirtualSensor::LinkPath() const { return {}; }
void VirtualSensor::InjectFault(const Fault&) {}
void VirtualSensor::ClearFaults() {}
SensorState VirtualSensor::State() const { return impl_->state; }
void VirtualSensor::SetState(const SensorState& s) { impl_->state = s; }
void VirtualSensor::SetPacing(bool) {}
std::vector<uint8_t> VirtualSensor::ReceivedCommands() const { return {}; }
size_t VirtualSensor::RequestCount() const { return 0; }
size_t VirtualSensor::IgnoredCount() const { return 0; }
size_t VirtualSensor::AnswerCount() const { return 0; }
std::string PortsFolder() { return {}; }

}  // namespace kl::vsensor
