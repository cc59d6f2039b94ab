// Saturation vapour pressure sets, Penman-Monteith terms, air pressure and
// vapour density against published numbers.
#include "physics/moist_air.h"

#include <gtest/gtest.h>

#include <cmath>

namespace velmo {
namespace {

// Saturation vapour pressure in hPa of the IAPWS formulations (Wagner and
// Pruß 2002 over water, Wagner et al. 2011 over ice), as tabulated.
struct published_pressure {
  double t_celsius;
  double e_hpa;
};
constexpr published_pressure kWater0{0.0, 6.112};
constexpr published_pressure kWater10{10.0, 12.28};
constexpr published_pressure kWater20{20.0, 23.39};
constexpr published_pressure kWater40{40.0, 73.85};
constexpr published_pressure kIceMinus5{-5.0, 4.017};
constexpr published_pressure kIceMinus10{-10.0, 2.599};
constexpr published_pressure kIceMinus20{-20.0, 1.032};
constexpr published_pressure kIceMinus30{-30.0, 0.3801};

TEST(SaturationVapourPressure, EverySetFollowsTheReferenceOverItsRange) {
  struct Case {
    const char* set;
    double (*es)(double);
    published_pressure reference;
    double relative_tolerance;  // the fit's own accuracy there
  };
  const Case cases[] = {
      {"Tetens", SaturationVapourPressureTetens, kWater0, 0.002},
      {"Tetens", SaturationVapourPressureTetens, kWater20, 0.002},
      {"Tetens", SaturationVapourPressureTetens, kWater40, 0.002},
      {"WMO", SaturationVapourPressureWmo, kWater0, 0.001},
      {"WMO", SaturationVapourPressureWmo, kWater20, 0.003},
      {"WMO", SaturationVapourPressureWmo, kWater40, 0.003},
      {"snow balance", SaturationVapourPressureSnowBalance, kWater0, 0.002},
      {"snow balance", SaturationVapourPressureSnowBalance, kWater20, 0.002},
      {"snow balance", SaturationVapourPressureSnowBalance, kWater40, 0.002},
      {"Haude", SaturationVapourPressureHaude, kWater10, 0.004},
      {"Haude", SaturationVapourPressureHaude, kWater20, 0.004},
      {"Haude", SaturationVapourPressureHaude, kIceMinus10, 0.003},
      {"Haude", SaturationVapourPressureHaude, kIceMinus30, 0.003},
      {"Tetens ice", SaturationVapourPressureIceTetens, kIceMinus5, 0.005},
      {"Tetens ice", SaturationVapourPressureIceTetens, kIceMinus10, 0.005},
      {"Tetens ice", SaturationVapourPressureIceTetens, kIceMinus20, 0.005},
      {"WMO ice", SaturationVapourPressureIceWmo, kIceMinus10, 0.0005},
      {"WMO ice", SaturationVapourPressureIceWmo, kIceMinus30, 0.0005},
      {"snow balance ice", SaturationVapourPressureIceSnowBalance, kIceMinus10, 0.001},
      {"snow balance ice", SaturationVapourPressureIceSnowBalance, kIceMinus30, 0.001},
      {"wet-bulb ice", SaturationVapourPressureIceWetBulb, kIceMinus10, 0.0005},
      {"wet-bulb ice", SaturationVapourPressureIceWetBulb, kIceMinus30, 0.0005},
  };
  for (const Case& c : cases) {
    const double expected = c.reference.e_hpa;
    EXPECT_NEAR(c.es(c.reference.t_celsius), expected, c.relative_tolerance * expected)
        << c.set << " at " << c.reference.t_celsius << " °C";
  }
  // Buck's ice form in the canopy model's kelvin and Pa.
  for (const published_pressure& p : {kIceMinus10, kIceMinus30}) {
    EXPECT_NEAR(SaturationVapourPressureIceBuckPa(p.t_celsius + kZeroCelsius), 100.0 * p.e_hpa,
                0.001 * 100.0 * p.e_hpa)
        << p.t_celsius;
  }
}

TEST(SaturationVapourPressure, FrostPointInvertsTheWmoIceCurve) {
  EXPECT_NEAR(FrostPointWmo(kIceMinus10.e_hpa), -10.0, 0.01);
  for (double t : {-35.0, -12.5, -0.5, 0.0}) {
    EXPECT_NEAR(FrostPointWmo(SaturationVapourPressureIceWmo(t)), t, 1e-9) << t;
  }
}

// FAO Irrigation and Drainage Paper 56, Annex 2: Table 2.3 (es, kPa) and
// Table 2.4 (Δ, kPa/°C), both from 0.6108 kPa, 17.27 and 237.3 °C.
TEST(PenmanMonteithTerms, TetensCurveAndSlopeMatchTheFaoTables) {
  struct Row {
    double t, es_kpa, slope_kpa;
  };
  const Row rows[] = {
      {1.0, 0.657, 0.047},  {10.0, 1.228, 0.082}, {20.0, 2.338, 0.145},
      {30.0, 4.243, 0.243}, {40.0, 7.376, 0.393},
  };
  constexpr double kHpaPerKpa = 10.0;
  for (const Row& r : rows) {
    SCOPED_TRACE(r.t);
    // The tables round to 0.001 kPa; 6.1078 and 17.269 differ a little from FAO's pair.
    EXPECT_NEAR(SaturationVapourPressureTetens(r.t) / kHpaPerKpa, r.es_kpa, 0.002);
    EXPECT_NEAR(SaturationVapourPressureSlopeTetens(r.t) / kHpaPerKpa, r.slope_kpa, 0.0007);
    // The slope is the derivative of the curve (17.26 in its exponent: within 0.2 %).
    const double h = 1e-3;
    const double derivative =
        (SaturationVapourPressureTetens(r.t + h) - SaturationVapourPressureTetens(r.t - h)) / (2.0 * h);
    EXPECT_NEAR(SaturationVapourPressureSlopeTetens(r.t), derivative, 0.002 * derivative);
  }
}

TEST(PenmanMonteithTerms, LatentHeatAndPsychrometricConstant) {
  // Latent heat of vaporisation from the meteorological tables, kJ/kg.
  const double latent[][2] = {{0.0, 2501.0}, {20.0, 2454.0}, {40.0, 2406.0}};
  for (const auto& [t, lambda] : latent) {
    EXPECT_NEAR(LatentHeatOfVaporisation(t), lambda, 1.5) << t;
    // The same heat per millimetre on a square metre: kJ/kg over 3.6 kJ/Wh.
    EXPECT_NEAR(EvaporationEnergyPerMillimetre(t) * 3.6, LatentHeatOfVaporisation(t), 0.02) << t;
  }
  // FAO-56: 1 mm of evaporation takes 2.45 MJ/m² (at about 20 °C).
  EXPECT_NEAR(EvaporationEnergyPerMillimetre(20.0) * 3600.0 / 1.0e6, 2.45, 0.005);

  // The coefficient is c_p/ε of dry air.
  EXPECT_NEAR(kPsychrometricCoefficient, 1.005 / kMolarMassRatio, 1e-4);
  // FAO-56 Table 2.2 (γ in kPa/°C by air pressure), which takes c_p = 1.013
  // kJ/(kg·K) of moist air and λ = 2.45 MJ/kg: brought to that c_p, γ at 20 °C
  // meets the table within its rounding.
  const double fao[][2] = {{101.3, 0.067}, {90.0, 0.060}, {79.8, 0.053}, {70.5, 0.047}};
  for (const auto& [p_kpa, gamma_kpa] : fao) {
    const double gamma = PsychrometricConstant(10.0 * p_kpa, 20.0) / 10.0;
    EXPECT_NEAR(gamma * 1.013 / 1.005, gamma_kpa, 0.0006) << p_kpa;
  }
}

TEST(AirPressure, BothFormsMeetTheStandardAtmosphere) {
  // ICAO standard atmosphere, hPa, and the mean temperature of the air column
  // below that height (°C), which the barometric form takes.
  struct Row {
    double z, p_hpa, column_t;
  };
  const Row rows[] = {
      {0.0, 1013.25, 15.0}, {1000.0, 898.76, 11.75}, {2000.0, 795.01, 8.5}, {3000.0, 701.21, 5.25}};
  for (const Row& r : rows) {
    EXPECT_NEAR(AirPressureStandardAtmosphere(r.z), r.p_hpa, 0.0005 * r.p_hpa) << r.z;
    EXPECT_NEAR(AirPressureBarometric(r.z, r.column_t), r.p_hpa, 0.001 * r.p_hpa) << r.z;
  }
}

TEST(VapourDensity, SaturatedAirAtRoomAndFreezingTemperature) {
  // Density of saturated water vapour: 17.30 g/m³ at 20 °C, 4.85 g/m³ at 0 °C.
  EXPECT_NEAR(VapourDensity(100.0 * kWater20.e_hpa, 293.15) * 1000.0, 17.30, 0.03);
  EXPECT_NEAR(VapourDensity(100.0 * kWater0.e_hpa, 273.15) * 1000.0, 4.85, 0.01);
}

}  // namespace
}  // namespace velmo
