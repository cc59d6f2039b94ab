// Snow in the canopy against hand-computed cases: a cold snowfall onto an empty canopy and a warm step that
// melts and releases, the water of the canopy per step, the ageing of the canopy snow after a snowfall, and
// the canopy energy balance with its residuals, its bisection and bounds without a root.
#include "landsurface/snow_canopy.h"

#include <gtest/gtest.h>

#include <cmath>

namespace velmo {
namespace {

// A one-hour step under an effective leaf area index of 2.
SnowCanopyPoint Canopy(double t_celsius, double mean_celsius, double humidity, double precipitation,
                       double radiation, double wind, double cloudiness) {
  SnowCanopyPoint p;
  p.precipitation = precipitation;
  p.temperature = t_celsius + 273.16;
  p.daily_mean_temperature = mean_celsius + 273.16;
  p.temperature_offset = std::clamp(mean_celsius / 3.0, -2.0, 2.0);
  p.humidity = 100.0 * humidity;
  const double snow = CanopySnowFraction(t_celsius, 0.0, 1.0);
  p.snowfall = precipitation * snow;
  p.rain = precipitation * (1.0 - snow);
  p.shortwave = radiation;
  p.wind_speed = wind;
  p.cloudiness = cloudiness;
  p.time_step = 3600.0;
  p.leaf_area_index = 2.0;
  return p;
}

TEST(SnowCanopy, SnowFractionAroundTheThreshold) {
  EXPECT_EQ(CanopySnowFraction(0.0, 0.0, 1.0), 0.5);
  EXPECT_EQ(CanopySnowFraction(-1.0, 0.0, 1.0), 1.0);
  EXPECT_EQ(CanopySnowFraction(1.0, 0.0, 1.0), 0.0);
  EXPECT_EQ(CanopySnowFraction(0.0, 0.0, 0.0), 1.0);
  EXPECT_EQ(CanopySnowFraction(0.01, 0.0, 0.0), 0.0);
}

TEST(SnowCanopy, ColdSnowfallLoadsAnEmptyCanopy) {
  SnowCanopyPoint p = Canopy(-2.0, -1.0, 0.8, 5.0, 100.0, 3.0, 0.5);
  p.CanopySnowStep();
  EXPECT_DOUBLE_EQ(p.albedo, 0.8);
  EXPECT_EQ(p.age, 0.0);
  // 0.7·8.8·(1 − exp(−5/8.8)) caught, of which some sublimates.
  EXPECT_NEAR(p.load + p.sublimation, 2.670024, 5e-7);
  EXPECT_NEAR(p.sublimation, 0.025980, 5e-7);
  EXPECT_NEAR(p.load, 2.644043, 5e-7);
  EXPECT_NEAR(p.snowfall, 2.329976, 5e-7);
  EXPECT_EQ(p.rain, 0.0);
  EXPECT_NEAR(p.temperature, 271.5605, 5e-5);
  EXPECT_NEAR(p.humidity, 86.0081, 5e-5);
  EXPECT_NEAR(p.wind_speed, 1.460257, 5e-7);
  EXPECT_NEAR(p.longwave, 287.802, 5e-4);
  EXPECT_NEAR(p.shortwave, 100.0 * std::exp(-0.82), 1e-12);
}

TEST(SnowCanopy, WarmStepMeltsAndReleasesSnowAndWater) {
  SnowCanopyPoint p = Canopy(3.0, 2.0, 0.7, 0.0, 300.0, 2.0, 0.3);
  p.albedo = 0.6;
  p.age = 1.0;
  p.load = 4.0;
  p.CanopySnowStep();
  EXPECT_NEAR(p.albedo, 0.593789, 5e-7);
  EXPECT_DOUBLE_EQ(p.age, 1.0 + 1.0 / 24.0);
  EXPECT_NEAR(p.sublimation, 0.075637, 5e-7);
  EXPECT_NEAR(p.snowfall, 0.752308, 5e-7);
  EXPECT_NEAR(p.rain, 0.327090, 5e-7);
  EXPECT_NEAR(p.snowfall + p.rain, 1.079398, 5e-7);
  EXPECT_NEAR(p.load, 2.844965, 5e-7);
  EXPECT_EQ(p.humidity, 100.0);
}

TEST(SnowCanopy, WhatFallsLeavesAsSnowOrWaterIsHeldOrSublimates) {
  struct step {
    double t, mean, humidity, precipitation, radiation, wind, cloudiness, load, albedo, age;
  } steps[] = {
      {-2, -1, 0.8, 5, 100, 3, 0.5, 0, 0.2, 0},   {3, 2, 0.7, 0, 300, 2, 0.3, 4, 0.6, 1},
      {0.3, 0, 0.95, 2, 50, 1, 0.8, 1, 0.5, 0.5}, {-8, -6, 0.3, 0.1, 400, 6, 0.1, 0.2, 0.8, 0},
      {6, 5, 0.5, 12, 0, 0.5, 1.0, 30, 0.3, 3},   {-1, -3, 1.0, 0, 0, 0, 0, 0.0001, 0.7, 2},
      {10, 8, 0.4, 0, 600, 4, 0.6, 0.05, 0.4, 5},
  };
  for (const step& s : steps) {
    SnowCanopyPoint p = Canopy(s.t, s.mean, s.humidity, s.precipitation, s.radiation, s.wind, s.cloudiness);
    p.load = s.load;
    p.albedo = s.albedo;
    p.age = s.age;
    p.CanopySnowStep();
    EXPECT_NEAR(s.precipitation, p.snowfall + p.rain + (p.load - s.load) + p.sublimation, 1e-12) << s.t;
    EXPECT_GE(p.load, 0.0) << s.t;
    if (p.load == 0.0) {
      EXPECT_EQ(p.albedo, 0.1) << s.t;
    }
  }
}

TEST(SnowCanopy, CanopySnowAgesAfterTheSnowfall) {
  SnowCanopyPoint p = Canopy(-5.0, -5.0, 0.8, 3.0, 0.0, 1.0, 0.5);
  p.CanopySnowStep();
  ASSERT_DOUBLE_EQ(p.albedo, 0.8);
  ASSERT_EQ(p.age, 0.0);
  // Dry hours after it: the snow grows older and, from its second hour on,
  // its albedo decays by 0.1 a day in the cold.
  double albedo = p.albedo;
  for (int hour = 1; hour <= 3; ++hour) {
    SnowCanopyPoint next = Canopy(-5.0, -5.0, 0.8, 0.0, 0.0, 1.0, 0.5);
    next.load = p.load;
    next.albedo = p.albedo;
    next.age = p.age;
    next.CanopySnowStep();
    EXPECT_DOUBLE_EQ(next.age, hour / 24.0);
    if (hour == 1) {
      EXPECT_EQ(next.albedo, albedo);
    } else {
      EXPECT_DOUBLE_EQ(next.albedo, 0.1 + (albedo - 0.1) * std::exp(-0.1 / 24.0));
    }
    albedo = next.albedo;
    p = next;
  }
}

// The canopy above snow at 270 K in air at 268.16 K.
SnowCanopyPoint Balance() {
  SnowCanopyPoint p;
  p.leaf_area_index = 2.0;
  p.time_step = 3600.0;
  p.air_temperature_above = 268.16;
  p.temperature = 268.16;
  p.humidity_above = 80.0;
  p.wind_above = 3.0;
  p.cloudiness = 0.5;
  p.radiation_above = 200.0;
  p.surface_albedo = 0.8;
  p.previous_albedo = 0.2;
  p.surface_temperature = 270.0;
  p.previous_canopy_temperature = 268.66;
  return p;
}

TEST(SnowCanopy, EnergyBalanceResidualsAndTheirRoot) {
  EXPECT_NEAR(CanopyAerodynamicResistance(10.0, 3.0), 7.5942, 5e-5);
  EXPECT_DOUBLE_EQ(CanopyAerodynamicResistance(10.0, 0.0), CanopyAerodynamicResistance(10.0, 0.01));
  SnowCanopyPoint p = Balance();
  p.canopy_temperature = 240.0;
  EXPECT_NEAR(p.EnergyResidual(), 5227.38, 5e-3);
  EXPECT_NEAR(p.longwave, 213.861, 5e-4);
  p.canopy_temperature = 350.0;
  EXPECT_NEAR(p.EnergyResidual(), -15121.73, 5e-3);

  p = Balance();
  p.SolveCanopyTemperature();
  EXPECT_NEAR(p.canopy_temperature, 268.654785, 5e-7);
  EXPECT_NEAR(p.residual, -0.339, 5e-4);
  EXPECT_DOUBLE_EQ(p.canopy_air_difference, p.canopy_temperature - 268.16);
  EXPECT_NEAR(p.longwave, 255.517, 5e-4);

  // Without a surface temperature the surface is 0.5 K below the air below
  // the canopy.
  SnowCanopyPoint bare = Balance();
  bare.surface_temperature = -9999.0;
  bare.temperature = 270.5;
  bare.canopy_temperature = 260.0;
  p.surface_temperature = 270.0;
  p.canopy_temperature = 260.0;
  EXPECT_DOUBLE_EQ(bare.EnergyResidual(), p.EnergyResidual());
}

TEST(SnowCanopy, ResidualsOfOneSignLeaveTheCanopyAtTheAirBelow) {
  // A canopy that held 400 K a minute ago: its storage term
  // outweighs everything between 240 and 350 K.
  SnowCanopyPoint p = Balance();
  p.time_step = 60.0;
  p.previous_canopy_temperature = 400.0;
  p.temperature = 267.5;
  p.SolveCanopyTemperature();
  EXPECT_EQ(p.canopy_temperature, 267.5);
  EXPECT_EQ(p.residual, 666.0);
  EXPECT_DOUBLE_EQ(p.canopy_air_difference, 267.5 - 268.16);
  const double share = 0.29 * std::log(2.0) + 0.35;
  EXPECT_NEAR(p.longwave, 5.5566e-8 * std::pow(267.5, 4) * share + (1.0 - share) * 213.861, 5e-4);
}

}  // namespace
}  // namespace velmo
