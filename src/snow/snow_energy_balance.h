// Energy-balance snow melt as plain functions of numbers: the terms shared by
// the cold and the warm case (vapour pressure, incoming long-wave radiation,
// turbulent transfer, heat of precipitation), the surface-temperature
// iteration of a cold step, the wet-bulb temperature, and one part of a step
// of a cell's snow cover with its pack and surface temperatures, refreezing,
// melt and sublimation. Temperatures of the cover are kelvin, of the air °C;
// water amounts mm; fluxes W/m².
#pragma once

#include "physics/heat.h"
#include "physics/moist_air.h"
#include "physics/units.h"

namespace velmo {

// ---------------------------------------------------------------- constants

// Cloud factor of the incoming long-wave radiation: with precipitation, and
// otherwise by the cloudiness of an overcast, a clear and an in-between sky.
inline constexpr double kCloudFactorPrecipitation = 0.24;
inline constexpr double kCloudFactorOvercast = 0.2;
inline constexpr double kCloudFactorClear = 0.08;
inline constexpr double kCloudFactorBetween = 0.17;
inline constexpr double kOvercastFrom = 0.6;  // cloudiness
inline constexpr double kClearUpTo = 0.2;     // cloudiness
// Brunt's emissivity of clear air, 0.61 + 0.05·sqrt(e), e in hPa.
inline constexpr double kBruntConstant = 0.61;
inline constexpr double kBruntSlope = 0.05;  // 1/sqrt(hPa)
// Turbulent transfer coefficient k = 0.18 + 0.098·u, and the fluxes it
// carries: latent heat per hPa and sensible heat per kelvin.
inline constexpr double kTransferCalm = 0.18;
inline constexpr double kTransferPerWind = 0.098;   // per m/s
inline constexpr double kLatentTransfer = 32.82;    // W/m² per hPa and unit of k
inline constexpr double kSensibleTransfer = 18.85;  // W/m² per K and unit of k
inline constexpr double kGroundHeatFlux = 1.0;      // W/m² into the pack from below
// Vapour pressure over the surface when it is at 0 °C.
inline constexpr double kIceVapourPressureAtMelt = 6.1071;  // hPa
// Vapour pressure below which the square root and the logarithm of the
// frost point would fail or run away.
inline constexpr double kSmallestVapourPressure = 0.01;  // hPa

// Surface-temperature iteration of a cold step.
inline constexpr double kSurfaceStartBelowAir = 3.0;    // K, a cover without a surface temperature yet
inline constexpr double kIterationStartBelowAir = 2.0;  // K
inline constexpr double kWarmAirAboveMelt = 2.0;        // K, air above melt + this starts the surface at melt
inline constexpr double kFirstSurfaceStep = -10.0;      // K
inline constexpr double kBalanceTolerance = 0.25;       // W/m²
inline constexpr int kMostSurfacePasses = 150;
inline constexpr double kLargestSurfaceDeficit = 13.0;  // K, a surface stays at most this below the air
// A prescribed surface temperature below this is in °C, else in K.
inline constexpr double kKelvinFrom = 100.0;

// Heat conducted into the pack: 2·λ·ρ over the squared water equivalent.
inline constexpr double kSnowConductivity = 0.3;  // W/(m·K)
inline constexpr double kSnowDensity = 300.0;     // kg/m³
// The pack after all its liquid refroze stays at most this below the surface.
inline constexpr double kRefrozenPackBelowSurface = 3.0;  // K

// Wet-bulb search: the psychrometer coefficient and its temperature term,
// the largest number of passes and the step at which it stops.
inline constexpr double kPsychrometerCoefficient = 0.00066;      // 1/K
inline constexpr double kPsychrometerTemperatureTerm = 0.00115;  // 1/K
inline constexpr int kMostWetBulbPasses = 15;
inline constexpr double kWetBulbResolution = 0.025;  // K

// ---------------------------------------------------------------- inputs and state

// What a run fixes.
struct snow_balance_constants {
  double t0 = 0.0;       // °C, melt threshold
  double lw_in = 1.0;    // "LWINcorr"
  double lw_out = 1.0;   // "LWOUTcorr"
  double scaling = 1.0;  // "EnBalScaling", of the warm balance only
  double step_minutes = 60.0;
  double nodata = -9999.0;  // the value of a temperature the cover does not have
};

// What a cell has in a step.
struct snow_balance_forcing {
  double t_air = 0.0;       // °C
  double humidity = 0.0;    // relative, fraction
  double wind_speed = 0.0;  // m/s
  double cloudiness = 0.0;  // 0..1
  double radiation = 0.0;   // global radiation, Wh/m² of the step
  double albedo = 0.0;
  double input_water = 0.0;       // mm of the step
  double snowfall = 0.0;          // mm of the step, every solid input counted
  double rain = 0.0;              // mm of the step
  double air_pressure = 1013.25;  // hPa
  double longwave_in = 0.0;       // W/m² of a long-wave grid; none when not above 0 after correction
  bool prescribed_surface = false;
  double surface_temperature = 0.0;  // prescribed: °C below kKelvinFrom, else K
};

// The cover of a cell, changed by a part of a step.
struct snow_balance_cell {
  double solid = 0.0;                // mm
  double liquid = 0.0;               // mm
  double pack_temperature = 0.0;     // K; nodata or 0: none yet
  double surface_temperature = 0.0;  // K; nodata or 0: none yet
  double evaporation = 0.0;          // mm; the part adds what it sublimates (deposition negative)
};

struct snow_balance_result {
  double melt = 0.0;    // mm of the part, not yet taken from the solid storage
  double energy = 0.0;  // W/m², the warm balance (0 in a cold part)
};

// ---------------------------------------------------------------- functions

// Terms of a step that do not depend on the surface temperature.
struct snow_balance_terms {
  double saturation = 0.0;       // hPa, over ice at or below melt, else over water
  double vapour_pressure = 0.0;  // hPa
  double cloud_factor = 0.0;
  double longwave_in = 0.0;         // W/m²
  double transfer = 0.0;            // k
  double precipitation_heat = 0.0;  // W/m²
  double shortwave = 0.0;           // absorbed, W/m²
};
snow_balance_terms SnowBalanceTerms(const snow_balance_constants& k, const snow_balance_forcing& f);

// Residual of the surface balance at surface temperature x (K), with the
// latent flux it holds.
struct snow_surface_balance {
  double temperature = 0.0;  // K
  double residual = 0.0;     // W/m²
  double latent = 0.0;       // W/m²
  int passes = 0;
};
snow_surface_balance SurfaceBalance(const snow_balance_constants& k, const snow_balance_terms& t,
                                    double t_air, double x);

// The surface balance of a cell's step with the terms free of the surface
// temperature summed once: a pass of the iteration then adds only what
// moves with it, and the chain from one pass's saturation pressure to the
// next surface temperature is shorter.
struct surface_residual {
  double fixed = 0.0;     // W/m²: shortwave, incoming long-wave, heat of precipitation, ground
  double emission = 0.0;  // LWOUTcorr
  double sensible = 0.0;  // W/m² per K
  double latent = 0.0;    // W/m² per hPa
  double vapour = 0.0;    // hPa
  double air = 0.0;       // K

