#include "virtual_sensor.h"

#include <gtest/gtest.h>

namespace kl::vsensor {
namespace {

TEST(Crc8, CheckValue) {
  const char* digits = "123456789";
  EXPECT_EQ(Crc8(reinterpret_cast<const uint8_t*>(digits), 9), 0xA1);
}

}  // namespace
}  // namespace kl::vsensor
