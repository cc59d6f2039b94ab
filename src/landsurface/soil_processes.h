// Processes of the saturation-deficit soil model and the Green-Ampt
// infiltration: numbers in, numbers out. Water amounts are mm, times minutes,
// dt the module's time interval in minutes. The per-cell functions run for
// every cell of every step and are defined here so that the cell loops can
// inline them.
#pragma once

#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

#include "physics/units.h"

namespace velmo {

// ---------------------------------------------------------------- units and conversions

inline constexpr double kMillimetresPerMetre = 1000.0;
// m/s times minutes to mm: 60 s per minute, 1000 mm per m.
inline constexpr double kConductivityToMillimetres = kSecondsPerMinute * kMillimetresPerMetre;
// Transmissivity (m²/s) times minutes to the baseflow at zero deficit (mm
// per step): 60 s per minute and 10^6.
inline constexpr double kTransmissivityToMillimetres = kSecondsPerMinute * 1.0e6;
// Storage constants below this many hours count as one hour.
inline constexpr double kShortestStorageHours = 0.001;  // h
inline constexpr double kDefaultStorageMinutes = 60.0;  // min
// The macropore threshold grows with the step length to this power.
inline constexpr double kMacroporeThresholdExponent = 0.6;

// A storage constant of the parameter rows (hours) in minutes.
double StorageConstantMinutes(double hours);
// Recession factor exp(-dt/k) of a linear store with constant k (minutes).
double RecessionFactor(double dt, double storage_minutes);
// A rate per hour as a rate per step.
double RatePerStep(double per_hour, double dt);
// The macropore threshold of the parameter rows (mm per hour) per step.
double MacroporeThresholdPerStep(double per_hour, double dt);
// Saturated conductivity (m/s) as mm per step.
double ConductivityPerStep(double metres_per_second, double dt);
// Whole steps of a travel time in seconds (rounded up).
double TravelTimeSteps(double seconds, double dt);
// Baseflow at zero saturation deficit (mm per step) of a subbasin with
// transmissivity scaling `tkorr` and mean topographic index `lambda`.
double BaseflowAtZeroDeficit(double tkorr, double lambda, double dt);

// ---------------------------------------------------------------- linear stores

// Outflow of a linear store over one step: (1 - e) * inflow + e * previous
// outflow, e = exp(-dt/k) being the store's recession factor.
inline double LinearStoreOutflow(double inflow, double previous_outflow, double recession_factor) {
  return (1.0 - recession_factor) * inflow + recession_factor * previous_outflow;
}
// Water held by a linear store whose outflow is `outflow`.
inline double LinearStoreContent(double outflow, double recession_factor) {
  return outflow * recession_factor / (1.0 - recession_factor);
}

// Share exp(-SD/m) of the saturated flows at deficit SD; 1 on a saturated
// cell (SD < 0). Baseflow, drainage and delayed baseflow share it.
inline double DeficitFactor(double deficit, double m) { return deficit < 0.0 ? 1.0 : std::exp(-deficit / m); }

// ---------------------------------------------------------------- the soil cell

// The states of one cell: saturation deficit SD, drainage (unsaturated-zone)
// storage SUZ and interflow storage SIF in mm, relative soil moisture SB and
// its value after the last input SBold, the inactive soil below the roots
// (relative moisture SBia, capacity nFKia in mm) and the saturated share of
// the root zone SSP.
struct soil_cell {
  double SD = 0.0;
  double SUZ = 0.0;
  double SIF = 0.0;
  double SB = 0.0;
  double SBold = 0.0;
  double SBia = 0.0;
  double nFKia = 0.0;
  double SSP = 0.0;
};

// The subbasin values a cell step needs (converted as held by the model).
struct soil_cell_parameters {
  double m = 0.0;       // mm
  double Kkorr = 0.0;   // scaling of the drainage
  double SHmax = 0.0;   // mm
  double fI = 0.0;      // interflow recession factor exp(-dt/k)
  double alpha = 0.0;   // delayed-baseflow recharge at saturation, mm per step
  double Pgrenz = 0.0;  // macropore threshold, mm per step
  double Rrueck = 0.0;  // reinfiltrating share
  double QDsnow = 0.0;  // surface-runoff share of snowmelt
};

// Below this SHmax (mm) the interflow storage does not reinfiltrate.
inline constexpr double kReinfiltrationShmax = 0.001;  // mm
// A deficit at or below this (mm) within reach of the roots fills the root zone.
inline constexpr double kFullCapillaryDeficit = 0.1;  // mm
// Solid snow above this (mm) sends a share of the input water off as surface runoff.
inline constexpr double kSnowmeltRunoffStorage = 10.0;  // mm

// Reach of the roots into the deficit: X = DP * 1000 * rdmax * Rrueck (mm),
// DP the drainable porosity, rdmax the deepest root depth (m).
inline double RootReach(double drainable_porosity, double root_depth, double rrueck) {
  return drainable_porosity * kMillimetresPerMetre * root_depth * rrueck;
}

// Reinfiltration from the interflow storage into the root zone of capacity
// nFK (> 0).
inline void Reinfiltrate(soil_cell& c, double nFK, double SHmax, double rrueck) {
  if (!(SHmax > kReinfiltrationShmax) || !(nFK > 0.0)) return;
  const double room = (1.0 - c.SB) * nFK;
  double amount = 0.0;
  if (c.SIF <= room) {
    amount = c.SIF;
  } else if (c.SIF > 0.0) {
    amount = room;
  }
  const double flux = amount * (c.SIF / SHmax) * rrueck;
  c.SIF -= flux;
  c.SB += flux / nFK;
}

// What the capillary rise needed when it failed (its saturated share cannot
// grow from `old` = 1).
struct capillary_failure {
  bool failed = false;
  double SSPneu = 0.0;
  double base = 0.0;  // capillary flow of the old saturated share
};

// Contact of the root zone (capacity nFK) with the groundwater at root reach
// X. Beyond reach, the inactive soil below the roots (which only shrinking
// roots leave behind) shrinks to the part beyond the water table's reach;
// within reach, capillary rise fills the root zone by the saturated share and
// the inactive soil joins the saturated zone. Inactive soil that joins the
// saturated zone brings its water, SBia times its capacity, so the deficit
// falls by it: the water of the cell, SB nFK + SBia nFKia + SUZ + SIF - SD,
// stays as it is. A root zone without capacity takes no capillary water.
inline capillary_failure GroundwaterContact(soil_cell& c, double nFK, double X) {
  capillary_failure failure;
  if (X <= c.SD) {
    const double r = X > 0.0 ? 1.0 - c.SD / X : 1.0;
    const double q = nFK > 0.0 ? 1.0 - c.nFKia / nFK : 1.0;
    if (r > q) {
      const double nfk_new = -(r * nFK);
      c.SD -= c.SBia * (c.nFKia - nfk_new);
      c.nFKia = nfk_new;
    }
    c.SSP = r;
    return failure;
  }
  double flux = 0.0;
  if (c.SD <= kFullCapillaryDeficit) {
    flux = (1.0 - c.SB) * nFK;
    c.SSP = 1.0;
  } else {
    const double ssp_new = 1.0 - c.SD / X;
    const double old = c.SSP;
    if (old >= ssp_new) {
      flux = (c.SBold - c.SB) * nFK * ssp_new;
    } else {
      const double base = (c.SBold - c.SB) * nFK * old;
      if (!(1.0 - old > 0.0)) {
        failure = {true, ssp_new, base};
        return failure;
      }
      flux = ((1.0 - c.SB) * nFK - base) * (ssp_new - old) / (1.0 - old) + base;
    }
    c.SSP = ssp_new;
  }
  if (nFK > 0.0) {
    c.SD += flux;
    c.SB += flux / nFK;
  }
  c.SD -= c.SBia * c.nFKia;
  c.nFKia = 0.0;
  c.SBia = 1.0;
  return failure;
}

// Input water W (mm) into the root zone: up to the macropore threshold into
// the soil store, the rest through macropores into the drainage storage. A
// root zone without capacity passes all of it to the drainage storage.
inline void SoilInput(soil_cell& c, double W, double nFK, double Pgrenz) {
  if (!(nFK > 0.0)) {
    c.SUZ += W;
  } else if (W > Pgrenz) {
    c.SB += Pgrenz / nFK;
    c.SUZ += W - Pgrenz;
  } else {
    c.SB += W / nFK;
  }
}

// A root zone above capacity overflows into the inactive soil (when it has
// one of at least 1 mm) and from there, or directly, into the drainage
// storage. A filled inactive soil stays, holding its water, until the
// groundwater reaches it.
inline void SoilOverflow(soil_cell& c, double nFK) {
  if (!(c.SB > 1.0) || !(nFK > 0.0)) return;
  if (c.nFKia < 1.0) {
    c.SUZ += (c.SB - 1.0) * nFK;
    c.SB = 1.0;
    return;
  }
  c.SBia += (c.SB - 1.0) * nFK / c.nFKia;
  c.SB = 1.0;
  if (c.SBia > 1.0) {
    c.SUZ += (c.SBia - 1.0) * c.nFKia;
    c.SBia = 1.0;
  }
}

struct interflow_flows {
  double excess = 0.0;     // overflow of the interflow storage, mm (becomes direct runoff)
  double interflow = 0.0;  // mm
};

// Drainage water that does not fit below the interflow zone (the deficit less
// SHmax) moves to the interflow storage; what exceeds SHmax there runs off
// directly, and the storage releases interflow by its recession factor fI.
inline interflow_flows Interflow(soil_cell& c, double SHmax, double fI) {
  interflow_flows out;
  const double room = c.SD - SHmax;
  if (room < c.SUZ) {
    if (c.SD >= SHmax) {
      c.SIF += c.SUZ - room;
      c.SUZ = room;
    } else {
      c.SIF += c.SUZ;
      c.SUZ = 0.0;
    }
  }
  if (c.SIF > SHmax) {
    out.excess = c.SIF - SHmax;
    c.SIF = SHmax;
  }
  out.interflow = (1.0 - fI) * c.SIF;
  c.SIF -= out.interflow;
  return out;
}

// Drainage from the drainage storage to the groundwater: the conductivity K
// (mm per step) scaled by Kkorr and the deficit factor, at most the storage.
inline double Drainage(soil_cell& c, double K, double Kkorr, double deficit_factor) {
  const double qb = std::min(deficit_factor * K * Kkorr, c.SUZ);
  c.SUZ -= qb;
  return qb;
}

// Input water (mm over the cell) of the soil of a cell whose glacier share is
// 0 < g < 1: the glacier share's water drains through the glaciers, the
// soil takes the glacier-free share's. Where the input is the canopy's total
// throughfall, the glacier share's part of it is the canopy's input water
// `passed` on unchanged (g of it); any other input is the water of the
// glacier-free share as a depth over that share.
inline double GlacierFreeInput(double input, double share, const double* passed) {
  return passed ? input - share * *passed : input * (1.0 - share);
}

// Share of the input water that solid snow (mm) sends off as surface runoff.
inline double SnowmeltRunoff(double W, double solid_snow, double qdsnow) {
  return solid_snow > kSnowmeltRunoffStorage && W > 0.0 ? qdsnow * W : 0.0;
}

// ---------------------------------------------------------------- infiltration

// Water (1/1) that the soil can still take up: the drainable pore space
// above the water table not yet held by the drainage storage, plus the root
// zone's free capacity over the root depth (m). A root zone without capacity
// adds nothing.
inline double FillablePorosity(double SD, double SUZ, double drainable_porosity, double SB, double nFK,
                               double root_depth) {
  double fp = SD <= 0.0 ? 0.0 : (1.0 - SUZ / SD) * drainable_porosity;
  if (root_depth > 0.0 && nFK > 0.0) fp += (1.0 - SB) * nFK / kMillimetresPerMetre / root_depth;
  return fp;
}

struct green_ampt_result {
  double excess = 0.0;  // infiltration excess left as surface runoff, mm
  double water = 0.0;   // input water that reaches the soil, mm
  double marker = 0.0;  // 1 once the saturation front has reached the surface
};

// One step of Green-Ampt infiltration of input water W (mm per step) at
// conductivity K (mm per step) into a soil of fillable porosity fp and
// suction (mm). `saturated` marks a surface that was saturated the step
// before (ponding from the start of the step). Water that cannot infiltrate
// is excess; the share P of it still enters the soil through macropores.
// Without ponding in the step nothing changes.
inline green_ampt_result GreenAmptStep(double W, double K, double fp, double suction, bool saturated,
                                       double P) {
  green_ampt_result out{0.0, W, 0.0};
  if (W <= K || K <= 0.0 || fp <= 0.0) return out;
  const double S = fp * suction;  // suction head at the wetting front, mm
  double ts = 0.0;                // part of the step until the surface ponds
  if (!saturated) {
    ts = (S / W) / (W / K - 1.0);
    if (ts > 1.0) return out;
  }
  const double Fs = W * ts;          // infiltrated until ponding
  const double tr = (1.0 - ts) * K;  // rest of the step, in conductivity units
  const double F = std::min(std::sqrt(tr * tr * 0.25 + (2.0 * S + Fs) * tr + Fs * Fs) + tr * 0.5,
                            W);  // infiltrated in all
  out.excess = (W - F) * (1.0 - P);
  out.water = (W - F) * P + F;
  out.marker = 1.0;
  return out;
}

// ---------------------------------------------------------------- slope stability

inline constexpr double kGravity = 9.81;        // m/s²
inline constexpr double kWaterDensity = 999.7;  // kg/m³
// Index of a cell the infinite-slope model cannot judge (flat, no soil).
inline constexpr double kNoStabilityIndex = -1.0;

// Infinite-slope factor of safety: slope in degrees, internal friction angle
// in radians, soil depth (m), wet density (kg/m³), soil and root cohesion
// (Pa), deficit SD (mm) and drainable porosity DP. The saturated thickness
// follows the deficit; a waterlogged cell (SD < 0) is saturated through.
double SlopeStabilityIndex(double slope_degrees, double friction_angle, double soil_depth, double wet_density,
                           double soil_cohesion, double root_cohesion, double deficit,
                           double drainable_porosity);

// ---------------------------------------------------------------- parameter columns

// The code row of the parameter rows: the listed subbasin codes, rising, up
// to the largest. Each listed code opens a value column; the first column
// serves every subbasin up to the first listed code, and an unlisted code
// takes the column of the nearest listed code below it.
class code_row {
 public:
  enum class result { more, complete, no_subbasin, not_rising };

  // `code_map` maps codes 0..largest to subbasin indices 1..n (0: none).
  code_row(const int* code_map, int subbasin_count, int largest_code);
  // Takes the next listed code.
  result Add(int code);
  // Per subbasin index 1..n: true where a value is read (a column starts),
  // false where the value of the index before is taken.
  const std::vector<bool>& Reads() const { return reads_; }
  int Columns() const { return columns_; }

 private:
  const int* code_map_;
  int largest_;
  int previous_index_ = 0;
  int columns_ = 0;
  std::vector<bool> reads_;
};

}  // namespace velmo