  surface_residual() = default;
  surface_residual(const snow_balance_constants& k, const snow_balance_terms& t, double t_air)
      : fixed(t.shortwave + t.longwave_in + t.precipitation_heat + kGroundHeatFlux),
        emission(k.lw_out),
        sensible(kSensibleTransfer * t.transfer),
        latent(kLatentTransfer * t.transfer),
        vapour(t.vapour_pressure),
        air(t_air + kTriplePointOfWater) {}

  snow_surface_balance At(double x) const {
    snow_surface_balance b;
    b.temperature = x;
    b.latent = latent * (vapour - SaturationVapourPressureIceSnowBalance(x - kTriplePointOfWater));
    b.residual = (fixed - emission * BlackBodyFlux(x) + sensible * (air - x)) + b.latent;
    return b;
  }
};

// A surface iteration to run: the cell's balance and the temperature it
// starts from.
struct surface_search {
  surface_residual balance;
  double start = 0.0;  // K
};

// Searches the surface temperature that closes the balance from `start`
// (at most 150 passes, |residual| ≤ 0.25 W/m²); without `iterate` the first
// evaluation stands.
snow_surface_balance IterateSurfaceTemperature(const snow_balance_constants& k, const snow_balance_terms& t,
                                               double t_air, double start, bool iterate);
// The iteration of `n` cells, four at a time in lock-step so that one cell's
// saturation pressure is computed while another's waits; each cell takes the
// same passes as alone.
void IterateSurfaceTemperatures(int n, const surface_search* searches, snow_surface_balance* out);

// Wet-bulb temperature (°C) of air at `t_air` °C with vapour pressure `e`
// and pressure `air_pressure` (hPa), searched from between the frost point
// and the air temperature.
double WetBulbTemperature(double t_air, double e, double air_pressure);

// One part of weight w of a step of a cell whose cover already took the
// snowfall and rain of the part. A cold part (air at or below T0) iterates
// the surface temperature, conducts heat into the pack, sublimates or
// deposits and refreezes liquid water; a warm part warms the pack by the
// balance and melts what the pack's warming holds, or, at a wet-bulb
// temperature at or below 0 °C, sublimates instead. Air colder than
// −273.15 °C (a missing value) changes nothing.
snow_balance_result SnowEnergyBalancePart(const snow_balance_constants& k, const snow_balance_forcing& f,
                                          double weight, snow_balance_cell& cell);

// A part up to its surface iteration. Unless `cold`, the part is done and
// `result` holds it; a cold part ends with FinishColdPart once the search
// (of `iterate`, else its first evaluation) has run.
struct snow_balance_start {
  bool cold = false;
  bool iterate = false;
  bool prescribed = false;
  surface_search search;
  snow_balance_result result;
};
snow_balance_start StartSnowEnergyBalancePart(const snow_balance_constants& k, const snow_balance_forcing& f,
                                              double weight, snow_balance_cell& cell);
snow_balance_result FinishColdPart(const snow_balance_constants& k, const snow_balance_start& start,
                                   const snow_surface_balance& balance, double weight,
                                   snow_balance_cell& cell);
// The rest of a started part: a cold part's search and its end.
snow_balance_result EndSnowEnergyBalancePart(const snow_balance_constants& k, const snow_balance_start& start,
                                             double weight, snow_balance_cell& cell);

}  // namespace velmo
