// The virtual tank: the shape that turns litres into a level, the dead zone,
// and the control lines that pour and drain.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "virtual_sensor.h"

namespace kl::vsensor {
namespace {

TEST(VirtualTank, LevelFollowsTheLitresThroughTheCylinder) {
  SensorState s;  // 600 mm across, 1000 mm long
  const double full = std::numbers::pi * 300.0 * 300.0 * 1000.0 / 1e6;
  EXPECT_NEAR(TankCapacity(s), full, 1e-6);
  EXPECT_NEAR(TankLitresAt(s, 300.0), full / 2, 1e-6);
  double last = -1;
  for (double mm = 0; mm <= 600; mm += 25) {
    const double litres = TankLitresAt(s, mm);
    EXPECT_GT(litres, last) << mm;
    last = litres;
    s.tankLitres = static_cast<float>(litres);
    EXPECT_NEAR(TankLevelMm(s), mm, 0.05) << mm;
  }
  s.tankLitres = 10000.0f;
  EXPECT_EQ(TankLevelMm(s), 600.0);
}

TEST(VirtualTank, ControlLinesPourDrainAndRefuse) {
  SensorState s;
  s.tankDeadZone = 20.0f;
  std::string error;
  ASSERT_TRUE(ApplyControlLine("litres 0", s, &error)) << error;
  EXPECT_TRUE(s.tankOn);
  EXPECT_NE(s.noLevel, 0) << "below the dead zone";
  EXPECT_EQ(s.level, 0);
  ASSERT_TRUE(ApplyControlLine("pour 50.5", s, &error)) << error;
  ASSERT_TRUE(ApplyControlLine("pour 10", s, &error)) << error;
  EXPECT_FLOAT_EQ(s.tankLitres, 60.5f);
  EXPECT_EQ(s.noLevel, 0);
  EXPECT_EQ(s.level, static_cast<uint16_t>(std::lround(TankLevelMm(s) * 10)));
  ASSERT_TRUE(ApplyControlLine("drain 0.5", s, &error)) << error;
  EXPECT_FLOAT_EQ(s.tankLitres, 60.0f);
  ASSERT_TRUE(ApplyControlLine("drain 1000", s, &error)) << error;
  EXPECT_EQ(s.tankLitres, 0.0f) << "not below empty";
  ASSERT_TRUE(ApplyControlLine("pour 1000", s, &error)) << error;
  EXPECT_FLOAT_EQ(s.tankLitres, static_cast<float>(TankCapacity(s))) << "not above full";
  ASSERT_TRUE(ApplyControlLine("set tank_dead_zone=700", s, &error)) << error;
  EXPECT_NE(s.noLevel, 0);

  const SensorState before = s;
  for (const char* bad :
       {"pour", "pour -1", "pour x", "pour nan", "fill 3", "pour 1 2", "set nokey=1", "set"}) {
    error.clear();
    EXPECT_FALSE(ApplyControlLine(bad, s, &error)) << bad;
    EXPECT_FALSE(error.empty()) << bad;
    EXPECT_EQ(s.tankLitres, before.tankLitres) << bad;
  }
}

}  // namespace
}  // namespace kl::vsensor
